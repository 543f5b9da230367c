// Clipped transform: samplings inside, half and wholly outside the source against a zero-padded
// float64 reference, the mask, destinations in place or through a temporary, refusals, failures.
#include "transform_images.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace transformtest;

// The source's client coordinates are half its pels, shifted; its pel grid starts at (-13, 7).
constexpr kmath_xformLinear kSourceXform{4, -3, 2, 0, 0, 2};

int32_t clipped(const kimg_image* source, kimg_image* destination, kimg_image* mask, const affineSampleParams* params,
                uint32_t* willClip, affineSampleCache** cache = nullptr) {
  return source->pelSize == 1 ? kip_affineTransformClipped(source, destination, mask, params, cache, willClip)
                              : kip_affineTransformClipped16(source, destination, mask, params, cache, willClip);
}

// Smooth 8- and 16-bit sources of 50 x 40 pels, and an indicator: 255 on the source's pels, 0 off.
struct Sources {
  ScopedImage s8{1, 50, 40}, s16{2, 50, 40}, indicator{1, 50, 40};
  Sources() {
    fillSmooth<uint8_t>(s8.get(), 13), fillSmooth<uint16_t>(s16.get(), 13);
    EXPECT_EQ(kip_pelSet8(indicator.get(), 255), 0);
    for (kimg_image* i : {s8.get(), s16.get(), indicator.get()}) i->xOrigin = -13, i->yOrigin = 7, i->imageFromClient = kSourceXform;
  }
  const kimg_image* of(int32_t pelSize) const { return pelSize == 1 ? s8.get() : s16.get(); }
};

// 30 x 24 samples turned by 20 degrees about (cx, cy); the source covers x -13..37 and y 7..47.
affineSampleParams around(uint32_t mode, double cx, double cy) {
  return turnedSampling(mode, 20, 1.1, false, 30, 24, cx, cy, kSourceXform);
}

TEST(Clipped, InsideIsThePlainTransformWhollyOutsideIsZeros) {
  const Sources s;
  ScopedImage mask(1, 30, 24), plain, out, exact(2, 30, 24);
  kiptest::fillRandom8(mask.get(), 4), kiptest::fillRandom16(exact.get(), 1);
  const std::vector<uint32_t> maskPels = pelsOf(*mask.get());
  const affineSampleParams inside = around(KIP_SAMPLE_CUBIC2, 12, 27), outside = around(KIP_SAMPLE_BILINEAR, 80, 30);
  uint32_t willClip = 7;
  ASSERT_EQ(kip_affineTransform16(s.s16.get(), plain.get(), &inside, nullptr), 0);
  // Wholly outside: the destination is written (all 0), the mask and willClip are not (a failure).
  EXPECT_EQ(clipped(s.s16.get(), exact.get(), mask.get(), &outside, &willClip), KIP_ERR_TRANSFORM_NO_OVERLAP);
  EXPECT_TRUE(willClip == 7 && pelsOf(*exact.get()) == std::vector<uint32_t>(30 * 24, 0));
  ASSERT_EQ(clipped(s.s16.get(), out.get(), mask.get(), &inside, &willClip), 0);
  EXPECT_TRUE(willClip == 0 && pelsOf(*out.get()) == pelsOf(*plain.get()));
  EXPECT_EQ(pelsOf(*mask.get()), maskPels);  // neither call touched the mask
}

// Half outside, into unbound, exact and larger destinations (kind 0, 1, 2; larger ones go through a
// temporary and must take its transform too): every pel against the zero-padded references.
template <class Pel>
void halfOutside(int32_t pelSize, uint32_t mode, int kind) {
  const Sources sources;
  const affineSampleParams params = around(mode, -10, 30);
  ScopedImage destination, mask;
  const int32_t width = kind == 2 ? 40 : 30, height = kind == 2 ? 40 : 24;
  if (kind > 0) ASSERT_EQ(kimg_image_assignNew(destination.get(), pelSize, width, height) | kimg_image_assignNew(mask.get(), 1, width, height), 0);
  uint32_t willClip = 0;
  ASSERT_EQ(clipped(sources.of(pelSize), destination.get(), mask.get(), &params, &willClip), 0);
  EXPECT_TRUE(willClip == 1 && sameXform(destination.get()->imageFromClient, destinationXform(params)) &&
              sameXform(mask.get()->imageFromClient, destinationXform(params)));
  int inside = 0, outside = 0, skipped = 0;
  for (int32_t j = 0; j < 24; ++j)
    for (int32_t i = 0; i < 30; ++i) {
      double x, y, slope = 0, maskSlope = 0;
      samplePoint(params, kSourceXform, i, j, &x, &y);
      const double value = reference<Pel>(*sources.of(pelSize), mode, x, y, &slope),
                   cover = reference<uint8_t>(*sources.indicator.get(), mode, x, y, &maskSlope);
      const double gotValue = stored<Pel>(*destination.get(), i, j), gotCover = stored<uint8_t>(*mask.get(), i, j);
      inside += cover == 255, outside += cover == 0;
      const double positionError = (2.0 + i + j) / 65536;
      if (mode == KIP_SAMPLE_NEAREST) {
        if (borderDistance(x) < positionError || borderDistance(y) < positionError) { ++skipped; continue; }
        ASSERT_TRUE(gotValue == value && gotCover == cover) << "at " << i << "," << j;
      } else {
        // A level of rounding, plus what the position's error moves the value (steep at the edge).
        ASSERT_TRUE(std::abs(gotValue - value) <= 1.5 * kLevel<Pel> + 2 * slope * positionError &&
                    std::abs(gotCover - cover) <= 1.5 + 2 * maskSlope * positionError) << "at " << i << "," << j;
      }
    }
  EXPECT_TRUE(inside > 100 && outside > 100 && skipped < 30) << inside << " " << outside << " " << skipped;
}

class HalfOutside : public testing::TestWithParam<std::tuple<int32_t, uint32_t, int>> {};
TEST_P(HalfOutside, MatchesTheZeroPaddedReference) {
  const auto [pelSize, mode, kind] = GetParam();
  pelSize == 2 ? halfOutside<uint16_t>(pelSize, mode, kind) : halfOutside<uint8_t>(pelSize, mode, kind);
}
INSTANTIATE_TEST_SUITE_P(Cases, HalfOutside, testing::Combine(testing::Values(1, 2), testing::Values(0u, 1u), testing::Range(0, 3)));

// One refusal per status: destination, mask and willClip stay as they were.
TEST(Clipped, RefusalsTouchNothing) {
  const Sources s;
  ScopedImage d8(1, 30, 24), d16(2, 30, 24), mask(1, 30, 24), unbound, alias;
  kiptest::fillRandom8(d8.get(), 1), kiptest::fillRandom16(d16.get(), 2), kiptest::fillRandom8(mask.get(), 3);
  const std::vector<uint32_t> before[] = {pelsOf(*d8.get()), pelsOf(*d16.get()), pelsOf(*mask.get())};
  affineSampleParams params = around(KIP_SAMPLE_BILINEAR, -10, 30), nan = params;
  nan.affineRect.ty = std::nan("");
  EXPECT_EQ(kimg_image_bindExternal(alias.get(), d8.get()->firstPel, 1, 30, 2, 30), 0);  // over the destination
  uint32_t willClip = 7;
  EXPECT_EQ(clipped(s.s8.get(), d8.get(), mask.get(), &params, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(clipped(unbound.get(), d8.get(), mask.get(), &params, &willClip), KIP_ERR_TRANSFORM_UNBOUND);
  EXPECT_EQ(clipped(s.s8.get(), d8.get(), d16.get(), &params, &willClip), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(clipped(s.s8.get(), d8.get(), alias.get(), &params, &willClip), KIP_ERR_MEMORY_OVERLAP);
  EXPECT_EQ(clipped(s.s8.get(), d8.get(), mask.get(), &nan, &willClip), KIP_ERR_NOT_FINITE);
  EXPECT_TRUE(pelsOf(*d8.get()) == before[0] && pelsOf(*d16.get()) == before[1] && pelsOf(*mask.get()) == before[2] &&
              willClip == 7);
}

// A failure after the destination's sampling (the mask's, say) must not hand the caller a bound
// destination or a new client transform: unbound images stay unbound, a bound one not written in
// place keeps its pels and transform, one written in place keeps its transform.
TEST(Clipped, AllocationFailuresLeaveTheCallersImagesAsTheyWere) {
  ASSERT_EQ(kip_affineTransform_setup(), 0);
  const Sources s;
  const affineSampleParams params = around(KIP_SAMPLE_BILINEAR, -10, 30);
  for (const int kind : {0, 1, 2}) {  // unbound, bound elsewhere, bound in place
    ScopedImage destination, mask;
    if (kind > 0) ASSERT_EQ(kimg_image_assignNew(destination.get(), 1, 30, 24), 0);
    if (kind > 0) kiptest::fillRandom8(destination.get(), 9), destination.get()->imageFromClient = {1, 2, 3, 0, 0, 3}, destination.get()->xOrigin = kind == 1 ? 3 : 0;
    const kimg_image before = *destination.get();
    const std::vector<uint32_t> pels = kind > 0 ? pelsOf(before) : std::vector<uint32_t>{};
    uint32_t willClip = 7;
    kiptest::sweepAllocationFailures([&] { return clipped(s.s8.get(), destination.get(), mask.get(), &params, &willClip); }, [&] {
      EXPECT_TRUE(std::memcmp(destination.get(), &before, sizeof before) == 0 && mask.get()->storage == nullptr);
      EXPECT_TRUE(willClip == 7 && (kind != 1 || pelsOf(*destination.get()) == pels));
    });
    EXPECT_EQ(willClip, 1u);
  }
}

}  // namespace
