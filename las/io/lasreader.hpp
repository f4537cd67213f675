// The point source interface: every reader owns one header and one point and
// leaves the next point in `point` on each successful read_point().
#pragma once

#include "las/core/lasheader.hpp"
#include "las/core/laspoint.hpp"
#include "las/core/types.hpp"

class ByteStreamIn;
class LASfilter;
class LAStransform;
class LASignore;
class Seekmap;

class LASreader {
 public:
  LASheader header;
  LASpoint point;
  I64 point_count = 0;
  I64 points_read = 0;

  LASreader();
  virtual ~LASreader();
  LASreader(const LASreader&) = delete;
  LASreader& operator=(const LASreader&) = delete;

  // 1 LAS, 2 VZK, 3 BIN, 4 QFIT, 6 TXT, 7 SHP, 8 PLY, 9 ASC, 10 BIL and DTM.
  virtual I32 get_format() const = 0;
  virtual bool has_layers() const { return false; }
  // Neither is owned. An active area query stays active.
  virtual void set_filter(LASfilter* filter);
  virtual void set_transform(LAStransform* transform);
  virtual bool inside_none();
  virtual bool inside_tile(F32 ll_x, F32 ll_y, F32 size);
  virtual bool inside_circle(F64 center_x, F64 center_y, F64 radius);
  virtual bool inside_rectangle(F64 min_x, F64 min_y, F64 max_x, F64 max_y);
  virtual bool seek(I64 index) = 0;
  virtual ByteStreamIn* get_stream() const = 0;
  virtual void close(bool close_stream = true) = 0;

  // Area query, then filter, then transform.
  bool read_point() { return (this->*read_simple)(); }

  LASfilter* get_filter() const { return filter; }
  LAStransform* get_transform() const { return transform; }
  // Rules that the overlap tool applies; attached by the reader factory, not owned.
  void set_ignore(LASignore* rules) { ignore = rules; }
  LASignore* get_ignore() const { return ignore; }
  // Hook for a spatial index (not owned); area queries do not use one yet.
  void set_index(Seekmap* spatial_index) { index = spatial_index; }
  Seekmap* get_index() const { return index; }

  // 0 none, 1 tile, 2 circle, 3 rectangle.
  U32 get_inside() const { return inside; }
  F32 get_t_ll_x() const { return t_ll_x; }
  F32 get_t_ll_y() const { return t_ll_y; }
  F32 get_t_size() const { return t_size; }
  F64 get_c_center_x() const { return c_center_x; }
  F64 get_c_center_y() const { return c_center_y; }
  F64 get_c_radius() const { return c_radius; }
  F64 get_r_min_x() const { return r_min_x; }
  F64 get_r_min_y() const { return r_min_y; }
  F64 get_r_max_x() const { return r_max_x; }
  F64 get_r_max_y() const { return r_max_y; }

  // True once reading stopped on damaged point data (not on a clean end or
  // a truncated file), so that callers can fail the run.
  bool failed() const { return failed_; }
  // True when the point data ended before the announced count.
  bool truncated() const { return truncated_; }

 protected:
  // Reads the next stored point into `point`.
  virtual bool fetch_point() = 0;
  // Reselects the read operations after a change of filter, transform or query.
  void select_read_operations();

  // Puts the query box into the header (keeping the file's own box once);
  // readers that test points elsewhere use only this part of a query.
  void record_query_box(U32 mode, F64 min_x, F64 min_y, F64 max_x, F64 max_y);

  void set_failed() { failed_ = true; }
  void set_truncated() { truncated_ = true; }
  void clear_status() { failed_ = truncated_ = false; }

  LASfilter* filter = nullptr;
  LAStransform* transform = nullptr;
  LASignore* ignore = nullptr;
  Seekmap* index = nullptr;

  U32 inside = 0;
  F32 t_ll_x = 0, t_ll_y = 0, t_size = 0, t_ur_x = 0, t_ur_y = 0;
  F64 c_center_x = 0, c_center_y = 0, c_radius = 0, c_radius_squared = 0;
  F64 r_min_x = 0, r_min_y = 0, r_max_x = 0, r_max_y = 0;
  F64 orig_min_x = 0, orig_min_y = 0, orig_max_x = 0, orig_max_y = 0;
  bool query_disjoint = false;

 private:
  using ReadOperation = bool (LASreader::*)();
  ReadOperation read_simple;
  ReadOperation read_complex;

  bool read_fetch() { return fetch_point(); }
  bool read_nothing() { return false; }
  bool read_filtered();
  bool read_transformed();
  bool read_filtered_transformed();
  bool read_inside_tile();
  bool read_inside_circle();
  bool read_inside_rectangle();
  void start_query(U32 mode, F64 min_x, F64 min_y, F64 max_x, F64 max_y);

  bool failed_ = false;
  bool truncated_ = false;
};
