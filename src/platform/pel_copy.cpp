// Pel copies between images and windows, matched by pel-grid coordinates, and the memory-overlap test.
#include "platform/image.hpp"

#include "platform/pel_geometry.hpp"

#include <cstring>

namespace {

int32_t copyWindow(const kimg_window* source, kimg_window* destination, int32_t pelSize) noexcept {
  int32_t status = kimg_window_validate(source, pelSize);
  if (status < 0) return status;
  status = kimg_window_validate(destination, pelSize);
  if (status < 0) return status;
  kimg_geometry::Extent common{};
  if (!kimg_geometry::intersect(kimg_geometry::extentOf(*source), kimg_geometry::extentOf(*destination), &common)) {
    return 0;
  }
  const auto* from = kimg_window_pel<const unsigned char>(*source, 0, 0) +
                     (static_cast<ptrdiff_t>(common.y - source->yOrigin) * source->stride +
                      (common.x - source->xOrigin)) * pelSize;
  auto* to = kimg_window_pel<unsigned char>(*destination, 0, 0) +
             (static_cast<ptrdiff_t>(common.y - destination->yOrigin) * destination->stride +
              (common.x - destination->xOrigin)) * pelSize;
  const ptrdiff_t fromStride = static_cast<ptrdiff_t>(source->stride) * pelSize;
  const ptrdiff_t toStride = static_cast<ptrdiff_t>(destination->stride) * pelSize;
  const size_t rowBytes = static_cast<size_t>(common.width) * pelSize;
  if (from == to && fromStride == toStride) return 0;
  // Windows of one image may overlap. memmove keeps each row right; walking the rows from the
  // bottom when the destination lies above in memory keeps the rows right that overlap each other.
  const bool upward = reinterpret_cast<uintptr_t>(to) > reinterpret_cast<uintptr_t>(from);
  for (int64_t row = 0; row < common.height; ++row) {
    const int64_t r = upward ? common.height - 1 - row : row;
    std::memmove(to + r * toStride, from + r * fromStride, rowBytes);
  }
  return 0;
}

template <int32_t PelSize>
int32_t copyImage(const kimg_image* source, kimg_image* destination) noexcept {
  kimg_window from{};
  int32_t status = kimg_windowConst_init(&from, source);
  if (status < 0) return status;
  kimg_window to{};
  status = kimg_window_init(&to, destination);
  if (status < 0) return status;
  return copyWindow(&from, &to, PelSize);
}

// [first, end) of the bytes a window's pels occupy; empty for an empty window.
struct ByteRange {
  uintptr_t first, end;
};
ByteRange bytesOf(const kimg_window& window) noexcept {
  const auto first = reinterpret_cast<uintptr_t>(window.firstPel);
  const int64_t span = kimg_geometry::byteSpan(window.width, window.height, window.stride, window.pelSize);
  return {first, first + static_cast<uintptr_t>(span)};
}

}  // namespace

int32_t kip_pelfunc_checkMemoryOverlap(const kimg_window* a, const kimg_window* b) {
  int32_t status = kimg_window_validate(a, 0);
  if (status < 0) return status;
  status = kimg_window_validate(b, 0);
  if (status < 0) return status;
  const ByteRange ra = bytesOf(*a);
  const ByteRange rb = bytesOf(*b);
  if (ra.first == ra.end || rb.first == rb.end) return 0;
  return ra.first < rb.end && rb.first < ra.end ? KIP_ERR_MEMORY_OVERLAP : 0;
}

extern "C" {

KIP_API int32_t kip_pelCopy8(const kimg_image* source, kimg_image* destination) {
  return copyImage<1>(source, destination);
}
KIP_API int32_t kip_pelCopy16(const kimg_image* source, kimg_image* destination) {
  return copyImage<2>(source, destination);
}
KIP_API int32_t kip_pelCopyWindow8(const kimg_window* source, kimg_window* destination) {
  return copyWindow(source, destination, 1);
}
KIP_API int32_t kip_pelCopyWindow16(const kimg_window* source, kimg_window* destination) {
  return copyWindow(source, destination, 2);
}
KIP_API int32_t kip_pelCopyWindow32(const kimg_window* source, kimg_window* destination) {
  return copyWindow(source, destination, 4);
}

}  // extern "C"
