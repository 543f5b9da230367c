// The optimized aligned fast path: every orientation in one pass over the pels, with the kernels
// of the best instruction set Highway finds at run time.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "transform/aligned_simd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include "transform/aligned_simd-inl.h"

#if HWY_ONCE

#include "platform/image.hpp"
#include "platform/memory.hpp"
#include "transform/aligned_ops.hpp"
#include "transform/transform.hpp"

namespace kip {
HWY_EXPORT(AlignedTranspose8);
HWY_EXPORT(AlignedTranspose16);
HWY_EXPORT(AlignedMirror8);
HWY_EXPORT(AlignedMirror16);
HWY_EXPORT(AlignedMirrorInPlace8);
HWY_EXPORT(AlignedMirrorInPlace16);
HWY_EXPORT(AlignedTransposeSquareInPlace8);
HWY_EXPORT(AlignedTransposeSquareInPlace16);
HWY_EXPORT(AlignedTargetName);
}  // namespace kip

namespace {

template <typename Pel>
struct Kernels;

template <>
struct Kernels<uint8_t> {
  static void transpose(const uint8_t* from, ptrdiff_t fromStride, uint8_t* to, ptrdiff_t toStride, size_t rows,
                        size_t columns) {
    HWY_DYNAMIC_DISPATCH(kip::AlignedTranspose8)(from, fromStride, to, toStride, rows, columns);
  }
  static void mirror(const uint8_t* from, ptrdiff_t fromStride, uint8_t* to, ptrdiff_t toStride, size_t rows,
                     size_t columns) {
    HWY_DYNAMIC_DISPATCH(kip::AlignedMirror8)(from, fromStride, to, toStride, rows, columns);
  }
  static void mirrorInPlace(uint8_t* first, ptrdiff_t stride, size_t rows, size_t columns) {
    HWY_DYNAMIC_DISPATCH(kip::AlignedMirrorInPlace8)(first, stride, rows, columns);
  }
  static void transposeSquareInPlace(uint8_t* first, ptrdiff_t stride, size_t side) {
    HWY_DYNAMIC_DISPATCH(kip::AlignedTransposeSquareInPlace8)(first, stride, side);
  }
};

template <>
struct Kernels<uint16_t> {
  static void transpose(const uint16_t* from, ptrdiff_t fromStride, uint16_t* to, ptrdiff_t toStride, size_t rows,
                        size_t columns) {
    HWY_DYNAMIC_DISPATCH(kip::AlignedTranspose16)(from, fromStride, to, toStride, rows, columns);
  }
  static void mirror(const uint16_t* from, ptrdiff_t fromStride, uint16_t* to, ptrdiff_t toStride, size_t rows,
                     size_t columns) {
    HWY_DYNAMIC_DISPATCH(kip::AlignedMirror16)(from, fromStride, to, toStride, rows, columns);
  }
  static void mirrorInPlace(uint16_t* first, ptrdiff_t stride, size_t rows, size_t columns) {
    HWY_DYNAMIC_DISPATCH(kip::AlignedMirrorInPlace16)(first, stride, rows, columns);
  }
  static void transposeSquareInPlace(uint16_t* first, ptrdiff_t stride, size_t side) {
    HWY_DYNAMIC_DISPATCH(kip::AlignedTransposeSquareInPlace16)(first, stride, side);
  }
};

// The step sequence run in place on the one window: the transpose only ever sees square windows
// here (the export refuses the others).
template <typename Pel>
int32_t inPlace(kimg_window* window, uint32_t alignmentCode) {
  const AlignedSteps steps = alignedSteps(alignmentCode);
  Pel* first = static_cast<Pel*>(window->firstPel);
  const ptrdiff_t stride = window->stride;
  const auto rows = static_cast<size_t>(window->height), columns = static_cast<size_t>(window->width);
  for (uint32_t k = 0; k < steps.count; ++k) {
    switch (steps.step[k]) {
      case AlignedStep::Transpose:
        Kernels<Pel>::transposeSquareInPlace(first, stride, rows);
        break;
      case AlignedStep::Mirror:
        Kernels<Pel>::mirrorInPlace(first, stride, rows, columns);
        break;
      case AlignedStep::Flip:
        alignedFlip<Pel>(window, window);  // row swaps: nothing to gain from vectors of our own
        break;
    }
  }
  return 0;
}

// One pass. Reading the source bottom up (a negative stride) serves the orientations that reverse
// the source's rows; writing the destination bottom up serves those that reverse its columns
// after a transposition, so four turns and mirrors share one transpose kernel.
template <typename Pel>
int32_t onePass(const kimg_window* source, kimg_window* destination, uint32_t alignmentCode) {
  const AlignedOrientation orientation = alignedOrientation(alignmentCode);
  const int32_t rows = source->height, columns = source->width;

  const Pel* from = static_cast<const Pel*>(source->firstPel);
  ptrdiff_t fromStride = source->stride;
  if (orientation.reverseRows) {
    from += static_cast<ptrdiff_t>(rows - 1) * fromStride;
    fromStride = -fromStride;
  }
  Pel* to = static_cast<Pel*>(destination->firstPel);
  ptrdiff_t toStride = destination->stride;

  if (!orientation.swap) {
    if (!orientation.reverseColumns) {
      return ksys_memory_copyRect(static_cast<size_t>(columns) * sizeof(Pel), static_cast<size_t>(rows),
                                  fromStride * static_cast<ptrdiff_t>(sizeof(Pel)),
                                  toStride * static_cast<ptrdiff_t>(sizeof(Pel)), from, to);
    }
    Kernels<Pel>::mirror(from, fromStride, to, toStride, static_cast<size_t>(rows), static_cast<size_t>(columns));
    return 0;
  }
  // Destination row i comes from source column i, or from column columns - 1 - i.
  if (orientation.reverseColumns) {
    to += static_cast<ptrdiff_t>(columns - 1) * toStride;
    toStride = -toStride;
  }
  Kernels<Pel>::transpose(from, fromStride, to, toStride, static_cast<size_t>(rows), static_cast<size_t>(columns));
  return 0;
}

template <typename Pel>
int32_t alignedTransformSimd(const kimg_window* source, kimg_window* destination, uint32_t alignmentCode) {
  if (source->width == 0 || source->height == 0) return 0;  // no pel (and maybe no first pel either)
  if (source->firstPel == destination->firstPel) return inPlace<Pel>(destination, alignmentCode);
  return onePass<Pel>(source, destination, alignmentCode);
}

}  // namespace

int32_t alignedTransform_simd8(const kimg_window* source, kimg_window* destination, uint32_t alignmentCode) {
  return alignedTransformSimd<uint8_t>(source, destination, alignmentCode);
}

int32_t alignedTransform_simd16(const kimg_window* source, kimg_window* destination, uint32_t alignmentCode) {
  return alignedTransformSimd<uint16_t>(source, destination, alignmentCode);
}

const char* alignedSimdTargetName() { return HWY_DYNAMIC_DISPATCH(kip::AlignedTargetName)(); }

#endif  // HWY_ONCE
