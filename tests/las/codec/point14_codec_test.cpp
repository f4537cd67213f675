// The layered codecs driven directly: the context word they hand on, which
// last item the later items predict from after a channel switch, the bytes of
// a one-record chunk, and the mapping to the legacy point fields.
#include <gtest/gtest.h>

#include "las/codec/int_delta_coder.hpp"
#include "las/codec/lasitem_point14.hpp"
#include "tests/las/codec/point14_test_util.hpp"

using namespace p14test;

namespace {

// The bytes a writer puts on the main stream at the end of a chunk: its
// layer sizes, then its layer bytes.
template <class Writer>
std::vector<U8> closeChunk(Writer& writer, EntropyEncoder& main, ByteStreamOutArrayLE& out) {
  EXPECT_TRUE(writer.writeLayerSizes());
  EXPECT_TRUE(writer.writeLayerBytes());
  (void)main;
  return std::vector<U8>(out.data(), out.data() + out.size());
}

// Records with the given scanner channels, each with its own colour.
std::vector<Record> channelRecords(const std::vector<U32>& channels, U8 type) {
  std::vector<Record> records;
  const U32 size = base_point_size(type);
  for (size_t i = 0; i < channels.size(); i++) {
    Record r(size, 0);
    put32(r, 0, U32(1000 + 10 * i));
    put32(r, 4, U32(2000 + 3 * i));
    put32(r, 8, U32(300 + channels[i]));
    put16(r, 12, U16(50 + i));
    r[14] = 0x11;
    r[15] = U8(channels[i] << 4);
    r[16] = 2;
    put64(r, 22, doubleBits(10.0 + 0.001 * F64(i)));
    if (type == 7) {
      for (int c = 0; c < 3; c++) put16(r, 30 + 2 * c, U16(1000 * channels[i] + 7 * i + c));
    }
    records.push_back(r);
  }
  return records;
}

TEST(Point14Codec, ContextWordHandedToLaterItems) {
  // Version 3 stores the channel only on a record that switches channel;
  // version 4 on every record.
  const std::vector<U32> channels = {2, 1, 1, 3, 3, 3, 1, 0};
  const std::vector<U32> expectedV3 = {2, 1, 0, 3, 0, 0, 1, 0};
  const std::vector<U32> expectedV4 = {2, 1, 1, 3, 3, 3, 1, 0};
  const std::vector<Record> records = channelRecords(channels, 6);
  for (bool v4 : {false, true}) {
    SCOPED_TRACE(v4 ? "version 4" : "version 3");
    const std::vector<U32>& expected = v4 ? expectedV4 : expectedV3;
    LASscaleOffset so;
    LASpoint p;
    p.init_layout(&so, 6, 30, nullptr);
    EntropyEncoder main;
    ByteStreamOutArrayLE out;
    main.start(&out);
    std::unique_ptr<LASwriteItemCompressed_POINT14_v3> writer =
        v4 ? std::make_unique<LASwriteItemCompressed_POINT14_v4>(main)
           : std::make_unique<LASwriteItemCompressed_POINT14_v3>(main);
    for (size_t i = 0; i < records.size(); i++) {
      loadRecord(p, records[i]);
      U32 context = 0;
      if (i == 0) {
        ASSERT_TRUE(writer->startChunk(p.item_targets[0], context));
      } else {
        ASSERT_TRUE(writer->writeItem(p.item_targets[0], context));
      }
      EXPECT_EQ(context, expected[i]) << "writer, record " << i;
    }
    const std::vector<U8> bytes = closeChunk(*writer, main, out);

    // The reader hands on the same words and delivers the same records.
    EntropyDecoder decoder;
    ByteStreamInArrayLE in(bytes.data(), I64(bytes.size()));
    decoder.start(&in, false);
    std::unique_ptr<LASreadItemCompressed_POINT14_v3> reader =
        v4 ? std::make_unique<LASreadItemCompressed_POINT14_v4>(decoder, layer_select::ALL)
           : std::make_unique<LASreadItemCompressed_POINT14_v3>(decoder, layer_select::ALL);
    ASSERT_TRUE(reader->readLayerSizes());
    loadRecord(p, records[0]);
    U32 context = 0;
    ASSERT_TRUE(reader->startChunk(p.item_targets[0], context));
    EXPECT_EQ(context, expected[0]);
    for (size_t i = 1; i < records.size(); i++) {
      context = 0;
      reader->readItem(p.item_targets[0], context);
      EXPECT_EQ(context, expected[i]) << "reader, record " << i;
      EXPECT_EQ(storeRecord(p), records[i]) << "record " << i;
    }
    EXPECT_EQ(in.tell(), I64(bytes.size()));
  }
}

// Colour items after a switch back to a channel in use: version 3 predicts
// from the last item of the channel initialised most recently, version 4 from
// that channel's own last item. Both use the models of the channel switched to.
TEST(Point14Codec, ColourPredictionAfterSwitchBack) {
  const U16 A[3] = {100, 100, 100};
  const U16 B[3] = {103, 103, 103};  // grey: only red is coded
  const U32 redOnly = 1 | 4 | 16;    // the low bytes of red, green and blue differ
  for (bool v4 : {false, true}) {
    SCOPED_TRACE(v4 ? "version 4" : "version 3");
    EntropyEncoder main;
    ByteStreamOutArrayLE out;
    main.start(&out);
    std::unique_ptr<LASwriteItemCompressed_RGB14_v3> writer =
        v4 ? std::make_unique<LASwriteItemCompressed_RGB14_v4>(main)
           : std::make_unique<LASwriteItemCompressed_RGB14_v3>(main);
    U32 context = 0;
    ASSERT_TRUE(writer->startChunk(reinterpret_cast<const U8*>(A), context));
    context = 1;
    ASSERT_TRUE(writer->writeItem(reinterpret_cast<const U8*>(B), context));
    context = 0;
    ASSERT_TRUE(writer->writeItem(reinterpret_cast<const U8*>(B), context));
    const std::vector<U8> bytes = closeChunk(*writer, main, out);

    // Every channel's models are fresh when first used.
    ByteStreamOutArrayLE layer;
    EntropyEncoder enc;
    enc.start(&layer);
    SymbolModel used1(128, true), diff1(256, true), used0(128, true), diff0(256, true);
    used1.reset();
    diff1.reset();
    used0.reset();
    diff0.reset();
    enc.putSymbol(used1, redOnly);  // channel 1 starts from A
    enc.putSymbol(diff1, 3);
    if (v4) {
      enc.putSymbol(used0, redOnly);  // channel 0's own last colour is A
      enc.putSymbol(diff0, 3);
    } else {
      enc.putSymbol(used0, 0);  // still predicting from B
    }
    ASSERT_TRUE(enc.finish());
    std::vector<U8> expected(4);
    const U32 size = U32(layer.size());
    memcpy(expected.data(), &size, 4);
    expected.insert(expected.end(), layer.data(), layer.data() + layer.size());
    EXPECT_EQ(bytes, expected);
  }
}

TEST(Point14Codec, OneRecordChunkLayout) {
  // Only XY and Z are written when nothing follows the raw record; each is a
  // finished empty coder stream.
  const std::vector<LASitem> items = itemsFor(7, 2, 3);
  const std::vector<Record> records = makeRecords(items, Pattern::Survey, 1);
  const Encoded enc = encode(layeredConfig(items, 1000), records);
  ASSERT_TRUE(enc.ok);
  const std::vector<U8>& b = enc.bytes;
  const size_t rawAt = 8;
  ASSERT_GE(b.size(), rawAt + 38 + 4 + 4 * 12 + 8);
  EXPECT_TRUE(std::equal(records[0].begin(), records[0].end(), b.begin() + rawAt));
  size_t at = rawAt + 38;
  EXPECT_EQ(get32(&b[at]), 1u);  // records in the chunk
  at += 4;
  const U32 expectedSizes[12] = {4, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // POINT14, RGB14, 2 bytes
  for (U32 i = 0; i < 12; i++) EXPECT_EQ(get32(&b[at + 4 * i]), expectedSizes[i]) << "layer " << i;
  at += 48;
  const U8 emptyStream[4] = {1, 0, 0, 0};
  EXPECT_EQ(memcmp(&b[at], emptyStream, 4), 0);
  EXPECT_EQ(memcmp(&b[at + 4], emptyStream, 4), 0);
  // The chunk table follows: its pointer at the start points here.
  U64 table;
  memcpy(&table, b.data(), 8);
  EXPECT_EQ(table, at + 8);
}

TEST(Point14Codec, LegacyFieldsMatchRawConversion) {
  struct Case {
    U8 r, n;
    U8 classification;
    I16 scanAngle;
    U8 legacyR, legacyN, legacyClass;
    I8 rank;
  };
  const Case cases[] = {
      {9, 12, 2, 2500, 6, 7, 2, 15},     {12, 12, 40, -30000, 7, 7, 0, -128},
      {5, 12, 31, 30000, 5, 7, 31, 127}, {3, 5, 32, -2500, 3, 5, 0, -15},
      {8, 9, 255, 32767, 6, 7, 0, 127},  {15, 15, 0, -32768, 7, 7, 0, -128},
      {0, 0, 1, 83, 0, 0, 1, 0},         {14, 13, 12, 84, 7, 7, 12, 1},
      {7, 6, 5, -84, 7, 6, 5, -1},       {1, 1, 200, 0, 1, 1, 0, 0},
  };
  // One chunk: the first case is its raw record, the others are coded.
  const std::vector<LASitem> items = itemsFor(6, 0, 3);
  std::vector<Record> records;
  for (const Case& c : cases) {
    Record r(30, 0);
    put32(r, 0, U32(records.size() * 7));
    r[14] = U8(c.r | (c.n << 4));
    r[15] = 0x05 | 0x40;  // synthetic, withheld, scan direction
    r[16] = c.classification;
    put16(r, 18, U16(c.scanAngle));
    records.push_back(r);
  }
  const Vorzak config = layeredConfig(items, 50000);
  const Encoded enc = encode(config, records);
  ASSERT_TRUE(enc.ok);

  LASscaleOffset so;
  LASpoint p;
  p.init_items(&so, items, nullptr);
  LASrecordReader reader;
  ByteStreamInArrayLE in(enc.bytes.data(), I64(enc.bytes.size()));
  ASSERT_TRUE(reader.configure(1, items.data(), &config));
  ASSERT_TRUE(reader.attach(&in));
  LASpoint raw;
  raw.init_items(&so, items, nullptr);
  for (size_t i = 0; i < records.size(); i++) {
    const Case& c = cases[i];
    SCOPED_TRACE(testing::Message() << "return " << int(c.r) << " of " << int(c.n) << " class "
                                    << int(c.classification) << " angle " << c.scanAngle);
    ASSERT_TRUE(reader.readRecord(p.item_targets.data())) << reader.errorText();
    EXPECT_EQ(p.return_number, c.legacyR);
    EXPECT_EQ(p.number_of_returns, c.legacyN);
    EXPECT_EQ(p.classification, c.legacyClass);
    EXPECT_EQ(p.scan_angle_rank, c.rank);
    EXPECT_EQ(p.extended_return_number, c.r);
    EXPECT_EQ(p.extended_number_of_returns, c.n);
    EXPECT_EQ(p.extended_classification, c.classification);
    EXPECT_EQ(p.extended_scan_angle, c.scanAngle);
    EXPECT_EQ(p.synthetic_flag, 1);
    EXPECT_EQ(p.keypoint_flag, 0);
    EXPECT_EQ(p.withheld_flag, 1);
    EXPECT_EQ(p.scan_direction_flag, 1);
    // Every field equals what the raw reader makes of the stored record.
    loadRecord(raw, records[i]);
    EXPECT_EQ(memcmp(raw.point10(), p.point10(), 20), 0);
    EXPECT_EQ(raw.extended_scan_angle, p.extended_scan_angle);
    EXPECT_EQ(raw.extended_scanner_channel, p.extended_scanner_channel);
    EXPECT_EQ(raw.extended_classification_flags, p.extended_classification_flags);
    EXPECT_EQ(raw.gps_time, p.gps_time);
  }
}

// A point whose legacy fields were set by a filter or transform is coded as
// the raw writer stores it, so the raw first record and the coded records of
// a chunk agree.
TEST(Point14Codec, WriterCodesWhatTheRawWriterStores) {
  const std::vector<LASitem> items = itemsFor(6, 0, 3);
  const Vorzak config = layeredConfig(items, 50000);
  LASscaleOffset so;
  LASpoint p;
  p.init_items(&so, items, nullptr);
  LASrecordWriter writer;
  ByteStreamOutArrayLE out;
  ASSERT_TRUE(writer.configure(1, items.data(), &config));
  ASSERT_TRUE(writer.attach(&out));
  std::vector<Record> stored;
  for (U32 i = 0; i < 6; i++) {
    p.X = I32(i * 10);
    p.extended_classification = 40;
    p.classification = (i % 2) ? 6 : 0;  // a non-zero legacy class wins
    p.withheld_flag = i % 3 == 0;
    p.extended_classification_flags = U8((i % 3 == 0 ? 4 : 0) | 8);
    p.extended_scanner_channel = i % 4;
    stored.push_back(storeRecord(p));
    ASSERT_TRUE(writer.writeRecord(p.item_targets.data()));
  }
  ASSERT_TRUE(writer.finish());
  const std::vector<U8> bytes(out.data(), out.data() + out.size());
  const Decoded dec = decode(config, bytes, U32(stored.size()));
  ASSERT_EQ(dec.error, "");
  EXPECT_EQ(dec.records, stored);
}

}  // namespace
