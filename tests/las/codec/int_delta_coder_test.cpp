#include "las/codec/int_delta_coder.hpp"

#include <gtest/gtest.h>

#include <random>

namespace {

std::vector<U8> bytesOf(const ByteStreamOutArrayLE& out) {
  return std::vector<U8>(out.data(), out.data() + out.size());
}

TEST(IntDeltaCoder, DerivedRanges) {
  struct Case {
    U32 bits, range, maxClass, wrapRange;
    I32 wrapMin, wrapMax;
  };
  const Case cases[] = {
      {16, 6, 3, 6, -3, 2},
      {16, 8, 3, 8, -4, 3},
      {16, 1, 0, 1, 0, 0},
      {8, 0, 8, 256, -128, 127},
      {16, 0, 16, 65536, -32768, 32767},
      {31, 0, 31, 0x80000000u, -(1 << 30), (1 << 30) - 1},
      {32, 0, 32, 0, I32_MIN, I32_MAX},
      {0, 0, 32, 0, I32_MIN, I32_MAX},
  };
  EntropyEncoder enc;
  for (const Case& c : cases) {
    IntDeltaCoder ic(enc, c.bits, 1, 8, c.range);
    EXPECT_EQ(ic.maxClass(), c.maxClass) << c.bits << "/" << c.range;
    EXPECT_EQ(ic.wrapRange(), c.wrapRange) << c.bits << "/" << c.range;
    EXPECT_EQ(ic.wrapMin(), c.wrapMin) << c.bits << "/" << c.range;
    EXPECT_EQ(ic.wrapMax(), c.wrapMax) << c.bits << "/" << c.range;
  }
}

// A correction is its class symbol, then a bit (class 0), a residual symbol,
// or a residual symbol and raw low bits; checked against the same coding
// done by hand with fresh models.
TEST(IntDeltaCoder, CorrectionsCodeAsClassAndResidual) {
  struct Case {
    U32 bits;
    I32 prediction, actual;
    U32 cls;
    int residual;  // bit or symbol; -1 none
    U32 rawBits;
    U32 raw;
  };
  const Case cases[] = {
      {32, 10, 10, 0, 0, 0, 0},                     // 0: class 0, bit 0
      {32, 10, 11, 0, 1, 0, 0},                     // +1: class 0, bit 1
      {32, 10, 9, 1, 0, 0, 0},                      // -1: class 1, symbol 0
      {32, 10, 12, 1, 1, 0, 0},                     // +2: class 1, symbol 1
      {32, 0, 2000, 11, 1999 >> 3, 3, 1999 & 7},    // v = c - 1
      {32, 0, -3000, 12, 1095 >> 4, 4, 1095 & 15},  // -3000 + 4095 = 1095
      {32, 0, I32_MIN, 32, -1, 0, 0},               // -2^31: the class alone
      {16, 65535, 0, 0, 1, 0, 0},                   // wraps to +1
      {16, 0, 65535, 1, 0, 0, 0},                   // wraps to -1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.prediction << " -> " << c.actual);
    ByteStreamOutArrayLE a, b;
    EntropyEncoder ea, eb;
    ea.start(&a);
    IntDeltaCoder ic(ea, c.bits, 1, 8, 0);
    ic.startEncoding();
    ic.encode(c.prediction, c.actual, 0);
    EXPECT_EQ(ic.lastClass(), c.cls);
    ea.finish();

    eb.start(&b);
    SymbolModel cls = eb.makeSymbolModel(ic.maxClass() + 1);
    cls.reset();
    eb.putSymbol(cls, c.cls);
    if (c.cls == 0) {
      BitModel bit;
      eb.putBit(bit, U32(c.residual));
    } else if (c.residual >= 0) {
      SymbolModel res = eb.makeSymbolModel(1u << std::min(c.cls, 8u));
      res.reset();
      eb.putSymbol(res, U32(c.residual));
      if (c.rawBits) eb.putRawBits(c.rawBits, c.raw);
    }
    eb.finish();
    EXPECT_EQ(bytesOf(a), bytesOf(b));

    ByteStreamInArrayLE in(a.data(), a.size());
    EntropyDecoder dec;
    dec.start(&in);
    IntDeltaCoder id(dec, c.bits, 1, 8, 0);
    id.startDecoding();
    const I32 got = id.decode(c.prediction, 0);
    const I32 want = c.bits == 16 ? I32(U32(c.actual) & 0xFFFF) : c.actual;
    EXPECT_EQ(got, want);
    EXPECT_EQ(id.lastClass(), c.cls);
  }
}

TEST(IntDeltaCoder, RandomValuesRoundTripWithMatchingClasses) {
  struct Params {
    U32 bits, contexts, modelled, range;
  };
  const Params params[] = {{32, 3, 8, 0}, {16, 4, 8, 0},    {8, 2, 8, 0}, {32, 1, 4, 0},
                           {16, 1, 8, 6}, {16, 2, 8, 1000}, {20, 2, 6, 0}};
  std::mt19937 rng(3);
  for (const Params& p : params) {
    const U32 mask = p.range ? 0xFFFFFFFFu : (p.bits >= 32 ? 0xFFFFFFFFu : (1u << p.bits) - 1);
    std::vector<I32> predictions, actuals;
    std::vector<U32> contexts;
    for (int i = 0; i < 20000; i++) {
      const U32 scale = 1u << (rng() % 32);
      U32 pred = U32(rng()), act = pred + U32(rng() % scale) - scale / 2;
      if (p.range) {
        pred %= p.range;
        act %= p.range;
      }
      predictions.push_back(I32(pred & mask));
      actuals.push_back(I32(act & mask));
      contexts.push_back(rng() % p.contexts);
    }
    ByteStreamOutArrayLE out;
    EntropyEncoder enc;
    enc.start(&out);
    IntDeltaCoder ic(enc, p.bits, p.contexts, p.modelled, p.range);
    ic.startEncoding();
    std::vector<U32> classes;
    for (size_t i = 0; i < actuals.size(); i++) {
      ic.encode(predictions[i], actuals[i], contexts[i]);
      classes.push_back(ic.lastClass());
    }
    enc.finish();
    ByteStreamInArrayLE in(out.data(), out.size());
    EntropyDecoder dec;
    dec.start(&in);
    IntDeltaCoder id(dec, p.bits, p.contexts, p.modelled, p.range);
    id.startDecoding();
    for (size_t i = 0; i < actuals.size(); i++) {
      ASSERT_EQ(id.decode(predictions[i], contexts[i]), actuals[i])
          << "bits " << p.bits << " range " << p.range << " at " << i;
      ASSERT_EQ(id.lastClass(), classes[i]);
    }
  }
}

}  // namespace
