// Tile kernels of the tiled bilinear driver: the driver's own fixed-point interpolation, which is
// not that of the portable bilinear row kernels. Weights are complements from 0xFFFF whose
// products are shifted right by 17 (so each weight is at most 32767 and the four sum to a little
// under 32768), and a sample is (2 x sum + 32768) >> 16. At a pel centre (all fractions 0) the
// only weight is 32767 and every 8-bit pel comes back unchanged.
//
// The kernels take the direct kernels' arguments (DirectKernel<uint8_t>): a tile's first position,
// already moved back by half a pel so that integer parts name the upper-left of the four pels
// blended; the row and column increments; samples per row and rows; the source; the tile's first
// destination pel (or 32-bit entry) and the destination row stride. Within a row the samples run
// right to left when the column step's y is positive (a destination row then runs down the source
// from its end); positions are start + k x step either way, so the order never changes a value.
//
// Every pel index is clamped into the source window, as in the direct kernels.
#pragma once

#include "engine/direct_kernels.hpp"
#include "engine/direct_sample.hpp"
#include "frame/fixed_point.hpp"

#include <cstdint>

// One sample at a 16.16 position (integer parts: the upper-left pel).
inline uint32_t tiledBilinearSample(const DirectSource<uint8_t>& source, int32_t x, int32_t y) {
  const TapPair tx = clampTapPair(int64_t{source.xBase} + fixedIntegerPart(x), source.width);
  const TapPair ty = clampTapPair(int64_t{source.yBase} + fixedIntegerPart(y), source.height);
  const uint32_t fx = static_cast<uint32_t>(fixedFraction(x)), fy = static_cast<uint32_t>(fixedFraction(y));
  const uint32_t gx = 0xFFFFu - fx, gy = 0xFFFFu - fy;
  const uint32_t wa = (gx * gy) >> 17, wb = (fx * gy) >> 17, wc = (gx * fy) >> 17, wd = (fx * fy) >> 17;
  const uint32_t sum = wa * pelAt(source, tx.first, ty.first) + wb * pelAt(source, tx.second, ty.first) +
                       wc * pelAt(source, tx.first, ty.second) + wd * pelAt(source, tx.second, ty.second);
  // The sum stays below 2^25, so the signed shift of the arithmetic is a plain shift here.
  return (2 * sum + 32768) >> 16;
}

// The scalar kernels: the reference every Highway target is checked against.
int32_t affineTileBilinearScalar8(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX,
                                  int32_t columnY, int32_t count, int32_t rows,
                                  const DirectSource<uint8_t>& source, void* destination,
                                  int32_t destinationStride);
int32_t affineTileBilinearScalarAcc8(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX,
                                     int32_t columnY, int32_t count, int32_t rows,
                                     const DirectSource<uint8_t>& source, void* destination,
                                     int32_t destinationStride);

// The same arithmetic with the vectors of the best instruction set Highway finds at run time
// (bilinear_tile_simd.cpp). Sources the vectors cannot index (a base other than (0, 0), a row
// stride above 32767, fewer than four bytes of pels) go to the scalar kernels.
int32_t affineTileBilinearSimd8(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                                int32_t count, int32_t rows, const DirectSource<uint8_t>& source,
                                void* destination, int32_t destinationStride);
int32_t affineTileBilinearSimdAcc8(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX,
                                   int32_t columnY, int32_t count, int32_t rows,
                                   const DirectSource<uint8_t>& source, void* destination,
                                   int32_t destinationStride);

// The name of the instruction set the Simd kernels dispatch to (tests check what really ran).
const char* bilinearTileSimdTargetName();
