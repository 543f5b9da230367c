// Sources, samplings, caches and guarded destinations shared by the engine tests.
#pragma once

#include "cache/cache.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <optional>
#include <random>
#include <vector>

namespace enginetest {

constexpr kmath_xformLinear kIdentity{0, 0, 1, 0, 0, 1};
// Image-from-client transform of most test sources: a scale and a shift, so that client units are
// not pels and a slip in the order of composition shows.
constexpr kmath_xformLinear kSourceXform{10.0, -5.0, 0.8, 0.0, 0.0, 0.8};

inline kimg_window makeWindow(const void* pels, int32_t pelSize, int32_t width, int32_t height, int32_t stride,
                              int32_t xOrigin = 0, int32_t yOrigin = 0) {
  return {width, height, xOrigin, yOrigin, 0, 0, 0, 0, stride, const_cast<void*>(pels), pelSize};
}

// The shortest cosine period in pels, the divisor that keeps the summed cosines inside the pel
// range, and the width of uniform noise added (0: none).
struct SmoothStyle {
  double minPeriod = 9.0, spread = 6.5, noise = 6.0;
};

// Forces one Highway target for its lifetime; the scalar targets also get a processor record that
// reports SIMD, which the table drivers require.
struct ForcedTarget {
  std::optional<kiptest::ScopedCpuinfo> cpu;
  explicit ForcedTarget(int64_t target) {
    hwy::SetSupportedTargetsForTest(target);
    if (target == HWY_SCALAR || target == HWY_EMU128) cpu.emplace(1, KSYS_CPU_FEATURE_SIMD);
  }
  ~ForcedTarget() { hwy::SetSupportedTargetsForTest(0); }
};

// Calls f with a value of the 8-bit or the 16-bit pel type.
template <typename F> void withPel(int bits, F&& f) { bits == 8 ? f(uint8_t{}) : f(uint16_t{}); }

// A source of exactly width x height pels (stride = width): a read past its last pel is one past
// the allocation, which AddressSanitizer reports.
template <typename Pel>
struct Source {
  int32_t width, height;
  std::vector<Pel> pels;
  kimg_window window;
  // Three low-frequency cosines (plus a little noise), quantised: a position slip shows as a small
  // error, and every pel differs from its neighbours somewhere.
  Source(int32_t w, int32_t h, uint32_t seed, int32_t xOrigin = 0, int32_t yOrigin = 0, const SmoothStyle& style = {})
      : width(w), height(h), pels(static_cast<size_t>(w) * h) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    double top = Pel(~Pel(0)), tau = 2 * std::numbers::pi, fx[3], fy[3], phase[3];
    for (int k = 0; k < 3; ++k) {
      const double angle = uniform(random) * tau, period = style.minPeriod + 40.0 * uniform(random);
      fx[k] = std::cos(angle) * tau / period, fy[k] = std::sin(angle) * tau / period, phase[k] = uniform(random) * tau;
    }
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        double v = std::cos(fx[0] * x + fy[0] * y + phase[0]) + std::cos(fx[1] * x + fy[1] * y + phase[1]);
        v += std::cos(fx[2] * x + fy[2] * y + phase[2]);
        v = top * (0.5 + v / style.spread) + (style.noise != 0.0 ? (uniform(random) - 0.5) * style.noise : 0.0);
        pels[static_cast<size_t>(y) * w + x] = static_cast<Pel>(std::clamp(std::lround(v), 0L, long(top)));
      }
    }
    window = makeWindow(pels.data(), sizeof(Pel), w, h, w, xOrigin, yOrigin);
  }
  double at(int32_t x, int32_t y) const { return pels[static_cast<size_t>(y) * width + x]; }
};

// A destination of width x height pels, stride width + 3, filled with a guard value that the pels
// outside the written part must keep.
template <typename Pel>
struct Destination {
  static constexpr Pel kGuard = Pel(0xA5A5);
  int32_t width, height, stride;
  std::vector<Pel> pels;
  Destination(int32_t w, int32_t h) : width(w), height(h), stride(w + 3), pels(static_cast<size_t>(stride) * h, kGuard) {}
  kimg_window window() { return makeWindow(pels.data(), sizeof(Pel), width, height, stride); }
  Pel at(int32_t i, int32_t j) const { return pels[static_cast<size_t>(j) * stride + i]; }
};

// A rectangle of lengthX x lengthY source pels centred on pel-grid point (cx, cy), its x side
// turned by degrees, sampled every pitch pels (mirrored: the y side turned the other way).
inline affineSampleParams makeParams(uint32_t mode, double degrees, double pitch, bool mirrored, double cx, double cy,
                                     double lengthX, double lengthY, const kmath_xformLinear& xform = kSourceXform) {
  const double c = std::cos(degrees * std::numbers::pi / 180), s = std::sin(degrees * std::numbers::pi / 180);
  const double a = xform.e0, flip = mirrored ? -1.0 : 1.0;  // the test transforms scale x and y alike
  const double xSideX = lengthX * c / a, xSideY = lengthX * s / a, ySideX = -lengthY * s * flip / a;
  const double ySideY = lengthY * c * flip / a, centreX = (cx - xform.tx) / a, centreY = (cy - xform.ty) / a;
  return {{centreX - 0.5 * (xSideX + ySideX), centreY - 0.5 * (xSideY + ySideY), xSideX, ySideX, xSideY, ySideY}, mode,
          std::max(1, int32_t(std::lround(lengthX / pitch))), std::max(1, int32_t(std::lround(lengthY / pitch)))};
}

// A sample cache record in the caller's frame.
struct TempCache {
  affineSampleCache cache{};
  TempCache() { EXPECT_EQ(affineSampleCache_initTemporary(&cache), 0); }
  ~TempCache() { affineSampleCache_releaseTemporary(&cache); }
  affineSampleCache* get() { return &cache; }
};

// Samplings of the two-pass tests, on identity-transformed sources: xCount x yCount samples, each
// `scale` pels wide, centred on (cx, cy), rows at `angle` degrees, columns against the turned y
// axis when mirrored.
struct Geometry {
  double angle, scale;
  bool mirror;
  int32_t xCount, yCount;
  double cx = 0, cy = 0;

  std::array<double, 4> sides() const {
    const double ux = std::cos(angle * std::numbers::pi / 180), uy = std::sin(angle * std::numbers::pi / 180);
    return {ux, uy, mirror ? uy : -uy, mirror ? -ux : ux};
  }
  affineSampleParams params(uint32_t mode) const {
    const auto [ux, uy, vx, vy] = sides();
    const double w = xCount * scale, h = yCount * scale;
    return {{cx - (w * ux + h * vx) / 2, cy - (w * uy + h * vy) / 2, w * ux, h * vx, w * uy, h * vy}, mode, xCount,
            yCount};
  }
  // Half extents of the corner sample centres about the centre.
  void halfExtents(double* ex, double* ey) const {
    const auto [ux, uy, vx, vy] = sides();
    *ex = ((xCount - 1) * std::fabs(ux) + (yCount - 1) * std::fabs(vx)) * scale / 2, *ey = ((xCount - 1) * std::fabs(uy) + (yCount - 1) * std::fabs(vy)) * scale / 2;
  }
  std::string describe() const {
    return std::to_string(angle) + (mirror ? "deg mirrored, scale " : "deg, scale ") + std::to_string(scale) + " at " + std::to_string(cx) + "," + std::to_string(cy);
  }
};

inline bool clips(const Geometry& g, uint32_t mode, const kimg_window& source) {
  const affineSampleParams params = g.params(mode);
  uint32_t willClip = 1;
  return kip_affineSampleParams_getWillClipWindow(&params, &source, &kIdentity, &willClip) < 0 || willClip != 0;
}

// Moves g so that its corner sample centres lie at the clip test's limit on the sides asked for (-1
// low edge, +1 high edge, 0 the middle), nudged inward by 1e-7 pel or more until the test accepts
// it: the 16.16 positions stay those of the limit, but no corner sits on an exact whole pel, where
// the table builder's nudge would hang on the last bit of a double.
inline bool placeAtClipLimit(Geometry& g, uint32_t mode, const kimg_window& source, int sideX, int sideY) {
  double ex, ey, margin = mode == 2 ? 1.5 : 2.5;
  g.halfExtents(&ex, &ey);
  const auto place = [&](int side, double extent, double size, double nudge) { return side < 0 ? margin + extent + nudge : side > 0 ? size - margin - extent - nudge : size / 2 + 0.3; };
  for (double nudge = 1e-7; nudge < 1e-3; nudge *= 4) {
    g.cx = place(sideX, ex, source.width, nudge), g.cy = place(sideY, ey, source.height, nudge);
    if (!clips(g, mode, source)) return true;
  }
  return false;
}

}  // namespace enginetest
