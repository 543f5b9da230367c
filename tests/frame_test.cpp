// The frame: the declined test, the clean-up list, optimized-first dispatch and the processor test.
#include "frame/frame.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Declined statuses and optimized-first dispatch

// A status is declined by its low 16 bits alone, whatever the upper ones. The optimized routine's
// declined status runs the portable one, whose status is the result; any other is returned as is.
TEST(Dispatch, DeclinedFamilyFallsBackOtherStatusesReturn) {
  const struct { uint32_t status; bool declined; } cases[] = {
      {0x8000061Fu, true}, {0x80000600u, true}, {0x12350610u, true}, {0x80000620u, false}, {0x800005FFu, false}};
  for (const auto& [status, declined] : cases) {
    EXPECT_EQ(isDeclined(static_cast<int32_t>(status)), declined) << std::hex << status;
    int optimized = 0, portable = 0;
    const int32_t result = dispatchOptimizedFirst(
        kHookRowSums8, [&] { return ++optimized, static_cast<int32_t>(status); }, [&] { return ++portable, 17; });
    EXPECT_TRUE(optimized == 1 && portable == declined && result == (declined ? 17 : static_cast<int32_t>(status))) << std::hex << status;
  }
}

// The hook is asked once by name: a forbidden name runs the portable routine without entering the
// optimized one, and its status is the result; another name changes nothing.
TEST(Dispatch, HookForbidsByName) {
  ASSERT_EQ(kprt_isOptimizationInhibitedFP, nullptr);
  for (const bool forbidden : {true, false}) {
    kiptest::ScopedHook hook({forbidden ? kHookRowSums8 : kHookColumnSums8});
    int optimized = 0, portable = 0;
    const int32_t result = dispatchOptimizedFirst(
        kHookRowSums8, [&] { return ++optimized, 5; }, [&] { return ++portable, -9; });
    EXPECT_TRUE(result == (forbidden ? -9 : 5) && optimized == !forbidden && portable == forbidden &&
                kiptest::ScopedHook::askedCount(kHookRowSums8) == 1);
  }
}

// ---------------------------------------------------------------------------------------------
// Clean-up list

std::vector<int> cleaned;
int cleanupFailures[3];  // status returned by the clean-up of object i

int32_t cleanObject(int* object) { return cleaned.push_back(*object), cleanupFailures[*object]; }

// A scope with three temporaries that leaves after `made` of them with `status`.
int32_t scopeLeavingAfter(int made, int32_t status) {
  static int objects[3] = {0, 1, 2};
  CleanupList cleanup;
  for (int i = 0; i < made; ++i) cleanup.addObject<cleanObject>(&objects[i]);
  return cleanup.finish(status < 0 ? status : 0);
}

// Every exit runs what was made, newest first; the first failing clean-up replaces success but not
// an earlier failure, and does not stop the others.
TEST(Cleanup, EveryExitRunsWhatWasMadeNewestFirst) {
  for (const int32_t status : {0, -7}) {
    cleaned.clear();
    EXPECT_EQ(scopeLeavingAfter(2, status), status);
    EXPECT_EQ(cleaned, (std::vector<int>{1, 0})) << status;
  }
  cleanupFailures[1] = -21, cleanupFailures[0] = -20, cleaned.clear();
  EXPECT_EQ(scopeLeavingAfter(3, 0), -21);
  EXPECT_TRUE(cleaned == (std::vector<int>{2, 1, 0}) && scopeLeavingAfter(3, -5) == -5) << "a failure must not stop the others";
}

// The destructor runs the list and frees memory; after finish it runs nothing again.
TEST(Cleanup, DestructorRunsTheListOnceAndFreesMemory) {
  static int object = 2;
  cleanupFailures[2] = 0, cleaned.clear();
  { CleanupList cleanup; cleanup.addObject<cleanObject>(&object); }
  { CleanupList cleanup; cleanup.addObject<cleanObject>(&object); EXPECT_EQ(cleanup.finish(0), 0); }
  EXPECT_EQ(cleaned, (std::vector<int>{2, 2}));
  const int64_t live = ksys_memory_testLiveBlocks();
  void* block = nullptr;
  { CleanupList cleanup; ASSERT_EQ(ksys_memory_alloc_internal(32, &block), 0); cleanup.addMemory(&block); }
  EXPECT_TRUE(block == nullptr && ksys_memory_testLiveBlocks() == live);
}

// ---------------------------------------------------------------------------------------------
// Processor test

// Kinds 1 and 5 with the SIMD bit pass; anything else declines; a failing query is a failure, not
// a decline, and must not be masked into one.
TEST(ProcessorTest, AcceptsKinds1And5WithTheSimdBit) {
  const struct { uint32_t kind, flags; int32_t queryStatus, expected; } cases[] = {
      {1, 1, 0, 0}, {5, 0xFF, 0, 0}, {2, 1, 0, KIP_ERR_NOT_AVAILABLE}, {5, 0, 0, KIP_ERR_NOT_AVAILABLE}, {1, 1, -5, -5}};
  for (const auto& [kind, flags, queryStatus, expected] : cases) {
    kiptest::ScopedCpuinfo cpu(kind, flags, queryStatus);
    EXPECT_EQ(requirePackedIntegerProcessor(), expected) << kind << " " << flags << " " << queryStatus;
  }
  hwy::SetSupportedTargetsForTest(HWY_SCALAR | HWY_EMU128);
  EXPECT_EQ(requirePackedIntegerProcessor(), KIP_ERR_NOT_AVAILABLE) << "a machine with the portable targets only";
  hwy::SetSupportedTargetsForTest(0);
}

}  // namespace
