// The optimized drivers of the two-pass modes: processor test, weight table, then the tile walk
// with the line kernels of the best instruction set Highway finds at run time.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "engine/table_simd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include "engine/table_simd-inl.h"

#if HWY_ONCE

#include <cassert>
#include <cstring>

#include "engine/cubic_weight_table.hpp"
#include "engine/table_source_box.hpp"
#include "engine/table_walk.hpp"
#include "frame/cleanup_list.hpp"
#include "frame/processor_test.hpp"
#include "platform/memory.hpp"

namespace kip {
HWY_EXPORT(TableSimdTiles8);
HWY_EXPORT(TableSimdLineBilinear8);
HWY_EXPORT(TableSimdLineBilinearAcc8);
HWY_EXPORT(TableSimdLineCubic8);
HWY_EXPORT(TableSimdLineCubicAcc8);
HWY_EXPORT(TableSimdTargetName);
}  // namespace kip

namespace {

int32_t tableSimd(uint32_t accumulate, const affineSampleParams* params, const sampleTable* table,
                  const uint8_t* sourceFirst, const uint8_t* sourceLast, void* destination, size_t clearBytes = 0) {
  int32_t status = requirePackedIntegerProcessor();
  if (status != 0) return status;
  const uint32_t mode = params->sampleMode;
  if (mode != KIP_SAMPLE_LINEAR2 && mode != KIP_SAMPLE_CUBIC2) return KIP_ERR_MODE_UNSUPPORTED;
  // One block for every tile's box, made before the walk (the tiles themselves allocate
  // nothing) and before the weight table, which stays once built: a failure here leaves nothing.
  CleanupList cleanup;
  void* scratch = nullptr;
  const size_t capacity = TableSourceBox::capacityFor(table->header);
  if (capacity > 0) {
    status = ksys_memory_alloc_internal(capacity, &scratch);
    if (status < 0) return cleanup.finish(status);
    cleanup.addMemory(&scratch);
  }
  const int16_t* weights = nullptr;
  status = cubicWeightTable_ensure();
  if (status >= 0) status = cubicWeightTable_getWeights(cubicWeightTable_get(), &weights);
  if (status < 0) return cleanup.finish(status);

  // Nothing can fail from here on: a projection vector that still holds the caller's entries is
  // cleared only now.
  if (clearBytes > 0) std::memset(destination, 0, clearBytes);
  const tableWalkSetup setup{accumulate, mode, table, weights, sourceLast - sourceFirst, destination};
  status = HWY_DYNAMIC_DISPATCH(kip::TableSimdTiles8)(&setup, sourceFirst, static_cast<uint8_t*>(scratch), capacity);
  return cleanup.finish(status);
}

}  // namespace

int32_t affineTile_tableStore8(uint32_t accumulate, const affineSampleParams* params, const sampleTable* table,
                               const uint8_t* sourceFirst, const uint8_t* sourceLast, void* destination) {
  assert(accumulate == 0);
  return tableSimd(0, params, table, sourceFirst, sourceLast, destination);
}

int32_t affineTile_tableAccumulate8(uint32_t accumulate, const affineSampleParams* params, const sampleTable* table,
                                    const uint8_t* sourceFirst, const uint8_t* sourceLast, void* destination) {
  assert(accumulate == 1);
  return tableSimd(1, params, table, sourceFirst, sourceLast, destination);
}

int32_t affineTile_tableProject8(const affineSampleParams* params, const sampleTable* table, const uint8_t* sourceFirst,
                                 const uint8_t* sourceLast, void* vector, size_t clearBytes) {
  return tableSimd(1, params, table, sourceFirst, sourceLast, vector, clearBytes);
}

void affineLineBilinearSimd8(const sampleTableHeader* header, const simdLineParams* params, void* lineWrite,
                             const void* lineRead) {
  HWY_DYNAMIC_DISPATCH(kip::TableSimdLineBilinear8)(header, params, lineWrite, lineRead);
}

void affineLineBilinearSimdAcc8(const sampleTableHeader* header, const simdLineParams* params, void* lineWrite,
                                const void* lineRead) {
  HWY_DYNAMIC_DISPATCH(kip::TableSimdLineBilinearAcc8)(header, params, lineWrite, lineRead);
}

void affineLineCubicSimd8(const sampleTableHeader* header, const simdLineParams* params, void* lineWrite,
                          const void* lineRead) {
  HWY_DYNAMIC_DISPATCH(kip::TableSimdLineCubic8)(header, params, lineWrite, lineRead);
}

void affineLineCubicSimdAcc8(const sampleTableHeader* header, const simdLineParams* params, void* lineWrite,
                             const void* lineRead) {
  HWY_DYNAMIC_DISPATCH(kip::TableSimdLineCubicAcc8)(header, params, lineWrite, lineRead);
}

const char* tableSimdTargetName() { return HWY_DYNAMIC_DISPATCH(kip::TableSimdTargetName)(); }

#endif  // HWY_ONCE
