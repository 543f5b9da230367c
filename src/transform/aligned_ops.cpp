// Portable elementary moves of the aligned fast path. Loops are written for clarity, not speed:
// the Highway kernels (aligned_simd-inl.h) are the fast forms and are tested against these.
#include "transform/aligned_ops.hpp"

#include "platform/image.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

bool sharesFirstPel(const kimg_window* source, const kimg_window* destination) {
  return source->firstPel == destination->firstPel;
}

}  // namespace

template <typename Pel>
int32_t alignedTranspose(const kimg_window* source, kimg_window* destination) {
  const int32_t height = destination->height, width = destination->width;
  if (sharesFirstPel(source, destination)) {
    // Square in place: each pair above the diagonal is swapped once.
    for (int32_t i = 0; i < height; ++i) {
      for (int32_t j = i + 1; j < width; ++j) {
        std::swap(*kimg_window_pel<Pel>(*destination, j, i), *kimg_window_pel<Pel>(*destination, i, j));
      }
    }
    return 0;
  }
  for (int32_t i = 0; i < height; ++i) {
    Pel* to = kimg_window_pel<Pel>(*destination, 0, i);
    for (int32_t j = 0; j < width; ++j) to[j] = *kimg_window_pel<const Pel>(*source, i, j);
  }
  return 0;
}

template <typename Pel>
int32_t alignedMirror(const kimg_window* source, kimg_window* destination) {
  const int32_t height = source->height, width = source->width;
  const bool inPlace = sharesFirstPel(source, destination);
  for (int32_t i = 0; i < height; ++i) {
    const Pel* from = kimg_window_pel<const Pel>(*source, 0, i);
    Pel* to = kimg_window_pel<Pel>(*destination, 0, i);
    if (inPlace) {
      for (int32_t j = 0; j < width / 2; ++j) std::swap(to[j], to[width - 1 - j]);
    } else {
      for (int32_t j = 0; j < width; ++j) to[j] = from[width - 1 - j];
    }
  }
  return 0;
}

template <typename Pel>
int32_t alignedFlip(const kimg_window* source, kimg_window* destination) {
  const int32_t height = source->height, width = source->width;
  if (sharesFirstPel(source, destination)) {
    for (int32_t i = 0; i < height / 2; ++i) {
      Pel* top = kimg_window_pel<Pel>(*destination, 0, i);
      std::swap_ranges(top, top + width, kimg_window_pel<Pel>(*destination, 0, height - 1 - i));
    }
    return 0;
  }
  for (int32_t i = 0; i < height; ++i) {
    const Pel* from = kimg_window_pel<const Pel>(*source, 0, height - 1 - i);
    std::copy(from, from + width, kimg_window_pel<Pel>(*destination, 0, i));
  }
  return 0;
}

template int32_t alignedTranspose<uint8_t>(const kimg_window*, kimg_window*);
template int32_t alignedTranspose<uint16_t>(const kimg_window*, kimg_window*);
template int32_t alignedMirror<uint8_t>(const kimg_window*, kimg_window*);
template int32_t alignedMirror<uint16_t>(const kimg_window*, kimg_window*);
template int32_t alignedFlip<uint8_t>(const kimg_window*, kimg_window*);
template int32_t alignedFlip<uint16_t>(const kimg_window*, kimg_window*);

int32_t alignedTranspose8(const kimg_window* source, kimg_window* destination) {
  return alignedTranspose<uint8_t>(source, destination);
}
int32_t alignedTranspose16(const kimg_window* source, kimg_window* destination) {
  return alignedTranspose<uint16_t>(source, destination);
}
int32_t alignedMirror8(const kimg_window* source, kimg_window* destination) {
  return alignedMirror<uint8_t>(source, destination);
}
int32_t alignedMirror16(const kimg_window* source, kimg_window* destination) {
  return alignedMirror<uint16_t>(source, destination);
}
int32_t alignedFlip8(const kimg_window* source, kimg_window* destination) {
  return alignedFlip<uint8_t>(source, destination);
}
int32_t alignedFlip16(const kimg_window* source, kimg_window* destination) {
  return alignedFlip<uint16_t>(source, destination);
}
