#include "las/codec/entropy_coder.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

class EntropyEncoderTestAccess {
 public:
  static void emit(EntropyEncoder& e, U8 byte) { e.emit(byte); }
  static void carry(EntropyEncoder& e) { e.propagateCarry(); }
  static bool finishHeld(EntropyEncoder& e) {
    if (e.hasPending_) e.flushHeld();
    e.hasPending_ = false;
    e.flushBuffer();
    return e.ok_;
  }
};

namespace {

std::vector<U8> bytesOf(const ByteStreamOutArrayLE& out) {
  return std::vector<U8>(out.data(), out.data() + out.size());
}

// The coder as the format describes it, with its 8192-byte ring; used to
// check that the held-byte encoder emits the same bytes.
class RingEncoder {
 public:
  explicit RingEncoder(ByteStreamOut* s) : stream(s), ring(8192) {
    writePos = 0;
    flushAt = 8192;
  }
  void putBit(BitModel& m, U32 bit) {
    U32 x = (range >> 13) * m.prob0;
    if (bit == 0) {
      range = x;
      m.count0++;
    } else {
      U32 old = low;
      low += x;
      range -= x;
      if (low < old) carry();
    }
    if (range < 0x01000000u) renorm();
    if (--m.untilUpdate == 0) m.update();
  }
  void putSymbol(SymbolModel& m, U32 s) {
    U32 r = range >> 15, x = m.cumFreq[s] * r, old = low;
    low += x;
    range = (s == m.highSymbol) ? range - x : m.cumFreq[s + 1] * r - x;
    if (low < old) carry();
    if (range < 0x01000000u) renorm();
    m.counts[s]++;
    if (--m.untilUpdate == 0) m.update();
  }
  void putRawBits(U32 count, U32 v) {
    if (count > 19) {
      putRaw16(U16(v));
      v >>= 16;
      count -= 16;
    }
    range >>= count;
    U32 old = low;
    low += v * range;
    if (low < old) carry();
    if (range < 0x01000000u) renorm();
  }
  void putRaw16(U16 v) {
    range >>= 16;
    U32 old = low;
    low += U32(v) * range;
    if (low < old) carry();
    if (range < 0x01000000u) renorm();
  }
  void finish() {
    U32 old = low;
    bool extra = range > 0x02000000u;
    if (extra) {
      low += 0x01000000u;
      range = 0x00800000u;
    } else {
      low += 0x00800000u;
      range = 0x00008000u;
    }
    if (low < old) carry();
    renorm();
    if (flushAt != 8192) stream->writeBytes(&ring[4096], 4096);
    if (writePos > 0) stream->writeBytes(ring.data(), writePos);
    stream->writeByte(0);
    stream->writeByte(0);
    if (extra) stream->writeByte(0);
  }

 private:
  void carry() {
    size_t p = writePos == 0 ? 8191 : writePos - 1;
    while (ring[p] == 0xFF) {
      ring[p] = 0;
      p = (p == 0) ? 8191 : p - 1;
    }
    ring[p]++;
  }
  void renorm() {
    do {
      ring[writePos++] = U8(low >> 24);
      if (writePos == flushAt) {
        if (writePos == 8192) writePos = 0;
        stream->writeBytes(&ring[writePos], 4096);
        flushAt = writePos + 4096;
      }
      low <<= 8;
      range <<= 8;
    } while (range < 0x01000000u);
  }
  ByteStreamOut* stream;
  std::vector<U8> ring;
  size_t writePos, flushAt;
  U32 low = 0, range = 0xFFFFFFFFu;
};

TEST(EntropyCoder, EmptyStreamIsFourBytes) {
  ByteStreamOutArrayLE out;
  EntropyEncoder enc;
  ASSERT_TRUE(enc.start(&out));
  ASSERT_TRUE(enc.finish());
  EXPECT_EQ(bytesOf(out), (std::vector<U8>{0x01, 0x00, 0x00, 0x00}));
  EXPECT_FALSE(enc.start(nullptr));
  EntropyDecoder dec;
  EXPECT_FALSE(dec.start(nullptr));
}

// One random operation stream, coded by both encoders and decoded again.
struct Op {
  int kind;  // 0 bit, 1 symbol, 2 raw bits, 3 raw16, 4 raw32, 5 raw64
  U32 model;
  U64 value;
  U32 count;
};

std::vector<Op> randomOps(U32 seed, size_t n, const std::vector<U32>& sizes) {
  std::mt19937_64 rng(seed);
  std::vector<Op> ops;
  for (size_t i = 0; i < n; i++) {
    Op op{int(rng() % 6), 0, 0, 0};
    if (op.kind == 0) {
      op.model = U32(rng() % 3);
      // skewed bits give long runs and extreme probabilities
      op.value = (rng() % 100) < (op.model == 0 ? 97u : 40u) ? 0 : 1;
    } else if (op.kind == 1) {
      op.model = U32(rng() % sizes.size());
      const U32 n = sizes[op.model];
      op.value = (rng() % 4) ? rng() % (n < 4 ? n : 4) : rng() % n;
    } else if (op.kind == 2) {
      op.count = 1 + U32(rng() % 32);
      op.value = rng() & (op.count == 32 ? 0xFFFFFFFFull : ((1ull << op.count) - 1));
    } else {
      op.value = rng();
    }
    ops.push_back(op);
  }
  return ops;
}

TEST(EntropyCoder, MatchesTheRingCoderAndDecodesBack) {
  const std::vector<U32> sizes = {2, 3, 16, 17, 100, 256, 2048};
  for (U32 seed : {1u, 2u, 3u}) {
    const std::vector<Op> ops = randomOps(seed, 60000, sizes);
    ByteStreamOutArrayLE ours_out, ring_out;
    EntropyEncoder enc;
    RingEncoder ring(&ring_out);
    ASSERT_TRUE(enc.start(&ours_out));
    std::vector<BitModel> bits(3), ring_bits(3);
    std::vector<SymbolModel> syms, ring_syms;
    for (U32 n : sizes) {
      syms.push_back(enc.makeSymbolModel(n));
      ring_syms.push_back(enc.makeSymbolModel(n));
      ASSERT_EQ(syms.back().reset(), 0);
      ASSERT_EQ(ring_syms.back().reset(), 0);
    }
    for (const Op& op : ops) {
      switch (op.kind) {
        case 0:
          enc.putBit(bits[op.model], U32(op.value));
          ring.putBit(ring_bits[op.model], U32(op.value));
          break;
        case 1:
          enc.putSymbol(syms[op.model], U32(op.value));
          ring.putSymbol(ring_syms[op.model], U32(op.value));
          break;
        case 2:
          enc.putRawBits(op.count, U32(op.value));
          ring.putRawBits(op.count, U32(op.value));
          break;
        case 3:
          enc.putRaw16(U16(op.value));
          ring.putRaw16(U16(op.value));
          break;
        case 4:
          enc.putRaw32(U32(op.value));
          ring.putRaw16(U16(op.value));
          ring.putRaw16(U16(op.value >> 16));
          break;
        default:
          enc.putRaw64(op.value);
          for (int k = 0; k < 4; k++) ring.putRaw16(U16(op.value >> (16 * k)));
          break;
      }
    }
    ASSERT_TRUE(enc.finish());
    ring.finish();
    ASSERT_GT(ours_out.size(), 3 * 8192);
    ASSERT_EQ(bytesOf(ours_out), bytesOf(ring_out)) << "seed " << seed;

    ByteStreamInArrayLE in(ours_out.data(), ours_out.size());
    EntropyDecoder dec;
    ASSERT_TRUE(dec.start(&in));
    std::vector<BitModel> dbits(3);
    std::vector<SymbolModel> dsyms;
    for (U32 n : sizes) {
      dsyms.push_back(dec.makeSymbolModel(n));
      dsyms.back().reset();
    }
    for (size_t i = 0; i < ops.size(); i++) {
      const Op& op = ops[i];
      U64 got;
      switch (op.kind) {
        case 0:
          got = dec.getBit(dbits[op.model]);
          break;
        case 1:
          got = dec.getSymbol(dsyms[op.model]);
          break;
        case 2:
          got = dec.getRawBits(op.count);
          break;
        case 3:
          got = dec.getRaw16();
          break;
        case 4:
          got = dec.getRaw32();
          break;
        default:
          got = dec.getRaw64();
          break;
      }
      const U64 want = op.kind == 3 ? U16(op.value) : op.kind == 4 ? U32(op.value) : op.value;
      ASSERT_EQ(got, want) << "operation " << i << " kind " << op.kind;
    }
    // the decoder consumed the stream exactly
    EXPECT_EQ(in.tell(), ours_out.size());
  }
}

TEST(EntropyCoder, CarryRunsThroughHeldBytesTheRingWouldHaveFlushed) {
  // A carry after 9000 bytes of 0xFF reaches further back than a ring of
  // 8192 bytes keeps; the held-byte encoder still delivers it.
  ByteStreamOutArrayLE out;
  EntropyEncoder enc;
  ASSERT_TRUE(enc.start(&out));
  EntropyEncoderTestAccess::emit(enc, 0x41);
  EntropyEncoderTestAccess::emit(enc, 0x12);
  for (int i = 0; i < 9000; i++) EntropyEncoderTestAccess::emit(enc, 0xFF);
  EntropyEncoderTestAccess::carry(enc);
  EntropyEncoderTestAccess::emit(enc, 0x7F);
  EntropyEncoderTestAccess::emit(enc, 0xFF);
  EntropyEncoderTestAccess::carry(enc);  // reaches back only to the 0x7F
  ASSERT_TRUE(EntropyEncoderTestAccess::finishHeld(enc));
  std::vector<U8> expected = {0x41, 0x13};
  expected.insert(expected.end(), 9000, 0x00);
  expected.push_back(0x80);
  expected.push_back(0x00);
  EXPECT_EQ(bytesOf(out), expected);
}

TEST(EntropyCoder, LookupAndSearchDecodersAgree) {
  std::mt19937 rng(5);
  for (U32 n : {2u, 3u, 15u, 16u, 17u, 31u, 32u, 33u, 64u, 200u, 255u, 256u, 257u, 1000u, 1024u,
                1025u, 2047u, 2048u}) {
    std::vector<U32> symbols;
    for (int i = 0; i < 20000; i++) {
      // skewed, with bursts of the top symbol and of symbol 0
      const U32 r = rng() % 10;
      symbols.push_back(r < 2 ? n - 1 : (r < 4 ? 0 : rng() % (r < 8 ? std::min(n, 8u) : n)));
    }
    ByteStreamOutArrayLE out;
    EntropyEncoder enc;
    enc.start(&out);
    SymbolModel em = enc.makeSymbolModel(n);
    ASSERT_EQ(em.reset(), 0);
    for (U32 s : symbols) enc.putSymbol(em, s);
    enc.finish();
    EXPECT_EQ(em.lookup, nullptr);

    for (bool table : {true, false}) {
      ByteStreamInArrayLE in(out.data(), out.size());
      EntropyDecoder dec;
      dec.start(&in);
      // an encode-only model never has a table, so the decoder searches
      SymbolModel dm = table ? dec.makeSymbolModel(n) : enc.makeSymbolModel(n);
      ASSERT_EQ(dm.reset(), 0);
      EXPECT_EQ(dm.lookup != nullptr, table && n > 16);
      for (size_t i = 0; i < symbols.size(); i++) {
        ASSERT_EQ(dec.getSymbol(dm), symbols[i]) << "n " << n << " table " << table << " at " << i;
      }
    }
  }
}

TEST(EntropyCoder, RawBitsSplitAbove19Bits) {
  for (U32 count = 1; count <= 32; count++) {
    const U32 value = count == 32 ? 0xDEADBEEFu : (0xDEADBEEFu & ((1u << count) - 1));
    ByteStreamOutArrayLE a, b;
    EntropyEncoder ea, eb;
    ea.start(&a);
    ea.putRawBits(count, value);
    ea.finish();
    eb.start(&b);
    if (count > 19) {
      eb.putRaw16(U16(value));
      eb.putRawBits(count - 16, value >> 16);
    } else {
      eb.putRawBits(count, value);
    }
    eb.finish();
    EXPECT_EQ(bytesOf(a), bytesOf(b)) << count;
    ByteStreamInArrayLE in(a.data(), a.size());
    EntropyDecoder dec;
    dec.start(&in);
    EXPECT_EQ(dec.getRawBits(count), value) << count;
  }
}

TEST(EntropyCoder, ModelsStayUsableAfterManyUpdates) {
  // A million equal bits or symbols drive the counts to their limits; the
  // halving must keep every probability non-zero and decodable.
  for (U32 bit : {0u, 1u}) {
    ByteStreamOutArrayLE out;
    EntropyEncoder enc;
    enc.start(&out);
    BitModel m;
    for (int i = 0; i < 1000000; i++) enc.putBit(m, i % 100000 == 0 ? 1 - bit : bit);
    EXPECT_GT(m.prob0, 0u);
    EXPECT_LT(m.prob0, 8192u);
    enc.putBit(m, 1 - bit);
    enc.finish();
    ByteStreamInArrayLE in(out.data(), out.size());
    EntropyDecoder dec;
    dec.start(&in);
    BitModel d;
    for (int i = 0; i < 1000000; i++) ASSERT_EQ(dec.getBit(d), i % 100000 == 0 ? 1 - bit : bit);
    EXPECT_EQ(dec.getBit(d), 1 - bit);
  }
  ByteStreamOutArrayLE out;
  EntropyEncoder enc;
  enc.start(&out);
  SymbolModel m = enc.makeSymbolModel(300);
  m.reset();
  for (int i = 0; i < 1000000; i++) enc.putSymbol(m, 7);
  for (U32 s = 0; s < 300; s++) enc.putSymbol(m, s);
  for (U32 s = 0; s < 300; s++) EXPECT_GE(m.counts[s], 1u);
  for (U32 s = 1; s < 300; s++) EXPECT_GT(m.cumFreq[s], m.cumFreq[s - 1]);
  enc.finish();
  ByteStreamInArrayLE in(out.data(), out.size());
  EntropyDecoder dec;
  dec.start(&in);
  SymbolModel d = dec.makeSymbolModel(300);
  d.reset();
  for (int i = 0; i < 1000000; i++) ASSERT_EQ(dec.getSymbol(d), 7u);
  for (U32 s = 0; s < 300; s++) ASSERT_EQ(dec.getSymbol(d), s);
}

TEST(EntropyCoder, SymbolModelSizeLimits) {
  for (U32 n : {0u, 1u, 2049u}) {
    SymbolModel m(n, false);
    EXPECT_EQ(m.reset(), -1) << n;
  }
  SymbolModel m(2048, false);
  EXPECT_EQ(m.reset(), 0);
  EXPECT_NE(m.lookup, nullptr);
}

TEST(EntropyCoder, CorruptInputThrowsInsteadOfReadingOutOfBounds) {
  // A code beyond the interval (possible only in corrupt data) would index
  // past the lookup table of a large model.
  std::mt19937 rng(1);
  int errors = 0;
  for (int round = 0; round < 50; round++) {
    std::vector<U8> junk(32);
    for (U8& b : junk) b = U8(rng());
    junk[0] = junk[1] = junk[2] = junk[3] = 0xFF;
    ByteStreamInArrayLE in(junk.data(), I64(junk.size()));
    EntropyDecoder dec;
    dec.start(&in);
    SymbolModel m = dec.makeSymbolModel(2 + rng() % 2047);
    m.reset();
    try {
      for (int i = 0; i < 1000; i++) dec.getSymbol(m);
    } catch (const DecodingError& e) {
      EXPECT_EQ(e.code, 4711);
      errors++;
    } catch (const EndOfData&) {
    }
  }
  EXPECT_GT(errors, 0);
  const std::vector<U8> ff(16, 0xFF);
  {
    ByteStreamInArrayLE in(ff.data(), I64(ff.size()));
    EntropyDecoder dec;
    dec.start(&in);
    EXPECT_THROW(dec.getRaw16(), DecodingError);
  }
  {
    // running out of input passes the stream's end-of-data through
    const U8 four[4] = {0x12, 0x34, 0x56, 0x78};
    ByteStreamInArrayLE in(four, 4);
    EntropyDecoder dec;
    dec.start(&in);
    EXPECT_THROW(dec.getRaw32(), EndOfData);
  }
  // random garbage never crashes, whatever the models
  rng.seed(9);
  for (int round = 0; round < 200; round++) {
    std::vector<U8> junk(64);
    for (U8& b : junk) b = U8(rng());
    ByteStreamInArrayLE in(junk.data(), I64(junk.size()));
    EntropyDecoder dec;
    SymbolModel big = dec.makeSymbolModel(1 + 1 + rng() % 2047);
    big.reset();
    BitModel bit;
    try {
      dec.start(&in);
      for (int i = 0; i < 10000; i++) {
        dec.getSymbol(big);
        dec.getBit(bit);
        dec.getRawBits(1 + rng() % 32);
      }
    } catch (const DecodingError&) {
    } catch (const EndOfData&) {
    }
  }
}

}  // namespace
