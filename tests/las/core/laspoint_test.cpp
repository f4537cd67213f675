#include "las/core/laspoint.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct LayoutCase {
  U8 type;
  U16 size;
  std::vector<LASitem::Type> items;
  int extra;
};

TEST(LASpoint, LayoutsOfPointTypes) {
  const LayoutCase cases[] = {
      {1, 28, {LASitem::POINT10, LASitem::GPSTIME11}, 0},
      {1, 30, {LASitem::POINT10, LASitem::GPSTIME11, LASitem::BYTE}, 2},
      {3, 30, {LASitem::POINT10, LASitem::GPSTIME11, LASitem::RGB12}, 0},
      {5, 63, {LASitem::POINT10, LASitem::GPSTIME11, LASitem::RGB12, LASitem::WAVEPACKET13}, 0},
      {6, 34, {LASitem::POINT14, LASitem::BYTE14}, 4},
      {10, 67, {LASitem::POINT14, LASitem::RGBNIR14, LASitem::WAVEPACKET14}, 0},
  };
  LASscaleOffset so;
  for (const LayoutCase& c : cases) {
    LASpoint p;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(p.init_layout(&so, c.type, c.size, nullptr)) << int(c.type);
    std::string err = testing::internal::GetCapturedStderr();
    ASSERT_EQ(p.items.size(), c.items.size()) << int(c.type);
    for (size_t i = 0; i < c.items.size(); i++) EXPECT_EQ(p.items[i].type, c.items[i]);
    EXPECT_EQ(p.extra_bytes_count, c.extra);
    EXPECT_EQ(p.record_size, std::max<int>(c.size, base_point_size(c.type)));
    if (c.type == 3 && c.size == 30) {
      EXPECT_EQ(err,
                "WARNING: point size 30 too small by 4 bytes for point type 3. assuming "
                "point_size of 34\n");
    }
  }
  LASpoint p10;
  ASSERT_TRUE(p10.init_layout(&so, 10, 67, nullptr));
  EXPECT_TRUE(p10.has_gps_time && p10.has_rgb && p10.has_nir && p10.has_wave_packet);
  EXPECT_EQ(p10.extended_layout, 1);
}

TEST(LASpoint, UnknownPointType) {
  LASscaleOffset so;
  LASpoint p;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(p.init_layout(&so, 11, 40, nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: unknown point type 11 with point size 40\n");
  EXPECT_FALSE(p.init_items(&so, {LASitem(LASitem::Type(3), 4)}, nullptr));
}

TEST(LASpoint, Point10ByteImage) {
  LASpoint p;
  p.X = 0x04030201;
  p.return_number = 2;
  p.number_of_returns = 3;
  p.edge_of_flight_line = 1;
  p.classification = 9;
  p.withheld_flag = 1;
  p.scan_angle_rank = -5;
  p.point_source_ID = 0x1234;
  const U8* b = p.point10();
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(b[3], 4);
  EXPECT_EQ(b[14], 2 | (3 << 3) | 0x80);
  EXPECT_EQ(b[15], 9 | 0x80);
  EXPECT_EQ(I8(b[16]), -5);
  EXPECT_EQ(b[18], 0x34);
  EXPECT_EQ(b[19], 0x12);
}

TEST(LASscaleOffset, RoundsHalfAwayFromOffset) {
  LASscaleOffset so;
  so.x_scale_factor = 0.01;
  EXPECT_EQ(so.get_X(0.005), 1);
  EXPECT_EQ(so.get_X(-0.005), -1);
  so.x_offset = 100.0;
  EXPECT_EQ(so.get_X(99.994), -1);
  EXPECT_EQ(so.get_X(100.006), 1);
  so.x_scale_factor = 0.0;
  EXPECT_EQ(so.get_X(5.0), 0);  // never divides by zero
}

TEST(LASpoint, CoordinateOverflow) {
  LASscaleOffset so;
  LASpoint p;
  ASSERT_TRUE(p.init_layout(&so, 0, 20, nullptr));
  EXPECT_TRUE(p.set_x(21474836.47));
  EXPECT_EQ(p.X, I32_MAX);
  EXPECT_FALSE(p.set_x(21474836.48));
  EXPECT_FALSE(p.set_y(std::nan("")));
  EXPECT_FALSE(p.set_z(1e300));
}

// The stored integer and the fit flag at the edges: halves on both sides
// of the offset, the ends of the 32-bit range (beyond them the low 32 bits
// are stored), values too large even for 64 bits, NaN, infinities, and the
// scales that are not positive. A scale of 0.5 keeps every quotient exact.
TEST(LASpoint, SetCoordinateEdgeValues) {
  struct Case {
    F64 scale, offset, value;
    I32 stored;
    bool fits;
  };
  const F64 inf = INFINITY;
  const Case cases[] = {
      {0.5, 0.0, 0.25, 1, true},
      {0.5, 0.0, -0.25, -1, true},
      {0.5, 0.0, 0.75, 2, true},
      {0.5, 0.0, -0.75, -2, true},
      {0.5, 0.0, 0.2, 0, true},
      {0.5, 100.0, 99.75, -1, true},
      {0.5, 100.0, 100.25, 1, true},
      {0.5, 0.0, 1073741823.5, I32_MAX, true},
      {0.5, 0.0, 1073741823.75, I32_MIN, false},  // 2^31 wraps
      {0.5, 0.0, -1073741824.0, I32_MIN, true},
      {0.5, 0.0, -1073741824.25, I32_MAX, false},  // -2^31 - 1 wraps
      {0.5, 0.0, 1099511627776.0, 0, false},       // 2^41
      {0.5, 0.0, 1e300, -1, false},                // saturates at the largest I64
      {0.5, 0.0, inf, -1, false},
      {0.5, 0.0, -inf, 0, false},
      {0.5, 0.0, NAN, 0, false},
      // The half goes away from the offset, not from zero.
      {-0.5, 0.0, 0.75, -1, true},
      {-0.5, 0.0, -0.75, 1, true},
      {0.0, 0.0, 5.0, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "scale " << c.scale << " offset " << c.offset << " value " << c.value);
    LASscaleOffset so;
    so.x_scale_factor = so.y_scale_factor = so.z_scale_factor = c.scale;
    so.x_offset = so.y_offset = so.z_offset = c.offset;
    LASpoint p;
    ASSERT_TRUE(p.init_layout(&so, 0, 20, nullptr));
    EXPECT_EQ(p.set_x(c.value), c.fits);
    EXPECT_EQ(p.set_y(c.value), c.fits);
    EXPECT_EQ(p.set_z(c.value), c.fits);
    EXPECT_EQ(p.X, c.stored);
    EXPECT_EQ(p.Y, c.stored);
    EXPECT_EQ(p.Z, c.stored);
  }
}

TEST(LASpoint, CopyFromDerivesExtendedFields) {
  LASscaleOffset so;
  LASpoint legacy, extended, legacy2;
  ASSERT_TRUE(legacy.init_layout(&so, 1, 28, nullptr));
  ASSERT_TRUE(extended.init_layout(&so, 6, 30, nullptr));
  ASSERT_TRUE(legacy2.init_layout(&so, 1, 28, nullptr));
  legacy.scan_angle_rank = 15;
  legacy.classification = 5;
  legacy.withheld_flag = 1;
  legacy.return_number = 2;
  legacy.number_of_returns = 3;
  legacy.gps_time = 7.5;
  extended.copy_from(legacy);
  EXPECT_EQ(extended.extended_scan_angle, 2500);
  EXPECT_EQ(extended.extended_classification, 5);
  EXPECT_EQ(extended.extended_classification_flags, 4);
  EXPECT_EQ(extended.extended_return_number, 2);
  EXPECT_EQ(extended.extended_number_of_returns, 3);
  EXPECT_EQ(extended.gps_time, 7.5);
  EXPECT_EQ(extended.extended_layout, 1);
  legacy2.extended_scan_angle = 77;
  legacy2.copy_from(legacy);
  EXPECT_EQ(legacy2.extended_scan_angle, 77);  // untouched
}

TEST(LASpoint, ResetReturnsDefaults) {
  LASscaleOffset so;
  LASpoint p;
  ASSERT_TRUE(p.init_layout(&so, 6, 40, nullptr));
  p.return_number = 3;
  p.extended_return_number = 9;
  p.reset();
  EXPECT_EQ(p.return_number, 1);
  EXPECT_EQ(p.number_of_returns, 1);
  EXPECT_EQ(p.extended_return_number, 1);
  EXPECT_EQ(p.extended_number_of_returns, 1);
  EXPECT_TRUE(p.items.empty());
  EXPECT_EQ(p.extra_bytes_count, 0);
}

TEST(LASpoint, ScanAngleSetter) {
  LASscaleOffset so;
  LASpoint legacy, extended;
  ASSERT_TRUE(legacy.init_layout(&so, 1, 28, nullptr));
  ASSERT_TRUE(extended.init_layout(&so, 6, 30, nullptr));
  legacy.set_scan_angle(-14.5f);
  EXPECT_EQ(legacy.scan_angle_rank, -15);
  legacy.set_scan_angle(1000.0f);
  EXPECT_EQ(legacy.scan_angle_rank, 127);
  extended.set_scan_angle(15.0f);
  EXPECT_EQ(extended.extended_scan_angle, 2500);
  extended.set_scan_angle(-1e9f);
  EXPECT_EQ(extended.extended_scan_angle, -32768);
}

}  // namespace
