// Portable projection sums over 8-bit or 16-bit pels: the reference the optimized cores must match.
#pragma once

#include "platform/memory.hpp"

#include <cstddef>
#include <cstdint>
#include <utility>

// One sum per row, first row first (last row first when reversed).
template <typename Pel>
void rowSumsPortable(const Pel* firstPel, int32_t width, int32_t height, ptrdiff_t stridePels, uint32_t* out,
                     bool reverse) {
  for (int32_t i = 0; i < height; ++i) {
    const int32_t y = reverse ? height - 1 - i : i;
    uint32_t sum = 0;
    // A window without pels may have no first pel to step from (null): empty rows are not walked.
    for (int32_t x = 0; x < width; ++x) sum += firstPel[static_cast<ptrdiff_t>(y) * stridePels + x];
    out[i] = sum;
  }
}

// One sum per column; reversed by swapping the finished sums end for end.
template <typename Pel>
int32_t columnSumsPortable(const Pel* firstPel, int32_t width, int32_t height, ptrdiff_t stridePels, uint32_t* out,
                           bool reverse) {
  const int32_t status = ksys_memory_fill(0, static_cast<size_t>(width) * sizeof(uint32_t), out);
  if (status < 0) return status;
  // A window without pels may have no first pel to step from (null).
  for (int32_t y = 0; y < height && width > 0; ++y) {
    const Pel* row = firstPel + static_cast<ptrdiff_t>(y) * stridePels;
    for (int32_t x = 0; x < width; ++x) out[x] += row[x];
  }
  if (reverse) {
    for (int32_t i = 0; i < width / 2; ++i) std::swap(out[i], out[width - 1 - i]);
  }
  return 0;
}
