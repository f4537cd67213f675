#include "las/layers/tierling.hpp"

#include <cinttypes>
#include <cstring>
#include <vector>

#include "las/core/messages.hpp"

namespace trl {

U32 return_type_class(const LASpoint& point) {
  static const U8 kClass[8][8] = {{0, 1, 2, 3, 3, 3, 3, 3}, {1, 0, 1, 1, 1, 1, 1, 1},
                                  {2, 1, 2, 3, 3, 3, 3, 3}, {3, 1, 3, 2, 3, 3, 3, 3},
                                  {3, 1, 3, 3, 2, 3, 3, 3}, {3, 1, 3, 3, 3, 2, 3, 3},
                                  {3, 1, 3, 3, 3, 3, 2, 3}, {3, 1, 3, 3, 3, 3, 3, 2}};
  return kClass[point.number_of_returns][point.return_number];
}

void put_inventory(LASheader* header, const LASwriterInventory& inv) {
  const U64 count = U64(inv.number_of_point_records);
  // LAS 1.4 point types and counts beyond 32 bits leave the legacy counts 0.
  const bool las14 = header->version_minor >= 4;
  const bool legacy = !las14 || ((header->point_data_format & 0x3F) < 6 && count <= U32_MAX);
  auto clamp32 = [](I64 v) { return v > I64(U32_MAX) ? U32_MAX : U32(v); };
  header->number_of_point_records = legacy ? clamp32(inv.number_of_point_records) : 0;
  for (int i = 0; i < 5; i++) {
    header->number_of_points_by_return[i] =
        legacy ? clamp32(inv.number_of_points_by_return[i + 1]) : 0;
  }
  if (las14) {
    header->extended_number_of_point_records = count;
    for (int i = 0; i < 15; i++) {
      header->extended_number_of_points_by_return[i] = U64(inv.number_of_points_by_return[i + 1]);
    }
  }
  const bool none = count == 0;
  header->max_x = none ? 0.0 : header->get_x(inv.max_X);
  header->min_x = none ? 0.0 : header->get_x(inv.min_X);
  header->max_y = none ? 0.0 : header->get_y(inv.max_Y);
  header->min_y = none ? 0.0 : header->get_y(inv.min_Y);
  header->max_z = none ? 0.0 : header->get_z(inv.max_Z);
  header->min_z = none ? 0.0 : header->get_z(inv.min_Z);
}

}  // namespace trl

namespace {

// Reads a field, turning the end of the data into the field's error line.
template <typename Read>
bool read_or_fail(Read read, const char* message) {
  try {
    read();
    return true;
  } catch (const EndOfData&) {
    print_error("%s", message);
    return false;
  }
}

bool skip_or_fail(ByteStreamIn* stream, U32 n, const char* message) {
  return read_or_fail(
      [&] {
        if (!stream->skipBytes(n)) throw EndOfData();
      },
      message);
}

const char* type_name(U32 type) {
  switch (type) {
    case trl::kReplace:
      return "replace";
    case trl::kDiff:
      return "diff";
    case trl::kAdd:
      return "add";
    case trl::kHeader:
      return "header";
    case trl::kDelete:
      return "delete";
    case trl::kAppend:
      return "append";
    case trl::kFilter:
      return "filter";
    case trl::kTransform:
      return "transform";
    case trl::kAddVLR:
      return "add VRL";
    default:
      return "unknown";
  }
}

const char* fields_name(U32 fields) {
  switch (fields) {
    case trl::kFieldAll:
      return "all";
    case trl::kFieldXY:
      return "XY";
    case trl::kFieldZ:
      return "Z";
    case trl::kFieldIntensity:
      return "intensity";
    case trl::kFieldClassification:
      return "classification";
    case trl::kFieldWithheld:
      return "withheld_flag";
    case trl::kFieldSynthetic:
      return "synthetic_flag";
    case trl::kFieldKeypoint:
      return "keypoint_flag";
    case trl::kFieldOverlap:
      return "overlap_flag";
    case trl::kFieldUserData:
      return "user_data";
    case trl::kFieldRGB:
      return "RGB";
    case trl::kFieldExtended:
      return "extended LAS 1.4 attributes";
    default:
      return "unknown";
  }
}

const char* compression_name(U32 compression) {
  switch (compression) {
    case trl::kCompressionNone:
      return "none";
    case trl::kCompressionPointwise:
      return "pointwise";
    default:
      return "unknown";
  }
}

struct MaskName {
  U32 bit;
  const char* name;
};
const MaskName kModificationNames[] = {
    {0x1, "file_source_ID"},
    {0x2, "global_encoding"},
    {0x8, "version"},
    {0x10, "system_identifier"},
    {0x20, "generating_software"},
    {0x40, "file_creation_date"},
    {0x80, "header_size"},
    {0x100, "offset_to_point_data"},
    {0x200, "number_of_vlrs"},
    {0x400, "point_data_format"},
    {0x800, "point_data_record_length"},
    {0x1000, "number_of_point_records"},
    {0x2000, "number_of_points_by_return"},
    {0x4000, "x_scale_factor"},
    {0x8000, "y_scale_factor"},
    {0x10000, "z_scale_factor"},
    {0x20000, "x_offset"},
    {0x40000, "y_offset"},
    {0x80000, "z_offset"},
    {0x100000, "max_x min_x"},
    {0x200000, "max_y min_y"},
    {0x400000, "max_z min_z"},
};

// The options that rebuild the rules.
std::string ignore_options(const LASignore& rules) {
  std::string text;
  auto add = [&text](const char* option) {
    if (!text.empty()) text += ' ';
    text += option;
  };
  const U32 flags = rules.get_flags();
  if (flags & LASignore::CLASS_WORDS) {
    add("-ignore_class");
    for (U32 code = 0; code < 256; code++) {
      if (rules.get_class_word(code >> 5) & (1u << (code & 31))) text += " " + std::to_string(code);
    }
  }
  const bool single = flags & LASignore::SINGLE;
  const bool first = flags & LASignore::FIRST_OF_MANY;
  const bool last = flags & LASignore::LAST_OF_MANY;
  if (single && (first || last)) {
    if (first) add("-ignore_first");
    if (last) add("-ignore_last");
  } else {
    if (single) add("-ignore_single");
    if (first) add("-ignore_first_of_many");
    if (last) add("-ignore_last_of_many");
  }
  if (flags & LASignore::INTERMEDIATE) add("-ignore_intermediate");
  if (flags & LASignore::SYNTHETIC) add("-ignore_synthetic");
  if (flags & LASignore::KEYPOINT) add("-ignore_keypoint");
  if (flags & LASignore::WITHHELD) add("-ignore_withheld");
  if (flags & LASignore::OVERLAP) add("-ignore_overlap");
  return text;
}

U8* bytes_of(char* text) {
  return reinterpret_cast<U8*>(text);
}
const U8* bytes_of(const char* text) {
  return reinterpret_cast<const U8*>(text);
}

// The header fields a modification mask selects, in file order. One walker
// serves writing and reading so that the two cannot disagree.
template <typename Header, typename Visitor>
bool visit_modifications(U32 mask, Header& h, Visitor& v) {
  if ((mask & 0x1) && !v.u16(h.file_source_ID, "file_source_ID")) return false;
  if ((mask & 0x2) && !v.u16(h.global_encoding, "global_encoding")) return false;
  if (mask & 0x8) {
    if (!v.u8(h.version_major, "version_major")) return false;
    if (!v.u8(h.version_minor, "version_minor")) return false;
  }
  if ((mask & 0x10) && !v.bytes(bytes_of(h.system_identifier), 32, "system_identifier")) {
    return false;
  }
  if ((mask & 0x20) && !v.bytes(bytes_of(h.generating_software), 32, "generating_software")) {
    return false;
  }
  if (mask & 0x40) {
    if (!v.u16(h.file_creation_day, "file_creation_day")) return false;
    if (!v.u16(h.file_creation_year, "file_creation_year")) return false;
  }
  if ((mask & 0x80) && !v.u16(h.header_size, "header_size")) return false;
  if ((mask & 0x100) && !v.u32(h.offset_to_point_data, "offset_to_point_data")) return false;
  if ((mask & 0x200) &&
      !v.u32(h.number_of_variable_length_records, "number_of_variable_length_records")) {
    return false;
  }
  if ((mask & 0x400) && !v.u8(h.point_data_format, "point_data_format")) return false;
  if ((mask & 0x800) && !v.u16(h.point_data_record_length, "point_data_record_length")) {
    return false;
  }
  if ((mask & 0x1000) && !v.u32(h.number_of_point_records, "number_of_point_records")) {
    return false;
  }
  if (mask & 0x2000) {
    for (int i = 0; i < 5; i++) {
      if (!v.u32_indexed(h.number_of_points_by_return[i], "number_of_points_by_return", i)) {
        return false;
      }
    }
  }
  if ((mask & 0x4000) && !v.f64(h.x_scale_factor, "x_scale_factor")) return false;
  if ((mask & 0x8000) && !v.f64(h.y_scale_factor, "y_scale_factor")) return false;
  if ((mask & 0x10000) && !v.f64(h.z_scale_factor, "z_scale_factor")) return false;
  if ((mask & 0x20000) && !v.f64(h.x_offset, "x_offset")) return false;
  if ((mask & 0x40000) && !v.f64(h.y_offset, "y_offset")) return false;
  if ((mask & 0x80000) && !v.f64(h.z_offset, "z_offset")) return false;
  if (mask & 0x100000) {
    if (!v.f64(h.max_x, "max_x")) return false;
    if (!v.f64(h.min_x, "min_x")) return false;
  }
  if (mask & 0x200000) {
    if (!v.f64(h.max_y, "max_y")) return false;
    if (!v.f64(h.min_y, "min_y")) return false;
  }
  if (mask & 0x400000) {
    if (!v.f64(h.max_z, "max_z")) return false;
    if (!v.f64(h.min_z, "min_z")) return false;
  }
  if ((mask & 0x2000000) && !v.u32(h.number_of_extended_variable_length_records,
                                   "number_of_extended_variable_length_records")) {
    return false;
  }
  if ((mask & 0x4000000) &&
      !v.u64(h.extended_number_of_point_records, "extended_number_of_point_records")) {
    return false;
  }
  if (mask & 0x8000000) {
    for (int i = 0; i < 15; i++) {
      if (!v.u64_indexed(h.extended_number_of_points_by_return[i],
                         "extended_number_of_points_by_return", i)) {
        return false;
      }
    }
  }
  return true;
}

struct ModificationWriter {
  ByteStreamOut* out;
  bool fail(const char* name) {
    print_error("writing modified %s\n", name);
    return false;
  }
  bool u8(const U8& v, const char* name) { return out->writeByte(v) || fail(name); }
  bool u16(const U16& v, const char* name) { return out->put16(v) || fail(name); }
  bool u32(const U32& v, const char* name) { return out->put32(v) || fail(name); }
  bool u64(const U64& v, const char* name) { return out->put64(v) || fail(name); }
  bool f64(const F64& v, const char* name) {
    return out->write64LE(reinterpret_cast<const U8*>(&v)) || fail(name);
  }
  bool bytes(const U8* v, U32 n, const char* name) { return out->writeBytes(v, n) || fail(name); }
  bool u32_indexed(const U32& v, const char* name, int i) {
    if (out->put32(v)) return true;
    print_error("writing modified %s[%d]\n", name, i);
    return false;
  }
  bool u64_indexed(const U64& v, const char* name, int i) {
    if (out->put64(v)) return true;
    print_error("writing modified %s[%d]\n", name, i);
    return false;
  }
};

// Over the bytes of all modifications, read in one piece beforehand.
struct ModificationReader {
  ByteStreamIn* in;
  template <typename T>
  bool value(T& v) {
    return bytes(reinterpret_cast<U8*>(&v), sizeof(T), nullptr);
  }
  bool u8(U8& v, const char*) { return value(v); }
  bool u16(U16& v, const char*) { return value(v); }
  bool u32(U32& v, const char*) { return value(v); }
  bool u64(U64& v, const char*) { return value(v); }
  bool f64(F64& v, const char*) { return value(v); }
  bool bytes(U8* v, U32 n, const char*) {
    try {
      in->readBytes(v, n);
      return true;
    } catch (const EndOfData&) {
      return false;
    }
  }
  bool u32_indexed(U32& v, const char*, int) { return value(v); }
  bool u64_indexed(U64& v, const char*, int) { return value(v); }
};

U64 modification_bytes(U32 mask) {
  const LASheader scratch;
  ByteStreamOutNil nil;
  ModificationWriter writer{&nil};
  visit_modifications(mask, scratch, writer);
  return U64(nil.tell());
}

}  // namespace

Tierling::Tierling(U32 type, U32 fields, U32 compression)
    : type_(type), fields_(fields), compression_(compression) {}

Tierling::~Tierling() = default;

void Tierling::describe() const {
  print_message("  start_position     %9" PRId64 "\n", I64(start_position_));
  print_message("  size               %9" PRId64 "\n", I64(size_));
  print_message("  type               %9d (%s)\n", int(type_), type_name(type_));
  print_message("  fields             %9d (%s)\n", int(fields_), fields_name(fields_));
  print_message("  compression        %9d (%s)\n", int(compression_),
                compression_name(compression_));
  std::string names;
  for (const MaskName& m : kModificationNames) {
    if (modification_mask_ & m.bit) {
      if (!names.empty()) names += ' ';
      names += m.name;
    }
  }
  if (names.empty()) {
    print_message("  modification_mask  %9d\n", int(modification_mask_));
  } else {
    print_message("  modification_mask  %9d (%s)\n", int(modification_mask_), names.c_str());
  }
  print_message("  ignore_mask        %9d %s\n", int(get_flags()), ignore_options(*this).c_str());
  print_message("  header_size        %9d\n", int(header_size_));
  print_message("  modification size  %9u\n", U32(modification_bytes(modification_mask_)));
  U32 ignore_size = 0;
  for (U32 k = 0; k < 8; k++) {
    if (get_flags() & (1u << k)) ignore_size += 4;
  }
  print_message("  ignore size        %9u\n", ignore_size);
  print_message("  description size   %9u\n", U32(description_.size()));
  print_message("  description           %s\n", description_.c_str());
}

bool Tierling::start_writing(ByteStreamOut* stream) {
  if (stream) {
    buffer_.reset();
    if (!write_layer_header(stream)) return false;
    data_out_ = stream;
  } else {
    buffer_ = std::make_unique<ByteStreamOutArrayLE>(4096);
    data_out_ = buffer_.get();
  }
  return start_writing_data(data_out_);
}

bool Tierling::done_writing(ByteStreamOut* stream) {
  if (!stream || !data_out_) return false;
  if (!end_writing_data()) return false;
  if (buffer_) {
    if (!write_layer_header(stream)) return false;
    const U8* data = buffer_->data();
    for (I64 left = buffer_->size(); left > 0;) {
      const U32 n = U32(left > (1 << 30) ? (1 << 30) : left);
      if (!stream->writeBytes(data, n)) {
        print_error("writing %u bytes from ByteStreamOutArray to stream\n", n);
        return false;
      }
      data += n;
      left -= n;
    }
    buffer_.reset();
  }
  data_out_ = nullptr;
  if (header_) update_header(header_);
  const I64 end = stream->tell();
  size_ = U64(end) - start_position_;
  if (!stream->seek(I64(start_position_)) || !stream->put64(size_)) {
    print_error("updating layer size\n");
    return false;
  }
  if (!stream->seek(I64(start_position_ + header_size_)) || !write_modifications(stream)) {
    print_error("updating LAS header\n");
    return false;
  }
  return stream->seek(end);
}

bool Tierling::start_reading(ByteStreamIn* stream) {
  if (!stream) {
    print_error("pointer to ByteStreamIn is zero\n");
    return false;
  }
  data_in_ = stream;
  return start_reading_data(stream);
}

bool Tierling::record(const LASpoint&, const LASpoint&) {
  return true;
}

bool Tierling::apply(LASpoint*) {
  return true;
}

bool Tierling::start_writing_data(ByteStreamOut*) {
  return true;
}

bool Tierling::end_writing_data() {
  return true;
}

bool Tierling::start_reading_data(ByteStreamIn*) {
  return true;
}

bool Tierling::adjust_point(LASpoint*) {
  return true;
}

bool Tierling::next_appended_point(LASpoint*) {
  return false;
}

bool Tierling::done_reading() {
  data_in_ = nullptr;
  return true;
}

void Tierling::update_header(LASheader*) {}

bool Tierling::write_layer_header(ByteStreamOut* stream) {
  start_position_ = U64(stream->tell());
  struct Field {
    U32 value;
    const char* message;
  };
  if (!stream->put64(size_)) {
    print_error("writing layer size\n");
    return false;
  }
  const Field fields[] = {
      {type_, "writing layer type\n"},
      {fields_, "writing layer fields\n"},
      {compression_, "writing layer compression\n"},
      {modification_mask_, "writing layer modification_mask\n"},
      {get_flags(), "writing layer ignore_mask\n"},
      {U32(description_.size()), "writing layer description_size\n"},
      {0, "writing layer reserved1\n"},
      {0, "writing layer reserved2\n"},
      {header_size_, "writing layer header_size\n"},
  };
  for (const Field& f : fields) {
    if (!stream->put32(f.value)) {
      print_error("%s", f.message);
      return false;
    }
  }
  if (!write_modifications(stream)) {
    print_error("writing LAS header modifications\n");
    return false;
  }
  for (U32 k = 0; k < 8; k++) {
    if ((get_flags() & (1u << k)) && !stream->put32(get_class_word(k))) {
      print_error("writing ignore_classification_mask[%d]\n", int(k));
      return false;
    }
  }
  if (!description_.empty() && !stream->writeBytes(reinterpret_cast<const U8*>(description_.data()),
                                                   U32(description_.size()))) {
    print_error("writing layer description\n");
    return false;
  }
  if (!write_specialized_header(stream)) {
    print_error("writing specialized header\n");
    return false;
  }
  return true;
}

bool Tierling::write_modifications(ByteStreamOut* stream) const {
  const LASheader defaults;
  ModificationWriter writer{stream};
  return visit_modifications(modification_mask_, header_ ? *header_ : defaults, writer);
}

bool Tierling::read_modifications(ByteStreamIn* stream) {
  // All bytes first: a layer whose modifications end early changes nothing.
  std::vector<U8> bytes(modification_bytes(modification_mask_));
  try {
    if (!bytes.empty()) stream->readBytes(bytes.data(), U32(bytes.size()));
  } catch (const EndOfData&) {
    return false;
  }
  LASheader ignored;
  ByteStreamInArrayLE in(bytes.data(), I64(bytes.size()));
  ModificationReader reader{&in};
  return visit_modifications(modification_mask_, header_ ? *header_ : ignored, reader);
}

bool Tierling::read_layer_header_rest(ByteStreamIn* stream, I64 start, U64 size,
                                      U32 modification_mask, U32 ignore_mask, U32 description_size,
                                      U32 header_size) {
  start_position_ = U64(start);
  size_ = size;
  modification_mask_ = modification_mask;
  header_size_ = header_size;
  if (header_size < trl::kLayerHeaderSize) {
    print_error("layer header_size %u smaller than %u\n", header_size, trl::kLayerHeaderSize);
    return false;
  }
  U32 ignore_words = 0;
  for (U32 k = 0; k < 8; k++) {
    if (ignore_mask & (1u << k)) ignore_words++;
  }
  // Everything up to the specialized header lies inside the layer.
  const U64 fixed = U64(header_size) + modification_bytes(modification_mask) + 4ull * ignore_words +
                    U64(description_size);
  if (size < fixed) {
    print_error("layer size %" PRIu64 " too small for its %" PRIu64 " header bytes\n", size, fixed);
    return false;
  }
  if (header_size > trl::kLayerHeaderSize &&
      !skip_or_fail(stream, header_size - trl::kLayerHeaderSize, "reading layer header_size\n")) {
    return false;
  }
  if (!read_modifications(stream)) {
    print_error("reading LAS header modifications\n");
    return false;
  }
  clear();
  set_flags(ignore_mask);
  for (U32 k = 0; k < 8; k++) {
    if (!(ignore_mask & (1u << k))) continue;
    U32 word = 0;
    if (!read_or_fail([&] { word = stream->get32(); }, "reading LAS point ignores\n")) {
      return false;
    }
    for (U32 b = 0; b < 32; b++) {
      if (word & (1u << b)) add_class(32 * k + b);
    }
  }
  // In pieces, so that a size the file does not back is never allocated.
  description_.clear();
  for (U32 left = description_size; left > 0;) {
    const U32 n = left < 65536 ? left : 65536;
    const size_t at = description_.size();
    description_.resize(at + n);
    if (!read_or_fail([&] { stream->readBytes(reinterpret_cast<U8*>(&description_[at]), n); },
                      "reading layer description\n")) {
      return false;
    }
    left -= n;
  }
  return true;
}

bool Tierling::write_specialized_header(ByteStreamOut* stream) const {
  if (!stream->put16(2)) {
    print_error("writing layer specialized header offset_to_data\n");
    return false;
  }
  return true;
}

bool Tierling::read_specialized_header(ByteStreamIn* stream) {
  U16 offset_to_data = 0;
  if (!read_or_fail([&] { offset_to_data = stream->get16(); },
                    "reading layer specialized header offset_to_data\n")) {
    return false;
  }
  if (offset_to_data < 2) {
    print_error("offset_to_data %d < 2\n", int(offset_to_data));
    return false;
  }
  return skip_specialized_rest(stream, offset_to_data, 2);
}

bool Tierling::write_byte_fields(ByteStreamOut* stream, const char* kind, const U8* values,
                                 const char* const* names, U32 count) {
  if (!stream || !stream->put16(U16(2 + count))) {
    print_error("writing layer %s specialized header offset_to_data\n", kind);
    return false;
  }
  for (U32 i = 0; i < count; i++) {
    if (!stream->writeByte(values[i])) {
      print_error("writing layer %s specialized header %s\n", kind, names[i]);
      return false;
    }
  }
  return true;
}

bool Tierling::read_byte_fields(ByteStreamIn* stream, const char* kind, U8* values,
                                const char* const* names, U32 count) {
  U16 offset_to_data = 0;
  if (!read_field([&] { offset_to_data = stream->get16(); }, kind, "offset_to_data")) {
    return false;
  }
  if (offset_to_data < 2 + count) {
    print_error("layer %s specialized has offset_to_data %d < %u\n", kind, offset_to_data,
                2 + count);
    return false;
  }
  for (U32 i = 0; i < count; i++) {
    if (!read_field([&] { values[i] = U8(stream->readByte()); }, kind, names[i])) return false;
  }
  return skip_specialized_rest(stream, offset_to_data, 2 + count);
}

bool Tierling::skip_specialized_rest(ByteStreamIn* stream, U32 offset_to_data, U32 consumed) {
  if (offset_to_data < consumed) return false;
  if (offset_to_data == consumed) return true;
  return skip_or_fail(stream, offset_to_data - consumed, "reading layer specialized header\n");
}
