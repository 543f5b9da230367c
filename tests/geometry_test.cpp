// Sampling geometry: worked examples of the sample parameters, the alignment codes, the clip tests
// at their exact limits and the reachable source rectangle; a property test of the clip tests on
// random maps; bad input.
#include "geometry/geometry.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <string>

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
    image.get()->xOrigin = x;
    image.get()->yOrigin = y;
    window = image.window();
  }
};

uint32_t willClipOf(const affineSampleParams& p, const kimg_window& window,
                    const kmath_xformLinear& xform = kIdentity) {
  uint32_t willClip = kUntouched;
  EXPECT_EQ(kip_affineSampleParams_getWillClipWindow(&p, &window, &xform, &willClip), 0);
  return willClip;
}

// ---------------------------------------------------------------------------------------------
// Sample parameters

// Sides 10.4 and 3.6 long, turned by 30 degrees so that the lengths are not read off one axis;
// the counts follow the mapped lengths (20.8 and 7.2 under a doubling), the rectangle is stored
// unmapped.
TEST(SampleParams, InitRectStandardCountsFollowMappedSideLengths) {
  const double c = std::cos(std::numbers::pi / 6), s = std::sin(std::numbers::pi / 6);
  const kmath_shapeAffineRect rect = rectOf(3, -2, 10.4 * c, 10.4 * s, -3.6 * s, 3.6 * c);
  const kmath_xformLinear doubling{5, 7, 2, 0, 0, 2};
  for (const auto& [xform, xCount, yCount] : {std::tuple{&doubling, 21, 7}, {nullptr, 10, 4}}) {
    affineSampleParams p = paramsOf(rectOf(0, 0, 0, 0, 0, 0), 3, 0, 0);
    ASSERT_EQ(kip_affineSampleParams_initRectStandard(&p, &rect, xform), 0);
    EXPECT_TRUE(p.xCount == xCount && p.yCount == yCount && p.sampleMode == KIP_SAMPLE_BILINEAR);
    EXPECT_EQ(std::memcmp(&p.affineRect, &rect, sizeof rect), 0);
  }
  // The record's own rectangle may be passed in.
  affineSampleParams p = paramsOf(rectOf(1, 1, 6.6, 0, 0, 2.2), 0, 0, 0);
  ASSERT_EQ(kip_affineSampleParams_initRectStandard(&p, &p.affineRect, nullptr), 0);
  EXPECT_TRUE(p.xCount == 7 && p.yCount == 2 && p.affineRect.e0 == 6.6);
}

// The result must take the rectangle's corners to the destination's corners, whatever the turn,
// shear or mirror; getting the composition order wrong breaks this for all but trivial maps. A
// projection's destination is one row tall.
TEST(SampleParams, DestinationTransformMapsCornersOntoTheGrid) {
  const kmath_shapeAffineRect rect = rectOf(-3.5, 12.25, 40, -9, 6, 21);
  for (int32_t forProjection : {0, 1}) {
    const affineSampleParams p = paramsOf(rect, 0, 17, 5);
    kmath_xformLinear out{};
    ASSERT_EQ(kip_affineSampleParams_getDestImageFromClientXform(&p, forProjection, &out), 0);
    const kmath_vect o = apply(out, rect.tx, rect.ty);
    const kmath_vect x = apply(out, rect.tx + rect.e0, rect.ty + rect.e2);
    const kmath_vect y = apply(out, rect.tx + rect.e1, rect.ty + rect.e3);
    for (const double d : {o.x, o.y, x.y, y.x, x.x - 17, y.y - (forProjection ? 1 : 5)}) EXPECT_NEAR(d, 0, 1e-12);
  }
}

// ---------------------------------------------------------------------------------------------
// Image alignment

struct Orientation {
  uint32_t code;
  double xSideX, xSideY;  // unit direction of the destination's x in the source
  double ySideX, ySideY;  // unit direction of the destination's y in the source
};

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
    if (!aligned) continue;
    code = kUntouched;
    ASSERT_EQ(kip_affine_imageAlignment_compute(&p, &xform, &code, nullptr), 0);
    EXPECT_EQ(code, o.code) << "without a window";
    // One destination pel per source pel: the scale must match the counts.
    for (const auto& [xc, yc] : {std::pair{64, 33}, {63, 32}}) {
      p.xCount = xc, p.yCount = yc;
      ASSERT_EQ(kip_affine_imageAlignment_compute(&p, &xform, &code, nullptr), 0);
      EXPECT_EQ(code, KIP_ALIGNMENT_GENERAL) << xc << " x " << yc;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Geometry, Alignment,
                         ::testing::Combine(::testing::ValuesIn(kOrientations), ::testing::Values(0, 1)));

// Off-diagonal elements just too large for a turn: a general map, for which no window is written.
TEST(Alignment, NearTurnsAreGeneral) {
  const affineSampleParams p = paramsOf(rectOf(10, 20, 64, 2e-12, 0, 32), 0, 64, 32);
  uint32_t code = kUntouched;
  kstd_rect32 window{};
  ASSERT_EQ(kip_affine_imageAlignment_compute(&p, &kIdentity, &code, &window), 0);
  EXPECT_EQ(code, KIP_ALIGNMENT_GENERAL);
  EXPECT_TRUE(sameRect(window, {}));
}

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
      {rectOf(2, 40, 2, 0, 0, 2), 1, 1, 6, {0, 0, 0, 1}},
      {rectOf(2, 40, 2, 0, 0, 2), 1, 1, 7, {0, 0, 0, 0}},
      {rectOf(1, 40, 2, 0, 0, 2), 1, 1, 4, {0, 0, 1, 1}},
      {rectOf(1, 40, 2, 0, 0, 2), 1, 1, 5, {0, 0, 0, 1}},
  };
  for (const auto& c : cases) {
    PlacedImage image(0, 0, c.width, c.width == 10 ? 10 : 100);
    for (uint32_t mode = 0; mode < 4; ++mode) {
      const affineSampleParams p = paramsOf(c.rect, mode, c.xc, c.yc);
      EXPECT_EQ(willClipOf(p, image.window), c.expected[mode]) << c.xc << " samples, width " << c.width << " mode " << mode;
      uint32_t willClip = kUntouched;
      if (mode > KIP_SAMPLE_BILINEAR) continue;
      ASSERT_EQ(affineSampleParams_getWillClipFloat(&p, &image.window, &kIdentity, &willClip), 0);
      EXPECT_EQ(willClip, c.expected[mode]) << c.xc << " samples, double precision, mode " << mode;
    }
  }
}

// A centre a quarter unit below 0.5: the fixed-point test rounds it onto 0.5 and passes it, the
// double-precision one does not, so the answer shows which test ran. The two-pass modes have no
// double-precision kernels and refuse such windows.
TEST(ClipTest, LargeStrideOrHeightGoesToDoublePrecisionForNearestAndBilinear) {
  const double centre = 0.5 - 0.25 * kPelStep;
  const affineSampleParams bilinear = paramsOf(rectOf(centre - 1, 3, 2, 0, 0, 2), KIP_SAMPLE_BILINEAR, 1, 1);
  PlacedImage narrow(0, 0, 32767, 10), wide(0, 0, 32768, 10), tall(0, 0, 8, 32768);
  EXPECT_EQ(willClipOf(bilinear, narrow.window), 0u);
  EXPECT_EQ(willClipOf(bilinear, wide.window), 1u);
  EXPECT_EQ(willClipOf(bilinear, tall.window), 1u);
  const affineSampleParams cubic = paramsOf(rectOf(3, 3, 2, 0, 0, 2), KIP_SAMPLE_CUBIC2, 1, 1);
  uint32_t willClip = kUntouched;
  EXPECT_EQ(kip_affineSampleParams_getWillClipWindow(&cubic, &tall.window, &kIdentity, &willClip), KIP_ERR_SOURCE_TOO_LARGE);
  EXPECT_EQ(willClip, kUntouched);
  // Centres too far for 16.16 clip without being converted.
  for (const double far : {40000.0, -40000.0, 1e300}) {
    EXPECT_EQ(willClipOf(paramsOf(rectOf(far, 2, 2, 0, 0, 2), 0, 1, 1), narrow.window), 1u) << far;
  }
}

// The image form reads the image's own transform and origin: client (20, 20) is pel (100, -50),
// two client units a pel, so from client x 21 the centres lie inside, from 17 one lies before it.
TEST(ClipTest, ImageFormUsesTheImagesTransformAndOrigin) {
  PlacedImage image(100, -50, 20, 20);
  const kmath_xformLinear xform{90, -60, 0.5, 0, 0, 0.5};
  ASSERT_EQ(kimg_image_setLinearImageFromClientXform(image.image.get(), &xform), 0);
  uint32_t willClip = kUntouched;
  for (const auto& [ox, expected] : {std::pair{21.0, 0u}, {17.0, 1u}}) {
    const affineSampleParams p = paramsOf(rectOf(ox, 21, 8, 0, 0, 8), KIP_SAMPLE_NEAREST, 4, 4);
    ASSERT_EQ(kip_affineSampleParams_getWillClip(&p, image.image.get(), &willClip), 0);
    EXPECT_EQ(willClip, expected) << ox;
  }
  ScopedImage unbound;
  willClip = kUntouched;
  const affineSampleParams p = paramsOf(rectOf(0, 0, 8, 0, 0, 8), 0, 4, 4);
  EXPECT_EQ(kip_affineSampleParams_getWillClip(&p, unbound.get(), &willClip), KIP_ERR_NOT_BOUND);
  EXPECT_EQ(willClip, kUntouched);
}

// ---------------------------------------------------------------------------------------------
// Reachable source rectangle

TEST(MaxSrcRect, WorkedExamples) {
  PlacedImage image(0, 0, 100, 100);
  const affineSampleParams p = paramsOf(rectOf(10, 20, 64, 0, 0, 32), 0, 64, 32);
  kstd_rect32 rect{};
  ASSERT_EQ(kip_affineSampleParams_getMaxSrcRect(&p, image.image.get(), &rect), 0);
  EXPECT_TRUE(sameRect(rect, {4, 14, 77, 45}));
  // A map turned by 90 degrees with a mirror, in client units of a transform that doubles and
  // moves: source origin (-1, 9), x side (0, 6), y side (8, 0); centres x 0 .. 6, y 10 .. 14; the
  // extremes come from different corners on the two axes.
  const kmath_xformLinear xform{-3, 5, 2, 0, 0, 2};
  const affineSampleParams turned = paramsOf(rectOf(1, 2, 0, 3, 4, 0), 2, 3, 4);
  ASSERT_EQ(kip_affineSampleParams_getMaxSrcRectWindow(&turned, &image.window, &xform, &rect), 0);
  EXPECT_TRUE(sameRect(rect, {-6, 4, 19, 17}));
  // A shear whose rightmost centre is the fourth corner's alone: (0.5, 0.5) .. (1.5, 1.5) map to
  // x 2, 4, 4 and 6, y 1, 1, 3, 3.
  const affineSampleParams sheared = paramsOf(rectOf(0, 0, 4, 0, 4, 4), 0, 2, 2);
  ASSERT_EQ(kip_affineSampleParams_getMaxSrcRectWindow(&sheared, &image.window, &kIdentity, &rect), 0);
  EXPECT_TRUE(sameRect(rect, {-4, -5, 17, 15}));
}

TEST(MaxSrcRect, OutOfRangeAndOverflowLeaveTheRectangle) {
  PlacedImage image(0, 0, 10, 10);
  const kstd_rect32 before{1, 2, 3, 4};
  const struct {
    kmath_shapeAffineRect rect;
    kmath_xformLinear xform;
    int32_t xCount;
    int32_t expected;
  } cases[] = {
      {rectOf(3e9, 0, 1, 0, 0, 1), kIdentity, 1, KIP_ERR_OUT_OF_RANGE},
      // Both edges fit 32 bits, the width does not.
      {rectOf(-2.1e9, 0, 4.2e9, 0, 0, 1), kIdentity, 1000, KIP_ERR_OUT_OF_RANGE},
      // The composition overflows a double.
      {rectOf(0, 0, 1e200, 0, 0, 1), {0, 0, 1e200, 0, 0, 1}, 1, KIP_ERR_NOT_FINITE},
  };
  for (const auto& c : cases) {
    const affineSampleParams p = paramsOf(c.rect, 0, c.xCount, 1);
    kstd_rect32 rect = before;
    EXPECT_EQ(kip_affineSampleParams_getMaxSrcRectWindow(&p, &image.window, &c.xform, &rect), c.expected);
    EXPECT_TRUE(sameRect(rect, before));
  }
}

// ---------------------------------------------------------------------------------------------
// Property: whatever the clip test passes, every sample stays inside the window with its reach.

// How far a passed centre may lie beyond the mode's exact bound, from the rounding of the 16.16
// conversion (dx x 65536 + 0.5, truncated toward zero): a margin M > 0 admits dx down to
// (M - 0.5) / 65536; a margin of 0 admits dx down to just above -1.5 / 65536 (truncation maps
// (-1, 0] to 0) and up to just below width + 0.5 / 65536. The double-precision test has no such
// slack. kNoise covers the difference between our double positions and the library's.
constexpr double kNoise = 1e-9;

struct Reach {
  double reach;      // pels needed on each side of the position
  double lowSlack;   // accepted rounding below the near bound
  double highSlack;  // accepted rounding above the far bound
  bool strictFar;    // the position must stay strictly below the far bound
};

// Nearest needs the pel containing the centre (one on the far edge is admitted); bilinear needs
// floor(x - 0.5) and the pel after it.
Reach reachOf(uint32_t mode, bool fixedPoint) {
  const double u = fixedPoint ? kPelStep : 0.0;
  const Reach reaches[4] = {{0.0, 1.5 * u, 0.5 * u, false},
                            {0.5, 0.5 * u, 0.0, true},
                            {1.5, 0.5 * u, 0.5 * u, false},
                            {2.5, 0.5 * u, 0.5 * u, false}};
  return reaches[mode];
}

bool staysInside(double d, int32_t extent, const Reach& r) {
  if (d - r.reach < -r.lowSlack - kNoise) return false;
  if (r.strictFar) return d + r.reach < extent + kNoise;
  return d + r.reach <= extent + r.highSlack + kNoise;
}

// Fixed-point bounds of a corner centre offset d from the window edge, for the exact test of the
// corners; the mode is the one the test applies (nearest for aligned maps).
bool fixedCornerInside(double d, int32_t extent, uint32_t mode) {
  const double margins[4] = {0, 0x8000, 0x18000, 0x28000};
  const double upper = extent * 65536.0 - margins[mode] - (mode == 1 ? 1 : 0);
  const double f = std::trunc(d * 65536.0 + 0.5);
  return f >= margins[mode] && f <= upper;
}

// A random map from destination pel coordinates to source pel coordinates, centred in or near the
// window, and the image transform its rectangle is given through.
struct RandomSampling {
  kmath_xformLinear sourceFromDest;
  kmath_xformLinear imageFromClient;
  affineSampleParams params;
  bool aligned;
};

RandomSampling randomSampling(std::mt19937& random, int32_t wx, int32_t wy, int32_t w, int32_t h) {
  auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(random); };
  auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(random); };
  RandomSampling s{};
  const int32_t xc = pick(1, 12), yc = pick(1, 12);
  double l0, l1, l2, l3;  // linear part: source step per destination pel along x (l0, l2) and y (l1, l3)
  s.aligned = pick(0, 5) == 0;
  if (s.aligned) {
    const Orientation& o = kOrientations[pick(0, 7)];
    l0 = o.xSideX, l2 = o.xSideY, l1 = o.ySideX, l3 = o.ySideY;
  } else {
    const double angle = uniform(-std::numbers::pi, std::numbers::pi);
    const double sx = uniform(0.1, 1.6), sy = uniform(0.1, 1.6), shear = uniform(-0.5, 0.5);
    const double mirror = pick(0, 1) ? -1.0 : 1.0;
    const double c = std::cos(angle), sn = std::sin(angle);
    // rotation x shear x diag(sx, mirror * sy)
    const double a0 = sx, a1 = shear * mirror * sy, a3 = mirror * sy;
    l0 = c * a0, l1 = c * a1 - sn * a3, l2 = sn * a0, l3 = sn * a1 + c * a3;
  }
  // Origin so that the sampling's centre lies near the window's centre, or exactly on whole pels
  // for an aligned map.
  const double cx = wx + w * uniform(-0.2, 1.2), cy = wy + h * uniform(-0.2, 1.2);
  double ox = cx - (l0 * xc + l1 * yc) / 2, oy = cy - (l2 * xc + l3 * yc) / 2;
  if (s.aligned) {
    ox = std::round(ox), oy = std::round(oy);
  } else if (pick(0, 1)) {
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
  const int32_t smallest[4] = {1, 1, 5, 7};
  int passed = 0, clipped = 0;
  for (int trial = 0; trial < 1500; ++trial) {
    const int32_t w = std::uniform_int_distribution<int>(1, 40)(random);
    const int32_t h = std::uniform_int_distribution<int>(1, 40)(random);
    const int32_t wx = std::uniform_int_distribution<int>(-30, 30)(random);
    const int32_t wy = std::uniform_int_distribution<int>(-30, 30)(random);
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
      const uint32_t applied = s.aligned ? 0u : mode;
      const Reach reach = reachOf(applied, fixedPoint);
      const int32_t xc = s.params.xCount, yc = s.params.yCount;
      if (willClip == 0) {
        ++passed;
        for (int32_t j = 0; j < yc; ++j) {
          for (int32_t i = 0; i < xc; ++i) {
            const kmath_vect p = apply(s.sourceFromDest, i + 0.5, j + 0.5);
            ASSERT_TRUE(staysInside(p.x - wx, w, reach) && staysInside(p.y - wy, h, reach))
                << "trial " << trial << " mode " << mode << " sample (" << i << ", " << j << ") at (" << p.x << ", "
                << p.y << ") window (" << wx << ", " << wy << ", " << w << ", " << h << ")";
          }
        }
      } else if (fixedPoint) {
        // The converse: a clip must come from a small window or a corner beyond its bound.
        ++clipped;
        bool beyond = w < smallest[applied] || h < smallest[applied];
        for (const int32_t j : {0, yc - 1}) {
          for (const int32_t i : {0, xc - 1}) {
            const kmath_vect p = apply(s.sourceFromDest, i + 0.5, j + 0.5);
            // Away from the bounds by more than the noise, the exact corner test decides.
            for (const double nudge : {-kNoise, kNoise}) {
              beyond = beyond || !fixedCornerInside(p.x - wx + nudge, w, applied) ||
                       !fixedCornerInside(p.y - wy + nudge, h, applied);
            }
          }
        }
        ASSERT_TRUE(beyond) << "trial " << trial << " mode " << mode << " clipped with every corner inside";
      }
    }
  }
  // The generator must exercise both answers, or the property says nothing.
  EXPECT_GT(passed, 500);
  if (fixedPoint) EXPECT_GT(clipped, 500);
}

INSTANTIATE_TEST_SUITE_P(Geometry, ClipProperty, ::testing::Bool());

// ---------------------------------------------------------------------------------------------
// Bad input: the documented status, and no output written.

struct Outputs {
  affineSampleParams params = paramsOf(rectOf(9, 9, 9, 9, 9, 9), 9, 9, 9);
  kmath_xformLinear xform{6, 5, 4, 3, 2, 1};
  uint32_t code = kUntouched, willClip = kUntouched;
  kstd_rect32 rect{7, 7, 7, 7};

  // Field by field: the parameters have padding, which memcmp would compare too.
  bool untouched() const {
    const Outputs f;
    return std::memcmp(&params.affineRect, &f.params.affineRect, sizeof params.affineRect) == 0 &&
           params.sampleMode == 9 && params.xCount == 9 && params.yCount == 9 &&
           std::memcmp(&xform, &f.xform, sizeof xform) == 0 && code == kUntouched && willClip == kUntouched &&
           sameRect(rect, f.rect);
  }
};

TEST(BadInput, NonFiniteValuesAreRefusedByEveryFunctionWithoutWriting) {
  PlacedImage image(0, 0, 16, 16);
  const kmath_xformLinear badXform{0, -kInf, 1, 0, 0, 1};
  for (const auto& [rect, xform] : {std::pair{rectOf(kNaN, 0, 8, 0, 0, 8), &kIdentity},
                                    std::pair{rectOf(0, 0, 8, 0, 0, 8), &badXform}}) {
    for (const uint32_t mode : {KIP_SAMPLE_NEAREST, KIP_SAMPLE_CUBIC2}) {
      const affineSampleParams p = paramsOf(rect, mode, 4, 4);
      Outputs out;
      EXPECT_EQ(kip_affineSampleParams_getWillClipWindow(&p, &image.window, xform, &out.willClip), KIP_ERR_NOT_FINITE);
      EXPECT_EQ(affineSampleParams_getWillClipFloat(&p, &image.window, xform, &out.willClip), KIP_ERR_NOT_FINITE);
      EXPECT_EQ(kip_affineSampleParams_getMaxSrcRectWindow(&p, &image.window, xform, &out.rect), KIP_ERR_NOT_FINITE);
      EXPECT_EQ(kip_affine_imageAlignment_compute(&p, xform, &out.code, &out.rect), KIP_ERR_NOT_FINITE);
      EXPECT_EQ(kip_affineSampleParams_initRectStandard(&out.params, &p.affineRect, xform), KIP_ERR_NOT_FINITE);
      if (xform == &kIdentity) {
        EXPECT_EQ(kip_affineSampleParams_getDestImageFromClientXform(&p, 0, &out.xform), KIP_ERR_NOT_FINITE);
      }
      EXPECT_TRUE(out.untouched()) << "mode " << mode;
    }
  }
}

TEST(BadInput, HugeFiniteValues) {
  PlacedImage image(0, 0, 16, 16);
  Outputs out;
  // A count that does not fit 32 bits.
  const kmath_shapeAffineRect longSide = rectOf(0, 0, 1e10, 0, 0, 8);
  EXPECT_EQ(kip_affineSampleParams_initRectStandard(&out.params, &longSide, nullptr), KIP_ERR_OUT_OF_RANGE);
  // A huge origin is no alignment and no error, and clips.
  const affineSampleParams far = paramsOf(rectOf(1e300, 0, 4, 0, 0, 4), 1, 4, 4);
  uint32_t code = kUntouched;
  EXPECT_EQ(kip_affine_imageAlignment_compute(&far, &kIdentity, &code, &out.rect), 0);
  EXPECT_EQ(code, KIP_ALIGNMENT_GENERAL);
  EXPECT_EQ(willClipOf(far, image.window), 1u);
  EXPECT_TRUE(out.untouched());
  // Finite input whose composition overflows: the failure comes after the clip test has set
  // willClip to 1, which is where it stays.
  const kmath_xformLinear hugeScale{0, 0, 1e300, 0, 0, 1e300};
  const affineSampleParams p = paramsOf(rectOf(0, 0, 1e300, 0, 0, 1e300), 1, 4, 4);
  uint32_t willClip = kUntouched;
  EXPECT_EQ(kip_affineSampleParams_getWillClipWindow(&p, &image.window, &hugeScale, &willClip), KIP_ERR_NOT_FINITE);
  EXPECT_EQ(willClip, 1u);
}

TEST(BadInput, NullPointersBrokenWindowsSingularMapsAndNoSamples) {
  PlacedImage image(0, 0, 16, 16);
  const kimg_window& window = image.window;
  const affineSampleParams p = paramsOf(rectOf(2, 2, 8, 0, 0, 8), 1, 4, 4);
  Outputs out;
  EXPECT_EQ(kip_affineSampleParams_init(&out.params, 0, nullptr, 1, 1), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kip_affineSampleParams_initRectStandard(nullptr, &p.affineRect, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kip_affineSampleParams_getDestImageFromClientXform(&p, 0, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kip_affine_imageAlignment_compute(&p, &kIdentity, nullptr, &out.rect), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kip_affineSampleParams_getWillClipWindow(&p, &window, &kIdentity, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kip_affineSampleParams_getWillClip(nullptr, image.image.get(), &out.willClip), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kip_affineSampleParams_getMaxSrcRect(&p, nullptr, &out.rect), KIP_ERR_NULL_POINTER);
  // A window record that does not describe pels gets the window check's own answer.
  kimg_window broken = window;
  broken.width = -3;
  const int32_t expected = kimg_window_validate(&broken, 0);
  ASSERT_LT(expected, 0);
  EXPECT_EQ(kip_affineSampleParams_getWillClipWindow(&p, &broken, &kIdentity, &out.willClip), expected);
  EXPECT_EQ(kip_affineSampleParams_getMaxSrcRectWindow(&p, &broken, &kIdentity, &out.rect), expected);
  // A zero-length side has no inverse.
  const affineSampleParams flat = paramsOf(rectOf(5, 7, 100, 0, 0, 0), 1, 100, 50);
  EXPECT_EQ(kip_affineSampleParams_getDestImageFromClientXform(&flat, 0, &out.xform), KIP_ERR_SINGULAR);
  // Counts below 1 in the functions that divide by them (a projection does not divide by yCount).
  for (const auto& [xc, yc] : {std::pair{0, 5}, {5, -1}}) {
    const affineSampleParams none = paramsOf(p.affineRect, 1, xc, yc);
    EXPECT_EQ(kip_affineSampleParams_getWillClipWindow(&none, &window, &kIdentity, &out.willClip), KIP_ERR_NO_SAMPLES);
    EXPECT_EQ(affineSampleParams_getWillClipFloat(&none, &window, &kIdentity, &out.willClip), KIP_ERR_NO_SAMPLES);
    EXPECT_EQ(kip_affineSampleParams_getMaxSrcRectWindow(&none, &window, &kIdentity, &out.rect), KIP_ERR_NO_SAMPLES);
    EXPECT_EQ(kip_affine_imageAlignment_compute(&none, &kIdentity, &out.code, &out.rect), KIP_ERR_NO_SAMPLES);
    EXPECT_EQ(kip_affineSampleParams_getDestImageFromClientXform(&none, 0, &out.xform), KIP_ERR_NO_SAMPLES);
  }
  EXPECT_TRUE(out.untouched());
  const affineSampleParams row = paramsOf(p.affineRect, 1, 5, 0);
  EXPECT_EQ(kip_affineSampleParams_getDestImageFromClientXform(&row, 1, &out.xform), 0);
}

}  // namespace
