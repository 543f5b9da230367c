// The table-driven path of the portable process: checks, the choice of line kernel, and the core
// over the cache's table for the source's pel size.
#include "engine/table_process.hpp"

#include "engine/table_core.hpp"

#include <cstddef>

namespace {

inline constexpr int32_t kFixedLimit = 32767;  // 16.16 integer parts are signed 16 bits

template <class Pel>
struct TableKernels;
template <>
struct TableKernels<uint8_t> {
  static constexpr tableLineKernel8 linear = affineLineBilinear8, cubic = affineLineCubic8;
  static constexpr auto core = affineTable_core8;
  static constexpr bool projects = true;
};
template <>
struct TableKernels<uint16_t> {
  static constexpr tableLineKernel16 linear = affineLineBilinear16, cubic = affineLineCubic16;
  static constexpr auto core = affineTable_core16;
  static constexpr bool projects = false;  // no 16-bit projection in the two-pass modes
};

// Whether the table's tiles fit the destination: every column when storing or accumulating, every
// row when storing.
bool destinationHoldsTiles(uint32_t accumulate, const sampleTableHeader& h, const kimg_window& destination) {
  if (h.tilesAcross == 0 || h.tilesDown == 0) return true;
  const int64_t columns = int64_t{h.tilesAcross - 1} * h.tileWidth[0] + h.tileWidth[1];
  const int64_t rows = int64_t{h.tilesDown - 1} * h.tileHeight[0] + h.tileHeight[2];
  return columns <= destination.width && (accumulate || rows <= destination.height);
}

template <class Pel>
int32_t tableProcess(uint32_t accumulate, const kimg_window* source, const kimg_window* destination,
                     const affineSampleParams* params, const affineSampleCache* cache) {
  using Kernels = TableKernels<Pel>;
  if (source == nullptr || destination == nullptr || params == nullptr || cache == nullptr) {
    return KIP_ERR_NULL_POINTER;
  }
  const int32_t destinationPelSize = accumulate ? 4 : static_cast<int32_t>(sizeof(Pel));
  if (source->pelSize != static_cast<int32_t>(sizeof(Pel)) || destination->pelSize != destinationPelSize) {
    return KIP_ERR_PEL_SIZE;
  }
  if (source->stride > kFixedLimit || source->height > kFixedLimit) return KIP_ERR_SOURCE_TOO_LARGE;

  tableLineKernel<Pel> kernel = nullptr;
  if (params->sampleMode == KIP_SAMPLE_LINEAR2) kernel = Kernels::linear;
  if (params->sampleMode == KIP_SAMPLE_CUBIC2) kernel = Kernels::cubic;
  if (kernel == nullptr || (accumulate && !Kernels::projects)) return KIP_ERR_MODE_UNSUPPORTED;

  if (source->width < 1 || source->height < 1 || source->firstPel == nullptr || destination->firstPel == nullptr) {
    return KIP_ERR_BAD_SIZE;
  }
  // The refresh builds the slot for these strides; any other slot describes another sampling. A
  // vector that every row adds into is never stepped by its stride: there only the source's counts.
  const sampleTable& table = affineSampleCache_tableFor(*cache, source->pelSize);
  if (table.sourceStride != source->stride || (!accumulate && table.destinationStride != destination->stride)) {
    return KIP_ERR_INTERNAL;
  }
  if (!destinationHoldsTiles(accumulate, table.header, *destination)) return KIP_ERR_DEST_TOO_SMALL;

  // The two-pass modes are never split into bands, so the destination's bandOffset is 0 and the
  // walk covers the whole destination from its first row.
  const auto* first = static_cast<const Pel*>(source->firstPel);
  const Pel* last = first + (ptrdiff_t{source->height} - 1) * source->stride + (source->width - 1);
  return Kernels::core(accumulate, params, &table, first, last, destination->firstPel, kernel);
}

}  // namespace

int32_t affineTable_process8(uint32_t accumulate, const kimg_window* source, const kimg_window* destination,
                             const affineSampleParams* params, const affineSampleCache* cache) {
  return tableProcess<uint8_t>(accumulate, source, destination, params, cache);
}

int32_t affineTable_process16(uint32_t accumulate, const kimg_window* source, const kimg_window* destination,
                              const affineSampleParams* params, const affineSampleCache* cache) {
  return tableProcess<uint16_t>(accumulate, source, destination, params, cache);
}
