// Compressed record streams give back every record bit for bit.
#include <gtest/gtest.h>

#include "tests/las/codec/codec_test_util.hpp"

using namespace codec_test;

namespace {

const Pattern kPatterns[] = {Pattern::Realistic, Pattern::RandomBytes,    Pattern::WrappingX,
                             Pattern::NaNGps,    Pattern::InterleavedGps, Pattern::Identical,
                             Pattern::GreyColour};

struct StreamCase {
  U16 compressor;
  I64 chunk_size;  // 0: adaptive, chunks ended every 37 records
};

TEST(RoundTrip, EveryLegacyPointTypeVersionAndChunking) {
  const StreamCase streams[] = {{1, -1}, {2, 1}, {2, 3}, {2, 50000}, {2, 0}, {3, 7}};
  for (U8 type = 0; type <= 5; type++) {
    for (U16 extra : {U16(0), U16(3)}) {
      const U16 size = U16(base_point_size(type) + extra);
      for (Pattern pattern : kPatterns) {
        const std::vector<Record> all = makeRecords(type, size, pattern, 300, 7 + type);
        for (U16 version : {U16(1), U16(2)}) {
          for (const StreamCase& sc : streams) {
            SCOPED_TRACE(testing::Message()
                         << "type " << int(type) << " size " << size << " " << patternName(pattern)
                         << " v" << version << " compressor " << sc.compressor << " chunk "
                         << sc.chunk_size);
            // Every chunk resets all models: keep the tiny-chunk cases short.
            const size_t n = sc.chunk_size == 1 ? 30 : (sc.chunk_size == 3 ? 100 : 300);
            const std::vector<Record> records(all.begin(), all.begin() + n);
            const Vorzak config = makeConfig(type, size, sc.compressor, version, sc.chunk_size);
            const Encoded enc = encode(config.items, &config, records, sc.chunk_size == 0 ? 37 : 0);
            ASSERT_TRUE(enc.ok);
            const Decoded dec = decode(config.items, &config, enc.bytes, U32(records.size()));
            ASSERT_EQ(dec.error, "");
            ASSERT_EQ(dec.warning, "");
            ASSERT_EQ(dec.records.size(), records.size());
            for (size_t i = 0; i < records.size(); i++) {
              ASSERT_EQ(dec.records[i], records[i]) << "record " << i;
            }
          }
        }
      }
    }
  }
}

}  // namespace
