// Vector tile kernels of the tiled bilinear driver for one instruction set; included once per
// Highway target by bilinear_tile_simd.cpp. Each lane computes one sample with the integer
// arithmetic of tiledBilinearSample (bilinear_tile_kernels.hpp), so every target, the scalar one
// included, gives the scalar kernels' bits.

#if defined(KIP_ENGINE_BILINEAR_TILE_SIMD_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KIP_ENGINE_BILINEAR_TILE_SIMD_INL_H_
#undef KIP_ENGINE_BILINEAR_TILE_SIMD_INL_H_
#else
#define KIP_ENGINE_BILINEAR_TILE_SIMD_INL_H_
#endif

#include <hwy/highway.h>

#include "engine/tile_gather-inl.h"
#include "engine/tile_gather.hpp"

#include <cstdint>

HWY_BEFORE_NAMESPACE();
namespace kip {
namespace HWY_NAMESPACE {
namespace tiled_bilinear {
namespace hn = hwy::HWY_NAMESPACE;
using tile_gather::DI;
using tile_gather::DU;
using tile_gather::VI;
using tile_gather::VU;

// One chunk of samples. Two gathers fetch the pels (x0, y) .. (x0 + 3, y) of the two rows; the
// second pel of a pair is the word's second byte, or its first when the clamp put both taps on
// the same column (at the right edge, or left of the source).
struct Sample {
  TileGatherPlan plan;

  HWY_INLINE VU operator()(VU px, VU py) const {
    const DU du;
    const DI di;
    const VI ix = tile_gather::IntegerParts(px), iy = tile_gather::IntegerParts(py);
    const VI one = hn::Set(di, 1);
    const VI x0 = tile_gather::ClampIndex(ix, plan.lastX);
    const VI x1 = tile_gather::ClampIndex(hn::Add(ix, one), plan.lastX);
    const VI y0 = tile_gather::ClampIndex(iy, plan.lastY);
    const VI y1 = tile_gather::ClampIndex(hn::Add(iy, one), plan.lastY);
    const VU top = tile_gather::GatherWords(plan, tile_gather::PelOffsets(plan, x0, y0));
    const VU bottom = tile_gather::GatherWords(plan, tile_gather::PelOffsets(plan, x0, y1));

    const auto sameColumn = hn::RebindMask(du, hn::Eq(x0, x1));
    const VU byte = hn::Set(du, 0xFFu);
    const VU a = hn::And(top, byte), c = hn::And(bottom, byte);
    const VU b = hn::IfThenElse(sameColumn, a, hn::And(hn::ShiftRight<8>(top), byte));
    const VU d = hn::IfThenElse(sameColumn, c, hn::And(hn::ShiftRight<8>(bottom), byte));

    // 16-bit fractions and complements: every product fits an unsigned 32-bit lane.
    const VU fx = tile_gather::Fractions(px), fy = tile_gather::Fractions(py);
    const VU full = hn::Set(du, 0xFFFFu);
    const VU gx = hn::Xor(fx, full), gy = hn::Xor(fy, full);
    const VU wa = hn::ShiftRight<17>(hn::Mul(gx, gy));
    const VU wb = hn::ShiftRight<17>(hn::Mul(fx, gy));
    const VU wc = hn::ShiftRight<17>(hn::Mul(gx, fy));
    const VU wd = hn::ShiftRight<17>(hn::Mul(fx, fy));
    const VU sum = hn::Add(hn::Add(hn::Mul(wa, a), hn::Mul(wb, b)), hn::Add(hn::Mul(wc, c), hn::Mul(wd, d)));
    return hn::ShiftRight<16>(hn::Add(hn::Add(sum, sum), hn::Set(du, 32768u)));
  }
};

}  // namespace tiled_bilinear

// The tile of the scalar kernels' arguments; the caller has checked the plan.
void TiledBilinearTile8(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                        int32_t count, int32_t rows, const TileGatherPlan& plan, void* destination,
                        int32_t destinationStride, bool accumulate) {
  const tiled_bilinear::Sample sample{plan};
  const bool reverse = columnY > 0;
  if (accumulate) {
    tile_gather::WalkTile<true>(x, y, rowX, rowY, columnX, columnY, count, rows, reverse, destination,
                                destinationStride, sample);
  } else {
    tile_gather::WalkTile<false>(x, y, rowX, rowY, columnX, columnY, count, rows, reverse, destination,
                                 destinationStride, sample);
  }
}

const char* TiledBilinearTargetName() { return hwy::TargetName(HWY_TARGET); }

}  // namespace HWY_NAMESPACE
}  // namespace kip
HWY_AFTER_NAMESPACE();

#endif  // include guard
