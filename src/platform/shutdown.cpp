#include "platform/shutdown.hpp"

#include <kip/kip.h>

#include <atomic>
#include <new>

namespace {

struct Hook {
  ksys_shutdownFunction function;
  void* object;
  Hook* older;
};

// A lock-free stack: its head is the newest hook, which is the order the hooks run in. Nodes come
// from the system heap, not from kip's allocator, so that allocation-failure sweeps of the callers
// do not count a registration that outlives the call.
std::atomic<Hook*> newest{nullptr};
std::atomic<int32_t> failRegistrationStatus{0};

void runAll() {
  Hook* hook = newest.exchange(nullptr, std::memory_order_acq_rel);
  while (hook != nullptr) {
    Hook* older = hook->older;
    hook->function(hook->object);  // nobody is left to hear a failure at unload
    delete hook;
    hook = older;
  }
}

// Its destructor runs when the library is unloaded, or at process exit for a static link.
struct RunAtUnload {
  ~RunAtUnload() { runAll(); }
} runAtUnload;

}  // namespace

int32_t ksys_shutdown_register(ksys_shutdownFunction function, void* object) {
  if (function == nullptr) return KIP_ERR_NULL_POINTER;
  const int32_t forcedFailure = failRegistrationStatus.load(std::memory_order_relaxed);
  if (forcedFailure < 0) return forcedFailure;
  Hook* hook = new (std::nothrow) Hook{function, object, newest.load(std::memory_order_relaxed)};
  if (hook == nullptr) return KIP_ERR_OUT_OF_MEMORY;
  while (!newest.compare_exchange_weak(hook->older, hook, std::memory_order_release, std::memory_order_relaxed)) {
  }
  return 0;
}

void ksys_shutdown_testFailRegistration(int32_t status) {
  failRegistrationStatus.store(status, std::memory_order_relaxed);
}

void ksys_shutdown_testRunAll() { runAll(); }
