// Samplings aimed at a fuzzed source and their work budget.
#include "fuzz_support.hpp"

#include <algorithm>
#include <cmath>

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

}  // namespace kipfuzz
