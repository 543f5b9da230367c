// The link from the optimized process to the vector table drivers of the two-pass modes. Anything
// the drivers do not expect (pel sizes, a table built for other strides, a destination smaller
// than the table's tiles, a band) is declined, so that the portable table-driven path reports it.
#include "engine/optimized_process.hpp"

#include "engine/table_simd.hpp"

#include <cstddef>

namespace {

bool driversServe(uint32_t accumulate, const sampleTable& table, const kimg_window& source,
                  const kimg_window& destination) {
  if (source.pelSize != 1 || destination.pelSize != (accumulate ? 4 : 1)) return false;
  if (source.width < 1 || source.height < 1 || source.firstPel == nullptr || destination.firstPel == nullptr) {
    return false;
  }
  if (destination.bandOffset != 0) return false;
  if (table.sourceStride != source.stride || table.destinationStride != destination.stride) return false;
  const sampleTableHeader& h = table.header;
  if (h.tilesAcross == 0 || h.tilesDown == 0) return true;
  const int64_t columns = int64_t{h.tilesAcross - 1} * h.tileWidth[0] + h.tileWidth[1];
  const int64_t rows = int64_t{h.tilesDown - 1} * h.tileHeight[0] + h.tileHeight[2];
  return columns <= destination.width && (accumulate || rows <= destination.height);
}

}  // namespace

int32_t affineProcess_tableOptimized8(uint32_t accumulate, const affineSampleParams* params,
                                      const affineSampleCache* cache, const kimg_window* source,
                                      const kimg_window* destination) {
  if (params == nullptr || cache == nullptr || source == nullptr || destination == nullptr) {
    return KIP_ERR_NOT_AVAILABLE;
  }
  const sampleTable& table = cache->sampleTable8;
  if (!driversServe(accumulate, table, *source, *destination)) return KIP_ERR_NOT_AVAILABLE;
  const auto* first = static_cast<const uint8_t*>(source->firstPel);
  const uint8_t* last = first + (ptrdiff_t{source->height} - 1) * source->stride + (source->width - 1);
  // A projection's vector is cleared by the driver itself, after the last step that can fail.
  const size_t vectorBytes = static_cast<size_t>(destination->width) * sizeof(uint32_t);
  return accumulate ? affineTile_tableProject8(params, &table, first, last, destination->firstPel, vectorBytes)
                    : affineTile_tableStore8(0, params, &table, first, last, destination->firstPel);
}
