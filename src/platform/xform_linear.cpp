// Linear (affine) transforms: (x, y) -> (e0 x + e1 y + tx, e2 x + e3 y + ty).
// Every builder computes into a local and writes its output only once the result is known to be
// finite, so an output may alias an input and a failure leaves it as it was.
#include "platform/math.hpp"

#include <cmath>

namespace {

int32_t store(kmath_xformLinear* out, const kmath_xformLinear& result) {
  if (!kmath_xformLinear_isFinite(&result)) return KIP_ERR_NOT_FINITE;
  *out = result;
  return KIP_OK;
}

}  // namespace

bool kmath_xformLinear_isFinite(const kmath_xformLinear* xform) {
  return std::isfinite(xform->tx) && std::isfinite(xform->ty) && std::isfinite(xform->e0) &&
         std::isfinite(xform->e1) && std::isfinite(xform->e2) && std::isfinite(xform->e3);
}

int32_t kmath_xformLinear_initIdentity(kmath_xformLinear* out) {
  if (out == nullptr) return KIP_ERR_NULL_POINTER;
  *out = kmath_xformLinear{0.0, 0.0, 1.0, 0.0, 0.0, 1.0};
  return KIP_OK;
}

int32_t kmath_xformLinear_initCompose(kmath_xformLinear* out, const kmath_xformLinear* a,
                                      const kmath_xformLinear* b) {
  if (out == nullptr || a == nullptr || b == nullptr) return KIP_ERR_NULL_POINTER;
  // A non-finite input always spoils the product too; refusing it first keeps the reason plain.
  if (!kmath_xformLinear_isFinite(a) || !kmath_xformLinear_isFinite(b)) return KIP_ERR_NOT_FINITE;
  kmath_xformLinear r;
  r.e0 = a->e0 * b->e0 + a->e1 * b->e2;
  r.e1 = a->e0 * b->e1 + a->e1 * b->e3;
  r.e2 = a->e2 * b->e0 + a->e3 * b->e2;
  r.e3 = a->e2 * b->e1 + a->e3 * b->e3;
  r.tx = a->e0 * b->tx + a->e1 * b->ty + a->tx;
  r.ty = a->e2 * b->tx + a->e3 * b->ty + a->ty;
  return store(out, r);
}

int32_t kmath_xformLinear_initMatrixTransElements(kmath_xformLinear* out, double e0, double e1, double e2,
                                                  double e3, double tx, double ty) {
  if (out == nullptr) return KIP_ERR_NULL_POINTER;
  return store(out, kmath_xformLinear{tx, ty, e0, e1, e2, e3});
}

int32_t kmath_xformLinear_mapPoint(const kmath_xformLinear* xform, const kmath_vect* in, kmath_vect* out) {
  if (xform == nullptr || in == nullptr || out == nullptr) return KIP_ERR_NULL_POINTER;
  if (!kmath_xformLinear_isFinite(xform) || !std::isfinite(in->x) || !std::isfinite(in->y))
    return KIP_ERR_NOT_FINITE;
  const kmath_vect r{xform->e0 * in->x + xform->e1 * in->y + xform->tx,
                     xform->e2 * in->x + xform->e3 * in->y + xform->ty};
  if (!std::isfinite(r.x) || !std::isfinite(r.y)) return KIP_ERR_NOT_FINITE;
  *out = r;
  return KIP_OK;
}

// Exact equality: the sample cache uses this to decide whether its geometry still holds, and any
// difference at all may change a pel. NaN compares unequal, so a NaN key never hits.
int32_t kmath_xformLinear_compareEqual(const kmath_xformLinear* a, const kmath_xformLinear* b, int32_t* equal) {
  if (a == nullptr || b == nullptr || equal == nullptr) return KIP_ERR_NULL_POINTER;
  *equal = (a->tx == b->tx && a->ty == b->ty && a->e0 == b->e0 && a->e1 == b->e1 && a->e2 == b->e2 &&
            a->e3 == b->e3)
               ? 1
               : 0;
  return KIP_OK;
}

int32_t kmath_xformLinear_getInverse(const kmath_xformLinear* xform, kmath_xformLinear* out) {
  if (xform == nullptr || out == nullptr) return KIP_ERR_NULL_POINTER;
  if (!kmath_xformLinear_isFinite(xform)) return KIP_ERR_NOT_FINITE;
  const double det = xform->e0 * xform->e3 - xform->e1 * xform->e2;
  if (det == 0.0) return KIP_ERR_SINGULAR;
  // An overflowing determinant would give an inverse of zeros that looks finite but maps
  // everything to the translation: refuse it rather than hand back a wrong transform.
  if (!std::isfinite(det)) return KIP_ERR_NOT_FINITE;
  kmath_xformLinear r;
  r.e0 = xform->e3 / det;
  r.e1 = -xform->e1 / det;
  r.e2 = -xform->e2 / det;
  r.e3 = xform->e0 / det;
  r.tx = -(r.e0 * xform->tx + r.e1 * xform->ty);
  r.ty = -(r.e2 * xform->tx + r.e3 * xform->ty);
  // A determinant that underflows towards zero gives an infinite inverse: singular in practice.
  if (!kmath_xformLinear_isFinite(&r)) return KIP_ERR_SINGULAR;
  *out = r;
  return KIP_OK;
}
