// The optimized 8-bit affine process, known to the optimization hook as "kip_affineProcess", and
// the projection process built on it. Arguments are those of every affine process
// (portable_process.hpp). The optimized process may decline (a status for which isDeclined holds);
// its callers then run affineProcess_portable8 with the same arguments.
#pragma once

#include <kip/kip.h>

#include <cstdint>

#include "cache/cache.hpp"

// Declines sources whose row stride or height exceeds 32767 (16.16 integer parts are signed 16
// bits). Nearest and bilinear go to affineProcess_tiled8; the two-pass modes to
// affineProcess_tableOptimized8 over the whole destination (they are never cut into bands); any
// other mode is declined, so that the portable process reports it.
int32_t affineProcess_optimized8(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                                 const kimg_window* destination, const affineSampleParams* params,
                                 const affineSampleCache* cache);

// Nearest neighbour and bilinear in square tiles whose edge follows the source row stride
// (affineTile_rowsForStride): nearest through the tile loop with the vector nearest kernels,
// bilinear through the bilinear tile drivers. Declines any other mode.
int32_t affineProcess_tiled8(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                             const kimg_window* destination, const affineSampleParams* params,
                             const affineSampleCache* cache);

// The two-pass modes on the vector table drivers, from the cache's sampleTable8; the source
// window's first and last pels bound what they read.
// Accumulating, the destination is a projection vector: its entries are cleared first, once the
// drivers' scratch is allocated.
int32_t affineProcess_tableOptimized8(uint32_t accumulate, const affineSampleParams* params,
                                      const affineSampleCache* cache, const kimg_window* source,
                                      const kimg_window* destination);

// The 16-bit process has no optimized form: always KIP_ERR_NOT_AVAILABLE.
int32_t affineProcess_optimized16(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                                  const kimg_window* destination, const affineSampleParams* params,
                                  const affineSampleCache* cache);

// The 8-bit projection: clears the vector's first width entries, then adds every destination row
// into them (accumulate 1), optimized unless the hook forbids "kip_affineProcess" or the optimized
// process declines, portable then.
int32_t affineProcess_project8(const kimg_window* source, const kmath_xformLinear* sourceXform,
                               const kimg_window* vector, const affineSampleParams* params,
                               const affineSampleCache* cache);
