// Compressed item codecs of the legacy point record formats (versions 1
// and 2): each predicts an item from the previous record's and codes what
// differs into the record stream's one entropy coder.
#pragma once

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "las/codec/entropy_coder.hpp"
#include "las/codec/int_delta_coder.hpp"
#include "las/codec/lasreaditem.hpp"
#include "las/codec/laswriteitem.hpp"

namespace codec_detail {

// The median of the last five values, kept sorted.
class RunningMedian5 {
 public:
  void reset() {
    v_[0] = v_[1] = v_[2] = v_[3] = v_[4] = 0;
    high_ = true;
  }
  I32 median() const { return v_[2]; }
  inline void add(I32 x);

 private:
  I32 v_[5] = {0, 0, 0, 0, 0};
  bool high_ = true;
};

inline void RunningMedian5::add(I32 x) {
  // x joins the lower or the upper half (alternating as the median moves)
  // and pushes out the far end of the other. Both outcomes are worked out by
  // min and max and one is kept by a mask: the choice is as good as random.
  const I32 w0 = v_[0], w1 = v_[1], w2 = v_[2], w3 = v_[3], w4 = v_[4];
  const I32 keepLow = -I32(high_);  // all ones: x joins the lower half
  auto pick = [keepLow](I32 low, I32 high) { return (low & keepLow) | (high & ~keepLow); };
  v_[0] = pick(std::min(w0, x), std::min(w1, x));
  v_[1] = pick(std::min(w1, std::max(x, w0)), std::max(w1, std::min(x, w2)));
  v_[2] = pick(std::min(w2, std::max(x, w1)), std::max(w2, std::min(x, w3)));
  v_[3] = pick(std::max(w2, std::min(x, w3)), std::max(w3, std::min(x, w4)));
  v_[4] = pick(std::max(w3, x), std::max(w4, x));
  high_ = (x < w2) | (!high_ & (x == w2));
}

// 256-symbol models selected by a byte, each made on first use and reset
// for every chunk in which it is used.
class LazySymbolModels {
 public:
  explicit LazySymbolModels(bool encodeOnly) : encodeOnly_(encodeOnly) {}
  void newChunk() { stamp_++; }
  SymbolModel& get(U32 index) {
    Entry& e = entries_[index];
    if (e.stamp != stamp_) {
      if (!e.model) e.model = std::make_unique<SymbolModel>(256, encodeOnly_);
      e.model->reset();
      e.stamp = stamp_;
    }
    return *e.model;
  }

 private:
  struct Entry {
    std::unique_ptr<SymbolModel> model;
    U32 stamp = 0;
  };
  bool encodeOnly_;
  U32 stamp_ = 1;
  std::array<Entry, 256> entries_;
};

extern const U8 kReturnContext[8][8];
extern const U8 kReturnDistance[8][8];

}  // namespace codec_detail

// ---- POINT10

class LASwriteItemCompressed_POINT10_v1 final : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_POINT10_v1(EntropyEncoder& encoder);
  bool startChunk(const U8* item, U32& context) override;
  bool writeItem(const U8* item, U32& context) override;

 private:
  EntropyEncoder& enc_;
  U8 last_[20];
  I32 lastXDiff_[3], lastYDiff_[3];
  U32 ring_ = 0;
  IntDeltaCoder icDx_, icDy_, icZ_, icIntensity_, icScanAngle_, icPointSource_;
  SymbolModel changed_;
  codec_detail::LazySymbolModels bitByte_, classification_, userData_;
};

class LASreadItemCompressed_POINT10_v1 final : public LASreadItemCompressed {
 public:
  explicit LASreadItemCompressed_POINT10_v1(EntropyDecoder& decoder);
  bool startChunk(U8* item, U32& context) override;
  void readItem(U8* item, U32& context) override;

 private:
  EntropyDecoder& dec_;
  U8 last_[20];
  I32 lastXDiff_[3], lastYDiff_[3];
  U32 ring_ = 0;
  IntDeltaCoder icDx_, icDy_, icZ_, icIntensity_, icScanAngle_, icPointSource_;
  SymbolModel changed_;
  codec_detail::LazySymbolModels bitByte_, classification_, userData_;
};

class LASwriteItemCompressed_POINT10_v2 final : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_POINT10_v2(EntropyEncoder& encoder);
  bool startChunk(const U8* item, U32& context) override;
  bool writeItem(const U8* item, U32& context) override;

 private:
  EntropyEncoder& enc_;
  U8 last_[20];
  U16 lastIntensity_[16];
  codec_detail::RunningMedian5 lastXDiff_[16], lastYDiff_[16];
  I32 lastHeight_[8];
  SymbolModel changed_;
  IntDeltaCoder icIntensity_;
  SymbolModel scanAngle_[2];
  IntDeltaCoder icPointSource_;
  codec_detail::LazySymbolModels bitByte_, classification_, userData_;
  IntDeltaCoder icDx_, icDy_, icZ_;
};

class LASreadItemCompressed_POINT10_v2 final : public LASreadItemCompressed {
 public:
  explicit LASreadItemCompressed_POINT10_v2(EntropyDecoder& decoder);
  bool startChunk(U8* item, U32& context) override;
  void readItem(U8* item, U32& context) override;

 private:
  EntropyDecoder& dec_;
  U8 last_[20];
  U16 lastIntensity_[16];
  codec_detail::RunningMedian5 lastXDiff_[16], lastYDiff_[16];
  I32 lastHeight_[8];
  SymbolModel changed_;
  IntDeltaCoder icIntensity_;
  SymbolModel scanAngle_[2];
  IntDeltaCoder icPointSource_;
  codec_detail::LazySymbolModels bitByte_, classification_, userData_;
  IntDeltaCoder icDx_, icDy_, icZ_;
};

// ---- GPSTIME11

class LASwriteItemCompressed_GPSTIME11_v1 final : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_GPSTIME11_v1(EntropyEncoder& encoder);
  bool startChunk(const U8* item, U32& context) override;
  bool writeItem(const U8* item, U32& context) override;

 private:
  EntropyEncoder& enc_;
  I64 lastTime_ = 0;
  I32 lastDiff_ = 0;
  I32 extreme_ = 0;
  SymbolModel multi_, zero_;
  IntDeltaCoder ic_;
};

class LASreadItemCompressed_GPSTIME11_v1 final : public LASreadItemCompressed {
 public:
  explicit LASreadItemCompressed_GPSTIME11_v1(EntropyDecoder& decoder);
  bool startChunk(U8* item, U32& context) override;
  void readItem(U8* item, U32& context) override;

 private:
  EntropyDecoder& dec_;
  I64 lastTime_ = 0;
  I32 lastDiff_ = 0;
  I32 extreme_ = 0;
  SymbolModel multi_, zero_;
  IntDeltaCoder ic_;
};

class LASwriteItemCompressed_GPSTIME11_v2 final : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_GPSTIME11_v2(EntropyEncoder& encoder);
  bool startChunk(const U8* item, U32& context) override;
  bool writeItem(const U8* item, U32& context) override;

 private:
  void newSequence(I64 time);
  EntropyEncoder& enc_;
  U32 current_ = 0;
  U32 lastMade_ = 0;
  I64 lastTime_[4];
  I32 lastDiff_[4];
  I32 extreme_[4];
  SymbolModel multi_, zero_;
  IntDeltaCoder ic_;
};

class LASreadItemCompressed_GPSTIME11_v2 final : public LASreadItemCompressed {
 public:
  explicit LASreadItemCompressed_GPSTIME11_v2(EntropyDecoder& decoder);
  bool startChunk(U8* item, U32& context) override;
  void readItem(U8* item, U32& context) override;

 private:
  void newSequence(EntropyDecoderState& dec);
  EntropyDecoder& dec_;
  U32 current_ = 0;
  U32 lastMade_ = 0;
  I64 lastTime_[4];
  I32 lastDiff_[4];
  I32 extreme_[4];
  SymbolModel multi_, zero_;
  IntDeltaCoder ic_;
};

// ---- RGB12

class LASwriteItemCompressed_RGB12_v1 final : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_RGB12_v1(EntropyEncoder& encoder);
  bool startChunk(const U8* item, U32& context) override;
  bool writeItem(const U8* item, U32& context) override;

 private:
  EntropyEncoder& enc_;
  U16 last_[3];
  SymbolModel byteUsed_;
  IntDeltaCoder ic_;
};

class LASreadItemCompressed_RGB12_v1 final : public LASreadItemCompressed {
 public:
  explicit LASreadItemCompressed_RGB12_v1(EntropyDecoder& decoder);
  bool startChunk(U8* item, U32& context) override;
  void readItem(U8* item, U32& context) override;

 private:
  EntropyDecoder& dec_;
  U16 last_[3];
  SymbolModel byteUsed_;
  IntDeltaCoder ic_;
};

class LASwriteItemCompressed_RGB12_v2 final : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_RGB12_v2(EntropyEncoder& encoder);
  bool startChunk(const U8* item, U32& context) override;
  bool writeItem(const U8* item, U32& context) override;

 private:
  EntropyEncoder& enc_;
  U16 last_[3];
  SymbolModel byteUsed_;
  SymbolModel diff_[6];  // red low, red high, green low, green high, blue low, blue high
};

class LASreadItemCompressed_RGB12_v2 final : public LASreadItemCompressed {
 public:
  explicit LASreadItemCompressed_RGB12_v2(EntropyDecoder& decoder);
  bool startChunk(U8* item, U32& context) override;
  void readItem(U8* item, U32& context) override;

 private:
  EntropyDecoder& dec_;
  U16 last_[3];
  SymbolModel byteUsed_;
  SymbolModel diff_[6];
};

// ---- BYTE

class LASwriteItemCompressed_BYTE_v1 final : public LASwriteItemCompressed {
 public:
  LASwriteItemCompressed_BYTE_v1(EntropyEncoder& encoder, U32 number);
  bool startChunk(const U8* item, U32& context) override;
  bool writeItem(const U8* item, U32& context) override;

 private:
  U32 number_;
  std::vector<U8> last_;
  IntDeltaCoder ic_;
};

class LASreadItemCompressed_BYTE_v1 final : public LASreadItemCompressed {
 public:
  LASreadItemCompressed_BYTE_v1(EntropyDecoder& decoder, U32 number);
  bool startChunk(U8* item, U32& context) override;
  void readItem(U8* item, U32& context) override;

 private:
  U32 number_;
  std::vector<U8> last_;
  IntDeltaCoder ic_;
};

class LASwriteItemCompressed_BYTE_v2 final : public LASwriteItemCompressed {
 public:
  LASwriteItemCompressed_BYTE_v2(EntropyEncoder& encoder, U32 number);
  bool startChunk(const U8* item, U32& context) override;
  bool writeItem(const U8* item, U32& context) override;

 private:
  EntropyEncoder& enc_;
  U32 number_;
  std::vector<U8> last_;
  std::vector<SymbolModel> models_;
};

class LASreadItemCompressed_BYTE_v2 final : public LASreadItemCompressed {
 public:
  LASreadItemCompressed_BYTE_v2(EntropyDecoder& decoder, U32 number);
  bool startChunk(U8* item, U32& context) override;
  void readItem(U8* item, U32& context) override;

 private:
  EntropyDecoder& dec_;
  U32 number_;
  std::vector<U8> last_;
  std::vector<SymbolModel> models_;
};

// ---- WAVEPACKET13

class LASwriteItemCompressed_WAVEPACKET13_v1 final : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_WAVEPACKET13_v1(EntropyEncoder& encoder);
  bool startChunk(const U8* item, U32& context) override;
  bool writeItem(const U8* item, U32& context) override;

 private:
  EntropyEncoder& enc_;
  U8 last_[28];  // the packet after its descriptor index
  I32 lastOffsetDiff_ = 0;
  U32 lastOffsetSymbol_ = 0;
  SymbolModel index_;
  SymbolModel offset_[4];
  IntDeltaCoder icOffsetDiff_, icPacketSize_, icLocation_, icXYZ_;
};

class LASreadItemCompressed_WAVEPACKET13_v1 final : public LASreadItemCompressed {
 public:
  explicit LASreadItemCompressed_WAVEPACKET13_v1(EntropyDecoder& decoder);
  bool startChunk(U8* item, U32& context) override;
  void readItem(U8* item, U32& context) override;

 private:
  EntropyDecoder& dec_;
  U8 last_[28];
  I32 lastOffsetDiff_ = 0;
  U32 lastOffsetSymbol_ = 0;
  SymbolModel index_;
  SymbolModel offset_[4];
  IntDeltaCoder icOffsetDiff_, icPacketSize_, icLocation_, icXYZ_;
};
