// The clipped transform: samplings that reach outside the source. The source is copied into a
// zero-padded image that covers every pel the sampling can reach (its pels keep their pel-grid
// coordinates and the source's client transform), and the ordinary transform runs on that. For the
// clip mask the padded image becomes an indicator, 255 where the source has pels and 0 elsewhere,
// and is transformed the same way, so that a mask pel says how much of its sample came from the
// source.
#include "frame/export_guard.hpp"
#include "frame/frame.hpp"
#include "platform/platform.hpp"
#include "transform/transform_pels.hpp"

namespace {

// KIP_ERR_MEMORY_OVERLAP when two bound images' pels share memory.
int32_t checkApart(const kimg_image* a, const kimg_image* b) {
  int32_t aBound = 0, bBound = 0;
  int32_t status = kimg_imageConst_getIsBound(a, &aBound);
  if (status < 0) return status;
  status = kimg_imageConst_getIsBound(b, &bBound);
  if (status < 0 || !aBound || !bBound) return status;
  kimg_window aWindow{}, bWindow{};
  status = kimg_windowConst_init(&aWindow, a);
  if (status < 0) return status;
  status = kimg_windowConst_init(&bWindow, b);
  if (status < 0) return status;
  return kip_pelfunc_checkMemoryOverlap(&aWindow, &bWindow);
}

// Every refusal of the arguments, before anything is made or written.
template <class Pels>
int32_t checkArguments(const kimg_image* source, kimg_image* destination, const kimg_image* clipMask,
                       const affineSampleParams* params, affineSampleCache** cacheHandle, const uint32_t* willClip) {
  if (source == nullptr || destination == nullptr || params == nullptr || willClip == nullptr) {
    return KIP_ERR_NULL_POINTER;
  }
  if (cacheHandle != nullptr && *cacheHandle == nullptr) return KIP_ERR_NULL_POINTER;
  if (clipMask == destination) return KIP_ERR_MEMORY_OVERLAP;
  int32_t isBound = 0;
  int32_t status = kimg_imageConst_getIsBound(source, &isBound);
  if (status < 0) return status;
  if (!isBound) return KIP_ERR_TRANSFORM_UNBOUND;
  if (source->pelSize != Pels::kPelSize) return KIP_ERR_PEL_SIZE;
  status = kimg_image_getIsBound(destination, &isBound);
  if (status < 0) return status;
  if (isBound && destination->pelSize != Pels::kPelSize) return KIP_ERR_PEL_SIZE;
  status = checkApart(source, destination);
  if (status < 0 || clipMask == nullptr) return status;
  status = kimg_imageConst_getIsBound(clipMask, &isBound);
  if (status < 0) return status;
  if (isBound && clipMask->pelSize != 1) return KIP_ERR_PEL_SIZE;
  status = checkApart(source, clipMask);
  if (status < 0) return status;
  return checkApart(destination, clipMask);
}

// Transforms into target: in place when it is bound, at origin (0, 0) and exactly xCount x yCount;
// otherwise into a temporary image that is copied into a bound target (which also takes its
// client transform) or lent to an unbound one.
template <class Pels>
int32_t transformInto(const kimg_image* source, kimg_image* target, const affineSampleParams* params,
                      affineSampleCache** cacheHandle) {
  int32_t targetBound = 0;
  int32_t status = kimg_image_getIsBound(target, &targetBound);
  if (status < 0) return status;
  if (targetBound && target->xOrigin == 0 && target->yOrigin == 0 && target->width == params->xCount &&
      target->height == params->yCount) {
    return Pels::transform(source, target, params, cacheHandle);
  }
  kimg_image temporary;  // outlives the list that destroys it
  CleanupList cleanup;
  status = kimg_image_construct(&temporary, Pels::kPelSize, params->xCount, params->yCount);
  if (status < 0) return status;
  cleanup.addObject<kimg_image_destruct>(&temporary);
  status = Pels::transform(source, &temporary, params, cacheHandle);
  if (status < 0) return status;
  if (!targetBound) return kimg_image_assign(target, &temporary);
  status = Pels::copy(&temporary, target);
  if (status < 0) return status;
  return kimg_image_copyXforms(target, &temporary);
}

// A zero-filled image over rect of the source's pel grid, with the source's client transform.
int32_t makePadded(kimg_image* padded, int32_t pelSize, const kstd_rect32& rect, const kimg_image* source) {
  const int32_t status = kimg_image_construct(padded, pelSize, rect.width, rect.height);
  if (status < 0) return status;
  padded->xOrigin = rect.x;
  padded->yOrigin = rect.y;
  return kimg_image_copyXforms(padded, source);
}

int32_t fillIndicator(kimg_image* padded, const kstd_rect32& common) {
  kimg_window window{};
  const int32_t status = kimg_window_initWindow(&window, padded, &common, nullptr);
  if (status < 0) return status;
  return kip_pelSetWindow8(&window, 255);
}

template <class Pels>
int32_t clippedTransform(const kimg_image* source, kimg_image* destination, kimg_image* clipMask,
                         const affineSampleParams* params, affineSampleCache** cacheHandle, uint32_t* willClip) {
  int32_t status = checkArguments<Pels>(source, destination, clipMask, params, cacheHandle, willClip);
  if (status < 0) return status;
  uint32_t clips = 1;
  status = kip_affineSampleParams_getWillClip(params, source, &clips);
  if (status < 0) return status;
  if (!clips) {
    // Inside the source: the plain transform, and the mask is not touched.
    status = Pels::transform(source, destination, params, cacheHandle);
    if (status >= 0) *willClip = 0;
    return status;
  }

  kstd_rect32 rect{};
  status = kip_affineSampleParams_getMaxSrcRect(params, source, &rect);
  if (status < 0) return status;
  // The padded source(s) outlive the list that destroys them.
  kimg_image padded, maskSource;
  CleanupList cleanup;
  status = makePadded(&padded, Pels::kPelSize, rect, source);
  if (status < 0) return status;
  cleanup.addObject<kimg_image_destruct>(&padded);
  // The copy matches pels by pel-grid coordinates, so each source pel lands where it was.
  status = Pels::copy(source, &padded);
  if (status < 0) return status;
  status = ksys_attention_check();
  if (status < 0) return status;

  status = transformInto<Pels>(&padded, destination, params, cacheHandle);
  if (status < 0) return status;
  kstd_rect32 common{};
  int32_t noCommonPel = 0;
  status = kimg_imageConst_gcr(&padded, source, &common, &noCommonPel);
  if (status < 0) return status;
  // The destination now holds only zeros; the mask would too, and is left alone.
  if (noCommonPel) return KIP_ERR_TRANSFORM_NO_OVERLAP;
  if (clipMask != nullptr) {
    kimg_image* indicator = &padded;
    if constexpr (Pels::kPelSize != 1) {
      // The mask is 8-bit whatever the source: give back the wide padded copy before making it.
      status = kimg_image_setUnbound(&padded);
      if (status < 0) return status;
      status = makePadded(&maskSource, 1, rect, source);
      if (status < 0) return status;
      cleanup.addObject<kimg_image_destruct>(&maskSource);
      indicator = &maskSource;
    }
    status = fillIndicator(indicator, common);
    if (status < 0) return status;
    status = transformInto<TransformPels8>(indicator, clipMask, params, cacheHandle);
    if (status < 0) return status;
  }
  status = cleanup.finish(status);
  if (status >= 0) *willClip = 1;
  return status;
}

}  // namespace

extern "C" {

KIP_API int32_t kip_affineTransformClipped(const kimg_image* source, kimg_image* destination, kimg_image* clipMask,
                                           const affineSampleParams* params, affineSampleCache** cache,
                                           uint32_t* willClip) {
  return guardExport(
      [&] { return clippedTransform<TransformPels8>(source, destination, clipMask, params, cache, willClip); });
}

KIP_API int32_t kip_affineTransformClipped16(const kimg_image* source, kimg_image* destination,
                                             kimg_image* clipMask, const affineSampleParams* params,
                                             affineSampleCache** cache, uint32_t* willClip) {
  return guardExport(
      [&] { return clippedTransform<TransformPels16>(source, destination, clipMask, params, cache, willClip); });
}

}  // extern "C"
