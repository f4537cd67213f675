// Cost per point of a typical transform chain, as a reader applies it: the
// record's values are put into the point, then the transform runs.
#include <benchmark/benchmark.h>

#include <vector>

#include "las/core/laspoint.hpp"
#include "las/transform/lastransform.hpp"

namespace {

constexpr int kPoints = 10000000;
constexpr int kPattern = 4096;  // distinct records, cycled

struct Records {
  std::vector<I32> X, Y, Z;
  Records() : X(kPattern), Y(kPattern), Z(kPattern) {
    U32 s = 12345;
    for (int i = 0; i < kPattern; i++) {
      s = s * 1103515245u + 12345u;
      X[i] = I32(s % 100000000u);
      Y[i] = I32((s >> 3) % 100000000u);
      Z[i] = I32((s >> 7) % 100000u);
    }
  }
};

void run(benchmark::State& state, const char* command) {
  const Records records;
  LASscaleOffset scale_offset;
  scale_offset.x_offset = 600000.0;
  scale_offset.y_offset = 4000000.0;
  LASpoint point;
  point.init_layout(&scale_offset, 1, 28, nullptr);
  LAStransform transform;
  const bool use_transform = command != nullptr;
  if (use_transform && !transform.parse(command)) {
    state.SkipWithError("cannot parse the transform");
    return;
  }
  for (auto _ : state) {
    I64 sum = 0;
    for (int i = 0; i < kPoints; i++) {
      const int k = i & (kPattern - 1);
      point.X = records.X[k];
      point.Y = records.Y[k];
      point.Z = records.Z[k];
      // A reader rewrites the return and class bytes of every record whole.
      point.point10()[14] = 0x12;
      point.point10()[15] = U8(k & 31);
      if (use_transform) transform.transform(&point);
      sum += point.X + point.Z + point.classification;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["ns_per_point"] =
      benchmark::Counter(double(state.iterations()) * kPoints,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_TypicalChain(benchmark::State& state) {
  run(state, "-translate_xyz 0.5 -0.25 12.0 -scale_z 0.3048 -set_classification 2");
}
BENCHMARK(BM_TypicalChain)->Unit(benchmark::kMillisecond);

// The same loop without a transform: the part of the figure above that is
// not the transform's.
void BM_NoTransform(benchmark::State& state) {
  run(state, nullptr);
}
BENCHMARK(BM_NoTransform)->Unit(benchmark::kMillisecond);

}  // namespace
