// The tool's own command-line options, parsed after the projection, input
// and output parsers have taken theirs.
#pragma once

#include <string>

#include "las/core/types.hpp"
#include "tool/overage_decision.hpp"

struct TrevalonOptions {
  bool verbose = false;
  bool very_verbose = false;
  bool quiet = false;
  bool wait = false;
  bool feet = false;
  F32 step = 1.0f;
  bool flag_as_withheld = false;
  bool flag_as_overlap = false;
  bool remove_overage = false;
  I32 classify_as = 12;
  bool entire_overlap = false;
  bool recover_flightlines = false;
  F32 recovery_interval = 10.0f;
  bool apply_layers = false;
  I32 layers_to_apply = 2147483647;
  std::string layers_input_directory;
  bool write_layers = false;
  std::string layers_output_directory;
  std::string command_line;  // kept for the layers written, at most 4096 bytes

  // The marking that applies when several were given.
  OverageDecision::Marking marking() const {
    if (remove_overage) return OverageDecision::REMOVE;
    if (flag_as_withheld) return OverageDecision::FLAG_WITHHELD;
    if (flag_as_overlap) return OverageDecision::FLAG_OVERLAP;
    return OverageDecision::CLASSIFY;
  }
};

// What option parsing asks the driver to do next.
enum class ToolParse { RUN, EXIT_OK, EXIT_ERROR };

// Before the other parsers: replaces a leading en dash (0x96) by '-', notes
// -feet, and assembles the command line text when layers are written.
void preprocess_arguments(int argc, char* argv[], TrevalonOptions& options);

// Parses what the other parsers left. Prints its own messages.
ToolParse parse_tool_options(int argc, char* argv[], TrevalonOptions& options);

void print_version();
void print_usage();

// The texts the output header carries.
extern const char* const kSystemIdentifier;
extern const char* const kGeneratingSoftware;
