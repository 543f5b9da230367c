// Aligned fast path: every orientation against a per-pel formula on every Highway target, guard pels
// around the destination, in-place use, one refusal per status.
#include "transform/aligned_ops.hpp"
#include "transform/transform.hpp"
#include "support/turns.hpp"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t kCodes[] = {0, 1, 90, 91, 180, 181, 270, 271, 45};

bool exchangesSides(uint32_t code) { return code == 1 || code == 90 || code == 181 || code == 270; }

// Random pels with room around a window (stride beyond the width, a tail after the last row), so
// that a write outside the window shows.
template <typename Pel> struct Plane {
  int width, height, stride;
  std::vector<Pel> pels;
  Plane(int w, int h, int s, uint32_t seed) : width(w), height(h), stride(s), pels(size_t(s) * h + 37) {
    for (size_t i = 0; i < pels.size(); ++i) pels[i] = static_cast<Pel>((i + seed) * 2654435761u >> 9);
  }
  Pel& at(int row, int column) { return pels[size_t(row) * stride + column]; }
  kimg_window window() { return {width, height, 0, 0, 0, 0, 0, 0, stride, pels.data(), int32_t(sizeof(Pel))}; }
};

// The destination buffer afterwards: itself, with the window's pels replaced.
template <typename Pel> std::vector<Pel> expectedAfter(Plane<Pel> source, Plane<Pel> destination, uint32_t code) {
  for (int i = 0; i < destination.height; ++i)
    for (int j = 0; j < destination.width; ++j) {
      const auto [r, c] = kiptest::turnSourceOf(code, i, j, source.width, source.height);
      destination.at(i, j) = source.at(r, c);
    }
  return destination.pels;
}

// Extras: stride beyond the width.
struct Shape { int width, height, sourceExtra, destinationExtra; };

class AlignedShapeTest : public ::testing::TestWithParam<Shape> {
 protected:
  // The portable steps, and the export on every compiled instruction set (scalar included), into
  // another buffer and, where the shape allows, in place.
  template <typename Pel> void check() {
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
        EXPECT_TRUE(to.pels == expected && from.pels == source.pels) << what << ", code " << code;  // the source unwritten
        if (!inPlace) return;
        ASSERT_EQ(run(&f, &f, code), 0);
        EXPECT_EQ(from.pels, expectedInPlace) << what << " in place, code " << code;
      };
      verify("portable", sizeof(Pel) == 1 ? alignedTransform_portable8 : alignedTransform_portable16);
      for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        ASSERT_STREQ(alignedSimdTargetName(), hwy::TargetName(target));
        verify(hwy::TargetName(target), sizeof(Pel) == 1 ? kip_affineTransformAligned : kip_affineTransformAligned16);
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
                         ::testing::Values(Shape{1, 1, 0, 0}, Shape{1, 9, 3, 0}, Shape{40, 1, 1, 1}, Shape{5, 3, 3, 0}, Shape{16, 16, 4, 3},
                                           Shape{17, 33, 5, 2}, Shape{65, 64, 3, 1}, Shape{100, 37, 4, 9}, Shape{300, 270, 13, 2}));

// The turn table itself, checked by eye: source rows (1 2 3), (4 5 6).
TEST(AlignedWorkedExample, QuarterTurnsOfThreeByTwo) {
  std::vector<uint8_t> source{1, 2, 3, 4, 5, 6}, transposed(6), turned(6);
  const kimg_window from{3, 2, 0, 0, 0, 0, 0, 0, 3, source.data(), 1};
  kimg_window to{2, 3, 0, 0, 0, 0, 0, 0, 2, transposed.data(), 1}, toTurned = to;
  toTurned.firstPel = turned.data();
  ASSERT_EQ(kip_affineTransformAligned(&from, &to, 1) | kip_affineTransformAligned(&from, &toTurned, 90), 0);
  EXPECT_EQ(transposed, (std::vector<uint8_t>{1, 4, 2, 5, 3, 6}));  // row i holds column i
  EXPECT_EQ(turned, (std::vector<uint8_t>{3, 6, 2, 5, 1, 4}));      // counter-clockwise
}

// Refused calls, one per status: not a pel of the destination buffer changes.
TEST(AlignedRefusals, LeaveTheDestinationUnchanged) {
  std::vector<uint16_t> sourcePels(64 * 64, 1), pels(64 * 64 + 64);
  for (size_t i = 0; i < pels.size(); ++i) pels[i] = static_cast<uint16_t>(i * 40503u);
  const std::vector<uint16_t> before = pels;
  kimg_window s8{8, 6, 0, 0, 0, 0, 0, 0, 8, sourcePels.data(), 1}, d8{8, 6, 0, 0, 0, 0, 0, 0, 8, pels.data(), 1};
  kimg_window s16 = s8, d16 = d8, badHeight, turned, ownTail;
  s16.pelSize = d16.pelSize = 2, badHeight = turned = ownTail = d16;
  badHeight.height = -6, std::swap(turned.width, turned.height);
  ownTail.firstPel = pels.data() + 3;  // a transpose onto its own tail
  EXPECT_EQ(kip_affineTransformAligned(nullptr, &d8, 0), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(kip_affineTransformAligned16(&s16, &d8, 0), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(kip_affineTransformAligned16(&s16, &badHeight, 271), KIP_ERR_BAD_SIZE);
  EXPECT_EQ(kip_affineTransformAligned(&s8, &d8, 90), KIP_ERR_SIZE_MISMATCH);
  EXPECT_EQ(kip_affineTransformAligned16(&ownTail, &turned, 181), KIP_ERR_MEMORY_OVERLAP);
  EXPECT_EQ(pels, before);
}

}  // namespace
