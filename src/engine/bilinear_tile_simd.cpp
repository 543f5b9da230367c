// The vector tile kernels of the tiled bilinear driver, dispatched to the best instruction set
// Highway finds at run time; sources the vectors cannot index go to the scalar kernels.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "engine/bilinear_tile_simd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include "engine/bilinear_tile_simd-inl.h"

#if HWY_ONCE

#include "engine/bilinear_tile_kernels.hpp"

namespace kip {
HWY_EXPORT(TiledBilinearTile8);
HWY_EXPORT(TiledBilinearTargetName);
}  // namespace kip

namespace {

template <bool kAccumulate>
int32_t tileBilinearSimd(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                         int32_t count, int32_t rows, const DirectSource<uint8_t>& source, void* destination,
                         int32_t destinationStride) {
  TileGatherPlan plan{};
  if (!tileGather_plan(source, &plan)) {
    const DirectKernel<uint8_t> scalar = kAccumulate ? affineTileBilinearScalarAcc8 : affineTileBilinearScalar8;
    return scalar(x, y, rowX, rowY, columnX, columnY, count, rows, source, destination, destinationStride);
  }
  HWY_DYNAMIC_DISPATCH(kip::TiledBilinearTile8)(x, y, rowX, rowY, columnX, columnY, count, rows, plan, destination,
                                                destinationStride, kAccumulate);
  return 0;
}

}  // namespace

int32_t affineTileBilinearSimd8(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                                int32_t count, int32_t rows, const DirectSource<uint8_t>& source,
                                void* destination, int32_t destinationStride) {
  return tileBilinearSimd<false>(x, y, rowX, rowY, columnX, columnY, count, rows, source, destination,
                                 destinationStride);
}

int32_t affineTileBilinearSimdAcc8(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX,
                                   int32_t columnY, int32_t count, int32_t rows,
                                   const DirectSource<uint8_t>& source, void* destination,
                                   int32_t destinationStride) {
  return tileBilinearSimd<true>(x, y, rowX, rowY, columnX, columnY, count, rows, source, destination,
                                destinationStride);
}

const char* bilinearTileSimdTargetName() { return HWY_DYNAMIC_DISPATCH(kip::TiledBilinearTargetName)(); }

#endif  // HWY_ONCE
