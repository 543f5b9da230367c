// Aligned fast path: every orientation against a per-pel formula on every Highway target, guard pels
// around the destination, in-place use, refusals.
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

// Random pels with room around a window (stride beyond the width, a tail after the last row), so
// that a write outside the window shows.
template <typename Pel>
struct Plane {
  int width, height, stride;
  std::vector<Pel> pels;
  Plane(int w, int h, int s, uint32_t seed) : width(w), height(h), stride(s), pels(size_t(s) * h + 37) {
    std::mt19937 random(seed);
    for (auto& p : pels) p = static_cast<Pel>(random());
  }
  Pel& at(int row, int column) { return pels[size_t(row) * stride + column]; }
  kimg_window window() { return {width, height, 0, 0, 0, 0, 0, 0, stride, pels.data(), int32_t(sizeof(Pel))}; }
};

// The destination buffer afterwards: itself, with the window's pels replaced.
template <typename Pel>
std::vector<Pel> expectedAfter(Plane<Pel> source, Plane<Pel> destination, uint32_t code) {
  for (int i = 0; i < destination.height; ++i)
    for (int j = 0; j < destination.width; ++j) {
      const auto [r, c] = kiptest::turnSourceOf(code, i, j, source.width, source.height);
      destination.at(i, j) = source.at(r, c);
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

struct Shape {
  int width, height, sourceExtra, destinationExtra;  // extras: stride beyond the width
};

class AlignedShapeTest : public ::testing::TestWithParam<Shape> {
 protected:
  // The portable steps, and the export on every compiled instruction set (scalar included), into
  // another buffer and, where the shape allows, in place.
  template <typename Pel>
  void check() {
    const Shape s = GetParam();
    const Plane<Pel> source(s.width, s.height, s.width + s.sourceExtra, 7);
    for (uint32_t code : kCodes) {
      const int w = exchangesSides(code) ? s.height : s.width, h = exchangesSides(code) ? s.width : s.height;
      const Plane<Pel> original(w, h, w + s.destinationExtra, code + 100);
      const bool inPlace = !exchangesSides(code) || s.width == s.height;
      const std::vector<Pel> expected = expectedAfter(source, original, code);
      const std::vector<Pel> expectedInPlace = inPlace ? expectedAfter(source, source, code) : source.pels;
      const auto verify = [&](const char* what, int32_t (*run)(const kimg_window*, kimg_window*, uint32_t)) {
        Plane<Pel> from = source, to = original;
        kimg_window f = from.window(), t = to.window();
        ASSERT_EQ(run(&f, &t, code), 0);
        EXPECT_EQ(to.pels, expected) << what << ", code " << code;
        EXPECT_EQ(from.pels, source.pels) << what << ", code " << code << ": the source was written";
        if (!inPlace) return;
        ASSERT_EQ(run(&f, &f, code), 0);
        EXPECT_EQ(from.pels, expectedInPlace) << what << " in place, code " << code;
      };
      verify("portable", runPortable<Pel>);
      for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        ASSERT_STREQ(alignedSimdTargetName(), hwy::TargetName(target));
        verify(hwy::TargetName(target), runExport<Pel>);
      }
      hwy::SetSupportedTargetsForTest(0);
    }
  }
};

TEST_P(AlignedShapeTest, EightBit) { check<uint8_t>(); }
TEST_P(AlignedShapeTest, SixteenBit) { check<uint16_t>(); }

// Odd sizes, single rows and columns, exact tiles of 8, 16 and 64 pels and one past them, sizes
// crossing the kernels' 256-pel cache blocks, strides equal to and beyond the width.
INSTANTIATE_TEST_SUITE_P(Shapes, AlignedShapeTest,
                         ::testing::Values(Shape{1, 1, 0, 0}, Shape{1, 9, 3, 0}, Shape{9, 1, 0, 2}, Shape{40, 1, 1, 1},
                                           Shape{1, 40, 0, 5}, Shape{2, 2, 1, 0}, Shape{3, 2, 0, 0}, Shape{5, 3, 3, 0},
                                           Shape{8, 8, 0, 0}, Shape{15, 15, 0, 0}, Shape{16, 16, 4, 3},
                                           Shape{17, 33, 5, 2}, Shape{33, 33, 2, 7}, Shape{64, 64, 0, 0},
                                           Shape{65, 64, 3, 1}, Shape{100, 100, 3, 0}, Shape{100, 37, 4, 9},
                                           Shape{37, 100, 0, 0}, Shape{128, 131, 1, 0}, Shape{129, 5, 0, 0},
                                           Shape{300, 270, 13, 2}));

// The turn table itself, checked by eye: source rows (1 2 3), (4 5 6).
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

// Refused calls: the status says why and not a pel of the destination buffer changes. Each case
// narrows two 8 x 6 windows over 64 x 64 buffers into the refused situation.
struct Refusal {
  const char* name;
  bool sixteenBit;
  uint32_t code;
  int32_t status;
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
  EXPECT_EQ(r.sixteenBit ? kip_affineTransformAligned16(from, to, r.code) : kip_affineTransformAligned(from, to, r.code),
            r.status);
  EXPECT_EQ(destinationPels, before);
}

using W = kimg_window;
INSTANTIATE_TEST_SUITE_P(
    Cases, AlignedRefusalTest,
    ::testing::Values(
        Refusal{"NullSource", false, 0, KIP_ERR_NULL_POINTER, [](W& s, W&, void*) { s.pelSize = -1; }},
        Refusal{"NullDestination", true, 90, KIP_ERR_NULL_POINTER, [](W&, W& d, void*) { d.pelSize = -1; }},
        Refusal{"SixteenBitPelsToEightBitCall", false, 91, KIP_ERR_PEL_SIZE,
                [](W& s, W& d, void*) { s.pelSize = d.pelSize = 2; }},
        Refusal{"EightBitDestinationToSixteenBitCall", true, 0, KIP_ERR_PEL_SIZE, [](W&, W& d, void*) { d.pelSize = 1; }},
        Refusal{"StrideBelowWidth", false, 0, KIP_ERR_BAD_SIZE, [](W& s, W&, void*) { s.stride = 7; }},
        Refusal{"NegativeHeight", true, 271, KIP_ERR_BAD_SIZE, [](W&, W& d, void*) { d.height = -6; }},
        Refusal{"NullPelsWithPels", false, 1, KIP_ERR_BAD_SIZE, [](W& s, W&, void*) { s.firstPel = nullptr; }},
        Refusal{"TurnIntoUnturnedSize", false, 90, KIP_ERR_SIZE_MISMATCH, [](W&, W&, void*) {}},
        Refusal{"CopyIntoTurnedSize", true, 0, KIP_ERR_SIZE_MISMATCH,
                [](W&, W& d, void*) { std::swap(d.width, d.height); }},
        Refusal{"NonSquareTransposeInPlace", false, 1, KIP_ERR_MEMORY_OVERLAP,
                [](W& s, W& d, void* pels) { s = d, d.width = 6, d.height = 8, s.firstPel = d.firstPel = pels; }},
        Refusal{"SquareTurnInPlaceWithOtherStride", true, 270, KIP_ERR_MEMORY_OVERLAP,
                [](W& s, W& d, void*) { s = d, s.height = s.width = d.height = d.width = 6, s.stride = 9; }},
        Refusal{"MirrorOntoNextRow", false, 91, KIP_ERR_MEMORY_OVERLAP,
                [](W& s, W& d, void* pels) { s = d, d.firstPel = static_cast<uint8_t*>(pels) + 8; }},
        Refusal{"TransposeOntoOwnTail", true, 181, KIP_ERR_MEMORY_OVERLAP, [](W& s, W& d, void* pels) {
          s = d, s.firstPel = static_cast<uint16_t*>(pels) + 3;
          std::swap(d.width, d.height);
        }}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// Windows without pels: nothing to do, for every code, even with no first pel at all.
TEST(AlignedEmptyWindows, SucceedWithoutWriting) {
  for (uint32_t code : kCodes) {
    for (const auto& [w, h] : {std::pair{0, 0}, std::pair{5, 0}, std::pair{0, 4}}) {
      kimg_window source{w, h, 0, 0, 0, 0, 0, 0, w, nullptr, 1}, destination = source;
      if (exchangesSides(code)) std::swap(destination.width, destination.height);
      destination.stride = destination.width;
      EXPECT_EQ(kip_affineTransformAligned(&source, &destination, code), 0) << code << " " << w << "x" << h;
      source.pelSize = destination.pelSize = 2;
      EXPECT_EQ(kip_affineTransformAligned16(&source, &destination, code), 0) << code << " " << w << "x" << h;
    }
  }
}

}  // namespace
