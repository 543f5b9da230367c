// Fuzz target: the affine projections (kip_affineProject, 16, and their window forms). A refused
// call leaves the destination, *sampleCount and the returned transform alone. A successful one
// reports yCount samples. A window source is read only inside the
// window.
#include "fuzz_support.hpp"

#include <cstring>

using namespace kipfuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const Session session(in, "project");
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
  if (clipStatus >= 0 && clips == 0) capWork(&params, 4, true);

  VectorTarget target(in, source, params.xCount);
  // Unless the destination lies in the source's pels (to be refused), only the window is readable.
  if (windows && target.image->storage != source.get()->storage) sampling.source->confineTo(sourceWindow);
  affineSampleCache* cache = nullptr;
  affineSampleCache* nullHandle = nullptr;
  checkStatus("kip_affineSampleCache_construct", kip_affineSampleCache_construct(&cache));
  const uint8_t cacheChoice = in.byte() % 8;
  affineSampleCache** cacheArg = cacheChoice == 7 ? &nullHandle : cacheChoice < 4 ? nullptr : &cache;
  uint32_t sampleCount = kUnwritten;
  uint32_t* sampleCountArg = in.oneIn(8) ? nullptr : &sampleCount;
  kmath_xformLinear outXform{};
  std::memset(&outXform, 0xA5, sizeof outXform);
  kmath_xformLinear* outXformArg = in.oneIn(24) ? nullptr : &outXform;
  const bool nullSource = in.oneIn(32), nullDestination = in.oneIn(32), nullParams = in.oneIn(32);
  const kmath_xformLinear* sourceXformArg = in.oneIn(32) ? nullptr : &sourceXform;

  const bool wasBound = target.image->storage != nullptr;
  Guard guard;
  guard.image(target.image).window(&target.window).value(&sampleCount).value(&outXform);
  const int32_t status = runCall(
      in, name,
      [&] {
        const affineSampleParams* p = nullParams ? nullptr : &params;
        if (!windows) {
          const kimg_image* s = nullSource ? nullptr : source.get();
          kimg_image* d = nullDestination ? nullptr : target.image;
          return sixteen ? kip_affineProject16(s, d, p, cacheArg, sampleCountArg)
                         : kip_affineProject(s, d, p, cacheArg, sampleCountArg);
        }
        const kimg_window* s = nullSource ? nullptr : &sourceWindow;
        kimg_window* d = nullDestination ? nullptr : &target.window;
        return sixteen ? kip_affineProjectWindow16(s, sourceXformArg, d, p, cacheArg, outXformArg, sampleCountArg)
                       : kip_affineProjectWindow(s, sourceXformArg, d, p, cacheArg, outXformArg, sampleCountArg);
      },
      guard);
  if (status >= 0) {
    KIPFUZZ_CHECK(clipStatus >= 0 && clips == 0, name, "projected a sampling the clip test refuses");
    KIPFUZZ_CHECK(!sampleCountArg || sampleCount == static_cast<uint32_t>(params.yCount), name, "sampleCount");
    const kimg_image& d = *target.image;
    KIPFUZZ_CHECK(windows || wasBound || (d.pelSize == 4 && d.width == params.xCount && d.height == 1), name,
                  "a new destination is not an xCount x 1 vector");
  }
  checkStatus("kip_affineSampleCache_destruct", kip_affineSampleCache_destruct(&cache));
  return 0;
}
