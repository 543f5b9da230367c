// The bilinear tile drivers: set-up (checks, extent, map, 16.16 start and steps) and the tile walk.
#include "engine/bilinear_tile.hpp"

#include "engine/bilinear_tile_kernels.hpp"
#include "frame/fixed_point.hpp"
#include "platform/image.hpp"
#include "platform/math.hpp"

#include <algorithm>

namespace {

struct BilinearSetup {
  DirectSource<uint8_t> source;
  int32_t columns, rows;      // samples across; rows of this window (a band's own rows)
  int64_t bandStart;          // first destination row of the window within the whole destination
  void* destination;          // first pel (or entry) of the whole destination
  int32_t destinationStride;  // pels; 0 when accumulating
  bool accumulate;
};

struct FixedStep {
  int32_t x, y;
};

int32_t prepare(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                const kimg_window* destination, const affineSampleParams* params, int32_t tileRows,
                BilinearSetup* setup) {
  if (source == nullptr || sourceXform == nullptr || destination == nullptr || params == nullptr) {
    return KIP_ERR_NULL_POINTER;
  }
  int32_t status = kimg_window_validate(source, 1);
  if (status < 0) return status;
  status = kimg_window_validate(destination, accumulate != 0 ? 4 : 1);
  if (status < 0) return status;
  if (params->xCount < 1 || params->yCount < 1) return KIP_ERR_NO_SAMPLES;
  if (tileRows < 1 || destination->bandOffset > 0) return KIP_ERR_BAD_SIZE;

  setup->accumulate = accumulate != 0;
  setup->bandStart = -int64_t{destination->bandOffset};
  setup->destination = destination->firstPel;
  if (setup->accumulate) {
    if (destination->width < params->xCount) return KIP_ERR_DEST_TOO_SMALL;
    setup->columns = params->xCount;
    setup->rows = params->yCount;
    setup->destinationStride = 0;
  } else {
    setup->columns = destination->width;
    setup->rows = destination->height;
    setup->destinationStride = destination->stride;
  }
  if (setup->columns > 0 && setup->rows > 0 && (source->width < 1 || source->height < 1)) return KIP_ERR_BAD_SIZE;
  setup->source = {static_cast<const uint8_t*>(source->firstPel), source->stride, source->width, source->height, 0, 0};
  return 0;
}

int32_t mapPoint(const kmath_xformLinear& map, const kimg_window& source, double x, double y, kmath_vect* out) {
  const kmath_vect in{x, y};
  kmath_vect mapped{};
  const int32_t status = kmath_xformLinear_mapPoint(&map, &in, &mapped);
  if (status < 0) return status;
  *out = {mapped.x - source.xOrigin, mapped.y - source.yOrigin};
  return 0;
}

// Q0, and the steps Q1 - Q0 (one row down) and Q2 - Q0 (one column right), in source window pels.
int32_t mapThreePoints(const kimg_window& source, const kmath_xformLinear& sourceXform,
                       const affineSampleParams& params, kmath_vect* q0, kmath_vect* rowStep,
                       kmath_vect* columnStep) {
  kmath_xformLinear scale{};
  int32_t status =
      kmath_xformLinear_initMatrixTransElements(&scale, 1.0 / params.xCount, 0.0, 0.0, 1.0 / params.yCount, 0.0, 0.0);
  if (status < 0) return status;
  const kmath_xformLinear rect = kmath_shapeAffineRect_asXform(params.affineRect);
  kmath_xformLinear rectFromDestination{};
  status = kmath_xformLinear_initCompose(&rectFromDestination, &rect, &scale);
  if (status < 0) return status;
  kmath_xformLinear map{};
  status = kmath_xformLinear_initCompose(&map, &sourceXform, &rectFromDestination);
  if (status < 0) return status;
  kmath_vect q1{}, q2{};
  status = mapPoint(map, source, 0.5, 0.5, q0);
  if (status >= 0) status = mapPoint(map, source, 0.5, 1.5, &q1);
  if (status >= 0) status = mapPoint(map, source, 1.5, 0.5, &q2);
  if (status < 0) return status;
  *rowStep = {q1.x - q0->x, q1.y - q0->y};
  *columnStep = {q2.x - q0->x, q2.y - q0->y};
  return 0;
}

FixedStep add(FixedStep a, FixedStep b) { return {fixedWrapAdd(a.x, b.x), fixedWrapAdd(a.y, b.y)}; }
FixedStep times(FixedStep step, int64_t count) {
  const auto n = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(count)));
  return {fixedWrapMultiply(step.x, n), fixedWrapMultiply(step.y, n)};
}

int32_t bilinearTiles(uint32_t accumulate, const kimg_window* sourceWindow, const kmath_xformLinear* sourceXform,
                      const kimg_window* destination, const affineSampleParams* params, int32_t tileRows,
                      DirectKernel<uint8_t> kernel) {
  BilinearSetup setup{};
  int32_t status = prepare(accumulate, sourceWindow, sourceXform, destination, params, tileRows, &setup);
  if (status < 0) return status;
  kmath_vect q0{}, row{}, column{};
  status = mapThreePoints(*sourceWindow, *sourceXform, *params, &q0, &row, &column);
  if (status < 0) return status;

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
    void* tileDestination =
        setup.accumulate
            ? static_cast<void*>(static_cast<uint32_t*>(setup.destination) + columnLow)
            : static_cast<void*>(static_cast<uint8_t*>(setup.destination) + rowLow * setup.destinationStride + columnLow);
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
