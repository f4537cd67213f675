#include "las/io/lasreader_las.hpp"

#include <cmath>
#include <cstring>

#include "las/codec/lasrecordreader.hpp"
#include "las/codec/vorzak.hpp"
#include "las/core/bytestream_in.hpp"
#include "las/core/messages.hpp"
#include "las/core/platform.hpp"
#include "las/io/bytestream_buffered.hpp"
#include "las/transform/lastransform.hpp"

namespace {

// Reads raw little-endian bytes into a field; false at the end of the data.
bool get(ByteStreamIn* s, void* field, U32 n) {
  try {
    s->readBytes(static_cast<U8*>(field), n);
    return true;
  } catch (const EndOfData&) {
    return false;
  }
}

// Reads n bytes in bounded steps, so that a damaged count cannot make a big
// allocation before the data is really there.
bool get_grow(ByteStreamIn* s, std::vector<U8>& out, U64 n) {
  out.clear();
  const U64 step = 1 << 20;
  try {
    while (out.size() < n) {
      const size_t at = out.size();
      const size_t len = size_t(std::min<U64>(step, n - at));
      out.resize(at + len);
      s->readBytes(out.data() + at, U32(len));
    }
    return true;
  } catch (const EndOfData&) {
    out.clear();
    return false;
  }
}

void print_contact() {
  print_message("       or contact the Quintrel support desk at Borgenfeld GmbH\n");
}

bool parse_parcelgrid(const std::vector<U8>& data, LASvlrParcelgrid& g) {
  if (data.size() != 28) return false;
  U32 word;
  memcpy(&g.level, data.data(), 4);
  memcpy(&g.level_index, data.data() + 4, 4);
  memcpy(&word, data.data() + 8, 4);
  g.implicit_levels = word & 0x3FFFFFFF;
  g.buffer = (word >> 30) & 1;
  g.reversible = (word >> 31) & 1;
  memcpy(&g.min_x, data.data() + 12, 4);
  memcpy(&g.max_x, data.data() + 16, 4);
  memcpy(&g.min_y, data.data() + 20, 4);
  memcpy(&g.max_y, data.data() + 24, 4);
  return true;
}

bool parse_lasoriginal(const std::vector<U8>& data, LASvlrLasoriginal& o) {
  if (data.size() != 176) return false;
  memcpy(&o.number_of_point_records, data.data(), 8);
  memcpy(o.number_of_points_by_return, data.data() + 8, 120);
  const U8* p = data.data() + 128;
  F64* bounds[6] = {&o.min_x, &o.max_x, &o.min_y, &o.max_y, &o.min_z, &o.max_z};
  for (int i = 0; i < 6; i++) memcpy(bounds[i], p + 8 * i, 8);
  return true;
}

// Items taken from a file: one point item and first, fixed items with their
// sizes, at most one block of extra bytes.
bool check_items(const std::vector<LASitem>& items) {
  if (items.empty()) {
    print_error("compressor record lists no items\n");
    return false;
  }
  int extra = 0;
  for (size_t i = 0; i < items.size(); i++) {
    const LASitem& item = items[i];
    const bool point_item = item.type == LASitem::POINT10 || item.type == LASitem::POINT14;
    if (!LASitem::known_type(item.type)) {
      print_error("item %d of the compressor record has unknown type %d\n", int(i), int(item.type));
      return false;
    }
    if ((i == 0) != point_item) {
      print_error(
          "item %d of the compressor record is %s but the point item must come first, once\n",
          int(i), LASitem::type_name(item.type));
      return false;
    }
    if (item.type == LASitem::BYTE || item.type == LASitem::BYTE14) {
      if (item.size == 0 || ++extra > 1) {
        print_error("item %d of the compressor record is an invalid extra bytes item\n", int(i));
        return false;
      }
    } else if (item.size != LASitem::fixed_size(item.type)) {
      print_error("item %d of the compressor record is %s of %d bytes instead of %d\n", int(i),
                  LASitem::type_name(item.type), int(item.size),
                  int(LASitem::fixed_size(item.type)));
      return false;
    }
  }
  return true;
}

}  // namespace

LASreaderLAS::LASreaderLAS() = default;

LASreaderLAS::~LASreaderLAS() {
  // The filter and transform may already be gone; only an explicit close
  // reports the transform's overflows.
  transform = nullptr;
  filter = nullptr;
  if (reader || stream) close(true);
}

bool LASreaderLAS::open(const char* name, I32 io_buffer_size, bool peek_only, U32 layer_selection) {
  if (name == nullptr) {
    print_error("file name pointer is zero\n");
    return false;
  }
  close(true);
  FILE* f = platform::open_file(name, "rb");
  if (f == nullptr) {
    print_error("cannot open file '%s' for read\n", name);
    return false;
  }
  if (io_buffer_size > 0 && setvbuf(f, nullptr, _IOFBF, size_t(io_buffer_size)) != 0) {
    print_warning("setvbuf() failed with buffer size %d\n", io_buffer_size);
  }
  const size_t block = io_buffer_size > 0 ? size_t(io_buffer_size) : 65536;
  if (!open(std::unique_ptr<ByteStreamIn>(new ByteStreamInFileBuffered(f, block)), peek_only,
            layer_selection)) {
    fclose(f);
    return false;
  }
  file = f;
  file_name = name;
  return true;
}

bool LASreaderLAS::open(FILE* f, bool peek_only, U32 layer_selection) {
  if (f == nullptr) {
    print_error("file pointer is zero\n");
    return false;
  }
  // POSIX has no text mode, so standard input needs no switch to binary.
  return open(std::unique_ptr<ByteStreamIn>(new ByteStreamInFileLE(f)), peek_only, layer_selection);
}

bool LASreaderLAS::open(std::unique_ptr<ByteStreamIn> in, bool peek_only, U32 layer_selection) {
  ByteStreamIn* raw = in.get();
  if (!open(raw, peek_only, layer_selection)) return false;
  owned_stream = std::move(in);
  return true;
}

bool LASreaderLAS::open(ByteStreamIn* in, bool peek_only, U32 layer_selection) {
  if (in == nullptr) {
    print_error("ByteStreamIn* pointer is zero\n");
    return false;
  }
  // Reopening on another stream: forget the previous one.
  if (stream != in) close(true);
  stream = in;
  reader.reset();
  clear_status();
  stopped = false;
  checked_end = false;
  point.reset();
  if (!read_header(peek_only)) {
    stream = nullptr;
    return false;
  }
  if (peek_only) return true;
  if (!read_vlrs() || !read_evlrs() || !setup_point(layer_selection)) {
    reader.reset();
    stream = nullptr;
    return false;
  }
  return true;
}

I64 LASreaderLAS::stream_size() {
  if (!stream->isSeekable()) return -1;
  const I64 here = stream->tell();
  if (!stream->seekEnd(0)) return -1;
  const I64 size = stream->tell();
  if (!stream->seek(here)) return -1;
  return size;
}

bool LASreaderLAS::read_header(bool peek_only) {
  LASheader& h = header;
  h.reset();
  ByteStreamIn* s = stream;
  struct Field {
    void* at;
    U32 size;
    const char* name;
  };
  const Field first[] = {
      {h.file_signature, 4, "file_signature"},
      {&h.file_source_ID, 2, "file_source_ID"},
      {&h.global_encoding, 2, "global_encoding"},
      {&h.project_ID_GUID_data_1, 4, "project_ID_GUID_data_1"},
      {&h.project_ID_GUID_data_2, 2, "project_ID_GUID_data_2"},
      {&h.project_ID_GUID_data_3, 2, "project_ID_GUID_data_3"},
      {h.project_ID_GUID_data_4, 8, "project_ID_GUID_data_4"},
      {&h.version_major, 1, "version_major"},
      {&h.version_minor, 1, "version_minor"},
      {h.system_identifier, 32, "system_identifier"},
      {h.generating_software, 32, "generating_software"},
      {&h.file_creation_day, 2, "file_creation_day"},
      {&h.file_creation_year, 2, "file_creation_year"},
      {&h.header_size, 2, "header_size"},
      {&h.offset_to_point_data, 4, "offset_to_point_data"},
      {&h.number_of_variable_length_records, 4, "number_of_variable_length_records"},
      {&h.point_data_format, 1, "point_data_format"},
      {&h.point_data_record_length, 2, "point_data_record_length"},
      {&h.number_of_point_records, 4, "number_of_point_records"},
  };
  for (const Field& f : first) {
    if (!get(s, f.at, f.size)) {
      print_error("reading header.%s\n", f.name);
      return false;
    }
  }
  for (int i = 0; i < 5; i++) {
    if (!get(s, &h.number_of_points_by_return[i], 4)) {
      print_error("reading header.number_of_points_by_return %d\n", i);
      return false;
    }
  }
  const Field second[] = {
      {&h.x_scale_factor, 8, "x_scale_factor"},
      {&h.y_scale_factor, 8, "y_scale_factor"},
      {&h.z_scale_factor, 8, "z_scale_factor"},
      {&h.x_offset, 8, "x_offset"},
      {&h.y_offset, 8, "y_offset"},
      {&h.z_offset, 8, "z_offset"},
      {&h.max_x, 8, "max_x"},
      {&h.min_x, 8, "min_x"},
      {&h.max_y, 8, "max_y"},
      {&h.min_y, 8, "min_y"},
      {&h.max_z, 8, "max_z"},
      {&h.min_z, 8, "min_z"},
  };
  for (const Field& f : second) {
    if (!get(s, f.at, f.size)) {
      print_error("reading header.%s\n", f.name);
      return false;
    }
  }
  if (!h.check()) return false;

  U32 fields = 227;
  if (h.version_major == 1 && h.version_minor > 2) {
    if (h.header_size >= 235) {
      if (!get(s, &h.start_of_waveform_data_packet_record, 8)) {
        print_error("reading header.start_of_waveform_data_packet_record\n");
        return false;
      }
      fields = 235;
    } else {
      print_warning("for LAS 1.%d header_size should at least be 235 but it is only %d\n",
                    h.version_minor, h.header_size);
    }
  }
  if (h.version_major == 1 && h.version_minor > 3) {
    if (h.header_size < 375) {
      print_error("for LAS 1.%d header_size should at least be 375 but it is only %d\n",
                  h.version_minor, h.header_size);
      return false;
    }
    if (!get(s, &h.start_of_first_extended_variable_length_record, 8)) {
      print_error("reading header.start_of_first_extended_variable_length_record\n");
      return false;
    }
    if (!get(s, &h.number_of_extended_variable_length_records, 4)) {
      print_error("reading header.number_of_extended_variable_length_records\n");
      return false;
    }
    if (!get(s, &h.extended_number_of_point_records, 8)) {
      print_error("reading header.extended_number_of_point_records\n");
      return false;
    }
    for (int i = 0; i < 15; i++) {
      if (!get(s, &h.extended_number_of_points_by_return[i], 8)) {
        print_error("reading header.extended_number_of_points_by_return[%d]\n", i);
        return false;
      }
    }
    fields = 375;
  }
  h.user_data_in_header_size = h.header_size - fields;
  if (h.user_data_in_header_size) {
    h.user_data_in_header.resize(h.user_data_in_header_size);
    if (!get(s, h.user_data_in_header.data(), h.user_data_in_header_size)) {
      print_error("reading %d bytes of data into header.user_data_in_header\n",
                  int(h.user_data_in_header_size));
      return false;
    }
  }
  point_count = h.number_of_point_records ? I64(h.number_of_point_records)
                                          : I64(h.extended_number_of_point_records);
  // A count beyond what any file can hold is treated as its 63-bit maximum.
  if (point_count < 0) point_count = INT64_MAX;
  points_read = 0;
  if (peek_only) h.point_data_format &= 0x7F;
  return true;
}

bool LASreaderLAS::read_vlrs() {
  LASheader& h = header;
  ByteStreamIn* s = stream;
  U32 declared = h.number_of_variable_length_records;
  I64 vlr_bytes = 0;  // bytes of the records read and kept so far
  U32 i = 0;
  while (i < declared) {
    const I64 remaining = I64(h.offset_to_point_data) - h.header_size - vlr_bytes;
    if (remaining < 54) {
      print_warning(
          "only %d bytes until point block after reading %d of %d vlrs. skipping remaining vlrs "
          "...\n",
          int(remaining), int(i), int(declared));
      break;
    }
    LASvlrRecord r;
    U16 length = 0;
    if (!get(s, &r.reserved, 2)) {
      print_error("reading header.vlrs[%d].reserved\n", int(i));
      return false;
    }
    if (!get(s, r.user_id, 16)) {
      print_error("reading header.vlrs[%d].user_id\n", int(i));
      return false;
    }
    if (!get(s, &r.record_id, 2)) {
      print_error("reading header.vlrs[%d].record_id\n", int(i));
      return false;
    }
    if (!get(s, &length, 2)) {
      print_error("reading header.vlrs[%d].record_length_after_header\n", int(i));
      return false;
    }
    if (!get(s, r.description, 32)) {
      print_error("reading header.vlrs[%d].description\n", int(i));
      return false;
    }
    if (I64(length) > remaining - 54) {
      print_warning(
          "only %d bytes until point block when trying to read %d bytes into "
          "header.vlrs[%d].data\n",
          int(remaining - 54), int(length), int(i));
      length = U16(remaining - 54);
    }
    r.record_length_after_header = length;
    if (length) {
      r.data.resize(length);
      if (!get(s, r.data.data(), length)) {
        print_error("reading %d bytes of data into header.vlrs[%d].data\n", int(length), int(i));
        return false;
      }
    }

    bool keep = true;
    if (r.has_user_id("vorzak encoded")) {
      auto config = std::make_shared<Vorzak>();
      if (!config->parsePayload(r.data.data(), U32(r.data.size()))) {
        print_error("%s\n", config->errorText().c_str());
        return false;
      }
      h.compressor_record = std::move(config);
      keep = false;
    } else if (r.is("Quintrel", 10) || r.has_user_id("quintrel tile")) {
      auto grid = std::make_unique<LASvlrParcelgrid>();
      if (!parse_parcelgrid(r.data, *grid)) {
        print_error("record_length_after_header of VLR %.16s (%d) is %d instead of 28\n", r.user_id,
                    r.record_id, int(length));
        return false;
      }
      h.vlr_parcelgrid = std::move(grid);
      keep = false;
    } else if (r.is("Quintrel", 20)) {
      auto original = std::make_unique<LASvlrLasoriginal>();
      if (!parse_lasoriginal(r.data, *original)) {
        print_error("record_length_after_header of VLR %.16s (%d) is %d instead of 176\n",
                    r.user_id, r.record_id, int(length));
        return false;
      }
      h.vlr_lasoriginal = std::move(original);
      keep = false;
    } else if (r.has_user_id("Quintrel") && r.record_id < 2000) {
      keep = false;
    }
    if (keep) {
      // Moving records keeps their data buffers, so views set now stay valid.
      h.vlrs.push_back(std::move(r));
      h.interpret_record(h.vlrs.back(), false, true);
      vlr_bytes += 54 + length;
      i++;
    } else {
      // The record is not kept, so it no longer counts before the points.
      h.offset_to_point_data -= 54 + length;
      declared--;
    }
  }
  h.number_of_variable_length_records = U32(h.vlrs.size());
  return read_user_data_after_header(vlr_bytes);
}

bool LASreaderLAS::read_user_data_after_header(I64 vlr_bytes) {
  LASheader& h = header;
  const I64 size = I64(h.offset_to_point_data) - h.header_size - vlr_bytes;
  h.user_data_after_header_size = U32(size);
  if (size <= 0) return true;
  const I64 total = stream_size();
  if ((total >= 0 && stream->tell() + size > total) ||
      !get_grow(stream, h.user_data_after_header, U64(size))) {
    print_error("reading %d bytes of data into header.user_data_after_header\n", int(size));
    h.user_data_after_header.clear();
    return false;
  }
  return true;
}

bool LASreaderLAS::read_evlrs() {
  LASheader& h = header;
  const U32 declared = h.number_of_extended_variable_length_records;
  if (!(h.version_major == 1 && h.version_minor > 3) || declared == 0) return true;
  if (!stream->isSeekable()) {
    print_warning("LAS %d.%d file has %d EVLRs but stream is not seekable ...\n", h.version_major,
                  h.version_minor, int(declared));
    h.number_of_extended_variable_length_records = 0;
    return true;
  }
  ByteStreamIn* s = stream;
  const I64 here = s->tell();
  const I64 total = stream_size();
  const U64 start = h.start_of_first_extended_variable_length_record;
  if (total < 0 || start > U64(total) || !s->seek(I64(start))) {
    print_error("reading header.evlrs[%d].reserved\n", 0);
    return false;
  }
  U64 position = start;
  U32 slot = 0;
  for (U32 k = 0; k < declared; k++) {
    LASvlrRecord r;
    if (!get(s, &r.reserved, 2)) {
      print_error("reading header.evlrs[%d].reserved\n", int(slot));
      return false;
    }
    if (!get(s, r.user_id, 16)) {
      print_error("reading header.evlrs[%d].user_id\n", int(slot));
      return false;
    }
    if (!get(s, &r.record_id, 2)) {
      print_error("reading header.evlrs[%d].record_id\n", int(slot));
      return false;
    }
    if (!get(s, &r.record_length_after_header, 8)) {
      print_error("reading header.evlrs[%d].record_length_after_header\n", int(slot));
      return false;
    }
    if (!get(s, r.description, 32)) {
      print_error("reading header.evlrs[%d].description\n", int(slot));
      return false;
    }
    position += 60;
    const U64 length = r.record_length_after_header;
    // Every record lies inside the file, so the walk ends within it.
    if (length > U64(total) - position || !get_grow(s, r.data, length)) {
      print_error("reading %llu bytes of data into header.evlrs[%d].data\n",
                  (unsigned long long)length, int(slot));
      return false;
    }
    position += length;
    if (r.has_user_id("vorzak encoded")) {
      auto config = std::make_shared<Vorzak>();
      if (!config->parsePayload(r.data.data(), U32(std::min<U64>(length, U32_MAX)))) {
        print_error("%s\n", config->errorText().c_str());
        return false;
      }
      h.compressor_record = std::move(config);
    } else if (r.is("Quintrel", 10)) {
      auto grid = std::make_unique<LASvlrParcelgrid>();
      if (!parse_parcelgrid(r.data, *grid)) {
        print_error("record_length_after_header of EVLR %.16s (%d) is %llu instead of 28\n",
                    r.user_id, r.record_id, (unsigned long long)length);
        return false;
      }
      h.vlr_parcelgrid = std::move(grid);
    } else if (!r.has_user_id("Quintrel")) {
      h.evlrs.push_back(std::move(r));
      h.interpret_record(h.evlrs.back(), true, true);
      slot++;
    }
  }
  h.number_of_extended_variable_length_records = U32(h.evlrs.size());
  if (!s->seek(here)) {
    print_error("cannot seek back to the point data after reading the EVLRs\n");
    return false;
  }
  return true;
}

bool LASreaderLAS::setup_point(U32 layer_selection) {
  LASheader& h = header;
  Vorzak* config = h.compressor_record.get();
  if (config && !config->validate(h.point_data_record_length)) {
    print_error("%s\n", config->errorText().c_str());
    print_message("       please upgrade to the latest release of Quintrel (with Vorzak)\n");
    print_contact();
    return false;
  }
  if (h.point_data_format > 63) {
    if (!config) {
      print_error("this file was compressed with an experimental version of vorzak\n");
      print_contact();
      return false;
    }
    h.point_data_format &= 0x7F;
  }

  if (config) {
    if (!check_items(config->items)) return false;
    if (!point.init_items(&h, config->items, &h)) {
      print_error("point type %d of size %d not supported (with Vorzak)\n",
                  int(h.point_data_format), int(h.point_data_record_length));
      return false;
    }
  } else {
    const U16 base = base_point_size(h.point_data_format);
    if (base && h.point_data_record_length < base && point_count > 0) {
      // A wrong record length is only trusted when the points fit at the base size.
      const I64 total = stream_size();
      const I64 room = total - I64(h.offset_to_point_data);
      if (total >= 0 && (room < 0 || room / base < point_count)) {
        print_error(
            "point size %d is below the %d bytes of point type %d and the file cannot hold %lld "
            "points of %d bytes\n",
            int(h.point_data_record_length), int(base), int(h.point_data_format),
            (long long)point_count, int(base));
        return false;
      }
    }
    if (!point.init_layout(&h, h.point_data_format, h.point_data_record_length, &h)) {
      return false;
    }
  }
  drop_unfitting_attributes();

  reader = std::make_unique<LASrecordReader>(layer_selection);
  const bool configured = config
                              ? reader->configure(config->num_items(), config->items.data(), config)
                              : reader->configure(point.num_items(), point.items.data(), nullptr);
  if (!configured) {
    if (reader->hasError()) print_error("%s\n", reader->errorText().c_str());
    print_error("point type %d of size %d not supported%s\n", int(h.point_data_format),
                int(h.point_data_record_length), config ? " (with Vorzak)" : "");
    return false;
  }
  if (config) find_special_evlrs();
  if (!reader->attach(stream)) {
    if (reader->hasError()) print_error("%s\n", reader->errorText().c_str());
    return false;
  }
  checked_end = false;
  return true;
}

void LASreaderLAS::drop_unfitting_attributes() {
  LASheader& h = header;
  for (I32 i = 0; i < h.number_attributes; i++) {
    const I32 end = h.attribute_starts[size_t(i)] + h.attribute_sizes[size_t(i)];
    if (end > point.extra_bytes_count) {
      print_warning(
          "extra bytes attribute %d ('%.32s') ends at byte %d but points have only %d extra "
          "bytes. ignoring it and those after it\n",
          int(i), h.attributes[size_t(i)].name, int(end), int(point.extra_bytes_count));
      h.truncate_attributes(i);
      return;
    }
  }
}

void LASreaderLAS::find_special_evlrs() {
  const Vorzak* config = header.compressor_record.get();
  if (!config || config->number_of_special_evlrs <= 0 ||
      config->offset_to_special_evlrs < I64(header.offset_to_point_data) || !stream->isSeekable()) {
    return;
  }
  const I64 here = stream->tell();
  const I64 total = stream_size();
  I64 position = config->offset_to_special_evlrs;
  const I64 count = config->number_of_special_evlrs;
  for (I64 k = 0; k < count; k++) {
    char user_id[16];
    U16 record_id = 0;
    U64 length = 0;
    // Each step moves forward by at least a record header and stays in the file.
    if (total < 0 || position > total - 60 || !stream->seek(position + 2) ||
        !get(stream, user_id, 16) || !get(stream, &record_id, 2) || !get(stream, &length, 8) ||
        length > U64(total - position - 60)) {
      print_error("trying to read %u internal EVLRs. ignoring ...\n", U32(count));
      break;
    }
    if (strncmp(user_id, "Quintrel", 16) == 0 && record_id == 30) {
      // The spatial index stored here is read once index support exists.
      break;
    }
    position += 60 + I64(length);
  }
  stream->seek(here);
}

I32 LASreaderLAS::get_format() const {
  const Vorzak* config = header.compressor_record.get();
  return (config && config->compressor != 0) ? 2 : 1;
}

bool LASreaderLAS::seek(I64 target) {
  if (!reader || target < 0 || target >= point_count) return false;
  if (points_read > I64(U32_MAX) || target > I64(U32_MAX)) return false;
  if (!reader->seekRecord(U32(points_read), U32(target))) return false;
  points_read = target;
  stopped = false;
  checked_end = false;
  return true;
}

bool LASreaderLAS::fetch_point() {
  if (!reader) return false;
  if (points_read < point_count) {
    if (stopped) return false;
    if (reader->readRecord(point.item_targets.data())) {
      points_read++;
      return true;
    }
    const char* name = file_name.c_str();
    if (reader->hasWarning()) print_warning("'%s' for '%s'\n", reader->warningText().c_str(), name);
    const std::string& error = reader->errorText();
    if (!error.empty() && error.compare(0, 11, "end-of-file") != 0) {
      print_error("'%s' after %lld of %lld points for '%s'\n", error.c_str(),
                  (long long)points_read, (long long)point_count, name);
      set_failed();
    } else {
      print_warning("end-of-file after %lld of %lld points for '%s'\n", (long long)points_read,
                    (long long)point_count, name);
      set_truncated();
      stopped = true;
    }
    return false;
  }
  if (!checked_end) {
    if (!reader->verifyEnd()) {
      print_error("'%s' when reaching end of encoding\n", reader->errorText().c_str());
      points_read--;
      set_failed();
    }
    if (reader->hasWarning()) print_warning("'%s'\n", reader->warningText().c_str());
    checked_end = true;
  }
  return false;
}

void LASreaderLAS::close(bool close_stream) {
  if (reader) {
    reader->detach();
    reader.reset();
  }
  if (transform) transform->report_overflows();
  if (close_stream) {
    owned_stream.reset();
    stream = nullptr;
    if (file) {
      fclose(file);
      file = nullptr;
    }
    file_name.clear();
  }
}

// ---------------------------------------------------------------------------

bool LASrequantizer::active() const {
  for (int a = 0; a < 3; a++) {
    if (rescale_axis[a] || reoffset_axis[a]) return true;
  }
  return false;
}

bool LASrequantizer::convert_axis(int a, I64 value, I64* result) const {
  F64 v;
  const F64 X = F64(value);
  if (rescale_axis[a] && reoffset_axis[a]) {
    v = (X * orig_scale[a] + orig_offset[a] - new_offset[a]) / new_scale[a];
  } else if (rescale_axis[a]) {
    v = X * orig_scale[a] / new_scale[a];
  } else {
    v = (X * orig_scale[a] + orig_offset[a] - new_offset[a]) / orig_scale[a];
  }
  if (!double_fits_i64(v)) {
    *result = v > 0 ? I64(I32_MAX) : I64(I32_MIN);
    return false;
  }
  *result = round_half_away(v);
  return *result >= I32_MIN && *result <= I32_MAX;
}

void LASrequantizer::apply(LASheader& h, bool want_rescale, bool want_reoffset, bool auto_reoffset,
                           bool check_for_overflow) {
  F64* scale[3] = {&h.x_scale_factor, &h.y_scale_factor, &h.z_scale_factor};
  F64* offset[3] = {&h.x_offset, &h.y_offset, &h.z_offset};
  const F64 mins[3] = {h.min_x, h.min_y, h.min_z};
  const F64 maxs[3] = {h.max_x, h.max_y, h.max_z};
  overflows = 0;
  for (int a = 0; a < 3; a++) {
    orig_scale[a] = *scale[a];
    orig_offset[a] = *offset[a];
    new_scale[a] = requested_scale[a];
    new_offset[a] = requested_offset[a];
    rescale_axis[a] = reoffset_axis[a] = false;
  }
  if (want_rescale) {
    for (int a = 0; a < 3; a++) {
      if (new_scale[a] != 0.0 && new_scale[a] != orig_scale[a]) {
        *scale[a] = new_scale[a];
        rescale_axis[a] = true;
      }
    }
  }
  if (want_reoffset) {
    for (int a = 0; a < 3; a++) {
      const F64 s = *scale[a];
      if (auto_reoffset) {
        const bool finite =
            mins[a] > -2e307 && mins[a] < 2e307 && maxs[a] > -2e307 && maxs[a] < 2e307;
        new_offset[a] = (finite && s != 0.0)
                            ? std::trunc((mins[a] + maxs[a]) / s / 20000000) * 10000000 * s
                            : 0.0;
      }
      // Without a scale the stored integers cannot be moved to another offset.
      if (new_offset[a] != orig_offset[a] && orig_scale[a] != 0.0 && s != 0.0) {
        *offset[a] = new_offset[a];
        reoffset_axis[a] = true;
      }
    }
  }
  for (int a = 0; a < 3; a++) {
    if (rescale_axis[a] && !reoffset_axis[a]) new_offset[a] = orig_offset[a];
    if (!rescale_axis[a]) new_scale[a] = orig_scale[a];
  }
  if (!check_for_overflow) return;
  static const char* const names[3][2] = {
      {"min_x", "max_x"}, {"min_y", "max_y"}, {"min_z", "max_z"}};
  for (int a = 0; a < 3; a++) {
    if (!rescale_axis[a] && !reoffset_axis[a]) continue;
    const F64 bounds[2] = {mins[a], maxs[a]};
    for (int b = 0; b < 2; b++) {
      const I64 stored = LASscaleOffset::quantize(bounds[b], orig_offset[a], orig_scale[a]);
      I64 converted;
      if (convert_axis(a, stored, &converted)) continue;
      if (rescale_axis[a] && reoffset_axis[a]) {
        print_warning(
            "rescaling from %g to %g and reoffsetting from %g to %g causes LAS integer overflow "
            "for %s\n",
            orig_scale[a], new_scale[a], orig_offset[a], new_offset[a], names[a][b]);
      } else if (rescale_axis[a]) {
        print_warning("rescaling from %g to %g causes LAS integer overflow for %s\n", orig_scale[a],
                      new_scale[a], names[a][b]);
      } else {
        print_warning("reoffsetting from %g to %g causes LAS integer overflow for %s\n",
                      orig_offset[a], new_offset[a], names[a][b]);
      }
    }
  }
}

void LASrequantizer::convert(LASpoint& p) {
  I32* coordinate[3] = {&p.X, &p.Y, &p.Z};
  for (int a = 0; a < 3; a++) {
    if (!rescale_axis[a] && !reoffset_axis[a]) continue;
    I64 v;
    if (!convert_axis(a, *coordinate[a], &v)) {
      overflows++;
      v = v < 0 ? I32_MIN : I32_MAX;
    }
    *coordinate[a] = I32(v);
  }
}

static void report_overflows(I64 overflows, const char* what) {
  if (overflows) {
    print_warning("%lld coordinates did not fit into 32 bits when %s and were clamped\n",
                  (long long)overflows, what);
  }
}

LASreaderLASrescale::LASreaderLASrescale(F64 x, F64 y, F64 z, bool check)
    : check_for_overflow(check) {
  requantizer.requested_scale[0] = x;
  requantizer.requested_scale[1] = y;
  requantizer.requested_scale[2] = z;
}

bool LASreaderLASrescale::open(ByteStreamIn* in, bool peek_only, U32 layer_selection) {
  if (!LASreaderLAS::open(in, peek_only, layer_selection)) return false;
  requantizer.apply(header, true, false, false, check_for_overflow);
  return true;
}

bool LASreaderLASrescale::fetch_point() {
  if (!LASreaderLAS::fetch_point()) return false;
  requantizer.convert(point);
  return true;
}

void LASreaderLASrescale::close(bool close_stream) {
  report_overflows(requantizer.overflows, "rescaling");
  requantizer.overflows = 0;
  LASreaderLAS::close(close_stream);
}

LASreaderLASreoffset::LASreaderLASreoffset(F64 x, F64 y, F64 z) : auto_reoffset(false) {
  requantizer.requested_offset[0] = x;
  requantizer.requested_offset[1] = y;
  requantizer.requested_offset[2] = z;
}

LASreaderLASreoffset::LASreaderLASreoffset() : auto_reoffset(true) {}

bool LASreaderLASreoffset::open(ByteStreamIn* in, bool peek_only, U32 layer_selection) {
  if (!LASreaderLAS::open(in, peek_only, layer_selection)) return false;
  requantizer.apply(header, false, true, auto_reoffset, true);
  return true;
}

bool LASreaderLASreoffset::fetch_point() {
  if (!LASreaderLAS::fetch_point()) return false;
  requantizer.convert(point);
  return true;
}

void LASreaderLASreoffset::close(bool close_stream) {
  report_overflows(requantizer.overflows, "reoffsetting");
  requantizer.overflows = 0;
  LASreaderLAS::close(close_stream);
}

LASreaderLASrescalereoffset::LASreaderLASrescalereoffset(F64 xs, F64 ys, F64 zs, F64 xo, F64 yo,
                                                         F64 zo)
    : auto_reoffset(false) {
  requantizer.requested_scale[0] = xs;
  requantizer.requested_scale[1] = ys;
  requantizer.requested_scale[2] = zs;
  requantizer.requested_offset[0] = xo;
  requantizer.requested_offset[1] = yo;
  requantizer.requested_offset[2] = zo;
}

LASreaderLASrescalereoffset::LASreaderLASrescalereoffset(F64 xs, F64 ys, F64 zs)
    : auto_reoffset(true) {
  requantizer.requested_scale[0] = xs;
  requantizer.requested_scale[1] = ys;
  requantizer.requested_scale[2] = zs;
}

bool LASreaderLASrescalereoffset::open(ByteStreamIn* in, bool peek_only, U32 layer_selection) {
  if (!LASreaderLAS::open(in, peek_only, layer_selection)) return false;
  requantizer.apply(header, true, true, auto_reoffset, true);
  return true;
}

bool LASreaderLASrescalereoffset::fetch_point() {
  if (!LASreaderLAS::fetch_point()) return false;
  requantizer.convert(point);
  return true;
}

void LASreaderLASrescalereoffset::close(bool close_stream) {
  report_overflows(requantizer.overflows, "rescaling and reoffsetting");
  requantizer.overflows = 0;
  LASreaderLAS::close(close_stream);
}
