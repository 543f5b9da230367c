// The C++ wrapper kip.hpp: image ownership and wrapping, errors, the geometry helpers and the
// result-returning functions, checked against the C ABI they stand on.
#include <kip/kip.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

namespace {

// Where the destination transform of params puts a client point, in destination pels.
kip::Point destinationOf(const affineSampleParams& params, kip::Point p) {
  kmath_xformLinear m;
  EXPECT_EQ(kip_affineSampleParams_getDestImageFromClientXform(&params, 0, &m), 0);
  return {m.e0 * p.x + m.e1 * p.y + m.tx, m.e2 * p.x + m.e3 * p.y + m.ty};
}

uint32_t alignmentOf(const affineSampleParams& params) {
  const kmath_xformLinear identity{0, 0, 1, 0, 0, 1};
  uint32_t code = 0;
  EXPECT_EQ(kip_affine_imageAlignment_compute(&params, &identity, &code, nullptr), 0);
  return code;
}

bool clips(const kip::Image& source, const affineSampleParams& params) {
  uint32_t willClip = 0;
  EXPECT_EQ(kip_affineSampleParams_getWillClip(&params, source.get(), &willClip), 0);
  return willClip != 0;
}

template <typename Pel>
kip::Image ramp(int32_t width, int32_t height) {
  kip::Image image(sizeof(Pel), width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) image.at<Pel>(x, y) = static_cast<Pel>(1 + x + width * y);
  return image;
}

TEST(WrapperImage, OwningImagesAreZeroFilledAndMoveOnly) {
  kip::Image image(2, 5, 3);
  EXPECT_TRUE(image.bound());
  EXPECT_EQ(image.pelSize(), 2);
  EXPECT_EQ(image.at<uint16_t>(4, 2), 0);
  image.at<uint16_t>(4, 2) = 700;
  kip::Image moved(std::move(image));
  EXPECT_FALSE(image.bound());
  EXPECT_EQ(moved.at<uint16_t>(4, 2), 700);
  kip::Image assigned;
  assigned = std::move(moved);
  EXPECT_FALSE(moved.bound());
  EXPECT_EQ(assigned.at<uint16_t>(4, 2), 700);
}

TEST(WrapperImage, WrappedImagesUseTheCallersPels) {
  std::vector<uint8_t> pels(4 * 3, 0);
  {
    kip::Image image = kip::Image::wrap(pels.data(), 3, 3, 4);
    EXPECT_EQ(image.get()->firstPel, pels.data());
    EXPECT_EQ(image.stride(), 4);
    image.at<uint8_t>(2, 1) = 9;
  }
  EXPECT_EQ(pels[4 + 2], 9);  // the wrapper wrote through, and its end left the pels alone
  const std::vector<uint16_t> fixed(6, 3);
  const kip::Image view = kip::Image::wrap(fixed.data(), 3, 2, 3);
  EXPECT_EQ(view.pelSize(), 2);
  EXPECT_EQ(view.at<uint16_t>(2, 1), 3);
}

TEST(WrapperImage, RefusalsThrowTheStatusAndItsName) {
  std::vector<uint8_t> pels(16);
  try {
    kip::Image::wrap(pels.data(), 4, 4, 3);  // stride below the width
    FAIL() << "no error";
  } catch (const kip::Error& error) {
    EXPECT_EQ(error.status(), KIP_ERR_BAD_SIZE);
    EXPECT_STREQ(error.name(), "KIP_ERR_BAD_SIZE");
    EXPECT_NE(std::string(error.what()).find("KIP_ERR_BAD_SIZE"), std::string::npos);
  }
  EXPECT_THROW(kip::Image(3, 2, 2), kip::Error);
  EXPECT_THROW(kip::Image().window(), kip::Error);
}

TEST(WrapperCache, MovesItsHandle) {
  kip::SampleCache cache;
  affineSampleCache* handle = *cache.handle();
  ASSERT_NE(handle, nullptr);
  kip::SampleCache other(std::move(cache));
  EXPECT_EQ(*cache.handle(), nullptr);
  EXPECT_EQ(*other.handle(), handle);
}

struct RectCase {
  kip::Point origin, xEnd, yEnd;
  kip::Size size;
};

class WrapperRectTest : public testing::TestWithParam<RectCase> {};

// The three points land on the destination's corners (0, 0), (W, 0) and (0, H).
TEST_P(WrapperRectTest, PointsBecomeTheDestinationCorners) {
  const RectCase& c = GetParam();
  const affineSampleParams params = kip::sampleParams(c.origin, c.xEnd, c.yEnd, c.size, kip::Mode::cubic2);
  EXPECT_EQ(params.sampleMode, KIP_SAMPLE_CUBIC2);
  EXPECT_EQ(params.xCount, c.size.width);
  EXPECT_EQ(params.yCount, c.size.height);
  const kip::Point corners[][2] = {{c.origin, {0, 0}}, {c.xEnd, {double(c.size.width), 0}},
                                   {c.yEnd, {0, double(c.size.height)}}};
  for (const auto& [client, expected] : corners) {
    const kip::Point got = destinationOf(params, client);
    EXPECT_NEAR(got.x, expected.x, 1e-9);
    EXPECT_NEAR(got.y, expected.y, 1e-9);
  }
}

INSTANTIATE_TEST_SUITE_P(Rects, WrapperRectTest,
                         testing::Values(RectCase{{0, 0}, {8, 0}, {0, 6}, {8, 6}},
                                         RectCase{{10, 2}, {14, 5}, {7, 6}, {5, 5}},
                                         RectCase{{3.5, 9}, {3.5, 1}, {12, 9}, {16, 4}}));

struct TurnCase {
  double degrees;
  uint32_t code;
};

class WrapperRotationTest : public testing::TestWithParam<TurnCase> {};

// Quarter turns at scale 1 about a pel-grid point are the exact turns of the aligned path, in the
// same sense (code 90 is counter-clockwise as displayed), and the centre stays in the middle.
TEST_P(WrapperRotationTest, QuarterTurnsAreAlignedAndCentred) {
  const auto [degrees, code] = GetParam();
  const affineSampleParams params = kip::rotationParams({20, 12}, degrees, 1.0, {8, 6});
  EXPECT_EQ(alignmentOf(params), code);
  const kip::Point centre = destinationOf(params, {20, 12});
  EXPECT_NEAR(centre.x, 4, 1e-12);
  EXPECT_NEAR(centre.y, 3, 1e-12);
  // Output x runs along (cos, sin) of the source: one step along it is one output pel to the right.
  const double radians = degrees * M_PI / 180;
  const kip::Point step = destinationOf(params, {20 + std::cos(radians), 12 + std::sin(radians)});
  EXPECT_NEAR(step.x, 5, 1e-9);
  EXPECT_NEAR(step.y, 3, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Quarters, WrapperRotationTest,
                         testing::Values(TurnCase{0, 0}, TurnCase{90, 90}, TurnCase{180, 180}, TurnCase{270, 270},
                                         TurnCase{-90, 270}, TurnCase{450, 90}, TurnCase{30, KIP_ALIGNMENT_GENERAL}));

TEST(WrapperRotation, ScaleShrinksTheSampledRectangle) {
  const affineSampleParams params = kip::rotationParams({0, 0}, 0, 2.0, {10, 4});
  EXPECT_DOUBLE_EQ(params.affineRect.e0, 5);  // 10 output pels span 5 source pels
  EXPECT_DOUBLE_EQ(params.affineRect.e3, 2);
  EXPECT_DOUBLE_EQ(params.affineRect.tx, -2.5);
  EXPECT_DOUBLE_EQ(params.affineRect.ty, -1);
}

TEST(WrapperRotation, BoundsHoldTheTurnedPicture) {
  EXPECT_EQ(kip::rotatedBounds({100, 50}, 90, 1).width, 50);
  EXPECT_EQ(kip::rotatedBounds({100, 50}, 90, 1).height, 100);
  EXPECT_EQ(kip::rotatedBounds({100, 50}, 180, 0.5).width, 50);
  EXPECT_EQ(kip::rotatedBounds({10, 10}, 45, 1).width, 15);  // 14.14 rounds up
  EXPECT_EQ(kip::rotatedBounds({3, 3}, 0, 0.01).height, 1);
  EXPECT_THROW(kip::rotatedBounds({10, 10}, 10, NAN), kip::Error);
}

struct InteriorCase {
  int32_t width, height;
  double degrees, scale;
  kip::Mode mode;
};

class WrapperInteriorTest : public testing::TestWithParam<InteriorCase> {};

// The interior stays inside the source, and is not far from the largest that does.
TEST_P(WrapperInteriorTest, StaysInsideAndIsNearlyTheLargest) {
  const InteriorCase& c = GetParam();
  const kip::Image source(1, c.width, c.height);
  const kip::Size size = kip::rotatedInterior(source, c.degrees, c.scale, c.mode);
  const kip::Point centre{c.width / 2.0, c.height / 2.0};
  EXPECT_FALSE(clips(source, kip::rotationParams(centre, c.degrees, c.scale, size, c.mode)));
  EXPECT_TRUE(clips(source, kip::rotationParams(centre, c.degrees, c.scale, {size.width + 4, size.height + 4}, c.mode)));
}

INSTANTIATE_TEST_SUITE_P(Turns, WrapperInteriorTest,
                         testing::Values(InteriorCase{64, 48, 0, 1, kip::Mode::bilinear},
                                         InteriorCase{64, 48, 90, 1, kip::Mode::cubic2},
                                         InteriorCase{64, 48, 30, 1, kip::Mode::bilinear},
                                         InteriorCase{64, 48, 30, 2, kip::Mode::cubic2},
                                         InteriorCase{200, 20, 45, 1, kip::Mode::nearest},
                                         InteriorCase{50, 50, -135, 0.5, kip::Mode::linear2}));

TEST(WrapperRotation, NoInteriorInATinySource) {
  const kip::Image source(1, 3, 3);
  try {
    kip::rotatedInterior(source, 30, 1, kip::Mode::cubic2);
    FAIL() << "no error";
  } catch (const kip::Error& error) {
    EXPECT_EQ(error.status(), KIP_ERR_NO_SAMPLES);
  }
}

// A smooth 8- or 16-bit picture whose values change by a few levels a pel.
kip::Image smooth(int32_t pelSize, int32_t width, int32_t height) {
  kip::Image image(pelSize, width, height);
  const double top = pelSize == 1 ? 255 : 65535;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const double v = top * (0.5 + 0.3 * std::sin(0.11 * x + 0.05 * y) + 0.15 * std::cos(0.07 * y));
      if (pelSize == 1) image.at<uint8_t>(x, y) = static_cast<uint8_t>(std::lround(v));
      else image.at<uint16_t>(x, y) = static_cast<uint16_t>(std::lround(v));
    }
  }
  return image;
}

uint32_t pel(const kip::Image& image, int32_t x, int32_t y) {
  return image.pelSize() == 1 ? image.at<uint8_t>(x, y) : image.at<uint16_t>(x, y);
}

class WrapperTransformTest : public testing::TestWithParam<int32_t> {};

// A rectangle on whole pels at one sample a pel is a copy of the pels under it, in any mode.
TEST_P(WrapperTransformTest, WholePelRectangleCopiesThePels) {
  const kip::Image source = smooth(GetParam(), 20, 16);
  for (const kip::Mode mode : {kip::Mode::nearest, kip::Mode::bilinear, kip::Mode::cubic2}) {
    const kip::Image result = kip::transform(source, kip::sampleParams({5, 3}, {12, 3}, {5, 9}, {7, 6}, mode));
    ASSERT_EQ(result.pelSize(), GetParam());
    ASSERT_EQ(result.width(), 7);
    ASSERT_EQ(result.height(), 6);
    for (int32_t y = 0; y < 6; ++y)
      for (int32_t x = 0; x < 7; ++x) EXPECT_EQ(pel(result, x, y), pel(source, x + 5, y + 3));
  }
}

// A quarter turn by rotationParams is the aligned path's code 90, through the general entry.
TEST_P(WrapperTransformTest, QuarterTurnAgreesWithTheTurnTable) {
  const kip::Image source = smooth(GetParam(), 12, 8);
  const kip::Image turned = kip::transform(source, kip::rotationParams({6, 4}, 90, 1, {8, 12}, kip::Mode::bilinear));
  const kip::Image expected = kip::turn(source, 90);
  for (int32_t y = 0; y < 12; ++y)
    for (int32_t x = 0; x < 8; ++x) EXPECT_EQ(pel(turned, x, y), pel(expected, x, y));
}

// A sampling between pel centres interpolates: half a pel right of a centre is the mean of two.
TEST_P(WrapperTransformTest, BilinearHalfwayIsTheMean) {
  const kip::Image source = smooth(GetParam(), 16, 8);
  const kip::Image result = kip::transform(source, kip::sampleParams({3.5, 2}, {9.5, 2}, {3.5, 6}, {6, 4}));
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 6; ++x) {
      const double mean = (pel(source, x + 3, y + 2) + pel(source, x + 4, y + 2)) / 2.0;
      EXPECT_NEAR(pel(result, x, y), mean, 1.0) << x << "," << y;
    }
  }
}

// Into a wrapped buffer of the result's size: written in place, nothing around it touched.
TEST_P(WrapperTransformTest, IntoCallersPelsInPlace) {
  const kip::Image source = smooth(GetParam(), 20, 16);
  const affineSampleParams params = kip::rotationParams({10, 8}, 30, 1.5, {9, 7}, kip::Mode::cubic2);
  const kip::Image expected = kip::transform(source, params);
  std::vector<uint16_t> pels(10 * 7, 7);  // rows of 10 pels; the 10th stays 7
  kip::Image into = GetParam() == 2 ? kip::Image::wrap(pels.data(), 9, 7, 10)
                                    : kip::Image::wrap(reinterpret_cast<uint8_t*>(pels.data()), 9, 7, 20);
  kip::SampleCache cache;
  kip::transformInto(source, into, params, &cache);
  kip::transformInto(source, into, params, &cache);  // the cached set-up gives the same pels
  EXPECT_EQ(into.get()->firstPel, pels.data());
  for (int32_t y = 0; y < 7; ++y)
    for (int32_t x = 0; x < 9; ++x) EXPECT_EQ(pel(into, x, y), pel(expected, x, y));
  if (GetParam() == 2) EXPECT_EQ(pels[10 * 3 + 9], 7);
}

// Half the rectangle leaves the source: there the result is 0 and the mask 0; inside it is the
// unclipped sampling and the mask 255. A rectangle inside gives a full mask and no clip.
TEST_P(WrapperTransformTest, ClippedResultAndMask) {
  const kip::Image source = smooth(GetParam(), 16, 12);
  const kip::ClippedImage half = kip::transformClipped(source, kip::sampleParams({8, 2}, {24, 2}, {8, 10}, {16, 8}));
  EXPECT_TRUE(half.clipped);
  const kip::Image inside = kip::transform(source, kip::sampleParams({8, 2}, {16, 2}, {8, 10}, {8, 8}));
  for (int32_t y = 0; y < 8; ++y) {
    for (int32_t x = 0; x < 16; ++x) {
      EXPECT_EQ(half.mask.at<uint8_t>(x, y), x < 8 ? 255 : 0);
      EXPECT_EQ(pel(half.image, x, y), x < 8 ? pel(inside, x, y) : 0u);
    }
  }
  std::vector<uint8_t> maskPels(8 * 8, 1);
  kip::Image result, mask = kip::Image::wrap(maskPels.data(), 8, 8, 8);
  EXPECT_FALSE(kip::transformClippedInto(source, result, mask, kip::sampleParams({8, 2}, {16, 2}, {8, 10}, {8, 8})));
  EXPECT_EQ(std::count(maskPels.begin(), maskPels.end(), 255), 64);
  EXPECT_EQ(kip::transformClipped(source, kip::sampleParams({1, 1}, {3, 1}, {1, 3}, {2, 2})).mask.at<uint8_t>(1, 1), 255);
}

INSTANTIATE_TEST_SUITE_P(Depths, WrapperTransformTest, testing::Values(1, 2),
                         [](const testing::TestParamInfo<int32_t>& info) { return info.param == 1 ? "u8" : "u16"; });

struct TransformRefusal {
  const char* name;
  int32_t status;
  kmath_shapeAffineRect rect;
  kip::Size size;
  int32_t sourcePelSize;
};

class WrapperTransformRefusalTest : public testing::TestWithParam<TransformRefusal> {};

TEST_P(WrapperTransformRefusalTest, ThrowsTheStatus) {
  const TransformRefusal& c = GetParam();
  const kip::Image source(c.sourcePelSize, 10, 10);
  const affineSampleParams params = kip::sampleParams(c.rect, c.size);
  try {
    kip::transform(source, params);
    FAIL() << "no error";
  } catch (const kip::Error& error) {
    EXPECT_EQ(error.status(), c.status) << error.what();
  }
  if (c.status != KIP_ERR_TRANSFORM_CLIPS) EXPECT_THROW(kip::transformClipped(source, params), kip::Error);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, WrapperTransformRefusalTest,
    testing::Values(TransformRefusal{"leaves", KIP_ERR_TRANSFORM_CLIPS, {5, 5, 10, 0, 0, 10}, {4, 4}, 1},
                    TransformRefusal{"noSamples", KIP_ERR_NO_SAMPLES, {0, 0, 5, 0, 0, 5}, {0, 4}, 2},
                    TransformRefusal{"notFinite", KIP_ERR_NOT_FINITE, {NAN, 0, 5, 0, 0, 5}, {4, 4}, 1},
                    TransformRefusal{"wide", KIP_ERR_PEL_SIZE, {0, 0, 5, 0, 0, 5}, {4, 4}, 4}),
    [](const testing::TestParamInfo<TransformRefusal>& info) { return std::string(info.param.name); });

TEST(WrapperTransform, NoOverlapIsRefusedEvenClipped) {
  const kip::Image source(1, 10, 10);
  try {
    kip::transformClipped(source, kip::sampleParams({20, 20}, {30, 20}, {20, 30}, {4, 4}));
    FAIL() << "no error";
  } catch (const kip::Error& error) {
    EXPECT_EQ(error.status(), KIP_ERR_TRANSFORM_NO_OVERLAP);
  }
}

class WrapperProjectTest : public testing::TestWithParam<int32_t> {};

// Column sums of the source's pels under a whole-pel rectangle.
std::vector<uint32_t> columnSumsOf(const kip::Image& source, int32_t x0, int32_t y0, int32_t width, int32_t height) {
  std::vector<uint32_t> sums(width, 0);
  for (int32_t y = y0; y < y0 + height; ++y)
    for (int32_t x = 0; x < width; ++x) sums[x] += pel(source, x0 + x, y);
  return sums;
}

// A whole-pel rectangle sums exactly the pels under it, whatever the mode.
TEST_P(WrapperProjectTest, WholePelRectangleSumsThePels) {
  const kip::Image source = smooth(GetParam(), 20, 16);
  for (const kip::Mode mode : {kip::Mode::nearest, kip::Mode::bilinear}) {
    const kip::Profile profile = kip::project(source, kip::sampleParams({5, 3}, {12, 3}, {5, 9}, {7, 6}, mode));
    EXPECT_EQ(profile.sampleCount, 6u);
    EXPECT_EQ(profile.sums, columnSumsOf(source, 5, 3, 7, 6));
  }
}

// The right half of the rectangle lies outside: its entries are 0 with no coverage, the left half
// is the plain projection with full coverage; the means skip the outside.
TEST_P(WrapperProjectTest, ClippedSumsCoverageAndMeans) {
  const kip::Image source = smooth(GetParam(), 20, 16);
  const affineSampleParams half = kip::sampleParams({12, 3}, {28, 3}, {12, 9}, {16, 6}, kip::Mode::nearest);
  kip::SampleCache cache;
  const kip::ClippedProfile clipped = kip::projectClipped(source, half, 2, &cache);
  EXPECT_TRUE(clipped.clipped);
  EXPECT_EQ(clipped.sampleCount, 12u);  // six samples of value 2
  const std::vector<uint32_t> inside = columnSumsOf(source, 12, 3, 8, 6);
  const kip::NormProfile norm = kip::projectNorm(source, half, true, &cache);
  EXPECT_EQ(norm.range.validStart, 0u);
  EXPECT_EQ(norm.range.validEnd, 8u);
  const std::vector<double> means = norm.means();
  for (size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(clipped.sums[i], i < 8 ? inside[i] : 0u);
    EXPECT_EQ(clipped.coverage[i], i < 8 ? 12u : 0u);
    if (i < 8) EXPECT_NEAR(means[i], inside[i] / 6.0, 0.5);
    else EXPECT_TRUE(std::isnan(means[i]));
  }

  const affineSampleParams within = kip::sampleParams({2, 3}, {10, 3}, {2, 9}, {8, 6}, kip::Mode::bilinear);
  const kip::ClippedProfile whole = kip::projectClipped(source, within);
  EXPECT_FALSE(whole.clipped);
  EXPECT_EQ(whole.sums, kip::project(source, within).sums);
  EXPECT_EQ(whole.coverage, std::vector<uint32_t>(8, 255 * 6));
  const kip::NormProfile plain = kip::projectNorm(source, within);
  EXPECT_EQ(plain.range.sampleCount, 6u);
  EXPECT_DOUBLE_EQ(plain.means()[3], whole.sums[3] / 6.0);
}

INSTANTIATE_TEST_SUITE_P(Depths, WrapperProjectTest, testing::Values(1, 2),
                         [](const testing::TestParamInfo<int32_t>& info) { return info.param == 1 ? "u8" : "u16"; });

TEST(WrapperProject, RefusalsThrowTheStatus) {
  const kip::Image wide(2, 10, 10), narrow(1, 10, 10);
  const auto statusOf = [](auto call) {
    try {
      call();
    } catch (const kip::Error& error) {
      return error.status();
    }
    return int32_t{0};
  };
  const affineSampleParams cubic = kip::sampleParams({3, 3}, {7, 3}, {3, 7}, {3, 3}, kip::Mode::cubic2);
  EXPECT_EQ(statusOf([&] { kip::project(wide, cubic); }), KIP_ERR_MODE_UNSUPPORTED);
  EXPECT_EQ(statusOf([&] { kip::projectNorm(wide, cubic, true); }), KIP_ERR_MODE_UNSUPPORTED);
  const affineSampleParams outside = kip::sampleParams({5, 5}, {15, 5}, {5, 15}, {4, 4});
  EXPECT_EQ(statusOf([&] { kip::project(narrow, outside); }), KIP_ERR_PROJECT_CLIPS);
  const affineSampleParams empty = kip::sampleParams({0, 0}, {8, 0}, {0, 8}, {0, 4});
  EXPECT_EQ(statusOf([&] { kip::projectClipped(narrow, empty); }), KIP_ERR_NO_SAMPLES);
  uint32_t sums[4];
  EXPECT_EQ(statusOf([&] { kip::projectInto(kip::Image(), cubic, sums); }), KIP_ERR_NOT_BOUND);
}

TEST(WrapperSums, RowsAndColumnsOfAStridedImage) {
  // 3 x 2 pels (1 2 3 / 4 5 6) in rows of 5.
  const uint8_t pels[] = {1, 2, 3, 99, 99, 4, 5, 6, 99, 99};
  const kip::Image image = kip::Image::wrap(pels, 3, 2, 5);
  EXPECT_EQ(kip::rowSums(image), (std::vector<uint32_t>{6, 15}));
  EXPECT_EQ(kip::columnSums(image), (std::vector<uint32_t>{5, 7, 9}));
  uint32_t sums[3] = {};
  EXPECT_EQ(kip::columnSumsInto(image, sums), 2u);
  EXPECT_EQ(sums[2], 9u);
}

TEST(WrapperSums, SixteenBitImagesAreRefused) {
  const kip::Image image(2, 4, 4);
  try {
    kip::rowSums(image);
    FAIL() << "no error";
  } catch (const kip::Error& error) {
    EXPECT_EQ(error.status(), KIP_ERR_PEL_SIZE);
  }
}

class WrapperTurnTest : public testing::TestWithParam<uint32_t> {};

// Every code against the table of kip.h, in both depths.
TEST_P(WrapperTurnTest, MatchesTheTable) {
  const uint32_t code = GetParam();
  for (const int32_t pelSize : {1, 2}) {
    const kip::Image source = pelSize == 1 ? ramp<uint8_t>(4, 3) : ramp<uint16_t>(4, 3);
    const kip::Image result = kip::turn(source, code);
    const int32_t w = 4, h = 3;
    ASSERT_EQ(result.width(), kip::turnTransposes(code) ? h : w);
    for (int32_t i = 0; i < result.height(); ++i) {
      for (int32_t j = 0; j < result.width(); ++j) {
        int32_t row = i, column = j;
        switch (code) {
          case 1: row = j, column = i; break;
          case 90: row = j, column = w - 1 - i; break;
          case 91: row = i, column = w - 1 - j; break;
          case 180: row = h - 1 - i, column = w - 1 - j; break;
          case 181: row = h - 1 - j, column = w - 1 - i; break;
          case 270: row = h - 1 - j, column = i; break;
          case 271: row = h - 1 - i, column = j; break;
        }
        const uint32_t got = pelSize == 1 ? result.at<uint8_t>(j, i) : result.at<uint16_t>(j, i);
        EXPECT_EQ(got, uint32_t(1 + column + w * row)) << "code " << code << " at " << j << "," << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Codes, WrapperTurnTest, testing::Values(0u, 1u, 90u, 91u, 180u, 181u, 270u, 271u));

TEST(WrapperTurn, RefusesWrongSizesAndDepths) {
  const kip::Image source = ramp<uint8_t>(4, 3);
  kip::Image same(1, 4, 3);
  try {
    kip::turnInto(source, same, 90);
    FAIL() << "no error";
  } catch (const kip::Error& error) {
    EXPECT_EQ(error.status(), KIP_ERR_SIZE_MISMATCH);
  }
  EXPECT_THROW(kip::turn(kip::Image(4, 2, 2), 0), kip::Error);
  EXPECT_THROW(kip::turn(kip::Image(), 0), kip::Error);
}

}  // namespace
