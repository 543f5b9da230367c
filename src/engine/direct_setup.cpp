// The map of the direct path's set-up: destination pel centres to source window pels.
#include "engine/direct_setup.hpp"

namespace {

int32_t mapPoint(const kmath_xformLinear& map, const kimg_window& source, double x, double y, kmath_vect* out) {
  const kmath_vect in{x, y};
  kmath_vect mapped{};
  const int32_t status = kmath_xformLinear_mapPoint(&map, &in, &mapped);
  if (status < 0) return status;
  *out = {mapped.x - source.xOrigin, mapped.y - source.yOrigin};
  return 0;
}

}  // namespace

int32_t directMapSteps(const kimg_window& source, const kmath_xformLinear& sourceXform,
                       const affineSampleParams& params, kmath_vect* origin, kmath_vect* rowStep,
                       kmath_vect* columnStep) {
  kmath_xformLinear scale{};
  int32_t status =
      kmath_xformLinear_initMatrixTransElements(&scale, 1.0 / params.xCount, 0.0, 0.0, 1.0 / params.yCount, 0.0, 0.0);
  if (status < 0) return status;
  const kmath_xformLinear rect = kmath_shapeAffineRect_asXform(params.affineRect);
  kmath_xformLinear rectFromDestination{};
  status = kmath_xformLinear_initCompose(&rectFromDestination, &rect, &scale);
  if (status < 0) return status;
  kmath_xformLinear map{};
  status = kmath_xformLinear_initCompose(&map, &sourceXform, &rectFromDestination);
  if (status < 0) return status;

  kmath_vect q0{}, qRow{}, qColumn{};
  status = mapPoint(map, source, 0.5, 0.5, &q0);
  if (status < 0) return status;
  status = mapPoint(map, source, 0.5, 1.5, &qRow);
  if (status < 0) return status;
  status = mapPoint(map, source, 1.5, 0.5, &qColumn);
  if (status < 0) return status;
  *origin = q0;
  *rowStep = {qRow.x - q0.x, qRow.y - q0.y};
  *columnStep = {qColumn.x - q0.x, qColumn.y - q0.y};
  return 0;
}
