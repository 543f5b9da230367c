// The one allocator of the library. Every block kip allocates comes from here, so that a test can
// make the Nth allocation fail and prove that each failure path returns its status and leaks
// nothing. Blocks are 64-byte aligned.
#pragma once

#include <cstddef>
#include <cstdint>

// Allocation. On failure *address is left as it was and KIP_ERR_OUT_OF_MEMORY is returned.
int32_t ksys_memory_alloc_internal(size_t size, void** address);
int32_t ksys_memory_allocClear_internal(size_t size, void** address);  // zero-filled
int32_t ksys_memory_allocFastMem_internal(size_t size, void** address);
// Resizes the block at *address (null: allocates); the contents up to the smaller size are kept.
// On failure the old block stays valid and *address unchanged.
int32_t ksys_memory_realloc_internal(size_t size, void** address);
// Frees *address (null is fine) and sets it to null. Its address is what clean-up lists hold.
int32_t ksys_memory_free_internal(void** address);

// Cache-aligned blocks for process-wide tables; the same allocator underneath.
int32_t kxfCacheAlloc(size_t size, void** address);
int32_t kxfFree(void** address);

// Fills byteCount bytes at address with value.
int32_t ksys_memory_fill(int value, size_t byteCount, void* address);
// Copies rows of rowBytes bytes; strides in bytes.
int32_t ksys_memory_copyRect(size_t rowBytes, size_t rows, ptrdiff_t sourceStrideBytes,
                             ptrdiff_t destinationStrideBytes, const void* source, void* destination);

// Test switches. failAt(n): allocation number n from now fails (1 = the next one), and that one
// only; 0 turns it off. The counters let a sweep know how many allocations a call made.
void ksys_memory_testFailAt(uint64_t n);
// testLimitBytes(n): every allocation of more than n bytes fails (0: no limit), so that fuzzing
// can ask for huge images without the machine having to provide them.
void ksys_memory_testLimitBytes(size_t maxBytes);
uint64_t ksys_memory_testAllocationCount();  // allocations attempted since the process started
int64_t ksys_memory_testLiveBlocks();        // blocks allocated and not yet freed
