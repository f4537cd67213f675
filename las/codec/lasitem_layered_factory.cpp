#include "las/codec/lasitem_factory.hpp"
#include "las/codec/lasitem_point14.hpp"

std::unique_ptr<LASreadItemCompressed> makeReadItemLayered(const LASitem& item,
                                                           EntropyDecoder& decoder,
                                                           U32 layerSelection) {
  return makePoint14FamilyReader(item, decoder, layerSelection);
}

std::unique_ptr<LASwriteItemCompressed> makeWriteItemLayered(const LASitem& item,
                                                             EntropyEncoder& encoder) {
  return makePoint14FamilyWriter(item, encoder);
}
