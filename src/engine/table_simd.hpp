// The optimized drivers of the two-pass sampling modes for 8-bit sources: the tile walk of the
// portable core (table_walk.hpp, edge pass included) with line kernels written with Highway.
//
// Results equal the portable core's bit for bit, but for one rounding that the cubic kernels
// define differently: their first pass divides its sum (plus 256) by 512 with an arithmetic shift,
// which rounds toward minus infinity, where the portable kernel truncates toward zero. A negative
// sum that is not a multiple of 512 so gives one less (1/64 of a grey level), which can move a
// final pel by one beside a sharp dark-to-bright edge. The values the edge pass computes keep the
// portable rounding. The second pass limits its result to 0 .. 255, so its own shift changes
// nothing: every value the two roundings treat differently is negative.
#pragma once

#include <kip/kip.h>

#include <cstddef>
#include <cstdint>

#include "cache/sample_table.hpp"

// What a driver hands a line kernel for one destination row of one tile. The first pass reads
// pels at offsets from `source` (the source's first pel, or the drivers' copy of a tile's pels),
// neighbours along the axes header majorStep and minorStep apart.
struct simdLineParams {
  const uint8_t* source;   // the pels the first pass reads
  ptrdiff_t sourceOffset;  // offset of the first first-pass value's reference pel (in mode 3 the
                           // value one majorStep before the line's first position)
  ptrdiff_t lastOffset;    // offset of the last readable pel: no read goes past it
  const int16_t* weights;  // the cubic weight array (mode 3)
  void* destination;       // the row's first pel, or its first 32-bit entry when accumulating
  int32_t minor;           // 16.16 minor accumulator of the first first-pass value
  int32_t line;            // 16.16 line accumulator of the row's first sample
  int32_t n;               // first-pass values less one (mode 2) or less three (mode 3)
  int32_t outputBytes;     // samples x 4 when accumulating, x 1 when storing
  const void* lineBuffer;  // the intermediate line in use and its size: no read or write
  int32_t lineBytes;       // leaves it
};

// accumulate, the sample parameters (only the mode is read), the 8-bit table slot built by the
// cache refresh for this geometry, the source window's first and last pels (first + (height - 1)
// x stride + width - 1), and the destination's first pel or the projection vector's first entry.
// A failing processor query or weight table is returned unchanged; a processor without SIMD
// declines with KIP_ERR_NOT_AVAILABLE (the caller then runs the portable process), a mode other
// than 2 and 3 gives KIP_ERR_MODE_UNSUPPORTED. Each call allocates one block before its walk,
// for the copies of the tiles' source pels; KIP_ERR_OUT_OF_MEMORY when that fails. Nothing is
// written before these tests pass.
int32_t affineTile_tableStore8(uint32_t accumulate, const affineSampleParams* params, const sampleTable* table,
                               const uint8_t* sourceFirst, const uint8_t* sourceLast, void* destination);
int32_t affineTile_tableAccumulate8(uint32_t accumulate, const affineSampleParams* params, const sampleTable* table,
                                    const uint8_t* sourceFirst, const uint8_t* sourceLast, void* destination);

// The line kernels on their own, through the dispatch of the best instruction set (the drivers
// dispatch once per call instead). The first pass writes from lineWrite, the second reads the line
// from lineRead, as the portable kernels' arguments of those names. The store kernels write a
// byte per sample, the accumulating ones add into 32-bit entries.
void affineLineBilinearSimd8(const sampleTableHeader* header, const simdLineParams* params, void* lineWrite,
                             const void* lineRead);
void affineLineBilinearSimdAcc8(const sampleTableHeader* header, const simdLineParams* params, void* lineWrite,
                                const void* lineRead);
void affineLineCubicSimd8(const sampleTableHeader* header, const simdLineParams* params, void* lineWrite,
                          const void* lineRead);
void affineLineCubicSimdAcc8(const sampleTableHeader* header, const simdLineParams* params, void* lineWrite,
                             const void* lineRead);

// The instruction set the dispatch chooses now (tests check that forcing one takes effect).
const char* tableSimdTargetName();

// The accumulate driver for a projection vector that still holds the caller's entries: clears its
// first clearBytes bytes once every step that can fail has passed, so that a failed call (for
// memory, say) leaves the caller's entries as they were.
int32_t affineTile_tableProject8(const affineSampleParams* params, const sampleTable* table, const uint8_t* sourceFirst,
                                 const uint8_t* sourceLast, void* vector, size_t clearBytes);
