// Layers of a chunk: which are written empty, reading only some of them, and
// chunks whose layer sizes or bytes are damaged.
#include <gtest/gtest.h>

#include "las/codec/int_delta_coder.hpp"
#include "las/codec/lasitem_point14.hpp"
#include "tests/las/codec/point14_test_util.hpp"

using namespace p14test;

namespace {

U32 layerCount(const std::vector<LASitem>& items) {
  U32 n = 0;
  for (const LASitem& item : items) {
    switch (item.type) {
      case LASitem::POINT14:
        n += 9;
        break;
      case LASitem::RGBNIR14:
        n += 2;
        break;
      case LASitem::BYTE14:
        n += item.size;
        break;
      default:
        n += 1;
    }
  }
  return n;
}

// Where the parts of a layered chunk lie in the encoded bytes.
struct Chunk {
  size_t start = 0;    // the raw first record
  size_t sizesAt = 0;  // the u32 layer sizes
  std::vector<U32> sizes;
  std::vector<size_t> layerAt;  // where each layer's bytes begin
  size_t end = 0;
};

Chunk parseChunk(const std::vector<U8>& b, const std::vector<LASitem>& items, size_t start) {
  Chunk c;
  c.start = start;
  c.sizesAt = start + recordSize(items) + 4;
  const U32 n = layerCount(items);
  size_t at = c.sizesAt + 4 * size_t(n);
  for (U32 i = 0; i < n; i++) {
    c.sizes.push_back(get32(&b[c.sizesAt + 4 * i]));
    c.layerAt.push_back(at);
    at += c.sizes.back();
  }
  c.end = at;
  return c;
}

enum P14 { XY, Z, CLASS, FLAGS, INTENSITY, ANGLE, USER, SOURCE, GPS };

TEST(Point14Layers, UnchangedValuesGiveEmptyLayers) {
  // Type 8 with 2 extra bytes: POINT14 (9 layers), RGBNIR14 (2), BYTE14 (2).
  const std::vector<LASitem> items = itemsFor(8, 2, 3);
  std::vector<Record> records = makeRecords(items, Pattern::Constant, 300);
  // A grey colour that never changes codes as zeros; byte 1 of the extras
  // counts up; NIR changes in one record only.
  for (Record& r : records) {
    for (size_t at : {30, 32, 34}) put16(r, at, 4242);
  }
  put16(records[200], 36, 999);
  const Encoded enc = encode(layeredConfig(items, 50000), records);
  ASSERT_TRUE(enc.ok);
  const Chunk c = parseChunk(enc.bytes, items, 8);
  ASSERT_EQ(c.sizes.size(), 13u);
  EXPECT_GT(c.sizes[XY], 4u);
  EXPECT_GT(c.sizes[Z], 4u);
  for (U32 i : {CLASS, FLAGS, INTENSITY, ANGLE, USER, SOURCE, GPS}) {
    EXPECT_EQ(c.sizes[i], 0u) << "POINT14 layer " << i;
  }
  EXPECT_EQ(c.sizes[9], 0u) << "RGB";
  EXPECT_GT(c.sizes[10], 0u) << "NIR";
  EXPECT_EQ(c.sizes[11], 0u) << "extra byte 0";
  EXPECT_GT(c.sizes[12], 0u) << "extra byte 1";
  // The chunk ends where the table begins.
  U64 table;
  memcpy(&table, enc.bytes.data(), 8);
  EXPECT_EQ(c.end, table);

  const Decoded dec = decode(layeredConfig(items, 50000), enc.bytes, 300);
  ASSERT_EQ(dec.error, "");
  EXPECT_EQ(dec.records, records);

  // GPS times compare as doubles: a repeated NaN is a change, so its layer
  // is not empty; -0.0 after 0.0 is a change too, or its sign would be lost.
  for (const U64 second : {U64(0x7FF8000000000000ull), U64(0x8000000000000000ull)}) {
    std::vector<Record> times = records;
    const U64 first = second == 0x8000000000000000ull ? 0 : second;
    for (size_t i = 0; i < times.size(); i++) memcpy(&times[i][22], i ? &second : &first, 8);
    const Encoded t = encode(layeredConfig(items, 50000), times);
    ASSERT_TRUE(t.ok);
    EXPECT_GT(parseChunk(t.bytes, items, 8).sizes[GPS], 0u) << std::hex << second;
    const Decoded back = decode(layeredConfig(items, 50000), t.bytes, 300);
    ASSERT_EQ(back.error, "");
    EXPECT_EQ(back.records, times);
  }

  // A colour that is not grey codes a non-zero symbol even when it repeats.
  for (Record& r : records) put16(r, 34, 4243);
  const Encoded coloured = encode(layeredConfig(items, 50000), records);
  ASSERT_TRUE(coloured.ok);
  EXPECT_GT(parseChunk(coloured.bytes, items, 8).sizes[9], 0u);
}

// A reader that leaves a layer out delivers the value of the first record of
// the chunk for that field (per channel) and every other field exactly.
TEST(Point14Layers, SelectedLayersOnly) {
  struct Field {
    U32 bit;
    size_t at, size;  // bytes of the stored record the layer carries
    U8 mask;          // bits of those bytes (0xFF: all)
  };
  const Field fields[] = {
      {layer_select::Z, 8, 4, 0xFF},
      {layer_select::CLASSIFICATION, 16, 1, 0xFF},
      {layer_select::FLAGS, 15, 1, 0xCF},
      {layer_select::INTENSITY, 12, 2, 0xFF},
      {layer_select::SCAN_ANGLE, 18, 2, 0xFF},
      {layer_select::USER_DATA, 17, 1, 0xFF},
      {layer_select::POINT_SOURCE, 20, 2, 0xFF},
      {layer_select::GPS_TIME, 22, 8, 0xFF},
      {layer_select::RGB, 30, 6, 0xFF},
      {layer_select::NIR, 36, 2, 0xFF},
      {layer_select::BYTE0 << 1, 39, 1, 0xFF},
  };
  const std::vector<LASitem> items = itemsFor(8, 3, 3);
  // Channels interleave: a channel first seen mid-chunk starts from the
  // record current at the switch, which already carries the first value.
  const std::vector<Record> records = makeRecords(items, Pattern::Channels, 500, 3);
  const U32 chunk = 120;
  const Vorzak config = layeredConfig(items, chunk);
  const Encoded enc = encode(config, records);
  ASSERT_TRUE(enc.ok);
  for (const Field& f : fields) {
    SCOPED_TRACE(testing::Message() << "left out: bit " << f.bit);
    const Decoded dec = decode(config, enc.bytes, 500, layer_select::ALL & ~f.bit);
    ASSERT_EQ(dec.error, "");
    ASSERT_EQ(dec.records.size(), records.size());
    bool anyDiffers = false;
    for (size_t i = 0; i < records.size(); i++) {
      Record expected = records[i];
      const Record& first = records[i - i % chunk];
      for (size_t k = 0; k < f.size; k++) {
        expected[f.at + k] = U8((expected[f.at + k] & ~f.mask) | (first[f.at + k] & f.mask));
      }
      anyDiffers |= (expected != records[i]);
      ASSERT_EQ(dec.records[i], expected) << "record " << i;
    }
    EXPECT_TRUE(anyDiffers) << "the field never changes, so the case shows nothing";
  }
}

// Damage to one chunk costs only that chunk when the table is intact.
TEST(Point14Layers, CorruptLayerSizes) {
  const std::vector<LASitem> items = itemsFor(7, 1, 3);
  const std::vector<Record> records = makeRecords(items, Pattern::Channels, 300, 9);
  const Vorzak config = layeredConfig(items, 100);
  const Encoded enc = encode(config, records);
  ASSERT_TRUE(enc.ok);
  const Chunk c0 = parseChunk(enc.bytes, items, 8);
  const Chunk c1 = parseChunk(enc.bytes, items, c0.end);

  struct Damage {
    const char* what;
    size_t at;
    U32 value;
  };
  const Damage damages[] = {
      {"XY size far too large", c1.sizesAt + 4 * XY, 0xFFFFFFF0u},
      {"size reaching into the next chunk", c1.sizesAt + 4 * GPS, c1.sizes[GPS] + 1},
      {"sizes whose sum wraps 32 bits", c1.sizesAt + 4 * Z, 0xFFFFFFFFu - c1.sizes[XY] + 2},
      {"XY size too small", c1.sizesAt + 4 * XY, 2},
      {"XY missing", c1.sizesAt + 4 * XY, 0},
      {"RGB layer shortened", c1.sizesAt + 4 * 9, 3},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    std::vector<U8> bytes = enc.bytes;
    memcpy(&bytes[d.at], &d.value, 4);
    const Decoded dec = decode(config, bytes, 300);
    ASSERT_EQ(dec.error, "chunk with index 1 of 4 is corrupt");
    ASSERT_GE(dec.records.size(), 100u);
    for (size_t i = 0; i < 100; i++) ASSERT_EQ(dec.records[i], records[i]);
    // Reading goes on with the next chunk.
    LASscaleOffset so;
    LASpoint p;
    p.init_items(&so, items, nullptr);
    LASrecordReader reader;
    ByteStreamInArrayLE in(bytes.data(), I64(bytes.size()));
    ASSERT_TRUE(reader.configure(U32(items.size()), items.data(), &config));
    ASSERT_TRUE(reader.attach(&in));
    // The damage shows at the raw record of chunk 1 or at the record after.
    U32 good = 0;
    while (good < 102 && reader.readRecord(p.item_targets.data())) good++;
    ASSERT_TRUE(good == 100 || good == 101) << good;
    for (U32 i = 200; i < 300; i++) {
      ASSERT_TRUE(reader.readRecord(p.item_targets.data())) << reader.errorText();
      ASSERT_EQ(storeRecord(p), records[i]) << "record " << i;
    }
  }
}

TEST(Point14Layers, TruncatedChunk) {
  const std::vector<LASitem> items = itemsFor(6, 0, 4);
  const std::vector<Record> records = makeRecords(items, Pattern::Survey, 250, 2);
  const Vorzak config = layeredConfig(items, 100);
  const Encoded enc = encode(config, records);
  ASSERT_TRUE(enc.ok);
  const Chunk c0 = parseChunk(enc.bytes, items, 8);
  const Chunk c1 = parseChunk(enc.bytes, items, c0.end);
  const Chunk c2 = parseChunk(enc.bytes, items, c1.end);
  // Cut inside the layer sizes, inside the layer bytes, and inside the
  // first record of the last chunk.
  for (size_t cut : {c2.sizesAt + 10, c2.layerAt[Z] + 3, c2.start + 5, c2.end - 1}) {
    SCOPED_TRACE(testing::Message() << "cut at " << cut << " of " << enc.bytes.size());
    const std::vector<U8> bytes(enc.bytes.begin(), enc.bytes.begin() + cut);
    const Decoded dec = decode(config, bytes, 250);
    EXPECT_EQ(dec.warning, "chunk table and " + std::to_string(c2.end - cut) +
                               " bytes are missing. VZK file truncated during copy or transfer?");
    EXPECT_EQ(dec.error, "end-of-file during chunk with index 2");
    ASSERT_EQ(dec.records.size(), 200u);
    for (size_t i = 0; i < 200; i++) ASSERT_EQ(dec.records[i], records[i]);
  }
}

// Feeds arbitrary layer bytes to a POINT14 reader set up on a one-record
// chunk: no input may crash, hang or read outside its layer.
TEST(Point14Layers, GarbageLayersFailCleanly) {
  const std::vector<LASitem> items = itemsFor(6, 0, 3);
  std::mt19937 rng(4);
  for (U32 trial = 0; trial < 300; trial++) {
    // Layer sizes 0..12, each layer random bytes.
    std::vector<U8> chunk;
    std::vector<U32> sizes(9);
    for (U32& s : sizes) s = rng() % 13;
    for (U32 s : sizes) {
      const U8* b = reinterpret_cast<const U8*>(&s);
      chunk.insert(chunk.end(), b, b + 4);
    }
    for (U32 s : sizes) {
      for (U32 k = 0; k < s; k++) chunk.push_back(U8(rng()));
    }
    EntropyDecoder main;
    ByteStreamInArrayLE in(chunk.data(), I64(chunk.size()));
    main.start(&in, false);
    LASreadItemCompressed_POINT14_v3 reader(main, layer_select::ALL);
    reader.setChunkEnd(I64(chunk.size()));
    LASscaleOffset so;
    LASpoint p;
    p.init_items(&so, items, nullptr);
    U32 context = 0;
    try {
      ASSERT_TRUE(reader.readLayerSizes());
      ASSERT_TRUE(reader.startChunk(p.item_targets[0], context));
      for (U32 i = 0; i < 50; i++) reader.readItem(p.item_targets[0], context);
    } catch (const DecodingError&) {
    } catch (const EndOfData&) {
    }
  }
}

// Damaged bytes anywhere in the chunks: a damaged chunk is reported as
// corrupt (or, undetected, delivers wrong values) and costs only itself.
TEST(Point14Layers, RandomDamageFailsCleanly) {
  const std::vector<LASitem> items = itemsFor(10, 2, 3);
  const std::vector<Record> records = makeRecords(items, Pattern::Channels, 400, 12);
  const Vorzak config = layeredConfig(items, 100);
  const Encoded enc = encode(config, records);
  ASSERT_TRUE(enc.ok);
  U64 table;
  memcpy(&table, enc.bytes.data(), 8);
  std::vector<size_t> chunkEnds;
  for (size_t at = 8; at < table; at = chunkEnds.back()) {
    chunkEnds.push_back(parseChunk(enc.bytes, items, at).end);
  }
  ASSERT_EQ(chunkEnds.size(), 4u);
  std::mt19937 rng(8);
  U32 failures = 0;
  for (U32 trial = 0; trial < 150; trial++) {
    std::vector<U8> bytes = enc.bytes;
    bool damaged[4] = {false, false, false, false};
    for (U32 k = 0; k < 1 + trial % 3; k++) {
      const size_t at = 8 + rng() % (table - 8);
      bytes[at] ^= U8(1 + rng() % 255);
      damaged[std::upper_bound(chunkEnds.begin(), chunkEnds.end(), at) - chunkEnds.begin()] = true;
    }
    LASscaleOffset so;
    LASpoint p;
    p.init_items(&so, items, nullptr);
    LASrecordReader reader;
    ByteStreamInArrayLE in(bytes.data(), I64(bytes.size()));
    ASSERT_TRUE(reader.configure(U32(items.size()), items.data(), &config));
    ASSERT_TRUE(reader.attach(&in));
    U32 next = 0;  // the record the next read delivers
    for (U32 calls = 0; calls < 404 && next < 400; calls++) {
      if (reader.readRecord(p.item_targets.data())) {
        // Undamaged chunks read correctly, also after a damaged one.
        if (!damaged[next / 100]) {
          ASSERT_EQ(storeRecord(p), records[next]) << "record " << next;
        }
        next++;
        continue;
      }
      failures++;
      const std::string& e = reader.errorText();
      U32 chunk = 0;
      ASSERT_EQ(sscanf(e.c_str(), "chunk with index %u of 5 is corrupt", &chunk), 1) << e;
      ASSERT_TRUE(damaged[chunk]) << e;
      next = 100 * (chunk + 1);
    }
    EXPECT_EQ(next, 400u);
  }
  EXPECT_GT(failures, 0u);
}

// A GPS time layer that switches sequence twice in a row cannot come from a
// writer; the reader refuses it instead of looping.
TEST(Point14Layers, ChainedSequenceSwitchesAreCorrupt) {
  const std::vector<LASitem> items = itemsFor(6, 0, 3);
  // The second record's time is a jump beyond 32 bits (its full time); more
  // records make the layer long enough for the crafted one below.
  std::vector<Record> records;
  for (U32 i = 0; i < 40; i++) {
    Record r(30, 0);
    r[14] = 0x11;
    put64(r, 22, doubleBits(i ? 101.0 + 0.37 * i * i : 100.0));
    records.push_back(r);
  }
  const Vorzak config = layeredConfig(items, 50000);
  const Encoded enc = encode(config, records);
  ASSERT_TRUE(enc.ok);
  const Chunk c = parseChunk(enc.bytes, items, 8);
  ASSERT_GT(c.sizes[GPS], 0u);

  // Replace the second record's full time by a switch to sequence 1 followed
  // by another switch, or by the full time.
  for (U32 second : {2u, 1u}) {  // another switch, or the full time
    ByteStreamOutArrayLE layer;
    EntropyEncoder enc2;
    enc2.start(&layer);
    SymbolModel zero(5, true);
    zero.reset();
    enc2.putSymbol(zero, 2);       // switch to sequence 1
    enc2.putSymbol(zero, second);  // from there: switch again, or a full time
    IntDeltaCoder idc(enc2, 32, 9);
    idc.startEncoding();
    if (second == 1) {
      const U64 t = doubleBits(101.0 + 0.37);
      idc.encode(0, I32(t >> 32), 8);
      enc2.putRaw32(U32(t));
    }
    ASSERT_TRUE(enc2.finish());
    ASSERT_LE(U64(layer.size()), c.sizes[GPS]);
    std::vector<U8> bytes = enc.bytes;
    std::copy(layer.data(), layer.data() + layer.size(), bytes.begin() + c.layerAt[GPS]);
    const Decoded dec = decode(config, bytes, 2);
    if (second == 2) {
      EXPECT_EQ(dec.error, "chunk with index 0 of 2 is corrupt");
      EXPECT_EQ(dec.records.size(), 1u);
    } else {
      EXPECT_EQ(dec.error, "");
      ASSERT_EQ(dec.records.size(), 2u);
      EXPECT_EQ(dec.records[1], records[1]);
    }
  }
}

}  // namespace
