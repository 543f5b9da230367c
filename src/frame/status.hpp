// Status conventions shared by every folder above the platform layer.
#pragma once

#include <kip/kip.h>

#include <cstdint>

// A status is declined when its low 16 bits lie in 0x600..0x61F, whatever its upper bits: the
// optimized routine did not run, and the portable one must. Always tested by mask, never by
// comparing with KIP_ERR_NOT_AVAILABLE, so that a routine may say why it declined.
constexpr bool isDeclined(int32_t status) { return (static_cast<uint32_t>(status) & 0xFFE0u) == 0x600u; }

constexpr bool isFailure(int32_t status) { return status < 0; }
