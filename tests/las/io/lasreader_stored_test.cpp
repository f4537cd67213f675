// Keeping piped points in memory for a second pass, and passing points on to
// standard output while they are read.
#include "las/io/lasreader_stored.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "las/core/bytestream_in.hpp"
#include "las/io/lasreader_las.hpp"
#include "las/io/lasreader_pipeon.hpp"
#include "las/transform/lastransform.hpp"
#include "tests/las/io/input_files.hpp"

namespace {

// Every field of a point in a comparable form: the item images.
std::vector<U8> point_image(const LASpoint& p) {
  std::vector<U8> image;
  for (size_t i = 0; i < p.items.size(); i++) {
    const U8* at = p.item_targets[i];
    // POINT14 lives in the point's own fields; take the ones it carries.
    if (p.items[i].type == LASitem::POINT14) {
      const U8* legacy = p.point10();
      image.insert(image.end(), legacy, legacy + 20);
      image.push_back(U8(p.extended_return_number | (p.extended_number_of_returns << 4)));
      image.push_back(p.extended_classification);
      image.push_back(U8(p.extended_scanner_channel | (p.extended_classification_flags << 2)));
      const U8* angle = reinterpret_cast<const U8*>(&p.extended_scan_angle);
      image.insert(image.end(), angle, angle + 2);
      const U8* t = reinterpret_cast<const U8*>(&p.gps_time);
      image.insert(image.end(), t, t + 8);
    } else {
      image.insert(image.end(), at, at + p.items[i].size);
    }
  }
  return image;
}

std::vector<std::vector<U8>> images(LASreader* reader) {
  std::vector<std::vector<U8>> out;
  while (reader->read_point()) out.push_back(point_image(reader->point));
  return out;
}

std::unique_ptr<LASreader> las_reader(const std::vector<U8>& bytes) {
  auto reader = std::make_unique<LASreaderLAS>();
  EXPECT_TRUE(reader->open(std::make_unique<ByteStreamInArrayLE>(bytes.data(), I64(bytes.size()))));
  return reader;
}

class StoredPointTypes : public testing::TestWithParam<int> {};

TEST_P(StoredPointTypes, SecondPassDeliversTheSamePoints) {
  const int type = GetParam();
  PointFile f;
  f.point_type = U8(type);
  f.version_minor = type > 5 ? 4 : 2;
  f.points = 120000;  // more than two chunks
  const std::vector<U8> bytes = build_las(point_file_spec(f));
  std::vector<std::vector<U8>> direct = images(las_reader(bytes).get());

  LASreaderStored stored;
  ASSERT_TRUE(stored.open(las_reader(bytes)));
  EXPECT_EQ(stored.point_count, f.points);
  std::vector<std::vector<U8>> first = images(&stored);
  EXPECT_FALSE(stored.is_storing());
  // Compressed copies are far smaller than the raw records.
  EXPECT_LT(stored.get_stored_bytes(), I64(bytes.size()));
  stored.close();
  for (int pass = 0; pass < 2; pass++) {
    ASSERT_TRUE(stored.reopen());
    EXPECT_EQ(stored.point_count, f.points);
    std::vector<std::vector<U8>> again = images(&stored);
    ASSERT_EQ(again.size(), direct.size());
    EXPECT_TRUE(again == direct) << "pass " << pass;
    stored.close();
  }
  EXPECT_TRUE(first == direct);
  EXPECT_FALSE(stored.failed());
}

INSTANTIATE_TEST_SUITE_P(LASreaderStored, StoredPointTypes, testing::Values(0, 1, 3, 5, 6, 7, 8));

TEST(LASreaderStored, ReopenBeforeTheEndStoresTheRestFirst) {
  PointFile f;
  f.points = 1000;
  const std::vector<U8> bytes = build_las(point_file_spec(f));
  LASreaderStored stored;
  ASSERT_TRUE(stored.open(las_reader(bytes)));
  for (int k = 0; k < 10; k++) ASSERT_TRUE(stored.read_point());
  stored.close();
  ASSERT_TRUE(stored.reopen());
  std::vector<ReadPoint> points = read_all(&stored);
  ASSERT_EQ(points.size(), 1000u);
  EXPECT_EQ(points[999].x, 999.0);
  // Even before any point was read, every point is kept.
  LASreaderStored untouched;
  ASSERT_TRUE(untouched.open(las_reader(bytes)));
  ASSERT_TRUE(untouched.reopen());
  EXPECT_EQ(read_all(&untouched).size(), 1000u);
}

TEST(LASreaderStored, FilterTransformAndQueryApplyOnce) {
  PointFile f;
  f.points = 50;
  const std::vector<U8> bytes = build_las(point_file_spec(f));
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-translate_x 1000 "));
  std::unique_ptr<LASreader> inner = las_reader(bytes);
  inner->set_transform(&transform);
  ASSERT_TRUE(inner->inside_rectangle(10, 0, 20, 10));
  LASreaderStored stored;
  ASSERT_TRUE(stored.open(std::move(inner)));
  EXPECT_EQ(stored.header.min_x, 10.0);
  std::vector<ReadPoint> first = read_all(&stored);
  ASSERT_TRUE(stored.reopen());
  // The query is set again on the stored points, as the reader factory does.
  ASSERT_TRUE(stored.inside_none());
  ASSERT_TRUE(stored.inside_rectangle(10, 0, 20, 10));
  std::vector<ReadPoint> second = read_all(&stored);
  ASSERT_EQ(first.size(), 10u);
  EXPECT_EQ(first[0].x, 1010.0);
  EXPECT_EQ(stored.header.max_x, 20.0);
  // The stored points passed the query before they were moved; they are not
  // tested again, nor moved again.
  ASSERT_EQ(second.size(), 10u);
  for (size_t k = 0; k < 10; k++) EXPECT_EQ(second[k].x, first[k].x);
}

TEST(LASreaderStored, Failures) {
  LASreaderStored stored;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(stored.open(nullptr));
  EXPECT_FALSE(stored.reopen());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: no lasreader\nERROR: no streamoutarray\n");
}

TEST(LASreaderPipeOn, WritesOneCopyToItsOutput) {
  PointFile f;
  f.points = 1000;
  f.point_type = 3;
  const std::vector<U8> bytes = build_las(point_file_spec(f));
  FILE* out = tmpfile();
  ASSERT_NE(out, nullptr);
  LASreaderPipeOn pipe(out);
  ASSERT_TRUE(pipe.open(las_reader(bytes)));
  std::vector<std::vector<U8>> first = images(&pipe);
  EXPECT_FALSE(pipe.is_writing());
  fflush(out);
  const long size = ftell(out);

  // A second pass over the inner reader delivers without writing again.
  pipe.reset_counter();
  LASreaderLAS* inner = dynamic_cast<LASreaderLAS*>(pipe.get_inner());
  ASSERT_NE(inner, nullptr);
  ASSERT_TRUE(inner->seek(0));
  EXPECT_EQ(images(&pipe).size(), 1000u);
  fflush(out);
  EXPECT_EQ(ftell(out), size);

  rewind(out);
  std::vector<U8> written(static_cast<size_t>(size));
  ASSERT_EQ(fread(written.data(), 1, written.size(), out), written.size());
  fclose(out);
  std::unique_ptr<LASreader> back = las_reader(written);
  EXPECT_EQ(back->point_count, 1000);
  EXPECT_TRUE(images(back.get()) == first);
  EXPECT_TRUE(first == images(las_reader(bytes).get()));
}

}  // namespace
