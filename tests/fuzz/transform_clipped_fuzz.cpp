// Fuzz target: the clipped transforms (kip_affineTransformClipped, 16) with a clip mask, the
// attention handler and samplings that leave the source. Refusals must leave destination and mask
// alone; a failure once sampling has begun may leave pels written in place, but records (binding,
// extent, client transform) as they were. On success *willClip is the clip test's verdict, an inside
// sampling leaves the mask alone, and for nearest and bilinear 8-bit sampling no destination pel
// exceeds its mask pel (a pel that saw no source pel is 0). KIP_ERR_TRANSFORM_NO_OVERLAP leaves an
// all-zero destination and the mask alone.
#include "fuzz_support.hpp"

#include <cstring>

using namespace kipfuzz;

namespace {

// The attention handler: answers the fuzzed status from the given check on.
int32_t attentionCalls = 0;
int32_t attentionFailAt = 0;  // 0: never
int32_t fuzzAttention(void*) {
  ++attentionCalls;
  return attentionFailAt != 0 && attentionCalls >= attentionFailAt ? KIP_ERR_JOB_FAILED : 0;
}

// A destination or mask: unbound, bound exactly (mostly at (0, 0), sometimes xCount x yCount), or
// sharing the source's storage.
std::unique_ptr<ExactImage> makeTarget(Input& in, int32_t pelSize, const affineSampleParams& params,
                                       const ExactImage& source, kimg_image* shared) {
  switch (in.byte() % 8) {
    case 0:
    case 1:
    case 2: return std::make_unique<ExactImage>();
    case 3: kimg_image_assign(shared, source.get()); return nullptr;
    case 4:
      if (params.xCount >= 1 && params.yCount >= 1 && params.xCount <= 300 && params.yCount <= 300) {
        return std::make_unique<ExactImage>(pelSize, params.xCount, params.yCount, params.xCount, in.u32());
      }
      [[fallthrough]];
    default: {
      auto image = makeImage(in, pelSize, 300);
      if (image->bound() && in.flag()) image->get()->xOrigin = image->get()->yOrigin = 0;
      return image;
    }
  }
}

struct Target {
  std::unique_ptr<ExactImage> owned;
  kimg_image shared{};
  kimg_image* image = nullptr;
  Target(Input& in, int32_t pelSize, const affineSampleParams& params, const ExactImage& source) {
    kimg_image_constructUnbound(&shared);
    owned = makeTarget(in, pelSize, params, source, &shared);
    image = owned ? owned->get() : &shared;
  }
  ~Target() { kimg_image_destruct(&shared); }
  bool inPlace(const affineSampleParams& p) const {
    return image->storage != nullptr && image->xOrigin == 0 && image->yOrigin == 0 && image->width == p.xCount &&
           image->height == p.yCount;
  }
};

bool allZero(const kimg_image* image, const affineSampleParams& params) {
  kimg_window window{};
  if (kimg_windowConst_init(&window, image) < 0) return false;
  for (int32_t y = 0; y < window.height; ++y) {
    for (int32_t x = 0; x < window.width; ++x) {
      const int64_t gx = int64_t{window.xOrigin} + x, gy = int64_t{window.yOrigin} + y;
      if (gx >= 0 && gy >= 0 && gx < params.xCount && gy < params.yCount && pelAt(window, x, y) != 0) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const LeakCheck leaks;
  {
    const Hooks hooks(in);
    const bool sixteen = in.flag();
    const int32_t pelSize = sixteen ? 2 : 1;
    const char* name = sixteen ? "kip_affineTransformClipped16" : "kip_affineTransformClipped";

    Sampling sampling = makeSampling(in, pelSize, 120);
    affineSampleParams& params = sampling.params;
    capWork(&params, pelSize);
    const ExactImage& source = *sampling.source;

    Target destination(in, pelSize, params, source);
    const uint8_t maskChoice = in.byte() % 8;
    Target mask(in, 1, params, source);
    kimg_image* maskArg = maskChoice == 7 ? nullptr : maskChoice == 6 ? destination.image : mask.image;

    affineSampleCache* cache = nullptr;
    checkStatus("kip_affineSampleCache_construct", kip_affineSampleCache_construct(&cache));
    affineSampleCache** cacheArg = in.flag() ? &cache : nullptr;
    uint32_t willClip = 7;
    uint32_t* willClipArg = in.oneIn(24) ? nullptr : &willClip;
    attentionCalls = 0;
    attentionFailAt = in.oneIn(8) ? in.range(1, 2) : 0;
    ksys_attention_setHandler(in.flag() ? &fuzzAttention : nullptr, nullptr);

    uint32_t expectClip = 7;
    const int32_t clipStatus = kip_affineSampleParams_getWillClip(&params, source.get(), &expectClip);
    const bool destinationInPlace = destination.inPlace(params);
    const bool maskInPlace = mask.inPlace(params);
    const Snapshot destinationBefore(destination.image), maskBefore(mask.image);

    traceImage("source", source.get());
    traceParams(params);
    traceImage("destination", destination.image);
    traceImage("mask", maskArg);
    trace("verdict %u (%s), attention fails at check %d", expectClip, kip_statusName(clipStatus), attentionFailAt);
    const int32_t status = runCall(in, name, [&] {
      return sixteen ? kip_affineTransformClipped16(source.get(), destination.image, maskArg, &params, cacheArg,
                                                    willClipArg)
                     : kip_affineTransformClipped(source.get(), destination.image, maskArg, &params, cacheArg,
                                                  willClipArg);
    });
    ksys_attention_setHandler(nullptr, nullptr);

    traceImage("destination after", destination.image);
    traceImage("mask after", mask.image);
    if (status == KIP_ERR_TRANSFORM_NO_OVERLAP) {
      KIPFUZZ_CHECK(willClip == 7, name, "wrote willClip on failure");
      KIPFUZZ_CHECK(allZero(destination.image, params), name, "no overlap, but the destination is not all 0");
      maskBefore.expectUnchanged(name);
    } else if (status < 0) {
      KIPFUZZ_CHECK(willClip == 7, name, "wrote willClip on failure");
      const bool begun = status == KIP_ERR_OUT_OF_MEMORY || status == KIP_ERR_JOB_FAILED;
      if (begun && destinationInPlace) {
        KIPFUZZ_CHECK(std::memcmp(destination.image, destinationBefore.image(), sizeof(kimg_image)) == 0, name,
                      "a failed call changed the destination's record");
      } else {
        destinationBefore.expectUnchanged(name);
      }
      if (begun && maskInPlace) {
        KIPFUZZ_CHECK(std::memcmp(mask.image, maskBefore.image(), sizeof(kimg_image)) == 0, name,
                      "a failed call changed the mask's record");
      } else {
        maskBefore.expectUnchanged(name);
      }
    } else {
      KIPFUZZ_CHECK(clipStatus >= 0 && willClip == expectClip, name, "willClip is not the clip test's verdict");
      KIPFUZZ_CHECK(destination.image->storage != nullptr && destination.image->pelSize == pelSize, name,
                    "destination not bound to the function's pels");
      kmath_xformLinear expected{};
      checkStatus("kip_affineSampleParams_getDestImageFromClientXform",
                  kip_affineSampleParams_getDestImageFromClientXform(&params, 0, &expected));
      KIPFUZZ_CHECK(std::memcmp(&expected, &destination.image->imageFromClient, sizeof expected) == 0, name,
                    "the destination's client transform is not the sampling's");
      if (willClip == 0 || maskArg != mask.image) {
        maskBefore.expectUnchanged(name);
      } else {
        KIPFUZZ_CHECK(mask.image->storage != nullptr && mask.image->pelSize == 1, name, "mask not 8-bit");
        KIPFUZZ_CHECK(std::memcmp(&expected, &mask.image->imageFromClient, sizeof expected) == 0, name,
                      "the mask's client transform is not the sampling's");
        kimg_window d{}, m{};
        const bool plain = !sixteen && params.sampleMode <= KIP_SAMPLE_BILINEAR &&
                           kimg_windowConst_init(&d, destination.image) >= 0 &&
                           kimg_windowConst_init(&m, mask.image) >= 0;
        for (int32_t y = 0; plain && y < params.yCount; ++y) {
          for (int32_t x = 0; x < params.xCount; ++x) {
            const int64_t dx = int64_t{x} - d.xOrigin, dy = int64_t{y} - d.yOrigin;
            const int64_t mx = int64_t{x} - m.xOrigin, my = int64_t{y} - m.yOrigin;
            if (dx < 0 || dy < 0 || dx >= d.width || dy >= d.height) continue;
            if (mx < 0 || my < 0 || mx >= m.width || my >= m.height) continue;
            if (pelAt(d, static_cast<int32_t>(dx), static_cast<int32_t>(dy)) >
                pelAt(m, static_cast<int32_t>(mx), static_cast<int32_t>(my))) {
              fail(name, "a destination pel exceeds its mask pel");
            }
          }
        }
      }
      // The same call without a cache, into new images: the same pels.
      if (destination.image->xOrigin == 0 && destination.image->yOrigin == 0 &&
          destination.image->width >= params.xCount && destination.image->height >= params.yCount) {
        ExactImage again;
        uint32_t clipsAgain = 7;
        const int32_t second = sixteen ? kip_affineTransformClipped16(source.get(), again.get(), nullptr, &params,
                                                                      nullptr, &clipsAgain)
                                       : kip_affineTransformClipped(source.get(), again.get(), nullptr, &params,
                                                                    nullptr, &clipsAgain);
        KIPFUZZ_CHECK(second >= 0 && clipsAgain == willClip, name, "a repeated call differs");
        KIPFUZZ_CHECK(samePels(again.get(), destination.image, params.xCount, params.yCount), name,
                      "pels differ from a run without the cache");
      }
    }
    checkStatus("kip_affineSampleCache_destruct", kip_affineSampleCache_destruct(&cache));
  }
  leaks.expectNoLeak("transform_clipped");
  return 0;
}
