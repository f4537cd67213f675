// Merging files into one input: header totals and box, quantization that
// holds every file, warnings, files that fail, and area queries.
#include "las/io/lasreader_merged.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "las/io/lasreader_las.hpp"
#include "tests/las/io/input_files.hpp"

namespace {

struct Merge {
  LASreaderMerged reader;
  std::string messages;
  bool opened = false;
  explicit Merge(const std::vector<std::string>& files) {
    testing::internal::CaptureStderr();
    for (const std::string& f : files) reader.add_file_name(f.c_str());
    opened = reader.open();
    messages = testing::internal::GetCapturedStderr();
  }
};

TEST(LASreaderMerged, TotalsBoxAndPoints) {
  TempDir dir;
  PointFile a;
  a.points = 10;
  PointFile b;
  b.points = 25;
  b.x0 = 50;
  b.y0 = -4;
  PointFile empty;
  empty.points = 0;
  const std::vector<std::string> files = {write_point_file(dir, "a.las", a),
                                          write_point_file(dir, "e.las", empty),
                                          write_point_file(dir, "b.las", b)};
  Merge m(files);
  ASSERT_TRUE(m.opened) << m.messages;
  EXPECT_EQ(m.messages, "");
  const LASheader& h = m.reader.header;
  EXPECT_EQ(h.number_of_point_records, 35u);
  EXPECT_EQ(m.reader.point_count, 35);
  U32 by_return = 0;
  for (U32 c : h.number_of_points_by_return) by_return += c;
  EXPECT_EQ(by_return, 35u);
  EXPECT_EQ(h.min_x, 0.0);
  EXPECT_EQ(h.max_x, 74.0);
  EXPECT_EQ(h.min_y, -4.0);
  EXPECT_EQ(h.max_y, 2.0);
  std::vector<ReadPoint> points = read_all(&m.reader);
  ASSERT_EQ(points.size(), 35u);
  EXPECT_EQ(points[9].x, 9.0);
  EXPECT_EQ(points[10].x, 50.0);
  EXPECT_EQ(points[34].x, 74.0);
  // Another pass delivers the same points.
  ASSERT_TRUE(m.reader.reopen());
  EXPECT_EQ(read_all(&m.reader).size(), 35u);
}

TEST(LASreaderMerged, DifferentScalesAndOffsetsAreReadIntoTheFirst) {
  TempDir dir;
  PointFile a;
  PointFile b;
  b.x0 = 20;
  b.scale = 0.001;
  b.offset[0] = 10;
  Merge m({write_point_file(dir, "a.las", a), write_point_file(dir, "b.las", b)});
  ASSERT_TRUE(m.opened) << m.messages;
  EXPECT_TRUE(m.reader.is_rescaled());
  EXPECT_TRUE(m.reader.is_reoffset());
  EXPECT_EQ(m.reader.header.x_scale_factor, 0.01);
  EXPECT_EQ(m.reader.header.x_offset, 0.0);
  std::vector<ReadPoint> points = read_all(&m.reader);
  ASSERT_EQ(points.size(), 20u);
  for (size_t k = 0; k < 10; k++) {
    EXPECT_NEAR(points[10 + k].x, 20.0 + F64(k), 1e-9);
    EXPECT_NEAR(points[10 + k].y, F64(k % 3), 1e-9);
  }

  // Requested scale factors and offsets win over the files' own.
  LASreaderMerged asked;
  asked.add_file_name(dir.file("a.las").c_str());
  asked.add_file_name(dir.file("b.las").c_str());
  asked.set_scale_factor(0.5, 0, 0);
  asked.set_offset(1, 2, 3);
  ASSERT_TRUE(asked.open());
  EXPECT_EQ(asked.header.x_scale_factor, 0.5);
  EXPECT_EQ(asked.header.y_scale_factor, 0.01);
  EXPECT_EQ(asked.header.z_offset, 3.0);
  points = read_all(&asked);
  ASSERT_EQ(points.size(), 20u);
  EXPECT_EQ(points[3].x, 3.0);
  EXPECT_NEAR(points[4].y, 1.0, 1e-9);
}

TEST(LASreaderMerged, EnlargedBoxMovesTheOffsetOrRaisesTheScale) {
  TempDir dir;
  PointFile near;
  PointFile far;
  far.x0 = 30000000;
  far.offset[0] = 30000000;
  {
    Merge m({write_point_file(dir, "near.las", near), write_point_file(dir, "far.las", far)});
    ASSERT_TRUE(m.opened) << m.messages;
    // Half the range fits at scale 0.01, so only the offset moves.
    EXPECT_EQ(m.messages,
              "WARNING: i changed x_offset from 0 to 1.5e+07 to accommodate enlarged bounding "
              "box\n");
    EXPECT_EQ(m.reader.header.x_scale_factor, 0.01);
    EXPECT_EQ(m.reader.header.x_offset, 15000005.0);
    std::vector<ReadPoint> points = read_all(&m.reader);
    ASSERT_EQ(points.size(), 20u);
    EXPECT_NEAR(points[0].x, 0.0, 1e-6);
    EXPECT_NEAR(points[19].x, 30000009.0, 1e-6);
  }
  PointFile farther;
  farther.x0 = 100000000;
  farther.offset[0] = 100000000;
  {
    Merge m(
        {write_point_file(dir, "near.las", near), write_point_file(dir, "farther.las", farther)});
    ASSERT_TRUE(m.opened) << m.messages;
    EXPECT_EQ(m.messages,
              "WARNING: i changed x_scale_factor from 0.01 to 0.1 to accommodate enlarged bounding "
              "box\n");
    EXPECT_EQ(m.reader.header.x_offset, 0.0);
    std::vector<ReadPoint> points = read_all(&m.reader);
    ASSERT_EQ(points.size(), 20u);
    EXPECT_NEAR(points[1].x, 1.0, 1e-6);
    EXPECT_NEAR(points[19].x, 100000009.0, 1e-6);
  }
}

TEST(LASreaderMerged, WarnsOnceAboutDifferentLayouts) {
  TempDir dir;
  PointFile one;
  one.point_type = 1;
  PointFile three;
  three.point_type = 3;
  Merge m({write_point_file(dir, "a.las", one), write_point_file(dir, "b.las", three),
           write_point_file(dir, "c.las", three), write_point_file(dir, "d.las", three)});
  ASSERT_TRUE(m.opened);
  EXPECT_EQ(m.messages, "WARNING: files have different point types: 1 vs 3\n");
  // The merged layout is the first file's.
  EXPECT_EQ(m.reader.header.point_data_format, 1);
  EXPECT_EQ(read_all(&m.reader).size(), 40u);
}

TEST(LASreaderMerged, RefusesFilesItCannotMerge) {
  TempDir dir;
  const std::string good = write_point_file(dir, "good.las", PointFile());
  const std::string bin = write_point_file(dir, "other.bin", PointFile());
  const std::string junk = dir.file("junk.las");
  write_bytes_file(junk, std::vector<U8>(100, 'x'));
  LasBuildSpec zero = point_file_spec(PointFile());
  zero.scale[0] = 0.0;
  zero.fill = nullptr;
  const std::string flat = dir.file("flat.las");
  write_las_file(flat, zero);
  const std::string later = write_point_file(dir, "later.las", PointFile());

  LASreaderMerged m;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(m.add_file_name(good.c_str()));
  EXPECT_FALSE(m.add_file_name(bin.c_str()));
  EXPECT_FALSE(m.add_file_name(dir.file("missing.las").c_str()));
  EXPECT_TRUE(m.add_file_name(junk.c_str()));
  EXPECT_TRUE(m.add_file_name(flat.c_str()));
  EXPECT_TRUE(m.add_file_name(later.c_str()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: cannot mix LAS with BIN. skipping '" + bin +
                "' ...\n"
                "ERROR: file '" +
                dir.file("missing.las") + "' cannot be opened\n");
  // Later files that cannot be merged are reported and left out.
  testing::internal::CaptureStderr();
  ASSERT_TRUE(m.open());
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_NE(messages.find("ERROR: could not open lasreaderlas for file '" + junk + "'\n"),
            std::string::npos)
      << messages;
  EXPECT_NE(messages.find("ERROR: file '" + flat +
                          "' has a zero or non-finite scale factor or offset that cannot be "
                          "merged\n"),
            std::string::npos)
      << messages;
  EXPECT_EQ(m.get_file_count(), 2u);
  EXPECT_EQ(m.point_count, 20);
  EXPECT_EQ(read_all(&m).size(), 20u);

  // A first file that cannot be merged fails the merge.
  LASreaderMerged first;
  first.add_file_name(flat.c_str());
  first.add_file_name(good.c_str());
  testing::internal::CaptureStderr();
  EXPECT_FALSE(first.open());
  testing::internal::GetCapturedStderr();
  LASreaderMerged none;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(none.open());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: no valid file names\n");
}

TEST(LASreaderMerged, FileVanishingWhileReadingIsSkipped) {
  TempDir dir;
  PointFile f;
  std::vector<std::string> files;
  for (int k = 0; k < 3; k++) {
    f.x0 = 100.0 * k;
    files.push_back(write_point_file(dir, std::to_string(k) + ".las", f));
  }
  Merge m(files);
  ASSERT_TRUE(m.opened);
  std::remove(files[1].c_str());
  testing::internal::CaptureStderr();
  std::vector<ReadPoint> points = read_all(&m.reader);
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_NE(messages.find("ERROR: could not open lasreaderlas for file '" + files[1] +
                          "'. skipping it ...\n"),
            std::string::npos)
      << messages;
  ASSERT_EQ(points.size(), 20u);
  EXPECT_EQ(points[10].x, 200.0);
}

TEST(LASreaderMerged, AreaQueryOpensOnlyFilesThatReachIt) {
  TempDir dir;
  PointFile f;
  std::vector<std::string> files;
  for (int k = 0; k < 3; k++) {
    f.x0 = 100.0 * k;
    files.push_back(write_point_file(dir, std::to_string(k) + ".las", f));
  }
  Merge m(files);
  ASSERT_TRUE(m.opened);
  ASSERT_TRUE(m.reader.inside_rectangle(103, 0, 106, 5));
  EXPECT_EQ(m.reader.header.min_x, 103.0);
  // Files outside the area are never opened, so removing them goes unnoticed.
  std::remove(files[0].c_str());
  std::remove(files[2].c_str());
  testing::internal::CaptureStderr();
  std::vector<ReadPoint> points = read_all(&m.reader);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_EQ(points.size(), 3u);
  EXPECT_EQ(points[0].x, 103.0);
  EXPECT_EQ(points[2].x, 105.0);
  // A reopen clears the query and the header box comes back.
  ASSERT_TRUE(m.reader.reopen());
  EXPECT_EQ(m.reader.header.min_x, 0.0);
  ASSERT_TRUE(m.reader.inside_tile(100, 0, 2));
  EXPECT_NEAR(m.reader.header.max_x, 102 - 0.001 * 0.01, 1e-12);
  EXPECT_EQ(read_all(&m.reader).size(), 2u);
}

TEST(LASreaderMerged, TotalsBeyond32Bits) {
  TempDir dir;
  std::vector<std::string> files;
  for (int k = 0; k < 2; k++) {
    LasBuildSpec spec = point_file_spec(PointFile());
    spec.num_points = 0;
    spec.declared_points = 3000000000LL;
    files.push_back(dir.file(std::to_string(k) + ".las"));
    write_las_file(files.back(), spec);
  }
  Merge m(files);
  ASSERT_TRUE(m.opened) << m.messages;
  EXPECT_EQ(m.messages,
            "WARNING: on-the-fly merged LAS 1.2 files contain too many points (6000000000) for "
            "single LAS 1.2 file.\n");
  EXPECT_EQ(m.reader.point_count, 6000000000LL);
  EXPECT_EQ(m.reader.header.extended_number_of_point_records, 6000000000ULL);
  EXPECT_EQ(m.reader.header.number_of_point_records, 0u);
}

TEST(LASreaderMerged, SharedSamples) {
  SKIP_WITHOUT_SHARED_DATA(dir);
  const std::vector<std::string> names = {"simple.las", "100-points.las", "autzen.las",
                                          "no-points.las"};
  LASreaderMerged m;
  I64 expected = 0;
  F64 min_x = 1e300, max_x = -1e300;
  for (const std::string& n : names) {
    const std::string path = dir + "/" + n;
    ASSERT_TRUE(m.add_file_name(path.c_str()));
    LASreaderLAS single;
    ASSERT_TRUE(single.open(path.c_str()));
    expected += single.point_count;
    if (single.point_count) {
      min_x = std::min(min_x, single.header.min_x);
      max_x = std::max(max_x, single.header.max_x);
    }
  }
  testing::internal::CaptureStderr();
  ASSERT_TRUE(m.open());
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_NE(messages.find("WARNING: files have different point types: 3 vs 1\n"), std::string::npos)
      << messages;
  EXPECT_EQ(m.point_count, expected);
  EXPECT_EQ(m.header.min_x, min_x);
  EXPECT_EQ(m.header.max_x, max_x);
  testing::internal::CaptureStderr();
  std::vector<ReadPoint> points = read_all(&m);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(I64(points.size()), expected);
  for (const ReadPoint& p : points) {
    EXPECT_GE(p.x, min_x - 0.01);
    EXPECT_LE(p.x, max_x + 0.01);
  }
  EXPECT_FALSE(m.failed());
}

}  // namespace
