// Aligned fast path: every orientation against a per-pel formula, guard pels around the
// destination, in-place use, refusals, and every Highway target against the portable steps.
#include "transform/aligned_ops.hpp"
#include "transform/transform.hpp"
#include "support/turns.hpp"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t kCodes[] = {0, 1, 90, 91, 180, 181, 270, 271, 45};

bool exchangesSides(uint32_t code) { return code == 1 || code == 90 || code == 181 || code == 270; }

// Pels in a buffer with room around a window: stride beyond the width and a tail after the last
// row, all filled with random values, so that a write outside the window shows.
template <typename Pel>
struct Plane {
  int width, height, stride;
  std::vector<Pel> pels;

  Plane(int w, int h, int s, uint32_t seed) : width(w), height(h), stride(s), pels(size_t(s) * h + 37) {
    std::mt19937 random(seed);
    for (auto& p : pels) p = static_cast<Pel>(random());
  }
  Pel& at(int row, int column) { return pels[size_t(row) * stride + column]; }
  kimg_window window() {
    kimg_window w{};
    w.width = width;
    w.height = height;
    w.stride = stride;
    w.firstPel = pels.data();
    w.pelSize = sizeof(Pel);
    return w;
  }
};

// What the destination buffer must hold afterwards: itself, with the window's pels replaced.
template <typename Pel>
std::vector<Pel> expectedAfter(Plane<Pel> source, Plane<Pel> destination, uint32_t code) {
  for (int i = 0; i < destination.height; ++i) {
    for (int j = 0; j < destination.width; ++j) {
      const auto [r, c] = kiptest::turnSourceOf(code, i, j, source.width, source.height);
      destination.at(i, j) = source.at(r, c);
    }
  }
  return destination.pels;
}

template <typename Pel>
int32_t runExport(const kimg_window* source, kimg_window* destination, uint32_t code) {
  return sizeof(Pel) == 1 ? kip_affineTransformAligned(source, destination, code)
                          : kip_affineTransformAligned16(source, destination, code);
}

template <typename Pel>
int32_t runPortable(const kimg_window* source, kimg_window* destination, uint32_t code) {
  return sizeof(Pel) == 1 ? alignedTransform_portable8(source, destination, code)
                          : alignedTransform_portable16(source, destination, code);
}

template <typename Pel>
int32_t runSimd(const kimg_window* source, kimg_window* destination, uint32_t code) {
  return sizeof(Pel) == 1 ? alignedTransform_simd8(source, destination, code)
                          : alignedTransform_simd16(source, destination, code);
}

struct Shape {
  int width, height;      // source
  int sourceExtra;        // source stride - width
  int destinationExtra;   // destination stride - its width
};

std::string shapeName(const ::testing::TestParamInfo<Shape>& info) {
  const Shape& s = info.param;
  return std::to_string(s.width) + "x" + std::to_string(s.height) + "_pad" + std::to_string(s.sourceExtra) + "_" +
         std::to_string(s.destinationExtra);
}

template <typename Pel>
Plane<Pel> destinationFor(const Shape& s, uint32_t code, uint32_t seed) {
  const int w = exchangesSides(code) ? s.height : s.width;
  const int h = exchangesSides(code) ? s.width : s.height;
  return Plane<Pel>(w, h, w + s.destinationExtra, seed);
}

class AlignedShapeTest : public ::testing::TestWithParam<Shape> {
 protected:
  // The export and the portable steps against the formula, guards included, for every code.
  template <typename Pel>
  void checkAgainstFormula() {
    const Shape s = GetParam();
    Plane<Pel> source(s.width, s.height, s.width + s.sourceExtra, 7);
    const std::vector<Pel> sourceBefore = source.pels;
    for (uint32_t code : kCodes) {
      Plane<Pel> destination = destinationFor<Pel>(s, code, code + 100);
      const std::vector<Pel> expected = expectedAfter(source, destination, code);
      kimg_window from = source.window(), to = destination.window();
      const Plane<Pel> untouched = destination;
      ASSERT_EQ(runExport<Pel>(&from, &to, code), 0) << "code " << code;
      EXPECT_EQ(destination.pels, expected) << "export, code " << code;

      destination = untouched;
      to = destination.window();
      ASSERT_EQ(runPortable<Pel>(&from, &to, code), 0) << "code " << code;
      EXPECT_EQ(destination.pels, expected) << "portable, code " << code;
    }
    EXPECT_EQ(source.pels, sourceBefore) << "the source was written";
  }

  // Every compiled instruction set, the scalar one included, against the portable steps.
  template <typename Pel>
  void checkEveryTarget() {
    const Shape s = GetParam();
    Plane<Pel> source(s.width, s.height, s.width + s.sourceExtra, 11);
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
      hwy::SetSupportedTargetsForTest(target);
      ASSERT_STREQ(alignedSimdTargetName(), hwy::TargetName(target));
      for (uint32_t code : kCodes) {
        Plane<Pel> portable = destinationFor<Pel>(s, code, code);
        Plane<Pel> simd = portable;
        kimg_window from = source.window(), toPortable = portable.window(), toSimd = simd.window();
        ASSERT_EQ(runPortable<Pel>(&from, &toPortable, code), 0);
        ASSERT_EQ(runSimd<Pel>(&from, &toSimd, code), 0);
        EXPECT_EQ(simd.pels, portable.pels) << hwy::TargetName(target) << ", code " << code;
      }
    }
    hwy::SetSupportedTargetsForTest(0);
  }
};

TEST_P(AlignedShapeTest, EightBitMatchesFormula) { checkAgainstFormula<uint8_t>(); }
TEST_P(AlignedShapeTest, SixteenBitMatchesFormula) { checkAgainstFormula<uint16_t>(); }
TEST_P(AlignedShapeTest, EightBitEveryTargetMatchesPortable) { checkEveryTarget<uint8_t>(); }
TEST_P(AlignedShapeTest, SixteenBitEveryTargetMatchesPortable) { checkEveryTarget<uint16_t>(); }

// Odd sizes, single rows and columns, exact tiles of 8, 16 and 64 pels and one past them, sizes
// crossing the kernels' 256-pel cache blocks, strides equal to and beyond the width.
INSTANTIATE_TEST_SUITE_P(Shapes, AlignedShapeTest,
                         ::testing::Values(Shape{1, 1, 0, 0}, Shape{1, 9, 3, 0}, Shape{9, 1, 0, 2}, Shape{40, 1, 1, 1},
                                           Shape{1, 40, 0, 5}, Shape{3, 2, 0, 0}, Shape{5, 3, 3, 0},
                                           Shape{8, 8, 0, 0}, Shape{16, 16, 0, 3}, Shape{17, 33, 5, 2},
                                           Shape{33, 17, 0, 7}, Shape{64, 64, 0, 0}, Shape{65, 64, 3, 1},
                                           Shape{100, 37, 4, 9}, Shape{37, 100, 0, 0}, Shape{128, 131, 1, 0},
                                           Shape{300, 270, 13, 2}),
                         shapeName);

// A turn small enough to check by eye: source rows (1 2 3), (4 5 6).
TEST(AlignedWorkedExample, QuarterTurnsOfThreeByTwo) {
  Plane<uint8_t> source(3, 2, 3, 0);
  for (int k = 0; k < 6; ++k) source.at(k / 3, k % 3) = static_cast<uint8_t>(k + 1);
  const auto turned = [&](uint32_t code) {
    Plane<uint8_t> destination(2, 3, 2, 0);
    kimg_window from = source.window(), to = destination.window();
    EXPECT_EQ(kip_affineTransformAligned(&from, &to, code), 0);
    return std::vector<uint8_t>(destination.pels.begin(), destination.pels.begin() + 6);
  };
  EXPECT_EQ(turned(1), (std::vector<uint8_t>{1, 4, 2, 5, 3, 6}));    // row i holds column i
  EXPECT_EQ(turned(90), (std::vector<uint8_t>{3, 6, 2, 5, 1, 4}));   // counter-clockwise
  EXPECT_EQ(turned(270), (std::vector<uint8_t>{4, 1, 5, 2, 6, 3}));  // clockwise
  EXPECT_EQ(turned(181), (std::vector<uint8_t>{6, 3, 5, 2, 4, 1}));
}

// In place: every code on square windows, the non-transposing codes on any window, for both pel
// sizes and on every instruction set.
struct InPlaceCase {
  int width, height, extra;
};

class AlignedInPlaceTest : public ::testing::TestWithParam<InPlaceCase> {
 protected:
  template <typename Pel>
  void check() {
    const InPlaceCase c = GetParam();
    const Plane<Pel> original(c.width, c.height, c.width + c.extra, 5);
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
      hwy::SetSupportedTargetsForTest(target);
      for (uint32_t code : kCodes) {
        if (exchangesSides(code) && c.width != c.height) continue;
        Plane<Pel> plane = original;
        const std::vector<Pel> expected = expectedAfter(original, original, code);
        kimg_window window = plane.window();
        ASSERT_EQ(runExport<Pel>(&window, &window, code), 0) << "code " << code;
        EXPECT_EQ(plane.pels, expected) << hwy::TargetName(target) << ", code " << code;

        plane = original;
        window = plane.window();
        ASSERT_EQ(runPortable<Pel>(&window, &window, code), 0);
        EXPECT_EQ(plane.pels, expected) << "portable, code " << code;
      }
    }
    hwy::SetSupportedTargetsForTest(0);
  }
};

TEST_P(AlignedInPlaceTest, EightBit) { check<uint8_t>(); }
TEST_P(AlignedInPlaceTest, SixteenBit) { check<uint16_t>(); }

INSTANTIATE_TEST_SUITE_P(Windows, AlignedInPlaceTest,
                         ::testing::Values(InPlaceCase{1, 1, 0}, InPlaceCase{2, 2, 1}, InPlaceCase{15, 15, 0},
                                           InPlaceCase{16, 16, 4}, InPlaceCase{33, 33, 2}, InPlaceCase{64, 64, 0},
                                           InPlaceCase{100, 100, 3}, InPlaceCase{7, 3, 1}, InPlaceCase{129, 5, 0}));

// Refused calls: the status says why and not a pel of the destination buffer changes.
struct Refusal {
  const char* name;
  bool sixteenBit;
  uint32_t code;
  int32_t status;
  // Narrows the windows (both over one 64 x 64 buffer pair) into the refused situation.
  void (*arrange)(kimg_window& source, kimg_window& destination, void* destinationPels);
};

class AlignedRefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(AlignedRefusalTest, LeavesDestinationUnchanged) {
  const Refusal r = GetParam();
  std::vector<uint16_t> sourcePels(64 * 64, 1), destinationPels(64 * 64 + 64);
  std::mt19937 random(3);
  for (auto& p : destinationPels) p = static_cast<uint16_t>(random());
  const std::vector<uint16_t> before = destinationPels;
  const int pelSize = r.sixteenBit ? 2 : 1;
  kimg_window source{8, 6, 0, 0, 0, 0, 0, 0, 8, sourcePels.data(), pelSize};
  kimg_window destination{8, 6, 0, 0, 0, 0, 0, 0, 8, destinationPels.data(), pelSize};
  r.arrange(source, destination, destinationPels.data());
  const kimg_window* from = source.pelSize < 0 ? nullptr : &source;  // pel size -1 stands for null
  kimg_window* to = destination.pelSize < 0 ? nullptr : &destination;
  const int32_t status = r.sixteenBit ? kip_affineTransformAligned16(from, to, r.code)
                                      : kip_affineTransformAligned(from, to, r.code);
  EXPECT_EQ(status, r.status);
  EXPECT_EQ(destinationPels, before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AlignedRefusalTest,
    ::testing::Values(
        Refusal{"NullSource", false, 0, KIP_ERR_NULL_POINTER,
                [](kimg_window& s, kimg_window&, void*) { s.pelSize = -1; }},
        Refusal{"NullDestination", true, 90, KIP_ERR_NULL_POINTER,
                [](kimg_window&, kimg_window& d, void*) { d.pelSize = -1; }},
        Refusal{"SixteenBitPelsToEightBitCall", false, 91, KIP_ERR_PEL_SIZE,
                [](kimg_window& s, kimg_window& d, void*) { s.pelSize = d.pelSize = 2; }},
        Refusal{"EightBitDestinationToSixteenBitCall", true, 0, KIP_ERR_PEL_SIZE,
                [](kimg_window&, kimg_window& d, void*) { d.pelSize = 1; }},
        Refusal{"ThirtyTwoBitPels", false, 180, KIP_ERR_PEL_SIZE,
                [](kimg_window& s, kimg_window& d, void*) { s.pelSize = d.pelSize = 4; }},
        Refusal{"StrideBelowWidth", false, 0, KIP_ERR_BAD_SIZE,
                [](kimg_window& s, kimg_window&, void*) { s.stride = 7; }},
        Refusal{"NegativeHeight", true, 271, KIP_ERR_BAD_SIZE,
                [](kimg_window&, kimg_window& d, void*) { d.height = -6; }},
        Refusal{"NullPelsWithPels", false, 1, KIP_ERR_BAD_SIZE,
                [](kimg_window& s, kimg_window&, void*) { s.firstPel = nullptr; }},
        Refusal{"TurnIntoUnturnedSize", false, 90, KIP_ERR_SIZE_MISMATCH, [](kimg_window&, kimg_window&, void*) {}},
        Refusal{"CopyIntoTurnedSize", true, 0, KIP_ERR_SIZE_MISMATCH,
                [](kimg_window&, kimg_window& d, void*) { std::swap(d.width, d.height); }},
        Refusal{"DestinationWider", false, 180, KIP_ERR_SIZE_MISMATCH,
                [](kimg_window&, kimg_window& d, void*) { d.width = d.stride = 9; }},
        Refusal{"NonSquareTransposeInPlace", false, 1, KIP_ERR_MEMORY_OVERLAP,
                [](kimg_window& s, kimg_window& d, void* pels) {
                  s = d;
                  d.width = 6;
                  d.height = 8;
                  s.firstPel = d.firstPel = pels;
                }},
        Refusal{"SquareTurnInPlaceWithOtherStride", true, 270, KIP_ERR_MEMORY_OVERLAP,
                [](kimg_window& s, kimg_window& d, void*) {
                  s = d;
                  s.height = s.width = d.height = d.width = 6;
                  s.stride = 9;
                }},
        Refusal{"MirrorOntoNextRow", false, 91, KIP_ERR_MEMORY_OVERLAP,
                [](kimg_window& s, kimg_window& d, void* pels) {
                  s = d;
                  d.firstPel = static_cast<uint8_t*>(pels) + 8;
                }},
        Refusal{"TransposeOntoOwnTail", true, 181, KIP_ERR_MEMORY_OVERLAP,
                [](kimg_window& s, kimg_window& d, void* pels) {
                  s = d;
                  s.firstPel = static_cast<uint16_t*>(pels) + 3;
                  std::swap(d.width, d.height);
                }}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// Windows without pels: nothing to do, for every code, even with no first pel at all.
TEST(AlignedEmptyWindows, SucceedWithoutWriting) {
  for (uint32_t code : kCodes) {
    for (const auto& [w, h] : {std::pair{0, 0}, std::pair{5, 0}, std::pair{0, 4}}) {
      kimg_window source{w, h, 0, 0, 0, 0, 0, 0, w, nullptr, 1};
      kimg_window destination = source;
      if (exchangesSides(code)) std::swap(destination.width, destination.height);
      destination.stride = destination.width;
      EXPECT_EQ(kip_affineTransformAligned(&source, &destination, code), 0) << code << " " << w << "x" << h;
      source.pelSize = destination.pelSize = 2;
      EXPECT_EQ(kip_affineTransformAligned16(&source, &destination, code), 0) << code << " " << w << "x" << h;
    }
  }
}

}  // namespace
