// Affine projections: the column sums of the transform of the same sampling, bit for bit; the
// aligned short-cut against hand-made sums and against the general path; clipped projections
// against a projection of a zero-padded copy made here; refusals that leave the destination alone;
// allocation failures after an in-place vector is written.
#include "affineproject/affineproject.hpp"
#include "engine/bilinear_tile.hpp"
#include "engine/bilinear_tile_kernels.hpp"
#include "engine/cubic_weight_table.hpp"
#include "engine/engine.hpp"
#include "engine/tile_loops.hpp"
#include "platform/shutdown.hpp"
#include "support/support.hpp"
#include "support/turns.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

namespace {

using kiptest::ScopedImage;
using V = std::vector<uint32_t>;
constexpr kmath_xformLinear kIdentity{0, 0, 1, 0, 0, 1};

affineSampleParams paramsOf(uint32_t mode, kmath_shapeAffineRect rect, int32_t xCount, int32_t yCount) {
  affineSampleParams params{};
  EXPECT_EQ(kip_affineSampleParams_init(&params, mode, &rect, xCount, yCount), 0);
  return params;
}

// A rectangle of w x h client units centred on (cx, cy), its x side turned by degrees.
kmath_shapeAffineRect turnedRect(double cx, double cy, double w, double h, double degrees) {
  const double a = degrees * std::numbers::pi / 180.0, c = std::cos(a), s = std::sin(a);
  return {cx - (w * c - h * s) / 2, cy - (w * s + h * c) / 2, w * c, -h * s, w * s, h * c};
}

V entriesOf(const kimg_image& image) { const auto* f = static_cast<const uint32_t*>(image.firstPel); return {f, f + image.width}; }

void fillRandom(kimg_image* image, uint32_t seed) {
  image->pelSize == 1 ? kiptest::fillRandom8(image, seed) : kiptest::fillRandom16(image, seed);
}

int32_t project(const kimg_image* source, kimg_image* destination, const affineSampleParams& params,
                uint32_t* sampleCount = nullptr) {
  return source->pelSize == 1 ? kip_affineProject(source, destination, &params, nullptr, sampleCount)
                              : kip_affineProject16(source, destination, &params, nullptr, sampleCount);
}

// Column sums of the transform of the same sampling.
V columnSumsOfTransform(const kimg_image* source, const affineSampleParams& params) {
  ScopedImage pels;
  EXPECT_EQ((source->pelSize == 1 ? kip_affineTransform : kip_affineTransform16)(source, pels.get(), &params, nullptr), 0);
  V sums(params.xCount, 0);
  for (int32_t r = 0; r < params.yCount; ++r)
    for (int32_t c = 0; c < params.xCount; ++c) sums[c] += source->pelSize == 1 ? pels.at<uint8_t>(c, r) : pels.at<uint16_t>(c, r);
  return sums;
}

// The sampling, the source's image-from-client transform and the origin of its pel grid.
struct Geometry { kmath_shapeAffineRect rect; int32_t xCount, yCount; kmath_xformLinear imageFromClient; int32_t x, y; };

const Geometry kGeometries[] = {
    {turnedRect(47.3, 41.1, 60, 48, -10), 15, 12, kIdentity, 0, 0},
    // A client frame at half the pel scale, and a source whose pels start at (7, -3).
    {turnedRect(20, 22, 16, 12, 75), 23, 17, {3, 1, 2, 0, 0, 2}, 7, -3},
};

using AgainstTransformCase = std::tuple<Geometry, int32_t /*pelSize*/, uint32_t /*mode*/, bool /*portable*/>;
class ProjectionAgainstTransform : public testing::TestWithParam<AgainstTransformCase> {};

// Each entry is the sum down one column of the transform's pels, whichever process made the sums.
TEST_P(ProjectionAgainstTransform, EqualsColumnSumsOfPels) {
  const auto [geometry, pelSize, mode, portable] = GetParam();
  ScopedImage source(pelSize, 96, 80);
  fillRandom(source.get(), mode * 7 + pelSize);
  source.get()->xOrigin = geometry.x, source.get()->yOrigin = geometry.y;
  ASSERT_EQ(kimg_image_setLinearImageFromClientXform(source.get(), &geometry.imageFromClient), 0);
  const affineSampleParams params = paramsOf(mode, geometry.rect, geometry.xCount, geometry.yCount);
  // The same process makes both, so that their rounding agrees.
  kiptest::ScopedHook hook(portable ? std::initializer_list<std::string>{"kip_affineProcess"}
                                    : std::initializer_list<std::string>{});
  const V expected = columnSumsOfTransform(source.get(), params);
  ScopedImage destination;
  uint32_t count = 0;
  ASSERT_EQ(project(source.get(), destination.get(), params, &count), 0);
  EXPECT_EQ(count, static_cast<uint32_t>(geometry.yCount));
  EXPECT_EQ(entriesOf(*destination.get()), expected);
}

INSTANTIATE_TEST_SUITE_P(Eight, ProjectionAgainstTransform,
                         testing::Combine(testing::ValuesIn(kGeometries), testing::Values(1), testing::Values(0u, 1u, 2u, 3u), testing::Bool()));
// 16-bit sources take modes 0 and 1 only, and have only the portable process.
INSTANTIATE_TEST_SUITE_P(Sixteen, ProjectionAgainstTransform,
                         testing::Combine(testing::ValuesIn(kGeometries), testing::Values(2), testing::Values(0u, 1u), testing::Values(true)));

// Large 8-bit bilinear samplings, whose tiles the vector kernels sample from copied boxes of
// source rows (turned rows), from loaded row pairs (rows along the source, a downscale) or by
// gathers (a coarse turned sampling): the projection equals, entry for entry, the column sums of
// the pels that the tiled driver makes with its scalar kernel.
TEST(ProjectionOptimized, EqualsColumnSumsOfTheScalarTiledTransform) {
  ScopedImage source(1, 700, 600);
  fillRandom(source.get(), 31);
  kimg_window sourceWindow = source.window();
  struct Case { double degrees, width, height; int32_t xCount, yCount; };
  for (const Case& c : {Case{30, 300, 200, 300, 200}, Case{0, 640, 560, 160, 140}, Case{-40, 400, 300, 160, 120}}) {
    const affineSampleParams params = paramsOf(KIP_SAMPLE_BILINEAR, turnedRect(350, 300, c.width, c.height, c.degrees),
                                               c.xCount, c.yCount);
    ScopedImage pels(1, c.xCount, c.yCount);
    kimg_window pelWindow = pels.window();
    const int32_t rows = affineTile_rowsForStride(sourceWindow.stride);
    ASSERT_EQ(affineTile_bilinearStore8(0, &sourceWindow, &kIdentity, &pelWindow, &params, rows, affineTileBilinearScalar8), 0);
    std::vector<uint32_t> expected(c.xCount, 0);
    for (int32_t r = 0; r < c.yCount; ++r)
      for (int32_t i = 0; i < c.xCount; ++i) expected[i] += pels.at<uint8_t>(i, r);
    ScopedImage destination;
    ASSERT_EQ(project(source.get(), destination.get(), params), 0);
    EXPECT_EQ(entriesOf(*destination.get()), expected) << c.degrees << " degrees";
  }
}

class ProjectionAligned : public testing::TestWithParam<std::tuple<uint32_t, int32_t>> {};

// An exact turn or mirror of a 13 x 9 rectangle at (4, 3): the short-cut's sums (optimized and
// portable) are the sums down the destination columns worked out from the picture.
TEST_P(ProjectionAligned, ShortCutMatchesPictureAndGeneralPath) {
  const auto [code, pelSize] = GetParam();
  constexpr int w = 13, h = 9, x0 = 4, y0 = 3;
  ScopedImage source(pelSize, 24, 17);
  fillRandom(source.get(), code + 100 * pelSize);
  const bool exchanges = code == 1 || code == 90 || code == 181 || code == 270;
  const int xCount = exchanges ? h : w, yCount = exchanges ? w : h;
  // The map of pel centres, from three destination pels, extended to the unit square's corners.
  const auto [r0, c0] = kiptest::turnSourceOf(code, 0, 0, w, h);
  const auto [r1, c1] = kiptest::turnSourceOf(code, 0, 1, w, h);
  const auto [r2, c2] = kiptest::turnSourceOf(code, 1, 0, w, h);
  auto centre = [&](double u, double v) {
    return std::pair{x0 + c0 + (c1 - c0) * (u - 0.5) + (c2 - c0) * (v - 0.5) + 0.5,
                     y0 + r0 + (r1 - r0) * (u - 0.5) + (r2 - r0) * (v - 0.5) + 0.5};
  };
  const auto [ox, oy] = centre(0, 0);
  const auto [xx, xy] = centre(xCount, 0);
  const auto [yx, yy] = centre(0, yCount);
  const affineSampleParams params =
      paramsOf(KIP_SAMPLE_BILINEAR, {ox, oy, xx - ox, yx - ox, xy - oy, yy - oy}, xCount, yCount);

  V expected(xCount, 0);
  for (int i = 0; i < yCount; ++i)
    for (int j = 0; j < xCount; ++j) {
      const auto [r, c] = kiptest::turnSourceOf(code, i, j, w, h);
      expected[j] += pelSize == 1 ? source.at<uint8_t>(x0 + c, y0 + r) : source.at<uint16_t>(x0 + c, y0 + r);
    }
  kiptest::ScopedHook hook({});
  ScopedImage destination;
  ASSERT_EQ(project(source.get(), destination.get(), params), 0);
  EXPECT_EQ(entriesOf(*destination.get()), expected);
  EXPECT_EQ(kiptest::ScopedHook::askedCount("kip_affineProcess"), 0) << "the short-cut must not sample";
}

INSTANTIATE_TEST_SUITE_P(Codes, ProjectionAligned,
                         testing::Combine(testing::Values(0u, 1u, 90u, 91u, 180u, 181u, 270u, 271u),
                                          testing::Values(1, 2)));

// A copy of the source inside a wide frame of zeros, on the same pel grid: what a clipped
// projection must see. With indicator set, the source's pels are replaced by value.
void padInto(const kimg_image* source, kimg_image* padded, int32_t margin, bool indicator, uint16_t value) {
  ASSERT_EQ(kimg_image_construct(padded, source->pelSize, source->width + 2 * margin, source->height + 2 * margin), 0);
  padded->xOrigin = source->xOrigin - margin, padded->yOrigin = source->yOrigin - margin;
  if (!indicator) {
    ASSERT_EQ(source->pelSize == 1 ? kip_pelCopy8(source, padded) : kip_pelCopy16(source, padded), 0);
    return;
  }
  kimg_window inside{};
  const kstd_rect32 rect{source->xOrigin, source->yOrigin, source->width, source->height};
  ASSERT_EQ(kimg_window_initWindow(&inside, padded, &rect, nullptr), 0);
  ASSERT_EQ(source->pelSize == 1 ? kip_pelSetWindow8(&inside, static_cast<uint8_t>(value))
                                 : kip_pelSetWindow16(&inside, value),
            0);
}

struct ClipCase { double cx, cy, degrees; };

class ProjectionClipped : public testing::TestWithParam<std::tuple<ClipCase, int32_t, uint32_t>> {};

// Sums and coverage of a sampling that leaves a 30 x 20 source equal the plain projections of the
// source and of its indicator, each padded with zeros here.
TEST_P(ProjectionClipped, EqualsProjectionOfPaddedCopies) {
  const auto [where, pelSize, mode] = GetParam();
  ScopedImage source(pelSize, 30, 20);
  fillRandom(source.get(), 5 + mode);
  source.get()->xOrigin = -4;
  const affineSampleParams params = paramsOf(mode, turnedRect(where.cx, where.cy, 24, 14, where.degrees), 29, 13);
  constexpr uint8_t kValue = 200;
  ScopedImage padded, indicator, expectedSums, expectedCover, sums, coverage;
  padInto(source.get(), padded.get(), 40, false, 0);
  padInto(source.get(), indicator.get(), 40, true, kValue);
  ASSERT_EQ(project(padded.get(), expectedSums.get(), params), 0);
  ASSERT_EQ(project(indicator.get(), expectedCover.get(), params), 0);
  uint32_t count = 0, willClip = 0;
  const auto clipped = pelSize == 1 ? kip_affineProjectClipped : kip_affineProjectClipped16;
  ASSERT_EQ(clipped(source.get(), sums.get(), coverage.get(), &params, nullptr, kValue, &count, &willClip), 0);
  EXPECT_EQ(willClip, 1u);
  EXPECT_EQ(entriesOf(*sums.get()), entriesOf(*expectedSums.get()));
  const V cover = entriesOf(*coverage.get());
  EXPECT_EQ(cover, entriesOf(*expectedCover.get()));
  EXPECT_EQ(count, *std::max_element(cover.begin(), cover.end()));
}

const ClipCase kClipCases[] = {{-4.3, 9.7, 20}, {25.6, 19.2, -35}};
INSTANTIATE_TEST_SUITE_P(Eight, ProjectionClipped,
                         testing::Combine(testing::ValuesIn(kClipCases), testing::Values(1), testing::Values(0u, 1u, 2u, 3u)));
INSTANTIATE_TEST_SUITE_P(Sixteen, ProjectionClipped,
                         testing::Combine(testing::ValuesIn(kClipCases), testing::Values(2), testing::Values(1u)));

// Every refusal returns its status and leaves the destination as it was: unbound stays unbound.
TEST(ProjectionRefusals, ClearStatusAndNothingWritten) {
  ScopedImage source(1, 20, 16), source16(2, 20, 16), unbound, wrongPels(1, 12, 1), coverage;
  const auto at = [](double cx, uint32_t mode, int32_t n) { return paramsOf(mode, turnedRect(cx, 8, 8, 6, 15), n, 5); };
  const affineSampleParams ok = at(10, 1, 12), leaves = at(1, 1, 12), cubic = at(10, 3, 12), none = at(10, 1, 0);
  const affineSampleParams outside = at(40, 1, 12);
  ScopedImage destination;
  uint32_t count = 0, clip = 0;
  kimg_window sw = source.window();
  kmath_xformLinear xform{};
  kimg_window overlapping = sw;  // destination entries in the source's own memory
  overlapping.pelSize = 4, overlapping.width = 12, overlapping.height = 1;
  kimg_image* d = destination.get();
  const auto clipped = [&](const kimg_image* s, kimg_image* cover, const affineSampleParams& p) {
    return kip_affineProjectClipped(s, d, cover, &p, nullptr, 255, &count, &clip);
  };
  EXPECT_EQ(kip_affineProject(nullptr, d, &ok, nullptr, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(clipped(source.get(), wrongPels.get(), leaves), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(clipped(unbound.get(), coverage.get(), ok), KIP_ERR_PROJECT_UNBOUND);
  EXPECT_EQ(kip_affineProject(source.get(), d, &leaves, nullptr, nullptr), KIP_ERR_PROJECT_CLIPS);
  EXPECT_EQ(clipped(source.get(), coverage.get(), none), KIP_ERR_NO_SAMPLES);
  EXPECT_EQ(kip_affineProject16(source16.get(), d, &cubic, nullptr, nullptr), KIP_ERR_MODE_UNSUPPORTED);
  EXPECT_EQ(clipped(source.get(), coverage.get(), outside), KIP_ERR_PROJECT_NO_OVERLAP);
  EXPECT_EQ(kip_affineProjectWindow(&sw, &kIdentity, &overlapping, &ok, nullptr, &xform, nullptr), KIP_ERR_MEMORY_OVERLAP);
  EXPECT_EQ(destination.get()->storage, nullptr);
  EXPECT_EQ(coverage.get()->storage, nullptr);
  EXPECT_EQ(count + clip, 0u);
}

// Refusals that come late (an unknown mode has no kernels; a 16-bit source too tall for 16.16
// passes the double-precision clip test of nearest sampling but not the process) must still come
// before a vector written in place is cleared.
TEST(ProjectionRefusals, LateRefusalsLeaveAnInPlaceVectorAlone) {
  ScopedImage source(1, 20, 16), tall(2, 2, 32800), vector(4, 12, 1);
  for (int32_t i = 0; i < 12; ++i) static_cast<uint32_t*>(vector.get()->firstPel)[i] = 1000 + i;
  const V before = entriesOf(*vector.get());
  const affineSampleParams unknown = paramsOf(4, turnedRect(10, 8, 8, 6, 15), 12, 5);
  EXPECT_EQ(kip_affineProject(source.get(), vector.get(), &unknown, nullptr, nullptr), KIP_ERR_MODE_UNSUPPORTED);
  const affineSampleParams params = paramsOf(KIP_SAMPLE_NEAREST, turnedRect(1, 20000, 1, 8, 0), 12, 4);
  EXPECT_EQ(kip_affineProject16(tall.get(), vector.get(), &params, nullptr, nullptr), KIP_ERR_SOURCE_TOO_LARGE);
  EXPECT_EQ(entriesOf(*vector.get()), before);
}

// Sums and coverage into windows that hold their entries, at different strides: no failure of the
// coverage pass (for memory) may come after the caller's sums are written, whichever allocation
// fails. A turned sampling (the engine's passes), and an aligned one (row sums, whose core
// allocates in each pass).
TEST(ProjectionAllocation, ClippedFailuresLeaveInPlaceVectorsAlone) {
  ScopedImage source(1, 40, 30), sums(4, 24, 2), coverage(4, 20, 1);
  kiptest::fillRandom8(source.get(), 12);
  kiptest::fillRandom8(sums.get(), 13);  // any bytes: they must survive a failure
  sums.get()->xOrigin = -4;              // holds entries 0 to 19 of row 0, at another stride
  const affineSampleParams leaves = paramsOf(KIP_SAMPLE_CUBIC2, turnedRect(4, 15, 24, 10, 25), 20, 9);
  const affineSampleParams aligned = paramsOf(KIP_SAMPLE_CUBIC2, {30, 5, 20, 0, 0, 9}, 20, 9);
  kimg_window sw = source.window(), dw = sums.window(), cw = coverage.window();
  kmath_xformLinear xform{};
  uint32_t count = 0, clip = 0;
  // The process-wide cubic table is dropped first, so that its build is among the failures; once
  // built it is the process's, not a leak.
  ksys_shutdown_testRunAll();
  const auto cubicTable = [] { return int64_t{cubicWeightTable_get()->weightArray != nullptr}; };
  for (const affineSampleParams* params : {&leaves, &aligned}) {
    const V before = entriesOf(*sums.get());
    const auto call = [&] {
      return kip_affineProjectClippedWindow(&sw, &kIdentity, &dw, &cw, params, nullptr, &xform, 255, &count, &clip);
    };
    kiptest::sweepAllocationFailures(call, [&] { EXPECT_EQ(entriesOf(*sums.get()), before); }, cubicTable);
    EXPECT_EQ(clip, 1u);
  }
}

}  // namespace
