// Reads arbitrary bytes as a whole LAS or VZK file: header, records, point
// data and seeks. Every failure must be a clean error, and whatever the
// writer makes of a file that opened must read back the same.
//
// The two bytes of file_source_ID steer the run, since the reader never
// looks at them: bits 0-1 pick the reader (memory stream, file by name,
// auto reoffset, rescale with auto reoffset), bit 2 asks for the
// write-and-read-back check; the second byte sizes the file's block buffer.
//
// Seeds come from lasfile_seeds (same build folder), for example:
//   lasfile_seeds /tmp/seeds ../shared/testdata/las
//   lasfile_fuzz -dict=fuzz/lasfile_fuzz.dict -max_len=65536 -close_fd_mask=2
//                -malloc_limit_mb=1024 /tmp/corpus /tmp/seeds
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"
#include "las/core/lasheader.hpp"
#include "las/io/lasreader_las.hpp"
#include "las/io/laswriter_las.hpp"

namespace {

// A damaged count must not make a run slow.
constexpr I64 kMaxPoints = 5000;

volatile F64 sink;  // keeps the reads of views and values from being dropped

// Touches every parsed view with the sizes the header claims for it, so that
// the sanitizers see any view that outruns its record.
void walk_header(const LASheader& h) {
  F64 sum = 0;
  for (U32 i = 0; i < h.geo_key_count; i++) sum += h.geo_key_entries[i].value_offset;
  for (U32 i = 0; i < h.geo_double_params_count; i++) sum += h.geo_double_params[i];
  for (U64 i = 0; i < h.geo_ascii_params_size; i++) sum += h.geo_ascii_params[i];
  for (U64 i = 0; i < h.wkt_math_transform_size; i++) sum += h.wkt_math_transform[i];
  for (U64 i = 0; i < h.wkt_coordinate_system_size; i++) sum += h.wkt_coordinate_system[i];
  for (U32 i = 0; i < h.classification_lookup_count; i++) {
    sum += h.classification_lookup[i].class_number;
  }
  LASvlrWavePacketDescr descr;
  for (U32 i = 0; i < 256; i++) {
    if (h.get_wave_packet_descriptor(i, &descr)) sum += descr.number_of_samples;
  }
  for (const LASvlrRecord& r : h.vlrs) sum += r.data.empty() ? 0 : r.data.back();
  for (const LASvlrRecord& r : h.evlrs) sum += r.data.empty() ? 0 : r.data.back();
  sink = sum;
}

// Decodes every attribute of the point; the reader has dropped those that do
// not fit the extra bytes.
void walk_point(const LASreader& reader) {
  const LASpoint& p = reader.point;
  const LASheader& h = reader.header;
  F64 sum = p.get_x() + p.get_y() + p.get_z() + p.gps_time;
  for (I32 i = 0; i < h.number_attributes; i++) {
    if (h.attribute_starts[size_t(i)] + h.attribute_sizes[size_t(i)] > p.extra_bytes_count) {
      __builtin_trap();
    }
    sum += h.get_attribute_value(i, p.extra_bytes.data(), p.extra_bytes_count);
  }
  sink = sum;
}

// What a point carries, for comparing a point with its copy read back.
struct Image {
  I32 xyz[3];
  U16 intensity;
  F64 gps_time;
  U16 rgb[4];
  std::vector<U8> extra;
  bool operator==(const Image& o) const {
    return memcmp(xyz, o.xyz, sizeof(xyz)) == 0 && intensity == o.intensity &&
           memcmp(&gps_time, &o.gps_time, sizeof(gps_time)) == 0 &&
           memcmp(rgb, o.rgb, sizeof(rgb)) == 0 && extra == o.extra;
  }
};

Image image_of(const LASpoint& p) {
  return Image{{p.X, p.Y, p.Z},
               p.intensity,
               p.gps_time,
               {p.rgb[0], p.rgb[1], p.rgb[2], p.rgb[3]},
               p.extra_bytes};
}

// Reads up to the cap (handing each point to `each`), then seeks into the
// middle, back to the start and to the last point, reading a little after each.
template <typename Each>
void read_all(LASreader& reader, Each each) {
  walk_header(reader.header);
  for (I64 n = 0; n < kMaxPoints && reader.read_point(); n++) {
    walk_point(reader);
    each(reader.point);
  }
  const I64 count = reader.point_count;
  const I64 targets[3] = {count / 2, 0, count - 1};
  for (I64 target : targets) {
    if (target < 0 || !reader.seek(target)) continue;
    for (int k = 0; k < 3 && reader.read_point(); k++) walk_point(reader);
  }
}

void read_all(LASreader& reader) {
  read_all(reader, [](const LASpoint&) {});
}

// Copies the points read to memory, uncompressed, and reads that back: the
// writer must never produce what the reader refuses or changes.
void write_and_read_back(LASreaderLAS& source) {
  ByteStreamOutArrayLE out;
  std::vector<Image> images;
  {
    LASwriterLAS writer;
    if (!writer.open(&out, &source.header, 0)) {
      read_all(source);
      return;
    }
    bool written = true;
    read_all(source, [&](const LASpoint& p) {
      images.push_back(image_of(p));
      written = written && writer.write_point(&p);
    });
    if (!written || writer.close(true) < 0) return;
  }
  LASreaderLAS copy;
  ByteStreamInArrayLE in(out.data(), I64(out.size()));
  if (!copy.open(&in)) __builtin_trap();
  for (const Image& expected : images) {
    if (!copy.read_point() || !(image_of(copy.point) == expected)) __builtin_trap();
  }
  if (copy.read_point()) __builtin_trap();
  copy.close();
}

std::string scratch_file() {
  return "/dev/shm/lasfile_fuzz_" + std::to_string(getpid()) + ".las";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const U8 mode = size > 5 ? data[4] : 0;
  const U8 buffer_choice = size > 5 ? data[5] : 0;
  const bool round_trip = (mode & 4) != 0;
  ByteStreamInArrayLE in(data, I64(size));

  switch (mode & 3) {
    case 0: {
      LASreaderLAS reader;
      if (!reader.open(&in)) return 0;
      if (round_trip) {
        write_and_read_back(reader);
      } else {
        read_all(reader);
      }
      reader.close();
      break;
    }
    case 1: {
      const std::string name = scratch_file();
      FILE* f = fopen(name.c_str(), "wb");
      if (!f) return 0;
      const bool written = fwrite(data, 1, size, f) == size;
      fclose(f);
      if (written) {
        LASreaderLAS reader;
        if (reader.open(name.c_str(), 4096 + buffer_choice * 61)) {
          read_all(reader);
          reader.close();
        }
      }
      unlink(name.c_str());
      break;
    }
    case 2: {
      LASreaderLASreoffset reader;
      if (reader.open(&in)) {
        read_all(reader);
        reader.close();
      }
      break;
    }
    default: {
      LASreaderLASrescalereoffset reader(0.001, 0.0, 1e-7);
      if (reader.open(&in)) {
        read_all(reader);
        reader.close();
      }
      break;
    }
  }
  return 0;
}
