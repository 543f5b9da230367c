// The sample cache: construction and release, and the refresh with its key test.
#include "cache/sample_cache.hpp"

#include "frame/export_guard.hpp"
#include "platform/math.hpp"
#include "platform/memory.hpp"

#include <atomic>

namespace {

std::atomic<uint64_t> destinationXforms{0}, alignments{0}, tables8{0}, tables16{0};

kstd_rect32 windowRect(const kimg_window& window) {
  return {window.xOrigin, window.yOrigin, window.width, window.height};
}

// The five tests of the key, in order; the first that fails is a miss. A comparison that fails
// as an operation ends the refresh with its status.
int32_t keyMatches(const affineSampleCache& cache, const affineSampleCacheKey& key, bool* hit) {
  *hit = false;
  int32_t result = 0;
  int32_t status = kstd_rect32_compare(&key.srcRect, &cache.key.srcRect, &result);
  if (status < 0 || result != 0) return status;
  status = kstd_rect32_compare(&key.dstRect, &cache.key.dstRect, &result);
  if (status < 0 || result != 0) return status;
  const affineSampleParams& now = key.sampleParams;
  const affineSampleParams& then = cache.key.sampleParams;
  if (now.sampleMode != then.sampleMode || now.xCount != then.xCount || now.yCount != then.yCount) return status;
  int32_t equal = 0;
  status = kmath_shapeAffineRect_compareEqual(&now.affineRect, &then.affineRect, &equal);
  if (status < 0 || !equal) return status;
  status = kmath_xformLinear_compareEqual(&key.srcImageFromClientXform, &cache.key.srcImageFromClientXform, &equal);
  if (status < 0 || !equal) return status;
  *hit = true;
  return status;
}

}  // namespace

int32_t affineSampleCache_initTemporary(affineSampleCache* cache) {
  cache->isValid = 0;
  const int32_t status = sampleTable_init(&cache->sampleTable8);
  if (status < 0) return status;
  return sampleTable_init(&cache->sampleTable16);
}

int32_t affineSampleCache_releaseTemporary(affineSampleCache* cache) {
  cache->isValid = 0;
  sampleTable_release(&cache->sampleTable8);
  return sampleTable_release(&cache->sampleTable16);
}

int32_t affineSampleCache_refresh(affineSampleCache* cache, const kimg_window* source,
                                  const kmath_xformLinear* sourceImageFromClient, const kimg_window* destination,
                                  const affineSampleParams* params, int32_t forProjection) {
  const affineSampleCacheKey key{*params, *sourceImageFromClient, windowRect(*source), windowRect(*destination)};
  bool hit = false;
  int32_t status = 0;
  if (cache->isValid) {
    status = keyMatches(*cache, key, &hit);
    if (status < 0) return status;
  }

  if (!hit) {
    cache->isValid = 0;
    destinationXforms.fetch_add(1, std::memory_order_relaxed);
    status = kip_affineSampleParams_getDestImageFromClientXform(params, forProjection,
                                                                &cache->destImageFromClientXform);
    if (status < 0) return status;
    alignments.fetch_add(1, std::memory_order_relaxed);
    status = kip_affine_imageAlignment_compute(params, &key.srcImageFromClientXform, &cache->alignmentCode,
                                               &cache->alignmentRect);
    if (status < 0) return status;
  }

  const bool tablesNeeded = cache->alignmentCode == KIP_ALIGNMENT_GENERAL && params->sampleMode != 0 &&
                            params->sampleMode != 1;
  if (tablesNeeded) {
    const bool eightBit = source->pelSize == 1;
    sampleTable* slot = eightBit ? &cache->sampleTable8 : &cache->sampleTable16;
    uint32_t rebuild = 1;
    if (hit) {
      status = sampleTable_isStale(slot, source, destination, &rebuild);
      if (status < 0) return status;
      // A projection adds every row into one vector and never steps by the destination's stride, so
      // a table built for another vector at the same place serves it. This also keeps the clipped
      // projection's coverage pass from allocating after its sums have been written in place.
      if (forProjection && rebuild && slot->sourceStride == source->stride) rebuild = 0;
    }
    if (rebuild) {
      (eightBit ? tables8 : tables16).fetch_add(1, std::memory_order_relaxed);
      status = eightBit ? sampleTable_build8(slot, source, sourceImageFromClient, destination, params)
                        : sampleTable_build16(slot, source, sourceImageFromClient, destination, params);
      if (status < 0) return status;
    }
  }

  if (!hit) {
    cache->key = key;
    cache->isValid = 1;
  }
  return status;
}

affineSampleCacheCounters affineSampleCache_testCounters() {
  return {destinationXforms.load(), alignments.load(), tables8.load(), tables16.load()};
}

extern "C" {

KIP_API int32_t kip_affineSampleCache_construct(affineSampleCache** handle) {
  return guardExport([&] {
    if (handle == nullptr) return KIP_ERR_NULL_POINTER;
    *handle = nullptr;
    void* record = nullptr;
    int32_t status = ksys_memory_allocFastMem_internal(sizeof(affineSampleCache), &record);
    if (status < 0) return status;
    auto* cache = static_cast<affineSampleCache*>(record);
    status = affineSampleCache_initTemporary(cache);
    if (status < 0) {
      ksys_memory_free_internal(&record);
      return status;
    }
    *handle = cache;
    return 0;
  });
}

KIP_API int32_t kip_affineSampleCache_destruct(affineSampleCache** handle) {
  return guardExport([&] {
    if (handle == nullptr || *handle == nullptr) return 0;
    affineSampleCache* cache = *handle;
    cache->isValid = 0;
    sampleTable_release(&cache->sampleTable8);
    const int32_t status = sampleTable_release(&cache->sampleTable16);
    if (status < 0) return status;
    void* record = cache;
    *handle = nullptr;
    return ksys_memory_free_internal(&record);
  });
}

}  // extern "C"
