#include "las/transform/lastransform.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "las/core/lasattribute.hpp"
#include "las/core/option_text.hpp"
#include "las/filter/lasfilter.hpp"
#include "tests/support/test_data.hpp"

namespace {

// A point of type 3 (legacy, GPS time, RGB) or 10 (extended) with three
// extra-bytes attributes: 0 = I16 with scale 0.1 and offset 100, 1 = U8,
// 2 = F64.
struct Fixture {
  LASscaleOffset scale_offset;
  LASattributeSet attributes;
  LASpoint point;

  explicit Fixture(int type = 3) {
    LASextraAttribute a0(4, "scaled", "");
    a0.set_scale(0.1);
    a0.set_offset(100.0);
    attributes.add_attribute(a0);
    attributes.add_attribute(LASextraAttribute(1, "byte", ""));
    attributes.add_attribute(LASextraAttribute(10, "double", ""));
    EXPECT_TRUE(point.init_layout(&scale_offset, U8(type), U16(base_point_size(U8(type)) + 11),
                                  &attributes));
    LASpoint& p = point;
    p.X = 1000;  // x = 10
    p.Y = 2000;  // y = 20
    p.Z = 300;   // z = 3
    p.intensity = 100;
    p.return_number = 1;
    p.number_of_returns = 2;
    p.classification = 2;
    p.extended_classification = 2;
    p.extended_return_number = 1;
    p.extended_number_of_returns = 2;
    p.scan_angle_rank = 10;
    p.extended_scan_angle = 1667;
    p.user_data = 5;
    p.point_source_ID = 7;
    p.gps_time = 1000.5;
    p.rgb[0] = 100;
    p.rgb[1] = 200;
    p.rgb[2] = 300;
    p.rgb[3] = 400;
    set_i16(-5);  // 99.5
    p.extra_bytes[2] = 7;
    set_f64(123.45);
  }
  void set_i16(I16 v) { memcpy(point.extra_bytes.data(), &v, 2); }
  void set_f64(F64 v) { memcpy(point.extra_bytes.data() + 3, &v, 8); }
  I16 get_i16() const {
    I16 v;
    memcpy(&v, point.extra_bytes.data(), 2);
    return v;
  }
  F64 get_f64() const {
    F64 v;
    memcpy(&v, point.extra_bytes.data() + 3, 8);
    return v;
  }
};

// Every value a transform may change, so that two points can be compared.
std::string describe(const LASpoint& p) {
  std::string s;
  append_format(s,
                "X%d Y%d Z%d I%u r%u n%u sd%u e%u c%u s%u k%u w%u a%d u%u p%u ea%d ch%u f%u ec%u "
                "er%u en%u t%.17g",
                p.X, p.Y, p.Z, p.intensity, p.return_number, p.number_of_returns,
                p.scan_direction_flag, p.edge_of_flight_line, p.classification, p.synthetic_flag,
                p.keypoint_flag, p.withheld_flag, p.scan_angle_rank, p.user_data, p.point_source_ID,
                p.extended_scan_angle, p.extended_scanner_channel, p.extended_classification_flags,
                p.extended_classification, p.extended_return_number, p.extended_number_of_returns,
                p.gps_time);
  append_format(s, " rgb%u,%u,%u,%u", p.rgb[0], p.rgb[1], p.rgb[2], p.rgb[3]);
  s += " wave";
  for (U8 b : p.wave_packet) append_format(s, "%02x", b);
  s += " extra";
  for (U8 b : p.extra_bytes) append_format(s, "%02x", b);
  return s;
}

void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

struct Case {
  Case(std::string command_text, int point_type, std::function<void(Fixture&)> set_up,
       std::function<void(const Fixture&)> checks, std::string written_text = "")
      : command(std::move(command_text)),
        type(point_type),
        setup(std::move(set_up)),
        check(std::move(checks)),
        written(std::move(written_text)) {}
  std::string command;
  int type;
  std::function<void(Fixture&)> setup;
  std::function<void(const Fixture&)> check;
  std::string written;  // expected command text; empty: as given, "*": not checked
};

std::string with_blank(const std::string& text) {
  return text + " ";
}

// Applies each case, checks it, then rebuilds the transform from its own
// command text and checks that the rebuilt one writes the same text and
// does the same to a fresh point.
// Returns what parsing the cases printed.
std::string run_cases(const std::vector<Case>& cases) {
  std::string printed;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    LAStransform transform;
    testing::internal::CaptureStderr();
    const bool parsed = transform.parse(c.command);
    const std::string err = testing::internal::GetCapturedStderr();
    printed += err;
    EXPECT_TRUE(parsed) << err;
    if (!parsed) continue;
    EXPECT_TRUE(transform.active());
    Fixture f(c.type);
    if (c.setup) c.setup(f);
    transform.transform(&f.point);
    c.check(f);

    const std::string text = transform.get_command();
    if (c.written != "*") {
      EXPECT_EQ(text, c.written.empty() ? with_blank(c.command) : c.written);
    }
    LAStransform rebuilt;
    testing::internal::CaptureStderr();
    const bool reparsed = rebuilt.parse(text);
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(reparsed);
    EXPECT_EQ(rebuilt.get_command(), text);
    Fixture again(c.type);
    if (c.setup) c.setup(again);
    rebuilt.transform(&again.point);
    EXPECT_EQ(describe(again.point), describe(f.point));
  }
  return printed;
}

TEST(LAStransformOperations, Coordinates) {
  const std::vector<Case> cases = {
      {"-translate_x 1.000000", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.X, 1100); }},
      {"-translate_y -0.500000", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.Y, 1950); }},
      {"-translate_z 0.010000", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.Z, 301); }},
      {"-translate_xyz 1.000000 2.000000 3.000000", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.X, 1100);
         EXPECT_EQ(f.point.Y, 2200);
         EXPECT_EQ(f.point.Z, 600);
       }},
      // Full precision where six decimals would change the value.
      {"-translate_x 0.12345678901234567", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.X, 1012); }, "*"},
      {"-scale_x 2.000000", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.X, 2000); }},
      {"-scale_y 0.500000", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.Y, 1000); }},
      {"-scale_z 3.000000", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.Z, 900); }},
      {"-scale_xyz 2.000000 3.000000 4.000000", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.X, 2000);
         EXPECT_EQ(f.point.Y, 6000);
         EXPECT_EQ(f.point.Z, 1200);
       }},
      {"-translate_then_scale_x 1.000000 2.000000", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.X, 2200); }},
      {"-translate_then_scale_y 0.000000 -1.000000", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.Y, -2000); }},
      {"-translate_then_scale_z -3.000000 5.000000", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.Z, 0); }},
      // A quarter turn counter-clockwise maps (1, 0) to (0, 1).
      {"-rotate_xy 90.000000 0.000000 0.000000", 3,
       [](Fixture& f) {
         f.point.X = 100;
         f.point.Y = 0;
       },
       [](const Fixture& f) {
         EXPECT_EQ(f.point.X, 0);
         EXPECT_EQ(f.point.Y, 100);
       }},
      {"-rotate_xy 90.000000 10.000000 20.000000", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.X, 1000);
         EXPECT_EQ(f.point.Y, 2000);
       }},
      {"-rotate_xz 90.000000 0.000000 0.000000", 3,
       [](Fixture& f) {
         f.point.X = 100;
         f.point.Z = 0;
       },
       [](const Fixture& f) {
         EXPECT_EQ(f.point.X, 0);
         EXPECT_EQ(f.point.Z, 100);
       }},
      {"-rotate_yz 180.000000 0.000000 0.000000", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.Y, -2000);
         EXPECT_EQ(f.point.Z, -300);
       }},
      // Three Helmert parameters are a translation and write themselves so.
      {"-transform_helmert 1,2,3", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.X, 1100);
         EXPECT_EQ(f.point.Y, 2200);
         EXPECT_EQ(f.point.Z, 600);
       },
       "-translate_xyz 1.000000 2.000000 3.000000 "},
      // Seven: a scale of +1e6 ppm doubles, then the shift is added.
      {"-transform_helmert 1.000000,0.000000,0.000000,0.000000,0.000000,0.000000,1000000.000000", 3,
       nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.X, 2100);
         EXPECT_EQ(f.point.Y, 4000);
         EXPECT_EQ(f.point.Z, 600);
       }},
      // rx of one radian (in arc seconds) moves y into z: z' = rx * y + z.
      {"-transform_helmert "
       "0.000000,0.000000,0.000000,206264.80624709636,0.000000,0.000000,0.000000",
       3,
       [](Fixture& f) {
         f.point.X = 0;
         f.point.Y = 100;
         f.point.Z = 0;
       },
       [](const Fixture& f) {
         EXPECT_EQ(f.point.X, 0);
         EXPECT_EQ(f.point.Y, 100);
         EXPECT_EQ(f.point.Z, 100);
       }},
      {"-transform_affine 2.000000,0.000000,1.000000,2.000000", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.X, 2100);
         EXPECT_EQ(f.point.Y, 4200);
       }},
      // 324000 arc seconds are a quarter turn, clockwise here.
      {"-transform_affine 1.000000,324000.000000,0.000000,0.000000", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.X, 2000);
         EXPECT_EQ(f.point.Y, -1000);
       }},
      {"-clamp_z 4.000000 5.000000", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.Z, 400); }},
      {"-clamp_z 1.000000 2.000000", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.Z, 200); }},
      {"-clamp_z 1.000000 5.000000", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.Z, 300); }},
      {"-clamp_z_below 3.500000", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.Z, 350); }},
      {"-clamp_z_above 2.500000", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.Z, 250); }},
      {"-copy_intensity_into_z", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.Z, 10000); }},
      {"-copy_user_data_into_z", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.Z, 500); }},
      {"-switch_x_y", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.X, 2000);
         EXPECT_EQ(f.point.Y, 1000);
       }},
      {"-switch_x_z", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.X, 300);
         EXPECT_EQ(f.point.Z, 1000);
       }},
      {"-switch_y_z", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.Y, 300);
         EXPECT_EQ(f.point.Z, 2000);
       }},
  };
  run_cases(cases);
}

TEST(LAStransformOperations, RawIntegers) {
  const std::vector<Case> cases = {
      {"-translate_raw_x 5", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.X, 1005); }},
      {"-translate_raw_y -5", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.Y, 1995); }},
      {"-translate_raw_z 7", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.Z, 307); }},
      // Raw arithmetic wraps in 32 bits.
      {"-translate_raw_x 1", 3, [](Fixture& f) { f.point.X = I32_MAX; },
       [](const Fixture& f) { EXPECT_EQ(f.point.X, I32_MIN); }},
      {"-translate_raw_xyz 1 2 3", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.X, 1001);
         EXPECT_EQ(f.point.Y, 2002);
         EXPECT_EQ(f.point.Z, 303);
       }},
      {"-clamp_raw_z 0 100", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.Z, 100); }},
      {"-clamp_raw_z 400 500", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.Z, 400); }},
      {"-translate_raw_xy_at_random 2 3", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_LE(std::abs(f.point.X - 1000), 2);
         EXPECT_LE(std::abs(f.point.Y - 2000), 3);
       }},
      // The largest and smallest maxima need 64-bit ranges.
      {"-translate_raw_xy_at_random 2147483647 -2147483648", 3, nullptr,
       [](const Fixture& f) {
         // r / 8 and r / 64 are below 4096, so the offsets are that minus the maximum.
         EXPECT_NE(f.point.X, 1000);
         EXPECT_NE(f.point.Y, 2000);
       }},
  };
  run_cases(cases);
}

TEST(LAStransformOperations, IntensityAndScanAngle) {
  const std::vector<Case> cases = {
      {"-set_intensity 65535", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 65535); }},
      {"-scale_intensity 2", 3, [](Fixture& f) { f.point.intensity = 40000; },
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 65535); }},
      {"-scale_intensity 0.1", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 10); }},
      {"-translate_intensity -50", 3, [](Fixture& f) { f.point.intensity = 20; },
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 0); }},
      {"-translate_then_scale_intensity 10 0.5", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 55); }},
      {"-clamp_intensity 150 200", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 150); }},
      {"-clamp_intensity 10 50", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 50); }},
      {"-clamp_intensity_below 101", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 101); }},
      {"-clamp_intensity_above 99", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 99); }},
      // 0.2989 * 100 + 0.587 * 200 + 0.114 * 300 = 181.49
      {"-copy_RGB_into_intensity", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 181); }},
      {"-copy_R_into_intensity", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 100); }},
      {"-copy_G_into_intensity", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 200); }},
      {"-copy_B_into_intensity", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 300); }},
      {"-copy_NIR_into_intensity", 10, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 400); }},
      // 1000.5 / 2 = 500.25
      {"-bin_gps_time_into_intensity 2.000000", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 500); }},
      {"-bin_gps_time_into_intensity 1.000000", 3, [](Fixture& f) { f.point.gps_time = 65536.5; },
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 1); }},
      {"-set_scan_angle -12.4", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.scan_angle_rank, -12); }},
      {"-set_scan_angle -180", 10, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.extended_scan_angle, -30000); }},
      // Beyond the 8-bit rank the value is clamped (with a warning), not wrapped.
      {"-set_scan_angle 150", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.scan_angle_rank, 127); }},
      {"-set_scan_angle 150", 10, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.extended_scan_angle, 25000); }},
      {"-scale_scan_angle 2", 3, [](Fixture& f) { f.point.scan_angle_rank = 100; },
       [](const Fixture& f) { EXPECT_EQ(f.point.scan_angle_rank, 127); }},
      {"-scale_scan_angle 2", 3, [](Fixture& f) { f.point.scan_angle_rank = -100; },
       [](const Fixture& f) { EXPECT_EQ(f.point.scan_angle_rank, -128); }},
      {"-scale_scan_angle 0.25", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.scan_angle_rank, 3); }},
      {"-translate_scan_angle -15", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.scan_angle_rank, -5); }},
      {"-translate_then_scale_scan_angle -0.5 2.1", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.scan_angle_rank, 20); }},
      // Extended points keep their finer angle in step: 1667 units are 10.002 degrees.
      {"-scale_scan_angle 2", 10, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.scan_angle_rank, 20);
         EXPECT_EQ(f.point.extended_scan_angle, 3334);
       }},
      {"-translate_scan_angle -15", 10, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.extended_scan_angle, 1667 - 2500); }},
      {"-scale_scan_angle 1000", 10, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.extended_scan_angle, 32767); }},
  };
  const std::string printed = run_cases(cases);
  EXPECT_NE(printed.find("WARNING: scan angle 150 does not fit the scan angle rank of points "
                         "without extended scan angle and is clamped to 127 for them\n"),
            std::string::npos)
      << printed;
}

TEST(LAStransformOperations, ReturnsFlagsAndClassification) {
  const std::vector<Case> cases = {
      {"-repair_zero_returns", 3,
       [](Fixture& f) {
         f.point.return_number = 0;
         f.point.number_of_returns = 0;
       },
       [](const Fixture& f) {
         EXPECT_EQ(f.point.return_number, 1);
         EXPECT_EQ(f.point.number_of_returns, 1);
       }},
      {"-repair_zero_returns", 3,
       [](Fixture& f) {
         f.point.return_number = 2;
         f.point.number_of_returns = 0;
       },
       [](const Fixture& f) {
         EXPECT_EQ(f.point.return_number, 2);
         EXPECT_EQ(f.point.number_of_returns, 1);
       }},
      {"-set_return_number 7", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.return_number, 7); }},
      {"-set_number_of_returns 0", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.number_of_returns, 0); }},
      {"-set_extended_return_number 15", 10, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.extended_return_number, 15); }},
      {"-set_extended_number_of_returns 12", 10, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.extended_number_of_returns, 12); }},
      {"-change_return_number_from_to 1 3", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.return_number, 3); }},
      {"-change_return_number_from_to 2 3", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.return_number, 1); }},
      {"-change_number_of_returns_from_to 2 5", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.number_of_returns, 5); }},
      {"-change_extended_return_number_from_to 1 9", 10, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.extended_return_number, 9); }},
      {"-change_extended_number_of_returns_from_to 2 14", 10, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.extended_number_of_returns, 14); }},
      // Class 32 and above: extended only, legacy 0.
      {"-set_classification 41", 10, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.extended_classification, 41);
         EXPECT_EQ(f.point.classification, 0);
       }},
      {"-set_classification 6", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.extended_classification, 6);
         EXPECT_EQ(f.point.classification, 6);
       }},
      {"-set_extended_classification 32", 10, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.extended_classification, 32);
         EXPECT_EQ(f.point.classification, 0);
       },
       "-set_classification 32 "},
      {"-change_classification_from_to 2 41", 10, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.extended_classification, 41);
         EXPECT_EQ(f.point.classification, 0);
       }},
      // From 32 and above the extended classification is compared.
      {"-change_extended_classification_from_to 41 3", 10,
       [](Fixture& f) {
         f.point.classification = 0;
         f.point.extended_classification = 41;
       },
       [](const Fixture& f) {
         EXPECT_EQ(f.point.extended_classification, 3);
         EXPECT_EQ(f.point.classification, 3);
       },
       "-change_classification_from_to 41 3 "},
      // A class-41 point has legacy class 0 but is no class-0 point.
      {"-change_classification_from_to 0 5", 10,
       [](Fixture& f) {
         f.point.classification = 0;
         f.point.extended_classification = 41;
       },
       [](const Fixture& f) {
         EXPECT_EQ(f.point.extended_classification, 41);
         EXPECT_EQ(f.point.classification, 0);
       }},
      {"-change_classification_from_to 0 5", 3,
       [](Fixture& f) {
         f.point.classification = 0;
         f.point.extended_classification = 0;
       },
       [](const Fixture& f) { EXPECT_EQ(f.point.classification, 5); }},
      {"-classify_z_below_as 3.500000 7", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.classification, 7); }},
      {"-classify_z_below_as 3.000000 7", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.classification, 2); }},
      {"-classify_z_above_as 2.000000 40", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.classification, 0);
         EXPECT_EQ(f.point.extended_classification, 40);
       }},
      // Both ends of a range are inside.
      {"-classify_z_between_as 3.000000 4.000000 9", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.classification, 9); }},
      {"-classify_z_between_as 1.000000 3.000000 9", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.classification, 9); }},
      {"-classify_z_between_as 3.010000 4.000000 9", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.classification, 2); }},
      {"-classify_intensity_below_as 101 11", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.classification, 11); }},
      {"-classify_intensity_above_as 100 11", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.classification, 2); }},
      {"-classify_intensity_between_as 100 100 12", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.classification, 12); }},
      {"-move_ancient_to_extended_classification", 10,
       [](Fixture& f) {
         f.point.withheld_flag = 1;
         f.point.extended_classification_flags = 8 | 4;  // overlap and withheld
       },
       [](const Fixture& f) {
         EXPECT_EQ(f.point.extended_classification, 130);
         EXPECT_EQ(f.point.classification, 0);
         EXPECT_EQ(f.point.withheld_flag, 0);
         EXPECT_EQ(f.point.extended_classification_flags, 8);
       }},
      {"-move_ancient_to_extended_classification", 10, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.extended_classification, 2);
         EXPECT_EQ(f.point.classification, 2);
       }},
      {"-copy_user_data_into_classification", 10, [](Fixture& f) { f.point.user_data = 40; },
       [](const Fixture& f) {
         EXPECT_EQ(f.point.extended_classification, 40);
         EXPECT_EQ(f.point.classification, 0);
       }},
      {"-copy_user_data_into_classification", 3, [](Fixture& f) { f.point.user_data = 40; },
       [](const Fixture& f) { EXPECT_EQ(f.point.classification, 2); }},
      {"-copy_user_data_into_classification", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.classification, 5); }},
      {"-copy_intensity_into_classification", 3, [](Fixture& f) { f.point.intensity = 17; },
       [](const Fixture& f) { EXPECT_EQ(f.point.classification, 17); }},
      // An intensity of 256 is not class 0.
      {"-copy_intensity_into_classification", 3, [](Fixture& f) { f.point.intensity = 256; },
       [](const Fixture& f) { EXPECT_EQ(f.point.classification, 2); }},
      {"-set_withheld_flag 1", 10, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.withheld_flag, 1);
         EXPECT_EQ(f.point.extended_classification_flags, 4);
       }},
      {"-set_synthetic_flag 0", 10,
       [](Fixture& f) {
         f.point.synthetic_flag = 1;
         f.point.extended_classification_flags = 15;
       },
       [](const Fixture& f) {
         EXPECT_EQ(f.point.synthetic_flag, 0);
         EXPECT_EQ(f.point.extended_classification_flags, 14);
       }},
      {"-set_keypoint_flag 1", 10, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.keypoint_flag, 1);
         EXPECT_EQ(f.point.extended_classification_flags, 2);
       }},
      {"-set_overlap_flag 1", 10, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.extended_classification_flags, 8); }},
      {"-set_extended_overlap_flag 1", 10, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.extended_classification_flags, 8); },
       "-set_overlap_flag 1 "},
      {"-set_scan_direction_flag 1", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.scan_direction_flag, 1); }},
      {"-set_edge_of_flight_line 1", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.edge_of_flight_line, 1); }},
      {"-set_scanner_channel 3", 10, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.extended_scanner_channel, 3); }},
      {"-set_extended_scanner_channel 2", 10, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.extended_scanner_channel, 2); },
       "-set_scanner_channel 2 "},
      {"-copy_user_data_into_scanner_channel", 10, [](Fixture& f) { f.point.user_data = 7; },
       [](const Fixture& f) { EXPECT_EQ(f.point.extended_scanner_channel, 3); }},
  };
  run_cases(cases);
}

TEST(LAStransformOperations, UserDataPointSourceAndTime) {
  const std::vector<Case> cases = {
      {"-set_user_data 255", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.user_data, 255); }},
      {"-scale_user_data 100", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.user_data, 255); }},
      {"-scale_user_data 1.5", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.user_data, 7); }},
      {"-change_user_data_from_to 5 9", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.user_data, 9); }},
      {"-copy_classification_into_user_data", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.user_data, 2); }},
      {"-copy_classification_into_user_data", 10,
       [](Fixture& f) {
         f.point.classification = 0;
         f.point.extended_classification = 41;
       },
       [](const Fixture& f) { EXPECT_EQ(f.point.user_data, 41); }},
      {"-copy_scanner_channel_into_user_data", 10,
       [](Fixture& f) { f.point.extended_scanner_channel = 2; },
       [](const Fixture& f) { EXPECT_EQ(f.point.user_data, 2); }},
      {"-set_point_source 500", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 500); }},
      {"-set_point_source_ID 501", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 501); }, "-set_point_source 501 "},
      {"-change_point_source_from_to 7 65535", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 65535); }},
      {"-copy_user_data_into_point_source", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 5); }},
      {"-copy_scanner_channel_into_point_source", 10,
       [](Fixture& f) { f.point.extended_scanner_channel = 3; },
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 3); }},
      {"-copy_classification_into_point_source", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 2); }},
      {"-merge_scanner_channel_into_point_source", 10,
       [](Fixture& f) { f.point.extended_scanner_channel = 2; },
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 30); }},
      {"-merge_scanner_channel_into_point_source", 10,
       [](Fixture& f) {
         f.point.point_source_ID = 65535;
         f.point.extended_scanner_channel = 1;
       },
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 65533); }},
      {"-split_scanner_channel_from_point_source", 10,
       [](Fixture& f) { f.point.point_source_ID = 30; },
       [](const Fixture& f) {
         EXPECT_EQ(f.point.point_source_ID, 7);
         EXPECT_EQ(f.point.extended_scanner_channel, 2);
       }},
      // Binning edges.
      {"-bin_Z_into_point_source 200", 3, [](Fixture& f) { f.point.Z = -5; },
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 0); }},
      {"-bin_Z_into_point_source 200", 3, [](Fixture& f) { f.point.Z = 399; },
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 1); }},
      {"-bin_Z_into_point_source 200", 3, [](Fixture& f) { f.point.Z = 65534 * 200; },
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 65534); }},
      {"-bin_Z_into_point_source 200", 3, [](Fixture& f) { f.point.Z = 65535 * 200 + 1; },
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 65535); }},
      {"-bin_Z_into_point_source 2147483647", 3, [](Fixture& f) { f.point.Z = I32_MAX; },
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 1); }},
      {"-bin_abs_scan_angle_into_point_source 3", 3,
       [](Fixture& f) { f.point.scan_angle_rank = -10; },
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 3); }},
      {"-bin_abs_scan_angle_into_point_source 2", 10,
       [](Fixture& f) { f.point.extended_scan_angle = -5000; },
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 15); }},
      {"-bin_abs_scan_angle_into_point_source 0.001", 3,
       [](Fixture& f) { f.point.scan_angle_rank = -128; },
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 65535); }},
      {"-bin_gps_time_into_point_source 0.500000", 3, [](Fixture& f) { f.point.gps_time = 10.25; },
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 21); }},
      {"-bin_gps_time_into_point_source 0.500000", 3, [](Fixture& f) { f.point.gps_time = -1.25; },
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 65533); }},
      // Far beyond 64 bits the low 16 bits are still exact.
      {"-bin_gps_time_into_point_source 1.000000", 3,
       [](Fixture& f) { f.point.gps_time = 1.2345678901234567e18; },
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 33024); }},
      {"-bin_gps_time_into_point_source 1.000000", 3, [](Fixture& f) { f.point.gps_time = NAN; },
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 0); }},
      {"-set_gps_time 123.456789", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.gps_time, 123.456789); }},
      {"-translate_gps_time -0.500000", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.gps_time, 1000.0); }},
      {"-adjusted_to_week", 3, [](Fixture& f) { f.point.gps_time = 0.0; },
       [](const Fixture& f) { EXPECT_EQ(f.point.gps_time, 265600.0); }},
      // Week 4960 starts beyond 2^31 seconds.
      {"-adjusted_to_week", 3, [](Fixture& f) { f.point.gps_time = 2e9; },
       [](const Fixture& f) { EXPECT_EQ(f.point.gps_time, 192000.0); }},
      {"-adjusted_to_week", 3, [](Fixture& f) { f.point.gps_time = 1e300; },
       [](const Fixture& f) { EXPECT_EQ(f.point.gps_time, 1e300); }},
      {"-week_to_adjusted 1653", 3, [](Fixture& f) { f.point.gps_time = 265600.0; },
       [](const Fixture& f) { EXPECT_EQ(f.point.gps_time, 0.0); }},
      {"-week_to_adjusted 4294967295", 3, [](Fixture& f) { f.point.gps_time = 0.0; },
       [](const Fixture& f) { EXPECT_EQ(f.point.gps_time, 2597595220016000.0); }},
      {"-flip_waveform_direction", 9,
       [](Fixture& f) {
         const F32 v[3] = {1.5f, -2.0f, 0.25f};
         memcpy(f.point.wave_packet + 17, v, 12);
       },
       [](const Fixture& f) {
         F32 v[3];
         memcpy(v, f.point.wave_packet + 17, 12);
         EXPECT_EQ(v[0], -1.5f);
         EXPECT_EQ(v[1], 2.0f);
         EXPECT_EQ(v[2], -0.25f);
       }},
  };
  run_cases(cases);
}

TEST(LAStransformOperations, Colors) {
  const std::vector<Case> cases = {
      {"-set_RGB 1 2 65535", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.rgb[0], 1);
         EXPECT_EQ(f.point.rgb[1], 2);
         EXPECT_EQ(f.point.rgb[2], 65535);
       }},
      {"-set_RGB_of_class 2 1 2 3", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.rgb[2], 3); }},
      {"-set_RGB_of_class 3 1 2 3", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.rgb[2], 300); }},
      {"-set_RGB_of_class 41 1 2 3", 10,
       [](Fixture& f) {
         f.point.classification = 0;
         f.point.extended_classification = 41;
       },
       [](const Fixture& f) { EXPECT_EQ(f.point.rgb[0], 1); }},
      {"-scale_RGB 2 0.5 1000", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.rgb[0], 200);
         EXPECT_EQ(f.point.rgb[1], 100);
         EXPECT_EQ(f.point.rgb[2], 65535);
       }},
      {"-scale_rgb 1 1 0", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.rgb[2], 0); },
       "-scale_RGB 1 1 0 "},
      {"-scale_RGB_down", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.rgb[0], 0);
         EXPECT_EQ(f.point.rgb[2], 1);
       }},
      {"-scale_rgb_up", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.rgb[0], 25600);
         EXPECT_EQ(f.point.rgb[2], U16(300 * 256));
       },
       "-scale_RGB_up "},
      {"-scale_RGB_to_8bit", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.rgb[0], 0);
         EXPECT_EQ(f.point.rgb[1], 0);
         EXPECT_EQ(f.point.rgb[2], 1);
       }},
      {"-scale_RGB_to_8bit", 3,
       [](Fixture& f) {
         f.point.rgb[0] = 300;
         f.point.rgb[1] = f.point.rgb[2] = 10;
       },
       [](const Fixture& f) {
         EXPECT_EQ(f.point.rgb[0], 1);
         EXPECT_EQ(f.point.rgb[1], 0);
         EXPECT_EQ(f.point.rgb[2], 0);
       }},
      {"-scale_RGB_to_8bit", 3,
       [](Fixture& f) {
         f.point.rgb[0] = 200;
         f.point.rgb[1] = f.point.rgb[2] = 10;
       },
       [](const Fixture& f) { EXPECT_EQ(f.point.rgb[0], 200); }},
      {"-scale_RGB_to_16bit", 3, [](Fixture& f) { f.point.rgb[2] = 255; },
       [](const Fixture& f) { EXPECT_EQ(f.point.rgb[2], 255 * 256); }},
      {"-scale_RGB_to_16bit", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.rgb[0], 100); }},
      {"-switch_R_G", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.rgb[0], 200);
         EXPECT_EQ(f.point.rgb[1], 100);
       }},
      {"-switch_R_B", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.rgb[0], 300); }},
      {"-switch_G_B", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.rgb[1], 300); }},
      {"-copy_R_into_NIR", 10, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.rgb[3], 100); }},
      {"-copy_G_into_NIR", 10, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.rgb[3], 200); }},
      {"-copy_B_into_NIR", 10, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.rgb[3], 300); }},
      {"-copy_intensity_into_NIR", 10, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.rgb[3], 100); }},
      {"-switch_RGBI_into_CIR", 10, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.rgb[0], 400);
         EXPECT_EQ(f.point.rgb[1], 100);
         EXPECT_EQ(f.point.rgb[2], 200);
       }},
      {"-switch_RGB_intensity_into_CIR", 3, [](Fixture& f) { f.point.intensity = 9; },
       [](const Fixture& f) {
         EXPECT_EQ(f.point.rgb[0], 9);
         EXPECT_EQ(f.point.rgb[1], 100);
         EXPECT_EQ(f.point.rgb[2], 200);
       }},
      {"-multiply_scaled_intensity_into_RGB_red 0.500000", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.rgb[0], 5000); }},
      {"-multiply_scaled_intensity_into_RGB_nir 1000.000000", 10, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.rgb[3], 65535); }},
      {"-multiply_divided_intensity_into_RGB_green 4", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.rgb[1], 5000); },
       "-multiply_scaled_intensity_into_RGB_green 0.250000 "},
      // 1 / 3 needs more than six decimals to come back.
      {"-multiply_divided_intensity_into_RGB_blue 3", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.rgb[2], 10000); },
       "-multiply_scaled_intensity_into_RGB_blue 0.333333343 "},
  };
  run_cases(cases);
}

TEST(LAStransformOperations, Attributes) {
  const std::vector<Case> cases = {
      {"-copy_attribute_into_x 0", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.X, 9950); }},
      {"-copy_attribute_into_y 2", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.Y, 12345); }},
      {"-copy_attribute_into_z 1", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.Z, 700); }},
      // A missing attribute reads as 0.
      {"-copy_attribute_into_z 9", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.Z, 0); }},
      {"-add_attribute_to_z 1", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.point.Z, 1000); }},
      {"-add_scaled_attribute_to_z 1 -2.000000", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.Z, -1100); }},
      {"-copy_attribute_into_intensity 0", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 99); }},
      {"-copy_attribute_into_intensity 2", 3, [](Fixture& f) { f.set_f64(70000.0); },
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 65535); }},
      {"-classify_attribute_below_as 0 99.600000 9", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.classification, 9); }},
      {"-classify_attribute_above_as 2 123.450000 9", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.classification, 2); }},
      {"-classify_attribute_between_as 1 7.000000 7.000000 50", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.extended_classification, 50);
         EXPECT_EQ(f.point.classification, 0);
       }},
      {"-copy_attribute_into_user_data 0", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.user_data, 99); }},
      {"-copy_attribute_into_user_data 2", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.user_data, 123); }},
      {"-add_scaled_attribute_to_user_data 1 10.000000", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.user_data, 75); }},
      // Only the low 8 bits of a large sum are kept; a negative one gives 0.
      {"-add_scaled_attribute_to_user_data 1 100.000000", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.user_data, (700 + 5) & 255); }},
      {"-add_scaled_attribute_to_user_data 1 -10.000000", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.user_data, 0); }},
      {"-set_attribute 0 99", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.get_i16(), -10); }},
      {"-set_attribute 1 300", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.extra_bytes[2], 255); }},
      {"-set_attribute 2 0.123456789012", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.get_f64(), 0.123456789012); }, "*"},
      {"-scale_attribute 2 2", 3, nullptr, [](const Fixture& f) { EXPECT_EQ(f.get_f64(), 246.9); }},
      {"-translate_attribute 0 0.500000", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.get_i16(), 0); }},
      {"-copy_user_data_into_attribute 1", 3, [](Fixture& f) { f.point.user_data = 77; },
       [](const Fixture& f) { EXPECT_EQ(f.point.extra_bytes[2], 77); }},
      // Writing an attribute that does not exist changes nothing.
      {"-set_attribute 3 5", 3, nullptr,
       [](const Fixture& f) {
         Fixture fresh;
         EXPECT_EQ(describe(f.point), describe(fresh.point));
       }},
  };
  run_cases(cases);
}

TEST(LAStransformOperations, MapFiles) {
  TempDir dir;
  const std::string map = dir.file("map.txt");
  // Lines that do not convert or are out of range are ignored, and so is a
  // line beyond the length limit, even though its start would convert.
  // The overlong line would read "4 5" from its tail if it were split.
  write_file(map,
             "3 7\r\n100 7\n5 500\n70000 3\nrubbish\n" + std::string(130, ' ') + "4 5\n9 65535\n");
  const std::string spaced = dir.file("map with blanks.txt");
  write_file(spaced, "100 42\n");
  const std::string colors = dir.file("colors.txt");
  write_file(colors, "10 1 2 3\n20 4 5 6 \n20 9 9 9\n30 300 1 1\n100 7 8 9\n");

  const std::vector<Case> cases = {
      {"-map_intensity \"" + map + "\"", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 7); }},
      {"-map_intensity \"" + map + "\"", 3, [](Fixture& f) { f.point.intensity = 5; },
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 500); }},
      {"-map_intensity \"" + map + "\"", 3, [](Fixture& f) { f.point.intensity = 4; },
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 4); }},
      {"-map_intensity \"" + spaced + "\"", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.intensity, 42); }},
      {"-map_user_data \"" + map + "\"", 3, [](Fixture& f) { f.point.user_data = 3; },
       [](const Fixture& f) { EXPECT_EQ(f.point.user_data, 7); }},
      // 5 -> 500 does not fit user data and is ignored.
      {"-map_user_data \"" + map + "\"", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.user_data, 5); }},
      {"-map_point_source \"" + map + "\"", 3, [](Fixture& f) { f.point.point_source_ID = 9; },
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 65535); }},
      {"-map_point_source \"" + map + "\"", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.point_source_ID, 7); }},
      // attribute 1 is 7: below the first entry
      {"-map_attribute_into_RGB 1 \"" + colors + "\"", 3, nullptr,
       [](const Fixture& f) {
         EXPECT_EQ(f.point.rgb[0], 1);
         EXPECT_EQ(f.point.rgb[2], 3);
       }},
      // 123.45 is beyond the last
      {"-map_attribute_into_RGB 2 \"" + colors + "\"", 3, nullptr,
       [](const Fixture& f) { EXPECT_EQ(f.point.rgb[0], 7); }},
      // 25 is nearest to the two entries of value 20 (30 has a colour out
      // of range and is ignored): the first of them wins.
      {"-map_attribute_into_RGB 2 \"" + colors + "\"", 3, [](Fixture& f) { f.set_f64(25.0); },
       [](const Fixture& f) {
         EXPECT_EQ(f.point.rgb[0], 4);
         EXPECT_EQ(f.point.rgb[2], 6);
       }},
      {"-map_attribute_into_RGB 2 \"" + colors + "\"", 3, [](Fixture& f) { f.set_f64(61.0); },
       [](const Fixture& f) { EXPECT_EQ(f.point.rgb[0], 7); }},
  };
  const std::string err = run_cases(cases);
  EXPECT_NE(err.find("WARNING: line 6 of '" + map + "' is longer than 128 characters"),
            std::string::npos)
      << err;
}

TEST(LAStransformOperations, LoadAttributeFromText) {
  TempDir dir;
  const std::string values = dir.file("values.txt");
  write_file(values, "1.5\nnot a number\n\n" + std::string(300, '7') + "\n2.5\n3.5");
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-load_attribute_from_text 2 \"" + values + "\""));
  const F64 expected[5] = {1.5, 2.5, 3.5, 123.45, 123.45};
  testing::internal::CaptureStderr();
  for (int pass = 0; pass < 2; pass++) {
    for (F64 e : expected) {
      Fixture f;
      transform.transform(&f.point);
      EXPECT_EQ(f.get_f64(), e) << pass;
    }
    transform.reset();  // starts the file again
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("is longer than 256 characters"), std::string::npos) << err;
  EXPECT_EQ(transform.get_command(), "-load_attribute_from_text 2 \"" + values + "\" ");
}

struct ErrorCase {
  std::vector<std::string> args;
  std::string message;
};

TEST(LAStransformParse, Errors) {
  const std::vector<ErrorCase> cases = {
      {{"-translate_x"}, "ERROR: '-translate_x' needs 1 argument: offset\n"},
      {{"-translate_x", "abc"},
       "ERROR: '-translate_x' needs 1 argument: offset but 'abc' is no valid number\n"},
      // A value that an earlier parser consumed is blank and no number.
      {{"-translate_xyz", "1", "", "3"},
       "ERROR: '-translate_xyz' needs 3 arguments: offset_x offset_y offset_z but '' is no valid "
       "number\n"},
      {{"-set_withheld_flag"}, "ERROR: '-set_withheld_flag' need 1 argument: value\n"},
      {{"-set_withheld_flag", "x"},
       "ERROR: '-set_withheld_flag' needs 1 argument: value but 'x' is no valid flag\n"},
      {{"-set_withheld_flag", "2"},
       "ERROR: cannot set withheld flag because value 2 is larger than 1\n"},
      {{"-set_edge_of_flight_line", "3"},
       "ERROR: cannot set edge of flight line because value 3 is larger than 1\n"},
      {{"-set_point_source"}, "ERROR: '-set_point_source' need 1 argument: psid\n"},
      {{"-set_point_source", "65536"},
       "ERROR: cannot set point source ID because value 65536 is larger than 65535\n"},
      {{"-set_user_data", "256"},
       "ERROR: cannot set user data because value 256 is larger than 255\n"},
      {{"-set_intensity", "65536"},
       "ERROR: cannot set intensity because value of 65536 is larger than 65535\n"},
      {{"-set_classification", "256"},
       "ERROR: cannot set classification because classification of 256 is larger than 255\n"},
      {{"-set_scanner_channel", "4"},
       "ERROR: cannot set scanner channel because value 4 is larger than 3\n"},
      {{"-set_return_number", "8"}, "ERROR: cannot set return_number because 8 is larger than 7\n"},
      {{"-set_extended_number_of_returns", "16"},
       "ERROR: cannot set extended_number_of_returns because 16 is larger than 15\n"},
      {{"-change_number_of_returns_from_to", "8", "1"},
       "ERROR: cannot change number_of_returns because from_value 8 is larger than 7\n"},
      {{"-change_extended_return_number_from_to", "3", "16"},
       "ERROR: cannot change extended_return_number because to_value 16 is larger than 15\n"},
      {{"-change_classification_from_to", "2", "256"},
       "ERROR: cannot change classification because to_value 256 is larger than 255\n"},
      {{"-change_user_data_from_to", "256", "1"},
       "ERROR: cannot change user data because from_value 256 is larger than 255\n"},
      {{"-change_point_source_from_to", "1", "65536"},
       "ERROR: cannot change point source ID because to_value 65536 is larger than 65535\n"},
      {{"-set_scan_angle", "-181"},
       "ERROR: cannot set scan angle because value -181 is smaller than -180\n"},
      {{"-set_scan_angle", "180.5"},
       "ERROR: cannot set scan angle rank because value 180.5 is larger than 180\n"},
      {{"-set_scan_angle", "nan"},
       "ERROR: '-set_scan_angle' needs 1 argument: value but 'nan' is no valid number\n"},
      {{"-set_RGB", "1", "70000", "3"},
       "ERROR: cannot set RGB because G is 70000, which is larger than 65535\n"},
      {{"-set_RGB_of_class", "256", "1", "2", "3"},
       "ERROR: cannot set RGB because classification is 256, which is larger than 255\n"},
      {{"-classify_z_below_as", "1.0", "256"},
       "ERROR: cannot classify z_value because classification of 256 is larger than 255\n"},
      {{"-classify_intensity_above_as", "70000", "2"},
       "ERROR: cannot classify intensity because value of 70000 is larger than 65535\n"},
      {{"-classify_intensity_between_as", "1", "70000", "2"},
       "ERROR: cannot classify intensity because max_value of 70000 is larger than 65535\n"},
      {{"-classify_intensity_below_as", "1", "300"},
       "ERROR: cannot classify intensity because classification of 300 is larger than 255\n"},
      {{"-classify_attribute_between_as", "0", "1", "2", "300"},
       "ERROR: cannot classify attribute between because classification of 300 is larger than "
       "255\n"},
      {{"-clamp_intensity", "0", "70000"},
       "ERROR: cannot clamp intensity because above value of 70000 is larger than 65535\n"},
      {{"-clamp_intensity_below", "70000"},
       "ERROR: cannot clamp intensity because below value of 70000 is larger than 65535\n"},
      {{"-rotate_xy", "0", "1", "2"},
       "ERROR: '-rotate_xy' needs 3 arguments: angle rot_center_x rot_center_y but 0 is no valid "
       "angle\n"},
      {{"-rotate_yz", "0", "1", "2"},
       "ERROR: '-rotate_yz' needs 3 arguments: angle rot_center_y rot_center_z but 0 is no valid "
       "angle\n"},
      {{"-transform_helmert"},
       "ERROR: '-transform_helmert' needs 1 argument: 3 or 7 comma separated parameters\n"},
      {{"-transform_helmert", "1,2,3,4"},
       "ERROR: '-transform_helmert' needs 3 or 7 comma separated parameters as argument\n"},
      {{"-transform_helmert", "1,2,3,4,5,6,7,8"},
       "ERROR: '-transform_helmert' needs 3 or 7 comma separated parameters as argument\n"},
      {{"-transform_helmert", "1,2,x"},
       "ERROR: '-transform_helmert' needs 3 or 7 comma separated parameters as argument\n"},
      {{"-transform_affine"},
       "ERROR: '-transform_affine' needs 1 argument: 4 comma separated parameters\n"},
      {{"-transform_affine", "1,2,3,4,5"},
       "ERROR: '-transform_affine' needs 4 comma separated parameters as argument\n"},
      {{"-transform_affine", "1,2,3"},
       "ERROR: '-transform_affine' needs 4 comma separated parameters as argument\n"},
      {{"-bin_Z_into_point_source", "0"},
       "ERROR: 0 is no valid bin_size for '-bin_Z_into_point_source'\n"},
      // Kept as a signed 32-bit divisor, this would divide by -1.
      {{"-bin_Z_into_point_source", "4294967295"},
       "ERROR: 4294967295 is no valid bin_size for '-bin_Z_into_point_source'\n"},
      {{"-bin_Z_into_point_source", "2147483648"},
       "ERROR: 2147483648 is no valid bin_size for '-bin_Z_into_point_source'\n"},
      {{"-bin_abs_scan_angle_into_point_source", "0"},
       "ERROR: 0.000000 is no valid bin_size for '-bin_abs_scan_angle_into_point_source'\n"},
      {{"-bin_gps_time_into_intensity", "-1"},
       "ERROR: -1 is no valid bin_size for '-bin_gps_time_into_intensity'\n"},
      {{"-bin_gps_time_into_point_source", "nan"},
       "ERROR: nan is no valid bin_size for '-bin_gps_time_into_point_source'\n"},
      {{"-map_intensity", "/nonexistent/map.txt"},
       "ERROR: '-map_intensity' needs text file with map but '/nonexistent/map.txt' cannot be "
       "opened\n"},
      {{"-map_user_data", "/nonexistent/map.txt"},
       "ERROR: cannot '-map_user_data' needs text file with map but '/nonexistent/map.txt' "
       "cannot be opened\n"},
      {{"-map_attribute_into_RGB", "0", "/nonexistent/map.txt"},
       "ERROR: '-map_attribute_into_RGB' needs text file with map but '/nonexistent/map.txt' "
       "cannot be opened\n"},
      {{"-load_attribute_from_text", "0", "/nonexistent/v.txt"},
       "ERROR: '-load_attribute_from_text' needs text file with attribute values but "
       "'/nonexistent/v.txt' cannot be opened\n"},
      {{"-add_scaled_attribute_to_z", "0", "0"},
       "ERROR: '-add_scaled_attribute_to_z' needs 2 arguments: index scale but '0' is no valid "
       "scale\n"},
      {{"-multiply_scaled_intensity_into_RGB_red", "0"},
       "ERROR: '-multiply_scaled_intensity_into_RGB_red' needs 1 argument: scale but '0' is no "
       "valid scale\n"},
      {{"-multiply_divided_intensity_into_RGB_nir", "0"},
       "ERROR: '-multiply_divided_intensity_into_RGB_nir' needs 1 argument: scale but '0' is no "
       "valid divisor\n"},
  };
  for (const ErrorCase& c : cases) {
    OwnedArgs args(c.args);
    LAStransform transform;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(transform.parse(args.argc(), args.argv())) << c.args[0];
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
  }
}

TEST(LAStransformParse, ConsumesOnlyItsOwnOptions) {
  OwnedArgs args({"-i", "in.las", "-translate_q", "1", "-set_foo", "-keep_class", "2",
                  "-translate_x", "1.5", "-multiply_scaled_intensity_into_RGB_pink", "2",
                  "-filtered_transform", "-scale_z", "2"});
  LAStransform transform;
  ASSERT_TRUE(transform.parse(args.argc(), args.argv()));
  std::vector<std::string> left;
  for (int i = 1; i < args.argc(); i++) left.push_back(args.argv()[i]);
  const std::vector<std::string> expected = {"-i",
                                             "in.las",
                                             "-translate_q",
                                             "1",
                                             "-set_foo",
                                             "-keep_class",
                                             "2",
                                             "",
                                             "",
                                             "-multiply_scaled_intensity_into_RGB_pink",
                                             "2",
                                             "",
                                             "",
                                             ""};
  EXPECT_EQ(left, expected);
  EXPECT_EQ(transform.num_operations(), 2u);
  EXPECT_TRUE(transform.is_filtered());
  EXPECT_EQ(transform.field_mask(), 1u);
}

TEST(LAStransformParse, NothingToDo) {
  LAStransform transform;
  EXPECT_TRUE(transform.parse(""));
  EXPECT_FALSE(transform.active());
  testing::internal::CaptureStderr();
  OwnedArgs args({"-h", "-translate_x"});
  EXPECT_TRUE(transform.parse(args.argc(), args.argv()));
  const std::string usage = testing::internal::GetCapturedStderr();
  EXPECT_EQ(usage.rfind("Transform coordinates.\n", 0), 0u);
  EXPECT_NE(usage.find("  -rotate_xy 15.0 620000 4100000 (angle + origin)\n"), std::string::npos);
  EXPECT_NE(usage.find("Transform attributes in \"Extra Bytes\".\n"), std::string::npos);
  EXPECT_FALSE(transform.active());
}

TEST(LAStransform, OperationsApplyInCommandOrder) {
  Fixture a, b;
  LAStransform first, second;
  ASSERT_TRUE(first.parse("-translate_x 1 -scale_x 2"));
  ASSERT_TRUE(second.parse("-scale_x 2 -translate_x 1"));
  first.transform(&a.point);
  second.transform(&b.point);
  EXPECT_EQ(a.point.X, 2200);
  EXPECT_EQ(b.point.X, 2100);
}

TEST(LAStransform, LongCommandsRoundTrip) {
  std::string command;
  for (int i = 0; i < 100; i++)
    append_format(command, "-translate_raw_z %d -set_user_data %d ", i, i);
  LAStransform transform;
  ASSERT_TRUE(transform.parse(command));
  EXPECT_EQ(transform.num_operations(), 200u);
  EXPECT_EQ(transform.get_command(), command);
  Fixture f;
  transform.transform(&f.point);
  EXPECT_EQ(f.point.Z, 300 + 4950);
  EXPECT_EQ(f.point.user_data, 99);
}

TEST(LAStransform, PointSourceAssignmentStaysLast) {
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-set_point_source 3 -set_user_data 1 -set_point_source 4"));
  transform.add_set_point_source(10);
  transform.add_set_point_source(20);
  EXPECT_EQ(transform.get_command(), "-set_user_data 1 -set_point_source 20 ");
  transform.remove_operation("set_user_data");
  transform.remove_operation("no_such_operation");
  EXPECT_EQ(transform.get_command(), "-set_point_source 20 ");
  // What is left is what runs.
  Fixture f;
  transform.transform(&f.point);
  EXPECT_EQ(f.point.point_source_ID, 20);
  EXPECT_EQ(f.point.user_data, 5);
  transform.remove_operation("set_point_source");
  EXPECT_FALSE(transform.active());
  transform.transform(&f.point);
  transform.add_set_point_source(30);
  transform.transform(&f.point);
  EXPECT_EQ(f.point.point_source_ID, 30);
}

// Operations made elsewhere than the parser run in their place as well.
TEST(LAStransform, AddedOperationRunsInOrder) {
  class RecordUserData : public LASoperation {
   public:
    explicit RecordUserData(std::vector<int>* seen) : seen_(seen) {}
    const char* name() const override { return "record_user_data"; }
    std::string get_command() const override { return "-record_user_data "; }
    void transform(LASpoint* point) override { seen_->push_back(point->user_data); }

   private:
    std::vector<int>* seen_;
  };
  std::vector<int> seen;
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-set_user_data 1"));
  transform.add_operation(std::unique_ptr<LASoperation>(new RecordUserData(&seen)));
  ASSERT_TRUE(transform.parse("-set_user_data 2"));
  transform.add_operation(std::unique_ptr<LASoperation>(new RecordUserData(&seen)));
  ASSERT_TRUE(transform.parse("-set_user_data 3"));
  Fixture f;
  transform.transform(&f.point);
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
  EXPECT_EQ(f.point.user_data, 3);
}

TEST(LAStransform, OverflowsWrapAndAreReportedOnce) {
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-translate_x 30000000 -translate_y 1 -translate_z nan"));
  for (int i = 0; i < 2; i++) {
    Fixture f;
    transform.transform(&f.point);
    // 3000001000 does not fit: its low 32 bits are stored.
    EXPECT_EQ(f.point.X, -1294966296);
    EXPECT_EQ(f.point.Y, 2100);
    // NaN has no integer: a defined value is stored and counted.
    EXPECT_EQ(f.point.Z, 0);
  }
  EXPECT_EQ(transform.operation(0)->overflows(), 2);
  EXPECT_EQ(transform.operation(1)->overflows(), 0);
  EXPECT_EQ(transform.total_overflows(), 4);
  testing::internal::CaptureStderr();
  transform.report_overflows();
  transform.report_overflows();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: total of 2 overflows caused by '-translate_x 30000000.000000 '\n"
            "WARNING: total of 2 overflows caused by '-translate_z nan '\n");
  EXPECT_EQ(transform.total_overflows(), 0);

  // reset() starts the counts again as well.
  Fixture f;
  transform.transform(&f.point);
  EXPECT_EQ(transform.total_overflows(), 2);
  transform.reset();
  EXPECT_EQ(transform.total_overflows(), 0);
}

TEST(LAStransform, RawOffsetsAtRandomRestartWithReset) {
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-translate_raw_xy_at_random 100 100"));
  std::vector<I32> first, second;
  for (int pass = 0; pass < 2; pass++) {
    for (int i = 0; i < 20; i++) {
      Fixture f;
      transform.transform(&f.point);
      EXPECT_LE(std::abs(f.point.X - 1000), 100);
      EXPECT_LE(std::abs(f.point.Y - 2000), 100);
      (pass ? second : first).push_back(f.point.X);
    }
    transform.reset();
  }
  EXPECT_EQ(first, second);
  // Not the same offset every time.
  EXPECT_NE(std::count(first.begin(), first.end(), first[0]), long(first.size()));
}

TEST(LAStransform, FilteredTransformChangesOnlySelectedPoints) {
  OwnedArgs args({"-keep_class", "2", "-filtered_transform", "-set_classification", "6"});
  auto filter = std::make_unique<LASfilter>();
  ASSERT_TRUE(filter->parse(args.argc(), args.argv()));
  LAStransform transform;
  ASSERT_TRUE(transform.parse(args.argc(), args.argv()));
  ASSERT_TRUE(transform.is_filtered());
  transform.set_filter(std::move(filter));

  Fixture two, three;
  three.point.classification = 3;
  transform.transform(&two.point);
  transform.transform(&three.point);
  EXPECT_EQ(two.point.classification, 6);
  EXPECT_EQ(three.point.classification, 3);

  // The text carries the filter; the reader rebuilds the coupling from it.
  const std::string text = transform.get_command();
  EXPECT_EQ(text, "-keep_class 2 -filtered_transform -set_classification 6 ");
  LAStransform rebuilt;
  ASSERT_TRUE(rebuilt.parse(text));
  EXPECT_TRUE(rebuilt.is_filtered());
  auto filter_again = std::make_unique<LASfilter>();
  ASSERT_TRUE(filter_again->parse(text));
  rebuilt.set_filter(std::move(filter_again));
  EXPECT_EQ(rebuilt.get_command(), text);

  transform.set_filter(nullptr);
  EXPECT_FALSE(transform.is_filtered());
  transform.transform(&three.point);
  EXPECT_EQ(three.point.classification, 6);
}

TEST(LAStransform, ResetRestartsTheHeldFilter) {
  OwnedArgs args({"-keep_random_fraction", "0.5", "4711", "-set_user_data", "9"});
  auto filter = std::make_unique<LASfilter>();
  ASSERT_TRUE(filter->parse(args.argc(), args.argv()));
  LAStransform transform;
  ASSERT_TRUE(transform.parse(args.argc(), args.argv()));
  transform.set_filter(std::move(filter));
  std::string passes[2];
  for (std::string& pass : passes) {
    for (int i = 0; i < 64; i++) {
      Fixture f;
      transform.transform(&f.point);
      pass += f.point.user_data == 9 ? '1' : '0';
    }
    transform.reset();
  }
  // Both passes select the same points, and not all or none of them.
  EXPECT_EQ(passes[0], passes[1]);
  EXPECT_NE(passes[0].find('0'), std::string::npos);
  EXPECT_NE(passes[0].find('1'), std::string::npos);
}

}  // namespace
