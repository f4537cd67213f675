#include "tool/trevalon_options.hpp"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "las/core/argcursor.hpp"
#include "las/core/messages.hpp"

const char* const kSystemIdentifier = "trevalon by the trevalon team";
const char* const kGeneratingSoftware = "trevalon64 (200304)";

namespace {

constexpr size_t kCommandLineLimit = 4096;

bool starts_with(const char* text, const char* prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

}  // namespace

void preprocess_arguments(int argc, char* argv[], TrevalonOptions& options) {
  bool assemble = false;
  for (int i = 1; i < argc; i++) {
    if (static_cast<unsigned char>(argv[i][0]) == 0x96) argv[i][0] = '-';
    if (strcmp(argv[i], "-feet") == 0) options.feet = true;
    if (starts_with(argv[i], "-otrl")) assemble = true;
  }
  if (!assemble) return;
  std::string text;
  for (int i = 0; i < argc; i++) {
    if (i) text += ' ';
    text += argv[i];
  }
  // The layers store at most this much; cut at a whole byte, never beyond.
  if (text.size() > kCommandLineLimit - 1) text.resize(kCommandLineLimit - 1);
  options.command_line = text;
}

ToolParse parse_tool_options(int argc, char* argv[], TrevalonOptions& options) {
  ArgCursor args(argc, argv);
  for (int i = 1; i < argc; i++) {
    if (args.blank(i)) continue;
    const char* a = argv[i];
    if (args.is(i, "-h") || args.is(i, "-help")) {
      print_version();
      print_usage();
      return ToolParse::EXIT_OK;
    } else if (args.is(i, "-version")) {
      print_version();
      return ToolParse::EXIT_OK;
    } else if (args.is(i, "-v") || args.is(i, "-verbose")) {
      options.verbose = true;
    } else if (args.is(i, "-vv") || args.is(i, "-very_verbose")) {
      options.verbose = true;
      options.very_verbose = true;
    } else if (args.is(i, "-quiet")) {
      options.quiet = true;
    } else if (args.is(i, "-wait")) {
      options.wait = true;
    } else if (args.is(i, "-gui")) {
      print_warning("not compiled with GUI support. ignoring '-gui' ...\n");
    } else if (args.is(i, "-cores")) {
      print_warning("not compiled with multi-core batching. ignoring '-cores' ...\n");
      if (args.has(i, 1)) {
        args.consume(i, 1);
        i++;
        continue;
      }
    } else if (args.is(i, "-cpu64")) {
      print_warning("not compiled with 64 bit support. ignoring '-cpu64' ...\n");
    } else if (args.is(i, "-step")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: value\n", a);
        return ToolParse::EXIT_ERROR;
      }
      F32 step;
      if (!args.scan(i + 1, "%f", &step) || !std::isfinite(step)) {
        print_error("'%s' needs 1 argument: value but '%s' in not a valid value\n", a, argv[i + 1]);
        return ToolParse::EXIT_ERROR;
      }
      if (step <= 0.0f) {
        print_error("'%s' needs 1 argument: value but %g in not a valid value\n", a, double(step));
        return ToolParse::EXIT_ERROR;
      }
      options.step = step;
      args.consume(i, 1);
      i++;
      continue;
    } else if (args.is(i, "-flag_as_withheld")) {
      options.flag_as_withheld = true;
    } else if (args.is(i, "-flag_as_overlap")) {
      options.flag_as_overlap = true;
    } else if (args.is(i, "-remove_overage")) {
      options.remove_overage = true;
    } else if (args.is(i, "-classify_as")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: classification code\n", a);
        return ToolParse::EXIT_ERROR;
      }
      options.classify_as = atoi(argv[i + 1]);
      args.consume(i, 1);
      i++;
      continue;
    } else if (args.is(i, "-entire_overlap")) {
      options.entire_overlap = true;
    } else if (args.is(i, "-recover_flightlines")) {
      options.recover_flightlines = true;
    } else if (args.is(i, "-recover_flightlines_interval")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: interval size\n", a);
        return ToolParse::EXIT_ERROR;
      }
      const F32 interval = F32(atof(argv[i + 1]));
      if (!(interval > 0.0f) || !std::isfinite(interval)) {
        print_error("'%s' needs 1 argument: interval size but '%s' in not a valid value\n", a,
                    argv[i + 1]);
        return ToolParse::EXIT_ERROR;
      }
      options.recovery_interval = interval;
      options.recover_flightlines = true;
      args.consume(i, 1);
      i++;
      continue;
    } else if (args.is(i, "-itrldir")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: directory name\n", a);
        return ToolParse::EXIT_ERROR;
      }
      options.apply_layers = true;
      options.layers_input_directory = argv[i + 1];
      args.consume(i, 1);
      i++;
      continue;
    } else if (args.is(i, "-otrldir")) {
      if (!args.has(i, 1)) {
        print_error("'%s' needs 1 argument: directory name\n", a);
        return ToolParse::EXIT_ERROR;
      }
      options.write_layers = true;
      options.layers_output_directory = argv[i + 1];
      args.consume(i, 1);
      i++;
      continue;
    } else if (args.is(i, "-itrl")) {
      options.apply_layers = true;
      // An optional count: a number, possibly negative, but never a file name.
      const char* next = (i + 1 < argc) ? argv[i + 1] : "";
      if ((next[0] >= '0' && next[0] <= '9') ||
          (next[0] == '-' && next[1] >= '0' && next[1] <= '9')) {
        options.layers_to_apply = atoi(next);
        args.consume(i, 1);
        i++;
        continue;
      }
    } else if (starts_with(a, "-itrl")) {
      options.apply_layers = true;
    } else if (starts_with(a, "-otrl")) {
      options.write_layers = true;
    } else {
      print_error("cannot understand argument '%s'\n", a);
      return ToolParse::EXIT_ERROR;
    }
    args.consume(i);
  }
  return ToolParse::RUN;
}

void print_version() {
  print_message("trevalon (Quintrel) version 200304\n");
}

void print_usage() {
  print_message("usage:\n");
  print_message("trevalon -i tile.las -o out.las\n");
  print_message("trevalon -i tile.vzk -o out.vzk -feet\n");
  print_message("trevalon -i tile.las -o out.vzk -flag_as_withheld\n");
  print_message("trevalon -i tile.las -o out.vzk -flag_as_overlap\n");
  print_message("trevalon -i tile.vzk -o out.las -remove_overage\n");
  print_message("trevalon -i tile.vzk -o out.las -classify_as 18\n");
  print_message("trevalon -i *.las -files_are_flightlines\n");
  print_message("trevalon -h\n");
}
