// The sample table: the precomputed geometry of the two-pass sampling modes for one source window,
// destination window, transform and set of sample parameters. The destination is cut into tiles;
// inside a tile each destination row is sampled in two one-dimensional passes, a first pass along
// the source's major axis (the axis the destination rows mostly follow) that interpolates across
// the minor axis into the intermediate line, and a second pass along that line. The table holds no
// per-sample entries: tile sizes, 16.16 start values and advances, and the line buffer.
//
// Tile types: 0 interior, 1 last tile column, 2 last tile row, 3 last corner tile.
#pragma once

#include <kip/kip.h>

#include <cstdint>

struct sampleTableHeader {
  uint32_t tilesAcross, tilesDown;
  uint16_t tileWidth[4], tileHeight[4];  // samples per tile row, rows per tile, by tile type
  int32_t firstPassCount[4];             // integer part of the last line position of a tile row, plus 2
  int64_t tileSourceOffset[4];           // yMin x source stride + xMin of each type's source box
  int32_t tileXMinDelta[4], tileYMinDelta[4];  // xMin, yMin of each type less those of type 0
  int32_t majorStep, minorStep;          // source pels per step along the major and minor axes
  int32_t isYMajor, majorSign;
  int32_t startBoxX, startBoxY, startX, startY;  // 16.16 first-sample position (and plus the box origin)
  int32_t tileColumnAdvanceX, tileColumnAdvanceY, tileRowAdvanceX, tileRowAdvanceY;  // 16.16
  int32_t lineStart, minorStart;          // 16.16 accumulators of a tile's first row
  int32_t minorAdvance, rowMinorAdvance;  // 16.16 minor movement per major pel, per destination row
  int32_t lineAdvance, rowLineAdvance;    // 16.16 line movement per destination sample, per row
  int16_t boxOriginX, boxOriginY;         // type-0 xMin and yMin
};

struct sampleTable {
  sampleTableHeader header;
  int32_t sourceStride;       // strides (in pels) the table was built for; -1 until built
  int32_t destinationStride;
  void* lineBuffer;           // the intermediate line, owned
  int32_t lineBufferSize;     // bytes
  kmath_xformLinear map;      // destination-window to source-window positions it was built from
};

// Empties a slot: no buffer, never built.
int32_t sampleTable_init(sampleTable* table);
// Frees the buffer; the slot is then empty again.
int32_t sampleTable_release(sampleTable* table);
// *isStale = 1 when the slot was built for other strides (or never), else 0.
int32_t sampleTable_isStale(const sampleTable* table, const kimg_window* source, const kimg_window* destination,
                            uint32_t* isStale);
// Resizes the buffer to bufferSize, then records the header and strides. On a failed resize
// nothing but the map (written earlier by the builder) has changed, so the slot stays stale.
int32_t sampleTable_store(sampleTable* table, const sampleTableHeader* header, int32_t sourceStride,
                          int32_t destinationStride, int32_t bufferSize);

// The map from destination-window positions to source-window positions (both with pel centres at
// half-integers): destination origin, scale by the counts, affine rectangle, source transform.
int32_t sampleTable_computeMap(const affineSampleParams* params, const kimg_window* source,
                               const kmath_xformLinear* sourceImageFromClient, int32_t destinationX,
                               int32_t destinationY, kmath_xformLinear* map);

// Builders for 8-bit sources (sampleTable8) and for 16-bit ones (sampleTable16): the same
// geometry, buffers sized for the pel size's intermediate values.
int32_t sampleTable_build8(sampleTable* table, const kimg_window* source, const kmath_xformLinear* sourceImageFromClient,
                           const kimg_window* destination, const affineSampleParams* params);
int32_t sampleTable_build16(sampleTable* table, const kimg_window* source,
                            const kmath_xformLinear* sourceImageFromClient, const kimg_window* destination,
                            const affineSampleParams* params);
