// Job parameters, request sets and result sets: the objects a caller fills before a dispatch.
#include "platform/jobs_internal.hpp"

int32_t ksys_jobParams_construct(ksys_jobParams** params) { return ksys_jobObject_make(params); }

int32_t ksys_jobParams_destruct(ksys_jobParams* params) {
  if (params == nullptr) return 0;
  // Every block is released even when one release fails; the first failure is reported.
  int32_t status = 0;
  for (uint32_t i = params->ownedCount; i > 0; --i) {
    ksys_jobOwnedBlock& owned = params->owned[i - 1];
    const int32_t released = owned.release(&owned.block);
    if (released < 0 && status >= 0) status = released;
  }
  void* owned = params->owned;
  ksys_memory_free_internal(&owned);
  ksys_jobObject_free(params);
  return status;
}

int32_t ksys_jobParams_takeData(ksys_jobParams* params, void** block, ksys_jobDataRelease release) {
  if (params == nullptr || block == nullptr || release == nullptr) return KIP_ERR_NULL_POINTER;
  if (*block != nullptr) {
    // Room first: should it fail, the block is still the caller's and nothing changed.
    const int32_t status =
        ksys_jobArray_reserve(&params->owned, &params->ownedCapacity, uint64_t{params->ownedCount} + 1);
    if (status < 0) return status;
    params->owned[params->ownedCount++] = ksys_jobOwnedBlock{*block, release};
  }
  params->data = *block;
  *block = nullptr;
  return 0;
}

int32_t ksys_jobParams_getDataConst(const ksys_jobParams* params, const void** block) {
  if (params == nullptr || block == nullptr) return KIP_ERR_NULL_POINTER;
  *block = params->data;
  return 0;
}

int32_t ksys_jobRequestSet_construct(ksys_jobRequestSet** requests) { return ksys_jobObject_make(requests); }

int32_t ksys_jobRequestSet_destruct(ksys_jobRequestSet* requests) {
  if (requests == nullptr) return 0;
  void* entries = requests->entries;
  ksys_memory_free_internal(&entries);
  return ksys_jobObject_free(requests);
}

int32_t ksys_jobRequestSet_addFuncAndParams(ksys_jobRequestSet* requests, ksys_jobFunction function,
                                            const ksys_jobParams* params) {
  if (requests == nullptr || function == nullptr || params == nullptr) return KIP_ERR_NULL_POINTER;
  const int32_t status = ksys_jobArray_reserve(&requests->entries, &requests->capacity, uint64_t{requests->count} + 1);
  if (status < 0) return status;
  // The view captures the block taken last; the owner keeps it alive until it is destroyed.
  requests->entries[requests->count++] = ksys_jobRequest{function, ksys_jobParams{params->data, nullptr, 0, 0}};
  return 0;
}

int32_t ksys_jobResultSet_construct(ksys_jobResultSet** results) { return ksys_jobObject_make(results); }

int32_t ksys_jobResultSet_destruct(ksys_jobResultSet* results) {
  if (results == nullptr) return 0;
  void* statuses = results->statuses;
  ksys_memory_free_internal(&statuses);
  return ksys_jobObject_free(results);
}

int32_t ksys_jobResultSet_getStatus(const ksys_jobResultSet* results, uint32_t index, int32_t* status) {
  if (results == nullptr || status == nullptr) return KIP_ERR_NULL_POINTER;
  *status = index < results->count ? results->statuses[index] : 0;
  return 0;
}
