// Line kernels of the two-pass sampling modes: each computes one destination row of one tile.
//
// The first pass walks the source along the major axis, one value per whole major position, each
// interpolated across the minor axis from the pels around the row's path (two taps in mode 2, four
// in mode 3), into the intermediate line. The second pass interpolates along that line at each
// destination sample. Mode 3's first pass starts one position early, so that line value i + 1 is
// the one at a sample's own major position.
//
// Arguments, in order:
//   context        the walk's context (below)
//   n              first-pass values to compute, less one (mode 2) or less three (mode 3)
//   tileType       0 interior, 1 last tile column, 2 last tile row, 3 last corner: picks tileWidth
//   minor          16.16 minor accumulator of the first value at the line's first position
//   line           16.16 line accumulator of the row's first sample (integer part 0)
//   source, sourceOffset
//                  the source's first pel and the pel offset of the first value's reference pel
//                  at the line's first position (offsets, not addresses: only pels that are read
//                  become addresses)
//   lineWrite      where the first pass writes its first value (mode 3: the value one position
//                  early, unless the edge pass wrote it and the write starts one value later)
//   lineRead       the start of the intermediate line, which the second pass reads
//   destination    the row's first pel, or its first 32-bit entry when accumulating
// Kernels return 0; they cannot fail.
#pragma once

#include "cache/sample_table.hpp"

#include <cstddef>
#include <cstdint>

struct tableLineContext {
  uint32_t accumulate;          // 1: add each sample into a 32-bit entry; 0: store pels
  uint32_t sampleMode;          // 2 or 3
  const sampleTable* table;     // the steps, advances and tile widths
  const int16_t* cubicWeights;  // weight array of the cubic weight table (mode 3)
  void* line;                   // the intermediate line in use and its size in bytes: the
  int32_t lineBytes;            // kernels never touch a byte outside it
};

template <class Pel>
using tableLineKernel = int32_t (*)(const tableLineContext* context, int32_t n, int32_t tileType, int32_t minor,
                                    int32_t line, const Pel* source, ptrdiff_t sourceOffset, void* lineWrite,
                                    const void* lineRead, void* destination);
using tableLineKernel8 = tableLineKernel<uint8_t>;
using tableLineKernel16 = tableLineKernel<uint16_t>;

// 8-bit pels: store or accumulate as the context says. Mode 2's line holds pels, mode 3's the pel
// x 64 as signed 16 bits.
int32_t affineLineBilinear8(const tableLineContext* context, int32_t n, int32_t tileType, int32_t minor, int32_t line,
                            const uint8_t* source, ptrdiff_t sourceOffset, void* lineWrite, const void* lineRead,
                            void* destination);
int32_t affineLineCubic8(const tableLineContext* context, int32_t n, int32_t tileType, int32_t minor, int32_t line,
                         const uint8_t* source, ptrdiff_t sourceOffset, void* lineWrite, const void* lineRead,
                         void* destination);

// 16-bit pels, store only (the 16-bit two-pass modes have no projection). Mode 2's line holds
// 16-bit pels, mode 3's the pel x 64 as signed 32 bits.
int32_t affineLineBilinear16(const tableLineContext* context, int32_t n, int32_t tileType, int32_t minor, int32_t line,
                             const uint16_t* source, ptrdiff_t sourceOffset, void* lineWrite, const void* lineRead,
                             void* destination);
int32_t affineLineCubic16(const tableLineContext* context, int32_t n, int32_t tileType, int32_t minor, int32_t line,
                          const uint16_t* source, ptrdiff_t sourceOffset, void* lineWrite, const void* lineRead,
                          void* destination);
