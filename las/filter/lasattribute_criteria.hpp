// Criteria on extra-bytes attributes, read as doubles through the point's
// attribute set.
#pragma once

#include <string>

#include "las/core/lasattribute.hpp"
#include "las/filter/lascriteria.hpp"

// Attribute `index` of a point; 0 when the point has no such attribute.
inline F64 attribute_value(const LASpoint* p, U32 index) {
  if (p->attribute_set == nullptr || index > U32(I32_MAX)) return 0.0;
  return p->attribute_set->get_attribute_value(I32(index), p->extra_bytes.data(),
                                               p->extra_bytes_count);
}

template <lf::Cmp C, const char* Name>
class LAScriterionAttributeCompare : public LAScriterion {
 public:
  bool stateless() const override { return true; }
  LAScriterionAttributeCompare(U32 index, F64 value) : index_(index), value_(value) {}
  const char* name() const override { return Name; }
  std::string get_command() const override {
    std::string s;
    append_format(s, "-%s %u ", Name, index_);
    lf::append_value(s, value_);
    return s;
  }
  U32 field_mask() const override { return LAS_FIELD_EXTRA_BYTES; }
  bool filter(const LASpoint* p) override {
    return lf::compare<C>(attribute_value(p, index_), value_);
  }

 private:
  U32 index_;
  F64 value_;
};

template <lf::Range R, const char* Name>
class LAScriterionAttributeRange : public LAScriterion {
 public:
  bool stateless() const override { return true; }
  LAScriterionAttributeRange(U32 index, F64 lo, F64 hi) : index_(index), lo_(lo), hi_(hi) {}
  const char* name() const override { return Name; }
  std::string get_command() const override {
    std::string s;
    append_format(s, "-%s %u ", Name, index_);
    lf::append_value(s, lo_);
    lf::append_value(s, hi_);
    return s;
  }
  U32 field_mask() const override { return LAS_FIELD_EXTRA_BYTES; }
  bool filter(const LASpoint* p) override {
    return lf::outside<R>(attribute_value(p, index_), lo_, hi_);
  }

 private:
  U32 index_;
  F64 lo_, hi_;
};

namespace lasfilter_names {
inline constexpr char keep_attribute_below[] = "keep_attribute_below";
inline constexpr char keep_attribute_above[] = "keep_attribute_above";
inline constexpr char keep_attribute_between[] = "keep_attribute_between";
inline constexpr char drop_attribute_below[] = "drop_attribute_below";
inline constexpr char drop_attribute_above[] = "drop_attribute_above";
inline constexpr char drop_attribute_between[] = "drop_attribute_between";
}  // namespace lasfilter_names

using LAScriterionKeepAttributeBelow =
    LAScriterionAttributeCompare<Cmp::GreaterEq, lfn::keep_attribute_below>;
using LAScriterionKeepAttributeAbove =
    LAScriterionAttributeCompare<Cmp::LessEq, lfn::keep_attribute_above>;
using LAScriterionKeepAttributeBetween =
    LAScriterionAttributeRange<Range::KeepClosed, lfn::keep_attribute_between>;
using LAScriterionDropAttributeBelow =
    LAScriterionAttributeCompare<Cmp::Less, lfn::drop_attribute_below>;
using LAScriterionDropAttributeAbove =
    LAScriterionAttributeCompare<Cmp::Greater, lfn::drop_attribute_above>;
using LAScriterionDropAttributeBetween =
    LAScriterionAttributeRange<Range::DropClosed, lfn::drop_attribute_between>;
