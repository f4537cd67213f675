// Tells flightlines apart by gaps in the GPS time when point source IDs are
// unusable: occupied time intervals that follow each other form one line.
#pragma once

#include <cstddef>
#include <map>

#include "las/core/types.hpp"

class FlightlineRecovery {
 public:
  explicit FlightlineRecovery(F32 interval = 10.0f) : interval_(interval) {}

  void clear();
  F32 interval() const { return interval_; }

  // Interval key of a GPS time; false when it does not fit in 32 bits.
  bool key_of(F64 gps_time, I32* key) const;

  // Recovery pass: enter the interval of one (not ignored) point. False when
  // its key does not fit in 32 bits.
  bool add(F64 gps_time);
  // Numbers the flightlines in time order and prints the warnings; returns
  // the number of flightlines.
  U32 finish(const char* file_name, F64 last_gps_time, bool verbose);

  // Later passes: the flightline of a GPS time. On a missing key prints the
  // error naming the key and returns false.
  bool lookup(F64 gps_time, U32* flightline);

  size_t interval_count() const { return map_.size(); }

 private:
  F32 interval_;
  std::map<I32, U32> map_;
  // The map lookup is skipped while points stay in one interval.
  bool cached_ = false;
  I32 cached_key_ = 0;
  U32 cached_line_ = 0;
};
