// Highway helpers shared by the vector tile kernels (bilinear_tile_simd-inl.h,
// nearest_tile_simd-inl.h): integer parts and fractions of lane positions, clamped pel indices,
// 32-bit gathers that stay inside the source, and the walk of a tile in strips of chunks of lanes
// with prefetching ahead. Included once per target by each kernel file; everything lives in a
// namespace of its own.
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

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/tile_gather.hpp"

HWY_BEFORE_NAMESPACE();
namespace kip {
namespace HWY_NAMESPACE {
namespace tile_gather {
namespace hn = hwy::HWY_NAMESPACE;

using DU = hn::ScalableTag<uint32_t>;
using DI = hn::RebindToSigned<DU>;
using VU = hn::Vec<DU>;
using VI = hn::Vec<DI>;

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

// Gathers for tiles inside the source (tileGather_inside), which need no clamp.
//
// The pel at each lane's byte offset, in the low byte. The word read reaches three pels past the
// offset, which the caller keeps a row clear of the source's last row.
HWY_INLINE VU LoadPels(const TileGatherPlan& plan, VI offsets) {
  const DU du;
  return hn::And(hn::GatherOffset(du, reinterpret_cast<const uint32_t*>(plan.firstPel), offsets), hn::Set(du, 0xFFu));
}

// The pels at each lane's byte offset and the one after it, and the same two a row below: bytes
// 0 and 1 of the lane from the offset's row, 2 and 3 from the next row. The lower word is read two
// pels early, so that no read passes the pel after the offset on the last row.
HWY_INLINE VU LoadPelSquares(const TileGatherPlan& plan, VI offsets) {
  const DU du;
  const auto* base = reinterpret_cast<const uint32_t*>(plan.firstPel);
  const VU top = hn::GatherOffset(du, base, offsets);
  const VU bottom = hn::GatherOffset(du, base, hn::Add(offsets, hn::Set(DI(), plan.stride - 2)));
  return hn::Or(hn::And(top, hn::Set(du, 0xFFFFu)), hn::And(bottom, hn::Set(du, 0xFFFF0000u)));
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
      // Pel values are 0 .. 255, so keeping each lane's low byte is exact (and cheaper than a
      // saturating demotion).
      const hn::Rebind<uint8_t, DU> d8;
      const auto bytes = hn::TruncateTo(d8, values);
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


// Samples of a row a strip holds: a few chunks, so that the source pels one destination row of a
// strip reads are still in the first-level cache when the next row reads them again. (Rows of a
// large power-of-two stride share cache sets; a whole tile row would evict them.)
constexpr int32_t kStripSamples = 16;

// Samplers that read the source where it lies: strips of kStripSamples, each in one block of rows.
struct WholeStrips {
  static constexpr int32_t StripSamples() { return kStripSamples; }
  HWY_INLINE int32_t BeginRows(uint32_t, uint32_t, int32_t, int32_t, int32_t rowsLeft) { return rowsLeft; }
};

// How many destination rows ahead the walk prefetches source pels.
constexpr uint32_t kPrefetchRows = 8;

// The positions of a chunk's first and last lanes. Positions are linear in the lane, so inside the
// source (no wrap) every lane's integer parts lie between those of the two ends.
struct ChunkEnds {
  uint32_t firstX, firstY, lastX, lastY;
};

// A tile of rows x count samples in chunks of lanes at samples kN .. kN + N - 1 (the last chunk of
// a row may be partial), walked in vertical strips: strips and chunks from the right when reverse
// is set, values.StripSamples() wide. Positions do not depend on the order. values(px, py, ends) computes the chunk whose
// positions are px, py; lanes past the row's end get positions beyond it, which the kernels keep
// inside the source, and are not written. values.Prefetch(x, y) asks for the source pels at a
// position.
//
// Before each block of a strip's rows, values.BeginRows(x, y, first, samples, rowsLeft) sees the
// position of the block's first row and its first sample, the strip's samples (whole chunks) and
// the rows left, and returns how many of them the block takes (at least 1); WholeStrips takes all.
template <bool kAccumulate, class Values>
HWY_INLINE void WalkTile(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                         int32_t count, int32_t rows, bool reverse, void* destination, int32_t destinationStride,
                         Values& values) {
  if (count < 1 || rows < 1) return;
  const DU du;
  const auto n = static_cast<int32_t>(hn::Lanes(du));
  const int32_t chunks = (count + n - 1) / n;
  const int32_t stripSamples = values.StripSamples();
  const int32_t stripChunks = stripSamples > n ? stripSamples / n : 1;
  const int32_t strips = (chunks + stripChunks - 1) / stripChunks;
  const VU laneX = hn::Mul(hn::Iota(du, 0), hn::Set(du, static_cast<uint32_t>(columnX)));
  const VU laneY = hn::Mul(hn::Iota(du, 0), hn::Set(du, static_cast<uint32_t>(columnY)));
  // The source pels of each chunk's two end lanes are prefetched some rows further down: a strip
  // walks down the source, whose rows of a large stride are far apart, and the processor's
  // prefetchers do not follow a walk across them (a 4x downscale runs twice as fast with this).
  const uint32_t aheadRowX = kPrefetchRows * static_cast<uint32_t>(rowX);
  const uint32_t aheadRowY = kPrefetchRows * static_cast<uint32_t>(rowY);
  const uint32_t chunkX = static_cast<uint32_t>(n - 1) * static_cast<uint32_t>(columnX);
  const uint32_t chunkY = static_cast<uint32_t>(n - 1) * static_cast<uint32_t>(columnY);
  for (int32_t step = 0; step < strips; ++step) {
    const int32_t strip = reverse ? strips - 1 - step : step;
    const int32_t firstChunk = strip * stripChunks, endChunk = std::min(chunks, firstChunk + stripChunks);
    ChunkWriter<kAccumulate> writer{static_cast<uint8_t*>(destination), static_cast<uint32_t*>(destination)};
    uint32_t rowStartX = static_cast<uint32_t>(x), rowStartY = static_cast<uint32_t>(y);
    for (int32_t r = 0, blockEnd = 0; r < rows; ++r) {
      if (r == blockEnd) {
        const auto advance = static_cast<uint32_t>(firstChunk * n);
        blockEnd = r + values.BeginRows(rowStartX + advance * static_cast<uint32_t>(columnX),
                                        rowStartY + advance * static_cast<uint32_t>(columnY), firstChunk * n,
                                        (endChunk - firstChunk) * n, rows - r);
      }
      for (int32_t k = 0; k < endChunk - firstChunk; ++k) {
        const int32_t chunk = reverse ? endChunk - 1 - k : firstChunk + k;
        const int32_t first = chunk * n;
        const uint32_t advance = static_cast<uint32_t>(first);
        const uint32_t chunkStartX = rowStartX + advance * static_cast<uint32_t>(columnX);
        const uint32_t chunkStartY = rowStartY + advance * static_cast<uint32_t>(columnY);
        const VU px = hn::Add(hn::Set(du, chunkStartX), laneX);
        const VU py = hn::Add(hn::Set(du, chunkStartY), laneY);
        const uint32_t aheadX = chunkStartX + aheadRowX, aheadY = chunkStartY + aheadRowY;
        values.Prefetch(aheadX, aheadY);
        values.Prefetch(aheadX + chunkX, aheadY + chunkY);
        const ChunkEnds ends{chunkStartX, chunkStartY, chunkStartX + chunkX, chunkStartY + chunkY};
        writer.Write(static_cast<size_t>(first), values(px, py, ends),
                     static_cast<size_t>(std::min(n, count - first)));
      }
      if constexpr (!kAccumulate) writer.pels += destinationStride;
      rowStartX += static_cast<uint32_t>(rowX);
      rowStartY += static_cast<uint32_t>(rowY);
    }
  }
}

}  // namespace tile_gather
}  // namespace HWY_NAMESPACE
}  // namespace kip
HWY_AFTER_NAMESPACE();

#endif  // include guard
