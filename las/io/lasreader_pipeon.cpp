#include "las/io/lasreader_pipeon.hpp"

#include "las/core/messages.hpp"
#include "las/io/laswriter_las.hpp"

LASreaderPipeOn::LASreaderPipeOn(FILE* out) : output(out) {}

LASreaderPipeOn::~LASreaderPipeOn() = default;

bool LASreaderPipeOn::open(std::unique_ptr<LASreader> reader) {
  if (!reader) {
    print_error("no lasreader\n");
    return false;
  }
  inner = std::move(reader);
  clear_status();
  header.copy_from(inner->header);
  if (!point.init_items(&header, inner->point.items, &header)) {
    print_error("cannot set up the points of the piped input\n");
    return false;
  }
  writer = std::make_unique<LASwriterLAS>();
  if (!writer->open(output, &header, 0, 0, 50000)) {
    print_error("opening laswriterlas to stdout\n");
    writer.reset();
    return false;
  }
  point_count = header.number_of_point_records ? I64(header.number_of_point_records)
                                               : I64(header.extended_number_of_point_records);
  points_read = 0;
  return true;
}

bool LASreaderPipeOn::fetch_point() {
  if (inner && inner->read_point()) {
    point.copy_from(inner->point);
    if (writer && !writer->write_point(&point)) {
      print_error("writing point %lld to stdout failed\n", (long long)points_read);
      writer.reset();
    }
    points_read++;
    return true;
  }
  if (inner) {
    if (inner->failed()) set_failed();
    if (inner->truncated()) set_truncated();
  }
  // One copy goes down the pipe; later passes only deliver.
  if (writer) {
    writer->close(true);
    writer.reset();
  }
  point.clear_values();
  return false;
}

I32 LASreaderPipeOn::get_format() const {
  return inner ? inner->get_format() : 1;
}

void LASreaderPipeOn::close(bool close_stream) {
  if (inner) inner->close(close_stream);
}

void LASreaderPipeOn::set_filter(LASfilter* f) {
  if (inner) inner->set_filter(f);
}

void LASreaderPipeOn::set_transform(LAStransform* t) {
  if (inner) inner->set_transform(t);
}

void LASreaderPipeOn::take_box() {
  header.min_x = inner->header.min_x;
  header.min_y = inner->header.min_y;
  header.max_x = inner->header.max_x;
  header.max_y = inner->header.max_y;
}

bool LASreaderPipeOn::inside_none() {
  if (!inner) return false;
  const bool done = inner->inside_none();
  take_box();
  return done;
}

bool LASreaderPipeOn::inside_tile(F32 ll_x, F32 ll_y, F32 size) {
  if (!inner) return false;
  const bool done = inner->inside_tile(ll_x, ll_y, size);
  take_box();
  return done;
}

bool LASreaderPipeOn::inside_circle(F64 center_x, F64 center_y, F64 radius) {
  if (!inner) return false;
  const bool done = inner->inside_circle(center_x, center_y, radius);
  take_box();
  return done;
}

bool LASreaderPipeOn::inside_rectangle(F64 min_x, F64 min_y, F64 max_x, F64 max_y) {
  if (!inner) return false;
  const bool done = inner->inside_rectangle(min_x, min_y, max_x, max_y);
  take_box();
  return done;
}
