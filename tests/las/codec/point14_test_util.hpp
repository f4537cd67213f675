// Stored LAS 1.4 point records (types 6-10) for the layered codec tests: a
// generator of record sequences, the records of the shared sample files, and
// encoding and decoding them through the record streams.
#pragma once

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "las/codec/lasitem_raw.hpp"
#include "las/codec/lasrecordreader.hpp"
#include "las/codec/lasrecordwriter.hpp"
#include "las/codec/vorzak.hpp"
#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"
#include "las/core/laspoint.hpp"
#include "tests/support/test_data.hpp"

namespace p14test {

using Record = std::vector<U8>;  // a stored record: the raw items back to back

// The items of point type 6-10 with `extra` extra bytes, coded in `version`.
inline std::vector<LASitem> itemsFor(U8 type, U16 extra, U16 version) {
  std::vector<LASitem> items;
  build_item_list(type, U16(base_point_size(type) + extra), items);
  for (LASitem& item : items) item.version = version;
  return items;
}

inline U32 recordSize(const std::vector<LASitem>& items) {
  U32 size = 0;
  for (const LASitem& item : items) size += item.size;
  return size;
}

// Moves a stored record into a point through the raw item readers.
inline void loadRecord(LASpoint& p, const Record& r) {
  ByteStreamInArrayLE in(r.data(), I64(r.size()));
  U32 context = 0;
  for (size_t i = 0; i < p.items.size(); i++) {
    auto raw = makeReadItemRaw(p.items[i]);
    raw->init(&in);
    raw->readItem(p.item_targets[i], context);
  }
}

// The stored record of a point through the raw item writers.
inline Record storeRecord(const LASpoint& p) {
  ByteStreamOutArrayLE out;
  U32 context = 0;
  for (size_t i = 0; i < p.items.size(); i++) {
    auto raw = makeWriteItemRaw(p.items[i]);
    raw->init(&out);
    raw->writeItem(p.item_targets[i], context);
  }
  return Record(out.data(), out.data() + out.size());
}

// Field access on stored POINT14 bytes.
inline void put16(Record& r, size_t at, U16 v) {
  memcpy(&r[at], &v, 2);
}
inline void put32(Record& r, size_t at, U32 v) {
  memcpy(&r[at], &v, 4);
}
inline void put64(Record& r, size_t at, U64 v) {
  memcpy(&r[at], &v, 8);
}
inline U16 get16(const Record& r, size_t at) {
  U16 v;
  memcpy(&v, &r[at], 2);
  return v;
}
inline U32 get32(const U8* p) {
  U32 v;
  memcpy(&v, p, 4);
  return v;
}
inline U64 doubleBits(F64 d) {
  U64 v;
  memcpy(&v, &d, 8);
  return v;
}

enum class Pattern {
  Survey,    // scan lines, up to 15 returns, one channel
  Channels,  // four interleaved scanner channels, each its own scan line
  Random,    // every byte random
  Constant,  // every field constant except X, Y and Z
  Extremes,  // classes above 31, returns 0..15, scan angles at the limits
  GpsJumps,  // GPS times in far-apart interleaved sequences, NaN and -0
};

inline const char* patternName(Pattern p) {
  switch (p) {
    case Pattern::Survey:
      return "survey";
    case Pattern::Channels:
      return "channels";
    case Pattern::Random:
      return "random";
    case Pattern::Constant:
      return "constant";
    case Pattern::Extremes:
      return "extremes";
    case Pattern::GpsJumps:
      return "gps-jumps";
  }
  return "?";
}

// `count` stored records for the item list.
inline std::vector<Record> makeRecords(const std::vector<LASitem>& items, Pattern pattern,
                                       U32 count, U32 seed = 1) {
  std::mt19937 rng(seed);
  auto rnd = [&](U32 n) { return U32(rng() % n); };
  const U32 size = recordSize(items);
  std::vector<Record> out;
  out.reserve(count);
  struct Line {
    I32 x = 1000000, y = 2000000, z = 50000;
    F64 t = 300000.0;
    U32 ret = 1, nret = 1;
    U16 rgb[4] = {1000, 2000, 3000, 4000};
    U64 wave = 5000;
  } lines[4];
  for (U32 c = 0; c < 4; c++) {
    lines[c].x += I32(c * 777);
    lines[c].t += c * 0.25;
  }
  Record r(size, 0);
  for (U32 i = 0; i < count; i++) {
    if (pattern == Pattern::Random) {
      for (U8& b : r) b = U8(rng());
      out.push_back(r);
      continue;
    }
    const U32 channel = (pattern == Pattern::Channels)
                            ? (rnd(3) == 0 ? rnd(4) : (i / 5) % 4)
                            : (pattern == Pattern::Extremes ? rnd(4) : 0);
    Line& L = lines[channel];
    if (L.ret >= L.nret) {
      L.nret = (pattern == Pattern::Extremes) ? rnd(16) : 1 + rnd(rnd(6) == 0 ? 15 : 3);
      L.ret = (pattern == Pattern::Extremes) ? rnd(16) : 1;
      L.x += 40 + I32(rnd(30));
      L.y += I32(rnd(9)) - 4;
      L.t += 1e-5 * (1 + rnd(3));
    } else {
      L.ret++;
    }
    L.z += I32(rnd(300)) - 150;
    put32(r, 0, U32(L.x));
    put32(r, 4, U32(L.y));
    put32(r, 8, U32(L.z));
    const bool constant = (pattern == Pattern::Constant);
    put16(r, 12, constant ? 77 : U16(L.ret == 1 ? 300 + rnd(500) : rnd(200)));
    r[14] = U8((L.ret & 15) | ((L.nret & 15) << 4));
    if (constant) {
      r[14] = 0x11;
      r[15] = 0x40;
      r[16] = 2;
      r[17] = 9;
      put16(r, 18, 1234);
      put16(r, 20, 17);
      put64(r, 22, doubleBits(1000.5));
    } else {
      const U32 flags = (rnd(50) == 0 ? rnd(16) : 0) | (channel << 4) | (((i / 300) & 1) << 6) |
                        (rnd(400) == 0 ? 0x80 : 0);
      r[15] = U8(flags);
      r[16] = (pattern == Pattern::Extremes) ? U8(rng()) : U8(rnd(5) ? 2 : rnd(20));
      r[17] = U8(rnd(30) == 0 ? rng() : 3);
      I32 angle = I32((i / 40) % 5000) - 2500;
      if (pattern == Pattern::Extremes) {
        static const I16 limits[] = {30000, -30000, 32767, -32768, 21250, -21250, 0, 1};
        angle = limits[rnd(8)];
      }
      put16(r, 18, U16(I16(angle)));
      put16(r, 20, U16(i < count / 2 ? 21 : 22 + rnd(2)));
      F64 t = L.t;
      U64 bits = doubleBits(t);
      if (pattern == Pattern::GpsJumps) {
        static const U64 specials[] = {0x7FF8000000000000ull, 0x8000000000000000ull, 0,
                                       0xFFF0000000000000ull};
        const U32 pick = rnd(10);
        if (pick == 0) {
          bits = specials[rnd(4)];
        } else if (pick < 4) {
          bits = doubleBits(t + 1.0e9 * F64(rnd(5)));
        } else if (pick < 5) {
          bits = doubleBits(-t);
        }
      }
      put64(r, 22, bits);
    }
    size_t off = 30;
    for (size_t k = 1; k < items.size(); k++) {
      const LASitem& item = items[k];
      if (item.type == LASitem::RGB14 || item.type == LASitem::RGBNIR14) {
        const U32 n = item.type == LASitem::RGBNIR14 ? 4 : 3;
        if (!constant) {
          for (U32 c = 0; c < n; c++) L.rgb[c] = U16(L.rgb[c] + rnd(600) - 300);
          if (rnd(10) == 0) L.rgb[1] = L.rgb[2] = L.rgb[0];  // grey
        }
        for (U32 c = 0; c < n; c++) put16(r, off + 2 * c, L.rgb[c]);
      } else if (item.type == LASitem::WAVEPACKET14) {
        U32 psize = get32(&r[off + 9]);
        if (!constant) {
          r[off] = U8(rnd(8) == 0 ? rnd(256) : 1);
          if (psize == 0 || rnd(30) == 0) psize = 64 + rnd(500);
          if (rnd(60) == 0) psize = 0x80000000u + rnd(9);
          const U32 choice = rnd(10);
          if (choice < 6) {
            L.wave += psize;
          } else if (choice < 8) {
            L.wave += rnd(70000);
          } else if (choice == 8) {
            L.wave = (U64(rng()) << 32) | rng();
          }
          const F32 f[4] = {F32(rnd(5000)) * 0.25f, 1e-4f * F32(rnd(50)), -2e-4f, 3e-4f};
          memcpy(&r[off + 13], f, 16);
        } else {
          psize = 256;
          r[off] = 3;
        }
        put64(r, off + 1, L.wave);
        put32(r, off + 9, psize);
      } else if (item.type == LASitem::BYTE14) {
        for (U32 b = 0; b < item.size; b++) {
          // Byte 0 constant (an empty layer), byte 1 a slow counter, others noisy.
          if (b == 0) {
            r[off + b] = 0x5A;
          } else if (b == 1) {
            r[off + b] = U8(i / 16);
          } else if (!constant) {
            r[off + b] = U8(rnd(4) == 0 ? rng() : r[off + b] + 1);
          }
        }
      }
      off += item.size;
    }
    out.push_back(r);
  }
  return out;
}

// A layered configuration for the items; chunk size 0 means adaptive.
inline Vorzak layeredConfig(const std::vector<LASitem>& items, U32 chunkSize) {
  Vorzak v;
  v.compressor = Vorzak::LAYERED_CHUNKED;
  v.chunk_size = chunkSize;
  v.items = items;
  return v;
}

struct Encoded {
  std::vector<U8> bytes;
  bool ok = false;
};

// `endChunkEvery` > 0 ends adaptive chunks after that many records.
inline Encoded encode(const Vorzak& config, const std::vector<Record>& records,
                      U32 endChunkEvery = 0) {
  LASscaleOffset so;
  LASpoint p;
  p.init_items(&so, config.items, nullptr);
  LASrecordWriter writer;
  ByteStreamOutArrayLE out;
  Encoded result;
  if (!writer.configure(U32(config.items.size()), config.items.data(), &config) ||
      !writer.attach(&out)) {
    return result;
  }
  for (size_t i = 0; i < records.size(); i++) {
    loadRecord(p, records[i]);
    if (!writer.writeRecord(p.item_targets.data())) return result;
    if (endChunkEvery && (i + 1) % endChunkEvery == 0 && !writer.endChunk()) return result;
  }
  result.ok = writer.finish();
  result.bytes.assign(out.data(), out.data() + out.size());
  return result;
}

struct Decoded {
  std::vector<Record> records;
  std::string error;
  std::string warning;
  bool configured = false;
};

// Reads up to `count` records, stopping at the first failure.
inline Decoded decode(const Vorzak& config, const std::vector<U8>& bytes, U32 count,
                      U32 layerSelection = 0xFFFFFFFFu) {
  LASscaleOffset so;
  LASpoint p;
  p.init_items(&so, config.items, nullptr);
  LASrecordReader reader(layerSelection);
  ByteStreamInArrayLE in(bytes.data(), I64(bytes.size()));
  Decoded result;
  if (!reader.configure(U32(config.items.size()), config.items.data(), &config) ||
      !reader.attach(&in)) {
    result.error = reader.errorText();
    return result;
  }
  result.configured = true;
  for (U32 i = 0; i < count; i++) {
    if (!reader.readRecord(p.item_targets.data())) {
      result.error = reader.errorText();
      break;
    }
    result.records.push_back(storeRecord(p));
  }
  if (result.error.empty() && !reader.verifyEnd()) result.error = reader.errorText();
  result.warning = reader.warningText();
  return result;
}

// The point records of a LAS 1.4 file of point type 6-10, read with a small
// header parse; false when the file is not one.
inline bool readLasRecords(const std::string& path, U8& type, U16& length,
                           std::vector<Record>& records) {
  return read_las_records(path, type, length, records) && type >= 6 && type <= 10 &&
         length >= base_point_size(type);
}

}  // namespace p14test
