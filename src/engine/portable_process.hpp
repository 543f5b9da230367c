// The portable affine process: the reference every optimized process is checked against.
//
// Arguments common to every affine process: accumulate (0 stores one pel per destination sample
// into the destination window; 1 adds every sample into the 32-bit entry of its destination column,
// the destination then being a one-row window of 32-bit pels of xCount entries), the source window,
// the source image's linear image-from-client transform, the destination window (its bandOffset
// places a band of rows within the whole destination), the sample parameters and the sample cache
// (already refreshed for this sampling).
#pragma once

#include <kip/kip.h>

#include "cache/cache.hpp"

#include <cstdint>

int32_t affineProcess_portable8(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                                const kimg_window* destination, const affineSampleParams* params,
                                const affineSampleCache* cache);
int32_t affineProcess_portable16(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                                 const kimg_window* destination, const affineSampleParams* params,
                                 const affineSampleCache* cache);
