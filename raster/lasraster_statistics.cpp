#include "raster/lasraster_statistics.hpp"

#include <cmath>
#include <cstring>

#include "raster/lasraster.hpp"

namespace {

// Cells are read and written through memcpy: layers of different widths and
// float layers share one byte buffer.
template <typename T>
inline T load(const U8* p) {
  T v;
  memcpy(&v, p, sizeof(T));
  return v;
}

template <typename T>
inline void store(U8* p, T v) {
  memcpy(p, &v, sizeof(T));
}

inline bool bit_get(const U8* layer, U32 i) {
  return (load<U32>(layer + 4 * (i >> 5)) >> (i & 31)) & 1u;
}

inline void bit_set(U8* layer, U32 i) {
  U8* w = layer + 4 * (i >> 5);
  store<U32>(w, load<U32>(w) | (1u << (i & 31)));
}

inline void bit_clear(U8* layer, U32 i) {
  U8* w = layer + 4 * (i >> 5);
  store<U32>(w, load<U32>(w) & ~(1u << (i & 31)));
}

inline I32 saturate(I64 v) {
  return v > I32_MAX ? I32_MAX : (v < I32_MIN ? I32_MIN : I32(v));
}

inline I32 round_to_i32(F64 v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return I32_MAX;
  if (v <= -2147483648.0) return I32_MIN;
  return saturate(round_half_away(v));
}

// Point values.
inline I32 value_z(const LASpoint& p) {
  return p.Z;
}
inline U16 value_intensity(const LASpoint& p) {
  return p.intensity;
}
inline I8 value_scan_angle(const LASpoint& p) {
  return p.scan_angle_rank;
}
// -128 has no 8-bit signed absolute value; unsigned keeps it 128.
inline U8 value_abs_scan_angle(const LASpoint& p) {
  const int a = p.scan_angle_rank;
  return U8(a < 0 ? -a : a);
}
inline U8 value_user_data(const LASpoint& p) {
  return p.user_data;
}
inline U16 value_point_source(const LASpoint& p) {
  return p.point_source_ID;
}
inline U8 value_number_returns(const LASpoint& p) {
  return p.number_of_returns;
}
inline F32 float_z(const LASpoint& p) {
  return F32(p.Z);
}
inline F32 float_intensity(const LASpoint& p) {
  return F32(p.intensity);
}
inline F32 float_abs_scan_angle(const LASpoint& p) {
  return F32(value_abs_scan_angle(p));
}
inline F32 float_user_data(const LASpoint& p) {
  return F32(p.user_data);
}
inline F32 float_number_returns(const LASpoint& p) {
  return F32(p.number_of_returns);
}
inline F32 float_ten_number_returns(const LASpoint& p) {
  return F32(10 * p.number_of_returns);
}

// Return type: bit 1 last, bit 0 first; 3 single, 1 first of many, 2 last of
// many, 0 intermediate.
inline U32 return_type(const LASpoint& p) {
  return (p.return_number >= p.number_of_returns ? 2u : 0u) | (p.return_number <= 1 ? 1u : 0u);
}

// ---- one value plus a has-value bit: [8,1], [16,1], [32,1]

template <typename T, T (*V)(const LASpoint&), bool LOWEST>
void add_extreme(LASraster& r, U8* tile, U32 i, const LASpoint& p) {
  U8* cell = tile + r.layer_offset(0) + i * sizeof(T);
  U8* has = tile + r.layer_offset(1);
  const T v = V(p);
  if (!bit_get(has, i)) {
    bit_set(has, i);
  } else {
    const T old = load<T>(cell);
    if (LOWEST ? !(v < old) : !(v > old)) return;
  }
  store<T>(cell, v);
  if (r.tracks_value_range()) r.track_value(v);
}

template <typename T>
bool get_single(const LASraster& r, const U8* tile, U32 i, I32* value, U32) {
  if (!bit_get(tile + r.layer_offset(1), i)) return false;
  *value = I32(load<T>(tile + r.layer_offset(0) + i * sizeof(T)));
  return true;
}

// ---- a 4-bit value plus a has-value bit: [4,1], two cells per byte, even
// index in the high nibble.

inline U32 nibble_get(const U8* layer, U32 i) {
  const U8 b = layer[i >> 1];
  return (i & 1) ? (b & 0x0Fu) : (b >> 4);
}

inline void nibble_set(U8* layer, U32 i, U32 v) {
  U8& b = layer[i >> 1];
  b = (i & 1) ? U8((b & 0xF0u) | (v & 0x0Fu)) : U8((b & 0x0Fu) | ((v & 0x0Fu) << 4));
}

template <bool LOWEST>
void add_nibble_extreme(LASraster& r, U8* tile, U32 i, const LASpoint& p) {
  U8* layer = tile + r.layer_offset(0);
  U8* has = tile + r.layer_offset(1);
  const U32 v = value_number_returns(p);
  if (!bit_get(has, i)) {
    bit_set(has, i);
  } else {
    const U32 old = nibble_get(layer, i);
    if (LOWEST ? !(v < old) : !(v > old)) return;
  }
  nibble_set(layer, i, v);
  if (r.tracks_value_range()) r.track_value(v);
}

bool get_nibble(const LASraster& r, const U8* tile, U32 i, I32* value, U32) {
  if (!bit_get(tile + r.layer_offset(1), i)) return false;
  *value = I32(nibble_get(tile + r.layer_offset(0), i));
  return true;
}

// ---- lowest and highest plus a has-value bit: [8,8,1], [16,16,1], [32,32,1]

template <typename T, T (*V)(const LASpoint&)>
void add_range(LASraster& r, U8* tile, U32 i, const LASpoint& p) {
  U8* low = tile + r.layer_offset(0) + i * sizeof(T);
  U8* high = tile + r.layer_offset(1) + i * sizeof(T);
  U8* has = tile + r.layer_offset(2);
  const T v = V(p);
  if (!bit_get(has, i)) {
    bit_set(has, i);
    store<T>(low, v);
    store<T>(high, v);
  } else if (v < load<T>(low)) {
    store<T>(low, v);
  } else if (v > load<T>(high)) {
    store<T>(high, v);
  }
  if (r.tracks_value_range()) r.track_max(I64(load<T>(high)) - I64(load<T>(low)));
}

template <typename T>
bool get_range(const LASraster& r, const U8* tile, U32 i, I32* value, U32) {
  if (!bit_get(tile + r.layer_offset(2), i)) return false;
  const I64 low = load<T>(tile + r.layer_offset(0) + i * sizeof(T));
  const I64 high = load<T>(tile + r.layer_offset(1) + i * sizeof(T));
  *value = saturate(high - low);
  return true;
}

// ---- lowest Z and the raster's current value when it was stored: [32,32,1]

void add_elevation_index(LASraster& r, U8* tile, U32 i, const LASpoint& p) {
  U8* z = tile + r.layer_offset(0) + 4 * i;
  U8* index = tile + r.layer_offset(1) + 4 * i;
  U8* has = tile + r.layer_offset(2);
  if (!bit_get(has, i)) {
    bit_set(has, i);
  } else if (!(p.Z < load<I32>(z))) {
    return;
  }
  store<I32>(z, p.Z);
  store<I32>(index, r.get_current_value());
  if (r.tracks_value_range()) r.track_value(p.Z);
}

bool get_elevation_index(const LASraster& r, const U8* tile, U32 i, I32* value, U32 selector) {
  if (!bit_get(tile + r.layer_offset(2), i)) return false;
  *value = load<I32>(tile + r.layer_offset(selector == 0 ? 0 : 1) + 4 * i);
  return true;
}

// ---- running mean: [32, 16] float mean and 16-bit count

template <F32 (*V)(const LASpoint&)>
void add_mean(LASraster& r, U8* tile, U32 i, const LASpoint& p) {
  U8* mean = tile + r.layer_offset(0) + 4 * i;
  U8* count = tile + r.layer_offset(1) + 2 * i;
  U16 n = load<U16>(count);
  if (n == 65535) {
    r.count_overflow();
    return;
  }
  n++;
  const F32 v = V(p);
  F32 m = v;
  if (n > 1) {
    m = load<F32>(mean);
    m = m + (v - m) / F32(n);
  }
  store<F32>(mean, m);
  store<U16>(count, n);
  if (r.tracks_value_range()) r.track_value(round_to_i32(m));
}

bool get_mean(const LASraster& r, const U8* tile, U32 i, I32* value, U32) {
  if (load<U16>(tile + r.layer_offset(1) + 2 * i) == 0) return false;
  *value = round_to_i32(load<F32>(tile + r.layer_offset(0) + 4 * i));
  return true;
}

// ---- standard deviation: [64, 16] float mean and sum of squared deviations,
// 16-bit count

template <F32 (*V)(const LASpoint&)>
void add_stddev(LASraster& r, U8* tile, U32 i, const LASpoint& p) {
  U8* mean = tile + r.layer_offset(0) + 8 * i;
  U8* sum = mean + 4;
  U8* count = tile + r.layer_offset(1) + 2 * i;
  U16 n = load<U16>(count);
  if (n == 65535) {
    r.count_overflow();
    return;
  }
  n++;
  const F32 v = V(p);
  if (n == 1) {
    store<F32>(mean, v);
    store<F32>(sum, 0.0f);
  } else {
    const F32 m = load<F32>(mean);
    const F32 m1 = m + (v - m) / F32(n);
    const F32 s = load<F32>(sum) + (v - m1) * (v - m);
    store<F32>(mean, m1);
    store<F32>(sum, s);
    if (r.tracks_value_range()) r.track_variance(F64(s / F32(n - 1)));
  }
  store<U16>(count, n);
}

// Selectors (elevation only): 0 deviation, 1 variance, 2 mean, 3 count.
template <bool SELECTABLE>
bool get_stddev(const LASraster& r, const U8* tile, U32 i, I32* value, U32 selector) {
  const U32 n = load<U16>(tile + r.layer_offset(1) + 2 * i);
  if (n == 0) return false;
  const U8* mean = tile + r.layer_offset(0) + 8 * i;
  const F32 sum = load<F32>(mean + 4);
  if (!SELECTABLE) selector = 0;
  switch (selector) {
    case 1:
      *value = (n == 1) ? 0 : round_to_i32(F64(sum / F32(n - 1)));
      break;
    case 2:
      *value = round_to_i32(load<F32>(mean));
      break;
    case 3:
      *value = I32(n);
      break;
    default:
      *value = (n == 1) ? 0 : round_to_i32(std::sqrt(F64(sum / F32(n - 1))));
      break;
  }
  return true;
}

// ---- counters without has-value bit: [2], [4], [8], [16], [32]

template <U32 BITS>
struct Counter {
  static constexpr U32 MAX = BITS == 32 ? 0xFFFFFFFFu : ((1u << BITS) - 1u);
  static U32 get(const U8* layer, U32 i) {
    if (BITS == 2) return (layer[i >> 2] >> (6 - 2 * (i & 3))) & 3u;
    if (BITS == 4) return (i & 1) ? (layer[i >> 1] & 0x0Fu) : (layer[i >> 1] >> 4);
    if (BITS == 8) return layer[i];
    if (BITS == 16) return load<U16>(layer + 2 * i);
    return load<U32>(layer + 4 * i);
  }
  static void put(U8* layer, U32 i, U32 v) {
    if (BITS == 2) {
      const U32 shift = 6 - 2 * (i & 3);
      layer[i >> 2] = U8((layer[i >> 2] & ~(3u << shift)) | ((v & 3u) << shift));
    } else if (BITS == 4) {
      nibble_set(layer, i, v);
    } else if (BITS == 8) {
      layer[i] = U8(v);
    } else if (BITS == 16) {
      store<U16>(layer + 2 * i, U16(v));
    } else {
      store<U32>(layer + 4 * i, v);
    }
  }
};

template <U32 BITS>
void add_counter(LASraster& r, U8* tile, U32 i, const LASpoint&) {
  U8* layer = tile + r.layer_offset(0);
  const U32 c = Counter<BITS>::get(layer, i);
  if (c == Counter<BITS>::MAX) {
    r.count_overflow();
    return;
  }
  Counter<BITS>::put(layer, i, c + 1);
  if (r.tracks_value_range()) r.track_max(I64(c) + 1);
}

template <U32 BITS>
bool get_counter(const LASraster& r, const U8* tile, U32 i, I32* value, U32) {
  const U32 c = Counter<BITS>::get(tile + r.layer_offset(0), i);
  if (c == 0) return false;
  *value = saturate(I64(c));
  return true;
}

template <U32 BITS>
void set_counter(LASraster& r, U8* tile, U32 i, I32 value) {
  U32 v = U32(value);
  if (v > Counter<BITS>::MAX) v = Counter<BITS>::MAX;
  Counter<BITS>::put(tile + r.layer_offset(0), i, v);
}

template <U32 BITS>
void clear_counter(LASraster& r, U8* tile, U32 i) {
  Counter<BITS>::put(tile + r.layer_offset(0), i, 0);
}

// ---- quotient pairs: two 8- or 16-bit counters side by side, [16] or [32]

template <typename T>
void bump(LASraster& r, U8* a, U8* b) {
  constexpr U32 MAX = T(~T(0));
  U32 va = load<T>(a);
  if (va == MAX) {
    // Halve both so that the ratio survives.
    va = MAX / 2;
    store<T>(b, T(load<T>(b) / 2));
    r.count_overflow();
  }
  store<T>(a, T(va + 1));
}

template <typename T>
void add_return_quotient(LASraster& r, U8* tile, U32 i, const LASpoint& p) {
  U8* a = tile + r.layer_offset(0) + 2 * sizeof(T) * i;
  U8* b = a + sizeof(T);
  if (p.number_of_returns == 1) bump<T>(r, a, b);
  if (p.return_number == 1) bump<T>(r, b, a);
  if (r.tracks_value_range()) r.track_max(load<T>(a) > load<T>(b) ? load<T>(a) : load<T>(b));
}

template <typename T>
bool get_return_quotient(const LASraster& r, const U8* tile, U32 i, I32* value, U32) {
  constexpr U64 MAX = T(~T(0));
  const U8* a = tile + r.layer_offset(0) + 2 * sizeof(T) * i;
  const U64 va = load<T>(a);
  const U64 vb = load<T>(a + sizeof(T));
  if (va == 0 && vb == 0) return false;
  *value = I32(va >= vb ? MAX : va * MAX / vb);
  return true;
}

template <typename T>
void add_class_quotient(LASraster& r, U8* tile, U32 i, const LASpoint& p) {
  U8* a = tile + r.layer_offset(0) + 2 * sizeof(T) * i;
  U8* b = a + sizeof(T);
  if (p.classification == r.get_class_quotient()) {
    bump<T>(r, a, b);
  } else {
    bump<T>(r, b, a);
  }
  if (r.tracks_value_range()) r.track_max(load<T>(a) > load<T>(b) ? load<T>(a) : load<T>(b));
}

template <typename T>
bool get_class_quotient(const LASraster& r, const U8* tile, U32 i, I32* value, U32) {
  constexpr U64 MAX = T(~T(0));
  const U8* a = tile + r.layer_offset(0) + 2 * sizeof(T) * i;
  const U64 va = load<T>(a);
  const U64 vb = load<T>(a + sizeof(T));
  if (va == 0 && vb == 0) return false;
  *value = I32(vb == 0 ? MAX : va * MAX / (va + vb));
  return true;
}

template <typename T>
void clear_pair(LASraster& r, U8* tile, U32 i) {
  U8* a = tile + r.layer_offset(0) + 2 * sizeof(T) * i;
  store<T>(a, 0);
  store<T>(a + sizeof(T), 0);
}

// ---- return type of the lowest or highest point: [32, 2, 1], the 2-bit
// cells four to a byte starting at the low bits.

template <bool LOWEST>
void add_return_type(LASraster& r, U8* tile, U32 i, const LASpoint& p) {
  U8* z = tile + r.layer_offset(0) + 4 * i;
  U8* types = tile + r.layer_offset(1);
  U8* has = tile + r.layer_offset(2);
  if (!bit_get(has, i)) {
    bit_set(has, i);
  } else {
    const I32 old = load<I32>(z);
    if (LOWEST ? !(p.Z < old) : !(p.Z > old)) return;
  }
  store<I32>(z, p.Z);
  const U32 shift = 2 * (i & 3);
  const U32 t = return_type(p);
  types[i >> 2] = U8((types[i >> 2] & ~(3u << shift)) | (t << shift));
  if (r.tracks_value_range()) r.track_value(t);
}

bool get_return_type(const LASraster& r, const U8* tile, U32 i, I32* value, U32) {
  if (!bit_get(tile + r.layer_offset(2), i)) return false;
  *value = I32((tile[r.layer_offset(1) + (i >> 2)] >> (2 * (i & 3))) & 3u);
  return true;
}

// ---- colour of the first point: [24, 1], the low bytes of red, green, blue

void add_rgb(LASraster& r, U8* tile, U32 i, const LASpoint& p) {
  U8* has = tile + r.layer_offset(1);
  if (bit_get(has, i)) return;
  bit_set(has, i);
  U8* cell = tile + r.layer_offset(0) + 3 * i;
  cell[0] = U8(p.rgb[0]);
  cell[1] = U8(p.rgb[1]);
  cell[2] = U8(p.rgb[2]);
  if (r.tracks_value_range()) r.track_value((I32(cell[0]) << 16) | (I32(cell[1]) << 8) | cell[2]);
}

bool get_rgb(const LASraster& r, const U8* tile, U32 i, I32* value, U32) {
  if (!bit_get(tile + r.layer_offset(1), i)) return false;
  const U8* cell = tile + r.layer_offset(0) + 3 * i;
  *value = (I32(cell[0]) << 16) | (I32(cell[1]) << 8) | I32(cell[2]);
  return true;
}

// ---- occupancy: [1]

void add_occupancy(LASraster& r, U8* tile, U32 i, const LASpoint&) {
  bit_set(tile + r.layer_offset(0), i);
  if (r.tracks_value_range()) r.track_value(1);
}

bool get_occupancy(const LASraster& r, const U8* tile, U32 i, I32* value, U32) {
  if (bit_get(tile + r.layer_offset(0), i)) {
    *value = 1;
    return true;
  }
  *value = 0;
  return false;
}

// ---- classes seen: [32], bit c for class c

void add_variety(LASraster& r, U8* tile, U32 i, const LASpoint& p) {
  U8* cell = tile + r.layer_offset(0) + 4 * i;
  const U32 mask = load<U32>(cell) | (1u << p.classification);
  store<U32>(cell, mask);
  if (r.tracks_value_range()) r.track_max(__builtin_popcount(mask));
}

bool get_variety(const LASraster& r, const U8* tile, U32 i, I32* value, U32) {
  const U32 mask = load<U32>(tile + r.layer_offset(0) + 4 * i);
  if (mask == 0) return false;
  *value = __builtin_popcount(mask);
  return true;
}

// ---- the raster's current value at the last add: [32, 1]

void add_value(LASraster& r, U8* tile, U32 i, const LASpoint&) {
  store<I32>(tile + r.layer_offset(0) + 4 * i, r.get_current_value());
  bit_set(tile + r.layer_offset(1), i);
  if (r.tracks_value_range()) r.track_value(r.get_current_value());
}

void set_value(LASraster& r, U8* tile, U32 i, I32 value) {
  store<I32>(tile + r.layer_offset(0) + 4 * i, value);
  bit_set(tile + r.layer_offset(1), i);
  if (r.tracks_value_range()) r.track_value(value);
}

// ---- one point's X, Y, Z chosen at random: [96, 16]

void add_xyz_random(LASraster& r, U8* tile, U32 i, const LASpoint& p) {
  U8* xyz = tile + r.layer_offset(0) + 12 * i;
  U8* count = tile + r.layer_offset(1) + 2 * i;
  U32 n = load<U16>(count);
  bool take;
  if (n == 0) {
    n = 1;
    take = true;
  } else if (n <= 2046) {
    n++;
    take = ((r.next_random() >> 4) % I32(n)) == 0;
  } else if (n < 32767) {
    n++;
    take = (r.next_random() % I32(n)) == 0;
  } else {
    take = (r.next_random() % 32767) == 0;
  }
  store<U16>(count, U16(n));
  if (take) {
    store<I32>(xyz, p.X);
    store<I32>(xyz + 4, p.Y);
    store<I32>(xyz + 8, p.Z);
  }
}

bool get_xyz_random(const LASraster& r, const U8* tile, U32 i, I32* value, U32 selector) {
  if (load<U16>(tile + r.layer_offset(1) + 2 * i) == 0) return false;
  *value = load<I32>(tile + r.layer_offset(0) + 12 * i + 4 * (selector < 3 ? selector : 2));
  return true;
}

// ---- count and mean offsets from the cell centre: [128]

void add_mean_xyz(LASraster& r, U8* tile, U32 i, const LASpoint& p) {
  U8* cell = tile + r.layer_offset(0) + 16 * i;
  const F32 d[3] = {F32(p.get_x() - r.cell_center_x(p)), F32(p.get_y() - r.cell_center_y(p)),
                    F32(p.get_z() - r.cell_center_z(p))};
  U32 n = load<U32>(cell);
  if (n == 0xFFFFFFFFu) {
    r.count_overflow();
    return;
  }
  n++;
  store<U32>(cell, n);
  for (int k = 0; k < 3; k++) {
    U8* m = cell + 4 + 4 * k;
    store<F32>(m, n == 1 ? d[k] : load<F32>(m) + (d[k] - load<F32>(m)) / F32(n));
  }
}

bool get_mean_xyz(const LASraster& r, const U8* tile, U32 i, I32* value, U32 selector) {
  const U8* cell = tile + r.layer_offset(0) + 16 * i;
  const U32 n = load<U32>(cell);
  if (n == 0) return false;
  if (selector >= 3) {
    *value = saturate(I64(n));
  } else {
    *value = load<I32>(cell + 4 + 4 * selector);
  }
  return true;
}

// ---- clearing a cell

template <U32 LAYER>
void clear_bit(LASraster& r, U8* tile, U32 i) {
  bit_clear(tile + r.layer_offset(LAYER), i);
}

// Statistics whose cell has a value while a 16-bit count is not 0.
void clear_count16(LASraster& r, U8* tile, U32 i) {
  store<U16>(tile + r.layer_offset(1) + 2 * i, 0);
}

void clear_mean_xyz(LASraster& r, U8* tile, U32 i) {
  store<U32>(tile + r.layer_offset(0) + 16 * i, 0);
}

void clear_variety(LASraster& r, U8* tile, U32 i) {
  store<U32>(tile + r.layer_offset(0) + 4 * i, 0);
}

// ---- the catalogue

struct Statistic {
  U32 layers[LASraster::MAX_LAYERS + 1];
  LASrasterAddOp add;
  LASrasterGetOp get;
  LASrasterSetOp set;
  LASrasterClearOp clear;
};

template <typename T, T (*V)(const LASpoint&), bool LOWEST>
constexpr Statistic extreme() {
  return {{U32(8 * sizeof(T)), 1, 0, 0, 0},
          add_extreme<T, V, LOWEST>,
          get_single<T>,
          nullptr,
          clear_bit<1>};
}

template <typename T, T (*V)(const LASpoint&)>
constexpr Statistic range() {
  return {{U32(8 * sizeof(T)), U32(8 * sizeof(T)), 1, 0, 0},
          add_range<T, V>,
          get_range<T>,
          nullptr,
          clear_bit<2>};
}

template <F32 (*V)(const LASpoint&)>
constexpr Statistic mean() {
  return {{32, 16, 0, 0, 0}, add_mean<V>, get_mean, nullptr, clear_count16};
}

template <F32 (*V)(const LASpoint&), bool SELECTABLE>
constexpr Statistic stddev() {
  return {{64, 16, 0, 0, 0}, add_stddev<V>, get_stddev<SELECTABLE>, nullptr, clear_count16};
}

template <U32 BITS>
constexpr Statistic counter() {
  return {{BITS, 0, 0, 0, 0},
          add_counter<BITS>,
          get_counter<BITS>,
          (BITS >= 8) ? set_counter<BITS> : nullptr,
          clear_counter<BITS>};
}

const Statistic kElevationLowest = extreme<I32, value_z, true>();
const Statistic kElevationHighest = extreme<I32, value_z, false>();
const Statistic kElevationMean = mean<float_z>();
const Statistic kElevationStddev = stddev<float_z, true>();
const Statistic kElevationRange = range<I32, value_z>();
const Statistic kElevationIndex = {
    {32, 32, 1, 0, 0}, add_elevation_index, get_elevation_index, nullptr, clear_bit<2>};

const Statistic kCounterQuotient16 = {
    {32, 0, 0, 0, 0}, add_return_quotient<U16>, get_return_quotient<U16>, nullptr, clear_pair<U16>};
const Statistic kCounterQuotient8 = {
    {16, 0, 0, 0, 0}, add_return_quotient<U8>, get_return_quotient<U8>, nullptr, clear_pair<U8>};
const Statistic kCounter16 = counter<16>();
const Statistic kCounter32 = counter<32>();
const Statistic kCounter2 = counter<2>();
const Statistic kCounter4 = counter<4>();
const Statistic kCounter8 = counter<8>();

const Statistic kIntensityLowest = extreme<U16, value_intensity, true>();
const Statistic kIntensityHighest = extreme<U16, value_intensity, false>();
const Statistic kIntensityMean = mean<float_intensity>();
const Statistic kIntensityStddev = stddev<float_intensity, false>();
const Statistic kIntensityRange = range<U16, value_intensity>();

const Statistic kXYZRandom = {
    {96, 16, 0, 0, 0}, add_xyz_random, get_xyz_random, nullptr, clear_count16};

const Statistic kScanAngleHighestAbs = extreme<U8, value_abs_scan_angle, false>();
const Statistic kScanAngleMeanAbs = mean<float_abs_scan_angle>();
const Statistic kScanAngleHighest = extreme<I8, value_scan_angle, false>();
const Statistic kScanAngleLowestAbs = extreme<U8, value_abs_scan_angle, true>();
const Statistic kScanAngleRange = range<I8, value_scan_angle>();
const Statistic kScanAngleLowest = extreme<I8, value_scan_angle, true>();

const Statistic kUserDataLowest = extreme<U8, value_user_data, true>();
const Statistic kUserDataMean = mean<float_user_data>();
const Statistic kUserDataStddev = stddev<float_user_data, false>();
const Statistic kUserDataRange = range<U8, value_user_data>();
const Statistic kUserDataHighest = extreme<U8, value_user_data, false>();

const Statistic kPointSourceLowest = extreme<U16, value_point_source, true>();
const Statistic kPointSourceRange = range<U16, value_point_source>();
const Statistic kPointSourceHighest = extreme<U16, value_point_source, false>();

const Statistic kReturnsLowest = {
    {4, 1, 0, 0, 0}, add_nibble_extreme<true>, get_nibble, nullptr, clear_bit<1>};
const Statistic kReturnsHighest = {
    {4, 1, 0, 0, 0}, add_nibble_extreme<false>, get_nibble, nullptr, clear_bit<1>};
const Statistic kReturnsStddev = stddev<float_ten_number_returns, false>();
const Statistic kReturnsMean = mean<float_number_returns>();

const Statistic kReturnTypeLowest = {
    {32, 2, 1, 0, 0}, add_return_type<true>, get_return_type, nullptr, clear_bit<2>};
const Statistic kReturnTypeHighest = {
    {32, 2, 1, 0, 0}, add_return_type<false>, get_return_type, nullptr, clear_bit<2>};

const Statistic kRGB = {{24, 1, 0, 0, 0}, add_rgb, get_rgb, nullptr, clear_bit<1>};
const Statistic kOccupancy = {{1, 0, 0, 0, 0}, add_occupancy, get_occupancy, nullptr, clear_bit<0>};

const Statistic kClassVariety = {
    {32, 0, 0, 0, 0}, add_variety, get_variety, nullptr, clear_variety};
const Statistic kClassQuotient16 = {
    {32, 0, 0, 0, 0}, add_class_quotient<U16>, get_class_quotient<U16>, nullptr, clear_pair<U16>};
const Statistic kClassQuotient8 = {
    {16, 0, 0, 0, 0}, add_class_quotient<U8>, get_class_quotient<U8>, nullptr, clear_pair<U8>};

const Statistic kValue = {{32, 1, 0, 0, 0}, add_value, get_single<I32>, set_value, clear_bit<1>};
const Statistic kMeanXYZ = {{128, 0, 0, 0, 0}, add_mean_xyz, get_mean_xyz, nullptr, clear_mean_xyz};

// Rules are tried top to bottom. The first rule whose group word occurs in
// the text commits to that group; within it the first rule whose words match
// decides. A rule matches when one of `any` occurs (or `any` is empty) and,
// if given, `also` occurs too; an `exact` rule needs the text to be exactly
// the group word.
struct Rule {
  const char* group;
  const char* any[5];
  const char* also;
  bool exact;
  const Statistic* statistic;
};

const Rule kRules[] = {
    {"counter", {"quotient"}, "16bit", false, &kCounterQuotient16},
    {"counter", {"quotient"}, nullptr, false, &kCounterQuotient8},
    {"counter", {"16bit"}, nullptr, false, &kCounter16},
    {"counter", {"32bit"}, nullptr, false, &kCounter32},
    {"counter", {"2bit"}, nullptr, false, &kCounter2},
    {"counter", {"4bit"}, nullptr, false, &kCounter4},
    {"counter", {}, nullptr, false, &kCounter8},
    {"elevation", {"highest", "max"}, nullptr, false, &kElevationHighest},
    {"elevation", {"average", "avg", "mean"}, nullptr, false, &kElevationMean},
    {"elevation", {"stddev", "std"}, nullptr, false, &kElevationStddev},
    {"elevation", {"range"}, nullptr, false, &kElevationRange},
    {"elevation", {"index"}, nullptr, false, &kElevationIndex},
    {"elevation", {}, nullptr, false, &kElevationLowest},
    {"intensity", {"lowest", "min"}, nullptr, false, &kIntensityLowest},
    {"intensity", {"average", "avg", "mean"}, nullptr, false, &kIntensityMean},
    {"intensity", {"stddev", "std"}, nullptr, false, &kIntensityStddev},
    {"intensity", {"range"}, nullptr, false, &kIntensityRange},
    {"intensity", {}, nullptr, false, &kIntensityHighest},
    {"xyz_random", {}, nullptr, false, &kXYZRandom},
    {"scan_angle",
     {"highest_abs", "abs_highest", "max_abs", "abs_max"},
     nullptr,
     false,
     &kScanAngleHighestAbs},
    {"scan_angle",
     {"average_abs", "abs_average", "avg_abs", "abs_avg"},
     nullptr,
     false,
     &kScanAngleMeanAbs},
    {"scan_angle", {"highest", "max"}, nullptr, false, &kScanAngleHighest},
    {"scan_angle", {"abs"}, nullptr, false, &kScanAngleLowestAbs},
    {"scan_angle", {"range"}, nullptr, false, &kScanAngleRange},
    {"scan_angle", {}, nullptr, false, &kScanAngleLowest},
    {"user_data", {"lowest", "min"}, nullptr, false, &kUserDataLowest},
    {"user_data", {"average", "avg", "mean"}, nullptr, false, &kUserDataMean},
    {"user_data", {"stddev", "std"}, nullptr, false, &kUserDataStddev},
    {"user_data", {"range"}, nullptr, false, &kUserDataRange},
    {"user_data", {}, nullptr, false, &kUserDataHighest},
    {"point_source", {"lowest", "min"}, nullptr, false, &kPointSourceLowest},
    {"point_source", {"range"}, nullptr, false, &kPointSourceRange},
    {"point_source", {}, nullptr, false, &kPointSourceHighest},
    {"number_returns", {"lowest", "min"}, nullptr, false, &kReturnsLowest},
    {"number_returns", {"highest", "max"}, nullptr, false, &kReturnsHighest},
    {"number_returns", {"stddev", "std"}, nullptr, false, &kReturnsStddev},
    {"number_returns", {}, nullptr, false, &kReturnsMean},
    {"return_type", {"lowest", "min"}, nullptr, false, &kReturnTypeLowest},
    {"return_type", {"highest", "max"}, nullptr, false, &kReturnTypeHighest},
    {"return_type", {}, nullptr, true, &kReturnTypeHighest},
    {"rgb", {}, nullptr, false, &kRGB},
    {"occupancy", {}, nullptr, false, &kOccupancy},
    {"classification", {"variety"}, nullptr, false, &kClassVariety},
    {"classification", {"quotient"}, "16bit", false, &kClassQuotient16},
    {"classification", {"quotient"}, nullptr, false, &kClassQuotient8},
    {"classification", {"majority"}, "16bit", false, &kCounter16},
    {"classification", {"majority"}, "32bit", false, &kCounter32},
    {"classification", {"majority"}, nullptr, false, &kCounter8},
    {"value", {}, nullptr, false, &kValue},
    {"mean_xyz", {}, nullptr, false, &kMeanXYZ},
};

bool contains(const char* text, const char* word) {
  return strstr(text, word) != nullptr;
}

bool rule_matches(const Rule& rule, const char* text) {
  if (rule.exact) return strcmp(text, rule.group) == 0;
  if (rule.also && !contains(text, rule.also)) return false;
  if (!rule.any[0]) return true;
  for (const char* word : rule.any) {
    if (word && contains(text, word)) return true;
  }
  return false;
}

const Statistic* find_statistic(const char* text) {
  const char* group = nullptr;
  for (const Rule& rule : kRules) {
    if (group) {
      if (strcmp(rule.group, group) != 0) return nullptr;
    } else if (contains(text, rule.group)) {
      group = rule.group;
    } else {
      continue;
    }
    if (rule_matches(rule, text)) return rule.statistic;
  }
  return nullptr;
}

}  // namespace

void LASrasterStatistics::install_default(LASraster& raster) {
  const Statistic& s = kElevationLowest;
  raster.add_ = s.add;
  raster.get_ = s.get;
  raster.set_ = s.set;
  raster.clear_ = s.clear;
  for (U32 k = 0; k <= LASraster::MAX_LAYERS; k++) raster.layer_bits_[k] = s.layers[k];
}

bool LASrasterStatistics::select(LASraster& raster, const char* text) {
  if (!text || raster.has_tiles()) return false;
  const Statistic* s = find_statistic(text);
  if (!s) return false;
  raster.add_ = s->add;
  raster.get_ = s->get;
  raster.set_ = s->set;
  raster.clear_ = s->clear;
  for (U32 k = 0; k <= LASraster::MAX_LAYERS; k++) raster.layer_bits_[k] = s->layers[k];
  raster.class_quotient_ = 0;
  static const char* const kQuotientClass[] = {"_1_", "_2_", "_3_", "_4_",
                                               "_5_", "_6_", "_7_", "_8_"};
  for (U32 k = 0; k < 8; k++) {
    if (contains(text, kQuotientClass[k])) {
      raster.class_quotient_ = k + 1;
      break;
    }
  }
  return true;
}
