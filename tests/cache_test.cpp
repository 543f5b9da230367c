// Sample cache hits and misses (counted through the test seam), table refusal, the cubic table's build.
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

constexpr kmath_xformLinear kIdentity{0, 0, 1, 0, 0, 1};

// A 30-degree turn of a 60 x 40 sampling in the middle of a 200 x 200 source: a general map.
affineSampleParams turnedParams(uint32_t mode) {
  const double c = std::cos(M_PI / 6), s = std::sin(M_PI / 6);
  return affineSampleParams{{100, 40, 60 * c, -40 * s, 60 * s, 40 * c}, mode, 60, 40};
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
    const affineSampleCacheCounters now = affineSampleCache_testCounters(), d{now.destinationXforms - last_.destinationXforms,
        now.alignments - last_.alignments, now.tables8 - last_.tables8, now.tables16 - last_.tables16};
    return last_ = now, d;
  }

  affineSampleCache* handle_ = nullptr;
  kiptest::ScopedImage sourceImage_{1, 200, 200}, destinationImage_{1, 60, 40};
  kimg_window source_ = sourceImage_.window(), destination_ = destinationImage_.window();
  affineSampleCacheCounters last_ = affineSampleCache_testCounters();
};

// A miss recomputes the transform and alignment, and a table for the two-pass modes only; the same geometry again recomputes nothing; each key item alone is a miss.
TEST_F(CacheFixture, HitsAndMisses) {
  const affineSampleParams base = turnedParams(3);
  for (const affineSampleParams& params : {turnedParams(1), base}) {
    delta();
    ASSERT_EQ(refresh(source_, params), 0);
    const affineSampleCacheCounters first = delta();
    EXPECT_TRUE(first.destinationXforms == 1 && first.alignments == 1 && first.tables8 == (params.sampleMode >= 2 ? 1u : 0u)) << params.sampleMode;
    ASSERT_EQ(refresh(source_, params), 0);
    const affineSampleCacheCounters again = delta();
    EXPECT_EQ(again.destinationXforms + again.alignments + again.tables8 + again.tables16, 0u);
  }
  std::vector<affineSampleParams> changed(3, base);
  changed[0].sampleMode = 2, changed[1].xCount = 61, changed[2].affineRect.tx += 1e-9;
  for (const affineSampleParams& params : changed) {
    ASSERT_EQ(refresh(source_, base), 0);
    delta();
    ASSERT_EQ(refresh(source_, params), 0);
    EXPECT_EQ(delta().destinationXforms, 1u);
  }
}

// A table rebuild for another source stride that fails for memory leaves the slot stale, so that
// the next refresh builds the table, and the table alone.
TEST_F(CacheFixture, FailedStrideRebuildLeavesTheTableStale) {
  kimg_window stride260 = source_;  // only the table reads the stride, and reads no pel
  stride260.stride = 260;
  ASSERT_EQ(refresh(source_, turnedParams(2)), 0);
  ksys_memory_testFailAt(1);  // the line buffer's reallocation
  EXPECT_EQ(refresh(stride260, turnedParams(2)), KIP_ERR_OUT_OF_MEMORY);
  ksys_memory_testFailAt(0);
  delta();
  ASSERT_EQ(refresh(stride260, turnedParams(2)), 0);
  const affineSampleCacheCounters d = delta();
  EXPECT_TRUE(d.destinationXforms + d.alignments == 0 && d.tables8 == 1 && handle_->sampleTable8.sourceStride == 260);
}

// Destruct takes null, and a handle holding null.
TEST(SampleCacheLifetime, NullHandles) {
  affineSampleCache* handle = nullptr;
  EXPECT_TRUE(kip_affineSampleCache_construct(nullptr) == KIP_ERR_NULL_POINTER && kip_affineSampleCache_destruct(&handle) == 0 &&
              kip_affineSampleCache_destruct(nullptr) == 0);
}

// Columns that do not move the source make every ratio of the advances infinite: the table is
// refused, not converted.
TEST_F(CacheFixture, StillColumnsAreRefusedATable) {
  const affineSampleParams still{{10, 10, 0, 0, 0, 50}, 2, 60, 40};
  sampleTable table;
  sampleTable_init(&table);
  EXPECT_LT(sampleTable_build8(&table, &source_, &kIdentity, &destination_, &still), 0);
  sampleTable_release(&table);
}

// Concurrent first calls build the table once.
TEST(CubicWeightTable, BuiltOnceUnderConcurrentSetup) {
  ksys_shutdown_testRunAll();  // start from an unbuilt table
  const uint64_t before = cubicWeightTable_testBuildCount();
  std::vector<int32_t> statuses(8, -1);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&, i] { statuses[i] = kip_affineTransform_setup(); });
  for (auto& t : threads) t.join();
  EXPECT_TRUE(statuses == std::vector<int32_t>(8, 0) && cubicWeightTable_testBuildCount() - before == 1);
}

TEST(CubicWeightTable, FailedBuildAndFailedRegistrationLeaveNoFreedTable) {
  ksys_shutdown_testRunAll();
  ksys_memory_testFailAt(1);
  EXPECT_EQ(kip_affineTransform_setup(), KIP_ERR_OUT_OF_MEMORY);
  ksys_memory_testFailAt(0);
  const uint64_t before = cubicWeightTable_testBuildCount();  // the next call builds it
  EXPECT_TRUE(kip_affineTransform_setup() == 0 && cubicWeightTable_testBuildCount() - before == 1);
  // Without a shut-down hook the table is kept, never freed under a reader.
  ksys_shutdown_testRunAll();
  ksys_shutdown_testFailRegistration(KIP_ERR_OUT_OF_MEMORY);
  EXPECT_EQ(kip_affineTransform_setup(), 0);
  ksys_shutdown_testFailRegistration(0), ksys_shutdown_testRunAll();  // nothing registered: the table stays
  const int16_t* weights = cubicWeightTable_get()->weightArray;
  EXPECT_TRUE(weights != nullptr && weights[1] == 32767);
}

}  // namespace
