// Extra-bytes attributes of a point layout and typed VLR payloads.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "las/core/types.hpp"

class ByteStreamIn;
class ByteStreamOut;

// The 192-byte extra-bytes descriptor, stored as is in the LASF_Spec record 4.
class LASextraAttribute {
 public:
  U8 reserved[2] = {0, 0};
  U8 data_type = 0;
  U8 options = 0;  // bit 3: scale valid, bit 4: offset valid
  char name[32] = {};
  U8 unused[4] = {0, 0, 0, 0};
  U8 no_data[3][8] = {};  // typed by data_type
  U8 min[3][8] = {};
  U8 max[3][8] = {};
  F64 scale[3] = {1.0, 1.0, 1.0};
  F64 offset[3] = {0.0, 0.0, 0.0};
  char description[32] = {};

  LASextraAttribute() = default;
  LASextraAttribute(U8 type, const char* attribute_name, const char* attribute_description);

  bool has_scale() const { return (options & 8) != 0; }
  bool has_offset() const { return (options & 16) != 0; }
  void set_scale(F64 s) {
    scale[0] = s;
    options |= 8;
  }
  void set_offset(F64 o) {
    offset[0] = o;
    options |= 16;
  }
  // Bytes of one value; 0 for an unknown type (or undocumented bytes of size 0).
  I32 get_size() const;
  // Decodes the value stored at `bytes` (which must hold get_size() bytes).
  F64 get_value(const U8* bytes) const;
  // The name as a string, never past its 32 bytes.
  std::string get_name() const { return std::string(name, strnlen(name, sizeof(name))); }
};

static_assert(sizeof(LASextraAttribute) == 192, "extra-bytes descriptor is 192 bytes");

// The extra-bytes attributes of a layout, with their places in the extra bytes.
class LASattributeSet {
 public:
  I32 number_attributes = 0;
  std::vector<LASextraAttribute> attributes;
  std::vector<I32> attribute_starts;
  std::vector<I32> attribute_sizes;

  // Replaces the whole set by copies of `count` descriptors.
  bool init_attributes(U32 count, const LASextraAttribute* descriptors);
  // Index of the appended attribute, or -1 for a descriptor of size 0.
  I32 add_attribute(const LASextraAttribute& descriptor);
  // Keeps only the first `count` attributes.
  void truncate_attributes(I32 count);
  void clear_attributes();
  // Index of the attribute with this name, or -1.
  I32 get_attribute_index(const char* name) const;
  // Bytes covered by all attributes.
  I32 get_attributes_size() const {
    return number_attributes ? attribute_starts.back() + attribute_sizes.back() : 0;
  }
  // Value of attribute `index` in a point's extra bytes; 0 when it does not fit.
  F64 get_attribute_value(I32 index, const U8* extra_bytes, I32 extra_bytes_count) const;
};

// A typed record payload that knows its user id, record id and size.
class LASvlrPayload {
 public:
  virtual ~LASvlrPayload() = default;
  virtual I32 get_record_id() const = 0;
  // The 16-byte user id (zero-padded).
  virtual const char* get_user_id() const = 0;
  virtual I32 get_payload_size() const = 0;
  // The serialised payload; empty if writing failed.
  virtual std::vector<U8> get_payload() const;
  virtual bool set_payload(const U8* bytes, I64 size);
  virtual bool save(ByteStreamOut* stream) const = 0;
  virtual bool load(ByteStreamIn* stream) = 0;
};

// Describes a raster carried in a point file.
class LASvlrRasterVZK : public LASvlrPayload {
 public:
  I32 nbands = -1;
  I32 nbits = -1;
  I32 ncols = -1;
  I32 nrows = -1;
  I32 reserved1 = 0;
  I32 reserved2 = 0;
  F64 stepx = 1.0;
  F64 stepx_y = 0.0;
  F64 stepy = 1.0;
  F64 stepy_x = 0.0;
  F64 llx = 0.0;
  F64 lly = 0.0;
  F64 sigmaxy = 0.0;

  I32 get_record_id() const override { return 7113; }
  const char* get_user_id() const override;
  I32 get_payload_size() const override { return 80; }
  bool save(ByteStreamOut* stream) const override;
  bool load(ByteStreamIn* stream) override;
};
