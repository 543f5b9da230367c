// 2x2 matrices stored as four consecutive doubles e0, e1, e2, e3, so that &xform.e0 of a
// kmath_xformLinear is one: (e0 e1; e2 e3) maps the unit x vector to (e0, e2).
#include "platform/math.hpp"

#include <algorithm>
#include <cmath>

namespace {

bool isFinite4(const double* m) {
  return std::isfinite(m[0]) && std::isfinite(m[1]) && std::isfinite(m[2]) && std::isfinite(m[3]);
}

int32_t storeScalar(double* out, double value) {
  if (!std::isfinite(value)) return KIP_ERR_NOT_FINITE;
  *out = value;
  return KIP_OK;
}

// hypot rather than sqrt(a*a + b*b): no overflow of the squares for large but finite elements.
double xScale(const double* m) { return std::hypot(m[0], m[2]); }
double yScale(const double* m) { return std::hypot(m[1], m[3]); }

}  // namespace

int32_t kmath_matrix_init(double* matrix, double e0, double e1, double e2, double e3) {
  if (matrix == nullptr) return KIP_ERR_NULL_POINTER;
  const double m[4] = {e0, e1, e2, e3};
  if (!isFinite4(m)) return KIP_ERR_NOT_FINITE;
  std::copy(m, m + 4, matrix);
  return KIP_OK;
}

int32_t kmath_matrix_getXScale(const double* matrix, double* scale) {
  if (matrix == nullptr || scale == nullptr) return KIP_ERR_NULL_POINTER;
  if (!isFinite4(matrix)) return KIP_ERR_NOT_FINITE;
  return storeScalar(scale, xScale(matrix));
}

int32_t kmath_matrix_getYScale(const double* matrix, double* scale) {
  if (matrix == nullptr || scale == nullptr) return KIP_ERR_NULL_POINTER;
  if (!isFinite4(matrix)) return KIP_ERR_NOT_FINITE;
  return storeScalar(scale, yScale(matrix));
}

// The larger axis scale, not a mean or the square root of the determinant: a line buffer sized
// from this must hold the source span of the longer axis of an anisotropic map.
int32_t kmath_matrix_getScale(const double* matrix, double* scale) {
  if (matrix == nullptr || scale == nullptr) return KIP_ERR_NULL_POINTER;
  if (!isFinite4(matrix)) return KIP_ERR_NOT_FINITE;
  return storeScalar(scale, std::max(xScale(matrix), yScale(matrix)));
}

int32_t kmath_matrix_getDeterminant(const double* matrix, double* determinant) {
  if (matrix == nullptr || determinant == nullptr) return KIP_ERR_NULL_POINTER;
  if (!isFinite4(matrix)) return KIP_ERR_NOT_FINITE;
  return storeScalar(determinant, matrix[0] * matrix[3] - matrix[1] * matrix[2]);
}
