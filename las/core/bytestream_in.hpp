// Binary input from C files and memory, in either byte order.
#pragma once

#include <cstdio>

#include "las/core/types.hpp"

class ByteStreamIn {
 public:
  virtual ~ByteStreamIn() = default;
  // Every read delivers all requested bytes or throws EndOfData.
  virtual U32 readByte() = 0;
  // The same byte as readByte, served inline while the stream has bytes in
  // memory: the arithmetic decoder takes its input one byte at a time.
  U32 nextByte() { return next_ != end_ ? *next_++ : readByte(); }
  virtual void readBytes(U8* bytes, U32 n) = 0;
  virtual void read16LE(U8* bytes) = 0;
  virtual void read32LE(U8* bytes) = 0;
  virtual void read64LE(U8* bytes) = 0;
  virtual void read16BE(U8* bytes) = 0;
  virtual void read32BE(U8* bytes) = 0;
  virtual void read64BE(U8* bytes) = 0;
  virtual bool isSeekable() const = 0;
  virtual I64 tell() const = 0;
  virtual bool seek(I64 position) = 0;
  virtual bool seekEnd(I64 distance = 0) = 0;
  virtual bool skipBytes(U32 n) { return seek(tell() + n); }

  // LSB-first bit unpacking over 32-bit little-endian words (1 <= n <= 32).
  U32 readBits(U32 n);

  // Typed helpers over the LE slots.
  U16 get16() {
    U16 v;
    read16LE(reinterpret_cast<U8*>(&v));
    return v;
  }
  U32 get32() {
    U32 v;
    read32LE(reinterpret_cast<U8*>(&v));
    return v;
  }
  U64 get64() {
    U64 v;
    read64LE(reinterpret_cast<U8*>(&v));
    return v;
  }

 protected:
  U64 bitBuffer = 0;
  U32 bitCount = 0;
  // The bytes in memory that come next, empty for unbuffered streams. A
  // stream that sets them keeps its position in them.
  const U8* next_ = nullptr;
  const U8* end_ = nullptr;
};

// Over a C file handle that the creator owns and closes. Positions of
// streams that cannot seek (standard input, pipes) are counted here.
class ByteStreamInFile : public ByteStreamIn {
 public:
  explicit ByteStreamInFile(FILE* file);
  U32 readByte() override;
  void readBytes(U8* bytes, U32 n) override;
  bool isSeekable() const override { return seekable_; }
  I64 tell() const override;
  bool seek(I64 position) override;
  bool seekEnd(I64 distance = 0) override;
  FILE* file() const { return file_; }

 protected:
  void readReversed(U8* bytes, U32 n);
  FILE* file_;
  bool seekable_;
  I64 count_ = 0;  // bytes consumed, for tell() when not seekable
};

class ByteStreamInFileLE : public ByteStreamInFile {
 public:
  using ByteStreamInFile::ByteStreamInFile;
  void read16LE(U8* bytes) override { readBytes(bytes, 2); }
  void read32LE(U8* bytes) override { readBytes(bytes, 4); }
  void read64LE(U8* bytes) override { readBytes(bytes, 8); }
  void read16BE(U8* bytes) override { readReversed(bytes, 2); }
  void read32BE(U8* bytes) override { readReversed(bytes, 4); }
  void read64BE(U8* bytes) override { readReversed(bytes, 8); }
};

class ByteStreamInFileBE : public ByteStreamInFile {
 public:
  using ByteStreamInFile::ByteStreamInFile;
  void read16LE(U8* bytes) override { readReversed(bytes, 2); }
  void read32LE(U8* bytes) override { readReversed(bytes, 4); }
  void read64LE(U8* bytes) override { readReversed(bytes, 8); }
  void read16BE(U8* bytes) override { readBytes(bytes, 2); }
  void read32BE(U8* bytes) override { readBytes(bytes, 4); }
  void read64BE(U8* bytes) override { readBytes(bytes, 8); }
};

// Over memory the creator owns.
class ByteStreamInArray : public ByteStreamIn {
 public:
  ByteStreamInArray(const U8* data, I64 size);
  void init(const U8* data, I64 size);
  U32 readByte() override;
  void readBytes(U8* bytes, U32 n) override;
  bool isSeekable() const override { return true; }
  I64 tell() const override { return next_ - data_; }
  bool seek(I64 position) override;
  bool seekEnd(I64 distance = 0) override;
  const U8* data() const { return data_; }
  I64 size() const { return size_; }

 protected:
  void readReversed(U8* bytes, U32 n);
  const U8* data_;
  I64 size_;
};

class ByteStreamInArrayLE : public ByteStreamInArray {
 public:
  using ByteStreamInArray::ByteStreamInArray;
  void read16LE(U8* bytes) override { readBytes(bytes, 2); }
  void read32LE(U8* bytes) override { readBytes(bytes, 4); }
  void read64LE(U8* bytes) override { readBytes(bytes, 8); }
  void read16BE(U8* bytes) override { readReversed(bytes, 2); }
  void read32BE(U8* bytes) override { readReversed(bytes, 4); }
  void read64BE(U8* bytes) override { readReversed(bytes, 8); }
};
