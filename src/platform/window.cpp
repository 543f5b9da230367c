// Windows: plain records over a rectangle of an image's pels, narrowed in place by rectangles of the
// image's pel grid.
#include "platform/image.hpp"

#include "platform/pel_geometry.hpp"

#include <cstdint>

namespace {

using kimg_geometry::Extent;

int32_t windowOfImage(const kimg_image* image, kimg_window* window) noexcept {
  if (window == nullptr || image == nullptr) return KIP_ERR_NULL_POINTER;
  if (image->storage == nullptr) return KIP_ERR_NOT_BOUND;
  kimg_window whole{};
  whole.width = image->width;
  whole.height = image->height;
  whole.xOrigin = image->xOrigin;
  whole.yOrigin = image->yOrigin;
  whole.stride = image->stride;
  whole.firstPel = image->firstPel;
  whole.pelSize = image->pelSize;
  // The origins are the caller's to set; the check keeps a wild one from reaching pel arithmetic.
  const int32_t status = kimg_window_validate(&whole, 0);
  if (status < 0) return status;
  *window = whole;
  return 0;
}

int32_t narrow(kimg_window* window, int32_t x, int32_t y, int32_t width, int32_t height, int32_t* clipped) noexcept {
  int32_t status = kimg_window_validate(window, 0);
  if (status < 0) return status;
  if (width < 0 || height < 0) return KIP_ERR_BAD_SIZE;
  const Extent current = kimg_geometry::extentOf(*window);
  const Extent asked{x, y, width, height};
  const bool inside = kimg_geometry::contains(current, asked);
  if (!inside && clipped == nullptr) return KIP_ERR_OUTSIDE_WINDOW;

  Extent part{};
  if (inside) {
    part = asked;
  } else if (!kimg_geometry::intersect(current, asked, &part)) {
    // Nothing in common: an empty window that still points at its old first pel, so that the
    // record stays valid; its origin does not move.
    window->width = 0;
    window->height = 0;
    *clipped = 1;
    return 0;
  }
  if (part.width > 0 && part.height > 0) {
    // An empty part (a zero-sized rectangle asked inside) keeps the first pel where it was: its
    // corner may lie one past the last column or row.
    window->firstPel = kimg_window_pel<unsigned char>(*window, 0, 0) +
                       (static_cast<ptrdiff_t>(part.y - current.y) * window->stride + (part.x - current.x)) *
                           window->pelSize;
  }
  window->xOrigin = static_cast<int32_t>(part.x);
  window->yOrigin = static_cast<int32_t>(part.y);
  window->width = static_cast<int32_t>(part.width);
  window->height = static_cast<int32_t>(part.height);
  if (clipped != nullptr) *clipped = inside ? 0 : 1;
  return 0;
}

}  // namespace

int32_t kimg_window_validate(const kimg_window* window, int32_t pelSize) {
  if (window == nullptr) return KIP_ERR_NULL_POINTER;
  if (pelSize != 0 && window->pelSize != pelSize) return KIP_ERR_PEL_SIZE;
  if (!kimg_geometry::isPelSize(window->pelSize)) return KIP_ERR_PEL_SIZE;
  if (window->width < 0 || window->height < 0 || window->stride < window->width) return KIP_ERR_BAD_SIZE;
  // Callers add width to origin in 32 bits to find the far edge; make sure they can.
  if (static_cast<int64_t>(window->xOrigin) + window->width > INT32_MAX ||
      static_cast<int64_t>(window->yOrigin) + window->height > INT32_MAX) {
    return KIP_ERR_OUT_OF_RANGE;
  }
  const int64_t span = kimg_geometry::byteSpan(window->width, window->height, window->stride, window->pelSize);
  if (span < 0) return KIP_ERR_BAD_SIZE;
  if (span > 0) {
    if (window->firstPel == nullptr) return KIP_ERR_BAD_SIZE;
    if (reinterpret_cast<uintptr_t>(window->firstPel) > UINTPTR_MAX - static_cast<uint64_t>(span)) {
      return KIP_ERR_BAD_SIZE;
    }
  }
  return 0;
}

extern "C" {

KIP_API int32_t kimg_window_init(kimg_window* window, kimg_image* image) { return windowOfImage(image, window); }

KIP_API int32_t kimg_windowConst_init(kimg_window* window, const kimg_image* image) {
  return windowOfImage(image, window);
}

KIP_API int32_t kimg_window_initUnbound(kimg_window* window) {
  if (window == nullptr) return KIP_ERR_NULL_POINTER;
  *window = kimg_window{};
  return 0;
}

KIP_API int32_t kimg_window_window(kimg_window* window, int32_t x, int32_t y, int32_t width, int32_t height,
                                   int32_t* clipped) {
  return narrow(window, x, y, width, height, clipped);
}

KIP_API int32_t kimg_windowConst_window(kimg_window* window, int32_t x, int32_t y, int32_t width, int32_t height,
                                        int32_t* clipped) {
  return narrow(window, x, y, width, height, clipped);
}

KIP_API int32_t kimg_window_windowRect(kimg_window* window, const kstd_rect32* rect, int32_t* clipped) {
  if (rect == nullptr) return KIP_ERR_NULL_POINTER;
  return narrow(window, rect->x, rect->y, rect->width, rect->height, clipped);
}

KIP_API int32_t kimg_window_initWindow(kimg_window* window, kimg_image* image, const kstd_rect32* rect,
                                       int32_t* clipped) {
  if (window == nullptr || rect == nullptr) return KIP_ERR_NULL_POINTER;
  // Built aside so that a refused rectangle leaves the caller's window as it was.
  kimg_window built{};
  int32_t status = windowOfImage(image, &built);
  if (status < 0) return status;
  int32_t wasClipped = 0;
  status = narrow(&built, rect->x, rect->y, rect->width, rect->height, clipped != nullptr ? &wasClipped : nullptr);
  if (status < 0) return status;
  *window = built;
  if (clipped != nullptr) *clipped = wasClipped;
  return 0;
}

KIP_API int32_t kimg_windowConst_gcr(const kimg_window* a, const kimg_window* b, kstd_rect32* common,
                                     int32_t* isEmpty) {
  if (a == nullptr || b == nullptr) return KIP_ERR_NULL_POINTER;
  return kimg_geometry::reportCommon(kimg_geometry::extentOf(*a), kimg_geometry::extentOf(*b), common, isEmpty);
}

}  // extern "C"
