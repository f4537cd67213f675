#include "las/io/bytestream_buffered.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <numeric>
#include <thread>

#include "tests/support/las_builder.hpp"
#include "tests/support/test_data.hpp"

namespace {

std::vector<U8> pattern(size_t n) {
  std::vector<U8> v(n);
  for (size_t i = 0; i < n; i++) v[i] = U8(i * 7 + i / 251);
  return v;
}

TEST(ByteStreamInFileBuffered, ReadsSeeksAndTellsAcrossBlocks) {
  TempDir tmp;
  const std::vector<U8> data = pattern(10000);
  ASSERT_TRUE(write_bytes_file(tmp.file("in"), data));
  FILE* f = fopen(tmp.file("in").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  {
    ByteStreamInFileBuffered s(f, 4096);
    EXPECT_TRUE(s.isSeekable());
    std::vector<U8> got(10000);
    // Small reads straddling the block edge, then one read bigger than a block.
    size_t at = 0;
    for (U32 n : {20u, 8u, 4000u, 100u, 5000u}) {
      s.readBytes(got.data() + at, n);
      at += n;
      EXPECT_EQ(s.tell(), I64(at));
    }
    EXPECT_EQ(s.readByte(), data[at]);
    at++;
    s.readBytes(got.data() + at, U32(data.size() - at));
    got[9128] = data[9128];  // the byte taken by readByte
    EXPECT_TRUE(got == data);
    EXPECT_THROW(s.readByte(), EndOfData);
    U8 two[2];
    EXPECT_THROW(s.readBytes(two, 2), EndOfData);

    ASSERT_TRUE(s.seek(5));
    U32 v;
    s.read32LE(reinterpret_cast<U8*>(&v));
    EXPECT_EQ(v, U32(data[5] | data[6] << 8 | data[7] << 16 | U32(data[8]) << 24));
    s.read32BE(reinterpret_cast<U8*>(&v));
    EXPECT_EQ(v, U32(data[12] | data[11] << 8 | data[10] << 16 | U32(data[9]) << 24));
    ASSERT_TRUE(s.seek(9999));
    EXPECT_EQ(s.readByte(), data[9999]);
    ASSERT_TRUE(s.seek(3));  // back into an earlier block
    EXPECT_EQ(s.readByte(), data[3]);
    ASSERT_TRUE(s.seekEnd(10));
    EXPECT_EQ(s.tell(), 9990);
    EXPECT_EQ(s.readByte(), data[9990]);
    ASSERT_TRUE(s.skipBytes(8));
    EXPECT_EQ(s.readByte(), data[9999]);
    EXPECT_FALSE(s.seek(-1));
  }
  fclose(f);
}

// The inline byte path shares its position with every other read, in
// memory and over a file, across block edges and up to the end.
TEST(ByteStreamIn, InlineBytesKeepPositionsInStep) {
  TempDir tmp;
  const std::vector<U8> data = pattern(9000);
  ASSERT_TRUE(write_bytes_file(tmp.file("in"), data));
  FILE* f = fopen(tmp.file("in").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  {
    ByteStreamInFileBuffered file(f, 4096);
    ByteStreamInArrayLE array(data.data(), I64(data.size()));
    for (ByteStreamIn* s :
         {static_cast<ByteStreamIn*>(&file), static_cast<ByteStreamIn*>(&array)}) {
      SCOPED_TRACE(s == &file ? "file" : "array");
      ASSERT_TRUE(s->seek(4090));
      for (I64 at = 4090; at < 4100; at++) {  // over the first block edge
        EXPECT_EQ(s->nextByte(), data[size_t(at)]);
        EXPECT_EQ(s->tell(), at + 1);
      }
      U8 four[4];
      s->readBytes(four, 4);
      EXPECT_EQ(four[3], data[4103]);
      EXPECT_EQ(s->nextByte(), data[4104]);
      ASSERT_TRUE(s->seek(17));  // back, then on with the inline path
      EXPECT_EQ(s->nextByte(), data[17]);
      EXPECT_EQ(s->readByte(), data[18]);
      ASSERT_TRUE(s->seekEnd(2));
      EXPECT_EQ(s->nextByte(), data[8998]);
      EXPECT_EQ(s->nextByte(), data[8999]);
      EXPECT_EQ(s->tell(), 9000);
      EXPECT_THROW(s->nextByte(), EndOfData);
    }
  }
  fclose(f);
}

TEST(ByteStreamInFileBuffered, PipeOnlyMovesForward) {
  const std::vector<U8> data = pattern(20000);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::thread feeder([&] {
    size_t at = 0;
    while (at < data.size()) {
      const ssize_t n = write(fds[1], data.data() + at, data.size() - at);
      if (n <= 0) break;
      at += size_t(n);
    }
    close(fds[1]);
  });
  FILE* f = fdopen(fds[0], "rb");
  {
    ByteStreamInFileBuffered s(f, 4096);
    EXPECT_FALSE(s.isSeekable());
    EXPECT_FALSE(s.seekEnd(0));
    EXPECT_EQ(s.readByte(), data[0]);
    ASSERT_TRUE(s.seek(10000));  // skips by reading
    EXPECT_EQ(s.tell(), 10000);
    EXPECT_EQ(s.readByte(), data[10000]);
    EXPECT_FALSE(s.seek(100));   // that block is gone
    ASSERT_TRUE(s.seek(10001));  // where it already is
    EXPECT_FALSE(s.seek(30000));
  }
  feeder.join();
  fclose(f);
}

TEST(ByteStreamOutFileBuffered, WritesPatchesAndTells) {
  TempDir tmp;
  const std::string name = tmp.file("out");
  FILE* f = fopen(name.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::vector<U8> expected;
  {
    ByteStreamOutFileBuffered s(f, 4096);
    EXPECT_TRUE(s.isSeekable());
    const std::vector<U8> big = pattern(9000);
    ASSERT_TRUE(s.writeBytes(big.data(), 100));
    ASSERT_TRUE(s.writeBytes(big.data() + 100, 8900));  // bigger than a block
    ASSERT_TRUE(s.writeByte(0xEE));
    ASSERT_TRUE(s.put32(0x01020304));
    ASSERT_TRUE(s.write32BE(reinterpret_cast<const U8*>("\x01\x02\x03\x04")));
    EXPECT_EQ(s.tell(), 9009);
    ASSERT_TRUE(s.seek(4));
    ASSERT_TRUE(s.put16(0xBEEF));
    EXPECT_EQ(s.tell(), 6);
    ASSERT_TRUE(s.seekEnd());
    EXPECT_EQ(s.tell(), 9009);
    ASSERT_TRUE(s.writeByte(0x11));
    ASSERT_TRUE(s.flush());
    expected = big;
    expected[4] = 0xEF;
    expected[5] = 0xBE;
    expected.insert(expected.end(), {0xEE, 4, 3, 2, 1, 4, 3, 2, 1, 0x11});
  }
  fclose(f);
  EXPECT_TRUE(read_bytes_file(name) == expected);
}

TEST(ByteStreamOutFileBuffered, ReportsAFileThatRefusesBytes) {
  TempDir tmp;
  ASSERT_TRUE(write_bytes_file(tmp.file("ro"), {1, 2, 3}));
  FILE* f = fopen(tmp.file("ro").c_str(), "rb");
  ASSERT_NE(f, nullptr);
  {
    ByteStreamOutFileBuffered s(f, 4096);
    EXPECT_TRUE(s.writeByte(1));  // still in the buffer
    EXPECT_FALSE(s.flush());
    EXPECT_FALSE(s.writeByte(2));
    std::vector<U8> big(5000);
    EXPECT_FALSE(s.writeBytes(big.data(), 5000));
  }
  fclose(f);
}

TEST(ByteStreamOutFileBuffered, PipeCannotSeekBack) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::vector<U8> got;
  std::thread drain([&] {
    U8 block[4096];
    ssize_t n;
    while ((n = read(fds[0], block, sizeof(block))) > 0) got.insert(got.end(), block, block + n);
  });
  FILE* f = fdopen(fds[1], "wb");
  {
    ByteStreamOutFileBuffered s(f, 4096);
    EXPECT_FALSE(s.isSeekable());
    const std::vector<U8> data = pattern(6000);
    ASSERT_TRUE(s.writeBytes(data.data(), 6000));
    EXPECT_EQ(s.tell(), 6000);
    EXPECT_TRUE(s.seek(6000));
    EXPECT_FALSE(s.seek(10));
    EXPECT_TRUE(s.seekEnd());
    EXPECT_TRUE(s.flush());
  }
  fclose(f);
  drain.join();
  close(fds[0]);
  EXPECT_TRUE(got == pattern(6000));
}

}  // namespace
