#include "las/io/lasreader_merged.hpp"

#include <cmath>
#include <cstring>

#include "las/codec/vorzak.hpp"
#include "las/core/messages.hpp"
#include "las/core/platform.hpp"
#include "las/filter/lasfilter.hpp"
#include "las/io/lasreader_las.hpp"
#include "las/transform/lastransform.hpp"

namespace {

constexpr F64 kEmptyMin = 2e307;
constexpr F64 kEmptyMax = -2e307;

bool is_finite(F64 v) {
  return std::isfinite(v);
}

I64 header_count(const LASheader& h) {
  return h.number_of_point_records ? I64(h.number_of_point_records)
                                   : I64(h.extended_number_of_point_records);
}

// Counts by return 1 to 15 of a header, whichever fields carry them.
void header_counts_by_return(const LASheader& h, I64 counts[15]) {
  const bool legacy = h.number_of_point_records != 0;
  for (int r = 0; r < 15; r++) {
    if (legacy && r < 5) {
      counts[r] = h.number_of_points_by_return[r];
    } else {
      counts[r] = I64(h.extended_number_of_points_by_return[r]);
    }
  }
}

// Puts 64-bit totals into a header: the legacy fields only where they fit.
void store_counts(LASheader& h, I64 total, const I64 counts[15]) {
  const bool legacy_fits = total <= I64(U32_MAX) && h.point_data_format < 6;
  h.number_of_point_records = legacy_fits ? U32(total) : 0;
  h.extended_number_of_point_records = U64(total);
  for (int r = 0; r < 15; r++) {
    if (r < 5) h.number_of_points_by_return[r] = legacy_fits ? U32(counts[r]) : 0;
    h.extended_number_of_points_by_return[r] = U64(counts[r]);
  }
}

bool fits(F64 min, F64 max, F64 offset, F64 scale) {
  return (max - offset) / scale <= 2147483647.0 && (min - offset) / scale >= -2147483648.0;
}

}  // namespace

LASinputKind las_input_kind(const char* name) {
  struct Probe {
    const char* lower;
    const char* upper;
    LASinputKind kind;
  };
  static const Probe probes[] = {
      {".las", ".LAS", LASinputKind::LAS}, {".vzk", ".VZK", LASinputKind::LAS},
      {".bin", ".BIN", LASinputKind::BIN}, {".shp", ".SHP", LASinputKind::SHP},
      {".asc", ".ASC", LASinputKind::ASC}, {".bil", ".BIL", LASinputKind::BIL},
      {".dtm", ".DTM", LASinputKind::DTM}, {".ply", ".PLY", LASinputKind::PLY},
      {".qi", ".QI", LASinputKind::QFIT}};
  // ".las", ".vzk", ".LAS", ".VZK" are tried before any other kind.
  if (strstr(name, ".las") || strstr(name, ".vzk") || strstr(name, ".LAS") ||
      strstr(name, ".VZK")) {
    return LASinputKind::LAS;
  }
  for (const Probe& p : probes) {
    if (strstr(name, p.lower) || strstr(name, p.upper)) return p.kind;
  }
  return LASinputKind::TXT;
}

const char* las_input_kind_name(LASinputKind kind) {
  static const char* const names[] = {"LAS", "BIN", "SHP",  "ASC", "BIL",
                                      "DTM", "PLY", "QFIT", "TXT"};
  return names[int(kind)];
}

const char* las_input_reader_name(LASinputKind kind) {
  static const char* const names[] = {"lasreaderlas", "lasreaderbin",  "lasreadershp",
                                      "lasreaderasc", "lasreaderbil",  "lasreaderdtm",
                                      "lasreaderply", "lasreaderqfit", "lasreadertxt"};
  return names[int(kind)];
}

LASreaderMerged::LASreaderMerged() = default;

LASreaderMerged::~LASreaderMerged() {
  if (reader && reader_open) reader->close(true);
}

bool LASreaderMerged::add_file_name(const char* name) {
  return add(name, false, 0);
}

bool LASreaderMerged::add_file_name(const char* name, U32 file_ID) {
  return add(name, true, file_ID);
}

bool LASreaderMerged::add(const char* name, bool with_id, U32 file_ID) {
  if (name == nullptr) {
    print_error("file name pointer is NULL\n");
    return false;
  }
  FILE* probe = platform::open_file(name, "rb");
  if (probe == nullptr || platform::is_directory(name)) {
    if (probe) fclose(probe);
    print_error("file '%s' cannot be opened\n", name);
    return false;
  }
  fclose(probe);
  const LASinputKind k = las_input_kind(name);
  if (kind_set && k != kind) {
    print_error("cannot mix %s with %s. skipping '%s' ...\n", las_input_kind_name(kind),
                las_input_kind_name(k), name);
    return false;
  }
  if (k != LASinputKind::LAS) {
    print_error("merging %s files is not supported. skipping '%s' ...\n", las_input_kind_name(k),
                name);
    return false;
  }
  kind = k;
  kind_set = true;
  // A file added with an ID makes every file carry one; earlier ones get their index.
  if (with_id && !with_ids) {
    for (size_t i = 0; i < names.size(); i++) file_ids[i] = U32(i);
    with_ids = true;
  }
  names.emplace_back(name);
  file_ids.push_back(with_id ? file_ID : U32(names.size() - 1));
  return true;
}

void LASreaderMerged::set_scale_factor(F64 x, F64 y, F64 z) {
  requested_scale[0] = x;
  requested_scale[1] = y;
  requested_scale[2] = z;
}

void LASreaderMerged::set_offset(F64 x, F64 y, F64 z) {
  requested_offset[0] = x;
  requested_offset[1] = y;
  requested_offset[2] = z;
  requested_reoffset = true;
}

void LASreaderMerged::drop_file(size_t i) {
  names.erase(names.begin() + I64(i));
  file_ids.erase(file_ids.begin() + I64(i));
  if (i < boxes.size()) boxes.erase(boxes.begin() + I64(i));
}

std::unique_ptr<LASreaderLAS> LASreaderMerged::make_reader() const {
  if (rescale && reoffset) {
    return std::make_unique<LASreaderLASrescalereoffset>(
        header.x_scale_factor, header.y_scale_factor, header.z_scale_factor, header.x_offset,
        header.y_offset, header.z_offset);
  }
  if (rescale) {
    return std::make_unique<LASreaderLASrescale>(header.x_scale_factor, header.y_scale_factor,
                                                 header.z_scale_factor, true);
  }
  if (reoffset) {
    return std::make_unique<LASreaderLASreoffset>(header.x_offset, header.y_offset,
                                                  header.z_offset);
  }
  return std::make_unique<LASreaderLAS>();
}

bool LASreaderMerged::open() {
  if (names.empty()) {
    print_error("no valid file names\n");
    return false;
  }
  close(true);
  header.reset();
  point.reset();
  inside_none();
  rescale = reoffset = false;
  warned_point_type = warned_point_size = warned_attributes = false;
  reader = std::make_unique<LASreaderLAS>();
  boxes.assign(names.size(), Box{kEmptyMin, kEmptyMin, kEmptyMax, kEmptyMax});

  I64 total = 0;
  I64 by_return[15] = {};
  bool have_points = false;
  bool first_has_attributes = false;
  size_t i = 0;
  while (i < names.size()) {
    const bool first = i == 0;
    const char* name = names[i].c_str();
    // Later files need only their header, unless attributes must be compared.
    const bool full = first || first_has_attributes;
    if (!reader->open(name, 512, !full, 0xFFFFFFFF)) {
      print_error("could not open lasreaderlas for file '%s'\n", name);
      if (first) return false;
      drop_file(i);
      continue;
    }
    LASheader& h = reader->header;
    const I64 count = header_count(h);
    const bool scale_ok = h.x_scale_factor != 0.0 && h.y_scale_factor != 0.0 &&
                          h.z_scale_factor != 0.0 && is_finite(h.x_scale_factor) &&
                          is_finite(h.y_scale_factor) && is_finite(h.z_scale_factor) &&
                          is_finite(h.x_offset) && is_finite(h.y_offset) && is_finite(h.z_offset);
    const bool box_ok =
        count == 0 || (is_finite(h.min_x) && is_finite(h.max_x) && is_finite(h.min_y) &&
                       is_finite(h.max_y) && is_finite(h.min_z) && is_finite(h.max_z));
    if (!scale_ok || !box_ok) {
      print_error(
          "file '%s' has a %s that cannot be merged\n", name,
          scale_ok ? "non-finite bounding box" : "zero or non-finite scale factor or offset");
      reader->close(true);
      if (first) return false;
      drop_file(i);
      continue;
    }
    if (count > 0) boxes[i] = Box{h.min_x, h.min_y, h.max_x, h.max_y};

    if (first) {
      if (h.vlr_parcelgrid && h.vlr_parcelgrid->buffer) {
        print_warning("first file is a buffered tile. maybe remove buffers first?\n");
        h.vlr_parcelgrid.reset();
      }
      header.take_over(h);
      if (files_are_flightlines || apply_file_source_ID) header.file_source_ID = 0;
      total = count;
      header_counts_by_return(header, by_return);
      have_points = count > 0;
      first_has_attributes = header.number_attributes > 0;
    } else if (count > 0) {
      if (!have_points) {
        total = count;
        header_counts_by_return(h, by_return);
        header.min_x = h.min_x;
        header.min_y = h.min_y;
        header.min_z = h.min_z;
        header.max_x = h.max_x;
        header.max_y = h.max_y;
        header.max_z = h.max_z;
        header.x_scale_factor = h.x_scale_factor;
        header.y_scale_factor = h.y_scale_factor;
        header.z_scale_factor = h.z_scale_factor;
        header.x_offset = h.x_offset;
        header.y_offset = h.y_offset;
        header.z_offset = h.z_offset;
        have_points = true;
      } else {
        total += count;
        I64 counts[15];
        header_counts_by_return(h, counts);
        for (int r = 0; r < 15; r++) by_return[r] += counts[r];
        if (h.min_x < header.min_x) header.min_x = h.min_x;
        if (h.min_y < header.min_y) header.min_y = h.min_y;
        if (h.min_z < header.min_z) header.min_z = h.min_z;
        if (h.max_x > header.max_x) header.max_x = h.max_x;
        if (h.max_y > header.max_y) header.max_y = h.max_y;
        if (h.max_z > header.max_z) header.max_z = h.max_z;
        if (h.x_scale_factor != header.x_scale_factor ||
            h.y_scale_factor != header.y_scale_factor ||
            h.z_scale_factor != header.z_scale_factor) {
          rescale = true;
        }
        if (h.x_offset != header.x_offset || h.y_offset != header.y_offset ||
            h.z_offset != header.z_offset) {
          reoffset = true;
        }
      }
      if (h.point_data_format != header.point_data_format) {
        if (!warned_point_type) {
          print_warning("files have different point types: %d vs %d\n",
                        int(header.point_data_format), int(h.point_data_format));
          warned_point_type = true;
        }
      } else if (h.point_data_record_length != header.point_data_record_length) {
        if (!warned_point_size) {
          print_warning("files have different point sizes: %d vs %d\n",
                        int(header.point_data_record_length), int(h.point_data_record_length));
          warned_point_size = true;
        }
      } else if (first_has_attributes && !warned_attributes) {
        if (h.number_attributes != header.number_attributes) {
          print_warning("files have different number of attributes: %d vs %d\n",
                        header.number_attributes, h.number_attributes);
          warned_attributes = true;
        } else {
          for (I32 a = 0; a < header.number_attributes; a++) {
            if (memcmp(&header.attributes[a], &h.attributes[a], sizeof(LASextraAttribute)) != 0) {
              print_warning("files have different attribute %d\n", a);
              warned_attributes = true;
              break;
            }
          }
        }
      }
    }
    reader->close(true);
    i++;
  }

  if (total > I64(U32_MAX) && header.version_minor < 4) {
    print_warning(
        "on-the-fly merged LAS 1.%d files contain too many points (%lld) for single LAS 1.%d "
        "file.\n",
        int(header.version_minor), (long long)total, int(header.version_minor));
  }
  store_counts(header, total, by_return);
  point_count = total;

  F64* scale[3] = {&header.x_scale_factor, &header.y_scale_factor, &header.z_scale_factor};
  F64* offset[3] = {&header.x_offset, &header.y_offset, &header.z_offset};
  for (int a = 0; a < 3; a++) {
    if (requested_scale[a] != 0.0 && requested_scale[a] != *scale[a]) {
      if (!is_finite(requested_scale[a])) {
        print_error("cannot merge into a scale factor of %g\n", requested_scale[a]);
        return false;
      }
      *scale[a] = requested_scale[a];
      rescale = true;
    }
    if (requested_reoffset && requested_offset[a] != *offset[a]) {
      if (!is_finite(requested_offset[a])) {
        print_error("cannot merge into an offset of %g\n", requested_offset[a]);
        return false;
      }
      *offset[a] = requested_offset[a];
      reoffset = true;
    }
  }

  const bool laid_out = header.compressor_record
                            ? point.init_items(&header, header.compressor_record->items, &header)
                            : point.init_layout(&header, header.point_data_format,
                                                header.point_data_record_length, &header);
  if (!laid_out) {
    print_error("cannot set up the points of the merged files\n");
    return false;
  }
  if (have_points && !fit_quantization()) return false;
  if (rescale || reoffset) reader = make_reader();

  points_read = 0;
  next_file = 0;
  reader_open = false;
  clear_status();
  return true;
}

bool LASreaderMerged::fit_quantization() {
  static const char* const scale_names[3] = {"x_scale_factor", "y_scale_factor", " z_scale_factor"};
  static const char* const offset_names[3] = {"x_offset", "y_offset", "z_offset"};
  F64* scale[3] = {&header.x_scale_factor, &header.y_scale_factor, &header.z_scale_factor};
  F64* offset[3] = {&header.x_offset, &header.y_offset, &header.z_offset};
  const F64 mins[3] = {header.min_x, header.min_y, header.min_z};
  const F64 maxs[3] = {header.max_x, header.max_y, header.max_z};
  for (int a = 0; a < 3; a++) {
    if (fits(mins[a], maxs[a], *offset[a], *scale[a])) continue;
    const F64 old_scale = *scale[a];
    const F64 new_offset = F64(round_half_away((mins[a] + maxs[a]) / 2));
    F64 new_scale = old_scale;
    // Each step gains a decimal digit, so a finite range fits within a few hundred.
    for (int k = 0; k < 700 && !fits(mins[a], maxs[a], new_offset, new_scale); k++) {
      new_scale *= 10;
    }
    if (!is_finite(new_scale) || !fits(mins[a], maxs[a], new_offset, new_scale)) {
      print_error("cannot find a scale factor that holds the merged bounding box\n");
      return false;
    }
    if (new_scale != old_scale) {
      print_warning("i changed %s from %g to %g to accommodate enlarged bounding box\n",
                    scale_names[a], old_scale, new_scale);
      *scale[a] = new_scale;
      rescale = true;
    }
    if (!fits(mins[a], maxs[a], *offset[a], *scale[a])) {
      print_warning("i changed %s from %g to %g to accommodate enlarged bounding box\n",
                    offset_names[a], *offset[a], new_offset);
      *offset[a] = new_offset;
      reoffset = true;
    }
  }
  return true;
}

bool LASreaderMerged::outside_query(const Box& b) const {
  switch (inside) {
    case 3:
      if (b.min_x > r_max_x || b.min_y > r_max_y) return true;
      return r_min_x > b.max_x || r_min_y > b.max_y;
    case 1:
      if (b.min_x >= t_ur_x || b.min_y >= t_ur_y) return true;
      return t_ll_x > b.max_x || t_ll_y > b.max_y;
    case 2:
      if (b.min_x >= c_center_x + c_radius || b.min_y >= c_center_y + c_radius) return true;
      return c_center_x - c_radius > b.max_x || c_center_y - c_radius > b.max_y;
    default:
      return false;
  }
}

bool LASreaderMerged::open_next_file() {
  while (next_file < names.size()) {
    const size_t i = next_file++;
    if (inside && outside_query(boxes[i])) continue;
    const char* name = names[i].c_str();
    if (!reader->open(name, io_ibuffer_size, false, 0xFFFFFFFF)) {
      // The other files still deliver their points.
      print_error("could not open lasreaderlas for file '%s'. skipping it ...\n", name);
      continue;
    }
    reader_open = true;
    if (kept_transform) {
      if (files_are_flightlines) {
        kept_transform->add_set_point_source(
            U16(with_ids ? file_ids[i] + 1 : U32(files_are_flightlines) + U32(i)));
      } else if (apply_file_source_ID) {
        kept_transform->add_set_point_source(reader->header.file_source_ID);
      }
    }
    reader->set_filter(kept_filter);
    reader->set_transform(kept_transform);
    if (inside == 3) {
      reader->inside_rectangle(r_min_x, r_min_y, r_max_x, r_max_y);
    } else if (inside == 1) {
      reader->inside_tile(t_ll_x, t_ll_y, t_size);
    } else if (inside == 2) {
      reader->inside_circle(c_center_x, c_center_y, c_radius);
    }
    return true;
  }
  return false;
}

bool LASreaderMerged::fetch_point() {
  if (!reader) return false;
  for (;;) {
    if (reader_open) {
      if (reader->read_point()) {
        point.copy_from(reader->point);
        points_read++;
        return true;
      }
      if (reader->failed()) set_failed();
      if (reader->truncated()) set_truncated();
      reader->close(true);
      reader_open = false;
      point.clear_values();
    }
    if (!open_next_file()) return false;
  }
}

bool LASreaderMerged::reopen() {
  if (reader && reader_open) reader->close(true);
  reader_open = false;
  points_read = 0;
  next_file = 0;
  inside_none();
  if (kept_filter) kept_filter->reset();
  clear_status();
  return reader != nullptr;
}

void LASreaderMerged::close(bool close_stream) {
  if (reader && reader_open) {
    reader->close(close_stream);
    reader_open = false;
  }
}

I32 LASreaderMerged::get_format() const {
  if (reader && reader_open) return reader->get_format();
  return (header.compressor_record && header.compressor_record->compressor != 0) ? 2 : 1;
}

void LASreaderMerged::set_filter(LASfilter* f) {
  kept_filter = f;
}

void LASreaderMerged::set_transform(LAStransform* t) {
  kept_transform = t;
}

bool LASreaderMerged::inside_none() {
  if (inside) {
    header.min_x = orig_min_x;
    header.min_y = orig_min_y;
    header.max_x = orig_max_x;
    header.max_y = orig_max_y;
    inside = 0;
  }
  return true;
}

bool LASreaderMerged::inside_tile(F32 ll_x, F32 ll_y, F32 size) {
  t_ll_x = ll_x;
  t_ll_y = ll_y;
  t_size = size;
  t_ur_x = ll_x + size;
  t_ur_y = ll_y + size;
  record_query_box(1, ll_x, ll_y, F64(ll_x) + size - 0.001 * header.x_scale_factor,
                   F64(ll_y) + size - 0.001 * header.y_scale_factor);
  return true;
}

bool LASreaderMerged::inside_circle(F64 center_x, F64 center_y, F64 radius) {
  c_center_x = center_x;
  c_center_y = center_y;
  c_radius = radius;
  c_radius_squared = radius * radius;
  record_query_box(2, center_x - radius, center_y - radius, center_x + radius, center_y + radius);
  return true;
}

bool LASreaderMerged::inside_rectangle(F64 min_x, F64 min_y, F64 max_x, F64 max_y) {
  r_min_x = min_x;
  r_min_y = min_y;
  r_max_x = max_x;
  r_max_y = max_y;
  record_query_box(3, min_x, min_y, max_x, max_y);
  return true;
}
