#include "las/core/laspoint.hpp"

#include <cmath>
#include <cstring>

#include "las/core/messages.hpp"

static_assert(offsetof(LASpoint, X) == 0, "POINT10 image must start at X");
static_assert(offsetof(LASpoint, intensity) == 12, "POINT10 image: intensity");
static_assert(offsetof(LASpoint, scan_angle_rank) == 16, "POINT10 image: scan angle");
static_assert(offsetof(LASpoint, point_source_ID) == 18, "POINT10 image: point source");

LASpoint::LASpoint() {
  return_number = 1;
  number_of_returns = 1;
  scan_direction_flag = 0;
  edge_of_flight_line = 0;
  classification = 0;
  synthetic_flag = 0;
  keypoint_flag = 0;
  withheld_flag = 0;
  extended_layout = 0;
  extended_scanner_channel = 0;
  extended_classification_flags = 0;
  extended_return_number = 1;
  extended_number_of_returns = 1;
}

void LASpoint::clear_values() {
  X = Y = Z = 0;
  intensity = 0;
  return_number = 1;
  number_of_returns = 1;
  scan_direction_flag = 0;
  edge_of_flight_line = 0;
  classification = 0;
  synthetic_flag = 0;
  keypoint_flag = 0;
  withheld_flag = 0;
  scan_angle_rank = 0;
  user_data = 0;
  point_source_ID = 0;
  extended_scan_angle = 0;
  extended_scanner_channel = 0;
  extended_classification_flags = 0;
  extended_classification = 0;
  extended_return_number = 1;
  extended_number_of_returns = 1;
  marked_deleted = 0;
  gps_time = 0.0;
  memset(rgb, 0, sizeof(rgb));
  memset(wave_packet, 0, sizeof(wave_packet));
  std::fill(extra_bytes.begin(), extra_bytes.end(), U8(0));
}

void LASpoint::reset() {
  extra_bytes.clear();
  item_targets.clear();
  items.clear();
  has_gps_time = has_rgb = has_nir = has_wave_packet = false;
  extra_bytes_count = 0;
  record_size = 0;
  extended_layout = 0;
  scale_offset = nullptr;
  attribute_set = nullptr;
  clear_values();
}

bool LASpoint::init_layout(const LASscaleOffset* so, U8 point_type, U16 size,
                           const LASattributeSet* attributes) {
  reset();
  std::vector<LASitem> list;
  if (!build_item_list(point_type, size, list)) {
    print_error("unknown point type %d with point size %d\n", int(point_type), int(size));
    return false;
  }
  items = std::move(list);
  return place_items(so, attributes);
}

bool LASpoint::init_items(const LASscaleOffset* so, const std::vector<LASitem>& list,
                          const LASattributeSet* attributes) {
  reset();
  for (const LASitem& item : list) {
    if (!LASitem::known_type(item.type)) return false;
  }
  items = list;
  return place_items(so, attributes);
}

bool LASpoint::place_items(const LASscaleOffset* so, const LASattributeSet* attributes) {
  scale_offset = so;
  attribute_set = attributes;
  item_targets.assign(items.size(), nullptr);
  record_size = 0;
  // The extra bytes buffer must exist before targets point into it.
  for (const LASitem& item : items) {
    if (item.type == LASitem::BYTE || item.type == LASitem::BYTE14) {
      extra_bytes.assign(item.size, 0);
      extra_bytes_count = item.size;
    }
  }
  for (size_t i = 0; i < items.size(); i++) {
    const LASitem& item = items[i];
    record_size += item.size;
    switch (item.type) {
      case LASitem::POINT10:
        item_targets[i] = point10();
        break;
      case LASitem::POINT14:
        item_targets[i] = point10();
        extended_layout = 1;
        has_gps_time = true;
        break;
      case LASitem::GPSTIME11:
        item_targets[i] = reinterpret_cast<U8*>(&gps_time);
        has_gps_time = true;
        break;
      case LASitem::RGB12:
      case LASitem::RGB14:
        item_targets[i] = reinterpret_cast<U8*>(rgb);
        has_rgb = true;
        break;
      case LASitem::RGBNIR14:
        item_targets[i] = reinterpret_cast<U8*>(rgb);
        has_rgb = true;
        has_nir = true;
        break;
      case LASitem::WAVEPACKET13:
      case LASitem::WAVEPACKET14:
        item_targets[i] = wave_packet;
        has_wave_packet = true;
        break;
      case LASitem::BYTE:
      case LASitem::BYTE14:
        item_targets[i] = extra_bytes.data();
        break;
      default:
        return false;
    }
  }
  return true;
}

LASpoint& LASpoint::copy_from(const LASpoint& other) {
  if (&other == this) return *this;
  memcpy(point10(), other.point10(), 20);
  marked_deleted = other.marked_deleted;
  if (other.has_gps_time) gps_time = other.gps_time;
  if (other.has_rgb) {
    rgb[0] = other.rgb[0];
    rgb[1] = other.rgb[1];
    rgb[2] = other.rgb[2];
    if (other.has_nir) rgb[3] = other.rgb[3];
  }
  if (other.has_wave_packet) memcpy(wave_packet, other.wave_packet, 29);
  if (!extra_bytes.empty() && !other.extra_bytes.empty()) {
    memcpy(extra_bytes.data(), other.extra_bytes.data(),
           std::min(extra_bytes.size(), other.extra_bytes.size()));
  }
  if (other.extended_layout) {
    extended_classification = other.extended_classification;
    extended_classification_flags = other.extended_classification_flags;
    extended_return_number = other.extended_return_number;
    extended_number_of_returns = other.extended_number_of_returns;
    extended_scan_angle = other.extended_scan_angle;
  } else if (!extended_layout) {
    return *this;
  } else {
    derive_extended_from_legacy();
  }
  extended_scanner_channel = other.extended_scanner_channel;
  return *this;
}

void LASpoint::derive_extended_from_legacy() {
  extended_classification = classification;
  extended_classification_flags = U8(synthetic_flag | (keypoint_flag << 1) | (withheld_flag << 2));
  extended_return_number = return_number;
  extended_number_of_returns = number_of_returns;
  extended_scan_angle = I16(round_half_away(scan_angle_rank / 0.006));
}

void LASpoint::set_scan_angle(F32 angle) {
  if (extended_layout) {
    const F32 units = angle / 0.006f;
    const F32 r = (units >= 0.0f) ? units + 0.5f : units - 0.5f;
    // Out of range (or NaN) saturates rather than wrapping.
    extended_scan_angle = (r != r)           ? 0
                          : (r >= 32767.0f)  ? 32767
                          : (r <= -32768.0f) ? -32768
                                             : I16(r);
  } else {
    const F32 r = (angle >= 0.0f) ? angle + 0.5f : angle - 0.5f;
    scan_angle_rank = (r != r) ? 0 : (r >= 127.0f) ? 127 : (r <= -128.0f) ? -128 : I8(r);
  }
}
