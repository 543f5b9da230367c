// The optimized two-pass drivers and their Highway line kernels against the portable table path:
// random geometries (every octant, reductions and magnifications, mirrors, multi-tile walks) and
// samplings at the clip test's limits on sources with no slack, stores and projections, on every
// instruction set compiled; the line kernels alone over odd counts and single values; refusals.
//
// Two-pass linear must equal the portable path everywhere. Two-pass cubic differs only by the
// rounding of its first pass (toward minus infinity instead of toward zero): the reference for it
// is the portable walk with a plain line kernel here that rounds that way, which the drivers must
// equal everywhere; against the portable path itself the pels that differ are counted and each may
// differ by one level at most.
#include "cache/cache.hpp"
#include "engine/cubic_weight_table.hpp"
#include "engine/line_kernels.hpp"
#include "engine/optimized_process.hpp"
#include "engine/table_core.hpp"
#include "engine/table_simd.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

const kmath_xformLinear kIdentity{0, 0, 1, 0, 0, 1};

// The test-side reference of the optimized cubic line: the first pass written out plainly with a
// floor, then the portable kernel's second pass (given no first-pass value to compute, the
// portable kernel does only that).
int32_t floorCubicLine(const tableLineContext* context, int32_t n, int32_t tileType, int32_t minor, int32_t line,
                       const uint8_t* source, ptrdiff_t offset, void* lineWrite, const void* lineRead,
                       void* destination) {
  const sampleTableHeader& h = context->table->header;
  auto* out = static_cast<int16_t*>(lineWrite);
  uint32_t a = static_cast<uint32_t>(minor) - static_cast<uint32_t>(h.minorAdvance);
  offset -= h.majorStep;
  for (int32_t k = 0; k < n + 3; ++k) {
    const ptrdiff_t q = offset + ptrdiff_t{static_cast<int16_t>(a >> 16)} * h.minorStep;
    const int16_t* w = context->cubicWeights + 4 * ((a & 0xFFFF) >> 8);
    double sum = 256;
    for (int t = 0; t < 4; ++t) sum += w[t] * static_cast<double>(source[q + (t - 1) * ptrdiff_t{h.minorStep}]);
    out[k] = static_cast<int16_t>(std::floor(sum / 512));
    a += static_cast<uint32_t>(h.minorAdvance);
    offset += h.majorStep;
  }
  return affineLineCubic8(context, -3, tileType, 0, line, source, 0, lineWrite, lineRead, destination);
}

// Forces one Highway target for its lifetime; the scalar targets also get a processor record that
// reports SIMD, which the drivers require.
class ForcedTarget {
 public:
  explicit ForcedTarget(int64_t target) {
    hwy::SetSupportedTargetsForTest(target);
    if (target == HWY_SCALAR || target == HWY_EMU128) cpu_.emplace(1, KSYS_CPU_FEATURE_SIMD);
  }
  ~ForcedTarget() { hwy::SetSupportedTargetsForTest(0); }

 private:
  std::optional<kiptest::ScopedCpuinfo> cpu_;
};

// Random pels (sharp edges everywhere, so that cubic sums go negative often), exactly width x
// height of them: any read outside fails under the address sanitizer.
struct Noise {
  int32_t width, height;
  std::vector<uint8_t> pels;
  Noise(int32_t w, int32_t h, uint32_t seed) : width(w), height(h), pels(size_t(w) * h) {
    std::mt19937 random(seed);
    for (uint8_t& p : pels) p = static_cast<uint8_t>(random() % 3 == 0 ? 255 * (random() & 1) : random());
  }
  kimg_window window() const {
    kimg_window window{};
    window.width = width;
    window.height = height;
    window.stride = width;
    window.pelSize = 1;
    window.firstPel = const_cast<uint8_t*>(pels.data());
    return window;
  }
};

class Cache {
 public:
  Cache() { EXPECT_EQ(kip_affineSampleCache_construct(&handle_), 0); }
  ~Cache() { kip_affineSampleCache_destruct(&handle_); }
  affineSampleCache* get() const { return handle_; }

 private:
  affineSampleCache* handle_ = nullptr;
};

// A destination of xCount x yCount samples, each `scale` source pels wide, centred on (cx, cy),
// its rows at `angle` degrees in the source, its columns against the turned y axis when mirrored.
struct Geometry {
  double angle, scale;
  bool mirror;
  int32_t xCount, yCount;
  double cx = 0, cy = 0;

  void sides(double* ux, double* uy, double* vx, double* vy) const {
    const double radians = angle * std::numbers::pi / 180;
    *ux = std::cos(radians), *uy = std::sin(radians);
    *vx = mirror ? *uy : -*uy, *vy = mirror ? -*ux : *ux;
  }
  affineSampleParams params(uint32_t mode) const {
    double ux, uy, vx, vy;
    sides(&ux, &uy, &vx, &vy);
    const double w = xCount * scale, h = yCount * scale;
    const kmath_shapeAffineRect rect{
        cx - (w * ux + h * vx) / 2, cy - (w * uy + h * vy) / 2, w * ux, h * vx, w * uy, h * vy};
    return {rect, mode, xCount, yCount};
  }
  // Half extents of the corner sample centres about the centre.
  void halfExtents(double* ex, double* ey) const {
    double ux, uy, vx, vy;
    sides(&ux, &uy, &vx, &vy);
    *ex = ((xCount - 1) * std::fabs(ux) + (yCount - 1) * std::fabs(vx)) * scale / 2;
    *ey = ((xCount - 1) * std::fabs(uy) + (yCount - 1) * std::fabs(vy)) * scale / 2;
  }
  std::string describe() const {
    return "angle " + std::to_string(angle) + ", scale " + std::to_string(scale) + (mirror ? ", mirrored" : "") + ", " +
           std::to_string(xCount) + " x " + std::to_string(yCount) + " at (" + std::to_string(cx) + ", " +
           std::to_string(cy) + ")";
  }
};

bool clips(const Geometry& g, uint32_t mode, const kimg_window& source) {
  const affineSampleParams params = g.params(mode);
  uint32_t willClip = 1;
  return kip_affineSampleParams_getWillClipWindow(&params, &source, &kIdentity, &willClip) < 0 || willClip != 0;
}

// Moves g's corner sample centres to the clip test's limit on the sides asked for (-1 low, +1
// high), nudged inward until the test accepts the sampling.
bool placeAtClipLimit(Geometry& g, uint32_t mode, const kimg_window& source, int sideX, int sideY) {
  const double margin = mode == 2 ? 1.5 : 2.5;
  double ex, ey;
  g.halfExtents(&ex, &ey);
  for (double nudge = 1e-7; nudge < 1e-3; nudge *= 4) {
    g.cx = sideX < 0 ? margin + ex + nudge : source.width - margin - ex - nudge;
    g.cy = sideY < 0 ? margin + ey + nudge : source.height - margin - ey - nudge;
    if (!clips(g, mode, source)) return true;
  }
  return false;
}

enum class Path { Portable, FloorReference, Simd };

// One sampling whose cache is refreshed, through one path: stored pels, or the projection's
// entries (which start at 1000 + column, so that a driver that clears them fails).
class Sampling {
 public:
  Sampling(const Cache& cache, const kimg_window& source, const Geometry& g, uint32_t mode, bool accumulate)
      : cache_(cache), source_(source), params_(g.params(mode)), accumulate_(accumulate) {
    const int32_t rows = accumulate ? 1 : g.yCount;
    out_.assign(size_t(g.xCount) * rows, 0);
    destination_.width = g.xCount;
    destination_.height = rows;
    destination_.stride = g.xCount;
    destination_.pelSize = accumulate ? 4 : 1;
    refreshed_ =
        affineSampleCache_refresh(cache.get(), &source, &kIdentity, &destination_, &params_, accumulate ? 1 : 0) == 0 &&
        cache.get()->alignmentCode == KIP_ALIGNMENT_GENERAL;
  }
  bool general() const { return refreshed_; }

  int32_t run(Path path, std::vector<uint32_t>* result) {
    std::vector<uint8_t> pels(out_.size(), 0xA5);
    std::vector<uint32_t> entries(out_.size());
    for (size_t c = 0; c < entries.size(); ++c) entries[c] = 1000 + static_cast<uint32_t>(c);
    void* destination = accumulate_ ? static_cast<void*>(entries.data()) : pels.data();
    const auto* first = static_cast<const uint8_t*>(source_.firstPel);
    const uint8_t* last = first + (ptrdiff_t{source_.height} - 1) * source_.stride + source_.width - 1;
    const sampleTable* table = &cache_.get()->sampleTable8;
    const uint32_t mode = params_.sampleMode, acc = accumulate_ ? 1 : 0;
    int32_t status = 0;
    switch (path) {
      case Path::Portable:
        status = affineTable_core8(acc, &params_, table, first, last, destination,
                                   mode == 2 ? affineLineBilinear8 : affineLineCubic8);
        break;
      case Path::FloorReference:
        status = affineTable_core8(acc, &params_, table, first, last, destination,
                                   mode == 2 ? affineLineBilinear8 : floorCubicLine);
        break;
      case Path::Simd:
        status = accumulate_ ? affineTile_tableAccumulate8(1, &params_, table, first, last, destination)
                             : affineTile_tableStore8(0, &params_, table, first, last, destination);
        break;
    }
    if (accumulate_) {
      *result = entries;
    } else {
      result->assign(pels.begin(), pels.end());
    }
    return status;
  }

 private:
  const Cache& cache_;
  kimg_window source_;
  kimg_window destination_{};
  affineSampleParams params_;
  bool accumulate_;
  bool refreshed_ = false;
  std::vector<uint32_t> out_;
};

// Samples g through the portable path, the reference and every target's drivers; returns the
// number of values in which the drivers differ from the portable path (each by one at most, and
// only in mode 3). Each target's name is added to `seen`.
int checkEveryTarget(const kimg_window& source, const Geometry& g, uint32_t mode, bool accumulate,
                     std::set<std::string>* seen) {
  Cache cache;
  Sampling sampling(cache, source, g, mode, accumulate);
  if (!sampling.general()) return 0;
  std::vector<uint32_t> portable, reference, simd;
  EXPECT_EQ(sampling.run(Path::Portable, &portable), 0);
  EXPECT_EQ(sampling.run(Path::FloorReference, &reference), 0);
  if (mode == 2) EXPECT_EQ(reference, portable);

  int differing = 0;
  for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
    ForcedTarget forced(target);
    const std::string name = tableSimdTargetName();
    EXPECT_EQ(name, hwy::TargetName(target));
    seen->insert(name);
    EXPECT_EQ(sampling.run(Path::Simd, &simd), 0);
    EXPECT_EQ(simd, reference) << name;
    differing = 0;
    for (size_t i = 0; i < simd.size(); ++i) {
      if (simd[i] == portable[i]) continue;
      ++differing;
      EXPECT_EQ(mode, 3u) << name;
      // A projection entry sums a column of pels, each at most one level off.
      const int64_t tolerance = accumulate ? g.yCount : 1;
      EXPECT_LE(std::abs(int64_t{simd[i]} - int64_t{portable[i]}), tolerance) << name << ", value " << i;
    }
  }
  return differing;
}

// Random geometries: every octant, scales 0.25 to 4 (log-uniform), mirrors, sizes from one sample
// to several tiles, each placed at random where the clip test accepts it.
std::vector<Geometry> randomGeometries(const kimg_window& source, uint32_t mode, int count, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<Geometry> geometries;
  for (int i = 0; i < count; ++i) {
    Geometry g{45.0 * (i % 8) + 45.0 * unit(random), std::pow(2.0, -2 + 4 * unit(random)), (i / 8) % 2 == 1, 1, 1};
    const int32_t largest = std::max(1, std::min(200, static_cast<int32_t>(260 / g.scale)));
    const auto size = [&] {
      const double u = unit(random);
      return u < 0.2 ? 1 + static_cast<int32_t>(9 * unit(random)) : 1 + static_cast<int32_t>(largest * u);
    };
    g.xCount = size();
    g.yCount = size();
    double ex, ey;
    g.halfExtents(&ex, &ey);
    for (int attempt = 0; attempt < 100; ++attempt) {
      g.cx = ex + 3 + (source.width - 2 * ex - 6) * unit(random);
      g.cy = ey + 3 + (source.height - 2 * ey - 6) * unit(random);
      if (!clips(g, mode, source)) break;
    }
    EXPECT_FALSE(clips(g, mode, source)) << g.describe();
    geometries.push_back(g);
  }
  // Walks of many tiles in both directions, one of them shrunk by a reduction.
  for (const Geometry& g :
       {Geometry{30, 1.0, false, 250, 220, 256.3, 224.1}, Geometry{-118, 0.8, true, 230, 200, 256.2, 224.4},
        Geometry{12, 3.1, false, 70, 60, 256.7, 224.9}}) {
    geometries.push_back(g);
  }
  return geometries;
}

struct DriverCase {
  uint32_t mode;
  bool accumulate;
};

std::string driverCaseName(const ::testing::TestParamInfo<DriverCase>& info) {
  return std::string(info.param.mode == 2 ? "Linear" : "Cubic") + (info.param.accumulate ? "Project" : "Store");
}

class Drivers : public ::testing::TestWithParam<DriverCase> {};

TEST_P(Drivers, RandomGeometriesOnEveryTarget) {
  const DriverCase c = GetParam();
  const Noise image(512, 448, 21);
  const kimg_window source = image.window();
  std::set<std::string> seen;
  int differing = 0;
  for (const Geometry& g : randomGeometries(source, c.mode, 40, 5 + c.mode)) {
    SCOPED_TRACE(g.describe());
    differing += checkEveryTarget(source, g, c.mode, c.accumulate, &seen);
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
  const kimg_window source = image.window();
  std::set<std::string> seen;
  for (int step = 0; step < 48; ++step) {
    for (double scale : {0.4, 1.0, 2.2}) {
      for (int corner = 0; corner < 4; ++corner) {
        Geometry g{7.5 * step, scale, (step + corner) % 2 == 1, 9 + corner % 2, 5 + step % 2};
        ASSERT_TRUE(placeAtClipLimit(g, c.mode, source, corner & 1 ? 1 : -1, corner & 2 ? 1 : -1)) << g.describe();
        SCOPED_TRACE(g.describe());
        checkEveryTarget(source, g, c.mode, c.accumulate, &seen);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, Drivers,
                         ::testing::Values(DriverCase{2, false}, DriverCase{2, true}, DriverCase{3, false},
                                           DriverCase{3, true}),
                         driverCaseName);

// ------------------------------------------------------------------------------------------------
// The line kernels alone: first-pass counts and sample counts from 1 to past several vectors, odd
// ones included, x-major and y-major rows, rows whose taps reach the source's last pel.

struct KernelRow {
  bool yMajor;
  bool atEnd;  // the row's last taps reach the source's last pel
};

class LineKernels : public ::testing::TestWithParam<KernelRow> {};

TEST_P(LineKernels, OddCountsMatchThePortableKernels) {
  const KernelRow row = GetParam();
  constexpr int32_t kWidth = 48, kHeight = 40;
  const Noise image(kWidth, kHeight, 3);
  const int16_t* weights = nullptr;
  ASSERT_EQ(cubicWeightTable_ensure(), 0);
  ASSERT_EQ(cubicWeightTable_getWeights(cubicWeightTable_get(), &weights), 0);
  const ptrdiff_t lastOffset = ptrdiff_t{kWidth} * kHeight - 1;

  sampleTable table{};
  sampleTableHeader& h = table.header;
  h.majorStep = row.yMajor ? kWidth : 1;
  h.minorStep = row.yMajor ? 1 : kWidth;
  h.minorAdvance = row.yMajor ? 0x6A3D : -0x4C21;  // 0.415 or -0.297 minor pels per major pel

  std::vector<int16_t> lineSimd(160), lineReference(160);
  for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
    ForcedTarget forced(target);
    SCOPED_TRACE(hwy::TargetName(target));
    std::mt19937 random(17);
    for (int32_t count = 1; count <= 37; ++count) {
      for (uint32_t mode : {2u, 3u}) {
        const int32_t lead = mode == 3 ? 1 : 0;
        // Place the row: its first value's reference pel, so that the value before it (mode 3) and
        // every tap stays inside, and atEnd puts the last value's highest tap on the last pel.
        const int32_t minor0 = 0x8000 + static_cast<int32_t>(random() & 0x7FFF);
        const auto highestTap = [&](int32_t k) {
          const int32_t a = minor0 + k * h.minorAdvance;
          return ptrdiff_t{k} * h.majorStep + ptrdiff_t{a >> 16} * h.minorStep + (1 + lead) * ptrdiff_t{h.minorStep};
        };
        ptrdiff_t highest = 0;
        for (int32_t k = 0; k < count; ++k) highest = std::max(highest, highestTap(k));
        const ptrdiff_t start = row.atEnd ? lastOffset - highest : (row.yMajor ? kWidth + 3 : 20 * kWidth + 2);
        for (int32_t samples : {1, 2, 3, 7, 8, 9, 15, 16, 17, 33}) {
          h.tileWidth[0] = static_cast<uint16_t>(samples);
          // Line positions spread over the line, within the values the walk would leave there.
          h.lineAdvance = std::max(1, ((count + 1) << 16) / samples);
          const int32_t line = static_cast<int32_t>(random() & 0xFFFF);
          for (int16_t& v : lineSimd) v = static_cast<int16_t>(random());
          lineReference = lineSimd;
          table.lineBuffer = lineReference.data();
          table.lineBufferSize = static_cast<int32_t>(lineReference.size() * sizeof(int16_t));

          for (bool accumulate : {false, true}) {
            std::vector<uint32_t> outSimd(40, 7), outReference(40, 7);
            const tableLineContext context{accumulate ? 1u : 0u, mode, &table, weights, table.lineBuffer,
                                           table.lineBufferSize};
            const int32_t n = count - 1 - 2 * lead;
            // The portable kernels take the line's first position; the optimized ones one value
            // earlier in mode 3.
            const tableLineKernel8 reference = mode == 2 ? affineLineBilinear8 : floorCubicLine;
            reference(&context, n, 0, minor0 + lead * h.minorAdvance, line, image.pels.data(),
                      start + lead * h.majorStep, lineReference.data(), lineReference.data(), outReference.data());

            const simdLineParams p{image.pels.data(),
                                   start,
                                   lastOffset,
                                   weights,
                                   outSimd.data(),
                                   minor0,
                                   line,
                                   n,
                                   samples * (accumulate ? 4 : 1),
                                   lineSimd.data(),
                                   static_cast<int32_t>(lineSimd.size() * sizeof(int16_t))};
            if (mode == 2) {
              (accumulate ? affineLineBilinearSimdAcc8 : affineLineBilinearSimd8)(&h, &p, lineSimd.data(),
                                                                                  lineSimd.data());
            } else {
              (accumulate ? affineLineCubicSimdAcc8 : affineLineCubicSimd8)(&h, &p, lineSimd.data(), lineSimd.data());
            }
            ASSERT_EQ(outSimd, outReference) << "mode " << mode << ", count " << count << ", samples " << samples;
            ASSERT_EQ(lineSimd, lineReference) << "mode " << mode << ", count " << count << ", samples " << samples;
          }
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, LineKernels,
                         ::testing::Values(KernelRow{false, false}, KernelRow{true, false}, KernelRow{false, true},
                                           KernelRow{true, true}),
                         [](const ::testing::TestParamInfo<KernelRow>& info) {
                           return std::string(info.param.yMajor ? "YMajor" : "XMajor") +
                                  (info.param.atEnd ? "AtSourceEnd" : "");
                         });

// ------------------------------------------------------------------------------------------------
// Refusals: each before anything is written.

TEST(DriverRefusals, ProcessorQueryAndMode) {
  const Noise image(40, 40, 1);
  const kimg_window source = image.window();
  const Geometry g{30, 1.0, false, 20, 16, 20.3, 19.6};
  Cache cache;
  Sampling sampling(cache, source, g, 2, false);
  ASSERT_TRUE(sampling.general());
  const auto* first = image.pels.data();
  const uint8_t* last = first + image.pels.size() - 1;
  std::vector<uint8_t> pels(size_t(g.xCount) * g.yCount, 77);
  std::vector<uint32_t> entries(g.xCount, 5);
  const sampleTable* table = &cache.get()->sampleTable8;
  const auto both = [&](affineSampleParams params) {
    const int32_t store = affineTile_tableStore8(0, &params, table, first, last, pels.data());
    const int32_t project = affineTile_tableAccumulate8(1, &params, table, first, last, entries.data());
    EXPECT_EQ(store, project);
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
  const kimg_window source = image.window();
  const Geometry g{20, 1.0, false, 120, 100, 100.2, 90.3};
  Cache cache;
  Sampling sampling(cache, source, g, 3, false);
  ASSERT_TRUE(sampling.general());
  ASSERT_EQ(cubicWeightTable_ensure(), 0);  // built once per process, outside the sweep
  const affineSampleParams params = g.params(3);
  const auto* first = image.pels.data();
  const uint8_t* last = first + image.pels.size() - 1;
  std::vector<uint8_t> pels(size_t(g.xCount) * g.yCount);
  const int allocations = kiptest::sweepAllocationFailures(
      [&] {
        std::fill(pels.begin(), pels.end(), uint8_t{77});
        return affineTile_tableStore8(0, &params, &cache.get()->sampleTable8, first, last, pels.data());
      },
      [&] {
        EXPECT_TRUE(std::all_of(pels.begin(), pels.end(), [](uint8_t p) { return p == 77; }));
      });
  EXPECT_EQ(allocations, 1);
}

// The optimized process hands the two-pass modes to the drivers, and declines what they do not
// expect, so that the portable path reports it.
TEST(OptimizedProcess, TwoPassModesReachTheDrivers) {
  const Noise image(120, 100, 6);
  const kimg_window source = image.window();
  const kmath_xformLinear identity{0, 0, 1, 0, 0, 1};
  const Geometry g{-35, 0.9, true, 70, 50, 60.3, 50.2};
  const auto* first = image.pels.data();
  const uint8_t* last = first + image.pels.size() - 1;
  for (uint32_t mode : {2u, 3u}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    Cache cache;
    Sampling sampling(cache, source, g, mode, false);
    ASSERT_TRUE(sampling.general());
    const affineSampleParams params = g.params(mode);
    std::vector<uint8_t> driver(size_t(g.xCount) * g.yCount), optimized(driver.size(), 1);
    ASSERT_EQ(affineTile_tableStore8(0, &params, &cache.get()->sampleTable8, first, last, driver.data()), 0);
    kimg_window destination{};
    destination.width = g.xCount, destination.height = g.yCount, destination.stride = g.xCount;
    destination.pelSize = 1, destination.firstPel = optimized.data();
    ASSERT_EQ(affineProcess_optimized8(0, &source, &identity, &destination, &params, cache.get()), 0);
    EXPECT_EQ(optimized, driver);

    kimg_window otherStride = destination;
    otherStride.stride += 1;
    EXPECT_EQ(affineProcess_optimized8(0, &source, &identity, &otherStride, &params, cache.get()),
              KIP_ERR_NOT_AVAILABLE);
    kimg_window band = destination;
    band.bandOffset = -10;
    EXPECT_EQ(affineProcess_optimized8(0, &source, &identity, &band, &params, cache.get()), KIP_ERR_NOT_AVAILABLE);
  }
}

}  // namespace
