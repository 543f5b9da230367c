// The transform exports: argument checks, the overlap test of a reused destination, and the cache
// the call works with (the caller's, or one that lives for the call).
#include "frame/export_guard.hpp"
#include "frame/frame.hpp"
#include "platform/platform.hpp"
#include "transform/transform_pels.hpp"

namespace {

// A reused destination has to be of the function's pel size and must not share memory with the
// source; both are refused before anything is made or written. An unbound destination has no
// storage to test, and an unbound source is left to the image layer, which names it.
template <class Pels>
int32_t checkReusedDestination(const kimg_image* source, kimg_image* destination) {
  int32_t destinationBound = 0;
  int32_t status = kimg_image_getIsBound(destination, &destinationBound);
  if (status < 0 || !destinationBound) return status;
  if (destination->pelSize != Pels::kPelSize) return KIP_ERR_PEL_SIZE;
  int32_t sourceBound = 0;
  status = kimg_imageConst_getIsBound(source, &sourceBound);
  if (status < 0 || !sourceBound) return status;
  kimg_window sourceWindow{};
  status = kimg_windowConst_init(&sourceWindow, source);
  if (status < 0) return status;
  kimg_window destinationWindow{};
  status = kimg_window_init(&destinationWindow, destination);
  if (status < 0) return status;
  return kip_pelfunc_checkMemoryOverlap(&sourceWindow, &destinationWindow);
}

template <class Pels>
int32_t transformExport(const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                        affineSampleCache** cacheHandle) {
  if (source == nullptr || destination == nullptr || params == nullptr) return KIP_ERR_NULL_POINTER;
  if (cacheHandle != nullptr && *cacheHandle == nullptr) return KIP_ERR_NULL_POINTER;
  int32_t status = checkReusedDestination<Pels>(source, destination);
  if (status < 0) return status;

  if (cacheHandle != nullptr) return Pels::image(source, destination, params, *cacheHandle);
  affineSampleCache temporary;  // outlives the list that releases it
  CleanupList cleanup;
  status = affineSampleCache_initTemporary(&temporary);
  if (status < 0) return status;
  cleanup.addObject<affineSampleCache_releaseTemporary>(&temporary);
  return cleanup.finish(Pels::image(source, destination, params, &temporary));
}

}  // namespace

extern "C" {

KIP_API int32_t kip_affineTransform(const kimg_image* source, kimg_image* destination,
                                    const affineSampleParams* params, affineSampleCache** cache) {
  return guardExport([&] { return transformExport<TransformPels8>(source, destination, params, cache); });
}

KIP_API int32_t kip_affineTransform16(const kimg_image* source, kimg_image* destination,
                                      const affineSampleParams* params, affineSampleCache** cache) {
  return guardExport([&] { return transformExport<TransformPels16>(source, destination, params, cache); });
}

KIP_API int32_t kip_affine8(const affineSampleParams* params, const kimg_image* source, kimg_image* destination) {
  return guardExport([&] { return transformExport<TransformPels8>(source, destination, params, nullptr); });
}

}  // extern "C"
