// A tile read with the points of its neighbours that lie within the buffer.
#include "las/io/lasreader_buffered.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "las/io/lasreader_factory.hpp"
#include "tests/las/io/input_files.hpp"

namespace {

struct Full {
  F64 x, y, z;
  U16 intensity, source;
  U8 classification, return_number;
  F64 gps_time;
  U16 red;
  bool operator==(const Full& o) const {
    return x == o.x && y == o.y && z == o.z && intensity == o.intensity && source == o.source &&
           classification == o.classification && return_number == o.return_number &&
           gps_time == o.gps_time && red == o.red;
  }
};

std::vector<Full> read_full(LASreader* reader) {
  std::vector<Full> out;
  while (reader->read_point()) {
    const LASpoint& p = reader->point;
    out.push_back({p.get_x(), p.get_y(), p.get_z(), p.intensity, p.point_source_ID,
                   U8(p.extended_layout ? p.extended_classification : p.classification),
                   U8(p.extended_layout ? p.extended_return_number : p.return_number), p.gps_time,
                   p.rgb[0]});
  }
  return out;
}

std::vector<Full> read_file(const std::string& name) {
  LASreaderLAS reader;
  EXPECT_TRUE(reader.open(name.c_str()));
  return read_full(&reader);
}

// A tile at x 0..9 and neighbours at x 10..19 and 100..109.
struct Tiles {
  TempDir dir;
  std::string tile, east, far;
  explicit Tiles(U8 type = 1) {
    PointFile f;
    f.point_type = type;
    f.version_minor = type > 5 ? 4 : 2;
    tile = write_point_file(dir, "tile.las", f);
    f.x0 = 10;
    east = write_point_file(dir, "east.las", f);
    f.x0 = 100;
    far = write_point_file(dir, "far.las", f);
  }
};

class BufferedPointTypes : public testing::TestWithParam<int> {};

TEST_P(BufferedPointTypes, AddsAndRemovesBufferPoints) {
  Tiles t(static_cast<U8>(GetParam()));
  LASreaderBuffered reader;
  reader.set_buffer_size(2.5f);
  ASSERT_TRUE(reader.set_file_name(t.tile.c_str()));
  ASSERT_TRUE(reader.add_neighbor_file_name(t.east.c_str()));
  ASSERT_TRUE(reader.add_neighbor_file_name(t.far.c_str()));
  testing::internal::CaptureStderr();
  ASSERT_TRUE(reader.open());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "LASreaderBuffered: adding 2 buffer points.\n");
  EXPECT_EQ(reader.point_count, 12);
  EXPECT_EQ(reader.header.max_x, 11.0);
  ASSERT_NE(reader.header.vlr_lasoriginal, nullptr);

  std::vector<Full> expected = read_file(t.tile);
  const std::vector<Full> east = read_file(t.east);
  expected.push_back(east[0]);
  expected.push_back(east[1]);
  std::vector<Full> got = read_full(&reader);
  ASSERT_EQ(got.size(), 12u);
  for (size_t k = 0; k < got.size(); k++) EXPECT_TRUE(got[k] == expected[k]) << "point " << k;

  // Another pass keeps the buffer; removing it leaves the tile alone.
  ASSERT_TRUE(reader.reopen());
  EXPECT_EQ(read_full(&reader).size(), 12u);
  ASSERT_TRUE(reader.remove_buffer());
  EXPECT_EQ(reader.point_count, 10);
  EXPECT_EQ(reader.header.max_x, 9.0);
  const U64 count = GetParam() > 5 ? reader.header.extended_number_of_point_records
                                   : reader.header.number_of_point_records;
  EXPECT_EQ(count, 10u);
  ASSERT_TRUE(reader.reopen());
  EXPECT_EQ(read_full(&reader).size(), 10u);
}

INSTANTIATE_TEST_SUITE_P(LASreaderBuffered, BufferedPointTypes, testing::Values(1, 3, 6, 8));

TEST(LASreaderBuffered, NothingWithinTheBuffer) {
  Tiles t;
  LASreaderBuffered reader;
  reader.set_buffer_size(0.5f);
  ASSERT_TRUE(reader.set_file_name(t.tile.c_str()));
  ASSERT_TRUE(reader.add_neighbor_file_name(t.far.c_str()));
  testing::internal::CaptureStderr();
  ASSERT_TRUE(reader.open());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "LASreaderBuffered: adding 0 buffer points.\n");
  ASSERT_NE(reader.header.vlr_lasoriginal, nullptr);
  EXPECT_EQ(reader.header.vlr_lasoriginal->number_of_point_records, 10);
  EXPECT_TRUE(reader.remove_buffer());
  EXPECT_EQ(reader.header.number_of_point_records, 10u);
  EXPECT_EQ(read_full(&reader).size(), 10u);
}

TEST(LASreaderBuffered, Failures) {
  Tiles t;
  LASreaderBuffered reader;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(reader.set_file_name(nullptr));
  EXPECT_FALSE(reader.add_neighbor_file_name(t.dir.file("none.las").c_str()));
  EXPECT_FALSE(reader.open());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: file name pointer is NULL\nERROR: file '" + t.dir.file("none.las") +
                "' cannot be opened\nERROR: no input name\n");
}

TEST(LASreaderBuffered, BufferBeyondTheTilesQuantization) {
  TempDir dir;
  PointFile f;
  // The tile's own offset leaves no room beyond x = 11.47.
  f.offset[0] = -21474825;
  const std::string tile = write_point_file(dir, "tile.las", f);
  f.x0 = 10;
  f.offset[0] = 0;
  const std::string east = write_point_file(dir, "east.las", f);
  LASreaderBuffered reader;
  reader.set_buffer_size(2.5f);
  ASSERT_TRUE(reader.set_file_name(tile.c_str()));
  ASSERT_TRUE(reader.add_neighbor_file_name(east.c_str()));
  testing::internal::CaptureStderr();
  ASSERT_TRUE(reader.open());
  const std::string messages = testing::internal::GetCapturedStderr();
  EXPECT_EQ(messages,
            "WARNING: i changed x_offset from -2.14748e+07 to 5 to accommodate enlarged bounding "
            "box\nLASreaderBuffered: adding 2 buffer points.\n");
  std::vector<Full> got = read_full(&reader);
  ASSERT_EQ(got.size(), 12u);
  for (size_t k = 0; k < 10; k++) EXPECT_NEAR(got[k].x, F64(k), 1e-9);
  EXPECT_NEAR(got[10].x, 10.0, 1e-9);
  EXPECT_NEAR(got[11].x, 11.0, 1e-9);
}

TEST(LASreaderBuffered, ThroughTheFactory) {
  Tiles t;
  const std::string list = t.dir.file("boxes.txt");
  {
    std::ofstream out(list);
    out << "0,10,0,0,9,2," << t.tile << "\n1,10,10,0,19,2," << t.east << "\n2,10,100,0,109,2,"
        << t.far << "\n";
  }
  LASreaderFactory factory;
  OwnedArgs args({"-lof", list, "-buffered", "2.5"});
  ASSERT_TRUE(factory.parse(args.argc(), args.argv()));
  ASSERT_TRUE(factory.is_buffered());
  // The far file's box is beyond every buffer, so it is never opened.
  std::remove(t.far.c_str());
  testing::internal::CaptureStderr();
  std::unique_ptr<LASreader> first = factory.open();
  ASSERT_NE(first, nullptr);
  std::vector<Full> points = read_full(first.get());
  ASSERT_EQ(points.size(), 12u);
  EXPECT_EQ(points[11].x, 11.0);
  std::unique_ptr<LASreader> second = factory.open();
  ASSERT_NE(second, nullptr);
  points = read_full(second.get());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "LASreaderBuffered: adding 2 buffer points.\nLASreaderBuffered: adding 2 buffer "
            "points.\n");
  ASSERT_EQ(points.size(), 12u);
  EXPECT_EQ(points[10].x, 8.0);
  // Reopened for writing, the buffer goes.
  ASSERT_TRUE(factory.reopen(second.get(), false));
  EXPECT_EQ(second->point_count, 10);
  EXPECT_EQ(read_full(second.get()).size(), 10u);
}

}  // namespace
