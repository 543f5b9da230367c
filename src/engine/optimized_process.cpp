// The optimized 8-bit process: the size test, the choice between the tiled and the table-driven
// forms, and the projection process on top.
#include "engine/optimized_process.hpp"

#include <cstring>

#include "engine/bilinear_tile.hpp"
#include "engine/cubic_weight_table.hpp"
#include "engine/direct_process.hpp"
#include "engine/nearest_tile_simd.hpp"
#include "engine/portable_process.hpp"
#include "engine/tile_loops.hpp"
#include "frame/optimization_hook.hpp"
#include "platform/image.hpp"

int32_t affineProcess_optimized8(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                                 const kimg_window* destination, const affineSampleParams* params,
                                 const affineSampleCache* cache) {
  if (source == nullptr || params == nullptr) return KIP_ERR_NULL_POINTER;
  if (source->stride > kDirectFixedLimit || source->height > kDirectFixedLimit) return KIP_ERR_NOT_AVAILABLE;
  switch (params->sampleMode) {
    case KIP_SAMPLE_NEAREST:
    case KIP_SAMPLE_BILINEAR:
      return affineProcess_tiled8(accumulate, source, sourceXform, destination, params, cache);
    case KIP_SAMPLE_LINEAR2:
    case KIP_SAMPLE_CUBIC2:
      return affineProcess_tableOptimized8(accumulate, params, cache, source, destination);
    default:
      return KIP_ERR_NOT_AVAILABLE;
  }
}

int32_t affineProcess_tiled8(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                             const kimg_window* destination, const affineSampleParams* params,
                             const affineSampleCache*) {
  if (source == nullptr || params == nullptr) return KIP_ERR_NULL_POINTER;
  const int32_t tileRows = affineTile_rowsForStride(source->stride);
  if (params->sampleMode == KIP_SAMPLE_BILINEAR) {
    return accumulate != 0 ? affineTile_bilinearAccumulate8(1, source, sourceXform, destination, params, tileRows)
                           : affineTile_bilinearStore8(0, source, sourceXform, destination, params, tileRows);
  }
  if (params->sampleMode == KIP_SAMPLE_NEAREST) {
    return affineTile_loop8(accumulate, source, sourceXform, destination, params, tileRows,
                            accumulate != 0 ? affineRowNearestSimdAcc8 : affineRowNearestSimd8);
  }
  return KIP_ERR_NOT_AVAILABLE;
}

int32_t affineProcess_optimized16(uint32_t, const kimg_window*, const kmath_xformLinear*, const kimg_window*,
                                  const affineSampleParams*, const affineSampleCache*) {
  return KIP_ERR_NOT_AVAILABLE;
}

int32_t affineProcess_project8(const kimg_window* source, const kmath_xformLinear* sourceXform,
                               const kimg_window* vector, const affineSampleParams* params,
                               const affineSampleCache* cache) {
  int32_t status = kimg_window_validate(vector, 4);
  if (status < 0) return status;
  // Whatever can fail comes before the vector is cleared, so that a failed call writes nothing: a
  // mode without kernels is refused, and the cubic weights are made (their first use allocates).
  if (params != nullptr && params->sampleMode > KIP_SAMPLE_CUBIC2) return KIP_ERR_MODE_UNSUPPORTED;
  if (params != nullptr && params->sampleMode == KIP_SAMPLE_CUBIC2) {
    status = cubicWeightTable_ensure();
    if (status < 0) return status;
  }
  // Each path clears the vector just before it samples: the two-pass drivers after allocating
  // their scratch (their clearing is their own), the others allocate nothing.
  const auto clear = [&] {
    if (vector->width > 0) std::memset(vector->firstPel, 0, static_cast<size_t>(vector->width) * sizeof(uint32_t));
  };
  const bool twoPass =
      params != nullptr && (params->sampleMode == KIP_SAMPLE_LINEAR2 || params->sampleMode == KIP_SAMPLE_CUBIC2);
  return dispatchOptimizedFirst(
      kHookAffineProcess,
      [&] {
        if (!twoPass) clear();
        return affineProcess_optimized8(1, source, sourceXform, vector, params, cache);
      },
      [&] {
        clear();
        return affineProcess_portable8(1, source, sourceXform, vector, params, cache);
      });
}
