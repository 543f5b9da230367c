// Images, windows, pel fills and copies, rectangles and vectors of the platform layer.
#include "platform/image.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

using kiptest::ScopedImage;
using kiptest::ScopedVector;
using kiptest::sweepAllocationFailures;

bool sameWindow(const kimg_window& a, const kimg_window& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Address of the pel at pel-grid (x, y) of an image.
template <typename Pel>
Pel* pelAt(const kimg_image& image, int32_t x, int32_t y) {
  return static_cast<Pel*>(image.firstPel) + static_cast<ptrdiff_t>(y - image.yOrigin) * image.stride +
         (x - image.xOrigin);
}

// ---------------------------------------------------------------------------------------------
// Construction, binding and sharing

class ImagePelSize : public testing::TestWithParam<int32_t> {};

TEST_P(ImagePelSize, ConstructGivesZeroedImageAtOriginWithIdentity) {
  const int32_t pelSize = GetParam();
  ScopedImage image(pelSize, 7, 5);
  const kimg_image& record = *image.get();
  EXPECT_EQ(record.width, 7);
  EXPECT_EQ(record.height, 5);
  EXPECT_EQ(record.xOrigin, 0);
  EXPECT_EQ(record.yOrigin, 0);
  EXPECT_EQ(record.pelSize, pelSize);
  EXPECT_EQ(record.stride, 7);
  const auto* bytes = static_cast<const unsigned char*>(record.firstPel);
  for (int32_t i = 0; i < 7 * 5 * pelSize; ++i) ASSERT_EQ(bytes[i], 0) << i;
  kmath_xformLinear xform{};
  ASSERT_EQ(kimg_imageConst_getLinearImageFromClientXform(image.get(), &xform), 0);
  EXPECT_EQ(xform.tx, 0.0);
  EXPECT_EQ(xform.ty, 0.0);
  EXPECT_EQ(xform.e0, 1.0);
  EXPECT_EQ(xform.e1, 0.0);
  EXPECT_EQ(xform.e2, 0.0);
  EXPECT_EQ(xform.e3, 1.0);

  image.get()->xOrigin = -4;
  image.get()->yOrigin = 3;
  const kimg_window window = image.window();
  EXPECT_EQ(window.xOrigin, -4);
  EXPECT_EQ(window.yOrigin, 3);
  EXPECT_EQ(window.width, 7);
  EXPECT_EQ(window.height, 5);
  EXPECT_EQ(window.stride, 7);
  EXPECT_EQ(window.pelSize, pelSize);
  EXPECT_EQ(window.firstPel, record.firstPel);
  EXPECT_EQ(window.bandOffset, 0);
}

TEST_P(ImagePelSize, ZeroExtentIsBoundWithoutPels) {
  for (auto [width, height] : {std::pair{0, 4}, std::pair{4, 0}, std::pair{0, 0}}) {
    ScopedImage image(GetParam(), width, height);
    int32_t bound = 0;
    ASSERT_EQ(kimg_imageConst_getIsBound(image.get(), &bound), 0);
    EXPECT_EQ(bound, 1);
    const kimg_window window = image.window();
    EXPECT_EQ(window.width, width);
    EXPECT_EQ(kip_pelfunc_checkMemoryOverlap(&window, &window), 0) << "empty windows never overlap";
  }
}

INSTANTIATE_TEST_SUITE_P(PelSizes, ImagePelSize, testing::Values(1, 2, 4));

struct BadImageArgs {
  int32_t pelSize, width, height, status;
};

class ImageBadArgs : public testing::TestWithParam<BadImageArgs> {};

TEST_P(ImageBadArgs, ConstructLeavesUnboundAndAssignNewLeavesImageAsItWas) {
  const BadImageArgs& args = GetParam();
  const int64_t liveBefore = ksys_memory_testLiveBlocks();
  kimg_image image;
  std::memset(&image, 0xA5, sizeof image);  // construct must not read the old record
  EXPECT_EQ(kimg_image_construct(&image, args.pelSize, args.width, args.height), args.status);
  int32_t bound = 1;
  ASSERT_EQ(kimg_imageConst_getIsBound(&image, &bound), 0);
  EXPECT_EQ(bound, 0);
  EXPECT_EQ(kimg_image_destruct(&image), 0);

  ScopedImage held(2, 3, 3);
  const kimg_image before = *held.get();
  EXPECT_EQ(kimg_image_assignNew(held.get(), args.pelSize, args.width, args.height), args.status);
  EXPECT_EQ(std::memcmp(&before, held.get(), sizeof before), 0);

  std::vector<uint8_t> pels(64);
  EXPECT_EQ(kimg_image_bindExternal(held.get(), pels.data(), args.pelSize, args.width, args.height, args.width),
            args.status);
  EXPECT_EQ(std::memcmp(&before, held.get(), sizeof before), 0);
  kimg_image_destruct(held.get());
  EXPECT_EQ(ksys_memory_testLiveBlocks(), liveBefore);
}

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Refused, ImageBadArgs,
    testing::Values(BadImageArgs{0, 4, 4, KIP_ERR_PEL_SIZE}, BadImageArgs{3, 4, 4, KIP_ERR_PEL_SIZE},
                    BadImageArgs{8, 4, 4, KIP_ERR_PEL_SIZE}, BadImageArgs{1, -1, 4, KIP_ERR_BAD_SIZE},
                    BadImageArgs{1, 4, -1, KIP_ERR_BAD_SIZE},
                    BadImageArgs{4, kMax, kMax, KIP_ERR_BAD_SIZE}));  // bytes overflow 63 bits

TEST(Image, NullArguments) {
  kimg_image image;
  kimg_image_constructUnbound(&image);
  int32_t flag = 0;
  kmath_xformLinear xform{};
  kstd_rect32 rect{};
  EXPECT_EQ(kimg_image_destruct(nullptr), 0);
  EXPECT_EQ(kimg_image_construct(nullptr, 1, 1, 1), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kimg_image_constructUnbound(nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kimg_image_assignNew(nullptr, 1, 1, 1), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kimg_image_assign(&image, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kimg_image_assign(nullptr, &image), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kimg_image_setUnbound(nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kimg_image_getIsBound(&image, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kimg_imageConst_getIsBound(nullptr, &flag), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kimg_imageConst_getLinearImageFromClientXform(&image, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kimg_image_setLinearImageFromClientXform(nullptr, &xform), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kimg_image_copyXforms(&image, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kimg_imageConst_gcr(&image, &image, nullptr, &flag), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kimg_imageConst_gcr(&image, &image, &rect, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kimg_image_bindExternal(&image, nullptr, 1, 2, 2, 2), KIP_ERR_NULL_POINTER);
}

TEST(Image, AssignSharesStorageThatOutlivesTheOriginal) {
  const int64_t liveBefore = ksys_memory_testLiveBlocks();
  {
    ScopedImage copy;
    {
      ScopedImage original(2, 5, 4);
      original.get()->xOrigin = -2;
      original.get()->yOrigin = 7;
      const kmath_xformLinear xform{1.5, -2.0, 2.0, 0.5, -0.5, 3.0};
      ASSERT_EQ(kimg_image_setLinearImageFromClientXform(original.get(), &xform), 0);
      ASSERT_EQ(kimg_image_assign(copy.get(), original.get()), 0);
      EXPECT_EQ(std::memcmp(copy.get(), original.get(), sizeof(kimg_image)), 0);
      original.at<uint16_t>(4, 3) = 0xBEEF;  // a write through one shows through the other
      EXPECT_EQ(copy.at<uint16_t>(4, 3), 0xBEEF);
    }
    EXPECT_EQ(copy.at<uint16_t>(4, 3), 0xBEEF);
    ASSERT_EQ(kip_pelSet16(copy.get(), 9), 0);
    EXPECT_EQ(copy.at<uint16_t>(0, 0), 9);
    EXPECT_EQ(copy.get()->xOrigin, -2);
    EXPECT_GT(ksys_memory_testLiveBlocks(), liveBefore);
  }
  EXPECT_EQ(ksys_memory_testLiveBlocks(), liveBefore);
}

TEST(Image, AssignReleasesTheOldStorageAndToleratesSelfAndSharedAssignment) {
  const int64_t liveBefore = ksys_memory_testLiveBlocks();
  {
    ScopedImage a(1, 4, 4);
    ScopedImage b(1, 6, 2);
    const int64_t liveWithBoth = ksys_memory_testLiveBlocks();
    ASSERT_EQ(kimg_image_assign(a.get(), a.get()), 0);
    ASSERT_EQ(kimg_image_assign(a.get(), b.get()), 0);
    EXPECT_LT(ksys_memory_testLiveBlocks(), liveWithBoth) << "a's own storage is freed";
    ASSERT_EQ(kimg_image_assign(a.get(), b.get()), 0);  // already shared: must not drop it
    b.at<uint8_t>(5, 1) = 77;
    EXPECT_EQ(a.at<uint8_t>(5, 1), 77);
    EXPECT_EQ(a.get()->width, 6);
  }
  EXPECT_EQ(ksys_memory_testLiveBlocks(), liveBefore);
}

TEST(Image, AssignOfUnboundSourceUnbindsButKeepsGeometry) {
  ScopedImage source(1, 3, 2);
  source.get()->xOrigin = 11;
  ASSERT_EQ(kimg_image_setUnbound(source.get()), 0);
  EXPECT_EQ(source.get()->width, 3);
  EXPECT_EQ(source.get()->xOrigin, 11);

  ScopedImage destination(1, 8, 8);
  ASSERT_EQ(kimg_image_assign(destination.get(), source.get()), 0);
  int32_t bound = 1;
  ASSERT_EQ(kimg_image_getIsBound(destination.get(), &bound), 0);
  EXPECT_EQ(bound, 0);
  EXPECT_EQ(destination.get()->width, 3);
  EXPECT_EQ(destination.get()->xOrigin, 11);
  kimg_window window{};
  EXPECT_EQ(kimg_window_init(&window, destination.get()), KIP_ERR_NOT_BOUND);
  EXPECT_EQ(kip_pelSet8(destination.get(), 1), KIP_ERR_NOT_BOUND);
}

TEST(Image, BindExternalUsesCallerPelsInPlace) {
  // 3 x 2 pels of 16 bits in rows of 5, the padding marked.
  std::vector<uint16_t> pels = {1, 2, 3, 0xEEEE, 0xEEEE, 4, 5, 6, 0xEEEE, 0xEEEE};
  const int64_t liveBefore = ksys_memory_testLiveBlocks();
  {
    ScopedImage image;
    ASSERT_EQ(kimg_image_bindExternal(image.get(), pels.data(), 2, 3, 2, 5), 0);
    EXPECT_EQ(image.get()->firstPel, pels.data());
    EXPECT_EQ(image.at<uint16_t>(2, 1), 6);

    ScopedImage copy(2, 3, 2);
    ASSERT_EQ(kip_pelCopy16(image.get(), copy.get()), 0);
    EXPECT_EQ(copy.at<uint16_t>(0, 1), 4);

    ASSERT_EQ(kip_pelSet16(image.get(), 0x1234), 0);
    EXPECT_EQ(pels, (std::vector<uint16_t>{0x1234, 0x1234, 0x1234, 0xEEEE, 0xEEEE, 0x1234, 0x1234, 0x1234, 0xEEEE,
                                           0xEEEE}));
    ScopedImage shared;
    ASSERT_EQ(kimg_image_assign(shared.get(), image.get()), 0);
  }
  // The caller's pels are never freed (the sanitizer would see a free of a vector's block).
  EXPECT_EQ(ksys_memory_testLiveBlocks(), liveBefore);
  EXPECT_EQ(pels[0], 0x1234);

  ScopedImage image;
  EXPECT_EQ(kimg_image_bindExternal(image.get(), pels.data(), 2, 3, 2, 2), KIP_ERR_BAD_SIZE) << "stride < width";
  EXPECT_EQ(kimg_image_bindExternal(image.get(), pels.data(), 2, 3, 2, -1), KIP_ERR_BAD_SIZE);
  EXPECT_EQ(kimg_image_bindExternal(image.get(), pels.data(), 4, kMax, kMax, kMax), KIP_ERR_BAD_SIZE);
  EXPECT_EQ(kimg_image_bindExternal(image.get(), nullptr, 1, 0, 5, 0), 0) << "no pels needs no pointer";
}

TEST(Image, ClientTransformsAreKeptCopiedAndCheckedForFiniteness) {
  ScopedImage a(1, 2, 2);
  ScopedImage b(1, 2, 2);
  const kmath_xformLinear xform{3.0, 4.0, 0.0, -1.0, 1.0, 0.0};
  ASSERT_EQ(kimg_image_setLinearImageFromClientXform(a.get(), &xform), 0);
  ASSERT_EQ(kimg_image_assignNew(a.get(), 2, 9, 9), 0);  // new storage keeps the transform
  ASSERT_EQ(kimg_image_copyXforms(b.get(), a.get()), 0);
  kmath_xformLinear read{};
  ASSERT_EQ(kimg_imageConst_getLinearImageFromClientXform(b.get(), &read), 0);
  EXPECT_EQ(std::memcmp(&read, &xform, sizeof read), 0);

  for (double poison : {std::nan(""), std::numeric_limits<double>::infinity()}) {
    kmath_xformLinear bad = xform;
    bad.e3 = poison;
    EXPECT_EQ(kimg_image_setLinearImageFromClientXform(b.get(), &bad), KIP_ERR_NOT_FINITE);
  }
  ASSERT_EQ(kimg_imageConst_getLinearImageFromClientXform(b.get(), &read), 0);
  EXPECT_EQ(read.e3, 0.0);
}

// ---------------------------------------------------------------------------------------------
// Allocation failures

TEST(ImageAllocation, EveryFailureOfConstructReportsAndLeaksNothing) {
  kimg_image image;
  kimg_image_constructUnbound(&image);
  const int made = sweepAllocationFailures(
      [&] {
        kimg_image_destruct(&image);
        return kimg_image_construct(&image, 2, 40, 30);
      },
      [&] {
        int32_t bound = 1;
        kimg_imageConst_getIsBound(&image, &bound);
        EXPECT_EQ(bound, 0);
      });
  EXPECT_GE(made, 1);
  kimg_image_destruct(&image);
}

TEST(ImageAllocation, EveryFailureOfAssignNewAndBindExternalLeavesTheImageAsItWas) {
  ScopedImage image(1, 5, 5);
  image.at<uint8_t>(4, 4) = 42;
  const kimg_image before = *image.get();
  kimg_image fresh;
  kimg_image_constructUnbound(&fresh);
  auto unchanged = [&] {
    EXPECT_EQ(std::memcmp(&before, image.get(), sizeof before), 0);
    EXPECT_EQ(image.at<uint8_t>(4, 4), 42);
  };
  sweepAllocationFailures(
      [&] {
        kimg_image_destruct(&fresh);
        kimg_image_assign(&fresh, image.get());
        return kimg_image_assignNew(image.get(), 4, 100, 3);
      },
      unchanged);
  // Put the original back to sweep the external binding from the same state.
  ASSERT_EQ(kimg_image_assign(image.get(), &fresh), 0);
  kimg_image_destruct(&fresh);
  std::vector<uint8_t> pels(16);
  sweepAllocationFailures(
      [&] {
        kimg_image_destruct(&fresh);
        kimg_image_assign(&fresh, image.get());
        return kimg_image_bindExternal(image.get(), pels.data(), 1, 4, 4, 4);
      },
      unchanged);
  EXPECT_EQ(image.get()->firstPel, pels.data());
  kimg_image_destruct(&fresh);
}

TEST(ImageAllocation, EveryFailureOfVectorResizeLeavesTheVectorAsItWas) {
  ScopedVector vector;
  ASSERT_EQ(kstd_vector32_resize(vector.get(), 3), 0);
  vector.get()->begin[0] = 10;
  vector.get()->begin[2] = 12;
  const kstd_vector32 before = *vector.get();
  sweepAllocationFailures(
      [&] {
        if (vector.get()->size != 3) EXPECT_EQ(kstd_vector32_resize(vector.get(), 3), 0);
        return kstd_vector32_resize(vector.get(), 1000);
      },
      [&] {
        EXPECT_EQ(std::memcmp(&before, vector.get(), sizeof before), 0);
        EXPECT_EQ(vector.values(), (std::vector<uint32_t>{10, 0, 12}));
      });
  const std::vector<uint32_t> values = vector.values();
  ASSERT_EQ(values.size(), 1000u);
  EXPECT_EQ(values[2], 12u);
}

// ---------------------------------------------------------------------------------------------
// Windows

struct NarrowCase {
  const char* name;
  kstd_rect32 rect;
  bool withFlag;
  int32_t status;
  kstd_rect32 result;  // expected window extent when the status is 0
  int32_t clipped;
};

// The image is 10 x 8 at pel-grid origin (-3, 2): it covers x -3..6, y 2..9.
class WindowNarrow : public testing::TestWithParam<NarrowCase> {};

TEST_P(WindowNarrow, NarrowsInThePelGrid) {
  const NarrowCase& c = GetParam();
  ScopedImage image(2, 10, 8);
  image.get()->xOrigin = -3;
  image.get()->yOrigin = 2;
  kimg_window window = image.window();
  const kimg_window before = window;
  int32_t clipped = -1;
  const int32_t status = kimg_window_windowRect(&window, &c.rect, c.withFlag ? &clipped : nullptr);
  ASSERT_EQ(status, c.status);
  if (status < 0) {
    EXPECT_TRUE(sameWindow(window, before));
    EXPECT_EQ(clipped, -1);
    return;
  }
  EXPECT_EQ(window.xOrigin, c.result.x);
  EXPECT_EQ(window.yOrigin, c.result.y);
  EXPECT_EQ(window.width, c.result.width);
  EXPECT_EQ(window.height, c.result.height);
  if (c.withFlag) EXPECT_EQ(clipped, c.clipped);
  EXPECT_EQ(window.stride, 10);
  EXPECT_EQ(window.pelSize, 2);
  EXPECT_EQ(window.bandOffset, 0);
  if (window.width > 0 && window.height > 0) {
    EXPECT_EQ(window.firstPel, pelAt<uint16_t>(*image.get(), c.result.x, c.result.y));
  }
  EXPECT_EQ(kimg_window_validate(&window, 2), 0);

  // The same through initWindow, which must agree field for field.
  kimg_window direct{};
  int32_t directClipped = -1;
  ASSERT_EQ(kimg_window_initWindow(&direct, image.get(), &c.rect, c.withFlag ? &directClipped : nullptr), 0);
  EXPECT_TRUE(sameWindow(direct, window));
  EXPECT_EQ(directClipped, c.withFlag ? c.clipped : -1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowNarrow,
    testing::Values(
        NarrowCase{"Whole", {-3, 2, 10, 8}, false, 0, {-3, 2, 10, 8}, 0},
        NarrowCase{"InsideNoFlag", {-1, 4, 3, 2}, false, 0, {-1, 4, 3, 2}, 0},
        NarrowCase{"InsideFlag", {-1, 4, 3, 2}, true, 0, {-1, 4, 3, 2}, 0},
        NarrowCase{"LastPel", {6, 9, 1, 1}, false, 0, {6, 9, 1, 1}, 0},
        NarrowCase{"EmptyInside", {0, 5, 0, 3}, false, 0, {0, 5, 0, 3}, 0},
        NarrowCase{"ReachesLeftNoFlag", {-4, 4, 3, 2}, false, KIP_ERR_OUTSIDE_WINDOW, {}, 0},
        NarrowCase{"ReachesBelowNoFlag", {0, 9, 1, 2}, false, KIP_ERR_OUTSIDE_WINDOW, {}, 0},
        NarrowCase{"ReachesLeftFlag", {-4, 4, 3, 2}, true, 0, {-3, 4, 2, 2}, 1},
        NarrowCase{"CoversAllFlag", {-100, -100, 300, 300}, true, 0, {-3, 2, 10, 8}, 1},
        NarrowCase{"DisjointFlag", {7, 2, 5, 5}, true, 0, {-3, 2, 0, 0}, 1},
        NarrowCase{"DisjointNoFlag", {7, 2, 5, 5}, false, KIP_ERR_OUTSIDE_WINDOW, {}, 0},
        NarrowCase{"OverflowingEndFlag", {5, 3, kMax, kMax}, true, 0, {5, 3, 2, 7}, 1},
        NarrowCase{"OverflowingEndNoFlag", {5, 3, kMax, 1}, false, KIP_ERR_OUTSIDE_WINDOW, {}, 0},
        NarrowCase{"MostNegative", {INT32_MIN, INT32_MIN, kMax, kMax}, true, 0, {-3, 2, 0, 0}, 1},
        NarrowCase{"NegativeWidth", {0, 3, -1, 2}, true, KIP_ERR_BAD_SIZE, {}, 0},
        NarrowCase{"NegativeHeight", {0, 3, 1, -2}, false, KIP_ERR_BAD_SIZE, {}, 0}),
    [](const testing::TestParamInfo<NarrowCase>& info) { return info.param.name; });

TEST(Window, WindowOfWindowUsesPelGridCoordinates) {
  ScopedImage image(1, 20, 20);
  image.get()->xOrigin = -5;
  image.get()->yOrigin = -5;
  for (int32_t y = 0; y < 20; ++y) {
    for (int32_t x = 0; x < 20; ++x) image.at<uint8_t>(x, y) = static_cast<uint8_t>(y * 20 + x);
  }
  kimg_window window = image.window();
  ASSERT_EQ(kimg_window_window(&window, 0, 0, 10, 10, nullptr), 0);
  // (2, 3) is a pel-grid position, not an offset from the window's corner.
  ASSERT_EQ(kimg_windowConst_window(&window, 2, 3, 4, 4, nullptr), 0);
  EXPECT_EQ(window.xOrigin, 2);
  EXPECT_EQ(window.yOrigin, 3);
  EXPECT_EQ(*kimg_window_pel<uint8_t>(window, 0, 0), (3 + 5) * 20 + (2 + 5));
  EXPECT_EQ(*kimg_window_pel<uint8_t>(window, 3, 3), (6 + 5) * 20 + (5 + 5));
  // The outer window's part that the inner no longer has is refused without a flag...
  EXPECT_EQ(kimg_window_window(&window, 0, 0, 3, 3, nullptr), KIP_ERR_OUTSIDE_WINDOW);
  // ...and clipped with one.
  int32_t clipped = 0;
  ASSERT_EQ(kimg_window_window(&window, 0, 0, 3, 4, &clipped), 0);
  EXPECT_EQ(clipped, 1);
  EXPECT_EQ(window.xOrigin, 2);
  EXPECT_EQ(window.width, 1);
  EXPECT_EQ(window.height, 1);
  EXPECT_EQ(*kimg_window_pel<uint8_t>(window, 0, 0), (3 + 5) * 20 + (2 + 5));
  // An empty window stays valid and stays empty.
  ASSERT_EQ(kimg_window_window(&window, 50, 50, 3, 3, &clipped), 0);
  EXPECT_EQ(window.width, 0);
  ASSERT_EQ(kimg_window_window(&window, 2, 3, 3, 3, &clipped), 0);
  EXPECT_EQ(window.width, 0);
  EXPECT_EQ(kip_pelSetWindow8(&window, 1), 0);
}

TEST(Window, InitRefusesUnboundAndNull) {
  ScopedImage unbound;
  kimg_window window{};
  kstd_rect32 rect{0, 0, 0, 0};
  EXPECT_EQ(kimg_window_init(&window, unbound.get()), KIP_ERR_NOT_BOUND);
  EXPECT_EQ(kimg_windowConst_init(&window, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kimg_window_init(nullptr, unbound.get()), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kimg_window_initWindow(&window, unbound.get(), &rect, nullptr), KIP_ERR_NOT_BOUND);
  EXPECT_EQ(kimg_window_windowRect(&window, nullptr, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kimg_window_window(nullptr, 0, 0, 0, 0, nullptr), KIP_ERR_NULL_POINTER);
  ASSERT_EQ(kimg_window_initUnbound(&window), 0);
  EXPECT_TRUE(sameWindow(window, kimg_window{}));
}

struct ValidateCase {
  const char* name;
  kimg_window window;
  int32_t askedPelSize;
  int32_t status;
};

class WindowValidate : public testing::TestWithParam<ValidateCase> {};

TEST_P(WindowValidate, Status) {
  const ValidateCase& c = GetParam();
  kimg_window window = c.window;
  static uint32_t pels[64];
  if (window.firstPel == reinterpret_cast<void*>(1)) window.firstPel = pels;
  EXPECT_EQ(kimg_window_validate(&window, c.askedPelSize), c.status);
}

void* const kPels = reinterpret_cast<void*>(1);  // replaced by real memory in the test

kimg_window makeWindow(int32_t w, int32_t h, int32_t x, int32_t y, int32_t stride, void* first, int32_t pelSize) {
  kimg_window window{};
  window.width = w;
  window.height = h;
  window.xOrigin = x;
  window.yOrigin = y;
  window.stride = stride;
  window.firstPel = first;
  window.pelSize = pelSize;
  return window;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WindowValidate,
    testing::Values(ValidateCase{"Good", makeWindow(4, 4, -2, 9, 8, kPels, 4), 0, 0},
                    ValidateCase{"GoodAsked", makeWindow(4, 4, 0, 0, 8, kPels, 2), 2, 0},
                    ValidateCase{"EmptyWithoutPels", makeWindow(0, 4, 0, 0, 0, nullptr, 1), 1, 0},
                    ValidateCase{"OtherPelSize", makeWindow(4, 4, 0, 0, 8, kPels, 2), 1, KIP_ERR_PEL_SIZE},
                    ValidateCase{"PelSize3", makeWindow(4, 4, 0, 0, 8, kPels, 3), 0, KIP_ERR_PEL_SIZE},
                    ValidateCase{"PelSize0", makeWindow(0, 0, 0, 0, 0, nullptr, 0), 0, KIP_ERR_PEL_SIZE},
                    ValidateCase{"NegativeWidth", makeWindow(-1, 4, 0, 0, 8, kPels, 1), 0, KIP_ERR_BAD_SIZE},
                    ValidateCase{"NegativeHeight", makeWindow(1, -4, 0, 0, 8, kPels, 1), 0, KIP_ERR_BAD_SIZE},
                    ValidateCase{"StrideBelowWidth", makeWindow(9, 4, 0, 0, 8, kPels, 1), 0, KIP_ERR_BAD_SIZE},
                    ValidateCase{"NullPels", makeWindow(1, 1, 0, 0, 1, nullptr, 1), 0, KIP_ERR_BAD_SIZE},
                    ValidateCase{"SpanOverflows", makeWindow(kMax, kMax, 0, 0, kMax, kPels, 4), 0,
                                 KIP_ERR_BAD_SIZE},
                    ValidateCase{"HugeStrideFits", makeWindow(1, 2, 0, 0, kMax, kPels, 4), 0, 0},
                    ValidateCase{"FarEdgeBeyondInt32", makeWindow(4, 1, kMax - 2, 0, 4, kPels, 1), 0,
                                 KIP_ERR_OUT_OF_RANGE},
                    ValidateCase{"FarEdgeAtInt32", makeWindow(4, 1, kMax - 4, 0, 4, kPels, 1), 0, 0}),
    [](const testing::TestParamInfo<ValidateCase>& info) { return info.param.name; });

TEST(Window, ValidateRefusesAPelSpanPastTheEndOfTheAddressSpace) {
  kimg_window window = makeWindow(16, 1, 0, 0, 16, reinterpret_cast<void*>(UINTPTR_MAX - 7), 1);
  EXPECT_EQ(kimg_window_validate(&window, 1), KIP_ERR_BAD_SIZE);
  EXPECT_EQ(kimg_window_validate(nullptr, 0), KIP_ERR_NULL_POINTER);
}

struct GcrCase {
  kstd_rect32 a, b;
  bool empty;
  kstd_rect32 common;
};

class CommonRect : public testing::TestWithParam<GcrCase> {};

TEST_P(CommonRect, OfWindowsAndImagesAlike) {
  const GcrCase& c = GetParam();
  kimg_window a = makeWindow(c.a.width, c.a.height, c.a.x, c.a.y, c.a.width, nullptr, 1);
  kimg_window b = makeWindow(c.b.width, c.b.height, c.b.x, c.b.y, c.b.width, nullptr, 1);
  const kstd_rect32 untouched{-7, -7, -7, -7};
  for (int order = 0; order < 2; ++order) {
    kstd_rect32 common = untouched;
    int32_t empty = -1;
    ASSERT_EQ(kimg_windowConst_gcr(order ? &b : &a, order ? &a : &b, &common, &empty), 0);
    EXPECT_EQ(empty, c.empty ? 1 : 0);
    const kstd_rect32 expected = c.empty ? untouched : c.common;
    int32_t differs = -1;
    ASSERT_EQ(kstd_rect32_compare(&common, &expected, &differs), 0);
    EXPECT_EQ(differs, 0);
  }
  kimg_image ia, ib;
  kimg_image_constructUnbound(&ia);
  kimg_image_constructUnbound(&ib);
  ia.xOrigin = c.a.x, ia.yOrigin = c.a.y, ia.width = c.a.width, ia.height = c.a.height;
  ib.xOrigin = c.b.x, ib.yOrigin = c.b.y, ib.width = c.b.width, ib.height = c.b.height;
  kstd_rect32 common = untouched;
  int32_t empty = -1;
  ASSERT_EQ(kimg_imageConst_gcr(&ia, &ib, &common, &empty), 0);
  EXPECT_EQ(empty, c.empty ? 1 : 0);
  if (!c.empty) EXPECT_EQ(std::memcmp(&common, &c.common, sizeof common), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, CommonRect,
                         testing::Values(GcrCase{{0, 0, 10, 10}, {3, 4, 20, 2}, false, {3, 4, 7, 2}},
                                         GcrCase{{-5, -6, 4, 4}, {-3, -3, 4, 4}, false, {-3, -3, 2, 1}},
                                         GcrCase{{0, 0, 10, 10}, {10, 0, 5, 5}, true, {}},  // touching edges
                                         GcrCase{{0, 0, 10, 10}, {0, 10, 5, 5}, true, {}},
                                         GcrCase{{0, 0, 0, 10}, {0, 0, 5, 5}, true, {}},
                                         GcrCase{{kMax - 3, 0, kMax, 1}, {0, 0, kMax, 1}, false,
                                                 {kMax - 3, 0, 3, 1}}));

TEST(CommonRect, RefusesNegativeExtents) {
  kimg_window a = makeWindow(-1, 2, 0, 0, 2, nullptr, 1);
  kimg_window b = makeWindow(2, 2, 0, 0, 2, nullptr, 1);
  kstd_rect32 common{};
  int32_t empty = 0;
  EXPECT_EQ(kimg_windowConst_gcr(&a, &b, &common, &empty), KIP_ERR_BAD_SIZE);
  EXPECT_EQ(kimg_windowConst_gcr(&b, nullptr, &common, &empty), KIP_ERR_NULL_POINTER);
}

// ---------------------------------------------------------------------------------------------
// Pel fills, copies, maximum and overlap

TEST(PelCopy, PaddedImageWithNegativeOriginReceivesTheSourceAtItsOwnCoordinates) {
  ScopedImage source(1, 4, 3);
  kiptest::fillRandom8(source.get(), 5);
  ScopedImage padded(1, 8, 6);
  padded.get()->xOrigin = -2;
  padded.get()->yOrigin = -1;
  ASSERT_EQ(kip_pelSet8(padded.get(), 200), 0);
  ASSERT_EQ(kip_pelCopy8(source.get(), padded.get()), 0);
  for (int32_t y = -1; y < 5; ++y) {
    for (int32_t x = -2; x < 6; ++x) {
      const bool inSource = x >= 0 && x < 4 && y >= 0 && y < 3;
      const uint8_t expected = inSource ? *pelAt<uint8_t>(*source.get(), x, y) : 200;
      ASSERT_EQ(*pelAt<uint8_t>(*padded.get(), x, y), expected) << x << "," << y;
    }
  }
}

TEST(PelCopy, NoCommonPartCopiesNothingAndSucceeds) {
  ScopedImage source(2, 4, 4);
  ASSERT_EQ(kip_pelSet16(source.get(), 7), 0);
  source.get()->xOrigin = 4;  // right next to the destination, sharing no pel
  ScopedImage destination(2, 4, 4);
  ASSERT_EQ(kip_pelCopy16(source.get(), destination.get()), 0);
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 4; ++x) ASSERT_EQ(destination.at<uint16_t>(x, y), 0);
  }
}

TEST(PelCopy, RefusesPelSizeMismatchAndUnboundImages) {
  ScopedImage eight(1, 4, 4);
  ScopedImage sixteen(2, 4, 4);
  ScopedImage unbound;
  EXPECT_EQ(kip_pelCopy8(eight.get(), sixteen.get()), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(kip_pelCopy16(eight.get(), sixteen.get()), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(kip_pelCopy8(unbound.get(), eight.get()), KIP_ERR_NOT_BOUND);
  EXPECT_EQ(kip_pelCopy8(eight.get(), unbound.get()), KIP_ERR_NOT_BOUND);
  EXPECT_EQ(kip_pelCopy8(nullptr, eight.get()), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kip_pelSet16(eight.get(), 1), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(kip_pelSet8(unbound.get(), 1), KIP_ERR_NOT_BOUND);
  kimg_window w8 = eight.window();
  kimg_window w16 = sixteen.window();
  EXPECT_EQ(kip_pelCopyWindow32(&w8, &w8), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(kip_pelCopyWindow16(&w16, &w8), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(kip_pelSetWindow8(&w16, 1), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(kip_pelSetWindow16(nullptr, 1), KIP_ERR_NULL_POINTER);
}

// Random windows of random images, copied and compared with a pel-by-pel copy by pel-grid position.
class PelCopyRandom : public testing::TestWithParam<int32_t> {};

TEST_P(PelCopyRandom, MatchesAPelByPelCopyByGridPosition) {
  const int32_t pelSize = GetParam();
  std::mt19937 random(1234 + pelSize);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  for (int trial = 0; trial < 300; ++trial) {
    ScopedImage source(pelSize, uniform(0, 12), uniform(0, 9));
    ScopedImage destination(pelSize, uniform(1, 12), uniform(1, 9));
    source.get()->xOrigin = uniform(-8, 8);
    source.get()->yOrigin = uniform(-8, 8);
    destination.get()->xOrigin = uniform(-8, 8);
    destination.get()->yOrigin = uniform(-8, 8);
    auto* bytes = static_cast<unsigned char*>(source.get()->firstPel);
    for (int64_t i = 0; i < int64_t{source.get()->width} * source.get()->height * pelSize; ++i) {
      bytes[i] = static_cast<unsigned char>(random());
    }
    kimg_window from = source.window();
    kimg_window to = destination.window();
    int32_t clipped = 0;
    ASSERT_EQ(kimg_window_window(&from, uniform(-10, 10), uniform(-10, 10), uniform(0, 12), uniform(0, 12), &clipped),
              0);
    ASSERT_EQ(kimg_window_window(&to, uniform(-10, 10), uniform(-10, 10), uniform(0, 12), uniform(0, 12), &clipped), 0);
    const std::vector<unsigned char> before(
        static_cast<unsigned char*>(destination.get()->firstPel),
        static_cast<unsigned char*>(destination.get()->firstPel) +
            destination.get()->width * destination.get()->height * pelSize);

    const int32_t status = pelSize == 1   ? kip_pelCopyWindow8(&from, &to)
                           : pelSize == 2 ? kip_pelCopyWindow16(&from, &to)
                                          : kip_pelCopyWindow32(&from, &to);
    ASSERT_EQ(status, 0);
    const kimg_image& d = *destination.get();
    for (int32_t y = d.yOrigin; y < d.yOrigin + d.height; ++y) {
      for (int32_t x = d.xOrigin; x < d.xOrigin + d.width; ++x) {
        const bool inFrom = x >= from.xOrigin && x < from.xOrigin + from.width && y >= from.yOrigin &&
                            y < from.yOrigin + from.height;
        const bool inTo = x >= to.xOrigin && x < to.xOrigin + to.width && y >= to.yOrigin && y < to.yOrigin + to.height;
        const size_t offset = (static_cast<size_t>(y - d.yOrigin) * d.stride + (x - d.xOrigin)) * pelSize;
        const unsigned char* expected = before.data() + offset;
        if (inFrom && inTo) {
          const kimg_image& s = *source.get();
          expected = static_cast<const unsigned char*>(s.firstPel) +
                     (static_cast<size_t>(y - s.yOrigin) * s.stride + (x - s.xOrigin)) * pelSize;
        }
        ASSERT_EQ(std::memcmp(static_cast<unsigned char*>(d.firstPel) + offset, expected, pelSize), 0)
            << "trial " << trial << " at " << x << "," << y;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(PelSizes, PelCopyRandom, testing::Values(1, 2, 4));

TEST(PelCopy, OverlappingWindowsOfOneImageCopyAsFromASnapshot) {
  // Shifts of one window of an image onto another, in every direction.
  for (auto [dx, dy] : {std::pair{1, 0}, std::pair{-1, 0}, std::pair{0, 1}, std::pair{0, -1}, std::pair{2, 3},
                        std::pair{-3, -1}}) {
    ScopedImage image(2, 9, 9);
    kiptest::fillRandom16(image.get(), 77);
    std::vector<uint16_t> snapshot(static_cast<uint16_t*>(image.get()->firstPel),
                                   static_cast<uint16_t*>(image.get()->firstPel) + 81);
    kimg_window from = image.window();
    ASSERT_EQ(kimg_window_window(&from, 3, 3, 3, 3, nullptr), 0);
    kimg_window to = from;
    // The destination window claims grid position (3, 3) at memory shifted by (dx, dy).
    to.firstPel = kimg_window_pel<uint16_t>(from, dx, dy);
    ASSERT_EQ(kip_pelCopyWindow16(&from, &to), 0);
    for (int32_t y = 0; y < 3; ++y) {
      for (int32_t x = 0; x < 3; ++x) {
        ASSERT_EQ(image.at<uint16_t>(3 + x + dx, 3 + y + dy), snapshot[(3 + y) * 9 + 3 + x])
            << dx << "," << dy << " at " << x << "," << y;
      }
    }
  }
}

TEST(PelFill, FillsOnlyTheWindow) {
  ScopedImage image(2, 6, 5);
  image.get()->xOrigin = 10;
  kimg_window window = image.window();
  ASSERT_EQ(kimg_window_window(&window, 11, 1, 3, 2, nullptr), 0);
  ASSERT_EQ(kip_pelSetWindow16(&window, 0xABCD), 0);
  int filled = 0;
  for (int32_t y = 0; y < 5; ++y) {
    for (int32_t x = 0; x < 6; ++x) {
      const bool inside = x >= 1 && x < 4 && y >= 1 && y < 3;
      ASSERT_EQ(image.at<uint16_t>(x, y), inside ? 0xABCD : 0) << x << "," << y;
      filled += inside;
    }
  }
  EXPECT_EQ(filled, 6);
  ScopedImage bytes(1, 5, 3);
  ASSERT_EQ(kip_pelSet8(bytes.get(), 0x5A), 0);
  EXPECT_EQ(bytes.at<uint8_t>(4, 2), 0x5A);
}

TEST(PelMax, LargestPelOfAThirtyTwoBitWindow) {
  ScopedImage image(4, 5, 3);
  image.at<uint32_t>(4, 2) = 0xFFFFFFF0u;  // outside the window below
  image.at<uint32_t>(1, 1) = 17;
  image.at<uint32_t>(3, 0) = 0x80000000u;
  kimg_window window = image.window();
  ASSERT_EQ(kimg_window_window(&window, 0, 0, 4, 2, nullptr), 0);
  uint32_t largest = 0;
  ASSERT_EQ(kip_pelUnaryMaxWindow32(&window, &largest), 0);
  EXPECT_EQ(largest, 0x80000000u);
  ASSERT_EQ(kimg_window_window(&window, 0, 0, 0, 2, nullptr), 0);
  largest = 99;
  ASSERT_EQ(kip_pelUnaryMaxWindow32(&window, &largest), 0);
  EXPECT_EQ(largest, 0u);
  ScopedImage bytes(1, 2, 2);
  kimg_window byteWindow = bytes.window();
  EXPECT_EQ(kip_pelUnaryMaxWindow32(&byteWindow, &largest), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(kip_pelUnaryMaxWindow32(&window, nullptr), KIP_ERR_NULL_POINTER);
}

TEST(PelOverlap, ComparesTheBytesTheWindowsSpan) {
  ScopedImage image(1, 10, 10);
  ScopedImage other(1, 10, 10);
  kimg_window whole = image.window();
  kimg_window top = whole, bottom = whole, left = whole, right = whole;
  ASSERT_EQ(kimg_window_window(&top, 0, 0, 10, 5, nullptr), 0);
  ASSERT_EQ(kimg_window_window(&bottom, 0, 5, 10, 5, nullptr), 0);
  ASSERT_EQ(kimg_window_window(&left, 0, 0, 5, 10, nullptr), 0);
  ASSERT_EQ(kimg_window_window(&right, 5, 0, 5, 10, nullptr), 0);
  kimg_window elsewhere = other.window();
  EXPECT_EQ(kip_pelfunc_checkMemoryOverlap(&whole, &whole), KIP_ERR_MEMORY_OVERLAP);
  EXPECT_EQ(kip_pelfunc_checkMemoryOverlap(&top, &bottom), 0);
  EXPECT_EQ(kip_pelfunc_checkMemoryOverlap(&bottom, &top), 0);
  // Side by side windows share rows: their byte spans interleave.
  EXPECT_EQ(kip_pelfunc_checkMemoryOverlap(&left, &right), KIP_ERR_MEMORY_OVERLAP);
  EXPECT_EQ(kip_pelfunc_checkMemoryOverlap(&whole, &elsewhere), 0);
  kimg_window empty = whole;
  ASSERT_EQ(kimg_window_window(&empty, 3, 3, 0, 4, nullptr), 0);
  EXPECT_EQ(kip_pelfunc_checkMemoryOverlap(&empty, &whole), 0);
  kimg_window bad = whole;
  bad.pelSize = 3;
  EXPECT_EQ(kip_pelfunc_checkMemoryOverlap(&bad, &whole), KIP_ERR_PEL_SIZE);
}

// ---------------------------------------------------------------------------------------------
// Rectangles and vectors

TEST(Rect32, InitAndCompare) {
  kstd_rect32 a{}, b{};
  ASSERT_EQ(kstd_rect32_init(&a, -1, 2, 3, 4), 0);
  ASSERT_EQ(kstd_rect32_init(&b, -1, 2, 3, 4), 0);
  int32_t result = -1;
  ASSERT_EQ(kstd_rect32_compare(&a, &b, &result), 0);
  EXPECT_EQ(result, 0);
  for (int field = 0; field < 4; ++field) {
    kstd_rect32 c = a;
    (&c.x)[field] += 1;
    ASSERT_EQ(kstd_rect32_compare(&a, &c, &result), 0);
    EXPECT_NE(result, 0) << field;
  }
  EXPECT_EQ(kstd_rect32_init(&a, 0, 0, -1, 1), KIP_ERR_BAD_SIZE);
  EXPECT_EQ(a.width, 3);
  EXPECT_EQ(kstd_rect32_init(nullptr, 0, 0, 1, 1), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kstd_rect32_compare(&a, nullptr, &result), KIP_ERR_NULL_POINTER);
}

TEST(Vector32, ResizeKeepsContentsAndZeroesNewEntries) {
  ScopedVector vector;
  uint32_t* first = reinterpret_cast<uint32_t*>(1);
  ASSERT_EQ(kstd_vector32_getBegin(vector.get(), &first), 0);
  EXPECT_EQ(first, nullptr);
  ASSERT_EQ(kstd_vector32_resize(vector.get(), 4), 0);
  for (uint32_t i = 0; i < 4; ++i) vector.get()->begin[i] = 100 + i;
  for (int32_t length = 5; length < 200; length += 7) {
    ASSERT_EQ(kstd_vector32_resize(vector.get(), length), 0);
    ASSERT_GE(vector.get()->capacity, length);
    const std::vector<uint32_t> values = vector.values();
    ASSERT_EQ(values.size(), static_cast<size_t>(length));
    for (uint32_t i = 0; i < 4; ++i) ASSERT_EQ(values[i], 100 + i);
    for (int32_t i = 4; i < length; ++i) ASSERT_EQ(values[i], 0u) << length << " " << i;
  }
  // Shrinking then growing again must not bring old values back.
  vector.get()->begin[150] = 5;
  ASSERT_EQ(kstd_vector32_resize(vector.get(), 2), 0);
  ASSERT_EQ(kstd_vector32_resize(vector.get(), 190), 0);
  EXPECT_EQ(vector.values()[150], 0u);
  EXPECT_EQ(vector.values()[1], 101u);
  ASSERT_EQ(kstd_vector32_getBegin(vector.get(), &first), 0);
  EXPECT_EQ(first, vector.get()->begin);

  const kstd_vector32 before = *vector.get();
  EXPECT_EQ(kstd_vector32_resize(vector.get(), -1), KIP_ERR_BAD_SIZE);
  EXPECT_EQ(std::memcmp(&before, vector.get(), sizeof before), 0);
  EXPECT_EQ(kstd_vector32_resize(nullptr, 1), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kstd_vector32_getBegin(vector.get(), nullptr), KIP_ERR_NULL_POINTER);
}

TEST(Vector32, DestructFreesAndLeavesAnEmptyVector) {
  const int64_t liveBefore = ksys_memory_testLiveBlocks();
  kstd_vector32 vector;
  ASSERT_EQ(kstd_vector32_construct(&vector), 0);
  ASSERT_EQ(kstd_vector32_resize(&vector, 10), 0);
  EXPECT_EQ(ksys_memory_testLiveBlocks(), liveBefore + 1);
  ASSERT_EQ(kstd_vector32_destruct(&vector), 0);
  EXPECT_EQ(ksys_memory_testLiveBlocks(), liveBefore);
  EXPECT_EQ(vector.begin, nullptr);
  EXPECT_EQ(vector.size, 0);
  ASSERT_EQ(kstd_vector32_destruct(&vector), 0);  // twice is harmless
  EXPECT_EQ(kstd_vector32_destruct(nullptr), KIP_ERR_NULL_POINTER);
}

}  // namespace
