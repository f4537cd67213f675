// Reader for LAS 1.0 to 1.4 and VZK files, and variants that change the
// quantization on the fly.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "las/io/lasreader.hpp"

class LASrecordReader;

class LASreaderLAS : public LASreader {
 public:
  LASreaderLAS();
  ~LASreaderLAS() override;

  bool open(const char* file_name, I32 io_buffer_size = 262144, bool peek_only = false,
            U32 layer_selection = 0xFFFFFFFF);
  // Standard input is accepted; the handle stays the caller's.
  bool open(FILE* file, bool peek_only = false, U32 layer_selection = 0xFFFFFFFF);
  // Reads from a stream the caller keeps owning.
  virtual bool open(ByteStreamIn* stream, bool peek_only = false, U32 layer_selection = 0xFFFFFFFF);
  // Reads from a stream that the reader deletes on close.
  bool open(std::unique_ptr<ByteStreamIn> stream, bool peek_only = false,
            U32 layer_selection = 0xFFFFFFFF);

  I32 get_format() const override;
  bool seek(I64 index) override;
  ByteStreamIn* get_stream() const override { return stream; }
  void close(bool close_stream = true) override;
  const std::string& get_file_name() const { return file_name; }

 protected:
  bool fetch_point() override;

 private:
  bool read_header(bool peek_only);
  bool read_vlrs();
  bool read_evlrs();
  bool read_user_data_after_header(I64 vlr_bytes);
  bool setup_point(U32 layer_selection);
  void find_special_evlrs();
  void drop_unfitting_attributes();
  I64 stream_size();

  FILE* file = nullptr;  // only when opened by name
  std::string file_name;
  ByteStreamIn* stream = nullptr;
  std::unique_ptr<ByteStreamIn> owned_stream;
  std::unique_ptr<LASrecordReader> reader;
  bool checked_end = false;
  bool stopped = false;  // the point data ended early; later reads stay quiet
};

// Shared conversion of coordinates to another quantization, with overflow
// accounting. Axes 0, 1, 2 are x, y, z.
class LASrequantizer {
 public:
  // Per axis: the values asked for (a zero scale means none), the values in
  // effect for the open file, and which of them apply.
  F64 requested_scale[3] = {0, 0, 0};
  F64 requested_offset[3] = {0, 0, 0};
  F64 new_scale[3] = {0, 0, 0};
  F64 new_offset[3] = {0, 0, 0};
  bool rescale_axis[3] = {false, false, false};
  bool reoffset_axis[3] = {false, false, false};
  F64 orig_scale[3] = {0, 0, 0};
  F64 orig_offset[3] = {0, 0, 0};
  I64 overflows = 0;

  // Decides the axes from the header's file values, writes the new ones into
  // it and warns about bounds that would overflow.
  void apply(LASheader& header, bool want_rescale, bool want_reoffset, bool auto_reoffset,
             bool check_for_overflow);
  void convert(LASpoint& point);
  bool active() const;

 private:
  // Converts a stored integer; false when it leaves the 32-bit range.
  bool convert_axis(int axis, I64 value, I64* result) const;
};

class LASreaderLASrescale : public LASreaderLAS {
 public:
  LASreaderLASrescale(F64 x_scale_factor, F64 y_scale_factor, F64 z_scale_factor,
                      bool check_for_overflow = true);
  using LASreaderLAS::open;
  bool open(ByteStreamIn* stream, bool peek_only = false,
            U32 layer_selection = 0xFFFFFFFF) override;
  void close(bool close_stream = true) override;
  I64 get_overflows() const { return requantizer.overflows; }

 protected:
  bool fetch_point() override;
  LASrequantizer requantizer;
  bool check_for_overflow;
};

class LASreaderLASreoffset : public LASreaderLAS {
 public:
  LASreaderLASreoffset(F64 x_offset, F64 y_offset, F64 z_offset);
  // Offsets chosen from the file's bounding box.
  LASreaderLASreoffset();
  using LASreaderLAS::open;
  bool open(ByteStreamIn* stream, bool peek_only = false,
            U32 layer_selection = 0xFFFFFFFF) override;
  void close(bool close_stream = true) override;
  I64 get_overflows() const { return requantizer.overflows; }

 protected:
  bool fetch_point() override;
  LASrequantizer requantizer;
  bool auto_reoffset;
};

class LASreaderLASrescalereoffset : public LASreaderLAS {
 public:
  LASreaderLASrescalereoffset(F64 x_scale_factor, F64 y_scale_factor, F64 z_scale_factor,
                              F64 x_offset, F64 y_offset, F64 z_offset);
  // New scale factors, offsets chosen from the file's bounding box.
  LASreaderLASrescalereoffset(F64 x_scale_factor, F64 y_scale_factor, F64 z_scale_factor);
  using LASreaderLAS::open;
  bool open(ByteStreamIn* stream, bool peek_only = false,
            U32 layer_selection = 0xFFFFFFFF) override;
  void close(bool close_stream = true) override;
  I64 get_overflows() const { return requantizer.overflows; }

 protected:
  bool fetch_point() override;
  LASrequantizer requantizer;
  bool auto_reoffset;
};
