// Fuzz target: the affine transforms (kip_affineTransform, 16, kip_affine8). Sources are exact
// images, so a call the clip test accepts provably reads only inside them. A refused call leaves
// the destination alone; a successful one gives it the documented extent and client transform,
// pels within the source pels around their samples (modes without overshoot), nothing written
// outside xCount x yCount, and the pels of a second run without a cache.
#include "fuzz_support.hpp"

#include <algorithm>

using namespace kipfuzz;

namespace {

int32_t callTransform(int form, const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                      affineSampleCache** cache) {
  switch (form) {
    case 0: return kip_affineTransform(source, destination, params, cache);
    case 1: return kip_affineTransform16(source, destination, params, cache);
    default: return kip_affine8(params, source, destination);
  }
}

// Checked on a spread of at most 512 pels; cubic overshoots (other modes refuse) unless aligned.
void checkValues(const char* name, const kimg_image& source, const kimg_image& destination,
                 const affineSampleParams& params, bool aligned) {
  kimg_window from{}, to{};
  if (!aligned && params.sampleMode > KIP_SAMPLE_LINEAR2) return;
  if (kimg_windowConst_init(&from, &source) < 0 || kimg_windowConst_init(&to, &destination) < 0) return;
  const int64_t total = int64_t{params.xCount} * params.yCount;
  for (int64_t k = 0; k < total; k += std::max<int64_t>(1, total / 512)) {
    const int32_t j = static_cast<int32_t>(k % params.xCount), i = static_cast<int32_t>(k / params.xCount);
    const int64_t x = int64_t{j} - destination.xOrigin, y = int64_t{i} - destination.yOrigin;
    uint32_t low = 0, high = 0;
    if (x < 0 || y < 0 || x >= to.width || y >= to.height) continue;
    if (!sourceRange(from, source.imageFromClient, params, j, i, &low, &high)) continue;
    const uint32_t value = pelAt(to, static_cast<int32_t>(x), static_cast<int32_t>(y));
    const uint32_t slack = source.pelSize == 1 ? 3 : 3 * 257;
    if (value + slack < low || value > high + slack) fail(name, "a pel outside the range of the source around it");
  }
}

}  // namespace

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
  Guard guard;
  guard.image(destination, inPlace);
  kimg_window before{};
  if (wasBound) kimg_window_init(&before, destination);
  const PelCopy pelsBefore(before);
  const int32_t status = runCall(
      in, name,
      [&] {
        return callTransform(form, nullSource ? nullptr : source.get(), nullDestination ? nullptr : destination,
                             nullParams ? nullptr : &params, cacheArg);
      },
      guard);
  if (status >= 0) {
    KIPFUZZ_CHECK(params.xCount >= 1 && params.yCount >= 1, name, "accepted counts below 1");
    KIPFUZZ_CHECK(destination->storage != nullptr && destination->pelSize == pelSize, name, "destination pel size");
    KIPFUZZ_CHECK(wasBound || (destination->width == params.xCount && destination->height == params.yCount &&
                               destination->xOrigin == 0 && destination->yOrigin == 0),
                  name, "a new destination is not xCount x yCount at (0, 0)");
    expectDestXform(name, params, 0, destination->imageFromClient);
    uint32_t code = KIP_ALIGNMENT_GENERAL;
    kip_affine_imageAlignment_compute(&params, &source.get()->imageFromClient, &code, nullptr);
    checkValues(name, *source.get(), *destination, params, code != KIP_ALIGNMENT_GENERAL);
    pelsBefore.expectOnlyWritten(name, 0, 0, params.xCount, params.yCount);
    ExactImage again;
    KIPFUZZ_CHECK(callTransform(form, source.get(), again.get(), &params, nullptr) >= 0, name, "a repeat failed");
    KIPFUZZ_CHECK((wasBound && !inPlace) || samePels(again.get(), destination, params.xCount, params.yCount), name,
                  "pels differ from a run without the cache");
  }
  checkStatus("kip_affineSampleCache_destruct", kip_affineSampleCache_destruct(&cache));
  KIPFUZZ_CHECK(cache == nullptr, "kip_affineSampleCache_destruct", "handle not cleared");
  return 0;
}
