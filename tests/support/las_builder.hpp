// Builds LAS files byte by byte, independently of the library's writer, so
// that reader tests do not depend on the code they check. Benchmarks and
// other tests reuse it for inputs of any size.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "las/core/types.hpp"

struct BuiltRecord {
  std::string user_id;
  U16 record_id = 0;
  std::string description;
  std::vector<U8> data;
  U16 reserved = 0;
};

struct LasBuildSpec {
  U8 version_minor = 2;
  U8 point_type = 1;
  U16 record_length = 0;     // 0: the base size of the point type
  I64 num_points = 0;        // records stored
  I64 declared_points = -1;  // count written into the header; -1: num_points
  F64 scale[3] = {0.01, 0.01, 0.01};
  F64 offset[3] = {0.0, 0.0, 0.0};
  U16 file_source_ID = 0;
  std::vector<BuiltRecord> vlrs;
  std::vector<BuiltRecord> evlrs;  // LAS 1.4 only; placed after the points
  std::vector<U8> user_data_in_header;
  std::vector<U8> user_data_after_header;
  // Fills one stored record (record_length bytes, zeroed); default: fill_record.
  std::function<void(I64 index, U8* record)> fill;
};

// Size of the fixed header fields of a LAS 1.<minor> file.
U16 las_fields_size(U8 version_minor);
U16 las_base_record_length(U8 point_type);
// Deterministic record contents that exercise every field of the point type.
void fill_record(U8 point_type, U16 record_length, I64 index, U8* record);
// The file bytes, with counts by return and bounding box taken from the records.
std::vector<U8> build_las(const LasBuildSpec& spec);
// Streams the file to disk without holding it in memory.
bool write_las_file(const std::string& path, const LasBuildSpec& spec);
bool write_bytes_file(const std::string& path, const std::vector<U8>& bytes);
std::vector<U8> read_bytes_file(const std::string& path);

// Offsets of header fields in the stored public header block.
namespace las_offset {
constexpr int header_size = 94;
constexpr int offset_to_point_data = 96;
constexpr int number_of_vlrs = 100;
constexpr int point_data_format = 104;
constexpr int point_data_record_length = 105;
constexpr int number_of_point_records = 107;
constexpr int number_of_points_by_return = 111;
constexpr int x_scale_factor = 131;
constexpr int max_x = 179;
constexpr int start_of_waveform = 227;
constexpr int start_of_first_evlr = 235;
constexpr int number_of_evlrs = 243;
constexpr int extended_number_of_point_records = 247;
}  // namespace las_offset

// Little-endian pokes for damaging headers in tests.
void put_u16(std::vector<U8>& b, size_t at, U16 v);
void put_u32(std::vector<U8>& b, size_t at, U32 v);
void put_u64(std::vector<U8>& b, size_t at, U64 v);
