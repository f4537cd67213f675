// Writes a seed corpus for lasfile_fuzz into a directory: small LAS and VZK
// files of every point type and header version made with the library's own
// writer, and the first points of real sample files rewritten the same way
// (small samples are copied as they are).
//
//   lasfile_seeds <output dir> [sample dir]
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "las/core/lasheader.hpp"
#include "las/core/platform.hpp"
#include "las/io/lasreader_las.hpp"
#include "las/io/laswriter_las.hpp"

namespace {

constexpr long kCopyAsIsBelow = 40000;  // bytes
constexpr int kPointsFromSamples = 25;

std::string out_dir;
int written = 0;

// Writes the points that `fill` makes for each index through the writer.
template <typename Fill>
bool write_seed(const std::string& name, const LASheader& header, U32 compressor, I32 chunk_size,
                int count, Fill fill) {
  const std::string path = out_dir + "/" + name;
  LASpoint point;
  if (!point.init_layout(&header, header.point_data_format, header.point_data_record_length,
                         &header)) {
    return false;
  }
  LASwriterLAS writer;
  if (!writer.open(path.c_str(), &header, compressor, 0, chunk_size)) return false;
  for (int i = 0; i < count; i++) {
    fill(point, i);
    writer.update_inventory(&point);
    if (!writer.write_point(&point)) return false;
    // Adaptive chunks end where the caller says; end one early to get two.
    if (chunk_size == 0 && i == count / 2) writer.chunk();
  }
  writer.update_header(&header, true);
  if (writer.close(true) < 0) return false;
  written++;
  return true;
}

void fill_synthetic(LASpoint& p, int i) {
  p.X = 1000 + 37 * i;
  p.Y = -2000 + 11 * i * i;
  p.Z = 300 - 5 * i;
  p.intensity = U16(100 * i);
  p.return_number = (i % 3) + 1;
  p.number_of_returns = 3;
  p.classification = U8(i % 32);
  p.scan_angle_rank = I8(i - 10);
  p.point_source_ID = U16(7 + i / 4);
  p.extended_return_number = (i % 5) + 1;
  p.extended_number_of_returns = 5;
  p.extended_classification = U8(40 + i);
  p.extended_scan_angle = I16(-300 * i);
  p.extended_scanner_channel = i & 3;
  p.gps_time = 1000.5 + 0.25 * i;
  for (int c = 0; c < 4; c++) p.rgb[c] = U16(i * 997 + c * 13);
  p.wave_packet[0] = 1;
  p.wave_packet[1] = U8(i);
  for (size_t b = 0; b < p.extra_bytes.size(); b++) p.extra_bytes[b] = U8(i * 3 + b);
}

void add_geo_keys(LASheader& h) {
  const LASvlrKeyEntry keys[3] = {{1024, 0, 1, 1}, {3072, 0, 1, 32632}, {3076, 0, 1, 9001}};
  h.set_geo_keys(3, keys);
  const F64 params[2] = {6378137.0, 298.257};
  h.set_geo_double_params(2, params);
  const char ascii[] = "WGS 84|";
  h.add_vlr("LASF_Projection", 34737, std::vector<U8>(ascii, ascii + sizeof(ascii)));
}

void add_evlrs(LASheader& h) {
  LASvlrRecord wkt;
  wkt.set_user_id("LASF_Projection");
  wkt.record_id = 2112;
  const char text[] = "PROJCS[\"x\",GEOGCS[\"y\"]]";
  wkt.data.assign(text, text + sizeof(text));
  wkt.record_length_after_header = wkt.data.size();
  h.evlrs.push_back(wkt);
  LASvlrRecord other;
  other.set_user_id("someone");
  other.record_id = 77;
  other.data.assign(40, 0x5A);
  other.record_length_after_header = other.data.size();
  h.evlrs.push_back(other);
  h.number_of_extended_variable_length_records = U32(h.evlrs.size());
}

void add_tiling_and_original(LASheader& h, int type) {
  h.vlr_parcelgrid = std::make_unique<LASvlrParcelgrid>();
  h.vlr_parcelgrid->level = 2;
  h.vlr_parcelgrid->level_index = U32(type);
  h.vlr_parcelgrid->implicit_levels = 3;
  h.vlr_parcelgrid->buffer = type & 1;
  h.vlr_parcelgrid->reversible = type & 2;
  h.vlr_parcelgrid->max_x = h.vlr_parcelgrid->max_y = 100.0f;
  h.save_original();
}

// Appends a special EVLR after the points of a VZK seed and names it in the
// compressor record, as files with an index carried inside them have.
void add_special_evlr(const std::string& name) {
  const std::string path = out_dir + "/" + name;
  FILE* f = fopen(path.c_str(), "r+b");
  if (!f) return;
  std::vector<U8> b;
  U8 chunk[4096];
  for (size_t n; (n = fread(chunk, 1, sizeof(chunk), f)) > 0;) b.insert(b.end(), chunk, chunk + n);
  U16 header_size;
  U32 nvlrs;
  memcpy(&header_size, b.data() + 94, 2);
  memcpy(&nvlrs, b.data() + 100, 4);
  size_t at = header_size;
  for (U32 i = 0; i < nvlrs && at + 54 <= b.size(); i++) {
    U16 length;
    memcpy(&length, b.data() + at + 20, 2);
    if (strncmp(reinterpret_cast<const char*>(b.data() + at + 2), "vorzak encoded", 16) == 0 &&
        at + 54 + 34 <= b.size()) {
      const I64 count = 1;
      const I64 offset = I64(b.size());
      memcpy(b.data() + at + 54 + 16, &count, 8);
      memcpy(b.data() + at + 54 + 24, &offset, 8);
      std::vector<U8> evlr(60 + 16, 0);
      memcpy(evlr.data() + 2, "Quintrel", 8);
      const U16 id = 30;
      const U64 evlr_length = 16;
      memcpy(evlr.data() + 18, &id, 2);
      memcpy(evlr.data() + 20, &evlr_length, 8);
      memcpy(evlr.data() + 60, "index data here", 15);
      b.insert(b.end(), evlr.begin(), evlr.end());
      fseek(f, 0, SEEK_SET);
      if (fwrite(b.data(), 1, b.size(), f) == b.size()) written++;
      break;
    }
    at += 54 + length;
  }
  fclose(f);
}

// Point types 0-10 in the header versions that carry them, plain and
// compressed, some with extra bytes described by attributes.
void synthetic_seeds() {
  static const U16 base[11] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
  for (int type = 0; type <= 10; type++) {
    const U8 minors[3] = {U8(type < 6 ? (type < 2 ? 0 : 2) : 4), U8(type < 6 ? 3 : 4), 4};
    for (int variant = 0; variant < 3; variant++) {
      LASheader h;
      h.version_minor = minors[variant];
      h.header_size = LASheader::fields_size(h.version_minor);
      h.offset_to_point_data = h.header_size;
      h.point_data_format = U8(type);
      h.point_data_record_length = base[type];
      h.file_source_ID = U16((type + variant) % 8);
      h.x_scale_factor = h.y_scale_factor = 0.01;
      h.z_scale_factor = 0.001;
      h.x_offset = 400000;
      if (variant >= 1) {
        LASextraAttribute height(9, "height", "above ground");
        height.set_scale(0.01);
        LASextraAttribute flags(1, "flags", "bits");
        LASextraAttribute raw(0, "raw", "undocumented");
        raw.options = 3;
        h.add_attribute(height);
        h.add_attribute(flags);
        h.add_attribute(raw);
        h.update_attributes_vlr();
        h.point_data_record_length = U16(base[type] + h.get_attributes_size());
        add_geo_keys(h);
      }
      if (h.version_minor == 4 && variant == 2) add_evlrs(h);
      if (variant == 2) add_tiling_and_original(h, type);
      const std::string stem = "synthetic_t" + std::to_string(type) + "_v1" +
                               std::to_string(h.version_minor) + "_" + std::to_string(variant);
      const int count = 3 + variant * 4;
      write_seed(stem + ".las", h, 0, -1, count, fill_synthetic);
      const U32 compressor = type < 6 ? 2 : 3;
      const I32 chunk = variant == 1 ? 4 : (variant == 2 && type >= 6 ? 0 : -1);
      if (write_seed(stem + ".vzk", h, compressor, chunk, count, fill_synthetic) && variant == 1) {
        // A second copy carries a special EVLR.
        write_seed(stem + "_special.vzk", h, compressor, chunk, count, fill_synthetic);
        written--;
        add_special_evlr(stem + "_special.vzk");
      }
    }
  }
}

// Rewrites the first points of a sample, plain and compressed.
void trimmed_seed(const std::string& path, const std::string& stem) {
  LASreaderLAS reader;
  if (!reader.open(path.c_str())) return;
  LASheader h;
  h.copy_from(reader.header);
  // The copies are written from the point layout, whatever the input was.
  h.compressor_record.reset();
  const U8 type = h.point_data_format;
  auto copy = [&](LASpoint& p, int) {
    if (reader.read_point()) p.copy_from(reader.point);
  };
  const int count = int(std::min<I64>(reader.point_count, kPointsFromSamples));
  write_seed(stem + ".las", h, 0, -1, count, copy);
  if (!reader.seek(0)) return;
  write_seed(stem + ".vzk", h, type < 6 ? 2 : 3, 10, count, copy);
}

void sample_seeds(const std::string& dir) {
  const std::vector<std::string> names = platform::glob_files(dir + "/*.las");
  std::vector<std::string> all = names;
  for (const std::string& n : platform::glob_files(dir + "/bad/*.las")) all.push_back(n);
  for (const std::string& path : all) {
    const size_t slash = path.find_last_of('/');
    std::string stem = "sample_" + path.substr(slash + 1);
    stem = stem.substr(0, stem.size() - 4);
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) continue;
    fseek(f, 0, SEEK_END);
    const long size = ftell(f);
    if (size > 0 && size < kCopyAsIsBelow) {
      std::vector<char> bytes(static_cast<size_t>(size));
      fseek(f, 0, SEEK_SET);
      const bool read = fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
      FILE* o = read ? fopen((out_dir + "/" + stem + ".las").c_str(), "wb") : nullptr;
      if (o) {
        if (fwrite(bytes.data(), 1, bytes.size(), o) == bytes.size()) written++;
        fclose(o);
      }
    }
    fclose(f);
    trimmed_seed(path, stem + "_first");
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s <output dir> [sample dir]\n", argv[0]);
    return 1;
  }
  out_dir = argv[1];
  synthetic_seeds();
  if (argc > 2) sample_seeds(argv[2]);
  fprintf(stderr, "%d seeds written to %s\n", written, out_dir.c_str());
  return written > 0 ? 0 : 1;
}
