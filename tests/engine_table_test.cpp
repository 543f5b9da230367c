// Table-driven two-pass sampling (modes 2 and 3): line kernels worked out by hand; whole samplings
// against a float64 bilinear / bicubic reference over rotations, scales and mirrors; multi-tile
// walks; projections against stores; the line buffer at its limits; samplings at the clip test's
// limits on sources with no slack (meant for the sanitizer build); the failure statuses.
#include "cache/cache.hpp"
#include "engine/cubic_weight_table.hpp"
#include "engine/line_kernels.hpp"
#include "engine/table_core.hpp"
#include "engine/table_process.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

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
const uint8_t kLinearSource[16] = {10, 20, 30, 40, 51, 100, 77, 200, 0, 0, 0, 100, 0, 0, 0, 0};

TEST(LineKernels, TwoPassLinearFirstAndSecondPassByHand) {
  HandRow row(4, 0x4000, 0x18000, 2);
  const tableLineContext context = row.context(0, 2);
  uint8_t out[2] = {};
  EXPECT_EQ(
      affineLineBilinear8(&context, 3, 0, 0x8000, 0x4000, kLinearSource, 0, row.line.data(), row.line.data(), out), 0);
  EXPECT_EQ(row.values<uint8_t>(4), (std::vector<uint8_t>{30, 80, 77, 175}));
  EXPECT_EQ(std::vector<uint8_t>(out, out + 2), (std::vector<uint8_t>{42, 77}));

  // The same row from 16-bit pels of 257 x the 8-bit ones: the weights are the same 15 bits.
  uint16_t wide[16];
  std::transform(kLinearSource, kLinearSource + 16, wide, [](uint8_t p) { return uint16_t(p * 257); });
  uint16_t out16[2] = {};
  EXPECT_EQ(affineLineBilinear16(&context, 3, 0, 0x8000, 0x4000, wide, 0, row.line.data(), row.line.data(), out16), 0);
  EXPECT_EQ(row.values<uint16_t>(4), (std::vector<uint16_t>{7838, 20560, 19789, 44975}));
  EXPECT_EQ(std::vector<uint16_t>(out16, out16 + 2), (std::vector<uint16_t>{11018, 19981}));
}

TEST(LineKernels, AccumulateAddsIntoEntriesWithoutClearingThem) {
  HandRow row(4, 0x4000, 0x18000, 2);
  const tableLineContext context = row.context(1, 2);
  uint32_t entries[3] = {1000, 2000, 7};
  for (int pass = 1; pass <= 2; ++pass) {
    affineLineBilinear8(&context, 3, 0, 0x8000, 0x4000, kLinearSource, 0, row.line.data(), row.line.data(), entries);
    EXPECT_EQ(entries[0], 1000u + 42u * pass);
    EXPECT_EQ(entries[1], 2000u + 77u * pass);
    EXPECT_EQ(entries[2], 7u) << "the kernel wrote past its samples";
  }
}

// Mode 3 over column 0 (one before the line's first position) to column 3 of source row 2: the
// minor fraction 0 gives weights (0, 32767, 0, 0), so each first-pass value is (32767 x p + 256)
// / 512. The line is read at fraction 0x4000, weights (-2304, 28416, 7424, -768): a dark value
// followed by three bright ones overshoots above the largest pel, a bright one followed by three
// dark ones undershoots below 0; both are limited.
struct CubicClampCase {
  bool sixteenBit;
  bool brightFirst;
  int32_t lineValue;  // first-pass value of a bright pel
  int32_t expected;
};

class CubicClamps : public ::testing::TestWithParam<CubicClampCase> {};

template <class Pel>
void runCubicClamp(const CubicClampCase& c, Pel bright) {
  std::vector<Pel> source(8 * 8, 0);
  for (int x = 0; x < 4; ++x) source[2 * 8 + x] = (x == 0) == c.brightFirst ? bright : 0;
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
  using V = std::conditional_t<sizeof(Pel) == 1, int16_t, int32_t>;
  const V b = static_cast<V>(c.lineValue);
  EXPECT_EQ(row.values<V>(4), c.brightFirst ? (std::vector<V>{b, 0, 0, 0}) : (std::vector<V>{0, b, b, b}));
  EXPECT_EQ(out[0], c.expected);
  EXPECT_EQ(out[1], 0) << "the kernel wrote past its samples";
}

TEST_P(CubicClamps, SecondPassIsLimitedToThePelRange) {
  const CubicClampCase& c = GetParam();
  if (c.sixteenBit) {
    runCubicClamp<uint16_t>(c, 65535);
  } else {
    runCubicClamp<uint8_t>(c, 255);
  }
}

// 8-bit: 35072 x 16320 + 0x100000 = 573423616, / 0x200000 = 273 -> 255 (273 & 0xFF would be 17);
// -2304 x 16320 + 0x100000 < 0 -> 0. 16-bit: 35072 x 4194112 / 0x200000 = 70140 -> 65535.
INSTANTIATE_TEST_SUITE_P(EightAndSixteenBit, CubicClamps,
                         ::testing::Values(CubicClampCase{false, false, 16320, 255},
                                           CubicClampCase{false, true, 16320, 0},
                                           CubicClampCase{true, false, 4194112, 65535},
                                           CubicClampCase{true, true, 4194112, 0}));

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

const kmath_xformLinear kIdentity{0, 0, 1, 0, 0, 1};

// A window over pels with no slack around them: stride = width.
kimg_window windowOver(void* pels, int32_t pelSize, int32_t width, int32_t height) {
  kimg_window window{};
  window.width = width;
  window.height = height;
  window.stride = width;
  window.firstPel = pels;
  window.pelSize = pelSize;
  return window;
}

class Cache {
 public:
  Cache() { EXPECT_EQ(kip_affineSampleCache_construct(&handle_), 0); }
  ~Cache() { kip_affineSampleCache_destruct(&handle_); }
  affineSampleCache* get() const { return handle_; }

 private:
  affineSampleCache* handle_ = nullptr;
};

// One 8-bit grey level in the pel's own units.
template <class Pel>
constexpr double kLevel = sizeof(Pel) == 1 ? 1.0 : 257.0;

// A smooth random image: three low-frequency cosines (periods of 45 to 90 pels) around mid-grey,
// quantised; exactly width x height pels.
template <class Pel>
struct SmoothImage {
  int32_t width, height;
  std::vector<Pel> pels;

  SmoothImage(int32_t w, int32_t h, uint32_t seed) : width(w), height(h), pels(size_t(w) * h) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    struct Wave {
      double fx, fy, phase, amplitude;
    } waves[3];
    const double amplitudes[3] = {40, 35, 30};
    for (int k = 0; k < 3; ++k) {
      const double direction = 2 * std::numbers::pi * unit(random), period = 45 + 45 * unit(random);
      waves[k] = {std::cos(direction) / period, std::sin(direction) / period, 2 * std::numbers::pi * unit(random),
                  amplitudes[k]};
    }
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        double v = 128;
        for (const Wave& wave : waves) {
          v += wave.amplitude * std::cos(2 * std::numbers::pi * (wave.fx * x + wave.fy * y) + wave.phase);
        }
        pels[size_t(y) * w + x] = static_cast<Pel>(std::lround(v * kLevel<Pel>));
      }
    }
  }
  double at(int32_t x, int32_t y) const { return pels[size_t(y) * width + x]; }
  kimg_window window() const { return windowOver(const_cast<Pel*>(pels.data()), sizeof(Pel), width, height); }
};

// Keys' cubic convolution kernel, a = -0.5.
double keys(double t) {
  t = std::fabs(t);
  if (t < 1) return (1.5 * t - 2.5) * t * t + 1;
  if (t < 2) return ((-0.5 * t + 2.5) * t - 4) * t + 2;
  return 0;
}

// The true 2D interpolation at a source position (pel centres at half-integers): bilinear for
// mode 2, bicubic for mode 3.
template <class Pel>
double reference(const SmoothImage<Pel>& image, uint32_t mode, double x, double y) {
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

// A destination of xCount x yCount pels, each `scale` source pels wide, centred on (cx, cy), its
// rows running at `angle` degrees in the source, its columns against the turned y axis when
// mirrored. exactDiagonal gives side vectors with components of exactly equal magnitude, which
// puts the map on the 45-degree boundaries between major axes.
struct Geometry {
  double angle, scale;
  bool mirror;
  int32_t xCount, yCount;
  double cx, cy;
  bool exactDiagonal = false;

  void sides(double* ux, double* uy, double* vx, double* vy) const {
    const double radians = angle * std::numbers::pi / 180;
    *ux = std::cos(radians), *uy = std::sin(radians);
    if (exactDiagonal) *ux = std::copysign(std::sqrt(0.5), *ux), *uy = std::copysign(std::sqrt(0.5), *uy);
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
  // Source position of destination pel (c, r)'s centre.
  void samplePosition(int32_t c, int32_t r, double* x, double* y) const {
    const affineSampleParams p = params(2);
    const double s = (c + 0.5) / xCount, t = (r + 0.5) / yCount;
    *x = p.affineRect.tx + p.affineRect.e0 * s + p.affineRect.e1 * t;
    *y = p.affineRect.ty + p.affineRect.e2 * s + p.affineRect.e3 * t;
  }
  std::string describe() const {
    return "angle " + std::to_string(angle) + (exactDiagonal ? " (exact diagonal)" : "") + ", scale " +
           std::to_string(scale) + (mirror ? ", mirrored" : "") + ", " + std::to_string(xCount) + " x " +
           std::to_string(yCount) + " at (" + std::to_string(cx) + ", " + std::to_string(cy) + ")";
  }
};

template <class Pel>
int32_t process(uint32_t accumulate, const kimg_window& source, const kimg_window& destination,
                const affineSampleParams& params, const Cache& cache) {
  if constexpr (sizeof(Pel) == 1) {
    return affineTable_process8(accumulate, &source, &destination, &params, cache.get());
  } else {
    return affineTable_process16(accumulate, &source, &destination, &params, cache.get());
  }
}

// Refreshes the cache and stores the sampling of g; false when its map is aligned (aligned maps
// never reach the table path).
template <class Pel>
bool sampleGeneral(const Cache& cache, const kimg_window& source, const Geometry& g, uint32_t mode,
                   std::vector<Pel>& out) {
  const affineSampleParams params = g.params(mode);
  out.assign(size_t(g.xCount) * g.yCount, 0);
  const kimg_window destination = windowOver(out.data(), sizeof(Pel), g.xCount, g.yCount);
  EXPECT_EQ(affineSampleCache_refresh(cache.get(), &source, &kIdentity, &destination, &params, 0), 0);
  if (cache.get()->alignmentCode != KIP_ALIGNMENT_GENERAL) return false;
  EXPECT_EQ(process<Pel>(0, source, destination, params, cache), 0) << g.describe();
  return true;
}

// Largest deviations below and above the reference, in 8-bit grey levels.
struct Deviation {
  double low = 0, high = 0;
};

template <class Pel>
Deviation againstReference(const SmoothImage<Pel>& image, uint32_t mode, const Geometry& g,
                           const std::vector<Pel>& out) {
  Deviation d;
  for (int32_t r = 0; r < g.yCount; ++r) {
    for (int32_t c = 0; c < g.xCount; ++c) {
      double x, y;
      g.samplePosition(c, r, &x, &y);
      const double deviation = (out[size_t(r) * g.xCount + c] - reference(image, mode, x, y)) / kLevel<Pel>;
      d.low = std::min(d.low, deviation);
      d.high = std::max(d.high, deviation);
    }
  }
  return d;
}

// Tolerances in 8-bit levels. Both modes interpolate along the map's axes rather than the
// source's, a few tenths of a level from the 2D interpolation on these smooth images. 8-bit mode 2
// also truncates twice (>> 15), each time up to a level low; 8-bit mode 3 keeps the first pass to
// 1/64 of a level and weighs by 1/256 pel. widen is in levels of the pel itself (a multi-tile walk
// can differ by one from a single tile).
template <class Pel>
Deviation tolerance(uint32_t mode, double widen = 0) {
  const Deviation base = sizeof(Pel) == 1 ? (mode == 2 ? Deviation{-2.25, 0.5} : Deviation{-1.25, 1.25})
                                          : (mode == 2 ? Deviation{-0.3, 0.3} : Deviation{-0.15, 0.15});
  return {base.low - widen / kLevel<Pel>, base.high + widen / kLevel<Pel>};
}

struct ModeCase {
  bool sixteenBit;
  uint32_t mode;
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << (c.sixteenBit ? "16-bit" : "8-bit") << " mode " << c.mode; }

std::string modeName(const ::testing::TestParamInfo<ModeCase>& info) {
  return std::string(info.param.sixteenBit ? "Sixteen" : "Eight") + (info.param.mode == 2 ? "Linear" : "Cubic");
}

const auto kModeCases = ::testing::Values(ModeCase{false, 2}, ModeCase{false, 3}, ModeCase{true, 2}, ModeCase{true, 3});

// Samples each geometry and compares it with the reference; inspect (if given) then sees the
// geometry and the table it was sampled with.
template <class Pel>
void expectNearReference(const SmoothImage<Pel>& image, uint32_t mode, const std::vector<Geometry>& geometries,
                         double widen, const std::function<void(const Geometry&, const sampleTable&)>& inspect = {}) {
  Cache cache;
  const Deviation allowed = tolerance<Pel>(mode, widen);
  std::vector<Pel> out;
  for (const Geometry& g : geometries) {
    SCOPED_TRACE(g.describe());
    ASSERT_TRUE(sampleGeneral(cache, image.window(), g, mode, out));
    const Deviation d = againstReference(image, mode, g, out);
    EXPECT_GE(d.low, allowed.low);
    EXPECT_LE(d.high, allowed.high);
    if (inspect) inspect(g, affineSampleCache_tableFor(*cache.get(), sizeof(Pel)));
  }
}

// Tests over both pel sizes and both modes; withPel calls f with a pel of the case's size.
class PelModes : public ::testing::TestWithParam<ModeCase> {
 protected:
  template <class F>
  void withPel(F&& f) {
    if (GetParam().sixteenBit) {
      f(uint16_t{});
    } else {
      f(uint8_t{});
    }
  }
};

class AgainstReference : public PelModes {};

// Every octant (0 to 345 degrees in steps of 15, and the four diagonals exactly), magnifications
// and reductions, mirrored maps; well inside a 160 x 160 source.
TEST_P(AgainstReference, RotationsScalesAndMirrors) {
  std::vector<Geometry> geometries;
  for (int step = 0; step < 28; ++step) {
    const bool diagonal = step >= 24;
    const double angle = diagonal ? 45 + 90 * (step - 24) : 15 * step;
    for (double scale : {0.25, 0.5, 1.0, 1.5, 2.5, 4.0}) {
      for (bool mirror : {false, true}) {
        const int32_t n = std::min(64, static_cast<int32_t>(100 / scale));
        geometries.push_back({angle, scale, mirror, n, n * 3 / 4, 80.3, 79.8, diagonal});
      }
    }
  }
  withPel([&](auto pel) {
    const SmoothImage<decltype(pel)> image(160, 160, 7);
    expectNearReference(image, GetParam().mode, geometries, 0);
  });
}

// Destinations wider and taller than a tile, and reductions whose tiles shrink to keep their
// source box small: every tile after the first starts from its own 16.16 position, which can
// differ by a level from one long walk.
TEST_P(AgainstReference, MultiTileWalks) {
  const std::vector<Geometry> geometries = {
      {30, 0.7, false, 200, 150, 360.4, 320.2}, {100, 1.3, false, 130, 120, 360.4, 320.2},
      {10, 4.0, false, 120, 100, 360.4, 320.2}, {30, 4.0, false, 100, 80, 360.4, 320.2},
      {200, 2.2, true, 180, 170, 360.4, 320.2}, {300, 1.0, true, 97, 193, 360.4, 320.2}};
  withPel([&](auto pel) {
    using Pel = decltype(pel);
    const SmoothImage<Pel> image(720, 640, 11);
    // The walks really are multi-tile, and the reductions shrink their tiles.
    expectNearReference(image, GetParam().mode, geometries, 1.0, [](const Geometry& g, const sampleTable& table) {
      EXPECT_GT(table.header.tilesAcross, 1u);
      EXPECT_GT(table.header.tilesDown, 1u);
      if (g.scale == 4.0) EXPECT_LT(table.header.tileWidth[0], 96);
    });
  });
}

// Rows that fill the intermediate line to its last byte, and rows the slot's buffer cannot hold:
// one or two samples wide under a magnifying map (the buffer is sized from the whole-pel scale,
// here 0), and steep reductions. The kernels assert in debug builds that they stay inside the
// line in use; the results must still match the reference.
TEST_P(AgainstReference, LinesAtTheBufferLimit) {
  const uint32_t mode = GetParam().mode;
  std::vector<Geometry> geometries;
  for (int shift = 0; shift < 10; ++shift) {
    const double cx = 80.05 + 0.1 * shift, cy = 79.93 + 0.07 * shift;
    geometries.insert(geometries.end(), {{5, 0.9, false, 1, 20, cx, cy},
                                         {95, 0.6, true, 1, 17, cx, cy},
                                         {20, 0.95, false, 2, 20, cx, cy},
                                         {185, 0.7, false, 2, 9, cx, cy},
                                         {44, 3.9, false, 25, 25, cx, cy},
                                         {89, 3.95, true, 24, 20, cx, cy},
                                         {1, 3.99, false, 25, 20, cx, cy}});
  }
  withPel([&](auto pel) {
    using Pel = decltype(pel);
    const size_t valueBytes = mode == 2 ? sizeof(Pel) : 2 * sizeof(Pel);
    int full = 0, beyond = 0;
    expectNearReference(SmoothImage<Pel>(160, 160, 5), mode, geometries, 0, [&](const Geometry&, const sampleTable& t) {
      for (int type = 0; type < 4; ++type) {
        const int64_t bytes = (t.header.firstPassCount[type] + 1 + (mode == 3 ? 2 : 0)) * int64_t(valueBytes);
        full += bytes == t.lineBufferSize;
        beyond += bytes > t.lineBufferSize;
      }
    });
    if (sizeof(Pel) == 1) {
      EXPECT_GT(full, 0) << "no row filled the line buffer exactly";
      EXPECT_GT(beyond, 0) << "no row needed more than the slot's buffer";
    }
  });
}

INSTANTIATE_TEST_SUITE_P(Modes, AgainstReference, kModeCases, modeName);

// A projection adds every destination row into the vector: each entry ends as its initial value
// plus the column of stored pels, over one tile and over several tile rows.
TEST(TableProjection, AddsEveryRowIntoEntriesItNeverClears) {
  SmoothImage<uint8_t> image(300, 300, 3);
  const kimg_window source = image.window();
  Cache cache;
  for (uint32_t mode : {2u, 3u}) {
    for (const Geometry& g :
         {Geometry{25, 1.2, false, 40, 3, 150.2, 150.1}, Geometry{70, 0.8, true, 150, 110, 150.2, 150.1}}) {
      SCOPED_TRACE(g.describe() + ", mode " + std::to_string(mode));
      const affineSampleParams params = g.params(mode);
      std::vector<uint8_t> pels;
      ASSERT_TRUE(sampleGeneral(cache, source, g, mode, pels));

      std::vector<uint32_t> entries(g.xCount), expected(g.xCount);
      for (int32_t c = 0; c < g.xCount; ++c) {
        entries[c] = expected[c] = 1000 + c;
        for (int32_t r = 0; r < g.yCount; ++r) expected[c] += pels[size_t(r) * g.xCount + c];
      }
      const kimg_window vector = windowOver(entries.data(), 4, g.xCount, 1);
      ASSERT_EQ(affineSampleCache_refresh(cache.get(), &source, &kIdentity, &vector, &params, 1), 0);
      ASSERT_EQ(affineTable_process8(1, &source, &vector, &params, cache.get()), 0);
      EXPECT_EQ(entries, expected);
    }
  }
}

// Moves g's centre so that its corner sample centres lie at the clip test's limit on the sides
// asked for (-1 the low edge, +1 the high edge, 0 the window's middle), nudged inward until the
// test accepts it: by 1e-7 pel at least, which keeps the 16.16 positions those of the limit but
// keeps the corner off an exact whole pel, where the builder's nudge would depend on the last bit
// of a double. False when no nudge below 1e-3 pel is accepted.
bool placeAtClipLimit(Geometry& g, uint32_t mode, const kimg_window& source, int sideX, int sideY) {
  const double margin = mode == 2 ? 1.5 : 2.5;
  double ux, uy, vx, vy;
  g.sides(&ux, &uy, &vx, &vy);
  // Half extents of the corner sample centres about the centre.
  const double ex = ((g.xCount - 1) * std::fabs(ux) + (g.yCount - 1) * std::fabs(vx)) * g.scale / 2;
  const double ey = ((g.xCount - 1) * std::fabs(uy) + (g.yCount - 1) * std::fabs(vy)) * g.scale / 2;
  const auto place = [](int side, double extent, double limit, double size, double nudge) {
    return side < 0 ? limit + extent + nudge : side > 0 ? size - limit - extent - nudge : size / 2 + 0.3;
  };
  uint32_t willClip = 1;
  for (double nudge = 1e-7; nudge < 1e-3; nudge *= 4) {
    g.cx = place(sideX, ex, margin, source.width, nudge);
    g.cy = place(sideY, ey, margin, source.height, nudge);
    const affineSampleParams params = g.params(mode);
    if (kip_affineSampleParams_getWillClipWindow(&params, &source, &kIdentity, &willClip) < 0) return false;
    if (!willClip) return true;
  }
  return false;
}

class ClipLimits : public PelModes {};

// Samplings that the clip test accepts by the smallest margin, touching each pair of source edges
// (left or right, top or bottom), in every octant: the source has no slack around it, so under the
// address sanitizer any tap read outside it fails the test, whatever the edge pass missed.
TEST_P(ClipLimits, AcceptedSamplingsReadOnlyTheSource) {
  const uint32_t mode = GetParam().mode;
  withPel([&](auto pel) {
    using Pel = decltype(pel);
    SmoothImage<Pel> image(32, 32, 9);
    const kimg_window source = image.window();
    Cache cache;
    std::vector<Pel> out;
    int sampled = 0;
    for (int step = 0; step < 52; ++step) {
      const bool diagonal = step >= 48;
      const double angle = diagonal ? 45 + 90 * (step - 48) : 7.5 * step;
      for (double scale : {0.4, 1.0, 2.2}) {
        for (bool mirror : {false, true}) {
          for (int corner = 0; corner < 4; ++corner) {
            Geometry g{angle, scale, mirror, 9, 6, 0, 0, diagonal};
            ASSERT_TRUE(placeAtClipLimit(g, mode, source, corner & 1 ? 1 : -1, corner & 2 ? 1 : -1)) << g.describe();
            sampled += sampleGeneral(cache, source, g, mode, out);
          }
        }
      }
    }
    EXPECT_GT(sampled, 1200);
  });
}

// Rows running mostly along x at the top and bottom limits, where first-pass values have taps in
// the rows outside the source: the edge pass computes them with those taps dropped, which must
// equal the kernel reading zeros there. The kernel does exactly that when the same sampling, moved
// by whole pels, runs on a copy framed by zero pels and the window takes in the frame.
TEST_P(ClipLimits, EdgeValuesDropTheTapsOutsideTheSource) {
  const uint32_t mode = GetParam().mode;
  withPel([&](auto pel) {
    using Pel = decltype(pel);
    SmoothImage<Pel> image(32, 32, 13);
    const kimg_window source = image.window();
    constexpr int32_t kFrame = 3, kFramed = 32 + 2 * kFrame;
    std::vector<Pel> framed(size_t(kFramed) * kFramed, 0);
    for (int32_t y = 0; y < 32; ++y) {
      std::copy_n(image.pels.begin() + y * 32, 32, framed.begin() + (y + kFrame) * kFramed + kFrame);
    }
    const kimg_window frame = windowOver(framed.data(), sizeof(Pel), kFramed, kFramed);
    Cache cache;
    std::vector<Pel> out, outFramed;
    for (double angle : {-40.0, -25.0, -8.0, 12.0, 30.0, 44.0, 150.0, 172.0, 205.0, 220.0}) {
      for (double scale : {0.5, 1.7}) {
        for (bool mirror : {false, true}) {
          for (int side : {-1, 1}) {
            Geometry g{angle, scale, mirror, 9, 6, 0, 0};
            ASSERT_TRUE(placeAtClipLimit(g, mode, source, 0, side)) << g.describe();
            ASSERT_TRUE(sampleGeneral(cache, source, g, mode, out));
            Geometry moved = g;
            moved.cx += kFrame, moved.cy += kFrame;
            ASSERT_TRUE(sampleGeneral(cache, frame, moved, mode, outFramed));
            EXPECT_EQ(out, outFramed) << g.describe();
          }
        }
      }
    }
  });
}

// At the left and right limits, rows running mostly along y have first-pass values whose taps
// cross those edges, and rows along x a last first-pass value past the right edge: pels the window
// does not hold, in the row gap or on the next row. The result must not depend on them: the same
// 32 x 32 pels sampled on their own, and as a window framed by two different noises, agree.
TEST_P(ClipLimits, PelsBesideTheWindowDoNotMatter) {
  const uint32_t mode = GetParam().mode;
  withPel([&](auto pel) {
    using Pel = decltype(pel);
    SmoothImage<Pel> image(32, 32, 17);
    const kimg_window source = image.window();
    constexpr int32_t kFrame = 3, kFramed = 32 + 2 * kFrame;
    std::vector<Pel> framed[2];
    kimg_window windows[2];
    std::mt19937 noise(5);
    for (int f = 0; f < 2; ++f) {
      framed[f].resize(size_t(kFramed) * kFramed);
      for (Pel& p : framed[f]) p = static_cast<Pel>(noise());
      for (int32_t y = 0; y < 32; ++y) {
        std::copy_n(image.pels.begin() + y * 32, 32, framed[f].begin() + (y + kFrame) * kFramed + kFrame);
      }
      windows[f] = windowOver(framed[f].data(), sizeof(Pel), kFramed, kFramed);
      ASSERT_EQ(kimg_window_window(&windows[f], kFrame, kFrame, 32, 32, nullptr), 0);
    }
    Cache cache;
    std::vector<Pel> out, outFramed;
    for (double angle : {-30.0, 10.0, 55.0, 70.0, 84.0, 100.0, 118.0, 132.0, 160.0, 238.0, 262.0, 285.0, 310.0}) {
      for (double scale : {0.5, 1.7}) {
        for (bool mirror : {false, true}) {
          for (int side : {-1, 1}) {
            Geometry g{angle, scale, mirror, 9, 6, 0, 0};
            ASSERT_TRUE(placeAtClipLimit(g, mode, source, side, 0)) << g.describe();
            ASSERT_TRUE(sampleGeneral(cache, source, g, mode, out));
            Geometry moved = g;
            moved.cx += kFrame, moved.cy += kFrame;
            for (const kimg_window& window : windows) {
              ASSERT_TRUE(sampleGeneral(cache, window, moved, mode, outFramed));
              EXPECT_EQ(out, outFramed) << g.describe();
            }
          }
        }
      }
    }
  });
}

INSTANTIATE_TEST_SUITE_P(Modes, ClipLimits, kModeCases, modeName);

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
  SmoothImage<uint8_t> image(40, 40, 1);
  const kimg_window source = image.window();
  const Geometry g{30, 1.0, false, 20, 16, 20.3, 19.6};
  const affineSampleParams params = g.params(2);
  std::vector<uint8_t> pels(size_t(g.xCount) * g.yCount, 77);
  const kimg_window destination = windowOver(pels.data(), 1, g.xCount, g.yCount);
  Cache cache;
  ASSERT_EQ(affineSampleCache_refresh(cache.get(), &source, &kIdentity, &destination, &params, 0), 0);

  struct Case {
    const char* what;
    int32_t expected;
    std::function<int32_t(kimg_window, kimg_window, affineSampleParams)> run;
  };
  const auto process8 = [&](uint32_t accumulate) {
    return [&, accumulate](kimg_window s, kimg_window d, affineSampleParams p) {
      return affineTable_process8(accumulate, &s, &d, &p, cache.get());
    };
  };
  const Case cases[] = {
      {"mode above 3", KIP_ERR_MODE_UNSUPPORTED,
       [&](kimg_window s, kimg_window d, affineSampleParams p) { return p.sampleMode = 4, process8(0)(s, d, p); }},
      {"direct mode", KIP_ERR_MODE_UNSUPPORTED,
       [&](kimg_window s, kimg_window d, affineSampleParams p) { return p.sampleMode = 1, process8(0)(s, d, p); }},
      {"stride 32768", KIP_ERR_SOURCE_TOO_LARGE,
       [&](kimg_window s, kimg_window d, affineSampleParams p) { return s.stride = 32768, process8(0)(s, d, p); }},
      {"height 32768", KIP_ERR_SOURCE_TOO_LARGE,
       [&](kimg_window s, kimg_window d, affineSampleParams p) { return s.height = 32768, process8(0)(s, d, p); }},
      {"16-bit projection", KIP_ERR_MODE_UNSUPPORTED,
       [&](kimg_window s, kimg_window d, affineSampleParams p) {
         s.pelSize = 2, d.pelSize = 4;
         return affineTable_process16(1, &s, &d, &p, cache.get());
       }},
      {"8-bit source to the 16-bit path", KIP_ERR_PEL_SIZE,
       [&](kimg_window s, kimg_window d, affineSampleParams p) {
         return affineTable_process16(0, &s, &d, &p, cache.get());
       }},
      {"table built for other strides", KIP_ERR_INTERNAL,
       [&](kimg_window s, kimg_window d, affineSampleParams p) { return d.stride += 1, process8(0)(s, d, p); }},
      {"destination shorter than the sampling", KIP_ERR_DEST_TOO_SMALL,
       [&](kimg_window s, kimg_window d, affineSampleParams p) { return d.height -= 1, process8(0)(s, d, p); }},
      {"no source", KIP_ERR_NULL_POINTER,
       [&](kimg_window, kimg_window d, affineSampleParams p) {
         return affineTable_process8(0, nullptr, &d, &p, cache.get());
       }},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.run(source, destination, params), c.expected) << c.what;
  }
  EXPECT_TRUE(std::all_of(pels.begin(), pels.end(), [](uint8_t p) { return p == 77; })) << "a refusal wrote pels";

  // A mode above 3 that reaches the core itself.
  affineSampleParams mode5 = params;
  mode5.sampleMode = 5;
  const auto* first = static_cast<const uint8_t*>(source.firstPel);
  EXPECT_EQ(affineTable_core8(0, &mode5, &cache.get()->sampleTable8, first, first + 40 * 40 - 1, pels.data(),
                              affineLineBilinear8),
            KIP_ERR_MODE_UNSUPPORTED);
}

}  // namespace
