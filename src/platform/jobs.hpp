// Job thread group on oneTBB. The library starts no thread of its own: jobs run in the caller's
// task arena, whose concurrency (limited by the application with tbb::global_control or its own
// arena) is the thread count.
//
// A job parameters object takes one data block after another; each request added captures the
// block most recently taken, and the job function reads that block back with getDataConst. The
// parameters object owns every block it took and releases them when destroyed.
#pragma once

#include <cstdint>

struct ksys_jobThreadGroup;
struct ksys_jobParams;
struct ksys_jobRequestSet;
struct ksys_jobResultSet;

struct ksys_jobThreadState {
  int32_t threadCount;  // threads that can run this group's jobs at once, the caller's included
};

using ksys_jobFunction = int32_t (*)(const ksys_jobParams* params);
using ksys_jobDataRelease = int32_t (*)(void** block);

int32_t ksys_jobThreadGroup_construct(ksys_jobThreadGroup** group);
int32_t ksys_jobThreadGroup_destruct(ksys_jobThreadGroup* group);
int32_t ksys_jobGetCurrentThreadState(ksys_jobThreadState* state, ksys_jobThreadGroup* group);

int32_t ksys_jobParams_construct(ksys_jobParams** params);
int32_t ksys_jobParams_destruct(ksys_jobParams* params);
// Takes ownership of *block (released later with release) and sets *block to null. On failure
// the block stays the caller's.
int32_t ksys_jobParams_takeData(ksys_jobParams* params, void** block, ksys_jobDataRelease release);
int32_t ksys_jobParams_getDataConst(const ksys_jobParams* params, const void** block);

int32_t ksys_jobRequestSet_construct(ksys_jobRequestSet** requests);
int32_t ksys_jobRequestSet_destruct(ksys_jobRequestSet* requests);
int32_t ksys_jobRequestSet_addFuncAndParams(ksys_jobRequestSet* requests, ksys_jobFunction function,
                                            const ksys_jobParams* params);

int32_t ksys_jobResultSet_construct(ksys_jobResultSet** results);
int32_t ksys_jobResultSet_destruct(ksys_jobResultSet* results);
// Status of request i after a dispatch (0 when it has not run).
int32_t ksys_jobResultSet_getStatus(const ksys_jobResultSet* results, uint32_t index, int32_t* status);

// Runs every request, possibly at once on several threads, and returns when all have ended. The
// result is the status of the first failing request in the order they were added, else 0.
int32_t ksys_jobThreadGroup_dispatchAndWait(ksys_jobThreadGroup* group, ksys_jobRequestSet* requests,
                                            ksys_jobResultSet* results);
