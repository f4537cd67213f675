// Operations on GPS time, colours and the wave packet.
#include <cmath>
#include <cstring>

#include "las/core/messages.hpp"
#include "las/transform/lasoperation_common.hpp"

using namespace transform_detail;

namespace {

constexpr I64 SECONDS_PER_WEEK = 604800;
constexpr I64 ADJUSTED_OFFSET = 1000000000;  // adjusted standard GPS time = GPS time - 1e9

// ---- GPS time ----

class LASoperationSetGpsTime : public LASoperation {
 public:
  explicit LASoperationSetGpsTime(F64 time) : time_(time) {}
  const char* name() const override { return "set_gps_time"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_lf(t, time_);
    return t;
  }
  void transform(LASpoint* p) override { p->gps_time = time_; }

 private:
  F64 time_;
};

class LASoperationTranslateGpsTime : public LASoperation {
 public:
  explicit LASoperationTranslateGpsTime(F64 offset) : offset_(offset) {}
  const char* name() const override { return "translate_gps_time"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_lf(t, offset_);
    return t;
  }
  U32 field_mask() const override { return MASK_GPS_TIME; }
  void transform(LASpoint* p) override { p->gps_time += offset_; }

 private:
  F64 offset_;
};

// Adjusted standard GPS time into seconds of the GPS week.
class LASoperationConvertAdjustedGpsToWeek : public LASoperation {
 public:
  const char* name() const override { return "adjusted_to_week"; }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return MASK_GPS_TIME; }
  void transform(LASpoint* p) override {
    const F64 week = p->gps_time / F64(SECONDS_PER_WEEK) + 1653.4391534391534;
    // A time whose week is no 32-bit number (or NaN) is no adjusted time; leave it.
    if (!(week > -2147483649.0 && week < 2147483648.0)) return;
    // In 64 bits: week * 604800 does not fit in 32.
    const I64 start = I64(I32(week)) * SECONDS_PER_WEEK - ADJUSTED_OFFSET;
    p->gps_time -= F64(start);
  }
};

class LASoperationConvertWeekToAdjustedGps : public LASoperation {
 public:
  explicit LASoperationConvertWeekToAdjustedGps(U32 week)
      : week_(week), offset_(I64(week) * SECONDS_PER_WEEK - ADJUSTED_OFFSET) {}
  const char* name() const override { return "week_to_adjusted"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, week_);
    return t;
  }
  U32 field_mask() const override { return MASK_GPS_TIME; }
  void transform(LASpoint* p) override { p->gps_time += F64(offset_); }

 private:
  U32 week_;
  I64 offset_;
};

// ---- colours ----

class LASoperationSetRGB : public LASoperation {
 public:
  LASoperationSetRGB(U16 r, U16 g, U16 b) : rgb_{r, g, b} {}
  const char* name() const override { return "set_RGB"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    for (U16 v : rgb_) put_int(t, v);
    return t;
  }
  void transform(LASpoint* p) override { memcpy(p->rgb, rgb_, sizeof(rgb_)); }

 private:
  U16 rgb_[3];
};

// One class serves classes below 32 (legacy field) and above (extended).
class LASoperationSetRGBofClass : public LASoperation {
 public:
  LASoperationSetRGBofClass(U8 c, U16 r, U16 g, U16 b) : class_(c), rgb_{r, g, b} {}
  const char* name() const override { return "set_RGB_of_class"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, class_);
    for (U16 v : rgb_) put_int(t, v);
    return t;
  }
  U32 field_mask() const override { return MASK_CLASSIFICATION; }
  void transform(LASpoint* p) override {
    if (has_class(p, class_)) memcpy(p->rgb, rgb_, sizeof(rgb_));
  }

 private:
  U8 class_;
  U16 rgb_[3];
};

class LASoperationScaleRGB : public LASoperation {
 public:
  LASoperationScaleRGB(F32 r, F32 g, F32 b) : scale_{r, g, b} {}
  const char* name() const override { return "scale_RGB"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    for (F32 v : scale_) put_g(t, v);
    return t;
  }
  U32 field_mask() const override { return MASK_RGB; }
  void transform(LASpoint* p) override {
    for (int c = 0; c < 3; c++) p->rgb[c] = clamp16(F32(p->rgb[c]) * scale_[c]);
  }

 private:
  F32 scale_[3];
};

class LASoperationScaleRGBstep : public LASoperation {
 public:
  enum Kind { DOWN, UP, TO_8BIT, TO_16BIT };
  explicit LASoperationScaleRGBstep(Kind kind) : kind_(kind) {}
  const char* name() const override {
    static const char* const names[4] = {"scale_RGB_down", "scale_RGB_up", "scale_RGB_to_8bit",
                                         "scale_RGB_to_16bit"};
    return names[kind_];
  }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return MASK_RGB; }
  void transform(LASpoint* p) override {
    U16* rgb = p->rgb;
    switch (kind_) {
      case DOWN:
        for (int c = 0; c < 3; c++) rgb[c] = U16(rgb[c] >> 8);
        break;
      case UP:
        for (int c = 0; c < 3; c++) rgb[c] = U16(rgb[c] << 8);
        break;
      case TO_8BIT:
        if (rgb[0] >= 256 || rgb[1] >= 256 || rgb[2] >= 256) {
          for (int c = 0; c < 3; c++) rgb[c] = U16(rgb[c] >> 8);
        }
        break;
      case TO_16BIT:
        if (rgb[0] < 256 && rgb[1] < 256 && rgb[2] < 256) {
          for (int c = 0; c < 3; c++) rgb[c] = U16(rgb[c] << 8);
        }
        break;
    }
  }

 private:
  Kind kind_;
};

class LASoperationSwitchChannels : public LASoperation {
 public:
  LASoperationSwitchChannels(int a, int b) : a_(a), b_(b) {}
  const char* name() const override {
    return a_ == 1 ? "switch_G_B" : b_ == 1 ? "switch_R_G" : "switch_R_B";
  }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return MASK_RGB; }
  void transform(LASpoint* p) override { std::swap(p->rgb[a_], p->rgb[b_]); }

 private:
  int a_, b_;
};

class LASoperationCopyIntoNIR : public LASoperation {
 public:
  // source 0..2 is R, G, B; 3 is the intensity.
  explicit LASoperationCopyIntoNIR(int source) : source_(source) {}
  const char* name() const override {
    static const char* const names[4] = {"copy_R_into_NIR", "copy_G_into_NIR", "copy_B_into_NIR",
                                         "copy_intensity_into_NIR"};
    return names[source_];
  }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return source_ == 3 ? MASK_INTENSITY : MASK_RGB; }
  void transform(LASpoint* p) override {
    p->rgb[3] = source_ == 3 ? p->intensity : p->rgb[source_];
  }

 private:
  int source_;
};

class LASoperationSwitchRGBItoCIR : public LASoperation {
 public:
  const char* name() const override { return "switch_RGBI_into_CIR"; }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return MASK_RGB | MASK_NIR; }
  void transform(LASpoint* p) override {
    const U16 r = p->rgb[0], g = p->rgb[1];
    p->rgb[0] = p->rgb[3];
    p->rgb[1] = r;
    p->rgb[2] = g;
  }
};

class LASoperationSwitchRGBIntensitytoCIR : public LASoperation {
 public:
  const char* name() const override { return "switch_RGB_intensity_into_CIR"; }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return MASK_RGB | MASK_INTENSITY; }
  void transform(LASpoint* p) override {
    const U16 r = p->rgb[0], g = p->rgb[1];
    p->rgb[0] = p->intensity;
    p->rgb[1] = r;
    p->rgb[2] = g;
  }
};

const char* const channel_words[4] = {"red", "green", "blue", "nir"};

class LASoperationMultiplyScaledIntensityIntoRGB : public LASoperation {
 public:
  LASoperationMultiplyScaledIntensityIntoRGB(int channel, F32 factor)
      : channel_(channel), factor_(factor) {}
  const char* name() const override {
    static const char* const names[4] = {
        "multiply_scaled_intensity_into_RGB_red", "multiply_scaled_intensity_into_RGB_green",
        "multiply_scaled_intensity_into_RGB_blue", "multiply_scaled_intensity_into_RGB_nir"};
    return names[channel_];
  }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_f(t, factor_);
    return t;
  }
  U32 field_mask() const override { return MASK_RGB | MASK_INTENSITY; }
  void transform(LASpoint* p) override {
    p->rgb[channel_] = clamp16(F32(p->intensity) * factor_ * F32(p->rgb[channel_]));
  }

 private:
  int channel_;
  F32 factor_;
};

// ---- wave packet ----

class LASoperationFlipWaveformDirection : public LASoperation {
 public:
  const char* name() const override { return "flip_waveform_direction"; }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return MASK_WAVEPACKET; }
  void transform(LASpoint* p) override {
    // x(t), y(t), z(t) are the last three floats of the 29-byte record.
    for (int offset = 17; offset < 29; offset += 4) {
      F32 v;
      memcpy(&v, p->wave_packet + offset, 4);
      v = -v;
      memcpy(p->wave_packet + offset, &v, 4);
    }
  }
};

// ---- parsing ----

Parsed parse_multiply(OptionScan& scan, LAStransform& transform) {
  static const char* const kinds[2] = {"multiply_scaled_intensity_into_RGB_",
                                       "multiply_divided_intensity_into_RGB_"};
  for (int k = 0; k < 2; k++) {
    if (!scan.starts_with(kinds[k])) continue;
    const char* word = scan.option() + 1 + strlen(kinds[k]);
    int channel = -1;
    for (int c = 0; c < 4; c++) {
      if (strcmp(word, channel_words[c]) == 0) channel = c;
    }
    if (channel < 0) return Parsed::none;
    const char* what = k == 0 ? "scale" : "divisor";
    F32 value;
    if (!scan.need(1, what) || !scan.value(1, "%f", &value)) return Parsed::error;
    if (value == 0.0f) {
      print_error("'%s' needs 1 argument: scale but '%g' is no valid %s\n", scan.option(),
                  double(value), what);
      return Parsed::error;
    }
    return add<LASoperationMultiplyScaledIntensityIntoRGB>(scan, transform, channel,
                                                           k == 0 ? value : 1.0f / value);
  }
  return Parsed::none;
}

Parsed parse_rgb(OptionScan& scan, LAStransform& transform) {
  U32 v[4];
  F32 f[3];
  if (scan.is("set_RGB")) {
    if (!scan.need(3, "R G B") || !scan.value(1, "%u", &v[0], "R") ||
        !scan.value(2, "%u", &v[1], "G") || !scan.value(3, "%u", &v[2], "B")) {
      return Parsed::error;
    }
    static const char* const letters[3] = {"R", "G", "B"};
    for (int c = 0; c < 3; c++) {
      if (v[c] > 65535) {
        print_error("cannot set RGB because %s is %u, which is larger than %u\n", letters[c], v[c],
                    65535u);
        return Parsed::error;
      }
    }
    return add<LASoperationSetRGB>(scan, transform, U16(v[0]), U16(v[1]), U16(v[2]));
  }
  if (scan.is("set_RGB_of_class")) {
    if (!scan.need(4, "classification R G B") || !scan.value(1, "%u", &v[0], "classification") ||
        !scan.value(2, "%u", &v[1], "R") || !scan.value(3, "%u", &v[2], "G") ||
        !scan.value(4, "%u", &v[3], "B")) {
      return Parsed::error;
    }
    if (v[0] > 255) {
      print_error("cannot set RGB because classification is %u, which is larger than %u\n", v[0],
                  255u);
      return Parsed::error;
    }
    static const char* const letters[3] = {"R", "G", "B"};
    for (int c = 0; c < 3; c++) {
      if (v[c + 1] > 65535) {
        print_error("cannot set RGB because %s is %u, which is larger than %u\n", letters[c],
                    v[c + 1], 65535u);
        return Parsed::error;
      }
    }
    return add<LASoperationSetRGBofClass>(scan, transform, U8(v[0]), U16(v[1]), U16(v[2]),
                                          U16(v[3]));
  }
  if (scan.is("scale_RGB") || scan.is("scale_rgb")) {
    if (!scan.need(3, "scale_R scale_G scale_B") || !scan.value(1, "%f", &f[0]) ||
        !scan.value(2, "%f", &f[1]) || !scan.value(3, "%f", &f[2])) {
      return Parsed::error;
    }
    return add<LASoperationScaleRGB>(scan, transform, f[0], f[1], f[2]);
  }
  static const char* const steps[8] = {
      "scale_RGB_down",    "scale_rgb_down",    "scale_RGB_up",       "scale_rgb_up",
      "scale_RGB_to_8bit", "scale_rgb_to_8bit", "scale_RGB_to_16bit", "scale_rgb_to_16bit"};
  for (int s = 0; s < 8; s++) {
    if (scan.is(steps[s])) {
      return add<LASoperationScaleRGBstep>(scan, transform, LASoperationScaleRGBstep::Kind(s / 2));
    }
  }
  if (scan.is("switch_R_G")) return add<LASoperationSwitchChannels>(scan, transform, 0, 1);
  if (scan.is("switch_R_B")) return add<LASoperationSwitchChannels>(scan, transform, 0, 2);
  if (scan.is("switch_G_B")) return add<LASoperationSwitchChannels>(scan, transform, 1, 2);
  static const char* const into_nir[4] = {"copy_R_into_NIR", "copy_G_into_NIR", "copy_B_into_NIR",
                                          "copy_intensity_into_NIR"};
  for (int s = 0; s < 4; s++) {
    if (scan.is(into_nir[s])) return add<LASoperationCopyIntoNIR>(scan, transform, s);
  }
  if (scan.is("switch_RGBI_into_CIR")) return add<LASoperationSwitchRGBItoCIR>(scan, transform);
  if (scan.is("switch_RGB_intensity_into_CIR")) {
    return add<LASoperationSwitchRGBIntensitytoCIR>(scan, transform);
  }
  return parse_multiply(scan, transform);
}

Parsed parse_time(OptionScan& scan, LAStransform& transform) {
  F64 a;
  if (scan.is("set_gps_time")) {
    if (!scan.need(1, "gps_time") || !scan.value(1, "%lf", &a)) return Parsed::error;
    return add<LASoperationSetGpsTime>(scan, transform, a);
  }
  if (scan.is("translate_gps_time")) {
    if (!scan.need(1, "offset") || !scan.value(1, "%lf", &a)) return Parsed::error;
    return add<LASoperationTranslateGpsTime>(scan, transform, a);
  }
  if (scan.is("adjusted_to_week"))
    return add<LASoperationConvertAdjustedGpsToWeek>(scan, transform);
  if (scan.is("week_to_adjusted")) {
    U32 week;
    if (!scan.need(1, "week") || !scan.value(1, "%u", &week, "week")) return Parsed::error;
    return add<LASoperationConvertWeekToAdjustedGps>(scan, transform, week);
  }
  if (scan.is("flip_waveform_direction")) {
    return add<LASoperationFlipWaveformDirection>(scan, transform);
  }
  return Parsed::none;
}

}  // namespace

namespace transform_detail {

Parsed parse_time_color_option(OptionScan& scan, LAStransform& transform) {
  const Parsed parsed = parse_time(scan, transform);
  if (parsed != Parsed::none) return parsed;
  return parse_rgb(scan, transform);
}

}  // namespace transform_detail
