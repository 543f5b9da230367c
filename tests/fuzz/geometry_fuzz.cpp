// Fuzz target: the sampling-geometry queries (sample parameters, destination transform, image
// alignment, clip tests, largest source rectangle). Failures leave every out-parameter alone (the
// clip tests may leave *willClip at 1); successes give known alignment codes, clip verdicts of 0
// or 1 and source rectangles of no negative size.
#include "fuzz_support.hpp"

#include <cmath>
#include <cstring>

using namespace kipfuzz;

namespace {

template <typename T>
T sentinel() {
  T value;
  std::memset(&value, 0xA5, sizeof value);
  return value;
}

bool moderate(double v) { return std::isfinite(v) && std::fabs(v) < 1e6; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const Session session(in, "geometry");
  const auto image = makeImage(in, 0, 300);
  const kimg_window window = makeWindow(in, *image);
  const int32_t w = image->bound() ? image->get()->width : 10;
  const int32_t h = image->bound() ? image->get()->height : 10;
  const kmath_shapeAffineRect rect = in.affineRect(w, h);
  const uint32_t mode = in.sampleMode();
  // Counts that match the sides make aligned maps; others are hostile.
  const int32_t xCount = in.flag() && moderate(rect.e0) && moderate(rect.e2)
                             ? static_cast<int32_t>(std::lround(std::hypot(rect.e0, rect.e2)))
                             : in.count();
  const int32_t yCount = in.flag() && moderate(rect.e1) && moderate(rect.e3)
                             ? static_cast<int32_t>(std::lround(std::hypot(rect.e1, rect.e3)))
                             : in.count();
  affineSampleParams params{rect, mode, xCount, yCount};
  affineSampleParams out = sentinel<affineSampleParams>();
  const bool nulls = in.oneIn(16);
  runCall(in, "kip_affineSampleParams_init",
          [&] { return kip_affineSampleParams_init(nulls ? nullptr : &out, mode, &rect, xCount, yCount); },
          Guard().value(&out));

  const kmath_xformLinear xform = in.xform();
  out = sentinel<affineSampleParams>();
  const bool useOwnRect = in.flag();  // the rectangle may lie inside the record being written
  if (useOwnRect) out.affineRect = rect;
  const kmath_xformLinear* xformArg = in.flag() ? &xform : nullptr;
  const kmath_shapeAffineRect* rectArg = in.oneIn(16) ? nullptr : useOwnRect ? &out.affineRect : &rect;
  runCall(in, "kip_affineSampleParams_initRectStandard",
          [&] { return kip_affineSampleParams_initRectStandard(&out, rectArg, xformArg); }, Guard().value(&out));

  const int32_t forProjection = in.flag() ? 0 : in.range(1, 3);
  kmath_xformLinear to = sentinel<kmath_xformLinear>();
  const bool nullParams = in.oneIn(16);
  runCall(
      in, "kip_affineSampleParams_getDestImageFromClientXform",
      [&] {
        return kip_affineSampleParams_getDestImageFromClientXform(nullParams ? nullptr : &params, forProjection, &to);
      },
      Guard().value(&to));

  kmath_xformLinear imageFromClient = xform;
  if (image->bound()) kimg_imageConst_getLinearImageFromClientXform(image->get(), &imageFromClient);
  {
    const char* name = "kip_affine_imageAlignment_compute";
    uint32_t code = kUnwritten;
    kstd_rect32 rectOut = sentinel<kstd_rect32>();
    const bool withRect = !in.oneIn(4);
    const Guard rectGuard = Guard().value(&rectOut);
    const int32_t status = runCall(
        in, name,
        [&] {
          return kip_affine_imageAlignment_compute(in.oneIn(24) ? nullptr : &params, &imageFromClient, &code,
                                                   withRect ? &rectOut : nullptr);
        },
        Guard().value(&code));
    bool known = false;
    for (uint32_t c : {0u, 1u, 90u, 91u, 180u, 181u, 270u, 271u, KIP_ALIGNMENT_GENERAL}) known = known || code == c;
    KIPFUZZ_CHECK(status < 0 || known, name, "not an alignment code");
    // No window for a general map, nor on failure.
    if (status < 0 || code == KIP_ALIGNMENT_GENERAL) rectGuard.expectUnchanged(name);
  }

  uint32_t clipWindow = 7, clipImage = 7;
  const int32_t clipWindowStatus = runCall(in, "kip_affineSampleParams_getWillClipWindow", [&] {
    return kip_affineSampleParams_getWillClipWindow(&params, &window, &imageFromClient, &clipWindow);
  });
  const int32_t clipImageStatus = runCall(in, "kip_affineSampleParams_getWillClip", [&] {
    return kip_affineSampleParams_getWillClip(&params, image->get(), &clipImage);
  });
  KIPFUZZ_CHECK((clipWindowStatus < 0 ? clipWindow == 7 || clipWindow == 1 : clipWindow <= 1) &&
                    (clipImageStatus < 0 ? clipImage == 7 || clipImage == 1 : clipImage <= 1),
                "kip_affineSampleParams_getWillClip", "willClip not 0 or 1 on success, 1 or unwritten on failure");

  kstd_rect32 rect32 = sentinel<kstd_rect32>(), fromImage = sentinel<kstd_rect32>();
  const int32_t status = runCall(
      in, "kip_affineSampleParams_getMaxSrcRectWindow",
      [&] {
        return kip_affineSampleParams_getMaxSrcRectWindow(&params, in.oneIn(24) ? nullptr : &window, &imageFromClient,
                                                          &rect32);
      },
      Guard().value(&rect32));
  KIPFUZZ_CHECK(status < 0 || (rect32.width >= 0 && rect32.height >= 0), "kip_affineSampleParams_getMaxSrcRectWindow",
                "negative size");
  runCall(in, "kip_affineSampleParams_getMaxSrcRect",
          [&] { return kip_affineSampleParams_getMaxSrcRect(&params, image->get(), &fromImage); },
          Guard().value(&fromImage));
  return 0;
}
