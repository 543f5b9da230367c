// Fixed-point helpers used across the library. Positions and steps are 16.16 values in 32 bits
// whose integer part is read as a signed 16-bit number; all wrap-around is integer addition on
// unsigned 32 bits, which behaves the same in any order of additions.
#pragma once

#include <kip/kip.h>

#include <cassert>
#include <cmath>
#include <cstdint>

inline constexpr int32_t kFixedOne = 0x10000;
inline constexpr int32_t kFixedHalf = 0x8000;

// Largest magnitude, in pels, that a position may have before toFixed16_16Truncated: its integer
// part then fits signed 16 bits.
inline constexpr double kFixedMaxMagnitude = 32767.0;

// The low 32 bits of a wider value, as two's complement.
constexpr int32_t wrapToInt32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

// Integer part of a 16.16 value, read as signed 16 bits.
constexpr int32_t fixedIntegerPart(int32_t value) { return static_cast<int16_t>(static_cast<uint32_t>(value) >> 16); }

// Fraction of a 16.16 value: its low 16 bits, 0 to 0xFFFF.
constexpr int32_t fixedFraction(int32_t value) { return value & 0xFFFF; }

// value with its integer part moved by integer, wrapping like the 32-bit additions that carry it.
constexpr int32_t fixedAddInteger(int32_t value, int32_t integer) {
  return static_cast<int32_t>(static_cast<uint32_t>(value) + (static_cast<uint32_t>(integer) << 16));
}

// scaled truncated toward zero and reduced modulo 2^32, the way steps wider than 16 bits of
// integer part wrap when they are carried by 32-bit additions. Refused only when the truncation
// itself would be undefined (not finite, or 2^63 or more in magnitude).
inline int32_t truncateWrapped32(double scaled, int32_t* out) {
  if (!std::isfinite(scaled)) return KIP_ERR_NOT_FINITE;
  if (!(scaled > -9223372036854775808.0 && scaled < 9223372036854775808.0)) return KIP_ERR_OUT_OF_RANGE;
  *out = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(scaled))));
  return 0;
}

// A 16.16 step: value x 65536 truncated toward zero, wrapped to 32 bits.
inline int32_t fixedStepFromDouble(double value, int32_t* out) { return truncateWrapped32(value * 65536.0, out); }

// A 16.16 position to the nearest 1/65536 (value x 65536 + 0.5 truncated toward zero), wrapped.
inline int32_t fixedPositionFromDouble(double value, int32_t* out) {
  return truncateWrapped32(value * 65536.0 + 0.5, out);
}

// 2.30 values: 64 bits with 30 fraction bits, for tile origins on sources too large for 16.16.
inline constexpr int kFixed30FractionBits = 30;
inline constexpr double kFixed30One = 1073741824.0;  // 2^30

// Sum and multiple with 64-bit wrap-around, like the additions that carry tile origins.
constexpr int64_t fixed30WrapAdd(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
constexpr int64_t fixed30WrapMultiply(int64_t value, int64_t count) {
  return static_cast<int64_t>(static_cast<uint64_t>(value) * static_cast<uint64_t>(count));
}

// scaled truncated toward zero to 64 bits; refused when that is undefined.
inline int32_t truncate64(double scaled, int64_t* out) {
  if (!std::isfinite(scaled)) return KIP_ERR_NOT_FINITE;
  if (!(scaled > -9223372036854775808.0 && scaled < 9223372036854775808.0)) return KIP_ERR_OUT_OF_RANGE;
  *out = static_cast<int64_t>(scaled);
  return 0;
}

// A 2.30 position to the nearest 2^-30, halves upward on both sides of 0 (the negative side stops
// just short of the half).
inline int32_t fixed30PositionFromDouble(double value, int64_t* out) {
  const double scaled = value * kFixed30One;
  return truncate64(value >= 0.0 ? scaled + 0.5 : scaled - 0.4999999999, out);
}

// A 2.30 step: value x 2^30 truncated toward zero.
inline int32_t fixed30StepFromDouble(double value, int64_t* out) { return truncate64(value * kFixed30One, out); }

// Integer part of a 2.30 value (floor: arithmetic shift).
constexpr int64_t fixed30IntegerPart(int64_t value) { return value >> kFixed30FractionBits; }

// The fraction of a 2.30 value as a 16.16 position, rounded to the nearest 1/65536: 0 to 0x10000
// (a fraction that rounds up to one pel gives 0x10000, integer part 1).
constexpr int32_t fixed30FractionToFixed(int64_t value) {
  return static_cast<int32_t>(((static_cast<uint32_t>(static_cast<uint64_t>(value)) & 0x3FFFE000u) + 0x2000u) >> 14);
}

// value x 65536 truncated toward zero, refused when it is not finite or does not fit 32 bits
// (the conversion would otherwise be undefined).
inline int32_t fixedFromDouble(double value, int32_t* out) {
  const double scaled = value * 65536.0;
  if (!std::isfinite(scaled)) return KIP_ERR_NOT_FINITE;
  if (scaled <= -2147483649.0 || scaled >= 2147483648.0) return KIP_ERR_OUT_OF_RANGE;
  *out = static_cast<int32_t>(scaled);
  return 0;
}

// True when value may go to toFixed16_16Truncated; false for NaN and infinities.
constexpr bool fitsFixed16_16(double value) { return value >= -kFixedMaxMagnitude && value <= kFixedMaxMagnitude; }

// value x 65536 + 0.5 truncated toward zero (round half up for non-negative values), for values
// that passed fitsFixed16_16: the range test comes first so that the conversion is always defined.
inline int32_t toFixed16_16Truncated(double value) {
  assert(fitsFixed16_16(value));
  return static_cast<int32_t>(value * 65536.0 + 0.5);
}

// Sums and multiples of 16.16 values with the wrap-around of 32-bit integer addition: a position
// carried by k additions of step equals fixedWrapAdd(start, fixedWrapMultiply(step, k)).
constexpr int32_t fixedWrapAdd(int32_t value, int32_t step) {
  return static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(step));
}
constexpr int32_t fixedWrapMultiply(int32_t step, int32_t count) {
  return static_cast<int32_t>(static_cast<uint32_t>(step) * static_cast<uint32_t>(count));
}

// The 15-bit fraction of a 16.16 value (its 16-bit fraction halved), the weight of the two-pass
// linear interpolation.
constexpr int32_t fixedFraction15(int32_t value) { return (value & 0xFFFF) >> 1; }

// A 16.16 pel step that saturates instead of wrapping: beyond 32767 pels either way it becomes
// 0x7FFFFFFF or 0x80000001, so that a huge step keeps its sign. Refused only for NaN.
inline int32_t fixedSaturatedStep(double value, int32_t* out) {
  if (std::isnan(value)) return KIP_ERR_NOT_FINITE;
  if (value > 32767.0) {
    *out = 0x7FFFFFFF;
  } else if (value < -32767.0) {
    *out = -0x7FFFFFFF;
  } else {
    *out = static_cast<int32_t>(value * 65536.0);
  }
  return 0;
}

// A 16.16 step over a whole tile (span = tile x pel step): truncated when the tile spans less than
// 32768 pels, else 0 (NaN included), since such a step no longer fits the signed integer part.
inline int32_t fixedTileStep(double span) {
  return span > -32768.0 && span < 32768.0 ? static_cast<int32_t>(span * 65536.0) : 0;
}
