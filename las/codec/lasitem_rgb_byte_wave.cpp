#include <cstring>

#include "las/codec/lasitem_compressed.hpp"

namespace {

inline U32 clampByte(I32 v) {
  return v <= 0 ? 0 : (v >= 255 ? 255 : U32(v));
}
inline U32 lo(U16 v) {
  return v & 0xFF;
}
inline U32 hi(U16 v) {
  return v >> 8;
}

// Bits 0-5: which of the six colour bytes differ from the last colour.
inline U32 changedBytes(const U16* p, const U16* q) {
  return (lo(p[0]) != lo(q[0])) | ((hi(p[0]) != hi(q[0])) << 1) | ((lo(p[1]) != lo(q[1])) << 2) |
         ((hi(p[1]) != hi(q[1])) << 3) | ((lo(p[2]) != lo(q[2])) << 4) |
         ((hi(p[2]) != hi(q[2])) << 5);
}

inline void loadRGB(U16* out, const U8* item) {
  memcpy(out, item, 6);
}
inline void storeRGB(U8* item, const U16* in) {
  memcpy(item, in, 6);
}

}  // namespace

// ---- RGB12 version 1

LASwriteItemCompressed_RGB12_v1::LASwriteItemCompressed_RGB12_v1(EntropyEncoder& encoder)
    : enc_(encoder), byteUsed_(encoder.makeSymbolModel(64)), ic_(encoder, 8, 6) {}

bool LASwriteItemCompressed_RGB12_v1::startChunk(const U8* item, U32&) {
  byteUsed_.reset();
  ic_.startEncoding();
  loadRGB(last_, item);
  return true;
}

bool LASwriteItemCompressed_RGB12_v1::writeItem(const U8* item, U32&) {
  U16 p[3];
  loadRGB(p, item);
  const U32 symbol = changedBytes(p, last_);
  enc_.putSymbol(byteUsed_, symbol);
  for (U32 b = 0; b < 6; b++) {
    if (symbol & (1u << b)) {
      const U32 shift = (b & 1) * 8;
      ic_.encode(I32((last_[b / 2] >> shift) & 0xFF), I32((p[b / 2] >> shift) & 0xFF), b);
    }
  }
  memcpy(last_, p, 6);
  return true;
}

LASreadItemCompressed_RGB12_v1::LASreadItemCompressed_RGB12_v1(EntropyDecoder& decoder)
    : dec_(decoder), byteUsed_(decoder.makeSymbolModel(64)), ic_(decoder, 8, 6) {}

bool LASreadItemCompressed_RGB12_v1::startChunk(U8* item, U32&) {
  byteUsed_.reset();
  ic_.startDecoding();
  loadRGB(last_, item);
  return true;
}

void LASreadItemCompressed_RGB12_v1::readItem(U8* item, U32&) {
  const U32 symbol = dec_.getSymbol(byteUsed_);
  for (U32 b = 0; b < 6; b++) {
    if (symbol & (1u << b)) {
      const U32 shift = (b & 1) * 8;
      const U32 value = U32(ic_.decode(I32((last_[b / 2] >> shift) & 0xFF), b)) & 0xFF;
      last_[b / 2] = U16((last_[b / 2] & ~(0xFF << shift)) | (value << shift));
    }
  }
  storeRGB(item, last_);
}

// ---- RGB12 version 2

LASwriteItemCompressed_RGB12_v2::LASwriteItemCompressed_RGB12_v2(EntropyEncoder& encoder)
    : enc_(encoder), byteUsed_(encoder.makeSymbolModel(128)), diff_{encoder.makeSymbolModel(256),
                                                                    encoder.makeSymbolModel(256),
                                                                    encoder.makeSymbolModel(256),
                                                                    encoder.makeSymbolModel(256),
                                                                    encoder.makeSymbolModel(256),
                                                                    encoder.makeSymbolModel(256)} {}

bool LASwriteItemCompressed_RGB12_v2::startChunk(const U8* item, U32&) {
  byteUsed_.reset();
  for (SymbolModel& m : diff_) m.reset();
  loadRGB(last_, item);
  return true;
}

bool LASwriteItemCompressed_RGB12_v2::writeItem(const U8* item, U32&) {
  U16 p[3];
  loadRGB(p, item);
  U32 symbol = changedBytes(p, last_);
  const bool colour =
      lo(p[0]) != lo(p[1]) || lo(p[0]) != lo(p[2]) || hi(p[0]) != hi(p[1]) || hi(p[0]) != hi(p[2]);
  if (colour) symbol |= 64;
  enc_.putSymbol(byteUsed_, symbol);
  I32 dl = 0, dh = 0;
  if (symbol & 1) {
    dl = I32(lo(p[0])) - I32(lo(last_[0]));
    enc_.putSymbol(diff_[0], U8(dl));
  }
  if (symbol & 2) {
    dh = I32(hi(p[0])) - I32(hi(last_[0]));
    enc_.putSymbol(diff_[1], U8(dh));
  }
  if (colour) {
    if (symbol & 4) {
      enc_.putSymbol(diff_[2], U8(I32(lo(p[1])) - I32(clampByte(dl + I32(lo(last_[1]))))));
    }
    if (symbol & 16) {
      const I32 e = (dl + I32(lo(p[1])) - I32(lo(last_[1]))) / 2;
      enc_.putSymbol(diff_[4], U8(I32(lo(p[2])) - I32(clampByte(e + I32(lo(last_[2]))))));
    }
    if (symbol & 8) {
      enc_.putSymbol(diff_[3], U8(I32(hi(p[1])) - I32(clampByte(dh + I32(hi(last_[1]))))));
    }
    if (symbol & 32) {
      const I32 e = (dh + I32(hi(p[1])) - I32(hi(last_[1]))) / 2;
      enc_.putSymbol(diff_[5], U8(I32(hi(p[2])) - I32(clampByte(e + I32(hi(last_[2]))))));
    }
  }
  memcpy(last_, p, 6);
  return true;
}

LASreadItemCompressed_RGB12_v2::LASreadItemCompressed_RGB12_v2(EntropyDecoder& decoder)
    : dec_(decoder), byteUsed_(decoder.makeSymbolModel(128)), diff_{decoder.makeSymbolModel(256),
                                                                    decoder.makeSymbolModel(256),
                                                                    decoder.makeSymbolModel(256),
                                                                    decoder.makeSymbolModel(256),
                                                                    decoder.makeSymbolModel(256),
                                                                    decoder.makeSymbolModel(256)} {}

bool LASreadItemCompressed_RGB12_v2::startChunk(U8* item, U32&) {
  byteUsed_.reset();
  for (SymbolModel& m : diff_) m.reset();
  loadRGB(last_, item);
  return true;
}

void LASreadItemCompressed_RGB12_v2::readItem(U8* item, U32&) {
  EntropyDecoderState dec = dec_.save();
  const U32 symbol = dec.getSymbol(byteUsed_);
  U32 rl = lo(last_[0]), rh = hi(last_[0]);
  I32 dl = 0, dh = 0;
  if (symbol & 1) {
    rl = U8(dec.getSymbol(diff_[0]) + rl);
    dl = I32(rl) - I32(lo(last_[0]));
  }
  if (symbol & 2) {
    rh = U8(dec.getSymbol(diff_[1]) + rh);
    dh = I32(rh) - I32(hi(last_[0]));
  }
  U16 p[3];
  p[0] = U16(rl | (rh << 8));
  if (symbol & 64) {
    U32 gl = lo(last_[1]), bl = lo(last_[2]), gh = hi(last_[1]), bh = hi(last_[2]);
    if (symbol & 4) gl = U8(dec.getSymbol(diff_[2]) + clampByte(dl + I32(lo(last_[1]))));
    if (symbol & 16) {
      const I32 e = (dl + I32(gl) - I32(lo(last_[1]))) / 2;
      bl = U8(dec.getSymbol(diff_[4]) + clampByte(e + I32(lo(last_[2]))));
    }
    if (symbol & 8) gh = U8(dec.getSymbol(diff_[3]) + clampByte(dh + I32(hi(last_[1]))));
    if (symbol & 32) {
      const I32 e = (dh + I32(gh) - I32(hi(last_[1]))) / 2;
      bh = U8(dec.getSymbol(diff_[5]) + clampByte(e + I32(hi(last_[2]))));
    }
    p[1] = U16(gl | (gh << 8));
    p[2] = U16(bl | (bh << 8));
  } else {
    p[1] = p[2] = p[0];
  }
  memcpy(last_, p, 6);
  dec_.restore(dec);
  storeRGB(item, p);
}

// ---- BYTE

LASwriteItemCompressed_BYTE_v1::LASwriteItemCompressed_BYTE_v1(EntropyEncoder& encoder, U32 number)
    : number_(number), last_(number), ic_(encoder, 8, number) {}

bool LASwriteItemCompressed_BYTE_v1::startChunk(const U8* item, U32&) {
  ic_.startEncoding();
  memcpy(last_.data(), item, number_);
  return true;
}

bool LASwriteItemCompressed_BYTE_v1::writeItem(const U8* item, U32&) {
  for (U32 i = 0; i < number_; i++) ic_.encode(last_[i], item[i], i);
  memcpy(last_.data(), item, number_);
  return true;
}

LASreadItemCompressed_BYTE_v1::LASreadItemCompressed_BYTE_v1(EntropyDecoder& decoder, U32 number)
    : number_(number), last_(number), ic_(decoder, 8, number) {}

bool LASreadItemCompressed_BYTE_v1::startChunk(U8* item, U32&) {
  ic_.startDecoding();
  memcpy(last_.data(), item, number_);
  return true;
}

void LASreadItemCompressed_BYTE_v1::readItem(U8* item, U32&) {
  for (U32 i = 0; i < number_; i++) last_[i] = U8(ic_.decode(last_[i], i));
  memcpy(item, last_.data(), number_);
}

LASwriteItemCompressed_BYTE_v2::LASwriteItemCompressed_BYTE_v2(EntropyEncoder& encoder, U32 number)
    : enc_(encoder), number_(number), last_(number) {
  models_.reserve(number);
  for (U32 i = 0; i < number; i++) models_.push_back(encoder.makeSymbolModel(256));
}

bool LASwriteItemCompressed_BYTE_v2::startChunk(const U8* item, U32&) {
  for (SymbolModel& m : models_) m.reset();
  memcpy(last_.data(), item, number_);
  return true;
}

bool LASwriteItemCompressed_BYTE_v2::writeItem(const U8* item, U32&) {
  for (U32 i = 0; i < number_; i++) enc_.putSymbol(models_[i], U8(item[i] - last_[i]));
  memcpy(last_.data(), item, number_);
  return true;
}

LASreadItemCompressed_BYTE_v2::LASreadItemCompressed_BYTE_v2(EntropyDecoder& decoder, U32 number)
    : dec_(decoder), number_(number), last_(number) {
  models_.reserve(number);
  for (U32 i = 0; i < number; i++) models_.push_back(decoder.makeSymbolModel(256));
}

bool LASreadItemCompressed_BYTE_v2::startChunk(U8* item, U32&) {
  for (SymbolModel& m : models_) m.reset();
  memcpy(last_.data(), item, number_);
  return true;
}

void LASreadItemCompressed_BYTE_v2::readItem(U8* item, U32&) {
  for (U32 i = 0; i < number_; i++) last_[i] = U8(last_[i] + dec_.getSymbol(models_[i]));
  memcpy(item, last_.data(), number_);
}

// ---- WAVEPACKET13

namespace {

// Offsets within the 28 bytes after the descriptor index.
constexpr int kOffset = 0, kPacketSize = 8, kLocation = 12, kXt = 16;

inline U64 getU64(const U8* p) {
  U64 v;
  memcpy(&v, p, 8);
  return v;
}
inline I32 getI32(const U8* p) {
  I32 v;
  memcpy(&v, p, 4);
  return v;
}
inline void setU64(U8* p, U64 v) {
  memcpy(p, &v, 8);
}
inline void setI32(U8* p, I32 v) {
  memcpy(p, &v, 4);
}

}  // namespace

LASwriteItemCompressed_WAVEPACKET13_v1::LASwriteItemCompressed_WAVEPACKET13_v1(
    EntropyEncoder& encoder)
    : enc_(encoder),
      index_(encoder.makeSymbolModel(256)),
      offset_{encoder.makeSymbolModel(4), encoder.makeSymbolModel(4), encoder.makeSymbolModel(4),
              encoder.makeSymbolModel(4)},
      icOffsetDiff_(encoder, 32, 1),
      icPacketSize_(encoder, 32, 1),
      icLocation_(encoder, 32, 1),
      icXYZ_(encoder, 32, 3) {}

bool LASwriteItemCompressed_WAVEPACKET13_v1::startChunk(const U8* item, U32&) {
  index_.reset();
  for (SymbolModel& m : offset_) m.reset();
  icOffsetDiff_.startEncoding();
  icPacketSize_.startEncoding();
  icLocation_.startEncoding();
  icXYZ_.startEncoding();
  lastOffsetDiff_ = 0;
  lastOffsetSymbol_ = 0;
  memcpy(last_, item + 1, 28);
  return true;
}

bool LASwriteItemCompressed_WAVEPACKET13_v1::writeItem(const U8* item, U32&) {
  const U8* p = item + 1;
  enc_.putSymbol(index_, item[0]);
  const U64 offset = getU64(p + kOffset);
  const I64 d64 = I64(offset - getU64(last_ + kOffset));
  const U32 lastSize = U32(getI32(last_ + kPacketSize));
  U32 symbol;
  if (d64 == I64(I32(d64))) {
    if (d64 == 0) {
      symbol = 0;
    } else if (d64 == I64(lastSize)) {
      symbol = 1;
    } else {
      symbol = 2;
    }
  } else {
    symbol = 3;
  }
  enc_.putSymbol(offset_[lastOffsetSymbol_], symbol);
  lastOffsetSymbol_ = symbol;
  if (symbol == 2) {
    icOffsetDiff_.encode(lastOffsetDiff_, I32(d64), 0);
    lastOffsetDiff_ = I32(d64);
  } else if (symbol == 3) {
    enc_.putRaw64(offset);
  }
  icPacketSize_.encode(getI32(last_ + kPacketSize), getI32(p + kPacketSize), 0);
  icLocation_.encode(getI32(last_ + kLocation), getI32(p + kLocation), 0);
  for (U32 c = 0; c < 3; c++) {
    icXYZ_.encode(getI32(last_ + kXt + 4 * c), getI32(p + kXt + 4 * c), c);
  }
  memcpy(last_, p, 28);
  return true;
}

LASreadItemCompressed_WAVEPACKET13_v1::LASreadItemCompressed_WAVEPACKET13_v1(
    EntropyDecoder& decoder)
    : dec_(decoder),
      index_(decoder.makeSymbolModel(256)),
      offset_{decoder.makeSymbolModel(4), decoder.makeSymbolModel(4), decoder.makeSymbolModel(4),
              decoder.makeSymbolModel(4)},
      icOffsetDiff_(decoder, 32, 1),
      icPacketSize_(decoder, 32, 1),
      icLocation_(decoder, 32, 1),
      icXYZ_(decoder, 32, 3) {}

bool LASreadItemCompressed_WAVEPACKET13_v1::startChunk(U8* item, U32&) {
  index_.reset();
  for (SymbolModel& m : offset_) m.reset();
  icOffsetDiff_.startDecoding();
  icPacketSize_.startDecoding();
  icLocation_.startDecoding();
  icXYZ_.startDecoding();
  lastOffsetDiff_ = 0;
  lastOffsetSymbol_ = 0;
  memcpy(last_, item + 1, 28);
  return true;
}

void LASreadItemCompressed_WAVEPACKET13_v1::readItem(U8* item, U32&) {
  item[0] = U8(dec_.getSymbol(index_));
  const U32 symbol = dec_.getSymbol(offset_[lastOffsetSymbol_]);
  lastOffsetSymbol_ = symbol;
  const U64 lastOffset = getU64(last_ + kOffset);
  if (symbol == 1) {
    setU64(last_ + kOffset, lastOffset + U32(getI32(last_ + kPacketSize)));
  } else if (symbol == 2) {
    lastOffsetDiff_ = icOffsetDiff_.decode(lastOffsetDiff_, 0);
    setU64(last_ + kOffset, lastOffset + U64(I64(lastOffsetDiff_)));
  } else if (symbol == 3) {
    setU64(last_ + kOffset, dec_.getRaw64());
  }
  setI32(last_ + kPacketSize, icPacketSize_.decode(getI32(last_ + kPacketSize), 0));
  setI32(last_ + kLocation, icLocation_.decode(getI32(last_ + kLocation), 0));
  for (U32 c = 0; c < 3; c++) {
    setI32(last_ + kXt + 4 * c, icXYZ_.decode(getI32(last_ + kXt + 4 * c), c));
  }
  memcpy(item + 1, last_, 28);
}
