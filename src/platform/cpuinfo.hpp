// What the processor offers. processorKind 1 with feature bit 0 means that Highway found a SIMD
// target better than its scalar and emulated ones; the optimized packed-integer cores run only then.
#pragma once

#include <cstdint>

struct ksys_cpuinfo {
  uint32_t processorKind;  // 1: x86-64 (or another SIMD-capable machine), 2: none found
  uint32_t featureFlags;   // bit 0: a SIMD target is available
  int64_t simdTargets;     // Highway's supported-target bits at the time of the query
};

enum : uint32_t { KSYS_CPU_FEATURE_SIMD = 1u };

int32_t ksys_cpuinfo_init(ksys_cpuinfo* info);

// Test override: while set, ksys_cpuinfo_init returns status and, when status is not negative,
// copies *info. Null clears it.
void ksys_cpuinfo_testOverride(const ksys_cpuinfo* info, int32_t status);
