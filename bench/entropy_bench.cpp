// Cost of one arithmetic-decoder step by model kind: the floor under every
// item codec, since each decoded symbol waits for the one before it.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "las/codec/entropy_coder.hpp"

namespace {

constexpr U32 kSymbols = 1 << 20;

// Symbols drawn from a two-sided geometric spread around the middle, like
// the correction classes of a well-predicted coordinate.
std::vector<U32> drawSymbols(U32 n, U32 seed) {
  std::mt19937 rng(seed);
  std::geometric_distribution<int> spread(n > 2 ? 0.35 : 0.5);
  std::vector<U32> out(kSymbols);
  for (U32& s : out) {
    const int d = spread(rng);
    const int v = int(n / 2) + ((rng() & 1) ? d : -d);
    s = U32(v < 0 ? 0 : v >= int(n) ? int(n) - 1 : v);
  }
  return out;
}

std::vector<U8> encodeSymbols(U32 n, const std::vector<U32>& symbols) {
  ByteStreamOutArrayLE out;
  EntropyEncoder enc;
  enc.start(&out);
  SymbolModel model = enc.makeSymbolModel(n);
  BitModel bit;
  enc.resetSymbolModel(model);
  for (U32 s : symbols) {
    if (n == 2) {
      enc.putBit(bit, s);
    } else {
      enc.putSymbol(model, s);
    }
  }
  enc.finish();
  return std::vector<U8>(out.data(), out.data() + out.size());
}

void BM_DecodeSymbols(benchmark::State& state) {
  const U32 n = U32(state.range(0));
  const std::vector<U32> symbols = drawSymbols(n, 7);
  const std::vector<U8> bytes = encodeSymbols(n, symbols);
  U64 check = 0;
  for (auto _ : state) {
    ByteStreamInArrayLE in(bytes.data(), I64(bytes.size()));
    EntropyDecoder dec;
    dec.start(&in);
    SymbolModel model = dec.makeSymbolModel(n);
    BitModel bit;
    dec.resetSymbolModel(model);
    for (U32 i = 0; i < kSymbols; i++) check += (n == 2) ? dec.getBit(bit) : dec.getSymbol(model);
  }
  benchmark::DoNotOptimize(check);
  state.counters["ns_per_symbol"] =
      benchmark::Counter(double(state.iterations()) * kSymbols,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
// 2 stands for a bit model.
BENCHMARK(BM_DecodeSymbols)
    ->Arg(2)
    ->Arg(8)
    ->Arg(16)
    ->Arg(33)
    ->Arg(256)
    ->Unit(benchmark::kMillisecond);

}  // namespace
