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
  try { parse(); } catch (const Failure& failure) { return failure.exitStatus() == kiptool::kExitUsage ? failure.what() : ""; }
  return "";  // accepted
}

// Junk, other notations and values that are not finite never become numbers; the message names the
// argument, the value and the fix.
TEST(ToolParsing, NumbersModesRectsAndSizes) {
  EXPECT_EQ(refusal([] { kiptool::parseAngle("nan"); }), "--angle 'nan' is not a finite number. Give --angle a decimal number such as 30 or -12.5");
  EXPECT_NE(refusal([] { kiptool::parseAngle("0x1e"); }).find("is not a number"), std::string::npos);
  EXPECT_TRUE(kiptool::parseAngle("-1e2") == -100.0 && kiptool::parseMode("cubic2") == KIP_SAMPLE_CUBIC2);

  // Origin corner (10, 20), x side ending at (40, 24), y side ending at (7, 45).
  const kmath_shapeAffineRect rect = kiptool::parseRect("10,20,40,24,7,45");
  EXPECT_TRUE(rect.tx == 10 && rect.ty == 20 && rect.e0 == 30 && rect.e2 == 4 && rect.e1 == -3 && rect.e3 == 25);
  EXPECT_NE(refusal([] { kiptool::parseRect("0,0,10,0,20,0"); }).find("has no area"), std::string::npos);
  EXPECT_TRUE(kiptool::parseSize("640,1").width == 640 && refusal([] { kiptool::parseSize("2,1000001"); }).find("--size") == 0);
}
TEST(ToolParsing, Options) {
  const kiptool::CommandSyntax syntax{
      "warp", "IN OUT", 2, 2, {{"--angle", "DEG", "turn"}, {"--clip", "", "clip"}, {"--mode", "M", "", true}}};
  // A value may start with '-'; "--" ends the options; "=" joins a value.
  const kiptool::Args args = kiptool::parseArgs(syntax, {"a", "--angle", "-30", "--mode=cubic2", "--", "--clip"});
  EXPECT_TRUE(args.positionals() == (std::vector<std::string>{"a", "--clip"}) && *args.value("--angle") == "-30" && *args.value("--mode") == "cubic2" && !args.has("--clip"));
  EXPECT_TRUE(kiptool::parseArgs(syntax, {"--bogus", "-h"}).helpWanted());  // help skips every other check
  using Line = std::vector<std::string>;  // a missing needed option, an unknown one, one twice, a value to a flag
  for (const Line& bad : {Line{"a", "b"}, {"a", "b", "--mode", "x", "-x"}, {"a", "b", "--mode", "x", "--mode=y"},
                          {"a", "b", "--mode", "x", "--clip=1"}})
    EXPECT_FALSE(refusal([&] { kiptool::parseArgs(syntax, bad); }).empty());
}
// A plot of the default size even with a gap in the series; one it cannot write leaves nothing behind.
TEST(ToolPlot, DrawsAndRefusesWithoutWriting) {
  const auto folder = std::filesystem::path(testing::TempDir()) / ("kip_plot_" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string file = (folder / "plot.png").string();
  kiptool::ProfilePlot plot;
  plot.imageWidth = 40, plot.imageHeight = 30, plot.rect = {5.0, 5.0, 30.0, -4.0, 8.0, 20.0};
  plot.imageRgb.assign(40 * 30 * 3, 200), plot.series.push_back({"sum", {5.0, -2.0, NAN, 1e6, 3.0}});
  const tooltest::Raster png = (kiptool::writeProfilePlot(file, plot), tooltest::readPng(file));
  EXPECT_TRUE(png.width == 1200 && png.height == 480 && png.channels == 3 && std::filesystem::remove(file));
  EXPECT_THROW(kiptool::writeProfilePlot((folder / "missing" / "plot.png").string(), plot), Failure);
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  std::filesystem::remove_all(folder);
}

}  // namespace
