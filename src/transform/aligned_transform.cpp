// The aligned fast path: the orientation table, the checks, the portable step sequence and the
// two exports.
#include "frame/export_guard.hpp"
#include "platform/image.hpp"
#include "platform/memory.hpp"
#include "transform/aligned_ops.hpp"
#include "transform/transform.hpp"

#include <cstddef>

AlignedSteps alignedSteps(uint32_t alignmentCode) {
  using S = AlignedStep;
  switch (alignmentCode) {
    case 1: return {1, {S::Transpose}};
    case 90: return {2, {S::Transpose, S::Flip}};
    case 91: return {1, {S::Mirror}};
    case 180: return {2, {S::Mirror, S::Flip}};
    case 181: return {3, {S::Transpose, S::Mirror, S::Flip}};
    case 270: return {2, {S::Transpose, S::Mirror}};
    case 271: return {1, {S::Flip}};
    default: return {0, {}};  // 0 and every unknown code: copy
  }
}

AlignedOrientation alignedOrientation(uint32_t alignmentCode) {
  // A mirror reverses the current column index j, a flip the row index i; whichever source
  // coordinate that index feeds now is the one that turns round.
  AlignedOrientation o{false, false, false};
  const AlignedSteps steps = alignedSteps(alignmentCode);
  for (uint32_t k = 0; k < steps.count; ++k) {
    switch (steps.step[k]) {
      case AlignedStep::Transpose: o.swap = !o.swap; break;
      case AlignedStep::Mirror: (o.swap ? o.reverseRows : o.reverseColumns) ^= true; break;
      case AlignedStep::Flip: (o.swap ? o.reverseColumns : o.reverseRows) ^= true; break;
    }
  }
  return o;
}

int32_t alignedTransform_check(const kimg_window* source, const kimg_window* destination, uint32_t alignmentCode,
                               int32_t pelSize) {
  int32_t status = kimg_window_validate(source, pelSize);
  if (status < 0) return status;
  status = kimg_window_validate(destination, pelSize);
  if (status < 0) return status;

  const bool swap = alignedOrientation(alignmentCode).swap;
  const int32_t wantWidth = swap ? source->height : source->width;
  const int32_t wantHeight = swap ? source->width : source->height;
  if (destination->width != wantWidth || destination->height != wantHeight) return KIP_ERR_SIZE_MISMATCH;

  if (source->width == 0 || source->height == 0) return 0;  // no pel to read or write
  if (source->firstPel == destination->firstPel) {
    // In place: the same pels with the same rows, and a transposition keeps them only when square.
    const bool sameRows = source->stride == destination->stride;
    const bool keepsShape = !swap || source->width == source->height;
    return sameRows && keepsShape ? 0 : KIP_ERR_MEMORY_OVERLAP;
  }
  return kip_pelfunc_checkMemoryOverlap(source, destination);
}

namespace {

// Code 0: the system layer's rectangle copy. In place it has nothing to do (and memcpy may not be
// given one block as both ends).
int32_t alignedCopy(const kimg_window* source, kimg_window* destination, size_t pelSize) {
  if (source->firstPel == destination->firstPel && source->stride == destination->stride) return 0;
  return ksys_memory_copyRect(static_cast<size_t>(source->width) * pelSize, static_cast<size_t>(source->height),
                              static_cast<ptrdiff_t>(source->stride) * static_cast<ptrdiff_t>(pelSize),
                              static_cast<ptrdiff_t>(destination->stride) * static_cast<ptrdiff_t>(pelSize),
                              source->firstPel, destination->firstPel);
}

template <typename Pel>
int32_t alignedTransformPortable(const kimg_window* source, kimg_window* destination, uint32_t alignmentCode) {
  if (source->width == 0 || source->height == 0) return 0;  // no pel (and maybe no first pel either)
  const AlignedSteps steps = alignedSteps(alignmentCode);
  if (steps.count == 0) return alignedCopy(source, destination, sizeof(Pel));
  for (uint32_t k = 0; k < steps.count; ++k) {
    const kimg_window* from = k == 0 ? source : destination;
    switch (steps.step[k]) {
      case AlignedStep::Transpose: alignedTranspose<Pel>(from, destination); break;
      case AlignedStep::Mirror: alignedMirror<Pel>(from, destination); break;
      case AlignedStep::Flip: alignedFlip<Pel>(from, destination); break;
    }
  }
  return 0;
}

template <int32_t (*Run)(const kimg_window*, kimg_window*, uint32_t), int32_t kPelSize>
int32_t alignedTransformExport(const kimg_window* source, kimg_window* destination, uint32_t alignmentCode) {
  const int32_t status = alignedTransform_check(source, destination, alignmentCode, kPelSize);
  if (status < 0) return status;
  return Run(source, destination, alignmentCode);
}

}  // namespace

int32_t alignedTransform_portable8(const kimg_window* source, kimg_window* destination, uint32_t alignmentCode) {
  return alignedTransformPortable<uint8_t>(source, destination, alignmentCode);
}

int32_t alignedTransform_portable16(const kimg_window* source, kimg_window* destination, uint32_t alignmentCode) {
  return alignedTransformPortable<uint16_t>(source, destination, alignmentCode);
}

extern "C" {

KIP_API int32_t kip_affineTransformAligned(const kimg_window* source, kimg_window* destination,
                                           uint32_t alignmentCode) {
  return guardExport(
      [&] { return alignedTransformExport<alignedTransform_simd8, 1>(source, destination, alignmentCode); });
}

KIP_API int32_t kip_affineTransformAligned16(const kimg_window* source, kimg_window* destination,
                                             uint32_t alignmentCode) {
  return guardExport(
      [&] { return alignedTransformExport<alignedTransform_simd16, 2>(source, destination, alignmentCode); });
}

}  // extern "C"
