// Line kernels of the two-pass sampling modes for 8-bit sources, one instruction set per
// inclusion (table_simd.cpp includes this once per Highway target), and the tile walk that feeds
// them; their passes are in table_first_pass-inl.h and table_second_pass-inl.h, lane helpers in
// table_lanes-inl.h.
//
// Lane j of a block holds value (or sample) k0 + j of a pass, at the 16.16 position start + (k0 +
// j) x advance: exactly the position the scalar walk reaches by as many additions, since 32-bit
// wrap-around does not depend on the order of additions. The taps of a block come without
// per-lane memory gathers, which cost more here than the arithmetic they feed:
//   - first pass along x (majorStep +-1, minorStep = the row stride): a block's values lie on
//     consecutive columns, over a few rows. Each of those rows is loaded once as a whole run of
//     columns, and every lane picks the rows of its own taps by a cascade of blends;
//   - second pass, two-pass linear: the line positions of 8 samples lie within 16 bytes of the
//     line (for lineAdvance below 2), so one 16-byte load and byte shuffles deliver every pair;
//   - everything else (first pass along y, two-pass cubic second pass, cubic weights): the bytes
//     of each lane are copied into a small staging array with plain loads, then loaded as vectors.
// A block whose reads would leave the pels it may read (the source, the tile's box, the line in
// use) is computed one value at a time. The last, partial block of a pass that stores repeats
// values of the block before it (the same bits again); a pass that adds into entries runs its
// spare lanes on repeats of lane 0 and keeps only its own. The first passes read each tile's
// source pels from a copy with a short row stride (table_source_box.hpp).
//
// Arithmetic, per value (f the 15-bit fraction, w the cubic weights of the top 8 fraction bits):
//   two-pass linear, both passes: low + (((high - low) x f) >> 15), computed as low + the high
//     half of (2 x (high - low)) x f; equals the portable (high x f + low x (32768 - f)) >> 15;
//   two-pass cubic, first pass: (sum of w x pel + 256) >> 9, an arithmetic shift (rounds toward
//     minus infinity; the portable kernel truncates toward zero);
//   two-pass cubic, second pass: ((sum of w x line value + 0x100000) >> 21) limited to 0 .. 255,
//     equal to the portable result for every input.
// The cubic sums use the packed 16 x 16-bit multiply-add: a 32-bit lane holds two 16-bit taps (or
// weights), low half first, as a weight entry (w0, w1, w2, w3) lies in memory.

#if defined(KIP_ENGINE_TABLE_SIMD_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KIP_ENGINE_TABLE_SIMD_INL_H_
#undef KIP_ENGINE_TABLE_SIMD_INL_H_
#else
#define KIP_ENGINE_TABLE_SIMD_INL_H_
#endif

#include "cache/sample_table.hpp"
#include "engine/table_first_pass-inl.h"
#include "engine/table_lanes-inl.h"
#include "engine/table_next_tile.hpp"
#include "engine/table_second_pass-inl.h"
#include "engine/table_simd.hpp"
#include "engine/table_source_box.hpp"
#include "engine/table_walk.hpp"
#include "frame/fixed_point.hpp"

#include <hwy/highway.h>

#include <cassert>
#include <cstddef>
#include <cstdint>

HWY_BEFORE_NAMESPACE();
namespace kip {
namespace HWY_NAMESPACE {
namespace table_simd {

// The lane steps of a walk's advances, the same for all its rows.
struct LineSteps {
  LaneSteps<D16> minor, minorReversed, line;
  explicit LineSteps(const sampleTableHeader& h)
      : minor(D16(), h.minorAdvance),
        minorReversed(D16(), fixedWrapMultiply(h.minorAdvance, -1)),
        line(D16(), h.lineAdvance) {}
};

// One destination row of one tile: the first pass into the line from lineWrite, the second from
// lineRead into the destination.
template <bool kCubic, bool kAccumulate>
HWY_INLINE void Line(const sampleTableHeader& h, const LineSteps& steps, const simdLineParams& p, void* lineWrite,
                     const void* lineRead) {
  const int32_t count = p.n + (kCubic ? 3 : 1);
#ifndef NDEBUG
  if (count > 0) {
    const auto begin = reinterpret_cast<uintptr_t>(p.lineBuffer), at = reinterpret_cast<uintptr_t>(lineWrite);
    const size_t valueBytes = kCubic ? sizeof(Values8::CubicValue) : sizeof(Values8::LinearValue);
    assert(at >= begin && at - begin + static_cast<uint64_t>(count) * valueBytes <= uint64_t(p.lineBytes));
  }
#endif
  const bool alongRows = (h.majorStep == 1 || h.majorStep == -1) && h.minorStep != 1 && h.minorAdvance >= -0x10000 &&
                         h.minorAdvance <= 0x10000;
  if (alongRows) {
    RunPass(FirstPassRows<kCubic>(h, p, lineWrite, steps.minor, steps.minorReversed), count);
  } else {
    RunPass(FirstPassStaged<kCubic>(h, p, lineWrite), count);
  }
  const int32_t samples = p.outputBytes / (kAccumulate ? 4 : 1);
#if HWY_TARGET != HWY_SCALAR
  if constexpr (!kCubic) {
    if (SecondPassWindows<kAccumulate>::Serves(h.lineAdvance)) {
      RunPass(SecondPassWindows<kAccumulate>(h, p, lineRead, steps.line), samples);
      return;
    }
  }
#endif
  RunPass(SecondPassStaged<kCubic, kAccumulate>(h, p, lineRead), samples);
}

}  // namespace table_simd

// The entry points dispatched at run time.

void TableSimdLineBilinear8(const sampleTableHeader* h, const simdLineParams* p, void* lineWrite,
                            const void* lineRead) {
  table_simd::Line<false, false>(*h, table_simd::LineSteps(*h), *p, lineWrite, lineRead);
}
void TableSimdLineBilinearAcc8(const sampleTableHeader* h, const simdLineParams* p, void* lineWrite,
                               const void* lineRead) {
  table_simd::Line<false, true>(*h, table_simd::LineSteps(*h), *p, lineWrite, lineRead);
}
void TableSimdLineCubic8(const sampleTableHeader* h, const simdLineParams* p, void* lineWrite, const void* lineRead) {
  table_simd::Line<true, false>(*h, table_simd::LineSteps(*h), *p, lineWrite, lineRead);
}
void TableSimdLineCubicAcc8(const sampleTableHeader* h, const simdLineParams* p, void* lineWrite,
                            const void* lineRead) {
  table_simd::Line<true, true>(*h, table_simd::LineSteps(*h), *p, lineWrite, lineRead);
}

// The whole walk with this instruction set's kernels: the tiles, rows and edge values of the
// portable core, each row's remaining values and samples by a kernel above, reading the source
// through a tile's box when scratch (of capacity bytes) is given.
int32_t TableSimdTiles8(const tableWalkSetup* setup, const uint8_t* source, uint8_t* scratch, size_t capacity) {
  // The kernels read the header from the driver's own copy, whose steps are those of the pels
  // they read: the source's or the box's.
  const sampleTableHeader header = setup->table->header;
  sampleTableHeader kernelHeader = header;
  const bool cubic = setup->sampleMode == KIP_SAMPLE_CUBIC2, accumulate = setup->accumulate != 0;
  const int32_t sampleBytes = accumulate ? 4 : 1;
  TableSourceBox box(header, cubic, setup->table->sourceStride, source, setup->lastOffset, scratch, capacity);
  TableNextTile nextTile(header, setup->table->destinationStride, accumulate);
  const table_simd::LineSteps steps(header);
  return tableWalk(*setup, source, [&](const tableRow& row) HWY_ATTR {
    nextTile.row(row);
    const tableSourceView view = box.view(row);
    kernelHeader.majorStep = view.majorStep;
    kernelHeader.minorStep = view.minorStep;
    simdLineParams p{};
    p.source = view.pels;
    p.sourceOffset = view.firstValueOffset;
    p.lastOffset = view.lastOffset;
    p.weights = setup->cubicWeights;
    p.destination = row.destination;
    p.line = row.line;
    p.n = row.n;
    p.outputBytes = header.tileWidth[row.tileType] * sampleBytes;
    p.lineBuffer = row.lineBuffer;
    p.lineBytes = row.lineBytes;
    // The cubic first pass starts one value before the line's first position.
    p.minor = cubic ? fixedWrapAdd(row.minor, fixedWrapMultiply(header.minorAdvance, -1)) : row.minor;
    if (cubic) {
      if (accumulate) {
        table_simd::Line<true, true>(kernelHeader, steps, p, row.lineWrite, row.lineRead);
      } else {
        table_simd::Line<true, false>(kernelHeader, steps, p, row.lineWrite, row.lineRead);
      }
    } else if (accumulate) {
      table_simd::Line<false, true>(kernelHeader, steps, p, row.lineWrite, row.lineRead);
    } else {
      table_simd::Line<false, false>(kernelHeader, steps, p, row.lineWrite, row.lineRead);
    }
    return int32_t{0};
  });
}

const char* TableSimdTargetName() { return hwy::TargetName(HWY_TARGET); }

}  // namespace HWY_NAMESPACE
}  // namespace kip
HWY_AFTER_NAMESPACE();

#endif  // include guard
