// survey_summary [-itrl] file.las [...]: per flightline, how many points
// carry each kind of mark, so the demo can show what the tool did. With
// -itrl every file is read with the layers of its TRL file applied.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "las/core/messages.hpp"
#include "las/io/lasreader_las.hpp"
#include "las/layers/lasapply.hpp"

namespace {

struct Counts {
  I64 points = 0;
  I64 class12 = 0;
  I64 withheld = 0;
  I64 overlap = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
  const bool layers = argc > 1 && strcmp(argv[1], "-itrl") == 0;
  const int first = layers ? 2 : 1;
  if (argc <= first) {
    print_message("usage: survey_summary [-itrl] file.las [file.las ...]\n");
    return 1;
  }
  int code = 0;
  for (int i = first; i < argc; i++) {
    auto las = std::make_unique<LASreaderLAS>();
    if (!las->open(argv[i])) {
      code = 1;
      continue;
    }
    std::unique_ptr<LASreader> reader = std::move(las);
    if (layers) {
      auto apply = std::make_unique<LASapply>();
      if (!apply->open(argv[i], std::move(reader), 65536) || !apply->load(2147483647)) {
        code = 1;
        continue;
      }
      reader = std::move(apply);
    }
    std::map<U16, Counts> lines;
    Counts all;
    while (reader->read_point()) {
      const LASpoint& p = reader->point;
      Counts& c = lines[p.point_source_ID];
      const bool cls = (p.is_extended() ? p.extended_classification : p.classification) == 12;
      for (Counts* k : {&c, &all}) {
        k->points++;
        k->class12 += cls;
        k->withheld += p.withheld_flag;
        k->overlap += p.get_overlap_flag();
      }
    }
    printf("%s%s: point format %d, %" PRId64 " points\n", argv[i], layers ? " with its layers" : "",
           int(reader->header.point_data_format & 0x7F), all.points);
    printf("  %-10s %10s %10s %10s %10s\n", "flightline", "points", "class 12", "withheld",
           "overlap");
    for (const auto& [id, c] : lines) {
      printf("  %-10d %10" PRId64 " %10" PRId64 " %10" PRId64 " %10" PRId64 "\n", int(id), c.points,
             c.class12, c.withheld, c.overlap);
    }
    if (reader->failed()) code = 1;
    reader->close();
  }
  return code;
}
