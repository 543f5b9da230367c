// The math layer: composition, inversion, pel rectangles, centred forms, rounding and conversions.
#include "platform/math.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kPi = 3.14159265358979323846;
constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min(), kMax32 = std::numeric_limits<int32_t>::max();
constexpr int32_t kOk = KIP_OK, kRange = KIP_ERR_OUT_OF_RANGE, kNotFinite = KIP_ERR_NOT_FINITE;

kmath_xformLinear xform(double e0, double e1, double e2, double e3, double tx, double ty) { return {tx, ty, e0, e1, e2, e3}; }
kmath_xformLinear translation(double tx, double ty) { return xform(1, 0, 0, 1, tx, ty); }
kmath_xformLinear scale(double sx, double sy) { return xform(sx, 0, 0, sy, 0, 0); }
kmath_xformLinear rotation(double degrees) {
  return xform(std::cos(degrees * kPi / 180), -std::sin(degrees * kPi / 180), std::sin(degrees * kPi / 180),
               std::cos(degrees * kPi / 180), 0, 0);
}
kmath_shapeAffineRect rectOf(double tx, double ty, double e0, double e1, double e2, double e3) { return {tx, ty, e0, e1, e2, e3}; }

kmath_vect map(const kmath_xformLinear& x, kmath_vect p) {
  kmath_vect out{kNaN, kNaN};
  EXPECT_EQ(kmath_xformLinear_mapPoint(&x, &p, &out), KIP_OK);
  return out;
}

template <typename T>
bool sameBits(const T& a, const T& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The six doubles of a transform, a rectangle, a centred form or three points, by index.
template <typename T>
double& fieldOf(T& record, int field) { return reinterpret_cast<double*>(&record)[field]; }
template <typename T>
double fieldOf(const T& record, int field) { return reinterpret_cast<const double*>(&record)[field]; }

// a o b maps by b, then by a (so does the throwing product); the output may alias either input; the
// inverse composes to the identity on both sides.
TEST(MathCompose, PairsMapInOrderAliasAndInvert) {
  const std::pair<kmath_xformLinear, kmath_xformLinear> pairs[] = {
      {translation(5, 7), scale(2, 3)}, {xform(1, 0.5, 0, 1, 2, 3), xform(0.25, 0, 0.75, -2, -1, 4)}};
  for (const auto& [a, b] : pairs) {
    kmath_xformLinear ab, intoA = a, intoB = b, square = a, expectedSquare;
    ASSERT_EQ(kmath_xformLinear_initCompose(&ab, &a, &b), KIP_OK);
    for (const kmath_vect p : {kmath_vect{3.5, -2}, {-7, 11.25}}) {
      const kmath_vect expected = map(a, map(b, p)), actual = map(ab, p);
      const kx2Vect product = (kx2Xform(a) * kx2Xform(b)) * kx2Vect{p.x, p.y};
      EXPECT_TRUE(std::abs(actual.x - expected.x) + std::abs(actual.y - expected.y) < 1e-9);
      EXPECT_TRUE(std::abs(product.x - expected.x) + std::abs(product.y - expected.y) < 1e-9);
    }
    ASSERT_EQ(kmath_xformLinear_initCompose(&intoA, &intoA, &b) | kmath_xformLinear_initCompose(&intoB, &a, &intoB) |
                  kmath_xformLinear_initCompose(&expectedSquare, &a, &a) |
                  kmath_xformLinear_initCompose(&square, &square, &square), KIP_OK);
    EXPECT_TRUE(sameBits(intoA, ab) && sameBits(intoB, ab) && sameBits(square, expectedSquare));
    for (const kmath_xformLinear& x : {a, b}) {
      kmath_xformLinear inverse, left, right;
      const kmath_xformLinear identity = translation(0, 0);
      ASSERT_EQ(kmath_xformLinear_getInverse(&x, &inverse), KIP_OK);
      ASSERT_EQ(kmath_xformLinear_initCompose(&left, &inverse, &x) | kmath_xformLinear_initCompose(&right, &x, &inverse), 0);
      for (int f = 0; f < 6; ++f)
        EXPECT_TRUE(std::abs(fieldOf(left, f) - fieldOf(identity, f)) + std::abs(fieldOf(right, f) - fieldOf(identity, f)) < 1e-9);
    }
  }
}

TEST(MathCompose, RefusedInversionReturnsItsStatusAndLeavesTheOutput) {
  const struct { kmath_xformLinear x; int32_t status; } cases[] = {
      {xform(1, 2, 2, 4, 0, 0), KIP_ERR_SINGULAR},                // rank one
      {xform(1e-300, 0, 0, 1e-300, 0, 0), KIP_ERR_SINGULAR},      // the determinant underflows
      {xform(1e-160, 0, 0, 1e-160, 1e300, 0), KIP_ERR_SINGULAR},  // the inverse overflows
      {xform(1e200, 0, 0, 1e200, 0, 0), KIP_ERR_NOT_FINITE}};     // the determinant overflows
  const kmath_xformLinear sentinel = translation(42, 43);
  for (const auto& [x, status] : cases) {
    kmath_xformLinear out = sentinel;
    kx2Xform inverse(sentinel);
    EXPECT_EQ(kmath_xformLinear_getInverse(&x, &out), status);
    EXPECT_EQ(kx2Xform(x).getInverse(&inverse), status);  // a status, no throw
    EXPECT_TRUE(sameBits(out, sentinel) && sameBits(inverse.linear(), sentinel));
  }
}

TEST(MathAffineRect, MapPointsAndExactComparison) {
  const kmath_shapeAffineRect unit = rectOf(1, 0, 2, 0, 0, 2), rect = rectOf(3, 4, 10, -2, 1, 5);
  const kmath_xformLinear shift = translation(10, 0);
  kmath_shapeAffineRect mapped, back;
  ASSERT_EQ(kmath_shapeAffineRect_initMap(&mapped, &shift, &unit), KIP_OK);
  EXPECT_TRUE(mapped.tx == 11 && mapped.e0 == 2);  // the other order would put the origin at 1 + 10 * 2
  kmath_shapeAffineRectPoints p;
  kmath_vect opposite;
  int32_t equal = 0;
  ASSERT_EQ(kmath_shapeAffineRect_getPoints(&rect, &p) | kmath_shapeAffineRectPoints_getPopp(&p, &opposite), KIP_OK);
  EXPECT_TRUE(sameBits(p, kmath_shapeAffineRectPoints{{3, 4}, {13, 5}, {1, 9}}));  // x side (e0, e2), y side (e1, e3)
  EXPECT_TRUE(sameBits(opposite, kmath_vect{11, 10}));
  EXPECT_TRUE(kmath_shapeAffineRect_initPoints(&back, &p) == KIP_OK && sameBits(back, rect));
  back.e3 = std::nextafter(back.e3, 7.0);
  EXPECT_TRUE(kmath_shapeAffineRect_compareEqual(&back, &rect, &equal) == KIP_OK && equal == 0);
  const kmath_xformLinear x = translation(kNaN, 0);
  EXPECT_TRUE(kmath_xformLinear_compareEqual(&x, &x, &equal) == KIP_OK && equal == 0) << "a NaN key never matches";
}

TEST(MathAffineRect, CentreSidesAndAngles) {
  const double c = std::cos(kPi / 6), s = std::sin(kPi / 6);
  const struct { kmath_shapeAffineRect rect; kmath_xformLinear x; kmath_shapeAffineRectCenter expected; } cases[] = {
      {rectOf(0, 0, 10.4, 0, 0, -3.6), scale(1, 1), {5.2, -1.8, 10.4, 3.6, 0, -kPi / 2}},  // mirrored
      {rectOf(0, 0, 10.4, 0, 0, 3.6), rotation(30), {5.2 * c - 1.8 * s, 5.2 * s + 1.8 * c, 10.4, 3.6, kPi / 6, kPi / 2}},
      {rectOf(0, 0, 2, 1, 0, 1), scale(1, 1), {1.5, 0.5, 2, std::sqrt(2.0), 0, kPi / 4}}};  // sheared
  for (const auto& c : cases) {
    kmath_shapeAffineRect mapped;
    kmath_shapeAffineRectCenter centre;
    ASSERT_EQ(kmath_shapeAffineRect_initMap(&mapped, &c.x, &c.rect) | kmath_shapeAffineRect_getCenter(&mapped, &centre), 0);
    for (int f = 0; f < 6; ++f) EXPECT_NEAR(fieldOf(centre, f), fieldOf(c.expected, f), 1e-12) << &c - cases << " " << f;
  }
}

TEST(MathAffineRect, EnclosingPelRectangleOrItsRefusal) {
  const kstd_rect32 untouched{1, 2, 3, 4};
  const struct { kmath_shapeAffineRect rect; kmath_xformLinear x; int32_t status; kstd_rect32 expected; } cases[] = {
      // Centres of the corner pels of a 64 x 33 block at (10, 10), mirrored.
      {rectOf(73.5, 42.5, -63, 0, 0, -32), scale(1, 1), kOk, {10, 10, 64, 33}},
      {rectOf(2, 3, 4, 0, 0, 5), scale(1, 1), kOk, {2, 3, 4, 5}},  // corners on pel borders add no pel
      {rectOf(0, 0, 10, 0, 0, 5), rotation(30), kOk, {-3, 0, 12, 10}},
      {rectOf(-5.5, -0.5, 2, 1, 0, 1), scale(1, 1), kOk, {-6, -1, 4, 2}},  // the far x is the fourth corner's
      {rectOf(-2e9, 0, 4e9, 0, 0, 1), scale(1, 1), kRange, untouched},        // only the width is too wide
      {rectOf(2147483646.5, 0, 1, 0, 0, 1), scale(1, 1), kRange, untouched},  // the right edge is beyond
      {rectOf(0, 0, 1e308, 0, 0, 1), scale(1e10, 1), kNotFinite, untouched}};  // the map overflows
  for (const auto& c : cases) {
    kstd_rect32 r = untouched;
    EXPECT_EQ(kmath_shapeAffineRect_getEncloseImageRect(&c.rect, &c.x, &r), c.status) << &c - cases;
    EXPECT_TRUE(sameBits(r, c.expected)) << &c - cases << ": " << r.x << ", " << r.y << ", " << r.width;
  }
}

TEST(MathScalar, RoundFloorCeilSaturateAndNaNGivesZero) {
  const struct { double x, rounded; int32_t floor, ceil; } cases[] = {
      {-2.5, -3, -3, -2}, {0.49999999999999994, 0, 0, 1}, {2147483647.5, 2147483648.0, kMax32, kMax32},
      {-2147483647.5, -2147483648.0, kMin32, -2147483647}, {-kInf, -kInf, kMin32, kMin32}};
  for (const auto& [x, rounded, floor, ceil] : cases)
    EXPECT_TRUE(kmath_double_round(x) == rounded && kxfIFloor(x) == floor && kxfICeil(x) == ceil) << x;
  EXPECT_TRUE(kxfIFloor(kNaN) == 0 && kxfICeil(-kNaN) == 0 && std::isnan(kmath_double_round(kNaN)));
  EXPECT_TRUE(kxfFrac(2.25) == 0.25 && kxfFrac(-0.25) == 0.75 && kxfFrac(-3.0) == 0.0);
  EXPECT_TRUE(kxfFrac(-1e-20) < 1.0 && kxfFrac(-1e-20) > 0.999);  // x - floor(x) would round to exactly 1
  EXPECT_TRUE(kmath_double_epsilonEqual(1.0, 1.5, 0.5) && !kmath_double_epsilonEqual(kNaN, kNaN, 1.0));  // inclusive
}

TEST(MathScalar, CheckedConversionsRefuseWithoutWriting) {
  const struct { double x; int32_t floorStatus, floorValue, ceilStatus, ceilValue; } cases[] = {
      {-1.5, kOk, -2, kOk, -1},      {2147483647.5, kOk, kMax32, kRange, 99}, {-2147483648.5, kRange, 99, kOk, kMin32},
      {5e9, kRange, 99, kRange, 99}, {kNaN, kNotFinite, 99, kNotFinite, 99},  {kInf, kNotFinite, 99, kNotFinite, 99}};
  for (const auto& [x, floorStatus, floorValue, ceilStatus, ceilValue] : cases) {
    int32_t floor = 99, ceil = 99;
    EXPECT_TRUE(kmath_double_checkedFloor(x, &floor) == floorStatus && kmath_double_checkedCeil(x, &ceil) == ceilStatus &&
                floor == floorValue && ceil == ceilValue) << x;
  }
}

// A NaN or an infinity in any one field of any input: KIP_ERR_NOT_FINITE, the output left as it was.
TEST(MathNonFinite, EveryFunctionRefusesAndLeavesItsOutput) {
  const kmath_xformLinear base = xform(1, 0.5, -0.25, 2, 3, 4);
  const kmath_shapeAffineRect baseRect = rectOf(9, 9, 9, 9, 9, 9);
  const kmath_shapeAffineRectPoints basePoints{{1, 2}, {3, 4}, {5, 6}};
  const kmath_shapeAffineRectCenter baseCentre{1, 2, 3, 4, 5, 6};
  const kmath_vect in{1, 1}, baseVect{7, 8};
  for (const double bad : {kNaN, kInf, -kInf}) {
    for (int f = 0; f < 6; ++f) {
      kmath_xformLinear x = base, out = base;
      kmath_shapeAffineRect rect = baseRect, outRect = baseRect;
      kmath_shapeAffineRectPoints points = basePoints, outPoints = basePoints;
      kmath_shapeAffineRectCenter outCentre = baseCentre;
      kmath_vect outVect = baseVect;
      fieldOf(x, f) = fieldOf(rect, f) = fieldOf(points, f) = bad;
      double matrix[4] = {1, 2, 3, 4}, value = 7;
      const int32_t statuses[] = {
          kmath_xformLinear_initCompose(&out, &x, &base), kmath_xformLinear_initCompose(&out, &base, &x),
          kmath_xformLinear_initMatrixTransElements(&out, x.e0, x.e1, x.e2, x.e3, x.tx, x.ty),
          kmath_xformLinear_getInverse(&x, &out), kmath_xformLinear_mapPoint(&x, &in, &outVect),
          kmath_shapeAffineRect_initMap(&outRect, &base, &rect), kmath_shapeAffineRect_initMap(&outRect, &x, &baseRect),
          kmath_shapeAffineRect_getCenter(&rect, &outCentre), kmath_shapeAffineRect_getPoints(&rect, &outPoints),
          kmath_shapeAffineRect_initPoints(&outRect, &points), kmath_shapeAffineRectPoints_getPopp(&points, &outVect),
          kmath_vect_init(&outVect, f % 2 ? bad : 1.0, f % 2 ? 1.0 : bad),
          // The translation is not part of the matrix.
          f < 2 ? kNotFinite : kmath_matrix_getScale(&x.e0, &value),
          f < 2 ? kNotFinite : kmath_matrix_getXScale(&x.e0, &value),
          f < 2 ? kNotFinite : kmath_matrix_getYScale(&x.e0, &value),
          f < 2 ? kNotFinite : kmath_matrix_getDeterminant(&x.e0, &value),
          f < 2 ? kNotFinite : kmath_matrix_init(matrix, x.e0, x.e1, x.e2, x.e3)};
      for (const int32_t status : statuses) EXPECT_EQ(status, kNotFinite) << "call " << &status - statuses;
      EXPECT_TRUE(sameBits(out, base) && sameBits(outRect, baseRect) && sameBits(outPoints, basePoints) &&
                  sameBits(outCentre, baseCentre) && sameBits(outVect, baseVect) && value == 7 && matrix[0] == 1)
          << "field " << f << " value " << bad;
    }
  }
}

}  // namespace
