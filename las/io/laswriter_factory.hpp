// Output options of the command line: the output name (given or derived from
// an input name), its directory, appendix and cut, the format, and opening
// the writer for it.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "las/core/types.hpp"

class LASheader;
class LASwriter;

class LASwriterFactory {
 public:
  enum Format : I32 {
    FORMAT_NONE = 0,  // nothing chosen: written as LAS
    FORMAT_LAS = 1,
    FORMAT_VZK = 2,
    FORMAT_BIN = 3,
    FORMAT_QFIT = 4,
    FORMAT_WRL = 5,
    FORMAT_TXT = 6,
  };

  LASwriterFactory() = default;
  LASwriterFactory(const LASwriterFactory&) = delete;
  LASwriterFactory& operator=(const LASwriterFactory&) = delete;

  // Consumes (blanks) the output options in argv[1..argc-1]. False after
  // printing an error.
  bool parse(int argc, char* argv[]);
  void usage() const;

  // None clears the name. False (after an error) when a cut does not fit it.
  bool set_file_name(const char* name);
  // False for a directory that does not exist.
  bool set_directory(const char* directory);
  bool set_appendix(const char* appendix);
  // False for a negative count or one the current name cannot lose.
  bool set_cut(I32 cut);
  // False for an unknown format.
  bool set_format(I32 format);
  void set_force(bool on) { force = on; }
  void set_native(bool on) { native = on; }
  // 0 asks for adaptive chunks; false for a negative size.
  bool set_chunk_size(I32 size);
  // False unless 1 <= size <= 1 GiB.
  bool set_io_buffer_size(I32 size);
  void set_use_stdout(bool on) { use_stdout = on; }
  void set_use_nil(bool on) { use_nil = on; }
  void set_parse_string(const char* text) { parse_string = text ? text : ""; }
  void set_separator(const char* text) { separator = text ? text : ""; }
  void set_scale_rgb(F32 scale) { scale_rgb = scale; }
  void set_pts(bool on) { pts = on; }
  void set_ptx(bool on) { ptx = on; }

  // Files the outputs must never overwrite: the inputs of the run. Compared
  // by file identity, so other spellings of the same path are caught too.
  void set_protected_files(const std::vector<std::string>& names) { protected_files = names; }
  void add_protected_file(const std::string& name) { protected_files.push_back(name); }

  // A file name, standard output or the null output is set.
  bool active() const { return !file_name.empty() || use_stdout || use_nil; }
  // Builds the output name from an input name: with a negative number from
  // the input's base name (the tool passes -1), with a number >= 0 by writing
  // the number into the digits before the extension. False (after an error)
  // only when the cut is longer than the name it applies to.
  bool make_file_name(const char* input_name, I32 number = -1);
  // The current output name, or nullptr.
  const char* get_file_name() const { return file_name.empty() ? nullptr : file_name.c_str(); }
  I32 get_format() const { return format; }
  bool is_format_specified() const { return format_specified; }
  const char* get_directory() const { return has_directory ? directory.c_str() : nullptr; }
  const char* get_appendix() const { return appendix.empty() ? nullptr : appendix.c_str(); }
  I32 get_cut() const { return cut; }
  I32 get_chunk_size() const { return chunk_size; }
  I32 get_io_buffer_size() const { return io_buffer_size; }
  bool get_native() const { return native; }
  bool get_force() const { return force; }
  bool get_use_stdout() const { return use_stdout; }
  bool get_use_nil() const { return use_nil; }
  // "las", "vzk", "bin", "qi", "wrl" or "txt".
  static const char* extension_of(I32 format);

  // Opens the writer for the points of `header`, or nothing after an error.
  std::unique_ptr<LASwriter> open(const LASheader* header);

 private:
  bool apply_directory(std::string& name) const;
  bool apply_cut(std::string& name) const;
  void apply_appendix(std::string& name) const;
  // A name for output that would have replaced its input.
  std::string temp_name(const std::string& input);
  bool is_protected(const std::string& name, std::string* which) const;

  I32 io_buffer_size = 262144;
  std::string directory;
  bool has_directory = false;
  std::string file_name;
  std::string appendix;
  I32 cut = 0;
  bool pts = false;
  bool ptx = false;
  std::string parse_string;
  std::string separator;
  F32 scale_rgb = 1.0f;
  I32 format = FORMAT_NONE;
  bool format_specified = false;
  bool force = false;
  bool native = true;
  I32 chunk_size = 50000;
  bool use_stdout = false;
  bool use_nil = false;

  std::vector<std::string> protected_files;
  std::set<std::string> temp_names_used;
};
