// Binary output to C files, memory or nowhere, in either byte order.
#pragma once

#include <cstdio>
#include <vector>

#include "las/core/types.hpp"

class ByteStreamOut {
 public:
  virtual ~ByteStreamOut() = default;
  // Every write returns false on failure.
  virtual bool writeByte(U8 value) = 0;
  virtual bool writeBytes(const U8* bytes, U32 n) = 0;
  virtual bool write16LE(const U8* bytes) = 0;
  virtual bool write32LE(const U8* bytes) = 0;
  virtual bool write64LE(const U8* bytes) = 0;
  virtual bool write16BE(const U8* bytes) = 0;
  virtual bool write32BE(const U8* bytes) = 0;
  virtual bool write64BE(const U8* bytes) = 0;
  virtual bool isSeekable() const = 0;
  virtual I64 tell() const = 0;
  virtual bool seek(I64 position) = 0;
  virtual bool seekEnd() = 0;

  // LSB-first bit packing into 32-bit little-endian words (1 <= n <= 32).
  bool writeBits(U32 value, U32 n);
  bool flushBits();

  bool put16(U16 v) { return write16LE(reinterpret_cast<const U8*>(&v)); }
  bool put32(U32 v) { return write32LE(reinterpret_cast<const U8*>(&v)); }
  bool put64(U64 v) { return write64LE(reinterpret_cast<const U8*>(&v)); }

 protected:
  U64 bitBuffer = 0;
  U32 bitCount = 0;
};

// Over a C file handle that the creator owns and closes. Streams that cannot
// seek (standard output, pipes) count their bytes for tell().
class ByteStreamOutFile : public ByteStreamOut {
 public:
  explicit ByteStreamOutFile(FILE* file);
  bool writeByte(U8 value) override;
  bool writeBytes(const U8* bytes, U32 n) override;
  bool isSeekable() const override { return seekable_; }
  I64 tell() const override;
  bool seek(I64 position) override;
  bool seekEnd() override;
  FILE* file() const { return file_; }

 protected:
  bool writeReversed(const U8* bytes, U32 n);
  FILE* file_;
  bool seekable_;
  I64 count_ = 0;
};

class ByteStreamOutFileLE : public ByteStreamOutFile {
 public:
  using ByteStreamOutFile::ByteStreamOutFile;
  bool write16LE(const U8* bytes) override { return writeBytes(bytes, 2); }
  bool write32LE(const U8* bytes) override { return writeBytes(bytes, 4); }
  bool write64LE(const U8* bytes) override { return writeBytes(bytes, 8); }
  bool write16BE(const U8* bytes) override { return writeReversed(bytes, 2); }
  bool write32BE(const U8* bytes) override { return writeReversed(bytes, 4); }
  bool write64BE(const U8* bytes) override { return writeReversed(bytes, 8); }
};

// Into an owned, growing buffer.
class ByteStreamOutArray : public ByteStreamOut {
 public:
  explicit ByteStreamOutArray(I64 capacity = 0);
  bool writeByte(U8 value) override;
  bool writeBytes(const U8* bytes, U32 n) override;
  bool isSeekable() const override { return true; }
  I64 tell() const override { return position_; }
  bool seek(I64 position) override;
  bool seekEnd() override;
  const U8* data() const { return buffer_.data(); }
  I64 size() const { return size_; }
  I64 capacity() const { return I64(buffer_.size()); }
  // Hands the written bytes to the caller; the stream starts empty again.
  std::vector<U8> takeData();
  // Forgets the bytes but keeps the capacity.
  void reset();

 protected:
  bool writeReversed(const U8* bytes, U32 n);
  std::vector<U8> buffer_;  // its size is the capacity
  I64 size_ = 0;
  I64 position_ = 0;
};

class ByteStreamOutArrayLE : public ByteStreamOutArray {
 public:
  using ByteStreamOutArray::ByteStreamOutArray;
  bool write16LE(const U8* bytes) override { return writeBytes(bytes, 2); }
  bool write32LE(const U8* bytes) override { return writeBytes(bytes, 4); }
  bool write64LE(const U8* bytes) override { return writeBytes(bytes, 8); }
  bool write16BE(const U8* bytes) override { return writeReversed(bytes, 2); }
  bool write32BE(const U8* bytes) override { return writeReversed(bytes, 4); }
  bool write64BE(const U8* bytes) override { return writeReversed(bytes, 8); }
};

// Counts what would be written.
class ByteStreamOutNil : public ByteStreamOut {
 public:
  bool writeByte(U8) override { return add(1); }
  bool writeBytes(const U8*, U32 n) override { return add(n); }
  bool write16LE(const U8*) override { return add(2); }
  bool write32LE(const U8*) override { return add(4); }
  bool write64LE(const U8*) override { return add(8); }
  bool write16BE(const U8*) override { return add(2); }
  bool write32BE(const U8*) override { return add(4); }
  bool write64BE(const U8*) override { return add(8); }
  bool isSeekable() const override { return true; }
  I64 tell() const override { return count_; }
  bool seek(I64) override { return true; }
  bool seekEnd() override { return true; }

 private:
  bool add(I64 n) {
    count_ += n;
    return true;
  }
  I64 count_ = 0;
};
