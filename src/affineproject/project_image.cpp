// The image entry points of the affine projections: the source's window and client transform, an
// unbound destination (and coverage) image bound to a new xCount x 1 vector, the window bodies,
// and the destination's client transform.
#include "affineproject/affineproject.hpp"

#include "frame/export_guard.hpp"
#include "frame/frame.hpp"
#include "geometry/geometry.hpp"
#include "platform/platform.hpp"

namespace {

struct Image8 {
  static constexpr int32_t kPelSize = 1;
  static constexpr auto worker = affineProject_windowWorker8;
  static constexpr auto clippedWindow = affineProject_clippedWindow8;
};

struct Image16 {
  static constexpr int32_t kPelSize = 2;
  static constexpr auto worker = affineProject_windowWorker16;
  static constexpr auto clippedWindow = affineProject_clippedWindow16;
};

// The source's window over the whole image and its client transform; an unbound source is
// KIP_ERR_PROJECT_UNBOUND.
template <class I>
int32_t sourceOf(const kimg_image* source, kimg_window* window, kmath_xformLinear* xform) {
  int32_t isBound = 0;
  int32_t status = kimg_imageConst_getIsBound(source, &isBound);
  if (status < 0) return status;
  if (!isBound) return KIP_ERR_PROJECT_UNBOUND;
  status = geometry_imageWindowAndXform(source, window, xform);
  if (status < 0) return status;
  return kimg_window_validate(window, I::kPelSize);
}

// A destination or coverage image: a bound one is used as it is and must have 32-bit pels; an
// unbound one gets a new vector, which a failed call takes back, so that a refused or failed call
// leaves the caller's image as it found it.
class VectorImage {
 public:
  explicit VectorImage(kimg_image* image) : image_(image), before_(*image) {}
  VectorImage(const VectorImage&) = delete;
  VectorImage& operator=(const VectorImage&) = delete;

  // Refusals first, before any image is bound: the bound state and the pel size.
  int32_t check() {
    const int32_t status = kimg_image_getIsBound(image_, &wasBound_);
    if (status < 0) return status;
    return wasBound_ && image_->pelSize != 4 ? KIP_ERR_PEL_SIZE : 0;
  }
  int32_t prepare(int32_t xCount, kimg_window* window) {
    if (!wasBound_) {
      const int32_t status = kimg_image_assignNew(image_, 4, xCount, 1);
      if (status < 0) return status;
      boundHere_ = true;
    }
    return kimg_window_init(window, image_);
  }
  void undoOnFailure(int32_t status) {
    if (status >= 0 || !boundHere_) return;
    kimg_image_setUnbound(image_);
    *image_ = before_;  // the saved record owns no storage
  }

 private:
  kimg_image* image_;
  kimg_image before_;
  int32_t wasBound_ = 0;
  bool boundHere_ = false;
};

int32_t checkMode(int32_t pelSize, const affineSampleParams* params) {
  // The cores refuse this too, but only after an unbound destination has been given storage.
  const bool twoPass = params->sampleMode != KIP_SAMPLE_NEAREST && params->sampleMode != KIP_SAMPLE_BILINEAR;
  return pelSize == 2 && twoPass ? KIP_ERR_MODE_UNSUPPORTED : 0;
}

template <class I>
int32_t projectImage(const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                     affineSampleCache** handle, uint32_t* sampleCount) {
  if (source == nullptr || destination == nullptr || params == nullptr) return KIP_ERR_NULL_POINTER;
  kimg_window sourceWindow{};
  kmath_xformLinear sourceXform{};
  int32_t status = sourceOf<I>(source, &sourceWindow, &sourceXform);
  if (status < 0) return status;
  uint32_t clips = 1;
  status = affineSampleParams_getWillClipWindowInternal(params, &sourceWindow, &sourceXform, &clips);
  if (status < 0) return status;
  if (clips) return KIP_ERR_PROJECT_CLIPS;
  status = checkMode(I::kPelSize, params);
  if (status < 0) return status;

  VectorImage vector(destination);
  status = vector.check();
  if (status < 0) return status;
  kimg_window destinationWindow{};
  status = vector.prepare(params->xCount, &destinationWindow);
  kmath_xformLinear xform{};
  uint32_t count = 0;
  if (status >= 0) {
    status = I::worker(&sourceWindow, &sourceXform, &destinationWindow, params, handle, &xform, &count);
  }
  if (status >= 0) status = kimg_image_setLinearImageFromClientXform(destination, &xform);
  vector.undoOnFailure(status);
  if (status >= 0 && sampleCount != nullptr) *sampleCount = count;
  return status;
}

template <class I>
int32_t projectClippedImage(const kimg_image* source, kimg_image* destination, kimg_image* coverage,
                            const affineSampleParams* params, affineSampleCache** handle, uint8_t coverageValue,
                            uint32_t* sampleCount, uint32_t* willClip) {
  if (source == nullptr || destination == nullptr || coverage == nullptr || params == nullptr ||
      sampleCount == nullptr || willClip == nullptr) {
    return KIP_ERR_NULL_POINTER;
  }
  kimg_window sourceWindow{};
  kmath_xformLinear sourceXform{};
  int32_t status = sourceOf<I>(source, &sourceWindow, &sourceXform);
  if (status < 0) return status;
  // The clip test comes before the destination is bound, so that its refusals bind nothing.
  uint32_t clips = 1;
  status = affineSampleParams_getWillClipWindowInternal(params, &sourceWindow, &sourceXform, &clips);
  if (status < 0) return status;
  status = checkMode(I::kPelSize, params);
  if (status < 0) return status;

  // One record for both vectors would be bound twice, the second time over the first's storage.
  if (clips && coverage == destination) return KIP_ERR_MEMORY_OVERLAP;
  VectorImage sums(destination), cover(coverage);
  status = sums.check();
  if (status >= 0 && clips) status = cover.check();
  if (status < 0) return status;
  kimg_window destinationWindow{}, coverageWindow{};
  status = sums.prepare(params->xCount, &destinationWindow);
  if (status >= 0 && clips) status = cover.prepare(params->xCount, &coverageWindow);

  kmath_xformLinear xform{};
  uint32_t count = 0, clipped = 0;
  if (status >= 0) {
    status = clips ? I::clippedWindow(&sourceWindow, &sourceXform, &destinationWindow, &coverageWindow, params,
                                      handle, &xform, coverageValue, &count, &clipped)
                   : I::worker(&sourceWindow, &sourceXform, &destinationWindow, params, handle, &xform, &count);
  }
  if (status >= 0) status = kimg_image_setLinearImageFromClientXform(destination, &xform);
  if (status >= 0 && clipped) status = kimg_image_copyXforms(coverage, destination);
  cover.undoOnFailure(status);
  sums.undoOnFailure(status);
  if (status < 0) return status;
  *sampleCount = count;
  *willClip = clipped;
  return status;
}

}  // namespace

extern "C" {

KIP_API int32_t kip_affineProject(const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                                  affineSampleCache** cache, uint32_t* sampleCount) {
  return guardExport([&] { return projectImage<Image8>(source, destination, params, cache, sampleCount); });
}

KIP_API int32_t kip_affineProject16(const kimg_image* source, kimg_image* destination,
                                    const affineSampleParams* params, affineSampleCache** cache,
                                    uint32_t* sampleCount) {
  return guardExport([&] { return projectImage<Image16>(source, destination, params, cache, sampleCount); });
}

KIP_API int32_t kip_affineProjectClipped(const kimg_image* source, kimg_image* destination, kimg_image* coverage,
                                         const affineSampleParams* params, affineSampleCache** cache,
                                         uint8_t coverageValue, uint32_t* sampleCount, uint32_t* willClip) {
  return guardExport([&] {
    return projectClippedImage<Image8>(source, destination, coverage, params, cache, coverageValue, sampleCount,
                                       willClip);
  });
}

KIP_API int32_t kip_affineProjectClipped16(const kimg_image* source, kimg_image* destination, kimg_image* coverage,
                                           const affineSampleParams* params, affineSampleCache** cache,
                                           uint8_t coverageValue, uint32_t* sampleCount, uint32_t* willClip) {
  return guardExport([&] {
    return projectClippedImage<Image16>(source, destination, coverage, params, cache, coverageValue, sampleCount,
                                        willClip);
  });
}

}  // extern "C"
