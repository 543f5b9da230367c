// The condition for the packed-integer cores: the processor query must succeed (its failure is a
// real failure, returned as it is), and report processor kind 1 or 5 with feature bit 0; otherwise
// the core declines with KIP_ERR_NOT_AVAILABLE and its caller runs the portable code.
#pragma once

#include <cstdint>

int32_t requirePackedIntegerProcessor();
