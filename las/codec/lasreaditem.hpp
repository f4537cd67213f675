// Item readers: one per item of a stored point record. Raw readers copy the
// stored bytes; compressed readers decode them from an entropy-coded chunk.
#pragma once

#include "las/core/types.hpp"

class LASreadItem {
 public:
  // `item` is where the item's bytes go in the point; `context` starts at 0
  // for every record and is handed from item to item. Throws EndOfData or
  // DecodingError on truncated or corrupt input.
  virtual void readItem(U8* item, U32& context) = 0;
  virtual ~LASreadItem() = default;
};

class LASreadItemCompressed : public LASreadItem {
 public:
  // Layered codecs read their per-layer byte counts here; others read nothing.
  virtual bool readLayerSizes() { return true; }
  // Called with the raw first record of every chunk.
  virtual bool startChunk(U8* item, U32& context) = 0;

  // Where the current chunk's bytes end in the stream (the next chunk's
  // start), -1 when unknown. Layered readers check their layer sizes against
  // it.
  void setChunkEnd(I64 end) { chunkEnd_ = end; }
  I64 chunkEnd() const { return chunkEnd_; }

 private:
  I64 chunkEnd_ = -1;
};
