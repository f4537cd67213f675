#include "tool/overage_decision.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "las/core/option_text.hpp"
#include "tests/support/test_data.hpp"

namespace {

namespace fs = std::filesystem;

// Rasters may spill into the current directory: run inside a fresh one.
class InTempDir {
 public:
  InTempDir() : previous_(fs::current_path()) { fs::current_path(dir_.path()); }
  ~InTempDir() { fs::current_path(previous_); }
  bool empty() const { return fs::is_empty(dir_.path()); }

 private:
  TempDir dir_;
  fs::path previous_;
};

// Points with coordinates in quarter units, so that every test coordinate is exact.
struct Points {
  LASscaleOffset so;
  LASpoint p;
  explicit Points(U8 point_type = 1) {
    so.x_scale_factor = so.y_scale_factor = so.z_scale_factor = 0.25;
    EXPECT_TRUE(p.init_layout(&so, point_type, point_type >= 6 ? 30 : 28, nullptr));
  }
  LASpoint& at(F64 x, F64 y, U16 id, I8 angle) {
    EXPECT_TRUE(p.set_x(x));
    EXPECT_TRUE(p.set_y(y));
    p.point_source_ID = id;
    p.scan_angle_rank = angle;
    return p;
  }
};

OverageDecision::Settings settings(F32 step = 1.0f, bool entire = false,
                                   OverageDecision::Marking marking = OverageDecision::CLASSIFY,
                                   I32 classification = 12) {
  OverageDecision::Settings s;
  s.step = step;
  s.entire_overlap = entire;
  s.marking = marking;
  s.classification = classification;
  return s;
}

struct Shot {
  F64 x, y;
  U16 id;
  I8 angle;
};

void first_pass(OverageDecision& o, const std::vector<Shot>& shots) {
  Points pts;
  for (const Shot& s : shots) o.add_point(pts.at(s.x, s.y, s.id, s.angle));
  o.fill_holes();
  o.decide();
  o.start_input();
}

OverageDecision::Verdict judge(OverageDecision& o, const Shot& s) {
  Points pts;
  return o.judge_and_mark(pts.at(s.x, s.y, s.id, s.angle));
}

TEST(OverageDecision, LowestAbsoluteAngleWinsAndTiesGoToTheFirstLine) {
  OverageDecision o(settings(), nullptr);
  first_pass(o, {
                    // Cell (10, 10): |5| against |-5|, line 5 came first.
                    {10.25, 10.25, 5, 5},
                    {10.25, 10.25, 3, -5},
                    // Cell (20, 20): line 3 has the smaller |angle|.
                    {20.25, 20.25, 5, -12},
                    {20.25, 20.25, 5, 7},
                    {20.25, 20.25, 3, -3},
                });
  EXPECT_EQ(o.flightline_count(), 2u);
  EXPECT_EQ(o.flightline_id(0), 5);
  EXPECT_EQ(judge(o, {10.25, 10.25, 5, 0}), OverageDecision::KEPT);
  EXPECT_EQ(judge(o, {10.25, 10.25, 3, 0}), OverageDecision::MARKED);
  EXPECT_EQ(judge(o, {20.25, 20.25, 5, 0}), OverageDecision::MARKED);
  EXPECT_EQ(judge(o, {20.25, 20.25, 3, 0}), OverageDecision::KEPT);
  EXPECT_EQ(o.marked_points(), 2);
}

TEST(OverageDecision, FirstPassUsesFourSubCellsSecondPassThePlainCell) {
  OverageDecision o(settings(), nullptr);
  first_pass(o, {
                    // Reaches cells (0,0), (0,1), (1,0), (1,1).
                    {0.5, 0.5, 1, 10},
                    // Reaches only cell (1,1), four times, with a better angle.
                    {1.25, 1.25, 2, 0},
                });
  LASraster* d = o.decision_raster();
  const struct { I32 c, r, id; } cells[] = {{0, 0, 1}, {0, 1, 1}, {1, 0, 1}, {1, 1, 2}};
  for (const auto& c : cells) {
    I32 v = 0;
    ASSERT_TRUE(d->get_value(c.c, c.r, &v)) << c.c << "," << c.r;
    EXPECT_EQ(v, c.id) << c.c << "," << c.r;
  }
  // Judged in its own cell (0,0), not in the shifted ones.
  EXPECT_EQ(judge(o, {0.5, 0.5, 1, 10}), OverageDecision::KEPT);
  EXPECT_EQ(judge(o, {1.5, 1.5, 1, 10}), OverageDecision::MARKED);
  EXPECT_EQ(judge(o, {1.25, 1.25, 2, 0}), OverageDecision::KEPT);
}

TEST(OverageDecision, ABorderCoordinateBelongsToTheCellAbove) {
  struct Case {
    F32 step;
    F64 x;
    I32 column;
  } cases[] = {{0.5f, 1.0, 2}, {1.0f, 3.0, 3}, {1.0f, -1.0, -1}, {2.0f, -4.0, -2}, {3.0f, 6.0, 2}};
  for (const Case& c : cases) {
    OverageDecision o(settings(c.step), nullptr);
    first_pass(o, {{c.x, 0.0, 1, 0}});
    I32 v;
    EXPECT_TRUE(o.decision_raster()->get_value(c.column, 0, &v)) << c.x;
    EXPECT_FALSE(o.decision_raster()->get_value(c.column - 1, 0, &v)) << c.x;
    // The half-step shift stays in the same cell for a point on the border.
    EXPECT_FALSE(o.decision_raster()->get_value(c.column + 1, 0, &v)) << c.x;
  }
}

// Sets cell values of a lowest_abs raster by adding points with these angles.
struct Filled {
  std::vector<std::pair<std::pair<I32, I32>, I8>> cells;
  bool found;
  I32 value;
};

TEST(OverageDecision, HoleFillingTakesTheRoundedMeanOfFiveOrMoreNeighbours) {
  const Filled cases[] = {
      {{{{-1, -1}, 1}, {{-1, 0}, 2}, {{-1, 1}, 2}, {{1, -1}, 3}, {{1, 0}, 3}}, true, 2},
      {{{{-1, -1}, 1}, {{-1, 0}, 2}, {{-1, 1}, 2}, {{1, -1}, 3}}, false, 0},
      {{{{-1, -1}, 2}, {{-1, 0}, -2}, {{0, 1}, 2}, {{0, -1}, 3}, {{1, 0}, 3}, {{1, 1}, -3}},
       true,
       3},
      // Five neighbours on one side: at bases 0 and 100 the cell lies in a
      // tile that does not exist, next to three that do (0: across the wrap
      // from tile 0 to the last tile).
      {{{{-1, -1}, 1}, {{-1, 0}, 1}, {{-1, 1}, 2}, {{0, -1}, 2}, {{1, -1}, 2}}, true, 2},
      // -128 reads as 128, and so does its fill.
      {{{{-1, -1}, -128},
        {{-1, 0}, -128},
        {{-1, 1}, -128},
        {{0, -1}, -128},
        {{0, 1}, -128},
        {{1, -1}, -128},
        {{1, 0}, -128},
        {{1, 1}, -128}},
       true,
       128},
  };
  for (const Filled& c : cases) {
    for (I32 base : {0, 100, -1, 42}) {  // also across tile borders
      LASraster r;
      ASSERT_TRUE(r.set_statistic("lowest_abs scan_angle"));
      LASpoint p;
      for (const auto& cell : c.cells) {
        p.scan_angle_rank = cell.second;
        ASSERT_TRUE(r.add_to_cell(base + cell.first.first, base + cell.first.second, p));
      }
      const U32 filled = OverageDecision::fill_raster_holes(r);
      I32 v = -1;
      EXPECT_EQ(r.get_value(base, base, &v), c.found) << c.cells.size() << " at " << base;
      if (c.found) {
        EXPECT_EQ(v, c.value) << c.cells.size() << " at " << base;
        EXPECT_EQ(filled, 1u);
      } else {
        EXPECT_EQ(filled, 0u);
      }
    }
  }
}

TEST(OverageDecision, HoleFillingIsOneRound) {
  LASraster r;
  ASSERT_TRUE(r.set_statistic("lowest_abs scan_angle"));
  LASpoint p;
  p.scan_angle_rank = 4;
  // (0,0) has five neighbours; (1,0) has four and would get a fifth from the fill.
  const std::pair<I32, I32> cells[] = {{-1, -1}, {-1, 0}, {-1, 1}, {0, -1},
                                       {0, 1},   {2, -1}, {2, 0}};
  for (const auto& c : cells) ASSERT_TRUE(r.add_to_cell(c.first, c.second, p));
  EXPECT_EQ(OverageDecision::fill_raster_holes(r), 1u);
  I32 v;
  ASSERT_TRUE(r.get_value(0, 0, &v));
  EXPECT_EQ(v, 4);
  EXPECT_FALSE(r.get_value(1, 0, &v));
}

// The straightforward versions: walk the whole bounding rectangle.
U32 reference_fill(LASraster& r) {
  std::vector<std::pair<std::pair<I32, I32>, I32>> fills;
  for (I64 row = r.get_max_row(); row >= r.get_min_row(); row--) {
    for (I64 col = r.get_min_column(); col <= r.get_max_column(); col++) {
      I32 v;
      if (r.get_value(I32(col), I32(row), &v)) continue;
      const int d[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {1, -1}, {1, 0}, {1, 1}, {0, -1}, {0, 1}};
      int count = 0;
      I64 sum = 0;
      for (const auto& k : d) {
        if (r.get_value(I32(col + k[0]), I32(row + k[1]), &v)) {
          count++;
          sum += v;
        }
      }
      if (count >= 5) {
        fills.push_back({{I32(col), I32(row)}, I32(round_half_away(F32(sum) / F32(count)))});
      }
    }
  }
  LASpoint p;
  for (const auto& f : fills) {
    p.scan_angle_rank = I8(f.second);
    r.add_to_cell(f.first.first, f.first.second, p);
  }
  return U32(fills.size());
}

struct Survey {
  std::vector<Shot> shots;
};

// Lines as runs of random length with random IDs, points spread so that
// holes remain, around the origin so that negative cells and several tiles
// are involved.
Survey random_survey(U32 seed) {
  Rand15 rnd(seed);
  const U16 ids[] = {7, 3, 900, 65535, 0, 12};
  Survey s;
  for (int run = 0; run < 400; run++) {
    const U16 id = ids[rnd.next() % 6];
    const int length = 1 + rnd.next() % 200;
    const F64 cx = -150 + (rnd.next() % 300);
    const F64 cy = -120 + (rnd.next() % 200);
    for (int k = 0; k < length; k++) {
      const F64 x = cx + (rnd.next() % 160) * 0.25 - 20;
      const F64 y = cy + (rnd.next() % 160) * 0.25 - 20;
      I8 angle = I8(rnd.next() % 61 - 30);
      if (rnd.next() % 97 == 0) angle = -128;
      s.shots.push_back({x, y, id, angle});
    }
  }
  return s;
}

void expect_same_as_bounds_walk(bool entire, I64 budget, const std::vector<U32>& seeds) {
  InTempDir dir;
  for (U32 seed : seeds) {
    const Survey survey = random_survey(seed);
    OverageDecision::Settings s = settings(1.0f, entire);
    s.raster_memory_budget = budget;
    OverageDecision o(s, nullptr);
    Points pts;
    // The reference: rasters by ID in order of first appearance.
    std::vector<U16> ids;
    std::vector<std::unique_ptr<LASraster>> rasters;
    for (const Shot& shot : survey.shots) {
      const LASpoint& p = pts.at(shot.x, shot.y, shot.id, shot.angle);
      o.add_point(p);
      size_t k = 0;
      while (k < ids.size() && ids[k] != shot.id) k++;
      if (k == ids.size()) {
        ids.push_back(shot.id);
        rasters.push_back(std::make_unique<LASraster>());
        rasters.back()->set_statistic(entire ? "occupancy" : "lowest_abs scan_angle");
        rasters.back()->set_memory_budget(budget);
      }
      rasters[k]->add_point(p, 2);
    }
    ASSERT_EQ(o.flightline_count(), ids.size());
    I32 c0, r0, c1, r1;
    ASSERT_TRUE(o.grid_bounds(&c0, &r0, &c1, &r1));
    U32 reference_filled = 0;
    for (auto& r : rasters) reference_filled += reference_fill(*r);
    EXPECT_EQ(o.fill_holes(), reference_filled) << seed;
    EXPECT_GT(reference_filled, 0u);
    o.decide();
    LASraster* d = o.decision_raster();
    int decided = 0;
    for (I32 row = r0 - 2; row <= r1 + 2; row++) {
      for (I32 col = c0 - 2; col <= c1 + 2; col++) {
        int covered = 0;
        I32 best = -1, best_value = 0;
        for (size_t k = 0; k < rasters.size(); k++) {
          I32 v;
          if (rasters[k]->get_value(col, row, &v)) {
            covered++;
            if (best < 0 || v < best_value) {
              best = I32(k);
              best_value = v;
            }
          }
        }
        I32 got = -1;
        const bool found = d->get_value(col, row, &got);
        if (entire) {
          ASSERT_EQ(found, covered > 1) << col << "," << row;
        } else {
          ASSERT_EQ(found, best >= 0) << col << "," << row;
          if (found) {
            ASSERT_EQ(got, ids[size_t(best)]) << col << "," << row;
          }
        }
        decided += found;
      }
    }
    EXPECT_GT(decided, 1000);
  }
  EXPECT_TRUE(dir.empty());
}

TEST(OverageDecision, TileWalkGivesTheSameAsTheBoundsWalk) {
  expect_same_as_bounds_walk(false, 0x20000000, {1, 2, 3});
}

TEST(OverageDecision, TileWalkGivesTheSameAsTheBoundsWalkWithOverlap) {
  expect_same_as_bounds_walk(true, 0x20000000, {4, 5});
}

TEST(OverageDecision, TileWalkGivesTheSameAsTheBoundsWalkWhenSpilling) {
  expect_same_as_bounds_walk(false, 1, {6});
}

TEST(OverageDecision, AFarOffPointDoesNotMakeTheRunWalkEmptyCells) {
  OverageDecision o(settings(), nullptr);
  std::vector<Shot> shots;
  for (int k = 0; k < 200; k++) shots.push_back({k * 0.5, 3.0, 1, 9});
  for (int k = 0; k < 200; k++) shots.push_back({k * 0.5, 3.0, 2, 4});
  shots.push_back({5e8, -5e8, 1, 0});
  const auto start = std::chrono::steady_clock::now();
  first_pass(o, shots);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 5.0);
  EXPECT_EQ(o.grid_columns(), I64(500000001));
  EXPECT_EQ(o.grid_rows(), I64(500000004));
  EXPECT_EQ(judge(o, {10.0, 3.0, 1, 9}), OverageDecision::MARKED);
  EXPECT_EQ(judge(o, {10.0, 3.0, 2, 4}), OverageDecision::KEPT);
  EXPECT_EQ(judge(o, {5e8, -5e8, 1, 0}), OverageDecision::KEPT);
}

// Marking, by mode, of a marked and an unmarked point, for a legacy and an
// extended point type.
TEST(OverageDecision, MarkingModes) {
  struct Case {
    OverageDecision::Marking marking;
    I32 classification;
    U8 point_type;
  } cases[] = {
      {OverageDecision::CLASSIFY, 12, 1},      {OverageDecision::CLASSIFY, 12, 6},
      {OverageDecision::CLASSIFY, 40, 1},      {OverageDecision::CLASSIFY, 32, 6},
      {OverageDecision::CLASSIFY, -3, 1},      {OverageDecision::CLASSIFY, 0, 6},
      {OverageDecision::FLAG_WITHHELD, 12, 1}, {OverageDecision::FLAG_WITHHELD, 12, 6},
      {OverageDecision::FLAG_OVERLAP, 12, 6},  {OverageDecision::REMOVE, 12, 1},
  };
  for (const Case& c : cases) {
    OverageDecision o(settings(1.0f, false, c.marking, c.classification), nullptr);
    first_pass(o, {{5.25, 5.25, 1, 2}, {5.25, 5.25, 2, 8}});
    const std::string label = std::to_string(c.marking) + "/" + std::to_string(c.classification) +
                              "/" + std::to_string(c.point_type);
    Points pts(c.point_type);
    for (U16 id : {U16(1), U16(2)}) {
      LASpoint& p = pts.at(5.25, 5.25, id, 0);
      p.classification = 2;
      p.extended_classification = 2;
      p.withheld_flag = 0;
      p.extended_classification_flags = 0;
      // Left over from an earlier point of the same reader.
      p.marked_deleted = (c.marking == OverageDecision::REMOVE) ? 1 : 0;
      const OverageDecision::Verdict v = o.judge_and_mark(p);
      const bool marked = id == 2;
      if (c.marking == OverageDecision::REMOVE) {
        EXPECT_EQ(v, marked ? OverageDecision::REMOVED : OverageDecision::KEPT) << label;
        EXPECT_EQ(p.marked_deleted, marked ? 1 : 0) << label;
      } else {
        EXPECT_EQ(v, marked ? OverageDecision::MARKED : OverageDecision::KEPT) << label;
      }
      const bool classify = marked && c.marking == OverageDecision::CLASSIFY &&
                            c.classification >= 0 && c.classification < 32;
      EXPECT_EQ(p.classification, classify ? c.classification : 2) << label;
      EXPECT_EQ(p.extended_classification, classify ? c.classification : 2) << label;
      const bool withheld = marked && c.marking == OverageDecision::FLAG_WITHHELD;
      EXPECT_EQ(p.withheld_flag, withheld ? 1 : 0) << label;
      EXPECT_EQ((p.extended_classification_flags & 4) != 0, withheld) << label;
      EXPECT_EQ(p.get_overlap_flag(), marked && c.marking == OverageDecision::FLAG_OVERLAP)
          << label;
    }
    // Every marked point counts, also when the class leaves it unchanged.
    EXPECT_EQ(o.marked_points(), 1) << label;
  }
}

TEST(OverageDecision, EntireOverlapMarksEveryLineInASharedCell) {
  for (OverageDecision::Marking m : {OverageDecision::CLASSIFY, OverageDecision::REMOVE}) {
    OverageDecision o(settings(1.0f, true, m), nullptr);
    EXPECT_STREQ(o.word(), "overlap");
    first_pass(o, {{5.25, 5.25, 1, 2}, {5.25, 5.25, 2, 8}, {50.25, 5.25, 1, 2}});
    const OverageDecision::Verdict marked =
        m == OverageDecision::REMOVE ? OverageDecision::REMOVED : OverageDecision::MARKED;
    EXPECT_EQ(judge(o, {5.25, 5.25, 1, 2}), marked);
    EXPECT_EQ(judge(o, {5.25, 5.25, 2, 8}), marked);
    EXPECT_EQ(judge(o, {50.25, 5.25, 1, 2}), OverageDecision::KEPT);
    EXPECT_EQ(o.marked_points(), 2);
  }
  OverageDecision o(settings(), nullptr);
  EXPECT_STREQ(o.word(), "overage");
}

TEST(OverageDecision, LayersOutputMarksTheScratchPoint) {
  struct Case {
    OverageDecision::Marking marking;
    I32 classification;
  } cases[] = {{OverageDecision::CLASSIFY, 12},
               {OverageDecision::CLASSIFY, 40},
               {OverageDecision::FLAG_WITHHELD, 12},
               {OverageDecision::FLAG_OVERLAP, 12},
               {OverageDecision::REMOVE, 12}};
  OwnedArgs args({"-ignore_class", "9"});
  LASignore ignore;
  ASSERT_TRUE(ignore.parse(args.argc(), args.argv()));
  for (const Case& c : cases) {
    OverageDecision o(settings(1.0f, false, c.marking, c.classification), &ignore);
    first_pass(o, {{5.25, 5.25, 1, 2}, {5.25, 5.25, 2, 8}});
    Points read(6), scratch(6);
    // Garbage from an earlier point in the scratch.
    scratch.p.classification = 17;
    scratch.p.extended_classification = 200;
    scratch.p.set_withheld_flag(true);
    scratch.p.set_overlap_flag(true);
    scratch.p.marked_deleted = 1;
    struct Step {
      U16 id;
      U8 cls;
      bool withheld, overlap;
      OverageDecision::Verdict verdict;
    } steps[] = {
        {1, 3, true, false, OverageDecision::KEPT},
        {2, 4, false, true, OverageDecision::MARKED},
        {2, 9, true, true, OverageDecision::IGNORED},  // excluded by -ignore_class 9
        {1, 5, false, false, OverageDecision::KEPT},
    };
    for (const Step& s : steps) {
      LASpoint& r = read.at(5.25, 5.25, s.id, 0);
      r.classification = s.cls;
      r.extended_classification = U8(s.cls + 64);
      r.withheld_flag = s.withheld;
      r.extended_classification_flags = U8((s.withheld ? 4 : 0) | (s.overlap ? 8 : 0));
      const OverageDecision::Verdict v = o.judge_and_mark(r, scratch.p);
      const bool marked = s.verdict == OverageDecision::MARKED;
      LASpoint& out = scratch.p;
      switch (c.marking) {
        case OverageDecision::REMOVE:
          EXPECT_EQ(v, marked ? OverageDecision::REMOVED : s.verdict);
          EXPECT_EQ(out.marked_deleted, marked ? 1 : 0);
          break;
        case OverageDecision::FLAG_WITHHELD:
          EXPECT_EQ(v, s.verdict);
          EXPECT_EQ(out.withheld_flag, (marked || s.withheld) ? 1 : 0);
          EXPECT_EQ((out.extended_classification_flags & 4) != 0, marked || s.withheld);
          break;
        case OverageDecision::FLAG_OVERLAP:
          EXPECT_EQ(v, s.verdict);
          EXPECT_EQ(out.get_overlap_flag(), marked || s.overlap);
          break;
        case OverageDecision::CLASSIFY: {
          EXPECT_EQ(v, s.verdict);
          const bool set = marked && c.classification < 32;
          const U8 expected = set ? U8(c.classification) : s.cls;
          EXPECT_EQ(out.classification, expected) << c.classification;
          // An extended class of 32 or more that is not replaced stays.
          EXPECT_EQ(out.extended_classification, set ? expected : U8(s.cls + 64))
              << c.classification;
          break;
        }
      }
      // The point as read is never touched.
      EXPECT_EQ(r.classification, s.cls);
      EXPECT_EQ(r.withheld_flag, s.withheld ? 1 : 0);
    }
    EXPECT_EQ(o.marked_points(), 1);
  }
}

TEST(OverageDecision, IgnoredPointsAreNeitherRasterizedNorJudged) {
  OwnedArgs args({"-ignore_withheld"});
  LASignore ignore;
  ASSERT_TRUE(ignore.parse(args.argc(), args.argv()));
  OverageDecision o(settings(1.0f, false, OverageDecision::REMOVE), &ignore);
  Points pts;
  // Line 1 would win the cell, but all its points are withheld.
  LASpoint& p = pts.at(5.25, 5.25, 1, 0);
  p.withheld_flag = 1;
  EXPECT_FALSE(o.add_point(p));
  pts.at(5.25, 5.25, 2, 20);
  p.withheld_flag = 0;
  EXPECT_TRUE(o.add_point(p));
  EXPECT_EQ(o.excluded_points(), 1);
  EXPECT_EQ(o.flightline_count(), 1u);
  o.fill_holes();
  o.decide();
  o.start_input();
  LASpoint& q = pts.at(5.25, 5.25, 1, 0);
  q.withheld_flag = 1;
  q.marked_deleted = 1;
  EXPECT_EQ(o.judge_and_mark(q), OverageDecision::IGNORED);
  EXPECT_EQ(q.marked_deleted, 0);
  q.withheld_flag = 0;
  EXPECT_EQ(o.judge_and_mark(q), OverageDecision::REMOVED);
  EXPECT_EQ(o.marked_points(), 1);
}

TEST(OverageDecision, PointsOutsideTheDecisionWarnAndStayUnmarked) {
  OverageDecision o(settings(), nullptr);
  first_pass(o, {{5.25, 5.25, 1, 0}, {5.25, 5.25, 2, 3}});
  Points pts;
  EXPECT_EQ(o.judge_and_mark(pts.at(5.25, 5.25, 2, 0)), OverageDecision::MARKED);
  testing::internal::CaptureStderr();
  EXPECT_EQ(o.judge_and_mark(pts.at(500.25, 5.25, 2, 0)), OverageDecision::KEPT);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: points 2 not found in flightline raster.\n");
}

TEST(OverageDecision, NoFlightlineAtAllDecidesNothing) {
  OwnedArgs args({"-ignore_class", "0"});
  LASignore ignore;
  ASSERT_TRUE(ignore.parse(args.argc(), args.argv()));
  for (bool entire : {false, true}) {
    OverageDecision o(settings(1.0f, entire), &ignore);
    Points pts;
    EXPECT_FALSE(o.add_point(pts.at(1.0, 1.0, 1, 0)));
    EXPECT_EQ(o.flightline_count(), 0u);
    EXPECT_EQ(o.grid_columns(), 0);
    EXPECT_EQ(o.fill_holes(), 0u);
    o.decide();
    ASSERT_NE(o.decision_raster(), nullptr);
    EXPECT_FALSE(o.decision_raster()->has_tiles());
    EXPECT_EQ(o.judge_and_mark(pts.at(1.0, 1.0, 1, 0)), OverageDecision::IGNORED);
  }
}

TEST(OverageDecision, CallerGivenFlightlineNumbers) {
  OverageDecision o(settings(), nullptr);
  Points pts;
  // All points say 0; the caller knows better (recovered from GPS time).
  o.add_point(pts.at(5.25, 5.25, 0, 9), 1);
  o.add_point(pts.at(5.25, 5.25, 0, 2), 2);
  EXPECT_EQ(o.flightline_count(), 2u);
  o.fill_holes();
  o.decide();
  o.start_input();
  EXPECT_EQ(o.judge_and_mark(pts.at(5.25, 5.25, 0, 9), 1), OverageDecision::MARKED);
  EXPECT_EQ(o.judge_and_mark(pts.at(5.25, 5.25, 0, 2), 2), OverageDecision::KEPT);
  // The stored ID is not changed.
  EXPECT_EQ(pts.p.point_source_ID, 0);
}

TEST(OverageDecision, FilesAsFlightlines) {
  OwnedArgs args({"-ignore_class", "7"});
  LASignore ignore;
  ASSERT_TRUE(ignore.parse(args.argc(), args.argv()));
  OverageDecision::Settings s = settings();
  s.files_are_flightlines = true;
  OverageDecision o(s, &ignore);
  Points pts;
  // File 1: a 3 x 3 block missing its centre (a hole to fill) plus cell (20, 20).
  o.begin_file();
  for (I32 c = 0; c < 3; c++) {
    for (I32 r = 0; r < 3; r++) {
      if (c == 1 && r == 1) continue;
      // Whole coordinates keep the point in one cell.
      o.add_point(pts.at(10.0 + c, 10.0 + r, 4, 6));
    }
  }
  o.add_point(pts.at(20.0, 20.0, 4, 6));
  o.end_file();
  EXPECT_EQ(o.filled_cells(), 1u);
  // File 2: the same cells, equal at (20,20), better at (10,10); its last
  // point is excluded but still names the flightline.
  o.begin_file();
  o.add_point(pts.at(20.0, 20.0, 8, -6));
  o.add_point(pts.at(10.0, 10.0, 8, 1));
  LASpoint& last = pts.at(30.0, 30.0, 9, 0);
  last.classification = 7;
  EXPECT_FALSE(o.add_point(last));
  last.classification = 0;
  o.end_file();
  EXPECT_EQ(o.excluded_points(), 1);
  ASSERT_EQ(o.flightline_count(), 2u);
  EXPECT_EQ(o.flightline_id(0), 4);
  EXPECT_EQ(o.flightline_id(1), 9);
  I32 c0, r0, c1, r1;
  ASSERT_TRUE(o.grid_bounds(&c0, &r0, &c1, &r1));
  EXPECT_EQ(c0, 10);
  EXPECT_EQ(c1, 20);
  o.decide();
  o.start_input();
  EXPECT_EQ(judge(o, {20.0, 20.0, 4, 0}), OverageDecision::KEPT);
  EXPECT_EQ(judge(o, {20.0, 20.0, 9, 0}), OverageDecision::MARKED);
  EXPECT_EQ(judge(o, {10.0, 10.0, 9, 0}), OverageDecision::KEPT);
  EXPECT_EQ(judge(o, {11.0, 11.0, 4, 0}), OverageDecision::KEPT);  // the filled hole
}

}  // namespace
