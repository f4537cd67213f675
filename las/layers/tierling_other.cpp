#include "las/layers/tierling_other.hpp"

#include <cinttypes>
#include <cstring>

#include "las/codec/lasitem_compressed.hpp"
#include "las/core/messages.hpp"
#include "las/core/option_text.hpp"
#include "las/layers/tierling_classes.hpp"

namespace {

bool write_offset(ByteStreamOut* stream, U16 offset_to_data) {
  if (stream->put16(offset_to_data)) return true;
  print_error("writing layer specialized header offset_to_data\n");
  return false;
}

bool format_has_rgb(U8 format) {
  return format == 2 || format == 3 || format == 5 || format == 7 || format == 8 || format == 10;
}

// The point format that holds colour (and near infrared) besides what
// `format` holds; extra bytes stay. Legacy formats cannot hold near infrared
// and are left as they are.
void widen_point_format(LASheader* header, bool nir) {
  const U8 format = header->point_data_format;
  U8 wider = format;
  if (nir) {
    if (format == 6 || format == 7) wider = 8;
    if (format == 9) wider = 10;
  } else {
    static const U8 kWithRGB[11] = {2, 3, 2, 3, 5, 5, 7, 7, 8, 10, 10};
    if (format <= 10) wider = kWithRGB[format];
  }
  if (wider == format) return;
  const U16 base = base_point_size(format);
  const U32 extra =
      header->point_data_record_length > base ? header->point_data_record_length - base : 0u;
  header->point_data_format = wider;
  header->point_data_record_length = U16(base_point_size(wider) + extra);
}

// Gives the point's layout a colour item, or a colour and near-infrared
// item. The point is empty at this time, so its values need not survive.
bool widen_point(LASpoint* point, bool nir) {
  if (nir ? point->has_nir : point->has_rgb) return true;
  std::vector<LASitem> items = point->items;
  const LASitem colour =
      nir ? LASitem(LASitem::RGBNIR14, 8)
          : (point->extended_layout ? LASitem(LASitem::RGB14, 6) : LASitem(LASitem::RGB12, 6));
  bool replaced = false;
  size_t after = 0;
  for (size_t i = 0; i < items.size(); i++) {
    const LASitem::Type t = items[i].type;
    if (t == LASitem::RGB12 || t == LASitem::RGB14) {
      items[i] = colour;
      replaced = true;
      break;
    }
    if (t == LASitem::POINT10 || t == LASitem::POINT14 || t == LASitem::GPSTIME11) after = i + 1;
  }
  if (!replaced) items.insert(items.begin() + std::ptrdiff_t(after), colour);
  const LASscaleOffset* scale_offset = point->scale_offset;
  const LASattributeSet* attribute_set = point->attribute_set;
  if (!point->init_items(scale_offset, items, attribute_set)) {
    print_error("cannot add %s to the point layout\n", nir ? "NIR" : "RGB");
    return false;
  }
  return true;
}

// A point of a stored layer could not be decoded.
bool data_fails(const char* layer) {
  print_error("layer %s data is truncated or corrupt\n", layer);
  return false;
}

bool start_encoder(EntropyEncoder& encoder, ByteStreamOut* data, const char* layer) {
  if (data && encoder.start(data)) return true;
  print_error("starting the encoder of layer %s\n", layer);
  return false;
}

bool finish_encoder(EntropyEncoder& encoder, const char* layer) {
  if (encoder.finish()) return true;
  print_error("writing the data of layer %s\n", layer);
  return false;
}

bool start_decoder(EntropyDecoder& decoder, ByteStreamIn* data, const char* layer) {
  try {
    if (decoder.start(data)) return true;
  } catch (const EndOfData&) {
  }
  print_error("layer %s has no data\n", layer);
  return false;
}

const char* const kNameIntensity = "replace intensity";
const char* const kNameRGBRaw = "add RGB raw";
const char* const kNameRGB = "add RGB compressed";
const char* const kNameNIR = "add NIR compressed";
const char* const kNameAppend = "append points raw";
const char* const kNameFilter = "filter";
const char* const kNameTransform = "transform";
const char* const kNameVLR = "add vlr";
const char* const kByteFlagNames[] = {"uses_both_bytes", "uses_lower_byte", "zero_excluded"};

// The two flags of a byte-difference coder as its layer's specialized header.
bool write_coder_flags(ByteStreamOut* stream, const trl_detail::ByteDiffCoder& coder,
                       const char* layer) {
  const U8 flags[2] = {U8(coder.uses_both_bytes()), U8(coder.uses_lower_byte())};
  return Tierling::write_byte_fields(stream, layer, flags, kByteFlagNames, 2);
}

bool read_coder_flags(ByteStreamIn* stream, trl_detail::ByteDiffCoder* coder, const char* layer) {
  U8 flags[2];
  if (!Tierling::read_byte_fields(stream, layer, flags, kByteFlagNames, 2)) return false;
  coder->configure(flags[0] != 0, flags[1] != 0);
  return true;
}

inline U32 clamp_byte(I32 v) {
  return v <= 0 ? 0u : (v >= 255 ? 255u : U32(v));
}

// The option text (a u16 length and the text) of filter and transform layers.
bool write_text(ByteStreamOut* stream, const std::string& text, const char* layer) {
  if (text.size() > 65535 - 4) {
    print_error("layer %s text of %u bytes is too long\n", layer, U32(text.size()));
    return false;
  }
  if (!write_offset(stream, U16(text.size() + 4))) return false;
  if (!stream->put16(U16(text.size())) ||
      (!text.empty() &&
       !stream->writeBytes(reinterpret_cast<const U8*>(text.data()), U32(text.size())))) {
    print_error("writing layer %s specialized header text\n", layer);
    return false;
  }
  return true;
}

// The caller skips what follows the text.
bool read_text(ByteStreamIn* stream, std::string* text, const char* layer, U16* offset) {
  U16& offset_to_data = *offset;
  U16 length = 0;
  if (!Tierling::read_field([&] { offset_to_data = stream->get16(); }, layer, "offset_to_data") ||
      !Tierling::read_field([&] { length = stream->get16(); }, layer, "length")) {
    return false;
  }
  if (U32(offset_to_data) < U32(length) + 4) {
    print_error("layer %s specialized header has offset_to_data %d < %u\n", layer,
                int(offset_to_data), U32(length) + 4);
    return false;
  }
  text->assign(length, '\0');
  if (length > 0 &&
      !Tierling::read_field([&] { stream->readBytes(reinterpret_cast<U8*>(&(*text)[0]), length); },
                            layer, "text")) {
    return false;
  }
  return true;
}

// Nothing may be left of a stored text once its parsers took their options:
// a word nobody knows means the text is not what was written.
bool all_consumed(OwnedArgs& args, const char* layer) {
  for (int i = 1; i < args.argc(); i++) {
    if (args.argv()[i][0] != '\0') {
      print_error("layer %s: unknown option '%s'\n", layer, args.argv()[i]);
      return false;
    }
  }
  return true;
}

}  // namespace

// ---- ByteDiffCoder

namespace trl_detail {

void ByteDiffCoder::start(bool encode_only) {
  // Made once; a new start only resets them.
  if (changed_.numSymbols == 0) {
    changed_ = SymbolModel(4, encode_only);
    low_ = SymbolModel(256, encode_only);
    high_ = SymbolModel(256, encode_only);
  }
  changed_.reset();
  low_.reset();
  high_.reset();
  last_ = 0;
}

void ByteDiffCoder::encode(EntropyEncoder& encoder, U16 value) {
  const U32 lo = value & 0xFF, hi = value >> 8;
  const U32 last_lo = last_ & 0xFF, last_hi = last_ >> 8;
  if (both_) {
    const U32 changed = (lo != last_lo ? 1u : 0u) | (hi != last_hi ? 2u : 0u);
    encoder.putSymbol(changed_, changed);
    if (changed & 1) encoder.putSymbol(low_, U8(lo - last_lo));
    if (changed & 2) encoder.putSymbol(high_, U8(hi - last_hi));
  } else if (lower_) {
    encoder.putSymbol(low_, U8(lo - last_lo));
  } else {
    encoder.putSymbol(high_, U8(hi - last_hi));
  }
  last_ = value;
}

U16 ByteDiffCoder::decode(EntropyDecoder& decoder) {
  U32 lo = last_ & 0xFF, hi = last_ >> 8;
  if (both_) {
    const U32 changed = decoder.getSymbol(changed_);
    if (changed & 1) lo = U8(lo + decoder.getSymbol(low_));
    if (changed & 2) hi = U8(hi + decoder.getSymbol(high_));
  } else if (lower_) {
    lo = U8(lo + decoder.getSymbol(low_));
    hi = 0;
  } else {
    hi = U8(hi + decoder.getSymbol(high_));
    lo = 0;
  }
  last_ = U16(lo | (hi << 8));
  return last_;
}

}  // namespace trl_detail

// ---- replace intensity

TierlingReplaceIntensityCompressed::TierlingReplaceIntensityCompressed()
    : TierlingReplaceIntensityCompressed(true, false) {}

TierlingReplaceIntensityCompressed::TierlingReplaceIntensityCompressed(bool uses_both_bytes,
                                                                       bool uses_lower_byte)
    : Tierling(trl::kReplace, trl::kFieldIntensity, trl::kCompressionPointwise),
      coder_(uses_both_bytes, uses_lower_byte) {}

TierlingReplaceIntensityCompressed::~TierlingReplaceIntensityCompressed() = default;

bool TierlingReplaceIntensityCompressed::write_specialized_header(ByteStreamOut* stream) const {
  return write_coder_flags(stream, coder_, kNameIntensity);
}

bool TierlingReplaceIntensityCompressed::read_specialized_header(ByteStreamIn* stream) {
  return read_coder_flags(stream, &coder_, kNameIntensity);
}

bool TierlingReplaceIntensityCompressed::start_writing_data(ByteStreamOut* data) {
  if (!start_encoder(encoder_, data, kNameIntensity)) return false;
  coder_.start(true);
  return true;
}

bool TierlingReplaceIntensityCompressed::record(const LASpoint& read, const LASpoint& written) {
  if (excluded(read)) return true;
  if (!coder_.fits(written.intensity)) {
    print_error("intensity %u does not fit the one byte the layer %s keeps\n",
                U32(written.intensity), kNameIntensity);
    return false;
  }
  coder_.encode(encoder_, written.intensity);
  return true;
}

bool TierlingReplaceIntensityCompressed::end_writing_data() {
  return finish_encoder(encoder_, kNameIntensity);
}

bool TierlingReplaceIntensityCompressed::start_reading_data(ByteStreamIn* data) {
  if (!start_decoder(decoder_, data, kNameIntensity)) return false;
  coder_.start(false);
  return true;
}

bool TierlingReplaceIntensityCompressed::apply(LASpoint* point) {
  if (excluded(*point)) return true;
  try {
    point->intensity = coder_.decode(decoder_);
  } catch (const EndOfData&) {
    return data_fails(kNameIntensity);
  } catch (const DecodingError&) {
    return data_fails(kNameIntensity);
  }
  return true;
}

// ---- add RGB raw

TierlingAddRGBRaw::TierlingAddRGBRaw()
    : Tierling(trl::kAdd, trl::kFieldRGB, trl::kCompressionNone) {}

TierlingAddRGBRaw::TierlingAddRGBRaw(bool lower_byte_zero) : TierlingAddRGBRaw() {
  explicit_flag_ = true;
  lower_byte_zero_ = lower_byte_zero;
}

TierlingAddRGBRaw::~TierlingAddRGBRaw() = default;

bool TierlingAddRGBRaw::get_lower_byte_zero() const {
  if (explicit_flag_) return lower_byte_zero_;
  // Asked only before the header is widened (update_header comes last).
  return get_header() && !format_has_rgb(get_header()->point_data_format);
}

bool TierlingAddRGBRaw::write_specialized_header(ByteStreamOut* stream) const {
  static const char* const kName[] = {"lower_byte_zero"};
  const U8 flag = U8(get_lower_byte_zero());
  return write_byte_fields(stream, kNameRGBRaw, &flag, kName, 1);
}

bool TierlingAddRGBRaw::read_specialized_header(ByteStreamIn* stream) {
  U16 offset_to_data = 0;
  U32 flag = 0;
  if (!read_field([&] { offset_to_data = stream->get16(); }, kNameRGBRaw, "offset_to_data")) {
    return false;
  }
  // The header holds 3 bytes; only less than that is short.
  if (offset_to_data < 3) {
    print_error("layer add RGB raw specialized has offset_to_data %d < 4\n", int(offset_to_data));
    return false;
  }
  if (!read_field([&] { flag = stream->readByte(); }, kNameRGBRaw, "lower_byte_zero")) return false;
  explicit_flag_ = true;
  lower_byte_zero_ = flag != 0;
  return skip_specialized_rest(stream, offset_to_data, 3);
}

bool TierlingAddRGBRaw::start_writing_data(ByteStreamOut* data) {
  // Fixed now, before update_header widens the point format.
  lower_byte_zero_ = get_lower_byte_zero();
  explicit_flag_ = true;
  return data != nullptr;
}

bool TierlingAddRGBRaw::record(const LASpoint& read, const LASpoint& written) {
  if (excluded(read)) return true;
  ByteStreamOut* out = data_out();
  if (!out->put16(written.rgb[0]) || !out->put16(written.rgb[1]) || !out->put16(written.rgb[2])) {
    print_error("writing layer %s data\n", kNameRGBRaw);
    return false;
  }
  return true;
}

bool TierlingAddRGBRaw::end_writing_data() {
  return true;
}

void TierlingAddRGBRaw::update_header(LASheader* header) {
  widen_point_format(header, false);
}

bool TierlingAddRGBRaw::start_reading_data(ByteStreamIn*) {
  if (get_header()) widen_point_format(get_header(), false);
  return true;
}

bool TierlingAddRGBRaw::adjust_point(LASpoint* point) {
  return widen_point(point, false);
}

bool TierlingAddRGBRaw::apply(LASpoint* point) {
  if (excluded(*point)) {
    if (lower_byte_zero_) point->rgb[0] = point->rgb[1] = point->rgb[2] = 0;
    return true;
  }
  try {
    ByteStreamIn* in = data_in();
    point->rgb[0] = in->get16();
    point->rgb[1] = in->get16();
    point->rgb[2] = in->get16();
  } catch (const EndOfData&) {
    return data_fails(kNameRGBRaw);
  }
  return true;
}

// ---- add RGB compressed

TierlingAddRGBCompressed::TierlingAddRGBCompressed() : TierlingAddRGBCompressed(true, false) {}

TierlingAddRGBCompressed::TierlingAddRGBCompressed(bool uses_both_bytes, bool uses_lower_byte)
    : Tierling(trl::kAdd, trl::kFieldRGB, trl::kCompressionPointwise),
      both_(uses_both_bytes),
      lower_(uses_lower_byte) {}

TierlingAddRGBCompressed::~TierlingAddRGBCompressed() = default;

bool TierlingAddRGBCompressed::get_zero_excluded() const {
  if (explicit_zero_) return zero_excluded_;
  return get_header() && !format_has_rgb(get_header()->point_data_format);
}

bool TierlingAddRGBCompressed::write_specialized_header(ByteStreamOut* stream) const {
  const U8 flags[3] = {U8(both_), U8(lower_), U8(get_zero_excluded())};
  return write_byte_fields(stream, kNameRGB, flags, kByteFlagNames, 3);
}

bool TierlingAddRGBCompressed::read_specialized_header(ByteStreamIn* stream) {
  U8 flags[3];
  if (!read_byte_fields(stream, kNameRGB, flags, kByteFlagNames, 3)) return false;
  both_ = flags[0] != 0;
  lower_ = flags[1] != 0;
  zero_excluded_ = flags[2] != 0;
  explicit_zero_ = true;
  return true;
}

void TierlingAddRGBCompressed::reset_byte_models(bool encode_only) {
  if (changed_.numSymbols == 0) {
    changed_ = SymbolModel(16, encode_only);
    red_ = SymbolModel(256, encode_only);
    green_ = SymbolModel(256, encode_only);
    blue_ = SymbolModel(256, encode_only);
  }
  changed_.reset();
  red_.reset();
  green_.reset();
  blue_.reset();
  last_[0] = last_[1] = last_[2] = 0;
}

bool TierlingAddRGBCompressed::start_writing_data(ByteStreamOut* data) {
  zero_excluded_ = get_zero_excluded();
  explicit_zero_ = true;
  if (!start_encoder(encoder_, data, kNameRGB)) return false;
  if (both_) {
    if (!rgb_writer_) rgb_writer_ = std::make_unique<LASwriteItemCompressed_RGB12_v2>(encoder_);
    const U8 black[6] = {0, 0, 0, 0, 0, 0};
    U32 context = 0;
    return rgb_writer_->startChunk(black, context);
  }
  reset_byte_models(true);
  return true;
}

bool TierlingAddRGBCompressed::record(const LASpoint& read, const LASpoint& written) {
  if (excluded(read)) return true;
  if (both_) {
    U32 context = 0;
    return rgb_writer_->writeItem(reinterpret_cast<const U8*>(written.rgb), context);
  }
  U8 c[3];
  for (int i = 0; i < 3; i++) {
    const U16 v = written.rgb[i];
    if (lower_ ? v > 255 : (v & 0xFF) != 0) {
      print_error("colour %u %u %u does not fit the one byte per channel the layer %s keeps\n",
                  U32(written.rgb[0]), U32(written.rgb[1]), U32(written.rgb[2]), kNameRGB);
      return false;
    }
    c[i] = U8(lower_ ? v : v >> 8);
  }
  const bool colour = c[0] != c[1] || c[0] != c[2];
  const U32 symbol = (c[0] != last_[0] ? 1u : 0u) | (c[1] != last_[1] ? 2u : 0u) |
                     (c[2] != last_[2] ? 4u : 0u) | (colour ? 8u : 0u);
  encoder_.putSymbol(changed_, symbol);
  I32 dr = 0;
  if (symbol & 1) {
    dr = I32(c[0]) - I32(last_[0]);
    encoder_.putSymbol(red_, U8(dr));
  }
  if (colour) {
    if (symbol & 2) encoder_.putSymbol(green_, U8(c[1] - clamp_byte(dr + last_[1])));
    if (symbol & 4) {
      const I32 e = (dr + I32(c[1]) - I32(last_[1])) / 2;
      encoder_.putSymbol(blue_, U8(c[2] - clamp_byte(e + last_[2])));
    }
  }
  memcpy(last_, c, 3);
  return true;
}

bool TierlingAddRGBCompressed::end_writing_data() {
  return finish_encoder(encoder_, kNameRGB);
}

void TierlingAddRGBCompressed::update_header(LASheader* header) {
  widen_point_format(header, false);
}

bool TierlingAddRGBCompressed::start_reading_data(ByteStreamIn* data) {
  if (get_header()) widen_point_format(get_header(), false);
  if (!start_decoder(decoder_, data, kNameRGB)) return false;
  if (both_) {
    if (!rgb_reader_) rgb_reader_ = std::make_unique<LASreadItemCompressed_RGB12_v2>(decoder_);
    U8 black[6] = {0, 0, 0, 0, 0, 0};
    U32 context = 0;
    return rgb_reader_->startChunk(black, context);
  }
  reset_byte_models(false);
  return true;
}

bool TierlingAddRGBCompressed::adjust_point(LASpoint* point) {
  return widen_point(point, false);
}

bool TierlingAddRGBCompressed::apply(LASpoint* point) {
  if (excluded(*point)) {
    if (zero_excluded_) point->rgb[0] = point->rgb[1] = point->rgb[2] = 0;
    return true;
  }
  try {
    if (both_) {
      U32 context = 0;
      rgb_reader_->readItem(reinterpret_cast<U8*>(point->rgb), context);
      return true;
    }
    const U32 symbol = decoder_.getSymbol(changed_);
    U8 c[3] = {last_[0], last_[1], last_[2]};
    I32 dr = 0;
    if (symbol & 1) {
      c[0] = U8(last_[0] + decoder_.getSymbol(red_));
      dr = I32(c[0]) - I32(last_[0]);
    }
    if (symbol & 8) {
      if (symbol & 2) c[1] = U8(decoder_.getSymbol(green_) + clamp_byte(dr + last_[1]));
      if (symbol & 4) {
        const I32 e = (dr + I32(c[1]) - I32(last_[1])) / 2;
        c[2] = U8(decoder_.getSymbol(blue_) + clamp_byte(e + last_[2]));
      }
    } else {
      c[1] = c[2] = c[0];
    }
    memcpy(last_, c, 3);
    for (int i = 0; i < 3; i++) point->rgb[i] = lower_ ? U16(c[i]) : U16(c[i] << 8);
  } catch (const EndOfData&) {
    return data_fails(kNameRGB);
  } catch (const DecodingError&) {
    return data_fails(kNameRGB);
  }
  return true;
}

// ---- add NIR compressed

TierlingAddNIRCompressed::TierlingAddNIRCompressed() : TierlingAddNIRCompressed(true, false) {}

TierlingAddNIRCompressed::TierlingAddNIRCompressed(bool uses_both_bytes, bool uses_lower_byte)
    : Tierling(trl::kAdd, trl::kFieldNIR, trl::kCompressionPointwise),
      coder_(uses_both_bytes, uses_lower_byte) {}

TierlingAddNIRCompressed::~TierlingAddNIRCompressed() = default;

bool TierlingAddNIRCompressed::write_specialized_header(ByteStreamOut* stream) const {
  return write_coder_flags(stream, coder_, kNameNIR);
}

bool TierlingAddNIRCompressed::read_specialized_header(ByteStreamIn* stream) {
  return read_coder_flags(stream, &coder_, kNameNIR);
}

bool TierlingAddNIRCompressed::start_writing_data(ByteStreamOut* data) {
  if (!start_encoder(encoder_, data, kNameNIR)) return false;
  coder_.start(true);
  return true;
}

bool TierlingAddNIRCompressed::record(const LASpoint& read, const LASpoint& written) {
  if (excluded(read)) return true;
  if (!coder_.fits(written.rgb[3])) {
    print_error("NIR %u does not fit the one byte the layer %s keeps\n", U32(written.rgb[3]),
                kNameNIR);
    return false;
  }
  coder_.encode(encoder_, written.rgb[3]);
  return true;
}

bool TierlingAddNIRCompressed::end_writing_data() {
  return finish_encoder(encoder_, kNameNIR);
}

void TierlingAddNIRCompressed::update_header(LASheader* header) {
  widen_point_format(header, true);
}

bool TierlingAddNIRCompressed::start_reading_data(ByteStreamIn* data) {
  if (get_header()) widen_point_format(get_header(), true);
  if (!start_decoder(decoder_, data, kNameNIR)) return false;
  coder_.start(false);
  return true;
}

bool TierlingAddNIRCompressed::adjust_point(LASpoint* point) {
  // Without a value of their own, excluded points would show the last
  // point's.
  zero_excluded_ = !point->has_nir;
  return widen_point(point, true);
}

bool TierlingAddNIRCompressed::apply(LASpoint* point) {
  if (excluded(*point)) {
    if (zero_excluded_) point->rgb[3] = 0;
    return true;
  }
  try {
    point->rgb[3] = coder_.decode(decoder_);
  } catch (const EndOfData&) {
    return data_fails(kNameNIR);
  } catch (const DecodingError&) {
    return data_fails(kNameNIR);
  }
  return true;
}

// ---- coordinate differences

namespace {
const char* diff_name(U32 fields) {
  return fields == trl::kFieldXY ? "diff XY" : (fields == trl::kFieldZ ? "diff Z" : "diff XYZ");
}
U32 diff_contexts(U32 fields) {
  return fields == trl::kFieldXY ? 8 : (fields == trl::kFieldZ ? 4 : 12);
}
}  // namespace

TierlingDiffCompressed::TierlingDiffCompressed(U32 fields)
    : Tierling(trl::kDiff, fields, trl::kCompressionPointwise),
      xy_(fields != trl::kFieldZ),
      z_(fields != trl::kFieldXY),
      z_context_(fields == trl::kFieldZ ? 0 : 8),
      write_coder_(encoder_, 32, diff_contexts(fields)),
      read_coder_(decoder_, 32, diff_contexts(fields)) {}

TierlingDiffCompressed::~TierlingDiffCompressed() = default;

bool TierlingDiffCompressed::start_writing_data(ByteStreamOut* data) {
  if (!start_encoder(encoder_, data, diff_name(get_fields()))) return false;
  write_coder_.startEncoding();
  for (int c = 0; c < 4; c++) last_dx_[c] = last_dy_[c] = last_dz_[c] = 0;
  return true;
}

bool TierlingDiffCompressed::record(const LASpoint& read, const LASpoint& written) {
  if (excluded(read)) return true;
  const U32 c = trl::return_type_class(read);
  // Differences wrap in 32 bits, like the coordinates they move.
  if (xy_) {
    const I32 dx = I32(U32(written.X) - U32(read.X));
    const I32 dy = I32(U32(written.Y) - U32(read.Y));
    write_coder_.encode(last_dx_[c], dx, c);
    write_coder_.encode(last_dy_[c], dy, 4 + c);
    last_dx_[c] = dx;
    last_dy_[c] = dy;
  }
  if (z_) {
    const I32 dz = I32(U32(written.Z) - U32(read.Z));
    write_coder_.encode(last_dz_[c], dz, z_context_ + c);
    last_dz_[c] = dz;
  }
  return true;
}

bool TierlingDiffCompressed::end_writing_data() {
  return finish_encoder(encoder_, diff_name(get_fields()));
}

bool TierlingDiffCompressed::start_reading_data(ByteStreamIn* data) {
  if (!start_decoder(decoder_, data, diff_name(get_fields()))) return false;
  read_coder_.startDecoding();
  for (int c = 0; c < 4; c++) last_dx_[c] = last_dy_[c] = last_dz_[c] = 0;
  return true;
}

bool TierlingDiffCompressed::apply(LASpoint* point) {
  if (excluded(*point)) return true;
  const U32 c = trl::return_type_class(*point);
  try {
    if (xy_) {
      last_dx_[c] = read_coder_.decode(last_dx_[c], c);
      last_dy_[c] = read_coder_.decode(last_dy_[c], 4 + c);
      point->X = I32(U32(point->X) + U32(last_dx_[c]));
      point->Y = I32(U32(point->Y) + U32(last_dy_[c]));
    }
    if (z_) {
      last_dz_[c] = read_coder_.decode(last_dz_[c], z_context_ + c);
      point->Z = I32(U32(point->Z) + U32(last_dz_[c]));
    }
  } catch (const EndOfData&) {
    return data_fails(diff_name(get_fields()));
  } catch (const DecodingError&) {
    return data_fails(diff_name(get_fields()));
  }
  return true;
}

// ---- change header

TierlingChangeHeader::TierlingChangeHeader()
    : Tierling(trl::kHeader, trl::kFieldAll, trl::kCompressionNone) {}

TierlingChangeHeader::~TierlingChangeHeader() = default;

// ---- append points raw

TierlingAppendPointsRaw::TierlingAppendPointsRaw()
    : Tierling(trl::kAppend, trl::kFieldAll, trl::kCompressionNone) {}

TierlingAppendPointsRaw::~TierlingAppendPointsRaw() = default;

bool TierlingAppendPointsRaw::start_writing_data(ByteStreamOut* data) {
  const LASheader* header = get_header();
  if (!header) {
    print_error("layer %s has no header\n", kNameAppend);
    return false;
  }
  file_count_ = header->number_of_point_records ? U64(header->number_of_point_records)
                                                : header->extended_number_of_point_records;
  count_ = 0;
  stored_ = 0;
  inventory_ = LASwriterInventory();
  if (!data->put64(file_count_)) {
    print_error("writing layer %s file point count\n", kNameAppend);
    return false;
  }
  total_position_ = data->tell();
  if (!data->put64(0)) {
    print_error("writing layer %s total point count\n", kNameAppend);
    return false;
  }
  return true;
}

void TierlingAppendPointsRaw::skip_point() {
  // A deleted point still tells where the file's own points end.
  count_++;
}

bool TierlingAppendPointsRaw::record(const LASpoint&, const LASpoint& written) {
  inventory_.add(&written);
  if (++count_ <= file_count_) return true;
  stored_++;
  ByteStreamOut* out = data_out();
  if (!out->writeBytes(written.point10(), 20) ||
      (written.has_gps_time && !out->write64LE(reinterpret_cast<const U8*>(&written.gps_time)))) {
    print_error("writing layer %s point %" PRIu64 "\n", kNameAppend, count_);
    return false;
  }
  return true;
}

bool TierlingAppendPointsRaw::end_writing_data() {
  ByteStreamOut* out = data_out();
  const I64 end = out->tell();
  total_count_ = (count_ < file_count_ ? count_ : file_count_) + stored_;
  if (!out->seek(total_position_) || !out->put64(total_count_) || !out->seek(end)) {
    print_error("updating layer %s total point count\n", kNameAppend);
    return false;
  }
  return true;
}

void TierlingAppendPointsRaw::update_header(LASheader* header) {
  if (inventory_.number_of_point_records > 0) trl::put_inventory(header, inventory_);
}

bool TierlingAppendPointsRaw::start_reading_data(ByteStreamIn* data) {
  try {
    file_count_ = data->get64();
    total_count_ = data->get64();
  } catch (const EndOfData&) {
    print_error("reading layer %s point counts\n", kNameAppend);
    return false;
  }
  count_ = 0;
  // Every stored point takes at least 20 bytes of the layer.
  const U64 stored = total_count_ > file_count_ ? total_count_ - file_count_ : 0;
  const I64 end = I64(get_start_position() + get_size());
  const I64 left = end - data->tell();
  if (get_size() != 0 && (left < 0 || stored > U64(left) / 20)) {
    print_error("layer %s claims %" PRIu64 " appended points but holds %" PRId64 " bytes\n",
                kNameAppend, stored, left < 0 ? I64(0) : left);
    return false;
  }
  return true;
}

bool TierlingAppendPointsRaw::next_appended_point(LASpoint* point) {
  const U64 stored = total_count_ > file_count_ ? total_count_ - file_count_ : 0;
  if (count_ >= stored || !data_in()) return false;
  point->clear_values();
  try {
    data_in()->readBytes(point->point10(), 20);
    if (point->has_gps_time) data_in()->read64LE(reinterpret_cast<U8*>(&point->gps_time));
  } catch (const EndOfData&) {
    count_ = stored;
    return data_fails(kNameAppend);
  }
  count_++;
  // Only the legacy fields are stored; the extended ones follow from them.
  if (point->extended_layout) point->derive_extended_from_legacy();
  return true;
}

// ---- filter

TierlingFilter::TierlingFilter() : Tierling(trl::kFilter, trl::kFieldAll, trl::kCompressionNone) {}

TierlingFilter::TierlingFilter(const std::string& text) : TierlingFilter() {
  text_ = text;
}

TierlingFilter::~TierlingFilter() = default;

bool TierlingFilter::write_specialized_header(ByteStreamOut* stream) const {
  return write_text(stream, text_, kNameFilter);
}

bool TierlingFilter::read_specialized_header(ByteStreamIn* stream) {
  U16 offset = 0;
  return read_text(stream, &text_, kNameFilter, &offset) &&
         skip_specialized_rest(stream, offset, U32(text_.size()) + 4);
}

bool TierlingFilter::start_reading_data(ByteStreamIn*) {
  filter_ = std::make_unique<LASfilter>();
  OwnedArgs args(split_command(text_));
  if (!filter_->parse(args.argc(), args.argv()) || !all_consumed(args, kNameFilter)) {
    print_error("parsing layer %s text '%s'\n", kNameFilter, text_.c_str());
    filter_.reset();
    return false;
  }
  return true;
}

bool TierlingFilter::apply(LASpoint* point) {
  if (!filter_ || excluded(*point)) return true;
  if (filter_->filter(point)) point->marked_deleted = 1;
  return true;
}

// ---- transform

TierlingTransform::TierlingTransform()
    : Tierling(trl::kTransform, trl::kFieldAll, trl::kCompressionNone) {}

TierlingTransform::TierlingTransform(const std::string& text) : TierlingTransform() {
  text_ = text;
}

TierlingTransform::~TierlingTransform() = default;

bool TierlingTransform::write_specialized_header(ByteStreamOut* stream) const {
  return write_text(stream, text_, kNameTransform);
}

bool TierlingTransform::read_specialized_header(ByteStreamIn* stream) {
  U16 offset = 0;
  return read_text(stream, &text_, kNameTransform, &offset) &&
         skip_specialized_rest(stream, offset, U32(text_.size()) + 4);
}

bool TierlingTransform::start_reading_data(ByteStreamIn*) {
  transform_ = std::make_unique<LAStransform>();
  OwnedArgs args(split_command(text_));
  bool ok = transform_->parse(args.argc(), args.argv());
  if (ok && transform_->is_filtered()) {
    // The rest of the text selects the points the transform changes.
    auto filter = std::make_unique<LASfilter>();
    ok = filter->parse(args.argc(), args.argv());
    if (ok) transform_->set_filter(filter->active() ? std::move(filter) : nullptr);
  }
  if (!ok || !all_consumed(args, kNameTransform)) {
    print_error("parsing layer %s text '%s'\n", kNameTransform, text_.c_str());
    transform_.reset();
    return false;
  }
  return true;
}

bool TierlingTransform::apply(LASpoint* point) {
  if (!transform_ || excluded(*point)) return true;
  transform_->transform(point);
  return true;
}

bool TierlingTransform::done_reading() {
  if (transform_) transform_->report_overflows();
  return Tierling::done_reading();
}

// ---- add VLR

TierlingAddVLR::TierlingAddVLR() : Tierling(trl::kAddVLR, trl::kFieldAll, trl::kCompressionNone) {}

TierlingAddVLR::TierlingAddVLR(const char* user_id, U16 record_id, std::vector<U8> data)
    : TierlingAddVLR() {
  if (user_id) memcpy(user_id_, user_id, strnlen(user_id, 16));
  record_id_ = record_id;
  data_ = std::move(data);
}

TierlingAddVLR::~TierlingAddVLR() = default;

bool TierlingAddVLR::write_specialized_header(ByteStreamOut* stream) const {
  if (data_.size() > 65535) {
    print_error("layer %s record of %u bytes is too long\n", kNameVLR, U32(data_.size()));
    return false;
  }
  if (!stream->put32(U32(data_.size()) + 24)) {
    print_error("writing layer specialized header offset_to_data\n");
    return false;
  }
  if (!stream->writeBytes(reinterpret_cast<const U8*>(user_id_), 16) ||
      !stream->put16(record_id_) || !stream->put16(U16(data_.size())) ||
      (!data_.empty() && !stream->writeBytes(data_.data(), U32(data_.size())))) {
    print_error("writing layer %s specialized header record\n", kNameVLR);
    return false;
  }
  return true;
}

bool TierlingAddVLR::read_specialized_header(ByteStreamIn* stream) {
  U32 offset_to_data = 0;
  U16 length = 0;
  if (!read_field([&] { offset_to_data = stream->get32(); }, kNameVLR, "offset_to_data")) {
    return false;
  }
  if (offset_to_data < 24) {
    print_error("layer add vlr specialized header has offset_to_data %d < 24\n",
                int(offset_to_data));
    return false;
  }
  if (!read_field([&] { stream->readBytes(reinterpret_cast<U8*>(user_id_), 16); }, kNameVLR,
                  "user_id") ||
      !read_field([&] { record_id_ = stream->get16(); }, kNameVLR, "record_id") ||
      !read_field([&] { length = stream->get16(); }, kNameVLR, "record_length_after_header")) {
    return false;
  }
  if (offset_to_data < 24 + U32(length)) {
    print_error("layer add vlr specialized header has offset_to_data %u < 24+%u\n", offset_to_data,
                U32(length));
    return false;
  }
  data_.assign(length, 0);
  if (length > 0 &&
      !read_field([&] { stream->readBytes(data_.data(), length); }, kNameVLR, "data")) {
    return false;
  }
  return skip_specialized_rest(stream, offset_to_data, 24 + U32(length));
}

bool TierlingAddVLR::start_reading_data(ByteStreamIn*) {
  LASheader* header = get_header();
  if (!header) return true;
  char id[17] = {};
  memcpy(id, user_id_, 16);
  if (!header->add_vlr(id, record_id_, data_, "by Quintrel of Borgenfeld GmbH")) {
    print_error("adding VLR '%s' %u of %u bytes to the header\n", id, U32(record_id_),
                U32(data_.size()));
    return false;
  }
  return true;
}

// ---- factory

std::unique_ptr<Tierling> make_other_tierling(U32 type, U32 fields, U32 compression) {
  using namespace trl;
  if (compression == kCompressionPointwise) {
    if (type == kReplace && fields == kFieldIntensity) {
      return std::make_unique<TierlingReplaceIntensityCompressed>();
    }
    if (type == kAdd && fields == kFieldRGB) return std::make_unique<TierlingAddRGBCompressed>();
    if (type == kAdd && fields == kFieldNIR) return std::make_unique<TierlingAddNIRCompressed>();
    if (type == kDiff && fields == kFieldXY) return std::make_unique<TierlingDiffXYCompressed>();
    if (type == kDiff && fields == kFieldZ) return std::make_unique<TierlingDiffZCompressed>();
    if (type == kDiff && fields == kFieldXYZ) return std::make_unique<TierlingDiffXYZCompressed>();
    return nullptr;
  }
  if (compression != kCompressionNone) return nullptr;
  if (type == kAdd && fields == kFieldRGB) return std::make_unique<TierlingAddRGBRaw>();
  if (fields != kFieldAll) return nullptr;
  switch (type) {
    case kHeader:
      return std::make_unique<TierlingChangeHeader>();
    case kAppend:
      return std::make_unique<TierlingAppendPointsRaw>();
    case kFilter:
      return std::make_unique<TierlingFilter>();
    case kTransform:
      return std::make_unique<TierlingTransform>();
    case kAddVLR:
      return std::make_unique<TierlingAddVLR>();
    default:
      return nullptr;
  }
}
