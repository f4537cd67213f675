// File streams with their own block buffer. Point records move a few bytes
// per call; going through stdio for each of them costs more than the I/O,
// so the LAS reader and writer use these over files they open by name.
#pragma once

#include <cstdio>
#include <vector>

#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"

// Reads ahead in blocks. The FILE must not be moved by anyone else while the
// stream is in use; its position afterwards is undefined.
class ByteStreamInFileBuffered : public ByteStreamIn {
 public:
  ByteStreamInFileBuffered(FILE* file, size_t buffer_size);
  U32 readByte() override {
    if (next_ == end_ && !refill()) throw EndOfData();
    return *next_++;
  }
  void readBytes(U8* bytes, U32 n) override;
  void read16LE(U8* bytes) override { readBytes(bytes, 2); }
  void read32LE(U8* bytes) override { readBytes(bytes, 4); }
  void read64LE(U8* bytes) override { readBytes(bytes, 8); }
  void read16BE(U8* bytes) override { readReversed(bytes, 2); }
  void read32BE(U8* bytes) override { readReversed(bytes, 4); }
  void read64BE(U8* bytes) override { readReversed(bytes, 8); }
  bool isSeekable() const override { return seekable_; }
  I64 tell() const override { return base_ + (next_ - buffer_.data()); }
  bool seek(I64 position) override;
  bool seekEnd(I64 distance = 0) override;

 private:
  bool refill();
  void readReversed(U8* bytes, U32 n);
  // Empties the buffer; base_ must be the stream position then.
  void drop() { next_ = end_ = buffer_.data(); }
  size_t held() const { return size_t(end_ - buffer_.data()); }
  FILE* file_;
  bool seekable_;
  std::vector<U8> buffer_;  // never resized: next_ and end_ point into it
  I64 base_ = 0;            // stream position of buffer_[0]
};

// Collects writes in a block. flush() must succeed before the FILE is
// closed; the destructor flushes too but cannot report a failure.
class ByteStreamOutFileBuffered : public ByteStreamOut {
 public:
  ByteStreamOutFileBuffered(FILE* file, size_t buffer_size);
  ~ByteStreamOutFileBuffered() override;
  bool writeByte(U8 value) override {
    if (failed_ || (len_ == buffer_.size() && !flush())) return false;
    buffer_[len_++] = value;
    return true;
  }
  bool writeBytes(const U8* bytes, U32 n) override;
  bool write16LE(const U8* bytes) override { return writeBytes(bytes, 2); }
  bool write32LE(const U8* bytes) override { return writeBytes(bytes, 4); }
  bool write64LE(const U8* bytes) override { return writeBytes(bytes, 8); }
  bool write16BE(const U8* bytes) override { return writeReversed(bytes, 2); }
  bool write32BE(const U8* bytes) override { return writeReversed(bytes, 4); }
  bool write64BE(const U8* bytes) override { return writeReversed(bytes, 8); }
  bool isSeekable() const override { return seekable_; }
  I64 tell() const override { return base_ + I64(len_); }
  bool seek(I64 position) override;
  bool seekEnd() override;
  // Hands the buffered bytes to the FILE; false if it refuses them.
  bool flush();

 private:
  bool writeReversed(const U8* bytes, U32 n);
  FILE* file_;
  bool seekable_;
  std::vector<U8> buffer_;
  size_t len_ = 0;  // bytes waiting in the buffer
  I64 base_ = 0;    // stream position of buffer_[0]
  bool failed_ = false;
};
