// Transform entry points: where the pels go for every kind of destination, refusals that leave
// the destination alone, aligned maps, the cache, kip_affine8, a float64 reference of every mode
// through the whole road, and allocation failures.
#include "cache/cache.hpp"
#include "transform_images.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

using namespace transformtest;

int32_t transform(const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                  affineSampleCache** cache = nullptr) {
  return source->pelSize == 1 ? kip_affineTransform(source, destination, params, cache)
                              : kip_affineTransform16(source, destination, params, cache);
}

void fillRandom(kimg_image* image, uint32_t seed) {
  image->pelSize == 1 ? kiptest::fillRandom8(image, seed) : kiptest::fillRandom16(image, seed);
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
  fillRandom(destination.get(), 9);
  if (kind == 4) destination.get()->xOrigin = 3, destination.get()->yOrigin = 2;
  const kimg_image before = *destination.get();
  const std::vector<uint32_t> oldPels = pelsOf(before), resultPels = pelsOf(r);
  ASSERT_EQ(transform(source.get(), destination.get(), &params), 0);
  const kimg_image& after = *destination.get();
  EXPECT_TRUE(after.firstPel == before.firstPel && after.width == before.width && after.xOrigin == before.xOrigin);
  EXPECT_TRUE(sameXform(after.imageFromClient, destinationXform(params)));
  const std::vector<uint32_t> afterPels = pelsOf(after);
  for (int32_t y = 0; y < after.height; ++y) {
    for (int32_t x = 0; x < after.width; ++x) {
      const int32_t gx = x + after.xOrigin, gy = y + after.yOrigin;
      const uint32_t want = gx < 17 && gy < 13 ? resultPels[gy * 17 + gx] : oldPels[size_t(y) * after.width + x];
      ASSERT_EQ(afterPels[size_t(y) * after.width + x], want) << "pel " << x << "," << y;
    }
  }
}

// Kinds: 0 unbound, 1 exact, 2 larger, 3 smaller, 4 placed at (3, 2).
INSTANTIATE_TEST_SUITE_P(Kinds, Destinations,
                         testing::Combine(testing::Values(1, 2), testing::Range(0, 5), testing::Bool()));

// ----------------------------------------------------------------------------------------------
// Refusals: the status, and the destinations exactly as they were (an unbound one stays unbound).

struct Images {
  ScopedImage source8{1, 40, 30}, source16{2, 40, 30};
  ScopedImage destination8{1, 17, 13}, destination16{2, 17, 13}, unbound;
  affineSampleParams params = sampling(false);
  affineSampleCache* nullHandle = nullptr;
};

struct RefusalCase {
  const char* name;
  int32_t expected;
  std::function<int32_t(Images&)> call;
};

class Refusals : public testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, LeaveTheDestinationAlone) {
  Images s;
  kiptest::fillRandom8(s.source8.get(), 1);
  kiptest::fillRandom16(s.source16.get(), 2);
  kiptest::fillRandom8(s.destination8.get(), 3);
  kiptest::fillRandom16(s.destination16.get(), 4);
  const kmath_xformLinear marked{1, 2, 3, 0, 0, 4};
  for (kimg_image* d : {s.destination8.get(), s.destination16.get()}) {
    ASSERT_EQ(kimg_image_setLinearImageFromClientXform(d, &marked), 0);
  }
  const kimg_image before8 = *s.destination8.get(), before16 = *s.destination16.get();
  const std::vector<uint32_t> pels8 = pelsOf(before8), pels16 = pelsOf(before16);
  EXPECT_EQ(GetParam().call(s), GetParam().expected);
  EXPECT_EQ(std::memcmp(s.destination8.get(), &before8, sizeof before8), 0);
  EXPECT_EQ(std::memcmp(s.destination16.get(), &before16, sizeof before16), 0);
  EXPECT_EQ(pelsOf(*s.destination8.get()), pels8);
  EXPECT_EQ(pelsOf(*s.destination16.get()), pels16);
  EXPECT_EQ(s.unbound.get()->storage, nullptr);
}

#define REFUSAL(name, status, ...) RefusalCase{name, status, [](Images& s) -> int32_t { __VA_ARGS__; }}
const RefusalCase kRefusals[] = {
    REFUSAL("NullSource", KIP_ERR_NULL_POINTER,
            return kip_affineTransform(nullptr, s.destination8.get(), &s.params, nullptr)),
    REFUSAL("NullParams", KIP_ERR_NULL_POINTER, return kip_affine8(nullptr, s.source8.get(), s.destination8.get())),
    REFUSAL("NullCacheHandle", KIP_ERR_NULL_POINTER,
            return kip_affineTransform(s.source8.get(), s.destination8.get(), &s.params, &s.nullHandle)),
    REFUSAL("UnboundSource", KIP_ERR_TRANSFORM_UNBOUND, ScopedImage unbound;
            return kip_affineTransform(unbound.get(), s.destination8.get(), &s.params, nullptr)),
    REFUSAL("SamplingLeavesTheSource", KIP_ERR_TRANSFORM_CLIPS, s.params.affineRect.tx += 25;
            return kip_affineTransform16(s.source16.get(), s.destination16.get(), &s.params, nullptr)),
    // An unbound destination is not tested for overlap (it has no storage).
    REFUSAL("SamplingLeavesTheSourceIntoUnbound", KIP_ERR_TRANSFORM_CLIPS, s.params.affineRect.ty -= 20;
            return kip_affineTransform(s.source8.get(), s.unbound.get(), &s.params, nullptr)),
    REFUSAL("NarrowDestinationFor16", KIP_ERR_PEL_SIZE,
            return kip_affineTransform16(s.source16.get(), s.destination8.get(), &s.params, nullptr)),
    REFUSAL("WideSourceFor8", KIP_ERR_PEL_SIZE,
            return kip_affineTransform(s.source16.get(), s.destination8.get(), &s.params, nullptr)),
    REFUSAL("DestinationIsTheSource", KIP_ERR_MEMORY_OVERLAP,
            return kip_affineTransform(s.destination8.get(), s.destination8.get(), &s.params, nullptr)),
    // Another record over the last rows of the destination's own pels.
    REFUSAL("DestinationSharesTheSourcePels", KIP_ERR_MEMORY_OVERLAP, ScopedImage alias;
            const kimg_image& d = *s.destination16.get();
            EXPECT_EQ(kimg_image_bindExternal(alias.get(), static_cast<uint16_t*>(d.firstPel) + 5 * d.stride, 2, 17, 8,
                                              d.stride),
                      0);
            return kip_affineTransform16(alias.get(), s.destination16.get(), &s.params, nullptr)),
    REFUSAL("Affine8SamplingLeavesTheSource", KIP_ERR_TRANSFORM_CLIPS, s.params.affineRect.tx = -3;
            return kip_affine8(&s.params, s.source8.get(), s.destination8.get())),
    REFUSAL("NoSamples", KIP_ERR_NO_SAMPLES, s.params.yCount = 0;
            return kip_affineTransform(s.source8.get(), s.destination8.get(), &s.params, nullptr)),
    REFUSAL("NotFinite", KIP_ERR_NOT_FINITE, s.params.affineRect.e1 = std::nan("");
            return kip_affineTransform16(s.source16.get(), s.destination16.get(), &s.params, nullptr)),
};
#undef REFUSAL

INSTANTIATE_TEST_SUITE_P(Cases, Refusals, testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// ----------------------------------------------------------------------------------------------
// Aligned maps, the cache, kip_affine8

// An identity map over a rectangle of the source copies its pels in every mode, from a source
// whose pel grid starts elsewhere than (0, 0).
TEST(Transform, IdentityMapCopiesTheSourceRectangleInEveryMode) {
  for (int32_t pelSize : {1, 2}) {
    ScopedImage source(pelSize, 30, 20), part(pelSize, 11, 7);
    fillRandom(source.get(), 5);
    part.get()->xOrigin = 7, part.get()->yOrigin = 3;  // the pels the rectangle covers
    ASSERT_EQ(pelSize == 1 ? kip_pelCopy8(source.get(), part.get()) : kip_pelCopy16(source.get(), part.get()), 0);
    source.get()->xOrigin = -4, source.get()->yOrigin = 6;
    for (uint32_t mode : {0u, 1u, 2u, 3u}) {
      const kmath_shapeAffineRect rect{3, 9, 11, 0, 0, 7};
      affineSampleParams params{};
      ASSERT_EQ(kip_affineSampleParams_init(&params, mode, &rect, 11, 7), 0);
      ScopedImage destination;
      ASSERT_EQ(transform(source.get(), destination.get(), &params), 0);
      EXPECT_EQ(pelsOf(*destination.get()), pelsOf(*part.get())) << "pel size " << pelSize << " mode " << mode;
    }
  }
}

// A caller's cache gives the pels of no cache, and a second call with the same geometry (into
// another destination of the same size) recomputes nothing; kip_affine8 is the 8-bit transform
// without a cache.
TEST(Transform, CacheReuseAndAffine8GiveTheSamePels) {
  affineSampleCache* cache = nullptr;
  ASSERT_EQ(kip_affineSampleCache_construct(&cache), 0);
  for (int32_t pelSize : {1, 2}) {
    ScopedImage source(pelSize, 90, 80);
    fillSmoothOf(source.get(), 7);
    for (uint32_t mode : {1u, 3u}) {
      SCOPED_TRACE("pel size " + std::to_string(pelSize) + " mode " + std::to_string(mode));
      const affineSampleParams params = turnedSampling(mode, 33, 1.3, true, 41, 37, 44.2, 40.7);
      ScopedImage uncached, first, second(pelSize, 41, 37), viaAffine8;
      ASSERT_EQ(transform(source.get(), uncached.get(), &params), 0);
      ASSERT_EQ(transform(source.get(), first.get(), &params, &cache), 0);
      const affineSampleCacheCounters last = affineSampleCache_testCounters();
      ASSERT_EQ(transform(source.get(), second.get(), &params, &cache), 0);
      const affineSampleCacheCounters now = affineSampleCache_testCounters();
      EXPECT_TRUE(now.destinationXforms == last.destinationXforms && now.alignments == last.alignments &&
                  now.tables8 == last.tables8 && now.tables16 == last.tables16);
      EXPECT_EQ(pelsOf(*first.get()), pelsOf(*uncached.get()));
      EXPECT_EQ(pelsOf(*second.get()), pelsOf(*uncached.get()));
      EXPECT_TRUE(sameXform(second.get()->imageFromClient, uncached.get()->imageFromClient));
      if (pelSize == 2) continue;
      ASSERT_EQ(kip_affine8(&params, source.get(), viaAffine8.get()), 0);
      EXPECT_EQ(pelsOf(*viaAffine8.get()), pelsOf(*uncached.get()));
      EXPECT_TRUE(sameXform(viaAffine8.get()->imageFromClient, uncached.get()->imageFromClient));
    }
  }
  EXPECT_EQ(kip_affineSampleCache_destruct(&cache), 0);
}

// A general map goes through the threaded process, which asks the hook. Forbidding the optimized
// 8-bit process changes a few bilinear pels of a smooth image by one level (as the header says)
// and no nearest pel at these counts; the 16-bit path is portable either way. Large enough to be
// split into bands.
TEST(Transform, ForbiddingTheOptimizedProcessChangesAFewPelsAtMost) {
  for (int32_t pelSize : {1, 2}) {
    ScopedImage source(pelSize, 700, 600);
    fillSmoothOf(source.get(), 9);
    for (uint32_t mode : {0u, 1u}) {
      SCOPED_TRACE("pel size " + std::to_string(pelSize) + " mode " + std::to_string(mode));
      const affineSampleParams params = turnedSampling(mode, 17, 0.9, false, 520, 480, 350.3, 300.6);
      ScopedImage optimized, portable;
      const char* hookName = pelSize == 1 ? "kip_affineProcess" : "kip_affineProcess16";
      {
        kiptest::ScopedHook hook({});
        ASSERT_EQ(transform(source.get(), optimized.get(), &params), 0);
        EXPECT_GT(kiptest::ScopedHook::askedCount(hookName), 0);
      }
      {
        kiptest::ScopedHook hook({hookName});
        ASSERT_EQ(transform(source.get(), portable.get(), &params), 0);
      }
      const std::vector<uint32_t> a = pelsOf(*optimized.get()), b = pelsOf(*portable.get());
      size_t differ = 0;
      for (size_t k = 0; k < a.size(); ++k) {
        ASSERT_LE(std::abs(int64_t(a[k]) - int64_t(b[k])), 1) << "pel " << k;
        differ += a[k] != b[k];
      }
      EXPECT_LE(differ, pelSize == 1 && mode == 1 ? a.size() * 3 / 100 : 0u);
    }
  }
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
  ScopedImage source(kPelSize<Pel>, 160, 150);
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
            if (borderDistance(x) < positionError || borderDistance(y) < positionError) {
              ++skipped;
              continue;
            }
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
                         testing::Values(std::make_tuple(1, 2u, false), std::make_tuple(1, 3u, true),
                                         std::make_tuple(2, 3u, false), std::make_tuple(2, 0u, true)));

}  // namespace
