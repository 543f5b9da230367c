// Exported functions are C functions: no exception may leave them, whatever a lower layer or the
// standard library does. Every export runs its body through guardExport.
#pragma once

#include <kip/kip.h>

#include <cstdint>
#include <new>

template <typename Body>
int32_t guardExport(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return KIP_ERR_OUT_OF_MEMORY;
  } catch (...) {
    return KIP_ERR_INTERNAL;
  }
}
