// The demo's test chart, made in memory: gradients, a radial star, groups of fine lines and a zone
// plate, the features that show how each sample mode treats edges, detail and aliasing.
#pragma once

#include "image.hpp"

namespace kiptool {

// A gray picture of the chart at 8 or 16 bits. The 16-bit one also carries a shallow ramp along
// its bottom edge that 8 bits can only show as steps.
Picture makeChart(int bitDepth, int32_t width, int32_t height);

}  // namespace kiptool
