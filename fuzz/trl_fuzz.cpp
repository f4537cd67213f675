// Feeds damaged layer records to the layer reader. Random bytes would rarely
// get past a layer header, so the input picks a layer kind and how it is
// written, a valid record of it is made, and the rest of the input damages
// that record (byte overwrites, then an optional cut) before it is read back
// and applied.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"
#include "las/core/lasitem.hpp"
#include "las/layers/tierling_other.hpp"
#include "las/layers/tierling_replace.hpp"
#include "las/layers/trl_file.hpp"

namespace {

struct Kind {
  U8 format;
  std::function<std::unique_ptr<Tierling>()> make;
};

const std::vector<Kind>& kinds() {
  static const std::vector<Kind> k = {
      {3, [] { return std::make_unique<TierlingReplaceWithheldFlagCompressed>(); }},
      {7, [] { return std::make_unique<TierlingReplaceOverlapFlagCompressed>(); }},
      {3,
       [] {
         return std::make_unique<TierlingReplaceClassificationCompressed>(std::vector<U8>{}, false);
       }},
      {3,
       [] {
         return std::make_unique<TierlingReplaceClassificationCompressed>(std::vector<U8>{12},
                                                                          true);
       }},
      {3, [] { return std::make_unique<TierlingReplaceClassificationRaw>(); }},
      {3, [] { return std::make_unique<TierlingReplaceUserDataCompressed>(0, 255); }},
      {3, [] { return std::make_unique<TierlingReplaceUserDataRaw>(); }},
      {3, [] { return std::make_unique<TierlingReplaceUserDataRaw>(false, 3); }},
      {3, [] { return std::make_unique<TierlingReplaceZCompressed>(); }},
      {3, [] { return std::make_unique<TierlingReplaceZRaw>(16); }},
      {7, [] { return std::make_unique<TierlingReplaceExtendedLAS14AttributesCompressed>(); }},
      {3, [] { return std::make_unique<TierlingDeletePointsCompressed>(); }},
      {3, [] { return std::make_unique<TierlingReplaceIntensityCompressed>(true, false); }},
      {1, [] { return std::make_unique<TierlingAddRGBRaw>(); }},
      {1, [] { return std::make_unique<TierlingAddRGBCompressed>(true, false); }},
      {1, [] { return std::make_unique<TierlingAddRGBCompressed>(false, true); }},
      {7, [] { return std::make_unique<TierlingAddNIRCompressed>(); }},
      {3, [] { return std::make_unique<TierlingDiffXYZCompressed>(); }},
      {3, [] { return std::make_unique<TierlingChangeHeader>(); }},
      {3, [] { return std::make_unique<TierlingAppendPointsRaw>(); }},
      {3, [] { return std::make_unique<TierlingFilter>("-drop_class 3"); }},
      {3, [] { return std::make_unique<TierlingTransform>("-translate_x 1"); }},
      {3, [] { return std::make_unique<TierlingAddVLR>("id", 1, std::vector<U8>(5, 1)); }},
  };
  return k;
}

void set_format(LASheader& h, U8 format) {
  h.point_data_format = format;
  h.point_data_record_length = base_point_size(format);
  h.version_minor = format >= 6 ? 4 : 2;
  h.number_of_point_records = 40;
}

// The point as read and as written, varied over every field a layer keeps.
void fill(int i, LASpoint& read, LASpoint& written) {
  static const U8 kReturns[4][2] = {{1, 1}, {1, 3}, {3, 3}, {2, 3}};
  for (LASpoint* p : {&read, &written}) {
    p->return_number = kReturns[i % 4][0];
    p->number_of_returns = kReturns[i % 4][1];
    p->X = i * 7;
    p->Y = i * 3;
    p->Z = i;
  }
  read.classification = U8((i * 5) % 32);
  written.X += i % 3;
  written.Z -= i % 5;
  written.classification = U8(i % 32);
  written.withheld_flag = i & 1;
  written.set_overlap_flag(i % 3 == 0);
  written.user_data = U8(i % 8);
  written.intensity = U16(i * 37);
  written.rgb[0] = U16(i % 256);
  written.rgb[1] = U16((7 * i) % 256);
  written.rgb[2] = U16(i % 256);
  written.rgb[3] = U16(i * 3);
  written.marked_deleted = i % 4 == 1;
  written.extended_scan_angle = I16(i * 100 - 500);
  written.extended_classification = U8(i * 9);
  written.extended_scanner_channel = U8(i % 4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const Kind& kind = kinds()[data[0] % kinds().size()];
  const U8 how = data[1];
  data += 2;
  size -= 2;

  LASheader written_header;
  set_format(written_header, kind.format);
  std::unique_ptr<Tierling> layer = kind.make();
  if (how & 1) {
    const F64 rules[] = {F64(LASignore::WITHHELD | 1), 8.0};
    U32 position = 0;
    static_cast<LASignore&>(*layer).decode(&position, 2, rules);
  }
  layer->set_modification_mask((how & 2) ? 0x30 | 0x1000 | 0x400000 : 0);
  layer->set_description("fuzz");
  layer->set_header(&written_header);
  LASpoint read, written;
  read.init_layout(&written_header, written_header.point_data_format,
                   written_header.point_data_record_length, nullptr);
  written.init_layout(&written_header, written_header.point_data_format,
                      written_header.point_data_record_length, nullptr);
  ByteStreamOutArrayLE out;
  if (!layer->start_writing((how & 4) ? nullptr : &out)) return 0;
  for (int i = 0; i < 40; i++) {
    read.clear_values();
    written.clear_values();
    fill(i, read, written);
    layer->record(read, written);
  }
  if (!layer->done_writing(&out)) return 0;

  // Damage: (position, value) pairs, then a cut when the input has an odd
  // byte left.
  std::vector<U8> bytes(out.data(), out.data() + out.size());
  size_t k = 0;
  for (; k + 3 <= size; k += 3) {
    const size_t at = (size_t(data[k]) << 8 | data[k + 1]) % bytes.size();
    bytes[at] = data[k + 2];
  }
  if (k < size) bytes.resize(bytes.size() * data[k] / 256);

  LASheader header;
  set_format(header, kind.format);
  LASpoint point;
  point.init_layout(&header, header.point_data_format, header.point_data_record_length, nullptr);
  ByteStreamInArrayLE in(bytes.data(), I64(bytes.size()));
  std::unique_ptr<Tierling> back = trl::read_tierling(&in, &header);
  if (!back || !back->start_reading(&in) || !back->adjust_point(&point)) return 0;
  LASpoint scratch;
  scratch.init_layout(&header, header.point_data_format, header.point_data_record_length, nullptr);
  for (int i = 0; i < 60; i++) {
    point.clear_values();
    fill(i, point, scratch);
    if (!back->apply(&point)) break;
  }
  for (int i = 0; i < 100 && back->next_appended_point(&point); i++) {
  }
  back->done_reading();
  return 0;
}
