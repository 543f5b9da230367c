// The C++ wrapper kip.hpp: image ownership and wrapping, errors, the geometry helpers and the
// result-returning functions, checked against the C ABI they stand on. The Python module's tests
// compare the same wrapper calls (rectangles of every orientation) with float64 references.
#include <kip/kip.hpp>

#include "support/turns.hpp"

#include <gtest/gtest.h>

#include <algorithm>
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
  EXPECT_NEAR(got.x, expected.x, 1e-9);
  EXPECT_NEAR(got.y, expected.y, 1e-9);
}

// A smooth 8- or 16-bit picture whose values change by a few levels a pel.
kip::Image smooth(int32_t pelSize, int32_t width, int32_t height) {
  kip::Image image(pelSize, width, height);
  const double top = pelSize == 1 ? 255 : 65535;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const long v = std::lround(top * (0.5 + 0.3 * std::sin(0.11 * x + 0.05 * y) + 0.15 * std::cos(0.07 * y)));
      if (pelSize == 1) image.at<uint8_t>(x, y) = static_cast<uint8_t>(v);
      else image.at<uint16_t>(x, y) = static_cast<uint16_t>(v);
    }
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
  kip::SampleCache cache;
  affineSampleCache* const handle = *cache.handle();
  kip::SampleCache other(std::move(cache));
  EXPECT_TRUE(*cache.handle() == nullptr && *other.handle() == handle);

  std::vector<uint8_t> pels(4 * 3, 0);
  {
    kip::Image wrapped = kip::Image::wrap(pels.data(), 3, 3, 4);
    EXPECT_TRUE(wrapped.get()->firstPel == pels.data() && wrapped.stride() == 4);
    wrapped.at<uint8_t>(2, 1) = 9;
  }
  EXPECT_EQ(pels[4 + 2], 9);  // the wrapper wrote through, and its end left the pels alone
  const std::vector<uint16_t> fixed(6, 3);
  const kip::Image view = kip::Image::wrap(fixed.data(), 3, 2, 3);
  EXPECT_TRUE(view.pelSize() == 2 && view.at<uint16_t>(2, 1) == 3);
}

struct TurnCase {
  double degrees, scale;
  uint32_t code;  // the alignment at scale 1
};

class WrapperRotationTest : public testing::TestWithParam<TurnCase> {};

// Quarter turns at scale 1 about a pel-grid point are the exact turns of the aligned path, in the
// same sense (code 90 is counter-clockwise as displayed); the centre stays in the middle, and one
// source pel along (cos, sin) is `scale` output pels to the right.
TEST_P(WrapperRotationTest, QuarterTurnsAreAlignedAndCentred) {
  const auto [degrees, scale, code] = GetParam();
  const affineSampleParams params = kip::rotationParams({20, 12}, degrees, scale, {8, 6});
  if (scale == 1) {
    const kmath_xformLinear identity{0, 0, 1, 0, 0, 1};
    uint32_t alignment = 0;
    EXPECT_EQ(kip_affine_imageAlignment_compute(&params, &identity, &alignment, nullptr), 0);
    EXPECT_EQ(alignment, code);
  }
  expectNear(destinationOf(params, {20, 12}), {4, 3});
  const double radians = degrees * M_PI / 180;
  expectNear(destinationOf(params, {20 + std::cos(radians), 12 + std::sin(radians)}), {4 + scale, 3});
}

INSTANTIATE_TEST_SUITE_P(Quarters, WrapperRotationTest,
                         testing::Values(TurnCase{0, 1, 0}, TurnCase{90, 1, 90}, TurnCase{180, 1, 180},
                                         TurnCase{270, 1, 270}, TurnCase{-90, 1, 270}, TurnCase{450, 1, 90},
                                         TurnCase{30, 1, KIP_ALIGNMENT_GENERAL}, TurnCase{0, 2, 0},
                                         TurnCase{-40, 0.5, 0}));

TEST(WrapperRotation, BoundsHoldTheTurnedPicture) {
  EXPECT_EQ(kip::rotatedBounds({100, 50}, 90, 1).width, 50);
  EXPECT_EQ(kip::rotatedBounds({100, 50}, 90, 1).height, 100);
  EXPECT_EQ(kip::rotatedBounds({100, 50}, 180, 0.5).width, 50);
  EXPECT_EQ(kip::rotatedBounds({10, 10}, 45, 1).width, 15);  // 14.14 rounds up
  EXPECT_EQ(kip::rotatedBounds({3, 3}, 0, 0.01).height, 1);
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
  const auto clips = [&](kip::Size at) {
    const kip::Point centre{c.width / 2.0, c.height / 2.0};
    const affineSampleParams params = kip::rotationParams(centre, c.degrees, c.scale, at, c.mode);
    uint32_t willClip = 0;
    EXPECT_EQ(kip_affineSampleParams_getWillClip(&params, source.get(), &willClip), 0);
    return willClip != 0;
  };
  EXPECT_FALSE(clips(size));
  EXPECT_TRUE(clips({size.width + 4, size.height + 4}));
}

INSTANTIATE_TEST_SUITE_P(Turns, WrapperInteriorTest,
                         testing::Values(InteriorCase{64, 48, 90, 1, kip::Mode::cubic2},
                                         InteriorCase{64, 48, 30, 2, kip::Mode::cubic2},
                                         InteriorCase{200, 20, 45, 1, kip::Mode::nearest},
                                         InteriorCase{50, 50, -135, 0.5, kip::Mode::linear2}));

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
    for (int32_t y = 0; y < 6; ++y) {
      for (int32_t x = 0; x < 7; ++x) {
        EXPECT_EQ(pel(result, x, y), pel(source, x + 5, y + 3));
        sums[x] += pel(source, x + 5, y + 3);
      }
    }
    if (mode == kip::Mode::cubic2) continue;  // 16-bit projections take nearest and bilinear only
    const kip::Profile profile = kip::project(source, params);
    EXPECT_EQ(profile.sampleCount, 6u);
    EXPECT_EQ(profile.sums, sums);
  }
}

// A quarter turn by rotationParams is the aligned path's code 90, through the general entry; into a
// wrapped buffer of the result's size it is written in place, nothing around it touched, and the
// cached set-up gives the same pels again.
TEST_P(WrapperDepthTest, QuarterTurnAndWritingIntoCallersPels) {
  const kip::Image source = smooth(GetParam(), 20, 16);
  const kip::Image turned = kip::transform(source, kip::rotationParams({10, 8}, 90, 1, {16, 20}, kip::Mode::bilinear));
  const kip::Image expected = kip::turn(source, 90);
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 16; ++x) ASSERT_EQ(pel(turned, x, y), pel(expected, x, y));

  const affineSampleParams params = kip::rotationParams({10, 8}, 30, 1.5, {9, 7}, kip::Mode::cubic2);
  const kip::Image reference = kip::transform(source, params);
  std::vector<uint16_t> pels(10 * 7, 7);  // rows of 10 pels; the 10th stays 7
  kip::Image into = GetParam() == 2 ? kip::Image::wrap(pels.data(), 9, 7, 10)
                                    : kip::Image::wrap(reinterpret_cast<uint8_t*>(pels.data()), 9, 7, 20);
  kip::SampleCache cache;
  kip::transformInto(source, into, params, &cache);
  kip::transformInto(source, into, params, &cache);
  EXPECT_EQ(into.get()->firstPel, pels.data());
  for (int32_t y = 0; y < 7; ++y)
    for (int32_t x = 0; x < 9; ++x) EXPECT_EQ(pel(into, x, y), pel(reference, x, y));
  if (GetParam() == 2) EXPECT_EQ(pels[10 * 3 + 9], 7);
}

// Half the rectangle leaves the source: there the result is 0 and the mask 0; inside it is the
// unclipped sampling and the mask 255. A rectangle inside gives a full mask and no clip.
TEST_P(WrapperDepthTest, ClippedTransformAndMask) {
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
  const kip::ClippedImage small = kip::transformClipped(source, kip::sampleParams({1, 1}, {3, 1}, {1, 3}, {2, 2}));
  EXPECT_EQ(small.mask.at<uint8_t>(1, 1), 255);
}

// The right half of the rectangle lies outside: its entries are 0 with no coverage, the left half
// is the plain projection with full coverage; the means skip the outside.
TEST_P(WrapperDepthTest, ClippedSumsCoverageAndMeans) {
  const kip::Image source = smooth(GetParam(), 20, 16);
  const affineSampleParams half = kip::sampleParams({12, 3}, {28, 3}, {12, 9}, {16, 6}, kip::Mode::nearest);
  kip::SampleCache cache;
  const kip::ClippedProfile clipped = kip::projectClipped(source, half, 2, &cache);
  EXPECT_TRUE(clipped.clipped);
  EXPECT_EQ(clipped.sampleCount, 12u);  // six samples of value 2
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

  const affineSampleParams within = kip::sampleParams({2, 3}, {10, 3}, {2, 9}, {8, 6}, kip::Mode::bilinear);
  const kip::ClippedProfile whole = kip::projectClipped(source, within);
  EXPECT_FALSE(whole.clipped);
  EXPECT_EQ(whole.sums, kip::project(source, within).sums);
  EXPECT_EQ(whole.coverage, std::vector<uint32_t>(8, 255 * 6));
  const kip::NormProfile plain = kip::projectNorm(source, within);
  EXPECT_EQ(plain.range.sampleCount, 6u);
  EXPECT_DOUBLE_EQ(plain.means()[3], whole.sums[3] / 6.0);
}

// Every code against the hand-worked table, with the source's values telling where each pel came from.
TEST_P(WrapperDepthTest, TurnsMatchTheTable) {
  const int32_t w = 4, h = 3;
  kip::Image source(GetParam(), w, h);
  for (int32_t i = 0; i < w * h; ++i) {
    if (GetParam() == 1) source.at<uint8_t>(i % w, i / w) = uint8_t(1 + i);
    else source.at<uint16_t>(i % w, i / w) = uint16_t(1001 + i);
  }
  for (const uint32_t code : {0u, 1u, 90u, 91u, 180u, 181u, 270u, 271u}) {
    const kip::Image result = kip::turn(source, code);
    ASSERT_EQ(result.width(), kip::turnTransposes(code) ? h : w);
    for (int32_t i = 0; i < result.height(); ++i) {
      for (int32_t j = 0; j < result.width(); ++j) {
        const auto [row, column] = kiptest::turnSourceOf(code, i, j, w, h);
        EXPECT_EQ(pel(result, j, i), pel(source, column, row)) << "code " << code << " at " << j << "," << i;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, WrapperDepthTest, testing::Values(1, 2),
                         [](const testing::TestParamInfo<int32_t>& info) { return info.param == 1 ? "u8" : "u16"; });

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

// Every refusal throws kip::Error carrying the status of the C call or of the wrapper's own check.
TEST(WrapperRefusals, ThrowTheStatus) {
  const kip::Image narrow(1, 10, 10), wide(2, 10, 10), widest(4, 10, 10), unbound;
  std::vector<uint8_t> pels(16);
  const affineSampleParams cubic = kip::sampleParams({3, 3}, {7, 3}, {3, 7}, {3, 3}, kip::Mode::cubic2);
  const affineSampleParams leaves = kip::sampleParams({5, 5}, {15, 5}, {5, 15}, {4, 4});
  const affineSampleParams apart = kip::sampleParams({20, 20}, {30, 20}, {20, 30}, {4, 4});
  const affineSampleParams empty = kip::sampleParams({0, 0}, {5, 0}, {0, 5}, {0, 4});
  const affineSampleParams notFinite = kip::sampleParams(kmath_shapeAffineRect{NAN, 0, 5, 0, 0, 5}, {4, 4});
  const affineSampleParams inside = kip::sampleParams({0, 0}, {5, 0}, {0, 5}, {4, 4});
  uint32_t sums[4];
  kip::Image sameSize(1, 4, 3);
  const struct {
    const char* what;
    std::function<void()> call;
    int32_t status;
  } cases[] = {
      {"wrap below the width", [&] { kip::Image::wrap(pels.data(), 4, 4, 3); }, KIP_ERR_BAD_SIZE},
      {"three-byte pels", [] { kip::Image(3, 2, 2); }, KIP_ERR_PEL_SIZE},
      {"window of nothing", [&] { unbound.window(); }, KIP_ERR_NOT_BOUND},
      {"bounds of NaN", [] { kip::rotatedBounds({10, 10}, 10, NAN); }, KIP_ERR_NOT_FINITE},
      {"tiny interior", [] { kip::rotatedInterior(kip::Image(1, 3, 3), 30, 1, kip::Mode::cubic2); },
       KIP_ERR_NO_SAMPLES},
      {"transform leaves", [&] { kip::transform(narrow, leaves); }, KIP_ERR_TRANSFORM_CLIPS},
      {"transform empty", [&] { kip::transform(wide, empty); }, KIP_ERR_NO_SAMPLES},
      {"clipped empty", [&] { kip::transformClipped(wide, empty); }, KIP_ERR_NO_SAMPLES},
      {"transform NaN", [&] { kip::transform(narrow, notFinite); }, KIP_ERR_NOT_FINITE},
      {"clipped NaN", [&] { kip::transformClipped(narrow, notFinite); }, KIP_ERR_NOT_FINITE},
      {"transform wide", [&] { kip::transform(widest, inside); }, KIP_ERR_PEL_SIZE},
      {"clipped wide", [&] { kip::transformClipped(widest, inside); }, KIP_ERR_PEL_SIZE},
      {"clipped apart", [&] { kip::transformClipped(narrow, apart); }, KIP_ERR_TRANSFORM_NO_OVERLAP},
      {"project cubic 16", [&] { kip::project(wide, cubic); }, KIP_ERR_MODE_UNSUPPORTED},
      {"norm cubic 16", [&] { kip::projectNorm(wide, cubic, true); }, KIP_ERR_MODE_UNSUPPORTED},
      {"project leaves", [&] { kip::project(narrow, leaves); }, KIP_ERR_PROJECT_CLIPS},
      {"project empty", [&] { kip::projectClipped(narrow, empty); }, KIP_ERR_NO_SAMPLES},
      {"project unbound", [&] { kip::projectInto(unbound, cubic, sums); }, KIP_ERR_NOT_BOUND},
      {"sums of 16 bits", [&] { kip::rowSums(wide); }, KIP_ERR_PEL_SIZE},
      {"turn into same size", [&] { kip::turnInto(kip::Image(1, 4, 3), sameSize, 90); }, KIP_ERR_SIZE_MISMATCH},
      {"turn 32 bits", [&] { kip::turn(widest, 0); }, KIP_ERR_PEL_SIZE},
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
