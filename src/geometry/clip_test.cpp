// Whether a sampling stays inside a window, counting how far each interpolation reaches around a
// sample position. Only the four corner sample centres are tested: the map is affine, so every
// other centre lies between them.
//
// The fixed-point test works on the 16.16 positions the kernels use, so its verdict matches what
// they will read; windows too large for 16.16 get the double-precision test.
#include "frame/export_guard.hpp"
#include "geometry/geometry.hpp"

namespace {

// Reach of each sample mode around a position, in 1/65536 pel, and the smallest window whose
// pels the mode can sample at all. Modes above 3 have no margin.
struct ModeReach {
  int32_t margin;
  int32_t smallestWindow;
};
constexpr ModeReach kModeReach[4] = {
    {0, 1},           // nearest: the pel containing the position
    {kFixedHalf, 1},  // bilinear: the pels around position - 0.5
    {0x18000, 5},     // two-pass linear
    {0x28000, 7},     // two-pass cubic
};

ModeReach reachOf(uint32_t mode) { return mode < 4 ? kModeReach[mode] : ModeReach{0, 1}; }

// Largest window stride and height that 16.16 positions with a signed 16-bit integer part serve.
constexpr int32_t kFixedLimit = 32767;

// Checks common to both tests; nothing is written.
int32_t checkArguments(const affineSampleParams* params, const kimg_window* window,
                       const kmath_xformLinear* imageFromClient, const uint32_t* willClip) {
  if (params == nullptr || window == nullptr || imageFromClient == nullptr || willClip == nullptr) {
    return KIP_ERR_NULL_POINTER;
  }
  int32_t status = kimg_window_validate(window, 0);
  if (status < 0) return status;
  status = affineSampleParams_checkCounts(*params);
  if (status < 0) return status;
  status = affineSampleParams_checkFinite(params->affineRect);
  if (status < 0) return status;
  return affineSampleParams_checkFinite(*imageFromClient);
}

// The mode whose reach applies: an aligned map lands on pel centres and is copied, not
// interpolated, so it is tested as nearest whatever its mode.
int32_t effectiveMode(const affineSampleParams& params, const kmath_xformLinear& imageFromClient, uint32_t* mode) {
  *mode = params.sampleMode;
  if (params.sampleMode < 1 || params.sampleMode > 3) return 0;
  uint32_t code = KIP_ALIGNMENT_GENERAL;
  const int32_t status = affine_imageAlignment_computeInternal(&params, &imageFromClient, &code, nullptr);
  if (status < 0) return status;
  if (code != KIP_ALIGNMENT_GENERAL) *mode = KIP_SAMPLE_NEAREST;
  return status;
}

// willClip is 1 from here on and becomes 0 only when every corner passes; a failure leaves 1.
int32_t willClipFloat(const affineSampleParams& params, const kimg_window& window,
                      const kmath_xformLinear& imageFromClient, uint32_t* willClip) {
  *willClip = 1;
  uint32_t mode = 0;
  int32_t status = effectiveMode(params, imageFromClient, &mode);
  if (status < 0) return status;
  if (window.width < 1 || window.height < 1) return status;

  const double margin = mode == KIP_SAMPLE_NEAREST ? 0.0 : 0.5;
  double xLimit = window.width - margin;
  double yLimit = window.height - margin;
  if (mode == KIP_SAMPLE_BILINEAR) {
    // Bilinear reads the pel after floor(position - 0.5): the position must stay below the edge.
    xLimit -= 0.00001;
    yLimit -= 0.00001;
  }
  kmath_vect centres[4];
  status = affineSampleParams_getCornerSampleCentres(&params, &imageFromClient, centres);
  if (status < 0) return status;
  for (const kmath_vect& c : centres) {
    const double dx = c.x - window.xOrigin;
    const double dy = c.y - window.yOrigin;
    if (dx < margin || dy < margin || dx > xLimit || dy > yLimit) return status;
  }
  *willClip = 0;
  return status;
}

int32_t willClipFixed(const affineSampleParams& params, const kimg_window& window,
                      const kmath_xformLinear& imageFromClient, uint32_t* willClip) {
  if (window.stride > kFixedLimit || window.height > kFixedLimit) {
    // The table-driven modes have no double-precision kernels: such a source cannot be sampled.
    if (params.sampleMode == KIP_SAMPLE_LINEAR2 || params.sampleMode == KIP_SAMPLE_CUBIC2) {
      return KIP_ERR_SOURCE_TOO_LARGE;
    }
    return willClipFloat(params, window, imageFromClient, willClip);
  }

  *willClip = 1;
  uint32_t mode = 0;
  int32_t status = effectiveMode(params, imageFromClient, &mode);
  if (status < 0) return status;
  const ModeReach reach = reachOf(mode);
  if (window.width < reach.smallestWindow || window.height < reach.smallestWindow) return status;

  // The stride bounds the width, so both limits fit 32 bits; 64 bits keep that obvious.
  int64_t xLimit = static_cast<int64_t>(window.width) * kFixedOne - reach.margin;
  int64_t yLimit = static_cast<int64_t>(window.height) * kFixedOne - reach.margin;
  if (mode == KIP_SAMPLE_BILINEAR) {
    // Bilinear reads the pel after floor(position - 0.5): the position must stay below the edge.
    xLimit -= 1;
    yLimit -= 1;
  }
  kmath_vect centres[4];
  status = affineSampleParams_getCornerSampleCentres(&params, &imageFromClient, centres);
  if (status < 0) return status;
  for (const kmath_vect& c : centres) {
    const double dx = c.x - window.xOrigin;
    const double dy = c.y - window.yOrigin;
    if (!fitsFixed16_16(dx) || !fitsFixed16_16(dy)) return status;
    const int32_t fx = toFixed16_16Truncated(dx);
    const int32_t fy = toFixed16_16Truncated(dy);
    if (fx < reach.margin || fy < reach.margin || fx > xLimit || fy > yLimit) return status;
  }
  *willClip = 0;
  return status;
}

}  // namespace

int32_t affineSampleParams_getWillClipFloat(const affineSampleParams* params, const kimg_window* window,
                                            const kmath_xformLinear* imageFromClient, uint32_t* willClip) {
  const int32_t status = checkArguments(params, window, imageFromClient, willClip);
  if (status < 0) return status;
  return willClipFloat(*params, *window, *imageFromClient, willClip);
}

int32_t affineSampleParams_getWillClipWindowInternal(const affineSampleParams* params, const kimg_window* window,
                                                     const kmath_xformLinear* imageFromClient, uint32_t* willClip) {
  const int32_t status = checkArguments(params, window, imageFromClient, willClip);
  if (status < 0) return status;
  return willClipFixed(*params, *window, *imageFromClient, willClip);
}

extern "C" {

KIP_API int32_t kip_affineSampleParams_getWillClipWindow(const affineSampleParams* params, const kimg_window* window,
                                                         const kmath_xformLinear* imageFromClient, uint32_t* willClip) {
  return guardExport(
      [&] { return affineSampleParams_getWillClipWindowInternal(params, window, imageFromClient, willClip); });
}

KIP_API int32_t kip_affineSampleParams_getWillClip(const affineSampleParams* params, const kimg_image* image,
                                                   uint32_t* willClip) {
  return guardExport([&]() -> int32_t {
    kimg_window window{};
    kmath_xformLinear imageFromClient{};
    const int32_t status = geometry_imageWindowAndXform(image, &window, &imageFromClient);
    if (status < 0) return status;
    return affineSampleParams_getWillClipWindowInternal(params, &window, &imageFromClient, willClip);
  });
}

}  // extern "C"
