#include "las/codec/lasitem_factory.hpp"

#include "las/codec/lasitem_compressed.hpp"

std::unique_ptr<LASreadItemCompressed> makeReadItemCompressed(const LASitem& item,
                                                              EntropyDecoder& decoder, U32) {
  const U16 v = item.version;
  switch (item.type) {
    case LASitem::POINT10:
      if (v == 1) return std::make_unique<LASreadItemCompressed_POINT10_v1>(decoder);
      if (v == 2) return std::make_unique<LASreadItemCompressed_POINT10_v2>(decoder);
      break;
    case LASitem::GPSTIME11:
      if (v == 1) return std::make_unique<LASreadItemCompressed_GPSTIME11_v1>(decoder);
      if (v == 2) return std::make_unique<LASreadItemCompressed_GPSTIME11_v2>(decoder);
      break;
    case LASitem::RGB12:
      if (v == 1) return std::make_unique<LASreadItemCompressed_RGB12_v1>(decoder);
      if (v == 2) return std::make_unique<LASreadItemCompressed_RGB12_v2>(decoder);
      break;
    case LASitem::BYTE:
      if (item.size == 0) break;
      if (v == 1) return std::make_unique<LASreadItemCompressed_BYTE_v1>(decoder, item.size);
      if (v == 2) return std::make_unique<LASreadItemCompressed_BYTE_v2>(decoder, item.size);
      break;
    case LASitem::WAVEPACKET13:
      if (v == 1) return std::make_unique<LASreadItemCompressed_WAVEPACKET13_v1>(decoder);
      break;
    default:
      break;
  }
  return nullptr;
}

std::unique_ptr<LASwriteItemCompressed> makeWriteItemCompressed(const LASitem& item,
                                                                EntropyEncoder& encoder) {
  const U16 v = item.version;
  switch (item.type) {
    case LASitem::POINT10:
      if (v == 1) return std::make_unique<LASwriteItemCompressed_POINT10_v1>(encoder);
      if (v == 2) return std::make_unique<LASwriteItemCompressed_POINT10_v2>(encoder);
      break;
    case LASitem::GPSTIME11:
      if (v == 1) return std::make_unique<LASwriteItemCompressed_GPSTIME11_v1>(encoder);
      if (v == 2) return std::make_unique<LASwriteItemCompressed_GPSTIME11_v2>(encoder);
      break;
    case LASitem::RGB12:
      if (v == 1) return std::make_unique<LASwriteItemCompressed_RGB12_v1>(encoder);
      if (v == 2) return std::make_unique<LASwriteItemCompressed_RGB12_v2>(encoder);
      break;
    case LASitem::BYTE:
      if (item.size == 0) break;
      if (v == 1) return std::make_unique<LASwriteItemCompressed_BYTE_v1>(encoder, item.size);
      if (v == 2) return std::make_unique<LASwriteItemCompressed_BYTE_v2>(encoder, item.size);
      break;
    case LASitem::WAVEPACKET13:
      if (v == 1) return std::make_unique<LASwriteItemCompressed_WAVEPACKET13_v1>(encoder);
      break;
    default:
      break;
  }
  return nullptr;
}
