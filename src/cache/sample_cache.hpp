// The sample cache: what a sampling computes from its geometry before it touches a pel, kept
// between calls under a key of that geometry.
#pragma once

#include <kip/kip.h>

#include "cache/sample_table.hpp"

#include <cstdint>

struct affineSampleCacheKey {
  affineSampleParams sampleParams;
  kmath_xformLinear srcImageFromClientXform;
  kstd_rect32 srcRect;  // source window: x origin, y origin, width, height
  kstd_rect32 dstRect;  // destination window, likewise
};

struct affineSampleCache {
  uint32_t isValid;  // nonzero when key describes the last successful refresh
  affineSampleCacheKey key;
  kmath_xformLinear destImageFromClientXform;
  uint32_t alignmentCode;
  kstd_rect32 alignmentRect;
  sampleTable sampleTable8;   // for sources of 1-byte pels
  sampleTable sampleTable16;  // for every other pel size
};

// For a record in a call's own frame: empty, invalid.
int32_t affineSampleCache_initTemporary(affineSampleCache* cache);
// Frees the tables' buffers; the record itself is the caller's.
int32_t affineSampleCache_releaseTemporary(affineSampleCache* cache);

// Brings the cache up to date for a sampling: on a key miss recomputes the destination transform
// (forProjection as given) and the alignment; for a general map in a two-pass mode builds the
// table of the source's pel size when it is missing or was built for other strides.
int32_t affineSampleCache_refresh(affineSampleCache* cache, const kimg_window* source,
                                  const kmath_xformLinear* sourceImageFromClient, const kimg_window* destination,
                                  const affineSampleParams* params, int32_t forProjection);

// The table slot that serves a source of this pel size.
inline const sampleTable& affineSampleCache_tableFor(const affineSampleCache& cache, int32_t pelSize) {
  return pelSize == 1 ? cache.sampleTable8 : cache.sampleTable16;
}

// Test seam: how often the refresh recomputed each part, since the process started.
struct affineSampleCacheCounters {
  uint64_t destinationXforms, alignments, tables8, tables16;
};
affineSampleCacheCounters affineSampleCache_testCounters();
