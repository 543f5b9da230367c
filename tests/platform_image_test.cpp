// Images, windows, pel fills and copies, rectangles and vectors of the platform layer.
#include "platform/image.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <vector>

namespace {

using kiptest::ScopedImage;
using kiptest::ScopedVector;
using kiptest::sweepAllocationFailures;

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

template <typename T>
bool sameBytes(const T& a, const T& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool sameWindow(const kimg_window& a, const kimg_window& b) {  // field by field: the record has padding
  return a.width == b.width && a.height == b.height && a.xOrigin == b.xOrigin && a.yOrigin == b.yOrigin &&
         a.bandOffset == b.bandOffset && a.stride == b.stride && a.firstPel == b.firstPel && a.pelSize == b.pelSize;
}

kimg_window makeWindow(int32_t w, int32_t h, int32_t x, int32_t y, int32_t stride, void* first, int32_t pelSize) {
  return kimg_window{w, h, x, y, 0, 0, 0, 0, stride, first, pelSize};
}

kimg_window narrowed(kimg_window window, int32_t x, int32_t y, int32_t width, int32_t height) {
  EXPECT_EQ(kimg_window_window(&window, x, y, width, height, nullptr), 0);
  return window;
}

TEST(Image, ConstructGivesZeroedPelsWithIdentityAndRefusalsLeaveRecordsAlone) {
  for (int32_t pelSize : {1, 2, 4}) {
    ScopedImage image(pelSize, 7, 5);
    EXPECT_TRUE(image.get()->stride == 7 && image.get()->pelSize == pelSize && image.get()->xOrigin == 0);
    const auto* bytes = static_cast<const unsigned char*>(image.get()->firstPel);
    EXPECT_TRUE(std::all_of(bytes, bytes + 7 * 5 * pelSize, [](unsigned char b) { return b == 0; }));
    EXPECT_TRUE(sameBytes(image.get()->imageFromClient, kmath_xformLinear{0, 0, 1, 0, 0, 1}));
  }
  const struct { int32_t pelSize, width, height, status; } refused[] = {
      {3, 4, 4, KIP_ERR_PEL_SIZE}, {1, 4, -1, KIP_ERR_BAD_SIZE}, {4, kMax, kMax, KIP_ERR_BAD_SIZE}};
  ScopedImage held(2, 3, 3);
  const kimg_image before = *held.get();
  std::vector<uint8_t> pels(64);
  for (const auto& [pelSize, width, height, status] : refused) {
    kimg_image image;
    std::memset(&image, 0xA5, sizeof image);  // construct must not read the old record
    int32_t bound = -1;
    EXPECT_EQ(kimg_image_construct(&image, pelSize, width, height), status);
    EXPECT_TRUE(kimg_imageConst_getIsBound(&image, &bound) == 0 && bound == 0);
    EXPECT_EQ(kimg_image_assignNew(held.get(), pelSize, width, height), status);
    EXPECT_EQ(kimg_image_bindExternal(held.get(), pels.data(), pelSize, width, height, width), status);
    EXPECT_TRUE(sameBytes(before, *held.get()));
  }
}

TEST(Image, AssignSharesStorageThatOutlivesTheOriginalAndReleasesTheOld) {
  const int64_t liveBefore = ksys_memory_testLiveBlocks();
  {
    ScopedImage copy(1, 8, 8);
    {
      ScopedImage original(2, 5, 4);
      const int64_t liveWithBoth = ksys_memory_testLiveBlocks();
      ASSERT_EQ(kimg_image_assign(copy.get(), copy.get()), 0);
      ASSERT_EQ(kimg_image_assign(copy.get(), original.get()), 0);
      EXPECT_LT(ksys_memory_testLiveBlocks(), liveWithBoth) << "the copy's own storage is freed";
      ASSERT_EQ(kimg_image_assign(copy.get(), original.get()), 0);  // already shared: must not drop it
      original.at<uint16_t>(4, 3) = 0xBEEF;
    }
    EXPECT_EQ(ksys_memory_testLiveBlocks(), liveBefore + 2) << "the shared storage (pels and record) lives on";
    EXPECT_EQ(copy.at<uint16_t>(4, 3), 0xBEEF);
  }
  EXPECT_EQ(ksys_memory_testLiveBlocks(), liveBefore);
}

TEST(Image, BindExternalUsesCallerPelsInPlaceAndNeverFreesThem) {
  std::vector<uint16_t> pels = {1, 2, 3, 0xEEEE, 0xEEEE, 4, 5, 6, 0xEEEE, 0xEEEE};  // 3 x 2 in rows of 5
  const int64_t liveBefore = ksys_memory_testLiveBlocks();
  {
    ScopedImage image;
    ASSERT_EQ(kimg_image_bindExternal(image.get(), pels.data(), 2, 3, 2, 5), 0);
    ASSERT_EQ(kip_pelSet16(image.get(), 7), 0);
    EXPECT_EQ(pels, (std::vector<uint16_t>{7, 7, 7, 0xEEEE, 0xEEEE, 7, 7, 7, 0xEEEE, 0xEEEE}));
  }
  EXPECT_EQ(ksys_memory_testLiveBlocks(), liveBefore);
  ScopedImage image;
  EXPECT_EQ(kimg_image_bindExternal(image.get(), nullptr, 1, 2, 2, 2), KIP_ERR_NULL_POINTER);
}

TEST(Image, ClientTransformSurvivesNewStorageIsCopiedAndMustBeFinite) {
  ScopedImage a(1, 2, 2), b(1, 2, 2);
  const kmath_xformLinear xform{3.0, 4.0, 0.0, -1.0, 1.0, 0.0}, bad{0, 0, 1, 0, 0, NAN};
  ASSERT_EQ(kimg_image_setLinearImageFromClientXform(a.get(), &xform), 0);
  ASSERT_EQ(kimg_image_assignNew(a.get(), 2, 9, 9), 0);
  ASSERT_EQ(kimg_image_copyXforms(b.get(), a.get()), 0);
  EXPECT_EQ(kimg_image_setLinearImageFromClientXform(b.get(), &bad), KIP_ERR_NOT_FINITE);
  EXPECT_TRUE(sameBytes(b.get()->imageFromClient, xform));
}

// Each run that fails on a bound image leaks nothing and leaves the record and its pels as they were.
TEST(ImageAllocation, EveryFailureOfAssignNewAndBindExternal) {
  ScopedImage image;
  std::vector<uint8_t> pels(16);
  const std::function<int32_t()> calls[] = {
      [&] { return kimg_image_assignNew(image.get(), 4, 100, 3); },
      [&] { return kimg_image_bindExternal(image.get(), pels.data(), 1, 4, 4, 4); }};
  for (const auto& call : calls) {
    ASSERT_EQ(kimg_image_assignNew(image.get(), 1, 40, 30), 0);
    image.at<uint8_t>(4, 4) = 42;
    const kimg_image before = *image.get();
    sweepAllocationFailures(call,
                            [&] { EXPECT_TRUE(sameBytes(before, *image.get()) && image.at<uint8_t>(4, 4) == 42); });
  }
  EXPECT_EQ(image.get()->firstPel, pels.data());
}

// The image is 10 x 8 at pel-grid origin (-3, 2): it covers x -3..6, y 2..9. initWindow must
// agree with narrowing the whole window, and neither may write anything when it refuses.
TEST(Window, NarrowsInThePelGrid) {
  // result: the expected window extent when the status is 0.
  const struct { kstd_rect32 rect; bool withFlag; int32_t status; kstd_rect32 result; int32_t clipped; } cases[] = {
      {{6, 9, 1, 1}, false, 0, {6, 9, 1, 1}, 0},  // the last pel
      {{0, 9, 1, 2}, false, KIP_ERR_OUTSIDE_WINDOW, {}, 0},
      {{-4, 4, 3, 2}, true, 0, {-3, 4, 2, 2}, 1},
      {{5, 3, kMax, kMax}, true, 0, {5, 3, 2, 7}, 1},  // the end overflows int32
      {{INT32_MIN, INT32_MIN, kMax, kMax}, true, 0, {-3, 2, 0, 0}, 1},
      {{0, 3, -1, 2}, true, KIP_ERR_BAD_SIZE, {}, 0}};
  ScopedImage image(2, 10, 8);
  image.get()->xOrigin = -3, image.get()->yOrigin = 2;
  const kimg_window whole = image.window();
  for (const auto& c : cases) {
    kimg_window window = whole, direct{}, expected = whole;
    int32_t clipped = -1, directClipped = -1;
    ASSERT_EQ(kimg_window_windowRect(&window, &c.rect, c.withFlag ? &clipped : nullptr), c.status);
    ASSERT_EQ(kimg_window_initWindow(&direct, image.get(), &c.rect, c.withFlag ? &directClipped : nullptr), c.status);
    if (c.status < 0) {
      EXPECT_TRUE(sameWindow(direct, kimg_window{}) && clipped == -1 && directClipped == -1);
    } else {
      expected = makeWindow(c.result.width, c.result.height, c.result.x, c.result.y, 10, whole.firstPel, 2);
      if (c.result.width > 0 && c.result.height > 0)
        expected.firstPel = &image.at<uint16_t>(c.result.x + 3, c.result.y - 2);
      EXPECT_TRUE(sameWindow(direct, expected));
      EXPECT_TRUE(clipped == (c.withFlag ? c.clipped : -1) && directClipped == clipped);
    }
    EXPECT_TRUE(sameWindow(window, expected)) << &c - cases;
  }
}

TEST(Window, WindowOfWindowUsesPelGridCoordinates) {
  ScopedImage image(1, 20, 20);
  image.get()->xOrigin = image.get()->yOrigin = -5;
  kimg_window window = narrowed(image.window(), 0, 0, 10, 10);
  ASSERT_EQ(kimg_windowConst_window(&window, 2, 3, 4, 4, nullptr), 0);  // (2, 3) in the grid, not from the corner
  EXPECT_EQ(window.firstPel, &image.at<uint8_t>(2 + 5, 3 + 5));
  EXPECT_EQ(kimg_window_window(&window, 0, 0, 3, 3, nullptr), KIP_ERR_OUTSIDE_WINDOW);  // no longer in it
  EXPECT_EQ(kimg_window_window(nullptr, 0, 0, 0, 0, nullptr), KIP_ERR_NULL_POINTER);
}

TEST(Window, ValidateStatuses) {
  static uint32_t pels[64];
  void* const end = reinterpret_cast<void*>(UINTPTR_MAX - 7);
  const struct { kimg_window window; int32_t askedPelSize, status; } cases[] = {
      {makeWindow(0, 4, 0, 0, 0, nullptr, 1), 1, 0},  // empty, no pels
      {makeWindow(4, 4, 0, 0, 8, pels, 2), 1, KIP_ERR_PEL_SIZE},
      {makeWindow(9, 4, 0, 0, 8, pels, 1), 0, KIP_ERR_BAD_SIZE},  // stride below width
      {makeWindow(kMax, kMax, 0, 0, kMax, pels, 4), 0, KIP_ERR_BAD_SIZE},    // span overflows
      {makeWindow(16, 1, 0, 0, 16, end, 1), 1, KIP_ERR_BAD_SIZE},            // span past the address space
      {makeWindow(4, 1, kMax - 2, 0, 4, pels, 1), 0, KIP_ERR_OUT_OF_RANGE},  // far edge beyond int32
      {makeWindow(4, 1, kMax - 4, 0, 4, pels, 1), 0, 0},                     // far edge at int32
  };
  for (const auto& c : cases) EXPECT_EQ(kimg_window_validate(&c.window, c.askedPelSize), c.status) << &c - cases;
}

// The records share their leading width, height, xOrigin and yOrigin, all the common part reads.
TEST(Window, CommonRectOfWindowsAndImagesAlikeInEitherOrder) {
  const struct { kstd_rect32 a, b; bool empty; kstd_rect32 common; } cases[] = {
      {{-5, -6, 4, 4}, {-3, -3, 4, 4}, false, {-3, -3, 2, 1}},
      {{0, 0, 10, 10}, {10, 0, 5, 5}, true, {}},  // touching edges
      {{kMax - 3, 0, kMax, 1}, {0, 0, kMax, 1}, false, {kMax - 3, 0, 3, 1}}};
  for (const auto& [ra, rb, isEmpty, result] : cases) {
    const kimg_window a{ra.width, ra.height, ra.x, ra.y}, b{rb.width, rb.height, rb.x, rb.y};
    const kimg_image ia{ra.width, ra.height, ra.x, ra.y}, ib{rb.width, rb.height, rb.x, rb.y};
    kstd_rect32 common{-7, -7, -7, -7}, reversed = common;
    const kstd_rect32 expected = isEmpty ? common : result;
    int32_t empty = -1, reversedEmpty = -1;
    ASSERT_EQ(kimg_windowConst_gcr(&a, &b, &common, &empty), 0);
    ASSERT_EQ(kimg_imageConst_gcr(&ib, &ia, &reversed, &reversedEmpty), 0);
    EXPECT_TRUE(empty == isEmpty && reversedEmpty == isEmpty && sameBytes(common, expected) &&
                sameBytes(reversed, expected)) << ra.x << "," << rb.x;
  }
  const kimg_window negative{-1, 2};
  kstd_rect32 common{};
  int32_t empty = 0;
  EXPECT_EQ(kimg_windowConst_gcr(&negative, &negative, &common, &empty), KIP_ERR_BAD_SIZE);
}

// Random windows of random images of every pel size against a pel-by-pel copy by pel-grid position.
TEST(PelCopy, MatchesAPelByPelCopyByGridPosition) {
  std::mt19937 random(1234);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  auto inside = [](const kimg_window& w, int32_t x, int32_t y) {
    return x >= w.xOrigin && x < w.xOrigin + w.width && y >= w.yOrigin && y < w.yOrigin + w.height;
  };
  for (int trial = 0; trial < 900; ++trial) {
    const int32_t pelSize = 1 << (trial % 3);
    ScopedImage source(pelSize, uniform(0, 12), uniform(0, 9)), destination(pelSize, uniform(1, 12), uniform(1, 9));
    const kimg_image &s = *source.get(), &d = *destination.get();
    auto *from = static_cast<unsigned char*>(s.firstPel), *to = static_cast<unsigned char*>(d.firstPel);
    std::generate_n(from, size_t(s.width) * s.height * pelSize, [&] { return static_cast<unsigned char>(random()); });
    const std::vector<unsigned char> before(to, to + d.width * d.height * pelSize);
    kimg_window windows[2];
    for (int k = 0; k < 2; ++k) {
      kimg_image* image = k == 0 ? source.get() : destination.get();
      image->xOrigin = uniform(-8, 8), image->yOrigin = uniform(-8, 8);
      windows[k] = k == 0 ? source.window() : destination.window();
      int32_t clipped = 0;
      ASSERT_EQ(kimg_window_window(&windows[k], uniform(-10, 10), uniform(-10, 10), uniform(0, 12), uniform(0, 12), &clipped), 0);
    }
    kimg_window &a = windows[0], &b = windows[1];
    ASSERT_EQ(pelSize == 1 ? kip_pelCopyWindow8(&a, &b) : pelSize == 2 ? kip_pelCopyWindow16(&a, &b) : kip_pelCopyWindow32(&a, &b), 0);
    for (int32_t i = 0; i < d.width * d.height; ++i) {
      const int32_t x = d.xOrigin + i % d.width, y = d.yOrigin + i / d.width;
      const size_t offset = size_t(i) * pelSize;  // the destination is owned: its stride is its width
      const unsigned char* expected = inside(a, x, y) && inside(b, x, y)
                                          ? from + (size_t(y - s.yOrigin) * s.stride + (x - s.xOrigin)) * pelSize
                                          : before.data() + offset;
      ASSERT_EQ(std::memcmp(to + offset, expected, pelSize), 0) << "trial " << trial << " at " << x << "," << y;
    }
  }
}

TEST(PelCopy, OverlappingWindowsCopyAsFromASnapshotAndRefusals) {
  for (auto [dx, dy] : {std::pair{1, 0}, {0, -1}, {2, 1}, {-3, -1}}) {
    ScopedImage image(2, 9, 9);
    kiptest::fillRandom16(image.get(), 77);
    const std::vector<uint16_t> snapshot(&image.at<uint16_t>(0, 0), &image.at<uint16_t>(0, 9));
    const kimg_window from = narrowed(image.window(), 3, 3, 3, 3);
    kimg_window to = from;  // claims grid position (3, 3) at memory shifted by (dx, dy)
    to.firstPel = kimg_window_pel<uint16_t>(from, dx, dy);
    ASSERT_EQ(kip_pelCopyWindow16(&from, &to), 0);
    for (int32_t i = 0, x = 3, y = 3; i < 9; ++i, x = 3 + i % 3, y = 3 + i / 3)
      ASSERT_EQ(image.at<uint16_t>(x + dx, y + dy), snapshot[y * 9 + x]) << dx << dy;
  }
  ScopedImage eight(1, 4, 4), sixteen(2, 4, 4), unbound, wide(4, 5, 3);
  EXPECT_EQ(kip_pelCopy16(eight.get(), sixteen.get()), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(kip_pelCopy8(eight.get(), unbound.get()), KIP_ERR_NOT_BOUND);
  // The largest pel of a 32-bit window may lie below its first row, is unsigned, and none outside counts.
  wide.at<uint32_t>(4, 2) = 0xFFFFFFF0u, wide.at<uint32_t>(3, 1) = 0x80000000u, wide.at<uint32_t>(1, 0) = 17;
  const kimg_window window = narrowed(wide.window(), 0, 0, 4, 2);
  uint32_t largest = 0;
  EXPECT_TRUE(kip_pelUnaryMaxWindow32(&window, &largest) == 0 && largest == 0x80000000u);
}

// Growing copies what was there and zeroes the rest, even where an earlier, longer life wrote.
TEST(Vector32, ResizeKeepsContentsAndZeroesNewEntries) {
  const int64_t liveBefore = ksys_memory_testLiveBlocks();
  {
    ScopedVector vector;
    kstd_vector32& v = *vector.get();
    ASSERT_EQ(kstd_vector32_resize(&v, 190), 0);
    v.begin[2] = 102, v.begin[150] = 5;
    ASSERT_EQ(kstd_vector32_resize(&v, 3), 0);
    ASSERT_EQ(kstd_vector32_resize(&v, 1000), 0);
    EXPECT_TRUE(v.begin[2] == 102 && v.begin[150] == 0u);
    const kstd_vector32 before = v;
    EXPECT_EQ(kstd_vector32_resize(&v, -1), KIP_ERR_BAD_SIZE);
    EXPECT_TRUE(sameBytes(before, v));
  }
  EXPECT_EQ(ksys_memory_testLiveBlocks(), liveBefore);
}

}  // namespace
