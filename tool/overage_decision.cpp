#include "tool/overage_decision.hpp"

#include <algorithm>
#include <cinttypes>

#include "las/core/messages.hpp"

namespace {

constexpr U32 kSubCells = 2;

inline U64 slot_key(U32 tile_column, U32 tile_row) {
  return (U64(tile_column) << 32) | U64(tile_row);
}

// A run of signed cell indices [first, last].
struct Span {
  I32 first;
  I32 last;
};

// The cells of tile index t along one axis, as signed runs clipped to
// [low, high]. A tile holds the unsigned indices t*100 ... t*100+99; only the
// tile that straddles 2^31 falls into two signed runs.
int tile_spans(U32 t, I32 low, I32 high, Span out[2]) {
  const U64 u0 = U64(t) * LASraster::TILE_SIZE;
  const U64 u1 = std::min<U64>(u0 + LASraster::TILE_SIZE - 1, 0xFFFFFFFFu);
  Span pieces[2];
  int n = 0;
  if (u0 <= 0x7FFFFFFFu && u1 > 0x7FFFFFFFu) {
    pieces[n++] = {I32(u0), I32_MAX};
    pieces[n++] = {I32_MIN, I32(U32(u1))};
  } else {
    pieces[n++] = {I32(U32(u0)), I32(U32(u1))};
  }
  int kept = 0;
  for (int k = 0; k < n; k++) {
    const I32 first = std::max(pieces[k].first, low);
    const I32 last = std::min(pieces[k].last, high);
    if (first <= last) out[kept++] = {first, last};
  }
  return kept;
}

// Tile indices wrap around like the unsigned cell indices they come from:
// cell -1 (tile 42949672) sits next to cell 0 (tile 0).
inline U32 tile_step(U32 t, int d) {
  const U64 n = LASraster::TILE_INDEX_COUNT;
  return U32((U64(t) + n + U64(I64(d))) % n);
}

std::vector<U64> sorted_slots(const std::vector<std::pair<U32, U32>>& tiles) {
  std::vector<U64> keys;
  keys.reserve(tiles.size());
  for (const auto& t : tiles) keys.push_back(slot_key(t.first, t.second));
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  return keys;
}

struct Fill {
  I32 column;
  I32 row;
  I32 value;
};

class HoleFiller {
 public:
  explicit HoleFiller(LASraster& raster) : raster_(raster) {}

  void visit(I32 c, I32 r) {
    I32 v;
    if (raster_.get_value(c, r, &v)) return;
    static const int kNeighbours[8][2] = {{-1, -1}, {-1, 0}, {-1, 1}, {1, -1},
                                          {1, 0},   {1, 1},  {0, -1}, {0, 1}};
    int count = 0;
    I64 sum = 0;
    for (const auto& d : kNeighbours) {
      const I64 nc = I64(c) + d[0];
      const I64 nr = I64(r) + d[1];
      // Beyond the 32-bit grid there are no cells.
      if (nc < I32_MIN || nc > I32_MAX || nr < I32_MIN || nr > I32_MAX) continue;
      if (raster_.get_value(I32(nc), I32(nr), &v)) {
        count++;
        sum += v;
      }
    }
    if (count >= 5) {
      const F32 mean = F32(sum) / F32(count);
      fills_.push_back({c, r, I32(round_half_away(mean))});
    }
  }

  std::vector<Fill>& fills() { return fills_; }

 private:
  LASraster& raster_;
  std::vector<Fill> fills_;
};

}  // namespace

OverageDecision::OverageDecision(const Settings& settings, const LASignore* ignore)
    : settings_(settings), ignore_(ignore) {
  if (!settings_.files_are_flightlines) index_of_id_.assign(65536, 0);
}

OverageDecision::~OverageDecision() = default;

std::unique_ptr<LASraster> OverageDecision::make_raster(const char* statistic) const {
  auto raster = std::make_unique<LASraster>();
  raster->set_step(F64(settings_.step));
  raster->set_statistic(statistic);
  raster->set_memory_budget(settings_.raster_memory_budget);
  return raster;
}

LASraster* OverageDecision::raster_of(U16 id) {
  const U32 index = index_of_id_[id];
  if (index) return flightlines_[index - 1].raster.get();
  Flightline line;
  line.id = id;
  line.raster = make_raster(settings_.entire_overlap ? "occupancy" : "lowest_abs scan_angle");
  flightlines_.push_back(std::move(line));
  index_of_id_[id] = U32(flightlines_.size());
  return flightlines_.back().raster.get();
}

void OverageDecision::add_to_raster(LASraster* raster, const LASpoint& point) {
  const F64 step = raster->get_step();
  const F64 x = point.get_x();
  const F64 y = point.get_y();
  I32 c0, c1, r0, r1;
  if (!LASraster::cell_index(x, step, &c0) ||
      !LASraster::cell_index(x + step * 1.0 / 2.0, step, &c1) ||
      !LASraster::cell_index(y, step, &r0) ||
      !LASraster::cell_index(y + step * 1.0 / 2.0, step, &r1)) {
    // Off the grid: the raster reports it, and the point is lost.
    raster->add_point(point, kSubCells);
    return;
  }
  // The flightline statistics keep a minimum or a flag per cell: the same
  // point added to the same cell again changes nothing, so a sub-cell that
  // coincides with an earlier one is skipped.
  if (!raster->add_to_cell(c0, r0, point)) return;
  if (r1 != r0 && !raster->add_to_cell(c0, r1, point)) return;
  if (c1 != c0) {
    if (!raster->add_to_cell(c1, r0, point)) return;
    if (r1 != r0) raster->add_to_cell(c1, r1, point);
  }
}

bool OverageDecision::add_point(const LASpoint& point) {
  if (settings_.files_are_flightlines) {
    file_last_id_ = point.point_source_ID;
    if (excludes(point)) {
      excluded_points_++;
      return false;
    }
    if (!file_raster_) begin_file();
    add_to_raster(file_raster_.get(), point);
    return true;
  }
  if (excludes(point)) {
    excluded_points_++;
    return false;
  }
  add_point(point, point.point_source_ID);
  return true;
}

void OverageDecision::add_point(const LASpoint& point, U16 flightline) {
  if (settings_.files_are_flightlines) {
    file_last_id_ = flightline;
    if (!file_raster_) begin_file();
    add_to_raster(file_raster_.get(), point);
    return;
  }
  // Points of one flightline come in long runs.
  if (!have_previous_ || flightline != previous_id_) {
    previous_raster_ = raster_of(flightline);
    previous_id_ = flightline;
    have_previous_ = true;
  }
  add_to_raster(previous_raster_, point);
}

void OverageDecision::begin_file() {
  file_raster_ = make_raster(settings_.entire_overlap ? "occupancy" : "lowest_abs scan_angle");
  file_last_id_ = 0;
}

void OverageDecision::end_file() {
  if (!file_raster_) return;
  filled_cells_ += fill_raster_holes(*file_raster_);
  widen_bounds(*file_raster_);
  Flightline line;
  line.id = file_last_id_;
  line.raster = std::move(file_raster_);
  flightlines_.push_back(std::move(line));
}

void OverageDecision::widen_bounds(const LASraster& raster) {
  // A raster without cells has no bounds to contribute.
  if (!raster.has_tiles()) return;
  if (!have_bounds_) {
    min_column_ = raster.get_min_column();
    min_row_ = raster.get_min_row();
    max_column_ = raster.get_max_column();
    max_row_ = raster.get_max_row();
    have_bounds_ = true;
    return;
  }
  min_column_ = std::min(min_column_, raster.get_min_column());
  min_row_ = std::min(min_row_, raster.get_min_row());
  max_column_ = std::max(max_column_, raster.get_max_column());
  max_row_ = std::max(max_row_, raster.get_max_row());
}

bool OverageDecision::grid_bounds(I32* min_column, I32* min_row, I32* max_column,
                                  I32* max_row) const {
  bool have = have_bounds_;
  I32 c0 = min_column_, r0 = min_row_, c1 = max_column_, r1 = max_row_;
  if (!settings_.files_are_flightlines && !decision_) {
    // Per-input mode: the rasters are still being built, take them as they are.
    have = false;
    for (const Flightline& line : flightlines_) {
      const LASraster* r = line.raster.get();
      if (!r || !r->has_tiles()) continue;
      if (!have) {
        c0 = r->get_min_column();
        r0 = r->get_min_row();
        c1 = r->get_max_column();
        r1 = r->get_max_row();
        have = true;
      } else {
        c0 = std::min(c0, r->get_min_column());
        r0 = std::min(r0, r->get_min_row());
        c1 = std::max(c1, r->get_max_column());
        r1 = std::max(r1, r->get_max_row());
      }
    }
  }
  if (!have) return false;
  *min_column = c0;
  *min_row = r0;
  *max_column = c1;
  *max_row = r1;
  return true;
}

I64 OverageDecision::grid_columns() const {
  I32 c0, r0, c1, r1;
  if (!grid_bounds(&c0, &r0, &c1, &r1)) return 0;
  return I64(c1) - I64(c0) + 1;
}

I64 OverageDecision::grid_rows() const {
  I32 c0, r0, c1, r1;
  if (!grid_bounds(&c0, &r0, &c1, &r1)) return 0;
  return I64(r1) - I64(r0) + 1;
}

U32 OverageDecision::fill_holes() {
  U32 filled = 0;
  for (Flightline& line : flightlines_) {
    if (line.raster) filled += fill_raster_holes(*line.raster);
  }
  filled_cells_ += filled;
  return filled;
}

// Only cells that lie in an existing tile, or on the border of a missing tile
// next to one, can have five neighbours with values; everything else in the
// bounds is empty with empty neighbours. Visiting just those cells gives the
// same fills as walking the whole bounding rectangle, at a cost that follows
// the tiles rather than the area. The order of the fills does not matter:
// every fill goes to a distinct empty cell.
U32 OverageDecision::fill_raster_holes(LASraster& raster) {
  if (!raster.has_tiles()) return 0;
  const I32 c0 = raster.get_min_column(), c1 = raster.get_max_column();
  const I32 r0 = raster.get_min_row(), r1 = raster.get_max_row();
  const std::vector<U64> existing = sorted_slots(raster.tile_indices());
  HoleFiller filler(raster);
  Span columns[2], rows[2];

  for (U64 key : existing) {
    const int nc = tile_spans(U32(key >> 32), c0, c1, columns);
    const int nr = tile_spans(U32(key), r0, r1, rows);
    for (int a = 0; a < nr; a++) {
      for (I64 r = rows[a].first; r <= rows[a].last; r++) {
        for (int b = 0; b < nc; b++) {
          for (I64 c = columns[b].first; c <= columns[b].last; c++) filler.visit(I32(c), I32(r));
        }
      }
    }
  }

  std::vector<U64> ring;
  for (U64 key : existing) {
    const U32 tc = U32(key >> 32), tr = U32(key);
    for (int dc = -1; dc <= 1; dc++) {
      for (int dr = -1; dr <= 1; dr++) {
        if (dc == 0 && dr == 0) continue;
        const U64 neighbour = slot_key(tile_step(tc, dc), tile_step(tr, dr));
        if (!std::binary_search(existing.begin(), existing.end(), neighbour)) {
          ring.push_back(neighbour);
        }
      }
    }
  }
  std::sort(ring.begin(), ring.end());
  ring.erase(std::unique(ring.begin(), ring.end()), ring.end());
  for (U64 key : ring) {
    const U32 tc = U32(key >> 32), tr = U32(key);
    const U32 first_c = tc * LASraster::TILE_SIZE;
    const U32 last_c = U32(std::min<U64>(U64(first_c) + LASraster::TILE_SIZE - 1, 0xFFFFFFFFu));
    const U32 first_r = tr * LASraster::TILE_SIZE;
    const U32 last_r = U32(std::min<U64>(U64(first_r) + LASraster::TILE_SIZE - 1, 0xFFFFFFFFu));
    const int nc = tile_spans(tc, c0, c1, columns);
    const int nr = tile_spans(tr, r0, r1, rows);
    for (int a = 0; a < nr; a++) {
      for (I64 r = rows[a].first; r <= rows[a].last; r++) {
        const bool border_row = U32(r) == first_r || U32(r) == last_r;
        for (int b = 0; b < nc; b++) {
          if (border_row) {
            for (I64 c = columns[b].first; c <= columns[b].last; c++) {
              filler.visit(I32(c), I32(r));
            }
          } else {
            // Inside rows only the first and last column of the tile border.
            for (U32 edge : {first_c, last_c}) {
              const I32 c = I32(edge);
              if (c >= columns[b].first && c <= columns[b].last) filler.visit(c, I32(r));
            }
          }
        }
      }
    }
  }

  // Applied after the visit, so fills never feed other fills.
  static const LASscaleOffset kScaleOffset;
  LASpoint scratch;
  scratch.scale_offset = &kScaleOffset;
  for (const Fill& fill : filler.fills()) {
    scratch.scan_angle_rank = I8(fill.value);
    raster.add_to_cell(fill.column, fill.row, scratch);
  }
  return U32(filler.fills().size());
}

void OverageDecision::decide() {
  if (!settings_.files_are_flightlines) {
    have_bounds_ = false;
    for (const Flightline& line : flightlines_) {
      if (line.raster) widen_bounds(*line.raster);
    }
  }
  decision_ = make_raster(settings_.entire_overlap ? "occupancy" : "point_source");
  // Nothing to decide without a flightline that holds cells.
  if (have_bounds_) {
    std::vector<std::pair<U32, U32>> all;
    for (const Flightline& line : flightlines_) {
      if (!line.raster) continue;
      const auto tiles = line.raster->tile_indices();
      all.insert(all.end(), tiles.begin(), tiles.end());
    }
    const std::vector<U64> slots = sorted_slots(all);
    std::vector<U32> present;
    static const LASscaleOffset kScaleOffset;
    LASpoint scratch;
    scratch.scale_offset = &kScaleOffset;
    Span columns[2], rows[2];
    for (U64 key : slots) {
      const U32 tc = U32(key >> 32), tr = U32(key);
      present.clear();
      for (U32 k = 0; k < flightlines_.size(); k++) {
        if (flightlines_[k].raster && flightlines_[k].raster->has_tile(tc, tr)) {
          present.push_back(k);
        }
      }
      const int nc = tile_spans(tc, min_column_, max_column_, columns);
      const int nr = tile_spans(tr, min_row_, max_row_, rows);
      for (int a = 0; a < nr; a++) {
        for (I64 r = rows[a].first; r <= rows[a].last; r++) {
          for (int b = 0; b < nc; b++) {
            for (I64 c = columns[b].first; c <= columns[b].last; c++) {
              I32 value;
              if (settings_.entire_overlap) {
                int covered = 0;
                for (U32 k : present) {
                  if (flightlines_[k].raster->get_value(I32(c), I32(r), &value) && ++covered > 1) {
                    break;
                  }
                }
                if (covered > 1) decision_->add_to_cell(I32(c), I32(r), scratch);
              } else {
                // The smallest value wins; on a tie the flightline seen first.
                I32 best = -1;
                I32 best_value = 0;
                for (U32 k : present) {
                  if (flightlines_[k].raster->get_value(I32(c), I32(r), &value) &&
                      (best < 0 || value < best_value)) {
                    best = I32(k);
                    best_value = value;
                  }
                }
                if (best >= 0) {
                  scratch.point_source_ID = flightlines_[U32(best)].id;
                  decision_->add_to_cell(I32(c), I32(r), scratch);
                }
              }
            }
          }
        }
      }
    }
  }
  for (Flightline& line : flightlines_) line.raster.reset();
  previous_raster_ = nullptr;
  have_previous_ = false;
}

OverageDecision::Verdict OverageDecision::judge(const LASpoint& read, U16 flightline) {
  I32 value = 0;
  const bool found = decision_ && decision_->get_value_at(read, &value);
  if (settings_.entire_overlap) return found ? MARKED : KEPT;
  if (!found) {
    print_warning("points %" PRId64 " not found in flightline raster.\n", points_read_);
    return KEPT;
  }
  return value != I32(flightline) ? MARKED : KEPT;
}

OverageDecision::Verdict OverageDecision::mark_point(LASpoint& point, Verdict verdict) {
  if (verdict != MARKED) {
    // The point may have been marked for removal before (points are reused).
    if (settings_.marking == REMOVE) point.marked_deleted = 0;
    return verdict;
  }
  marked_points_++;
  switch (settings_.marking) {
    case REMOVE:
      point.marked_deleted = 1;
      return REMOVED;
    case FLAG_WITHHELD:
      point.set_withheld_flag(true);
      break;
    case FLAG_OVERLAP:
      point.set_overlap_flag(true);
      break;
    case CLASSIFY:
      if (settings_.classification >= 0 && settings_.classification < 32) {
        point.classification = U8(settings_.classification);
        point.extended_classification = U8(settings_.classification);
      }
      break;
  }
  return MARKED;
}

OverageDecision::Verdict OverageDecision::mark_scratch(const LASpoint& read, LASpoint& scratch,
                                                       Verdict verdict) {
  const bool marked = verdict == MARKED;
  if (marked) marked_points_++;
  switch (settings_.marking) {
    case REMOVE:
      scratch.marked_deleted = marked ? 1 : 0;
      return marked ? REMOVED : verdict;
    case FLAG_WITHHELD:
      scratch.set_withheld_flag(marked || read.withheld_flag);
      break;
    case FLAG_OVERLAP:
      scratch.set_overlap_flag(marked || read.get_overlap_flag());
      break;
    case CLASSIFY:
      if (marked && settings_.classification >= 0 && settings_.classification < 32) {
        scratch.classification = U8(settings_.classification);
        scratch.extended_classification = U8(settings_.classification);
      } else {
        // The reader's 5-bit class, except that a LAS 1.4 class of 32 or
        // more (5-bit class 0) stays: copying would reset it to 0.
        scratch.classification = read.classification;
        scratch.extended_classification = (read.is_extended() && read.extended_classification >= 32)
                                              ? read.extended_classification
                                              : read.classification;
      }
      break;
  }
  return verdict;
}

OverageDecision::Verdict OverageDecision::judge_and_mark(LASpoint& point) {
  return judge_and_mark(point, point.point_source_ID);
}

OverageDecision::Verdict OverageDecision::judge_and_mark(LASpoint& point, U16 flightline) {
  points_read_++;
  if (excludes(point)) return mark_point(point, IGNORED);
  return mark_point(point, judge(point, flightline));
}

OverageDecision::Verdict OverageDecision::judge_and_mark(const LASpoint& read, LASpoint& scratch) {
  return judge_and_mark(read, scratch, read.point_source_ID);
}

OverageDecision::Verdict OverageDecision::judge_and_mark(const LASpoint& read, LASpoint& scratch,
                                                         U16 flightline) {
  points_read_++;
  if (excludes(read)) return mark_scratch(read, scratch, IGNORED);
  return mark_scratch(read, scratch, judge(read, flightline));
}
