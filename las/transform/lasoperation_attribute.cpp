// Operations that read or write the extra-bytes attributes.
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "las/core/lasattribute.hpp"
#include "las/core/messages.hpp"
#include "las/core/platform.hpp"
#include "las/transform/lasoperation_common.hpp"

using namespace transform_detail;

namespace {

template <typename T>
void store_as(U8* bytes, T v) {
  memcpy(bytes, &v, sizeof(T));
}

// Nearest integer of an integer type, clamped to its range; NaN gives 0.
template <typename T>
T integer_for(F64 v) {
  if (v != v) return 0;
  const F64 r = (v >= 0.0) ? v + 0.5 : v - 0.5;
  const F64 lowest = F64(std::numeric_limits<T>::min());
  const F64 highest = F64(std::numeric_limits<T>::max());
  if (r <= lowest) return std::numeric_limits<T>::min();
  if (r >= highest) return std::numeric_limits<T>::max();
  return T(r);
}

// Encodes a value the way get_value decodes it: offset and scale undone,
// integers rounded and kept within their type instead of wrapping.
void encode_value(const LASextraAttribute& attribute, F64 value, U8* bytes) {
  if (attribute.has_offset()) value -= attribute.offset[0];
  if (attribute.has_scale() && attribute.scale[0] != 0.0) value /= attribute.scale[0];
  switch (attribute.data_type == 0 ? 0 : (attribute.data_type - 1) % 10) {
    case 0:
      store_as(bytes, integer_for<U8>(value));
      break;
    case 1:
      store_as(bytes, integer_for<I8>(value));
      break;
    case 2:
      store_as(bytes, integer_for<U16>(value));
      break;
    case 3:
      store_as(bytes, integer_for<I16>(value));
      break;
    case 4:
      store_as(bytes, integer_for<U32>(value));
      break;
    case 5:
      store_as(bytes, integer_for<I32>(value));
      break;
    case 6:
      store_as(bytes, integer_for<U64>(value));
      break;
    case 7:
      store_as(bytes, integer_for<I64>(value));
      break;
    case 8: {
      F32 f;
      if (value != value) {
        f = F32(value);
      } else if (value > FLT_MAX) {
        f = HUGE_VALF;
      } else if (value < -FLT_MAX) {
        f = -HUGE_VALF;
      } else {
        f = F32(value);
      }
      store_as(bytes, f);
      break;
    }
    default:
      store_as(bytes, value);
  }
}

}  // namespace

namespace transform_detail {

F64 get_attribute(const LASpoint* point, U32 index) {
  const LASattributeSet* set = point->attribute_set;
  if (!set || index >= U32(set->number_attributes)) return 0.0;
  return set->get_attribute_value(I32(index), point->extra_bytes.data(),
                                  I32(point->extra_bytes.size()));
}

void set_attribute(LASpoint* point, U32 index, F64 value) {
  const LASattributeSet* set = point->attribute_set;
  if (!set || index >= U32(set->number_attributes)) return;
  const LASextraAttribute& attribute = set->attributes[index];
  const I32 start = set->attribute_starts[index];
  const I32 size = set->attribute_sizes[index];
  const I32 type = attribute.data_type == 0 ? 0 : (attribute.data_type - 1) % 10;
  static const I32 type_sizes[10] = {1, 1, 2, 2, 4, 4, 8, 8, 4, 8};
  // The bytes of one value must lie inside the point's extra bytes.
  if (start < 0 || size < type_sizes[type] ||
      I64(start) + type_sizes[type] > I64(point->extra_bytes.size())) {
    return;
  }
  encode_value(attribute, value, point->extra_bytes.data() + start);
}

}  // namespace transform_detail

namespace {

enum Axis { AXIS_X, AXIS_Y, AXIS_Z };

class LASoperationCopyAttributeIntoAxis : public LASoperation {
 public:
  LASoperationCopyAttributeIntoAxis(Axis axis, U32 index) : axis_(axis), index_(index) {}
  const char* name() const override {
    return axis_ == AXIS_X   ? "copy_attribute_into_x"
           : axis_ == AXIS_Y ? "copy_attribute_into_y"
                             : "copy_attribute_into_z";
  }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, index_);
    return t;
  }
  U32 field_mask() const override { return MASK_ATTRIBUTES; }
  void transform(LASpoint* p) override {
    const F64 v = get_attribute(p, index_);
    if (axis_ == AXIS_X) {
      store_x(p, v);
    } else if (axis_ == AXIS_Y) {
      store_y(p, v);
    } else {
      store_z(p, v);
    }
  }

 private:
  Axis axis_;
  U32 index_;
};

// z + scale * attribute; these two store without counting overflows.
class LASoperationAddAttributeToZ : public LASoperation {
 public:
  LASoperationAddAttributeToZ(U32 index, bool scaled, F32 scale)
      : index_(index), scaled_(scaled), scale_(scale) {}
  const char* name() const override {
    return scaled_ ? "add_scaled_attribute_to_z" : "add_attribute_to_z";
  }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, index_);
    if (scaled_) put_f(t, scale_);
    return t;
  }
  U32 field_mask() const override { return MASK_ATTRIBUTES | MASK_Z; }
  void transform(LASpoint* p) override {
    const F64 v = get_attribute(p, index_);
    p->set_z(p->get_z() + (scaled_ ? scale_ * v : v));
  }

 private:
  U32 index_;
  bool scaled_;
  F32 scale_;
};

class LASoperationCopyAttributeIntoIntensity : public LASoperation {
 public:
  explicit LASoperationCopyAttributeIntoIntensity(U32 index) : index_(index) {}
  const char* name() const override { return "copy_attribute_into_intensity"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, index_);
    return t;
  }
  U32 field_mask() const override { return MASK_ATTRIBUTES; }
  void transform(LASpoint* p) override { p->intensity = clamp16(get_attribute(p, index_)); }

 private:
  U32 index_;
};

class LASoperationClassifyAttribute : public LASoperation {
 public:
  enum Kind { BELOW, ABOVE, BETWEEN };
  LASoperationClassifyAttribute(Kind kind, U32 index, F64 min, F64 max, U8 c)
      : kind_(kind), index_(index), min_(min), max_(max), class_(c) {}
  const char* name() const override {
    return kind_ == BELOW   ? "classify_attribute_below_as"
           : kind_ == ABOVE ? "classify_attribute_above_as"
                            : "classify_attribute_between_as";
  }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, index_);
    if (kind_ != ABOVE) put_lf(t, kind_ == BELOW ? max_ : min_);
    if (kind_ != BELOW) put_lf(t, kind_ == ABOVE ? min_ : max_);
    put_int(t, class_);
    return t;
  }
  U32 field_mask() const override { return MASK_ATTRIBUTES; }
  void transform(LASpoint* p) override {
    const F64 v = get_attribute(p, index_);
    bool hit;
    if (kind_ == BELOW) {
      hit = v < max_;
    } else if (kind_ == ABOVE) {
      hit = v > min_;
    } else {
      hit = min_ <= v && v <= max_;
    }
    if (hit) assign_class(p, class_);
  }

 private:
  Kind kind_;
  U32 index_;
  F64 min_, max_;  // below uses max_, above uses min_
  U8 class_;
};

class LASoperationCopyAttributeIntoUserData : public LASoperation {
 public:
  explicit LASoperationCopyAttributeIntoUserData(U32 index) : index_(index) {}
  const char* name() const override { return "copy_attribute_into_user_data"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, index_);
    return t;
  }
  U32 field_mask() const override { return MASK_ATTRIBUTES; }
  void transform(LASpoint* p) override { p->user_data = clamp8(get_attribute(p, index_)); }

 private:
  U32 index_;
};

class LASoperationAddScaledAttributeToUserData : public LASoperation {
 public:
  LASoperationAddScaledAttributeToUserData(U32 index, F32 scale) : index_(index), scale_(scale) {}
  const char* name() const override { return "add_scaled_attribute_to_user_data"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, index_);
    put_f(t, scale_);
    return t;
  }
  U32 field_mask() const override { return MASK_ATTRIBUTES | MASK_USER_DATA; }
  void transform(LASpoint* p) override {
    const F64 v = scale_ * get_attribute(p, index_) + p->user_data;
    p->user_data = (v >= 0.0) ? U8(low16_of_nearest(v)) : 0;
  }

 private:
  U32 index_;
  F32 scale_;
};

struct ColorEntry {
  F64 value;
  U8 rgb[3];
};

class LASoperationMapAttributeIntoRGB : public LASoperation {
 public:
  LASoperationMapAttributeIntoRGB(U32 index, const std::string& file_name,
                                  std::vector<ColorEntry> entries)
      : index_(index), file_name_(file_name), entries_(std::move(entries)) {}
  const char* name() const override { return "map_attribute_into_RGB"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, index_);
    put_file(t, file_name_);
    return t;
  }
  U32 field_mask() const override { return MASK_ATTRIBUTES; }
  void transform(LASpoint* p) override {
    if (entries_.empty()) return;
    const F64 v = get_attribute(p, index_);
    const ColorEntry* pick;
    if (v <= entries_.front().value) {
      pick = &entries_.front();
    } else if (v >= entries_.back().value) {
      pick = &entries_.back();
    } else {
      pick = &entries_.front();
      F64 best = std::fabs(v - pick->value);
      for (const ColorEntry& e : entries_) {
        const F64 d = std::fabs(v - e.value);
        if (d < best) {
          best = d;
          pick = &e;
        }
      }
    }
    p->rgb[0] = pick->rgb[0];
    p->rgb[1] = pick->rgb[1];
    p->rgb[2] = pick->rgb[2];
  }

 private:
  U32 index_;
  std::string file_name_;
  std::vector<ColorEntry> entries_;
};

enum AttributeKind { SET, SCALE, TRANSLATE, COPY_USER_DATA };

class LASoperationWriteAttribute : public LASoperation {
 public:
  LASoperationWriteAttribute(AttributeKind kind, U32 index, F64 value)
      : kind_(kind), index_(index), value_(value) {}
  const char* name() const override {
    static const char* const names[4] = {"set_attribute", "scale_attribute", "translate_attribute",
                                         "copy_user_data_into_attribute"};
    return names[kind_];
  }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, index_);
    if (kind_ == SET) put_g(t, value_);
    if (kind_ == SCALE) put_g(t, F32(value_));
    if (kind_ == TRANSLATE) put_lf(t, value_);
    return t;
  }
  U32 field_mask() const override {
    return kind_ == SET ? 0 : kind_ == COPY_USER_DATA ? MASK_USER_DATA : MASK_ATTRIBUTES;
  }
  void transform(LASpoint* p) override {
    switch (kind_) {
      case SET:
        set_attribute(p, index_, value_);
        break;
      case SCALE:
        set_attribute(p, index_, get_attribute(p, index_) * value_);
        break;
      case TRANSLATE:
        set_attribute(p, index_, get_attribute(p, index_) + value_);
        break;
      case COPY_USER_DATA:
        set_attribute(p, index_, p->user_data);
        break;
    }
  }

 private:
  AttributeKind kind_;
  U32 index_;
  F64 value_;  // a scale is kept at the single precision it was read with
};

// One value per point from a text file, read as the points come.
class LASoperationLoadAttributeFromText : public LASoperation {
 public:
  static constexpr size_t LINE_LENGTH = 256;

  LASoperationLoadAttributeFromText(U32 index, const std::string& file_name)
      : index_(index), file_name_(file_name) {}
  bool open() {
    file_.reset(platform::open_file(file_name_.c_str(), "r"));
    line_number_ = 0;
    return file_ != nullptr;
  }
  const char* name() const override { return "load_attribute_from_text"; }
  std::string get_command() const override {
    std::string t = command_word(name());
    put_int(t, index_);
    put_file(t, file_name_);
    return t;
  }
  void transform(LASpoint* p) override {
    F64 value;
    if (next_value(&value)) set_attribute(p, index_, value);
  }
  // The file starts again with the next pass.
  void reset() override { open(); }

 private:
  struct Closer {
    void operator()(FILE* f) const { fclose(f); }
  };

  // Reads lines until one holds a number; closes the file at its end.
  bool next_value(F64* value) {
    while (file_) {
      size_t length = 0;
      bool overlong = false;
      int c;
      while ((c = getc(file_.get())) != EOF && c != '\n') {
        if (length < LINE_LENGTH) {
          line_[length++] = char(c);
        } else {
          overlong = true;
        }
      }
      const bool at_end = (c == EOF);
      if (at_end && length == 0 && !overlong) {
        file_.reset();
        return false;
      }
      line_number_++;
      line_[length] = '\0';
      if (overlong) {
        print_warning("line %u of '%s' is longer than %u characters and is skipped\n", line_number_,
                      file_name_.c_str(), unsigned(LINE_LENGTH));
      } else if (sscanf(line_, "%lf", value) == 1) {
        if (at_end) file_.reset();
        return true;
      }
      if (at_end) file_.reset();
    }
    return false;
  }

  U32 index_;
  std::string file_name_;
  std::unique_ptr<FILE, Closer> file_;
  char line_[LINE_LENGTH + 1];
  unsigned line_number_ = 0;
};

// ---- parsing ----

bool load_color_map(const std::string& file_name, std::vector<ColorEntry>& entries) {
  std::vector<std::string> lines;
  if (!read_text_lines(file_name, 256, lines)) return false;
  for (const std::string& line : lines) {
    F64 v;
    unsigned r, g, b;
    if (sscanf(line.c_str(), "%lf %u %u %u", &v, &r, &g, &b) == 4 && r < 256 && g < 256 &&
        b < 256) {
      entries.push_back(ColorEntry{v, {U8(r), U8(g), U8(b)}});
    }
  }
  return true;
}

bool class_value(OptionScan& scan, int k, U32* c, const char* which) {
  if (!scan.value(k, "%u", c, "classification")) return false;
  if (*c > 255) {
    print_error("cannot classify attribute %s because classification of %u is larger than 255\n",
                which, *c);
    return false;
  }
  return true;
}

}  // namespace

namespace transform_detail {

Parsed parse_attribute_option(OptionScan& scan, LAStransform& transform) {
  U32 index, c;
  F64 a, b;
  F32 f;
  static const char* const copies[3] = {"copy_attribute_into_x", "copy_attribute_into_y",
                                        "copy_attribute_into_z"};
  for (int n = 0; n < 3; n++) {
    if (scan.is(copies[n])) {
      if (!scan.need(1, "index") || !scan.value(1, "%u", &index, "index")) return Parsed::error;
      return add<LASoperationCopyAttributeIntoAxis>(scan, transform, Axis(n), index);
    }
  }
  if (scan.is("add_attribute_to_z")) {
    if (!scan.need(1, "index") || !scan.value(1, "%u", &index, "index")) return Parsed::error;
    return add<LASoperationAddAttributeToZ>(scan, transform, index, false, 1.0f);
  }
  if (scan.is("add_scaled_attribute_to_z")) {
    if (!scan.need(2, "index scale") || !scan.value(1, "%u", &index, "index") ||
        !scan.value(2, "%f", &f)) {
      return Parsed::error;
    }
    if (f == 0.0f) {
      print_error("'%s' needs 2 arguments: index scale but '%g' is no valid scale\n", scan.option(),
                  double(f));
      return Parsed::error;
    }
    return add<LASoperationAddAttributeToZ>(scan, transform, index, true, f);
  }
  if (scan.is("copy_attribute_into_intensity")) {
    if (!scan.need(1, "index") || !scan.value(1, "%u", &index, "index")) return Parsed::error;
    return add<LASoperationCopyAttributeIntoIntensity>(scan, transform, index);
  }
  if (scan.is("classify_attribute_below_as") || scan.is("classify_attribute_above_as")) {
    const bool below = scan.is("classify_attribute_below_as");
    if (!scan.need(3, "attribute_index value classification") ||
        !scan.value(1, "%u", &index, "attribute_index") || !scan.value(2, "%lf", &a) ||
        !class_value(scan, 3, &c, below ? "below" : "above")) {
      return Parsed::error;
    }
    return add<LASoperationClassifyAttribute>(
        scan, transform,
        below ? LASoperationClassifyAttribute::BELOW : LASoperationClassifyAttribute::ABOVE, index,
        a, a, U8(c));
  }
  if (scan.is("classify_attribute_between_as")) {
    if (!scan.need(4, "attribute_index min max classification") ||
        !scan.value(1, "%u", &index, "attribute_index") || !scan.value(2, "%lf", &a) ||
        !scan.value(3, "%lf", &b) || !class_value(scan, 4, &c, "between")) {
      return Parsed::error;
    }
    return add<LASoperationClassifyAttribute>(
        scan, transform, LASoperationClassifyAttribute::BETWEEN, index, a, b, U8(c));
  }
  if (scan.is("copy_attribute_into_user_data")) {
    if (!scan.need(1, "index") || !scan.value(1, "%u", &index, "index")) return Parsed::error;
    return add<LASoperationCopyAttributeIntoUserData>(scan, transform, index);
  }
  if (scan.is("add_scaled_attribute_to_user_data")) {
    if (!scan.need(2, "index scale") || !scan.value(1, "%u", &index, "index") ||
        !scan.value(2, "%f", &f)) {
      return Parsed::error;
    }
    return add<LASoperationAddScaledAttributeToUserData>(scan, transform, index, f);
  }
  if (scan.is("map_attribute_into_RGB")) {
    if (!scan.need(2, "attribute_index map_file_name.txt") ||
        !scan.value(1, "%u", &index, "attribute_index")) {
      return Parsed::error;
    }
    const std::string file_name = scan.arg(2);
    std::vector<ColorEntry> entries;
    if (!load_color_map(file_name, entries)) {
      print_error("'%s' needs text file with map but '%s' cannot be opened\n", scan.option(),
                  file_name.c_str());
      return Parsed::error;
    }
    return add<LASoperationMapAttributeIntoRGB>(scan, transform, index, file_name,
                                                std::move(entries));
  }
  if (scan.is("set_attribute")) {
    if (!scan.need(2, "index value") || !scan.value(1, "%u", &index, "index") ||
        !scan.value(2, "%lf", &a)) {
      return Parsed::error;
    }
    return add<LASoperationWriteAttribute>(scan, transform, SET, index, a);
  }
  if (scan.is("scale_attribute")) {
    if (!scan.need(2, "index scale") || !scan.value(1, "%u", &index, "index") ||
        !scan.value(2, "%f", &f)) {
      return Parsed::error;
    }
    return add<LASoperationWriteAttribute>(scan, transform, SCALE, index, F64(f));
  }
  if (scan.is("translate_attribute")) {
    if (!scan.need(2, "index offset") || !scan.value(1, "%u", &index, "index") ||
        !scan.value(2, "%lf", &a)) {
      return Parsed::error;
    }
    return add<LASoperationWriteAttribute>(scan, transform, TRANSLATE, index, a);
  }
  if (scan.is("copy_user_data_into_attribute")) {
    if (!scan.need(1, "index") || !scan.value(1, "%u", &index, "index")) return Parsed::error;
    return add<LASoperationWriteAttribute>(scan, transform, COPY_USER_DATA, index, 0.0);
  }
  if (scan.is("load_attribute_from_text")) {
    if (!scan.need(2, "attribute_index attribute_file_name.txt") ||
        !scan.value(1, "%u", &index, "attribute_index")) {
      return Parsed::error;
    }
    std::unique_ptr<LASoperationLoadAttributeFromText> load(
        new LASchained<LASoperationLoadAttributeFromText>(index, scan.arg(2)));
    if (!load->open()) {
      print_error("'%s' needs text file with attribute values but '%s' cannot be opened\n",
                  scan.option(), scan.arg(2));
      return Parsed::error;
    }
    transform.add_operation(std::move(load));
    scan.consume();
    return Parsed::done;
  }
  return Parsed::none;
}

}  // namespace transform_detail
