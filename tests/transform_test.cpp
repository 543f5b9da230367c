// Transform entry points: where the pels go for every kind of destination, refusals that leave
// the destination alone, a float64 reference of every mode through the whole road, and allocation
// failures.
#include "transform_images.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace transformtest;

int32_t transform(const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                  affineSampleCache** cache = nullptr) {
  return source->pelSize == 1 ? kip_affineTransform(source, destination, params, cache)
                              : kip_affineTransform16(source, destination, params, cache);
}

void fillSmoothOf(kimg_image* image, uint32_t seed) {
  image->pelSize == 1 ? fillSmooth<uint8_t>(image, seed) : fillSmooth<uint16_t>(image, seed);
}

// A 17 x 13 sampling of a 40 x 30 source: a bilinear turn by 25 degrees, or an exact quarter turn
// (corners on whole pels, one pel a sample), which goes to the aligned path.
affineSampleParams sampling(bool aligned) {
  return aligned ? turnedSampling(KIP_SAMPLE_CUBIC2, 90, 1, false, 17, 13, 20.5, 15.5)
                 : turnedSampling(KIP_SAMPLE_BILINEAR, 25, 0.9, false, 17, 13, 20.3, 15.1);
}

// ----------------------------------------------------------------------------------------------
// Destinations: unbound, exact, larger, smaller, or placed at (3, 2) in the pel grid.

class Destinations : public testing::TestWithParam<std::tuple<int32_t, int, bool>> {};

// The result into an unbound destination is the reference; every other destination must hold it
// at the same pel-grid places, keep its storage and every pel outside the result, and take the
// destination transform.
TEST_P(Destinations, HoldTheResultAtItsPelGridPlaces) {
  const auto [pelSize, kind, aligned] = GetParam();
  ScopedImage source(pelSize, 40, 30), result;
  fillSmoothOf(source.get(), 3);
  const affineSampleParams params = sampling(aligned);
  ASSERT_EQ(transform(source.get(), result.get(), &params), 0);
  const kimg_image& r = *result.get();
  ASSERT_TRUE(r.pelSize == pelSize && r.width == 17 && r.height == 13 && r.xOrigin == 0 && r.yOrigin == 0);
  EXPECT_TRUE(sameXform(r.imageFromClient, destinationXform(params)));
  if (kind == 0) return;

  const int32_t width[] = {0, 17, 23, 10, 20}, height[] = {0, 13, 19, 8, 20};
  ScopedImage destination(pelSize, width[kind], height[kind]);
  pelSize == 1 ? kiptest::fillRandom8(destination.get(), 9) : kiptest::fillRandom16(destination.get(), 9);
  if (kind == 4) destination.get()->xOrigin = 3, destination.get()->yOrigin = 2;
  const kimg_image before = *destination.get();
  const std::vector<uint32_t> oldPels = pelsOf(before), resultPels = pelsOf(r);
  ASSERT_EQ(transform(source.get(), destination.get(), &params), 0);
  const kimg_image& after = *destination.get();
  EXPECT_TRUE(after.firstPel == before.firstPel && after.width == before.width && after.xOrigin == before.xOrigin);
  EXPECT_TRUE(sameXform(after.imageFromClient, destinationXform(params)));
  const std::vector<uint32_t> afterPels = pelsOf(after);
  for (int32_t y = 0; y < after.height; ++y)
    for (int32_t x = 0; x < after.width; ++x) {
      const int32_t gx = x + after.xOrigin, gy = y + after.yOrigin;
      const uint32_t want = gx < 17 && gy < 13 ? resultPels[gy * 17 + gx] : oldPels[size_t(y) * after.width + x];
      ASSERT_EQ(afterPels[size_t(y) * after.width + x], want) << "pel " << x << "," << y;
    }
}

// Kinds: 0 unbound, 1 exact, 2 larger, 3 smaller, 4 placed at (3, 2).
INSTANTIATE_TEST_SUITE_P(Kinds, Destinations,
                         testing::Combine(testing::Values(1, 2), testing::Range(0, 5), testing::Bool()));

// Refusals: one per status, and the destinations exactly as they were (an unbound one stays unbound).

TEST(Refusals, LeaveTheDestinationAlone) {
  ScopedImage source8(1, 40, 30), source16(2, 40, 30), d8(1, 17, 13), d16(2, 17, 13), unbound, alias;
  kiptest::fillRandom8(d8.get(), 3);
  kiptest::fillRandom16(d16.get(), 4);
  const kimg_image before8 = *d8.get(), before16 = *d16.get();
  const std::vector<uint32_t> pels8 = pelsOf(before8), pels16 = pelsOf(before16);
  affineSampleParams ok = sampling(false), leaves = ok, none = ok, nan = ok;
  leaves.affineRect.tx += 25, none.yCount = 0, nan.affineRect.e1 = std::nan("");
  // Another record over the last rows of the destination's own pels.
  const int32_t stride = d16.get()->stride;
  ASSERT_EQ(kimg_image_bindExternal(alias.get(), static_cast<uint16_t*>(d16.get()->firstPel) + 5 * stride, 2, 17, 8, stride), 0);
  EXPECT_EQ(kip_affineTransform(nullptr, d8.get(), &ok, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kip_affineTransform(unbound.get(), d8.get(), &ok, nullptr), KIP_ERR_TRANSFORM_UNBOUND);
  EXPECT_EQ(kip_affineTransform16(source16.get(), d16.get(), &leaves, nullptr), KIP_ERR_TRANSFORM_CLIPS);
  EXPECT_EQ(kip_affineTransform(source8.get(), unbound.get(), &leaves, nullptr), KIP_ERR_TRANSFORM_CLIPS);
  EXPECT_EQ(kip_affineTransform16(source16.get(), d8.get(), &ok, nullptr), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(kip_affineTransform16(alias.get(), d16.get(), &ok, nullptr), KIP_ERR_MEMORY_OVERLAP);
  EXPECT_EQ(kip_affineTransform(source8.get(), d8.get(), &none, nullptr), KIP_ERR_NO_SAMPLES);
  EXPECT_EQ(kip_affineTransform16(source16.get(), d16.get(), &nan, nullptr), KIP_ERR_NOT_FINITE);
  EXPECT_EQ(std::memcmp(d8.get(), &before8, sizeof before8), 0);
  EXPECT_EQ(std::memcmp(d16.get(), &before16, sizeof before16), 0);
  EXPECT_TRUE(pelsOf(*d8.get()) == pels8 && pelsOf(*d16.get()) == pels16);
  EXPECT_EQ(unbound.get()->storage, nullptr);
}

// ----------------------------------------------------------------------------------------------
// End to end against a float64 reference on smooth images: every mode, both depths, turns,
// reductions, magnifications and mirrors, from a source whose pel grid starts at (-13, 7) and
// whose client coordinates are half its pels, shifted. A wrong half-pel convention, axis order or
// source transform shows as several levels on these slopes.

class AgainstReference : public testing::TestWithParam<std::tuple<int32_t, uint32_t>> {
 protected:
  template <class Pel>
  void run();
};

// Tolerances in 8-bit levels, below and above. Nearest: the pel that holds the point, except on a
// pel border to within the 16.16 position's precision. Bilinear: a level (8-bit drivers round
// differently) plus what the position's error can move the value. The two-pass modes interpolate
// along the map's axes, not the source's, and the 8-bit ones truncate (as the engine's own tests
// allow, plus a level where tiles restart).
template <class Pel>
void AgainstReference::run() {
  const uint32_t mode = std::get<1>(GetParam());
  ScopedImage source(static_cast<int32_t>(sizeof(Pel)), 160, 150);
  fillSmooth<Pel>(source.get(), 21);
  source.get()->xOrigin = -13, source.get()->yOrigin = 7;
  const kmath_xformLinear xform{4, -3, 2, 0, 0, 2};
  ASSERT_EQ(kimg_image_setLinearImageFromClientXform(source.get(), &xform), 0);
  const bool eight = sizeof(Pel) == 1;
  const double unit = 1 / kLevel<Pel>;  // one level of the pel itself
  double low = eight ? -1.5 : -2 * unit, high = -low;
  if (mode == KIP_SAMPLE_LINEAR2) low = eight ? -3.25 : -0.3 - unit, high = eight ? 1.5 : 0.3 + unit;
  if (mode == KIP_SAMPLE_CUBIC2) low = eight ? -2.25 : -0.15 - unit, high = -low;

  int64_t checked = 0, skipped = 0;
  for (int step = 0; step < 12; ++step) {
    for (double pitch : {0.45, 1.0, 2.3}) {
      const double angle = 31.0 * step;
      const int32_t n = std::min(60, static_cast<int32_t>(90 / pitch));
      const affineSampleParams params = turnedSampling(mode, angle, pitch, step % 2 == 1, n, n * 3 / 4, 67.6, 81.3, xform);
      ScopedImage destination;
      ASSERT_EQ(transform(source.get(), destination.get(), &params), 0) << angle << " " << pitch;
      for (int32_t j = 0; j < params.yCount; ++j) {
        for (int32_t i = 0; i < params.xCount; ++i) {
          double x, y, slope = 0;
          samplePoint(params, xform, i, j, &x, &y);
          const double expected = reference<Pel>(*source.get(), mode, x, y, &slope);
          const double got = stored<Pel>(*destination.get(), i, j);
          const double positionError = (2.0 + i + j) / 65536;
          if (mode == KIP_SAMPLE_NEAREST) {
            if (borderDistance(x) < positionError || borderDistance(y) < positionError) { ++skipped; continue; }
            ASSERT_EQ(got, expected) << "angle " << angle << " pitch " << pitch << " at " << i << "," << j;
          } else {
            const double margin = 2 * slope * positionError / kLevel<Pel>;
            const double deviation = (got - expected) / kLevel<Pel>;
            ASSERT_TRUE(deviation >= low - margin && deviation <= high + margin)
                << deviation << " levels, angle " << angle << " pitch " << pitch << " at " << i << "," << j;
          }
          ++checked;
        }
      }
    }
  }
  EXPECT_LT(skipped, checked / 50);
}

TEST_P(AgainstReference, WithinTolerance) {
  std::get<0>(GetParam()) == 2 ? run<uint16_t>() : run<uint8_t>();
}

INSTANTIATE_TEST_SUITE_P(Modes, AgainstReference, testing::Combine(testing::Values(1, 2), testing::Range(0u, 4u)));

// ----------------------------------------------------------------------------------------------
// Allocation failures with a cache made and released inside each run (the sweep over every export
// covers caller-held caches): each returns KIP_ERR_OUT_OF_MEMORY, leaks nothing and leaves the
// destination as it was.

class AllocationFailures : public testing::TestWithParam<std::tuple<int32_t, uint32_t, bool>> {};

TEST_P(AllocationFailures, ReturnTheirStatusAndLeakNothing) {
  const auto [pelSize, mode, boundDestination] = GetParam();
  ASSERT_EQ(kip_affineTransform_setup(), 0);  // the process-wide cubic table is no leak
  ScopedImage source(pelSize, 60, 50), destination;
  fillSmoothOf(source.get(), 2);
  if (boundDestination) ASSERT_EQ(kimg_image_assignNew(destination.get(), pelSize, 12, 40), 0);
  const void* pels = destination.get()->firstPel;
  const affineSampleParams params = turnedSampling(mode, 40, 1.2, false, 30, 24, 30.5, 25.5);
  const auto call = [&]() -> int32_t {
    affineSampleCache* cache = nullptr;
    const int32_t made = kip_affineSampleCache_construct(&cache);
    if (made < 0) return made;
    const int32_t status = transform(source.get(), destination.get(), &params, &cache);
    kip_affineSampleCache_destruct(&cache);
    return status;
  };
  EXPECT_GT(kiptest::sweepAllocationFailures(call, [&] {
              EXPECT_EQ(destination.get()->firstPel, pels);
              EXPECT_TRUE(sameXform(destination.get()->imageFromClient, kIdentity));
            }),
            0);
}

INSTANTIATE_TEST_SUITE_P(Cases, AllocationFailures,
                         testing::Values(std::make_tuple(1, 3u, true), std::make_tuple(2, 1u, false)));

}  // namespace
