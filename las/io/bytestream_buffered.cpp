#include "las/io/bytestream_buffered.hpp"

#include <algorithm>
#include <cstring>

#include "las/core/platform.hpp"

static size_t usable_size(size_t size) {
  return std::max<size_t>(size, 4096);
}

ByteStreamInFileBuffered::ByteStreamInFileBuffered(FILE* file, size_t buffer_size)
    : file_(file), buffer_(usable_size(buffer_size)) {
  const I64 at = (file != stdin) ? platform::tell(file) : -1;
  seekable_ = at >= 0;
  base_ = seekable_ ? at : 0;
  drop();
}

bool ByteStreamInFileBuffered::refill() {
  base_ += I64(held());
  const size_t got = fread(buffer_.data(), 1, buffer_.size(), file_);
  next_ = buffer_.data();
  end_ = next_ + got;
  return got > 0;
}

void ByteStreamInFileBuffered::readBytes(U8* bytes, U32 n) {
  if (n <= size_t(end_ - next_)) {
    memcpy(bytes, next_, n);
    next_ += n;
    return;
  }
  size_t left = n;
  while (left) {
    if (next_ == end_) {
      // Big reads bypass the buffer.
      if (left >= buffer_.size()) {
        base_ += I64(held());
        drop();
        const size_t got = fread(bytes, 1, left, file_);
        base_ += I64(got);
        if (got != left) throw EndOfData();
        return;
      }
      if (!refill()) throw EndOfData();
    }
    const size_t take = std::min(left, size_t(end_ - next_));
    memcpy(bytes, next_, take);
    next_ += take;
    bytes += take;
    left -= take;
  }
}

void ByteStreamInFileBuffered::readReversed(U8* bytes, U32 n) {
  U8 scratch[8];
  readBytes(scratch, n);
  for (U32 i = 0; i < n; i++) bytes[i] = scratch[n - 1 - i];
}

bool ByteStreamInFileBuffered::seek(I64 position) {
  if (position >= base_ && position <= base_ + I64(held())) {
    next_ = buffer_.data() + (position - base_);
    return true;
  }
  if (!seekable_) {
    // A pipe only moves forward, by reading.
    if (position < tell()) return false;
    while (tell() < position) {
      if (next_ == end_ && !refill()) return false;
      next_ += size_t(std::min<I64>(position - tell(), I64(end_ - next_)));
    }
    return true;
  }
  if (position < 0 || !platform::seek(file_, position, SEEK_SET)) return false;
  base_ = position;
  drop();
  return true;
}

bool ByteStreamInFileBuffered::seekEnd(I64 distance) {
  if (!seekable_ || distance < 0 || !platform::seek(file_, -distance, SEEK_END)) return false;
  const I64 at = platform::tell(file_);
  if (at < 0) return false;
  base_ = at;
  drop();
  return true;
}

ByteStreamOutFileBuffered::ByteStreamOutFileBuffered(FILE* file, size_t buffer_size)
    : file_(file), buffer_(usable_size(buffer_size)) {
  const I64 at = (file != stdout) ? platform::tell(file) : -1;
  seekable_ = at >= 0;
  base_ = seekable_ ? at : 0;
}

ByteStreamOutFileBuffered::~ByteStreamOutFileBuffered() {
  flush();
}

bool ByteStreamOutFileBuffered::flush() {
  if (len_ == 0) return !failed_;
  const size_t want = len_;
  const size_t put = fwrite(buffer_.data(), 1, want, file_);
  base_ += I64(put);
  // Unwritten bytes are dropped so that positions keep matching the file.
  len_ = 0;
  if (put != want) failed_ = true;
  return !failed_;
}

bool ByteStreamOutFileBuffered::writeBytes(const U8* bytes, U32 n) {
  if (failed_) return false;
  if (n <= buffer_.size() - len_) {
    memcpy(buffer_.data() + len_, bytes, n);
    len_ += n;
    return true;
  }
  if (!flush()) return false;
  if (n >= buffer_.size()) {
    const size_t put = fwrite(bytes, 1, n, file_);
    base_ += I64(put);
    if (put != n) failed_ = true;
    return !failed_;
  }
  memcpy(buffer_.data(), bytes, n);
  len_ = n;
  return true;
}

bool ByteStreamOutFileBuffered::writeReversed(const U8* bytes, U32 n) {
  U8 scratch[8];
  for (U32 i = 0; i < n; i++) scratch[i] = bytes[n - 1 - i];
  return writeBytes(scratch, n);
}

bool ByteStreamOutFileBuffered::seek(I64 position) {
  if (!flush()) return false;
  if (!seekable_) return position == base_;
  if (position < 0 || !platform::seek(file_, position, SEEK_SET)) return false;
  base_ = position;
  return true;
}

bool ByteStreamOutFileBuffered::seekEnd() {
  if (!flush()) return false;
  if (!seekable_) return true;
  if (!platform::seek(file_, 0, SEEK_END)) return false;
  const I64 at = platform::tell(file_);
  if (at < 0) return false;
  base_ = at;
  return true;
}
