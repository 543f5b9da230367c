// The process-wide critical section, made on first use.
#pragma once

#include <cstdint>

struct ksys_criticalSection;

// Stores the address of the one process-wide critical section in *section, making it on first use.
int32_t ksys_criticalSection_constructSingleton(ksys_criticalSection** section);
int32_t ksys_criticalSection_wait(ksys_criticalSection* section);     // enter
int32_t ksys_criticalSection_release(ksys_criticalSection* section);  // leave
