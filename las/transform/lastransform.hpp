// On-the-fly point transform: an ordered list of operations built from
// options such as -translate_xyz or -set_classification, applied to every
// point a reader delivers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "las/core/laspoint.hpp"
#include "las/core/types.hpp"
#include "las/transform/lasquantizer.hpp"

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
  // NaN) stores the point's defined wrapped value and is counted. The
  // quantizer settles nearly every value without set_x's division.
  void store_x(LASpoint* point, F64 x) {
    const LASscaleOffset* so = point->scale_offset;
    if (LAS_UNLIKELY(
            !quantizer_.store(LASquantizer::X, point->X, x, so->x_offset, so->x_scale_factor) &&
            !point->set_x(x))) {
      overflows_++;
    }
  }
  void store_y(LASpoint* point, F64 y) {
    const LASscaleOffset* so = point->scale_offset;
    if (LAS_UNLIKELY(
            !quantizer_.store(LASquantizer::Y, point->Y, y, so->y_offset, so->y_scale_factor) &&
            !point->set_y(y))) {
      overflows_++;
    }
  }
  void store_z(LASpoint* point, F64 z) {
    const LASscaleOffset* so = point->scale_offset;
    if (LAS_UNLIKELY(
            !quantizer_.store(LASquantizer::Z, point->Z, z, so->z_offset, so->z_scale_factor) &&
            !point->set_z(z))) {
      overflows_++;
    }
  }
  // The same as store_x then store_y.
  void store_xy(LASpoint* point, F64 x, F64 y) {
    if (LAS_UNLIKELY(!quantizer_.store_xy(point, x, y))) {
      store_x(point, x);
      store_y(point, y);
    }
  }

 private:
  friend class LAStransform;
  template <class Op>
  friend class LASchained;

  // This operation, then every one after it. LASchained overrides it so
  // that each step is one direct call and the hand-over a tail call; a
  // call per operation from a loop costs more than a cheap operation.
  virtual void transform_chain(LASpoint* point) {
    transform(point);
    if (next_) next_->transform_chain(point);
  }

  I64 overflows_ = 0;
  LASoperation* next_ = nullptr;  // set by the owning LAStransform
  LASquantizer quantizer_;
};

// The form in which the parser creates every operation: Op's own transform
// inlined into its chain step. Nothing else about Op changes.
template <class Op>
class LASchained final : public Op {
 public:
  using Op::Op;

 private:
  void transform_chain(LASpoint* point) override {
    Op::transform(point);
    if (LASoperation* next = this->next_) next->transform_chain(point);
  }
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
    if (first_) first_->transform_chain(point);
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
  // Links every operation to the one after it.
  void link();

  std::vector<std::unique_ptr<LASoperation>> operations_;
  LASoperation* first_ = nullptr;  // operations_[0], for the per-point call
  bool filtered_ = false;
  std::unique_ptr<LASfilter> filter_;
};
