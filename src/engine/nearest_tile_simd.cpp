// The vector nearest-neighbour kernels, dispatched to the best instruction set Highway finds at
// run time.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "engine/nearest_tile_simd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include "engine/nearest_tile_simd-inl.h"

#if HWY_ONCE

#include "engine/nearest_tile_simd.hpp"

namespace kip {
HWY_EXPORT(TiledNearestTile8);
HWY_EXPORT(TiledNearestTargetName);
}  // namespace kip

namespace {

template <bool kAccumulate>
int32_t tileNearestSimd(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                        int32_t count, int32_t rows, const DirectSource<uint8_t>& source, void* destination,
                        int32_t destinationStride) {
  TileGatherPlan plan{};
  if (!tileGather_plan(source, &plan)) {
    const DirectKernel<uint8_t> scalar = kAccumulate ? affineRowNearestAcc8 : affineRowNearest8;
    return scalar(x, y, rowX, rowY, columnX, columnY, count, rows, source, destination, destinationStride);
  }
  HWY_DYNAMIC_DISPATCH(kip::TiledNearestTile8)(x, y, rowX, rowY, columnX, columnY, count, rows, plan, destination,
                                               destinationStride, kAccumulate);
  return 0;
}

}  // namespace

int32_t affineRowNearestSimd8(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                              int32_t count, int32_t rows, const DirectSource<uint8_t>& source, void* destination,
                              int32_t destinationStride) {
  return tileNearestSimd<false>(x, y, rowX, rowY, columnX, columnY, count, rows, source, destination,
                                destinationStride);
}

int32_t affineRowNearestSimdAcc8(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                                 int32_t count, int32_t rows, const DirectSource<uint8_t>& source,
                                 void* destination, int32_t destinationStride) {
  return tileNearestSimd<true>(x, y, rowX, rowY, columnX, columnY, count, rows, source, destination,
                               destinationStride);
}

const char* nearestTileSimdTargetName() { return HWY_DYNAMIC_DISPATCH(kip::TiledNearestTargetName)(); }

#endif  // HWY_ONCE
