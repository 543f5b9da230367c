// The optimized 8-bit process: the tiled bilinear driver against its own arithmetic written out
// plainly here, nearest neighbour against the portable process, every Highway target against the
// scalar kernels, tile size and order, bands, and the projection process.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "cache/cache.hpp"
#include "engine/bilinear_tile.hpp"
#include "engine/bilinear_tile_kernels.hpp"
#include "engine/nearest_tile_simd.hpp"
#include "engine/optimized_process.hpp"
#include "engine/portable_process.hpp"
#include "engine/tile_loops.hpp"
#include "frame/optimization_hook.hpp"
#include "platform/math.hpp"
#include "support/support.hpp"
#include "tiled_support.hpp"

namespace {

using kiptest::ScopedHook;
using tiledtest::Destination;
using tiledtest::kSourceXform;
using tiledtest::makeParams;
using tiledtest::makeWindow;
using tiledtest::Source;

constexpr kmath_xformLinear kIdentity{0, 0, 1, 0, 0, 1};

// ----------------------------------------------------------------------------------------------
// The tiled bilinear arithmetic, pel by pel: destination pel (c, r) lies in tile (c / T, r / T) and
// its position is the start plus whole tile steps plus the pel steps within the tile.

struct PlainTiled {
  uint32_t x0, y0;
  uint32_t rowX, rowY, columnX, columnY;
  uint32_t tileRowX, tileRowY, tileColumnX, tileColumnY;
  int32_t tile;
};

uint32_t saturated(double d) {
  if (d > 32767) return 0x7FFFFFFFu;
  if (d < -32767) return 0x80000001u;
  return static_cast<uint32_t>(static_cast<int32_t>(d * 65536));
}

uint32_t tileStep(double t) {
  return t > -32768 && t < 32768 ? static_cast<uint32_t>(static_cast<int32_t>(t * 65536)) : 0;
}

PlainTiled plainSetup(const kimg_window& source, const kmath_xformLinear& xform, const affineSampleParams& p,
                      int32_t tile) {
  kmath_xformLinear scale{}, rectFromDestination{}, map{};
  kmath_xformLinear_initMatrixTransElements(&scale, 1.0 / p.xCount, 0, 0, 1.0 / p.yCount, 0, 0);
  const kmath_shapeAffineRect& r = p.affineRect;
  const kmath_xformLinear rect{r.tx, r.ty, r.e0, r.e1, r.e2, r.e3};
  kmath_xformLinear_initCompose(&rectFromDestination, &rect, &scale);
  kmath_xformLinear_initCompose(&map, &xform, &rectFromDestination);
  kmath_vect q[3];
  const kmath_vect in[3] = {{0.5, 0.5}, {0.5, 1.5}, {1.5, 0.5}};
  for (int k = 0; k < 3; ++k) {
    kmath_xformLinear_mapPoint(&map, &in[k], &q[k]);
    q[k].x -= source.xOrigin;
    q[k].y -= source.yOrigin;
  }
  const double row[2] = {q[1].x - q[0].x, q[1].y - q[0].y}, column[2] = {q[2].x - q[0].x, q[2].y - q[0].y};
  PlainTiled t{};
  t.x0 = static_cast<uint32_t>(static_cast<int64_t>(q[0].x * 65536 + 0.5)) - 32768;
  t.y0 = static_cast<uint32_t>(static_cast<int64_t>(q[0].y * 65536 + 0.5)) - 32768;
  t.rowX = saturated(row[0]);
  t.rowY = saturated(row[1]);
  t.columnX = saturated(column[0]);
  t.columnY = saturated(column[1]);
  t.tileRowX = tileStep(tile * row[0]);
  t.tileRowY = tileStep(tile * row[1]);
  t.tileColumnX = tileStep(tile * column[0]);
  t.tileColumnY = tileStep(tile * column[1]);
  t.tile = tile;
  return t;
}

uint32_t plainSample(const kimg_window& source, uint32_t x, uint32_t y) {
  const int32_t ix = static_cast<int16_t>(x >> 16), iy = static_cast<int16_t>(y >> 16);
  const uint32_t fx = x & 0xFFFF, fy = y & 0xFFFF, gx = 65535 - fx, gy = 65535 - fy;
  const auto clampTo = [](int32_t v, int32_t size) { return std::clamp(v, 0, size - 1); };
  const int32_t x0 = clampTo(ix, source.width), x1 = clampTo(ix + 1, source.width);
  const int32_t y0 = clampTo(iy, source.height), y1 = clampTo(iy + 1, source.height);
  const auto pel = [&](int32_t i, int32_t j) -> uint32_t {
    return static_cast<const uint8_t*>(source.firstPel)[static_cast<size_t>(j) * source.stride + i];
  };
  const uint32_t sum = ((gx * gy) >> 17) * pel(x0, y0) + ((fx * gy) >> 17) * pel(x1, y0) +
                       ((gx * fy) >> 17) * pel(x0, y1) + ((fx * fy) >> 17) * pel(x1, y1);
  return static_cast<uint32_t>(static_cast<int32_t>(2 * sum + 32768) >> 16);
}

uint32_t plainValue(const PlainTiled& t, const kimg_window& source, int32_t c, int32_t r) {
  const uint32_t tc = c / t.tile, tr = r / t.tile, ic = c % t.tile, ir = r % t.tile;
  const uint32_t x = t.x0 + tr * t.tileRowX + tc * t.tileColumnX + ir * t.rowX + ic * t.columnX;
  const uint32_t y = t.y0 + tr * t.tileRowY + tc * t.tileColumnY + ir * t.rowY + ic * t.columnY;
  return plainSample(source, x, y);
}

struct Geometry {
  double degrees, pitch;
  bool mirrored;
  double cx, cy, lengthX, lengthY;
};

std::vector<Geometry> randomGeometries(int n, double width, double height, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<Geometry> out;
  for (int k = 0; k < n; ++k) {
    const double pitch = 0.2 + 3.0 * u(random) * u(random);
    const double lengthX = pitch * (1 + 260 * u(random)), lengthY = pitch * (1 + 260 * u(random));
    out.push_back({360 * u(random), pitch, u(random) < 0.3, width * (0.3 + 0.4 * u(random)),
                   height * (0.3 + 0.4 * u(random)), lengthX, lengthY});
  }
  return out;
}

// Mode 1 through the optimized process, stored and accumulated, against the plain arithmetic.
// Sources of several strides give every tile edge; geometries include samplings that leave the
// source (clamped), long rows, steps saturated beyond 32767 pels and tile steps of 0.
struct BilinearCase {
  const char* name;
  int32_t width, height;
  int geometries;
  bool extreme;
};

void PrintTo(const BilinearCase& c, std::ostream* os) { *os << c.name; }

class TiledBilinear : public ::testing::TestWithParam<BilinearCase> {};

TEST_P(TiledBilinear, MatchesItsOwnArithmetic) {
  const BilinearCase& c = GetParam();
  Source<uint8_t> source(c.width, c.height, 7, -11, 5);
  const int32_t tile = affineTile_rowsForStride(c.width);
  std::vector<Geometry> geometries = randomGeometries(c.geometries, c.width, c.height, c.width);
  if (c.extreme) {
    geometries.push_back({17, 0.02, false, 40, 30, 30, 0.1});           // 1500 columns: long rows
    geometries.push_back({200, 0.04, true, 40, 30, 0.2, 45});           // 1125 rows
    geometries.push_back({0, 35000, false, 40, 30, 70000, 35000 * 3});  // saturated steps
    geometries.push_back({90, 200, false, 40, 30, 200 * 300, 400});     // tile steps of 0
    geometries.push_back({33, 2.5, false, -80, 500, 300, 200});         // mostly outside
  }
  for (const Geometry& g : geometries) {
    const affineSampleParams params =
        makeParams(KIP_SAMPLE_BILINEAR, g.degrees, g.pitch, g.mirrored, g.cx, g.cy, g.lengthX, g.lengthY);
    const PlainTiled plain = plainSetup(source.window, kSourceXform, params, tile);
    Destination<uint8_t> out(params.xCount, params.yCount);
    kimg_window window = out.window();
    ASSERT_EQ(affineProcess_optimized8(0, &source.window, &kSourceXform, &window, &params, nullptr), 0);
    ASSERT_TRUE(out.guardsIntact());
    std::vector<uint32_t> sums(params.xCount + 1, 77);
    const kimg_window vector = makeWindow(sums.data(), 4, params.xCount, 1, params.xCount);
    ASSERT_EQ(affineProcess_optimized8(1, &source.window, &kSourceXform, &vector, &params, nullptr), 0);
    ASSERT_EQ(sums.back(), 77u);
    for (int32_t i = 0; i < params.xCount; ++i) {
      uint32_t columnSum = 77;
      for (int32_t j = 0; j < params.yCount; ++j) {
        const uint32_t expected = plainValue(plain, source.window, i, j);
        columnSum += expected;
        ASSERT_EQ(out.at(i, j), expected) << "degrees " << g.degrees << " pitch " << g.pitch << " at " << i << "," << j;
      }
      ASSERT_EQ(sums[i], columnSum) << "column " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Optimized, TiledBilinear,
                         ::testing::Values(BilinearCase{"tile224", 300, 260, 24, true},
                                           BilinearCase{"tile96", 1100, 90, 8, true},
                                           BilinearCase{"tile64", 2100, 70, 6, false},
                                           BilinearCase{"tile48", 3100, 60, 6, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ----------------------------------------------------------------------------------------------
// Nearest neighbour: the optimized process takes the portable tile loop with its own tile edge
// and the vector kernel. Up to 1024 samples along both sides every tile step is a whole number of
// 16.16 pel steps, so the tile edge cannot change a position and the portable process (tiles of
// 64) gives the same pels. Longer samplings take tile steps from doubles and are checked against
// the scalar kernel with the same tile edge.

struct NearestCase {
  const char* name;
  int32_t width, height;
};

void PrintTo(const NearestCase& c, std::ostream* os) { *os << c.name; }

class TiledNearest : public ::testing::TestWithParam<NearestCase> {};

TEST_P(TiledNearest, MatchesPortable) {
  const NearestCase& c = GetParam();
  Source<uint8_t> source(c.width, c.height, 3, 4, -9);
  std::vector<Geometry> geometries = randomGeometries(20, c.width, c.height, 100 + c.width);
  geometries.push_back({0, 1.0, false, c.width / 2.0, c.height / 2.0, c.width - 0.0, c.height - 0.0});  // clip limits
  geometries.push_back({180, 1.0, true, c.width / 2.0, c.height / 2.0, c.width - 0.0, c.height - 0.0});
  for (const Geometry& g : geometries) {
    const affineSampleParams params =
        makeParams(KIP_SAMPLE_NEAREST, g.degrees, g.pitch, g.mirrored, g.cx, g.cy, g.lengthX, g.lengthY);
    Destination<uint8_t> fast(params.xCount, params.yCount), portable(params.xCount, params.yCount);
    kimg_window fastWindow = fast.window(), portableWindow = portable.window();
    ASSERT_EQ(affineProcess_optimized8(0, &source.window, &kSourceXform, &fastWindow, &params, nullptr), 0);
    ASSERT_EQ(affineProcess_portable8(0, &source.window, &kSourceXform, &portableWindow, &params, nullptr), 0);
    ASSERT_EQ(fast.pels, portable.pels) << "degrees " << g.degrees << " pitch " << g.pitch;

    std::vector<uint32_t> fastSums(params.xCount + 1, 3), portableSums(params.xCount + 1, 3);
    fastWindow = makeWindow(fastSums.data(), 4, params.xCount, 1, params.xCount);
    portableWindow = makeWindow(portableSums.data(), 4, params.xCount, 1, params.xCount);
    ASSERT_EQ(affineProcess_optimized8(1, &source.window, &kSourceXform, &fastWindow, &params, nullptr), 0);
    ASSERT_EQ(affineProcess_portable8(1, &source.window, &kSourceXform, &portableWindow, &params, nullptr), 0);
    ASSERT_EQ(fastSums, portableSums) << "degrees " << g.degrees << " pitch " << g.pitch;
  }
}

INSTANTIATE_TEST_SUITE_P(Optimized, TiledNearest,
                         ::testing::Values(NearestCase{"tile224", 257, 190}, NearestCase{"tile96", 1500, 80},
                                           NearestCase{"tile48", 3200, 50}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TiledNearest, LongSamplingsMatchTheScalarKernel) {
  Source<uint8_t> source(300, 200, 5);
  for (const Geometry& g : {Geometry{17, 0.05, false, 150, 100, 100, 4}, Geometry{250, 0.08, true, 150, 100, 3, 95}}) {
    const affineSampleParams params =
        makeParams(KIP_SAMPLE_NEAREST, g.degrees, g.pitch, g.mirrored, g.cx, g.cy, g.lengthX, g.lengthY);
    ASSERT_GT(std::max(params.xCount, params.yCount), 1024);
    Destination<uint8_t> fast(params.xCount, params.yCount), scalar(params.xCount, params.yCount);
    kimg_window fastWindow = fast.window(), scalarWindow = scalar.window();
    ASSERT_EQ(affineProcess_optimized8(0, &source.window, &kSourceXform, &fastWindow, &params, nullptr), 0);
    ASSERT_EQ(affineTile_loop8(0, &source.window, &kSourceXform, &scalarWindow, &params, 224, affineRowNearest8), 0);
    EXPECT_EQ(fast.pels, scalar.pels);
  }
}

// ----------------------------------------------------------------------------------------------
// Every Highway target, scalar included, against the scalar kernels, on tiles that start inside
// and outside tiny and ordinary sources (exact-size buffers: a gather past the last pel shows under
// AddressSanitizer), with every step sign, saturated steps and row lengths around the lane counts.

struct KernelPair {
  const char* name;
  DirectKernel<uint8_t> vector, scalar;
  bool accumulate;
};

const KernelPair kKernelPairs[] = {
    {"bilinear", affineTileBilinearSimd8, affineTileBilinearScalar8, false},
    {"bilinearAcc", affineTileBilinearSimdAcc8, affineTileBilinearScalarAcc8, true},
    {"nearest", affineRowNearestSimd8, affineRowNearest8, false},
    {"nearestAcc", affineRowNearestSimdAcc8, affineRowNearestAcc8, true},
};

void compareKernelsOnRandomTiles(uint32_t seed, const char* target) {
  std::mt19937 random(seed);
  const auto uniform = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(random); };
  struct Size {
    int32_t width, height, xBase;
  };
  const Size sizes[] = {{1, 1, 0}, {3, 1, 0},   {4, 1, 0},   {1, 4, 0},  {2, 2, 0},
                        {5, 3, 0}, {37, 29, 0}, {64, 64, 0}, {80, 40, 7}};
  const int32_t steps[] = {0, 0x10000, -0x10000, 0x7FFFFFFF, -0x7FFFFFFF, 0x8000, 0x2A3B1, -0x1F00D};
  const int32_t counts[] = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33, 48, 63, 64, 65, 224};
  for (const Size& size : sizes) {
    std::vector<uint8_t> pels(static_cast<size_t>(size.width) * size.height);
    for (auto& p : pels) p = static_cast<uint8_t>(random());
    const DirectSource<uint8_t> source{pels.data(), size.width, size.width, size.height, size.xBase, 0};
    for (int trial = 0; trial < 40; ++trial) {
      const int32_t margin = 3 * 0x10000;
      const int32_t x = uniform(-margin, size.width * 0x10000 + margin);
      const int32_t y = uniform(-margin, size.height * 0x10000 + margin);
      const auto pickStep = [&] { return trial % 3 == 0 ? steps[uniform(0, 7)] : uniform(-0x30000, 0x30000); };
      const int32_t rowX = pickStep(), rowY = pickStep(), columnX = pickStep(), columnY = pickStep();
      const int32_t count = counts[uniform(0, 17)], rows = uniform(1, 4);
      for (const KernelPair& pair : kKernelPairs) {
        const int32_t stride = count + 5;
        std::vector<uint32_t> start(static_cast<size_t>(stride) * rows);
        for (auto& v : start) v = pair.accumulate ? random() : 0xA5A5A5A5u;
        std::vector<uint32_t> fast = start, scalar = start;
        // Store kernels write bytes, row stride `stride` bytes; accumulate kernels one row of entries.
        void* fastOut = fast.data();
        void* scalarOut = scalar.data();
        ASSERT_EQ(pair.vector(x, y, rowX, rowY, columnX, columnY, count, rows, source, fastOut, stride), 0);
        ASSERT_EQ(pair.scalar(x, y, rowX, rowY, columnX, columnY, count, rows, source, scalarOut, stride), 0);
        ASSERT_EQ(fast, scalar) << pair.name << " on " << target << " source " << size.width << "x" << size.height
                                << " count " << count << " steps " << rowX << "," << rowY << "," << columnX << ","
                                << columnY;
      }
    }
  }
}

// Short steps on small exact-size sources: many tiles lie wholly inside, many touch or cross an
// edge, and the kernels' choice between the unclamped and the clamped form is tried at every edge.
void compareKernelsNearTheEdges(const char* target) {
  std::mt19937 random(99);
  const auto uniform = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(random); };
  for (const auto& [width, height] : {std::pair{2, 3}, std::pair{3, 2}, std::pair{6, 5}, std::pair{19, 7}}) {
    std::vector<uint8_t> pels(static_cast<size_t>(width) * height);
    for (auto& p : pels) p = static_cast<uint8_t>(random());
    const DirectSource<uint8_t> source{pels.data(), width, width, height, 0, 0};
    for (int trial = 0; trial < 400; ++trial) {
      const int32_t x = uniform(-0x10000, width * 0x10000), y = uniform(-0x10000, height * 0x10000);
      const int32_t rowX = uniform(-0x800, 0x800), rowY = uniform(-0x800, 0x800);
      const int32_t columnX = uniform(-0x400, 0x400), columnY = uniform(-0x400, 0x400);
      const int32_t count = uniform(1, 40), rows = uniform(1, 3);
      for (const KernelPair& pair : kKernelPairs) {
        std::vector<uint32_t> fast(static_cast<size_t>(count) * rows, 0x5A5A5A5Au), scalar = fast;
        ASSERT_EQ(pair.vector(x, y, rowX, rowY, columnX, columnY, count, rows, source, fast.data(), count), 0);
        ASSERT_EQ(pair.scalar(x, y, rowX, rowY, columnX, columnY, count, rows, source, scalar.data(), count), 0);
        ASSERT_EQ(fast, scalar) << pair.name << " on " << target << " source " << width << "x" << height << " at " << x
                                << "," << y;
      }
    }
  }
}

// Chunks whose lanes all blend one pair of source rows: rows along the source (column steps with
// a y of a fraction of a pel over a chunk), column spans either side of the 64 pels that one load
// of a row covers, chunks that end on the window's last column or row, rows that run right to
// left, and windows narrower than their stride whose padding must never be blended in.
void compareKernelsOnRowPairs(const char* target) {
  std::mt19937 random(1717);
  const auto uniform = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(random); };
  const int32_t columnSteps[] = {0x40000, 0x41000, 0x42000, 0x42AAA, 0x43000, 0x10000, 0x18000, 0x8000};
  for (const auto& [width, height, stride] : {std::tuple{66, 3, 66}, std::tuple{130, 9, 133}, std::tuple{300, 40, 300}}) {
    std::vector<uint8_t> pels(static_cast<size_t>(stride) * height);
    for (auto& p : pels) p = static_cast<uint8_t>(random());
    const DirectSource<uint8_t> source{pels.data(), stride, width, height, 0, 0};
    for (int trial = 0; trial < 300; ++trial) {
      const int32_t sign = uniform(0, 1) ? 1 : -1;
      const int32_t columnX = sign * (columnSteps[uniform(0, 7)] + uniform(-8, 8));
      const int32_t columnY = trial % 4 == 0 ? 0 : uniform(-0x600, 0x600);
      const int32_t rowX = uniform(-0x8000, 0x8000), rowY = trial % 2 ? 0x40000 : uniform(0x100, 0x20000);
      const int32_t count = uniform(1, 70), rows = uniform(1, 4);
      // Starts that put some chunks against the right edge or the last row pair.
      const int32_t x = trial % 3 == 0 ? (width - 2) * 0x10000 - uniform(0, 0x30000) : uniform(0, (width - 1) * 0x10000);
      const int32_t y = trial % 5 == 0 ? (height - 2) * 0x10000 + uniform(0, 0xFFFF) : uniform(0, (height - 1) * 0x10000);
      for (const KernelPair& pair : kKernelPairs) {
        if (pair.vector == affineRowNearestSimd8 || pair.vector == affineRowNearestSimdAcc8) continue;
        std::vector<uint32_t> fast(static_cast<size_t>(count) * rows, 0x5A5A5A5Au), scalar = fast;
        ASSERT_EQ(pair.vector(x, y, rowX, rowY, columnX, columnY, count, rows, source, fast.data(), count), 0);
        ASSERT_EQ(pair.scalar(x, y, rowX, rowY, columnX, columnY, count, rows, source, scalar.data(), count), 0);
        ASSERT_EQ(fast, scalar) << pair.name << " on " << target << " source " << width << "x" << height << " at "
                                << x << "," << y << " steps " << rowX << "," << rowY << "," << columnX << ","
                                << columnY;
      }
    }
  }
}

// Turned tiles inside the source, which the vector kernels sample from a copy of the rectangle
// they read: every angle, scales either side of 1, tiles whose copy must be split into blocks of
// rows (224 x 224 samples), copies that end on the window's last column, and padding beside the
// window that must never be copied in.
void compareKernelsOnTurnedTiles(const char* target) {
  std::mt19937 random(2024);
  const auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random); };
  constexpr int32_t kWidth = 260, kHeight = 250, kStride = 263;
  std::vector<uint8_t> pels(static_cast<size_t>(kStride) * kHeight);
  for (auto& p : pels) p = static_cast<uint8_t>(random());
  const DirectSource<uint8_t> source{pels.data(), kStride, kWidth, kHeight, 0, 0};
  for (int trial = 0; trial < 120; ++trial) {
    const double angle = uniform(0, 2 * std::numbers::pi), scale = uniform(0.3, 1.6);
    const auto fixed = [](double v) { return static_cast<int32_t>(std::lround(v * 65536)); };
    const int32_t columnX = fixed(scale * std::cos(angle)), columnY = fixed(scale * std::sin(angle));
    const int32_t rowX = fixed(-scale * std::sin(angle)), rowY = fixed(scale * std::cos(angle));
    const int32_t count = trial % 4 == 0 ? 224 : static_cast<int32_t>(uniform(1, 100));
    const int32_t rows = trial % 4 == 0 ? 224 : static_cast<int32_t>(uniform(1, 60));
    // Start so that the tile's rectangle lies inside, against the right edge every third trial.
    double lowX = 0, highX = 0, lowY = 0, highY = 0;
    for (const double i : {0.0, count - 1.0}) {
      for (const double j : {0.0, rows - 1.0}) {
        const double px = (i * columnX + j * rowX) / 65536.0, py = (i * columnY + j * rowY) / 65536.0;
        lowX = std::min(lowX, px), highX = std::max(highX, px), lowY = std::min(lowY, py), highY = std::max(highY, py);
      }
    }
    const double roomX = kWidth - 2.0 - (highX - lowX), roomY = kHeight - 2.0 - (highY - lowY);
    if (roomX < 1 || roomY < 1) continue;
    const double startX = (trial % 3 == 0 ? roomX - 0.01 : uniform(0, roomX)) - lowX;
    const double startY = uniform(0, roomY) - lowY;
    for (const KernelPair& pair : kKernelPairs) {
      if (pair.vector == affineRowNearestSimd8 || pair.vector == affineRowNearestSimdAcc8) continue;
      const int32_t stride = pair.accumulate ? count : count + 1;
      std::vector<uint32_t> fast(static_cast<size_t>(stride) * rows, 0x5A5A5A5Au), scalar = fast;
      const int32_t x = fixed(startX), y = fixed(startY);
      ASSERT_EQ(pair.vector(x, y, rowX, rowY, columnX, columnY, count, rows, source, fast.data(), stride), 0);
      ASSERT_EQ(pair.scalar(x, y, rowX, rowY, columnX, columnY, count, rows, source, scalar.data(), stride), 0);
      ASSERT_EQ(fast, scalar) << pair.name << " on " << target << " angle " << angle << " scale " << scale << " tile "
                              << count << "x" << rows;
    }
  }
}

TEST(SimdTargets, EveryTargetMatchesTheScalarKernels) {
  std::vector<std::string> names;
  for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
    hwy::SetSupportedTargetsForTest(target);
    ASSERT_STREQ(bilinearTileSimdTargetName(), hwy::TargetName(target));
    ASSERT_STREQ(nearestTileSimdTargetName(), hwy::TargetName(target));
    names.push_back(hwy::TargetName(target));
    compareKernelsOnRandomTiles(static_cast<uint32_t>(target % 1000003), hwy::TargetName(target));
    compareKernelsNearTheEdges(hwy::TargetName(target));
    compareKernelsOnRowPairs(hwy::TargetName(target));
    compareKernelsOnTurnedTiles(hwy::TargetName(target));
  }
  hwy::SetSupportedTargetsForTest(0);
  EXPECT_GE(names.size(), 2u) << "only one target compiled";
  EXPECT_NE(std::find(names.begin(), names.end(), std::string("SCALAR")), names.end());
}

// The whole process on every target gives the pels of the scalar kernels through the same walk.
TEST(SimdTargets, WholeProcessIsTheSameOnEveryTarget) {
  Source<uint8_t> source(230, 170, 9);
  const affineSampleParams bilinear = makeParams(KIP_SAMPLE_BILINEAR, 123, 0.7, true, 110, 90, 120, 100);
  const affineSampleParams nearest = makeParams(KIP_SAMPLE_NEAREST, 321, 0.45, false, 120, 80, 90, 110);
  Destination<uint8_t> bilinearScalar(bilinear.xCount, bilinear.yCount), nearestScalar(nearest.xCount, nearest.yCount);
  kimg_window window = bilinearScalar.window();
  ASSERT_EQ(
      affineTile_bilinearStore8(0, &source.window, &kSourceXform, &window, &bilinear, 224, affineTileBilinearScalar8),
      0);
  window = nearestScalar.window();
  ASSERT_EQ(affineTile_loop8(0, &source.window, &kSourceXform, &window, &nearest, 224, affineRowNearest8), 0);
  for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
    hwy::SetSupportedTargetsForTest(target);
    Destination<uint8_t> b(bilinear.xCount, bilinear.yCount), n(nearest.xCount, nearest.yCount);
    window = b.window();
    ASSERT_EQ(affineProcess_optimized8(0, &source.window, &kSourceXform, &window, &bilinear, nullptr), 0);
    window = n.window();
    ASSERT_EQ(affineProcess_optimized8(0, &source.window, &kSourceXform, &window, &nearest, nullptr), 0);
    EXPECT_EQ(b.pels, bilinearScalar.pels) << hwy::TargetName(target);
    EXPECT_EQ(n.pels, nearestScalar.pels) << hwy::TargetName(target);
  }
  hwy::SetSupportedTargetsForTest(0);
}

// ----------------------------------------------------------------------------------------------
// Tile size, pel centres, tile order.

TEST(TileRows, FollowTheSourceStride) {
  const std::pair<int32_t, int32_t> expected[] = {{1024, 224}, {1025, 96}, {2048, 96},
                                                  {2049, 64},  {3072, 64}, {3073, 48}};
  for (const auto& [stride, rows] : expected) {
    EXPECT_EQ(affineTile_rowsForStride(stride), rows) << stride;
    // The process tiles by it: a sampling whose tile steps are not whole pel steps gives the plain
    // arithmetic's pels for this tile edge.
    std::vector<uint8_t> pels(static_cast<size_t>(stride) * 40);
    tiledtest::fillSmooth(pels, stride - 3, 40, stride, 21);
    const kimg_window source = makeWindow(pels.data(), 1, stride - 3, 40, stride);
    const affineSampleParams params = makeParams(KIP_SAMPLE_BILINEAR, 3, 0.1371, false, 300, 20, 33, 30.5, kIdentity);
    const PlainTiled plain = plainSetup(source, kIdentity, params, rows);
    Destination<uint8_t> out(params.xCount, params.yCount);
    kimg_window window = out.window();
    ASSERT_EQ(affineProcess_tiled8(0, &source, &kIdentity, &window, &params, nullptr), 0);
    for (int32_t j = 0; j < params.yCount; ++j) {
      for (int32_t i = 0; i < params.xCount; ++i) ASSERT_EQ(out.at(i, j), plainValue(plain, source, i, j));
    }
  }
}

// Scale 1, no turn, a whole-pel shift: every sample falls on a pel centre (fractions 0, the one
// weight 32767), and both modes return the source's pels.
TEST(PelCentres, ReproduceTheSourceExactly) {
  Source<uint8_t> source(90, 70, 13, -4, 6);
  for (int v = 0; v < 256; ++v) source.pels[v] = static_cast<uint8_t>(v);  // every level
  for (uint32_t mode : {KIP_SAMPLE_NEAREST, KIP_SAMPLE_BILINEAR}) {
    affineSampleParams params{};
    params.affineRect = {-4 + 5, 6 + 2, 80, 0, 0, 60};  // source pels (5, 2) .. (84, 61)
    params.sampleMode = mode;
    params.xCount = 80;
    params.yCount = 60;
    Destination<uint8_t> out(80, 60);
    kimg_window window = out.window();
    ASSERT_EQ(affineProcess_optimized8(0, &source.window, &kIdentity, &window, &params, nullptr), 0);
    for (int32_t j = 0; j < 60; ++j) {
      for (int32_t i = 0; i < 80; ++i) ASSERT_EQ(out.at(i, j), source.pels[(j + 2) * 90 + i + 5]) << i << "," << j;
    }
  }
}

std::vector<const void*> tileDestinations;

int32_t recordingBilinear(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                          int32_t count, int32_t rows, const DirectSource<uint8_t>& source, void* destination,
                          int32_t destinationStride) {
  tileDestinations.push_back(destination);
  return affineTileBilinearScalar8(x, y, rowX, rowY, columnX, columnY, count, rows, source, destination,
                                   destinationStride);
}

// A map turned by 60 degrees moves a destination row mostly down the source, so whole
// destinations go down tile columns; 30 degrees, and any band, go along tile rows.
TEST(TileOrder, SteepMapsGoDownTileColumnsUnlessBanded) {
  Source<uint8_t> source(400, 400, 2);
  struct OrderCase {
    double degrees;
    int32_t bandOffset;
    bool columnMajor;
  };
  for (const OrderCase& c : {OrderCase{60, 0, true}, OrderCase{30, 0, false}, OrderCase{60, -224, false},
                             OrderCase{120, 0, true}, OrderCase{-60, 0, true}}) {
    const affineSampleParams params = makeParams(KIP_SAMPLE_BILINEAR, c.degrees, 0.5, false, 200, 200, 200, 250);
    Destination<uint8_t> out(params.xCount, params.yCount);
    kimg_window window = out.window();
    window.bandOffset = c.bandOffset;
    window.height -= -c.bandOffset;
    tileDestinations.clear();
    ASSERT_EQ(affineTile_bilinearStore8(0, &source.window, &kSourceXform, &window, &params, 224, recordingBilinear), 0);
    ASSERT_GE(tileDestinations.size(), 3u);
    const auto* first = static_cast<const uint8_t*>(tileDestinations[0]);
    const auto* second = static_cast<const uint8_t*>(tileDestinations[1]);
    EXPECT_EQ(second - first, c.columnMajor ? 224 * out.stride : 224) << c.degrees << " band " << c.bandOffset;
    EXPECT_EQ(first, out.pels.data() + static_cast<size_t>(-c.bandOffset) * out.stride);
  }
}

// ----------------------------------------------------------------------------------------------
// Bands: the threaded process cuts the destination at multiples of the tile edge; a band gives the
// whole run's pels on its rows and writes nothing else. Starts inside a tile row work too.

TEST(Bands, GiveTheWholeDestinationsPels) {
  Source<uint8_t> source(600, 500, 4);
  for (uint32_t mode : {KIP_SAMPLE_NEAREST, KIP_SAMPLE_BILINEAR}) {
    for (double degrees : {60.0, 200.0}) {
      const affineSampleParams params = makeParams(mode, degrees, 0.55, false, 300, 250, 220, 330);
      Destination<uint8_t> whole(params.xCount, params.yCount);
      kimg_window window = whole.window();
      ASSERT_EQ(affineProcess_optimized8(0, &source.window, &kSourceXform, &window, &params, nullptr), 0);
      for (int32_t bandHeight : {224, 100}) {
        for (int32_t first = 0; first < whole.height; first += bandHeight) {
          Destination<uint8_t> band(whole.width, whole.height);
          window = band.window();
          window.height = std::min(bandHeight, whole.height - first);
          window.bandOffset = -first;
          ASSERT_EQ(affineProcess_optimized8(0, &source.window, &kSourceXform, &window, &params, nullptr), 0);
          for (int32_t j = 0; j < whole.height; ++j) {
            const bool inBand = j >= first && j < first + window.height;
            for (int32_t i = 0; i < whole.stride; ++i) {
              ASSERT_EQ(band.at(i, j), inBand ? whole.at(i, j) : Destination<uint8_t>::kGuard)
                  << "mode " << mode << " band " << first << "+" << bandHeight << " at " << i << "," << j;
            }
          }
        }
      }
    }
  }
}

// ----------------------------------------------------------------------------------------------
// The optimized process's own decisions, and the projection process.

TEST(OptimizedProcess, DeclinesWhatItDoesNotServe) {
  std::vector<uint8_t> pels(8);
  Destination<uint8_t> out(4, 4);
  kimg_window window = out.window();
  const affineSampleParams params = makeParams(KIP_SAMPLE_BILINEAR, 30, 1, false, 2, 2, 3, 3, kIdentity);
  for (auto [stride, height] : {std::pair{32768, 1}, std::pair{4, 32768}}) {
    const kimg_window source = makeWindow(pels.data(), 1, 4, height, stride);
    EXPECT_EQ(affineProcess_optimized8(0, &source, &kIdentity, &window, &params, nullptr), KIP_ERR_NOT_AVAILABLE);
  }
  const kimg_window source = makeWindow(pels.data(), 1, 4, 2, 4);
  affineSampleParams other = params;
  other.sampleMode = 9;
  EXPECT_EQ(affineProcess_optimized8(0, &source, &kIdentity, &window, &other, nullptr), KIP_ERR_NOT_AVAILABLE);
  EXPECT_EQ(affineProcess_tiled8(0, &source, &kIdentity, &window, &other, nullptr), KIP_ERR_NOT_AVAILABLE);
  EXPECT_EQ(affineProcess_optimized16(0, &source, &kIdentity, &window, &params, nullptr), KIP_ERR_NOT_AVAILABLE);
}

TEST(OptimizedProcess, DriversRefuseBadInput) {
  Source<uint8_t> source(20, 20, 1);
  const affineSampleParams params = makeParams(KIP_SAMPLE_BILINEAR, 30, 1, false, 10, 10, 5, 5, kIdentity);
  Destination<uint8_t> out(5, 5);
  kimg_window window = out.window();
  const kmath_xformLinear* xform = &kIdentity;
  EXPECT_EQ(affineTile_bilinearStore8(0, nullptr, xform, &window, &params, 224), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(affineTile_bilinearStore8(0, &source.window, nullptr, &window, &params, 224), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(affineTile_bilinearStore8(1, &source.window, xform, &window, &params, 224), KIP_ERR_INTERNAL);
  EXPECT_EQ(affineTile_bilinearAccumulate8(0, &source.window, xform, &window, &params, 224), KIP_ERR_INTERNAL);
  EXPECT_EQ(affineTile_bilinearAccumulate8(1, &source.window, xform, &window, &params, 224), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(affineTile_bilinearStore8(0, &source.window, xform, &window, &params, 0), KIP_ERR_BAD_SIZE);
  affineSampleParams empty = params;
  empty.yCount = 0;
  EXPECT_EQ(affineTile_bilinearStore8(0, &source.window, xform, &window, &empty, 224), KIP_ERR_NO_SAMPLES);
  std::vector<uint32_t> narrow(4);
  const kimg_window vector = makeWindow(narrow.data(), 4, 4, 1, 4);
  EXPECT_EQ(affineTile_bilinearAccumulate8(1, &source.window, xform, &vector, &params, 224), KIP_ERR_DEST_TOO_SMALL);
  window.bandOffset = 5;
  EXPECT_EQ(affineTile_bilinearStore8(0, &source.window, xform, &window, &params, 224), KIP_ERR_BAD_SIZE);
  EXPECT_TRUE(std::all_of(out.pels.begin(), out.pels.end(), [](uint8_t p) { return p == 0xA5; }));
}

// The projection clears the vector first and then adds every row; the hook is asked once, and
// when it forbids the optimized process the portable one gives the sums.
TEST(ProjectProcess, ClearsThenSumsEveryRow) {
  Source<uint8_t> source(260, 240, 8);
  for (uint32_t mode : {KIP_SAMPLE_NEAREST, KIP_SAMPLE_BILINEAR, KIP_SAMPLE_LINEAR2}) {
    const affineSampleParams params = makeParams(mode, 75, 0.8, true, 130, 120, 150, 120);
    affineSampleCache cache{};
    ASSERT_EQ(affineSampleCache_initTemporary(&cache), 0);
    std::vector<uint32_t> expected(params.xCount + 1, 0xDEAD), portable(params.xCount + 1, 0);
    const kimg_window portableVector = makeWindow(portable.data(), 4, params.xCount, 1, params.xCount);
    ASSERT_EQ(affineSampleCache_refresh(&cache, &source.window, &kSourceXform, &portableVector, &params, 1), 0);
    ASSERT_EQ(affineProcess_portable8(1, &source.window, &kSourceXform, &portableVector, &params, &cache), 0);
    if (mode == KIP_SAMPLE_BILINEAR) {  // the tiled driver's own arithmetic: the column sums of its pels
      Destination<uint8_t> out(params.xCount, params.yCount);
      kimg_window window = out.window();
      ASSERT_EQ(affineProcess_optimized8(0, &source.window, &kSourceXform, &window, &params, &cache), 0);
      for (int32_t i = 0; i < params.xCount; ++i) {
        expected[i] = 0;
        for (int32_t j = 0; j < params.yCount; ++j) expected[i] += out.at(i, j);
      }
    } else {
      std::copy(portable.begin(), portable.end() - 1, expected.begin());
    }
    for (bool forbid : {false, true}) {
      ScopedHook hook(forbid ? std::initializer_list<std::string>{kHookAffineProcess}
                             : std::initializer_list<std::string>{});
      std::vector<uint32_t> sums(params.xCount + 1, 0xDEAD);
      const kimg_window vector = makeWindow(sums.data(), 4, params.xCount, 1, params.xCount);
      ASSERT_EQ(affineProcess_project8(&source.window, &kSourceXform, &vector, &params, &cache), 0);
      EXPECT_EQ(ScopedHook::askedCount(kHookAffineProcess), 1);
      EXPECT_EQ(sums.back(), 0xDEADu);
      sums.pop_back();
      const std::vector<uint32_t>& want = forbid ? portable : expected;
      EXPECT_EQ(sums, std::vector<uint32_t>(want.begin(), want.end() - 1)) << "mode " << mode << " forbid " << forbid;
    }
    affineSampleCache_releaseTemporary(&cache);
  }
}

// A status the portable process returns passes through; a declined one never leaves.
TEST(ProjectProcess, PassesOnThePortableFailure) {
  Source<uint8_t> source(30, 30, 8);
  affineSampleParams params = makeParams(KIP_SAMPLE_BILINEAR, 10, 1, false, 15, 15, 10, 10, kIdentity);
  params.sampleMode = 9;
  affineSampleCache cache{};
  ASSERT_EQ(affineSampleCache_initTemporary(&cache), 0);
  std::vector<uint32_t> sums(params.xCount, 5);
  const kimg_window vector = makeWindow(sums.data(), 4, params.xCount, 1, params.xCount);
  const int32_t status = affineProcess_project8(&source.window, &kIdentity, &vector, &params, &cache);
  EXPECT_LT(status, 0);
  EXPECT_FALSE(isDeclined(status));
  EXPECT_EQ(affineProcess_project8(&source.window, &kIdentity, nullptr, &params, &cache), KIP_ERR_NULL_POINTER);
  affineSampleCache_releaseTemporary(&cache);
}

}  // namespace
