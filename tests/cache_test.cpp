// Sample cache hits and misses (counted through the test seam), table starts and cubic weights.
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
constexpr kmath_xformLinear kIdentity{0, 0, 1, 0, 0, 1};

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
  void SetUp() override { ASSERT_EQ(kip_affineSampleCache_construct(&handle_), 0); }
  void TearDown() override { EXPECT_EQ(kip_affineSampleCache_destruct(&handle_), 0); }

  int32_t refresh(const kimg_window& source, const affineSampleParams& params) {
    return affineSampleCache_refresh(handle_, &source, &kIdentity, &destination_, &params, 0);
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
  ScopedImage sourceImage_{1, 200, 200}, destinationImage_{1, 60, 40};
  kimg_window source_ = sourceImage_.window(), destination_ = destinationImage_.window();
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
    EXPECT_TRUE(first.destinationXforms == 1 && first.alignments == 1 && first.tables8 == (table ? 1u : 0u))
        << "mode " << params.sampleMode;
    ASSERT_EQ(refresh(source_, params), 0);
    const affineSampleCacheCounters again = delta();
    EXPECT_EQ(again.destinationXforms + again.alignments + again.tables8 + again.tables16, 0u);
  }
}

// Another source stride rebuilds the table alone (only two-pass modes have one); a rebuild that
// fails for memory leaves the slot stale, so that the next refresh builds it.
TEST_F(CacheFixture, NewSourceStrideRebuildsOnlyTheTable) {
  ScopedImage wider(1, 260, 200), widest(1, 300, 200);
  kimg_window stride260 = wider.window(), stride300 = widest.window();
  stride260.width = stride300.width = 200;
  for (uint32_t mode : {1u, 2u}) {
    const affineSampleParams params = turnedParams(mode);
    ASSERT_EQ(refresh(source_, params), 0);
    delta();
    ASSERT_EQ(refresh(stride260, params), 0);
    const affineSampleCacheCounters d = delta();
    EXPECT_TRUE(d.destinationXforms + d.alignments == 0 && d.tables8 == (mode == 2 ? 1u : 0u)) << mode;
  }
  EXPECT_EQ(handle_->sampleTable8.sourceStride, 260);
  ksys_memory_testFailAt(1);  // the line buffer's reallocation
  EXPECT_EQ(refresh(stride300, turnedParams(2)), KIP_ERR_OUT_OF_MEMORY);
  ksys_memory_testFailAt(0);
  delta();
  ASSERT_EQ(refresh(stride300, turnedParams(2)), 0);
  EXPECT_TRUE(delta().tables8 == 1 && handle_->sampleTable8.sourceStride == 300);
}

TEST_F(CacheFixture, EachKeyItemAloneIsAMiss) {
  const affineSampleParams base = turnedParams(1);
  ASSERT_EQ(refresh(source_, base), 0);
  std::vector<affineSampleParams> changed(3, base);
  changed[0].sampleMode = 0, changed[1].xCount = 61, changed[2].affineRect.tx += 1e-9;
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
}

// A failed construction writes null; destruct takes null, and a handle holding null.
TEST(SampleCacheLifetime, NullHandlesAndFailedConstruction) {
  affineSampleCache* handle = reinterpret_cast<affineSampleCache*>(0x1);
  EXPECT_EQ(kip_affineSampleCache_construct(nullptr), KIP_ERR_NULL_POINTER);
  kiptest::sweepAllocationFailures([&] {
    const int32_t status = kip_affineSampleCache_construct(&handle);
    EXPECT_TRUE(status >= 0 || handle == nullptr);
    return status;
  });
  EXPECT_TRUE(kip_affineSampleCache_destruct(&handle) == 0 && handle == nullptr);
  EXPECT_EQ(kip_affineSampleCache_destruct(&handle) | kip_affineSampleCache_destruct(nullptr), 0);
}

// A table header whose values follow by hand from the builder's rules.
struct BuiltTable {
  sampleTable table;
  int32_t status;
  BuiltTable(const affineSampleParams& params, int32_t sourceSide, int32_t destinationWidth) {
    ScopedImage source(1, sourceSide, sourceSide), destination(1, destinationWidth, params.yCount);
    const kimg_window sourceWindow = source.window(), destinationWindow = destination.window();
    sampleTable_init(&table);
    status = sampleTable_build8(&table, &sourceWindow, &kIdentity, &destinationWindow, &params);
  }
  ~BuiltTable() { sampleTable_release(&table); }
};

TEST(SampleTableBuilder, StartsAndRefusal) {
  // Columns move by (2, -0.5), rows by (0.5, 2); the first centre maps to (11.5, 20.5), so p is
  // (11, 20) exactly and both fractions are raised to one 1/65536.
  BuiltTable exact(makeParams(2, 10.25, 19.75, 20, 5, -5, 20, 10, 10), 200, 10);
  ASSERT_EQ(exact.status, 0);
  EXPECT_TRUE(exact.table.header.startX == 11 * 65536 + 1 && exact.table.header.startY == 20 * 65536 + 1);
  // Columns that do not move the source make every ratio of the advances infinite: refused, not converted.
  EXPECT_LT(BuiltTable(makeParams(2, 10, 10, 0, 0, 0, 50, 10, 10), 200, 10).status, 0);
}

TEST(CubicWeightTable, TellingRowsAndRowSums) {
  ASSERT_EQ(kip_affineTransform_setup(), 0);
  const cubicWeightTable* table = cubicWeightTable_get();
  const int16_t* w = nullptr;
  cubicWeightTable_getWeights(table, &w);
  uint64_t entry = 0;
  cubicWeightTable_getEntry(table, 64, &entry);  // a quarter pel: -2304, 28416, 7424, -768, first in the low bits
  EXPECT_EQ(entry, 0xFD001D006F00F700u);
  for (int i = 0; i < 256; ++i) EXPECT_NEAR(w[4 * i] + w[4 * i + 1] + w[4 * i + 2] + w[4 * i + 3], 32768, 1) << i;
  EXPECT_EQ(cubicWeightIndex(0x12345), 0x23u);
}

TEST(CubicWeightTable, BuiltOnceUnderConcurrentSetup) {
  ksys_shutdown_testRunAll();  // start from an unbuilt table
  const uint64_t before = cubicWeightTable_testBuildCount();
  std::vector<std::thread> threads;
  std::vector<int32_t> statuses(8, -1);
  for (int i = 0; i < 8; ++i) threads.emplace_back([&, i] { statuses[i] = kip_affineTransform_setup(); });
  for (auto& t : threads) t.join();
  EXPECT_TRUE(statuses == std::vector<int32_t>(8, 0) && kip_affineTransform_setup() == 0);
  EXPECT_EQ(cubicWeightTable_testBuildCount() - before, 1u);
}

TEST(CubicWeightTable, FailedBuildAndFailedRegistrationLeaveNoFreedTable) {
  ksys_shutdown_testRunAll();
  ksys_memory_testFailAt(1);
  EXPECT_EQ(kip_affineTransform_setup(), KIP_ERR_OUT_OF_MEMORY);
  ksys_memory_testFailAt(0);
  const uint64_t before = cubicWeightTable_testBuildCount();  // the next call builds it
  ASSERT_EQ(kip_affineTransform_setup(), 0);
  EXPECT_EQ(cubicWeightTable_testBuildCount() - before, 1u);
  // Without a shut-down hook the table is kept, never freed under a reader.
  ksys_shutdown_testRunAll();
  ksys_shutdown_testFailRegistration(KIP_ERR_OUT_OF_MEMORY);
  EXPECT_EQ(kip_affineTransform_setup(), 0);
  ksys_shutdown_testFailRegistration(0);
  ksys_shutdown_testRunAll();  // nothing registered: the table stays
  ASSERT_NE(cubicWeightTable_get()->weightArray, nullptr);
  EXPECT_EQ(cubicWeightTable_get()->weightArray[1], 32767);
}

}  // namespace
