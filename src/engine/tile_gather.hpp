// What the vector tile kernels need to read 8-bit pels of a source by gathers: byte offsets from
// the first pel, clamp limits for pel indices, and the last byte offset a 32-bit gather may start
// at so that it never reads past the source's last pel.
#pragma once

#include "engine/direct_sample.hpp"

#include <algorithm>
#include <cstdint>

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
