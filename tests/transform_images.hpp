// Images, samplings and float64 references shared by the transform tests.
#pragma once

#include "support/support.hpp"

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

namespace transformtest {

using kiptest::ScopedImage;

// One 8-bit grey level in the pel's own units.
template <class Pel> constexpr double kLevel = sizeof(Pel) == 1 ? 1.0 : 257.0;

// Three low-frequency cosines (periods of about 50 to 65 pels) around mid-grey, quantised: smooth
// enough that interpolating along the map's axes rather than the source's stays within a few
// tenths of a level, steep enough (up to about 13 levels a pel) that a half-pel slip shows. The
// seed moves the phases.
template <class Pel> void fillSmooth(kimg_image* image, uint32_t seed) {
  const double fx[3] = {1 / 70.0, -1 / 80.0, 1 / 95.0}, fy[3] = {1 / 75.0, 1 / 60.0, -1 / 90.0};
  const double amplitude[3] = {40, 35, 30}, tau = 2 * std::numbers::pi;
  for (int32_t y = 0; y < image->height; ++y)
    for (int32_t x = 0; x < image->width; ++x) {
      double v = 128;
      for (int k = 0; k < 3; ++k) v += amplitude[k] * std::cos(tau * (fx[k] * x + fy[k] * y) + 0.7 * seed * (k + 1));
      static_cast<Pel*>(image->firstPel)[static_cast<ptrdiff_t>(y) * image->stride + x] = static_cast<Pel>(std::lround(v * kLevel<Pel>));
    }
}

// Stored pel (x, y) of an image, counted from its first pel.
template <class Pel> Pel stored(const kimg_image& image, int32_t x, int32_t y) {
  return static_cast<const Pel*>(image.firstPel)[static_cast<ptrdiff_t>(y) * image.stride + x];
}

// Pel (x, y) of the image's pel grid; 0 off the image (how the clipped transform sees the source).
template <class Pel> double gridPel(const kimg_image& image, int64_t x, int64_t y) {
  x -= image.xOrigin, y -= image.yOrigin;
  return x < 0 || y < 0 || x >= image.width || y >= image.height ? 0 : stored<Pel>(image, int32_t(x), int32_t(y));
}

// xCount x yCount samples `pitch` pel-grid units apart, rows running at `angle` degrees, columns
// turned a further 90 (or -90 when mirrored), centred on (cx, cy); the rectangle is given in the
// client coordinates of imageFromClient, which scales both axes alike and shifts.
inline affineSampleParams turnedSampling(uint32_t mode, double angle, double pitch, bool mirror, int32_t xCount, int32_t yCount,
                                         double cx, double cy, const kmath_xformLinear& m = {0, 0, 1, 0, 0, 1}) {
  const double radians = angle * std::numbers::pi / 180, ux = std::cos(radians), uy = std::sin(radians);
  const double vx = mirror ? uy : -uy, vy = mirror ? -ux : ux, w = xCount * pitch / m.e0, h = yCount * pitch / m.e0;
  const double gx = cx - m.e0 * (w * ux + h * vx) / 2, gy = cy - m.e0 * (w * uy + h * vy) / 2;
  return affineSampleParams{{(gx - m.tx) / m.e0, (gy - m.ty) / m.e0, w * ux, h * vx, w * uy, h * vy}, mode, xCount, yCount};
}

// Pel-grid position of destination pel (i, j)'s centre.
inline void samplePoint(const affineSampleParams& p, const kmath_xformLinear& m, int32_t i, int32_t j, double* x, double* y) {
  const double s = (i + 0.5) / p.xCount, t = (j + 0.5) / p.yCount;
  const kmath_shapeAffineRect& r = p.affineRect;
  const double clientX = r.tx + r.e0 * s + r.e1 * t, clientY = r.ty + r.e2 * s + r.e3 * t;
  *x = m.e0 * clientX + m.e1 * clientY + m.tx, *y = m.e2 * clientX + m.e3 * clientY + m.ty;
}

// Keys' cubic convolution kernel, a = -0.5.
inline double keys(double t) { t = std::fabs(t); return t < 1 ? (1.5 * t - 2.5) * t * t + 1 : t < 2 ? ((-0.5 * t + 2.5) * t - 4) * t + 2 : 0; }

// The true interpolation at a pel-grid point, pels standing at their centres, 0 off the image:
// the pel holding it (mode 0), bilinear (modes 1 and 2) or bicubic (mode 3). *slope, when
// asked, is the spread of the pels that entered, for tolerances that allow for position error.
template <class Pel> double reference(const kimg_image& image, uint32_t mode, double x, double y, double* slope = nullptr) {
  if (mode == KIP_SAMPLE_NEAREST) return gridPel<Pel>(image, std::floor(x), std::floor(y));
  const int64_t iu = std::floor(x - 0.5), iv = std::floor(y - 0.5);
  const double fu = x - 0.5 - iu, fv = y - 0.5 - iv;
  const int reach = mode == KIP_SAMPLE_CUBIC2 ? 1 : 0;
  double low = 1e9, high = -1e9, sum = 0;
  for (int j = -reach; j <= 1 + reach; ++j)
    for (int i = -reach; i <= 1 + reach; ++i) {
      const double pel = gridPel<Pel>(image, iu + i, iv + j);
      low = std::fmin(low, pel), high = std::fmax(high, pel);
      sum += pel * (reach ? keys(i - fu) * keys(j - fv) : (i == 0 ? 1 - fu : fu) * (j == 0 ? 1 - fv : fv));
    }
  if (slope != nullptr) *slope = high - low;
  return sum;
}

// Distance from a coordinate to the nearest pel border.
inline double borderDistance(double v) { return std::fabs(v - std::round(v)); }

constexpr kmath_xformLinear kIdentity{0, 0, 1, 0, 0, 1};

// Every pel of an image, row after row, as 32-bit values.
inline std::vector<uint32_t> pelsOf(const kimg_image& image) {
  std::vector<uint32_t> pels;
  for (int32_t y = 0; y < image.height; ++y)
    for (int32_t x = 0; x < image.width; ++x)
      pels.push_back(image.pelSize == 1 ? stored<uint8_t>(image, x, y) : stored<uint16_t>(image, x, y));
  return pels;
}

inline bool sameXform(const kmath_xformLinear& a, const kmath_xformLinear& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The destination image-from-client transform that the sampling gives a destination (zeros if refused).
inline kmath_xformLinear destinationXform(const affineSampleParams& params) {
  kmath_xformLinear xform{};
  return kip_affineSampleParams_getDestImageFromClientXform(&params, 0, &xform) == 0 ? xform : kmath_xformLinear{};
}

}  // namespace transformtest
