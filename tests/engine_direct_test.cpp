// The direct path of the portable process (nearest neighbour and bilinear): kernel values worked
// out by hand, every loop against a float64 reference of the same interpolation, and the walks'
// invariants (tile order, bands, large sources, clamping at the clip test's limits).
#include "cache/cache.hpp"
#include "engine/direct_process.hpp"
#include "engine/portable_process.hpp"
#include "engine/table_process.hpp"
#include "engine/tile_loops.hpp"
#include "frame/optimization_hook.hpp"
#include "platform/math.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

using kiptest::ScopedHook;

kimg_window makeWindow(const void* pels, int32_t pelSize, int32_t width, int32_t height, int32_t stride,
                       int32_t xOrigin = 0, int32_t yOrigin = 0) {
  kimg_window window{};
  window.width = width;
  window.height = height;
  window.xOrigin = xOrigin;
  window.yOrigin = yOrigin;
  window.stride = stride;
  window.firstPel = const_cast<void*>(pels);
  window.pelSize = pelSize;
  return window;
}

// Sum of three low-frequency cosines, quantised: neighbouring pels differ by a few levels (8-bit).
template <typename Pel>
void fillSmooth(std::vector<Pel>& pels, int32_t width, int32_t height, int32_t stride, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  const double top = Pel(~Pel(0));
  double fx[3], fy[3], phase[3];
  for (int k = 0; k < 3; ++k) {
    const double angle = uniform(random) * 2 * std::numbers::pi, period = 25.0 + 40.0 * uniform(random);
    fx[k] = std::cos(angle) * 2 * std::numbers::pi / period;
    fy[k] = std::sin(angle) * 2 * std::numbers::pi / period;
    phase[k] = uniform(random) * 2 * std::numbers::pi;
  }
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      double v = 0.0;
      for (int k = 0; k < 3; ++k) v += std::cos(fx[k] * x + fy[k] * y + phase[k]);
      pels[static_cast<size_t>(y) * stride + x] = static_cast<Pel>(std::lround(top * (0.5 + v / 6.2)));
    }
  }
}

// ----------------------------------------------------------------------------------------------
// Kernels on a 2 x 2 source, positions worked out by hand.

struct HandCase {
  const char* name;
  int bits;
  uint32_t mode;
  double x, y;
  uint32_t pels[4];  // (0,0), (1,0), (0,1), (1,1)
  uint32_t expected;
};

// Runs every kernel of the case's pel size and mode that takes this position: 16.16 store and
// accumulate, and for 8-bit the double ones too. Accumulate adds three rows onto 1000.
template <typename Pel>
void runHandCase(const HandCase& c) {
  const std::vector<Pel> pels{Pel(c.pels[0]), Pel(c.pels[1]), Pel(c.pels[2]), Pel(c.pels[3])};
  const DirectSource<Pel> source{pels.data(), 2, 2, 2, 0, 0};
  const int32_t fx = static_cast<int32_t>(c.x * 65536), fy = static_cast<int32_t>(c.y * 65536);
  DirectKernel<Pel> store, acc;
  if constexpr (sizeof(Pel) == 1) {
    store = affineDirect_kernel8(c.mode, 0);
    acc = affineDirect_kernel8(c.mode, 1);
  } else {
    store = affineDirect_kernel16(c.mode, 0);
    acc = affineDirect_kernel16(c.mode, 1);
  }
  Pel out = 0;
  EXPECT_EQ(store(fx, fy, 0, 0, 0, 0, 1, 1, source, &out, 1), 0);
  EXPECT_EQ(out, c.expected) << "16.16 store";
  uint32_t sums[2] = {1000, 7};
  EXPECT_EQ(acc(fx, fy, 0, 0, 0, 0, 1, 3, source, sums, 0), 0);
  EXPECT_EQ(sums[0], 1000 + 3 * c.expected) << "16.16 accumulate";
  EXPECT_EQ(sums[1], 7u) << "accumulate wrote past its count";
  if constexpr (sizeof(Pel) == 1) {
    const DirectFloatKernel8 floatStore = affineDirect_floatKernel8(c.mode, 0);
    const DirectFloatKernel8 floatAcc = affineDirect_floatKernel8(c.mode, 1);
    out = 0;
    EXPECT_EQ(floatStore(c.x, c.y, 0, 0, 0, 0, 1, 1, source, &out, 1, 0), 0);
    EXPECT_EQ(out, c.expected) << "double store";
    sums[0] = 1000;
    EXPECT_EQ(floatAcc(c.x, c.y, 0, 0, 0, 0, 1, 3, source, sums, 0, 0), 0);
    EXPECT_EQ(sums[0], 1000 + 3 * c.expected) << "double accumulate";
  }
}

void PrintTo(const HandCase& c, std::ostream* os) { *os << c.name; }

class HandValues : public ::testing::TestWithParam<HandCase> {};

TEST_P(HandValues, KernelsGiveTheWorkedValue) {
  const HandCase& c = GetParam();
  if (c.bits == 8) {
    runHandCase<uint8_t>(c);
  } else {
    runHandCase<uint16_t>(c);
  }
}

// 8-bit bilinear weights complement from 0xFFFF and are shifted to 16 bits, so they sum to a little
// less than 65536: a 0/255 half-way sample gives 127 where exact weights would round to 128. 16-bit
// weights complement from 0x10000 unshifted and sum to 2^32 exactly.
INSTANTIATE_TEST_SUITE_P(
    Direct, HandValues,
    ::testing::Values(HandCase{"centre255_8", 8, 1, 0.5, 0.5, {255, 255, 255, 255}, 255},  // w00 = 65534
                      HandCase{"halfFlat255_8", 8, 1, 1.0, 0.5, {255, 255, 255, 255}, 255},
                      HandCase{"halfRamp_8", 8, 1, 1.0, 0.5, {0, 255, 0, 255}, 127},    // w00 = 32766, w10 = 32767
                      HandCase{"quarter_8", 8, 1, 0.75, 0.5, {0, 200, 0, 200}, 50},     // w10 = 16383
                      HandCase{"diagonal_8", 8, 1, 1.0, 1.0, {0, 100, 100, 200}, 100},  // w11 = 16384, others 16383
                      HandCase{"centre65535_16", 16, 1, 0.5, 0.5, {65535, 65535, 65535, 65535}, 65535},
                      HandCase{"centrePel_16", 16, 1, 0.5, 0.5, {12345, 1, 2, 3}, 12345},  // w00 = 2^32
                      HandCase{"halfFlat_16", 16, 1, 1.0, 0.5, {65535, 65535, 65535, 65535}, 65535},
                      HandCase{"halfRamp_16", 16, 1, 1.0, 0.5, {0, 65535, 0, 65535}, 32767},
                      HandCase{"diagonal_16", 16, 1, 1.0, 1.0, {0, 100, 100, 200}, 100},
                      HandCase{"nearestBorderGoesRight_8", 8, 0, 1.0, 0.5, {10, 20, 30, 40}, 20},
                      HandCase{"nearestLowerLeft_8", 8, 0, 0.75, 1.25, {10, 20, 30, 40}, 30},
                      HandCase{"nearestBorderGoesDown_16", 16, 0, 0.25, 1.0, {1000, 2000, 3000, 4000}, 3000}),
    [](const auto& info) { return std::string(info.param.name); });

// Positions just over the edges of a one-pel source, and a nearest centre exactly on its far edge,
// which the clip test's rounding admits: every kernel reads only that pel (ASan sees the source's
// exact bounds).
TEST(DirectKernels, ClampIntoTheSourceAtItsEdges) {
  const std::vector<uint8_t> one8{200};
  const std::vector<uint16_t> one16{40000};
  const DirectSource<uint8_t> source8{one8.data(), 1, 1, 1, 0, 0};
  const DirectSource<uint16_t> source16{one16.data(), 1, 1, 1, 0, 0};
  const int32_t edge = 0x10000, justOver = 0x8001, justUnder = 0x7FFF;
  for (int32_t x : {edge, justOver, justUnder}) {
    for (int32_t y : {edge, justOver, justUnder}) {
      uint8_t out8 = 0;
      uint16_t out16 = 0;
      affineRowNearest8(x, y, 0, 0, 0, 0, 1, 1, source8, &out8, 1);
      EXPECT_EQ(out8, 200);
      affineRowBilinear8(x, y, 0, 0, 0, 0, 1, 1, source8, &out8, 1);
      EXPECT_EQ(out8, 200);
      affineRowNearestFloat8(x / 65536.0, y / 65536.0, 0, 0, 0, 0, 1, 1, source8, &out8, 1, 0);
      EXPECT_EQ(out8, 200);
      affineRowBilinearFloat8(x / 65536.0, y / 65536.0, 0, 0, 0, 0, 1, 1, source8, &out8, 1, 0);
      EXPECT_EQ(out8, 200);
      affineRowNearest16(x, y, 0, 0, 0, 0, 1, 1, source16, &out16, 1);
      EXPECT_EQ(out16, 40000);
      affineRowBilinear16(x, y, 0, 0, 0, 0, 1, 1, source16, &out16, 1);
      EXPECT_EQ(out16, 40000);
    }
  }
}

// The hook is asked once per tile; forbidding the optimized tile gives the same pels.
TEST(DirectKernels, Hooked16AsksOncePerTileAndFallsBack) {
  std::vector<uint16_t> pels(64 * 64);
  fillSmooth(pels, 64, 64, 64, 5);
  const DirectSource<uint16_t> source{pels.data(), 64, 64, 64, 0, 0};
  std::vector<uint16_t> plain(20 * 10), hooked(20 * 10);
  const int32_t x = 0x30000 + 0x1234, y = 0x20000 + 0x4321;
  affineRowBilinear16(x, y, 0x3000, 0xE000, 0xD000, 0x1800, 20, 10, source, plain.data(), 20);
  for (bool forbid : {false, true}) {
    ScopedHook hook(forbid ? std::initializer_list<std::string>{kHookBilinearTile16}
                           : std::initializer_list<std::string>{});
    std::fill(hooked.begin(), hooked.end(), 0);
    EXPECT_EQ(affineRowBilinearHooked16(x, y, 0x3000, 0xE000, 0xD000, 0x1800, 20, 10, source, hooked.data(), 20), 0);
    EXPECT_EQ(hooked, plain);
    EXPECT_EQ(ScopedHook::askedCount(kHookBilinearTile16), 1);
  }
}

// ----------------------------------------------------------------------------------------------
// Samplings: a rectangle of the source's client coordinates, rotated, scaled, maybe mirrored.

// Image-from-client transform of the test sources: a scale and a shift, so that client units
// are not pels and a slip in the order of composition shows.
const kmath_xformLinear kSourceXform{10.0, -5.0, 0.8, 0.0, 0.0, 0.8};

struct Sampling {
  affineSampleParams params;
  kimg_window source;
  kmath_xformLinear xform;
};

// A rectangle of lengthX x lengthY source pels centred on pel-grid point (cx, cy), its x side at
// angle degrees, sampled every pitch pels. Exact diagonals (45 + 90k with exactDiagonal) use
// cos = sin = sqrt(1/2) bit for bit.
affineSampleParams makeParams(uint32_t mode, double degrees, bool exactDiagonal, double pitch, bool mirrored, double cx,
                              double cy, double lengthX, double lengthY,
                              const kmath_xformLinear& xform = kSourceXform) {
  double c = std::cos(degrees * std::numbers::pi / 180), s = std::sin(degrees * std::numbers::pi / 180);
  if (exactDiagonal) {
    c = std::copysign(std::sqrt(0.5), c);
    s = std::copysign(std::sqrt(0.5), s);
  }
  const double a = xform.e0;  // the test transforms scale x and y alike
  const double flip = mirrored ? -1.0 : 1.0;
  const double xSideX = lengthX * c / a, xSideY = lengthX * s / a;
  const double ySideX = -lengthY * s * flip / a, ySideY = lengthY * c * flip / a;
  const double centreX = (cx - xform.tx) / a, centreY = (cy - xform.ty) / a;
  affineSampleParams params{};
  params.affineRect = {
      centreX - 0.5 * (xSideX + ySideX), centreY - 0.5 * (xSideY + ySideY), xSideX, ySideX, xSideY, ySideY};
  params.sampleMode = mode;
  params.xCount = std::max(1, static_cast<int32_t>(std::lround(lengthX / pitch)));
  params.yCount = std::max(1, static_cast<int32_t>(std::lround(lengthY / pitch)));
  return params;
}

// Centre of destination pel (i, j) in source window pels, straight from the definition.
kmath_vect samplePosition(const Sampling& s, int32_t i, int32_t j) {
  const double u = (i + 0.5) / s.params.xCount, v = (j + 0.5) / s.params.yCount;
  const kmath_shapeAffineRect& r = s.params.affineRect;
  const double clientX = r.tx + r.e0 * u + r.e1 * v, clientY = r.ty + r.e2 * u + r.e3 * v;
  const kmath_xformLinear& t = s.xform;
  return {t.tx + t.e0 * clientX + t.e1 * clientY - s.source.xOrigin,
          t.ty + t.e2 * clientX + t.e3 * clientY - s.source.yOrigin};
}

template <typename Pel>
double pelOf(const Sampling& s, int64_t x, int64_t y) {
  return static_cast<const Pel*>(s.source.firstPel)[y * s.source.stride + x];
}

// process: the portable entry (tiles of 64 for 8-bit, of the stride's tile rows for 16-bit);
// fixed, large, floating: that tile loop called directly.
enum class Loop { process, fixed, large, floating };

// Runs the direct path one way, storing or accumulating into destination.
template <typename Pel>
int32_t runLoop(Loop loop, uint32_t accumulate, const Sampling& s, const kimg_window& destination, int32_t tile = 64,
                TileOrder order = TileOrder::automatic) {
  const uint32_t mode = s.params.sampleMode;
  if constexpr (sizeof(Pel) == 2) {
    if (loop == Loop::process) {
      return affineProcess_portable16(accumulate, &s.source, &s.xform, &destination, &s.params, nullptr);
    }
    return affineTile_loop16(accumulate, &s.source, &s.xform, &destination, &s.params, tile,
                             affineDirect_kernel16(mode, accumulate), order);
  } else {
    switch (loop) {
      case Loop::process:
        return affineProcess_portable8(accumulate, &s.source, &s.xform, &destination, &s.params, nullptr);
      case Loop::fixed:
        return affineTile_loop8(accumulate, &s.source, &s.xform, &destination, &s.params, tile,
                                affineDirect_kernel8(mode, accumulate), order);
      case Loop::large:
        return affineTile_loopLarge8(accumulate, &s.source, &s.xform, &destination, &s.params, tile,
                                     affineDirect_kernel8(mode, accumulate), order);
      case Loop::floating:
        return affineTile_loopFloat8(accumulate, &s.source, &s.xform, &destination, &s.params, tile,
                                     affineDirect_floatKernel8(mode, accumulate), order);
    }
    return KIP_ERR_INTERNAL;
  }
}

// A whole-destination store: xCount x yCount pels, stride xCount + 3 with guard pels that must
// stay untouched.
template <typename Pel>
struct Destination {
  static constexpr Pel kGuard = Pel(0xA5A5);
  int32_t width, height, stride;
  std::vector<Pel> pels;
  Destination(int32_t w, int32_t h)
      : width(w), height(h), stride(w + 3), pels(static_cast<size_t>(stride) * h, kGuard) {}
  kimg_window window() { return makeWindow(pels.data(), sizeof(Pel), width, height, stride); }
  Pel at(int32_t i, int32_t j) const { return pels[static_cast<size_t>(j) * stride + i]; }
  bool guardsIntact() const {
    for (int32_t j = 0; j < height; ++j) {
      for (int32_t i = width; i < stride; ++i) {
        if (at(i, j) != kGuard) return false;
      }
    }
    return true;
  }
};

// ----------------------------------------------------------------------------------------------
// Against a float64 reference of the same interpolation.

struct ReferenceCase {
  int bits;
  uint32_t mode;
  bool mirrored;
  Loop loop;
};

void PrintTo(const ReferenceCase& c, std::ostream* os) {
  *os << c.bits << "-bit mode " << c.mode << " loop " << int(c.loop) << (c.mirrored ? " mirrored" : "");
}

std::string referenceName(const ::testing::TestParamInfo<ReferenceCase>& info) {
  const ReferenceCase& c = info.param;
  const char* loops[] = {"process", "fixed", "large", "float"};
  return std::string(c.mode == 0 ? "nearest" : "bilinear") + std::to_string(c.bits) + "_" + loops[int(c.loop)] +
         (c.mirrored ? "_mirrored" : "");
}

class AgainstReference : public ::testing::TestWithParam<ReferenceCase> {
 protected:
  template <typename Pel>
  void run();
};

// How far the position a loop gives destination pel (i, j) can be from the true one: the start
// rounded, then every truncated 16.16 step carried on the way to it (pel steps inside a tile; tile
// steps taken from doubles on long samplings; 2.30 tile origins exact). Doubles: rounding only.
double positionTolerance(Loop loop, const affineSampleParams& params, int32_t tile, int32_t i, int32_t j) {
  if (loop == Loop::floating) return 1e-9;
  const bool tileStepsExact = loop == Loop::large || params.xCount > 1024 || params.yCount > 1024;
  const double steps = tileStepsExact ? i % tile + j % tile + i / tile + j / tile : i + j;
  return (1.0 + steps) / 65536.0;
}

template <typename Pel>
void AgainstReference::run() {
  const ReferenceCase& c = GetParam();
  const int32_t width = 150, height = 140;
  std::vector<Pel> pels(static_cast<size_t>(width) * height);  // exact size: no slack
  fillSmooth(pels, width, height, width, 11 + c.bits);
  Sampling s{{}, makeWindow(pels.data(), sizeof(Pel), width, height, width, -13, 7), kSourceXform};
  std::vector<double> angles;
  for (int a = 0; a < 360; a += 15) angles.push_back(a);
  for (double a : {45.0, 135.0, 225.0, 315.0}) angles.push_back(-a);  // negative: exact diagonal
  struct Shape {
    double pitch, lengthX, lengthY;
  };
  // Pitches from a quarter pel to four pels, and a long thin sampling of more than 1024 columns
  // (tile steps then come from the double steps).
  const Shape shapes[] = {{0.25, 50, 40}, {0.6, 60, 50}, {1.0, 60, 48}, {1.7, 60, 50}, {4.0, 64, 52}, {0.07, 77, 3}};
  int64_t samples = 0, skipped = 0;
  for (double angle : angles) {
    for (const Shape& shape : shapes) {
      s.params = makeParams(c.mode, std::fabs(angle), angle < 0, shape.pitch, c.mirrored, width / 2.0 - 13,
                            height / 2.0 + 7, shape.lengthX, shape.lengthY);
      Destination<Pel> out(s.params.xCount, s.params.yCount);
      ASSERT_EQ(runLoop<Pel>(c.loop, 0, s, out.window()), 0);
      ASSERT_TRUE(out.guardsIntact());
      std::vector<uint32_t> sums(s.params.xCount + 1, 9);
      const kimg_window vector = makeWindow(sums.data(), 4, s.params.xCount, 1, s.params.xCount);
      ASSERT_EQ(runLoop<Pel>(c.loop, 1, s, vector), 0);
      ASSERT_EQ(sums.back(), 9u);

      for (int32_t i = 0; i < out.width; ++i) {
        uint32_t columnSum = 9;
        for (int32_t j = 0; j < out.height; ++j) {
          const Pel got = out.at(i, j);
          columnSum += got;
          const kmath_vect p = samplePosition(s, i, j);
          const double tolerance = positionTolerance(c.loop, s.params, sizeof(Pel) == 1 ? 64 : 224, i, j);
          ++samples;
          if (c.mode == KIP_SAMPLE_NEAREST) {
            const double nearX = std::fabs(p.x - std::round(p.x)), nearY = std::fabs(p.y - std::round(p.y));
            if (nearX < tolerance || nearY < tolerance) {
              ++skipped;  // on a pel border to within the position's precision
              continue;
            }
            ASSERT_EQ(got, pelOf<Pel>(s, std::floor(p.x), std::floor(p.y)))
                << "angle " << angle << " pitch " << shape.pitch << " at " << i << "," << j;
          } else {
            const double x = p.x - 0.5, y = p.y - 0.5;
            const int64_t ix = std::floor(x), iy = std::floor(y);
            const double fx = x - ix, fy = y - iy;
            const double a = pelOf<Pel>(s, ix, iy), b = pelOf<Pel>(s, ix + 1, iy);
            const double d = pelOf<Pel>(s, ix, iy + 1), e = pelOf<Pel>(s, ix + 1, iy + 1);
            const double expected = (a * (1 - fx) + b * fx) * (1 - fy) + (d * (1 - fx) + e * fx) * fy;
            // One level, plus what the position's error can move the value on this slope.
            const double slope = std::max({a, b, d, e}) - std::min({a, b, d, e});
            ASSERT_LE(std::fabs(got - expected), 1.0 + 2 * slope * tolerance)
                << "angle " << angle << " pitch " << shape.pitch << " at " << i << "," << j;
          }
        }
        ASSERT_EQ(sums[i], columnSum) << "accumulate differs from the stored column " << i;
      }
    }
  }
  EXPECT_LT(skipped, samples / 50) << "too few samples checked";
}

TEST_P(AgainstReference, WithinOneLevelOrTheSamePel) {
  if (GetParam().bits == 8) {
    run<uint8_t>();
  } else {
    run<uint16_t>();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Direct, AgainstReference,
    ::testing::Values(ReferenceCase{8, 0, false, Loop::process}, ReferenceCase{8, 0, true, Loop::process},
                      ReferenceCase{8, 1, false, Loop::process}, ReferenceCase{8, 1, true, Loop::process},
                      ReferenceCase{16, 0, false, Loop::process}, ReferenceCase{16, 0, true, Loop::process},
                      ReferenceCase{16, 1, false, Loop::process}, ReferenceCase{16, 1, true, Loop::process},
                      ReferenceCase{8, 0, true, Loop::large}, ReferenceCase{8, 1, false, Loop::large},
                      ReferenceCase{8, 0, false, Loop::floating}, ReferenceCase{8, 1, true, Loop::floating}),
    referenceName);

// ----------------------------------------------------------------------------------------------
// The walk: tile pieces, order, bands.

struct KernelCall {
  int32_t count, rows;
  const void* destination;
};
std::vector<KernelCall> recordedCalls;
int failOnCall = 0;  // 1-based; 0 never

int32_t recordingNearest8(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                          int32_t count, int32_t rows, const DirectSource<uint8_t>& source, void* destination,
                          int32_t destinationStride) {
  recordedCalls.push_back({count, rows, destination});
  if (static_cast<int>(recordedCalls.size()) == failOnCall) return KIP_ERR_INTERNAL;
  return affineRowNearest8(x, y, rowX, rowY, columnX, columnY, count, rows, source, destination, destinationStride);
}

struct SmoothSource8 {
  std::vector<uint8_t> pels;
  kimg_window window;
  explicit SmoothSource8(int32_t width = 150, int32_t height = 140) : pels(static_cast<size_t>(width) * height) {
    fillSmooth(pels, width, height, width, 3);
    window = makeWindow(pels.data(), 1, width, height, width);
  }
};

// A destination of 65 x 1 with tile 64 is two tiles, the second of one sample; storing and
// accumulating write exactly their 65 pels or entries, and a failing kernel ends the walk.
TEST(DirectWalk, SixtyFiveByOneIsTwoTiles) {
  SmoothSource8 source;
  Sampling s{makeParams(0, 30, false, 0.9, false, 75, 70, 58.5, 0.9, kmath_xformLinear{0, 0, 1, 0, 0, 1}),
             source.window,
             {0, 0, 1, 0, 0, 1}};
  ASSERT_EQ(s.params.xCount, 65);
  ASSERT_EQ(s.params.yCount, 1);
  Destination<uint8_t> whole(65, 1), tiled(65, 1);
  ASSERT_EQ(runLoop<uint8_t>(Loop::fixed, 0, s, whole.window(), 1000), 0);
  recordedCalls.clear();
  kimg_window window = tiled.window();
  ASSERT_EQ(affineTile_loop8(0, &s.source, &s.xform, &window, &s.params, 64, recordingNearest8), 0);
  ASSERT_EQ(recordedCalls.size(), 2u);
  EXPECT_EQ(recordedCalls[0].count, 64);
  EXPECT_EQ(recordedCalls[1].count, 1);
  EXPECT_EQ(recordedCalls[1].destination, &tiled.pels[64]);
  EXPECT_EQ(tiled.pels, whole.pels);  // guards included

  std::vector<uint32_t> sums(66, 5);
  const kimg_window vector = makeWindow(sums.data(), 4, 65, 1, 65);
  ASSERT_EQ(runLoop<uint8_t>(Loop::process, 1, s, vector), 0);
  for (int i = 0; i < 65; ++i) EXPECT_EQ(sums[i], 5u + whole.pels[i]);
  EXPECT_EQ(sums[65], 5u);

  recordedCalls.clear();
  failOnCall = 1;
  EXPECT_EQ(affineTile_loop8(0, &s.source, &s.xform, &window, &s.params, 64, recordingNearest8), KIP_ERR_INTERNAL);
  failOnCall = 0;
  EXPECT_EQ(recordedCalls.size(), 1u);
}

struct WalkCase {
  const char* name;
  int bits;
  Loop loop;
  double degrees;
  bool longRows;  // more than 1024 columns: tile steps from doubles
};

void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.name; }

class Walks : public ::testing::TestWithParam<WalkCase> {
 protected:
  template <typename Pel>
  void run();
};

template <typename Pel>
void Walks::run() {
  const WalkCase& c = GetParam();
  std::vector<Pel> pels(150 * 140);
  fillSmooth(pels, 150, 140, 150, 17);
  for (uint32_t mode : {KIP_SAMPLE_NEAREST, KIP_SAMPLE_BILINEAR}) {
    Sampling s{c.longRows ? makeParams(mode, c.degrees, false, 0.09, false, 75, 70, 99.5, 16.5)
                          : makeParams(mode, c.degrees, false, 0.37, false, 75, 70, 70.5, 90.5),
               makeWindow(pels.data(), sizeof(Pel), 150, 140, 150), kSourceXform};
    ASSERT_EQ(s.params.xCount > 1024, c.longRows);
    const int32_t width = s.params.xCount, height = s.params.yCount;
    ASSERT_GT(height, 180);

    // Tile order: forced either way, and the automatic choice, give the same pels.
    Destination<Pel> automatic(width, height);
    ASSERT_EQ(runLoop<Pel>(c.loop, 0, s, automatic.window(), 64, TileOrder::automatic), 0);
    for (TileOrder order : {TileOrder::rowMajor, TileOrder::columnMajor}) {
      Destination<Pel> forced(width, height);
      ASSERT_EQ(runLoop<Pel>(c.loop, 0, s, forced.window(), 64, order), 0);
      ASSERT_EQ(forced.pels, automatic.pels) << "order " << int(order) << " mode " << mode;
    }

    // Bands cut every h rows, at starts that are and are not multiples of the tile: each writes
    // exactly its rows, with the bits of the whole run.
    for (int32_t bandHeight : {37, 48, 64, 96, 224}) {
      for (int32_t first = 0; first < height; first += bandHeight) {
        Destination<Pel> band(width, height);
        kimg_window window = band.window();
        window.height = std::min(bandHeight, height - first);
        window.bandOffset = -first;
        ASSERT_EQ(runLoop<Pel>(c.loop, 0, s, window, 64), 0);
        for (int32_t j = 0; j < height; ++j) {
          const bool inBand = j >= first && j < first + window.height;
          for (int32_t i = 0; i < band.stride; ++i) {
            const Pel expected = inBand ? automatic.at(i, j) : Destination<Pel>::kGuard;
            ASSERT_EQ(band.at(i, j), expected) << "band " << first << "+" << bandHeight << " at " << i << "," << j;
          }
        }
      }
    }
  }
}

TEST_P(Walks, OrderAndBandsKeepEverySample) {
  if (GetParam().bits == 8) {
    run<uint8_t>();
  } else {
    run<uint16_t>();
  }
}

// Steep maps (80 degrees) are walked column by column when whole and row by row in bands.
INSTANTIATE_TEST_SUITE_P(Direct, Walks,
                         ::testing::Values(WalkCase{"fixed8_steep", 8, Loop::fixed, 80, false},
                                           WalkCase{"fixed8_flat_long", 8, Loop::fixed, 10, true},
                                           WalkCase{"fixed8_steep_long", 8, Loop::fixed, 100, true},
                                           WalkCase{"large8_steep", 8, Loop::large, 80, false},
                                           WalkCase{"large8_flat_long", 8, Loop::large, 190, true},
                                           WalkCase{"float8_steep", 8, Loop::floating, 260, false},
                                           WalkCase{"float8_flat_long", 8, Loop::floating, 10, true},
                                           WalkCase{"fixed16_steep", 16, Loop::fixed, 80, false},
                                           WalkCase{"fixed16_flat_long", 16, Loop::fixed, 350, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DirectWalk, SteepMapsGoDownTileColumnsUnlessBanded) {
  SmoothSource8 source;
  for (double degrees : {80.0, 10.0}) {
    Sampling s{makeParams(0, degrees, false, 0.5, false, 75, 70, 70, 60), source.window, kSourceXform};
    Destination<uint8_t> out(s.params.xCount, s.params.yCount);
    for (int32_t bandOffset : {0, -64}) {
      kimg_window window = out.window();
      window.bandOffset = bandOffset;
      window.height += bandOffset;
      recordedCalls.clear();
      ASSERT_EQ(affineTile_loop8(0, &s.source, &s.xform, &window, &s.params, 64, recordingNearest8), 0);
      const bool down = degrees == 80.0 && bandOffset == 0;
      const auto* first = static_cast<const uint8_t*>(window.firstPel) - int64_t{bandOffset} * window.stride;
      EXPECT_EQ(recordedCalls.at(0).destination, first);
      EXPECT_EQ(recordedCalls.at(1).destination, down ? first + 64 * window.stride : first + 64)
          << degrees << " degrees, band offset " << bandOffset;
    }
  }
}

// ----------------------------------------------------------------------------------------------
// Sources of 32768 pels or more across or down.

struct LargeCase {
  const char* name;
  bool tall;  // height 40000 rather than stride 40000
  uint32_t mode;
  uint32_t accumulate;
};

void PrintTo(const LargeCase& c, std::ostream* os) { *os << c.name; }

class LargeSources : public ::testing::TestWithParam<LargeCase> {};

// The same pels placed far out in a source of stride (or height) 40000 and in a narrow image
// whose window origin puts them at the same pel-grid place. Every step and start of the map is a
// multiple of 1/64 pel, so 16.16, 2.30 and double positions are all exact and every loop must
// give the same bits.
TEST_P(LargeSources, GiveTheOrdinaryLoopsPels) {
  const LargeCase& c = GetParam();
  const int32_t far = 34900, bigWidth = c.tall ? 160 : 40000, bigHeight = c.tall ? 40000 : 120;
  const int32_t narrowWidth = c.tall ? 160 : 200, narrowHeight = c.tall ? 200 : 120;
  const int32_t x0 = c.tall ? 0 : far, y0 = c.tall ? far : 0;
  std::vector<uint8_t> narrow(static_cast<size_t>(narrowWidth) * narrowHeight);
  fillSmooth(narrow, narrowWidth, narrowHeight, narrowWidth, 23);
  std::vector<uint8_t> big(static_cast<size_t>(bigWidth) * bigHeight);
  std::mt19937 random(29);
  for (uint8_t& pel : big) pel = static_cast<uint8_t>(random());
  for (int32_t y = 0; y < narrowHeight; ++y) {
    std::copy_n(&narrow[static_cast<size_t>(y) * narrowWidth], narrowWidth,
                &big[static_cast<size_t>(y + y0) * bigWidth + x0]);
  }
  const kmath_xformLinear identity{0, 0, 1, 0, 0, 1};
  // Column step (0.8125, 0.375), row step (-0.375, 0.8125), 128 x 64 samples.
  affineSampleParams params{{x0 + 40.5, y0 + 10.25, 104, -24, 48, 52}, c.mode, 128, 64};
  const Sampling narrowSampling{params, makeWindow(narrow.data(), 1, narrowWidth, narrowHeight, narrowWidth, x0, y0),
                                identity};
  const Sampling bigSampling{params, makeWindow(big.data(), 1, bigWidth, bigHeight, bigWidth), identity};

  auto run = [&](const Sampling& s, Loop loop, int32_t tile) {
    std::vector<uint32_t> out(c.accumulate ? 128 : 128 * 64, 3);
    const kimg_window destination =
        c.accumulate ? makeWindow(out.data(), 4, 128, 1, 128) : makeWindow(out.data(), 1, 128, 64, 128);
    EXPECT_EQ(runLoop<uint8_t>(loop, c.accumulate, s, destination, tile), 0);
    return out;
  };
  const std::vector<uint32_t> expected = run(narrowSampling, Loop::fixed, 16);
  EXPECT_EQ(run(bigSampling, Loop::large, 16), expected);
  EXPECT_EQ(run(bigSampling, Loop::floating, 16), expected);

  // The process picks the large loop for small tiles and the double one when a tile spans 32768
  // rectangle units or more.
  DirectLoop loop = DirectLoop::fixed;
  ASSERT_EQ(affineDirect_chooseLoop(&bigSampling.source, &identity, &params, 64, &loop), 0);
  EXPECT_EQ(loop, DirectLoop::large);
  ASSERT_EQ(affineDirect_chooseLoop(&bigSampling.source, &identity, &params, 40000, &loop), 0);
  EXPECT_EQ(loop, DirectLoop::floating);
  ASSERT_EQ(affineDirect_chooseLoop(&narrowSampling.source, &identity, &params, 40000, &loop), 0);
  EXPECT_EQ(loop, DirectLoop::fixed);
  for (int32_t tile : {64, 40000}) {
    std::vector<uint32_t> out(c.accumulate ? 128 : 128 * 64, 3);
    const kimg_window destination =
        c.accumulate ? makeWindow(out.data(), 4, 128, 1, 128) : makeWindow(out.data(), 1, 128, 64, 128);
    ASSERT_EQ(affineProcess_direct8(c.accumulate, &bigSampling.source, &identity, &destination, &params, tile), 0);
    EXPECT_EQ(out, expected) << "tile " << tile;
  }
}

INSTANTIATE_TEST_SUITE_P(Direct, LargeSources,
                         ::testing::Values(LargeCase{"wideNearest", false, 0, 0},
                                           LargeCase{"wideBilinear", false, 1, 0},
                                           LargeCase{"tallNearestAcc", true, 0, 1},
                                           LargeCase{"tallBilinear", true, 1, 0},
                                           LargeCase{"wideBilinearAcc", false, 1, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LargeSources, LongRectangleTakesTheDoubleLoop) {
  const uint8_t pel = 0;
  const kimg_window source = makeWindow(&pel, 1, 1, 1, 32768);
  affineSampleParams params{{0, 0, 40000, 0, 0, 1}, 1, 1, 1};
  const kmath_xformLinear identity{0, 0, 1, 0, 0, 1};
  DirectLoop loop = DirectLoop::fixed;
  ASSERT_EQ(affineDirect_chooseLoop(&source, &identity, &params, 1, &loop), 0);
  EXPECT_EQ(loop, DirectLoop::floating);
  params.xCount = 2;
  ASSERT_EQ(affineDirect_chooseLoop(&source, &identity, &params, 1, &loop), 0);
  EXPECT_EQ(loop, DirectLoop::large);
  // The same rectangle magnified 4 times by the source transform spans 80000 pels per sample.
  const kmath_xformLinear magnify{0, 0, 4, 0, 0, 4};
  ASSERT_EQ(affineDirect_chooseLoop(&source, &magnify, &params, 1, &loop), 0);
  EXPECT_EQ(loop, DirectLoop::floating);
}

// ----------------------------------------------------------------------------------------------
// Samplings the clip test accepts, pushed to its limits, over sources with no slack: ASan shows
// any read outside (the kernels clamp what the rounding of the limits lets over an edge).

struct ClipCase {
  const char* name;
  int bits;
  uint32_t mode;
  bool large;  // stride 40000: the double clip test and the large loops
};

void PrintTo(const ClipCase& c, std::ostream* os) { *os << c.name; }

class ClipLimits : public ::testing::TestWithParam<ClipCase> {
 protected:
  template <typename Pel>
  void run();
};

template <typename Pel>
void ClipLimits::run() {
  const ClipCase& c = GetParam();
  const int32_t width = c.large ? 40000 : 37, height = c.large ? 24 : 29;
  std::vector<Pel> pels(static_cast<size_t>(width) * height);
  fillSmooth(pels, width, height, width, 31);
  const kimg_window source = makeWindow(pels.data(), sizeof(Pel), width, height, width, 5, -3);
  const double centreX = c.large ? 39985.0 : 5 + width / 2.0, centreY = -3 + height / 2.0;
  int runs = 0;
  for (double degrees : {0.0, 90.0, 30.0, 45.0, 200.0, 313.0}) {
    for (double pitch : {0.3, 1.0, 2.5}) {
      for (bool mirrored : {false, true}) {
        // Each way out: grow the rectangle, or push it along +x, -x, +y, -y, or into the first and
        // last pel's corners (only a read past the last pel or before the first one is outside
        // the buffer).
        for (int way = 0; way < 7; ++way) {
          auto sampling = [&](double t) {
            const double dx = way == 1 || way == 5 ? t : way == 2 || way == 6 ? -t : 0;
            const double dy = way == 3 || way == 5 ? t : way == 4 || way == 6 ? -t : 0;
            const double grow = way == 0 ? 1 + t : 1;
            Sampling s{makeParams(c.mode, degrees, degrees == 45.0, pitch, mirrored, centreX + dx, centreY + dy,
                                  9 * grow, 7 * grow),
                       source, kSourceXform};
            return s;
          };
          auto accepted = [&](double t) {
            const Sampling s = sampling(t);
            uint32_t willClip = 1;
            return kip_affineSampleParams_getWillClipWindow(&s.params, &s.source, &s.xform, &willClip) == 0 &&
                   willClip == 0;
          };
          ASSERT_TRUE(accepted(0)) << degrees << " " << pitch;
          double inside = 0, outside = 40;
          for (int k = 0; k < 60; ++k) {
            const double t = 0.5 * (inside + outside);
            (accepted(t) ? inside : outside) = t;
          }
          const Sampling s = sampling(inside);
          Destination<Pel> out(s.params.xCount, s.params.yCount);
          ASSERT_EQ(runLoop<Pel>(Loop::process, 0, s, out.window()), 0);
          std::vector<uint32_t> sums(s.params.xCount);
          const kimg_window vector = makeWindow(sums.data(), 4, s.params.xCount, 1, s.params.xCount);
          ASSERT_EQ(runLoop<Pel>(Loop::process, 1, s, vector), 0);
          ++runs;
        }
      }
    }
  }
  EXPECT_EQ(runs, 6 * 3 * 2 * 7);
}

TEST_P(ClipLimits, NeverReadOutsideTheSource) {
  if (GetParam().bits == 8) {
    run<uint8_t>();
  } else {
    run<uint16_t>();
  }
}

INSTANTIATE_TEST_SUITE_P(Direct, ClipLimits,
                         ::testing::Values(ClipCase{"nearest8", 8, 0, false}, ClipCase{"bilinear8", 8, 1, false},
                                           ClipCase{"nearest16", 16, 0, false}, ClipCase{"bilinear16", 16, 1, false},
                                           ClipCase{"nearest8_large", 8, 0, true},
                                           ClipCase{"bilinear8_large", 8, 1, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ----------------------------------------------------------------------------------------------
// 16-bit specifics and refusals.

// With 8-bit values in both, 16-bit nearest gives the same pels; bilinear differs only by the
// weights' rounding.
TEST(Direct16, AgreesWith8BitOnValuesThatFitBoth) {
  SmoothSource8 source8;
  const std::vector<uint16_t> pels16(source8.pels.begin(), source8.pels.end());
  const kimg_window source16 = makeWindow(pels16.data(), 2, 150, 140, 150);
  for (uint32_t mode : {KIP_SAMPLE_NEAREST, KIP_SAMPLE_BILINEAR}) {
    for (double degrees : {0.0, 33.0, 135.0, 250.0}) {
      Sampling s8{makeParams(mode, degrees, false, 0.7, true, 75, 70, 60, 50), source8.window, kSourceXform};
      Sampling s16{s8.params, source16, kSourceXform};
      Destination<uint8_t> out8(s8.params.xCount, s8.params.yCount);
      Destination<uint16_t> out16(s8.params.xCount, s8.params.yCount);
      ASSERT_EQ(runLoop<uint8_t>(Loop::process, 0, s8, out8.window()), 0);
      ASSERT_EQ(runLoop<uint16_t>(Loop::process, 0, s16, out16.window()), 0);
      for (int32_t j = 0; j < out8.height; ++j) {
        for (int32_t i = 0; i < out8.width; ++i) {
          const int difference = int(out16.at(i, j)) - int(out8.at(i, j));
          ASSERT_LE(std::abs(difference), mode == KIP_SAMPLE_NEAREST ? 0 : 1) << degrees << " at " << i << "," << j;
        }
      }
    }
  }
}

// Tiles of the 16-bit path follow the source stride (224, 96, 48 rows): the bilinear store asks
// the hook once per tile of a 300 x 300 destination.
TEST(Direct16, TileSizeFollowsTheStride) {
  for (auto [stride, tile] : {std::pair{1024, 224}, std::pair{1025, 96}, std::pair{2048, 96}, std::pair{3073, 48}}) {
    std::vector<uint16_t> pels(static_cast<size_t>(stride) * 40);
    const kimg_window source = makeWindow(pels.data(), 2, 40, 40, stride);
    Sampling s{makeParams(KIP_SAMPLE_BILINEAR, 20, false, 0.08, false, 20, 20, 24, 24), source, kSourceXform};
    ASSERT_EQ(s.params.xCount, 300);
    Destination<uint16_t> out(300, 300);
    ScopedHook hook({});
    ASSERT_EQ(runLoop<uint16_t>(Loop::process, 0, s, out.window()), 0);
    const int tiles = (300 + tile - 1) / tile;
    EXPECT_EQ(ScopedHook::askedCount(kHookBilinearTile16), tiles * tiles) << "stride " << stride;
  }
}

// Bad input gets its status and leaves the destination alone.
TEST(DirectProcess, RefusesBadInput) {
  SmoothSource8 source;
  const std::vector<uint16_t> pels16(32768);
  const kimg_window wide16 = makeWindow(pels16.data(), 2, 1, 1, 32768);
  const kimg_window tall16 = makeWindow(pels16.data(), 2, 1, 32768, 1);
  const affineSampleParams good = makeParams(KIP_SAMPLE_BILINEAR, 10, false, 1, false, 70, 70, 20, 20);
  const kmath_xformLinear& xform = kSourceXform;
  Destination<uint8_t> out(good.xCount, good.yCount);
  const kimg_window destination = out.window();
  std::vector<uint32_t> sums(good.xCount, 0);
  const kimg_window shortVector = makeWindow(sums.data(), 4, good.xCount - 1, 1, good.xCount);

  auto with = [&](auto change) {
    affineSampleParams params = good;
    kimg_window src = source.window, dst = destination;
    change(params, src, dst);
    return affineProcess_portable8(0, &src, &xform, &dst, &params, nullptr);
  };
  EXPECT_EQ(affineProcess_portable8(0, nullptr, &xform, &destination, &good, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(affineProcess_portable8(0, &source.window, nullptr, &destination, &good, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(affineProcess_portable8(0, &source.window, &xform, nullptr, &good, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(affineProcess_portable8(0, &source.window, &xform, &destination, nullptr, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(with([](auto& p, auto&, auto&) { p.sampleMode = KIP_SAMPLE_CUBIC2; }), KIP_ERR_NULL_POINTER);  // no cache
  EXPECT_EQ(with([](auto&, auto& s, auto&) { s.pelSize = 2; }), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(with([](auto&, auto&, auto& d) { d.pelSize = 4; }), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(with([](auto& p, auto&, auto&) { p.yCount = 0; }), KIP_ERR_NO_SAMPLES);
  EXPECT_EQ(with([](auto&, auto&, auto& d) { d.bandOffset = 64; }), KIP_ERR_BAD_SIZE);
  EXPECT_EQ(with([](auto&, auto& s, auto&) { s.width = 0; }), KIP_ERR_BAD_SIZE);
  EXPECT_EQ(with([](auto& p, auto&, auto&) { p.affineRect.e0 = std::nan(""); }), KIP_ERR_NOT_FINITE);
  EXPECT_TRUE(out.guardsIntact());
  for (int32_t j = 0; j < out.height; ++j) {
    for (int32_t i = 0; i < out.width; ++i) ASSERT_EQ(out.at(i, j), Destination<uint8_t>::kGuard);
  }
  EXPECT_EQ(affineProcess_portable8(1, &source.window, &xform, &shortVector, &good, nullptr), KIP_ERR_DEST_TOO_SMALL);
  EXPECT_EQ(affineProcess_portable8(1, &source.window, &xform, &destination, &good, nullptr), KIP_ERR_PEL_SIZE);

  // 16-bit sources have no large-source loops.
  Destination<uint16_t> out16(good.xCount, good.yCount);
  const kimg_window destination16 = out16.window();
  EXPECT_EQ(affineProcess_portable16(0, &wide16, &xform, &destination16, &good, nullptr), KIP_ERR_SOURCE_TOO_LARGE);
  EXPECT_EQ(affineProcess_portable16(0, &tall16, &xform, &destination16, &good, nullptr), KIP_ERR_SOURCE_TOO_LARGE);
}

// Modes 2 and 3 go to the table-driven path, which refuses any mode above 3.
TEST(DirectProcess, OtherModesGoToTheTablePath) {
  SmoothSource8 source8;
  const std::vector<uint16_t> pels16(source8.pels.begin(), source8.pels.end());
  const kimg_window source16 = makeWindow(pels16.data(), 2, 150, 140, 150);
  affineSampleCache cache{};
  ASSERT_EQ(affineSampleCache_initTemporary(&cache), 0);
  for (uint32_t mode : {KIP_SAMPLE_LINEAR2, KIP_SAMPLE_CUBIC2, 7u}) {
    const affineSampleParams params = makeParams(mode, 20, false, 0.8, false, 75, 70, 40, 30);
    const int32_t expected = mode > KIP_SAMPLE_CUBIC2 ? KIP_ERR_MODE_UNSUPPORTED : 0;
    Destination<uint8_t> portable8(params.xCount, params.yCount), table8(params.xCount, params.yCount);
    Destination<uint16_t> portable16(params.xCount, params.yCount), table16(params.xCount, params.yCount);
    kimg_window p8 = portable8.window(), t8 = table8.window(), p16 = portable16.window(), t16 = table16.window();
    if (expected == 0) {
      ASSERT_EQ(affineSampleCache_refresh(&cache, &source8.window, &kSourceXform, &p8, &params, 0), 0);
      ASSERT_EQ(affineSampleCache_refresh(&cache, &source16, &kSourceXform, &p16, &params, 0), 0);
    }
    EXPECT_EQ(affineProcess_portable8(0, &source8.window, &kSourceXform, &p8, &params, &cache), expected);
    EXPECT_EQ(affineTable_process8(0, &source8.window, &t8, &params, &cache), expected);
    EXPECT_EQ(portable8.pels, table8.pels);
    EXPECT_EQ(affineProcess_portable16(0, &source16, &kSourceXform, &p16, &params, &cache), expected);
    EXPECT_EQ(affineTable_process16(0, &source16, &t16, &params, &cache), expected);
    EXPECT_EQ(portable16.pels, table16.pels);
  }
  affineSampleCache_releaseTemporary(&cache);
}

}  // namespace
