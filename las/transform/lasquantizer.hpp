// The per-point fast path of the coordinate write-back: the integer that
// LASpoint::set_x would store, found without a division.
//
// With the reciprocal of the scale taken once, q' = (value - offset) * (1 /
// scale) differs from the quotient q that set_x rounds by less than three
// units in the last place of q: under 2^-19 for any |q| below 2^32, as long
// as the reciprocal is a normal number (round-to-nearest, which nothing in
// this program changes). When q' lies closer than 0.5 - 2^-16 to an integer
// n, q lies closer than 0.5 - 2^-17 to n, so q plus or minus one half stays
// strictly between two integers and set_x truncates it to n as well. Values
// nearer a rounding boundary, outside the 32-bit range or NaN, and scales
// that are not positive or have no normal reciprocal, are refused: the
// caller then uses set_x itself.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "las/core/laspoint.hpp"
#include "las/core/types.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Branch hint for the per-point path: the fast case falls through.
#if defined(__GNUC__)
#define LAS_UNLIKELY(c) __builtin_expect(!!(c), 0)
#else
#define LAS_UNLIKELY(c) (c)
#endif

class LASquantizer {
 public:
  enum Axis { X = 0, Y = 1, Z = 2 };

  // Stores into field and returns true when the integer is certain;
  // otherwise returns false and leaves field alone.
  bool store(Axis axis, I32& field, F64 value, F64 offset, F64 scale) {
    if (LAS_UNLIKELY(bits(scale) != scale_bits_[axis])) refresh(axis, scale);
    const F64 q = (value - offset) * reciprocal_[axis];
    const I32 n = nearest(q);
    if (LAS_UNLIKELY(!(std::fabs(q - F64(n)) < LIMIT))) return false;
    field = n;
    return true;
  }

  // X and Y together, with the point's scales and offsets: both or neither.
  bool store_xy(LASpoint* point, F64 x, F64 y) {
#if defined(__SSE2__)
    return store_xy_sse2(point, x, y);
#else
    return store_xy_portable(point, x, y);
#endif
  }

  // The parts that have a second implementation for machines without SSE2;
  // public so that both can be checked where both compile.
  bool store_xy_portable(LASpoint* point, F64 x, F64 y) {
    const LASscaleOffset* so = point->scale_offset;
    I32 nx, ny;
    if (!store(X, nx, x, so->x_offset, so->x_scale_factor) ||
        !store(Y, ny, y, so->y_offset, so->y_scale_factor)) {
      return false;
    }
    point->X = nx;
    point->Y = ny;
    return true;
  }
  // The integer nearest to q (ties to even), or I32_MIN when q is out of
  // range or NaN. Callers only keep an n that lies closer than LIMIT to q.
  static I32 nearest(F64 q) {
#if defined(__SSE2__)
    return _mm_cvtsd_si32(_mm_set_sd(q));
#else
    return nearest_portable(q);
#endif
  }
  static I32 nearest_portable(F64 q) {
    if (!(std::fabs(q) < 2147483647.0)) return I32_MIN;
    // Adding and removing 1.5 * 2^52 rounds to an integer.
    const F64 shifter = 6755399441055744.0;
    return I32((q + shifter) - shifter);
  }

 private:
  static constexpr F64 LIMIT = 0.5 - 1.0 / 65536.0;

  static U64 bits(F64 v) {
    U64 b;
    memcpy(&b, &v, sizeof(b));
    return b;
  }

  void refresh(Axis axis, F64 scale) {
    scale_bits_[axis] = bits(scale);
    const F64 reciprocal = 1.0 / scale;
    reciprocal_[axis] = (scale > 0.0 && std::isnormal(reciprocal)) ? reciprocal : NAN;
  }

#if defined(__SSE2__)
  bool store_xy_sse2(LASpoint* point, F64 x, F64 y) {
    static_assert(offsetof(LASscaleOffset, y_scale_factor) ==
                      offsetof(LASscaleOffset, x_scale_factor) + sizeof(F64),
                  "x and y scale factors are loaded as a pair");
    static_assert(
        offsetof(LASscaleOffset, y_offset) == offsetof(LASscaleOffset, x_offset) + sizeof(F64),
        "x and y offsets are loaded as a pair");
    static_assert(offsetof(LASpoint, Y) == offsetof(LASpoint, X) + sizeof(I32),
                  "X and Y are stored as a pair");
    const LASscaleOffset* so = point->scale_offset;
    const __m128i scale = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&so->x_scale_factor));
    const __m128i known = _mm_load_si128(reinterpret_cast<const __m128i*>(scale_bits_));
    if (LAS_UNLIKELY(_mm_movemask_epi8(_mm_cmpeq_epi32(scale, known)) != 0xFFFF)) {
      refresh_xy(scale);
    }
    const __m128d offset = _mm_loadu_pd(&so->x_offset);
    const __m128d q = _mm_mul_pd(_mm_sub_pd(_mm_set_pd(y, x), offset), _mm_load_pd(reciprocal_));
    const __m128i n = _mm_cvtpd_epi32(q);  // 0x80000000 when out of range or NaN
    const __m128d distance = _mm_andnot_pd(_mm_set1_pd(-0.0), _mm_sub_pd(q, _mm_cvtepi32_pd(n)));
    if (LAS_UNLIKELY(_mm_movemask_pd(_mm_cmplt_pd(distance, _mm_set1_pd(LIMIT))) != 3)) {
      return false;
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(&point->X), n);
    return true;
  }

  // refresh() of X and Y from the bits of both scales.
  void refresh_xy(__m128i scale_bits) {
    _mm_store_si128(reinterpret_cast<__m128i*>(scale_bits_), scale_bits);
    const __m128d reciprocal = _mm_div_pd(_mm_set1_pd(1.0), _mm_castsi128_pd(scale_bits));
    // Normal and positive: between the smallest normal number and the
    // largest finite one; NaN is neither.
    const __m128d normal = _mm_and_pd(_mm_cmpge_pd(reciprocal, _mm_set1_pd(DBL_MIN)),
                                      _mm_cmple_pd(reciprocal, _mm_set1_pd(DBL_MAX)));
    _mm_store_pd(reciprocal_, _mm_or_pd(_mm_and_pd(normal, reciprocal),
                                        _mm_andnot_pd(normal, _mm_set1_pd(NAN))));
  }
#endif

  // The bits of the scale each reciprocal belongs to (bits, so that a NaN
  // scale matches itself). A NaN reciprocal refuses every value, which is
  // also right for the zero scale the cache starts with.
  alignas(16) U64 scale_bits_[3] = {0, 0, 0};
  alignas(16) F64 reciprocal_[3] = {NAN, NAN, NAN};
};
