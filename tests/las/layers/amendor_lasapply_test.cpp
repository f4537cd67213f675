// Layers written by the Amendor over a reader and applied again by LASapply:
// what is read back must be what was written, point for point.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "las/core/bytestream_inout.hpp"
#include "las/core/platform.hpp"
#include "las/filter/lasfilter.hpp"
#include "las/io/lasreader_las.hpp"
#include "las/layers/amendor.hpp"
#include "las/layers/lasapply.hpp"
#include "las/layers/tierling_other.hpp"
#include "las/layers/tierling_replace.hpp"
#include "las/layers/trl_file.hpp"
#include "las/transform/lastransform.hpp"
#include "tests/support/las_builder.hpp"
#include "tests/support/test_data.hpp"

namespace {

// The fields the layers can change, and enough of the rest to see that
// nothing else moved.
struct Pt {
  I32 X, Y, Z;
  U16 intensity;
  U8 classification;
  bool withheld;
  bool overlap;
  U8 user_data;
  U16 source;
  F64 gps_time;
  bool operator==(const Pt& o) const {
    return X == o.X && Y == o.Y && Z == o.Z && intensity == o.intensity &&
           classification == o.classification && withheld == o.withheld && overlap == o.overlap &&
           user_data == o.user_data && source == o.source && gps_time == o.gps_time;
  }
};

Pt pt(const LASpoint& p) {
  return Pt{p.X,
            p.Y,
            p.Z,
            p.intensity,
            U8(p.classification),
            p.withheld_flag != 0,
            p.get_overlap_flag(),
            p.user_data,
            p.point_source_ID,
            p.gps_time};
}

std::vector<Pt> read_all(LASreader& reader) {
  std::vector<Pt> points;
  while (reader.read_point()) points.push_back(pt(reader.point));
  return points;
}

std::string make_las(const TempDir& dir, const std::string& name, I64 n, U8 point_type = 1,
                     U16 file_source_ID = 0) {
  LasBuildSpec spec;
  spec.point_type = point_type;
  spec.version_minor = point_type >= 6 ? 4 : 2;
  spec.num_points = n;
  spec.file_source_ID = file_source_ID;
  const std::string path = dir.file(name);
  EXPECT_TRUE(write_las_file(path, spec));
  return path;
}

std::unique_ptr<LASreaderLAS> open_las(const std::string& path) {
  auto reader = std::make_unique<LASreaderLAS>();
  EXPECT_TRUE(reader->open(path.c_str()));
  return reader;
}

// How one layer changes a point: the scratch point starts as a copy of the
// point as read.
using Change = std::function<void(I64 index, LASpoint& scratch)>;

struct Kind {
  const char* field;  // "delete" or a replace_field name
  std::vector<F64> parameters;
  Change change;
};

const Kind kClassify{"classification", {1, 12, 1}, [](I64 i, LASpoint& p) {
                       if (i % 3 == 0) {
                         p.classification = 12;
                         p.extended_classification = 12;
                       }
                     }};
const Kind kWithheld{
    "withheld_flag", {}, [](I64 i, LASpoint& p) { p.set_withheld_flag(i % 2 == 1); }};
const Kind kOverlap{"overlap_flag", {}, [](I64 i, LASpoint& p) { p.set_overlap_flag(i % 5 < 2); }};
const Kind kUserData{"user_data", {}, [](I64 i, LASpoint& p) { p.user_data = U8(i % 7); }};
const Kind kDeleteOdd{"delete", {}, [](I64 i, LASpoint& p) { p.marked_deleted = i % 2; }};

bool add_layer(Amendor& amendor, const Kind& kind) {
  const F64* params = kind.parameters.empty() ? nullptr : kind.parameters.data();
  const U32 n = U32(kind.parameters.size());
  if (strcmp(kind.field, "delete") == 0) return amendor.delete_points(0x30, "test", n, params);
  return amendor.replace_field(kind.field, 0x30, "test", n, params);
}

// Writes one layer over every point `reader` delivers; the bytes added, or
// -1 when the Amendor could not be set up.
I64 write_layer(LASreader& reader, const std::string& las, const char* directory, const Kind& kind,
                bool append) {
  LASheader out;
  out.copy_from(reader.header);
  strcpy(out.system_identifier, "layer test");
  Amendor amendor(&out);
  amendor.set_directory(directory);
  if (!add_layer(amendor, kind)) return -1;
  if (!amendor.open(las.c_str(), &reader, append, false, 65536)) return -1;
  LASpoint scratch;
  EXPECT_TRUE(scratch.init_items(&out, reader.point.items, &out));
  I64 i = 0;
  while (reader.read_point()) {
    scratch.copy_from(reader.point);
    kind.change(i++, scratch);
    EXPECT_TRUE(amendor.write_point(&scratch));
  }
  return amendor.close();
}

I64 write_layer(const std::string& las, const char* directory, const Kind& kind) {
  auto reader = open_las(las);
  return write_layer(*reader, las, directory, kind, false);
}

// The points of `las` with the changes applied in order, deleted ones left out.
std::vector<Pt> expected(const std::string& las, const std::vector<const Kind*>& kinds) {
  auto reader = open_las(las);
  std::vector<Pt> points;
  LASpoint& p = reader->point;
  std::vector<I64> index(kinds.size(), 0);
  while (reader->read_point()) {
    bool deleted = false;
    for (size_t k = 0; k < kinds.size() && !deleted; k++) {
      kinds[k]->change(index[k]++, p);
      deleted = p.marked_deleted != 0;
    }
    if (!deleted) points.push_back(pt(p));
  }
  return points;
}

std::unique_ptr<LASapply> open_apply(const std::string& las, const char* directory, I32 count) {
  auto apply = std::make_unique<LASapply>();
  apply->set_directory(directory);
  EXPECT_TRUE(apply->open(las.c_str(), open_las(las), 65536));
  EXPECT_TRUE(apply->load(count));
  return apply;
}

size_t glob_count(const std::string& pattern) {
  return platform::glob_files(pattern).size();
}

U32 num_layers_of(const std::string& trl) {
  const std::vector<U8> bytes = read_bytes_file(trl);
  U32 n = 0;
  if (bytes.size() >= 20) memcpy(&n, bytes.data() + 16, 4);
  return n;
}

TEST(AmendorLASapply, RoundTripsEveryMarkingOnLegacyAndExtendedPoints) {
  struct Case {
    U8 point_type;
    const Kind* kind;
  } cases[] = {{1, &kClassify}, {1, &kWithheld}, {1, &kUserData}, {0, &kDeleteOdd},
               {6, &kOverlap},  {6, &kClassify}, {6, &kWithheld}, {7, &kDeleteOdd}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.kind->field) + " type " + std::to_string(c.point_type));
    TempDir dir;
    const std::string las = make_las(dir, "a.las", 3001, c.point_type);
    ASSERT_GT(write_layer(las, nullptr, *c.kind), 0);
    EXPECT_EQ(num_layers_of(dir.file("a.trl")), 1u);
    auto apply = open_apply(las, nullptr, INT_MAX);
    EXPECT_EQ(apply->get_loaded_layers(), 1u);
    const std::vector<Pt> want = expected(las, {c.kind});
    EXPECT_TRUE(read_all(*apply) == want);
    EXPECT_FALSE(apply->failed());
    EXPECT_EQ(apply->points_read, I64(want.size()));
    // The header modifications of the layer reach the applying reader.
    EXPECT_STREQ(apply->header.system_identifier, "layer test");
  }
}

TEST(AmendorLASapply, DeletingEverySecondPointHalvesWhatIsDelivered) {
  TempDir dir;
  const std::string las = make_las(dir, "a.las", 1000);
  ASSERT_GT(write_layer(las, nullptr, kDeleteOdd), 0);
  auto apply = open_apply(las, nullptr, INT_MAX);
  // The layer records the reduced counts, so the reader announces what it
  // delivers.
  EXPECT_EQ(apply->point_count, 500);
  EXPECT_EQ(apply->header.number_of_point_records, 500u);
  const std::vector<Pt> got = read_all(*apply);
  EXPECT_EQ(got.size(), 500u);
  EXPECT_EQ(apply->points_read, 500);
  const std::vector<Pt> all = expected(las, {});
  for (size_t k = 0; k < got.size(); k++) ASSERT_TRUE(got[k] == all[2 * k]) << k;
}

// Writes a layers file for the 100 points of `las` holding an append layer
// and a delete layer, in this order or the other, as the Amendor drives
// them: 10 points follow the file's own, and `deleted(i)` marks points.
void write_append_and_delete(const std::string& las, const std::string& trl, bool append_first,
                             bool (*deleted)(int)) {
  auto reader = open_las(las);
  LASheader header;
  header.copy_from(reader->header);
  FILE* file = fopen(trl.c_str(), "w+b");
  ASSERT_NE(file, nullptr);
  ByteStreamInOutFileLE stream(file);
  ASSERT_TRUE(trl::write_file_header(&stream, header, 2));
  TierlingAppendPointsRaw append;
  TierlingDeletePointsCompressed deleting;
  Tierling* order[2] = {&append, &deleting};
  if (!append_first) std::swap(order[0], order[1]);
  for (Tierling* layer : order) layer->set_header(&header);
  ASSERT_TRUE(order[0]->start_writing(&stream));
  ASSERT_TRUE(order[1]->start_writing(nullptr));
  LASpoint p;
  ASSERT_TRUE(p.init_items(&header, reader->point.items, &header));
  for (int i = 0; i < 110; i++) {
    if (i < 100) {
      ASSERT_TRUE(reader->read_point());
      p.copy_from(reader->point);
    } else {
      p.X = 1000000 + i;  // stored by the append layer
      p.gps_time = 9000.0 + i;
    }
    p.marked_deleted = deleted(i) ? 1 : 0;
    ASSERT_TRUE(order[0]->record(p, p));
    // A point the first layer deleted is skipped by the second.
    if (order[0]->last_point_deleted()) {
      order[1]->skip_point();
    } else {
      ASSERT_TRUE(order[1]->record(p, p));
    }
  }
  ASSERT_TRUE(order[0]->done_writing(&stream));
  ASSERT_TRUE(order[1]->done_writing(&stream));
  fclose(file);
}

std::vector<I32> applied_xs(const std::string& las) {
  auto apply = open_apply(las, nullptr, INT_MAX);
  std::vector<I32> xs;
  while (apply->read_point()) xs.push_back(apply->point.X);
  EXPECT_FALSE(apply->failed());
  EXPECT_EQ(apply->points_read, I64(xs.size()));
  return xs;
}

// Points stored by an append layer come after the file's own and pass
// through the layers after it, which may delete them too.
TEST(AmendorLASapply, AppendedPointsFollowAndMeetTheLaterLayers) {
  TempDir dir;
  const std::string las = make_las(dir, "a.las", 100);
  write_append_and_delete(las, dir.file("a.trl"), true, [](int i) { return i % 4 == 1; });
  const std::vector<I32> xs = applied_xs(las);
  ASSERT_EQ(xs.size(), 82u);  // 110 less every fourth from the second
  EXPECT_EQ(std::vector<I32>(xs.end() - 7, xs.end()),
            (std::vector<I32>{1000100, 1000102, 1000103, 1000104, 1000106, 1000107, 1000108}));
}

// A delete layer ahead of an append layer: the points it deletes are not
// shown to the append layer but still count towards where the file's own
// points end, so every point beyond them is stored.
TEST(AmendorLASapply, AppendingAfterADeleteLayerStoresEveryNewPoint) {
  TempDir dir;
  const std::string las = make_las(dir, "a.las", 100);
  write_append_and_delete(las, dir.file("a.trl"), false,
                          [](int i) { return i % 4 == 1 && i < 100; });
  const std::vector<I32> xs = applied_xs(las);
  ASSERT_EQ(xs.size(), 85u);  // 100 less 25 deleted, then all 10 new ones
  EXPECT_EQ(xs.back(), 1000109);
  EXPECT_EQ(xs[75], 1000100);
}

TEST(AmendorLASapply, LayersFilesGoIntoTheDirectoryUnderTheInputsName) {
  TempDir dir;
  ASSERT_EQ(mkdir(dir.file("tiles").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(dir.file("out").c_str(), 0700), 0);
  const std::string las = make_las(dir, "tiles/a.las", 100);
  const std::string out = dir.file("out");
  {
    auto reader = open_las(las);
    LASheader h;
    h.copy_from(reader->header);
    Amendor amendor(&h);
    amendor.set_directory(out.c_str());
    ASSERT_TRUE(add_layer(amendor, kWithheld));
    ASSERT_TRUE(amendor.open(las.c_str(), reader.get(), false, false, 4096));
    EXPECT_EQ(amendor.get_file_name(), out + "/a.trl");
    LASpoint scratch;
    ASSERT_TRUE(scratch.init_items(&h, reader->point.items, &h));
    for (I64 i = 0; reader->read_point(); i++) {
      scratch.copy_from(reader->point);
      kWithheld.change(i, scratch);
      ASSERT_TRUE(amendor.write_point(&scratch));
    }
    EXPECT_GT(amendor.close(), 0);
  }
  EXPECT_TRUE(platform::file_exists((out + "/a.trl").c_str()));
  EXPECT_FALSE(platform::file_exists(dir.file("tiles/a.trl").c_str()));

  // Without the directory the file beside the input is looked for.
  LASapply beside;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(beside.open(las.c_str(), open_las(las), 4096));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: cannot open file '" + dir.file("tiles/a.trl") + "'\n");
  auto apply = open_apply(las, out.c_str(), INT_MAX);
  EXPECT_EQ(apply->get_file_name(), out + "/a.trl");
  EXPECT_TRUE(read_all(*apply) == expected(las, {&kWithheld}));
}

// A point file whose name ends in "trl" would be its own layers file.
TEST(AmendorLASapply, AnInputIsNeverItsOwnLayersFile) {
  TempDir dir;
  const std::string las = make_las(dir, "odd.trl", 10);
  const std::vector<U8> before = read_bytes_file(las);
  auto reader = open_las(las);
  LASheader h;
  h.copy_from(reader->header);
  Amendor amendor(&h);
  ASSERT_TRUE(add_layer(amendor, kWithheld));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(amendor.open(las.c_str(), reader.get(), false, false, 4096));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: layers file '" + las +
                                                        "' is the input file '" + las +
                                                        "'. refusing to overwrite it.\n");
  EXPECT_FALSE(amendor.is_open());
  EXPECT_TRUE(read_bytes_file(las) == before);

  // Nor is another input of the run.
  const std::string other = make_las(dir, "other.las", 10);
  const std::string taken = dir.file("other.trl");
  ASSERT_TRUE(write_bytes_file(taken, before));
  auto other_reader = open_las(other);
  Amendor second(&h);
  ASSERT_TRUE(add_layer(second, kWithheld));
  second.set_protected_files({las, taken});
  EXPECT_FALSE(second.open(other.c_str(), other_reader.get(), false, false, 4096));
  EXPECT_TRUE(read_bytes_file(taken) == before);
}

TEST(AmendorLASapply, AppendingAfterLoadingOneOfTwoLayersReplacesTheSecond) {
  TempDir dir;
  const std::string las = make_las(dir, "a.las", 2000);
  const std::string trl = dir.file("a.trl");
  ASSERT_GT(write_layer(las, nullptr, kClassify), 0);
  {
    auto apply = open_apply(las, nullptr, INT_MAX);
    ASSERT_GT(write_layer(*apply, las, nullptr, kWithheld, true), 0);
  }
  ASSERT_EQ(num_layers_of(trl), 2u);
  auto two = open_apply(las, nullptr, INT_MAX);
  EXPECT_TRUE(read_all(*two) == expected(las, {&kClassify, &kWithheld}));
  const U64 first_end = two->get_layers_start();
  two.reset();
  const std::vector<U8> before = read_bytes_file(trl);

  auto one = open_apply(las, nullptr, 1);
  ASSERT_EQ(one->get_loaded_layers(), 1u);
  const U64 cut = one->get_layers_end();
  EXPECT_GT(cut, first_end);
  ASSERT_GT(write_layer(*one, las, nullptr, kUserData, true), 0);
  one.reset();

  EXPECT_EQ(num_layers_of(trl), 2u);
  const std::vector<U8> after = read_bytes_file(trl);
  ASSERT_GE(after.size(), cut);
  EXPECT_EQ(memcmp(before.data(), after.data(), size_t(cut)), 0) << "first layer touched";
  auto again = open_apply(las, nullptr, INT_MAX);
  EXPECT_EQ(again->get_loaded_layers(), 2u);
  EXPECT_TRUE(read_all(*again) == expected(las, {&kClassify, &kUserData}));
  EXPECT_FALSE(again->failed());
  // Nothing of the replaced layer lingers after the new one.
  EXPECT_EQ(again->get_layers_end(), after.size());
}

TEST(AmendorLASapply, CountsChooseHowManyLayersLoad) {
  TempDir dir;
  const std::string las = make_las(dir, "a.las", 500);
  ASSERT_GT(write_layer(las, nullptr, kClassify), 0);
  const Kind* kinds[] = {&kClassify, &kWithheld, &kUserData};
  for (int k = 1; k < 3; k++) {
    auto apply = open_apply(las, nullptr, INT_MAX);
    ASSERT_GT(write_layer(*apply, las, nullptr, *kinds[k], true), 0);
  }
  ASSERT_EQ(num_layers_of(dir.file("a.trl")), 3u);
  struct Case {
    I32 count;
    U32 loaded;
  } cases[] = {{-1, 2}, {-3, 0}, {-7, 0}, {INT_MIN, 0}, {0, 0},
               {2, 2},  {3, 3},  {4, 3},  {INT_MAX, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    auto apply = open_apply(las, nullptr, c.count);
    EXPECT_EQ(apply->get_loaded_layers(), c.loaded);
    const std::vector<const Kind*> applied(kinds, kinds + c.loaded);
    EXPECT_TRUE(read_all(*apply) == expected(las, applied));
  }
}

TEST(AmendorLASapply, HeaderMismatchesRefuseOrWarn) {
  TempDir dir;
  const std::string a = make_las(dir, "a.las", 300);
  ASSERT_GT(write_layer(a, nullptr, kClassify), 0);
  const std::vector<U8> trl = read_bytes_file(dir.file("a.trl"));

  // Another file source ID: the layers belong to another file.
  const std::string b = make_las(dir, "b.las", 300, 1, 5);
  ASSERT_TRUE(write_bytes_file(dir.file("b.trl"), trl));
  LASapply refused;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(refused.open(b.c_str(), open_las(b), 4096));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: mismatch in header file_source_ID (TRL 0 LAS 5)\n"
            "ERROR: reading and checking TRL header\n");
  std::unique_ptr<LASreader> plain = refused.release_reader();
  ASSERT_TRUE(plain);
  EXPECT_EQ(read_all(*plain).size(), 300u);

  // Another generating software only warns, and the layers apply.
  std::vector<U8> c_bytes = read_bytes_file(a);
  memcpy(c_bytes.data() + 58, "something else", 15);
  ASSERT_TRUE(write_bytes_file(dir.file("c.las"), c_bytes));
  ASSERT_TRUE(write_bytes_file(dir.file("c.trl"), trl));
  LASapply warned;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(warned.open(dir.file("c.las").c_str(), open_las(dir.file("c.las")), 4096));
  const std::string warning = testing::internal::GetCapturedStderr();
  EXPECT_EQ(warning.find("WARNING: mismatch in header generating_software"), 0u) << warning;
  ASSERT_TRUE(warned.load(INT_MAX));
  EXPECT_TRUE(read_all(warned) == expected(a, {&kClassify}));

  // Appending is stricter: a different global encoding refuses, and the
  // file stays as it was.
  std::vector<U8> d_bytes = read_bytes_file(a);
  put_u16(d_bytes, 6, 1);
  ASSERT_TRUE(write_bytes_file(dir.file("d.las"), d_bytes));
  ASSERT_TRUE(write_bytes_file(dir.file("d.trl"), trl));
  auto reader = open_las(dir.file("d.las"));
  testing::internal::CaptureStderr();
  EXPECT_EQ(write_layer(*reader, dir.file("d.las"), nullptr, kWithheld, true), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: mismatch in header global_encoding (TRL 0 LAS 1)\n"
            "ERROR: checking TRL header(s)\n");
  EXPECT_EQ(read_bytes_file(dir.file("d.trl")), trl);
}

TEST(AmendorLASapply, TakesOverQueryFilterTransformAndIgnoreAndGivesThemBack) {
  TempDir dir;
  const std::string las = make_las(dir, "a.las", 2000);
  ASSERT_GT(write_layer(las, nullptr, kUserData), 0);
  LASfilter filter;
  ASSERT_TRUE(filter.parse(std::string("-drop_class 3 5")));
  LAStransform transform;
  ASSERT_TRUE(transform.parse(std::string("-translate_z 100")));
  LASignore ignore;
  ignore.add_class(7);
  auto setup = [&](LASreader& r) {
    r.set_filter(&filter);
    r.set_transform(&transform);
    r.set_ignore(&ignore);
    r.inside_rectangle(0, -500, 600, 2000);
  };
  auto reader = open_las(las);
  setup(*reader);
  const std::vector<Pt> plain = read_all(*reader);
  ASSERT_GT(plain.size(), 100u);
  ASSERT_LT(plain.size(), 1500u);

  reader = open_las(las);
  setup(*reader);
  const F64 file_min_x = open_las(las)->header.min_x;
  LASapply apply;
  ASSERT_TRUE(apply.open(las.c_str(), std::move(reader), 4096));
  LASreader* inner = apply.get_reader();
  EXPECT_EQ(inner->get_filter(), nullptr);
  EXPECT_EQ(inner->get_transform(), nullptr);
  EXPECT_EQ(inner->get_ignore(), nullptr);
  EXPECT_EQ(inner->get_inside(), 0u);
  EXPECT_EQ(inner->header.min_x, file_min_x);
  EXPECT_EQ(apply.get_filter(), &filter);
  EXPECT_EQ(apply.get_transform(), &transform);
  EXPECT_EQ(apply.get_ignore(), &ignore);
  EXPECT_EQ(apply.get_inside(), 3u);
  EXPECT_EQ(apply.header.min_x, 0.0);
  ASSERT_TRUE(apply.load(INT_MAX));
  // The layers act first, then the query, the filter and the transform.
  const std::vector<Pt> layered = read_all(apply);
  ASSERT_EQ(layered.size(), plain.size());
  for (size_t k = 0; k < plain.size(); k++) {
    // The file's index of a point, from its GPS time.
    const I64 index = std::llround((plain[k].gps_time - 1000.0) * 1000.0);
    Pt want = plain[k];
    want.user_data = U8(index % 7);
    ASSERT_TRUE(layered[k] == want) << k;
  }

  // Given back, the reader has all of it again.
  std::unique_ptr<LASreader> back = apply.release_reader();
  ASSERT_TRUE(back);
  EXPECT_EQ(back->get_filter(), &filter);
  EXPECT_EQ(back->get_transform(), &transform);
  EXPECT_EQ(back->get_ignore(), &ignore);
  EXPECT_EQ(back->get_inside(), 3u);
  EXPECT_EQ(apply.get_reader(), nullptr);
}

TEST(AmendorLASapply, FilterAndTransformOfTheReaderAreRepeatedFromTheFile) {
  TempDir dir;
  const std::string las = make_las(dir, "a.las", 2000);
  LASfilter filter;
  ASSERT_TRUE(filter.parse(std::string("-drop_class 3 5")));
  LAStransform transform;
  ASSERT_TRUE(transform.parse(std::string("-translate_z 100 -set_user_data 9")));
  auto reader = open_las(las);
  reader->set_filter(&filter);
  reader->set_transform(&transform);
  ASSERT_GT(write_layer(*reader, las, nullptr, kClassify, false), 0);
  EXPECT_EQ(num_layers_of(dir.file("a.trl")), 3u);

  reader = open_las(las);
  reader->set_filter(&filter);
  reader->set_transform(&transform);
  std::vector<Pt> want;
  for (I64 i = 0; reader->read_point(); i++) {
    kClassify.change(i, reader->point);
    want.push_back(pt(reader->point));
  }
  // A plain reader of the file gets the same points through the layers.
  auto apply = open_apply(las, nullptr, INT_MAX);
  EXPECT_EQ(apply->get_loaded_layers(), 3u);
  EXPECT_TRUE(read_all(*apply) == want);
}

TEST(AmendorLASapply, AddingRulesAndCounts) {
  TempDir dir;
  const std::string las = make_las(dir, "a.las", 10);
  auto reader = open_las(las);
  LASheader h;
  h.copy_from(reader->header);
  Amendor amendor(&h);
  struct Case {
    const char* field;
    std::vector<F64> parameters;
    const char* error;
  } refused[] = {
      {"color", {}, "ERROR: changing field 'color' not supported.\n"},
      {"classification", {3, 1, 2}, "ERROR: adding layer[0] replace 'classification'\n"},
      {"classification", {1, 300}, "ERROR: adding layer[0] replace 'classification'\n"},
      {"user_data", {9, 4}, "ERROR: adding layer[0] replace 'user_data'\n"},
      {"intensity", {1}, "ERROR: adding layer[0] replace 'intensity'\n"},
  };
  for (const Case& c : refused) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(
        amendor.replace_field(c.field, 0, "", U32(c.parameters.size()), c.parameters.data()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.error);
  }
  EXPECT_EQ(amendor.get_layer_count(), 0u);
  const F64 ignore_withheld[] = {F64(LASignore::WITHHELD)};
  const F64 classes[] = {1, 12, 1};
  ASSERT_TRUE(amendor.replace_field("classification", 0x30, "", 3, classes));
  // Piped input has no name to put the layers file beside.
  testing::internal::CaptureStderr();
  EXPECT_FALSE(amendor.open("", reader.get(), false, false, 4096));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: file name pointer is zero\n");
  ASSERT_TRUE(amendor.open(las.c_str(), reader.get(), false, false, 4096));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(amendor.delete_points(0, "", 1, ignore_withheld));
  EXPECT_FALSE(amendor.replace_field("Z", 0, "", 0, nullptr));
  EXPECT_FALSE(amendor.filter_points("-keep_class 2", 0, ""));
  EXPECT_FALSE(amendor.transform_points("-translate_z 1", 0, ""));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: cannot call delete_points() after open()\n"
            "ERROR: cannot call replace_field() after open()\n"
            "ERROR: cannot call filter_points() after open()\n"
            "ERROR: cannot call transform_points() after open()\n");
  LASpoint scratch;
  ASSERT_TRUE(scratch.init_items(&h, reader->point.items, &h));
  for (int i = 0; i < 4 && reader->read_point(); i++) {
    scratch.copy_from(reader->point);
    ASSERT_TRUE(amendor.write_point(&scratch));
  }
  testing::internal::CaptureStderr();
  EXPECT_GT(amendor.close(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: written 4 points but expected 10 points\n");
}

TEST(AmendorLASapply, DiscardLeavesTheFileAsItWas) {
  TempDir dir;
  const std::string las = make_las(dir, "a.las", 400);
  const std::string trl = dir.file("a.trl");
  ASSERT_GT(write_layer(las, nullptr, kClassify), 0);
  ASSERT_GT(write_layer(*open_apply(las, nullptr, INT_MAX), las, nullptr, kWithheld, true), 0);
  const std::vector<U8> two = read_bytes_file(trl);

  // After all layers: the file keeps both.
  for (I32 count : {INT_MAX, 1}) {
    SCOPED_TRACE(count);
    ASSERT_TRUE(write_bytes_file(trl, two));
    auto apply = open_apply(las, nullptr, count);
    LASheader h;
    h.copy_from(apply->header);
    Amendor amendor(&h);
    ASSERT_TRUE(add_layer(amendor, kUserData));
    ASSERT_TRUE(amendor.open(las.c_str(), apply.get(), true, false, 4096));
    LASpoint scratch;
    ASSERT_TRUE(scratch.init_items(&h, apply->point.items, &h));
    for (int i = 0; i < 200 && apply->read_point(); i++) {
      scratch.copy_from(apply->point);
      scratch.user_data = 1;
      ASSERT_TRUE(amendor.write_point(&scratch));
    }
    amendor.discard();
    EXPECT_FALSE(amendor.is_open());
    const std::vector<U8> now = read_bytes_file(trl);
    if (count == INT_MAX) {
      EXPECT_EQ(now, two);
    } else {
      // The new layer already stood where the second one was: the file
      // keeps the one layer before it, whole.
      EXPECT_EQ(num_layers_of(trl), 1u);
      EXPECT_EQ(now.size(), apply->get_layers_end());
      EXPECT_TRUE(read_all(*open_apply(las, nullptr, INT_MAX)) == expected(las, {&kClassify}));
    }
  }

  // A new file replaces an older one only when complete: a discarded or
  // abandoned run (destroyed while open) leaves the old file, or none.
  for (bool had_file : {true, false}) {
    for (bool abandoned : {false, true}) {
      SCOPED_TRACE(testing::Message() << "old file " << had_file << ", abandoned " << abandoned);
      remove(trl.c_str());
      if (had_file) {
        ASSERT_TRUE(write_bytes_file(trl, two));
      }
      auto reader = open_las(las);
      LASheader h;
      h.copy_from(reader->header);
      {
        Amendor fresh(&h);
        ASSERT_TRUE(add_layer(fresh, kWithheld));
        ASSERT_TRUE(fresh.open(las.c_str(), reader.get(), false, false, 4096));
        LASpoint scratch;
        ASSERT_TRUE(scratch.init_items(&h, reader->point.items, &h));
        for (int i = 0; i < 100 && reader->read_point(); i++) {
          scratch.copy_from(reader->point);
          ASSERT_TRUE(fresh.write_point(&scratch));
        }
        if (!abandoned) fresh.discard();
      }
      if (had_file) {
        EXPECT_EQ(read_bytes_file(trl), two);
      } else {
        EXPECT_FALSE(platform::file_exists(trl.c_str()));
      }
      EXPECT_EQ(glob_count(dir.file("*.tmp")), 0u);
    }
  }
}

// Damaged layers files fail with a message and never crash; the reader
// comes back usable without layers.
TEST(AmendorLASapply, DamagedLayersFilesFailCleanly) {
  TempDir dir;
  const std::string las = make_las(dir, "a.las", 3000);
  const std::string trl = dir.file("a.trl");
  ASSERT_GT(write_layer(las, nullptr, kClassify), 0);
  ASSERT_GT(write_layer(*open_apply(las, nullptr, INT_MAX), las, nullptr, kDeleteOdd, true), 0);
  const std::vector<U8> good = read_bytes_file(trl);
  std::vector<std::vector<U8>> variants;
  for (size_t cut : {size_t(10), size_t(276), size_t(300), good.size() / 2, good.size() - 1}) {
    variants.emplace_back(good.begin(), good.begin() + I64(cut));
  }
  Rand15 random(7);
  for (int k = 0; k < 60; k++) {
    std::vector<U8> v = good;
    const size_t at = 276 + size_t(random.next()) * (v.size() - 276) / 32768;
    v[at] ^= U8(1 + random.next() % 255);
    variants.push_back(v);
  }
  int refused = 0;
  for (size_t k = 0; k < variants.size(); k++) {
    SCOPED_TRACE(k);
    ASSERT_TRUE(write_bytes_file(trl, variants[k]));
    testing::internal::CaptureStderr();
    LASapply apply;
    if (!apply.open(las.c_str(), open_las(las), 4096) || !apply.load(INT_MAX)) {
      refused++;
      std::unique_ptr<LASreader> back = apply.release_reader();
      ASSERT_TRUE(back);
      EXPECT_EQ(read_all(*back).size(), 3000u);
    } else {
      EXPECT_LE(read_all(apply).size(), 3000u);
    }
    const std::string err = testing::internal::GetCapturedStderr();
    if (k < 5) {
      EXPECT_NE(err.find("ERROR: "), std::string::npos) << err;
    }
  }
  // Every cut file is refused while loading.
  EXPECT_GE(refused, 5);
}

}  // namespace
