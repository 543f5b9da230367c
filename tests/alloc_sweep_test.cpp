// Allocation failures through every exported function: a representative call of each runs with
// allocation 1, 2, 3, ... failing until a run makes no failing allocation. Every failing run must
// return KIP_ERR_OUT_OF_MEMORY, leave kip's allocator with no more live blocks than before (and
// LeakSanitizer with nothing, under asan) and leave every record of the caller as it was: images
// (binding, extent, transform and pels), windows, vectors and out-parameters. The caller's sample
// cache is the one record a failure may change, and the next call must still work with it.
#include "support/support.hpp"
#include "transform_images.hpp"

#include "cache/sample_cache.hpp"
#include "platform/shutdown.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using kiptest::ScopedImage;
using kiptest::ScopedVector;
using transformtest::turnedSampling;

constexpr kmath_xformLinear kIdentity{0, 0, 1, 0, 0, 1};
constexpr kstd_rect32 kRect{1, 1, 5, 5};

// Everything a call may touch, made afresh for each function.
struct World {
  ScopedImage s8{1, 40, 30}, s16{2, 40, 30}, big8{1, 400, 400}, d8, d16, mask, coverage, d32;  // d* unbound
  ScopedImage bound8{1, 20, 20}, bound16{2, 20, 20}, vector32{4, 16, 1}, coverageImage{4, 40, 1};
  ScopedVector vector;
  affineSampleCache* cache = nullptr;
  affineSampleCache* fresh = nullptr;  // for the construct cases, which would leak a live record
  kstd_vector32 freshVector{};
  // From here to `external`, compared as bytes: windows, parameters and plain out-parameters.
  kimg_window w8{}, w16{}, wBound8{}, wBound16{}, wVector{}, wCoverage{}, w8Narrow{}, w8Square{}, w16Square{};
  affineSampleParams bilinear{}, cubic{}, leaving{}, leavingBilinear{}, aligned{}, large{};
  uint32_t count = 7, clip = 7, start = 7, end = 7, code = 7;
  kmath_xformLinear xform{};
  kstd_rect32 rect{};
  int32_t flag = 7;
  unsigned char external[64] = {};

  World() {
    kiptest::fillRandom8(s8.get(), 1), kiptest::fillRandom16(s16.get(), 2), kiptest::fillRandom8(big8.get(), 3);
    kiptest::fillRandom8(bound8.get(), 4), kiptest::fillRandom16(bound16.get(), 5);
    bound8.get()->xOrigin = bound16.get()->xOrigin = 2;  // not written in place: through a temporary and a copy
    w8 = w8Narrow = w8Square = s8.window(), w16 = w16Square = s16.window();
    wBound8 = bound8.window(), wBound16 = bound16.window(), wVector = vector32.window(), wCoverage = coverageImage.window();
    wVector.xOrigin = 1;  // entries made aside and copied in by pel-grid place
    EXPECT_EQ(kimg_window_window(&w8Narrow, 0, 0, 16, 30, nullptr) | kimg_window_window(&w8Square, 0, 0, 20, 20, nullptr) |
                  kimg_window_window(&w16Square, 0, 0, 20, 20, nullptr) | kstd_vector32_resize(vector.get(), 3) |
                  kip_affineSampleCache_construct(&cache),
              0);
    bilinear = turnedSampling(KIP_SAMPLE_BILINEAR, 20, 1.1, false, 16, 12, 20, 15);
    cubic = turnedSampling(KIP_SAMPLE_CUBIC2, 20, 1.1, false, 16, 12, 20, 15);
    leaving = turnedSampling(KIP_SAMPLE_CUBIC2, 20, 1.1, false, 16, 12, 3, 15);
    leavingBilinear = turnedSampling(KIP_SAMPLE_BILINEAR, 20, 1.1, false, 16, 12, 3, 15);
    large = turnedSampling(KIP_SAMPLE_BILINEAR, 10, 1.0, false, 260, 260, 200, 200);  // threaded bands
    const kmath_shapeAffineRect alignedRect{5, 4, 10, 0, 0, 8};
    EXPECT_EQ(kip_affineSampleParams_init(&aligned, KIP_SAMPLE_CUBIC2, &alignedRect, 10, 8), 0);
  }
  ~World() { kip_affineSampleCache_destruct(&cache), kip_affineSampleCache_destruct(&fresh), kstd_vector32_destruct(&freshVector); }
  // The blocks the caller's cache holds by design: the tables a refresh built.
  int64_t heldByCache() const {
    return cache == nullptr ? 0 : (cache->sampleTable8.lineBuffer != nullptr) + (cache->sampleTable16.lineBuffer != nullptr);
  }
  // The caller's records as bytes: each image's record and pels, the plain members, the vector.
  std::vector<unsigned char> snapshot() {
    std::vector<unsigned char> out;
    const auto add = [&](const void* p, size_t n) { out.insert(out.end(), (const unsigned char*)p, (const unsigned char*)p + n); };
    for (ScopedImage* i : {&s8, &s16, &big8, &d8, &d16, &mask, &coverage, &d32, &bound8, &bound16, &vector32, &coverageImage}) {
      const kimg_image& image = *i->get();
      add(&image, sizeof image);
      for (int32_t y = 0; image.storage != nullptr && y < image.height; ++y) {
        add(static_cast<const unsigned char*>(image.firstPel) + static_cast<ptrdiff_t>(y) * image.stride * image.pelSize,
            static_cast<size_t>(image.width) * image.pelSize);
      }
    }
    add(&w8, reinterpret_cast<const unsigned char*>(&external + 1) - reinterpret_cast<const unsigned char*>(&w8));
    add(vector.get(), sizeof(kstd_vector32));
    const std::vector<uint32_t> entries = vector.values();
    add(entries.data(), entries.size() * sizeof(uint32_t));
    return out;
  }
};

struct SweepCase { const char* name; std::function<int32_t(World&)> call; };

// A case is named by its call; the test name is the function name and the case number.
#define CASE(...) SweepCase{#__VA_ARGS__, [](World& w) -> int32_t { return __VA_ARGS__; }}

const SweepCase kCases[] = {
    CASE(kimg_image_construct(w.d8.get(), 1, 10, 10)), CASE(kimg_image_constructUnbound(w.d8.get())),
    CASE(kimg_image_destruct(w.d8.get())), CASE(kimg_image_assignNew(w.bound8.get(), 1, 12, 9)),
    CASE(kimg_image_bindExternal(w.d8.get(), w.external, 1, 8, 8, 8)), CASE(kimg_image_assign(w.d8.get(), w.s8.get())),
    CASE(kimg_image_setUnbound(w.d8.get())), CASE(kimg_image_getIsBound(w.s8.get(), &w.flag)),
    CASE(kimg_imageConst_getIsBound(w.s8.get(), &w.flag)),
    CASE(kimg_imageConst_getLinearImageFromClientXform(w.s8.get(), &w.xform)),
    CASE(kimg_image_setLinearImageFromClientXform(w.bound8.get(), &kIdentity)),
    CASE(kimg_image_copyXforms(w.bound8.get(), w.s8.get())),
    CASE(kimg_imageConst_gcr(w.s8.get(), w.bound8.get(), &w.rect, &w.flag)), CASE(kimg_window_init(&w.w8, w.s8.get())),
    CASE(kimg_windowConst_init(&w.w8, w.s8.get())), CASE(kimg_window_initUnbound(&w.w8)),
    CASE(kimg_window_window(&w.w8, 2, 3, 10, 10, nullptr)), CASE(kimg_windowConst_window(&w.w8, 2, 3, 10, 10, &w.flag)),
    CASE(kimg_window_windowRect(&w.w8, &kRect, nullptr)),
    CASE(kimg_window_initWindow(&w.w8, w.s8.get(), &kRect, nullptr)),
    CASE(kimg_windowConst_gcr(&w.w8, &w.wBound8, &w.rect, &w.flag)), CASE(kip_pelSet8(w.bound8.get(), 9)),
    CASE(kip_pelSet16(w.bound16.get(), 9)), CASE(kip_pelSetWindow8(&w.wBound8, 9)),
    CASE(kip_pelSetWindow16(&w.wBound16, 9)), CASE(kip_pelCopy8(w.s8.get(), w.bound8.get())),
    CASE(kip_pelCopy16(w.s16.get(), w.bound16.get())), CASE(kip_pelCopyWindow8(&w.w8, &w.wBound8)),
    CASE(kip_pelCopyWindow16(&w.w16, &w.wBound16)), CASE(kip_pelCopyWindow32(&w.wCoverage, &w.wVector)),
    CASE(kstd_rect32_init(&w.rect, 1, 2, 3, 4)), CASE(kstd_rect32_compare(&w.rect, &w.rect, &w.flag)),
    CASE(kstd_vector32_construct(&w.freshVector)), CASE(kstd_vector32_destruct(w.vector.get())),
    CASE(kstd_vector32_resize(w.vector.get(), 1000)),
    CASE(kstd_vector32_getBegin(w.vector.get(), &w.vector.get()->begin)),
    CASE(ksys_attention_setHandler(nullptr, nullptr)), CASE(kip_projectHorizontal8(w.s8.get(), w.d32.get(), &w.count)),
    CASE(kip_projectVertical8(w.s8.get(), w.d32.get(), &w.count)),
    CASE(kip_projectHorizontalWindow8(&w.w8, &w.wCoverage, &w.count)),
    CASE(kip_projectVerticalWindow8(&w.w8Narrow, &w.wCoverage, &w.count)),
    CASE(kip_projectHorizontalVector8(w.s8.get(), w.vector.get(), &w.count)),
    CASE(kip_projectVerticalVector8(w.s8.get(), w.vector.get(), &w.count)),
    CASE(kip_projectHorizontalVectorWindow8(&w.w8, w.vector.get(), &w.count)),
    CASE(kip_projectVerticalVectorWindow8(&w.w8, w.vector.get(), &w.count)),
    CASE(kip_affineSampleParams_init(&w.cubic, 1, &w.bilinear.affineRect, 3, 4)),
    CASE(kip_affineSampleParams_initRectStandard(&w.cubic, &w.bilinear.affineRect, &kIdentity)),
    CASE(kip_affineSampleParams_getDestImageFromClientXform(&w.cubic, 0, &w.xform)),
    CASE(kip_affine_imageAlignment_compute(&w.aligned, &kIdentity, &w.code, &w.rect)),
    CASE(kip_affineSampleParams_getWillClipWindow(&w.cubic, &w.w8, &kIdentity, &w.clip)),
    CASE(kip_affineSampleParams_getWillClip(&w.cubic, w.s8.get(), &w.clip)),
    CASE(kip_affineSampleParams_getMaxSrcRectWindow(&w.cubic, &w.w8, &kIdentity, &w.rect)),
    CASE(kip_affineSampleParams_getMaxSrcRect(&w.cubic, w.s8.get(), &w.rect)),
    CASE(kip_affineTransformAligned(&w.w8Square, &w.wBound8, 90)),
    CASE(kip_affineTransformAligned16(&w.w16Square, &w.wBound16, 181)), CASE(kip_affineSampleCache_construct(&w.fresh)),
    CASE(kip_affineSampleCache_destruct(&w.cache)), CASE(kip_affineTransform_setup()),
    CASE(kip_affineTransform(w.s8.get(), w.d8.get(), &w.cubic, nullptr)),
    CASE(kip_affineTransform(w.s8.get(), w.bound8.get(), &w.cubic, &w.cache)),
    CASE(kip_affineTransform16(w.s16.get(), w.bound16.get(), &w.bilinear, nullptr)),
    CASE(kip_affine8(&w.large, w.big8.get(), w.d8.get())),
    CASE(kip_affineTransformClipped(w.s8.get(), w.d8.get(), w.mask.get(), &w.leaving, &w.cache, &w.clip)),
    CASE(kip_affineTransformClipped16(w.s16.get(), w.bound16.get(), w.mask.get(), &w.leavingBilinear, nullptr, &w.clip)),
    CASE(kip_affineProject(w.s8.get(), w.d32.get(), &w.cubic, nullptr, &w.count)),
    CASE(kip_affineProject16(w.s16.get(), w.d32.get(), &w.bilinear, &w.cache, &w.count)),
    CASE(kip_affineProjectWindow(&w.w8, &kIdentity, &w.wVector, &w.cubic, nullptr, &w.xform, &w.count)),
    CASE(kip_affineProjectWindow16(&w.w16, &kIdentity, &w.wVector, &w.bilinear, nullptr, &w.xform, &w.count)),
    CASE(kip_affineProjectClipped(w.s8.get(), w.d32.get(), w.coverage.get(), &w.leaving, nullptr, 255, &w.count, &w.clip)),
    CASE(kip_affineProjectClipped16(w.s16.get(), w.d32.get(), w.coverage.get(), &w.leavingBilinear, &w.cache, 255, &w.count, &w.clip)),
    CASE(kip_affineProjectClippedWindow(&w.w8, &kIdentity, &w.wVector, &w.wCoverage, &w.leaving, nullptr, &w.xform, 255, &w.count, &w.clip)),
    CASE(kip_affineProjectClippedWindow16(&w.w16, &kIdentity, &w.wVector, &w.wCoverage, &w.leavingBilinear, nullptr, &w.xform, 255, &w.count, &w.clip)),
    CASE(kip_affineProjectNorm(w.s8.get(), w.d32.get(), &w.leaving, 1, nullptr, &w.count, &w.start, &w.end)),
    CASE(kip_affineProjectNorm16(w.s16.get(), w.vector32.get(), &w.leavingBilinear, 1, nullptr, &w.count, &w.start, &w.end)),
};

#undef CASE

// Totals over the whole sweep, printed when the program ends.
struct Totals {
  int calls = 0, failurePoints = 0;
  ~Totals() {
    if (calls > 0) std::printf("allocation sweep: %d calls, %d failure points, 0 leaks\n", calls, failurePoints);
  }
} totals;

class AllocationSweep : public testing::TestWithParam<SweepCase> {};

TEST_P(AllocationSweep, FailuresLeakAndChangeNothing) {
  ASSERT_EQ(kip_affineTransform_setup(), 0);
  World world;
  const std::vector<unsigned char> before = world.snapshot();
  const SweepCase& c = GetParam();
  // The process-wide cubic table is built once; drop it (as an unload would) so that set-up builds it.
  if (std::string(c.name) == "kip_affineTransform_setup") ksys_shutdown_testRunAll();
  const int made = kiptest::sweepAllocationFailures([&] { return c.call(world); }, [&] { EXPECT_EQ(world.snapshot(), before) << "a record of the caller changed"; },
                                                    [&] { return world.heldByCache(); });
  ASSERT_GE(made, 0);
  totals.calls += 1, totals.failurePoints += made;
}

INSTANTIATE_TEST_SUITE_P(Exports, AllocationSweep, testing::ValuesIn(kCases), [](const auto& info) {
  const std::string call = info.param.name;
  return call.substr(0, call.find('(')) + "_" + std::to_string(info.index);
});

}  // namespace
