#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "raster/lasraster.hpp"

namespace {

// The fields a statistic can look at, per point.
struct P {
  I32 Z = 0;
  U16 intensity = 0;
  U8 ret = 1, num = 1;
  U8 cls = 0;
  I8 angle = 0;
  U8 user = 0;
  U16 source = 0;
  U16 r = 0, g = 0, b = 0;
  I32 X = 0, Y = 0;
};

struct Fixture {
  LASscaleOffset so;
  LASpoint point;
  Fixture() {
    so.x_scale_factor = so.y_scale_factor = so.z_scale_factor = 1.0;
    point.scale_offset = &so;
  }
  const LASpoint& make(const P& p) {
    point.X = p.X;
    point.Y = p.Y;
    point.Z = p.Z;
    point.intensity = p.intensity;
    point.return_number = p.ret;
    point.number_of_returns = p.num;
    point.classification = p.cls;
    point.scan_angle_rank = p.angle;
    point.user_data = p.user;
    point.point_source_ID = p.source;
    point.rgb[0] = p.r;
    point.rgb[1] = p.g;
    point.rgb[2] = p.b;
    return point;
  }
};

struct Case {
  const char* text;
  std::vector<P> points;
  bool found;
  I32 value;
  U32 selector;
  U32 overflow;
};

P z(I32 v) {
  P p;
  p.Z = v;
  return p;
}
P intensity(U16 v) {
  P p;
  p.intensity = v;
  return p;
}
P angle(I8 v) {
  P p;
  p.angle = v;
  return p;
}
P user(U8 v) {
  P p;
  p.user = v;
  return p;
}
P source(U16 v) {
  P p;
  p.source = v;
  return p;
}
P returns(U8 ret, U8 num, I32 zv = 0) {
  P p;
  p.ret = ret;
  p.num = num;
  p.Z = zv;
  return p;
}
P cls(U8 c) {
  P p;
  p.cls = c;
  return p;
}
std::vector<P> times(const P& p, int n) {
  return std::vector<P>(size_t(n), p);
}
std::vector<P> concat(std::vector<P> a, const std::vector<P>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(LASrasterStatistics, CellValuesByKeyword) {
  P colour;
  colour.r = 0x1234;
  colour.g = 0x0056;
  colour.b = 0xFF78;
  P colour2;
  colour2.r = 1;
  P xyz;
  xyz.X = 11;
  xyz.Y = -22;
  xyz.Z = 33;
  const Case cases[] = {
      // The overlap tool's three statistics.
      {"lowest_abs scan_angle", {angle(-12), angle(7), angle(-3)}, true, 3, 0, 0},
      {"scan_angle lowest_abs", {angle(-12), angle(7), angle(-3)}, true, 3, 0, 0},
      {"lowest_abs scan_angle", {angle(-90)}, true, 90, 0, 0},
      // -128 has no signed 8-bit absolute value; it must not win.
      {"lowest_abs scan_angle", {angle(-128), angle(5)}, true, 5, 0, 0},
      {"lowest_abs scan_angle", {angle(5), angle(-128)}, true, 5, 0, 0},
      {"lowest_abs scan_angle", {angle(-128)}, true, 128, 0, 0},
      {"occupancy", {P()}, true, 1, 0, 0},
      {"occupancy", {}, false, 0, 0, 0},
      {"point_source", {source(4), source(9)}, true, 9, 0, 0},
      {"point_source min", {source(4), source(9)}, true, 4, 0, 0},
      {"point_source lowest", {source(9), source(4), source(60000)}, true, 4, 0, 0},
      {"point_source range", {source(9), source(4), source(60000)}, true, 59996, 0, 0},
      // Counters.
      {"counter 2bit", times(P(), 5), true, 3, 0, 2},
      {"counter 4bit", times(P(), 17), true, 15, 0, 2},
      {"counter", times(P(), 300), true, 255, 0, 45},
      {"counter 16bit", times(P(), 300), true, 300, 0, 0},
      {"counter 32bit", times(P(), 3), true, 3, 0, 0},
      {"counter", {}, false, 0, 0, 0},
      // Single returns count on both sides; a first of many only in b.
      {"counter quotient", {returns(1, 1), returns(1, 2), returns(2, 2)}, true, 127, 0, 0},
      {"counter quotient 16bit", {returns(1, 1), returns(1, 3), returns(1, 2)}, true, 21845, 0, 0},
      {"counter quotient", {returns(2, 2)}, false, 0, 0, 0},
      {"counter quotient", {returns(1, 2)}, true, 0, 0, 0},
      // Classification quotient.
      {"classification quotient _2_ 16bit", {cls(2), cls(2), cls(2), cls(5)}, true, 49151, 0, 0},
      {"classification quotient _2_", {cls(2), cls(2), cls(2), cls(5)}, true, 191, 0, 0},
      {"classification quotient", {cls(0), cls(1)}, true, 127, 0, 0},
      {"classification quotient _3_", {cls(3)}, true, 255, 0, 0},
      {"classification quotient _3_", {cls(4)}, true, 0, 0, 0},
      // 255 of the class saturate; two others; one more of the class halves both.
      {"classification quotient _1_",
       concat(concat(times(cls(1), 255), times(cls(7), 2)), {cls(1)}), true, 253, 0, 1},
      {"classification variety", {cls(2), cls(2), cls(7), cls(31), cls(0)}, true, 4, 0, 0},
      {"classification majority", times(cls(3), 260), true, 255, 0, 5},
      {"classification majority 16bit", times(cls(3), 260), true, 260, 0, 0},
      // Elevation.
      {"elevation", {z(5), z(-3), z(8)}, true, -3, 0, 0},
      {"elevation lowest", {z(5), z(-3), z(8)}, true, -3, 0, 0},
      {"elevation highest", {z(5), z(-3), z(8)}, true, 8, 0, 0},
      {"elevation max", {z(5), z(-3), z(8)}, true, 8, 0, 0},
      {"elevation average", {z(10), z(11)}, true, 11, 0, 0},
      {"elevation mean", {z(-10), z(-11)}, true, -11, 0, 0},
      {"elevation range", {z(5), z(-3), z(8)}, true, 11, 0, 0},
      // A range wider than 32 bits saturates instead of wrapping.
      {"elevation range", {z(I32_MIN), z(I32_MAX)}, true, I32_MAX, 0, 0},
      {"elevation stddev", {z(2), z(4), z(4), z(4), z(5), z(5), z(7), z(9)}, true, 2, 0, 0},
      {"elevation std", {z(2), z(4), z(4), z(4), z(5), z(5), z(7), z(9)}, true, 5, 1, 0},
      {"elevation std", {z(2), z(4), z(4), z(4), z(5), z(5), z(7), z(9)}, true, 5, 2, 0},
      {"elevation std", {z(2), z(4), z(4), z(4), z(5), z(5), z(7), z(9)}, true, 8, 3, 0},
      {"elevation stddev", {z(42)}, true, 0, 0, 0},
      // Intensity.
      {"intensity", {intensity(7), intensity(900), intensity(3)}, true, 900, 0, 0},
      {"intensity min", {intensity(7), intensity(900), intensity(3)}, true, 3, 0, 0},
      {"intensity avg", {intensity(1), intensity(2)}, true, 2, 0, 0},
      {"intensity range", {intensity(7), intensity(900), intensity(3)}, true, 897, 0, 0},
      {"intensity stddev", {intensity(10), intensity(20), intensity(30)}, true, 10, 0, 0},
      // Scan angle.
      {"scan_angle", {angle(5), angle(-7), angle(3)}, true, -7, 0, 0},
      {"scan_angle highest", {angle(5), angle(-7), angle(3)}, true, 5, 0, 0},
      {"scan_angle max_abs", {angle(5), angle(-7), angle(3)}, true, 7, 0, 0},
      {"scan_angle abs_highest", {angle(-128), angle(3)}, true, 128, 0, 0},
      {"scan_angle average_abs", {angle(-3), angle(4)}, true, 4, 0, 0},
      {"scan_angle range", {angle(5), angle(-7), angle(3)}, true, 12, 0, 0},
      // User data.
      {"user_data", {user(5), user(200), user(3)}, true, 200, 0, 0},
      {"user_data lowest", {user(5), user(200), user(3)}, true, 3, 0, 0},
      {"user_data mean", {user(5), user(200), user(3)}, true, 69, 0, 0},
      {"user_data range", {user(5), user(200), user(3)}, true, 197, 0, 0},
      // Number of returns.
      {"number_returns", {returns(1, 2), returns(1, 3)}, true, 3, 0, 0},
      {"number_returns lowest", {returns(1, 5), returns(1, 2), returns(1, 7)}, true, 2, 0, 0},
      {"number_returns max", {returns(1, 5), returns(1, 2), returns(1, 7)}, true, 7, 0, 0},
      {"number_returns stddev", {returns(1, 1), returns(1, 3)}, true, 14, 0, 0},
      // Return type of the lowest / highest point: 3 single, 1 first, 2 last, 0 intermediate.
      {"return_type", {returns(1, 1, 5), returns(2, 3, 9), returns(3, 3, 1)}, true, 0, 0, 0},
      {"return_type highest",
       {returns(1, 1, 5), returns(1, 3, 9), returns(3, 3, 1)},
       true,
       1,
       0,
       0},
      {"return_type min", {returns(1, 1, 5), returns(2, 3, 9), returns(3, 3, 1)}, true, 2, 0, 0},
      {"return_type lowest", {returns(1, 1, 5)}, true, 3, 0, 0},
      // Colour: the first point, low bytes.
      {"rgb", {colour, colour2}, true, 0x345678, 0, 0},
      // Random point of the cell: with one point it is that one.
      {"xyz_random", {xyz}, true, 11, 0, 0},
      {"xyz_random", {xyz}, true, -22, 1, 0},
      {"xyz_random", {xyz}, true, 33, 2, 0},
      {"mean_xyz", times(P(), 4), true, 4, 3, 0},
  };
  for (const Case& c : cases) {
    LASraster r;
    ASSERT_TRUE(r.set_statistic(c.text)) << c.text;
    Fixture f;
    for (const P& p : c.points) ASSERT_TRUE(r.add_to_cell(3, -4, f.make(p))) << c.text;
    // The tile exists also for the empty cases.
    ASSERT_TRUE(r.add_to_cell(4, -4, f.make(P())));
    I32 v = -999;
    EXPECT_EQ(r.get_value(3, -4, &v, c.selector), c.found) << c.text;
    if (c.found) {
      EXPECT_EQ(v, c.value) << c.text;
    } else if (strcmp(c.text, "occupancy") == 0) {
      EXPECT_EQ(v, 0);  // an empty occupancy cell reads as 0
    }
    EXPECT_EQ(r.get_overflow(), c.overflow) << c.text;
  }
}

TEST(LASrasterStatistics, KeywordSelectionFailures) {
  const char* failing[] = {"return_type foo", "classification", "classification foo",
                           "nothing here", "",
                           // group words are case sensitive
                           "Occupancy"};
  for (const char* text : failing) {
    LASraster r;
    ASSERT_TRUE(r.set_statistic("point_source"));
    EXPECT_FALSE(r.set_statistic(text)) << text;
    // Still the highest point source.
    LASpoint p;
    p.point_source_ID = 4;
    ASSERT_TRUE(r.add_to_cell(0, 0, p));
    p.point_source_ID = 9;
    ASSERT_TRUE(r.add_to_cell(0, 0, p));
    I32 v;
    ASSERT_TRUE(r.get_value(0, 0, &v));
    EXPECT_EQ(v, 9) << text;
    EXPECT_EQ(r.get_tile_bytes(), 21252u);
  }
}

TEST(LASrasterStatistics, TileLayouts) {
  struct Layout {
    const char* text;
    U32 tile_bytes;
  } layouts[] = {
      {"lowest_abs scan_angle", 11252},
      {"point_source", 21252},
      {"occupancy", 1252},
      {"elevation", 41252},
      {"elevation range", 81252},
      {"elevation average", 60000},
      {"elevation stddev", 100000},
      {"counter 2bit", 2500},
      {"counter 4bit", 5000},
      {"counter", 10000},
      {"counter quotient", 20000},
      {"counter quotient 16bit", 40000},
      {"return_type", 43752},
      {"rgb", 31252},
      {"number_returns min", 6252},
      {"xyz_random", 140000},
      {"mean_xyz", 160000},
      {"value", 41252},
  };
  for (const Layout& l : layouts) {
    LASraster r;
    ASSERT_TRUE(r.set_statistic(l.text)) << l.text;
    LASpoint p;
    LASscaleOffset so;
    p.scale_offset = &so;
    ASSERT_TRUE(r.add_to_cell(0, 0, p));
    EXPECT_EQ(r.get_tile_bytes(), l.tile_bytes) << l.text;
  }
  LASraster r;
  ASSERT_TRUE(r.set_statistic("lowest_abs scan_angle"));
  LASpoint p;
  ASSERT_TRUE(r.add_to_cell(0, 0, p));
  EXPECT_EQ(r.get_max_tiles_in_memory(), 47713u);
  // The geometry is fixed once a tile exists.
  EXPECT_FALSE(r.set_statistic("occupancy"));
}

TEST(LASrasterStatistics, NeighbouringCellsDoNotShareBits) {
  // Packed layouts: every cell of a tile written with its own value and read back.
  struct Packed {
    const char* text;
    int modulo;
  } packed[] = {{"number_returns max", 8}, {"counter 2bit", 4}, {"counter 4bit", 16},
                {"return_type", 4},        {"rgb", 256},        {"scan_angle range", 100}};
  for (const Packed& k : packed) {
    LASraster r;
    ASSERT_TRUE(r.set_statistic(k.text));
    Fixture f;
    for (I32 row = 0; row < 100; row++) {
      for (I32 col = 0; col < 100; col++) {
        const int v = (col * 7 + row * 13) % k.modulo;
        P p;
        if (std::strstr(k.text, "number_returns")) p.num = U8(v);
        if (std::strstr(k.text, "rgb")) p.r = p.g = p.b = U16(v);
        if (std::strstr(k.text, "return_type")) {
          // 0 intermediate, 1 first of many, 2 last of many, 3 single
          const U8 rets[4][2] = {{2, 3}, {1, 3}, {3, 3}, {1, 1}};
          p.ret = rets[v][0];
          p.num = rets[v][1];
        }
        if (std::strstr(k.text, "scan_angle")) {
          p.angle = 0;
          ASSERT_TRUE(r.add_to_cell(col, row, f.make(p)));
          p.angle = I8(v);
        }
        if (std::strstr(k.text, "counter")) {
          for (int n = 1; n < v; n++) ASSERT_TRUE(r.add_to_cell(col, row, f.make(p)));
          if (v == 0) continue;
        }
        ASSERT_TRUE(r.add_to_cell(col, row, f.make(p)));
      }
    }
    for (I32 row = 0; row < 100; row++) {
      for (I32 col = 0; col < 100; col++) {
        const int v = (col * 7 + row * 13) % k.modulo;
        I32 got = -1;
        const bool found = r.get_value(col, row, &got);
        if (std::strstr(k.text, "counter") && v == 0) {
          EXPECT_FALSE(found);
          continue;
        }
        ASSERT_TRUE(found) << k.text << " " << col << "," << row;
        const I32 expected = std::strstr(k.text, "rgb") ? (v << 16) | (v << 8) | v : v;
        ASSERT_EQ(got, expected) << k.text << " " << col << "," << row;
      }
    }
  }
}

TEST(LASrasterStatistics, WriteOperations) {
  struct Write {
    const char* text;
    I32 written;
    bool ok;
    I32 read;
  } writes[] = {
      {"counter", 300, true, 255},
      {"counter", 17, true, 17},
      {"counter 16bit", 70000, true, 65535},
      {"counter 32bit", 70000, true, 70000},
      {"value", -5, true, -5},
      {"classification majority", 9, true, 9},
      {"counter 2bit", 2, false, 0},
      {"point_source", 3, false, 0},
      {"occupancy", 1, false, 0},
  };
  for (const Write& w : writes) {
    LASraster r;
    ASSERT_TRUE(r.set_statistic(w.text));
    EXPECT_EQ(r.set_value(-1, 2, w.written), w.ok) << w.text;
    I32 v = 0;
    EXPECT_EQ(r.get_value(-1, 2, &v), w.ok) << w.text;
    if (w.ok) {
      EXPECT_EQ(v, w.read) << w.text;
    }
  }
}

TEST(LASrasterStatistics, ValueAndIndexKeepTheCurrentValue) {
  LASraster value;
  ASSERT_TRUE(value.set_statistic("value"));
  LASpoint p;
  value.set_current_value(17);
  ASSERT_TRUE(value.add_to_cell(0, 0, p));
  value.set_current_value(23);
  ASSERT_TRUE(value.add_to_cell(0, 0, p));
  I32 v;
  ASSERT_TRUE(value.get_value(0, 0, &v));
  EXPECT_EQ(v, 23);

  LASraster index;
  ASSERT_TRUE(index.set_statistic("elevation index"));
  const I32 zs[] = {50, 20, 30};
  for (int k = 0; k < 3; k++) {
    index.set_current_value(100 + k);
    p.Z = zs[k];
    ASSERT_TRUE(index.add_to_cell(0, 0, p));
  }
  ASSERT_TRUE(index.get_value(0, 0, &v, 0));
  EXPECT_EQ(v, 20);
  ASSERT_TRUE(index.get_value(0, 0, &v, 1));
  EXPECT_EQ(v, 101);
}

TEST(LASrasterStatistics, MeanXYZMeasuresFromTheCellCentre) {
  LASraster r;
  ASSERT_TRUE(r.set_statistic("mean_xyz"));
  ASSERT_TRUE(r.set_step(2.0));
  LASscaleOffset so;
  so.x_scale_factor = so.y_scale_factor = so.z_scale_factor = 0.5;
  LASpoint p;
  p.scale_offset = &so;
  // x 3.5 and 2.5 in cell [2, 4) with centre 3: offsets 0.5 and -0.5 ... mean 0.
  // y 1.5 in cell [0, 2), centre 1: offset 0.5. z 5 in [4, 6), centre 5: 0.
  const I32 xs[] = {7, 5, 7};
  for (I32 X : xs) {
    p.X = X;
    p.Y = 3;
    p.Z = 10;
    ASSERT_TRUE(r.add_point(p));
  }
  I32 bits;
  F32 mean;
  ASSERT_TRUE(r.get_value(1, 0, &bits, 0));
  memcpy(&mean, &bits, 4);
  EXPECT_NEAR(mean, 0.5f / 3.0f, 1e-6);
  ASSERT_TRUE(r.get_value(1, 0, &bits, 1));
  memcpy(&mean, &bits, 4);
  EXPECT_FLOAT_EQ(mean, 0.5f);
  ASSERT_TRUE(r.get_value(1, 0, &bits, 2));
  memcpy(&mean, &bits, 4);
  EXPECT_FLOAT_EQ(mean, 0.0f);
  ASSERT_TRUE(r.get_value(1, 0, &bits, 3));
  EXPECT_EQ(bits, 3);
}

TEST(LASrasterStatistics, RandomPointIsOneOfTheCellsPoints) {
  LASraster r;
  ASSERT_TRUE(r.set_statistic("xyz_random"));
  LASpoint p;
  for (int cell = 0; cell < 3000; cell++) {
    for (int k = 0; k < 3; k++) {
      p.X = k;
      p.Y = 10 + k;
      p.Z = 20 + k;
      ASSERT_TRUE(r.add_to_cell(cell % 100, cell / 100, p));
    }
  }
  int counts[3] = {0, 0, 0};
  for (int cell = 0; cell < 3000; cell++) {
    I32 x, y, zz;
    ASSERT_TRUE(r.get_value(cell % 100, cell / 100, &x, 0));
    ASSERT_TRUE(r.get_value(cell % 100, cell / 100, &y, 1));
    ASSERT_TRUE(r.get_value(cell % 100, cell / 100, &zz, 2));
    ASSERT_GE(x, 0);
    ASSERT_LE(x, 2);
    EXPECT_EQ(y, 10 + x);
    EXPECT_EQ(zz, 20 + x);
    counts[x]++;
  }
  // Each of the three points is kept about a third of the time.
  for (int c : counts) {
    EXPECT_GT(c, 800);
    EXPECT_LT(c, 1200);
  }
}

TEST(LASrasterStatistics, ValueRangeTracking) {
  LASraster r;
  ASSERT_TRUE(r.set_statistic("lowest_abs scan_angle"));
  r.set_track_value_range(true);
  LASpoint p;
  const I8 angles[] = {-20, 12, 30};
  for (int k = 0; k < 3; k++) {
    p.scan_angle_rank = angles[k];
    ASSERT_TRUE(r.add_to_cell(k, 0, p));
  }
  EXPECT_EQ(r.get_min_value(), 12);
  EXPECT_EQ(r.get_max_value(), 30);

  LASraster off;
  ASSERT_TRUE(off.set_statistic("lowest_abs scan_angle"));
  ASSERT_TRUE(off.add_to_cell(0, 0, p));
  EXPECT_EQ(off.get_min_value(), I32_MAX);
  EXPECT_EQ(off.get_max_value(), I32_MIN);

  LASraster counter;
  ASSERT_TRUE(counter.set_statistic("counter 16bit"));
  counter.set_track_value_range(true);
  for (int k = 0; k < 5; k++) ASSERT_TRUE(counter.add_to_cell(0, 0, p));
  ASSERT_TRUE(counter.add_to_cell(1, 0, p));
  EXPECT_EQ(counter.get_max_value(), 5);
}

}  // namespace
