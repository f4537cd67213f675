#include "tool/flightline_recovery.hpp"

#include <cmath>

#include "las/core/messages.hpp"

void FlightlineRecovery::clear() {
  map_.clear();
  cached_ = false;
}

bool FlightlineRecovery::key_of(F64 gps_time, I32* key) const {
  const F64 k = std::floor(gps_time / F64(interval_));
  if (!(k >= -2147483648.0 && k <= 2147483647.0)) return false;
  *key = I32(k);
  return true;
}

bool FlightlineRecovery::add(F64 gps_time) {
  I32 key;
  if (!key_of(gps_time, &key)) return false;
  if (cached_ && key == cached_key_) return true;
  map_.emplace(key, 1u);
  cached_ = true;
  cached_key_ = key;
  cached_line_ = 1;
  return true;
}

U32 FlightlineRecovery::finish(const char* file_name, F64 last_gps_time, bool verbose) {
  cached_ = false;
  U32 line = 0;
  if (map_.size() == 1) {
    if (last_gps_time == 0.0) {
      print_warning("cannot recover flightlines because all GPS time stamps are zero in '%s'\n",
                    file_name);
    }
    map_.begin()->second = 1;
    line = 1;
  } else if (map_.size() > 1) {
    I64 previous = 0;
    for (auto& entry : map_) {
      if (line == 0) {
        line = 1;
      } else if (I64(entry.first) != previous + 1) {
        const I64 gap = I64(entry.first) - previous;
        line++;
        if (gap <= 3) {
          print_warning("flight lines %d and %d seperated by only %d GPS time intervals of %g\n",
                        int(line - 1), int(line), int(gap), double(interval_));
        }
      }
      entry.second = line;
      previous = entry.first;
    }
  }
  if (verbose) print_message("recovered %u flight lines\n", line);
  return line;
}

bool FlightlineRecovery::lookup(F64 gps_time, U32* flightline) {
  I32 key = 0;
  bool fits = key_of(gps_time, &key);
  if (fits && cached_ && key == cached_key_) {
    *flightline = cached_line_;
    return true;
  }
  auto it = fits ? map_.find(key) : map_.end();
  if (it == map_.end()) {
    const F64 k = std::floor(gps_time / F64(interval_));
    print_error("could not find interval %d for GPS time %g in map\n",
                fits ? int(key) : (k < 0 ? I32_MIN : I32_MAX), gps_time);
    return false;
  }
  cached_ = true;
  cached_key_ = key;
  cached_line_ = it->second;
  *flightline = it->second;
  return true;
}
