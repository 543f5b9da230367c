// Images shared by the benchmarks: a 4096 x 4096 8-bit source with a smooth pattern and noise.
#pragma once

#include <kip/kip.h>

#include <cstdint>
#include <random>

inline void fillBenchPattern(kimg_image* image) {
  std::mt19937 random(1234);
  for (int32_t y = 0; y < image->height; ++y) {
    auto* row = static_cast<uint8_t*>(image->firstPel) + static_cast<ptrdiff_t>(y) * image->stride;
    for (int32_t x = 0; x < image->width; ++x) row[x] = static_cast<uint8_t>((x * 3 + y * 5 + (random() & 15)) & 255);
  }
}

class BenchImage {
 public:
  BenchImage(int32_t pelSize, int32_t width, int32_t height) {
    kimg_image_construct(&image_, pelSize, width, height);
    if (pelSize == 1) fillBenchPattern(&image_);
  }
  ~BenchImage() { kimg_image_destruct(&image_); }
  BenchImage(const BenchImage&) = delete;
  BenchImage& operator=(const BenchImage&) = delete;
  kimg_image* get() { return &image_; }

 private:
  kimg_image image_;
};
