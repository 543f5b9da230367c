// The math layer: linear transforms, 2x2 matrices, affine rectangles and their points, rounding.
// Plain functions return a status; the kx2 classes throw kxException, for the few callers that
// compose several operations and catch once.
//
// Non-finite values: every function that builds a transform, a rectangle or a point from others
// returns KIP_ERR_NOT_FINITE when its result holds NaN or an infinity, so that no later
// float-to-integer conversion meets one. The integer conversions (kxfIFloor, kxfICeil) saturate
// instead of invoking undefined behaviour; callers that need to know use the checked forms.
#pragma once

#include <kip/kip.h>

#include <cstdint>

struct kmath_vect {
  double x, y;
};

// Three corners of an affine rectangle: origin, end of the x side, end of the y side.
struct kmath_shapeAffineRectPoints {
  kmath_vect p0, p1, p2;
};

// Centred form of an affine rectangle: centre, side lengths, the angle of the x side and the angle
// from the x side to the y side (pi/2 for a rectangle, -pi/2 when mirrored).
struct kmath_shapeAffineRectCenter {
  double cx, cy, xLength, yLength, xAngle, skewAngle;
};

// --- Linear transforms (a maps (x, y) to (e0 x + e1 y + tx, e2 x + e3 y + ty)) ---
int32_t kmath_xformLinear_initIdentity(kmath_xformLinear* out);
// out maps a point by b, then by a.
int32_t kmath_xformLinear_initCompose(kmath_xformLinear* out, const kmath_xformLinear* a,
                                      const kmath_xformLinear* b);
int32_t kmath_xformLinear_initMatrixTransElements(kmath_xformLinear* out, double e0, double e1, double e2,
                                                  double e3, double tx, double ty);
int32_t kmath_xformLinear_mapPoint(const kmath_xformLinear* xform, const kmath_vect* in, kmath_vect* out);
// *equal nonzero when all six elements are equal.
int32_t kmath_xformLinear_compareEqual(const kmath_xformLinear* a, const kmath_xformLinear* b, int32_t* equal);
// KIP_ERR_SINGULAR when the determinant is 0 (or the inverse would not be finite).
int32_t kmath_xformLinear_getInverse(const kmath_xformLinear* xform, kmath_xformLinear* out);
bool kmath_xformLinear_isFinite(const kmath_xformLinear* xform);

// --- 2x2 matrices: four doubles e0, e1, e2, e3 (the matrix part of a transform: &xform.e0) ---
int32_t kmath_matrix_init(double* matrix, double e0, double e1, double e2, double e3);
int32_t kmath_matrix_getXScale(const double* matrix, double* scale);  // sqrt(e0^2 + e2^2)
int32_t kmath_matrix_getYScale(const double* matrix, double* scale);  // sqrt(e1^2 + e3^2)
// The larger of the x and y scales: the longest step one unit of either axis can make, which is
// what a buffer sized by it must hold.
int32_t kmath_matrix_getScale(const double* matrix, double* scale);
int32_t kmath_matrix_getDeterminant(const double* matrix, double* determinant);

// --- Scalars ---
double kmath_double_round(double x);  // nearest integer, halves away from zero
int kmath_double_epsilonEqual(double a, double b, double epsilon);  // |a - b| <= epsilon
int32_t kxfIFloor(double x);  // saturates to the int32 range; NaN gives 0
int32_t kxfICeil(double x);   // likewise
double kxfFrac(double x);     // x - floor(x), in [0, 1)
// Checked conversions: KIP_ERR_NOT_FINITE or KIP_ERR_OUT_OF_RANGE instead of saturating.
int32_t kmath_double_checkedFloor(double x, int32_t* out);
int32_t kmath_double_checkedCeil(double x, int32_t* out);

// --- Affine rectangles ---
int32_t kmath_vect_init(kmath_vect* out, double x, double y);
// The rectangle mapped by xform.
int32_t kmath_shapeAffineRect_initMap(kmath_shapeAffineRect* out, const kmath_xformLinear* xform,
                                      const kmath_shapeAffineRect* rect);
int32_t kmath_shapeAffineRect_getCenter(const kmath_shapeAffineRect* rect, kmath_shapeAffineRectCenter* out);
int32_t kmath_shapeAffineRect_getPoints(const kmath_shapeAffineRect* rect, kmath_shapeAffineRectPoints* out);
int32_t kmath_shapeAffineRect_initPoints(kmath_shapeAffineRect* out, const kmath_shapeAffineRectPoints* points);
// The fourth corner, p1 + p2 - p0.
int32_t kmath_shapeAffineRectPoints_getPopp(const kmath_shapeAffineRectPoints* points, kmath_vect* out);
// Smallest rectangle of whole pels enclosing the rectangle mapped by xform: from floor of the
// smallest coordinate to ceiling of the largest (a point on a pel border adds no pel beyond it).
// KIP_ERR_OUT_OF_RANGE when it does not fit 32-bit integers.
int32_t kmath_shapeAffineRect_getEncloseImageRect(const kmath_shapeAffineRect* rect, const kmath_xformLinear* xform,
                                                  kstd_rect32* out);
int32_t kmath_shapeAffineRect_compareEqual(const kmath_shapeAffineRect* a, const kmath_shapeAffineRect* b,
                                           int32_t* equal);
// The same six doubles read as the map of the unit square onto the rectangle.
kmath_xformLinear kmath_shapeAffineRect_asXform(const kmath_shapeAffineRect& rect);

// --- Throwing forms ---
struct kxException {
  int32_t status;
};

struct kx2Vect {
  double x = 0.0, y = 0.0;
};

class kx2Xform {
 public:
  kx2Xform();  // identity
  explicit kx2Xform(const kmath_xformLinear& linear);
  // A * B applies B first. Throws kxException{KIP_ERR_NOT_FINITE} on a non-finite result.
  kx2Xform operator*(const kx2Xform& other) const;
  kx2Vect operator*(const kx2Vect& point) const;
  int32_t getInverse(kx2Xform* out) const;
  const kmath_xformLinear& linear() const { return linear_; }
  operator kmath_xformLinear() const { return linear_; }

 private:
  kmath_xformLinear linear_;
};
