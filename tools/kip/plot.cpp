// The image panel is fitted to the union of the image and the rectangle, so that a rectangle
// reaching outside the image (a clipped sampling) is drawn whole. Every position is computed in
// double and handed to cairo as such: nothing here converts a double to an integer.
#include "plot.hpp"

#include "atomic_file.hpp"
#include "failure.hpp"

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numbers>

namespace kiptool {
namespace {

constexpr double kMargin = 16.0;
// Cairo's image surfaces stop at 32767 pixels a side; larger inputs are shown subsampled.
constexpr int32_t kMaxPreviewSide = 2048;

struct Colour {
  double r, g, b;
};
constexpr Colour kSeriesColours[] = {{0.12, 0.35, 0.75}, {0.85, 0.40, 0.05}, {0.15, 0.60, 0.25}, {0.55, 0.25, 0.65}};
constexpr Colour kRectColour{0.90, 0.10, 0.10};

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

struct Box {
  double x0, y0, x1, y1;
};

// Every k-th pel of the image, in cairo's pixel layout, so that the preview fits a surface.
Surface makePreview(const ProfilePlot& plot, int32_t step) {
  const int32_t width = (plot.imageWidth + step - 1) / step;
  const int32_t height = (plot.imageHeight + step - 1) / step;
  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height), cairo_surface_destroy);
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
    fail("cannot draw a plot of a " + std::to_string(plot.imageWidth) + " x " + std::to_string(plot.imageHeight) +
             " image",
         "Free some memory");
  }
  cairo_surface_flush(surface.get());
  unsigned char* data = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  for (int32_t y = 0; y < height; ++y) {
    auto* out = reinterpret_cast<uint32_t*>(data + static_cast<ptrdiff_t>(y) * stride);
    const uint8_t* row = plot.imageRgb.data() + static_cast<size_t>(y) * step * plot.imageWidth * 3;
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* pel = row + static_cast<size_t>(x) * step * 3;
      out[x] = 0xFF000000u | uint32_t{pel[0]} << 16 | uint32_t{pel[1]} << 8 | pel[2];
    }
  }
  cairo_surface_mark_dirty(surface.get());
  return surface;
}

void drawImagePanel(cairo_t* cr, const ProfilePlot& plot, const Box& panel) {
  const kmath_shapeAffineRect& r = plot.rect;
  const double corners[4][2] = {
      {r.tx, r.ty}, {r.tx + r.e0, r.ty + r.e2}, {r.tx + r.e0 + r.e1, r.ty + r.e2 + r.e3}, {r.tx + r.e1, r.ty + r.e3}};
  Box content{0.0, 0.0, static_cast<double>(plot.imageWidth), static_cast<double>(plot.imageHeight)};
  for (const auto& c : corners) {
    content = {std::min(content.x0, c[0]), std::min(content.y0, c[1]), std::max(content.x1, c[0]),
               std::max(content.y1, c[1])};
  }
  const double scale =
      std::min((panel.x1 - panel.x0) / (content.x1 - content.x0), (panel.y1 - panel.y0) / (content.y1 - content.y0));
  const double offsetX = panel.x0 + ((panel.x1 - panel.x0) - (content.x1 - content.x0) * scale) / 2 - content.x0 * scale;
  const double offsetY = panel.y0 + ((panel.y1 - panel.y0) - (content.y1 - content.y0) * scale) / 2 - content.y0 * scale;

  const int32_t step = std::max(plot.imageWidth, plot.imageHeight) / kMaxPreviewSide + 1;
  Surface preview = makePreview(plot, step);
  cairo_save(cr);
  cairo_translate(cr, offsetX, offsetY);
  cairo_scale(cr, scale * step, scale * step);
  cairo_set_source_surface(cr, preview.get(), 0, 0);
  // Enlarged pels stay sharp squares; reduced images are smoothed.
  cairo_pattern_set_filter(cairo_get_source(cr), scale * step >= 1.0 ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
  cairo_paint(cr);
  cairo_restore(cr);

  auto at = [&](const double* c, double* x, double* y) {
    *x = offsetX + c[0] * scale;
    *y = offsetY + c[1] * scale;
  };
  double x, y;
  cairo_set_source_rgb(cr, kRectColour.r, kRectColour.g, kRectColour.b);
  cairo_set_line_width(cr, 1.5);
  for (int i = 0; i < 4; ++i) {
    at(corners[i], &x, &y);
    i == 0 ? cairo_move_to(cr, x, y) : cairo_line_to(cr, x, y);
  }
  cairo_close_path(cr);
  cairo_stroke(cr);
  // The x side, along which the profile's index runs, thicker; a dot on the origin corner.
  at(corners[0], &x, &y);
  cairo_move_to(cr, x, y);
  cairo_arc(cr, x, y, 4.0, 0.0, 2 * std::numbers::pi);
  cairo_fill(cr);
  cairo_set_line_width(cr, 4.0);
  cairo_move_to(cr, x, y);
  at(corners[1], &x, &y);
  cairo_line_to(cr, x, y);
  cairo_stroke(cr);
}

// A tick step of 1, 2 or 5 times a power of ten giving about `count` ticks over span.
double tickStep(double span, int count) {
  const double raw = span / count;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double factor : {1.0, 2.0, 5.0}) {
    if (raw <= factor * power) return factor * power;
  }
  return 10.0 * power;
}

std::string label(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

void drawProfilePanel(cairo_t* cr, const ProfilePlot& plot, const Box& panel) {
  size_t count = 0;
  double low = INFINITY, high = -INFINITY;
  for (const PlotSeries& series : plot.series) {
    count = std::max(count, series.values.size());
    for (double v : series.values) {
      if (std::isfinite(v)) low = std::min(low, v), high = std::max(high, v);
    }
  }
  if (!(low <= high)) low = 0.0, high = 1.0;  // nothing finite to show
  if (high - low < 1e-9 * std::max(1.0, std::fabs(high))) low -= 1.0, high += 1.0;
  const double pad = (high - low) * 0.05;
  low -= pad, high += pad;
  const double first = 0.0, last = count > 1 ? static_cast<double>(count - 1) : 1.0;

  const Box axes{panel.x0 + 70.0, panel.y0 + 30.0, panel.x1 - 10.0, panel.y1 - 40.0};
  auto px = [&](double i) { return axes.x0 + (i - first) / (last - first) * (axes.x1 - axes.x0); };
  auto py = [&](double v) { return axes.y1 - (v - low) / (high - low) * (axes.y1 - axes.y0); };

  cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
  cairo_set_line_width(cr, 1.0);
  cairo_rectangle(cr, axes.x0, axes.y0, axes.x1 - axes.x0, axes.y1 - axes.y0);
  cairo_stroke(cr);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 12.0);
  // At most a dozen ticks an axis, counted rather than stepped so that a step too small to change
  // a large value cannot loop forever.
  const double yStep = tickStep(high - low, 5);
  const double yFirst = std::ceil(low / yStep);
  for (int k = 0; k < 12 && (yFirst + k) * yStep <= high; ++k) {
    const double v = (yFirst + k) * yStep;
    cairo_move_to(cr, axes.x0 - 60.0, py(v) + 4.0);
    cairo_show_text(cr, label(v).c_str());
    cairo_move_to(cr, axes.x0 - 4.0, py(v));
    cairo_line_to(cr, axes.x0, py(v));
  }
  const double xStep = std::max(1.0, tickStep(last - first, 8));
  for (int k = 0; k < 12 && k * xStep <= last; ++k) {
    cairo_move_to(cr, px(k * xStep), axes.y1);
    cairo_line_to(cr, px(k * xStep), axes.y1 + 4.0);
    cairo_move_to(cr, px(k * xStep) - 8.0, axes.y1 + 18.0);
    cairo_show_text(cr, label(k * xStep).c_str());
  }
  cairo_stroke(cr);
  cairo_move_to(cr, (axes.x0 + axes.x1) / 2 - 20.0, panel.y1 - 6.0);
  cairo_show_text(cr, plot.xLabel.c_str());
  cairo_move_to(cr, axes.x0, panel.y0 + 18.0);
  cairo_show_text(cr, (plot.title.empty() ? plot.yLabel : plot.title + " (" + plot.yLabel + ")").c_str());

  for (size_t s = 0; s < plot.series.size(); ++s) {
    const Colour& colour = kSeriesColours[s % std::size(kSeriesColours)];
    cairo_set_source_rgb(cr, colour.r, colour.g, colour.b);
    cairo_set_line_width(cr, 1.5);
    const std::vector<double>& values = plot.series[s].values;
    bool drawing = false;
    for (size_t i = 0; i < values.size(); ++i) {
      if (!std::isfinite(values[i])) {
        drawing = false;
        continue;
      }
      const double x = px(static_cast<double>(i)), y = py(values[i]);
      drawing ? cairo_line_to(cr, x, y) : cairo_move_to(cr, x, y);
      // A lone point (a profile of one sample, or between gaps) still shows as a short mark.
      if (!drawing) cairo_line_to(cr, x + 0.5, y);
      drawing = true;
    }
    cairo_stroke(cr);
    if (plot.series.size() > 1) {
      cairo_move_to(cr, axes.x1 - 120.0, axes.y0 + 16.0 + 16.0 * static_cast<double>(s));
      cairo_show_text(cr, plot.series[s].name.c_str());
    }
  }
}

cairo_status_t writeToFile(void* closure, const unsigned char* data, unsigned int length) {
  return std::fwrite(data, 1, length, static_cast<std::FILE*>(closure)) == length ? CAIRO_STATUS_SUCCESS
                                                                                  : CAIRO_STATUS_WRITE_ERROR;
}

// Cairo and fontconfig keep process-wide caches for text; freeing them at exit lets leak checkers
// see a clean process.
void releaseCaches() {
  cairo_debug_reset_static_data();
  FcFini();
}

}  // namespace

void writeProfilePlot(const std::string& path, const ProfilePlot& plot) {
  if (plot.width < kMinPlotSide || plot.width > kMaxPlotSide || plot.height < kMinPlotSide ||
      plot.height > kMaxPlotSide) {
    failUsage("a plot of " + std::to_string(plot.width) + " x " + std::to_string(plot.height) + " pixels",
              "Give a plot size from " + std::to_string(kMinPlotSide) + " to " + std::to_string(kMaxPlotSide));
  }
  if (plot.imageWidth < 1 || plot.imageHeight < 1 ||
      plot.imageRgb.size() != static_cast<size_t>(plot.imageWidth) * static_cast<size_t>(plot.imageHeight) * 3) {
    fail("the plot's image does not match its size", "This is a defect in kip; please report it");
  }
  const kmath_shapeAffineRect& r = plot.rect;
  for (double v : {r.tx, r.ty, r.e0, r.e1, r.e2, r.e3}) {
    if (!std::isfinite(v)) fail("the plot's rectangle is not finite", "Give a finite --rect");
  }

  static const bool cachesReleasedAtExit = std::atexit(releaseCaches) == 0;
  (void)cachesReleasedAtExit;
  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, plot.width, plot.height), cairo_surface_destroy);
  Context context(cairo_create(surface.get()), cairo_destroy);
  cairo_t* cr = context.get();
  cairo_set_source_rgb(cr, 1.0, 1.0, 1.0);
  cairo_paint(cr);

  const double side = std::min(plot.height - 2 * kMargin, plot.width / 2.0 - 2 * kMargin);
  const Box imagePanel{kMargin, kMargin, kMargin + side, kMargin + side};
  cairo_set_source_rgb(cr, 0.93, 0.93, 0.93);
  cairo_rectangle(cr, imagePanel.x0, imagePanel.y0, side, side);
  cairo_fill(cr);
  drawImagePanel(cr, plot, imagePanel);
  drawProfilePanel(cr, plot, Box{imagePanel.x1 + kMargin, kMargin, plot.width - kMargin, plot.height - kMargin});

  if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
    fail(std::string("cannot draw the plot ") + path + " (" + cairo_status_to_string(cairo_status(cr)) + ")",
         "Free some memory");
  }
  AtomicFile file(path);
  const cairo_status_t status = cairo_surface_write_to_png_stream(surface.get(), writeToFile, file.stream());
  if (status != CAIRO_STATUS_SUCCESS) failWrite(path, cairo_status_to_string(status));
  file.commit();
}

}  // namespace kiptool
