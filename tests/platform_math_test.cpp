// The math layer: composition order, inversion, enclosing pel rectangles, centred forms, rounding
// and the saturating and checked integer conversions.
#include "platform/math.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kPi = 3.14159265358979323846;
constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax32 = std::numeric_limits<int32_t>::max();

kmath_xformLinear xform(double e0, double e1, double e2, double e3, double tx, double ty) {
  return kmath_xformLinear{tx, ty, e0, e1, e2, e3};
}
kmath_xformLinear translation(double tx, double ty) { return xform(1, 0, 0, 1, tx, ty); }
kmath_xformLinear scale(double sx, double sy) { return xform(sx, 0, 0, sy, 0, 0); }
kmath_xformLinear rotation(double degrees) {
  const double r = degrees * kPi / 180.0;
  return xform(std::cos(r), -std::sin(r), std::sin(r), std::cos(r), 0, 0);
}
kmath_shapeAffineRect rectOf(double tx, double ty, double e0, double e1, double e2, double e3) {
  return kmath_shapeAffineRect{tx, ty, e0, e1, e2, e3};
}

kmath_vect map(const kmath_xformLinear& x, double px, double py) {
  const kmath_vect in{px, py};
  kmath_vect out{kNaN, kNaN};
  EXPECT_EQ(kmath_xformLinear_mapPoint(&x, &in, &out), KIP_OK);
  return out;
}

void expectNear(const kmath_xformLinear& a, const kmath_xformLinear& b, double tolerance = 1e-12) {
  EXPECT_NEAR(a.tx, b.tx, tolerance);
  EXPECT_NEAR(a.ty, b.ty, tolerance);
  EXPECT_NEAR(a.e0, b.e0, tolerance);
  EXPECT_NEAR(a.e1, b.e1, tolerance);
  EXPECT_NEAR(a.e2, b.e2, tolerance);
  EXPECT_NEAR(a.e3, b.e3, tolerance);
}

bool sameBits(const kmath_xformLinear& a, const kmath_xformLinear& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// --- Composition ---

TEST(MathCompose, TranslationThenScaleDiffersFromScaleThenTranslation) {
  const kmath_xformLinear t = translation(5, 7), s = scale(2, 2);
  kmath_xformLinear scaleAfterTranslation, translationAfterScale;
  ASSERT_EQ(kmath_xformLinear_initCompose(&scaleAfterTranslation, &s, &t), KIP_OK);
  ASSERT_EQ(kmath_xformLinear_initCompose(&translationAfterScale, &t, &s), KIP_OK);
  const kmath_vect p = map(scaleAfterTranslation, 1, 1);
  EXPECT_DOUBLE_EQ(p.x, 12);  // (1 + 5) * 2
  EXPECT_DOUBLE_EQ(p.y, 16);
  const kmath_vect q = map(translationAfterScale, 1, 1);
  EXPECT_DOUBLE_EQ(q.x, 7);  // 1 * 2 + 5
  EXPECT_DOUBLE_EQ(q.y, 9);
}

struct XformPair {
  kmath_xformLinear a, b;
};

class MathComposePairs : public testing::TestWithParam<XformPair> {};

TEST_P(MathComposePairs, MapsByBThenByA) {
  const auto& [a, b] = GetParam();
  kmath_xformLinear ab;
  ASSERT_EQ(kmath_xformLinear_initCompose(&ab, &a, &b), KIP_OK);
  for (const kmath_vect p : {kmath_vect{0, 0}, kmath_vect{3.5, -2}, kmath_vect{-7, 11.25}}) {
    const kmath_vect viaB = map(b, p.x, p.y);
    const kmath_vect expected = map(a, viaB.x, viaB.y);
    const kmath_vect actual = map(ab, p.x, p.y);
    EXPECT_NEAR(actual.x, expected.x, 1e-9);
    EXPECT_NEAR(actual.y, expected.y, 1e-9);
  }
}

TEST_P(MathComposePairs, OutputMayAliasEitherInput) {
  const auto& [a, b] = GetParam();
  kmath_xformLinear expected;
  ASSERT_EQ(kmath_xformLinear_initCompose(&expected, &a, &b), KIP_OK);
  kmath_xformLinear intoA = a, intoB = b;
  ASSERT_EQ(kmath_xformLinear_initCompose(&intoA, &intoA, &b), KIP_OK);
  ASSERT_EQ(kmath_xformLinear_initCompose(&intoB, &a, &intoB), KIP_OK);
  EXPECT_TRUE(sameBits(intoA, expected));
  EXPECT_TRUE(sameBits(intoB, expected));
  kmath_xformLinear square = a, expectedSquare;
  ASSERT_EQ(kmath_xformLinear_initCompose(&expectedSquare, &a, &a), KIP_OK);
  ASSERT_EQ(kmath_xformLinear_initCompose(&square, &square, &square), KIP_OK);
  EXPECT_TRUE(sameBits(square, expectedSquare));
}

TEST_P(MathComposePairs, InverseRoundTripsToIdentity) {
  for (const kmath_xformLinear& x : {GetParam().a, GetParam().b}) {
    kmath_xformLinear inverse, product, identity;
    ASSERT_EQ(kmath_xformLinear_getInverse(&x, &inverse), KIP_OK);
    ASSERT_EQ(kmath_xformLinear_initCompose(&product, &inverse, &x), KIP_OK);
    kmath_xformLinear_initIdentity(&identity);
    expectNear(product, identity, 1e-9);
    ASSERT_EQ(kmath_xformLinear_initCompose(&product, &x, &inverse), KIP_OK);
    expectNear(product, identity, 1e-9);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, MathComposePairs,
    testing::Values(XformPair{translation(5, 7), scale(2, 3)}, XformPair{rotation(30), translation(-4, 9)},
                    XformPair{xform(1, 0.5, 0, 1, 2, 3), xform(0.25, 0, 0.75, -2, -1, 4)},
                    XformPair{xform(0, 1, 1, 0, 100, 0), xform(-1, 0, 0, 1, 0.5, 0.5)},
                    XformPair{xform(1e-3, 0, 0, 4e3, 1e6, -1e6), rotation(-135)}));

// --- Inversion refused ---

struct SingularCase {
  std::string name;
  kmath_xformLinear x;
  int32_t status;
};

class MathInverseRefused : public testing::TestWithParam<SingularCase> {};

TEST_P(MathInverseRefused, ReturnsStatusAndLeavesOutput) {
  const kmath_xformLinear sentinel = translation(42, 43);
  kmath_xformLinear out = sentinel;
  EXPECT_EQ(kmath_xformLinear_getInverse(&GetParam().x, &out), GetParam().status);
  EXPECT_TRUE(sameBits(out, sentinel));
  kx2Xform inverse(sentinel);
  EXPECT_EQ(kx2Xform(GetParam().x).getInverse(&inverse), GetParam().status);  // a status, no throw
  EXPECT_TRUE(sameBits(inverse.linear(), sentinel));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MathInverseRefused,
    testing::Values(SingularCase{"Zero", xform(0, 0, 0, 0, 1, 1), KIP_ERR_SINGULAR},
                    SingularCase{"RankOne", xform(1, 2, 2, 4, 0, 0), KIP_ERR_SINGULAR},
                    SingularCase{"DeterminantUnderflows", xform(1e-300, 0, 0, 1e-300, 0, 0), KIP_ERR_SINGULAR},
                    SingularCase{"InverseOverflows", xform(1e-160, 0, 0, 1e-160, 1e300, 0), KIP_ERR_SINGULAR},
                    SingularCase{"DeterminantOverflows", xform(1e200, 0, 0, 1e200, 0, 0), KIP_ERR_NOT_FINITE},
                    SingularCase{"NaN", xform(1, 0, 0, 1, kNaN, 0), KIP_ERR_NOT_FINITE}),
    [](const auto& info) { return info.param.name; });

// --- Affine rectangles ---

TEST(MathAffineRect, InitMapAppliesTheRectangleFirst) {
  const kmath_shapeAffineRect unit = rectOf(1, 0, 2, 0, 0, 2);
  const kmath_xformLinear shift = translation(10, 0);
  kmath_shapeAffineRect mapped;
  ASSERT_EQ(kmath_shapeAffineRect_initMap(&mapped, &shift, &unit), KIP_OK);
  EXPECT_DOUBLE_EQ(mapped.tx, 11);  // the other order would put the origin at 1 + 10 * 2
  EXPECT_DOUBLE_EQ(mapped.e0, 2);
}

TEST(MathAffineRect, PointsRoundTripAndOppositeCorner) {
  const kmath_shapeAffineRect rect = rectOf(3, 4, 10, -2, 1, 5);
  kmath_shapeAffineRectPoints p;
  ASSERT_EQ(kmath_shapeAffineRect_getPoints(&rect, &p), KIP_OK);
  EXPECT_DOUBLE_EQ(p.p1.x, 13);  // x side (e0, e2)
  EXPECT_DOUBLE_EQ(p.p1.y, 5);
  EXPECT_DOUBLE_EQ(p.p2.x, 1);  // y side (e1, e3)
  EXPECT_DOUBLE_EQ(p.p2.y, 9);
  kmath_vect opposite;
  ASSERT_EQ(kmath_shapeAffineRectPoints_getPopp(&p, &opposite), KIP_OK);
  EXPECT_DOUBLE_EQ(opposite.x, 11);
  EXPECT_DOUBLE_EQ(opposite.y, 10);
  kmath_shapeAffineRect back;
  int32_t equal = 0;
  ASSERT_EQ(kmath_shapeAffineRect_initPoints(&back, &p), KIP_OK);
  ASSERT_EQ(kmath_shapeAffineRect_compareEqual(&back, &rect, &equal), KIP_OK);
  EXPECT_EQ(equal, 1);
}

TEST(MathAffineRect, CompareEqualIsExact) {
  const kmath_shapeAffineRect a = rectOf(1, 2, 3, 4, 5, 6);
  kmath_shapeAffineRect b = a;
  int32_t equal = -1;
  b.e3 = std::nextafter(6.0, 7.0);
  ASSERT_EQ(kmath_shapeAffineRect_compareEqual(&a, &b, &equal), KIP_OK);
  EXPECT_EQ(equal, 0);
  const kmath_xformLinear x = xform(1, 0, 0, 1, kNaN, 0);
  ASSERT_EQ(kmath_xformLinear_compareEqual(&x, &x, &equal), KIP_OK);
  EXPECT_EQ(equal, 0);  // a NaN key never matches a cached one
}

struct CenterCase {
  std::string name;
  kmath_shapeAffineRect rect;
  kmath_xformLinear x;
  kmath_shapeAffineRectCenter expected;
};

class MathCenter : public testing::TestWithParam<CenterCase> {};

TEST_P(MathCenter, SidesCentreAndAngles) {
  kmath_shapeAffineRect mapped;
  ASSERT_EQ(kmath_shapeAffineRect_initMap(&mapped, &GetParam().x, &GetParam().rect), KIP_OK);
  kmath_shapeAffineRectCenter c;
  ASSERT_EQ(kmath_shapeAffineRect_getCenter(&mapped, &c), KIP_OK);
  const kmath_shapeAffineRectCenter& e = GetParam().expected;
  EXPECT_NEAR(c.cx, e.cx, 1e-12);
  EXPECT_NEAR(c.cy, e.cy, 1e-12);
  EXPECT_NEAR(c.xLength, e.xLength, 1e-12);
  EXPECT_NEAR(c.yLength, e.yLength, 1e-12);
  EXPECT_NEAR(c.xAngle, e.xAngle, 1e-12);
  EXPECT_NEAR(c.skewAngle, e.skewAngle, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MathCenter,
    testing::Values(
        CenterCase{"Plain", rectOf(1, 2, 10.4, 0, 0, 3.6), scale(1, 1), {6.2, 3.8, 10.4, 3.6, 0, kPi / 2}},
        CenterCase{"ScaledByTwo", rectOf(1, 2, 10.4, 0, 0, 3.6), scale(2, 2), {12.4, 7.6, 20.8, 7.2, 0, kPi / 2}},
        CenterCase{"Mirrored", rectOf(0, 0, 10.4, 0, 0, -3.6), scale(1, 1), {5.2, -1.8, 10.4, 3.6, 0, -kPi / 2}},
        CenterCase{"Rotated", rectOf(0, 0, 10.4, 0, 0, 3.6), rotation(30),
                   {5.2 * std::cos(kPi / 6) - 1.8 * std::sin(kPi / 6), 5.2 * std::sin(kPi / 6) + 1.8 * std::cos(kPi / 6),
                    10.4, 3.6, kPi / 6, kPi / 2}},
        CenterCase{"Sheared", rectOf(0, 0, 2, 1, 0, 1), scale(1, 1), {1.5, 0.5, 2, std::sqrt(2.0), 0, kPi / 4}}),
    [](const auto& info) { return info.param.name; });

struct EncloseCase {
  std::string name;
  kmath_shapeAffineRect rect;
  kmath_xformLinear x;
  kstd_rect32 expected;
};

class MathEnclose : public testing::TestWithParam<EncloseCase> {};

TEST_P(MathEnclose, SmallestRectangleOfWholePels) {
  kstd_rect32 r{-1, -1, -1, -1};
  ASSERT_EQ(kmath_shapeAffineRect_getEncloseImageRect(&GetParam().rect, &GetParam().x, &r), KIP_OK);
  EXPECT_EQ(r.x, GetParam().expected.x);
  EXPECT_EQ(r.y, GetParam().expected.y);
  EXPECT_EQ(r.width, GetParam().expected.width);
  EXPECT_EQ(r.height, GetParam().expected.height);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MathEnclose,
    testing::Values(
        // Centres of the corner pels of a 64 x 33 block at (10, 10).
        EncloseCase{"PelCentres", rectOf(10.5, 10.5, 63, 0, 0, 32), scale(1, 1), {10, 10, 64, 33}},
        // The same centres given in destination pels and mapped by a shift of (10, 10).
        EncloseCase{"PelCentresMapped", rectOf(0.5, 0.5, 63, 0, 0, 32), translation(10, 10), {10, 10, 64, 33}},
        EncloseCase{"MirroredCentres", rectOf(73.5, 42.5, -63, 0, 0, -32), scale(1, 1), {10, 10, 64, 33}},
        // A corner on a pel border adds no pel beyond it.
        EncloseCase{"OnBorders", rectOf(2, 3, 4, 0, 0, 5), scale(1, 1), {2, 3, 4, 5}},
        EncloseCase{"Diamond", rectOf(10, 0, 10, -10, 10, 10), scale(1, 1), {0, 0, 20, 20}},
        EncloseCase{"DiamondShifted", rectOf(10, 0, 10, -10, 10, 10), translation(0.5, -0.25), {0, -1, 21, 21}},
        EncloseCase{"Rotated30", rectOf(0, 0, 10, 0, 0, 5), rotation(30), {-3, 0, 12, 10}},
        EncloseCase{"Negative", rectOf(-5.5, -0.5, 2, 0, 0, 1), scale(1, 1), {-6, -1, 3, 2}},
        EncloseCase{"Degenerate", rectOf(7, 7, 0, 0, 0, 0), scale(1, 1), {7, 7, 0, 0}}),
    [](const auto& info) { return info.param.name; });

struct RefusedEnclose {
  std::string name;
  kmath_shapeAffineRect rect;
  kmath_xformLinear x;
  int32_t status;
};

class MathEncloseRefused : public testing::TestWithParam<RefusedEnclose> {};

TEST_P(MathEncloseRefused, ReturnsStatusAndLeavesOutput) {
  kstd_rect32 r{1, 2, 3, 4};
  EXPECT_EQ(kmath_shapeAffineRect_getEncloseImageRect(&GetParam().rect, &GetParam().x, &r), GetParam().status);
  EXPECT_EQ(r.x, 1);
  EXPECT_EQ(r.y, 2);
  EXPECT_EQ(r.width, 3);
  EXPECT_EQ(r.height, 4);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MathEncloseRefused,
    testing::Values(
        RefusedEnclose{"BeyondInt32", rectOf(3e9, 0, 1, 0, 0, 1), scale(1, 1), KIP_ERR_OUT_OF_RANGE},
        RefusedEnclose{"BelowInt32", rectOf(0, -2147483649.5, 1, 0, 0, 1), scale(1, 1), KIP_ERR_OUT_OF_RANGE},
        RefusedEnclose{"WidthBeyondInt32", rectOf(-2e9, 0, 4e9, 0, 0, 1), scale(1, 1), KIP_ERR_OUT_OF_RANGE},
        RefusedEnclose{"RightEdgeBeyondInt32", rectOf(2147483646.5, 0, 1, 0, 0, 1), scale(1, 1), KIP_ERR_OUT_OF_RANGE},
        RefusedEnclose{"MapOverflows", rectOf(0, 0, 1e308, 0, 0, 1), scale(1e10, 1), KIP_ERR_NOT_FINITE},
        RefusedEnclose{"NaNRect", rectOf(0, 0, kNaN, 0, 0, 1), scale(1, 1), KIP_ERR_NOT_FINITE},
        RefusedEnclose{"InfiniteXform", rectOf(0, 0, 1, 0, 0, 1), translation(kInf, 0), KIP_ERR_NOT_FINITE}),
    [](const auto& info) { return info.param.name; });

// --- Matrices ---

TEST(MathMatrix, ScaleIsTheLargerAxisScale) {
  double m[4], value = 0;
  ASSERT_EQ(kmath_matrix_init(m, 3, 0, 0, 0.5), KIP_OK);
  ASSERT_EQ(kmath_matrix_getScale(m, &value), KIP_OK);
  EXPECT_DOUBLE_EQ(value, 3);
  ASSERT_EQ(kmath_matrix_init(m, 0.25, 0, 0, 4), KIP_OK);
  ASSERT_EQ(kmath_matrix_getScale(m, &value), KIP_OK);
  EXPECT_DOUBLE_EQ(value, 4);
  // A rotation keeps the axis lengths: x scale 3, y scale 0.5, determinant 1.5.
  const kmath_xformLinear r = rotation(40), s = scale(3, 0.5);
  kmath_xformLinear rs;
  ASSERT_EQ(kmath_xformLinear_initCompose(&rs, &r, &s), KIP_OK);
  ASSERT_EQ(kmath_matrix_getXScale(&rs.e0, &value), KIP_OK);
  EXPECT_NEAR(value, 3, 1e-12);
  ASSERT_EQ(kmath_matrix_getYScale(&rs.e0, &value), KIP_OK);
  EXPECT_NEAR(value, 0.5, 1e-12);
  ASSERT_EQ(kmath_matrix_getDeterminant(&rs.e0, &value), KIP_OK);
  EXPECT_NEAR(value, 1.5, 1e-12);
}

// --- Scalars ---

struct RoundCase {
  double x;
  double rounded;
  int32_t floor, ceil;
};

class MathScalar : public testing::TestWithParam<RoundCase> {};

TEST_P(MathScalar, RoundFloorCeil) {
  const RoundCase& c = GetParam();
  EXPECT_EQ(kmath_double_round(c.x), c.rounded);
  EXPECT_EQ(kxfIFloor(c.x), c.floor);
  EXPECT_EQ(kxfICeil(c.x), c.ceil);
}

INSTANTIATE_TEST_SUITE_P(Values, MathScalar,
                         testing::Values(RoundCase{2.5, 3, 2, 3}, RoundCase{-2.5, -3, -3, -2},
                                         RoundCase{0.5, 1, 0, 1}, RoundCase{-0.5, -1, -1, 0},
                                         RoundCase{1.4999999999999998, 1, 1, 2},
                                         RoundCase{0.49999999999999994, 0, 0, 1}, RoundCase{-7, -7, -7, -7},
                                         RoundCase{2147483647.5, 2147483648.0, kMax32, kMax32},
                                         RoundCase{-2147483648.5, -2147483649.0, kMin32, kMin32},
                                         RoundCase{-2147483647.5, -2147483648.0, kMin32, -2147483647},
                                         RoundCase{1e300, 1e300, kMax32, kMax32},
                                         RoundCase{-kInf, -kInf, kMin32, kMin32}));

TEST(MathScalar, NaNConvertsToZero) {
  EXPECT_EQ(kxfIFloor(kNaN), 0);
  EXPECT_EQ(kxfICeil(-kNaN), 0);
  EXPECT_TRUE(std::isnan(kmath_double_round(kNaN)));
}

TEST(MathScalar, FracStaysInUnitInterval) {
  EXPECT_EQ(kxfFrac(2.25), 0.25);
  EXPECT_EQ(kxfFrac(-0.25), 0.75);
  EXPECT_EQ(kxfFrac(-3.0), 0.0);
  const double tiny = kxfFrac(-1e-20);  // x - floor(x) would round to exactly 1
  EXPECT_LT(tiny, 1.0);
  EXPECT_GT(tiny, 0.999);
}

TEST(MathScalar, EpsilonEqualIsInclusive) {
  EXPECT_TRUE(kmath_double_epsilonEqual(1.0, 1.5, 0.5));
  EXPECT_FALSE(kmath_double_epsilonEqual(1.0, 1.5000001, 0.5));
  EXPECT_FALSE(kmath_double_epsilonEqual(kNaN, kNaN, 1.0));
}

struct CheckedCase {
  double x;
  int32_t floorStatus, floorValue, ceilStatus, ceilValue;
};

class MathChecked : public testing::TestWithParam<CheckedCase> {};

TEST_P(MathChecked, StatusAndValue) {
  const CheckedCase& c = GetParam();
  int32_t value = 99;
  EXPECT_EQ(kmath_double_checkedFloor(c.x, &value), c.floorStatus);
  EXPECT_EQ(value, c.floorStatus == KIP_OK ? c.floorValue : 99);
  value = 99;
  EXPECT_EQ(kmath_double_checkedCeil(c.x, &value), c.ceilStatus);
  EXPECT_EQ(value, c.ceilStatus == KIP_OK ? c.ceilValue : 99);
}

constexpr int32_t kOk = KIP_OK, kRange = KIP_ERR_OUT_OF_RANGE, kNotFinite = KIP_ERR_NOT_FINITE;
INSTANTIATE_TEST_SUITE_P(Values, MathChecked,
                         testing::Values(CheckedCase{-1.5, kOk, -2, kOk, -1}, CheckedCase{3.0, kOk, 3, kOk, 3},
                                         CheckedCase{2147483647.5, kOk, kMax32, kRange, 0},
                                         CheckedCase{-2147483648.5, kRange, 0, kOk, kMin32},
                                         CheckedCase{5e9, kRange, 0, kRange, 0},
                                         CheckedCase{kNaN, kNotFinite, 0, kNotFinite, 0},
                                         CheckedCase{kInf, kNotFinite, 0, kNotFinite, 0}));

// --- The throwing class ---

TEST(MathKx2, ProductAppliesRightOperandFirst) {
  const kx2Xform t(translation(5, 7)), s(scale(2, 2));
  const kx2Vect p = (s * t) * kx2Vect{1, 1};
  EXPECT_DOUBLE_EQ(p.x, 12);
  EXPECT_DOUBLE_EQ(p.y, 16);
  const kmath_xformLinear identity = kx2Xform();
  EXPECT_TRUE(sameBits(identity, scale(1, 1)));
}

TEST(MathKx2, OverflowThrowsNotFinite) {
  const kx2Xform huge(scale(1e308, 1e308));
  const auto statusOf = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const kxException& e) {
      return e.status;
    }
    return int32_t{KIP_OK};
  };
  EXPECT_EQ(statusOf([&] { (void)(huge * huge); }), KIP_ERR_NOT_FINITE);
  EXPECT_EQ(statusOf([&] { (void)(huge * kx2Vect{10, 0}); }), KIP_ERR_NOT_FINITE);
  EXPECT_EQ(statusOf([&] { (void)(kx2Xform() * kx2Vect{kNaN, 0}); }), KIP_ERR_NOT_FINITE);
  EXPECT_EQ(statusOf([&] { (void)(huge * kx2Xform(scale(1e-308, 1e-308))); }), KIP_OK);
}

// --- Non-finite inputs, everywhere ---

// Each entry runs one function with a bad double in one field of its input and says whether it
// refused with KIP_ERR_NOT_FINITE and left its output unchanged.
using Poisoned = std::function<bool(double bad, int field)>;

template <typename Out>
bool refusedUnchanged(int32_t status, const Out& out, const Out& before) {
  return status == KIP_ERR_NOT_FINITE && std::memcmp(&out, &before, sizeof out) == 0;
}

double& fieldOf(kmath_xformLinear& x, int field) {
  switch (field) {
    case 0: return x.tx;
    case 1: return x.ty;
    case 2: return x.e0;
    case 3: return x.e1;
    case 4: return x.e2;
    default: return x.e3;
  }
}

double& fieldOf(kmath_shapeAffineRectPoints& p, int field) {
  kmath_vect& v = field < 2 ? p.p0 : field < 4 ? p.p1 : p.p2;
  return field % 2 ? v.y : v.x;
}

kmath_xformLinear poison(kmath_xformLinear x, double bad, int field) {
  fieldOf(x, field) = bad;
  return x;
}

std::vector<std::pair<std::string, Poisoned>> poisonedCalls() {
  const kmath_xformLinear base = xform(1, 0.5, -0.25, 2, 3, 4);
  return {
      {"ComposeLeft", [=](double bad, int f) {
         const kmath_xformLinear a = poison(base, bad, f);
         kmath_xformLinear out = base;
         return refusedUnchanged(kmath_xformLinear_initCompose(&out, &a, &base), out, base);
       }},
      {"ComposeRight", [=](double bad, int f) {
         const kmath_xformLinear b = poison(base, bad, f);
         kmath_xformLinear out = base;
         return refusedUnchanged(kmath_xformLinear_initCompose(&out, &base, &b), out, base);
       }},
      {"InitElements", [=](double bad, int f) {
         const kmath_xformLinear x = poison(base, bad, f);
         kmath_xformLinear out = base;
         return refusedUnchanged(
             kmath_xformLinear_initMatrixTransElements(&out, x.e0, x.e1, x.e2, x.e3, x.tx, x.ty), out, base);
       }},
      {"MapPoint", [=](double bad, int f) {
         const kmath_xformLinear x = poison(base, bad, f);
         const kmath_vect in{1, 1}, before{5, 6};
         kmath_vect out = before;
         return refusedUnchanged(kmath_xformLinear_mapPoint(&x, &in, &out), out, before);
       }},
      {"Inverse", [=](double bad, int f) {
         const kmath_xformLinear x = poison(base, bad, f);
         kmath_xformLinear out = base;
         return refusedUnchanged(kmath_xformLinear_getInverse(&x, &out), out, base);
       }},
      {"MatrixScales", [=](double bad, int f) {
         const kmath_xformLinear x = poison(base, bad, f);
         if (f < 2) return true;  // the translation is not part of the matrix
         double out = 7;
         const double before = 7;
         double matrix[4] = {1, 2, 3, 4};
         const double matrixBefore[4] = {1, 2, 3, 4};
         return refusedUnchanged(kmath_matrix_getScale(&x.e0, &out), out, before) &&
                refusedUnchanged(kmath_matrix_getXScale(&x.e0, &out), out, before) &&
                refusedUnchanged(kmath_matrix_getYScale(&x.e0, &out), out, before) &&
                refusedUnchanged(kmath_matrix_getDeterminant(&x.e0, &out), out, before) &&
                refusedUnchanged(kmath_matrix_init(matrix, x.e0, x.e1, x.e2, x.e3), matrix, matrixBefore);
       }},
      {"RectMapAndForms", [=](double bad, int f) {
         const kmath_xformLinear x = poison(base, bad, f);
         const kmath_shapeAffineRect rect = rectOf(x.tx, x.ty, x.e0, x.e1, x.e2, x.e3);
         const kmath_shapeAffineRect rectBefore = rectOf(9, 9, 9, 9, 9, 9);
         kmath_shapeAffineRect mapped = rectBefore;
         const kmath_shapeAffineRectCenter centerBefore{1, 2, 3, 4, 5, 6};
         kmath_shapeAffineRectCenter center = centerBefore;
         const kmath_shapeAffineRectPoints pointsBefore{{1, 2}, {3, 4}, {5, 6}};
         kmath_shapeAffineRectPoints points = pointsBefore;
         return refusedUnchanged(kmath_shapeAffineRect_initMap(&mapped, &base, &rect), mapped, rectBefore) &&
                refusedUnchanged(kmath_shapeAffineRect_initMap(&mapped, &x, &rectBefore), mapped, rectBefore) &&
                refusedUnchanged(kmath_shapeAffineRect_getCenter(&rect, &center), center, centerBefore) &&
                refusedUnchanged(kmath_shapeAffineRect_getPoints(&rect, &points), points, pointsBefore);
       }},
      {"Points", [=](double bad, int f) {
         kmath_shapeAffineRectPoints points{{1, 2}, {3, 4}, {5, 6}};
         fieldOf(points, f) = bad;
         const kmath_shapeAffineRect rectBefore = rectOf(9, 9, 9, 9, 9, 9);
         kmath_shapeAffineRect rect = rectBefore;
         const kmath_vect vectBefore{7, 8};
         kmath_vect v = vectBefore;
         return refusedUnchanged(kmath_shapeAffineRect_initPoints(&rect, &points), rect, rectBefore) &&
                refusedUnchanged(kmath_shapeAffineRectPoints_getPopp(&points, &v), v, vectBefore) &&
                refusedUnchanged(kmath_vect_init(&v, f % 2 ? bad : 1.0, f % 2 ? 1.0 : bad), v, vectBefore);
       }},
  };
}

class MathNonFinite : public testing::TestWithParam<std::tuple<size_t, double, int>> {};

TEST_P(MathNonFinite, RefusedAndOutputUnchanged) {
  const auto& [index, bad, field] = GetParam();
  const auto calls = poisonedCalls();
  EXPECT_TRUE(calls[index].second(bad, field)) << calls[index].first << " field " << field << " value " << bad;
}

INSTANTIATE_TEST_SUITE_P(All, MathNonFinite,
                         testing::Combine(testing::Range<size_t>(0, 8), testing::Values(kNaN, kInf, -kInf),
                                          testing::Range(0, 6)),
                         [](const auto& info) {
                           const double bad = std::get<1>(info.param);
                           const char* value = std::isnan(bad) ? "NaN" : bad > 0 ? "Inf" : "MinusInf";
                           return poisonedCalls()[std::get<0>(info.param)].first + value + "Field" +
                                  std::to_string(std::get<2>(info.param));
                         });

}  // namespace
