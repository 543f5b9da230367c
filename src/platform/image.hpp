// Internal side of the image and pel layer: checks and pel addressing that the library's own code
// uses on window records, and the pel functions that are not exported.
#pragma once

#include <kip/kip.h>

#include <cstddef>
#include <cstdint>

// 0 when the window can be read or written as pels of pelSize bytes (0: any of 1, 2, 4): non-null,
// non-negative extent, stride at least the width, a pel pointer when it has pels, and a byte span
// that fits the address space. Otherwise the KIP_ERR_ code that says why.
int32_t kimg_window_validate(const kimg_window* window, int32_t pelSize);

// Address of pel (x, y) of a window, in window coordinates (0, 0 is its first pel).
template <typename Pel>
inline Pel* kimg_window_pel(const kimg_window& window, int32_t x, int32_t y) {
  return static_cast<Pel*>(window.firstPel) + static_cast<ptrdiff_t>(y) * window.stride + x;
}

// Largest 32-bit pel of the window (0 for an empty one).
int32_t kip_pelUnaryMaxWindow32(const kimg_window* window, uint32_t* result);
// KIP_ERR_MEMORY_OVERLAP when the byte spans of the two windows' pels overlap, else 0.
int32_t kip_pelfunc_checkMemoryOverlap(const kimg_window* a, const kimg_window* b);
