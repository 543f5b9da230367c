// Normalised projections: the normalisation worked by hand on small vectors (trims, rounding,
// division by the unrounded coverage, image origins), means of nearest samples counted here, the
// fractional coverage of interpolated edge samples, the raw sums of unclipped calls, refusals.
#include "affineproject/affineproject.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using kiptest::ScopedImage;
using V = std::vector<uint32_t>;

V entriesOf(const kimg_image& image) { const auto* f = static_cast<const uint32_t*>(image.firstPel); return {f, f + image.width}; }

void setEntries(kimg_image* image, int32_t xOrigin, const V& values) {
  ASSERT_EQ(kimg_image_assignNew(image, 4, static_cast<int32_t>(values.size()), 1), 0);
  image->xOrigin = xOrigin;
  std::copy(values.begin(), values.end(), static_cast<uint32_t*>(image->firstPel));
}

// A count of 99 is the caller's, untouched.
struct NormaliseCase { int32_t xCount, sumsOrigin; V sums; int32_t coverOrigin; V cover, wantSums, wantCover; uint32_t wantStart, wantEnd, wantCount; };

class Normalise : public testing::TestWithParam<NormaliseCase> {};

TEST_P(Normalise, WorkedByHand) {
  const NormaliseCase& c = GetParam();
  ScopedImage sums, cover;
  setEntries(sums.get(), c.sumsOrigin, c.sums);
  setEntries(cover.get(), c.coverOrigin, c.cover);
  uint32_t count = 99, start = 99, end = 99;
  ASSERT_EQ(affineProject_normalise(sums.get(), cover.get(), 255, c.xCount, &count, &start, &end), 0);
  EXPECT_TRUE(entriesOf(*sums.get()) == c.wantSums && entriesOf(*cover.get()) == c.wantCover);
  EXPECT_TRUE(start == c.wantStart && end == c.wantEnd && count == c.wantCount) << start << " " << end << " " << count;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Normalise,
    testing::Values(
        // Entry 6 has 300/255 = 1.176 samples: 700 / 1.176 = 595, not 700. Entries 2, 3 and 5
        // round to no sample and become 0 inside the range; 0 and 7 are trimmed and kept as summed.
        NormaliseCase{8, 0, {9, 1000, 50, 0, 1001, 60, 700, 5}, 0, {0, 255, 100, 0, 510, 127, 300, 0},
                      {9, 1000, 0, 0, 501, 0, 595, 5}, {0, 1, 0, 0, 2, 0, 1, 0}, 1, 7, 1},
        // Slivers only: every entry rounds to no sample, so the range is empty and the count unwritten.
        NormaliseCase{3, 0, {5, 9, 2}, 0, {0, 100, 20}, {5, 0, 0}, {0, 0, 0}, 3, 3, 99},
        // Only the entries both images hold, within [0, xCount).
        NormaliseCase{6, 2, {510, 255, 100, 7, 8, 9}, -1, {255, 255, 255, 510, 255, 127, 255, 255},
                      {255, 255, 0, 7, 8, 9}, {255, 255, 255, 2, 1, 0, 1, 255}, 2, 6, 1}));

int32_t projectNorm(int32_t pelSize, const kimg_image* source, kimg_image* destination, const affineSampleParams& params,
                    uint32_t clipped, uint32_t* count = nullptr, uint32_t* start = nullptr, uint32_t* end = nullptr) {
  return pelSize == 1 ? kip_affineProjectNorm(source, destination, &params, clipped, nullptr, count, start, end)
                      : kip_affineProjectNorm16(source, destination, &params, clipped, nullptr, count, start, end);
}

uint32_t meanOf(uint32_t sum, uint32_t coverage) {
  const double q = coverage * (1.0 / 255);
  return static_cast<uint32_t>(std::trunc(q + 0.5)) == 0 ? 0 : static_cast<uint32_t>(sum / q + 0.5);
}

class NormalisedProjection : public testing::TestWithParam<int32_t> {
 protected:
  ScopedImage source{GetParam(), 20, 14};
  void SetUp() override { GetParam() == 1 ? kiptest::fillRandom8(source.get(), 21) : kiptest::fillRandom16(source.get(), 21); }
};

// Nearest samples of a slanted rectangle whose left third lies outside the source and whose columns
// leave it at the top or bottom: each valid entry is the rounded mean of the samples that fell
// inside, counted here.
TEST_P(NormalisedProjection, NearestMeansOfInsideSamples) {
  const affineSampleParams params{{-6, -3.25, 18, 0, 6, 14}, KIP_SAMPLE_NEAREST, 18, 14};
  ScopedImage destination;
  uint32_t count = 0, start = 0, end = 0;
  ASSERT_EQ(projectNorm(GetParam(), source.get(), destination.get(), params, 1, &count, &start, &end), 0);
  V want(18, 0);
  for (int c = 6; c < 18; ++c) {
    uint32_t sum = 0, inside = 0;
    for (int r = 0; r < 14; ++r) {
      const int x = c - 6, y = static_cast<int>(std::floor(-3.25 + (c + 0.5) / 3 + r + 0.5));
      if (y < 0 || y >= 14) continue;
      sum += GetParam() == 1 ? source.at<uint8_t>(x, y) : source.at<uint16_t>(x, y), ++inside;
    }
    want[c] = meanOf(sum, 255 * inside);
  }
  EXPECT_EQ(entriesOf(*destination.get()), want);
  EXPECT_TRUE(count == 1 && start == 6 && end == 18);
}

// Bilinear samples straddling the source's edge count with a fraction of a sample: every mean is
// its sum over the unrounded coverage of the clipped projection. Unclipped calls inside the source
// give the raw sums.
TEST_P(NormalisedProjection, InterpolatedEdgeSamplesCountWithTheirFraction) {
  const affineSampleParams params{{-5.3, 2.1, 15.5, -2.3, 4.1, 8.7}, KIP_SAMPLE_BILINEAR, 23, 11};
  ScopedImage sums, coverage, destination, plain, raw;
  uint32_t largest = 0, clipped = 0;
  const auto projectClipped = GetParam() == 1 ? kip_affineProjectClipped : kip_affineProjectClipped16;
  ASSERT_EQ(projectClipped(source.get(), sums.get(), coverage.get(), &params, nullptr, 255, &largest, &clipped), 0);
  ASSERT_EQ(projectNorm(GetParam(), source.get(), destination.get(), params, 1), 0);
  const V s = entriesOf(*sums.get()), c = entriesOf(*coverage.get()), got = entriesOf(*destination.get());
  bool fractionMatters = false;
  for (uint32_t i = 0; i < 23; ++i) {
    const uint32_t n = static_cast<uint32_t>(c[i] * (1.0 / 255) + 0.5);
    if (n == 0) continue;
    EXPECT_EQ(got[i], meanOf(s[i], c[i])) << "entry " << i;
    fractionMatters |= meanOf(s[i], c[i]) != static_cast<uint32_t>(s[i] / double(n) + 0.5);
  }
  EXPECT_TRUE(clipped == 1 && fractionMatters) << "no entry tells the unrounded divisor from the rounded one";
  const affineSampleParams inside{{3.2, 2.1, 10, 2, 3, 6}, KIP_SAMPLE_BILINEAR, 20, 9};
  ASSERT_EQ((GetParam() == 1 ? kip_affineProject : kip_affineProject16)(source.get(), plain.get(), &inside, nullptr, nullptr), 0);
  ASSERT_EQ(projectNorm(GetParam(), source.get(), raw.get(), inside, 0), 0);
  EXPECT_EQ(entriesOf(*raw.get()), entriesOf(*plain.get()));
}

TEST_P(NormalisedProjection, RefusalsWriteNothing) {
  ScopedImage destination;
  const affineSampleParams leaves{{-3, 1, 10, 0, 0, 5}, KIP_SAMPLE_BILINEAR, 10, 5}, outside{{30, 1, 10, 0, 0, 5}, KIP_SAMPLE_BILINEAR, 10, 5};
  uint32_t count = 99, start = 99, end = 99;
  EXPECT_EQ(projectNorm(GetParam(), source.get(), destination.get(), leaves, 0, &count, &start, &end), KIP_ERR_PROJECT_CLIPS);
  EXPECT_EQ(projectNorm(GetParam(), source.get(), destination.get(), outside, 1, &count, &start, &end), KIP_ERR_PROJECT_NO_OVERLAP);
  EXPECT_EQ(projectNorm(GetParam(), nullptr, destination.get(), leaves, 1, &count, &start, &end), KIP_ERR_NULL_POINTER);
  EXPECT_TRUE(count + start + end == 3 * 99u && destination.get()->storage == nullptr);
}

INSTANTIATE_TEST_SUITE_P(PelSizes, NormalisedProjection, testing::Values(1, 2));

}  // namespace
