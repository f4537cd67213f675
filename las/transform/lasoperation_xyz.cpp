// Operations on the scaled and the raw integer coordinates.
#include <cmath>
#include <cstdio>

#include "las/core/messages.hpp"
#include "las/core/platform.hpp"
#include "las/transform/lasoperation_common.hpp"

using namespace transform_detail;

namespace {

constexpr F64 ARC_SECOND = 4.84813681109536e-6;  // radians

// x, y or z as one axis, so that one class serves all three.
enum Axis { AXIS_X, AXIS_Y, AXIS_Z };

inline F64 get_axis(const LASpoint* p, Axis a) {
  return a == AXIS_X ? p->get_x() : a == AXIS_Y ? p->get_y() : p->get_z();
}
inline I32& raw_axis(LASpoint* p, Axis a) {
  return a == AXIS_X ? p->X : a == AXIS_Y ? p->Y : p->Z;
}

// The axis is a template argument so that the per-point code does not
// branch on it.
class LASoperationStoreAxis : public LASoperation {
 protected:
  template <Axis A>
  void store(LASpoint* p, F64 v) {
    if (A == AXIS_X) {
      store_x(p, v);
    } else if (A == AXIS_Y) {
      store_y(p, v);
    } else {
      store_z(p, v);
    }
  }
};

class LASoperationTranslateX : public LASoperation {
 public:
  explicit LASoperationTranslateX(F64 offset) : offset_(offset) {}
  const char* name() const override { return "translate_x"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_lf(t, offset_);
    return t;
  }
  void transform(LASpoint* p) override { store_x(p, p->get_x() + offset_); }

 private:
  F64 offset_;
};

class LASoperationTranslateY : public LASoperation {
 public:
  explicit LASoperationTranslateY(F64 offset) : offset_(offset) {}
  const char* name() const override { return "translate_y"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_lf(t, offset_);
    return t;
  }
  void transform(LASpoint* p) override { store_y(p, p->get_y() + offset_); }

 private:
  F64 offset_;
};

class LASoperationTranslateZ : public LASoperation {
 public:
  explicit LASoperationTranslateZ(F64 offset) : offset_(offset) {}
  const char* name() const override { return "translate_z"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_lf(t, offset_);
    return t;
  }
  U32 field_mask() const override { return MASK_Z; }
  void transform(LASpoint* p) override { store_z(p, p->get_z() + offset_); }

 private:
  F64 offset_;
};

// One value per axis, written back as "-name x y z".
class LASoperationPerAxis : public LASoperation {
 public:
  LASoperationPerAxis(F64 x, F64 y, F64 z) : x_(x), y_(y), z_(z) {}
  std::string get_command() const override {
    std::string t = command_word(name());
    put_lf(t, x_);
    put_lf(t, y_);
    put_lf(t, z_);
    return t;
  }
  U32 field_mask() const override { return MASK_Z; }

 protected:
  F64 x_, y_, z_;
};

// Also what a Helmert transform of three parameters becomes.
class LASoperationTranslateXYZ : public LASoperationPerAxis {
 public:
  using LASoperationPerAxis::LASoperationPerAxis;
  const char* name() const override { return "translate_xyz"; }
  // z first: later operations are the likeliest to read it (a scaling or
  // classification by z), and this has it stored soonest.
  void transform(LASpoint* p) override {
    store_z(p, p->get_z() + z_);
    store_xy(p, p->get_x() + x_, p->get_y() + y_);
  }
};

template <Axis A>
class LASoperationScaleAxis : public LASoperationStoreAxis {
 public:
  explicit LASoperationScaleAxis(F64 scale) : scale_(scale) {}
  const char* name() const override {
    return A == AXIS_X ? "scale_x" : A == AXIS_Y ? "scale_y" : "scale_z";
  }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_lf(t, scale_);
    return t;
  }
  U32 field_mask() const override { return A == AXIS_Z ? MASK_Z : 0; }
  void transform(LASpoint* p) override { store<A>(p, get_axis(p, A) * scale_); }

 private:
  F64 scale_;
};

class LASoperationScaleXYZ : public LASoperationPerAxis {
 public:
  using LASoperationPerAxis::LASoperationPerAxis;
  const char* name() const override { return "scale_xyz"; }
  void transform(LASpoint* p) override {
    store_z(p, p->get_z() * z_);  // first, as for -translate_xyz
    store_xy(p, p->get_x() * x_, p->get_y() * y_);
  }
};

template <Axis A>
class LASoperationTranslateThenScaleAxis : public LASoperationStoreAxis {
 public:
  LASoperationTranslateThenScaleAxis(F64 offset, F64 scale) : offset_(offset), scale_(scale) {}
  const char* name() const override {
    return A == AXIS_X   ? "translate_then_scale_x"
           : A == AXIS_Y ? "translate_then_scale_y"
                         : "translate_then_scale_z";
  }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_lf(t, offset_);
    put_lf(t, scale_);
    return t;
  }
  U32 field_mask() const override { return A == AXIS_Z ? MASK_Z : 0; }
  void transform(LASpoint* p) override { store<A>(p, (get_axis(p, A) + offset_) * scale_); }

 private:
  F64 offset_, scale_;
};

// Counter-clockwise rotation of one coordinate plane about a centre.
template <Axis U, Axis V>
class LASoperationRotate : public LASoperationStoreAxis {
 public:
  LASoperationRotate(F64 angle, F64 center_u, F64 center_v)
      : angle_(angle), center_u_(center_u), center_v_(center_v) {
    const F64 radians = angle * (3.14159265358979323846 / 180.0);
    cos_ = cos(radians);
    sin_ = sin(radians);
  }
  const char* name() const override {
    return U == AXIS_Y ? "rotate_yz" : V == AXIS_Y ? "rotate_xy" : "rotate_xz";
  }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_lf(t, angle_);
    put_lf(t, center_u_);
    put_lf(t, center_v_);
    return t;
  }
  U32 field_mask() const override { return V == AXIS_Z ? MASK_Z : 0; }
  void transform(LASpoint* p) override {
    const F64 u = get_axis(p, U) - center_u_;
    const F64 v = get_axis(p, V) - center_v_;
    const F64 u_new = u * cos_ - v * sin_ + center_u_;
    const F64 v_new = v * cos_ + u * sin_ + center_v_;
    if (U == AXIS_X && V == AXIS_Y) {
      store_xy(p, u_new, v_new);
    } else {
      store<U>(p, u_new);
      store<V>(p, v_new);
    }
  }

 private:
  F64 angle_, center_u_, center_v_;
  F64 cos_, sin_;
};

class LASoperationTransformHelmert : public LASoperation {
 public:
  explicit LASoperationTransformHelmert(const F64 values[7]) {
    for (int i = 0; i < 7; i++) values_[i] = values[i];
    dx_ = values[0];
    dy_ = values[1];
    dz_ = values[2];
    rx_ = values[3] * ARC_SECOND;
    ry_ = values[4] * ARC_SECOND;
    rz_ = values[5] * ARC_SECOND;
    m_ = 1.0 + values[6] * 1e-6;
  }
  const char* name() const override { return "transform_helmert"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    for (int i = 0; i < 7; i++) {
      t += format_double(values_[i], "%lf");
      t += (i < 6) ? "," : " ";
    }
    return t;
  }
  U32 field_mask() const override { return MASK_Z; }
  void transform(LASpoint* p) override {
    const F64 x = p->get_x(), y = p->get_y(), z = p->get_z();
    store_xy(p, m_ * (x - rz_ * y + ry_ * z) + dx_, m_ * (rz_ * x + y - rx_ * z) + dy_);
    store_z(p, m_ * (-ry_ * x + rx_ * y + z) + dz_);
  }

 private:
  F64 values_[7];
  F64 dx_, dy_, dz_, rx_, ry_, rz_, m_;
};

class LASoperationTransformAffine : public LASoperation {
 public:
  explicit LASoperationTransformAffine(const F64 values[4]) {
    for (int i = 0; i < 4; i++) values_[i] = values[i];
    const F64 theta = values[1] * ARC_SECOND;
    k_ = values[0];
    cos_ = cos(theta);
    sin_ = sin(theta);
    tx_ = values[2];
    ty_ = values[3];
  }
  const char* name() const override { return "transform_affine"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    for (int i = 0; i < 4; i++) {
      t += format_double(values_[i], "%lf");
      t += (i < 3) ? "," : " ";
    }
    return t;
  }
  void transform(LASpoint* p) override {
    const F64 x = p->get_x(), y = p->get_y();
    store_xy(p, k_ * (x * cos_ + y * sin_) + tx_, k_ * (y * cos_ - x * sin_) + ty_);
  }

 private:
  F64 values_[4];
  F64 k_, cos_, sin_, tx_, ty_;
};

class LASoperationClampZ : public LASoperation {
 public:
  LASoperationClampZ(F64 below, F64 above) : below_(below), above_(above) {}
  const char* name() const override { return "clamp_z"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_lf(t, below_);
    put_lf(t, above_);
    return t;
  }
  U32 field_mask() const override { return MASK_Z; }
  void transform(LASpoint* p) override {
    const F64 z = p->get_z();
    if (z < below_) {
      store_z(p, below_);
    } else if (z > above_) {
      store_z(p, above_);
    }
  }

 private:
  F64 below_, above_;
};

class LASoperationClampZbelow : public LASoperation {
 public:
  explicit LASoperationClampZbelow(F64 below) : below_(below) {}
  const char* name() const override { return "clamp_z_below"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_lf(t, below_);
    return t;
  }
  U32 field_mask() const override { return MASK_Z; }
  void transform(LASpoint* p) override {
    if (p->get_z() < below_) store_z(p, below_);
  }

 private:
  F64 below_;
};

class LASoperationClampZabove : public LASoperation {
 public:
  explicit LASoperationClampZabove(F64 above) : above_(above) {}
  const char* name() const override { return "clamp_z_above"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_lf(t, above_);
    return t;
  }
  U32 field_mask() const override { return MASK_Z; }
  void transform(LASpoint* p) override {
    if (p->get_z() > above_) store_z(p, above_);
  }

 private:
  F64 above_;
};

class LASoperationCopyIntensityIntoZ : public LASoperation {
 public:
  const char* name() const override { return "copy_intensity_into_z"; }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return MASK_INTENSITY; }
  void transform(LASpoint* p) override { store_z(p, p->intensity); }
};

class LASoperationCopyUserDataIntoZ : public LASoperation {
 public:
  const char* name() const override { return "copy_user_data_into_z"; }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return MASK_USER_DATA; }
  void transform(LASpoint* p) override { store_z(p, p->user_data); }
};

// Exchanges two stored integers without rescaling.
class LASoperationSwitch : public LASoperation {
 public:
  LASoperationSwitch(Axis a, Axis b) : a_(a), b_(b) {}
  const char* name() const override {
    return a_ == AXIS_Y ? "switch_y_z" : b_ == AXIS_Y ? "switch_x_y" : "switch_x_z";
  }
  std::string get_command() const override { return command_word(name()); }
  U32 field_mask() const override { return b_ == AXIS_Z ? MASK_Z : 0; }
  void transform(LASpoint* p) override { std::swap(raw_axis(p, a_), raw_axis(p, b_)); }

 private:
  Axis a_, b_;
};

// Raw integer arithmetic wraps in 32 bits and counts nothing.
class LASoperationTranslateRaw : public LASoperation {
 public:
  LASoperationTranslateRaw(Axis axis, I32 offset) : axis_(axis), offset_(offset) {}
  const char* name() const override {
    return axis_ == AXIS_X   ? "translate_raw_x"
           : axis_ == AXIS_Y ? "translate_raw_y"
                             : "translate_raw_z";
  }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, offset_);
    return t;
  }
  U32 field_mask() const override { return axis_ == AXIS_Z ? MASK_Z : 0; }
  void transform(LASpoint* p) override {
    I32& v = raw_axis(p, axis_);
    v = add_wrap(v, offset_);
  }

 private:
  Axis axis_;
  I32 offset_;
};

class LASoperationTranslateRawXYZ : public LASoperation {
 public:
  LASoperationTranslateRawXYZ(I32 x, I32 y, I32 z) : x_(x), y_(y), z_(z) {}
  const char* name() const override { return "translate_raw_xyz"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, x_);
    put_int(t, y_);
    put_int(t, z_);
    return t;
  }
  U32 field_mask() const override { return MASK_Z; }
  void transform(LASpoint* p) override {
    p->X = add_wrap(p->X, x_);
    p->Y = add_wrap(p->Y, y_);
    p->Z = add_wrap(p->Z, z_);
  }

 private:
  I32 x_, y_, z_;
};

// Jitters X and Y by up to the given raw amounts. The generator is reseeded
// with its own last draw, so a pass is reproducible after reset().
class LASoperationTranslateRawXYatRandom : public LASoperation {
 public:
  LASoperationTranslateRawXYatRandom(I32 max_x, I32 max_y) : max_x_(max_x), max_y_(max_y) {
    // Taken in 64 bits: the magnitude of -2147483648 and 2 * max + 1 do not fit in 32.
    abs_x_ = max_x < 0 ? -I64(max_x) : I64(max_x);
    abs_y_ = max_y < 0 ? -I64(max_y) : I64(max_y);
  }
  const char* name() const override { return "translate_raw_xy_at_random"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, max_x_);
    put_int(t, max_y_);
    return t;
  }
  void transform(LASpoint* p) override {
    Rand15 random(seed_);
    const U32 r = U32(random.next());
    seed_ = r;
    const I64 dx = I64(U64(r / 8) % U64(2 * abs_x_ + 1)) - abs_x_;
    const I64 dy = I64(U64(r / 64) % U64(2 * abs_y_ + 1)) - abs_y_;
    p->X = I32(U32(U64(I64(p->X) + dx)));
    p->Y = I32(U32(U64(I64(p->Y) + dy)));
  }
  // Only the seed starts again; there is nothing to count here.
  void reset() override { seed_ = 0; }

 private:
  I32 max_x_, max_y_;
  I64 abs_x_, abs_y_;
  U32 seed_ = 0;
};

class LASoperationClampRawZ : public LASoperation {
 public:
  LASoperationClampRawZ(I32 below, I32 above) : below_(below), above_(above) {}
  const char* name() const override { return "clamp_raw_z"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, below_);
    put_int(t, above_);
    return t;
  }
  U32 field_mask() const override { return MASK_Z; }
  void transform(LASpoint* p) override {
    if (p->Z < below_) {
      p->Z = below_;
    } else if (p->Z > above_) {
      p->Z = above_;
    }
  }

 private:
  I32 below_, above_;
};

// Reads "a,b,c,..." into at most max_count doubles. Every piece must be a
// whole number text; the count read is returned, -1 if a piece is bad.
int read_comma_list(const char* text, F64* values, int max_count) {
  int count = 0;
  const char* p = text;
  while (true) {
    if (count == max_count) return -1;
    int used = 0;
    if (sscanf(p, "%lf%n", &values[count], &used) != 1) return -1;
    count++;
    p += used;
    if (*p == '\0') return count;
    if (*p != ',') return -1;
    p++;
  }
}

bool one_double(OptionScan& scan, const char* name, F64* value) {
  return scan.need(1, name) && scan.value(1, "%lf", value);
}

template <Axis U, Axis V>
Parsed parse_rotation(OptionScan& scan, LAStransform& transform, const char* names) {
  F64 angle, cu, cv;
  if (!scan.need(3, names)) return Parsed::error;
  if (!scan.value(1, "%lf", &angle) || !scan.value(2, "%lf", &cu) || !scan.value(3, "%lf", &cv)) {
    return Parsed::error;
  }
  if (angle == 0.0) {
    print_error("'%s' needs 3 arguments: %s but %g is no valid angle\n", scan.option(), names,
                angle);
    return Parsed::error;
  }
  return add<LASoperationRotate<U, V>>(scan, transform, angle, cu, cv);
}

}  // namespace

namespace transform_detail {

Parsed parse_coordinate_option(OptionScan& scan, LAStransform& transform) {
  F64 a, b, c;
  I32 i, j, k;
  static const Axis axes[3] = {AXIS_X, AXIS_Y, AXIS_Z};
  static const char* const translate[3] = {"translate_x", "translate_y", "translate_z"};
  static const char* const scale[3] = {"scale_x", "scale_y", "scale_z"};
  static const char* const then_scale[3] = {"translate_then_scale_x", "translate_then_scale_y",
                                            "translate_then_scale_z"};
  static const char* const raw[3] = {"translate_raw_x", "translate_raw_y", "translate_raw_z"};

  for (int n = 0; n < 3; n++) {
    if (scan.is(translate[n])) {
      if (!one_double(scan, "offset", &a)) return Parsed::error;
      if (n == 0) return add<LASoperationTranslateX>(scan, transform, a);
      if (n == 1) return add<LASoperationTranslateY>(scan, transform, a);
      return add<LASoperationTranslateZ>(scan, transform, a);
    }
    if (scan.is(scale[n])) {
      if (!one_double(scan, "scale", &a)) return Parsed::error;
      if (n == 0) return add<LASoperationScaleAxis<AXIS_X>>(scan, transform, a);
      if (n == 1) return add<LASoperationScaleAxis<AXIS_Y>>(scan, transform, a);
      return add<LASoperationScaleAxis<AXIS_Z>>(scan, transform, a);
    }
    if (scan.is(then_scale[n])) {
      if (!scan.need(2, "offset scale") || !scan.value(1, "%lf", &a) || !scan.value(2, "%lf", &b)) {
        return Parsed::error;
      }
      if (n == 0) return add<LASoperationTranslateThenScaleAxis<AXIS_X>>(scan, transform, a, b);
      if (n == 1) return add<LASoperationTranslateThenScaleAxis<AXIS_Y>>(scan, transform, a, b);
      return add<LASoperationTranslateThenScaleAxis<AXIS_Z>>(scan, transform, a, b);
    }
    if (scan.is(raw[n])) {
      if (!scan.need(1, "raw_offset") || !scan.value(1, "%d", &i, "raw_offset")) {
        return Parsed::error;
      }
      return add<LASoperationTranslateRaw>(scan, transform, axes[n], i);
    }
  }
  if (scan.is("translate_xyz") || scan.is("scale_xyz")) {
    const bool is_translate = scan.is("translate_xyz");
    if (!scan.need(3, is_translate ? "offset_x offset_y offset_z" : "scale_x scale_y scale_z") ||
        !scan.value(1, "%lf", &a) || !scan.value(2, "%lf", &b) || !scan.value(3, "%lf", &c)) {
      return Parsed::error;
    }
    if (is_translate) return add<LASoperationTranslateXYZ>(scan, transform, a, b, c);
    return add<LASoperationScaleXYZ>(scan, transform, a, b, c);
  }
  if (scan.is("rotate_xy")) {
    return parse_rotation<AXIS_X, AXIS_Y>(scan, transform, "angle rot_center_x rot_center_y");
  }
  if (scan.is("rotate_xz")) {
    return parse_rotation<AXIS_X, AXIS_Z>(scan, transform, "angle rot_center_x rot_center_z");
  }
  if (scan.is("rotate_yz")) {
    return parse_rotation<AXIS_Y, AXIS_Z>(scan, transform, "angle rot_center_y rot_center_z");
  }
  if (scan.is("transform_helmert")) {
    if (!scan.need(1, "3 or 7 comma separated parameters")) return Parsed::error;
    F64 values[7];
    const int count = read_comma_list(scan.arg(1), values, 7);
    if (count == 3) {
      return add<LASoperationTranslateXYZ>(scan, transform, values[0], values[1], values[2]);
    }
    if (count == 7) {
      return add<LASoperationTransformHelmert>(scan, transform, static_cast<const F64*>(values));
    }
    print_error("'%s' needs 3 or 7 comma separated parameters as argument\n", scan.option());
    return Parsed::error;
  }
  if (scan.is("transform_affine")) {
    if (!scan.need(1, "4 comma separated parameters")) return Parsed::error;
    F64 values[4];
    if (read_comma_list(scan.arg(1), values, 4) != 4) {
      print_error("'%s' needs 4 comma separated parameters as argument\n", scan.option());
      return Parsed::error;
    }
    return add<LASoperationTransformAffine>(scan, transform, static_cast<const F64*>(values));
  }
  if (scan.is("clamp_z")) {
    if (!scan.need(2, "below above") || !scan.value(1, "%lf", &a) || !scan.value(2, "%lf", &b)) {
      return Parsed::error;
    }
    return add<LASoperationClampZ>(scan, transform, a, b);
  }
  if (scan.is("clamp_z_below")) {
    if (!one_double(scan, "below", &a)) return Parsed::error;
    return add<LASoperationClampZbelow>(scan, transform, a);
  }
  if (scan.is("clamp_z_above")) {
    if (!one_double(scan, "above", &a)) return Parsed::error;
    return add<LASoperationClampZabove>(scan, transform, a);
  }
  if (scan.is("copy_intensity_into_z")) {
    return add<LASoperationCopyIntensityIntoZ>(scan, transform);
  }
  if (scan.is("copy_user_data_into_z")) {
    return add<LASoperationCopyUserDataIntoZ>(scan, transform);
  }
  if (scan.is("switch_x_y")) {
    return add<LASoperationSwitch>(scan, transform, AXIS_X, AXIS_Y);
  }
  if (scan.is("switch_x_z")) {
    return add<LASoperationSwitch>(scan, transform, AXIS_X, AXIS_Z);
  }
  if (scan.is("switch_y_z")) {
    return add<LASoperationSwitch>(scan, transform, AXIS_Y, AXIS_Z);
  }
  if (scan.is("translate_raw_xyz")) {
    if (!scan.need(3, "raw_offset_x raw_offset_y raw_offset_z") ||
        !scan.value(1, "%d", &i, "raw_offset_x") || !scan.value(2, "%d", &j, "raw_offset_y") ||
        !scan.value(3, "%d", &k, "raw_offset_z")) {
      return Parsed::error;
    }
    return add<LASoperationTranslateRawXYZ>(scan, transform, i, j, k);
  }
  if (scan.is("translate_raw_xy_at_random")) {
    if (!scan.need(2, "max_raw_offset_x max_raw_offset_y") ||
        !scan.value(1, "%d", &i, "max_raw_offset_x") ||
        !scan.value(2, "%d", &j, "max_raw_offset_y")) {
      return Parsed::error;
    }
    return add<LASoperationTranslateRawXYatRandom>(scan, transform, i, j);
  }
  if (scan.is("clamp_raw_z")) {
    if (!scan.need(2, "below above") || !scan.value(1, "%d", &i, "below") ||
        !scan.value(2, "%d", &j, "above")) {
      return Parsed::error;
    }
    return add<LASoperationClampRawZ>(scan, transform, i, j);
  }
  return Parsed::none;
}

}  // namespace transform_detail
