#include "las/codec/lasitem_factory.hpp"

// The layered POINT14-family codecs are not built into this library yet.
std::unique_ptr<LASreadItemCompressed> makeReadItemLayered(const LASitem&, EntropyDecoder&, U32) {
  return nullptr;
}

std::unique_ptr<LASwriteItemCompressed> makeWriteItemLayered(const LASitem&, EntropyEncoder&) {
  return nullptr;
}
