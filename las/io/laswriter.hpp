// The point sink interface, with an inventory of what was written.
#pragma once

#include "las/core/lasheader.hpp"
#include "las/core/laspoint.hpp"
#include "las/core/types.hpp"

// Counts and quantized bounds of the points a writer was given.
class LASwriterInventory {
 public:
  I64 number_of_point_records = 0;
  I64 number_of_points_by_return[16] = {};
  I32 max_X = 0, min_X = 0, max_Y = 0, min_Y = 0, max_Z = 0, min_Z = 0;
  bool first = true;

  void add(const LASpoint* point) {
    number_of_point_records++;
    number_of_points_by_return[point->extended_layout ? point->extended_return_number
                                                      : point->return_number]++;
    if (first) {
      min_X = max_X = point->X;
      min_Y = max_Y = point->Y;
      min_Z = max_Z = point->Z;
      first = false;
      return;
    }
    if (point->X < min_X) {
      min_X = point->X;
    } else if (point->X > max_X) {
      max_X = point->X;
    }
    if (point->Y < min_Y) {
      min_Y = point->Y;
    } else if (point->Y > max_Y) {
      max_Y = point->Y;
    }
    if (point->Z < min_Z) {
      min_Z = point->Z;
    } else if (point->Z > max_Z) {
      max_Z = point->Z;
    }
  }
};

class LASwriter : public LASscaleOffset {
 public:
  I64 point_count = 0;  // announced by the header
  I64 points_written = 0;
  LASwriterInventory inventory;

  LASwriter() = default;
  virtual ~LASwriter() = default;
  LASwriter(const LASwriter&) = delete;
  LASwriter& operator=(const LASwriter&) = delete;

  // The point must have the layout the writer was opened with.
  virtual bool write_point(const LASpoint* point) = 0;
  virtual void update_inventory(const LASpoint* point) { inventory.add(point); }
  // Ends the current chunk (adaptive chunking only).
  virtual bool chunk() = 0;
  // Patches counts and bounds into the written header (seekable outputs only).
  virtual bool update_header(const LASheader* header, bool use_inventory = false,
                             bool update_extra_bytes = false) = 0;
  // Bytes written from the start of the header.
  virtual I64 close(bool update_npoints = true) = 0;
};
