#include <cstring>

#include "las/codec/lasitem_compressed.hpp"

using codec_detail::kReturnContext;
using codec_detail::kReturnDistance;

namespace codec_detail {

const U8 kReturnContext[8][8] = {
    {15, 14, 13, 12, 11, 10, 9, 8},  {14, 0, 1, 3, 6, 10, 10, 9},
    {13, 1, 2, 4, 7, 11, 11, 10},    {12, 3, 4, 5, 8, 12, 12, 11},
    {11, 6, 7, 8, 9, 13, 13, 12},    {10, 10, 11, 12, 13, 14, 14, 13},
    {9, 10, 11, 12, 13, 14, 15, 14}, {8, 9, 10, 11, 12, 13, 14, 15},
};

const U8 kReturnDistance[8][8] = {
    {0, 1, 2, 3, 4, 5, 6, 7}, {1, 0, 1, 2, 3, 4, 5, 6}, {2, 1, 0, 1, 2, 3, 4, 5},
    {3, 2, 1, 0, 1, 2, 3, 4}, {4, 3, 2, 1, 0, 1, 2, 3}, {5, 4, 3, 2, 1, 0, 1, 2},
    {6, 5, 4, 3, 2, 1, 0, 1}, {7, 6, 5, 4, 3, 2, 1, 0},
};

}  // namespace codec_detail

namespace {

inline I32 getI32(const U8* p) {
  I32 v;
  memcpy(&v, p, 4);
  return v;
}
inline U16 getU16(const U8* p) {
  U16 v;
  memcpy(&v, p, 2);
  return v;
}
inline void setI32(U8* p, I32 v) {
  memcpy(p, &v, 4);
}
inline void setU16(U8* p, U16 v) {
  memcpy(p, &v, 2);
}
inline I32 diff(I32 a, I32 b) {
  return I32(U32(a) - U32(b));
}
inline I32 add(I32 a, I32 b) {
  return I32(U32(a) + U32(b));
}

inline I32 median3(const I32* v) {
  if (v[0] < v[1]) {
    if (v[1] < v[2]) return v[1];
    return v[0] < v[2] ? v[2] : v[0];
  }
  if (v[0] < v[2]) return v[0];
  return v[1] < v[2] ? v[2] : v[1];
}

// Offsets in the 20-byte record.
constexpr int kX = 0, kY = 4, kZ = 8, kIntensity = 12, kReturnByte = 14, kClass = 15,
              kScanAngle = 16, kUserData = 17, kPointSource = 18;

}  // namespace

// ---- version 1

LASwriteItemCompressed_POINT10_v1::LASwriteItemCompressed_POINT10_v1(EntropyEncoder& encoder)
    : enc_(encoder),
      icDx_(encoder, 32, 1),
      icDy_(encoder, 32, 20),
      icZ_(encoder, 32, 20),
      icIntensity_(encoder, 16, 1),
      icScanAngle_(encoder, 8, 2),
      icPointSource_(encoder, 16, 1),
      changed_(encoder.makeSymbolModel(64)),
      bitByte_(true),
      classification_(true),
      userData_(true) {}

bool LASwriteItemCompressed_POINT10_v1::startChunk(const U8* item, U32&) {
  for (int i = 0; i < 3; i++) lastXDiff_[i] = lastYDiff_[i] = 0;
  ring_ = 0;
  icDx_.startEncoding();
  icDy_.startEncoding();
  icZ_.startEncoding();
  icIntensity_.startEncoding();
  icScanAngle_.startEncoding();
  icPointSource_.startEncoding();
  changed_.reset();
  bitByte_.newChunk();
  classification_.newChunk();
  userData_.newChunk();
  memcpy(last_, item, 20);
  return true;
}

bool LASwriteItemCompressed_POINT10_v1::writeItem(const U8* item, U32&) {
  const I32 dx = diff(getI32(item + kX), getI32(last_ + kX));
  const I32 dy = diff(getI32(item + kY), getI32(last_ + kY));
  icDx_.encode(median3(lastXDiff_), dx, 0);
  const U32 kx = icDx_.lastClass();
  icDy_.encode(median3(lastYDiff_), dy, kx < 19 ? kx : 19);
  const U32 k = kx + icDy_.lastClass();
  icZ_.encode(getI32(last_ + kZ), getI32(item + kZ), k < 38 ? k / 2 : 19);

  const U16 intensity = getU16(item + kIntensity);
  const U16 lastIntensity = getU16(last_ + kIntensity);
  const U16 source = getU16(item + kPointSource);
  const U16 lastSource = getU16(last_ + kPointSource);
  const U32 changed =
      ((intensity != lastIntensity) << 5) | ((item[kReturnByte] != last_[kReturnByte]) << 4) |
      ((item[kClass] != last_[kClass]) << 3) | ((item[kScanAngle] != last_[kScanAngle]) << 2) |
      ((item[kUserData] != last_[kUserData]) << 1) | (source != lastSource);
  enc_.putSymbol(changed_, changed);
  if (changed) {
    if (changed & 32) icIntensity_.encode(lastIntensity, intensity, 0);
    if (changed & 16) enc_.putSymbol(bitByte_.get(last_[kReturnByte]), item[kReturnByte]);
    if (changed & 8) enc_.putSymbol(classification_.get(last_[kClass]), item[kClass]);
    if (changed & 4) {
      icScanAngle_.encode(I8(last_[kScanAngle]), I8(item[kScanAngle]), k < 6 ? 1 : 0);
    }
    if (changed & 2) enc_.putSymbol(userData_.get(last_[kUserData]), item[kUserData]);
    if (changed & 1) icPointSource_.encode(lastSource, source, 0);
  }
  lastXDiff_[ring_] = dx;
  lastYDiff_[ring_] = dy;
  ring_ = (ring_ == 2) ? 0 : ring_ + 1;
  memcpy(last_, item, 20);
  return true;
}

LASreadItemCompressed_POINT10_v1::LASreadItemCompressed_POINT10_v1(EntropyDecoder& decoder)
    : dec_(decoder),
      icDx_(decoder, 32, 1),
      icDy_(decoder, 32, 20),
      icZ_(decoder, 32, 20),
      icIntensity_(decoder, 16, 1),
      icScanAngle_(decoder, 8, 2),
      icPointSource_(decoder, 16, 1),
      changed_(decoder.makeSymbolModel(64)),
      bitByte_(false),
      classification_(false),
      userData_(false) {}

bool LASreadItemCompressed_POINT10_v1::startChunk(U8* item, U32&) {
  for (int i = 0; i < 3; i++) lastXDiff_[i] = lastYDiff_[i] = 0;
  ring_ = 0;
  icDx_.startDecoding();
  icDy_.startDecoding();
  icZ_.startDecoding();
  icIntensity_.startDecoding();
  icScanAngle_.startDecoding();
  icPointSource_.startDecoding();
  changed_.reset();
  bitByte_.newChunk();
  classification_.newChunk();
  userData_.newChunk();
  memcpy(last_, item, 20);
  return true;
}

void LASreadItemCompressed_POINT10_v1::readItem(U8* item, U32&) {
  const I32 dx = icDx_.decode(median3(lastXDiff_), 0);
  const U32 kx = icDx_.lastClass();
  const I32 dy = icDy_.decode(median3(lastYDiff_), kx < 19 ? kx : 19);
  const U32 k = kx + icDy_.lastClass();
  setI32(last_ + kX, add(getI32(last_ + kX), dx));
  setI32(last_ + kY, add(getI32(last_ + kY), dy));
  setI32(last_ + kZ, icZ_.decode(getI32(last_ + kZ), k < 38 ? k / 2 : 19));

  const U32 changed = dec_.getSymbol(changed_);
  if (changed) {
    if (changed & 32) {
      setU16(last_ + kIntensity, U16(icIntensity_.decode(getU16(last_ + kIntensity), 0)));
    }
    if (changed & 16) {
      last_[kReturnByte] = U8(dec_.getSymbol(bitByte_.get(last_[kReturnByte])));
    }
    if (changed & 8) last_[kClass] = U8(dec_.getSymbol(classification_.get(last_[kClass])));
    if (changed & 4) {
      last_[kScanAngle] = U8(icScanAngle_.decode(I8(last_[kScanAngle]), k < 6 ? 1 : 0));
    }
    if (changed & 2) {
      last_[kUserData] = U8(dec_.getSymbol(userData_.get(last_[kUserData])));
    }
    if (changed & 1) {
      setU16(last_ + kPointSource, U16(icPointSource_.decode(getU16(last_ + kPointSource), 0)));
    }
  }
  lastXDiff_[ring_] = dx;
  lastYDiff_[ring_] = dy;
  ring_ = (ring_ == 2) ? 0 : ring_ + 1;
  memcpy(item, last_, 20);
}

// ---- version 2

LASwriteItemCompressed_POINT10_v2::LASwriteItemCompressed_POINT10_v2(EntropyEncoder& encoder)
    : enc_(encoder),
      changed_(encoder.makeSymbolModel(64)),
      icIntensity_(encoder, 16, 4),
      scanAngle_{encoder.makeSymbolModel(256), encoder.makeSymbolModel(256)},
      icPointSource_(encoder, 16, 1),
      bitByte_(true),
      classification_(true),
      userData_(true),
      icDx_(encoder, 32, 2),
      icDy_(encoder, 32, 22),
      icZ_(encoder, 32, 20) {}

bool LASwriteItemCompressed_POINT10_v2::startChunk(const U8* item, U32&) {
  for (int i = 0; i < 16; i++) {
    lastXDiff_[i].reset();
    lastYDiff_[i].reset();
    lastIntensity_[i] = 0;
  }
  for (int i = 0; i < 8; i++) lastHeight_[i] = 0;
  changed_.reset();
  icIntensity_.startEncoding();
  scanAngle_[0].reset();
  scanAngle_[1].reset();
  icPointSource_.startEncoding();
  bitByte_.newChunk();
  classification_.newChunk();
  userData_.newChunk();
  icDx_.startEncoding();
  icDy_.startEncoding();
  icZ_.startEncoding();
  memcpy(last_, item, 20);
  return true;
}

bool LASwriteItemCompressed_POINT10_v2::writeItem(const U8* item, U32&) {
  const U32 returnByte = item[kReturnByte];
  const U32 r = returnByte & 7;
  const U32 n = (returnByte >> 3) & 7;
  const U32 m = kReturnContext[n][r];
  const U32 l = kReturnDistance[n][r];
  const U32 s = (n == 1);
  const U16 intensity = getU16(item + kIntensity);
  const U16 source = getU16(item + kPointSource);
  const U16 lastSource = getU16(last_ + kPointSource);
  const U32 changed =
      ((returnByte != last_[kReturnByte]) << 5) | ((intensity != lastIntensity_[m]) << 4) |
      ((item[kClass] != last_[kClass]) << 3) | ((item[kScanAngle] != last_[kScanAngle]) << 2) |
      ((item[kUserData] != last_[kUserData]) << 1) | (source != lastSource);
  enc_.putSymbol(changed_, changed);
  if (changed) {
    if (changed & 32) enc_.putSymbol(bitByte_.get(last_[kReturnByte]), returnByte);
    if (changed & 16) {
      icIntensity_.encode(lastIntensity_[m], intensity, m < 3 ? m : 3);
      lastIntensity_[m] = intensity;
    }
    if (changed & 8) enc_.putSymbol(classification_.get(last_[kClass]), item[kClass]);
    if (changed & 4) {
      enc_.putSymbol(scanAngle_[(returnByte >> 6) & 1], U8(item[kScanAngle] - last_[kScanAngle]));
    }
    if (changed & 2) enc_.putSymbol(userData_.get(last_[kUserData]), item[kUserData]);
    if (changed & 1) icPointSource_.encode(lastSource, source, 0);
  }
  const I32 dx = diff(getI32(item + kX), getI32(last_ + kX));
  icDx_.encode(lastXDiff_[m].median(), dx, s);
  lastXDiff_[m].add(dx);
  const U32 kx = icDx_.lastClass();
  const I32 dy = diff(getI32(item + kY), getI32(last_ + kY));
  icDy_.encode(lastYDiff_[m].median(), dy, (kx < 20 ? (kx & ~1u) : 20) + s);
  lastYDiff_[m].add(dy);
  const U32 kxy = kx + icDy_.lastClass();
  const I32 z = getI32(item + kZ);
  icZ_.encode(lastHeight_[l], z, (kxy < 36 ? 2 * (kxy / 4) : 18) + s);
  lastHeight_[l] = z;
  memcpy(last_, item, 20);
  return true;
}

LASreadItemCompressed_POINT10_v2::LASreadItemCompressed_POINT10_v2(EntropyDecoder& decoder)
    : dec_(decoder),
      changed_(decoder.makeSymbolModel(64)),
      icIntensity_(decoder, 16, 4),
      scanAngle_{decoder.makeSymbolModel(256), decoder.makeSymbolModel(256)},
      icPointSource_(decoder, 16, 1),
      bitByte_(false),
      classification_(false),
      userData_(false),
      icDx_(decoder, 32, 2),
      icDy_(decoder, 32, 22),
      icZ_(decoder, 32, 20) {}

bool LASreadItemCompressed_POINT10_v2::startChunk(U8* item, U32&) {
  for (int i = 0; i < 16; i++) {
    lastXDiff_[i].reset();
    lastYDiff_[i].reset();
    lastIntensity_[i] = 0;
  }
  for (int i = 0; i < 8; i++) lastHeight_[i] = 0;
  changed_.reset();
  icIntensity_.startDecoding();
  scanAngle_[0].reset();
  scanAngle_[1].reset();
  icPointSource_.startDecoding();
  bitByte_.newChunk();
  classification_.newChunk();
  userData_.newChunk();
  icDx_.startDecoding();
  icDy_.startDecoding();
  icZ_.startDecoding();
  memcpy(last_, item, 20);
  return true;
}

void LASreadItemCompressed_POINT10_v2::readItem(U8* item, U32&) {
  EntropyDecoderState d = dec_.save();
  const U32 changed = d.getSymbol(changed_);
  U32 m, l, s;
  if (changed) {
    if (changed & 32) {
      last_[kReturnByte] = U8(d.getSymbol(bitByte_.get(last_[kReturnByte])));
    }
    const U32 r = last_[kReturnByte] & 7;
    const U32 n = (last_[kReturnByte] >> 3) & 7;
    m = kReturnContext[n][r];
    l = kReturnDistance[n][r];
    s = (n == 1);
    if (changed & 16) {
      lastIntensity_[m] = U16(icIntensity_.decode(d, lastIntensity_[m], m < 3 ? m : 3));
    }
    setU16(last_ + kIntensity, lastIntensity_[m]);
    if (changed & 8) last_[kClass] = U8(d.getSymbol(classification_.get(last_[kClass])));
    if (changed & 4) {
      last_[kScanAngle] =
          U8(last_[kScanAngle] + d.getSymbol(scanAngle_[(last_[kReturnByte] >> 6) & 1]));
    }
    if (changed & 2) {
      last_[kUserData] = U8(d.getSymbol(userData_.get(last_[kUserData])));
    }
    if (changed & 1) {
      setU16(last_ + kPointSource, U16(icPointSource_.decode(d, getU16(last_ + kPointSource), 0)));
    }
  } else {
    const U32 r = last_[kReturnByte] & 7;
    const U32 n = (last_[kReturnByte] >> 3) & 7;
    m = kReturnContext[n][r];
    l = kReturnDistance[n][r];
    s = (n == 1);
    setU16(last_ + kIntensity, lastIntensity_[m]);
  }
  const I32 dx = icDx_.decode(d, lastXDiff_[m].median(), s);
  lastXDiff_[m].add(dx);
  setI32(last_ + kX, add(getI32(last_ + kX), dx));
  const U32 kx = icDx_.lastClass();
  const I32 dy = icDy_.decode(d, lastYDiff_[m].median(), (kx < 20 ? (kx & ~1u) : 20) + s);
  lastYDiff_[m].add(dy);
  setI32(last_ + kY, add(getI32(last_ + kY), dy));
  const U32 kxy = kx + icDy_.lastClass();
  const I32 z = icZ_.decode(d, lastHeight_[l], (kxy < 36 ? 2 * (kxy / 4) : 18) + s);
  lastHeight_[l] = z;
  setI32(last_ + kZ, z);
  memcpy(item, last_, 20);
  dec_.restore(d);
}
