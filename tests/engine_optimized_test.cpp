// The optimized 8-bit process: the tiled bilinear driver against its own arithmetic written out
// plainly here, nearest neighbour against the portable process, every Highway target against the
// scalar kernels, tile order, refusals and the projection process.
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
#include "engine_support.hpp"
#include "frame/optimization_hook.hpp"
#include "platform/math.hpp"
#include "support/support.hpp"

namespace {

using namespace enginetest;
using kiptest::ScopedHook;

// ----------------------------------------------------------------------------------------------
// The tiled bilinear arithmetic, pel by pel: destination pel (c, r) lies in tile (c / T, r / T) and
// its position is the start plus whole tile steps plus the pel steps within the tile.

struct PlainTiled {
  uint32_t x0, y0, rowX, rowY, columnX, columnY, tileRowX, tileRowY, tileColumnX, tileColumnY;
  uint32_t tile;
};

uint32_t saturated(double d) {
  return d > 32767 ? 0x7FFFFFFFu : d < -32767 ? 0x80000001u : static_cast<uint32_t>(static_cast<int32_t>(d * 65536));
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
    q[k].x -= source.xOrigin, q[k].y -= source.yOrigin;
  }
  const double row[2] = {q[1].x - q[0].x, q[1].y - q[0].y}, column[2] = {q[2].x - q[0].x, q[2].y - q[0].y};
  return {static_cast<uint32_t>(static_cast<int64_t>(q[0].x * 65536 + 0.5)) - 32768,
          static_cast<uint32_t>(static_cast<int64_t>(q[0].y * 65536 + 0.5)) - 32768,
          saturated(row[0]), saturated(row[1]), saturated(column[0]), saturated(column[1]),
          tileStep(tile * row[0]), tileStep(tile * row[1]), tileStep(tile * column[0]), tileStep(tile * column[1]),
          static_cast<uint32_t>(tile)};
}

uint32_t plainValue(const PlainTiled& t, const kimg_window& source, uint32_t c, uint32_t r) {
  const uint32_t tc = c / t.tile, tr = r / t.tile, ic = c % t.tile, ir = r % t.tile;
  const uint32_t x = t.x0 + tr * t.tileRowX + tc * t.tileColumnX + ir * t.rowX + ic * t.columnX;
  const uint32_t y = t.y0 + tr * t.tileRowY + tc * t.tileColumnY + ir * t.rowY + ic * t.columnY;
  const int32_t ix = static_cast<int16_t>(x >> 16), iy = static_cast<int16_t>(y >> 16);
  const uint32_t fx = x & 0xFFFF, fy = y & 0xFFFF, gx = 65535 - fx, gy = 65535 - fy;
  const auto pel = [&](int32_t i, int32_t j) -> uint32_t {
    i = std::clamp(i, 0, source.width - 1), j = std::clamp(j, 0, source.height - 1);
    return static_cast<const uint8_t*>(source.firstPel)[static_cast<size_t>(j) * source.stride + i];
  };
  const uint32_t sum = ((gx * gy) >> 17) * pel(ix, iy) + ((fx * gy) >> 17) * pel(ix + 1, iy) +
                       ((gx * fy) >> 17) * pel(ix, iy + 1) + ((fx * fy) >> 17) * pel(ix + 1, iy + 1);
  return static_cast<uint32_t>(static_cast<int32_t>(2 * sum + 32768) >> 16);
}

struct Shape {
  double degrees, pitch;
  bool mirrored;
  double cx, cy, lengthX, lengthY;
  affineSampleParams params(uint32_t mode, const kmath_xformLinear& xform = kSourceXform) const {
    return makeParams(mode, degrees, pitch, mirrored, cx, cy, lengthX, lengthY, xform);
  }
};

std::vector<Shape> randomShapes(int n, double width, double height, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<Shape> out;
  for (int k = 0; k < n; ++k) {
    const double pitch = 0.2 + 3.0 * u(random) * u(random);
    const double lengthX = pitch * (1 + 260 * u(random)), lengthY = pitch * (1 + 260 * u(random));
    out.push_back({360 * u(random), pitch, u(random) < 0.3, width * (0.3 + 0.4 * u(random)),
                   height * (0.3 + 0.4 * u(random)), lengthX, lengthY});
  }
  return out;
}

// Mode 1 through the optimized process, stored and accumulated, against the plain arithmetic with
// the tile edge the stride calls for (strides on either side of each step). Geometries include
// samplings that leave the source (clamped), long rows, steps saturated beyond 32767 pels and tile
// steps of 0.
struct BilinearCase {
  int32_t width, height, tile, shapes;
  bool extreme;
};

class TiledBilinear : public ::testing::TestWithParam<BilinearCase> {};

TEST_P(TiledBilinear, MatchesItsOwnArithmetic) {
  const BilinearCase& c = GetParam();
  const Source<uint8_t> source(c.width, c.height, 7, -11, 5);
  std::vector<Shape> shapes = randomShapes(c.shapes, c.width, c.height, c.width);
  if (c.extreme) {
    shapes.insert(shapes.end(), {{17, 0.02, false, 40, 30, 30, 0.1},             // 1500 columns: long rows
                                 {200, 0.04, true, 40, 30, 0.2, 45},              // 1125 rows
                                 {0, 35000, false, 40, 30, 70000, 35000 * 3},     // saturated steps
                                 {90, 200, false, 40, 30, 200 * 300, 400},        // tile steps of 0
                                 {33, 2.5, false, -80, 500, 300, 200},            // mostly outside
                                 {3, 0.1371, false, 300, 20, 33, 30.5}});         // tile steps not whole pel steps
  }
  for (const Shape& g : shapes) {
    const affineSampleParams params = g.params(KIP_SAMPLE_BILINEAR);
    const PlainTiled plain = plainSetup(source.window, kSourceXform, params, c.tile);
    Destination<uint8_t> out(params.xCount, params.yCount);
    const kimg_window window = out.window();
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
                         ::testing::Values(BilinearCase{3, 2, 224, 12, false}, BilinearCase{1024, 260, 224, 24, true}, BilinearCase{1025, 90, 96, 6, true},
                                           BilinearCase{2048, 70, 96, 4, false}, BilinearCase{2049, 70, 64, 4, false},
                                           BilinearCase{3072, 60, 64, 4, false}, BilinearCase{3073, 60, 48, 6, true}),
                         [](const auto& info) { return "stride" + std::to_string(info.param.width); });

// Scale 1, no turn, a whole-pel shift: every sample falls on a pel centre (fractions 0, the one
// weight 32767), and both modes return the source's pels.
TEST(PelCentres, ReproduceTheSourceExactly) {
  Source<uint8_t> source(90, 70, 13, -4, 6);
  for (int v = 0; v < 256; ++v) source.pels[v] = static_cast<uint8_t>(v);  // every level
  for (uint32_t mode : {KIP_SAMPLE_NEAREST, KIP_SAMPLE_BILINEAR}) {
    const affineSampleParams params{{-4 + 5, 6 + 2, 80, 0, 0, 60}, mode, 80, 60};  // source pels (5, 2) .. (84, 61)
    Destination<uint8_t> out(80, 60);
    const kimg_window window = out.window();
    ASSERT_EQ(affineProcess_optimized8(0, &source.window, &kIdentity, &window, &params, nullptr), 0);
    for (int32_t j = 0; j < 60; ++j) {
      for (int32_t i = 0; i < 80; ++i) ASSERT_EQ(out.at(i, j), source.at(i + 5, j + 2)) << i << "," << j;
    }
  }
}

// Nearest neighbour takes the portable tile loop with its own tile edge and the vector kernel. Up
// to 1024 samples along both sides every tile step is a whole number of 16.16 pel steps, so the
// portable process (tiles of 64) gives the same pels; longer samplings take tile steps from doubles
// and must give the scalar kernel's pels through the same tile edge.
TEST(TiledNearest, MatchesPortableOrTheScalarKernel) {
  for (auto [width, height, tile] :
       {std::tuple{5, 3, 224}, std::tuple{257, 190, 224}, std::tuple{1500, 80, 96}, std::tuple{3200, 50, 48}}) {
    const Source<uint8_t> source(width, height, 3, 4, -9);
    std::vector<Shape> shapes = randomShapes(20, width, height, 100 + width);
    shapes.insert(shapes.end(), {{0, 1.0, false, width / 2.0, height / 2.0, width - 0.0, height - 0.0},  // clip limits
                                 {180, 1.0, true, width / 2.0, height / 2.0, width - 0.0, height - 0.0},
                                 {17, 0.05, false, width / 2.0, 25, 100, 4},
                                 {250, 0.08, true, width / 2.0, 25, 3, 95}});
    for (const Shape& g : shapes) {
      const affineSampleParams params = g.params(KIP_SAMPLE_NEAREST);
      const bool longSampling = std::max(params.xCount, params.yCount) > 1024;
      for (uint32_t accumulate : {0u, 1u}) {
        const int32_t rows = accumulate ? 1 : params.yCount, pelSize = accumulate ? 4 : 1;
        std::vector<uint32_t> slow(size_t(params.xCount) * rows + 1, 3);
        const kimg_window slowWindow = makeWindow(slow.data(), pelSize, params.xCount, rows, params.xCount);
        ASSERT_EQ(longSampling ? affineTile_loop8(accumulate, &source.window, &kSourceXform, &slowWindow, &params, tile,
                                                  accumulate ? affineRowNearestAcc8 : affineRowNearest8)
                               : affineProcess_portable8(accumulate, &source.window, &kSourceXform, &slowWindow,
                                                         &params, nullptr),
                  0);
        std::vector<uint32_t> fast(slow.size(), 3);
        const kimg_window fastWindow = makeWindow(fast.data(), pelSize, params.xCount, rows, params.xCount);
        ASSERT_EQ(affineProcess_optimized8(accumulate, &source.window, &kSourceXform, &fastWindow, &params, nullptr), 0);
        ASSERT_EQ(fast, slow) << "degrees " << g.degrees << " pitch " << g.pitch << " accumulate " << accumulate;
      }
    }
  }
}

// ----------------------------------------------------------------------------------------------
// Every Highway target, scalar included, against the scalar kernels: random tiles starting inside
// and outside tiny and ordinary sources, with every step sign, saturated steps and row lengths
// around the lane counts; and short steps on small sources, so that the kernels' choice between
// the unclamped and the clamped form is tried at every edge. Sources are exact-size buffers: a
// gather past the last pel shows under AddressSanitizer.

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

void compareKernels(uint32_t seed, const char* target, bool nearEdges) {
  std::mt19937 random(seed);
  const auto uniform = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(random); };
  const std::vector<std::tuple<int32_t, int32_t, int32_t>> sizes =
      nearEdges ? std::vector<std::tuple<int32_t, int32_t, int32_t>>{{2, 3, 0}, {3, 2, 0}, {6, 5, 0}, {19, 7, 0}}
                : std::vector<std::tuple<int32_t, int32_t, int32_t>>{
                      {1, 1, 0}, {3, 1, 0}, {4, 1, 0}, {1, 4, 0}, {2, 2, 0}, {5, 3, 0}, {37, 29, 0}, {64, 64, 0}, {80, 40, 7}};
  const int32_t steps[] = {0, 0x10000, -0x10000, 0x7FFFFFFF, -0x7FFFFFFF, 0x8000, 0x2A3B1, -0x1F00D};
  const int32_t counts[] = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33, 48, 63, 64, 65, 224};
  for (const auto& [width, height, xBase] : sizes) {
    std::vector<uint8_t> pels(static_cast<size_t>(width) * height);
    for (auto& p : pels) p = static_cast<uint8_t>(random());
    const DirectSource<uint8_t> source{pels.data(), width, width, height, xBase, 0};
    for (int trial = 0; trial < (nearEdges ? 400 : 40); ++trial) {
      const int32_t margin = nearEdges ? 0 : 3 * 0x10000;
      const int32_t x = uniform(-margin - (nearEdges ? 0x10000 : 0), width * 0x10000 + margin);
      const int32_t y = uniform(-margin - (nearEdges ? 0x10000 : 0), height * 0x10000 + margin);
      const auto step = [&](int32_t range) { return !nearEdges && trial % 3 == 0 ? steps[uniform(0, 7)] : uniform(-range, range); };
      const int32_t rowX = step(nearEdges ? 0x800 : 0x30000), rowY = step(nearEdges ? 0x800 : 0x30000);
      const int32_t columnX = step(nearEdges ? 0x400 : 0x30000), columnY = step(nearEdges ? 0x400 : 0x30000);
      const int32_t count = nearEdges ? uniform(1, 40) : counts[uniform(0, 17)], rows = uniform(1, nearEdges ? 3 : 4);
      for (const KernelPair& pair : kKernelPairs) {
        // Store kernels write bytes, row stride `stride` bytes; accumulate kernels one row of entries.
        const int32_t stride = count + 5;
        std::vector<uint32_t> fast(static_cast<size_t>(stride) * rows);
        for (auto& v : fast) v = pair.accumulate ? random() : 0xA5A5A5A5u;
        std::vector<uint32_t> scalar = fast;
        ASSERT_EQ(pair.vector(x, y, rowX, rowY, columnX, columnY, count, rows, source, fast.data(), stride), 0);
        ASSERT_EQ(pair.scalar(x, y, rowX, rowY, columnX, columnY, count, rows, source, scalar.data(), stride), 0);
        ASSERT_EQ(fast, scalar) << pair.name << " on " << target << " source " << width << "x" << height << " count "
                                << count << " at " << x << "," << y << " steps " << rowX << "," << rowY << ","
                                << columnX << "," << columnY;
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
    compareKernels(static_cast<uint32_t>(target % 1000003), names.back().c_str(), false);
    compareKernels(99, names.back().c_str(), true);
    compareKernelsOnRowPairs(hwy::TargetName(target));
    compareKernelsOnTurnedTiles(hwy::TargetName(target));
  }
  hwy::SetSupportedTargetsForTest(0);
  EXPECT_GE(names.size(), 2u) << "only one target compiled";
  EXPECT_NE(std::find(names.begin(), names.end(), std::string("SCALAR")), names.end());
}

// ----------------------------------------------------------------------------------------------
// Tile order, refusals, the projection process.

std::vector<const void*> tileDestinations;

int32_t recordingBilinear(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                          int32_t count, int32_t rows, const DirectSource<uint8_t>& source, void* destination,
                          int32_t destinationStride) {
  tileDestinations.push_back(destination);
  return affineTileBilinearScalar8(x, y, rowX, rowY, columnX, columnY, count, rows, source, destination,
                                   destinationStride);
}

// A map turned by 60 degrees moves a destination row mostly down the source, so whole destinations
// go down tile columns; 30 degrees, and any band, go along tile rows.
TEST(TileOrder, SteepMapsGoDownTileColumnsUnlessBanded) {
  const Source<uint8_t> source(400, 400, 2);
  for (auto [degrees, bandOffset, columnMajor] : {std::tuple{60, 0, true}, std::tuple{30, 0, false},
                                                  std::tuple{60, -224, false}, std::tuple{120, 0, true},
                                                  std::tuple{-60, 0, true}}) {
    const affineSampleParams params = makeParams(KIP_SAMPLE_BILINEAR, degrees, 0.5, false, 200, 200, 200, 250);
    Destination<uint8_t> out(params.xCount, params.yCount);
    kimg_window window = out.window();
    window.bandOffset = bandOffset;
    window.height += bandOffset;
    tileDestinations.clear();
    ASSERT_EQ(affineTile_bilinearStore8(0, &source.window, &kSourceXform, &window, &params, 224, recordingBilinear), 0);
    ASSERT_GE(tileDestinations.size(), 3u);
    const auto* first = static_cast<const uint8_t*>(tileDestinations[0]);
    EXPECT_EQ(static_cast<const uint8_t*>(tileDestinations[1]) - first, columnMajor ? 224 * out.stride : 224)
        << degrees << " band " << bandOffset;
    EXPECT_EQ(first, out.pels.data() + static_cast<size_t>(-bandOffset) * out.stride);
  }
}

TEST(OptimizedProcess, DeclinesWhatItDoesNotServe) {
  std::vector<uint8_t> pels(8);
  Destination<uint8_t> out(4, 4);
  const kimg_window window = out.window();
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
  const Source<uint8_t> source(20, 20, 1);
  const affineSampleParams params = makeParams(KIP_SAMPLE_BILINEAR, 30, 1, false, 10, 10, 5, 5, kIdentity);
  affineSampleParams empty = params;
  empty.yCount = 0;
  Destination<uint8_t> out(5, 5);
  kimg_window window = out.window();
  std::vector<uint32_t> narrow(4);
  const kimg_window vector = makeWindow(narrow.data(), 4, 4, 1, 4);
  const kimg_window* s = &source.window;
  const kmath_xformLinear* xform = &kIdentity;
  EXPECT_EQ(affineTile_bilinearStore8(0, nullptr, xform, &window, &params, 224), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(affineTile_bilinearStore8(0, s, nullptr, &window, &params, 224), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(affineTile_bilinearStore8(1, s, xform, &window, &params, 224), KIP_ERR_INTERNAL);
  EXPECT_EQ(affineTile_bilinearAccumulate8(0, s, xform, &window, &params, 224), KIP_ERR_INTERNAL);
  EXPECT_EQ(affineTile_bilinearAccumulate8(1, s, xform, &window, &params, 224), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(affineTile_bilinearStore8(0, s, xform, &window, &params, 0), KIP_ERR_BAD_SIZE);
  EXPECT_EQ(affineTile_bilinearStore8(0, s, xform, &window, &empty, 224), KIP_ERR_NO_SAMPLES);
  EXPECT_EQ(affineTile_bilinearAccumulate8(1, s, xform, &vector, &params, 224), KIP_ERR_DEST_TOO_SMALL);
  window.bandOffset = 5;
  EXPECT_EQ(affineTile_bilinearStore8(0, s, xform, &window, &params, 224), KIP_ERR_BAD_SIZE);
  EXPECT_TRUE(std::all_of(out.pels.begin(), out.pels.end(), [](uint8_t p) { return p == 0xA5; }));
}

// The projection clears the vector first and then adds every row; the hook is asked once, and when
// it forbids the optimized process the portable one gives the sums. A failure of the portable
// process passes through, never as a declined status.
TEST(ProjectProcess, ClearsThenSumsEveryRow) {
  const Source<uint8_t> source(260, 240, 8);
  for (uint32_t mode : {KIP_SAMPLE_NEAREST, KIP_SAMPLE_BILINEAR, KIP_SAMPLE_LINEAR2}) {
    const affineSampleParams params = makeParams(mode, 75, 0.8, true, 130, 120, 150, 120);
    TempCache cache;
    std::vector<uint32_t> portable(params.xCount, 0), optimized(params.xCount, 0);
    const kimg_window vector = makeWindow(portable.data(), 4, params.xCount, 1, params.xCount);
    ASSERT_EQ(affineSampleCache_refresh(cache.get(), &source.window, &kSourceXform, &vector, &params, 1), 0);
    ASSERT_EQ(affineProcess_portable8(1, &source.window, &kSourceXform, &vector, &params, cache.get()), 0);
    optimized = portable;
    if (mode == KIP_SAMPLE_BILINEAR) {  // the tiled driver's own arithmetic: the column sums of its pels
      Destination<uint8_t> out(params.xCount, params.yCount);
      const kimg_window window = out.window();
      ASSERT_EQ(affineProcess_optimized8(0, &source.window, &kSourceXform, &window, &params, cache.get()), 0);
      for (int32_t i = 0; i < params.xCount; ++i) {
        optimized[i] = 0;
        for (int32_t j = 0; j < params.yCount; ++j) optimized[i] += out.at(i, j);
      }
    }
    for (bool forbid : {false, true}) {
      ScopedHook hook(forbid ? std::initializer_list<std::string>{kHookAffineProcess}
                             : std::initializer_list<std::string>{});
      std::vector<uint32_t> sums(params.xCount + 1, 0xDEAD);
      const kimg_window sumsWindow = makeWindow(sums.data(), 4, params.xCount, 1, params.xCount);
      ASSERT_EQ(affineProcess_project8(&source.window, &kSourceXform, &sumsWindow, &params, cache.get()), 0);
      EXPECT_EQ(ScopedHook::askedCount(kHookAffineProcess), 1);
      EXPECT_EQ(sums.back(), 0xDEADu);
      sums.pop_back();
      EXPECT_EQ(sums, forbid ? portable : optimized) << "mode " << mode << " forbid " << forbid;
    }
    affineSampleParams bad = params;
    bad.sampleMode = 9;
    const int32_t status = affineProcess_project8(&source.window, &kSourceXform, &vector, &bad, cache.get());
    EXPECT_LT(status, 0);
    EXPECT_FALSE(isDeclined(status));
    EXPECT_EQ(affineProcess_project8(&source.window, &kSourceXform, nullptr, &params, cache.get()), KIP_ERR_NULL_POINTER);
  }
}

}  // namespace
