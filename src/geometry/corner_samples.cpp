// Centres of the four corner samples in source pel coordinates. The clip tests compare only these
// against the window: the map is affine, so every other sample centre lies in their hull.
#include <cmath>

#include "geometry/geometry.hpp"

int32_t affineSampleParams_getCornerSampleCentres(const affineSampleParams* params,
                                                  const kmath_xformLinear* imageFromClient, kmath_vect centres[4]) {
  if (params == nullptr || imageFromClient == nullptr || centres == nullptr) return KIP_ERR_NULL_POINTER;
  int32_t status = affineSampleParams_checkCounts(*params);
  if (status < 0) return status;
  status = affineSampleParams_checkFinite(params->affineRect);
  if (status < 0) return status;
  status = affineSampleParams_checkFinite(*imageFromClient);
  if (status < 0) return status;

  kmath_shapeAffineRect mapped{};
  status = kmath_shapeAffineRect_initMap(&mapped, imageFromClient, &params->affineRect);
  if (status < 0) return status;
  kmath_shapeAffineRectPoints points{};
  status = kmath_shapeAffineRect_getPoints(&mapped, &points);
  if (status < 0) return status;

  // Half a sample along each side: a moves from an x end inwards, b from a y end inwards. The
  // expressions are grouped as below so that every caller gets the same bits.
  const double hx = 0.5 / params->xCount;
  const double hy = 0.5 / params->yCount;
  const double ax = (points.p1.x - points.p0.x) * hx;
  const double ay = (points.p1.y - points.p0.y) * hx;
  const double bx = (points.p2.x - points.p0.x) * hy;
  const double by = (points.p2.y - points.p0.y) * hy;

  kmath_shapeAffineRectPoints inner{};
  inner.p0 = {points.p0.x + (bx + ax), points.p0.y + (by + ay)};
  inner.p1 = {points.p1.x + (bx - ax), points.p1.y + (by - ay)};
  inner.p2 = {points.p2.x - (bx - ax), points.p2.y - (by - ay)};
  kmath_vect opposite{};
  status = kmath_shapeAffineRectPoints_getPopp(&inner, &opposite);
  if (status < 0) return status;

  const kmath_vect result[4] = {inner.p0, inner.p1, inner.p2, opposite};
  for (const kmath_vect& c : result) {
    if (!std::isfinite(c.x) || !std::isfinite(c.y)) return KIP_ERR_NOT_FINITE;
  }
  for (int i = 0; i < 4; ++i) centres[i] = result[i];
  return 0;
}
