#include "las/codec/entropy_coder.hpp"

void BitModel::update() {
  countAll += updateInterval;
  if (countAll > entropy::kBitCountLimit) {
    countAll = (countAll + 1) >> 1;
    count0 = (count0 + 1) >> 1;
    if (count0 == countAll) countAll++;
  }
  prob0 = ((0x80000000u / countAll) * count0) >> (31 - entropy::kBitPrecision);
  updateInterval = (5 * updateInterval) >> 2;
  if (updateInterval > entropy::kBitUpdateCap) updateInterval = entropy::kBitUpdateCap;
  untilUpdate = updateInterval;
}

int SymbolModel::reset() {
  const U32 n = numSymbols;
  if (storage_.empty()) {
    if (n < entropy::kMinSymbols || n > entropy::kMaxSymbols) return -1;
    highSymbol = n - 1;
    // A small model is decoded by counting its bounds below the code over a
    // fixed 16 of them: the ones past the last symbol lie beyond any code.
    const U32 bounds = n <= kCountedSymbols ? kCountedSymbols : n;
    size_t entries = size_t(bounds) + n;
    if (encodeOnly || n <= kCountedSymbols) {
      lookupSize = 0;
    } else {
      // Any table finds the same symbol; one of about two cells per symbol
      // leaves little to search. Up to 512 cells the codes of the top
      // symbol's rounding remainder still fall on the last two entries.
      U32 bits = 3;
      while ((1u << bits) < 2 * n && bits < 9) bits++;
      lookupSize = 1u << bits;
      lookupShift = entropy::kSymbolPrecision - bits;
      entries += lookupSize + 2 + kLookupSlack;
    }
    storage_.assign(entries, 0);
    cumFreq = storage_.data();
    for (U32 k = n; k < bounds; k++) cumFreq[k] = kBeyondAnyCode;
    counts = cumFreq + bounds;
    lookup = lookupSize ? counts + n : nullptr;
  }
  updateInterval = n;
  countTotal = 0;
  for (U32 s = 0; s < n; s++) counts[s] = 1;
  update();
  updateInterval = untilUpdate = (n + 6) >> 1;
  return 0;
}

void SymbolModel::update() {
  countTotal += updateInterval;
  if (countTotal > entropy::kSymbolCountLimit) {
    countTotal = 0;
    for (U32 s = 0; s < numSymbols; s++) {
      counts[s] = (counts[s] + 1) >> 1;
      countTotal += counts[s];
    }
  }
  const U32 scale = 0x80000000u / countTotal;
  U32 sum = 0;
  if (lookupSize == 0) {
    for (U32 s = 0; s < numSymbols; s++) {
      cumFreq[s] = (scale * sum) >> (31 - entropy::kSymbolPrecision);
      sum += counts[s];
    }
  } else {
    U32 j = 0;
    for (U32 s = 0; s < numSymbols; s++) {
      cumFreq[s] = (scale * sum) >> (31 - entropy::kSymbolPrecision);
      sum += counts[s];
      const U32 w = cumFreq[s] >> lookupShift;
      // Most runs are short: four cells are stored blindly (the cells past
      // `w` are overwritten by the next symbols or the tail fill) and only
      // longer runs loop.
      U32* cell = lookup + j + 1;
      cell[0] = cell[1] = cell[2] = cell[3] = s - 1;
      for (U32 i = j + 5; i <= w; i++) lookup[i] = s - 1;
      if (w > j) j = w;
    }
    lookup[0] = 0;
    while (j <= lookupSize) lookup[++j] = numSymbols - 1;
  }
  updateInterval = (5 * updateInterval) >> 2;
  const U32 cap = (numSymbols + 6) << 3;
  if (updateInterval > cap) updateInterval = cap;
  untilUpdate = updateInterval;
}

EntropyEncoder::EntropyEncoder() : buffer_(new U8[kBufferSize]) {}

bool EntropyEncoder::start(ByteStreamOut* stream) {
  if (stream == nullptr) return false;
  stream_ = stream;
  low_ = 0;
  range_ = 0xFFFFFFFFu;
  fill_ = 0;
  hasPending_ = false;
  pending_ = 0;
  pendingFF_ = 0;
  ok_ = true;
  return true;
}

void EntropyEncoder::propagateCarry() {
  // The held 0xFF bytes roll over to 0x00 and the byte before them takes the
  // carry; the last of the zeros is now the byte a later carry would reach.
  pending_++;
  if (pendingFF_ > 0) {
    put(pending_);
    for (U64 i = 1; i < pendingFF_; i++) put(0x00);
    pending_ = 0x00;
    pendingFF_ = 0;
  }
}

void EntropyEncoder::flushHeld() {
  put(pending_);
  for (; pendingFF_ > 0; pendingFF_--) put(0xFF);
}

void EntropyEncoder::flushBuffer() {
  if (fill_ && stream_ && !stream_->writeBytes(buffer_.get(), fill_)) ok_ = false;
  fill_ = 0;
}

bool EntropyEncoder::finish() {
  if (stream_ == nullptr) return false;
  const U32 old = low_;
  const bool extra = range_ > 0x02000000u;
  if (extra) {
    low_ += 0x01000000u;
    range_ = 0x00800000u;
  } else {
    low_ += 0x00800000u;
    range_ = 0x00008000u;
  }
  if (low_ < old) propagateCarry();
  renormalise();
  if (hasPending_) flushHeld();
  hasPending_ = false;
  put(0x00);
  put(0x00);
  if (extra) put(0x00);
  flushBuffer();
  stream_ = nullptr;
  return ok_;
}

bool EntropyDecoder::start(ByteStreamIn* stream, bool prime) {
  if (stream == nullptr) return false;
  stream_ = stream;
  range_ = 0xFFFFFFFFu;
  if (prime) {
    code_ = stream_->readByte() << 24;
    code_ |= stream_->readByte() << 16;
    code_ |= stream_->readByte() << 8;
    code_ |= stream_->readByte();
  }
  return true;
}
