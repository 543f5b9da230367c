// Sample-table slots: empty, release, staleness and store. The builder is in sample_table_builder.cpp.
#include "cache/sample_table.hpp"

#include "platform/memory.hpp"

namespace {
constexpr int32_t kNeverBuilt = -1;  // no window has a negative stride
}

int32_t sampleTable_init(sampleTable* table) {
  table->lineBuffer = nullptr;
  table->lineBufferSize = 0;
  table->sourceStride = kNeverBuilt;
  table->destinationStride = kNeverBuilt;
  return 0;
}

int32_t sampleTable_release(sampleTable* table) {
  const int32_t status = ksys_memory_free_internal(&table->lineBuffer);
  table->lineBufferSize = 0;
  table->sourceStride = kNeverBuilt;
  table->destinationStride = kNeverBuilt;
  return status;
}

int32_t sampleTable_isStale(const sampleTable* table, const kimg_window* source, const kimg_window* destination,
                            uint32_t* isStale) {
  *isStale = table->sourceStride != source->stride || table->destinationStride != destination->stride ? 1 : 0;
  return 0;
}

int32_t sampleTable_store(sampleTable* table, const sampleTableHeader* header, int32_t sourceStride,
                          int32_t destinationStride, int32_t bufferSize) {
  const int32_t status = ksys_memory_realloc_internal(static_cast<size_t>(bufferSize), &table->lineBuffer);
  if (status < 0) return status;
  table->lineBufferSize = bufferSize;
  table->header = *header;
  table->sourceStride = sourceStride;
  table->destinationStride = destinationStride;
  return status;
}
