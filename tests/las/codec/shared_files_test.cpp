// Records of LAS files written by other software survive compression.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/las/codec/codec_test_util.hpp"
#include "tests/support/test_data.hpp"

using namespace codec_test;

namespace {

struct LasPoints {
  U8 format = 0;
  U16 record_length = 0;
  std::vector<Record> records;
};

bool readLas(const std::string& path, LasPoints& out) {
  return read_las_records(path, out.format, out.record_length, out.records);
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
