// Input options of the command line: which files to read and how, turned
// into one reader per input. The factory owns the filter, the transform and
// the ignore rules and attaches them, with the area query, to every reader.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "las/core/types.hpp"

class LASfilter;
class LAStransform;
class LASignore;
class LASreader;

class LASreaderFactory {
 public:
  // An extra attribute of text input.
  struct ExtraAttribute {
    I32 data_type = 0;
    std::string name;
    std::string description;
    F64 scale = 1.0;
    F64 offset = 0.0;
    F64 pre_scale = 1.0;
    F64 pre_offset = 0.0;
    F64 no_data = 2e307;  // none
  };
  static constexpr size_t kMaxExtraAttributes = 32;

  // A file of the input list, with what a list file may tell about it.
  struct InputFile {
    std::string name;
    bool has_id = false;
    U32 id = 0;
    bool has_box = false;
    I64 point_count = 0;
    F64 min_x = 0, min_y = 0, max_x = 0, max_y = 0;
  };

  LASreaderFactory();
  ~LASreaderFactory();
  LASreaderFactory(const LASreaderFactory&) = delete;
  LASreaderFactory& operator=(const LASreaderFactory&) = delete;

  // Consumes (blanks) the input options in argv[1..argc-1], then lets the
  // filter and the transform take theirs; "-ignore_" options only when
  // allowed. False after printing an error.
  bool parse(int argc, char* argv[], bool allow_ignore = false);
  // The input options.
  void usage() const;

  // A file remains, or standard input is selected and not yet opened.
  bool has_next() const;
  // Opens the next input, or the named file (then with reset_index the
  // list starts over afterwards). Nothing after an error or without input.
  std::unique_ptr<LASreader> open(const char* file_name = nullptr, bool reset_index = true);
  // Restarts a reader opened by this factory at its first point; unless
  // remain_buffered, a buffered reader drops its buffer points.
  bool reopen(LASreader* reader, bool remain_buffered = true);
  // The input last opened; nullptr for standard input or before any.
  const char* get_file_name() const;
  const char* get_file_name(size_t index) const;
  const std::vector<InputFile>& get_files() const { return files; }
  // The names of all input files, for protecting them from being overwritten.
  std::vector<std::string> get_file_names() const;
  size_t get_file_count() const { return files.size(); }
  size_t get_file_current() const { return file_current; }
  void rewind() { file_current = 0; }

  bool is_piped() const { return use_stdin; }
  // A buffer size and more than one file or any neighbor.
  bool is_buffered() const;
  bool is_inside() const { return inside_mode != 0; }
  bool is_merged() const { return merged; }
  bool is_stored() const { return stored; }
  bool is_pipe_on() const { return pipe_on; }
  // The start value of files-are-flightlines, 0 when off.
  I32 get_files_are_flightlines() const { return files_are_flightlines; }
  I32 get_files_are_flightlines_index() const { return files_are_flightlines_index; }
  bool get_apply_file_source_ID() const { return apply_file_source_ID; }
  F32 get_buffer_size() const { return buffer_size; }
  I32 get_io_ibuffer_size() const { return io_ibuffer_size; }
  const std::vector<InputFile>& get_neighbors() const { return neighbors; }
  const std::vector<ExtraAttribute>& get_extra_attributes() const { return attributes; }

  // Adds files for a name, a literal file first, else the files a wildcard
  // matches (sorted). A literal name naming no file is an error; a wildcard
  // matching none only warns.
  bool add_file_name(const char* name, bool unique = false);
  // Adds one file as named (no wildcard), with its ID and optionally its box.
  bool add_file_name(const char* name, U32 id, bool unique = false);
  bool add_file_name(const char* name, U32 id, I64 point_count, F64 min_x, F64 min_y, F64 max_x,
                     F64 max_y, bool unique = false);
  bool add_list_of_files(const char* list_name, bool unique = false);
  bool add_neighbor_file_name(const char* name, bool unique = false);
  bool add_neighbor_list_of_files(const char* list_name, bool unique = false);

  void set_merged(bool on) { merged = on; }
  void set_stored(bool on) { stored = on; }
  void set_pipe_on(bool on) { pipe_on = on; }
  void set_piped(bool on) { use_stdin = on; }
  void set_buffer_size(F32 size) { buffer_size = size; }
  void set_io_ibuffer_size(I32 size) { io_ibuffer_size = size; }
  void set_files_are_flightlines(I32 start) { files_are_flightlines = start; }
  void set_files_are_flightlines_index(I32 offset) { files_are_flightlines_index = offset; }
  void set_apply_file_source_ID(bool on) { apply_file_source_ID = on; }
  // Scale factors of 0 leave that axis alone; nullptr turns rescaling off.
  void set_scale_factor(const F64* scale);
  // nullptr turns reoffsetting off.
  void set_offset(const F64* offset);
  void set_auto_reoffset(bool on) { auto_reoffset = on; }
  void set_inside_tile(F32 ll_x, F32 ll_y, F32 size);
  void set_inside_circle(F64 center_x, F64 center_y, F64 radius);
  void set_inside_rectangle(F64 min_x, F64 min_y, F64 max_x, F64 max_y);
  // Uses a filter or transform owned elsewhere (nullptr for none).
  void set_filter(LASfilter* filter);
  void set_transform(LAStransform* transform);

  LASfilter* get_filter() const { return filter; }
  LAStransform* get_transform() const { return transform; }
  // The ignore rules, or nullptr when none were given.
  LASignore* get_ignore() const { return ignore.get(); }

 private:
  bool add_file(InputFile file, bool unique, std::vector<InputFile>& list);
  bool add_name(const char* name, bool unique, std::vector<InputFile>& list);
  bool add_list(const char* list_name, bool unique, std::vector<InputFile>& list);
  bool finish_parse(int argc, char* argv[]);
  std::unique_ptr<LASreader> open_merged();
  std::unique_ptr<LASreader> open_buffered(const char* main_name);
  std::unique_ptr<LASreader> open_single(const std::string& name);
  std::unique_ptr<LASreader> open_stdin();
  std::unique_ptr<class LASreaderLAS> make_las_reader() const;
  std::unique_ptr<LASreader> wrap(std::unique_ptr<LASreader> reader, const char* kind_name,
                                  bool from_stdin);
  void attach(LASreader* reader, bool with_query);
  void set_query(LASreader* reader);
  void set_flightline(U32 number);

  I32 io_ibuffer_size = 262144;
  std::vector<InputFile> files;
  size_t file_current = 0;
  std::string current_name;
  std::vector<InputFile> neighbors;
  bool unique = false;
  bool merged = false;
  bool stored = false;
  bool pipe_on = false;
  bool use_stdin = false;
  bool stdin_opened = false;
  F32 buffer_size = 0.0f;
  I32 files_are_flightlines = 0;
  I32 files_are_flightlines_index = -1;
  I64 current_flightline = 0;  // of the input last opened
  bool apply_file_source_ID = false;

  bool use_rescale = false;
  F64 scale_factor[3] = {0, 0, 0};
  bool use_reoffset = false;
  F64 offset[3] = {0, 0, 0};
  bool auto_reoffset = false;

  // Text input settings; kept for the text reader.
  bool itxt = false;
  bool ipts = false;
  bool iptx = false;
  std::string parse_string;
  bool has_parse_string = false;
  U32 skip_lines = 0;
  bool populate_header = false;
  bool comma_not_point = false;
  F32 translate_intensity = 0.0f;
  F32 scale_intensity = 1.0f;
  F32 translate_scan_angle = 0.0f;
  F32 scale_scan_angle = 1.0f;
  std::vector<ExtraAttribute> attributes;
  std::string temp_file_base;

  U32 inside_mode = 0;  // bits: 1 tile, 2 circle, 4 rectangle
  F32 tile_ll_x = 0, tile_ll_y = 0, tile_size = 0;
  F64 circle_x = 0, circle_y = 0, circle_radius = 0;
  F64 rect_min_x = 0, rect_min_y = 0, rect_max_x = 0, rect_max_y = 0;

  std::unique_ptr<LASfilter> owned_filter;
  std::unique_ptr<LAStransform> owned_transform;
  LASfilter* filter = nullptr;
  LAStransform* transform = nullptr;
  std::unique_ptr<LASignore> ignore;
};
