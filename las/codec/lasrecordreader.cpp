#include "las/codec/lasrecordreader.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "las/codec/int_delta_coder.hpp"
#include "las/codec/lasitem_factory.hpp"

LASrecordReader::LASrecordReader(U32 layerSelection) : layerSelection_(layerSelection) {}
LASrecordReader::~LASrecordReader() = default;

void LASrecordReader::setError(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  error_ = text;
}

void LASrecordReader::setWarning(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  warning_ = text;
}

static bool sameItems(U32 num_items, const LASitem* items, const Vorzak& config) {
  if (num_items != config.items.size()) return false;
  for (U32 i = 0; i < num_items; i++) {
    if (!(items[i] == config.items[i])) return false;
  }
  return true;
}

static bool usableItem(const LASitem& item) {
  if (!LASitem::known_type(item.type)) return false;
  if (item.type == LASitem::BYTE || item.type == LASitem::BYTE14) return item.size >= 1;
  return item.size == LASitem::fixed_size(item.type);
}

bool LASrecordReader::configure(U32 num_items, const LASitem* items, const Vorzak* config) {
  rawReaders_.clear();
  compressedReaders_.clear();
  decoder_.reset();
  layered_ = false;
  compressor_ = Vorzak::NONE;
  adaptiveChunks_ = false;
  configuredChunkSize_ = chunkSize_ = U32_MAX;
  numChunks_ = 0;
  numItems_ = 0;
  recordLength_ = 0;
  plainRecord_ = false;
  itemSizes_.clear();
  error_.clear();
  warning_.clear();
  if (num_items == 0 || items == nullptr) {
    setError("no items to read");
    return false;
  }
  if (config) {
    if (!sameItems(num_items, items, *config)) {
      setError("items differ from those of the compressor");
      return false;
    }
    if (config->compressor > Vorzak::LAYERED_CHUNKED) {
      setError("compressor %d not supported", int(config->compressor));
      return false;
    }
    if (config->compressor != Vorzak::NONE) {
      if (config->coder != 0) {
        setError("coder %d not supported", int(config->coder));
        return false;
      }
      compressor_ = config->compressor;
      decoder_ = std::make_unique<EntropyDecoder>();
      layered_ = (compressor_ == Vorzak::LAYERED_CHUNKED);
    }
  }
  for (U32 i = 0; i < num_items; i++) {
    std::unique_ptr<LASreadItemRaw> raw =
        usableItem(items[i]) ? makeReadItemRaw(items[i]) : nullptr;
    if (!raw) {
      setError("item %s of size %d not supported", LASitem::type_name(items[i].type),
               int(items[i].size));
      return false;
    }
    rawReaders_.push_back(std::move(raw));
    recordLength_ += items[i].size;
    itemSizes_.push_back(items[i].size);
  }
  if (decoder_) {
    for (U32 i = 0; i < num_items; i++) {
      std::unique_ptr<LASreadItemCompressed> reader =
          layered_ ? makeReadItemLayered(items[i], *decoder_, layerSelection_)
                   : makeReadItemCompressed(items[i], *decoder_, layerSelection_);
      if (!reader) {
        setError("item %s of version %d not supported", LASitem::type_name(items[i].type),
                 int(items[i].version));
        return false;
      }
      compressedReaders_.push_back(std::move(reader));
    }
    // Skipped records are decoded into a point of the same layout.
    if (!scratch_.init_items(nullptr, std::vector<LASitem>(items, items + num_items), nullptr)) {
      setError("items not supported");
      return false;
    }
    if (compressor_ != Vorzak::POINTWISE) {
      adaptiveChunks_ = (config->chunk_size == 0);
      configuredChunkSize_ = chunkSize_ = adaptiveChunks_ ? U32_MAX : config->chunk_size;
      numChunks_ = U32_MAX;
    }
  }
  numItems_ = num_items;
  plainRecord_ = std::none_of(items, items + num_items,
                              [](const LASitem& item) { return item.type == LASitem::POINT14; });
  record_.assign(recordLength_, 0);
  return true;
}

bool LASrecordReader::attach(ByteStreamIn* stream) {
  if (stream == nullptr || numItems_ == 0) return false;
  stream_ = stream;
  for (auto& reader : rawReaders_) reader->init(stream);
  error_.clear();
  if (decoder_) {
    // A new attach starts at the point block again, chunk table included.
    if (compressor_ != Vorzak::POINTWISE) numChunks_ = U32_MAX;
    chunkStarts_.clear();
    chunkTotals_.clear();
    tabledChunks_ = 0;
    tableComplete_ = false;
    currentChunk_ = 0;
    chunkSize_ = configuredChunkSize_;
    pointsInChunk_ = chunkSize_;
    chunkStarted_ = false;
    broken_ = false;
    dataStart_ = 0;
    current_ = List::NONE;
  } else {
    dataStart_ = stream->tell();
    current_ = List::RAW;
  }
  return true;
}

bool LASrecordReader::detach() {
  if (decoder_) decoder_->finish();
  for (auto& reader : rawReaders_) reader->init(nullptr);
  stream_ = nullptr;
  return true;
}

bool LASrecordReader::startDecoding() {
  if (numChunks_ == U32_MAX) {
    if (!readChunkTable()) return false;
    currentChunk_ = 0;
    if (adaptiveChunks_ && chunkTotals_.size() >= 2) {
      chunkSize_ = U32(chunkTotals_[1] - chunkTotals_[0]);
    }
  }
  dataStart_ = stream_->tell();
  current_ = List::NONE;
  broken_ = false;
  return true;
}

bool LASrecordReader::readRecord(U8* const* item_buffers) {
  if (!error_.empty()) error_.clear();
  if (stream_ == nullptr) {
    setError("no input stream");
    return false;
  }
  // The decoder stopped inside this chunk; nothing more comes from it.
  if (broken_) {
    error_ = brokenText_;
    return false;
  }
  try {
    U32 context = 0;
    if (!decoder_) {
      if (plainRecord_) {
        stream_->readBytes(record_.data(), recordLength_);
        const U8* from = record_.data();
        for (U32 i = 0; i < numItems_; i++) {
          copyItemBytes(item_buffers[i], from, itemSizes_[i]);
          from += itemSizes_[i];
        }
        return true;
      }
      for (U32 i = 0; i < numItems_; i++) rawReaders_[i]->readItem(item_buffers[i], context);
      return true;
    }
    if (pointsInChunk_ == chunkSize_) {
      if (chunkStarted_) {
        decoder_->finish();
        currentChunk_++;
        if (currentChunk_ < tabledChunks_ && stream_->tell() != chunkStarts_[currentChunk_]) {
          currentChunk_--;
          throw DecodingError();
        }
      }
      if (!startDecoding()) return false;
      chunkStarted_ = true;
      // Past the last tabled chunk lies the table itself, not records.
      if (tableComplete_ && currentChunk_ >= numChunks_) throw EndOfData();
      if (currentChunk_ == tabledChunks_) {
        if (chunkStarts_.size() == chunkStarts_.capacity()) {
          chunkStarts_.reserve(chunkStarts_.size() + 256);
        }
        chunkStarts_.push_back(dataStart_);
        tabledChunks_++;
      } else if (adaptiveChunks_) {
        chunkSize_ = U32(chunkTotals_[currentChunk_ + 1] - chunkTotals_[currentChunk_]);
      }
      pointsInChunk_ = 0;
    }
    pointsInChunk_++;
    if (current_ == List::COMPRESSED) {
      // Records beyond the last chunk's own would be decoded from the table.
      if (layered_ && pointsInChunk_ > layeredRecords_) throw EndOfData();
      for (U32 i = 0; i < numItems_; i++) {
        compressedReaders_[i]->readItem(item_buffers[i], context);
      }
      if (lastChunkEnd_ >= 0 && stream_->tell() > lastChunkEnd_) throw EndOfData();
      return true;
    }
    // Only the last chunk of fixed size holds an unknown number of records.
    lastChunkEnd_ = (!adaptiveChunks_ && tableComplete_ && currentChunk_ + 1 == numChunks_)
                        ? chunkStarts_[numChunks_]
                        : -1;
    for (U32 i = 0; i < numItems_; i++) rawReaders_[i]->readItem(item_buffers[i], context);
    if (layered_) {
      decoder_->start(stream_, false);
      layeredRecords_ = stream_->get32();
      if (layeredRecords_ == 0) throw DecodingError();
      // The layers must lie before the next chunk when its start is known;
      // otherwise a truncated chunk ends at the end of the input.
      const I64 chunkEnd =
          (currentChunk_ + 1 < chunkStarts_.size()) ? chunkStarts_[currentChunk_ + 1] : -1;
      for (auto& reader : compressedReaders_) {
        reader->setChunkEnd(chunkEnd);
        if (!reader->readLayerSizes()) throw DecodingError();
      }
      for (U32 i = 0; i < numItems_; i++) {
        if (!compressedReaders_[i]->startChunk(item_buffers[i], context)) throw DecodingError();
      }
    } else {
      for (U32 i = 0; i < numItems_; i++) {
        if (!compressedReaders_[i]->startChunk(item_buffers[i], context)) throw DecodingError();
      }
      decoder_->start(stream_, true);
    }
    current_ = List::COMPRESSED;
    return true;
  } catch (const EndOfData&) {
    if (decoder_) {
      setError("end-of-file during chunk with index %u", currentChunk_);
      markBroken();
    } else {
      error_ = "end-of-file";
    }
  } catch (const DecodingError&) {
    setError("chunk with index %u of %u is corrupt", currentChunk_, tabledChunks_);
    if (currentChunk_ + 1 < tabledChunks_ && stream_->seek(chunkStarts_[currentChunk_ + 1])) {
      pointsInChunk_ = chunkSize_;
    } else {
      markBroken();
    }
  }
  return false;
}

void LASrecordReader::markBroken() {
  // The decoder may have stopped halfway through renormalising.
  broken_ = true;
  brokenText_ = error_;
}

bool LASrecordReader::readChunkTable() {
  I64 pointer;
  try {
    pointer = I64(stream_->get64());
  } catch (const EndOfData&) {
    setError("end-of-file while reading the chunk table pointer");
    return false;
  }
  const I64 firstChunk = stream_->tell();
  chunkTotals_.clear();
  tableComplete_ = false;
  if (pointer == firstChunk - 8) {
    if (adaptiveChunks_) {
      setError("compressor was interrupted before writing adaptive chunk table of VZK file");
      return false;
    }
    chunkStarts_.reserve(257);
    chunkStarts_.assign(1, firstChunk);
    tabledChunks_ = 1;
    numChunks_ = 0;
    setWarning("compressor was interrupted before writing chunk table of VZK file");
    return true;
  }
  if (!stream_->isSeekable()) {
    if (adaptiveChunks_) {
      setError("adaptive chunk table of VZK file cannot be read from a stream that cannot seek");
      return false;
    }
    chunkStarts_.clear();
    numChunks_ = tabledChunks_ = 0;
    return true;
  }
  if (pointer == -1) {
    try {
      if (!stream_->seekEnd(8)) throw EndOfData();
      pointer = I64(stream_->get64());
    } catch (const EndOfData&) {
      setError("cannot read the chunk table pointer at the end of the VZK file");
      return false;
    }
  }
  if (!stream_->seekEnd(0)) {
    setError("cannot seek to the end of the VZK file");
    return false;
  }
  const I64 end = stream_->tell();
  bool countRead = false;
  if (readChunkTableBody(pointer, firstChunk, end, countRead)) {
    tableComplete_ = true;
    tabledChunks_ = numChunks_ + 1;
    if (!stream_->seek(firstChunk)) {
      setError("cannot seek to the first chunk of the VZK file");
      return false;
    }
    return true;
  }
  decoder_->finish();
  chunkTotals_.clear();
  char text[160];
  if (pointer < end) {
    snprintf(text, sizeof(text), "corrupt chunk table");
  } else if (pointer > end) {
    snprintf(text, sizeof(text),
             "chunk table and %" PRId64
             " bytes are missing. VZK file truncated during copy or "
             "transfer?",
             pointer - end);
  } else {
    snprintf(text, sizeof(text), "chunk table is missing. improper use of VZK compressor?");
  }
  if (adaptiveChunks_) {
    error_ = text;
    return false;
  }
  if (!countRead || chunkStarts_.empty()) {
    chunkStarts_.reserve(257);
    chunkStarts_.assign(1, firstChunk);
  }
  tabledChunks_ = U32(chunkStarts_.size());
  numChunks_ = tabledChunks_ - 1;
  warning_ = text;
  if (!stream_->seek(firstChunk)) {
    setError("cannot seek to the first chunk of the VZK file");
    return false;
  }
  return true;
}

bool LASrecordReader::readChunkTableBody(I64 pointer, I64 firstChunk, I64 end, bool& countRead) {
  chunkStarts_.assign(1, firstChunk);
  // The table lies after the chunks and holds at least its two counts.
  if (pointer < firstChunk || pointer > end - 8) return false;
  try {
    if (!stream_->seek(pointer)) return false;
    if (stream_->get32() != 0) return false;
    const U32 n = stream_->get32();
    countRead = true;
    // Every chunk holds a raw record and at least four coded bytes.
    if (U64(n) > U64(pointer - firstChunk) / (U64(recordLength_) + 4)) return false;
    chunkStarts_.reserve(U64(n) + 1);
    if (adaptiveChunks_) {
      chunkTotals_.reserve(U64(n) + 1);
      chunkTotals_.push_back(0);
    }
    if (n > 0) {
      decoder_->start(stream_, true);
      IntDeltaCoder coder(*decoder_, 32, 2, 8, 0);
      coder.startDecoding();
      I32 lastCount = 0;
      I32 lastBytes = 0;
      for (U32 i = 1; i <= n; i++) {
        if (adaptiveChunks_) {
          const I32 count = coder.decode(lastCount, 0);
          if (count == 0) return false;
          lastCount = count;
          chunkTotals_.push_back(chunkTotals_.back() + U32(count));
        }
        const I32 bytes = coder.decode(lastBytes, 1);
        lastBytes = bytes;
        const I64 start = chunkStarts_.back() + I64(bytes);
        if (bytes <= 0 || start > pointer) return false;
        chunkStarts_.push_back(start);
      }
      decoder_->finish();
    }
    numChunks_ = n;
    return true;
  } catch (const EndOfData&) {
  } catch (const DecodingError&) {
  }
  return false;
}

bool LASrecordReader::moveToChunk(U32 chunk) {
  decoder_->finish();
  currentChunk_ = chunk;
  if (!stream_->seek(chunkStarts_[chunk])) return false;
  if (!startDecoding()) return false;
  chunkStarted_ = true;
  pointsInChunk_ = 0;
  return true;
}

bool LASrecordReader::skipRecords(U64 count) {
  U8* const* targets = scratch_.item_targets.data();
  for (U64 i = 0; i < count; i++) {
    if (!readRecord(targets)) return false;
  }
  return true;
}

bool LASrecordReader::seekRecord(U32 current, U32 target) {
  if (stream_ == nullptr || !stream_->isSeekable()) return false;
  if (!decoder_) {
    if (current != target) return stream_->seek(dataStart_ + I64(recordLength_) * target);
    return true;
  }
  if (!chunkStarted_) {
    if (!startDecoding()) return false;
    chunkStarted_ = true;
    pointsInChunk_ = 0;
  }
  U64 skip;
  if (!chunkStarts_.empty()) {
    U32 targetChunk;
    if (adaptiveChunks_) {
      if (numChunks_ == 0 || target >= chunkTotals_[numChunks_]) return false;
      // the last chunk whose first record is at or before the target
      const auto after =
          std::upper_bound(chunkTotals_.begin(), chunkTotals_.begin() + numChunks_, U64(target));
      targetChunk = U32(after - chunkTotals_.begin() - 1);
      chunkSize_ = U32(chunkTotals_[targetChunk + 1] - chunkTotals_[targetChunk]);
      skip = target - chunkTotals_[targetChunk];
    } else {
      targetChunk = target / chunkSize_;
      skip = target % chunkSize_;
    }
    if (tableComplete_ && targetChunk >= numChunks_) return false;
    if (targetChunk < tabledChunks_) {
      if (targetChunk != currentChunk_ || target < current) {
        if (!moveToChunk(targetChunk)) return false;
      } else {
        skip = target - current;
      }
    } else {
      if (currentChunk_ + 1 < tabledChunks_ && !moveToChunk(tabledChunks_ - 1)) return false;
      skip += U64(chunkSize_) * (targetChunk - currentChunk_) - pointsInChunk_;
    }
  } else if (target < current) {
    decoder_->finish();
    if (!stream_->seek(dataStart_) || !startDecoding()) return false;
    pointsInChunk_ = 0;
    skip = target;
  } else if (target > current) {
    skip = target - current;
  } else {
    return true;
  }
  return skipRecords(skip);
}

bool LASrecordReader::verifyEnd() {
  if (decoder_ && chunkStarted_ && current_ == List::COMPRESSED) {
    decoder_->finish();
    currentChunk_++;
    if (currentChunk_ < tabledChunks_ && stream_->tell() != chunkStarts_[currentChunk_]) {
      setError("chunk with index %u of %u is corrupt", currentChunk_ - 1, tabledChunks_);
      return false;
    }
  }
  return true;
}
