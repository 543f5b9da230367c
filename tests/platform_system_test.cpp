// The system layer: allocator, processor query, attention handler, critical section, shut-down
// hooks and the job thread group.
#include "frame/cleanup_list.hpp"
#include "platform/platform.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>
#include <hwy/targets.h>
#include <tbb/global_control.h>
#include <tbb/task_arena.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// ---------------------------------------------------------------------------------------------
// Allocator

class AllocatorAlignment : public testing::TestWithParam<size_t> {};

TEST_P(AllocatorAlignment, BlocksAre64ByteAlignedAndCounted) {
  const int64_t live = ksys_memory_testLiveBlocks();
  void* plain = nullptr;
  void* clear = nullptr;
  void* cache = nullptr;
  ASSERT_EQ(ksys_memory_alloc_internal(GetParam(), &plain), 0);
  ASSERT_EQ(ksys_memory_allocClear_internal(GetParam(), &clear), 0);
  ASSERT_EQ(kxfCacheAlloc(GetParam(), &cache), 0);
  EXPECT_EQ(ksys_memory_testLiveBlocks(), live + 3);
  for (void* block : {plain, clear, cache}) EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 64, 0u);
  for (size_t i = 0; i < GetParam(); ++i) ASSERT_EQ(static_cast<unsigned char*>(clear)[i], 0) << i;
  std::memset(plain, 0xA5, GetParam());  // the whole size is writable (ASan checks)
  EXPECT_EQ(ksys_memory_free_internal(&plain), 0);
  EXPECT_EQ(plain, nullptr);
  EXPECT_EQ(ksys_memory_free_internal(&clear), 0);
  EXPECT_EQ(kxfFree(&cache), 0);
  EXPECT_EQ(ksys_memory_testLiveBlocks(), live);
}

INSTANTIATE_TEST_SUITE_P(Sizes, AllocatorAlignment, testing::Values(0, 1, 63, 64, 65, 4097));

TEST(Allocator, ReallocKeepsContentsBothWays) {
  void* block = nullptr;
  ASSERT_EQ(ksys_memory_realloc_internal(100, &block), 0);  // null grows like an allocation
  for (int i = 0; i < 100; ++i) static_cast<unsigned char*>(block)[i] = static_cast<unsigned char>(i * 7);
  ASSERT_EQ(ksys_memory_realloc_internal(5000, &block), 0);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(static_cast<unsigned char*>(block)[i], static_cast<unsigned char>(i * 7));
  ASSERT_EQ(ksys_memory_realloc_internal(10, &block), 0);
  for (int i = 0; i < 10; ++i) ASSERT_EQ(static_cast<unsigned char*>(block)[i], static_cast<unsigned char>(i * 7));
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 64, 0u);
  ksys_memory_free_internal(&block);
}

TEST(Allocator, FailedReallocLeavesTheOldBlock) {
  void* block = nullptr;
  ASSERT_EQ(ksys_memory_alloc_internal(16, &block), 0);
  std::memset(block, 0x3C, 16);
  void* const before = block;
  ksys_memory_testFailAt(1);
  EXPECT_EQ(ksys_memory_realloc_internal(4096, &block), KIP_ERR_OUT_OF_MEMORY);
  ksys_memory_testFailAt(0);
  ASSERT_EQ(block, before);
  EXPECT_EQ(static_cast<unsigned char*>(block)[15], 0x3C);
  ksys_memory_free_internal(&block);
}

TEST(Allocator, FailAtFailsExactlyTheNthAllocation) {
  const int64_t live = ksys_memory_testLiveBlocks();
  const uint64_t count = ksys_memory_testAllocationCount();
  void* blocks[6] = {};
  int32_t statuses[6];
  ksys_memory_testFailAt(3);
  for (int i = 0; i < 6; ++i) statuses[i] = ksys_memory_alloc_internal(8, &blocks[i]);
  ksys_memory_testFailAt(0);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(statuses[i], i == 2 ? KIP_ERR_OUT_OF_MEMORY : 0) << i;
    EXPECT_EQ(blocks[i] == nullptr, i == 2) << "a failed allocation must not write its address";
  }
  EXPECT_EQ(ksys_memory_testAllocationCount(), count + 6);
  EXPECT_EQ(ksys_memory_testLiveBlocks(), live + 5);
  for (void*& block : blocks) ksys_memory_free_internal(&block);
  EXPECT_EQ(ksys_memory_testLiveBlocks(), live);
}

// ---------------------------------------------------------------------------------------------
// Processor query

TEST(Cpuinfo, FollowsHighwaysTargets) {
  ksys_cpuinfo info{};
  ASSERT_EQ(ksys_cpuinfo_init(&info), 0);
  const int64_t targets = hwy::SupportedTargets();
  EXPECT_EQ(info.simdTargets, targets);
  const bool simd = (targets & ~static_cast<int64_t>(HWY_SCALAR | HWY_EMU128)) != 0;
  EXPECT_EQ(info.processorKind, simd ? 1u : 2u);
  EXPECT_EQ(info.featureFlags, simd ? KSYS_CPU_FEATURE_SIMD : 0u);

  // With only the portable targets left, the SIMD cores must not be chosen.
  hwy::SetSupportedTargetsForTest(HWY_SCALAR);
  ksys_cpuinfo scalar{};
  const int32_t status = ksys_cpuinfo_init(&scalar);
  hwy::SetSupportedTargetsForTest(0);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(scalar.processorKind, 2u);
  EXPECT_EQ(scalar.featureFlags, 0u);
}

TEST(Cpuinfo, OverrideReplacesTheAnswerUntilCleared) {
  ksys_cpuinfo forced{5, 0, 42};
  ksys_cpuinfo_testOverride(&forced, 0);
  ksys_cpuinfo info{};
  EXPECT_EQ(ksys_cpuinfo_init(&info), 0);
  EXPECT_EQ(info.processorKind, 5u);
  EXPECT_EQ(info.simdTargets, 42);

  ksys_cpuinfo_testOverride(&forced, -77);
  ksys_cpuinfo untouched{9, 9, 9};
  EXPECT_EQ(ksys_cpuinfo_init(&untouched), -77);
  EXPECT_EQ(untouched.processorKind, 9u) << "written on failure";

  ksys_cpuinfo_testOverride(nullptr, 0);
  ASSERT_EQ(ksys_cpuinfo_init(&info), 0);
  EXPECT_EQ(info.simdTargets, hwy::SupportedTargets());
  EXPECT_EQ(ksys_cpuinfo_init(nullptr), KIP_ERR_NULL_POINTER);
}

// ---------------------------------------------------------------------------------------------
// Attention

struct AttentionContext {
  int32_t answer;
  std::atomic<int> calls{0};
};

int32_t countingHandler(void* context) {
  auto* c = static_cast<AttentionContext*>(context);
  c->calls.fetch_add(1);
  return c->answer;
}

TEST(Attention, HandlerDecidesAndOnlyNegativeAnswersStop) {
  EXPECT_EQ(ksys_attention_check(), 0);
  AttentionContext stop{-1234};
  AttentionContext go{7};
  ASSERT_EQ(ksys_attention_setHandler(&countingHandler, &stop), 0);
  EXPECT_EQ(ksys_attention_check(), -1234);
  ASSERT_EQ(ksys_attention_setHandler(&countingHandler, &go), 0);
  EXPECT_EQ(ksys_attention_check(), 0);
  ASSERT_EQ(ksys_attention_setHandler(nullptr, &stop), 0);
  EXPECT_EQ(ksys_attention_check(), 0);
  EXPECT_EQ(stop.calls.load(), 1);
  EXPECT_EQ(go.calls.load(), 1);
}

// Each handler accepts only its own context: a check that paired one handler with the other's
// context while a setter runs would be caught.
AttentionContext contextA{-1};
AttentionContext contextB{-2};
int32_t handlerA(void* context) { return context == &contextA ? 0 : -100; }
int32_t handlerB(void* context) { return context == &contextB ? 0 : -100; }

TEST(Attention, HandlerAndContextChangeTogether) {
  std::atomic<bool> stop{false};
  std::thread setter([&] {
    for (int i = 0; i < 20000; ++i) {
      if (i % 2) {
        ksys_attention_setHandler(&handlerA, &contextA);
      } else {
        ksys_attention_setHandler(&handlerB, &contextB);
      }
    }
    stop = true;
  });
  int mismatches = 0;
  while (!stop) mismatches += ksys_attention_check() != 0;
  setter.join();
  ksys_attention_setHandler(nullptr, nullptr);
  EXPECT_EQ(mismatches, 0);
}

// ---------------------------------------------------------------------------------------------
// Critical section

TEST(CriticalSection, OneSectionExcludesEveryThread) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 5000;
  ksys_criticalSection* sections[kThreads] = {};
  long counter = 0;  // deliberately not atomic: only the section protects it
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ASSERT_EQ(ksys_criticalSection_constructSingleton(&sections[t]), 0);
      for (int i = 0; i < kRounds; ++i) {
        ASSERT_EQ(ksys_criticalSection_wait(sections[t]), 0);
        overlaps += inside.fetch_add(1) != 0;
        ++counter;
        inside.fetch_sub(1);
        ASSERT_EQ(ksys_criticalSection_release(sections[t]), 0);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (auto* section : sections) EXPECT_EQ(section, sections[0]);
  EXPECT_EQ(counter, long{kThreads} * kRounds);
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(ksys_criticalSection_constructSingleton(nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(ksys_criticalSection_wait(nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(ksys_criticalSection_release(nullptr), KIP_ERR_NULL_POINTER);
}

// ---------------------------------------------------------------------------------------------
// Shut-down hooks

std::vector<intptr_t> shutdownOrder;
int32_t recordShutdown(void* object) {
  shutdownOrder.push_back(reinterpret_cast<intptr_t>(object));
  return 0;
}

TEST(Shutdown, HooksRunOnceNewestFirst) {
  shutdownOrder.clear();
  for (intptr_t i = 1; i <= 3; ++i) ASSERT_EQ(ksys_shutdown_register(&recordShutdown, reinterpret_cast<void*>(i)), 0);
  ksys_shutdown_testRunAll();
  EXPECT_EQ(shutdownOrder, (std::vector<intptr_t>{3, 2, 1}));
  ksys_shutdown_testRunAll();
  EXPECT_EQ(shutdownOrder.size(), 3u) << "a hook ran twice";
  EXPECT_EQ(ksys_shutdown_register(nullptr, nullptr), KIP_ERR_NULL_POINTER);
}

TEST(Shutdown, FailureSwitchRefusesRegistrations) {
  shutdownOrder.clear();
  ksys_shutdown_testFailRegistration(-55);
  EXPECT_EQ(ksys_shutdown_register(&recordShutdown, reinterpret_cast<void*>(1)), -55);
  EXPECT_EQ(ksys_shutdown_register(&recordShutdown, reinterpret_cast<void*>(2)), -55);
  ksys_shutdown_testFailRegistration(0);
  ASSERT_EQ(ksys_shutdown_register(&recordShutdown, reinterpret_cast<void*>(3)), 0);
  ksys_shutdown_testRunAll();
  EXPECT_EQ(shutdownOrder, (std::vector<intptr_t>{3}));
}

TEST(Shutdown, ConcurrentRegistrationsAreAllKept) {
  shutdownOrder.clear();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 250; ++i) ksys_shutdown_register(&recordShutdown, nullptr);
    });
  }
  for (auto& thread : threads) thread.join();
  ksys_shutdown_testRunAll();
  EXPECT_EQ(shutdownOrder.size(), 1000u);
}

// ---------------------------------------------------------------------------------------------
// Jobs

// The job objects of one dispatch, destroyed with the scope.
struct JobObjects {
  ksys_jobThreadGroup* group = nullptr;
  ksys_jobParams* params = nullptr;
  ksys_jobRequestSet* requests = nullptr;
  ksys_jobResultSet* results = nullptr;
  JobObjects() {
    EXPECT_EQ(ksys_jobThreadGroup_construct(&group), 0);
    EXPECT_EQ(ksys_jobParams_construct(&params), 0);
    EXPECT_EQ(ksys_jobRequestSet_construct(&requests), 0);
    EXPECT_EQ(ksys_jobResultSet_construct(&results), 0);
  }
  ~JobObjects() {
    EXPECT_EQ(ksys_jobResultSet_destruct(results), 0);
    EXPECT_EQ(ksys_jobRequestSet_destruct(requests), 0);
    EXPECT_EQ(ksys_jobParams_destruct(params), 0);
    EXPECT_EQ(ksys_jobThreadGroup_destruct(group), 0);
  }
};

// A job's block: which request it belongs to, what to answer, where to record that it ran.
struct JobBlock {
  uint32_t index;
  int32_t answer;
  bool throws;
  std::atomic<int>* runs;
};

int32_t testJob(const ksys_jobParams* params) {
  const void* data = nullptr;
  const int32_t status = ksys_jobParams_getDataConst(params, &data);
  if (status < 0) return status;
  const auto* block = static_cast<const JobBlock*>(data);
  block->runs[block->index].fetch_add(1);
  if (block->throws) throw std::runtime_error("job failed");
  return block->answer;
}

// Adds one request with its own block; answers[i] < -1000 means "throw".
void addJobs(JobObjects& jobs, const std::vector<int32_t>& answers, std::atomic<int>* runs) {
  for (uint32_t i = 0; i < answers.size(); ++i) {
    void* block = nullptr;
    ASSERT_EQ(ksys_memory_alloc_internal(sizeof(JobBlock), &block), 0);
    *static_cast<JobBlock*>(block) = JobBlock{i, answers[i], answers[i] < -1000, runs};
    ASSERT_EQ(ksys_jobParams_takeData(jobs.params, &block, &ksys_memory_free_internal), 0);
    EXPECT_EQ(block, nullptr) << "ownership not taken";
    ASSERT_EQ(ksys_jobRequestSet_addFuncAndParams(jobs.requests, &testJob, jobs.params), 0);
  }
}

struct DispatchCase {
  const char* name;
  std::vector<int32_t> answers;
  int32_t expected;
};

void PrintTo(const DispatchCase& c, std::ostream* os) { *os << c.name; }

class JobDispatch : public testing::TestWithParam<DispatchCase> {};

TEST_P(JobDispatch, EveryJobRunsOnceWithItsOwnBlock) {
  const DispatchCase& c = GetParam();
  const int64_t live = ksys_memory_testLiveBlocks();
  {
    std::vector<std::atomic<int>> runs(c.answers.size());
    JobObjects jobs;
    addJobs(jobs, c.answers, runs.data());
    EXPECT_EQ(ksys_jobThreadGroup_dispatchAndWait(jobs.group, jobs.requests, jobs.results), c.expected);
    for (uint32_t i = 0; i < c.answers.size(); ++i) {
      EXPECT_EQ(runs[i].load(), 1) << "request " << i;
      int32_t status = 1;
      ASSERT_EQ(ksys_jobResultSet_getStatus(jobs.results, i, &status), 0);
      EXPECT_EQ(status, c.answers[i] < -1000 ? KIP_ERR_JOB_FAILED : c.answers[i]) << "request " << i;
    }
  }
  EXPECT_EQ(ksys_memory_testLiveBlocks(), live) << "blocks not released";
}

std::vector<int32_t> answersWith(size_t count, std::initializer_list<std::pair<size_t, int32_t>> set) {
  std::vector<int32_t> answers(count, 0);
  for (auto [index, answer] : set) answers[index] = answer;
  return answers;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JobDispatch,
    testing::Values(DispatchCase{"none", {}, 0}, DispatchCase{"allSucceed", answersWith(300, {{7, 3}}), 0},
                    // The earliest failure in adding order wins, whichever job ends first.
                    DispatchCase{"firstInOrder", answersWith(300, {{250, -9}, {20, -4}, {21, -5}}), -4},
                    DispatchCase{"lastOnly", answersWith(300, {{299, -6}}), -6},
                    DispatchCase{"throwMaps", answersWith(64, {{40, -2000}}), KIP_ERR_JOB_FAILED},
                    DispatchCase{"failureBeforeThrow", answersWith(64, {{40, -2000}, {3, -8}}), -8}),
    [](const testing::TestParamInfo<DispatchCase>& info) { return info.param.name; });

TEST(Jobs, RequestCapturesTheBlockTakenLast) {
  static int first = 1;
  static int second = 2;
  JobObjects jobs;
  auto borrow = [](void** block) -> int32_t {
    *block = nullptr;
    return 0;
  };
  void* block = &first;
  ASSERT_EQ(ksys_jobParams_takeData(jobs.params, &block, borrow), 0);
  auto job = [](const ksys_jobParams* params) -> int32_t {
    const void* data = nullptr;
    ksys_jobParams_getDataConst(params, &data);
    return -*static_cast<const int*>(data);
  };
  ASSERT_EQ(ksys_jobRequestSet_addFuncAndParams(jobs.requests, job, jobs.params), 0);
  block = &second;
  ASSERT_EQ(ksys_jobParams_takeData(jobs.params, &block, borrow), 0);
  ASSERT_EQ(ksys_jobRequestSet_addFuncAndParams(jobs.requests, job, jobs.params), 0);

  const void* latest = nullptr;
  ASSERT_EQ(ksys_jobParams_getDataConst(jobs.params, &latest), 0);
  EXPECT_EQ(latest, &second);
  EXPECT_EQ(ksys_jobThreadGroup_dispatchAndWait(jobs.group, jobs.requests, jobs.results), -1);
  int32_t status = 0;
  ksys_jobResultSet_getStatus(jobs.results, 1, &status);
  EXPECT_EQ(status, -2);
  ksys_jobResultSet_getStatus(jobs.results, 2, &status);
  EXPECT_EQ(status, 0) << "a request that never ran reports 0";
}

std::vector<void*> releasedBlocks;
int32_t recordRelease(void** block) {
  releasedBlocks.push_back(*block);
  const bool fail = *static_cast<int*>(*block) < 0;
  *block = nullptr;
  return fail ? -31 : 0;
}

TEST(Jobs, DestroyReleasesEveryBlockAndReportsAFailedRelease) {
  int values[3] = {1, -1, 2};  // the second one's release fails
  releasedBlocks.clear();
  ksys_jobParams* params = nullptr;
  ASSERT_EQ(ksys_jobParams_construct(&params), 0);
  for (int& value : values) {
    void* block = &value;
    ASSERT_EQ(ksys_jobParams_takeData(params, &block, &recordRelease), 0);
  }
  EXPECT_EQ(ksys_jobParams_destruct(params), -31);
  EXPECT_EQ(releasedBlocks, (std::vector<void*>{&values[2], &values[1], &values[0]}));
}

TEST(Jobs, BadArgumentsAndNullDestroys) {
  ksys_jobParams* params = nullptr;
  ASSERT_EQ(ksys_jobParams_construct(&params), 0);
  int value = 0;
  void* block = &value;
  EXPECT_EQ(ksys_jobParams_takeData(params, &block, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(block, &value) << "a refused block stays the caller's";
  EXPECT_EQ(ksys_jobParams_takeData(nullptr, &block, &ksys_memory_free_internal), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(ksys_jobRequestSet_addFuncAndParams(nullptr, &testJob, params), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(ksys_jobThreadGroup_dispatchAndWait(nullptr, nullptr, nullptr), KIP_ERR_NULL_POINTER);
  ksys_jobThreadState state{};
  EXPECT_EQ(ksys_jobGetCurrentThreadState(&state, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(ksys_jobParams_destruct(params), 0);
  EXPECT_EQ(ksys_jobThreadGroup_destruct(nullptr), 0);
  EXPECT_EQ(ksys_jobParams_destruct(nullptr), 0);
  EXPECT_EQ(ksys_jobRequestSet_destruct(nullptr), 0);
  EXPECT_EQ(ksys_jobResultSet_destruct(nullptr), 0);
}

int32_t threadCountOf(ksys_jobThreadGroup* group) {
  ksys_jobThreadState state{-1};
  EXPECT_EQ(ksys_jobGetCurrentThreadState(&state, group), 0);
  return state.threadCount;
}

TEST(Jobs, ThreadCountFollowsTheApplicationsLimits) {
  ksys_jobThreadGroup* group = nullptr;
  ASSERT_EQ(ksys_jobThreadGroup_construct(&group), 0);
  EXPECT_EQ(threadCountOf(group), tbb::this_task_arena::max_concurrency());
  {
    tbb::global_control limit(tbb::global_control::max_allowed_parallelism, 1);
    EXPECT_EQ(threadCountOf(group), 1);
  }
  tbb::task_arena single(1);
  single.execute([&] { EXPECT_EQ(threadCountOf(group), 1); });
  tbb::task_arena pair(2);
  pair.execute([&] { EXPECT_EQ(threadCountOf(group), 2); });
  ksys_jobThreadGroup_destruct(group);
}

TEST(Jobs, SingleThreadArenaStillRunsEveryJob) {
  std::vector<std::atomic<int>> runs(50);
  tbb::task_arena single(1);
  single.execute([&] {
    JobObjects jobs;
    addJobs(jobs, answersWith(50, {{30, -3}}), runs.data());
    EXPECT_EQ(ksys_jobThreadGroup_dispatchAndWait(jobs.group, jobs.requests, jobs.results), -3);
  });
  for (auto& run : runs) EXPECT_EQ(run.load(), 1);
}

// The whole life of a split run, as the threaded process builds it: every allocation of it may
// fail, and each failure must come back as such with nothing leaked, the block that failed to be
// handed over included.
TEST(Jobs, EveryAllocationFailureIsReportedWithoutLeaks) {
  constexpr uint32_t kJobs = 20;  // past the first growth of every array
  std::vector<std::atomic<int>> runs(kJobs);
  const int allocations = kiptest::sweepAllocationFailures([&]() -> int32_t {
    CleanupList cleanup;
    ksys_jobThreadGroup* group = nullptr;
    ksys_jobParams* params = nullptr;
    ksys_jobRequestSet* requests = nullptr;
    ksys_jobResultSet* results = nullptr;
    int32_t status = ksys_jobThreadGroup_construct(&group);
    if (status < 0) return cleanup.finish(status);
    cleanup.addObject<ksys_jobThreadGroup_destruct>(group);
    status = ksys_jobParams_construct(&params);
    if (status < 0) return cleanup.finish(status);
    cleanup.addObject<ksys_jobParams_destruct>(params);
    status = ksys_jobRequestSet_construct(&requests);
    if (status < 0) return cleanup.finish(status);
    cleanup.addObject<ksys_jobRequestSet_destruct>(requests);
    status = ksys_jobResultSet_construct(&results);
    if (status < 0) return cleanup.finish(status);
    cleanup.addObject<ksys_jobResultSet_destruct>(results);
    for (uint32_t i = 0; i < kJobs; ++i) {
      void* block = nullptr;
      status = ksys_memory_alloc_internal(sizeof(JobBlock), &block);
      if (status < 0) return cleanup.finish(status);
      *static_cast<JobBlock*>(block) = JobBlock{i, 0, false, runs.data()};
      status = ksys_jobParams_takeData(params, &block, &ksys_memory_free_internal);
      if (status < 0) {
        ksys_memory_free_internal(&block);
        return cleanup.finish(status);
      }
      status = ksys_jobRequestSet_addFuncAndParams(requests, &testJob, params);
      if (status < 0) return cleanup.finish(status);
    }
    return cleanup.finish(ksys_jobThreadGroup_dispatchAndWait(group, requests, results));
  });
  // Four objects, twenty blocks, and at least one array each for blocks, requests and results.
  EXPECT_GE(allocations, 4 + int{kJobs} + 3);
}

}  // namespace
