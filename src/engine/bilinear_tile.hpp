// The bilinear tile drivers of the optimized 8-bit process: the destination cut into square tiles
// of tileRows pels, each tile sampled by a bilinear tile kernel (bilinear_tile_kernels.hpp) from
// its own start position, in the driver's own 16.16 arithmetic.
//
// Coordinates are those of the tile loops (tile_loops.hpp): destination pel (c, r) is sampled at
// the image of (c + 0.5, r + 0.5) under the source transform after the rectangle after the scale
// by 1 / count, less the source window's origin. Positions carry half a pel less, so that integer
// parts name the upper-left of the four pels blended.
//
// Steps: one destination column and one destination row in 16.16, saturated to 0x7FFFFFFF or
// 0x80000001 beyond 32767 pels; tile steps are tileRows steps taken from the doubles, 0 when a
// tile spans 32768 pels or more. Each tile's start is the previous one's plus a tile step.
//
// Order: tile columns outside when a destination row runs mostly down the source (|column step y|
// > |row step y|) and the window is not a band, tile rows outside otherwise. Every tile start is a
// sum of the same tile steps either way, so the order never changes a result.
//
// Bands: a window with bandOffset = -b stands for rows b .. b + height - 1 of the whole
// destination, whose first pel its pel pointer addresses. The walk skips b / tileRows whole tile
// rows by their tile steps; a band that starts inside a tile row begins that many rows down its
// first tiles, so every sample gets the position an unbanded run gives it.
//
// Extent: accumulate 0 stores the destination window's width x height pels; accumulate 1 adds
// yCount rows of xCount samples into the window's first xCount 32-bit entries.
//
// Returns 0, or the first failure of the set-up (KIP_ERR_NULL_POINTER, KIP_ERR_PEL_SIZE,
// KIP_ERR_NO_SAMPLES, KIP_ERR_BAD_SIZE for a tile edge below 1, a positive bandOffset or an empty
// source, KIP_ERR_DEST_TOO_SMALL for a vector narrower than xCount, KIP_ERR_INTERNAL when the
// driver's pel operation is not the one accumulate asks for, or a math failure) or of a kernel.
// The source's row stride and height must be at most 32767 (the optimized process checks).
#pragma once

#include <kip/kip.h>

#include "engine/direct_kernels.hpp"

#include <cstdint>

// The kernel defaults to the vector kernels; tests pass the scalar ones or a recording kernel.
int32_t affineTile_bilinearStore8(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                                  const kimg_window* destination, const affineSampleParams* params, int32_t tileRows,
                                  DirectKernel<uint8_t> kernel = nullptr);
int32_t affineTile_bilinearAccumulate8(uint32_t accumulate, const kimg_window* source,
                                       const kmath_xformLinear* sourceXform, const kimg_window* destination,
                                       const affineSampleParams* params, int32_t tileRows,
                                       DirectKernel<uint8_t> kernel = nullptr);
