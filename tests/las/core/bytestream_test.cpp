#include <gtest/gtest.h>

#include <cstdio>

#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"

TEST(ByteStream, ByteOrderOfArrayAndFileStreams) {
  const U8 bytes[4] = {1, 2, 3, 4};
  ByteStreamInArrayLE in(bytes, 4);
  U32 v;
  in.read32LE(reinterpret_cast<U8*>(&v));
  EXPECT_EQ(v, 0x04030201u);
  in.seek(0);
  in.read32BE(reinterpret_cast<U8*>(&v));
  EXPECT_EQ(v, 0x01020304u);

  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  fwrite(bytes, 1, 4, f);
  rewind(f);
  ByteStreamInFileBE be(f);
  be.read32LE(reinterpret_cast<U8*>(&v));
  EXPECT_EQ(v, 0x01020304u);
  ASSERT_TRUE(be.seek(0));
  be.read32BE(reinterpret_cast<U8*>(&v));
  EXPECT_EQ(v, 0x04030201u);
  fclose(f);
}

TEST(ByteStream, ShortArrayReadThrowsAndKeepsPosition) {
  const U8 bytes[4] = {1, 2, 3, 4};
  ByteStreamInArrayLE in(bytes, 4);
  ASSERT_TRUE(in.seek(2));
  U8 out[3];
  EXPECT_THROW(in.readBytes(out, 3), EndOfData);
  EXPECT_EQ(in.tell(), 2);
  EXPECT_FALSE(in.seek(5));
  EXPECT_TRUE(in.seekEnd(4));
  EXPECT_EQ(in.tell(), 0);
  EXPECT_FALSE(in.seekEnd(5));
  ByteStreamInArrayLE empty(nullptr, 10);
  EXPECT_EQ(empty.size(), 0);
  EXPECT_THROW(empty.readByte(), EndOfData);
}

TEST(ByteStream, StandardInputIsNotSeekable) {
  ByteStreamInFileLE in(stdin);
  EXPECT_FALSE(in.isSeekable());
  ByteStreamOutFileLE out(stdout);
  EXPECT_FALSE(out.isSeekable());
}

TEST(ByteStream, ArrayGrowthAndRewrite) {
  ByteStreamOutArrayLE a(0);
  ASSERT_TRUE(a.writeByte(7));
  EXPECT_EQ(a.capacity(), 4096);
  ByteStreamOutArrayLE b(0);
  std::vector<U8> block(10000, 1);
  ASSERT_TRUE(b.writeBytes(block.data(), 10000));
  EXPECT_EQ(b.capacity(), 14096);
  ASSERT_TRUE(b.seek(100));
  ASSERT_TRUE(b.put32(0xDEADBEEF));
  ASSERT_TRUE(b.seekEnd());
  EXPECT_EQ(b.size(), 10000);
  EXPECT_EQ(b.tell(), 10000);
  EXPECT_FALSE(b.seek(10001));
  std::vector<U8> taken = b.takeData();
  EXPECT_EQ(taken.size(), 10000u);
  EXPECT_EQ(taken[100], 0xEF);
  EXPECT_EQ(b.size(), 0);
}

TEST(ByteStream, NilCounts) {
  ByteStreamOutNil nil;
  std::vector<U8> header(227), record(20);
  nil.writeBytes(header.data(), 227);
  nil.writeBytes(record.data(), 20);
  nil.writeBytes(record.data(), 20);
  EXPECT_EQ(nil.tell(), 267);
}

TEST(ByteStream, BitsRoundTrip) {
  ByteStreamOutArrayLE out;
  ASSERT_TRUE(out.writeBits(1, 1));
  ASSERT_TRUE(out.writeBits(0, 2));
  ASSERT_TRUE(out.writeBits(5, 3));
  ASSERT_TRUE(out.flushBits());
  ASSERT_EQ(out.size(), 4);
  EXPECT_EQ(out.data()[0] & 0x3F, 0x29);  // 101001
  ByteStreamInArrayLE in(out.data(), out.size());
  EXPECT_EQ(in.readBits(1), 1u);
  EXPECT_EQ(in.readBits(2), 0u);
  EXPECT_EQ(in.readBits(3), 5u);

  // Values crossing a word boundary.
  ByteStreamOutArrayLE out2;
  for (U32 i = 0; i < 10; i++) ASSERT_TRUE(out2.writeBits(0x12345u + i, 20));
  ASSERT_TRUE(out2.flushBits());
  ByteStreamInArrayLE in2(out2.data(), out2.size());
  for (U32 i = 0; i < 10; i++) EXPECT_EQ(in2.readBits(20), 0x12345u + i);
}

TEST(ByteStream, FileInputSeekToCurrentPositionOnPipe) {
  FILE* p = popen("printf abcdef", "r");
  ASSERT_NE(p, nullptr);
  ByteStreamInFileLE in(p);
  EXPECT_FALSE(in.isSeekable());
  EXPECT_EQ(in.readByte(), U32('a'));
  EXPECT_EQ(in.tell(), 1);
  EXPECT_TRUE(in.seek(1));
  EXPECT_TRUE(in.seek(3));  // forward by reading
  EXPECT_EQ(in.readByte(), U32('d'));
  EXPECT_FALSE(in.seek(0));
  pclose(p);
}
