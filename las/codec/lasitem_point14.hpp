// Layered item codecs of the LAS 1.4 point types 6-10. Each codec codes its
// fields into several separate entropy-coded layers kept in memory until the
// chunk ends, so that a reader can skip the layers it does not need and an
// unchanged layer costs nothing. All coding state exists once per scanner
// channel, since points of a multi-channel scanner interleave.
//
// Version 4 differs from version 3 only in the context word handed to the
// items after POINT14 (the record's channel on every record rather than only
// on a record that switches channel) and in which last item those items
// predict from after a switch. Both are read; the writer chooses the version.
#pragma once

#include <memory>

#include "las/codec/entropy_coder.hpp"
#include "las/codec/lasreaditem.hpp"
#include "las/codec/laswriteitem.hpp"
#include "las/core/lasitem.hpp"

// Bits of the layer selection mask (set = decode). The XY layer of POINT14 and
// the bytes beyond the sixteenth of BYTE14 are always decoded.
namespace layer_select {
constexpr U32 Z = 1u << 0;
constexpr U32 CLASSIFICATION = 1u << 1;
constexpr U32 FLAGS = 1u << 2;
constexpr U32 INTENSITY = 1u << 3;
constexpr U32 SCAN_ANGLE = 1u << 4;
constexpr U32 USER_DATA = 1u << 5;
constexpr U32 POINT_SOURCE = 1u << 6;
constexpr U32 GPS_TIME = 1u << 7;
constexpr U32 RGB = 1u << 8;
constexpr U32 NIR = 1u << 9;
constexpr U32 WAVEPACKET = 1u << 10;
constexpr U32 BYTE0 = 1u << 16;  // byte i of BYTE14: BYTE0 << i, for i < 16
constexpr U32 ALL = 0xFFFFFFFFu;
}  // namespace layer_select

namespace point14 {
class Point14Writer;
class Point14Reader;
class RgbWriter;
class RgbReader;
class WavepacketWriter;
class WavepacketReader;
class ByteWriter;
class ByteReader;
}  // namespace point14

// ---- writers. The v4 classes are the v3 codecs with the version 4 context rule.

class LASwriteItemCompressed_POINT14_v3 : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_POINT14_v3(EntropyEncoder& encoder);
  ~LASwriteItemCompressed_POINT14_v3() override;
  bool startChunk(const U8* item, U32& context) override;
  bool writeItem(const U8* item, U32& context) override;
  bool writeLayerSizes() override;
  bool writeLayerBytes() override;
  U64 pendingLayerBytes() const override;

 protected:
  LASwriteItemCompressed_POINT14_v3(EntropyEncoder& encoder, bool version4);

 private:
  std::unique_ptr<point14::Point14Writer> impl_;
};

class LASwriteItemCompressed_POINT14_v4 final : public LASwriteItemCompressed_POINT14_v3 {
 public:
  explicit LASwriteItemCompressed_POINT14_v4(EntropyEncoder& encoder)
      : LASwriteItemCompressed_POINT14_v3(encoder, true) {}
};

class LASwriteItemCompressed_RGB14_v3 : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_RGB14_v3(EntropyEncoder& encoder);
  ~LASwriteItemCompressed_RGB14_v3() override;
  bool startChunk(const U8* item, U32& context) override;
  bool writeItem(const U8* item, U32& context) override;
  bool writeLayerSizes() override;
  bool writeLayerBytes() override;
  U64 pendingLayerBytes() const override;

 protected:
  LASwriteItemCompressed_RGB14_v3(EntropyEncoder& encoder, bool nir, bool version4);

 private:
  std::unique_ptr<point14::RgbWriter> impl_;
};

class LASwriteItemCompressed_RGB14_v4 final : public LASwriteItemCompressed_RGB14_v3 {
 public:
  explicit LASwriteItemCompressed_RGB14_v4(EntropyEncoder& encoder)
      : LASwriteItemCompressed_RGB14_v3(encoder, false, true) {}
};

class LASwriteItemCompressed_RGBNIR14_v3 : public LASwriteItemCompressed_RGB14_v3 {
 public:
  explicit LASwriteItemCompressed_RGBNIR14_v3(EntropyEncoder& encoder)
      : LASwriteItemCompressed_RGB14_v3(encoder, true, false) {}

 protected:
  LASwriteItemCompressed_RGBNIR14_v3(EntropyEncoder& encoder, bool version4)
      : LASwriteItemCompressed_RGB14_v3(encoder, true, version4) {}
};

class LASwriteItemCompressed_RGBNIR14_v4 final : public LASwriteItemCompressed_RGBNIR14_v3 {
 public:
  explicit LASwriteItemCompressed_RGBNIR14_v4(EntropyEncoder& encoder)
      : LASwriteItemCompressed_RGBNIR14_v3(encoder, true) {}
};

class LASwriteItemCompressed_WAVEPACKET14_v3 : public LASwriteItemCompressed {
 public:
  explicit LASwriteItemCompressed_WAVEPACKET14_v3(EntropyEncoder& encoder);
  ~LASwriteItemCompressed_WAVEPACKET14_v3() override;
  bool startChunk(const U8* item, U32& context) override;
  bool writeItem(const U8* item, U32& context) override;
  bool writeLayerSizes() override;
  bool writeLayerBytes() override;
  U64 pendingLayerBytes() const override;

 protected:
  LASwriteItemCompressed_WAVEPACKET14_v3(EntropyEncoder& encoder, bool version4);

 private:
  std::unique_ptr<point14::WavepacketWriter> impl_;
};

class LASwriteItemCompressed_WAVEPACKET14_v4 final : public LASwriteItemCompressed_WAVEPACKET14_v3 {
 public:
  explicit LASwriteItemCompressed_WAVEPACKET14_v4(EntropyEncoder& encoder)
      : LASwriteItemCompressed_WAVEPACKET14_v3(encoder, true) {}
};

class LASwriteItemCompressed_BYTE14_v3 : public LASwriteItemCompressed {
 public:
  LASwriteItemCompressed_BYTE14_v3(EntropyEncoder& encoder, U32 number);
  ~LASwriteItemCompressed_BYTE14_v3() override;
  bool startChunk(const U8* item, U32& context) override;
  bool writeItem(const U8* item, U32& context) override;
  bool writeLayerSizes() override;
  bool writeLayerBytes() override;
  U64 pendingLayerBytes() const override;

 protected:
  LASwriteItemCompressed_BYTE14_v3(EntropyEncoder& encoder, U32 number, bool version4);

 private:
  std::unique_ptr<point14::ByteWriter> impl_;
};

class LASwriteItemCompressed_BYTE14_v4 final : public LASwriteItemCompressed_BYTE14_v3 {
 public:
  LASwriteItemCompressed_BYTE14_v4(EntropyEncoder& encoder, U32 number)
      : LASwriteItemCompressed_BYTE14_v3(encoder, number, true) {}
};

// ---- readers. `chunkEnd` (see LASreadItemCompressed) bounds the layer sizes.

class LASreadItemCompressed_POINT14_v3 : public LASreadItemCompressed {
 public:
  LASreadItemCompressed_POINT14_v3(EntropyDecoder& decoder, U32 layerSelection);
  ~LASreadItemCompressed_POINT14_v3() override;
  void readItem(U8* item, U32& context) override;
  bool readLayerSizes() override;
  bool startChunk(U8* item, U32& context) override;

 protected:
  LASreadItemCompressed_POINT14_v3(EntropyDecoder& decoder, U32 layerSelection, bool version4);

 private:
  std::unique_ptr<point14::Point14Reader> impl_;
};

class LASreadItemCompressed_POINT14_v4 final : public LASreadItemCompressed_POINT14_v3 {
 public:
  LASreadItemCompressed_POINT14_v4(EntropyDecoder& decoder, U32 layerSelection)
      : LASreadItemCompressed_POINT14_v3(decoder, layerSelection, true) {}
};

class LASreadItemCompressed_RGB14_v3 : public LASreadItemCompressed {
 public:
  LASreadItemCompressed_RGB14_v3(EntropyDecoder& decoder, U32 layerSelection);
  ~LASreadItemCompressed_RGB14_v3() override;
  void readItem(U8* item, U32& context) override;
  bool readLayerSizes() override;
  bool startChunk(U8* item, U32& context) override;

 protected:
  LASreadItemCompressed_RGB14_v3(EntropyDecoder& decoder, U32 layerSelection, bool nir,
                                 bool version4);

 private:
  std::unique_ptr<point14::RgbReader> impl_;
};

class LASreadItemCompressed_RGB14_v4 final : public LASreadItemCompressed_RGB14_v3 {
 public:
  LASreadItemCompressed_RGB14_v4(EntropyDecoder& decoder, U32 layerSelection)
      : LASreadItemCompressed_RGB14_v3(decoder, layerSelection, false, true) {}
};

class LASreadItemCompressed_RGBNIR14_v3 : public LASreadItemCompressed_RGB14_v3 {
 public:
  LASreadItemCompressed_RGBNIR14_v3(EntropyDecoder& decoder, U32 layerSelection)
      : LASreadItemCompressed_RGB14_v3(decoder, layerSelection, true, false) {}

 protected:
  LASreadItemCompressed_RGBNIR14_v3(EntropyDecoder& decoder, U32 layerSelection, bool version4)
      : LASreadItemCompressed_RGB14_v3(decoder, layerSelection, true, version4) {}
};

class LASreadItemCompressed_RGBNIR14_v4 final : public LASreadItemCompressed_RGBNIR14_v3 {
 public:
  LASreadItemCompressed_RGBNIR14_v4(EntropyDecoder& decoder, U32 layerSelection)
      : LASreadItemCompressed_RGBNIR14_v3(decoder, layerSelection, true) {}
};

class LASreadItemCompressed_WAVEPACKET14_v3 : public LASreadItemCompressed {
 public:
  LASreadItemCompressed_WAVEPACKET14_v3(EntropyDecoder& decoder, U32 layerSelection);
  ~LASreadItemCompressed_WAVEPACKET14_v3() override;
  void readItem(U8* item, U32& context) override;
  bool readLayerSizes() override;
  bool startChunk(U8* item, U32& context) override;

 protected:
  LASreadItemCompressed_WAVEPACKET14_v3(EntropyDecoder& decoder, U32 layerSelection, bool version4);

 private:
  std::unique_ptr<point14::WavepacketReader> impl_;
};

class LASreadItemCompressed_WAVEPACKET14_v4 final : public LASreadItemCompressed_WAVEPACKET14_v3 {
 public:
  LASreadItemCompressed_WAVEPACKET14_v4(EntropyDecoder& decoder, U32 layerSelection)
      : LASreadItemCompressed_WAVEPACKET14_v3(decoder, layerSelection, true) {}
};

class LASreadItemCompressed_BYTE14_v3 : public LASreadItemCompressed {
 public:
  LASreadItemCompressed_BYTE14_v3(EntropyDecoder& decoder, U32 number, U32 layerSelection);
  ~LASreadItemCompressed_BYTE14_v3() override;
  void readItem(U8* item, U32& context) override;
  bool readLayerSizes() override;
  bool startChunk(U8* item, U32& context) override;

 protected:
  LASreadItemCompressed_BYTE14_v3(EntropyDecoder& decoder, U32 number, U32 layerSelection,
                                  bool version4);

 private:
  std::unique_ptr<point14::ByteReader> impl_;
};

class LASreadItemCompressed_BYTE14_v4 final : public LASreadItemCompressed_BYTE14_v3 {
 public:
  LASreadItemCompressed_BYTE14_v4(EntropyDecoder& decoder, U32 number, U32 layerSelection)
      : LASreadItemCompressed_BYTE14_v3(decoder, number, layerSelection, true) {}
};

// The layered codec of an item in version 3 or 4, or nullptr for any other
// type or version.
std::unique_ptr<LASwriteItemCompressed> makePoint14FamilyWriter(const LASitem& item,
                                                                EntropyEncoder& encoder);
std::unique_ptr<LASreadItemCompressed> makePoint14FamilyReader(const LASitem& item,
                                                               EntropyDecoder& decoder,
                                                               U32 layerSelection);
