#include "platform/cpuinfo.hpp"

#include "platform/lock.hpp"

#include <kip/kip.h>

#include <hwy/targets.h>

namespace {

struct Forced {
  bool active = false;
  ksys_cpuinfo info{};
  int32_t status = 0;
};

ksys_lock overrideLock;
Forced forced;

}  // namespace

int32_t ksys_cpuinfo_init(ksys_cpuinfo* info) {
  if (info == nullptr) return KIP_ERR_NULL_POINTER;
  {
    ksys_lockGuard guard(overrideLock);
    if (forced.active) {
      if (forced.status >= 0) *info = forced.info;
      return forced.status;
    }
  }
  // Asked afresh each time: tests narrow Highway's targets at run time, and the answer must follow.
  const int64_t targets = hwy::SupportedTargets();
  const bool simd = (targets & ~static_cast<int64_t>(HWY_SCALAR | HWY_EMU128)) != 0;
  info->processorKind = simd ? 1u : 2u;
  info->featureFlags = simd ? KSYS_CPU_FEATURE_SIMD : 0u;
  info->simdTargets = targets;
  return 0;
}

void ksys_cpuinfo_testOverride(const ksys_cpuinfo* info, int32_t status) {
  ksys_lockGuard guard(overrideLock);
  forced.active = info != nullptr;
  forced.info = info != nullptr ? *info : ksys_cpuinfo{};
  forced.status = status;
}
