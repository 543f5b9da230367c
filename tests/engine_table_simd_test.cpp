// The optimized two-pass drivers and their Highway line kernels against the portable table path,
// on every instruction set compiled: random geometries and samplings at the clip test's limits in
// windows narrower than their stride, stores and projections; refusals.
//
// Two-pass linear must equal the portable path everywhere. Two-pass cubic differs only by the
// rounding of its first pass (toward minus infinity instead of toward zero): each stored value may
// differ by one level at most, each projected entry by one level per row.
#include "engine/cubic_weight_table.hpp"
#include "engine/line_kernels.hpp"
#include "engine/optimized_process.hpp"
#include "engine/table_core.hpp"
#include "engine/table_process.hpp"
#include "engine/table_simd.hpp"
#include "engine_support.hpp"
#include "support/support.hpp"

#include <hwy/targets.h>
#include <sanitizer/asan_interface.h>

#include <numeric>
#include <set>

namespace {

using namespace enginetest;

// Random pels with sharp edges everywhere (cubic sums go negative often), exactly width x height.
struct Noise : Source<uint8_t> {
  Noise(int32_t w, int32_t h, uint32_t seed) : Source<uint8_t>(w, h, seed) {
    std::mt19937 random(seed);
    for (uint8_t& p : pels) p = static_cast<uint8_t>(random() % 3 == 0 ? 255 * (random() & 1) : random());
  }
};

// Values of one path that may differ from the portable path's: none in mode 2, one level per
// sample in mode 3 (rows for a projection entry).
void expectWithinRounding(const std::vector<uint32_t>& got, const std::vector<uint32_t>& portable, uint32_t mode,
                          int64_t rows, const std::string& what) {
  ASSERT_EQ(got.size(), portable.size()) << what;
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_LE(std::abs(int64_t{got[i]} - int64_t{portable[i]}), mode == 2 ? 0 : rows) << what << " at " << i;
  }
}

// Refreshes a cache for g over source and samples it through the portable core and through every
// target's driver, giving the stored pels or the projection's entries (which start at 1000 +
// column, so that a driver that clears them fails). Aligned maps never reach the table path.
void checkEveryTarget(const kimg_window& source, const Geometry& g, uint32_t mode, bool accumulate,
                      std::set<std::string>* seen) {
  TempCache cache;
  const affineSampleParams params = g.params(mode);
  const int32_t rows = accumulate ? 1 : g.yCount;
  const kimg_window destination = makeWindow(nullptr, accumulate ? 4 : 1, g.xCount, rows, g.xCount);
  ASSERT_EQ(affineSampleCache_refresh(cache.get(), &source, &kIdentity, &destination, &params, accumulate), 0);
  if (cache.get()->alignmentCode != KIP_ALIGNMENT_GENERAL) return;
  const auto* first = static_cast<const uint8_t*>(source.firstPel);
  const uint8_t* last = first + size_t(source.height - 1) * source.stride + source.width - 1;
  const auto run = [&](bool simd) {
    std::vector<uint8_t> pels(size_t(g.xCount) * rows, 0xA5);
    std::vector<uint32_t> entries(g.xCount);
    std::iota(entries.begin(), entries.end(), 1000u);
    void* out = accumulate ? static_cast<void*>(entries.data()) : pels.data();
    const sampleTable* table = &cache.get()->sampleTable8;
    EXPECT_EQ(!simd ? affineTable_core8(accumulate, &params, table, first, last, out, mode == 2 ? affineLineBilinear8 : affineLineCubic8)
              : accumulate ? affineTile_tableAccumulate8(1, &params, table, first, last, out)
                           : affineTile_tableStore8(0, &params, table, first, last, out), 0);
    return accumulate ? entries : std::vector<uint32_t>(pels.begin(), pels.end());
  };
  const std::vector<uint32_t> portable = run(false);
  for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
    ForcedTarget forced(target);
    seen->insert(tableSimdTargetName());
    expectWithinRounding(run(true), portable, mode, accumulate ? g.yCount : 1, tableSimdTargetName() + (" " + g.describe()));
  }
}

struct DriverCase {
  uint32_t mode;
  bool accumulate;
};

class Drivers : public ::testing::TestWithParam<DriverCase> {};

// Every octant, scales 0.25 to 4 (log-uniform), mirrors, sizes from one sample to several tiles,
// each placed at random where the clip test accepts it; and a walk of many tiles.
TEST_P(Drivers, RandomGeometriesOnEveryTarget) {
  const DriverCase c = GetParam();
  const Noise image(512, 448, 21);
  std::mt19937 random(5 + c.mode);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<Geometry> geometries = {Geometry{-118, 0.8, true, 230, 200, 256.2, 224.4}};
  for (int i = 0; i < 40; ++i) {
    Geometry g{45.0 * (i % 8) + 45.0 * unit(random), std::pow(2.0, -2 + 4 * unit(random)), (i / 8) % 2 == 1, 1, 1};
    const int32_t largest = std::max(1, std::min(200, static_cast<int32_t>(260 / g.scale)));
    g.xCount = 1 + static_cast<int32_t>(largest * unit(random)), g.yCount = 1 + static_cast<int32_t>(largest * unit(random));
    double ex, ey;
    g.halfExtents(&ex, &ey);
    for (int attempt = 0; attempt < 100 && (attempt == 0 || clips(g, c.mode, image.window)); ++attempt) {
      g.cx = ex + 3 + (image.width - 2 * ex - 6) * unit(random), g.cy = ey + 3 + (image.height - 2 * ey - 6) * unit(random);
    }
    ASSERT_FALSE(clips(g, c.mode, image.window)) << g.describe();
    geometries.push_back(g);
  }
  std::set<std::string> seen;
  for (const Geometry& g : geometries) checkEveryTarget(image.window, g, c.mode, c.accumulate, &seen);
  EXPECT_EQ(seen.size(), hwy::SupportedAndGeneratedTargets().size()) << "a forced target did not run";
}

// Samplings that the clip test accepts by the smallest margin, touching each pair of source edges
// (the last pel included), in every octant, in a window narrower than its rows' stride: the edge
// pass leaves the kernels values right up to the window's last pel, where a vector of word gathers
// would read past it, and the drivers' copies of source boxes must read no pel beside the window
// (poisoned under AddressSanitizer, and changed between two runs).
TEST_P(Drivers, ClipLimitsInAWindowNarrowerThanItsStride) {
  const DriverCase c = GetParam();
  constexpr int32_t kWidth = 33, kHeight = 31, kStride = 48;  // rows start on the sanitizer's 8-byte grain
  const Noise noise(kStride, kHeight, 9);
  std::set<std::string> seen;
  for (int step = 0; step < 48; step += 3) {
    for (int corner = 0; corner < 4; ++corner) {
      for (uint8_t beside : {0, 255}) {
        std::vector<uint8_t> pels = noise.pels;
        for (int32_t y = 0; y < kHeight; ++y) std::fill_n(pels.begin() + y * kStride + kWidth, kStride - kWidth, beside);
        for (int32_t y = 0; y < kHeight; ++y) ASAN_POISON_MEMORY_REGION(&pels[y * kStride + kWidth], kStride - kWidth);
        const kimg_window source = makeWindow(pels.data(), 1, kWidth, kHeight, kStride);
        Geometry g{7.5 * step, corner < 2 ? 0.7 : 1.6, corner % 2 == 1, 9, 6};
        ASSERT_TRUE(placeAtClipLimit(g, c.mode, source, corner & 1 ? 1 : -1, corner & 2 ? 1 : -1)) << g.describe();
        checkEveryTarget(source, g, c.mode, c.accumulate, &seen);
        ASAN_UNPOISON_MEMORY_REGION(pels.data(), pels.size());
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, Drivers,
                         ::testing::Values(DriverCase{2, false}, DriverCase{2, true}, DriverCase{3, false},
                                           DriverCase{3, true}),
                         [](const auto& info) {
                           return std::string(info.param.mode == 2 ? "Linear" : "Cubic") +
                                  (info.param.accumulate ? "Project" : "Store");
                         });

// ------------------------------------------------------------------------------------------------
// Refusals: each before anything is written.

TEST(DriverRefusals, ProcessorQueryModeAndAllocation) {
  const Noise image(200, 180, 4);
  const affineSampleParams params = Geometry{20, 1.0, false, 120, 100, 100.2, 90.3}.params(3);
  TempCache cache;
  const kimg_window destination = makeWindow(nullptr, 1, 120, 100, 120);
  ASSERT_EQ(affineSampleCache_refresh(cache.get(), &image.window, &kIdentity, &destination, &params, 0), 0);
  ASSERT_EQ(cubicWeightTable_ensure(), 0);  // built once per process, outside the sweep
  std::vector<uint8_t> pels(120 * 100, 77);
  const auto store = [&](const affineSampleParams& p) {
    return affineTile_tableStore8(0, &p, &cache.get()->sampleTable8, image.pels.data(), &image.pels.back(), pels.data());
  };
  {
    kiptest::ScopedCpuinfo failing(1, KSYS_CPU_FEATURE_SIMD, KIP_ERR_INTERNAL);
    EXPECT_EQ(store(params), KIP_ERR_INTERNAL) << "a failing processor query is returned unchanged";
  }
  {
    kiptest::ScopedCpuinfo noSimd(2, 0);
    EXPECT_EQ(store(params), KIP_ERR_NOT_AVAILABLE) << "without SIMD the caller runs the portable process";
  }
  affineSampleParams mode4 = params;
  mode4.sampleMode = 4;
  EXPECT_EQ(store(mode4), KIP_ERR_MODE_UNSUPPORTED);
  EXPECT_EQ(pels, std::vector<uint8_t>(pels.size(), 77)) << "a refusal wrote pels";
  // One block per call (the tiles' source boxes): its failure is returned, nothing leaks.
  EXPECT_EQ(kiptest::sweepAllocationFailures([&] { return store(params); }), 1);
}

// The optimized process hands the two-pass modes to the drivers, and declines what they do not
// expect (a table built for other strides, a band), so that the portable path reports it.
TEST(OptimizedProcess, TwoPassModesReachTheDrivers) {
  const Noise image(120, 100, 6);
  const affineSampleParams params = Geometry{-35, 0.9, true, 70, 50, 60.3, 50.2}.params(3);
  TempCache cache;
  std::vector<uint8_t> optimized(70 * 50, 1), portable(70 * 50, 2);
  kimg_window destination = makeWindow(optimized.data(), 1, 70, 50, 70);
  ASSERT_EQ(affineSampleCache_refresh(cache.get(), &image.window, &kIdentity, &destination, &params, 0), 0);
  ASSERT_EQ(affineProcess_optimized8(0, &image.window, &kIdentity, &destination, &params, cache.get()), 0);
  ASSERT_EQ(affineTile_tableStore8(0, &params, &cache.get()->sampleTable8, image.pels.data(), &image.pels.back(), portable.data()), 0);
  EXPECT_EQ(optimized, portable);
  destination.stride += 1;
  EXPECT_EQ(affineProcess_optimized8(0, &image.window, &kIdentity, &destination, &params, cache.get()), KIP_ERR_NOT_AVAILABLE);
  destination.stride -= 1, destination.bandOffset = -10;
  EXPECT_EQ(affineProcess_optimized8(0, &image.window, &kIdentity, &destination, &params, cache.get()), KIP_ERR_NOT_AVAILABLE);
}

}  // namespace
