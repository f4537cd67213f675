#include "las/codec/lasitem_raw.hpp"

#include <gtest/gtest.h>

#include "las/core/laspoint.hpp"
#include "tests/las/codec/codec_test_util.hpp"

using namespace codec_test;

namespace {

// A POINT14 record with return r of n, the given flags byte, class and angle.
std::vector<U8> point14Record(U8 r, U8 n, U8 flags, U8 cls, I16 angle) {
  std::vector<U8> rec(30, 0);
  const I32 xyz[3] = {-5, 70000, 123};
  memcpy(rec.data(), xyz, 12);
  rec[12] = 0x34;
  rec[13] = 0x12;
  rec[14] = U8(r | (n << 4));
  rec[15] = flags;
  rec[16] = cls;
  rec[17] = 99;
  memcpy(&rec[18], &angle, 2);
  rec[20] = 0x11;
  rec[21] = 0x22;
  const F64 t = 123456.789;
  memcpy(&rec[22], &t, 8);
  return rec;
}

struct Point14Case {
  U8 r, n, flags, cls;
  I16 angle;
  int legacy_r, legacy_n, legacy_class, rank;
};

TEST(RawItems, Point14ReadsIntoLegacyAndExtendedFieldsAndWritesBack) {
  const Point14Case cases[] = {
      {9, 12, 0x00, 2, 0, 6, 7, 2, 0},      {12, 12, 0x00, 2, 0, 7, 7, 2, 0},
      {5, 12, 0x00, 2, 0, 5, 7, 2, 0},      {3, 5, 0x00, 2, 0, 3, 5, 2, 0},
      {1, 1, 0x00, 40, 0, 1, 1, 0, 0},      {1, 1, 0x00, 31, -30000, 1, 1, 31, -128},
      {1, 1, 0x00, 1, 2500, 1, 1, 1, 15},   {1, 1, 0x00, 1, 30000, 1, 1, 1, 127},
      {2, 3, 0xFF, 7, -2500, 2, 3, 7, -15}, {0, 0, 0x3A, 0, 83, 0, 0, 0, 0},
  };
  LASscaleOffset so;
  for (const Point14Case& c : cases) {
    LASpoint p;
    ASSERT_TRUE(p.init_layout(&so, 6, 30, nullptr));
    const std::vector<U8> rec = point14Record(c.r, c.n, c.flags, c.cls, c.angle);
    ByteStreamInArrayLE in(rec.data(), 30);
    LASreadItemRaw_POINT14_LE reader;
    reader.init(&in);
    U32 context = 0;
    reader.readItem(p.item_targets[0], context);
    SCOPED_TRACE(testing::Message() << "r=" << int(c.r) << " n=" << int(c.n));
    EXPECT_EQ(p.X, -5);
    EXPECT_EQ(p.Y, 70000);
    EXPECT_EQ(p.intensity, 0x1234);
    EXPECT_EQ(p.return_number, c.legacy_r);
    EXPECT_EQ(p.number_of_returns, c.legacy_n);
    EXPECT_EQ(p.classification, c.legacy_class);
    EXPECT_EQ(p.scan_angle_rank, c.rank);
    EXPECT_EQ(p.extended_return_number, c.r);
    EXPECT_EQ(p.extended_number_of_returns, c.n);
    EXPECT_EQ(p.extended_classification, c.cls);
    EXPECT_EQ(p.extended_scan_angle, c.angle);
    EXPECT_EQ(p.extended_classification_flags, c.flags & 15);
    EXPECT_EQ(p.extended_scanner_channel, (c.flags >> 4) & 3);
    EXPECT_EQ(p.scan_direction_flag, (c.flags >> 6) & 1);
    EXPECT_EQ(p.edge_of_flight_line, c.flags >> 7);
    EXPECT_EQ(p.withheld_flag, (c.flags >> 2) & 1);
    EXPECT_EQ(p.user_data, 99);
    EXPECT_EQ(p.point_source_ID, 0x2211);
    EXPECT_EQ(p.gps_time, 123456.789);

    // unchanged, the point writes back its 30 bytes
    ByteStreamOutArrayLE out;
    LASwriteItemRaw_POINT14_LE writer;
    writer.init(&out);
    ASSERT_TRUE(writer.writeItem(p.item_targets[0], context));
    ASSERT_EQ(out.size(), 30);
    EXPECT_EQ(std::vector<U8>(out.data(), out.data() + 30), rec);
  }
}

TEST(RawItems, LegacyPointWrittenAsPoint14) {
  LASscaleOffset so;
  LASpoint p;
  ASSERT_TRUE(p.init_layout(&so, 1, 28, nullptr));
  p.return_number = 2;
  p.number_of_returns = 3;
  p.scan_angle_rank = -15;
  p.withheld_flag = 1;
  p.classification = 9;
  ByteStreamOutArrayLE out;
  LASwriteItemRaw_POINT14_LE writer;
  writer.init(&out);
  U32 context = 0;
  ASSERT_TRUE(writer.writeItem(p.point10(), context));
  ASSERT_EQ(out.size(), 30);
  const U8* b = out.data();
  EXPECT_EQ(b[14], 0x32);
  EXPECT_EQ(b[15], 0x04);
  EXPECT_EQ(b[16], 9);
  I16 angle;
  memcpy(&angle, b + 18, 2);
  EXPECT_EQ(angle, -2500);
}

TEST(RawItems, ByteItemMovesExactlyItsSize) {
  const U8 data[5] = {1, 2, 3, 4, 5};
  ByteStreamInArrayLE in(data, 5);
  LASreadItemRaw_BYTE reader(3);
  reader.init(&in);
  U8 target[5] = {9, 9, 9, 9, 9};
  U32 context = 0;
  reader.readItem(target, context);
  EXPECT_EQ(in.tell(), 3);
  EXPECT_EQ(target[2], 3);
  EXPECT_EQ(target[3], 9);
}

TEST(RawRecords, UncompressedRecordsAreBackToBackAndReadBack) {
  for (U16 size : {U16(34), U16(41)}) {
    const std::vector<Record> records = makeRecords(3, size, Pattern::RandomBytes, 200);
    LASscaleOffset so;
    LASpoint p;
    ASSERT_TRUE(p.init_layout(&so, 3, size, nullptr));
    const Encoded enc = encode(p.items, nullptr, records);
    ASSERT_TRUE(enc.ok);
    std::vector<U8> expected;
    for (const Record& r : records) expected.insert(expected.end(), r.begin(), r.end());
    EXPECT_EQ(enc.bytes, expected);

    const Decoded dec = decode(p.items, nullptr, enc.bytes, 200);
    EXPECT_EQ(dec.error, "");
    EXPECT_EQ(dec.records, records);

    // a compressor-0 configuration behaves the same
    Vorzak none = makeConfig(3, size, 0, 0, -1);
    EXPECT_EQ(encode(none.items, &none, records).bytes, expected);
  }
}

TEST(RawRecords, TruncatedRawStreamEndsWithEndOfFile) {
  const std::vector<Record> records = makeRecords(1, 28, Pattern::Realistic, 10);
  LASscaleOffset so;
  LASpoint p;
  ASSERT_TRUE(p.init_layout(&so, 1, 28, nullptr));
  Encoded enc = encode(p.items, nullptr, records);
  enc.bytes.resize(28 * 4 + 5);
  const Decoded dec = decode(p.items, nullptr, enc.bytes, 10);
  EXPECT_EQ(dec.records.size(), 4u);
  EXPECT_EQ(dec.error, "end-of-file");
}

TEST(RawRecords, SeekInRawStream) {
  const std::vector<Record> records = makeRecords(0, 20, Pattern::RandomBytes, 50);
  LASscaleOffset so;
  LASpoint p;
  ASSERT_TRUE(p.init_layout(&so, 0, 20, nullptr));
  const Encoded enc = encode(p.items, nullptr, records);
  // the point block starts after some header bytes
  std::vector<U8> file(100, 0xAB);
  file.insert(file.end(), enc.bytes.begin(), enc.bytes.end());
  ByteStreamInArrayLE in(file.data(), I64(file.size()));
  ASSERT_TRUE(in.seek(100));
  LASrecordReader reader;
  ASSERT_TRUE(reader.configure(1, p.items.data(), nullptr));
  ASSERT_TRUE(reader.attach(&in));
  ASSERT_TRUE(reader.seekRecord(0, 37));
  ASSERT_TRUE(reader.readRecord(p.item_targets.data()));
  EXPECT_EQ(snapshot(p), records[37]);
  ASSERT_TRUE(reader.seekRecord(38, 3));
  ASSERT_TRUE(reader.readRecord(p.item_targets.data()));
  EXPECT_EQ(snapshot(p), records[3]);
}

TEST(RawRecords, ConfigureRejectsUnusableItems) {
  LASrecordWriter writer;
  LASrecordReader reader;
  const std::vector<std::vector<LASitem>> bad = {
      {LASitem(LASitem::POINT10, 20), LASitem(LASitem::BYTE, 0)},
      {LASitem(LASitem::POINT10, 21)},
      {},
  };
  for (const auto& items : bad) {
    EXPECT_FALSE(writer.configure(U32(items.size()), items.data(), nullptr));
    EXPECT_FALSE(reader.configure(U32(items.size()), items.data(), nullptr));
  }
}

}  // namespace
