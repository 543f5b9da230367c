// Rectangle arithmetic shared by the image, window and pel functions. Everything is done in 64-bit
// integers: an origin near the end of the 32-bit range plus a width must not wrap.
#pragma once

#include <kip/kip.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace kimg_geometry {

// A rectangle of the pel grid: [x, x + width) x [y, y + height).
struct Extent {
  int64_t x, y, width, height;
};

inline Extent extentOf(const kimg_window& window) noexcept {
  return {window.xOrigin, window.yOrigin, window.width, window.height};
}
inline Extent extentOf(const kimg_image& image) noexcept {
  return {image.xOrigin, image.yOrigin, image.width, image.height};
}

// Common part of two extents; false (and *common untouched) when they share no pel.
inline bool intersect(const Extent& a, const Extent& b, Extent* common) noexcept {
  const int64_t x0 = std::max(a.x, b.x);
  const int64_t y0 = std::max(a.y, b.y);
  const int64_t x1 = std::min(a.x + a.width, b.x + b.width);
  const int64_t y1 = std::min(a.y + a.height, b.y + b.height);
  if (x1 <= x0 || y1 <= y0) return false;
  *common = {x0, y0, x1 - x0, y1 - y0};
  return true;
}

// Whether inner lies wholly inside outer (an empty inner counts when its corner does).
inline bool contains(const Extent& outer, const Extent& inner) noexcept {
  return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

// Writes a common rectangle through the public out-parameters: both are checked for null first,
// then written only together.
inline int32_t reportCommon(const Extent& a, const Extent& b, kstd_rect32* common, int32_t* isEmpty) noexcept {
  if (common == nullptr || isEmpty == nullptr) return KIP_ERR_NULL_POINTER;
  if (a.width < 0 || a.height < 0 || b.width < 0 || b.height < 0) return KIP_ERR_BAD_SIZE;
  Extent part{};
  if (!intersect(a, b, &part)) {
    *isEmpty = 1;
    return 0;
  }
  // The part lies inside both 32-bit extents, so each field fits 32 bits.
  *common = {static_cast<int32_t>(part.x), static_cast<int32_t>(part.y), static_cast<int32_t>(part.width),
             static_cast<int32_t>(part.height)};
  *isEmpty = 0;
  return 0;
}

// Bytes from the first pel of a stored rectangle to just past its last one, or -1 when that does not
// fit a ptrdiff_t. Sizes must be non-negative; an empty rectangle spans 0 bytes.
inline int64_t byteSpan(int32_t width, int32_t height, int32_t stride, int32_t pelSize) noexcept {
  if (width == 0 || height == 0) return 0;
  // stride * (height - 1) + width < 2^62, so only the multiplication by pelSize can overflow.
  const int64_t pels = static_cast<int64_t>(stride) * (height - 1) + width;
  if (pels > static_cast<int64_t>(PTRDIFF_MAX) / pelSize) return -1;
  return pels * pelSize;
}

inline bool isPelSize(int32_t pelSize) noexcept { return pelSize == 1 || pelSize == 2 || pelSize == 4; }

}  // namespace kimg_geometry
