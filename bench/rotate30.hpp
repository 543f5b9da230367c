// The rotation case of the benchmarks: the 4096 x 4096 source turned by 30 degrees at scale 1 into
// a 2896 x 2896 destination centred on the source, every sample well inside it.
#pragma once

#include <kip/kip.h>

#include <cmath>
#include <cstdint>
#include <numbers>

inline constexpr int32_t kRotate30Side = 2896;

// Destination rows run at 30 degrees in the source; destination pel (c, r) samples the source
// point rect.tx + rect.e0 x (c + 0.5) / side + rect.e1 x (r + 0.5) / side (and likewise y).
inline affineSampleParams rotate30Params(uint32_t sampleMode, int32_t sourceSide) {
  const double radians = 30.0 * std::numbers::pi / 180.0;
  const double ux = std::cos(radians), uy = std::sin(radians);
  const double side = kRotate30Side, centre = sourceSide / 2.0;
  const kmath_shapeAffineRect rect{
      centre - side * (ux - uy) / 2, centre - side * (uy + ux) / 2, side * ux, -side * uy, side * uy, side * ux};
  return {rect, sampleMode, kRotate30Side, kRotate30Side};
}
