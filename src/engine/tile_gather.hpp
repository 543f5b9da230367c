// What the vector tile kernels need to read 8-bit pels of a source by gathers: byte offsets from
// the first pel, clamp limits for pel indices, and the last byte offset a 32-bit gather may start
// at so that it never reads past the source's last pel.
#pragma once

#include <algorithm>
#include <cstdint>

#include "engine/direct_sample.hpp"

struct TileGatherPlan {
  const uint8_t* firstPel;
  int32_t stride;         // pels from one row to the next
  int32_t lastX, lastY;   // largest pel indices: width - 1, height - 1
  int32_t lastWordStart;  // byte offset of the last pel less 3
};

// False when the vectors cannot index the source: a base other than (0, 0) (the tiles of sources
// too large for 16.16), a row stride above 32767 (a clamped signed 16-bit row index times the
// stride then stays below 2^30, so that byte offsets fit 32-bit lanes), or fewer than four bytes
// from the first pel to the last. The scalar kernels serve those.
inline bool tileGather_plan(const DirectSource<uint8_t>& source, TileGatherPlan* plan) {
  if (source.xBase != 0 || source.yBase != 0 || source.stride > 32767 || source.width < 1 || source.height < 1) {
    return false;
  }
  const int64_t lastOffset = (int64_t{source.height} - 1) * source.stride + (source.width - 1);
  if (lastOffset < 3) return false;
  *plan = {source.firstPel, source.stride, source.width - 1, source.height - 1,
           static_cast<int32_t>(std::min<int64_t>(lastOffset - 3, INT32_MAX))};
  return true;
}

// Whether every position a vector kernel computes for a tile (rows 0 .. rows - 1, samples
// 0 .. columns - 1, columns being the row length rounded up to whole chunks) has integer parts in
// 0 .. lastX and 0 .. lastY. The positions are x + i x columnX + j x rowX wrapped to 32 bits; when
// the exact values at the four corners lie in 0 .. (last + 1) x 65536 - 1 (below 2^31), so does
// every exact value between them, which then needs no wrap. Such tiles skip the clamps.
inline bool tileGather_inside(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                              int32_t columns, int32_t rows, int32_t lastX, int32_t lastY) {
  if (lastX < 0 || lastY < 0 || columns < 1 || rows < 1) return false;
  const auto within = [](int64_t start, int64_t column, int64_t row, int64_t i, int64_t j, int32_t last) {
    const int64_t value = start + i * column + j * row;
    return value >= 0 && value < (int64_t{last} + 1) * 65536;
  };
  for (int64_t i : {int64_t{0}, int64_t{columns} - 1}) {
    for (int64_t j : {int64_t{0}, int64_t{rows} - 1}) {
      if (!within(x, columnX, rowX, i, j, lastX) || !within(y, columnY, rowY, i, j, lastY)) return false;
    }
  }
  return true;
}
