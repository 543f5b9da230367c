// Vector tile kernels of the tiled bilinear driver for one instruction set; included once per
// Highway target by bilinear_tile_simd.cpp. Each lane computes one sample with the integer
// arithmetic of tiledBilinearSample (bilinear_tile_kernels.hpp), so every target, the scalar one
// included, gives the scalar kernels' bits.
//
// Where a chunk's four pels a lane come from is a matter of speed only. Tiles that reach outside
// the source gather them with clamped indices. Tiles inside it take, for each block of rows, a box
// of paired source rows (bilinear_box-inl.h) and one gather a chunk; with AVX-512, chunks that lie
// on one source row pair load those rows and permute instead, and tiles whose rows do not cross
// source rows skip the box; without a box, two gathers a chunk.

#if defined(KIP_ENGINE_BILINEAR_TILE_SIMD_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KIP_ENGINE_BILINEAR_TILE_SIMD_INL_H_
#undef KIP_ENGINE_BILINEAR_TILE_SIMD_INL_H_
#else
#define KIP_ENGINE_BILINEAR_TILE_SIMD_INL_H_
#endif

#include <hwy/cache_control.h>
#include <hwy/highway.h>

#include <algorithm>
#include <cstdint>

#include "engine/bilinear_box-inl.h"
#include "engine/tile_gather-inl.h"
#include "engine/tile_gather.hpp"

HWY_BEFORE_NAMESPACE();
namespace kip {
namespace HWY_NAMESPACE {
namespace tiled_bilinear {
namespace hn = hwy::HWY_NAMESPACE;
using tile_gather::DI;
using tile_gather::DU;
using tile_gather::VI;
using tile_gather::VU;

// The samples of a chunk from its positions and, in each lane, the four pels blended: bytes 0 to
// 3 are a = (x, y), b = (x + 1, y), c = (x, y + 1), d = (x + 1, y + 1).
HWY_INLINE VU Blend(VU px, VU py, VU square) {
  const DU du;
  const VU full = hn::Set(du, 0xFFFFu);
#if HWY_TARGET == HWY_SCALAR
  // One lane: the products in 32 bits as written.
  const VU fx = tile_gather::Fractions(px), fy = tile_gather::Fractions(py);
  const VU gx = hn::Xor(fx, full), gy = hn::Xor(fy, full);
  const VU byte = hn::Set(du, 0xFFu);
  const VU a = hn::And(square, byte), b = hn::And(hn::ShiftRight<8>(square), byte);
  const VU c = hn::And(hn::ShiftRight<16>(square), byte), d = hn::ShiftRight<24>(square);
  const VU sum = hn::Add(
      hn::Add(hn::Mul(hn::ShiftRight<17>(hn::Mul(gx, gy)), a), hn::Mul(hn::ShiftRight<17>(hn::Mul(fx, gy)), b)),
      hn::Add(hn::Mul(hn::ShiftRight<17>(hn::Mul(gx, fy)), c), hn::Mul(hn::ShiftRight<17>(hn::Mul(fx, fy)), d)));
#else
  // Pairs of 16-bit halves: (gx x gy) >> 17 is the high half of the 16-bit product shifted once
  // more, so one high multiply gives (wa, wc) and one (wb, wd); each weight is at most 32767 and
  // each pel 255, so a signed multiply-add of 16-bit pairs gives wa a + wc c and wb b + wd d
  // exactly.
  // Each position's fraction in both halves of its lane is one byte shuffle; complements follow by
  // flipping bits.
  const hn::Repartition<uint16_t, DU> d16;
  const hn::Repartition<int16_t, DU> di16;
  const DI di;
  alignas(16) static constexpr uint8_t kLowHalfTwice[16] = {0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13};
  const VU twice = hn::LoadDup128(du, reinterpret_cast<const uint32_t*>(kLowHalfTwice));
  const VU rows = hn::Xor(hn::TableLookupBytes(py, twice), full);  // gy, fy
  const VU fxTwice = hn::TableLookupBytes(px, twice);
  const auto columnsA = hn::BitCast(d16, hn::Not(fxTwice));  // gx, gx
  const auto columnsB = hn::BitCast(d16, fxTwice);
  const auto wac = hn::ShiftRight<1>(hn::MulHigh(columnsA, hn::BitCast(d16, rows)));
  const auto wbd = hn::ShiftRight<1>(hn::MulHigh(columnsB, hn::BitCast(d16, rows)));
  const VU evenBytes = hn::Set(du, 0x00FF00FFu);
  const VU ac = hn::And(square, evenBytes), bd = hn::And(hn::ShiftRight<8>(square), evenBytes);
  auto odd = hn::Zero(di);
  auto even = hn::ReorderWidenMulAccumulate(di, hn::BitCast(di16, ac), hn::BitCast(di16, wac), hn::Zero(di), odd);
  even = hn::ReorderWidenMulAccumulate(di, hn::BitCast(di16, bd), hn::BitCast(di16, wbd), even, odd);
  const VU sum = hn::BitCast(du, hn::RearrangeToOddPlusEven(even, odd));
#endif
  // (2 sum + 32768) >> 16, one shift less.
  return hn::ShiftRight<15>(hn::Add(sum, hn::Set(du, 16384u)));
}

#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
// The widest span of first-pel columns that a chunk on one row pair may have: every lane's pair
// (x, x + 1) must lie in the 64 pels loaded.
constexpr int32_t kRowPairSpan = 62;

// The squares of a chunk whose lanes all blend source rows `row` and `row` + 1, with first pels
// in columns first .. first + length - 2. Instead of two gathers: the length pels of each row are
// loaded once (a masked load, so nothing beyond them is read), paired into 16-bit words (top pel,
// bottom pel) for columns first .. first + 63, and each lane picks the words of its columns x and
// x + 1 by a two-table word permute (Highway 1.0.3 offers none for 16-bit lanes), which gives the
// bytes a, c, b, d; a byte shuffle puts them in the order a, b, c, d of the gathers.
HWY_INLINE VU RowPairSquares(const TileGatherPlan& plan, VI ix, int32_t row, int32_t first, int32_t length) {
  const DU du;
  const hn::Full512<uint8_t> d8;
  const hn::Full256<uint8_t> dHalf;
  const hn::Full512<uint16_t> d16;
  const uint8_t* top = plan.firstPel + static_cast<ptrdiff_t>(row) * plan.stride + first;
  const auto inRow = hn::FirstN(d8, static_cast<size_t>(length));
  const auto upper = hn::MaskedLoad(inRow, d8, top);
  const auto lower = hn::MaskedLoad(inRow, d8, top + plan.stride);
  const auto pair = [&](hn::Vec<decltype(dHalf)> t, hn::Vec<decltype(dHalf)> b) {
    return hn::Or(hn::PromoteTo(d16, t), hn::ShiftLeft<8>(hn::PromoteTo(d16, b)));
  };
  const auto low = pair(hn::LowerHalf(dHalf, upper), hn::LowerHalf(dHalf, lower));
  const auto high = pair(hn::UpperHalf(dHalf, upper), hn::UpperHalf(dHalf, lower));
  const VU column = hn::BitCast(du, hn::Sub(ix, hn::Set(DI(), first)));
  const VU words = hn::Or(column, hn::ShiftLeft<16>(hn::Add(column, hn::Set(du, 1u))));
  return bilinear_box::SquaresInOrder(VU{_mm512_permutex2var_epi16(low.raw, words.raw, high.raw)});
}
#endif

// One chunk of samples. Tiles inside the source (kInside) load each lane's four pels directly.
// Elsewhere two gathers fetch the pels (x0, y) .. (x0 + 3, y) of the two clamped rows; the second
// pel of a pair is the word's second byte, or its first when the clamp put both taps on the same
// column (at the right edge, or left of the source).
template <bool kInside>
struct Sample : tile_gather::WholeStrips {
  TileGatherPlan plan;

  explicit Sample(const TileGatherPlan& p) : plan(p) {}

  // Inside tiles come here when their rows keep to their source rows or when the box is refused
  // (mostly samplings whose rows skip source rows, as a downscale's do): a strip as wide as the
  // usual tile reads each source row in one run, which the processor's prefetchers follow, and
  // there are few source pels that the next row would find in the cache (a 4x downscale runs a
  // tenth faster than with narrow strips).
  static constexpr int32_t StripSamples() { return kInside ? 64 : tile_gather::kStripSamples; }

  // Prefetches the pels a position reads, clamped into the source.
  HWY_INLINE void Prefetch(uint32_t x, uint32_t y) const {
    const int32_t ix = std::clamp<int32_t>(static_cast<int16_t>(x >> 16), 0, plan.lastX);
    const int32_t iy = std::clamp<int32_t>(static_cast<int16_t>(y >> 16), 0, plan.lastY);
    hwy::Prefetch(plan.firstPel + iy * plan.stride + ix);
    hwy::Prefetch(plan.firstPel + std::min(iy + 1, plan.lastY) * plan.stride + ix);
  }

  HWY_INLINE VU operator()(VU px, VU py, tile_gather::ChunkEnds ends) const {
    const VI ix = tile_gather::IntegerParts(px), iy = tile_gather::IntegerParts(py);
    if constexpr (kInside) {
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
      // Inside the source no position wraps, so the integer parts are those of the exact values.
      const auto row = static_cast<int32_t>(ends.firstY >> 16);
      const auto firstColumn = static_cast<int32_t>(ends.firstX >> 16);
      const auto lastColumn = static_cast<int32_t>(ends.lastX >> 16);
      const int32_t left = std::min(firstColumn, lastColumn), span = std::max(firstColumn, lastColumn) - left;
      if (row == static_cast<int32_t>(ends.lastY >> 16) && span <= kRowPairSpan) {
        return Blend(px, py, RowPairSquares(plan, ix, row, left, span + 2));
      }
#endif
      return Blend(px, py, tile_gather::LoadPelSquares(plan, tile_gather::PelOffsets(plan, ix, iy)));
    } else {
      const DU du;
      const VI one = hn::Set(DI(), 1);
      const VI x0 = tile_gather::ClampIndex(ix, plan.lastX);
      const VI x1 = tile_gather::ClampIndex(hn::Add(ix, one), plan.lastX);
      const VI y0 = tile_gather::ClampIndex(iy, plan.lastY);
      const VI y1 = tile_gather::ClampIndex(hn::Add(iy, one), plan.lastY);
      const VU top = tile_gather::GatherWords(plan, tile_gather::PelOffsets(plan, x0, y0));
      const VU bottom = tile_gather::GatherWords(plan, tile_gather::PelOffsets(plan, x0, y1));
      // Each row's pair from the low two bytes of its word, or its first byte twice.
      const VU pair = hn::Set(du, 0xFFFFu), first = hn::Set(du, 0xFFu), twice = hn::Set(du, 0x0101u);
      const auto sameColumn = hn::RebindMask(du, hn::Eq(x0, x1));
      const VU topPair = hn::IfThenElse(sameColumn, hn::Mul(hn::And(top, first), twice), hn::And(top, pair));
      const VU bottomPair = hn::IfThenElse(sameColumn, hn::Mul(hn::And(bottom, first), twice), hn::And(bottom, pair));
      return Blend(px, py, hn::Or(topPair, hn::ShiftLeft<16>(bottomPair)));
    }
  }
};

// Chunks of a tile inside the source from a box of paired rows (bilinear_box-inl.h) for each block
// of a strip's rows that has one, else as Sample<true>.
struct BoxSample : Sample<true> {
  bilinear_box::Box box;
  int32_t rowX, rowY, columnX, columnY;

  BoxSample(const TileGatherPlan& p, uint16_t* words, int32_t rx, int32_t ry, int32_t cx, int32_t cy)
      : Sample<true>(p), box{words}, rowX(rx), rowY(ry), columnX(cx), columnY(cy) {}

  // Strips as wide as the usual tiles: the box stays in the cache across a block's rows, and
  // neighbouring strips, whose boxes overlap, copy fewer pels twice.
  static constexpr int32_t StripSamples() { return 64; }

  // As many rows as fit one box, halving the block until it fits; without a box, the rest.
  HWY_INLINE int32_t BeginRows(uint32_t x, uint32_t y, int32_t, int32_t samples, int32_t rowsLeft) {
    for (int32_t block = rowsLeft;; block = (block + 1) / 2) {
      using Outcome = bilinear_box::Box::Outcome;
      const Outcome outcome = box.Build(plan, x, y, rowX, rowY, columnX, columnY, samples, block);
      if (outcome == Outcome::built) {
        // The same rows of the next strip, or of the next tile along a tile row when the strip is
        // the whole tile.
        bilinear_box::PrefetchBox(plan, int64_t{x} + int64_t{samples} * columnX,
                                  int64_t{y} + int64_t{samples} * columnY, rowX, rowY, columnX, columnY, samples,
                                  block);
        return block;
      }
      if (outcome == Outcome::declined || block == 1) return rowsLeft;
    }
  }

  // A built box holds what the block's rows read; its copy reads rows in order.
  HWY_INLINE void Prefetch(uint32_t x, uint32_t y) const {
    if (!box.built) Sample<true>::Prefetch(x, y);
  }

  HWY_INLINE VU operator()(VU px, VU py, tile_gather::ChunkEnds ends) const {
    if (!box.built) return Sample<true>::operator()(px, py, ends);
    return Blend(px, py, box.Squares(tile_gather::IntegerParts(px), tile_gather::IntegerParts(py)));
  }
};

template <class Values>
HWY_INLINE void Walk(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY, int32_t count,
                     int32_t rows, void* destination, int32_t destinationStride, bool accumulate, Values& sample) {
  const bool reverse = columnY > 0;
  if (accumulate) {
    tile_gather::WalkTile<true>(x, y, rowX, rowY, columnX, columnY, count, rows, reverse, destination,
                                destinationStride, sample);
  } else {
    tile_gather::WalkTile<false>(x, y, rowX, rowY, columnX, columnY, count, rows, reverse, destination,
                                 destinationStride, sample);
  }
}

template <bool kInside>
HWY_INLINE void Tile(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY, int32_t count,
                     int32_t rows, const TileGatherPlan& plan, void* destination, int32_t destinationStride,
                     bool accumulate) {
  if constexpr (kInside) {
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
    // Chunks that cross source rows take the box; on one row pair, the row-pair loads are cheaper.
    const auto n = static_cast<int64_t>(hn::Lanes(DU()));
    const bool boxed = (n - 1) * (columnY < 0 ? -int64_t{columnY} : int64_t{columnY}) >= 0x8000;
#else
    constexpr bool boxed = true;
#endif
    if (boxed) {
      HWY_ALIGN uint16_t words[bilinear_box::kBoxWords];
      BoxSample sample(plan, words, rowX, rowY, columnX, columnY);
      Walk(x, y, rowX, rowY, columnX, columnY, count, rows, destination, destinationStride, accumulate, sample);
      return;
    }
  }
  Sample<kInside> sample(plan);
  Walk(x, y, rowX, rowY, columnX, columnY, count, rows, destination, destinationStride, accumulate, sample);
}

}  // namespace tiled_bilinear

// The tile of the scalar kernels' arguments; the caller has checked the plan. A tile whose every
// lane position (whole chunks) keeps all four taps inside the source skips the clamps.
void TiledBilinearTile8(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                        int32_t count, int32_t rows, const TileGatherPlan& plan, void* destination,
                        int32_t destinationStride, bool accumulate) {
  const auto n = static_cast<int32_t>(hwy::HWY_NAMESPACE::Lanes(tile_gather::DU()));
  const int32_t columns = (count + n - 1) / n * n;
  if (tileGather_inside(x, y, rowX, rowY, columnX, columnY, columns, rows, plan.lastX - 1, plan.lastY - 1)) {
    tiled_bilinear::Tile<true>(x, y, rowX, rowY, columnX, columnY, count, rows, plan, destination, destinationStride,
                               accumulate);
  } else {
    tiled_bilinear::Tile<false>(x, y, rowX, rowY, columnX, columnY, count, rows, plan, destination, destinationStride,
                                accumulate);
  }
}

const char* TiledBilinearTargetName() { return hwy::TargetName(HWY_TARGET); }

}  // namespace HWY_NAMESPACE
}  // namespace kip
HWY_AFTER_NAMESPACE();

#endif  // include guard
