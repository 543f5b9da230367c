// Parts of the kip tool that commands to come rely on: the parsing of numbers, rectangles, sizes,
// modes and options, and the profile plot.
#include "cli.hpp"
#include "failure.hpp"
#include "plot.hpp"
#include "tool_files.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include <unistd.h>

namespace {

using kiptool::Failure;

// Runs parse and returns the message of the usage Failure it must throw.
std::string refusal(const std::function<void()>& parse) {
  try {
    parse();
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.exitStatus(), kiptool::kExitUsage);
    return failure.what();
  }
  ADD_FAILURE() << "accepted";
  return "";
}

// Junk, white space, other notations and values that are not finite never become numbers, and the
// message names the argument, the value and the fix.
TEST(ToolParsing, NumbersAndModes) {
  const std::pair<const char*, const char*> refused[] = {
      {"", "is not a number"},   {"30deg", "is not a number"}, {" 30", "is not a number"}, {"0x1e", "is not a number"},
      {"+-5", "is not a number"}, {"nan", "is not a finite number"}, {"1e400", "is out of range"}};
  for (const auto& [text, problem] : refused) {
    EXPECT_EQ(refusal([&] { kiptool::parseAngle(text); }),
              std::string("--angle '") + text + "' " + problem + ". Give --angle a decimal number such as 30 or -12.5");
  }
  EXPECT_EQ(kiptool::parseAngle("+2.5"), 2.5);
  EXPECT_EQ(kiptool::parseAngle("-1e2"), -100.0);
  EXPECT_EQ(kiptool::parseScale("0.25"), 0.25);
  EXPECT_NE(refusal([] { kiptool::parseScale("0"); }).find("--scale '0' is not above 0"), std::string::npos);
  EXPECT_NE(refusal([] { kiptool::parseScale("-2"); }).find("is not above 0"), std::string::npos);
  EXPECT_EQ(kiptool::parseMode("cubic2"), KIP_SAMPLE_CUBIC2);
  EXPECT_EQ(refusal([] { kiptool::parseMode("Bilinear"); }),
            "--mode 'Bilinear' is not a sample mode. Give nearest, bilinear, linear2 or cubic2");
}

TEST(ToolParsing, RectIsCornersInPelCoordinatesAndSizeTwoWholeNumbers) {
  // Origin corner (10, 20), x side ending at (40, 24), y side ending at (7, 45).
  const kmath_shapeAffineRect rect = kiptool::parseRect("10,20,40,24,7,45");
  EXPECT_TRUE(rect.tx == 10 && rect.ty == 20 && rect.e0 == 30 && rect.e2 == 4 && rect.e1 == -3 && rect.e3 == 25);
  for (const char* bad : {"1,2,3,4,5", "1,2,3,4,5,6,7", "0,0,10,0,,5"}) {
    EXPECT_NE(refusal([&] { kiptool::parseRect(bad); }).find("Give --rect OX,OY,XX,XY,YX,YY"), std::string::npos)
        << bad;
  }
  EXPECT_NE(refusal([] { kiptool::parseRect("0,0,10,0,20,0"); }).find("has no area"), std::string::npos);
  EXPECT_NE(refusal([] { kiptool::parseRect("-1e308,0,1e308,0,0,5"); }).find("too long"), std::string::npos);

  const kiptool::Size size = kiptool::parseSize("640,1");
  EXPECT_TRUE(size.width == 640 && size.height == 1);
  for (const char* bad : {"640", "0,5", "1.5,2", "2,1000001", "99999999999999999999,1"}) {
    EXPECT_NE(refusal([&] { kiptool::parseSize(bad); }).find("--size"), std::string::npos) << bad;
  }
}

TEST(ToolParsing, Options) {
  const kiptool::CommandSyntax syntax{
      "warp", "IN OUT", 2, 2, {{"--angle", "DEG", "turn"}, {"--clip", "", "clip"}, {"--mode", "M", "", true}}};
  // A value may start with '-'; "--" ends the options; "=" joins a value.
  kiptool::Args args = kiptool::parseArgs(syntax, {"a", "--angle", "-30", "--mode=cubic2", "--", "--clip"});
  EXPECT_EQ(args.positionals(), (std::vector<std::string>{"a", "--clip"}));
  EXPECT_EQ(*args.value("--angle"), "-30");
  EXPECT_EQ(*args.value("--mode"), "cubic2");
  EXPECT_FALSE(args.has("--clip"));
  // Help skips every other check.
  EXPECT_TRUE(kiptool::parseArgs(syntax, {"--bogus", "-h"}).helpWanted());
  EXPECT_FALSE(kiptool::parseArgs(syntax, {"a", "--mode", "x", "--", "-h"}).helpWanted());

  EXPECT_EQ(refusal([&] { kiptool::parseArgs(syntax, {"a", "b"}); }),
            "kip warp needs --mode M. Run 'kip warp --help' for its arguments");
  EXPECT_EQ(refusal([&] { kiptool::parseArgs(syntax, {"a", "b", "--mode", "x", "-x"}); }),
            "kip warp has no option -x. Run 'kip warp --help' for its arguments");
  EXPECT_EQ(refusal([&] { kiptool::parseArgs(syntax, {"a", "b", "--mode", "x", "--mode=y"}); }),
            "--mode is given twice. Give it once");
  EXPECT_EQ(refusal([&] { kiptool::parseArgs(syntax, {"a", "b", "--mode", "x", "--clip=1"}); }),
            "--clip takes no value. Give --clip alone");
  EXPECT_NE(kiptool::formatOptions(syntax).find("  --angle DEG  turn\n"), std::string::npos);
}

// Pels of the plot near a colour, in columns x0 to x1.
int countNear(const tooltest::Raster& png, int r, int g, int b, int x0, int x1) {
  int found = 0;
  for (int y = 0; y < png.height; ++y) {
    for (int x = x0; x < x1; ++x) {
      found += std::abs(png.at(x, y, 0) - r) < 40 && std::abs(png.at(x, y, 1) - g) < 40 &&
               std::abs(png.at(x, y, 2) - b) < 40;
    }
  }
  return found;
}

TEST(ToolPlot, DrawsImageRectAndProfileAndRefusesWithoutWriting) {
  const std::filesystem::path folder =
      std::filesystem::path(testing::TempDir()) / ("kip_plot_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string file = (folder / "plot.png").string();
  kiptool::ProfilePlot plot;
  plot.imageWidth = 40;
  plot.imageHeight = 30;
  plot.imageRgb.assign(40 * 30 * 3, 200);  // light gray: neither red nor the series blue
  plot.rect = {5.0, 5.0, 30.0, -4.0, 8.0, 20.0};
  plot.series.push_back({"sum", {}});
  for (int i = 0; i < 100; ++i) plot.series[0].values.push_back(i == 50 ? NAN : std::sin(i / 10.0) * 1000.0);

  kiptool::writeProfilePlot(file, plot);
  const tooltest::Raster png = tooltest::readPng(file);
  ASSERT_EQ(std::tuple(png.width, png.height, png.channels), std::tuple(1200, 480, 3));
  EXPECT_GT(countNear(png, 230, 25, 25, 0, 480), 100);  // the rectangle, over the image
  EXPECT_EQ(countNear(png, 230, 25, 25, 480, 1200), 0);
  EXPECT_GT(countNear(png, 31, 89, 191, 480, 1200), 300);   // the profile
  EXPECT_GT(countNear(png, 200, 200, 200, 0, 480), 10000);  // the image itself

  // Other sizes, a flat series, a single sample, nothing finite: still a plot, of the asked size.
  plot.width = 400;
  plot.height = 300;
  for (std::vector<double> values : {std::vector<double>(5, 7.0), std::vector<double>{3.0},
                                     std::vector<double>{NAN, INFINITY}, std::vector<double>{}}) {
    plot.series[0].values = values;
    kiptool::writeProfilePlot(file, plot);
    const tooltest::Raster small = tooltest::readPng(file);
    EXPECT_EQ(std::pair(small.width, small.height), std::pair(400, 300));
  }

  std::filesystem::remove(file);
  EXPECT_THROW(kiptool::writeProfilePlot((folder / "missing" / "plot.png").string(), plot), Failure);
  plot.imageRgb.pop_back();
  EXPECT_THROW(kiptool::writeProfilePlot(file, plot), Failure);
  plot.imageRgb.push_back(0);
  plot.width = 100;
  EXPECT_THROW(kiptool::writeProfilePlot(file, plot), Failure);
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  std::filesystem::remove_all(folder);
}

}  // namespace
