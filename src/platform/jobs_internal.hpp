// Layout of the job objects, shared by the file that builds them and the one that runs them.
// Every object and array comes from kip's allocator, so allocation-failure tests reach them and a
// failure is a status, never an exception.
#pragma once

#include "platform/jobs.hpp"
#include "platform/memory.hpp"

#include <kip/kip.h>

#include <cstdint>
#include <new>
#include <type_traits>

struct ksys_jobOwnedBlock {
  void* block;
  ksys_jobDataRelease release;
};

// Either the owner of the blocks taken so far, or a request's view of the one block it captured:
// a job function reads its own block through the view, whatever the owner has taken since.
struct ksys_jobParams {
  const void* data;  // what getDataConst returns: the block most recently taken, or the captured one
  ksys_jobOwnedBlock* owned;  // null in a view
  uint32_t ownedCount;
  uint32_t ownedCapacity;
};

struct ksys_jobRequest {
  ksys_jobFunction function;
  ksys_jobParams view;
};

struct ksys_jobRequestSet {
  ksys_jobRequest* entries;
  uint32_t count;
  uint32_t capacity;
};

struct ksys_jobResultSet {
  int32_t* statuses;
  uint32_t count;  // requests of the last dispatch
  uint32_t capacity;
};

// The group owns no thread: jobs run in the caller's task arena. It is still a real object, so
// that callers hold and release it like the others and its construction can fail like theirs.
struct ksys_jobThreadGroup {
  uint32_t reserved;  // nothing to hold yet; a group may be used by several dispatches at once
};

// Makes a zero-initialised T in a block of kip's allocator.
template <typename T>
int32_t ksys_jobObject_make(T** object) {
  static_assert(std::is_trivially_destructible_v<T>);
  if (object == nullptr) return KIP_ERR_NULL_POINTER;
  void* block = nullptr;
  const int32_t status = ksys_memory_alloc_internal(sizeof(T), &block);
  if (status < 0) return status;
  *object = new (block) T{};
  return 0;
}

template <typename T>
int32_t ksys_jobObject_free(T* object) {
  void* block = object;
  return ksys_memory_free_internal(&block);
}

// Makes room for at least `needed` entries in *array, doubling its capacity; on failure the array
// is unchanged.
template <typename T>
int32_t ksys_jobArray_reserve(T** array, uint32_t* capacity, uint64_t needed) {
  static_assert(std::is_trivially_copyable_v<T>);
  if (needed <= *capacity) return 0;
  constexpr uint64_t kMaxEntries = UINT32_MAX / sizeof(T);
  if (needed > kMaxEntries) return KIP_ERR_OUT_OF_MEMORY;
  uint64_t grown = *capacity == 0 ? 8 : uint64_t{*capacity} * 2;
  if (grown < needed) grown = needed;
  if (grown > kMaxEntries) grown = kMaxEntries;
  void* block = *array;
  const int32_t status = ksys_memory_realloc_internal(grown * sizeof(T), &block);
  if (status < 0) return status;
  *array = static_cast<T*>(block);
  *capacity = static_cast<uint32_t>(grown);
  return 0;
}
