// The table-driven path of the portable process (two-pass linear and two-pass cubic): size test,
// choice of line kernel and the table-driven core, over the cache's table for the pel size.
// KIP_ERR_SOURCE_TOO_LARGE for a source whose row stride or height exceeds 32767,
// KIP_ERR_MODE_UNSUPPORTED for a sample mode other than 2 and 3.
#pragma once

#include <kip/kip.h>

#include "cache/cache.hpp"

#include <cstdint>

int32_t affineTable_process8(uint32_t accumulate, const kimg_window* source, const kimg_window* destination,
                             const affineSampleParams* params, const affineSampleCache* cache);
int32_t affineTable_process16(uint32_t accumulate, const kimg_window* source, const kimg_window* destination,
                              const affineSampleParams* params, const affineSampleCache* cache);
