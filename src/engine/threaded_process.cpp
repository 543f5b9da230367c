// The threaded process: split test, one job per band, hook test and fallback per piece.
#include "engine/threaded_process.hpp"

#include "engine/optimized_process.hpp"
#include "engine/portable_process.hpp"
#include "engine/tile_loops.hpp"
#include "frame/cleanup_list.hpp"
#include "frame/optimization_hook.hpp"
#include "platform/memory.hpp"

#include <algorithm>
#include <new>

namespace {

using ProcessFunction = int32_t (*)(uint32_t, const kimg_window*, const kmath_xformLinear*, const kimg_window*,
                                    const affineSampleParams*, const affineSampleCache*);

// What differs between the 8-bit and the 16-bit forms.
struct ThreadedForm {
  const char* hookName;
  ProcessFunction optimized;
  ProcessFunction portable;
  ksys_jobFunction job;
};

constexpr ThreadedForm kForm8{kHookAffineProcess, affineProcess_optimized8, affineProcess_portable8,
                              affineProcess_job8};
constexpr ThreadedForm kForm16{kHookAffineProcess16, affineProcess_optimized16, affineProcess_portable16,
                               affineProcess_job16};

int32_t runPiece(const ThreadedForm& form, uint32_t accumulate, const kimg_window* source,
                 const kmath_xformLinear* sourceXform, const kimg_window* destination,
                 const affineSampleParams* params, const affineSampleCache* cache) {
  return dispatchOptimizedFirst(
      form.hookName, [&] { return form.optimized(accumulate, source, sourceXform, destination, params, cache); },
      [&] { return form.portable(accumulate, source, sourceXform, destination, params, cache); });
}

int32_t runJob(const ThreadedForm& form, const ksys_jobParams* jobParams) {
  const void* data = nullptr;
  const int32_t status = ksys_jobParams_getDataConst(jobParams, &data);
  if (status < 0) return status;
  const auto* block = static_cast<const affineProcessJobBlock*>(data);
  return runPiece(form, block->accumulate, block->source, block->sourceXform, &block->band, block->params,
                  block->cache);
}

bool shouldSplit(int32_t threadCount, const kimg_window& destination, const affineSampleParams& params,
                 int32_t tileRows) {
  if (threadCount < 2) return false;
  if (params.sampleMode != KIP_SAMPLE_NEAREST && params.sampleMode != KIP_SAMPLE_BILINEAR) return false;
  if (destination.height <= (3 * tileRows) / 2) return false;
  const int64_t area = int64_t{destination.width} * destination.height;
  return area >= (params.sampleMode == KIP_SAMPLE_NEAREST ? 0x40000 : 0x10000);
}

// Builds one job per band on the list's objects and runs them all.
int32_t runBands(const ThreadedForm& form, CleanupList& cleanup, ksys_jobThreadGroup* group,
                 const kimg_window* source, const kmath_xformLinear* sourceXform, const kimg_window* destination,
                 const affineSampleParams* params, const affineSampleCache* cache, int32_t tileRows) {
  ksys_jobParams* jobParams = nullptr;
  int32_t status = ksys_jobParams_construct(&jobParams);
  if (status < 0) return status;
  cleanup.addObject<ksys_jobParams_destruct>(jobParams);
  ksys_jobRequestSet* requests = nullptr;
  status = ksys_jobRequestSet_construct(&requests);
  if (status < 0) return status;
  cleanup.addObject<ksys_jobRequestSet_destruct>(requests);
  ksys_jobResultSet* results = nullptr;
  status = ksys_jobResultSet_construct(&results);
  if (status < 0) return status;
  cleanup.addObject<ksys_jobResultSet_destruct>(results);

  const int32_t height = destination->height;
  for (int32_t first = 0; first < height; first += std::min(tileRows, height - first)) {
    void* memory = nullptr;
    status = ksys_memory_alloc_internal(sizeof(affineProcessJobBlock), &memory);
    if (status < 0) return status;
    auto* block = new (memory) affineProcessJobBlock{};
    block->band = *destination;
    block->band.height = std::min(tileRows, height - first);
    block->band.bandOffset = destination->bandOffset - first;
    block->accumulate = 0;
    block->source = source;
    block->sourceXform = sourceXform;
    block->sampleParams = *params;
    block->params = &block->sampleParams;
    block->cache = cache;
    status = ksys_jobParams_takeData(jobParams, &memory, ksys_memory_free_internal);
    if (status < 0) {
      ksys_memory_free_internal(&memory);
      return status;
    }
    status = ksys_jobRequestSet_addFuncAndParams(requests, form.job, jobParams);
    if (status < 0) return status;
  }
  return ksys_jobThreadGroup_dispatchAndWait(group, requests, results);
}

int32_t threaded(const ThreadedForm& form, const kimg_window* source, const kmath_xformLinear* sourceXform,
                 const kimg_window* destination, const affineSampleParams* params,
                 const affineSampleCache* cache) {
  if (source == nullptr || destination == nullptr || params == nullptr) return KIP_ERR_NULL_POINTER;
  CleanupList cleanup;
  ksys_jobThreadGroup* group = nullptr;
  int32_t status = ksys_jobThreadGroup_construct(&group);
  if (status < 0) return cleanup.finish(status);
  cleanup.addObject<ksys_jobThreadGroup_destruct>(group);
  ksys_jobThreadState state{};
  status = ksys_jobGetCurrentThreadState(&state, group);
  if (status < 0) return cleanup.finish(status);

  const int32_t tileRows = affineTile_rowsForStride(source->stride);
  if (shouldSplit(state.threadCount, *destination, *params, tileRows)) {
    status = runBands(form, cleanup, group, source, sourceXform, destination, params, cache, tileRows);
  } else {
    status = runPiece(form, 0, source, sourceXform, destination, params, cache);
  }
  return cleanup.finish(status);
}

}  // namespace

int32_t affineProcess_threaded8(const kimg_window* source, const kmath_xformLinear* sourceXform,
                                const kimg_window* destination, const affineSampleParams* params,
                                const affineSampleCache* cache) {
  return threaded(kForm8, source, sourceXform, destination, params, cache);
}

int32_t affineProcess_threaded16(const kimg_window* source, const kmath_xformLinear* sourceXform,
                                 const kimg_window* destination, const affineSampleParams* params,
                                 const affineSampleCache* cache) {
  return threaded(kForm16, source, sourceXform, destination, params, cache);
}

int32_t affineProcess_job8(const ksys_jobParams* jobParams) { return runJob(kForm8, jobParams); }
int32_t affineProcess_job16(const ksys_jobParams* jobParams) { return runJob(kForm16, jobParams); }
