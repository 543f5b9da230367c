// The optimized 8-bit process: the tiled bilinear driver against its own arithmetic written out
// plainly here, nearest neighbour against the portable process, every Highway target against the
// scalar kernels, refusals and the projection process.
#include <tuple>

#include "engine/bilinear_tile.hpp"
#include "engine/bilinear_tile_kernels.hpp"
#include "engine/nearest_tile_simd.hpp"
#include "engine/optimized_process.hpp"
#include "engine/portable_process.hpp"
#include "engine/tile_loops.hpp"
#include "engine_support.hpp"
#include "frame/optimization_hook.hpp"
#include "platform/math.hpp"

namespace {

using namespace enginetest;
using kiptest::ScopedHook;

// ----------------------------------------------------------------------------------------------
// The tiled bilinear arithmetic, pel by pel: destination pel (c, r) lies in tile (c / T, r / T) and
// its position is the start plus whole tile steps plus the pel steps within the tile. Pel steps
// beyond 32767 pels saturate; tile steps beyond 32767 pels are 0.

struct PlainTiled {
  uint32_t x0, y0, rowX, rowY, columnX, columnY, tileRowX, tileRowY, tileColumnX, tileColumnY, tile;
};

PlainTiled plainSetup(const kimg_window& source, const kmath_xformLinear& xform, const affineSampleParams& p, int32_t tile) {
  kmath_xformLinear scale{}, rectFromDestination{}, map{};
  kmath_xformLinear_initMatrixTransElements(&scale, 1.0 / p.xCount, 0, 0, 1.0 / p.yCount, 0, 0);
  const kmath_shapeAffineRect& r = p.affineRect;
  const kmath_xformLinear rect{r.tx, r.ty, r.e0, r.e1, r.e2, r.e3};
  kmath_xformLinear_initCompose(&rectFromDestination, &rect, &scale);
  kmath_xformLinear_initCompose(&map, &xform, &rectFromDestination);
  kmath_vect q[3];
  const kmath_vect in[3] = {{0.5, 0.5}, {0.5, 1.5}, {1.5, 0.5}};
  for (int k = 0; k < 3; ++k) kmath_xformLinear_mapPoint(&map, &in[k], &q[k]), q[k].x -= source.xOrigin, q[k].y -= source.yOrigin;
  const auto step = [](double d) { return d > 32767 ? 0x7FFFFFFFu : d < -32767 ? 0x80000001u : static_cast<uint32_t>(static_cast<int32_t>(d * 65536)); };
  const auto tileStep = [](double t) { return t > -32768 && t < 32768 ? static_cast<uint32_t>(static_cast<int32_t>(t * 65536)) : 0u; };
  const double row[2] = {q[1].x - q[0].x, q[1].y - q[0].y}, column[2] = {q[2].x - q[0].x, q[2].y - q[0].y};
  return {static_cast<uint32_t>(static_cast<int64_t>(q[0].x * 65536 + 0.5)) - 32768,
          static_cast<uint32_t>(static_cast<int64_t>(q[0].y * 65536 + 0.5)) - 32768,
          step(row[0]), step(row[1]), step(column[0]), step(column[1]),
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

// n samplings of pitch 0.2 to 3.2 pels, up to 261 samples a side, anywhere in the middle of the source.
std::vector<affineSampleParams> randomShapes(uint32_t mode, int n, double width, double height, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::vector<affineSampleParams> out;
  for (int k = 0; k < n; ++k) {
    const double pitch = 0.2 + 3.0 * u(random) * u(random), lengthX = pitch * (1 + 260 * u(random)), lengthY = pitch * (1 + 260 * u(random));
    const double degrees = 360 * u(random), cx = width * (0.3 + 0.4 * u(random)), cy = height * (0.3 + 0.4 * u(random));
    out.push_back(makeParams(mode, degrees, pitch, u(random) < 0.3, cx, cy, lengthX, lengthY));
  }
  return out;
}

// Mode 1 through the optimized process, stored and accumulated, against the plain arithmetic with
// the tile edge the stride calls for (strides on either side of each step). Geometries include
// samplings that leave the source (clamped), long rows, steps saturated beyond 32767 pels and tile
// steps of 0.
class TiledBilinear : public ::testing::TestWithParam<std::tuple<int32_t, int32_t, int32_t, bool>> {};

TEST_P(TiledBilinear, MatchesItsOwnArithmetic) {
  const auto [width, height, tile, extreme] = GetParam();
  const Source<uint8_t> source(width, height, 7, -11, 5);
  std::vector<affineSampleParams> shapes = randomShapes(KIP_SAMPLE_BILINEAR, 8, width, height, width);
  // 1500 columns (long rows), 1125 rows, saturated steps, tile steps of 0, mostly outside.
  if (extreme) {
    shapes.insert(shapes.end(), {makeParams(1, 17, 0.02, false, 40, 30, 30, 0.1), makeParams(1, 200, 0.04, true, 40, 30, 0.2, 45),
                                 makeParams(1, 0, 35000, false, 40, 30, 70000, 105000), makeParams(1, 90, 200, false, 40, 30, 60000, 400),
                                 makeParams(1, 33, 2.5, false, -80, 500, 300, 200)});
  }
  for (const affineSampleParams& params : shapes) {
    const PlainTiled plain = plainSetup(source.window, kSourceXform, params, tile);
    Destination<uint8_t> out(params.xCount, params.yCount);
    const kimg_window window = out.window();
    ASSERT_EQ(affineProcess_optimized8(0, &source.window, &kSourceXform, &window, &params, nullptr), 0);
    std::vector<uint32_t> sums(params.xCount + 1, 77);
    const kimg_window vector = makeWindow(sums.data(), 4, params.xCount, 1, params.xCount);
    ASSERT_EQ(affineProcess_optimized8(1, &source.window, &kSourceXform, &vector, &params, nullptr), 0);
    std::vector<uint32_t> columns(params.xCount + 1, 77);  // the last entry must stay as it was
    for (int32_t k = 0; k < params.xCount * params.yCount; ++k) {
      const int32_t i = k % params.xCount, j = k / params.xCount;
      columns[i] += plainValue(plain, source.window, i, j);
      ASSERT_EQ(out.at(i, j), plainValue(plain, source.window, i, j)) << params.xCount << "x" << params.yCount << " at " << i << "," << j;
    }
    EXPECT_EQ(sums, columns);
  }
}

INSTANTIATE_TEST_SUITE_P(Optimized, TiledBilinear,
                         ::testing::Values(std::tuple{3, 2, 224, false}, std::tuple{1024, 260, 224, true}, std::tuple{1025, 90, 96, true},
                                           std::tuple{2049, 70, 64, false}, std::tuple{3073, 60, 48, true}));

// Nearest neighbour takes the portable tile loop with its own tile edge and the vector kernel. Up
// to 1024 samples along both sides every tile step is a whole number of 16.16 pel steps, so the
// portable process (tiles of 64) gives the same pels; longer samplings take tile steps from doubles
// and must give the scalar kernel's pels through the same tile edge.
TEST(TiledNearest, MatchesPortableOrTheScalarKernel) {
  for (auto [width, height, tile] : {std::tuple{5, 3, 224}, std::tuple{257, 190, 224}, std::tuple{3200, 50, 48}}) {
    const Source<uint8_t> source(width, height, 3, 4, -9);
    std::vector<affineSampleParams> shapes = randomShapes(KIP_SAMPLE_NEAREST, 20, width, height, 100 + width);
    shapes.push_back(makeParams(KIP_SAMPLE_NEAREST, 180, 1.0, true, width / 2.0, height / 2.0, width, height));  // clip limits
    shapes.push_back(makeParams(KIP_SAMPLE_NEAREST, 17, 0.05, false, width / 2.0, 25, 100, 4));
    for (const affineSampleParams& params : shapes) {
      for (uint32_t accumulate : {0u, 1u}) {
        const int32_t rows = accumulate ? 1 : params.yCount;
        std::vector<uint32_t> slow(size_t(params.xCount) * rows + 1, 3), fast = slow;
        const kimg_window slowWindow = makeWindow(slow.data(), accumulate ? 4 : 1, params.xCount, rows, params.xCount);
        const kimg_window fastWindow = makeWindow(fast.data(), accumulate ? 4 : 1, params.xCount, rows, params.xCount);
        ASSERT_EQ(std::max(params.xCount, params.yCount) > 1024
                      ? affineTile_loop8(accumulate, &source.window, &kSourceXform, &slowWindow, &params, tile, accumulate ? affineRowNearestAcc8 : affineRowNearest8)
                      : affineProcess_portable8(accumulate, &source.window, &kSourceXform, &slowWindow, &params, nullptr), 0);
        ASSERT_EQ(affineProcess_optimized8(accumulate, &source.window, &kSourceXform, &fastWindow, &params, nullptr), 0);
        ASSERT_EQ(fast, slow) << params.xCount << "x" << params.yCount << " accumulate " << accumulate;
      }
    }
  }
}

// ----------------------------------------------------------------------------------------------
// Every Highway target, scalar included, against the scalar kernels.

struct KernelPair {
  DirectKernel<uint8_t> vector, scalar;
  bool accumulate, bilinear;
};

const KernelPair kKernelPairs[] = {{affineTileBilinearSimd8, affineTileBilinearScalar8, false, true},
                                   {affineTileBilinearSimdAcc8, affineTileBilinearScalarAcc8, true, true},
                                   {affineRowNearestSimd8, affineRowNearest8, false, false},
                                   {affineRowNearestSimdAcc8, affineRowNearestAcc8, true, false}};

// One tile through each pair (bilinear only when asked): the same pels or sums, row stride count +
// 5 (accumulate kernels: one row of random entries).
void comparePairs(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY, int32_t count,
                  int32_t rows, const DirectSource<uint8_t>& source, bool bilinearOnly, std::mt19937& random) {
  for (const KernelPair& pair : kKernelPairs) {
    if (bilinearOnly && !pair.bilinear) continue;
    std::vector<uint32_t> fast(static_cast<size_t>(count + 5) * rows);
    for (auto& v : fast) v = pair.accumulate ? random() : 0xA5A5A5A5u;
    std::vector<uint32_t> scalar = fast;
    ASSERT_EQ(pair.vector(x, y, rowX, rowY, columnX, columnY, count, rows, source, fast.data(), count + 5), 0);
    ASSERT_EQ(pair.scalar(x, y, rowX, rowY, columnX, columnY, count, rows, source, scalar.data(), count + 5), 0);
    ASSERT_EQ(fast, scalar) << "pair " << (&pair - kKernelPairs) << " source " << source.width << "x" << source.height << " tile " << count << "x" << rows << " at " << x << "," << y;
  }
}

// Random tiles starting inside and outside tiny and ordinary sources (exact-size buffers: a gather
// past the last pel shows under AddressSanitizer), with every step sign, saturated steps and row
// lengths around the lane counts, and short steps so that the kernels' choice between the
// unclamped and the clamped form is tried at every edge. Then turned tiles inside a window
// narrower than its stride, which the vector kernels sample from a copy of the rectangle they
// read: every angle, scales either side of 1, copies split into blocks of rows (224 x 224), copies
// that end on the window's last column.
TEST(SimdTargets, EveryTargetMatchesTheScalarKernels) {
  for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
    ForcedTarget forced(target);
    ASSERT_STREQ(bilinearTileSimdTargetName(), hwy::TargetName(target));
    ASSERT_STREQ(nearestTileSimdTargetName(), hwy::TargetName(target));
    std::mt19937 random(99);
    const auto uniform = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(random); };
    const int32_t steps[] = {0, 0x10000, -0x10000, 0x7FFFFFFF, -0x7FFFFFFF, 0x8000, 0x2A3B1, -0x1F00D};
    const int32_t counts[] = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33, 48, 63, 64, 65, 224};
    for (auto [width, height, xBase] : {std::tuple{1, 1, 0}, {3, 1, 0}, {1, 4, 0}, {2, 3, 0}, {6, 5, 0}, {37, 29, 0}, {64, 64, 0}, {80, 40, 7}}) {
      std::vector<uint8_t> pels(static_cast<size_t>(width) * height);
      for (auto& p : pels) p = static_cast<uint8_t>(random());
      const DirectSource<uint8_t> source{pels.data(), width, width, height, xBase, 0};
      for (int trial = 0; trial < 150; ++trial) {
        const bool nearEdges = trial % 2 == 0;
        const int32_t margin = nearEdges ? 0x10000 : 3 * 0x10000, range = nearEdges ? 0x800 : 0x30000;
        const auto step = [&] { return !nearEdges && trial % 3 == 0 ? steps[uniform(0, 7)] : uniform(-range, range); };
        const int32_t x = uniform(-margin, width * 0x10000 + margin), y = uniform(-margin, height * 0x10000 + margin);
        const int32_t rowX = step(), rowY = step(), columnX = step(), columnY = step();
        comparePairs(x, y, rowX, rowY, columnX, columnY, nearEdges ? uniform(1, 40) : counts[uniform(0, 17)], uniform(1, 4), source, false, random);
      }
    }
    constexpr int32_t kWidth = 260, kHeight = 250, kStride = 263;
    std::vector<uint8_t> pels(static_cast<size_t>(kStride) * kHeight);
    for (auto& p : pels) p = static_cast<uint8_t>(random());
    const DirectSource<uint8_t> source{pels.data(), kStride, kWidth, kHeight, 0, 0};
    for (int trial = 0; trial < 120; ++trial) {
      const double angle = (random() % 3600) * std::numbers::pi / 1800, scale = 0.3 + (random() % 1300) / 1000.0;
      const auto fixed = [](double v) { return static_cast<int32_t>(std::lround(v * 65536)); };
      const int32_t columnX = fixed(scale * std::cos(angle)), columnY = fixed(scale * std::sin(angle));
      const int32_t count = trial % 4 == 0 ? 224 : uniform(1, 100), rows = trial % 4 == 0 ? 224 : uniform(1, 60);
      // The tile's rectangle inside the window, against its right edge every third trial.
      const double extentX = ((count - 1) * std::fabs(columnX) + (rows - 1) * std::fabs(columnY)) / 65536.0;
      const double extentY = ((count - 1) * std::fabs(columnY) + (rows - 1) * std::fabs(columnX)) / 65536.0;
      const double roomX = kWidth - 2.0 - extentX, roomY = kHeight - 2.0 - extentY;
      if (roomX < 1 || roomY < 1) continue;
      const double centreX = extentX / 2 + (trial % 3 == 0 ? roomX - 0.01 : roomX * (random() % 1000) / 1000.0);
      const double centreY = extentY / 2 + roomY * (random() % 1000) / 1000.0;
      comparePairs(fixed(centreX - ((count - 1) * columnX - (rows - 1) * columnY) / 131072.0),
                   fixed(centreY - ((count - 1) * columnY + (rows - 1) * columnX) / 131072.0), -columnY, columnX, columnX, columnY, count, rows, source, true, random);
    }
    // Downscales along the rows: chunks whose lanes all blend one source row pair (loaded once and
    // permuted), spans either side of the 64-pel limit, starts against the last column or row pair.
    const int32_t columnSteps[] = {0x40000, 0x41000, 0x42AAA, 0x43000, 0x10000, 0x8000};
    for (int trial = 0; trial < 200; ++trial) {
      const int32_t columnX = (trial % 2 ? 1 : -1) * (columnSteps[trial % 6] + uniform(-8, 8));
      const int32_t columnY = trial % 4 == 0 ? 0 : uniform(-0x600, 0x600);
      const int32_t x = trial % 3 == 0 ? (kWidth - 2) * 0x10000 - uniform(0, 0x30000) : uniform(0, (kWidth - 1) * 0x10000);
      const int32_t y = trial % 5 == 0 ? (kHeight - 2) * 0x10000 + uniform(0, 0xFFFF) : uniform(0, (kHeight - 1) * 0x10000);
      comparePairs(x, y, uniform(-0x8000, 0x8000), trial % 2 ? 0x40000 : uniform(0x100, 0x20000), columnX, columnY, uniform(1, 70), uniform(1, 4), source, true, random);
    }
  }
}

// ----------------------------------------------------------------------------------------------
// Refusals and the projection process.

TEST(OptimizedProcess, DeclinesWhatItDoesNotServeAndRefusesBadInput) {
  const Source<uint8_t> source(20, 20, 1);
  const affineSampleParams params = makeParams(KIP_SAMPLE_BILINEAR, 30, 1, false, 10, 10, 5, 5, kIdentity);
  Destination<uint8_t> out(5, 5);
  kimg_window window = out.window(), tall = makeWindow(source.pels.data(), 1, 4, 32768, 4);
  affineSampleParams other = params;
  other.sampleMode = 9;
  EXPECT_EQ(affineProcess_optimized8(0, &tall, &kIdentity, &window, &params, nullptr), KIP_ERR_NOT_AVAILABLE);
  EXPECT_EQ(affineProcess_optimized8(0, &source.window, &kIdentity, &window, &other, nullptr), KIP_ERR_NOT_AVAILABLE);
  const kimg_window* s = &source.window;
  std::vector<uint32_t> narrow(4);
  const kimg_window vector = makeWindow(narrow.data(), 4, 4, 1, 4);
  EXPECT_EQ(affineTile_bilinearStore8(0, nullptr, &kIdentity, &window, &params, 224), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(affineTile_bilinearStore8(1, s, &kIdentity, &window, &params, 224), KIP_ERR_INTERNAL);
  EXPECT_EQ(affineTile_bilinearAccumulate8(1, s, &kIdentity, &window, &params, 224), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(affineTile_bilinearStore8(0, s, &kIdentity, &window, &params, 0), KIP_ERR_BAD_SIZE);
  EXPECT_EQ(affineTile_bilinearAccumulate8(1, s, &kIdentity, &vector, &params, 224), KIP_ERR_DEST_TOO_SMALL);
  other.sampleMode = KIP_SAMPLE_BILINEAR, other.yCount = 0;
  EXPECT_EQ(affineTile_bilinearStore8(0, s, &kIdentity, &window, &other, 224), KIP_ERR_NO_SAMPLES);
  EXPECT_EQ(out.pels, std::vector<uint8_t>(out.pels.size(), 0xA5));
}

// The projection clears the vector first and then adds every row (the column sums of the stored
// pels); the hook is asked once, and when it forbids the optimized process the portable one gives
// the sums.
TEST(ProjectProcess, ClearsThenSumsEveryRow) {
  const Source<uint8_t> source(260, 240, 8);
  for (uint32_t mode : {KIP_SAMPLE_NEAREST, KIP_SAMPLE_BILINEAR, KIP_SAMPLE_LINEAR2}) {
    const affineSampleParams params = makeParams(mode, 75, 0.8, true, 130, 120, 150, 120);
    TempCache cache;
    Destination<uint8_t> out(params.xCount, params.yCount);
    const kimg_window window = out.window();
    ASSERT_EQ(affineSampleCache_refresh(cache.get(), &source.window, &kSourceXform, &window, &params, 0), 0);
    ASSERT_EQ(affineProcess_optimized8(0, &source.window, &kSourceXform, &window, &params, cache.get()), 0);
    std::vector<uint32_t> expected(params.xCount, 0);
    for (size_t k = 0; k < out.pels.size(); ++k) if (int32_t(k % out.stride) < out.width) expected[k % out.stride] += out.pels[k];
    for (bool forbid : {false, true}) {
      ScopedHook hook(forbid ? std::initializer_list<std::string>{kHookAffineProcess} : std::initializer_list<std::string>{});
      std::vector<uint32_t> sums(params.xCount + 1, 0xDEAD);
      const kimg_window vector = makeWindow(sums.data(), 4, params.xCount, 1, params.xCount);
      ASSERT_EQ(affineSampleCache_refresh(cache.get(), &source.window, &kSourceXform, &vector, &params, 1), 0);
      ASSERT_EQ(affineProcess_project8(&source.window, &kSourceXform, &vector, &params, cache.get()), 0);
      EXPECT_EQ(ScopedHook::askedCount(kHookAffineProcess), 1);
      EXPECT_EQ(sums.back(), 0xDEADu);
      sums.pop_back();
      if (!forbid || mode != KIP_SAMPLE_BILINEAR) EXPECT_EQ(sums, expected) << "mode " << mode << " forbid " << forbid;
    }
  }
}

}  // namespace
