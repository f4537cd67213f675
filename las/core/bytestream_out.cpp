#include "las/core/bytestream_out.hpp"

#include <cstring>
#include <new>

#include "las/core/platform.hpp"

bool ByteStreamOut::writeBits(U32 value, U32 n) {
  bitBuffer |= U64(value & U32((U64(1) << n) - 1)) << bitCount;
  bitCount += n;
  if (bitCount >= 32) {
    U32 word = U32(bitBuffer);
    bitBuffer >>= 32;
    bitCount -= 32;
    return write32LE(reinterpret_cast<const U8*>(&word));
  }
  return true;
}

bool ByteStreamOut::flushBits() {
  if (bitCount == 0) return true;
  U32 word = U32(bitBuffer);
  bitBuffer = 0;
  bitCount = 0;
  return write32LE(reinterpret_cast<const U8*>(&word));
}

ByteStreamOutFile::ByteStreamOutFile(FILE* file)
    : file_(file), seekable_(file != stdout && platform::tell(file) >= 0) {}

bool ByteStreamOutFile::writeByte(U8 value) {
  if (fputc(value, file_) != value) return false;
  count_++;
  return true;
}

bool ByteStreamOutFile::writeBytes(const U8* bytes, U32 n) {
  size_t put = fwrite(bytes, 1, n, file_);
  count_ += I64(put);
  return put == n;
}

bool ByteStreamOutFile::writeReversed(const U8* bytes, U32 n) {
  U8 scratch[8];
  for (U32 i = 0; i < n; i++) scratch[i] = bytes[n - 1 - i];
  return writeBytes(scratch, n);
}

I64 ByteStreamOutFile::tell() const {
  return seekable_ ? platform::tell(file_) : count_;
}

bool ByteStreamOutFile::seek(I64 position) {
  if (!seekable_) return position == count_;
  return platform::seek(file_, position, SEEK_SET);
}

bool ByteStreamOutFile::seekEnd() {
  if (!seekable_) return true;
  return platform::seek(file_, 0, SEEK_END);
}

ByteStreamOutArray::ByteStreamOutArray(I64 capacity) {
  if (capacity > 0) buffer_.resize(size_t(capacity));
}

bool ByteStreamOutArray::writeByte(U8 value) {
  if (position_ >= capacity()) {
    try {
      buffer_.resize(buffer_.size() + 4096);
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  buffer_[size_t(position_++)] = value;
  if (position_ > size_) size_ = position_;
  return true;
}

bool ByteStreamOutArray::writeBytes(const U8* bytes, U32 n) {
  if (position_ + I64(n) > capacity()) {
    try {
      buffer_.resize(buffer_.size() + n + 4096);
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  if (n) memcpy(buffer_.data() + position_, bytes, n);
  position_ += n;
  if (position_ > size_) size_ = position_;
  return true;
}

bool ByteStreamOutArray::writeReversed(const U8* bytes, U32 n) {
  U8 scratch[8];
  for (U32 i = 0; i < n; i++) scratch[i] = bytes[n - 1 - i];
  return writeBytes(scratch, n);
}

bool ByteStreamOutArray::seek(I64 position) {
  if (position < 0 || position > size_) return false;
  position_ = position;
  return true;
}

bool ByteStreamOutArray::seekEnd() {
  position_ = size_;
  return true;
}

std::vector<U8> ByteStreamOutArray::takeData() {
  std::vector<U8> out;
  out.swap(buffer_);
  out.resize(size_t(size_));
  size_ = 0;
  position_ = 0;
  return out;
}

void ByteStreamOutArray::reset() {
  size_ = 0;
  position_ = 0;
}
