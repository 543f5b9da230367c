#include "platform/critical_section.hpp"

#include "platform/lock.hpp"

#include <kip/kip.h>

// The lock cannot fail, so neither can entering or leaving; the statuses only report null sections.
struct ksys_criticalSection {
  ksys_lock lock;
};

int32_t ksys_criticalSection_constructSingleton(ksys_criticalSection** section) {
  if (section == nullptr) return KIP_ERR_NULL_POINTER;
  // Constant-initialised: there is no first-use race and nothing to construct at run time.
  static constinit ksys_criticalSection singleton;
  *section = &singleton;
  return 0;
}

int32_t ksys_criticalSection_wait(ksys_criticalSection* section) {
  if (section == nullptr) return KIP_ERR_NULL_POINTER;
  section->lock.lock();
  return 0;
}

int32_t ksys_criticalSection_release(ksys_criticalSection* section) {
  if (section == nullptr) return KIP_ERR_NULL_POINTER;
  section->lock.unlock();
  return 0;
}
