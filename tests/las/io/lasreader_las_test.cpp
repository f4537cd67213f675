#include "las/io/lasreader_las.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"
#include "las/io/laswriter_las.hpp"
#include "tests/support/las_builder.hpp"
#include "tests/support/test_data.hpp"

namespace {

BuiltRecord record(const char* user_id, U16 id, std::vector<U8> data, const char* d = "") {
  BuiltRecord r;
  r.user_id = user_id;
  r.record_id = id;
  r.description = d;
  r.data = std::move(data);
  return r;
}

U32 u32_of(const std::vector<U8>& b, size_t at) {
  U32 v;
  memcpy(&v, b.data() + at, 4);
  return v;
}

std::vector<U8> geo_keys(U16 declared, U16 present) {
  std::vector<U16> words = {1, 1, 0, declared};
  for (U16 k = 0; k < present; k++) {
    words.insert(words.end(), {U16(1024 + k), 0, 1, 1});
  }
  std::vector<U8> bytes(words.size() * 2);
  memcpy(bytes.data(), words.data(), bytes.size());
  return bytes;
}

// A LAS 1.4 file with user data in and after the header, two VLRs and one EVLR.
LasBuildSpec rich_spec() {
  LasBuildSpec spec;
  spec.version_minor = 4;
  spec.point_type = 6;
  spec.num_points = 5;
  spec.user_data_in_header = {1, 2, 3, 4};
  spec.user_data_after_header = {7, 8, 9};
  spec.vlrs.push_back(record("LASF_Projection", 34735, geo_keys(2, 2), "keys"));
  spec.vlrs.push_back(record("someone", 42, std::vector<U8>(10, 0x5A)));
  spec.evlrs.push_back(record("another", 7, std::vector<U8>(12, 0xA5), "evlr"));
  return spec;
}

struct Opened {
  bool ok;
  std::string err;
};

Opened open_bytes(LASreaderLAS& reader, const std::vector<U8>& bytes) {
  testing::internal::CaptureStderr();
  const bool ok =
      reader.open(std::make_unique<ByteStreamInArrayLE>(bytes.data(), I64(bytes.size())));
  return {ok, testing::internal::GetCapturedStderr()};
}

// Where each stored field of the rich file begins, and what a file cut
// inside it must report.
struct FieldSpan {
  size_t begin, end;
  std::string err;
};

std::vector<FieldSpan> rich_layout(const LasBuildSpec& spec, size_t file_size) {
  std::vector<FieldSpan> spans;
  size_t at = 0;
  auto add = [&](size_t n, const std::string& err) {
    spans.push_back({at, at + n, "ERROR: " + err + "\n"});
    at += n;
  };
  const std::pair<const char*, size_t> first[] = {
      {"file_signature", 4},         {"file_source_ID", 2},
      {"global_encoding", 2},        {"project_ID_GUID_data_1", 4},
      {"project_ID_GUID_data_2", 2}, {"project_ID_GUID_data_3", 2},
      {"project_ID_GUID_data_4", 8}, {"version_major", 1},
      {"version_minor", 1},          {"system_identifier", 32},
      {"generating_software", 32},   {"file_creation_day", 2},
      {"file_creation_year", 2},     {"header_size", 2},
      {"offset_to_point_data", 4},   {"number_of_variable_length_records", 4},
      {"point_data_format", 1},      {"point_data_record_length", 2},
      {"number_of_point_records", 4}};
  for (const auto& f : first) add(f.second, std::string("reading header.") + f.first);
  for (int i = 0; i < 5; i++) {
    add(4, "reading header.number_of_points_by_return " + std::to_string(i));
  }
  const char* doubles[] = {"x_scale_factor", "y_scale_factor", "z_scale_factor", "x_offset",
                           "y_offset",       "z_offset",       "max_x",          "min_x",
                           "max_y",          "min_y",          "max_z",          "min_z"};
  for (const char* f : doubles) add(8, std::string("reading header.") + f);
  add(8, "reading header.start_of_waveform_data_packet_record");
  add(8, "reading header.start_of_first_extended_variable_length_record");
  add(4, "reading header.number_of_extended_variable_length_records");
  add(8, "reading header.extended_number_of_point_records");
  for (int i = 0; i < 15; i++) {
    add(8, "reading header.extended_number_of_points_by_return[" + std::to_string(i) + "]");
  }
  add(spec.user_data_in_header.size(), "reading " +
                                           std::to_string(spec.user_data_in_header.size()) +
                                           " bytes of data into header.user_data_in_header");
  for (size_t v = 0; v < spec.vlrs.size(); v++) {
    const std::string p = "reading header.vlrs[" + std::to_string(v) + "].";
    add(2, p + "reserved");
    add(16, p + "user_id");
    add(2, p + "record_id");
    add(2, p + "record_length_after_header");
    add(32, p + "description");
    const size_t n = spec.vlrs[v].data.size();
    add(n, "reading " + std::to_string(n) + " bytes of data into header.vlrs[" + std::to_string(v) +
               "].data");
  }
  add(spec.user_data_after_header.size(), "reading " +
                                              std::to_string(spec.user_data_after_header.size()) +
                                              " bytes of data into header.user_data_after_header");
  // Cut inside the points, the EVLRs after them are missing.
  add(size_t(spec.num_points) * 30 + 2, "reading header.evlrs[0].reserved");
  add(16, "reading header.evlrs[0].user_id");
  add(2, "reading header.evlrs[0].record_id");
  add(8, "reading header.evlrs[0].record_length_after_header");
  add(32, "reading header.evlrs[0].description");
  add(spec.evlrs[0].data.size(), "reading 12 bytes of data into header.evlrs[0].data");
  EXPECT_EQ(at, file_size);
  return spans;
}

TEST(LASreaderLAS, ReadsEveryPartOfARichFile) {
  const LasBuildSpec spec = rich_spec();
  const std::vector<U8> bytes = build_las(spec);
  LASreaderLAS reader;
  const Opened o = open_bytes(reader, bytes);
  ASSERT_TRUE(o.ok) << o.err;
  EXPECT_EQ(o.err, "");
  const LASheader& h = reader.header;
  EXPECT_EQ(h.user_data_in_header, spec.user_data_in_header);
  EXPECT_EQ(h.user_data_after_header, spec.user_data_after_header);
  ASSERT_EQ(h.vlrs.size(), 2u);
  EXPECT_EQ(h.vlrs[1].get_user_id(), "someone");
  EXPECT_EQ(h.vlrs[1].data, spec.vlrs[1].data);
  ASSERT_EQ(h.evlrs.size(), 1u);
  EXPECT_EQ(h.evlrs[0].data, spec.evlrs[0].data);
  EXPECT_EQ(h.evlrs[0].get_description(), "evlr");
  ASSERT_EQ(h.geo_key_count, 2u);
  EXPECT_EQ(h.geo_key_entries[1].key_id, 1025);
  EXPECT_EQ(reader.point_count, 5);
  std::vector<U8> expected(30);
  for (I64 i = 0; i < 5; i++) {
    ASSERT_TRUE(reader.read_point());
    fill_record(6, 30, i, expected.data());
    I32 xyz[3];
    memcpy(xyz, expected.data(), 12);
    EXPECT_EQ(reader.point.X, xyz[0]);
    EXPECT_EQ(reader.point.Y, xyz[1]);
    EXPECT_EQ(reader.point.extended_classification, expected[16]);
    EXPECT_EQ(reader.point.extended_return_number, expected[14] & 15);
  }
  EXPECT_FALSE(reader.read_point());
  EXPECT_FALSE(reader.failed());
  EXPECT_FALSE(reader.truncated());
}

TEST(LASreaderLAS, FileCutAtAnyByteFailsWithTheFieldItStopsIn) {
  const LasBuildSpec spec = rich_spec();
  const std::vector<U8> bytes = build_las(spec);
  const std::vector<FieldSpan> spans = rich_layout(spec, bytes.size());
  for (const FieldSpan& span : spans) {
    for (size_t cut = span.begin; cut < span.end; cut++) {
      const std::vector<U8> part(bytes.begin(), bytes.begin() + cut);
      LASreaderLAS reader;
      const Opened o = open_bytes(reader, part);
      EXPECT_FALSE(o.ok) << cut;
      EXPECT_EQ(o.err, span.err) << "cut at " << cut;
    }
  }
}

struct Damage {
  const char* what;
  void (*edit)(LasBuildSpec&);
  void (*poke)(std::vector<U8>&);
  bool opens;
  std::string err;
};

void none(LasBuildSpec&) {}
void keep(std::vector<U8>&) {}

TEST(LASreaderLAS, HostileHeaderValues) {
  const Damage cases[] = {
      {"header size below 227", none, [](std::vector<U8>& b) { put_u16(b, 94, 226); }, false,
       "ERROR: header size is 226 but should be at least 227\n"},
      {"offset below header", none, [](std::vector<U8>& b) { put_u32(b, 96, 100); }, false,
       "ERROR: offset to point data 100 is smaller than header size 227\n"},
      {"signature", none, [](std::vector<U8>& b) { b[3] = 'X'; }, false,
       "ERROR: wrong file signature 'LASX'\n"},
      {"LAS 1.4 with a 1.3 header size", [](LasBuildSpec& s) { s.version_minor = 3; },
       [](std::vector<U8>& b) { b[25] = 4; }, false,
       "ERROR: for LAS 1.4 header_size should at least be 375 but it is only 235\n"},
      {"LAS 1.3 with a 1.2 header size", none, [](std::vector<U8>& b) { b[25] = 3; }, true,
       "WARNING: for LAS 1.3 header_size should at least be 235 but it is only 227\n"},
      {"a million VLRs declared",
       [](LasBuildSpec& s) {
         s.vlrs.push_back(record("someone", 1, {1, 2, 3}));
       },
       [](std::vector<U8>& b) { put_u32(b, 100, 1000000); }, true,
       "WARNING: only 0 bytes until point block after reading 1 of 1000000 vlrs. skipping "
       "remaining vlrs ...\n"},
      {"VLR longer than the room before the points",
       [](LasBuildSpec& s) {
         s.vlrs.push_back(record("someone", 1, {1, 2, 3}));
       },
       [](std::vector<U8>& b) { put_u16(b, 227 + 20, 60000); }, true,
       "WARNING: only 3 bytes until point block when trying to read 60000 bytes into "
       "header.vlrs[0].data\n"},
      {"offset to point data far beyond the file", none,
       [](std::vector<U8>& b) { put_u32(b, 96, 0x7FFFFFF0); }, false,
       "ERROR: reading 2147483405 bytes of data into header.user_data_after_header\n"},
      {"unknown point type", none, [](std::vector<U8>& b) { b[104] = 11; }, false,
       "ERROR: unknown point type 11 with point size 28\n"},
      {"compressed marker without compressor record", none,
       [](std::vector<U8>& b) { b[104] = 0x81; }, false,
       "ERROR: this file was compressed with an experimental version of vorzak\n"
       "       or contact the Quintrel support desk at Borgenfeld GmbH\n"},
      {"record size below base and too few bytes", none,
       [](std::vector<U8>& b) {
         put_u16(b, 105, 10);
         b.resize(227 + 5 * 10);
       },
       false,
       "ERROR: point size 10 is below the 28 bytes of point type 1 and the file cannot hold 5 "
       "points of 28 bytes\n"},
      {"record size below base, the points fit", none,
       [](std::vector<U8>& b) {
         put_u16(b, 105, 10);
         put_u32(b, 107, 4);
       },
       true,
       "WARNING: point size 10 too small by 18 bytes for point type 1. assuming point_size of "
       "28\n"},
      {"tiling record of the wrong size",
       [](LasBuildSpec& s) { s.vlrs.push_back(record("Quintrel", 10, std::vector<U8>(20))); }, keep,
       false, "ERROR: record_length_after_header of VLR Quintrel (10) is 20 instead of 28\n"},
      {"original counts of the wrong size",
       [](LasBuildSpec& s) { s.vlrs.push_back(record("Quintrel", 20, std::vector<U8>(100))); },
       keep, false,
       "ERROR: record_length_after_header of VLR Quintrel (20) is 100 instead of 176\n"},
      {"compressor record shorter than its items",
       [](LasBuildSpec& s) {
         std::vector<U8> p(40, 0);
         put_u16(p, 32, 3);
         s.vlrs.push_back(record("vorzak encoded", 22204, p));
       },
       keep, false, "ERROR: compressor record has 40 bytes but 3 items need 52 (Vorzak v3.4r3)\n"},
      {"compressor items with two extra-bytes blocks",
       [](LasBuildSpec& s) {
         s.record_length = 30;
         // compressor 0, items POINT10, GPSTIME11, BYTE(1), BYTE(1)
         std::vector<U8> p(34 + 24, 0);
         put_u32(p, 12, 50000);
         put_u16(p, 32, 4);
         const U16 items[12] = {6, 20, 0, 7, 8, 0, 0, 1, 0, 0, 1, 0};
         memcpy(p.data() + 34, items, 24);
         s.vlrs.push_back(record("vorzak encoded", 22204, p));
       },
       keep, false, "ERROR: item 3 of the compressor record is an invalid extra bytes item\n"},
  };
  for (const Damage& c : cases) {
    LasBuildSpec spec;
    spec.num_points = 5;
    c.edit(spec);
    std::vector<U8> bytes = build_las(spec);
    c.poke(bytes);
    LASreaderLAS reader;
    const Opened o = open_bytes(reader, bytes);
    EXPECT_EQ(o.ok, c.opens) << c.what;
    EXPECT_EQ(o.err, c.err) << c.what;
    if (o.ok) {
      I64 n = 0;
      while (reader.read_point()) n++;
      EXPECT_EQ(n, reader.point_count) << c.what;
    }
  }
}

TEST(LASreaderLAS, HostileExtendedRecords) {
  const Damage cases[] = {
      {"EVLR start beyond the file", none,
       [](std::vector<U8>& b) { put_u64(b, 235, 1000000000000ull); }, false,
       "ERROR: reading header.evlrs[0].reserved\n"},
      {"EVLR longer than the file", none,
       [](std::vector<U8>& b) { put_u64(b, b.size() - 12 - 32 - 8, ~0ull); }, false,
       "ERROR: reading 18446744073709551615 bytes of data into header.evlrs[0].data\n"},
      {"more EVLRs declared than present", none,
       [](std::vector<U8>& b) { put_u32(b, 243, 4000000000u); }, false,
       "ERROR: reading header.evlrs[1].reserved\n"},
      {"tiling EVLR of the wrong size",
       [](LasBuildSpec& s) { s.evlrs.push_back(record("Quintrel", 10, std::vector<U8>(5))); }, keep,
       false, "ERROR: record_length_after_header of EVLR Quintrel (10) is 5 instead of 28\n"},
      {"geo keys claiming more entries than the record holds",
       [](LasBuildSpec& s) { s.vlrs[0].data = geo_keys(100, 1); }, keep, true,
       "WARNING: GeoKeyDirectoryTag declares 100 keys but its 16 bytes hold only 1\n"},
  };
  for (const Damage& c : cases) {
    LasBuildSpec spec = rich_spec();
    c.edit(spec);
    std::vector<U8> bytes = build_las(spec);
    c.poke(bytes);
    LASreaderLAS reader;
    const Opened o = open_bytes(reader, bytes);
    EXPECT_EQ(o.ok, c.opens) << c.what;
    EXPECT_EQ(o.err, c.err) << c.what;
  }
}

TEST(LASreaderLAS, InternalRecordsAreTakenOutOfTheHeader) {
  LasBuildSpec spec;
  spec.num_points = 3;
  std::vector<U8> grid(28, 0);
  put_u32(grid, 0, 5);
  put_u32(grid, 8, 3 | (1u << 30));
  std::vector<U8> original(176, 0);
  put_u64(original, 0, 77);
  spec.vlrs.push_back(record("Quintrel", 10, grid));
  spec.vlrs.push_back(record("keep me", 1, {1}));
  spec.vlrs.push_back(record("Quintrel", 20, original));
  spec.vlrs.push_back(record("Quintrel", 1999, {2, 2}));
  spec.vlrs.push_back(record("Quintrel", 2000, {3, 3, 3}));
  const std::vector<U8> bytes = build_las(spec);
  LASreaderLAS reader;
  const Opened o = open_bytes(reader, bytes);
  ASSERT_TRUE(o.ok) << o.err;
  const LASheader& h = reader.header;
  ASSERT_EQ(h.vlrs.size(), 2u);
  EXPECT_EQ(h.vlrs[0].get_user_id(), "keep me");
  EXPECT_EQ(h.vlrs[1].record_id, 2000);
  EXPECT_EQ(h.offset_to_point_data, 227u + 54 + 1 + 54 + 3);
  ASSERT_NE(h.vlr_parcelgrid, nullptr);
  EXPECT_EQ(h.vlr_parcelgrid->level, 5u);
  EXPECT_EQ(h.vlr_parcelgrid->implicit_levels, 3u);
  EXPECT_TRUE(h.vlr_parcelgrid->buffer);
  EXPECT_FALSE(h.vlr_parcelgrid->reversible);
  ASSERT_NE(h.vlr_lasoriginal, nullptr);
  EXPECT_EQ(h.vlr_lasoriginal->number_of_point_records, 77);
  I64 n = 0;
  while (reader.read_point()) n++;
  EXPECT_EQ(n, 3);
}

TEST(LASreaderLAS, AttributesThatDoNotFitTheExtraBytesAreDropped) {
  LasBuildSpec spec;
  spec.point_type = 1;
  spec.record_length = 28 + 6;
  spec.num_points = 2;
  LASextraAttribute a(9, "first float", "");
  LASextraAttribute b(9, "second float", "");
  LASextraAttribute c(11, "", "");
  memset(c.name, 'n', 32);  // a full name field without terminator
  std::vector<U8> descriptors(3 * 192);
  memcpy(descriptors.data(), &a, 192);
  memcpy(descriptors.data() + 192, &b, 192);
  memcpy(descriptors.data() + 384, &c, 192);
  spec.vlrs.push_back(record("LASF_Spec", 4, descriptors));
  const std::vector<U8> bytes = build_las(spec);
  LASreaderLAS reader;
  const Opened o = open_bytes(reader, bytes);
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.err,
            "WARNING: data type 11 of attribute 2 ('" + std::string(32, 'n') +
                "') is deprecated\n"
                "WARNING: extra bytes attribute 1 ('second float') ends at byte 8 but points have "
                "only 6 extra bytes. ignoring it and those after it\n");
  EXPECT_EQ(reader.header.number_attributes, 1);
  // The record itself is kept as it was.
  EXPECT_EQ(reader.header.vlrs[0].data.size(), 3u * 192);
  ASSERT_TRUE(reader.read_point());
  F32 v;
  memcpy(&v, reader.point.extra_bytes.data(), 4);
  EXPECT_EQ(reader.header.get_attribute_value(0, reader.point.extra_bytes.data(),
                                              reader.point.extra_bytes_count),
            F64(v));
}

TEST(LASreaderLAS, TruncatedPointDataEndsWithAWarning) {
  TempDir tmp;
  LasBuildSpec spec;
  spec.num_points = 998;
  spec.declared_points = 1000;
  const std::string name = tmp.file("short.las");
  ASSERT_TRUE(write_las_file(name, spec));
  LASreaderLAS reader;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(reader.open(name.c_str()));
  I64 n = 0;
  while (reader.read_point()) n++;
  EXPECT_FALSE(reader.read_point());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: end-of-file after 998 of 1000 points for '" + name + "'\n");
  EXPECT_EQ(n, 998);
  EXPECT_TRUE(reader.truncated());
  EXPECT_FALSE(reader.failed());
}

TEST(LASreaderLAS, PeekAndSeek) {
  LasBuildSpec spec;
  spec.num_points = 20;
  const std::vector<U8> bytes = build_las(spec);
  {
    LASreaderLAS reader;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(
        reader.open(std::make_unique<ByteStreamInArrayLE>(bytes.data(), I64(bytes.size())), true));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(reader.point_count, 20);
    EXPECT_FALSE(reader.read_point());
  }
  LASreaderLAS reader;
  ASSERT_TRUE(open_bytes(reader, bytes).ok);
  EXPECT_FALSE(reader.seek(20));
  ASSERT_TRUE(reader.seek(13));
  ASSERT_TRUE(reader.read_point());
  std::vector<U8> expected(28);
  fill_record(1, 28, 13, expected.data());
  EXPECT_EQ(memcmp(reader.point.point10(), expected.data(), 20), 0);
  EXPECT_EQ(memcmp(&reader.point.gps_time, expected.data() + 20, 8), 0);
  EXPECT_EQ(reader.points_read, 14);
  ASSERT_TRUE(reader.seek(2));
  ASSERT_TRUE(reader.read_point());
  fill_record(1, 28, 2, expected.data());
  EXPECT_EQ(memcmp(reader.point.point10(), expected.data(), 20), 0);
}

// Standard input and pipes cannot seek: the EVLRs are skipped, the points arrive.
TEST(LASreaderLAS, ExtendedRecordsOnAPipeAreSkipped) {
  LasBuildSpec spec = rich_spec();
  spec.evlrs.push_back(record("more", 8, {1, 2}));
  const std::vector<U8> bytes = build_las(spec);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::thread feeder([&] {
    size_t at = 0;
    while (at < bytes.size()) {
      const ssize_t n = write(fds[1], bytes.data() + at, bytes.size() - at);
      if (n <= 0) break;
      at += size_t(n);
    }
    close(fds[1]);
  });
  FILE* in = fdopen(fds[0], "rb");
  ASSERT_NE(in, nullptr);
  {
    LASreaderLAS reader;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(reader.open(in));
    I64 n = 0;
    while (reader.read_point()) n++;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "WARNING: LAS 1.4 file has 2 EVLRs but stream is not seekable ...\n");
    EXPECT_EQ(n, 5);
    EXPECT_TRUE(reader.header.evlrs.empty());
    EXPECT_EQ(reader.header.vlrs.size(), 2u);
    reader.close();
  }
  feeder.join();
  fclose(in);
}

TEST(LASreaderLAS, SharedBadFilesWarnAndDeliverWhatTheyHold) {
  SKIP_WITHOUT_SHARED_DATA(dir);
  struct Case {
    const char* name;
    I64 points;
    std::string err;
  };
  const std::string garbage = dir + "/bad/garbage_nVariableLength.las";
  const Case cases[] = {
      {"bad/bad_vlr_count.las", 10,
       "WARNING: only 0 bytes until point block after reading 2 of 3 vlrs. skipping remaining "
       "vlrs ...\n"},
      {"bad/garbage_nVariableLength.las", 718,
       "WARNING: only 0 bytes until point block after reading 0 of 1069128089 vlrs. skipping "
       "remaining vlrs ...\n"
       "WARNING: end-of-file after 718 of 719 points for '" +
           garbage + "'\n"},
  };
  for (const Case& c : cases) {
    const std::string name = dir + "/" + c.name;
    LASreaderLAS reader;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(reader.open(name.c_str()));
    I64 n = 0;
    while (reader.read_point()) n++;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.name;
    EXPECT_EQ(n, c.points) << c.name;
    EXPECT_FALSE(reader.failed());
  }
}

TEST(LASreaderLAS, OpenFailures) {
  LASreaderLAS reader;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(reader.open(static_cast<const char*>(nullptr)));
  EXPECT_FALSE(reader.open("/nonexistent/dir/file.las"));
  EXPECT_FALSE(reader.open(static_cast<FILE*>(nullptr)));
  EXPECT_FALSE(reader.open(static_cast<ByteStreamIn*>(nullptr)));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: file name pointer is zero\n"
            "ERROR: cannot open file '/nonexistent/dir/file.las' for read\n"
            "ERROR: file pointer is zero\n"
            "ERROR: ByteStreamIn* pointer is zero\n");
  EXPECT_FALSE(reader.read_point());
}

}  // namespace

namespace {

// A compressed copy, in memory, of a built format-1 file.
std::vector<U8> compressed(I64 points, I32 chunk_size) {
  LasBuildSpec spec;
  spec.num_points = points;
  const std::vector<U8> plain = build_las(spec);
  LASreaderLAS reader;
  EXPECT_TRUE(reader.open(std::make_unique<ByteStreamInArrayLE>(plain.data(), I64(plain.size()))));
  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  EXPECT_TRUE(writer.open(&out, &reader.header, 2, 0, chunk_size));
  while (reader.read_point()) writer.write_point(&reader.point);
  writer.close();
  return std::vector<U8>(out.data(), out.data() + out.size());
}

TEST(LASreaderLAS, DamagedCompressedPointsFailTheRead) {
  std::vector<U8> bytes = compressed(1000, 100);
  const U32 offset = u32_of(bytes, las_offset::offset_to_point_data);
  // Scramble the middle of the point data.
  for (size_t i = 0; i < 16; i++) bytes[(offset + bytes.size()) / 2 + i] ^= 0x5A;
  LASreaderLAS reader;
  ASSERT_TRUE(open_bytes(reader, bytes).ok);
  EXPECT_EQ(reader.get_format(), 2);
  testing::internal::CaptureStderr();
  I64 n = 0;
  while (reader.read_point()) n++;
  const std::string err = testing::internal::GetCapturedStderr();
  // The damage lies in the chunk of points 500 to 599; where exactly the
  // decoder notices it is its own business.
  EXPECT_GE(n, 500);
  EXPECT_LT(n, 600);
  const std::string expected = "ERROR: 'chunk with index 5 of 11 is corrupt' after " +
                               std::to_string(n) + " of 1000 points for ''\n";
  EXPECT_EQ(err, expected);
  EXPECT_TRUE(reader.failed());
  EXPECT_FALSE(reader.truncated());
}

TEST(LASreaderLAS, WalkOverCompressorRecordsStaysInsideTheFile) {
  struct Case {
    const char* user_id;
    U16 record_id;
    std::string err;
  };
  const Case cases[] = {
      {"someone", 5, "ERROR: trying to read 1000000 internal EVLRs. ignoring ...\n"},
      {"Quintrel", 30, ""},
  };
  for (const Case& c : cases) {
    std::vector<U8> bytes = compressed(50, -1);
    // One record header of length 0 at the end of the file, then a count
    // that claims a million of them.
    const U64 first = bytes.size();
    bytes.resize(bytes.size() + 60, 0);
    memcpy(bytes.data() + first + 2, c.user_id, strlen(c.user_id));
    put_u16(bytes, first + 18, c.record_id);
    const size_t payload = 227 + 54;
    put_u64(bytes, payload + 16, 1000000);
    put_u64(bytes, payload + 24, first);
    LASreaderLAS reader;
    const Opened o = open_bytes(reader, bytes);
    ASSERT_TRUE(o.ok) << c.user_id;
    EXPECT_EQ(o.err, c.err) << c.user_id;
    I64 n = 0;
    while (reader.read_point()) n++;
    EXPECT_EQ(n, 50);
  }
}

}  // namespace
