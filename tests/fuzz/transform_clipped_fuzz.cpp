// Fuzz target: the clipped transforms (kip_affineTransformClipped, 16) with a clip mask, the
// attention handler and samplings that leave the source. Refusals leave destination, mask and
// *willClip alone (a failure once sampling has begun may leave pels written in place, never
// records; KIP_ERR_TRANSFORM_NO_OVERLAP clears the destination). On success *willClip is the clip
// test's verdict and an inside sampling leaves the mask alone.
#include "fuzz_support.hpp"

using namespace kipfuzz;

namespace {

// The attention handler answers a failure from the given check on (0: never).
int32_t attentionCalls = 0, attentionFailAt = 0;
int32_t fuzzAttention(void*) {
  return attentionFailAt != 0 && ++attentionCalls >= attentionFailAt ? KIP_ERR_JOB_FAILED : 0;
}

bool inPlace(const kimg_image* image, const affineSampleParams& p) {
  return image->storage != nullptr && image->xOrigin == 0 && image->yOrigin == 0 && image->width == p.xCount &&
         image->height == p.yCount;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const Session session(in, "transform_clipped");
  const bool sixteen = in.flag();
  const int32_t pelSize = sixteen ? 2 : 1;
  const char* name = sixteen ? "kip_affineTransformClipped16" : "kip_affineTransformClipped";
  Sampling sampling = makeSampling(in, pelSize, 120);
  affineSampleParams& params = sampling.params;
  capWork(&params, pelSize, false);
  const ExactImage& source = *sampling.source;
  const bool fits = params.xCount >= 1 && params.yCount >= 1 && params.xCount <= 300 && params.yCount <= 300;
  Target destination(in, "uuuseiii", source, pelSize, 300, fits ? params.xCount : 0, params.yCount);
  const uint8_t maskChoice = in.byte() % 8;
  Target mask(in, "uuuseiii", source, 1, 300, fits ? params.xCount : 0, params.yCount);
  kimg_image* maskArg = maskChoice == 7 ? nullptr : maskChoice == 6 ? destination.image : mask.image;

  affineSampleCache* cache = nullptr;
  checkStatus("kip_affineSampleCache_construct", kip_affineSampleCache_construct(&cache));
  affineSampleCache** cacheArg = in.flag() ? &cache : nullptr;
  uint32_t willClip = kUnwritten;
  uint32_t* willClipArg = in.oneIn(24) ? nullptr : &willClip;
  attentionCalls = 0;
  attentionFailAt = in.oneIn(8) ? in.range(1, 2) : 0;
  ksys_attention_setHandler(in.flag() ? &fuzzAttention : nullptr, nullptr);

  uint32_t verdict = kUnwritten;
  const int32_t clipStatus = kip_affineSampleParams_getWillClip(&params, source.get(), &verdict);
  Guard maskGuard, destinationGuard;
  maskGuard.image(mask.image, inPlace(mask.image, params));
  destinationGuard.image(destination.image, inPlace(destination.image, params));
  const int32_t status = runCall(in, name, [&] {
    const auto call = sixteen ? kip_affineTransformClipped16 : kip_affineTransformClipped;
    return call(source.get(), destination.image, maskArg, &params, cacheArg, willClipArg);
  });
  ksys_attention_setHandler(nullptr, nullptr);

  if (status < 0) {
    KIPFUZZ_CHECK(willClip == kUnwritten, name, "wrote willClip on failure");
    maskGuard.check(name, status);
    if (status != KIP_ERR_TRANSFORM_NO_OVERLAP) destinationGuard.check(name, status);
  } else {
    KIPFUZZ_CHECK(clipStatus >= 0 && willClip == verdict, name, "willClip is not the clip test's verdict");
    KIPFUZZ_CHECK(destination.image->storage != nullptr && destination.image->pelSize == pelSize, name,
                  "destination not bound to the function's pels");
    if (willClip == 0 || maskArg != mask.image) maskGuard.expectUnchanged(name);
    KIPFUZZ_CHECK(willClip == 0 || maskArg != mask.image || mask.image->pelSize == 1, name, "mask not 8-bit");
  }
  checkStatus("kip_affineSampleCache_destruct", kip_affineSampleCache_destruct(&cache));
  return 0;
}
