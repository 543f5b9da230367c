// The table-driven core of the two-pass sampling modes (2 two-pass linear, 3 two-pass cubic): walks
// the tiles of the cache's sample table and computes each destination row with a line kernel.
//
// Arguments: accumulate (1 adds every row into the 32-bit entries of a one-row vector, which are
// never cleared; 0 stores pels), the sample parameters (only the mode is read), the table slot of
// the source's pel size, built by the cache refresh for this very geometry, the source window's
// first and last pels (the last: first + (height - 1) x stride + width - 1), the destination's
// first pel or entry, and the line kernel of the mode. KIP_ERR_MODE_UNSUPPORTED for a mode other
// than 2 and 3; a failure of the cubic weight table or of a kernel is returned unchanged.
#pragma once

#include <kip/kip.h>

#include "cache/sample_table.hpp"
#include "engine/line_kernels.hpp"

#include <cstdint>

int32_t affineTable_core8(uint32_t accumulate, const affineSampleParams* params, const sampleTable* table,
                          const uint8_t* sourceFirst, const uint8_t* sourceLast, void* destination,
                          tableLineKernel8 kernel);
int32_t affineTable_core16(uint32_t accumulate, const affineSampleParams* params, const sampleTable* table,
                           const uint16_t* sourceFirst, const uint16_t* sourceLast, void* destination,
                           tableLineKernel16 kernel);
