// The bilinear tile drivers: set-up (checks, extent, map, 16.16 start and steps) and the tile walk.
#include "engine/bilinear_tile.hpp"

#include <algorithm>

#include "engine/bilinear_tile_kernels.hpp"
#include "engine/direct_setup.hpp"
#include "frame/fixed_point.hpp"
#include "platform/image.hpp"
#include "platform/math.hpp"

namespace {

struct FixedStep {
  int32_t x, y;
};

FixedStep add(FixedStep a, FixedStep b) { return {fixedWrapAdd(a.x, b.x), fixedWrapAdd(a.y, b.y)}; }
FixedStep times(FixedStep step, int64_t count) {
  const auto n = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(count)));
  return {fixedWrapMultiply(step.x, n), fixedWrapMultiply(step.y, n)};
}

int32_t bilinearTiles(uint32_t accumulate, const kimg_window* sourceWindow, const kmath_xformLinear* sourceXform,
                      const kimg_window* destination, const affineSampleParams* params, int32_t tileRows,
                      DirectKernel<uint8_t> kernel) {
  DirectSetup<uint8_t> setup{};
  int32_t status = directPrepare(accumulate, sourceWindow, sourceXform, destination, params, tileRows, &setup);
  if (status < 0) return status;
  const kmath_vect q0 = setup.origin, row = setup.rowStep, column = setup.columnStep;

  // Start half a pel up and left of the first centre, to the nearest 1/65536.
  FixedStep start{};
  status = fixedPositionFromDouble(q0.x, &start.x);
  if (status >= 0) status = fixedPositionFromDouble(q0.y, &start.y);
  FixedStep rowStep{}, columnStep{};
  if (status >= 0) status = fixedSaturatedStep(row.x, &rowStep.x);
  if (status >= 0) status = fixedSaturatedStep(row.y, &rowStep.y);
  if (status >= 0) status = fixedSaturatedStep(column.x, &columnStep.x);
  if (status >= 0) status = fixedSaturatedStep(column.y, &columnStep.y);
  if (status < 0) return status;
  start = add(start, {-kFixedHalf, -kFixedHalf});
  const FixedStep tileRowStep{fixedTileStep(tileRows * row.x), fixedTileStep(tileRows * row.y)};
  const FixedStep tileColumnStep{fixedTileStep(tileRows * column.x), fixedTileStep(tileRows * column.y)};

  if (kernel == nullptr) kernel = setup.accumulate ? affineTileBilinearSimdAcc8 : affineTileBilinearSimd8;
  if (setup.columns < 1 || setup.rows < 1) return 0;

  const int64_t endRow = setup.bandStart + setup.rows;
  const int64_t firstTileRow = setup.bandStart / tileRows;
  const int64_t endTileRow = (endRow + tileRows - 1) / tileRows;
  const int64_t tileColumns = (int64_t{setup.columns} + tileRows - 1) / tileRows;

  // Tile (c, t), whose start is tileStart: the part of its rows that this window covers.
  const auto runTile = [&](int64_t c, int64_t t, FixedStep tileStart) {
    const int64_t rowLow = std::max(t * tileRows, setup.bandStart);
    const int64_t rowHigh = std::min((t + 1) * tileRows, endRow);
    const int64_t columnLow = c * tileRows;
    const auto count = static_cast<int32_t>(std::min<int64_t>(tileRows, setup.columns - columnLow));
    const FixedStep first = add(tileStart, times(rowStep, rowLow - t * tileRows));
    void* tileDestination = setup.accumulate ? static_cast<void*>(static_cast<uint32_t*>(setup.destination) + columnLow)
                                             : static_cast<void*>(static_cast<uint8_t*>(setup.destination) +
                                                                  rowLow * setup.destinationStride + columnLow);
    return kernel(first.x, first.y, rowStep.x, rowStep.y, columnStep.x, columnStep.y, count,
                  static_cast<int32_t>(rowHigh - rowLow), setup.source, tileDestination, setup.destinationStride);
  };

  const auto magnitude = [](int32_t v) { return v < 0 ? -int64_t{v} : int64_t{v}; };
  const bool columnMajor = magnitude(columnStep.y) > magnitude(rowStep.y) && setup.bandStart == 0;
  if (columnMajor) {
    FixedStep columnStart = start;
    for (int64_t c = 0; c < tileColumns; ++c) {
      FixedStep tileStart = columnStart;
      for (int64_t t = firstTileRow; t < endTileRow; ++t) {
        status = runTile(c, t, tileStart);
        if (status < 0) return status;
        tileStart = add(tileStart, tileRowStep);
      }
      columnStart = add(columnStart, tileColumnStep);
    }
    return 0;
  }
  FixedStep rowStart = add(start, times(tileRowStep, firstTileRow));
  for (int64_t t = firstTileRow; t < endTileRow; ++t) {
    FixedStep tileStart = rowStart;
    for (int64_t c = 0; c < tileColumns; ++c) {
      status = runTile(c, t, tileStart);
      if (status < 0) return status;
      tileStart = add(tileStart, tileColumnStep);
    }
    rowStart = add(rowStart, tileRowStep);
  }
  return 0;
}

}  // namespace

int32_t affineTile_bilinearStore8(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                                  const kimg_window* destination, const affineSampleParams* params, int32_t tileRows,
                                  DirectKernel<uint8_t> kernel) {
  if (accumulate != 0) return KIP_ERR_INTERNAL;
  return bilinearTiles(0, source, sourceXform, destination, params, tileRows, kernel);
}

int32_t affineTile_bilinearAccumulate8(uint32_t accumulate, const kimg_window* source,
                                       const kmath_xformLinear* sourceXform, const kimg_window* destination,
                                       const affineSampleParams* params, int32_t tileRows,
                                       DirectKernel<uint8_t> kernel) {
  if (accumulate != 1) return KIP_ERR_INTERNAL;
  return bilinearTiles(1, source, sourceXform, destination, params, tileRows, kernel);
}
