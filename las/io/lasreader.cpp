#include "las/io/lasreader.hpp"

#include "las/filter/lasfilter.hpp"
#include "las/transform/lastransform.hpp"

LASreader::LASreader()
    : read_simple(&LASreader::read_fetch), read_complex(&LASreader::read_fetch) {}

LASreader::~LASreader() = default;

void LASreader::set_filter(LASfilter* f) {
  filter = f;
  select_read_operations();
}

void LASreader::set_transform(LAStransform* t) {
  transform = t;
  select_read_operations();
}

void LASreader::select_read_operations() {
  ReadOperation query = &LASreader::read_fetch;
  if (inside) {
    if (query_disjoint) {
      query = &LASreader::read_nothing;
    } else if (inside == 1) {
      query = &LASreader::read_inside_tile;
    } else if (inside == 2) {
      query = &LASreader::read_inside_circle;
    } else {
      query = &LASreader::read_inside_rectangle;
    }
  }
  read_complex = query;
  if (filter && transform) {
    read_simple = &LASreader::read_filtered_transformed;
  } else if (filter) {
    read_simple = &LASreader::read_filtered;
  } else if (transform) {
    read_simple = &LASreader::read_transformed;
  } else {
    read_simple = query;
  }
}

bool LASreader::read_filtered() {
  while ((this->*read_complex)()) {
    if (!filter->filter(&point)) return true;
  }
  return false;
}

bool LASreader::read_transformed() {
  if (!(this->*read_complex)()) return false;
  transform->transform(&point);
  return true;
}

bool LASreader::read_filtered_transformed() {
  if (!read_filtered()) return false;
  transform->transform(&point);
  return true;
}

bool LASreader::read_inside_tile() {
  while (fetch_point()) {
    const F64 x = point.get_x();
    const F64 y = point.get_y();
    if (t_ll_x <= x && x < t_ur_x && t_ll_y <= y && y < t_ur_y) return true;
  }
  return false;
}

bool LASreader::read_inside_circle() {
  while (fetch_point()) {
    const F64 dx = point.get_x() - c_center_x;
    const F64 dy = point.get_y() - c_center_y;
    if (dx * dx + dy * dy < c_radius_squared) return true;
  }
  return false;
}

bool LASreader::read_inside_rectangle() {
  while (fetch_point()) {
    const F64 x = point.get_x();
    const F64 y = point.get_y();
    if (r_min_x <= x && x < r_max_x && r_min_y <= y && y < r_max_y) return true;
  }
  return false;
}

void LASreader::record_query_box(U32 mode, F64 min_x, F64 min_y, F64 max_x, F64 max_y) {
  // A second query replaces the first, so remember the file's own box only once.
  if (!inside) {
    orig_min_x = header.min_x;
    orig_min_y = header.min_y;
    orig_max_x = header.max_x;
    orig_max_y = header.max_y;
  }
  inside = mode;
  header.min_x = min_x;
  header.min_y = min_y;
  header.max_x = max_x;
  header.max_y = max_y;
}

void LASreader::start_query(U32 mode, F64 min_x, F64 min_y, F64 max_x, F64 max_y) {
  record_query_box(mode, min_x, min_y, max_x, max_y);
  query_disjoint =
      orig_min_x > max_x || orig_min_y > max_y || orig_max_x < min_x || orig_max_y < min_y;
  select_read_operations();
}

bool LASreader::inside_none() {
  if (inside) {
    header.min_x = orig_min_x;
    header.min_y = orig_min_y;
    header.max_x = orig_max_x;
    header.max_y = orig_max_y;
    inside = 0;
  }
  query_disjoint = false;
  select_read_operations();
  return true;
}

bool LASreader::inside_tile(F32 ll_x, F32 ll_y, F32 size) {
  t_ll_x = ll_x;
  t_ll_y = ll_y;
  t_size = size;
  t_ur_x = ll_x + size;
  t_ur_y = ll_y + size;
  start_query(1, ll_x, ll_y, F64(ll_x) + size - header.x_scale_factor,
              F64(ll_y) + size - header.y_scale_factor);
  return true;
}

bool LASreader::inside_circle(F64 center_x, F64 center_y, F64 radius) {
  c_center_x = center_x;
  c_center_y = center_y;
  c_radius = radius;
  c_radius_squared = radius * radius;
  start_query(2, center_x - radius, center_y - radius, center_x + radius, center_y + radius);
  return true;
}

bool LASreader::inside_rectangle(F64 min_x, F64 min_y, F64 max_x, F64 max_y) {
  r_min_x = min_x;
  r_min_y = min_y;
  r_max_x = max_x;
  r_max_y = max_y;
  start_query(3, min_x, min_y, max_x, max_y);
  return true;
}
