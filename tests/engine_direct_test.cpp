// The direct path of the portable process (nearest neighbour and bilinear): kernels worked out by
// hand, every loop against a float64 reference, large sources, refusals.
#include "engine/direct_process.hpp"
#include "engine/portable_process.hpp"
#include "engine/tile_loops.hpp"
#include "engine_support.hpp"
#include "platform/math.hpp"

namespace {

using namespace enginetest;

// No noise, neighbouring pels differ by a few levels: the reference tolerance stays tight.
const SmoothStyle kSmooth{25.0, 6.2, 0.0};

// ----------------------------------------------------------------------------------------------
// Kernels on a 2 x 2 source, positions worked out by hand.

struct HandCase {
  const char* name;
  int bits; uint32_t mode; double x, y;
  uint32_t pels[4];  // (0,0), (1,0), (0,1), (1,1)
  uint32_t expected;
};

// The kernels of the case's size and mode: 16.16 store and accumulate (three rows onto 1000).
template <typename Pel>
void runHandCase(const HandCase& c) {
  const Pel pels[4] = {Pel(c.pels[0]), Pel(c.pels[1]), Pel(c.pels[2]), Pel(c.pels[3])};
  const DirectSource<Pel> source{pels, 2, 2, 2, 0, 0};
  const int32_t fx = static_cast<int32_t>(c.x * 65536), fy = static_cast<int32_t>(c.y * 65536);
  DirectKernel<Pel> (*kernel)(uint32_t, uint32_t) = nullptr;
  if constexpr (sizeof(Pel) == 1) kernel = affineDirect_kernel8; else kernel = affineDirect_kernel16;
  Pel out = 0;
  uint32_t sums[2] = {1000, 7};
  EXPECT_EQ(kernel(c.mode, 0)(fx, fy, 0, 0, 0, 0, 1, 1, source, &out, 1), 0);
  EXPECT_EQ(kernel(c.mode, 1)(fx, fy, 0, 0, 0, 0, 1, 3, source, sums, 0), 0);
  EXPECT_EQ(out, c.expected);
  EXPECT_EQ(sums[0], 1000 + 3 * c.expected);
  EXPECT_EQ(sums[1], 7u) << "accumulate wrote past its count";
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
                      HandCase{"halfRamp_16", 16, 1, 1.0, 0.5, {0, 65535, 0, 65535}, 32767},
                      HandCase{"nearestBorderGoesRight_8", 8, 0, 1.0, 0.5, {10, 20, 30, 40}, 20},
                      HandCase{"nearestBorderGoesDown_16", 16, 0, 0.25, 1.0, {1000, 2000, 3000, 4000}, 3000}),
    [](const auto& info) { return std::string(info.param.name); });

// ----------------------------------------------------------------------------------------------
// Samplings through the process or one tile loop.

struct Sampling {
  affineSampleParams params;
  kimg_window source;
  kmath_xformLinear xform;
};

// Centre of destination pel (i, j) in source window pels, straight from the definition.
kmath_vect samplePosition(const Sampling& s, int32_t i, int32_t j) {
  const double u = (i + 0.5) / s.params.xCount, v = (j + 0.5) / s.params.yCount;
  const kmath_shapeAffineRect& r = s.params.affineRect;
  const double clientX = r.tx + r.e0 * u + r.e1 * v, clientY = r.ty + r.e2 * u + r.e3 * v;
  const kmath_xformLinear& t = s.xform;
  return {t.tx + t.e0 * clientX + t.e1 * clientY - s.source.xOrigin, t.ty + t.e2 * clientX + t.e3 * clientY - s.source.yOrigin};
}

// process: the portable entry (tiles of 64 for 8-bit, of the stride's tile rows for 16-bit);
// fixed, large, floating: that tile loop called directly.
enum class Loop { process, fixed, large, floating };

template <typename Pel>
int32_t runLoop(Loop loop, uint32_t accumulate, const Sampling& s, const kimg_window& destination, int32_t tile = 64) {
  const uint32_t mode = s.params.sampleMode;
  const auto a = &s.source;
  const auto b = &s.xform;
  const auto d = &destination;
  const auto p = &s.params;
  if (loop == Loop::process) return (sizeof(Pel) == 1 ? affineProcess_portable8 : affineProcess_portable16)(accumulate, a, b, d, p, nullptr);
  if constexpr (sizeof(Pel) == 2) return affineTile_loop16(accumulate, a, b, d, p, tile, affineDirect_kernel16(mode, accumulate));
  if (loop == Loop::floating) return affineTile_loopFloat8(accumulate, a, b, d, p, tile, affineDirect_floatKernel8(mode, accumulate));
  return (loop == Loop::fixed ? affineTile_loop8 : affineTile_loopLarge8)(accumulate, a, b, d, p, tile, affineDirect_kernel8(mode, accumulate), TileOrder::automatic);
}

// Stores and accumulates s into fresh buffers; the column sums must be the stored columns' sums.
template <typename Pel>
Destination<Pel> storeAndAccumulate(Loop loop, const Sampling& s, int32_t tile = 64) {
  Destination<Pel> out(s.params.xCount, s.params.yCount);
  EXPECT_EQ(runLoop<Pel>(loop, 0, s, out.window(), tile), 0);
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
  int bits; uint32_t mode; Loop loop;
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
  // Pitches from a quarter pel to four pels, and a long thin sampling of more than 1024 columns.
  const double shapes[][3] = {{0.25, 50, 40}, {0.6, 60, 50}, {1.0, 60, 48}, {1.7, 60, 50}, {4.0, 64, 52}, {0.07, 77, 3}};
  int64_t samples = 0, skipped = 0;
  for (int k = 0; k < 24; ++k) {
    const double angle = 15.0 * k;
    for (const auto& [pitch, lengthX, lengthY] : shapes) {
      // Every other angle mirrored.
      s.params = makeParams(c.mode, angle, pitch, k % 2 == 1, 75 - 13, 70 + 7, lengthX, lengthY);
      const Destination<Pel> out = storeAndAccumulate<Pel>(c.loop, s);
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
  for (int32_t y = 0; y < narrow.height; ++y) std::copy_n(&narrow.pels[size_t(y) * narrow.width], narrow.width, &big[size_t(y + y0) * bigWidth + x0]);
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

INSTANTIATE_TEST_SUITE_P(Direct, LargeSources, ::testing::Values(LargeCase{"wideNearest", false, 0, 0}, LargeCase{"tallNearestAcc", true, 0, 1}, LargeCase{"wideBilinearAcc", false, 1, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

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
  EXPECT_EQ(with([](auto&, auto& s, auto&) { s.pelSize = 2; }), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(with([](auto& p, auto&, auto&) { p.yCount = 0; }), KIP_ERR_NO_SAMPLES);
  EXPECT_EQ(with([](auto&, auto&, auto& d) { d.bandOffset = 64; }), KIP_ERR_BAD_SIZE);
  EXPECT_EQ(with([](auto& p, auto&, auto&) { p.affineRect.e0 = std::nan(""); }), KIP_ERR_NOT_FINITE);
  EXPECT_TRUE(std::all_of(out.pels.begin(), out.pels.end(), [](uint8_t p) { return p == 0xA5; }));
  std::vector<uint32_t> sums(good.xCount);
  const kimg_window shortVector = makeWindow(sums.data(), 4, good.xCount - 1, 1, good.xCount);
  EXPECT_EQ(affineProcess_portable8(1, &source.window, &kSourceXform, &shortVector, &good, nullptr), KIP_ERR_DEST_TOO_SMALL);
  // 16-bit sources have no large-source loops.
  const kimg_window destination16 = makeWindow(sums.data(), 2, good.xCount, 1, good.xCount);
  EXPECT_EQ(affineProcess_portable16(0, &wide16, &kSourceXform, &destination16, &good, nullptr), KIP_ERR_SOURCE_TOO_LARGE);
}

}  // namespace
