// Fuzz target: the affine transforms (kip_affineTransform, kip_affineTransform16, kip_affine8).
// Sources are exact images (a read past a row or the block is an AddressSanitizer report), so a
// call that the clip test accepts is proven to read only inside the source. Destinations are
// unbound, bound at any origin and size, of the wrong pel size, or the source's own memory. A
// refused call must leave the destination's record and pels alone; a successful one must give the
// destination the documented extent and client transform, pels that lie within the range of the
// source pels around each sample (for the modes without overshoot), nothing written outside
// xCount x yCount, and the same pels as a second run without a cache.
#include "fuzz_support.hpp"

#include <cstring>

using namespace kipfuzz;

namespace {

enum class Form { Transform8, Transform16, Affine8 };

int32_t callTransform(Form form, const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                      affineSampleCache** cache) {
  switch (form) {
    case Form::Transform8: return kip_affineTransform(source, destination, params, cache);
    case Form::Transform16: return kip_affineTransform16(source, destination, params, cache);
    default: return kip_affine8(params, source, destination);
  }
}

// Destination pels must lie within the source pels around their samples; checked on a spread of
// at most 512 pels.
void checkValues(const char* name, const kimg_image& source, const kimg_image& destination,
                 const affineSampleParams& params, bool aligned) {
  if (!aligned && params.sampleMode > KIP_SAMPLE_LINEAR2) return;  // cubic overshoots; other modes refuse
  kimg_window from{}, to{};
  if (kimg_windowConst_init(&from, &source) < 0 || kimg_windowConst_init(&to, &destination) < 0) return;
  const int64_t total = int64_t{params.xCount} * params.yCount;
  const int64_t step = std::max<int64_t>(1, total / 512);
  for (int64_t k = 0; k < total; k += step) {
    const int32_t j = static_cast<int32_t>(k % params.xCount), i = static_cast<int32_t>(k / params.xCount);
    const int64_t x = int64_t{j} - destination.xOrigin, y = int64_t{i} - destination.yOrigin;
    if (x < 0 || y < 0 || x >= to.width || y >= to.height) continue;
    uint32_t low = 0, high = 0;
    if (!sourceRange(from, source.imageFromClient, params, j, i, &low, &high)) continue;
    const uint32_t value = pelAt(to, static_cast<int32_t>(x), static_cast<int32_t>(y));
    const uint32_t slack = source.pelSize == 1 ? 3 : 3 * 257;
    if (value + slack < low || value > high + slack) fail(name, "a pel outside the range of the source around it");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const LeakCheck leaks;
  {
    const Hooks hooks(in);
    const Form form = static_cast<Form>(in.byte() % 3);
    const int32_t pelSize = form == Form::Transform16 ? 2 : 1;
    static constexpr const char* kNames[] = {"kip_affineTransform", "kip_affineTransform16", "kip_affine8"};
    const char* name = kNames[static_cast<int>(form)];

    Sampling sampling = makeSampling(in, pelSize, 200);
    affineSampleParams& params = sampling.params;
    capWork(&params, pelSize);
    const ExactImage& source = *sampling.source;

    // The destination: unbound, bound (mostly at (0, 0) and big enough to be written in place), or
    // the source's own storage.
    std::unique_ptr<ExactImage> owned;
    kimg_image shared{};
    kimg_image_constructUnbound(&shared);
    kimg_image* destination = nullptr;
    switch (in.byte() % 6) {
      case 0:
      case 1: owned = std::make_unique<ExactImage>(); break;
      case 2:
        kimg_image_assign(&shared, source.get());
        break;
      default: {
        owned = makeImage(in, pelSize, 300);
        if (owned->bound() && in.flag()) owned->get()->xOrigin = owned->get()->yOrigin = 0;
        break;
      }
    }
    destination = owned ? owned->get() : &shared;

    affineSampleCache* cache = nullptr;
    affineSampleCache* nullHandle = nullptr;
    checkStatus("kip_affineSampleCache_construct", kip_affineSampleCache_construct(&cache));
    const uint8_t cacheChoice = in.byte() % 8;
    affineSampleCache** cacheArg = cacheChoice == 7 ? &nullHandle : cacheChoice < 4 ? nullptr : &cache;
    if (form == Form::Affine8) cacheArg = nullptr;
    const bool nullSource = in.oneIn(32), nullParams = in.oneIn(32), nullDestination = in.oneIn(32);

    const bool wasBound = destination->storage != nullptr;
    const bool inPlace = wasBound && destination->xOrigin == 0 && destination->yOrigin == 0 &&
                         destination->width >= params.xCount && destination->height >= params.yCount;
    const Snapshot before(destination);
    kimg_window destinationBefore{};
    std::vector<uint32_t> pelsBefore;
    if (wasBound && kimg_window_init(&destinationBefore, destination) >= 0) {
      for (int32_t y = 0; y < destinationBefore.height; ++y) {
        for (int32_t x = 0; x < destinationBefore.width; ++x) pelsBefore.push_back(pelAt(destinationBefore, x, y));
      }
    }

    traceImage("source", source.get());
    traceParams(params);
    traceImage("destination", destination);
    const int32_t status = runCall(in, name, [&] {
      return callTransform(form, nullSource ? nullptr : source.get(), nullDestination ? nullptr : destination,
                           nullParams ? nullptr : &params, cacheArg);
    });

    traceImage("destination after", destination);
    if (status < 0) {
      // Sampling may have begun in place before a failure of memory; anything else is a refusal.
      if (status == KIP_ERR_OUT_OF_MEMORY && inPlace) {
        KIPFUZZ_CHECK(std::memcmp(destination, before.image(), sizeof(kimg_image)) == 0, name,
                      "a failed call changed the destination's record");
      } else {
        before.expectUnchanged(name);
      }
    } else {
      KIPFUZZ_CHECK(params.xCount >= 1 && params.yCount >= 1, name, "accepted counts below 1");
      KIPFUZZ_CHECK(destination->storage != nullptr && destination->pelSize == pelSize, name,
                    "destination not bound to pels of the function's size");
      if (!wasBound) {
        KIPFUZZ_CHECK(destination->width == params.xCount && destination->height == params.yCount &&
                          destination->xOrigin == 0 && destination->yOrigin == 0,
                      name, "a new destination is not xCount x yCount at (0, 0)");
      }
      kmath_xformLinear expected{};
      checkStatus("kip_affineSampleParams_getDestImageFromClientXform",
                  kip_affineSampleParams_getDestImageFromClientXform(&params, 0, &expected));
      KIPFUZZ_CHECK(std::memcmp(&expected, &destination->imageFromClient, sizeof expected) == 0, name,
                    "the destination's client transform is not the sampling's");
      uint32_t code = KIP_ALIGNMENT_GENERAL;
      kip_affine_imageAlignment_compute(&params, &source.get()->imageFromClient, &code, nullptr);
      checkValues(name, *source.get(), *destination, params, code != KIP_ALIGNMENT_GENERAL);

      // Pels outside the grid's (0, 0) to (xCount, yCount) of a bound destination stay as they were.
      kimg_window now{};
      if (wasBound && kimg_window_init(&now, destination) >= 0) {
        size_t k = 0;
        for (int32_t y = 0; y < now.height; ++y) {
          for (int32_t x = 0; x < now.width; ++x, ++k) {
            const int64_t gx = int64_t{now.xOrigin} + x, gy = int64_t{now.yOrigin} + y;
            const bool written = gx >= 0 && gy >= 0 && gx < params.xCount && gy < params.yCount;
            if (!written && pelAt(now, x, y) != pelsBefore[k]) fail(name, "wrote outside xCount x yCount");
          }
        }
      }

      // The same sampling again, without a cache and into a new image: the same pels.
      ExactImage again;
      const int32_t second = callTransform(form, source.get(), again.get(), &params, nullptr);
      KIPFUZZ_CHECK(second >= 0, name, "a repeated call failed");
      if (!wasBound || inPlace) {
        KIPFUZZ_CHECK(samePels(again.get(), destination, params.xCount, params.yCount), name,
                      "pels differ from a run without the cache");
      }
    }
    checkStatus("kip_affineSampleCache_destruct", kip_affineSampleCache_destruct(&cache));
    KIPFUZZ_CHECK(cache == nullptr, "kip_affineSampleCache_destruct", "handle not cleared");
    kimg_image_destruct(&shared);
  }
  leaks.expectNoLeak("transform");
  return 0;
}
