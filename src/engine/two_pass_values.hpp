// Per-value arithmetic of the two-pass sampling modes, shared by the line kernels and the edge pass
// of the table walk, for 8-bit and 16-bit pels.
//
// Two-pass linear (mode 2) weighs two values by a 15-bit fraction f: (high x f + low x (32768 - f))
// >> 15 in unsigned 32 bits, in both passes. Two-pass cubic (mode 3) weighs four values by a row of
// the cubic weight table (units of 1/32768): the first pass keeps the pel scaled by 64 ((sum + 256)
// / 512), the second removes the scale ((sum + 0x100000) / 0x200000) and limits the result to the
// pel range. Both divisions truncate toward zero, as C++ division does.
#pragma once

#include "engine/cubic_weight_table.hpp"

#include <algorithm>
#include <cstdint>

// What differs between the pel sizes: the intermediate values' types and the width of the cubic
// sums (16-bit pels times 16-bit weights overflow 32 bits), and the limit of the result.
template <class PelT>
struct TwoPassTraits;

template <>
struct TwoPassTraits<uint8_t> {
  using Pel = uint8_t;
  using LinearValue = uint8_t;  // mode 2 line: pels
  using CubicValue = int16_t;   // mode 3 line: pels x 64, signed (the kernel overshoots)
  using CubicSum = int32_t;
  static constexpr int32_t kPelMax = 255;
};

template <>
struct TwoPassTraits<uint16_t> {
  using Pel = uint16_t;
  using LinearValue = uint16_t;
  using CubicValue = int32_t;
  using CubicSum = int64_t;
  static constexpr int32_t kPelMax = 65535;
};

inline constexpr uint32_t kLinearOne = 32768;     // 1.0 of the 15-bit linear weights
inline constexpr int32_t kCubicFirstRound = 256;  // first pass: / 512 leaves the pel x 64
inline constexpr int32_t kCubicFirstDivisor = 512;
inline constexpr int32_t kCubicSecondRound = 0x100000;  // second pass: / 0x200000 gives the pel
inline constexpr int32_t kCubicSecondDivisor = 0x200000;

// (high x f + low x (32768 - f)) >> 15: at most the larger input, so it fits the value type.
template <class T>
inline typename T::LinearValue linearValue(uint32_t low, uint32_t high, int32_t fraction15) {
  const uint32_t f = static_cast<uint32_t>(fraction15);
  return static_cast<typename T::LinearValue>((high * f + low * (kLinearOne - f)) >> 15);
}

// The four weights of a 16.16 position's fraction.
inline const int16_t* cubicWeightsAt(const int16_t* weightArray, int32_t position) {
  return weightArray + 4 * cubicWeightIndex(position);
}

// First pass: four pels (or 0 for a tap the edge pass drops) to the pel x 64, in the signed
// value type of the intermediate line.
template <class T>
inline typename T::CubicValue cubicFirstValue(const int16_t* w, int32_t t0, int32_t t1, int32_t t2, int32_t t3) {
  using Sum = typename T::CubicSum;
  const Sum sum = Sum{w[0]} * t0 + Sum{w[1]} * t1 + Sum{w[2]} * t2 + Sum{w[3]} * t3 + kCubicFirstRound;
  return static_cast<typename T::CubicValue>(sum / kCubicFirstDivisor);
}

// Second pass: four line values to a pel, limited to 0 .. the largest pel.
template <class T>
inline int32_t cubicSecondValue(const int16_t* w, const typename T::CubicValue* v) {
  using Sum = typename T::CubicSum;
  const Sum sum = Sum{w[0]} * v[0] + Sum{w[1]} * v[1] + Sum{w[2]} * v[2] + Sum{w[3]} * v[3] + kCubicSecondRound;
  return static_cast<int32_t>(std::clamp<Sum>(sum / kCubicSecondDivisor, 0, T::kPelMax));
}
