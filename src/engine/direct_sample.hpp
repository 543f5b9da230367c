// Per-sample arithmetic of the direct modes (nearest neighbour and bilinear): pel indices from
// 16.16 or double positions, clamped into the source window, and the bilinear weights of each pel
// size.
//
// Clamping: the clip test admits samplings whose rounded 16.16 positions land a few 1/65536 pel
// over an edge, and a nearest centre exactly on the far edge. A literal reading would then touch
// the pel beyond the window; every index is therefore clamped into it, which changes results only
// at such samples.
#pragma once

#include "frame/fixed_point.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>

// The source as a direct kernel sees it: the window's first pel, its row stride in pels, its size,
// and the window pel that a kernel's integer position (0, 0) stands for. The base is (0, 0) except
// on sources too large for 16.16, whose tiles are each given positions relative to their own
// origin.
template <typename Pel>
struct DirectSource {
  const Pel* firstPel;
  int32_t stride;
  int32_t width;   // at least 1
  int32_t height;  // at least 1
  int32_t xBase;
  int32_t yBase;
};

// index clamped into 0 .. size - 1.
constexpr int64_t clampPelIndex(int64_t index, int32_t size) {
  return index < 0 ? 0 : (index >= size ? size - 1 : index);
}

// The two pel indices (floor and the one after) of a tap pair, clamped.
struct TapPair {
  int64_t first, second;
};
constexpr TapPair clampTapPair(int64_t index, int32_t size) {
  return {clampPelIndex(index, size), clampPelIndex(index + 1, size)};
}

// The index a double position truncates to (toward zero), limited to -1 .. size: enough to clamp
// both taps correctly without converting a value that does not fit (NaN gives -1).
inline int64_t truncatedIndex(double position, int32_t size) {
  if (!(position > -1.0)) return -1;
  if (position >= static_cast<double>(size)) return size;
  return static_cast<int64_t>(position);
}

// The 16-bit fraction of a double position: (position - its truncation) x 65536 truncated to 32
// bits, low 16 bits kept. Negative positions give the complement, as the truncation implies.
inline uint32_t truncatedFraction16(double position) {
  const double scaled = (position - std::trunc(position)) * 65536.0;
  if (!(scaled > -65536.0 && scaled < 65536.0)) return 0;  // not finite
  return static_cast<uint32_t>(static_cast<int32_t>(scaled)) & 0xFFFFu;
}

template <typename Pel>
inline Pel pelAt(const DirectSource<Pel>& source, int64_t x, int64_t y) {
  return source.firstPel[static_cast<ptrdiff_t>(y) * source.stride + static_cast<ptrdiff_t>(x)];
}

// Nearest neighbour at a 16.16 position: the pel its integer parts name (no half added: the tile
// loops already rounded the start to the nearest 1/65536).
template <typename Pel>
inline uint32_t nearestFixed(const DirectSource<Pel>& source, int32_t x, int32_t y) {
  return pelAt(source, clampPelIndex(int64_t{source.xBase} + fixedIntegerPart(x), source.width),
               clampPelIndex(int64_t{source.yBase} + fixedIntegerPart(y), source.height));
}

template <typename Pel>
inline uint32_t nearestFloat(const DirectSource<Pel>& source, double x, double y) {
  return pelAt(source, clampPelIndex(truncatedIndex(x, source.width), source.width),
               clampPelIndex(truncatedIndex(y, source.height), source.height));
}

// Bilinear weights and rounding by pel size. 8-bit: complements from 0xFFFF, each product shifted
// to 16 bits, sum + 0x8000 >> 16 (flat 255 at a half-pel position gives 254). 16-bit: complements
// from 0x10000 and unshifted products, so that the weights sum to exactly 2^32 and a pel centre
// returns the pel; sum + 0x7FFFFFFF >> 32 in 64 bits.
template <typename Pel>
struct BilinearTraits;
template <>
struct BilinearTraits<uint8_t> {
  static constexpr uint64_t kComplementOf = 0xFFFF;
  static constexpr int kWeightShift = 16;
  static constexpr uint64_t kRounding = 0x8000;
  static constexpr int kValueShift = 16;
};
template <>
struct BilinearTraits<uint16_t> {
  static constexpr uint64_t kComplementOf = 0x10000;
  static constexpr int kWeightShift = 0;
  static constexpr uint64_t kRounding = 0x7FFFFFFF;
  static constexpr int kValueShift = 32;
};

// The four pels around a sample (x, y clamped tap pairs) blended with 16-bit fractions fx, fy.
template <typename Pel>
inline uint32_t bilinearBlend(const DirectSource<Pel>& source, TapPair x, TapPair y, uint32_t fx, uint32_t fy) {
  using Traits = BilinearTraits<Pel>;
  const uint64_t gx = Traits::kComplementOf - fx;
  const uint64_t gy = Traits::kComplementOf - fy;
  const uint64_t w11 = (uint64_t{fx} * fy) >> Traits::kWeightShift;
  const uint64_t w01 = (uint64_t{fy} * gx) >> Traits::kWeightShift;
  const uint64_t w10 = (gy * fx) >> Traits::kWeightShift;
  const uint64_t w00 = (gy * gx) >> Traits::kWeightShift;
  const uint64_t sum = w00 * pelAt(source, x.first, y.first) + w10 * pelAt(source, x.second, y.first) +
                       w01 * pelAt(source, x.first, y.second) + w11 * pelAt(source, x.second, y.second) +
                       Traits::kRounding;
  return static_cast<uint32_t>(sum >> Traits::kValueShift);
}

// Bilinear at a 16.16 position already moved back by half a pel (integer parts: the upper-left pel).
template <typename Pel>
inline uint32_t bilinearFixed(const DirectSource<Pel>& source, int32_t x, int32_t y) {
  return bilinearBlend(source, clampTapPair(int64_t{source.xBase} + fixedIntegerPart(x), source.width),
                       clampTapPair(int64_t{source.yBase} + fixedIntegerPart(y), source.height),
                       static_cast<uint32_t>(fixedFraction(x)), static_cast<uint32_t>(fixedFraction(y)));
}

// Bilinear at a double position already moved back by half a pel: indices by truncation toward
// zero, fractions to 16 bits as truncatedFraction16 says.
template <typename Pel>
inline uint32_t bilinearFloat(const DirectSource<Pel>& source, double x, double y) {
  return bilinearBlend(source, clampTapPair(truncatedIndex(x, source.width), source.width),
                       clampTapPair(truncatedIndex(y, source.height), source.height), truncatedFraction16(x),
                       truncatedFraction16(y));
}
