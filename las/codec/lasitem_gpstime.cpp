#include <cstring>

#include "las/codec/lasitem_compressed.hpp"

namespace {

inline I64 getI64(const U8* p) {
  I64 v;
  memcpy(&v, p, 8);
  return v;
}
inline void setI64(U8* p, I64 v) {
  memcpy(p, &v, 8);
}
// Times are bit patterns; their differences wrap like the patterns do.
inline I64 diff64(I64 a, I64 b) {
  return I64(U64(a) - U64(b));
}
inline I64 add64(I64 a, I32 d) {
  return I64(U64(a) + U64(I64(d)));
}
inline bool fits32(I64 d) {
  return d == I64(I32(d));
}
inline I32 mul32(I32 q, I32 d) {
  return I32(U32(q) * U32(d));
}

// The multiplier of the last difference that comes closest to d, rounded
// half away from zero. Kept in 64 bits: the quotient can exceed 2^31.
inline I64 multiplier(I32 d, I32 lastDiff) {
  const F32 x = F32(d) / F32(lastDiff);
  const F64 rounded = (x >= 0.0f) ? F64(x) + 0.5 : F64(x) - 0.5;
  return I64(rounded);
}

// The v1 multiplier: truncated in single precision, limited to 0..509.
inline U32 multiplierV1(I32 d, I32 lastDiff) {
  const F32 x = F32(d) / F32(lastDiff) + 0.5f;
  if (!(x > 0.0f)) return 0;
  if (x >= 509.0f) return 509;
  return U32(x);
}

// Symbols of the version 2 models.
constexpr U32 kV2Multi = 516, kV2Zero = 6;
constexpr U32 kV2MultiUnchanged = 511, kV2MultiFull = 512;
constexpr U32 kV2ZeroUnchanged = 0, kV2ZeroDiff = 1, kV2ZeroFull = 2;

}  // namespace

// ---- version 1

LASwriteItemCompressed_GPSTIME11_v1::LASwriteItemCompressed_GPSTIME11_v1(EntropyEncoder& encoder)
    : enc_(encoder),
      multi_(encoder.makeSymbolModel(512)),
      zero_(encoder.makeSymbolModel(3)),
      ic_(encoder, 32, 6) {}

bool LASwriteItemCompressed_GPSTIME11_v1::startChunk(const U8* item, U32&) {
  multi_.reset();
  zero_.reset();
  ic_.startEncoding();
  lastDiff_ = 0;
  extreme_ = 0;
  lastTime_ = getI64(item);
  return true;
}

bool LASwriteItemCompressed_GPSTIME11_v1::writeItem(const U8* item, U32&) {
  const I64 time = getI64(item);
  const I64 d64 = diff64(time, lastTime_);
  if (lastDiff_ == 0) {
    if (time == lastTime_) {
      enc_.putSymbol(zero_, 0);
    } else if (fits32(d64)) {
      enc_.putSymbol(zero_, 1);
      ic_.encode(0, I32(d64), 0);
      lastDiff_ = I32(d64);
    } else {
      enc_.putSymbol(zero_, 2);
      enc_.putRaw64(U64(time));
    }
  } else if (time == lastTime_) {
    enc_.putSymbol(multi_, 511);
  } else if (fits32(d64)) {
    const I32 d = I32(d64);
    const U32 q = multiplierV1(d, lastDiff_);
    enc_.putSymbol(multi_, q);
    bool extremeStep = false;
    if (q == 1) {
      ic_.encode(lastDiff_, d, 1);
      lastDiff_ = d;
      extreme_ = 0;
    } else if (q == 0) {
      ic_.encode(lastDiff_ / 4, d, 2);
      extremeStep = true;
    } else {
      ic_.encode(mul32(I32(q), lastDiff_), d, q < 10 ? 3 : (q < 50 ? 4 : 5));
      extremeStep = (q == 509);
    }
    if (extremeStep && ++extreme_ > 3) {
      lastDiff_ = d;
      extreme_ = 0;
    }
  } else {
    enc_.putSymbol(multi_, 510);
    enc_.putRaw64(U64(time));
  }
  lastTime_ = time;
  return true;
}

LASreadItemCompressed_GPSTIME11_v1::LASreadItemCompressed_GPSTIME11_v1(EntropyDecoder& decoder)
    : dec_(decoder),
      multi_(decoder.makeSymbolModel(512)),
      zero_(decoder.makeSymbolModel(3)),
      ic_(decoder, 32, 6) {}

bool LASreadItemCompressed_GPSTIME11_v1::startChunk(U8* item, U32&) {
  multi_.reset();
  zero_.reset();
  ic_.startDecoding();
  lastDiff_ = 0;
  extreme_ = 0;
  lastTime_ = getI64(item);
  return true;
}

void LASreadItemCompressed_GPSTIME11_v1::readItem(U8* item, U32&) {
  if (lastDiff_ == 0) {
    const U32 symbol = dec_.getSymbol(zero_);
    if (symbol == 1) {
      const I32 d = ic_.decode(0, 0);
      lastDiff_ = d;
      lastTime_ = add64(lastTime_, d);
    } else if (symbol == 2) {
      lastTime_ = I64(dec_.getRaw64());
    }
  } else {
    const U32 q = dec_.getSymbol(multi_);
    if (q < 510) {
      I32 d;
      bool extremeStep = false;
      if (q == 1) {
        d = ic_.decode(lastDiff_, 1);
        lastDiff_ = d;
        extreme_ = 0;
      } else if (q == 0) {
        d = ic_.decode(lastDiff_ / 4, 2);
        extremeStep = true;
      } else {
        d = ic_.decode(mul32(I32(q), lastDiff_), q < 10 ? 3 : (q < 50 ? 4 : 5));
        extremeStep = (q == 509);
      }
      if (extremeStep && ++extreme_ > 3) {
        lastDiff_ = d;
        extreme_ = 0;
      }
      lastTime_ = add64(lastTime_, d);
    } else if (q == 510) {
      lastTime_ = I64(dec_.getRaw64());
    }
  }
  setI64(item, lastTime_);
}

// ---- version 2

LASwriteItemCompressed_GPSTIME11_v2::LASwriteItemCompressed_GPSTIME11_v2(EntropyEncoder& encoder)
    : enc_(encoder),
      multi_(encoder.makeSymbolModel(kV2Multi)),
      zero_(encoder.makeSymbolModel(kV2Zero)),
      ic_(encoder, 32, 9) {}

bool LASwriteItemCompressed_GPSTIME11_v2::startChunk(const U8* item, U32&) {
  multi_.reset();
  zero_.reset();
  ic_.startEncoding();
  current_ = lastMade_ = 0;
  for (int i = 0; i < 4; i++) {
    lastTime_[i] = 0;
    lastDiff_[i] = 0;
    extreme_[i] = 0;
  }
  lastTime_[0] = getI64(item);
  return true;
}

void LASwriteItemCompressed_GPSTIME11_v2::newSequence(I64 time) {
  ic_.encode(I32(lastTime_[current_] >> 32), I32(time >> 32), 8);
  enc_.putRaw32(U32(U64(time)));
  lastMade_ = (lastMade_ + 1) & 3;
  current_ = lastMade_;
  lastDiff_[current_] = 0;
  extreme_[current_] = 0;
  lastTime_[current_] = time;
}

bool LASwriteItemCompressed_GPSTIME11_v2::writeItem(const U8* item, U32&) {
  const I64 time = getI64(item);
  // A switch lands on a sequence the time fits, so this runs at most twice.
  for (;;) {
    const U32 c = current_;
    const I64 d64 = diff64(time, lastTime_[c]);
    const I32 lastDiff = lastDiff_[c];
    if (time == lastTime_[c]) {
      enc_.putSymbol(lastDiff ? multi_ : zero_, lastDiff ? kV2MultiUnchanged : kV2ZeroUnchanged);
      return true;
    }
    if (fits32(d64)) {
      const I32 d = I32(d64);
      if (lastDiff == 0) {
        enc_.putSymbol(zero_, kV2ZeroDiff);
        ic_.encode(0, d, 0);
        lastDiff_[c] = d;
        extreme_[c] = 0;
      } else {
        const I64 q = multiplier(d, lastDiff);
        bool extremeStep = false;
        if (q == 1) {
          enc_.putSymbol(multi_, 1);
          ic_.encode(lastDiff, d, 1);
          extreme_[c] = 0;
        } else if (q >= 2 && q <= 499) {
          enc_.putSymbol(multi_, U32(q));
          ic_.encode(mul32(I32(q), lastDiff), d, q < 10 ? 2 : 3);
        } else if (q >= 500) {
          enc_.putSymbol(multi_, 500);
          ic_.encode(mul32(500, lastDiff), d, 4);
          extremeStep = true;
        } else if (q >= -9 && q <= -1) {
          enc_.putSymbol(multi_, U32(500 - q));
          ic_.encode(mul32(I32(q), lastDiff), d, 5);
        } else if (q <= -10) {
          enc_.putSymbol(multi_, 510);
          ic_.encode(mul32(-10, lastDiff), d, 6);
          extremeStep = true;
        } else {
          enc_.putSymbol(multi_, 0);
          ic_.encode(0, d, 7);
          extremeStep = true;
        }
        if (extremeStep && ++extreme_[c] > 3) {
          lastDiff_[c] = d;
          extreme_[c] = 0;
        }
      }
      lastTime_[c] = time;
      return true;
    }
    U32 i = 1;
    while (i <= 3 && !fits32(diff64(time, lastTime_[(c + i) & 3]))) i++;
    if (i <= 3) {
      enc_.putSymbol(lastDiff ? multi_ : zero_, lastDiff ? kV2MultiFull + i : kV2ZeroFull + i);
      current_ = (c + i) & 3;
      continue;
    }
    enc_.putSymbol(lastDiff ? multi_ : zero_, lastDiff ? kV2MultiFull : kV2ZeroFull);
    newSequence(time);
    return true;
  }
}

LASreadItemCompressed_GPSTIME11_v2::LASreadItemCompressed_GPSTIME11_v2(EntropyDecoder& decoder)
    : dec_(decoder),
      multi_(decoder.makeSymbolModel(kV2Multi)),
      zero_(decoder.makeSymbolModel(kV2Zero)),
      ic_(decoder, 32, 9) {}

bool LASreadItemCompressed_GPSTIME11_v2::startChunk(U8* item, U32&) {
  multi_.reset();
  zero_.reset();
  ic_.startDecoding();
  current_ = lastMade_ = 0;
  for (int i = 0; i < 4; i++) {
    lastTime_[i] = 0;
    lastDiff_[i] = 0;
    extreme_[i] = 0;
  }
  lastTime_[0] = getI64(item);
  return true;
}

void LASreadItemCompressed_GPSTIME11_v2::newSequence(EntropyDecoderState& dec) {
  const I32 high = ic_.decode(dec, I32(lastTime_[current_] >> 32), 8);
  const U32 low = dec.getRaw32();
  lastMade_ = (lastMade_ + 1) & 3;
  current_ = lastMade_;
  lastDiff_[current_] = 0;
  extreme_[current_] = 0;
  lastTime_[current_] = I64((U64(U32(high)) << 32) | low);
}

void LASreadItemCompressed_GPSTIME11_v2::readItem(U8* item, U32&) {
  EntropyDecoderState dec = dec_.save();
  // A writer switches sequences at most once per time; a longer chain only
  // comes from a corrupt chunk.
  for (U32 switches = 0;; switches++) {
    if (switches > 1) throw DecodingError();
    const U32 c = current_;
    const I32 lastDiff = lastDiff_[c];
    if (lastDiff == 0) {
      const U32 symbol = dec.getSymbol(zero_);
      if (symbol == kV2ZeroDiff) {
        const I32 d = ic_.decode(dec, 0, 0);
        lastDiff_[c] = d;
        extreme_[c] = 0;
        lastTime_[c] = add64(lastTime_[c], d);
      } else if (symbol == kV2ZeroFull) {
        newSequence(dec);
      } else if (symbol > kV2ZeroFull) {
        current_ = (c + symbol - kV2ZeroFull) & 3;
        continue;
      }
    } else {
      const U32 symbol = dec.getSymbol(multi_);
      if (symbol < kV2MultiUnchanged) {
        I32 d;
        bool extremeStep = false;
        if (symbol == 1) {
          d = ic_.decode(dec, lastDiff, 1);
          extreme_[c] = 0;
        } else if (symbol == 0) {
          d = ic_.decode(dec, 0, 7);
          extremeStep = true;
        } else if (symbol < 500) {
          d = ic_.decode(dec, mul32(I32(symbol), lastDiff), symbol < 10 ? 2 : 3);
        } else if (symbol == 500) {
          d = ic_.decode(dec, mul32(500, lastDiff), 4);
          extremeStep = true;
        } else if (symbol < 510) {
          d = ic_.decode(dec, mul32(500 - I32(symbol), lastDiff), 5);
        } else {
          d = ic_.decode(dec, mul32(-10, lastDiff), 6);
          extremeStep = true;
        }
        if (extremeStep && ++extreme_[c] > 3) {
          lastDiff_[c] = d;
          extreme_[c] = 0;
        }
        lastTime_[c] = add64(lastTime_[c], d);
      } else if (symbol == kV2MultiFull) {
        newSequence(dec);
      } else if (symbol > kV2MultiFull) {
        current_ = (c + symbol - kV2MultiFull) & 3;
        continue;
      }
    }
    break;
  }
  setI64(item, lastTime_[current_]);
  dec_.restore(dec);
}
