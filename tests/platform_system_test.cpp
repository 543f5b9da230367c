// The system layer: allocator, attention handler, shut-down hooks, jobs.
#include "platform/platform.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace {

TEST(Allocator, BlocksAre64ByteAlignedCountedAndClearedOnRequest) {
  const int64_t live = ksys_memory_testLiveBlocks();
  void *plain = nullptr, *clear = nullptr, *cache = nullptr;
  ASSERT_EQ(ksys_memory_alloc_internal(4097, &plain) | ksys_memory_allocClear_internal(4097, &clear) | kxfCacheAlloc(65, &cache), 0);
  for (void* block : {plain, clear, cache}) EXPECT_TRUE(reinterpret_cast<uintptr_t>(block) % 64 == 0 && ksys_memory_testLiveBlocks() == live + 3);
  for (size_t i = 0; i < 4097; ++i) ASSERT_EQ(static_cast<unsigned char*>(clear)[i], 0) << i;
  EXPECT_EQ(ksys_memory_free_internal(&plain) | ksys_memory_free_internal(&clear) | kxfFree(&cache), 0);
  EXPECT_TRUE(plain == nullptr && ksys_memory_testLiveBlocks() == live);
}

TEST(Allocator, ReallocFailureKeepsTheOldBlock) {
  void* block = nullptr;
  ASSERT_EQ(ksys_memory_realloc_internal(100, &block), 0);  // null grows like an allocation
  void* const before = (static_cast<unsigned char*>(block)[99] = 63, block);
  const int32_t status = (ksys_memory_testFailAt(1), ksys_memory_realloc_internal(4096, &block));
  ksys_memory_testFailAt(0);
  EXPECT_TRUE(status == KIP_ERR_OUT_OF_MEMORY && block == before && static_cast<unsigned char*>(block)[99] == 63);
  ksys_memory_free_internal(&block);
}

int32_t answerHandler(void* context) { return *static_cast<int32_t*>(context); }

TEST(Attention, HandlerDecidesAndOnlyNegativeAnswersStop) {
  int32_t stop = -1234, go = 7;
  EXPECT_TRUE(ksys_attention_setHandler(&answerHandler, &stop) == 0 && ksys_attention_check() == -1234);
  EXPECT_TRUE(ksys_attention_setHandler(&answerHandler, &go) == 0 && ksys_attention_check() == 0);
  EXPECT_TRUE(ksys_attention_setHandler(nullptr, &stop) == 0 && ksys_attention_check() == 0);
}

// Each handler accepts only its own context: a check that paired one handler with the other's
// context while a setter runs would be caught.
int contextA, contextB;
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

std::vector<intptr_t> shutdownOrder;
int32_t recordShutdown(void* object) { return shutdownOrder.push_back(reinterpret_cast<intptr_t>(object)), 0; }

// Registrations from several threads are all kept; hooks run once, newest first.
TEST(Shutdown, HooksRunOnceNewestFirst) {
  std::thread threads[4];
  for (auto& t : threads) t = std::thread([] { for (int i = 0; i < 250; ++i) ksys_shutdown_register(&recordShutdown, nullptr); });
  for (auto& thread : threads) thread.join();
  for (intptr_t i = 1; i <= 3; ++i) ASSERT_EQ(ksys_shutdown_register(&recordShutdown, reinterpret_cast<void*>(i)), 0);
  ksys_shutdown_testRunAll(), ksys_shutdown_testRunAll();  // the second run finds nothing
  ASSERT_EQ(shutdownOrder.size(), 1003u);
  EXPECT_TRUE(shutdownOrder[0] == 3 && shutdownOrder[1] == 2 && shutdownOrder[2] == 1 && shutdownOrder[3] == 0);
}

// A job's block: its request, what to answer (below -1000: throw), where to record that it ran.
struct JobBlock { uint32_t index; int32_t answer; std::atomic<int>* runs; };

int32_t testJob(const ksys_jobParams* params) {
  const void* data = nullptr;
  if (const int32_t status = ksys_jobParams_getDataConst(params, &data); status < 0) return status;
  const auto* block = static_cast<const JobBlock*>(data);
  if (block->runs[block->index].fetch_add(1), block->answer < -1000) throw std::runtime_error("job failed");
  return block->answer;
}

// Every job runs once with its own block and has its status recorded; the earliest failure in
// adding order wins, whichever job ends first; a throw is a failure of its own. (Allocation failures
// inside a dispatch are swept through the threaded transform.)
TEST(Jobs, DispatchRunsEveryJobOnceAndReportsTheFirstFailureInOrder) {
  std::vector<int32_t> answers(300, 0);
  answers[7] = 3, answers[250] = -9, answers[20] = -4, answers[21] = -5, answers[40] = -2000;
  const int64_t live = ksys_memory_testLiveBlocks();
  std::vector<std::atomic<int>> runs(answers.size());
  ksys_jobThreadGroup* group = nullptr;
  ksys_jobParams* params = nullptr;
  ksys_jobRequestSet* requests = nullptr;
  ksys_jobResultSet* results = nullptr;
  ASSERT_EQ(ksys_jobThreadGroup_construct(&group) | ksys_jobParams_construct(&params) |
                ksys_jobRequestSet_construct(&requests) | ksys_jobResultSet_construct(&results), 0);
  for (uint32_t i = 0; i < answers.size(); ++i) {
    void* block = nullptr;
    ASSERT_EQ(ksys_memory_alloc_internal(sizeof(JobBlock), &block), 0);
    *static_cast<JobBlock*>(block) = JobBlock{i, answers[i], runs.data()};
    ASSERT_EQ(ksys_jobParams_takeData(params, &block, &ksys_memory_free_internal) |
                  ksys_jobRequestSet_addFuncAndParams(requests, &testJob, params), 0);
  }
  EXPECT_EQ(ksys_jobThreadGroup_dispatchAndWait(group, requests, results), -4);
  for (uint32_t i = 0; i <= answers.size(); ++i) {
    int32_t status = 7;  // past the last request: one that never ran reports 0
    EXPECT_TRUE(ksys_jobResultSet_getStatus(results, i, &status) == 0 &&
                (i == answers.size() ? status == 0 : runs[i].load() == 1 && status == (answers[i] < -1000 ? KIP_ERR_JOB_FAILED : answers[i]))) << i;
  }
  ksys_jobResultSet_destruct(results), ksys_jobRequestSet_destruct(requests), ksys_jobParams_destruct(params), ksys_jobThreadGroup_destruct(group);
  EXPECT_EQ(ksys_memory_testLiveBlocks(), live) << "blocks not released";
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
