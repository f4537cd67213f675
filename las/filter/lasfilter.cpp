#include "las/filter/lasfilter.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "las/core/argcursor.hpp"
#include "las/core/messages.hpp"
#include "las/core/option_text.hpp"
#include "las/filter/lasattribute_criteria.hpp"
#include "las/filter/lascriteria.hpp"
#include "las/filter/thinning_criteria.hpp"

namespace {

using Criterion = std::unique_ptr<LAScriterion>;

// The converted values of one option; each slot is filled according to the
// option's directive for that position.
struct Values {
  F64 lf[8] = {};
  F32 f[8] = {};
  I32 d[8] = {};
  U32 u[8] = {};
  const char* text[8] = {};
};

// Builds the criterion, or prints the option's range message and returns null.
using Make = Criterion (*)(const char* option, const Values& v);

struct FixedOption {
  const char* name;        // without the leading dash
  const char* directives;  // per value: l "%lf", f "%f", d "%d", u "%u", a decimal without error
  const char* value_names[6];
  Make make;
};

template <class C, class... A>
Criterion make(A... a) {
  return std::make_unique<C>(a...);
}

#define BUILD(expr)                                      \
  [](const char* option, const Values& v) -> Criterion { \
    (void)option;                                        \
    (void)v;                                             \
    return expr;                                         \
  }

// The thinning by GPS time: a spacing that is not positive is refused.
template <class C>
Criterion make_time_thinning(const char* option, const Values& v) {
  if (!(v.lf[0] > 0.0)) {
    print_error("'%s' needs 1 argument: time spacing but '%g' is no valid value\n", option,
                v.lf[0]);
    return nullptr;
  }
  return make<C>(v.lf[0]);
}

template <class T>
void order(T& a, T& b) {
  if (b < a) std::swap(a, b);
}

// Pairs whose absolute forms could overflow 32 bits; the scan angle rank is
// 8 bits, so clamping keeps every decision.
I32 clamp_i32(I64 v) {
  return I32(std::max<I64>(I32_MIN, std::min<I64>(I32_MAX, v)));
}

Criterion scan_angle_pair(I64 a, I64 b, bool keep) {
  I32 lo = clamp_i32(a), hi = clamp_i32(b);
  order(lo, hi);
  if (keep) return make<LAScriterionKeepScanAngle>(lo, hi);
  return make<LAScriterionDropScanAngleBetween>(lo, hi);
}

Criterion rgb(const Values& v, I32 channel, bool keep) {
  I32 lo = v.d[0], hi = v.d[1];
  order(lo, hi);
  if (keep) return make<LAScriterionKeepRGB>(lo, hi, channel);
  return make<LAScriterionDropRGB>(lo, hi, channel);
}

Criterion ndvi(const Values& v, I32 channel) {
  F32 lo = v.f[0], hi = v.f[1];
  order(lo, hi);
  return make<LAScriterionKeepNDVI>(lo, hi, channel);
}

const FixedOption
    kFixedOptions
        [] =
            {
                // scaled coordinates
                {"keep_x",
                 "ll",
                 {"min_x", "max_x"},
                 BUILD(make<LAScriterionKeepx>(v.lf[0], v.lf[1]))},
                {"drop_x",
                 "ll",
                 {"min_x", "max_x"},
                 BUILD(make<LAScriterionDropx>(v.lf[0], v.lf[1]))},
                {"drop_x_below", "l", {"min_x"}, BUILD(make<LAScriterionDropxBelow>(v.lf[0]))},
                {"drop_x_above", "l", {"max_x"}, BUILD(make<LAScriterionDropxAbove>(v.lf[0]))},
                {"keep_y",
                 "ll",
                 {"min_y", "max_y"},
                 BUILD(make<LAScriterionKeepy>(v.lf[0], v.lf[1]))},
                {"drop_y",
                 "ll",
                 {"min_y", "max_y"},
                 BUILD(make<LAScriterionDropy>(v.lf[0], v.lf[1]))},
                {"drop_y_below", "l", {"min_y"}, BUILD(make<LAScriterionDropyBelow>(v.lf[0]))},
                {"drop_y_above", "l", {"max_y"}, BUILD(make<LAScriterionDropyAbove>(v.lf[0]))},
                {"keep_z",
                 "ll",
                 {"min_z", "max_z"},
                 BUILD(make<LAScriterionKeepz>(v.lf[0], v.lf[1]))},
                {"drop_z",
                 "ll",
                 {"min_z", "max_z"},
                 BUILD(make<LAScriterionDropz>(v.lf[0], v.lf[1]))},
                {"drop_z_below", "l", {"min_z"}, BUILD(make<LAScriterionDropzBelow>(v.lf[0]))},
                {"drop_z_above", "l", {"max_z"}, BUILD(make<LAScriterionDropzAbove>(v.lf[0]))},
                {"keep_z_above", "l", {"min_z"}, BUILD(make<LAScriterionDropzBelow>(v.lf[0]))},
                {"keep_z_below", "l", {"max_z"}, BUILD(make<LAScriterionDropzAbove>(v.lf[0]))},
                {"keep_xy",
                 "llll",
                 {"min_x", "min_y", "max_x", "max_y"},
                 BUILD(make<LAScriterionKeepxy>(v.lf[0], v.lf[1], v.lf[2], v.lf[3]))},
                {"drop_xy",
                 "llll",
                 {"min_x", "min_y", "max_x", "max_y"},
                 BUILD(make<LAScriterionDropxy>(v.lf[0], v.lf[1], v.lf[2], v.lf[3]))},
                {"keep_xyz",
                 "llllll",
                 {"min_x", "min_y", "min_z", "max_x", "max_y", "max_z"},
                 BUILD(make<LAScriterionKeepxyz>(v.lf[0], v.lf[1], v.lf[2],
                                                 v.lf[3], v.lf[4], v.lf[5]))},
                {"drop_xyz",
                 "llllll",
                 {"min_x", "min_y", "min_z", "max_x", "max_y", "max_z"},
                 BUILD(make<LAScriterionDropxyz>(v.lf[0], v.lf[1], v.lf[2],
                                                 v.lf[3], v.lf[4], v.lf[5]))},
                {"keep_tile",
                 "fff",
                 {"llx", "lly", "size"},
                 BUILD(make<LAScriterionKeepTile>(v.f[0], v.f[1], v.f[2]))},
                {"keep_circle",
                 "lll",
                 {"center_x", "center_y", "radius"},
                 BUILD(make<LAScriterionKeepCircle>(v.lf[0], v.lf[1], v.lf[2]))},
                // raw integer coordinates
                {"keep_X",
                 "dd",
                 {"min_X", "max_X"},
                 BUILD(make<LAScriterionKeepX>(v.d[0], v.d[1]))},
                {"drop_X",
                 "dd",
                 {"min_X", "max_X"},
                 BUILD(make<LAScriterionDropX>(v.d[0], v.d[1]))},
                {"drop_X_below", "d", {"min_X"}, BUILD(make<LAScriterionDropXBelow>(v.d[0]))},
                {"drop_X_above", "d", {"max_X"}, BUILD(make<LAScriterionDropXAbove>(v.d[0]))},
                {"keep_Y",
                 "dd",
                 {"min_Y", "max_Y"},
                 BUILD(make<LAScriterionKeepY>(v.d[0], v.d[1]))},
                {"drop_Y",
                 "dd",
                 {"min_Y", "max_Y"},
                 BUILD(make<LAScriterionDropY>(v.d[0], v.d[1]))},
                {"drop_Y_below", "d", {"min_Y"}, BUILD(make<LAScriterionDropYBelow>(v.d[0]))},
                {"drop_Y_above", "d", {"max_Y"}, BUILD(make<LAScriterionDropYAbove>(v.d[0]))},
                {"keep_Z",
                 "dd",
                 {"min_Z", "max_Z"},
                 BUILD(make<LAScriterionKeepZ>(v.d[0], v.d[1]))},
                {"drop_Z",
                 "dd",
                 {"min_Z", "max_Z"},
                 BUILD(make<LAScriterionDropZ>(v.d[0], v.d[1]))},
                {"drop_Z_below", "d", {"min_Z"}, BUILD(make<LAScriterionDropZBelow>(v.d[0]))},
                {"drop_Z_above", "d", {"max_Z"}, BUILD(make<LAScriterionDropZAbove>(v.d[0]))},
                {"keep_Z_above", "d", {"min_Z"}, BUILD(make<LAScriterionDropZBelow>(v.d[0]))},
                {"keep_Z_below", "d", {"max_Z"}, BUILD(make<LAScriterionDropZAbove>(v.d[0]))},
                {"keep_XY",
                 "dddd",
                 {"min_X", "min_Y", "max_X", "max_Y"},
                 BUILD(make<LAScriterionKeepXY>(v.d[0], v.d[1], v.d[2], v.d[3]))},
                // return numbering
                {"keep_first", "", {}, BUILD(make<LAScriterionKeepFirstReturn>())},
                {"first_only", "", {}, BUILD(make<LAScriterionKeepFirstReturn>())},
                {"keep_first_of_many", "", {}, BUILD(make<LAScriterionKeepFirstOfManyReturn>())},
                {"keep_middle", "", {}, BUILD(make<LAScriterionKeepMiddleReturn>())},
                {"keep_last", "", {}, BUILD(make<LAScriterionKeepLastReturn>())},
                {"last_only", "", {}, BUILD(make<LAScriterionKeepLastReturn>())},
                {"keep_last_of_many", "", {}, BUILD(make<LAScriterionKeepLastOfManyReturn>())},
                {"keep_second_last", "", {}, BUILD(make<LAScriterionKeepSecondLast>())},
                {"drop_first", "", {}, BUILD(make<LAScriterionDropFirstReturn>())},
                {"drop_first_of_many", "", {}, BUILD(make<LAScriterionDropFirstOfManyReturn>())},
                {"drop_middle", "", {}, BUILD(make<LAScriterionDropMiddleReturn>())},
                {"drop_last", "", {}, BUILD(make<LAScriterionDropLastReturn>())},
                {"drop_last_of_many", "", {}, BUILD(make<LAScriterionDropLastOfManyReturn>())},
                {"drop_second_last", "", {}, BUILD(make<LAScriterionDropSecondLast>())},
                {"keep_return_mask",
                 "u",
                 {"mask"},
                 [](const char* option, const Values& v) -> Criterion {
                   if (v.u[0] > 0xFFFF) {
                     print_error(
                         "'%s' needs a return_mask between 0 and %u but return_mask is %u\n",
                         option, 0xFFFFu, v.u[0]);
                     return nullptr;
                   }
                   return make<LAScriterionKeepReturns>(U16(~v.u[0]));
                 }},
                {"drop_return_mask",
                 "u",
                 {"mask"},
                 [](const char* option, const Values& v) -> Criterion {
                   if (v.u[0] > 0xFFFF) {
                     print_error(
                         "'%s' needs a return_mask between 0 and %u but return_mask is %u\n",
                         option, 0xFFFFu, v.u[0]);
                     return nullptr;
                   }
                   return make<LAScriterionDropReturns>(U16(v.u[0]));
                 }},
                {"keep_single", "", {}, BUILD(make<LAScriterionKeepSpecificNumberOfReturns>(1u))},
                {"keep_double", "", {}, BUILD(make<LAScriterionKeepSpecificNumberOfReturns>(2u))},
                {"keep_triple", "", {}, BUILD(make<LAScriterionKeepSpecificNumberOfReturns>(3u))},
                {"keep_quadruple",
                 "",
                 {},
                 BUILD(make<LAScriterionKeepSpecificNumberOfReturns>(4u))},
                {"keep_quintuple",
                 "",
                 {},
                 BUILD(make<LAScriterionKeepSpecificNumberOfReturns>(5u))},
                {"drop_single", "", {}, BUILD(make<LAScriterionDropSpecificNumberOfReturns>(1u))},
                {"drop_double", "", {}, BUILD(make<LAScriterionDropSpecificNumberOfReturns>(2u))},
                {"drop_triple", "", {}, BUILD(make<LAScriterionDropSpecificNumberOfReturns>(3u))},
                {"drop_quadruple",
                 "",
                 {},
                 BUILD(make<LAScriterionDropSpecificNumberOfReturns>(4u))},
                {"drop_quintuple",
                 "",
                 {},
                 BUILD(make<LAScriterionDropSpecificNumberOfReturns>(5u))},
                {"keep_number_of_returns",
                 "u",
                 {"number_of_returns"},
                 BUILD(make<LAScriterionKeepSpecificNumberOfReturns>(v.u[0]))},
                {"drop_number_of_returns",
                 "u",
                 {"number of returns"},
                 [](const char* option, const Values& v) -> Criterion {
                   if (v.u[0] > 15) {
                     print_error(
                         "'%s' needs 1 argument: number of returns but '%u' is no valid value\n",
                         option, v.u[0]);
                     return nullptr;
                   }
                   return make<LAScriterionDropSpecificNumberOfReturns>(v.u[0]);
                 }},
                // scan line flags and scanner channel
                {"drop_scan_direction",
                 "u",
                 {"scan direction"},
                 [](const char* option, const Values& v) -> Criterion {
                   if (v.u[0] > 1) {
                     print_error(
                         "'%s' needs 1 argument: scan direction but '%u' is no valid value\n",
                         option, v.u[0]);
                     return nullptr;
                   }
                   return make<LAScriterionDropScanDirection>(I32(v.u[0]));
                 }},
                {"keep_scan_direction_change",
                 "",
                 {},
                 BUILD(make<LAScriterionKeepScanDirectionChange>())},
                {"keep_edge_of_flight_line",
                 "",
                 {},
                 BUILD(make<LAScriterionKeepEdgeOfFlightLine>())},
                {"keep_scanner_channel",
                 "d",
                 {"number"},
                 [](const char* option, const Values& v) -> Criterion {
                   if (U32(v.d[0]) > 3) {
                     print_error(
                         "'%s' needs 1 argument: number between 0 and 3 so '%s' is not valid\n",
                         option, v.text[0]);
                     return nullptr;
                   }
                   return make<LAScriterionKeepScannerChannel>(v.d[0]);
                 }},
                {"drop_scanner_channel",
                 "u",
                 {"channel"},
                 [](const char* option, const Values& v) -> Criterion {
                   if (v.u[0] > 3) {
                     print_error("%u is no valid value for '%s'\n", v.u[0], option);
                     return nullptr;
                   }
                   return make<LAScriterionDropScannerChannel>(I32(v.u[0]));
                 }},
                // intensity
                {"keep_intensity",
                 "uu",
                 {"min", "max"},
                 [](const char*, const Values& v) -> Criterion {
                   if (v.u[0] > 65535) {
                     print_error("cannot keep intensity because min of %u is larger than %u\n",
                                 v.u[0], 65535u);
                     return nullptr;
                   }
                   if (v.u[1] > 65535) {
                     print_error("cannot keep intensity because max of %u is larger than %u\n",
                                 v.u[1], 65535u);
                     return nullptr;
                   }
                   return make<LAScriterionKeepIntensity>(U16(v.u[0]), U16(v.u[1]));
                 }},
                {"keep_intensity_below",
                 "u",
                 {"value"},
                 [](const char*, const Values& v) -> Criterion {
                   if (v.u[0] > 65535) {
                     print_error(
                         "cannot keep intensity below min of %u because it is larger than %u\n",
                         v.u[0], 65535u);
                     return nullptr;
                   }
                   return make<LAScriterionKeepIntensityBelow>(U16(v.u[0]));
                 }},
                {"keep_intensity_above",
                 "u",
                 {"value"},
                 [](const char*, const Values& v) -> Criterion {
                   if (v.u[0] > 65535) {
                     print_error(
                         "cannot keep intensity above max of %u because it is larger than %u\n",
                         v.u[0], 65535u);
                     return nullptr;
                   }
                   return make<LAScriterionKeepIntensityAbove>(U16(v.u[0]));
                 }},
                {"drop_intensity_below",
                 "d",
                 {"min"},
                 BUILD(make<LAScriterionDropIntensityBelow>(v.d[0]))},
                {"drop_intensity_above",
                 "d",
                 {"max"},
                 BUILD(make<LAScriterionDropIntensityAbove>(v.d[0]))},
                {"drop_intensity_between",
                 "dd",
                 {"min", "max"},
                 BUILD(make<LAScriterionDropIntensityBetween>(v.d[0], v.d[1]))},
                // classification masks and flags
                {"keep_classification_mask",
                 "u",
                 {"mask"},
                 BUILD(make<LAScriterionKeepClassifications>(~v.u[0]))},
                {"drop_classification_mask",
                 "u",
                 {"mask"},
                 BUILD(make<LAScriterionDropClassifications>(v.u[0]))},
                {"keep_synthetic", "", {}, BUILD(make<LAScriterionKeepSynthetic>())},
                {"drop_synthetic", "", {}, BUILD(make<LAScriterionDropSynthetic>())},
                {"keep_keypoint", "", {}, BUILD(make<LAScriterionKeepKeypoint>())},
                {"drop_keypoint", "", {}, BUILD(make<LAScriterionDropKeypoint>())},
                {"keep_withheld", "", {}, BUILD(make<LAScriterionKeepWithheld>())},
                {"drop_withheld", "", {}, BUILD(make<LAScriterionDropWithheld>())},
                {"keep_overlap", "", {}, BUILD(make<LAScriterionKeepOverlap>())},
                {"drop_overlap", "", {}, BUILD(make<LAScriterionDropOverlap>())},
                // user data: the keep forms take the low eight bits without a check
                {"keep_user_data",
                 "d",
                 {"value"},
                 BUILD(make<LAScriterionKeepUserData>(U8(v.d[0])))},
                {"keep_user_data_below",
                 "d",
                 {"value"},
                 BUILD(make<LAScriterionKeepUserDataBelow>(U8(v.d[0])))},
                {"keep_user_data_above",
                 "d",
                 {"value"},
                 BUILD(make<LAScriterionKeepUserDataAbove>(U8(v.d[0])))},
                {"keep_user_data_between",
                 "dd",
                 {"min", "max"},
                 BUILD(make<LAScriterionKeepUserDataBetween>(U8(v.d[0]), U8(v.d[1])))},
                {"drop_user_data_below",
                 "u",
                 {"value"},
                 [](const char*, const Values& v) -> Criterion {
                   if (v.u[0] > 255) {
                     print_error("cannot drop user data below %u because it is larger than 255\n",
                                 v.u[0]);
                     return nullptr;
                   }
                   return make<LAScriterionDropUserDataBelow>(U8(v.u[0]));
                 }},
                {"drop_user_data_above",
                 "u",
                 {"value"},
                 [](const char*, const Values& v) -> Criterion {
                   if (v.u[0] > 255) {
                     print_error("cannot drop user data above %u because it is larger than 255\n",
                                 v.u[0]);
                     return nullptr;
                   }
                   return make<LAScriterionDropUserDataAbove>(U8(v.u[0]));
                 }},
                {"drop_user_data_between",
                 "uu",
                 {"min", "max"},
                 [](const char*, const Values& v) -> Criterion {
                   if (v.u[0] > 255) {
                     print_error(
                         "cannot drop user data between min and max because min of %u is larger "
                         "than 255\n",
                         v.u[0]);
                     return nullptr;
                   }
                   if (v.u[1] > 255) {
                     print_error(
                         "cannot drop user data between min and max because max of %u is larger "
                         "than 255\n",
                         v.u[1]);
                     return nullptr;
                   }
                   return make<LAScriterionDropUserDataBetween>(U8(v.u[0]), U8(v.u[1]));
                 }},
                // point source ID
                {"keep_point_source_between",
                 "uu",
                 {"min_ID", "max_ID"},
                 [](const char*, const Values& v) -> Criterion {
                   if (v.u[0] > 65535) {
                     print_error(
                         "cannot keep point source because min_ID of %u is larger than %u\n",
                         v.u[0], 65535u);
                     return nullptr;
                   }
                   if (v.u[1] > 65535) {
                     print_error(
                         "cannot keep point source because max_ID of %u is larger than %u\n",
                         v.u[1], 65535u);
                     return nullptr;
                   }
                   return make<LAScriterionKeepPointSourceBetween>(U16(v.u[0]), U16(v.u[1]));
                 }},
                {"drop_point_source_below",
                 "u",
                 {"min_ID"},
                 [](const char*, const Values& v) -> Criterion {
                   if (v.u[0] > 65535) {
                     print_error(
                         "cannot drop point source below min_ID of %u because it is larger than "
                         "%u\n",
                         v.u[0], 65535u);
                     return nullptr;
                   }
                   return make<LAScriterionDropPointSourceBelow>(U16(v.u[0]));
                 }},
                {"drop_point_source_above",
                 "u",
                 {"max_ID"},
                 [](const char*, const Values& v) -> Criterion {
                   if (v.u[0] > 65535) {
                     print_error(
                         "cannot drop point source above max_ID of %u because it is larger than "
                         "%u\n",
                         v.u[0], 65535u);
                     return nullptr;
                   }
                   return make<LAScriterionDropPointSourceAbove>(U16(v.u[0]));
                 }},
                {"drop_point_source_between",
                 "ud",
                 {"min_ID", "max_ID"},
                 [](const char*, const Values& v) -> Criterion {
                   if (v.u[0] > 65535) {
                     print_error(
                         "cannot drop point source because min_ID of %u is larger than %u\n",
                         v.u[0], 65535u);
                     return nullptr;
                   }
                   if (U32(v.d[1]) > 65535) {
                     print_error(
                         "cannot drop point source because max_ID of %u is larger than %u\n",
                         U32(v.d[1]), 65535u);
                     return nullptr;
                   }
                   return make<LAScriterionDropPointSourceBetween>(U16(v.u[0]), U16(v.d[1]));
                 }},
                // scan angle rank
                {"keep_scan_angle",
                 "dd",
                 {"min", "max"},
                 BUILD(scan_angle_pair(v.d[0], v.d[1], true))},
                {"keep_scan_angle_between",
                 "dd",
                 {"min", "max"},
                 BUILD(scan_angle_pair(v.d[0], v.d[1], true))},
                {"drop_abs_scan_angle_above",
                 "d",
                 {"max"},
                 BUILD(scan_angle_pair(v.d[0], -I64(v.d[0]), true))},
                {"drop_abs_scan_angle_below",
                 "d",
                 {"min"},
                 BUILD(scan_angle_pair(I64(v.d[0]) - 1, 1 - I64(v.d[0]), false))},
                {"drop_scan_angle_below",
                 "d",
                 {"min"},
                 BUILD(make<LAScriterionDropScanAngleBelow>(v.d[0]))},
                {"drop_scan_angle_above",
                 "d",
                 {"max"},
                 BUILD(make<LAScriterionDropScanAngleAbove>(v.d[0]))},
                {"drop_scan_angle_between",
                 "dd",
                 {"min", "max"},
                 BUILD(scan_angle_pair(v.d[0], v.d[1], false))},
                // GPS time ("gpstime" is looked up as "gps_time")
                {"keep_gps_time",
                 "ll",
                 {"start", "end"},
                 BUILD(make<LAScriterionKeepGpsTime>(v.lf[0], v.lf[1]))},
                {"keep_gps_time_between",
                 "ll",
                 {"start", "end"},
                 BUILD(make<LAScriterionKeepGpsTime>(v.lf[0], v.lf[1]))},
                {"keep_gps_time_above",
                 "l",
                 {"time"},
                 BUILD(make<LAScriterionDropGpsTimeBelow>(v.lf[0]))},
                {"keep_gps_time_below",
                 "l",
                 {"time"},
                 BUILD(make<LAScriterionDropGpsTimeAbove>(v.lf[0]))},
                {"drop_gps_time_below",
                 "l",
                 {"min_gps_time"},
                 BUILD(make<LAScriterionDropGpsTimeBelow>(v.lf[0]))},
                {"drop_gps_time_above",
                 "l",
                 {"max_gps_time"},
                 BUILD(make<LAScriterionDropGpsTimeAbove>(v.lf[0]))},
                {"drop_gps_time_between",
                 "ll",
                 {"min", "max"},
                 BUILD(make<LAScriterionDropGpsTimeBetween>(v.lf[0], v.lf[1]))},
                // colour
                {"keep_RGB_red", "dd", {"min", "max"}, BUILD(rgb(v, 0, true))},
                {"keep_RGB_green", "dd", {"min", "max"}, BUILD(rgb(v, 1, true))},
                {"keep_RGB_blue", "dd", {"min", "max"}, BUILD(rgb(v, 2, true))},
                {"keep_RGB_nir", "dd", {"min", "max"}, BUILD(rgb(v, 3, true))},
                {"drop_RGB_red", "dd", {"min", "max"}, BUILD(rgb(v, 0, false))},
                {"drop_RGB_green", "dd", {"min", "max"}, BUILD(rgb(v, 1, false))},
                {"drop_RGB_blue", "dd", {"min", "max"}, BUILD(rgb(v, 2, false))},
                {"drop_RGB_nir", "dd", {"min", "max"}, BUILD(rgb(v, 3, false))},
                {"keep_RGB_greenness",
                 "dd",
                 {"min", "max"},
                 [](const char*, const Values& v) -> Criterion {
                   I32 lo = v.d[0], hi = v.d[1];
                   order(lo, hi);
                   return make<LAScriterionKeepRGBgreenness>(lo, hi);
                 }},
                {"keep_NDVI", "ff", {"min", "max"}, BUILD(ndvi(v, 3))},
                {"keep_NDVI_green_is_NIR", "ff", {"min", "max"}, BUILD(ndvi(v, 1))},
                {"keep_NDVI_blue_is_NIR", "ff", {"min", "max"}, BUILD(ndvi(v, 2))},
                {"keep_NDVI_from_CIR",
                 "ff",
                 {"min", "max"},
                 [](const char*, const Values& v) -> Criterion {
                   F32 lo = v.f[0], hi = v.f[1];
                   order(lo, hi);
                   return make<LAScriterionKeepNDVIfromCIR>(lo, hi);
                 }},
                {"keep_NDVI_intensity_is_NIR",
                 "ff",
                 {"min", "max"},
                 [](const char*, const Values& v) -> Criterion {
                   F32 lo = v.f[0], hi = v.f[1];
                   order(lo, hi);
                   return make<LAScriterionKeepNDVIintensityIsNIR>(lo, hi);
                 }},
                // wave packets
                {"keep_wavepacket",
                 "a",
                 {"index"},
                 BUILD(make<LAScriterionKeepWavepacket>(v.u[0]))},
                {"drop_wavepacket",
                 "a",
                 {"index"},
                 BUILD(make<LAScriterionDropWavepacket>(v.u[0]))},
                // extra-bytes attributes
                {"keep_attribute_below",
                 "dl",
                 {"index", "value"},
                 BUILD(make<LAScriterionKeepAttributeBelow>(U32(v.d[0]), v.lf[1]))},
                {"keep_attribute_above",
                 "dl",
                 {"index", "value"},
                 BUILD(make<LAScriterionKeepAttributeAbove>(U32(v.d[0]), v.lf[1]))},
                {"keep_attribute_between",
                 "dll",
                 {"index", "min", "max"},
                 BUILD(make<LAScriterionKeepAttributeBetween>(U32(v.d[0]), v.lf[1], v.lf[2]))},
                {"drop_attribute_below",
                 "ul",
                 {"index", "value"},
                 BUILD(make<LAScriterionDropAttributeBelow>(v.u[0], v.lf[1]))},
                {"drop_attribute_above",
                 "ul",
                 {"index", "value"},
                 BUILD(make<LAScriterionDropAttributeAbove>(v.u[0], v.lf[1]))},
                {"drop_attribute_between",
                 "ull",
                 {"index", "below", "above"},
                 BUILD(make<LAScriterionDropAttributeBetween>(v.u[0], v.lf[1], v.lf[2]))},
                // simple thinning
                {"keep_every_nth",
                 "u",
                 {"nth"},
                 [](const char* option, const Values& v) -> Criterion {
                   if (v.u[0] == 0) {
                     print_error("%u is no valid nth for '%s'\n", v.u[0], option);
                     return nullptr;
                   }
                   return make<LAScriterionKeepEveryNth>(v.u[0]);
                 }},
                {"drop_every_nth",
                 "u",
                 {"nth"},
                 [](const char* option, const Values& v) -> Criterion {
                   if (v.u[0] == 0) {
                     print_error("%u is no valid nth for '%s'\n", v.u[0], option);
                     return nullptr;
                   }
                   return make<LAScriterionDropEveryNth>(v.u[0]);
                 }},
                // grid and time thinning
                {"thin_with_grid",
                 "f",
                 {"grid spacing"},
                 [](const char* option, const Values& v) -> Criterion {
                   if (!(v.f[0] > 0.0f)) {
                     print_error("'%s' needs 1 argument: grid spacing but '%g' is no valid value\n",
                                 option, double(v.f[0]));
                     return nullptr;
                   }
                   return make<LAScriterionThinWithGrid>(v.f[0]);
                 }},
                {"thin_points_with_time",
                 "l",
                 {"time spacing"},
                 make_time_thinning<LAScriterionThinPointsWithTime>},
                {"thin_pulses_with_time",
                 "l",
                 {"time spacing"},
                 make_time_thinning<LAScriterionThinPulsesWithTime>},
                {"thin_with_time",
                 "l",
                 {"time spacing"},
                 make_time_thinning<LAScriterionThinPulsesWithTime>},
};

#undef BUILD

const FixedOption* find_fixed(const std::string& name) {
  for (const FixedOption& o : kFixedOptions) {
    if (name == o.name) return &o;
  }
  return nullptr;
}

std::string value_names(const FixedOption& o, int count) {
  std::string names;
  for (int k = 0; k < count; k++) {
    if (k) names += ' ';
    names += o.value_names[k];
  }
  return names;
}

// Converts one value by its directive; 'a' is a decimal that never fails
// (text that is no number gives 0), wrapped to 32 bits like the C conversion.
bool convert(const ArgCursor& args, int i, char directive, Values& v, int k) {
  v.text[k] = args[i];
  switch (directive) {
    case 'l':
      return args.scan(i, "%lf", &v.lf[k]);
    case 'f':
      return args.scan(i, "%f", &v.f[k]);
    case 'd':
      return args.scan(i, "%d", &v.d[k]);
    case 'u':
      return args.scan(i, "%u", &v.u[k]);
    case 'a':
      v.u[k] = U32(strtoll(args[i], nullptr, 10));
      return true;
  }
  return false;
}

// Reads and builds a fixed-arity option at index i; false after an error.
bool parse_fixed(ArgCursor& args, int& i, const FixedOption& o, Criterion& out) {
  const char* option = args[i];
  const int count = int(strlen(o.directives));
  if (!args.has(i, count)) {
    print_error("'%s' needs %d argument%s: %s\n", option, count, count == 1 ? "" : "s",
                value_names(o, count).c_str());
    return false;
  }
  Values v;
  for (int k = 0; k < count; k++) {
    if (!convert(args, i + 1 + k, o.directives[k], v, k)) {
      print_error("'%s' needs %d argument%s: %s but '%s' is no valid %s\n", option, count,
                  count == 1 ? "" : "s", value_names(o, count).c_str(), args[i + 1 + k],
                  o.value_names[k]);
      return false;
    }
  }
  out = o.make(option, v);
  if (!out) return false;
  args.consume(i, count);
  i += count;
  return true;
}

enum class ListResult { ok, missing, bad_first, bad_further };

// A list of values: the first is required, further ones are taken while the
// next argument begins with a digit. `first` and `further` are the
// directives ('u' or 'd'). On success i is the index of the last value.
ListResult read_list(const ArgCursor& args, int& i, char first, char further,
                     std::vector<U32>& values, const char** bad) {
  values.clear();
  if (!args.has(i, 1)) return ListResult::missing;
  int k = i + 1;
  for (;;) {
    const char directive = (k == i + 1) ? first : further;
    U32 u = 0;
    I32 d = 0;
    const bool ok = directive == 'u' ? args.scan(k, "%u", &u) : args.scan(k, "%d", &d);
    if (!ok) {
      *bad = args[k];
      return k == i + 1 ? ListResult::bad_first : ListResult::bad_further;
    }
    values.push_back(directive == 'u' ? u : U32(d));
    if (!args.digit_at(k + 1)) break;
    k++;
  }
  i = k;
  return ListResult::ok;
}

// The word of an option without its dash, with "gpstime" spelled "gps_time".
std::string lookup_name(const char* argument) {
  std::string name(argument + 1);
  const size_t at = name.find("gpstime");
  if (at != std::string::npos) name.replace(at, 7, "gps_time");
  return name;
}

bool starts_with(const char* text, const char* prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------

// Few enough criteria that asking all of them costs less than the branches.
static constexpr size_t kAskAllLimit = 8;

void LASfilter::update_ask_all() {
  ask_all_ = !list_.empty() && list_.size() <= kAskAllLimit;
  for (const LAScriterion* c : list_) ask_all_ = ask_all_ && c->stateless();
}

void LASfilter::add_criterion(std::unique_ptr<LAScriterion> criterion) {
  list_.push_back(criterion.get());
  criteria_.push_back(std::move(criterion));
  counters_.insert(counters_.end() - 1, 0);
  update_ask_all();
}

std::unique_ptr<LAScriterion> LASfilter::remove_last() {
  std::unique_ptr<LAScriterion> last = std::move(criteria_.back());
  criteria_.pop_back();
  list_.pop_back();
  counters_.erase(counters_.end() - 2);
  update_ask_all();
  return last;
}

bool LASfilter::combine(const char* option, bool with_and) {
  if (criteria_.size() < 2) {
    print_error("'%s' needs to be preceeded by at least two filters\n", option);
    return false;
  }
  std::unique_ptr<LAScriterion> second = remove_last();
  std::unique_ptr<LAScriterion> first = remove_last();
  if (with_and) {
    add_criterion(std::make_unique<LAScriterionAnd>(std::move(first), std::move(second)));
  } else {
    add_criterion(std::make_unique<LAScriterionOr>(std::move(first), std::move(second)));
  }
  return true;
}

void LASfilter::reset() {
  for (LAScriterion* c : list_) c->reset();
}

std::string LASfilter::get_command() const {
  std::string text;
  const LAScriterion* last = nullptr;
  for (const auto& c : criteria_) c->write_command(text, last);
  return text;
}

void LASfilter::clean() {
  criteria_.clear();
  list_.clear();
  counters_.assign(1, 0);
  ask_all_ = false;
}

U32 LASfilter::field_mask() const {
  U32 mask = 0;
  for (const auto& c : criteria_) mask |= c->field_mask();
  return mask;
}

bool LASfilter::parse(const std::string& command) {
  OwnedArgs args(split_command(command));
  return parse(args.argc(), args.argv());
}

bool LASfilter::parse(int argc, char* argv[]) {
  ArgCursor args(argc, argv);
  U32 keep_extended[8] = {};
  U32 drop_extended[8] = {};
  std::vector<U32> values;
  const char* bad = nullptr;

  for (int i = 1; i < argc; i++) {
    if (args.blank(i)) continue;
    const char* option = argv[i];
    if (args.is(i, "-h") || args.is(i, "-help")) {
      usage();
      return true;
    }
    if (starts_with(option, "-clip_")) {
      print_error("'%s' is no longer recognized. check documentation with '-h'.\n", option);
      print_message("  rename '-clip' to '-keep_xy'.\n");
      print_message("  rename '-clip_box' to '-keep_xyz'.\n");
      print_message("  rename '-clip_tile' to '-keep_tile'.\n");
      print_message("  rename '-clip_z_below' to '-drop_z_below'.\n");
      print_message("  rename '-clip_z_above' to '-drop_z_above'.\n");
      print_message("  rename '-clip_z_between' to '-drop_z'.\n");
      print_message("  etc ...\n");
      return false;
    }
    if (!starts_with(option, "-keep_") && !starts_with(option, "-drop_") &&
        !starts_with(option, "-thin_") && !starts_with(option, "-filter_") &&
        !args.is(i, "-first_only") && !args.is(i, "-last_only")) {
      continue;
    }
    const std::string name = lookup_name(option);

    if (name == "filter_and" || name == "filter_or") {
      if (!combine(option, name == "filter_and")) return false;
      args.consume(i);
      continue;
    }

    if (name == "keep_class" || name == "keep_classification") {
      const int start = i;
      switch (read_list(args, i, 'u', 'u', values, &bad)) {
        case ListResult::missing:
          print_error("'%s' needs at least 1 argument: classification\n", option);
          return false;
        case ListResult::bad_first:
        case ListResult::bad_further:
          print_error(
              "'%s' needs at least 1 argument: classification but '%s' is no valid "
              "classification\n",
              option, bad);
          return false;
        case ListResult::ok:
          break;
      }
      U32 kept = 0;
      for (U32 c : values) {
        if (c > 31) {
          print_error("'%s' needs arguments between 0 and 31 but '%u' is out of range\n", option,
                      c);
          return false;
        }
        kept |= 1u << c;
      }
      U32 drop = ~kept;
      if (active() && strcmp(criteria_.back()->name(), "keep_classification_mask") == 0) {
        drop &= static_cast<LAScriterionKeepClassifications*>(criteria_.back().get())->drop_mask();
        remove_last();
      }
      add_criterion(std::make_unique<LAScriterionKeepClassifications>(drop));
      args.consume(start, i - start);
      continue;
    }

    if (name == "drop_class" || name == "drop_classification") {
      const int start = i;
      switch (read_list(args, i, 'u', 'u', values, &bad)) {
        case ListResult::missing:
          print_error("'%s' needs at least 1 argument: classification\n", option);
          return false;
        case ListResult::bad_first:
        case ListResult::bad_further:
          print_error(
              "'-drop_classification' needs at least 1 argument: classification but '%s' "
              "is no valid classification\n",
              bad);
          return false;
        case ListResult::ok:
          break;
      }
      U32 drop = 0;
      for (U32 c : values) {
        if (c > 31) {
          print_error("cannot drop classification %u because it is larger than 31\n", c);
          return false;
        }
        drop |= 1u << c;
      }
      if (active() && strcmp(criteria_.back()->name(), "drop_classification_mask") == 0) {
        drop |= static_cast<LAScriterionDropClassifications*>(criteria_.back().get())->drop_mask();
        remove_last();
      }
      add_criterion(std::make_unique<LAScriterionDropClassifications>(drop));
      args.consume(start, i - start);
      continue;
    }

    if (name == "keep_extended_class" || name == "keep_extended_classification") {
      const int start = i;
      switch (read_list(args, i, 'u', 'u', values, &bad)) {
        case ListResult::missing:
          print_error("'%s' needs at least a argument: classification\n", option);
          return false;
        case ListResult::bad_first:
        case ListResult::bad_further:
          print_error(
              "'-keep_extended_classification' needs at least 1 argument: classification "
              "but '%s' is no valid classification\n",
              bad);
          return false;
        case ListResult::ok:
          break;
      }
      for (U32 c : values) {
        if (c > 255) {
          print_error("cannot keep extended classification %u because it is larger than 255\n", c);
          return false;
        }
        keep_extended[c >> 5] |= 1u << (c & 31);
      }
      args.consume(start, i - start);
      continue;
    }

    if (name == "drop_extended_class" || name == "drop_extended_classification") {
      const int start = i;
      switch (read_list(args, i, 'u', 'u', values, &bad)) {
        case ListResult::missing:
          print_error("'%s' needs at least 1 argument: classification\n", option);
          return false;
        case ListResult::bad_first:
        case ListResult::bad_further:
          print_error(
              "'-drop_extended_classification' needs at least 1 argument: classification "
              "but '%s' is no valid classification\n",
              bad);
          return false;
        case ListResult::ok:
          break;
      }
      for (U32 c : values) {
        if (c > 255) {
          print_error("cannot drop extended classification %u because it is larger than 255\n", c);
          return false;
        }
        drop_extended[c >> 5] |= 1u << (c & 31);
      }
      args.consume(start, i - start);
      continue;
    }

    if (name == "drop_extended_classification_mask") {
      if (!args.has(i, 8)) {
        print_error("'%s' needs 8 arguments: mask7 mask6 mask5 mask4 mask3 mask2 mask1 mask0\n",
                    option);
        return false;
      }
      U32 words[8];
      for (int k = 0; k < 8; k++) {
        if (!args.scan(i + 1 + k, "%u", &words[7 - k])) {
          print_error("'%s' needs 8 arguments: mask7 mask6 mask5 mask4 mask3 mask2 mask1 mask0\n",
                      option);
          print_message("       but '%s' is a bad argument for mask%d\n", argv[i + 1 + k], 7 - k);
          return false;
        }
      }
      memcpy(drop_extended, words, sizeof(words));
      args.consume(i, 8);
      i += 8;
      continue;
    }

    if (name == "keep_return") {
      const int start = i;
      switch (read_list(args, i, 'u', 'u', values, &bad)) {
        case ListResult::missing:
          print_error("'%s' needs at least 1 argument: return_number\n", option);
          return false;
        case ListResult::bad_first:
        case ListResult::bad_further:
          print_error(
              "'-keep_return' needs at least 1 argument: return_number but '%s' is no "
              "valid return_number\n",
              bad);
          return false;
        case ListResult::ok:
          break;
      }
      U32 kept = 0;
      for (U32 r : values) {
        if (r > 15) {
          print_error("cannot keep return_number %u because it is larger than 15\n", r);
          return false;
        }
        kept |= 1u << r;
      }
      U16 drop = U16(~kept);
      if (active() && strcmp(criteria_.back()->name(), "keep_return_mask") == 0) {
        drop &= static_cast<LAScriterionKeepReturns*>(criteria_.back().get())->drop_mask();
        remove_last();
      }
      add_criterion(std::make_unique<LAScriterionKeepReturns>(drop));
      args.consume(start, i - start);
      continue;
    }

    if (name == "drop_return") {
      const int start = i;
      switch (read_list(args, i, 'u', 'u', values, &bad)) {
        case ListResult::missing:
          print_error("'%s' needs at least 1 argument: return_number\n", option);
          return false;
        case ListResult::bad_first:
        case ListResult::bad_further:
          print_error(
              "'-drop_return' needs at least 1 argument: return_number but '%s' is no "
              "valid return_number\n",
              bad);
          return false;
        case ListResult::ok:
          break;
      }
      U16 drop = 0;
      for (U32 r : values) {
        if (r > 15) {
          print_error("cannot drop return_number %u because it is larger than 15\n", r);
          return false;
        }
        drop = U16(drop | (1u << r));
      }
      if (active() && strcmp(criteria_.back()->name(), "drop_return_mask") == 0) {
        drop |= static_cast<LAScriterionDropReturns*>(criteria_.back().get())->drop_mask();
        remove_last();
      }
      add_criterion(std::make_unique<LAScriterionDropReturns>(drop));
      args.consume(start, i - start);
      continue;
    }

    if (name == "keep_point_source") {
      const int start = i;
      switch (read_list(args, i, 'u', 'd', values, &bad)) {
        case ListResult::missing:
          print_error("'%s' needs at least 1 argument: ID\n", option);
          return false;
        case ListResult::bad_first:
          print_error("'%s' needs at least 1 argument: ID but '%s' is no valid ID\n", option, bad);
          return false;
        case ListResult::bad_further:
          print_error("'-keep_point_source' takes one or more IDs but '%s' is no valid ID\n", bad);
          return false;
        case ListResult::ok:
          break;
      }
      for (size_t k = 0; k < values.size(); k++) {
        if (values[k] > 65535) {
          print_error("cannot keep_point_source ID %u because it is larger than %u\n", values[k],
                      65535u);
          return false;
        }
        add_criterion(std::make_unique<LAScriterionKeepPointSource>(U16(values[k])));
        // Chained by "and": dropped only when it is none of the IDs.
        if (k > 0) combine(option, true);
      }
      args.consume(start, i - start);
      continue;
    }

    if (name == "drop_point_source") {
      const int start = i;
      switch (read_list(args, i, 'u', 'u', values, &bad)) {
        case ListResult::missing:
          print_error("'%s' needs at least 1 argument: ID\n", option);
          return false;
        case ListResult::bad_first:
        case ListResult::bad_further:
          print_error(
              "'-drop_point_source' needs at least 1 argument: ID but '%s' is no valid "
              "ID\n",
              bad);
          return false;
        case ListResult::ok:
          break;
      }
      for (U32 id : values) {
        if (id > 65535) {
          print_error("cannot drop_point_source ID %u because it is larger than %u\n", id, 65535u);
          return false;
        }
      }
      for (U32 id : values) add_criterion(std::make_unique<LAScriterionDropPointSource>(U16(id)));
      args.consume(start, i - start);
      continue;
    }

    if (name == "drop_user_data") {
      const int start = i;
      switch (read_list(args, i, 'u', 'u', values, &bad)) {
        case ListResult::missing:
          print_error("'%s' needs at least 1 argument: value\n", option);
          return false;
        case ListResult::bad_first:
        case ListResult::bad_further:
          print_error(
              "'-drop_user_data' needs at least 1 argument: value but '%s' is no valid "
              "value\n",
              bad);
          return false;
        case ListResult::ok:
          break;
      }
      for (U32 u : values) {
        if (u > 255) {
          print_error("cannot drop user data %u because it is larger than 255\n", u);
          return false;
        }
      }
      for (U32 u : values) add_criterion(std::make_unique<LAScriterionDropUserData>(U8(u)));
      args.consume(start, i - start);
      continue;
    }

    if (name == "keep_random_fraction") {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: fraction [seed]\n", option);
        return false;
      }
      F32 fraction = 0.0f;
      if (!args.scan(i + 1, "%f", &fraction)) {
        print_error("'%s' needs 1 argument: fraction [seed] but '%s' is no valid fraction\n",
                    option, argv[i + 1]);
        return false;
      }
      U32 seed = 0;
      int count = 1;
      if (args.digit_at(i + 2)) {
        if (!args.scan(i + 2, "%u", &seed)) {
          print_error("'%s' takes seed as second argument but '%s' is no valid seed\n", option,
                      argv[i + 2]);
          return false;
        }
        count = 2;
      }
      add_criterion(std::make_unique<LAScriterionKeepRandomFraction>(seed, fraction));
      args.consume(i, count);
      i += count;
      continue;
    }

    const FixedOption* fixed = find_fixed(name);
    if (fixed == nullptr) continue;  // not a filter option; left for other parsers
    Criterion criterion;
    if (!parse_fixed(args, i, *fixed, criterion)) return false;
    add_criterion(std::move(criterion));
  }

  bool any_keep = false, any_drop = false;
  for (int k = 0; k < 8; k++) {
    any_keep = any_keep || keep_extended[k] != 0;
    any_drop = any_drop || drop_extended[k] != 0;
  }
  if (any_keep && any_drop) {
    print_error("cannot use '-drop_extended_class' and '-keep_extended_class' simultaneously\n");
    return false;
  }
  if (any_keep) {
    for (int k = 0; k < 8; k++) drop_extended[k] = ~keep_extended[k];
    any_drop = true;
  }
  if (any_drop)
    add_criterion(std::make_unique<LAScriterionDropExtendedClassifications>(drop_extended));
  return true;
}

void LASfilter::usage() const {
  static const char* const kText =
      "Filter points based on their coordinates.\n"
      "  -keep_tile 631000 4834000 1000 (ll_x ll_y size)\n"
      "  -keep_circle 630250.00 4834750.00 100 (center_x center_y radius)\n"
      "  -keep_xy 630000 4834000 631000 4836000 (min_x min_y max_x max_y)\n"
      "  -drop_xy 630000 4834000 631000 4836000 (min_x min_y max_x max_y)\n"
      "  -keep_x 631500.50 631501.00 (min_x max_x)\n"
      "  -drop_x 631500.50 631501.00 (min_x max_x)\n"
      "  -drop_x_below 630000.50 (min_x)\n"
      "  -drop_x_above 630500.50 (max_x)\n"
      "  -keep_y 4834500.25 4834550.25 (min_y max_y)\n"
      "  -drop_y 4834500.25 4834550.25 (min_y max_y)\n"
      "  -drop_y_below 4834500.25 (min_y)\n"
      "  -drop_y_above 4836000.75 (max_y)\n"
      "  -keep_z 11.125 130.725 (min_z max_z)\n"
      "  -drop_z 11.125 130.725 (min_z max_z)\n"
      "  -drop_z_below 11.125 (min_z)\n"
      "  -drop_z_above 130.725 (max_z)\n"
      "  -keep_xyz 620000 4830000 100 621000 4831000 200 (min_x min_y min_z max_x max_y max_z)\n"
      "  -drop_xyz 620000 4830000 100 621000 4831000 200 (min_x min_y min_z max_x max_y max_z)\n"
      "Filter points based on their return numbering.\n"
      "  -keep_first -first_only -drop_first\n"
      "  -keep_last -last_only -drop_last\n"
      "  -keep_second_last -drop_second_last\n"
      "  -keep_first_of_many -keep_last_of_many\n"
      "  -drop_first_of_many -drop_last_of_many\n"
      "  -keep_middle -drop_middle\n"
      "  -keep_return 1 2 3\n"
      "  -drop_return 3 4\n"
      "  -keep_single -drop_single\n"
      "  -keep_double -drop_double\n"
      "  -keep_triple -drop_triple\n"
      "  -keep_quadruple -drop_quadruple\n"
      "  -keep_number_of_returns 5\n"
      "  -drop_number_of_returns 0\n"
      "Filter points based on the scanline flags.\n"
      "  -drop_scan_direction 0\n"
      "  -keep_scan_direction_change\n"
      "  -keep_edge_of_flight_line\n"
      "Filter points based on their intensity.\n"
      "  -keep_intensity 350 400\n"
      "  -drop_intensity_below 350\n"
      "  -drop_intensity_above 1000\n"
      "  -drop_intensity_between 4000 5000\n"
      "Filter points based on classifications or flags.\n"
      "  -keep_class 1 3 7\n"
      "  -drop_class 4 2\n"
      "  -keep_extended_class 43\n"
      "  -drop_extended_class 129 135\n"
      "  -drop_synthetic -keep_synthetic\n"
      "  -drop_keypoint -keep_keypoint\n"
      "  -drop_withheld -keep_withheld\n"
      "  -drop_overlap -keep_overlap\n"
      "Filter points based on their user data.\n"
      "  -keep_user_data 1\n"
      "  -drop_user_data 255\n"
      "  -keep_user_data_below 50\n"
      "  -keep_user_data_above 150\n"
      "  -keep_user_data_between 10 20\n"
      "  -drop_user_data_below 1\n"
      "  -drop_user_data_above 100\n"
      "  -drop_user_data_between 10 40\n"
      "Filter points based on their point source ID.\n"
      "  -keep_point_source 3\n"
      "  -keep_point_source_between 2 6\n"
      "  -drop_point_source 27\n"
      "  -drop_point_source_below 6\n"
      "  -drop_point_source_above 15\n"
      "  -drop_point_source_between 17 21\n"
      "Filter points based on their scan angle.\n"
      "  -keep_scan_angle -15 15\n"
      "  -drop_abs_scan_angle_above 15\n"
      "  -drop_abs_scan_angle_below 1\n"
      "  -drop_scan_angle_below -15\n"
      "  -drop_scan_angle_above 15\n"
      "  -drop_scan_angle_between -25 -23\n"
      "Filter points based on their gps time.\n"
      "  -keep_gps_time 11.125 130.725\n"
      "  -drop_gps_time_below 11.125\n"
      "  -drop_gps_time_above 130.725\n"
      "  -drop_gps_time_between 22.0 48.0\n"
      "Filter points based on their RGB/CIR/NIR channels.\n"
      "  -keep_RGB_red 1 1\n"
      "  -drop_RGB_red 5 7\n"
      "  -keep_RGB_green 30 100\n"
      "  -drop_RGB_green 2 2\n"
      "  -keep_RGB_blue 0 0\n"
      "  -keep_RGB_nir 64 127\n"
      "  -keep_RGB_greenness 200 65535\n"
      "  -keep_NDVI 0.2 0.7 -keep_NDVI_from_CIR -0.1 0.5\n"
      "  -keep_NDVI_intensity_is_NIR 0.4 0.8 -keep_NDVI_green_is_NIR -0.2 0.2\n"
      "Filter points based on their wavepacket.\n"
      "  -keep_wavepacket 1\n"
      "  -drop_wavepacket 0\n"
      "Filter points based on extra attributes.\n"
      "  -keep_attribute_above 0 5.0\n"
      "  -drop_attribute_below 1 1.5\n"
      "Filter points with simple thinning.\n"
      "  -keep_every_nth 2 -drop_every_nth 3\n"
      "  -keep_random_fraction 0.1\n"
      "  -keep_random_fraction 0.1 4711\n"
      "  -thin_with_grid 1.0\n"
      "  -thin_pulses_with_time 0.0001\n"
      "  -thin_points_with_time 0.000001\n"
      "Boolean combination of filters.\n"
      "  -filter_and\n";
  print_message("%s", kText);
}
