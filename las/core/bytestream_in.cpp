#include "las/core/bytestream_in.hpp"

#include <algorithm>
#include <cstring>

#include "las/core/platform.hpp"

U32 ByteStreamIn::readBits(U32 n) {
  if (bitCount < n) {
    U32 word;
    read32LE(reinterpret_cast<U8*>(&word));
    bitBuffer |= U64(word) << bitCount;
    bitCount += 32;
  }
  U32 value = U32(bitBuffer & ((U64(1) << n) - 1));
  bitBuffer >>= n;
  bitCount -= n;
  return value;
}

ByteStreamInFile::ByteStreamInFile(FILE* file)
    : file_(file), seekable_(file != stdin && platform::tell(file) >= 0) {}

U32 ByteStreamInFile::readByte() {
  int c = getc(file_);
  if (c == EOF) throw EndOfData();
  count_++;
  return U32(c);
}

void ByteStreamInFile::readBytes(U8* bytes, U32 n) {
  size_t got = fread(bytes, 1, n, file_);
  count_ += I64(got);
  if (got != n) throw EndOfData();
}

void ByteStreamInFile::readReversed(U8* bytes, U32 n) {
  U8 scratch[8];
  readBytes(scratch, n);
  for (U32 i = 0; i < n; i++) bytes[i] = scratch[n - 1 - i];
}

I64 ByteStreamInFile::tell() const {
  return seekable_ ? platform::tell(file_) : count_;
}

bool ByteStreamInFile::seek(I64 position) {
  if (tell() == position) return true;
  if (!seekable_) {
    // A pipe can only move forward, by reading.
    if (position < count_) return false;
    while (count_ < position) {
      if (getc(file_) == EOF) return false;
      count_++;
    }
    return true;
  }
  return platform::seek(file_, position, SEEK_SET);
}

bool ByteStreamInFile::seekEnd(I64 distance) {
  if (!seekable_) return false;
  return platform::seek(file_, -distance, SEEK_END);
}

ByteStreamInArray::ByteStreamInArray(const U8* data, I64 size) {
  init(data, size);
}

void ByteStreamInArray::init(const U8* data, I64 size) {
  data_ = data;
  size_ = data ? std::max<I64>(size, 0) : 0;
  next_ = data_;
  end_ = data_ + size_;
  bitBuffer = 0;
  bitCount = 0;
}

U32 ByteStreamInArray::readByte() {
  if (next_ == end_) throw EndOfData();
  return *next_++;
}

void ByteStreamInArray::readBytes(U8* bytes, U32 n) {
  if (n > size_t(end_ - next_)) throw EndOfData();
  if (n) memcpy(bytes, next_, n);
  next_ += n;
}

void ByteStreamInArray::readReversed(U8* bytes, U32 n) {
  U8 scratch[8];
  readBytes(scratch, n);
  for (U32 i = 0; i < n; i++) bytes[i] = scratch[n - 1 - i];
}

bool ByteStreamInArray::seek(I64 position) {
  if (position < 0 || position > size_) return false;
  next_ = data_ + position;
  return true;
}

bool ByteStreamInArray::seekEnd(I64 distance) {
  if (distance < 0 || distance > size_) return false;
  next_ = end_ - distance;
  return true;
}
