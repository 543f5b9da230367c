// Fuzz target: the aligned fast path (kip_affineTransformAligned, 16) and the image, window, pel and
// vector functions under it. Sources and destinations are windows of exact images, or of images that
// alias one block at other origins and strides, so that overlap, in-place work and pel-grid
// matching all meet hostile records. Every refusal leaves all pels and records alone.
#include "fuzz_support.hpp"

#include <algorithm>
#include <cstring>

using namespace kipfuzz;

namespace {

// Whether the window record describes readable pels.
bool describesPels(const kimg_window& w) {
  return (w.pelSize == 1 || w.pelSize == 2 || w.pelSize == 4) && w.width >= 0 && w.height >= 0 &&
         w.stride >= w.width && (w.firstPel != nullptr || w.width == 0 || w.height == 0) &&
         int64_t{w.xOrigin} + w.width <= INT32_MAX && int64_t{w.yOrigin} + w.height <= INT32_MAX;
}

// A second image over the first one's block: another stride, origin and extent that stay inside it.
struct Alias {
  kimg_image image{};
  Alias() { kimg_image_constructUnbound(&image); }
  ~Alias() { kimg_image_destruct(&image); }
  void bind(Input& in, const ExactImage& base, int32_t pelSize) {
    if (base.block() == nullptr) return;
    const size_t pels = base.bytes() / pelSize;
    if (pels == 0) return;
    const size_t offset = static_cast<size_t>(in.range(0, static_cast<int32_t>(std::min<size_t>(pels - 1, 4000))));
    const size_t room = pels - offset;
    const int32_t width = in.range(0, static_cast<int32_t>(std::min<size_t>(room, 64)));
    const int32_t stride = width + in.range(0, 8);
    const int32_t maxHeight = stride == 0 ? 64 : static_cast<int32_t>(std::min<size_t>((room - width) / stride + 1, 64));
    const int32_t height = width == 0 ? in.range(0, 3) : in.range(0, maxHeight);
    checkStatus("kimg_image_bindExternal", kimg_image_bindExternal(&image, base.block() + offset * pelSize, pelSize,
                                                                   width, height, stride));
    image.xOrigin = in.range(-20, 20);
    image.yOrigin = in.range(-20, 20);
  }
};

void checkAligned(Input& in, const ExactImage& base, bool allowAlias) {
  const bool sixteen = in.flag();
  const int32_t pelSize = sixteen ? 2 : 1;
  const char* name = sixteen ? "kip_affineTransformAligned16" : "kip_affineTransformAligned";
  static constexpr uint32_t kCodes[] = {0, 1, 90, 91, 180, 181, 270, 271};
  const uint32_t code = in.oneIn(16) ? in.u32() : kCodes[in.byte() % 8];
  const bool swap = code == 1 || code == 90 || code == 181 || code == 270;

  kimg_window source = makeWindow(in, base);
  const auto other = makeImage(in, pelSize, 80);
  Alias alias;
  kimg_window destination{};
  uint8_t where = in.byte() % 4;  // in place, another window of the image, an alias, another image
  if (where == 2 && !allowAlias) where = 3;
  if (where == 0) destination = source;
  if (where == 1) destination = makeWindow(in, base);
  if (where == 2) alias.bind(in, base, base.get()->pelSize == 0 ? 1 : base.get()->pelSize);
  if (where == 2) destination = ExactImage::windowOf(&alias.image);
  if (where == 3) destination = makeWindow(in, *other);
  const int32_t w = swap ? source.height : source.width, h = swap ? source.width : source.height;
  // Shrink the destination to the size the code asks, when it has room.
  if (in.flag() && describesPels(destination) && describesPels(source) && w <= destination.width &&
      h <= destination.height) {
    destination.width = w, destination.height = h;
  }

  const bool nullSource = in.oneIn(32), nullDestination = in.oneIn(32);
  Guard pels, records;
  pels.image(base.get()).image(other->get());
  records.value(&source).value(&destination);
  const int32_t status = runCall(
      in, name,
      [&] {
        const kimg_window* s = nullSource ? nullptr : &source;
        kimg_window* d = nullDestination ? nullptr : &destination;
        return sixteen ? kip_affineTransformAligned16(s, d, code) : kip_affineTransformAligned(s, d, code);
      },
      pels);
  records.expectUnchanged(name);
  if (status < 0) return;
  KIPFUZZ_CHECK(source.pelSize == pelSize && destination.pelSize == pelSize && destination.width == w &&
                    destination.height == h,
                name, "accepted a wrong pel size or sizes that do not fit the code");
}

// Pel copies between windows of one block, overlapping or not.
void checkPelCopy(Input& in, const ExactImage& base, bool allowAlias) {
  const int32_t pelSize = base.get()->pelSize;
  static constexpr const char* kNames[] = {"kip_pelCopyWindow8", "kip_pelCopyWindow16", "kip_pelCopyWindow32"};
  const int kind = in.byte() % 3;
  const char* name = kNames[kind];
  const kimg_window source = makeWindow(in, base);
  Alias alias;
  kimg_window destination{};
  if (allowAlias && in.flag()) {
    alias.bind(in, base, pelSize == 1 || pelSize == 2 || pelSize == 4 ? pelSize : 1);
    destination = ExactImage::windowOf(&alias.image);
  } else {
    destination = makeWindow(in, base);
  }
  Guard record;
  record.value(&destination);
  static constexpr decltype(&kip_pelCopyWindow8) kCopies[] = {kip_pelCopyWindow8, kip_pelCopyWindow16,
                                                              kip_pelCopyWindow32};
  const int32_t status =
      runCall(in, name, [&] { return kCopies[kind](&source, &destination); }, Guard().image(base.get()));
  record.expectUnchanged(name);
  const int32_t size = 1 << kind;
  KIPFUZZ_CHECK(status < 0 || (describesPels(source) && source.pelSize == size && destination.pelSize == size), name,
                "accepted a bad window");
}

// Narrowing, common rectangles and fills of hostile windows.
void checkWindows(Input& in, const ExactImage& base) {
  kimg_window window = makeWindow(in, base);
  const int32_t x = in.range(-5, 60), y = in.range(-5, 60), w = in.range(-2, 60), h = in.range(-2, 60);
  int32_t clipped = 9;
  const bool withFlag = in.flag();
  runCall(
      in, "kimg_window_window", [&] { return kimg_window_window(&window, x, y, w, h, withFlag ? &clipped : nullptr); },
      Guard().value(&window).value(&clipped));
  kstd_rect32 common{-1, -1, -1, -1};
  int32_t isEmpty = 5;
  const kimg_window other = makeWindow(in, base);
  checkStatus("kimg_windowConst_gcr", kimg_windowConst_gcr(&window, &other, &common, &isEmpty));
  const uint16_t value = in.u16();
  kimg_window target = window;
  const bool sixteen = in.flag();
  runCall(
      in, "kip_pelSetWindow",
      [&] {
        return sixteen ? kip_pelSetWindow16(&target, value) : kip_pelSetWindow8(&target, static_cast<uint8_t>(value));
      },
      Guard().image(base.get()));
}

// Image records and vectors: construction with hostile sizes (a huge one fails for memory), pel
// copies between whole images, client transforms, and vector resizes.
void checkImages(Input& in, const ExactImage& base) {
  kimg_image made{};
  kimg_image_constructUnbound(&made);
  const int32_t pelSize = in.flag() ? 1 : in.range(0, 5);
  const int32_t width = in.oneIn(8) ? in.count() : in.extent(60), height = in.oneIn(8) ? in.count() : in.extent(60);
  const int32_t status = runCall(in, "kimg_image_construct",
                                 [&] { return kimg_image_construct(&made, pelSize, width, height); });
  kimg_window from{}, to{};
  if (status >= 0) {
    made.xOrigin = in.origin();
    made.yOrigin = in.origin();
  }
  // Pel copies by pel-grid place, from the fuzzed image into the new one, of the same pel size.
  if (status >= 0 && base.bound() && base.get()->pelSize == pelSize && (pelSize == 1 || pelSize == 2) &&
      kimg_windowConst_init(&from, base.get()) >= 0 && kimg_windowConst_init(&to, &made) >= 0) {
    runCall(in, "kip_pelCopy",
            [&] { return pelSize == 1 ? kip_pelCopy8(base.get(), &made) : kip_pelCopy16(base.get(), &made); });
  }
  const kmath_xformLinear xform = in.xform();
  Guard().value(&made).check("kimg_image_setLinearImageFromClientXform",
                             kimg_image_setLinearImageFromClientXform(&made, &xform));
  kimg_image shared{};
  kimg_image_constructUnbound(&shared);
  checkStatus("kimg_image_assign", kimg_image_assign(&shared, &made));
  checkStatus("kimg_image_destruct", kimg_image_destruct(&made));
  checkStatus("kimg_image_setUnbound", kimg_image_setUnbound(&shared));
  checkStatus("kimg_image_destruct", kimg_image_destruct(&shared));

  kstd_vector32 vector{};
  kstd_vector32_construct(&vector);
  for (int k = 0; k < 3; ++k) {
    const int32_t length = in.flag() ? in.range(0, 300) : in.count();
    runCall(in, "kstd_vector32_resize", [&] { return kstd_vector32_resize(&vector, length); }, Guard().value(&vector));
  }
  kstd_vector32_destruct(&vector);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const Session session(in, "aligned");
  const uint8_t what = in.byte();
  // An image that another one aliases at other strides must keep its row gaps readable.
  const bool aliasable = in.flag();
  const int32_t pelSizes[] = {1, 2, 4, 0};
  const int32_t pelSize = pelSizes[in.byte() % 4];
  std::unique_ptr<ExactImage> base;
  if (in.oneIn(16)) {
    base = std::make_unique<ExactImage>();
  } else {
    const int32_t width = in.extent(70), height = in.extent(70);
    base = std::make_unique<ExactImage>(pelSize == 0 ? 1 : pelSize, width, height, in.stride(width) % 200, in.u32(),
                                        !aliasable);
    if (base->bound()) base->get()->xOrigin = in.origin(), base->get()->yOrigin = in.origin();
  }
  switch (what % 8) {
    case 0: case 1: checkPelCopy(in, *base, aliasable); break;
    case 2: checkWindows(in, *base); break;
    case 3: checkImages(in, *base); break;
    default: checkAligned(in, *base, aliasable); break;
  }
  return 0;
}
