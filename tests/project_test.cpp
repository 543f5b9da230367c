// Projection sums: worked values through the exports, optimized cores against independent sums on
// every instruction set, the hook and processor-query fallbacks, bad input, allocation failures.
#include "project/project.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using kiptest::ScopedCpuinfo;
using kiptest::ScopedImage;
using kiptest::ScopedVector;
using V = std::vector<uint32_t>;

// Independent reference sums, computed the obvious way.
template <typename Pel>
V referenceSums(const std::vector<Pel>& pels, int width, int height, int stride, bool columns, bool reverse) {
  V sums(columns ? width : height, 0u);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) sums[columns ? x : y] += pels[static_cast<size_t>(y) * stride + x];
  if (reverse) std::reverse(sums.begin(), sums.end());
  return sums;
}

V valuesOf(const kimg_image* image) { const auto* f = static_cast<const uint32_t*>(image->firstPel); return {f, f + image->width}; }

// The 3 x 2 image with rows (1, 2, 3) and (4, 5, 6).
struct SmallImage {
  ScopedImage image{1, 3, 2};
  SmallImage() { for (int i = 0; i < 6; ++i) image.at<uint8_t>(i % 3, i / 3) = static_cast<uint8_t>(i + 1); }
};

class ProjectionRegimeTest : public ::testing::TestWithParam<bool> {};

// Optimized, and portable (both cores forbidden by the hook): the same sums through every export.
TEST_P(ProjectionRegimeTest, WorkedExampleThroughEveryExport) {
  kiptest::ScopedHook hook(GetParam() ? std::initializer_list<std::string>{"kf_projection_vertical8_core", "kf_projection_horizontal8_core"}
                                      : std::initializer_list<std::string>{});
  SmallImage small;
  const kimg_image* image = small.image.get();
  const kimg_window source = small.image.window();
  const V rows{6, 15}, columns{5, 7, 9};
  uint32_t counts[3] = {};
  ScopedImage rowImage, columnImage, out(4, 4, 1);
  ScopedVector vectors[2];
  kimg_window outWindow = out.window();
  ASSERT_EQ(kip_projectHorizontal8(image, rowImage.get(), &counts[0]) | kip_projectVertical8(image, columnImage.get(), &counts[1]), 0);
  EXPECT_TRUE(valuesOf(rowImage.get()) == rows && valuesOf(columnImage.get()) == columns);
  ASSERT_EQ(kip_projectHorizontalVector8(image, vectors[0].get(), nullptr) | kip_projectVerticalVectorWindow8(&source, vectors[1].get(), &counts[2]), 0);
  EXPECT_TRUE(vectors[0].values() == rows && vectors[1].values() == columns);
  EXPECT_TRUE(counts[0] == 3 && counts[1] == 2 && counts[2] == 2);
  ASSERT_EQ(kip_projectHorizontalWindow8(&source, &outWindow, nullptr), 0);
  EXPECT_EQ(valuesOf(out.get()), (V{6, 15, 0, 0}));
}

INSTANTIATE_TEST_SUITE_P(Regimes, ProjectionRegimeTest, ::testing::Bool());

// Optimized cores against the reference on every compiled instruction set, scalar included.
// Saturated: all pels 255, the 16-bit partial sums at their limit.
struct CoreCase { int width, height, strideExtra; bool saturated; };

class ProjectionCoreTest : public ::testing::TestWithParam<CoreCase> {};

TEST_P(ProjectionCoreTest, EveryTargetMatchesReference) {
  const CoreCase c = GetParam();
  const int stride = c.width + c.strideExtra;
  std::vector<uint8_t> pels(static_cast<size_t>(stride) * c.height + 1);
  for (size_t i = 0; i < pels.size(); ++i) pels[i] = c.saturated ? 255 : static_cast<uint8_t>((i * 2654435761u) >> 13);
  ScopedCpuinfo simdPresent(1, 1);  // let the scalar target run the core too
  for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
    hwy::SetSupportedTargetsForTest(target);
    ASSERT_STREQ(projectionSimdTargetName(), hwy::TargetName(target));
    for (bool reverse : {false, true}) {
      V rows(c.height + 1, 0xDEADBEEF), columns(c.width + 1, 0xDEADBEEF);
      ASSERT_EQ(kf_projection_vertical8_core(pels.data(), c.width, c.height, stride, rows.data(), reverse), 0);
      ASSERT_EQ(kf_projection_horizontal8_core(pels.data(), c.width, c.height, stride, columns.data(), reverse), 0);
      EXPECT_TRUE(rows.back() == 0xDEADBEEF && columns.back() == 0xDEADBEEF);  // one guard entry past each end
      rows.pop_back(), columns.pop_back();
      EXPECT_EQ(rows, referenceSums(pels, c.width, c.height, stride, false, reverse)) << hwy::TargetName(target);
      EXPECT_EQ(columns, referenceSums(pels, c.width, c.height, stride, true, reverse)) << hwy::TargetName(target);
    }
  }
  hwy::SetSupportedTargetsForTest(0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ProjectionCoreTest,
                         ::testing::Values(CoreCase{0, 5, 0, false}, CoreCase{5, 0, 0, false}, CoreCase{64, 513, 7, true},
                                           CoreCase{1, 1, 0, false}, CoreCase{17, 16, 3, false}, CoreCase{16, 17, 0, false},
                                           CoreCase{257, 257, 3, false}, CoreCase{1000, 255, 0, true}, CoreCase{15, 257, 1, false}));

TEST(ProjectionCore, SumsWrapModulo2To32) {
  // 16843010 pels of 255 sum to 2^32 + 254. Rows: one long row. Columns: a stride of 0 reads the
  // same short row that many times without the memory.
  const int32_t count = 16843010;
  std::vector<uint8_t> longRow(count, 255);
  uint32_t rowSum = 0;
  ASSERT_EQ(kf_projection_vertical8_core(longRow.data(), count, 1, count, &rowSum, 0), 0);
  EXPECT_EQ(rowSum, 254u);
  V columnSums(20, 0);
  ASSERT_EQ(kf_projection_horizontal8_core(longRow.data(), 20, count, 0, columnSums.data(), 0), 0);
  EXPECT_EQ(columnSums, V(20, 254u));
}

TEST(ProjectionDispatch, FailingProcessorQueryIsAFailureNotADecline) {
  SmallImage small;
  ScopedCpuinfo failing(1, 1, static_cast<int32_t>(0x80000999));
  ScopedImage out;
  uint32_t pelCount = 77;
  EXPECT_EQ(kip_projectVertical8(small.image.get(), out.get(), &pelCount), static_cast<int32_t>(0x80000999));
  EXPECT_TRUE(pelCount == 77 && out.get()->storage == nullptr) << "a failed call must leave an unbound destination unbound";
}

// One refusal per status; the count and the vector are not written.
TEST(ProjectionBadInput, RefusedWithClearStatusAndNothingWritten) {
  SmallImage small;
  ScopedImage wide16(2, 3, 2), out(4, 3, 1), narrow(4, 2, 1), unbound;
  kimg_window source = small.image.window(), outWindow = out.window(), broken = source;
  broken.stride = 1;  // rows would overlap: not a window
  ScopedVector vector;
  uint32_t pelCount = 7;
  EXPECT_EQ(kip_projectVertical8(small.image.get(), nullptr, &pelCount), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kip_projectVertical8(wide16.get(), out.get(), &pelCount), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(kip_projectVertical8(small.image.get(), narrow.get(), &pelCount), KIP_ERR_DEST_TOO_SMALL);
  EXPECT_EQ(kip_projectVerticalVector8(unbound.get(), vector.get(), &pelCount), KIP_ERR_PROJECT_UNBOUND);
  EXPECT_EQ(kip_projectHorizontalWindow8(&broken, &outWindow, &pelCount), KIP_ERR_BAD_SIZE);
  EXPECT_TRUE(pelCount == 7 && vector.get()->size == 0);
}

// A failure of the column-sum scratch row must come before anything is written: the vector keeps
// its size, storage and entries, whichever allocation fails.
TEST(ProjectionAllocation, FailedCallLeavesTheVectorAsItWas) {
  ScopedImage source(1, 40, 30);
  kiptest::fillRandom8(source.get(), 6);
  ScopedVector vector;  // with room for the sums: they would be written in place
  ASSERT_EQ(kstd_vector32_resize(vector.get(), 60), 0);
  for (int32_t i = 0; i < 60; ++i) vector.get()->begin[i] = 100 + i;
  const kstd_vector32 before = *vector.get();
  const V entries = vector.values();
  kiptest::sweepAllocationFailures([&] { return kip_projectVerticalVector8(source.get(), vector.get(), nullptr); }, [&] {
    EXPECT_TRUE(std::memcmp(vector.get(), &before, sizeof before) == 0 && vector.values() == entries);
  });
}

}  // namespace
