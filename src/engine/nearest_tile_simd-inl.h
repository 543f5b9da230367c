// Vector nearest-neighbour tile kernel for one instruction set; included once per Highway target
// by nearest_tile_simd.cpp. Each lane reads the pel its clamped integer parts name, as
// nearestFixed (direct_sample.hpp) does, so every target gives the scalar kernels' bits.

#if defined(KIP_ENGINE_NEAREST_TILE_SIMD_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KIP_ENGINE_NEAREST_TILE_SIMD_INL_H_
#undef KIP_ENGINE_NEAREST_TILE_SIMD_INL_H_
#else
#define KIP_ENGINE_NEAREST_TILE_SIMD_INL_H_
#endif

#include <hwy/highway.h>

#include "engine/tile_gather-inl.h"
#include "engine/tile_gather.hpp"

#include <cstdint>

HWY_BEFORE_NAMESPACE();
namespace kip {
namespace HWY_NAMESPACE {
namespace tiled_nearest {
namespace hn = hwy::HWY_NAMESPACE;
using tile_gather::DU;
using tile_gather::VI;
using tile_gather::VU;

struct Sample {
  TileGatherPlan plan;

  HWY_INLINE VU operator()(VU px, VU py) const {
    const VI x = tile_gather::ClampIndex(tile_gather::IntegerParts(px), plan.lastX);
    const VI y = tile_gather::ClampIndex(tile_gather::IntegerParts(py), plan.lastY);
    return hn::And(tile_gather::GatherWords(plan, tile_gather::PelOffsets(plan, x, y)), hn::Set(DU(), 0xFFu));
  }
};

}  // namespace tiled_nearest

// Rows left to right, as the scalar kernels walk them; the caller has checked the plan.
void TiledNearestTile8(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                       int32_t count, int32_t rows, const TileGatherPlan& plan, void* destination,
                       int32_t destinationStride, bool accumulate) {
  const tiled_nearest::Sample sample{plan};
  if (accumulate) {
    tile_gather::WalkTile<true>(x, y, rowX, rowY, columnX, columnY, count, rows, false, destination,
                                destinationStride, sample);
  } else {
    tile_gather::WalkTile<false>(x, y, rowX, rowY, columnX, columnY, count, rows, false, destination,
                                 destinationStride, sample);
  }
}

const char* TiledNearestTargetName() { return hwy::TargetName(HWY_TARGET); }

}  // namespace HWY_NAMESPACE
}  // namespace kip
HWY_AFTER_NAMESPACE();

#endif  // include guard
