// One tile read together with the points of its neighbouring files that lie
// within a buffer distance around it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"
#include "las/io/lasreader.hpp"
#include "las/io/lasreader_las.hpp"

class LASreaderFactory;
class LASreadItemRaw;
class LASwriteItemRaw;

class LASreaderBuffered : public LASreader {
 public:
  LASreaderBuffered();
  ~LASreaderBuffered() override;

  void set_buffer_size(F32 size) { buffer_size = size; }
  // False (after an error) for a name that cannot be opened for reading.
  bool set_file_name(const char* name);
  bool add_neighbor_file_name(const char* name);
  // Passed on to the readers of the tile and of the neighbours.
  void set_scale_factor(const F64* scale);
  void set_offset(const F64* offset);
  void set_auto_reoffset(bool on);
  void set_io_ibuffer_size(I32 size);

  bool open();
  // Starts over; the buffer points stay.
  bool reopen();
  // Drops the buffer points and restores the tile's own counts and box, so
  // that an output header describes the tile alone.
  bool remove_buffer();
  U32 get_buffer_point_count() const { return buffer_points; }

  I32 get_format() const override;
  // Handed to the readers of the tile and of the neighbours.
  void set_filter(LASfilter* filter) override;
  void set_transform(LAStransform* transform) override;
  bool inside_tile(F32 ll_x, F32 ll_y, F32 size) override;
  bool seek(I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(bool close_stream = true) override;

 protected:
  bool fetch_point() override;

 private:
  void pack_point();
  void unpack_point(U32 index);
  // Fits the box into the header's quantization, changing it if needed.
  bool fit_quantization(const F64* mins, const F64* maxs);

  std::unique_ptr<LASreaderFactory> tile_factory;
  std::unique_ptr<LASreaderFactory> neighbor_factory;
  std::unique_ptr<LASreader> tile_reader;
  std::string tile_name;
  std::string first_neighbor;
  F32 buffer_size = 0.0f;

  static constexpr U32 kPointsPerBlock = 10000;
  std::vector<std::unique_ptr<U8[]>> blocks;
  U32 record_size = 0;
  U32 buffer_points = 0;
  U32 buffer_next = 0;
  bool tile_done = false;

  std::vector<std::unique_ptr<LASwriteItemRaw>> packers;
  std::vector<std::unique_ptr<LASreadItemRaw>> unpackers;
  ByteStreamOutArrayLE pack_stream;
  ByteStreamInArrayLE unpack_stream{nullptr, 0};

  // Points of the tile and buffer move into a quantization that holds the
  // enlarged box, when the tile's own does not.
  LASrequantizer requantizer;
  bool requantize = false;
};
