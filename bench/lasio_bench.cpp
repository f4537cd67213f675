// LAS -> LAS through the library against a plain fread/fwrite copy of the
// same bytes, on a 4-million-point format-1 file. Wall time on a busy
// machine mostly measures the neighbours, so compare the CPU columns too.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "las/io/lasreader_las.hpp"
#include "las/io/laswriter_las.hpp"
#include "tests/support/las_builder.hpp"
#include "tests/support/test_data.hpp"

namespace {

constexpr I64 kPoints = 4000000;
constexpr int kBuffer = 1 << 20;

struct Files {
  TempDir dir;
  std::string input = dir.file("input.las");
  std::string output = dir.file("output.las");
  Files() {
    LasBuildSpec spec;
    spec.point_type = 1;
    spec.num_points = kPoints;
    if (!write_las_file(input, spec)) fprintf(stderr, "cannot write '%s'\n", input.c_str());
  }
};

Files& files() {
  static Files f;
  return f;
}

void BM_LasToLas(benchmark::State& state) {
  Files& f = files();
  I64 points = 0;
  for (auto _ : state) {
    LASreaderLAS reader;
    LASwriterLAS writer;
    if (!reader.open(f.input.c_str(), kBuffer) ||
        !writer.open(f.output.c_str(), &reader.header, 0, 0, -1, kBuffer)) {
      state.SkipWithError("cannot open");
      return;
    }
    while (reader.read_point()) writer.write_point(&reader.point);
    points += writer.points_written;
    writer.close();
    reader.close();
  }
  state.counters["points_per_second"] =
      benchmark::Counter(double(points), benchmark::Counter::kIsRate);
  state.SetItemsProcessed(points);
}

void BM_FreadFwriteCopy(benchmark::State& state) {
  Files& f = files();
  std::vector<char> block(kBuffer);
  I64 bytes = 0;
  for (auto _ : state) {
    FILE* in = fopen(f.input.c_str(), "rb");
    FILE* out = fopen(f.output.c_str(), "wb");
    if (!in || !out) {
      state.SkipWithError("cannot open");
      return;
    }
    setvbuf(in, nullptr, _IOFBF, kBuffer);
    setvbuf(out, nullptr, _IOFBF, kBuffer);
    size_t n;
    while ((n = fread(block.data(), 1, block.size(), in)) > 0) {
      fwrite(block.data(), 1, n, out);
      bytes += I64(n);
    }
    fclose(in);
    fclose(out);
  }
  state.SetBytesProcessed(bytes);
}

// The same bytes moved one point record at a time: what a hand-written
// record loop over stdio costs.
void BM_FreadFwriteRecordCopy(benchmark::State& state) {
  Files& f = files();
  I64 points = 0;
  for (auto _ : state) {
    FILE* in = fopen(f.input.c_str(), "rb");
    FILE* out = fopen(f.output.c_str(), "wb");
    if (!in || !out) {
      state.SkipWithError("cannot open");
      return;
    }
    setvbuf(in, nullptr, _IOFBF, kBuffer);
    setvbuf(out, nullptr, _IOFBF, kBuffer);
    U8 header[227];
    U8 record[28];
    if (fread(header, 1, sizeof(header), in) == sizeof(header))
      fwrite(header, 1, sizeof(header), out);
    while (fread(record, 1, sizeof(record), in) == sizeof(record)) {
      fwrite(record, 1, sizeof(record), out);
      points++;
    }
    fclose(in);
    fclose(out);
  }
  state.counters["points_per_second"] =
      benchmark::Counter(double(points), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_LasToLas)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FreadFwriteCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FreadFwriteRecordCopy)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
