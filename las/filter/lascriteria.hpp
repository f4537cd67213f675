// The criteria of the point filter. Criteria that only differ in the field
// they read, the comparison and their name share one template; the names
// below are the classes the option parser builds.
#pragma once

#include <cstring>
#include <memory>
#include <string>

#include "las/core/laspoint.hpp"
#include "las/core/option_text.hpp"
#include "las/filter/lasfilter.hpp"

namespace lasfilter_detail {

// Command-text numbers: doubles like "%lf", floats like "%g", both falling
// back to full precision when the short form would not read back exactly.
inline void append_value(std::string& s, F64 v) {
  s += format_double(v, "%lf") + " ";
}
inline void append_value(std::string& s, F32 v) {
  s += format_float(v, "%g") + " ";
}
inline void append_value(std::string& s, I32 v) {
  append_format(s, "%d ", v);
}
inline void append_value(std::string& s, U16 v) {
  append_format(s, "%d ", int(v));
}
inline void append_value(std::string& s, U8 v) {
  append_format(s, "%d ", int(v));
}
inline void append_value(std::string& s, U32 v) {
  append_format(s, "%u ", v);
}

inline std::string command_word(const char* name) {
  return std::string("-") + name + " ";
}

// Point fields as comparable numbers, with the field-mask bits they need.
namespace field {
struct x {
  static constexpr U32 mask = LAS_FIELD_XY;
  static bool present(const LASpoint*) { return true; }
  static F64 get(const LASpoint* p) { return p->get_x(); }
};
struct y {
  static constexpr U32 mask = LAS_FIELD_XY;
  static bool present(const LASpoint*) { return true; }
  static F64 get(const LASpoint* p) { return p->get_y(); }
};
struct z {
  static constexpr U32 mask = LAS_FIELD_Z;
  static bool present(const LASpoint*) { return true; }
  static F64 get(const LASpoint* p) { return p->get_z(); }
};
struct X {
  static constexpr U32 mask = LAS_FIELD_XY;
  static bool present(const LASpoint*) { return true; }
  static I32 get(const LASpoint* p) { return p->X; }
};
struct Y {
  static constexpr U32 mask = LAS_FIELD_XY;
  static bool present(const LASpoint*) { return true; }
  static I32 get(const LASpoint* p) { return p->Y; }
};
struct Z {
  static constexpr U32 mask = LAS_FIELD_Z;
  static bool present(const LASpoint*) { return true; }
  static I32 get(const LASpoint* p) { return p->Z; }
};
struct intensity {
  static constexpr U32 mask = LAS_FIELD_INTENSITY;
  static bool present(const LASpoint*) { return true; }
  static I32 get(const LASpoint* p) { return p->intensity; }
};
struct user_data {
  static constexpr U32 mask = LAS_FIELD_USER_DATA;
  static bool present(const LASpoint*) { return true; }
  static I32 get(const LASpoint* p) { return p->user_data; }
};
struct point_source {
  static constexpr U32 mask = LAS_FIELD_POINT_SOURCE;
  static bool present(const LASpoint*) { return true; }
  static I32 get(const LASpoint* p) { return p->point_source_ID; }
};
struct scan_angle {
  static constexpr U32 mask = LAS_FIELD_SCAN_ANGLE;
  static bool present(const LASpoint*) { return true; }
  static I32 get(const LASpoint* p) { return p->scan_angle_rank; }
};
struct gps_time {
  static constexpr U32 mask = LAS_FIELD_GPS_TIME;
  // Points without GPS time are never judged by time.
  static bool present(const LASpoint* p) { return p->has_gps_time; }
  static F64 get(const LASpoint* p) { return p->gps_time; }
};
struct wavepacket {
  static constexpr U32 mask = LAS_FIELD_WAVEPACKET;
  static bool present(const LASpoint*) { return true; }
  static U32 get(const LASpoint* p) { return p->wave_packet[0]; }
};
struct scanner_channel {
  static constexpr U32 mask = LAS_FIELD_XY;
  static bool present(const LASpoint*) { return true; }
  static I32 get(const LASpoint* p) { return p->extended_scanner_channel; }
};
struct scan_direction {
  static constexpr U32 mask = LAS_FIELD_FLAGS;
  static bool present(const LASpoint*) { return true; }
  static I32 get(const LASpoint* p) { return p->scan_direction_flag; }
};
struct greenness {
  static constexpr U32 mask = LAS_FIELD_RGB;
  static bool present(const LASpoint*) { return true; }
  static I32 get(const LASpoint* p) { return 2 * I32(p->rgb[1]) - I32(p->rgb[0]) - I32(p->rgb[2]); }
};
}  // namespace field

enum class Cmp { Less, LessEq, Greater, GreaterEq, Equal, NotEqual };

template <Cmp C, class A, class B>
inline bool compare(A a, B b) {
  switch (C) {
    case Cmp::Less:
      return a < b;
    case Cmp::LessEq:
      return a <= b;
    case Cmp::Greater:
      return a > b;
    case Cmp::GreaterEq:
      return a >= b;
    case Cmp::Equal:
      return a == b;
    case Cmp::NotEqual:
      return a != b;
  }
  return false;
}

// Half-open ranges keep the minimum and drop the maximum; closed ones hold both.
enum class Range { KeepHalfOpen, DropHalfOpen, KeepClosed, DropClosed };

template <Range R, class A, class B>
inline bool outside(A v, B lo, B hi) {
  switch (R) {
    case Range::KeepHalfOpen:
      return (v < lo) | (v >= hi);
    case Range::DropHalfOpen:
      return (lo <= v) & (v < hi);
    case Range::KeepClosed:
      return (v < lo) | (v > hi);
    case Range::DropClosed:
      return (lo <= v) & (v <= hi);
  }
  return false;
}

}  // namespace lasfilter_detail

// Tests combine comparisons with bitwise operators: on mixed data a branch
// per comparison would be mispredicted half of the time.

// Drops a point whose field compares to one stored value.
template <class Field, class V, lasfilter_detail::Cmp C, const char* Name>
class LAScriterionCompare : public LAScriterion {
 public:
  bool stateless() const override { return true; }
  explicit LAScriterionCompare(V value) : value_(value) {}
  const char* name() const override { return Name; }
  std::string get_command() const override {
    std::string s = lasfilter_detail::command_word(Name);
    lasfilter_detail::append_value(s, value_);
    return s;
  }
  U32 field_mask() const override { return Field::mask; }
  bool filter(const LASpoint* p) override {
    return int(Field::present(p)) & int(lasfilter_detail::compare<C>(Field::get(p), value_));
  }
  V value() const { return value_; }

 private:
  V value_;
};

// Drops a point whose field lies outside (keep) or inside (drop) a range.
template <class Field, class V, lasfilter_detail::Range R, const char* Name>
class LAScriterionRange : public LAScriterion {
 public:
  bool stateless() const override { return true; }
  LAScriterionRange(V lo, V hi) : lo_(lo), hi_(hi) {}
  const char* name() const override { return Name; }
  std::string get_command() const override {
    std::string s = lasfilter_detail::command_word(Name);
    lasfilter_detail::append_value(s, lo_);
    lasfilter_detail::append_value(s, hi_);
    return s;
  }
  U32 field_mask() const override { return Field::mask; }
  bool filter(const LASpoint* p) override {
    return int(Field::present(p)) & int(lasfilter_detail::outside<R>(Field::get(p), lo_, hi_));
  }

 private:
  V lo_, hi_;
};

// Drops a point for which a fixed test on its fields holds; takes no values.
template <bool (*Test)(const LASpoint*), U32 Mask, const char* Name>
class LAScriterionTest : public LAScriterion {
 public:
  bool stateless() const override { return true; }
  const char* name() const override { return Name; }
  std::string get_command() const override { return lasfilter_detail::command_word(Name); }
  U32 field_mask() const override { return Mask; }
  bool filter(const LASpoint* p) override { return Test(p); }
};

namespace lasfilter_names {
#define LASFILTER_NAME(id) inline constexpr char id[] = #id;
LASFILTER_NAME(keep_x)
LASFILTER_NAME(drop_x)
LASFILTER_NAME(drop_x_below)
LASFILTER_NAME(drop_x_above)
LASFILTER_NAME(keep_y)
LASFILTER_NAME(drop_y)
LASFILTER_NAME(drop_y_below)
LASFILTER_NAME(drop_y_above)
LASFILTER_NAME(keep_z)
LASFILTER_NAME(drop_z)
LASFILTER_NAME(drop_z_below)
LASFILTER_NAME(drop_z_above)
LASFILTER_NAME(keep_X)
LASFILTER_NAME(drop_X)
LASFILTER_NAME(drop_X_below)
LASFILTER_NAME(drop_X_above)
LASFILTER_NAME(keep_Y)
LASFILTER_NAME(drop_Y)
LASFILTER_NAME(drop_Y_below)
LASFILTER_NAME(drop_Y_above)
LASFILTER_NAME(keep_Z)
LASFILTER_NAME(drop_Z)
LASFILTER_NAME(drop_Z_below)
LASFILTER_NAME(drop_Z_above)
LASFILTER_NAME(keep_first)
LASFILTER_NAME(keep_first_of_many)
LASFILTER_NAME(keep_middle)
LASFILTER_NAME(keep_last)
LASFILTER_NAME(keep_last_of_many)
LASFILTER_NAME(keep_second_last)
LASFILTER_NAME(drop_first)
LASFILTER_NAME(drop_first_of_many)
LASFILTER_NAME(drop_middle)
LASFILTER_NAME(drop_last)
LASFILTER_NAME(drop_last_of_many)
LASFILTER_NAME(drop_second_last)
LASFILTER_NAME(drop_scan_direction)
LASFILTER_NAME(keep_edge_of_flight_line)
LASFILTER_NAME(keep_scanner_channel)
LASFILTER_NAME(drop_scanner_channel)
LASFILTER_NAME(keep_intensity)
LASFILTER_NAME(keep_intensity_below)
LASFILTER_NAME(keep_intensity_above)
LASFILTER_NAME(drop_intensity_below)
LASFILTER_NAME(drop_intensity_above)
LASFILTER_NAME(drop_intensity_between)
LASFILTER_NAME(keep_synthetic)
LASFILTER_NAME(drop_synthetic)
LASFILTER_NAME(keep_keypoint)
LASFILTER_NAME(drop_keypoint)
LASFILTER_NAME(keep_withheld)
LASFILTER_NAME(drop_withheld)
LASFILTER_NAME(keep_overlap)
LASFILTER_NAME(drop_overlap)
LASFILTER_NAME(keep_user_data)
LASFILTER_NAME(keep_user_data_below)
LASFILTER_NAME(keep_user_data_above)
LASFILTER_NAME(keep_user_data_between)
LASFILTER_NAME(drop_user_data)
LASFILTER_NAME(drop_user_data_below)
LASFILTER_NAME(drop_user_data_above)
LASFILTER_NAME(drop_user_data_between)
LASFILTER_NAME(keep_point_source)
LASFILTER_NAME(keep_point_source_between)
LASFILTER_NAME(drop_point_source)
LASFILTER_NAME(drop_point_source_below)
LASFILTER_NAME(drop_point_source_above)
LASFILTER_NAME(drop_point_source_between)
LASFILTER_NAME(keep_scan_angle)
LASFILTER_NAME(drop_scan_angle_below)
LASFILTER_NAME(drop_scan_angle_above)
LASFILTER_NAME(drop_scan_angle_between)
LASFILTER_NAME(keep_gps_time)
LASFILTER_NAME(drop_gps_time_below)
LASFILTER_NAME(drop_gps_time_above)
LASFILTER_NAME(drop_gps_time_between)
LASFILTER_NAME(keep_RGB_greenness)
LASFILTER_NAME(keep_wavepacket)
LASFILTER_NAME(drop_wavepacket)
#undef LASFILTER_NAME
}  // namespace lasfilter_names

namespace lasfilter_tests {
// r and n are the legacy return number and number of returns.
inline int r(const LASpoint* p) {
  return p->return_number;
}
inline int n(const LASpoint* p) {
  return p->number_of_returns;
}
inline bool not_first(const LASpoint* p) {
  return r(p) > 1;
}
inline bool not_first_of_many(const LASpoint* p) {
  return int(n(p) == 1) | int(r(p) > 1);
}
inline bool not_middle(const LASpoint* p) {
  return int(r(p) == 1) | int(r(p) >= n(p));
}
inline bool not_last(const LASpoint* p) {
  return r(p) < n(p);
}
inline bool not_last_of_many(const LASpoint* p) {
  return int(r(p) == 1) | int(r(p) < n(p));
}
inline bool not_second_last(const LASpoint* p) {
  return int(n(p) < 2) | int(n(p) != r(p) + 1);
}
inline bool first(const LASpoint* p) {
  return r(p) == 1;
}
inline bool first_of_many(const LASpoint* p) {
  return int(n(p) >= 2) & int(r(p) == 1);
}
inline bool middle(const LASpoint* p) {
  return int(1 < r(p)) & int(r(p) < n(p));
}
inline bool last(const LASpoint* p) {
  return r(p) >= n(p);
}
inline bool last_of_many(const LASpoint* p) {
  return int(n(p) >= 2) & int(r(p) >= n(p));
}
inline bool second_last(const LASpoint* p) {
  return int(n(p) >= 2) & int(n(p) == r(p) + 1);
}
inline bool not_edge(const LASpoint* p) {
  return p->edge_of_flight_line == 0;
}
inline bool not_synthetic(const LASpoint* p) {
  return p->synthetic_flag == 0;
}
inline bool synthetic(const LASpoint* p) {
  return p->synthetic_flag == 1;
}
inline bool not_keypoint(const LASpoint* p) {
  return p->keypoint_flag == 0;
}
inline bool keypoint(const LASpoint* p) {
  return p->keypoint_flag == 1;
}
inline bool not_withheld(const LASpoint* p) {
  return p->withheld_flag == 0;
}
inline bool withheld(const LASpoint* p) {
  return p->withheld_flag == 1;
}
inline bool not_overlap(const LASpoint* p) {
  return !p->get_overlap_flag();
}
inline bool overlap(const LASpoint* p) {
  return p->get_overlap_flag();
}
}  // namespace lasfilter_tests

namespace lf = lasfilter_detail;
namespace lff = lasfilter_detail::field;
namespace lfn = lasfilter_names;
namespace lft = lasfilter_tests;
using lf::Cmp;
using lf::Range;

// Scaled coordinates.
using LAScriterionKeepx = LAScriterionRange<lff::x, F64, Range::KeepHalfOpen, lfn::keep_x>;
using LAScriterionDropx = LAScriterionRange<lff::x, F64, Range::DropHalfOpen, lfn::drop_x>;
using LAScriterionDropxBelow = LAScriterionCompare<lff::x, F64, Cmp::Less, lfn::drop_x_below>;
using LAScriterionDropxAbove = LAScriterionCompare<lff::x, F64, Cmp::GreaterEq, lfn::drop_x_above>;
using LAScriterionKeepy = LAScriterionRange<lff::y, F64, Range::KeepHalfOpen, lfn::keep_y>;
using LAScriterionDropy = LAScriterionRange<lff::y, F64, Range::DropHalfOpen, lfn::drop_y>;
using LAScriterionDropyBelow = LAScriterionCompare<lff::y, F64, Cmp::Less, lfn::drop_y_below>;
using LAScriterionDropyAbove = LAScriterionCompare<lff::y, F64, Cmp::GreaterEq, lfn::drop_y_above>;
using LAScriterionKeepz = LAScriterionRange<lff::z, F64, Range::KeepHalfOpen, lfn::keep_z>;
using LAScriterionDropz = LAScriterionRange<lff::z, F64, Range::DropHalfOpen, lfn::drop_z>;
using LAScriterionDropzBelow = LAScriterionCompare<lff::z, F64, Cmp::Less, lfn::drop_z_below>;
using LAScriterionDropzAbove = LAScriterionCompare<lff::z, F64, Cmp::GreaterEq, lfn::drop_z_above>;

// Raw integer coordinates.
using LAScriterionKeepX = LAScriterionRange<lff::X, I32, Range::KeepHalfOpen, lfn::keep_X>;
using LAScriterionDropX = LAScriterionRange<lff::X, I32, Range::DropHalfOpen, lfn::drop_X>;
using LAScriterionDropXBelow = LAScriterionCompare<lff::X, I32, Cmp::Less, lfn::drop_X_below>;
using LAScriterionDropXAbove = LAScriterionCompare<lff::X, I32, Cmp::GreaterEq, lfn::drop_X_above>;
using LAScriterionKeepY = LAScriterionRange<lff::Y, I32, Range::KeepHalfOpen, lfn::keep_Y>;
using LAScriterionDropY = LAScriterionRange<lff::Y, I32, Range::DropHalfOpen, lfn::drop_Y>;
using LAScriterionDropYBelow = LAScriterionCompare<lff::Y, I32, Cmp::Less, lfn::drop_Y_below>;
using LAScriterionDropYAbove = LAScriterionCompare<lff::Y, I32, Cmp::GreaterEq, lfn::drop_Y_above>;
using LAScriterionKeepZ = LAScriterionRange<lff::Z, I32, Range::KeepHalfOpen, lfn::keep_Z>;
using LAScriterionDropZ = LAScriterionRange<lff::Z, I32, Range::DropHalfOpen, lfn::drop_Z>;
using LAScriterionDropZBelow = LAScriterionCompare<lff::Z, I32, Cmp::Less, lfn::drop_Z_below>;
using LAScriterionDropZAbove = LAScriterionCompare<lff::Z, I32, Cmp::GreaterEq, lfn::drop_Z_above>;

// Return numbering.
using LAScriterionKeepFirstReturn = LAScriterionTest<lft::not_first, 0, lfn::keep_first>;
using LAScriterionKeepFirstOfManyReturn =
    LAScriterionTest<lft::not_first_of_many, 0, lfn::keep_first_of_many>;
using LAScriterionKeepMiddleReturn = LAScriterionTest<lft::not_middle, 0, lfn::keep_middle>;
using LAScriterionKeepLastReturn = LAScriterionTest<lft::not_last, 0, lfn::keep_last>;
using LAScriterionKeepLastOfManyReturn =
    LAScriterionTest<lft::not_last_of_many, 0, lfn::keep_last_of_many>;
using LAScriterionKeepSecondLast = LAScriterionTest<lft::not_second_last, 0, lfn::keep_second_last>;
using LAScriterionDropFirstReturn = LAScriterionTest<lft::first, 0, lfn::drop_first>;
using LAScriterionDropFirstOfManyReturn =
    LAScriterionTest<lft::first_of_many, 0, lfn::drop_first_of_many>;
using LAScriterionDropMiddleReturn = LAScriterionTest<lft::middle, 0, lfn::drop_middle>;
using LAScriterionDropLastReturn = LAScriterionTest<lft::last, 0, lfn::drop_last>;
using LAScriterionDropLastOfManyReturn =
    LAScriterionTest<lft::last_of_many, 0, lfn::drop_last_of_many>;
using LAScriterionDropSecondLast = LAScriterionTest<lft::second_last, 0, lfn::drop_second_last>;

// Scan line flags and scanner channel.
using LAScriterionDropScanDirection =
    LAScriterionCompare<lff::scan_direction, I32, Cmp::Equal, lfn::drop_scan_direction>;
using LAScriterionKeepEdgeOfFlightLine =
    LAScriterionTest<lft::not_edge, LAS_FIELD_FLAGS, lfn::keep_edge_of_flight_line>;
using LAScriterionKeepScannerChannel =
    LAScriterionCompare<lff::scanner_channel, I32, Cmp::NotEqual, lfn::keep_scanner_channel>;
using LAScriterionDropScannerChannel =
    LAScriterionCompare<lff::scanner_channel, I32, Cmp::Equal, lfn::drop_scanner_channel>;

// Intensity.
using LAScriterionKeepIntensity =
    LAScriterionRange<lff::intensity, U16, Range::KeepClosed, lfn::keep_intensity>;
using LAScriterionKeepIntensityBelow =
    LAScriterionCompare<lff::intensity, U16, Cmp::GreaterEq, lfn::keep_intensity_below>;
using LAScriterionKeepIntensityAbove =
    LAScriterionCompare<lff::intensity, U16, Cmp::LessEq, lfn::keep_intensity_above>;
using LAScriterionDropIntensityBelow =
    LAScriterionCompare<lff::intensity, I32, Cmp::Less, lfn::drop_intensity_below>;
using LAScriterionDropIntensityAbove =
    LAScriterionCompare<lff::intensity, I32, Cmp::Greater, lfn::drop_intensity_above>;
using LAScriterionDropIntensityBetween =
    LAScriterionRange<lff::intensity, I32, Range::DropClosed, lfn::drop_intensity_between>;

// Flags.
using LAScriterionKeepSynthetic =
    LAScriterionTest<lft::not_synthetic, LAS_FIELD_FLAGS, lfn::keep_synthetic>;
using LAScriterionDropSynthetic =
    LAScriterionTest<lft::synthetic, LAS_FIELD_FLAGS, lfn::drop_synthetic>;
using LAScriterionKeepKeypoint =
    LAScriterionTest<lft::not_keypoint, LAS_FIELD_FLAGS, lfn::keep_keypoint>;
using LAScriterionDropKeypoint =
    LAScriterionTest<lft::keypoint, LAS_FIELD_FLAGS, lfn::drop_keypoint>;
using LAScriterionKeepWithheld =
    LAScriterionTest<lft::not_withheld, LAS_FIELD_FLAGS, lfn::keep_withheld>;
using LAScriterionDropWithheld =
    LAScriterionTest<lft::withheld, LAS_FIELD_FLAGS, lfn::drop_withheld>;
using LAScriterionKeepOverlap =
    LAScriterionTest<lft::not_overlap, LAS_FIELD_FLAGS, lfn::keep_overlap>;
using LAScriterionDropOverlap = LAScriterionTest<lft::overlap, LAS_FIELD_FLAGS, lfn::drop_overlap>;

// User data.
using LAScriterionKeepUserData =
    LAScriterionCompare<lff::user_data, U8, Cmp::NotEqual, lfn::keep_user_data>;
using LAScriterionKeepUserDataBelow =
    LAScriterionCompare<lff::user_data, U8, Cmp::GreaterEq, lfn::keep_user_data_below>;
using LAScriterionKeepUserDataAbove =
    LAScriterionCompare<lff::user_data, U8, Cmp::LessEq, lfn::keep_user_data_above>;
using LAScriterionKeepUserDataBetween =
    LAScriterionRange<lff::user_data, U8, Range::KeepClosed, lfn::keep_user_data_between>;
using LAScriterionDropUserData =
    LAScriterionCompare<lff::user_data, U8, Cmp::Equal, lfn::drop_user_data>;
using LAScriterionDropUserDataBelow =
    LAScriterionCompare<lff::user_data, U8, Cmp::Less, lfn::drop_user_data_below>;
using LAScriterionDropUserDataAbove =
    LAScriterionCompare<lff::user_data, U8, Cmp::Greater, lfn::drop_user_data_above>;
using LAScriterionDropUserDataBetween =
    LAScriterionRange<lff::user_data, U8, Range::DropClosed, lfn::drop_user_data_between>;

// Point source ID.
using LAScriterionKeepPointSource =
    LAScriterionCompare<lff::point_source, U16, Cmp::NotEqual, lfn::keep_point_source>;
using LAScriterionKeepPointSourceBetween =
    LAScriterionRange<lff::point_source, U16, Range::KeepClosed, lfn::keep_point_source_between>;
using LAScriterionDropPointSource =
    LAScriterionCompare<lff::point_source, U16, Cmp::Equal, lfn::drop_point_source>;
using LAScriterionDropPointSourceBelow =
    LAScriterionCompare<lff::point_source, U16, Cmp::Less, lfn::drop_point_source_below>;
using LAScriterionDropPointSourceAbove =
    LAScriterionCompare<lff::point_source, U16, Cmp::Greater, lfn::drop_point_source_above>;
using LAScriterionDropPointSourceBetween =
    LAScriterionRange<lff::point_source, U16, Range::DropClosed, lfn::drop_point_source_between>;

// Scan angle rank.
using LAScriterionKeepScanAngle =
    LAScriterionRange<lff::scan_angle, I32, Range::KeepClosed, lfn::keep_scan_angle>;
using LAScriterionDropScanAngleBelow =
    LAScriterionCompare<lff::scan_angle, I32, Cmp::Less, lfn::drop_scan_angle_below>;
using LAScriterionDropScanAngleAbove =
    LAScriterionCompare<lff::scan_angle, I32, Cmp::Greater, lfn::drop_scan_angle_above>;
using LAScriterionDropScanAngleBetween =
    LAScriterionRange<lff::scan_angle, I32, Range::DropClosed, lfn::drop_scan_angle_between>;

// GPS time.
using LAScriterionKeepGpsTime =
    LAScriterionRange<lff::gps_time, F64, Range::KeepClosed, lfn::keep_gps_time>;
using LAScriterionDropGpsTimeBelow =
    LAScriterionCompare<lff::gps_time, F64, Cmp::Less, lfn::drop_gps_time_below>;
using LAScriterionDropGpsTimeAbove =
    LAScriterionCompare<lff::gps_time, F64, Cmp::Greater, lfn::drop_gps_time_above>;
using LAScriterionDropGpsTimeBetween =
    LAScriterionRange<lff::gps_time, F64, Range::DropClosed, lfn::drop_gps_time_between>;

// Colour.
using LAScriterionKeepRGBgreenness =
    LAScriterionRange<lff::greenness, I32, Range::KeepClosed, lfn::keep_RGB_greenness>;

// Wave packet descriptor index.
using LAScriterionKeepWavepacket =
    LAScriterionCompare<lff::wavepacket, U32, Cmp::NotEqual, lfn::keep_wavepacket>;
using LAScriterionDropWavepacket =
    LAScriterionCompare<lff::wavepacket, U32, Cmp::Equal, lfn::drop_wavepacket>;

// ---------------------------------------------------------------------------
// Criteria with their own layout.

template <bool Keep>
class LAScriterionRectxy : public LAScriterion {
 public:
  bool stateless() const override { return true; }
  LAScriterionRectxy(F64 min_x, F64 min_y, F64 max_x, F64 max_y)
      : min_x_(min_x), min_y_(min_y), max_x_(max_x), max_y_(max_y) {}
  const char* name() const override { return Keep ? "keep_xy" : "drop_xy"; }
  std::string get_command() const override {
    std::string s = lf::command_word(name());
    for (F64 v : {min_x_, min_y_, max_x_, max_y_}) lf::append_value(s, v);
    return s;
  }
  bool filter(const LASpoint* p) override {
    const F64 x = p->get_x();
    const F64 y = p->get_y();
    const bool outside = (x < min_x_) | (x >= max_x_) | (y < min_y_) | (y >= max_y_);
    return outside == Keep;
  }

 private:
  F64 min_x_, min_y_, max_x_, max_y_;
};
using LAScriterionKeepxy = LAScriterionRectxy<true>;
using LAScriterionDropxy = LAScriterionRectxy<false>;

template <bool Keep>
class LAScriterionBoxxyz : public LAScriterion {
 public:
  bool stateless() const override { return true; }
  LAScriterionBoxxyz(F64 min_x, F64 min_y, F64 min_z, F64 max_x, F64 max_y, F64 max_z)
      : min_x_(min_x), min_y_(min_y), min_z_(min_z), max_x_(max_x), max_y_(max_y), max_z_(max_z) {}
  const char* name() const override { return Keep ? "keep_xyz" : "drop_xyz"; }
  std::string get_command() const override {
    std::string s = lf::command_word(name());
    for (F64 v : {min_x_, min_y_, min_z_, max_x_, max_y_, max_z_}) lf::append_value(s, v);
    return s;
  }
  U32 field_mask() const override { return LAS_FIELD_Z; }
  bool filter(const LASpoint* p) override {
    const F64 x = p->get_x(), y = p->get_y(), z = p->get_z();
    const bool inside =
        (min_x_ <= x) & (x < max_x_) & (min_y_ <= y) & (y < max_y_) & (min_z_ <= z) & (z < max_z_);
    return inside != Keep;
  }

 private:
  F64 min_x_, min_y_, min_z_, max_x_, max_y_, max_z_;
};
using LAScriterionKeepxyz = LAScriterionBoxxyz<true>;
using LAScriterionDropxyz = LAScriterionBoxxyz<false>;

class LAScriterionKeepXY : public LAScriterion {
 public:
  bool stateless() const override { return true; }
  LAScriterionKeepXY(I32 min_X, I32 min_Y, I32 max_X, I32 max_Y)
      : min_X_(min_X), min_Y_(min_Y), max_X_(max_X), max_Y_(max_Y) {}
  const char* name() const override { return "keep_XY"; }
  std::string get_command() const override;
  bool filter(const LASpoint* p) override {
    return (p->X < min_X_) | (p->Y < min_Y_) | (p->X >= max_X_) | (p->Y >= max_Y_);
  }

 private:
  I32 min_X_, min_Y_, max_X_, max_Y_;
};

class LAScriterionKeepTile : public LAScriterion {
 public:
  bool stateless() const override { return true; }
  LAScriterionKeepTile(F32 ll_x, F32 ll_y, F32 size)
      : ll_x_(ll_x), ll_y_(ll_y), ur_x_(ll_x + size), ur_y_(ll_y + size), size_(size) {}
  const char* name() const override { return "keep_tile"; }
  std::string get_command() const override;
  bool filter(const LASpoint* p) override {
    const F64 x = p->get_x(), y = p->get_y();
    return (x < ll_x_) | (x >= ur_x_) | (y < ll_y_) | (y >= ur_y_);
  }

 private:
  F32 ll_x_, ll_y_, ur_x_, ur_y_, size_;
};

class LAScriterionKeepCircle : public LAScriterion {
 public:
  bool stateless() const override { return true; }
  LAScriterionKeepCircle(F64 center_x, F64 center_y, F64 radius)
      : center_x_(center_x),
        center_y_(center_y),
        radius_(radius),
        radius_squared_(radius * radius) {}
  const char* name() const override { return "keep_circle"; }
  std::string get_command() const override;
  bool filter(const LASpoint* p) override {
    const F64 dx = center_x_ - p->get_x(), dy = center_y_ - p->get_y();
    return dx * dx + dy * dy >= radius_squared_;
  }

 private:
  F64 center_x_, center_y_, radius_, radius_squared_;
};

// Classification and return sets held as drop masks. A list option that
// directly follows one of these merges into it, so when two of them follow
// each other in a written command the second is written in its mask form.
class LAScriterionMaskSet : public LAScriterion {
 public:
  void write_command(std::string& text, const LAScriterion*& last) const override;
  // The mask-option form, which never merges into what precedes it.
  virtual std::string get_mask_command() const = 0;
  // True when the written list would be empty and so could not be parsed.
  virtual bool list_empty() const = 0;
};

class LAScriterionKeepClassifications : public LAScriterionMaskSet {
 public:
  bool stateless() const override { return true; }
  explicit LAScriterionKeepClassifications(U32 drop_mask) : drop_mask_(drop_mask) {}
  const char* name() const override { return "keep_classification_mask"; }
  std::string get_command() const override;
  std::string get_mask_command() const override;
  bool list_empty() const override { return drop_mask_ == 0xFFFFFFFFu; }
  U32 field_mask() const override { return LAS_FIELD_CLASSIFICATION; }
  bool filter(const LASpoint* p) override { return (drop_mask_ >> p->classification) & 1u; }
  U32 drop_mask() const { return drop_mask_; }

 private:
  U32 drop_mask_;
};

class LAScriterionDropClassifications : public LAScriterionMaskSet {
 public:
  bool stateless() const override { return true; }
  explicit LAScriterionDropClassifications(U32 drop_mask) : drop_mask_(drop_mask) {}
  const char* name() const override { return "drop_classification_mask"; }
  std::string get_command() const override;
  std::string get_mask_command() const override;
  bool list_empty() const override { return drop_mask_ == 0; }
  U32 field_mask() const override { return LAS_FIELD_CLASSIFICATION; }
  bool filter(const LASpoint* p) override { return (drop_mask_ >> p->classification) & 1u; }
  U32 drop_mask() const { return drop_mask_; }

 private:
  U32 drop_mask_;
};

class LAScriterionKeepReturns : public LAScriterionMaskSet {
 public:
  bool stateless() const override { return true; }
  explicit LAScriterionKeepReturns(U16 drop_mask) : drop_mask_(drop_mask) {}
  const char* name() const override { return "keep_return_mask"; }
  std::string get_command() const override;
  std::string get_mask_command() const override;
  bool list_empty() const override { return drop_mask_ == 0xFFFF; }
  bool filter(const LASpoint* p) override { return (drop_mask_ >> p->return_number) & 1u; }
  U16 drop_mask() const { return drop_mask_; }

 private:
  U16 drop_mask_;
};

class LAScriterionDropReturns : public LAScriterionMaskSet {
 public:
  bool stateless() const override { return true; }
  explicit LAScriterionDropReturns(U16 drop_mask) : drop_mask_(drop_mask) {}
  const char* name() const override { return "drop_return_mask"; }
  std::string get_command() const override;
  std::string get_mask_command() const override;
  bool list_empty() const override { return drop_mask_ == 0; }
  bool filter(const LASpoint* p) override { return (drop_mask_ >> p->return_number) & 1u; }
  U16 drop_mask() const { return drop_mask_; }

 private:
  U16 drop_mask_;
};

class LAScriterionDropExtendedClassifications : public LAScriterion {
 public:
  bool stateless() const override { return true; }
  // words[k] holds classes 32k to 32k+31.
  explicit LAScriterionDropExtendedClassifications(const U32 words[8]) {
    memcpy(words_, words, sizeof(words_));
  }
  const char* name() const override { return "drop_extended_classification_mask"; }
  std::string get_command() const override;
  U32 field_mask() const override { return LAS_FIELD_CLASSIFICATION; }
  bool filter(const LASpoint* p) override {
    const U32 e = p->extended_classification;
    return (words_[e >> 5] >> (e & 31)) & 1u;
  }

 private:
  U32 words_[8];
};

class LAScriterionKeepSpecificNumberOfReturns : public LAScriterion {
 public:
  bool stateless() const override { return true; }
  explicit LAScriterionKeepSpecificNumberOfReturns(U32 count) : count_(count) {}
  const char* name() const override;
  std::string get_command() const override;
  bool filter(const LASpoint* p) override { return U32(p->number_of_returns) != count_; }

 private:
  U32 count_;
};

class LAScriterionDropSpecificNumberOfReturns : public LAScriterion {
 public:
  bool stateless() const override { return true; }
  explicit LAScriterionDropSpecificNumberOfReturns(U32 count) : count_(count) {}
  const char* name() const override;
  std::string get_command() const override;
  bool filter(const LASpoint* p) override { return U32(p->number_of_returns) == count_; }

 private:
  U32 count_;
};

class LAScriterionKeepScanDirectionChange : public LAScriterion {
 public:
  const char* name() const override { return "keep_scan_direction_change"; }
  std::string get_command() const override { return "-keep_scan_direction_change "; }
  U32 field_mask() const override { return LAS_FIELD_FLAGS; }
  bool filter(const LASpoint* p) override {
    const int direction = p->scan_direction_flag;
    if (direction == last_direction_) return true;
    const bool first = (last_direction_ == -1);
    last_direction_ = direction;
    return first;
  }
  void reset() override { last_direction_ = -1; }

 private:
  int last_direction_ = -1;
};

// Colour channel ranges; channel 0 red, 1 green, 2 blue, 3 near infrared.
template <bool Keep>
class LAScriterionRGB : public LAScriterion {
 public:
  bool stateless() const override { return true; }
  LAScriterionRGB(I32 min, I32 max, I32 channel) : min_(min), max_(max), channel_(channel) {}
  const char* name() const override { return Keep ? "keep_RGB" : "drop_RGB"; }
  std::string get_command() const override {
    static const char* const suffix[4] = {"red", "green", "blue", "nir"};
    std::string s;
    append_format(s, "-%s_%s %d %d ", name(), suffix[channel_], min_, max_);
    return s;
  }
  U32 field_mask() const override { return LAS_FIELD_RGB; }
  bool filter(const LASpoint* p) override {
    const I32 v = p->rgb[channel_];
    return ((v < min_) | (v > max_)) == Keep;
  }

 private:
  I32 min_, max_, channel_;
};
using LAScriterionKeepRGB = LAScriterionRGB<true>;
using LAScriterionDropRGB = LAScriterionRGB<false>;

// NDVI of a near-infrared channel against red; a zero sum gives no number
// and the point passes.
inline bool ndvi_outside(I32 nir, I32 red, F32 min, F32 max) {
  const F32 v = F32(nir - red) / F32(nir + red);
  return (v < min) | (v > max);
}

class LAScriterionKeepNDVI : public LAScriterion {
 public:
  bool stateless() const override { return true; }
  // channel: 3 near infrared, 1 green or 2 blue in place of it.
  LAScriterionKeepNDVI(F32 min, F32 max, I32 channel) : min_(min), max_(max), channel_(channel) {}
  const char* name() const override { return "keep_NDVI"; }
  std::string get_command() const override;
  U32 field_mask() const override {
    return channel_ == 3 ? (LAS_FIELD_RGB | LAS_FIELD_NIR) : LAS_FIELD_RGB;
  }
  bool filter(const LASpoint* p) override {
    return ndvi_outside(p->rgb[channel_], p->rgb[0], min_, max_);
  }

 private:
  F32 min_, max_;
  I32 channel_;
};

class LAScriterionKeepNDVIfromCIR : public LAScriterion {
 public:
  bool stateless() const override { return true; }
  LAScriterionKeepNDVIfromCIR(F32 min, F32 max) : min_(min), max_(max) {}
  const char* name() const override { return "keep_NDVI_from_CIR"; }
  std::string get_command() const override;
  U32 field_mask() const override { return LAS_FIELD_RGB; }
  bool filter(const LASpoint* p) override { return ndvi_outside(p->rgb[0], p->rgb[1], min_, max_); }

 private:
  F32 min_, max_;
};

class LAScriterionKeepNDVIintensityIsNIR : public LAScriterion {
 public:
  bool stateless() const override { return true; }
  LAScriterionKeepNDVIintensityIsNIR(F32 min, F32 max) : min_(min), max_(max) {}
  const char* name() const override { return "keep_NDVI_intensity_is_NIR"; }
  std::string get_command() const override;
  U32 field_mask() const override { return LAS_FIELD_RGB | LAS_FIELD_INTENSITY; }
  bool filter(const LASpoint* p) override {
    return ndvi_outside(p->intensity, p->rgb[0], min_, max_);
  }

 private:
  F32 min_, max_;
};

// Counts the points asked; counting goes on across passes.
template <bool Keep>
class LAScriterionEveryNth : public LAScriterion {
 public:
  explicit LAScriterionEveryNth(U32 nth) : nth_(nth) {}
  const char* name() const override { return Keep ? "keep_every_nth" : "drop_every_nth"; }
  std::string get_command() const override {
    std::string s;
    append_format(s, "-%s %u ", name(), nth_);
    return s;
  }
  bool filter(const LASpoint*) override {
    if (counter_ == nth_) {
      counter_ = 1;
      return !Keep;
    }
    counter_++;
    return Keep;
  }

 private:
  U32 counter_ = 1;
  U32 nth_;
};
using LAScriterionKeepEveryNth = LAScriterionEveryNth<true>;
using LAScriterionDropEveryNth = LAScriterionEveryNth<false>;

class LAScriterionKeepRandomFraction : public LAScriterion {
 public:
  LAScriterionKeepRandomFraction(U32 seed, F32 fraction)
      : initial_seed_(seed), seed_(seed), fraction_(fraction) {}
  const char* name() const override { return "keep_random_fraction"; }
  std::string get_command() const override;
  bool filter(const LASpoint*) override;
  void reset() override { seed_ = initial_seed_; }

 private:
  U32 initial_seed_;
  U32 seed_;
  F32 fraction_;
};

// Boolean combinations of two owned criteria; the text of a combination is
// that of both operands followed by its own option, so that parsing it back
// rebuilds the same nesting.
template <bool And>
class LAScriterionCombination : public LAScriterion {
 public:
  LAScriterionCombination(std::unique_ptr<LAScriterion> one, std::unique_ptr<LAScriterion> two)
      : one_(std::move(one)), two_(std::move(two)) {}
  const char* name() const override { return And ? "filter_and" : "filter_or"; }
  std::string get_command() const override {
    std::string text;
    const LAScriterion* last = nullptr;
    write_command(text, last);
    return text;
  }
  void write_command(std::string& text, const LAScriterion*& last) const override {
    one_->write_command(text, last);
    two_->write_command(text, last);
    text += lf::command_word(name());
    last = this;
  }
  U32 field_mask() const override { return one_->field_mask() | two_->field_mask(); }
  bool stateless() const override { return one_->stateless() && two_->stateless(); }
  // The second operand is asked only when the first does not settle it.
  bool filter(const LASpoint* p) override {
    if (And) return one_->filter(p) && two_->filter(p);
    return one_->filter(p) || two_->filter(p);
  }
  const LAScriterion* first() const { return one_.get(); }
  const LAScriterion* second() const { return two_.get(); }

 private:
  std::unique_ptr<LAScriterion> one_, two_;
};
using LAScriterionAnd = LAScriterionCombination<true>;
using LAScriterionOr = LAScriterionCombination<false>;
