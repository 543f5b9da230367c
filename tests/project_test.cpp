// Projection sums: worked values through every export, optimized cores against independent sums on
// every instruction set, hook and processor fallbacks, destinations, bad input, allocation failures.
#include "project/project.hpp"
#include "support/support.hpp"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

using kiptest::ScopedCpuinfo;
using kiptest::ScopedHook;
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

V valuesOf(const kimg_image* image) {
  const auto* first = static_cast<const uint32_t*>(image->firstPel);
  return {first, first + image->width};
}

// The 3 x 2 image with rows (1, 2, 3) and (4, 5, 6).
struct SmallImage {
  ScopedImage image{1, 3, 2};
  SmallImage() {
    for (int i = 0; i < 6; ++i) image.at<uint8_t>(i % 3, i / 3) = static_cast<uint8_t>(i + 1);
  }
};

enum class Regime { Default, HookForbidsBoth, HookForbidsRowSums, ProcessorWithoutSimd };

class ProjectionRegimeTest : public ::testing::TestWithParam<Regime> {};

// Optimized, portable, and one core of each: the same sums through every export.
TEST_P(ProjectionRegimeTest, WorkedExampleThroughEveryExport) {
  std::unique_ptr<ScopedHook> hook;
  std::unique_ptr<ScopedCpuinfo> cpu;
  if (GetParam() == Regime::HookForbidsBoth) {
    hook.reset(new ScopedHook({"kf_projection_vertical8_core", "kf_projection_horizontal8_core"}));
  }
  if (GetParam() == Regime::HookForbidsRowSums) hook.reset(new ScopedHook({"kf_projection_vertical8_core"}));
  if (GetParam() == Regime::ProcessorWithoutSimd) cpu = std::make_unique<ScopedCpuinfo>(2, 0);
  SmallImage small;
  const kimg_image* image = small.image.get();
  const kimg_window source = small.image.window();
  const V rows{6, 15}, columns{5, 7, 9};
  uint32_t rowCount = 0, columnCount = 0;
  ScopedImage rowImage, columnImage, out(4, 4, 1);
  ScopedVector vectors[4];
  kimg_window outWindow = out.window();
  ASSERT_EQ(kip_projectHorizontal8(image, rowImage.get(), &rowCount), 0);
  ASSERT_EQ(kip_projectVertical8(image, columnImage.get(), &columnCount), 0);
  EXPECT_TRUE(rowCount == 3 && columnCount == 2 && columnImage.get()->pelSize == 4 && columnImage.get()->height == 1);
  EXPECT_EQ(valuesOf(rowImage.get()), rows);
  EXPECT_EQ(valuesOf(columnImage.get()), columns);
  rowCount = columnCount = 0;
  ASSERT_EQ(kip_projectHorizontalVector8(image, vectors[0].get(), &rowCount), 0);
  ASSERT_EQ(kip_projectVerticalVector8(image, vectors[1].get(), nullptr), 0);
  ASSERT_EQ(kip_projectHorizontalVectorWindow8(&source, vectors[2].get(), &rowCount), 0);
  ASSERT_EQ(kip_projectVerticalVectorWindow8(&source, vectors[3].get(), &columnCount), 0);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(vectors[k].values(), k % 2 ? columns : rows) << "vector form " << k;
  EXPECT_TRUE(rowCount == 3 && columnCount == 2);
  rowCount = columnCount = 0;
  ASSERT_EQ(kip_projectHorizontalWindow8(&source, &outWindow, &rowCount), 0);
  EXPECT_EQ(valuesOf(out.get()), (V{6, 15, 0, 0}));
  ASSERT_EQ(kip_projectVerticalWindow8(&source, &outWindow, &columnCount), 0);
  EXPECT_EQ(valuesOf(out.get()), (V{5, 7, 9, 0}));
  EXPECT_TRUE(rowCount == 3 && columnCount == 2);
  // Reversed order, as the aligned affine projections ask for it.
  ASSERT_EQ(kf_projection_horizontal8(&source, &outWindow, 1), 0);
  EXPECT_EQ(valuesOf(out.get()), (V{9, 7, 5, 0}));
  ASSERT_EQ(kf_projection_vertical8(&source, &outWindow, 1), 0);
  EXPECT_EQ(valuesOf(out.get()), (V{15, 6, 5, 0}));
  // Each core asks the hook under its own name.
  if (hook) EXPECT_GT(ScopedHook::askedCount("kf_projection_horizontal8_core"), 0);
  if (hook) EXPECT_GT(ScopedHook::askedCount("kf_projection_vertical8_core"), 0);
}

INSTANTIATE_TEST_SUITE_P(Regimes, ProjectionRegimeTest,
                         ::testing::Values(Regime::Default, Regime::HookForbidsBoth, Regime::HookForbidsRowSums,
                                           Regime::ProcessorWithoutSimd));

// Optimized cores against the reference on every compiled instruction set, scalar included.
struct CoreCase {
  int width, height, strideExtra;
  bool saturated;  // all pels 255: the 16-bit partial sums at their limit
};

class ProjectionCoreTest : public ::testing::TestWithParam<CoreCase> {};

TEST_P(ProjectionCoreTest, EveryTargetMatchesReference) {
  const CoreCase c = GetParam();
  const int stride = c.width + c.strideExtra;
  std::vector<uint8_t> pels(static_cast<size_t>(stride) * c.height + 1);
  std::mt19937 random(c.width * 1000 + c.height);
  for (auto& p : pels) p = c.saturated ? 255 : static_cast<uint8_t>(random());
  ScopedCpuinfo simdPresent(1, 1);  // let the scalar target run the core too
  for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
    hwy::SetSupportedTargetsForTest(target);
    ASSERT_STREQ(projectionSimdTargetName(), hwy::TargetName(target));
    for (bool reverse : {false, true}) {
      // One guard entry past the end of each.
      V rows(c.height + 1, 0xDEADBEEF), columns(c.width + 1, 0xDEADBEEF);
      ASSERT_EQ(kf_projection_vertical8_core(pels.data(), c.width, c.height, stride, rows.data(), reverse), 0);
      ASSERT_EQ(kf_projection_horizontal8_core(pels.data(), c.width, c.height, stride, columns.data(), reverse), 0);
      V wantRows = referenceSums(pels, c.width, c.height, stride, false, reverse);
      V wantColumns = referenceSums(pels, c.width, c.height, stride, true, reverse);
      wantRows.push_back(0xDEADBEEF), wantColumns.push_back(0xDEADBEEF);
      EXPECT_EQ(rows, wantRows) << hwy::TargetName(target);
      EXPECT_EQ(columns, wantColumns) << hwy::TargetName(target);
    }
  }
  hwy::SetSupportedTargetsForTest(0);
}

std::vector<CoreCase> coreCases() {
  std::vector<CoreCase> cases{{0, 5, 0, false}, {5, 0, 0, false}, {64, 513, 7, true}};
  for (int width : {1, 15, 16, 17, 255, 256, 257, 1000})
    for (int height : {1, 15, 16, 17, 255, 256, 257})
      for (bool saturated : {false, true}) cases.push_back({width, height, width % 2 ? 3 : 0, saturated});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Sizes, ProjectionCoreTest, ::testing::ValuesIn(coreCases()));

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
  EXPECT_EQ(pelCount, 77u);
  EXPECT_EQ(out.get()->storage, nullptr) << "a failed call must leave an unbound destination unbound";
}

// A bound destination keeps its storage; windows without pels (with or without a first pel) give
// empty rows and write no column, on either processor.
TEST(ProjectionDestinations, BoundImagesAndEmptyWindows) {
  SmallImage small;
  ScopedImage bound(4, 8, 2);
  void* storage = bound.get()->firstPel;
  ASSERT_EQ(kip_projectVertical8(small.image.get(), bound.get(), nullptr), 0);
  EXPECT_TRUE(bound.get()->firstPel == storage && bound.get()->width == 8);
  EXPECT_EQ(valuesOf(bound.get())[2], 9u);

  ScopedImage source(1, 4, 3), out(4, 3, 1);
  kimg_window window = source.window(), outWindow = out.window();
  ASSERT_EQ(kimg_window_window(&window, 1, 0, 0, 3, nullptr), 0);  // width 0, height 3
  static_cast<uint32_t*>(out.get()->firstPel)[0] = 99;
  ASSERT_EQ(kip_projectVerticalWindow8(&window, &outWindow, nullptr), 0);
  EXPECT_EQ(valuesOf(out.get())[0], 99u);  // no column: nothing written
  ASSERT_EQ(kip_projectHorizontalWindow8(&window, &outWindow, nullptr), 0);
  EXPECT_EQ(valuesOf(out.get()), (V{0, 0, 0}));  // three empty rows
  kimg_window empty{};
  empty.height = 3, empty.pelSize = 1;
  for (const bool simd : {true, false}) {
    ScopedCpuinfo cpu(simd ? 1 : 2, simd ? 1 : 0);
    ScopedVector rows, columns;
    ASSERT_EQ(kip_projectHorizontalVectorWindow8(&empty, rows.get(), nullptr), 0);
    EXPECT_EQ(rows.values(), (V{0, 0, 0}));
    ASSERT_EQ(kip_projectVerticalVectorWindow8(&empty, columns.get(), nullptr), 0);
    EXPECT_TRUE(columns.values().empty());
  }
}

TEST(ProjectionBadInput, RefusedWithClearStatusAndNothingWritten) {
  SmallImage small;
  kimg_window source = small.image.window();
  ScopedImage wide16(2, 3, 2), out(4, 3, 1), out8(1, 3, 1), narrow(4, 2, 1), unbound;
  kimg_window source16 = wide16.window(), outWindow = out.window(), out8Window = out8.window();
  kimg_window narrowWindow = narrow.window();
  ScopedVector vector;
  ASSERT_EQ(kstd_vector32_resize(vector.get(), 5), 0);
  uint32_t pelCount = 7;
  EXPECT_EQ(kip_projectVertical8(nullptr, out.get(), &pelCount), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kip_projectVertical8(small.image.get(), nullptr, &pelCount), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kip_projectVerticalWindow8(nullptr, &outWindow, &pelCount), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kip_projectVerticalVectorWindow8(&source, nullptr, &pelCount), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kip_projectVerticalWindow8(&source16, &outWindow, &pelCount), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(kip_projectVertical8(wide16.get(), out.get(), &pelCount), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(kip_projectVerticalWindow8(&source, &out8Window, &pelCount), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(kip_projectVerticalWindow8(&source, &narrowWindow, &pelCount), KIP_ERR_DEST_TOO_SMALL);
  EXPECT_EQ(kip_projectVertical8(small.image.get(), narrow.get(), &pelCount), KIP_ERR_DEST_TOO_SMALL);
  EXPECT_EQ(kip_projectVerticalVector8(unbound.get(), vector.get(), &pelCount), KIP_ERR_PROJECT_UNBOUND);
  EXPECT_EQ(kip_projectHorizontal8(unbound.get(), out.get(), &pelCount), KIP_ERR_PROJECT_UNBOUND);
  kimg_window broken = source;
  broken.firstPel = nullptr;
  EXPECT_EQ(kip_projectHorizontalVectorWindow8(&broken, vector.get(), &pelCount), KIP_ERR_BAD_SIZE);
  broken = source;
  broken.stride = 1;  // rows would overlap: not a window
  EXPECT_EQ(kip_projectHorizontalWindow8(&broken, &outWindow, &pelCount), KIP_ERR_BAD_SIZE);
  EXPECT_EQ(pelCount, 7u);
  EXPECT_EQ(vector.get()->size, 5);
}

// A failure of the column-sum scratch row must come before anything is written: the caller's window
// keeps its values and the vector its size, storage and entries, whichever allocation fails.
TEST(ProjectionAllocation, FailedCallLeavesWindowAndVectorAsTheyWere) {
  ScopedImage source(1, 40, 30), out(4, 40, 1);
  kiptest::fillRandom8(source.get(), 6);
  kimg_window outWindow = out.window();
  const kimg_window sourceWindow = source.window();
  std::fill_n(static_cast<uint32_t*>(out.get()->firstPel), 40, 7u);
  kiptest::sweepAllocationFailures([&] { return kip_projectVerticalWindow8(&sourceWindow, &outWindow, nullptr); },
                                   [&] { EXPECT_EQ(valuesOf(out.get()), V(40, 7u)); });
  for (const int32_t size : {5, 60}) {  // a vector that must grow, and one with room
    ScopedVector vector;
    ASSERT_EQ(kstd_vector32_resize(vector.get(), size), 0);
    for (int32_t i = 0; i < size; ++i) vector.get()->begin[i] = 100 + i;
    const kstd_vector32 before = *vector.get();
    const V entries = vector.values();
    kiptest::sweepAllocationFailures([&] { return kip_projectVerticalVector8(source.get(), vector.get(), nullptr); },
                                     [&] {
                                       EXPECT_EQ(std::memcmp(vector.get(), &before, sizeof before), 0);
                                       EXPECT_EQ(vector.values(), entries);
                                     });
    EXPECT_EQ(vector.get()->size, 40);
  }
}

TEST(ProjectionAligned16, DirectionCodesChooseAxisAndOrder) {
  const int width = 5, height = 3, stride = 7;
  ScopedImage image(2, stride, height), out(4, 8, 1);
  kiptest::fillRandom16(image.get(), 11);
  kimg_window window = image.window(), outWindow = out.window();
  ASSERT_EQ(kimg_window_window(&window, 0, 0, width, height, nullptr), 0);
  const auto* first = static_cast<uint16_t*>(image.get()->firstPel);
  const std::vector<uint16_t> pels(first, first + stride * height);
  for (uint32_t code : {0u, 91u, 180u, 271u, 90u, 270u, 1u, 181u}) {
    const bool columns = code == 0 || code == 91 || code == 180 || code == 271;
    const bool reverse = code == 91 || code == 180 || code == 181 || code == 270;
    ASSERT_EQ(kf_projection_aligned16(&window, &outWindow, code), 0);
    V got = valuesOf(out.get());
    got.resize(columns ? width : height);
    EXPECT_EQ(got, referenceSums(pels, width, height, stride, columns, reverse)) << "code " << code;
  }
}

}  // namespace
