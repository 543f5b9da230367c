// The sample-parameters record: its two initialisers and the destination's client transform.
#include <cmath>

#include "frame/export_guard.hpp"
#include "geometry/geometry.hpp"

namespace {

// A side length rounded to the nearest whole count of samples.
int32_t roundedCount(double length, int32_t* count) {
  if (!std::isfinite(length)) return KIP_ERR_NOT_FINITE;
  // The rounded value is integral, so the checked floor only checks its range.
  return kmath_double_checkedFloor(kmath_double_round(length), count);
}

int32_t initRectStandard(affineSampleParams* params, const kmath_shapeAffineRect* affineRect,
                         const kmath_xformLinear* xform) {
  if (params == nullptr || affineRect == nullptr) return KIP_ERR_NULL_POINTER;
  // The caller may pass the record's own rectangle; keep a copy before anything is written.
  const kmath_shapeAffineRect rect = *affineRect;
  int32_t status = affineSampleParams_checkFinite(rect);
  if (status < 0) return status;

  // The counts follow the side lengths in the space xform maps into; the stored rectangle stays
  // in client coordinates.
  kmath_shapeAffineRectCenter centre{};
  if (xform == nullptr) {
    status = kmath_shapeAffineRect_getCenter(&rect, &centre);
  } else {
    status = affineSampleParams_checkFinite(*xform);
    if (status < 0) return status;
    kmath_shapeAffineRect mapped{};
    status = kmath_shapeAffineRect_initMap(&mapped, xform, &rect);
    if (status < 0) return status;
    status = kmath_shapeAffineRect_getCenter(&mapped, &centre);
  }
  if (status < 0) return status;

  int32_t xCount = 0;
  int32_t yCount = 0;
  status = roundedCount(centre.xLength, &xCount);
  if (status < 0) return status;
  status = roundedCount(centre.yLength, &yCount);
  if (status < 0) return status;

  params->affineRect = rect;
  params->sampleMode = KIP_SAMPLE_BILINEAR;
  params->xCount = xCount;
  params->yCount = yCount;
  return 0;
}

int32_t getDestImageFromClientXform(const affineSampleParams* params, int32_t forProjection, kmath_xformLinear* out) {
  if (params == nullptr || out == nullptr) return KIP_ERR_NULL_POINTER;
  // Only the counts that are divided by are tested: a projection's destination is one row tall
  // whatever yCount says.
  if (params->xCount < 1 || (forProjection == 0 && params->yCount < 1)) return KIP_ERR_NO_SAMPLES;
  int32_t status = affineSampleParams_checkFinite(params->affineRect);
  if (status < 0) return status;

  // Destination pel coordinates -> unit square -> client coordinates; the inverse is the
  // destination's image-from-client transform.
  kmath_xformLinear scale{};
  status = kmath_xformLinear_initMatrixTransElements(&scale, 1.0 / params->xCount, 0.0, 0.0,
                                                     forProjection != 0 ? 1.0 : 1.0 / params->yCount, 0.0, 0.0);
  if (status < 0) return status;
  const kmath_xformLinear rect = kmath_shapeAffineRect_asXform(params->affineRect);
  kmath_xformLinear clientFromDest{};
  status = kmath_xformLinear_initCompose(&clientFromDest, &rect, &scale);
  if (status < 0) return status;
  kmath_xformLinear inverse{};
  status = kmath_xformLinear_getInverse(&clientFromDest, &inverse);
  if (status < 0) return status;
  *out = inverse;
  return status;
}

}  // namespace

extern "C" {

KIP_API int32_t kip_affineSampleParams_init(affineSampleParams* params, uint32_t sampleMode,
                                            const kmath_shapeAffineRect* affineRect, int32_t xCount, int32_t yCount) {
  return guardExport([&]() -> int32_t {
    if (params == nullptr || affineRect == nullptr) return KIP_ERR_NULL_POINTER;
    const kmath_shapeAffineRect rect = *affineRect;
    params->affineRect = rect;
    params->sampleMode = sampleMode;
    params->xCount = xCount;
    params->yCount = yCount;
    return 0;
  });
}

KIP_API int32_t kip_affineSampleParams_initRectStandard(affineSampleParams* params,
                                                        const kmath_shapeAffineRect* affineRect,
                                                        const kmath_xformLinear* xform) {
  return guardExport([&] { return initRectStandard(params, affineRect, xform); });
}

KIP_API int32_t kip_affineSampleParams_getDestImageFromClientXform(const affineSampleParams* params,
                                                                   int32_t forProjection, kmath_xformLinear* out) {
  return guardExport([&] { return getDestImageFromClientXform(params, forProjection, out); });
}

}  // extern "C"
