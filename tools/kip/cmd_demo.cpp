// kip demo [DIR]: the library at work on a chart made in memory. Every sample mode on a turn and a
// magnification, an exact quarter turn and mirror, a clipped turn with its mask, 8 and 16 bits;
// PNG files and an index.html that shows them side by side with the time each took.
#include "atomic_file.hpp"
#include "command.hpp"
#include "demo_chart.hpp"
#include "failure.hpp"
#include "image_file.hpp"
#include "profile.hpp"
#include "resample.hpp"

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <system_error>

namespace kiptool {
namespace {

constexpr int32_t kChartWidth = 640, kChartHeight = 480;

struct Shown {
  std::string file, title, detail;
  std::string data;  // a file of the values behind the picture, linked below it, or empty
  int32_t width, height;
  double milliseconds;  // negative: an input, not timed
};

std::string formatTime(double milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f ms", milliseconds);
  return text;
}

std::string sizeText(int32_t width, int32_t height) { return std::to_string(width) + " x " + std::to_string(height); }

class Demo {
 public:
  explicit Demo(std::string folder) : folder_(std::move(folder)) {}

  void input(const std::string& name, const Picture& picture, const std::string& title) {
    save(name, picture);
    shown_.push_back({name, title, "made in memory", "", picture.width(), picture.height(), -1});
  }

  // Times the resampling, then writes its picture (and mask, when one is named).
  void run(const std::string& name, const std::string& title, const std::string& detail, const Picture& in,
           const affineSampleParams& params, bool clip = false, const std::string& maskName = "") {
    const auto start = std::chrono::steady_clock::now();
    Resampled result = resamplePicture(in, "the chart", params, clip, !maskName.empty());
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    save(name, result.picture);
    shown_.push_back({name, title, detail, "", params.xCount, params.yCount, ms});
    if (!maskName.empty()) {
      Picture mask;
      mask.channels.push_back(std::move(result.mask));
      save(maskName, mask);
      shown_.push_back({maskName, title + ": clip mask", "255 inside the chart, 0 outside", "", params.xCount,
                        params.yCount, -1});
    }
  }

  void writeIndex() const {
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>kip demo</title>\n"
        "<style>\n"
        "body { font-family: sans-serif; margin: 2em; background: #f4f4f4; color: #222; }\n"
        ".grid { display: flex; flex-wrap: wrap; gap: 1.5em; }\n"
        "figure { margin: 0; background: #fff; padding: 0.6em; box-shadow: 0 1px 3px #0003; }\n"
        "figure img { display: block; max-width: 480px; height: auto; }\n"
        "figcaption { margin-top: 0.4em; font-size: 0.9em; }\n"
        ".time { color: #06c; font-weight: bold; }\n"
        "</style>\n</head>\n<body>\n<h1>kip demo</h1>\n"
        "<p>A test chart made in memory, resampled by the kip library: every sample mode on a turn and a "
        "magnification, exact quarter turns and mirrors, a clipped turn with its coverage mask, 8-bit and "
        "16-bit, and a profile across fine lines. Times are for the library calls, on this machine.</p>\n<div class=\"grid\">\n";
    for (const Shown& s : shown_) {
      html += "<figure><img src=\"" + s.file + "\" alt=\"" + s.title + "\"><figcaption><b>" + s.title + "</b><br>" +
              s.detail + "<br>" + sizeText(s.width, s.height) + " pels" +
              (s.milliseconds >= 0 ? ", <span class=\"time\">" + formatTime(s.milliseconds) + "</span>" : "") +
              (s.data.empty() ? "" : "<br><a href=\"" + s.data + "\">values</a>") + "</figcaption></figure>\n";
    }
    html += "</div>\n</body>\n</html>\n";
    const std::string path = folder_ + "/index.html";
    AtomicFile out(path);
    if (std::fputs(html.c_str(), out.stream()) == EOF) failWrite(path, "the write failed");
    out.commit();
  }

  std::string summary() const {
    std::string text;
    for (const Shown& s : shown_) {
      std::string line = "  " + s.file;
      line.resize(24, ' ');
      line += s.title;
      if (s.milliseconds >= 0) {
        line.resize(std::max<size_t>(line.size() + 2, 62), ' ');
        line += formatTime(s.milliseconds);
      }
      text += line + "\n";
    }
    return text;
  }

  // Times the projection, then writes its plot (the chart with the rectangle beside the profile)
  // and its values as CSV.
  void project(const std::string& name, const std::string& title, const std::string& detail, const Picture& in,
               const ProfileRequest& request) {
    const auto start = std::chrono::steady_clock::now();
    const Profile profile = projectPicture(in, request, "the chart");
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    plotProfile(folder_ + "/" + name + ".png", in, request, profile, title);
    AtomicFile csv(folder_ + "/" + name + ".csv");
    if (std::fputs(profileCsv(in, profile, request).c_str(), csv.stream()) == EOF) {
      failWrite(folder_ + "/" + name + ".csv", "the write failed");
    }
    csv.commit();
    shown_.push_back({name + ".png", title, detail, name + ".csv", request.xCount, 1, ms});
  }

  size_t count() const { return shown_.size(); }

 private:
  void save(const std::string& name, const Picture& picture) const { writeImageFile(folder_ + "/" + name, picture); }

  std::string folder_;
  std::vector<Shown> shown_;
};

affineSampleParams sampling(uint32_t mode, const kmath_shapeAffineRect& rect, int32_t width, int32_t height) {
  affineSampleParams params{};
  kip_affineSampleParams_init(&params, mode, &rect, width, height);
  return params;
}

int runDemo(const Args& args) {
  const std::string folder = args.positionals().empty() ? "kip-demo" : args.positionals()[0];
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) fail("cannot make the folder " + folder + " (" + error.message() + ")", "Give a folder you can write to");

  Demo demo(folder);
  const Picture chart8 = makeChart(8, kChartWidth, kChartHeight);
  const Picture chart16 = makeChart(16, kChartWidth, kChartHeight);
  demo.input("chart8.png", chart8, "8-bit chart");
  demo.input("chart16.png", chart16, "16-bit chart");

  // One geometry for every mode, the one that fits the widest reach, so the results compare pel
  // for pel.
  const kimg_image& image8 = *chart8.channels[0].get();
  affineSampleParams turned = rotationParams(image8, 30, 1, KIP_SAMPLE_CUBIC2, false);
  for (uint32_t mode : {KIP_SAMPLE_NEAREST, KIP_SAMPLE_BILINEAR, KIP_SAMPLE_LINEAR2, KIP_SAMPLE_CUBIC2}) {
    const std::string name(modeName(mode));
    turned.sampleMode = mode;
    demo.run("rotate-" + name + ".png", "turn by 30 degrees, " + name, "largest part inside the chart", chart8,
             turned);
  }
  // The star's centre magnified four times: 80 x 60 chart pels into 320 x 240.
  const kmath_shapeAffineRect centre{0.38 * kChartWidth - 40, 0.5 * kChartHeight - 30, 80, 0, 0, 60};
  for (uint32_t mode : {KIP_SAMPLE_NEAREST, KIP_SAMPLE_BILINEAR, KIP_SAMPLE_LINEAR2, KIP_SAMPLE_CUBIC2}) {
    const std::string name(modeName(mode));
    demo.run("zoom-" + name + ".png", "star centre x4, " + name, "80 x 60 chart pels", chart8,
             sampling(mode, centre, 320, 240));
  }
  demo.run("turn-90.png", "quarter turn", "an exact copy of the pels (aligned path)", chart8,
           rotationParams(image8, 90, 1, KIP_SAMPLE_BILINEAR, false));
  const kmath_shapeAffineRect mirrored{kChartWidth, 0, -kChartWidth, 0, 0, kChartHeight};
  demo.run("mirror.png", "mirror left-right", "an exact copy of the pels (aligned path)", chart8,
           sampling(KIP_SAMPLE_BILINEAR, mirrored, kChartWidth, kChartHeight));
  demo.run("clipped.png", "clipped turn by 30 degrees, bilinear", "the whole turned chart, 0 outside", chart8,
           rotationParams(image8, 30, 1, KIP_SAMPLE_BILINEAR, true), true, "clipped-mask.png");

  for (uint32_t mode : {KIP_SAMPLE_BILINEAR, KIP_SAMPLE_CUBIC2}) {
    const std::string name(modeName(mode));
    turned.sampleMode = mode;
    demo.run("rotate16-" + name + ".png", "16-bit turn by 30 degrees, " + name, "largest part inside the chart",
             chart16, turned);
  }
  // A profile across the vertical lines, a degree off square as a real part would lie.
  ProfileRequest across;
  const double degrees = 1 * 3.14159265358979323846 / 180, length = 0.27 * kChartWidth, depth = 0.15 * kChartHeight;
  across.rect = {0.66 * kChartWidth + 2, 0.12 * kChartHeight, length * std::cos(degrees), -depth * std::sin(degrees),
                 length * std::sin(degrees), depth * std::cos(degrees)};
  across.xCount = static_cast<int32_t>(2 * length);
  across.yCount = static_cast<int32_t>(depth);
  demo.project("profile-lines", "profile across the fine lines, bilinear",
               "affine projection: each entry sums " + std::to_string(across.yCount) + " samples", chart8, across);
  demo.writeIndex();

  printOut("kip demo: " + std::to_string(demo.count()) + " images and index.html in " + folder + "/\n" +
           demo.summary() + "Open " + folder + "/index.html in a browser to see them side by side.\n");
  return 0;
}

}  // namespace

const Command& demoCommand() {
  static const Command command{{"demo", "[DIR]", 0, 1, {}},
                               "resample a built-in test chart every way kip can",
                               "Writes PNG files and index.html into DIR (default: kip-demo), made if missing,\n"
                               "and prints what each image shows and how long the library took for it.\n",
                               runDemo};
  return command;
}

}  // namespace kiptool
