// The edge pass of one tile row: the first-pass values whose taps leave the source window are
// computed here, one-sided, or skipped, so that the line kernel reads only pels of the window.
//
// A row has valueCount first-pass values (n + 1 in mode 2; n + 3 in mode 3, whose value 0 lies one
// position before the line's first position). Value j's reference tap q sits at the row's value-0
// offset + j x majorStep + (integer part of its minor accumulator) x minorStep; mode 2 reads q and
// q + minorStep, mode 3 q - minorStep to q + 2 x minorStep. A tap is inside when its whole-pel
// column and row lie in the window (and, as a guard, its pel offset between the first and the last
// pel): offsets alone cannot tell a pel past a row's end from the next row's first pel, and a line
// running along y reaches across the left or right edge in every row, a line along x past the
// right edge with its last first-pass value (one more than the second pass reads).
//
// From each end inwards, values with a tap outside are settled here until one lies wholly inside:
// - a value whose tap pair (mode 2: both taps; mode 3: the middle taps q, q + minorStep) is not
//   inside is skipped: it is written as 0, so that the line never holds stale values;
// - any other is computed with the kernel's arithmetic, its outside taps dropped (their weight is
//   not given to the others): mode 2 q[minorStep] x f >> 15 or q[0] x (32768 - f) >> 15, mode 3
//   the three inside taps, (sum + 256) / 512 truncated toward zero.
// At the end of the line this is the rule of the trailing values; at the start it settles mode 3's
// value before the first position and goes on only while values still leave the buffer, which
// position rounding at the clip test's limits can cause. The kernel computes the values between.
#pragma once

#include "cache/sample_table.hpp"
#include "engine/two_pass_values.hpp"
#include "frame/fixed_point.hpp"

#include <cstddef>
#include <cstdint>

// The values the kernel computes: firstValue .. lastValue (none when lastValue < firstValue).
struct tableEdgeSpan {
  int32_t firstValue;
  int32_t lastValue;
};

template <class Pel>
class TableEdgeRow {
 public:
  // valueMajor and valueMinorBase: the whole-pel major and minor coordinates, in the window, of the
  // position valueOffset addresses; the source's extent follows from lastOffset and the stride.
  TableEdgeRow(const sampleTableHeader& header, bool cubic, const int16_t* cubicWeights, const Pel* source,
               ptrdiff_t stride, ptrdiff_t lastOffset, ptrdiff_t valueOffset, int32_t valueMajor,
               int32_t valueMinorBase, int32_t valueMinor, void* line)
      : h_(header),
        cubic_(cubic),
        weights_(cubicWeights),
        source_(source),
        lastOffset_(lastOffset),
        valueOffset_(valueOffset),
        valueMajor_(valueMajor),
        valueMinorBase_(valueMinorBase),
        valueMinor_(valueMinor),
        line_(line) {
    const int64_t width = stride > 0 ? lastOffset % stride + 1 : lastOffset + 1;
    const int64_t height = stride > 0 ? lastOffset / stride + 1 : 1;
    majorSize_ = header.isYMajor ? height : width;
    minorSize_ = header.isYMajor ? width : height;
  }

  tableEdgeSpan settle(int32_t valueCount) {
    int32_t first = 0;
    while (first < valueCount && !leftToKernel(first)) ++first;
    int32_t last = valueCount - 1;  // first - 1 when every value was settled
    while (last > first && !leftToKernel(last)) --last;
    return {first, last};
  }

 private:
  // True when value j lies wholly inside and is left to the kernel; otherwise writes it here.
  bool leftToKernel(int32_t j) {
    const int32_t minor = fixedWrapAdd(valueMinor_, fixedWrapMultiply(h_.minorAdvance, j));
    const ptrdiff_t step = h_.minorStep;
    const ptrdiff_t q = valueOffset_ + ptrdiff_t{j} * h_.majorStep + ptrdiff_t{fixedIntegerPart(minor)} * step;
    const int64_t major = int64_t{valueMajor_} + int64_t{j} * h_.majorSign;
    const int64_t minorAt = int64_t{valueMinorBase_} + fixedIntegerPart(minor);
    const bool lineInside = major >= 0 && major < majorSize_;
    // Tap d (-1 .. 2) along the minor axis from q.
    const auto inside = [&](int d) {
      const ptrdiff_t offset = q + d * step;
      return lineInside && minorAt + d >= 0 && minorAt + d < minorSize_ && offset >= 0 && offset <= lastOffset_;
    };
    const auto tap = [&](int d) -> int32_t { return inside(d) ? source_[q + d * step] : 0; };
    const bool pairInside = inside(0) && inside(1);
    using T = TwoPassTraits<Pel>;
    if (cubic_) {
      if (pairInside && inside(-1) && inside(2)) return true;
      auto* out = static_cast<typename T::CubicValue*>(line_);
      out[j] = pairInside ? cubicFirstValue<T>(cubicWeightsAt(weights_, minor), tap(-1), tap(0), tap(1), tap(2)) : 0;
    } else {
      if (pairInside) return true;
      // With both taps outside this writes 0: the skipped value.
      auto* out = static_cast<typename T::LinearValue*>(line_);
      out[j] = linearValue<T>(tap(0), tap(1), fixedFraction15(minor));
    }
    return false;
  }

  const sampleTableHeader& h_;
  bool cubic_;
  const int16_t* weights_;
  const Pel* source_;
  ptrdiff_t lastOffset_;
  ptrdiff_t valueOffset_;
  int32_t valueMajor_;
  int32_t valueMinorBase_;
  int32_t valueMinor_;
  void* line_;
  int64_t majorSize_ = 0;  // the window's extent along the major and the minor axis
  int64_t minorSize_ = 0;
};
