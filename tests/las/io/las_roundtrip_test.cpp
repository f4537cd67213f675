// Real files read and written back: every kept record and every point
// record must come out as it went in.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "las/core/bytestream_in.hpp"
#include "las/core/platform.hpp"
#include "las/io/lasreader_las.hpp"
#include "las/io/laswriter_las.hpp"
#include "tests/support/las_builder.hpp"
#include "tests/support/test_data.hpp"

namespace {

void expect_same_records(const std::vector<LASvlrRecord>& a, const std::vector<LASvlrRecord>& b,
                         const std::string& what) {
  ASSERT_EQ(a.size(), b.size()) << what;
  for (size_t i = 0; i < a.size(); i++) {
    EXPECT_EQ(a[i].reserved, b[i].reserved) << what << i;
    EXPECT_EQ(memcmp(a[i].user_id, b[i].user_id, 16), 0) << what << i;
    EXPECT_EQ(a[i].record_id, b[i].record_id) << what << i;
    EXPECT_EQ(a[i].record_length_after_header, b[i].record_length_after_header) << what << i;
    EXPECT_EQ(memcmp(a[i].description, b[i].description, 32), 0) << what << i;
    EXPECT_EQ(a[i].data, b[i].data) << what << i;
  }
}

// Compares every header field the writer keeps.
void expect_same_header(const LASheader& a, const LASheader& b, const std::string& name) {
  EXPECT_EQ(memcmp(a.file_signature, b.file_signature, 4), 0) << name;
  EXPECT_EQ(a.file_source_ID, b.file_source_ID) << name;
  EXPECT_EQ(a.global_encoding, b.global_encoding) << name;
  EXPECT_EQ(a.project_ID_GUID_data_1, b.project_ID_GUID_data_1) << name;
  EXPECT_EQ(a.project_ID_GUID_data_2, b.project_ID_GUID_data_2) << name;
  EXPECT_EQ(a.project_ID_GUID_data_3, b.project_ID_GUID_data_3) << name;
  EXPECT_EQ(memcmp(a.project_ID_GUID_data_4, b.project_ID_GUID_data_4, 8), 0) << name;
  EXPECT_EQ(a.version_major, b.version_major) << name;
  EXPECT_EQ(a.version_minor, b.version_minor) << name;
  EXPECT_EQ(memcmp(a.system_identifier, b.system_identifier, 32), 0) << name;
  EXPECT_EQ(memcmp(a.generating_software, b.generating_software, 32), 0) << name;
  EXPECT_EQ(a.file_creation_day, b.file_creation_day) << name;
  EXPECT_EQ(a.file_creation_year, b.file_creation_year) << name;
  EXPECT_EQ(a.header_size, b.header_size) << name;
  EXPECT_EQ(a.offset_to_point_data, b.offset_to_point_data) << name;
  EXPECT_EQ(a.number_of_variable_length_records, b.number_of_variable_length_records) << name;
  EXPECT_EQ(a.point_data_format, b.point_data_format) << name;
  EXPECT_EQ(a.point_data_record_length, b.point_data_record_length) << name;
  EXPECT_EQ(a.number_of_point_records, b.number_of_point_records) << name;
  for (int i = 0; i < 5; i++) {
    EXPECT_EQ(a.number_of_points_by_return[i], b.number_of_points_by_return[i]) << name;
  }
  EXPECT_EQ(a.x_scale_factor, b.x_scale_factor) << name;
  EXPECT_EQ(a.y_scale_factor, b.y_scale_factor) << name;
  EXPECT_EQ(a.z_scale_factor, b.z_scale_factor) << name;
  EXPECT_EQ(a.x_offset, b.x_offset) << name;
  EXPECT_EQ(a.y_offset, b.y_offset) << name;
  EXPECT_EQ(a.z_offset, b.z_offset) << name;
  EXPECT_EQ(a.max_x, b.max_x) << name;
  EXPECT_EQ(a.min_x, b.min_x) << name;
  EXPECT_EQ(a.max_y, b.max_y) << name;
  EXPECT_EQ(a.min_y, b.min_y) << name;
  EXPECT_EQ(a.max_z, b.max_z) << name;
  EXPECT_EQ(a.min_z, b.min_z) << name;
  EXPECT_EQ(a.number_of_extended_variable_length_records,
            b.number_of_extended_variable_length_records)
      << name;
  EXPECT_EQ(a.extended_number_of_point_records, b.extended_number_of_point_records) << name;
  for (int i = 0; i < 15; i++) {
    EXPECT_EQ(a.extended_number_of_points_by_return[i], b.extended_number_of_points_by_return[i])
        << name;
  }
  EXPECT_EQ(a.user_data_in_header, b.user_data_in_header) << name;
  EXPECT_EQ(a.user_data_after_header, b.user_data_after_header) << name;
  expect_same_records(a.vlrs, b.vlrs, name + " vlr ");
  expect_same_records(a.evlrs, b.evlrs, name + " evlr ");
}

struct Copy {
  std::string err;
  I64 points = 0;
  bool ok = false;
};

Copy copy_file(const std::string& in, const std::string& out, U32 compressor = 0) {
  Copy c;
  testing::internal::CaptureStderr();
  LASreaderLAS reader;
  if (reader.open(in.c_str())) {
    LASwriterLAS writer;
    if (compressor && reader.header.point_data_format >= 6) compressor = 3;
    if (writer.open(out.c_str(), &reader.header, compressor)) {
      c.ok = true;
      while (reader.read_point()) {
        c.ok = c.ok && writer.write_point(&reader.point);
        c.points++;
      }
      c.ok = c.ok && !reader.failed();
      writer.close();
    }
    reader.close();
  }
  c.err = testing::internal::GetCapturedStderr();
  return c;
}

// The stored point records of a file, as bytes.
std::vector<U8> point_block(const std::vector<U8>& file, const LASheader& h, I64 count) {
  const size_t begin = h.offset_to_point_data;
  const size_t end = std::min(file.size(), begin + size_t(count) * h.point_data_record_length);
  return std::vector<U8>(file.begin() + std::min(begin, file.size()), file.begin() + end);
}

TEST(LASroundTrip, EverySharedFileCopiesExactly) {
  SKIP_WITHOUT_SHARED_DATA(dir);
  TempDir tmp;
  std::vector<std::string> names = platform::glob_files(dir + "/*.las");
  for (const std::string& bad : platform::glob_files(dir + "/bad/*.las")) names.push_back(bad);
  ASSERT_GE(names.size(), 20u);
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string out = tmp.file("copy.las");
    const Copy c = copy_file(name, out);
    ASSERT_TRUE(c.ok) << c.err;
    EXPECT_EQ(c.err.find("ERROR"), std::string::npos) << c.err;

    LASreaderLAS in, copy;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(in.open(name.c_str()));
    ASSERT_TRUE(copy.open(out.c_str()));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(copy.point_count, c.points);
    if (in.point_count == c.points) {
      expect_same_header(in.header, copy.header, name);
    } else {
      // A truncated input: only the count changes.
      LASheader expected;
      expected.copy_from(in.header);
      expected.number_of_point_records = U32(c.points);
      expect_same_header(expected, copy.header, name);
    }
    const std::vector<U8> a = read_bytes_file(name);
    const std::vector<U8> b = read_bytes_file(out);
    const std::vector<U8> points_in = point_block(a, in.header, c.points);
    const std::vector<U8> points_out = point_block(b, copy.header, c.points);
    EXPECT_EQ(points_in.size(), size_t(c.points) * in.header.point_data_record_length);
    EXPECT_TRUE(points_in == points_out);
  }
}

// Files whose header, records and points all survive unchanged come out
// identical to the last byte. Waveform data after the points are not copied,
// so the writer claims none.
TEST(LASroundTrip, ConformingFilesAreByteIdentical) {
  SKIP_WITHOUT_SHARED_DATA(dir);
  TempDir tmp;
  for (const std::string& in : platform::glob_files(dir + "/*.las")) {
    SCOPED_TRACE(in);
    const std::string out = tmp.file("copy.las");
    const Copy c = copy_file(in, out);
    ASSERT_TRUE(c.ok) << c.err;
    std::vector<U8> expected = read_bytes_file(in);
    U64 waveform = 0;
    if (expected[25] >= 3) memcpy(&waveform, &expected[las_offset::start_of_waveform], 8);
    if (waveform) {
      put_u64(expected, las_offset::start_of_waveform, 0);
      expected.resize(waveform);
    }
    EXPECT_TRUE(expected == read_bytes_file(out));
  }
}

// Compressing and decompressing again gives the same file as a plain copy,
// and the compressed file reads back with the header of its source.
TEST(LASroundTrip, CompressedCopiesComeBackIdentical) {
  SKIP_WITHOUT_SHARED_DATA(dir);
  TempDir tmp;
  for (const std::string& in : platform::glob_files(dir + "/*.las")) {
    SCOPED_TRACE(in);
    const Copy plain = copy_file(in, tmp.file("plain.las"));
    const Copy packed = copy_file(in, tmp.file("packed.vzk"), 2);
    ASSERT_TRUE(packed.ok) << packed.err;
    const Copy unpacked = copy_file(tmp.file("packed.vzk"), tmp.file("unpacked.las"));
    ASSERT_TRUE(unpacked.ok) << unpacked.err;
    EXPECT_EQ(unpacked.points, plain.points);
    EXPECT_TRUE(read_bytes_file(tmp.file("plain.las")) ==
                read_bytes_file(tmp.file("unpacked.las")));

    LASreaderLAS source, packed_reader;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(source.open(tmp.file("plain.las").c_str()));
    ASSERT_TRUE(packed_reader.open(tmp.file("packed.vzk").c_str()));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(source.get_format(), 1);
    EXPECT_EQ(packed_reader.get_format(), 2);
    EXPECT_EQ(packed_reader.header.find_vlr("vorzak encoded", 22204), -1);
    expect_same_header(source.header, packed_reader.header, in);
  }
}

}  // namespace
