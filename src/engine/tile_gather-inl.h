// Highway helpers shared by the vector tile kernels (bilinear_tile_simd-inl.h,
// nearest_tile_simd-inl.h): lane positions, clamped pel indices, 32-bit gathers that stay inside
// the source, and the walk of a tile's rows in chunks of lanes. Included once per target by each
// kernel file; everything lives in a namespace of its own.
//
// Positions are 16.16 values in unsigned 32-bit lanes: lane k of a chunk that starts at sample i
// holds start + (i + k) x step modulo 2^32, which is exactly the value that i + k additions of the
// step give one sample at a time. Integer parts are read as signed 16 bits by an arithmetic shift.

#if defined(KIP_ENGINE_TILE_GATHER_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KIP_ENGINE_TILE_GATHER_INL_H_
#undef KIP_ENGINE_TILE_GATHER_INL_H_
#else
#define KIP_ENGINE_TILE_GATHER_INL_H_
#endif

#include <hwy/highway.h>

#include "engine/tile_gather.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>

HWY_BEFORE_NAMESPACE();
namespace kip {
namespace HWY_NAMESPACE {
namespace tile_gather {
namespace hn = hwy::HWY_NAMESPACE;

using DU = hn::ScalableTag<uint32_t>;
using DI = hn::RebindToSigned<DU>;
using VU = hn::Vec<DU>;
using VI = hn::Vec<DI>;

// start + (first + k) x step in lane k, with the wrap-around of 32-bit additions.
HWY_INLINE VU LanePositions(int32_t start, int32_t step, int32_t first) {
  const DU du;
  const uint32_t base = static_cast<uint32_t>(start) + static_cast<uint32_t>(step) * static_cast<uint32_t>(first);
  return hn::Add(hn::Set(du, base), hn::Mul(hn::Iota(du, 0), hn::Set(du, static_cast<uint32_t>(step))));
}

// The signed 16-bit integer parts of 16.16 positions.
HWY_INLINE VI IntegerParts(VU positions) { return hn::ShiftRight<16>(hn::BitCast(DI(), positions)); }

// The 16-bit fractions of 16.16 positions.
HWY_INLINE VU Fractions(VU positions) { return hn::And(positions, hn::Set(DU(), 0xFFFFu)); }

HWY_INLINE VI ClampIndex(VI index, int32_t last) {
  const DI di;
  return hn::Min(hn::Max(index, hn::Zero(di)), hn::Set(di, last));
}

// Byte offsets of pels (x, y), both already clamped.
HWY_INLINE VI PelOffsets(const TileGatherPlan& plan, VI x, VI y) {
  return hn::Add(hn::Mul(y, hn::Set(DI(), plan.stride)), x);
}

// The four bytes from each lane's byte offset, the first in the low byte. A lane whose word would
// reach past the source's last pel reads the last four bytes of the source instead and shifts its
// own bytes down; the bytes beyond the last pel then read as 0, and no kernel uses them.
HWY_INLINE VU GatherWords(const TileGatherPlan& plan, VI offsets) {
  const DU du;
  const VI starts = hn::Min(offsets, hn::Set(DI(), plan.lastWordStart));
  const VU words = hn::GatherOffset(du, reinterpret_cast<const uint32_t*>(plan.firstPel), starts);
  const VU shifts = hn::ShiftLeft<3>(hn::BitCast(du, hn::Sub(offsets, starts)));
  return hn::operator>>(words, shifts);
}

// Writes chunk values as pels or adds them into 32-bit entries; `lanes` below the vector's lane
// count writes only that many (the end of a row), through a buffer so that nothing past the row
// is touched.
template <bool kAccumulate>
struct ChunkWriter {
  uint8_t* pels;
  uint32_t* entries;

  HWY_INLINE void Write(size_t first, VU values, size_t lanes) const {
    const DU du;
    const size_t n = hn::Lanes(du);
    if constexpr (kAccumulate) {
      if (lanes == n) {
        hn::StoreU(hn::Add(hn::LoadU(du, entries + first), values), du, entries + first);
        return;
      }
      HWY_ALIGN uint32_t buffer[hn::MaxLanes(du)];
      std::memcpy(buffer, entries + first, lanes * sizeof(uint32_t));
      hn::Store(hn::Add(hn::Load(du, buffer), values), du, buffer);
      std::memcpy(entries + first, buffer, lanes * sizeof(uint32_t));
    } else {
      const hn::Rebind<uint8_t, DI> d8;
      const auto bytes = hn::DemoteTo(d8, hn::BitCast(DI(), values));
      if (lanes == n) {
        hn::StoreU(bytes, d8, pels + first);
        return;
      }
      HWY_ALIGN uint8_t buffer[hn::MaxLanes(d8)];
      hn::Store(bytes, d8, buffer);
      std::memcpy(pels + first, buffer, lanes);
    }
  }
};

// A tile of rows x count samples: rows top to bottom, each in chunks of lanes, from the row's end
// backwards when reverse is set. values(px, py) computes the chunk whose positions are px, py;
// lanes past the row's end get positions beyond it, which the clamped indices keep inside the
// source, and are not written.
template <bool kAccumulate, class Values>
HWY_INLINE void WalkTile(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                         int32_t count, int32_t rows, bool reverse, void* destination, int32_t destinationStride,
                         const Values& values) {
  if (count < 1 || rows < 1) return;
  const DU du;
  const auto n = static_cast<int32_t>(hn::Lanes(du));
  ChunkWriter<kAccumulate> writer{static_cast<uint8_t*>(destination), static_cast<uint32_t*>(destination)};
  const auto chunk = [&](int32_t rowStartX, int32_t rowStartY, int32_t first, int32_t lanes) {
    const VU px = LanePositions(rowStartX, columnX, first);
    const VU py = LanePositions(rowStartY, columnY, first);
    writer.Write(static_cast<size_t>(first), values(px, py), static_cast<size_t>(lanes));
  };
  for (int32_t r = 0; r < rows; ++r) {
    if (reverse) {
      int32_t first = count - n;
      for (; first >= 0; first -= n) chunk(x, y, first, n);
      if (first + n > 0) chunk(x, y, 0, first + n);
    } else {
      int32_t first = 0;
      for (; first + n <= count; first += n) chunk(x, y, first, n);
      if (first < count) chunk(x, y, first, count - first);
    }
    if constexpr (!kAccumulate) writer.pels += destinationStride;
    x = static_cast<int32_t>(static_cast<uint32_t>(x) + static_cast<uint32_t>(rowX));
    y = static_cast<int32_t>(static_cast<uint32_t>(y) + static_cast<uint32_t>(rowY));
  }
}

}  // namespace tile_gather
}  // namespace HWY_NAMESPACE
}  // namespace kip
HWY_AFTER_NAMESPACE();

#endif  // include guard
