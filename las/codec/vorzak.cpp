#include "las/codec/vorzak.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "las/core/bytestream_out.hpp"
#include "las/core/messages.hpp"

bool Vorzak::fail(const char* format, ...) {
  char message[256];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof(message), format, args);
  va_end(args);
  char text[320];
  snprintf(text, sizeof(text), "%s (Vorzak v%d.%dr%d)", message, int(VERSION_MAJOR),
           int(VERSION_MINOR), int(VERSION_REVISION));
  error_text = text;
  return false;
}

std::string Vorzak::description() {
  char text[64];
  snprintf(text, sizeof(text), "by vorzak of Quintrel (%d)", int(BUILD_DATE));
  return text;
}

bool Vorzak::setup(U16 n, const LASitem* list, U16 requested_compressor) {
  if (requested_compressor > LAYERED_CHUNKED) {
    return fail("compressor %d not supported", int(requested_compressor));
  }
  if (n == 0) return fail("number of items cannot be zero");
  if (list == nullptr) return fail("items pointer cannot be NULL");
  for (U16 i = 0; i < n; i++) {
    if (!validateItem(list[i])) return false;
  }
  if (requested_compressor != NONE) {
    if (list[0].type == LASitem::POINT14) {
      if (requested_compressor != LAYERED_CHUNKED) {
        error_text.clear();  // the writer reports this case itself
        return false;
      }
    } else if (requested_compressor == LAYERED_CHUNKED) {
      requested_compressor = POINTWISE_CHUNKED;
    }
  }
  if (requested_compressor != POINTWISE && chunk_size == 0) chunk_size = DEFAULT_CHUNK_SIZE;
  compressor = requested_compressor;
  items.assign(list, list + n);
  return true;
}

bool Vorzak::validate(U16 point_data_record_length) {
  if (compressor > LAYERED_CHUNKED) return fail("compressor %d not supported", int(compressor));
  if (coder != 0) return fail("coder %d not supported", int(coder));
  if (items.empty()) return fail("number of items cannot be zero");
  U32 sum = 0;
  for (const LASitem& item : items) {
    if (!validateItem(item)) return false;
    sum += item.size;
  }
  // A chunked stream decodes only the codecs of its own generation.
  for (const LASitem& item : items) {
    if (compressor == LAYERED_CHUNKED && item.version != 3 && item.version != 4) {
      return fail("compressor %d cannot decode %s of version %d", int(compressor),
                  LASitem::type_name(item.type), int(item.version));
    }
    if ((compressor == POINTWISE || compressor == POINTWISE_CHUNKED) && item.version != 1 &&
        item.version != 2) {
      return fail("compressor %d cannot decode %s of version %d", int(compressor),
                  LASitem::type_name(item.type), int(item.version));
    }
  }
  if (point_data_record_length != 0 && point_data_record_length != sum) {
    return fail("point has size of %d but items only add up to %d bytes",
                int(point_data_record_length), int(sum));
  }
  return true;
}

bool Vorzak::validatePointFormat(U8 point_data_format, U16 point_data_record_length) {
  if (!validate(point_data_record_length)) return false;
  if (point_data_format > 10) return fail("point data format %d unknown", int(point_data_format));
  if (compressor == NONE) return true;
  U8 type = 127;
  U16 length = 0;
  if (!standardPointType(&type, &length) || type != point_data_format) {
    return fail("point data format %d does not match the compressed items", int(point_data_format));
  }
  return true;
}

bool Vorzak::validateItem(const LASitem& item) {
  const int size = item.size;
  const int version = item.version;
  switch (item.type) {
    case LASitem::BYTE:
      if (size < 1) return fail("BYTE has size < 1");
      if (version > 2) return fail("BYTE has version > 2");
      return true;
    case LASitem::POINT10:
      if (size != 20) return fail("POINT10 has size != 20");
      if (version > 2) return fail("POINT10 has version > 2");
      return true;
    case LASitem::GPSTIME11:
      if (size != 8) return fail("GPSTIME11 has size != 8");
      if (version > 2) return fail("GPSTIME11 has version > 2");
      return true;
    case LASitem::RGB12:
      if (size != 6) return fail("RGB12 has size != 6");
      if (version > 2) return fail("RGB12 has version > 2");
      return true;
    case LASitem::WAVEPACKET13:
      if (size != 29) return fail("WAVEPACKET13 has size != 29");
      if (version > 1) return fail("WAVEPACKET13 has version > 1");
      return true;
    case LASitem::POINT14:
      if (size != 30) return fail("POINT14 has size != 30");
      if (version != 0 && version != 2 && version != 3 && version != 4) {
        return fail("POINT14 has version != 0 and != 2 and != 3 and != 4");
      }
      return true;
    case LASitem::RGB14:
      if (size != 6) return fail("RGB14 has size != 6");
      if (version != 0 && version != 2 && version != 3 && version != 4) {
        return fail("RGB14 has version != 0 and != 2 and != 3 and != 4");
      }
      return true;
    case LASitem::RGBNIR14:
      if (size != 8) return fail("RGBNIR14 has size != 8");
      if (version != 0 && version != 2 && version != 3 && version != 4) {
        return fail("RGBNIR14 has version != 0 and != 2 and != 3 and != 4");
      }
      return true;
    case LASitem::WAVEPACKET14:
      if (size != 29) return fail("WAVEPACKET14 has size != 29");
      if (version != 0 && version != 3 && version != 4) {
        return fail("WAVEPACKET14 has version != 0 and != 3 and != 4");
      }
      return true;
    case LASitem::BYTE14:
      if (size < 1) return fail("BYTE14 has size < 1");
      if (version != 0 && version != 2 && version != 3 && version != 4) {
        return fail("BYTE14 has version != 0 and != 2 and != 3 and != 4");
      }
      return true;
  }
  return fail("item unknown (%d,%d,%d)", int(item.type), size, version);
}

bool Vorzak::standardPointType(U8* point_type, U16* record_length) {
  return standardPointType(num_items(), items.data(), point_type, record_length);
}

static bool matches(const LASitem& item, U32 type) {
  if (U32(item.type) != type) return false;
  if (type == LASitem::BYTE || type == LASitem::BYTE14) return item.size >= 1;
  return item.size == LASitem::fixed_size(type);
}

bool Vorzak::standardPointType(U16 n, const LASitem* list, U8* point_type, U16* record_length) {
  *point_type = 127;
  if (list == nullptr) return fail("LASitem array is zero");
  U32 length = 0;
  for (U16 i = 0; i < n; i++) length += list[i].size;
  *record_length = U16(length);
  if (n == 0) return fail("less than one LASitem entries");
  if (n > 5) return fail("more than five LASitem entries");

  U16 i = 1;
  auto next_is = [&](U32 type) {
    if (i < n && matches(list[i], type)) {
      i++;
      return true;
    }
    return false;
  };
  auto next_is_byte = [&](bool allow_byte14) {
    return next_is(LASitem::BYTE) || (allow_byte14 && next_is(LASitem::BYTE14));
  };
  int type = -1;
  if (matches(list[0], LASitem::POINT10)) {
    if (next_is(LASitem::GPSTIME11)) {
      if (next_is(LASitem::RGB12)) {
        type = next_is(LASitem::WAVEPACKET13) ? 5 : 3;
      } else if (next_is(LASitem::WAVEPACKET13)) {
        type = 4;
      } else {
        type = 1;
      }
    } else if (next_is(LASitem::RGB12)) {
      type = 2;
    } else {
      type = 0;
    }
    next_is_byte(false);
  } else if (matches(list[0], LASitem::POINT14)) {
    if (next_is(LASitem::RGB14)) {
      type = 7;
    } else if (next_is(LASitem::RGBNIR14)) {
      type = (next_is(LASitem::WAVEPACKET13) || next_is(LASitem::WAVEPACKET14)) ? 10 : 8;
    } else if (next_is(LASitem::WAVEPACKET13) || next_is(LASitem::WAVEPACKET14)) {
      type = 9;
    } else {
      type = 6;
    }
    next_is_byte(true);
  } else {
    fail("first LASitem is neither POINT10 nor POINT14");
    return fail("LASitem array does not match LAS specification 1.4");
  }
  if (i != n) return fail("LASitem array does not match LAS specification 1.4");
  *point_type = U8(type);
  return true;
}

bool Vorzak::assignVersion(U16 requested) {
  if (items.empty()) return fail("call setup() before requesting version");
  if (compressor != NONE) {
    if (requested == 0) return fail("with compression version is at least 1");
    if (requested > 2) return fail("version larger than 2 not supported");
  } else if (requested != 0) {
    return fail("without compression version is always 0");
  }
  for (LASitem& item : items) {
    switch (item.type) {
      case LASitem::BYTE:
      case LASitem::POINT10:
      case LASitem::GPSTIME11:
      case LASitem::RGB12:
        item.version = requested;
        break;
      case LASitem::WAVEPACKET13:
        item.version = 1;
        break;
      case LASitem::POINT14:
      case LASitem::RGB14:
      case LASitem::RGBNIR14:
      case LASitem::WAVEPACKET14:
      case LASitem::BYTE14:
        item.version = 3;
        break;
      default:
        return fail("item type not supported");
    }
  }
  return true;
}

bool Vorzak::assignChunkSize(U32 size) {
  if (items.empty()) return fail("call setup() before setting chunk size");
  if (compressor == POINTWISE) return false;
  chunk_size = size;
  return true;
}

bool Vorzak::itemsForPointType(std::vector<LASitem>& list, U8 point_type,
                               U16 point_data_record_length) {
  if (!build_item_list(point_type, point_data_record_length, list)) {
    return fail("point type %d unknown", int(point_type));
  }
  return true;
}

static void put16(std::vector<U8>& out, U32 offset, U16 v) {
  out[offset] = U8(v);
  out[offset + 1] = U8(v >> 8);
}
static void put32(std::vector<U8>& out, U32 offset, U32 v) {
  for (int b = 0; b < 4; b++) out[offset + b] = U8(v >> (8 * b));
}
static void put64(std::vector<U8>& out, U32 offset, U64 v) {
  for (int b = 0; b < 8; b++) out[offset + b] = U8(v >> (8 * b));
}
static U16 get16(const U8* p) {
  return U16(p[0] | (p[1] << 8));
}
static U32 get32(const U8* p) {
  return U32(p[0]) | (U32(p[1]) << 8) | (U32(p[2]) << 16) | (U32(p[3]) << 24);
}
static U64 get64(const U8* p) {
  return U64(get32(p)) | (U64(get32(p + 4)) << 32);
}

std::vector<U8> Vorzak::payload() const {
  std::vector<U8> out(payloadSize());
  put16(out, 0, compressor);
  put16(out, 2, coder);
  out[4] = version_major;
  out[5] = version_minor;
  put16(out, 6, version_revision);
  put32(out, 8, options);
  put32(out, 12, chunk_size);
  put64(out, 16, U64(number_of_special_evlrs));
  put64(out, 24, U64(offset_to_special_evlrs));
  put16(out, 32, num_items());
  for (size_t i = 0; i < items.size(); i++) {
    put16(out, U32(34 + 6 * i), U16(items[i].type));
    put16(out, U32(36 + 6 * i), items[i].size);
    put16(out, U32(38 + 6 * i), items[i].version);
  }
  return out;
}

bool Vorzak::parsePayload(const U8* data, U32 size) {
  if (data == nullptr || size < 34) {
    return fail("compressor record has %u bytes instead of at least 34", data ? size : 0);
  }
  const U16 n = get16(data + 32);
  if (size != 34 + 6 * U32(n)) {
    return fail("compressor record has %u bytes but %d items need %u", size, int(n),
                34 + 6 * U32(n));
  }
  std::vector<LASitem> list(n);
  for (U16 i = 0; i < n; i++) {
    const U8* p = data + 34 + 6 * i;
    const U16 type = get16(p);
    if (!LASitem::known_type(type)) {
      return fail("item unknown (%d,%d,%d)", int(type), int(get16(p + 2)), int(get16(p + 4)));
    }
    list[i] = LASitem(LASitem::Type(type), get16(p + 2), get16(p + 4));
  }
  compressor = get16(data);
  coder = get16(data + 2);
  version_major = data[4];
  version_minor = data[5];
  version_revision = get16(data + 6);
  options = get32(data + 8);
  chunk_size = get32(data + 12);
  number_of_special_evlrs = I64(get64(data + 16));
  offset_to_special_evlrs = I64(get64(data + 24));
  items = std::move(list);
  return true;
}

bool Vorzak::writePayload(ByteStreamOut& stream) const {
  if (!stream.put16(compressor)) {
    print_error("writing compressor %d\n", int(compressor));
    return false;
  }
  if (!stream.put16(coder)) {
    print_error("writing coder %d\n", int(coder));
    return false;
  }
  if (!stream.writeByte(version_major)) {
    print_error("writing version_major %d\n", int(version_major));
    return false;
  }
  if (!stream.writeByte(version_minor)) {
    print_error("writing version_minor %d\n", int(version_minor));
    return false;
  }
  if (!stream.put16(version_revision)) {
    print_error("writing version_revision %d\n", int(version_revision));
    return false;
  }
  if (!stream.put32(options)) {
    print_error("writing options %d\n", int(options));
    return false;
  }
  if (!stream.put32(chunk_size)) {
    print_error("writing chunk_size %d\n", int(chunk_size));
    return false;
  }
  if (!stream.put64(U64(number_of_special_evlrs))) {
    print_error("writing number_of_special_evlrs %d\n", int(number_of_special_evlrs));
    return false;
  }
  if (!stream.put64(U64(offset_to_special_evlrs))) {
    print_error("writing offset_to_special_evlrs %d\n", int(offset_to_special_evlrs));
    return false;
  }
  if (!stream.put16(num_items())) {
    print_error("writing num_items %d\n", int(num_items()));
    return false;
  }
  for (size_t i = 0; i < items.size(); i++) {
    if (!stream.put16(U16(items[i].type))) {
      print_error("writing type %d of item %d\n", int(items[i].type), int(i));
      return false;
    }
    if (!stream.put16(items[i].size)) {
      print_error("writing size %d of item %d\n", int(items[i].size), int(i));
      return false;
    }
    if (!stream.put16(items[i].version)) {
      print_error("writing version %d of item %d\n", int(items[i].version), int(i));
      return false;
    }
  }
  return true;
}
