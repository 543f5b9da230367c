// The transform folder: what the folders above it (and the tests) use of the transform entry
// points. For now the aligned fast path: exact axis-aligned copies, turns and mirrors that move
// pels without sampling.
#pragma once

#include <kip/kip.h>

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
