// The overlap decision over a synthetic survey: 8 parallel flightlines of a
// scanner at 1000 m with a +-25 degree field of view, about 30 % side
// overlap, 10 million points held in memory. Each benchmark reports
// "per_point": CPU time per survey point.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "las/core/laspoint.hpp"
#include "tool/overage_decision.hpp"

namespace {

struct Shot {
  I32 X, Y;
  U16 id;
  I8 angle;
};

constexpr int kLines = 8;
constexpr int kScanLines = 1250;      // along track, 1 m apart
constexpr int kPointsPerScan = 1000;  // across track
constexpr double kAltitude = 1000.0;
constexpr double kHalfAngle = 25.0;
constexpr double kLineSpacing = 650.0;

struct Survey {
  LASscaleOffset so;
  std::vector<Shot> shots;

  Survey() {
    so.x_scale_factor = so.y_scale_factor = so.z_scale_factor = 0.01;
    so.x_offset = 500000.0;
    so.y_offset = 4000000.0;
    shots.reserve(size_t(kLines) * kScanLines * kPointsPerScan);
    Rand15 rnd(7);
    const double pi = 3.14159265358979323846;
    for (int line = 0; line < kLines; line++) {
      const double centre = 500000.0 + line * kLineSpacing;
      const double start = 4000000.0 + (line % 2) * 3.0;
      for (int scan = 0; scan < kScanLines; scan++) {
        // The mirror sweeps back and forth.
        const bool forward = (scan % 2) == 0;
        for (int k = 0; k < kPointsPerScan; k++) {
          const int i = forward ? k : kPointsPerScan - 1 - k;
          const double jitter = (rnd.next() - 16384) / 32768.0;
          const double degrees =
              -kHalfAngle + (2.0 * kHalfAngle) * (i + 0.5 + 0.3 * jitter) / kPointsPerScan;
          const double x = centre + kAltitude * std::tan(degrees * pi / 180.0);
          const double y = start + scan * 1.0 + 0.4 * (i / double(kPointsPerScan)) + 0.05 * jitter;
          Shot s;
          s.X = I32(so.get_X(x));
          s.Y = I32(so.get_Y(y));
          s.id = U16(101 + line);
          s.angle = I8(round_half_away(degrees));
          shots.push_back(s);
        }
      }
    }
  }

  void load(LASpoint& p, const Shot& s) const {
    p.X = s.X;
    p.Y = s.Y;
    p.point_source_ID = s.id;
    p.scan_angle_rank = s.angle;
  }
};

const Survey& survey() {
  static const Survey s;
  return s;
}

OverageDecision::Settings settings() {
  OverageDecision::Settings s;
  s.step = 1.0f;
  return s;
}

void first_pass(OverageDecision& o, LASpoint& p) {
  const Survey& s = survey();
  for (const Shot& shot : s.shots) {
    s.load(p, shot);
    o.add_point(p);
  }
}

void set_rate(benchmark::State& state) {
  // Inverted rate: CPU seconds per survey point, shown with its unit (ns).
  state.counters["per_point"] = benchmark::Counter(
      double(survey().shots.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_FirstPass(benchmark::State& state) {
  const Survey& s = survey();
  LASpoint p;
  p.scale_offset = &s.so;
  for (auto _ : state) {
    auto o = std::make_unique<OverageDecision>(settings(), nullptr);
    first_pass(*o, p);
    benchmark::DoNotOptimize(o->flightline_count());
    // Releasing the rasters is not part of the pass.
    state.PauseTiming();
    o.reset();
    state.ResumeTiming();
  }
  set_rate(state);
}

void BM_FillAndDecide(benchmark::State& state) {
  const Survey& s = survey();
  LASpoint p;
  p.scale_offset = &s.so;
  for (auto _ : state) {
    state.PauseTiming();
    auto o = std::make_unique<OverageDecision>(settings(), nullptr);
    first_pass(*o, p);
    state.ResumeTiming();
    const U32 filled = o->fill_holes();
    o->decide();
    benchmark::DoNotOptimize(filled);
    state.PauseTiming();
    state.counters["filled_cells"] = filled;
    state.counters["grid_cells"] = double(o->grid_columns()) * double(o->grid_rows());
    o.reset();
    state.ResumeTiming();
  }
  set_rate(state);
}

void BM_Judging(benchmark::State& state) {
  const Survey& s = survey();
  LASpoint p;
  p.scale_offset = &s.so;
  OverageDecision o(settings(), nullptr);
  first_pass(o, p);
  o.fill_holes();
  o.decide();
  for (auto _ : state) {
    o.start_input();
    for (const Shot& shot : s.shots) {
      s.load(p, shot);
      benchmark::DoNotOptimize(o.judge_and_mark(p));
    }
  }
  state.counters["marked_share"] =
      double(o.marked_points()) / (double(s.shots.size()) * double(state.iterations()));
  set_rate(state);
}

BENCHMARK(BM_FirstPass)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FillAndDecide)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Judging)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
