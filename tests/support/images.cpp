#include "support/support.hpp"

#include <gtest/gtest.h>

namespace kiptest {

ScopedImage::ScopedImage(int32_t pelSize, int32_t width, int32_t height) {
  const int32_t status = kimg_image_construct(&image_, pelSize, width, height);
  if (status < 0) {
    ADD_FAILURE() << "kimg_image_construct failed: " << status;
    kimg_image_constructUnbound(&image_);
  }
}

kimg_window ScopedImage::window() {
  kimg_window window{};
  EXPECT_EQ(kimg_window_init(&window, &image_), 0);
  return window;
}

void fillRandom8(kimg_image* image, uint32_t seed) {
  std::mt19937 random(seed);
  for (int32_t y = 0; y < image->height; ++y) {
    auto* row = static_cast<uint8_t*>(image->firstPel) + static_cast<ptrdiff_t>(y) * image->stride;
    for (int32_t x = 0; x < image->width; ++x) row[x] = static_cast<uint8_t>(random());
  }
}

void fillRandom16(kimg_image* image, uint32_t seed) {
  std::mt19937 random(seed);
  for (int32_t y = 0; y < image->height; ++y) {
    auto* row = static_cast<uint16_t*>(image->firstPel) + static_cast<ptrdiff_t>(y) * image->stride;
    for (int32_t x = 0; x < image->width; ++x) row[x] = static_cast<uint16_t>(random());
  }
}

}  // namespace kiptest
