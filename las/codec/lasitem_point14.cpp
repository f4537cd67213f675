#include "las/codec/lasitem_point14.hpp"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <vector>

#include "las/codec/int_delta_coder.hpp"
#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"
#include "las/core/laspoint.hpp"

namespace point14 {
namespace {

// Context of the x/y predictions by return number (column) and number of
// returns (row).
constexpr U8 kReturnContext[16][16] = {
    {0, 1, 2, 3, 4, 5, 3, 4, 4, 5, 5, 5, 5, 5, 5, 5},
    {1, 0, 1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3},
    {2, 1, 2, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3},
    {3, 3, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {5, 3, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {3, 3, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4},
    {5, 3, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4},
    {5, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 4, 4, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5},
};

inline U32 returnDistance(U32 n, U32 r) {
  const U32 d = (n > r) ? n - r : r - n;
  return d < 7 ? d : 7;
}

// Median of the last five values, updated in place.
class RunningMedian5 {
 public:
  void reset() {
    v_[0] = v_[1] = v_[2] = v_[3] = v_[4] = 0;
    high_ = true;
  }
  I32 get() const { return v_[2]; }
  __attribute__((always_inline)) void add(I32 x) {
    if (high_) {
      if (x < v_[2]) {
        v_[4] = v_[3];
        v_[3] = v_[2];
        if (x < v_[0]) {
          v_[2] = v_[1];
          v_[1] = v_[0];
          v_[0] = x;
        } else if (x < v_[1]) {
          v_[2] = v_[1];
          v_[1] = x;
        } else {
          v_[2] = x;
        }
      } else {
        if (x < v_[3]) {
          v_[4] = v_[3];
          v_[3] = x;
        } else {
          v_[4] = x;
        }
        high_ = false;
      }
    } else {
      if (v_[2] < x) {
        v_[0] = v_[1];
        v_[1] = v_[2];
        if (v_[4] < x) {
          v_[2] = v_[3];
          v_[3] = v_[4];
          v_[4] = x;
        } else if (v_[3] < x) {
          v_[2] = v_[3];
          v_[3] = x;
        } else {
          v_[2] = x;
        }
      } else {
        if (v_[1] < x) {
          v_[0] = v_[1];
          v_[1] = x;
        } else {
          v_[0] = x;
        }
        high_ = true;
      }
    }
  }

 private:
  I32 v_[5] = {0, 0, 0, 0, 0};
  bool high_ = true;
};

inline U32 fold(I32 d) {
  return U32(d) & 0xFFu;
}
inline I32 clampByte(I32 x) {
  return x <= 0 ? 0 : (x >= 255 ? 255 : x);
}
inline bool fitsI32(I64 v) {
  return v == I64(I32(v));
}
inline I32 mul32(I32 a, I32 b) {
  return I32(U32(a) * U32(b));
}

inline void startCoder(IntDeltaCoder& coder, const EntropyEncoder&) {
  coder.startEncoding();
}
inline void startCoder(IntDeltaCoder& coder, const EntropyDecoder&) {
  coder.startDecoding();
}

// Models made on first use; once made they are reset with their context.
inline SymbolModel& lazy(SymbolModel& m) {
  if (m.cumFreq == nullptr) m.reset();
  return m;
}
inline void resetIfMade(SymbolModel& m) {
  if (m.cumFreq != nullptr) m.reset();
}

template <class Coder>
void makeModels(SymbolModel* models, U32 count, U32 symbols, const Coder& coder) {
  for (U32 i = 0; i < count; i++) models[i] = coder.makeSymbolModel(symbols);
}

}  // namespace

// ---------------------------------------------------------------- layers

// A layer being read: its bytes end exactly at its own last byte, and reading
// beyond it means the layer is corrupt, not that the file ended.
class LayerInput final : public ByteStreamInArrayLE {
 public:
  LayerInput() : ByteStreamInArrayLE(nullptr, 0) {}
  U32 readByte() override {
    if (next_ == end_) throw DecodingError();
    return *next_++;
  }
  void readBytes(U8* bytes, U32 n) override {
    if (n > size_t(end_ - next_)) throw DecodingError();
    if (n) memcpy(bytes, next_, n);
    next_ += n;
  }
};

struct OutLayer {
  ByteStreamOutArrayLE stream;
  EntropyEncoder encoder;
  bool changed = false;
  U32 size = 0;
};

// The layers of one writer. The first `always` layers are written whether or
// not their value changed within the chunk.
class OutLayers {
 public:
  OutLayers(U32 count, U32 always) : count_(count), always_(always), layers_(new OutLayer[count]) {}
  U32 count() const { return count_; }
  OutLayer& operator[](U32 i) { return layers_[i]; }
  EntropyEncoder& encoder(U32 i) { return layers_[i].encoder; }

  void start() {
    for (U32 i = 0; i < count_; i++) {
      OutLayer& layer = layers_[i];
      layer.stream.reset();
      layer.encoder.start(&layer.stream);
      layer.changed = false;
      layer.size = 0;
    }
  }

  bool writeSizes(ByteStreamOut* out) {
    if (out == nullptr) return false;
    for (U32 i = 0; i < count_; i++) {
      OutLayer& layer = layers_[i];
      layer.size = 0;
      if (i < always_ || layer.changed) {
        if (!layer.encoder.finish()) return false;
        if (U64(layer.stream.size()) > U32_MAX) return false;
        layer.size = U32(layer.stream.size());
      }
    }
    for (U32 i = 0; i < count_; i++) {
      if (!out->put32(layers_[i].size)) return false;
    }
    return true;
  }

  bool writeBytes(ByteStreamOut* out) {
    if (out == nullptr) return false;
    for (U32 i = 0; i < count_; i++) {
      const OutLayer& layer = layers_[i];
      if (layer.size && !out->writeBytes(layer.stream.data(), layer.size)) return false;
    }
    return true;
  }

  U64 pending() const {
    U64 total = 0;
    for (U32 i = 0; i < count_; i++) {
      total += U64(layers_[i].stream.size()) + layers_[i].encoder.heldBytes();
    }
    return total;
  }

 private:
  U32 count_;
  U32 always_;
  std::unique_ptr<OutLayer[]> layers_;
};

struct InLayer {
  LayerInput stream;
  EntropyDecoder decoder;
  U32 size = 0;
  bool requested = true;
  bool decode = false;
};

// The layers of one reader and the chunk's bytes of those it decodes.
class InLayers {
 public:
  explicit InLayers(U32 count) : count_(count), layers_(new InLayer[count]) {}
  U32 count() const { return count_; }
  InLayer& operator[](U32 i) { return layers_[i]; }
  EntropyDecoder& decoder(U32 i) { return layers_[i].decoder; }
  bool decode(U32 i) const { return layers_[i].decode; }

  void readSizes(ByteStreamIn& in) {
    for (U32 i = 0; i < count_; i++) {
      layers_[i].size = in.get32();
      layers_[i].decode = false;
    }
  }

  // Reads the bytes of the requested layers, skips the others and starts a
  // decoder on every requested layer that has bytes. `chunkEnd` (-1 when
  // unknown) is where the chunk's bytes end in `in`.
  void load(ByteStreamIn& in, I64 chunkEnd) {
    U64 total = 0;
    for (U32 i = 0; i < count_; i++) total += layers_[i].size;
    if (chunkEnd >= 0) {
      const I64 position = in.tell();
      if (position > chunkEnd || total > U64(chunkEnd - position)) throw DecodingError();
    }
    // The buffer grows only as bytes arrive, so sizes that the input does not
    // hold cannot demand memory.
    U64 filled = 0;
    for (U32 i = 0; i < count_; i++) {
      InLayer& layer = layers_[i];
      layer.decode = false;
      if (layer.size == 0) continue;
      if (!layer.requested) {
        if (!in.skipBytes(layer.size)) throw EndOfData();
        continue;
      }
      U32 left = layer.size;
      while (left) {
        const U32 step = std::min<U32>(left, 1u << 20);
        if (bytes_.size() < filled + step) bytes_.resize(size_t(filled + step));
        in.readBytes(bytes_.data() + filled, step);
        filled += step;
        left -= step;
      }
    }
    U64 offset = 0;
    for (U32 i = 0; i < count_; i++) {
      InLayer& layer = layers_[i];
      if (layer.size == 0 || !layer.requested) continue;
      layer.stream.init(bytes_.data() + offset, layer.size);
      offset += layer.size;
      layer.decoder.start(&layer.stream, true);
      layer.decode = true;
    }
  }

 private:
  U32 count_;
  std::unique_ptr<InLayer[]> layers_;
  std::vector<U8> bytes_;
};

// Which context's models code and which context's last item is predicted
// from. The two differ only in version 3: switching to a context in use keeps
// predicting from (and updating) the last item of the context that was
// initialised most recently.
struct ChannelSelect {
  U32 current = 0;
  U32 reference = 0;

  // Makes `c` current, initialising it from the reference item when it is
  // not in use.
  template <class Contexts>
  void select(U32 c, Contexts& contexts, bool version4) {
    if (c == current) return;
    if (!contexts.inUse(c)) {
      contexts.init(c, contexts.lastItem(reference));
      reference = c;
    } else if (version4) {
      reference = c;
    }
    current = c;
  }
};

// ---------------------------------------------------------------- POINT14

namespace {

enum Point14Layer : U32 {
  XY,
  Z_LAYER,
  CLASSIFICATION,
  FLAGS,
  INTENSITY,
  SCAN_ANGLE,
  USER_DATA,
  POINT_SOURCE,
  GPS_TIME,
  POINT14_LAYERS
};

// The fields of a stored POINT14 record.
struct Fields {
  I32 X = 0;
  I32 Y = 0;
  I32 Z = 0;
  U16 intensity = 0;
  U8 returnNumber = 0;
  U8 numberOfReturns = 0;
  U8 flags = 0;  // classification flags bits 0-3, scan direction bit 4, edge bit 5
  U8 channel = 0;
  U8 classification = 0;
  U8 userData = 0;
  I16 scanAngle = 0;
  U16 pointSource = 0;
  U64 gpsTime = 0;  // bit pattern
  bool gpsChanged = false;
  I8 scanAngleRank = 0;  // the legacy scan angle, kept by readers
};

// The legacy scan angle in whole degrees.
inline I8 scanAngleRank(I16 scanAngle) {
  I64 rank = round_half_away(F32(scanAngle) * 0.006f);
  if (rank < -128) rank = -128;
  if (rank > 127) rank = 127;
  return I8(rank);
}

// The codecs address the point's fields through its byte image: the POINT10
// image in bytes 0-19, then the extended fields (bit fields in bytes 22 and
// 24), then the GPS time.
static_assert(offsetof(LASpoint, extended_scan_angle) == 20, "extended scan angle");
static_assert(offsetof(LASpoint, extended_classification) == 23, "extended classification");
static_assert(offsetof(LASpoint, marked_deleted) == 25, "extended returns in byte 24");
constexpr size_t kGpsTimeAt = offsetof(LASpoint, gps_time);

// What the raw POINT14 writer stores for a point, so that a chunk's raw first
// record and its coded records agree whatever mix of legacy and extended
// fields the point carries.
inline void loadForWriting(const U8* item, Fields& f) {
  memcpy(&f.X, item, 4);
  memcpy(&f.Y, item + 4, 4);
  memcpy(&f.Z, item + 8, 4);
  memcpy(&f.intensity, item + 12, 2);
  const U32 legacyReturns = item[14];
  const U32 legacyClass = item[15];
  const U32 extended = item[22];
  U32 flags = (legacyClass >> 5) | ((legacyReturns >> 6) << 4);
  if (extended & 3) {
    flags |= (extended >> 4) & 8;
    f.channel = U8((extended >> 2) & 3);
    f.classification = (legacyClass & 31) ? U8(legacyClass & 31) : item[23];
    f.returnNumber = item[24] & 15;
    f.numberOfReturns = item[24] >> 4;
    memcpy(&f.scanAngle, item + 20, 2);
  } else {
    f.channel = 0;
    f.classification = U8(legacyClass & 31);
    f.returnNumber = U8(legacyReturns & 7);
    f.numberOfReturns = U8((legacyReturns >> 3) & 7);
    f.scanAngle = I16(round_half_away(F32(I8(item[16])) / 0.006f));
  }
  f.flags = U8(flags);
  f.userData = item[17];
  memcpy(&f.pointSource, item + 18, 2);
  memcpy(&f.gpsTime, item + kGpsTimeAt, 8);
}

// The stored fields of a point that the raw POINT14 reader just filled.
inline void loadDecoded(const U8* item, Fields& f) {
  memcpy(&f.X, item, 4);
  memcpy(&f.Y, item + 4, 4);
  memcpy(&f.Z, item + 8, 4);
  memcpy(&f.intensity, item + 12, 2);
  f.flags = U8((item[22] >> 4) | ((item[14] >> 6) << 4));
  f.channel = U8((item[22] >> 2) & 3);
  f.classification = item[23];
  f.returnNumber = item[24] & 15;
  f.numberOfReturns = item[24] >> 4;
  memcpy(&f.scanAngle, item + 20, 2);
  f.scanAngleRank = scanAngleRank(f.scanAngle);
  f.userData = item[17];
  memcpy(&f.pointSource, item + 18, 2);
  memcpy(&f.gpsTime, item + kGpsTimeAt, 8);
}

// Fills the legacy and extended fields of a point as the raw reader does.
inline void store(const Fields& f, U8* item) {
  U8 image[25];
  memcpy(image, &f.X, 4);
  memcpy(image + 4, &f.Y, 4);
  memcpy(image + 8, &f.Z, 4);
  memcpy(image + 12, &f.intensity, 2);
  U32 r = f.returnNumber;
  U32 n = f.numberOfReturns;
  const U32 extendedReturns = r | (n << 4);
  if (n > 7) {
    r = (r <= 6) ? r : (r >= n ? 7 : 6);
    n = 7;
  } else {
    r &= 7;
  }
  image[14] = U8(r | (n << 3) | (U32(f.flags >> 4) << 6));
  image[15] = U8((f.classification < 32 ? f.classification : 0) | ((f.flags & 7u) << 5));
  image[16] = U8(f.scanAngleRank);
  image[17] = f.userData;
  memcpy(image + 18, &f.pointSource, 2);
  memcpy(image + 20, &f.scanAngle, 2);
  image[22] = U8((item[22] & 3) | (f.channel << 2) | ((f.flags & 15u) << 4));
  image[23] = f.classification;
  image[24] = U8(extendedReturns);
  memcpy(item, image, 25);
  memcpy(item + kGpsTimeAt, &f.gpsTime, 8);
}

inline U32 changedValuesIndex(const Fields& last) {
  return U32(last.returnNumber == 1) + 2 * U32(last.returnNumber >= last.numberOfReturns) +
         4 * U32(last.gpsChanged);
}

bool isNaNPattern(U64 bits) {
  F64 v;
  memcpy(&v, &bits, 8);
  return v != v;
}

}  // namespace

// The coding state of one scanner channel.
template <class Coder>
struct Point14Context {
  explicit Point14Context(Coder* const* layer)
      : x(*layer[XY], 32, 2),
        y(*layer[XY], 32, 22),
        z(*layer[Z_LAYER], 32, 20),
        intensity(*layer[INTENSITY], 16, 4),
        scanAngle(*layer[SCAN_ANGLE], 16, 2),
        pointSource(*layer[POINT_SOURCE], 16, 1),
        gpsTime(*layer[GPS_TIME], 32, 9) {
    const Coder& c = *layer[XY];
    makeModels(changedValues, 8, 128, c);
    scannerChannel = c.makeSymbolModel(3);
    makeModels(numberOfReturns, 16, 16, c);
    makeModels(returnNumber, 16, 16, c);
    returnNumberSameTime = c.makeSymbolModel(13);
    makeModels(classification, 64, 256, c);
    makeModels(flags, 64, 64, c);
    makeModels(userData, 64, 256, c);
    gpsMultiplier = c.makeSymbolModel(515);
    gpsZero = c.makeSymbolModel(5);
  }

  void init(const Fields& item, const Coder& coder) {
    for (SymbolModel& m : changedValues) m.reset();
    scannerChannel.reset();
    for (SymbolModel& m : numberOfReturns) resetIfMade(m);
    for (SymbolModel& m : returnNumber) resetIfMade(m);
    returnNumberSameTime.reset();
    startCoder(x, coder);
    startCoder(y, coder);
    startCoder(z, coder);
    for (SymbolModel& m : classification) resetIfMade(m);
    for (SymbolModel& m : flags) resetIfMade(m);
    for (SymbolModel& m : userData) resetIfMade(m);
    startCoder(intensity, coder);
    startCoder(scanAngle, coder);
    startCoder(pointSource, coder);
    gpsMultiplier.reset();
    gpsZero.reset();
    startCoder(gpsTime, coder);
    for (RunningMedian5& m : medianX) m.reset();
    for (RunningMedian5& m : medianY) m.reset();
    for (I32& h : lastHeight) h = item.Z;
    for (U16& i : lastIntensity) i = item.intensity;
    gpsSequence = 0;
    gpsLastMade = 0;
    gpsLastTime[0] = item.gpsTime;
    gpsLastTime[1] = gpsLastTime[2] = gpsLastTime[3] = 0;
    for (U32 k = 0; k < 4; k++) gpsLastDiff[k] = gpsExtreme[k] = 0;
    last = item;
    last.gpsChanged = false;
    inUse = true;
  }

  void extremeStep(U32 k, I32 d) {
    if (++gpsExtreme[k] > 3) {
      gpsLastDiff[k] = d;
      gpsExtreme[k] = 0;
    }
  }

  bool inUse = false;
  Fields last;
  U16 lastIntensity[8] = {};
  RunningMedian5 medianX[12];
  RunningMedian5 medianY[12];
  I32 lastHeight[8] = {};

  SymbolModel changedValues[8];
  SymbolModel scannerChannel;
  SymbolModel numberOfReturns[16];
  SymbolModel returnNumber[16];
  SymbolModel returnNumberSameTime;
  IntDeltaCoder x;
  IntDeltaCoder y;
  IntDeltaCoder z;
  SymbolModel classification[64];
  SymbolModel flags[64];
  SymbolModel userData[64];
  IntDeltaCoder intensity;
  IntDeltaCoder scanAngle;
  IntDeltaCoder pointSource;
  SymbolModel gpsMultiplier;
  SymbolModel gpsZero;
  IntDeltaCoder gpsTime;
  U32 gpsSequence = 0;
  U32 gpsLastMade = 0;
  U64 gpsLastTime[4] = {};
  I32 gpsLastDiff[4] = {};
  I32 gpsExtreme[4] = {};
};

template <class Coder, class Layers>
class Point14Contexts {
 public:
  using Context = Point14Context<Coder>;
  explicit Point14Contexts(Layers& layers) : layers_(layers) {}

  Context& operator[](U32 c) { return *contexts_[c]; }
  bool inUse(U32 c) const { return contexts_[c] && contexts_[c]->inUse; }
  void release() {
    for (auto& c : contexts_) {
      if (c) c->inUse = false;
    }
  }
  void init(U32 c, const Fields& item) {
    if (!contexts_[c]) {
      Coder* coders[POINT14_LAYERS];
      for (U32 i = 0; i < POINT14_LAYERS; i++) coders[i] = &layers_.encoderOrDecoder(i);
      contexts_[c] = std::make_unique<Context>(coders);
    }
    contexts_[c]->init(item, layers_.encoderOrDecoder(XY));
  }

 private:
  Layers& layers_;
  std::unique_ptr<Context> contexts_[4];
};

struct Point14OutLayers : OutLayers {
  Point14OutLayers() : OutLayers(POINT14_LAYERS, 2) {}
  EntropyEncoder& encoderOrDecoder(U32 i) { return encoder(i); }
};

struct Point14InLayers : InLayers {
  Point14InLayers() : InLayers(POINT14_LAYERS) {}
  EntropyDecoder& encoderOrDecoder(U32 i) { return decoder(i); }
};

class Point14Writer {
 public:
  Point14Writer(EntropyEncoder& main, bool version4)
      : main_(main), version4_(version4), contexts_(layers_) {}

  bool startChunk(const U8* item, U32& context) {
    layers_.start();
    contexts_.release();
    Fields f;
    loadForWriting(item, f);
    current_ = f.channel;
    context = current_;
    contexts_.init(current_, f);
    return true;
  }

  bool writeItem(const U8* item, U32& context);
  bool writeLayerSizes() { return layers_.writeSizes(main_.getByteStreamOut()); }
  bool writeLayerBytes() { return layers_.writeBytes(main_.getByteStreamOut()); }
  U64 pendingLayerBytes() const { return layers_.pending(); }

 private:
  using Context = Point14Context<EntropyEncoder>;
  void writeGpsTime(Context& ctx, U64 time);

  EntropyEncoder& main_;
  const bool version4_;
  Point14OutLayers layers_;
  Point14Contexts<EntropyEncoder, Point14OutLayers> contexts_;
  U32 current_ = 0;
};

bool Point14Writer::writeItem(const U8* item, U32& context) {
  Fields P;
  loadForWriting(item, P);
  EntropyEncoder& xy = layers_.encoder(XY);
  Context* ctx = &contexts_[current_];
  const U32 cN = P.channel;
  const bool switched = (cN != current_);
  const Fields& L = ctx->last;
  const Fields& R0 = (switched && contexts_.inUse(cN)) ? contexts_[cN].last : L;

  U32 changed = 0;
  if (switched) changed |= 64;
  if (P.pointSource != R0.pointSource) changed |= 32;
  // Compared as doubles, so a repeated NaN counts as a change; differing
  // patterns count too, or -0.0 after 0.0 would lose its sign.
  const bool g = (P.gpsTime != R0.gpsTime) || isNaNPattern(P.gpsTime);
  if (g) changed |= 16;
  if (P.scanAngle != R0.scanAngle) changed |= 8;
  if (P.numberOfReturns != R0.numberOfReturns) changed |= 4;
  const U32 r = P.returnNumber;
  const U32 n = P.numberOfReturns;
  if (r == R0.returnNumber) {
  } else if (r == ((R0.returnNumber + 1u) & 15u)) {
    changed |= 1;
  } else if (r == ((R0.returnNumber + 15u) & 15u)) {
    changed |= 2;
  } else {
    changed |= 3;
  }
  xy.putSymbol(ctx->changedValues[changedValuesIndex(L)], changed);

  if (switched) {
    xy.putSymbol(ctx->scannerChannel, (cN - current_ - 1) & 3);
    if (!contexts_.inUse(cN)) contexts_.init(cN, L);
    current_ = cN;
    ctx = &contexts_[cN];
    if (!version4_) context = cN;
  }
  if (version4_) context = current_;
  const Fields& R = ctx->last;

  if (changed & 4) xy.putSymbol(lazy(ctx->numberOfReturns[R.numberOfReturns]), n);
  if ((changed & 3) == 3) {
    if (g) {
      xy.putSymbol(lazy(ctx->returnNumber[R.returnNumber]), r);
    } else {
      xy.putSymbol(ctx->returnNumberSameTime, (r - R.returnNumber - 2) & 15);
    }
  }

  const U32 m = kReturnContext[n][r];
  const U32 l = returnDistance(n, r);
  const U32 s = (n == 1);
  const U32 i = 2 * m + g;
  const I32 dx = I32(U32(P.X) - U32(R.X));
  ctx->x.encode(ctx->medianX[i].get(), dx, s);
  ctx->medianX[i].add(dx);
  const U32 kx = ctx->x.lastClass();
  const I32 dy = I32(U32(P.Y) - U32(R.Y));
  ctx->y.encode(ctx->medianY[i].get(), dy, (kx < 20 ? (kx & ~1u) : 20) + s);
  ctx->medianY[i].add(dy);
  const U32 ky = ctx->y.lastClass();

  const U32 kxy = kx + ky;
  ctx->z.encode(ctx->lastHeight[l], P.Z, (kxy < 36 ? 2 * (kxy / 4) : 18) + s);
  ctx->lastHeight[l] = P.Z;

  const U32 cpr = 2 * U32(r == 1) + U32(r >= n);
  layers_.encoder(CLASSIFICATION)
      .putSymbol(lazy(ctx->classification[((2u * R.classification) & 63u) + (cpr == 3)]),
                 P.classification);
  if (P.classification != R.classification) layers_[CLASSIFICATION].changed = true;

  layers_.encoder(FLAGS).putSymbol(lazy(ctx->flags[R.flags]), P.flags);
  if (P.flags != R.flags) layers_[FLAGS].changed = true;

  const U32 li = 2 * cpr + g;
  ctx->intensity.encode(ctx->lastIntensity[li], P.intensity, cpr);
  ctx->lastIntensity[li] = P.intensity;
  if (P.intensity != R.intensity) layers_[INTENSITY].changed = true;

  if (changed & 8) {
    ctx->scanAngle.encode(R.scanAngle, P.scanAngle, g);
    layers_[SCAN_ANGLE].changed = true;
  }

  layers_.encoder(USER_DATA).putSymbol(lazy(ctx->userData[R.userData / 4]), P.userData);
  if (P.userData != R.userData) layers_[USER_DATA].changed = true;

  if (changed & 32) {
    ctx->pointSource.encode(R.pointSource, P.pointSource, 0);
    layers_[POINT_SOURCE].changed = true;
  }

  if (g) {
    layers_[GPS_TIME].changed = true;
    writeGpsTime(*ctx, P.gpsTime);
  }

  ctx->last = P;
  ctx->last.gpsChanged = g;
  return true;
}

void Point14Writer::writeGpsTime(Context& ctx, U64 time) {
  EntropyEncoder& enc = layers_.encoder(GPS_TIME);
  for (;;) {
    const U32 k = ctx.gpsSequence;
    const I32 D = ctx.gpsLastDiff[k];
    const I64 d64 = I64(time - ctx.gpsLastTime[k]);
    if (fitsI32(d64)) {
      const I32 d = I32(d64);
      if (D == 0) {
        enc.putSymbol(ctx.gpsZero, 0);
        ctx.gpsTime.encode(0, d, 0);
        ctx.gpsLastDiff[k] = d;
        ctx.gpsExtreme[k] = 0;
      } else {
        const F32 x = F32(d) / F32(D);
        const I64 q = (x >= 0.0f) ? I64(F64(x) + 0.5) : I64(F64(x) - 0.5);
        if (q == 1) {
          enc.putSymbol(ctx.gpsMultiplier, 1);
          ctx.gpsTime.encode(D, d, 1);
          ctx.gpsExtreme[k] = 0;
        } else if (q >= 2 && q <= 499) {
          enc.putSymbol(ctx.gpsMultiplier, U32(q));
          ctx.gpsTime.encode(mul32(I32(q), D), d, q < 10 ? 2 : 3);
        } else if (q >= 500) {
          enc.putSymbol(ctx.gpsMultiplier, 500);
          ctx.gpsTime.encode(mul32(500, D), d, 4);
          ctx.extremeStep(k, d);
        } else if (q >= -9 && q <= -1) {
          enc.putSymbol(ctx.gpsMultiplier, U32(500 - q));
          ctx.gpsTime.encode(mul32(I32(q), D), d, 5);
        } else if (q <= -10) {
          enc.putSymbol(ctx.gpsMultiplier, 510);
          ctx.gpsTime.encode(mul32(-10, D), d, 6);
          ctx.extremeStep(k, d);
        } else {
          enc.putSymbol(ctx.gpsMultiplier, 0);
          ctx.gpsTime.encode(0, d, 7);
          ctx.extremeStep(k, d);
        }
      }
      ctx.gpsLastTime[k] = time;
      return;
    }
    // Too far from this sequence: switch to another one that is close, or
    // start a new sequence with the full time.
    U32 j = 1;
    for (; j <= 3; j++) {
      if (fitsI32(I64(time - ctx.gpsLastTime[(k + j) & 3]))) break;
    }
    if (j <= 3) {
      enc.putSymbol(D ? ctx.gpsMultiplier : ctx.gpsZero, D ? 511 + j : 1 + j);
      ctx.gpsSequence = (k + j) & 3;
      continue;
    }
    enc.putSymbol(D ? ctx.gpsMultiplier : ctx.gpsZero, D ? 511 : 1);
    ctx.gpsTime.encode(I32(ctx.gpsLastTime[k] >> 32), I32(time >> 32), 8);
    enc.putRaw32(U32(time));
    ctx.gpsLastMade = (ctx.gpsLastMade + 1) & 3;
    ctx.gpsSequence = ctx.gpsLastMade;
    ctx.gpsLastDiff[ctx.gpsSequence] = 0;
    ctx.gpsExtreme[ctx.gpsSequence] = 0;
    ctx.gpsLastTime[ctx.gpsSequence] = time;
    return;
  }
}

class Point14Reader {
 public:
  Point14Reader(EntropyDecoder& main, U32 selection, bool version4)
      : main_(main), version4_(version4), contexts_(layers_) {
    const U32 bits[POINT14_LAYERS] = {layer_select::ALL,
                                      layer_select::Z,
                                      layer_select::CLASSIFICATION,
                                      layer_select::FLAGS,
                                      layer_select::INTENSITY,
                                      layer_select::SCAN_ANGLE,
                                      layer_select::USER_DATA,
                                      layer_select::POINT_SOURCE,
                                      layer_select::GPS_TIME};
    for (U32 i = 0; i < POINT14_LAYERS; i++) layers_[i].requested = (selection & bits[i]) != 0;
  }

  bool readLayerSizes() {
    ByteStreamIn* in = main_.getByteStreamIn();
    if (in == nullptr) return false;
    layers_.readSizes(*in);
    return true;
  }

  bool startChunk(U8* item, U32& context, I64 chunkEnd) {
    ByteStreamIn* in = main_.getByteStreamIn();
    if (in == nullptr) return false;
    layers_.load(*in, chunkEnd);
    contexts_.release();
    Fields f;
    loadDecoded(item, f);
    current_ = f.channel;
    context = current_;
    contexts_.init(current_, f);
    return true;
  }

  void readItem(U8* item, U32& context);

 private:
  using Context = Point14Context<EntropyDecoder>;
  U64 readGpsTime(Context& ctx);
  U64 readFullTime(Context& ctx, U32 k);
  // One value of a layer that codes a single number per record, through a
  // local copy of the layer's coder state.
  I32 decodeIn(U32 layer, IntDeltaCoder& coder, I32 prediction, U32 context) {
    EntropyDecoder& dec = layers_.decoder(layer);
    EntropyDecoderState state = dec.save();
    const I32 value = coder.decode(state, prediction, context);
    dec.restore(state);
    return value;
  }

  EntropyDecoder& main_;
  const bool version4_;
  Point14InLayers layers_;
  Point14Contexts<EntropyDecoder, Point14InLayers> contexts_;
  U32 current_ = 0;
};

void Point14Reader::readItem(U8* item, U32& context) {
  // Every record codes into the XY layer, so a chunk of more than one record
  // without it is corrupt.
  if (!layers_.decode(XY)) throw DecodingError();
  EntropyDecoderState xy = layers_.decoder(XY).save();
  Context* ctx = &contexts_[current_];
  const U32 changed = xy.getSymbol(ctx->changedValues[changedValuesIndex(ctx->last)]);

  if (changed & 64) {
    const U32 cN = (current_ + xy.getSymbol(ctx->scannerChannel) + 1) & 3;
    if (!contexts_.inUse(cN)) contexts_.init(cN, ctx->last);
    current_ = cN;
    ctx = &contexts_[cN];
    ctx->last.channel = U8(cN);
    if (!version4_) context = cN;
  }
  if (version4_) context = current_;
  const Fields& R = ctx->last;
  Fields P = R;

  if (changed & 4)
    P.numberOfReturns = U8(xy.getSymbol(lazy(ctx->numberOfReturns[R.numberOfReturns])));
  switch (changed & 3) {
    case 0:
      break;
    case 1:
      P.returnNumber = (R.returnNumber + 1) & 15;
      break;
    case 2:
      P.returnNumber = (R.returnNumber + 15) & 15;
      break;
    default:
      if (changed & 16) {
        P.returnNumber = U8(xy.getSymbol(lazy(ctx->returnNumber[R.returnNumber])));
      } else {
        P.returnNumber = U8((R.returnNumber + xy.getSymbol(ctx->returnNumberSameTime) + 2) & 15);
      }
      break;
  }
  const U32 r = P.returnNumber;
  const U32 n = P.numberOfReturns;
  const U32 g = (changed >> 4) & 1;
  const U32 m = kReturnContext[n][r];
  const U32 l = returnDistance(n, r);
  const U32 s = (n == 1);
  const U32 i = 2 * m + g;

  const I32 dx = ctx->x.decode(xy, ctx->medianX[i].get(), s);
  P.X = I32(U32(R.X) + U32(dx));
  ctx->medianX[i].add(dx);
  const U32 kx = ctx->x.lastClass();
  const I32 dy = ctx->y.decode(xy, ctx->medianY[i].get(), (kx < 20 ? (kx & ~1u) : 20) + s);
  layers_.decoder(XY).restore(xy);
  P.Y = I32(U32(R.Y) + U32(dy));
  ctx->medianY[i].add(dy);
  const U32 ky = ctx->y.lastClass();

  if (layers_.decode(Z_LAYER)) {
    const U32 kxy = kx + ky;
    P.Z = decodeIn(Z_LAYER, ctx->z, ctx->lastHeight[l], (kxy < 36 ? 2 * (kxy / 4) : 18) + s);
    ctx->lastHeight[l] = P.Z;
  }

  const U32 cpr = 2 * U32(r == 1) + U32(r >= n);
  if (layers_.decode(CLASSIFICATION)) {
    P.classification =
        U8(layers_.decoder(CLASSIFICATION)
               .getSymbol(lazy(ctx->classification[((2u * R.classification) & 63u) + (cpr == 3)])));
  }
  if (layers_.decode(FLAGS)) {
    P.flags = U8(layers_.decoder(FLAGS).getSymbol(lazy(ctx->flags[R.flags])));
  }
  if (layers_.decode(INTENSITY)) {
    const U32 li = 2 * cpr + g;
    P.intensity = U16(decodeIn(INTENSITY, ctx->intensity, ctx->lastIntensity[li], cpr));
    ctx->lastIntensity[li] = P.intensity;
  }
  if ((changed & 8) && layers_.decode(SCAN_ANGLE)) {
    P.scanAngle = I16(U16(decodeIn(SCAN_ANGLE, ctx->scanAngle, R.scanAngle, g)));
    P.scanAngleRank = scanAngleRank(P.scanAngle);
  }
  if (layers_.decode(USER_DATA)) {
    P.userData = U8(layers_.decoder(USER_DATA).getSymbol(lazy(ctx->userData[R.userData / 4])));
  }
  if ((changed & 32) && layers_.decode(POINT_SOURCE)) {
    P.pointSource = U16(decodeIn(POINT_SOURCE, ctx->pointSource, R.pointSource, 0));
  }
  if ((changed & 16) && layers_.decode(GPS_TIME)) P.gpsTime = readGpsTime(*ctx);

  store(P, item);
  P.gpsChanged = (g != 0);
  ctx->last = P;
}

U64 Point14Reader::readGpsTime(Context& ctx) {
  EntropyDecoder& dec = layers_.decoder(GPS_TIME);
  // A writer switches sequence at most once per time, towards a sequence the
  // time is close to.
  bool switched = false;
  for (;;) {
    const U32 k = ctx.gpsSequence;
    const I32 D = ctx.gpsLastDiff[k];
    I32 d;
    if (D == 0) {
      const U32 symbol = dec.getSymbol(ctx.gpsZero);
      if (symbol == 0) {
        d = ctx.gpsTime.decode(0, 0);
        ctx.gpsLastDiff[k] = d;
        ctx.gpsExtreme[k] = 0;
      } else if (symbol == 1) {
        return readFullTime(ctx, k);
      } else {
        if (switched) throw DecodingError();
        switched = true;
        ctx.gpsSequence = (k + symbol - 1) & 3;
        continue;
      }
    } else {
      const U32 symbol = dec.getSymbol(ctx.gpsMultiplier);
      if (symbol == 1) {
        d = ctx.gpsTime.decode(D, 1);
        ctx.gpsExtreme[k] = 0;
      } else if (symbol >= 2 && symbol < 500) {
        d = ctx.gpsTime.decode(mul32(I32(symbol), D), symbol < 10 ? 2 : 3);
      } else if (symbol == 500) {
        d = ctx.gpsTime.decode(mul32(500, D), 4);
        ctx.extremeStep(k, d);
      } else if (symbol > 500 && symbol < 510) {
        d = ctx.gpsTime.decode(mul32(500 - I32(symbol), D), 5);
      } else if (symbol == 510) {
        d = ctx.gpsTime.decode(mul32(-10, D), 6);
        ctx.extremeStep(k, d);
      } else if (symbol == 0) {
        d = ctx.gpsTime.decode(0, 7);
        ctx.extremeStep(k, d);
      } else if (symbol == 511) {
        return readFullTime(ctx, k);
      } else {
        if (switched) throw DecodingError();
        switched = true;
        ctx.gpsSequence = (k + symbol - 511) & 3;
        continue;
      }
    }
    ctx.gpsLastTime[k] += U64(I64(d));
    return ctx.gpsLastTime[k];
  }
}

// A time far from every sequence starts a new one.
U64 Point14Reader::readFullTime(Context& ctx, U32 k) {
  const U32 high = U32(ctx.gpsTime.decode(I32(ctx.gpsLastTime[k] >> 32), 8));
  const U64 time = (U64(high) << 32) | layers_.decoder(GPS_TIME).getRaw32();
  ctx.gpsLastMade = (ctx.gpsLastMade + 1) & 3;
  ctx.gpsSequence = ctx.gpsLastMade;
  ctx.gpsLastDiff[ctx.gpsSequence] = 0;
  ctx.gpsExtreme[ctx.gpsSequence] = 0;
  ctx.gpsLastTime[ctx.gpsSequence] = time;
  return time;
}

// ---------------------------------------------------------------- other items

// The contexts of an item codec other than POINT14, made on first use.
template <class Ctx>
class ItemContexts {
 public:
  using Maker = std::function<std::unique_ptr<Ctx>()>;
  explicit ItemContexts(Maker make) : make_(std::move(make)) {}
  Ctx& operator[](U32 c) { return *contexts_[c]; }
  bool inUse(U32 c) const { return contexts_[c] && contexts_[c]->inUse; }
  void release() {
    for (auto& c : contexts_) {
      if (c) c->inUse = false;
    }
  }
  void init(U32 c, const U8* item) {
    if (!contexts_[c]) contexts_[c] = make_();
    contexts_[c]->init(item);
  }
  U8* lastItem(U32 c) { return contexts_[c]->last(); }

 private:
  Maker make_;
  std::unique_ptr<Ctx> contexts_[4];
};

// Shared by the writers and readers of RGB14, RGBNIR14, WAVEPACKET14 and
// BYTE14: contexts, channel selection and layers.
template <class Ctx, class Layers>
class ItemCodec {
 public:
  ItemCodec(typename ItemContexts<Ctx>::Maker make, U32 layerCount, U32 itemSize, bool version4)
      : layers_(layerCount), contexts_(std::move(make)), size_(itemSize), version4_(version4) {}

 protected:
  void begin(const U8* item, U32 context) {
    contexts_.release();
    select_.current = select_.reference = context & 3;
    contexts_.init(select_.current, item);
  }
  // The models' context and the last item to predict from.
  Ctx& select(U32 context) {
    select_.select(context & 3, contexts_, version4_);
    return contexts_[select_.current];
  }
  U8* reference() { return contexts_.lastItem(select_.reference); }

  Layers layers_;
  ItemContexts<Ctx> contexts_;
  ChannelSelect select_;
  const U32 size_;
  const bool version4_;
};

struct WriterLayers : OutLayers {
  explicit WriterLayers(U32 count) : OutLayers(count, 0) {}
};

// ---- RGB14 and RGBNIR14

struct RgbContext {
  RgbContext(bool nir, bool encodeOnly, U32 size) : nir_(nir), size_(size) {
    byteUsed = SymbolModel(128, encodeOnly);
    for (SymbolModel& m : diff) m = SymbolModel(256, encodeOnly);
    if (nir) {
      nirUsed = SymbolModel(4, encodeOnly);
      nirLow = SymbolModel(256, encodeOnly);
      nirHigh = SymbolModel(256, encodeOnly);
    }
  }
  void init(const U8* item) {
    byteUsed.reset();
    for (SymbolModel& m : diff) m.reset();
    if (nir_) {
      nirUsed.reset();
      nirLow.reset();
      nirHigh.reset();
    }
    memcpy(last_, item, size_);
    inUse = true;
  }
  U8* last() { return last_; }

  bool inUse = false;
  SymbolModel byteUsed;
  SymbolModel diff[6];  // red low, red high, green low, green high, blue low, blue high
  SymbolModel nirUsed;
  SymbolModel nirLow;
  SymbolModel nirHigh;

 private:
  bool nir_;
  U32 size_;
  U8 last_[8] = {};
};

namespace {

inline void getRgb(const U8* item, U32 v[4], U32 count) {
  for (U32 i = 0; i < count; i++) v[i] = U32(item[2 * i]) | (U32(item[2 * i + 1]) << 8);
}
inline void putRgb(U8* item, const U32 v[4], U32 count) {
  for (U32 i = 0; i < count; i++) {
    item[2 * i] = U8(v[i]);
    item[2 * i + 1] = U8(v[i] >> 8);
  }
}

// Codes colour P against Q; returns the byte-use symbol.
U32 encodeRgb(EntropyEncoder& enc, RgbContext& M, const U32* Q, const U32* P) {
  const I32 prl = P[0] & 255, prh = P[0] >> 8, pgl = P[1] & 255, pgh = P[1] >> 8;
  const I32 pbl = P[2] & 255, pbh = P[2] >> 8;
  const I32 qrl = Q[0] & 255, qrh = Q[0] >> 8, qgl = Q[1] & 255, qgh = Q[1] >> 8;
  const I32 qbl = Q[2] & 255, qbh = Q[2] >> 8;
  U32 sym = 0;
  if (prl != qrl) sym |= 1;
  if (prh != qrh) sym |= 2;
  if (pgl != qgl) sym |= 4;
  if (pgh != qgh) sym |= 8;
  if (pbl != qbl) sym |= 16;
  if (pbh != qbh) sym |= 32;
  if (prl != pgl || prl != pbl || prh != pgh || prh != pbh) sym |= 64;
  enc.putSymbol(M.byteUsed, sym);
  I32 dl = 0;
  I32 dh = 0;
  if (sym & 1) {
    dl = prl - qrl;
    enc.putSymbol(M.diff[0], fold(dl));
  }
  if (sym & 2) {
    dh = prh - qrh;
    enc.putSymbol(M.diff[1], fold(dh));
  }
  if (sym & 64) {
    if (sym & 4) enc.putSymbol(M.diff[2], fold(pgl - clampByte(dl + qgl)));
    if (sym & 16) {
      const I32 e = (dl + pgl - qgl) / 2;
      enc.putSymbol(M.diff[4], fold(pbl - clampByte(e + qbl)));
    }
    if (sym & 8) enc.putSymbol(M.diff[3], fold(pgh - clampByte(dh + qgh)));
    if (sym & 32) {
      const I32 e = (dh + pgh - qgh) / 2;
      enc.putSymbol(M.diff[5], fold(pbh - clampByte(e + qbh)));
    }
  }
  return sym;
}

void decodeRgb(EntropyDecoderState& dec, RgbContext& M, const U32* Q, U32* P) {
  const U32 sym = dec.getSymbol(M.byteUsed);
  const I32 qrl = Q[0] & 255, qrh = Q[0] >> 8, qgl = Q[1] & 255, qgh = Q[1] >> 8;
  const I32 qbl = Q[2] & 255, qbh = Q[2] >> 8;
  I32 rl = qrl;
  I32 rh = qrh;
  if (sym & 1) rl = I32((dec.getSymbol(M.diff[0]) + U32(qrl)) & 255);
  if (sym & 2) rh = I32((dec.getSymbol(M.diff[1]) + U32(qrh)) & 255);
  P[0] = U32(rl | (rh << 8));
  if (sym & 64) {
    const I32 dl = rl - qrl;
    const I32 dh = rh - qrh;
    I32 gl = qgl, bl = qbl, gh = qgh, bh = qbh;
    if (sym & 4) gl = I32((dec.getSymbol(M.diff[2]) + U32(clampByte(dl + qgl))) & 255);
    if (sym & 16) {
      const I32 e = (dl + gl - qgl) / 2;
      bl = I32((dec.getSymbol(M.diff[4]) + U32(clampByte(e + qbl))) & 255);
    }
    if (sym & 8) gh = I32((dec.getSymbol(M.diff[3]) + U32(clampByte(dh + qgh))) & 255);
    if (sym & 32) {
      const I32 e = (dh + gh - qgh) / 2;
      bh = I32((dec.getSymbol(M.diff[5]) + U32(clampByte(e + qbh))) & 255);
    }
    P[1] = U32(gl | (gh << 8));
    P[2] = U32(bl | (bh << 8));
  } else {
    P[1] = P[2] = P[0];
  }
}

}  // namespace

class RgbWriter : public ItemCodec<RgbContext, WriterLayers> {
 public:
  RgbWriter(EntropyEncoder& main, bool nir, bool version4)
      : ItemCodec([nir] { return std::make_unique<RgbContext>(nir, true, nir ? 8 : 6); },
                  nir ? 2 : 1, nir ? 8 : 6, version4),
        main_(main),
        nir_(nir) {}

  bool startChunk(const U8* item, U32& context) {
    layers_.start();
    begin(item, context);
    return true;
  }

  bool writeItem(const U8* item, U32& context) {
    RgbContext& M = select(context);
    U8* last = reference();
    U32 P[4], Q[4];
    getRgb(item, P, nir_ ? 4 : 3);
    getRgb(last, Q, nir_ ? 4 : 3);
    if (encodeRgb(layers_.encoder(0), M, Q, P)) layers_[0].changed = true;
    if (nir_) {
      EntropyEncoder& enc = layers_.encoder(1);
      const U32 sym = U32((P[3] & 255) != (Q[3] & 255)) | (U32((P[3] >> 8) != (Q[3] >> 8)) << 1);
      enc.putSymbol(M.nirUsed, sym);
      if (sym & 1) enc.putSymbol(M.nirLow, fold(I32(P[3] & 255) - I32(Q[3] & 255)));
      if (sym & 2) enc.putSymbol(M.nirHigh, fold(I32(P[3] >> 8) - I32(Q[3] >> 8)));
      if (sym) layers_[1].changed = true;
    }
    memcpy(last, item, size_);
    return true;
  }

  bool writeLayerSizes() { return layers_.writeSizes(main_.getByteStreamOut()); }
  bool writeLayerBytes() { return layers_.writeBytes(main_.getByteStreamOut()); }
  U64 pendingLayerBytes() const { return layers_.pending(); }

 private:
  EntropyEncoder& main_;
  const bool nir_;
};

class RgbReader : public ItemCodec<RgbContext, InLayers> {
 public:
  RgbReader(EntropyDecoder& main, U32 selection, bool nir, bool version4)
      : ItemCodec([nir] { return std::make_unique<RgbContext>(nir, false, nir ? 8 : 6); },
                  nir ? 2 : 1, nir ? 8 : 6, version4),
        main_(main),
        nir_(nir) {
    layers_[0].requested = (selection & layer_select::RGB) != 0;
    if (nir) layers_[1].requested = (selection & layer_select::NIR) != 0;
  }

  bool readLayerSizes() {
    ByteStreamIn* in = main_.getByteStreamIn();
    if (in == nullptr) return false;
    layers_.readSizes(*in);
    return true;
  }

  bool startChunk(U8* item, U32& context, I64 chunkEnd) {
    ByteStreamIn* in = main_.getByteStreamIn();
    if (in == nullptr) return false;
    layers_.load(*in, chunkEnd);
    begin(item, context);
    return true;
  }

  void readItem(U8* item, U32& context) {
    RgbContext& M = select(context);
    U8* last = reference();
    U32 P[4], Q[4];
    getRgb(last, Q, nir_ ? 4 : 3);
    memcpy(P, Q, sizeof(P));
    if (layers_.decode(0)) {
      EntropyDecoderState dec = layers_.decoder(0).save();
      decodeRgb(dec, M, Q, P);
      layers_.decoder(0).restore(dec);
    }
    if (nir_ && layers_.decode(1)) {
      EntropyDecoder& dec = layers_.decoder(1);
      const U32 sym = dec.getSymbol(M.nirUsed);
      U32 low = Q[3] & 255;
      U32 high = Q[3] >> 8;
      if (sym & 1) low = (dec.getSymbol(M.nirLow) + low) & 255;
      if (sym & 2) high = (dec.getSymbol(M.nirHigh) + high) & 255;
      P[3] = low | (high << 8);
    }
    putRgb(last, P, nir_ ? 4 : 3);
    memcpy(item, last, size_);
  }

 private:
  EntropyDecoder& main_;
  const bool nir_;
};

// ---- WAVEPACKET14

namespace {

struct Wavepacket {
  U8 index;
  U64 offset;
  U32 size;
  I32 location, x, y, z;  // float bit patterns
};

inline void getWavepacket(const U8* item, Wavepacket& w) {
  w.index = item[0];
  memcpy(&w.offset, item + 1, 8);
  memcpy(&w.size, item + 9, 4);
  memcpy(&w.location, item + 13, 4);
  memcpy(&w.x, item + 17, 4);
  memcpy(&w.y, item + 21, 4);
  memcpy(&w.z, item + 25, 4);
}

inline void putWavepacket(U8* item, const Wavepacket& w) {
  item[0] = w.index;
  memcpy(item + 1, &w.offset, 8);
  memcpy(item + 9, &w.size, 4);
  memcpy(item + 13, &w.location, 4);
  memcpy(item + 17, &w.x, 4);
  memcpy(item + 21, &w.y, 4);
  memcpy(item + 25, &w.z, 4);
}

}  // namespace

template <class Coder>
struct WavepacketContext {
  explicit WavepacketContext(Coder& coder)
      : coder_(coder),
        offsetDiff(coder, 32, 1),
        packetSize(coder, 32, 1),
        location(coder, 32, 1),
        xyz(coder, 32, 3) {
    index = coder.makeSymbolModel(256);
    makeModels(offset, 4, 4, coder);
  }
  void init(const U8* item) {
    index.reset();
    for (SymbolModel& m : offset) m.reset();
    startCoder(offsetDiff, coder_);
    startCoder(packetSize, coder_);
    startCoder(location, coder_);
    startCoder(xyz, coder_);
    memcpy(last_, item, 29);
    lastOffsetDiff = 0;
    lastOffsetSymbol = 0;
    inUse = true;
  }
  U8* last() { return last_; }

  Coder& coder_;
  bool inUse = false;
  I32 lastOffsetDiff = 0;
  U32 lastOffsetSymbol = 0;
  SymbolModel index;
  SymbolModel offset[4];
  IntDeltaCoder offsetDiff;
  IntDeltaCoder packetSize;
  IntDeltaCoder location;
  IntDeltaCoder xyz;

 private:
  U8 last_[29] = {};
};

class WavepacketWriter : public ItemCodec<WavepacketContext<EntropyEncoder>, WriterLayers> {
 public:
  WavepacketWriter(EntropyEncoder& main, bool version4)
      : ItemCodec(
            [this] {
              return std::make_unique<WavepacketContext<EntropyEncoder>>(layers_.encoder(0));
            },
            1, 29, version4),
        main_(main) {}

  bool startChunk(const U8* item, U32& context) {
    layers_.start();
    begin(item, context);
    return true;
  }

  bool writeItem(const U8* item, U32& context) {
    WavepacketContext<EntropyEncoder>& M = select(context);
    U8* last = reference();
    EntropyEncoder& enc = layers_.encoder(0);
    if (memcmp(item, last, 29) != 0) layers_[0].changed = true;
    Wavepacket P, Q;
    getWavepacket(item, P);
    getWavepacket(last, Q);
    enc.putSymbol(M.index, P.index);
    const I64 d64 = I64(P.offset - Q.offset);
    U32 sym = 3;
    if (fitsI32(d64)) {
      if (d64 == 0) {
        sym = 0;
      } else if (d64 == I64(Q.size)) {
        sym = 1;
      } else {
        sym = 2;
      }
    }
    enc.putSymbol(M.offset[M.lastOffsetSymbol], sym);
    if (sym == 2) {
      M.offsetDiff.encode(M.lastOffsetDiff, I32(d64), 0);
      M.lastOffsetDiff = I32(d64);
    } else if (sym == 3) {
      enc.putRaw64(P.offset);
    }
    M.lastOffsetSymbol = sym;
    M.packetSize.encode(I32(Q.size), I32(P.size), 0);
    M.location.encode(Q.location, P.location, 0);
    M.xyz.encode(Q.x, P.x, 0);
    M.xyz.encode(Q.y, P.y, 1);
    M.xyz.encode(Q.z, P.z, 2);
    memcpy(last, item, 29);
    return true;
  }

  bool writeLayerSizes() { return layers_.writeSizes(main_.getByteStreamOut()); }
  bool writeLayerBytes() { return layers_.writeBytes(main_.getByteStreamOut()); }
  U64 pendingLayerBytes() const { return layers_.pending(); }

 private:
  EntropyEncoder& main_;
};

class WavepacketReader : public ItemCodec<WavepacketContext<EntropyDecoder>, InLayers> {
 public:
  WavepacketReader(EntropyDecoder& main, U32 selection, bool version4)
      : ItemCodec(
            [this] {
              return std::make_unique<WavepacketContext<EntropyDecoder>>(layers_.decoder(0));
            },
            1, 29, version4),
        main_(main) {
    layers_[0].requested = (selection & layer_select::WAVEPACKET) != 0;
  }

  bool readLayerSizes() {
    ByteStreamIn* in = main_.getByteStreamIn();
    if (in == nullptr) return false;
    layers_.readSizes(*in);
    return true;
  }

  bool startChunk(U8* item, U32& context, I64 chunkEnd) {
    ByteStreamIn* in = main_.getByteStreamIn();
    if (in == nullptr) return false;
    layers_.load(*in, chunkEnd);
    begin(item, context);
    return true;
  }

  void readItem(U8* item, U32& context) {
    WavepacketContext<EntropyDecoder>& M = select(context);
    U8* last = reference();
    if (layers_.decode(0)) {
      EntropyDecoder& dec = layers_.decoder(0);
      Wavepacket P, Q;
      getWavepacket(last, Q);
      P.index = U8(dec.getSymbol(M.index));
      const U32 sym = dec.getSymbol(M.offset[M.lastOffsetSymbol]);
      if (sym == 0) {
        P.offset = Q.offset;
      } else if (sym == 1) {
        P.offset = Q.offset + Q.size;
      } else if (sym == 2) {
        M.lastOffsetDiff = M.offsetDiff.decode(M.lastOffsetDiff, 0);
        P.offset = Q.offset + U64(I64(M.lastOffsetDiff));
      } else {
        P.offset = dec.getRaw64();
      }
      M.lastOffsetSymbol = sym;
      P.size = U32(M.packetSize.decode(I32(Q.size), 0));
      P.location = M.location.decode(Q.location, 0);
      P.x = M.xyz.decode(Q.x, 0);
      P.y = M.xyz.decode(Q.y, 1);
      P.z = M.xyz.decode(Q.z, 2);
      putWavepacket(last, P);
    }
    memcpy(item, last, 29);
  }

 private:
  EntropyDecoder& main_;
};

// ---- BYTE14

struct ByteContext {
  ByteContext(U32 number, bool encodeOnly) : last_(number) {
    models.reserve(number);
    for (U32 i = 0; i < number; i++) models.emplace_back(256, encodeOnly);
  }
  void init(const U8* item) {
    for (SymbolModel& m : models) m.reset();
    memcpy(last_.data(), item, last_.size());
    inUse = true;
  }
  U8* last() { return last_.data(); }

  bool inUse = false;
  std::vector<SymbolModel> models;

 private:
  std::vector<U8> last_;
};

class ByteWriter : public ItemCodec<ByteContext, WriterLayers> {
 public:
  ByteWriter(EntropyEncoder& main, U32 number, bool version4)
      : ItemCodec([number] { return std::make_unique<ByteContext>(number, true); }, number, number,
                  version4),
        main_(main) {}

  bool startChunk(const U8* item, U32& context) {
    layers_.start();
    begin(item, context);
    return true;
  }

  bool writeItem(const U8* item, U32& context) {
    ByteContext& M = select(context);
    U8* last = reference();
    for (U32 i = 0; i < size_; i++) {
      layers_.encoder(i).putSymbol(M.models[i], fold(I32(item[i]) - I32(last[i])));
      if (item[i] != last[i]) {
        layers_[i].changed = true;
        last[i] = item[i];
      }
    }
    return true;
  }

  bool writeLayerSizes() { return layers_.writeSizes(main_.getByteStreamOut()); }
  bool writeLayerBytes() { return layers_.writeBytes(main_.getByteStreamOut()); }
  U64 pendingLayerBytes() const { return layers_.pending(); }

 private:
  EntropyEncoder& main_;
};

class ByteReader : public ItemCodec<ByteContext, InLayers> {
 public:
  ByteReader(EntropyDecoder& main, U32 number, U32 selection, bool version4)
      : ItemCodec([number] { return std::make_unique<ByteContext>(number, false); }, number, number,
                  version4),
        main_(main) {
    for (U32 i = 0; i < number && i < 16; i++) {
      layers_[i].requested = (selection & (layer_select::BYTE0 << i)) != 0;
    }
  }

  bool readLayerSizes() {
    ByteStreamIn* in = main_.getByteStreamIn();
    if (in == nullptr) return false;
    layers_.readSizes(*in);
    return true;
  }

  bool startChunk(U8* item, U32& context, I64 chunkEnd) {
    ByteStreamIn* in = main_.getByteStreamIn();
    if (in == nullptr) return false;
    layers_.load(*in, chunkEnd);
    begin(item, context);
    return true;
  }

  void readItem(U8* item, U32& context) {
    ByteContext& M = select(context);
    U8* last = reference();
    for (U32 i = 0; i < size_; i++) {
      if (layers_.decode(i)) last[i] = U8(layers_.decoder(i).getSymbol(M.models[i]) + last[i]);
      item[i] = last[i];
    }
  }

 private:
  EntropyDecoder& main_;
};

}  // namespace point14

// ---------------------------------------------------------------- public classes

using namespace point14;

LASwriteItemCompressed_POINT14_v3::LASwriteItemCompressed_POINT14_v3(EntropyEncoder& encoder)
    : LASwriteItemCompressed_POINT14_v3(encoder, false) {}
LASwriteItemCompressed_POINT14_v3::LASwriteItemCompressed_POINT14_v3(EntropyEncoder& encoder,
                                                                     bool version4)
    : impl_(std::make_unique<Point14Writer>(encoder, version4)) {}
LASwriteItemCompressed_POINT14_v3::~LASwriteItemCompressed_POINT14_v3() = default;
bool LASwriteItemCompressed_POINT14_v3::startChunk(const U8* item, U32& context) {
  return impl_->startChunk(item, context);
}
bool LASwriteItemCompressed_POINT14_v3::writeItem(const U8* item, U32& context) {
  return impl_->writeItem(item, context);
}
bool LASwriteItemCompressed_POINT14_v3::writeLayerSizes() {
  return impl_->writeLayerSizes();
}
bool LASwriteItemCompressed_POINT14_v3::writeLayerBytes() {
  return impl_->writeLayerBytes();
}
U64 LASwriteItemCompressed_POINT14_v3::pendingLayerBytes() const {
  return impl_->pendingLayerBytes();
}

LASwriteItemCompressed_RGB14_v3::LASwriteItemCompressed_RGB14_v3(EntropyEncoder& encoder)
    : LASwriteItemCompressed_RGB14_v3(encoder, false, false) {}
LASwriteItemCompressed_RGB14_v3::LASwriteItemCompressed_RGB14_v3(EntropyEncoder& encoder, bool nir,
                                                                 bool version4)
    : impl_(std::make_unique<RgbWriter>(encoder, nir, version4)) {}
LASwriteItemCompressed_RGB14_v3::~LASwriteItemCompressed_RGB14_v3() = default;
bool LASwriteItemCompressed_RGB14_v3::startChunk(const U8* item, U32& context) {
  return impl_->startChunk(item, context);
}
bool LASwriteItemCompressed_RGB14_v3::writeItem(const U8* item, U32& context) {
  return impl_->writeItem(item, context);
}
bool LASwriteItemCompressed_RGB14_v3::writeLayerSizes() {
  return impl_->writeLayerSizes();
}
bool LASwriteItemCompressed_RGB14_v3::writeLayerBytes() {
  return impl_->writeLayerBytes();
}
U64 LASwriteItemCompressed_RGB14_v3::pendingLayerBytes() const {
  return impl_->pendingLayerBytes();
}

LASwriteItemCompressed_WAVEPACKET14_v3::LASwriteItemCompressed_WAVEPACKET14_v3(
    EntropyEncoder& encoder)
    : LASwriteItemCompressed_WAVEPACKET14_v3(encoder, false) {}
LASwriteItemCompressed_WAVEPACKET14_v3::LASwriteItemCompressed_WAVEPACKET14_v3(
    EntropyEncoder& encoder, bool version4)
    : impl_(std::make_unique<WavepacketWriter>(encoder, version4)) {}
LASwriteItemCompressed_WAVEPACKET14_v3::~LASwriteItemCompressed_WAVEPACKET14_v3() = default;
bool LASwriteItemCompressed_WAVEPACKET14_v3::startChunk(const U8* item, U32& context) {
  return impl_->startChunk(item, context);
}
bool LASwriteItemCompressed_WAVEPACKET14_v3::writeItem(const U8* item, U32& context) {
  return impl_->writeItem(item, context);
}
bool LASwriteItemCompressed_WAVEPACKET14_v3::writeLayerSizes() {
  return impl_->writeLayerSizes();
}
bool LASwriteItemCompressed_WAVEPACKET14_v3::writeLayerBytes() {
  return impl_->writeLayerBytes();
}
U64 LASwriteItemCompressed_WAVEPACKET14_v3::pendingLayerBytes() const {
  return impl_->pendingLayerBytes();
}

LASwriteItemCompressed_BYTE14_v3::LASwriteItemCompressed_BYTE14_v3(EntropyEncoder& encoder,
                                                                   U32 number)
    : LASwriteItemCompressed_BYTE14_v3(encoder, number, false) {}
LASwriteItemCompressed_BYTE14_v3::LASwriteItemCompressed_BYTE14_v3(EntropyEncoder& encoder,
                                                                   U32 number, bool version4)
    : impl_(std::make_unique<ByteWriter>(encoder, number, version4)) {}
LASwriteItemCompressed_BYTE14_v3::~LASwriteItemCompressed_BYTE14_v3() = default;
bool LASwriteItemCompressed_BYTE14_v3::startChunk(const U8* item, U32& context) {
  return impl_->startChunk(item, context);
}
bool LASwriteItemCompressed_BYTE14_v3::writeItem(const U8* item, U32& context) {
  return impl_->writeItem(item, context);
}
bool LASwriteItemCompressed_BYTE14_v3::writeLayerSizes() {
  return impl_->writeLayerSizes();
}
bool LASwriteItemCompressed_BYTE14_v3::writeLayerBytes() {
  return impl_->writeLayerBytes();
}
U64 LASwriteItemCompressed_BYTE14_v3::pendingLayerBytes() const {
  return impl_->pendingLayerBytes();
}

LASreadItemCompressed_POINT14_v3::LASreadItemCompressed_POINT14_v3(EntropyDecoder& decoder,
                                                                   U32 layerSelection)
    : LASreadItemCompressed_POINT14_v3(decoder, layerSelection, false) {}
LASreadItemCompressed_POINT14_v3::LASreadItemCompressed_POINT14_v3(EntropyDecoder& decoder,
                                                                   U32 layerSelection,
                                                                   bool version4)
    : impl_(std::make_unique<Point14Reader>(decoder, layerSelection, version4)) {}
LASreadItemCompressed_POINT14_v3::~LASreadItemCompressed_POINT14_v3() = default;
void LASreadItemCompressed_POINT14_v3::readItem(U8* item, U32& context) {
  impl_->readItem(item, context);
}
bool LASreadItemCompressed_POINT14_v3::readLayerSizes() {
  return impl_->readLayerSizes();
}
bool LASreadItemCompressed_POINT14_v3::startChunk(U8* item, U32& context) {
  return impl_->startChunk(item, context, chunkEnd());
}

LASreadItemCompressed_RGB14_v3::LASreadItemCompressed_RGB14_v3(EntropyDecoder& decoder,
                                                               U32 layerSelection)
    : LASreadItemCompressed_RGB14_v3(decoder, layerSelection, false, false) {}
LASreadItemCompressed_RGB14_v3::LASreadItemCompressed_RGB14_v3(EntropyDecoder& decoder,
                                                               U32 layerSelection, bool nir,
                                                               bool version4)
    : impl_(std::make_unique<RgbReader>(decoder, layerSelection, nir, version4)) {}
LASreadItemCompressed_RGB14_v3::~LASreadItemCompressed_RGB14_v3() = default;
void LASreadItemCompressed_RGB14_v3::readItem(U8* item, U32& context) {
  impl_->readItem(item, context);
}
bool LASreadItemCompressed_RGB14_v3::readLayerSizes() {
  return impl_->readLayerSizes();
}
bool LASreadItemCompressed_RGB14_v3::startChunk(U8* item, U32& context) {
  return impl_->startChunk(item, context, chunkEnd());
}

LASreadItemCompressed_WAVEPACKET14_v3::LASreadItemCompressed_WAVEPACKET14_v3(
    EntropyDecoder& decoder, U32 layerSelection)
    : LASreadItemCompressed_WAVEPACKET14_v3(decoder, layerSelection, false) {}
LASreadItemCompressed_WAVEPACKET14_v3::LASreadItemCompressed_WAVEPACKET14_v3(
    EntropyDecoder& decoder, U32 layerSelection, bool version4)
    : impl_(std::make_unique<WavepacketReader>(decoder, layerSelection, version4)) {}
LASreadItemCompressed_WAVEPACKET14_v3::~LASreadItemCompressed_WAVEPACKET14_v3() = default;
void LASreadItemCompressed_WAVEPACKET14_v3::readItem(U8* item, U32& context) {
  impl_->readItem(item, context);
}
bool LASreadItemCompressed_WAVEPACKET14_v3::readLayerSizes() {
  return impl_->readLayerSizes();
}
bool LASreadItemCompressed_WAVEPACKET14_v3::startChunk(U8* item, U32& context) {
  return impl_->startChunk(item, context, chunkEnd());
}

LASreadItemCompressed_BYTE14_v3::LASreadItemCompressed_BYTE14_v3(EntropyDecoder& decoder,
                                                                 U32 number, U32 layerSelection)
    : LASreadItemCompressed_BYTE14_v3(decoder, number, layerSelection, false) {}
LASreadItemCompressed_BYTE14_v3::LASreadItemCompressed_BYTE14_v3(EntropyDecoder& decoder,
                                                                 U32 number, U32 layerSelection,
                                                                 bool version4)
    : impl_(std::make_unique<ByteReader>(decoder, number, layerSelection, version4)) {}
LASreadItemCompressed_BYTE14_v3::~LASreadItemCompressed_BYTE14_v3() = default;
void LASreadItemCompressed_BYTE14_v3::readItem(U8* item, U32& context) {
  impl_->readItem(item, context);
}
bool LASreadItemCompressed_BYTE14_v3::readLayerSizes() {
  return impl_->readLayerSizes();
}
bool LASreadItemCompressed_BYTE14_v3::startChunk(U8* item, U32& context) {
  return impl_->startChunk(item, context, chunkEnd());
}

std::unique_ptr<LASwriteItemCompressed> makePoint14FamilyWriter(const LASitem& item,
                                                                EntropyEncoder& encoder) {
  if (item.version != 3 && item.version != 4) return nullptr;
  const bool v4 = (item.version == 4);
  switch (item.type) {
    case LASitem::POINT14:
      if (item.size != 30) return nullptr;
      if (v4) return std::make_unique<LASwriteItemCompressed_POINT14_v4>(encoder);
      return std::make_unique<LASwriteItemCompressed_POINT14_v3>(encoder);
    case LASitem::RGB14:
      if (item.size != 6) return nullptr;
      if (v4) return std::make_unique<LASwriteItemCompressed_RGB14_v4>(encoder);
      return std::make_unique<LASwriteItemCompressed_RGB14_v3>(encoder);
    case LASitem::RGBNIR14:
      if (item.size != 8) return nullptr;
      if (v4) return std::make_unique<LASwriteItemCompressed_RGBNIR14_v4>(encoder);
      return std::make_unique<LASwriteItemCompressed_RGBNIR14_v3>(encoder);
    case LASitem::WAVEPACKET14:
      if (item.size != 29) return nullptr;
      if (v4) return std::make_unique<LASwriteItemCompressed_WAVEPACKET14_v4>(encoder);
      return std::make_unique<LASwriteItemCompressed_WAVEPACKET14_v3>(encoder);
    case LASitem::BYTE14:
      if (item.size < 1) return nullptr;
      if (v4) return std::make_unique<LASwriteItemCompressed_BYTE14_v4>(encoder, item.size);
      return std::make_unique<LASwriteItemCompressed_BYTE14_v3>(encoder, item.size);
    default:
      return nullptr;
  }
}

std::unique_ptr<LASreadItemCompressed> makePoint14FamilyReader(const LASitem& item,
                                                               EntropyDecoder& decoder,
                                                               U32 layerSelection) {
  if (item.version != 3 && item.version != 4) return nullptr;
  const bool v4 = (item.version == 4);
  switch (item.type) {
    case LASitem::POINT14:
      if (item.size != 30) return nullptr;
      if (v4) return std::make_unique<LASreadItemCompressed_POINT14_v4>(decoder, layerSelection);
      return std::make_unique<LASreadItemCompressed_POINT14_v3>(decoder, layerSelection);
    case LASitem::RGB14:
      if (item.size != 6) return nullptr;
      if (v4) return std::make_unique<LASreadItemCompressed_RGB14_v4>(decoder, layerSelection);
      return std::make_unique<LASreadItemCompressed_RGB14_v3>(decoder, layerSelection);
    case LASitem::RGBNIR14:
      if (item.size != 8) return nullptr;
      if (v4) return std::make_unique<LASreadItemCompressed_RGBNIR14_v4>(decoder, layerSelection);
      return std::make_unique<LASreadItemCompressed_RGBNIR14_v3>(decoder, layerSelection);
    case LASitem::WAVEPACKET14:
      if (item.size != 29) return nullptr;
      if (v4) {
        return std::make_unique<LASreadItemCompressed_WAVEPACKET14_v4>(decoder, layerSelection);
      }
      return std::make_unique<LASreadItemCompressed_WAVEPACKET14_v3>(decoder, layerSelection);
    case LASitem::BYTE14:
      if (item.size < 1) return nullptr;
      if (v4) {
        return std::make_unique<LASreadItemCompressed_BYTE14_v4>(decoder, item.size,
                                                                 layerSelection);
      }
      return std::make_unique<LASreadItemCompressed_BYTE14_v3>(decoder, item.size, layerSelection);
    default:
      return nullptr;
  }
}
