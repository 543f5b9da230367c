// The direct row kernels: one block walk shared by every kernel, parameterised by the position
// type (16.16 or double), the per-sample arithmetic and what is done with each value.
#include "engine/direct_kernels.hpp"

#include "frame/optimization_hook.hpp"

namespace {

// Positions are carried by addition only; 16.16 ones wrap like 32-bit integers, so that k
// additions equal start + k x step whatever the order.
inline void advance(int32_t& position, int32_t step) { position = fixedWrapAdd(position, step); }
inline void advance(double& position, double step) { position += step; }

// Store: one pel per sample, then down one destination row.
template <typename Pel>
struct StoreWriter {
  Pel* row;
  int32_t stride;
  void put(int32_t i, uint32_t value) { row[i] = static_cast<Pel>(value); }
  void nextRow() { row += stride; }
};

// Accumulate: add into the column's 32-bit entry (wrapping), and stay on the same entries.
struct AccumulateWriter {
  uint32_t* entries;
  void put(int32_t i, uint32_t value) { entries[i] += value; }
  void nextRow() {}
};

template <typename Position, typename Sample, typename Writer>
inline void walkBlock(Position x, Position y, Position rowX, Position rowY, Position columnX, Position columnY,
                      int32_t count, int32_t rows, int32_t firstRow, Sample sample, Writer writer) {
  for (int32_t r = 0; r < firstRow; ++r) {
    advance(x, rowX);
    advance(y, rowY);
  }
  for (int32_t r = 0; r < rows; ++r) {
    Position sx = x;
    Position sy = y;
#pragma GCC unroll 4
    for (int32_t i = 0; i < count; ++i) {
      writer.put(i, sample(sx, sy));
      advance(sx, columnX);
      advance(sy, columnY);
    }
    writer.nextRow();
    advance(x, rowX);
    advance(y, rowY);
  }
}

template <typename Pel, typename Position, typename Sample>
inline int32_t runKernel(bool accumulate, Position x, Position y, Position rowX, Position rowY, Position columnX,
                         Position columnY, int32_t count, int32_t rows, Sample sample, void* destination,
                         int32_t destinationStride, int32_t firstRow = 0) {
  if (accumulate) {
    walkBlock(x, y, rowX, rowY, columnX, columnY, count, rows, firstRow, sample,
              AccumulateWriter{static_cast<uint32_t*>(destination)});
  } else {
    walkBlock(x, y, rowX, rowY, columnX, columnY, count, rows, firstRow, sample,
              StoreWriter<Pel>{static_cast<Pel*>(destination), destinationStride});
  }
  return 0;
}

}  // namespace

template <typename Pel, bool kAccumulate>
int32_t directRowNearest(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                         int32_t count, int32_t rows, const DirectSource<Pel>& source, void* destination,
                         int32_t destinationStride) {
  return runKernel<Pel>(
      kAccumulate, x, y, rowX, rowY, columnX, columnY, count, rows,
      [&source](int32_t sx, int32_t sy) { return nearestFixed(source, sx, sy); }, destination, destinationStride);
}

// The half pel is taken off once, at the first position: the integer parts then name the
// upper-left of the four pels around every sample.
template <typename Pel, bool kAccumulate>
int32_t directRowBilinear(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                          int32_t count, int32_t rows, const DirectSource<Pel>& source, void* destination,
                          int32_t destinationStride) {
  return runKernel<Pel>(
      kAccumulate, fixedWrapAdd(x, -kFixedHalf), fixedWrapAdd(y, -kFixedHalf), rowX, rowY, columnX, columnY, count,
      rows, [&source](int32_t sx, int32_t sy) { return bilinearFixed(source, sx, sy); }, destination,
      destinationStride);
}

template <bool kAccumulate>
int32_t directRowNearestFloat(double x, double y, double rowX, double rowY, double columnX, double columnY,
                              int32_t count, int32_t rows, const DirectSource<uint8_t>& source, void* destination,
                              int32_t destinationStride, int32_t firstRow) {
  return runKernel<uint8_t>(
      kAccumulate, x, y, rowX, rowY, columnX, columnY, count, rows,
      [&source](double sx, double sy) { return nearestFloat(source, sx, sy); }, destination, destinationStride,
      firstRow);
}

template <bool kAccumulate>
int32_t directRowBilinearFloat(double x, double y, double rowX, double rowY, double columnX, double columnY,
                               int32_t count, int32_t rows, const DirectSource<uint8_t>& source, void* destination,
                               int32_t destinationStride, int32_t firstRow) {
  return runKernel<uint8_t>(
      kAccumulate, x - 0.5, y - 0.5, rowX, rowY, columnX, columnY, count, rows,
      [&source](double sx, double sy) { return bilinearFloat(source, sx, sy); }, destination, destinationStride,
      firstRow);
}

template int32_t directRowNearest<uint8_t, false>(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                                  int32_t, const DirectSource<uint8_t>&, void*, int32_t);
template int32_t directRowNearest<uint8_t, true>(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                                 const DirectSource<uint8_t>&, void*, int32_t);
template int32_t directRowNearest<uint16_t, false>(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                                   int32_t, const DirectSource<uint16_t>&, void*, int32_t);
template int32_t directRowNearest<uint16_t, true>(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                                  int32_t, const DirectSource<uint16_t>&, void*, int32_t);
template int32_t directRowBilinear<uint8_t, false>(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                                   int32_t, const DirectSource<uint8_t>&, void*, int32_t);
template int32_t directRowBilinear<uint8_t, true>(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                                  int32_t, const DirectSource<uint8_t>&, void*, int32_t);
template int32_t directRowBilinear<uint16_t, false>(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                                    int32_t, const DirectSource<uint16_t>&, void*, int32_t);
template int32_t directRowBilinear<uint16_t, true>(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                                   int32_t, const DirectSource<uint16_t>&, void*, int32_t);
template int32_t directRowNearestFloat<false>(double, double, double, double, double, double, int32_t, int32_t,
                                              const DirectSource<uint8_t>&, void*, int32_t, int32_t);
template int32_t directRowNearestFloat<true>(double, double, double, double, double, double, int32_t, int32_t,
                                             const DirectSource<uint8_t>&, void*, int32_t, int32_t);
template int32_t directRowBilinearFloat<false>(double, double, double, double, double, double, int32_t, int32_t,
                                               const DirectSource<uint8_t>&, void*, int32_t, int32_t);
template int32_t directRowBilinearFloat<true>(double, double, double, double, double, double, int32_t, int32_t,
                                              const DirectSource<uint8_t>&, void*, int32_t, int32_t);

int32_t affineRowBilinearOptimized16(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                     const DirectSource<uint16_t>&, void*, int32_t) {
  return KIP_ERR_NOT_AVAILABLE;
}

int32_t affineRowBilinearHooked16(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                                  int32_t count, int32_t rows, const DirectSource<uint16_t>& source, void* destination,
                                  int32_t destinationStride) {
  return dispatchOptimizedFirst(
      kHookBilinearTile16,
      [&] {
        return affineRowBilinearOptimized16(x, y, rowX, rowY, columnX, columnY, count, rows, source, destination,
                                            destinationStride);
      },
      [&] {
        return affineRowBilinear16(x, y, rowX, rowY, columnX, columnY, count, rows, source, destination,
                                   destinationStride);
      });
}
