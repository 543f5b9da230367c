// The portable process: the direct path serves nearest neighbour and bilinear, the table-driven
// path every other mode (it refuses those it does not know).
#include "engine/portable_process.hpp"

#include "engine/direct_process.hpp"
#include "engine/table_process.hpp"

namespace {

// Tile edge of the 8-bit direct path: small enough that a tile's source pels stay near each other.
constexpr int32_t kPortableTile = 64;

bool isDirectMode(const affineSampleParams* params) {
  return params->sampleMode == KIP_SAMPLE_NEAREST || params->sampleMode == KIP_SAMPLE_BILINEAR;
}

}  // namespace

int32_t affineProcess_portable8(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                                const kimg_window* destination, const affineSampleParams* params,
                                const affineSampleCache* cache) {
  if (params == nullptr) return KIP_ERR_NULL_POINTER;
  if (isDirectMode(params)) {
    return affineProcess_direct8(accumulate, source, sourceXform, destination, params, kPortableTile);
  }
  return affineTable_process8(accumulate, source, destination, params, cache);
}

int32_t affineProcess_portable16(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                                 const kimg_window* destination, const affineSampleParams* params,
                                 const affineSampleCache* cache) {
  if (params == nullptr) return KIP_ERR_NULL_POINTER;
  if (isDirectMode(params)) return affineProcess_direct16(accumulate, source, sourceXform, destination, params);
  return affineTable_process16(accumulate, source, destination, params, cache);
}
