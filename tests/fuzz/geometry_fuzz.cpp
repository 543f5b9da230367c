// Fuzz target: the sampling-geometry queries (sample parameters, destination transform, image
// alignment, clip tests, largest source rectangle). Failures leave every out-parameter alone (the
// clip tests may leave *willClip at 1); successes give stored values, finite transforms that map
// the rectangle onto the destination grid, alignment windows whose pels the aligned path's table
// names, clip verdicts and source rectangles that hold the corner samples, and image forms equal
// to their window forms.
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

struct Point {
  double x, y;
};

Point mapPoint(const kmath_xformLinear& m, double x, double y) {
  return {m.e0 * x + m.e1 * y + m.tx, m.e2 * x + m.e3 * y + m.ty};
}

// Source pel-grid position of the centre of destination pel (column j, row i).
Point sampleCentre(const affineSampleParams& p, const kmath_xformLinear& imageFromClient, double j, double i) {
  const kmath_shapeAffineRect& r = p.affineRect;
  const double u = (j + 0.5) / p.xCount, v = (i + 0.5) / p.yCount;
  return mapPoint(imageFromClient, r.tx + r.e0 * u + r.e1 * v, r.ty + r.e2 * u + r.e3 * v);
}

// All six numbers finite and (limit > 0) below limit in size.
bool moderate(double v, double limit = 1e6) { return std::isfinite(v) && (limit == 0 || std::fabs(v) < limit); }
template <typename T>
bool moderate(const T& m, double limit = 1e6) {
  return moderate(m.tx, limit) && moderate(m.ty, limit) && moderate(m.e0, limit) && moderate(m.e1, limit) &&
         moderate(m.e2, limit) && moderate(m.e3, limit);
}

// The four corner samples of the destination, in the source's pel grid.
template <typename F>
void forCorners(const affineSampleParams& params, const kmath_xformLinear& imageFromClient, F&& f) {
  for (const double j : {0.0, params.xCount - 1.0}) {
    for (const double i : {0.0, params.yCount - 1.0}) f(j, i, sampleCentre(params, imageFromClient, j, i));
  }
}

void checkAlignment(const affineSampleParams& params, const kmath_xformLinear& imageFromClient, uint32_t code,
                    const kstd_rect32& rect) {
  const char* name = "kip_affine_imageAlignment_compute";
  const bool swap = code == 1 || code == 90 || code == 181 || code == 270;
  KIPFUZZ_CHECK(rect.width == (swap ? params.yCount : params.xCount) &&
                    rect.height == (swap ? params.xCount : params.yCount),
                name, "alignment window size");
  forCorners(params, imageFromClient, [&](double j, double i, Point p) {
    int32_t column = 0, row = 0;  // counts are valid here: the alignment succeeded
    alignedSourcePel(code, rect.width, rect.height, static_cast<int32_t>(j), static_cast<int32_t>(i), &column, &row);
    const double dx = p.x - (static_cast<double>(rect.x) + column + 0.5);
    const double dy = p.y - (static_cast<double>(rect.y) + row + 0.5);
    const double tolerance = 1e-6 * (1 + std::fabs(p.x) + std::fabs(p.y));
    if (std::fabs(dx) > tolerance || std::fabs(dy) > tolerance) fail(name, "aligned sample not on the table's pel");
  });
}

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
  if (runCall(in, "kip_affineSampleParams_init",
              [&] { return kip_affineSampleParams_init(nulls ? nullptr : &out, mode, &rect, xCount, yCount); },
              Guard().value(&out)) >= 0) {
    KIPFUZZ_CHECK(std::memcmp(&out.affineRect, &rect, sizeof rect) == 0 && out.sampleMode == mode &&
                      out.xCount == xCount && out.yCount == yCount,
                  "kip_affineSampleParams_init", "stored values differ");
  }

  const kmath_xformLinear xform = in.xform();
  {
    const char* name = "kip_affineSampleParams_initRectStandard";
    out = sentinel<affineSampleParams>();
    const bool useOwnRect = in.flag();
    if (useOwnRect) out.affineRect = rect;
    const kmath_xformLinear* xformArg = in.flag() ? &xform : nullptr;
    const kmath_shapeAffineRect* rectArg = in.oneIn(16) ? nullptr : useOwnRect ? &out.affineRect : &rect;
    const kmath_xformLinear m = xformArg != nullptr ? xform : kmath_xformLinear{0, 0, 1, 0, 0, 1};
    const double xLength = std::hypot(m.e0 * rect.e0 + m.e1 * rect.e2, m.e2 * rect.e0 + m.e3 * rect.e2);
    const double yLength = std::hypot(m.e0 * rect.e1 + m.e1 * rect.e3, m.e2 * rect.e1 + m.e3 * rect.e3);
    if (runCall(in, name, [&] { return kip_affineSampleParams_initRectStandard(&out, rectArg, xformArg); },
                Guard().value(&out)) >= 0) {
      KIPFUZZ_CHECK(std::memcmp(&out.affineRect, &rect, sizeof rect) == 0 && out.sampleMode == KIP_SAMPLE_BILINEAR &&
                        (!moderate(xLength) || !moderate(yLength) ||
                         (std::fabs(out.xCount - xLength) <= 0.5 + 1e-6 * (1 + xLength) &&
                          std::fabs(out.yCount - yLength) <= 0.5 + 1e-6 * (1 + yLength))),
                    name, "not the rectangle, bilinear sampling and the rounded side lengths");
    }
  }

  {
    const char* name = "kip_affineSampleParams_getDestImageFromClientXform";
    const int32_t forProjection = in.flag() ? 0 : in.range(1, 3);
    kmath_xformLinear to = sentinel<kmath_xformLinear>();
    const bool nullParams = in.oneIn(16);
    const int32_t status = runCall(
        in, name,
        [&] {
          return kip_affineSampleParams_getDestImageFromClientXform(nullParams ? nullptr : &params, forProjection, &to);
        },
        Guard().value(&to));
    KIPFUZZ_CHECK(status < 0 || moderate(to, 0), name, "a transform that is not finite");
    // The rectangle's far x corner lands on (xCount, 0), its far y corner on (0, yCount or 1).
    const kmath_shapeAffineRect& r = params.affineRect;
    const double norm = std::fabs(r.e0) + std::fabs(r.e1) + std::fabs(r.e2) + std::fabs(r.e3);
    if (status >= 0 && moderate(r) && moderate(to) && std::fabs(r.e0 * r.e3 - r.e1 * r.e2) > 1e-6 * norm * norm) {
      const Point o = mapPoint(to, r.tx, r.ty);
      const Point px = mapPoint(to, r.tx + r.e0, r.ty + r.e2), py = mapPoint(to, r.tx + r.e1, r.ty + r.e3);
      const double yEnd = forProjection != 0 ? 1.0 : params.yCount;
      const double miss = std::fabs(o.x) + std::fabs(o.y) + std::fabs(px.x - params.xCount) + std::fabs(px.y) +
                          std::fabs(py.x) + std::fabs(py.y - yEnd);
      KIPFUZZ_CHECK(miss <= 1e-6 * (1.0 + params.xCount + std::fabs(yEnd)), name, "does not map onto the grid");
    }
  }

  kmath_xformLinear imageFromClient = xform;
  if (image->bound()) kimg_imageConst_getLinearImageFromClientXform(image->get(), &imageFromClient);
  {
    const char* name = "kip_affine_imageAlignment_compute";
    uint32_t code = kUnwritten;
    kstd_rect32 rectOut = sentinel<kstd_rect32>();
    const bool withRect = !in.oneIn(4);
    Guard rectGuard;
    rectGuard.value(&rectOut);
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
    if (status >= 0 && code != KIP_ALIGNMENT_GENERAL && withRect) {
      checkAlignment(params, imageFromClient, code, rectOut);
    }
  }

  // Clip tests, window and image forms; the image form must give the window form's answer.
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
  kimg_window whole{};
  const bool wholeWindow = image->bound() && kimg_windowConst_init(&whole, image->get()) >= 0;
  if (wholeWindow && !lastCallHadFault()) {
    uint32_t again = 7;
    const int32_t status = kip_affineSampleParams_getWillClipWindow(&params, &whole, &imageFromClient, &again);
    KIPFUZZ_CHECK(status == clipImageStatus && (status < 0 || again == clipImage),
                  "kip_affineSampleParams_getWillClip", "image and window forms disagree");
  }
  const bool judged = moderate(params.affineRect) && moderate(imageFromClient);
  if (clipWindowStatus >= 0 && clipWindow == 0 && judged) {
    // Every corner sample lies in the window, give or take the 16.16 truncation.
    forCorners(params, imageFromClient, [&](double, double, Point p) {
      const double slack = 2.0 / 65536 + 1e-9 * (std::fabs(p.x) + std::fabs(p.y));
      if (p.x < window.xOrigin - slack || p.y < window.yOrigin - slack ||
          p.x > window.xOrigin + window.width + slack || p.y > window.yOrigin + window.height + slack) {
        fail("kip_affineSampleParams_getWillClipWindow", "passed a sample outside the window");
      }
    });
  }

  const char* name = "kip_affineSampleParams_getMaxSrcRectWindow";
  kstd_rect32 rect32 = sentinel<kstd_rect32>(), fromImage = sentinel<kstd_rect32>();
  const int32_t status = runCall(
      in, name,
      [&] {
        return kip_affineSampleParams_getMaxSrcRectWindow(&params, in.oneIn(24) ? nullptr : &window, &imageFromClient,
                                                          &rect32);
      },
      Guard().value(&rect32));
  KIPFUZZ_CHECK(status < 0 || (rect32.width >= 0 && rect32.height >= 0), name, "negative size");
  if (status >= 0 && judged) {
    forCorners(params, imageFromClient, [&](double, double, Point p) {
      if (p.x < rect32.x + 5.0 || p.y < rect32.y + 5.0 || p.x > static_cast<double>(rect32.x) + rect32.width - 5.0 ||
          p.y > static_cast<double>(rect32.y) + rect32.height - 5.0) {
        fail(name, "a corner sample lies within 5 pels of the rectangle's edge");
      }
    });
  }
  const int32_t imageStatus = runCall(
      in, "kip_affineSampleParams_getMaxSrcRect",
      [&] { return kip_affineSampleParams_getMaxSrcRect(&params, image->get(), &fromImage); },
      Guard().value(&fromImage));
  if (wholeWindow && !lastCallHadFault()) {
    kstd_rect32 again = sentinel<kstd_rect32>();
    const int32_t s = kip_affineSampleParams_getMaxSrcRectWindow(&params, &whole, &imageFromClient, &again);
    KIPFUZZ_CHECK(s == imageStatus && std::memcmp(&again, &fromImage, sizeof again) == 0,
                  "kip_affineSampleParams_getMaxSrcRect", "image and window forms disagree");
  }
  return 0;
}
