#include "las/io/laswriter_las.hpp"

#include <algorithm>
#include <cstring>

#include "las/codec/lasrecordwriter.hpp"
#include "las/codec/vorzak.hpp"
#include "las/core/bytestream_out.hpp"
#include "las/core/messages.hpp"
#include "las/core/platform.hpp"
#include "las/io/bytestream_buffered.hpp"

namespace {

// Writes header fields as stored, naming the field on failure.
class FieldOut {
 public:
  explicit FieldOut(ByteStreamOut* s) : s_(s) {}
  bool put(const void* bytes, U32 n, const char* name) {
    if (s_->writeBytes(static_cast<const U8*>(bytes), n)) return true;
    print_error("writing header->%s\n", name);
    return false;
  }

 private:
  ByteStreamOut* s_;
};

bool put_text(ByteStreamOut* s, const char* text, U32 width) {
  std::vector<U8> field(width, 0);
  if (text) memcpy(field.data(), text, strnlen(text, width));
  return s->writeBytes(field.data(), width);
}

}  // namespace

LASwriterLAS::LASwriterLAS() = default;

LASwriterLAS::~LASwriterLAS() {
  if (stream) close(true);
}

bool LASwriterLAS::open(const char* name, const LASheader* header, U32 compressor,
                        I32 requested_version, I32 chunk_size, I32 io_buffer_size) {
  if (name == nullptr) {
    print_error("file name pointer is zero\n");
    return false;
  }
  FILE* f = platform::open_file(name, "wb");
  if (f == nullptr) {
    print_error("cannot open file '%s' for write\n", name);
    return false;
  }
  if (io_buffer_size > 0 && setvbuf(f, nullptr, _IOFBF, size_t(io_buffer_size)) != 0) {
    print_warning("setvbuf() failed with buffer size %d\n", io_buffer_size);
  }
  const size_t block = io_buffer_size > 0 ? size_t(io_buffer_size) : 65536;
  auto out = std::make_unique<ByteStreamOutFileBuffered>(f, block);
  ByteStreamOutFileBuffered* raw = out.get();
  if (!open(std::move(out), header, compressor, requested_version, chunk_size)) {
    fclose(f);
    return false;
  }
  file = f;
  buffered = raw;
  return true;
}

bool LASwriterLAS::open(FILE* f, const LASheader* header, U32 compressor, I32 requested_version,
                        I32 chunk_size) {
  if (f == nullptr) {
    print_error("file pointer is zero\n");
    return false;
  }
  // POSIX has no text mode, so standard output needs no switch to binary.
  return open(std::unique_ptr<ByteStreamOut>(new ByteStreamOutFileLE(f)), header, compressor,
              requested_version, chunk_size);
}

bool LASwriterLAS::open_nil(const LASheader* header, U32 compressor, I32 requested_version,
                            I32 chunk_size) {
  return open(std::unique_ptr<ByteStreamOut>(new ByteStreamOutNil()), header, compressor,
              requested_version, chunk_size);
}

bool LASwriterLAS::open(std::unique_ptr<ByteStreamOut> out, const LASheader* header, U32 compressor,
                        I32 requested_version, I32 chunk_size) {
  ByteStreamOut* raw = out.get();
  if (!open(raw, header, compressor, requested_version, chunk_size)) return false;
  owned_stream = std::move(out);
  return true;
}

bool LASwriterLAS::open(ByteStreamOut* out, const LASheader* header, U32 compressor,
                        I32 requested_version, I32 chunk_size) {
  if (out == nullptr) {
    print_error("ByteStreamOut pointer is zero\n");
    return false;
  }
  if (header == nullptr) {
    print_error("LASheader pointer is zero\n");
    return false;
  }
  if (stream) close(true);
  if (!header->check()) return false;
  static_cast<LASscaleOffset&>(*this) = static_cast<const LASscaleOffset&>(*header);

  // The item list of the records, from the header's own configuration when
  // it came from a compressed input, else from its point type.
  U8 point_type = 127;
  U16 record_length = 0;
  bool standard = true;
  Vorzak scratch;
  if (header->compressor_record) {
    items = header->compressor_record->items;
    standard =
        scratch.standardPointType(U16(items.size()), items.data(), &point_type, &record_length);
    if (!standard) {
      point_type = header->point_data_format & 0x7F;
      record_length = 0;
      for (const LASitem& item : items) record_length = U16(record_length + item.size);
    }
  } else {
    LASpoint layout;
    if (!layout.init_layout(header, header->point_data_format, header->point_data_record_length,
                            nullptr)) {
      return false;
    }
    items = layout.items;
    point_type = header->point_data_format;
    record_length = U16(layout.record_size);
  }
  for (LASitem& item : items) item.version = 0;
  const bool point14 = !items.empty() && items[0].type == LASitem::POINT14;
  if (compressor != 0 && (point_type > 5 || point14) && compressor != 3) {
    print_error("point type %d requires using \"native LAS 1.4 extension\" of Vorzak\n",
                int(point_type));
    return false;
  }

  std::unique_ptr<Vorzak> config;
  if (compressor != 0 || !standard) {
    config = std::make_unique<Vorzak>();
    if (!config->setup(items, U16(compressor))) {
      print_error("%s\n", config->errorText().c_str());
      return false;
    }
    if (chunk_size >= 0) config->assignChunkSize(U32(chunk_size));
    if (compressor != 0 && chunk_size == 0 && point_type <= 5) {
      print_error(
          "adaptive chunking is depricated for point type %d.\n       only available for new LAS "
          "1.4 point types 6 or higher.\n",
          int(point_type));
      return false;
    }
    const U16 version = compressor ? U16(requested_version ? requested_version : 2) : 0;
    if (!config->assignVersion(version)) {
      print_error("%s\n", config->errorText().c_str());
      return false;
    }
    items = config->items;
  }

  writer = std::make_unique<LASrecordWriter>();
  if (!writer->configure(U32(items.size()), items.data(), config.get())) {
    print_error(config && compressor ? "point type %d of size %d not supported (with Vorzak)\n"
                                     : "point type %d of size %d not supported\n",
                int(point_type), int(record_length));
    writer.reset();
    return false;
  }

  stream = out;
  header_start = stream->tell();
  if (!write_header(*header, config.get(), point_type, record_length) || !writer->attach(stream)) {
    writer.reset();
    stream = nullptr;
    return false;
  }
  written_point_type = point_type;
  written_record_length = record_length;
  writing_new_point_type = point_type > 5 || point14;
  point_count = header->number_of_point_records ? I64(header->number_of_point_records)
                                                : I64(header->extended_number_of_point_records);
  points_written = 0;
  inventory = LASwriterInventory();
  checked_point = nullptr;
  checked_items = nullptr;
  return true;
}

bool LASwriterLAS::write_header(const LASheader& h, const Vorzak* config, U8 point_type,
                                U16 record_length) {
  ByteStreamOut* s = stream;
  FieldOut out(s);
  U8 version_major = h.version_major;
  U8 version_minor = h.version_minor;
  if (version_major != 1) {
    print_warning("header->version_major is %d. writing 1 instead.\n", version_major);
    version_major = 1;
  }
  if (version_minor > 4) {
    print_warning("header->version_minor is %d. writing 4 instead.\n", version_minor);
    version_minor = 4;
  }
  written_version_minor = version_minor;
  writing_las_1_4 = version_minor == 4;

  // The version's fields must fit the header size; a LAS 1.3 header too
  // short for the waveform field is written without it, as it was read.
  U32 fields = 227;
  const bool waveform = version_minor >= 3 && h.header_size >= 235;
  if (waveform) fields = 235;
  if (writing_las_1_4) {
    if (h.header_size < 375) {
      print_error("for LAS 1.%d header_size should at least be 375 but it is only %d\n",
                  version_minor, h.header_size);
      return false;
    }
    fields = 375;
  }
  if (fields + h.user_data_in_header_size != h.header_size) {
    print_error(
        "header_size %d does not hold the %u bytes of LAS 1.%d fields and %u bytes of "
        "header->user_data_in_header\n",
        h.header_size, fields, version_minor, h.user_data_in_header_size);
    return false;
  }

  // Records that only the writer adds count in what it writes.
  const U32 config_length = config ? 34 + 6 * U32(config->items.size()) : 0;
  I64 offset = I64(h.offset_to_point_data);
  U32 number_of_vlrs = U32(h.vlrs.size());
  if (config) {
    offset += 54 + config_length;
    number_of_vlrs++;
  }
  if (h.vlr_parcelgrid) {
    offset += 54 + 28;
    number_of_vlrs++;
  }
  if (h.vlr_lasoriginal) {
    offset += 54 + 176;
    number_of_vlrs++;
  }
  if (offset > I64(U32_MAX)) {
    print_error("offset_to_point_data %lld does not fit into 32 bits\n", (long long)offset);
    return false;
  }
  const U32 offset_to_point_data = U32(offset);
  const U8 point_data_format = U8(config && config->compressor ? (point_type | 0x80) : point_type);

  if (!out.put(h.file_signature, 4, "file_signature") ||
      !out.put(&h.file_source_ID, 2, "file_source_ID") ||
      !out.put(&h.global_encoding, 2, "global_encoding") ||
      !out.put(&h.project_ID_GUID_data_1, 4, "project_ID_GUID_data_1") ||
      !out.put(&h.project_ID_GUID_data_2, 2, "project_ID_GUID_data_2") ||
      !out.put(&h.project_ID_GUID_data_3, 2, "project_ID_GUID_data_3") ||
      !out.put(h.project_ID_GUID_data_4, 8, "project_ID_GUID_data_4") ||
      !out.put(&version_major, 1, "version_major") ||
      !out.put(&version_minor, 1, "version_minor") ||
      !out.put(h.system_identifier, 32, "system_identifier") ||
      !out.put(h.generating_software, 32, "generating_software") ||
      !out.put(&h.file_creation_day, 2, "file_creation_day") ||
      !out.put(&h.file_creation_year, 2, "file_creation_year") ||
      !out.put(&h.header_size, 2, "header_size") ||
      !out.put(&offset_to_point_data, 4, "offset_to_point_data") ||
      !out.put(&number_of_vlrs, 4, "number_of_variable_length_records") ||
      !out.put(&point_data_format, 1, "point_data_format") ||
      !out.put(&record_length, 2, "point_data_record_length") ||
      !out.put(&h.number_of_point_records, 4, "number_of_point_records")) {
    return false;
  }
  for (int i = 0; i < 5; i++) {
    if (!s->writeBytes(reinterpret_cast<const U8*>(&h.number_of_points_by_return[i]), 4)) {
      print_error("writing header->number_of_points_by_return[%d]\n", i);
      return false;
    }
  }
  if (!out.put(&h.x_scale_factor, 8, "x_scale_factor") ||
      !out.put(&h.y_scale_factor, 8, "y_scale_factor") ||
      !out.put(&h.z_scale_factor, 8, "z_scale_factor") || !out.put(&h.x_offset, 8, "x_offset") ||
      !out.put(&h.y_offset, 8, "y_offset") || !out.put(&h.z_offset, 8, "z_offset") ||
      !out.put(&h.max_x, 8, "max_x") || !out.put(&h.min_x, 8, "min_x") ||
      !out.put(&h.max_y, 8, "max_y") || !out.put(&h.min_y, 8, "min_y") ||
      !out.put(&h.max_z, 8, "max_z") || !out.put(&h.min_z, 8, "min_z")) {
    return false;
  }
  if (waveform) {
    // Waveform data are not carried over, so no start can be claimed.
    if (h.start_of_waveform_data_packet_record != 0) {
      print_warning("header->start_of_waveform_data_packet_record is %lld. writing 0 instead.\n",
                    (long long)h.start_of_waveform_data_packet_record);
    }
    const U64 zero = 0;
    if (!s->writeBytes(reinterpret_cast<const U8*>(&zero), 8)) {
      print_error("writing start_of_waveform_data_packet_record\n");
      return false;
    }
  }
  evlrs.clear();
  written_evlr_count = 0;
  written_evlr_start = 0;
  if (writing_las_1_4) {
    evlrs = h.evlrs;
    // Compressed points end at a place no header written up front can know,
    // and a table position at the very end must stay last: EVLRs there could
    // never be found again, and would hide the chunk table.
    U64 evlr_start = h.start_of_first_extended_variable_length_record;
    if (!evlrs.empty() && config && config->compressor && !s->isSeekable()) {
      print_warning("stream not seekable. cannot write %u EVLRs after compressed points.\n",
                    U32(evlrs.size()));
      evlrs.clear();
      evlr_start = 0;
    }
    written_evlr_count = U32(evlrs.size());
    const U64 announced = h.number_of_point_records ? U64(h.number_of_point_records)
                                                    : h.extended_number_of_point_records;
    // Raw records end at a known place, so outputs that cannot be patched
    // later still point at their EVLRs.
    if (!evlrs.empty() && !(config && config->compressor) && announced > 0 &&
        announced <= (U64(1) << 48)) {
      evlr_start = offset_to_point_data + announced * record_length;
    }
    written_evlr_start = I64(evlr_start);
    const U64 extended_count = announced;
    if (!out.put(&evlr_start, 8, "start_of_first_extended_variable_length_record") ||
        !out.put(&written_evlr_count, 4, "number_of_extended_variable_length_records") ||
        !out.put(&extended_count, 8, "extended_number_of_point_records")) {
      return false;
    }
    for (int i = 0; i < 15; i++) {
      const U64 count = (i < 5 && h.number_of_points_by_return[i])
                            ? U64(h.number_of_points_by_return[i])
                            : h.extended_number_of_points_by_return[i];
      if (!s->writeBytes(reinterpret_cast<const U8*>(&count), 8)) {
        print_error("writing header->extended_number_of_points_by_return[%d]\n", i);
        return false;
      }
    }
  }
  if (h.user_data_in_header_size) {
    if (h.user_data_in_header.size() != h.user_data_in_header_size) {
      print_error("there should be %d bytes of data in header->user_data_in_header\n",
                  int(h.user_data_in_header_size));
      return false;
    }
    if (!s->writeBytes(h.user_data_in_header.data(), h.user_data_in_header_size)) {
      print_error("writing %d bytes of data from header->user_data_in_header\n",
                  int(h.user_data_in_header_size));
      return false;
    }
  }

  for (size_t i = 0; i < h.vlrs.size(); i++) {
    const LASvlrRecord& r = h.vlrs[i];
    const int n = int(i);
    if (r.record_length_after_header > 65535) {
      print_error("header->vlrs[%d].record_length_after_header %llu does not fit into 16 bits\n", n,
                  (unsigned long long)r.record_length_after_header);
      return false;
    }
    const U16 length = U16(r.record_length_after_header);
    if (!s->put16(r.reserved)) {
      print_error("writing header->vlrs[%d].reserved\n", n);
      return false;
    }
    if (!s->writeBytes(reinterpret_cast<const U8*>(r.user_id), 16)) {
      print_error("writing header->vlrs[%d].user_id\n", n);
      return false;
    }
    if (!s->put16(r.record_id)) {
      print_error("writing header->vlrs[%d].record_id\n", n);
      return false;
    }
    if (!s->put16(length)) {
      print_error("writing header->vlrs[%d].record_length_after_header\n", n);
      return false;
    }
    if (!s->writeBytes(reinterpret_cast<const U8*>(r.description), 32)) {
      print_error("writing header->vlrs[%d].description\n", n);
      return false;
    }
    if (length) {
      if (r.data.size() != length) {
        print_error("there should be %d bytes of data in header->vlrs[%d].data\n", int(length), n);
        return false;
      }
      if (!s->writeBytes(r.data.data(), length)) {
        print_error("writing %d bytes of data from header->vlrs[%d].data\n", int(length), n);
        return false;
      }
    }
  }

  if (config) {
    if (!s->put16(Vorzak::RESERVED)) {
      print_error("writing reserved %d\n", int(Vorzak::RESERVED));
      return false;
    }
    if (!put_text(s, Vorzak::USER_ID, 16)) {
      print_error("writing user_id %s\n", Vorzak::USER_ID);
      return false;
    }
    if (!s->put16(Vorzak::RECORD_ID)) {
      print_error("writing record_id %d\n", int(Vorzak::RECORD_ID));
      return false;
    }
    if (!s->put16(U16(config_length))) {
      print_error("writing record_length_after_header %d\n", int(config_length));
      return false;
    }
    const std::string description = Vorzak::description();
    if (!put_text(s, description.c_str(), 32)) {
      print_error("writing description %s\n", description.c_str());
      return false;
    }
    if (!config->writePayload(*s)) return false;
  }

  if (h.vlr_parcelgrid) {
    const LASvlrParcelgrid& g = *h.vlr_parcelgrid;
    char description[64];
    snprintf(description, sizeof(description), "tile %s buffer %s", g.buffer ? "with" : "without",
             g.reversible ? ", reversible" : "");
    const U32 word = (g.implicit_levels & 0x3FFFFFFF) | (g.buffer ? 1u << 30 : 0) |
                     (g.reversible ? 1u << 31 : 0);
    if (!s->put16(0xAABB) || !put_text(s, "Quintrel", 16) || !s->put16(10) || !s->put16(28) ||
        !put_text(s, description, 32)) {
      print_error("writing header->vlr_parcelgrid\n");
      return false;
    }
    if (!s->put32(g.level)) {
      print_error("writing header->vlr_parcelgrid->level %u\n", g.level);
      return false;
    }
    if (!s->put32(g.level_index)) {
      print_error("writing header->vlr_parcelgrid->level_index %u\n", g.level_index);
      return false;
    }
    if (!s->put32(word)) {
      print_error("writing header->vlr_parcelgrid->implicit_levels %u\n", g.implicit_levels);
      return false;
    }
    const F32 bounds[4] = {g.min_x, g.max_x, g.min_y, g.max_y};
    static const char* const names[4] = {"min_x", "max_x", "min_y", "max_y"};
    for (int i = 0; i < 4; i++) {
      if (!s->writeBytes(reinterpret_cast<const U8*>(&bounds[i]), 4)) {
        print_error("writing header->vlr_parcelgrid->%s %g\n", names[i], F64(bounds[i]));
        return false;
      }
    }
  }

  lasoriginal_position = 0;
  if (h.vlr_lasoriginal) {
    const LASvlrLasoriginal& o = *h.vlr_lasoriginal;
    if (!s->put16(0xAABB) || !put_text(s, "Quintrel", 16) || !s->put16(20) || !s->put16(176) ||
        !put_text(s, "counters and bbox of original", 32)) {
      print_error("writing header->vlr_lasoriginal\n");
      return false;
    }
    lasoriginal_position = s->tell();
    if (!s->put64(U64(o.number_of_point_records))) {
      print_error("writing header->vlr_lasoriginal->number_of_point_records %u\n",
                  U32(o.number_of_point_records));
      return false;
    }
    for (U32 i = 0; i < 15; i++) {
      if (!s->put64(U64(o.number_of_points_by_return[i]))) {
        print_error("writing header->vlr_lasoriginal->number_of_points_by_return[%u] %u\n", i,
                    U32(o.number_of_points_by_return[i]));
        return false;
      }
    }
    const F64 bounds[6] = {o.min_x, o.max_x, o.min_y, o.max_y, o.min_z, o.max_z};
    static const char* const names[6] = {"min_x", "max_x", "min_y", "max_y", "min_z", "max_z"};
    for (int i = 0; i < 6; i++) {
      if (!s->writeBytes(reinterpret_cast<const U8*>(&bounds[i]), 8)) {
        print_error("writing header->vlr_lasoriginal->%s %g\n", names[i], bounds[i]);
        return false;
      }
    }
  }

  if (h.user_data_after_header_size) {
    if (h.user_data_after_header.size() != h.user_data_after_header_size) {
      print_error("there should be %d bytes of data in header->user_data_after_header\n",
                  int(h.user_data_after_header_size));
      return false;
    }
    if (!s->writeBytes(h.user_data_after_header.data(), h.user_data_after_header_size)) {
      print_error("writing %d bytes of data from header->user_data_after_header\n",
                  int(h.user_data_after_header_size));
      return false;
    }
  }
  // A header whose offset disagrees with its records would put the points
  // somewhere other than where readers look for them.
  const I64 written = s->tell() - header_start;
  if (written != I64(offset_to_point_data)) {
    print_error("wrote %lld bytes before the point data but offset_to_point_data is %u\n",
                (long long)written, offset_to_point_data);
    return false;
  }
  return true;
}

bool LASwriterLAS::check_layout(const LASpoint* point) {
  if (point->items.size() != items.size()) {
    print_error("point with %d items cannot be written as records of %d items\n",
                int(point->items.size()), int(items.size()));
    return false;
  }
  for (size_t i = 0; i < items.size(); i++) {
    if (point->items[i].type != items[i].type || point->items[i].size != items[i].size) {
      print_error("point item %d is %s of %d bytes but the records hold %s of %d bytes\n", int(i),
                  LASitem::type_name(point->items[i].type), int(point->items[i].size),
                  LASitem::type_name(items[i].type), int(items[i].size));
      return false;
    }
  }
  checked_point = point;
  checked_items = point->items.data();
  return true;
}

bool LASwriterLAS::write_point(const LASpoint* point) {
  if (!writer) return false;
  // The layout is compared once per point object; a rebuilt layout gets new
  // item storage and is compared again.
  if ((point != checked_point || point->items.data() != checked_items ||
       point->items.size() != items.size()) &&
      !check_layout(point)) {
    return false;
  }
  points_written++;
  return writer->writeRecord(point->item_targets.data());
}

bool LASwriterLAS::chunk() {
  return writer && writer->endChunk();
}

bool LASwriterLAS::update_header(const LASheader* header, bool use_inventory,
                                 bool update_extra_bytes) {
  if (header == nullptr) {
    print_error("header pointer is zero\n");
    return false;
  }
  if (stream == nullptr) {
    print_error("stream pointer is zero\n");
    return false;
  }
  if (!stream->isSeekable()) {
    print_warning("stream not seekable. cannot update header.\n");
    return false;
  }
  ByteStreamOut* s = stream;
  const U8 minor = written_version_minor;
  // The legacy fields hold what fits; LAS 1.4 carries the true counts in 64 bits.
  auto legacy = [&](I64 count) -> U32 {
    if (writing_new_point_type) return 0;
    if (count < (I64(1) << 32)) return U32(count);
    if (minor == 4) return 0;
    print_warning("too many points in LAS %d.%d file. limit is %u.\n", 1, minor, U32_MAX);
    return U32_MAX;
  };
  if (use_inventory) {
    if (!s->seek(header_start + 107) || !s->put32(legacy(inventory.number_of_point_records))) {
      print_error("updating inventory.number_of_point_records\n");
      return false;
    }
    point_count = inventory.number_of_point_records;
    for (int i = 1; i <= 5; i++) {
      if (!s->put32(legacy(inventory.number_of_points_by_return[i]))) {
        print_error("updating inventory.number_of_points_by_return[%d]\n", i);
        return false;
      }
    }
    // Without points there are no bounds to report.
    const bool none = inventory.number_of_point_records == 0;
    const F64 box[6] = {none ? 0.0 : get_x(inventory.max_X), none ? 0.0 : get_x(inventory.min_X),
                        none ? 0.0 : get_y(inventory.max_Y), none ? 0.0 : get_y(inventory.min_Y),
                        none ? 0.0 : get_z(inventory.max_Z), none ? 0.0 : get_z(inventory.min_Z)};
    static const char* const names[6] = {"max_X", "min_X", "max_Y", "min_Y", "max_Z", "min_Z"};
    if (!s->seek(header_start + 179)) {
      print_error("updating inventory.%s\n", names[0]);
      return false;
    }
    for (int i = 0; i < 6; i++) {
      if (!s->writeBytes(reinterpret_cast<const U8*>(&box[i]), 8)) {
        print_error("updating inventory.%s\n", names[i]);
        return false;
      }
    }
    if (minor == 4) {
      if (!s->seek(header_start + 247) || !s->put64(U64(inventory.number_of_point_records))) {
        print_error("updating header->extended_number_of_point_records\n");
        return false;
      }
      for (int i = 1; i <= 15; i++) {
        if (!s->put64(U64(inventory.number_of_points_by_return[i]))) {
          print_error("updating header->extended_number_of_points_by_return[%d]\n", i - 1);
          return false;
        }
      }
    }
  } else {
    const U32 count = writing_new_point_type ? 0 : header->number_of_point_records;
    if (!s->seek(header_start + 107) || !s->put32(count)) {
      print_error("updating header->number_of_point_records\n");
      return false;
    }
    point_count = header->number_of_point_records ? I64(header->number_of_point_records)
                                                  : I64(header->extended_number_of_point_records);
    for (int i = 0; i < 5; i++) {
      if (!s->put32(writing_new_point_type ? 0 : header->number_of_points_by_return[i])) {
        print_error("updating header->number_of_points_by_return[%d]\n", i);
        return false;
      }
    }
    const F64 box[6] = {header->max_x, header->min_x, header->max_y,
                        header->min_y, header->max_z, header->min_z};
    static const char* const names[6] = {"max_x", "min_x", "max_y", "min_y", "max_z", "min_z"};
    if (!s->seek(header_start + 179)) {
      print_error("updating header->%s\n", names[0]);
      return false;
    }
    for (int i = 0; i < 6; i++) {
      if (!s->writeBytes(reinterpret_cast<const U8*>(&box[i]), 8)) {
        print_error("updating header->%s\n", names[i]);
        return false;
      }
    }
    if (minor >= 3 && header->header_size >= 235) {
      if (header->start_of_waveform_data_packet_record != 0) {
        print_warning("header->start_of_waveform_data_packet_record is %lld. writing 0 instead.\n",
                      (long long)header->start_of_waveform_data_packet_record);
      }
      if (!s->put64(0)) {
        print_error("updating header->start_of_waveform_data_packet_record\n");
        return false;
      }
    }
    if (minor == 4) {
      if (!s->seek(header_start + 235) || !s->put64(U64(written_evlr_start))) {
        print_error("updating header->start_of_first_extended_variable_length_record\n");
        return false;
      }
      if (!s->put32(written_evlr_count)) {
        print_error("updating header->number_of_extended_variable_length_records\n");
        return false;
      }
      const U64 count64 = header->number_of_point_records
                              ? U64(header->number_of_point_records)
                              : header->extended_number_of_point_records;
      if (!s->put64(count64)) {
        print_error("updating header->extended_number_of_point_records\n");
        return false;
      }
      for (int i = 0; i < 15; i++) {
        const U64 c = (i < 5 && header->number_of_points_by_return[i])
                          ? U64(header->number_of_points_by_return[i])
                          : header->extended_number_of_points_by_return[i];
        if (!s->put64(c)) {
          print_error("updating header->extended_number_of_points_by_return[%d]\n", i);
          return false;
        }
      }
    }
  }
  if (!s->seekEnd()) return false;
  if (update_extra_bytes && header->number_attributes) {
    I64 position = header_start + header->header_size;
    for (size_t i = 0; i < header->vlrs.size(); i++) {
      const LASvlrRecord& r = header->vlrs[i];
      if (r.is("LASF_Spec", 4)) {
        const size_t bytes = std::min(r.data.size(), size_t(header->number_attributes) * 192);
        if (!s->seek(position + 54) ||
            !s->writeBytes(reinterpret_cast<const U8*>(header->attributes.data()), U32(bytes))) {
          print_error("writing %d bytes of data from header->vlrs[%d].data\n", int(bytes), int(i));
          return false;
        }
        return s->seekEnd();
      }
      position += 54 + I64(r.record_length_after_header);
    }
    print_warning("could not find extra bytes VLR for update\n");
    return s->seekEnd();
  }
  return true;
}

I64 LASwriterLAS::close(bool update_npoints) {
  if (stream == nullptr) return 0;
  ByteStreamOut* s = stream;
  if (points_written != point_count && (point_count != 0 || !update_npoints)) {
    print_warning("written %lld points but expected %lld points\n", (long long)points_written,
                  (long long)point_count);
  }
  if (writer) {
    if (!writer->finish()) print_error("finishing the point records\n");
    writer.reset();
  }
  if (writing_las_1_4 && !evlrs.empty()) {
    const I64 start = s->tell() - header_start;
    for (size_t i = 0; i < evlrs.size(); i++) {
      const LASvlrRecord& r = evlrs[i];
      const int n = int(i);
      if (!s->put16(r.reserved)) {
        print_error("writing evlrs[%d].reserved\n", n);
        break;
      }
      if (!s->writeBytes(reinterpret_cast<const U8*>(r.user_id), 16)) {
        print_error("writing evlrs[%d].user_id\n", n);
        break;
      }
      if (!s->put16(r.record_id)) {
        print_error("writing evlrs[%d].record_id\n", n);
        break;
      }
      if (!s->put64(r.record_length_after_header)) {
        print_error("writing evlrs[%d].record_length_after_header\n", n);
        break;
      }
      if (!s->writeBytes(reinterpret_cast<const U8*>(r.description), 32)) {
        print_error("writing evlrs[%d].description\n", n);
        break;
      }
      if (r.record_length_after_header) {
        if (r.data.size() != r.record_length_after_header) {
          print_error("there should be %u bytes of data in evlrs[%d].data\n",
                      U32(r.record_length_after_header), n);
          break;
        }
        bool ok = true;
        for (size_t at = 0; ok && at < r.data.size(); at += 1 << 30) {
          const U32 len = U32(std::min<size_t>(r.data.size() - at, 1 << 30));
          ok = s->writeBytes(r.data.data() + at, len);
        }
        if (!ok) {
          print_error("writing %u bytes of data from evlrs[%d].data\n",
                      U32(r.record_length_after_header), n);
          break;
        }
      }
    }
    if (start != written_evlr_start) {
      if (s->isSeekable()) {
        if (!s->seek(header_start + 235) || !s->put64(U64(start)) || !s->seekEnd()) {
          print_error("updating header->start_of_first_extended_variable_length_record\n");
        }
      } else {
        print_warning(
            "stream not seekable. cannot update start_of_first_extended_variable_length_record "
            "from %lld to %lld.\n",
            (long long)written_evlr_start, (long long)start);
      }
    }
  }
  if (update_npoints && points_written != point_count) {
    if (s->isSeekable()) {
      U32 legacy = 0;
      if (!writing_new_point_type) {
        legacy =
            points_written < (I64(1) << 32) ? U32(points_written) : (writing_las_1_4 ? 0 : U32_MAX);
      }
      bool ok = s->seek(header_start + 107) && s->put32(legacy);
      if (ok && writing_las_1_4) ok = s->seek(header_start + 247) && s->put64(U64(points_written));
      if (!ok || !s->seekEnd()) print_error("updating header->number_of_point_records\n");
    } else {
      print_warning("stream not seekable. cannot update header from %lld to %lld points.\n",
                    (long long)point_count, (long long)points_written);
    }
  }
  const I64 bytes = s->tell() - header_start;
  if (buffered && !buffered->flush()) print_error("writing to the output file failed\n");
  buffered = nullptr;
  stream = nullptr;
  owned_stream.reset();
  if (file) {
    // Buffered bytes that cannot be flushed are lost, so say so.
    if (fclose(file) != 0) print_error("closing the output file failed\n");
    file = nullptr;
  }
  evlrs.clear();
  point_count = points_written;
  points_written = 0;
  return bytes;
}
