// Item writers: one per item of a stored point record. Raw writers copy the
// bytes; compressed writers code them into an entropy-coded chunk.
#pragma once

#include "las/core/types.hpp"

class LASwriteItem {
 public:
  // False when the stream refuses the bytes.
  virtual bool writeItem(const U8* item, U32& context) = 0;
  virtual ~LASwriteItem() = default;
};

class LASwriteItemCompressed : public LASwriteItem {
 public:
  // Called with the raw first record of every chunk.
  virtual bool startChunk(const U8* item, U32& context) = 0;
  // Layered codecs emit their per-layer byte counts, then the layer bytes.
  virtual bool writeLayerSizes() { return true; }
  virtual bool writeLayerBytes() { return true; }
  // Bytes held back in layers that are not yet on the stream; lets the record
  // writer keep a chunk below the 32-bit size limit of the chunk table.
  virtual U64 pendingLayerBytes() const { return 0; }
};
