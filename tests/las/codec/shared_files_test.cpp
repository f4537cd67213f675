// Records of LAS files written by other software survive compression.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "tests/las/codec/codec_test_util.hpp"
#include "tests/support/test_data.hpp"

using namespace codec_test;

namespace {

struct LasPoints {
  U8 format = 0;
  U16 record_length = 0;
  std::vector<Record> records;
};

U32 le32(const std::vector<U8>& b, size_t at) {
  return U32(b[at]) | (U32(b[at + 1]) << 8) | (U32(b[at + 2]) << 16) | (U32(b[at + 3]) << 24);
}

// Just the header fields needed to find the records.
bool readLas(const std::string& path, LasPoints& out) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<U8> b((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (b.size() < 227 || memcmp(b.data(), "LASF", 4) != 0) return false;
  const U32 offset = le32(b, 96);
  out.format = b[104] & 0x3F;
  out.record_length = U16(b[105] | (b[106] << 8));
  U64 count = le32(b, 107);
  if (count == 0 && b.size() >= 255 && b[25] >= 4) count = le32(b, 247);
  if (out.record_length == 0 || offset > b.size()) return false;
  count = std::min<U64>(count, (b.size() - offset) / out.record_length);
  for (U64 i = 0; i < count; i++) {
    const U8* r = b.data() + offset + i * out.record_length;
    out.records.emplace_back(r, r + out.record_length);
  }
  return true;
}

TEST(SharedFiles, LegacyRecordsRoundTripThroughEveryCompressor) {
  SKIP_WITHOUT_SHARED_DATA(dir);
  const char* names[] = {"simple.las",         "autzen.las",     "extrabytes.las", "4_6_crop.las",
                         "vegetation_1_3.las", "simple1_3.las",  "epsg_4326.las",  "prec3.las",
                         "100-points.las",     "lots_of_vlr.las"};
  struct StreamCase {
    U16 compressor;
    I64 chunk;
  };
  const StreamCase streams[] = {{1, -1}, {2, 50000}, {2, 1000}, {2, 0}};
  int files = 0;
  for (const char* name : names) {
    LasPoints las;
    if (!readLas(dir + "/" + name, las)) continue;
    ASSERT_LE(las.format, 5) << name;
    files++;
    for (U16 version : {U16(1), U16(2)}) {
      for (const StreamCase& sc : streams) {
        SCOPED_TRACE(testing::Message() << name << " v" << version << " compressor "
                                        << sc.compressor << " chunk " << sc.chunk);
        testing::internal::CaptureStderr();
        const Vorzak config =
            makeConfig(las.format, las.record_length, sc.compressor, version, sc.chunk);
        testing::internal::GetCapturedStderr();
        const Encoded enc = encode(config.items, &config, las.records, sc.chunk == 0 ? 777 : 0);
        ASSERT_TRUE(enc.ok);
        const Decoded dec = decode(config.items, &config, enc.bytes, U32(las.records.size()));
        ASSERT_EQ(dec.error, "");
        ASSERT_EQ(dec.records.size(), las.records.size());
        for (size_t i = 0; i < las.records.size(); i++) {
          ASSERT_EQ(dec.records[i], las.records[i]) << "record " << i;
        }
      }
    }
  }
  EXPECT_GE(files, 8);
}

}  // namespace
