// The source pels a sampling can reach at most: the pel rectangle around its corner sample
// centres with a margin of 6 pels, which covers the reach of every sample mode with room to
// spare. The clipped transforms and projections build their padded source copy from it.
#include <algorithm>

#include "frame/export_guard.hpp"
#include "geometry/geometry.hpp"

namespace {

constexpr double kMaxRectMargin = 6.0;

// Corner sample centres in source pel coordinates, composed with the throwing operators, which
// report any non-finite product through kxException.
int32_t cornerExtent(const affineSampleParams& params, const kmath_xformLinear& imageFromClient, double* minX,
                     double* minY, double* maxX, double* maxY) {
  try {
    const double xCount = params.xCount;
    const double yCount = params.yCount;
    const kx2Xform scale(kmath_xformLinear{0.0, 0.0, 1.0 / xCount, 0.0, 0.0, 1.0 / yCount});
    const kx2Xform rect(kmath_shapeAffineRect_asXform(params.affineRect));
    const kx2Xform source(imageFromClient);
    const kx2Xform sourceFromDest = (source * rect) * scale;
    const kx2Vect corners[4] = {{0.5, 0.5}, {xCount - 0.5, 0.5}, {0.5, yCount - 0.5}, {xCount - 0.5, yCount - 0.5}};
    kx2Vect first = sourceFromDest * corners[0];
    *minX = *maxX = first.x;
    *minY = *maxY = first.y;
    for (int i = 1; i < 4; ++i) {
      const kx2Vect p = sourceFromDest * corners[i];
      *minX = std::min(*minX, p.x);
      *maxX = std::max(*maxX, p.x);
      *minY = std::min(*minY, p.y);
      *maxY = std::max(*maxY, p.y);
    }
  } catch (const kxException& e) {
    return e.status < 0 ? e.status : KIP_ERR_INTERNAL;
  }
  return 0;
}

int32_t getMaxSrcRectWindow(const affineSampleParams* params, const kimg_window* window,
                            const kmath_xformLinear* imageFromClient, kstd_rect32* rect) {
  if (params == nullptr || window == nullptr || imageFromClient == nullptr || rect == nullptr) {
    return KIP_ERR_NULL_POINTER;
  }
  // The window does not enter the result, but a caller that passes a broken one has a bug.
  int32_t status = kimg_window_validate(window, 0);
  if (status < 0) return status;
  // Counts below 1 would divide by zero; a sampling without samples reaches no pel.
  status = affineSampleParams_checkCounts(*params);
  if (status < 0) return status;
  status = affineSampleParams_checkFinite(params->affineRect);
  if (status < 0) return status;
  status = affineSampleParams_checkFinite(*imageFromClient);
  if (status < 0) return status;

  double minX = 0.0, minY = 0.0, maxX = 0.0, maxY = 0.0;
  status = cornerExtent(*params, *imageFromClient, &minX, &minY, &maxX, &maxY);
  if (status < 0) return status;

  // The checked conversions refuse what does not fit 32 bits instead of saturating, so the
  // rectangle is never silently smaller than the reach.
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  if ((status = kmath_double_checkedFloor(minX - kMaxRectMargin, &left)) < 0) return status;
  if ((status = kmath_double_checkedFloor(minY - kMaxRectMargin, &top)) < 0) return status;
  if ((status = kmath_double_checkedCeil(maxX + kMaxRectMargin, &right)) < 0) return status;
  if ((status = kmath_double_checkedCeil(maxY + kMaxRectMargin, &bottom)) < 0) return status;
  const int64_t width = static_cast<int64_t>(right) - left + 1;
  const int64_t height = static_cast<int64_t>(bottom) - top + 1;
  if (width > INT32_MAX || height > INT32_MAX) return KIP_ERR_OUT_OF_RANGE;

  kstd_rect32 result{};
  status = kstd_rect32_init(&result, left, top, static_cast<int32_t>(width), static_cast<int32_t>(height));
  if (status < 0) return status;
  *rect = result;
  return status;
}

}  // namespace

extern "C" {

KIP_API int32_t kip_affineSampleParams_getMaxSrcRectWindow(const affineSampleParams* params, const kimg_window* window,
                                                           const kmath_xformLinear* imageFromClient,
                                                           kstd_rect32* rect) {
  return guardExport([&] { return getMaxSrcRectWindow(params, window, imageFromClient, rect); });
}

KIP_API int32_t kip_affineSampleParams_getMaxSrcRect(const affineSampleParams* params, const kimg_image* image,
                                                     kstd_rect32* rect) {
  return guardExport([&]() -> int32_t {
    kimg_window window{};
    kmath_xformLinear imageFromClient{};
    const int32_t status = geometry_imageWindowAndXform(image, &window, &imageFromClient);
    if (status < 0) return status;
    return getMaxSrcRectWindow(params, &window, &imageFromClient, rect);
  });
}

}  // extern "C"
