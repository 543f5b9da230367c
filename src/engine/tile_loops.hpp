// The tile loops of the direct path: they cut the destination into square tiles and hand each to a
// direct row kernel with the source position of its first sample and the per-row and per-column
// increments.
//
// Coordinates: destination pel (c, r) is sampled at the image of its centre (c + 0.5, r + 0.5)
// under M = T o A o S (S scales the destination grid onto the unit square, A is the sample
// parameters' rectangle, T the source image's image-from-client transform), less the source
// window's origin, so that positions count pels from the window's first pel and pel (i, j) covers
// [i, i + 1) x [j, j + 1).
//
// Extent: with accumulate 0 the destination window's width and height, one pel per sample, the
// window's row stride; with accumulate 1 xCount columns and yCount rows all added into the
// destination's first xCount 32-bit entries.
//
// Bands: a destination window with bandOffset = -b (b >= 0) stands for rows b .. b + height - 1 of
// the whole destination, whose first pel its pel pointer still addresses. The walk keeps the tile
// grid of the whole destination (tile rows at multiples of the tile size): a band that starts
// inside a tile row begins with the lower part of that tile row, its kernel started that many
// rows down the tile. Every sample therefore gets the bits an unbanded run gives it, wherever the
// band starts. A positive bandOffset is refused (KIP_ERR_BAD_SIZE).
//
// Tile order: tile rows outside, or tile columns outside when a destination row runs mostly down
// the source (|column y step| > |row y step|) and the window is not a band. Every tile start is
// computed from its own tile indices, so the order changes only which source pels are near each
// other, never a result.
//
// Every loop returns the first failure of the set-up or of a kernel, else the status of the last
// kernel (0 when there is no tile). Argument failures: KIP_ERR_NULL_POINTER, KIP_ERR_PEL_SIZE,
// KIP_ERR_NO_SAMPLES (counts below 1), KIP_ERR_BAD_SIZE (tile below 1, an empty source, a band
// with a positive offset), KIP_ERR_DEST_TOO_SMALL (an accumulate vector narrower than xCount).
#pragma once

#include <kip/kip.h>

#include "engine/direct_kernels.hpp"

#include <cstdint>

// Which way tiles are visited. Automatic is what every caller uses; the forced orders let tests
// show that the order does not change the result.
enum class TileOrder { automatic, rowMajor, columnMajor };

// 16.16 positions and steps; the source's row stride and height must be below 32768 for the
// kernels' signed 16-bit integer parts (not checked here: the callers choose the loop).
int32_t affineTile_loop8(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                         const kimg_window* destination, const affineSampleParams* params, int32_t tile,
                         DirectKernel<uint8_t> kernel, TileOrder order = TileOrder::automatic);
int32_t affineTile_loop16(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                          const kimg_window* destination, const affineSampleParams* params, int32_t tile,
                          DirectKernel<uint16_t> kernel, TileOrder order = TileOrder::automatic);

// Sources of any size: tile origins in 2.30, each tile's kernel given 16.16 positions relative to
// the pel its origin lies in. Tiles must span less than 32768 pels.
int32_t affineTile_loopLarge8(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                              const kimg_window* destination, const affineSampleParams* params, int32_t tile,
                              DirectKernel<uint8_t> kernel, TileOrder order = TileOrder::automatic);

// Sources of any size, positions in double precision throughout.
int32_t affineTile_loopFloat8(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                              const kimg_window* destination, const affineSampleParams* params, int32_t tile,
                              DirectFloatKernel8 kernel, TileOrder order = TileOrder::automatic);

// The tile edge (and band height) for a source row stride in pels: 224 up to 1024, 96 up to 2048,
// 64 up to 3072, 48 above; shorter rows allow bigger tiles for the same source footprint.
constexpr int32_t affineTile_rowsForStride(int32_t stride) {
  return stride <= 1024 ? 224 : stride <= 2048 ? 96 : stride <= 3072 ? 64 : 48;
}
