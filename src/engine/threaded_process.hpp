// The threaded affine process: the engine's entry for a general (not axis-aligned) transform. A
// large nearest or bilinear sampling is cut into bands of tileRows destination rows
// (affineTile_rowsForStride of the source stride), one job per band on the job thread group, and
// the calling thread waits for all of them; anything else runs whole in the calling thread. Each
// piece asks the optimization hook ("kip_affineProcess" / "kip_affineProcess16"), runs the
// optimized process and falls back to the portable one when that was forbidden or declined; the
// 16-bit optimized process always declines.
//
// Split only when the group has at least two threads, the mode is 0 or 1, the destination height
// exceeds 3 x tileRows / 2 and its area reaches 262144 pels (nearest) or 65536 (bilinear). Bands
// start at multiples of tileRows and sample exactly the positions the whole destination would, so
// a split run gives the pels of an unsplit one, on any number of threads.
//
// Arguments: source window, source image-from-client transform, destination window (pels stored,
// accumulate 0), sample parameters, the sample cache (refreshed already). Returns the status of
// the process, or of the first job that failed, or of a job-interface or allocation failure.
#pragma once

#include <kip/kip.h>

#include "cache/cache.hpp"
#include "platform/jobs.hpp"

#include <cstdint>

int32_t affineProcess_threaded8(const kimg_window* source, const kmath_xformLinear* sourceXform,
                                const kimg_window* destination, const affineSampleParams* params,
                                const affineSampleCache* cache);
int32_t affineProcess_threaded16(const kimg_window* source, const kmath_xformLinear* sourceXform,
                                 const kimg_window* destination, const affineSampleParams* params,
                                 const affineSampleCache* cache);

// The job functions: one band each, from the job block the parameters hold.
int32_t affineProcess_job8(const ksys_jobParams* jobParams);
int32_t affineProcess_job16(const ksys_jobParams* jobParams);

// The job block of one band. The band window is a copy of the destination window with the band's
// height and its bandOffset reduced by the band's first row; params points at the block's own copy
// of the sample parameters; the rest points at the caller's records, shared read only.
struct affineProcessJobBlock {
  kimg_window band;
  uint32_t accumulate;
  const kimg_window* source;
  const kmath_xformLinear* sourceXform;
  const affineSampleParams* params;
  const affineSampleCache* cache;
  affineSampleParams sampleParams;
};
