// The scalar tile kernels of the tiled bilinear driver, written as the walk is stated: rows top to
// bottom, each row's samples left to right adding the column step, or right to left subtracting it
// when the column step's y is positive.
#include "engine/bilinear_tile_kernels.hpp"

namespace {

constexpr int32_t wrapSubtract(int32_t value, int32_t step) {
  return static_cast<int32_t>(static_cast<uint32_t>(value) - static_cast<uint32_t>(step));
}

template <bool kAccumulate>
int32_t tileBilinear(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX, int32_t columnY,
                     int32_t count, int32_t rows, const DirectSource<uint8_t>& source, void* destination,
                     int32_t destinationStride) {
  auto* pels = static_cast<uint8_t*>(destination);
  auto* entries = static_cast<uint32_t*>(destination);
  const auto put = [&](int32_t i, uint32_t value) {
    if constexpr (kAccumulate) {
      entries[i] += value;
    } else {
      pels[i] = static_cast<uint8_t>(value);
    }
  };
  const bool reverse = columnY > 0;
  for (int32_t r = 0; r < rows; ++r) {
    if (reverse) {
      int32_t sx = fixedWrapAdd(x, fixedWrapMultiply(columnX, count - 1));
      int32_t sy = fixedWrapAdd(y, fixedWrapMultiply(columnY, count - 1));
      for (int32_t i = count - 1; i >= 0; --i) {
        put(i, tiledBilinearSample(source, sx, sy));
        sx = wrapSubtract(sx, columnX);
        sy = wrapSubtract(sy, columnY);
      }
    } else {
      int32_t sx = x, sy = y;
      for (int32_t i = 0; i < count; ++i) {
        put(i, tiledBilinearSample(source, sx, sy));
        sx = fixedWrapAdd(sx, columnX);
        sy = fixedWrapAdd(sy, columnY);
      }
    }
    if constexpr (!kAccumulate) pels += destinationStride;
    x = fixedWrapAdd(x, rowX);
    y = fixedWrapAdd(y, rowY);
  }
  return 0;
}

}  // namespace

int32_t affineTileBilinearScalar8(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX,
                                  int32_t columnY, int32_t count, int32_t rows,
                                  const DirectSource<uint8_t>& source, void* destination,
                                  int32_t destinationStride) {
  return tileBilinear<false>(x, y, rowX, rowY, columnX, columnY, count, rows, source, destination,
                             destinationStride);
}

int32_t affineTileBilinearScalarAcc8(int32_t x, int32_t y, int32_t rowX, int32_t rowY, int32_t columnX,
                                     int32_t columnY, int32_t count, int32_t rows,
                                     const DirectSource<uint8_t>& source, void* destination,
                                     int32_t destinationStride) {
  return tileBilinear<true>(x, y, rowX, rowY, columnX, columnY, count, rows, source, destination,
                            destinationStride);
}
