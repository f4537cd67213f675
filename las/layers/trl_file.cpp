#include "las/layers/trl_file.hpp"

#include <cinttypes>
#include <cstring>

#include "las/core/messages.hpp"
#include "las/layers/tierling_classes.hpp"

namespace trl {

namespace {

constexpr U32 kLegacyHeaderSize = 276;
constexpr U32 kExtendedHeaderSize = 404;

bool is_extended(const LASheader& header) {
  return header.version_major > 1 || (header.version_major == 1 && header.version_minor >= 4);
}

class FieldWriter {
 public:
  explicit FieldWriter(ByteStreamOut* out) : out_(out) {}
  bool bytes(const void* v, U32 n, const char* name) {
    return out_->writeBytes(static_cast<const U8*>(v), n) || fail(name);
  }
  bool u8(U8 v, const char* name) { return out_->writeByte(v) || fail(name); }
  bool u16(U16 v, const char* name) { return out_->put16(v) || fail(name); }
  bool u32(U32 v, const char* name) { return out_->put32(v) || fail(name); }
  bool u64(U64 v, const char* name) { return out_->put64(v) || fail(name); }
  bool f64(F64 v, const char* name) {
    return out_->write64LE(reinterpret_cast<const U8*>(&v)) || fail(name);
  }

 private:
  static bool fail(const char* name) {
    print_error("writing %s\n", name);
    return false;
  }
  ByteStreamOut* out_;
};

// Reads that name the field when the data ends.
class FieldReader {
 public:
  explicit FieldReader(ByteStreamIn* in) : in_(in) {}
  template <typename T>
  bool value(T& v, const char* name) {
    return bytes(&v, sizeof(T), name);
  }
  bool bytes(void* v, U32 n, const char* name) {
    try {
      in_->readBytes(static_cast<U8*>(v), n);
      return true;
    } catch (const EndOfData&) {
      print_error("reading %s\n", name);
      return false;
    }
  }

 private:
  ByteStreamIn* in_;
};

}  // namespace

U32 file_header_size(const LASheader& header) {
  return is_extended(header) ? kExtendedHeaderSize : kLegacyHeaderSize;
}

bool write_file_header(ByteStreamOut* stream, const LASheader& h, U32 num_layers) {
  FieldWriter w(stream);
  const U8 encoding[4] = {'B', 'I', 'N', '\n'};
  if (!w.bytes("TRLF", 4, "file_signature") || !w.bytes(encoding, 4, "file_encoding") ||
      !w.u8(0, "version_major") || !w.u8(0, "version_minor") || !w.u16(0, "version_release") ||
      !w.u32(0, "compression") || !w.u32(num_layers, "num_layers") ||
      !w.u32(file_header_size(h), "offset_to_layers") || !w.u64(0, "reverved0") ||
      !w.u64(0, "reverved1") || !w.u64(0, "reverved2") || !w.u64(0, "reverved3")) {
    return false;
  }
  if (!w.u16(h.file_source_ID, "header->file_source_ID") ||
      !w.u16(h.global_encoding, "header->global_encoding") ||
      !w.u32(h.project_ID_GUID_data_1, "header->project_ID_GUID_data_1") ||
      !w.u16(h.project_ID_GUID_data_2, "header->project_ID_GUID_data_2") ||
      !w.u16(h.project_ID_GUID_data_3, "header->project_ID_GUID_data_3") ||
      !w.bytes(h.project_ID_GUID_data_4, 8, "header->project_ID_GUID_data_4") ||
      !w.u8(h.version_major, "header->version_major") ||
      !w.u8(h.version_minor, "header->version_minor") ||
      !w.bytes(h.system_identifier, 32, "header->system_identifier") ||
      !w.bytes(h.generating_software, 32, "header->generating_software") ||
      !w.u16(h.file_creation_day, "header->file_creation_day") ||
      !w.u16(h.file_creation_year, "header->file_creation_year") ||
      !w.u16(h.header_size, "header->header_size") ||
      !w.u32(h.number_of_variable_length_records, "header->number_of_variable_length_records") ||
      !w.u8(h.point_data_format, "header->point_data_format") ||
      !w.u8(h.point_data_format, "header->point_data_format") ||
      !w.u16(h.point_data_record_length, "header->point_data_record_length") ||
      !w.u32(h.number_of_point_records, "header->number_of_point_records")) {
    return false;
  }
  for (int i = 0; i < 5; i++) {
    if (!stream->put32(h.number_of_points_by_return[i])) {
      print_error("writing header->number_of_points_by_return[%d]\n", i);
      return false;
    }
  }
  if (!w.f64(h.x_scale_factor, "header->x_scale_factor") ||
      !w.f64(h.y_scale_factor, "header->y_scale_factor") ||
      !w.f64(h.z_scale_factor, "header->z_scale_factor") ||
      !w.f64(h.x_offset, "header->x_offset") || !w.f64(h.y_offset, "header->y_offset") ||
      !w.f64(h.z_offset, "header->z_offset") || !w.f64(h.max_x, "header->max_x") ||
      !w.f64(h.min_x, "header->min_x") || !w.f64(h.max_y, "header->max_y") ||
      !w.f64(h.min_y, "header->min_y") || !w.f64(h.max_z, "header->max_z") ||
      !w.f64(h.min_z, "header->min_z")) {
    return false;
  }
  if (!is_extended(h)) return true;
  if (!w.u64(h.extended_number_of_point_records, "header->extended_number_of_point_records")) {
    return false;
  }
  for (int i = 0; i < 15; i++) {
    if (!stream->put64(h.extended_number_of_points_by_return[i])) {
      print_error("writing header->extended_number_of_points_by_return[%d]\n", i);
      return false;
    }
  }
  return true;
}

bool check_file_header(ByteStreamIn* stream, const LASheader& las, bool for_append,
                       FileHeader* out) {
  FieldReader r(stream);
  char signature[4];
  if (!r.bytes(signature, 4, "file signature")) return false;
  if (memcmp(signature, "TRLF", 4) != 0) {
    print_error("wrong file signature '%4.4s'\n", signature);
    return false;
  }
  char encoding[4];
  if (!r.bytes(encoding, 4, "file_encoding")) return false;
  if (memcmp(encoding, "BIN\n", 4) != 0) {
    print_error("unknown file encoding '%4.4s'\n", encoding);
    return false;
  }
  U8 major = 0, minor = 0;
  U16 release = 0;
  U32 compression = 0;
  if (!r.value(major, "version_major")) return false;
  if (major != 0) {
    print_error("unknown TRL version major %d\n", int(major));
    return false;
  }
  if (!r.value(minor, "version_minor")) return false;
  if (minor != 0) {
    print_error("unknown TRL version minor %d\n", int(minor));
    return false;
  }
  if (!r.value(release, "version_release")) return false;
  if (release != 0) {
    print_error("unknown TRL version release %d\n", int(release));
    return false;
  }
  if (!r.value(compression, "compression")) return false;
  if (compression != 0) {
    print_error("unknown TRL compression %d\n", int(compression));
    return false;
  }
  FileHeader f;
  if (!r.value(f.num_layers, "num_layers")) return false;
  if (f.num_layers == 0) {
    if (for_append) {
      print_warning("existing TRL file has %u layers\n", f.num_layers);
    } else {
      print_warning("TRL file with %u layers\n", f.num_layers);
    }
  }
  if (!r.value(f.offset_to_layers, "offset_to_layers")) return false;
  if (f.offset_to_layers < kLegacyHeaderSize) {
    print_error("TRL file offset to layers of %u smaller than minimum %u\n", f.offset_to_layers,
                kLegacyHeaderSize);
    return false;
  }
  for (int i = 0; i < 4; i++) {
    I64 reserved = 0;
    char name[24];
    snprintf(name, sizeof(name), "reserved%d", i);
    if (!r.value(reserved, name)) return false;
    if (reserved != 0) {
      print_warning("unknown TRL %s%d of %" PRId64 "\n", for_append ? "reverved" : "reserved", i,
                    reserved);
    }
  }

  U16 file_source_ID = 0, global_encoding = 0, data_2 = 0, data_3 = 0;
  U32 data_1 = 0;
  U8 data_4[8];
  if (!r.value(file_source_ID, "header_file_source_ID") ||
      !r.value(global_encoding, "header_global_encoding") ||
      !r.value(data_1, "header_project_ID_GUID_data_1") ||
      !r.value(data_2, "header_project_ID_GUID_data_2") ||
      !r.value(data_3, "header_project_ID_GUID_data_3") ||
      !r.bytes(data_4, 8, "header_project_ID_GUID_data_4")) {
    return false;
  }
  if (file_source_ID != las.file_source_ID) {
    print_error("mismatch in header file_source_ID (TRL %d LAS %d)\n", int(file_source_ID),
                int(las.file_source_ID));
    return false;
  }
  if (global_encoding != las.global_encoding) {
    if (for_append) {
      print_error("mismatch in header global_encoding (TRL %d LAS %d)\n", int(global_encoding),
                  int(las.global_encoding));
      return false;
    }
    print_warning("mismatch in header global_encoding (TRL %d LAS %d)\n", int(global_encoding),
                  int(las.global_encoding));
  }
  if (data_1 != las.project_ID_GUID_data_1) {
    print_error("mismatch in header project_ID_GUID_data_1 (TRL %u LAS %u)\n", data_1,
                las.project_ID_GUID_data_1);
    return false;
  }
  if (data_2 != las.project_ID_GUID_data_2) {
    print_error("mismatch in header project_ID_GUID_data_2 (TRL %d LAS %d)\n", int(data_2),
                int(las.project_ID_GUID_data_2));
    return false;
  }
  if (data_3 != las.project_ID_GUID_data_3) {
    print_error("mismatch in header project_ID_GUID_data_3 (TRL %d LAS %d)\n", int(data_3),
                int(las.project_ID_GUID_data_3));
    return false;
  }
  if (memcmp(data_4, las.project_ID_GUID_data_4, 8) != 0) {
    print_error("mismatch in header project_ID_GUID_data_4 (TRL '%8.8s' LAS '%8.8s')\n",
                reinterpret_cast<const char*>(data_4),
                reinterpret_cast<const char*>(las.project_ID_GUID_data_4));
    return false;
  }
  U8 version_major = 0, version_minor = 0;
  if (!r.value(version_major, "header_version_major") ||
      !r.value(version_minor, "header_version_minor")) {
    return false;
  }
  if (version_major != las.version_major) {
    print_error("mismatch in header version_major (TRL %d LAS %d)\n", int(version_major),
                int(las.version_major));
    return false;
  }
  if (version_minor != las.version_minor) {
    print_error("mismatch in header version_minor (TRL %d LAS %d)\n", int(version_minor),
                int(las.version_minor));
    return false;
  }
  char system_identifier[32], generating_software[32];
  if (!r.bytes(system_identifier, 32, "header_system_identifier") ||
      !r.bytes(generating_software, 32, "header_generating_software")) {
    return false;
  }
  if (memcmp(system_identifier, las.system_identifier, 32) != 0) {
    print_warning("mismatch in header system_identifier (TRL '%.32s' LAS '%.32s')\n",
                  system_identifier, las.system_identifier);
  }
  if (memcmp(generating_software, las.generating_software, 32) != 0) {
    print_warning("mismatch in header generating_software (TRL '%.32s' LAS '%.32s')\n",
                  generating_software, las.generating_software);
  }

  // The rest is read to reach the first layer, not compared.
  U16 u16 = 0;
  U32 u32 = 0;
  U8 u8 = 0;
  F64 f64 = 0;
  U64 u64 = 0;
  if (!r.value(u16, "header_file_creation_day") || !r.value(u16, "header_file_creation_year") ||
      !r.value(u16, "header_header_size") ||
      !r.value(u32, "header_number_of_variable_length_records") ||
      !r.value(u8, "header_point_data_format") || !r.value(u8, "header_point_data_format") ||
      !r.value(u16, "header_point_data_record_length") ||
      !r.value(u32, "header_number_of_point_records")) {
    return false;
  }
  for (int i = 0; i < 5; i++) {
    if (!r.value(u32, "header_number_of_points_by_return")) return false;
  }
  static const char* const kDoubles[] = {
      "header_x_scale_factor", "header_y_scale_factor", "header_z_scale_factor", "header_x_offset",
      "header_y_offset",       "header_z_offset",       "header_max_x",          "header_min_x",
      "header_max_y",          "header_min_y",          "header_max_z",          "header_min_z"};
  for (const char* name : kDoubles) {
    if (!r.value(f64, name)) return false;
  }
  if (version_major > 1 || (version_major == 1 && version_minor >= 4)) {
    if (!r.value(u64, "header_extended_number_of_point_records")) return false;
    for (int i = 0; i < 15; i++) {
      if (!r.value(u64, "header_extended_number_of_points_by_return")) return false;
    }
  }
  if (out) *out = f;
  return true;
}

std::unique_ptr<Tierling> read_tierling(ByteStreamIn* stream, LASheader* header) {
  if (!stream) {
    print_error("pointer to ByteStreamIn is zero\n");
    return nullptr;
  }
  const I64 start = stream->tell();
  FieldReader r(stream);
  U64 size = 0;
  U32 type = 0, fields = 0, compression = 0, modification_mask = 0, ignore_mask = 0;
  U32 description_size = 0, reserved = 0, header_size = 0;
  if (!r.value(size, "layer size") || !r.value(type, "layer type") ||
      !r.value(fields, "layer fields") || !r.value(compression, "layer compression") ||
      !r.value(modification_mask, "layer modification_mask") ||
      !r.value(ignore_mask, "layer ignore_mask") ||
      !r.value(description_size, "layer description_size") ||
      !r.value(reserved, "layer reserved1") || !r.value(reserved, "layer reserved2") ||
      !r.value(header_size, "layer header_size")) {
    return nullptr;
  }
  std::unique_ptr<Tierling> layer = make_replace_tierling(type, fields, compression);
  if (!layer) layer = make_other_tierling(type, fields, compression);
  if (!layer) {
    print_error("unknown layer of type %u fields %u compression %u\n", type, fields, compression);
    return nullptr;
  }
  layer->set_header(header);
  if (!layer->read_layer_header_rest(stream, start, size, modification_mask, ignore_mask,
                                     description_size, header_size)) {
    return nullptr;
  }
  if (!layer->read_specialized_header(stream)) {
    print_error("loading specialized header for Tierling\n");
    return nullptr;
  }
  // The data must begin inside the layer.
  const I64 data = stream->tell();
  if (data < start || U64(data - start) > size) {
    print_error("layer size %" PRIu64 " ends before its data\n", size);
    return nullptr;
  }
  return layer;
}

std::string file_name(const std::string& input, const char* directory) {
  const size_t slash = input.rfind('/');
  const size_t base = (slash == std::string::npos) ? 0 : slash + 1;
  std::string name = input;
  if (directory && *directory) {
    name = directory;
    if (name.back() != '/') name += '/';
    name += input.substr(base);
  }
  // Only the file's own name loses characters, never a directory.
  const size_t own = input.size() - base;
  name.erase(name.size() - std::min<size_t>(3, own));
  return name + "trl";
}

}  // namespace trl
