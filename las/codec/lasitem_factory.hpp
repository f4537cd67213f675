// Creation of the compressed item codecs by item type and coding version.
#pragma once

#include <memory>

#include "las/codec/entropy_coder.hpp"
#include "las/codec/lasreaditem.hpp"
#include "las/codec/laswriteitem.hpp"
#include "las/core/lasitem.hpp"

// nullptr for a type and version without a codec.
std::unique_ptr<LASreadItemCompressed> makeReadItemCompressed(const LASitem& item,
                                                              EntropyDecoder& decoder,
                                                              U32 layerSelection);
std::unique_ptr<LASwriteItemCompressed> makeWriteItemCompressed(const LASitem& item,
                                                                EntropyEncoder& encoder);

// The layered codecs of the POINT14 family (versions 3 and 4), which code
// through memory layers reached via the coder's stream.
std::unique_ptr<LASreadItemCompressed> makeReadItemLayered(const LASitem& item,
                                                           EntropyDecoder& decoder,
                                                           U32 layerSelection);
std::unique_ptr<LASwriteItemCompressed> makeWriteItemLayered(const LASitem& item,
                                                             EntropyEncoder& encoder);
