// Normalised projections: the normalisation worked by hand on small vectors (trims, rounding,
// division by the unrounded coverage, image origins), means of nearest samples counted here, the
// fractional coverage of interpolated edge samples, and the range of unclipped calls.
#include "affineproject/affineproject.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace {

using kiptest::ScopedImage;

std::vector<uint32_t> entriesOf(const kimg_image& image) {
  const auto* first = static_cast<const uint32_t*>(image.firstPel);
  return {first, first + image.width};
}

void setEntries(kimg_image* image, int32_t xOrigin, const std::vector<uint32_t>& values) {
  ASSERT_EQ(kimg_image_assignNew(image, 4, static_cast<int32_t>(values.size()), 1), 0);
  image->xOrigin = xOrigin;
  std::copy(values.begin(), values.end(), static_cast<uint32_t*>(image->firstPel));
}

struct NormaliseCase {
  const char* name;
  int32_t xCount, sumsOrigin;
  std::vector<uint32_t> sums;
  int32_t coverOrigin;
  std::vector<uint32_t> cover, wantSums, wantCover;
  uint32_t wantStart, wantEnd, wantCount;  // a count of 99 is the caller's, untouched
};

class Normalise : public testing::TestWithParam<NormaliseCase> {};

TEST_P(Normalise, WorkedByHand) {
  const NormaliseCase& c = GetParam();
  ScopedImage sums, cover;
  setEntries(sums.get(), c.sumsOrigin, c.sums);
  setEntries(cover.get(), c.coverOrigin, c.cover);
  uint32_t count = 99, start = 99, end = 99;
  ASSERT_EQ(affineProject_normalise(sums.get(), cover.get(), 255, c.xCount, &count, &start, &end), 0);
  EXPECT_EQ(entriesOf(*sums.get()), c.wantSums);
  EXPECT_EQ(entriesOf(*cover.get()), c.wantCover);
  EXPECT_TRUE(start == c.wantStart && end == c.wantEnd && count == c.wantCount) << start << " " << end << " " << count;
  // Null outputs: the same pels.
  setEntries(sums.get(), c.sumsOrigin, c.sums);
  setEntries(cover.get(), c.coverOrigin, c.cover);
  ASSERT_EQ(affineProject_normalise(sums.get(), cover.get(), 255, c.xCount, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(entriesOf(*sums.get()), c.wantSums);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Normalise,
    testing::Values(
        // Entry 6 has 300/255 = 1.176 samples: 700 / 1.176 = 595, not 700. Entries 2, 3 and 5
        // round to no sample and become 0 inside the range; 0 and 7 are trimmed and kept as summed.
        NormaliseCase{"middleZeros", 8, 0, {9, 1000, 50, 0, 1001, 60, 700, 5}, 0,
                      {0, 255, 100, 0, 510, 127, 300, 0}, {9, 1000, 0, 0, 501, 0, 595, 5},
                      {0, 1, 0, 0, 2, 0, 1, 0}, 1, 7, 1},
        // A sliver at the start rounds to 0, is zeroed, and leaves the range.
        NormaliseCase{"sliverTrimmed", 4, 0, {0, 40, 77, 3}, 0, {0, 100, 255, 0}, {0, 0, 77, 3}, {0, 0, 1, 0}, 2, 3, 1},
        NormaliseCase{"noCoverage", 3, 0, {4, 5, 6}, 0, {0, 0, 0}, {4, 5, 6}, {0, 0, 0}, 3, 3, 99},
        // Slivers only: every entry rounds to no sample, so the range is empty and the count unwritten.
        NormaliseCase{"onlySlivers", 3, 0, {5, 9, 2}, 0, {0, 100, 20}, {5, 0, 0}, {0, 0, 0}, 3, 3, 99},
        // Only the entries both images hold, within [0, xCount).
        NormaliseCase{"origins", 6, 2, {510, 255, 100, 7, 8, 9}, -1, {255, 255, 255, 510, 255, 127, 255, 255},
                      {255, 255, 0, 7, 8, 9}, {255, 255, 255, 2, 1, 0, 1, 255}, 2, 6, 1},
        NormaliseCase{"disjoint", 4, 6, {1, 2}, 0, {255, 255, 255, 255}, {1, 2}, {255, 255, 255, 255}, 0, 0, 99}),
    [](const auto& info) { return std::string(info.param.name); });

int32_t projectNorm(int32_t pelSize, const kimg_image* source, kimg_image* destination,
                    const affineSampleParams& params, uint32_t clipped, uint32_t* count, uint32_t* start,
                    uint32_t* end) {
  return pelSize == 1 ? kip_affineProjectNorm(source, destination, &params, clipped, nullptr, count, start, end)
                      : kip_affineProjectNorm16(source, destination, &params, clipped, nullptr, count, start, end);
}

uint32_t meanOf(uint32_t sum, uint32_t coverage) {
  const double q = coverage * (1.0 / 255);
  return static_cast<uint32_t>(std::trunc(q + 0.5)) == 0 ? 0 : static_cast<uint32_t>(sum / q + 0.5);
}

affineSampleParams paramsOf(uint32_t mode, const kmath_shapeAffineRect& rect, int32_t xCount, int32_t yCount) {
  affineSampleParams params{};
  EXPECT_EQ(kip_affineSampleParams_init(&params, mode, &rect, xCount, yCount), 0);
  return params;
}

void fillRandom(kimg_image* image, uint32_t seed) {
  image->pelSize == 1 ? kiptest::fillRandom8(image, seed) : kiptest::fillRandom16(image, seed);
}

class NormalisedProjection : public testing::TestWithParam<int32_t> {};

// Nearest samples of a slanted rectangle whose left third lies outside a 12 x 8 source and whose
// columns leave it at the top or bottom: each valid entry is the rounded mean of the samples that
// fell inside, counted here. The entries lie in pel-grid row 0 whatever the destination's y
// origin: an image starting above it holds them in a lower row and keeps its other rows; one
// starting below it, or with no rows, holds none, keeps its pels and gives an empty range.
TEST_P(NormalisedProjection, NearestMeansOfInsideSamplesInPelGridRowZero) {
  const int32_t pelSize = GetParam();
  ScopedImage source(pelSize, 12, 8);
  fillRandom(source.get(), 21);
  const affineSampleParams params = paramsOf(KIP_SAMPLE_NEAREST, {-6, -3.25, 18, 0, 6, 8}, 18, 8);
  ScopedImage destination;
  uint32_t count = 0, start = 0, end = 0;
  ASSERT_EQ(projectNorm(pelSize, source.get(), destination.get(), params, 1, &count, &start, &end), 0);
  std::vector<uint32_t> want(18, 0);
  for (int c = 6; c < 18; ++c) {
    uint32_t sum = 0, inside = 0;
    for (int r = 0; r < 8; ++r) {
      const double x = -6 + c + 0.5, y = -3.25 + (c + 0.5) / 3 + r + 0.5;
      if (y < 0 || y >= 8) continue;
      sum += pelSize == 1 ? source.at<uint8_t>(int(x), int(y)) : source.at<uint16_t>(int(x), int(y));
      ++inside;
    }
    ASSERT_GT(inside, 0u);
    want[c] = meanOf(sum, 255 * inside);
  }
  EXPECT_EQ(entriesOf(*destination.get()), want);
  EXPECT_TRUE(count == 1 && start == 6 && end == 18);

  ScopedImage above(4, 18, 3), below(4, 18, 2), empty(4, 18, 0);
  std::fill_n(static_cast<uint32_t*>(above.get()->firstPel), 3 * 18, 777u);
  std::fill_n(static_cast<uint32_t*>(below.get()->firstPel), 2 * 18, 777u);
  above.get()->yOrigin = -1;
  below.get()->yOrigin = 1;
  start = end = 0;
  ASSERT_EQ(projectNorm(pelSize, source.get(), above.get(), params, 1, &count, &start, &end), 0);
  const auto* pels = static_cast<const uint32_t*>(above.get()->firstPel);
  std::vector<uint32_t> wantAbove(18, 777u);
  wantAbove.insert(wantAbove.end(), want.begin(), want.end());
  wantAbove.resize(54, 777u);
  EXPECT_EQ(std::vector<uint32_t>(pels, pels + 54), wantAbove);
  EXPECT_TRUE(start == 6 && end == 18);
  for (kimg_image* image : {below.get(), empty.get()}) {
    count = 99, start = 99, end = 99;
    ASSERT_EQ(projectNorm(pelSize, source.get(), image, params, 1, &count, &start, &end), 0);
    EXPECT_TRUE(start == 0 && end == 0 && count == 99);
  }
  pels = static_cast<const uint32_t*>(below.get()->firstPel);
  EXPECT_EQ(std::vector<uint32_t>(pels, pels + 36), std::vector<uint32_t>(36, 777u));
}

// Bilinear samples straddling the source's edge count with a fraction of a sample: every mean is
// its sum over the unrounded coverage of the clipped projection.
TEST_P(NormalisedProjection, InterpolatedEdgeSamplesCountWithTheirFraction) {
  const int32_t pelSize = GetParam();
  ScopedImage source(pelSize, 20, 14);
  fillRandom(source.get(), 22);
  const double a = 15 * std::numbers::pi / 180;
  const affineSampleParams params = paramsOf(
      KIP_SAMPLE_BILINEAR, {-5.3, 2.1, 16 * std::cos(a), -9 * std::sin(a), 16 * std::sin(a), 9 * std::cos(a)}, 23, 11);
  ScopedImage sums, coverage, destination;
  uint32_t largest = 0, clipped = 0, count = 0, start = 0, end = 0;
  const auto projectClipped = pelSize == 1 ? kip_affineProjectClipped : kip_affineProjectClipped16;
  ASSERT_EQ(projectClipped(source.get(), sums.get(), coverage.get(), &params, nullptr, 255, &largest, &clipped), 0);
  ASSERT_EQ(clipped, 1u);
  ASSERT_EQ(projectNorm(pelSize, source.get(), destination.get(), params, 1, &count, &start, &end), 0);

  const std::vector<uint32_t> s = entriesOf(*sums.get()), c = entriesOf(*coverage.get());
  const std::vector<uint32_t> got = entriesOf(*destination.get());
  uint32_t first = 23, last = 0;
  bool fractionMatters = false;
  for (uint32_t i = 0; i < 23; ++i) {
    const uint32_t n = static_cast<uint32_t>(c[i] * (1.0 / 255) + 0.5);
    if (n == 0) continue;
    first = std::min(first, i), last = std::max(last, i);
    EXPECT_EQ(got[i], meanOf(s[i], c[i])) << "entry " << i;
    fractionMatters |= meanOf(s[i], c[i]) != static_cast<uint32_t>(s[i] / double(n) + 0.5);
  }
  EXPECT_TRUE(fractionMatters) << "no entry tells the unrounded divisor from the rounded one";
  EXPECT_TRUE(start == first && end == last + 1 && count == 1);
}

// Inside the source either way of calling gives the raw sums, the y count and the held range; a
// destination at x origin 3, 10 wide, holds [3, 13) of 20 entries.
TEST_P(NormalisedProjection, InsideGivesRawSums) {
  const int32_t pelSize = GetParam();
  ScopedImage source(pelSize, 40, 30), plain;
  fillRandom(source.get(), 23);
  const affineSampleParams params = paramsOf(KIP_SAMPLE_BILINEAR, {8.2, 6.1, 20, 3, 4, 15}, 20, 9);
  ASSERT_EQ((pelSize == 1 ? kip_affineProject : kip_affineProject16)(source.get(), plain.get(), &params, nullptr,
                                                                       nullptr),
            0);
  for (uint32_t clipped : {0u, 1u}) {
    ScopedImage unbound, placed(4, 10, 1);
    placed.get()->xOrigin = 3;
    uint32_t count = 0, start = 99, end = 99;
    ASSERT_EQ(projectNorm(pelSize, source.get(), unbound.get(), params, clipped, &count, &start, &end), 0);
    EXPECT_EQ(entriesOf(*unbound.get()), entriesOf(*plain.get()));
    EXPECT_TRUE(count == 9 && start == 0 && end == 20);
    ASSERT_EQ(projectNorm(pelSize, source.get(), placed.get(), params, clipped, nullptr, &start, &end), 0);
    EXPECT_TRUE(start == 3 && end == 13);
  }
}

TEST_P(NormalisedProjection, RefusalsWriteNothing) {
  const int32_t pelSize = GetParam();
  ScopedImage source(pelSize, 12, 8), destination;
  const affineSampleParams leaves = paramsOf(KIP_SAMPLE_BILINEAR, {-3, 1, 10, 0, 0, 5}, 10, 5);
  const affineSampleParams outside = paramsOf(KIP_SAMPLE_BILINEAR, {30, 1, 10, 0, 0, 5}, 10, 5);
  uint32_t count = 99, start = 99, end = 99;
  EXPECT_EQ(projectNorm(pelSize, source.get(), destination.get(), leaves, 0, &count, &start, &end),
            KIP_ERR_PROJECT_CLIPS);
  EXPECT_EQ(projectNorm(pelSize, source.get(), destination.get(), outside, 1, &count, &start, &end),
            KIP_ERR_PROJECT_NO_OVERLAP);
  EXPECT_EQ(projectNorm(pelSize, nullptr, destination.get(), leaves, 1, &count, &start, &end), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(count + start + end, 3 * 99u);
  EXPECT_EQ(destination.get()->storage, nullptr);
  // The same clipping sampling with every out value null.
  EXPECT_EQ(projectNorm(pelSize, source.get(), destination.get(), leaves, 1, nullptr, nullptr, nullptr), 0);
}

INSTANTIATE_TEST_SUITE_P(PelSizes, NormalisedProjection, testing::Values(1, 2),
                         [](const auto& info) { return std::to_string(8 * info.param) + "bit"; });

}  // namespace
