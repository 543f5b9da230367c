// Samplings, sources and guarded destinations shared by the optimized-engine and threaded-process
// tests.
#pragma once

#include <kip/kip.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace tiledtest {

inline kimg_window makeWindow(const void* pels, int32_t pelSize, int32_t width, int32_t height, int32_t stride,
                              int32_t xOrigin = 0, int32_t yOrigin = 0) {
  kimg_window window{};
  window.width = width;
  window.height = height;
  window.xOrigin = xOrigin;
  window.yOrigin = yOrigin;
  window.stride = stride;
  window.firstPel = const_cast<void*>(pels);
  window.pelSize = pelSize;
  return window;
}

// Sum of three low-frequency cosines plus a little noise, quantised: smooth enough that a position
// slip shows as a small error, busy enough that every pel differs from its neighbours somewhere.
template <typename Pel>
void fillSmooth(std::vector<Pel>& pels, int32_t width, int32_t height, int32_t stride, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  const double top = Pel(~Pel(0));
  double fx[3], fy[3], phase[3];
  for (int k = 0; k < 3; ++k) {
    const double angle = uniform(random) * 2 * std::numbers::pi, period = 9.0 + 40.0 * uniform(random);
    fx[k] = std::cos(angle) * 2 * std::numbers::pi / period;
    fy[k] = std::sin(angle) * 2 * std::numbers::pi / period;
    phase[k] = uniform(random) * 2 * std::numbers::pi;
  }
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      double v = 0.0;
      for (int k = 0; k < 3; ++k) v += std::cos(fx[k] * x + fy[k] * y + phase[k]);
      v = top * (0.5 + v / 6.5) + (uniform(random) - 0.5) * 6.0;
      pels[static_cast<size_t>(y) * stride + x] = static_cast<Pel>(std::clamp(std::lround(v), 0L, long(top)));
    }
  }
}

// Image-from-client transform of the test sources: a scale and a shift, so that client units are
// not pels and a slip in the order of composition shows.
inline constexpr kmath_xformLinear kSourceXform{10.0, -5.0, 0.8, 0.0, 0.0, 0.8};

// A rectangle of lengthX x lengthY source pels centred on pel-grid point (cx, cy), its x side at
// `degrees`, sampled every pitch pels (mirrored: the y side turned the other way).
inline affineSampleParams makeParams(uint32_t mode, double degrees, double pitch, bool mirrored, double cx, double cy,
                                     double lengthX, double lengthY, const kmath_xformLinear& xform = kSourceXform) {
  const double c = std::cos(degrees * std::numbers::pi / 180), s = std::sin(degrees * std::numbers::pi / 180);
  const double a = xform.e0;  // the test transforms scale x and y alike
  const double flip = mirrored ? -1.0 : 1.0;
  const double xSideX = lengthX * c / a, xSideY = lengthX * s / a;
  const double ySideX = -lengthY * s * flip / a, ySideY = lengthY * c * flip / a;
  const double centreX = (cx - xform.tx) / a, centreY = (cy - xform.ty) / a;
  affineSampleParams params{};
  params.affineRect = {
      centreX - 0.5 * (xSideX + ySideX), centreY - 0.5 * (xSideY + ySideY), xSideX, ySideX, xSideY, ySideY};
  params.sampleMode = mode;
  params.xCount = std::max(1, static_cast<int32_t>(std::lround(lengthX / pitch)));
  params.yCount = std::max(1, static_cast<int32_t>(std::lround(lengthY / pitch)));
  return params;
}

// A destination of width x height pels, stride width + 3, filled with a guard value that the
// pels outside the written part must keep.
template <typename Pel>
struct Destination {
  static constexpr Pel kGuard = Pel(0xA5A5);
  int32_t width, height, stride;
  std::vector<Pel> pels;
  Destination(int32_t w, int32_t h)
      : width(w), height(h), stride(w + 3), pels(static_cast<size_t>(stride) * h, kGuard) {}
  kimg_window window() { return makeWindow(pels.data(), sizeof(Pel), width, height, stride); }
  Pel at(int32_t i, int32_t j) const { return pels[static_cast<size_t>(j) * stride + i]; }
  bool guardsIntact() const {
    for (int32_t j = 0; j < height; ++j) {
      for (int32_t i = width; i < stride; ++i) {
        if (at(i, j) != kGuard) return false;
      }
    }
    return true;
  }
};

// A source of exactly width x height pels (stride = width): a read past its last pel is one past
// the allocation, which AddressSanitizer reports.
template <typename Pel>
struct Source {
  std::vector<Pel> pels;
  kimg_window window;
  Source(int32_t width, int32_t height, uint32_t seed, int32_t xOrigin = 0, int32_t yOrigin = 0)
      : pels(static_cast<size_t>(width) * height) {
    fillSmooth(pels, width, height, width, seed);
    window = makeWindow(pels.data(), sizeof(Pel), width, height, width, xOrigin, yOrigin);
  }
};

}  // namespace tiledtest
