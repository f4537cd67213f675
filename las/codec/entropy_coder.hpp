// Byte-oriented arithmetic coder with 32-bit intervals and adaptive bit and
// symbol models. Every constant and rounding step here is part of the file
// format: encoder and decoder must agree with files written elsewhere.
#pragma once

#include <memory>
#include <vector>

#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"
#include "las/core/types.hpp"

namespace entropy {
constexpr U32 kIntervalFloor = 0x01000000u;  // renormalise below 2^24
constexpr U32 kBitPrecision = 13;
constexpr U32 kBitCountLimit = 0x2000u;
constexpr U32 kBitUpdateCap = 64;
constexpr U32 kSymbolPrecision = 15;
constexpr U32 kSymbolCountLimit = 0x8000u;
constexpr U32 kMinSymbols = 2;
constexpr U32 kMaxSymbols = 2048;
}  // namespace entropy

class BitModel {
 public:
  U32 updateInterval = 4;
  U32 untilUpdate = 4;
  U32 prob0 = 4096;
  U32 count0 = 1;
  U32 countAll = 2;

  void reset() {
    updateInterval = 4;
    untilUpdate = 4;
    count0 = 1;
    countAll = 2;
    prob0 = 4096;
  }
  void update();
};

class SymbolModel {
 public:
  // Models up to this size are decoded by counting, others by table.
  static constexpr U32 kCountedSymbols = 16;

  SymbolModel() = default;
  SymbolModel(U32 n, bool encode_only) : numSymbols(n), encodeOnly(encode_only) {}
  // The array pointers point into the owned storage, which a move keeps.
  SymbolModel(const SymbolModel&) = delete;
  SymbolModel& operator=(const SymbolModel&) = delete;
  SymbolModel(SymbolModel&&) noexcept = default;
  SymbolModel& operator=(SymbolModel&&) noexcept = default;

  // 0, or -1 when the symbol count is outside 2..2048. The arrays are made
  // on the first call and kept by later ones.
  int reset();
  void update();

  U32* cumFreq = nullptr;
  U32* counts = nullptr;
  U32* lookup = nullptr;
  U32 countTotal = 0;
  U32 updateInterval = 0;
  U32 untilUpdate = 0;
  U32 numSymbols = 0;
  U32 highSymbol = 0;
  U32 lookupSize = 0;
  U32 lookupShift = 0;
  bool encodeOnly = false;

 private:
  // Cells after the table that its rebuild may scribble on.
  static constexpr U32 kLookupSlack = 3;
  // The padding bound: even times the smallest r (2^9) it is 2^32, above
  // every code.
  static constexpr U32 kBeyondAnyCode = 1u << 23;
  std::vector<U32> storage_;
};

class EntropyEncoder {
 public:
  EntropyEncoder();
  EntropyEncoder(const EntropyEncoder&) = delete;
  EntropyEncoder& operator=(const EntropyEncoder&) = delete;

  bool start(ByteStreamOut* stream);
  // Flushes everything and detaches; false when the stream refused a write.
  bool finish();
  ByteStreamOut* getByteStreamOut() const { return stream_; }
  // Bytes produced since start that the stream has not yet received.
  U64 heldBytes() const { return fill_ + (hasPending_ ? 1 : 0) + pendingFF_; }

  inline void putBit(BitModel& m, U32 bit);
  inline void putSymbol(SymbolModel& m, U32 symbol);
  inline void putRawBits(U32 count, U32 value);
  inline void putRaw16(U16 value);
  void putRaw32(U32 value) {
    putRaw16(U16(value));
    putRaw16(U16(value >> 16));
  }
  void putRaw64(U64 value) {
    putRaw32(U32(value));
    putRaw32(U32(value >> 32));
  }

  BitModel makeBitModel() const { return BitModel(); }
  SymbolModel makeSymbolModel(U32 n) const { return SymbolModel(n, true); }
  int resetBitModel(BitModel& m) const {
    m.reset();
    return 0;
  }
  int resetSymbolModel(SymbolModel& m) const { return m.reset(); }

 private:
  friend class EntropyEncoderTestAccess;
  inline __attribute__((always_inline)) void renormalise();
  void propagateCarry();
  inline void emit(U8 byte);
  void flushHeld();
  void put(U8 byte) {
    buffer_[fill_++] = byte;
    if (fill_ == kBufferSize) flushBuffer();
  }
  void flushBuffer();

  static constexpr U32 kBufferSize = 4096;
  ByteStreamOut* stream_ = nullptr;
  U32 low_ = 0;
  U32 range_ = 0xFFFFFFFFu;
  // Produced bytes are held back as the last byte below 0xFF plus a count of
  // 0xFF bytes after it, the only bytes a carry can still change; everything
  // before is final and goes to the stream in blocks.
  std::unique_ptr<U8[]> buffer_;
  U32 fill_ = 0;
  bool hasPending_ = false;
  U8 pending_ = 0;
  U64 pendingFF_ = 0;
  bool ok_ = true;
};

// The decoding steps and the state they change. Item codecs copy it into a
// local for the steps of one record (`save`/`restore` on the decoder) so
// that code and range stay in registers instead of making a round trip
// through memory at every step.
class EntropyDecoderState {
 public:
  inline __attribute__((always_inline)) U32 getBit(BitModel& m);
  inline __attribute__((always_inline)) U32 getSymbol(SymbolModel& m);
  inline __attribute__((always_inline)) U32 getRawBits(U32 count);
  inline U16 getRaw16();
  U32 getRaw32() {
    const U32 lo = getRaw16();
    const U32 hi = getRaw16();
    return (hi << 16) | lo;
  }
  U64 getRaw64() {
    const U64 lo = getRaw32();
    const U64 hi = getRaw32();
    return (hi << 32) | lo;
  }

 protected:
  inline __attribute__((always_inline)) void renormalise();
  // 1 to 19 bits in one step.
  inline __attribute__((always_inline)) U32 getShortRawBits(U32 count);
  ByteStreamIn* stream_ = nullptr;
  U32 code_ = 0;
  U32 range_ = 0xFFFFFFFFu;
};

class EntropyDecoder : public EntropyDecoderState {
 public:
  EntropyDecoder() = default;
  EntropyDecoder(const EntropyDecoder&) = delete;
  EntropyDecoder& operator=(const EntropyDecoder&) = delete;

  // Without `prime` only attaches the stream (the main decoder of a layered
  // chunk codes nothing itself).
  bool start(ByteStreamIn* stream, bool prime = true);
  void finish() { stream_ = nullptr; }
  ByteStreamIn* getByteStreamIn() const { return stream_; }

  EntropyDecoderState save() const { return *this; }
  void restore(const EntropyDecoderState& state) {
    static_cast<EntropyDecoderState&>(*this) = state;
  }

  BitModel makeBitModel() const { return BitModel(); }
  SymbolModel makeSymbolModel(U32 n) const { return SymbolModel(n, false); }
  int resetBitModel(BitModel& m) const {
    m.reset();
    return 0;
  }
  int resetSymbolModel(SymbolModel& m) const { return m.reset(); }
};

// ---- encoder hot paths

inline void EntropyEncoder::emit(U8 byte) {
  if (byte == 0xFF && hasPending_) {
    pendingFF_++;
    return;
  }
  if (pendingFF_ == 0) {
    if (hasPending_) put(pending_);
  } else {
    flushHeld();
  }
  pending_ = byte;
  hasPending_ = true;
}

inline void EntropyEncoder::renormalise() {
  do {
    emit(U8(low_ >> 24));
    low_ <<= 8;
    range_ <<= 8;
  } while (range_ < entropy::kIntervalFloor);
}

inline void EntropyEncoder::putBit(BitModel& m, U32 bit) {
  const U32 x = (range_ >> entropy::kBitPrecision) * m.prob0;
  if (bit == 0) {
    range_ = x;
    m.count0++;
  } else {
    const U32 old = low_;
    low_ += x;
    range_ -= x;
    if (low_ < old) propagateCarry();
  }
  if (range_ < entropy::kIntervalFloor) renormalise();
  if (__builtin_expect(--m.untilUpdate == 0, 0)) m.update();
}

inline void EntropyEncoder::putSymbol(SymbolModel& m, U32 symbol) {
  const U32 r = range_ >> entropy::kSymbolPrecision;
  const U32 x = m.cumFreq[symbol] * r;
  const U32 old = low_;
  low_ += x;
  if (symbol == m.highSymbol) {
    range_ -= x;
  } else {
    range_ = m.cumFreq[symbol + 1] * r - x;
  }
  if (low_ < old) propagateCarry();
  if (range_ < entropy::kIntervalFloor) renormalise();
  m.counts[symbol]++;
  if (__builtin_expect(--m.untilUpdate == 0, 0)) m.update();
}

inline void EntropyEncoder::putRawBits(U32 count, U32 value) {
  if (count > 19) {
    putRaw16(U16(value));
    value >>= 16;
    count -= 16;
  }
  range_ >>= count;
  const U32 old = low_;
  low_ += value * range_;
  if (low_ < old) propagateCarry();
  if (range_ < entropy::kIntervalFloor) renormalise();
}

inline void EntropyEncoder::putRaw16(U16 value) {
  range_ >>= 16;
  const U32 old = low_;
  low_ += U32(value) * range_;
  if (low_ < old) propagateCarry();
  if (range_ < entropy::kIntervalFloor) renormalise();
}

// ---- decoder hot paths

inline void EntropyDecoderState::renormalise() {
  do {
    code_ = (code_ << 8) | stream_->nextByte();
    range_ <<= 8;
  } while (range_ < entropy::kIntervalFloor);
}

inline U32 EntropyDecoderState::getBit(BitModel& m) {
  const U32 x = (range_ >> entropy::kBitPrecision) * m.prob0;
  U32 bit;
  if (code_ >= x) {
    bit = 1;
    code_ -= x;
    range_ -= x;
  } else {
    bit = 0;
    range_ = x;
    m.count0++;
  }
  if (range_ < entropy::kIntervalFloor) renormalise();
  if (__builtin_expect(--m.untilUpdate == 0, 0)) m.update();
  return bit;
}

inline U32 EntropyDecoderState::getSymbol(SymbolModel& m) {
  const U32 full = range_;
  const U32 r = range_ >> entropy::kSymbolPrecision;
  range_ = r;
  U32 s, x, y;
  if (m.lookup) {
    const U32 q = code_ / r;
    const U32 t = q >> m.lookupShift;
    // Only a corrupt stream puts the code beyond the interval.
    if (t > m.lookupSize) throw DecodingError();
    s = m.lookup[t];
    U32 hi = m.lookup[t + 1] + 1;
    while (hi > s + 1) {
      const U32 mid = (s + hi) >> 1;
      if (m.cumFreq[mid] > q) {
        hi = mid;
      } else {
        s = mid;
      }
    }
    x = m.cumFreq[s] * r;
    y = (s == m.highSymbol) ? full : m.cumFreq[s + 1] * r;
  } else if (m.numSymbols <= SymbolModel::kCountedSymbols) {
    // Counting the lower bounds at or below the code finds the same symbol
    // as a bisection, without unpredictable branches; the bounds are padded
    // so that every small model takes the same steps.
    s = 0;
    for (U32 k = 1; k < SymbolModel::kCountedSymbols; k++) {
      s += (U64(r) * m.cumFreq[k] <= U64(code_));
    }
    x = r * m.cumFreq[s];
    y = (s == m.highSymbol) ? full : r * m.cumFreq[s + 1];
  } else {
    s = 0;
    x = 0;
    y = full;
    U32 hi = m.numSymbols;
    U32 mid = hi >> 1;
    do {
      const U32 z = r * m.cumFreq[mid];
      if (z > code_) {
        hi = mid;
        y = z;
      } else {
        s = mid;
        x = z;
      }
      mid = (s + hi) >> 1;
    } while (mid != s);
  }
  code_ -= x;
  range_ = y - x;
  if (range_ < entropy::kIntervalFloor) renormalise();
  m.counts[s]++;
  if (__builtin_expect(--m.untilUpdate == 0, 0)) m.update();
  return s;
}

inline U32 EntropyDecoderState::getRawBits(U32 count) {
  if (count > 19) {
    const U32 lo = getRaw16();
    const U32 hi = getShortRawBits(count - 16);
    return (hi << 16) | lo;
  }
  return getShortRawBits(count);
}

inline U32 EntropyDecoderState::getShortRawBits(U32 count) {
  range_ >>= count;
  const U32 value = code_ / range_;
  code_ %= range_;
  if (range_ < entropy::kIntervalFloor) renormalise();
  if (value >= (1u << count)) throw DecodingError();
  return value;
}

inline U16 EntropyDecoderState::getRaw16() {
  range_ >>= 16;
  const U32 value = code_ / range_;
  code_ %= range_;
  renormalise();
  if (value >= (1u << 16)) throw DecodingError();
  return U16(value);
}
