#include "frame/processor_test.hpp"

#include "frame/status.hpp"
#include "platform/cpuinfo.hpp"

int32_t requirePackedIntegerProcessor() {
  ksys_cpuinfo info{};
  const int32_t status = ksys_cpuinfo_init(&info);
  if (status < 0) return status;
  const bool kindAccepted = info.processorKind == 1 || info.processorKind == 5;
  return kindAccepted && (info.featureFlags & KSYS_CPU_FEATURE_SIMD) ? 0 : KIP_ERR_NOT_AVAILABLE;
}
