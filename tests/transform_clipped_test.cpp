// Clipped transform: samplings inside, half outside and wholly outside the source against a
// zero-padded float64 reference, the clip mask, destinations written in place or through a
// temporary, refusals that touch nothing, the attention handler, and allocation failures.
#include "transform_images.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace {

using namespace transformtest;

// The source's client coordinates are half its pels, shifted; its pel grid starts at (-13, 7).
constexpr kmath_xformLinear kSourceXform{4, -3, 2, 0, 0, 2};

int32_t clipped(const kimg_image* source, kimg_image* destination, kimg_image* mask, const affineSampleParams* params,
                uint32_t* willClip, affineSampleCache** cache = nullptr) {
  return source->pelSize == 1 ? kip_affineTransformClipped(source, destination, mask, params, cache, willClip)
                              : kip_affineTransformClipped16(source, destination, mask, params, cache, willClip);
}

// Smooth 8- and 16-bit sources of 50 x 40 pels, and an indicator that is 255 on the source's pels
// (0 off them, as gridPel sees it).
struct Sources {
  ScopedImage s8{1, 50, 40}, s16{2, 50, 40}, indicator{1, 50, 40};
  Sources() {
    fillSmooth<uint8_t>(s8.get(), 13);
    fillSmooth<uint16_t>(s16.get(), 13);
    EXPECT_EQ(kip_pelSet8(indicator.get(), 255), 0);
    for (kimg_image* i : {s8.get(), s16.get(), indicator.get()}) {
      i->xOrigin = -13, i->yOrigin = 7;
      EXPECT_EQ(kimg_image_setLinearImageFromClientXform(i, &kSourceXform), 0);
    }
  }
  const kimg_image* of(int32_t pelSize) const { return pelSize == 1 ? s8.get() : s16.get(); }
};

// 30 x 24 samples turned by 20 degrees about a pel-grid point (cx, cy); the source covers x from
// -13 to 37 and y from 7 to 47.
affineSampleParams around(uint32_t mode, double cx, double cy) {
  return turnedSampling(mode, 20, 1.1, false, 30, 24, cx, cy, kSourceXform);
}

// ----------------------------------------------------------------------------------------------

TEST(Clipped, InsideIsThePlainTransformAndLeavesTheMask) {
  const Sources s;
  const affineSampleParams params = around(KIP_SAMPLE_CUBIC2, 12, 27);
  ScopedImage mask(1, 30, 24);
  kiptest::fillRandom8(mask.get(), 4);
  const std::vector<uint32_t> maskPels = pelsOf(*mask.get());
  for (int32_t pelSize : {1, 2}) {
    ScopedImage plain, out;
    ASSERT_EQ(pelSize == 1 ? kip_affineTransform(s.s8.get(), plain.get(), &params, nullptr)
                           : kip_affineTransform16(s.s16.get(), plain.get(), &params, nullptr),
              0);
    uint32_t willClip = 7;
    ASSERT_EQ(clipped(s.of(pelSize), out.get(), mask.get(), &params, &willClip), 0);
    EXPECT_EQ(willClip, 0u);
    EXPECT_EQ(pelsOf(*out.get()), pelsOf(*plain.get()));
  }
  EXPECT_EQ(pelsOf(*mask.get()), maskPels);
}

// Half outside: every destination and mask pel against the sampling of the zero-padded source and
// of the indicator, into unbound, exact and larger destinations (larger ones go through a temporary
// and the pel copy, and must take its transform too).
class HalfOutside : public testing::TestWithParam<std::tuple<int32_t, uint32_t, int>> {
 protected:
  template <class Pel>
  void run();
};

template <class Pel>
void HalfOutside::run() {
  const auto [pelSize, mode, kind] = GetParam();
  const Sources sources;
  const kimg_image& source = *sources.of(pelSize);
  const affineSampleParams params = around(mode, -10, 30);
  ScopedImage destination, mask;
  if (kind > 0) {
    ASSERT_EQ(kimg_image_assignNew(destination.get(), pelSize, kind == 2 ? 40 : 30, kind == 2 ? 40 : 24), 0);
    ASSERT_EQ(kimg_image_assignNew(mask.get(), 1, kind == 2 ? 40 : 30, kind == 2 ? 40 : 24), 0);
  }
  uint32_t willClip = 0;
  ASSERT_EQ(clipped(&source, destination.get(), mask.get(), &params, &willClip), 0);
  EXPECT_EQ(willClip, 1u);
  EXPECT_TRUE(sameXform(destination.get()->imageFromClient, destinationXform(params)));
  EXPECT_TRUE(sameXform(mask.get()->imageFromClient, destinationXform(params)));
  ASSERT_TRUE(mask.get()->pelSize == 1 && mask.get()->width >= 30 && destination.get()->height >= 24);

  int inside = 0, outside = 0, skipped = 0;
  for (int32_t j = 0; j < 24; ++j) {
    for (int32_t i = 0; i < 30; ++i) {
      double x, y, slope = 0, maskSlope = 0;
      samplePoint(params, kSourceXform, i, j, &x, &y);
      const double value = reference<Pel>(source, mode, x, y, &slope);
      const double cover = reference<uint8_t>(*sources.indicator.get(), mode, x, y, &maskSlope);
      const double gotValue = stored<Pel>(*destination.get(), i, j), gotCover = stored<uint8_t>(*mask.get(), i, j);
      inside += cover == 255, outside += cover == 0;
      const double positionError = (2.0 + i + j) / 65536;
      if (mode == KIP_SAMPLE_NEAREST) {
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
  EXPECT_TRUE(inside > 100 && outside > 100 && skipped < 30) << inside << " " << outside << " " << skipped;
}

TEST_P(HalfOutside, MatchesTheZeroPaddedReference) { std::get<0>(GetParam()) == 2 ? run<uint16_t>() : run<uint8_t>(); }

std::string halfName(const testing::TestParamInfo<std::tuple<int32_t, uint32_t, int>>& info) {
  const char* kinds[] = {"Unbound", "Exact", "Larger"};
  return std::to_string(8 * std::get<0>(info.param)) + "bit" +
         (std::get<1>(info.param) == KIP_SAMPLE_NEAREST ? "Nearest" : "Bilinear") + kinds[std::get<2>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Cases, HalfOutside,
                         testing::Combine(testing::Values(1, 2), testing::Values(0u, 1u), testing::Range(0, 3)),
                         halfName);

// The 16-bit form's mask is the 8-bit form's; the two-pass modes blend the mask too; a null mask
// and a cache change no pel of the destination.
TEST(Clipped, MasksAgreeAcrossDepthsModesAndCaches) {
  const Sources s;
  affineSampleCache* cache = nullptr;
  ASSERT_EQ(kip_affineSampleCache_construct(&cache), 0);
  for (uint32_t mode : {0u, 1u, 2u, 3u}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    const affineSampleParams params = around(mode, 30, 48);
    ScopedImage out8, mask8, out16, mask16, cached16, cachedMask16, unmasked16;
    uint32_t willClip = 0;
    ASSERT_EQ(clipped(s.s8.get(), out8.get(), mask8.get(), &params, &willClip), 0);
    ASSERT_EQ(clipped(s.s16.get(), out16.get(), mask16.get(), &params, &willClip), 0);
    ASSERT_EQ(clipped(s.s16.get(), cached16.get(), cachedMask16.get(), &params, &willClip, &cache), 0);
    ASSERT_EQ(clipped(s.s16.get(), unmasked16.get(), nullptr, &params, &willClip, &cache), 0);
    const std::vector<uint32_t> cover = pelsOf(*mask8.get());
    EXPECT_EQ(pelsOf(*mask16.get()), cover);
    EXPECT_EQ(pelsOf(*cachedMask16.get()), cover);
    EXPECT_EQ(pelsOf(*cached16.get()), pelsOf(*out16.get()));
    EXPECT_EQ(pelsOf(*unmasked16.get()), pelsOf(*out16.get()));
    EXPECT_TRUE(*std::max_element(cover.begin(), cover.end()) == 255 && *std::min_element(cover.begin(), cover.end()) == 0);
    if (mode != 0) EXPECT_TRUE(std::any_of(cover.begin(), cover.end(), [](uint32_t v) { return v > 0 && v < 255; }));
  }
  EXPECT_EQ(kip_affineSampleCache_destruct(&cache), 0);
}

// Wholly outside: the destination is written (all 0), the mask is not, and willClip is not
// written either (the status is a failure).
TEST(Clipped, WhollyOutsideWritesZerosAndReportsNoOverlap) {
  const Sources s;
  const affineSampleParams params = around(KIP_SAMPLE_BILINEAR, 80, 30);
  for (int32_t pelSize : {1, 2}) {
    ScopedImage exact(pelSize, 30, 24), unbound, mask(1, 30, 24);
    pelSize == 1 ? kiptest::fillRandom8(exact.get(), 1) : kiptest::fillRandom16(exact.get(), 1);
    kiptest::fillRandom8(mask.get(), 2);
    const std::vector<uint32_t> maskPels = pelsOf(*mask.get());
    uint32_t willClip = 7;
    EXPECT_EQ(clipped(s.of(pelSize), exact.get(), mask.get(), &params, &willClip), KIP_ERR_TRANSFORM_NO_OVERLAP);
    EXPECT_EQ(clipped(s.of(pelSize), unbound.get(), mask.get(), &params, &willClip), KIP_ERR_TRANSFORM_NO_OVERLAP);
    EXPECT_EQ(willClip, 7u);
    EXPECT_EQ(pelsOf(*exact.get()), std::vector<uint32_t>(30 * 24, 0));
    EXPECT_EQ(pelsOf(*unbound.get()), std::vector<uint32_t>(30 * 24, 0));
    EXPECT_EQ(pelsOf(*mask.get()), maskPels);
  }
}

// ----------------------------------------------------------------------------------------------
// Refusals: status, and destination, mask and willClip as they were.

struct Images {
  Sources s;
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

#define REFUSAL(name, status, ...) RefusalCase{name, status, [](Images& s) -> int32_t { __VA_ARGS__; }}
const RefusalCase kRefusals[] = {
    REFUSAL("NullWillClip", KIP_ERR_NULL_POINTER,
            return kip_affineTransformClipped(s.s.s8.get(), s.destination8.get(), s.mask.get(), &s.params, nullptr,
                                              nullptr)),
    REFUSAL("NullSource", KIP_ERR_NULL_POINTER,
            return kip_affineTransformClipped16(nullptr, s.destination16.get(), s.mask.get(), &s.params, nullptr,
                                                &s.willClip)),
    REFUSAL("NullCacheHandle", KIP_ERR_NULL_POINTER,
            return clipped(s.s.s8.get(), s.destination8.get(), s.mask.get(), &s.params, &s.willClip, &s.nullHandle)),
    REFUSAL("UnboundSource", KIP_ERR_TRANSFORM_UNBOUND, ScopedImage unbound;
            return kip_affineTransformClipped(unbound.get(), s.destination8.get(), s.mask.get(), &s.params, nullptr,
                                              &s.willClip)),
    REFUSAL("WideMask", KIP_ERR_PEL_SIZE,
            return clipped(s.s.s8.get(), s.destination8.get(), s.destination16.get(), &s.params, &s.willClip)),
    REFUSAL("NarrowDestinationFor16", KIP_ERR_PEL_SIZE,
            return clipped(s.s.s16.get(), s.destination8.get(), s.mask.get(), &s.params, &s.willClip)),
    REFUSAL("MaskIsTheDestination", KIP_ERR_MEMORY_OVERLAP,
            return clipped(s.s.s8.get(), s.destination8.get(), s.destination8.get(), &s.params, &s.willClip)),
    REFUSAL("MaskSharesTheDestinationPels", KIP_ERR_MEMORY_OVERLAP, ScopedImage alias;
            EXPECT_EQ(kimg_image_bindExternal(alias.get(), s.destination8.get()->firstPel, 1, 30, 2, 30), 0);
            return clipped(s.s.s8.get(), s.destination8.get(), alias.get(), &s.params, &s.willClip)),
    REFUSAL("DestinationSharesTheSourcePels", KIP_ERR_MEMORY_OVERLAP, ScopedImage alias;
            EXPECT_EQ(kimg_image_bindExternal(alias.get(), s.destination16.get()->firstPel, 2, 30, 24, 30), 0);
            return clipped(alias.get(), s.destination16.get(), nullptr, &s.params, &s.willClip)),
    REFUSAL("NotFinite", KIP_ERR_NOT_FINITE, s.params.affineRect.ty = std::nan("");
            return clipped(s.s.s8.get(), s.destination8.get(), s.mask.get(), &s.params, &s.willClip)),
};
#undef REFUSAL

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
  const int32_t status = clipped(s.s.s8.get(), s.destination8.get(), s.mask.get(), &s.params, &s.willClip);
  ASSERT_EQ(ksys_attention_setHandler(nullptr, nullptr), 0);
  EXPECT_TRUE(status == -77 && asked == 1 && s.willClip == 7);
  EXPECT_EQ(pelsOf(*s.destination8.get()), before);
}

// A failure after the destination's sampling (the mask's, say) must not hand the caller a bound
// destination or a new client transform: unbound images stay unbound, a bound one that is not
// written in place keeps its pels and transform, one written in place keeps its transform. (The
// sweep over every export covers the other clipped calls.)
TEST(Clipped, AllocationFailuresLeaveTheCallersImagesAsTheyWere) {
  ASSERT_EQ(kip_affineTransform_setup(), 0);
  const Sources s;
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
        [&] { return clipped(s.s8.get(), destination.get(), mask.get(), &params, &willClip); },
        [&] {
          EXPECT_EQ(std::memcmp(destination.get(), &before, sizeof before), 0);
          if (kind == 1) EXPECT_EQ(pelsOf(*destination.get()), pels);
          EXPECT_EQ(mask.get()->storage, nullptr);
          EXPECT_EQ(willClip, 7u);
        });
    EXPECT_EQ(willClip, 1u);
  }
}

}  // namespace
