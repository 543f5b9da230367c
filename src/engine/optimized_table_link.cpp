// The link from the optimized process to the vector table drivers of the two-pass modes. Until
// those drivers are part of the library it declines, and the portable table-driven path serves
// the two-pass modes.
#include "engine/optimized_process.hpp"

int32_t affineProcess_tableOptimized8(uint32_t, const affineSampleParams*, const affineSampleCache*, const kimg_window*,
                                      const kimg_window*) {
  return KIP_ERR_NOT_AVAILABLE;
}
