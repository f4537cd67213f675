// Point sequences for codec tests: records built through LASpoint layouts.
#pragma once

#include <cstring>
#include <random>
#include <vector>

#include "las/codec/lasrecordreader.hpp"
#include "las/codec/lasrecordwriter.hpp"
#include "las/codec/vorzak.hpp"
#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"
#include "las/core/laspoint.hpp"

namespace codec_test {

using Record = std::vector<U8>;

// The stored bytes of a legacy-layout point: its items back to back.
inline Record snapshot(const LASpoint& p) {
  Record r;
  for (size_t i = 0; i < p.items.size(); i++) {
    const U8* b = p.item_targets[i];
    r.insert(r.end(), b, b + p.items[i].size);
  }
  return r;
}

inline void restore(LASpoint& p, const Record& r) {
  size_t off = 0;
  for (size_t i = 0; i < p.items.size(); i++) {
    memcpy(p.item_targets[i], r.data() + off, p.items[i].size);
    off += p.items[i].size;
  }
}

enum class Pattern {
  Realistic,       // survey-like scan lines, multiple returns, slowly changing attributes
  RandomBytes,     // every byte random: NaN times, wild jumps, every flag
  WrappingX,       // coordinates jumping across the 32-bit range
  NaNGps,          // GPS times with NaN, infinity, -0 and extreme bit patterns
  InterleavedGps,  // two or more GPS sequences far apart, interleaved
  Identical,       // the same record over and over
  GreyColour,      // red = green = blue
};

inline const char* patternName(Pattern p) {
  switch (p) {
    case Pattern::Realistic:
      return "realistic";
    case Pattern::RandomBytes:
      return "random";
    case Pattern::WrappingX:
      return "wrapping";
    case Pattern::NaNGps:
      return "nan-gps";
    case Pattern::InterleavedGps:
      return "interleaved-gps";
    case Pattern::Identical:
      return "identical";
    case Pattern::GreyColour:
      return "grey";
  }
  return "?";
}

inline F64 bitsToDouble(U64 bits) {
  F64 d;
  memcpy(&d, &bits, 8);
  return d;
}

// Makes `count` records of a legacy point type (0-5) and record size.
inline std::vector<Record> makeRecords(U8 type, U16 size, Pattern pattern, U32 count,
                                       U32 seed = 1) {
  LASscaleOffset so;
  LASpoint p;
  p.init_layout(&so, type, size, nullptr);
  std::mt19937 rng(seed);
  auto rnd = [&](U32 n) { return U32(rng() % n); };
  std::vector<Record> out;
  out.reserve(count);
  I32 x = 100000, y = 200000, z = 1000;
  F64 t = 400000.0;
  U64 wave_offset = 1000;
  U32 ret = 1, nret = 1;
  F64 seq[3] = {1000.0, 5.0e9, -3.0e12};
  for (U32 i = 0; i < count; i++) {
    if (pattern == Pattern::RandomBytes) {
      for (size_t k = 0; k < p.items.size(); k++) {
        for (U32 b = 0; b < p.items[k].size; b++) p.item_targets[k][b] = U8(rng());
      }
      out.push_back(snapshot(p));
      continue;
    }
    if (pattern == Pattern::Identical && i > 0) {
      out.push_back(out.back());
      continue;
    }
    // coordinates
    if (pattern == Pattern::WrappingX) {
      static const I32 extremes[] = {I32_MAX, I32_MIN, 0, -1, I32_MAX - 5, I32_MIN + 7};
      x = (rnd(3) == 0) ? extremes[rnd(6)] : I32(U32(x) + U32(rnd(2000000000)) * 2u);
      y = (rnd(2) == 0) ? I32(U32(y) + 0x80000000u) : y + I32(rnd(50)) - 25;
      z = I32(rng());
    } else {
      if (ret == 1) {
        x += 30 + I32(rnd(20));
        y += I32(rnd(7)) - 3;
        if (rnd(500) == 0) y += 5000;
      }
      z += I32(rnd(200)) - 100 - (ret > 1 ? 300 : 0);
    }
    p.X = x;
    p.Y = y;
    p.Z = z;
    if (ret >= nret) {
      nret = 1 + rnd(rnd(4) == 0 ? 7 : 3);
      ret = 1;
    } else {
      ret++;
    }
    p.return_number = ret;
    p.number_of_returns = nret;
    p.intensity = U16(ret == 1 ? 200 + rnd(300) : 20 + rnd(100));
    if (rnd(1000) == 0) p.intensity = U16(rng());
    p.scan_direction_flag = (i / 700) & 1;
    p.edge_of_flight_line = rnd(800) == 0;
    p.classification = (rnd(10) < 7) ? 2 : U8(rnd(32));
    p.synthetic_flag = rnd(200) == 0;
    p.keypoint_flag = rnd(300) == 0;
    p.withheld_flag = rnd(250) == 0;
    p.scan_angle_rank = I8(I32((i / 50) % 40) - 20 + (rnd(40) == 0 ? I32(rnd(100)) : 0));
    p.user_data = U8(rnd(50) == 0 ? rng() : 7);
    p.point_source_ID = U16(i < count / 2 ? 17 : 4711 + (rnd(100) == 0));
    // GPS time
    if (p.has_gps_time) {
      if (pattern == Pattern::NaNGps) {
        static const U64 specials[] = {0x7FF8000000000000ull, 0xFFF8000000000001ull,
                                       0x7FF0000000000000ull, 0xFFF0000000000000ull,
                                       0x8000000000000000ull, 0x0000000000000001ull,
                                       0x7FFFFFFFFFFFFFFFull, 0x0ull};
        p.gps_time = (rnd(3) == 0) ? bitsToDouble(specials[rnd(8)]) : (t += 1e-5 * rnd(4));
      } else if (pattern == Pattern::InterleavedGps) {
        F64& s = seq[rnd(rnd(8) == 0 ? 3 : 2)];
        s += (rnd(6) == 0) ? 0.0 : 2.5e-5 * (1 + rnd(3));
        p.gps_time = s;
      } else {
        if (ret == 1) t += 1.0e-5 * (1 + (rnd(20) == 0 ? rnd(1000) : 0));
        if (rnd(2000) == 0) t += 100.0;
        p.gps_time = t;
      }
    }
    if (p.has_rgb) {
      if (pattern == Pattern::GreyColour) {
        const U16 g = U16(rnd(30) == 0 ? rng() : (p.rgb[0] + rnd(512) - 256));
        p.rgb[0] = p.rgb[1] = p.rgb[2] = g;
      } else if (rnd(50) == 0) {
        for (int c = 0; c < 3; c++) p.rgb[c] = U16(rng());
      } else {
        // 8-bit imagery scaled to 16 bits, drifting slowly
        for (int c = 0; c < 3; c++) {
          const I32 v = I32(p.rgb[c] >> 8) + (rnd(4) == 0 ? I32(rnd(9)) - 4 : 0);
          p.rgb[c] = U16((v < 0 ? 0 : v > 255 ? 255 : v) << 8);
        }
      }
    }
    if (p.has_wave_packet) {
      U8* w = p.wave_packet;
      w[0] = U8(rnd(10) == 0 ? rnd(256) : 1);
      U32 psize;
      memcpy(&psize, w + 9, 4);
      if (rnd(20) == 0 || psize == 0) psize = 100 + rnd(400);
      if (rnd(50) == 0) psize = 0x80000000u + rnd(100);
      const U32 choice = rnd(10);
      if (choice < 6) {
        wave_offset += psize;
      } else if (choice < 8) {
        wave_offset += rnd(100000);
      } else if (choice < 9) {
        wave_offset = (U64(rng()) << 32) | rng();
      }
      memcpy(w + 1, &wave_offset, 8);
      memcpy(w + 9, &psize, 4);
      const F32 f[4] = {F32(rnd(10000)) * 0.5f, 0.001f * F32(rnd(100)), -0.002f,
                        F32(rnd(3) == 0 ? bitsToDouble(0x7FF8000000000000ull) : 1.0)};
      memcpy(w + 13, f, 16);
    }
    for (I32 b = 0; b < p.extra_bytes_count; b++) {
      p.extra_bytes[b] = U8(p.extra_bytes[b] + rnd(b == 0 ? 3 : 256));
    }
    out.push_back(snapshot(p));
  }
  return out;
}

struct Encoded {
  std::vector<U8> bytes;
  bool ok = false;
};

// Writes records through a LASrecordWriter; `config` nullptr writes raw.
// `endChunkEvery` > 0 ends adaptive chunks after that many records.
inline Encoded encode(const std::vector<LASitem>& items, const Vorzak* config,
                      const std::vector<Record>& records, U32 endChunkEvery = 0,
                      ByteStreamOut* stream = nullptr) {
  LASscaleOffset so;
  LASpoint p;
  p.init_items(&so, items, nullptr);
  LASrecordWriter writer;
  ByteStreamOutArrayLE out;
  ByteStreamOut* target = stream ? stream : &out;
  Encoded result;
  if (!writer.configure(U32(items.size()), items.data(), config) || !writer.attach(target)) {
    return result;
  }
  for (size_t i = 0; i < records.size(); i++) {
    restore(p, records[i]);
    if (!writer.writeRecord(p.item_targets.data())) return result;
    if (endChunkEvery && (i + 1) % endChunkEvery == 0 && !writer.endChunk()) return result;
  }
  result.ok = writer.finish();
  if (!stream) result.bytes.assign(out.data(), out.data() + out.size());
  return result;
}

// Reads `count` records; stops at the first failure and reports its text.
struct Decoded {
  std::vector<Record> records;
  std::string error;
  std::string warning;
  bool configured = false;
};

inline Decoded decode(const std::vector<LASitem>& items, const Vorzak* config,
                      const std::vector<U8>& bytes, U32 count) {
  LASscaleOffset so;
  LASpoint p;
  p.init_items(&so, items, nullptr);
  LASrecordReader reader;
  ByteStreamInArrayLE in(bytes.data(), I64(bytes.size()));
  Decoded result;
  if (!reader.configure(U32(items.size()), items.data(), config) || !reader.attach(&in)) {
    result.error = reader.errorText();
    return result;
  }
  result.configured = true;
  for (U32 i = 0; i < count; i++) {
    if (!reader.readRecord(p.item_targets.data())) {
      result.error = reader.errorText();
      break;
    }
    result.records.push_back(snapshot(p));
  }
  if (result.error.empty() && !reader.verifyEnd()) result.error = reader.errorText();
  result.warning = reader.warningText();
  return result;
}

// A compressor configuration for a legacy point type.
inline Vorzak makeConfig(U8 type, U16 size, U16 compressor, U16 version, I64 chunk_size) {
  Vorzak v;
  std::vector<LASitem> items;
  v.itemsForPointType(items, type, size);
  v.setup(items, compressor);
  if (chunk_size >= 0) v.assignChunkSize(U32(chunk_size));
  v.assignVersion(compressor ? version : 0);
  return v;
}

}  // namespace codec_test
