// Passes every point read on to standard output as a LAS file.
#pragma once

#include <cstdio>
#include <memory>

#include "las/io/lasreader.hpp"

class LASwriterLAS;

class LASreaderPipeOn : public LASreader {
 public:
  // The output is standard output unless another handle is given.
  explicit LASreaderPipeOn(FILE* output = stdout);
  ~LASreaderPipeOn() override;

  bool open(std::unique_ptr<LASreader> inner);
  LASreader* get_inner() const { return inner.get(); }
  // For another pass; the points of later passes are not written again.
  void reset_counter() { points_read = 0; }
  bool is_writing() const { return writer != nullptr; }

  I32 get_format() const override;
  void set_filter(LASfilter* filter) override;
  void set_transform(LAStransform* transform) override;
  bool inside_none() override;
  bool inside_tile(F32 ll_x, F32 ll_y, F32 size) override;
  bool inside_circle(F64 center_x, F64 center_y, F64 radius) override;
  bool inside_rectangle(F64 min_x, F64 min_y, F64 max_x, F64 max_y) override;
  bool seek(I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(bool close_stream = true) override;

 protected:
  bool fetch_point() override;

 private:
  void take_box();

  FILE* output;
  std::unique_ptr<LASreader> inner;
  std::unique_ptr<LASwriterLAS> writer;
};
