// Argument checks shared by the geometry functions. Every value that later becomes an integer
// (a count, a fixed-point position, a pel rectangle) starts as one of these doubles, so refusing
// NaN and infinities here keeps every later conversion defined.
#include <cmath>

#include "geometry/geometry.hpp"

namespace {

bool allFinite(double tx, double ty, double e0, double e1, double e2, double e3) {
  return std::isfinite(tx) && std::isfinite(ty) && std::isfinite(e0) && std::isfinite(e1) && std::isfinite(e2) &&
         std::isfinite(e3);
}

}  // namespace

int32_t affineSampleParams_checkCounts(const affineSampleParams& params) {
  return params.xCount < 1 || params.yCount < 1 ? KIP_ERR_NO_SAMPLES : 0;
}

int32_t affineSampleParams_checkFinite(const kmath_shapeAffineRect& rect) {
  return allFinite(rect.tx, rect.ty, rect.e0, rect.e1, rect.e2, rect.e3) ? 0 : KIP_ERR_NOT_FINITE;
}

int32_t affineSampleParams_checkFinite(const kmath_xformLinear& xform) {
  return allFinite(xform.tx, xform.ty, xform.e0, xform.e1, xform.e2, xform.e3) ? 0 : KIP_ERR_NOT_FINITE;
}

int32_t geometry_imageWindowAndXform(const kimg_image* image, kimg_window* window, kmath_xformLinear* imageFromClient) {
  if (image == nullptr) return KIP_ERR_NULL_POINTER;
  const int32_t status = kimg_imageConst_getLinearImageFromClientXform(image, imageFromClient);
  if (status < 0) return status;
  return kimg_windowConst_init(window, image);
}
