// Sampling geometry: worked examples of the sample parameters, the alignment codes, the clip tests
// at their exact limits and the reachable source rectangle; a property test of the clip tests on
// random maps; bad input.
#include "geometry/geometry.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <tuple>
#include <numbers>
#include <random>

#include "support/support.hpp"

namespace {

using kiptest::ScopedImage;

constexpr double kPelStep = 1.0 / 65536.0;  // one 16.16 unit
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr uint32_t kUntouched = 0xDEADBEEFu;
constexpr kmath_xformLinear kIdentity{0, 0, 1, 0, 0, 1};

// Rectangle with origin corner (ox, oy), x side (xsx, xsy) and y side (ysx, ysy).
kmath_shapeAffineRect rectOf(double ox, double oy, double xsx, double xsy, double ysx, double ysy) {
  return {ox, oy, xsx, ysx, xsy, ysy};
}

affineSampleParams paramsOf(const kmath_shapeAffineRect& rect, uint32_t mode, int32_t xCount, int32_t yCount) {
  return {rect, mode, xCount, yCount};
}

kmath_vect apply(const kmath_xformLinear& x, double u, double v) {
  return {x.e0 * u + x.e1 * v + x.tx, x.e2 * u + x.e3 * v + x.ty};
}

// A rectangle given in source pel coordinates, expressed in the client coordinates of an image
// whose image-from-client transform is x.
kmath_shapeAffineRect clientRect(const kmath_xformLinear& x, const kmath_shapeAffineRect& source) {
  const double det = x.e0 * x.e3 - x.e1 * x.e2;
  const kmath_xformLinear inv{0, 0, x.e3 / det, -x.e1 / det, -x.e2 / det, x.e0 / det};
  const kmath_vect o = apply(inv, source.tx - x.tx, source.ty - x.ty);
  const kmath_vect xs = apply(inv, source.e0, source.e2), ys = apply(inv, source.e1, source.e3);
  return rectOf(o.x, o.y, xs.x, xs.y, ys.x, ys.y);
}

bool sameRect(const kstd_rect32& a, const kstd_rect32& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// An image of width x height 8-bit pels whose window starts at pel-grid (x, y).
struct PlacedImage {
  ScopedImage image;
  kimg_window window;
  PlacedImage(int32_t x, int32_t y, int32_t width, int32_t height) : image(1, width, height) {
    image.get()->xOrigin = x, image.get()->yOrigin = y;
    window = image.window();
  }
};


// ---------------------------------------------------------------------------------------------
// Sample parameters

// Sides 10.4 and 3.6 long, turned by 30 degrees so that the lengths are not read off one axis;
// the counts follow the mapped lengths (20.8 and 7.2 under a doubling), the rectangle is stored
// unmapped.
TEST(SampleParams, InitRectStandardCountsFollowMappedSideLengths) {
  const double c = std::cos(std::numbers::pi / 6), s = std::sin(std::numbers::pi / 6);
  const kmath_shapeAffineRect rect = rectOf(3, -2, 10.4 * c, 10.4 * s, -3.6 * s, 3.6 * c);
  const kmath_xformLinear doubling{5, 7, 2, 0, 0, 2};
  affineSampleParams p = paramsOf(rectOf(0, 0, 0, 0, 0, 0), 3, 0, 0);
  ASSERT_EQ(kip_affineSampleParams_initRectStandard(&p, &rect, &doubling), 0);
  EXPECT_TRUE(p.xCount == 21 && p.yCount == 7 && p.sampleMode == KIP_SAMPLE_BILINEAR);
  EXPECT_EQ(std::memcmp(&p.affineRect, &rect, sizeof rect), 0);
}

// The result must take the rectangle's corners to the destination's corners, whatever the turn,
// shear or mirror; getting the composition order wrong breaks this for all but trivial maps. A
// projection's destination is one row tall.
TEST(SampleParams, DestinationTransformMapsCornersOntoTheGrid) {
  const kmath_shapeAffineRect rect = rectOf(-3.5, 12.25, 40, -9, 6, 21);
  const affineSampleParams p = paramsOf(rect, 0, 17, 5);
  kmath_xformLinear out{};
  ASSERT_EQ(kip_affineSampleParams_getDestImageFromClientXform(&p, 1, &out), 0);
  const kmath_vect o = apply(out, rect.tx, rect.ty), x = apply(out, rect.tx + rect.e0, rect.ty + rect.e2);
  const kmath_vect y = apply(out, rect.tx + rect.e1, rect.ty + rect.e3);
  for (const double d : {o.x, o.y, x.y, y.x, x.x - 17, y.y - 1}) EXPECT_NEAR(d, 0, 1e-12);
}

// ---------------------------------------------------------------------------------------------
// Image alignment

// The code, and the unit directions of the destination's x and y in the source.
struct Orientation { uint32_t code; double xSideX, xSideY, ySideX, ySideY; };

constexpr Orientation kOrientations[] = {
    {0, 1, 0, 0, 1},   {180, -1, 0, 0, -1}, {91, -1, 0, 0, 1}, {271, 1, 0, 0, -1},
    {90, 0, 1, -1, 0}, {270, 0, -1, 1, 0},  {1, 0, 1, 1, 0},   {181, 0, -1, -1, 0},
};

// Identity, and a transform that scales, moves and mirrors client coordinates (a wrong order of
// composition shows there).
const kmath_xformLinear kImageTransforms[] = {kIdentity, {4, -6, 2, 0, 0, -2}};

class Alignment : public ::testing::TestWithParam<std::tuple<Orientation, int>> {};

// The source rectangle of pels (10, 20) onwards, covered by 64 x 32 destination samples in the
// given orientation, nudged along x; its code, and the window only when it is aligned.
TEST_P(Alignment, CodeAndWindowOfEveryOrientation) {
  const Orientation& o = std::get<0>(GetParam());
  const kmath_xformLinear& xform = kImageTransforms[std::get<1>(GetParam())];
  const double sumX = o.xSideX * 64 + o.ySideX * 32, sumY = o.xSideY * 64 + o.ySideY * 32;  // one term is 0
  const kstd_rect32 expected{10, 20, static_cast<int32_t>(std::fabs(sumX)), static_cast<int32_t>(std::fabs(sumY))};
  for (const auto& [nudge, aligned] : {std::pair{0.0, true}, {1e-13, true}, {1e-9, false}, {0.5, false}}) {
    // The half-pel nudge moves y, the others x.
    const double nudgeX = nudge == 0.5 ? 0 : nudge, nudgeY = nudge == 0.5 ? nudge : 0;
    const kmath_shapeAffineRect source = rectOf(10 + std::max(-sumX, 0.0) + nudgeX, 20 + std::max(-sumY, 0.0) + nudgeY,
                                                o.xSideX * 64, o.xSideY * 64, o.ySideX * 32, o.ySideY * 32);
    affineSampleParams p = paramsOf(clientRect(xform, source), KIP_SAMPLE_BILINEAR, 64, 32);
    uint32_t code = kUntouched;
    kstd_rect32 window{-1, -1, -1, -1};
    ASSERT_EQ(kip_affine_imageAlignment_compute(&p, &xform, &code, &window), 0);
    EXPECT_EQ(code, aligned ? o.code : KIP_ALIGNMENT_GENERAL) << "nudge " << nudge;
    EXPECT_TRUE(sameRect(window, aligned ? expected : kstd_rect32{-1, -1, -1, -1})) << "nudge " << nudge;
  }
}

INSTANTIATE_TEST_SUITE_P(Geometry, Alignment,
                         ::testing::Combine(::testing::ValuesIn(kOrientations), ::testing::Values(0, 1)));

// ---------------------------------------------------------------------------------------------
// Clip tests

// willClip for sample modes 0..3 from the fixed-point test, and from the double-precision one for
// the modes it serves (nearest and bilinear).
TEST(ClipTest, WorkedExamplesPerSampleMode) {
  const struct {
    kmath_shapeAffineRect rect;
    int32_t xc, yc, width;
    uint32_t expected[4];
  } cases[] = {
      // Aligned: copied, never interpolated, so no mode clips.
      {rectOf(0, 0, 10, 0, 0, 10), 10, 10, 10, {0, 0, 0, 0}},
      // Centres 0.25 .. 9.75: inside for nearest only.
      {rectOf(0, 0, 10, 0, 0, 10), 20, 20, 10, {0, 1, 1, 1}},
      // Centres 0.5 .. 9.5: the last one lies exactly on width - 0.5, too far for bilinear.
      {rectOf(0.25, 0.25, 9.5, 0, 0, 9.5), 19, 19, 10, {0, 1, 1, 1}},
      // Centres 2 .. 8: two-pass cubic reaches past the edge, two-pass linear does not.
      {rectOf(1, 1, 8, 0, 0, 8), 4, 4, 10, {0, 0, 0, 1}},
      // One centre well inside every margin: only the smallest window of the two-pass modes decides.
      {rectOf(1, 40, 2, 0, 0, 2), 1, 1, 4, {0, 0, 1, 1}},
  };
  for (const auto& c : cases) {
    PlacedImage image(0, 0, c.width, c.width == 10 ? 10 : 100);
    for (uint32_t mode = 0; mode < 4; ++mode) {
      const affineSampleParams p = paramsOf(c.rect, mode, c.xc, c.yc);
      uint32_t willClip = kUntouched;
      ASSERT_EQ(kip_affineSampleParams_getWillClipWindow(&p, &image.window, &kIdentity, &willClip), 0);
      EXPECT_EQ(willClip, c.expected[mode]) << c.xc << " samples, width " << c.width << " mode " << mode;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Reachable source rectangle

TEST(MaxSrcRect, WorkedExamples) {
  PlacedImage image(0, 0, 100, 100);
  kstd_rect32 rect{};
  // A map turned by 90 degrees with a mirror, in client units of a transform that doubles and
  // moves: source origin (-1, 9), x side (0, 6), y side (8, 0); centres x 0 .. 6, y 10 .. 14; the
  // extremes come from different corners on the two axes.
  const kmath_xformLinear xform{-3, 5, 2, 0, 0, 2};
  const affineSampleParams turned = paramsOf(rectOf(1, 2, 0, 3, 4, 0), 2, 3, 4);
  ASSERT_EQ(kip_affineSampleParams_getMaxSrcRectWindow(&turned, &image.window, &xform, &rect), 0);
  EXPECT_TRUE(sameRect(rect, {-6, 4, 19, 17}));
}

// ---------------------------------------------------------------------------------------------
// Property: whatever the clip test passes, every sample stays inside the window with its reach.

// How far a passed centre may lie beyond the mode's exact bound, from the rounding of the 16.16
// conversion (dx x 65536 + 0.5, truncated toward zero): a margin M > 0 admits dx down to
// (M - 0.5) / 65536; a margin of 0 admits dx down to just above -1.5 / 65536 (truncation maps
// (-1, 0] to 0) and up to just below width + 0.5 / 65536. The double-precision test has no such
// slack. kNoise covers the difference between our double positions and the library's.
constexpr double kNoise = 1e-9;

// Pels needed each side of the position, accepted rounding below the near and above the far
// bound, and whether the position must stay strictly below the far bound.
struct Reach { double reach, lowSlack, highSlack; bool strictFar; };

// Nearest needs the pel containing the centre (one on the far edge is admitted); bilinear needs
// floor(x - 0.5) and the pel after it.
Reach reachOf(uint32_t mode, bool fixedPoint) {
  const double u = fixedPoint ? kPelStep : 0.0;
  const Reach reaches[4] = {
      {0.0, 1.5 * u, 0.5 * u, false}, {0.5, 0.5 * u, 0.0, true}, {1.5, 0.5 * u, 0.5 * u, false}, {2.5, 0.5 * u, 0.5 * u, false}};
  return reaches[mode];
}

bool staysInside(double d, int32_t extent, const Reach& r) {
  if (d - r.reach < -r.lowSlack - kNoise) return false;
  if (r.strictFar) return d + r.reach < extent + kNoise;
  return d + r.reach <= extent + r.highSlack + kNoise;
}


// A random map from destination pel coordinates to source pel coordinates, centred in or near the
// window, and the image transform its rectangle is given through.
struct RandomSampling {
  kmath_xformLinear sourceFromDest;
  kmath_xformLinear imageFromClient;
  affineSampleParams params;
};

RandomSampling randomSampling(std::mt19937& random, int32_t wx, int32_t wy, int32_t w, int32_t h) {
  auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(random); };
  auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(random); };
  RandomSampling s{};
  const int32_t xc = pick(1, 12), yc = pick(1, 12);
  double l0, l1, l2, l3;  // linear part: source step per destination pel along x (l0, l2) and y (l1, l3)
  const double angle = uniform(-std::numbers::pi, std::numbers::pi), c = std::cos(angle), sn = std::sin(angle);
  const double sx = uniform(0.1, 1.6), sy = uniform(0.1, 1.6) * (pick(0, 1) ? -1.0 : 1.0), shear = uniform(-0.5, 0.5);
  // rotation x shear x diag(sx, sy), sy negative for a mirror
  l0 = c * sx, l1 = c * shear * sy - sn * sy, l2 = sn * sx, l3 = sn * shear * sy + c * sy;
  // Origin so that the sampling's centre lies near the window's centre.
  const double cx = wx + w * uniform(-0.2, 1.2), cy = wy + h * uniform(-0.2, 1.2);
  double ox = cx - (l0 * xc + l1 * yc) / 2, oy = cy - (l2 * xc + l3 * yc) / 2;
  if (pick(0, 1)) {
    // Half of the general maps are moved so that their outermost corner centre on one side lies
    // within two 16.16 units of some mode's bound: random maps alone would hardly ever test the
    // rounding at the limits.
    const double reaches[4] = {0.0, 0.5, 1.5, 2.5};
    const double r = reaches[pick(0, 3)];
    const double offset = uniform(-2.0, 2.0) * kPelStep;
    const bool alongY = pick(0, 1) != 0, far = pick(0, 1) != 0;
    const double a = alongY ? l2 : l0, b = alongY ? l3 : l1;
    double lo = kInf, hi = -kInf;
    for (const int32_t j : {0, yc - 1}) {
      for (const int32_t i : {0, xc - 1}) {
        lo = std::min(lo, a * (i + 0.5) + b * (j + 0.5));
        hi = std::max(hi, a * (i + 0.5) + b * (j + 0.5));
      }
    }
    const double edge = alongY ? wy : wx, extent = alongY ? h : w;
    (alongY ? oy : ox) = far ? edge + extent - r + offset - hi : edge + r + offset - lo;
  }
  s.sourceFromDest = {ox, oy, l0, l1, l2, l3};
  const kmath_shapeAffineRect source = rectOf(ox, oy, l0 * xc, l2 * xc, l1 * yc, l3 * yc);
  s.imageFromClient =
      pick(0, 1) ? kIdentity : kmath_xformLinear{uniform(-5, 5),     uniform(-5, 5),     uniform(0.5, 2),
                                                 uniform(-0.3, 0.3), uniform(-0.3, 0.3), uniform(0.5, 2)};
  s.params = paramsOf(clientRect(s.imageFromClient, source), 0, xc, yc);
  return s;
}

class ClipProperty : public ::testing::TestWithParam<bool> {};  // fixed point or double precision

TEST_P(ClipProperty, PassedSamplingsStayInsideTheWindow) {
  const bool fixedPoint = GetParam();
  std::mt19937 random(fixedPoint ? 20240601u : 20240602u);
  int passed = 0;
  for (int trial = 0; trial < 1500; ++trial) {
    auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(random); };
    const int32_t w = pick(1, 40), h = pick(1, 40), wx = pick(-30, 30), wy = pick(-30, 30);
    PlacedImage image(wx, wy, w, h);
    RandomSampling s = randomSampling(random, wx, wy, w, h);
    // The double-precision test serves nearest and bilinear only (the table-driven modes refuse
    // windows that need it), so only those have its reach.
    for (uint32_t mode = 0; mode < (fixedPoint ? 4u : 2u); ++mode) {
      s.params.sampleMode = mode;
      uint32_t willClip = kUntouched;
      ASSERT_EQ(fixedPoint
                    ? kip_affineSampleParams_getWillClipWindow(&s.params, &image.window, &s.imageFromClient, &willClip)
                    : affineSampleParams_getWillClipFloat(&s.params, &image.window, &s.imageFromClient, &willClip),
                0);
      ASSERT_LE(willClip, 1u);
      const Reach reach = reachOf(mode, fixedPoint);
      const int32_t xc = s.params.xCount, yc = s.params.yCount;
      if (willClip == 0) {
        ++passed;
        for (int32_t j = 0; j < yc; ++j) {
          for (int32_t i = 0; i < xc; ++i) {
            const kmath_vect p = apply(s.sourceFromDest, i + 0.5, j + 0.5);
            ASSERT_TRUE(staysInside(p.x - wx, w, reach) && staysInside(p.y - wy, h, reach))
                << "trial " << trial << " mode " << mode << " sample (" << i << ", " << j << ")";
          }
        }
      }
    }
  }
  EXPECT_GT(passed, 500);  // the generator must exercise passing samplings
}

INSTANTIATE_TEST_SUITE_P(Geometry, ClipProperty, ::testing::Bool());

// ---------------------------------------------------------------------------------------------
// Bad input: one case per status, and no output written.

TEST(BadInput, EachStatusLeavesTheOutputsAlone) {
  PlacedImage image(0, 0, 16, 16);
  const affineSampleParams p = paramsOf(rectOf(2, 2, 8, 0, 0, 8), 1, 4, 4);
  const affineSampleParams nan = paramsOf(rectOf(kNaN, 0, 8, 0, 0, 8), 1, 4, 4), none = paramsOf(p.affineRect, 1, 0, 5);
  const affineSampleParams flat = paramsOf(rectOf(5, 7, 100, 0, 0, 0), 1, 100, 50);
  const kmath_shapeAffineRect longSide = rectOf(0, 0, 1e10, 0, 0, 8);
  kimg_window broken = image.window;
  broken.width = -3;
  const int32_t brokenStatus = kimg_window_validate(&broken, 0);
  ASSERT_LT(brokenStatus, 0);
  ScopedImage unbound;
  uint32_t willClip = kUntouched, code = kUntouched;
  kstd_rect32 rect{7, 7, 7, 7};
  kmath_xformLinear xform{6, 5, 4, 3, 2, 1};
  affineSampleParams params = paramsOf(rectOf(9, 9, 9, 9, 9, 9), 9, 9, 9);
  EXPECT_EQ(kip_affineSampleParams_getWillClipWindow(&p, &image.window, &kIdentity, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kip_affineSampleParams_getWillClipWindow(&nan, &image.window, &kIdentity, &willClip), KIP_ERR_NOT_FINITE);
  EXPECT_EQ(kip_affineSampleParams_getMaxSrcRectWindow(&p, &broken, &kIdentity, &rect), brokenStatus);
  EXPECT_EQ(kip_affineSampleParams_getWillClip(&p, unbound.get(), &willClip), KIP_ERR_NOT_BOUND);
  EXPECT_EQ(kip_affine_imageAlignment_compute(&none, &kIdentity, &code, &rect), KIP_ERR_NO_SAMPLES);
  EXPECT_EQ(kip_affineSampleParams_getDestImageFromClientXform(&flat, 0, &xform), KIP_ERR_SINGULAR);
  EXPECT_EQ(kip_affineSampleParams_initRectStandard(&params, &longSide, nullptr), KIP_ERR_OUT_OF_RANGE);
  EXPECT_TRUE(willClip == kUntouched && code == kUntouched && sameRect(rect, {7, 7, 7, 7}) && xform.tx == 6 &&
              params.xCount == 9 && params.sampleMode == 9);
}

}  // namespace
