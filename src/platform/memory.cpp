#include "platform/memory.hpp"

#include <kip/kip.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Every block keeps, just in front of it, the address the system gave and its own size, so that
// realloc can copy and free can find the start; blocks are 64-byte aligned.
constexpr size_t kAlignment = 64;
struct BlockPrefix {
  size_t size;
  void* raw;
};

std::atomic<uint64_t> allocationCount{0};
std::atomic<uint64_t> failAtCount{0};  // allocationCount value that fails; 0: none
std::atomic<int64_t> liveBlocks{0};
std::atomic<size_t> limitBytes{0};  // largest block the test switch lets through; 0: any

// Counts the attempt and says whether the test switch fails it.
bool attemptFails() {
  const uint64_t number = allocationCount.fetch_add(1, std::memory_order_relaxed) + 1;
  const uint64_t failAt = failAtCount.load(std::memory_order_relaxed);
  return failAt != 0 && number == failAt;
}

bool exceedsTestLimit(size_t size) {
  const size_t limit = limitBytes.load(std::memory_order_relaxed);
  return limit != 0 && size > limit;
}

BlockPrefix* prefixOf(void* block) { return static_cast<BlockPrefix*>(block) - 1; }

int32_t allocate(size_t size, bool clear, void** address) {
  if (address == nullptr) return KIP_ERR_NULL_POINTER;
  if (attemptFails() || exceedsTestLimit(size) || size > SIZE_MAX - 2 * kAlignment) return KIP_ERR_OUT_OF_MEMORY;
  // calloc of large blocks gets fresh zero pages from the system without touching them.
  void* raw = clear ? std::calloc(1, size + 2 * kAlignment) : std::malloc(size + 2 * kAlignment);
  if (raw == nullptr) return KIP_ERR_OUT_OF_MEMORY;
  const uintptr_t block = (reinterpret_cast<uintptr_t>(raw) + kAlignment) & ~uintptr_t{kAlignment - 1};
  *prefixOf(reinterpret_cast<void*>(block)) = BlockPrefix{size, raw};
  liveBlocks.fetch_add(1, std::memory_order_relaxed);
  *address = reinterpret_cast<void*>(block);
  return 0;
}

void release(void* block) {
  std::free(prefixOf(block)->raw);
  liveBlocks.fetch_sub(1, std::memory_order_relaxed);
}

}  // namespace

int32_t ksys_memory_alloc_internal(size_t size, void** address) { return allocate(size, false, address); }
int32_t ksys_memory_allocClear_internal(size_t size, void** address) { return allocate(size, true, address); }
int32_t ksys_memory_allocFastMem_internal(size_t size, void** address) { return allocate(size, false, address); }

int32_t ksys_memory_realloc_internal(size_t size, void** address) {
  if (address == nullptr) return KIP_ERR_NULL_POINTER;
  void* fresh = nullptr;
  const int32_t status = allocate(size, false, &fresh);
  if (status < 0) return status;
  if (*address != nullptr) {
    const size_t oldSize = prefixOf(*address)->size;
    std::memcpy(fresh, *address, oldSize < size ? oldSize : size);
    release(*address);
  }
  *address = fresh;
  return 0;
}

int32_t ksys_memory_free_internal(void** address) {
  if (address == nullptr) return KIP_ERR_NULL_POINTER;
  if (*address != nullptr) release(*address);
  *address = nullptr;
  return 0;
}

int32_t kxfCacheAlloc(size_t size, void** address) { return allocate(size, false, address); }
int32_t kxfFree(void** address) { return ksys_memory_free_internal(address); }

int32_t ksys_memory_fill(int value, size_t byteCount, void* address) {
  if (byteCount == 0) return 0;
  if (address == nullptr) return KIP_ERR_NULL_POINTER;
  std::memset(address, value, byteCount);
  return 0;
}

int32_t ksys_memory_copyRect(size_t rowBytes, size_t rows, ptrdiff_t sourceStrideBytes,
                             ptrdiff_t destinationStrideBytes, const void* source, void* destination) {
  if (rowBytes == 0 || rows == 0) return 0;
  if (source == nullptr || destination == nullptr) return KIP_ERR_NULL_POINTER;
  auto* from = static_cast<const unsigned char*>(source);
  auto* to = static_cast<unsigned char*>(destination);
  if (sourceStrideBytes == static_cast<ptrdiff_t>(rowBytes) && destinationStrideBytes == sourceStrideBytes) {
    std::memcpy(to, from, rowBytes * rows);
    return 0;
  }
  for (size_t row = 0; row < rows; ++row) {
    std::memcpy(to, from, rowBytes);
    from += sourceStrideBytes;
    to += destinationStrideBytes;
  }
  return 0;
}

void ksys_memory_testFailAt(uint64_t n) {
  failAtCount.store(n == 0 ? 0 : allocationCount.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
}
void ksys_memory_testLimitBytes(size_t maxBytes) { limitBytes.store(maxBytes, std::memory_order_relaxed); }
uint64_t ksys_memory_testAllocationCount() { return allocationCount.load(std::memory_order_relaxed); }
int64_t ksys_memory_testLiveBlocks() { return liveBlocks.load(std::memory_order_relaxed); }
