#include "las/io/lasreader_stored.hpp"

#include <algorithm>

#include "las/codec/vorzak.hpp"
#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"
#include "las/core/messages.hpp"
#include "las/io/lasreader_las.hpp"
#include "las/io/laswriter_las.hpp"

namespace {

// The array grows as points arrive; the header count only sizes the start,
// and it may be damaged or wrong.
constexpr I64 kMaxInitialCapacity = I64(64) << 20;

}  // namespace

LASreaderStored::LASreaderStored() = default;

LASreaderStored::~LASreaderStored() = default;

bool LASreaderStored::open(std::unique_ptr<LASreader> reader) {
  if (!reader) {
    print_error("no lasreader\n");
    return false;
  }
  inner = std::move(reader);
  memory.reset();
  in_array.reset();
  stored.clear();
  store_failed = false;
  clear_status();
  header.copy_from(inner->header);
  format = inner->get_format();
  if (!point.init_items(&header, inner->point.items, &header)) {
    print_error("cannot set up the points of the stored input\n");
    return false;
  }
  const I64 count = header.number_of_point_records ? I64(header.number_of_point_records)
                                                   : I64(header.extended_number_of_point_records);
  out_array = std::make_unique<ByteStreamOutArrayLE>(
      std::min(std::max<I64>(2 * count, 4096), kMaxInitialCapacity));
  writer = std::make_unique<LASwriterLAS>();
  // The layered compressor is the only one for the point types of LAS 1.4.
  const bool point14 = !point.items.empty() && point.items[0].type == LASitem::POINT14;
  const U32 compressor = (point14 || header.point_data_format > 5) ? 3 : 2;
  if (!writer->open(out_array.get(), &header, compressor, 0, 50000)) {
    print_error("opening laswriterlas to streamoutarray\n");
    writer.reset();
    return false;
  }
  // Filters may drop points: what was written is patched in at the end.
  writer->point_count = 0;
  point_count = count;
  points_read = 0;
  return true;
}

I64 LASreaderStored::get_stored_bytes() const {
  if (!stored.empty()) return I64(stored.size());
  return out_array ? out_array->size() : 0;
}

LASreader* LASreaderStored::get_current() const {
  if (inner) return inner.get();
  return memory.get();
}

bool LASreaderStored::store_point() {
  if (store_failed) return false;
  if (!writer->write_point(&point)) {
    print_error("storing point %lld in memory failed\n", (long long)points_read);
    store_failed = true;
    set_failed();
    return false;
  }
  return true;
}

bool LASreaderStored::finish_storing() {
  if (inner->failed()) set_failed();
  if (inner->truncated()) set_truncated();
  inner->close(true);
  inner.reset();
  if (writer) {
    writer->close(true);
    writer.reset();
  }
  return !store_failed;
}

bool LASreaderStored::fetch_point() {
  if (inner) {
    if (inner->read_point()) {
      point.copy_from(inner->point);
      store_point();
      points_read++;
      return true;
    }
    finish_storing();
    point.clear_values();
    return false;
  }
  if (memory) {
    if (memory->read_point()) {
      point.copy_from(memory->point);
      points_read++;
      return true;
    }
    if (memory->failed()) set_failed();
    point.clear_values();
  }
  return false;
}

bool LASreaderStored::reopen() {
  if (inner) {
    // Stopping early must not lose the rest of a pipe that cannot be read twice.
    while (inner->read_point()) {
      point.copy_from(inner->point);
      store_point();
      points_read++;
    }
    finish_storing();
  }
  if (store_failed) {
    print_error("could not keep all points of the input in memory\n");
    return false;
  }
  if (!in_array) {
    if (!out_array) {
      print_error("no streamoutarray\n");
      return false;
    }
    if (out_array->size() == 0) {
      print_error("nothing stored in streamoutarray\n");
      return false;
    }
    stored = out_array->takeData();
    out_array.reset();
    in_array = std::make_unique<ByteStreamInArrayLE>(stored.data(), I64(stored.size()));
  } else {
    in_array->seek(0);
  }
  memory = std::make_unique<LASreaderLAS>();
  if (!memory->open(in_array.get(), false, 0xFFFFFFFF)) {
    print_error("opening lasreaderlas from streaminarray\n");
    memory.reset();
    return false;
  }
  // Downstream the header should describe the input, not its copy in memory.
  std::shared_ptr<Vorzak> record = header.compressor_record;
  header.copy_from(memory->header);
  header.compressor_record = record;
  point_count = memory->point_count;
  points_read = 0;
  clear_status();
  return true;
}

void LASreaderStored::close(bool close_stream) {
  if (inner) return;
  if (memory) memory->close(close_stream);
}

void LASreaderStored::set_filter(LASfilter* f) {
  // Stored points have passed the filter already.
  if (inner) inner->set_filter(f);
}

void LASreaderStored::set_transform(LAStransform* t) {
  if (inner) inner->set_transform(t);
}

void LASreaderStored::take_box_from(const LASreader* from) {
  header.min_x = from->header.min_x;
  header.min_y = from->header.min_y;
  header.max_x = from->header.max_x;
  header.max_y = from->header.max_y;
}

// Stored points passed the area query (and the transform) once already, so
// later passes only show the area in the header: testing transformed points
// again could drop them.
bool LASreaderStored::inside_none() {
  if (inner) {
    const bool done = inner->inside_none();
    take_box_from(inner.get());
    return done;
  }
  if (inside) {
    header.min_x = orig_min_x;
    header.min_y = orig_min_y;
    header.max_x = orig_max_x;
    header.max_y = orig_max_y;
    inside = 0;
  }
  return true;
}

bool LASreaderStored::inside_tile(F32 ll_x, F32 ll_y, F32 size) {
  if (inner) {
    const bool done = inner->inside_tile(ll_x, ll_y, size);
    take_box_from(inner.get());
    return done;
  }
  t_ll_x = ll_x;
  t_ll_y = ll_y;
  t_size = size;
  t_ur_x = ll_x + size;
  t_ur_y = ll_y + size;
  record_query_box(1, ll_x, ll_y, F64(ll_x) + size - header.x_scale_factor,
                   F64(ll_y) + size - header.y_scale_factor);
  return true;
}

bool LASreaderStored::inside_circle(F64 center_x, F64 center_y, F64 radius) {
  if (inner) {
    const bool done = inner->inside_circle(center_x, center_y, radius);
    take_box_from(inner.get());
    return done;
  }
  c_center_x = center_x;
  c_center_y = center_y;
  c_radius = radius;
  c_radius_squared = radius * radius;
  record_query_box(2, center_x - radius, center_y - radius, center_x + radius, center_y + radius);
  return true;
}

bool LASreaderStored::inside_rectangle(F64 min_x, F64 min_y, F64 max_x, F64 max_y) {
  if (inner) {
    const bool done = inner->inside_rectangle(min_x, min_y, max_x, max_y);
    take_box_from(inner.get());
    return done;
  }
  r_min_x = min_x;
  r_min_y = min_y;
  r_max_x = max_x;
  r_max_y = max_y;
  record_query_box(3, min_x, min_y, max_x, max_y);
  return true;
}
