// The optimized two-pass drivers and their Highway line kernels against the portable table path,
// on every instruction set compiled: random geometries and samplings at the clip test's limits on
// sources with no slack, stores and projections; refusals.
//
// Two-pass linear must equal the portable path everywhere. Two-pass cubic differs only by the
// rounding of its first pass (toward minus infinity instead of toward zero): its reference is the
// portable walk with a plain line kernel here that rounds that way, which the drivers must equal
// everywhere; against the portable path itself each value may differ by one level at most.
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

// The test's own optimized cubic line: the first pass written out plainly with a floor, then the
// portable kernel's second pass (given no first-pass value to compute, it does only that).
int32_t floorCubicLine(const tableLineContext* context, int32_t n, int32_t tileType, int32_t minor, int32_t line,
                       const uint8_t* source, ptrdiff_t offset, void* lineWrite, const void* lineRead,
                       void* destination) {
  const sampleTableHeader& h = context->table->header;
  auto* out = static_cast<int16_t*>(lineWrite);
  uint32_t a = static_cast<uint32_t>(minor) - static_cast<uint32_t>(h.minorAdvance);
  offset -= h.majorStep;
  for (int32_t k = 0; k < n + 3; ++k, a += static_cast<uint32_t>(h.minorAdvance), offset += h.majorStep) {
    const ptrdiff_t q = offset + ptrdiff_t{static_cast<int16_t>(a >> 16)} * h.minorStep;
    const int16_t* w = context->cubicWeights + 4 * ((a & 0xFFFF) >> 8);
    double sum = 256;
    for (int t = 0; t < 4; ++t) sum += w[t] * static_cast<double>(source[q + (t - 1) * ptrdiff_t{h.minorStep}]);
    out[k] = static_cast<int16_t>(std::floor(sum / 512));
  }
  return affineLineCubic8(context, -3, tileType, 0, line, source, 0, lineWrite, lineRead, destination);
}

// Random pels with sharp edges everywhere (cubic sums go negative often), exactly width x height.
struct Noise : Source<uint8_t> {
  Noise(int32_t w, int32_t h, uint32_t seed) : Source<uint8_t>(w, h, seed) {
    std::mt19937 random(seed);
    for (uint8_t& p : pels) p = static_cast<uint8_t>(random() % 3 == 0 ? 255 * (random() & 1) : random());
  }
};

enum class Path { Portable, FloorReference, Simd };

// Refreshes a cache for g and returns a runner of one path, giving the stored pels or the
// projection's entries (which start at 1000 + column, so that a driver that clears them fails);
// null when the map is aligned (aligned maps never reach the table path).
std::function<std::vector<uint32_t>(Path)> sampler(TempCache& cache, const Noise& image, const Geometry& g,
                                                   uint32_t mode, bool accumulate) {
  const affineSampleParams params = g.params(mode);
  const int32_t rows = accumulate ? 1 : g.yCount;
  const kimg_window destination = makeWindow(nullptr, accumulate ? 4 : 1, g.xCount, rows, g.xCount);
  if (affineSampleCache_refresh(cache.get(), &image.window, &kIdentity, &destination, &params, accumulate) != 0 ||
      cache.get()->alignmentCode != KIP_ALIGNMENT_GENERAL) {
    return {};
  }
  return [&cache, &image, params, rows, accumulate](Path path) {
    const uint8_t *first = image.pels.data(), *last = &image.pels.back();
    const sampleTable* table = &cache.get()->sampleTable8;
    std::vector<uint8_t> pels(size_t(params.xCount) * rows, 0xA5);
    std::vector<uint32_t> entries(params.xCount);
    std::iota(entries.begin(), entries.end(), 1000u);
    void* out = accumulate ? static_cast<void*>(entries.data()) : pels.data();
    const tableLineKernel8 kernel =
        params.sampleMode == 2 ? affineLineBilinear8 : path == Path::Portable ? affineLineCubic8 : floorCubicLine;
    EXPECT_EQ(path != Path::Simd ? affineTable_core8(accumulate, &params, table, first, last, out, kernel)
              : accumulate       ? affineTile_tableAccumulate8(1, &params, table, first, last, out)
                                 : affineTile_tableStore8(0, &params, table, first, last, out),
              0);
    return accumulate ? entries : std::vector<uint32_t>(pels.begin(), pels.end());
  };
}

// Samples g through the portable path, the reference and every target's drivers; returns the number
// of values in which the drivers differ from the portable path (each by one level at most, and only
// in mode 3). Each target's name is added to `seen`.
int checkEveryTarget(const Noise& image, const Geometry& g, uint32_t mode, bool accumulate,
                     std::set<std::string>* seen) {
  TempCache cache;
  const auto run = sampler(cache, image, g, mode, accumulate);
  if (!run) return 0;
  const std::vector<uint32_t> portable = run(Path::Portable), reference = run(Path::FloorReference);
  if (mode == 2) EXPECT_EQ(reference, portable);
  int differing = 0;
  for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
    ForcedTarget forced(target);
    const std::string name = tableSimdTargetName();
    EXPECT_EQ(name, hwy::TargetName(target));
    seen->insert(name);
    const std::vector<uint32_t> simd = run(Path::Simd);
    EXPECT_EQ(simd, reference) << name;
    differing = 0;
    for (size_t i = 0; i < simd.size(); ++i) {
      if (simd[i] == portable[i]) continue;
      ++differing;
      EXPECT_EQ(mode, 3u) << name;
      // A projection entry sums a column of pels, each at most one level off.
      EXPECT_LE(std::abs(int64_t{simd[i]} - int64_t{portable[i]}), accumulate ? g.yCount : 1) << name << " " << i;
    }
  }
  return differing;
}

struct DriverCase {
  uint32_t mode;
  bool accumulate;
};

class Drivers : public ::testing::TestWithParam<DriverCase> {};

// Every octant, scales 0.25 to 4 (log-uniform), mirrors, sizes from one sample to several tiles,
// each placed at random where the clip test accepts it; and walks of many tiles both ways, one
// shrunk by a reduction.
TEST_P(Drivers, RandomGeometriesOnEveryTarget) {
  const DriverCase c = GetParam();
  const Noise image(512, 448, 21);
  std::mt19937 random(5 + c.mode);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<Geometry> geometries = {Geometry{30, 1.0, false, 250, 220, 256.3, 224.1},
                                      Geometry{-118, 0.8, true, 230, 200, 256.2, 224.4},
                                      Geometry{12, 3.1, false, 70, 60, 256.7, 224.9}};
  for (int i = 0; i < 40; ++i) {
    Geometry g{45.0 * (i % 8) + 45.0 * unit(random), std::pow(2.0, -2 + 4 * unit(random)), (i / 8) % 2 == 1, 1, 1};
    const int32_t largest = std::max(1, std::min(200, static_cast<int32_t>(260 / g.scale)));
    const auto size = [&] {
      const double u = unit(random);
      return u < 0.2 ? 1 + static_cast<int32_t>(9 * unit(random)) : 1 + static_cast<int32_t>(largest * u);
    };
    g.xCount = size(), g.yCount = size();
    double ex, ey;
    g.halfExtents(&ex, &ey);
    for (int attempt = 0; attempt < 100 && (attempt == 0 || clips(g, c.mode, image.window)); ++attempt) {
      g.cx = ex + 3 + (image.width - 2 * ex - 6) * unit(random);
      g.cy = ey + 3 + (image.height - 2 * ey - 6) * unit(random);
    }
    ASSERT_FALSE(clips(g, c.mode, image.window)) << g.describe();
    geometries.push_back(g);
  }
  std::set<std::string> seen;
  int differing = 0;
  for (const Geometry& g : geometries) {
    SCOPED_TRACE(g.describe());
    differing += checkEveryTarget(image, g, c.mode, c.accumulate, &seen);
  }
  EXPECT_EQ(seen.size(), hwy::SupportedAndGeneratedTargets().size()) << "a forced target did not run";
  if (c.mode == 3) EXPECT_GT(differing, 0) << "no sampling met the first-pass rounding";
}

// Samplings that the clip test accepts by the smallest margin, touching each pair of source edges
// (the last pel included), in every octant, on a source with no slack: the edge pass leaves the
// kernels values right up to the source's last pel, where a vector of word gathers would read past
// it.
TEST_P(Drivers, ClipLimitsOnEveryTarget) {
  const DriverCase c = GetParam();
  const Noise image(33, 31, 8);
  std::set<std::string> seen;
  for (int step = 0; step < 48; ++step) {
    for (double scale : {0.4, 1.0, 2.2}) {
      for (int corner = 0; corner < 4; ++corner) {
        Geometry g{7.5 * step, scale, (step + corner) % 2 == 1, 9 + corner % 2, 5 + step % 2};
        ASSERT_TRUE(placeAtClipLimit(g, c.mode, image.window, corner & 1 ? 1 : -1, corner & 2 ? 1 : -1))
            << g.describe();
        SCOPED_TRACE(g.describe());
        checkEveryTarget(image, g, c.mode, c.accumulate, &seen);
      }
    }
  }
}

// Poisons the bytes between a window's rows (and after its last row) for AddressSanitizer while it
// lives; without the sanitizer it does nothing.
struct GapPoison {
  uint8_t* pels;
  int32_t width, height, stride;
  GapPoison(uint8_t* p, int32_t w, int32_t h, int32_t s) : pels(p), width(w), height(h), stride(s) { mark(true); }
  ~GapPoison() { mark(false); }
  void mark(bool poison) const {
    for (int32_t y = 0; y < height; ++y) {
      uint8_t* gap = pels + size_t(y) * stride + width;
      poison ? ASAN_POISON_MEMORY_REGION(gap, stride - width) : ASAN_UNPOISON_MEMORY_REGION(gap, stride - width);
    }
  }
};

// The same limits in a window narrower than its rows' stride: the drivers' copies of source boxes
// must read no pel beside the window (poisoned under AddressSanitizer; their values change between
// two runs), and must still give the portable path's values.
TEST_P(Drivers, ClipLimitsInAWindowNarrowerThanItsStride) {
  const DriverCase c = GetParam();
  constexpr int32_t kWidth = 33, kHeight = 31, kStride = 48;  // rows start on the sanitizer's 8-byte grain
  const Noise noise(kStride, kHeight, 9);
  for (int step = 0; step < 48; step += 3) {
    for (int corner = 0; corner < 4; ++corner) {
      std::vector<uint32_t> results[3];
      for (int run = 0; run < 3; ++run) {
        std::vector<uint8_t> pels = noise.pels;
        for (int32_t y = 0; y < kHeight; ++y) std::fill_n(pels.begin() + y * kStride + kWidth, kStride - kWidth, run == 0 ? 0 : 255);
        const kimg_window source = makeWindow(pels.data(), 1, kWidth, kHeight, kStride);
        const GapPoison poison(pels.data(), kWidth, kHeight, kStride);
        Geometry g{7.5 * step, corner < 2 ? 0.7 : 1.6, corner % 2 == 1, 9, 6};
        ASSERT_TRUE(placeAtClipLimit(g, c.mode, source, corner & 1 ? 1 : -1, corner & 2 ? 1 : -1)) << g.describe();
        const affineSampleParams params = g.params(c.mode);
        const int32_t rows = c.accumulate ? 1 : g.yCount;
        std::vector<uint32_t> entries(g.xCount, 0);
        std::vector<uint8_t> stored(size_t(g.xCount) * rows, 0);
        const kimg_window destination = c.accumulate ? makeWindow(entries.data(), 4, g.xCount, 1, g.xCount)
                                                     : makeWindow(stored.data(), 1, g.xCount, rows, g.xCount);
        TempCache cache;
        ASSERT_EQ(affineSampleCache_refresh(cache.get(), &source, &kIdentity, &destination, &params, c.accumulate), 0);
        if (cache.get()->alignmentCode != KIP_ALIGNMENT_GENERAL) break;
        ASSERT_EQ(run < 2 ? affineProcess_tableOptimized8(c.accumulate, &params, cache.get(), &source, &destination)
                          : affineTable_process8(c.accumulate, &source, &destination, &params, cache.get()),
                  0)
            << g.describe();
        results[run] = c.accumulate ? entries : std::vector<uint32_t>(stored.begin(), stored.end());
      }
      if (results[2].empty()) continue;
      EXPECT_EQ(results[0], results[1]) << "step " << step << ", corner " << corner;
      for (size_t i = 0; i < results[0].size(); ++i) {
        const int64_t tolerance = c.mode == 2 ? 0 : c.accumulate ? 6 : 1;  // cubic: the first pass's rounding
        EXPECT_LE(std::abs(int64_t{results[0][i]} - int64_t{results[2][i]}), tolerance) << "step " << step;
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

TEST(DriverRefusals, ProcessorQueryAndMode) {
  const Noise image(40, 40, 1);
  const Geometry g{30, 1.0, false, 20, 16, 20.3, 19.6};
  TempCache cache;
  ASSERT_TRUE(sampler(cache, image, g, 2, false));
  const uint8_t *first = image.pels.data(), *last = &image.pels.back();
  std::vector<uint8_t> pels(size_t(g.xCount) * g.yCount, 77);
  std::vector<uint32_t> entries(g.xCount, 5);
  const auto both = [&](affineSampleParams params) {
    const int32_t store = affineTile_tableStore8(0, &params, &cache.get()->sampleTable8, first, last, pels.data());
    EXPECT_EQ(affineTile_tableAccumulate8(1, &params, &cache.get()->sampleTable8, first, last, entries.data()), store);
    return store;
  };
  const affineSampleParams params = g.params(2);
  {
    kiptest::ScopedCpuinfo failing(1, KSYS_CPU_FEATURE_SIMD, KIP_ERR_INTERNAL);
    EXPECT_EQ(both(params), KIP_ERR_INTERNAL) << "a failing processor query is returned unchanged";
  }
  {
    kiptest::ScopedCpuinfo noSimd(2, 0);
    EXPECT_EQ(both(params), KIP_ERR_NOT_AVAILABLE) << "without SIMD the caller runs the portable process";
  }
  affineSampleParams mode4 = params;
  mode4.sampleMode = 4;
  EXPECT_EQ(both(mode4), KIP_ERR_MODE_UNSUPPORTED);
  EXPECT_TRUE(std::all_of(pels.begin(), pels.end(), [](uint8_t p) { return p == 77; })) << "a refusal wrote pels";
  EXPECT_TRUE(std::all_of(entries.begin(), entries.end(), [](uint32_t e) { return e == 5; }));
  EXPECT_EQ(both(params), 0);
}

// The drivers allocate one block per call (the tiles' source boxes); its failure is returned,
// nothing leaks and nothing is written.
TEST(DriverRefusals, AllocationFailureIsReturned) {
  const Noise image(200, 180, 4);
  const Geometry g{20, 1.0, false, 120, 100, 100.2, 90.3};
  TempCache cache;
  ASSERT_TRUE(sampler(cache, image, g, 3, false));
  ASSERT_EQ(cubicWeightTable_ensure(), 0);  // built once per process, outside the sweep
  const affineSampleParams params = g.params(3);
  std::vector<uint8_t> pels(size_t(g.xCount) * g.yCount);
  const int allocations = kiptest::sweepAllocationFailures(
      [&] {
        std::fill(pels.begin(), pels.end(), uint8_t{77});
        return affineTile_tableStore8(0, &params, &cache.get()->sampleTable8, image.pels.data(), &image.pels.back(),
                                      pels.data());
      },
      [&] { EXPECT_TRUE(std::all_of(pels.begin(), pels.end(), [](uint8_t p) { return p == 77; })); });
  EXPECT_EQ(allocations, 1);
}

// The optimized process hands the two-pass modes to the drivers, and declines what they do not
// expect (a table built for other strides, a band), so that the portable path reports it.
TEST(OptimizedProcess, TwoPassModesReachTheDrivers) {
  const Noise image(120, 100, 6);
  const Geometry g{-35, 0.9, true, 70, 50, 60.3, 50.2};
  for (uint32_t mode : {2u, 3u}) {
    TempCache cache;
    const auto run = sampler(cache, image, g, mode, false);
    ASSERT_TRUE(run);
    const affineSampleParams params = g.params(mode);
    std::vector<uint8_t> optimized(size_t(g.xCount) * g.yCount, 1);
    const kimg_window destination = makeWindow(optimized.data(), 1, g.xCount, g.yCount, g.xCount);
    ASSERT_EQ(affineProcess_optimized8(0, &image.window, &kIdentity, &destination, &params, cache.get()), 0);
    EXPECT_EQ(std::vector<uint32_t>(optimized.begin(), optimized.end()), run(Path::Simd)) << "mode " << mode;
    kimg_window otherStride = destination, band = destination;
    otherStride.stride += 1;
    band.bandOffset = -10;
    for (const kimg_window& refused : {otherStride, band}) {
      EXPECT_EQ(affineProcess_optimized8(0, &image.window, &kIdentity, &refused, &params, cache.get()),
                KIP_ERR_NOT_AVAILABLE);
    }
  }
}

}  // namespace
