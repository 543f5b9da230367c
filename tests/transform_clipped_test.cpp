// Clipped transform: samplings inside, half outside and wholly outside the source against a
// zero-padded float64 reference, the clip mask, destinations written in place or through a
// temporary, refusals that touch nothing, the attention handler, and every allocation failure.
#include "transform_images.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

using namespace transformtest;

// The source's client coordinates are half its pels, shifted; its pel grid starts at (-13, 7).
constexpr kmath_xformLinear kSourceXform{4, -3, 2, 0, 0, 2};

template <class Pel>
int32_t clipped(const kimg_image* source, kimg_image* destination, kimg_image* mask, const affineSampleParams* params,
                uint32_t* willClip, affineSampleCache** cache = nullptr) {
  if constexpr (sizeof(Pel) == 1) {
    return kip_affineTransformClipped(source, destination, mask, params, cache, willClip);
  } else {
    return kip_affineTransformClipped16(source, destination, mask, params, cache, willClip);
  }
}

template <class Pel>
struct Source {
  ScopedImage image{kPelSize<Pel>, 50, 40};
  ScopedImage indicator{1, 50, 40};  // 255 on the source's pels, 0 off them (gridPel)

  Source() {
    fillSmooth<Pel>(image.get(), 13);
    EXPECT_EQ(kip_pelSet8(indicator.get(), 255), 0);
    for (kimg_image* i : {image.get(), indicator.get()}) {
      i->xOrigin = -13, i->yOrigin = 7;
      EXPECT_EQ(kimg_image_setLinearImageFromClientXform(i, &kSourceXform), 0);
    }
  }
};

// 30 x 24 samples turned by 20 degrees about a pel-grid point (cx, cy); the source covers x from
// -13 to 37 and y from 7 to 47.
affineSampleParams around(uint32_t mode, double cx, double cy) {
  return turnedSampling(mode, 20, 1.1, false, 30, 24, cx, cy, kSourceXform);
}

// ----------------------------------------------------------------------------------------------

TEST(Clipped, InsideIsThePlainTransformAndLeavesTheMask) {
  Source<uint8_t> s8;
  Source<uint16_t> s16;
  const affineSampleParams params = around(KIP_SAMPLE_CUBIC2, 12, 27);
  ScopedImage plain8, plain16, out8, out16, mask(1, 30, 24);
  kiptest::fillRandom8(mask.get(), 4);
  const std::vector<uint32_t> maskPels = pelsOf(*mask.get());
  ASSERT_EQ(kip_affineTransform(s8.image.get(), plain8.get(), &params, nullptr), 0);
  ASSERT_EQ(kip_affineTransform16(s16.image.get(), plain16.get(), &params, nullptr), 0);
  uint32_t willClip8 = 7, willClip16 = 7;
  ASSERT_EQ(clipped<uint8_t>(s8.image.get(), out8.get(), mask.get(), &params, &willClip8), 0);
  ASSERT_EQ(clipped<uint16_t>(s16.image.get(), out16.get(), mask.get(), &params, &willClip16), 0);
  EXPECT_EQ(willClip8, 0u);
  EXPECT_EQ(willClip16, 0u);
  EXPECT_EQ(pelsOf(*out8.get()), pelsOf(*plain8.get()));
  EXPECT_EQ(pelsOf(*out16.get()), pelsOf(*plain16.get()));
  EXPECT_EQ(pelsOf(*mask.get()), maskPels);
}

// Half outside: every destination and mask pel against the sampling of the zero-padded source and
// of the indicator, for each kind of destination.
enum class Kind { unbound, exact, larger };

struct HalfCase {
  bool sixteenBit;
  uint32_t mode;
  Kind kind;
};

void PrintTo(const HalfCase& c, std::ostream* os) {
  *os << (c.sixteenBit ? 16 : 8) << "-bit mode " << c.mode << " kind " << int(c.kind);
}

std::string halfName(const testing::TestParamInfo<HalfCase>& info) {
  const char* kinds[] = {"Unbound", "Exact", "Larger"};
  return std::string(info.param.sixteenBit ? "Sixteen" : "Eight") +
         (info.param.mode == KIP_SAMPLE_NEAREST ? "Nearest" : "Bilinear") + kinds[int(info.param.kind)];
}

class HalfOutside : public testing::TestWithParam<HalfCase> {
 protected:
  template <class Pel>
  void run();
};

template <class Pel>
void HalfOutside::run() {
  const HalfCase& c = GetParam();
  const Source<Pel> source;
  const affineSampleParams params = around(c.mode, -10, 30);
  // Larger destinations go through a temporary and the pel copy, and must take its transform too.
  const int32_t width = c.kind == Kind::larger ? 40 : 30, height = c.kind == Kind::larger ? 40 : 24;
  ScopedImage destination, mask;
  if (c.kind != Kind::unbound) {
    ASSERT_EQ(kimg_image_assignNew(destination.get(), kPelSize<Pel>, width, height), 0);
    ASSERT_EQ(kimg_image_assignNew(mask.get(), 1, width, height), 0);
  }
  uint32_t willClip = 0;
  ASSERT_EQ(clipped<Pel>(source.image.get(), destination.get(), mask.get(), &params, &willClip), 0);
  EXPECT_EQ(willClip, 1u);
  EXPECT_TRUE(sameXform(destination.get()->imageFromClient, destinationXform(params)));
  EXPECT_TRUE(sameXform(mask.get()->imageFromClient, destinationXform(params)));
  ASSERT_EQ(mask.get()->pelSize, 1);
  ASSERT_GE(mask.get()->width, 30);
  ASSERT_GE(destination.get()->height, 24);

  int inside = 0, outside = 0, skipped = 0;
  for (int32_t j = 0; j < 24; ++j) {
    for (int32_t i = 0; i < 30; ++i) {
      double x, y, slope = 0, maskSlope = 0;
      samplePoint(params, kSourceXform, i, j, &x, &y);
      const double value = reference<Pel>(*source.image.get(), c.mode, x, y, &slope);
      const double cover = reference<uint8_t>(*source.indicator.get(), c.mode, x, y, &maskSlope);
      const double gotValue = stored<Pel>(*destination.get(), i, j);
      const double gotCover = stored<uint8_t>(*mask.get(), i, j);
      inside += cover == 255, outside += cover == 0;
      const double positionError = (2.0 + i + j) / 65536;
      if (c.mode == KIP_SAMPLE_NEAREST) {
        if (borderDistance(x) < positionError || borderDistance(y) < positionError) {
          ++skipped;
          continue;
        }
        ASSERT_EQ(gotValue, value) << "at " << i << "," << j;
        ASSERT_EQ(gotCover, cover) << "at " << i << "," << j;
      } else {
        // A level of rounding, plus what the position's error moves the value (steep at the edge).
        ASSERT_NEAR(gotValue, value, 1.5 * kLevel<Pel> + 2 * slope * positionError) << "at " << i << "," << j;
        ASSERT_NEAR(gotCover, cover, 1.5 + 2 * maskSlope * positionError) << "at " << i << "," << j;
      }
    }
  }
  EXPECT_GT(inside, 100);
  EXPECT_GT(outside, 100);
  EXPECT_LT(skipped, 30);
}

TEST_P(HalfOutside, MatchesTheZeroPaddedReference) {
  if (GetParam().sixteenBit) {
    run<uint16_t>();
  } else {
    run<uint8_t>();
  }
}

std::vector<HalfCase> halfCases() {
  std::vector<HalfCase> cases;
  for (bool sixteen : {false, true}) {
    for (uint32_t mode : {KIP_SAMPLE_NEAREST, KIP_SAMPLE_BILINEAR}) {
      for (Kind kind : {Kind::unbound, Kind::exact, Kind::larger}) cases.push_back({sixteen, mode, kind});
    }
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, HalfOutside, testing::ValuesIn(halfCases()), halfName);

// The 16-bit form's mask is the 8-bit form's; the two-pass modes blend the mask too; a null mask
// and a cache change no pel of the destination.
TEST(Clipped, MasksAgreeAcrossDepthsModesAndCaches) {
  const Source<uint8_t> s8;
  const Source<uint16_t> s16;
  affineSampleCache* cache = nullptr;
  ASSERT_EQ(kip_affineSampleCache_construct(&cache), 0);
  for (uint32_t mode : {0u, 1u, 2u, 3u}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    const affineSampleParams params = around(mode, 30, 48);
    ScopedImage out8, mask8, out16, mask16, cached16, cachedMask16, unmasked16;
    uint32_t willClip = 0;
    ASSERT_EQ(clipped<uint8_t>(s8.image.get(), out8.get(), mask8.get(), &params, &willClip), 0);
    ASSERT_EQ(clipped<uint16_t>(s16.image.get(), out16.get(), mask16.get(), &params, &willClip), 0);
    ASSERT_EQ(clipped<uint16_t>(s16.image.get(), cached16.get(), cachedMask16.get(), &params, &willClip, &cache), 0);
    ASSERT_EQ(clipped<uint16_t>(s16.image.get(), unmasked16.get(), nullptr, &params, &willClip, &cache), 0);
    EXPECT_EQ(pelsOf(*mask16.get()), pelsOf(*mask8.get()));
    EXPECT_EQ(pelsOf(*cachedMask16.get()), pelsOf(*mask8.get()));
    EXPECT_EQ(pelsOf(*cached16.get()), pelsOf(*out16.get()));
    EXPECT_EQ(pelsOf(*unmasked16.get()), pelsOf(*out16.get()));
    const std::vector<uint32_t> cover = pelsOf(*mask8.get());
    EXPECT_EQ(*std::max_element(cover.begin(), cover.end()), 255u);
    EXPECT_EQ(*std::min_element(cover.begin(), cover.end()), 0u);
    if (mode != 0) {
      EXPECT_TRUE(std::any_of(cover.begin(), cover.end(), [](uint32_t v) { return v > 0 && v < 255; }));
    }
  }
  EXPECT_EQ(kip_affineSampleCache_destruct(&cache), 0);
}

// Wholly outside: the destination is written (all 0), the mask is not, and willClip is not
// written either (the status is a failure).
TEST(Clipped, WhollyOutsideWritesZerosAndReportsNoOverlap) {
  for (bool sixteen : {false, true}) {
    const Source<uint8_t> s8;
    const Source<uint16_t> s16;
    const kimg_image* source = sixteen ? s16.image.get() : s8.image.get();
    const affineSampleParams params = around(KIP_SAMPLE_BILINEAR, 80, 30);
    ScopedImage exact(sixteen ? 2 : 1, 30, 24), unbound, mask(1, 30, 24);
    sixteen ? kiptest::fillRandom16(exact.get(), 1) : kiptest::fillRandom8(exact.get(), 1);
    kiptest::fillRandom8(mask.get(), 2);
    const std::vector<uint32_t> maskPels = pelsOf(*mask.get());
    uint32_t willClip = 7;
    auto run = [&](kimg_image* destination) {
      return sixteen ? clipped<uint16_t>(source, destination, mask.get(), &params, &willClip)
                     : clipped<uint8_t>(source, destination, mask.get(), &params, &willClip);
    };
    EXPECT_EQ(run(exact.get()), KIP_ERR_TRANSFORM_NO_OVERLAP);
    EXPECT_EQ(run(unbound.get()), KIP_ERR_TRANSFORM_NO_OVERLAP);
    EXPECT_EQ(willClip, 7u);
    EXPECT_EQ(pelsOf(*exact.get()), std::vector<uint32_t>(30 * 24, 0));
    EXPECT_EQ(pelsOf(*unbound.get()), std::vector<uint32_t>(30 * 24, 0));
    EXPECT_EQ(pelsOf(*mask.get()), maskPels);
  }
}

// ----------------------------------------------------------------------------------------------
// Refusals: status, and destination, mask and willClip as they were.

struct Images {
  Source<uint8_t> s8;
  Source<uint16_t> s16;
  ScopedImage destination8{1, 30, 24}, destination16{2, 30, 24}, mask{1, 30, 24};
  affineSampleParams params = around(KIP_SAMPLE_BILINEAR, -10, 30);
  uint32_t willClip = 7;
  affineSampleCache* nullHandle = nullptr;
};

struct RefusalCase {
  const char* name;
  int32_t expected;
  std::function<int32_t(Images&)> call;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class Refusals : public testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, TouchNothing) {
  Images s;
  kiptest::fillRandom8(s.destination8.get(), 1);
  kiptest::fillRandom16(s.destination16.get(), 2);
  kiptest::fillRandom8(s.mask.get(), 3);
  const std::vector<uint32_t> before[] = {pelsOf(*s.destination8.get()), pelsOf(*s.destination16.get()),
                                          pelsOf(*s.mask.get())};
  EXPECT_EQ(GetParam().call(s), GetParam().expected);
  EXPECT_EQ(pelsOf(*s.destination8.get()), before[0]);
  EXPECT_EQ(pelsOf(*s.destination16.get()), before[1]);
  EXPECT_EQ(pelsOf(*s.mask.get()), before[2]);
  for (kimg_image* image : {s.destination8.get(), s.destination16.get(), s.mask.get()}) {
    EXPECT_TRUE(sameXform(image->imageFromClient, kIdentity));
  }
  EXPECT_EQ(s.willClip, 7u);
}

const RefusalCase kRefusals[] = {
    {"NullWillClip", KIP_ERR_NULL_POINTER,
     [](Images& s) {
       return kip_affineTransformClipped(s.s8.image.get(), s.destination8.get(), s.mask.get(), &s.params, nullptr,
                                         nullptr);
     }},
    {"NullSource", KIP_ERR_NULL_POINTER,
     [](Images& s) { return clipped<uint16_t>(nullptr, s.destination16.get(), s.mask.get(), &s.params, &s.willClip); }},
    {"NullCacheHandle", KIP_ERR_NULL_POINTER,
     [](Images& s) {
       return clipped<uint8_t>(s.s8.image.get(), s.destination8.get(), s.mask.get(), &s.params, &s.willClip,
                               &s.nullHandle);
     }},
    {"UnboundSource", KIP_ERR_TRANSFORM_UNBOUND,
     [](Images& s) {
       ScopedImage unbound;
       return clipped<uint8_t>(unbound.get(), s.destination8.get(), s.mask.get(), &s.params, &s.willClip);
     }},
    {"WideMask", KIP_ERR_PEL_SIZE,
     [](Images& s) {
       return clipped<uint8_t>(s.s8.image.get(), s.destination8.get(), s.destination16.get(), &s.params, &s.willClip);
     }},
    {"NarrowDestinationFor16", KIP_ERR_PEL_SIZE,
     [](Images& s) {
       return clipped<uint16_t>(s.s16.image.get(), s.destination8.get(), s.mask.get(), &s.params, &s.willClip);
     }},
    {"MaskIsTheDestination", KIP_ERR_MEMORY_OVERLAP,
     [](Images& s) {
       return clipped<uint8_t>(s.s8.image.get(), s.destination8.get(), s.destination8.get(), &s.params, &s.willClip);
     }},
    {"MaskSharesTheDestinationPels", KIP_ERR_MEMORY_OVERLAP,
     [](Images& s) {
       ScopedImage alias;
       EXPECT_EQ(kimg_image_bindExternal(alias.get(), s.destination8.get()->firstPel, 1, 30, 2, 30), 0);
       return clipped<uint8_t>(s.s8.image.get(), s.destination8.get(), alias.get(), &s.params, &s.willClip);
     }},
    {"DestinationSharesTheSourcePels", KIP_ERR_MEMORY_OVERLAP,
     [](Images& s) {
       ScopedImage alias;
       EXPECT_EQ(kimg_image_bindExternal(alias.get(), s.destination16.get()->firstPel, 2, 30, 24, 30), 0);
       return clipped<uint16_t>(alias.get(), s.destination16.get(), nullptr, &s.params, &s.willClip);
     }},
    {"NotFinite", KIP_ERR_NOT_FINITE,
     [](Images& s) {
       s.params.affineRect.ty = std::nan("");
       return clipped<uint8_t>(s.s8.image.get(), s.destination8.get(), s.mask.get(), &s.params, &s.willClip);
     }},
};

INSTANTIATE_TEST_SUITE_P(Cases, Refusals, testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// An application that asks to stop ends a clipping call with its status, before any pel is
// written.
TEST(Clipped, AttentionHandlerStopsTheCall) {
  Images s;
  kiptest::fillRandom8(s.destination8.get(), 1);
  const std::vector<uint32_t> before = pelsOf(*s.destination8.get());
  static int asked = 0;
  asked = 0;
  ASSERT_EQ(ksys_attention_setHandler([](void*) -> int32_t { return ++asked, -77; }, nullptr), 0);
  const int32_t status = clipped<uint8_t>(s.s8.image.get(), s.destination8.get(), s.mask.get(), &s.params, &s.willClip);
  ASSERT_EQ(ksys_attention_setHandler(nullptr, nullptr), 0);
  EXPECT_EQ(status, -77);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(pelsOf(*s.destination8.get()), before);
  EXPECT_EQ(s.willClip, 7u);
}

// Allocation failures with a mask and a two-pass mode, into unbound images made and released
// with each run: each returns KIP_ERR_OUT_OF_MEMORY, leaks nothing and leaves willClip unwritten.
TEST(Clipped, AllocationFailuresLeakNothing) {
  ASSERT_EQ(kip_affineTransform_setup(), 0);
  for (bool sixteen : {false, true}) {
    SCOPED_TRACE(sixteen ? "16-bit" : "8-bit");
    const Source<uint8_t> s8;
    const Source<uint16_t> s16;
    const affineSampleParams params = around(KIP_SAMPLE_CUBIC2, -10, 30);
    uint32_t willClip = 7;
    auto call = [&]() -> int32_t {
      affineSampleCache* cache = nullptr;
      const int32_t made = kip_affineSampleCache_construct(&cache);
      if (made < 0) return made;
      ScopedImage destination, mask;
      const int32_t status =
          sixteen ? clipped<uint16_t>(s16.image.get(), destination.get(), mask.get(), &params, &willClip, &cache)
                  : clipped<uint8_t>(s8.image.get(), destination.get(), mask.get(), &params, &willClip, &cache);
      kip_affineSampleCache_destruct(&cache);
      return status;
    };
    const int allocations = kiptest::sweepAllocationFailures(call, [&] { EXPECT_EQ(willClip, 7u); });
    EXPECT_GT(allocations, 4);
    EXPECT_EQ(willClip, 1u);
  }
}

// A failure after the destination's sampling (the mask's, say) must not hand the caller a bound
// destination or a new client transform: unbound images stay unbound, a bound one that is not
// written in place keeps its pels and transform, one written in place keeps its transform.
TEST(Clipped, AllocationFailuresLeaveTheCallersImagesAsTheyWere) {
  ASSERT_EQ(kip_affineTransform_setup(), 0);
  const Source<uint8_t> s;
  const affineSampleParams params = around(KIP_SAMPLE_BILINEAR, -10, 30);
  constexpr kmath_xformLinear kOld{1, 2, 3, 0, 0, 3};
  for (const int kind : {0, 1, 2}) {  // unbound, bound elsewhere, bound in place
    SCOPED_TRACE(kind);
    ScopedImage destination, mask;
    if (kind > 0) {
      ASSERT_EQ(kimg_image_assignNew(destination.get(), 1, 30, 24), 0);
      kiptest::fillRandom8(destination.get(), 9);
      destination.get()->xOrigin = kind == 1 ? 3 : 0;
      ASSERT_EQ(kimg_image_setLinearImageFromClientXform(destination.get(), &kOld), 0);
    }
    const kimg_image before = *destination.get();
    const std::vector<uint32_t> pels = kind > 0 ? pelsOf(before) : std::vector<uint32_t>{};
    uint32_t willClip = 7;
    kiptest::sweepAllocationFailures(
        [&] { return clipped<uint8_t>(s.image.get(), destination.get(), mask.get(), &params, &willClip); },
        [&] {
          EXPECT_EQ(std::memcmp(destination.get(), &before, sizeof before), 0);
          if (kind == 1) EXPECT_EQ(pelsOf(*destination.get()), pels);
          int32_t maskBound = 1;
          kimg_image_getIsBound(mask.get(), &maskBound);
          EXPECT_EQ(maskBound, 0);
        });
    EXPECT_EQ(willClip, 1u);
  }
}

}  // namespace
