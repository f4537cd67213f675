// Grid and time thinning: the first point per cell or slot passes, state is
// forgotten on reset(), and spread-out or extreme data stays cheap and safe.
#include "las/filter/thinning_criteria.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "las/filter/lasfilter.hpp"

namespace {

struct XY {
  double x, y;
};

class GridFixture {
 public:
  explicit GridFixture(double scale) {
    so_.x_scale_factor = so_.y_scale_factor = so_.z_scale_factor = scale;
    point_.scale_offset = &so_;
  }
  std::string run(LAScriterion& c, const std::vector<XY>& points) {
    std::string kept;
    for (const XY& p : points) {
      EXPECT_TRUE(point_.set_x(p.x));
      EXPECT_TRUE(point_.set_y(p.y));
      kept += c.filter(&point_) ? '0' : '1';
    }
    return kept;
  }
  // What a plain set of (column, row) cells decides.
  std::string reference(double spacing, const std::vector<XY>& points) {
    std::set<std::pair<long long, long long>> seen;
    std::string kept;
    for (const XY& p : points) {
      point_.set_x(p.x);
      point_.set_y(p.y);
      const auto cell = std::make_pair((long long)std::floor(point_.get_x() / spacing),
                                       (long long)std::floor(point_.get_y() / spacing));
      kept += seen.insert(cell).second ? '1' : '0';
    }
    return kept;
  }

 private:
  LASscaleOffset so_;
  LASpoint point_;
};

TEST(ThinWithGrid, KeepsTheFirstPointOfEachCell) {
  GridFixture f(0.25);
  LAScriterionThinWithGrid grid(1.0f);
  EXPECT_EQ(f.run(grid, {{0.25, 0.25}, {0.5, 0.25}, {1.25, 0.25}, {0.75, 0.75}, {0.25, 1.0}}),
            "10101");
  LAScriterionThinWithGrid signs(1.0f);
  // -0.5 lies in cell -1, 0.5 in cell 0; the same holds for rows.
  EXPECT_EQ(f.run(signs, {{-0.5, 0}, {0.5, 0}, {-0.25, 0}, {0, -0.5}, {0, -0.25}, {0.25, 0.25}}),
            "110100");
}

TEST(ThinWithGrid, ResetGivesTheSameDecisionsAgain) {
  GridFixture f(0.25);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> u(-50, 50);
  std::vector<XY> points;
  for (int i = 0; i < 5000; i++)
    points.push_back({std::round(u(random) * 4) / 4, std::round(u(random) * 4) / 4});
  LAScriterionThinWithGrid grid(2.5f);
  const std::string first = f.run(grid, points);
  EXPECT_EQ(first, f.reference(2.5, points));
  grid.reset();
  EXPECT_EQ(f.run(grid, points), first);
  // Starting from another anchor changes nothing either.
  grid.reset();
  std::vector<XY> shifted = {{49.75, -49.75}};
  shifted.insert(shifted.end(), points.begin(), points.end());
  EXPECT_EQ(f.run(grid, shifted), f.reference(2.5, shifted));
}

TEST(ThinWithGrid, MatchesAPlainCellSetOnDenseSparseAndMixedData) {
  GridFixture f(1.0);
  std::mt19937 random(11);
  struct Layout {
    const char* name;
    double spread;  // half width of the area
    double spacing;
    int clusters;  // points gather around this many far-apart centres
  };
  const Layout layouts[] = {
      {"dense", 200, 1, 1},
      {"negative and fine", 100, 0.5, 1},
      {"sparse rows", 2e9, 1, 1},
      {"far clusters", 50, 1, 6},
  };
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.name);
    std::uniform_real_distribution<double> u(-l.spread, l.spread);
    std::uniform_real_distribution<double> centre(-2e9, 2e9);
    std::vector<XY> centres;
    for (int c = 0; c < l.clusters; c++) {
      centres.push_back(
          l.clusters == 1 ? XY{0, 0} : XY{std::round(centre(random)), std::round(centre(random))});
    }
    std::vector<XY> points;
    for (int i = 0; i < 20000; i++) {
      const XY& c = centres[size_t(i) % centres.size()];
      points.push_back({std::round(c.x + u(random)), std::round(c.y + u(random))});
      if (i % 3 == 0) points.push_back(points.back());  // repeats must be dropped
    }
    LAScriterionThinWithGrid grid(F32(l.spacing));
    EXPECT_EQ(f.run(grid, points), f.reference(l.spacing, points));
  }
}

TEST(ThinWithGrid, WidelySpreadDataDoesNotBlowUpMemory) {
  GridFixture f(1.0);
  std::mt19937 random(3);
  std::uniform_int_distribution<int> u(-2000000000, 2000000000);
  std::vector<XY> points;
  for (int i = 0; i < 20000; i++) points.push_back({double(u(random)), double(u(random))});
  LAScriterionThinWithGrid grid(1.0f);
  EXPECT_EQ(f.run(grid, points), f.reference(1.0, points));
  EXPECT_LT(grid.memory_used(), size_t(16) << 20);
  // One far column in an otherwise narrow row, and one far row.
  LAScriterionThinWithGrid narrow(1.0f);
  EXPECT_EQ(f.run(narrow, {{0, 0}, {2e9, 0}, {-2e9, 0}, {0, 2e9}, {0, -2e9}, {2e9, 0}, {0, -2e9}}),
            "1111100");
  EXPECT_LT(narrow.memory_used(), size_t(1) << 20);
}

TEST(ThinWithGrid, CellsFirstStoredApartStaySeenWhenTheGridGrowsToThem) {
  GridFixture f(1.0);
  std::vector<XY> points = {{0, 0}, {0, 100000}, {5000000, 3}};
  for (int row = 0; row < 120000; row++) points.push_back({0, double(row)});
  for (int column = 0; column < 5000; column++) points.push_back({double(column), 3});
  // The row of (0, 100000) now gets its first dense cell at column 1.
  points.push_back({0, 100000});
  points.push_back({1, 100000});
  points.push_back({0, 100000});
  points.push_back({5000000, 3});
  LAScriterionThinWithGrid grid(1.0f);
  const std::string kept = f.run(grid, points);
  EXPECT_EQ(kept, f.reference(1.0, points));
  EXPECT_EQ(kept.substr(kept.size() - 4), "0100");
}

TEST(ThinWithGrid, CommandTextRoundTrips) {
  LASfilter filter;
  ASSERT_TRUE(filter.parse("-thin_with_grid 0.1"));
  EXPECT_EQ(filter.get_command(), "-thin_with_grid 0.1 ");
  EXPECT_EQ(filter.field_mask(), 0u);
  LASfilter odd;
  ASSERT_TRUE(odd.parse("-thin_with_grid 0.123456789"));
  LASfilter rebuilt;
  ASSERT_TRUE(rebuilt.parse(odd.get_command()));
  EXPECT_EQ(rebuilt.get_command(), odd.get_command());
}

std::string run_times(LAScriterion& c, const std::vector<double>& times) {
  LASpoint point;
  point.has_gps_time = true;
  std::string kept;
  for (double t : times) {
    point.gps_time = t;
    kept += c.filter(&point) ? '0' : '1';
  }
  return kept;
}

TEST(ThinWithTime, PointsKeepOnePerSlotAndPulsesKeepTheFirstPulse) {
  const std::vector<double> times = {0.1, 0.5, 1.2, 0.9, 1.5, 2.0, -0.5, -0.1};
  LAScriterionThinPointsWithTime points(1.0);
  EXPECT_EQ(run_times(points, times), "10100110");
  points.reset();
  EXPECT_EQ(run_times(points, times), "10100110");

  // Three returns of a pulse at 0.1, two of a later pulse in the same slot,
  // then a new slot, then the first pulse's time again.
  const std::vector<double> pulses = {0.1, 0.1, 0.1, 0.5, 0.5, 1.2, 1.2, 0.1, 1.7};
  LAScriterionThinPulsesWithTime pulse(1.0);
  EXPECT_EQ(run_times(pulse, pulses), "111001110");
  pulse.reset();
  EXPECT_EQ(run_times(pulse, pulses), "111001110");
}

TEST(ThinWithTime, ExtremeAndInvalidTimesAreSafe) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> times = {1e300, 1e300, -1e300, inf, -inf, nan, nan, 0.0};
  LAScriterionThinPointsWithTime points(1e-9);
  // Values beyond 64-bit slots share the outermost slot; NaN has its own.
  EXPECT_EQ(run_times(points, times), "10100101");
  LAScriterionThinPulsesWithTime pulses(1e-9);
  EXPECT_EQ(run_times(pulses, times), "11100101");
}

TEST(ThinWithTime, CommandTextRoundTrips) {
  LASfilter filter;
  ASSERT_TRUE(filter.parse("-thin_with_time 0.0000001 -thin_points_with_time 0.5"));
  EXPECT_EQ(filter.get_command(),
            "-thin_pulses_with_time 9.9999999999999995e-08 -thin_points_with_time 0.500000 ");
  EXPECT_EQ(filter.field_mask(), U32(LAS_FIELD_GPS_TIME));
  LASfilter rebuilt;
  ASSERT_TRUE(rebuilt.parse(filter.get_command()));
  EXPECT_EQ(rebuilt.get_command(), filter.get_command());
}

}  // namespace
