// Table-driven two-pass sampling (modes 2 and 3): line kernels worked out by hand; whole samplings
// against a float64 bilinear / bicubic reference; projections against stores; samplings at the
// clip test's limits on sources with no slack; refusals.
#include "engine/cubic_weight_table.hpp"
#include "engine/line_kernels.hpp"
#include "engine/table_core.hpp"
#include "engine/table_process.hpp"
#include "engine_support.hpp"
#include "support/support.hpp"

#include <functional>

namespace {

using namespace enginetest;

// ------------------------------------------------------------------------------------------------
// Line kernels, by hand. An x-major row over a small source: majorStep 1, minorStep = stride.

struct HandRow {
  sampleTable table{};
  std::vector<int32_t> line = std::vector<int32_t>(8, -1);  // room for any of the line types

  HandRow(int32_t stride, int32_t minorAdvance, int32_t lineAdvance, uint16_t samples) {
    table.header.majorStep = 1;
    table.header.minorStep = stride;
    table.header.minorAdvance = minorAdvance;
    table.header.lineAdvance = lineAdvance;
    std::fill(std::begin(table.header.tileWidth), std::end(table.header.tileWidth), samples);
    table.lineBuffer = line.data();
    table.lineBufferSize = static_cast<int32_t>(line.size() * sizeof(int32_t));
  }
  tableLineContext context(uint32_t accumulate, uint32_t mode) {
    const int16_t* weights = nullptr;
    EXPECT_EQ(cubicWeightTable_ensure(), 0);
    EXPECT_EQ(cubicWeightTable_getWeights(cubicWeightTable_get(), &weights), 0);
    return {accumulate, mode, &table, weights, table.lineBuffer, table.lineBufferSize};
  }
  template <class V>
  std::vector<V> values(int count) const {
    const auto* v = reinterpret_cast<const V*>(line.data());
    return {v, v + count};
  }
};

// Minor positions 0.5, 0.75, 1.0, 1.25 at columns 0..3; the line is read at 0.25 and 1.75.
//   value 0: (10 + 51) / 2 = 30.5 -> 30      value 1: 0.25 x 20 + 0.75 x 100 = 80
//   value 2: row 1 exactly = 77              value 3: 0.75 x 200 + 0.25 x 100 = 175
//   sample 0: 0.75 x 30 + 0.25 x 80 = 42.5 -> 42    sample 1: 0.25 x 80 + 0.75 x 77 = 77.75 -> 77
// The same row from 16-bit pels of 257 x the 8-bit ones: the weights are the same 15 bits.
TEST(LineKernels, TwoPassLinearByHand) {
  const uint8_t source[16] = {10, 20, 30, 40, 51, 100, 77, 200, 0, 0, 0, 100, 0, 0, 0, 0};
  uint16_t wide[16];
  std::transform(source, source + 16, wide, [](uint8_t p) { return uint16_t(p * 257); });
  HandRow row(4, 0x4000, 0x18000, 2);
  int32_t* line = row.line.data();
  const tableLineContext store = row.context(0, 2);
  uint8_t out[2] = {};
  EXPECT_EQ(affineLineBilinear8(&store, 3, 0, 0x8000, 0x4000, source, 0, line, line, out), 0);
  EXPECT_EQ(row.values<uint8_t>(4), (std::vector<uint8_t>{30, 80, 77, 175}));
  EXPECT_EQ(std::vector<uint8_t>(out, out + 2), (std::vector<uint8_t>{42, 77}));
  uint16_t out16[2] = {};
  EXPECT_EQ(affineLineBilinear16(&store, 3, 0, 0x8000, 0x4000, wide, 0, line, line, out16), 0);
  EXPECT_EQ(row.values<uint16_t>(4), (std::vector<uint16_t>{7838, 20560, 19789, 44975}));
  EXPECT_EQ(std::vector<uint16_t>(out16, out16 + 2), (std::vector<uint16_t>{11018, 19981}));
}

// Mode 3 over column 0 (one before the line's first position) to column 3 of source row 2: the
// minor fraction 0 gives weights (0, 32767, 0, 0), so each first-pass value is (32767 x p + 256)
// / 512. The line is read at fraction 0x4000, weights (-2304, 28416, 7424, -768): a dark value
// followed by three bright ones overshoots above the largest pel, a bright one followed by three
// dark ones undershoots below 0; both are limited.
struct CubicClampCase {
  int bits;
  bool brightFirst;
  int32_t lineValue;  // first-pass value of a bright pel
  int32_t expected;
};

class CubicClamps : public ::testing::TestWithParam<CubicClampCase> {};

TEST_P(CubicClamps, SecondPassIsLimitedToThePelRange) {
  const CubicClampCase& c = GetParam();
  withPel(c.bits, [&](auto pel) {
    using Pel = decltype(pel);
    using V = std::conditional_t<sizeof(Pel) == 1, int16_t, int32_t>;
    std::vector<Pel> source(8 * 8, 0);
    for (int x = 0; x < 4; ++x) source[2 * 8 + x] = (x == 0) == c.brightFirst ? Pel(~Pel(0)) : 0;
    HandRow row(8, 0, 0x10000, 1);
    const tableLineContext context = row.context(0, 3);
    Pel out[2] = {};
    tableLineKernel<Pel> kernel = nullptr;
    if constexpr (sizeof(Pel) == 1) {
      kernel = affineLineCubic8;
    } else {
      kernel = affineLineCubic16;
    }
    EXPECT_EQ(kernel(&context, 1, 0, 0x20000, 0x4000, source.data(), 1, row.line.data(), row.line.data(), out), 0);
    const V b = static_cast<V>(c.lineValue);
    EXPECT_EQ(row.values<V>(4), c.brightFirst ? (std::vector<V>{b, 0, 0, 0}) : (std::vector<V>{0, b, b, b}));
    EXPECT_EQ(out[0], c.expected);
    EXPECT_EQ(out[1], 0) << "the kernel wrote past its samples";
  });
}

// 8-bit: 35072 x 16320 + 0x100000 = 573423616, / 0x200000 = 273 -> 255 (273 & 0xFF would be 17);
// -2304 x 16320 + 0x100000 < 0 -> 0. 16-bit: 35072 x 4194112 / 0x200000 = 70140 -> 65535.
INSTANTIATE_TEST_SUITE_P(EightAndSixteenBit, CubicClamps,
                         ::testing::Values(CubicClampCase{8, false, 16320, 255}, CubicClampCase{8, true, 16320, 0},
                                           CubicClampCase{16, false, 4194112, 65535},
                                           CubicClampCase{16, true, 4194112, 0}));

// A 16-bit first pass whose sum exceeds 32 bits: minor fraction 0.5, weights (-2048, 18432, 18432,
// -2048) over the pels 0, 65535, 65535, 0 sum to 65535 x 36864 + 256 = 2415882496 (above 2^31),
// / 512 = 4718520; the overshooting line then limits the sample to 65535.
TEST(LineKernels, SixteenBitCubicFirstPassSumsInSixtyFourBits) {
  std::vector<uint16_t> source(8 * 8, 0);
  std::fill(source.begin() + 3 * 8, source.begin() + 5 * 8, 65535);
  HandRow row(8, 0, 0x10000, 1);
  const tableLineContext context = row.context(0, 3);
  uint16_t out[1] = {};
  affineLineCubic16(&context, 0, 0, 0x28000, 0, source.data(), 1 + 8, row.line.data(), row.line.data(), out);
  EXPECT_EQ(row.values<int32_t>(3), (std::vector<int32_t>{4718520, 4718520, 4718520}));
  EXPECT_EQ(out[0], 65535);
}

// ------------------------------------------------------------------------------------------------
// Whole samplings: the cache refresh builds the table, then the process runs.

// Waves of 45 to 85 pels around mid-grey, no noise: both modes stay close to the 2D interpolation.
const SmoothStyle kWaves{45.0, 6.5, 0.0};

// One 8-bit grey level in the pel's own units.
template <class Pel>
constexpr double kLevel = sizeof(Pel) == 1 ? 1.0 : 257.0;

// Keys' cubic convolution kernel, a = -0.5.
double keys(double t) {
  t = std::fabs(t);
  return t < 1 ? (1.5 * t - 2.5) * t * t + 1 : t < 2 ? ((-0.5 * t + 2.5) * t - 4) * t + 2 : 0;
}

// The true 2D interpolation at a source position (pel centres at half-integers): bilinear for
// mode 2, bicubic for mode 3.
template <class Pel>
double reference(const Source<Pel>& image, uint32_t mode, double x, double y) {
  const double u = x - 0.5, v = y - 0.5;
  const int32_t iu = static_cast<int32_t>(std::floor(u)), iv = static_cast<int32_t>(std::floor(v));
  const double fu = u - iu, fv = v - iv;
  if (mode == 2) {
    return (1 - fv) * ((1 - fu) * image.at(iu, iv) + fu * image.at(iu + 1, iv)) +
           fv * ((1 - fu) * image.at(iu, iv + 1) + fu * image.at(iu + 1, iv + 1));
  }
  double sum = 0;
  for (int32_t j = -1; j <= 2; ++j) {
    for (int32_t i = -1; i <= 2; ++i) sum += keys(i - fu) * keys(j - fv) * image.at(iu + i, iv + j);
  }
  return sum;
}

// Refreshes the cache and stores the sampling of g; false when its map is aligned (aligned maps
// never reach the table path).
template <class Pel>
bool sampleGeneral(TempCache& cache, const kimg_window& source, const Geometry& g, uint32_t mode,
                   std::vector<Pel>& out) {
  const affineSampleParams params = g.params(mode);
  out.assign(size_t(g.xCount) * g.yCount, 0);
  const kimg_window destination = makeWindow(out.data(), sizeof(Pel), g.xCount, g.yCount, g.xCount);
  EXPECT_EQ(affineSampleCache_refresh(cache.get(), &source, &kIdentity, &destination, &params, 0), 0);
  if (cache.get()->alignmentCode != KIP_ALIGNMENT_GENERAL) return false;
  EXPECT_EQ((sizeof(Pel) == 1 ? affineTable_process8 : affineTable_process16)(0, &source, &destination, &params,
                                                                             cache.get()),
            0)
      << g.describe();
  return true;
}

struct ModeCase {
  int bits;
  uint32_t mode;
};

class PelModes : public ::testing::TestWithParam<ModeCase> {};

const auto kModeCases = ::testing::Values(ModeCase{8, 2}, ModeCase{8, 3}, ModeCase{16, 2}, ModeCase{16, 3});

std::string modeName(const ::testing::TestParamInfo<ModeCase>& info) {
  return (info.param.bits == 8 ? "Eight" : "Sixteen") + std::string(info.param.mode == 2 ? "Linear" : "Cubic");
}

// Samples each geometry and compares it with the reference, in 8-bit levels. Both modes interpolate
// along the map's axes rather than the source's, a few tenths of a level from the 2D interpolation;
// 8-bit mode 2 also truncates twice (>> 15), each time up to a level low; 8-bit mode 3 keeps the
// first pass to 1/64 of a level and weighs by 1/256 pel. widen is in levels of the pel itself (a
// multi-tile walk can differ by one from a single tile). inspect (if given) sees each table.
template <class Pel>
void expectNearReference(const Source<Pel>& image, uint32_t mode, const std::vector<Geometry>& geometries,
                         double widen, const std::function<void(const Geometry&, const sampleTable&)>& inspect = {}) {
  const bool eight = sizeof(Pel) == 1;
  const double low = (eight ? (mode == 2 ? -2.25 : -1.25) : (mode == 2 ? -0.3 : -0.15)) - widen / kLevel<Pel>;
  const double high = (eight ? (mode == 2 ? 0.5 : 1.25) : (mode == 2 ? 0.3 : 0.15)) + widen / kLevel<Pel>;
  TempCache cache;
  std::vector<Pel> out;
  for (const Geometry& g : geometries) {
    SCOPED_TRACE(g.describe());
    ASSERT_TRUE(sampleGeneral(cache, image.window, g, mode, out));
    const kmath_shapeAffineRect r = g.params(mode).affineRect;
    for (int32_t row = 0; row < g.yCount; ++row) {
      for (int32_t c = 0; c < g.xCount; ++c) {
        const double s = (c + 0.5) / g.xCount, t = (row + 0.5) / g.yCount;
        const double expected = reference(image, mode, r.tx + r.e0 * s + r.e1 * t, r.ty + r.e2 * s + r.e3 * t);
        const double deviation = (out[size_t(row) * g.xCount + c] - expected) / kLevel<Pel>;
        ASSERT_TRUE(deviation >= low && deviation <= high) << deviation << " at " << c << "," << row;
      }
    }
    if (inspect) inspect(g, affineSampleCache_tableFor(*cache.get(), sizeof(Pel)));
  }
}

class AgainstReference : public PelModes {};

// Every octant (0 to 345 degrees in steps of 15, and the four diagonals exactly), magnifications
// and reductions, mirrored maps; well inside a 160 x 160 source.
TEST_P(AgainstReference, RotationsScalesAndMirrors) {
  std::vector<Geometry> geometries;
  for (int step = 0; step < 28; ++step) {
    const bool diagonal = step >= 24;
    for (double scale : {0.25, 0.5, 1.0, 1.5, 2.5, 4.0}) {
      for (bool mirror : {false, true}) {
        const int32_t n = std::min(64, static_cast<int32_t>(100 / scale));
        geometries.push_back({diagonal ? 45 + 90 * (step - 24) : 15.0 * step, scale, mirror, n, n * 3 / 4, 80.3,
                              79.8, diagonal});
      }
    }
  }
  withPel(GetParam().bits, [&](auto pel) {
    expectNearReference(Source<decltype(pel)>(160, 160, 7, 0, 0, kWaves), GetParam().mode, geometries, 0);
  });
}

// Destinations wider and taller than a tile, and reductions whose tiles shrink to keep their source
// box small: every tile after the first starts from its own 16.16 position, which can differ by a
// level from one long walk.
TEST_P(AgainstReference, MultiTileWalks) {
  const std::vector<Geometry> geometries = {
      {30, 0.7, false, 200, 150, 360.4, 320.2}, {100, 1.3, false, 130, 120, 360.4, 320.2},
      {10, 4.0, false, 120, 100, 360.4, 320.2}, {30, 4.0, false, 100, 80, 360.4, 320.2},
      {200, 2.2, true, 180, 170, 360.4, 320.2}, {300, 1.0, true, 97, 193, 360.4, 320.2}};
  withPel(GetParam().bits, [&](auto pel) {
    expectNearReference(Source<decltype(pel)>(720, 640, 11, 0, 0, kWaves), GetParam().mode, geometries, 1.0,
                        [](const Geometry& g, const sampleTable& table) {
                          EXPECT_GT(table.header.tilesAcross, 1u);
                          EXPECT_GT(table.header.tilesDown, 1u);
                          if (g.scale == 4.0) EXPECT_LT(table.header.tileWidth[0], 96);
                        });
  });
}

// Rows that fill the intermediate line to its last byte, and rows the slot's buffer cannot hold:
// one or two samples wide under a magnifying map (the buffer is sized from the whole-pel scale,
// here 0), and steep reductions. The kernels assert in debug builds that they stay inside the line
// in use; the results must still match the reference.
TEST_P(AgainstReference, LinesAtTheBufferLimit) {
  const uint32_t mode = GetParam().mode;
  std::vector<Geometry> geometries;
  for (int shift = 0; shift < 10; ++shift) {
    const double cx = 80.05 + 0.1 * shift, cy = 79.93 + 0.07 * shift;
    geometries.insert(geometries.end(), {{5, 0.9, false, 1, 20, cx, cy}, {95, 0.6, true, 1, 17, cx, cy},
                                         {20, 0.95, false, 2, 20, cx, cy}, {185, 0.7, false, 2, 9, cx, cy},
                                         {44, 3.9, false, 25, 25, cx, cy}, {89, 3.95, true, 24, 20, cx, cy},
                                         {1, 3.99, false, 25, 20, cx, cy}});
  }
  withPel(GetParam().bits, [&](auto pel) {
    using Pel = decltype(pel);
    const int64_t valueBytes = mode == 2 ? sizeof(Pel) : 2 * sizeof(Pel);
    int64_t largest = 0;  // the geometries must reach past the buffer, or the test says nothing
    expectNearReference(Source<Pel>(160, 160, 5, 0, 0, kWaves), mode, geometries, 0,
                        [&](const Geometry&, const sampleTable& t) {
                          for (int type = 0; type < 4; ++type) {
                            const int64_t bytes = (t.header.firstPassCount[type] + 1 + (mode == 3 ? 2 : 0)) * valueBytes;
                            largest = std::max(largest, bytes - t.lineBufferSize);
                          }
                        });
    if (sizeof(Pel) == 1) EXPECT_GT(largest, 0);
  });
}

INSTANTIATE_TEST_SUITE_P(Modes, AgainstReference, kModeCases, modeName);

// A projection adds every destination row into the vector: each entry ends as its initial value
// plus the column of stored pels, over one tile and over several tile rows.
TEST(TableProjection, AddsEveryRowIntoEntriesItNeverClears) {
  const Source<uint8_t> image(300, 300, 3, 0, 0, kWaves);
  TempCache cache;
  for (uint32_t mode : {2u, 3u}) {
    for (const Geometry& g : {Geometry{25, 1.2, false, 40, 3, 150.2, 150.1}, Geometry{70, 0.8, true, 150, 110, 150.2, 150.1}}) {
      const affineSampleParams params = g.params(mode);
      std::vector<uint8_t> pels;
      ASSERT_TRUE(sampleGeneral(cache, image.window, g, mode, pels));
      std::vector<uint32_t> entries(g.xCount), expected(g.xCount);
      for (int32_t c = 0; c < g.xCount; ++c) {
        entries[c] = expected[c] = 1000 + c;
        for (int32_t r = 0; r < g.yCount; ++r) expected[c] += pels[size_t(r) * g.xCount + c];
      }
      const kimg_window vector = makeWindow(entries.data(), 4, g.xCount, 1, g.xCount);
      ASSERT_EQ(affineSampleCache_refresh(cache.get(), &image.window, &kIdentity, &vector, &params, 1), 0);
      ASSERT_EQ(affineTable_process8(1, &image.window, &vector, &params, cache.get()), 0);
      EXPECT_EQ(entries, expected) << g.describe() << ", mode " << mode;
    }
  }
}

// ------------------------------------------------------------------------------------------------
// Samplings at the clip test's limits.

class ClipLimits : public PelModes {};

// Samplings the clip test accepts by the smallest margin, over a source with no slack (so under the
// address sanitizer any tap read outside it fails). The same 32 x 32 pels sampled on their own and,
// moved by whole pels, inside a frame of 3 pels:
// frame of zeros that the window takes in, or two different noises outside a window of the 32 x 32
// pels. At the top and bottom limits (rows running mostly along x) the edge pass drops the taps in
// the rows outside the source, which must equal the kernel reading zeros there. At the left and
// right limits, taps and a last first-pass value fall beside the window, in the row gap or on the
// next row: the result must not depend on them.
TEST_P(ClipLimits, PelsOutsideTheSourceCountAsZeroOrNotAtAll) {
  const uint32_t mode = GetParam().mode;
  withPel(GetParam().bits, [&](auto pel) {
    using Pel = decltype(pel);
    const Source<Pel> image(32, 32, 13, 0, 0, kWaves);
    constexpr int32_t kFrame = 3, kFramed = 32 + 2 * kFrame;
    std::vector<Pel> framed[3];
    kimg_window windows[3];
    std::mt19937 noise(5);
    for (int f = 0; f < 3; ++f) {
      framed[f].resize(size_t(kFramed) * kFramed);
      for (Pel& p : framed[f]) p = f == 0 ? 0 : static_cast<Pel>(noise());
      for (int32_t y = 0; y < 32; ++y) {
        std::copy_n(image.pels.begin() + y * 32, 32, framed[f].begin() + (y + kFrame) * kFramed + kFrame);
      }
      windows[f] = makeWindow(framed[f].data(), sizeof(Pel), kFramed, kFramed, kFramed);
      if (f > 0) ASSERT_EQ(kimg_window_window(&windows[f], kFrame, kFrame, 32, 32, nullptr), 0);
    }
    TempCache cache;
    std::vector<Pel> out, outFramed;
    const auto check = [&](std::initializer_list<double> angles, bool topAndBottom, int firstFrame, int lastFrame) {
      for (double angle : angles) {
        for (double scale : {0.5, 1.7}) {
          for (bool mirror : {false, true}) {
            for (int side : {-1, 1}) {
              Geometry g{angle, scale, mirror, 9, 6};
              ASSERT_TRUE(placeAtClipLimit(g, mode, image.window, topAndBottom ? 0 : side, topAndBottom ? side : 0))
                  << g.describe();
              ASSERT_TRUE(sampleGeneral(cache, image.window, g, mode, out));
              Geometry moved = g;
              moved.cx += kFrame, moved.cy += kFrame;
              for (int f = firstFrame; f <= lastFrame; ++f) {
                ASSERT_TRUE(sampleGeneral(cache, windows[f], moved, mode, outFramed));
                EXPECT_EQ(out, outFramed) << g.describe() << ", frame " << f;
              }
            }
          }
        }
      }
    };
    check({-40.0, -25.0, -8.0, 12.0, 30.0, 44.0, 150.0, 172.0, 205.0, 220.0}, true, 0, 0);
    check({-30.0, 10.0, 55.0, 70.0, 84.0, 100.0, 118.0, 132.0, 160.0, 238.0, 262.0, 285.0, 310.0}, false, 1, 2);
  });
}

INSTANTIATE_TEST_SUITE_P(Modes, ClipLimits, kModeCases, modeName);

// ------------------------------------------------------------------------------------------------
// Orientation and refusals.

// A map whose destination rows run straight up the source (x step below 1e-6, no x movement down
// the columns) is oriented by its y step: the walk then advances along its rows, where a map taken
// for one running down would have no line to walk and fail as a defect.
TEST(TableProcess, RowsRunningStraightUpAreSampled) {
  kiptest::ScopedImage source(1, 40, 40);
  kiptest::fillRandom8(source.get(), 3);
  for (const uint32_t mode : {KIP_SAMPLE_LINEAR2, KIP_SAMPLE_CUBIC2}) {
    affineSampleParams params{};
    const kmath_shapeAffineRect rect{20, 30, 3.2e-6, 0, -16, 4};
    ASSERT_EQ(kip_affineSampleParams_init(&params, mode, &rect, 8, 4), 0);
    kiptest::ScopedImage out, vector;
    EXPECT_EQ(kip_affineTransform(source.get(), out.get(), &params, nullptr), 0) << mode;
    EXPECT_EQ(kip_affineProject(source.get(), vector.get(), &params, nullptr, nullptr), 0) << mode;
  }
}

// What the table path refuses, each with its own status, before it writes anything.
TEST(TableProcess, RefusesWhatItCannotSample) {
  const Source<uint8_t> image(40, 40, 1);
  const Geometry g{30, 1.0, false, 20, 16, 20.3, 19.6};
  const affineSampleParams params = g.params(2);
  std::vector<uint8_t> pels(size_t(g.xCount) * g.yCount, 77);
  const kimg_window destination = makeWindow(pels.data(), 1, g.xCount, g.yCount, g.xCount);
  TempCache cache;
  ASSERT_EQ(affineSampleCache_refresh(cache.get(), &image.window, &kIdentity, &destination, &params, 0), 0);
  using W = kimg_window;
  using P = affineSampleParams;
  const auto run = [&](auto change, int bits = 8, uint32_t accumulate = 0) {
    kimg_window s = image.window, d = destination;
    affineSampleParams p = params;
    change(s, d, p);
    return (bits == 8 ? affineTable_process8 : affineTable_process16)(accumulate, &s, &d, &p, cache.get());
  };
  EXPECT_EQ(run([](W&, W&, P& p) { p.sampleMode = 1; }), KIP_ERR_MODE_UNSUPPORTED);
  EXPECT_EQ(run([](W& s, W&, P&) { s.height = 32768; }), KIP_ERR_SOURCE_TOO_LARGE);
  EXPECT_EQ(run([](W& s, W& d, P&) { s.pelSize = 2, d.pelSize = 4; }, 16, 1), KIP_ERR_MODE_UNSUPPORTED);
  EXPECT_EQ(run([](W&, W&, P&) {}, 16), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(run([](W&, W& d, P&) { d.stride += 1; }), KIP_ERR_INTERNAL);  // table built for other strides
  EXPECT_EQ(run([](W&, W& d, P&) { d.height -= 1; }), KIP_ERR_DEST_TOO_SMALL);
  EXPECT_EQ(affineTable_process8(0, nullptr, &destination, &params, cache.get()), KIP_ERR_NULL_POINTER);
  // A mode above 3 that reaches the core itself.
  affineSampleParams mode5 = params;
  mode5.sampleMode = 5;
  EXPECT_EQ(affineTable_core8(0, &mode5, &cache.get()->sampleTable8, image.pels.data(), &image.pels.back(),
                              pels.data(), affineLineBilinear8),
            KIP_ERR_MODE_UNSUPPORTED);
  EXPECT_TRUE(std::all_of(pels.begin(), pels.end(), [](uint8_t p) { return p == 77; })) << "a refusal wrote pels";
}

}  // namespace
