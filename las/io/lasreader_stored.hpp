// Keeps a compressed copy of every point while its inner reader is read once,
// so that the input (standard input, typically) can be read again.
#pragma once

#include <memory>
#include <vector>

#include "las/io/lasreader.hpp"

class ByteStreamInArrayLE;
class ByteStreamOutArrayLE;
class LASreaderLAS;
class LASwriterLAS;

class LASreaderStored : public LASreader {
 public:
  LASreaderStored();
  ~LASreaderStored() override;

  // Takes the inner reader; its points are stored as they are read.
  bool open(std::unique_ptr<LASreader> inner);
  // Starts another pass over the stored points. Points the inner reader has
  // not delivered yet are read and stored first.
  bool reopen();
  // The reader delivering points now: the inner one during the first pass.
  LASreader* get_current() const;
  bool is_storing() const { return inner != nullptr; }
  // Bytes of compressed points held.
  I64 get_stored_bytes() const;

  I32 get_format() const override { return format; }
  void set_filter(LASfilter* filter) override;
  void set_transform(LAStransform* transform) override;
  bool inside_none() override;
  bool inside_tile(F32 ll_x, F32 ll_y, F32 size) override;
  bool inside_circle(F64 center_x, F64 center_y, F64 radius) override;
  bool inside_rectangle(F64 min_x, F64 min_y, F64 max_x, F64 max_y) override;
  bool seek(I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  // While storing, the inner reader stays open so that reopen() can finish
  // storing it.
  void close(bool close_stream = true) override;

 protected:
  bool fetch_point() override;

 private:
  bool store_point();
  bool finish_storing();
  void take_box_from(const LASreader* from);

  std::unique_ptr<LASreader> inner;
  std::unique_ptr<ByteStreamOutArrayLE> out_array;
  std::unique_ptr<LASwriterLAS> writer;
  std::vector<U8> stored;
  std::unique_ptr<ByteStreamInArrayLE> in_array;
  std::unique_ptr<LASreaderLAS> memory;
  I32 format = 1;
  bool store_failed = false;
};
