#include <kip/kip.h>

extern "C" {
// The application's optimization hook; null forbids nothing.
KIP_API kprt_optimizationHook kprt_isOptimizationInhibitedFP = nullptr;
}
