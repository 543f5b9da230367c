#include "demo_chart.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kiptool {
namespace {

constexpr double kPi = std::numbers::pi;

// Brightness in [0, 1] at a point of the chart (x, y in pels, pel centres at half-integers).
double chartValue(double x, double y, double width, double height, bool wide) {
  // Top band: black to white from left to right.
  if (y < 0.1 * height) return x / width;
  // Left band: black to white from top to bottom.
  if (x < 0.08 * width) return (y - 0.1 * height) / (0.9 * height);
  // Bottom band: a ramp over a tenth of the range, smooth only in 16 bits.
  if (y > 0.92 * height) return wide ? 0.45 + 0.1 * x / width : std::floor((0.45 + 0.1 * x / width) * 255) / 255;

  // Radial star of 36 black and white spokes.
  const double starX = 0.38 * width, starY = 0.5 * height, starRadius = 0.3 * height;
  const double dx = x - starX, dy = y - starY, r = std::hypot(dx, dy);
  if (r < starRadius) return std::sin(18 * std::atan2(dy, dx)) >= 0 ? 0.95 : 0.05;

  // Fine lines, one pel wide, every 2, 3 and 4 pels: vertical ones above, horizontal ones below.
  const double linesLeft = 0.66 * width, groupWidth = 0.09 * width;
  if (x >= linesLeft && x < linesLeft + 3 * groupWidth && y < 0.5 * height) {
    const int pitch = 2 + static_cast<int>((x - linesLeft) / groupWidth);
    const bool vertical = y < 0.3 * height;
    const int along = static_cast<int>(std::floor(vertical ? x : y));
    return along % pitch == 0 ? 0.05 : 0.9;
  }

  // Zone plate: rings whose frequency rises toward the edge, just below one cycle in two pels.
  const double zoneX = 0.8 * width, zoneY = 0.71 * height, zoneRadius = 0.19 * height;
  const double zx = x - zoneX, zy = y - zoneY, zr2 = zx * zx + zy * zy;
  if (zr2 < zoneRadius * zoneRadius) return 0.5 + 0.45 * std::cos(0.45 * kPi * zr2 / zoneRadius);

  return 0.5;  // mid grey
}

}  // namespace

Picture makeChart(int bitDepth, int32_t width, int32_t height) {
  Picture chart = makePicture(bitDepth, ChannelLayout::gray, width, height);
  Image& image = chart.channels[0];
  const double top = bitDepth == 16 ? 65535.0 : 255.0;
  constexpr int kSub = 4;  // 4 x 4 samples a pel smooth the star's edges
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      double sum = 0;
      for (int j = 0; j < kSub; ++j) {
        for (int i = 0; i < kSub; ++i) {
          sum += chartValue(x + (i + 0.5) / kSub, y + (j + 0.5) / kSub, width, height, bitDepth == 16);
        }
      }
      const double value = std::clamp(sum / (kSub * kSub), 0.0, 1.0) * top + 0.5;
      if (bitDepth == 16) {
        image.row<uint16_t>(y)[x] = static_cast<uint16_t>(value);
      } else {
        image.row<uint8_t>(y)[x] = static_cast<uint8_t>(value);
      }
    }
  }
  return chart;
}

}  // namespace kiptool
