// Reads point records from the point block of a LAS or VZK file: raw
// records, one point-wise coded stream, or chunks located by a chunk table.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "las/codec/entropy_coder.hpp"
#include "las/codec/lasitem_raw.hpp"
#include "las/codec/lasreaditem.hpp"
#include "las/codec/vorzak.hpp"
#include "las/core/laspoint.hpp"

class LASrecordReader {
 public:
  explicit LASrecordReader(U32 layerSelection = 0xFFFFFFFF);
  ~LASrecordReader();
  LASrecordReader(const LASrecordReader&) = delete;
  LASrecordReader& operator=(const LASrecordReader&) = delete;

  bool configure(U32 num_items, const LASitem* items, const Vorzak* config);
  // The stream must stand at the start of the point block.
  bool attach(ByteStreamIn* stream);
  bool detach();
  // One pointer per item, as LASpoint::item_targets. On failure the error
  // text says why.
  bool readRecord(U8* const* item_buffers);
  bool seekRecord(U32 current, U32 target);
  // After the last record: checks that the last chunk ended where the next
  // one (or the chunk table) begins.
  bool verifyEnd();

  const std::string& errorText() const { return error_; }
  const std::string& warningText() const { return warning_; }
  bool hasError() const { return !error_.empty(); }
  bool hasWarning() const { return !warning_.empty(); }

  U32 chunkSize() const { return chunkSize_; }
  U32 tabledChunks() const { return tabledChunks_; }
  // File positions of the chunks known so far (and of the table after them).
  const std::vector<I64>& chunkStarts() const { return chunkStarts_; }

 private:
  enum class List { NONE, RAW, COMPRESSED };
  bool startDecoding();
  bool readChunkTable();
  bool readChunkTableBody(I64 tablePosition, I64 firstChunk, I64 end, bool& countRead);
  bool moveToChunk(U32 chunk);
  bool skipRecords(U64 count);
  void markBroken();
  void setError(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void setWarning(const char* format, ...) __attribute__((format(printf, 2, 3)));

  ByteStreamIn* stream_ = nullptr;
  U32 numItems_ = 0;
  List current_ = List::NONE;
  std::vector<std::unique_ptr<LASreadItemRaw>> rawReaders_;
  std::vector<std::unique_ptr<LASreadItemCompressed>> compressedReaders_;
  std::unique_ptr<EntropyDecoder> decoder_;
  bool layered_ = false;
  U16 compressor_ = 0;
  bool adaptiveChunks_ = false;
  U32 configuredChunkSize_ = U32_MAX;
  U32 chunkSize_ = U32_MAX;
  U32 pointsInChunk_ = 0;
  U32 currentChunk_ = 0;
  U32 numChunks_ = 0;
  U32 tabledChunks_ = 0;
  // Whether the table listed every chunk; then no records lie beyond them.
  bool tableComplete_ = false;
  std::vector<I64> chunkStarts_;
  std::vector<U64> chunkTotals_;  // cumulative point counts (adaptive chunking)
  U32 layerSelection_;
  I64 dataStart_ = 0;
  bool chunkStarted_ = false;
  bool broken_ = false;
  std::string brokenText_;
  I64 lastChunkEnd_ = -1;   // end of the last fixed-size chunk, -1 elsewhere
  U32 layeredRecords_ = 0;  // records of the current layered chunk
  U32 recordLength_ = 0;
  // Raw records of byte-image items move in one read and are split here.
  bool plainRecord_ = false;
  std::vector<U32> itemSizes_;
  std::vector<U8> record_;
  LASpoint scratch_;
  std::string error_;
  std::string warning_;
};
