// Table-driven two-pass sampling (modes 2 and 3): the cubic line kernel's limits worked out by
// hand; whole samplings against a float64 bilinear / bicubic reference, their projections against
// the stores; samplings at the clip test's limits on sources with no slack; refusals.
#include "engine/cubic_weight_table.hpp"
#include "engine/line_kernels.hpp"
#include "engine/table_core.hpp"
#include "engine/table_process.hpp"
#include "engine_support.hpp"
#include "support/support.hpp"

namespace {

using namespace enginetest;

// ------------------------------------------------------------------------------------------------
// The cubic line kernel by hand.

// Runs the 8- or 16-bit mode 3 line kernel over n samples of an x-major row of an 8 x 8 source
// (majorStep 1, minorStep 8, no minor advance); returns the n + 3 first-pass values.
template <class Pel, class V = std::conditional_t<sizeof(Pel) == 1, int16_t, int32_t>>
std::vector<V> cubicLine(const std::vector<Pel>& source, int32_t n, int32_t minor, int32_t line, ptrdiff_t offset, Pel* out) {
  sampleTable table{};
  std::vector<int32_t> buffer(8, -1);
  table.header.majorStep = 1, table.header.minorStep = 8, table.header.lineAdvance = 0x10000;
  std::fill(std::begin(table.header.tileWidth), std::end(table.header.tileWidth), uint16_t{1});
  table.lineBuffer = buffer.data(), table.lineBufferSize = 32;
  const int16_t* weights = nullptr;
  EXPECT_EQ(cubicWeightTable_ensure(), 0);
  EXPECT_EQ(cubicWeightTable_getWeights(cubicWeightTable_get(), &weights), 0);
  const tableLineContext context{0, 3, &table, weights, table.lineBuffer, table.lineBufferSize};
  tableLineKernel<Pel> kernel = nullptr;
  if constexpr (sizeof(Pel) == 1) kernel = affineLineCubic8; else kernel = affineLineCubic16;
  EXPECT_EQ(kernel(&context, n, 0, minor, line, source.data(), offset, buffer.data(), buffer.data(), out), 0);
  return {reinterpret_cast<const V*>(buffer.data()), reinterpret_cast<const V*>(buffer.data()) + n + 3};
}

// Column 0 (one before the line's first position) to column 3 of source row 2: the minor fraction
// 0 gives weights (0, 32767, 0, 0), so each first-pass value is (32767 x p + 256) / 512. The line
// is read at fraction 0x4000, weights (-2304, 28416, 7424, -768): a dark value followed by three
// bright ones overshoots above the largest pel, a bright one followed by three dark ones
// undershoots below 0; both are limited. 8-bit: 35072 x 16320 + 0x100000 = 573423616, / 0x200000
// = 273 -> 255 (273 & 0xFF would be 17); -2304 x 16320 + 0x100000 < 0 -> 0. 16-bit: 35072 x
// 4194112 / 0x200000 = 70140 -> 65535.
TEST(LineKernels, CubicSecondPassIsLimitedToThePelRange) {
  for (auto [bits, brightFirst, lineValue, expected] : {std::tuple{8, false, 16320, 255}, {8, true, 16320, 0},
                                                        {16, false, 4194112, 65535}, {16, true, 4194112, 0}}) {
    withPel(bits, [&](auto pel) {
      using Pel = decltype(pel);
      std::vector<Pel> source(8 * 8, 0);
      for (int x = 0; x < 4; ++x) source[2 * 8 + x] = (x == 0) == brightFirst ? Pel(~Pel(0)) : 0;
      Pel out[2] = {};
      EXPECT_EQ(cubicLine(source, 1, 0x20000, 0x4000, 1, out)[1], brightFirst ? 0 : lineValue);
      EXPECT_EQ(out[0], expected) << bits;
      EXPECT_EQ(out[1], 0) << "the kernel wrote past its samples";
    });
  }
}

// A 16-bit first pass whose sum exceeds 32 bits: minor fraction 0.5, weights (-2048, 18432, 18432,
// -2048) over the pels 0, 65535, 65535, 0 sum to 65535 x 36864 + 256 = 2415882496 (above 2^31),
// / 512 = 4718520; the overshooting line then limits the sample to 65535.
TEST(LineKernels, SixteenBitCubicFirstPassSumsInSixtyFourBits) {
  std::vector<uint16_t> source(8 * 8, 0);
  std::fill(source.begin() + 3 * 8, source.begin() + 5 * 8, 65535);
  uint16_t out[1] = {};
  EXPECT_EQ(cubicLine(source, 0, 0x28000, 0, 1 + 8, out), (std::vector<int32_t>{4718520, 4718520, 4718520}));
  EXPECT_EQ(out[0], 65535);
}

// ------------------------------------------------------------------------------------------------
// Whole samplings: the cache refresh builds the table, then the process runs.

// Waves of 45 to 85 pels around mid-grey, no noise: both modes stay close to the 2D interpolation.
const SmoothStyle kWaves{45.0, 6.5, 0.0};

// One 8-bit grey level in the pel's own units.
template <class Pel>
constexpr double kLevel = sizeof(Pel) == 1 ? 1.0 : 257.0;

// The true 2D interpolation at a source position (pel centres at half-integers): bilinear for
// mode 2, bicubic for mode 3.
template <class Pel>
double reference(const Source<Pel>& image, uint32_t mode, double x, double y) {
  const int32_t iu = static_cast<int32_t>(std::floor(x - 0.5)), iv = static_cast<int32_t>(std::floor(y - 0.5));
  const double fu = x - 0.5 - iu, fv = y - 0.5 - iv;
  const auto keys = [](double t) {  // Keys' cubic convolution kernel, a = -0.5
    t = std::fabs(t);
    return t < 1 ? (1.5 * t - 2.5) * t * t + 1 : t < 2 ? ((-0.5 * t + 2.5) * t - 4) * t + 2 : 0;
  };
  double sum = 0;
  for (int32_t j = -1; j <= 2; ++j) {
    for (int32_t i = -1; i <= 2; ++i) sum += (mode == 2 ? std::max(0.0, 1 - std::fabs(i - fu)) * std::max(0.0, 1 - std::fabs(j - fv)) : keys(i - fu) * keys(j - fv)) * image.at(iu + i, iv + j);
  }
  return sum;
}

// Refreshes the cache and stores the sampling of g; false when its map is aligned (aligned maps
// never reach the table path). 8-bit samplings are projected too: the projection adds every row
// into entries it never clears, so each ends as its initial value plus the column of stored pels.
template <class Pel>
bool sampleGeneral(TempCache& cache, const kimg_window& source, const Geometry& g, uint32_t mode, std::vector<Pel>& out) {
  const affineSampleParams params = g.params(mode);
  out.assign(size_t(g.xCount) * g.yCount, 0);
  const kimg_window destination = makeWindow(out.data(), sizeof(Pel), g.xCount, g.yCount, g.xCount);
  EXPECT_EQ(affineSampleCache_refresh(cache.get(), &source, &kIdentity, &destination, &params, 0), 0);
  if (cache.get()->alignmentCode != KIP_ALIGNMENT_GENERAL) return false;
  EXPECT_EQ((sizeof(Pel) == 1 ? affineTable_process8 : affineTable_process16)(0, &source, &destination, &params, cache.get()), 0) << g.describe();
  if (sizeof(Pel) == 2) return true;
  std::vector<uint32_t> entries(g.xCount, 1000), expected(g.xCount, 1000);
  for (size_t k = 0; k < out.size(); ++k) expected[k % g.xCount] += out[k];
  const kimg_window vector = makeWindow(entries.data(), 4, g.xCount, 1, g.xCount);
  EXPECT_EQ(affineSampleCache_refresh(cache.get(), &source, &kIdentity, &vector, &params, 1), 0);
  EXPECT_EQ(affineTable_process8(1, &source, &vector, &params, cache.get()), 0);
  EXPECT_EQ(entries, expected) << "projection " << g.describe();
  return true;
}

// Pel bits and mode.
class PelModes : public ::testing::TestWithParam<std::tuple<int, uint32_t>> {
 protected:
  int bits() const { return std::get<0>(GetParam()); }
  uint32_t mode() const { return std::get<1>(GetParam()); }
};


// Every octant (0 to 345 degrees in steps of 15), magnifications and reductions, mirrored maps,
// walks of many tiles. Also rows that fill the intermediate line to its last byte or more than the
// slot's buffer holds: one or two samples wide under a magnifying map (the buffer is sized from
// the whole-pel scale, here 0), and steep reductions; the kernels assert in debug builds that they
// stay inside the line in use. Deviations are in 8-bit levels: both modes interpolate along the
// map's axes rather than the source's, a few tenths of a level from the 2D interpolation; 8-bit
// mode 2 also truncates twice (>> 15), each time up to a level low; 8-bit mode 3 keeps the first
// pass to 1/64 of a level and weighs by 1/256 pel; a multi-tile walk can differ by one level of
// the pel itself from a single tile.
TEST_P(PelModes, AgainstReferenceRotationsScalesAndMirrors) {
  const uint32_t mode = this->mode();
  std::vector<Geometry> geometries = {{5, 0.9, false, 1, 20, 0.05, -0.07}, {95, 0.6, true, 1, 17, 0.15, 0},
                                      {185, 0.7, false, 2, 9, 0.05, 0.07}, {44, 3.9, false, 25, 25, 0.45, 0.2},
                                      {89, 3.95, true, 24, 20, 0.05, 0.93}, {1, 3.99, false, 25, 20, 0.25, 0.07},
                                      {30, 0.7, false, 200, 150, 0.4, 0.2}, {10, 4.0, false, 120, 100, 0.4, 0.2},
                                      {200, 2.2, true, 180, 170, 0.4, 0.2}};
  for (int step = 0; step < 24; ++step) {
    for (double scale : {0.25, 0.5, 1.0, 1.5, 2.5, 4.0}) {
      const int32_t n = std::min(64, static_cast<int32_t>(100 / scale));
      geometries.push_back({15.0 * step, scale, (step + int(scale * 4)) % 2 == 1, n, n * 3 / 4, 0.3, -0.2});
    }
  }
  withPel(bits(), [&](auto pel) {
    using Pel = decltype(pel);
    const Source<Pel> image(720, 640, 11, 0, 0, kWaves);
    const double low = (sizeof(Pel) == 1 ? (mode == 2 ? -2.25 : -1.25) : (mode == 2 ? -0.3 : -0.15)) - 1 / kLevel<Pel>;
    const double high = (sizeof(Pel) == 1 ? (mode == 2 ? 0.5 : 1.25) : (mode == 2 ? 0.3 : 0.15)) + 1 / kLevel<Pel>;
    TempCache cache;
    std::vector<Pel> out;
    for (Geometry g : geometries) {
      g.cx += 360, g.cy += 320;
      SCOPED_TRACE(g.describe());
      ASSERT_TRUE(sampleGeneral(cache, image.window, g, mode, out));
      const kmath_shapeAffineRect r = g.params(mode).affineRect;
      for (size_t k = 0; k < out.size(); ++k) {
        const double s = (k % g.xCount + 0.5) / g.xCount, t = (k / g.xCount + 0.5) / g.yCount;
        const double deviation = (out[k] - reference(image, mode, r.tx + r.e0 * s + r.e1 * t, r.ty + r.e2 * s + r.e3 * t)) / kLevel<Pel>;
        ASSERT_TRUE(deviation >= low && deviation <= high) << deviation << " at sample " << k;
      }
    }
  });
}


// Samplings the clip test accepts by the smallest margin, over a 32 x 32 source with no slack (so
// under the address sanitizer any tap read outside it fails), against the same pels inside a
// frame of 3 pels. At the top and bottom limits (rows running mostly along x) the edge pass drops
// the taps in the rows outside the source, which must equal the kernel reading the frame's zeros
// as part of the window. At the left and right limits taps fall beside a window of the 32 x 32
// pels, on noise: the result must not depend on them.

TEST_P(PelModes, AtClipLimitsPelsOutsideTheSourceCountAsZeroOrNotAtAll) {
  withPel(bits(), [&](auto pel) {
    using Pel = decltype(pel);
    const Source<Pel> image(32, 32, 13, 0, 0, kWaves);
    constexpr int32_t kFrame = 3, kFramed = 32 + 2 * kFrame;
    std::vector<Pel> framed[2] = {std::vector<Pel>(kFramed * kFramed), std::vector<Pel>(kFramed * kFramed)};
    std::mt19937 noise(5);
    for (Pel& p : framed[1]) p = static_cast<Pel>(noise());
    for (int f = 0; f < 2; ++f) {
      for (int32_t y = 0; y < 32; ++y) std::copy_n(image.pels.begin() + y * 32, 32, framed[f].begin() + (y + kFrame) * kFramed + kFrame);
    }
    const kimg_window windows[2] = {makeWindow(framed[0].data(), sizeof(Pel), kFramed, kFramed, kFramed), 
                                    makeWindow(&framed[1][kFrame * kFramed + kFrame], sizeof(Pel), 32, 32, kFramed, kFrame, kFrame)};
    TempCache cache;
    std::vector<Pel> out, outFramed;
    // Rows mostly along x at the top and bottom limits; any rows at the left and right ones.
    for (auto [angle, topAndBottom] : {std::pair{-40.0, true}, {-25.0, true}, {12.0, true}, {44.0, true}, {172.0, true}, {220.0, true},
                                       {30.0, false}, {84.0, false}, {124.0, false}, {160.0, false}, {238.0, false}, {285.0, false}}) {
      for (double scale : {0.5, 1.7}) {
        for (int side : {-1, 1}) {
          Geometry g{angle, scale, side > 0, 9, 6};
          ASSERT_TRUE(placeAtClipLimit(g, mode(), image.window, topAndBottom ? 0 : side, topAndBottom ? side : 0)) << g.describe();
          ASSERT_TRUE(sampleGeneral(cache, image.window, g, mode(), out));
          Geometry moved = g;
          moved.cx += kFrame, moved.cy += kFrame;
          ASSERT_TRUE(sampleGeneral(cache, windows[topAndBottom ? 0 : 1], moved, mode(), outFramed));
          EXPECT_EQ(out, outFramed) << g.describe();
        }
      }
    }
  });
}

INSTANTIATE_TEST_SUITE_P(Modes, PelModes, ::testing::Combine(::testing::Values(8, 16), ::testing::Values(2u, 3u)));

// A map whose destination rows run straight up the source (x step below 1e-6, no x movement down
// the columns) is oriented by its y step: the walk then advances along its rows, where a map taken
// for one running down would have no line to walk and fail as a defect.
TEST(TableProcess, RowsRunningStraightUpAreSampled) {
  kiptest::ScopedImage source(1, 40, 40);
  kiptest::fillRandom8(source.get(), 3);
  for (const uint32_t mode : {KIP_SAMPLE_LINEAR2, KIP_SAMPLE_CUBIC2}) {
    const affineSampleParams params{{20, 30, 3.2e-6, 0, -16, 4}, mode, 8, 4};
    kiptest::ScopedImage out;
    EXPECT_EQ(kip_affineTransform(source.get(), out.get(), &params, nullptr), 0) << mode;
  }
}

// What the table path refuses, each with its own status, before it writes anything.
TEST(TableProcess, RefusesWhatItCannotSample) {
  const Source<uint8_t> image(40, 40, 1);
  const affineSampleParams params = Geometry{30, 1.0, false, 20, 16, 20.3, 19.6}.params(2);
  std::vector<uint8_t> pels(20 * 16, 77);
  const kimg_window destination = makeWindow(pels.data(), 1, 20, 16, 20);
  TempCache cache;
  ASSERT_EQ(affineSampleCache_refresh(cache.get(), &image.window, &kIdentity, &destination, &params, 0), 0);
  const auto run = [&](auto change, int bits = 8) {
    kimg_window s = image.window, d = destination;
    affineSampleParams p = params;
    change(s, d, p);
    return (bits == 8 ? affineTable_process8 : affineTable_process16)(0, &s, &d, &p, cache.get());
  };
  EXPECT_EQ(run([](auto&, auto&, auto& p) { p.sampleMode = 1; }), KIP_ERR_MODE_UNSUPPORTED);
  EXPECT_EQ(run([](auto& s, auto&, auto&) { s.height = 32768; }), KIP_ERR_SOURCE_TOO_LARGE);
  EXPECT_EQ(run([](auto&, auto&, auto&) {}, 16), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(run([](auto&, auto& d, auto&) { d.stride += 1; }), KIP_ERR_INTERNAL);  // table built for other strides
  EXPECT_EQ(run([](auto&, auto& d, auto&) { d.height -= 1; }), KIP_ERR_DEST_TOO_SMALL);
  EXPECT_EQ(affineTable_process8(0, nullptr, &destination, &params, cache.get()), KIP_ERR_NULL_POINTER);
  EXPECT_TRUE(std::all_of(pels.begin(), pels.end(), [](uint8_t p) { return p == 77; })) << "a refusal wrote pels";
}

}  // namespace
