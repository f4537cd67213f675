// Layered compression of point types 6-10 gives back every stored record.
#include <gtest/gtest.h>

#include "tests/las/codec/point14_test_util.hpp"
#include "tests/support/test_data.hpp"

using namespace p14test;

namespace {

void expectRoundTrip(const Vorzak& config, const std::vector<Record>& records,
                     U32 endChunkEvery = 0) {
  const Encoded enc = encode(config, records, endChunkEvery);
  ASSERT_TRUE(enc.ok);
  const Decoded dec = decode(config, enc.bytes, U32(records.size()));
  ASSERT_EQ(dec.error, "");
  ASSERT_EQ(dec.warning, "");
  ASSERT_EQ(dec.records.size(), records.size());
  for (size_t i = 0; i < records.size(); i++) {
    ASSERT_EQ(dec.records[i], records[i]) << "record " << i;
  }
}

const Pattern kPatterns[] = {Pattern::Survey,   Pattern::Channels, Pattern::Random,
                             Pattern::Constant, Pattern::Extremes, Pattern::GpsJumps};

TEST(Point14RoundTrip, EveryTypeVersionPatternAndChunking) {
  struct Chunking {
    U32 size;
    U32 endEvery;  // adaptive: end a chunk after this many records
  };
  const Chunking chunkings[] = {{1, 0}, {5, 0}, {50000, 0}, {0, 61}};
  for (U8 type = 6; type <= 10; type++) {
    for (U16 extra : {U16(0), U16(3), U16(19)}) {
      for (U16 version : {U16(3), U16(4)}) {
        const std::vector<LASitem> items = itemsFor(type, extra, version);
        for (Pattern pattern : kPatterns) {
          const std::vector<Record> all = makeRecords(items, pattern, 400, 11 * type + extra);
          for (const Chunking& c : chunkings) {
            // Tiny chunks mostly test chunk starts: two patterns suffice.
            const bool tiny = c.size == 1 || c.size == 5;
            if (tiny && pattern != Pattern::Channels && pattern != Pattern::Random) continue;
            SCOPED_TRACE(testing::Message()
                         << "type " << int(type) << " extra " << extra << " v" << version << " "
                         << patternName(pattern) << " chunk " << c.size << "/" << c.endEvery);
            // Every chunk resets all models: keep the tiny-chunk cases short.
            const size_t n = (c.size == 1) ? 30 : (c.size == 5 ? 120 : all.size());
            const std::vector<Record> records(all.begin(), all.begin() + n);
            expectRoundTrip(layeredConfig(items, c.size), records, c.endEvery);
          }
        }
      }
    }
  }
}

// The configuration a writer makes for a point type: compressor 3, the
// point14 family in version 3, fixed or adaptive chunks.
TEST(Point14RoundTrip, WriterConfiguration) {
  for (U8 type = 6; type <= 10; type++) {
    for (I64 chunk : {I64(-1), I64(0), I64(77)}) {
      SCOPED_TRACE(testing::Message() << "type " << int(type) << " chunk " << chunk);
      Vorzak config;
      std::vector<LASitem> items;
      ASSERT_TRUE(config.itemsForPointType(items, type, U16(base_point_size(type) + 5)));
      ASSERT_TRUE(config.setup(items, Vorzak::LAYERED_CHUNKED));
      if (chunk >= 0) {
        ASSERT_TRUE(config.assignChunkSize(U32(chunk)));
      }
      ASSERT_TRUE(config.assignVersion(2));
      for (const LASitem& item : config.items) ASSERT_EQ(item.version, 3);
      const std::vector<Record> records = makeRecords(config.items, Pattern::Channels, 500, type);
      expectRoundTrip(config, records, chunk == 0 ? 123 : 0);
    }
  }
}

// Seeking restarts the layered codecs at any chunk, forwards and backwards.
TEST(Point14RoundTrip, SeekToRecords) {
  const std::vector<LASitem> items = itemsFor(10, 4, 3);
  const std::vector<Record> records = makeRecords(items, Pattern::Channels, 1000, 21);
  for (U32 chunk : {100u, 0u}) {
    SCOPED_TRACE(chunk ? "fixed chunks" : "adaptive chunks");
    const Vorzak config = layeredConfig(items, chunk);
    const Encoded enc = encode(config, records, chunk ? 0 : 130);
    ASSERT_TRUE(enc.ok);
    LASscaleOffset so;
    LASpoint p;
    p.init_items(&so, items, nullptr);
    LASrecordReader reader;
    ByteStreamInArrayLE in(enc.bytes.data(), I64(enc.bytes.size()));
    ASSERT_TRUE(reader.configure(U32(items.size()), items.data(), &config));
    ASSERT_TRUE(reader.attach(&in));
    U32 current = 0;
    for (U32 target : {555u, 556u, 10u, 999u, 130u, 129u, 260u, 0u, 731u}) {
      ASSERT_TRUE(reader.seekRecord(current, target)) << target;
      ASSERT_TRUE(reader.readRecord(p.item_targets.data())) << reader.errorText();
      ASSERT_EQ(storeRecord(p), records[target]) << "record " << target;
      current = target + 1;
    }
  }
}

TEST(Point14RoundTrip, SharedLas14Samples) {
  SKIP_WITHOUT_SHARED_DATA(dir);
  const char* files[] = {"test1_4.las", "1_4_w_evlr.las", "simple1_4.las",
                         "unregistered_extra_bytes.las", "wontcompress3.las"};
  for (const char* name : files) {
    U8 type = 0;
    U16 length = 0;
    std::vector<Record> records;
    ASSERT_TRUE(readLasRecords(dir + "/" + name, type, length, records)) << name;
    ASSERT_FALSE(records.empty()) << name;
    for (U16 version : {U16(3), U16(4)}) {
      SCOPED_TRACE(testing::Message() << name << " v" << version);
      const std::vector<LASitem> items =
          itemsFor(type, U16(length - base_point_size(type)), version);
      expectRoundTrip(layeredConfig(items, 50000), records);
      expectRoundTrip(layeredConfig(items, 333), records);
    }
  }
}

}  // namespace
