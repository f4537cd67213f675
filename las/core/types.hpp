// Fixed-width names used throughout the library.
#pragma once

#include <cinttypes>
#include <cstdint>

using U8 = uint8_t;
using I8 = int8_t;
using U16 = uint16_t;
using I16 = int16_t;
using U32 = uint32_t;
using I32 = int32_t;
using U64 = uint64_t;
using I64 = int64_t;
using F32 = float;
using F64 = double;

constexpr I32 I32_MIN = INT32_MIN;
constexpr I32 I32_MAX = INT32_MAX;
constexpr U32 U32_MAX = UINT32_MAX;

// The two exceptions of the library.
struct EndOfData {
  int code = -1;
};
struct DecodingError {
  int code = 4711;
};

// Rounds half away from zero; callers range-check before narrowing.
inline I64 round_half_away(double v) {
  return (v >= 0.0) ? I64(v + 0.5) : I64(v - 0.5);
}

// Range-checked conversion of a double to I64; NaN and out-of-range give false.
inline bool double_fits_i64(double v) {
  return v >= -9223372036854775808.0 && v < 9223372036854775808.0;
}
