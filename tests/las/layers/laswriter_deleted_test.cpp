#include "las/layers/laswriter_deleted.hpp"

#include <gtest/gtest.h>

#include "las/core/bytestream_out.hpp"
#include "las/io/lasreader_las.hpp"
#include "las/io/laswriter_las.hpp"
#include "tests/support/test_data.hpp"

namespace {

TEST(LASwriterDeleted, WritesAndCountsOnlyKeptPoints) {
  TempDir dir;
  const std::string path = dir.file("out.las");
  LASheader header;
  header.point_data_format = 1;
  header.point_data_record_length = 28;
  LASpoint point;
  ASSERT_TRUE(point.init_layout(&header, 1, 28, nullptr));
  auto inner = std::make_unique<LASwriterLAS>();
  ASSERT_TRUE(inner->open(path.c_str(), &header));
  LASwriterDeleted writer;
  EXPECT_FALSE(writer.set_writer(nullptr));
  ASSERT_TRUE(writer.set_writer(std::move(inner)));
  for (int i = 0; i < 10; i++) {
    point.X = i * 100;
    point.Y = -i * 100;
    point.marked_deleted = (i % 3 == 0 && i > 0) || i == 9 ? 1 : 0;  // 3, 6, 9
    point.return_number = 1;
    ASSERT_TRUE(writer.write_point(&point));
    writer.update_inventory(&point);
  }
  EXPECT_EQ(writer.points_written, 7);
  EXPECT_EQ(writer.inventory.number_of_point_records, 7);
  EXPECT_EQ(writer.inventory.max_X, 800);
  ASSERT_TRUE(writer.update_header(&header, true));
  writer.close();
  EXPECT_EQ(writer.point_count, 7);

  LASreaderLAS reader;
  ASSERT_TRUE(reader.open(path.c_str()));
  EXPECT_EQ(reader.point_count, 7);
  EXPECT_EQ(reader.header.number_of_points_by_return[0], 7u);
  EXPECT_DOUBLE_EQ(reader.header.max_x, 8.0);
  EXPECT_DOUBLE_EQ(reader.header.min_y, -8.0);
  std::vector<I32> kept;
  while (reader.read_point()) kept.push_back(reader.point.X);
  EXPECT_EQ(kept, (std::vector<I32>{0, 100, 200, 400, 500, 700, 800}));
}

}  // namespace
