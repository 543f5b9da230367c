// Failures, statuses, the application hooks the input chooses, allocation faults and the
// live-block count.
#include "fuzz_support.hpp"

#include "platform/cpuinfo.hpp"
#include "platform/memory.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace kipfuzz {

void fail(const char* call, const char* what, int32_t status) {
  std::fprintf(stderr, "kip fuzz check failed: %s: %s", call, what);
  if (status != 0) std::fprintf(stderr, " (status 0x%08X %s)", static_cast<uint32_t>(status), kip_statusName(status));
  std::fprintf(stderr, "\n");
  std::abort();
}

void checkStatus(const char* call, int32_t status) {
  if (status >= 0) return;
  if ((static_cast<uint32_t>(status) & 0xFFE0u) == 0x600u) fail(call, "declined status escaped", status);
  if (std::strcmp(kip_statusName(status), "KIP_ERR_UNKNOWN") == 0) fail(call, "undocumented status", status);
  if (status == KIP_ERR_INTERNAL) fail(call, "internal failure", status);
}

namespace {

constexpr const char* kHookNames[] = {"kip_affineProcess", "kip_affineProcess16", "kf_projection_vertical8_core",
                                      "kf_projection_horizontal8_core",
                                      "kip_affineTransformTileBilinearAccurate16Portable"};
uint32_t forbiddenMask = 0;

int32_t fuzzHook(const char* name) {
  if (name == nullptr) fail("optimization hook", "asked with a null name");
  for (size_t i = 0; i < std::size(kHookNames); ++i) {
    if (std::strcmp(name, kHookNames[i]) == 0) return (forbiddenMask >> i) & 1;
  }
  fail("optimization hook", "asked an undocumented name");
}

}  // namespace

Session::Session(Input& in, const char* target) : target_(target) {
  static const int32_t setup = kip_affineTransform_setup();  // its lasting cubic table is no leak
  checkStatus("kip_affineTransform_setup", setup);
  liveBefore_ = ksys_memory_testLiveBlocks();
  const uint8_t choice = in.byte();
  forbiddenMask = in.byte();
  kprt_isOptimizationInhibitedFP = choice % 4 == 0 ? nullptr : &fuzzHook;
  const ksys_cpuinfo none{2, 0, 0};  // a processor without a SIMD target: the optimized cores decline
  if (choice & 0x10) ksys_cpuinfo_testOverride(&none, 0);
  ksys_memory_testLimitBytes(kAllocationLimit);
}

Session::~Session() {
  kprt_isOptimizationInhibitedFP = nullptr;
  ksys_cpuinfo_testOverride(nullptr, 0);
  ksys_memory_testLimitBytes(0);
  ksys_memory_testFailAt(0);
  if (ksys_memory_testLiveBlocks() != liveBefore_) fail(target_, "kip blocks left live after the input");
}

void armAllocationFault(Input& in) {
  const int32_t failAt = in.oneIn(8) ? in.range(1, 6) : 0;
  ksys_memory_testFailAt(static_cast<uint64_t>(failAt));
}
void disarmAllocationFault() { ksys_memory_testFailAt(0); }

}  // namespace kipfuzz
