// Sample cache, sample-table builder and cubic weights: refresh hits and misses counted through the
// test seam, table headers worked out by hand, the weight table's rows and its one-time build.
#include "cache/cache.hpp"
#include "engine/engine.hpp"
#include "platform/memory.hpp"
#include "platform/shutdown.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

namespace {

using kiptest::ScopedImage;

affineSampleParams makeParams(uint32_t mode, double tx, double ty, double e0, double e1, double e2, double e3,
                              int32_t xCount, int32_t yCount) {
  const kmath_shapeAffineRect rect{tx, ty, e0, e1, e2, e3};
  affineSampleParams params{};
  kip_affineSampleParams_init(&params, mode, &rect, xCount, yCount);
  return params;
}

// A 30-degree turn of a 60 x 40 sampling in the middle of a 200 x 200 source: a general map.
affineSampleParams turnedParams(uint32_t mode) {
  const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
  return makeParams(mode, 100, 40, 60 * c, -40 * s, 60 * s, 40 * c, 60, 40);
}

class CacheFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(kip_affineSampleCache_construct(&handle_), 0);
    source_ = sourceImage_.window();
    destination_ = destinationImage_.window();
  }
  void TearDown() override { EXPECT_EQ(kip_affineSampleCache_destruct(&handle_), 0); }

  int32_t refresh(const kimg_window& source, const affineSampleParams& params) {
    return affineSampleCache_refresh(handle_, &source, &identity_, &destination_, &params, 0);
  }
  // Recomputations since the last call.
  affineSampleCacheCounters delta() {
    const affineSampleCacheCounters now = affineSampleCache_testCounters();
    const affineSampleCacheCounters d{now.destinationXforms - last_.destinationXforms, now.alignments - last_.alignments,
                                      now.tables8 - last_.tables8, now.tables16 - last_.tables16};
    last_ = now;
    return d;
  }

  affineSampleCache* handle_ = nullptr;
  ScopedImage sourceImage_{1, 200, 200};
  ScopedImage destinationImage_{1, 60, 40};
  kimg_window source_{}, destination_{};
  const kmath_xformLinear identity_{0, 0, 1, 0, 0, 1};
  affineSampleCacheCounters last_ = affineSampleCache_testCounters();
};

// A miss recomputes the transform and alignment, and a table for the two-pass modes of a general
// map only; the same geometry again recomputes nothing.
TEST_F(CacheFixture, SameGeometryTwiceRecomputesNothing) {
  const affineSampleParams aligned = makeParams(3, 10, 20, 60, 0, 0, 40, 60, 40);
  for (const affineSampleParams& params : {turnedParams(0), turnedParams(1), turnedParams(2), turnedParams(3), aligned}) {
    const bool table = params.sampleMode >= 2 && params.affineRect.e1 != 0;
    delta();
    ASSERT_EQ(refresh(source_, params), 0);
    const affineSampleCacheCounters first = delta();
    EXPECT_TRUE(first.destinationXforms == 1 && first.alignments == 1) << "mode " << params.sampleMode;
    EXPECT_EQ(first.tables8, table ? 1u : 0u) << "mode " << params.sampleMode;
    ASSERT_EQ(refresh(source_, params), 0);
    const affineSampleCacheCounters second = delta();
    EXPECT_EQ(second.destinationXforms + second.alignments + second.tables8 + second.tables16, 0u);
  }
}

// Another source stride rebuilds the table alone (only two-pass modes have one); a rebuild that
// fails for memory leaves the slot stale, so that the next refresh builds it.
TEST_F(CacheFixture, NewSourceStrideRebuildsOnlyTheTable) {
  ScopedImage wider(1, 260, 200), widest(1, 300, 200);
  kimg_window stride260 = wider.window(), stride300 = widest.window();
  ASSERT_EQ(kimg_window_window(&stride260, 0, 0, 200, 200, nullptr), 0);
  ASSERT_EQ(kimg_window_window(&stride300, 0, 0, 200, 200, nullptr), 0);
  for (uint32_t mode : {1u, 2u}) {
    const affineSampleParams params = turnedParams(mode);
    ASSERT_EQ(refresh(source_, params), 0);
    delta();
    ASSERT_EQ(refresh(stride260, params), 0);
    const affineSampleCacheCounters d = delta();
    EXPECT_EQ(d.destinationXforms + d.alignments, 0u);
    EXPECT_EQ(d.tables8, mode == 2 ? 1u : 0u);
  }
  EXPECT_EQ(handle_->sampleTable8.sourceStride, 260);
  ksys_memory_testFailAt(1);  // the line buffer's reallocation
  EXPECT_EQ(refresh(stride300, turnedParams(2)), KIP_ERR_OUT_OF_MEMORY);
  ksys_memory_testFailAt(0);
  EXPECT_NE(handle_->isValid, 0u);
  delta();
  ASSERT_EQ(refresh(stride300, turnedParams(2)), 0);
  EXPECT_EQ(delta().tables8, 1u);
  EXPECT_EQ(handle_->sampleTable8.sourceStride, 300);
}

TEST_F(CacheFixture, EachKeyItemAloneIsAMiss) {
  const affineSampleParams base = turnedParams(1);
  ASSERT_EQ(refresh(source_, base), 0);
  std::vector<affineSampleParams> changed(4, base);
  changed[0].sampleMode = 0;
  changed[1].xCount = 61;
  changed[2].yCount = 41;
  changed[3].affineRect.tx += 1e-9;
  for (const affineSampleParams& params : changed) {
    delta();
    ASSERT_EQ(refresh(source_, params), 0);
    EXPECT_EQ(delta().destinationXforms, 1u);
    ASSERT_EQ(refresh(source_, base), 0);
  }
  delta();
  const kmath_xformLinear shifted{0.5, 0, 1, 0, 0, 1};
  ASSERT_EQ(affineSampleCache_refresh(handle_, &source_, &shifted, &destination_, &base, 0), 0);
  EXPECT_EQ(delta().alignments, 1u);
  kimg_window moved = source_;
  ASSERT_EQ(kimg_window_window(&moved, 1, 0, 199, 200, nullptr), 0);
  ASSERT_EQ(refresh(moved, base), 0);
  EXPECT_EQ(delta().alignments, 1u);
}

TEST_F(CacheFixture, SecondPelSizeBuildsItsOwnSlot) {
  ScopedImage source16(2, 200, 200);
  const affineSampleParams params = turnedParams(3);
  ASSERT_EQ(refresh(source_, params), 0);
  delta();
  ASSERT_EQ(refresh(source16.window(), params), 0);
  const affineSampleCacheCounters d = delta();
  EXPECT_TRUE(d.destinationXforms == 0 && d.tables16 == 1 && d.tables8 == 0);
  // The 16-bit line holds 32-bit values: four times the 8-bit buffer, plus the same 4 bytes.
  EXPECT_EQ(handle_->sampleTable16.lineBufferSize - 4, 4 * (handle_->sampleTable8.lineBufferSize - 4));
}

TEST(SampleCacheLifetime, NullHandlesAndFailedConstruction) {
  EXPECT_EQ(kip_affineSampleCache_destruct(nullptr), 0);
  affineSampleCache* handle = reinterpret_cast<affineSampleCache*>(0x1);
  EXPECT_EQ(kip_affineSampleCache_construct(nullptr), KIP_ERR_NULL_POINTER);
  kiptest::sweepAllocationFailures([&] {
    const int32_t status = kip_affineSampleCache_construct(&handle);
    if (status < 0) EXPECT_EQ(handle, nullptr);
    return status;
  });
  EXPECT_EQ(kip_affineSampleCache_destruct(&handle), 0);
  EXPECT_EQ(handle, nullptr);
  EXPECT_EQ(kip_affineSampleCache_destruct(&handle), 0);  // a handle holding null
}

// Table headers of maps whose values follow by hand from the builder's rules.
struct BuiltTable {
  sampleTable table;
  int32_t status;
  BuiltTable(const affineSampleParams& params, int32_t sourceSide, int32_t destinationWidth) {
    ScopedImage source(1, sourceSide, sourceSide), destination(1, destinationWidth, params.yCount);
    const kimg_window sourceWindow = source.window(), destinationWindow = destination.window();
    const kmath_xformLinear identity{0, 0, 1, 0, 0, 1};
    sampleTable_init(&table);
    status = sampleTable_build8(&table, &sourceWindow, &identity, &destinationWindow, &params);
  }
  ~BuiltTable() { sampleTable_release(&table); }
};

TEST(SampleTableBuilder, TileSizes) {
  // A small destination is one tile, all four tile kinds of its size.
  BuiltTable small(makeParams(2, 20.3, 30.7, 50, 10, -10, 40, 50, 40), 200, 50);
  ASSERT_EQ(small.status, 0);
  const sampleTableHeader& h = small.table.header;
  EXPECT_TRUE(h.tilesAcross == 1 && h.tilesDown == 1);
  for (int t = 0; t < 4; ++t) {
    EXPECT_TRUE(h.tileWidth[t] == 50 && h.tileHeight[t] == 40 && h.tileSourceOffset[t] == h.tileSourceOffset[0]);
  }
  // Scale 5: a 96 x 96 tile spans 480 pels, a box of (480 + 5)^2 = 235225 > 200000 pels. The first
  // shrink factor sqrt(200000 / 235225) = 0.922 gives 88, whose box (440 + 5)^2 = 198025 fits.
  BuiltTable large(makeParams(2, 0, 0, 1000, 0, 0, 1000, 200, 200), 1100, 200);
  ASSERT_EQ(large.status, 0);
  const sampleTableHeader& l = large.table.header;
  EXPECT_TRUE(l.tileWidth[0] == 88 && l.tileHeight[0] == 88);
  EXPECT_TRUE(l.tilesAcross == 3 && l.tileWidth[1] == 24 && l.tileHeight[2] == 24);  // 88 + 88 + 24
  EXPECT_TRUE(l.tileColumnAdvanceX == 88 * 5 * 65536 && l.tileRowAdvanceY == 88 * 5 * 65536);
  EXPECT_EQ(large.table.lineBufferSize, 12 * 88);  // k = floor(scale) = 5, (2k + 2) x 88 bytes in mode 2
}

TEST(SampleTableBuilder, WalkDirectionsAndStarts) {
  // Columns move the source by (1, 1), rows by (-1, 1): a turn by 45 degrees at scale sqrt 2.
  BuiltTable forward(makeParams(2, 100, 20, 64, -64, 64, 64, 64, 64), 200, 64);
  ASSERT_EQ(forward.status, 0);
  const sampleTableHeader& f = forward.table.header;
  EXPECT_TRUE(f.isYMajor == 0 && f.majorSign == 1 && f.majorStep == 1 && f.minorStep == 200);
  EXPECT_EQ(f.minorAdvance, 65536);      // R10 / R00 = 1
  EXPECT_EQ(f.rowMinorAdvance, 131072);  // det / R00 = 2
  EXPECT_TRUE(f.lineAdvance == 65536 && f.rowLineAdvance == -65536);

  // Columns move by (-1, 1), rows by (-1, -1): theta = -3 pi / 4, x-major walked backwards. The
  // first centre maps to (99.25, 100), so p = (98.75, 99.5) and the mirrored x fraction is 0.25.
  BuiltTable backward(makeParams(2, 100.25, 100, -64, -64, 64, -64, 64, 64), 200, 64);
  ASSERT_EQ(backward.status, 0);
  const sampleTableHeader& b = backward.table.header;
  EXPECT_TRUE(b.isYMajor == 0 && b.majorSign == -1 && b.majorStep == -1);
  EXPECT_TRUE(b.startX == 98 * 65536 + 0xC000 && b.lineStart == 0x4000);
  EXPECT_EQ(b.lineAdvance, 65536);     // s x R00 = -1 x -1
  EXPECT_EQ(b.minorAdvance, 65536);    // s x R10 / R00 = -1 x 1 / -1
  EXPECT_EQ(b.rowLineAdvance, 65536);  // s x R01 = -1 x -1
  EXPECT_EQ(b.minorStart, 0x4000);     // y fraction 0x8000 less one minor advance times the line start

  // Columns move by (2, -0.5), rows by (0.5, 2); the first centre maps to (11.5, 20.5), so p is
  // (11, 20) exactly and both fractions are raised to one 1/65536.
  BuiltTable exact(makeParams(2, 10.25, 19.75, 20, 5, -5, 20, 10, 10), 200, 10);
  ASSERT_EQ(exact.status, 0);
  EXPECT_TRUE(exact.table.header.startX == 11 * 65536 + 1 && exact.table.header.startY == 20 * 65536 + 1);

  // Columns that do not move the source make every ratio of the advances infinite: refused, not
  // converted.
  EXPECT_LT(BuiltTable(makeParams(2, 10, 10, 0, 0, 0, 50, 10, 10), 200, 10).status, 0);
}

// The cubic weight table.
TEST(CubicWeightTable, TellingRowsAndRowSums) {
  ASSERT_EQ(kip_affineTransform_setup(), 0);
  const cubicWeightTable* table = cubicWeightTable_get();
  EXPECT_EQ(table->indexBits, 8);
  const int16_t* w = nullptr;
  cubicWeightTable_getWeights(table, &w);
  const struct {
    int index;
    int16_t w0, w1, w2, w3;
  } rows[] = {{0, 0, 32767, 0, 0},          {1, -63, 32766, 64, 0},         {64, -2304, 28416, 7424, -768},
              {128, -2048, 18432, 18432, -2048}, {192, -768, 7424, 28416, -2304}, {255, 0, 64, 32766, -63}};
  for (const auto& r : rows) {
    uint64_t entry = 0;
    cubicWeightTable_getEntry(table, r.index, &entry);
    const std::vector<int16_t> got{int16_t(entry), int16_t(entry >> 16), int16_t(entry >> 32), int16_t(entry >> 48)};
    EXPECT_EQ(got, (std::vector<int16_t>{r.w0, r.w1, r.w2, r.w3})) << r.index;
  }
  for (int i = 0; i < 256; ++i) {
    const int sum = w[4 * i] + w[4 * i + 1] + w[4 * i + 2] + w[4 * i + 3];
    EXPECT_TRUE(sum >= 32767 && sum <= 32769) << i;
  }
  EXPECT_EQ(cubicWeightIndex(0x12345), 0x23u);
}

TEST(CubicWeightTable, BuiltOnceUnderConcurrentSetup) {
  ksys_shutdown_testRunAll();  // start from an unbuilt table
  const uint64_t before = cubicWeightTable_testBuildCount();
  std::vector<std::thread> threads;
  std::vector<int32_t> statuses(8, -1);
  for (int i = 0; i < 8; ++i) threads.emplace_back([&, i] { statuses[i] = kip_affineTransform_setup(); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(statuses, std::vector<int32_t>(8, 0));
  EXPECT_EQ(kip_affineTransform_setup(), 0);
  EXPECT_EQ(cubicWeightTable_testBuildCount() - before, 1u);
}

TEST(CubicWeightTable, FailedBuildAndFailedRegistrationLeaveNoFreedTable) {
  ksys_shutdown_testRunAll();
  ksys_memory_testFailAt(1);
  EXPECT_EQ(kip_affineTransform_setup(), KIP_ERR_OUT_OF_MEMORY);
  ksys_memory_testFailAt(0);
  // The failed build left the table unbuilt: the next call builds it.
  const uint64_t before = cubicWeightTable_testBuildCount();
  ASSERT_EQ(kip_affineTransform_setup(), 0);
  EXPECT_EQ(cubicWeightTable_testBuildCount() - before, 1u);

  // Without a shut-down hook the table is kept, never freed under a reader.
  ksys_shutdown_testRunAll();
  ksys_shutdown_testFailRegistration(KIP_ERR_OUT_OF_MEMORY);
  EXPECT_EQ(kip_affineTransform_setup(), 0);
  ksys_shutdown_testFailRegistration(0);
  ASSERT_NE(cubicWeightTable_get()->weightArray, nullptr);
  EXPECT_EQ(cubicWeightTable_get()->weightArray[1], 32767);
  ksys_shutdown_testRunAll();  // nothing registered: the table stays
  EXPECT_NE(cubicWeightTable_get()->weightArray, nullptr);
}

}  // namespace
