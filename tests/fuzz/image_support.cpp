// Images over exact heap blocks, fuzzed images, windows and destinations, guards and pel copies.
#include "fuzz_support.hpp"

#include <sanitizer/asan_interface.h>  // no-op poisoning without AddressSanitizer

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>

namespace kipfuzz {

ExactImage::ExactImage() { kimg_image_constructUnbound(&image_); }

ExactImage::ExactImage(int32_t pelSize, int32_t width, int32_t height, int32_t stride, uint32_t seed, bool poison) {
  kimg_image_constructUnbound(&image_);
  const bool good = width >= 0 && height >= 0 && stride >= width && (pelSize == 1 || pelSize == 2 || pelSize == 4);
  bytes_ = good && width > 0 && height > 0 ? (static_cast<size_t>(stride) * (height - 1) + width) * pelSize : 0;
  block_ = bytes_ > 0 ? static_cast<unsigned char*>(std::malloc(bytes_)) : nullptr;
  std::mt19937 random(seed);
  for (size_t i = 0; i < bytes_; i += 4) {
    const uint32_t r = static_cast<uint32_t>(random());
    std::memcpy(block_ + i, &r, bytes_ - i < 4 ? bytes_ - i : 4);
  }
  const int32_t status = kimg_image_bindExternal(&image_, block_, pelSize, width, height, stride);
  checkStatus("kimg_image_bindExternal", status);
  if (!good && status >= 0) fail("kimg_image_bindExternal", "accepted a bad layout");
  if (status < 0) {
    std::free(block_);
    block_ = nullptr;
    bytes_ = 0;
  }
  const size_t row = static_cast<size_t>(width) * pelSize, gap = static_cast<size_t>(stride - width) * pelSize;
  for (int32_t y = 0; block_ != nullptr && poison && gap != 0 && y + 1 < height; ++y) {
    ASAN_POISON_MEMORY_REGION(block_ + y * (row + gap) + row, gap);
  }
}

ExactImage::~ExactImage() {
  kimg_image_destruct(&image_);
  if (block_ != nullptr) ASAN_UNPOISON_MEMORY_REGION(block_, bytes_);
  std::free(block_);
}

void ExactImage::confineTo(const kimg_window& window) {
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
}

kimg_window ExactImage::windowOf(const kimg_image* image) {
  kimg_window window{};
  kimg_windowConst_init(&window, image);
  return window;
}

std::unique_ptr<ExactImage> makeImage(Input& in, int32_t pelSize, int32_t maxSize) {
  if (in.oneIn(16)) return std::make_unique<ExactImage>();
  static constexpr int32_t kSizes[] = {1, 2, 4, 1, 2, 3, 0};
  if (pelSize == 0) {
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
  auto image = std::make_unique<ExactImage>(pelSize, width, height, stride, in.u32());
  if (image->bound()) {
    image->get()->xOrigin = in.origin();
    image->get()->yOrigin = in.origin();
    if (in.oneIn(4)) {
      const kmath_xformLinear xform = in.xform();
      checkStatus("kimg_image_setLinearImageFromClientXform",
                  kimg_image_setLinearImageFromClientXform(image->get(), &xform));
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

Target::Target(Input& in, const char* menu, const ExactImage& source, int32_t pelSize, int32_t maxSize,
               int32_t exactWidth, int32_t exactHeight) {
  kimg_image_constructUnbound(&shared);
  kind = menu[in.byte() % std::strlen(menu)];
  if (kind == 'e' && (exactWidth < 1 || exactHeight < 1)) kind = 'i';
  switch (kind) {
    case 'u': owned = std::make_unique<ExactImage>(); break;
    case 's': kimg_image_assign(&shared, source.get()); break;
    case 'e': owned = std::make_unique<ExactImage>(pelSize, exactWidth, exactHeight, exactWidth, in.u32()); break;
    default:
      owned = makeImage(in, pelSize, maxSize);
      if (owned->bound() && in.flag()) owned->get()->xOrigin = owned->get()->yOrigin = 0;
  }
  image = owned ? owned->get() : &shared;
}

VectorTarget::VectorTarget(Input& in, const ExactImage& source, int32_t xCount)
    : Target(in, "uuseiiii", source, 4, 320, xCount <= 400 ? xCount : 0) {
  if (kind == 'i' && owned->bound() && in.flag()) owned->get()->xOrigin = -in.range(1, 8);
  window = owned ? makeWindow(in, *owned) : ExactImage::windowOf(&shared);
}

namespace {

// The window over the pels a guarded record describes (none for plain bytes or an unbound image).
kimg_window windowOf(int kind, const void* address) {
  kimg_window w{};
  if (kind == 2) return *static_cast<const kimg_window*>(address);
  const auto* image = static_cast<const kimg_image*>(address);
  if (kind == 1 && image->storage != nullptr) {
    w.width = image->width, w.height = image->height, w.stride = image->stride, w.pelSize = image->pelSize;
    w.firstPel = image->firstPel;
  }
  return w;
}

}  // namespace

Guard& Guard::add(const void* address, size_t size, int kind, bool inPlace) {
  if (address == nullptr || size == 0) return *this;
  const auto* p = static_cast<const unsigned char*>(address);
  entries_.push_back({address, kind, inPlace, {p, p + size}, pelsOf(windowOf(kind, address))});
  return *this;
}

void Guard::expectUnchanged(const char* call, bool pelsMayChange) const {
  for (const Entry& e : entries_) {
    if (std::memcmp(e.address, e.record.data(), e.record.size()) != 0) {
      fail(call, e.kind == 0 ? "wrote an out-parameter it must not" : "changed a record it must not");
    }
    if (!(pelsMayChange && e.inPlace) && pelsOf(windowOf(e.kind, e.address)) != e.pels) {
      fail(call, "changed pels it must not");
    }
  }
}

std::vector<uint32_t> pelsOf(const kimg_window& w) {
  std::vector<uint32_t> pels;
  const bool valid = (w.pelSize == 1 || w.pelSize == 2 || w.pelSize == 4) && w.width > 0 && w.height > 0 &&
                     w.firstPel != nullptr && w.stride >= w.width;
  for (int32_t y = 0; valid && y < w.height; ++y) {
    for (int32_t x = 0; x < w.width; ++x) pels.push_back(pelAt(w, x, y));
  }
  return pels;
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

}  // namespace kipfuzz
