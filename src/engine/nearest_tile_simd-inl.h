// Vector nearest-neighbour tile kernel for one instruction set; included once per Highway target
// by nearest_tile_simd.cpp. Each lane reads the pel its clamped integer parts name, as
// nearestFixed (direct_sample.hpp) does, so every target gives the scalar kernels' bits.

#if defined(KIP_ENGINE_NEAREST_TILE_SIMD_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KIP_ENGINE_NEAREST_TILE_SIMD_INL_H_
#undef KIP_ENGINE_NEAREST_TILE_SIMD_INL_H_
#else
#define KIP_ENGINE_NEAREST_TILE_SIMD_INL_H_
#endif

#include <hwy/cache_control.h>
#include <hwy/highway.h>

#include <algorithm>
#include <cstdint>

#include "engine/tile_gather-inl.h"
#include "engine/tile_gather.hpp"

HWY_BEFORE_NAMESPACE();
namespace kip {
namespace HWY_NAMESPACE {
namespace tiled_nearest {
namespace hn = hwy::HWY_NAMESPACE;
using tile_gather::DI;
using tile_gather::DU;
using tile_gather::VI;
using tile_gather::VU;

// Tiles whose every position names a pel of the source above its last row (kInside) need no
// clamp.
template <bool kInside>
struct Sample : tile_gather::WholeStrips {
  TileGatherPlan plan;

  explicit Sample(const TileGatherPlan& p) : plan(p) {}

  // Prefetches the pels a position reads, clamped into the source.
  HWY_INLINE void Prefetch(uint32_t x, uint32_t y) const {
    const int32_t ix = std::clamp<int32_t>(static_cast<int16_t>(x >> 16), 0, plan.lastX);
    const int32_t iy = std::clamp<int32_t>(static_cast<int16_t>(y >> 16), 0, plan.lastY);
    hwy::Prefetch(plan.firstPel + iy * plan.stride + ix);
  }

  HWY_INLINE VU operator()(VU px, VU py, tile_gather::ChunkEnds) const {
    if constexpr (kInside) {
      const VI offsets = tile_gather::PelOffsets(plan, tile_gather::IntegerParts(px), tile_gather::IntegerParts(py));
      return tile_gather::LoadPels(plan, offsets);
    } else {
      const VI x = tile_gather::ClampIndex(tile_gather::IntegerParts(px), plan.lastX);
      const VI y = tile_gather::ClampIndex(tile_gather::IntegerParts(py), plan.lastY);
      const VU words = tile_gather::GatherWords(plan, tile_gather::PelOffsets(plan, x, y));
      return hn::And(words, hn::Set(DU(), 0xFFu));
    }
  }
};

template <bool kInside>
HWY_INLINE void Tile(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY, int32_t count,
                     int32_t rows, const TileGatherPlan& plan, void* destination, int32_t destinationStride,
                     bool accumulate) {
  Sample<kInside> sample(plan);
  if (accumulate) {
    tile_gather::WalkTile<true>(x, y, rowX, rowY, columnX, columnY, count, rows, false, destination, destinationStride,
                                sample);
  } else {
    tile_gather::WalkTile<false>(x, y, rowX, rowY, columnX, columnY, count, rows, false, destination, destinationStride,
                                 sample);
  }
}

}  // namespace tiled_nearest

// The caller has checked the plan. A tile whose every lane position (whole chunks) names a pel of
// the source above its last row (so that the word each lane gathers stays inside it) skips the
// clamps.
void TiledNearestTile8(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                       int32_t count, int32_t rows, const TileGatherPlan& plan, void* destination,
                       int32_t destinationStride, bool accumulate) {
  const auto n = static_cast<int32_t>(hwy::HWY_NAMESPACE::Lanes(tile_gather::DU()));
  const int32_t columns = (count + n - 1) / n * n;
  if (plan.stride >= 3 &&
      tileGather_inside(x, y, rowX, rowY, columnX, columnY, columns, rows, plan.lastX, plan.lastY - 1)) {
    tiled_nearest::Tile<true>(x, y, rowX, rowY, columnX, columnY, count, rows, plan, destination, destinationStride,
                              accumulate);
  } else {
    tiled_nearest::Tile<false>(x, y, rowX, rowY, columnX, columnY, count, rows, plan, destination, destinationStride,
                               accumulate);
  }
}

const char* TiledNearestTargetName() { return hwy::TargetName(HWY_TARGET); }

}  // namespace HWY_NAMESPACE
}  // namespace kip
HWY_AFTER_NAMESPACE();

#endif  // include guard
