#include "las/layers/trl_file.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"

namespace {

void make_header(LASheader& h, U8 minor) {
  h.version_minor = minor;
  h.file_source_ID = 77;
  h.global_encoding = 1;
  h.project_ID_GUID_data_1 = 0xDEADBEEF;
  h.project_ID_GUID_data_2 = 2;
  h.project_ID_GUID_data_3 = 3;
  memcpy(h.project_ID_GUID_data_4, "GUIDGUID", 8);
  strcpy(h.system_identifier, "test system");
  strcpy(h.generating_software, "test software");
  h.point_data_format = minor >= 4 ? 6 : 1;
  h.point_data_record_length = minor >= 4 ? 30 : 28;
  h.number_of_point_records = 1000;
  h.x_scale_factor = 0.001;
  h.extended_number_of_point_records = 1000;
}

std::vector<U8> file_header_bytes(const LASheader& h, U32 layers) {
  ByteStreamOutArrayLE out;
  EXPECT_TRUE(trl::write_file_header(&out, h, layers));
  return std::vector<U8>(out.data(), out.data() + out.size());
}

template <typename T>
T field_at(const std::vector<U8>& bytes, size_t offset) {
  T v;
  memcpy(&v, bytes.data() + offset, sizeof(T));
  return v;
}

TEST(TrlFileHeader, LayoutForLegacyAndExtendedPointFiles) {
  for (U8 minor : {U8(2), U8(4)}) {
    SCOPED_TRACE(int(minor));
    LASheader h;
    make_header(h, minor);
    const std::vector<U8> bytes = file_header_bytes(h, 3);
    const U32 size = minor >= 4 ? 404 : 276;
    ASSERT_EQ(bytes.size(), size);
    EXPECT_EQ(trl::file_header_size(h), size);
    EXPECT_EQ(memcmp(bytes.data(), "TRLFBIN\n", 8), 0);
    EXPECT_EQ(field_at<U32>(bytes, 16), 3u);
    EXPECT_EQ(field_at<U32>(bytes, 20), size);
    EXPECT_EQ(field_at<U16>(bytes, 56), 77);
    EXPECT_EQ(field_at<U32>(bytes, 60), 0xDEADBEEFu);
    EXPECT_EQ(bytes[77], minor);
    EXPECT_EQ(bytes[152], h.point_data_format);
    EXPECT_EQ(bytes[153], h.point_data_format);
    EXPECT_EQ(field_at<U32>(bytes, 156), 1000u);
    EXPECT_EQ(field_at<F64>(bytes, 180), 0.001);
    if (minor >= 4) {
      EXPECT_EQ(field_at<U64>(bytes, 276), 1000u);
    }
  }
}

TEST(TrlFileHeader, CheckAcceptsItsOwnHeaderAndStopsRightAfterIt) {
  for (U8 minor : {U8(2), U8(4)}) {
    LASheader h;
    make_header(h, minor);
    std::vector<U8> bytes = file_header_bytes(h, 2);
    bytes.push_back(0xAB);
    ByteStreamInArrayLE in(bytes.data(), I64(bytes.size()));
    trl::FileHeader f;
    ASSERT_TRUE(trl::check_file_header(&in, h, false, &f));
    EXPECT_EQ(f.num_layers, 2u);
    EXPECT_EQ(in.tell(), I64(trl::file_header_size(h)));
  }
}

struct CheckCase {
  const char* what;
  std::function<void(std::vector<U8>&)> damage;
  bool accepted;         // by the reader's check
  bool accepted_append;  // by the appending writer's check
};

TEST(TrlFileHeader, CheckRefusesForeignOrDamagedHeaders) {
  const std::vector<CheckCase> cases = {
      {"signature", [](std::vector<U8>& b) { b[0] = 'X'; }, false, false},
      {"encoding", [](std::vector<U8>& b) { b[7] = ' '; }, false, false},
      {"version major", [](std::vector<U8>& b) { b[8] = 1; }, false, false},
      {"version minor", [](std::vector<U8>& b) { b[9] = 1; }, false, false},
      {"version release", [](std::vector<U8>& b) { b[10] = 1; }, false, false},
      {"compression", [](std::vector<U8>& b) { b[12] = 1; }, false, false},
      {"no layers only warns", [](std::vector<U8>& b) { b[16] = 0; }, true, true},
      {"offset to layers", [](std::vector<U8>& b) { b[20] = 200, b[21] = 0; }, false, false},
      {"reserved only warns", [](std::vector<U8>& b) { b[30] = 1; }, true, true},
      {"file source ID", [](std::vector<U8>& b) { b[56] = 1; }, false, false},
      {"global encoding", [](std::vector<U8>& b) { b[58] = 0; }, true, false},
      {"GUID data 1", [](std::vector<U8>& b) { b[60] = 0; }, false, false},
      {"GUID data 2", [](std::vector<U8>& b) { b[64] = 9; }, false, false},
      {"GUID data 3", [](std::vector<U8>& b) { b[66] = 9; }, false, false},
      {"GUID data 4", [](std::vector<U8>& b) { b[75] = 'x'; }, false, false},
      {"LAS version major", [](std::vector<U8>& b) { b[76] = 2; }, false, false},
      {"LAS version minor", [](std::vector<U8>& b) { b[77] = 3; }, false, false},
      {"system identifier only warns", [](std::vector<U8>& b) { b[78] = 'X'; }, true, true},
      {"generating software only warns", [](std::vector<U8>& b) { b[110] = 'X'; }, true, true},
      {"counts are not compared", [](std::vector<U8>& b) { b[156] = 1; }, true, true},
  };
  LASheader h;
  make_header(h, 2);
  const std::vector<U8> good = file_header_bytes(h, 2);
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.what);
    for (bool append : {false, true}) {
      std::vector<U8> bytes = good;
      c.damage(bytes);
      ByteStreamInArrayLE in(bytes.data(), I64(bytes.size()));
      EXPECT_EQ(trl::check_file_header(&in, h, append, nullptr),
                append ? c.accepted_append : c.accepted);
    }
  }
}

TEST(TrlFileHeader, CheckFailsCleanlyOnEveryTruncation) {
  LASheader h;
  make_header(h, 4);
  const std::vector<U8> good = file_header_bytes(h, 1);
  for (size_t n = 0; n < good.size(); n++) {
    ByteStreamInArrayLE in(good.data(), I64(n));
    EXPECT_FALSE(trl::check_file_header(&in, h, false, nullptr)) << n;
  }
}

TEST(TrlFileName, ReplacesTheEndingAndJoinsTheDirectory) {
  struct Case {
    const char* input;
    const char* directory;
    const char* expected;
  } cases[] = {
      {"a.las", nullptr, "a.trl"},
      {"tiles/a.vzk", nullptr, "tiles/a.trl"},
      {"tiles/a.las", "out", "out/a.trl"},
      {"tiles/a.las", "out/", "out/a.trl"},
      {"a.las", "", "a.trl"},
      {"ab", nullptr, "trl"},
      {"tiles/ab", "out", "out/trl"},
      {"tiles/ab", nullptr, "tiles/trl"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(trl::file_name(c.input, c.directory), c.expected) << c.input;
  }
}

TEST(ReturnTypeClass, SingleFirstLastIntermediate) {
  struct Case {
    U8 r, n, expected;
  } cases[] = {{1, 1, 0}, {1, 3, 1}, {3, 3, 2}, {2, 3, 3}, {0, 0, 0}, {7, 7, 2}, {2, 7, 3}};
  LASpoint p;
  for (const Case& c : cases) {
    p.return_number = c.r;
    p.number_of_returns = c.n;
    EXPECT_EQ(trl::return_type_class(p), c.expected) << int(c.r) << " of " << int(c.n);
  }
}

// A layer that records nothing per point and may change the header when it
// finishes: enough to exercise the layer record around any data.
class ProbeTierling : public Tierling {
 public:
  ProbeTierling() : Tierling(trl::kHeader, 0, trl::kCompressionNone) {}
  bool record(const LASpoint&, const LASpoint&) override { return data_out()->put32(0xCAFEF00Du); }
  bool apply(LASpoint*) override { return true; }
  U32 new_day = 0;

 protected:
  bool start_writing_data(ByteStreamOut*) override { return true; }
  bool end_writing_data() override { return true; }
  bool start_reading_data(ByteStreamIn*) override { return true; }
  void update_header(LASheader* header) override {
    if (new_day) header->file_creation_day = U16(new_day);
  }
};

std::vector<U8> write_probe(LASheader& h, bool buffered, U32 mask, const LASignore& rules,
                            const std::string& description, U32 new_day = 0) {
  ByteStreamOutArrayLE out;
  out.put32(0x11111111u);  // the layer need not start at 0
  ProbeTierling layer;
  static_cast<LASignore&>(layer) = rules;
  layer.set_header(&h);
  layer.set_modification_mask(mask);
  layer.set_description(description);
  layer.new_day = new_day;
  EXPECT_TRUE(layer.start_writing(buffered ? nullptr : &out));
  LASpoint p;
  for (int i = 0; i < 3; i++) EXPECT_TRUE(layer.record(p, p));
  EXPECT_TRUE(layer.done_writing(&out));
  EXPECT_EQ(out.tell(), out.size());
  EXPECT_EQ(layer.get_start_position(), 4u);
  EXPECT_EQ(layer.get_size(), U64(out.size() - 4));
  return std::vector<U8>(out.data(), out.data() + out.size());
}

TEST(TierlingRecord, LayoutIsTheSameBufferedOrDirect) {
  LASheader h;
  make_header(h, 2);
  LASignore rules;
  rules.add_class(7);
  rules.add_class(200);
  rules.set_flags(LASignore::WITHHELD);
  const std::vector<U8> direct = write_probe(h, false, 0x30, rules, "trevalon -i a.las -otrl");
  const std::vector<U8> buffered = write_probe(h, true, 0x30, rules, "trevalon -i a.las -otrl");
  EXPECT_EQ(direct, buffered);
  // 44 fixed + 64 modifications + 2 class words + 23 description + 2 specialized + 12 data
  ASSERT_EQ(direct.size(), 4u + 44 + 64 + 8 + 23 + 2 + 12);
  EXPECT_EQ(field_at<U64>(direct, 4), direct.size() - 4);
  EXPECT_EQ(field_at<U32>(direct, 4 + 8), trl::kHeader);
  EXPECT_EQ(field_at<U32>(direct, 4 + 20), 0x30u);
  EXPECT_EQ(field_at<U32>(direct, 4 + 24), rules.get_flags());
  EXPECT_EQ(field_at<U32>(direct, 4 + 40), 44u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&direct[4 + 44]), 11), "test system");
  EXPECT_EQ(field_at<U32>(direct, 4 + 108), 1u << 7);
  EXPECT_EQ(field_at<U32>(direct, 4 + 112), 1u << (200 - 192));
}

TEST(TierlingRecord, ModificationsAreRewrittenAfterTheHeaderUpdate) {
  LASheader h;
  make_header(h, 2);
  h.file_creation_day = 5;
  const std::vector<U8> bytes = write_probe(h, false, 0x40, LASignore(), "", 123);
  EXPECT_EQ(field_at<U16>(bytes, 4 + 44), 123);
  EXPECT_EQ(h.file_creation_day, 123);

  // Reading applies them to the reader's header.
  LASheader target;
  ProbeTierling layer;
  layer.set_header(&target);
  ByteStreamInArrayLE in(bytes.data() + 4 + 44, I64(bytes.size() - 4 - 44));
  ASSERT_TRUE(layer.read_layer_header_rest(&in, 4, bytes.size() - 4, 0x40, 0, 0, 44));
  EXPECT_EQ(target.file_creation_day, 123);
  EXPECT_EQ(target.file_creation_year, h.file_creation_year);
}

TEST(TierlingRecord, ReadingRestoresRulesAndDescription) {
  LASheader h;
  make_header(h, 4);
  LASignore rules;
  rules.add_class(3);
  rules.set_flags(LASignore::OVERLAP | LASignore::SINGLE);
  const std::vector<U8> bytes = write_probe(h, false, 0x1010, rules, "made by a test");
  LASheader target;
  ProbeTierling layer;
  layer.set_header(&target);
  ByteStreamInArrayLE in(bytes.data() + 4 + 44, I64(bytes.size() - 4 - 44));
  ASSERT_TRUE(
      layer.read_layer_header_rest(&in, 4, bytes.size() - 4, 0x1010, rules.get_flags(), 14, 44));
  EXPECT_EQ(layer.get_flags(), rules.get_flags());
  EXPECT_EQ(layer.get_class_word(0), 1u << 3);
  EXPECT_EQ(layer.get_description(), "made by a test");
  EXPECT_EQ(target.number_of_point_records, 1000u);
  EXPECT_STREQ(target.system_identifier, "test system");
  ASSERT_TRUE(layer.read_specialized_header(&in));
  EXPECT_EQ(in.tell(), I64(bytes.size() - 4 - 44 - 12));
}

TEST(TierlingRecord, SizesFromTheFileAreCheckedBeforeUse) {
  LASheader h;
  make_header(h, 2);
  const std::vector<U8> bytes = write_probe(h, false, 0x30, LASignore(), "abc");
  const U64 size = bytes.size() - 4;
  struct Case {
    const char* what;
    U64 size;
    U32 description_size;
    U32 header_size;
  } cases[] = {
      {"header size below 44", size, 3, 40},
      {"layer smaller than its header parts", 44 + 64, 3, 44},
      {"description beyond the data", U64(1) << 40, 0xFFFFFFF0u, 44},
      {"header size beyond the data", U64(1) << 40, 3, 0x7FFFFFFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LASheader target;
    make_header(target, 2);
    ProbeTierling layer;
    layer.set_header(&target);
    ByteStreamInArrayLE in(bytes.data() + 4 + 44, I64(bytes.size() - 4 - 44));
    EXPECT_FALSE(
        layer.read_layer_header_rest(&in, 4, c.size, 0x30, 0, c.description_size, c.header_size));
  }
  // A specialized header that declares extra bytes has them skipped; one
  // that declares too few is refused.
  const U8 specialized[] = {6, 0, 9, 9, 9, 9, 0xEE};
  ByteStreamInArrayLE longer(specialized, sizeof(specialized));
  ProbeTierling layer;
  ASSERT_TRUE(layer.read_specialized_header(&longer));
  EXPECT_EQ(longer.tell(), 6);
  const U8 short_one[] = {1, 0};
  ByteStreamInArrayLE shorter(short_one, sizeof(short_one));
  EXPECT_FALSE(layer.read_specialized_header(&shorter));
}

TEST(TierlingRecord, UnknownCodesAreRefused) {
  ByteStreamOutArrayLE out;
  out.put64(46);
  for (U32 v : {999u, 0u, 1u, 0u, 0u, 0u, 0u, 0u, 44u}) out.put32(v);
  out.put16(2);
  LASheader h;
  ByteStreamInArrayLE in(out.data(), out.size());
  EXPECT_EQ(trl::read_tierling(&in, &h), nullptr);
}

TEST(TierlingRecord, DescriptionNamesCodesMasksAndRules) {
  LASignore rules;
  rules.add_class(7);
  rules.set_flags(LASignore::SINGLE | LASignore::FIRST_OF_MANY | LASignore::WITHHELD);
  ProbeTierling layer;
  static_cast<LASignore&>(layer) = rules;
  layer.set_modification_mask(0x30);
  layer.set_description("trevalon -otrl");
  testing::internal::CaptureStderr();
  layer.describe();
  const std::string text = testing::internal::GetCapturedStderr();
  for (const char* line :
       {"  type                       8 (header)\n", "  fields                     0 (all)\n",
        "  compression                1 (none)\n",
        "  modification_mask         48 (system_identifier generating_software)\n",
        "  ignore_mask            18689 -ignore_class 7 -ignore_first -ignore_withheld\n",
        "  modification size         64\n", "  ignore size                4\n",
        "  description size          14\n", "  description           trevalon -otrl\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "in\n" << text;
  }
}

}  // namespace
