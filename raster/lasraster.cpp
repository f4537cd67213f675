#include "raster/lasraster.hpp"

#include <cmath>
#include <cstring>
#include <new>

#include "las/core/messages.hpp"
#include "raster/lasraster_statistics.hpp"

namespace {

// One counter for the whole process, so that rasters alive at the same time
// never share a temporary file name.
U32 next_temp_file_number() {
  static U32 number = 0;
  return number++;
}

// Temporary files still on disk; whatever a raster could not remove itself
// (the process ended through exit()) goes when static objects are destroyed.
bool g_registry_gone = false;

struct TempRegistry {
  std::vector<std::string> names;
  ~TempRegistry() {
    for (const std::string& name : names) std::remove(name.c_str());
    names.clear();
    g_registry_gone = true;
  }
};

TempRegistry& temp_registry() {
  static TempRegistry registry;
  return registry;
}

void register_temp(const std::string& name) {
  if (!g_registry_gone) temp_registry().names.push_back(name);
}

void unregister_temp(const std::string& name) {
  if (g_registry_gone) return;
  std::vector<std::string>& names = temp_registry().names;
  for (size_t i = 0; i < names.size(); i++) {
    if (names[i] == name) {
      names.erase(names.begin() + I64(i));
      return;
    }
  }
}

}  // namespace

LASraster::LASraster() {
  LASrasterStatistics::install_default(*this);
  process_id_ = platform::process_id();
}

LASraster::~LASraster() {
  remove_temp_files();
}

void LASraster::remove_temp_files() {
  for (TempFile& f : temp_files_) {
    if (f.file) {
      fclose(f.file);
      f.file = nullptr;
      std::remove(f.name.c_str());
      unregister_temp(f.name);
    }
  }
  temp_files_.clear();
}

bool LASraster::set_step(F64 step) {
  if (!(step > 0.0)) return false;
  step_x_ = step_y_ = step_z_ = step;
  return true;
}

bool LASraster::set_statistic(const char* text) {
  return LASrasterStatistics::select(*this, text);
}

static I32 saturated_index(F64 coordinate, F64 step) {
  I32 index;
  if (LASraster::cell_index(coordinate, step, &index)) return index;
  return (coordinate / step < 0.0) ? I32_MIN : I32_MAX;
}

F64 LASraster::cell_center_x(const LASpoint& point) const {
  const F64 x = point.get_x();
  return (std::floor(x / step_x_) + 0.5) * step_x_;
}

F64 LASraster::cell_center_y(const LASpoint& point) const {
  const F64 y = point.get_y();
  return (std::floor(y / step_y_) + 0.5) * step_y_;
}

F64 LASraster::cell_center_z(const LASpoint& point) const {
  if (step_z_ == STEP_Z_NONE) return 0.0;
  const F64 z = point.get_z();
  return (std::floor(z / step_z_) + 0.5) * step_z_;
}

void LASraster::report_no_tile(I32 column, I32 row) const {
  print_error("cannot get tile (%d/%d)\n", column, row);
}

bool LASraster::add_point(const LASpoint& point, U32 sub) {
  if (sub == 0) return true;
  const F64 x = point.get_x();
  const F64 y = point.get_y();
  const F64 n = F64(sub);
  // Rows do not depend on the column shift; compute them once when few.
  constexpr U32 kKept = 8;
  I32 rows[kKept];
  bool rows_ok[kKept];
  for (U32 j = 0; j < sub && j < kKept; j++) {
    rows_ok[j] = cell_index(y + step_y_ * F64(j) / n, step_y_, &rows[j]);
  }
  for (U32 i = 0; i < sub; i++) {
    const F64 xi = x + step_x_ * F64(i) / n;
    I32 column = 0;
    const bool column_ok = cell_index(xi, step_x_, &column);
    for (U32 j = 0; j < sub; j++) {
      const F64 yj = y + step_y_ * F64(j) / n;
      I32 row = 0;
      bool row_ok;
      if (j < kKept) {
        row = rows[j];
        row_ok = rows_ok[j];
      } else {
        row_ok = cell_index(yj, step_y_, &row);
      }
      if (!column_ok || !row_ok) {
        // Beyond the 32-bit grid there is no tile to put the point in.
        report_no_tile(saturated_index(xi, step_x_), saturated_index(yj, step_y_));
        return false;
      }
      if (!add_to_cell(column, row, point)) return false;
    }
  }
  return true;
}

bool LASraster::get_value_at(const LASpoint& point, I32* value, U32 selector) {
  I32 column, row;
  if (!cell_index(point.get_x(), step_x_, &column)) return false;
  if (!cell_index(point.get_y(), step_y_, &row)) return false;
  return get_value(column, row, value, selector);
}

bool LASraster::set_value(I32 column, I32 row, I32 value) {
  if (!set_) return false;
  widen_bounds(column, row);
  if (!get_tile(column, row, true)) {
    report_no_tile(column, row);
    return false;
  }
  LASrasterTile* tile = head_;
  tile->state &= ~LASrasterTile::CLEAN;
  set_(*this, tile->buffer, cell_in_tile(column, row), value);
  return true;
}

bool LASraster::clear_cell(I32 column, I32 row) {
  if (!get_tile(column, row, false)) return false;
  LASrasterTile* tile = head_;
  tile->state &= ~LASrasterTile::CLEAN;
  clear_(*this, tile->buffer, cell_in_tile(column, row));
  return true;
}

void LASraster::track_value(I64 value) {
  if (value < min_value_) min_value_ = I32(value < I32_MIN ? I32_MIN : value);
  if (value > max_value_) max_value_ = I32(value > I32_MAX ? I32_MAX : value);
}

void LASraster::track_max(I64 value) {
  if (value > max_value_) max_value_ = I32(value > I32_MAX ? I32_MAX : value);
}

void LASraster::track_variance(F64 variance) {
  // Follows large variances smoothly instead of jumping to outliers.
  if (max_value_ == I32_MIN) {
    const I64 v = round_half_away(variance);
    max_value_ = I32(v > I32_MAX ? I32_MAX : v);
    return;
  }
  const F64 old = F64(max_value_);
  if (variance > old / 2.0) {
    const F64 blended = 0.9 * old + 0.1 * (variance > old ? variance : old);
    const I64 v = round_half_away(blended);
    max_value_ = I32(v > I32_MAX ? I32_MAX : v);
  }
}

// Tiles and their index.

LASrasterTile* LASraster::find_tile(U32 rel_column, U32 rel_row) const {
  const I32 c = I32(rel_column);
  const I32 r = I32(rel_row);
  if (c >= -32768 && c <= 32767 && r >= -32768 && r <= 32767) {
    const I32 key = I32((rel_column << 16) | (rel_row & 0xFFFFu));
    auto it = small_index_.find(key);
    return it == small_index_.end() ? nullptr : it->second;
  }
  const I64 key = I64((U64(rel_column) << 32) | U64(rel_row));
  auto it = large_index_.find(key);
  return it == large_index_.end() ? nullptr : it->second;
}

bool LASraster::insert_tile(U32 rel_column, U32 rel_row, LASrasterTile* tile) {
  try {
    const I32 c = I32(rel_column);
    const I32 r = I32(rel_row);
    if (c >= -32768 && c <= 32767 && r >= -32768 && r <= 32767) {
      small_index_.emplace(I32((rel_column << 16) | (rel_row & 0xFFFFu)), tile);
    } else {
      large_index_.emplace(I64((U64(rel_column) << 32) | U64(rel_row)), tile);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool LASraster::has_tile(U32 tile_column, U32 tile_row) const {
  if (tiles_.empty()) return false;
  return find_tile(tile_column - origin_tile_column_, tile_row - origin_tile_row_) != nullptr;
}

std::vector<std::pair<U32, U32>> LASraster::tile_indices() const {
  std::vector<std::pair<U32, U32>> list;
  list.reserve(tiles_.size());
  for (const auto& tile : tiles_) list.emplace_back(tile->tile_column, tile->tile_row);
  return list;
}

U32 LASraster::get_temporary_file_count() const {
  U32 count = 0;
  for (const TempFile& f : temp_files_) count += f.file ? 1 : 0;
  return count;
}

U64 LASraster::get_tile_reads() const {
  U64 total = 0;
  for (const auto& tile : tiles_) total += tile->reads;
  return total;
}

U64 LASraster::get_tile_writes() const {
  U64 total = 0;
  for (const auto& tile : tiles_) total += tile->writes;
  return total;
}

void LASraster::unlink_tile(LASrasterTile* tile) {
  if (tile->previous) {
    tile->previous->next = tile->next;
  } else if (head_ == tile) {
    head_ = tile->next;
  }
  if (tile->next) {
    tile->next->previous = tile->previous;
  } else if (tail_ == tile) {
    tail_ = tile->previous;
  }
  tile->next = nullptr;
  tile->previous = nullptr;
}

void LASraster::push_head(LASrasterTile* tile) {
  tile->previous = nullptr;
  tile->next = head_;
  if (head_) head_->previous = tile;
  head_ = tile;
  if (!tail_) tail_ = tile;
}

bool LASraster::set_up(U32 tile_column, U32 tile_row, I32 column, I32 row) {
  // Turn bits per cell into byte offsets; every layer is padded to whole
  // 32-bit words.
  U64 offset = 0;
  for (U32 k = 0; k < MAX_LAYERS && layer_bits_[k]; k++) {
    layer_offset_[k] = U32(offset);
    offset += ((U64(TILE_SIZE) * TILE_SIZE * layer_bits_[k] - 1) / 32) * 4 + 4;
  }
  if (offset == 0 || offset > 0x7FFFFFFFu) return false;
  tile_bytes_ = U32(offset);
  I64 max_tiles = memory_budget_ / I64(tile_bytes_);
  if (max_tiles < 1) max_tiles = 1;
  if (max_tiles > I64(0x7FFFFFFF)) max_tiles = 0x7FFFFFFF;
  max_tiles_in_memory_ = U32(max_tiles);
  try {
    buffers_.reserve(64 < max_tiles_in_memory_ ? 64 : max_tiles_in_memory_);
  } catch (const std::bad_alloc&) {
    print_error("cannot alloc pointer array 'data' to size %u\n", 64u);
    return false;
  }
  slots_used_ = 0;
  slots_per_file_ = 0x7FFFFFFFu / tile_bytes_;
  origin_tile_column_ = tile_column;
  origin_tile_row_ = tile_row;
  min_column_ = max_column_ = column;
  min_row_ = max_row_ = row;
  return true;
}

U8* LASraster::acquire_buffer(bool* zeroed) {
  *zeroed = false;
  if (!spare_buffers_.empty()) {
    U8* buffer = spare_buffers_.back();
    spare_buffers_.pop_back();
    return buffer;
  }
  if (tiles_in_memory_ < max_tiles_in_memory_) {
    if (buffers_.size() == buffers_.capacity()) {
      size_t grown = buffers_.capacity() * 2;
      if (grown > max_tiles_in_memory_) grown = max_tiles_in_memory_;
      try {
        buffers_.reserve(grown);
      } catch (const std::bad_alloc&) {
        print_error("cannot realloc pointer array 'data' to size %u\n", U32(grown));
        return nullptr;
      }
    }
    try {
      buffers_.push_back(std::make_unique<U8[]>(tile_bytes_));
    } catch (const std::bad_alloc&) {
      print_error("cannot alloc data[%u] with size %u\n", tiles_in_memory_, tile_bytes_);
      return nullptr;
    }
    tiles_in_memory_++;
    *zeroed = true;
    return buffers_.back().get();
  }
  // Recycle the buffer of the least recently used tile; if its bytes cannot
  // be saved it keeps them and the request fails.
  LASrasterTile* victim = tail_;
  if (!victim) return nullptr;
  if (!store_tile(victim)) return nullptr;
  U8* buffer = victim->buffer;
  victim->buffer = nullptr;
  unlink_tile(victim);
  return buffer;
}

bool LASraster::change_tile(I32 column, I32 row, bool create) {
  const U32 tile_column = U32(column) / TILE_SIZE;
  const U32 tile_row = U32(row) / TILE_SIZE;
  U32 rel_column = tile_column - origin_tile_column_;
  U32 rel_row = tile_row - origin_tile_row_;
  if (current_valid_) {
    if (rel_column == current_tile_column_ && rel_row == current_tile_row_) return true;
  } else if (!create) {
    if (tiles_.empty()) return false;
    if (current_missing_ && rel_column == current_tile_column_ && rel_row == current_tile_row_) {
      return false;
    }
  } else if (tiles_.empty()) {
    if (!set_up(tile_column, tile_row, column, row)) return false;
    rel_column = 0;
    rel_row = 0;
  }
  current_tile_column_ = rel_column;
  current_tile_row_ = rel_row;
  current_valid_ = false;
  current_missing_ = false;

  LASrasterTile* tile = find_tile(rel_column, rel_row);
  if (!tile) {
    current_missing_ = true;
    if (!create) return false;
    std::unique_ptr<LASrasterTile> made;
    try {
      made = std::make_unique<LASrasterTile>();
    } catch (const std::bad_alloc&) {
      print_error("cannot alloc LASrasterTile\n");
      return false;
    }
    bool zeroed = false;
    U8* buffer = acquire_buffer(&zeroed);
    if (!buffer) return false;
    if (!zeroed) memset(buffer, 0, tile_bytes_);
    made->buffer = buffer;
    made->tile_column = tile_column;
    made->tile_row = tile_row;
    bool inserted = insert_tile(rel_column, rel_row, made.get());
    if (inserted) {
      try {
        tiles_.push_back(std::move(made));
      } catch (const std::bad_alloc&) {
        inserted = false;
      }
    }
    if (!inserted) {
      print_error("cannot alloc tile\n");
      // Undo a half-done insertion and keep the buffer for later use.
      small_index_.erase(I32((rel_column << 16) | (rel_row & 0xFFFFu)));
      large_index_.erase(I64((U64(rel_column) << 32) | U64(rel_row)));
      spare_buffers_.push_back(buffer);
      return false;
    }
    current_missing_ = false;
    push_head(tiles_.back().get());
    current_valid_ = true;
    return true;
  }
  if (tile != head_) {
    if (tile->buffer) {
      unlink_tile(tile);
    } else {
      bool zeroed = false;
      U8* buffer = acquire_buffer(&zeroed);
      if (!buffer) return false;
      if (!load_tile(tile, buffer)) {
        spare_buffers_.push_back(buffer);
        return false;
      }
      tile->buffer = buffer;
    }
    push_head(tile);
  }
  current_valid_ = true;
  return true;
}

// Temporary files.

bool LASraster::open_temp_file(U32 index) {
  if (index >= temp_files_.size()) {
    try {
      temp_files_.resize(size_t(index) + 1);
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  TempFile& entry = temp_files_[index];
  if (entry.file) return true;
  // A name may be taken by a stale file of an earlier process with the same
  // ID; never open someone else's file, take the next number instead.
  for (int attempt = 0; attempt < 1000; attempt++) {
    char name[4096];
    const U32 number = next_temp_file_number();
    if (temp_base_.empty()) {
      snprintf(name, sizeof(name), "taemp%d.%d.tmp", process_id_, int(number));
    } else {
      snprintf(name, sizeof(name), "%s%d.%d.tmp", temp_base_.c_str(), process_id_, int(number));
    }
    FILE* file = platform::create_exclusive(name);
    if (file) {
      entry.file = file;
      entry.name = name;
      register_temp(entry.name);
      return true;
    }
    if (!platform::file_exists(name)) {
      print_error("cannot create temporary file '%s'\n", name);
      return false;
    }
  }
  print_error("cannot find a free temporary file name\n");
  return false;
}

bool LASraster::store_tile(LASrasterTile* tile) {
  if (tile->state & LASrasterTile::CLEAN) return true;
  if (!(tile->state & LASrasterTile::HAS_SLOT)) {
    if (slots_used_ > LASrasterTile::SLOT_MASK) {
      print_error("too many tiles for temporary files\n");
      return false;
    }
    tile->state = (tile->state & LASrasterTile::CLEAN) | LASrasterTile::HAS_SLOT | slots_used_;
    slots_used_++;
  }
  const U32 slot = tile->state & LASrasterTile::SLOT_MASK;
  const U32 index = slot / slots_per_file_;
  const I64 position = I64(slot % slots_per_file_) * I64(tile_bytes_);
  if (!open_temp_file(index)) return false;
  TempFile& entry = temp_files_[index];
  if (!platform::seek(entry.file, position) ||
      fwrite(tile->buffer, 1, tile_bytes_, entry.file) != tile_bytes_ || fflush(entry.file) != 0) {
    print_error("cannot write tile to temporary file '%s'\n", entry.name.c_str());
    clearerr(entry.file);
    return false;
  }
  tile->writes++;
  return true;
}

bool LASraster::load_tile(LASrasterTile* tile, U8* buffer) {
  const U32 slot = tile->state & LASrasterTile::SLOT_MASK;
  const U32 index = slot / slots_per_file_;
  const I64 position = I64(slot % slots_per_file_) * I64(tile_bytes_);
  if (!(tile->state & LASrasterTile::HAS_SLOT) || index >= temp_files_.size() ||
      !temp_files_[index].file) {
    print_error("cannot read tile: it has no temporary file\n");
    return false;
  }
  TempFile& entry = temp_files_[index];
  if (!platform::seek(entry.file, position) ||
      fread(buffer, 1, tile_bytes_, entry.file) != tile_bytes_) {
    print_error("cannot read tile from temporary file '%s'\n", entry.name.c_str());
    clearerr(entry.file);
    return false;
  }
  tile->state |= LASrasterTile::CLEAN;
  tile->reads++;
  return true;
}
