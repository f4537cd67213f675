// Chunks, the chunk table, seeking and recovery of compressed record streams.
#include <gtest/gtest.h>

#include <regex>

#include "tests/las/codec/codec_test_util.hpp"

using namespace codec_test;

namespace {

class NonSeekableOut : public ByteStreamOutArrayLE {
 public:
  bool isSeekable() const override { return false; }
};

class NonSeekableIn : public ByteStreamInArrayLE {
 public:
  using ByteStreamInArrayLE::ByteStreamInArrayLE;
  bool isSeekable() const override { return false; }
};

struct Fixture {
  Vorzak config;
  std::vector<Record> records;
  Encoded encoded;
};

// Point type 3 records with 2 extra bytes, version 2.
Fixture makeFixture(U16 compressor, I64 chunk_size, U32 count, U32 endChunkEvery = 0,
                    Pattern pattern = Pattern::Realistic) {
  Fixture f;
  f.config = makeConfig(3, 36, compressor, 2, chunk_size);
  f.records = makeRecords(3, 36, pattern, count, 11);
  f.encoded = encode(f.config.items, &f.config, f.records, endChunkEvery);
  return f;
}

// Reads `count` records, going on after failures; returns each failure's
// text with the index of the record that followed it.
struct Reading {
  std::vector<Record> records;
  std::vector<std::string> errors;
  std::string warning;
  bool configured = true;
};

Reading readAll(const Fixture& f, const std::vector<U8>& bytes, U32 count, U32 maxFailures = 5,
                ByteStreamIn* stream = nullptr) {
  LASscaleOffset so;
  LASpoint p;
  p.init_items(&so, f.config.items, nullptr);
  LASrecordReader reader;
  ByteStreamInArrayLE in(bytes.data(), I64(bytes.size()));
  Reading r;
  if (!reader.configure(U32(f.config.items.size()), f.config.items.data(), &f.config) ||
      !reader.attach(stream ? stream : &in)) {
    r.configured = false;
    return r;
  }
  U32 failures = 0;
  while (r.records.size() < count && failures < maxFailures) {
    if (reader.readRecord(p.item_targets.data())) {
      r.records.push_back(snapshot(p));
    } else {
      r.errors.push_back(reader.errorText());
      failures++;
    }
  }
  r.warning = reader.warningText();
  return r;
}

std::vector<I64> chunkStartsOf(const Fixture& f) {
  LASrecordReader reader;
  ByteStreamInArrayLE in(f.encoded.bytes.data(), I64(f.encoded.bytes.size()));
  LASscaleOffset so;
  LASpoint p;
  p.init_items(&so, f.config.items, nullptr);
  reader.configure(U32(f.config.items.size()), f.config.items.data(), &f.config);
  reader.attach(&in);
  reader.readRecord(p.item_targets.data());
  return reader.chunkStarts();
}

I64 tablePointer(const std::vector<U8>& bytes, size_t at = 0) {
  I64 v;
  memcpy(&v, bytes.data() + at, 8);
  return v;
}

TEST(RecordStream, EmptyStreams) {
  for (I64 chunk : {I64(50000), I64(0)}) {
    const Fixture f = makeFixture(2, chunk, 0);
    ASSERT_TRUE(f.encoded.ok);
    EXPECT_EQ(f.encoded.bytes, (std::vector<U8>{8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    const Reading r = readAll(f, f.encoded.bytes, 1, 1);
    EXPECT_TRUE(r.records.empty());
    EXPECT_EQ(r.errors, std::vector<std::string>{"end-of-file during chunk with index 0"});
  }
  const Fixture pointwise = makeFixture(1, -1, 0);
  ASSERT_TRUE(pointwise.encoded.ok);
  EXPECT_TRUE(pointwise.encoded.bytes.empty());
}

TEST(RecordStream, ChunkTableLayout) {
  const Fixture f = makeFixture(2, 100, 250);
  ASSERT_TRUE(f.encoded.ok);
  const std::vector<I64> starts = chunkStartsOf(f);
  ASSERT_EQ(starts.size(), 4u);
  EXPECT_EQ(starts[0], 8);
  const I64 table = tablePointer(f.encoded.bytes);
  EXPECT_EQ(starts[3], table);
  // version 0, three chunks
  const U8* t = f.encoded.bytes.data() + table;
  EXPECT_EQ(std::vector<U8>(t, t + 8), (std::vector<U8>{0, 0, 0, 0, 3, 0, 0, 0}));
  // every chunk begins with its first record raw
  for (int c = 0; c < 3; c++) {
    const U8* raw = f.encoded.bytes.data() + starts[c];
    EXPECT_EQ(Record(raw, raw + 36), f.records[c * 100]);
  }
}

TEST(RecordStream, NonSeekableOutputAppendsTheTablePosition) {
  const Fixture f = makeFixture(2, 100, 250);
  NonSeekableOut out;
  const Encoded enc = encode(f.config.items, &f.config, f.records, 0, &out);
  ASSERT_TRUE(enc.ok);
  const std::vector<U8> bytes(out.data(), out.data() + out.size());
  EXPECT_EQ(tablePointer(bytes), -1);
  const I64 table = tablePointer(bytes, bytes.size() - 8);
  EXPECT_EQ(table, tablePointer(f.encoded.bytes));
  // the same bytes apart from the two pointers
  std::vector<U8> a = bytes, b = f.encoded.bytes;
  a.resize(a.size() - 8);
  memset(a.data(), 0, 8);
  memset(b.data(), 0, 8);
  EXPECT_EQ(a, b);

  Reading r = readAll(f, bytes, 250);
  EXPECT_TRUE(r.errors.empty());
  EXPECT_EQ(r.records, f.records);

  // a stream that cannot seek reads fixed chunks one after the other
  NonSeekableIn in(f.encoded.bytes.data(), I64(f.encoded.bytes.size()));
  r = readAll(f, f.encoded.bytes, 250, 5, &in);
  EXPECT_TRUE(r.errors.empty());
  EXPECT_EQ(r.records, f.records);

  // but adaptive chunks need the table
  const Fixture adaptive = makeFixture(2, 0, 100, 30);
  NonSeekableIn in2(adaptive.encoded.bytes.data(), I64(adaptive.encoded.bytes.size()));
  r = readAll(adaptive, adaptive.encoded.bytes, 1, 1, &in2);
  EXPECT_TRUE(r.records.empty());
  ASSERT_EQ(r.errors.size(), 1u);
}

TEST(RecordStream, InterruptedWriterLeavesTheTablePointerAtItself) {
  for (I64 chunk : {I64(100), I64(0)}) {
    Fixture f = makeFixture(2, chunk, 0);
    f.records = makeRecords(3, 36, Pattern::Realistic, 250, 11);
    LASscaleOffset so;
    LASpoint p;
    p.init_items(&so, f.config.items, nullptr);
    ByteStreamOutArrayLE out;
    {
      LASrecordWriter writer;
      ASSERT_TRUE(writer.configure(U32(f.config.items.size()), f.config.items.data(), &f.config));
      ASSERT_TRUE(writer.attach(&out));
      for (U32 i = 0; i < 250; i++) {
        restore(p, f.records[i]);
        ASSERT_TRUE(writer.writeRecord(p.item_targets.data()));
        if (chunk == 0 && i % 100 == 99) {
          ASSERT_TRUE(writer.endChunk());
        }
      }
    }  // no finish
    const std::vector<U8> bytes(out.data(), out.data() + out.size());
    EXPECT_EQ(tablePointer(bytes), 0);
    const Reading r = readAll(f, bytes, 200, 1);
    if (chunk) {
      EXPECT_TRUE(r.errors.empty());
      EXPECT_EQ(r.records, std::vector<Record>(f.records.begin(), f.records.begin() + 200));
      EXPECT_EQ(r.warning, "compressor was interrupted before writing chunk table of VZK file");
    } else {
      EXPECT_TRUE(r.records.empty());
      EXPECT_EQ(r.errors, std::vector<std::string>{"compressor was interrupted before writing "
                                                   "adaptive chunk table of VZK file"});
    }
  }
}

TEST(RecordStream, CorruptChunkCostsOnlyThatChunk) {
  const Fixture f = makeFixture(2, 100, 1000);
  const std::vector<I64> starts = chunkStartsOf(f);
  ASSERT_EQ(starts.size(), 11u);
  std::vector<U8> bytes = f.encoded.bytes;
  bytes[(starts[3] + starts[4]) / 2] ^= 0x5A;
  const Reading r = readAll(f, bytes, 1000);
  ASSERT_EQ(r.errors, std::vector<std::string>{"chunk with index 3 of 11 is corrupt"});
  for (size_t i = 0; i < 300; i++) ASSERT_EQ(r.records[i], f.records[i]) << i;
  // reading resumes with the first record of chunk 4
  const size_t resumed = r.records.size() - 600;
  for (size_t i = 0; i < 600; i++) ASSERT_EQ(r.records[resumed + i], f.records[400 + i]) << i;
}

TEST(RecordStream, MoreRecordsThanTabledEndWithEndOfFile) {
  // beyond a partly filled last chunk, and beyond a full one
  for (U32 count : {250u, 200u}) {
    const Fixture f = makeFixture(2, 100, count);
    const Reading r = readAll(f, f.encoded.bytes, count + 1, 2);
    EXPECT_EQ(r.records, f.records);
    const std::string eof = "end-of-file during chunk with index 2";
    EXPECT_EQ(r.errors, (std::vector<std::string>{eof, eof}));
  }
}

TEST(RecordStream, DamagedChunkTable) {
  const Fixture f = makeFixture(2, 100, 250);
  const I64 table = tablePointer(f.encoded.bytes);
  struct Case {
    const char* what;
    std::vector<U8> bytes;
    std::string warning;
    size_t readable;
  };
  std::vector<Case> cases;
  {
    std::vector<U8> b = f.encoded.bytes;
    b[table] = 1;  // version
    cases.push_back({"version", b, "corrupt chunk table", 250});
  }
  {
    std::vector<U8> b = f.encoded.bytes;
    b[table + 7] = 0x40;  // absurd chunk count
    cases.push_back({"count", b, "corrupt chunk table", 250});
  }
  {
    std::vector<U8> b = f.encoded.bytes;
    for (size_t i = table + 8; i < b.size(); i++) b[i] = 0xFF;  // table stream
    cases.push_back({"coded sizes", b, "corrupt chunk table", 250});
  }
  {
    std::vector<U8> b = f.encoded.bytes;
    const I64 before_first = 3;
    memcpy(b.data(), &before_first, 8);
    cases.push_back({"pointer before the chunks", b, "corrupt chunk table", 250});
  }
  {
    std::vector<U8> b(f.encoded.bytes.begin(), f.encoded.bytes.begin() + table);
    cases.push_back(
        {"table cut off", b, "chunk table is missing. improper use of VZK compressor?", 250});
  }
  {
    std::vector<U8> b(f.encoded.bytes.begin(), f.encoded.bytes.begin() + table - 5);
    cases.push_back({"file truncated", b,
                     "chunk table and 5 bytes are missing. VZK file truncated during copy or "
                     "transfer?",
                     200});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Reading r = readAll(f, c.bytes, 250, 1);
    EXPECT_EQ(r.warning, c.warning);
    ASSERT_GE(r.records.size(), c.readable);
    for (size_t i = 0; i < c.readable; i++) ASSERT_EQ(r.records[i], f.records[i]) << i;
    if (c.readable < 250) {
      EXPECT_EQ(r.errors, std::vector<std::string>{"end-of-file during chunk with index 2"});
    } else {
      EXPECT_TRUE(r.errors.empty());
    }
  }

  // adaptive chunking cannot do without its table
  const Fixture adaptive = makeFixture(2, 0, 250, 40);
  std::vector<U8> b = adaptive.encoded.bytes;
  b[tablePointer(b)] = 1;
  const Reading r = readAll(adaptive, b, 1, 1);
  EXPECT_TRUE(r.records.empty());
  EXPECT_EQ(r.errors, std::vector<std::string>{"corrupt chunk table"});
}

// Flipped bytes and truncation anywhere: a clean error, never a crash or a
// hang, and never more records than written.
TEST(RecordStream, FlippedAndTruncatedInputFailsCleanly) {
  const std::regex allowed(
      "end-of-file during chunk with index [0-9]+|chunk with index [0-9]+ of [0-9]+ is corrupt|"
      "end-of-file while reading the chunk table pointer|corrupt chunk table|"
      "chunk table is missing\\. improper use of VZK compressor\\?|"
      "chunk table and [0-9]+ bytes are missing\\. VZK file truncated during copy or transfer\\?|"
      "cannot read the chunk table pointer at the end of the VZK file|"
      "compressor was interrupted before writing (adaptive )?chunk table of VZK file");
  for (I64 chunk : {I64(60), I64(0), I64(-1)}) {
    const U16 compressor = chunk < 0 ? 1 : 2;
    const Fixture f = makeFixture(compressor, chunk, 150, chunk == 0 ? 45 : 0, Pattern::NaNGps);
    const size_t size = f.encoded.bytes.size();
    for (size_t len = 0; len < size; len += (len < 64 || size - len < 64) ? 1 : 7) {
      std::vector<U8> cut(f.encoded.bytes.begin(), f.encoded.bytes.begin() + len);
      const Reading r = readAll(f, cut, 150, 3);
      for (const std::string& e : r.errors) {
        ASSERT_TRUE(std::regex_match(e, allowed)) << e << " at length " << len;
      }
      if (!r.warning.empty()) {
        ASSERT_TRUE(std::regex_match(r.warning, allowed)) << r.warning;
      }
    }
    for (size_t at = 0; at < size; at += 3) {
      std::vector<U8> flipped = f.encoded.bytes;
      flipped[at] ^= U8(0x81 + at);
      const Reading r = readAll(f, flipped, 150, 3);
      ASSERT_LE(r.records.size(), 150u);
      for (const std::string& e : r.errors) {
        ASSERT_TRUE(std::regex_match(e, allowed)) << e << " at byte " << at;
      }
    }
  }
}

TEST(RecordStream, SeekToAnyRecord) {
  const Fixture fixed = makeFixture(2, 100, 1000);
  const Fixture adaptive = makeFixture(2, 0, 1000, 37);
  const Fixture pointwise = makeFixture(1, -1, 400);
  const Fixture single = makeFixture(2, 50000, 400);
  std::mt19937 rng(4);
  for (const Fixture* f : {&fixed, &adaptive, &pointwise, &single}) {
    const U32 n = U32(f->records.size());
    std::vector<U32> targets = {0, 100, 99, 101, n - 1, 0, 37, 36, 74, 75, 500 % n, 500 % n, 3};
    for (int i = 0; i < 40; i++) targets.push_back(rng() % n);
    LASscaleOffset so;
    LASpoint p;
    p.init_items(&so, f->config.items, nullptr);
    LASrecordReader reader;
    ByteStreamInArrayLE in(f->encoded.bytes.data(), I64(f->encoded.bytes.size()));
    ASSERT_TRUE(reader.configure(U32(f->config.items.size()), f->config.items.data(), &f->config));
    ASSERT_TRUE(reader.attach(&in));
    U32 current = 0;
    for (U32 target : targets) {
      ASSERT_TRUE(reader.seekRecord(current, target)) << reader.errorText();
      ASSERT_TRUE(reader.readRecord(p.item_targets.data())) << reader.errorText();
      ASSERT_EQ(snapshot(p), f->records[target]) << "target " << target;
      current = target + 1;
    }
    EXPECT_FALSE(reader.seekRecord(current, n + 5));
  }
}

TEST(RecordStream, SeekBeyondTheChunksReadSoFar) {
  // Without a table the starts are learned while reading; a seek past them
  // reads forward, a seek back uses what was learned.
  Fixture f = makeFixture(2, 100, 0);
  f.records = makeRecords(3, 36, Pattern::Realistic, 500, 2);
  LASscaleOffset so;
  LASpoint p;
  p.init_items(&so, f.config.items, nullptr);
  ByteStreamOutArrayLE out;
  {
    LASrecordWriter writer;
    writer.configure(U32(f.config.items.size()), f.config.items.data(), &f.config);
    writer.attach(&out);
    for (const Record& rec : f.records) {
      restore(p, rec);
      writer.writeRecord(p.item_targets.data());
    }
  }
  LASrecordReader reader;
  ByteStreamInArrayLE in(out.data(), out.size());
  reader.configure(U32(f.config.items.size()), f.config.items.data(), &f.config);
  reader.attach(&in);
  U32 current = 0;
  for (U32 target : {250u, 120u, 399u, 5u, 300u}) {
    ASSERT_TRUE(reader.seekRecord(current, target));
    ASSERT_TRUE(reader.readRecord(p.item_targets.data()));
    ASSERT_EQ(snapshot(p), f.records[target]) << target;
    current = target + 1;
  }
  EXPECT_EQ(reader.tabledChunks(), 4u);
}

TEST(RecordStream, AdaptiveChunksAndTheSizeLimit) {
  Fixture f = makeFixture(2, 0, 0);
  f.records = makeRecords(3, 36, Pattern::RandomBytes, 3000, 5);
  LASscaleOffset so;
  LASpoint p;
  p.init_items(&so, f.config.items, nullptr);
  ByteStreamOutArrayLE out;
  LASrecordWriter writer;
  ASSERT_TRUE(writer.configure(U32(f.config.items.size()), f.config.items.data(), &f.config));
  writer.setChunkByteLimit(65536 + 4 * 36 + 20000);
  ASSERT_TRUE(writer.attach(&out));
  ASSERT_TRUE(writer.endChunk());  // nothing written yet: no empty chunk
  for (U32 i = 0; i < 3000; i++) {
    restore(p, f.records[i]);
    ASSERT_TRUE(writer.writeRecord(p.item_targets.data()));
    if (i == 10) {
      ASSERT_TRUE(writer.endChunk());
      ASSERT_TRUE(writer.endChunk());
    }
  }
  ASSERT_TRUE(writer.finish());
  // chunk 0 ends by request; the limit ends the rest early
  EXPECT_GE(writer.numberOfChunks(), 4u);
  f.encoded.bytes.assign(out.data(), out.data() + out.size());
  const std::vector<I64> starts = chunkStartsOf(f);
  for (size_t c = 1; c < starts.size(); c++) EXPECT_LE(starts[c] - starts[c - 1], 20000 + 65536);
  const Reading r = readAll(f, f.encoded.bytes, 3000, 1);
  EXPECT_TRUE(r.errors.empty());
  EXPECT_EQ(r.records, f.records);

  // fixed chunks that would grow past the limit are refused
  Fixture g = makeFixture(2, 50000, 0);
  LASrecordWriter fixed;
  ByteStreamOutArrayLE out2;
  ASSERT_TRUE(fixed.configure(U32(g.config.items.size()), g.config.items.data(), &g.config));
  fixed.setChunkByteLimit(65536 + 4 * 36 + 5000);
  ASSERT_TRUE(fixed.attach(&out2));
  EXPECT_FALSE(fixed.endChunk());
  testing::internal::CaptureStderr();
  bool refused = false;
  for (U32 i = 0; i < 3000 && !refused; i++) {
    restore(p, f.records[i]);
    refused = !fixed.writeRecord(p.item_targets.data());
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(refused);
  EXPECT_EQ(err.rfind("ERROR: chunk 0 would exceed ", 0), 0u) << err;
}

TEST(RecordStream, ConfigurationsThatCannotBeStreamed) {
  Vorzak config = makeConfig(1, 28, 2, 2, -1);
  LASrecordWriter writer;
  LASrecordReader reader;
  // items that differ from the configuration's
  std::vector<LASitem> other = config.items;
  other[1].version = 1;
  EXPECT_FALSE(writer.configure(2, other.data(), &config));
  EXPECT_FALSE(reader.configure(2, other.data(), &config));
  Vorzak coder = config;
  coder.coder = 1;
  EXPECT_FALSE(writer.configure(2, coder.items.data(), &coder));
  EXPECT_FALSE(reader.configure(2, coder.items.data(), &coder));
  // point-wise items in a layered stream
  Vorzak layered = config;
  layered.compressor = 3;
  EXPECT_FALSE(writer.configure(2, layered.items.data(), &layered));
  EXPECT_FALSE(reader.configure(2, layered.items.data(), &layered));
  // layered items in a point-wise stream
  Vorzak p14;
  std::vector<LASitem> items;
  p14.itemsForPointType(items, 6, 30);
  p14.setup(items, 3);
  p14.assignVersion(2);
  p14.compressor = 2;
  EXPECT_FALSE(writer.configure(1, p14.items.data(), &p14));
  EXPECT_FALSE(reader.configure(1, p14.items.data(), &p14));
}

}  // namespace
