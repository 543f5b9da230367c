#include "support/support.hpp"

#include <gtest/gtest.h>

#include <map>
#include <mutex>

namespace kiptest {

namespace {
std::mutex hookMutex;
std::set<std::string> forbiddenNames;
std::map<std::string, int> askedNames;

int32_t testHook(const char* name) {
  std::lock_guard<std::mutex> lock(hookMutex);
  ++askedNames[name];
  return forbiddenNames.count(name) ? 1 : 0;
}
}  // namespace

ScopedHook::ScopedHook(std::initializer_list<std::string> forbidden) : previous_(kprt_isOptimizationInhibitedFP) {
  {
    std::lock_guard<std::mutex> lock(hookMutex);
    forbiddenNames = forbidden;
    askedNames.clear();
  }
  kprt_isOptimizationInhibitedFP = &testHook;
}

ScopedHook::~ScopedHook() { kprt_isOptimizationInhibitedFP = previous_; }

int ScopedHook::askedCount(const std::string& name) {
  std::lock_guard<std::mutex> lock(hookMutex);
  auto it = askedNames.find(name);
  return it == askedNames.end() ? 0 : it->second;
}

ScopedCpuinfo::ScopedCpuinfo(uint32_t processorKind, uint32_t featureFlags, int32_t status) {
  ksys_cpuinfo info{processorKind, featureFlags, 0};
  ksys_cpuinfo_testOverride(&info, status);
}

int sweepAllocationFailures(const std::function<int32_t()>& call, const std::function<void()>& afterFailure,
                            const std::function<int64_t()>& heldByCaller) {
  const auto live = [&] { return ksys_memory_testLiveBlocks() - (heldByCaller ? heldByCaller() : 0); };
  for (uint64_t failAt = 1; failAt < 10000; ++failAt) {
    const int64_t liveBefore = live();
    const uint64_t countBefore = ksys_memory_testAllocationCount();
    ksys_memory_testFailAt(failAt);
    const int32_t status = call();
    ksys_memory_testFailAt(0);
    const uint64_t made = ksys_memory_testAllocationCount() - countBefore;
    if (made < failAt) {
      EXPECT_GE(status, 0) << "run with no failing allocation failed";
      return static_cast<int>(made);
    }
    EXPECT_EQ(status, KIP_ERR_OUT_OF_MEMORY) << "allocation " << failAt << " failed";
    EXPECT_EQ(live(), liveBefore) << "leak after allocation " << failAt << " failed";
    if (afterFailure) afterFailure();
  }
  ADD_FAILURE() << "the call never stopped allocating";
  return -1;
}

}  // namespace kiptest
