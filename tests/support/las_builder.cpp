#include "tests/support/las_builder.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

class Sink {
 public:
  virtual ~Sink() = default;
  virtual bool put(const U8* data, size_t n) = 0;
  bool u8(U8 v) { return put(&v, 1); }
  bool u16(U16 v) { return put(reinterpret_cast<const U8*>(&v), 2); }
  bool u32(U32 v) { return put(reinterpret_cast<const U8*>(&v), 4); }
  bool u64(U64 v) { return put(reinterpret_cast<const U8*>(&v), 8); }
  bool f64(F64 v) { return put(reinterpret_cast<const U8*>(&v), 8); }
  bool text(const std::string& s, size_t width) {
    std::vector<U8> field(width, 0);
    memcpy(field.data(), s.data(), std::min(width, s.size()));
    return put(field.data(), width);
  }
};

class VectorSink : public Sink {
 public:
  explicit VectorSink(std::vector<U8>& out) : out_(out) {}
  bool put(const U8* data, size_t n) override {
    out_.insert(out_.end(), data, data + n);
    return true;
  }

 private:
  std::vector<U8>& out_;
};

class FileSink : public Sink {
 public:
  explicit FileSink(FILE* f) : f_(f) {}
  bool put(const U8* data, size_t n) override { return fwrite(data, 1, n, f_) == n; }

 private:
  FILE* f_;
};

struct Summary {
  U64 by_return[15] = {};
  I32 min[3] = {0, 0, 0};
  I32 max[3] = {0, 0, 0};
};

U16 record_length_of(const LasBuildSpec& spec) {
  return spec.record_length ? spec.record_length : las_base_record_length(spec.point_type);
}

void fill_one(const LasBuildSpec& spec, I64 i, U8* record, U16 length) {
  memset(record, 0, length);
  if (spec.fill) {
    spec.fill(i, record);
  } else {
    fill_record(spec.point_type, length, i, record);
  }
}

Summary summarize(const LasBuildSpec& spec) {
  Summary s;
  const U16 length = record_length_of(spec);
  std::vector<U8> record(length);
  for (I64 i = 0; i < spec.num_points; i++) {
    fill_one(spec, i, record.data(), length);
    I32 xyz[3];
    memcpy(xyz, record.data(), 12);
    const int r = spec.point_type >= 6 ? (record[14] & 15) : (record[14] & 7);
    if (r >= 1 && r <= 15) s.by_return[r - 1]++;
    for (int a = 0; a < 3; a++) {
      if (i == 0 || xyz[a] < s.min[a]) s.min[a] = xyz[a];
      if (i == 0 || xyz[a] > s.max[a]) s.max[a] = xyz[a];
    }
  }
  return s;
}

bool write_record_header(Sink& out, const BuiltRecord& r, bool extended) {
  bool ok = out.u16(r.reserved) && out.text(r.user_id, 16) && out.u16(r.record_id);
  ok = ok && (extended ? out.u64(r.data.size()) : out.u16(U16(r.data.size())));
  return ok && out.text(r.description, 32);
}

bool build(const LasBuildSpec& spec, Sink& out) {
  const U16 length = record_length_of(spec);
  const Summary s = summarize(spec);
  const U16 header_size =
      U16(las_fields_size(spec.version_minor) + spec.user_data_in_header.size());
  U64 offset = header_size + spec.user_data_after_header.size();
  for (const BuiltRecord& r : spec.vlrs) offset += 54 + r.data.size();
  const I64 declared = spec.declared_points < 0 ? spec.num_points : spec.declared_points;
  const bool extended = spec.point_type >= 6;
  const bool v14 = spec.version_minor >= 4;

  bool ok = out.text("LASF", 4) && out.u16(spec.file_source_ID) && out.u16(0);
  ok = ok && out.u32(0x01020304) && out.u16(0x0506) && out.u16(0x0708);
  const U8 guid4[8] = {9, 10, 11, 12, 13, 14, 15, 16};
  ok = ok && out.put(guid4, 8) && out.u8(1) && out.u8(spec.version_minor);
  ok = ok && out.text("builder system", 32) && out.text("builder software", 32);
  ok = ok && out.u16(123) && out.u16(2024) && out.u16(header_size) && out.u32(U32(offset));
  ok = ok && out.u32(U32(spec.vlrs.size())) && out.u8(spec.point_type) && out.u16(length);
  const bool legacy_count = !(extended && v14) && declared <= I64(U32_MAX);
  ok = ok && out.u32(legacy_count ? U32(declared) : 0);
  for (int r = 0; r < 5; r++) ok = ok && out.u32(legacy_count ? U32(s.by_return[r]) : 0);
  for (int a = 0; a < 3; a++) ok = ok && out.f64(spec.scale[a]);
  for (int a = 0; a < 3; a++) ok = ok && out.f64(spec.offset[a]);
  for (int a = 0; a < 3; a++) {
    ok = ok && out.f64(spec.scale[a] * s.max[a] + spec.offset[a]);
    ok = ok && out.f64(spec.scale[a] * s.min[a] + spec.offset[a]);
  }
  if (spec.version_minor >= 3) ok = ok && out.u64(0);
  if (v14) {
    const U64 evlr_start = spec.evlrs.empty() ? 0 : offset + U64(spec.num_points) * length;
    ok = ok && out.u64(evlr_start) && out.u32(U32(spec.evlrs.size())) && out.u64(U64(declared));
    for (int r = 0; r < 15; r++) ok = ok && out.u64(s.by_return[r]);
  }
  if (!spec.user_data_in_header.empty()) {
    ok = ok && out.put(spec.user_data_in_header.data(), spec.user_data_in_header.size());
  }
  for (const BuiltRecord& r : spec.vlrs) {
    ok = ok && write_record_header(out, r, false);
    if (!r.data.empty()) ok = ok && out.put(r.data.data(), r.data.size());
  }
  if (!spec.user_data_after_header.empty()) {
    ok = ok && out.put(spec.user_data_after_header.data(), spec.user_data_after_header.size());
  }
  // Records in blocks, so that big files stream quickly.
  const I64 block = 4096;
  std::vector<U8> buffer(size_t(block) * length);
  for (I64 i = 0; ok && i < spec.num_points; i += block) {
    const I64 n = std::min(block, spec.num_points - i);
    for (I64 k = 0; k < n; k++) fill_one(spec, i + k, buffer.data() + k * length, length);
    ok = out.put(buffer.data(), size_t(n) * length);
  }
  if (v14) {
    for (const BuiltRecord& r : spec.evlrs) {
      ok = ok && write_record_header(out, r, true);
      if (!r.data.empty()) ok = ok && out.put(r.data.data(), r.data.size());
    }
  }
  return ok;
}

}  // namespace

U16 las_fields_size(U8 version_minor) {
  return version_minor <= 2 ? 227 : (version_minor == 3 ? 235 : 375);
}

U16 las_base_record_length(U8 point_type) {
  static const U16 sizes[11] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
  return point_type <= 10 ? sizes[point_type] : 0;
}

void fill_record(U8 point_type, U16 record_length, I64 index, U8* record) {
  const U32 i = U32(index);
  const I32 xyz[3] = {I32((i * 7919u) % 100000u), I32((i * 104729u) % 200000u) - 50000,
                      I32((i * 31u) % 5000u)};
  memcpy(record, xyz, 12);
  const U16 intensity = U16(i * 13u);
  memcpy(record + 12, &intensity, 2);
  size_t at;
  if (point_type <= 5) {
    const U8 n = U8(1 + i % 5);
    const U8 r = U8(1 + (i / 5) % n);
    record[14] = U8(r | (n << 3) | ((i & 1) << 6) | ((i % 97 == 0) << 7));
    record[15] = U8((i % 19) | (((i / 3) & 7) << 5));
    record[16] = U8(I8(int(i % 61) - 30));
    record[17] = U8(i % 251);
    const U16 source = U16(1 + i % 4);
    memcpy(record + 18, &source, 2);
    at = 20;
    if (point_type != 0 && point_type != 2) {
      const F64 t = 1000.0 + index * 0.001;
      memcpy(record + at, &t, 8);
      at += 8;
    }
  } else {
    const U8 n = U8(1 + i % 15);
    const U8 r = U8(1 + (i / 15) % n);
    record[14] = U8(r | (n << 4));
    record[15] = U8((i % 16) | (((i / 16) & 3) << 4) | ((i & 1) << 6) | ((i % 97 == 0) << 7));
    record[16] = U8(i % 256);
    record[17] = U8(i % 251);
    const I16 angle = I16(int(i % 30001) - 15000);
    memcpy(record + 18, &angle, 2);
    const U16 source = U16(1 + i % 4);
    memcpy(record + 20, &source, 2);
    const F64 t = 5000.0 + index * 0.001;
    memcpy(record + 22, &t, 8);
    at = 30;
  }
  const bool rgb = point_type == 2 || point_type == 3 || point_type == 5 || point_type == 7 ||
                   point_type == 8 || point_type == 10;
  if (rgb) {
    const int channels = (point_type == 8 || point_type == 10) ? 4 : 3;
    for (int c = 0; c < channels; c++) {
      const U16 v = U16(i * (c + 3));
      memcpy(record + at, &v, 2);
      at += 2;
    }
  }
  if (point_type == 4 || point_type == 5 || point_type == 9 || point_type == 10) {
    for (int k = 0; k < 29; k++) record[at + k] = U8(i + k);
    at += 29;
  }
  for (size_t k = at; k < record_length; k++) record[k] = U8(i * 3 + k);
}

std::vector<U8> build_las(const LasBuildSpec& spec) {
  std::vector<U8> bytes;
  VectorSink sink(bytes);
  build(spec, sink);
  return bytes;
}

bool write_las_file(const std::string& path, const LasBuildSpec& spec) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  std::vector<char> buffer(1 << 20);
  setvbuf(f, buffer.data(), _IOFBF, buffer.size());
  FileSink sink(f);
  const bool ok = build(spec, sink);
  return (fclose(f) == 0) && ok;
}

bool write_bytes_file(const std::string& path, const std::vector<U8>& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return (fclose(f) == 0) && ok;
}

std::vector<U8> read_bytes_file(const std::string& path) {
  std::vector<U8> bytes;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return bytes;
  U8 block[65536];
  size_t n;
  while ((n = fread(block, 1, sizeof(block), f)) > 0) bytes.insert(bytes.end(), block, block + n);
  fclose(f);
  return bytes;
}

void put_u16(std::vector<U8>& b, size_t at, U16 v) {
  memcpy(b.data() + at, &v, 2);
}
void put_u32(std::vector<U8>& b, size_t at, U32 v) {
  memcpy(b.data() + at, &v, 4);
}
void put_u64(std::vector<U8>& b, size_t at, U64 v) {
  memcpy(b.data() + at, &v, 8);
}
