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

// One transform of the clipped call into a caller's image. render() writes the target in place
// when it is bound, at origin (0, 0) and exactly xCount x yCount, and otherwise a temporary image
// (on the call's clean-up list) that deliver() then lends to an unbound target or copies into a
// bound one with its client transform. Delivery waits until every step that can fail has run, so
// that a failed call leaves the caller's records as they were: only the pels of an in-place target
// may have been written, and restore() gives it back its client transform.
template <class Pels>
class Rendering {
 public:
  explicit Rendering(kimg_image* target) : target_(target) {
    if (target != nullptr) before_ = *target;  // a copy of the record, owning nothing
  }

  int32_t render(const kimg_image* source, const affineSampleParams* params, affineSampleCache** cacheHandle,
                 CleanupList& cleanup) {
    int32_t bound = 0;
    int32_t status = kimg_image_getIsBound(target_, &bound);
    if (status < 0) return status;
    targetBound_ = bound != 0;
    inPlace_ = targetBound_ && target_->xOrigin == 0 && target_->yOrigin == 0 && target_->width == params->xCount &&
               target_->height == params->yCount;
    if (inPlace_) return Pels::transform(source, target_, params, cacheHandle);
    status = kimg_image_construct(&temporary_, Pels::kPelSize, params->xCount, params->yCount);
    if (status < 0) return status;
    cleanup.addObject<kimg_image_destruct>(&temporary_);
    return Pels::transform(source, &temporary_, params, cacheHandle);
  }

  int32_t deliver() {
    if (inPlace_) return 0;
    if (!targetBound_) return kimg_image_assign(target_, &temporary_);
    const int32_t status = Pels::copy(&temporary_, target_);
    if (status < 0) return status;
    return kimg_image_copyXforms(target_, &temporary_);
  }

  void restore() {
    if (inPlace_) kimg_image_copyXforms(target_, &before_);
  }

 private:
  kimg_image* target_;
  kimg_image before_{};
  kimg_image temporary_{};  // outlives the clean-up list that destroys it (declared before it)
  bool targetBound_ = false;
  bool inPlace_ = false;
};

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
  // The padded source(s) and the renderings' temporaries outlive the list that destroys them.
  kimg_image padded, maskSource;
  Rendering<Pels> sums(destination);
  Rendering<TransformPels8> cover(clipMask);
  CleanupList cleanup;
  status = makePadded(&padded, Pels::kPelSize, rect, source);
  if (status < 0) return status;
  cleanup.addObject<kimg_image_destruct>(&padded);
  // The copy matches pels by pel-grid coordinates, so each source pel lands where it was.
  status = Pels::copy(source, &padded);
  if (status < 0) return status;
  status = ksys_attention_check();
  if (status < 0) return status;

  status = sums.render(&padded, params, cacheHandle, cleanup);
  if (status < 0) return status;
  const auto failed = [&](int32_t failure) {
    sums.restore();
    cover.restore();
    return failure;
  };
  kstd_rect32 common{};
  int32_t noCommonPel = 0;
  status = kimg_imageConst_gcr(&padded, source, &common, &noCommonPel);
  if (status < 0) return failed(status);
  if (noCommonPel) {
    // The destination holds only zeros; the mask would too, and is left alone.
    status = sums.deliver();
    return status < 0 ? status : KIP_ERR_TRANSFORM_NO_OVERLAP;
  }
  if (clipMask != nullptr) {
    kimg_image* indicator = &padded;
    if constexpr (Pels::kPelSize != 1) {
      // The mask is 8-bit whatever the source: give back the wide padded copy before making it.
      status = kimg_image_setUnbound(&padded);
      if (status < 0) return failed(status);
      status = makePadded(&maskSource, 1, rect, source);
      if (status < 0) return failed(status);
      cleanup.addObject<kimg_image_destruct>(&maskSource);
      indicator = &maskSource;
    }
    status = fillIndicator(indicator, common);
    if (status < 0) return failed(status);
    status = cover.render(indicator, params, cacheHandle, cleanup);
    if (status < 0) return failed(status);
  }
  status = sums.deliver();
  if (status >= 0 && clipMask != nullptr) status = cover.deliver();
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
