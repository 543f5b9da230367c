// The C++ wrapper kip.hpp: image ownership, errors, the geometry helpers and the result-returning
// functions, checked against the C ABI they stand on (the Python tests add float64 references).
#include <kip/kip.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {
// Where the destination transform of params puts a client point, in destination pels.
kip::Point destinationOf(const affineSampleParams& params, kip::Point p) {
  kmath_xformLinear m;
  EXPECT_EQ(kip_affineSampleParams_getDestImageFromClientXform(&params, 0, &m), 0);
  return {m.e0 * p.x + m.e1 * p.y + m.tx, m.e2 * p.x + m.e3 * p.y + m.ty};
}

void expectNear(kip::Point got, kip::Point expected) {
  EXPECT_TRUE(std::abs(got.x - expected.x) < 1e-9 && std::abs(got.y - expected.y) < 1e-9) << got.x << "," << got.y;
}

// A smooth 8- or 16-bit picture whose values change by a few levels a pel.
kip::Image smooth(int32_t pelSize, int32_t width, int32_t height) {
  kip::Image image(pelSize, width, height);
  for (int32_t i = 0, x = 0, y = 0; i < width * height; ++i, x = i % width, y = i / width) {
    const long v = std::lround((pelSize == 1 ? 255 : 65535) * (0.5 + 0.3 * std::sin(0.11 * x + 0.05 * y) + 0.15 * std::cos(0.07 * y)));
    pelSize == 1 ? void(image.at<uint8_t>(x, y) = uint8_t(v)) : void(image.at<uint16_t>(x, y) = uint16_t(v));
  }
  return image;
}

uint32_t pel(const kip::Image& image, int32_t x, int32_t y) {
  return image.pelSize() == 1 ? image.at<uint8_t>(x, y) : image.at<uint16_t>(x, y);
}

TEST(WrapperImage, OwnedZeroFilledMoveOnlyOrWrappingTheCallersPels) {
  kip::Image image(2, 5, 3);
  EXPECT_EQ(image.at<uint16_t>(4, 2), 0);
  image.at<uint16_t>(4, 2) = 700;
  kip::Image moved(std::move(image)), assigned;
  assigned = std::move(moved);
  EXPECT_FALSE(image.bound() || moved.bound());
  EXPECT_EQ(assigned.at<uint16_t>(4, 2), 700);
  std::vector<uint8_t> pels(4 * 3, 0);
  {
    kip::Image wrapped = kip::Image::wrap(pels.data(), 3, 3, 4);
    wrapped.at<uint8_t>(2, 1) = 9;
  }
  EXPECT_EQ(pels[4 + 2], 9);  // the wrapper wrote through, and its end left the pels alone
}

struct TurnCase { double degrees, scale; uint32_t code; };  // code: the alignment at scale 1

class WrapperRotationTest : public testing::TestWithParam<TurnCase> {};

// Quarter turns at scale 1 about a pel-grid point are the exact turns of the aligned path, in the
// same sense (code 90 is counter-clockwise as displayed); the centre stays in the middle, and one
// source pel along (cos, sin) is `scale` output pels to the right.
TEST_P(WrapperRotationTest, QuarterTurnsAreAlignedAndCentred) {
  const auto [degrees, scale, code] = GetParam();
  const affineSampleParams params = kip::rotationParams({20, 12}, degrees, scale, {8, 6});
  const kmath_xformLinear identity{0, 0, 1, 0, 0, 1};
  uint32_t alignment = 0;
  EXPECT_EQ(kip_affine_imageAlignment_compute(&params, &identity, &alignment, nullptr), 0);
  if (scale == 1) EXPECT_EQ(alignment, code);
  expectNear(destinationOf(params, {20, 12}), {4, 3});
  expectNear(destinationOf(params, {20 + std::cos(degrees * M_PI / 180), 12 + std::sin(degrees * M_PI / 180)}),
             {4 + scale, 3});
}

INSTANTIATE_TEST_SUITE_P(Quarters, WrapperRotationTest,
                         testing::Values(TurnCase{90, 1, 90}, TurnCase{180, 1, 180}, TurnCase{-90, 1, 270},
                                         TurnCase{30, 1, KIP_ALIGNMENT_GENERAL}, TurnCase{-40, 0.5, 0}));

TEST(WrapperRotation, BoundsHoldTheTurnedPicture) {
  EXPECT_EQ(kip::rotatedBounds({100, 50}, 30, 1).height, 94);  // 100 sin + 50 cos = 93.3 rounds up
  EXPECT_EQ(kip::rotatedBounds({3, 3}, 0, 0.01).height, 1);
}

// The interior stays inside the source, and is not far from the largest that does.
TEST(WrapperRotation, InteriorStaysInsideAndIsNearlyTheLargest) {
  for (const auto [width, height, degrees, scale, mode] :
       {std::tuple{64, 48, 30.0, 2.0, kip::Mode::cubic2}, {200, 20, 45.0, 1.0, kip::Mode::nearest}}) {
    const kip::Image source(1, width, height);
    const kip::Size size = kip::rotatedInterior(source, degrees, scale, mode);
    const auto clips = [&](kip::Size at) {
      const affineSampleParams params = kip::rotationParams({width / 2.0, height / 2.0}, degrees, scale, at, mode);
      uint32_t willClip = 0;
      EXPECT_EQ(kip_affineSampleParams_getWillClip(&params, source.get(), &willClip), 0);
      return willClip != 0;
    };
    EXPECT_TRUE(!clips(size) && clips({size.width + 4, size.height + 4})) << degrees;
  }
}

class WrapperDepthTest : public testing::TestWithParam<int32_t> {};

// A rectangle on whole pels at one sample a pel is a copy of the pels under it, in any mode, and
// sums exactly the pels under it.
TEST_P(WrapperDepthTest, WholePelRectangleCopiesAndSumsThePels) {
  const kip::Image source = smooth(GetParam(), 20, 16);
  for (const kip::Mode mode : {kip::Mode::nearest, kip::Mode::bilinear, kip::Mode::cubic2}) {
    const affineSampleParams params = kip::sampleParams({5, 3}, {12, 3}, {5, 9}, {7, 6}, mode);
    const kip::Image result = kip::transform(source, params);
    ASSERT_TRUE(result.pelSize() == GetParam() && result.width() == 7 && result.height() == 6);
    std::vector<uint32_t> sums(7, 0);
    for (int32_t i = 0; i < 7 * 6; ++i) {
      EXPECT_EQ(pel(result, i % 7, i / 7), pel(source, i % 7 + 5, i / 7 + 3));
      sums[i % 7] += pel(source, i % 7 + 5, i / 7 + 3);
    }
    if (mode == kip::Mode::cubic2) continue;  // 16-bit projections take nearest and bilinear only
    const kip::Profile profile = kip::project(source, params);
    EXPECT_EQ(profile.sampleCount, 6u);
    EXPECT_EQ(profile.sums, sums);
  }
}

// Half the rectangle leaves the source: there the result is 0 and the mask 0; inside it is the
// unclipped sampling and the mask 255.
TEST_P(WrapperDepthTest, ClippedTransformAndMask) {
  const kip::Image source = smooth(GetParam(), 16, 12);
  const kip::ClippedImage half = kip::transformClipped(source, kip::sampleParams({8, 2}, {24, 2}, {8, 10}, {16, 8}));
  const kip::Image inside = kip::transform(source, kip::sampleParams({8, 2}, {16, 2}, {8, 10}, {8, 8}));
  EXPECT_TRUE(half.clipped);
  for (int32_t i = 0, x = 0, y = 0; i < 16 * 8; ++i, x = i % 16, y = i / 16) {
    EXPECT_EQ(half.mask.at<uint8_t>(x, y), x < 8 ? 255 : 0);
    EXPECT_EQ(pel(half.image, x, y), x < 8 ? pel(inside, x, y) : 0u);
  }
}

// The right half of the rectangle lies outside: its entries are 0 with no coverage, the left half
// is the plain projection with full coverage; the means skip the outside.
TEST_P(WrapperDepthTest, ClippedSumsCoverageAndMeans) {
  const kip::Image source = smooth(GetParam(), 20, 16);
  const affineSampleParams half = kip::sampleParams({12, 3}, {28, 3}, {12, 9}, {16, 6}, kip::Mode::nearest);
  kip::SampleCache cache;
  const kip::ClippedProfile clipped = kip::projectClipped(source, half, 2, &cache);
  EXPECT_TRUE(clipped.clipped && clipped.sampleCount == 12u);  // six samples of value 2
  const std::vector<uint32_t> inside =
      kip::project(source, kip::sampleParams({12, 3}, {20, 3}, {12, 9}, {8, 6}, kip::Mode::nearest)).sums;
  const kip::NormProfile norm = kip::projectNorm(source, half, true, &cache);
  EXPECT_TRUE(norm.range.validStart == 0u && norm.range.validEnd == 8u);
  const std::vector<double> means = norm.means();
  for (size_t i = 0; i < 16; ++i) {
    EXPECT_EQ(clipped.sums[i], i < 8 ? inside[i] : 0u);
    EXPECT_EQ(clipped.coverage[i], i < 8 ? 12u : 0u);
    if (i < 8) EXPECT_NEAR(means[i], inside[i] / 6.0, 0.5);
    else EXPECT_TRUE(std::isnan(means[i]));
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, WrapperDepthTest, testing::Values(1, 2),
                         [](const testing::TestParamInfo<int32_t>& info) { return info.param == 1 ? "u8" : "u16"; });

TEST(WrapperSums, RowsAndColumnsOfAStridedImage) {
  const uint8_t pels[] = {1, 2, 3, 99, 99, 4, 5, 6, 99, 99};  // 3 x 2 pels (1 2 3 / 4 5 6) in rows of 5
  const kip::Image image = kip::Image::wrap(pels, 3, 2, 5);
  EXPECT_EQ(kip::rowSums(image), (std::vector<uint32_t>{6, 15}));
  EXPECT_EQ(kip::columnSums(image), (std::vector<uint32_t>{5, 7, 9}));
}

// Every refusal throws kip::Error carrying the status of the C call or of the wrapper's own check.
TEST(WrapperRefusals, ThrowTheStatus) {
  const kip::Image narrow(1, 10, 10), wide(2, 10, 10), widest(4, 10, 10), unbound;
  std::vector<uint8_t> pels(16);
  const affineSampleParams cubic = kip::sampleParams({3, 3}, {7, 3}, {3, 7}, {3, 3}, kip::Mode::cubic2);
  const affineSampleParams leaves = kip::sampleParams({5, 5}, {15, 5}, {5, 15}, {4, 4});
  const affineSampleParams apart = kip::sampleParams({20, 20}, {30, 20}, {20, 30}, {4, 4});
  const affineSampleParams empty = kip::sampleParams({0, 0}, {5, 0}, {0, 5}, {0, 4});
  const affineSampleParams notFinite = kip::sampleParams(kmath_shapeAffineRect{NAN, 0, 5, 0, 0, 5}, {4, 4});
  kip::Image sameSize(1, 4, 3);
  const struct { const char* what; std::function<void()> call; int32_t status; } cases[] = {
      {"wrap below the width", [&] { kip::Image::wrap(pels.data(), 4, 4, 3); }, KIP_ERR_BAD_SIZE},
      {"three-byte pels", [] { kip::Image(3, 2, 2); }, KIP_ERR_PEL_SIZE},
      {"window of nothing", [&] { unbound.window(); }, KIP_ERR_NOT_BOUND},
      {"bounds of NaN", [] { kip::rotatedBounds({10, 10}, 10, NAN); }, KIP_ERR_NOT_FINITE},
      {"tiny interior", [] { kip::rotatedInterior(kip::Image(1, 3, 3), 30, 1, kip::Mode::cubic2); }, KIP_ERR_NO_SAMPLES},
      {"transform leaves", [&] { kip::transform(narrow, leaves); }, KIP_ERR_TRANSFORM_CLIPS},
      {"transform empty", [&] { kip::transform(wide, empty); }, KIP_ERR_NO_SAMPLES},
      {"clipped NaN", [&] { kip::transformClipped(narrow, notFinite); }, KIP_ERR_NOT_FINITE},
      {"transform wide", [&] { kip::transform(widest, cubic); }, KIP_ERR_PEL_SIZE},
      {"clipped apart", [&] { kip::transformClipped(narrow, apart); }, KIP_ERR_TRANSFORM_NO_OVERLAP},
      {"project cubic 16", [&] { kip::project(wide, cubic); }, KIP_ERR_MODE_UNSUPPORTED},
      {"project leaves", [&] { kip::project(narrow, leaves); }, KIP_ERR_PROJECT_CLIPS},
      {"turn into same size", [&] { kip::turnInto(kip::Image(1, 4, 3), sameSize, 90); }, KIP_ERR_SIZE_MISMATCH},
  };
  for (const auto& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << c.what << ": no error";
    } catch (const kip::Error& error) {
      EXPECT_EQ(error.status(), c.status) << c.what << ": " << error.what();
      EXPECT_NE(std::string(error.what()).find(error.name()), std::string::npos) << error.what();
    }
  }
}

}  // namespace
