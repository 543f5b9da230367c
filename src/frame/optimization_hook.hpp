// Optimized-first dispatch: every routine with an optimized form asks the application's hook by
// name, runs the optimized form, and falls back to the portable form when the optimized one was
// forbidden or declined. Both forms compute the same result.
#pragma once

#include "frame/status.hpp"

#include <cstdint>

// Names passed to the hook, exactly as applications see them.
inline constexpr const char kHookAffineProcess[] = "kip_affineProcess";
inline constexpr const char kHookAffineProcess16[] = "kip_affineProcess16";
inline constexpr const char kHookRowSums8[] = "kf_projection_vertical8_core";
inline constexpr const char kHookColumnSums8[] = "kf_projection_horizontal8_core";
inline constexpr const char kHookBilinearTile16[] = "kip_affineTransformTileBilinearAccurate16Portable";

// Reads the hook variable afresh and asks it once: true when the routine must not run.
bool isOptimizationInhibited(const char* routineName);

// KIP_ERR_NOT_AVAILABLE when the hook forbids the name, else the optimized routine's status.
template <typename Optimized>
int32_t runOptimizedUnlessInhibited(const char* routineName, Optimized&& optimized) {
  if (isOptimizationInhibited(routineName)) return KIP_ERR_NOT_AVAILABLE;
  return optimized();
}

// The whole dispatch: hook test, optimized routine, portable routine on a declined status.
template <typename Optimized, typename Portable>
int32_t dispatchOptimizedFirst(const char* routineName, Optimized&& optimized, Portable&& portable) {
  const int32_t status = runOptimizedUnlessInhibited(routineName, optimized);
  return isDeclined(status) ? portable() : status;
}
