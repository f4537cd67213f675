#include "tool/trevalon_driver.hpp"

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "las/core/lasheader.hpp"
#include "las/core/messages.hpp"
#include "las/core/platform.hpp"
#include "las/io/lasreader.hpp"
#include "las/io/lasreader_factory.hpp"
#include "las/io/laswriter.hpp"
#include "las/io/laswriter_factory.hpp"
#include "las/layers/amendor.hpp"
#include "las/layers/lasapply.hpp"
#include "las/layers/laswriter_deleted.hpp"
#include "las/layers/trl_file.hpp"
#include "proj/projection_converter.hpp"
#include "tool/flightline_recovery.hpp"
#include "tool/overage_decision.hpp"
#include "tool/trevalon_options.hpp"

namespace {

// Sentinel of run_* results: go on with the run.
constexpr int kContinue = -1;
// Every layer of the TRL file.
constexpr I32 kAllLayers = INT_MAX;
// Buffer of the TRL file streams.
constexpr U32 kLayersBuffer = 65536;

class TrevalonRun {
 public:
  TrevalonRun(int argc, char* argv[]) : argc_(argc), argv_(argv) {}
  int run();

 private:
  int startup();
  bool prompt_for_files();
  int run_per_input();
  int run_files_as_flightlines();
  // One input of per-input mode; kContinue, or the exit code that ends the run.
  int process_input(std::unique_ptr<LASreader> reader, double start);
  // Reads every point once to number the flightlines; the caller reopens.
  bool recover_flightlines(LASreader& reader, const char* name, FlightlineRecovery& recovery,
                           bool* recovered);
  // With -itrl: the reader wrapped in a LASapply that loads `count` layers,
  // or, when the layers file cannot be opened or loaded, the plain reader.
  std::unique_ptr<LASreader> apply_layers(std::unique_ptr<LASreader> reader,
                                          const std::string& name, I32 count, bool again);
  // Back to the first point; a reader with layers is opened anew.
  bool reopen_input(std::unique_ptr<LASreader>& reader, const std::string& name, I32 count);
  F32 step_for(const LASheader& header);
  OverageDecision::Settings overage_settings(F32 step, bool files_are_flightlines) const;
  void prepare_output_header(const LASheader& input, LASheader& output) const;
  // A point writer, or with -otrl an Amendor over `reader` (then `header`
  // must outlive the writer).
  std::unique_ptr<LASwriter> open_output(LASheader& header, const char* input_name,
                                         const LASreader& reader);
  std::unique_ptr<LASwriter> open_amendor(LASheader& header, const char* input_name,
                                          const LASreader& reader);
  // Closes the writer; a failed output is removed so that no file claims
  // points it does not hold (a layers file keeps only its earlier layers).
  // False when the output could not be finished.
  bool finish_output(std::unique_ptr<LASwriter> writer, const LASheader& header, bool ok);
  bool flag_as_overlap_skips(const LASreader& reader, const char* name) const;
  enum class PassResult { OK, FAILED, LOOKUP_FAILED };
  // Second pass over one input: judges, marks and writes every point, then
  // finishes the output (removed when the pass failed).
  PassResult mark_and_write(LASreader& reader, OverageDecision& overage,
                            std::unique_ptr<LASwriter> writer, LASheader& header,
                            const std::string& name, FlightlineRecovery* recovery);
  int end(int code);

  int argc_;
  char** argv_;
  bool prompted_ = false;
  TrevalonOptions options_;
  ProjectionConverter projection_;
  LASreaderFactory readers_;
  LASwriterFactory writers_;
  bool projection_given_ = false;
  std::vector<LASvlrKeyEntry> geo_keys_;
  std::vector<F64> geo_doubles_;
  bool units_in_feet_ = false;
  bool failed_ = false;
  std::string output_name_;             // of the output being written
  std::set<std::string> layers_files_;  // written by this run
};

// Cut at the field's size and zero-padded.
void set_fixed_text(char (&field)[32], const char* text) {
  memset(field, 0, sizeof(field));
  memcpy(field, text, std::min(strlen(text), sizeof(field)));
}

const char* or_piped(const char* name) {
  return (name && name[0]) ? name : "piped file";
}

int TrevalonRun::end(int code) {
  if (options_.wait || prompted_) {
    print_message("<press ENTER>\n");
    getc(stdin);
  }
  return code;
}

bool TrevalonRun::prompt_for_files() {
  print_message("%s is better run in the command line\n", argv_[0]);
  char buffer[256];
  auto ask = [&buffer](const char* prompt, std::string& out) {
    print_message("%s", prompt);
    if (!fgets(buffer, sizeof(buffer), stdin)) return false;
    size_t n = strlen(buffer);
    // Only the line end goes; a name may end in any other character.
    if (n > 0 && buffer[n - 1] == '\n') buffer[--n] = '\0';
    if (n > 0 && buffer[n - 1] == '\r') buffer[--n] = '\0';
    out.assign(buffer, n);
    return true;
  };
  std::string input, output;
  if (!ask("enter input file: ", input) || input.empty()) return false;
  readers_.add_file_name(input.c_str());
  if (ask("enter output file: ", output) && !output.empty()) writers_.set_file_name(output.c_str());
  return true;
}

int TrevalonRun::startup() {
  if (argc_ == 1) {
    prompted_ = true;
    if (!prompt_for_files()) {
      print_error("no input specified\n");
      return end(1);
    }
  } else {
    preprocess_arguments(argc_, argv_, options_);
    if (!projection_.parse(argc_, argv_)) return 1;
    if (!readers_.parse(argc_, argv_, true)) return 1;
    if (!writers_.parse(argc_, argv_)) return 1;
    switch (parse_tool_options(argc_, argv_, options_)) {
      case ToolParse::EXIT_OK:
        return 0;
      case ToolParse::EXIT_ERROR:
        return 1;
      case ToolParse::RUN:
        break;
    }
    if (options_.apply_layers || options_.write_layers) {
      if (!options_.quiet) {
        print_warning("do not expect TRL files to work across different versions\n");
        print_message("         of Quintrel because the development of Tierlings is still\n");
        print_message("         not completed. this is just an awesome prototype as proof\n");
        print_message("         of concept. we continue to gather community input ... (-;\n");
      }
      if (options_.apply_layers) {
        if (readers_.is_buffered() && readers_.get_file_count() > 1) {
          print_error("on-the-fly buffering and '-itrl' cannot currently be combined.\n");
          return 1;
        }
        if (readers_.is_piped()) {
          print_error("cannot use '-itrl' for piped input\n");
          return 1;
        }
      }
      if (options_.write_layers && readers_.is_inside()) {
        print_error("inside queries and '-otrl' cannot currently be combined.\n");
        return 1;
      }
      // Layers record and replay every point of a named file, before any
      // filter or transform: piped input has no name, and the stored and
      // pipe-on readers filter before the layers could see the points.
      if (options_.write_layers && readers_.is_piped()) {
        print_error("cannot use '-otrl' for piped input\n");
        return 1;
      }
      if (readers_.is_stored() || readers_.is_pipe_on()) {
        print_error("'%s' and layers files cannot currently be combined.\n",
                    readers_.is_stored() ? "-stored" : "-pipe_on");
        return 1;
      }
    }
  }
  if (readers_.get_file_count() == 0 && !readers_.is_piped()) {
    print_error("no input specified\n");
    return end(1);
  }
  const char* first = readers_.get_file_count() ? readers_.get_file_name(0) : nullptr;
  const char* output = writers_.get_file_name();
  if (first && output && (strcmp(first, output) == 0 || platform::same_file(first, output))) {
    print_error("input and output file name are identical\n");
    print_usage();
    return end(1);
  }
  // Opening an output must never truncate an input still to be read.
  writers_.set_protected_files(readers_.get_file_names());

  projection_given_ = projection_.has_projection(true);
  if (projection_given_) {
    std::vector<GeoKeyEntry> keys;
    if (projection_.get_geo_keys(true, keys, geo_doubles_)) {
      for (const GeoKeyEntry& k : keys) {
        geo_keys_.push_back(LASvlrKeyEntry{k.key_id, k.tiff_tag_location, k.count, k.value_offset});
      }
    }
  }
  return kContinue;
}

F32 TrevalonRun::step_for(const LASheader& header) {
  if (!projection_given_) {
    if (header.vlr_geo_keys && header.geo_key_entries) {
      projection_.set_projection_from_geo_keys(
          int(header.geo_key_count), reinterpret_cast<const GeoKeyEntry*>(header.geo_key_entries),
          header.geo_ascii_params, int(header.geo_ascii_params_size), header.geo_double_params,
          int(header.geo_double_params_count));
    } else {
      projection_.set_source_horizontal_units_to_meter();
      projection_.set_source_vertical_units_to_meter();
    }
  }
  if (options_.feet || projection_.horizontal_unit_code(true) != 9001) units_in_feet_ = true;
  return units_in_feet_ ? options_.step * 3.0f : options_.step;
}

OverageDecision::Settings TrevalonRun::overage_settings(F32 step,
                                                        bool files_are_flightlines) const {
  OverageDecision::Settings s;
  s.step = step;
  s.files_are_flightlines = files_are_flightlines;
  s.entire_overlap = options_.entire_overlap;
  s.marking = options_.marking();
  s.classification = options_.classify_as;
  return s;
}

void TrevalonRun::prepare_output_header(const LASheader& input, LASheader& output) const {
  output.copy_from(input);
  set_fixed_text(output.system_identifier, kSystemIdentifier);
  set_fixed_text(output.generating_software, kGeneratingSoftware);
  if (projection_given_ && !geo_keys_.empty()) {
    output.set_geo_keys(I32(geo_keys_.size()), geo_keys_.data());
    if (geo_doubles_.empty()) {
      output.remove_vlr("LASF_Projection", 34736);
    } else {
      output.set_geo_double_params(I32(geo_doubles_.size()), geo_doubles_.data());
    }
    output.remove_vlr("LASF_Projection", 34737);
  }
}

std::unique_ptr<LASwriter> TrevalonRun::open_amendor(LASheader& header, const char* input_name,
                                                     const LASreader& reader) {
  auto amendor = std::make_unique<Amendor>(&header);
  // Each layer carries the ignore rules it was made under.
  std::vector<F64> parameters;
  const OverageDecision::Marking marking = options_.marking();
  if (marking == OverageDecision::CLASSIFY) {
    parameters = {1.0, F64(options_.classify_as), 1.0};
  }
  if (const LASignore* ignore = readers_.get_ignore()) ignore->encode(parameters);
  const U32 n = U32(parameters.size());
  const F64* list = parameters.empty() ? nullptr : parameters.data();
  const char* text = options_.command_line.c_str();
  const char* name = or_piped(input_name);
  bool added = false;
  switch (marking) {
    case OverageDecision::REMOVE:
      added = amendor->delete_points(0x30, text, n, list);
      if (!added) print_error("adding layer delete point for '%s'\n", name);
      break;
    case OverageDecision::FLAG_WITHHELD:
      added = amendor->replace_field("withheld_flag", 0x30, text, n, list);
      if (!added) print_error("adding layer replace withheld_flag for '%s'\n", name);
      break;
    case OverageDecision::FLAG_OVERLAP:
      added = amendor->replace_field("overlap_flag", 0x30, text, n, list);
      if (!added) print_error("adding layer replace overlap_flag for '%s'\n", name);
      break;
    case OverageDecision::CLASSIFY:
      added = amendor->replace_field("classification", 0x30, text, n, list);
      if (!added) print_error("adding layer replace classification for '%s'\n", name);
      break;
  }
  if (!added) return nullptr;
  // A layer recorded over points read without their layers must not join
  // those layers: reading would apply it after them, to other points.
  const char* directory = options_.apply_layers ? options_.layers_input_directory.c_str()
                                                : options_.layers_output_directory.c_str();
  const std::string trl_name = trl::file_name(input_name ? input_name : "", directory);
  if (options_.apply_layers && !reader.has_layers() && platform::file_exists(trl_name.c_str())) {
    print_error("layers of '%s' could not be applied. not adding to '%s'.\n", name,
                trl_name.c_str());
    print_error("opening amendor file for '%s'\n", name);
    return nullptr;
  }
  // Two inputs of one run with one layers file would overwrite each other.
  if (!layers_files_.insert(trl_name).second) {
    print_error("layers file '%s' was already written for another input\n", trl_name.c_str());
    print_error("opening amendor file for '%s'\n", name);
    return nullptr;
  }
  // Appending to the layers just applied keeps them in one file.
  amendor->set_directory(options_.apply_layers ? options_.layers_input_directory.c_str()
                                               : options_.layers_output_directory.c_str());
  amendor->set_protected_files(readers_.get_file_names());
  if (!amendor->open(input_name ? input_name : "", &reader, options_.apply_layers, false,
                     kLayersBuffer)) {
    print_error("opening amendor file for '%s'\n", name);
    return nullptr;
  }
  return amendor;
}

std::unique_ptr<LASwriter> TrevalonRun::open_output(LASheader& header, const char* input_name,
                                                    const LASreader& reader) {
  if (options_.write_layers) return open_amendor(header, input_name, reader);
  if (!writers_.active()) writers_.make_file_name(input_name, -1);
  output_name_ = writers_.get_file_name() ? writers_.get_file_name() : "";
  std::unique_ptr<LASwriter> writer = writers_.open(&header);
  if (!writer) {
    print_error("could not open laswriter\n");
    return nullptr;
  }
  if (options_.remove_overage) {
    auto deleted = std::make_unique<LASwriterDeleted>();
    deleted->set_writer(std::move(writer));
    return deleted;
  }
  return writer;
}

bool TrevalonRun::finish_output(std::unique_ptr<LASwriter> writer, const LASheader& header,
                                bool ok) {
  if (!writer) return false;
  if (auto* amendor = dynamic_cast<Amendor*>(writer.get())) {
    if (!ok) {
      amendor->discard();
      return false;
    }
    return amendor->close() >= 0;
  }
  // Removal changes counts, returns and bounds: the header follows what was written.
  if (ok && options_.remove_overage) writer->update_header(&header, true);
  writer->close();
  writer.reset();
  if (!ok && !output_name_.empty() && !writers_.get_use_stdout()) {
    remove(output_name_.c_str());
  }
  return ok;
}

bool TrevalonRun::flag_as_overlap_skips(const LASreader& reader, const char* name) const {
  if (!options_.flag_as_overlap || options_.remove_overage || options_.flag_as_withheld)
    return false;
  const U8 type = reader.header.point_data_format & 0x7F;
  if (type >= 6) return false;
  print_warning(
      "option '-flag_as_overlap' makes no sense for point type %d. use only for point types 6 or "
      "higher.\n",
      int(type));
  print_message("         skipping '%s' ... \n", or_piped(name));
  return true;
}

bool TrevalonRun::recover_flightlines(LASreader& reader, const char* name,
                                      FlightlineRecovery& recovery, bool* recovered) {
  *recovered = false;
  if (!reader.point.has_gps_time) {
    print_warning("cannot recover flightlines for points of data format %d in '%s'\n",
                  int(reader.header.point_data_format & 0x7F), or_piped(name));
    return true;
  }
  const LASignore* ignore = readers_.get_ignore();
  F64 last = 0.0;
  while (reader.read_point()) {
    if (ignore && ignore->ignore(reader.point)) continue;
    last = reader.point.gps_time;
    if (!recovery.add(last)) {
      // A key beyond 32 bits can never be found again.
      print_error("could not find interval %d for GPS time %g in map\n",
                  last < 0 ? I32_MIN : I32_MAX, last);
      print_usage();
      return false;
    }
  }
  if (reader.failed()) return false;
  recovery.finish(or_piped(name), last, options_.verbose);
  *recovered = true;
  return true;
}

std::unique_ptr<LASreader> TrevalonRun::apply_layers(std::unique_ptr<LASreader> reader,
                                                     const std::string& name, I32 count,
                                                     bool again) {
  auto apply = std::make_unique<LASapply>();
  apply->set_directory(options_.layers_input_directory.c_str());
  if (!apply->open(name.c_str(), std::move(reader), kLayersBuffer)) {
    print_warning(again ? "could not re-open TRL file ... skipping\n"
                        : "could not open TRL file ... skipping\n");
    return apply->release_reader();
  }
  if (!apply->load(count)) {
    print_warning(again ? "could not re-load layers ... skipping\n"
                        : "could not load layers ... skipping\n");
    // The reader comes back with its header, query, filter, transform and
    // ignore rules, at its first point.
    return apply->release_reader();
  }
  return apply;
}

bool TrevalonRun::reopen_input(std::unique_ptr<LASreader>& reader, const std::string& name,
                               I32 count) {
  if (!reader->has_layers()) {
    if (!readers_.reopen(reader.get())) {
      print_error("could not re-open lasreader\n");
      return false;
    }
    return true;
  }
  // Layers decode only forward: the input and its layers start over.
  reader.reset();
  std::unique_ptr<LASreader> fresh;
  if (readers_.is_merged()) {
    readers_.rewind();
    fresh = readers_.open();
  } else {
    // This input again, not the first of the list.
    fresh = readers_.open(name.c_str(), false);
  }
  if (!fresh) {
    print_error("could not re-open modified lasreader\n");
    return false;
  }
  reader = apply_layers(std::move(fresh), name, count, true);
  return true;
}

TrevalonRun::PassResult TrevalonRun::mark_and_write(LASreader& reader, OverageDecision& overage,
                                                    std::unique_ptr<LASwriter> writer,
                                                    LASheader& header, const std::string& name,
                                                    FlightlineRecovery* recovery) {
  overage.start_input();
  bool ok = true;
  LASpoint& point = reader.point;
  // Layers are recorded from the point as read and a marked copy of it.
  const bool layered = options_.write_layers;
  LASpoint scratch;
  if (layered && !scratch.init_items(&reader.header, point.items, &reader.header)) {
    print_error("cannot set up the points of '%s'\n", or_piped(name.c_str()));
    finish_output(std::move(writer), header, false);
    return PassResult::FAILED;
  }
  LASpoint& out = layered ? scratch : point;
  while (reader.read_point()) {
    if (layered) scratch.copy_from(point);
    if (recovery && !overage.excludes(point)) {
      U32 line;
      if (!recovery->lookup(point.gps_time, &line)) {
        finish_output(std::move(writer), header, false);
        print_usage();
        return PassResult::LOOKUP_FAILED;
      }
      if (layered) {
        overage.judge_and_mark(point, scratch, U16(line));
      } else {
        overage.judge_and_mark(point, U16(line));
      }
    } else if (layered) {
      overage.judge_and_mark(point, scratch);
    } else {
      overage.judge_and_mark(point);
    }
    if (!writer->write_point(&out)) {
      ok = false;
      break;
    }
    if (options_.remove_overage) writer->update_inventory(&out);
  }
  if (reader.failed()) {
    print_error("reading points of '%s' failed. output removed.\n", or_piped(name.c_str()));
    ok = false;
  } else if (!ok) {
    print_error("writing points of '%s' failed. output removed.\n", or_piped(name.c_str()));
  }
  if (!finish_output(std::move(writer), header, ok)) ok = false;
  return ok ? PassResult::OK : PassResult::FAILED;
}

int TrevalonRun::process_input(std::unique_ptr<LASreader> reader, double start) {
  const std::string name = readers_.get_file_name() ? readers_.get_file_name() : "";
  if (flag_as_overlap_skips(*reader, name.c_str())) return kContinue;
  if (options_.apply_layers) reader = apply_layers(std::move(reader), name, kAllLayers, false);

  FlightlineRecovery recovery(options_.recovery_interval);
  bool recovered = false;
  if (options_.recover_flightlines) {
    if (!recover_flightlines(*reader, name.c_str(), recovery, &recovered)) return 1;
    // The count given with -itrl limits the layers from here on.
    if (recovered && !reopen_input(reader, name, options_.layers_to_apply)) return 1;
  }
  const F32 step = step_for(reader->header);
  if (options_.verbose) {
    print_message("processing file '%s' with %" PRId64 " points using step %g.\n", name.c_str(),
                  reader->point_count, double(step));
  }
  OverageDecision overage(overage_settings(step, false), readers_.get_ignore());
  const char* word = overage.word();

  // First pass.
  while (reader->read_point()) {
    if (!recovered) {
      overage.add_point(reader->point);
    } else if (!overage.excludes(reader->point)) {
      U32 line;
      if (!recovery.lookup(reader->point.gps_time, &line)) {
        print_usage();
        return 1;
      }
      overage.add_point(reader->point, U16(line));
    }
  }
  if (reader->failed()) {
    print_error("reading points of '%s' failed. no output written.\n", or_piped(name.c_str()));
    failed_ = true;
    return kContinue;
  }
  // Left open: the reopen below closes it, after the per-pass state was reset.

  if (options_.very_verbose) print_message("found %u flightlines\n", overage.flightline_count());
  if (overage.flightline_count() == 1) {
    print_warning("input has only one flightline ID %d. there is no overlap to compute.\n",
                  int(overage.flightline_id(0)));
  }
  if (options_.very_verbose) {
    print_message("size of %s grid is %" PRId64 " x %" PRId64 ".\n", word, overage.grid_columns(),
                  overage.grid_rows());
  }
  const U32 filled = overage.fill_holes();
  if (options_.very_verbose)
    print_message("filled a total of %u empty %s grid cells.\n", filled, word);
  double clock = platform::elapsed_seconds();
  if (options_.verbose)
    print_message("took %g sec. computing flightline %s.\n", clock - start, word);
  overage.decide();
  if (options_.verbose) {
    print_message("took %g sec. outputting ...\n", platform::elapsed_seconds() - clock);
  }
  clock = platform::elapsed_seconds();

  if (!reopen_input(reader, name, kAllLayers)) return 1;
  LASheader header;
  prepare_output_header(reader->header, header);
  std::unique_ptr<LASwriter> writer = open_output(header, name.c_str(), *reader);
  if (!writer) return 1;

  // Second pass.
  const PassResult result = mark_and_write(*reader, overage, std::move(writer), header, name,
                                           recovered ? &recovery : nullptr);
  reader->close();
  if (result == PassResult::LOOKUP_FAILED) return 1;
  if (result == PassResult::FAILED) {
    failed_ = true;
    return kContinue;
  }
  if (options_.verbose) {
    const double now = platform::elapsed_seconds();
    print_message("took %g sec. found %" PRId64 " %s points.\n", now - clock,
                  overage.marked_points(), word);
    // A layers file is named after its input.
    const std::string& done = options_.write_layers ? name : output_name_;
    print_message("done with '%s'. total time %g sec.\n",
                  done.empty() ? "piped file" : done.c_str(), now - start);
  }
  return kContinue;
}

int TrevalonRun::run_per_input() {
  if (readers_.is_piped()) readers_.set_stored(true);
  while (readers_.has_next()) {
    const double start = platform::elapsed_seconds();
    std::unique_ptr<LASreader> reader = readers_.open();
    if (!reader) {
      print_error("could not open lasreader\n");
      return end(1);
    }
    const std::string name = readers_.get_file_name() ? readers_.get_file_name() : "";
    int code = kContinue;
    try {
      code = process_input(std::move(reader), start);
    } catch (const std::bad_alloc&) {
      print_error("processing file '%s'. maybe out of memory?\n", name.c_str());
      if (!output_name_.empty() && !writers_.get_use_stdout()) remove(output_name_.c_str());
      failed_ = true;
    }
    if (code != kContinue) return end(code);
    writers_.set_file_name(nullptr);
    output_name_.clear();
  }
  return end(failed_ ? 1 : 0);
}

int TrevalonRun::run_files_as_flightlines() {
  const double start = platform::elapsed_seconds();
  const size_t files = readers_.get_file_count();
  if (files == 1) print_warning("input has only one flightline. there is no overlap to compute.\n");
  bool have_step = false;
  F32 step = options_.step;
  std::unique_ptr<OverageDecision> overage;
  // Standard input cannot be opened twice: its points are kept in memory and
  // its reader is reopened for the second pass.
  if (readers_.is_piped()) readers_.set_stored(true);
  std::unique_ptr<LASreader> piped;
  try {
    // First pass: one raster per input.
    while (readers_.has_next()) {
      std::unique_ptr<LASreader> reader = readers_.open();
      const char* name = readers_.get_file_name();
      if (!reader) {
        print_error("could not open lasreader for '%s'\n", or_piped(name));
        return end(1);
      }
      const bool from_stdin = readers_.is_piped() && !readers_.has_next() && name == nullptr;
      if (flag_as_overlap_skips(*reader, name)) {
        if (from_stdin) piped = std::move(reader);
        continue;
      }
      if (options_.apply_layers) {
        reader = apply_layers(std::move(reader), name ? name : "", kAllLayers, false);
      }
      if (!have_step) {
        step = step_for(reader->header);
        have_step = true;
        overage =
            std::make_unique<OverageDecision>(overage_settings(step, true), readers_.get_ignore());
      }
      if (options_.verbose) {
        print_message("processing file '%s' with %" PRId64 " points using step %g.\n",
                      or_piped(name), reader->point_count, double(step));
      }
      overage->begin_file();
      while (reader->read_point()) overage->add_point(reader->point);
      if (reader->failed()) {
        print_error("reading points of '%s' failed.\n", or_piped(name));
        return end(1);
      }
      overage->end_file();
      reader->close();
      if (from_stdin) piped = std::move(reader);
    }
    if (!overage) {
      // Every input was skipped: nothing gets marked, but every input is
      // still written.
      overage =
          std::make_unique<OverageDecision>(overage_settings(step, true), readers_.get_ignore());
    }
    const char* word = overage->word();
    if (options_.very_verbose) {
      print_message("filled a total of %u empty %s grid cells.\n", overage->filled_cells(), word);
    }
    double clock = platform::elapsed_seconds();
    if (options_.verbose) {
      if (overage->excluded_points()) {
        print_message("ignored a total of %" PRId64 " points. ", overage->excluded_points());
      }
      print_message("took %g sec. computing flightline %s.\n", clock - start, word);
    }
    overage->decide();
    if (options_.verbose)
      print_message("took %g sec. outputting ...\n", platform::elapsed_seconds() - clock);
    clock = platform::elapsed_seconds();

    // Second pass: every input gets its own output.
    readers_.rewind();
    for (;;) {
      std::unique_ptr<LASreader> reader;
      const char* name = nullptr;
      if (readers_.has_next()) {
        reader = readers_.open();
        name = readers_.get_file_name();
        if (!reader) {
          print_error("could not open lasreader for '%s'\n", or_piped(name));
          return end(1);
        }
      } else if (piped) {
        reader = std::move(piped);
        if (!readers_.reopen(reader.get())) {
          print_error("could not re-open lasreader\n");
          return end(1);
        }
      } else {
        break;
      }
      const std::string input_name = name ? name : "";
      if (options_.apply_layers) {
        reader = apply_layers(std::move(reader), input_name, kAllLayers, false);
      }
      LASheader header;
      prepare_output_header(reader->header, header);
      std::unique_ptr<LASwriter> writer = open_output(header, input_name.c_str(), *reader);
      if (!writer) return end(1);
      if (mark_and_write(*reader, *overage, std::move(writer), header, input_name, nullptr) !=
          PassResult::OK) {
        failed_ = true;
      }
      writers_.set_file_name(nullptr);
      output_name_.clear();
      reader->close();
    }
    if (options_.verbose) {
      const double now = platform::elapsed_seconds();
      print_message("took %g sec. found %" PRId64 " %s points.\n", now - clock,
                    overage->marked_points(), word);
      print_message("done with %d files. total time %g sec.\n", int(files), now - start);
    }
  } catch (const std::bad_alloc&) {
    print_error("processing %u files as flightlines. maybe out of memory?\n", unsigned(files));
    if (!output_name_.empty() && !writers_.get_use_stdout()) remove(output_name_.c_str());
    return end(1);
  }
  return end(failed_ ? 1 : 0);
}

int TrevalonRun::run() {
  const int code = startup();
  if (code != kContinue) return code;
  const bool faf = readers_.get_files_are_flightlines() != 0 || readers_.get_apply_file_source_ID();
  if (!faf || readers_.is_merged()) return run_per_input();
  return run_files_as_flightlines();
}

}  // namespace

int trevalon_main(int argc, char* argv[]) {
  platform::elapsed_seconds();  // starts the clock
  TrevalonRun run(argc, argv);
  return run.run();
}
