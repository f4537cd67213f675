// Item codecs at the level of the symbols they code.
#include <gtest/gtest.h>

#include "las/codec/int_delta_coder.hpp"
#include "las/codec/lasitem_compressed.hpp"
#include "tests/las/codec/codec_test_util.hpp"

using namespace codec_test;

namespace {

std::vector<U8> bytesOf(const ByteStreamOutArrayLE& out) {
  return std::vector<U8>(out.data(), out.data() + out.size());
}

Record point10(I32 x, I32 y, I32 z, U16 intensity, U8 returnByte) {
  Record r(20, 0);
  memcpy(&r[0], &x, 4);
  memcpy(&r[4], &y, 4);
  memcpy(&r[8], &z, 4);
  memcpy(&r[12], &intensity, 2);
  r[14] = returnByte;
  r[15] = 2;
  return r;
}

TEST(ItemCodec, IdenticalPoint10RecordCodesNothingButZeroCorrections) {
  // Z of 0 matches the chunk's initial height prediction
  const Record rec = point10(1000, 2000, 0, 0, 0x09);  // return 1 of 1
  ByteStreamOutArrayLE a, b;
  EntropyEncoder ea, eb;
  ea.start(&a);
  LASwriteItemCompressed_POINT10_v2 writer(ea);
  U32 context = 0;
  writer.startChunk(rec.data(), context);
  writer.writeItem(rec.data(), context);
  ea.finish();

  eb.start(&b);
  SymbolModel changed = eb.makeSymbolModel(64);
  changed.reset();
  eb.putSymbol(changed, 0);
  IntDeltaCoder x(eb, 32, 2), y(eb, 32, 22), z(eb, 32, 20);
  x.startEncoding();
  y.startEncoding();
  z.startEncoding();
  x.encode(0, 0, 1);  // n = 1 selects the second context
  y.encode(0, 0, 0 + 1);
  z.encode(0, 0, 0 + 1);
  eb.finish();
  EXPECT_EQ(bytesOf(a), bytesOf(b));
}

TEST(ItemCodec, IntensityEqualToItsReturnContextIsNotCoded) {
  // return 1 of 2 (context 1), then 2 of 2 (context 2), then 1 of 2 again
  // with the first intensity: the third record codes no intensity.
  const std::vector<Record> records = {point10(0, 0, 0, 500, 0x11), point10(1, 0, 0, 700, 0x11),
                                       point10(2, 0, 0, 90, 0x12), point10(3, 0, 0, 700, 0x11)};
  ByteStreamOutArrayLE out;
  EntropyEncoder enc;
  enc.start(&out);
  LASwriteItemCompressed_POINT10_v2 writer(enc);
  U32 context = 0;
  writer.startChunk(records[0].data(), context);
  for (size_t i = 1; i < records.size(); i++) writer.writeItem(records[i].data(), context);
  enc.finish();
  ByteStreamInArrayLE in(out.data(), out.size());
  EntropyDecoder dec;
  dec.start(&in);
  LASreadItemCompressed_POINT10_v2 reader(dec);
  Record item = records[0];
  reader.startChunk(item.data(), context);
  for (size_t i = 1; i < records.size(); i++) {
    reader.readItem(item.data(), context);
    EXPECT_EQ(item, records[i]) << i;
  }
}

TEST(ItemCodec, GpsDifferenceOfThreeTimesTheLastCodesMultiplierThree) {
  // the codec works on bit patterns: differences d and 3d between them
  const I64 bits[3] = {0x41D0000000000000ll, 0x41D0000000000000ll + 1000,
                       0x41D0000000000000ll + 4000};
  F64 times[3];
  memcpy(times, bits, sizeof(times));
  ByteStreamOutArrayLE a, b;
  EntropyEncoder ea, eb;
  ea.start(&a);
  LASwriteItemCompressed_GPSTIME11_v2 writer(ea);
  U32 context = 0;
  writer.startChunk(reinterpret_cast<const U8*>(&times[0]), context);
  writer.writeItem(reinterpret_cast<const U8*>(&times[1]), context);
  writer.writeItem(reinterpret_cast<const U8*>(&times[2]), context);
  ea.finish();

  eb.start(&b);
  SymbolModel multi = eb.makeSymbolModel(516), zero = eb.makeSymbolModel(6);
  multi.reset();
  zero.reset();
  IntDeltaCoder ic(eb, 32, 9);
  ic.startEncoding();
  const I32 d = I32(bits[1] - bits[0]);
  eb.putSymbol(zero, 1);
  ic.encode(0, d, 0);
  eb.putSymbol(multi, 3);
  ic.encode(I32(U32(3) * U32(d)), I32(bits[2] - bits[1]), 2);
  EXPECT_EQ(ic.lastClass(), 0u);  // a zero correction
  eb.finish();
  EXPECT_EQ(bytesOf(a), bytesOf(b));
}

TEST(ItemCodec, InterleavedGpsSequencesSwitchInsteadOfCodingFullTimes) {
  // two sequences whose bit patterns lie far apart: after both are known,
  // each time switches
  std::vector<F64> times;
  for (int i = 0; i < 4000; i++) {
    times.push_back(i % 2 ? 4503599627370496.0 + 3 * i : 1125899906842624.0 + i);
  }
  ByteStreamOutArrayLE out;
  EntropyEncoder enc;
  enc.start(&out);
  LASwriteItemCompressed_GPSTIME11_v2 writer(enc);
  U32 context = 0;
  writer.startChunk(reinterpret_cast<const U8*>(&times[0]), context);
  for (size_t i = 1; i < times.size(); i++) {
    writer.writeItem(reinterpret_cast<const U8*>(&times[i]), context);
  }
  enc.finish();
  // a full time costs more than four bytes; a switch and a repeated
  // difference cost a few bits once the models have adapted
  EXPECT_LT(out.size(), 4000u);
  ByteStreamInArrayLE in(out.data(), out.size());
  EntropyDecoder dec;
  dec.start(&in);
  LASreadItemCompressed_GPSTIME11_v2 reader(dec);
  F64 t = times[0];
  reader.startChunk(reinterpret_cast<U8*>(&t), context);
  for (size_t i = 1; i < times.size(); i++) {
    reader.readItem(reinterpret_cast<U8*>(&t), context);
    ASSERT_EQ(t, times[i]) << i;
  }
}

TEST(ItemCodec, ChainedGpsSequenceSwitchesAreCorrupt) {
  // No writer switches twice for one time; a reader must not follow such a
  // chain around the four sequences.
  ByteStreamOutArrayLE out;
  EntropyEncoder enc;
  enc.start(&out);
  SymbolModel zero = enc.makeSymbolModel(6);
  zero.reset();
  for (int i = 0; i < 8; i++) enc.putSymbol(zero, 3);
  enc.finish();
  ByteStreamInArrayLE in(out.data(), out.size());
  EntropyDecoder dec;
  dec.start(&in);
  LASreadItemCompressed_GPSTIME11_v2 reader(dec);
  F64 t = 5.0;
  U32 context = 0;
  reader.startChunk(reinterpret_cast<U8*>(&t), context);
  EXPECT_THROW(reader.readItem(reinterpret_cast<U8*>(&t), context), DecodingError);
}

TEST(ItemCodec, GreyColourCodesOnlyItsRedBytes) {
  const U16 first[3] = {100, 2000, 300};
  const U16 grey[3] = {0x1234, 0x1234, 0x1234};
  ByteStreamOutArrayLE a, b;
  EntropyEncoder ea, eb;
  ea.start(&a);
  LASwriteItemCompressed_RGB12_v2 writer(ea);
  U32 context = 0;
  writer.startChunk(reinterpret_cast<const U8*>(first), context);
  writer.writeItem(reinterpret_cast<const U8*>(grey), context);
  ea.finish();
  eb.start(&b);
  SymbolModel used = eb.makeSymbolModel(128), rl = eb.makeSymbolModel(256),
              rh = eb.makeSymbolModel(256);
  used.reset();
  rl.reset();
  rh.reset();
  eb.putSymbol(used, 0x3F);  // all six bytes differ, colour bit clear
  eb.putSymbol(rl, U8(0x34 - 100));
  eb.putSymbol(rh, U8(0x12 - 0));
  eb.finish();
  EXPECT_EQ(bytesOf(a), bytesOf(b));

  ByteStreamInArrayLE in(a.data(), a.size());
  EntropyDecoder dec;
  dec.start(&in);
  LASreadItemCompressed_RGB12_v2 reader(dec);
  U16 rgb[3] = {first[0], first[1], first[2]};
  reader.startChunk(reinterpret_cast<U8*>(rgb), context);
  reader.readItem(reinterpret_cast<U8*>(rgb), context);
  EXPECT_EQ(rgb[1], 0x1234);
  EXPECT_EQ(rgb[2], 0x1234);
}

TEST(ItemCodec, RunningMedianOfFive) {
  codec_detail::RunningMedian5 m;
  m.reset();
  EXPECT_EQ(m.median(), 0);
  const I32 values[] = {5, 9, -3, 7, 7, 100, -50, 2, 8};
  // worked through the insertion rules by hand, starting from five zeros
  std::vector<I32> got;
  for (I32 v : values) {
    m.add(v);
    got.push_back(m.median());
  }
  EXPECT_EQ(got, (std::vector<I32>{0, 0, 0, 0, 5, 7, 7, 5, 5}));
}

}  // namespace
