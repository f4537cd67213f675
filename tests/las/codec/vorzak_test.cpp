#include "las/codec/vorzak.hpp"

#include <gtest/gtest.h>

#include "las/core/bytestream_out.hpp"

namespace {

const std::string kSuffix = " (Vorzak v3.4r3)";

TEST(Vorzak, DefaultPayloadBytes) {
  Vorzak v;
  const LASitem point(LASitem::POINT10, 20, 2);
  ASSERT_TRUE(v.setup(1, &point, 2));
  const std::vector<U8> expected = {0x02, 0x00, 0x00, 0x00, 0x03, 0x04, 0x03, 0x00, 0x00, 0x00,
                                    0x00, 0x00, 0x50, 0xC3, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                    0xFF, 0xFF, 0x01, 0x00, 0x06, 0x00, 0x14, 0x00, 0x02, 0x00};
  EXPECT_EQ(v.payloadSize(), 40);
  EXPECT_EQ(v.payload(), expected);
  ByteStreamOutArrayLE out;
  ASSERT_TRUE(v.writePayload(out));
  EXPECT_EQ(std::vector<U8>(out.data(), out.data() + out.size()), expected);
  EXPECT_EQ(Vorzak::description(), "by vorzak of Quintrel (200304)");

  Vorzak parsed;
  ASSERT_TRUE(parsed.parsePayload(expected.data(), U32(expected.size())));
  EXPECT_EQ(parsed.payload(), expected);
  EXPECT_EQ(parsed.chunk_size, 50000u);
  EXPECT_EQ(parsed.number_of_special_evlrs, -1);
}

TEST(Vorzak, PayloadMustHoldExactlyItsItems) {
  Vorzak v;
  std::vector<LASitem> items;
  ASSERT_TRUE(v.itemsForPointType(items, 3, 36));
  ASSERT_TRUE(v.setup(items, 2));
  ASSERT_TRUE(v.assignVersion(2));
  std::vector<U8> payload = v.payload();
  ASSERT_EQ(payload.size(), 34u + 6 * 4);
  Vorzak parsed;
  EXPECT_FALSE(parsed.parsePayload(payload.data(), U32(payload.size() - 1)));
  payload.push_back(0);
  EXPECT_FALSE(parsed.parsePayload(payload.data(), U32(payload.size())));
  payload.pop_back();
  EXPECT_FALSE(parsed.parsePayload(payload.data(), 20));
  ASSERT_TRUE(parsed.parsePayload(payload.data(), U32(payload.size())));
  EXPECT_TRUE(parsed.validatePointFormat(3, 36)) << parsed.errorText();
  EXPECT_EQ(parsed.items, v.items);

  // an unknown item type
  payload[34 + 6 * 3] = 5;
  EXPECT_FALSE(parsed.parsePayload(payload.data(), U32(payload.size())));
  EXPECT_EQ(parsed.errorText(), "item unknown (5,2,2)" + kSuffix);
}

TEST(Vorzak, PointFormatAndCompressorMustAgreeWithTheItems) {
  Vorzak v;
  std::vector<LASitem> items;
  ASSERT_TRUE(v.itemsForPointType(items, 1, 28));
  ASSERT_TRUE(v.setup(items, 2));
  ASSERT_TRUE(v.assignVersion(2));
  EXPECT_TRUE(v.validatePointFormat(1, 28));
  EXPECT_FALSE(v.validatePointFormat(3, 28));
  EXPECT_FALSE(v.validatePointFormat(11, 28));
  EXPECT_FALSE(v.validatePointFormat(1, 30));
  EXPECT_EQ(v.errorText(), "point has size of 30 but items only add up to 28 bytes" + kSuffix);

  Vorzak layered = v;
  layered.compressor = 3;
  EXPECT_FALSE(layered.validate(28));
  Vorzak raw_items = v;
  raw_items.items[1].version = 0;
  EXPECT_FALSE(raw_items.validate(28));
  Vorzak uncompressed = v;
  uncompressed.compressor = 0;
  EXPECT_TRUE(uncompressed.validate(28));

  Vorzak coder = v;
  coder.coder = 1;
  EXPECT_FALSE(coder.validate(0));
  EXPECT_EQ(coder.errorText(), "coder 1 not supported" + kSuffix);
  Vorzak compressor = v;
  compressor.compressor = 4;
  EXPECT_FALSE(compressor.validate(0));
  EXPECT_EQ(compressor.errorText(), "compressor 4 not supported" + kSuffix);
}

TEST(Vorzak, ItemListsAndStandardPointTypes) {
  Vorzak v;
  std::vector<LASitem> items;
  ASSERT_TRUE(v.itemsForPointType(items, 1, 32));
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[2], LASitem(LASitem::BYTE, 4, 0));
  U8 type = 0;
  U16 length = 0;
  EXPECT_TRUE(v.standardPointType(U16(items.size()), items.data(), &type, &length));
  EXPECT_EQ(type, 1);
  EXPECT_EQ(length, 32);

  for (U8 t = 0; t <= 10; t++) {
    ASSERT_TRUE(v.itemsForPointType(items, t, U16(base_point_size(t) + (t % 2) * 3)));
    EXPECT_TRUE(v.standardPointType(U16(items.size()), items.data(), &type, &length));
    EXPECT_EQ(type, t);
  }

  const std::vector<LASitem> bad[] = {
      {LASitem(LASitem::POINT10, 20), LASitem(LASitem::RGB12, 6), LASitem(LASitem::GPSTIME11, 8)},
      {LASitem(LASitem::POINT10, 20), LASitem(LASitem::BYTE, 0)},
      {LASitem(LASitem::POINT10, 20), LASitem(LASitem::BYTE, 2), LASitem(LASitem::BYTE, 2)},
      {LASitem(LASitem::POINT14, 30), LASitem(LASitem::GPSTIME11, 8)},
  };
  for (const auto& list : bad) {
    EXPECT_FALSE(v.standardPointType(U16(list.size()), list.data(), &type, &length));
    EXPECT_EQ(type, 127);
    EXPECT_EQ(v.errorText(), "LASitem array does not match LAS specification 1.4" + kSuffix);
  }
  const LASitem rgb(LASitem::RGB12, 6);
  EXPECT_FALSE(v.standardPointType(1, &rgb, &type, &length));
  EXPECT_EQ(v.errorText(), "LASitem array does not match LAS specification 1.4" + kSuffix);
  const std::vector<LASitem> six(6, LASitem(LASitem::POINT10, 20));
  EXPECT_FALSE(v.standardPointType(6, six.data(), &type, &length));
  EXPECT_EQ(v.errorText(), "more than five LASitem entries" + kSuffix);

  // a BYTE item of no bytes is refused before any codec is made
  Vorzak w;
  const std::vector<LASitem> empty_byte = {LASitem(LASitem::POINT10, 20),
                                           LASitem(LASitem::BYTE, 0)};
  EXPECT_FALSE(w.setup(empty_byte, 2));
  EXPECT_EQ(w.errorText(), "BYTE has size < 1" + kSuffix);
}

TEST(Vorzak, SetupVersionsAndChunkSizes) {
  std::vector<LASitem> p14;
  Vorzak v;
  ASSERT_TRUE(v.itemsForPointType(p14, 10, 67));
  EXPECT_FALSE(v.setup(p14, 2));
  EXPECT_EQ(v.errorText(), "");
  ASSERT_TRUE(v.setup(p14, 3));
  EXPECT_TRUE(v.assignVersion(2));
  for (const LASitem& item : v.items) EXPECT_EQ(item.version, 3);
  EXPECT_FALSE(v.assignVersion(3));
  EXPECT_EQ(v.errorText(), "version larger than 2 not supported" + kSuffix);
  EXPECT_FALSE(v.assignVersion(0));
  EXPECT_EQ(v.errorText(), "with compression version is at least 1" + kSuffix);

  std::vector<LASitem> p10;
  Vorzak w;
  ASSERT_TRUE(w.itemsForPointType(p10, 5, 63));
  EXPECT_FALSE(w.assignVersion(1));
  EXPECT_EQ(w.errorText(), "call setup() before requesting version" + kSuffix);
  EXPECT_FALSE(w.assignChunkSize(10));
  EXPECT_EQ(w.errorText(), "call setup() before setting chunk size" + kSuffix);
  ASSERT_TRUE(w.setup(p10, 3));
  EXPECT_EQ(w.compressor, 2);
  ASSERT_TRUE(w.assignVersion(1));
  EXPECT_EQ(w.items[0].version, 1);
  EXPECT_EQ(w.items[3].version, 1);  // WAVEPACKET13 only has version 1
  EXPECT_TRUE(w.assignChunkSize(0));
  EXPECT_EQ(w.chunk_size, 0u);

  Vorzak pointwise;
  ASSERT_TRUE(pointwise.setup(p10, 1));
  EXPECT_FALSE(pointwise.assignChunkSize(100));
  EXPECT_EQ(pointwise.chunk_size, 50000u);

  Vorzak none;
  ASSERT_TRUE(none.setup(p10, 0));
  EXPECT_FALSE(none.assignVersion(2));
  EXPECT_EQ(none.errorText(), "without compression version is always 0" + kSuffix);
  EXPECT_TRUE(none.assignVersion(0));
}

TEST(Vorzak, ValidateItemMessages) {
  struct Case {
    LASitem item;
    const char* text;
  };
  const Case cases[] = {
      {LASitem(LASitem::POINT10, 21, 2), "POINT10 has size != 20"},
      {LASitem(LASitem::POINT10, 20, 3), "POINT10 has version > 2"},
      {LASitem(LASitem::WAVEPACKET13, 29, 2), "WAVEPACKET13 has version > 1"},
      {LASitem(LASitem::POINT14, 30, 1), "POINT14 has version != 0 and != 2 and != 3 and != 4"},
      {LASitem(LASitem::WAVEPACKET14, 29, 2), "WAVEPACKET14 has version != 0 and != 3 and != 4"},
      {LASitem(LASitem::BYTE14, 0, 3), "BYTE14 has size < 1"},
      {LASitem(LASitem::RGBNIR14, 6, 3), "RGBNIR14 has size != 8"},
  };
  Vorzak v;
  for (const Case& c : cases) {
    EXPECT_FALSE(v.validateItem(c.item));
    EXPECT_EQ(v.errorText(), c.text + kSuffix);
  }
  EXPECT_TRUE(v.validateItem(LASitem(LASitem::BYTE, 1, 2)));
  // without a record length the sum is not checked
  Vorzak w;
  const LASitem point(LASitem::POINT10, 20, 2);
  ASSERT_TRUE(w.setup(1, &point, 2));
  EXPECT_TRUE(w.validate(0));
}

}  // namespace
