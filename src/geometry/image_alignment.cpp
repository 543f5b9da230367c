// Recognises samplings that are exact axis-aligned copies of source pels, possibly turned by a
// multiple of 90 degrees and mirrored, and names them by an alignment code. Such samplings need no
// interpolation: the transforms copy pels, the projections sum rows or columns, and the clip tests
// drop their interpolation margin.
#include "frame/export_guard.hpp"
#include "geometry/geometry.hpp"

namespace {

// Elements this close to zero count as zero, and positions this close to an integer as integral:
// loose enough for transforms composed in double precision, far tighter than any 16.16 step.
constexpr double kAlignmentEpsilon = 1e-12;

bool nearZero(double v) { return kmath_double_epsilonEqual(v, 0.0, kAlignmentEpsilon) != 0; }

// The origin corner must sit on a whole pel-grid coordinate (the range test also refuses NaN).
bool isIntegral(double v) {
  return v >= -2147483648.0 && v <= 2147483647.0 &&
         kmath_double_epsilonEqual(v, kmath_double_round(v), kAlignmentEpsilon);
}

// Code of the orientation of the matrix of x, the map of the unit square to source pels; general
// for anything but the eight signed permutation matrices.
uint32_t orientationCode(const kmath_xformLinear& x) {
  if (nearZero(x.e1) && nearZero(x.e2)) {
    if (x.e0 > 0 && x.e3 > 0) return 0;
    if (x.e0 < 0 && x.e3 < 0) return 180;
    if (x.e0 < 0 && x.e3 > 0) return 91;
    if (x.e0 > 0 && x.e3 < 0) return 271;
  } else if (nearZero(x.e0) && nearZero(x.e3)) {
    if (x.e1 < 0 && x.e2 > 0) return 90;
    if (x.e1 > 0 && x.e2 < 0) return 270;
    if (x.e1 > 0 && x.e2 > 0) return 1;
    if (x.e1 < 0 && x.e2 < 0) return 181;
  }
  return KIP_ALIGNMENT_GENERAL;
}

// The alignment code of x, the map of the unit square to source pels, for the given counts.
int32_t classify(const kmath_xformLinear& x, const affineSampleParams& params, uint32_t* code) {
  *code = KIP_ALIGNMENT_GENERAL;
  if (!isIntegral(x.tx) || !isIntegral(x.ty)) return 0;
  // One destination pel per source pel: each side is exactly as long as its count.
  const double matrix[4] = {x.e0, x.e1, x.e2, x.e3};
  double xScale = 0.0;
  double yScale = 0.0;
  int32_t status = kmath_matrix_getXScale(matrix, &xScale);
  if (status < 0) return status;
  status = kmath_matrix_getYScale(matrix, &yScale);
  if (status < 0) return status;
  if (!kmath_double_epsilonEqual(xScale, params.xCount, kAlignmentEpsilon) ||
      !kmath_double_epsilonEqual(yScale, params.yCount, kAlignmentEpsilon)) {
    return status;
  }
  *code = orientationCode(x);
  return status;
}

// The source pels an aligned sampling lands on: the pel rectangle enclosing the centres of its
// corner samples, mapped from destination pel coordinates by x after the count scaling.
int32_t alignedWindow(const kmath_xformLinear& x, const affineSampleParams& params, kstd_rect32* window) {
  kmath_xformLinear scale{};
  int32_t status =
      kmath_xformLinear_initMatrixTransElements(&scale, 1.0 / params.xCount, 0.0, 0.0, 1.0 / params.yCount, 0.0, 0.0);
  if (status < 0) return status;
  kmath_xformLinear sourceFromDest{};
  status = kmath_xformLinear_initCompose(&sourceFromDest, &x, &scale);
  if (status < 0) return status;

  kmath_shapeAffineRectPoints corners{};
  status = kmath_vect_init(&corners.p0, 0.5, 0.5);
  if (status < 0) return status;
  status = kmath_vect_init(&corners.p1, params.xCount - 0.5, 0.5);
  if (status < 0) return status;
  status = kmath_vect_init(&corners.p2, 0.5, params.yCount - 0.5);
  if (status < 0) return status;
  kmath_shapeAffineRect centres{};
  status = kmath_shapeAffineRect_initPoints(&centres, &corners);
  if (status < 0) return status;
  return kmath_shapeAffineRect_getEncloseImageRect(&centres, &sourceFromDest, window);
}

}  // namespace

int32_t affine_imageAlignment_computeInternal(const affineSampleParams* params,
                                              const kmath_xformLinear* imageFromClient, uint32_t* alignmentCode,
                                              kstd_rect32* window) {
  if (params == nullptr || imageFromClient == nullptr || alignmentCode == nullptr) return KIP_ERR_NULL_POINTER;
  // The window step divides by the counts; a sampling without samples copies nothing.
  int32_t status = affineSampleParams_checkCounts(*params);
  if (status < 0) return status;
  status = affineSampleParams_checkFinite(params->affineRect);
  if (status < 0) return status;
  status = affineSampleParams_checkFinite(*imageFromClient);
  if (status < 0) return status;

  const kmath_xformLinear rect = kmath_shapeAffineRect_asXform(params->affineRect);
  kmath_xformLinear unitToSource{};
  status = kmath_xformLinear_initCompose(&unitToSource, imageFromClient, &rect);
  if (status < 0) return status;

  uint32_t code = KIP_ALIGNMENT_GENERAL;
  status = classify(unitToSource, *params, &code);
  if (status < 0) return status;

  kstd_rect32 rectOut{};
  if (code != KIP_ALIGNMENT_GENERAL && window != nullptr) {
    status = alignedWindow(unitToSource, *params, &rectOut);
    if (status < 0) return status;
  }
  // Outputs only once every step has succeeded.
  *alignmentCode = code;
  if (code != KIP_ALIGNMENT_GENERAL && window != nullptr) *window = rectOut;
  return status;
}

extern "C" KIP_API int32_t kip_affine_imageAlignment_compute(const affineSampleParams* params,
                                                             const kmath_xformLinear* imageFromClient,
                                                             uint32_t* alignmentCode, kstd_rect32* window) {
  return guardExport(
      [&] { return affine_imageAlignment_computeInternal(params, imageFromClient, alignmentCode, window); });
}
