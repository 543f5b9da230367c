// The math layer: composition, inversion, pel rectangles, centred forms, rounding and conversions.
#include "platform/math.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min(), kMax32 = std::numeric_limits<int32_t>::max();
constexpr int32_t kOk = KIP_OK, kRange = KIP_ERR_OUT_OF_RANGE, kNotFinite = KIP_ERR_NOT_FINITE;

kmath_xformLinear xform(double e0, double e1, double e2, double e3, double tx, double ty) { return {tx, ty, e0, e1, e2, e3}; }
kmath_xformLinear translation(double tx, double ty) { return xform(1, 0, 0, 1, tx, ty); }
kmath_xformLinear scale(double sx, double sy) { return xform(sx, 0, 0, sy, 0, 0); }
kmath_shapeAffineRect rectOf(double tx, double ty, double e0, double e1, double e2, double e3) { return {tx, ty, e0, e1, e2, e3}; }

// A refused map leaves NaN, which fails every comparison.
kmath_vect map(const kmath_xformLinear& x, kmath_vect p) { kmath_vect out{kNaN, kNaN}; return kmath_xformLinear_mapPoint(&x, &p, &out), out; }

template <typename T>
bool sameBits(const T& a, const T& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The six doubles of a transform, a rectangle, a centred form or three points, by index.
template <typename T>
double& fieldOf(T& record, int field) { return reinterpret_cast<double*>(&record)[field]; }

// a o b maps by b, then by a; the output may alias either input; the inverse undoes the map.
TEST(MathCompose, MapsInOrderAliasesAndInverts) {
  const kmath_xformLinear a = xform(1, 0.5, 0, 1, 2, 3), b = xform(0.25, 0, 0.75, -2, -1, 4);
  kmath_xformLinear ab, intoA = a, intoB = b, inverse;
  ASSERT_EQ(kmath_xformLinear_initCompose(&ab, &a, &b) | kmath_xformLinear_initCompose(&intoA, &intoA, &b) |
                kmath_xformLinear_initCompose(&intoB, &a, &intoB) | kmath_xformLinear_getInverse(&ab, &inverse), KIP_OK);
  EXPECT_TRUE(sameBits(intoA, ab) && sameBits(intoB, ab));
  const kmath_vect p{3.5, -2}, expected = map(a, map(b, p)), actual = map(ab, p), back = map(inverse, actual);
  EXPECT_TRUE(std::abs(actual.x - expected.x) + std::abs(actual.y - expected.y) < 1e-9);
  EXPECT_TRUE(std::abs(back.x - p.x) + std::abs(back.y - p.y) < 1e-9);
}

TEST(MathCompose, RefusedInversionReturnsItsStatusAndLeavesTheOutput) {
  const kmath_xformLinear rankOne = xform(1, 2, 2, 4, 0, 0), huge = xform(1e200, 0, 0, 1e200, 0, 0);
  const kmath_xformLinear sentinel = translation(42, 43);
  kmath_xformLinear out = sentinel;
  EXPECT_EQ(kmath_xformLinear_getInverse(&rankOne, &out), KIP_ERR_SINGULAR);
  EXPECT_EQ(kmath_xformLinear_getInverse(&huge, &out), KIP_ERR_NOT_FINITE);  // the determinant overflows
  EXPECT_TRUE(sameBits(out, sentinel));
}

// The map applies to the rectangle (not the other order); the corners are the origin, x side (e0, e2)
// and y side (e1, e3) ends.
TEST(MathAffineRect, MapsInOrderAndGivesItsCorners) {
  const kmath_shapeAffineRect unit = rectOf(1, 0, 2, 0, 0, 2), rect = rectOf(3, 4, 10, -2, 1, 5);
  const kmath_xformLinear shift = translation(10, 0);
  kmath_shapeAffineRect mapped, back;
  kmath_shapeAffineRectPoints p;
  ASSERT_EQ(kmath_shapeAffineRect_initMap(&mapped, &shift, &unit) | kmath_shapeAffineRect_getPoints(&rect, &p) |
                kmath_shapeAffineRect_initPoints(&back, &p), KIP_OK);
  EXPECT_TRUE(mapped.tx == 11 && mapped.e0 == 2 && sameBits(back, rect));
  EXPECT_TRUE(sameBits(p, kmath_shapeAffineRectPoints{{3, 4}, {13, 5}, {1, 9}}));
}

TEST(MathAffineRect, EnclosingPelRectangleOrItsRefusal) {
  const kstd_rect32 untouched{1, 2, 3, 4};
  const struct { kmath_shapeAffineRect rect; kmath_xformLinear x; int32_t status; kstd_rect32 expected; } cases[] = {
      // Centres of the corner pels of a 64 x 33 block at (10, 10), mirrored.
      {rectOf(73.5, 42.5, -63, 0, 0, -32), scale(1, 1), kOk, {10, 10, 64, 33}},
      {rectOf(-5.5, -0.5, 2, 1, 0, 1), scale(1, 1), kOk, {-6, -1, 4, 2}},  // the far x is the fourth corner's
      {rectOf(-2e9, 0, 4e9, 0, 0, 1), scale(1, 1), kRange, untouched},        // only the width is too wide
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
  EXPECT_TRUE(kxfFrac(-1e-20) < 1.0 && kxfFrac(-1e-20) > 0.999);  // x - floor(x) would round to exactly 1
}

TEST(MathScalar, CheckedConversionsRefuseWithoutWriting) {
  const struct { double x; int32_t floorStatus, floorValue, ceilStatus, ceilValue; } cases[] = {
      {-1.5, kOk, -2, kOk, -1}, {2147483647.5, kOk, kMax32, kRange, 99}, {kNaN, kNotFinite, 99, kNotFinite, 99}};
  for (const auto& [x, floorStatus, floorValue, ceilStatus, ceilValue] : cases) {
    int32_t floor = 99, ceil = 99;
    EXPECT_TRUE(kmath_double_checkedFloor(x, &floor) == floorStatus && kmath_double_checkedCeil(x, &ceil) == ceilStatus);
    EXPECT_TRUE(floor == floorValue && ceil == ceilValue) << x;
  }
}

// A NaN or an infinity in any one field of any input: KIP_ERR_NOT_FINITE, the output left as it was.
TEST(MathNonFinite, EveryFunctionRefusesAndLeavesItsOutput) {
  const kmath_xformLinear base = xform(1, 0.5, -0.25, 2, 3, 4);
  const kmath_shapeAffineRect baseRect = rectOf(9, 9, 9, 9, 9, 9);
  const kmath_vect in{1, 1}, baseVect{7, 8};
  for (const double bad : {kNaN, -kInf}) {
    for (int f = 0; f < 6; ++f) {
      kmath_xformLinear x = base, out = base;
      kmath_shapeAffineRect rect = baseRect, outRect = baseRect;
      kmath_vect outVect = baseVect;
      fieldOf(x, f) = fieldOf(rect, f) = bad;
      double value = 7;
      const int32_t statuses[] = {
          kmath_xformLinear_initCompose(&out, &base, &x), kmath_xformLinear_getInverse(&x, &out),
          kmath_xformLinear_mapPoint(&x, &in, &outVect), kmath_shapeAffineRect_initMap(&outRect, &base, &rect),
          f < 2 ? kNotFinite : kmath_matrix_getDeterminant(&x.e0, &value)};  // the translation is not in the matrix
      for (const int32_t status : statuses) EXPECT_EQ(status, kNotFinite) << "call " << &status - statuses;
      EXPECT_TRUE(sameBits(out, base) && sameBits(outRect, baseRect) && sameBits(outVect, baseVect) && value == 7)
          << "field " << f << " value " << bad;
    }
  }
}

}  // namespace
