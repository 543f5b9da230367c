// kip for C++: owning images and caches, sampling geometry, and functions that return their results
// and throw kip::Error, all inline over the C ABI of kip.h (nothing here is exported by libkip).
//
// Coordinates are those of kip.h: pel (x, y) covers [x, x + 1) x [y, y + 1) of the source's pel
// grid and its value stands at its centre (x + 0.5, y + 0.5); destination pel (i, j) is sampled at
// the rectangle's point ((i + 0.5) / xCount, (j + 0.5) / yCount). Works with C++17 and later.
#ifndef KIP_KIP_HPP
#define KIP_KIP_HPP

#include <kip/kip.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace kip {

// A failed kip call: its status, the status's name ("KIP_ERR_TRANSFORM_CLIPS") and meaning.
class Error : public std::runtime_error {
 public:
  Error(int32_t status, const std::string& context)
      : std::runtime_error(context + ": " + kip_statusName(status) + " (" + kip_statusMessage(status) + ")"),
        status_(status) {}
  int32_t status() const noexcept { return status_; }
  const char* name() const noexcept { return kip_statusName(status_); }
  const char* meaning() const noexcept { return kip_statusMessage(status_); }

 private:
  int32_t status_;
};

// Throws for a failure status; returns the status otherwise.
inline int32_t check(int32_t status, const char* context) {
  if (status < 0) throw Error(status, context);
  return status;
}

enum class Mode : uint32_t {
  nearest = KIP_SAMPLE_NEAREST,
  bilinear = KIP_SAMPLE_BILINEAR,
  linear2 = KIP_SAMPLE_LINEAR2,
  cubic2 = KIP_SAMPLE_CUBIC2,
};

struct Point {
  double x = 0, y = 0;
};

struct Size {
  int32_t width = 0, height = 0;
};

// An image record with its share of the pels. Owning images are zero-filled at construction;
// wrapped ones read and write the caller's memory, which must outlive them. Move-only: a moved-from
// image is unbound.
class Image {
 public:
  Image() noexcept { kimg_image_constructUnbound(&image_); }
  // pelSize 1 (8-bit), 2 (16-bit) or 4 (32-bit sums).
  Image(int32_t pelSize, int32_t width, int32_t height) {
    kimg_image_constructUnbound(&image_);
    check(kimg_image_assignNew(&image_, pelSize, width, height), "kip::Image");
  }
  // The caller's pels, row after row, `stride` pels apart (stride >= width), without copying. A
  // const pointer makes an image that is meant as a source only: kip never writes a source.
  template <typename Pel>
  static Image wrap(Pel* pels, int32_t width, int32_t height, int32_t stride) {
    using Plain = std::remove_const_t<Pel>;
    static_assert(std::is_same_v<Plain, uint8_t> || std::is_same_v<Plain, uint16_t> || std::is_same_v<Plain, uint32_t>,
                  "kip images hold uint8_t, uint16_t or uint32_t pels");
    Image image;
    check(kimg_image_bindExternal(&image.image_, const_cast<Plain*>(pels), static_cast<int32_t>(sizeof(Plain)),
                                  width, height, stride),
          "kip::Image::wrap");
    return image;
  }

  ~Image() { kimg_image_destruct(&image_); }
  Image(Image&& other) noexcept : image_(other.image_) { kimg_image_constructUnbound(&other.image_); }
  Image& operator=(Image&& other) noexcept {
    if (this != &other) {
      kimg_image_destruct(&image_);
      image_ = other.image_;
      kimg_image_constructUnbound(&other.image_);
    }
    return *this;
  }
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  bool bound() const noexcept { return image_.storage != nullptr; }
  int32_t width() const noexcept { return image_.width; }
  int32_t height() const noexcept { return image_.height; }
  int32_t pelSize() const noexcept { return image_.pelSize; }
  int32_t stride() const noexcept { return image_.stride; }  // in pels
  Size size() const noexcept { return {image_.width, image_.height}; }

  // Row y of the stored pels; Pel must match the pel size.
  template <typename Pel>
  Pel* row(int32_t y) {
    return static_cast<Pel*>(image_.firstPel) + static_cast<ptrdiff_t>(y) * image_.stride;
  }
  template <typename Pel>
  const Pel* row(int32_t y) const {
    return static_cast<const Pel*>(image_.firstPel) + static_cast<ptrdiff_t>(y) * image_.stride;
  }
  template <typename Pel>
  Pel& at(int32_t x, int32_t y) {
    return row<Pel>(y)[x];
  }
  template <typename Pel>
  Pel at(int32_t x, int32_t y) const {
    return row<Pel>(y)[x];
  }

  // A window over every pel (the image must be bound).
  kimg_window window() const {
    kimg_window window;
    check(kimg_windowConst_init(&window, &image_), "kip::Image::window");
    return window;
  }

  kmath_xformLinear imageFromClient() const noexcept { return image_.imageFromClient; }
  void setImageFromClient(const kmath_xformLinear& xform) {
    check(kimg_image_setLinearImageFromClientXform(&image_, &xform), "kip::Image::setImageFromClient");
  }

  kimg_image* get() noexcept { return &image_; }
  const kimg_image* get() const noexcept { return &image_; }

 private:
  kimg_image image_;
};

// The set-up of the last sampling, kept for calls that repeat its geometry. One call at a time.
class SampleCache {
 public:
  SampleCache() { check(kip_affineSampleCache_construct(&handle_), "kip::SampleCache"); }
  ~SampleCache() { kip_affineSampleCache_destruct(&handle_); }
  SampleCache(SampleCache&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  SampleCache& operator=(SampleCache&& other) noexcept {
    if (this != &other) {
      kip_affineSampleCache_destruct(&handle_);
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  SampleCache(const SampleCache&) = delete;
  SampleCache& operator=(const SampleCache&) = delete;

  affineSampleCache** handle() noexcept { return &handle_; }

 private:
  affineSampleCache* handle_ = nullptr;
};

namespace detail {

inline affineSampleCache** cacheHandle(SampleCache* cache) { return cache != nullptr ? cache->handle() : nullptr; }

inline void requirePelSize(const Image& image, bool allowWide, const char* context) {
  if (image.pelSize() != 1 && !(allowWide && image.pelSize() == 2)) {
    throw Error(image.bound() ? KIP_ERR_PEL_SIZE : KIP_ERR_NOT_BOUND, context);
  }
}

// A side length as a whole number of pels, or the status that says why it is not one.
inline int32_t wholeSide(double pels, bool up) {
  constexpr double slack = 1e-9;  // sides that are whole but for rounding stay whole
  const double side = up ? std::ceil(pels - slack) : std::floor(pels + slack);
  if (!std::isfinite(side)) throw Error(KIP_ERR_NOT_FINITE, "kip::rotation");
  if (side > 2147483647.0) throw Error(KIP_ERR_OUT_OF_RANGE, "kip::rotation");
  return side >= 1 ? static_cast<int32_t>(side) : 0;
}

// Cosine and sine of a turn in degrees, exact for whole quarter turns so that they stay copies.
inline std::pair<double, double> turnCosSin(double degrees) {
  const double turn = std::fmod(degrees, 360.0);
  const double radians = turn * (3.14159265358979323846 / 180.0);
  double c = std::cos(radians), s = std::sin(radians);
  if (std::fmod(turn, 90.0) == 0.0) c = std::round(c), s = std::round(s);
  return {c, s};
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------
// Sampling geometry
// ---------------------------------------------------------------------------------------------

// The affine rectangle with origin corner `origin` whose x side ends at xEnd and y side at yEnd.
inline kmath_shapeAffineRect affineRect(Point origin, Point xEnd, Point yEnd) {
  return {origin.x, origin.y, xEnd.x - origin.x, yEnd.x - origin.x, xEnd.y - origin.y, yEnd.y - origin.y};
}

inline affineSampleParams sampleParams(const kmath_shapeAffineRect& rect, Size size, Mode mode = Mode::bilinear) {
  affineSampleParams params;
  check(kip_affineSampleParams_init(&params, static_cast<uint32_t>(mode), &rect, size.width, size.height),
        "kip::sampleParams");
  return params;
}

inline affineSampleParams sampleParams(Point origin, Point xEnd, Point yEnd, Size size, Mode mode = Mode::bilinear) {
  return sampleParams(affineRect(origin, xEnd, yEnd), size, mode);
}

// A size x size output centred on `centre` of the source, showing it turned counter-clockwise by
// `degrees` as displayed (rows running down), `scale` output pels to a source pel. Whole quarter
// turns at scale 1 on whole or half-pel centres are exact copies of pels.
inline affineSampleParams rotationParams(Point centre, double degrees, double scale, Size size,
                                         Mode mode = Mode::bilinear) {
  const auto [c, s] = detail::turnCosSin(degrees);
  // Output x runs along (c, s) in the source, output y along (-s, c).
  const double w = size.width / scale, h = size.height / scale;
  const kmath_shapeAffineRect rect{centre.x - (w * c - h * s) / 2, centre.y - (w * s + h * c) / 2, w * c, -h * s,
                                   w * s, h * c};
  return sampleParams(rect, size, mode);
}

// The output size that holds the whole of a `source`-sized picture turned by `degrees` at `scale`:
// its bounding box, in whole output pels (at least 1 a side).
inline Size rotatedBounds(Size source, double degrees, double scale) {
  const auto [c, s] = detail::turnCosSin(degrees);
  const double boxWidth = source.width * std::fabs(c) + source.height * std::fabs(s);
  const double boxHeight = source.width * std::fabs(s) + source.height * std::fabs(c);
  return {std::max(1, detail::wholeSide(scale * boxWidth, true)),
          std::max(1, detail::wholeSide(scale * boxHeight, true))};
}

// The largest output (by area) centred on the source's centre whose samples, turned by `degrees`
// at `scale`, all stay inside the source with the reach of `mode`: what an unclipped transform of
// the turn accepts. KIP_ERR_NO_SAMPLES when not one pel fits.
inline Size rotatedInterior(const Image& source, double degrees, double scale, Mode mode = Mode::bilinear) {
  const auto [c, s] = detail::turnCosSin(degrees);
  const double width = source.width(), height = source.height();
  const Point centre{width / 2, height / 2};
  // The centred axis-aligned rectangle of largest area inside the source shrunk by `margin` and
  // turned: touching both long sides when the source is thin for the angle, else with all four
  // corners on its edges.
  auto fit = [&](double margin) {
    const double w = width - 2 * margin, h = height - 2 * margin, sa = std::fabs(s), ca = std::fabs(c);
    double fitWidth = 0, fitHeight = 0;
    if (w > 0 && h > 0) {
      const bool wide = w >= h;
      const double longSide = wide ? w : h, shortSide = wide ? h : w;
      if (shortSide <= 2 * sa * ca * longSide || std::fabs(sa - ca) < 1e-10) {
        fitWidth = shortSide / 2 / (wide ? sa : ca);
        fitHeight = shortSide / 2 / (wide ? ca : sa);
      } else {
        const double cos2 = ca * ca - sa * sa;
        fitWidth = (w * ca - h * sa) / cos2;
        fitHeight = (h * ca - w * sa) / cos2;
      }
    }
    return Size{detail::wholeSide(scale * fitWidth, false), detail::wholeSide(scale * fitHeight, false)};
  };
  auto inside = [&](Size size) {
    if (size.width < 1 || size.height < 1) return false;
    const affineSampleParams params = rotationParams(centre, degrees, scale, size, mode);
    uint32_t willClip = 1;
    check(kip_affineSampleParams_getWillClip(&params, source.get(), &willClip), "kip::rotatedInterior");
    return willClip == 0;
  };
  // Touching the edges suits exact copies; interpolating samples need their reach as well, and
  // rounding may take a pel or two more.
  Size size = fit(0);
  if (inside(size)) return size;
  constexpr double reaches[] = {0.0, 0.5, 1.5, 2.5};
  const auto m = static_cast<uint32_t>(mode);
  size = fit((m < 4 ? reaches[m] : 2.5) + 0.5);
  for (int attempt = 0; attempt < 8 && size.width >= 1 && size.height >= 1; ++attempt) {
    if (inside(size)) return size;
    --size.width, --size.height;
  }
  throw Error(KIP_ERR_NO_SAMPLES, "kip::rotatedInterior");
}

// ---------------------------------------------------------------------------------------------
// Affine transforms (8-bit and 16-bit sources; the result has the source's pel size)
// ---------------------------------------------------------------------------------------------

// Into a destination: unbound ones are bound to new pels, bound ones of exactly xCount x yCount at
// origin (0, 0) are written in place (kip.h says what happens to others).
inline void transformInto(const Image& source, Image& destination, const affineSampleParams& params,
                          SampleCache* cache = nullptr) {
  detail::requirePelSize(source, true, "kip::transform");
  check(source.pelSize() == 2
            ? kip_affineTransform16(source.get(), destination.get(), &params, detail::cacheHandle(cache))
            : kip_affineTransform(source.get(), destination.get(), &params, detail::cacheHandle(cache)),
        "kip::transform");
}

inline Image transform(const Image& source, const affineSampleParams& params, SampleCache* cache = nullptr) {
  Image result;
  transformInto(source, result, params, cache);
  return result;
}

// A sampling that may leave the source: pels outside count as 0, and the 8-bit mask says how much
// of each result pel came from the source (255 all, 0 none). Returns whether the sampling left the
// source; when it did not, the mask is filled with 255.
inline bool transformClippedInto(const Image& source, Image& destination, Image& mask,
                                 const affineSampleParams& params, SampleCache* cache = nullptr) {
  detail::requirePelSize(source, true, "kip::transformClipped");
  uint32_t willClip = 0;
  check(source.pelSize() == 2 ? kip_affineTransformClipped16(source.get(), destination.get(), mask.get(), &params,
                                                             detail::cacheHandle(cache), &willClip)
                              : kip_affineTransformClipped(source.get(), destination.get(), mask.get(), &params,
                                                           detail::cacheHandle(cache), &willClip),
        "kip::transformClipped");
  if (willClip != 0) return true;
  // Every result pel came from the source: the mask the clipped sampling would have made.
  if (!mask.bound()) mask = Image(1, params.xCount, params.yCount);
  kimg_window window = mask.window();
  int32_t partly = 0;
  check(kimg_window_window(&window, 0, 0, params.xCount, params.yCount, &partly), "kip::transformClipped");
  check(kip_pelSetWindow8(&window, 255), "kip::transformClipped");
  check(kimg_image_copyXforms(mask.get(), destination.get()), "kip::transformClipped");
  return false;
}

struct ClippedImage {
  Image image;
  Image mask;            // 8-bit, the result's size
  bool clipped = false;  // the sampling left the source
};

inline ClippedImage transformClipped(const Image& source, const affineSampleParams& params,
                                     SampleCache* cache = nullptr) {
  ClippedImage result;
  result.clipped = transformClippedInto(source, result.image, result.mask, params, cache);
  return result;
}

// ---------------------------------------------------------------------------------------------
// Affine projections: each result column summed into one 32-bit entry (modulo 2^32), a profile of
// xCount entries along the rectangle's x side. 16-bit sources take nearest and bilinear sampling.
// The Into forms write params.xCount entries at the caller's pointers.
// ---------------------------------------------------------------------------------------------

namespace detail {

inline Image entriesOf(uint32_t* entries, const affineSampleParams& params, const char* context) {
  if (params.xCount < 1 || params.yCount < 1) throw Error(KIP_ERR_NO_SAMPLES, context);
  return Image::wrap(entries, params.xCount, 1, params.xCount);
}

inline std::vector<uint32_t> entriesFor(const affineSampleParams& params, const char* context) {
  if (params.xCount < 1 || params.yCount < 1) throw Error(KIP_ERR_NO_SAMPLES, context);
  return std::vector<uint32_t>(static_cast<size_t>(params.xCount));
}

}  // namespace detail

// Returns the samples in each sum (yCount).
inline uint32_t projectInto(const Image& source, const affineSampleParams& params, uint32_t* sums,
                            SampleCache* cache = nullptr) {
  detail::requirePelSize(source, true, "kip::project");
  Image destination = detail::entriesOf(sums, params, "kip::project");
  uint32_t sampleCount = 0;
  check(source.pelSize() == 2 ? kip_affineProject16(source.get(), destination.get(), &params,
                                                    detail::cacheHandle(cache), &sampleCount)
                              : kip_affineProject(source.get(), destination.get(), &params, detail::cacheHandle(cache),
                                                  &sampleCount),
        "kip::project");
  return sampleCount;
}

struct Profile {
  std::vector<uint32_t> sums;
  uint32_t sampleCount = 0;  // samples in each sum
};

inline Profile project(const Image& source, const affineSampleParams& params, SampleCache* cache = nullptr) {
  Profile profile{detail::entriesFor(params, "kip::project"), 0};
  profile.sampleCount = projectInto(source, params, profile.sums.data(), cache);
  return profile;
}

struct ClipCount {
  uint32_t sampleCount = 0;  // the largest coverage entry (yCount when not clipped)
  bool clipped = false;      // the sampling left the source
};

// Samples outside the source count as 0; coverage[i] is the same projection of an image holding
// coverageValue on the source and 0 elsewhere (coverageValue x yCount everywhere when the sampling
// stays inside).
inline ClipCount projectClippedInto(const Image& source, const affineSampleParams& params, uint32_t* sums,
                                    uint32_t* coverage, uint8_t coverageValue = 255, SampleCache* cache = nullptr) {
  detail::requirePelSize(source, true, "kip::projectClipped");
  Image destination = detail::entriesOf(sums, params, "kip::projectClipped");
  Image covered = detail::entriesOf(coverage, params, "kip::projectClipped");
  uint32_t sampleCount = 0, willClip = 0;
  check(source.pelSize() == 2
            ? kip_affineProjectClipped16(source.get(), destination.get(), covered.get(), &params,
                                         detail::cacheHandle(cache), coverageValue, &sampleCount, &willClip)
            : kip_affineProjectClipped(source.get(), destination.get(), covered.get(), &params,
                                       detail::cacheHandle(cache), coverageValue, &sampleCount, &willClip),
        "kip::projectClipped");
  if (willClip == 0) std::fill_n(coverage, params.xCount, uint32_t(coverageValue) * uint32_t(params.yCount));
  return {sampleCount, willClip != 0};
}

struct ClippedProfile {
  std::vector<uint32_t> sums, coverage;
  uint32_t sampleCount = 0;
  bool clipped = false;
};

inline ClippedProfile projectClipped(const Image& source, const affineSampleParams& params,
                                     uint8_t coverageValue = 255, SampleCache* cache = nullptr) {
  ClippedProfile profile{detail::entriesFor(params, "kip::projectClipped"),
                         detail::entriesFor(params, "kip::projectClipped"), 0, false};
  const ClipCount count =
      projectClippedInto(source, params, profile.sums.data(), profile.coverage.data(), coverageValue, cache);
  profile.sampleCount = count.sampleCount;
  profile.clipped = count.clipped;
  return profile;
}

// Entry i / sampleCount is the mean of column i for i in [validStart, validEnd). Unclipped: raw
// sums over yCount. Clipped: a sampling that leaves the source gives each entry already divided by
// its own coverage (sampleCount 1), and the range leaves out the entries that saw no source pel.
struct NormRange {
  uint32_t sampleCount = 0;  // 0 when no entry saw the source
  uint32_t validStart = 0, validEnd = 0;
};

inline NormRange projectNormInto(const Image& source, const affineSampleParams& params, bool clipped,
                                 uint32_t* entries, SampleCache* cache = nullptr) {
  detail::requirePelSize(source, true, "kip::projectNorm");
  Image destination = detail::entriesOf(entries, params, "kip::projectNorm");
  NormRange range;
  check(source.pelSize() == 2
            ? kip_affineProjectNorm16(source.get(), destination.get(), &params, clipped ? 1u : 0u,
                                      detail::cacheHandle(cache), &range.sampleCount, &range.validStart,
                                      &range.validEnd)
            : kip_affineProjectNorm(source.get(), destination.get(), &params, clipped ? 1u : 0u,
                                    detail::cacheHandle(cache), &range.sampleCount, &range.validStart, &range.validEnd),
        "kip::projectNorm");
  return range;
}

struct NormProfile {
  std::vector<uint32_t> entries;
  NormRange range;
  // The means, NaN outside the valid range.
  std::vector<double> means() const {
    std::vector<double> values(entries.size(), std::nan(""));
    for (uint32_t i = range.validStart; i < range.validEnd && i < entries.size() && range.sampleCount != 0; ++i) {
      values[i] = double(entries[i]) / range.sampleCount;
    }
    return values;
  }
};

inline NormProfile projectNorm(const Image& source, const affineSampleParams& params, bool clipped = false,
                               SampleCache* cache = nullptr) {
  NormProfile profile{detail::entriesFor(params, "kip::projectNorm"), {}};
  profile.range = projectNormInto(source, params, clipped, profile.entries.data(), cache);
  return profile;
}

// ---------------------------------------------------------------------------------------------
// Row and column sums of 8-bit images (modulo 2^32)
// ---------------------------------------------------------------------------------------------

// One sum per row into sums[0 .. height); returns the pels in each sum (the width).
inline uint32_t rowSumsInto(const Image& source, uint32_t* sums) {
  Image destination = Image::wrap(sums, source.height(), 1, source.height());
  uint32_t pelCount = 0;
  check(kip_projectHorizontal8(source.get(), destination.get(), &pelCount), "kip::rowSums");
  return pelCount;
}

// One sum per column into sums[0 .. width); returns the pels in each sum (the height).
inline uint32_t columnSumsInto(const Image& source, uint32_t* sums) {
  Image destination = Image::wrap(sums, source.width(), 1, source.width());
  uint32_t pelCount = 0;
  check(kip_projectVertical8(source.get(), destination.get(), &pelCount), "kip::columnSums");
  return pelCount;
}

inline std::vector<uint32_t> rowSums(const Image& source) {
  std::vector<uint32_t> sums(static_cast<size_t>(std::max(source.height(), 0)));
  rowSumsInto(source, sums.data());
  return sums;
}

inline std::vector<uint32_t> columnSums(const Image& source) {
  std::vector<uint32_t> sums(static_cast<size_t>(std::max(source.width(), 0)));
  columnSumsInto(source, sums.data());
  return sums;
}

// ---------------------------------------------------------------------------------------------
// Exact turns and mirrors (alignment codes 0, 1, 90, 91, 180, 181, 270, 271 of kip.h)
// ---------------------------------------------------------------------------------------------

// Whether a code exchanges width and height.
inline bool turnTransposes(uint32_t code) { return code == 1 || code == 90 || code == 181 || code == 270; }

// The whole of source into the whole of destination (sizes as the code needs, same pel size).
inline void turnInto(const Image& source, Image& destination, uint32_t code) {
  detail::requirePelSize(source, true, "kip::turn");
  const kimg_window from = source.window();
  kimg_window to = destination.window();
  check(source.pelSize() == 2 ? kip_affineTransformAligned16(&from, &to, code)
                              : kip_affineTransformAligned(&from, &to, code),
        "kip::turn");
}

inline Image turn(const Image& source, uint32_t code) {
  detail::requirePelSize(source, true, "kip::turn");
  const bool swap = turnTransposes(code);
  Image result(source.pelSize(), swap ? source.height() : source.width(), swap ? source.width() : source.height());
  turnInto(source, result, code);
  return result;
}

}  // namespace kip

#endif  // KIP_KIP_HPP
