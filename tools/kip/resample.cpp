#include "resample.hpp"

#include "cli.hpp"
#include "failure.hpp"
#include "status_text.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <tuple>
#include <utility>

namespace kiptool {
namespace {

// One cache serves every channel: they share the geometry, so only the first pays for the set-up.
class Cache {
 public:
  Cache() { checkStatus(kip_affineSampleCache_construct(&handle_), "making a sample cache"); }
  ~Cache() { kip_affineSampleCache_destruct(&handle_); }
  Cache(const Cache&) = delete;
  Cache& operator=(const Cache&) = delete;
  affineSampleCache** get() { return &handle_; }

 private:
  affineSampleCache* handle_ = nullptr;
};

std::string sizeText(int32_t width, int32_t height) { return std::to_string(width) + " x " + std::to_string(height); }

// The refusals a user can cause get their own words; anything else is a defect.
void checkResampling(int32_t status, const Picture& in, const std::string& inputName, uint32_t mode) {
  const std::string input = inputName + " (" + sizeText(in.width(), in.height()) + " pels)";
  switch (status) {
    case KIP_ERR_TRANSFORM_CLIPS:
      fail("the sampling reaches outside " + input,
           "Give --clip to fill what lies outside with 0, or keep the sampling inside the image");
    case KIP_ERR_TRANSFORM_NO_OVERLAP:
      fail("the sampling touches no pel of " + input, "Check the rectangle against the image's size");
    case KIP_ERR_SOURCE_TOO_LARGE:
      fail(input + " is too large for --mode " + std::string(modeName(mode)) + " (32768 pels or more across)",
           "Try another --mode, or a smaller image");
    case KIP_ERR_OUT_OF_RANGE:
    case KIP_ERR_NOT_FINITE:
      fail("the sampling of " + input + " reaches too far to compute", "Give a rectangle of a sane size");
    default: checkStatus(status, "resampling " + inputName);
  }
}

int32_t transformChannel(const Picture& in, int c, Picture& out, kimg_image* mask, const affineSampleParams& params,
                         bool clip, Cache& cache, uint32_t* willClip) {
  const kimg_image* source = in.channels[c].get();
  kimg_image* destination = out.channels[c].get();
  const bool wide = in.bitDepth == 16;
  if (!clip) {
    *willClip = 0;
    return wide ? kip_affineTransform16(source, destination, &params, cache.get())
                : kip_affineTransform(source, destination, &params, cache.get());
  }
  return wide ? kip_affineTransformClipped16(source, destination, mask, &params, cache.get(), willClip)
              : kip_affineTransformClipped(source, destination, mask, &params, cache.get(), willClip);
}

// A sample's reach beyond its position, in input pels, for each mode.
double reach(uint32_t mode) {
  constexpr double reaches[] = {0.0, 0.5, 1.5, 2.5};
  return mode < 4 ? reaches[mode] : 2.5;
}

// A side in whole output pels, refused above kMaxSide before it becomes an integer; 0 when there
// is no room at all.
int32_t outputSide(double pels, const char* what) {
  if (!(pels <= kMaxSide)) {
    failUsage(std::string("the turned output would be more than ") + std::to_string(kMaxSide) + " pels " + what,
              "Give a smaller --scale");
  }
  return pels >= 1 ? static_cast<int32_t>(pels) : 0;
}

}  // namespace

std::string_view modeName(uint32_t mode) {
  constexpr std::string_view names[] = {"nearest", "bilinear", "linear2", "cubic2"};
  return mode < 4 ? names[mode] : "unknown";
}

Resampled resamplePicture(const Picture& in, const std::string& inputName, const affineSampleParams& params,
                          bool clip, bool wantMask) {
  Resampled result;
  result.picture = makePicture(in.bitDepth, in.layout, params.xCount, params.yCount);
  Cache cache;
  for (size_t c = 0; c < in.channels.size(); ++c) {
    // Every channel clips alike: the mask comes with the first.
    kimg_image* mask = wantMask && c == 0 ? result.mask.get() : nullptr;
    uint32_t willClip = 0;
    checkResampling(transformChannel(in, static_cast<int>(c), result.picture, mask, params, clip, cache, &willClip),
                    in, inputName, params.sampleMode);
    result.clipped = willClip != 0;
  }
  if (wantMask && !result.clipped) {
    result.mask = Image(1, params.xCount, params.yCount);
    checkStatus(kip_pelSet8(result.mask.get(), 255), "filling the clip mask");
  }
  return result;
}

affineSampleParams rotationParams(const kimg_image& image, double degrees, double scale, uint32_t mode, bool whole) {
  // Whole quarter turns get exact sines, so that they stay exact copies of the pels.
  const double turn = std::fmod(degrees, 360.0);
  double c = std::cos(turn * std::numbers::pi / 180), s = std::sin(turn * std::numbers::pi / 180);
  if (std::fmod(turn, 90.0) == 0.0) c = std::round(c), s = std::round(s);
  const double width = image.width, height = image.height;
  // The turned picture's bounding box, in input pels.
  const double boxWidth = width * std::fabs(c) + height * std::fabs(s);
  const double boxHeight = width * std::fabs(s) + height * std::fabs(c);

  if (!(scale * std::min(boxWidth, boxHeight) >= 1)) {
    failUsage("the turned output would be less than one pel across", "Give a larger --scale");
  }

  auto params = [&](int32_t outWidth, int32_t outHeight) {
    // Output x runs along (c, s) in the input, output y along (-s, c): turned counter-clockwise
    // as displayed, rows running down.
    const double w = outWidth / scale, h = outHeight / scale;
    const kmath_shapeAffineRect rect{width / 2 - (w * c - h * s) / 2, height / 2 - (w * s + h * c) / 2, w * c,
                                     -h * s, w * s, h * c};
    affineSampleParams p{};
    checkStatus(kip_affineSampleParams_init(&p, mode, &rect, outWidth, outHeight), "setting up the turn");
    return p;
  };
  // Sides that are whole numbers but for rounding stay whole.
  const double slack = 1e-9;
  if (whole) {
    return params(std::max(1, outputSide(std::ceil(scale * boxWidth - slack), "wide")),
                  std::max(1, outputSide(std::ceil(scale * boxHeight - slack), "tall")));
  }

  // The centred axis-aligned rectangle of largest area inside the picture shrunk by `margin` on
  // every side and turned: touching both long sides when the picture is thin for the angle,
  // else with all four corners on its edges.
  auto fit = [&](double margin) {
    const double w = width - 2 * margin, h = height - 2 * margin, sa = std::fabs(s), ca = std::fabs(c);
    double fitWidth = 0, fitHeight = 0;
    if (w > 0 && h > 0) {
      const bool wide = w >= h;
      const double longSide = wide ? w : h, shortSide = wide ? h : w;
      if (shortSide <= 2 * sa * ca * longSide || std::fabs(sa - ca) < 1e-10) {
        const double half = shortSide / 2;
        fitWidth = wide ? half / sa : half / ca;
        fitHeight = wide ? half / ca : half / sa;
      } else {
        const double cos2 = ca * ca - sa * sa;
        fitWidth = (w * ca - h * sa) / cos2;
        fitHeight = (h * ca - w * sa) / cos2;
      }
    }
    return std::pair{outputSide(std::floor(scale * fitWidth + slack), "wide"),
                     outputSide(std::floor(scale * fitHeight + slack), "tall")};
  };
  auto clips = [&](const affineSampleParams& p) {
    uint32_t willClip = 1;
    checkStatus(kip_affineSampleParams_getWillClip(&p, &image, &willClip), "testing the turn");
    return willClip != 0;
  };
  // Touching the edges works for exact copies; samples that interpolate need their reach as well,
  // and rounding may take a pel or two more.
  auto [outWidth, outHeight] = fit(0);
  if (outWidth >= 1 && outHeight >= 1 && !clips(params(outWidth, outHeight))) return params(outWidth, outHeight);
  std::tie(outWidth, outHeight) = fit(reach(mode) + 0.5);
  for (int attempt = 0; attempt < 8 && outWidth >= 1 && outHeight >= 1; ++attempt) {
    const affineSampleParams p = params(outWidth, outHeight);
    if (!clips(p)) return p;
    --outWidth, --outHeight;
  }
  fail("a " + sizeText(image.width, image.height) + " image is too small to turn with --mode " +
           std::string(modeName(mode)) + " and stay inside it",
       "Give --clip, or another --mode");
}

}  // namespace kiptool
