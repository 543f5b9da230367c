// The system layer: allocator, processor query, attention handler, critical section, shut-down hooks, jobs.
#include "frame/cleanup_list.hpp"
#include "platform/platform.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace {

TEST(Allocator, BlocksAre64ByteAlignedCountedAndClearedOnRequest) {
  for (const size_t size : {0, 65, 4097}) {
    const int64_t live = ksys_memory_testLiveBlocks();
    void *plain = nullptr, *clear = nullptr, *cache = nullptr;
    ASSERT_EQ(ksys_memory_alloc_internal(size, &plain) | ksys_memory_allocClear_internal(size, &clear) |
                  kxfCacheAlloc(size, &cache), 0);
    EXPECT_EQ(ksys_memory_testLiveBlocks(), live + 3);
    for (void* block : {plain, clear, cache}) EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 64, 0u) << size;
    for (size_t i = 0; i < size; ++i) ASSERT_EQ(static_cast<unsigned char*>(clear)[i], 0) << i;
    std::memset(plain, 0xA5, size);  // the whole size is writable (ASan checks)
    EXPECT_EQ(ksys_memory_free_internal(&plain) | ksys_memory_free_internal(&clear) | kxfFree(&cache), 0);
    EXPECT_TRUE(plain == nullptr && ksys_memory_testLiveBlocks() == live);
  }
}

TEST(Allocator, ReallocKeepsContentsBothWaysAndAFailureKeepsTheOldBlock) {
  void* block = nullptr;
  ASSERT_EQ(ksys_memory_realloc_internal(100, &block), 0);  // null grows like an allocation
  for (int i = 0; i < 100; ++i) static_cast<unsigned char*>(block)[i] = static_cast<unsigned char>(i * 7);
  ASSERT_EQ(ksys_memory_realloc_internal(5000, &block), 0);
  ASSERT_EQ(ksys_memory_realloc_internal(10, &block), 0);
  void* const before = block;
  ksys_memory_testFailAt(1);
  EXPECT_EQ(ksys_memory_realloc_internal(4096, &block), KIP_ERR_OUT_OF_MEMORY);
  ksys_memory_testFailAt(0);
  EXPECT_TRUE(block == before && static_cast<unsigned char*>(block)[9] == 63);
  ksys_memory_free_internal(&block);
}

TEST(Cpuinfo, FollowsHighwaysTargets) {
  const int64_t targets = hwy::SupportedTargets();
  const bool simd = (targets & ~static_cast<int64_t>(HWY_SCALAR | HWY_EMU128)) != 0;
  ksys_cpuinfo info{};
  ASSERT_EQ(ksys_cpuinfo_init(&info), 0);
  EXPECT_TRUE(info.simdTargets == targets && info.processorKind == (simd ? 1u : 2u) &&
              info.featureFlags == (simd ? KSYS_CPU_FEATURE_SIMD : 0u));
  // With only the portable targets left, the SIMD cores must not be chosen.
  hwy::SetSupportedTargetsForTest(HWY_SCALAR);
  const int32_t status = ksys_cpuinfo_init(&info);
  hwy::SetSupportedTargetsForTest(0);
  EXPECT_TRUE(status == 0 && info.processorKind == 2u && info.featureFlags == 0u);
}

struct AttentionContext { int32_t answer; std::atomic<int> calls{0}; };
int32_t countingHandler(void* context) {
  auto* c = static_cast<AttentionContext*>(context);
  return c->calls.fetch_add(1), c->answer;
}

TEST(Attention, HandlerDecidesAndOnlyNegativeAnswersStop) {
  AttentionContext stop{-1234}, go{7};
  EXPECT_TRUE(ksys_attention_setHandler(&countingHandler, &stop) == 0 && ksys_attention_check() == -1234);
  EXPECT_TRUE(ksys_attention_setHandler(&countingHandler, &go) == 0 && ksys_attention_check() == 0);
  ASSERT_EQ(ksys_attention_setHandler(nullptr, &stop), 0);
  EXPECT_TRUE(ksys_attention_check() == 0 && stop.calls.load() == 1 && go.calls.load() == 1);
}

// Each handler accepts only its own context: a check that paired one handler with the other's
// context while a setter runs would be caught.
AttentionContext contextA{-1}, contextB{-2};
int32_t handlerA(void* context) { return context == &contextA ? 0 : -100; }
int32_t handlerB(void* context) { return context == &contextB ? 0 : -100; }

TEST(Attention, HandlerAndContextChangeTogether) {
  std::atomic<bool> stop{false};
  std::thread setter([&] {
    for (int i = 0; i < 20000; ++i) ksys_attention_setHandler(i % 2 ? &handlerA : &handlerB, i % 2 ? &contextA : &contextB);
    stop = true;
  });
  int mismatches = 0;
  while (!stop) mismatches += ksys_attention_check() != 0;
  setter.join();
  EXPECT_EQ(ksys_attention_setHandler(nullptr, nullptr) + mismatches, 0);
}

// Sections made on several threads are one, and it lets one thread in at a time.
TEST(CriticalSection, OneSectionExcludesEveryThread) {
  constexpr int kThreads = 4, kRounds = 500;
  ksys_criticalSection* sections[kThreads] = {};
  std::atomic<int> inside{0}, overlaps{0}, ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ASSERT_EQ(ksys_criticalSection_constructSingleton(&sections[t]), 0);
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();  // start together
      for (int i = 0; i < kRounds; ++i) {
        ASSERT_EQ(ksys_criticalSection_wait(sections[t]), 0);
        overlaps += inside.fetch_add(1) != 0;
        std::this_thread::yield();  // invite the others in: without the section they overlap even on one core
        inside.fetch_sub(1);
        ASSERT_EQ(ksys_criticalSection_release(sections[t]), 0);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (auto* section : sections) EXPECT_EQ(section, sections[0]);
  EXPECT_EQ(overlaps.load(), 0);
}

std::vector<intptr_t> shutdownOrder;
int32_t recordShutdown(void* object) { return shutdownOrder.push_back(reinterpret_cast<intptr_t>(object)), 0; }

// Registrations from several threads are all kept; hooks run once, newest first.
TEST(Shutdown, HooksRunOnceNewestFirst) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] { for (int i = 0; i < 250; ++i) ksys_shutdown_register(&recordShutdown, nullptr); });
  for (auto& thread : threads) thread.join();
  for (intptr_t i = 1; i <= 3; ++i) ASSERT_EQ(ksys_shutdown_register(&recordShutdown, reinterpret_cast<void*>(i)), 0);
  ksys_shutdown_testRunAll(), ksys_shutdown_testRunAll();  // the second run finds nothing
  ASSERT_EQ(shutdownOrder.size(), 1003u);
  EXPECT_EQ(std::vector<intptr_t>(shutdownOrder.begin(), shutdownOrder.begin() + 4), (std::vector<intptr_t>{3, 2, 1, 0}));
}

// A job's block: its request, what to answer (below -1000: throw), where to record that it ran.
struct JobBlock { uint32_t index; int32_t answer; std::atomic<int>* runs; };

int32_t testJob(const ksys_jobParams* params) {
  const void* data = nullptr;
  if (const int32_t status = ksys_jobParams_getDataConst(params, &data); status < 0) return status;
  const auto* block = static_cast<const JobBlock*>(data);
  block->runs[block->index].fetch_add(1);
  if (block->answer < -1000) throw std::runtime_error("job failed");
  return block->answer;
}

// One request per answer, each with its own block, dispatched the way the threaded process builds
// a split run: any failure comes back as such, and a block that failed to be handed over is freed.
int32_t dispatch(const std::vector<int32_t>& answers, std::vector<std::atomic<int>>& runs,
                 std::vector<int32_t>* statuses = nullptr) {
  CleanupList cleanup;
  ksys_jobThreadGroup* group = nullptr;
  ksys_jobParams* params = nullptr;
  ksys_jobRequestSet* requests = nullptr;
  ksys_jobResultSet* results = nullptr;
  int32_t status = ksys_jobThreadGroup_construct(&group);
  if (status >= 0) cleanup.addObject<ksys_jobThreadGroup_destruct>(group), status = ksys_jobParams_construct(&params);
  if (status >= 0) cleanup.addObject<ksys_jobParams_destruct>(params), status = ksys_jobRequestSet_construct(&requests);
  if (status >= 0) cleanup.addObject<ksys_jobRequestSet_destruct>(requests), status = ksys_jobResultSet_construct(&results);
  if (status < 0) return cleanup.finish(status);
  cleanup.addObject<ksys_jobResultSet_destruct>(results);
  for (uint32_t i = 0; i < answers.size(); ++i) {
    void* block = nullptr;
    if ((status = ksys_memory_alloc_internal(sizeof(JobBlock), &block)) < 0) return cleanup.finish(status);
    *static_cast<JobBlock*>(block) = JobBlock{i, answers[i], runs.data()};
    if ((status = ksys_jobParams_takeData(params, &block, &ksys_memory_free_internal)) < 0)
      return ksys_memory_free_internal(&block), cleanup.finish(status);  // the block is still ours
    if ((status = ksys_jobRequestSet_addFuncAndParams(requests, &testJob, params)) < 0) return cleanup.finish(status);
  }
  status = ksys_jobThreadGroup_dispatchAndWait(group, requests, results);
  for (uint32_t i = 0; statuses != nullptr && i <= answers.size(); ++i)
    EXPECT_EQ(ksys_jobResultSet_getStatus(results, i, &statuses->emplace_back()), 0);
  return cleanup.finish(status);
}

std::vector<int32_t> answersWith(size_t count, std::initializer_list<std::pair<size_t, int32_t>> set) {
  std::vector<int32_t> answers(count, 0);
  for (auto [index, answer] : set) answers[index] = answer;
  return answers;
}

// Every job runs once with its own block and has its status recorded; the earliest failure in
// adding order wins, whichever job ends first; a throw is a failure of its own.
TEST(Jobs, DispatchRunsEveryJobOnceAndReportsTheFirstFailureInOrderOrOfAllocation) {
  const struct { std::vector<int32_t> answers; int32_t expected; } cases[] = {
      {{}, 0}, {answersWith(300, {{7, 3}, {250, -9}, {20, -4}, {21, -5}}), -4},
      {answersWith(64, {{40, -2000}}), KIP_ERR_JOB_FAILED}};
  const int64_t live = ksys_memory_testLiveBlocks();
  for (const auto& [answers, expected] : cases) {
    std::vector<std::atomic<int>> runs(answers.size());
    std::vector<int32_t> statuses;
    EXPECT_EQ(dispatch(answers, runs, &statuses), expected);
    for (uint32_t i = 0; i < answers.size(); ++i)
      EXPECT_TRUE(runs[i].load() == 1 && statuses[i] == (answers[i] < -1000 ? KIP_ERR_JOB_FAILED : answers[i])) << i;
    EXPECT_EQ(statuses.back(), 0) << "a request that never ran reports 0";
    EXPECT_EQ(ksys_memory_testLiveBlocks(), live) << "blocks not released";
  }
  // Every allocation may fail and comes back as such with nothing leaked: four objects, twenty
  // blocks (past the first growth of every array), and an array each for blocks, requests, results.
  std::vector<std::atomic<int>> runs(20);
  EXPECT_GE(kiptest::sweepAllocationFailures([&] { return dispatch(answersWith(20, {}), runs); }), 4 + 20 + 3);
}

// Blocks are released newest first, a failed release is reported, and a refused block stays the caller's.
std::vector<void*> releasedBlocks;
int32_t recordRelease(void** block) {
  releasedBlocks.push_back(*block);
  return *static_cast<int*>(std::exchange(*block, nullptr)) < 0 ? -31 : 0;
}

TEST(Jobs, DestroyReleasesEveryBlockAndReportsAFailedRelease) {
  int values[3] = {1, -1, 2};  // the second one's release fails
  ksys_jobParams* params = nullptr;
  ASSERT_EQ(ksys_jobParams_construct(&params), 0);
  for (void* block : {&values[0], &values[1], &values[2]}) ASSERT_EQ(ksys_jobParams_takeData(params, &block, &recordRelease), 0);
  void* refused = &values[0];
  EXPECT_TRUE(ksys_jobParams_takeData(params, &refused, nullptr) == KIP_ERR_NULL_POINTER && refused == &values[0]);
  EXPECT_EQ(ksys_jobParams_destruct(params), -31);
  EXPECT_EQ(releasedBlocks, (std::vector<void*>{&values[2], &values[1], &values[0]}));
}

}  // namespace
