#include "las/io/lasreader_buffered.hpp"

#include <cmath>
#include <cstring>

#include "las/codec/lasitem_raw.hpp"
#include "las/core/messages.hpp"
#include "las/core/platform.hpp"
#include "las/io/lasreader_factory.hpp"

namespace {

bool readable(const char* name) {
  if (name == nullptr) {
    print_error("file name pointer is NULL\n");
    return false;
  }
  FILE* probe = platform::open_file(name, "rb");
  if (probe == nullptr || platform::is_directory(name)) {
    if (probe) fclose(probe);
    print_error("file '%s' cannot be opened\n", name);
    return false;
  }
  fclose(probe);
  return true;
}

bool fits(F64 min, F64 max, F64 offset, F64 scale) {
  return (max - offset) / scale <= 2147483647.0 && (min - offset) / scale >= -2147483648.0;
}

}  // namespace

LASreaderBuffered::LASreaderBuffered()
    : tile_factory(std::make_unique<LASreaderFactory>()),
      neighbor_factory(std::make_unique<LASreaderFactory>()) {
  neighbor_factory->set_merged(true);
}

LASreaderBuffered::~LASreaderBuffered() = default;

bool LASreaderBuffered::set_file_name(const char* name) {
  if (!readable(name)) return false;
  tile_name = name;
  return tile_factory->add_file_name(name, false);
}

bool LASreaderBuffered::add_neighbor_file_name(const char* name) {
  if (!readable(name)) return false;
  if (first_neighbor.empty()) first_neighbor = name;
  return neighbor_factory->add_file_name(name, false);
}

void LASreaderBuffered::set_scale_factor(const F64* scale) {
  tile_factory->set_scale_factor(scale);
  neighbor_factory->set_scale_factor(scale);
}

void LASreaderBuffered::set_offset(const F64* offset) {
  tile_factory->set_offset(offset);
  neighbor_factory->set_offset(offset);
}

void LASreaderBuffered::set_auto_reoffset(bool on) {
  tile_factory->set_auto_reoffset(on);
  neighbor_factory->set_auto_reoffset(on);
}

void LASreaderBuffered::set_io_ibuffer_size(I32 size) {
  tile_factory->set_io_ibuffer_size(size);
  neighbor_factory->set_io_ibuffer_size(size);
}

void LASreaderBuffered::set_filter(LASfilter* f) {
  tile_factory->set_filter(f);
  neighbor_factory->set_filter(f);
  if (tile_reader) tile_reader->set_filter(f);
}

void LASreaderBuffered::set_transform(LAStransform* t) {
  tile_factory->set_transform(t);
  neighbor_factory->set_transform(t);
  if (tile_reader) tile_reader->set_transform(t);
}

bool LASreaderBuffered::inside_tile(F32 ll_x, F32 ll_y, F32 size) {
  LASreader::inside_tile(ll_x, ll_y, size);
  header.max_x = F64(ll_x) + size - 0.001 * header.x_scale_factor;
  header.max_y = F64(ll_y) + size - 0.001 * header.y_scale_factor;
  return true;
}

I32 LASreaderBuffered::get_format() const {
  return tile_reader ? tile_reader->get_format() : 1;
}

void LASreaderBuffered::close(bool close_stream) {
  if (tile_reader) tile_reader->close(close_stream);
}

void LASreaderBuffered::pack_point() {
  const U32 block = buffer_points / kPointsPerBlock;
  const U32 slot = buffer_points % kPointsPerBlock;
  if (block == blocks.size()) {
    blocks.emplace_back(new U8[size_t(kPointsPerBlock) * record_size]);
  }
  pack_stream.reset();
  U32 context = 0;
  for (size_t i = 0; i < packers.size(); i++) {
    packers[i]->writeItem(point.item_targets[i], context);
  }
  memcpy(blocks[block].get() + size_t(slot) * record_size, pack_stream.data(), record_size);
  buffer_points++;
}

void LASreaderBuffered::unpack_point(U32 index) {
  const U8* record =
      blocks[index / kPointsPerBlock].get() + size_t(index % kPointsPerBlock) * record_size;
  unpack_stream.init(record, record_size);
  U32 context = 0;
  for (size_t i = 0; i < unpackers.size(); i++) {
    unpackers[i]->readItem(point.item_targets[i], context);
  }
}

bool LASreaderBuffered::fit_quantization(const F64* mins, const F64* maxs) {
  static const char* const scale_names[3] = {"x_scale_factor", "y_scale_factor", " z_scale_factor"};
  static const char* const offset_names[3] = {"x_offset", "y_offset", "z_offset"};
  F64* scale[3] = {&header.x_scale_factor, &header.y_scale_factor, &header.z_scale_factor};
  F64* offset[3] = {&header.x_offset, &header.y_offset, &header.z_offset};
  requantize = false;
  for (int a = 0; a < 3; a++) {
    requantizer.orig_scale[a] = requantizer.new_scale[a] = *scale[a];
    requantizer.orig_offset[a] = requantizer.new_offset[a] = *offset[a];
    requantizer.rescale_axis[a] = requantizer.reoffset_axis[a] = false;
  }
  for (int a = 0; a < 3; a++) {
    if (*scale[a] == 0.0 || !std::isfinite(*scale[a]) || !std::isfinite(mins[a]) ||
        !std::isfinite(maxs[a])) {
      print_error("cannot fit a bounding box of [%g, %g] with a scale factor of %g\n", mins[a],
                  maxs[a], *scale[a]);
      return false;
    }
    if (fits(mins[a], maxs[a], *offset[a], *scale[a])) continue;
    const F64 old_scale = *scale[a];
    const F64 new_offset = F64(round_half_away((mins[a] + maxs[a]) / 2));
    F64 new_scale = old_scale;
    for (int k = 0; k < 700 && !fits(mins[a], maxs[a], new_offset, new_scale); k++) {
      new_scale *= 10;
    }
    if (!fits(mins[a], maxs[a], new_offset, new_scale)) {
      print_error("cannot find a scale factor that holds the buffered bounding box\n");
      return false;
    }
    if (new_scale != old_scale) {
      print_warning("i changed %s from %g to %g to accommodate enlarged bounding box\n",
                    scale_names[a], old_scale, new_scale);
      *scale[a] = new_scale;
      requantizer.new_scale[a] = new_scale;
      requantizer.rescale_axis[a] = true;
    }
    if (!fits(mins[a], maxs[a], *offset[a], *scale[a])) {
      print_warning("i changed %s from %g to %g to accommodate enlarged bounding box\n",
                    offset_names[a], *offset[a], new_offset);
      *offset[a] = new_offset;
      requantizer.new_offset[a] = new_offset;
      requantizer.reoffset_axis[a] = true;
    }
    requantize = true;
  }
  return true;
}

bool LASreaderBuffered::open() {
  if (!tile_factory->has_next()) {
    print_error("no input name\n");
    return false;
  }
  tile_reader = tile_factory->open();
  if (!tile_reader) {
    print_error("opening '%s'\n", tile_name.c_str());
    return false;
  }
  header.copy_from(tile_reader->header);
  if (!point.init_items(&header, tile_reader->point.items, &header)) {
    print_error("cannot set up the points of '%s'\n", tile_name.c_str());
    return false;
  }
  record_size = U32(point.record_size);
  packers.clear();
  unpackers.clear();
  for (const LASitem& item : point.items) {
    packers.push_back(makeWriteItemRaw(item));
    unpackers.push_back(makeReadItemRaw(item));
    if (!packers.back() || !unpackers.back()) {
      print_error("cannot buffer points with an item of type %d\n", int(item.type));
      return false;
    }
    packers.back()->init(&pack_stream);
    unpackers.back()->init(&unpack_stream);
  }
  blocks.clear();
  buffer_points = 0;
  requantize = false;

  if (neighbor_factory->get_file_count()) {
    const F64 b = buffer_size;
    // Buffer points are stored in one quantization with the tile's points,
    // so it must hold every place a buffer point can come from: the grown
    // tile, at the heights of the neighbours.
    F64 mins[3] = {header.min_x - b, header.min_y - b, header.min_z};
    F64 maxs[3] = {header.max_x + b, header.max_y + b, header.max_z};
    for (const LASreaderFactory::InputFile& f : neighbor_factory->get_files()) {
      LASreaderLAS peek;
      if (peek.open(f.name.c_str(), 4096, true) && peek.point_count > 0) {
        if (peek.header.min_z < mins[2]) mins[2] = peek.header.min_z;
        if (peek.header.max_z > maxs[2]) maxs[2] = peek.header.max_z;
      }
    }
    if (!fit_quantization(mins, maxs)) return false;
    neighbor_factory->set_inside_rectangle(mins[0], mins[1], maxs[0], maxs[1]);
    const F64 scale[3] = {header.x_scale_factor, header.y_scale_factor, header.z_scale_factor};
    const F64 offset[3] = {header.x_offset, header.y_offset, header.z_offset};
    neighbor_factory->set_scale_factor(scale);
    neighbor_factory->set_offset(offset);
    neighbor_factory->set_auto_reoffset(false);
    neighbor_factory->rewind();
    header.save_original();
    std::unique_ptr<LASreader> neighbors = neighbor_factory->open();
    if (!neighbors) {
      print_error("opening neighbor '%s'\n", first_neighbor.c_str());
      return false;
    }
    if (neighbors->header.point_data_format != header.point_data_format) {
      print_warning("files have different point types: %d vs %d\n", int(header.point_data_format),
                    int(neighbors->header.point_data_format));
    } else if (neighbors->header.point_data_record_length != header.point_data_record_length) {
      print_warning("files have different point sizes: %d vs %d\n",
                    int(header.point_data_record_length),
                    int(neighbors->header.point_data_record_length));
    }
    const bool extended_counts = header.version_minor >= 4;
    bool first =
        header.number_of_point_records == 0 && header.extended_number_of_point_records == 0;
    while (neighbors->read_point()) {
      if (buffer_points == U32_MAX) {
        print_warning("too many buffer points. ignoring the rest ...\n");
        break;
      }
      point.copy_from(neighbors->point);
      pack_point();
      if (point.return_number >= 1 && point.return_number <= 5) {
        header.number_of_points_by_return[point.return_number - 1]++;
      }
      const U32 r = point.extended_layout ? point.extended_return_number : point.return_number;
      if (extended_counts && r >= 1 && r <= 15) header.extended_number_of_points_by_return[r - 1]++;
      const F64 xyz[3] = {point.get_x(), point.get_y(), point.get_z()};
      F64* mins[3] = {&header.min_x, &header.min_y, &header.min_z};
      F64* maxs[3] = {&header.max_x, &header.max_y, &header.max_z};
      for (int a = 0; a < 3; a++) {
        if (first) {
          *mins[a] = *maxs[a] = xyz[a];
        } else if (xyz[a] < *mins[a]) {
          *mins[a] = xyz[a];
        } else if (xyz[a] > *maxs[a]) {
          *maxs[a] = xyz[a];
        }
      }
      first = false;
    }
    neighbors->close(true);
    neighbors.reset();
    const I64 legacy = I64(header.number_of_point_records);
    if (legacy != 0 && legacy + I64(buffer_points) <= I64(U32_MAX)) {
      header.number_of_point_records = U32(legacy + buffer_points);
      if (extended_counts) header.extended_number_of_point_records = U64(legacy + buffer_points);
    } else {
      const U64 base = legacy ? U64(legacy) : header.extended_number_of_point_records;
      header.extended_number_of_point_records = base + buffer_points;
      if (legacy) header.number_of_point_records = 0;
    }
    print_message("LASreaderBuffered: adding %u buffer points.\n", buffer_points);
  }

  point_count = header.number_of_point_records ? I64(header.number_of_point_records)
                                               : I64(header.extended_number_of_point_records);
  points_read = 0;
  buffer_next = 0;
  tile_done = false;
  clear_status();
  return true;
}

bool LASreaderBuffered::fetch_point() {
  if (!tile_done && tile_reader) {
    if (tile_reader->read_point()) {
      point.copy_from(tile_reader->point);
      if (requantize) requantizer.convert(point);
      points_read++;
      return true;
    }
    if (tile_reader->failed()) set_failed();
    if (tile_reader->truncated()) set_truncated();
    tile_done = true;
  }
  if (buffer_next < buffer_points) {
    // Buffer points were read into the final quantization already.
    unpack_point(buffer_next++);
    points_read++;
    return true;
  }
  if (tile_reader) tile_reader->close(true);
  point.clear_values();
  return false;
}

bool LASreaderBuffered::remove_buffer() {
  blocks.clear();
  buffer_points = 0;
  requantize = false;
  buffer_next = 0;
  if (header.vlr_lasoriginal) {
    point_count = header.vlr_lasoriginal->number_of_point_records;
    header.restore_original();
  }
  return true;
}

bool LASreaderBuffered::reopen() {
  points_read = 0;
  buffer_next = 0;
  tile_done = false;
  clear_status();
  if (!tile_reader) return false;
  return tile_factory->reopen(tile_reader.get(), true);
}
