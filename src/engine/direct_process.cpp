#include "engine/direct_process.hpp"

#include "engine/tile_loops.hpp"
#include "platform/math.hpp"

#include <cmath>
#include <initializer_list>

namespace {

bool isLargeSource(const kimg_window& source) {
  return source.stride > kDirectFixedLimit || source.height > kDirectFixedLimit;
}

// Whether tile samples along a destination row or column move the source position 32768 pels or
// more along either axis.
bool tileSpansTooManyPels(const kmath_xformLinear& sourceXform, const affineSampleParams& params, int32_t tile) {
  const kmath_xformLinear rect = kmath_shapeAffineRect_asXform(params.affineRect);
  kmath_xformLinear map{};
  if (kmath_xformLinear_initCompose(&map, &sourceXform, &rect) < 0) return true;
  const double column[2] = {map.e0 / params.xCount, map.e2 / params.xCount};
  const double row[2] = {map.e1 / params.yCount, map.e3 / params.yCount};
  for (double step : {column[0], column[1], row[0], row[1]}) {
    if (!(tile * std::fabs(step) < 32768.0)) return true;
  }
  return false;
}

}  // namespace

int32_t affineDirect_chooseLoop(const kimg_window* source, const kmath_xformLinear* sourceXform,
                                const affineSampleParams* params, int32_t tile, DirectLoop* loop) {
  if (source == nullptr || sourceXform == nullptr || params == nullptr || loop == nullptr) return KIP_ERR_NULL_POINTER;
  if (params->xCount < 1 || params->yCount < 1) return KIP_ERR_NO_SAMPLES;
  if (!isLargeSource(*source)) {
    *loop = DirectLoop::fixed;
    return 0;
  }
  kmath_shapeAffineRectCenter centre{};
  const int32_t status = kmath_shapeAffineRect_getCenter(&params->affineRect, &centre);
  if (status < 0) return status;
  const bool tileTooLong =
      tile * centre.xLength / params->xCount >= 32768.0 || tile * centre.yLength / params->yCount >= 32768.0 ||
      tileSpansTooManyPels(*sourceXform, *params, tile);
  *loop = tileTooLong ? DirectLoop::floating : DirectLoop::large;
  return 0;
}

DirectKernel<uint8_t> affineDirect_kernel8(uint32_t sampleMode, uint32_t accumulate) {
  if (sampleMode == KIP_SAMPLE_NEAREST) return accumulate ? affineRowNearestAcc8 : affineRowNearest8;
  return accumulate ? affineRowBilinearAcc8 : affineRowBilinear8;
}

DirectFloatKernel8 affineDirect_floatKernel8(uint32_t sampleMode, uint32_t accumulate) {
  if (sampleMode == KIP_SAMPLE_NEAREST) return accumulate ? affineRowNearestFloatAcc8 : affineRowNearestFloat8;
  return accumulate ? affineRowBilinearFloatAcc8 : affineRowBilinearFloat8;
}

DirectKernel<uint16_t> affineDirect_kernel16(uint32_t sampleMode, uint32_t accumulate) {
  if (sampleMode == KIP_SAMPLE_NEAREST) return accumulate ? affineRowNearestAcc16 : affineRowNearest16;
  return accumulate ? affineRowBilinearAcc16 : affineRowBilinearHooked16;
}

int32_t affineProcess_direct8(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                              const kimg_window* destination, const affineSampleParams* params, int32_t tile) {
  DirectLoop loop = DirectLoop::fixed;
  const int32_t status = affineDirect_chooseLoop(source, sourceXform, params, tile, &loop);
  if (status < 0) return status;
  const uint32_t mode = params->sampleMode;
  if (loop == DirectLoop::floating) {
    return affineTile_loopFloat8(accumulate, source, sourceXform, destination, params, tile,
                                 affineDirect_floatKernel8(mode, accumulate));
  }
  const DirectKernel<uint8_t> kernel = affineDirect_kernel8(mode, accumulate);
  if (loop == DirectLoop::large) {
    return affineTile_loopLarge8(accumulate, source, sourceXform, destination, params, tile, kernel);
  }
  return affineTile_loop8(accumulate, source, sourceXform, destination, params, tile, kernel);
}

int32_t affineProcess_direct16(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                               const kimg_window* destination, const affineSampleParams* params) {
  if (source == nullptr || params == nullptr) return KIP_ERR_NULL_POINTER;
  if (isLargeSource(*source)) return KIP_ERR_SOURCE_TOO_LARGE;
  return affineTile_loop16(accumulate, source, sourceXform, destination, params,
                           affineTile_rowsForStride(source->stride),
                           affineDirect_kernel16(params->sampleMode, accumulate));
}
