// The transform folder: what the folders above it (and the tests) use of the transform entry
// points: the aligned fast path (exact axis-aligned copies, turns and mirrors that move pels
// without sampling) and the two layers beneath the transform exports.
#pragma once

#include <kip/kip.h>

#include "cache/cache.hpp"

#include <cstdint>

// The orientation table. Each alignment code is a sequence of at most three elementary moves: the
// first reads the source window and writes the destination, the later ones rework the destination
// in place. A code outside the table is a plain copy (no step).
enum class AlignedStep : uint8_t { Transpose, Mirror, Flip };

struct AlignedSteps {
  uint32_t count;  // 0: copy
  AlignedStep step[3];
};

AlignedSteps alignedSteps(uint32_t alignmentCode);

// The same orientation as one map, composed from the steps: destination pel (row i, column j) is
// source pel (r, c) with (r, c) = swap ? (j, i) : (i, j), then r counted from the bottom when
// reverseRows, c from the right when reverseColumns.
struct AlignedOrientation {
  bool swap;
  bool reverseRows;
  bool reverseColumns;
};

AlignedOrientation alignedOrientation(uint32_t alignmentCode);

// 0 when the windows can take the code with pels of pelSize bytes (1 or 2), else the status the
// exports return: window checks, KIP_ERR_SIZE_MISMATCH, KIP_ERR_MEMORY_OVERLAP. In place is allowed
// only with one first pel and one stride, and for the transposing codes only on square windows.
int32_t alignedTransform_check(const kimg_window* source, const kimg_window* destination, uint32_t alignmentCode,
                               int32_t pelSize);

// The step sequence with the portable moves: the reference. No checks.
int32_t alignedTransform_portable8(const kimg_window* source, kimg_window* destination, uint32_t alignmentCode);
int32_t alignedTransform_portable16(const kimg_window* source, kimg_window* destination, uint32_t alignmentCode);

// One pass with the Highway kernels of the best instruction set (bit-identical to the portable
// path). No checks. The exports run these.
int32_t alignedTransform_simd8(const kimg_window* source, kimg_window* destination, uint32_t alignmentCode);
int32_t alignedTransform_simd16(const kimg_window* source, kimg_window* destination, uint32_t alignmentCode);

// Name of the instruction set the aligned kernels dispatch to now (tests check it really changes).
const char* alignedSimdTargetName();

// ---------------------------------------------------------------------------------------------
// Transform entry points, beneath the exports (kip_affineTransform and its kin in kip.h).

// Window layer: refreshes the cache for this sampling (destination transform computed for a
// transform, not a projection), then sends an exact axis-aligned map to the aligned fast path with
// the source narrowed to the cache's alignmentRect, and any other map to the threaded process.
// The windows must already be checked: pels of 1 (8) or 2 (16) bytes, no shared memory.
int32_t affineTransform_window8(const kimg_window* source, const kmath_xformLinear* sourceXform,
                                kimg_window* destination, const affineSampleParams* params, affineSampleCache* cache);
int32_t affineTransform_window16(const kimg_window* source, const kmath_xformLinear* sourceXform,
                                 kimg_window* destination, const affineSampleParams* params, affineSampleCache* cache);

// Image layer: checks the source (bound, pel size, the sampling stays inside it), writes the
// destination in place when it is bound, at origin (0, 0) and at least xCount x yCount, and
// otherwise through a temporary image that is copied into it (bound) or lent to it (unbound); then
// gives the destination the cache's destination transform. The cache record is never null.
int32_t affineTransform_image8(const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                               affineSampleCache* cache);
int32_t affineTransform_image16(const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                                affineSampleCache* cache);
