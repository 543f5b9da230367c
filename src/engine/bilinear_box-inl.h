// A box of paired source rows for the vector bilinear tile kernel; included once per Highway target
// by bilinear_tile_simd-inl.h.
//
// A chunk of a turned sampling reads pels from many source rows, so that its two gathers (one per
// row of each lane's square) dominate its cost, and rows of a large power-of-two stride share the
// first-level cache's sets. For a block of a strip's rows inside the source, the box copies the
// source rectangle the block reads into a small buffer of 16-bit words, word (i, j) holding pels
// (left + i, top + j) and (left + i, top + j + 1): one 32-bit gather at word (x - left, y - top)
// then fetches a lane's four pels a = (x, y), c = (x, y + 1), b = (x + 1, y), d = (x + 1, y + 1),
// from a buffer that stays in the cache.

#if defined(KIP_ENGINE_BILINEAR_BOX_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KIP_ENGINE_BILINEAR_BOX_INL_H_
#undef KIP_ENGINE_BILINEAR_BOX_INL_H_
#else
#define KIP_ENGINE_BILINEAR_BOX_INL_H_
#endif

#include <hwy/cache_control.h>
#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "engine/tile_gather-inl.h"
#include "engine/tile_gather.hpp"

HWY_BEFORE_NAMESPACE();
namespace kip {
namespace HWY_NAMESPACE {
namespace bilinear_box {
namespace hn = hwy::HWY_NAMESPACE;
using tile_gather::DI;
using tile_gather::DU;
using tile_gather::VI;
using tile_gather::VU;
// Box rows are copied 16 words at a time at most: rows are short (a tile's width and height
// turned), and a narrower copy wastes fewer words at each row's end.
using D16 = hn::CappedTag<uint16_t, 16>;

// Words a box may hold: 16 KiB, half the first-level data cache of common processors.
constexpr int32_t kBoxWords = 8192;

// A box is built only when it holds at most this many words per sample of its block: a sampling
// whose rows skip source rows (a downscale) would copy rows that no sample reads.
constexpr int64_t kWordsPerSample = 8;

// Lanes of two (upper pel, lower pel) words, bytes a, c, b, d, with their bytes in the order
// a, b, c, d that the blend takes.
HWY_INLINE VU SquaresInOrder(VU acbd) {
  alignas(16) static constexpr uint8_t kOrder[16] = {0, 2, 1, 3, 4, 6, 5, 7, 8, 10, 9, 11, 12, 14, 13, 15};
  return hn::TableLookupBytes(acbd, hn::LoadDup128(DU(), reinterpret_cast<const uint32_t*>(kOrder)));
}

// The integer parts that a block's samples reach: the extremes of its four corners' positions,
// taken as exact values (positions that wrap give bounds the source checks then refuse).
struct Bounds {
  int64_t lowX, highX, lowY, highY;
};

inline Bounds BoundsOf(int64_t x, int64_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                       int32_t samples, int32_t rows) {
  Bounds b{INT64_MAX, INT64_MIN, INT64_MAX, INT64_MIN};
  for (const int64_t i : {int64_t{0}, int64_t{samples} - 1}) {
    for (const int64_t j : {int64_t{0}, int64_t{rows} - 1}) {
      const int64_t px = (x + i * columnX + j * rowX) >> 16;
      const int64_t py = (y + i * columnY + j * rowY) >> 16;
      b.lowX = std::min(b.lowX, px);
      b.highX = std::max(b.highX, px);
      b.lowY = std::min(b.lowY, py);
      b.highY = std::max(b.highY, py);
    }
  }
  return b;
}

// Asks for the source pels of the box a block starting at the exact position (x, y) would copy,
// as far as they lie in the source: after one block is copied, the next one's pels arrive while
// this one is sampled.
inline void PrefetchBox(const TileGatherPlan& plan, int64_t x, int64_t y, int32_t rowX, int32_t rowY, int32_t columnX,
                        int32_t columnY, int32_t samples, int32_t rows) {
  const Bounds b = BoundsOf(x, y, rowX, rowY, columnX, columnY, samples, rows);
  const int64_t left = std::max<int64_t>(b.lowX, 0), right = std::min<int64_t>(b.highX + 1, plan.lastX);
  const int64_t top = std::max<int64_t>(b.lowY, 0), bottom = std::min<int64_t>(b.highY + 1, plan.lastY);
  for (int64_t j = top; j <= bottom; ++j) {
    const uint8_t* row = plan.firstPel + j * plan.stride;
    for (int64_t i = left; i <= right; i += 64) hwy::Prefetch(row + i);
    if (right >= left) hwy::Prefetch(row + right);
  }
}

struct Box {
  uint16_t* words;  // kBoxWords, vector-aligned
  int32_t left = 0, top = 0, pitch = 0;
  bool built = false;

  enum class Outcome { built, tooLarge, declined };

  // Builds the box of a block: rows 0 .. rows - 1 and samples 0 .. samples - 1 from the 16.16
  // position (x, y) by the steps, all with integer parts in 0 .. lastX - 1 and 0 .. lastY - 1
  // (the tile is inside the source). Builds nothing when the box would not fit the buffer
  // (tooLarge: fewer rows may fit), or would read past the source window's last column by whole
  // vectors or cost more than it saves (declined).
  Outcome Build(const TileGatherPlan& plan, uint32_t x, uint32_t y, int32_t rowX, int32_t rowY, int32_t columnX,
             int32_t columnY, int32_t samples, int32_t rows) {
    built = false;
    // Inside the source no position wraps: the corners' exact values bound every integer part.
    const Bounds b = BoundsOf(x, y, rowX, rowY, columnX, columnY, samples, rows);
    const int64_t lowX = b.lowX, highX = b.highX, lowY = b.lowY, highY = b.highY;
    const D16 d16;
    const auto n16 = static_cast<int64_t>(hn::Lanes(d16));
    const int64_t width = highX + 2 - lowX, height = highY + 1 - lowY;
    const int64_t wordsPerRow = (width + n16 - 1) / n16 * n16;
    if (wordsPerRow * height > kWordsPerSample * samples * rows || lowX + wordsPerRow - 1 > plan.lastX) {
      return Outcome::declined;
    }
    if (wordsPerRow * height > kBoxWords) return Outcome::tooLarge;
    left = static_cast<int32_t>(lowX);
    top = static_cast<int32_t>(lowY);
    pitch = static_cast<int32_t>(wordsPerRow);
    const hn::Rebind<uint8_t, D16> d8;
    for (int32_t j = 0; j < height; ++j) {
      const uint8_t* upper = plan.firstPel + static_cast<ptrdiff_t>(top + j) * plan.stride + left;
      const uint8_t* lower = upper + plan.stride;
      uint16_t* out = words + static_cast<ptrdiff_t>(j) * pitch;
      for (int32_t i = 0; i < pitch; i += static_cast<int32_t>(n16)) {
        const auto first = hn::PromoteTo(d16, hn::LoadU(d8, upper + i));
        const auto second = hn::PromoteTo(d16, hn::LoadU(d8, lower + i));
        hn::Store(hn::Or(first, hn::ShiftLeft<8>(second)), d16, out + i);
      }
    }
    built = true;
    return Outcome::built;
  }

  // Each lane's square, bytes a, b, c, d from the low byte up, as the gathers give it.
  HWY_INLINE VU Squares(VI ix, VI iy) const {
    const DU du;
    const DI di;
    const VI word = hn::Add(hn::Mul(hn::Sub(iy, hn::Set(di, top)), hn::Set(di, pitch)), hn::Sub(ix, hn::Set(di, left)));
    return SquaresInOrder(hn::GatherOffset(du, reinterpret_cast<const uint32_t*>(words), hn::Add(word, word)));
  }
};

}  // namespace bilinear_box
}  // namespace HWY_NAMESPACE
}  // namespace kip
HWY_AFTER_NAMESPACE();

#endif  // include guard
