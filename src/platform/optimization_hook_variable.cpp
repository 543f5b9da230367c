#include <kip/kip.h>

// The application's optimization hook; null forbids nothing.
extern "C" KIP_API kprt_optimizationHook kprt_isOptimizationInhibitedFP = nullptr;
