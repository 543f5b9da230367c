// Standard types: whole-pel rectangles and growable vectors of 32-bit values.
#include "platform/memory.hpp"

#include <kip/kip.h>

#include <algorithm>
#include <cstdint>

extern "C" {

KIP_API int32_t kstd_rect32_init(kstd_rect32* rect, int32_t x, int32_t y, int32_t width, int32_t height) {
  if (rect == nullptr) return KIP_ERR_NULL_POINTER;
  if (width < 0 || height < 0) return KIP_ERR_BAD_SIZE;
  *rect = {x, y, width, height};
  return 0;
}

KIP_API int32_t kstd_rect32_compare(const kstd_rect32* a, const kstd_rect32* b, int32_t* result) {
  if (a == nullptr || b == nullptr || result == nullptr) return KIP_ERR_NULL_POINTER;
  const bool equal = a->x == b->x && a->y == b->y && a->width == b->width && a->height == b->height;
  *result = equal ? 0 : 1;
  return 0;
}

KIP_API int32_t kstd_vector32_construct(kstd_vector32* vector) {
  if (vector == nullptr) return KIP_ERR_NULL_POINTER;
  *vector = kstd_vector32{nullptr, 0, 0};
  return 0;
}

KIP_API int32_t kstd_vector32_destruct(kstd_vector32* vector) {
  if (vector == nullptr) return KIP_ERR_NULL_POINTER;
  void* block = vector->begin;
  ksys_memory_free_internal(&block);
  *vector = kstd_vector32{nullptr, 0, 0};
  return 0;
}

KIP_API int32_t kstd_vector32_resize(kstd_vector32* vector, int32_t length) {
  if (vector == nullptr) return KIP_ERR_NULL_POINTER;
  if (length < 0) return KIP_ERR_BAD_SIZE;
  if (length > vector->capacity) {
    // Half as much again as before, so that a vector grown one entry at a time is not copied at
    // every step; exactly what is asked when that is more.
    const int64_t grown = static_cast<int64_t>(vector->capacity) + vector->capacity / 2;
    const int32_t capacity = static_cast<int32_t>(std::clamp<int64_t>(grown, length, INT32_MAX));
    void* block = vector->begin;
    const int32_t status = ksys_memory_realloc_internal(static_cast<size_t>(capacity) * sizeof(uint32_t), &block);
    if (status < 0) return status;
    vector->begin = static_cast<uint32_t*>(block);
    vector->capacity = capacity;
  }
  // Entries past the old size may hold what a shrink left there.
  if (length > vector->size) std::fill(vector->begin + vector->size, vector->begin + length, 0u);
  vector->size = length;
  return 0;
}

KIP_API int32_t kstd_vector32_getBegin(kstd_vector32* vector, uint32_t** first) {
  if (vector == nullptr || first == nullptr) return KIP_ERR_NULL_POINTER;
  *first = vector->begin;
  return 0;
}

}  // extern "C"
