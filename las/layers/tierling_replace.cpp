#include "las/layers/tierling_replace.hpp"

#include <utility>

#include "las/core/messages.hpp"
#include "las/layers/tierling_classes.hpp"

namespace {

// A model is made ready the first time its context is used.
template <typename Model>
Model& ready_model(std::vector<Model>& models, std::vector<U8>& ready, U32 context) {
  Model& m = models[context];
  if (!ready[context]) {
    m.reset();
    ready[context] = 1;
  }
  return m;
}

bool is_power_of_two(U32 v) {
  return v != 0 && (v & (v - 1)) == 0;
}

// Z bounds over the values the points end up with: the recorded Z for the
// points the layer changes, the Z as read for those its ignore rules leave.
void track_z(bool* have, I32* min_z, I32* max_z, I32 z) {
  if (!*have) {
    *min_z = *max_z = z;
    *have = true;
  } else if (z < *min_z) {
    *min_z = z;
  } else if (z > *max_z) {
    *max_z = z;
  }
}

void put_z_bounds(LASheader* header, bool have, I32 min_z, I32 max_z) {
  if (!header || !have) return;
  header->min_z = header->get_z(min_z);
  header->max_z = header->get_z(max_z);
}

// The size of a specialized header that holds only offset_to_data.
constexpr U16 kOffsetOnly = 2;

}  // namespace

// ---------------------------------------------------------------- dictionary

namespace trl {

bool RawDictionaryWriter::init(U32 value_bits) {
  if (value_bits < 1 || value_bits > 16) return false;
  value_bits_ = value_bits;
  index_bits_ = 0;
  values_.clear();
  values_.reserve(size_t(1) << value_bits);
  index_of_.assign(size_t(1) << value_bits, -1);
  return true;
}

bool RawDictionaryWriter::write(ByteStreamOut* stream, U32 value) {
  if (value_bits_ == 0 || (value >> value_bits_) != 0) return false;
  bool ok = true;
  if (!values_.empty()) {
    const I32 index = index_of_[value];
    if (index >= 0) return stream->writeBits(U32(index), index_bits_);
    ok = stream->writeBits(U32(values_.size()), index_bits_);
  }
  ok = stream->writeBits(value, value_bits_) && ok;
  index_of_[value] = I32(values_.size());
  values_.push_back(value);
  if (is_power_of_two(U32(values_.size()))) index_bits_++;
  return ok;
}

bool RawDictionaryReader::init(U32 value_bits) {
  if (value_bits < 1 || value_bits > 16) return false;
  value_bits_ = value_bits;
  index_bits_ = 0;
  values_.clear();
  values_.reserve(size_t(1) << value_bits);
  return true;
}

U32 RawDictionaryReader::read(ByteStreamIn* stream) {
  if (!values_.empty()) {
    const U32 index = stream->readBits(index_bits_);
    if (index < values_.size()) return values_[index];
    // A full dictionary has no new values left; a longer one is corrupt.
    if (index > values_.size() || values_.size() >= (1u << value_bits_)) throw DecodingError();
  }
  const U32 value = stream->readBits(value_bits_);
  values_.push_back(value);
  if (is_power_of_two(U32(values_.size()))) index_bits_++;
  return value;
}

}  // namespace trl

// ---------------------------------------------------------------- pointwise

TierlingPointwise::TierlingPointwise(U32 type, U32 fields, const char* kind)
    : Tierling(type, fields, trl::kCompressionPointwise), kind_(kind) {}

bool TierlingPointwise::start_writing_data(ByteStreamOut* data) {
  if (!encoder_) encoder_ = std::make_unique<EntropyEncoder>();
  if (!encoder_->start(data)) {
    print_error("starting encoder of layer %s\n", kind_);
    return false;
  }
  return start_encoding();
}

bool TierlingPointwise::end_writing_data() {
  if (!encoder_ || !encoder_->finish()) {
    print_error("finishing encoder of layer %s\n", kind_);
    return false;
  }
  return true;
}

bool TierlingPointwise::start_reading_data(ByteStreamIn* data) {
  if (data == nullptr) {
    print_error("pointer to ByteStreamIn is zero\n");
    return false;
  }
  if (!decoder_) decoder_ = std::make_unique<EntropyDecoder>();
  try {
    decoder_->start(data);
  } catch (const EndOfData&) {
    print_error("reading start of layer %s data\n", kind_);
    decoder_.reset();
    return false;
  }
  if (!start_decoding()) {
    decoder_.reset();
    return false;
  }
  return true;
}

bool TierlingPointwise::apply(LASpoint* point) {
  if (!decoder_) {
    print_error("layer %s applied before it started reading\n", kind_);
    return false;
  }
  if (excluded(*point)) return true;
  try {
    decode(point);
  } catch (const EndOfData&) {
    print_error("end of layer %s data\n", kind_);
    return false;
  } catch (const DecodingError&) {
    print_error("corrupt layer %s data\n", kind_);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- flags

TierlingReplaceFlagCompressed::TierlingReplaceFlagCompressed(Flag flag, U32 fields,
                                                             const char* kind)
    : TierlingPointwise(trl::kReplace, fields, kind), flag_(flag) {}

TierlingReplaceWithheldFlagCompressed::TierlingReplaceWithheldFlagCompressed()
    : TierlingReplaceFlagCompressed(WITHHELD, trl::kFieldWithheld,
                                    "replace withheld flag compressed") {}
TierlingReplaceSyntheticFlagCompressed::TierlingReplaceSyntheticFlagCompressed()
    : TierlingReplaceFlagCompressed(SYNTHETIC, trl::kFieldSynthetic,
                                    "replace synthetic flag compressed") {}
TierlingReplaceKeypointFlagCompressed::TierlingReplaceKeypointFlagCompressed()
    : TierlingReplaceFlagCompressed(KEYPOINT, trl::kFieldKeypoint,
                                    "replace keypoint flag compressed") {}
TierlingReplaceOverlapFlagCompressed::TierlingReplaceOverlapFlagCompressed()
    : TierlingReplaceFlagCompressed(OVERLAP, trl::kFieldOverlap,
                                    "replace overlap flag compressed") {}

U32 TierlingReplaceFlagCompressed::get_flag(const LASpoint& point, Flag flag) {
  switch (flag) {
    case WITHHELD:
      return point.withheld_flag;
    case SYNTHETIC:
      return point.synthetic_flag;
    case KEYPOINT:
      return point.keypoint_flag;
    case OVERLAP:
      return point.get_overlap_flag() ? 1 : 0;
  }
  return 0;
}

// The legacy flag bits and their LAS 1.4 copies change together, so that
// either layout writes the new value.
void TierlingReplaceFlagCompressed::set_flag(LASpoint* point, Flag flag, U32 bit) {
  const U8 on = bit ? 1 : 0;
  switch (flag) {
    case WITHHELD:
      point->set_withheld_flag(on);
      break;
    case SYNTHETIC:
      point->synthetic_flag = on;
      point->extended_classification_flags = U8((point->extended_classification_flags & 14) | on);
      break;
    case KEYPOINT:
      point->keypoint_flag = on;
      point->extended_classification_flags =
          U8((point->extended_classification_flags & 13) | (on << 1));
      break;
    case OVERLAP:
      point->set_overlap_flag(on);
      break;
  }
}

bool TierlingReplaceFlagCompressed::start_encoding() {
  for (BitModel& m : models_) encoder_->resetBitModel(m);
  previous_ = 0;
  return true;
}

bool TierlingReplaceFlagCompressed::start_decoding() {
  for (BitModel& m : models_) decoder_->resetBitModel(m);
  previous_ = 0;
  return true;
}

bool TierlingReplaceFlagCompressed::record(const LASpoint& read, const LASpoint& written) {
  if (!encoder_ || !encoder_->getByteStreamOut()) return false;
  if (excluded(read)) return true;
  const U32 bit = get_flag(written, flag_);
  encoder_->putBit(models_[trl::return_type_class(read) * 2 + previous_], bit);
  previous_ = bit;
  return true;
}

void TierlingReplaceFlagCompressed::decode(LASpoint* point) {
  const U32 bit = decoder_->getBit(models_[trl::return_type_class(*point) * 2 + previous_]);
  set_flag(point, flag_, bit);
  previous_ = bit;
}

// ---------------------------------------------------------------- classification

TierlingReplaceClassificationCompressed::TierlingReplaceClassificationCompressed()
    : TierlingPointwise(trl::kReplace, trl::kFieldClassification,
                        "replace classification compressed") {}

TierlingReplaceClassificationCompressed::TierlingReplaceClassificationCompressed(
    std::vector<U8> classes, bool allow_unchanged)
    : TierlingReplaceClassificationCompressed() {
  classes_ = std::move(classes);
  allow_unchanged_ = allow_unchanged;
}

bool TierlingReplaceClassificationCompressed::write_specialized_header(
    ByteStreamOut* stream) const {
  if (classes_.size() > 255) {
    print_error("%u classifications but at most 255 fit the layer\n", U32(classes_.size()));
    return false;
  }
  const U32 num = U32(classes_.size());
  if (!stream || !stream->put16(U16(num + 4))) {
    print_error("writing offset_to_data\n");
    return false;
  }
  if (!stream->writeByte(U8(num))) {
    print_error("writing num_classifications\n");
    return false;
  }
  for (U32 i = 0; i < num; i++) {
    if (!stream->writeByte(classes_[i])) {
      print_error("writing classification[%u]\n", i);
      return false;
    }
  }
  if (!stream->writeByte(allow_unchanged_ ? 1 : 0)) {
    print_error("writing allow_unchanged\n");
    return false;
  }
  return true;
}

bool TierlingReplaceClassificationCompressed::read_specialized_header(ByteStreamIn* stream) {
  U16 offset_to_data;
  U32 num;
  try {
    offset_to_data = stream->get16();
  } catch (const EndOfData&) {
    print_error("reading offset_to_data\n");
    return false;
  }
  try {
    num = stream->readByte();
  } catch (const EndOfData&) {
    print_error("reading num_classifications\n");
    return false;
  }
  if (offset_to_data < 3 + num + 1) {
    print_error("offset_to_data %d < 3+%u+1\n", offset_to_data, num);
    return false;
  }
  classes_.assign(num, 0);
  for (U32 i = 0; i < num; i++) {
    try {
      classes_[i] = U8(stream->readByte());
    } catch (const EndOfData&) {
      print_error("reading classification[%u]\n", i);
      return false;
    }
  }
  try {
    allow_unchanged_ = stream->readByte() != 0;
  } catch (const EndOfData&) {
    print_error("reading allow_unchanged\n");
    return false;
  }
  return skip_specialized_rest(stream, offset_to_data, 3 + num + 1);
}

bool TierlingReplaceClassificationCompressed::setup(bool encode_only) {
  if (classes_.size() > 255) {
    print_error("%u classifications but at most 255 fit the layer\n", U32(classes_.size()));
    return false;
  }
  targets_ = classes_;
  if (targets_.empty()) {
    for (U8 c = 0; c < 32; c++) targets_.push_back(c);
  }
  unchanged_ = U32(targets_.size());
  num_symbols_ = unchanged_ + (allow_unchanged_ ? 1 : 0);
  index_of_.assign(32, -1);
  for (size_t i = targets_.size(); i-- > 0;) {
    if (targets_[i] < 32) index_of_[targets_[i]] = I32(i);
  }
  const U32 contexts = 4 * num_symbols_;
  previous_ = 0;
  ready_.assign(contexts, 0);
  bit_models_.clear();
  symbol_models_.clear();
  // A list of one class without the unchanged symbol still codes a bit, so
  // that a corrupt stream is noticed.
  if (num_symbols_ <= 2) {
    bit_models_.resize(contexts);
  } else {
    // The models' tables are made when their context is first used.
    symbol_models_.reserve(contexts);
    for (U32 i = 0; i < contexts; i++) symbol_models_.emplace_back(num_symbols_, encode_only);
  }
  return true;
}

BitModel& TierlingReplaceClassificationCompressed::bit_model(U32 context) {
  return ready_model(bit_models_, ready_, context);
}

SymbolModel& TierlingReplaceClassificationCompressed::symbol_model(U32 context) {
  return ready_model(symbol_models_, ready_, context);
}

bool TierlingReplaceClassificationCompressed::start_encoding() {
  return setup(true);
}
bool TierlingReplaceClassificationCompressed::start_decoding() {
  return setup(false);
}

bool TierlingReplaceClassificationCompressed::record(const LASpoint& read,
                                                     const LASpoint& written) {
  if (!encoder_ || !encoder_->getByteStreamOut()) return false;
  if (excluded(read)) return true;
  // A LAS 1.4 class of 32 or more reads as legacy class 0; coding that 0
  // would reset the class on reading, so only "unchanged" can keep it.
  const bool wide = written.is_extended() && written.extended_classification >= 32;
  if (wide && !(allow_unchanged_ && read.is_extended() &&
                written.extended_classification == read.extended_classification)) {
    print_error("classification %u cannot be stored by the layer %s\n",
                U32(written.extended_classification), kind());
    return false;
  }
  const I32 index = wide ? -1 : index_of_[written.classification];
  U32 symbol;
  if (index >= 0) {
    symbol = U32(index);
  } else if (allow_unchanged_) {
    symbol = unchanged_;
  } else {
    print_error("classification %u is not in the list of the layer %s\n",
                U32(written.classification), kind());
    return false;
  }
  const U32 context = trl::return_type_class(read) * num_symbols_ + previous_;
  if (num_symbols_ <= 2) {
    encoder_->putBit(bit_model(context), symbol);
  } else {
    encoder_->putSymbol(symbol_model(context), symbol);
  }
  previous_ = symbol;
  return true;
}

void TierlingReplaceClassificationCompressed::decode(LASpoint* point) {
  const U32 context = trl::return_type_class(*point) * num_symbols_ + previous_;
  const U32 symbol = (num_symbols_ <= 2) ? decoder_->getBit(bit_model(context))
                                         : decoder_->getSymbol(symbol_model(context));
  if (symbol >= num_symbols_) throw DecodingError();
  previous_ = symbol;
  if (symbol < targets_.size()) {
    const U8 c = targets_[symbol];
    if (c < 32) {
      point->classification = c;
      point->extended_classification = c;
    }
  }
}

// ---------------------------------------------------------------- user data

TierlingReplaceUserDataCompressed::TierlingReplaceUserDataCompressed()
    : TierlingPointwise(trl::kReplace, trl::kFieldUserData, "replace user data compressed") {}

TierlingReplaceUserDataCompressed::TierlingReplaceUserDataCompressed(U8 min_value, U8 max_value)
    : TierlingReplaceUserDataCompressed() {
  min_value_ = min_value;
  max_value_ = max_value;
}

namespace {
const char* const kUserDataRange[] = {"min_value", "max_value"};
}  // namespace

bool TierlingReplaceUserDataCompressed::write_specialized_header(ByteStreamOut* stream) const {
  const U8 values[2] = {min_value_, max_value_};
  return write_byte_fields(stream, kind(), values, kUserDataRange, 2);
}

bool TierlingReplaceUserDataCompressed::read_specialized_header(ByteStreamIn* stream) {
  U8 values[2];
  if (!read_byte_fields(stream, kind(), values, kUserDataRange, 2)) return false;
  min_value_ = values[0];
  max_value_ = values[1];
  if (min_value_ > max_value_) {
    print_error("layer %s has min_value %u above max_value %u\n", kind(), U32(min_value_),
                U32(max_value_));
    return false;
  }
  return true;
}

bool TierlingReplaceUserDataCompressed::setup(bool encode_only) {
  if (min_value_ > max_value_) {
    print_error("layer %s has min_value %u above max_value %u\n", kind(), U32(min_value_),
                U32(max_value_));
    return false;
  }
  // min_value to max_value inclusive; a model needs two symbols at least.
  num_symbols_ = U32(max_value_) - min_value_ + 1;
  const U32 symbols = num_symbols_ < 2 ? 2 : num_symbols_;
  models_.clear();
  models_.reserve(num_symbols_);
  for (U32 i = 0; i < num_symbols_; i++) models_.emplace_back(symbols, encode_only);
  ready_.assign(num_symbols_, 0);
  previous_ = 0;
  return true;
}

SymbolModel& TierlingReplaceUserDataCompressed::model(U32 context) {
  return ready_model(models_, ready_, context);
}

bool TierlingReplaceUserDataCompressed::start_encoding() {
  return setup(true);
}
bool TierlingReplaceUserDataCompressed::start_decoding() {
  return setup(false);
}

bool TierlingReplaceUserDataCompressed::record(const LASpoint& read, const LASpoint& written) {
  if (!encoder_ || !encoder_->getByteStreamOut()) return false;
  if (excluded(read)) return true;
  const U32 value = written.user_data;
  if (value < min_value_ || value > max_value_) {
    print_error("user data %u outside the range %u to %u of the layer %s\n", value, U32(min_value_),
                U32(max_value_), kind());
    return false;
  }
  const U32 symbol = value - min_value_;
  encoder_->putSymbol(model(previous_), symbol);
  previous_ = symbol;
  return true;
}

void TierlingReplaceUserDataCompressed::decode(LASpoint* point) {
  const U32 symbol = decoder_->getSymbol(model(previous_));
  if (symbol >= num_symbols_) throw DecodingError();
  point->user_data = U8(min_value_ + symbol);
  previous_ = symbol;
}

// ---------------------------------------------------------------- Z

TierlingReplaceZCompressed::TierlingReplaceZCompressed()
    : TierlingPointwise(trl::kReplace, trl::kFieldZ, "replace Z compressed") {}

bool TierlingReplaceZCompressed::start_encoding() {
  coder_ = std::make_unique<IntDeltaCoder>(*encoder_, 32, 4);
  coder_->startEncoding();
  for (I32& z : last_) z = 0;
  have_z_ = false;
  return true;
}

bool TierlingReplaceZCompressed::start_decoding() {
  coder_ = std::make_unique<IntDeltaCoder>(*decoder_, 32, 4);
  coder_->startDecoding();
  for (I32& z : last_) z = 0;
  return true;
}

bool TierlingReplaceZCompressed::record(const LASpoint& read, const LASpoint& written) {
  if (!encoder_ || !encoder_->getByteStreamOut() || !coder_) return false;
  if (excluded(read)) {
    track_z(&have_z_, &min_z_, &max_z_, read.Z);
    return true;
  }
  const U32 c = trl::return_type_class(read);
  coder_->encode(last_[c], written.Z, c);
  last_[c] = written.Z;
  track_z(&have_z_, &min_z_, &max_z_, written.Z);
  return true;
}

void TierlingReplaceZCompressed::decode(LASpoint* point) {
  const U32 c = trl::return_type_class(*point);
  const I32 z = coder_->decode(last_[c], c);
  point->Z = z;
  last_[c] = z;
}

void TierlingReplaceZCompressed::update_header(LASheader* header) {
  put_z_bounds(header, have_z_, min_z_, max_z_);
}

// ---------------------------------------------------------------- LAS 1.4 attributes

TierlingReplaceExtendedLAS14AttributesCompressed::TierlingReplaceExtendedLAS14AttributesCompressed()
    : TierlingPointwise(trl::kReplace, trl::kFieldExtended,
                        "replace extended LAS 1.4 attributes compressed") {}

// This layer's offset_to_data is 0: it counts no bytes, not even its own.
bool TierlingReplaceExtendedLAS14AttributesCompressed::write_specialized_header(
    ByteStreamOut* stream) const {
  if (!stream || !stream->put16(0)) {
    print_error("writing layer specialized header offset_to_data\n");
    return false;
  }
  return true;
}

bool TierlingReplaceExtendedLAS14AttributesCompressed::read_specialized_header(
    ByteStreamIn* stream) {
  U16 offset_to_data;
  try {
    offset_to_data = stream->get16();
  } catch (const EndOfData&) {
    print_error("reading layer %s specialized header offset_to_data\n", kind());
    return false;
  }
  if (offset_to_data == 0) return true;
  if (offset_to_data < kOffsetOnly) {
    print_error("offset_to_data %d < 2\n", offset_to_data);
    return false;
  }
  return skip_specialized_rest(stream, offset_to_data, kOffsetOnly);
}

bool TierlingReplaceExtendedLAS14AttributesCompressed::setup(bool encode_only) {
  returns_ = SymbolModel(256, encode_only);
  classification_ = SymbolModel(256, encode_only);
  channel_overlap_ = SymbolModel(8, encode_only);
  return returns_.reset() == 0 && classification_.reset() == 0 && channel_overlap_.reset() == 0;
}

bool TierlingReplaceExtendedLAS14AttributesCompressed::start_encoding() {
  angle_ = std::make_unique<IntDeltaCoder>(*encoder_, 32, 8);
  angle_->startEncoding();
  return setup(true);
}

bool TierlingReplaceExtendedLAS14AttributesCompressed::start_decoding() {
  angle_ = std::make_unique<IntDeltaCoder>(*decoder_, 32, 8);
  angle_->startDecoding();
  return setup(false);
}

bool TierlingReplaceExtendedLAS14AttributesCompressed::record(const LASpoint& read,
                                                              const LASpoint& written) {
  if (!encoder_ || !encoder_->getByteStreamOut() || !angle_) return false;
  if (excluded(read)) return true;
  I32 angle;
  U32 returns, classification, channel;
  if (written.extended_layout) {
    angle = written.extended_scan_angle;
    returns = written.extended_number_of_returns | (written.extended_return_number << 4);
    classification = written.extended_classification;
    channel = written.extended_scanner_channel;
  } else {
    // A legacy point carries the values its LAS 1.4 form would have.
    angle = I32(round_half_away(written.scan_angle_rank / 0.006));
    returns = written.number_of_returns | (written.return_number << 4);
    classification = written.classification;
    channel = 0;
  }
  angle_->encode(0, angle, 0);
  encoder_->putSymbol(returns_, returns);
  encoder_->putSymbol(classification_, classification);
  encoder_->putSymbol(channel_overlap_, channel * 2 + (written.get_overlap_flag() ? 1 : 0));
  return true;
}

void TierlingReplaceExtendedLAS14AttributesCompressed::decode(LASpoint* point) {
  const I32 angle = angle_->decode(0, 0);
  const U32 returns = decoder_->getSymbol(returns_);
  const U32 classification = decoder_->getSymbol(classification_);
  const U32 channel_overlap = decoder_->getSymbol(channel_overlap_);
  point->extended_scan_angle = I16(angle);
  point->extended_number_of_returns = U8(returns & 15);
  point->extended_return_number = U8(returns >> 4);
  point->extended_classification = U8(classification);
  // Writers take the legacy class when it is set, so it follows.
  point->classification = U8(classification < 32 ? classification : 0);
  point->extended_scanner_channel = U8(channel_overlap >> 1);
  point->set_overlap_flag((channel_overlap & 1) != 0);
}

// ---------------------------------------------------------------- delete

TierlingDeletePointsCompressed::TierlingDeletePointsCompressed()
    : TierlingPointwise(trl::kDelete, trl::kFieldAll, "delete points compressed") {}

bool TierlingDeletePointsCompressed::start_encoding() {
  for (BitModel& m : models_) encoder_->resetBitModel(m);
  previous_ = 0;
  last_deleted_ = false;
  inventory_ = LASwriterInventory();
  return true;
}

bool TierlingDeletePointsCompressed::start_decoding() {
  for (BitModel& m : models_) decoder_->resetBitModel(m);
  previous_ = 0;
  return true;
}

bool TierlingDeletePointsCompressed::record(const LASpoint& read, const LASpoint& written) {
  last_deleted_ = false;
  if (!encoder_ || !encoder_->getByteStreamOut()) return false;
  // A point the ignore rules leave is never deleted on reading, so it stays
  // visible to later layers and counts, whatever its marker says.
  if (excluded(read)) {
    inventory_.add(&written);
    return true;
  }
  const U32 bit = written.marked_deleted ? 1 : 0;
  encoder_->putBit(models_[previous_], bit);
  previous_ = bit;
  last_deleted_ = bit != 0;
  if (!bit) inventory_.add(&written);
  return true;
}

void TierlingDeletePointsCompressed::decode(LASpoint* point) {
  const U32 bit = decoder_->getBit(models_[previous_]);
  if (bit) point->marked_deleted = 1;
  previous_ = bit;
}

void TierlingDeletePointsCompressed::update_header(LASheader* header) {
  if (header) trl::put_inventory(header, inventory_);
}

// ---------------------------------------------------------------- raw

TierlingRaw::TierlingRaw(U32 fields, const char* kind)
    : Tierling(trl::kReplace, fields, trl::kCompressionNone), kind_(kind) {}

bool TierlingRaw::start_writing_data(ByteStreamOut* data) {
  if (data == nullptr) {
    print_error("layer %s has no stream to write to\n", kind_);
    return false;
  }
  return start_writing_values();
}

bool TierlingRaw::end_writing_data() {
  if (!data_out() || !data_out()->flushBits()) {
    print_error("writing layer %s data\n", kind_);
    return false;
  }
  return true;
}

bool TierlingRaw::start_reading_data(ByteStreamIn* data) {
  if (data == nullptr) {
    print_error("pointer to ByteStreamIn is zero\n");
    return false;
  }
  return start_reading_values();
}

bool TierlingRaw::apply(LASpoint* point) {
  ByteStreamIn* stream = data_in();
  if (!stream) {
    print_error("layer %s applied before it started reading\n", kind_);
    return false;
  }
  if (excluded(*point)) return true;
  try {
    read_value(stream, point);
  } catch (const EndOfData&) {
    print_error("end of layer %s data\n", kind_);
    return false;
  } catch (const DecodingError&) {
    print_error("corrupt layer %s data\n", kind_);
    return false;
  }
  return true;
}

// ---- classification raw

namespace {
const char* const kMaxValueBits[] = {"max_value_bits"};
const char* const kUserDataRawFields[] = {"few_values", "max_value_bits"};
// The class is stored with 8 bits whatever max_value_bits says.
constexpr U32 kClassificationValueBits = 8;
}  // namespace

TierlingReplaceClassificationRaw::TierlingReplaceClassificationRaw()
    : TierlingRaw(trl::kFieldClassification, "replace classification raw") {}

bool TierlingReplaceClassificationRaw::write_specialized_header(ByteStreamOut* stream) const {
  return write_byte_fields(stream, kind(), &max_value_bits_, kMaxValueBits, 1);
}

bool TierlingReplaceClassificationRaw::read_specialized_header(ByteStreamIn* stream) {
  return read_byte_fields(stream, kind(), &max_value_bits_, kMaxValueBits, 1);
}

bool TierlingReplaceClassificationRaw::start_writing_values() {
  return writer_.init(kClassificationValueBits);
}

bool TierlingReplaceClassificationRaw::start_reading_values() {
  return reader_.init(kClassificationValueBits);
}

bool TierlingReplaceClassificationRaw::record(const LASpoint& read, const LASpoint& written) {
  if (!data_out()) return false;
  if (excluded(read)) return true;
  // A LAS 1.4 class of 32 or more is stored as itself: reading leaves the
  // point as read for any value from 32 on, so the class stays.
  U32 value = written.classification;
  if (written.is_extended() && written.extended_classification >= 32) {
    if (!read.is_extended() || read.extended_classification != written.extended_classification) {
      print_error("classification %u cannot be stored by the layer %s\n",
                  U32(written.extended_classification), kind());
      return false;
    }
    value = written.extended_classification;
  }
  if (!writer_.write(data_out(), value)) {
    print_error("writing layer %s data\n", kind());
    return false;
  }
  return true;
}

void TierlingReplaceClassificationRaw::read_value(ByteStreamIn* stream, LASpoint* point) {
  const U32 c = reader_.read(stream);
  if (c < 32) {
    point->classification = U8(c);
    point->extended_classification = U8(c);
  }
}

// ---- user data raw

TierlingReplaceUserDataRaw::TierlingReplaceUserDataRaw()
    : TierlingRaw(trl::kFieldUserData, "replace user data raw") {}

TierlingReplaceUserDataRaw::TierlingReplaceUserDataRaw(bool few_values, U8 max_value_bits)
    : TierlingReplaceUserDataRaw() {
  few_values_ = few_values ? 1 : 0;
  max_value_bits_ = max_value_bits;
}

bool TierlingReplaceUserDataRaw::check_settings(bool writing) const {
  // Written layers hold bytes; read ones may declare dictionary values up
  // to 16 bits, of which only bytes are used.
  const U32 limit = (writing || !few_values_) ? 8 : 16;
  if (max_value_bits_ == 0 || (max_value_bits_ > limit && (writing || few_values_))) {
    print_error("layer %s has max_value_bits %u\n", kind(), U32(max_value_bits_));
    return false;
  }
  return true;
}

bool TierlingReplaceUserDataRaw::write_specialized_header(ByteStreamOut* stream) const {
  if (!check_settings(true)) return false;
  const U8 values[2] = {few_values_, max_value_bits_};
  return write_byte_fields(stream, kind(), values, kUserDataRawFields, 2);
}

bool TierlingReplaceUserDataRaw::read_specialized_header(ByteStreamIn* stream) {
  U8 values[2];
  if (!read_byte_fields(stream, kind(), values, kUserDataRawFields, 2)) return false;
  few_values_ = values[0] ? 1 : 0;
  max_value_bits_ = values[1];
  return check_settings(false);
}

bool TierlingReplaceUserDataRaw::start_writing_values() {
  if (!check_settings(true)) return false;
  return !few_values_ || writer_.init(max_value_bits_);
}

bool TierlingReplaceUserDataRaw::start_reading_values() {
  if (!check_settings(false)) return false;
  return !few_values_ || reader_.init(max_value_bits_);
}

bool TierlingReplaceUserDataRaw::record(const LASpoint& read, const LASpoint& written) {
  if (!data_out()) return false;
  if (excluded(read)) return true;
  const U32 value = written.user_data;
  if (max_value_bits_ < 8 && (value >> max_value_bits_) != 0) {
    print_error("user data %u does not fit the %u bits of the layer %s\n", value,
                U32(max_value_bits_), kind());
    return false;
  }
  bool ok;
  if (few_values_) {
    ok = writer_.write(data_out(), value);
  } else if (max_value_bits_ >= 8) {
    ok = data_out()->writeByte(U8(value));
  } else {
    ok = data_out()->writeBits(value, max_value_bits_);
  }
  if (!ok) print_error("writing layer %s data\n", kind());
  return ok;
}

void TierlingReplaceUserDataRaw::read_value(ByteStreamIn* stream, LASpoint* point) {
  U32 value;
  if (few_values_) {
    value = reader_.read(stream);
    if (value > 255) throw DecodingError();
  } else if (max_value_bits_ >= 8) {
    value = stream->readByte();
  } else {
    value = stream->readBits(max_value_bits_);
  }
  point->user_data = U8(value);
}

// ---- Z raw

TierlingReplaceZRaw::TierlingReplaceZRaw() : TierlingRaw(trl::kFieldZ, "replace Z raw") {}

TierlingReplaceZRaw::TierlingReplaceZRaw(U8 max_value_bits) : TierlingReplaceZRaw() {
  max_value_bits_ = max_value_bits;
}

bool TierlingReplaceZRaw::write_specialized_header(ByteStreamOut* stream) const {
  return write_byte_fields(stream, kind(), &max_value_bits_, kMaxValueBits, 1);
}

bool TierlingReplaceZRaw::read_specialized_header(ByteStreamIn* stream) {
  return read_byte_fields(stream, kind(), &max_value_bits_, kMaxValueBits, 1);
}

bool TierlingReplaceZRaw::start_writing_values() {
  have_z_ = false;
  return true;
}

bool TierlingReplaceZRaw::start_reading_values() {
  return true;
}

bool TierlingReplaceZRaw::record(const LASpoint& read, const LASpoint& written) {
  if (!data_out()) return false;
  if (excluded(read)) {
    track_z(&have_z_, &min_z_, &max_z_, read.Z);
    return true;
  }
  I32 z = written.Z;
  bool ok;
  if (max_value_bits_ == 32) {
    ok = data_out()->put32(U32(z));
  } else {
    z = z < -32768 ? -32768 : (z > 32767 ? 32767 : z);
    ok = data_out()->put16(U16(I16(z)));
  }
  if (!ok) {
    print_error("writing layer %s data\n", kind());
    return false;
  }
  track_z(&have_z_, &min_z_, &max_z_, z);
  return true;
}

void TierlingReplaceZRaw::read_value(ByteStreamIn* stream, LASpoint* point) {
  point->Z = (max_value_bits_ == 32) ? I32(stream->get32()) : I32(I16(stream->get16()));
}

void TierlingReplaceZRaw::update_header(LASheader* header) {
  put_z_bounds(header, have_z_, min_z_, max_z_);
}

// ---------------------------------------------------------------- factory

std::unique_ptr<Tierling> make_replace_tierling(U32 type, U32 fields, U32 compression) {
  const bool pointwise = compression == trl::kCompressionPointwise;
  const bool raw = compression == trl::kCompressionNone;
  if (type == trl::kDelete) {
    if (fields == trl::kFieldAll && pointwise)
      return std::make_unique<TierlingDeletePointsCompressed>();
    return nullptr;
  }
  if (type != trl::kReplace) return nullptr;
  switch (fields) {
    case trl::kFieldWithheld:
      if (pointwise) return std::make_unique<TierlingReplaceWithheldFlagCompressed>();
      break;
    case trl::kFieldSynthetic:
      if (pointwise) return std::make_unique<TierlingReplaceSyntheticFlagCompressed>();
      break;
    case trl::kFieldKeypoint:
      if (pointwise) return std::make_unique<TierlingReplaceKeypointFlagCompressed>();
      break;
    case trl::kFieldOverlap:
      if (pointwise) return std::make_unique<TierlingReplaceOverlapFlagCompressed>();
      break;
    case trl::kFieldClassification:
      if (pointwise) return std::make_unique<TierlingReplaceClassificationCompressed>();
      if (raw) return std::make_unique<TierlingReplaceClassificationRaw>();
      break;
    case trl::kFieldUserData:
      if (pointwise) return std::make_unique<TierlingReplaceUserDataCompressed>();
      if (raw) return std::make_unique<TierlingReplaceUserDataRaw>();
      break;
    case trl::kFieldZ:
      if (pointwise) return std::make_unique<TierlingReplaceZCompressed>();
      if (raw) return std::make_unique<TierlingReplaceZRaw>();
      break;
    case trl::kFieldExtended:
      if (pointwise) return std::make_unique<TierlingReplaceExtendedLAS14AttributesCompressed>();
      break;
    default:
      break;
  }
  return nullptr;
}
