// The attention check: 0 unless the application installed a handler (ksys_attention_setHandler in
// kip.h) and it asks to stop, in which case its negative status is returned.
#pragma once

#include <cstdint>

int32_t ksys_attention_check();
