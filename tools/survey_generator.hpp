// A synthetic airborne survey: parallel flightlines flown back and forth,
// each scanned across track with realistic scan angles and GPS times, so
// that neighbouring strips overlap. Used by the demo, tests and benchmarks.
#pragma once

#include <functional>
#include <string>

#include "las/core/types.hpp"

class LASheader;
class LASpoint;

struct SurveySpec {
  int flightlines = 4;
  I64 points = 100000;         // in all, spread evenly over the flightlines
  U8 point_type = 1;           // 0-10; 6 and up are written as LAS 1.4
  double line_length = 600.0;  // metres (or feet) along track
  double swath = 200.0;        // across track
  double overlap = 0.3;        // fraction of the swath shared by neighbours
  double max_scan_angle = 20.0;
  double turn_seconds = 90.0;  // GPS time between two flightlines
  U32 seed = 1;
  bool zero_point_source = false;  // all IDs 0, as in files that need recovery
  bool in_feet = false;            // geo keys declare feet
  int scanner_channels = 1;        // channels 0..n-1 alternate (point types 6-10)
};

// Calls `emit` for every point in flight order. The point must have been
// given the layout of spec.point_type and a header with the scale and offset.
void generate_survey(const SurveySpec& spec, LASpoint& point,
                     const std::function<bool(const LASpoint&)>& emit);

// A header for the survey: version, point type, scale, offset, geo keys.
void make_survey_header(const SurveySpec& spec, LASheader& header);

// Writes the survey as LAS (or VZK when the name ends in ".vzk").
bool write_survey(const SurveySpec& spec, const std::string& path);
// Writes one file per flightline, "<stem>_<line>.<extension>", lines from 1.
bool write_survey_split(const SurveySpec& spec, const std::string& stem,
                        const std::string& extension);
