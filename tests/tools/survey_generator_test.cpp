#include "tools/survey_generator.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "las/io/lasreader_las.hpp"
#include "tests/support/test_data.hpp"

namespace {

struct LineStats {
  I64 points = 0;
  double min_y = 1e300, max_y = -1e300;
  double first_time = 0, last_time = 0;
  int min_angle = 1000, max_angle = -1000;
};

TEST(SurveyGenerator, WritesOverlappingFlightlinesThatReadBack) {
  for (U8 type : {U8(1), U8(6)}) {
    TempDir dir;
    SurveySpec spec;
    spec.flightlines = 3;
    spec.points = 30000;
    spec.point_type = type;
    const std::string path = dir.file("s.las");
    ASSERT_TRUE(write_survey(spec, path));

    LASreaderLAS reader;
    ASSERT_TRUE(reader.open(path.c_str()));
    EXPECT_EQ(reader.header.point_data_format, type);
    EXPECT_EQ(reader.point_count, 30000);
    std::map<int, LineStats> lines;
    double previous_time = -1;
    while (reader.read_point()) {
      const LASpoint& p = reader.point;
      LineStats& s = lines[p.point_source_ID];
      if (s.points == 0) s.first_time = p.gps_time;
      s.points++;
      s.last_time = p.gps_time;
      s.min_y = std::min(s.min_y, p.get_y());
      s.max_y = std::max(s.max_y, p.get_y());
      const int angle =
          p.is_extended() ? int(std::lround(p.extended_scan_angle * 0.006)) : p.scan_angle_rank;
      s.min_angle = std::min(s.min_angle, angle);
      s.max_angle = std::max(s.max_angle, angle);
      EXPECT_GE(p.gps_time, previous_time);
      previous_time = p.gps_time;
      EXPECT_GE(p.get_x(), reader.header.min_x);
      EXPECT_LE(p.get_x(), reader.header.max_x);
    }
    EXPECT_FALSE(reader.failed());
    ASSERT_EQ(lines.size(), 3u);
    for (int id = 1; id <= 3; id++) {
      EXPECT_EQ(lines[id].points, 10000);
      EXPECT_LE(lines[id].min_angle, -18);
      EXPECT_GE(lines[id].max_angle, 18);
    }
    // Neighbouring strips share ground, and a turn separates them in time.
    EXPECT_LT(lines[2].min_y, lines[1].max_y);
    EXPECT_LT(lines[3].min_y, lines[2].max_y);
    EXPECT_GT(lines[1].max_y, lines[1].min_y + 150.0);
    EXPECT_GT(lines[2].first_time - lines[1].last_time, 60.0);
  }
}

TEST(SurveyGenerator, SameSeedSameSurvey) {
  TempDir dir;
  SurveySpec spec;
  spec.points = 5000;
  ASSERT_TRUE(write_survey(spec, dir.file("a.las")));
  ASSERT_TRUE(write_survey(spec, dir.file("b.las")));
  spec.seed = 2;
  ASSERT_TRUE(write_survey(spec, dir.file("c.las")));
  auto bytes = [&](const std::string& name) {
    FILE* f = fopen(dir.file(name).c_str(), "rb");
    std::string s;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
  };
  EXPECT_EQ(bytes("a.las"), bytes("b.las"));
  EXPECT_NE(bytes("a.las"), bytes("c.las"));
}

}  // namespace
