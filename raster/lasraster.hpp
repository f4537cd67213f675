// An unbounded grid of per-cell statistics over the x/y plane. Cells are kept
// in square tiles created on first touch; tile buffers live in memory up to a
// budget and spill to temporary files in least-recently-used order.
#pragma once

#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "las/core/laspoint.hpp"
#include "las/core/platform.hpp"
#include "las/core/types.hpp"

class LASraster;

struct LASrasterTile {
  static constexpr U32 CLEAN = 0x80000000u;     // the file slot holds the buffer's bytes
  static constexpr U32 HAS_SLOT = 0x40000000u;  // a file slot is assigned
  static constexpr U32 SLOT_MASK = 0x3FFFFFFFu;

  U8* buffer = nullptr;               // owned by the raster; none while swapped out
  LASrasterTile* next = nullptr;      // towards the least recently used end
  LASrasterTile* previous = nullptr;  // towards the head
  U32 state = 0;
  U32 reads = 0;
  U32 writes = 0;
  // Absolute tile indices (unsigned cell index div tile size).
  U32 tile_column = 0;
  U32 tile_row = 0;
};

// Statistic operations on one cell of one tile buffer; `cell` is column +
// tile size * row within the tile.
using LASrasterAddOp = void (*)(LASraster& raster, U8* tile, U32 cell, const LASpoint& point);
using LASrasterGetOp = bool (*)(const LASraster& raster, const U8* tile, U32 cell, I32* value,
                                U32 selector);
using LASrasterSetOp = void (*)(LASraster& raster, U8* tile, U32 cell, I32 value);
using LASrasterClearOp = void (*)(LASraster& raster, U8* tile, U32 cell);

class LASraster {
 public:
  static constexpr U32 TILE_SIZE = 100;
  static constexpr U32 MAX_LAYERS = 4;
  // Number of distinct tile indices along one axis (unsigned cells div 100).
  static constexpr U64 TILE_INDEX_COUNT = (U64(0xFFFFFFFFu) / TILE_SIZE) + 1;
  static constexpr F64 STEP_Z_NONE = 2e307;

  LASraster();
  ~LASraster();
  LASraster(const LASraster&) = delete;
  LASraster& operator=(const LASraster&) = delete;

  // Fails and changes nothing unless step > 0.
  bool set_step(F64 step);
  F64 get_step() const { return step_x_; }
  // Chooses the statistic by keywords (see lasraster_statistics.cpp). Must
  // come before the first add; fails and keeps the old statistic when the
  // text names none.
  bool set_statistic(const char* text);
  // Bytes of tile buffers kept in memory; takes effect at the first tile.
  // At least one tile always stays in memory.
  void set_memory_budget(I64 bytes) { memory_budget_ = bytes; }
  // Temporary files become "<base><pid>.<n>.tmp" instead of "taemp<pid>.<n>.tmp".
  void set_temporary_base_name(const char* base) { temp_base_ = base ? base : ""; }
  void set_track_value_range(bool on) { track_value_range_ = on; }
  void set_current_value(I32 value) { current_value_ = value; }

  inline bool add_to_cell(I32 column, I32 row, const LASpoint& point);
  // Adds the point to the cells of n x n sub-cell shifts of its position.
  bool add_point(const LASpoint& point, U32 sub = 1);
  inline bool get_value(I32 column, I32 row, I32* value, U32 selector = 0);
  bool get_value_at(const LASpoint& point, I32* value, U32 selector = 0);
  // Direct write of a value; fails for statistics without a write operation.
  bool set_value(I32 column, I32 row, I32 value);
  // Makes the cell have no value; no tile is created for it.
  bool clear_cell(I32 column, I32 row);

  // floor(coordinate / step) as a cell index; false when outside 32 bits.
  static bool cell_index(F64 coordinate, F64 step, I32* index) {
    const F64 q = coordinate / step;
    if (!(q >= -2147483648.0 && q < 2147483648.0)) return false;
    I64 t = I64(q);  // truncates; one less below zero unless whole
    if (q < F64(t)) t--;
    *index = I32(t);
    return true;
  }
  // Index of a cell within its tile: column + tile size * row, both taken
  // unsigned modulo the tile size.
  static U32 cell_in_tile(I32 column, I32 row) {
    return (U32(column) % TILE_SIZE) + TILE_SIZE * (U32(row) % TILE_SIZE);
  }
  // Centre of the point's own cell (z is 0 without a z step).
  F64 cell_center_x(const LASpoint& point) const;
  F64 cell_center_y(const LASpoint& point) const;
  F64 cell_center_z(const LASpoint& point) const;

  bool has_tiles() const { return !tiles_.empty(); }
  I32 get_min_column() const { return min_column_; }
  I32 get_min_row() const { return min_row_; }
  I32 get_max_column() const { return max_column_; }
  I32 get_max_row() const { return max_row_; }
  I32 get_min_value() const { return min_value_; }
  I32 get_max_value() const { return max_value_; }
  I32 get_current_value() const { return current_value_; }
  U32 get_overflow() const { return overflow_; }
  U32 get_class_quotient() const { return class_quotient_; }
  U32 get_tile_bytes() const { return tile_bytes_; }
  U32 get_tiles_in_memory() const { return tiles_in_memory_; }
  U32 get_max_tiles_in_memory() const { return max_tiles_in_memory_; }
  size_t get_tile_count() const { return tiles_.size(); }
  U32 get_temporary_file_count() const;
  // Totals of tile loads from and stores to temporary files.
  U64 get_tile_reads() const;
  U64 get_tile_writes() const;

  // Absolute indices of every tile that exists, in creation order.
  std::vector<std::pair<U32, U32>> tile_indices() const;
  // Whether the tile with these absolute indices exists (no cache change).
  bool has_tile(U32 tile_column, U32 tile_row) const;

  // For the statistic operations.
  U32 layer_offset(U32 k) const { return layer_offset_[k]; }
  void count_overflow() { overflow_++; }
  void track_value(I64 value);
  void track_max(I64 value);
  void track_variance(F64 variance);
  bool tracks_value_range() const { return track_value_range_; }
  int next_random() { return random_.next(); }

 private:
  struct TempFile {
    FILE* file = nullptr;
    std::string name;
  };

  // Makes the cell's tile the head; the tile last asked for costs nothing.
  bool get_tile(I32 column, I32 row, bool create) {
    return (current_valid_ &&
            U32(column) / TILE_SIZE - origin_tile_column_ == current_tile_column_ &&
            U32(row) / TILE_SIZE - origin_tile_row_ == current_tile_row_) ||
           change_tile(column, row, create);
  }
  bool change_tile(I32 column, I32 row, bool create);
  void widen_bounds(I32 column, I32 row) {
    if (column < min_column_) {
      min_column_ = column;
    } else if (column > max_column_) {
      max_column_ = column;
    }
    if (row < min_row_) {
      min_row_ = row;
    } else if (row > max_row_) {
      max_row_ = row;
    }
  }
  void report_no_tile(I32 column, I32 row) const;
  bool set_up(U32 tile_column, U32 tile_row, I32 column, I32 row);
  LASrasterTile* find_tile(U32 rel_column, U32 rel_row) const;
  bool insert_tile(U32 rel_column, U32 rel_row, LASrasterTile* tile);
  U8* acquire_buffer(bool* zeroed);
  bool store_tile(LASrasterTile* tile);
  bool load_tile(LASrasterTile* tile, U8* buffer);
  bool open_temp_file(U32 index);
  void unlink_tile(LASrasterTile* tile);
  void push_head(LASrasterTile* tile);
  void remove_temp_files();

  I32 min_column_ = 0, min_row_ = 0, max_column_ = 0, max_row_ = 0;
  I32 min_value_ = I32_MAX, max_value_ = I32_MIN;
  LASrasterAddOp add_;
  LASrasterGetOp get_;
  LASrasterSetOp set_ = nullptr;
  LASrasterClearOp clear_;
  bool track_value_range_ = false;
  I64 memory_budget_ = 0x20000000;
  U32 tiles_in_memory_ = 0;
  U32 max_tiles_in_memory_ = 0;
  U32 tile_bytes_ = 0;
  std::vector<std::unique_ptr<U8[]>> buffers_;
  std::vector<U8*> spare_buffers_;  // buffers of failed loads, reused first
  F64 step_x_ = 1.0, step_y_ = 1.0, step_z_ = 1.0;
  U32 origin_tile_column_ = 0, origin_tile_row_ = 0;
  U32 current_tile_column_ = 0x80000000u, current_tile_row_ = 0x80000000u;
  bool current_valid_ = false;
  bool current_missing_ = false;  // the remembered tile is known not to exist
  std::vector<std::unique_ptr<LASrasterTile>> tiles_;
  std::unordered_map<I32, LASrasterTile*> small_index_;
  std::map<I64, LASrasterTile*> large_index_;
  LASrasterTile* head_ = nullptr;
  LASrasterTile* tail_ = nullptr;
  std::array<U32, MAX_LAYERS + 1> layer_bits_{};
  std::array<U32, MAX_LAYERS + 1> layer_offset_{};
  U32 slots_per_file_ = 0;
  U32 slots_used_ = 0;
  std::vector<TempFile> temp_files_;
  std::string temp_base_;
  U32 class_quotient_ = 0;
  int process_id_ = 0;
  I32 current_value_ = 0;
  U32 overflow_ = 0;
  Rand15 random_;

  friend struct LASrasterStatistics;
};

inline bool LASraster::add_to_cell(I32 column, I32 row, const LASpoint& point) {
  widen_bounds(column, row);
  if (!get_tile(column, row, true)) {
    report_no_tile(column, row);
    return false;
  }
  LASrasterTile* tile = head_;
  tile->state &= ~LASrasterTile::CLEAN;
  add_(*this, tile->buffer, cell_in_tile(column, row), point);
  return true;
}

inline bool LASraster::get_value(I32 column, I32 row, I32* value, U32 selector) {
  if (!get_tile(column, row, false)) return false;
  return get_(*this, head_->buffer, cell_in_tile(column, row), value, selector);
}
