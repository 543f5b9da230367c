// Transform entry points: where the pels go for every kind of destination, refusals that leave
// the destination alone, aligned maps, the cache, kip_affine8, a float64 reference of every mode
// through the whole road, and every allocation failure.
#include "cache/cache.hpp"
#include "transform_images.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

using namespace transformtest;

constexpr kmath_xformLinear kIdentity{0, 0, 1, 0, 0, 1};

template <class Pel>
int32_t transform(const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                  affineSampleCache** cache = nullptr) {
  if constexpr (sizeof(Pel) == 1) {
    return kip_affineTransform(source, destination, params, cache);
  } else {
    return kip_affineTransform16(source, destination, params, cache);
  }
}

template <class Pel>
void fillPattern(kimg_image* image, uint32_t seed) {
  if constexpr (sizeof(Pel) == 1) {
    kiptest::fillRandom8(image, seed);
  } else {
    kiptest::fillRandom16(image, seed);
  }
}

// Every pel of an image, row after row, as 32-bit values.
std::vector<uint32_t> pelsOf(const kimg_image& image) {
  std::vector<uint32_t> pels;
  for (int32_t y = 0; y < image.height; ++y) {
    for (int32_t x = 0; x < image.width; ++x) {
      pels.push_back(image.pelSize == 1 ? stored<uint8_t>(image, x, y) : stored<uint16_t>(image, x, y));
    }
  }
  return pels;
}

bool sameXform(const kmath_xformLinear& a, const kmath_xformLinear& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

kmath_xformLinear destinationXform(const affineSampleParams& params) {
  kmath_xformLinear xform{};
  EXPECT_EQ(kip_affineSampleParams_getDestImageFromClientXform(&params, 0, &xform), 0);
  return xform;
}

// A 17 x 13 sampling of a 40 x 30 source: a bilinear turn by 25 degrees, or an exact quarter turn
// (corners on whole pels, one pel a sample), which goes to the aligned path.
affineSampleParams sampling(bool aligned) {
  return aligned ? turnedSampling(KIP_SAMPLE_CUBIC2, 90, 1, false, 17, 13, 20.5, 15.5)
                 : turnedSampling(KIP_SAMPLE_BILINEAR, 25, 0.9, false, 17, 13, 20.3, 15.1);
}

// ----------------------------------------------------------------------------------------------
// Destinations

enum class Kind { unbound, exact, larger, smaller, offset };

struct DestinationCase {
  bool sixteenBit;
  Kind kind;
  bool aligned;
};

void PrintTo(const DestinationCase& c, std::ostream* os) {
  *os << (c.sixteenBit ? 16 : 8) << "-bit kind " << int(c.kind) << (c.aligned ? " aligned" : " general");
}

std::string destinationName(const testing::TestParamInfo<DestinationCase>& info) {
  const char* kinds[] = {"Unbound", "Exact", "Larger", "Smaller", "Offset"};
  return std::string(info.param.sixteenBit ? "Sixteen" : "Eight") + kinds[int(info.param.kind)] +
         (info.param.aligned ? "Aligned" : "General");
}

class Destinations : public testing::TestWithParam<DestinationCase> {
 protected:
  template <class Pel>
  void run();
};

// The result into an unbound destination is the reference; every other destination must hold it
// at the same pel-grid places, keep its storage and every pel outside the result, and take the
// destination transform.
template <class Pel>
void Destinations::run() {
  const DestinationCase& c = GetParam();
  ScopedImage source(kPelSize<Pel>, 40, 30);
  fillSmooth<Pel>(source.get(), 3);
  const affineSampleParams params = sampling(c.aligned);
  ScopedImage result;
  ASSERT_EQ(transform<Pel>(source.get(), result.get(), &params), 0);
  ASSERT_EQ(result.get()->pelSize, kPelSize<Pel>);
  ASSERT_EQ(result.get()->width, 17);
  ASSERT_EQ(result.get()->height, 13);
  EXPECT_EQ(result.get()->xOrigin, 0);
  EXPECT_EQ(result.get()->yOrigin, 0);
  EXPECT_TRUE(sameXform(result.get()->imageFromClient, destinationXform(params)));
  if (c.kind == Kind::unbound) return;

  const int32_t width[] = {0, 17, 23, 10, 20}, height[] = {0, 13, 19, 8, 20};
  ScopedImage destination(kPelSize<Pel>, width[int(c.kind)], height[int(c.kind)]);
  fillPattern<Pel>(destination.get(), 9);
  if (c.kind == Kind::offset) destination.get()->xOrigin = 3, destination.get()->yOrigin = 2;
  const kimg_image before = *destination.get();
  const std::vector<uint32_t> oldPels = pelsOf(before);
  ASSERT_EQ(transform<Pel>(source.get(), destination.get(), &params), 0);

  const kimg_image& after = *destination.get();
  EXPECT_EQ(after.firstPel, before.firstPel);
  EXPECT_EQ(after.width, before.width);
  EXPECT_EQ(after.xOrigin, before.xOrigin);
  EXPECT_TRUE(sameXform(after.imageFromClient, destinationXform(params)));
  for (int32_t y = 0; y < after.height; ++y) {
    for (int32_t x = 0; x < after.width; ++x) {
      const int32_t gx = x + after.xOrigin, gy = y + after.yOrigin;
      const bool written = gx < 17 && gy < 13;
      const uint32_t want = written ? stored<Pel>(*result.get(), gx, gy) : oldPels[size_t(y) * after.width + x];
      ASSERT_EQ(stored<Pel>(after, x, y), want) << "pel " << x << "," << y;
    }
  }
}

TEST_P(Destinations, HoldTheResultAtItsPelGridPlaces) {
  if (GetParam().sixteenBit) {
    run<uint16_t>();
  } else {
    run<uint8_t>();
  }
}

std::vector<DestinationCase> destinationCases() {
  std::vector<DestinationCase> cases;
  for (bool sixteen : {false, true}) {
    for (Kind kind : {Kind::unbound, Kind::exact, Kind::larger, Kind::smaller, Kind::offset}) {
      for (bool aligned : {false, true}) cases.push_back({sixteen, kind, aligned});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Kinds, Destinations, testing::ValuesIn(destinationCases()), destinationName);

// ----------------------------------------------------------------------------------------------
// Refusals: the status, and a destination exactly as it was.

struct Images {
  ScopedImage source8{1, 40, 30}, source16{2, 40, 30};
  ScopedImage destination8{1, 17, 13}, destination16{2, 17, 13};
  affineSampleParams params = sampling(false);
  affineSampleCache* nullHandle = nullptr;
};

struct RefusalCase {
  const char* name;
  int32_t expected;
  std::function<int32_t(Images&)> call;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

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
}

const RefusalCase kRefusals[] = {
    {"NullSource", KIP_ERR_NULL_POINTER,
     [](Images& s) { return kip_affineTransform(nullptr, s.destination8.get(), &s.params, nullptr); }},
    {"NullDestination", KIP_ERR_NULL_POINTER,
     [](Images& s) { return kip_affineTransform16(s.source16.get(), nullptr, &s.params, nullptr); }},
    {"NullParams", KIP_ERR_NULL_POINTER,
     [](Images& s) { return kip_affine8(nullptr, s.source8.get(), s.destination8.get()); }},
    {"NullCacheHandle", KIP_ERR_NULL_POINTER,
     [](Images& s) { return kip_affineTransform(s.source8.get(), s.destination8.get(), &s.params, &s.nullHandle); }},
    {"UnboundSource", KIP_ERR_TRANSFORM_UNBOUND,
     [](Images& s) {
       ScopedImage unbound;
       return kip_affineTransform(unbound.get(), s.destination8.get(), &s.params, nullptr);
     }},
    {"SamplingLeavesTheSource", KIP_ERR_TRANSFORM_CLIPS,
     [](Images& s) {
       s.params.affineRect.tx += 25;
       return kip_affineTransform16(s.source16.get(), s.destination16.get(), &s.params, nullptr);
     }},
    {"WideDestinationFor8", KIP_ERR_PEL_SIZE,
     [](Images& s) { return kip_affineTransform(s.source8.get(), s.destination16.get(), &s.params, nullptr); }},
    {"NarrowDestinationFor16", KIP_ERR_PEL_SIZE,
     [](Images& s) { return kip_affineTransform16(s.source16.get(), s.destination8.get(), &s.params, nullptr); }},
    {"WideSourceFor8", KIP_ERR_PEL_SIZE,
     [](Images& s) { return kip_affineTransform(s.source16.get(), s.destination8.get(), &s.params, nullptr); }},
    {"DestinationIsTheSource", KIP_ERR_MEMORY_OVERLAP,
     [](Images& s) { return kip_affineTransform(s.destination8.get(), s.destination8.get(), &s.params, nullptr); }},
    {"DestinationSharesTheSourcePels", KIP_ERR_MEMORY_OVERLAP,
     [](Images& s) {
       // Another record over the last rows of the destination's own pels.
       ScopedImage alias;
       const kimg_image& d = *s.destination16.get();
       EXPECT_EQ(kimg_image_bindExternal(alias.get(), static_cast<uint16_t*>(d.firstPel) + 5 * d.stride, 2, 17, 8,
                                         d.stride),
                 0);
       return kip_affineTransform16(alias.get(), s.destination16.get(), &s.params, nullptr);
     }},
    {"NoSamples", KIP_ERR_NO_SAMPLES,
     [](Images& s) {
       s.params.yCount = 0;
       return kip_affineTransform(s.source8.get(), s.destination8.get(), &s.params, nullptr);
     }},
    {"NotFinite", KIP_ERR_NOT_FINITE,
     [](Images& s) {
       s.params.affineRect.e1 = std::nan("");
       return kip_affineTransform16(s.source16.get(), s.destination16.get(), &s.params, nullptr);
     }},
};

INSTANTIATE_TEST_SUITE_P(Cases, Refusals, testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// An unbound destination is not tested for overlap (it has no storage) and stays unbound when the
// call is refused.
TEST(Transform, RefusedUnboundDestinationStaysUnbound) {
  ScopedImage source(1, 40, 30), destination;
  affineSampleParams params = sampling(false);
  params.affineRect.ty -= 20;
  EXPECT_EQ(kip_affineTransform(source.get(), destination.get(), &params, nullptr), KIP_ERR_TRANSFORM_CLIPS);
  int32_t bound = 1;
  ASSERT_EQ(kimg_image_getIsBound(destination.get(), &bound), 0);
  EXPECT_EQ(bound, 0);
}

// ----------------------------------------------------------------------------------------------
// Aligned maps, the cache, kip_affine8

// An identity map over a rectangle of the source copies its pels in every mode, from a source
// whose pel grid starts elsewhere than (0, 0).
TEST(Transform, IdentityMapCopiesTheSourceRectangleInEveryMode) {
  for (int32_t pelSize : {1, 2}) {
    ScopedImage source(pelSize, 30, 20);
    pelSize == 1 ? kiptest::fillRandom8(source.get(), 5) : kiptest::fillRandom16(source.get(), 5);
    source.get()->xOrigin = -4, source.get()->yOrigin = 6;
    for (uint32_t mode : {0u, 1u, 2u, 3u}) {
      const kmath_shapeAffineRect rect{3, 9, 11, 0, 0, 7};
      affineSampleParams params{};
      ASSERT_EQ(kip_affineSampleParams_init(&params, mode, &rect, 11, 7), 0);
      ScopedImage destination;
      ASSERT_EQ(pelSize == 1 ? kip_affineTransform(source.get(), destination.get(), &params, nullptr)
                             : kip_affineTransform16(source.get(), destination.get(), &params, nullptr),
                0);
      for (int32_t y = 0; y < 7; ++y) {
        for (int32_t x = 0; x < 11; ++x) {
          const uint32_t want = pelSize == 1 ? stored<uint8_t>(*source.get(), x + 7, y + 3)
                                             : stored<uint16_t>(*source.get(), x + 7, y + 3);
          const uint32_t got = pelSize == 1 ? stored<uint8_t>(*destination.get(), x, y)
                                            : stored<uint16_t>(*destination.get(), x, y);
          ASSERT_EQ(got, want) << "pel size " << pelSize << " mode " << mode << " at " << x << "," << y;
        }
      }
    }
  }
}

affineSampleCacheCounters countersSince(affineSampleCacheCounters* last) {
  const affineSampleCacheCounters now = affineSampleCache_testCounters();
  const affineSampleCacheCounters d{now.destinationXforms - last->destinationXforms, now.alignments - last->alignments,
                                    now.tables8 - last->tables8, now.tables16 - last->tables16};
  *last = now;
  return d;
}

// A caller's cache gives the pels of no cache, and a second call with the same geometry (into
// another destination of the same size) recomputes nothing.
TEST(Transform, CacheReuseGivesTheSamePels) {
  affineSampleCache* cache = nullptr;
  ASSERT_EQ(kip_affineSampleCache_construct(&cache), 0);
  for (int32_t pelSize : {1, 2}) {
    ScopedImage source(pelSize, 90, 80);
    pelSize == 1 ? fillSmooth<uint8_t>(source.get(), 7) : fillSmooth<uint16_t>(source.get(), 7);
    for (uint32_t mode : {0u, 1u, 2u, 3u}) {
      SCOPED_TRACE("pel size " + std::to_string(pelSize) + " mode " + std::to_string(mode));
      const affineSampleParams params = turnedSampling(mode, 33, 1.3, true, 41, 37, 44.2, 40.7);
      auto run = [&](kimg_image* destination, affineSampleCache** handle) {
        return pelSize == 1 ? kip_affineTransform(source.get(), destination, &params, handle)
                            : kip_affineTransform16(source.get(), destination, &params, handle);
      };
      ScopedImage uncached, first, second(pelSize, 41, 37);
      ASSERT_EQ(run(uncached.get(), nullptr), 0);
      ASSERT_EQ(run(first.get(), &cache), 0);
      affineSampleCacheCounters last = affineSampleCache_testCounters();
      ASSERT_EQ(run(second.get(), &cache), 0);
      const affineSampleCacheCounters d = countersSince(&last);
      EXPECT_EQ(d.destinationXforms + d.alignments + d.tables8 + d.tables16, 0u);
      EXPECT_EQ(pelsOf(*first.get()), pelsOf(*uncached.get()));
      EXPECT_EQ(pelsOf(*second.get()), pelsOf(*uncached.get()));
      EXPECT_TRUE(sameXform(second.get()->imageFromClient, uncached.get()->imageFromClient));
    }
  }
  EXPECT_EQ(kip_affineSampleCache_destruct(&cache), 0);
}

TEST(Transform, Affine8IsTheTransformWithoutCache) {
  ScopedImage source(1, 40, 30);
  fillSmooth<uint8_t>(source.get(), 11);
  for (bool inside : {true, false}) {
    affineSampleParams params = sampling(false);
    if (!inside) params.affineRect.tx = -3;
    ScopedImage viaTransform(1, 20, 20), viaAffine8(1, 20, 20);
    const int32_t expected = kip_affineTransform(source.get(), viaTransform.get(), &params, nullptr);
    EXPECT_EQ(kip_affine8(&params, source.get(), viaAffine8.get()), expected);
    EXPECT_EQ(expected, inside ? 0 : KIP_ERR_TRANSFORM_CLIPS);
    EXPECT_EQ(pelsOf(*viaAffine8.get()), pelsOf(*viaTransform.get()));
    EXPECT_TRUE(sameXform(viaAffine8.get()->imageFromClient, viaTransform.get()->imageFromClient));
  }
}

// A general map goes through the threaded process, which asks the hook. Forbidding the optimized
// 8-bit process changes a few bilinear pels of a smooth image by one level (as the header says)
// and no nearest pel at these counts; the 16-bit path is portable either way. Large enough to be
// split into bands.
TEST(Transform, ForbiddingTheOptimizedProcessChangesAFewPelsAtMost) {
  for (int32_t pelSize : {1, 2}) {
    ScopedImage source(pelSize, 700, 600);
    pelSize == 1 ? fillSmooth<uint8_t>(source.get(), 9) : fillSmooth<uint16_t>(source.get(), 9);
    for (uint32_t mode : {0u, 1u}) {
      SCOPED_TRACE("pel size " + std::to_string(pelSize) + " mode " + std::to_string(mode));
      const affineSampleParams params = turnedSampling(mode, 17, 0.9, false, 520, 480, 350.3, 300.6);
      ScopedImage optimized, portable;
      auto run = [&](kimg_image* destination) {
        return pelSize == 1 ? kip_affineTransform(source.get(), destination, &params, nullptr)
                            : kip_affineTransform16(source.get(), destination, &params, nullptr);
      };
      const char* hookName = pelSize == 1 ? "kip_affineProcess" : "kip_affineProcess16";
      {
        kiptest::ScopedHook hook({});
        ASSERT_EQ(run(optimized.get()), 0);
        EXPECT_GT(kiptest::ScopedHook::askedCount(hookName), 0);
      }
      {
        kiptest::ScopedHook hook({hookName});
        ASSERT_EQ(run(portable.get()), 0);
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

struct ReferenceCase {
  bool sixteenBit;
  uint32_t mode;
};

void PrintTo(const ReferenceCase& c, std::ostream* os) { *os << (c.sixteenBit ? 16 : 8) << "-bit mode " << c.mode; }

std::string referenceName(const testing::TestParamInfo<ReferenceCase>& info) {
  const char* modes[] = {"Nearest", "Bilinear", "Linear2", "Cubic2"};
  return std::string(info.param.sixteenBit ? "Sixteen" : "Eight") + modes[info.param.mode];
}

class AgainstReference : public testing::TestWithParam<ReferenceCase> {
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
  const ReferenceCase& c = GetParam();
  ScopedImage source(kPelSize<Pel>, 160, 150);
  fillSmooth<Pel>(source.get(), 21);
  source.get()->xOrigin = -13, source.get()->yOrigin = 7;
  const kmath_xformLinear xform{4, -3, 2, 0, 0, 2};
  ASSERT_EQ(kimg_image_setLinearImageFromClientXform(source.get(), &xform), 0);
  const bool eight = sizeof(Pel) == 1;
  const double unit = 1 / kLevel<Pel>;  // one level of the pel itself
  double low = eight ? -1.5 : -2 * unit, high = -low;
  if (c.mode == KIP_SAMPLE_LINEAR2) low = eight ? -3.25 : -0.3 - unit, high = eight ? 1.5 : 0.3 + unit;
  if (c.mode == KIP_SAMPLE_CUBIC2) low = eight ? -2.25 : -0.15 - unit, high = -low;

  int64_t checked = 0, skipped = 0;
  for (int step = 0; step < 12; ++step) {
    for (double pitch : {0.45, 1.0, 2.3}) {
      const double angle = 31.0 * step;
      const bool mirror = step % 2 == 1;
      const int32_t n = std::min(60, static_cast<int32_t>(90 / pitch));
      const affineSampleParams params = turnedSampling(c.mode, angle, pitch, mirror, n, n * 3 / 4, 67.6, 81.3, xform);
      ScopedImage destination;
      ASSERT_EQ(transform<Pel>(source.get(), destination.get(), &params), 0) << angle << " " << pitch;
      for (int32_t j = 0; j < params.yCount; ++j) {
        for (int32_t i = 0; i < params.xCount; ++i) {
          double x, y, slope = 0;
          samplePoint(params, xform, i, j, &x, &y);
          const double expected = reference<Pel>(*source.get(), c.mode, x, y, &slope);
          const double got = stored<Pel>(*destination.get(), i, j);
          const double positionError = (2.0 + i + j) / 65536;
          if (c.mode == KIP_SAMPLE_NEAREST) {
            if (borderDistance(x) < positionError || borderDistance(y) < positionError) {
              ++skipped;
              continue;
            }
            ASSERT_EQ(got, expected) << "angle " << angle << " pitch " << pitch << " at " << i << "," << j;
          } else {
            const double margin = 2 * slope * positionError / kLevel<Pel>;
            const double deviation = (got - expected) / kLevel<Pel>;
            ASSERT_GE(deviation, low - margin) << "angle " << angle << " pitch " << pitch << " at " << i << "," << j;
            ASSERT_LE(deviation, high + margin) << "angle " << angle << " pitch " << pitch << " at " << i << "," << j;
          }
          ++checked;
        }
      }
    }
  }
  EXPECT_LT(skipped, checked / 50);
}

TEST_P(AgainstReference, WithinTolerance) {
  if (GetParam().sixteenBit) {
    run<uint16_t>();
  } else {
    run<uint8_t>();
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, AgainstReference,
                         testing::Values(ReferenceCase{false, 0}, ReferenceCase{false, 1}, ReferenceCase{false, 2},
                                         ReferenceCase{false, 3}, ReferenceCase{true, 0}, ReferenceCase{true, 1},
                                         ReferenceCase{true, 2}, ReferenceCase{true, 3}),
                         referenceName);

// ----------------------------------------------------------------------------------------------
// Allocation failures: each returns KIP_ERR_OUT_OF_MEMORY, leaks nothing (the caller's cache is
// made and released inside the call) and leaves the destination as it was.

struct SweepCase {
  bool sixteenBit;
  uint32_t mode;
  bool boundDestination, withCache;
};

void PrintTo(const SweepCase& c, std::ostream* os) {
  *os << (c.sixteenBit ? 16 : 8) << "-bit mode " << c.mode << (c.boundDestination ? " bound" : " unbound")
      << (c.withCache ? " cached" : "");
}

class AllocationFailures : public testing::TestWithParam<SweepCase> {};

TEST_P(AllocationFailures, ReturnTheirStatusAndLeakNothing) {
  const SweepCase& c = GetParam();
  ASSERT_EQ(kip_affineTransform_setup(), 0);  // the process-wide cubic table is no leak
  const int32_t pelSize = c.sixteenBit ? 2 : 1;
  ScopedImage source(pelSize, 60, 50);
  c.sixteenBit ? fillSmooth<uint16_t>(source.get(), 2) : fillSmooth<uint8_t>(source.get(), 2);
  ScopedImage destination;
  if (c.boundDestination) ASSERT_EQ(kimg_image_assignNew(destination.get(), pelSize, 12, 40), 0);
  const void* pels = destination.get()->firstPel;
  const affineSampleParams params = turnedSampling(c.mode, 40, 1.2, false, 30, 24, 30.5, 25.5);
  auto call = [&]() -> int32_t {
    affineSampleCache* cache = nullptr;
    if (c.withCache) {
      const int32_t status = kip_affineSampleCache_construct(&cache);
      if (status < 0) return status;
    }
    const int32_t status = c.sixteenBit
                               ? kip_affineTransform16(source.get(), destination.get(), &params, c.withCache ? &cache : nullptr)
                               : kip_affineTransform(source.get(), destination.get(), &params, c.withCache ? &cache : nullptr);
    kip_affineSampleCache_destruct(&cache);
    return status;
  };
  const int allocations = kiptest::sweepAllocationFailures(call, [&] {
    EXPECT_EQ(destination.get()->firstPel, pels);
    EXPECT_TRUE(sameXform(destination.get()->imageFromClient, kIdentity));
  });
  EXPECT_GT(allocations, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, AllocationFailures,
                         testing::Values(SweepCase{false, 1, false, false}, SweepCase{false, 3, true, true},
                                         SweepCase{false, 2, false, true}, SweepCase{true, 0, true, false},
                                         SweepCase{true, 3, false, true}),
                         [](const auto& info) {
                           const SweepCase& c = info.param;
                           return std::string(c.sixteenBit ? "Sixteen" : "Eight") + "Mode" + std::to_string(c.mode) +
                                  (c.boundDestination ? "Bound" : "Unbound") + (c.withCache ? "Cached" : "");
                         });

}  // namespace
