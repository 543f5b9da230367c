// Clipped projections. The source is copied into a zero-filled image that covers every pel the
// sampling can reach, at the same pel-grid place, and the core projects that padded copy, so
// samples outside the source add 0. The padded copy is then made an indicator of the source
// (coverageValue on the source's pels, 0 around them) and projected again for the coverage.
#include "affineproject/affineproject.hpp"

#include "frame/frame.hpp"
#include "platform/platform.hpp"

namespace {

struct Clip8 {
  static constexpr int32_t kPelSize = 1;
  static int32_t copy(const kimg_window* from, kimg_window* to) { return kip_pelCopyWindow8(from, to); }
  static int32_t fill(kimg_window* window, uint8_t value) { return kip_pelSetWindow8(window, value); }
  static constexpr auto core = affineProject_core8;
};

struct Clip16 {
  static constexpr int32_t kPelSize = 2;
  static int32_t copy(const kimg_window* from, kimg_window* to) { return kip_pelCopyWindow16(from, to); }
  // The 8-bit value stands for the same count of samples; zero-extended, not scaled.
  static int32_t fill(kimg_window* window, uint8_t value) { return kip_pelSetWindow16(window, value); }
  static constexpr auto core = affineProject_core16;
};

template <class Clip>
int32_t projectClipped(const kimg_window* source, const kmath_xformLinear* sourceXform, kimg_window* vector,
                       kimg_window* coverage, const affineSampleParams* params, affineSampleCache* cache,
                       kmath_xformLinear* outXform, uint8_t coverageValue, uint32_t* sampleCount) {
  kstd_rect32 reach{};
  int32_t status = kip_affineSampleParams_getMaxSrcRectWindow(params, source, sourceXform, &reach);
  if (status < 0) return status;

  // The common part of the reach and the source is known before any pel exists: a sampling that
  // touches no source pel is refused before either vector is written, and before a padded image
  // (which may be large for a far-off sampling) is allocated.
  kimg_window reachExtent{};
  reachExtent.xOrigin = reach.x;
  reachExtent.yOrigin = reach.y;
  reachExtent.width = reach.width;
  reachExtent.height = reach.height;
  kstd_rect32 common{};
  int32_t noCommon = 0;
  status = kimg_windowConst_gcr(&reachExtent, source, &common, &noCommon);
  if (status < 0) return status;
  if (noCommon) return KIP_ERR_PROJECT_NO_OVERLAP;

  CleanupList cleanup;
  kimg_image padded{};
  status = kimg_image_constructUnbound(&padded);
  if (status < 0) return status;
  cleanup.addObject<kimg_image_destruct>(&padded);
  // New storage is zero-filled: the padding is there before the source is copied in.
  status = kimg_image_assignNew(&padded, Clip::kPelSize, reach.width, reach.height);
  if (status < 0) return cleanup.finish(status);
  padded.xOrigin = reach.x;
  padded.yOrigin = reach.y;
  kimg_window paddedWindow{};
  status = kimg_window_init(&paddedWindow, &padded);
  if (status >= 0) status = Clip::copy(source, &paddedWindow);

  kmath_xformLinear xform{};
  if (status >= 0) status = Clip::core(&paddedWindow, sourceXform, vector, params, cache, &xform, nullptr);

  kimg_window inside = paddedWindow;
  if (status >= 0) status = kimg_window_windowRect(&inside, &common, nullptr);
  if (status >= 0) status = Clip::fill(&inside, coverageValue);
  kmath_xformLinear again{};
  if (status >= 0) status = Clip::core(&paddedWindow, sourceXform, coverage, params, cache, &again, nullptr);

  uint32_t largest = 0;
  if (status >= 0) status = kip_pelUnaryMaxWindow32(coverage, &largest);
  status = cleanup.finish(status);
  if (status < 0) return status;
  *outXform = xform;
  *sampleCount = largest;
  return status;
}

}  // namespace

int32_t affineProject_clipped8(const kimg_window* source, const kmath_xformLinear* sourceXform, kimg_window* vector,
                               kimg_window* coverage, const affineSampleParams* params, affineSampleCache* cache,
                               kmath_xformLinear* outXform, uint8_t coverageValue, uint32_t* sampleCount) {
  return projectClipped<Clip8>(source, sourceXform, vector, coverage, params, cache, outXform, coverageValue,
                               sampleCount);
}

int32_t affineProject_clipped16(const kimg_window* source, const kmath_xformLinear* sourceXform, kimg_window* vector,
                                kimg_window* coverage, const affineSampleParams* params, affineSampleCache* cache,
                                kmath_xformLinear* outXform, uint8_t coverageValue, uint32_t* sampleCount) {
  return projectClipped<Clip16>(source, sourceXform, vector, coverage, params, cache, outXform, coverageValue,
                                sampleCount);
}
