// Point-wise compression of point formats 1 and 3: points per second through
// the record streams, and the compressed size as a fraction of the records.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>

#include "bench/survey_records.hpp"
#include "tests/las/codec/codec_test_util.hpp"
#include "tests/support/test_data.hpp"

using namespace codec_test;

namespace {

constexpr U32 kPoints = 500000;

struct Workload {
  Vorzak config;
  U16 recordLength = 0;
  std::vector<U8> records;  // raw records back to back
  std::vector<std::vector<const U8*>> itemPointers;
  std::vector<U8> compressed;
};

void prepare(Workload& w, U8 type, U16 length, const std::vector<Record>& records) {
  w.config = makeConfig(type, length, 2, 2, 50000);
  w.recordLength = length;
  w.records.clear();
  for (const Record& r : records) w.records.insert(w.records.end(), r.begin(), r.end());
  w.itemPointers.assign(records.size(), {});
  for (size_t i = 0; i < records.size(); i++) {
    size_t offset = i * length;
    for (const LASitem& item : w.config.items) {
      w.itemPointers[i].push_back(w.records.data() + offset);
      offset += item.size;
    }
  }
  w.compressed = encode(w.config.items, &w.config, records).bytes;
}

// The point records of a shared LAS sample with their type and length;
// empty when the shared folder or the file is missing.
std::vector<Record> sampleFile(const char* name, U8& type, U16& length) {
  const std::string dir = shared_las_dir();
  std::vector<Record> records;
  if (dir.empty() || !read_las_records(dir + "/" + name, type, length, records)) return {};
  return records;
}

// A real sample repeated, shifted in X and time, up to kPoints records.
std::vector<Record> repeatedSample(const char* name, U8 type) {
  U8 fileType = 0;
  U16 length = 0;
  const std::vector<Record> sample = sampleFile(name, fileType, length);
  if (sample.empty() || fileType != type || length != base_point_size(type)) return {};
  std::vector<Record> records;
  records.reserve(kPoints);
  for (U32 round = 0; records.size() < kPoints; round++) {
    for (const Record& r : sample) {
      if (records.size() == kPoints) break;
      Record copy = r;
      U32 x;
      memcpy(&x, &copy[0], 4);
      x += round * 100000u;
      memcpy(&copy[0], &x, 4);
      F64 t;
      memcpy(&t, &copy[20], 8);
      t += 1000.0 * round;
      memcpy(&copy[20], &t, 8);
      records.push_back(std::move(copy));
    }
  }
  return records;
}

// Source 0: the tests' noisy survey-like pattern (random intensities,
// classes and returns); source 1: a real sample repeated (vegetation_1_3.las
// for type 1, 4_6_crop.las for type 3); source 2: the survey generator's
// flightlines.
const Workload& workload(U8 type, int source) {
  static Workload workloads[2][3];
  Workload& w = workloads[type == 1 ? 0 : 1][source];
  if (w.records.empty()) {
    const U16 length = base_point_size(type);
    std::vector<Record> records =
        source == 2   ? bench_data::surveyRecords(type, kPoints)
        : source == 1 ? repeatedSample(type == 1 ? "vegetation_1_3.las" : "4_6_crop.las", type)
                      : makeRecords(type, length, Pattern::Realistic, kPoints, 42);
    if (!records.empty()) prepare(w, type, length, records);
  }
  return w;
}

void encodeAll(const Workload& w, ByteStreamOutArrayLE& out) {
  LASrecordWriter writer;
  writer.configure(U32(w.config.items.size()), w.config.items.data(), &w.config);
  writer.attach(&out);
  for (const auto& pointers : w.itemPointers) writer.writeRecord(pointers.data());
  writer.finish();
}

void BM_Encode(benchmark::State& state) {
  const Workload& w = workload(U8(state.range(0)), int(state.range(1)));
  if (w.records.empty()) {
    state.SkipWithError("shared LAS samples not found");
    return;
  }
  ByteStreamOutArrayLE out(I64(w.records.size()));
  for (auto _ : state) {
    out.reset();
    encodeAll(w, out);
    benchmark::DoNotOptimize(out.data());
  }
  const double points = double(w.itemPointers.size());
  state.SetItemsProcessed(state.iterations() * I64(points));
  state.counters["points_per_s"] =
      benchmark::Counter(points * state.iterations(), benchmark::Counter::kIsRate);
  state.counters["fraction"] = double(out.size()) / double(w.records.size());
}

void BM_Decode(benchmark::State& state) {
  const Workload& w = workload(U8(state.range(0)), int(state.range(1)));
  if (w.records.empty()) {
    state.SkipWithError("shared LAS samples not found");
    return;
  }
  LASscaleOffset so;
  LASpoint point;
  point.init_items(&so, w.config.items, nullptr);
  U64 check = 0;
  for (auto _ : state) {
    ByteStreamInArrayLE in(w.compressed.data(), I64(w.compressed.size()));
    LASrecordReader reader;
    reader.configure(U32(w.config.items.size()), w.config.items.data(), &w.config);
    reader.attach(&in);
    for (size_t i = 0; i < w.itemPointers.size(); i++) {
      if (!reader.readRecord(point.item_targets.data())) {
        state.SkipWithError(reader.errorText().c_str());
        return;
      }
      check += U32(point.X);
    }
  }
  benchmark::DoNotOptimize(check);
  const double points = double(w.itemPointers.size());
  state.SetItemsProcessed(state.iterations() * I64(points));
  state.counters["points_per_s"] =
      benchmark::Counter(points * state.iterations(), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_Encode)->ArgsProduct({{1, 3}, {0, 1, 2}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode)->ArgsProduct({{1, 3}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

// The shared samples: compressed size as a fraction of their point records.
void BM_SharedSample(benchmark::State& state, const char* name) {
  U8 type = 0;
  U16 length = 0;
  const std::vector<Record> records = sampleFile(name, type, length);
  if (records.empty()) {
    state.SkipWithError("shared sample not found");
    return;
  }
  Workload w;
  prepare(w, type, length, records);
  ByteStreamOutArrayLE out;
  for (auto _ : state) {
    out.reset();
    encodeAll(w, out);
  }
  state.SetItemsProcessed(state.iterations() * I64(records.size()));
  state.counters["points"] = double(records.size());
  state.counters["fraction"] = double(out.size()) / double(w.records.size());
}

BENCHMARK_CAPTURE(BM_SharedSample, simple, "simple.las");
BENCHMARK_CAPTURE(BM_SharedSample, autzen, "autzen.las");
BENCHMARK_CAPTURE(BM_SharedSample, extrabytes, "extrabytes.las");
BENCHMARK_CAPTURE(BM_SharedSample, crop_4_6, "4_6_crop.las");
BENCHMARK_CAPTURE(BM_SharedSample, vegetation_1_3, "vegetation_1_3.las");
BENCHMARK_CAPTURE(BM_SharedSample, simple1_3, "simple1_3.las");
BENCHMARK_CAPTURE(BM_SharedSample, epsg_4326, "epsg_4326.las");
BENCHMARK_CAPTURE(BM_SharedSample, prec3, "prec3.las");

}  // namespace
