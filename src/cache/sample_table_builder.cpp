// Builds a sample table: tiling, major and minor axes and the 16.16 start values and advances of
// the two-pass sampling modes. Works in double precision; only its results are 16.16, each by
// truncation. Every conversion is range-checked first, so a degenerate or huge map is refused
// with a status instead of converting a value that does not fit.
#include "cache/sample_table.hpp"

#include "frame/fixed_point.hpp"
#include "platform/math.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numbers>

namespace {

constexpr int32_t kFirstTileEdge = 96;
constexpr double kMaxTileSourceBox = 200000.0;  // pels of source one tile may span
constexpr double kBoxEpsilon = 1e-6;
// A first position exactly on a pel would have a zero fraction; the nudge keeps it at least one
// 1/65536 above.
constexpr double kFractionNudge = 1.526e-5;

struct Matrix {
  double a, b, c, d;  // one destination column moves the source by (a, c), one row by (b, d)
};

struct SourceBox {
  int32_t xMin, yMin;
  double area;
};

// Bounding box in source pels of the parallelogram that a w x h tile covers, from its start,
// grown by the interpolation margin.
SourceBox tileSourceBox(const Matrix& m, int32_t w, int32_t h, int32_t margin) {
  const double xs[4] = {0.0, w * m.a, h * m.b, w * m.a + h * m.b};
  const double ys[4] = {0.0, w * m.c, h * m.d, w * m.c + h * m.d};
  const auto [xLow, xHigh] = std::minmax_element(xs, xs + 4);
  const auto [yLow, yHigh] = std::minmax_element(ys, ys + 4);
  const int64_t xMin = int64_t{kxfIFloor(*xLow + kBoxEpsilon)} - margin;
  const int64_t xMax = int64_t{kxfICeil(*xHigh - kBoxEpsilon)} + margin;
  const int64_t yMin = int64_t{kxfIFloor(*yLow + kBoxEpsilon)} - margin;
  const int64_t yMax = int64_t{kxfICeil(*yHigh - kBoxEpsilon)} + margin;
  return {static_cast<int32_t>(xMin), static_cast<int32_t>(yMin),
          static_cast<double>(xMax - xMin + 1) * static_cast<double>(yMax - yMin + 1)};
}

struct Tiling {
  int32_t width, height, lastWidth, lastHeight;
  uint32_t across, down;
};

// Largest tile, starting from 96 x 96, whose source box stays within the limit.
Tiling searchTiling(const Matrix& m, int32_t columns, int32_t rows, int32_t margin) {
  int32_t w = std::min(kFirstTileEdge, columns);
  int32_t h = std::min(kFirstTileEdge, rows);
  if (w < columns || h < rows) {
    for (;;) {
      const double area = tileSourceBox(m, w, h, margin).area;
      if (area <= kMaxTileSourceBox || (w == 1 && h == 1)) break;
      const double s = std::sqrt(kMaxTileSourceBox / area);
      h = std::max(1, kxfIFloor(s * h));
      w = std::max(1, kxfIFloor(s * w));
    }
  }
  Tiling t{w, h, columns % w ? columns % w : w, rows % h ? rows % h : h, 0, 0};
  t.across = static_cast<uint32_t>((columns + w - 1) / w);
  t.down = static_cast<uint32_t>((rows + h - 1) / h);
  return t;
}

// Angle of the destination rows in the source, folded so that the orientation tests below read
// as quadrants: x-major within 45 degrees of +x or -x.
double rowAngle(const Matrix& m) {
  if (std::fabs(m.a) >= 1e-6) return -std::atan2(m.c, m.a);
  // Rows that run up the source (c < 0) point up; the test through b says so whenever b is not 0,
  // and with b = 0 (a row step straight along y) only c can.
  const bool up = m.b == 0.0 ? m.c < 0.0 : (m.c * m.b >= 0.0 && m.b < 0.0) || (m.c * m.b < 0.0 && m.b >= 0.0);
  return up ? std::numbers::pi / 2 : -std::numbers::pi / 2;
}

int32_t buildTable(sampleTable* table, const kimg_window* source, const kmath_xformLinear* sourceImageFromClient,
                   const kimg_window* destination, const affineSampleParams* params, bool sixteenBit) {
  int32_t status = sampleTable_computeMap(params, source, sourceImageFromClient, destination->xOrigin,
                                          destination->yOrigin, &table->map);
  if (status < 0) return status;
  const kmath_xformLinear& map = table->map;
  const int32_t margin = params->sampleMode == 3 ? 3 : 2;

  // First sample's position, measured from the upper-left pel of its neighbourhood.
  kmath_vect centre{0.5, 0.5}, p{};
  status = kmath_xformLinear_mapPoint(&map, &centre, &p);
  if (status < 0) return status;
  p.x -= 0.5;
  p.y -= 0.5;
  if (kxfFrac(p.x) < kFractionNudge) p.x += kFractionNudge;
  if (kxfFrac(p.y) < kFractionNudge) p.y += kFractionNudge;
  const Matrix m{map.e0, map.e1, map.e2, map.e3};

  const int32_t columns = destination->width;
  const int32_t rows = params->yCount;
  if (columns < 1 || rows < 1) return KIP_ERR_NO_SAMPLES;
  const Tiling tiling = searchTiling(m, columns, rows, margin);

  sampleTableHeader h{};
  h.tilesAcross = tiling.across;
  h.tilesDown = tiling.down;
  const int32_t widths[4] = {tiling.width, tiling.lastWidth, tiling.width, tiling.lastWidth};
  const int32_t heights[4] = {tiling.height, tiling.height, tiling.lastHeight, tiling.lastHeight};
  int32_t xMin[4], yMin[4];
  for (int t = 0; t < 4; ++t) {
    h.tileWidth[t] = static_cast<uint16_t>(widths[t]);
    h.tileHeight[t] = static_cast<uint16_t>(heights[t]);
    const SourceBox box = tileSourceBox(m, widths[t], heights[t], margin);
    xMin[t] = box.xMin;
    yMin[t] = box.yMin;
  }

  int32_t startX = 0, startY = 0;
  status = fixedFromDouble(p.x, &startX);
  if (status >= 0) status = fixedFromDouble(p.y, &startY);
  if (status < 0) return status;
  int32_t xFraction = fixedFraction(startX), yFraction = fixedFraction(startY);

  // Orientation: the major axis is the one the destination rows mostly follow.
  const double theta = rowAngle(m);
  const double quarter = std::numbers::pi / 4;
  double r00, r01, r10, r11;
  if ((theta >= -quarter && theta <= quarter) || std::fabs(theta) >= 3 * quarter) {
    h.isYMajor = 0;
    r00 = m.a, r01 = m.b, r10 = m.c, r11 = m.d;
    h.minorStep = source->stride;
    if (theta >= -quarter && theta <= quarter) {
      h.majorSign = 1;
      h.majorStep = 1;
    } else {
      h.majorSign = -1;
      h.majorStep = -1;
      xFraction = kFixedOne - xFraction;
      for (int32_t& x : xMin) --x;
    }
  } else {
    h.isYMajor = 1;
    r00 = m.c, r01 = m.d, r10 = m.a, r11 = m.b;
    h.minorStep = 1;
    if (theta >= quarter && theta <= 3 * quarter) {
      h.majorSign = -1;
      h.majorStep = -source->stride;
      yFraction = kFixedOne - yFraction;
      for (int32_t& y : yMin) --y;
    } else {
      h.majorSign = 1;
      h.majorStep = source->stride;
    }
  }

  for (int t = 0; t < 4; ++t) {
    h.tileSourceOffset[t] = int64_t{yMin[t]} * source->stride + xMin[t];
    h.tileXMinDelta[t] = xMin[t] - xMin[0];
    h.tileYMinDelta[t] = yMin[t] - yMin[0];
  }
  h.startX = startX;
  h.startY = startY;
  h.startBoxX = fixedAddInteger(startX, xMin[0]);
  h.startBoxY = fixedAddInteger(startY, yMin[0]);
  h.boxOriginX = static_cast<int16_t>(xMin[0]);
  h.boxOriginY = static_cast<int16_t>(yMin[0]);

  // Advances along the major axis, per destination sample and per destination row.
  const double s = h.majorSign;
  const double det = r00 * r11 - r01 * r10;
  const double advances[] = {s * r10 / r00, det / r00, s * r00, s * r01,
                             widths[0] * m.a, widths[0] * m.c, heights[0] * m.b, heights[0] * m.d};
  int32_t* const targets[] = {&h.minorAdvance, &h.rowMinorAdvance, &h.lineAdvance, &h.rowLineAdvance,
                              &h.tileColumnAdvanceX, &h.tileColumnAdvanceY, &h.tileRowAdvanceX, &h.tileRowAdvanceY};
  for (size_t i = 0; i < std::size(advances); ++i) {
    status = fixedFromDouble(advances[i], targets[i]);
    if (status < 0) return status;
  }

  const int32_t majorFraction = h.isYMajor ? yFraction : xFraction;
  const int32_t minorFraction = h.isYMajor ? xFraction : yFraction;
  h.lineStart = majorFraction;
  // Move the minor position back from the sample to the integer major position below it.
  const int64_t back = int64_t{fixedIntegerPart(h.minorAdvance)} * majorFraction +
                       (int64_t{h.minorAdvance & 0xFFFF} * majorFraction) / kFixedOne;
  h.minorStart = wrapToInt32(int64_t{minorFraction} - back);
  for (int t = 0; t < 2; ++t) {
    const int32_t last = wrapToInt32(int64_t{widths[t] - 1} * h.lineAdvance + h.lineStart);
    h.firstPassCount[t] = fixedIntegerPart(last) + 2;
    h.firstPassCount[t + 2] = h.firstPassCount[t];
  }

  // The intermediate line: 8-bit values in mode 2 and signed 16-bit ones in mode 3 for 8-bit
  // sources; 16-bit and signed 32-bit ones for 16-bit sources.
  const double matrix[4] = {m.a, m.b, m.c, m.d};
  double scale = 0.0;
  status = kmath_matrix_getScale(matrix, &scale);
  if (status < 0) return status;
  const int64_t k = kxfIFloor(scale);
  const int64_t w = widths[0];
  int64_t size = params->sampleMode == 3 ? (4 * k + 4) * w : (2 * k + 2) * w;
  if (sixteenBit) size *= 4;
  if (params->sampleMode == 3) size += 4;
  if (size < 0 || size > INT32_MAX) return KIP_ERR_OUT_OF_RANGE;

  return sampleTable_store(table, &h, source->stride, destination->stride, static_cast<int32_t>(size));
}

}  // namespace

int32_t sampleTable_computeMap(const affineSampleParams* params, const kimg_window* source,
                               const kmath_xformLinear* sourceImageFromClient, int32_t destinationX,
                               int32_t destinationY, kmath_xformLinear* map) {
  if (params->xCount < 1 || params->yCount < 1) return KIP_ERR_NO_SAMPLES;
  kmath_xformLinear shift{}, scale{}, step{};
  const kmath_xformLinear rect = kmath_shapeAffineRect_asXform(params->affineRect);
  int32_t status = kmath_xformLinear_initMatrixTransElements(&shift, 1, 0, 0, 1, destinationX, destinationY);
  if (status >= 0) {
    status = kmath_xformLinear_initMatrixTransElements(&scale, 1.0 / params->xCount, 0, 0, 1.0 / params->yCount, 0, 0);
  }
  if (status >= 0) status = kmath_xformLinear_initCompose(&step, &scale, &shift);
  if (status >= 0) status = kmath_xformLinear_initCompose(&step, &rect, &step);
  if (status >= 0) status = kmath_xformLinear_initCompose(&step, sourceImageFromClient, &step);
  if (status < 0) return status;
  step.tx -= source->xOrigin;
  step.ty -= source->yOrigin;
  if (!kmath_xformLinear_isFinite(&step)) return KIP_ERR_NOT_FINITE;
  *map = step;
  return 0;
}

int32_t sampleTable_build8(sampleTable* table, const kimg_window* source, const kmath_xformLinear* sourceImageFromClient,
                           const kimg_window* destination, const affineSampleParams* params) {
  return buildTable(table, source, sourceImageFromClient, destination, params, false);
}

int32_t sampleTable_build16(sampleTable* table, const kimg_window* source,
                            const kmath_xformLinear* sourceImageFromClient, const kimg_window* destination,
                            const affineSampleParams* params) {
  return buildTable(table, source, sourceImageFromClient, destination, params, true);
}
