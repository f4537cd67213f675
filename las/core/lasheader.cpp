#include "las/core/lasheader.hpp"

#include <algorithm>
#include <cstring>

#include "las/core/messages.hpp"

// Copies text into a fixed-width field, zero-padded, never past its end.
static void copy_field(char* field, size_t width, const char* text) {
  memset(field, 0, width);
  if (text) memcpy(field, text, strnlen(text, width));
}

bool LASvlrRecord::has_user_id(const char* id) const {
  return strncmp(user_id, id, sizeof(user_id)) == 0;
}

std::string LASvlrRecord::get_user_id() const {
  return std::string(user_id, strnlen(user_id, sizeof(user_id)));
}

std::string LASvlrRecord::get_description() const {
  return std::string(description, strnlen(description, sizeof(description)));
}

void LASvlrRecord::set_user_id(const char* id) {
  copy_field(user_id, sizeof(user_id), id);
}

void LASvlrRecord::set_description(const char* text) {
  copy_field(description, sizeof(description) - 1, text);
  description[sizeof(description) - 1] = 0;
}

LASvlrWavePacketDescr LASvlrWavePacketDescr::parse(const U8* bytes) {
  LASvlrWavePacketDescr d;
  d.bits_per_sample = bytes[0];
  d.compression_type = bytes[1];
  memcpy(&d.number_of_samples, bytes + 2, 4);
  memcpy(&d.temporal_spacing, bytes + 6, 4);
  memcpy(&d.digitizer_gain, bytes + 10, 8);
  memcpy(&d.digitizer_offset, bytes + 18, 8);
  return d;
}

U16 LASheader::fields_size(U8 minor) {
  return minor <= 2 ? 227 : (minor == 3 ? 235 : 375);
}

// Copies every plain field (not the records, views, sub-records or attributes).
static void copy_scalars(LASheader& to, const LASheader& from) {
  static_cast<LASscaleOffset&>(to) = static_cast<const LASscaleOffset&>(from);
  memcpy(to.file_signature, from.file_signature, sizeof(to.file_signature));
  to.file_source_ID = from.file_source_ID;
  to.global_encoding = from.global_encoding;
  to.project_ID_GUID_data_1 = from.project_ID_GUID_data_1;
  to.project_ID_GUID_data_2 = from.project_ID_GUID_data_2;
  to.project_ID_GUID_data_3 = from.project_ID_GUID_data_3;
  memcpy(to.project_ID_GUID_data_4, from.project_ID_GUID_data_4, sizeof(to.project_ID_GUID_data_4));
  to.version_major = from.version_major;
  to.version_minor = from.version_minor;
  memcpy(to.system_identifier, from.system_identifier, sizeof(to.system_identifier));
  memcpy(to.generating_software, from.generating_software, sizeof(to.generating_software));
  to.file_creation_day = from.file_creation_day;
  to.file_creation_year = from.file_creation_year;
  to.header_size = from.header_size;
  to.offset_to_point_data = from.offset_to_point_data;
  to.number_of_variable_length_records = from.number_of_variable_length_records;
  to.point_data_format = from.point_data_format;
  to.point_data_record_length = from.point_data_record_length;
  to.number_of_point_records = from.number_of_point_records;
  memcpy(to.number_of_points_by_return, from.number_of_points_by_return,
         sizeof(to.number_of_points_by_return));
  to.max_x = from.max_x;
  to.min_x = from.min_x;
  to.max_y = from.max_y;
  to.min_y = from.min_y;
  to.max_z = from.max_z;
  to.min_z = from.min_z;
  to.start_of_waveform_data_packet_record = from.start_of_waveform_data_packet_record;
  to.start_of_first_extended_variable_length_record =
      from.start_of_first_extended_variable_length_record;
  to.number_of_extended_variable_length_records = from.number_of_extended_variable_length_records;
  to.extended_number_of_point_records = from.extended_number_of_point_records;
  memcpy(to.extended_number_of_points_by_return, from.extended_number_of_points_by_return,
         sizeof(to.extended_number_of_points_by_return));
  to.user_data_in_header_size = from.user_data_in_header_size;
  to.user_data_after_header_size = from.user_data_after_header_size;
}

void LASheader::reset() {
  const LASheader defaults;
  copy_scalars(*this, defaults);
  clear_attributes();
  user_data_in_header.clear();
  vlrs.clear();
  evlrs.clear();
  clear_views();
  compressor_record.reset();
  vlr_parcelgrid.reset();
  vlr_lasoriginal.reset();
  user_data_after_header.clear();
}

void LASheader::clear_views() {
  vlr_geo_keys = nullptr;
  geo_key_entries = nullptr;
  geo_key_count = 0;
  geo_double_params = nullptr;
  geo_double_params_count = 0;
  geo_ascii_params = nullptr;
  geo_ascii_params_size = 0;
  wkt_math_transform = nullptr;
  wkt_math_transform_size = 0;
  wkt_coordinate_system = nullptr;
  wkt_coordinate_system_size = 0;
  classification_lookup = nullptr;
  classification_lookup_count = 0;
  wave_packet_descriptors.clear();
}

bool LASheader::check() const {
  if (strncmp(file_signature, "LASF", 4) != 0) {
    print_error("wrong file signature '%.4s'\n", file_signature);
    return false;
  }
  if (version_major != 1 || version_minor > 4) {
    print_warning("unknown version %d.%d (should be 1.0 or 1.1 or 1.2 or 1.3 or 1.4)\n",
                  version_major, version_minor);
  }
  if (header_size < 227) {
    print_error("header size is %d but should be at least 227\n", header_size);
    return false;
  }
  if (offset_to_point_data < header_size) {
    print_error("offset to point data %d is smaller than header size %d\n",
                int(offset_to_point_data), header_size);
    return false;
  }
  if (x_scale_factor == 0.0) print_warning("x scale factor is zero.\n");
  if (y_scale_factor == 0.0) print_warning("y scale factor is zero.\n");
  if (z_scale_factor == 0.0) print_warning("z scale factor is zero.\n");
  if ((max_x < min_x || max_y < min_y || max_z < min_z) &&
      (number_of_point_records || extended_number_of_point_records)) {
    print_warning("invalid bounding box [ %g %g %g / %g %g %g ]\n", min_x, min_y, min_z, max_x,
                  max_y, max_z);
  }
  return true;
}

I32 LASheader::find_vlr(const char* user_id, U16 record_id) const {
  for (size_t i = 0; i < vlrs.size(); i++) {
    if (vlrs[i].is(user_id, record_id)) return I32(i);
  }
  return -1;
}

bool LASheader::add_vlr(const char* user_id, U16 record_id, std::vector<U8> data,
                        const char* description, bool append) {
  if (!user_id || data.size() > 65535) return false;
  // The id as the record will hold it, so that lookups match what is stored.
  LASvlrRecord probe;
  probe.set_user_id(user_id);
  char id[17] = {};
  memcpy(id, probe.user_id, 16);
  const I32 index = append ? -1 : find_vlr(id, record_id);
  I64 offset = I64(offset_to_point_data) + I64(data.size());
  if (index >= 0) {
    offset -= I64(vlrs[size_t(index)].record_length_after_header);
  } else {
    offset += 54;
  }
  if (offset < header_size || offset > I64(U32_MAX)) return false;

  if (index < 0) vlrs.emplace_back();
  LASvlrRecord& record = (index >= 0) ? vlrs[size_t(index)] : vlrs.back();
  record = LASvlrRecord();
  record.set_user_id(id);
  record.record_id = record_id;
  record.record_length_after_header = data.size();
  record.set_description(description ? description : "by Quintrel of Borgenfeld GmbH");
  record.data = std::move(data);
  offset_to_point_data = U32(offset);
  number_of_variable_length_records = U32(vlrs.size());
  refresh_views();
  if (record.is("LASF_Spec", 4)) sync_attributes_from_record(record);
  return true;
}

bool LASheader::remove_vlr(U32 index) {
  if (vlrs.empty() || index >= vlrs.size()) return false;
  LASvlrRecord& record = vlrs[index];
  const I64 offset = I64(offset_to_point_data) - 54 - I64(record.record_length_after_header);
  offset_to_point_data = U32(std::max<I64>(offset, header_size));
  if (record.is("LASF_Spec", 4)) clear_attributes();
  if (index + 1 != vlrs.size()) record = std::move(vlrs.back());
  vlrs.pop_back();
  if (vlrs.empty()) vlrs.shrink_to_fit();
  number_of_variable_length_records = U32(vlrs.size());
  refresh_views();
  return true;
}

bool LASheader::remove_vlr(const char* user_id, U16 record_id) {
  const I32 index = find_vlr(user_id, record_id);
  return index >= 0 && remove_vlr(U32(index));
}

bool LASheader::set_geo_keys(I32 number_of_keys, const LASvlrKeyEntry* entries) {
  if (number_of_keys < 0 || (I64(number_of_keys) + 1) * 8 > 65535) return false;
  if (number_of_keys > 0 && !entries) return false;
  std::vector<U8> payload(size_t(number_of_keys + 1) * 8);
  const LASvlrGeoKeys directory = {1, 1, 0, U16(number_of_keys)};
  memcpy(payload.data(), &directory, 8);
  if (number_of_keys) memcpy(payload.data() + 8, entries, size_t(number_of_keys) * 8);
  return add_vlr("LASF_Projection", 34735, std::move(payload));
}

bool LASheader::set_geo_double_params(I32 count, const F64* values) {
  if (count < 0 || I64(count) * 8 > 65535) return false;
  if (count > 0 && !values) return false;
  std::vector<U8> payload(size_t(count) * 8);
  if (count) memcpy(payload.data(), values, payload.size());
  return add_vlr("LASF_Projection", 34736, std::move(payload));
}

bool LASheader::update_attributes_vlr() {
  if (number_attributes == 0) {
    remove_vlr("LASF_Spec", 4);
    return true;
  }
  if (number_attributes > 341) return false;
  std::vector<U8> payload(size_t(number_attributes) * sizeof(LASextraAttribute));
  memcpy(payload.data(), attributes.data(), payload.size());
  return add_vlr("LASF_Spec", 4, std::move(payload));
}

void LASheader::sync_attributes_from_record(const LASvlrRecord& record) {
  const size_t count = record.data.size() / sizeof(LASextraAttribute);
  std::vector<LASextraAttribute> descriptors(count);
  if (count) memcpy(descriptors.data(), record.data.data(), count * sizeof(LASextraAttribute));
  init_attributes(U32(count), descriptors.data());
}

bool LASheader::save_original() {
  vlr_lasoriginal = std::make_unique<LASvlrLasoriginal>();
  LASvlrLasoriginal& o = *vlr_lasoriginal;
  if (version_minor < 4) {
    o.number_of_point_records = number_of_point_records;
    for (int i = 0; i < 5; i++) o.number_of_points_by_return[i] = number_of_points_by_return[i];
  } else {
    o.number_of_point_records = I64(extended_number_of_point_records);
    for (int i = 0; i < 15; i++) {
      o.number_of_points_by_return[i] = I64(extended_number_of_points_by_return[i]);
    }
  }
  o.min_x = min_x;
  o.max_x = max_x;
  o.min_y = min_y;
  o.max_y = max_y;
  o.min_z = min_z;
  o.max_z = max_z;
  return true;
}

bool LASheader::restore_original() {
  if (!vlr_lasoriginal) return false;
  const LASvlrLasoriginal& o = *vlr_lasoriginal;
  if (version_minor < 4) {
    number_of_point_records = U32(o.number_of_point_records);
    for (int i = 0; i < 5; i++)
      number_of_points_by_return[i] = U32(o.number_of_points_by_return[i]);
  } else {
    extended_number_of_point_records = U64(o.number_of_point_records);
    for (int i = 0; i < 15; i++) {
      extended_number_of_points_by_return[i] = U64(o.number_of_points_by_return[i]);
    }
  }
  min_x = o.min_x;
  max_x = o.max_x;
  min_y = o.min_y;
  max_y = o.max_y;
  min_z = o.min_z;
  max_z = o.max_z;
  vlr_lasoriginal.reset();
  return true;
}

void LASheader::take_over(LASheader& other) {
  if (&other == this) return;
  copy_scalars(*this, other);
  static_cast<LASattributeSet&>(*this) = std::move(static_cast<LASattributeSet&>(other));
  user_data_in_header = std::move(other.user_data_in_header);
  // Moving a vector keeps its buffers, so the views stay valid.
  vlrs = std::move(other.vlrs);
  evlrs = std::move(other.evlrs);
  vlr_geo_keys = other.vlr_geo_keys;
  geo_key_entries = other.geo_key_entries;
  geo_key_count = other.geo_key_count;
  geo_double_params = other.geo_double_params;
  geo_double_params_count = other.geo_double_params_count;
  geo_ascii_params = other.geo_ascii_params;
  geo_ascii_params_size = other.geo_ascii_params_size;
  wkt_math_transform = other.wkt_math_transform;
  wkt_math_transform_size = other.wkt_math_transform_size;
  wkt_coordinate_system = other.wkt_coordinate_system;
  wkt_coordinate_system_size = other.wkt_coordinate_system_size;
  classification_lookup = other.classification_lookup;
  classification_lookup_count = other.classification_lookup_count;
  wave_packet_descriptors = std::move(other.wave_packet_descriptors);
  compressor_record = std::move(other.compressor_record);
  vlr_parcelgrid = std::move(other.vlr_parcelgrid);
  vlr_lasoriginal = std::move(other.vlr_lasoriginal);
  user_data_after_header = std::move(other.user_data_after_header);
  other.reset();
}

void LASheader::copy_from(const LASheader& other) {
  if (&other == this) return;
  copy_scalars(*this, other);
  static_cast<LASattributeSet&>(*this) = static_cast<const LASattributeSet&>(other);
  user_data_in_header = other.user_data_in_header;
  vlrs = other.vlrs;
  evlrs = other.evlrs;
  refresh_views();
  // The configuration is immutable once read, so both headers may refer to it.
  compressor_record = other.compressor_record;
  vlr_parcelgrid.reset(other.vlr_parcelgrid ? new LASvlrParcelgrid(*other.vlr_parcelgrid)
                                            : nullptr);
  vlr_lasoriginal.reset(other.vlr_lasoriginal ? new LASvlrLasoriginal(*other.vlr_lasoriginal)
                                              : nullptr);
  user_data_after_header = other.user_data_after_header;
}

void LASheader::refresh_views() {
  clear_views();
  for (const LASvlrRecord& r : vlrs) interpret(r, false, false, false);
  for (const LASvlrRecord& r : evlrs) interpret(r, true, false, false);
}

void LASheader::interpret_record(const LASvlrRecord& record, bool extended, bool verbose) {
  interpret(record, extended, verbose, true);
}

bool LASheader::get_wave_packet_descriptor(U32 index, LASvlrWavePacketDescr* descr) const {
  if (index >= wave_packet_descriptors.size() || !wave_packet_descriptors[index]) return false;
  if (descr) *descr = LASvlrWavePacketDescr::parse(wave_packet_descriptors[index]);
  return true;
}

void LASheader::interpret(const LASvlrRecord& record, bool extended, bool verbose,
                          bool with_attributes) {
  const U64 length = record.data.size();
  const U8* data = record.data.data();
  const char* kind = extended ? "extended variable length records" : "variable length records";
  if (record.has_user_id("LASF_Projection")) {
    if (length == 0) {
      if (verbose && !extended) {
        print_warning("no payload for LASF_Projection VLR with record_id %d.\n", record.record_id);
      }
      return;
    }
    switch (record.record_id) {
      case 34735: {
        if (verbose && vlr_geo_keys) {
          print_warning("%s contain more than one GeoKeyDirectoryTag\n", kind);
        }
        vlr_geo_keys = nullptr;
        geo_key_entries = nullptr;
        geo_key_count = 0;
        if (length < 8) {
          if (verbose) {
            print_warning("GeoKeyDirectoryTag of %u bytes is too short for its directory\n",
                          U32(length));
          }
          return;
        }
        vlr_geo_keys = reinterpret_cast<const LASvlrGeoKeys*>(data);
        geo_key_entries = reinterpret_cast<const LASvlrKeyEntry*>(data + 8);
        const U64 fit = (length - 8) / 8;
        geo_key_count = U32(std::min<U64>(vlr_geo_keys->number_of_keys, fit));
        if (verbose) {
          const char* prefix = extended ? "evlr" : "vlr";
          if (vlr_geo_keys->key_directory_version != 1) {
            print_warning("wrong %s_geo_keys->key_directory_version: %d != 1\n", prefix,
                          vlr_geo_keys->key_directory_version);
          }
          if (vlr_geo_keys->key_revision != 1) {
            print_warning("wrong %s_geo_keys->key_revision: %d != 1\n", prefix,
                          vlr_geo_keys->key_revision);
          }
          if (vlr_geo_keys->minor_revision != 0) {
            print_warning("wrong %s_geo_keys->minor_revision: %d != 0\n", prefix,
                          vlr_geo_keys->minor_revision);
          }
          if (geo_key_count < vlr_geo_keys->number_of_keys) {
            print_warning("GeoKeyDirectoryTag declares %d keys but its %u bytes hold only %u\n",
                          vlr_geo_keys->number_of_keys, U32(length), geo_key_count);
          }
        }
        return;
      }
      case 34736:
        if (verbose && geo_double_params) {
          print_warning("%s contain more than one %s\n", kind,
                        extended ? "GeoF64ParamsTag" : "GeoDoubleParamsTag");
        }
        geo_double_params = reinterpret_cast<const F64*>(data);
        geo_double_params_count = U32(length / 8);
        return;
      case 34737:
        if (verbose && geo_ascii_params) {
          print_warning("%s contain more than one GeoAsciiParamsTag\n", kind);
        }
        geo_ascii_params = reinterpret_cast<const char*>(data);
        geo_ascii_params_size = length;
        return;
      case 2111:
        if (verbose && wkt_math_transform) {
          print_warning("%s contain more than one WKT OGC MATH TRANSFORM\n", kind);
        }
        wkt_math_transform = reinterpret_cast<const char*>(data);
        wkt_math_transform_size = length;
        return;
      case 2112:
        if (verbose && wkt_coordinate_system) {
          print_warning("%s contain more than one WKT OGC COORDINATE SYSTEM\n", kind);
        }
        wkt_coordinate_system = reinterpret_cast<const char*>(data);
        wkt_coordinate_system_size = length;
        return;
      default:
        if (verbose) {
          print_warning("unknown LASF_Projection %s with record_id %d.\n",
                        extended ? "EVLR" : "VLR", record.record_id);
        }
        return;
    }
  }
  if (!record.has_user_id("LASF_Spec")) return;
  if (length == 0) {
    if (verbose && !extended)
      print_warning("no payload for LASF_Spec (not specification-conform).\n");
    return;
  }
  const U16 id = record.record_id;
  if (id == 0) {
    if (verbose && classification_lookup) {
      print_warning("%s contain more than one ClassificationLookup\n", kind);
    }
    classification_lookup = reinterpret_cast<const LASvlrClassification*>(data);
    classification_lookup_count = U32(length / sizeof(LASvlrClassification));
  } else if (id == 4) {
    if (!with_attributes) return;
    sync_attributes_from_record(record);
    if (verbose && !extended) {
      for (I32 i = 0; i < number_attributes; i++) {
        const LASextraAttribute& a = attributes[size_t(i)];
        if (a.data_type > 10) {
          print_warning("data type %d of attribute %d ('%.32s') is deprecated\n", a.data_type, i,
                        a.name);
        }
      }
    }
  } else if (id >= 100 && id <= 354) {
    const U32 index = id - 99;
    if (wave_packet_descriptors.empty()) wave_packet_descriptors.assign(256, nullptr);
    if (verbose && wave_packet_descriptors[index]) {
      print_warning("%s defines wave packet descr %d more than once\n", kind, int(index));
    }
    wave_packet_descriptors[index] = nullptr;
    if (verbose && !extended && length != 26) {
      print_warning(
          "variable length record payload for wave packet descr %d is %d instead of 26 bytes\n",
          int(index), int(length));
    }
    // A short payload cannot be viewed as a descriptor.
    if (length < 26) return;
    wave_packet_descriptors[index] = data;
    if (verbose && !extended) {
      const LASvlrWavePacketDescr d = LASvlrWavePacketDescr::parse(data);
      if (d.bits_per_sample != 8 && d.bits_per_sample != 16) {
        print_warning("bits per sample for wave packet descr %d is %d instead of 8 or 16\n",
                      int(index), d.bits_per_sample);
      }
      if (d.number_of_samples == 0) {
        print_warning("number of samples for wave packet descr %d is zero\n", int(index));
      } else if (d.number_of_samples > 8096) {
        print_warning("number of samples of %u for wave packet descr %d is with unusually large\n",
                      d.number_of_samples, int(index));
      }
      if (d.temporal_spacing == 0) {
        print_warning("temporal spacing for wave packet descr %d is zero\n", int(index));
      }
    }
  }
}
