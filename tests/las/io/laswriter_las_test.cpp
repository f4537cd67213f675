#include "las/io/laswriter_las.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"
#include "las/io/lasreader_las.hpp"
#include "tests/support/las_builder.hpp"

namespace {

void make_header(LASheader& h, U8 minor, U8 type, U32 announced) {
  h.reset();
  h.version_minor = minor;
  h.header_size = LASheader::fields_size(minor);
  h.offset_to_point_data = h.header_size;
  h.point_data_format = type;
  h.point_data_record_length = base_point_size(type);
  if (type >= 6) {
    h.extended_number_of_point_records = announced;
  } else {
    h.number_of_point_records = announced;
  }
}

// Writes n points whose X is its index and whose return is 1 + index % 3.
std::vector<U8> write_points(const LASheader& h, int n, std::string* err = nullptr,
                             LASwriterLAS* keep_open = nullptr) {
  ByteStreamOutArrayLE out;
  LASwriterLAS local;
  LASwriterLAS& writer = keep_open ? *keep_open : local;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(writer.open(&out, &h));
  LASpoint p;
  p.init_layout(&h, h.point_data_format, h.point_data_record_length, &h);
  for (int i = 0; i < n; i++) {
    p.X = i;
    p.Y = -i;
    p.Z = 2 * i;
    p.return_number = U8(1 + i % 3);
    p.extended_return_number = U8(1 + i % 3);
    EXPECT_TRUE(writer.write_point(&p));
    writer.update_inventory(&p);
  }
  if (!keep_open) writer.close();
  const std::string e = testing::internal::GetCapturedStderr();
  if (err) *err = e;
  return std::vector<U8>(out.data(), out.data() + out.size());
}

U32 u32_at(const std::vector<U8>& b, size_t at) {
  U32 v;
  memcpy(&v, b.data() + at, 4);
  return v;
}
U64 u64_at(const std::vector<U8>& b, size_t at) {
  U64 v;
  memcpy(&v, b.data() + at, 8);
  return v;
}
F64 f64_at(const std::vector<U8>& b, size_t at) {
  F64 v;
  memcpy(&v, b.data() + at, 8);
  return v;
}

TEST(LASwriterLAS, CountOfPointsIsPatchedOnClose) {
  LASheader h;
  make_header(h, 2, 1, 12);
  std::string err;
  const std::vector<U8> bytes = write_points(h, 10, &err);
  EXPECT_EQ(err, "WARNING: written 10 points but expected 12 points\n");
  EXPECT_EQ(u32_at(bytes, las_offset::number_of_point_records), 10u);
  EXPECT_EQ(bytes.size(), 227u + 10 * 28);
  LASreaderLAS reader;
  ASSERT_TRUE(reader.open(std::make_unique<ByteStreamInArrayLE>(bytes.data(), I64(bytes.size()))));
  I64 n = 0;
  while (reader.read_point()) EXPECT_EQ(reader.point.X, n++);
  EXPECT_EQ(n, 10);
}

TEST(LASwriterLAS, InventoryUpdatesCountsAndBounds) {
  LASheader h;
  make_header(h, 2, 1, 0);
  h.x_offset = 1000.0;
  LASwriterLAS writer;
  std::vector<U8> bytes;
  {
    ByteStreamOutArrayLE out;
    ASSERT_TRUE(writer.open(&out, &h));
    LASpoint p;
    p.init_layout(&h, 1, 28, &h);
    for (int i = 0; i < 5; i++) {
      p.X = i * 100;
      p.Y = -i;
      p.Z = 7;
      p.return_number = U8(1 + i % 2);
      writer.write_point(&p);
      writer.update_inventory(&p);
    }
    ASSERT_TRUE(writer.update_header(&h, true));
    writer.close();
    bytes.assign(out.data(), out.data() + out.size());
  }
  EXPECT_EQ(u32_at(bytes, las_offset::number_of_point_records), 5u);
  EXPECT_EQ(u32_at(bytes, las_offset::number_of_points_by_return), 3u);
  EXPECT_EQ(u32_at(bytes, las_offset::number_of_points_by_return + 4), 2u);
  EXPECT_EQ(f64_at(bytes, las_offset::max_x), 1000.0 + 4.0);
  EXPECT_EQ(f64_at(bytes, las_offset::max_x + 8), 1000.0);
  EXPECT_EQ(f64_at(bytes, las_offset::max_x + 16), 0.0);
  EXPECT_NEAR(f64_at(bytes, las_offset::max_x + 24), -0.04, 1e-12);
  EXPECT_EQ(f64_at(bytes, las_offset::max_x + 32), 0.07);
}

TEST(LASwriterLAS, InventoryWithoutPointsWritesAZeroBox) {
  LASheader h;
  make_header(h, 2, 0, 0);
  h.x_offset = 500.0;
  h.min_x = 1;
  h.max_x = 2;
  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  ASSERT_TRUE(writer.open(&out, &h));
  ASSERT_TRUE(writer.update_header(&h, true));
  writer.close();
  const std::vector<U8> bytes(out.data(), out.data() + out.size());
  for (int i = 0; i < 6; i++) EXPECT_EQ(f64_at(bytes, las_offset::max_x + 8 * i), 0.0) << i;
}

TEST(LASwriterLAS, NewPointTypesKeepLegacyCountsAtZero) {
  LASheader h;
  make_header(h, 4, 6, 0);
  h.number_of_points_by_return[0] = 9;  // stale legacy values must not survive
  LASwriterLAS writer;
  ByteStreamOutArrayLE out;
  ASSERT_TRUE(writer.open(&out, &h));
  LASpoint p;
  p.init_layout(&h, 6, 30, &h);
  for (int i = 0; i < 4; i++) {
    p.extended_return_number = U8(1 + i);
    writer.write_point(&p);
    writer.update_inventory(&p);
  }
  ASSERT_TRUE(writer.update_header(&h, true));
  writer.close();
  const std::vector<U8> bytes(out.data(), out.data() + out.size());
  for (int i = 0; i < 6; i++)
    EXPECT_EQ(u32_at(bytes, las_offset::number_of_point_records + 4 * i), 0u);
  EXPECT_EQ(u64_at(bytes, las_offset::extended_number_of_point_records), 4u);
  for (int r = 0; r < 4; r++) {
    EXPECT_EQ(u64_at(bytes, las_offset::extended_number_of_point_records + 8 + 8 * r), 1u);
  }
}

// What a pipe delivers, written through a FILE the writer cannot seek in.
std::vector<U8> write_through_pipe(const std::function<void(FILE*)>& write) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  std::vector<U8> got;
  std::thread drain([&] {
    U8 block[4096];
    ssize_t n;
    while ((n = read(fds[0], block, sizeof(block))) > 0) got.insert(got.end(), block, block + n);
  });
  FILE* f = fdopen(fds[1], "wb");
  write(f);
  fclose(f);
  drain.join();
  close(fds[0]);
  return got;
}

// One EVLR of 4 bytes.
void add_tail_evlr(LASheader& h) {
  LASvlrRecord e;
  e.set_user_id("tail");
  e.record_id = 9;
  e.data = {1, 2, 3, 4};
  e.record_length_after_header = 4;
  h.evlrs.push_back(e);
  h.number_of_extended_variable_length_records = 1;
}

TEST(LASwriterLAS, PipeOutputKeepsPositionsRight) {
  LASheader h;
  make_header(h, 4, 6, 3);
  h.add_vlr("someone", 3, std::vector<U8>(5, 1));
  add_tail_evlr(h);
  const std::vector<U8> seekable = write_points(h, 3);
  std::string err;
  const std::vector<U8> piped = write_through_pipe([&](FILE* f) {
    LASwriterLAS writer;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(writer.open(f, &h));
    LASpoint p;
    p.init_layout(&h, 6, 30, &h);
    for (int i = 0; i < 3; i++) {
      p.X = i;
      p.Y = -i;
      p.Z = 2 * i;
      p.extended_return_number = U8(1 + i % 3);
      writer.write_point(&p);
    }
    EXPECT_FALSE(writer.update_header(&h, false));
    EXPECT_EQ(writer.close(), I64(seekable.size()));
    err = testing::internal::GetCapturedStderr();
  });
  EXPECT_EQ(err, "WARNING: stream not seekable. cannot update header.\n");
  EXPECT_TRUE(piped == seekable);
  EXPECT_EQ(u64_at(piped, las_offset::start_of_first_evlr), 375u + 54 + 5 + 3 * 30);
}

// Compressed points through a pipe end where no header can say in advance:
// EVLRs after them could never be found and would hide the chunk table, so
// they are left out with a warning and the file stays readable.
TEST(LASwriterLAS, CompressedPipeOutputLeavesOutEVLRs) {
  LASheader h;
  make_header(h, 4, 6, 3);
  add_tail_evlr(h);
  h.start_of_first_extended_variable_length_record = 12345;
  std::string err;
  const std::vector<U8> piped = write_through_pipe([&](FILE* f) {
    LASwriterLAS writer;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(writer.open(f, &h, 3));
    LASpoint p;
    p.init_layout(&h, 6, 30, &h);
    for (int i = 0; i < 3; i++) {
      p.X = 1000 * i;
      p.extended_return_number = 1;
      writer.write_point(&p);
    }
    writer.close();
    err = testing::internal::GetCapturedStderr();
  });
  EXPECT_EQ(err, "WARNING: stream not seekable. cannot write 1 EVLRs after compressed points.\n");
  EXPECT_EQ(u64_at(piped, las_offset::start_of_first_evlr), 0u);
  ByteStreamInArrayLE in(piped.data(), I64(piped.size()));
  LASreaderLAS reader;
  ASSERT_TRUE(reader.open(&in));
  EXPECT_TRUE(reader.header.evlrs.empty());
  for (int i = 0; i < 3; i++) {
    ASSERT_TRUE(reader.read_point()) << i;
    EXPECT_EQ(reader.point.X, 1000 * i);
  }
  EXPECT_FALSE(reader.read_point());
}

TEST(LASwriterLAS, PipeOutputCannotPatchTheCount) {
  LASheader h;
  make_header(h, 2, 0, 12);
  std::string err;
  const std::vector<U8> piped = write_through_pipe([&](FILE* f) {
    LASwriterLAS writer;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(writer.open(f, &h));
    LASpoint p;
    p.init_layout(&h, 0, 20, &h);
    for (int i = 0; i < 10; i++) writer.write_point(&p);
    writer.close();
    err = testing::internal::GetCapturedStderr();
  });
  EXPECT_EQ(err,
            "WARNING: written 10 points but expected 12 points\n"
            "WARNING: stream not seekable. cannot update header from 12 to 10 points.\n");
  EXPECT_EQ(piped.size(), 227u + 200);
}

TEST(LASwriterLAS, WriterRecordsForTilingAndOriginalCounts) {
  struct Case {
    bool buffer, reversible;
    const char* description;
  };
  const Case cases[] = {{true, true, "tile with buffer , reversible"},
                        {false, false, "tile without buffer "}};
  for (const Case& c : cases) {
    LASheader h;
    make_header(h, 2, 0, 2);
    h.vlr_parcelgrid = std::make_unique<LASvlrParcelgrid>();
    h.vlr_parcelgrid->level = 3;
    h.vlr_parcelgrid->implicit_levels = 7;
    h.vlr_parcelgrid->buffer = c.buffer;
    h.vlr_parcelgrid->reversible = c.reversible;
    h.vlr_parcelgrid->max_y = 2.5f;
    h.number_of_point_records = 2;
    h.save_original();
    const std::vector<U8> bytes = write_points(h, 2);
    EXPECT_EQ(u32_at(bytes, las_offset::offset_to_point_data), 227u + 82 + 230);
    EXPECT_EQ(u32_at(bytes, las_offset::number_of_vlrs), 2u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + 227 + 22)), c.description);
    LASreaderLAS reader;
    ASSERT_TRUE(
        reader.open(std::make_unique<ByteStreamInArrayLE>(bytes.data(), I64(bytes.size()))));
    EXPECT_TRUE(reader.header.vlrs.empty());
    EXPECT_EQ(reader.header.offset_to_point_data, 227u);
    ASSERT_NE(reader.header.vlr_parcelgrid, nullptr);
    EXPECT_EQ(reader.header.vlr_parcelgrid->implicit_levels, 7u);
    EXPECT_EQ(reader.header.vlr_parcelgrid->buffer, c.buffer);
    EXPECT_EQ(reader.header.vlr_parcelgrid->reversible, c.reversible);
    EXPECT_EQ(reader.header.vlr_parcelgrid->max_y, 2.5f);
    ASSERT_NE(reader.header.vlr_lasoriginal, nullptr);
    EXPECT_EQ(reader.header.vlr_lasoriginal->number_of_point_records, 2);
    I64 n = 0;
    while (reader.read_point()) n++;
    EXPECT_EQ(n, 2);
  }
}

TEST(LASwriterLAS, HeaderFieldsItRewrites) {
  struct Case {
    const char* what;
    void (*edit)(LASheader&);
    bool ok;
    std::string err;
  };
  const Case cases[] = {
      {"version major", [](LASheader& h) { h.version_major = 2; }, true,
       "WARNING: unknown version 2.2 (should be 1.0 or 1.1 or 1.2 or 1.3 or 1.4)\n"
       "WARNING: header->version_major is 2. writing 1 instead.\n"},
      {"version minor",
       [](LASheader& h) {
         h.version_minor = 5;
         h.header_size = 375;
         h.offset_to_point_data = 375;
       },
       true,
       "WARNING: unknown version 1.5 (should be 1.0 or 1.1 or 1.2 or 1.3 or 1.4)\n"
       "WARNING: header->version_minor is 5. writing 4 instead.\n"},
      {"waveform start",
       [](LASheader& h) {
         h.version_minor = 3;
         h.header_size = 235;
         h.offset_to_point_data = 235;
         h.start_of_waveform_data_packet_record = 99;
       },
       true, "WARNING: header->start_of_waveform_data_packet_record is 99. writing 0 instead.\n"},
      {"LAS 1.3 header without room for the waveform field",
       [](LASheader& h) { h.version_minor = 3; }, true, ""},
      {"LAS 1.4 header of 1.2 size", [](LASheader& h) { h.version_minor = 4; }, false,
       "ERROR: for LAS 1.4 header_size should at least be 375 but it is only 227\n"},
      {"offset not matching the records", [](LASheader& h) { h.offset_to_point_data = 300; }, false,
       "ERROR: wrote 227 bytes before the point data but offset_to_point_data is 300\n"},
      {"header size not matching its user data",
       [](LASheader& h) {
         h.header_size = 230;
         h.offset_to_point_data = 230;
       },
       false,
       "ERROR: header_size 230 does not hold the 227 bytes of LAS 1.2 fields and 0 bytes of "
       "header->user_data_in_header\n"},
      {"user data size without the bytes",
       [](LASheader& h) {
         h.user_data_after_header_size = 4;
         h.offset_to_point_data += 4;
       },
       false, "ERROR: there should be 4 bytes of data in header->user_data_after_header\n"},
      {"record length below the base size", [](LASheader& h) { h.point_data_record_length = 10; },
       true,
       "WARNING: point size 10 too small by 18 bytes for point type 1. assuming point_size of "
       "28\n"},
      {"compressing a new point type without the layered compressor", nullptr, false,
       "ERROR: point type 6 requires using \"native LAS 1.4 extension\" of Vorzak\n"},
  };
  for (const Case& c : cases) {
    LASheader h;
    make_header(h, 2, 1, 0);
    ByteStreamOutArrayLE out;
    LASwriterLAS writer;
    testing::internal::CaptureStderr();
    bool ok;
    if (c.edit) {
      c.edit(h);
      ok = writer.open(&out, &h);
    } else {
      make_header(h, 4, 6, 0);
      ok = writer.open(&out, &h, 2);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.what;
    EXPECT_EQ(ok, c.ok) << c.what;
    if (!ok) continue;
    writer.close();
    const std::vector<U8> bytes(out.data(), out.data() + out.size());
    EXPECT_EQ(bytes[24], 1) << c.what;
    EXPECT_LE(bytes[25], 4) << c.what;
    EXPECT_EQ(bytes[las_offset::point_data_record_length], 28) << c.what;
    LASreaderLAS reader;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(reader.open(std::make_unique<ByteStreamInArrayLE>(bytes.data(), I64(bytes.size()))))
        << c.what;
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(reader.header.start_of_waveform_data_packet_record, 0u) << c.what;
  }
}

TEST(LASwriterLAS, PointOfAnotherLayoutIsRefused) {
  LASheader h;
  make_header(h, 2, 1, 0);
  ByteStreamOutArrayLE out;
  LASwriterLAS writer;
  ASSERT_TRUE(writer.open(&out, &h));
  LASpoint p;
  p.init_layout(&h, 3, 34, &h);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(writer.write_point(&p));
  LASpoint q;
  q.init_layout(&h, 1, 32, &h);  // extra bytes the records do not have
  EXPECT_FALSE(writer.write_point(&q));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: point with 3 items cannot be written as records of 2 items\n"
            "ERROR: point with 3 items cannot be written as records of 2 items\n");
  LASpoint r;
  r.init_layout(&h, 1, 28, &h);
  EXPECT_TRUE(writer.write_point(&r));
  EXPECT_EQ(writer.points_written, 1);
  writer.close();
}

TEST(LASwriterLAS, NilOutputMeasuresTheFile) {
  LASheader h;
  make_header(h, 2, 3, 7);
  h.add_vlr("someone", 1, std::vector<U8>(33));
  const std::vector<U8> bytes = write_points(h, 7);
  LASwriterLAS writer;
  ASSERT_TRUE(writer.open_nil(&h));
  LASpoint p;
  p.init_layout(&h, 3, 34, &h);
  for (int i = 0; i < 7; i++) writer.write_point(&p);
  EXPECT_EQ(writer.close(), I64(bytes.size()));
}

TEST(LASwriterLAS, ExtraBytesDescriptorsAreRewritten) {
  LASheader h;
  make_header(h, 2, 1, 1);
  h.point_data_record_length = 28 + 4;
  h.add_vlr("first", 1, std::vector<U8>(3));
  h.add_attribute(LASextraAttribute(9, "height", "before"));
  h.update_attributes_vlr();
  LASwriterLAS writer;
  ByteStreamOutArrayLE out;
  ASSERT_TRUE(writer.open(&out, &h));
  LASpoint p;
  p.init_layout(&h, 1, 32, &h);
  writer.write_point(&p);
  // Statistics learned while writing go into the descriptor afterwards.
  h.attributes[0].set_scale(0.5);
  ASSERT_TRUE(writer.update_header(&h, false, true));
  writer.close();
  const std::vector<U8> bytes(out.data(), out.data() + out.size());
  LASreaderLAS reader;
  ASSERT_TRUE(reader.open(std::make_unique<ByteStreamInArrayLE>(bytes.data(), I64(bytes.size()))));
  ASSERT_EQ(reader.header.number_attributes, 1);
  EXPECT_TRUE(reader.header.attributes[0].has_scale());
  EXPECT_EQ(reader.header.attributes[0].scale[0], 0.5);
}

TEST(LASwriterLAS, OpenFailures) {
  LASheader h;
  LASwriterLAS writer;
  ByteStreamOutArrayLE out;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(writer.open(static_cast<const char*>(nullptr), &h));
  EXPECT_FALSE(writer.open("/nonexistent/dir/out.las", &h));
  EXPECT_FALSE(writer.open(static_cast<FILE*>(nullptr), &h));
  EXPECT_FALSE(writer.open(static_cast<ByteStreamOut*>(nullptr), &h));
  EXPECT_FALSE(writer.open(&out, nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: file name pointer is zero\n"
            "ERROR: cannot open file '/nonexistent/dir/out.las' for write\n"
            "ERROR: file pointer is zero\n"
            "ERROR: ByteStreamOut pointer is zero\n"
            "ERROR: LASheader pointer is zero\n");
  LASpoint p;
  EXPECT_FALSE(writer.write_point(&p));
  EXPECT_EQ(writer.close(), 0);
}

}  // namespace
