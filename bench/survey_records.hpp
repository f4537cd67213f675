// Records of a synthetic survey made by our generator: smooth terrain, scan
// lines and GPS times as a real flight gives them, for figures that reflect
// survey data rather than the stress patterns of the tests.
#pragma once

#include <vector>

#include "las/core/lasheader.hpp"
#include "las/core/laspoint.hpp"
#include "tools/survey_generator.hpp"

namespace bench_data {

// `count` raw records of `type` (base record size), back to back in flight
// order, as records of the item layout `p` is given here.
inline std::vector<std::vector<U8>> surveyRecords(U8 type, U32 count) {
  SurveySpec spec;
  spec.flightlines = 8;
  spec.points = count;
  spec.point_type = type;
  spec.seed = 11;
  LASheader header;
  make_survey_header(spec, header);
  LASpoint p;
  p.init_layout(&header, type, base_point_size(type), nullptr);
  std::vector<std::vector<U8>> records;
  records.reserve(count);
  generate_survey(spec, p, [&](const LASpoint& q) {
    std::vector<U8> r;
    for (size_t i = 0; i < q.items.size(); i++) {
      r.insert(r.end(), q.item_targets[i], q.item_targets[i] + q.items[i].size);
    }
    records.push_back(std::move(r));
    return true;
  });
  return records;
}

}  // namespace bench_data
