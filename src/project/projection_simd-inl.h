// Projection-sum kernels for one instruction set; included once per Highway target by
// projection_simd.cpp. Sums are exact (wide accumulators), so every target produces the bits of
// the portable sums, wrap-around modulo 2^32 included.

#if defined(KIP_PROJECT_PROJECTION_SIMD_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KIP_PROJECT_PROJECTION_SIMD_INL_H_
#undef KIP_PROJECT_PROJECTION_SIMD_INL_H_
#else
#define KIP_PROJECT_PROJECTION_SIMD_INL_H_
#endif

#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

HWY_BEFORE_NAMESPACE();
namespace kip {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Sum of one row of 8-bit pels. SumsOf8 adds each group of eight bytes into a 64-bit lane, which
// cannot overflow for any row a 32-bit width allows; four accumulators hide the add latency.
HWY_INLINE uint64_t RowSum8(const uint8_t* HWY_RESTRICT row, size_t width) {
  const hn::ScalableTag<uint8_t> d8;
  const hn::Repartition<uint64_t, decltype(d8)> d64;
  const size_t n = hn::Lanes(d8);
  auto sum0 = hn::Zero(d64), sum1 = hn::Zero(d64), sum2 = hn::Zero(d64), sum3 = hn::Zero(d64);
  size_t x = 0;
  for (; x + 4 * n <= width; x += 4 * n) {
    sum0 = hn::Add(sum0, hn::SumsOf8(hn::LoadU(d8, row + x)));
    sum1 = hn::Add(sum1, hn::SumsOf8(hn::LoadU(d8, row + x + n)));
    sum2 = hn::Add(sum2, hn::SumsOf8(hn::LoadU(d8, row + x + 2 * n)));
    sum3 = hn::Add(sum3, hn::SumsOf8(hn::LoadU(d8, row + x + 3 * n)));
  }
  for (; x + n <= width; x += n) sum0 = hn::Add(sum0, hn::SumsOf8(hn::LoadU(d8, row + x)));
  const auto total = hn::Add(hn::Add(sum0, sum1), hn::Add(sum2, sum3));
  uint64_t sum = hn::GetLane(hn::SumOfLanes(d64, total));
  for (; x < width; ++x) sum += row[x];
  return sum;
}

void RowSums8(const uint8_t* firstPel, int32_t width, int32_t height, ptrdiff_t strideBytes, uint32_t* out,
              int32_t reverse) {
  for (int32_t i = 0; i < height; ++i) {
    const int32_t y = reverse ? height - 1 - i : i;
    // A window without pels may have no first pel to step from (null): its rows sum to 0.
    out[i] = width == 0 ? 0u
                        : static_cast<uint32_t>(RowSum8(firstPel + static_cast<ptrdiff_t>(y) * strideBytes,
                                                        static_cast<size_t>(width)));
  }
}

// Adds rows [0, rows) of 8-bit pels into 16-bit partial sums, two rows per pass so that each
// partial sum is loaded and stored half as often. The caller keeps rows at or below 256, so a
// partial sum stays at or below 256 x 255 and never wraps.
HWY_INLINE void AddRowsTo16(const uint8_t* firstRow, int32_t rows, ptrdiff_t strideBytes, size_t width,
                            uint16_t* HWY_RESTRICT partial) {
  const hn::ScalableTag<uint16_t> d16;
  const hn::Rebind<uint8_t, decltype(d16)> d8;  // half-width loads, promoted to 16 bits
  const size_t n = hn::Lanes(d16);
  int32_t y = 0;
  for (; y + 2 <= rows; y += 2) {
    const uint8_t* row0 = firstRow + static_cast<ptrdiff_t>(y) * strideBytes;
    const uint8_t* row1 = row0 + strideBytes;
    size_t x = 0;
    for (; x + n <= width; x += n) {
      const auto pair = hn::Add(hn::PromoteTo(d16, hn::LoadU(d8, row0 + x)), hn::PromoteTo(d16, hn::LoadU(d8, row1 + x)));
      hn::StoreU(hn::Add(hn::LoadU(d16, partial + x), pair), d16, partial + x);
    }
    for (; x < width; ++x) partial[x] = static_cast<uint16_t>(partial[x] + row0[x] + row1[x]);
  }
  if (y < rows) {
    const uint8_t* row = firstRow + static_cast<ptrdiff_t>(y) * strideBytes;
    size_t x = 0;
    for (; x + n <= width; x += n) {
      hn::StoreU(hn::Add(hn::LoadU(d16, partial + x), hn::PromoteTo(d16, hn::LoadU(d8, row + x))), d16, partial + x);
    }
    for (; x < width; ++x) partial[x] = static_cast<uint16_t>(partial[x] + row[x]);
  }
}

// out[x] += partial[x] widened to 32 bits; partial[x] = 0.
HWY_INLINE void FlushPartial(uint16_t* HWY_RESTRICT partial, size_t width, uint32_t* HWY_RESTRICT out) {
  const hn::ScalableTag<uint32_t> d32;
  const hn::Rebind<uint16_t, decltype(d32)> d16;
  const size_t n = hn::Lanes(d32);
  size_t x = 0;
  for (; x + n <= width; x += n) {
    hn::StoreU(hn::Add(hn::LoadU(d32, out + x), hn::PromoteTo(d32, hn::LoadU(d16, partial + x))), d32, out + x);
    hn::StoreU(hn::Zero(d16), d16, partial + x);
  }
  for (; x < width; ++x) {
    out[x] += partial[x];
    partial[x] = 0;
  }
}

// Column sums in blocks of at most 256 rows; out must hold width zeros, partial width zeros.
void ColumnSums8(const uint8_t* firstPel, int32_t width, int32_t height, ptrdiff_t strideBytes, uint32_t* out,
                 uint16_t* partial) {
  constexpr int32_t kBlockRows = 256;
  if (width == 0) return;  // no columns, and maybe no first pel to step from
  for (int32_t y = 0; y < height; y += kBlockRows) {
    const int32_t rows = height - y < kBlockRows ? height - y : kBlockRows;
    AddRowsTo16(firstPel + static_cast<ptrdiff_t>(y) * strideBytes, rows, strideBytes, static_cast<size_t>(width),
                partial);
    FlushPartial(partial, static_cast<size_t>(width), out);
  }
}

const char* TargetName() { return hwy::TargetName(HWY_TARGET); }

}  // namespace HWY_NAMESPACE
}  // namespace kip
HWY_AFTER_NAMESPACE();

#endif  // include guard
