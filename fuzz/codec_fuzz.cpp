// Decodes arbitrary bytes as a compressed point block, and as a compressor
// record: every failure must be a clean error.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "las/codec/lasrecordreader.hpp"
#include "las/codec/vorzak.hpp"
#include "las/core/bytestream_in.hpp"
#include "las/core/laspoint.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // First byte: what to decode; second: a seek target.
  const U8 mode = data[0];
  const U8 seekTo = data[1];
  data += 2;
  size -= 2;

  if (mode == 0xFF) {
    Vorzak config;
    if (config.parsePayload(data, U32(size))) config.validatePointFormat(data[0] & 15, 0);
    return 0;
  }

  const U8 type = mode % 6;
  const U16 compressor = (mode & 0x40) ? 1 : 2;
  const U16 version = (mode & 0x80) ? 1 : 2;
  const U32 chunkSizes[4] = {0, 1, 7, 50000};
  const U16 extra = (mode >> 3) & 1 ? 3 : 0;

  Vorzak config;
  std::vector<LASitem> items;
  if (!config.itemsForPointType(items, type, U16(base_point_size(type) + extra))) return 0;
  if (!config.setup(items, compressor)) return 0;
  if (compressor != 1) config.assignChunkSize(chunkSizes[(mode >> 4) & 3]);
  if (!config.assignVersion(version)) return 0;

  LASscaleOffset so;
  LASpoint point;
  if (!point.init_items(&so, config.items, nullptr)) return 0;
  LASrecordReader reader;
  if (!reader.configure(U32(config.items.size()), config.items.data(), &config)) return 0;
  ByteStreamInArrayLE in(data, I64(size));
  if (!reader.attach(&in)) return 0;
  U32 read = 0;
  bool sought = false;
  for (int failures = 0, calls = 0; calls < 250 && failures < 4; calls++) {
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
