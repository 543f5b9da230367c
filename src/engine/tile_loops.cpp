// The tile walks of the direct path: one set-up (checks, extent, the map's first position and
// steps), one walk over the tile grid, and three ways of turning a tile's indices into the
// kernel's start: 16.16, 2.30 origins rebased per tile, and doubles.
#include "engine/tile_loops.hpp"

#include "platform/image.hpp"
#include "platform/math.hpp"

#include <algorithm>
#include <limits>

namespace {

// What every loop needs before it computes positions.
template <typename Pel>
struct DirectSetup {
  DirectSource<Pel> source;
  bool accumulate;
  int32_t columns, rows;                   // samples across, rows of this window (a band's own rows)
  int64_t bandStart;                       // first destination row of the window within the whole destination
  void* destination;                       // first pel (or entry) of the whole destination
  int32_t destinationStride;               // pels; 0 when accumulating
  kmath_vect origin, rowStep, columnStep;  // first sample centre, steps per row and per column
};

int32_t mapPoint(const kmath_xformLinear& map, const kimg_window& source, double x, double y, kmath_vect* out) {
  const kmath_vect in{x, y};
  kmath_vect mapped{};
  const int32_t status = kmath_xformLinear_mapPoint(&map, &in, &mapped);
  if (status < 0) return status;
  *out = {mapped.x - source.xOrigin, mapped.y - source.yOrigin};
  return 0;
}

// The first sample centre and the steps of one destination row and one destination column, in
// source window pels: the centres of destination pels (0, 0), (0, 1) and (1, 0) under T o A o S.
int32_t mapSteps(const kimg_window& source, const kmath_xformLinear& sourceXform, const affineSampleParams& params,
                 kmath_vect* origin, kmath_vect* rowStep, kmath_vect* columnStep) {
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

  kmath_vect q0{}, qRow{}, qColumn{};
  status = mapPoint(map, source, 0.5, 0.5, &q0);
  if (status < 0) return status;
  status = mapPoint(map, source, 0.5, 1.5, &qRow);
  if (status < 0) return status;
  status = mapPoint(map, source, 1.5, 0.5, &qColumn);
  if (status < 0) return status;
  *origin = q0;
  *rowStep = {qRow.x - q0.x, qRow.y - q0.y};
  *columnStep = {qColumn.x - q0.x, qColumn.y - q0.y};
  return 0;
}

template <typename Pel, typename Kernel>
int32_t prepare(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                const kimg_window* destination, const affineSampleParams* params, int32_t tile, Kernel kernel,
                DirectSetup<Pel>* setup) {
  if (source == nullptr || sourceXform == nullptr || destination == nullptr || params == nullptr || kernel == nullptr) {
    return KIP_ERR_NULL_POINTER;
  }
  int32_t status = kimg_window_validate(source, sizeof(Pel));
  if (status < 0) return status;
  status = kimg_window_validate(destination, accumulate != 0 ? 4 : static_cast<int32_t>(sizeof(Pel)));
  if (status < 0) return status;
  if (params->xCount < 1 || params->yCount < 1) return KIP_ERR_NO_SAMPLES;
  if (tile < 1 || destination->bandOffset > 0) return KIP_ERR_BAD_SIZE;

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
  if (setup->columns > 0 && setup->rows > 0 && (source->width < 1 || source->height < 1)) {
    return KIP_ERR_BAD_SIZE;  // nothing to sample from
  }
  setup->source = {static_cast<const Pel*>(source->firstPel), source->stride, source->width, source->height, 0, 0};
  return mapSteps(*source, *sourceXform, *params, &setup->origin, &setup->rowStep, &setup->columnStep);
}

// One tile as the walk hands it out: its indices in the whole destination's tile grid, the first
// of its rows that this window covers, and the samples to compute.
struct TilePiece {
  int64_t tileColumn, tileRow;
  int32_t firstRowInTile;
  int32_t count, rows;
  int64_t destinationRow, destinationColumn;  // of the piece's first sample, whole-destination terms
};

// Visits every tile piece of the window's rows, stopping at the first failure.
template <typename Visit>
int32_t walkTiles(int32_t columns, int32_t rows, int64_t bandStart, int32_t tile, bool columnMajor, Visit visit) {
  if (columns < 1 || rows < 1) return 0;
  const int64_t firstRow = bandStart;
  const int64_t endRow = firstRow + rows;
  const int64_t firstTileRow = firstRow / tile;
  const int64_t endTileRow = (endRow + tile - 1) / tile;
  const int64_t tileColumns = (int64_t{columns} + tile - 1) / tile;
  auto piece = [&](int64_t c, int64_t t) {
    const int64_t rowLow = std::max(t * tile, firstRow);
    const int64_t rowHigh = std::min((t + 1) * tile, endRow);
    const int64_t columnLow = c * tile;
    const int64_t columnHigh = std::min(columnLow + tile, int64_t{columns});
    return visit(TilePiece{c, t, static_cast<int32_t>(rowLow - t * tile), static_cast<int32_t>(columnHigh - columnLow),
                           static_cast<int32_t>(rowHigh - rowLow), rowLow, columnLow});
  };
  int32_t status = 0;
  if (columnMajor) {
    for (int64_t c = 0; c < tileColumns; ++c) {
      for (int64_t t = firstTileRow; t < endTileRow; ++t) {
        status = piece(c, t);
        if (status < 0) return status;
      }
    }
  } else {
    for (int64_t t = firstTileRow; t < endTileRow; ++t) {
      for (int64_t c = 0; c < tileColumns; ++c) {
        status = piece(c, t);
        if (status < 0) return status;
      }
    }
  }
  return status;
}

// A tile's origin: start + tile row x row step + tile column x column step, with the wrap-around
// of the additions that would carry it from tile to tile (so only the indices modulo 2^32 count).
int32_t tileOrigin(int32_t start, int32_t rowStep, int32_t columnStep, const TilePiece& piece) {
  return fixedWrapAdd(start, fixedWrapAdd(fixedWrapMultiply(rowStep, static_cast<int32_t>(piece.tileRow)),
                                          fixedWrapMultiply(columnStep, static_cast<int32_t>(piece.tileColumn))));
}
int64_t tileOrigin30(int64_t start, int64_t rowStep, int64_t columnStep, const TilePiece& piece) {
  return fixed30WrapAdd(start, fixed30WrapAdd(fixed30WrapMultiply(rowStep, piece.tileRow),
                                              fixed30WrapMultiply(columnStep, piece.tileColumn)));
}

// The kernel's start for the piece's first row: the rows of the tile above it passed over.
int32_t pieceStart(int32_t origin, int32_t rowStep, const TilePiece& piece) {
  return fixedWrapAdd(origin, fixedWrapMultiply(rowStep, piece.firstRowInTile));
}

template <typename Pel>
void* destinationOf(const DirectSetup<Pel>& setup, const TilePiece& piece) {
  if (setup.accumulate) return static_cast<uint32_t*>(setup.destination) + piece.destinationColumn;
  return static_cast<Pel*>(setup.destination) + piece.destinationRow * setup.destinationStride +
         piece.destinationColumn;
}

template <typename Step>
Step magnitude(Step value) {
  return value < 0 ? -value : value;
}

bool chooseColumnMajor(TileOrder order, bool mapRunsDown, int64_t bandStart) {
  if (order != TileOrder::automatic) return order == TileOrder::columnMajor;
  // A band is always walked by rows, so that its tile rows are those of the whole destination.
  return mapRunsDown && bandStart == 0;
}

// The four 16.16 increments of a row and a column step.
struct FixedSteps {
  int32_t rowX, rowY, columnX, columnY;
};

int32_t fixedSteps(const kmath_vect& rowStep, const kmath_vect& columnStep, FixedSteps* steps) {
  int32_t status = fixedStepFromDouble(rowStep.x, &steps->rowX);
  if (status >= 0) status = fixedStepFromDouble(rowStep.y, &steps->rowY);
  if (status >= 0) status = fixedStepFromDouble(columnStep.x, &steps->columnX);
  if (status >= 0) status = fixedStepFromDouble(columnStep.y, &steps->columnY);
  return status;
}

template <typename Pel>
int32_t loopFixed(uint32_t accumulate, const kimg_window* sourceWindow, const kmath_xformLinear* sourceXform,
                  const kimg_window* destination, const affineSampleParams* params, int32_t tile,
                  DirectKernel<Pel> kernel, TileOrder order) {
  DirectSetup<Pel> setup{};
  int32_t status = prepare(accumulate, sourceWindow, sourceXform, destination, params, tile, kernel, &setup);
  if (status < 0) return status;

  int32_t x0 = 0, y0 = 0;
  FixedSteps step{};
  status = fixedPositionFromDouble(setup.origin.x, &x0);
  if (status >= 0) status = fixedPositionFromDouble(setup.origin.y, &y0);
  if (status >= 0) status = fixedSteps(setup.rowStep, setup.columnStep, &step);
  if (status < 0) return status;

  // Tile steps: on long samplings the tile step is taken from the double step, so that the
  // truncation of the 16.16 increment does not build up from tile to tile.
  FixedSteps tileStep{};
  if (params->xCount > 1024 || params->yCount > 1024) {
    const kmath_vect rowSpan{tile * setup.rowStep.x, tile * setup.rowStep.y};
    const kmath_vect columnSpan{tile * setup.columnStep.x, tile * setup.columnStep.y};
    status = fixedSteps(rowSpan, columnSpan, &tileStep);
    if (status < 0) return status;
  } else {
    tileStep = {fixedWrapMultiply(step.rowX, tile), fixedWrapMultiply(step.rowY, tile),
                fixedWrapMultiply(step.columnX, tile), fixedWrapMultiply(step.columnY, tile)};
  }

  const bool columnMajor =
      chooseColumnMajor(order, magnitude(int64_t{step.columnY}) > magnitude(int64_t{step.rowY}), setup.bandStart);
  return walkTiles(setup.columns, setup.rows, setup.bandStart, tile, columnMajor, [&](const TilePiece& piece) {
    const int32_t originX = tileOrigin(x0, tileStep.rowX, tileStep.columnX, piece);
    const int32_t originY = tileOrigin(y0, tileStep.rowY, tileStep.columnY, piece);
    return kernel(pieceStart(originX, step.rowX, piece), pieceStart(originY, step.rowY, piece), step.rowX, step.rowY,
                  step.columnX, step.columnY, piece.count, piece.rows, setup.source, destinationOf(setup, piece),
                  setup.destinationStride);
  });
}

int32_t saturateToInt32(int64_t value) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

}  // namespace

int32_t affineTile_loop8(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                         const kimg_window* destination, const affineSampleParams* params, int32_t tile,
                         DirectKernel<uint8_t> kernel, TileOrder order) {
  return loopFixed<uint8_t>(accumulate, source, sourceXform, destination, params, tile, kernel, order);
}

int32_t affineTile_loop16(uint32_t accumulate, const kimg_window* source, const kmath_xformLinear* sourceXform,
                          const kimg_window* destination, const affineSampleParams* params, int32_t tile,
                          DirectKernel<uint16_t> kernel, TileOrder order) {
  return loopFixed<uint16_t>(accumulate, source, sourceXform, destination, params, tile, kernel, order);
}

int32_t affineTile_loopLarge8(uint32_t accumulate, const kimg_window* sourceWindow,
                              const kmath_xformLinear* sourceXform, const kimg_window* destination,
                              const affineSampleParams* params, int32_t tile, DirectKernel<uint8_t> kernel,
                              TileOrder order) {
  DirectSetup<uint8_t> setup{};
  int32_t status = prepare(accumulate, sourceWindow, sourceXform, destination, params, tile, kernel, &setup);
  if (status < 0) return status;

  int64_t x0 = 0, y0 = 0, rowX = 0, rowY = 0, columnX = 0, columnY = 0;
  FixedSteps step{};
  status = fixed30PositionFromDouble(setup.origin.x, &x0);
  if (status >= 0) status = fixed30PositionFromDouble(setup.origin.y, &y0);
  if (status >= 0) status = fixed30StepFromDouble(setup.rowStep.x, &rowX);
  if (status >= 0) status = fixed30StepFromDouble(setup.rowStep.y, &rowY);
  if (status >= 0) status = fixed30StepFromDouble(setup.columnStep.x, &columnX);
  if (status >= 0) status = fixed30StepFromDouble(setup.columnStep.y, &columnY);
  if (status >= 0) status = fixedSteps(setup.rowStep, setup.columnStep, &step);
  if (status < 0) return status;
  // Tile steps are whole multiples of the 2.30 step, so tile origins stay exact to 2^-30.
  const int64_t tileRowX = fixed30WrapMultiply(rowX, tile), tileRowY = fixed30WrapMultiply(rowY, tile);
  const int64_t tileColumnX = fixed30WrapMultiply(columnX, tile);
  const int64_t tileColumnY = fixed30WrapMultiply(columnY, tile);

  const bool columnMajor =
      chooseColumnMajor(order, magnitude(int64_t{step.columnY}) > magnitude(int64_t{step.rowY}), setup.bandStart);
  return walkTiles(setup.columns, setup.rows, setup.bandStart, tile, columnMajor, [&](const TilePiece& piece) {
    const int64_t originX = tileOrigin30(x0, tileRowX, tileColumnX, piece);
    const int64_t originY = tileOrigin30(y0, tileRowY, tileColumnY, piece);
    // The kernel works relative to the pel the tile origin lies in, with the origin's fraction
    // rounded to 16 bits as its start.
    DirectSource<uint8_t> rebased = setup.source;
    rebased.xBase = saturateToInt32(fixed30IntegerPart(originX));
    rebased.yBase = saturateToInt32(fixed30IntegerPart(originY));
    return kernel(pieceStart(fixed30FractionToFixed(originX), step.rowX, piece),
                  pieceStart(fixed30FractionToFixed(originY), step.rowY, piece), step.rowX, step.rowY, step.columnX,
                  step.columnY, piece.count, piece.rows, rebased, destinationOf(setup, piece), setup.destinationStride);
  });
}

int32_t affineTile_loopFloat8(uint32_t accumulate, const kimg_window* sourceWindow,
                              const kmath_xformLinear* sourceXform, const kimg_window* destination,
                              const affineSampleParams* params, int32_t tile, DirectFloatKernel8 kernel,
                              TileOrder order) {
  DirectSetup<uint8_t> setup{};
  const int32_t status = prepare(accumulate, sourceWindow, sourceXform, destination, params, tile, kernel, &setup);
  if (status < 0) return status;
  const kmath_vect row = setup.rowStep;
  const kmath_vect column = setup.columnStep;
  const kmath_vect tileRow{tile * row.x, tile * row.y};
  const kmath_vect tileColumn{tile * column.x, tile * column.y};

  const bool columnMajor = chooseColumnMajor(order, magnitude(column.y) > magnitude(row.y), setup.bandStart);
  return walkTiles(setup.columns, setup.rows, setup.bandStart, tile, columnMajor, [&](const TilePiece& piece) {
    // One expression for every tile, whatever the order: double sums depend on their grouping.
    const double tileRowIndex = static_cast<double>(piece.tileRow);
    const double tileColumnIndex = static_cast<double>(piece.tileColumn);
    const double x = (setup.origin.x + tileRowIndex * tileRow.x) + tileColumnIndex * tileColumn.x;
    const double y = (setup.origin.y + tileRowIndex * tileRow.y) + tileColumnIndex * tileColumn.y;
    return kernel(x, y, row.x, row.y, column.x, column.y, piece.count, piece.rows, setup.source,
                  destinationOf(setup, piece), setup.destinationStride, piece.firstRowInTile);
  });
}
