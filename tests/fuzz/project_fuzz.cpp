// Fuzz target: the affine projections (kip_affineProject, 16, and their window forms). A refused
// call must leave the destination's record and pels, *sampleCount and the returned transform
// alone. A successful one must report yCount samples and the sampling's projection transform, put
// entry i at pel-grid (i, 0) and touch no other pel, give each entry a value within the sums of the
// source pels around its samples, and repeat itself without a cache.
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
    const uint8_t form = in.byte() % 4;  // image 8, image 16, window 8, window 16
    const bool sixteen = (form & 1) != 0, windows = form >= 2;
    static constexpr const char* kNames[] = {"kip_affineProject", "kip_affineProject16", "kip_affineProjectWindow",
                                             "kip_affineProjectWindow16"};
    const char* name = kNames[form];

    Sampling sampling = makeSampling(in, sixteen ? 2 : 1, 200);
    affineSampleParams& params = sampling.params;
    const ExactImage& source = *sampling.source;
    const kimg_window sourceWindow = windows ? makeWindow(in, source) : source.window();
    const kmath_xformLinear sourceXform = windows && in.oneIn(8) ? in.xform() : source.get()->imageFromClient;
    // Samplings that the clip test refuses keep their counts, huge ones included: they end early.
    uint32_t clips = 1;
    const int32_t clipStatus = kip_affineSampleParams_getWillClipWindow(&params, &sourceWindow, &sourceXform, &clips);
    if (clipStatus >= 0 && clips == 0) capProjectionWork(&params);

    VectorTarget target(in, source, params.xCount);
    // A window source must be read only inside the window: the rest of its image becomes unreadable
    // (unless a destination lies in the source's own pels, which the call must refuse).
    if (windows && target.image()->storage != source.get()->storage) sampling.source->confineTo(sourceWindow);
    affineSampleCache* cache = nullptr;
    affineSampleCache* nullHandle = nullptr;
    checkStatus("kip_affineSampleCache_construct", kip_affineSampleCache_construct(&cache));
    const uint8_t cacheChoice = in.byte() % 8;
    affineSampleCache** cacheArg = cacheChoice == 7 ? &nullHandle : cacheChoice < 4 ? nullptr : &cache;
    uint32_t sampleCount = kUnwritten;
    uint32_t* sampleCountArg = in.oneIn(8) ? nullptr : &sampleCount;
    kmath_xformLinear outXform{};
    std::memset(&outXform, 0xA5, sizeof outXform);
    const kmath_xformLinear unwrittenXform = outXform;
    kmath_xformLinear* outXformArg = in.oneIn(24) ? nullptr : &outXform;
    const bool nullSource = in.oneIn(32), nullDestination = in.oneIn(32), nullParams = in.oneIn(32);
    const kmath_xformLinear* sourceXformArg = in.oneIn(32) ? nullptr : &sourceXform;

    const bool wasBound = target.image()->storage != nullptr;
    const Snapshot imageBefore(target.image()), windowBefore(target.window());
    kimg_window beforeWindow{};
    if (windows) {
      beforeWindow = *target.window();
    } else if (wasBound) {
      kimg_windowConst_init(&beforeWindow, target.image());
    }
    const VectorPels pelsBefore(beforeWindow);

    traceImage("source", source.get());
    traceWindow("source window", &sourceWindow);
    traceParams(params);
    traceImage("destination", target.image());
    const int32_t status = runCall(in, name, [&] {
      const affineSampleParams* p = nullParams ? nullptr : &params;
      if (!windows) {
        const kimg_image* s = nullSource ? nullptr : source.get();
        kimg_image* d = nullDestination ? nullptr : target.image();
        return sixteen ? kip_affineProject16(s, d, p, cacheArg, sampleCountArg)
                       : kip_affineProject(s, d, p, cacheArg, sampleCountArg);
      }
      const kimg_window* s = nullSource ? nullptr : &sourceWindow;
      kimg_window* d = nullDestination ? nullptr : target.window();
      return sixteen ? kip_affineProjectWindow16(s, sourceXformArg, d, p, cacheArg, outXformArg, sampleCountArg)
                     : kip_affineProjectWindow(s, sourceXformArg, d, p, cacheArg, outXformArg, sampleCountArg);
    });

    traceImage("destination after", target.image());
    if (status < 0) {
      imageBefore.expectUnchanged(name);
      windowBefore.expectUnchanged(name);
      KIPFUZZ_CHECK(sampleCount == kUnwritten, name, "a failure wrote sampleCount");
      KIPFUZZ_CHECK(std::memcmp(&outXform, &unwrittenXform, sizeof outXform) == 0, name, "a failure wrote the transform");
    } else {
      KIPFUZZ_CHECK(clipStatus >= 0 && clips == 0, name, "projected a sampling the clip test refuses");
      if (sampleCountArg != nullptr) KIPFUZZ_CHECK(sampleCount == static_cast<uint32_t>(params.yCount), name, "sampleCount");
      kmath_xformLinear expected{};
      checkStatus("kip_affineSampleParams_getDestImageFromClientXform",
                  kip_affineSampleParams_getDestImageFromClientXform(&params, 1, &expected));
      const kmath_xformLinear& got = windows ? outXform : target.image()->imageFromClient;
      KIPFUZZ_CHECK(std::memcmp(&expected, &got, sizeof expected) == 0, name, "not the projection's client transform");
      if (!windows && !wasBound) {
        const kimg_image& d = *target.image();
        KIPFUZZ_CHECK(d.storage != nullptr && d.pelSize == 4 && d.width == params.xCount && d.height == 1 &&
                          d.xOrigin == 0 && d.yOrigin == 0,
                      name, "a new destination is not an xCount x 1 vector");
      }
      if (windows || wasBound) pelsBefore.expectOnlyEntriesWritten(name, params.xCount);
      // Entries against the source pels around their samples, for a spread of columns.
      uint32_t code = KIP_ALIGNMENT_GENERAL;
      kip_affine_imageAlignment_compute(&params, &sourceXform, &code, nullptr);
      if (code != KIP_ALIGNMENT_GENERAL || params.sampleMode <= KIP_SAMPLE_LINEAR2) {
        const int32_t step = std::max(1, params.xCount / 16);
        for (int32_t i = 0; i < params.xCount; i += step) {
          uint32_t value = 0;
          uint64_t low = 0, high = 0;
          if (!(windows ? target.windowEntry(i, &value) : target.imageEntry(i, &value))) continue;
          if (!entryRange(sourceWindow, sourceXform, params, i, &low, &high)) continue;
          const uint64_t slack = static_cast<uint64_t>(params.yCount) * (sixteen ? 3 * 257 : 3);
          if (value + slack < low || value > high + slack) fail(name, "an entry outside the sums of the source around it");
        }
      }
      // Again without a cache, into a new vector: the same entries.
      if (!windows) {
        ExactImage again;
        const int32_t second = sixteen ? kip_affineProject16(source.get(), again.get(), &params, nullptr, nullptr)
                                       : kip_affineProject(source.get(), again.get(), &params, nullptr, nullptr);
        KIPFUZZ_CHECK(second >= 0, name, "a repeated call failed");
        for (int32_t i = 0; i < params.xCount; ++i) {
          uint32_t a = 0, b = 0;
          const bool held = target.imageEntry(i, &a);
          if (held && (!imageEntryOf(again.get(), i, &b) || a != b)) fail(name, "entries differ from a run without the cache");
        }
      }
    }
    checkStatus("kip_affineSampleCache_destruct", kip_affineSampleCache_destruct(&cache));
  }
  leaks.expectNoLeak("project");
  return 0;
}
