// The in-memory point record shared by every reader, writer, filter and
// transform, with its item layout and the coordinate quantization.
#pragma once

#include <cstddef>
#include <vector>

#include "las/core/lasitem.hpp"
#include "las/core/types.hpp"

class LASattributeSet;

class LASscaleOffset {
 public:
  F64 x_scale_factor = 0.01;
  F64 y_scale_factor = 0.01;
  F64 z_scale_factor = 0.01;
  F64 x_offset = 0.0;
  F64 y_offset = 0.0;
  F64 z_offset = 0.0;

  F64 get_x(I32 X) const { return x_scale_factor * X + x_offset; }
  F64 get_y(I32 Y) const { return y_scale_factor * Y + y_offset; }
  F64 get_z(I32 Z) const { return z_scale_factor * Z + z_offset; }
  // Quantize, rounding half away from zero about the offset. Values that do
  // not fit in 64 bits (or NaN, or a zero scale) saturate.
  I64 get_X(F64 x) const { return quantize(x, x_offset, x_scale_factor); }
  I64 get_Y(F64 y) const { return quantize(y, y_offset, y_scale_factor); }
  I64 get_Z(F64 z) const { return quantize(z, z_offset, z_scale_factor); }

  // Inline: it runs per point.
  static I64 quantize(F64 value, F64 offset, F64 scale) {
    if (scale == 0.0) return 0;
    const F64 q = (value - offset) / scale;
    const F64 r = (value >= offset) ? q + 0.5 : q - 0.5;
    // NaN and out-of-range saturate; the caller sees them as overflows.
    if (!(r >= -9223372036854775808.0)) return INT64_MIN;
    if (!(r < 9223372036854775808.0)) return INT64_MAX;
    return I64(r);  // truncates toward zero
  }
};

class LASpoint {
 public:
  // The first 20 bytes are the byte image of a POINT10 record.
  I32 X = 0;
  I32 Y = 0;
  I32 Z = 0;
  U16 intensity = 0;
  U8 return_number : 3;
  U8 number_of_returns : 3;
  U8 scan_direction_flag : 1;
  U8 edge_of_flight_line : 1;
  U8 classification : 5;
  U8 synthetic_flag : 1;
  U8 keypoint_flag : 1;
  U8 withheld_flag : 1;
  I8 scan_angle_rank = 0;
  U8 user_data = 0;
  U16 point_source_ID = 0;

  I16 extended_scan_angle = 0;
  U8 extended_layout : 2;
  U8 extended_scanner_channel : 2;
  U8 extended_classification_flags : 4;  // bit 0 synthetic, 1 key-point, 2 withheld, 3 overlap
  U8 extended_classification = 0;
  U8 extended_return_number : 4;
  U8 extended_number_of_returns : 4;
  U8 marked_deleted = 0;

  F64 gps_time = 0.0;
  U16 rgb[4] = {0, 0, 0, 0};
  U8 wave_packet[29] = {};

  std::vector<U8> extra_bytes;
  const LASscaleOffset* scale_offset = nullptr;
  const LASattributeSet* attribute_set = nullptr;
  std::vector<U8*> item_targets;
  std::vector<LASitem> items;
  bool has_gps_time = false;
  bool has_rgb = false;
  bool has_nir = false;
  bool has_wave_packet = false;
  I32 extra_bytes_count = 0;
  I32 record_size = 0;

  LASpoint();
  ~LASpoint() = default;
  // Item targets point into this object, so a point is never copied by value.
  LASpoint(const LASpoint&) = delete;
  LASpoint& operator=(const LASpoint&) = delete;

  bool init_layout(const LASscaleOffset* scale_offset, U8 point_type, U16 record_size,
                   const LASattributeSet* attribute_set);
  bool init_items(const LASscaleOffset* scale_offset, const std::vector<LASitem>& items,
                  const LASattributeSet* attribute_set);
  void reset();
  // Resets only the values, keeping the layout.
  void clear_values();
  LASpoint& copy_from(const LASpoint& other);

  U16 num_items() const { return U16(items.size()); }
  bool is_extended() const { return extended_layout != 0; }

  F64 get_x() const { return scale_offset->get_x(X); }
  F64 get_y() const { return scale_offset->get_y(Y); }
  F64 get_z() const { return scale_offset->get_z(Z); }
  // Store the nearest integer; false when it does not fit in 32 bits, in
  // which case its low 32 bits are stored.
  bool set_x(F64 x) { return store_coordinate(X, scale_offset->get_X(x)); }
  bool set_y(F64 y) { return store_coordinate(Y, scale_offset->get_Y(y)); }
  bool set_z(F64 z) { return store_coordinate(Z, scale_offset->get_Z(z)); }
  void set_scan_angle(F32 angle);
  // The LAS 1.4 fields as a legacy point's fields say: class, flags,
  // returns and scan angle.
  void derive_extended_from_legacy();
  // Scan angle in degrees from whichever field the layout stores.
  F32 get_scan_angle() const {
    return extended_layout ? 0.006f * F32(extended_scan_angle) : F32(scan_angle_rank);
  }
  bool get_overlap_flag() const { return (extended_classification_flags & 8) != 0; }
  void set_overlap_flag(bool on) {
    extended_classification_flags =
        U8(on ? (extended_classification_flags | 8) : (extended_classification_flags & 7));
  }
  void set_withheld_flag(bool on) {
    withheld_flag = on ? 1 : 0;
    extended_classification_flags =
        U8(on ? (extended_classification_flags | 4) : (extended_classification_flags & 11));
  }

  // The byte image of the first 20 bytes.
  U8* point10() { return reinterpret_cast<U8*>(&X); }
  const U8* point10() const { return reinterpret_cast<const U8*>(&X); }

 private:
  static bool store_coordinate(I32& field, I64 value) {
    field = I32(U32(U64(value)));
    return value >= I32_MIN && value <= I32_MAX;
  }
  bool place_items(const LASscaleOffset* scale_offset, const LASattributeSet* attribute_set);
};
