// Area queries, filter and transform on top of a reader, and the readers
// that change the quantization.
#include "las/io/lasreader.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <utility>

#include "las/core/bytestream_in.hpp"
#include "las/filter/lasfilter.hpp"
#include "las/io/lasreader_las.hpp"
#include "las/transform/lastransform.hpp"
#include "tests/support/las_builder.hpp"

namespace {

// 100 points on a 10 x 10 grid of unit spacing: X = i % 10, Y = i / 10.
std::vector<U8> grid_file() {
  LasBuildSpec spec;
  spec.point_type = 0;
  spec.num_points = 100;
  spec.scale[0] = spec.scale[1] = spec.scale[2] = 1.0;
  spec.fill = [](I64 i, U8* r) {
    const I32 xyz[3] = {I32(i % 10), I32(i / 10), 0};
    memcpy(r, xyz, 12);
    r[14] = 1 | (1 << 3);
    r[15] = U8(i % 2 ? 2 : 1);  // classification alternates 1, 2
  };
  return build_las(spec);
}

struct Grid {
  std::vector<U8> bytes = grid_file();
  LASreaderLAS reader;
  Grid() {
    EXPECT_TRUE(
        reader.open(std::make_unique<ByteStreamInArrayLE>(bytes.data(), I64(bytes.size()))));
  }
  std::set<std::pair<int, int>> read_all() {
    std::set<std::pair<int, int>> got;
    while (reader.read_point()) got.insert({reader.point.X, reader.point.Y});
    return got;
  }
};

std::set<std::pair<int, int>> cells(int x0, int x1, int y0, int y1) {
  std::set<std::pair<int, int>> s;
  for (int x = x0; x < x1; x++)
    for (int y = y0; y < y1; y++) s.insert({x, y});
  return s;
}

TEST(LASreaderArea, RectangleIsHalfOpen) {
  Grid g;
  ASSERT_TRUE(g.reader.inside_rectangle(2, 3, 5, 6));
  EXPECT_EQ(g.reader.header.min_x, 2);
  EXPECT_EQ(g.reader.header.max_y, 6);
  EXPECT_EQ(g.read_all(), cells(2, 5, 3, 6));
}

TEST(LASreaderArea, DisjointQueryReadsNothing) {
  Grid g;
  ASSERT_TRUE(g.reader.inside_rectangle(20, 20, 30, 30));
  EXPECT_TRUE(g.read_all().empty());
  EXPECT_EQ(g.reader.points_read, 0);
  // Ending the query restores the file's box and all points come again.
  ASSERT_TRUE(g.reader.inside_none());
  EXPECT_EQ(g.reader.header.min_x, 0);
  EXPECT_EQ(g.reader.header.max_x, 9);
  EXPECT_EQ(g.reader.header.max_y, 9);
  EXPECT_EQ(g.read_all().size(), 100u);
}

TEST(LASreaderArea, CircleExcludesItsRim) {
  Grid g;
  ASSERT_TRUE(g.reader.inside_circle(5, 5, 2));
  EXPECT_EQ(g.reader.header.min_x, 3);
  EXPECT_EQ(g.reader.header.max_y, 7);
  // Within distance 2 of (5, 5), strictly: the 3 x 3 block only; (7, 5),
  // (3, 5), (5, 7) and (5, 3) lie on the rim.
  EXPECT_EQ(g.read_all(), cells(4, 7, 4, 7));
}

TEST(LASreaderArea, TileUsesItsLowerLeftCornerAndSize) {
  Grid g;
  ASSERT_TRUE(g.reader.inside_tile(2, 2, 3));
  EXPECT_EQ(g.reader.header.min_x, 2);
  // The box ends one quantum before the upper edge.
  EXPECT_EQ(g.reader.header.max_x, 4);
  EXPECT_EQ(g.read_all(), cells(2, 5, 2, 5));
}

TEST(LASreaderArea, SecondQueryKeepsTheFileBoxForRestoring) {
  Grid g;
  g.reader.inside_rectangle(2, 2, 4, 4);
  g.reader.inside_circle(1, 1, 1);
  g.reader.inside_none();
  EXPECT_EQ(g.reader.header.min_x, 0);
  EXPECT_EQ(g.reader.header.max_x, 9);
}

TEST(LASreaderArea, QueryThenFilterThenTransform) {
  Grid g;
  LASfilter filter;
  ASSERT_TRUE(filter.parse(std::string("-keep_class 2")));
  LAStransform transform;
  ASSERT_TRUE(transform.parse(std::string("-translate_x 100")));
  g.reader.inside_rectangle(0, 0, 4, 1);
  // Setting the filter and transform after the query keeps the query.
  g.reader.set_filter(&filter);
  g.reader.set_transform(&transform);
  std::set<std::pair<int, int>> got = g.read_all();
  // Odd points are class 2: (1, 0) and (3, 0), then moved by 100.
  EXPECT_EQ(got, (std::set<std::pair<int, int>>{{101, 0}, {103, 0}}));
  g.reader.close();
}

LasBuildSpec wide_spec(I32 max_X) {
  LasBuildSpec spec;
  spec.point_type = 0;
  spec.num_points = 3;
  spec.fill = [max_X](I64 i, U8* r) {
    const I32 xyz[3] = {i == 0 ? 0 : (i == 1 ? 3 : max_X), 5, -7};
    memcpy(r, xyz, 12);
  };
  return spec;
}

template <class Reader>
std::string open_reader(Reader& reader, const std::vector<U8>& bytes) {
  testing::internal::CaptureStderr();
  EXPECT_TRUE(reader.open(std::make_unique<ByteStreamInArrayLE>(bytes.data(), I64(bytes.size()))));
  return testing::internal::GetCapturedStderr();
}

TEST(LASreaderRequantize, RescaleConvertsAndWarnsAboutOverflow) {
  const std::vector<U8> bytes = build_las(wide_spec(300000000));  // max_x 3000000
  LASreaderLASrescale reader(0.001, 0.0, 0.005);
  EXPECT_EQ(open_reader(reader, bytes),
            "WARNING: rescaling from 0.01 to 0.001 causes LAS integer overflow for max_x\n");
  EXPECT_EQ(reader.header.x_scale_factor, 0.001);
  EXPECT_EQ(reader.header.y_scale_factor, 0.01);  // zero means unchanged
  EXPECT_EQ(reader.header.z_scale_factor, 0.005);
  ASSERT_TRUE(reader.read_point());
  ASSERT_TRUE(reader.read_point());
  EXPECT_EQ(reader.point.X, 30);
  EXPECT_EQ(reader.point.Y, 5);
  EXPECT_EQ(reader.point.Z, -14);
  ASSERT_TRUE(reader.read_point());
  EXPECT_EQ(reader.point.X, I32_MAX);  // clamped, not wrapped
  EXPECT_EQ(reader.get_overflows(), 1);
  testing::internal::CaptureStderr();
  reader.close();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: 1 coordinates did not fit into 32 bits when rescaling and were clamped\n");
}

TEST(LASreaderRequantize, RescaleWithoutCheckStaysQuiet) {
  const std::vector<U8> bytes = build_las(wide_spec(300000000));
  LASreaderLASrescale reader(0.001, 0.01, 0.01, false);
  EXPECT_EQ(open_reader(reader, bytes), "");
}

TEST(LASreaderRequantize, ReoffsetMovesTheIntegers) {
  const std::vector<U8> bytes = build_las(wide_spec(1000));
  LASreaderLASreoffset reader(100.0, 0.0, -1.0);
  EXPECT_EQ(open_reader(reader, bytes), "");
  EXPECT_EQ(reader.header.x_offset, 100.0);
  ASSERT_TRUE(reader.read_point());
  ASSERT_TRUE(reader.read_point());
  EXPECT_EQ(reader.point.X, 3 - 10000);
  EXPECT_EQ(reader.point.Y, 5);
  EXPECT_EQ(reader.point.Z, -7 + 100);
  EXPECT_NEAR(reader.point.get_x(), 0.03, 1e-9);
}

TEST(LASreaderRequantize, ReoffsetOverflowWarns) {
  const std::vector<U8> bytes = build_las(wide_spec(1000));
  LASreaderLASreoffset reader(-30000000.0, 0.0, 0.0);
  EXPECT_EQ(open_reader(reader, bytes),
            "WARNING: reoffsetting from 0 to -3e+07 causes LAS integer overflow for min_x\n"
            "WARNING: reoffsetting from 0 to -3e+07 causes LAS integer overflow for max_x\n");
}

TEST(LASreaderRequantize, RescaleAndReoffsetTogether) {
  const std::vector<U8> bytes = build_las(wide_spec(1000));
  LASreaderLASrescalereoffset reader(0.001, 0.01, 0.01, 1.0, 0.0, 0.0);
  EXPECT_EQ(open_reader(reader, bytes), "");
  ASSERT_TRUE(reader.read_point());
  ASSERT_TRUE(reader.read_point());
  // (3 * 0.01 + 0 - 1) / 0.001
  EXPECT_EQ(reader.point.X, -970);
  EXPECT_EQ(reader.point.Y, 5);
}

TEST(LASreaderRequantize, AutoReoffsetRoundsToTenMillionQuanta) {
  struct Case {
    I32 min_X, max_X;
    F64 offset;
  };
  const Case cases[] = {
      {40000000, 40100000, 400000.0}, {400000000, 400100000, 4000000.0}, {0, 100000, 0.0}};
  for (const Case& c : cases) {
    LasBuildSpec spec;
    spec.point_type = 0;
    spec.num_points = 2;
    spec.fill = [c](I64 i, U8* r) {
      const I32 xyz[3] = {i ? c.max_X : c.min_X, 0, 0};
      memcpy(r, xyz, 12);
    };
    const std::vector<U8> bytes = build_las(spec);
    LASreaderLASreoffset reader;
    open_reader(reader, bytes);
    EXPECT_EQ(reader.header.x_offset, c.offset) << c.min_X;
    ASSERT_TRUE(reader.read_point());
    EXPECT_NEAR(reader.point.get_x(), c.min_X * 0.01, 1e-6);
  }
}

}  // namespace
