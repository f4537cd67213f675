// Thinning criteria: they remember what they have seen, grow with the data
// and forget it on reset().
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "las/filter/lasfilter.hpp"

// Keeps the first point in each square cell of a horizontal grid whose cells
// are aligned at multiples of the spacing.
//
// Cells are held as bits: rows are numbered from the row of the first point,
// and each row keeps two bit sets running right and left from the column of
// its own first point. Cells that such a dense layout could only hold by
// allocating far more than the points justify (rows or columns far apart) go
// to a hash set instead, so sparse or widely spread data cannot blow up
// memory; a cell is seen when it is in either.
class LAScriterionThinWithGrid : public LAScriterion {
 public:
  explicit LAScriterionThinWithGrid(F32 grid_spacing) : grid_spacing_(grid_spacing) {}
  const char* name() const override { return "thin_with_grid"; }
  std::string get_command() const override;
  bool filter(const LASpoint* point) override;
  void reset() override;

  // Bytes held by the cell stores, for tests of memory growth.
  size_t memory_used() const;

 private:
  struct Row {
    bool present = false;
    I64 anchor = 0;          // column of the first point of the row
    std::vector<U32> right;  // bit k: column anchor + k
    std::vector<U32> left;   // bit k: column anchor - k - 1
    U64 cells = 0;           // bits set in both
  };
  struct Cell {
    I64 row, column;
    bool operator==(const Cell& o) const { return row == o.row && column == o.column; }
  };
  struct CellHash {
    size_t operator()(const Cell& c) const {
      U64 h = U64(c.row) * 0x9E3779B97F4A7C15ull ^ (U64(c.column) + 0x632BE59BD9B4E019ull);
      h ^= h >> 29;
      return size_t(h * 0xBF58476D1CE4E5B9ull);
    }
  };

  // Finds the bit of a cell in the dense stores; may grow them when `grow`.
  U32* dense_word(I64 row, I64 column, U32* bit, bool grow);
  I64 cell_number(F64 coordinate) const;

  F32 grid_spacing_;
  bool anchored_ = false;
  I64 anchor_row_ = 0;
  std::vector<Row> lower_;  // rows below the anchor row: index anchor_row - R - 1
  std::vector<Row> upper_;  // rows at or above it: index R - anchor_row
  std::unordered_set<Cell, CellHash> far_;
  U64 points_seen_ = 0;
};

// Keeps the first point of each GPS-time interval.
class LAScriterionThinPointsWithTime : public LAScriterion {
 public:
  explicit LAScriterionThinPointsWithTime(F64 time_spacing) : time_spacing_(time_spacing) {}
  const char* name() const override { return "thin_points_with_time"; }
  std::string get_command() const override;
  U32 field_mask() const override { return LAS_FIELD_GPS_TIME; }
  bool filter(const LASpoint* point) override;
  void reset() override;

 private:
  F64 time_spacing_;
  std::unordered_set<I64> slots_;
  bool has_last_ = false;
  I64 last_slot_ = 0;
};

// Keeps every return of the first pulse (first GPS time) of each interval.
class LAScriterionThinPulsesWithTime : public LAScriterion {
 public:
  explicit LAScriterionThinPulsesWithTime(F64 time_spacing) : time_spacing_(time_spacing) {}
  const char* name() const override { return "thin_pulses_with_time"; }
  std::string get_command() const override;
  U32 field_mask() const override { return LAS_FIELD_GPS_TIME; }
  bool filter(const LASpoint* point) override;
  void reset() override;

 private:
  F64 time_spacing_;
  std::unordered_map<I64, F64> slots_;
  bool has_last_ = false;
  I64 last_slot_ = 0;
  F64 last_time_ = 0.0;
};

// The interval number of a value, with NaN and values beyond 64 bits mapped
// to fixed slots of their own instead of an undefined conversion.
I64 thin_slot_number(F64 quotient);
