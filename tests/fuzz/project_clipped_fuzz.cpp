// Fuzz target: the clipped projections (kip_affineProjectClipped, 16, and their window forms) and
// the normalised ones (kip_affineProjectNorm, 16). Refusals leave destination, coverage and every
// out-parameter alone. On success *willClip is the clip test's
// verdict and an inside sampling leaves the coverage alone and counts yCount samples. Normalised
// ranges lie within the entries.
#include "fuzz_support.hpp"

#include <cstring>

using namespace kipfuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const Session session(in, "project_clipped");
  const uint8_t form = in.byte() % 6;  // clipped 8, 16, clipped window 8, 16, norm 8, 16
  const bool sixteen = (form & 1) != 0, windows = form == 2 || form == 3, norm = form >= 4;
  static constexpr const char* kNames[] = {"kip_affineProjectClipped",       "kip_affineProjectClipped16",
                                           "kip_affineProjectClippedWindow", "kip_affineProjectClippedWindow16",
                                           "kip_affineProjectNorm",          "kip_affineProjectNorm16"};
  const char* name = kNames[form];
  Sampling sampling = makeSampling(in, sixteen ? 2 : 1, 160);
  affineSampleParams& params = sampling.params;
  const ExactImage& source = *sampling.source;
  const kimg_window sourceWindow = windows ? makeWindow(in, source) : source.window();
  const kmath_xformLinear sourceXform = windows && in.oneIn(8) ? in.xform() : source.get()->imageFromClient;
  capWork(&params, 4, true);
  uint32_t verdict = 7;
  const int32_t clipStatus = kip_affineSampleParams_getWillClipWindow(&params, &sourceWindow, &sourceXform, &verdict);

  VectorTarget destination(in, source, params.xCount), coverage(in, source, params.xCount);
  // Unless a destination lies in the source's pels (to be refused), only the window is readable.
  if (windows && destination.image->storage != source.get()->storage &&
      coverage.image->storage != source.get()->storage) {
    sampling.source->confineTo(sourceWindow);
  }
  const uint8_t coverageChoice = in.byte() % 16;
  VectorTarget* coverageArg = coverageChoice == 14 ? nullptr : coverageChoice == 15 ? &destination : &coverage;
  const uint8_t coverageValue = in.oneIn(16) ? 0 : static_cast<uint8_t>(in.byte() | 1);
  static constexpr uint32_t kClippedFlags[] = {1, 0, 0xFFFFFFFFu, 1};
  const uint32_t clipped = kClippedFlags[in.byte() % 4];

  affineSampleCache* cache = nullptr;
  checkStatus("kip_affineSampleCache_construct", kip_affineSampleCache_construct(&cache));
  affineSampleCache** cacheArg = in.flag() ? &cache : nullptr;
  uint32_t sampleCount = kUnwritten, willClip = kUnwritten, validStart = kUnwritten, validEnd = kUnwritten;
  uint32_t* sampleCountArg = in.oneIn(16) ? nullptr : &sampleCount;
  uint32_t* willClipArg = in.oneIn(16) ? nullptr : &willClip;
  uint32_t* validStartArg = in.oneIn(8) ? nullptr : &validStart;
  uint32_t* validEndArg = in.oneIn(8) ? nullptr : &validEnd;
  kmath_xformLinear outXform{};
  std::memset(&outXform, 0xA5, sizeof outXform);
  kmath_xformLinear* outXformArg = in.oneIn(24) ? nullptr : &outXform;

  Guard guard, coverageGuard;
  guard.image(destination.image).window(&destination.window).value(&sampleCount).value(&willClip);
  guard.value(&validStart).value(&validEnd).value(&outXform);
  coverageGuard.image(coverage.image).window(&coverage.window);
  kimg_image* coverageImage = coverageArg != nullptr ? coverageArg->image : nullptr;
  kimg_window* coverageWindow = coverageArg != nullptr ? &coverageArg->window : nullptr;
  const int32_t status = runCall(in, name, [&] {
    const kimg_image* s = source.get();
    const auto pick = [&](auto eight, auto sixteenBit) { return sixteen ? sixteenBit : eight; };
    if (form < 2) {
      return pick(kip_affineProjectClipped, kip_affineProjectClipped16)(
          s, destination.image, coverageImage, &params, cacheArg, coverageValue, sampleCountArg, willClipArg);
    }
    if (form < 4) {
      return pick(kip_affineProjectClippedWindow, kip_affineProjectClippedWindow16)(
          &sourceWindow, &sourceXform, &destination.window, coverageWindow, &params, cacheArg, outXformArg,
          coverageValue, sampleCountArg, willClipArg);
    }
    return pick(kip_affineProjectNorm, kip_affineProjectNorm16)(s, destination.image, &params, clipped, cacheArg,
                                                                sampleCountArg, validStartArg, validEndArg);
  });
  if (status < 0) {
    guard.expectUnchanged(name);
    coverageGuard.expectUnchanged(name);
  }
  if (status >= 0 && !norm) {
    KIPFUZZ_CHECK(clipStatus >= 0 && willClip == verdict, name, "willClip is not the clip test's verdict");
    if (verdict == 0) coverageGuard.expectUnchanged(name);
    KIPFUZZ_CHECK(verdict != 0 || sampleCount == static_cast<uint32_t>(params.yCount), name,
                  "an inside sampling's sampleCount");
  } else if (status >= 0) {
    KIPFUZZ_CHECK(!validStartArg || !validEndArg || (validStart <= validEnd && validEnd <= uint32_t(params.xCount)),
                  name, "range");
  }
  checkStatus("kip_affineSampleCache_destruct", kip_affineSampleCache_destruct(&cache));
  return 0;
}
