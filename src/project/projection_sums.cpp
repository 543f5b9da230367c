// Row and column sums of windows: optimized-first dispatch for 8-bit pels, portable sums for
// 16-bit pels, and the choice of direction and order by alignment code.
#include "frame/frame.hpp"
#include "project/project.hpp"
#include "project/projection_portable.hpp"

namespace {

template <typename Pel>
const Pel* firstPelOf(const kimg_window* window) {
  return static_cast<const Pel*>(window->firstPel);
}

uint32_t* outputOf(kimg_window* destination) { return static_cast<uint32_t*>(destination->firstPel); }

ptrdiff_t strideBytesOf(const kimg_window* window) {
  return static_cast<ptrdiff_t>(window->stride) * window->pelSize;
}

}  // namespace

bool projectionDirectionIsColumns(uint32_t directionCode) {
  return directionCode == 0 || directionCode == 91 || directionCode == 180 || directionCode == 271;
}

bool projectionDirectionIsReversed(uint32_t directionCode) {
  return directionCode == 91 || directionCode == 180 || directionCode == 181 || directionCode == 270;
}

int32_t kf_projection_vertical8(const kimg_window* source, kimg_window* destination, int32_t reverse) {
  const uint8_t* first = firstPelOf<uint8_t>(source);
  uint32_t* out = outputOf(destination);
  return dispatchOptimizedFirst(
      kHookRowSums8,
      [&] { return kf_projection_vertical8_core(first, source->width, source->height, strideBytesOf(source), out, reverse); },
      [&] {
        rowSumsPortable(first, source->width, source->height, source->stride, out, reverse != 0);
        return 0;
      });
}

int32_t kf_projection_horizontal8(const kimg_window* source, kimg_window* destination, int32_t reverse) {
  const uint8_t* first = firstPelOf<uint8_t>(source);
  uint32_t* out = outputOf(destination);
  return dispatchOptimizedFirst(
      kHookColumnSums8,
      [&] { return kf_projection_horizontal8_core(first, source->width, source->height, strideBytesOf(source), out, reverse); },
      [&] { return columnSumsPortable(first, source->width, source->height, source->stride, out, reverse != 0); });
}

int32_t kf_projection_horizontal16(const kimg_window* source, kimg_window* destination, int32_t reverse) {
  return columnSumsPortable(firstPelOf<uint16_t>(source), source->width, source->height, source->stride,
                            outputOf(destination), reverse != 0);
}

int32_t kf_projection_aligned16(const kimg_window* source, kimg_window* destination, uint32_t directionCode) {
  const int32_t reverse = projectionDirectionIsReversed(directionCode) ? 1 : 0;
  if (projectionDirectionIsColumns(directionCode)) return kf_projection_horizontal16(source, destination, reverse);
  rowSumsPortable(firstPelOf<uint16_t>(source), source->width, source->height, source->stride,
                  outputOf(destination), reverse != 0);
  return 0;
}
