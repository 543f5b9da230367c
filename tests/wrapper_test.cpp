// The C++ wrapper kip.hpp: image ownership, errors, the geometry helpers and the result-returning
// functions, checked against the C ABI they stand on (the Python tests add float64 references).
#include <kip/kip.hpp>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {
// How far from `expected` the destination transform of params puts a client point, in destination pels.
double missBy(const affineSampleParams& params, kip::Point p, kip::Point expected) {
  kmath_xformLinear m{};  // left zero, and so caught, on a refusal
  kip_affineSampleParams_getDestImageFromClientXform(&params, 0, &m);
  return std::hypot(m.e0 * p.x + m.e1 * p.y + m.tx - expected.x, m.e2 * p.x + m.e3 * p.y + m.ty - expected.y);
}

// An 8- or 16-bit picture with distinct nearby values.
kip::Image picture(int32_t pelSize, int32_t width, int32_t height) {
  kip::Image image(pelSize, width, height);
  for (int32_t i = 0, x = 0, y = 0; i < width * height; ++i, x = i % width, y = i / width)
    pelSize == 1 ? void(image.at<uint8_t>(x, y) = uint8_t(i * 37 % 251)) : void(image.at<uint16_t>(x, y) = uint16_t(i * 3701 % 65521));
  return image;
}

uint32_t pel(const kip::Image& image, int32_t x, int32_t y) { return image.pelSize() == 1 ? image.at<uint8_t>(x, y) : image.at<uint16_t>(x, y); }

TEST(WrapperImage, OwnedZeroFilledMoveOnlyOrWrappingTheCallersPelsWithTheirSums) {
  kip::Image image(2, 5, 3);
  EXPECT_EQ(std::exchange(image.at<uint16_t>(4, 2), 700), 0);
  kip::Image moved(std::move(image)), assigned;
  assigned = std::move(moved);
  EXPECT_TRUE(!image.bound() && !moved.bound() && assigned.at<uint16_t>(4, 2) == 700);
  // Rows of 4 bytes, the last of each outside the 3 x 3 picture; the wrapper writes through.
  std::vector<uint8_t> pels{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  kip::Image wrapped = kip::Image::wrap(pels.data(), 3, 3, 4);
  EXPECT_TRUE((wrapped.at<uint8_t>(2, 1) = 9) && pels[6] == 9 && kip::rowSums(wrapped) == (std::vector<uint32_t>{3, 18, 27}) &&
              kip::columnSums(wrapped) == (std::vector<uint32_t>{12, 15, 21}));
}

// Quarter turns at scale 1 about a pel-grid point are the exact turns of the aligned path, in the
// same sense (code 90 is counter-clockwise as displayed); the centre stays in the middle, and one
// source pel along (cos, sin) is `scale` output pels to the right.
TEST(WrapperRotation, QuarterTurnsAreAlignedAndCentred) {
  for (const auto [degrees, scale, code] : {std::tuple{90.0, 1.0, 90u}, {-90.0, 1.0, 270u}, {-40.0, 0.5, 0u}}) {
    const affineSampleParams params = kip::rotationParams({20, 12}, degrees, scale, {8, 6});
    const kmath_xformLinear identity{0, 0, 1, 0, 0, 1};
    uint32_t alignment = 0;
    EXPECT_TRUE(kip_affine_imageAlignment_compute(&params, &identity, &alignment, nullptr) == 0 && (scale != 1 || alignment == code));
    const kip::Point along{20 + std::cos(degrees * M_PI / 180), 12 + std::sin(degrees * M_PI / 180)};
    EXPECT_TRUE(missBy(params, {20, 12}, {4, 3}) < 1e-9 && missBy(params, along, {4 + scale, 3}) < 1e-9) << degrees;
  }
}

// The interior stays inside the source, and is not far from the largest that does.
TEST(WrapperRotation, InteriorStaysInsideAndIsNearlyTheLargest) {
  const kip::Image source(1, 64, 48);
  const kip::Size size = kip::rotatedInterior(source, 30, 2, kip::Mode::cubic2);
  const auto clips = [&](kip::Size at, uint32_t willClip = 0) {
    const affineSampleParams params = kip::rotationParams({32, 24}, 30, 2, at, kip::Mode::cubic2);
    return kip_affineSampleParams_getWillClip(&params, source.get(), &willClip) != 0 || willClip != 0;
  };
  EXPECT_TRUE(!clips(size) && clips({size.width + 4, size.height + 4}));
  EXPECT_EQ(kip::rotatedBounds({100, 50}, 30, 1).height, 94);  // the bounds: 100 sin + 50 cos = 93.3 rounds up
}

class WrapperDepthTest : public testing::TestWithParam<int32_t> {};

// A rectangle on whole pels at one sample a pel is a copy of the pels under it, in any mode, and
// sums exactly the pels under it.
TEST_P(WrapperDepthTest, WholePelRectangleCopiesAndSumsThePels) {
  const kip::Image source = picture(GetParam(), 20, 16);
  for (const kip::Mode mode : {kip::Mode::nearest, kip::Mode::bilinear, kip::Mode::cubic2}) {
    const affineSampleParams params = kip::sampleParams({5, 3}, {12, 3}, {5, 9}, {7, 6}, mode);
    const kip::Image result = kip::transform(source, params);
    ASSERT_TRUE(result.pelSize() == GetParam() && result.width() == 7 && result.height() == 6);
    std::vector<uint32_t> sums(7, 0);
    for (int32_t i = 0; i < 7 * 6; ++i) sums[i % 7] += pel(source, i % 7 + 5, i / 7 + 3);
    for (int32_t i = 0; i < 7 * 6; ++i) EXPECT_EQ(pel(result, i % 7, i / 7), pel(source, i % 7 + 5, i / 7 + 3));
    // 16-bit projections take nearest and bilinear only.
    EXPECT_TRUE(mode == kip::Mode::cubic2 || (kip::project(source, params).sums == sums && kip::project(source, params).sampleCount == 6u));
  }
}

// The right half of the rectangle lies outside: there the result, mask, sums and coverage are 0 and
// the means NaN; the left half has full mask and coverage, and means of its sums.
TEST_P(WrapperDepthTest, ClippedHalfIsZeroOutside) {
  const kip::Image source = picture(GetParam(), 20, 16);
  const affineSampleParams half = kip::sampleParams({12, 3}, {28, 3}, {12, 9}, {16, 6}, kip::Mode::nearest);
  const kip::ClippedImage image = kip::transformClipped(source, half);
  const kip::ClippedProfile clipped = kip::projectClipped(source, half, 2);
  const kip::NormProfile norm = kip::projectNorm(source, half, true);
  // Six samples of value 2 make the sample count.
  EXPECT_TRUE(image.clipped && clipped.clipped && clipped.sampleCount == 12u && norm.range.validStart == 0u && norm.range.validEnd == 8u);
  for (int32_t i = 0, x = 0, y = 0; i < 16 * 6; ++i, x = i % 16, y = i / 16)
    EXPECT_TRUE(image.mask.at<uint8_t>(x, y) == (x < 8 ? 255 : 0) && pel(image.image, x, y) == (x < 8 ? pel(source, x + 12, y + 3) : 0u));
  for (size_t i = 0; i < 16; ++i) {
    EXPECT_TRUE((i < 8 ? clipped.sums[i] > 0 : clipped.sums[i] == 0) && clipped.coverage[i] == (i < 8 ? 12u : 0u)) << i;
    EXPECT_TRUE(i < 8 ? std::abs(norm.means()[i] - clipped.sums[i] / 6.0) <= 0.5 : std::isnan(norm.means()[i])) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, WrapperDepthTest, testing::Values(1, 2),
                         [](const testing::TestParamInfo<int32_t>& info) { return info.param == 1 ? "u8" : "u16"; });

// Every refusal throws kip::Error carrying the status of the C call or of the wrapper's own check.
TEST(WrapperRefusals, ThrowTheStatus) {
  const kip::Image narrow(1, 10, 10), unbound;
  const affineSampleParams leaves = kip::sampleParams({5, 5}, {15, 5}, {5, 15}, {4, 4});
  const struct { const char* what; std::function<void()> call; int32_t status; } cases[] = {
      {"wrap below the width", [] { uint8_t pels[16]; kip::Image::wrap(pels, 4, 4, 3); }, KIP_ERR_BAD_SIZE},
      {"three-byte pels", [] { kip::Image(3, 2, 2); }, KIP_ERR_PEL_SIZE},
      {"window of nothing", [&] { unbound.window(); }, KIP_ERR_NOT_BOUND},
      {"bounds of NaN", [] { kip::rotatedBounds({10, 10}, 10, NAN); }, KIP_ERR_NOT_FINITE},
      {"tiny interior", [] { kip::rotatedInterior(kip::Image(1, 3, 3), 30, 1, kip::Mode::cubic2); }, KIP_ERR_NO_SAMPLES},
      {"transform leaves", [&] { kip::transform(narrow, leaves); }, KIP_ERR_TRANSFORM_CLIPS},
      {"project leaves", [&] { kip::project(narrow, leaves); }, KIP_ERR_PROJECT_CLIPS},
      {"turn into same size", [] { kip::Image out(1, 4, 3); kip::turnInto(kip::Image(1, 4, 3), out, 90); }, KIP_ERR_SIZE_MISMATCH},
  };
  for (const auto& c : cases) {
    try { c.call(), ADD_FAILURE() << c.what << ": no error"; } catch (const kip::Error& error) {
      EXPECT_TRUE(error.status() == c.status && std::string(error.what()).find(error.name()) != std::string::npos) << c.what << ": " << error.what();
    }
  }
}

}  // namespace
