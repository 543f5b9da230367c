// 16.16 fixed point, as every sampling path carries positions and steps: a 32-bit value whose
// upper 16 bits, read as a signed 16-bit number, are the integer part and whose lower 16 bits are
// the fraction in 1/65536 pel. Reading the integer part as 16-bit is why the fixed-point paths
// need sources below 32768 pels in stride and height.
//
// Conversions from double live here and only here, so that no kernel does an ad-hoc shift and no
// caller converts a value that could be out of range (undefined behaviour in C++).
#pragma once

#include <cassert>
#include <cstdint>

constexpr int32_t kFixedShift = 16;
constexpr int32_t kFixedOne = 0x10000;   // one pel
constexpr int32_t kFixedHalf = 0x8000;   // half a pel
constexpr int32_t kFixedFractionMask = 0xFFFF;

// Largest magnitude a double may have to be converted: its integer part then fits signed 16 bits.
constexpr double kFixedMaxMagnitude = 32767.0;

// True when x can be converted by toFixed16_16Truncated. False for NaN and infinities.
constexpr bool fitsFixed16_16(double x) { return x >= -kFixedMaxMagnitude && x <= kFixedMaxMagnitude; }

// x * 65536 + 0.5, truncated toward zero: round half up for non-negative x. Only for values that
// passed fitsFixed16_16; the result then lies well inside the 32-bit range.
inline int32_t toFixed16_16Truncated(double x) {
  assert(fitsFixed16_16(x));
  return static_cast<int32_t>(x * static_cast<double>(kFixedOne) + 0.5);
}

// An integer as 16.16; i must fit signed 16 bits for the integer part to read back.
constexpr int32_t fixedFromInt(int32_t i) { return static_cast<int32_t>(static_cast<uint32_t>(i) << kFixedShift); }

// Integer part, read as a signed 16-bit number (also for positions that wrapped around).
constexpr int16_t fixedIntegerPart(int32_t f) { return static_cast<int16_t>(f >> kFixedShift); }

// Fraction in 1/65536, 0 to 65535.
constexpr int32_t fixedFraction(int32_t f) { return f & kFixedFractionMask; }

// Positions advance by 32-bit addition that wraps: start + k x step gives the same bits as k
// additions of step, in any order, which lets vector kernels compute lanes independently.
constexpr int32_t fixedAddWrapping(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
constexpr int32_t fixedMulWrapping(int32_t step, int32_t k) {
  return static_cast<int32_t>(static_cast<uint32_t>(step) * static_cast<uint32_t>(k));
}
