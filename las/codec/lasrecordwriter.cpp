#include "las/codec/lasrecordwriter.hpp"

#include <algorithm>
#include <cstring>

#include "las/codec/int_delta_coder.hpp"
#include "las/codec/lasitem_factory.hpp"
#include "las/core/messages.hpp"

LASrecordWriter::LASrecordWriter() = default;
LASrecordWriter::~LASrecordWriter() = default;

static bool sameItems(U32 num_items, const LASitem* items, const Vorzak& config) {
  if (num_items != config.items.size()) return false;
  for (U32 i = 0; i < num_items; i++) {
    if (!(items[i] == config.items[i])) return false;
  }
  return true;
}

// Raw codecs move fixed byte counts, so a size that disagrees with the type
// would desynchronise every record.
static bool usableItem(const LASitem& item) {
  if (!LASitem::known_type(item.type)) return false;
  if (item.type == LASitem::BYTE || item.type == LASitem::BYTE14) return item.size >= 1;
  return item.size == LASitem::fixed_size(item.type);
}

bool LASrecordWriter::configure(U32 num_items, const LASitem* items, const Vorzak* config) {
  rawWriters_.clear();
  compressedWriters_.clear();
  encoder_.reset();
  layered_ = false;
  compressor_ = Vorzak::NONE;
  chunkSize_ = U32_MAX;
  pointsInChunk_ = 0;
  numChunks_ = 0;
  chunkCounts_.clear();
  chunkBytes_.clear();
  current_ = List::NONE;
  numItems_ = 0;
  recordLength_ = 0;
  plainRecord_ = false;
  itemSizes_.clear();
  if (num_items == 0 || items == nullptr) return false;
  if (config) {
    if (!sameItems(num_items, items, *config)) return false;
    if (config->compressor > Vorzak::LAYERED_CHUNKED) return false;
    if (config->compressor != Vorzak::NONE) {
      if (config->coder != 0) return false;
      compressor_ = config->compressor;
      encoder_ = std::make_unique<EntropyEncoder>();
      layered_ = (compressor_ == Vorzak::LAYERED_CHUNKED);
    }
  }
  for (U32 i = 0; i < num_items; i++) {
    if (!usableItem(items[i])) return false;
    std::unique_ptr<LASwriteItemRaw> raw = makeWriteItemRaw(items[i]);
    if (!raw) return false;
    rawWriters_.push_back(std::move(raw));
    recordLength_ += items[i].size;
    itemSizes_.push_back(items[i].size);
  }
  numItems_ = num_items;
  plainRecord_ = std::none_of(items, items + num_items,
                              [](const LASitem& item) { return item.type == LASitem::POINT14; });
  record_.assign(recordLength_, 0);
  if (!encoder_) return true;
  for (U32 i = 0; i < num_items; i++) {
    std::unique_ptr<LASwriteItemCompressed> writer =
        layered_ ? makeWriteItemLayered(items[i], *encoder_)
                 : makeWriteItemCompressed(items[i], *encoder_);
    if (!writer) return false;
    compressedWriters_.push_back(std::move(writer));
  }
  if (compressor_ == Vorzak::POINTWISE) return true;
  chunkSize_ = config->chunk_size ? config->chunk_size : U32_MAX;
  pointsInChunk_ = 0;
  numChunks_ = U32_MAX;
  return true;
}

bool LASrecordWriter::attach(ByteStreamOut* stream) {
  if (stream == nullptr || numItems_ == 0) return false;
  stream_ = stream;
  if (numChunks_ == U32_MAX) {
    numChunks_ = 0;
    tablePointerPosition_ = stream->isSeekable() ? stream->tell() : -1;
    if (!stream->put64(U64(tablePointerPosition_))) return false;
    chunkStart_ = stream->tell();
  }
  for (auto& writer : rawWriters_) writer->init(stream);
  current_ = encoder_ ? List::NONE : List::RAW;
  return true;
}

U64 LASrecordWriter::currentChunkBytes() const {
  U64 bytes = U64(stream_->tell() - chunkStart_) + encoder_->heldBytes();
  if (layered_) {
    for (const auto& writer : compressedWriters_) bytes += writer->pendingLayerBytes();
  }
  return bytes;
}

bool LASrecordWriter::startNewChunk() {
  if (!closeCoding() || !addTableEntry() || !attach(stream_)) return false;
  pointsInChunk_ = 0;
  return true;
}

bool LASrecordWriter::writeRecord(const U8* const* item_buffers) {
  if (stream_ == nullptr) return false;
  if (chunked() && current_ == List::COMPRESSED) {
    if (pointsInChunk_ == chunkSize_) {
      if (!startNewChunk()) return false;
    } else if (currentChunkBytes() + 4 * U64(recordLength_) + 65536 > chunkByteLimit_) {
      // One more record could push the chunk past what the table can hold.
      if (chunkSize_ != U32_MAX) {
        print_error("chunk %u would exceed %" PRIu64 " bytes. use a smaller chunk size\n",
                    numChunks_, chunkByteLimit_);
        return false;
      }
      if (!startNewChunk()) return false;
    }
  }
  pointsInChunk_++;
  U32 context = 0;
  if (current_ == List::NONE) {
    for (U32 i = 0; i < numItems_; i++) {
      if (!rawWriters_[i]->writeItem(item_buffers[i], context)) return false;
      if (!compressedWriters_[i]->startChunk(item_buffers[i], context)) return false;
    }
    current_ = List::COMPRESSED;
    return encoder_->start(stream_);
  }
  if (current_ == List::COMPRESSED) {
    for (U32 i = 0; i < numItems_; i++) {
      if (!compressedWriters_[i]->writeItem(item_buffers[i], context)) return false;
    }
    return true;
  }
  if (plainRecord_) {
    U8* to = record_.data();
    for (U32 i = 0; i < numItems_; i++) {
      copyItemBytes(to, item_buffers[i], itemSizes_[i]);
      to += itemSizes_[i];
    }
    return stream_->writeBytes(record_.data(), recordLength_);
  }
  for (U32 i = 0; i < numItems_; i++) {
    if (!rawWriters_[i]->writeItem(item_buffers[i], context)) return false;
  }
  return true;
}

bool LASrecordWriter::closeCoding() {
  if (layered_) {
    if (!stream_->put32(pointsInChunk_)) return false;
    for (auto& writer : compressedWriters_) {
      if (!writer->writeLayerSizes()) return false;
    }
    for (auto& writer : compressedWriters_) {
      if (!writer->writeLayerBytes()) return false;
    }
    return true;
  }
  return encoder_->finish();
}

bool LASrecordWriter::addTableEntry() {
  if (chunkBytes_.size() == chunkBytes_.capacity()) {
    const size_t grown = chunkBytes_.empty() ? 1024 : 2 * chunkBytes_.capacity();
    chunkBytes_.reserve(grown);
    if (chunkSize_ == U32_MAX) chunkCounts_.reserve(grown);
  }
  const I64 position = stream_->tell();
  const U64 bytes = U64(position - chunkStart_);
  if (bytes > chunkByteLimit_) {
    print_error("chunk %u has %" PRIu64 " bytes, more than a chunk table can hold\n", numChunks_,
                bytes);
    return false;
  }
  if (chunkSize_ == U32_MAX) chunkCounts_.push_back(pointsInChunk_);
  chunkBytes_.push_back(U32(bytes));
  numChunks_++;
  chunkStart_ = position;
  return true;
}

bool LASrecordWriter::endChunk() {
  if (!chunked() || chunkSize_ != U32_MAX || stream_ == nullptr) return false;
  // An empty chunk would table a count of zero, which no reader accepts.
  if (current_ != List::COMPRESSED) return true;
  return startNewChunk();
}

bool LASrecordWriter::writeChunkTable() {
  const I64 position = stream_->tell();
  if (tablePointerPosition_ != -1) {
    if (!stream_->seek(tablePointerPosition_) || !stream_->put64(U64(position)) ||
        !stream_->seek(position)) {
      return false;
    }
  }
  if (!stream_->put32(0) || !stream_->put32(numChunks_)) return false;
  if (numChunks_ > 0) {
    if (!encoder_->start(stream_)) return false;
    IntDeltaCoder coder(*encoder_, 32, 2, 8, 0);
    coder.startEncoding();
    const bool adaptive = (chunkSize_ == U32_MAX);
    for (U32 i = 0; i < numChunks_; i++) {
      if (adaptive) coder.encode(i ? I32(chunkCounts_[i - 1]) : 0, I32(chunkCounts_[i]), 0);
      coder.encode(i ? I32(chunkBytes_[i - 1]) : 0, I32(chunkBytes_[i]), 1);
    }
    if (!encoder_->finish()) return false;
  }
  if (tablePointerPosition_ == -1) return stream_->put64(U64(position));
  return true;
}

bool LASrecordWriter::finish() {
  if (stream_ == nullptr) return false;
  bool ok = true;
  if (current_ == List::COMPRESSED) {
    ok = closeCoding();
    if (ok && chunked()) {
      if (pointsInChunk_ > 0) ok = addTableEntry();
      if (ok) ok = writeChunkTable();
    }
  } else if (current_ == List::NONE && chunked()) {
    ok = writeChunkTable();
  }
  current_ = List::RAW;
  stream_ = nullptr;
  return ok;
}
