// Codes an integer against a prediction: the class (bit length) of the
// correction through a per-context symbol model, then its low bits.
#pragma once

#include <vector>

#include "las/codec/entropy_coder.hpp"

class IntDeltaCoder {
 public:
  IntDeltaCoder(EntropyEncoder& encoder, U32 valueBits = 16, U32 contextCount = 1,
                U32 modelledBits = 8, U32 valueRange = 0);
  IntDeltaCoder(EntropyDecoder& decoder, U32 valueBits = 16, U32 contextCount = 1,
                U32 modelledBits = 8, U32 valueRange = 0);
  IntDeltaCoder(const IntDeltaCoder&) = delete;
  IntDeltaCoder& operator=(const IntDeltaCoder&) = delete;

  // Once per chunk, after the coder was started: makes the models on the
  // first call and resets them on every call.
  void startEncoding();
  void startDecoding();

  inline void encode(I32 prediction, I32 actual, U32 context);
  I32 decode(I32 prediction, U32 context) { return decode(*decoder_, prediction, context); }
  // Decodes through a local copy of the decoder's state.
  inline __attribute__((always_inline)) I32 decode(EntropyDecoderState& d, I32 prediction,
                                                   U32 context);
  U32 lastClass() const { return lastClass_; }

  U32 maxClass() const { return maxClass_; }
  U32 wrapRange() const { return wrapRange_; }
  I32 wrapMin() const { return wrapMin_; }
  I32 wrapMax() const { return wrapMax_; }

 private:
  void derive();
  void makeAndResetModels(bool encodeOnly);

  EntropyEncoder* encoder_ = nullptr;
  EntropyDecoder* decoder_ = nullptr;
  U32 valueBits_;
  U32 contextCount_;
  U32 modelledBits_;
  U32 valueRange_;
  U32 maxClass_ = 0;
  U32 wrapRange_ = 0;
  I32 wrapMin_ = 0;
  I32 wrapMax_ = 0;
  U32 lastClass_ = 0;
  std::vector<SymbolModel> classModels_;
  BitModel residualBit_;
  std::vector<SymbolModel> residualModels_;  // index 0 unused
};

inline void IntDeltaCoder::encode(I32 prediction, I32 actual, U32 context) {
  I32 c = I32(U32(actual) - U32(prediction));
  if (c < wrapMin_) {
    c = I32(U32(c) + wrapRange_);
  } else if (c > wrapMax_) {
    c = I32(U32(c) - wrapRange_);
  }
  const U32 a = (c <= 0) ? 0u - U32(c) : U32(c) - 1u;
  const U32 k = a ? 32 - __builtin_clz(a) : 0;
  lastClass_ = k;
  encoder_->putSymbol(classModels_[context], k);
  if (k == 0) {
    encoder_->putBit(residualBit_, U32(c));
  } else if (k < 32) {
    const U32 v = (c < 0) ? U32(c) + ((1u << k) - 1u) : U32(c) - 1u;
    if (k <= modelledBits_) {
      encoder_->putSymbol(residualModels_[k], v);
    } else {
      const U32 e = k - modelledBits_;
      encoder_->putSymbol(residualModels_[k], v >> e);
      encoder_->putRawBits(e, v & ((1u << e) - 1u));
    }
  }
}

inline I32 IntDeltaCoder::decode(EntropyDecoderState& d, I32 prediction, U32 context) {
  const U32 k = d.getSymbol(classModels_[context]);
  lastClass_ = k;
  U32 c;
  if (k == 0) {
    c = d.getBit(residualBit_);
  } else if (k < 32) {
    U32 v;
    if (k <= modelledBits_) {
      v = d.getSymbol(residualModels_[k]);
    } else {
      const U32 e = k - modelledBits_;
      const U32 high = d.getSymbol(residualModels_[k]);  // coded before the raw bits
      v = (high << e) | d.getRawBits(e);
    }
    // The upper half of the class holds the positive corrections.
    const U32 negative = 0u - U32(v < (1u << (k - 1)));
    c = v + 1u - (negative & (1u << k));
  } else {
    c = U32(wrapMin_);
  }
  // Back into the value range, by selects: the sign of a decoded difference
  // is as good as random, and 32-bit values (range 0) need no change at all.
  const U32 r = U32(prediction) + c;
  const U32 negative = U32(I32(r) >> 31);
  const U32 beyond = ~negative & (r >= wrapRange_ ? ~0u : 0u);
  return I32(r + (wrapRange_ & negative) - (wrapRange_ & beyond));
}
