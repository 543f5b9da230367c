#include "engine/cubic_weight_table.hpp"

#include "frame/export_guard.hpp"
#include "platform/critical_section.hpp"
#include "platform/memory.hpp"
#include "platform/shutdown.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

constexpr int32_t kIndexBits = 8;
constexpr int32_t kEntries = 1 << kIndexBits;

cubicWeightTable table{kIndexBits, nullptr};
std::atomic<uint32_t> isBuilt{0};
std::atomic<uint64_t> buildCount{0};

// Weights are in units of 1/32768, converted by truncation toward zero.
int16_t toWeight(double value, double limit = 32768.0) { return static_cast<int16_t>(std::min(value * 32768.0, limit)); }

// The four taps of the cubic convolution kernel at the distances t+1, t, 1-t and 2-t. The two
// middle taps are limited to 32767 so that they fit 16 bits; rows then sum to 32767..32769.
int32_t cubicWeightTable_build(cubicWeightTable* record) {
  record->indexBits = kIndexBits;
  record->weightArray = nullptr;
  void* block = nullptr;
  const int32_t status = kxfCacheAlloc(kEntries * 4 * sizeof(int16_t), &block);
  if (status < 0) return status;
  auto* weights = static_cast<int16_t*>(block);
  for (int32_t i = 0; i < kEntries; ++i) {
    const double t = i * 0.00390625;
    const double x = t + 1, u = t - 1, v = t - 2;
    int16_t* entry = weights + 4 * i;
    entry[0] = toWeight((2.5 - 0.5 * x) * x * x - 4 * x + 2);
    entry[1] = toWeight(1.5 * t * t * t - 2.5 * t * t + 1, 32767.0);
    entry[2] = toWeight(1 - (1.5 * u + 2.5) * u * u, 32767.0);
    entry[3] = toWeight(((0.5 * v + 2.5) * v + 4) * v + 2);
  }
  record->weightArray = weights;
  buildCount.fetch_add(1, std::memory_order_relaxed);
  return 0;
}

int32_t freeHook(void* record) { return cubicWeightTable_free(static_cast<cubicWeightTable*>(record)); }

}  // namespace

int32_t cubicWeightTable_ensure() {
  ksys_criticalSection* section = nullptr;
  int32_t status = ksys_criticalSection_constructSingleton(&section);
  if (status < 0) return status;
  status = ksys_criticalSection_wait(section);
  if (status < 0) return status;
  if (isBuilt.load(std::memory_order_relaxed) == 0) {
    status = cubicWeightTable_build(&table);
    // A failed build leaves the flag at 0: the next ensure tries again.
    if (status >= 0) {
      isBuilt.store(1, std::memory_order_release);
      // Without the hook the table simply lives until the process ends; freeing it here instead
      // would leave a set flag over freed weights for every later reader.
      ksys_shutdown_register(&freeHook, &table);
    }
  }
  const int32_t released = ksys_criticalSection_release(section);
  return status < 0 ? status : released;
}

const cubicWeightTable* cubicWeightTable_get() { return &table; }

int32_t cubicWeightTable_getEntry(const cubicWeightTable* record, uint32_t index, uint64_t* entry) {
  std::memcpy(entry, record->weightArray + 4 * (index & (kEntries - 1)), sizeof(uint64_t));
  return 0;
}

int32_t cubicWeightTable_getWeights(const cubicWeightTable* record, const int16_t** weights) {
  *weights = record->weightArray;
  return 0;
}

int32_t cubicWeightTable_free(cubicWeightTable* record) {
  // Runs at shut-down, when no sampling is left; clearing the flag lets a process that goes on
  // using the library afterwards (a test that runs the hooks) build the table again.
  void* block = record->weightArray;
  record->weightArray = nullptr;
  isBuilt.store(0, std::memory_order_release);
  return kxfFree(&block);
}

uint64_t cubicWeightTable_testBuildCount() { return buildCount.load(std::memory_order_relaxed); }

extern "C" KIP_API int32_t kip_affineTransform_setup(void) {
  return guardExport([] { return cubicWeightTable_ensure(); });
}
