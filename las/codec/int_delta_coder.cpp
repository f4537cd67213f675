#include "las/codec/int_delta_coder.hpp"

IntDeltaCoder::IntDeltaCoder(EntropyEncoder& encoder, U32 valueBits, U32 contextCount,
                             U32 modelledBits, U32 valueRange)
    : encoder_(&encoder),
      valueBits_(valueBits),
      contextCount_(contextCount),
      modelledBits_(modelledBits),
      valueRange_(valueRange) {
  derive();
}

IntDeltaCoder::IntDeltaCoder(EntropyDecoder& decoder, U32 valueBits, U32 contextCount,
                             U32 modelledBits, U32 valueRange)
    : decoder_(&decoder),
      valueBits_(valueBits),
      contextCount_(contextCount),
      modelledBits_(modelledBits),
      valueRange_(valueRange) {
  derive();
}

void IntDeltaCoder::derive() {
  if (valueRange_ != 0) {
    U32 bits = 0;
    for (U32 v = valueRange_; v; v >>= 1) bits++;
    const bool power_of_two = (valueRange_ & (valueRange_ - 1)) == 0;
    maxClass_ = power_of_two ? bits - 1 : bits;
    wrapRange_ = valueRange_;
    wrapMin_ = -I32(valueRange_ >> 1);
    wrapMax_ = I32(U32(wrapMin_) + valueRange_ - 1);
  } else if (valueBits_ >= 1 && valueBits_ <= 31) {
    maxClass_ = valueBits_;
    wrapRange_ = 1u << valueBits_;
    wrapMin_ = -I32(wrapRange_ >> 1);
    wrapMax_ = I32(U32(wrapMin_) + wrapRange_ - 1);
  } else {
    maxClass_ = 32;
    wrapRange_ = 0;
    wrapMin_ = I32_MIN;
    wrapMax_ = I32_MAX;
  }
}

void IntDeltaCoder::makeAndResetModels(bool encodeOnly) {
  if (classModels_.empty()) {
    classModels_.reserve(contextCount_);
    for (U32 i = 0; i < contextCount_; i++) classModels_.emplace_back(maxClass_ + 1, encodeOnly);
    residualModels_.reserve(maxClass_ + 1);
    residualModels_.emplace_back();
    for (U32 i = 1; i <= maxClass_; i++) {
      const U32 bits = i < modelledBits_ ? i : modelledBits_;
      residualModels_.emplace_back(1u << bits, encodeOnly);
    }
  }
  for (SymbolModel& m : classModels_) m.reset();
  residualBit_.reset();
  for (U32 i = 1; i <= maxClass_; i++) residualModels_[i].reset();
}

void IntDeltaCoder::startEncoding() {
  makeAndResetModels(true);
}
void IntDeltaCoder::startDecoding() {
  makeAndResetModels(false);
}
