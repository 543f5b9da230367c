// The projection cores: refresh the cache for a one-row destination, then either sum the source
// rectangle that an axis-aligned map copies (rows or columns, forward or reversed), or run the
// engine with every destination row adding into the vector.
#include "affineproject/affineproject.hpp"

#include "engine/engine.hpp"
#include "frame/frame.hpp"
#include "platform/platform.hpp"
#include "project/project.hpp"

namespace {

bool isTwoPassMode(uint32_t sampleMode) {
  return sampleMode != KIP_SAMPLE_NEAREST && sampleMode != KIP_SAMPLE_BILINEAR;
}

// The aligned short-cut. The alignment makes the copied rectangle xCount long along the axis the
// vector runs along and yCount deep along the other; the length is checked all the same, since a
// longer one would write past the vector.
template <typename Pel>
int32_t projectAligned(const kimg_window* source, kimg_window* vector, const affineSampleCache& cache) {
  kimg_window narrowed = *source;
  const kstd_rect32& rect = cache.alignmentRect;
  int32_t status = kimg_windowConst_window(&narrowed, rect.x, rect.y, rect.width, rect.height, nullptr);
  if (status < 0) return status;
  const uint32_t code = cache.alignmentCode;
  const bool columns = projectionDirectionIsColumns(code);
  if ((columns ? narrowed.width : narrowed.height) != vector->width) return KIP_ERR_INTERNAL;
  if constexpr (sizeof(Pel) == 2) {
    return kf_projection_aligned16(&narrowed, vector, code);
  } else {
    const int32_t reverse = projectionDirectionIsReversed(code) ? 1 : 0;
    return columns ? kf_projection_horizontal8(&narrowed, vector, reverse)
                   : kf_projection_vertical8(&narrowed, vector, reverse);
  }
}

template <typename Pel>
int32_t projectGeneral(const kimg_window* source, const kmath_xformLinear* sourceXform, kimg_window* vector,
                       const affineSampleParams* params, const affineSampleCache* cache) {
  if constexpr (sizeof(Pel) == 2) {
    // The 16-bit process has only 16.16 positions, whose integer parts are signed 16 bits: it would
    // refuse a larger source after the entries were cleared, and a refused call writes nothing.
    constexpr int32_t kFixedSourceLimit = 32767;
    if (source->stride > kFixedSourceLimit || source->height > kFixedSourceLimit) return KIP_ERR_SOURCE_TOO_LARGE;
    // No optimized 16-bit process: clear the entries and let the portable one add into them.
    const int32_t status = ksys_memory_fill(0, static_cast<size_t>(vector->width) * sizeof(uint32_t), vector->firstPel);
    if (status < 0) return status;
    return affineProcess_portable16(1, source, sourceXform, vector, params, cache);
  } else {
    return affineProcess_project8(source, sourceXform, vector, params, cache);
  }
}

template <typename Pel>
int32_t projectCore(const kimg_window* source, const kmath_xformLinear* sourceXform, kimg_window* vector,
                    const affineSampleParams* params, affineSampleCache* cache, kmath_xformLinear* outXform,
                    uint32_t* sampleCount) {
  // Before the cache: only nearest and bilinear sampling serve 16-bit sources here.
  if (source->pelSize == 2 && isTwoPassMode(params->sampleMode)) return KIP_ERR_MODE_UNSUPPORTED;
  int32_t status = affineSampleCache_refresh(cache, source, sourceXform, vector, params, 1);
  if (status < 0) return status;
  status = cache->alignmentCode == KIP_ALIGNMENT_GENERAL
               ? projectGeneral<Pel>(source, sourceXform, vector, params, cache)
               : projectAligned<Pel>(source, vector, *cache);
  if (status < 0) return status;
  if (sampleCount != nullptr) *sampleCount = static_cast<uint32_t>(params->yCount);
  *outXform = cache->destImageFromClientXform;
  return status;
}

}  // namespace

int32_t affineProject_core8(const kimg_window* source, const kmath_xformLinear* sourceXform, kimg_window* vector,
                            const affineSampleParams* params, affineSampleCache* cache, kmath_xformLinear* outXform,
                            uint32_t* sampleCount) {
  return projectCore<uint8_t>(source, sourceXform, vector, params, cache, outXform, sampleCount);
}

int32_t affineProject_core16(const kimg_window* source, const kmath_xformLinear* sourceXform, kimg_window* vector,
                             const affineSampleParams* params, affineSampleCache* cache, kmath_xformLinear* outXform,
                             uint32_t* sampleCount) {
  return projectCore<uint16_t>(source, sourceXform, vector, params, cache, outXform, sampleCount);
}
