// The process-wide table of cubic convolution weights (Keys, a = -0.5) used by the two-pass cubic
// mode: 256 entries indexed by the top 8 bits of a sample's 16-bit fraction, each four signed
// 16-bit weights in units of 1/32768 for the pels p-1, p, p+1 and p+2. Built once under the
// process-wide critical section, then read without a lock.
#pragma once

#include <cstdint>

struct cubicWeightTable {
  int32_t indexBits;     // fraction bits that index the table: 8
  int16_t* weightArray;  // 256 x 4 weights, cache-aligned
};

// Builds the table if it is not built yet. Every reader calls it (once per call) before reading.
int32_t cubicWeightTable_ensure();
// The process-wide record; its entries are valid after a successful ensure.
const cubicWeightTable* cubicWeightTable_get();
// Entry index (0..255) as one 64-bit word: w0 in the lowest 16 bits, w3 in the highest.
int32_t cubicWeightTable_getEntry(const cubicWeightTable* table, uint32_t index, uint64_t* entry);
int32_t cubicWeightTable_getWeights(const cubicWeightTable* table, const int16_t** weights);
// The shut-down hook: frees the weights.
int32_t cubicWeightTable_free(cubicWeightTable* table);

// Index of a 16.16 position's fraction into the table.
inline uint32_t cubicWeightIndex(int32_t position) { return (static_cast<uint32_t>(position) & 0xFFFF) >> 8; }

// Test seam: how many times the table has been built in this process.
uint64_t cubicWeightTable_testBuildCount();
