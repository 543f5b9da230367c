// Samplings aimed at a fuzzed source, their work budget, the source pels around a sample, and the
// comparison of results.
#include "fuzz_support.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kipfuzz {

Sampling makeSampling(Input& in, int32_t pelSize, int32_t maxSize) {
  Sampling sampling;
  sampling.source = makeImage(in, pelSize, maxSize);
  const kimg_image& image = *sampling.source->get();
  const bool bound = sampling.source->bound();
  const int32_t w = bound ? image.width : 16, h = bound ? image.height : 16;
  kmath_shapeAffineRect rect = in.affineRect(w, h);
  // From the source's pel grid into its client coordinates: shift by the origin, then by the
  // inverse of the image-from-client transform when it has one.
  if (bound && in.oneIn(8) == false) {
    rect.tx += image.xOrigin;
    rect.ty += image.yOrigin;
    const kmath_xformLinear& m = image.imageFromClient;
    const double det = m.e0 * m.e3 - m.e1 * m.e2;
    if (std::isfinite(det) && det != 0 && !(m.e0 == 1 && m.e1 == 0 && m.e2 == 0 && m.e3 == 1 && m.tx == 0 && m.ty == 0)) {
      const double i0 = m.e3 / det, i1 = -m.e1 / det, i2 = -m.e2 / det, i3 = m.e0 / det;
      const double x = rect.tx - m.tx, y = rect.ty - m.ty;
      rect = {i0 * x + i1 * y, i2 * x + i3 * y, i0 * rect.e0 + i1 * rect.e2, i0 * rect.e1 + i1 * rect.e3,
              i2 * rect.e0 + i3 * rect.e2, i2 * rect.e1 + i3 * rect.e3};
    }
  }
  const auto side = [&](double a, double b) {
    const double length = std::hypot(a, b);
    if (in.flag() && std::isfinite(length) && length >= 0.5 && length < 4096) {
      // The length in source pels for an identity client transform: aligned maps.
      return static_cast<int32_t>(std::lround(length));
    }
    return in.count();
  };
  sampling.params.affineRect = rect;
  sampling.params.xCount = side(rect.e0, rect.e2);
  sampling.params.yCount = side(rect.e1, rect.e3);
  sampling.params.sampleMode = in.sampleMode();
  return sampling;
}

void capWork(affineSampleParams* p, int32_t pelSize, bool projection) {
  if (p->xCount < 1 || p->yCount < 1) return;
  const int64_t samples = int64_t{p->xCount} * p->yCount;
  const uint64_t stored = static_cast<uint64_t>(projection ? p->xCount : samples) * pelSize;
  if (samples <= kSampleBudget || stored > kAllocationLimit) return;
  p->yCount = static_cast<int32_t>(std::max<int64_t>(1, kSampleBudget / p->xCount));
}

bool sourceRange(const kimg_window& source, const kmath_xformLinear& m, const affineSampleParams& p, int32_t j,
                 int32_t i, uint32_t* low, uint32_t* high) {
  const kmath_shapeAffineRect& r = p.affineRect;
  // Positions computed here and in kip round differently; where the maps magnify rounding past a
  // hundredth of a pel (huge coordinates, huge scales) there is nothing to compare.
  const double scale = std::max({std::fabs(m.e0), std::fabs(m.e1), std::fabs(m.e2), std::fabs(m.e3)});
  const double reach = std::fabs(r.tx) + std::fabs(r.ty) + std::fabs(r.e0) + std::fabs(r.e1) + std::fabs(r.e2) +
                       std::fabs(r.e3);
  if (!(1e-14 * (scale * reach + std::fabs(m.tx) + std::fabs(m.ty)) < 0.01)) return false;
  const double u = (j + 0.5) / p.xCount, v = (i + 0.5) / p.yCount;
  const double cx = r.tx + r.e0 * u + r.e1 * v, cy = r.ty + r.e2 * u + r.e3 * v;
  const double x = m.e0 * cx + m.e1 * cy + m.tx - source.xOrigin;
  const double y = m.e2 * cx + m.e3 * cy + m.ty - source.yOrigin;
  if (!std::isfinite(x) || !std::isfinite(y) || x < -1 || y < -1 || x > source.width + 1 || y > source.height + 1) {
    return false;
  }
  const int32_t x0 = std::max(0, static_cast<int32_t>(std::floor(x - 0.5)) - 1);
  const int32_t y0 = std::max(0, static_cast<int32_t>(std::floor(y - 0.5)) - 1);
  const int32_t x1 = std::min(source.width - 1, x0 + 3), y1 = std::min(source.height - 1, y0 + 3);
  if (x0 > x1 || y0 > y1) return false;
  *low = UINT32_MAX;
  *high = 0;
  for (int32_t yy = y0; yy <= y1; ++yy) {
    for (int32_t xx = x0; xx <= x1; ++xx) {
      *low = std::min(*low, pelAt(source, xx, yy));
      *high = std::max(*high, pelAt(source, xx, yy));
    }
  }
  return true;
}

bool entryRange(const kimg_window& source, const kmath_xformLinear& imageFromClient, const affineSampleParams& params,
                int32_t i, uint64_t* low, uint64_t* high) {
  if (params.yCount > 256) return false;  // keeps the check cheap and the sums below 2^32
  *low = *high = 0;
  for (int32_t row = 0; row < params.yCount; ++row) {
    uint32_t l = 0, h = 0;
    if (!sourceRange(source, imageFromClient, params, i, row, &l, &h)) return false;
    *low += l;
    *high += h;
  }
  return true;
}

void expectDestXform(const char* call, const affineSampleParams& params, int32_t projection,
                     const kmath_xformLinear& got) {
  kmath_xformLinear expected{};
  checkStatus("kip_affineSampleParams_getDestImageFromClientXform",
              kip_affineSampleParams_getDestImageFromClientXform(&params, projection, &expected));
  KIPFUZZ_CHECK(std::memcmp(&expected, &got, sizeof got) == 0, call, "not the sampling's destination transform");
}

bool samePels(const kimg_image* a, const kimg_image* b, int32_t width, int32_t height) {
  kimg_window wa{}, wb{};
  if (kimg_windowConst_init(&wa, a) < 0 || kimg_windowConst_init(&wb, b) < 0) return false;
  if (kimg_windowConst_window(&wa, 0, 0, width, height, nullptr) < 0) return false;
  if (kimg_windowConst_window(&wb, 0, 0, width, height, nullptr) < 0) return false;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      if (pelAt(wa, x, y) != pelAt(wb, x, y)) return false;
    }
  }
  return true;
}

}  // namespace kipfuzz
