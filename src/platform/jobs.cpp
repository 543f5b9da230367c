// The job thread group: runs a request set on oneTBB in the caller's task arena.
#include "platform/jobs_internal.hpp"

#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

namespace {

// TBB would carry an exception out of the job to the waiting thread and rethrow it there; a job
// has no status to report for it, so it becomes a job failure of its own.
int32_t runRequest(const ksys_jobRequest& request) noexcept {
  try {
    return request.function(&request.view);
  } catch (...) {
    return KIP_ERR_JOB_FAILED;
  }
}

int32_t runAll(const ksys_jobRequestSet& requests, int32_t* statuses) {
  // TBB already orders the caller's writes before each job and each job before the return of
  // parallel_for, but inside its own library, where a thread sanitizer cannot see it. This counter
  // states the same order in our code: released here, acquired by every job; released by every
  // job, acquired after the wait.
  std::atomic<uint32_t> finished{0};
  finished.store(0, std::memory_order_release);
  try {
    // Isolated so that this thread, while it waits, takes no unrelated task of the caller's that
    // could call back into kip and stack up on it.
    tbb::this_task_arena::isolate([&] {
      tbb::parallel_for(
          tbb::blocked_range<uint32_t>(0, requests.count, 1),
          [&](const tbb::blocked_range<uint32_t>& range) {
            finished.load(std::memory_order_acquire);
            for (uint32_t i = range.begin(); i != range.end(); ++i) statuses[i] = runRequest(requests.entries[i]);
            finished.fetch_add(1, std::memory_order_acq_rel);
          },
          tbb::simple_partitioner());
    });
  } catch (const std::bad_alloc&) {
    return KIP_ERR_OUT_OF_MEMORY;
  } catch (...) {
    return KIP_ERR_JOB_FAILED;
  }
  finished.load(std::memory_order_acquire);
  return 0;
}

}  // namespace

int32_t ksys_jobThreadGroup_construct(ksys_jobThreadGroup** group) { return ksys_jobObject_make(group); }

int32_t ksys_jobThreadGroup_destruct(ksys_jobThreadGroup* group) {
  if (group == nullptr) return 0;
  return ksys_jobObject_free(group);
}

int32_t ksys_jobGetCurrentThreadState(ksys_jobThreadState* state, ksys_jobThreadGroup* group) {
  if (state == nullptr || group == nullptr) return KIP_ERR_NULL_POINTER;
  try {
    // The arena's concurrency does not follow a tbb::global_control limit set after the arena was
    // made, so the limit is applied here as well: the application's word is the last one.
    const int arena = tbb::this_task_arena::max_concurrency();
    const size_t allowed = tbb::global_control::active_value(tbb::global_control::max_allowed_parallelism);
    const size_t threads = std::min<size_t>(arena > 0 ? static_cast<size_t>(arena) : 1, std::max<size_t>(allowed, 1));
    state->threadCount = static_cast<int32_t>(std::min<size_t>(threads, INT32_MAX));
  } catch (...) {
    return KIP_ERR_JOB_FAILED;
  }
  return 0;
}

int32_t ksys_jobThreadGroup_dispatchAndWait(ksys_jobThreadGroup* group, ksys_jobRequestSet* requests,
                                            ksys_jobResultSet* results) {
  if (group == nullptr || requests == nullptr || results == nullptr) return KIP_ERR_NULL_POINTER;
  int32_t status = ksys_jobArray_reserve(&results->statuses, &results->capacity, requests->count);
  if (status < 0) return status;
  results->count = requests->count;
  if (results->count != 0) std::memset(results->statuses, 0, results->count * sizeof(int32_t));

  status = runAll(*requests, results->statuses);
  if (status < 0) return status;
  // The first failure in the order of adding, not of finishing, so that the answer does not
  // depend on the thread count or the scheduling.
  for (uint32_t i = 0; i < results->count; ++i) {
    if (results->statuses[i] < 0) return results->statuses[i];
  }
  return 0;
}
