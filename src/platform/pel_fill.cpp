// Pel fills and the maximum over a window of 32-bit pels.
#include "platform/image.hpp"

#include <algorithm>
#include <cstring>

namespace {

template <typename Pel>
int32_t fillWindow(const kimg_window* window, Pel value) noexcept {
  const int32_t status = kimg_window_validate(window, sizeof(Pel));
  if (status < 0) return status;
  if (window->width == 0 || window->height == 0) return 0;
  for (int32_t y = 0; y < window->height; ++y) {
    Pel* row = kimg_window_pel<Pel>(*window, 0, y);
    if constexpr (sizeof(Pel) == 1) {
      std::memset(row, value, static_cast<size_t>(window->width));
    } else {
      std::fill_n(row, window->width, value);
    }
  }
  return 0;
}

template <typename Pel>
int32_t fillImage(kimg_image* image, Pel value) noexcept {
  kimg_window window{};
  const int32_t status = kimg_window_init(&window, image);
  if (status < 0) return status;
  return fillWindow<Pel>(&window, value);
}

}  // namespace

int32_t kip_pelUnaryMaxWindow32(const kimg_window* window, uint32_t* result) {
  if (result == nullptr) return KIP_ERR_NULL_POINTER;
  const int32_t status = kimg_window_validate(window, 4);
  if (status < 0) return status;
  uint32_t largest = 0;
  for (int32_t y = 0; y < window->height && window->width > 0; ++y) {
    const uint32_t* row = kimg_window_pel<uint32_t>(*window, 0, y);
    largest = std::max(largest, *std::max_element(row, row + window->width));
  }
  *result = largest;
  return 0;
}

extern "C" {

KIP_API int32_t kip_pelSet8(kimg_image* image, uint8_t value) { return fillImage<uint8_t>(image, value); }
KIP_API int32_t kip_pelSet16(kimg_image* image, uint16_t value) { return fillImage<uint16_t>(image, value); }
KIP_API int32_t kip_pelSetWindow8(kimg_window* window, uint8_t value) { return fillWindow<uint8_t>(window, value); }
KIP_API int32_t kip_pelSetWindow16(kimg_window* window, uint16_t value) {
  return fillWindow<uint16_t>(window, value);
}

}  // extern "C"
