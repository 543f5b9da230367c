// Fuzz target: the affine transforms (kip_affineTransform, 16, kip_affine8). Sources are exact
// images, so a call the clip test accepts provably reads only inside them. A refused call leaves
// the destination alone; a successful one gives it the documented extent.
#include "fuzz_support.hpp"

using namespace kipfuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const Session session(in, "transform");
  const int form = in.byte() % 3;
  const int32_t pelSize = form == 1 ? 2 : 1;
  static constexpr const char* kNames[] = {"kip_affineTransform", "kip_affineTransform16", "kip_affine8"};
  const char* name = kNames[form];
  Sampling sampling = makeSampling(in, pelSize, 200);
  affineSampleParams& params = sampling.params;
  capWork(&params, pelSize, false);
  const ExactImage& source = *sampling.source;
  Target target(in, "uusiii", source, pelSize, 300);
  kimg_image* destination = target.image;

  affineSampleCache* cache = nullptr;
  affineSampleCache* nullHandle = nullptr;
  checkStatus("kip_affineSampleCache_construct", kip_affineSampleCache_construct(&cache));
  const uint8_t cacheChoice = in.byte() % 8;
  affineSampleCache** cacheArg = form == 2 || cacheChoice < 4 ? nullptr : cacheChoice == 7 ? &nullHandle : &cache;
  const bool nullSource = in.oneIn(32), nullParams = in.oneIn(32), nullDestination = in.oneIn(32);

  const bool wasBound = destination->storage != nullptr;
  // Sampling may begin in place and then fail for memory: pels written, record as it was.
  const bool inPlace = wasBound && destination->xOrigin == 0 && destination->yOrigin == 0 &&
                       destination->width >= params.xCount && destination->height >= params.yCount;
  const int32_t status = runCall(
      in, name,
      [&] {
        const kimg_image* s = nullSource ? nullptr : source.get();
        kimg_image* d = nullDestination ? nullptr : destination;
        const affineSampleParams* p = nullParams ? nullptr : &params;
        switch (form) {
          case 0: return kip_affineTransform(s, d, p, cacheArg);
          case 1: return kip_affineTransform16(s, d, p, cacheArg);
          default: return kip_affine8(p, s, d);
        }
      },
      Guard().image(destination, inPlace));
  if (status >= 0) {
    KIPFUZZ_CHECK(params.xCount >= 1 && params.yCount >= 1 && destination->pelSize == pelSize, name,
                  "accepted counts below 1 or gave the destination other pels");
    KIPFUZZ_CHECK(wasBound || (destination->width == params.xCount && destination->height == params.yCount &&
                               destination->xOrigin == 0 && destination->yOrigin == 0),
                  name, "a new destination is not xCount x yCount at (0, 0)");
  }
  checkStatus("kip_affineSampleCache_destruct", kip_affineSampleCache_destruct(&cache));
  KIPFUZZ_CHECK(cache == nullptr, "kip_affineSampleCache_destruct", "handle not cleared");
  return 0;
}
