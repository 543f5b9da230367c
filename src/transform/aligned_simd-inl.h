// Pel-moving kernels of the aligned fast path for one instruction set; included once per Highway
// target by aligned_simd.cpp. They only move pels, so every target gives the bits of the portable
// moves in aligned_ops.cpp.
//
// Every kernel takes typed first-pel pointers and row strides in pels of either sign: a negative
// stride walks an image bottom up, which is how the caller turns a plain transpose into a turn by
// 90 or 270 degrees and a plain copy or mirror into a flip, each in one pass.

#if defined(KIP_TRANSFORM_ALIGNED_SIMD_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KIP_TRANSFORM_ALIGNED_SIMD_INL_H_
#undef KIP_TRANSFORM_ALIGNED_SIMD_INL_H_
#else
#define KIP_TRANSFORM_ALIGNED_SIMD_INL_H_
#endif

#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

HWY_BEFORE_NAMESPACE();
namespace kip {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Helpers in a namespace of their own: inline functions of other kernels in kip::HWY_NAMESPACE
// must never meet these under the same name.
namespace aligned {

// Source rows [y0, y1) and columns [x0, x1) into the destination, destination (x, y) = source (y, x).
// Serves the edges the vector tiles leave and the whole of the scalar target.
template <typename Pel>
HWY_INLINE void TransposeScalar(const Pel* from, ptrdiff_t fromStride, Pel* to, ptrdiff_t toStride, size_t y0,
                                size_t y1, size_t x0, size_t x1) {
  for (size_t x = x0; x < x1; ++x) {
    Pel* row = to + static_cast<ptrdiff_t>(x) * toStride;
    for (size_t y = y0; y < y1; ++y) row[y] = from[static_cast<ptrdiff_t>(y) * fromStride + static_cast<ptrdiff_t>(x)];
  }
}

// Source and destination tiles of kBlock x kBlock pels: about 64 KB each way for 8-bit pels, so a
// tile's source and destination rows stay in the second-level cache and its pages in the TLB even
// when every row is a page of its own (a 4096-pel stride).
constexpr size_t kBlock = 256;

#if HWY_TARGET != HWY_SCALAR

template <class D>
constexpr size_t BytesOf() {
  return hn::MaxLanes(D()) * sizeof(hn::TFromD<D>);
}

// A 128-bit block holds kSide pels; the transposition works on kSide x kSide squares of pels.
template <typename Pel>
constexpr size_t kSide = 16 / sizeof(Pel);

// Transposes the kSide x kSide pels of every 128-bit block of v[0..kSide) (row k of a square is
// block b of v[k]). Each round interleaves v[i] with v[i + kSide / 2], which rotates the bits of
// a pel's (row, column) index by one place; log2(kSide) rounds exchange row and column.
template <class D, size_t kRows>
HWY_INLINE void TransposeSquares(D d, hn::VFromD<D> (&v)[kRows]) {
  static_assert(kRows == kSide<hn::TFromD<D>>, "one vector per row of a square");
  for (size_t round = 1; round < kRows; round *= 2) {
    hn::VFromD<D> t[kRows];
    HWY_UNROLL(16)
    for (size_t i = 0; i < kRows / 2; ++i) {
      t[2 * i] = hn::InterleaveLower(d, v[i], v[i + kRows / 2]);
      t[2 * i + 1] = hn::InterleaveUpper(d, v[i], v[i + kRows / 2]);
    }
    HWY_UNROLL(16)
    for (size_t i = 0; i < kRows; ++i) v[i] = t[i];
  }
}

// One vector whose block b comes from p + b * blockStride (strides in pels).
template <class D>
HWY_INLINE hn::VFromD<D> LoadBlocks(D d, const hn::TFromD<D>* p, ptrdiff_t blockStride) {
  if constexpr (BytesOf<D>() <= 16) {
    return hn::LoadU(d, p);
  } else {
    const hn::Half<D> dh;
    const ptrdiff_t halfBlocks = static_cast<ptrdiff_t>(BytesOf<D>() / 32);
    return hn::Combine(d, LoadBlocks(dh, p + halfBlocks * blockStride, blockStride), LoadBlocks(dh, p, blockStride));
  }
}

// Transposes source rows [y0, y1) by columns [x0, x1): y1 - y0 a multiple of the lane count, x1 - x0
// of kSide. A tile is Lanes(d) source rows by kSide columns: block b of vector k holds source row
// y + b * kSide + k, so after TransposeSquares vector k is destination row x + k, columns y to
// y + Lanes(d) - 1, stored whole.
template <class D>
HWY_INLINE void TransposeTiles(D d, const hn::TFromD<D>* from, ptrdiff_t fromStride, hn::TFromD<D>* to,
                               ptrdiff_t toStride, size_t y0, size_t y1, size_t x0, size_t x1) {
  using Pel = hn::TFromD<D>;
  constexpr size_t kRows = kSide<Pel>;
  const size_t lanes = hn::MaxLanes(D());
  for (size_t y = y0; y < y1; y += lanes) {
    const Pel* source = from + static_cast<ptrdiff_t>(y) * fromStride;
    for (size_t x = x0; x < x1; x += kRows) {
      hn::VFromD<D> v[kRows];
      HWY_UNROLL(16)
      for (size_t k = 0; k < kRows; ++k) {
        v[k] = LoadBlocks(d, source + static_cast<ptrdiff_t>(k) * fromStride + x,
                          static_cast<ptrdiff_t>(kRows) * fromStride);
      }
      TransposeSquares(d, v);
      Pel* destination = to + static_cast<ptrdiff_t>(x) * toStride + static_cast<ptrdiff_t>(y);
      HWY_UNROLL(16)
      for (size_t k = 0; k < kRows; ++k) hn::StoreU(v[k], d, destination + static_cast<ptrdiff_t>(k) * toStride);
    }
  }
}

// Byte or 16-bit lane order reversed over the whole vector. Highway 1.0.3 has no 8-bit Reverse:
// reverse the 64-bit lanes, then the bytes inside each.
template <class D>
HWY_INLINE hn::VFromD<D> ReversePels(D d, hn::VFromD<D> v) {
  if constexpr (sizeof(hn::TFromD<D>) == 1) {
    const hn::Repartition<uint64_t, D> d64;
    alignas(16) static constexpr uint8_t kBytesOfWord[16] = {7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8};
    const auto words = hn::BitCast(d, hn::Reverse(d64, hn::BitCast(d64, v)));
    return hn::TableLookupBytes(words, hn::LoadDup128(d, kBytesOfWord));
  } else {
    return hn::Reverse(d, v);
  }
}

// to[j] = from[width - 1 - j]. The last vector overlaps the one before rather than leave a tail;
// rows narrower than a vector go to the next smaller vector, then to scalar code.
template <class D>
HWY_INLINE void MirrorRow(D d, const hn::TFromD<D>* HWY_RESTRICT from, hn::TFromD<D>* HWY_RESTRICT to,
                          size_t width) {
  const size_t lanes = hn::MaxLanes(D());
  if (width < lanes) {
    if constexpr (BytesOf<D>() > 16) {
      MirrorRow(hn::Half<D>(), from, to, width);
    } else {
      for (size_t j = 0; j < width; ++j) to[j] = from[width - 1 - j];
    }
    return;
  }
  size_t x = 0;
  for (; x + lanes <= width; x += lanes) hn::StoreU(ReversePels(d, hn::LoadU(d, from + width - x - lanes)), d, to + x);
  if (x < width) hn::StoreU(ReversePels(d, hn::LoadU(d, from)), d, to + width - lanes);
}

// Swaps pel j with pel width - 1 - j: a vector from each end at a time, scalar in the middle.
template <class D>
HWY_INLINE void MirrorRowInPlace(D d, hn::TFromD<D>* row, size_t width) {
  const size_t lanes = hn::MaxLanes(D());
  size_t low = 0, high = width;
  while (high - low >= 2 * lanes) {
    const auto head = hn::LoadU(d, row + low);
    const auto tail = hn::LoadU(d, row + high - lanes);
    hn::StoreU(ReversePels(d, tail), d, row + low);
    hn::StoreU(ReversePels(d, head), d, row + high - lanes);
    low += lanes;
    high -= lanes;
  }
  for (; low + 1 < high; ++low, --high) std::swap(row[low], row[high - 1]);
}

template <typename Pel>
HWY_INLINE void LoadSquare(const Pel* p, ptrdiff_t stride, hn::VFromD<hn::Full128<Pel>> (&v)[kSide<Pel>]) {
  const hn::Full128<Pel> d;
  for (size_t k = 0; k < kSide<Pel>; ++k) v[k] = hn::LoadU(d, p + static_cast<ptrdiff_t>(k) * stride);
}

template <typename Pel>
HWY_INLINE void StoreSquare(const hn::VFromD<hn::Full128<Pel>> (&v)[kSide<Pel>], Pel* p, ptrdiff_t stride) {
  const hn::Full128<Pel> d;
  for (size_t k = 0; k < kSide<Pel>; ++k) hn::StoreU(v[k], d, p + static_cast<ptrdiff_t>(k) * stride);
}

#endif  // HWY_TARGET != HWY_SCALAR

// Destination (x, y) = source (y, x) for a source of rows x columns pels.
template <typename Pel>
HWY_INLINE void TransposeAll(const Pel* from, ptrdiff_t fromStride, Pel* to, ptrdiff_t toStride, size_t rows,
                             size_t columns) {
#if HWY_TARGET == HWY_SCALAR
  for (size_t y = 0; y < rows; y += kBlock) {
    for (size_t x = 0; x < columns; x += kBlock) {
      TransposeScalar(from, fromStride, to, toStride, y, std::min(y + kBlock, rows), x, std::min(x + kBlock, columns));
    }
  }
#else
  const hn::ScalableTag<Pel> d;
  const hn::Full128<Pel> d128;
  const size_t lanes = hn::MaxLanes(d);
  const size_t columnsTiled = columns - columns % kSide<Pel>;
  const size_t rowsWide = rows - rows % lanes;
  for (size_t y = 0; y < rowsWide; y += kBlock) {
    for (size_t x = 0; x < columnsTiled; x += kBlock) {
      TransposeTiles(d, from, fromStride, to, toStride, y, std::min(y + kBlock, rowsWide), x,
                     std::min(x + kBlock, columnsTiled));
    }
  }
  // Rows too few for a wide tile take 128-bit tiles, then what is left of them scalar code.
  size_t rowsTiled = rowsWide;
  if constexpr (BytesOf<decltype(d)>() > 16) {
    rowsTiled = rows - rows % kSide<Pel>;
    TransposeTiles(d128, from, fromStride, to, toStride, rowsWide, rowsTiled, 0, columnsTiled);
  }
  TransposeScalar(from, fromStride, to, toStride, rowsTiled, rows, 0, columnsTiled);
  TransposeScalar(from, fromStride, to, toStride, 0, rows, columnsTiled, columns);
#endif
}

template <typename Pel>
HWY_INLINE void MirrorAll(const Pel* from, ptrdiff_t fromStride, Pel* to, ptrdiff_t toStride, size_t rows,
                          size_t columns) {
  for (size_t y = 0; y < rows; ++y) {
    const Pel* source = from + static_cast<ptrdiff_t>(y) * fromStride;
    Pel* destination = to + static_cast<ptrdiff_t>(y) * toStride;
#if HWY_TARGET == HWY_SCALAR
    for (size_t j = 0; j < columns; ++j) destination[j] = source[columns - 1 - j];
#else
    MirrorRow(hn::ScalableTag<Pel>(), source, destination, columns);
#endif
  }
}

template <typename Pel>
HWY_INLINE void MirrorAllInPlace(Pel* first, ptrdiff_t stride, size_t rows, size_t columns) {
  for (size_t y = 0; y < rows; ++y) {
    Pel* row = first + static_cast<ptrdiff_t>(y) * stride;
#if HWY_TARGET == HWY_SCALAR
    for (size_t j = 0; j < columns / 2; ++j) std::swap(row[j], row[columns - 1 - j]);
#else
    MirrorRowInPlace(hn::ScalableTag<Pel>(), row, columns);
#endif
  }
}

// Square of side pels transposed in place: square tiles above the diagonal are swapped with their
// mirror tiles below it, diagonal tiles transposed where they are, the edges swapped pel by pel.
template <typename Pel>
HWY_INLINE void TransposeSquareInPlaceAll(Pel* first, ptrdiff_t stride, size_t side) {
  size_t sideTiled = 0;
#if HWY_TARGET != HWY_SCALAR
  const hn::Full128<Pel> d;
  constexpr size_t kRows = kSide<Pel>;
  sideTiled = side - side % kRows;
  for (size_t i = 0; i < sideTiled; i += kRows) {
    Pel* diagonal = first + static_cast<ptrdiff_t>(i) * stride + static_cast<ptrdiff_t>(i);
    hn::VFromD<decltype(d)> upper[kRows], lower[kRows];
    LoadSquare(diagonal, stride, upper);
    TransposeSquares(d, upper);
    StoreSquare(upper, diagonal, stride);
    for (size_t j = i + kRows; j < sideTiled; j += kRows) {
      Pel* above = first + static_cast<ptrdiff_t>(i) * stride + static_cast<ptrdiff_t>(j);
      Pel* below = first + static_cast<ptrdiff_t>(j) * stride + static_cast<ptrdiff_t>(i);
      LoadSquare(above, stride, upper);
      LoadSquare(below, stride, lower);
      TransposeSquares(d, upper);
      TransposeSquares(d, lower);
      StoreSquare(upper, below, stride);
      StoreSquare(lower, above, stride);
    }
  }
#endif
  // Pairs (i, j), j > i, with j in the untiled edge; pairs with both below sideTiled were tiled.
  for (size_t i = 0; i < side; ++i) {
    for (size_t j = std::max(i + 1, sideTiled); j < side; ++j) {
      std::swap(first[static_cast<ptrdiff_t>(i) * stride + static_cast<ptrdiff_t>(j)],
                first[static_cast<ptrdiff_t>(j) * stride + static_cast<ptrdiff_t>(i)]);
    }
  }
}

}  // namespace aligned

// The entry points dispatched at run time, one per pel size.
void AlignedTranspose8(const uint8_t* from, ptrdiff_t fromStride, uint8_t* to, ptrdiff_t toStride, size_t rows,
                size_t columns) {
  aligned::TransposeAll(from, fromStride, to, toStride, rows, columns);
}
void AlignedTranspose16(const uint16_t* from, ptrdiff_t fromStride, uint16_t* to, ptrdiff_t toStride, size_t rows,
                 size_t columns) {
  aligned::TransposeAll(from, fromStride, to, toStride, rows, columns);
}
void AlignedMirror8(const uint8_t* from, ptrdiff_t fromStride, uint8_t* to, ptrdiff_t toStride, size_t rows,
             size_t columns) {
  aligned::MirrorAll(from, fromStride, to, toStride, rows, columns);
}
void AlignedMirror16(const uint16_t* from, ptrdiff_t fromStride, uint16_t* to, ptrdiff_t toStride, size_t rows,
              size_t columns) {
  aligned::MirrorAll(from, fromStride, to, toStride, rows, columns);
}
void AlignedMirrorInPlace8(uint8_t* first, ptrdiff_t stride, size_t rows, size_t columns) {
  aligned::MirrorAllInPlace(first, stride, rows, columns);
}
void AlignedMirrorInPlace16(uint16_t* first, ptrdiff_t stride, size_t rows, size_t columns) {
  aligned::MirrorAllInPlace(first, stride, rows, columns);
}
void AlignedTransposeSquareInPlace8(uint8_t* first, ptrdiff_t stride, size_t side) {
  aligned::TransposeSquareInPlaceAll(first, stride, side);
}
void AlignedTransposeSquareInPlace16(uint16_t* first, ptrdiff_t stride, size_t side) {
  aligned::TransposeSquareInPlaceAll(first, stride, side);
}

const char* AlignedTargetName() { return hwy::TargetName(HWY_TARGET); }

}  // namespace HWY_NAMESPACE
}  // namespace kip
HWY_AFTER_NAMESPACE();

#endif  // include guard
