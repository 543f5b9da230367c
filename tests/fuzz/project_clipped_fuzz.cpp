// Fuzz target: the clipped projections (kip_affineProjectClipped, 16, and their window forms) and
// the normalised ones (kip_affineProjectNorm, 16). Refusals must leave destination, coverage and
// every out-parameter alone. On success *willClip is the clip test's verdict; an inside sampling
// leaves the coverage alone and counts yCount samples; a clipped one gives the coverage the
// sampling's transform and reports its largest entry, and with nearest sampling each coverage entry
// is coverageValue times a sample count that bounds its sum. Normalised ranges lie within the
// entries, hold means no larger than a pel, and an empty range leaves *sampleCount unwritten.
#include "projection_support.hpp"

#include <algorithm>
#include <cstring>

using namespace kipfuzz;

namespace {

constexpr uint32_t kUnwritten = 0xDEADBEEFu;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const LeakCheck leaks;
  {
    const Hooks hooks(in);
    const uint8_t form = in.byte() % 6;  // clipped 8, 16, clipped window 8, 16, norm 8, 16
    const bool sixteen = (form & 1) != 0, windows = form == 2 || form == 3, norm = form >= 4;
    static constexpr const char* kNames[] = {"kip_affineProjectClipped",       "kip_affineProjectClipped16",
                                             "kip_affineProjectClippedWindow", "kip_affineProjectClippedWindow16",
                                             "kip_affineProjectNorm",          "kip_affineProjectNorm16"};
    const char* name = kNames[form];
    const uint32_t maxPel = sixteen ? 65535 : 255;

    Sampling sampling = makeSampling(in, sixteen ? 2 : 1, 160);
    affineSampleParams& params = sampling.params;
    const ExactImage& source = *sampling.source;
    const kimg_window sourceWindow = windows ? makeWindow(in, source) : source.window();
    const kmath_xformLinear sourceXform = windows && in.oneIn(8) ? in.xform() : source.get()->imageFromClient;
    capProjectionWork(&params);
    uint32_t verdict = 7;
    const int32_t clipStatus = kip_affineSampleParams_getWillClipWindow(&params, &sourceWindow, &sourceXform, &verdict);

    VectorTarget destination(in, source, params.xCount);
    VectorTarget coverage(in, source, params.xCount);
    // A window source must be read only inside the window: the rest of its image becomes unreadable
    // (unless a destination lies in the source's own pels, which the call must refuse).
    if (windows && destination.image()->storage != source.get()->storage &&
        coverage.image()->storage != source.get()->storage) {
      sampling.source->confineTo(sourceWindow);
    }
    const uint8_t coverageChoice = in.byte() % 16;
    kimg_image* coverageImage = coverageChoice == 15 ? destination.image() : coverage.image();
    kimg_window* coverageWindow = coverageChoice == 15 ? destination.window() : coverage.window();
    if (coverageChoice == 14) coverageImage = nullptr, coverageWindow = nullptr;
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
    const kmath_xformLinear unwrittenXform = outXform;
    kmath_xformLinear* outXformArg = in.oneIn(24) ? nullptr : &outXform;

    const Snapshot destinationImage(destination.image()), destinationWindow(destination.window());
    const Snapshot coverageImageBefore(coverage.image()), coverageWindowBefore(coverage.window());
    // The pels the call may write only in pel-grid row 0: destination and coverage, image or window.
    const auto around = [&](VectorTarget& target) {
      kimg_window w{};
      if (windows) return *target.window();
      kimg_windowConst_init(&w, target.image());
      return w;
    };
    const VectorPels destinationPels(around(destination)), coveragePels(around(coverage));

    traceImage("source", source.get());
    traceWindow("source window", &sourceWindow);
    traceParams(params);
    traceImage("destination", destination.image());
    traceImage("coverage", coverageImage);
    trace("verdict %u (%s), coverage value %u, clipped %u", verdict, kip_statusName(clipStatus), coverageValue, clipped);
    const int32_t status = runCall(in, name, [&] {
      switch (form) {
        case 0: return kip_affineProjectClipped(source.get(), destination.image(), coverageImage, &params, cacheArg,
                                                coverageValue, sampleCountArg, willClipArg);
        case 1: return kip_affineProjectClipped16(source.get(), destination.image(), coverageImage, &params, cacheArg,
                                                  coverageValue, sampleCountArg, willClipArg);
        case 2: return kip_affineProjectClippedWindow(&sourceWindow, &sourceXform, destination.window(),
                                                      coverageWindow, &params, cacheArg, outXformArg, coverageValue,
                                                      sampleCountArg, willClipArg);
        case 3: return kip_affineProjectClippedWindow16(&sourceWindow, &sourceXform, destination.window(),
                                                        coverageWindow, &params, cacheArg, outXformArg, coverageValue,
                                                        sampleCountArg, willClipArg);
        case 4: return kip_affineProjectNorm(source.get(), destination.image(), &params, clipped, cacheArg,
                                             sampleCountArg, validStartArg, validEndArg);
        default: return kip_affineProjectNorm16(source.get(), destination.image(), &params, clipped, cacheArg,
                                                sampleCountArg, validStartArg, validEndArg);
      }
    });

    traceImage("destination after", destination.image());
    trace("sampleCount %u, willClip %u, range [%u, %u)", sampleCount, willClip, validStart, validEnd);
    if (status < 0) {
      destinationImage.expectUnchanged(name);
      destinationWindow.expectUnchanged(name);
      coverageImageBefore.expectUnchanged(name);
      coverageWindowBefore.expectUnchanged(name);
      KIPFUZZ_CHECK(sampleCount == kUnwritten && willClip == kUnwritten && validStart == kUnwritten &&
                        validEnd == kUnwritten,
                    name, "a failure wrote an out-parameter");
      KIPFUZZ_CHECK(std::memcmp(&outXform, &unwrittenXform, sizeof outXform) == 0, name, "a failure wrote the transform");
    } else {
      destinationPels.expectOnlyEntriesWritten(name, params.xCount);
      coveragePels.expectOnlyEntriesWritten(name, params.xCount);
    }
    if (status >= 0 && !norm) {
      KIPFUZZ_CHECK(clipStatus >= 0 && willClip == verdict, name, "willClip is not the clip test's verdict");
      const auto entry = [&](VectorTarget& target, int32_t i, uint32_t* value) {
        return windows ? target.windowEntry(i, value) : target.imageEntry(i, value);
      };
      if (verdict == 0) {
        coverageImageBefore.expectUnchanged(name);
        coverageWindowBefore.expectUnchanged(name);
        KIPFUZZ_CHECK(sampleCount == static_cast<uint32_t>(params.yCount), name, "an inside sampling's sampleCount");
      } else {
        kmath_xformLinear expected{};
        checkStatus("kip_affineSampleParams_getDestImageFromClientXform",
                    kip_affineSampleParams_getDestImageFromClientXform(&params, 1, &expected));
        const kmath_xformLinear& got = windows ? outXform : coverage.image()->imageFromClient;
        KIPFUZZ_CHECK(std::memcmp(&got, &expected, sizeof expected) == 0, name, "not the projection's transform");
        uint32_t largest = 0;
        bool all = true;
        for (int32_t i = 0; i < params.xCount; ++i) {
          uint32_t cover = 0, sum = 0;
          if (!entry(coverage, i, &cover)) {
            all = false;
            continue;
          }
          largest = std::max(largest, cover);
          if (params.sampleMode != KIP_SAMPLE_NEAREST || coverageValue == 0 || params.yCount > 65536) continue;
          const uint32_t samples = cover / coverageValue;
          KIPFUZZ_CHECK(cover % coverageValue == 0 && samples <= static_cast<uint32_t>(params.yCount), name,
                        "a nearest coverage entry is not coverageValue times a sample count");
          if (entry(destination, i, &sum)) {
            KIPFUZZ_CHECK(uint64_t{sum} <= uint64_t{samples} * maxPel, name, "an entry exceeds its inside samples");
          }
        }
        if (all) KIPFUZZ_CHECK(sampleCount == largest, name, "sampleCount is not the largest coverage entry");
      }
    } else if (status >= 0) {
      if (validStartArg != nullptr && validEndArg != nullptr) {
        KIPFUZZ_CHECK(validStart <= validEnd && validEnd <= static_cast<uint32_t>(params.xCount), name, "range");
      }
      const bool divided = clipped != 0 && verdict == 1;
      if (!divided) {
        KIPFUZZ_CHECK(sampleCountArg == nullptr || sampleCount == static_cast<uint32_t>(params.yCount), name,
                      "sampleCount of raw sums");
      } else if (validStartArg != nullptr && validEndArg != nullptr) {
        KIPFUZZ_CHECK(validStart == validEnd ? sampleCount == kUnwritten : sampleCountArg == nullptr || sampleCount == 1,
                      name, "sampleCount of means");
        for (uint32_t i = validStart; i < validEnd && params.sampleMode <= KIP_SAMPLE_LINEAR2; ++i) {
          uint32_t mean = 0;
          if (destination.imageEntry(static_cast<int32_t>(i), &mean)) {
            KIPFUZZ_CHECK(mean <= maxPel, name, "a mean larger than any pel");
          }
        }
      }
    }
    checkStatus("kip_affineSampleCache_destruct", kip_affineSampleCache_destruct(&cache));
  }
  leaks.expectNoLeak("project_clipped");
  return 0;
}
