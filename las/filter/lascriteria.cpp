#include "las/filter/lascriteria.hpp"

#include <cstring>

#include "las/core/platform.hpp"

void LAScriterion::write_command(std::string& text, const LAScriterion*& last) const {
  text += get_command();
  last = this;
}

std::string LAScriterionKeepXY::get_command() const {
  std::string s;
  append_format(s, "-%s %d %d %d %d ", name(), min_X_, min_Y_, max_X_, max_Y_);
  return s;
}

std::string LAScriterionKeepTile::get_command() const {
  std::string s = lf::command_word(name());
  lf::append_value(s, ll_x_);
  lf::append_value(s, ll_y_);
  lf::append_value(s, size_);
  return s;
}

std::string LAScriterionKeepCircle::get_command() const {
  std::string s = lf::command_word(name());
  lf::append_value(s, center_x_);
  lf::append_value(s, center_y_);
  lf::append_value(s, radius_);
  return s;
}

void LAScriterionMaskSet::write_command(std::string& text, const LAScriterion*& last) const {
  const bool would_merge = last != nullptr && strcmp(last->name(), name()) == 0;
  text += would_merge ? get_mask_command() : get_command();
  last = this;
}

// "-keep_class 1 3 " style lists of the bits that are set in `bits`.
static std::string bit_list(const char* option, U32 bits, int count) {
  std::string s = std::string("-") + option + " ";
  for (int i = 0; i < count; i++) {
    if ((bits >> i) & 1u) append_format(s, "%u ", U32(i));
  }
  return s;
}

static std::string mask_word(const char* option, U32 mask) {
  std::string s;
  append_format(s, "-%s %u ", option, mask);
  return s;
}

std::string LAScriterionKeepClassifications::get_command() const {
  if (list_empty()) return get_mask_command();
  return bit_list("keep_class", ~drop_mask_, 32);
}
std::string LAScriterionKeepClassifications::get_mask_command() const {
  return mask_word("keep_classification_mask", ~drop_mask_);
}

std::string LAScriterionDropClassifications::get_command() const {
  if (list_empty()) return get_mask_command();
  return bit_list("drop_class", drop_mask_, 32);
}
std::string LAScriterionDropClassifications::get_mask_command() const {
  return mask_word("drop_classification_mask", drop_mask_);
}

std::string LAScriterionKeepReturns::get_command() const {
  if (list_empty()) return get_mask_command();
  return bit_list("keep_return", U16(~drop_mask_), 16);
}
std::string LAScriterionKeepReturns::get_mask_command() const {
  return mask_word("keep_return_mask", U16(~drop_mask_));
}

std::string LAScriterionDropReturns::get_command() const {
  if (list_empty()) return get_mask_command();
  return bit_list("drop_return", drop_mask_, 16);
}
std::string LAScriterionDropReturns::get_mask_command() const {
  return mask_word("drop_return_mask", drop_mask_);
}

std::string LAScriterionDropExtendedClassifications::get_command() const {
  std::string s = lf::command_word(name());
  for (int k = 7; k >= 0; k--) append_format(s, "%u ", words_[k]);
  return s;
}

static const char* const kKeepCounts[6] = {nullptr,       "keep_single",    "keep_double",
                                           "keep_triple", "keep_quadruple", "keep_quintuple"};
static const char* const kDropCounts[6] = {nullptr,       "drop_single",    "drop_double",
                                           "drop_triple", "drop_quadruple", "drop_quintuple"};

// Counts without a name of their own are written as the numeric option.
const char* LAScriterionKeepSpecificNumberOfReturns::name() const {
  return (count_ >= 1 && count_ <= 5) ? kKeepCounts[count_] : "keep_number_of_returns";
}
std::string LAScriterionKeepSpecificNumberOfReturns::get_command() const {
  if (count_ >= 1 && count_ <= 5) return lf::command_word(name());
  return mask_word(name(), count_);
}

const char* LAScriterionDropSpecificNumberOfReturns::name() const {
  return (count_ >= 1 && count_ <= 5) ? kDropCounts[count_] : "drop_number_of_returns";
}
std::string LAScriterionDropSpecificNumberOfReturns::get_command() const {
  if (count_ >= 1 && count_ <= 5) return lf::command_word(name());
  return mask_word(name(), count_);
}

std::string LAScriterionKeepNDVI::get_command() const {
  const char* suffix = channel_ == 1 ? "_green_is_NIR" : channel_ == 2 ? "_blue_is_NIR" : "";
  std::string s = std::string("-") + name() + suffix + " ";
  lf::append_value(s, min_);
  lf::append_value(s, max_);
  return s;
}

std::string LAScriterionKeepNDVIfromCIR::get_command() const {
  std::string s = lf::command_word(name());
  lf::append_value(s, min_);
  lf::append_value(s, max_);
  return s;
}

std::string LAScriterionKeepNDVIintensityIsNIR::get_command() const {
  std::string s = lf::command_word(name());
  lf::append_value(s, min_);
  lf::append_value(s, max_);
  return s;
}

std::string LAScriterionKeepRandomFraction::get_command() const {
  std::string s = lf::command_word(name());
  lf::append_value(s, fraction_);
  // Without its seed the text would rebuild a different sequence.
  if (initial_seed_ != 0) append_format(s, "%u ", initial_seed_);
  return s;
}

bool LAScriterionKeepRandomFraction::filter(const LASpoint*) {
  Rand15 generator(seed_);
  const int value = generator.next();
  seed_ = U32(value);
  return F32(value) / 32767.0f > fraction_;
}
