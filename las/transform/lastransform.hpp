// On-the-fly point transform: an ordered list of operations built from
// options such as -translate_xyz or -set_classification, applied to every
// point a reader delivers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "las/core/laspoint.hpp"
#include "las/core/types.hpp"

class LASfilter;

class LASoperation {
 public:
  virtual ~LASoperation() = default;
  // The command word: the option without its leading dash.
  virtual const char* name() const = 0;
  // Option text that rebuilds this operation; ends with one blank.
  virtual std::string get_command() const = 0;
  // The point fields the operation reads (the filter's field-mask bits).
  virtual U32 field_mask() const { return 0; }
  virtual void transform(LASpoint* point) = 0;
  // Restores per-pass state; the base clears the overflow count.
  virtual void reset() { overflows_ = 0; }

  // Coordinates that did not fit the 32-bit integers since the last reset.
  I64 overflows() const { return overflows_; }
  void clear_overflows() { overflows_ = 0; }

 protected:
  // Write-back of a scaled coordinate; a value outside the 32-bit range (or
  // NaN) stores the point's defined wrapped value and is counted.
  void store_x(LASpoint* point, F64 x) {
    const LASscaleOffset* so = point->scale_offset;
    if (!quantize_fast(point->X, x, so->x_offset, so->x_scale_factor) && !point->set_x(x)) {
      overflows_++;
    }
  }
  void store_y(LASpoint* point, F64 y) {
    const LASscaleOffset* so = point->scale_offset;
    if (!quantize_fast(point->Y, y, so->y_offset, so->y_scale_factor) && !point->set_y(y)) {
      overflows_++;
    }
  }
  void store_z(LASpoint* point, F64 z) {
    const LASscaleOffset* so = point->scale_offset;
    if (!quantize_fast(point->Z, z, so->z_offset, so->z_scale_factor) && !point->set_z(z)) {
      overflows_++;
    }
  }

 private:
  // The common case of LASpoint::set_x inlined for the per-point path: a
  // value that fits is stored; anything else (also NaN, and the infinities
  // of a zero scale) is left to set_x.
  static bool quantize_fast(I32& field, F64 value, F64 offset, F64 scale) {
    const F64 q = (value - offset) / scale;
    const F64 r = (value >= offset) ? q + 0.5 : q - 0.5;
    if (r > -2147483649.0 && r < 2147483648.0) {
      field = I32(r);
      return true;
    }
    return false;
  }

  I64 overflows_ = 0;
};

class LAStransform {
 public:
  LAStransform();
  ~LAStransform();
  LAStransform(const LAStransform&) = delete;
  LAStransform& operator=(const LAStransform&) = delete;

  // Consumes (blanks) the transform options and their values in
  // argv[1..argc-1] and leaves all other arguments alone. False after
  // printing an error; operations added before the error stay.
  bool parse(int argc, char* argv[]);
  // Rebuilds operations from option text as written by get_command().
  bool parse(const std::string& command);
  void usage() const;

  void add_operation(std::unique_ptr<LASoperation> operation);
  // Removes the first operation of that name, if any.
  void remove_operation(const char* name);
  // Replaces every point-source assignment by one with this value, placed
  // after all other operations.
  void add_set_point_source(U16 value);

  // Takes the filter that selects which points are transformed; none
  // also forgets -filtered_transform.
  void set_filter(std::unique_ptr<LASfilter> filter);
  LASfilter* get_filter() const { return filter_.get(); }
  // True once -filtered_transform was parsed.
  bool is_filtered() const { return filtered_; }

  // Points the filter drops are left as they are; all others pass through
  // every operation in order.
  void transform(LASpoint* point) {
    if (filter_ && filtered_out(point)) return;
    for (LASoperation* operation : list_) operation->transform(point);
  }
  // Starts a new pass: operations and the held filter restore their state.
  void reset();

  // The filter's text with -filtered_transform (when a filter is held),
  // then every operation's text.
  std::string get_command() const;

  // Prints one warning per operation that overflowed and clears the counts,
  // so that each overflow is reported once. Readers call it when they close.
  void report_overflows();
  I64 total_overflows() const;

  bool active() const { return !operations_.empty(); }
  size_t num_operations() const { return operations_.size(); }
  const LASoperation* operation(size_t i) const { return operations_[i].get(); }
  U32 field_mask() const;
  void clean();

 private:
  bool filtered_out(const LASpoint* point);

  std::vector<std::unique_ptr<LASoperation>> operations_;
  std::vector<LASoperation*> list_;  // the same, for the per-point loop
  bool filtered_ = false;
  std::unique_ptr<LASfilter> filter_;
};
