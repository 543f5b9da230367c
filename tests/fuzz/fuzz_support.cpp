#include "fuzz_support.hpp"

#include "platform/cpuinfo.hpp"
#include "platform/memory.hpp"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

#if defined(__SANITIZE_ADDRESS__)
#define KIPFUZZ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KIPFUZZ_ASAN 1
#endif
#endif
#ifdef KIPFUZZ_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace kipfuzz {

void fail(const char* call, const char* what, int32_t status) {
  std::fprintf(stderr, "kip fuzz check failed: %s: %s", call, what);
  if (status != 0) std::fprintf(stderr, " (status 0x%08X %s)", static_cast<uint32_t>(status), kip_statusName(status));
  std::fprintf(stderr, "\n");
  std::abort();
}

void trace(const char* format, ...) {
  static const bool enabled = std::getenv("KIPFUZZ_TRACE") != nullptr;
  if (!enabled) return;
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  std::fputc('\n', stderr);
}

void traceParams(const affineSampleParams& p) {
  const kmath_shapeAffineRect& r = p.affineRect;
  trace("params: rect %.17g %.17g %.17g %.17g %.17g %.17g, mode %u, counts %d x %d", r.tx, r.ty, r.e0, r.e1, r.e2,
        r.e3, p.sampleMode, p.xCount, p.yCount);
}

void traceImage(const char* what, const kimg_image* i) {
  if (i == nullptr) return trace("%s: null", what);
  const kmath_xformLinear& m = i->imageFromClient;
  trace("%s: %s %d x %d, stride %d, pel size %d, origin (%d, %d), transform %g %g %g %g %g %g", what,
        i->storage != nullptr ? "bound" : "unbound", i->width, i->height, i->stride, i->pelSize, i->xOrigin,
        i->yOrigin, m.tx, m.ty, m.e0, m.e1, m.e2, m.e3);
}

void traceWindow(const char* what, const kimg_window* w) {
  if (w == nullptr) return trace("%s: null", what);
  trace("%s: window %d x %d at (%d, %d), stride %d, pel size %d, first pel %p", what, w->width, w->height, w->xOrigin,
        w->yOrigin, w->stride, w->pelSize, w->firstPel);
}

void checkStatus(const char* call, int32_t status) {
  if (status >= 0) return;
  if ((static_cast<uint32_t>(status) & 0xFFE0u) == 0x600u) fail(call, "declined status escaped", status);
  if (std::strcmp(kip_statusName(status), "KIP_ERR_UNKNOWN") == 0) fail(call, "undocumented status", status);
  if (status == KIP_ERR_INTERNAL) fail(call, "internal failure", status);
}

// ---------------------------------------------------------------------------------------------
// Input

uint8_t Input::byte() { return used_ < size_ ? data_[used_++] : 0; }
uint16_t Input::u16() { return static_cast<uint16_t>(byte() | byte() << 8); }
uint32_t Input::u32() { return u16() | static_cast<uint32_t>(u16()) << 16; }

int32_t Input::range(int32_t low, int32_t high) {
  const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(high) - low) + 1;
  return static_cast<int32_t>(low + static_cast<int64_t>(u32() % span));
}

int32_t Input::extent(int32_t maxSize) {
  switch (byte() % 8) {
    case 5: return 0;
    case 6: return 1;
    case 7: return range(0, maxSize);
    default: return range(1, maxSize < 40 ? maxSize : 40);
  }
}

int32_t Input::stride(int32_t width) {
  switch (byte() % 16) {
    case 15: return width + range(17, 300);
    case 14: return width - 1;  // refused unless the width is 0
    case 13: return -range(1, 1000);
    case 12: return range(32768, 70000);  // too wide for 16.16 positions
    case 11:
    case 10:
    case 9: return width + range(1, 16);
    default: return width;
  }
}

int32_t Input::origin() {
  switch (byte() % 16) {
    case 15: return INT32_MAX - range(0, 300);
    case 14: return INT32_MIN + range(0, 300);
    case 13: return range(-100000, 100000);
    case 12:
    case 11:
    case 10: return range(-300, 300);
    default: return 0;
  }
}

int32_t Input::count() {
  switch (byte() % 24) {
    case 23: return -range(1, 5);
    case 22: return INT32_MIN;
    case 21: return 0;
    case 20: return 46341;      // 46341^2 exceeds INT32_MAX
    case 19: return 65536;      // 65536^2 wraps 32 bits to 0
    case 18: return INT32_MAX;
    case 17: return range(1000, 100000);
    case 16:
    case 15: return 1;
    default: return range(1, 64);
  }
}

uint32_t Input::sampleMode() {
  const uint8_t b = byte();
  if (b == 255) return 0xFFFFFFFFu;
  if (b == 254) return 0x80000001u;
  return b % 8;
}

double Input::number() {
  static constexpr double kHuge[] = {1e300, -1e300, 1e18, -1e18, std::numeric_limits<double>::max(),
                                     -std::numeric_limits<double>::max(), 2147483648.0, -2147483649.0,
                                     2147483647.5, 32768.0, 65536.0, 1e9};
  static constexpr double kTiny[] = {1e-300, -1e-300, std::numeric_limits<double>::denorm_min(), -0.0, 1e-12,
                                     1e-9, 0.5 / 65536, 1e-5};
  switch (byte() % 16) {
    case 15: return std::numeric_limits<double>::quiet_NaN();
    case 14: return std::numeric_limits<double>::infinity();
    case 13: return -std::numeric_limits<double>::infinity();
    case 12: return kHuge[byte() % std::size(kHuge)];
    case 11: return kTiny[byte() % std::size(kTiny)];
    case 10: {
      double d = 0;
      const uint64_t bits = static_cast<uint64_t>(u32()) << 32 | u32();
      std::memcpy(&d, &bits, sizeof d);
      return d;
    }
    case 9:
    case 8: return range(-300, 300) + u16() / 65536.0;
    default: return range(-300, 300);
  }
}

kmath_shapeAffineRect Input::affineRect(int32_t w, int32_t h) {
  const uint8_t kind = byte() % 8;
  if (kind == 7) {
    // Element by element hostile.
    return {number(), number(), number(), number(), number(), number()};
  }
  double tx = 0, ty = 0, xs = 0, ys = 0, angle = 0;
  if (kind <= 2) {
    // Axis-aligned with integral corners: exact copies, turns and mirrors for matching counts.
    tx = range(-4, w + 4);
    ty = range(-4, h + 4);
    xs = range(0, w + 2);
    ys = range(0, h + 2);
    angle = (byte() % 4) * (M_PI / 2);
  } else {
    // Anywhere near the source, turned by any angle, sides from tiny to several times the source.
    tx = range(-2 * w - 8, 3 * w + 8) + u16() / 65536.0;
    ty = range(-2 * h - 8, 3 * h + 8) + u16() / 65536.0;
    xs = flag() ? range(0, 2 * w + 4) + u16() / 65536.0 : number();
    ys = flag() ? range(0, 2 * h + 4) + u16() / 65536.0 : number();
    angle = byte() * (2 * M_PI / 256);
  }
  const double c = std::cos(angle), s = std::sin(angle);
  // Exact zeros and ones for the quarter turns, so that aligned maps really are aligned.
  const double cr = std::round(c) == c || std::fabs(c - std::round(c)) < 1e-15 ? std::round(c) : c;
  const double sr = std::fabs(s - std::round(s)) < 1e-15 ? std::round(s) : s;
  double e0 = xs * cr, e2 = xs * sr;
  double e1 = -ys * sr, e3 = ys * cr;
  switch (byte() % 8) {
    case 7: e1 = -e1, e3 = -e3; break;                // mirrored
    case 6: e1 = e0, e3 = e2; break;                  // degenerate: parallel sides
    case 5: e0 = 0, e2 = 0; break;                    // degenerate: no x side
    case 4: e0 *= 1e-9, e2 *= 1e-9; break;            // tiny side
    default: break;
  }
  return {tx, ty, e0, e1, e2, e3};
}

kmath_xformLinear Input::xform() {
  switch (byte() % 8) {
    case 7: return {number(), number(), number(), number(), number(), number()};
    case 6: return {static_cast<double>(range(-50, 50)), static_cast<double>(range(-50, 50)), 1, 0, 0, 1};
    case 5: return {range(-50, 50) + u16() / 65536.0, 0.25, 2, 0, 0, 0.5};
    case 4: return {10, -3, 0, -1, 1, 0};  // a quarter turn
    case 3: return {0, 0, 0, 0, 0, 0};     // singular
    default: return {0, 0, 1, 0, 0, 1};
  }
}

// ---------------------------------------------------------------------------------------------
// Images

ExactImage::ExactImage() { kimg_image_constructUnbound(&image_); }

ExactImage::ExactImage(int32_t pelSize, int32_t width, int32_t height, int32_t stride, uint32_t seed, bool poison) {
  kimg_image_constructUnbound(&image_);
  if (width < 0 || height < 0 || stride < width || (pelSize != 1 && pelSize != 2 && pelSize != 4)) {
    // Let the library refuse it; nothing to allocate.
    if (kimg_image_bindExternal(&image_, nullptr, pelSize, width, height, stride) >= 0) {
      fail("kimg_image_bindExternal", "accepted a bad layout");
    }
    return;
  }
  const size_t pels = width == 0 || height == 0 ? 0 : static_cast<size_t>(stride) * (height - 1) + width;
  bytes_ = pels * pelSize;
  if (bytes_ > 0) {
    block_ = static_cast<unsigned char*>(std::malloc(bytes_));
    std::mt19937 random(seed);
    for (size_t i = 0; i < bytes_; i += 4) {
      const uint32_t r = static_cast<uint32_t>(random());
      std::memcpy(block_ + i, &r, bytes_ - i < 4 ? bytes_ - i : 4);
    }
  }
  const int32_t status = kimg_image_bindExternal(&image_, block_, pelSize, width, height, stride);
  checkStatus("kimg_image_bindExternal", status);
  if (status < 0) {
    std::free(block_);
    block_ = nullptr;
    bytes_ = 0;
    return;
  }
  rowBytes_ = static_cast<size_t>(width) * pelSize;
  strideBytes_ = static_cast<size_t>(stride) * pelSize;
  rows_ = height;
  if (poison) {
    poisonGaps(true);
  } else {
    strideBytes_ = rowBytes_;  // nothing to unpoison later
  }
}

ExactImage::~ExactImage() {
  kimg_image_destruct(&image_);
#ifdef KIPFUZZ_ASAN
  if (block_ != nullptr) ASAN_UNPOISON_MEMORY_REGION(block_, bytes_);
#endif
  std::free(block_);
}

void ExactImage::confineTo(const kimg_window& window) {
#ifdef KIPFUZZ_ASAN
  if (block_ == nullptr || window.pelSize != image_.pelSize || window.width <= 0 || window.height <= 0 ||
      window.stride != image_.stride) {
    return;
  }
  const auto first = static_cast<unsigned char*>(window.firstPel);
  const size_t rowBytes = static_cast<size_t>(window.width) * window.pelSize;
  const size_t strideBytes = static_cast<size_t>(window.stride) * window.pelSize;
  if (first < block_ || first > block_ + bytes_) return;
  const size_t offset = static_cast<size_t>(first - block_);
  if (offset + strideBytes * (window.height - 1) + rowBytes > bytes_) return;
  ASAN_POISON_MEMORY_REGION(block_, bytes_);
  for (int32_t y = 0; y < window.height; ++y) ASAN_UNPOISON_MEMORY_REGION(first + y * strideBytes, rowBytes);
#else
  (void)window;
#endif
}

void ExactImage::poisonGaps(bool poison) {
#ifdef KIPFUZZ_ASAN
  if (block_ == nullptr || strideBytes_ == rowBytes_) return;
  for (int32_t y = 0; y + 1 < rows_; ++y) {
    unsigned char* gap = block_ + y * strideBytes_ + rowBytes_;
    if (poison) {
      ASAN_POISON_MEMORY_REGION(gap, strideBytes_ - rowBytes_);
    } else {
      ASAN_UNPOISON_MEMORY_REGION(gap, strideBytes_ - rowBytes_);
    }
  }
#else
  (void)poison;
#endif
}

kimg_window ExactImage::window() const {
  kimg_window window{};
  kimg_windowConst_init(&window, &image_);
  return window;
}

std::unique_ptr<ExactImage> makeImage(Input& in, int32_t pelSize, int32_t maxSize) {
  std::unique_ptr<ExactImage> image;
  if (in.oneIn(16)) {
    image = std::make_unique<ExactImage>();
  } else {
    if (pelSize == 0) {
      static constexpr int32_t kSizes[] = {1, 2, 4, 1, 2, 3, 0};
      pelSize = kSizes[in.byte() % std::size(kSizes)];
    } else if (in.oneIn(32)) {
      pelSize = pelSize == 1 ? 2 : 1;  // the wrong pel size for the function
    }
    int32_t width = in.extent(maxSize);
    int32_t height = in.extent(maxSize);
    int32_t stride = in.stride(width);
    if (in.oneIn(32)) {
      // Taller than 16.16 positions serve, thin enough to stay cheap.
      width = in.range(0, 2);
      height = in.range(32767, 33000);
      stride = width;
    }
    if (stride >= 32768) height = in.range(0, 2);
    image = std::make_unique<ExactImage>(pelSize, width, height, stride, in.u32());
    if (image->bound()) {
      image->get()->xOrigin = in.origin();
      image->get()->yOrigin = in.origin();
      if (in.oneIn(4)) {
        const kmath_xformLinear xform = in.xform();
        checkStatus("kimg_image_setLinearImageFromClientXform",
                    kimg_image_setLinearImageFromClientXform(image->get(), &xform));
      }
    }
  }
  return image;
}

kimg_window makeWindow(Input& in, const ExactImage& image) {
  kimg_window window{};
  if (!image.bound()) {
    kimg_window_initUnbound(&window);
    return window;
  }
  // An image whose origin puts its far edge past the 32-bit range has no valid window.
  if (kimg_windowConst_init(&window, image.get()) < 0) return window;
  if (in.oneIn(2)) {
    // Near the window, in 64 bits: an origin at the end of the range must not wrap here.
    const auto near = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
    const int32_t x = near(int64_t{window.xOrigin} + in.range(-3, 3) + in.range(0, window.width));
    const int32_t y = near(int64_t{window.yOrigin} + in.range(-3, 3) + in.range(0, window.height));
    const int32_t w = in.range(-1, 3) + in.range(0, window.width);
    const int32_t h = in.range(-1, 3) + in.range(0, window.height);
    int32_t clipped = 0;
    kimg_window narrowed = window;
    const int32_t status = kimg_windowConst_window(&narrowed, x, y, w, h, in.flag() ? &clipped : nullptr);
    checkStatus("kimg_windowConst_window", status);
    if (status >= 0) window = narrowed;
  }
  switch (in.byte() % 32) {
    case 31: window.width = -1; break;
    case 30: window.height = -in.range(1, 1000); break;
    case 29: window.stride = window.width - 1; break;
    case 28: window.firstPel = nullptr; break;
    case 27: window.pelSize = 3; break;
    case 26: window.xOrigin = INT32_MAX - in.range(0, 2); break;
    case 25: window.pelSize = 0; break;
    default: break;
  }
  return window;
}

// ---------------------------------------------------------------------------------------------
// Snapshots

namespace {

void copyPels(const kimg_window& window, std::vector<unsigned char>* out) {
  if (window.pelSize != 1 && window.pelSize != 2 && window.pelSize != 4) return;
  if (window.width <= 0 || window.height <= 0 || window.firstPel == nullptr || window.stride < window.width) return;
  const size_t rowBytes = static_cast<size_t>(window.width) * window.pelSize;
  for (int32_t y = 0; y < window.height; ++y) {
    const auto* row = static_cast<const unsigned char*>(window.firstPel) +
                      static_cast<ptrdiff_t>(y) * window.stride * window.pelSize;
    out->insert(out->end(), row, row + rowBytes);
  }
}

kimg_window windowOfImageRecord(const kimg_image& image) {
  kimg_window window{};
  if (image.storage == nullptr) return window;
  window.width = image.width;
  window.height = image.height;
  window.stride = image.stride;
  window.firstPel = image.firstPel;
  window.pelSize = image.pelSize;
  return window;
}

}  // namespace

Snapshot::Snapshot(const kimg_image* image) : image_(image) {
  if (image == nullptr) return;
  imageRecord_ = *image;
  copyPels(windowOfImageRecord(*image), &pels_);
}

Snapshot::Snapshot(const kimg_window* window) : window_(window) {
  if (window == nullptr) return;
  windowRecord_ = *window;
  copyPels(*window, &pels_);
}

void Snapshot::expectUnchanged(const char* call) const {
  std::vector<unsigned char> now;
  if (image_ != nullptr) {
    if (std::memcmp(image_, &imageRecord_, sizeof imageRecord_) != 0) fail(call, "changed the image record");
    copyPels(windowOfImageRecord(*image_), &now);
  }
  if (window_ != nullptr) {
    if (std::memcmp(window_, &windowRecord_, sizeof windowRecord_) != 0) fail(call, "changed the window record");
    copyPels(*window_, &now);
  }
  if (now != pels_) fail(call, "changed pels");
}

void alignedSourcePel(uint32_t code, int32_t w, int32_t h, int32_t j, int32_t i, int32_t* column, int32_t* row) {
  switch (code) {
    case 1: *row = j, *column = i; break;
    case 90: *row = j, *column = w - 1 - i; break;
    case 91: *row = i, *column = w - 1 - j; break;
    case 180: *row = h - 1 - i, *column = w - 1 - j; break;
    case 181: *row = h - 1 - j, *column = w - 1 - i; break;
    case 270: *row = h - 1 - j, *column = i; break;
    case 271: *row = h - 1 - i, *column = j; break;
    default: *row = i, *column = j; break;
  }
}

uint32_t pelAt(const kimg_window& window, int32_t x, int32_t y) {
  const auto* row = static_cast<const unsigned char*>(window.firstPel) +
                    static_cast<ptrdiff_t>(y) * window.stride * window.pelSize;
  switch (window.pelSize) {
    case 1: return row[x];
    case 2: return reinterpret_cast<const uint16_t*>(row)[x];
    default: return reinterpret_cast<const uint32_t*>(row)[x];
  }
}

// ---------------------------------------------------------------------------------------------
// Hooks

namespace {

constexpr const char* kHookNames[] = {"kip_affineProcess", "kip_affineProcess16", "kf_projection_vertical8_core",
                                      "kf_projection_horizontal8_core",
                                      "kip_affineTransformTileBilinearAccurate16Portable"};
uint32_t forbiddenMask = 0;

int32_t fuzzHook(const char* name) {
  if (name == nullptr) fail("optimization hook", "asked with a null name");
  for (size_t i = 0; i < std::size(kHookNames); ++i) {
    if (std::strcmp(name, kHookNames[i]) == 0) return (forbiddenMask >> i) & 1;
  }
  fail("optimization hook", "asked an undocumented name");
}

}  // namespace

Hooks::Hooks(Input& in) {
  const uint8_t choice = in.byte();
  forbiddenMask = in.byte();
  kprt_isOptimizationInhibitedFP = choice % 4 == 0 ? nullptr : &fuzzHook;
  if (choice & 0x10) {
    // A processor without a SIMD target: the optimized cores decline.
    const ksys_cpuinfo none{2, 0, 0};
    ksys_cpuinfo_testOverride(&none, 0);
  }
  ksys_memory_testLimitBytes(kAllocationLimit);
}

Hooks::~Hooks() {
  kprt_isOptimizationInhibitedFP = nullptr;
  ksys_cpuinfo_testOverride(nullptr, 0);
  ksys_memory_testLimitBytes(0);
  ksys_memory_testFailAt(0);
}

namespace {
bool faultArmed = false;
}

Sampling makeSampling(Input& in, int32_t pelSize, int32_t maxSize) {
  Sampling sampling;
  sampling.source = makeImage(in, pelSize, maxSize);
  const kimg_image& image = *sampling.source->get();
  const bool bound = sampling.source->bound();
  const int32_t w = bound ? image.width : 16, h = bound ? image.height : 16;
  kmath_shapeAffineRect rect = in.affineRect(w, h);
  // From the source's pel grid into its client coordinates: shift by the origin, then by the
  // inverse of the image-from-client transform when it has one.
  if (bound && in.oneIn(8) == false) {
    rect.tx += image.xOrigin;
    rect.ty += image.yOrigin;
    const kmath_xformLinear& m = image.imageFromClient;
    const double det = m.e0 * m.e3 - m.e1 * m.e2;
    if (std::isfinite(det) && det != 0 && !(m.e0 == 1 && m.e1 == 0 && m.e2 == 0 && m.e3 == 1 && m.tx == 0 && m.ty == 0)) {
      const double i0 = m.e3 / det, i1 = -m.e1 / det, i2 = -m.e2 / det, i3 = m.e0 / det;
      const double x = rect.tx - m.tx, y = rect.ty - m.ty;
      rect = {i0 * x + i1 * y, i2 * x + i3 * y, i0 * rect.e0 + i1 * rect.e2, i0 * rect.e1 + i1 * rect.e3,
              i2 * rect.e0 + i3 * rect.e2, i2 * rect.e1 + i3 * rect.e3};
    }
  }
  const auto side = [&](double a, double b) {
    const double length = std::hypot(a, b);
    if (in.flag() && std::isfinite(length) && length >= 0.5 && length < 4096) {
      // The length in source pels for an identity client transform: aligned maps.
      return static_cast<int32_t>(std::lround(length));
    }
    return in.count();
  };
  sampling.params.affineRect = rect;
  sampling.params.xCount = side(rect.e0, rect.e2);
  sampling.params.yCount = side(rect.e1, rect.e3);
  sampling.params.sampleMode = in.sampleMode();
  return sampling;
}

void capWork(affineSampleParams* params, int32_t storeBytes) {
  if (params->xCount < 1 || params->yCount < 1) return;
  const int64_t samples = int64_t{params->xCount} * params->yCount;
  if (samples <= kSampleBudget) return;
  if (storeBytes > 0 && static_cast<uint64_t>(samples) * storeBytes > kAllocationLimit) return;
  params->yCount = static_cast<int32_t>(std::max<int64_t>(1, kSampleBudget / params->xCount));
}

bool sourceRange(const kimg_window& source, const kmath_xformLinear& m, const affineSampleParams& p, int32_t j,
                 int32_t i, uint32_t* low, uint32_t* high) {
  const kmath_shapeAffineRect& r = p.affineRect;
  // Positions computed here and in kip round differently; where the maps magnify rounding past a
  // hundredth of a pel (huge coordinates, huge scales) there is nothing to compare.
  const double scale = std::max({std::fabs(m.e0), std::fabs(m.e1), std::fabs(m.e2), std::fabs(m.e3)});
  const double reach = std::fabs(r.tx) + std::fabs(r.ty) + std::fabs(r.e0) + std::fabs(r.e1) + std::fabs(r.e2) +
                       std::fabs(r.e3);
  if (!(1e-14 * (scale * reach + std::fabs(m.tx) + std::fabs(m.ty)) < 0.01)) return false;
  const double u = (j + 0.5) / p.xCount, v = (i + 0.5) / p.yCount;
  const double cx = r.tx + r.e0 * u + r.e1 * v, cy = r.ty + r.e2 * u + r.e3 * v;
  const double x = m.e0 * cx + m.e1 * cy + m.tx - source.xOrigin;
  const double y = m.e2 * cx + m.e3 * cy + m.ty - source.yOrigin;
  if (!std::isfinite(x) || !std::isfinite(y) || x < -1 || y < -1 || x > source.width + 1 || y > source.height + 1) {
    return false;
  }
  const int32_t x0 = std::max(0, static_cast<int32_t>(std::floor(x - 0.5)) - 1);
  const int32_t y0 = std::max(0, static_cast<int32_t>(std::floor(y - 0.5)) - 1);
  const int32_t x1 = std::min(source.width - 1, x0 + 3), y1 = std::min(source.height - 1, y0 + 3);
  if (x0 > x1 || y0 > y1) return false;
  *low = UINT32_MAX;
  *high = 0;
  for (int32_t yy = y0; yy <= y1; ++yy) {
    for (int32_t xx = x0; xx <= x1; ++xx) {
      *low = std::min(*low, pelAt(source, xx, yy));
      *high = std::max(*high, pelAt(source, xx, yy));
    }
  }
  return true;
}

bool samePels(const kimg_image* a, const kimg_image* b, int32_t width, int32_t height) {
  kimg_window wa{}, wb{};
  if (kimg_windowConst_init(&wa, a) < 0 || kimg_windowConst_init(&wb, b) < 0) return false;
  if (kimg_windowConst_window(&wa, 0, 0, width, height, nullptr) < 0) return false;
  if (kimg_windowConst_window(&wb, 0, 0, width, height, nullptr) < 0) return false;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      if (pelAt(wa, x, y) != pelAt(wb, x, y)) return false;
    }
  }
  return true;
}

void armAllocationFault(Input& in) {
  const int32_t failAt = in.oneIn(8) ? in.range(1, 6) : 0;
  faultArmed = failAt != 0;
  ksys_memory_testFailAt(static_cast<uint64_t>(failAt));
}
void disarmAllocationFault() { ksys_memory_testFailAt(0); }
bool lastCallHadFault() { return faultArmed; }

LeakCheck::LeakCheck() {
  static const int32_t setup = kip_affineTransform_setup();
  checkStatus("kip_affineTransform_setup", setup);
  liveBefore_ = ksys_memory_testLiveBlocks();
}

void LeakCheck::expectNoLeak(const char* target) const {
  if (ksys_memory_testLiveBlocks() != liveBefore_) fail(target, "kip blocks left live after the input");
}

}  // namespace kipfuzz
