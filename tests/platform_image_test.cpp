// Images, windows, pel fills and copies, rectangles and vectors of the platform layer.
#include "platform/image.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <tuple>
#include <random>
#include <vector>

namespace {

using kiptest::ScopedImage;
using kiptest::ScopedVector;

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();

template <typename T>
bool sameBytes(const T& a, const T& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool sameWindow(const kimg_window& a, const kimg_window& b) {  // field by field: the record has padding
  return std::tie(a.width, a.height, a.xOrigin, a.yOrigin, a.bandOffset, a.stride, a.firstPel, a.pelSize) ==
         std::tie(b.width, b.height, b.xOrigin, b.yOrigin, b.bandOffset, b.stride, b.firstPel, b.pelSize);
}

kimg_window makeWindow(int32_t w, int32_t h, int32_t x, int32_t y, int32_t stride, void* first, int32_t pelSize) {
  return kimg_window{w, h, x, y, 0, 0, 0, 0, stride, first, pelSize};
}


TEST(Image, ConstructGivesZeroedPelsWithIdentityAndRefusalsLeaveRecordsAlone) {
  ScopedImage image(4, 7, 5), held(2, 3, 3);
  const auto* bytes = static_cast<const unsigned char*>(image.get()->firstPel);
  EXPECT_TRUE(image.get()->stride == 7 && image.get()->pelSize == 4 && std::all_of(bytes, bytes + 7 * 5 * 4, [](unsigned char b) { return b == 0; }) &&
              sameBytes(image.get()->imageFromClient, kmath_xformLinear{0, 0, 1, 0, 0, 1}));
  const kimg_image before = *held.get();
  std::vector<uint8_t> pels(64);
  for (const auto& [pelSize, size, status] : {std::tuple{3, 4, KIP_ERR_PEL_SIZE}, {4, kMax, KIP_ERR_BAD_SIZE}}) {
    kimg_image fresh;
    std::memset(&fresh, 0xA5, sizeof fresh);  // construct must not read the old record
    int32_t bound = -1;
    EXPECT_TRUE(kimg_image_construct(&fresh, pelSize, size, size) == status && kimg_imageConst_getIsBound(&fresh, &bound) == 0 && bound == 0);
    EXPECT_TRUE(kimg_image_assignNew(held.get(), pelSize, size, size) == status &&
                kimg_image_bindExternal(held.get(), pels.data(), pelSize, size, size, size) == status && sameBytes(before, *held.get()));
  }
}

// Assigning shares the storage, which outlives the original; the copy's own storage is freed.
TEST(Image, AssignSharesStorageThatOutlivesTheOriginalAndReleasesTheOld) {
  const int64_t liveBefore = ksys_memory_testLiveBlocks();
  {
    ScopedImage copy(1, 8, 8);
    {
      ScopedImage original(2, 5, 4);
      ASSERT_EQ(kimg_image_assign(copy.get(), copy.get()) | kimg_image_assign(copy.get(), original.get()), 0);
      ASSERT_EQ(kimg_image_assign(copy.get(), original.get()), 0);  // already shared: must not drop it
      original.at<uint16_t>(4, 3) = 0xBEEF;
    }
    EXPECT_TRUE(ksys_memory_testLiveBlocks() == liveBefore + 2 && copy.at<uint16_t>(4, 3) == 0xBEEF) << "the shared storage lives on";
  }
  EXPECT_EQ(ksys_memory_testLiveBlocks(), liveBefore);
}

TEST(Image, BindExternalUsesCallerPelsInPlaceAndNeverFreesThem) {
  std::vector<uint16_t> pels = {1, 2, 3, 0xEEEE, 0xEEEE, 4, 5, 6, 0xEEEE, 0xEEEE};  // 3 x 2 in rows of 5
  const int64_t liveBefore = ksys_memory_testLiveBlocks();
  { ScopedImage image; ASSERT_EQ(kimg_image_bindExternal(image.get(), pels.data(), 2, 3, 2, 5) | kip_pelSet16(image.get(), 7), 0); }
  EXPECT_TRUE(ksys_memory_testLiveBlocks() == liveBefore && pels == (std::vector<uint16_t>{7, 7, 7, 0xEEEE, 0xEEEE, 7, 7, 7, 0xEEEE, 0xEEEE}));
}

TEST(Image, ClientTransformSurvivesNewStorageIsCopiedAndMustBeFinite) {
  ScopedImage a(1, 2, 2), b(1, 2, 2);
  const kmath_xformLinear xform{3.0, 4.0, 0.0, -1.0, 1.0, 0.0}, bad{0, 0, 1, 0, 0, NAN};
  ASSERT_EQ(kimg_image_setLinearImageFromClientXform(a.get(), &xform) | kimg_image_assignNew(a.get(), 2, 9, 9) | kimg_image_copyXforms(b.get(), a.get()), 0);
  EXPECT_TRUE(kimg_image_setLinearImageFromClientXform(b.get(), &bad) == KIP_ERR_NOT_FINITE && sameBytes(b.get()->imageFromClient, xform));
}

TEST(Window, NarrowsInThePelGrid) {
  const struct { kstd_rect32 rect; int32_t status; kstd_rect32 result; int32_t clipped; } cases[] = {
      // The last pel; one past it; an end that overflows int32; a negative width.
      {{6, 9, 1, 1}, 0, {6, 9, 1, 1}, 0}, {{0, 9, 1, 2}, KIP_ERR_OUTSIDE_WINDOW, {}, -1},
      {{5, 3, kMax, kMax}, 0, {5, 3, 2, 7}, 1}, {{0, 3, -1, 2}, KIP_ERR_BAD_SIZE, {}, -1}};
  ScopedImage image(2, 10, 8);
  image.get()->xOrigin = -3, image.get()->yOrigin = 2;
  for (const auto& c : cases) {
    kimg_window window = image.window(), direct{}, expected = window;
    int32_t clipped = -1, directClipped = -1;
    EXPECT_TRUE(kimg_window_windowRect(&window, &c.rect, c.clipped < 0 ? nullptr : &clipped) == c.status &&  // no flag: no clipping
                kimg_window_initWindow(&direct, image.get(), &c.rect, c.clipped < 0 ? nullptr : &directClipped) == c.status);
    if (c.status == 0) expected = makeWindow(c.result.width, c.result.height, c.result.x, c.result.y, 10, &image.at<uint16_t>(c.result.x + 3, c.result.y - 2), 2);
    EXPECT_TRUE(sameWindow(window, expected) && sameWindow(direct, c.status == 0 ? expected : kimg_window{}) &&
                clipped == c.clipped && directClipped == c.clipped) << &c - cases;
  }
}

TEST(Window, ValidateStatuses) {
  static uint32_t pels[64];
  void* const end = reinterpret_cast<void*>(UINTPTR_MAX - 7);
  const struct { kimg_window window; int32_t askedPelSize, status; } cases[] = {
      // Empty with no pels; a pel-size mismatch; a span that overflows, and one past the address space.
      {makeWindow(0, 4, 0, 0, 0, nullptr, 1), 1, 0}, {makeWindow(4, 4, 0, 0, 8, pels, 2), 1, KIP_ERR_PEL_SIZE},
      {makeWindow(kMax, kMax, 0, 0, kMax, pels, 4), 0, KIP_ERR_BAD_SIZE}, {makeWindow(16, 1, 0, 0, 16, end, 1), 1, KIP_ERR_BAD_SIZE},
      // The far edge beyond int32, and at it.
      {makeWindow(4, 1, kMax - 2, 0, 4, pels, 1), 0, KIP_ERR_OUT_OF_RANGE}, {makeWindow(4, 1, kMax - 4, 0, 4, pels, 1), 0, 0}};
  for (const auto& c : cases) EXPECT_EQ(kimg_window_validate(&c.window, c.askedPelSize), c.status) << &c - cases;
}

// The records share their leading width, height, xOrigin and yOrigin, all the common part reads.
TEST(Window, CommonRectOfWindowsAndImagesAlikeInEitherOrder) {
  const struct { kstd_rect32 a, b; bool empty; kstd_rect32 common; } cases[] = {
      {{-5, -6, 4, 4}, {-3, -3, 4, 4}, false, {-3, -3, 2, 1}}, {{0, 0, 10, 10}, {10, 0, 5, 5}, true, {}}};  // touching edges
  for (const auto& [ra, rb, isEmpty, result] : cases) {
    const kimg_window a{ra.width, ra.height, ra.x, ra.y}, b{rb.width, rb.height, rb.x, rb.y};
    const kimg_image ia{ra.width, ra.height, ra.x, ra.y}, ib{rb.width, rb.height, rb.x, rb.y};
    kstd_rect32 common{-7, -7, -7, -7}, reversed = common, expected = isEmpty ? common : result;  // empty: left alone
    int32_t empty = -1, reversedEmpty = -1;
    ASSERT_EQ(kimg_windowConst_gcr(&a, &b, &common, &empty) | kimg_imageConst_gcr(&ib, &ia, &reversed, &reversedEmpty), 0);
    EXPECT_TRUE(empty == isEmpty && reversedEmpty == isEmpty && sameBytes(common, expected) && sameBytes(reversed, expected)) << ra.x;
  }
}

// Random windows of random images of every pel size against a pel-by-pel copy by pel-grid position.
TEST(PelCopy, MatchesAPelByPelCopyByGridPosition) {
  std::mt19937 random(1234);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  auto inside = [](const kimg_window& w, int32_t x, int32_t y) { return x >= w.xOrigin && x < w.xOrigin + w.width && y >= w.yOrigin && y < w.yOrigin + w.height; };
  for (int trial = 0; trial < 900; ++trial) {
    int32_t pelSize = 1 << (trial % 3), clipped = 0;
    ScopedImage source(pelSize, uniform(0, 12), uniform(0, 9)), destination(pelSize, uniform(1, 12), uniform(1, 9));
    kimg_image &s = *source.get(), &d = *destination.get();
    auto *from = static_cast<unsigned char*>(s.firstPel), *to = static_cast<unsigned char*>(d.firstPel);
    std::generate_n(from, size_t(s.width) * s.height * pelSize, [&] { return static_cast<unsigned char>(random()); });
    const std::vector<unsigned char> before(to, to + d.width * d.height * pelSize);
    s.xOrigin = uniform(-8, 8), s.yOrigin = uniform(-8, 8), d.xOrigin = uniform(-8, 8), d.yOrigin = uniform(-8, 8);
    kimg_window a = source.window(), b = destination.window();
    ASSERT_EQ(kimg_window_window(&a, uniform(-10, 10), uniform(-10, 10), uniform(0, 12), uniform(0, 12), &clipped), 0);
    ASSERT_EQ(kimg_window_window(&b, uniform(-10, 10), uniform(-10, 10), uniform(0, 12), uniform(0, 12), &clipped), 0);
    ASSERT_EQ(pelSize == 1 ? kip_pelCopyWindow8(&a, &b) : pelSize == 2 ? kip_pelCopyWindow16(&a, &b) : kip_pelCopyWindow32(&a, &b), 0);
    for (int32_t i = 0, x = d.xOrigin, y = d.yOrigin; i < d.width * d.height; ++i, x = d.xOrigin + i % d.width, y = d.yOrigin + i / d.width) {
      const unsigned char* expected = inside(a, x, y) && inside(b, x, y) ? from + (size_t(y - s.yOrigin) * s.stride + (x - s.xOrigin)) * pelSize
                                                                          : before.data() + size_t(i) * pelSize;  // owned: stride is width
      ASSERT_EQ(std::memcmp(to + size_t(i) * pelSize, expected, pelSize), 0) << "trial " << trial << " at " << x << "," << y;
    }
  }
}

TEST(PelCopy, OverlappingWindowsCopyAsFromASnapshotAndRefusals) {
  for (auto [dx, dy] : {std::pair{1, 0}, {0, -1}, {2, 1}, {-3, -1}}) {
    ScopedImage image(2, 9, 9);
    kiptest::fillRandom16(image.get(), 77);
    const std::vector<uint16_t> snapshot(&image.at<uint16_t>(0, 0), &image.at<uint16_t>(0, 9));
    kimg_window from = image.window(), to = from;  // to claims grid position (3, 3) at memory shifted by (dx, dy)
    ASSERT_EQ(kimg_window_window(&from, 3, 3, 3, 3, nullptr) | kimg_window_window(&to, 3, 3, 3, 3, nullptr), 0);
    to.firstPel = kimg_window_pel<uint16_t>(from, dx, dy);
    ASSERT_EQ(kip_pelCopyWindow16(&from, &to), 0);
    for (int32_t i = 0, x = 3, y = 3; i < 9; ++i, x = 3 + i % 3, y = 3 + i / 3)
      ASSERT_EQ(image.at<uint16_t>(x + dx, y + dy), snapshot[y * 9 + x]) << dx << dy;
  }
  ScopedImage eight(1, 4, 4), sixteen(2, 4, 4), unbound;
  EXPECT_TRUE(kip_pelCopy16(eight.get(), sixteen.get()) == KIP_ERR_PEL_SIZE && kip_pelCopy8(eight.get(), unbound.get()) == KIP_ERR_NOT_BOUND);
}

// Growing copies what was there and zeroes the rest, even where an earlier, longer life wrote.
// The largest 32-bit pel of a window, unsigned, looked for in every row (not past a row's end).
TEST(PelMax, LargestUnsignedPelOfEveryRow) {
  uint32_t pels[2][4] = {{5, 7, 1, 0xFFFFFFFF}, {2, 0x80000001u, 3, 9}};
  const kimg_window window = makeWindow(3, 2, 0, 0, 4, pels, 4);
  uint32_t largest = 0;
  EXPECT_EQ(kip_pelUnaryMaxWindow32(&window, &largest), 0);
  EXPECT_EQ(largest, 0x80000001u);
}

TEST(Vector32, ResizeKeepsContentsAndZeroesNewEntries) {
  ScopedVector vector;
  kstd_vector32& v = *vector.get();
  ASSERT_EQ(kstd_vector32_resize(&v, 190), 0);
  v.begin[2] = 102, v.begin[150] = 5;
  ASSERT_EQ(kstd_vector32_resize(&v, 3) | kstd_vector32_resize(&v, 1000), 0);
  const kstd_vector32 before = v;
  EXPECT_TRUE(v.begin[2] == 102 && v.begin[150] == 0u && kstd_vector32_resize(&v, -1) == KIP_ERR_BAD_SIZE && sameBytes(before, v));
}

}  // namespace
