// The direct path of the portable process (nearest neighbour and bilinear): kernels worked out by
// hand, every loop against a float64 reference (and against itself in either tile order and in
// bands), the tile walk, large sources, refusals.
#include "engine/direct_process.hpp"
#include "engine/portable_process.hpp"
#include "engine/table_process.hpp"
#include "engine/tile_loops.hpp"
#include "engine_support.hpp"
#include "frame/optimization_hook.hpp"
#include "platform/math.hpp"
#include "support/support.hpp"

namespace {

using namespace enginetest;
using kiptest::ScopedHook;

// No noise, neighbouring pels differ by a few levels: the reference tolerance stays tight.
const SmoothStyle kSmooth{25.0, 6.2, 0.0};

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

// Every kernel of the case's size and mode: 16.16 store and accumulate (three rows onto 1000), and
// for 8-bit the double ones too.
template <typename Pel>
void runHandCase(const HandCase& c) {
  const Pel pels[4] = {Pel(c.pels[0]), Pel(c.pels[1]), Pel(c.pels[2]), Pel(c.pels[3])};
  const DirectSource<Pel> source{pels, 2, 2, 2, 0, 0};
  const int32_t fx = static_cast<int32_t>(c.x * 65536), fy = static_cast<int32_t>(c.y * 65536);
  DirectKernel<Pel> store, acc;
  if constexpr (sizeof(Pel) == 1) {
    store = affineDirect_kernel8(c.mode, 0), acc = affineDirect_kernel8(c.mode, 1);
  } else {
    store = affineDirect_kernel16(c.mode, 0), acc = affineDirect_kernel16(c.mode, 1);
  }
  Pel out = 0;
  uint32_t sums[2] = {1000, 7};
  EXPECT_EQ(store(fx, fy, 0, 0, 0, 0, 1, 1, source, &out, 1), 0);
  EXPECT_EQ(acc(fx, fy, 0, 0, 0, 0, 1, 3, source, sums, 0), 0);
  EXPECT_EQ(out, c.expected);
  EXPECT_EQ(sums[0], 1000 + 3 * c.expected);
  EXPECT_EQ(sums[1], 7u) << "accumulate wrote past its count";
  if constexpr (sizeof(Pel) == 1) {
    out = 0, sums[0] = 1000;
    EXPECT_EQ(affineDirect_floatKernel8(c.mode, 0)(c.x, c.y, 0, 0, 0, 0, 1, 1, source, &out, 1, 0), 0);
    EXPECT_EQ(affineDirect_floatKernel8(c.mode, 1)(c.x, c.y, 0, 0, 0, 0, 1, 3, source, sums, 0, 0), 0);
    EXPECT_EQ(out, c.expected) << "double";
    EXPECT_EQ(sums[0], 1000 + 3 * c.expected) << "double";
  }
}

class HandValues : public ::testing::TestWithParam<HandCase> {};

TEST_P(HandValues, KernelsGiveTheWorkedValue) {
  GetParam().bits == 8 ? runHandCase<uint8_t>(GetParam()) : runHandCase<uint16_t>(GetParam());
}

// 8-bit bilinear weights complement from 0xFFFF and are shifted to 16 bits, so they sum to a little
// less than 65536: a 0/255 half-way sample gives 127 where exact weights would round to 128. 16-bit
// weights complement from 0x10000 unshifted and sum to 2^32 exactly (a 32-bit sum would overflow).
// Nearest takes the pel right of and below a border.
INSTANTIATE_TEST_SUITE_P(
    Direct, HandValues,
    ::testing::Values(HandCase{"centre255_8", 8, 1, 0.5, 0.5, {255, 255, 255, 255}, 255},  // w00 = 65534
                      HandCase{"halfRamp_8", 8, 1, 1.0, 0.5, {0, 255, 0, 255}, 127},       // w00 = 32766, w10 = 32767
                      // fx = 0x8001: w10 = 0x8000 exactly, a sum of one half that rounds up
                      HandCase{"halfRoundsUp_8", 8, 1, 1.0000152587890625, 0.5, {0, 1, 0, 1}, 1},
                      HandCase{"centrePel_16", 16, 1, 0.5, 0.5, {12345, 1, 2, 3}, 12345},   // w00 = 2^32
                      HandCase{"halfRamp_16", 16, 1, 1.0, 0.5, {0, 65535, 0, 65535}, 32767},
                      HandCase{"nearestBorderGoesRight_8", 8, 0, 1.0, 0.5, {10, 20, 30, 40}, 20},
                      HandCase{"nearestBorderGoesDown_16", 16, 0, 0.25, 1.0, {1000, 2000, 3000, 4000}, 3000}),
    [](const auto& info) { return std::string(info.param.name); });

// Positions just over the edges of a one-pel source, and a nearest centre exactly on its far edge
// (which the clip test's rounding admits): every kernel reads only that pel.
TEST(DirectKernels, ClampIntoTheSourceAtItsEdges) {
  const uint8_t one8 = 200;
  const uint16_t one16 = 40000;
  const DirectSource<uint8_t> source8{&one8, 1, 1, 1, 0, 0};
  const DirectSource<uint16_t> source16{&one16, 1, 1, 1, 0, 0};
  for (int32_t x : {0x10000, 0x8001, 0x7FFF}) {
    for (int32_t y : {0x10000, 0x8001, 0x7FFF}) {
      uint8_t o[4] = {};
      uint16_t p[2] = {};
      affineRowNearest8(x, y, 0, 0, 0, 0, 1, 1, source8, &o[0], 1);
      affineRowBilinear8(x, y, 0, 0, 0, 0, 1, 1, source8, &o[1], 1);
      affineRowNearestFloat8(x / 65536.0, y / 65536.0, 0, 0, 0, 0, 1, 1, source8, &o[2], 1, 0);
      affineRowBilinearFloat8(x / 65536.0, y / 65536.0, 0, 0, 0, 0, 1, 1, source8, &o[3], 1, 0);
      affineRowNearest16(x, y, 0, 0, 0, 0, 1, 1, source16, &p[0], 1);
      affineRowBilinear16(x, y, 0, 0, 0, 0, 1, 1, source16, &p[1], 1);
      EXPECT_EQ(std::vector<uint8_t>(o, o + 4), std::vector<uint8_t>(4, 200)) << x << "," << y;
      EXPECT_EQ(std::vector<uint16_t>(p, p + 2), std::vector<uint16_t>(2, 40000)) << x << "," << y;
    }
  }
}

// ----------------------------------------------------------------------------------------------
// Samplings through the process or one tile loop.

struct Sampling {
  affineSampleParams params;
  kimg_window source;
  kmath_xformLinear xform;
};

// Exact diagonals (exactDiagonal, at 45 + 90k degrees) use cos = sin = sqrt(1/2) bit for bit.
affineSampleParams makeParamsExact(uint32_t mode, double degrees, bool exactDiagonal, double pitch, bool mirrored,
                                   double cx, double cy, double lengthX, double lengthY,
                                   const kmath_xformLinear& xform = kSourceXform) {
  double c = std::cos(degrees * std::numbers::pi / 180), s = std::sin(degrees * std::numbers::pi / 180);
  if (exactDiagonal) c = std::copysign(std::sqrt(0.5), c), s = std::copysign(std::sqrt(0.5), s);
  return makeParamsCosSin(mode, c, s, pitch, mirrored, cx, cy, lengthX, lengthY, xform);
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

// process: the portable entry (tiles of 64 for 8-bit, of the stride's tile rows for 16-bit);
// fixed, large, floating: that tile loop called directly.
enum class Loop { process, fixed, large, floating };

template <typename Pel>
int32_t runLoop(Loop loop, uint32_t accumulate, const Sampling& s, const kimg_window& destination, int32_t tile = 64,
                TileOrder order = TileOrder::automatic) {
  const uint32_t mode = s.params.sampleMode;
  if (loop == Loop::process) {
    return (sizeof(Pel) == 1 ? affineProcess_portable8 : affineProcess_portable16)(accumulate, &s.source, &s.xform,
                                                                                  &destination, &s.params, nullptr);
  }
  if constexpr (sizeof(Pel) == 2) {
    return affineTile_loop16(accumulate, &s.source, &s.xform, &destination, &s.params, tile,
                             affineDirect_kernel16(mode, accumulate), order);
  } else if (loop == Loop::fixed) {
    return affineTile_loop8(accumulate, &s.source, &s.xform, &destination, &s.params, tile,
                            affineDirect_kernel8(mode, accumulate), order);
  } else if (loop == Loop::large) {
    return affineTile_loopLarge8(accumulate, &s.source, &s.xform, &destination, &s.params, tile,
                                 affineDirect_kernel8(mode, accumulate), order);
  }
  return affineTile_loopFloat8(accumulate, &s.source, &s.xform, &destination, &s.params, tile,
                               affineDirect_floatKernel8(mode, accumulate), order);
}

// Stores and accumulates s into fresh buffers; the column sums must be the stored columns' sums.
template <typename Pel>
Destination<Pel> storeAndAccumulate(Loop loop, const Sampling& s, int32_t tile = 64) {
  Destination<Pel> out(s.params.xCount, s.params.yCount);
  EXPECT_EQ(runLoop<Pel>(loop, 0, s, out.window(), tile), 0);
  EXPECT_TRUE(out.guardsIntact());
  std::vector<uint32_t> sums(s.params.xCount + 1, 9);
  EXPECT_EQ(runLoop<Pel>(loop, 1, s, makeWindow(sums.data(), 4, s.params.xCount, 1, s.params.xCount), tile), 0);
  EXPECT_EQ(sums.back(), 9u);
  for (int32_t i = 0; i < out.width; ++i) {
    uint32_t column = 9;
    for (int32_t j = 0; j < out.height; ++j) column += out.at(i, j);
    EXPECT_EQ(sums[i], column) << "accumulate differs from the stored column " << i;
  }
  return out;
}

// ----------------------------------------------------------------------------------------------
// Against a float64 reference of the same interpolation.

struct ReferenceCase {
  int bits;
  uint32_t mode;
  Loop loop;
};

class AgainstReference : public ::testing::TestWithParam<ReferenceCase> {
 protected:
  template <typename Pel>
  void run();
};

// How far a loop's position for destination pel (i, j) can be from the true one: the start
// rounded, then every truncated 16.16 step carried on the way (pel steps inside a tile; tile steps
// from doubles on long samplings and in the large loop, whose 2.30 origins are exact).
double positionTolerance(Loop loop, const affineSampleParams& params, int32_t tile, int32_t i, int32_t j) {
  if (loop == Loop::floating) return 1e-9;
  const bool tileStepsExact = loop == Loop::large || params.xCount > 1024 || params.yCount > 1024;
  return (1.0 + (tileStepsExact ? i % tile + j % tile + i / tile + j / tile : i + j)) / 65536.0;
}

template <typename Pel>
void AgainstReference::run() {
  const ReferenceCase& c = GetParam();
  const Source<Pel> source(150, 140, 11 + c.bits, -13, 7, kSmooth);
  Sampling s{{}, source.window, kSourceXform};
  const auto pel = [&](double x, double y) { return source.at(static_cast<int32_t>(x), static_cast<int32_t>(y)); };
  std::vector<double> angles;
  for (int a = 0; a < 360; a += 15) angles.push_back(a);
  for (double a : {-45.0, -135.0, -225.0, -315.0}) angles.push_back(a);  // negative: exact diagonal
  // Pitches from a quarter pel to four pels, and a long thin sampling of more than 1024 columns.
  const double shapes[][3] = {{0.25, 50, 40}, {0.6, 60, 50}, {1.0, 60, 48}, {1.7, 60, 50}, {4.0, 64, 52}, {0.07, 77, 3}};
  int64_t samples = 0, skipped = 0;
  for (size_t k = 0; k < angles.size(); ++k) {
    const double angle = angles[k];
    for (const auto& [pitch, lengthX, lengthY] : shapes) {
      // Every other angle mirrored.
      s.params = makeParamsExact(c.mode, std::fabs(angle), angle < 0, pitch, k % 2 == 1, 75 - 13, 70 + 7, lengthX,
                                 lengthY);
      const Destination<Pel> out = storeAndAccumulate<Pel>(c.loop, s);
      if (pitch == 0.25 || pitch == 0.07) {
        // Either forced tile order gives the automatic choice's pels; bands (starts on and off tile
        // rows) write exactly their rows, with the whole run's bits.
        const Loop walk = c.loop == Loop::process ? Loop::fixed : c.loop;
        const int32_t tile = sizeof(Pel) == 1 ? 64 : 224;
        for (TileOrder order : {TileOrder::rowMajor, TileOrder::columnMajor}) {
          Destination<Pel> forced(out.width, out.height);
          ASSERT_EQ(runLoop<Pel>(walk, 0, s, forced.window(), tile, order), 0);
          ASSERT_EQ(forced.pels, out.pels) << "angle " << angle << " order " << int(order);
        }
        expectBandsMatch(out, {37, 64, 96}, [&](const kimg_window& w) { return runLoop<Pel>(walk, 0, s, w, tile); });
      }
      for (int32_t i = 0; i < out.width; ++i) {
        for (int32_t j = 0; j < out.height; ++j, ++samples) {
          const Pel got = out.at(i, j);
          const kmath_vect p = samplePosition(s, i, j);
          const double tolerance = positionTolerance(c.loop, s.params, sizeof(Pel) == 1 ? 64 : 224, i, j);
          if (c.mode == KIP_SAMPLE_NEAREST) {
            if (std::fabs(p.x - std::round(p.x)) < tolerance || std::fabs(p.y - std::round(p.y)) < tolerance) {
              ++skipped;  // on a pel border to within the position's precision
              continue;
            }
            ASSERT_EQ(got, pel(std::floor(p.x), std::floor(p.y))) << "angle " << angle << " pitch " << pitch << " at " << i << "," << j;
          } else {
            const double x = p.x - 0.5, y = p.y - 0.5, ix = std::floor(x), iy = std::floor(y), fx = x - ix, fy = y - iy;
            const double a = pel(ix, iy), b = pel(ix + 1, iy), d = pel(ix, iy + 1), e = pel(ix + 1, iy + 1);
            const double expected = (a * (1 - fx) + b * fx) * (1 - fy) + (d * (1 - fx) + e * fx) * fy;
            // One level, plus what the position's error can move the value on this slope.
            const double slope = std::max({a, b, d, e}) - std::min({a, b, d, e});
            ASSERT_LE(std::fabs(got - expected), 1.0 + 2 * slope * tolerance) << "angle " << angle << " pitch " << pitch << " at " << i << "," << j;
          }
        }
      }
    }
  }
  EXPECT_LT(skipped, samples / 50) << "too few samples checked";
}

TEST_P(AgainstReference, WithinOneLevelOrTheSamePel) { GetParam().bits == 8 ? run<uint8_t>() : run<uint16_t>(); }

INSTANTIATE_TEST_SUITE_P(Direct, AgainstReference,
                         ::testing::Values(ReferenceCase{8, 0, Loop::process}, ReferenceCase{8, 1, Loop::process},
                                           ReferenceCase{16, 0, Loop::process}, ReferenceCase{16, 1, Loop::process},
                                           ReferenceCase{8, 0, Loop::large}, ReferenceCase{8, 1, Loop::large},
                                           ReferenceCase{8, 0, Loop::floating}, ReferenceCase{8, 1, Loop::floating}));

// ----------------------------------------------------------------------------------------------
// The walk: tile pieces and a failing kernel.

std::vector<const void*> recordedCalls;
int failOnCall = 0;  // 1-based; 0 never

int32_t recordingNearest8(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                          int32_t count, int32_t rows, const DirectSource<uint8_t>& source, void* destination,
                          int32_t destinationStride) {
  recordedCalls.push_back(destination);
  if (static_cast<int>(recordedCalls.size()) == failOnCall) return KIP_ERR_INTERNAL;
  return affineRowNearest8(x, y, rowX, rowY, columnX, columnY, count, rows, source, destination, destinationStride);
}

// 65 x 1 with tile 64 is two tiles, the second of one sample at pel 64; a failing kernel ends the
// walk.
TEST(DirectWalk, SixtyFiveByOneIsTwoTilesAndAFailureEndsTheWalk) {
  const Source<uint8_t> source(150, 140, 3);
  const Sampling s{makeParams(0, 30, 0.9, false, 75, 70, 58.5, 0.9, kIdentity), source.window, kIdentity};
  ASSERT_EQ(s.params.xCount, 65);
  const Destination<uint8_t> whole = storeAndAccumulate<uint8_t>(Loop::fixed, s, 1000);
  Destination<uint8_t> tiled(65, 1);
  const kimg_window window = tiled.window();
  for (int fail : {1, 0}) {
    recordedCalls.clear();
    failOnCall = fail;
    EXPECT_EQ(affineTile_loop8(0, &s.source, &s.xform, &window, &s.params, 64, recordingNearest8),
              fail ? KIP_ERR_INTERNAL : 0);
    EXPECT_EQ(recordedCalls.size(), fail ? 1u : 2u);
  }
  failOnCall = 0;
  EXPECT_EQ(recordedCalls.at(1), &tiled.pels[64]);
  EXPECT_EQ(tiled.pels, whole.pels);
}

// ----------------------------------------------------------------------------------------------
// Sources of 32768 pels or more across or down.

struct LargeCase {
  const char* name;
  bool tall;  // height 40000 rather than stride 40000
  uint32_t mode, accumulate;
};

class LargeSources : public ::testing::TestWithParam<LargeCase> {};

// The same pels placed far out in a source of stride (or height) 40000 and in a narrow image whose
// window origin puts them at the same pel-grid place. Every step and start is a multiple of 1/64
// pel, so 16.16, 2.30 and double positions are all exact and every loop must give the same bits.
TEST_P(LargeSources, GiveTheOrdinaryLoopsPels) {
  const LargeCase& c = GetParam();
  const int32_t bigWidth = c.tall ? 160 : 40000, bigHeight = c.tall ? 40000 : 120;
  const int32_t x0 = c.tall ? 0 : 34900, y0 = c.tall ? 34900 : 0;
  const Source<uint8_t> narrow(c.tall ? 160 : 200, c.tall ? 200 : 120, 23, x0, y0, kSmooth);
  std::vector<uint8_t> big(static_cast<size_t>(bigWidth) * bigHeight);
  std::mt19937 random(29);
  for (uint8_t& pel : big) pel = static_cast<uint8_t>(random());
  for (int32_t y = 0; y < narrow.height; ++y) {
    std::copy_n(&narrow.pels[size_t(y) * narrow.width], narrow.width, &big[size_t(y + y0) * bigWidth + x0]);
  }
  // Column step (0.8125, 0.375), row step (-0.375, 0.8125), 128 x 64 samples.
  const affineSampleParams params{{x0 + 40.5, y0 + 10.25, 104, -24, 48, 52}, c.mode, 128, 64};
  const Sampling bigSampling{params, makeWindow(big.data(), 1, bigWidth, bigHeight, bigWidth), kIdentity};
  std::vector<uint32_t> out;
  const auto destination = [&] {
    out.assign(c.accumulate ? 128 : 128 * 64, 3);
    return makeWindow(out.data(), c.accumulate ? 4 : 1, 128, c.accumulate ? 1 : 64, 128);
  };
  ASSERT_EQ(runLoop<uint8_t>(Loop::fixed, c.accumulate, {params, narrow.window, kIdentity}, destination(), 16), 0);
  const std::vector<uint32_t> expected = out;
  for (Loop loop : {Loop::large, Loop::floating}) {
    ASSERT_EQ(runLoop<uint8_t>(loop, c.accumulate, bigSampling, destination(), 16), 0);
    EXPECT_EQ(out, expected) << "loop " << int(loop);
  }
  // The process takes the large loop for small tiles and the double one for tiles of 40000.
  for (int32_t tile : {64, 40000}) {
    const kimg_window window = destination();
    ASSERT_EQ(affineProcess_direct8(c.accumulate, &bigSampling.source, &kIdentity, &window, &params, tile), 0);
    EXPECT_EQ(out, expected) << "tile " << tile;
  }
}

INSTANTIATE_TEST_SUITE_P(Direct, LargeSources,
                         ::testing::Values(LargeCase{"wideNearest", false, 0, 0}, LargeCase{"tallNearestAcc", true, 0, 1},
                                           LargeCase{"wideBilinearAcc", false, 1, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// The loop follows how far one tile reaches: 16.16 while the source's stride and height stay
// below 32768, 2.30 origins beyond, doubles once a tile spans 32768 rectangle units.
TEST(LargeSources, LoopChoiceFollowsTheTileReach) {
  const uint8_t pel = 0;
  const kmath_shapeAffineRect square{40.5, 10.25, 104, -24, 48, 52}, line{0, 0, 40000, 0, 0, 1};
  const kmath_xformLinear magnify{0, 0, 4, 0, 0, 4};
  struct Case {
    int32_t stride;
    kmath_shapeAffineRect rect;
    int32_t xCount, yCount, tile;
    const kmath_xformLinear* xform;
    DirectLoop expected;
  };
  for (const Case& c : {Case{40000, square, 128, 64, 64, &kIdentity, DirectLoop::large},
                        Case{40000, square, 128, 64, 40000, &kIdentity, DirectLoop::floating},
                        Case{200, square, 128, 64, 40000, &kIdentity, DirectLoop::fixed},
                        Case{32768, line, 2, 1, 1, &kIdentity, DirectLoop::large},
                        Case{32768, line, 2, 1, 1, &magnify, DirectLoop::floating}}) {
    const kimg_window source = makeWindow(&pel, 1, 1, 1, c.stride);
    const affineSampleParams params{c.rect, 1, c.xCount, c.yCount};
    DirectLoop loop = DirectLoop::fixed;
    ASSERT_EQ(affineDirect_chooseLoop(&source, c.xform, &params, c.tile, &loop), 0);
    EXPECT_EQ(loop, c.expected) << "stride " << c.stride << " tile " << c.tile << " xCount " << c.xCount;
  }
}

// ----------------------------------------------------------------------------------------------
// 16-bit tiles, refusals, other modes.

// 16-bit tiles follow the source stride (224, 96, 48 rows): the bilinear store asks the hook once
// per tile of a 300 x 300 destination, and forbidding the optimized tile gives the same pels.
TEST(Direct16, TilesFollowTheStrideAndAskTheHookOncePerTile) {
  for (auto [stride, tile] : {std::pair{1024, 224}, std::pair{3073, 48}}) {
    std::vector<uint16_t> pels(static_cast<size_t>(stride) * 40);
    fillSmooth(pels, 40, 40, stride, 5);
    const Sampling s{makeParams(KIP_SAMPLE_BILINEAR, 20, 0.08, false, 20, 20, 24, 24),
                     makeWindow(pels.data(), 2, 40, 40, stride), kSourceXform};
    ASSERT_EQ(s.params.xCount, 300);
    std::vector<uint16_t> results[2];
    for (bool forbid : {false, true}) {
      Destination<uint16_t> out(300, 300);
      ScopedHook hook(forbid ? std::initializer_list<std::string>{kHookBilinearTile16}
                             : std::initializer_list<std::string>{});
      ASSERT_EQ(runLoop<uint16_t>(Loop::process, 0, s, out.window()), 0);
      EXPECT_EQ(ScopedHook::askedCount(kHookBilinearTile16), (300 + tile - 1) / tile * ((300 + tile - 1) / tile))
          << "stride " << stride;
      results[forbid] = out.pels;
    }
    EXPECT_EQ(results[0], results[1]) << "stride " << stride;
  }
}

// Bad input gets its status and leaves the destination alone.
TEST(DirectProcess, RefusesBadInput) {
  const Source<uint8_t> source(150, 140, 3);
  const std::vector<uint16_t> pels16(32768);
  const kimg_window wide16 = makeWindow(pels16.data(), 2, 1, 1, 32768);
  const affineSampleParams good = makeParams(KIP_SAMPLE_BILINEAR, 10, 1, false, 70, 70, 20, 20);
  Destination<uint8_t> out(good.xCount, good.yCount);
  const kimg_window destination = out.window();
  const auto with = [&](auto change) {
    affineSampleParams params = good;
    kimg_window src = source.window, dst = destination;
    change(params, src, dst);
    return affineProcess_portable8(0, &src, &kSourceXform, &dst, &params, nullptr);
  };
  EXPECT_EQ(affineProcess_portable8(0, nullptr, &kSourceXform, &destination, &good, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(with([](auto& p, auto&, auto&) { p.sampleMode = KIP_SAMPLE_CUBIC2; }), KIP_ERR_NULL_POINTER);  // no cache
  EXPECT_EQ(with([](auto&, auto& s, auto&) { s.pelSize = 2; }), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(with([](auto&, auto&, auto& d) { d.pelSize = 4; }), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(with([](auto& p, auto&, auto&) { p.yCount = 0; }), KIP_ERR_NO_SAMPLES);
  EXPECT_EQ(with([](auto&, auto&, auto& d) { d.bandOffset = 64; }), KIP_ERR_BAD_SIZE);
  EXPECT_EQ(with([](auto& p, auto&, auto&) { p.affineRect.e0 = std::nan(""); }), KIP_ERR_NOT_FINITE);
  EXPECT_TRUE(std::all_of(out.pels.begin(), out.pels.end(), [](uint8_t p) { return p == 0xA5; }));
  std::vector<uint32_t> sums(good.xCount);
  const kimg_window shortVector = makeWindow(sums.data(), 4, good.xCount - 1, 1, good.xCount);
  EXPECT_EQ(affineProcess_portable8(1, &source.window, &kSourceXform, &shortVector, &good, nullptr),
            KIP_ERR_DEST_TOO_SMALL);
  // 16-bit sources have no large-source loops.
  Destination<uint16_t> out16(good.xCount, good.yCount);
  const kimg_window destination16 = out16.window();
  EXPECT_EQ(affineProcess_portable16(0, &wide16, &kSourceXform, &destination16, &good, nullptr),
            KIP_ERR_SOURCE_TOO_LARGE);
}

// Modes 2 and 3 go to the table-driven path, which refuses any mode above 3.
TEST(DirectProcess, OtherModesGoToTheTablePath) {
  const Source<uint8_t> source8(150, 140, 3);
  const std::vector<uint16_t> pels16(source8.pels.begin(), source8.pels.end());
  const kimg_window source16 = makeWindow(pels16.data(), 2, 150, 140, 150);
  TempCache cache;
  for (uint32_t mode : {KIP_SAMPLE_LINEAR2, KIP_SAMPLE_CUBIC2, 7u}) {
    const affineSampleParams params = makeParams(mode, 20, 0.8, false, 75, 70, 40, 30);
    const int32_t expected = mode > KIP_SAMPLE_CUBIC2 ? KIP_ERR_MODE_UNSUPPORTED : 0;
    Destination<uint8_t> portable8(params.xCount, params.yCount), table8(params.xCount, params.yCount);
    Destination<uint16_t> portable16(params.xCount, params.yCount), table16(params.xCount, params.yCount);
    const kimg_window p8 = portable8.window(), t8 = table8.window(), p16 = portable16.window(), t16 = table16.window();
    if (expected == 0) {
      ASSERT_EQ(affineSampleCache_refresh(cache.get(), &source8.window, &kSourceXform, &p8, &params, 0), 0);
      ASSERT_EQ(affineSampleCache_refresh(cache.get(), &source16, &kSourceXform, &p16, &params, 0), 0);
    }
    EXPECT_EQ(affineProcess_portable8(0, &source8.window, &kSourceXform, &p8, &params, cache.get()), expected);
    EXPECT_EQ(affineTable_process8(0, &source8.window, &t8, &params, cache.get()), expected);
    EXPECT_EQ(affineProcess_portable16(0, &source16, &kSourceXform, &p16, &params, cache.get()), expected);
    EXPECT_EQ(affineTable_process16(0, &source16, &t16, &params, cache.get()), expected);
    EXPECT_EQ(portable8.pels, table8.pels);
    EXPECT_EQ(portable16.pels, table16.pels);
  }
}

}  // namespace
