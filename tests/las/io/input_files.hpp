// Small point files with known coordinates for the input selection tests.
#pragma once

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "las/core/option_text.hpp"
#include "las/io/lasreader.hpp"
#include "tests/support/las_builder.hpp"
#include "tests/support/test_data.hpp"

struct PointFile {
  U8 point_type = 1;
  U8 version_minor = 2;
  I64 points = 10;
  // Point i lies at (x0 + i * step, y0 + i % 3, i % 7).
  F64 x0 = 0.0;
  F64 y0 = 0.0;
  F64 step = 1.0;
  F64 scale = 0.01;
  F64 offset[3] = {0.0, 0.0, 0.0};
  U16 file_source_ID = 0;
  U16 point_source_ID = 0;  // 0: the builder's varying values
};

inline LasBuildSpec point_file_spec(const PointFile& f) {
  LasBuildSpec spec;
  spec.point_type = f.point_type;
  spec.version_minor = f.version_minor;
  spec.num_points = f.points;
  spec.file_source_ID = f.file_source_ID;
  for (int a = 0; a < 3; a++) {
    spec.scale[a] = f.scale;
    spec.offset[a] = f.offset[a];
  }
  const U8 type = f.point_type;
  const U16 length = las_base_record_length(type);
  spec.fill = [f, type, length](I64 i, U8* r) {
    fill_record(type, length, i, r);
    const F64 world[3] = {f.x0 + F64(i) * f.step, f.y0 + F64(i % 3), F64(i % 7)};
    I32 xyz[3];
    for (int a = 0; a < 3; a++) xyz[a] = I32(std::lround((world[a] - f.offset[a]) / f.scale));
    memcpy(r, xyz, 12);
    if (f.point_source_ID) memcpy(r + (type > 5 ? 20 : 18), &f.point_source_ID, 2);
  };
  return spec;
}

inline std::string write_point_file(const TempDir& dir, const std::string& name,
                                    const PointFile& f) {
  const std::string path = dir.file(name);
  write_las_file(path, point_file_spec(f));
  return path;
}

// Reads every point, returning its world x and point source ID.
struct ReadPoint {
  F64 x, y, z;
  U16 point_source_ID;
};

inline std::vector<ReadPoint> read_all(LASreader* reader) {
  std::vector<ReadPoint> got;
  while (reader->read_point()) {
    got.push_back({reader->point.get_x(), reader->point.get_y(), reader->point.get_z(),
                   reader->point.point_source_ID});
  }
  return got;
}
