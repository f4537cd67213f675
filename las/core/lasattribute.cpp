#include "las/core/lasattribute.hpp"

#include <cstddef>
#include <new>

#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"
#include "las/core/messages.hpp"

// Copies text into a fixed-width field, zero-padded, never past its end.
static void copy_field(char* field, size_t width, const char* text) {
  memset(field, 0, width);
  if (text) memcpy(field, text, strnlen(text, width));
}

static_assert(offsetof(LASextraAttribute, name) == 4, "descriptor layout");
static_assert(offsetof(LASextraAttribute, no_data) == 40, "descriptor layout");
static_assert(offsetof(LASextraAttribute, scale) == 112, "descriptor layout");
static_assert(offsetof(LASextraAttribute, description) == 160, "descriptor layout");

LASextraAttribute::LASextraAttribute(U8 type, const char* attribute_name,
                                     const char* attribute_description) {
  data_type = type;
  copy_field(name, sizeof(name), attribute_name);
  copy_field(description, sizeof(description), attribute_description);
}

I32 LASextraAttribute::get_size() const {
  if (data_type == 0) return options;
  if (data_type > 30) return 0;
  static const I32 base[10] = {1, 1, 2, 2, 4, 4, 8, 8, 4, 8};
  return base[(data_type - 1) % 10] * ((data_type - 1) / 10 + 1);
}

template <class T>
static F64 load_as(const U8* bytes) {
  T v;
  memcpy(&v, bytes, sizeof(T));
  return F64(v);
}

F64 LASextraAttribute::get_value(const U8* bytes) const {
  // An unknown type, or opaque bytes of size 0, holds nothing to read.
  if (get_size() <= 0) return 0.0;
  F64 v;
  switch (data_type == 0 ? 0 : (data_type - 1) % 10) {
    case 0:
      v = load_as<U8>(bytes);
      break;
    case 1:
      v = load_as<I8>(bytes);
      break;
    case 2:
      v = load_as<U16>(bytes);
      break;
    case 3:
      v = load_as<I16>(bytes);
      break;
    case 4:
      v = load_as<U32>(bytes);
      break;
    case 5:
      v = load_as<I32>(bytes);
      break;
    case 6:
      v = load_as<U64>(bytes);
      break;
    case 7:
      v = load_as<I64>(bytes);
      break;
    case 8:
      v = load_as<F32>(bytes);
      break;
    default:
      v = load_as<F64>(bytes);
      break;
  }
  if (has_scale()) v *= scale[0];
  if (has_offset()) v += offset[0];
  return v;
}

bool LASattributeSet::init_attributes(U32 count, const LASextraAttribute* descriptors) {
  clear_attributes();
  if (count == 0) return true;
  if (!descriptors) return false;
  try {
    attributes.assign(descriptors, descriptors + count);
    attribute_starts.resize(count);
    attribute_sizes.resize(count);
  } catch (const std::bad_alloc&) {
    clear_attributes();
    return false;
  }
  I32 start = 0;
  for (U32 i = 0; i < count; i++) {
    attribute_starts[i] = start;
    attribute_sizes[i] = attributes[i].get_size();
    start += attribute_sizes[i];
  }
  number_attributes = I32(count);
  return true;
}

I32 LASattributeSet::add_attribute(const LASextraAttribute& descriptor) {
  const I32 size = descriptor.get_size();
  if (size == 0) return -1;
  const I32 start = get_attributes_size();
  attributes.push_back(descriptor);
  attribute_starts.push_back(start);
  attribute_sizes.push_back(size);
  return number_attributes++;
}

void LASattributeSet::truncate_attributes(I32 count) {
  if (count < 0 || count >= number_attributes) return;
  attributes.resize(size_t(count));
  attribute_starts.resize(size_t(count));
  attribute_sizes.resize(size_t(count));
  number_attributes = count;
}

void LASattributeSet::clear_attributes() {
  attributes.clear();
  attribute_starts.clear();
  attribute_sizes.clear();
  number_attributes = 0;
}

I32 LASattributeSet::get_attribute_index(const char* name) const {
  for (I32 i = 0; i < number_attributes; i++) {
    if (strncmp(attributes[size_t(i)].name, name, sizeof(attributes[size_t(i)].name)) == 0) {
      return i;
    }
  }
  return -1;
}

F64 LASattributeSet::get_attribute_value(I32 index, const U8* extra_bytes,
                                         I32 extra_bytes_count) const {
  if (index < 0 || index >= number_attributes || !extra_bytes) return 0.0;
  const I32 start = attribute_starts[size_t(index)];
  const I32 size = attribute_sizes[size_t(index)];
  if (size <= 0 || start + size > extra_bytes_count) return 0.0;
  return attributes[size_t(index)].get_value(extra_bytes + start);
}

std::vector<U8> LASvlrPayload::get_payload() const {
  ByteStreamOutArrayLE out(get_payload_size());
  if (!save(&out)) return {};
  std::vector<U8> bytes = out.takeData();
  bytes.resize(size_t(get_payload_size()));
  return bytes;
}

bool LASvlrPayload::set_payload(const U8* bytes, I64 size) {
  ByteStreamInArrayLE in(bytes, size);
  return load(&in);
}

const char* LASvlrRasterVZK::get_user_id() const {
  static const char id[16] = "Raster VZK";
  return id;
}

bool LASvlrRasterVZK::save(ByteStreamOut* stream) const {
  const I32* ints[6] = {&nbands, &nbits, &ncols, &nrows, &reserved1, &reserved2};
  static const char* const int_names[6] = {"nbands", "nbits",     "ncols",
                                           "nrows",  "reserved1", "reserved2"};
  for (int i = 0; i < 6; i++) {
    if (!stream->write32LE(reinterpret_cast<const U8*>(ints[i]))) {
      print_error("writing LASvlrRasterVZK.%s\n", int_names[i]);
      return false;
    }
  }
  const F64* doubles[7] = {&stepx, &stepx_y, &stepy, &stepy_x, &llx, &lly, &sigmaxy};
  static const char* const double_names[7] = {"stepx", "stepx_y", "stepy",  "stepy_x",
                                              "llx",   "lly",     "sigmaxy"};
  for (int i = 0; i < 7; i++) {
    if (!stream->write64LE(reinterpret_cast<const U8*>(doubles[i]))) {
      print_error("writing LASvlrRasterVZK.%s\n", double_names[i]);
      return false;
    }
  }
  return true;
}

bool LASvlrRasterVZK::load(ByteStreamIn* stream) {
  I32* ints[6] = {&nbands, &nbits, &ncols, &nrows, &reserved1, &reserved2};
  static const char* const int_names[6] = {"nbands", "nbits",     "ncols",
                                           "nrows",  "reserved1", "reserved2"};
  for (int i = 0; i < 6; i++) {
    try {
      stream->read32LE(reinterpret_cast<U8*>(ints[i]));
    } catch (const EndOfData&) {
      print_error("reading LASvlrRasterVZK.%s\n", int_names[i]);
      return false;
    }
  }
  F64* doubles[7] = {&stepx, &stepx_y, &stepy, &stepy_x, &llx, &lly, &sigmaxy};
  // The last name is shortened in the message on purpose: it is the established text.
  static const char* const double_names[7] = {"stepx", "stepx_y", "stepy", "stepy_x",
                                              "llx",   "lly",     "sigmax"};
  for (int i = 0; i < 7; i++) {
    try {
      stream->read64LE(reinterpret_cast<U8*>(doubles[i]));
    } catch (const EndOfData&) {
      print_error("reading LASvlrRasterVZK.%s\n", double_names[i]);
      return false;
    }
  }
  return true;
}
