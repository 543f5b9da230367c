// Parts of the kip tool under its commands: the parsing of arguments, and the profile plot.
#include "cli.hpp"
#include "failure.hpp"
#include "plot.hpp"
#include "tool_files.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <string>

#include <unistd.h>

namespace {
using kiptool::Failure;

// The message of the usage Failure that parse must throw.
std::string refusal(const std::function<void()>& parse) {
  try {
    parse();
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.exitStatus(), kiptool::kExitUsage);
    return failure.what();
  }
  return ADD_FAILURE() << "accepted", "";
}

// Junk, other notations and values that are not finite never become numbers; the message names the
// argument, the value and the fix.
TEST(ToolParsing, NumbersModesRectsAndSizes) {
  const std::pair<const char*, const char*> refused[] = {
      {"30deg", "is not a number"}, {"0x1e", "is not a number"}, {"nan", "is not a finite number"},
      {"1e400", "is out of range"}};
  for (const auto& [text, problem] : refused) {
    EXPECT_EQ(refusal([&] { kiptool::parseAngle(text); }),
              std::string("--angle '") + text + "' " + problem + ". Give --angle a decimal number such as 30 or -12.5");
  }
  EXPECT_EQ(kiptool::parseAngle("-1e2"), -100.0);
  EXPECT_NE(refusal([] { kiptool::parseScale("0"); }).find("--scale '0' is not above 0"), std::string::npos);
  EXPECT_EQ(kiptool::parseMode("cubic2"), KIP_SAMPLE_CUBIC2);
  EXPECT_NE(refusal([] { kiptool::parseMode("Bilinear"); }).find("is not a sample mode"), std::string::npos);

  // Origin corner (10, 20), x side ending at (40, 24), y side ending at (7, 45).
  const kmath_shapeAffineRect rect = kiptool::parseRect("10,20,40,24,7,45");
  EXPECT_TRUE(rect.tx == 10 && rect.ty == 20 && rect.e0 == 30 && rect.e2 == 4 && rect.e1 == -3 && rect.e3 == 25);
  EXPECT_NE(refusal([] { kiptool::parseRect("1,2,3,4,5"); }).find("Give --rect OX,OY,XX,XY,YX,YY"), std::string::npos);
  EXPECT_NE(refusal([] { kiptool::parseRect("0,0,10,0,20,0"); }).find("has no area"), std::string::npos);
  EXPECT_NE(refusal([] { kiptool::parseRect("-1e308,0,1e308,0,0,5"); }).find("too long"), std::string::npos);
  EXPECT_EQ(kiptool::parseSize("640,1").width * 10000 + kiptool::parseSize("640,1").height, 6400001);
  for (const char* bad : {"0,5", "1.5,2", "2,1000001", "99999999999999999999,1"}) {
    EXPECT_NE(refusal([&] { kiptool::parseSize(bad); }).find("--size"), std::string::npos) << bad;
  }
}
TEST(ToolParsing, Options) {
  const kiptool::CommandSyntax syntax{
      "warp", "IN OUT", 2, 2, {{"--angle", "DEG", "turn"}, {"--clip", "", "clip"}, {"--mode", "M", "", true}}};
  // A value may start with '-'; "--" ends the options; "=" joins a value.
  kiptool::Args args = kiptool::parseArgs(syntax, {"a", "--angle", "-30", "--mode=cubic2", "--", "--clip"});
  EXPECT_EQ(args.positionals(), (std::vector<std::string>{"a", "--clip"}));
  EXPECT_TRUE(*args.value("--angle") == "-30" && *args.value("--mode") == "cubic2" && !args.has("--clip"));
  EXPECT_TRUE(kiptool::parseArgs(syntax, {"--bogus", "-h"}).helpWanted());  // help skips every other check
  using Line = std::vector<std::string>;  // a missing needed option, an unknown one, one twice, a value to a flag
  for (const Line& bad : {Line{"a", "b"}, {"a", "b", "--mode", "x", "-x"}, {"a", "b", "--mode", "x", "--mode=y"},
                          {"a", "b", "--mode", "x", "--clip=1"}}) {
    EXPECT_FALSE(refusal([&] { kiptool::parseArgs(syntax, bad); }).empty());
  }
}
// A plot of the default size even with a gap in the series; one it cannot write leaves nothing behind.
TEST(ToolPlot, DrawsAndRefusesWithoutWriting) {
  const auto folder = std::filesystem::path(testing::TempDir()) / ("kip_plot_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string file = (folder / "plot.png").string();
  kiptool::ProfilePlot plot;
  plot.imageWidth = 40, plot.imageHeight = 30, plot.rect = {5.0, 5.0, 30.0, -4.0, 8.0, 20.0};
  plot.imageRgb.assign(40 * 30 * 3, 200);
  plot.series.push_back({"sum", {5.0, -2.0, NAN, 1e6, 3.0}});
  kiptool::writeProfilePlot(file, plot);
  const tooltest::Raster png = tooltest::readPng(file);
  EXPECT_EQ(std::tuple(png.width, png.height, png.channels), std::tuple(1200, 480, 3));
  std::filesystem::remove(file);
  EXPECT_THROW(kiptool::writeProfilePlot((folder / "missing" / "plot.png").string(), plot), Failure);
  plot.imageRgb.pop_back();
  EXPECT_THROW(kiptool::writeProfilePlot(file, plot), Failure);
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  std::filesystem::remove_all(folder);
}

}  // namespace
