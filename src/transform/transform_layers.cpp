// The two layers beneath the transform exports: the image layer decides where the pels go, the
// window layer how they are made.
#include "frame/frame.hpp"
#include "platform/platform.hpp"
#include "transform/transform.hpp"
#include "transform/transform_pels.hpp"

namespace {

template <class Pels>
int32_t transformWindow(const kimg_window* source, const kmath_xformLinear* sourceXform, kimg_window* destination,
                        const affineSampleParams* params, affineSampleCache* cache) {
  int32_t status = affineSampleCache_refresh(cache, source, sourceXform, destination, params, 0);
  if (status < 0) return status;
  if (cache->alignmentCode == KIP_ALIGNMENT_GENERAL) {
    return Pels::process(source, sourceXform, destination, params, cache);
  }
  // An exact axis-aligned map is a copy of the pels it lands on, whatever the sample mode.
  kimg_window aligned = *source;
  const kstd_rect32& rect = cache->alignmentRect;
  status = kimg_windowConst_window(&aligned, rect.x, rect.y, rect.width, rect.height, nullptr);
  if (status < 0) return status;
  return Pels::aligned(&aligned, destination, cache->alignmentCode);
}

template <class Pels>
int32_t transformImage(const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                       affineSampleCache* cache) {
  int32_t sourceBound = 0;
  int32_t status = kimg_imageConst_getIsBound(source, &sourceBound);
  if (status < 0) return status;
  if (!sourceBound) return KIP_ERR_TRANSFORM_UNBOUND;
  if (source->pelSize != Pels::kPelSize) return KIP_ERR_PEL_SIZE;

  // Nothing is written before this test has passed: a refused sampling leaves the destination alone.
  uint32_t willClip = 1;
  status = kip_affineSampleParams_getWillClip(params, source, &willClip);
  if (status < 0) return status;
  if (willClip) return KIP_ERR_TRANSFORM_CLIPS;

  int32_t destinationBound = 0;
  status = kimg_image_getIsBound(destination, &destinationBound);
  if (status < 0) return status;
  kimg_window sourceWindow{};
  status = kimg_windowConst_init(&sourceWindow, source);
  if (status < 0) return status;
  kmath_xformLinear sourceXform{};
  status = kimg_imageConst_getLinearImageFromClientXform(source, &sourceXform);
  if (status < 0) return status;

  // In place: the destination's own pel grid already holds (0, 0) to (xCount, yCount).
  const bool inPlace = destinationBound && destination->width >= params->xCount &&
                       destination->height >= params->yCount && destination->xOrigin == 0 &&
                       destination->yOrigin == 0;
  if (inPlace) {
    kimg_window window{};
    status = kimg_window_init(&window, destination);
    if (status < 0) return status;
    status = kimg_window_window(&window, 0, 0, params->xCount, params->yCount, nullptr);
    if (status < 0) return status;
    status = Pels::window(&sourceWindow, &sourceXform, &window, params, cache);
    if (status < 0) return status;
    return kimg_image_setLinearImageFromClientXform(destination, &cache->destImageFromClientXform);
  }

  kimg_image temporary;  // outlives the list that destroys it
  CleanupList cleanup;
  status = kimg_image_construct(&temporary, Pels::kPelSize, params->xCount, params->yCount);
  if (status < 0) return status;
  cleanup.addObject<kimg_image_destruct>(&temporary);
  kimg_window window{};
  status = kimg_window_init(&window, &temporary);
  if (status < 0) return status;
  status = Pels::window(&sourceWindow, &sourceXform, &window, params, cache);
  if (status < 0) return status;
  // A bound destination keeps its storage and takes the pels its pel grid shares with the result;
  // an unbound one shares the result's storage, which outlives the temporary record.
  status = destinationBound ? Pels::copy(&temporary, destination) : kimg_image_assign(destination, &temporary);
  status = cleanup.finish(status);
  if (status < 0) return status;
  return kimg_image_setLinearImageFromClientXform(destination, &cache->destImageFromClientXform);
}

}  // namespace

int32_t affineTransform_window8(const kimg_window* source, const kmath_xformLinear* sourceXform,
                                kimg_window* destination, const affineSampleParams* params, affineSampleCache* cache) {
  return transformWindow<TransformPels8>(source, sourceXform, destination, params, cache);
}

int32_t affineTransform_window16(const kimg_window* source, const kmath_xformLinear* sourceXform,
                                 kimg_window* destination, const affineSampleParams* params, affineSampleCache* cache) {
  return transformWindow<TransformPels16>(source, sourceXform, destination, params, cache);
}

int32_t affineTransform_image8(const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                               affineSampleCache* cache) {
  return transformImage<TransformPels8>(source, destination, params, cache);
}

int32_t affineTransform_image16(const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                                affineSampleCache* cache) {
  return transformImage<TransformPels16>(source, destination, params, cache);
}
