#include "frame/optimization_hook.hpp"

bool isOptimizationInhibited(const char* routineName) {
  // The application may change the hook while kip runs; read it atomically at every use.
  const kprt_optimizationHook hook = __atomic_load_n(&kprt_isOptimizationInhibitedFP, __ATOMIC_ACQUIRE);
  return hook != nullptr && hook(routineName) != 0;
}
