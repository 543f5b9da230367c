// The direct path of the portable process: nearest neighbour (sample mode 0) and bilinear
// (mode 1), through the tile loops with the row kernel for the mode, pel size and process.
#pragma once

#include <kip/kip.h>

#include "engine/direct_kernels.hpp"

#include <cstdint>

// The largest row stride and height whose positions fit the kernels' signed 16-bit integer parts.
inline constexpr int32_t kDirectFixedLimit = 32767;

enum class DirectLoop { fixed, large, floating };

// The loop an 8-bit source is sampled with: 16.16 throughout when its row stride and height are at
// most 32767; otherwise 2.30 tile origins, or doubles when a tile spans 32768 or more units of the
// rectangle along either side (tile x side length / count, in client units), or 32768 or more
// source pels along either axis: a source transform that magnifies would otherwise let the 16.16
// positions inside one tile wrap.
int32_t affineDirect_chooseLoop(const kimg_window* source, const kmath_xformLinear* sourceXform,
                                const affineSampleParams* params, int32_t tile, DirectLoop* loop);

// The row kernel for a sample mode (0 nearest, anything else bilinear) and process (accumulate 1
// adds into 32-bit entries). The 16-bit bilinear store goes through the optimization hook.
DirectKernel<uint8_t> affineDirect_kernel8(uint32_t sampleMode, uint32_t accumulate);
DirectFloatKernel8 affineDirect_floatKernel8(uint32_t sampleMode, uint32_t accumulate);
DirectKernel<uint16_t> affineDirect_kernel16(uint32_t sampleMode, uint32_t accumulate);

// Arguments as affineProcess_portable8, plus the tile edge.
int32_t affineProcess_direct8(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                              const kimg_window* destination, const affineSampleParams* params, int32_t tile);

// The 16-bit direct path: tiles of affineTile_rowsForStride of the source stride;
// KIP_ERR_SOURCE_TOO_LARGE for a source whose row stride or height exceeds 32767 (there are no
// large-source loops for 16-bit pels).
int32_t affineProcess_direct16(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                               const kimg_window* destination, const affineSampleParams* params);
