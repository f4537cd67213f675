#include "las/codec/lasitem_factory.hpp"

std::unique_ptr<LASreadItemCompressed> makeReadItemCompressed(const LASitem&, EntropyDecoder&,
                                                              U32) {
  return nullptr;
}

std::unique_ptr<LASwriteItemCompressed> makeWriteItemCompressed(const LASitem&, EntropyEncoder&) {
  return nullptr;
}
