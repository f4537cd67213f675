// One file read back and rewritten in place.
#pragma once

#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"

class ByteStreamInOutFileLE : public ByteStreamInFileLE, public ByteStreamOutFileLE {
 public:
  explicit ByteStreamInOutFileLE(FILE* file)
      : ByteStreamInFileLE(file), ByteStreamOutFileLE(file) {}
  bool isSeekable() const override { return ByteStreamInFileLE::isSeekable(); }
  I64 tell() const override { return ByteStreamInFileLE::tell(); }
  bool seek(I64 position) override { return ByteStreamInFileLE::seek(position); }
};
