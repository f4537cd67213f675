// Writer for LAS 1.0 to 1.4 files (and VZK files once compression is asked for).
#pragma once

#include <cstdio>
#include <memory>
#include <vector>

#include "las/io/laswriter.hpp"

class ByteStreamOut;
class ByteStreamOutFileBuffered;
class LASrecordWriter;

class LASwriterLAS : public LASwriter {
 public:
  LASwriterLAS();
  ~LASwriterLAS() override;

  // compressor: 0 none, 2 chunked, 3 layered chunked; requested_version 0 is
  // the default; chunk_size below 0 keeps the default, 0 asks for adaptive chunks.
  bool open(const char* file_name, const LASheader* header, U32 compressor = 0,
            I32 requested_version = 0, I32 chunk_size = -1, I32 io_buffer_size = 262144);
  // Standard output is accepted; the handle stays the caller's.
  bool open(FILE* file, const LASheader* header, U32 compressor = 0, I32 requested_version = 0,
            I32 chunk_size = -1);
  // Measures the size an output would have.
  bool open_nil(const LASheader* header, U32 compressor = 0, I32 requested_version = 0,
                I32 chunk_size = -1);
  // Writes to a stream the caller keeps owning.
  bool open(ByteStreamOut* stream, const LASheader* header, U32 compressor = 0,
            I32 requested_version = 0, I32 chunk_size = -1);
  // Writes to a stream that the writer deletes on close.
  bool open(std::unique_ptr<ByteStreamOut> stream, const LASheader* header, U32 compressor = 0,
            I32 requested_version = 0, I32 chunk_size = -1);

  bool write_point(const LASpoint* point) override;
  bool chunk() override;
  bool update_header(const LASheader* header, bool use_inventory = false,
                     bool update_extra_bytes = false) override;
  I64 close(bool update_npoints = true) override;

  ByteStreamOut* get_stream() const { return stream; }
  // The item list of the records written.
  const std::vector<LASitem>& get_items() const { return items; }
  // Where the data of the original-counts record went (0 without one).
  I64 get_lasoriginal_position() const { return lasoriginal_position; }

 private:
  bool write_header(const LASheader& header, const class Vorzak* config, U8 point_type,
                    U16 record_length);
  bool check_layout(const LASpoint* point);

  FILE* file = nullptr;  // only when opened by name
  ByteStreamOut* stream = nullptr;
  std::unique_ptr<ByteStreamOut> owned_stream;
  ByteStreamOutFileBuffered* buffered = nullptr;  // owned_stream, when opened by name
  std::unique_ptr<LASrecordWriter> writer;
  std::vector<LASitem> items;
  I64 header_start = 0;
  U8 written_version_minor = 2;
  U8 written_point_type = 0;
  U16 written_record_length = 0;
  bool writing_las_1_4 = false;
  bool writing_new_point_type = false;
  U32 written_evlr_count = 0;
  I64 written_evlr_start = 0;
  std::vector<LASvlrRecord> evlrs;  // copied at open, written at close
  I64 lasoriginal_position = 0;
  // The layout of the last point checked against the writer's items.
  const LASpoint* checked_point = nullptr;
  const LASitem* checked_items = nullptr;
};
