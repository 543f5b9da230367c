// The frame: the declined test, the clean-up list, optimized-first dispatch and the processor test.
#include "frame/frame.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Declined statuses

struct DeclinedCase {
  uint32_t status;
  bool declined;
};

class Declined : public testing::TestWithParam<DeclinedCase> {};

TEST_P(Declined, IsTestedByMaskNotByValue) {
  EXPECT_EQ(isDeclined(static_cast<int32_t>(GetParam().status)), GetParam().declined);
}

INSTANTIATE_TEST_SUITE_P(Statuses, Declined,
                         testing::Values(DeclinedCase{0x80000601u, true}, DeclinedCase{0x8000061Fu, true},
                                         DeclinedCase{0x80000600u, true}, DeclinedCase{0x00000600u, true},
                                         DeclinedCase{0x12340610u, true}, DeclinedCase{0x80000620u, false},
                                         DeclinedCase{0x800005FFu, false}, DeclinedCase{0x80010601u + 0x20u, false},
                                         DeclinedCase{0u, false}, DeclinedCase{0x80000903u, false}));

// ---------------------------------------------------------------------------------------------
// Clean-up list

std::vector<int> cleaned;
int cleanupFailures[8];  // status returned by the clean-up of object i

int32_t cleanObject(int* object) {
  cleaned.push_back(*object);
  return cleanupFailures[*object];
}

// A scope with three temporaries that leaves after `made` of them with `status`.
int32_t scopeLeavingAfter(int made, int32_t status) {
  static int objects[3] = {0, 1, 2};
  CleanupList cleanup;
  for (int i = 0; i < made; ++i) cleanup.addObject<cleanObject>(&objects[i]);
  if (status < 0) return cleanup.finish(status);
  return cleanup.finish(0);
}

class CleanupExit : public testing::TestWithParam<std::tuple<int, int32_t>> {};

TEST_P(CleanupExit, EveryExitRunsWhatWasMadeNewestFirst) {
  const auto [made, status] = GetParam();
  cleaned.clear();
  std::fill(std::begin(cleanupFailures), std::end(cleanupFailures), 0);
  EXPECT_EQ(scopeLeavingAfter(made, status), status);
  std::vector<int> expected;
  for (int i = made - 1; i >= 0; --i) expected.push_back(i);
  EXPECT_EQ(cleaned, expected);
}

INSTANTIATE_TEST_SUITE_P(Exits, CleanupExit, testing::Combine(testing::Values(0, 1, 2, 3), testing::Values(0, -7)));

TEST(Cleanup, FailingCleanupReplacesSuccessButNotAnEarlierFailure) {
  cleaned.clear();
  std::fill(std::begin(cleanupFailures), std::end(cleanupFailures), 0);
  cleanupFailures[1] = -21;
  cleanupFailures[0] = -20;
  EXPECT_EQ(scopeLeavingAfter(3, 0), -21) << "the first failing clean-up (newest first) decides";
  EXPECT_EQ(cleaned, (std::vector<int>{2, 1, 0})) << "a failure must not stop the others";
  cleaned.clear();
  EXPECT_EQ(scopeLeavingAfter(3, -5), -5);
  EXPECT_EQ(cleaned.size(), 3u);
}

TEST(Cleanup, DestructorRunsTheListAndFinishRunsItOnce) {
  cleaned.clear();
  std::fill(std::begin(cleanupFailures), std::end(cleanupFailures), 0);
  static int object = 4;
  {
    CleanupList cleanup;
    cleanup.addObject<cleanObject>(&object);
  }
  EXPECT_EQ(cleaned, (std::vector<int>{4}));
  {
    CleanupList cleanup;
    cleanup.addObject<cleanObject>(&object);
    EXPECT_EQ(cleanup.finish(0), 0);
    EXPECT_EQ(cleanup.count(), 0u);
  }
  EXPECT_EQ(cleaned.size(), 2u) << "the destructor ran the list a second time";
}

TEST(Cleanup, MemoryEntryFreesTheBlockAndClearsTheVariable) {
  const int64_t live = ksys_memory_testLiveBlocks();
  void* block = nullptr;
  {
    CleanupList cleanup;
    ASSERT_EQ(ksys_memory_alloc_internal(32, &block), 0);
    cleanup.addMemory(&block);
  }
  EXPECT_EQ(block, nullptr);
  EXPECT_EQ(ksys_memory_testLiveBlocks(), live);
}

TEST(Cleanup, ExecuteOnAnEmptyListReturnsTheStatus) {
  ksys_cleanupEntry entries[1] = {};
  uint32_t count = 0;
  int32_t status = -3;
  EXPECT_EQ(ksys_cleanupExecute_(entries, &count, &status), -3);
  status = 0;
  EXPECT_EQ(ksys_cleanupExecute_(entries, &count, &status), 0);
  EXPECT_EQ(count, 0u);
}

// ---------------------------------------------------------------------------------------------
// Optimized-first dispatch

struct Calls {
  int optimized = 0;
  int portable = 0;
};

int32_t dispatch(Calls& calls, int32_t optimizedStatus, int32_t portableStatus = 0) {
  return dispatchOptimizedFirst(
      kHookRowSums8,
      [&] {
        ++calls.optimized;
        return optimizedStatus;
      },
      [&] {
        ++calls.portable;
        return portableStatus;
      });
}

TEST(Dispatch, WithoutHookTheOptimizedRoutineRuns) {
  ASSERT_EQ(kprt_isOptimizationInhibitedFP, nullptr);
  Calls calls;
  EXPECT_EQ(dispatch(calls, 5), 5);
  EXPECT_EQ(calls.optimized, 1);
  EXPECT_EQ(calls.portable, 0);
}

TEST(Dispatch, ForbiddenNameRunsPortableWithoutEnteringOptimized) {
  kiptest::ScopedHook hook({kHookRowSums8});
  Calls calls;
  EXPECT_EQ(dispatch(calls, KIP_ERR_OUT_OF_MEMORY, -9), -9) << "the portable status is the result";
  EXPECT_EQ(calls.optimized, 0);
  EXPECT_EQ(calls.portable, 1);
  EXPECT_EQ(kiptest::ScopedHook::askedCount(kHookRowSums8), 1);
}

TEST(Dispatch, HookForbiddingAnotherNameChangesNothing) {
  kiptest::ScopedHook hook({kHookColumnSums8, kHookAffineProcess});
  Calls calls;
  EXPECT_EQ(dispatch(calls, 0), 0);
  EXPECT_EQ(calls.optimized, 1);
  EXPECT_EQ(calls.portable, 0);
  EXPECT_EQ(kiptest::ScopedHook::askedCount(kHookRowSums8), 1);
}

struct OptimizedOutcome {
  uint32_t status;
  bool fallsBack;
};

class DispatchOutcome : public testing::TestWithParam<OptimizedOutcome> {};

TEST_P(DispatchOutcome, DeclinedFamilyFallsBackOtherFailuresReturn) {
  Calls calls;
  const int32_t status = static_cast<int32_t>(GetParam().status);
  const int32_t result = dispatch(calls, status, 17);
  EXPECT_EQ(calls.optimized, 1);
  EXPECT_EQ(calls.portable, GetParam().fallsBack ? 1 : 0);
  EXPECT_EQ(result, GetParam().fallsBack ? 17 : status);
}

INSTANTIATE_TEST_SUITE_P(Statuses, DispatchOutcome,
                         testing::Values(OptimizedOutcome{0x80000601u, true}, OptimizedOutcome{0x80000600u, true},
                                         OptimizedOutcome{0x8000061Fu, true}, OptimizedOutcome{0x80000610u, true},
                                         OptimizedOutcome{0x80000620u, false}, OptimizedOutcome{0x800005FFu, false},
                                         OptimizedOutcome{0x80000903u, false}, OptimizedOutcome{0u, false}));

// ---------------------------------------------------------------------------------------------
// Processor test

struct ProcessorCase {
  uint32_t kind;
  uint32_t flags;
  int32_t queryStatus;
  int32_t expected;
};

class ProcessorTest : public testing::TestWithParam<ProcessorCase> {};

TEST_P(ProcessorTest, AcceptsKinds1And5WithTheSimdBit) {
  const ProcessorCase& c = GetParam();
  kiptest::ScopedCpuinfo cpu(c.kind, c.flags, c.queryStatus);
  EXPECT_EQ(requirePackedIntegerProcessor(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Records, ProcessorTest,
    testing::Values(ProcessorCase{1, 1, 0, 0}, ProcessorCase{5, 1, 0, 0}, ProcessorCase{5, 0xFF, 0, 0},
                    ProcessorCase{2, 1, 0, KIP_ERR_NOT_AVAILABLE}, ProcessorCase{1, 0, 0, KIP_ERR_NOT_AVAILABLE},
                    ProcessorCase{1, 2, 0, KIP_ERR_NOT_AVAILABLE}, ProcessorCase{5, 0, 0, KIP_ERR_NOT_AVAILABLE},
                    ProcessorCase{0, 1, 0, KIP_ERR_NOT_AVAILABLE}, ProcessorCase{4, 1, 0, KIP_ERR_NOT_AVAILABLE},
                    // A failing query is a failure, not a decline: it must not be masked into one.
                    ProcessorCase{1, 1, KIP_ERR_OUT_OF_MEMORY, KIP_ERR_OUT_OF_MEMORY},
                    ProcessorCase{1, 1, -1, -1}));

TEST(ProcessorTest, ScalarOnlyMachineDeclines) {
  hwy::SetSupportedTargetsForTest(HWY_SCALAR | HWY_EMU128);
  const int32_t status = requirePackedIntegerProcessor();
  hwy::SetSupportedTargetsForTest(0);
  EXPECT_EQ(status, KIP_ERR_NOT_AVAILABLE);
}

}  // namespace
