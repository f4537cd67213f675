// Shared pieces of the transform operations: option scanning with the
// family's messages, command text, and the integer conversions that must
// stay defined for every input.
#pragma once

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "las/core/argcursor.hpp"
#include "las/core/laspoint.hpp"
#include "las/core/option_text.hpp"
#include "las/core/types.hpp"
#include "las/filter/lasfilter.hpp"
#include "las/transform/lastransform.hpp"

namespace transform_detail {

// Field-mask bits, shared with the filter.
constexpr U32 MASK_Z = LAS_FIELD_Z;
constexpr U32 MASK_CLASSIFICATION = LAS_FIELD_CLASSIFICATION;
constexpr U32 MASK_FLAGS = LAS_FIELD_FLAGS;
constexpr U32 MASK_INTENSITY = LAS_FIELD_INTENSITY;
constexpr U32 MASK_SCAN_ANGLE = LAS_FIELD_SCAN_ANGLE;
constexpr U32 MASK_USER_DATA = LAS_FIELD_USER_DATA;
constexpr U32 MASK_POINT_SOURCE = LAS_FIELD_POINT_SOURCE;
constexpr U32 MASK_GPS_TIME = LAS_FIELD_GPS_TIME;
constexpr U32 MASK_RGB = LAS_FIELD_RGB;
constexpr U32 MASK_NIR = LAS_FIELD_NIR;
constexpr U32 MASK_WAVEPACKET = LAS_FIELD_WAVEPACKET;
constexpr U32 MASK_ATTRIBUTES = LAS_FIELD_EXTRA_BYTES;

// One option under the parser's cursor.
class OptionScan {
 public:
  OptionScan(ArgCursor& args, int index) : args_(args), index_(index) {}

  const char* option() const { return args_[index_]; }
  // The option without its dash equals word.
  bool is(const char* word) const { return strcmp(args_[index_] + 1, word) == 0; }
  bool starts_with(const char* prefix) const {
    return strncmp(args_[index_] + 1, prefix, strlen(prefix)) == 0;
  }
  const char* arg(int k) const { return args_[index_ + k]; }

  // Declares that the option takes n values named by names; false (after
  // printing the message) when fewer than n arguments follow. A few
  // options say "need" instead of "needs".
  bool need(int n, const char* names, bool singular = false);
  // Converts value k (1-based) with a scanf directive; on failure prints
  // the option's message ending in "but '<arg>' is no valid <what>".
  bool value(int k, const char* directive, F64* v, const char* what = "number");
  bool value(int k, const char* directive, F32* v, const char* what = "number");
  bool value(int k, const char* directive, I32* v, const char* what);
  bool value(int k, const char* directive, U32* v, const char* what);
  // Refuses value k with the same message as a value that does not convert.
  bool refuse_value(int k, const char* what) { return scanned(k, false, what); }
  // Blanks the option and its declared values; returns the last index used.
  int consume();

 private:
  bool scanned(int k, bool ok, const char* what);
  std::string head() const;

  ArgCursor& args_;
  int index_;
  int count_ = 0;
  const char* names_ = "";
  bool singular_ = false;
};

enum class Parsed { none, done, error };

// Family parsers: each looks at the option under the scan, and when it is
// one of its own, builds the operation(s), appends them and consumes the
// arguments.
Parsed parse_coordinate_option(OptionScan& scan, LAStransform& transform);
Parsed parse_point_option(OptionScan& scan, LAStransform& transform);
Parsed parse_time_color_option(OptionScan& scan, LAStransform& transform);
Parsed parse_attribute_option(OptionScan& scan, LAStransform& transform);

std::unique_ptr<LASoperation> make_set_point_source(U16 value);

// Appends a new operation and consumes the option with its values.
template <typename Op, typename... Args>
Parsed add(OptionScan& scan, LAStransform& transform, Args... args) {
  transform.add_operation(std::unique_ptr<LASoperation>(new LASchained<Op>(args...)));
  scan.consume();
  return Parsed::done;
}

// Command text pieces.
inline std::string command_word(const char* name) {
  return std::string("-") + name + " ";
}
inline void put_lf(std::string& text, F64 v) {
  text += format_double(v, "%lf") + " ";
}
inline void put_g(std::string& text, F64 v) {
  text += format_double(v, "%g") + " ";
}
inline void put_g(std::string& text, F32 v) {
  text += format_float(v, "%g") + " ";
}
inline void put_f(std::string& text, F32 v) {
  text += format_float(v, "%f") + " ";
}
inline void put_int(std::string& text, I64 v) {
  text += std::to_string(v) + " ";
}
inline void put_file(std::string& text, const std::string& name) {
  text += "\"" + name + "\" ";
}

// 0 at or below 0 (and for NaN), the maximum at or above it, else truncated.
inline U16 clamp16(F64 v) {
  if (!(v > 0.0)) return 0;
  if (v >= 65535.0) return 65535;
  return U16(v);
}
inline U8 clamp8(F64 v) {
  if (!(v > 0.0)) return 0;
  if (v >= 255.0) return 255;
  return U8(v);
}
// Nearest integer (halves away from zero) clamped to the I8 range; NaN gives 0.
inline I8 round_clamp8(F32 v) {
  const F32 r = (v >= 0.0f) ? v + 0.5f : v - 0.5f;
  if (!(r == r)) return 0;
  if (r >= 127.0f) return 127;
  if (r <= -128.0f) return -128;
  return I8(r);
}
// Low 16 bits of the integer nearest to v (halves away from zero). Exact for
// every finite double, whatever its size; NaN and infinities give 0.
inline U16 low16_of_nearest(F64 v) {
  if (!std::isfinite(v)) return 0;
  if (v > -4503599627370496.0 && v < 4503599627370496.0) {
    return U16(U64(round_half_away(v)));
  }
  // Beyond 2^52 every double is an integer; the remainder is exact.
  F64 m = std::fmod(v, 65536.0);
  if (m < 0) m += 65536.0;
  return U16(U32(m));
}
// Adds in 32 bits with two's-complement wrap-around.
inline I32 add_wrap(I32 a, I32 b) {
  return I32(U32(a) + U32(b));
}

// Writes classification c everywhere it lives: the extended classification
// always, the 5-bit legacy class only when c fits (else 0).
inline void assign_class(LASpoint* point, U8 c) {
  point->extended_classification = c;
  point->classification = (c < 32) ? c : 0;
}
// The class a point is written with: the legacy class unless it is 0.
inline U8 effective_class(const LASpoint* point) {
  return point->classification ? U8(point->classification) : point->extended_classification;
}
// Classes below 32 are looked up in the legacy field, others in the
// extended one; a legacy 0 only counts when the point really is class 0.
inline bool has_class(const LASpoint* point, U8 c) {
  if (c >= 32) return point->extended_classification == c;
  if (point->classification != c) return false;
  return c != 0 || point->extended_classification < 32;
}

// Reads a text file of short lines in one pass. Lines longer than
// max_length are skipped with a warning. False when it cannot be opened.
bool read_text_lines(const std::string& file_name, size_t max_length,
                     std::vector<std::string>& lines);

// Extra-bytes attribute access: a missing attribute set or an index beyond
// it reads as 0 and is never written.
F64 get_attribute(const LASpoint* point, U32 index);
void set_attribute(LASpoint* point, U32 index, F64 value);

}  // namespace transform_detail
