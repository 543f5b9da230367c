// The tile walk of the two-pass modes: tiles in row-major order, the start values of each tile,
// the accumulators of each destination row and the edge pass, handing each row to a callback with
// the arguments of a line kernel. The portable core calls a line kernel there; an optimized driver
// can call its own kernel and produce the same bits, since every position comes from here.
//
// Coordinates: 16.16 source positions are measured from the source window's first pel, with pel
// centres at whole numbers (the table's start already has the half pel removed). The line
// accumulator L runs along the major axis in the major sense (majorSign), from the row's major
// base position; the minor accumulator M across it, at whole major positions.
#pragma once

#include "cache/sample_table.hpp"
#include "engine/table_edge.hpp"
#include "engine/two_pass_values.hpp"
#include "frame/fixed_point.hpp"

#include <kip/kip.h>

#include <cstddef>
#include <cstdint>

struct tableWalkSetup {
  uint32_t accumulate;          // 1: destination is a row of 32-bit entries that every row adds into
  uint32_t sampleMode;          // 2 or 3
  const sampleTable* table;     // built by the cache refresh for this geometry
  const int16_t* cubicWeights;  // mode 3
  ptrdiff_t lastOffset;         // pel offset of the source's last pel from its first
  void* destination;            // first pel, or first 32-bit entry
};

// One row of one tile: the arguments of the line kernel (line_kernels.hpp) and the line in use.
struct tableRow {
  int32_t tileType;
  int32_t n;
  int32_t minor;
  int32_t line;
  ptrdiff_t sourceOffset;
  void* lineWrite;
  const void* lineRead;
  void* destination;
  void* lineBuffer;  // the intermediate line in use and its size in bytes
  int32_t lineBytes;
  int32_t tileBaseX, tileBaseY;  // the window column and row of the pel at the tile's base offset
};

namespace table_walk_detail {

struct TileStart {
  int32_t line;   // g: 16.16 line accumulator of the tile's first row, integer part 0
  int32_t minor;  // m: its fraction is the first minor accumulator, its integer part moves the base
};

// The start values of a tile from its 16.16 start position P.
inline TileStart tileStart(const sampleTableHeader& h, int32_t px, int32_t py) {
  const int32_t majorPosition = h.isYMajor ? py : px;
  const int32_t minorPosition = h.isYMajor ? px : py;
  // A zero fraction counts as 1/65536, as the builder's nudge makes it for the first tile.
  int32_t fraction = fixedFraction(majorPosition);
  if (fraction == 0) fraction = 1;
  const int32_t g = fixedFraction(h.majorSign * fraction);
  // Move the minor position back from the sample to the major base position below it.
  const int64_t back =
      ((int64_t{fixedFraction(h.minorAdvance)} * g) >> 16) + int64_t{fixedIntegerPart(h.minorAdvance)} * g;
  return {g, wrapToInt32(int64_t{fixedFraction(minorPosition)} - back)};
}

// Spare intermediate line for rows the slot's buffer cannot hold: the builder sizes the buffer
// from the tile width and the map's scale, which for a tile one sample wide under a magnifying
// map (scale below 1) leaves one value too few in the 8-bit modes. Such rows need at most five
// values.
inline constexpr size_t kSpareLineBytes = 64;

inline int tileType(uint32_t column, uint32_t row, const sampleTableHeader& h) {
  const bool lastColumn = column + 1 == h.tilesAcross, lastRow = row + 1 == h.tilesDown;
  return lastColumn ? (lastRow ? 3 : 1) : (lastRow ? 2 : 0);
}

}  // namespace table_walk_detail

// Walks every tile and row; onRow(const tableRow&) returns a status, and the first negative one
// ends the walk. Returns the last status, 0 when there is no row. Fails with KIP_ERR_INTERNAL,
// before its first row, when a tile's rows cannot fit any line.
//
// The table path is never split into bands (the threaded process runs modes 2 and 3 whole), so
// the walk always starts at the destination's first row: there is no band offset here.
template <class Pel, class OnRow>
int32_t tableWalk(const tableWalkSetup& setup, const Pel* source, OnRow&& onRow) {
  using namespace table_walk_detail;
  using T = TwoPassTraits<Pel>;
  const sampleTable& table = *setup.table;
  const sampleTableHeader& h = table.header;
  const bool cubic = setup.sampleMode == 3;
  const int32_t lead = cubic ? 1 : 0;  // mode 3 starts one value before the line's first position
  const size_t valueBytes = cubic ? sizeof(typename T::CubicValue) : sizeof(typename T::LinearValue);
  const ptrdiff_t stride = table.sourceStride;
  const ptrdiff_t sampleBytes = setup.accumulate ? sizeof(uint32_t) : sizeof(Pel);
  const ptrdiff_t rowBytes = setup.accumulate ? 0 : ptrdiff_t{table.destinationStride} * ptrdiff_t{sizeof(Pel)};

  // Every tile type's rows must fit the slot's line or the spare one, and hold the values that
  // the second pass reads; tested before any pel is written.
  alignas(8) unsigned char spare[kSpareLineBytes];
  void* lines[4];
  int32_t lineBytes[4];
  for (int t = 0; t < 4; ++t) {
    const int64_t values = int64_t{h.firstPassCount[t]} + 1 + 2 * lead;
    const int64_t bytes = values * static_cast<int64_t>(valueBytes);
    if (values < 2 + 2 * lead) return KIP_ERR_INTERNAL;
    if (bytes <= table.lineBufferSize && table.lineBuffer != nullptr) {
      lines[t] = table.lineBuffer;
      lineBytes[t] = table.lineBufferSize;
    } else if (bytes <= static_cast<int64_t>(sizeof(spare))) {
      lines[t] = spare;
      lineBytes[t] = static_cast<int32_t>(sizeof(spare));
    } else {
      return KIP_ERR_INTERNAL;
    }
  }

  int32_t status = 0;
  int32_t tileRowX = h.startX, tileRowY = h.startY;
  // Destination positions are byte offsets until they address a row: the steps past the last
  // tile or row would leave the destination.
  auto* const destination = static_cast<unsigned char*>(setup.destination);
  ptrdiff_t tileRowDestination = 0;
  for (uint32_t tileRow = 0; tileRow < h.tilesDown; ++tileRow) {
    int32_t px = tileRowX, py = tileRowY;
    ptrdiff_t tileDestination = tileRowDestination;
    for (uint32_t tileColumn = 0; tileColumn < h.tilesAcross; ++tileColumn) {
      const int type = tileType(tileColumn, tileRow, h);
      // The first tile starts from the builder's values, which carry its nudge of the start.
      const TileStart start =
          tileRow == 0 && tileColumn == 0 ? TileStart{h.lineStart, h.minorStart} : tileStart(h, px, py);
      // The major base position is the whole pel at or below the start in the major sense: one
      // pel further along +x (or +y) when the major axis runs backwards.
      const ptrdiff_t base = ptrdiff_t{fixedIntegerPart(py)} * stride + fixedIntegerPart(px) +
                             ptrdiff_t{fixedIntegerPart(start.minor)} * h.minorStep -
                             (h.majorSign < 0 ? h.majorStep : 0);
      // The same position as whole-pel coordinates along the major and minor axes, for the edge
      // pass: an offset cannot tell a pel past a row's end from the next row's first pel.
      const int32_t baseX = fixedIntegerPart(px) + (h.isYMajor ? fixedIntegerPart(start.minor) : 0) +
                            (!h.isYMajor && h.majorSign < 0 ? 1 : 0);
      const int32_t baseY = fixedIntegerPart(py) + (h.isYMajor ? 0 : fixedIntegerPart(start.minor)) +
                            (h.isYMajor && h.majorSign < 0 ? 1 : 0);
      const int32_t baseMajor = h.isYMajor ? baseY : baseX;
      const int32_t baseMinor = h.isYMajor ? baseX : baseY;
      const int32_t valueCount = h.firstPassCount[type] + 1 + 2 * lead;
      auto* line = static_cast<unsigned char*>(lines[type]);

      int32_t lineAccumulator = start.line;
      int32_t minorAccumulator = fixedFraction(start.minor);
      ptrdiff_t rowDestination = tileDestination;
      for (int32_t r = 0; r < h.tileHeight[type]; ++r) {
        const int32_t k = fixedIntegerPart(lineAccumulator);
        const ptrdiff_t valueOffset = base + ptrdiff_t{k - lead} * h.majorStep;
        const int32_t valueMinor = fixedWrapAdd(minorAccumulator, fixedWrapMultiply(h.minorAdvance, k - lead));
        const tableEdgeSpan span =
            TableEdgeRow<Pel>(h, cubic, setup.cubicWeights, source, stride, setup.lastOffset, valueOffset,
                              baseMajor + (k - lead) * h.majorSign, baseMinor, valueMinor, line)
                .settle(valueCount);
        // The kernel starts at the span's first value, which sits lead values after the position
        // the kernel is given.
        const int32_t from = span.firstValue + lead;
        const tableRow row{type,
                           span.lastValue - span.firstValue - 2 * lead,
                           fixedWrapAdd(valueMinor, fixedWrapMultiply(h.minorAdvance, from)),
                           fixedFraction(lineAccumulator),
                           valueOffset + ptrdiff_t{from} * h.majorStep,
                           line + static_cast<size_t>(span.firstValue) * valueBytes,
                           line,
                           destination + rowDestination,
                           lines[type],
                           lineBytes[type],
                           baseX,
                           baseY};
        status = onRow(row);
        if (status < 0) return status;
        lineAccumulator = fixedWrapAdd(lineAccumulator, h.rowLineAdvance);
        minorAccumulator = fixedWrapAdd(minorAccumulator, h.rowMinorAdvance);
        rowDestination += rowBytes;
      }
      px = fixedWrapAdd(px, h.tileColumnAdvanceX);
      py = fixedWrapAdd(py, h.tileColumnAdvanceY);
      tileDestination += ptrdiff_t{h.tileWidth[0]} * sampleBytes;
    }
    tileRowX = fixedWrapAdd(tileRowX, h.tileRowAdvanceX);
    tileRowY = fixedWrapAdd(tileRowY, h.tileRowAdvanceY);
    tileRowDestination += ptrdiff_t{h.tileHeight[0]} * rowBytes;  // accumulating: back to the first entry
  }
  return status;
}
