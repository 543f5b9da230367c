// The source pels one tile's first passes read, copied into a small buffer with a short row
// stride before the tile's rows run.
//
// A tile's rows cross the same source rows again and again, each row of the source a stride
// apart. With strides of a power of two every source row falls into the same few sets of the
// first-level cache, and a tile's hundred-odd rows each sit on a page of their own: the rows
// evict one another long before the next destination row needs them again. Copied once per tile
// into a box of consecutive rows a few dozen bytes long, they stay cached for the whole tile.
//
// Positions: a tile's first-pass values all sit at tileBase + A x majorStep + B x minorStep for a
// whole major index A and minor index B (the integer part of the value's minor accumulator), which
// is (dx, dy) from the pel at tileBase: along x, dx = A x majorStep, dy = B; along y the reverse.
// The box holds the pels at tileBase + dy x stride + dx for dx, dy over the tile's reach; a pel
// outside the source window (by its column and row, so that the caller's pels beside a window
// narrower than its stride are never read) is stored as 0: no value the kernel computes reads one. A row's kernel then runs on the box with the row and column steps of the box.
#pragma once

#include <hwy/cache_control.h>

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cache/sample_table.hpp"
#include "engine/table_walk.hpp"
#include "frame/fixed_point.hpp"

// What a row's kernel reads: pels, the offset of its last readable pel, the steps between
// neighbouring pels along the major and minor axes, and the offset of the row's first value.
struct tableSourceView {
  const uint8_t* pels;
  ptrdiff_t lastOffset;
  int32_t majorStep, minorStep;
  ptrdiff_t firstValueOffset;
};

class TableSourceBox {
 public:
  // Bytes past a box's last row that kernels may read (a word or a run of vector lanes beyond
  // the last pel they use).
  static constexpr size_t kSlack = 64;

  // The largest box a tile of the table can need, or 0 when boxes would be too large to pay:
  // the tile's parallelogram in the source, plus the taps' reach and the values past its ends.
  static size_t capacityFor(const sampleTableHeader& h) {
    const auto pels = [](int32_t fixed) { return (int64_t{fixed} < 0 ? -int64_t{fixed} : int64_t{fixed}) / 65536 + 1; };
    const int64_t width = pels(h.tileColumnAdvanceX) + pels(h.tileRowAdvanceX) + 24;
    const int64_t height = pels(h.tileColumnAdvanceY) + pels(h.tileRowAdvanceY) + 24;
    const int64_t bytes = width * height + static_cast<int64_t>(kSlack);
    return bytes <= kMaxBytes ? static_cast<size_t>(bytes) : 0;
  }

  // scratch (capacity bytes, may be null) holds the boxes; without it every row reads the source.
  TableSourceBox(const sampleTableHeader& h, bool cubic, ptrdiff_t stride, const uint8_t* source, ptrdiff_t lastOffset,
                 uint8_t* scratch, size_t capacity)
      : h_(h),
        lead_(cubic ? 1 : 0),
        valueBytes_(cubic ? 2 : 1),
        alongX_(h.isYMajor == 0),
        stride_(stride),
        source_(source),
        lastOffset_(lastOffset),
        scratch_(scratch),
        capacity_(capacity),
        windowWidth_(stride > 0 ? lastOffset % stride + 1 : lastOffset + 1),
        windowHeight_(stride > 0 ? lastOffset / stride + 1 : 1) {}

  // The view of one row, rows given in walk order: where the kernel's first value lies (the
  // row's first value to compute, or in mode 3 the one before it).
  tableSourceView view(const tableRow& row) {
    const ptrdiff_t kernelOffset = row.sourceOffset - ptrdiff_t{lead_} * h_.majorStep;
    if (rowsLeft_ == 0) startTile(row);
    --rowsLeft_;
    if (!inBox_) return {source_, lastOffset_, h_.majorStep, h_.minorStep, kernelOffset};
    // The kernel's first value sits at major index k + firstValue - lead from the tile's base,
    // k the integer part of the row's line accumulator.
    const int32_t major = fixedIntegerPart(line_) + firstValue(row) - lead_;
    assert(tileBase_ + ptrdiff_t{major} * h_.majorStep == kernelOffset);
    line_ = fixedWrapAdd(line_, h_.rowLineAdvance);
    prefetchNext();
    return {scratch_, boxLast_, boxMajorStep_, boxMinorStep_, boxBase_ + ptrdiff_t{major} * boxMajorStep_};
  }

 private:
  static constexpr int64_t kMaxBytes = 1 << 20;

  // At a tile's first row: the tile's reach from its rows' start values, then the copy.
  void startTile(const tableRow& row) {
    rowsLeft_ = h_.tileHeight[row.tileType];
    line_ = row.line;
    inBox_ = false;
    const bool lastColumn = ++tileColumn_ == h_.tilesAcross;
    if (lastColumn) tileColumn_ = 0;
    if (scratch_ == nullptr) return;
    // Undo the walk's steps from value 0 to the row's first value to compute, then from the
    // tile's base to value 0 of row 0 (whose line accumulator has integer part 0).
    const int32_t from = firstValue(row) + lead_;
    tileBase_ = row.sourceOffset - ptrdiff_t{from - lead_} * h_.majorStep;
    assert(tileBase_ == ptrdiff_t{row.tileBaseY} * stride_ + row.tileBaseX);
    const int32_t minorBase = fixedWrapAdd(row.minor, fixedWrapMultiply(h_.minorAdvance, lead_ - from));
    const int32_t count = h_.firstPassCount[row.tileType] + 1 + 2 * lead_;

    // Whole major and minor indexes of every value of every row (both are monotonic along a row).
    int32_t majorMin = INT32_MAX, majorMax = INT32_MIN, minorMin = INT32_MAX, minorMax = INT32_MIN;
    int32_t line = row.line, minor = minorBase;
    for (int32_t r = 0; r < rowsLeft_; ++r) {
      const int32_t k = fixedIntegerPart(line) - lead_;
      const int32_t first = fixedIntegerPart(fixedWrapAdd(minor, fixedWrapMultiply(h_.minorAdvance, k)));
      const int32_t last = fixedIntegerPart(fixedWrapAdd(minor, fixedWrapMultiply(h_.minorAdvance, k + count - 1)));
      majorMin = std::min(majorMin, k), majorMax = std::max(majorMax, k + count - 1);
      minorMin = std::min({minorMin, first, last}), minorMax = std::max({minorMax, first, last});
      line = fixedWrapAdd(line, h_.rowLineAdvance);
      minor = fixedWrapAdd(minor, h_.rowMinorAdvance);
    }
    // Taps reach one pel back and two on across the major axis in mode 3 (one on in mode 2);
    // kernels read whole words, up to 3 bytes past a pel along x.
    const int64_t sign = h_.majorSign;
    const int64_t majorLow = std::min(sign * majorMin, sign * majorMax);
    const int64_t majorHigh = std::max(sign * majorMin, sign * majorMax);
    const int64_t minorLow = int64_t{minorMin} - lead_, minorHigh = int64_t{minorMax} + 1 + lead_;
    const int64_t x0 = alongX_ ? majorLow : minorLow, x1 = (alongX_ ? majorHigh : minorHigh) + 3;
    const int64_t y0 = alongX_ ? minorLow : majorLow, y1 = alongX_ ? minorHigh : majorHigh;
    const int64_t width = x1 - x0 + 1, height = y1 - y0 + 1;
    if (width * height + static_cast<int64_t>(kSlack) > static_cast<int64_t>(capacity_)) return;

    for (int64_t i = 0; i < height; ++i) copyRow(row.tileBaseY + y0 + i, row.tileBaseX + x0, width, scratch_ + i * width);
    std::memset(scratch_ + height * width, 0, kSlack);
    inBox_ = true;
    boxBase_ = -y0 * width - x0;
    boxLast_ = height * width + static_cast<ptrdiff_t>(kSlack) - 1;
    const int32_t boxStride = static_cast<int32_t>(width);
    boxMajorStep_ = alongX_ ? h_.majorSign : h_.majorSign * boxStride;
    boxMinorStep_ = alongX_ ? boxStride : 1;

    // The next tile's box lies about one tile step on: the column step, or at the end of a tile
    // row the row step back to the first column. Its rows are fetched a few per destination row.
    int64_t stepX = h_.tileColumnAdvanceX, stepY = h_.tileColumnAdvanceY;
    if (lastColumn) {
      stepX = h_.tileRowAdvanceX - int64_t{h_.tilesAcross - 1} * h_.tileColumnAdvanceX;
      stepY = h_.tileRowAdvanceY - int64_t{h_.tilesAcross - 1} * h_.tileColumnAdvanceY;
    }
    nextFirst_ = tileBase_ + ((stepY + 0x8000) >> 16) * stride_ + ((stepX + 0x8000) >> 16) + y0 * stride_ + x0;
    nextRow_ = 0;
    boxRows_ = height;
    boxWidth_ = width;
    rowsPerPrefetch_ = (height + rowsLeft_ - 1) / rowsLeft_;
  }

  // Asks for the next rows of the next tile's box, as far as they lie inside the source.
  void prefetchNext() {
    for (int64_t end = std::min(nextRow_ + rowsPerPrefetch_, boxRows_); nextRow_ < end; ++nextRow_) {
      const ptrdiff_t first = nextFirst_ + nextRow_ * stride_;
      for (ptrdiff_t at = first; at < first + boxWidth_; at += 64) {
        if (at >= 0 && at <= lastOffset_) hwy::Prefetch(source_ + at);
      }
    }
  }

  int32_t firstValue(const tableRow& row) const {
    return static_cast<int32_t>(
        (static_cast<const unsigned char*>(row.lineWrite) - static_cast<const unsigned char*>(row.lineBuffer)) /
        valueBytes_);
  }

  // The bytes of window row y from column x on, those outside the window as 0.
  void copyRow(int64_t y, int64_t x, int64_t bytes, uint8_t* to) const {
    const int64_t begin = std::max<int64_t>(x, 0), end = std::min(x + bytes, windowWidth_);
    if (y < 0 || y >= windowHeight_ || end <= begin) {
      std::memset(to, 0, static_cast<size_t>(bytes));
      return;
    }
    std::memset(to, 0, static_cast<size_t>(begin - x));
    std::memcpy(to + (begin - x), source_ + y * stride_ + begin, static_cast<size_t>(end - begin));
    std::memset(to + (end - x), 0, static_cast<size_t>(x + bytes - end));
  }

  const sampleTableHeader& h_;
  int32_t lead_, valueBytes_;
  bool alongX_;
  ptrdiff_t stride_;
  const uint8_t* source_;
  ptrdiff_t lastOffset_;
  uint8_t* scratch_;
  size_t capacity_;
  int64_t windowWidth_, windowHeight_;

  int32_t rowsLeft_ = 0;
  uint32_t tileColumn_ = 0;
  int32_t line_ = 0;  // the row's 16.16 line accumulator
  bool inBox_ = false;
  ptrdiff_t nextFirst_ = 0;
  int64_t nextRow_ = 0, boxRows_ = 0, boxWidth_ = 0, rowsPerPrefetch_ = 0;
  ptrdiff_t tileBase_ = 0, boxBase_ = 0, boxLast_ = 0;
  int32_t boxMajorStep_ = 0, boxMinorStep_ = 0;
};
