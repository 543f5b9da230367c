// Affine projections: the column sums of the transform of the same sampling, bit for bit; the
// aligned short-cut against hand-made sums and against the general path; clipped projections
// against a projection of a zero-padded copy made here; destinations of every shape; refusals that
// leave the destination alone; allocation failures after an in-place vector is written.
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
#include <cstring>
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

V entriesOf(const kimg_image& image) {
  const auto* first = static_cast<const uint32_t*>(image.firstPel);
  return {first, first + image.width};
}

void fillRandom(kimg_image* image, uint32_t seed) {
  image->pelSize == 1 ? kiptest::fillRandom8(image, seed) : kiptest::fillRandom16(image, seed);
}

int32_t project(const kimg_image* source, kimg_image* destination, const affineSampleParams& params,
                uint32_t* sampleCount = nullptr) {
  return source->pelSize == 1 ? kip_affineProject(source, destination, &params, nullptr, sampleCount)
                              : kip_affineProject16(source, destination, &params, nullptr, sampleCount);
}

// The portable process of the engine called directly: pels (accumulate 0) or column sums (1).
void portableProcess(const kimg_image* source, uint32_t accumulate, const affineSampleParams& params,
                     kimg_window* destination) {
  kimg_window sourceWindow{};
  kmath_xformLinear xform{};
  ASSERT_EQ(kimg_windowConst_init(&sourceWindow, source), 0);
  ASSERT_EQ(kimg_imageConst_getLinearImageFromClientXform(source, &xform), 0);
  affineSampleCache cache{};
  ASSERT_EQ(affineSampleCache_initTemporary(&cache), 0);
  ASSERT_EQ(affineSampleCache_refresh(&cache, &sourceWindow, &xform, destination, &params, accumulate), 0);
  const auto process = source->pelSize == 1 ? affineProcess_portable8 : affineProcess_portable16;
  EXPECT_EQ(process(accumulate, &sourceWindow, &xform, destination, &params, &cache), 0);
  affineSampleCache_releaseTemporary(&cache);
}

// Column sums of the transform of the sampling, made with the portable process into pels.
V columnSumsOfTransform(const kimg_image* source, const affineSampleParams& params) {
  ScopedImage pels(source->pelSize, params.xCount, params.yCount);
  kimg_window pelWindow = pels.window();
  portableProcess(source, 0, params, &pelWindow);
  V sums(params.xCount, 0);
  for (int32_t r = 0; r < params.yCount; ++r)
    for (int32_t c = 0; c < params.xCount; ++c) sums[c] += source->pelSize == 1 ? pels.at<uint8_t>(c, r) : pels.at<uint16_t>(c, r);
  return sums;
}

struct Geometry {
  const char* name;
  kmath_shapeAffineRect rect;
  int32_t xCount, yCount;
  kmath_xformLinear imageFromClient;
  int32_t xOrigin, yOrigin;  // of the source image's pel grid
};

const Geometry kGeometries[] = {
    {"turned30", turnedRect(48, 40, 40, 24, 30), 40, 24, kIdentity, 0, 0},
    {"reduced", turnedRect(47.3, 41.1, 60, 48, -10), 15, 12, kIdentity, 0, 0},
    {"enlargedSheared", {40.3, 32.9, 10.1, 2.7, 4.2, 8.3}, 37, 29, kIdentity, 0, 0},
    // A client frame at half the pel scale, and a source whose pels start at (7, -3).
    {"clientFrame", turnedRect(20, 22, 16, 12, 75), 23, 17, {3, 1, 2, 0, 0, 2}, 0, 0},
    {"movedGrid", turnedRect(52, 35, 30, 20, 135), 31, 19, kIdentity, 7, -3},
};

using AgainstTransformCase = std::tuple<Geometry, int32_t /*pelSize*/, uint32_t /*mode*/, bool /*portable*/>;
class ProjectionAgainstTransform : public testing::TestWithParam<AgainstTransformCase> {};

// Each entry is the sum down one column of the transform's pels, whichever process made the sums.
TEST_P(ProjectionAgainstTransform, EqualsColumnSumsOfPels) {
  const auto [geometry, pelSize, mode, portable] = GetParam();
  ScopedImage source(pelSize, 96, 80);
  fillRandom(source.get(), mode * 7 + pelSize);
  source.get()->xOrigin = geometry.xOrigin;
  source.get()->yOrigin = geometry.yOrigin;
  ASSERT_EQ(kimg_image_setLinearImageFromClientXform(source.get(), &geometry.imageFromClient), 0);
  const affineSampleParams params = paramsOf(mode, geometry.rect, geometry.xCount, geometry.yCount);
  uint32_t alignment = 0;
  ASSERT_EQ(kip_affine_imageAlignment_compute(&params, &geometry.imageFromClient, &alignment, nullptr), 0);
  ASSERT_EQ(alignment, KIP_ALIGNMENT_GENERAL);
  const V expected = columnSumsOfTransform(source.get(), params);

  kiptest::ScopedHook hook(portable ? std::initializer_list<std::string>{"kip_affineProcess"}
                                    : std::initializer_list<std::string>{});
  ScopedImage destination;
  uint32_t count = 0;
  ASSERT_EQ(project(source.get(), destination.get(), params, &count), 0);
  ASSERT_EQ(destination.get()->pelSize, 4);
  EXPECT_EQ(count, static_cast<uint32_t>(geometry.yCount));
  const V got = entriesOf(*destination.get());
  if (pelSize == 1 && !portable) EXPECT_EQ(kiptest::ScopedHook::askedCount("kip_affineProcess"), 1);
  if (pelSize == 1 && !portable && (mode == KIP_SAMPLE_BILINEAR || mode == KIP_SAMPLE_CUBIC2)) {
    // The optimized process rounds a little differently in these modes (bilinear weights halved
    // before they are summed, the cubic first pass toward minus infinity): a sample may differ from
    // the portable one by a grey level.
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_LE(std::abs(int64_t{got[i]} - int64_t{expected[i]}), geometry.yCount) << "entry " << i;
    }
  } else {
    EXPECT_EQ(got, expected);
  }
  // The projection's client transform: x scale from the x count, y scale 1.
  kmath_xformLinear want{};
  ASSERT_EQ(kip_affineSampleParams_getDestImageFromClientXform(&params, 1, &want), 0);
  EXPECT_EQ(std::memcmp(&destination.get()->imageFromClient, &want, sizeof want), 0);
}

// 16-bit sources take modes 0 and 1 only, and have only the portable process.
std::vector<AgainstTransformCase> againstTransformCases() {
  std::vector<AgainstTransformCase> cases;
  for (const Geometry& geometry : kGeometries)
    for (int32_t pelSize : {1, 2})
      for (uint32_t mode : {0u, 1u, 2u, 3u})
        for (bool portable : {false, true})
          if (pelSize == 1 || (mode <= KIP_SAMPLE_BILINEAR && portable)) cases.emplace_back(geometry, pelSize, mode, portable);
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Samplings, ProjectionAgainstTransform, testing::ValuesIn(againstTransformCases()));

// Large 8-bit bilinear samplings, whose tiles the vector kernels sample from copied boxes of
// source rows (turned rows), from loaded row pairs (rows along the source, a downscale) or by
// gathers (a coarse turned sampling): the projection equals, entry for entry, the column sums of
// the pels that the tiled driver makes with its scalar kernel.
TEST(ProjectionOptimized, EqualsColumnSumsOfTheScalarTiledTransform) {
  ScopedImage source(1, 700, 600);
  fillRandom(source.get(), 31);
  kimg_window sourceWindow{};
  ASSERT_EQ(kimg_windowConst_init(&sourceWindow, source.get()), 0);
  struct Case {
    double degrees, width, height;
    int32_t xCount, yCount;
  };
  for (const Case& c : {Case{30, 300, 200, 300, 200}, Case{3, 250, 240, 250, 240}, Case{0, 640, 560, 160, 140},
                        Case{-40, 400, 300, 160, 120}}) {
    const affineSampleParams params = paramsOf(KIP_SAMPLE_BILINEAR, turnedRect(350, 300, c.width, c.height, c.degrees),
                                               c.xCount, c.yCount);
    ScopedImage pels(1, c.xCount, c.yCount);
    kimg_window pelWindow = pels.window();
    ASSERT_EQ(affineTile_bilinearStore8(0, &sourceWindow, &kIdentity, &pelWindow, &params,
                                        affineTile_rowsForStride(sourceWindow.stride), affineTileBilinearScalar8),
              0);
    std::vector<uint32_t> expected(c.xCount, 0);
    for (int32_t r = 0; r < c.yCount; ++r) {
      for (int32_t i = 0; i < c.xCount; ++i) expected[i] += pels.at<uint8_t>(i, r);
    }
    ScopedImage destination;
    ASSERT_EQ(project(source.get(), destination.get(), params), 0);
    EXPECT_EQ(entriesOf(*destination.get()), expected) << c.degrees << " degrees";
  }
}

bool exchangesSides(uint32_t code) { return code == 1 || code == 90 || code == 181 || code == 270; }

class ProjectionAligned : public testing::TestWithParam<std::tuple<uint32_t, int32_t>> {};

// An exact turn or mirror of a 13 x 9 rectangle at (4, 3): the short-cut's sums (optimized and
// portable) are the sums down the destination columns worked out from the picture.
TEST_P(ProjectionAligned, ShortCutMatchesPictureAndGeneralPath) {
  const auto [code, pelSize] = GetParam();
  constexpr int w = 13, h = 9, x0 = 4, y0 = 3;
  ScopedImage source(pelSize, 24, 17);
  fillRandom(source.get(), code + 100 * pelSize);
  const int xCount = exchangesSides(code) ? h : w, yCount = exchangesSides(code) ? w : h;
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
  uint32_t alignment = 0;
  ASSERT_EQ(kip_affine_imageAlignment_compute(&params, &kIdentity, &alignment, nullptr), 0);
  ASSERT_EQ(alignment, code);

  V expected(xCount, 0);
  for (int i = 0; i < yCount; ++i) {
    for (int j = 0; j < xCount; ++j) {
      const auto [r, c] = kiptest::turnSourceOf(code, i, j, w, h);
      expected[j] += pelSize == 1 ? source.at<uint8_t>(x0 + c, y0 + r) : source.at<uint16_t>(x0 + c, y0 + r);
    }
  }
  for (bool portableSums : {false, true}) {
    kiptest::ScopedHook hook(portableSums ? std::initializer_list<std::string>{"kf_projection_vertical8_core",
                                                                               "kf_projection_horizontal8_core"}
                                          : std::initializer_list<std::string>{});
    ScopedImage destination;
    uint32_t count = 0;
    ASSERT_EQ(project(source.get(), destination.get(), params, &count), 0);
    EXPECT_EQ(entriesOf(*destination.get()), expected) << (portableSums ? "portable sums" : "optimized sums");
    EXPECT_EQ(count, static_cast<uint32_t>(yCount));
    EXPECT_EQ(kiptest::ScopedHook::askedCount("kip_affineProcess"), 0) << "the short-cut must not sample";
  }
}

INSTANTIATE_TEST_SUITE_P(Codes, ProjectionAligned,
                         testing::Combine(testing::Values(0u, 1u, 90u, 91u, 180u, 181u, 270u, 271u),
                                          testing::Values(1, 2)));

// A copy of the source inside a wide frame of zeros, on the same pel grid: what a clipped
// projection must see. With indicator set, the source's pels are replaced by value.
void padInto(const kimg_image* source, kimg_image* padded, int32_t margin, bool indicator, uint16_t value) {
  ASSERT_EQ(kimg_image_construct(padded, source->pelSize, source->width + 2 * margin, source->height + 2 * margin), 0);
  padded->xOrigin = source->xOrigin - margin;
  padded->yOrigin = source->yOrigin - margin;
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

struct ClipCase {
  const char* name;
  double cx, cy, degrees;
};

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
  EXPECT_TRUE(cover.front() == 0 || cover.back() == 0) << "one end must lie wholly outside";
  // The coverage gets the projection's client transform too.
  const kmath_xformLinear &a = sums.get()->imageFromClient, &b = coverage.get()->imageFromClient;
  EXPECT_TRUE(a.tx == b.tx && a.e0 == b.e0 && a.e2 == b.e2);
}

std::vector<std::tuple<ClipCase, int32_t, uint32_t>> clippedCases() {
  std::vector<std::tuple<ClipCase, int32_t, uint32_t>> cases;
  for (const ClipCase& where : {ClipCase{"leftEdge", -4.3, 9.7, 20}, ClipCase{"bottomRight", 25.6, 19.2, -35}})
    for (int32_t pelSize : {1, 2})
      for (uint32_t mode : {0u, 1u, 2u, 3u})
        if (pelSize == 1 || mode <= KIP_SAMPLE_BILINEAR) cases.emplace_back(where, pelSize, mode);
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, ProjectionClipped, testing::ValuesIn(clippedCases()));

// Wholly outside is refused (the coverage zeroed, nothing bound); inside is the plain projection,
// with the coverage untouched.
TEST(ProjectionClippedEnds, WhollyOutsideAndInside) {
  ScopedImage source(1, 16, 12), sums, smallCoverage(4, 3, 1), unboundCoverage, plain;
  kiptest::fillRandom8(source.get(), 3);
  uint32_t count = 7, willClip = 7;
  const affineSampleParams outside = paramsOf(KIP_SAMPLE_BILINEAR, turnedRect(40, 6, 10, 4, 10), 12, 5);
  EXPECT_EQ(kip_affineProjectClipped(source.get(), sums.get(), smallCoverage.get(), &outside, nullptr, 255, &count,
                                     &willClip),
            KIP_ERR_PROJECT_NO_OVERLAP);
  EXPECT_EQ(sums.get()->storage, nullptr) << "a refused call binds nothing";
  EXPECT_EQ(entriesOf(*smallCoverage.get()), V(3, 0));
  EXPECT_EQ(count + willClip, 14u);
  const affineSampleParams inside = paramsOf(KIP_SAMPLE_BILINEAR, turnedRect(8, 6, 10, 4, 10), 12, 5);
  ASSERT_EQ(kip_affineProjectClipped(source.get(), sums.get(), unboundCoverage.get(), &inside, nullptr, 255, &count,
                                     &willClip),
            0);
  EXPECT_TRUE(willClip == 0 && count == 5);
  EXPECT_EQ(unboundCoverage.get()->storage, nullptr) << "the coverage is not touched";
  ASSERT_EQ(kip_affineProject(source.get(), plain.get(), &inside, nullptr, nullptr), 0);
  EXPECT_EQ(entriesOf(*sums.get()), entriesOf(*plain.get()));
}

struct DestinationCase {
  const char* name;
  int32_t xOrigin, yOrigin, width, height;
  bool clipped;
};

class ProjectionDestinations : public testing::TestWithParam<DestinationCase> {};

// A destination window receives the entries that fall inside it, by pel-grid place, and nothing
// else of its buffer changes; the entries are those of a projection into an unbound image.
TEST_P(ProjectionDestinations, EntriesLandByPelGridPlace) {
  const DestinationCase& d = GetParam();
  constexpr int32_t kCount = 20, kStride = 40;
  ScopedImage source(1, 40, 30), reference, referenceCover;
  kiptest::fillRandom8(source.get(), 8);
  // Inside the source, or reaching past its left edge for the clipped calls.
  const affineSampleParams params =
      paramsOf(KIP_SAMPLE_BILINEAR, turnedRect(d.clipped ? 6.0 : 20.0, 15, 24, 10, 25), kCount, 9);
  uint32_t count = 0, willClip = 0;
  ASSERT_EQ(kip_affineProjectClipped(source.get(), reference.get(), referenceCover.get(), &params, nullptr, 255, &count,
                                     &willClip),
            0);
  ASSERT_EQ(willClip, d.clipped ? 1u : 0u);
  V buffer(kStride * 3, 0xDEADBEEF), coverBuffer(buffer), want(buffer), wantCover(buffer);
  const auto windowOn = [&](V& pels) {
    return kimg_window{d.width, d.height, d.xOrigin, d.yOrigin, 0, 0, 0, 0, kStride, pels.data(), 4};
  };
  kimg_window destination = windowOn(buffer), coverage = windowOn(coverBuffer), sourceWindow = source.window();
  affineSampleCache* cache = nullptr;
  ASSERT_EQ(kip_affineSampleCache_construct(&cache), 0);
  kmath_xformLinear xform{};
  uint32_t windowCount = 0, windowClip = 7;
  ASSERT_EQ(d.clipped ? kip_affineProjectClippedWindow(&sourceWindow, &kIdentity, &destination, &coverage, &params,
                                                        &cache, &xform, 255, &windowCount, &windowClip)
                      : kip_affineProjectWindow(&sourceWindow, &kIdentity, &destination, &params, &cache, &xform,
                                                &windowCount),
            0);
  kip_affineSampleCache_destruct(&cache);
  EXPECT_EQ(windowCount, count);
  if (d.clipped) EXPECT_EQ(windowClip, 1u);
  for (int32_t y = 0; y < d.height; ++y) {
    for (int32_t x = 0; x < d.width; ++x) {
      const int32_t entry = d.xOrigin + x;
      if (d.yOrigin + y != 0 || entry < 0 || entry >= kCount) continue;
      want[y * kStride + x] = entriesOf(*reference.get())[entry];
      if (d.clipped) wantCover[y * kStride + x] = entriesOf(*referenceCover.get())[entry];
    }
  }
  EXPECT_EQ(buffer, want);
  EXPECT_EQ(coverBuffer, wantCover);
  kmath_xformLinear wantXform{};
  ASSERT_EQ(kip_affineSampleParams_getDestImageFromClientXform(&params, 1, &wantXform), 0);
  EXPECT_TRUE(xform.e0 == wantXform.e0 && xform.tx == wantXform.tx);
}

INSTANTIATE_TEST_SUITE_P(Windows, ProjectionDestinations,
                         testing::Values(DestinationCase{"wider", 0, 0, 25, 2, false},
                                         DestinationCase{"narrower", 0, 0, 10, 1, false},
                                         DestinationCase{"atFive", 5, 0, 8, 1, false},
                                         DestinationCase{"belowRowZero", 0, 1, 20, 1, false},
                                         DestinationCase{"startsLeft", -3, 0, 30, 1, false},
                                         DestinationCase{"clippedStartsLeft", -3, -1, 30, 2, true},
                                         DestinationCase{"clippedAtFive", 5, 0, 8, 1, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// A bound destination image at x origin 3, 10 wide, gets entries 3 to 12 and keeps its storage.
TEST(ProjectionDestinationImages, BoundImageKeepsStorageAndPlace) {
  ScopedImage source(2, 40, 30), reference, destination(4, 10, 1);
  kiptest::fillRandom16(source.get(), 9);
  destination.get()->xOrigin = 3;
  const void* pels = destination.get()->firstPel;
  const affineSampleParams params = paramsOf(KIP_SAMPLE_NEAREST, turnedRect(20, 15, 24, 10, 25), 20, 9);
  ASSERT_EQ(kip_affineProject16(source.get(), reference.get(), &params, nullptr, nullptr), 0);
  affineSampleCache* none = nullptr;  // a handle holding null: a temporary cache serves
  ASSERT_EQ(kip_affineProject16(source.get(), destination.get(), &params, &none, nullptr), 0);
  EXPECT_EQ(destination.get()->firstPel, pels);
  const V all = entriesOf(*reference.get());
  EXPECT_EQ(entriesOf(*destination.get()), V(all.begin() + 3, all.begin() + 13));
}

// Every refusal returns its status and leaves the destination as it was: unbound stays unbound.
TEST(ProjectionRefusals, ClearStatusAndNothingWritten) {
  ScopedImage source(1, 20, 16), source16(2, 20, 16), unbound, wrongPels(1, 12, 1), coverage;
  const affineSampleParams ok = paramsOf(KIP_SAMPLE_BILINEAR, turnedRect(10, 8, 8, 6, 15), 12, 5);
  const affineSampleParams leaves = paramsOf(KIP_SAMPLE_BILINEAR, turnedRect(1, 8, 8, 6, 15), 12, 5);
  const affineSampleParams cubic = paramsOf(KIP_SAMPLE_CUBIC2, turnedRect(10, 8, 8, 6, 15), 12, 5);
  const affineSampleParams none = paramsOf(KIP_SAMPLE_BILINEAR, turnedRect(10, 8, 8, 6, 15), 0, 5);
  ScopedImage destination, vector(4, 12, 1);
  uint32_t count = 0, clip = 0;
  kimg_window sw = source.window(), dw = vector.window();
  kmath_xformLinear xform{};
  kimg_window overlapping = sw;  // destination entries in the source's own memory
  overlapping.pelSize = 4, overlapping.width = 12, overlapping.height = 1;
  kimg_image* d = destination.get();
  const struct {
    const char* what;
    int32_t status, expected;
  } cases[] = {
      {"null source", kip_affineProject(nullptr, d, &ok, nullptr, nullptr), KIP_ERR_NULL_POINTER},
      {"null out xform", kip_affineProjectWindow(&sw, &kIdentity, &dw, &ok, nullptr, nullptr, nullptr),
       KIP_ERR_NULL_POINTER},
      {"null count", kip_affineProjectClipped(source.get(), d, coverage.get(), &ok, nullptr, 255, nullptr, &clip),
       KIP_ERR_NULL_POINTER},
      {"16-bit source", kip_affineProject(source16.get(), d, &ok, nullptr, nullptr), KIP_ERR_PEL_SIZE},
      {"8-bit destination", kip_affineProject(source.get(), wrongPels.get(), &ok, nullptr, nullptr), KIP_ERR_PEL_SIZE},
      {"8-bit coverage",
       kip_affineProjectClipped(source.get(), d, wrongPels.get(), &leaves, nullptr, 255, &count, &clip),
       KIP_ERR_PEL_SIZE},
      {"unbound source", kip_affineProjectClipped16(unbound.get(), d, coverage.get(), &ok, nullptr, 255, &count, &clip),
       KIP_ERR_PROJECT_UNBOUND},
      {"leaves the source", kip_affineProject(source.get(), d, &leaves, nullptr, nullptr), KIP_ERR_PROJECT_CLIPS},
      {"no samples", kip_affineProjectClipped(source.get(), d, coverage.get(), &none, nullptr, 255, &count, &clip),
       KIP_ERR_NO_SAMPLES},
      {"16-bit cubic", kip_affineProject16(source16.get(), d, &cubic, nullptr, nullptr), KIP_ERR_MODE_UNSUPPORTED},
      {"one image for both",
       kip_affineProjectClipped(source.get(), d, d, &leaves, nullptr, 255, &count, &clip), KIP_ERR_MEMORY_OVERLAP},
      {"entries over the source", kip_affineProjectWindow(&sw, &kIdentity, &overlapping, &ok, nullptr, &xform, nullptr),
       KIP_ERR_MEMORY_OVERLAP},
  };
  for (const auto& c : cases) EXPECT_EQ(c.status, c.expected) << c.what;
  EXPECT_EQ(destination.get()->storage, nullptr);
  EXPECT_EQ(coverage.get()->storage, nullptr);
  EXPECT_EQ(count + clip, 0u);
}

// Refusals that come late (an unknown mode has no kernels; a 16-bit source too tall for 16.16
// passes the double-precision clip test of nearest sampling but not the process) must still come
// before a vector written in place is cleared.
TEST(ProjectionRefusals, LateRefusalsLeaveAnInPlaceVectorAlone) {
  ScopedImage source(1, 20, 16), tall(2, 2, 32800), vector(4, 12, 1);
  kiptest::fillRandom8(source.get(), 3);
  for (int32_t i = 0; i < 12; ++i) static_cast<uint32_t*>(vector.get()->firstPel)[i] = 1000 + i;
  const V before = entriesOf(*vector.get());
  kimg_window sw = source.window(), tw = tall.window(), dw = vector.window();
  kmath_xformLinear xform{};
  for (const uint32_t mode : {4u, 0xFFFFFFFFu}) {
    const affineSampleParams params = paramsOf(mode, turnedRect(10, 8, 8, 6, 15), 12, 5);
    EXPECT_EQ(kip_affineProject(source.get(), vector.get(), &params, nullptr, nullptr), KIP_ERR_MODE_UNSUPPORTED);
    EXPECT_EQ(kip_affineProjectWindow(&sw, &kIdentity, &dw, &params, nullptr, &xform, nullptr),
              KIP_ERR_MODE_UNSUPPORTED);
  }
  const affineSampleParams params = paramsOf(KIP_SAMPLE_NEAREST, turnedRect(1, 20000, 1, 8, 0), 12, 4);
  EXPECT_EQ(kip_affineProject16(tall.get(), vector.get(), &params, nullptr, nullptr), KIP_ERR_SOURCE_TOO_LARGE);
  EXPECT_EQ(kip_affineProjectWindow16(&tw, &kIdentity, &dw, &params, nullptr, &xform, nullptr),
            KIP_ERR_SOURCE_TOO_LARGE);
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
    kiptest::sweepAllocationFailures(
        [&] {
          return kip_affineProjectClippedWindow(&sw, &kIdentity, &dw, &cw, params, nullptr, &xform, 255, &count, &clip);
        },
        [&] { EXPECT_EQ(entriesOf(*sums.get()), before); }, cubicTable);
    EXPECT_EQ(clip, 1u);
  }
}

}  // namespace
