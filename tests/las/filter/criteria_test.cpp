// Each criterion over a handful of points placed on its boundaries: the kept
// set must match, and a filter rebuilt from the written option text must make
// the same decisions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "las/core/lasattribute.hpp"
#include "las/core/laspoint.hpp"
#include "las/filter/lasfilter.hpp"

namespace {

using Set = std::function<void(LASpoint&)>;

// Coordinates use a binary scale so that boundary values are exact.
Set xyz(double x, double y, double z = 0.0) {
  return [=](LASpoint& p) {
    p.set_x(x);
    p.set_y(y);
    p.set_z(z);
  };
}
Set XYZ(I32 X, I32 Y, I32 Z) {
  return [=](LASpoint& p) {
    p.X = X;
    p.Y = Y;
    p.Z = Z;
  };
}
Set rn(int r, int n) {
  return [=](LASpoint& p) {
    p.return_number = U8(r);
    p.number_of_returns = U8(n);
  };
}
Set intensity(U16 i) {
  return [=](LASpoint& p) { p.intensity = i; };
}
Set cls(int c) {
  return [=](LASpoint& p) { p.classification = U8(c); };
}
Set ext_cls(int e) {
  return [=](LASpoint& p) { p.extended_classification = U8(e); };
}
Set user(int u) {
  return [=](LASpoint& p) { p.user_data = U8(u); };
}
Set source(int id) {
  return [=](LASpoint& p) { p.point_source_ID = U16(id); };
}
Set angle(int a) {
  return [=](LASpoint& p) { p.scan_angle_rank = I8(a); };
}
Set gps(double t) {
  return [=](LASpoint& p) { p.gps_time = t; };
}
Set no_gps(double t) {
  return [=](LASpoint& p) {
    p.has_gps_time = false;
    p.gps_time = t;
  };
}
Set colour(int r, int g, int b, int n, int i = 0) {
  return [=](LASpoint& p) {
    p.rgb[0] = U16(r);
    p.rgb[1] = U16(g);
    p.rgb[2] = U16(b);
    p.rgb[3] = U16(n);
    p.intensity = U16(i);
  };
}
Set direction(int d) {
  return [=](LASpoint& p) { p.scan_direction_flag = U8(d); };
}
Set edge(int e) {
  return [=](LASpoint& p) { p.edge_of_flight_line = U8(e); };
}
Set channel(int c) {
  return [=](LASpoint& p) { p.extended_scanner_channel = U8(c); };
}
Set flags(int synthetic, int keypoint, int withheld, int overlap) {
  return [=](LASpoint& p) {
    p.synthetic_flag = U8(synthetic);
    p.keypoint_flag = U8(keypoint);
    p.withheld_flag = U8(withheld);
    p.set_overlap_flag(overlap != 0);
  };
}
Set wave(int w) {
  return [=](LASpoint& p) { p.wave_packet[0] = U8(w); };
}
// Attribute 0 is a double, attribute 1 a byte.
Set attr(double a0) {
  return [=](LASpoint& p) { memcpy(p.extra_bytes.data(), &a0, 8); };
}
Set no_attributes() {
  return [=](LASpoint& p) { p.attribute_set = nullptr; };
}

struct Case {
  const char* options;
  std::vector<Set> points;
  const char* kept;          // '1' kept, '0' dropped, per point
  const char* command = "";  // expected option text when not empty
};

// Points whose (return number, number of returns) are, in this order:
// (1,1) (1,2) (2,2) (1,3) (2,3) (3,3) (0,1) (4,3) (4,5).
const std::vector<Set> kReturns = {rn(1, 1), rn(1, 2), rn(2, 2), rn(1, 3), rn(2, 3),
                                   rn(3, 3), rn(0, 1), rn(4, 3), rn(4, 5)};

class Fixture {
 public:
  Fixture() {
    so_.x_scale_factor = so_.y_scale_factor = so_.z_scale_factor = 0.25;
    attributes_.add_attribute(LASextraAttribute(10, "height", "a double"));
    attributes_.add_attribute(LASextraAttribute(1, "class", "a byte"));
    EXPECT_TRUE(point_.init_layout(&so_, 3, 34 + 9, &attributes_));
  }

  // The decisions of a filter over the points, as a string of '1' (kept).
  std::string run(LASfilter& filter, const std::vector<Set>& points) {
    std::string kept;
    for (const Set& set : points) {
      point_.clear_values();
      point_.has_gps_time = true;
      point_.attribute_set = &attributes_;
      set(point_);
      kept += filter.filter(&point_) ? '0' : '1';
    }
    return kept;
  }

 private:
  LASscaleOffset so_;
  LASattributeSet attributes_;
  LASpoint point_;
};

void check_cases(const std::vector<Case>& cases) {
  Fixture fixture;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    LASfilter filter;
    ASSERT_TRUE(filter.parse(c.options));
    ASSERT_TRUE(filter.active());
    EXPECT_EQ(fixture.run(filter, c.points), c.kept);
    const std::string command = filter.get_command();
    if (c.command[0] != '\0') {
      EXPECT_EQ(command, c.command);
    }
    ASSERT_FALSE(command.empty());
    EXPECT_EQ(command.back(), ' ');
    LASfilter rebuilt;
    ASSERT_TRUE(rebuilt.parse(command)) << command;
    EXPECT_EQ(fixture.run(rebuilt, c.points), c.kept) << command;
    EXPECT_EQ(rebuilt.get_command(), command);
  }
}

TEST(Criteria, ScaledCoordinatesAreHalfOpen) {
  const std::vector<Set> along_x = {xyz(9.75, 0), xyz(10, 0), xyz(19.75, 0), xyz(20, 0)};
  const std::vector<Set> along_y = {xyz(0, 9.75), xyz(0, 10), xyz(0, 19.75), xyz(0, 20)};
  const std::vector<Set> along_z = {xyz(0, 0, 9.75), xyz(0, 0, 10), xyz(0, 0, 19.75),
                                    xyz(0, 0, 20)};
  const std::vector<Set> square = {xyz(0, 0), xyz(9.75, 9.75), xyz(10, 5), xyz(5, 10),
                                   xyz(-0.25, 5)};
  const std::vector<Set> box = {xyz(0, 0, 0), xyz(9.75, 9.75, 9.75), xyz(5, 5, 10),
                                xyz(5, 5, -0.25), xyz(10, 5, 5)};
  check_cases({
      {"-keep_x 10 20", along_x, "0110", "-keep_x 10.000000 20.000000 "},
      {"-drop_x 10 20", along_x, "1001"},
      {"-drop_x_below 10", along_x, "0111"},
      {"-drop_x_above 20", along_x, "1110"},
      {"-keep_y 10 20", along_y, "0110"},
      {"-drop_y 10 20", along_y, "1001"},
      {"-drop_y_below 10", along_y, "0111"},
      {"-drop_y_above 20", along_y, "1110"},
      {"-keep_z 10 20", along_z, "0110"},
      {"-drop_z 10 20", along_z, "1001"},
      {"-drop_z_below 10", along_z, "0111"},
      {"-drop_z_above 20", along_z, "1110"},
      {"-keep_z_above 10", along_z, "0111", "-drop_z_below 10.000000 "},
      {"-keep_z_below 20", along_z, "1110", "-drop_z_above 20.000000 "},
      {"-keep_x 20 10", along_x, "0000"},  // not swapped
      {"-keep_xy 0 0 10 10", square, "11000"},
      {"-drop_xy 0 0 10 10", square, "00111"},
      {"-keep_xyz 0 0 0 10 10 10", box, "11000"},
      {"-drop_xyz 0 0 0 10 10 10", box, "00111"},
      {"-keep_tile 0 0 1000",
       {xyz(999.75, 0), xyz(1000, 0), xyz(0, -0.25), xyz(0, 999.75), xyz(0, 1000)},
       "10010",
       "-keep_tile 0 0 1000 "},
      // (3, 4) lies exactly on the circle and is dropped.
      {"-keep_circle 0 0 5", {xyz(3, 4), xyz(3, 3.75), xyz(0, 0), xyz(-3, -4)}, "0110"},
      // A bound that "%lf" would round to 0.25 is written in full.
      {"-keep_x 0.250000000001 1e300", {xyz(0.25, 0), xyz(0.5, 0)}, "01"},
  });
}

TEST(Criteria, RawCoordinatesAreHalfOpen) {
  const std::vector<Set> along_X = {XYZ(9, 0, 0), XYZ(10, 0, 0), XYZ(19, 0, 0), XYZ(20, 0, 0)};
  const std::vector<Set> along_Y = {XYZ(0, 9, 0), XYZ(0, 10, 0), XYZ(0, 19, 0), XYZ(0, 20, 0)};
  const std::vector<Set> along_Z = {XYZ(0, 0, 9), XYZ(0, 0, 10), XYZ(0, 0, 19), XYZ(0, 0, 20)};
  check_cases({
      {"-keep_X 10 20", along_X, "0110", "-keep_X 10 20 "},
      {"-drop_X 10 20", along_X, "1001"},
      {"-drop_X_below 10", along_X, "0111"},
      {"-drop_X_above 20", along_X, "1110"},
      {"-keep_Y 10 20", along_Y, "0110"},
      {"-drop_Y 10 20", along_Y, "1001"},
      {"-drop_Y_below 10", along_Y, "0111"},
      {"-drop_Y_above 20", along_Y, "1110"},
      {"-keep_Z 10 20", along_Z, "0110"},
      {"-drop_Z 10 20", along_Z, "1001"},
      {"-drop_Z_below 10", along_Z, "0111"},
      {"-drop_Z_above 20", along_Z, "1110"},
      {"-keep_Z_above 10", along_Z, "0111", "-drop_Z_below 10 "},
      {"-keep_Z_below 20", along_Z, "1110", "-drop_Z_above 20 "},
      {"-keep_XY 0 0 10 10",
       {XYZ(0, 0, 0), XYZ(9, 9, 0), XYZ(10, 5, 0), XYZ(5, 10, 0), XYZ(-1, 5, 0)},
       "11000",
       "-keep_XY 0 0 10 10 "},
  });
}

TEST(Criteria, ReturnNumbering) {
  check_cases({
      {"-keep_first", kReturns, "110100100", "-keep_first "},
      {"-first_only", kReturns, "110100100", "-keep_first "},
      {"-keep_first_of_many", kReturns, "010100000"},
      {"-keep_middle", kReturns, "000010101"},
      {"-keep_last", kReturns, "101001010"},
      {"-last_only", kReturns, "101001010", "-keep_last "},
      {"-keep_last_of_many", kReturns, "001001010"},
      {"-keep_second_last", kReturns, "010010001"},
      {"-drop_first", kReturns, "001011111"},
      {"-drop_first_of_many", kReturns, "101011111"},
      {"-drop_middle", kReturns, "111101110"},
      {"-drop_last", kReturns, "010110101"},
      {"-drop_last_of_many", kReturns, "110110101"},
      {"-drop_second_last", kReturns, "101101110"},
      {"-keep_return 1", kReturns, "110100000", "-keep_return 1 "},
      {"-keep_return 2 4", kReturns, "001010011", "-keep_return 2 4 "},
      {"-keep_return 2 -keep_return 4", kReturns, "001010011", "-keep_return 2 4 "},
      {"-drop_return 1", kReturns, "001011111", "-drop_return 1 "},
      {"-drop_return 1 -drop_return 0", kReturns, "001011011", "-drop_return 0 1 "},
      {"-keep_return_mask 6", kReturns, "111110000", "-keep_return 1 2 "},
      {"-drop_return_mask 1", kReturns, "111111011", "-drop_return 0 "},
      {"-keep_return_mask 0", kReturns, "000000000", "-keep_return_mask 0 "},
      {"-drop_return_mask 0", kReturns, "111111111", "-drop_return_mask 0 "},
      {"-keep_return_mask 2 -keep_return 4", kReturns, "110100011", "-keep_return 1 4 "},
      {"-keep_single", kReturns, "100000100", "-keep_single "},
      {"-keep_double", kReturns, "011000000"},
      {"-keep_triple", kReturns, "000111010"},
      {"-keep_quadruple", kReturns, "000000000"},
      {"-keep_quintuple", kReturns, "000000001"},
      {"-drop_single", kReturns, "011111011"},
      {"-drop_triple", kReturns, "111000101", "-drop_triple "},
      {"-keep_number_of_returns 5", kReturns, "000000001", "-keep_quintuple "},
      {"-keep_number_of_returns 7", {rn(1, 7), rn(1, 6)}, "10", "-keep_number_of_returns 7 "},
      {"-drop_number_of_returns 0", {rn(1, 0), rn(1, 1)}, "01", "-drop_number_of_returns 0 "},
      {"-keep_number_of_returns 4294967295", {rn(1, 7)}, "0"},
  });
}

TEST(Criteria, ScanLineFlagsAndChannel) {
  check_cases({
      {"-drop_scan_direction 1", {direction(0), direction(1)}, "10", "-drop_scan_direction 1 "},
      // The first point only primes the memory; afterwards a point is kept
      // when its direction differs from that of the point before.
      {"-keep_scan_direction_change",
       {direction(0), direction(0), direction(1), direction(1), direction(0)},
       "00101"},
      {"-keep_edge_of_flight_line", {edge(0), edge(1)}, "01"},
      {"-keep_scanner_channel 2", {channel(1), channel(2), channel(3)}, "010"},
      {"-drop_scanner_channel 2", {channel(1), channel(2), channel(3)}, "101"},
  });
}

TEST(Criteria, Intensity) {
  const std::vector<Set> points = {intensity(0),   intensity(349), intensity(350),
                                   intensity(400), intensity(401), intensity(65535)};
  check_cases({
      {"-keep_intensity 350 400", points, "001100", "-keep_intensity 350 400 "},
      {"-keep_intensity 400 350", points, "000000"},  // not swapped
      {"-keep_intensity_below 350", points, "110000"},
      {"-keep_intensity_above 400", points, "000011"},
      {"-drop_intensity_below 350", points, "001111"},
      {"-drop_intensity_above 400", points, "111100"},
      {"-drop_intensity_between 350 400", points, "110011"},
      {"-drop_intensity_below -5", points, "111111"},
  });
}

TEST(Criteria, ClassificationAndFlags) {
  const std::vector<Set> classes = {cls(0), cls(2), cls(6), cls(31)};
  const std::vector<Set> extended = {ext_cls(0), ext_cls(43), ext_cls(200), ext_cls(255)};
  check_cases({
      {"-keep_class 2", classes, "0100", "-keep_class 2 "},
      {"-keep_classification 6 2", classes, "0110", "-keep_class 2 6 "},
      {"-keep_class 2 -keep_class 6", classes, "0110", "-keep_class 2 6 "},
      {"-drop_class 2 6", classes, "1001", "-drop_class 2 6 "},
      {"-drop_classification 2 -drop_class 31", classes, "1010", "-drop_class 2 31 "},
      {"-keep_classification_mask 5", classes, "1100", "-keep_class 0 2 "},
      {"-drop_classification_mask 2147483648", classes, "1110", "-drop_class 31 "},
      // Sets that would write an empty list keep their mask form.
      {"-keep_classification_mask 0", classes, "0000", "-keep_classification_mask 0 "},
      {"-drop_classification_mask 0", classes, "1111", "-drop_classification_mask 0 "},
      // A mask criterion does not merge, so the two intersect; written as
      // lists they would merge on the way back.
      {"-keep_class 2 6 -keep_classification_mask 65", classes, "0010",
       "-keep_class 2 6 -keep_classification_mask 65 "},
      {"-keep_class 2 6 -keep_classification_mask 65 -filter_or", classes, "0010",
       "-keep_class 2 6 -keep_classification_mask 65 -filter_or "},
      {"-keep_extended_class 43 255", extended, "0101",
       "-drop_extended_classification_mask 2147483647 4294967295 4294967295 4294967295 "
       "4294967295 4294967295 4294965247 4294967295 "},
      {"-drop_extended_class 200 -drop_extended_classification 0", extended, "0101"},
      {"-drop_extended_classification_mask 2147483648 0 0 0 0 0 0 1", extended, "0110"},
      {"-keep_synthetic", {flags(0, 0, 0, 0), flags(1, 0, 0, 0)}, "01"},
      {"-drop_synthetic", {flags(0, 0, 0, 0), flags(1, 0, 0, 0)}, "10"},
      {"-keep_keypoint", {flags(0, 0, 0, 0), flags(0, 1, 0, 0)}, "01"},
      {"-drop_keypoint", {flags(0, 0, 0, 0), flags(0, 1, 0, 0)}, "10"},
      {"-keep_withheld", {flags(0, 0, 0, 0), flags(0, 0, 1, 0)}, "01"},
      {"-drop_withheld", {flags(0, 0, 0, 0), flags(0, 0, 1, 0)}, "10", "-drop_withheld "},
      {"-keep_overlap", {flags(0, 0, 0, 0), flags(0, 0, 0, 1), flags(1, 1, 1, 0)}, "010"},
      {"-drop_overlap", {flags(0, 0, 0, 0), flags(0, 0, 0, 1), flags(1, 1, 1, 0)}, "101"},
  });
}

TEST(Criteria, UserData) {
  const std::vector<Set> points = {user(0), user(9), user(10), user(20), user(21), user(255)};
  check_cases({
      {"-keep_user_data 10", points, "001000", "-keep_user_data 10 "},
      {"-keep_user_data 266", points, "001000", "-keep_user_data 10 "},  // low eight bits
      {"-keep_user_data_below 10", points, "110000"},
      {"-keep_user_data_above 20", points, "000011"},
      {"-keep_user_data_between 10 20", points, "001100"},
      {"-drop_user_data 10 20", points, "110011", "-drop_user_data 10 -drop_user_data 20 "},
      {"-drop_user_data_below 10", points, "001111"},
      {"-drop_user_data_above 20", points, "111100"},
      {"-drop_user_data_between 10 20", points, "110011"},
  });
}

TEST(Criteria, PointSource) {
  const std::vector<Set> points = {source(0), source(1), source(2), source(3), source(65535)};
  check_cases({
      {"-keep_point_source 2", points, "00100", "-keep_point_source 2 "},
      {"-keep_point_source 1 2 3", points, "01110",
       "-keep_point_source 1 -keep_point_source 2 -filter_and -keep_point_source 3 "
       "-filter_and "},
      {"-keep_point_source_between 1 2", points, "01100"},
      {"-drop_point_source 1 3", points, "10101"},
      {"-drop_point_source_below 2", points, "00111"},
      {"-drop_point_source_above 2", points, "11100"},
      {"-drop_point_source_between 1 2", points, "10011"},
      {"-drop_point_source_between 65535 65535", points, "11110"},
  });
}

TEST(Criteria, ScanAngle) {
  const std::vector<Set> points = {angle(-128), angle(-16), angle(-15), angle(0),
                                   angle(15),   angle(16),  angle(127)};
  check_cases({
      {"-keep_scan_angle -15 15", points, "0011100", "-keep_scan_angle -15 15 "},
      {"-keep_scan_angle 15 -15", points, "0011100", "-keep_scan_angle -15 15 "},
      {"-keep_scan_angle_between -15 15", points, "0011100"},
      {"-drop_abs_scan_angle_above 15", points, "0011100", "-keep_scan_angle -15 15 "},
      {"-drop_abs_scan_angle_above -15", points, "0011100"},
      {"-drop_abs_scan_angle_below 1", points, "1110111", "-drop_scan_angle_between 0 0 "},
      {"-drop_abs_scan_angle_below 16", points, "1100011"},
      {"-drop_scan_angle_below -15", points, "0011111"},
      {"-drop_scan_angle_above 15", points, "1111100"},
      {"-drop_scan_angle_between 15 -15", points, "1100011"},
      // Extreme limits do not overflow when negated.
      {"-drop_abs_scan_angle_above -2147483648", points, "1111111"},
      {"-drop_abs_scan_angle_below -2147483648", points, "0000000"},
  });
}

TEST(Criteria, GpsTimeIgnoresPointsWithoutIt) {
  const std::vector<Set> points = {no_gps(5), gps(9.5), gps(10), gps(20), gps(20.5)};
  check_cases({
      {"-keep_gps_time 10 20", points, "10110", "-keep_gps_time 10.000000 20.000000 "},
      {"-keep_gpstime 10 20", points, "10110", "-keep_gps_time 10.000000 20.000000 "},
      {"-keep_gps_time_between 10 20", points, "10110"},
      {"-keep_gpstime_between 20 10", points, "10000"},  // not swapped
      {"-keep_gps_time_above 10", points, "10111", "-drop_gps_time_below 10.000000 "},
      {"-keep_gps_time_below 20", points, "11110", "-drop_gps_time_above 20.000000 "},
      {"-drop_gps_time_below 10", points, "10111"},
      {"-drop_gpstime_above 20", points, "11110"},
      {"-drop_gps_time_between 10 20", points, "11001"},
      {"-keep_gps_time 1e9 1e9", {gps(1e9), gps(1e9 + 1e-6)}, "10"},
      {"-keep_gps_time 0 1", {gps(std::nan(""))}, "1"},
  });
}

TEST(Criteria, ColourAndNdvi) {
  // red, green, blue, near infrared, intensity
  const std::vector<Set> points = {colour(10, 20, 30, 40, 30), colour(0, 0, 0, 0),
                                   colour(100, 200, 50, 300)};
  check_cases({
      {"-keep_RGB_red 10 100", points, "101", "-keep_RGB_red 10 100 "},
      {"-keep_RGB_red 100 10", points, "101", "-keep_RGB_red 10 100 "},
      {"-drop_RGB_green 20 200", points, "010", "-drop_RGB_green 20 200 "},
      {"-keep_RGB_blue 0 30", points, "110"},
      {"-keep_RGB_nir 40 40", points, "100", "-keep_RGB_nir 40 40 "},
      {"-drop_RGB_blue 50 50", points, "110"},
      {"-drop_RGB_nir 0 0", points, "101"},
      {"-keep_RGB_greenness 1 250", points, "001"},
      {"-keep_RGB_greenness 0 250", points, "111"},
      // NDVI: 0.6, no number (passes), 0.5
      {"-keep_NDVI 0.55 1", points, "110", "-keep_NDVI 0.55 1 "},
      {"-keep_NDVI 1 0.55", points, "110", "-keep_NDVI 0.55 1 "},
      {"-keep_NDVI_green_is_NIR 0.4 1", points, "010", "-keep_NDVI_green_is_NIR 0.4 1 "},
      {"-keep_NDVI_blue_is_NIR 0.4 1", points, "110", "-keep_NDVI_blue_is_NIR 0.4 1 "},
      {"-keep_NDVI_from_CIR -1 -0.4", points, "010"},
      {"-keep_NDVI_intensity_is_NIR 0 1", points, "110"},
      // Written with enough digits to read back the same single-precision bound.
      {"-keep_NDVI 0.123456789 1", {colour(10, 0, 0, 0)}, "0"},
  });
}

TEST(Criteria, WavepacketAndAttributes) {
  const std::vector<Set> waves = {wave(0), wave(1), wave(255)};
  const std::vector<Set> attrs = {attr(0.5), attr(1.0), attr(1.5), attr(5.0)};
  check_cases({
      {"-keep_wavepacket 1", waves, "010", "-keep_wavepacket 1 "},
      {"-drop_wavepacket 255", waves, "110"},
      {"-keep_wavepacket abc", waves, "100", "-keep_wavepacket 0 "},
      {"-keep_wavepacket -1", waves, "000", "-keep_wavepacket 4294967295 "},
      {"-keep_attribute_below 0 1.5", attrs, "1100", "-keep_attribute_below 0 1.500000 "},
      {"-keep_attribute_above 0 1.0", attrs, "0011"},
      {"-keep_attribute_between 0 1.0 1.5", attrs, "0110"},
      {"-drop_attribute_below 0 1.0", attrs, "0111"},
      {"-drop_attribute_above 0 1.5", attrs, "1110"},
      {"-drop_attribute_between 0 1.0 1.5", attrs, "1001"},
      // Missing attributes read as 0.
      {"-keep_attribute_below 5 1.0", attrs, "1111"},
      {"-keep_attribute_above 0 0.25", {attr(5.0), no_attributes()}, "10"},
      {"-keep_attribute_above -1 -0.5", attrs, "1111",
       "-keep_attribute_above 4294967295 -0.500000 "},
  });
}

TEST(Criteria, EveryNth) {
  const std::vector<Set> five(5, cls(0));
  check_cases({
      {"-keep_every_nth 2", five, "01010", "-keep_every_nth 2 "},
      {"-drop_every_nth 2", five, "10101"},
      {"-keep_every_nth 1", five, "11111"},
      {"-drop_every_nth 3", five, "11011"},
  });
}

TEST(Criteria, Combinations) {
  const std::vector<Set> points = {cls(2), cls(3), cls(6)};
  check_cases({
      // "and" drops when both drop, "or" when either does.
      {"-drop_class 2 3 -drop_z_below 1 -filter_and", points, "001"},
      {"-keep_class 2 3 -keep_classification_mask 72 -filter_or", points, "010",
       "-keep_class 2 3 -keep_classification_mask 72 -filter_or "},
      {"-keep_class 2 -drop_z_below 0 -keep_class 3 -filter_or -filter_and", points, "110",
       "-keep_class 2 -drop_z_below 0.000000 -keep_class 3 -filter_or -filter_and "},
  });
}

}  // namespace
