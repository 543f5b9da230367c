// The optimized projection cores: processor test, scratch row, then the kernels of the best
// instruction set Highway finds at run time.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "project/projection_simd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include "project/projection_simd-inl.h"

#if HWY_ONCE

#include "frame/frame.hpp"
#include "project/project.hpp"

#include <utility>

namespace kip {
HWY_EXPORT(RowSums8);
HWY_EXPORT(ColumnSums8);
HWY_EXPORT(TargetName);
}  // namespace kip

int32_t kf_projection_vertical8_core(const uint8_t* firstPel, int32_t width, int32_t height, ptrdiff_t strideBytes,
                                     uint32_t* out, int32_t reverse) {
  const int32_t status = requirePackedIntegerProcessor();
  if (status != 0) return status;
  HWY_DYNAMIC_DISPATCH(kip::RowSums8)(firstPel, width, height, strideBytes, out, reverse);
  return 0;
}

int32_t kf_projection_horizontal8_core(const uint8_t* firstPel, int32_t width, int32_t height, ptrdiff_t strideBytes,
                                       uint32_t* out, int32_t reverse) {
  int32_t status = requirePackedIntegerProcessor();
  if (status != 0) return status;

  CleanupList cleanup;
  void* scratch = nullptr;
  // 64 bytes beyond the row let a kernel finish its last vector without a bounds test later.
  // Allocated before the output is cleared, so that a failure leaves the caller's values alone.
  status = ksys_memory_allocClear_internal(static_cast<size_t>(width) * 2 + 64, &scratch);
  if (status < 0) return cleanup.finish(status);
  cleanup.addMemory(&scratch);
  status = ksys_memory_fill(0, static_cast<size_t>(width) * sizeof(uint32_t), out);
  if (status < 0) return cleanup.finish(status);

  HWY_DYNAMIC_DISPATCH(kip::ColumnSums8)(firstPel, width, height, strideBytes, out, static_cast<uint16_t*>(scratch));
  if (reverse && width >= 2) {
    for (int32_t i = 0; i < width / 2; ++i) std::swap(out[i], out[width - 1 - i]);
  }
  return cleanup.finish(0);
}

const char* projectionSimdTargetName() { return HWY_DYNAMIC_DISPATCH(kip::TargetName)(); }

#endif  // HWY_ONCE
