#include "raster/lasraster.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/test_data.hpp"

namespace {

namespace fs = std::filesystem;

// Temporary tiles go to the current directory: run inside a fresh one.
class InTempDir {
 public:
  InTempDir() : previous_(fs::current_path()) { fs::current_path(dir_.path()); }
  ~InTempDir() { fs::current_path(previous_); }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  TempDir dir_;
  fs::path previous_;
};

// A point that carries a value in its point source ID.
struct ValuePoint {
  LASscaleOffset so;
  LASpoint point;
  ValuePoint() { point.scale_offset = &so; }
  const LASpoint& with(U16 id) {
    point.point_source_ID = id;
    return point;
  }
};

// A raster keeping the highest point source ID: a 16-bit value per cell.
std::unique_ptr<LASraster> id_raster(I64 budget = 0x20000000) {
  auto r = std::make_unique<LASraster>();
  EXPECT_TRUE(r->set_statistic("point_source"));
  r->set_memory_budget(budget);
  return r;
}

TEST(LASraster, StepMustBePositive) {
  LASraster r;
  EXPECT_FALSE(r.set_step(0.0));
  EXPECT_FALSE(r.set_step(-2.0));
  EXPECT_FALSE(r.set_step(std::nan("")));
  EXPECT_EQ(r.get_step(), 1.0);
  EXPECT_TRUE(r.set_step(0.5));
  EXPECT_EQ(r.get_step(), 0.5);
}

TEST(LASraster, EmptyRasterReadsNothingAndCreatesNoTile) {
  auto r = id_raster();
  I32 v = -5;
  EXPECT_FALSE(r->get_value(0, 0, &v));
  EXPECT_FALSE(r->get_value(-7, 123456, &v));
  EXPECT_FALSE(r->clear_cell(0, 0));
  EXPECT_FALSE(r->has_tiles());
  EXPECT_EQ(r->get_tile_count(), 0u);
}

TEST(LASraster, BoundsFollowTheCellsWritten) {
  auto r = id_raster();
  ValuePoint p;
  ASSERT_TRUE(r->add_to_cell(5, 7, p.with(1)));
  EXPECT_EQ(r->get_min_column(), 5);
  EXPECT_EQ(r->get_max_column(), 5);
  EXPECT_EQ(r->get_min_row(), 7);
  EXPECT_EQ(r->get_max_row(), 7);
  ASSERT_TRUE(r->add_to_cell(-3, 9, p.with(1)));
  ASSERT_TRUE(r->add_to_cell(8, -2, p.with(1)));
  EXPECT_EQ(r->get_min_column(), -3);
  EXPECT_EQ(r->get_max_column(), 8);
  EXPECT_EQ(r->get_min_row(), -2);
  EXPECT_EQ(r->get_max_row(), 9);
}

TEST(LASraster, CellIndexIsTheFloorAndRefusesOverflow) {
  struct Case {
    F64 coordinate;
    F64 step;
    bool ok;
    I32 index;
  } cases[] = {
      {3.0, 1.0, true, 3},  // on the border: belongs to the cell above
      {2.999, 1.0, true, 2},
      {-0.0001, 1.0, true, -1},
      {-1.0, 1.0, true, -1},
      {1.0, 0.5, true, 2},
      // The float step 0.1f is a bit above 0.1.
      {0.3, F64(0.1f), true, 2},
      {2147483647.5, 1.0, true, 2147483647},
      {2147483648.0, 1.0, false, 0},
      {-2147483648.0, 1.0, true, I32_MIN},
      {-2147483649.0, 1.0, false, 0},
      {1e300, 1e-3, false, 0},
      {std::nan(""), 1.0, false, 0},
  };
  for (const Case& c : cases) {
    I32 index = 0;
    EXPECT_EQ(LASraster::cell_index(c.coordinate, c.step, &index), c.ok) << c.coordinate;
    if (c.ok) {
      EXPECT_EQ(index, c.index) << c.coordinate;
    }
  }
}

TEST(LASraster, PointsBeyondTheGridAreRefused) {
  LASraster r;
  ASSERT_TRUE(r.set_statistic("occupancy"));
  LASscaleOffset so;
  so.x_scale_factor = 1e10;
  LASpoint p;
  p.scale_offset = &so;
  p.X = 1;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(r.add_point(p, 2));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: cannot get tile (2147483647/0)\n");
  I32 v;
  EXPECT_FALSE(r.get_value_at(p, &v));
  EXPECT_FALSE(r.has_tiles());
}

TEST(LASraster, NegativeColumnsShareTheWrappedTile) {
  auto r = id_raster();
  ValuePoint p;
  // Columns -96 ... -1 are the last tile column 42949672 (unsigned cells
  // 4294967200 ... 4294967295); -1 sits at position 95.
  ASSERT_TRUE(r->add_to_cell(-1, 0, p.with(11)));
  ASSERT_TRUE(r->add_to_cell(-96, 0, p.with(12)));
  ASSERT_EQ(r->get_tile_count(), 1u);
  EXPECT_EQ(r->tile_indices()[0], std::make_pair(U32(42949672), U32(0)));
  EXPECT_EQ(LASraster::cell_in_tile(-1, 0), 95u);
  EXPECT_EQ(LASraster::cell_in_tile(-96, 0), 0u);
  EXPECT_EQ(LASraster::cell_in_tile(-1, -1), 95u + 9500u);
  ASSERT_TRUE(r->add_to_cell(-97, 0, p.with(13)));
  ASSERT_TRUE(r->add_to_cell(0, 0, p.with(14)));
  EXPECT_EQ(r->get_tile_count(), 3u);
  EXPECT_TRUE(r->has_tile(42949671, 0));
  EXPECT_TRUE(r->has_tile(0, 0));
  const std::pair<I32, I32> expected[] = {{-1, 11}, {-96, 12}, {-97, 13}, {0, 14}};
  for (const auto& e : expected) {
    I32 v = 0;
    ASSERT_TRUE(r->get_value(e.first, 0, &v)) << e.first;
    EXPECT_EQ(v, e.second) << e.first;
  }
  I32 v;
  EXPECT_FALSE(r->get_value(-2, 0, &v));
  EXPECT_FALSE(r->get_value(1, 0, &v));
}

TEST(LASraster, OneTileBudgetSwapsOnEveryChange) {
  InTempDir dir;
  {
    auto r = id_raster(1);
    ValuePoint p;
    // Alternate between two tiles (columns 0-99 and 100-199) and a far tile
    // that needs the large-key index.
    const I32 columns[] = {0, 150, 0, 150, 2000000000, -5, 150, 2000000000};
    U16 id = 1;
    for (I32 c : columns) {
      ASSERT_TRUE(r->add_to_cell(c, I32(id), p.with(id))) << c;
      id++;
    }
    EXPECT_EQ(r->get_max_tiles_in_memory(), 1u);
    EXPECT_EQ(r->get_tiles_in_memory(), 1u);
    EXPECT_EQ(r->get_tile_count(), 4u);
    // Each change of tile stored the old one.
    EXPECT_EQ(r->get_tile_writes(), 7u);
    EXPECT_EQ(r->get_tile_reads(), 4u);
    EXPECT_EQ(r->get_temporary_file_count(), 1u);
    id = 1;
    for (I32 c : columns) {
      I32 v = 0;
      ASSERT_TRUE(r->get_value(c, I32(id), &v)) << c;
      EXPECT_EQ(v, id) << c;
      id++;
    }
    // Cells next to the written ones stay empty after all the swapping.
    I32 v;
    EXPECT_FALSE(r->get_value(1, 1, &v));
    EXPECT_FALSE(r->get_value(150, 3, &v));
    // Reading clean tiles back and forth writes nothing.
    const U64 writes = r->get_tile_writes();
    for (int k = 0; k < 4; k++) {
      ASSERT_TRUE(r->get_value(0, 1, &v));
      ASSERT_TRUE(r->get_value(150, 2, &v));
    }
    EXPECT_EQ(r->get_tile_writes(), writes);
    const auto files = dir.files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].rfind("taemp" + std::to_string(platform::process_id()) + ".", 0), 0u)
        << files[0];
  }
  EXPECT_TRUE(dir.files().empty());
}

TEST(LASraster, ManyTilesThroughASmallBudgetKeepEveryValue) {
  InTempDir dir;
  {
    // Three tile buffers for a 7 x 5 block of tiles visited in a scattered order.
    auto r = id_raster(3 * 21252);
    ValuePoint p;
    std::vector<std::pair<I32, I32>> cells;
    for (int k = 0; k < 400; k++) {
      const I32 c = I32((k * 7919) % 700) - 350;
      const I32 row = I32((k * 104729) % 500) - 250;
      cells.emplace_back(c, row);
    }
    for (size_t k = 0; k < cells.size(); k++) {
      ASSERT_TRUE(r->add_to_cell(cells[k].first, cells[k].second, p.with(U16(k + 1))));
    }
    EXPECT_EQ(r->get_tiles_in_memory(), 3u);
    std::map<std::pair<I32, I32>, I32> expected;
    for (size_t k = 0; k < cells.size(); k++) {
      expected[cells[k]] = std::max(expected[cells[k]], I32(k + 1));
    }
    for (const auto& e : expected) {
      I32 v = 0;
      ASSERT_TRUE(r->get_value(e.first.first, e.first.second, &v));
      EXPECT_EQ(v, e.second);
    }
  }
  EXPECT_TRUE(dir.files().empty());
}

TEST(LASraster, TwoSpillingRastersKeepTheirOwnFiles) {
  InTempDir dir;
  {
    auto a = id_raster(1);
    auto b = id_raster(1);
    ValuePoint p;
    for (int round = 0; round < 5; round++) {
      for (I32 t = 0; t < 3; t++) {
        ASSERT_TRUE(a->add_to_cell(t * 100, round, p.with(U16(100 + round * 10 + t))));
        ASSERT_TRUE(b->add_to_cell(t * 100, round, p.with(U16(200 + round * 10 + t))));
      }
    }
    EXPECT_EQ(dir.files().size(), 2u);
    for (int round = 0; round < 5; round++) {
      for (I32 t = 0; t < 3; t++) {
        I32 va = 0, vb = 0;
        ASSERT_TRUE(a->get_value(t * 100, round, &va));
        ASSERT_TRUE(b->get_value(t * 100, round, &vb));
        EXPECT_EQ(va, 100 + round * 10 + t);
        EXPECT_EQ(vb, 200 + round * 10 + t);
      }
    }
    a.reset();
    EXPECT_EQ(dir.files().size(), 1u);
  }
  EXPECT_TRUE(dir.files().empty());
}

TEST(LASraster, TakenTemporaryNamesAreSkippedNotOverwritten) {
  InTempDir dir;
  const std::string pid = std::to_string(platform::process_id());
  // Stale files of an earlier process with the same ID.
  for (int n = 0; n < 300; n++) {
    std::ofstream("stale" + pid + "." + std::to_string(n) + ".tmp") << "keep";
  }
  {
    auto r = id_raster(1);
    r->set_temporary_base_name("stale");
    ValuePoint p;
    ASSERT_TRUE(r->add_to_cell(0, 0, p.with(1)));
    ASSERT_TRUE(r->add_to_cell(500, 0, p.with(2)));
    ASSERT_TRUE(r->add_to_cell(0, 1, p.with(3)));
    I32 v;
    ASSERT_TRUE(r->get_value(500, 0, &v));
    EXPECT_EQ(v, 2);
    EXPECT_EQ(dir.files().size(), 301u);
  }
  const auto files = dir.files();
  ASSERT_EQ(files.size(), 300u);
  for (const std::string& name : files) {
    std::ifstream in(name);
    std::string content;
    in >> content;
    EXPECT_EQ(content, "keep") << name;
  }
}

TEST(LASraster, FailedStoreKeepsTheTileAndFailsTheRequest) {
  InTempDir dir;
  auto r = id_raster(1);
  r->set_temporary_base_name("no/such/directory/t");
  ValuePoint p;
  ASSERT_TRUE(r->add_to_cell(3, 4, p.with(7)));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(r->add_to_cell(300, 4, p.with(8)));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("ERROR: cannot create temporary file 'no/such/directory/t"), std::string::npos)
      << err;
  EXPECT_NE(err.find("ERROR: cannot get tile (300/4)\n"), std::string::npos) << err;
  // The tile that could not be saved still holds its value, and works on.
  I32 v = 0;
  ASSERT_TRUE(r->get_value(3, 4, &v));
  EXPECT_EQ(v, 7);
  ASSERT_TRUE(r->add_to_cell(5, 5, p.with(9)));
  ASSERT_TRUE(r->get_value(5, 5, &v));
  EXPECT_EQ(v, 9);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(r->get_value(300, 4, &v));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(r->get_tile_count(), 1u);
}

TEST(LASraster, FailedLoadReportsAndTheRasterStaysUsable) {
  InTempDir dir;
  auto r = id_raster(1);
  ValuePoint p;
  ASSERT_TRUE(r->add_to_cell(0, 0, p.with(1)));
  ASSERT_TRUE(r->add_to_cell(100, 0, p.with(2)));  // stores tile 0
  I32 v = 0;
  ASSERT_TRUE(r->get_value(0, 0, &v));  // stores tile 1, loads tile 0 (clean)
  // Someone truncates the spill file behind the raster's back.
  const auto files = dir.files();
  ASSERT_EQ(files.size(), 1u);
  fs::resize_file(files[0], 0);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(r->get_value(100, 0, &v));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("ERROR: cannot read tile from temporary file"), std::string::npos) << err;
  // A new tile still works, with the buffer of the failed load.
  ASSERT_TRUE(r->add_to_cell(250, 0, p.with(3)));
  ASSERT_TRUE(r->get_value(250, 0, &v));
  EXPECT_EQ(v, 3);
  I32 none;
  EXPECT_FALSE(r->get_value(251, 0, &none));
  EXPECT_EQ(r->get_tiles_in_memory(), 1u);
}

TEST(LASraster, ClearedCellHasNoValueAndNeighboursKeepTheirs) {
  struct Case {
    const char* statistic;
  } cases[] = {{"point_source"},
               {"scan_angle range"},
               {"elevation mean"},
               {"counter"},
               {"counter 2bit"},
               {"occupancy"},
               {"rgb"},
               {"mean_xyz"},
               {"return_type"},
               {"classification variety"}};
  for (const Case& c : cases) {
    LASraster r;
    ASSERT_TRUE(r.set_statistic(c.statistic)) << c.statistic;
    ValuePoint p;
    p.point.scan_angle_rank = 4;
    p.point.rgb[0] = 9;
    for (I32 col = 0; col < 40; col++) ASSERT_TRUE(r.add_to_cell(col, 0, p.with(3)));
    ASSERT_TRUE(r.clear_cell(7, 0)) << c.statistic;
    I32 v;
    EXPECT_FALSE(r.get_value(7, 0, &v)) << c.statistic;
    for (I32 col = 0; col < 40; col++) {
      if (col != 7) {
        EXPECT_TRUE(r.get_value(col, 0, &v)) << c.statistic << " " << col;
      }
    }
  }
}

}  // namespace
