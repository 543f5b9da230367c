// Vector forms of the 8-bit nearest-neighbour row kernels (affineRowNearest8,
// affineRowNearestAcc8): the same arguments and the same bits, a chunk of lanes at a time, on the
// best instruction set Highway finds at run time. Sources the vectors cannot index go to the
// scalar kernels.
#pragma once

#include "engine/direct_kernels.hpp"

#include <cstdint>

int32_t affineRowNearestSimd8(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                              int32_t count, int32_t rows, const DirectSource<uint8_t>& source, void* destination,
                              int32_t destinationStride);
int32_t affineRowNearestSimdAcc8(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                                 int32_t count, int32_t rows, const DirectSource<uint8_t>& source,
                                 void* destination, int32_t destinationStride);

// The name of the instruction set the kernels dispatch to (tests check what really ran).
const char* nearestTileSimdTargetName();
