// Profile plots: a PNG with the input image and the sampled rectangle on the left and the profile
// (values against their index) on the right, drawn with cairo.
#pragma once

#include <kip/kip.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kiptool {

struct PlotSeries {
  std::string name;            // shown in the legend when there are several series
  std::vector<double> values;  // one per index; NaN or infinity leaves a gap
};

struct ProfilePlot {
  // The input, as interleaved 8-bit RGB rows (rgbPreview of a Picture).
  int32_t imageWidth = 0;
  int32_t imageHeight = 0;
  std::vector<uint8_t> imageRgb;
  kmath_shapeAffineRect rect{};  // the sampled rectangle, in the image's pel coordinates
  std::vector<PlotSeries> series;
  std::string title;
  std::string xLabel = "sample";
  std::string yLabel = "sum";
  int32_t width = 1200;  // of the whole PNG, in pixels
  int32_t height = 480;
};

inline constexpr int32_t kMinPlotSide = 200;
inline constexpr int32_t kMaxPlotSide = 8000;

// Writes the plot to path (under a temporary name, then renamed). Throws a Failure for a plot
// whose image does not match its size, a size outside [kMinPlotSide, kMaxPlotSide], or a file
// that cannot be written.
void writeProfilePlot(const std::string& path, const ProfilePlot& plot);

}  // namespace kiptool
