// Raw item codecs: the stored little-endian layout of every item type. All
// but POINT14 are byte images of point fields and move as one block.
#pragma once

#include <cstring>
#include <memory>

#include "las/codec/lasreaditem.hpp"
#include "las/codec/laswriteitem.hpp"
#include "las/core/bytestream_in.hpp"
#include "las/core/bytestream_out.hpp"
#include "las/core/lasitem.hpp"

class LASreadItemRaw : public LASreadItem {
 public:
  void init(ByteStreamIn* stream) { instream = stream; }

 protected:
  ByteStreamIn* instream = nullptr;
};

class LASwriteItemRaw : public LASwriteItem {
 public:
  void init(ByteStreamOut* stream) { outstream = stream; }

 protected:
  ByteStreamOut* outstream = nullptr;
};

// Reads `N` bytes as they are stored.
template <U32 N>
class LASreadItemRawBlock : public LASreadItemRaw {
 public:
  void readItem(U8* item, U32&) override { instream->readBytes(item, N); }
};

template <U32 N>
class LASwriteItemRawBlock : public LASwriteItemRaw {
 public:
  bool writeItem(const U8* item, U32&) override { return outstream->writeBytes(item, N); }
};

class LASreadItemRaw_POINT10_LE final : public LASreadItemRawBlock<20> {};
class LASreadItemRaw_GPSTIME11_LE final : public LASreadItemRawBlock<8> {};
class LASreadItemRaw_RGB12_LE final : public LASreadItemRawBlock<6> {};
class LASreadItemRaw_RGBNIR14_LE final : public LASreadItemRawBlock<8> {};
class LASreadItemRaw_WAVEPACKET13_LE final : public LASreadItemRawBlock<29> {};

class LASwriteItemRaw_POINT10_LE final : public LASwriteItemRawBlock<20> {};
class LASwriteItemRaw_GPSTIME11_LE final : public LASwriteItemRawBlock<8> {};
class LASwriteItemRaw_RGB12_LE final : public LASwriteItemRawBlock<6> {};
class LASwriteItemRaw_RGBNIR14_LE final : public LASwriteItemRawBlock<8> {};
class LASwriteItemRaw_WAVEPACKET13_LE final : public LASwriteItemRawBlock<29> {};

class LASreadItemRaw_BYTE final : public LASreadItemRaw {
 public:
  explicit LASreadItemRaw_BYTE(U32 number) : number(number) {}
  void readItem(U8* item, U32&) override { instream->readBytes(item, number); }

 private:
  U32 number;
};

class LASwriteItemRaw_BYTE final : public LASwriteItemRaw {
 public:
  explicit LASwriteItemRaw_BYTE(U32 number) : number(number) {}
  bool writeItem(const U8* item, U32&) override { return outstream->writeBytes(item, number); }

 private:
  U32 number;
};

// The item place of POINT14 is the start of a LASpoint: the stored record is
// converted to and from both the legacy and the extended fields.
class LASreadItemRaw_POINT14_LE final : public LASreadItemRaw {
 public:
  void readItem(U8* item, U32& context) override;

 private:
  U8 buffer[30];
};

class LASwriteItemRaw_POINT14_LE final : public LASwriteItemRaw {
 public:
  bool writeItem(const U8* item, U32& context) override;

 private:
  U8 buffer[30];
};

// Copies one item's bytes; the common item sizes get copies of fixed length
// that compile to a few moves instead of a library call.
inline void copyItemBytes(U8* to, const U8* from, U32 n) {
  switch (n) {
    case 20:
      memcpy(to, from, 20);
      break;
    case 8:
      memcpy(to, from, 8);
      break;
    case 6:
      memcpy(to, from, 6);
      break;
    default:
      memcpy(to, from, n);
  }
}

// The raw codec of an item type, or nullptr for a type without one.
std::unique_ptr<LASreadItemRaw> makeReadItemRaw(const LASitem& item);
std::unique_ptr<LASwriteItemRaw> makeWriteItemRaw(const LASitem& item);
