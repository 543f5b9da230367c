// The portable table-driven core: the tile walk with the portable line kernels.
#include "engine/table_core.hpp"

#include "engine/cubic_weight_table.hpp"
#include "engine/table_walk.hpp"

namespace {

template <class Pel>
int32_t tableCore(uint32_t accumulate, const affineSampleParams* params, const sampleTable* table,
                  const Pel* sourceFirst, const Pel* sourceLast, void* destination, tableLineKernel<Pel> kernel) {
  const uint32_t mode = params->sampleMode;
  if (mode != KIP_SAMPLE_LINEAR2 && mode != KIP_SAMPLE_CUBIC2) return KIP_ERR_MODE_UNSUPPORTED;
  const int16_t* weights = nullptr;
  if (mode == KIP_SAMPLE_CUBIC2) {
    int32_t status = cubicWeightTable_ensure();
    if (status >= 0) status = cubicWeightTable_getWeights(cubicWeightTable_get(), &weights);
    if (status < 0) return status;
  }

  const tableWalkSetup setup{accumulate, mode, table, weights, sourceLast - sourceFirst, destination};
  tableLineContext context{accumulate, mode, table, weights, nullptr, 0};
  return tableWalk(setup, sourceFirst, [&](const tableRow& row) {
    context.line = row.lineBuffer;
    context.lineBytes = row.lineBytes;
    return kernel(&context, row.n, row.tileType, row.minor, row.line, sourceFirst, row.sourceOffset, row.lineWrite,
                  row.lineRead, row.destination);
  });
}

}  // namespace

int32_t affineTable_core8(uint32_t accumulate, const affineSampleParams* params, const sampleTable* table,
                          const uint8_t* sourceFirst, const uint8_t* sourceLast, void* destination,
                          tableLineKernel8 kernel) {
  return tableCore(accumulate, params, table, sourceFirst, sourceLast, destination, kernel);
}

int32_t affineTable_core16(uint32_t accumulate, const affineSampleParams* params, const sampleTable* table,
                           const uint16_t* sourceFirst, const uint16_t* sourceLast, void* destination,
                           tableLineKernel16 kernel) {
  return tableCore(accumulate, params, table, sourceFirst, sourceLast, destination, kernel);
}
