#include "las/filter/thinning_criteria.hpp"

#include <cmath>

#include "las/core/option_text.hpp"

// Cell and slot numbers stay within +-2^62 so that differences of two of
// them never overflow.
static constexpr I64 kLimit = I64(1) << 62;
static constexpr I64 kNaNSlot = -kLimit - 1;

I64 thin_slot_number(F64 quotient) {
  const F64 f = std::floor(quotient);
  if (f != f) return kNaNSlot;
  if (f >= F64(kLimit)) return kLimit;
  if (f < -F64(kLimit)) return -kLimit;
  return I64(f);
}

// Dense rows beyond this many are allocated only as the points justify them.
static constexpr U64 kFreeRows = 65536;
// A row's bit set may reach 256 words plus this many per cell set in it.
static constexpr U64 kWordsPerCell = 8;

std::string LAScriterionThinWithGrid::get_command() const {
  return "-" + std::string(name()) + " " + format_float(std::fabs(grid_spacing_), "%g") + " ";
}

I64 LAScriterionThinWithGrid::cell_number(F64 coordinate) const {
  return thin_slot_number(coordinate / F64(grid_spacing_));
}

U32* LAScriterionThinWithGrid::dense_word(I64 row, I64 column, U32* bit, bool grow) {
  const I64 relative = row - anchor_row_;
  std::vector<Row>& side = relative >= 0 ? upper_ : lower_;
  const U64 index = relative >= 0 ? U64(relative) : U64(-(relative + 1));
  if (index >= side.size()) {
    if (!grow || index >= kFreeRows + points_seen_) return nullptr;
    side.resize((index / 1024 + 1) * 1024);
  }
  Row& r = side[index];
  if (!r.present) {
    if (!grow) return nullptr;
    r.present = true;
    r.anchor = column;
  }
  const I64 k = column - r.anchor;
  std::vector<U32>& store = k >= 0 ? r.right : r.left;
  const U64 position = k >= 0 ? U64(k) : U64(-(k + 1));
  const U64 word = position / 32;
  if (word >= store.size()) {
    if (!grow || word >= 256 + kWordsPerCell * r.cells) return nullptr;
    store.resize((word / 8 + 1) * 8, 0u);
  }
  *bit = 1u << (position % 32);
  if (grow) r.cells++;  // the caller sets the bit
  return &store[word];
}

bool LAScriterionThinWithGrid::filter(const LASpoint* point) {
  const I64 row = cell_number(point->get_y());
  if (!anchored_) {
    anchored_ = true;
    anchor_row_ = row;
  }
  const I64 column = cell_number(point->get_x());
  points_seen_++;
  U32 bit = 0;
  U32* word = dense_word(row, column, &bit, false);
  if (word != nullptr && (*word & bit) != 0) return true;
  if (!far_.empty() && far_.count(Cell{row, column}) != 0) return true;
  word = dense_word(row, column, &bit, true);
  if (word != nullptr) {
    *word |= bit;
  } else {
    far_.insert(Cell{row, column});
  }
  return false;
}

void LAScriterionThinWithGrid::reset() {
  anchored_ = false;
  anchor_row_ = 0;
  std::vector<Row>().swap(lower_);
  std::vector<Row>().swap(upper_);
  std::unordered_set<Cell, CellHash>().swap(far_);
  points_seen_ = 0;
}

size_t LAScriterionThinWithGrid::memory_used() const {
  size_t bytes = (lower_.capacity() + upper_.capacity()) * sizeof(Row);
  for (const std::vector<Row>* side : {&lower_, &upper_}) {
    for (const Row& r : *side) bytes += (r.right.capacity() + r.left.capacity()) * sizeof(U32);
  }
  bytes += far_.size() * (sizeof(Cell) + 2 * sizeof(void*)) + far_.bucket_count() * sizeof(void*);
  return bytes;
}

std::string LAScriterionThinPointsWithTime::get_command() const {
  return "-" + std::string(name()) + " " + format_double(std::fabs(time_spacing_), "%lf") + " ";
}

bool LAScriterionThinPointsWithTime::filter(const LASpoint* point) {
  const I64 slot = thin_slot_number(point->gps_time / time_spacing_);
  if (has_last_ && slot == last_slot_) return true;
  has_last_ = true;
  last_slot_ = slot;
  return !slots_.insert(slot).second;
}

void LAScriterionThinPointsWithTime::reset() {
  std::unordered_set<I64>().swap(slots_);
  has_last_ = false;
}

std::string LAScriterionThinPulsesWithTime::get_command() const {
  return "-" + std::string(name()) + " " + format_double(std::fabs(time_spacing_), "%lf") + " ";
}

bool LAScriterionThinPulsesWithTime::filter(const LASpoint* point) {
  const F64 t = point->gps_time;
  const I64 slot = thin_slot_number(t / time_spacing_);
  if (has_last_ && slot == last_slot_) return t != last_time_;
  const auto entry = slots_.emplace(slot, t);
  has_last_ = true;
  last_slot_ = slot;
  last_time_ = entry.first->second;
  if (entry.second) return false;  // first pulse of its slot
  return t != last_time_;
}

void LAScriterionThinPulsesWithTime::reset() {
  std::unordered_map<I64, F64>().swap(slots_);
  has_last_ = false;
}
