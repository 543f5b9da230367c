#include "platform/image_storage.hpp"

#include "platform/memory.hpp"

#include <kip/kip.h>

#include <atomic>
#include <new>

struct kimg_storage {
  // Images in several threads may share one storage and drop it at once.
  std::atomic<int64_t> references;
  void* pels;     // block from the allocator, or the caller's pels
  bool external;  // the caller's pels: never freed here
};

namespace {

int32_t createRecord(void* pels, bool external, kimg_storage** storage) noexcept {
  void* block = nullptr;
  const int32_t status = ksys_memory_alloc_internal(sizeof(kimg_storage), &block);
  if (status < 0) return status;
  *storage = new (block) kimg_storage{{1}, pels, external};
  return 0;
}

}  // namespace

int32_t kimg_storage_create(size_t byteCount, kimg_storage** storage, void** pels) noexcept {
  void* block = nullptr;
  int32_t status = ksys_memory_allocClear_internal(byteCount, &block);
  if (status < 0) return status;
  kimg_storage* record = nullptr;
  status = createRecord(block, false, &record);
  if (status < 0) {
    ksys_memory_free_internal(&block);
    return status;
  }
  *storage = record;
  *pels = block;
  return 0;
}

int32_t kimg_storage_createExternal(void* pels, kimg_storage** storage) noexcept {
  return createRecord(pels, true, storage);
}

void kimg_storage_retain(kimg_storage* storage) noexcept {
  storage->references.fetch_add(1, std::memory_order_relaxed);
}

void kimg_storage_release(kimg_storage** storage) noexcept {
  kimg_storage* record = *storage;
  *storage = nullptr;
  if (record == nullptr) return;
  // acq_rel: every write to the pels through another reference happens before they are freed.
  if (record->references.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  if (!record->external) ksys_memory_free_internal(&record->pels);
  record->~kimg_storage();
  void* block = record;
  ksys_memory_free_internal(&block);
}
