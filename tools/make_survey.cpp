// make_survey -o survey.las [-lines 4] [-points 100000] [-format 1] [-seed 1]
//             [-feet] [-zero_ids] [-channels 1] [-turn 90] [-split]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "las/core/messages.hpp"
#include "tools/survey_generator.hpp"

int main(int argc, char* argv[]) {
  SurveySpec spec;
  const char* out = nullptr;
  bool split = false;
  for (int i = 1; i < argc; i++) {
    const bool has_value = i + 1 < argc;
    if (strcmp(argv[i], "-o") == 0 && has_value) {
      out = argv[++i];
    } else if (strcmp(argv[i], "-lines") == 0 && has_value) {
      spec.flightlines = atoi(argv[++i]);
    } else if (strcmp(argv[i], "-points") == 0 && has_value) {
      spec.points = atoll(argv[++i]);
    } else if (strcmp(argv[i], "-format") == 0 && has_value) {
      spec.point_type = U8(atoi(argv[++i]));
    } else if (strcmp(argv[i], "-seed") == 0 && has_value) {
      spec.seed = U32(strtoul(argv[++i], nullptr, 10));
    } else if (strcmp(argv[i], "-channels") == 0 && has_value) {
      spec.scanner_channels = atoi(argv[++i]);
    } else if (strcmp(argv[i], "-turn") == 0 && has_value) {
      spec.turn_seconds = atof(argv[++i]);
    } else if (strcmp(argv[i], "-feet") == 0) {
      spec.in_feet = true;
    } else if (strcmp(argv[i], "-split") == 0) {
      split = true;
    } else if (strcmp(argv[i], "-zero_ids") == 0) {
      spec.zero_point_source = true;
    } else {
      print_error("cannot understand argument '%s'\n", argv[i]);
      return 1;
    }
  }
  if (!out || spec.flightlines < 1 || spec.points < 1 || spec.point_type > 10) {
    print_message(
        "usage: make_survey -o survey.las [-lines 4] [-points 100000] [-format 1]\n"
        "                   [-seed 1] [-feet] [-zero_ids] [-channels 1] [-turn 90] [-split]\n");
    return 1;
  }
  // With -split, "a.las" becomes "a_1.las", "a_2.las", ...
  const std::string name = out ? out : "";
  const size_t dot = name.rfind('.');
  const bool ok = split && dot != std::string::npos
                      ? write_survey_split(spec, name.substr(0, dot), name.substr(dot + 1))
                      : write_survey(spec, name);
  if (!ok) {
    print_error("could not write survey '%s'\n", out);
    return 1;
  }
  return 0;
}
