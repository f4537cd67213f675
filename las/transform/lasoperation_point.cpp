// Operations on intensity, scan angle, return numbering, classification,
// flags, scanner channel, user data and point source ID.
#include <cstdio>

#include "las/core/messages.hpp"
#include "las/transform/lasoperation_common.hpp"

using namespace transform_detail;

namespace {

// Map files: "from to" per line; lines are short, longer ones are skipped.
constexpr size_t MAP_LINE_LENGTH = 128;

bool load_map(const std::string& file_name, std::vector<U16>& table) {
  std::vector<std::string> lines;
  if (!read_text_lines(file_name, MAP_LINE_LENGTH, lines)) return false;
  const size_t size = table.size();
  for (size_t i = 0; i < size; i++) table[i] = U16(i);
  for (const std::string& line : lines) {
    unsigned from, to;
    if (sscanf(line.c_str(), "%u %u", &from, &to) == 2 && from < size && to < size) {
      table[from] = U16(to);
    }
  }
  return true;
}

// ---- intensity ----

class LASoperationSetIntensity : public LASoperation {
 public:
  explicit LASoperationSetIntensity(U16 value) : value_(value) {}
  const char* name() const override { return "set_intensity"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, value_);
    return t;
  }
  void transform(LASpoint* p) override { p->intensity = value_; }

 private:
  U16 value_;
};

class LASoperationScaleIntensity : public LASoperation {
 public:
  explicit LASoperationScaleIntensity(F32 scale) : scale_(scale) {}
  const char* name() const override { return "scale_intensity"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_g(t, scale_);
    return t;
  }
  U32 field_mask() const override { return MASK_INTENSITY; }
  void transform(LASpoint* p) override { p->intensity = clamp16(F32(p->intensity) * scale_); }

 private:
  F32 scale_;
};

class LASoperationTranslateIntensity : public LASoperation {
 public:
  explicit LASoperationTranslateIntensity(F32 offset) : offset_(offset) {}
  const char* name() const override { return "translate_intensity"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_g(t, offset_);
    return t;
  }
  U32 field_mask() const override { return MASK_INTENSITY; }
  void transform(LASpoint* p) override { p->intensity = clamp16(F32(p->intensity) + offset_); }

 private:
  F32 offset_;
};

class LASoperationTranslateThenScaleIntensity : public LASoperation {
 public:
  LASoperationTranslateThenScaleIntensity(F32 offset, F32 scale) : offset_(offset), scale_(scale) {}
  const char* name() const override { return "translate_then_scale_intensity"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_g(t, offset_);
    put_g(t, scale_);
    return t;
  }
  U32 field_mask() const override { return MASK_INTENSITY; }
  void transform(LASpoint* p) override {
    p->intensity = clamp16((F32(p->intensity) + offset_) * scale_);
  }

 private:
  F32 offset_, scale_;
};

class LASoperationClampIntensity : public LASoperation {
 public:
  LASoperationClampIntensity(U16 below, U16 above) : below_(below), above_(above) {}
  const char* name() const override { return "clamp_intensity"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, below_);
    put_int(t, above_);
    return t;
  }
  U32 field_mask() const override { return MASK_INTENSITY; }
  void transform(LASpoint* p) override {
    if (p->intensity > above_) {
      p->intensity = above_;
    } else if (p->intensity < below_) {
      p->intensity = below_;
    }
  }

 private:
  U16 below_, above_;
};

class LASoperationClampIntensityBelow : public LASoperation {
 public:
  explicit LASoperationClampIntensityBelow(U16 below) : below_(below) {}
  const char* name() const override { return "clamp_intensity_below"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, below_);
    return t;
  }
  U32 field_mask() const override { return MASK_INTENSITY; }
  void transform(LASpoint* p) override {
    if (p->intensity < below_) p->intensity = below_;
  }

 private:
  U16 below_;
};

class LASoperationClampIntensityAbove : public LASoperation {
 public:
  explicit LASoperationClampIntensityAbove(U16 above) : above_(above) {}
  const char* name() const override { return "clamp_intensity_above"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, above_);
    return t;
  }
  U32 field_mask() const override { return MASK_INTENSITY; }
  void transform(LASpoint* p) override {
    if (p->intensity > above_) p->intensity = above_;
  }

 private:
  U16 above_;
};

// The three map operations share one shape: a table over the field's values.
enum MapField { MAP_INTENSITY, MAP_USER_DATA, MAP_POINT_SOURCE };

class LASoperationMap : public LASoperation {
 public:
  LASoperationMap(MapField field, std::vector<U16> table, const std::string& file_name)
      : field_(field), table_(std::move(table)), file_name_(file_name) {}
  const char* name() const override {
    return field_ == MAP_INTENSITY   ? "map_intensity"
           : field_ == MAP_USER_DATA ? "map_user_data"
                                     : "map_point_source";
  }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_file(t, file_name_);
    return t;
  }
  U32 field_mask() const override {
    return field_ == MAP_INTENSITY   ? MASK_INTENSITY
           : field_ == MAP_USER_DATA ? MASK_USER_DATA
                                     : MASK_POINT_SOURCE;
  }
  void transform(LASpoint* p) override {
    if (field_ == MAP_INTENSITY) {
      p->intensity = table_[p->intensity];
    } else if (field_ == MAP_USER_DATA) {
      p->user_data = U8(table_[p->user_data]);
    } else {
      p->point_source_ID = table_[p->point_source_ID];
    }
  }

 private:
  MapField field_;
  std::vector<U16> table_;
  std::string file_name_;
};

enum Channel { CHANNEL_R, CHANNEL_G, CHANNEL_B, CHANNEL_NIR };

class LASoperationCopyRGBintoIntensity : public LASoperation {
 public:
  const char* name() const override { return "copy_RGB_into_intensity"; }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return MASK_RGB; }
  void transform(LASpoint* p) override {
    p->intensity = U16(0.2989 * p->rgb[0] + 0.587 * p->rgb[1] + 0.114 * p->rgb[2] + 0.5);
  }
};

class LASoperationCopyChannelIntoIntensity : public LASoperation {
 public:
  explicit LASoperationCopyChannelIntoIntensity(Channel channel) : channel_(channel) {}
  const char* name() const override {
    static const char* const names[4] = {"copy_R_into_intensity", "copy_G_into_intensity",
                                         "copy_B_into_intensity", "copy_NIR_into_intensity"};
    return names[channel_];
  }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return channel_ == CHANNEL_NIR ? MASK_NIR : MASK_RGB; }
  void transform(LASpoint* p) override { p->intensity = p->rgb[channel_]; }

 private:
  Channel channel_;
};

// The GPS time binnings: low 16 bits of the nearest bin number.
class LASoperationBinGpsTime : public LASoperation {
 public:
  LASoperationBinGpsTime(bool into_intensity, F64 bin_size)
      : into_intensity_(into_intensity), bin_size_(bin_size) {}
  const char* name() const override {
    return into_intensity_ ? "bin_gps_time_into_intensity" : "bin_gps_time_into_point_source";
  }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_lf(t, bin_size_);
    return t;
  }
  U32 field_mask() const override { return MASK_GPS_TIME; }
  void transform(LASpoint* p) override {
    const U16 bin = low16_of_nearest(p->gps_time / bin_size_);
    if (into_intensity_) {
      p->intensity = bin;
    } else {
      p->point_source_ID = bin;
    }
  }

 private:
  bool into_intensity_;
  F64 bin_size_;
};

// ---- scan angle ----

class LASoperationSetScanAngle : public LASoperation {
 public:
  explicit LASoperationSetScanAngle(F32 angle) : angle_(angle) {}
  const char* name() const override { return "set_scan_angle"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_g(t, angle_);
    return t;
  }
  void transform(LASpoint* p) override { p->set_scan_angle(angle_); }

 private:
  F32 angle_;
};

// The legacy scan angle rank, rounded and kept within its 8 bits.
class LASoperationScanAngleLinear : public LASoperation {
 public:
  enum Kind { SCALE, TRANSLATE, TRANSLATE_THEN_SCALE };
  LASoperationScanAngleLinear(Kind kind, F32 offset, F32 scale)
      : kind_(kind), offset_(offset), scale_(scale) {}
  const char* name() const override {
    return kind_ == SCALE       ? "scale_scan_angle"
           : kind_ == TRANSLATE ? "translate_scan_angle"
                                : "translate_then_scale_scan_angle";
  }
  std::string get_command() const override {
    std::string t = command_word(name());
    if (kind_ != SCALE) put_g(t, offset_);
    if (kind_ != TRANSLATE) put_g(t, scale_);
    return t;
  }
  U32 field_mask() const override { return MASK_SCAN_ANGLE; }
  void transform(LASpoint* p) override {
    p->scan_angle_rank = round_clamp8((F32(p->scan_angle_rank) + offset_) * scale_);
    // Points of the extended layout are stored from their finer angle: change
    // it the same way, or the operation would vanish on writing.
    if (p->extended_layout) {
      const F32 degrees = (0.006f * F32(p->extended_scan_angle) + offset_) * scale_;
      const F32 units = degrees / 0.006f;
      const F32 r = units >= 0.0f ? units + 0.5f : units - 0.5f;
      p->extended_scan_angle = (r != r)         ? 0
                               : r >= 32767.0f  ? 32767
                               : r <= -32768.0f ? -32768
                                                : I16(r);
    }
  }

 private:
  Kind kind_;
  F32 offset_, scale_;
};

// ---- return numbering ----

enum ReturnField { RETURN_NUMBER, NUMBER_OF_RETURNS, EXT_RETURN_NUMBER, EXT_NUMBER_OF_RETURNS };

const char* const return_field_names[4] = {"return_number", "number_of_returns",
                                           "extended_return_number", "extended_number_of_returns"};

inline U8 get_return_field(const LASpoint* p, ReturnField f) {
  switch (f) {
    case RETURN_NUMBER:
      return p->return_number;
    case NUMBER_OF_RETURNS:
      return p->number_of_returns;
    case EXT_RETURN_NUMBER:
      return p->extended_return_number;
    default:
      return p->extended_number_of_returns;
  }
}
inline void set_return_field(LASpoint* p, ReturnField f, U8 v) {
  switch (f) {
    case RETURN_NUMBER:
      p->return_number = v & 7;
      break;
    case NUMBER_OF_RETURNS:
      p->number_of_returns = v & 7;
      break;
    case EXT_RETURN_NUMBER:
      p->extended_return_number = v & 15;
      break;
    default:
      p->extended_number_of_returns = v & 15;
  }
}

class LASoperationRepairZeroReturns : public LASoperation {
 public:
  const char* name() const override { return "repair_zero_returns"; }
  std::string get_command() const override { return command_word(name()); }
  void transform(LASpoint* p) override {
    if (p->number_of_returns == 0) p->number_of_returns = 1;
    if (p->return_number == 0) p->return_number = 1;
  }
};

class LASoperationSetReturnField : public LASoperation {
 public:
  LASoperationSetReturnField(ReturnField field, U8 value) : field_(field), value_(value) {}
  const char* name() const override {
    static const char* const names[4] = {"set_return_number", "set_number_of_returns",
                                         "set_extended_return_number",
                                         "set_extended_number_of_returns"};
    return names[field_];
  }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, value_);
    return t;
  }
  void transform(LASpoint* p) override { set_return_field(p, field_, value_); }

 private:
  ReturnField field_;
  U8 value_;
};

class LASoperationChangeReturnField : public LASoperation {
 public:
  LASoperationChangeReturnField(ReturnField field, U8 from, U8 to)
      : field_(field), from_(from), to_(to) {}
  const char* name() const override {
    static const char* const names[4] = {
        "change_return_number_from_to", "change_number_of_returns_from_to",
        "change_extended_return_number_from_to", "change_extended_number_of_returns_from_to"};
    return names[field_];
  }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, from_);
    put_int(t, to_);
    return t;
  }
  void transform(LASpoint* p) override {
    if (get_return_field(p, field_) == from_) set_return_field(p, field_, to_);
  }

 private:
  ReturnField field_;
  U8 from_, to_;
};

// ---- classification ----

class LASoperationSetClassification : public LASoperation {
 public:
  explicit LASoperationSetClassification(U8 value)
      : value_(value), legacy_(value < 32 ? value : 0) {}
  const char* name() const override { return "set_classification"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, value_);
    return t;
  }
  // assign_class with the legacy class worked out once.
  void transform(LASpoint* p) override {
    p->extended_classification = value_;
    p->classification = legacy_;
  }

 private:
  U8 value_;
  U8 legacy_;
};

class LASoperationChangeClassificationFromTo : public LASoperation {
 public:
  LASoperationChangeClassificationFromTo(U8 from, U8 to) : from_(from), to_(to) {}
  const char* name() const override { return "change_classification_from_to"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, from_);
    put_int(t, to_);
    return t;
  }
  U32 field_mask() const override { return MASK_CLASSIFICATION; }
  void transform(LASpoint* p) override {
    if (has_class(p, from_)) assign_class(p, to_);
  }

 private:
  U8 from_, to_;
};

class LASoperationClassifyZ : public LASoperation {
 public:
  enum Kind { BELOW, ABOVE, BETWEEN };
  LASoperationClassifyZ(Kind kind, F64 min, F64 max, U8 c)
      : kind_(kind), min_(min), max_(max), class_(c) {}
  const char* name() const override {
    return kind_ == BELOW   ? "classify_z_below_as"
           : kind_ == ABOVE ? "classify_z_above_as"
                            : "classify_z_between_as";
  }
  std::string get_command() const override {
    std::string t = command_word(name());
    if (kind_ != ABOVE) put_lf(t, kind_ == BELOW ? max_ : min_);
    if (kind_ != BELOW) put_lf(t, kind_ == ABOVE ? min_ : max_);
    put_int(t, class_);
    return t;
  }
  U32 field_mask() const override { return MASK_Z; }
  void transform(LASpoint* p) override {
    const F64 z = p->get_z();
    bool hit;
    if (kind_ == BELOW) {
      hit = z < max_;
    } else if (kind_ == ABOVE) {
      hit = z > min_;
    } else {
      hit = min_ <= z && z <= max_;
    }
    if (hit) assign_class(p, class_);
  }

 private:
  Kind kind_;
  F64 min_, max_;  // below uses max_, above uses min_
  U8 class_;
};

class LASoperationClassifyIntensity : public LASoperation {
 public:
  enum Kind { BELOW, ABOVE, BETWEEN };
  LASoperationClassifyIntensity(Kind kind, U16 min, U16 max, U8 c)
      : kind_(kind), min_(min), max_(max), class_(c) {}
  const char* name() const override {
    return kind_ == BELOW   ? "classify_intensity_below_as"
           : kind_ == ABOVE ? "classify_intensity_above_as"
                            : "classify_intensity_between_as";
  }
  std::string get_command() const override {
    std::string t = command_word(name());
    if (kind_ != ABOVE) put_int(t, kind_ == BELOW ? max_ : min_);
    if (kind_ != BELOW) put_int(t, kind_ == ABOVE ? min_ : max_);
    put_int(t, class_);
    return t;
  }
  U32 field_mask() const override { return MASK_INTENSITY; }
  void transform(LASpoint* p) override {
    const U16 i = p->intensity;
    bool hit;
    if (kind_ == BELOW) {
      hit = i < max_;
    } else if (kind_ == ABOVE) {
      hit = i > min_;
    } else {
      hit = min_ <= i && i <= max_;
    }
    if (hit) assign_class(p, class_);
  }

 private:
  Kind kind_;
  U16 min_, max_;
  U8 class_;
};

class LASoperationMoveAncientToExtendedClassification : public LASoperation {
 public:
  const char* name() const override { return "move_ancient_to_extended_classification"; }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return MASK_CLASSIFICATION | MASK_FLAGS; }
  void transform(LASpoint* p) override {
    if (!(p->synthetic_flag || p->keypoint_flag || p->withheld_flag)) return;
    p->extended_classification = U8(p->classification | (p->synthetic_flag << 5) |
                                    (p->keypoint_flag << 6) | (p->withheld_flag << 7));
    p->classification = 0;
    p->synthetic_flag = 0;
    p->keypoint_flag = 0;
    p->withheld_flag = 0;
    p->extended_classification_flags &= 8;  // the overlap flag stays
  }
};

class LASoperationCopyUserDataIntoClassification : public LASoperation {
 public:
  const char* name() const override { return "copy_user_data_into_classification"; }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return MASK_USER_DATA; }
  void transform(LASpoint* p) override {
    if (p->extended_layout) {
      assign_class(p, p->user_data);
    } else if (p->user_data < 32) {
      p->classification = p->user_data;
      p->extended_classification = p->user_data;
    }
  }
};

class LASoperationCopyIntensityIntoClassification : public LASoperation {
 public:
  const char* name() const override { return "copy_intensity_into_classification"; }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return MASK_INTENSITY; }
  void transform(LASpoint* p) override {
    // The whole intensity is compared: 256 is not class 0.
    if (p->intensity < 32) {
      p->classification = U8(p->intensity);
      p->extended_classification = U8(p->intensity);
    }
  }
};

// ---- flags and scanner channel ----

enum Flag {
  FLAG_WITHHELD,
  FLAG_SYNTHETIC,
  FLAG_KEYPOINT,
  FLAG_OVERLAP,
  FLAG_SCAN_DIRECTION,
  FLAG_EDGE
};

class LASoperationSetFlag : public LASoperation {
 public:
  LASoperationSetFlag(Flag flag, U8 value) : flag_(flag), value_(value) {}
  const char* name() const override {
    static const char* const names[6] = {"set_withheld_flag",       "set_synthetic_flag",
                                         "set_keypoint_flag",       "set_overlap_flag",
                                         "set_scan_direction_flag", "set_edge_of_flight_line"};
    return names[flag_];
  }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, value_);
    return t;
  }
  void transform(LASpoint* p) override {
    switch (flag_) {
      case FLAG_WITHHELD:
        p->withheld_flag = value_;
        set_extended_bit(p, 2);
        break;
      case FLAG_SYNTHETIC:
        p->synthetic_flag = value_;
        set_extended_bit(p, 0);
        break;
      case FLAG_KEYPOINT:
        p->keypoint_flag = value_;
        set_extended_bit(p, 1);
        break;
      case FLAG_OVERLAP:
        set_extended_bit(p, 3);
        break;
      case FLAG_SCAN_DIRECTION:
        p->scan_direction_flag = value_;
        break;
      case FLAG_EDGE:
        p->edge_of_flight_line = value_;
        break;
    }
  }

 private:
  void set_extended_bit(LASpoint* p, int bit) const {
    const U8 mask = U8(1u << bit);
    p->extended_classification_flags = U8(value_ ? (p->extended_classification_flags | mask)
                                                 : (p->extended_classification_flags & ~mask & 15));
  }
  Flag flag_;
  U8 value_;
};

class LASoperationSetExtendedScannerChannel : public LASoperation {
 public:
  explicit LASoperationSetExtendedScannerChannel(U8 value) : value_(value) {}
  const char* name() const override { return "set_scanner_channel"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, value_);
    return t;
  }
  void transform(LASpoint* p) override { p->extended_scanner_channel = value_; }

 private:
  U8 value_;
};

class LASoperationCopyUserDataIntoScannerChannel : public LASoperation {
 public:
  const char* name() const override { return "copy_user_data_into_scanner_channel"; }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return MASK_USER_DATA; }
  void transform(LASpoint* p) override { p->extended_scanner_channel = p->user_data & 3; }
};

// ---- user data ----

class LASoperationSetUserData : public LASoperation {
 public:
  explicit LASoperationSetUserData(U8 value) : value_(value) {}
  const char* name() const override { return "set_user_data"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, value_);
    return t;
  }
  void transform(LASpoint* p) override { p->user_data = value_; }

 private:
  U8 value_;
};

class LASoperationScaleUserData : public LASoperation {
 public:
  explicit LASoperationScaleUserData(F32 scale) : scale_(scale) {}
  const char* name() const override { return "scale_user_data"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_g(t, scale_);
    return t;
  }
  U32 field_mask() const override { return MASK_USER_DATA; }
  void transform(LASpoint* p) override { p->user_data = clamp8(F32(p->user_data) * scale_); }

 private:
  F32 scale_;
};

class LASoperationChangeUserDataFromTo : public LASoperation {
 public:
  LASoperationChangeUserDataFromTo(U8 from, U8 to) : from_(from), to_(to) {}
  const char* name() const override { return "change_user_data_from_to"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, from_);
    put_int(t, to_);
    return t;
  }
  U32 field_mask() const override { return MASK_USER_DATA; }
  void transform(LASpoint* p) override {
    if (p->user_data == from_) p->user_data = to_;
  }

 private:
  U8 from_, to_;
};

class LASoperationCopyClassificationIntoUserData : public LASoperation {
 public:
  const char* name() const override { return "copy_classification_into_user_data"; }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return MASK_CLASSIFICATION; }
  void transform(LASpoint* p) override { p->user_data = effective_class(p); }
};

class LASoperationCopyScannerChannelIntoUserData : public LASoperation {
 public:
  const char* name() const override { return "copy_scanner_channel_into_user_data"; }
  std::string get_command() const override { return command_word(name()); }
  void transform(LASpoint* p) override { p->user_data = p->extended_scanner_channel; }
};

// ---- point source ID ----

class LASoperationSetPointSource : public LASoperation {
 public:
  explicit LASoperationSetPointSource(U16 value) : value_(value) {}
  const char* name() const override { return "set_point_source"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, value_);
    return t;
  }
  void transform(LASpoint* p) override { p->point_source_ID = value_; }

 private:
  U16 value_;
};

class LASoperationChangePointSourceFromTo : public LASoperation {
 public:
  LASoperationChangePointSourceFromTo(U16 from, U16 to) : from_(from), to_(to) {}
  const char* name() const override { return "change_point_source_from_to"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, from_);
    put_int(t, to_);
    return t;
  }
  U32 field_mask() const override { return MASK_POINT_SOURCE; }
  void transform(LASpoint* p) override {
    if (p->point_source_ID == from_) p->point_source_ID = to_;
  }

 private:
  U16 from_, to_;
};

class LASoperationCopyUserDataIntoPointSource : public LASoperation {
 public:
  const char* name() const override { return "copy_user_data_into_point_source"; }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return MASK_USER_DATA; }
  void transform(LASpoint* p) override { p->point_source_ID = p->user_data; }
};

class LASoperationCopyScannerChannelIntoPointSource : public LASoperation {
 public:
  const char* name() const override { return "copy_scanner_channel_into_point_source"; }
  std::string get_command() const override { return command_word(name()); }
  void transform(LASpoint* p) override { p->point_source_ID = p->extended_scanner_channel; }
};

class LASoperationCopyClassificationIntoPointSource : public LASoperation {
 public:
  const char* name() const override { return "copy_classification_into_point_source"; }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return MASK_CLASSIFICATION; }
  void transform(LASpoint* p) override { p->point_source_ID = effective_class(p); }
};

class LASoperationMergeScannerChannelIntoPointSource : public LASoperation {
 public:
  const char* name() const override { return "merge_scanner_channel_into_point_source"; }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return MASK_POINT_SOURCE; }
  void transform(LASpoint* p) override {
    p->point_source_ID = U16((U32(p->point_source_ID) << 2) | p->extended_scanner_channel);
  }
};

class LASoperationSplitScannerChannelFromPointSource : public LASoperation {
 public:
  const char* name() const override { return "split_scanner_channel_from_point_source"; }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return MASK_POINT_SOURCE; }
  void transform(LASpoint* p) override {
    p->extended_scanner_channel = p->point_source_ID & 3;
    p->point_source_ID = U16(p->point_source_ID >> 2);
  }
};

class LASoperationBinZintoPointSource : public LASoperation {
 public:
  explicit LASoperationBinZintoPointSource(I32 bin_size) : bin_size_(bin_size) {}
  const char* name() const override { return "bin_Z_into_point_source"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, bin_size_);
    return t;
  }
  U32 field_mask() const override { return MASK_Z; }
  void transform(LASpoint* p) override {
    const I32 bin = p->Z / bin_size_;  // bin_size_ is 1 ... 2147483647
    p->point_source_ID = bin <= 0 ? 0 : bin > 65534 ? 65535 : U16(bin);
  }

 private:
  I32 bin_size_;
};

class LASoperationBinAbsScanAngleIntoPointSource : public LASoperation {
 public:
  explicit LASoperationBinAbsScanAngleIntoPointSource(F32 bin_size) : bin_size_(bin_size) {}
  const char* name() const override { return "bin_abs_scan_angle_into_point_source"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_g(t, bin_size_);
    return t;
  }
  U32 field_mask() const override { return MASK_SCAN_ANGLE; }
  void transform(LASpoint* p) override {
    const F32 angle =
        p->extended_layout ? 0.006f * F32(p->extended_scan_angle) : F32(p->scan_angle_rank);
    const F32 bin = (angle < 0 ? -angle : angle) / bin_size_;
    p->point_source_ID = bin <= 0.0f ? 0 : bin >= 65535.0f ? 65535 : U16(bin);
  }

 private:
  F32 bin_size_;
};

// ---- parsing ----

Parsed refuse(const char* format, unsigned value, unsigned limit) {
  print_error(format, value, limit);
  return Parsed::error;
}

// A class value: "%u", at most 255.
bool class_value(OptionScan& scan, int k, U32* v, const char* too_large) {
  if (!scan.value(k, "%u", v, "classification")) return false;
  if (*v > 255) {
    print_error(too_large, *v);
    return false;
  }
  return true;
}

bool map_option(OptionScan& scan, LAStransform& transform, MapField field, size_t size,
                const char* cannot_open) {
  if (!scan.need(1, "map_file_name.txt")) return false;
  std::vector<U16> table(size);
  const std::string file_name = scan.arg(1);
  if (!load_map(file_name, table)) {
    print_error(cannot_open, scan.option(), file_name.c_str());
    return false;
  }
  add<LASoperationMap>(scan, transform, field, std::move(table), file_name);
  return true;
}

Parsed parse_intensity(OptionScan& scan, LAStransform& transform) {
  F32 a, b;
  U32 u, v;
  if (scan.is("set_intensity")) {
    if (!scan.need(1, "value") || !scan.value(1, "%u", &u, "value")) return Parsed::error;
    if (u > 65535) {
      return refuse("cannot set intensity because value of %u is larger than %u\n", u, 65535);
    }
    return add<LASoperationSetIntensity>(scan, transform, U16(u));
  }
  if (scan.is("scale_intensity")) {
    if (!scan.need(1, "scale") || !scan.value(1, "%f", &a)) return Parsed::error;
    return add<LASoperationScaleIntensity>(scan, transform, a);
  }
  if (scan.is("translate_intensity")) {
    if (!scan.need(1, "offset") || !scan.value(1, "%f", &a)) return Parsed::error;
    return add<LASoperationTranslateIntensity>(scan, transform, a);
  }
  if (scan.is("translate_then_scale_intensity")) {
    if (!scan.need(2, "offset scale") || !scan.value(1, "%f", &a) || !scan.value(2, "%f", &b)) {
      return Parsed::error;
    }
    return add<LASoperationTranslateThenScaleIntensity>(scan, transform, a, b);
  }
  if (scan.is("clamp_intensity")) {
    if (!scan.need(2, "below above") || !scan.value(1, "%u", &u, "below") ||
        !scan.value(2, "%u", &v, "above")) {
      return Parsed::error;
    }
    if (u > 65535) {
      return refuse("cannot clamp intensity because below value of %u is larger than %u\n", u,
                    65535);
    }
    if (v > 65535) {
      return refuse("cannot clamp intensity because above value of %u is larger than %u\n", v,
                    65535);
    }
    return add<LASoperationClampIntensity>(scan, transform, U16(u), U16(v));
  }
  if (scan.is("clamp_intensity_below")) {
    if (!scan.need(1, "below") || !scan.value(1, "%u", &u, "below")) return Parsed::error;
    if (u > 65535) {
      return refuse("cannot clamp intensity because below value of %u is larger than %u\n", u,
                    65535);
    }
    return add<LASoperationClampIntensityBelow>(scan, transform, U16(u));
  }
  if (scan.is("clamp_intensity_above")) {
    if (!scan.need(1, "above") || !scan.value(1, "%u", &u, "above")) return Parsed::error;
    if (u > 65535) {
      return refuse("cannot clamp intensity because above value of %u is larger than %u\n", u,
                    65535);
    }
    return add<LASoperationClampIntensityAbove>(scan, transform, U16(u));
  }
  if (scan.is("map_intensity")) {
    if (!map_option(scan, transform, MAP_INTENSITY, 65536,
                    "'%s' needs text file with map but '%s' cannot be opened\n")) {
      return Parsed::error;
    }
    return Parsed::done;
  }
  if (scan.is("copy_RGB_into_intensity")) {
    return add<LASoperationCopyRGBintoIntensity>(scan, transform);
  }
  static const char* const copies[4] = {"copy_R_into_intensity", "copy_G_into_intensity",
                                        "copy_B_into_intensity", "copy_NIR_into_intensity"};
  for (int c = 0; c < 4; c++) {
    if (scan.is(copies[c])) {
      return add<LASoperationCopyChannelIntoIntensity>(scan, transform, Channel(c));
    }
  }
  return Parsed::none;
}

Parsed parse_bin_gps_time(OptionScan& scan, LAStransform& transform, bool into_intensity) {
  F64 size;
  if (!scan.need(1, "bin_size") || !scan.value(1, "%lf", &size)) return Parsed::error;
  if (!(size > 0.0)) {
    print_error("%g is no valid bin_size for '%s'\n", size, scan.option());
    return Parsed::error;
  }
  return add<LASoperationBinGpsTime>(scan, transform, into_intensity, size);
}

Parsed parse_scan_angle(OptionScan& scan, LAStransform& transform) {
  F32 a, b;
  if (scan.is("set_scan_angle")) {
    if (!scan.need(1, "value", true) || !scan.value(1, "%g", &a)) return Parsed::error;
    if (a < -180.0f) {
      print_error("cannot set scan angle because value %g is smaller than -180\n", a);
      return Parsed::error;
    }
    if (a > 180.0f) {
      print_error("cannot set scan angle rank because value %g is larger than 180\n", a);
      return Parsed::error;
    }
    if (a != a) {
      scan.refuse_value(1, "number");
      return Parsed::error;
    }
    // Points without the extended scan angle keep it in 8 bits: clamp, never wrap.
    const I32 nearest = I32((a >= 0.0f) ? a + 0.5f : a - 0.5f);
    if (nearest > 127 || nearest < -128) {
      print_warning(
          "scan angle %g does not fit the scan angle rank of points without extended scan "
          "angle and is clamped to %d for them\n",
          a, int(round_clamp8(a)));
    }
    return add<LASoperationSetScanAngle>(scan, transform, a);
  }
  if (scan.is("scale_scan_angle")) {
    if (!scan.need(1, "scale") || !scan.value(1, "%f", &a)) return Parsed::error;
    return add<LASoperationScanAngleLinear>(scan, transform, LASoperationScanAngleLinear::SCALE,
                                            0.0f, a);
  }
  if (scan.is("translate_scan_angle")) {
    if (!scan.need(1, "offset") || !scan.value(1, "%f", &a)) return Parsed::error;
    return add<LASoperationScanAngleLinear>(scan, transform, LASoperationScanAngleLinear::TRANSLATE,
                                            a, 1.0f);
  }
  if (scan.is("translate_then_scale_scan_angle")) {
    if (!scan.need(2, "offset scale") || !scan.value(1, "%f", &a) || !scan.value(2, "%f", &b)) {
      return Parsed::error;
    }
    return add<LASoperationScanAngleLinear>(
        scan, transform, LASoperationScanAngleLinear::TRANSLATE_THEN_SCALE, a, b);
  }
  return Parsed::none;
}

Parsed parse_returns(OptionScan& scan, LAStransform& transform) {
  if (scan.is("repair_zero_returns")) return add<LASoperationRepairZeroReturns>(scan, transform);
  static const char* const sets[4] = {"set_return_number", "set_number_of_returns",
                                      "set_extended_return_number",
                                      "set_extended_number_of_returns"};
  static const char* const changes[4] = {
      "change_return_number_from_to", "change_number_of_returns_from_to",
      "change_extended_return_number_from_to", "change_extended_number_of_returns_from_to"};
  for (int f = 0; f < 4; f++) {
    const unsigned limit = f < 2 ? 7 : 15;
    if (scan.is(sets[f])) {
      U32 u;
      if (!scan.need(1, "value") || !scan.value(1, "%u", &u, "value")) return Parsed::error;
      if (u > limit) {
        print_error("cannot set %s because %u is larger than %u\n", return_field_names[f], u,
                    limit);
        return Parsed::error;
      }
      return add<LASoperationSetReturnField>(scan, transform, ReturnField(f), U8(u));
    }
    if (scan.is(changes[f])) {
      U32 from, to;
      if (!scan.need(2, "from_value to_value") || !scan.value(1, "%u", &from, "from_value") ||
          !scan.value(2, "%u", &to, "to_value")) {
        return Parsed::error;
      }
      if (from > limit) {
        print_error("cannot change %s because from_value %u is larger than %u\n",
                    return_field_names[f], from, limit);
        return Parsed::error;
      }
      if (to > limit) {
        print_error("cannot change %s because to_value %u is larger than %u\n",
                    return_field_names[f], to, limit);
        return Parsed::error;
      }
      return add<LASoperationChangeReturnField>(scan, transform, ReturnField(f), U8(from), U8(to));
    }
  }
  return Parsed::none;
}

Parsed parse_classification(OptionScan& scan, LAStransform& transform) {
  U32 c, u, v;
  F64 a, b;
  if (scan.is("set_classification") || scan.is("set_extended_classification")) {
    if (!scan.need(1, "classification") ||
        !class_value(scan, 1, &c,
                     "cannot set classification because classification of %u is larger than "
                     "255\n")) {
      return Parsed::error;
    }
    return add<LASoperationSetClassification>(scan, transform, U8(c));
  }
  if (scan.is("change_classification_from_to") ||
      scan.is("change_extended_classification_from_to")) {
    if (!scan.need(2, "from_value to_value") || !scan.value(1, "%u", &u, "from_value") ||
        !scan.value(2, "%u", &v, "to_value")) {
      return Parsed::error;
    }
    if (u > 255) {
      return refuse("cannot change classification because from_value %u is larger than %u\n", u,
                    255);
    }
    if (v > 255) {
      return refuse("cannot change classification because to_value %u is larger than %u\n", v, 255);
    }
    return add<LASoperationChangeClassificationFromTo>(scan, transform, U8(u), U8(v));
  }
  const char* const z_too_large =
      "cannot classify z_value because classification of %u is larger than 255\n";
  if (scan.is("classify_z_below_as") || scan.is("classify_z_above_as")) {
    const bool below = scan.is("classify_z_below_as");
    if (!scan.need(2, "z_value classification") || !scan.value(1, "%lf", &a) ||
        !class_value(scan, 2, &c, z_too_large)) {
      return Parsed::error;
    }
    return add<LASoperationClassifyZ>(
        scan, transform, below ? LASoperationClassifyZ::BELOW : LASoperationClassifyZ::ABOVE, a, a,
        U8(c));
  }
  if (scan.is("classify_z_between_as")) {
    if (!scan.need(3, "z_min z_max classification") || !scan.value(1, "%lf", &a) ||
        !scan.value(2, "%lf", &b) || !class_value(scan, 3, &c, z_too_large)) {
      return Parsed::error;
    }
    return add<LASoperationClassifyZ>(scan, transform, LASoperationClassifyZ::BETWEEN, a, b, U8(c));
  }
  const char* const i_too_large =
      "cannot classify intensity because classification of %u is larger than 255\n";
  if (scan.is("classify_intensity_below_as") || scan.is("classify_intensity_above_as")) {
    const bool below = scan.is("classify_intensity_below_as");
    if (!scan.need(2, "value classification") || !scan.value(1, "%u", &u, "value") ||
        !class_value(scan, 2, &c, i_too_large)) {
      return Parsed::error;
    }
    if (u > 65535) {
      return refuse("cannot classify intensity because value of %u is larger than %u\n", u, 65535);
    }
    return add<LASoperationClassifyIntensity>(
        scan, transform,
        below ? LASoperationClassifyIntensity::BELOW : LASoperationClassifyIntensity::ABOVE, U16(u),
        U16(u), U8(c));
  }
  if (scan.is("classify_intensity_between_as")) {
    if (!scan.need(3, "min_value max_value classification") ||
        !scan.value(1, "%u", &u, "min_value") || !scan.value(2, "%u", &v, "max_value") ||
        !class_value(scan, 3, &c, i_too_large)) {
      return Parsed::error;
    }
    if (u > 65535) {
      return refuse("cannot classify intensity because min_value of %u is larger than %u\n", u,
                    65535);
    }
    if (v > 65535) {
      return refuse("cannot classify intensity because max_value of %u is larger than %u\n", v,
                    65535);
    }
    return add<LASoperationClassifyIntensity>(
        scan, transform, LASoperationClassifyIntensity::BETWEEN, U16(u), U16(v), U8(c));
  }
  if (scan.is("move_ancient_to_extended_classification")) {
    return add<LASoperationMoveAncientToExtendedClassification>(scan, transform);
  }
  if (scan.is("copy_user_data_into_classification")) {
    return add<LASoperationCopyUserDataIntoClassification>(scan, transform);
  }
  if (scan.is("copy_intensity_into_classification")) {
    return add<LASoperationCopyIntensityIntoClassification>(scan, transform);
  }
  return Parsed::none;
}

Parsed parse_flags(OptionScan& scan, LAStransform& transform) {
  static const char* const options[7] = {"set_withheld_flag",        "set_synthetic_flag",
                                         "set_keypoint_flag",        "set_overlap_flag",
                                         "set_scan_direction_flag",  "set_edge_of_flight_line",
                                         "set_extended_overlap_flag"};
  static const Flag flags[7] = {FLAG_WITHHELD,       FLAG_SYNTHETIC, FLAG_KEYPOINT, FLAG_OVERLAP,
                                FLAG_SCAN_DIRECTION, FLAG_EDGE,      FLAG_OVERLAP};
  static const char* const words[6] = {"withheld flag",       "synthetic flag",
                                       "keypoint flag",       "overlap flag",
                                       "scan direction flag", "edge of flight line"};
  U32 u;
  for (int f = 0; f < 7; f++) {
    if (!scan.is(options[f])) continue;
    if (!scan.need(1, "value", true) || !scan.value(1, "%u", &u, "flag")) return Parsed::error;
    if (u > 1) {
      print_error("cannot set %s because value %u is larger than 1\n", words[flags[f]], u);
      return Parsed::error;
    }
    return add<LASoperationSetFlag>(scan, transform, flags[f], U8(u));
  }
  if (scan.is("set_scanner_channel") || scan.is("set_extended_scanner_channel")) {
    if (!scan.need(1, "value", true) || !scan.value(1, "%u", &u, "value")) return Parsed::error;
    if (u > 3) {
      print_error("cannot set scanner channel because value %u is larger than 3\n", u);
      return Parsed::error;
    }
    return add<LASoperationSetExtendedScannerChannel>(scan, transform, U8(u));
  }
  if (scan.is("copy_user_data_into_scanner_channel")) {
    return add<LASoperationCopyUserDataIntoScannerChannel>(scan, transform);
  }
  return Parsed::none;
}

Parsed parse_user_data(OptionScan& scan, LAStransform& transform) {
  U32 u, v;
  F32 a;
  if (scan.is("set_user_data")) {
    if (!scan.need(1, "value", true) || !scan.value(1, "%u", &u, "value")) return Parsed::error;
    if (u > 255) {
      print_error("cannot set user data because value %u is larger than %d\n", u, 255);
      return Parsed::error;
    }
    return add<LASoperationSetUserData>(scan, transform, U8(u));
  }
  if (scan.is("scale_user_data")) {
    if (!scan.need(1, "scale") || !scan.value(1, "%f", &a)) return Parsed::error;
    return add<LASoperationScaleUserData>(scan, transform, a);
  }
  if (scan.is("change_user_data_from_to")) {
    if (!scan.need(2, "from_value to_value") || !scan.value(1, "%u", &u, "from_value") ||
        !scan.value(2, "%u", &v, "to_value")) {
      return Parsed::error;
    }
    if (u > 255) {
      return refuse("cannot change user data because from_value %u is larger than %u\n", u, 255);
    }
    if (v > 255) {
      return refuse("cannot change user data because to_value %u is larger than %u\n", v, 255);
    }
    return add<LASoperationChangeUserDataFromTo>(scan, transform, U8(u), U8(v));
  }
  if (scan.is("map_user_data")) {
    if (!map_option(scan, transform, MAP_USER_DATA, 256,
                    "cannot '%s' needs text file with map but '%s' cannot be opened\n")) {
      return Parsed::error;
    }
    return Parsed::done;
  }
  if (scan.is("copy_classification_into_user_data")) {
    return add<LASoperationCopyClassificationIntoUserData>(scan, transform);
  }
  if (scan.is("copy_scanner_channel_into_user_data")) {
    return add<LASoperationCopyScannerChannelIntoUserData>(scan, transform);
  }
  return Parsed::none;
}

Parsed parse_point_source(OptionScan& scan, LAStransform& transform) {
  U32 u, v;
  if (scan.starts_with("set_point_source")) {
    if (!scan.need(1, "psid", true) || !scan.value(1, "%u", &u, "psid")) return Parsed::error;
    if (u > 65535) {
      print_error("cannot set point source ID because value %u is larger than %d\n", u, 65535);
      return Parsed::error;
    }
    return add<LASoperationSetPointSource>(scan, transform, U16(u));
  }
  if (scan.is("change_point_source_from_to")) {
    if (!scan.need(2, "from_value to_value") || !scan.value(1, "%u", &u, "from_value") ||
        !scan.value(2, "%u", &v, "to_value")) {
      return Parsed::error;
    }
    if (u > 65535) {
      return refuse("cannot change point source ID because from_value %u is larger than %u\n", u,
                    65535);
    }
    if (v > 65535) {
      return refuse("cannot change point source ID because to_value %u is larger than %u\n", v,
                    65535);
    }
    return add<LASoperationChangePointSourceFromTo>(scan, transform, U16(u), U16(v));
  }
  if (scan.is("map_point_source")) {
    if (!map_option(scan, transform, MAP_POINT_SOURCE, 65536,
                    "'%s' needs text file with map but '%s' cannot be opened\n")) {
      return Parsed::error;
    }
    return Parsed::done;
  }
  if (scan.is("copy_user_data_into_point_source")) {
    return add<LASoperationCopyUserDataIntoPointSource>(scan, transform);
  }
  if (scan.is("copy_scanner_channel_into_point_source")) {
    return add<LASoperationCopyScannerChannelIntoPointSource>(scan, transform);
  }
  if (scan.is("copy_classification_into_point_source")) {
    return add<LASoperationCopyClassificationIntoPointSource>(scan, transform);
  }
  if (scan.is("merge_scanner_channel_into_point_source")) {
    return add<LASoperationMergeScannerChannelIntoPointSource>(scan, transform);
  }
  if (scan.is("split_scanner_channel_from_point_source")) {
    return add<LASoperationSplitScannerChannelFromPointSource>(scan, transform);
  }
  if (scan.is("bin_Z_into_point_source")) {
    if (!scan.need(1, "bin_size") || !scan.value(1, "%u", &u, "bin_size")) return Parsed::error;
    // Kept as a signed 32-bit divisor: above 2147483647 it would turn negative.
    if (u == 0 || u > 2147483647u) {
      print_error("%u is no valid bin_size for '%s'\n", u, scan.option());
      return Parsed::error;
    }
    return add<LASoperationBinZintoPointSource>(scan, transform, I32(u));
  }
  if (scan.is("bin_abs_scan_angle_into_point_source")) {
    F32 size;
    if (!scan.need(1, "bin_size") || !scan.value(1, "%f", &size)) return Parsed::error;
    if (!(size > 0.0f)) {
      print_error("%f is no valid bin_size for '%s'\n", double(size), scan.option());
      return Parsed::error;
    }
    return add<LASoperationBinAbsScanAngleIntoPointSource>(scan, transform, size);
  }
  if (scan.is("bin_gps_time_into_point_source")) return parse_bin_gps_time(scan, transform, false);
  return Parsed::none;
}

}  // namespace

namespace transform_detail {

std::unique_ptr<LASoperation> make_set_point_source(U16 value) {
  return std::unique_ptr<LASoperation>(new LASchained<LASoperationSetPointSource>(value));
}

Parsed parse_point_option(OptionScan& scan, LAStransform& transform) {
  Parsed (*const families[])(OptionScan&, LAStransform&) = {
      parse_intensity, parse_scan_angle, parse_returns,     parse_classification,
      parse_flags,     parse_user_data,  parse_point_source};
  for (auto family : families) {
    const Parsed parsed = family(scan, transform);
    if (parsed != Parsed::none) return parsed;
  }
  if (scan.is("bin_gps_time_into_intensity")) return parse_bin_gps_time(scan, transform, true);
  return Parsed::none;
}

}  // namespace transform_detail
