// Writes point records to the point block of a LAS or VZK file: raw records,
// one point-wise coded stream, or chunks with a closing chunk table.
#pragma once

#include <memory>
#include <vector>

#include "las/codec/entropy_coder.hpp"
#include "las/codec/lasitem_raw.hpp"
#include "las/codec/laswriteitem.hpp"
#include "las/codec/vorzak.hpp"

class LASrecordWriter {
 public:
  LASrecordWriter();
  ~LASrecordWriter();
  LASrecordWriter(const LASrecordWriter&) = delete;
  LASrecordWriter& operator=(const LASrecordWriter&) = delete;

  // `config` nullptr or compressor 0 writes raw records; otherwise its item
  // list must equal `items`.
  bool configure(U32 num_items, const LASitem* items, const Vorzak* config);
  bool attach(ByteStreamOut* stream);
  // One pointer per item, as LASpoint::item_targets.
  bool writeRecord(const U8* const* item_buffers);
  // Ends the current chunk (adaptive chunking only).
  bool endChunk();
  bool finish();

  U32 numberOfChunks() const { return chunkBytes_.size(); }
  // The table codes chunk sizes in 32 bits and readers take them as signed,
  // so no chunk may reach 2^31 bytes. Lower limits serve tests.
  void setChunkByteLimit(U64 limit) { chunkByteLimit_ = limit; }

 private:
  enum class List { NONE, RAW, COMPRESSED };
  bool chunked() const { return compressor_ >= Vorzak::POINTWISE_CHUNKED; }
  bool startNewChunk();
  bool closeCoding();
  bool addTableEntry();
  bool writeChunkTable();
  U64 currentChunkBytes() const;

  ByteStreamOut* stream_ = nullptr;
  U32 numItems_ = 0;
  U32 recordLength_ = 0;
  // Raw records of byte-image items are gathered and written in one call.
  bool plainRecord_ = false;
  std::vector<U32> itemSizes_;
  std::vector<U8> record_;
  U16 compressor_ = 0;
  List current_ = List::NONE;
  std::vector<std::unique_ptr<LASwriteItemRaw>> rawWriters_;
  std::vector<std::unique_ptr<LASwriteItemCompressed>> compressedWriters_;
  std::unique_ptr<EntropyEncoder> encoder_;
  bool layered_ = false;
  U32 chunkSize_ = U32_MAX;
  U32 pointsInChunk_ = 0;
  U32 numChunks_ = 0;
  std::vector<U32> chunkCounts_;
  std::vector<U32> chunkBytes_;
  I64 chunkStart_ = 0;
  I64 tablePointerPosition_ = -1;
  U64 chunkByteLimit_ = 0x7FFFFFFF;
};
