#include "platform/attention.hpp"

#include "platform/lock.hpp"

#include <kip/kip.h>

namespace {

// Handler and context change together: a check must never pair one handler with another's context.
ksys_lock handlerLock;
ksys_attentionHandler installedHandler = nullptr;
void* installedContext = nullptr;

}  // namespace

extern "C" KIP_API int32_t ksys_attention_setHandler(ksys_attentionHandler handler, void* context) {
  ksys_lockGuard guard(handlerLock);
  installedHandler = handler;
  installedContext = handler != nullptr ? context : nullptr;
  return 0;
}

int32_t ksys_attention_check() {
  ksys_attentionHandler handler;
  void* context;
  {
    ksys_lockGuard guard(handlerLock);
    handler = installedHandler;
    context = installedContext;
  }
  // Called outside the lock: the handler may take its time, or install another handler.
  if (handler == nullptr) return 0;
  const int32_t status = handler(context);
  return status < 0 ? status : 0;
}
