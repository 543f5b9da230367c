// Sources, samplings, caches and guarded destinations shared by the engine tests.
#pragma once

#include <kip/kip.h>

#include "cache/cache.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace enginetest {

constexpr kmath_xformLinear kIdentity{0, 0, 1, 0, 0, 1};
// Image-from-client transform of most test sources: a scale and a shift, so that client units are
// not pels and a slip in the order of composition shows.
constexpr kmath_xformLinear kSourceXform{10.0, -5.0, 0.8, 0.0, 0.0, 0.8};

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

// The shortest cosine period in pels, the divisor that keeps the summed cosines inside the pel
// range, and the width of uniform noise added (0: none).
struct SmoothStyle {
  double minPeriod = 9.0, spread = 6.5, noise = 6.0;
};

// Three low-frequency cosines (plus a little noise), quantised: a position slip shows as a small
// error, and every pel differs from its neighbours somewhere.
template <typename Pel>
void fillSmooth(std::vector<Pel>& pels, int32_t width, int32_t height, int32_t stride, uint32_t seed,
                const SmoothStyle& style = {}) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  const double top = Pel(~Pel(0));
  double fx[3], fy[3], phase[3];
  for (int k = 0; k < 3; ++k) {
    const double angle = uniform(random) * 2 * std::numbers::pi, period = style.minPeriod + 40.0 * uniform(random);
    fx[k] = std::cos(angle) * 2 * std::numbers::pi / period;
    fy[k] = std::sin(angle) * 2 * std::numbers::pi / period;
    phase[k] = uniform(random) * 2 * std::numbers::pi;
  }
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      double v = 0.0;
      for (int k = 0; k < 3; ++k) v += std::cos(fx[k] * x + fy[k] * y + phase[k]);
      v = top * (0.5 + v / style.spread);
      if (style.noise != 0.0) v += (uniform(random) - 0.5) * style.noise;
      pels[static_cast<size_t>(y) * stride + x] = static_cast<Pel>(std::clamp(std::lround(v), 0L, long(top)));
    }
  }
}

// Forces one Highway target for its lifetime; the scalar targets also get a processor record that
// reports SIMD, which the table drivers require.
class ForcedTarget {
 public:
  explicit ForcedTarget(int64_t target) {
    hwy::SetSupportedTargetsForTest(target);
    if (target == HWY_SCALAR || target == HWY_EMU128) cpu_.emplace(1, KSYS_CPU_FEATURE_SIMD);
  }
  ~ForcedTarget() { hwy::SetSupportedTargetsForTest(0); }

 private:
  std::optional<kiptest::ScopedCpuinfo> cpu_;
};

// Calls f with a value of the 8-bit or the 16-bit pel type.
template <typename F>
void withPel(int bits, F&& f) {
  if (bits == 8) {
    f(uint8_t{});
  } else {
    f(uint16_t{});
  }
}

// A source of exactly width x height pels (stride = width): a read past its last pel is one past
// the allocation, which AddressSanitizer reports.
template <typename Pel>
struct Source {
  int32_t width, height;
  std::vector<Pel> pels;
  kimg_window window;
  Source(int32_t w, int32_t h, uint32_t seed, int32_t xOrigin = 0, int32_t yOrigin = 0, const SmoothStyle& style = {})
      : width(w), height(h), pels(static_cast<size_t>(w) * h) {
    fillSmooth(pels, w, h, w, seed, style);
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
  bool guardsIntact() const {
    for (int32_t j = 0; j < height; ++j) {
      for (int32_t i = width; i < stride; ++i) {
        if (at(i, j) != kGuard) return false;
      }
    }
    return true;
  }
};

// Cuts whole's rows into bands of each height (starts inside and on tile rows): run(window) must
// write exactly the band's rows, with whole's pels.
template <typename Pel, typename Run>
void expectBandsMatch(const Destination<Pel>& whole, std::initializer_list<int32_t> heights, Run run) {
  for (int32_t bandHeight : heights) {
    for (int32_t first = 0; first < whole.height; first += bandHeight) {
      Destination<Pel> band(whole.width, whole.height);
      kimg_window window = band.window();
      window.height = std::min(bandHeight, whole.height - first);
      window.bandOffset = -first;
      ASSERT_EQ(run(window), 0);
      for (int32_t j = 0; j < whole.height; ++j) {
        const bool inBand = j >= first && j < first + window.height;
        for (int32_t i = 0; i < whole.stride; ++i) {
          ASSERT_EQ(band.at(i, j), inBand ? whole.at(i, j) : Destination<Pel>::kGuard)
              << "band " << first << "+" << bandHeight << " at " << i << "," << j;
        }
      }
    }
  }
}

// A rectangle of lengthX x lengthY source pels centred on pel-grid point (cx, cy), its x side along
// (c, s), sampled every pitch pels (mirrored: the y side turned the other way).
inline affineSampleParams makeParamsCosSin(uint32_t mode, double c, double s, double pitch, bool mirrored, double cx,
                                           double cy, double lengthX, double lengthY,
                                           const kmath_xformLinear& xform = kSourceXform) {
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

inline affineSampleParams makeParams(uint32_t mode, double degrees, double pitch, bool mirrored, double cx, double cy,
                                     double lengthX, double lengthY, const kmath_xformLinear& xform = kSourceXform) {
  return makeParamsCosSin(mode, std::cos(degrees * std::numbers::pi / 180), std::sin(degrees * std::numbers::pi / 180),
                          pitch, mirrored, cx, cy, lengthX, lengthY, xform);
}

// A sample cache record in the caller's frame.
struct TempCache {
  affineSampleCache cache{};
  TempCache() { EXPECT_EQ(affineSampleCache_initTemporary(&cache), 0); }
  ~TempCache() { affineSampleCache_releaseTemporary(&cache); }
  TempCache(const TempCache&) = delete;
  TempCache& operator=(const TempCache&) = delete;
  affineSampleCache* get() { return &cache; }
};

// Samplings of the two-pass tests, on identity-transformed sources: xCount x yCount samples, each
// `scale` pels wide, centred on (cx, cy), rows at `angle` degrees, columns against the turned y
// axis when mirrored. exactDiagonal gives sides of exactly equal components (the 45-degree
// boundaries between major axes).
struct Geometry {
  double angle, scale;
  bool mirror;
  int32_t xCount, yCount;
  double cx = 0, cy = 0;
  bool exactDiagonal = false;

  void sides(double* ux, double* uy, double* vx, double* vy) const {
    const double radians = angle * std::numbers::pi / 180;
    *ux = std::cos(radians), *uy = std::sin(radians);
    if (exactDiagonal) *ux = std::copysign(std::sqrt(0.5), *ux), *uy = std::copysign(std::sqrt(0.5), *uy);
    *vx = mirror ? *uy : -*uy, *vy = mirror ? -*ux : *ux;
  }
  affineSampleParams params(uint32_t mode) const {
    double ux, uy, vx, vy;
    sides(&ux, &uy, &vx, &vy);
    const double w = xCount * scale, h = yCount * scale;
    return {{cx - (w * ux + h * vx) / 2, cy - (w * uy + h * vy) / 2, w * ux, h * vx, w * uy, h * vy}, mode, xCount,
            yCount};
  }
  // Half extents of the corner sample centres about the centre.
  void halfExtents(double* ex, double* ey) const {
    double ux, uy, vx, vy;
    sides(&ux, &uy, &vx, &vy);
    *ex = ((xCount - 1) * std::fabs(ux) + (yCount - 1) * std::fabs(vx)) * scale / 2;
    *ey = ((xCount - 1) * std::fabs(uy) + (yCount - 1) * std::fabs(vy)) * scale / 2;
  }
  std::string describe() const {
    return "angle " + std::to_string(angle) + ", scale " + std::to_string(scale) + (mirror ? ", mirrored " : " ") +
           std::to_string(xCount) + "x" + std::to_string(yCount) + " at " + std::to_string(cx) + "," +
           std::to_string(cy);
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
  const double margin = mode == 2 ? 1.5 : 2.5;
  double ex, ey;
  g.halfExtents(&ex, &ey);
  const auto place = [&](int side, double extent, double size, double nudge) {
    return side < 0 ? margin + extent + nudge : side > 0 ? size - margin - extent - nudge : size / 2 + 0.3;
  };
  for (double nudge = 1e-7; nudge < 1e-3; nudge *= 4) {
    g.cx = place(sideX, ex, source.width, nudge);
    g.cy = place(sideY, ey, source.height, nudge);
    if (!clips(g, mode, source)) return true;
  }
  return false;
}

}  // namespace enginetest
