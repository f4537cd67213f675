// Decodes arbitrary bytes as a layered point block of point type 6-10:
// every failure must be a clean error.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "las/codec/lasrecordreader.hpp"
#include "las/codec/vorzak.hpp"
#include "las/core/bytestream_in.hpp"
#include "las/core/laspoint.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  // First byte: point type, coding version, chunking, extra bytes; second:
  // which layers to decode; third: a seek target.
  const U8 mode = data[0];
  const U8 selection = data[1];
  const U8 seekTo = data[2];
  data += 3;
  size -= 3;

  // Types 6 and 7 take three quarters of the inputs.
  static const U8 types[8] = {6, 6, 6, 7, 7, 7, 8, 9};
  const U8 type = (mode & 8) ? U8(10) : types[mode & 7];
  const U16 version = (mode & 0x10) ? 4 : 3;
  const U32 chunkSizes[4] = {0, 1, 7, 50000};
  const U16 extra = (mode & 0x80) ? 17 : 2;

  Vorzak config;
  std::vector<LASitem> items;
  if (!config.itemsForPointType(items, type, U16(base_point_size(type) + extra))) return 0;
  if (!config.setup(items, Vorzak::LAYERED_CHUNKED)) return 0;
  config.assignChunkSize(chunkSizes[(mode >> 5) & 3]);
  if (!config.assignVersion(2)) return 0;
  for (LASitem& item : config.items) item.version = version;

  LASscaleOffset so;
  LASpoint point;
  if (!point.init_items(&so, config.items, nullptr)) return 0;
  // Every reader decodes all layers; the others are exercised too.
  const U32 layers = (selection & 1)
                         ? (0xFFFFFFFFu ^ (U32(selection) << 1) ^ (U32(selection) << 15))
                         : 0xFFFFFFFFu;
  LASrecordReader reader(layers);
  if (!reader.configure(U32(config.items.size()), config.items.data(), &config)) return 0;
  ByteStreamInArrayLE in(data, I64(size));
  if (!reader.attach(&in)) return 0;
  U32 read = 0;
  bool sought = false;
  for (int failures = 0, calls = 0; read < 200 && failures < 4 && calls < 400; calls++) {
    if (reader.readRecord(point.item_targets.data())) {
      read++;
    } else {
      failures++;
    }
    if (read == 50 && !sought) {
      sought = true;
      if (reader.seekRecord(read, seekTo)) read = seekTo;
    }
  }
  reader.verifyEnd();
  return 0;
}
