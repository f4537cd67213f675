// A typical filter chain over 10 million points, the way a reader applies
// it: copy the next record into the one reused point, then ask the filter.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "las/core/laspoint.hpp"
#include "las/filter/lasfilter.hpp"

namespace {

constexpr size_t kPoints = 10000000;
constexpr size_t kRecords = size_t(1) << 20;  // cycled through, 20 MB of records

struct Records {
  std::vector<U8> bytes;
  Records() : bytes(kRecords * 20) {
    LASscaleOffset so;
    LASpoint p;
    p.scale_offset = &so;
    std::mt19937 random(1);
    std::uniform_real_distribution<double> coordinate(0.0, 1000.0);
    std::uniform_int_distribution<int> percent(0, 99);
    for (size_t i = 0; i < kRecords; i++) {
      p.set_x(630000.0 + coordinate(random));
      p.set_y(4834000.0 + coordinate(random));
      p.Z = 10000 + percent(random);
      p.classification = U8(percent(random) < 50 ? 2 : 1);
      p.withheld_flag = percent(random) < 2 ? 1 : 0;
      memcpy(&bytes[i * 20], p.point10(), 20);
    }
  }
};

const Records& records() {
  static const Records r;
  return r;
}

// `branching` consumes each decision with a branch, as a reader's loop does;
// otherwise the decisions are summed so that only the filter is measured.
void run(benchmark::State& state, const char* options, bool branching = false) {
  const Records& r = records();
  LASscaleOffset so;
  LASpoint point;
  point.scale_offset = &so;
  LASfilter filter;
  if (options[0] != '\0' && !filter.parse(options)) {
    state.SkipWithError("bad filter options");
    return;
  }
  size_t kept = 0;
  for (auto _ : state) {
    const U8* record = r.bytes.data();
    for (size_t i = 0, k = 0; i < kPoints; i++) {
      memcpy(point.point10(), record + 20 * k, 20);
      if (++k == kRecords) k = 0;
      if (branching) {
        if (!filter.filter(&point)) kept++;
      } else {
        kept += size_t(!filter.filter(&point));
      }
    }
    benchmark::DoNotOptimize(kept);
  }
  state.counters["ns_per_point"] = benchmark::Counter(
      double(kPoints), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["kept_share"] = double(kept) / double(kPoints * state.iterations());
}

constexpr const char* kChain =
    "-keep_class 2 -drop_withheld -keep_xy 630100 4834100 630900 4834900";

void BM_FilterChain(benchmark::State& state) {
  run(state, kChain);
}
BENCHMARK(BM_FilterChain)->Unit(benchmark::kMillisecond);

// The same with a branch on each decision: the classes here are random per
// point, the worst case for branch prediction, which real scan order is not.
void BM_FilterChainBranching(benchmark::State& state) {
  run(state, kChain, true);
}
BENCHMARK(BM_FilterChainBranching)->Unit(benchmark::kMillisecond);

// A stateful criterion at the end makes the filter stop at the first
// criterion that drops a point.
void BM_FilterChainStopAtFirst(benchmark::State& state) {
  run(state, (std::string(kChain) + " -keep_every_nth 1").c_str());
}
BENCHMARK(BM_FilterChainStopAtFirst)->Unit(benchmark::kMillisecond);

// The record copy alone, to tell the filter's share from the loop's.
void BM_CopyOnly(benchmark::State& state) {
  run(state, "");
}
BENCHMARK(BM_CopyOnly)->Unit(benchmark::kMillisecond);

}  // namespace
