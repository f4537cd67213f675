// las_copy in.las out.las [-passes N]: reads the input N times (default 2)
// and writes it on the last pass. The baseline the tool's end-to-end
// benchmark is measured against: the tool reads twice and writes once.
#include <cstdlib>
#include <cstring>

#include "las/core/messages.hpp"
#include "las/io/lasreader_las.hpp"
#include "las/io/laswriter_las.hpp"

int main(int argc, char* argv[]) {
  if (argc < 3) {
    print_message("usage: las_copy in.las out.las [-passes 2]\n");
    return 1;
  }
  int passes = 2;
  if (argc >= 5 && strcmp(argv[3], "-passes") == 0) passes = atoi(argv[4]);
  if (passes < 1) passes = 1;
  const char* out = argv[2];
  const size_t n = strlen(out);
  const bool vzk = n > 4 && strcmp(out + n - 4, ".vzk") == 0;
  for (int pass = 1; pass <= passes; pass++) {
    LASreaderLAS reader;
    if (!reader.open(argv[1])) return 1;
    if (pass < passes) {
      while (reader.read_point()) {
      }
    } else {
      LASwriterLAS writer;
      const U32 compressor = vzk ? (reader.header.point_data_format >= 6 ? 3 : 2) : 0;
      if (!writer.open(out, &reader.header, compressor)) return 1;
      while (reader.read_point()) {
        if (!writer.write_point(&reader.point)) return 1;
      }
      writer.close();
    }
    if (reader.failed()) return 1;
    reader.close();
  }
  return 0;
}
