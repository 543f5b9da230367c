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

struct Refused {
  const char* text;
  const char* message;
};

class NumberRefusals : public testing::TestWithParam<Refused> {};

// Junk, white space, other notations and values that are not finite never become numbers, and the
// message names the argument, the value and the fix.
TEST_P(NumberRefusals, NameTheProblemAndTheFix) {
  const std::string message = refusal([] { kiptool::parseAngle(GetParam().text); });
  EXPECT_EQ(message, std::string("--angle '") + GetParam().text + "' " + GetParam().message +
                         ". Give --angle a decimal number such as 30 or -12.5");
}

INSTANTIATE_TEST_SUITE_P(Texts, NumberRefusals,
                         testing::Values(Refused{"", "is not a number"}, Refused{"30deg", "is not a number"},
                                         Refused{" 30", "is not a number"}, Refused{"0x1e", "is not a number"},
                                         Refused{"3,5", "is not a number"}, Refused{"--5", "is not a number"},
                                         Refused{"+-5", "is not a number"}, Refused{"nan", "is not a finite number"},
                                         Refused{"-inf", "is not a finite number"},
                                         Refused{"infinity", "is not a finite number"},
                                         Refused{"1e400", "is out of range"}));

TEST(ToolParsing, NumbersAndModes) {
  EXPECT_EQ(kiptool::parseAngle("+2.5"), 2.5);
  EXPECT_EQ(kiptool::parseAngle("-1e2"), -100.0);
  EXPECT_EQ(kiptool::parseScale("0.25"), 0.25);
  EXPECT_NE(refusal([] { kiptool::parseScale("0"); }).find("--scale '0' is not above 0"), std::string::npos);
  EXPECT_NE(refusal([] { kiptool::parseScale("-2"); }).find("is not above 0"), std::string::npos);
  EXPECT_EQ(kiptool::parseMode("nearest"), KIP_SAMPLE_NEAREST);
  EXPECT_EQ(kiptool::parseMode("cubic2"), KIP_SAMPLE_CUBIC2);
  EXPECT_EQ(refusal([] { kiptool::parseMode("Bilinear"); }),
            "--mode 'Bilinear' is not a sample mode. Give nearest, bilinear, linear2 or cubic2");
}

TEST(ToolParsing, RectIsCornersInPelCoordinates) {
  // Origin corner (10, 20), x side ending at (40, 24), y side ending at (7, 45).
  const kmath_shapeAffineRect rect = kiptool::parseRect("10,20,40,24,7,45");
  EXPECT_EQ(rect.tx, 10.0);
  EXPECT_EQ(rect.ty, 20.0);
  EXPECT_EQ(rect.e0, 30.0);  // x side
  EXPECT_EQ(rect.e2, 4.0);
  EXPECT_EQ(rect.e1, -3.0);  // y side
  EXPECT_EQ(rect.e3, 25.0);
  for (const char* bad : {"1,2,3,4,5", "1,2,3,4,5,6,7", "0,0,10,0,0,nan", "0,0,10,0,,5", "0,0,10,0,0,5x"}) {
    EXPECT_NE(refusal([&] { kiptool::parseRect(bad); }).find("Give --rect OX,OY,XX,XY,YX,YY"), std::string::npos)
        << bad;
  }
  EXPECT_NE(refusal([] { kiptool::parseRect("0,0,10,0,20,0"); }).find("has no area"), std::string::npos);
  EXPECT_NE(refusal([] { kiptool::parseRect("-1e308,0,1e308,0,0,5"); }).find("too long"), std::string::npos);
}

TEST(ToolParsing, SizeIsTwoWholeNumbers) {
  const kiptool::Size size = kiptool::parseSize("640,1");
  EXPECT_EQ(size.width, 640);
  EXPECT_EQ(size.height, 1);
  for (const char* bad : {"640", "640,480,1", "0,5", "5,-1", "1.5,2", "2,1000001", "99999999999999999999,1", ","}) {
    EXPECT_NE(refusal([&] { kiptool::parseSize(bad); }).find("--size"), std::string::npos) << bad;
  }
}

TEST(ToolParsing, Options) {
  const kiptool::CommandSyntax syntax{"warp",
                                      "IN OUT",
                                      2,
                                      2,
                                      {{"--angle", "DEG", "turn"}, {"--clip", "", "clip"}, {"--mode", "M", "", true}}};
  // A value may start with '-'; "--" ends the options; "=" joins a value.
  kiptool::Args args = kiptool::parseArgs(syntax, {"a", "--angle", "-30", "--mode=cubic2", "--", "--clip"});
  EXPECT_EQ(args.positionals(), (std::vector<std::string>{"a", "--clip"}));
  EXPECT_EQ(*args.value("--angle"), "-30");
  EXPECT_EQ(*args.value("--mode"), "cubic2");
  EXPECT_FALSE(args.has("--clip"));
  EXPECT_EQ(args.value("--clip"), nullptr);
  // Help skips every other check.
  EXPECT_TRUE(kiptool::parseArgs(syntax, {"--bogus", "-h"}).helpWanted());
  EXPECT_FALSE(kiptool::parseArgs(syntax, {"a", "--mode", "x", "--", "-h"}).helpWanted());

  EXPECT_EQ(refusal([&] { kiptool::parseArgs(syntax, {"a", "b"}); }),
            "kip warp needs --mode M. Run 'kip warp --help' for its arguments");
  EXPECT_EQ(refusal([&] { kiptool::parseArgs(syntax, {"a", "b", "--mode", "x", "-x"}); }),
            "kip warp has no option -x. Run 'kip warp --help' for its arguments");
  EXPECT_EQ(refusal([&] { kiptool::parseArgs(syntax, {"a", "b", "--mode", "x", "--clip=1"}); }),
            "--clip takes no value. Give --clip alone");
  const std::string options = kiptool::formatOptions(syntax);
  EXPECT_NE(options.find("  --angle DEG  turn\n"), std::string::npos) << options;
}

class ToolPlot : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::path(testing::TempDir()) / ("kip_plot_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    plot_.imageWidth = 40;
    plot_.imageHeight = 30;
    plot_.imageRgb.assign(40 * 30 * 3, 200);  // light gray: neither red nor the series blue
    plot_.rect = {5.0, 5.0, 30.0, -4.0, 8.0, 20.0};
    plot_.series.push_back({"sum", {}});
    for (int i = 0; i < 100; ++i) plot_.series[0].values.push_back(i == 50 ? NAN : std::sin(i / 10.0) * 1000.0);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  // Pels of the plot near a colour.
  static int count(const tooltest::Raster& png, int r, int g, int b, int x0, int x1) {
    int found = 0;
    for (int y = 0; y < png.height; ++y) {
      for (int x = x0; x < x1; ++x) {
        found += std::abs(png.at(x, y, 0) - r) < 40 && std::abs(png.at(x, y, 1) - g) < 40 &&
                 std::abs(png.at(x, y, 2) - b) < 40;
      }
    }
    return found;
  }

  std::filesystem::path folder_;
  kiptool::ProfilePlot plot_;
};

TEST_F(ToolPlot, WritesAPngOfTheAskedSizeWithImageRectAndProfile) {
  const std::string file = (folder_ / "plot.png").string();
  kiptool::writeProfilePlot(file, plot_);
  const tooltest::Raster png = tooltest::readPng(file);
  ASSERT_EQ(png.width, 1200);
  ASSERT_EQ(png.height, 480);
  ASSERT_EQ(png.channels, 3);
  EXPECT_GT(count(png, 230, 25, 25, 0, 480), 100);         // the rectangle, over the image
  EXPECT_EQ(count(png, 230, 25, 25, 480, 1200), 0);
  EXPECT_GT(count(png, 31, 89, 191, 480, 1200), 300);      // the profile
  EXPECT_GT(count(png, 200, 200, 200, 0, 480), 10000);     // the image itself

  // Other sizes, a flat series, a single sample, nothing finite: still a plot, of the asked size.
  plot_.width = 400;
  plot_.height = 300;
  for (std::vector<double> values : {std::vector<double>(5, 7.0), std::vector<double>{3.0},
                                     std::vector<double>{NAN, INFINITY}, std::vector<double>{}}) {
    plot_.series[0].values = values;
    kiptool::writeProfilePlot(file, plot_);
    const tooltest::Raster small = tooltest::readPng(file);
    EXPECT_EQ(small.width, 400);
    EXPECT_EQ(small.height, 300);
  }
}

TEST_F(ToolPlot, RefusesWithoutWriting) {
  const std::string file = (folder_ / "plot.png").string();
  EXPECT_THROW(kiptool::writeProfilePlot((folder_ / "missing" / "plot.png").string(), plot_), Failure);
  plot_.imageRgb.pop_back();
  EXPECT_THROW(kiptool::writeProfilePlot(file, plot_), Failure);
  plot_.imageRgb.push_back(0);
  plot_.width = 100;
  EXPECT_THROW(kiptool::writeProfilePlot(file, plot_), Failure);
  EXPECT_TRUE(std::filesystem::is_empty(folder_));
}

}  // namespace
