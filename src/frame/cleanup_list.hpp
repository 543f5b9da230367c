// A scope's clean-up list. Temporaries are added right after they were made; the list runs when
// the scope ends, whichever way it ends, newest entry first. finish() runs it early and returns the
// scope's status as the run leaves it (a failing clean-up turns success into that failure).
#pragma once

#include "platform/cleanup.hpp"
#include "platform/memory.hpp"

#include <cassert>
#include <cstdint>

class CleanupList {
 public:
  static constexpr uint32_t kCapacity = 4;  // no scope of the library makes more temporaries

  CleanupList() = default;
  CleanupList(const CleanupList&) = delete;
  CleanupList& operator=(const CleanupList&) = delete;
  ~CleanupList() { finish(status_); }

  // A memory block: *block is freed (and set to null) by the allocator.
  void addMemory(void** block) {
    add(KSYS_CLEANUP_MEMORY, block, [](void* object) { return ksys_memory_free_internal(static_cast<void**>(object)); });
  }

  // An object destroyed by Destroy(object), a function taking T* and returning a status.
  template <auto Destroy, typename T>
  void addObject(T* object) {
    add(KSYS_CLEANUP_OBJECT, object, [](void* o) -> int32_t { return Destroy(static_cast<T*>(o)); });
  }

  // Runs the list (once; later calls find it empty) with the scope's status and returns the status
  // the run leaves.
  int32_t finish(int32_t status) {
    status_ = status;
    ksys_cleanupExecute_(entries_, &count_, &status_);
    return status_;
  }

  uint32_t count() const { return count_; }

 private:
  void add(uint32_t kind, void* object, ksys_cleanupFunction function) {
    assert(count_ < kCapacity);
    entries_[count_] = ksys_cleanupEntry{count_, kind, object, function};
    ++count_;
  }

  ksys_cleanupEntry entries_[kCapacity] = {};
  uint32_t count_ = 0;
  int32_t status_ = 0;
};
