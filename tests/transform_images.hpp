// Images, samplings and float64 references shared by the transform tests.
#pragma once

#include <kip/kip.h>

#include "support/support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

namespace transformtest {

using kiptest::ScopedImage;

// One 8-bit grey level in the pel's own units.
template <class Pel>
constexpr double kLevel = sizeof(Pel) == 1 ? 1.0 : 257.0;

template <class Pel>
constexpr int32_t kPelSize = static_cast<int32_t>(sizeof(Pel));

// Three low-frequency cosines (periods of 45 to 90 pels) around mid-grey, quantised: smooth enough
// that interpolating along the map's axes rather than the source's stays within a few tenths of a
// level, steep enough (up to about 15 levels a pel) that a half-pel slip shows.
template <class Pel>
void fillSmooth(kimg_image* image, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  double fx[3], fy[3], phase[3];
  const double amplitude[3] = {40, 35, 30};
  for (int k = 0; k < 3; ++k) {
    const double direction = 2 * std::numbers::pi * unit(random), period = 45 + 45 * unit(random);
    fx[k] = std::cos(direction) / period, fy[k] = std::sin(direction) / period;
    phase[k] = 2 * std::numbers::pi * unit(random);
  }
  for (int32_t y = 0; y < image->height; ++y) {
    Pel* row = static_cast<Pel*>(image->firstPel) + static_cast<ptrdiff_t>(y) * image->stride;
    for (int32_t x = 0; x < image->width; ++x) {
      double v = 128;
      for (int k = 0; k < 3; ++k) v += amplitude[k] * std::cos(2 * std::numbers::pi * (fx[k] * x + fy[k] * y) + phase[k]);
      row[x] = static_cast<Pel>(std::lround(v * kLevel<Pel>));
    }
  }
}

// Stored pel (x, y) of an image, counted from its first pel.
template <class Pel>
Pel stored(const kimg_image& image, int32_t x, int32_t y) {
  return static_cast<const Pel*>(image.firstPel)[static_cast<ptrdiff_t>(y) * image.stride + x];
}

// Pel (x, y) of the image's pel grid; 0 off the image (how the clipped transform sees the source).
template <class Pel>
double gridPel(const kimg_image& image, int64_t x, int64_t y) {
  x -= image.xOrigin, y -= image.yOrigin;
  if (x < 0 || y < 0 || x >= image.width || y >= image.height) return 0;
  return stored<Pel>(image, static_cast<int32_t>(x), static_cast<int32_t>(y));
}

// xCount x yCount samples `pitch` pel-grid units apart, rows running at `angle` degrees, columns
// turned a further 90 (or -90 when mirrored), centred on (cx, cy); the rectangle is given in the
// client coordinates of imageFromClient.
inline affineSampleParams turnedSampling(uint32_t mode, double angle, double pitch, bool mirror, int32_t xCount,
                                         int32_t yCount, double cx, double cy,
                                         const kmath_xformLinear& imageFromClient = {0, 0, 1, 0, 0, 1}) {
  const double radians = angle * std::numbers::pi / 180, ux = std::cos(radians), uy = std::sin(radians);
  const double vx = mirror ? uy : -uy, vy = mirror ? -ux : ux;
  const double w = xCount * pitch, h = yCount * pitch;
  // The rectangle in the pel grid, then taken back to client coordinates.
  const double gx = cx - (w * ux + h * vx) / 2, gy = cy - (w * uy + h * vy) / 2;
  const kmath_xformLinear& m = imageFromClient;
  const double det = m.e0 * m.e3 - m.e1 * m.e2;
  auto back = [&](double x, double y, double* cxOut, double* cyOut) {
    *cxOut = (m.e3 * x - m.e1 * y) / det, *cyOut = (-m.e2 * x + m.e0 * y) / det;
  };
  double tx, ty, e0, e2, e1, e3;
  back(gx - m.tx, gy - m.ty, &tx, &ty);
  back(w * ux, w * uy, &e0, &e2);
  back(h * vx, h * vy, &e1, &e3);
  return affineSampleParams{{tx, ty, e0, e1, e2, e3}, mode, xCount, yCount};
}

// Pel-grid position of destination pel (i, j)'s centre.
inline void samplePoint(const affineSampleParams& p, const kmath_xformLinear& m, int32_t i, int32_t j, double* x,
                        double* y) {
  const double s = (i + 0.5) / p.xCount, t = (j + 0.5) / p.yCount;
  const kmath_shapeAffineRect& r = p.affineRect;
  const double clientX = r.tx + r.e0 * s + r.e1 * t, clientY = r.ty + r.e2 * s + r.e3 * t;
  *x = m.e0 * clientX + m.e1 * clientY + m.tx;
  *y = m.e2 * clientX + m.e3 * clientY + m.ty;
}

// Keys' cubic convolution kernel, a = -0.5.
inline double keys(double t) {
  t = std::fabs(t);
  if (t < 1) return (1.5 * t - 2.5) * t * t + 1;
  if (t < 2) return ((-0.5 * t + 2.5) * t - 4) * t + 2;
  return 0;
}

// The true interpolation at a pel-grid point, pels standing at their centres, 0 off the image:
// the pel holding it (mode 0), bilinear (modes 1 and 2) or bicubic (mode 3). *slope, when
// asked, is the spread of the pels that entered, for tolerances that allow for position error.
template <class Pel>
double reference(const kimg_image& image, uint32_t mode, double x, double y, double* slope = nullptr) {
  if (mode == KIP_SAMPLE_NEAREST) return gridPel<Pel>(image, std::floor(x), std::floor(y));
  const double u = x - 0.5, v = y - 0.5;
  const int64_t iu = std::floor(u), iv = std::floor(v);
  const double fu = u - iu, fv = v - iv;
  const int reach = mode == KIP_SAMPLE_CUBIC2 ? 1 : 0;
  double low = 1e9, high = -1e9, sum = 0;
  for (int j = -reach; j <= 1 + reach; ++j) {
    for (int i = -reach; i <= 1 + reach; ++i) {
      const double pel = gridPel<Pel>(image, iu + i, iv + j);
      low = std::min(low, pel), high = std::max(high, pel);
      const double weight = mode == KIP_SAMPLE_CUBIC2 ? keys(i - fu) * keys(j - fv)
                                                      : (i == 0 ? 1 - fu : fu) * (j == 0 ? 1 - fv : fv);
      sum += weight * pel;
    }
  }
  if (slope != nullptr) *slope = high - low;
  return sum;
}

// Distance from a coordinate to the nearest pel border.
inline double borderDistance(double v) { return std::fabs(v - std::round(v)); }

}  // namespace transformtest
