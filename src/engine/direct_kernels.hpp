// The direct row kernels (nearest neighbour and bilinear): each fills one tile of destination
// samples from the source position of its first sample and the position increments per
// destination row and per destination column.
//
// Arguments, in order: x and y of the first sample; x and y increments per destination row; x and
// y increments per destination column (16.16 in the fixed-point kernels, doubles in the Float
// ones); samples per row; rows; the source (first pel, row stride, size for the clamp, base);
// the destination (first pel of the tile, or first 32-bit entry when accumulating); the destination
// row stride in pels (store kernels only).
//
// Store kernels write one pel per sample and move down one destination row per row. Accumulate
// kernels add every sample into one unsigned 32-bit entry per column and stay on the same entries,
// so the tile is summed along its columns; they never clear an entry. A tile with no rows or no
// samples per row writes nothing. Every kernel returns 0, except that the hooked 16-bit kernel
// passes on a failure of the routine the hook let run.
#pragma once

#include "engine/direct_sample.hpp"

#include <cstdint>

template <typename Pel>
using DirectKernel = int32_t (*)(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                                 int32_t count, int32_t rows, const DirectSource<Pel>& source, void* destination,
                                 int32_t destinationStride);

// The double kernels take one more argument, firstRow: the rows of the tile above the first one to
// compute, which the kernel passes over by its own additions. A band that starts inside a tile
// thus gets the bits of the whole tile's walk (double additions depend on their order, 16.16 ones
// do not, which is why the 16.16 kernels need no such argument).
using DirectFloatKernel8 = int32_t (*)(double x, double y, double rowX, double rowY, double columnX, double columnY,
                                       int32_t count, int32_t rows, const DirectSource<uint8_t>& source,
                                       void* destination, int32_t destinationStride, int32_t firstRow);

// The kernels are instances of four templates: nearest and bilinear, over 16.16 or double
// positions, storing or accumulating. The 16.16 ones serve both pel sizes; the double ones only
// 8-bit sources (16-bit sources too large for 16.16 are refused before any kernel runs).
template <typename Pel, bool kAccumulate>
int32_t directRowNearest(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                         int32_t count, int32_t rows, const DirectSource<Pel>& source, void* destination,
                         int32_t destinationStride);
template <typename Pel, bool kAccumulate>
int32_t directRowBilinear(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                          int32_t count, int32_t rows, const DirectSource<Pel>& source, void* destination,
                          int32_t destinationStride);
template <bool kAccumulate>
int32_t directRowNearestFloat(double x, double y, double rowX, double rowY, double columnX, double columnY,
                              int32_t count, int32_t rows, const DirectSource<uint8_t>& source, void* destination,
                              int32_t destinationStride, int32_t firstRow);
template <bool kAccumulate>
int32_t directRowBilinearFloat(double x, double y, double rowX, double rowY, double columnX, double columnY,
                               int32_t count, int32_t rows, const DirectSource<uint8_t>& source, void* destination,
                               int32_t destinationStride, int32_t firstRow);

// 8-bit, 16.16 positions.
inline constexpr DirectKernel<uint8_t> affineRowNearest8 = directRowNearest<uint8_t, false>;
inline constexpr DirectKernel<uint8_t> affineRowNearestAcc8 = directRowNearest<uint8_t, true>;
inline constexpr DirectKernel<uint8_t> affineRowBilinear8 = directRowBilinear<uint8_t, false>;
inline constexpr DirectKernel<uint8_t> affineRowBilinearAcc8 = directRowBilinear<uint8_t, true>;

// 8-bit, double positions (large sources whose tiles span 32768 pels or more).
inline constexpr DirectFloatKernel8 affineRowNearestFloat8 = directRowNearestFloat<false>;
inline constexpr DirectFloatKernel8 affineRowNearestFloatAcc8 = directRowNearestFloat<true>;
inline constexpr DirectFloatKernel8 affineRowBilinearFloat8 = directRowBilinearFloat<false>;
inline constexpr DirectFloatKernel8 affineRowBilinearFloatAcc8 = directRowBilinearFloat<true>;

// 16-bit, 16.16 positions (the store form of bilinear is reached through affineRowBilinearHooked16).
inline constexpr DirectKernel<uint16_t> affineRowNearest16 = directRowNearest<uint16_t, false>;
inline constexpr DirectKernel<uint16_t> affineRowNearestAcc16 = directRowNearest<uint16_t, true>;
inline constexpr DirectKernel<uint16_t> affineRowBilinear16 = directRowBilinear<uint16_t, false>;
inline constexpr DirectKernel<uint16_t> affineRowBilinearAcc16 = directRowBilinear<uint16_t, true>;

// The optimized 16-bit bilinear tile: there is none yet, so it always declines
// (KIP_ERR_NOT_AVAILABLE).
int32_t affineRowBilinearOptimized16(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                                     int32_t count, int32_t rows, const DirectSource<uint16_t>& source,
                                     void* destination, int32_t destinationStride);

// The 16-bit bilinear store: asks the optimization hook about
// "kip_affineTransformTileBilinearAccurate16Portable" once per tile, offers the tile to
// affineRowBilinearOptimized16 unless forbidden, and runs affineRowBilinear16 whenever that was
// forbidden or declined. A declined status never leaves it.
int32_t affineRowBilinearHooked16(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                                  int32_t count, int32_t rows, const DirectSource<uint16_t>& source, void* destination,
                                  int32_t destinationStride);
