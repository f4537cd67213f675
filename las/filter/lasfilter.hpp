// On-the-fly point filter: an ordered list of criteria built from options
// such as -keep_class or -drop_withheld, asked point by point.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "las/core/laspoint.hpp"
#include "las/core/types.hpp"

// Bits of the point fields a criterion (or transform operation) reads.
enum LASfieldMask : U32 {
  LAS_FIELD_XY = 0,  // X, Y, return numbering and scanner channel always decode
  LAS_FIELD_Z = 1,
  LAS_FIELD_CLASSIFICATION = 2,
  LAS_FIELD_FLAGS = 4,
  LAS_FIELD_INTENSITY = 8,
  LAS_FIELD_SCAN_ANGLE = 16,
  LAS_FIELD_USER_DATA = 32,
  LAS_FIELD_POINT_SOURCE = 64,
  LAS_FIELD_GPS_TIME = 128,
  LAS_FIELD_RGB = 256,
  LAS_FIELD_NIR = 512,
  LAS_FIELD_WAVEPACKET = 1024,
  LAS_FIELD_EXTRA_BYTES = 0xFFFF0000u,
};

class LAScriterion {
 public:
  virtual ~LAScriterion() = default;
  // The command word: the option without its leading dash.
  virtual const char* name() const = 0;
  // Option text that rebuilds this criterion; ends with one blank.
  virtual std::string get_command() const = 0;
  virtual U32 field_mask() const { return 0; }
  // True when the point is to be dropped. Stateful criteria advance here.
  virtual bool filter(const LASpoint* point) = 0;
  // Restores per-pass state.
  virtual void reset() {}
  // True when asking the criterion changes nothing, so that asking it after
  // an earlier criterion dropped the point cannot be told apart.
  virtual bool stateless() const { return false; }

  // Writes the option text given the criterion that the text written just
  // before it rebuilds; list criteria use it to avoid merging on re-parse.
  // `last` is updated to this criterion.
  virtual void write_command(std::string& text, const LAScriterion*& last) const;
};

class LASfilter {
 public:
  LASfilter() = default;
  ~LASfilter() = default;
  LASfilter(const LASfilter&) = delete;
  LASfilter& operator=(const LASfilter&) = delete;

  // Consumes (blanks) the filter options and their values in argv[1..argc-1]
  // and leaves all other arguments alone. False after printing an error.
  bool parse(int argc, char* argv[]);
  // Rebuilds criteria from option text as written by get_command().
  bool parse(const std::string& command);
  void usage() const;

  void add_criterion(std::unique_ptr<LAScriterion> criterion);
  // True when any criterion drops the point; only the first one that drops
  // it is counted, and the criteria after it are not asked.
  bool filter(const LASpoint* point) {
    const size_t n = list_.size();
    LAScriterion* const* list = list_.data();
    if (ask_all_) {
      // Short chains of stateless criteria: asking every one and counting
      // through the lowest set bit (slot n when none drops) leaves no
      // branch on the data, which mixed point streams would mispredict.
      U32 drops = 0;
      for (size_t i = 0; i < n; i++) drops |= U32(list[i]->filter(point)) << i;
      counters_[__builtin_ctz(drops | (1u << n))]++;
      return drops != 0;
    }
    for (size_t i = 0; i < n; i++) {
      if (list[i]->filter(point)) {
        counters_[i]++;
        return true;
      }
    }
    counters_[n]++;
    return false;
  }
  void reset();
  std::string get_command() const;
  void clean();

  bool active() const { return !criteria_.empty(); }
  U32 field_mask() const;
  size_t num_criteria() const { return criteria_.size(); }
  const LAScriterion* criterion(size_t i) const { return criteria_[i].get(); }
  // Points dropped by criterion i over the life of the filter.
  U64 counter(size_t i) const { return counters_[i]; }
  // Points that passed every criterion.
  U64 passed() const { return counters_.back(); }

 private:
  std::unique_ptr<LAScriterion> remove_last();
  void update_ask_all();
  bool combine(const char* option, bool with_and);

  std::vector<std::unique_ptr<LAScriterion>> criteria_;
  std::vector<LAScriterion*> list_;  // the same, for the per-point loop
  std::vector<U64> counters_ = {0};  // one per criterion, then the passed points
  bool ask_all_ = false;
};
