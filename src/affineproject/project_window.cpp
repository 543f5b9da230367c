// The window entry points of the affine projections and their bodies: the worker for samplings
// that stay inside the source, and the clipped body for those that may leave it.
#include "affineproject/affineproject.hpp"

#include "frame/export_guard.hpp"
#include "frame/frame.hpp"
#include "geometry/geometry.hpp"
#include "platform/platform.hpp"

#include <utility>

namespace {

struct Window8 {
  static constexpr int32_t kPelSize = 1;
  static constexpr auto core = affineProject_core8;
  static constexpr auto clipped = affineProject_clipped8;
};

struct Window16 {
  static constexpr int32_t kPelSize = 2;
  static constexpr auto core = affineProject_core16;
  static constexpr auto clipped = affineProject_clipped16;
};

// The caller's cache, or a temporary one that the call's list releases.
int32_t takeCache(affineSampleCache** handle, affineSampleCache* temporary, CleanupList& cleanup,
                  affineSampleCache** cache) {
  if (handle != nullptr && *handle != nullptr) {
    *cache = *handle;
    return 0;
  }
  const int32_t status = affineSampleCache_initTemporary(temporary);
  if (status < 0) return status;
  cleanup.addObject<affineSampleCache_releaseTemporary>(temporary);
  *cache = temporary;
  return 0;
}

// A vector of xCount 32-bit pels at the pel-grid origin, for destinations that cannot take the
// entries where they are; the call's list destroys it.
int32_t temporaryVector(kimg_image* image, int32_t xCount, CleanupList& cleanup, kimg_window* window) {
  int32_t status = kimg_image_constructUnbound(image);
  if (status < 0) return status;
  cleanup.addObject<kimg_image_destruct>(image);
  status = kimg_image_assignNew(image, 4, xCount, 1);
  if (status < 0) return status;
  return kimg_window_init(window, image);
}

// Entries 0 to xCount - 1 of row 0, taken where a destination window holds them.
int32_t vectorInPlace(const kimg_window& destination, int32_t xCount, kimg_window* vector) {
  *vector = destination;
  return kimg_window_window(vector, 0, 0, xCount, 1, nullptr);
}

template <class W>
int32_t windowWorker(const kimg_window* source, const kmath_xformLinear* sourceXform, kimg_window* destination,
                     const affineSampleParams* params, affineSampleCache** handle, kmath_xformLinear* outXform,
                     uint32_t* sampleCount) {
  int32_t status = kip_pelfunc_checkMemoryOverlap(source, destination);
  if (status < 0) return status;
  CleanupList cleanup;
  affineSampleCache temporaryCache{};
  affineSampleCache* cache = nullptr;
  status = takeCache(handle, &temporaryCache, cleanup, &cache);
  if (status < 0) return cleanup.finish(status);

  // Written where it is only when the window starts at the origin: the cores take a vector whose
  // first entry is entry 0.
  const int32_t xCount = params->xCount;
  const bool inPlace = destination->width >= xCount && destination->height >= 1 && destination->xOrigin == 0 &&
                       destination->yOrigin == 0;
  kimg_image temporary{};
  kimg_window vector{};
  status = inPlace ? vectorInPlace(*destination, xCount, &vector) : temporaryVector(&temporary, xCount, cleanup, &vector);
  kmath_xformLinear xform{};
  uint32_t count = 0;
  if (status >= 0) status = W::core(source, sourceXform, &vector, params, cache, &xform, &count);
  if (status >= 0 && !inPlace) status = kip_pelCopyWindow32(&vector, destination);
  status = cleanup.finish(status);
  if (status < 0) return status;
  *outXform = xform;
  if (sampleCount != nullptr) *sampleCount = count;
  return status;
}

// The clipped projection's in-place test is wider than the worker's: any window that holds entries
// 0 to xCount - 1 of row 0, whatever its origin.
bool holdsVector(const kimg_window& window, int32_t xCount) {
  return window.xOrigin <= 0 && window.yOrigin <= 0 && int64_t{window.xOrigin} + window.width >= xCount &&
         int64_t{window.yOrigin} + window.height >= 1;
}

template <class W>
int32_t clippedWindow(const kimg_window* source, const kmath_xformLinear* sourceXform, kimg_window* destination,
                      kimg_window* coverage, const affineSampleParams* params, affineSampleCache** handle,
                      kmath_xformLinear* outXform, uint8_t coverageValue, uint32_t* sampleCount,
                      uint32_t* willClip) {
  uint32_t clips = 1;
  int32_t status = affineSampleParams_getWillClipWindowInternal(params, source, sourceXform, &clips);
  if (status < 0) return status;
  if (!clips) {
    // Inside the source: the plain projection, and the coverage destination is left alone.
    status = windowWorker<W>(source, sourceXform, destination, params, handle, outXform, sampleCount);
    if (status >= 0) *willClip = 0;
    return status;
  }
  for (const auto& [a, b] : {std::pair{source, destination}, {source, coverage}, {destination, coverage}}) {
    status = kip_pelfunc_checkMemoryOverlap(a, b);
    if (status < 0) return status;
  }

  CleanupList cleanup;
  affineSampleCache temporaryCache{};
  affineSampleCache* cache = nullptr;
  status = takeCache(handle, &temporaryCache, cleanup, &cache);
  if (status < 0) return cleanup.finish(status);

  const int32_t xCount = params->xCount;
  kimg_window* targets[2] = {destination, coverage};
  bool inPlace[2] = {};
  kimg_image temporaries[2] = {};
  kimg_window vectors[2] = {};
  for (int k = 0; k < 2 && status >= 0; ++k) {
    // The sums always go into a vector of their own, copied in at the end: the coverage pass after
    // them can still fail (for memory), and a failed call leaves the caller's destination as it
    // was. The coverage is the last pass, which fails, if at all, before it writes.
    inPlace[k] = k == 1 && holdsVector(*targets[k], xCount);
    status = inPlace[k] ? vectorInPlace(*targets[k], xCount, &vectors[k])
                        : temporaryVector(&temporaries[k], xCount, cleanup, &vectors[k]);
  }
  kmath_xformLinear xform{};
  uint32_t count = 0;
  if (status >= 0) {
    status = W::clipped(source, sourceXform, &vectors[0], &vectors[1], params, cache, &xform, coverageValue, &count);
  }
  for (int k = 0; k < 2 && status >= 0; ++k) {
    if (!inPlace[k]) status = kip_pelCopyWindow32(&vectors[k], targets[k]);
  }
  status = cleanup.finish(status);
  if (status < 0) return status;
  *outXform = xform;
  *sampleCount = count;
  *willClip = 1;
  return status;
}

// Checks of the window exports: required pointers, the source's pel size, 32-bit vectors.
template <class W>
int32_t checkWindows(const kimg_window* source, const kmath_xformLinear* sourceXform, const kimg_window* destination,
                     const affineSampleParams* params, const kmath_xformLinear* outXform) {
  if (source == nullptr || sourceXform == nullptr || destination == nullptr || params == nullptr ||
      outXform == nullptr) {
    return KIP_ERR_NULL_POINTER;
  }
  const int32_t status = kimg_window_validate(source, W::kPelSize);
  if (status < 0) return status;
  return kimg_window_validate(destination, 4);
}

template <class W>
int32_t projectWindow(const kimg_window* source, const kmath_xformLinear* sourceXform, kimg_window* destination,
                      const affineSampleParams* params, affineSampleCache** handle, kmath_xformLinear* outXform,
                      uint32_t* sampleCount) {
  int32_t status = checkWindows<W>(source, sourceXform, destination, params, outXform);
  if (status < 0) return status;
  uint32_t clips = 1;
  status = affineSampleParams_getWillClipWindowInternal(params, source, sourceXform, &clips);
  if (status < 0) return status;
  if (clips) return KIP_ERR_PROJECT_CLIPS;
  return windowWorker<W>(source, sourceXform, destination, params, handle, outXform, sampleCount);
}

template <class W>
int32_t projectClippedWindow(const kimg_window* source, const kmath_xformLinear* sourceXform,
                             kimg_window* destination, kimg_window* coverage, const affineSampleParams* params,
                             affineSampleCache** handle, kmath_xformLinear* outXform, uint8_t coverageValue,
                             uint32_t* sampleCount, uint32_t* willClip) {
  int32_t status = checkWindows<W>(source, sourceXform, destination, params, outXform);
  if (status < 0) return status;
  if (coverage == nullptr || sampleCount == nullptr || willClip == nullptr) return KIP_ERR_NULL_POINTER;
  status = kimg_window_validate(coverage, 4);
  if (status < 0) return status;
  return clippedWindow<W>(source, sourceXform, destination, coverage, params, handle, outXform, coverageValue,
                          sampleCount, willClip);
}

}  // namespace

int32_t affineProject_windowWorker8(const kimg_window* source, const kmath_xformLinear* sourceXform,
                                    kimg_window* destination, const affineSampleParams* params,
                                    affineSampleCache** handle, kmath_xformLinear* outXform, uint32_t* sampleCount) {
  return windowWorker<Window8>(source, sourceXform, destination, params, handle, outXform, sampleCount);
}

int32_t affineProject_windowWorker16(const kimg_window* source, const kmath_xformLinear* sourceXform,
                                     kimg_window* destination, const affineSampleParams* params,
                                     affineSampleCache** handle, kmath_xformLinear* outXform, uint32_t* sampleCount) {
  return windowWorker<Window16>(source, sourceXform, destination, params, handle, outXform, sampleCount);
}

int32_t affineProject_clippedWindow8(const kimg_window* source, const kmath_xformLinear* sourceXform,
                                     kimg_window* destination, kimg_window* coverage, const affineSampleParams* params,
                                     affineSampleCache** handle, kmath_xformLinear* outXform, uint8_t coverageValue,
                                     uint32_t* sampleCount, uint32_t* willClip) {
  return clippedWindow<Window8>(source, sourceXform, destination, coverage, params, handle, outXform, coverageValue,
                                sampleCount, willClip);
}

int32_t affineProject_clippedWindow16(const kimg_window* source, const kmath_xformLinear* sourceXform,
                                      kimg_window* destination, kimg_window* coverage,
                                      const affineSampleParams* params, affineSampleCache** handle,
                                      kmath_xformLinear* outXform, uint8_t coverageValue, uint32_t* sampleCount,
                                      uint32_t* willClip) {
  return clippedWindow<Window16>(source, sourceXform, destination, coverage, params, handle, outXform, coverageValue,
                                 sampleCount, willClip);
}

extern "C" {

KIP_API int32_t kip_affineProjectWindow(const kimg_window* source, const kmath_xformLinear* srcImageFromClientXform,
                                        kimg_window* destination, const affineSampleParams* params,
                                        affineSampleCache** cache, kmath_xformLinear* destImageFromClientXform,
                                        uint32_t* sampleCount) {
  return guardExport([&] {
    return projectWindow<Window8>(source, srcImageFromClientXform, destination, params, cache,
                                  destImageFromClientXform, sampleCount);
  });
}

KIP_API int32_t kip_affineProjectWindow16(const kimg_window* source, const kmath_xformLinear* srcImageFromClientXform,
                                          kimg_window* destination, const affineSampleParams* params,
                                          affineSampleCache** cache, kmath_xformLinear* destImageFromClientXform,
                                          uint32_t* sampleCount) {
  return guardExport([&] {
    return projectWindow<Window16>(source, srcImageFromClientXform, destination, params, cache,
                                   destImageFromClientXform, sampleCount);
  });
}

KIP_API int32_t kip_affineProjectClippedWindow(const kimg_window* source,
                                               const kmath_xformLinear* srcImageFromClientXform,
                                               kimg_window* destination, kimg_window* coverage,
                                               const affineSampleParams* params, affineSampleCache** cache,
                                               kmath_xformLinear* destImageFromClientXform, uint8_t coverageValue,
                                               uint32_t* sampleCount, uint32_t* willClip) {
  return guardExport([&] {
    return projectClippedWindow<Window8>(source, srcImageFromClientXform, destination, coverage, params, cache,
                                         destImageFromClientXform, coverageValue, sampleCount, willClip);
  });
}

KIP_API int32_t kip_affineProjectClippedWindow16(const kimg_window* source,
                                                 const kmath_xformLinear* srcImageFromClientXform,
                                                 kimg_window* destination, kimg_window* coverage,
                                                 const affineSampleParams* params, affineSampleCache** cache,
                                                 kmath_xformLinear* destImageFromClientXform, uint8_t coverageValue,
                                                 uint32_t* sampleCount, uint32_t* willClip) {
  return guardExport([&] {
    return projectClippedWindow<Window16>(source, srcImageFromClientXform, destination, coverage, params, cache,
                                          destImageFromClientXform, coverageValue, sampleCount, willClip);
  });
}

}  // extern "C"
