// The overlap decision: one statistic raster per flightline built in a first
// pass, small holes filled, condensed into a raster that names the best
// flightline of every cell, and a second pass that marks the points of every
// other flightline (the overage), or with "entire overlap" every point in a
// cell that more than one flightline covers.
//
// The driver feeds points one at a time; this class never reads or writes
// files itself. Typical use per input (per-input mode):
//
//   OverageDecision overage(settings, &ignore);
//   while (reader->read_point()) overage.add_point(reader->point);
//   overage.fill_holes();
//   overage.decide();
//   overage.start_input();
//   while (reader->read_point()) {
//     overage.judge_and_mark(reader->point);  // REMOVED: deleted marker set,
//     writer->write_point(&reader->point);    // the wrapping writer drops it
//   }
//
// With files as flightlines: begin_file() / add_point() / end_file() for every
// input (end_file() fills that input's holes), then decide() and a second
// pass over every input.
#pragma once

#include <memory>
#include <vector>

#include "las/core/lasignore.hpp"
#include "las/core/laspoint.hpp"
#include "las/core/types.hpp"
#include "raster/lasraster.hpp"

class OverageDecision {
 public:
  // In order of precedence when the command line gives several.
  enum Marking { REMOVE, FLAG_WITHHELD, FLAG_OVERLAP, CLASSIFY };
  // What the second pass did with a point.
  enum Verdict {
    IGNORED,  // excluded by the ignore rules: not judged, passes unchanged
    KEPT,     // judged and not marked
    MARKED,   // judged and marked (flag or class)
    REMOVED,  // judged and marked for removal: its deleted marker is set
  };

  struct Settings {
    F32 step = 1.0f;  // already tripled for feet
    bool entire_overlap = false;
    bool files_are_flightlines = false;
    Marking marking = CLASSIFY;
    I32 classification = 12;                // codes outside 0-31 mark nothing but still count
    I64 raster_memory_budget = 0x20000000;  // per raster
  };

  // The ignore rules are not copied; they must outlive this object (null:
  // no rules).
  OverageDecision(const Settings& settings, const LASignore* ignore);
  ~OverageDecision();
  OverageDecision(const OverageDecision&) = delete;
  OverageDecision& operator=(const OverageDecision&) = delete;

  // "overlap" under entire overlap, else "overage".
  const char* word() const { return settings_.entire_overlap ? "overlap" : "overage"; }
  const Settings& settings() const { return settings_; }

  // ---- first pass

  bool excludes(const LASpoint& point) const { return ignore_ && ignore_->ignore(point); }
  // Adds a point unless the ignore rules exclude it (false then). In
  // per-input mode the point's flightline is its point source ID; with files
  // as flightlines it goes to the raster of the current file.
  bool add_point(const LASpoint& point);
  // Per-input mode with a flightline number of the caller's (recovered from
  // GPS time); no ignore test here, the caller has made it.
  void add_point(const LASpoint& point, U16 flightline);
  // Files as flightlines: a new raster for the next input ...
  void begin_file();
  // ... and, after its points (give add_point() every point read, excluded
  // or not), its holes filled and its flightline ID (the point source ID of
  // the last point read) recorded.
  void end_file();

  // ---- between the passes

  // Per-input mode: fills small holes of every flightline raster (one
  // round). Returns the cells filled by this call.
  U32 fill_holes();
  // Builds the decision raster over the overall bounds and releases the
  // flightline rasters. Without any flightline there is nothing to decide.
  void decide();

  // ---- second pass

  // Restarts the count of points read, which the not-found warning names.
  void start_input() { points_read_ = 0; }
  // Judges and marks the point itself (point file output).
  Verdict judge_and_mark(LASpoint& point);
  // The same with the caller's flightline number for the point.
  Verdict judge_and_mark(LASpoint& point, U16 flightline);
  // Layers output: judges the point as read and sets the marked field of the
  // scratch point (or, unmarked, copies it from the point as read), so that
  // the layer can compare the two.
  Verdict judge_and_mark(const LASpoint& read, LASpoint& scratch);
  Verdict judge_and_mark(const LASpoint& read, LASpoint& scratch, U16 flightline);

  // ---- results and counters

  U32 flightline_count() const { return U32(flightlines_.size()); }
  U16 flightline_id(U32 k) const { return flightlines_[k].id; }
  // Null once decide() has released the flightline rasters.
  LASraster* flightline_raster(U32 k) { return flightlines_[k].raster.get(); }
  LASraster* decision_raster() { return decision_.get(); }
  U32 filled_cells() const { return filled_cells_; }
  I64 excluded_points() const { return excluded_points_; }
  I64 marked_points() const { return marked_points_; }
  // Overall bounds of the flightline rasters that hold cells; false when none does.
  bool grid_bounds(I32* min_column, I32* min_row, I32* max_column, I32* max_row) const;
  // Columns and rows of the overall grid (0 when there is none).
  I64 grid_columns() const;
  I64 grid_rows() const;

  // One round of hole filling over one raster: an empty cell with at least 5
  // of its 8 neighbours holding a value gets their mean (float, rounded half
  // away from zero). Only cells in or next to existing tiles are visited.
  // Returns the number of cells filled.
  static U32 fill_raster_holes(LASraster& raster);

 private:
  struct Flightline {
    U16 id = 0;
    std::unique_ptr<LASraster> raster;
  };

  std::unique_ptr<LASraster> make_raster(const char* statistic) const;
  LASraster* raster_of(U16 id);
  void add_to_raster(LASraster* raster, const LASpoint& point);
  void widen_bounds(const LASraster& raster);
  Verdict judge(const LASpoint& read, U16 flightline);
  Verdict mark_point(LASpoint& point, Verdict verdict);
  Verdict mark_scratch(const LASpoint& read, LASpoint& scratch, Verdict verdict);

  Settings settings_;
  const LASignore* ignore_;
  std::vector<Flightline> flightlines_;
  // Flightline table index + 1 per 16-bit ID (0: none yet).
  std::vector<U32> index_of_id_;
  bool have_previous_ = false;
  U16 previous_id_ = 0;
  LASraster* previous_raster_ = nullptr;
  // Files as flightlines: the raster of the current input.
  std::unique_ptr<LASraster> file_raster_;
  U16 file_last_id_ = 0;
  bool have_bounds_ = false;
  I32 min_column_ = 0, min_row_ = 0, max_column_ = 0, max_row_ = 0;
  std::unique_ptr<LASraster> decision_;
  U32 filled_cells_ = 0;
  I64 excluded_points_ = 0;
  I64 marked_points_ = 0;
  I64 points_read_ = 0;
};
