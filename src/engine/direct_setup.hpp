// The set-up shared by every tile driver of the direct path: the argument checks, the extent of
// the window (a store's own width and height, or xCount x yCount summed into a vector), and the
// source position of the first sample centre with the steps of one row and one column. The
// coordinates and the failures are those described in engine/tile_loops.hpp.
#pragma once

#include <kip/kip.h>

#include "engine/direct_sample.hpp"
#include "platform/image.hpp"
#include "platform/math.hpp"

#include <cstdint>

template <typename Pel>
struct DirectSetup {
  DirectSource<Pel> source;
  bool accumulate;
  int32_t columns, rows;                   // samples across, rows of this window (a band's own rows)
  int64_t bandStart;                       // first destination row of the window within the whole destination
  void* destination;                       // first pel (or entry) of the whole destination
  int32_t destinationStride;               // pels; 0 when accumulating
  kmath_vect origin, rowStep, columnStep;  // first sample centre, steps per row and per column
};

// The first sample centre and the steps of one destination row and one destination column, in
// source window pels: the centres of destination pels (0, 0), (0, 1) and (1, 0) under T o A o S.
int32_t directMapSteps(const kimg_window& source, const kmath_xformLinear& sourceXform,
                       const affineSampleParams& params, kmath_vect* origin, kmath_vect* rowStep,
                       kmath_vect* columnStep);

// Checks the arguments and fills setup; tile is the tile size in samples (at least 1).
template <typename Pel>
int32_t directPrepare(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                      const kimg_window* destination, const affineSampleParams* params, int32_t tile,
                      DirectSetup<Pel>* setup) {
  if (source == nullptr || sourceXform == nullptr || destination == nullptr || params == nullptr) {
    return KIP_ERR_NULL_POINTER;
  }
  int32_t status = kimg_window_validate(source, sizeof(Pel));
  if (status < 0) return status;
  status = kimg_window_validate(destination, accumulate != 0 ? 4 : static_cast<int32_t>(sizeof(Pel)));
  if (status < 0) return status;
  if (params->xCount < 1 || params->yCount < 1) return KIP_ERR_NO_SAMPLES;
  if (tile < 1 || destination->bandOffset > 0) return KIP_ERR_BAD_SIZE;

  setup->accumulate = accumulate != 0;
  setup->bandStart = -int64_t{destination->bandOffset};
  setup->destination = destination->firstPel;
  if (setup->accumulate) {
    if (destination->width < params->xCount) return KIP_ERR_DEST_TOO_SMALL;
    setup->columns = params->xCount;
    setup->rows = params->yCount;
    setup->destinationStride = 0;
  } else {
    setup->columns = destination->width;
    setup->rows = destination->height;
    setup->destinationStride = destination->stride;
  }
  if (setup->columns > 0 && setup->rows > 0 && (source->width < 1 || source->height < 1)) {
    return KIP_ERR_BAD_SIZE;  // nothing to sample from
  }
  setup->source = {static_cast<const Pel*>(source->firstPel), source->stride, source->width, source->height, 0, 0};
  return directMapSteps(*source, *sourceXform, *params, &setup->origin, &setup->rowStep, &setup->columnStep);
}
