// Affine rectangles: the map of the unit square onto a parallelogram, stored as the six doubles
// of a linear transform. (tx, ty) is the origin corner p0, (e0, e2) the x side, (e1, e3) the y
// side. Outputs are written only when every value is finite.
#include "platform/math.hpp"

#include <algorithm>
#include <cmath>

namespace {

bool isFinite(const kmath_vect& v) { return std::isfinite(v.x) && std::isfinite(v.y); }

kmath_shapeAffineRect asRect(const kmath_xformLinear& x) { return {x.tx, x.ty, x.e0, x.e1, x.e2, x.e3}; }

bool isFinite(const kmath_shapeAffineRect& rect) {
  const kmath_xformLinear x = kmath_shapeAffineRect_asXform(rect);
  return kmath_xformLinear_isFinite(&x);
}

bool fitsInt32(double integral) { return integral >= -2147483648.0 && integral <= 2147483647.0; }

}  // namespace

kmath_xformLinear kmath_shapeAffineRect_asXform(const kmath_shapeAffineRect& rect) {
  return {rect.tx, rect.ty, rect.e0, rect.e1, rect.e2, rect.e3};
}

int32_t kmath_vect_init(kmath_vect* out, double x, double y) {
  if (out == nullptr) return KIP_ERR_NULL_POINTER;
  const kmath_vect v{x, y};
  if (!isFinite(v)) return KIP_ERR_NOT_FINITE;
  *out = v;
  return KIP_OK;
}

// The unit square goes through rect first, then through xform.
int32_t kmath_shapeAffineRect_initMap(kmath_shapeAffineRect* out, const kmath_xformLinear* xform,
                                      const kmath_shapeAffineRect* rect) {
  if (out == nullptr || xform == nullptr || rect == nullptr) return KIP_ERR_NULL_POINTER;
  const kmath_xformLinear r = kmath_shapeAffineRect_asXform(*rect);
  kmath_xformLinear mapped;
  const int32_t status = kmath_xformLinear_initCompose(&mapped, xform, &r);
  if (status != KIP_OK) return status;
  *out = asRect(mapped);
  return KIP_OK;
}

int32_t kmath_shapeAffineRect_getCenter(const kmath_shapeAffineRect* rect, kmath_shapeAffineRectCenter* out) {
  if (rect == nullptr || out == nullptr) return KIP_ERR_NULL_POINTER;
  if (!isFinite(*rect)) return KIP_ERR_NOT_FINITE;
  const double cross = rect->e0 * rect->e3 - rect->e2 * rect->e1;
  const double dot = rect->e0 * rect->e1 + rect->e2 * rect->e3;
  const kmath_shapeAffineRectCenter c{rect->tx + (rect->e0 + rect->e1) / 2.0,
                                      rect->ty + (rect->e2 + rect->e3) / 2.0,
                                      std::hypot(rect->e0, rect->e2),
                                      std::hypot(rect->e1, rect->e3),
                                      std::atan2(rect->e2, rect->e0),
                                      std::atan2(cross, dot)};
  if (!(std::isfinite(c.cx) && std::isfinite(c.cy) && std::isfinite(c.xLength) && std::isfinite(c.yLength) &&
        std::isfinite(c.xAngle) && std::isfinite(c.skewAngle)))
    return KIP_ERR_NOT_FINITE;
  *out = c;
  return KIP_OK;
}

int32_t kmath_shapeAffineRect_getPoints(const kmath_shapeAffineRect* rect, kmath_shapeAffineRectPoints* out) {
  if (rect == nullptr || out == nullptr) return KIP_ERR_NULL_POINTER;
  if (!isFinite(*rect)) return KIP_ERR_NOT_FINITE;
  const kmath_vect p0{rect->tx, rect->ty};
  const kmath_shapeAffineRectPoints p{p0, {p0.x + rect->e0, p0.y + rect->e2}, {p0.x + rect->e1, p0.y + rect->e3}};
  if (!isFinite(p.p1) || !isFinite(p.p2)) return KIP_ERR_NOT_FINITE;
  *out = p;
  return KIP_OK;
}

int32_t kmath_shapeAffineRect_initPoints(kmath_shapeAffineRect* out, const kmath_shapeAffineRectPoints* points) {
  if (out == nullptr || points == nullptr) return KIP_ERR_NULL_POINTER;
  const kmath_vect& p0 = points->p0;
  const kmath_vect& p1 = points->p1;
  const kmath_vect& p2 = points->p2;
  if (!isFinite(p0) || !isFinite(p1) || !isFinite(p2)) return KIP_ERR_NOT_FINITE;
  const kmath_shapeAffineRect r{p0.x, p0.y, p1.x - p0.x, p2.x - p0.x, p1.y - p0.y, p2.y - p0.y};
  if (!isFinite(r)) return KIP_ERR_NOT_FINITE;
  *out = r;
  return KIP_OK;
}

// p1 + (p2 - p0): the y side added to the end of the x side, which neither overflows nor loses
// digits when both corners are far from the origin but close to each other.
int32_t kmath_shapeAffineRectPoints_getPopp(const kmath_shapeAffineRectPoints* points, kmath_vect* out) {
  if (points == nullptr || out == nullptr) return KIP_ERR_NULL_POINTER;
  if (!isFinite(points->p0) || !isFinite(points->p1) || !isFinite(points->p2)) return KIP_ERR_NOT_FINITE;
  const kmath_vect v{points->p1.x + (points->p2.x - points->p0.x), points->p1.y + (points->p2.y - points->p0.y)};
  if (!isFinite(v)) return KIP_ERR_NOT_FINITE;
  *out = v;
  return KIP_OK;
}

// Pel (i, j) covers [i, i + 1) x [j, j + 1), so the enclosing pels run from floor of the smallest
// coordinate to ceiling of the largest, exclusive: a corner on a pel border adds no pel beyond it.
// The right and bottom edges must fit int32 as well as x, y, width and height, so that callers can
// form x + width without overflow.
int32_t kmath_shapeAffineRect_getEncloseImageRect(const kmath_shapeAffineRect* rect, const kmath_xformLinear* xform,
                                                  kstd_rect32* out) {
  if (rect == nullptr || xform == nullptr || out == nullptr) return KIP_ERR_NULL_POINTER;
  kmath_shapeAffineRect mapped;
  int32_t status = kmath_shapeAffineRect_initMap(&mapped, xform, rect);
  if (status != KIP_OK) return status;
  kmath_shapeAffineRectPoints p;
  status = kmath_shapeAffineRect_getPoints(&mapped, &p);
  if (status != KIP_OK) return status;
  kmath_vect p3;
  status = kmath_shapeAffineRectPoints_getPopp(&p, &p3);
  if (status != KIP_OK) return status;

  const double left = std::floor(std::min({p.p0.x, p.p1.x, p.p2.x, p3.x}));
  const double top = std::floor(std::min({p.p0.y, p.p1.y, p.p2.y, p3.y}));
  const double right = std::ceil(std::max({p.p0.x, p.p1.x, p.p2.x, p3.x}));
  const double bottom = std::ceil(std::max({p.p0.y, p.p1.y, p.p2.y, p3.y}));
  // Edges within int32 make the differences exact doubles, so width and height are checked exactly.
  if (!fitsInt32(left) || !fitsInt32(top) || !fitsInt32(right) || !fitsInt32(bottom)) return KIP_ERR_OUT_OF_RANGE;
  const double width = right - left;
  const double height = bottom - top;
  if (!fitsInt32(width) || !fitsInt32(height)) return KIP_ERR_OUT_OF_RANGE;
  *out = kstd_rect32{static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(width),
                     static_cast<int32_t>(height)};
  return KIP_OK;
}

// Exact equality, as for transforms: NaN compares unequal.
int32_t kmath_shapeAffineRect_compareEqual(const kmath_shapeAffineRect* a, const kmath_shapeAffineRect* b,
                                           int32_t* equal) {
  if (a == nullptr || b == nullptr || equal == nullptr) return KIP_ERR_NULL_POINTER;
  const kmath_xformLinear xa = kmath_shapeAffineRect_asXform(*a);
  const kmath_xformLinear xb = kmath_shapeAffineRect_asXform(*b);
  return kmath_xformLinear_compareEqual(&xa, &xb, equal);
}
