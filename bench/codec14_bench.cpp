// Layered compression of point types 6 and 7: points per second through the
// record streams, and the compressed size as a fraction of the raw records.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>

#include "bench/survey_records.hpp"
#include "tests/las/codec/point14_test_util.hpp"
#include "tests/support/test_data.hpp"

using namespace p14test;

namespace {

constexpr U32 kPoints = 500000;

// The point fields from X through the GPS time, and the colour, of every
// record: what a reader would have filled in.
struct Images {
  std::vector<LASitem> items;
  size_t coreBytes = 0;
  std::vector<U8> core;
  std::vector<U8> colour;
  U64 rawBytes = 0;
};

// Records of a shared sample, repeated with shifted coordinates and times
// until there are kPoints of them; empty without the shared folder.
std::vector<Record> sampleRecords(const char* name, U8 type) {
  U8 fileType = 0;
  U16 length = 0;
  std::vector<Record> sample;
  const std::string dir = shared_las_dir();
  if (dir.empty() || !readLasRecords(dir + "/" + name, fileType, length, sample) ||
      fileType != type || sample.empty()) {
    return {};
  }
  std::vector<Record> records;
  records.reserve(kPoints);
  for (U32 round = 0; records.size() < kPoints; round++) {
    for (const Record& r : sample) {
      if (records.size() == kPoints) break;
      Record copy(r.begin(), r.begin() + base_point_size(type));
      put32(copy, 0, get32(&copy[0]) + round * 100000u);
      F64 t;
      memcpy(&t, &copy[22], 8);
      put64(copy, 22, doubleBits(t + 1000.0 * round));
      records.push_back(copy);
    }
  }
  return records;
}

// Type 6 and 7 records: the tests' noisy survey pattern (source 0, colours
// jumping by hundreds every point), a shared sample (source 1: test1_4.las
// for type 6, simple1_4.las for type 7), or the survey generator's
// flightlines (source 2).
const Images& images(U8 type, int source) {
  static std::map<int, Images> cache;
  const int key = type * 10 + source;
  auto found = cache.find(key);
  if (found != cache.end()) return found->second;
  Images& im = cache[key];
  im.items = itemsFor(type, 0, 3);
  const std::vector<Record> records =
      source == 2   ? bench_data::surveyRecords(type, kPoints)
      : source == 1 ? sampleRecords(type == 6 ? "test1_4.las" : "simple1_4.las", type)
                    : makeRecords(im.items, Pattern::Survey, kPoints, 5);
  if (records.empty()) return im;
  LASscaleOffset so;
  LASpoint p;
  p.init_items(&so, im.items, nullptr);
  im.coreBytes = size_t(reinterpret_cast<U8*>(&p.gps_time) - reinterpret_cast<U8*>(&p.X)) + 8;
  for (const Record& r : records) {
    loadRecord(p, r);
    const U8* core = reinterpret_cast<const U8*>(&p.X);
    im.core.insert(im.core.end(), core, core + im.coreBytes);
    const U8* colour = reinterpret_cast<const U8*>(p.rgb);
    im.colour.insert(im.colour.end(), colour, colour + 6);
    im.rawBytes += r.size();
  }
  return im;
}

std::vector<U8> encodeAll(const Images& im, LASpoint& p, LASrecordWriter& writer,
                          const Vorzak& config, ByteStreamOutArrayLE& out) {
  out.reset();
  writer.configure(U32(im.items.size()), im.items.data(), &config);
  writer.attach(&out);
  for (U32 i = 0; i < kPoints; i++) {
    memcpy(&p.X, &im.core[i * im.coreBytes], im.coreBytes);
    memcpy(p.rgb, &im.colour[i * 6], 6);
    writer.writeRecord(p.item_targets.data());
  }
  writer.finish();
  return std::vector<U8>(out.data(), out.data() + out.size());
}

void BM_Encode(benchmark::State& state) {
  const Images& im = images(U8(state.range(0)), int(state.range(1)));
  if (im.core.empty()) {
    state.SkipWithError("shared LAS samples not found");
    return;
  }
  const Vorzak config = layeredConfig(im.items, 50000);
  LASscaleOffset so;
  LASpoint p;
  p.init_items(&so, im.items, nullptr);
  LASrecordWriter writer;
  ByteStreamOutArrayLE out(I64(im.rawBytes));
  size_t compressed = 0;
  for (auto _ : state) {
    compressed = encodeAll(im, p, writer, config, out).size();
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(I64(state.iterations()) * kPoints);
  state.counters["fraction"] = double(compressed) / double(im.rawBytes);
}

void BM_Decode(benchmark::State& state) {
  const Images& im = images(U8(state.range(0)), int(state.range(1)));
  if (im.core.empty()) {
    state.SkipWithError("shared LAS samples not found");
    return;
  }
  const Vorzak config = layeredConfig(im.items, 50000);
  LASscaleOffset so;
  LASpoint p;
  p.init_items(&so, im.items, nullptr);
  LASrecordWriter writer;
  ByteStreamOutArrayLE out(I64(im.rawBytes));
  const std::vector<U8> bytes = encodeAll(im, p, writer, config, out);
  LASrecordReader reader;
  reader.configure(U32(im.items.size()), im.items.data(), &config);
  U64 check = 0;
  for (auto _ : state) {
    ByteStreamInArrayLE in(bytes.data(), I64(bytes.size()));
    reader.attach(&in);
    for (U32 i = 0; i < kPoints; i++) {
      if (!reader.readRecord(p.item_targets.data())) {
        state.SkipWithError(reader.errorText().c_str());
        return;
      }
      check += U32(p.X);
    }
    benchmark::DoNotOptimize(check);
  }
  state.SetItemsProcessed(I64(state.iterations()) * kPoints);
  state.counters["fraction"] = double(bytes.size()) / double(im.rawBytes);
}

// Arguments: point type, data source (0 synthetic survey, 1 shared sample).
BENCHMARK(BM_Encode)->ArgsProduct({{6, 7}, {0, 1, 2}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode)->ArgsProduct({{6, 7}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

}  // namespace
