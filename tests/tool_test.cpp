// The kip tool as a user runs it: the built binary on small PNG and TIFF files, checking the files
// it writes pel by pel, what it prints, its one-line failures and its exit statuses.
#include "tool_files.hpp"
#include "support/turns.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using tooltest::Raster;

struct Outcome {
  int status;
  std::string out, err;
};

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One kind of input file. `layout` is what 'kip info' calls its channels. The upper-case extension
// checks that formats are told apart whatever the case.
struct FileKind {
  const char* name;
  const char* extension;
  int channels, depth;
  const char* layout;
  bool tiled = false, planes = false;
};

const FileKind kKinds[] = {
    {"png8", ".png", 1, 8, "gray"},
    {"png16", ".png", 1, 16, "gray"},
    {"pngGrayAlpha16", ".png", 2, 16, "gray+alpha"},
    {"pngRgb8", ".png", 3, 8, "RGB"},
    {"tiff8", ".tif", 1, 8, "gray"},
    {"tiff16", ".TIFF", 1, 16, "gray"},
    {"tiffRgba16Tiled", ".tif", 4, 16, "RGBA", true, false},
    {"tiffRgb8TiledPlanes", ".tif", 3, 8, "RGB", true, true},
    {"tiffGray8Planes", ".tif", 2, 8, "gray+alpha", false, true},
};

void PrintTo(const FileKind& kind, std::ostream* out) { *out << kind.name; }
bool isPng(const std::string& name) { return name.ends_with(".png"); }

class ToolTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(testing::TempDir()) / "kip_tool_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    fs::create_directory(root_ / "work");
  }
  void TearDown() override { fs::remove_all(root_); }

  // A name in the folder the tool runs in.
  std::string path(const std::string& name) const { return (root_ / "work" / name).string(); }

  Outcome run(const std::string& arguments) const {
    const std::string command = "cd '" + path("") + "' && '" KIP_TOOL_PATH "' " + arguments + " >'" +
                                (root_ / "out").string() + "' 2>'" + (root_ / "err").string() + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(root_ / "out"), slurp(root_ / "err")};
  }

  void write(const std::string& name, const Raster& raster, const FileKind* kind = nullptr) const {
    if (isPng(name)) return tooltest::writePng(path(name), raster);
    tooltest::writeTiff(path(name), raster, kind != nullptr && kind->tiled, kind != nullptr && kind->planes);
  }
  Raster read(const std::string& name) const {
    return isPng(name) ? tooltest::readPng(path(name)) : tooltest::readTiff(path(name));
  }
  std::set<std::string> files() const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(root_ / "work")) names.insert(entry.path().filename().string());
    return names;
  }

  fs::path root_;
};

// A failure is exactly one line on stderr, "kip: <problem>. <fix>", and nothing on stdout.
void expectOneLineFailure(const Outcome& run, int status, const std::string& message) {
  EXPECT_EQ(run.status, status) << run.err;
  EXPECT_TRUE(run.out.empty()) << run.out;
  EXPECT_TRUE(run.err.starts_with("kip: ")) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_NE(run.err.find(". "), std::string::npos) << "no fix in: " << run.err;
  EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
}

class ToolTurn : public ToolTest, public testing::WithParamInterface<std::tuple<FileKind, uint32_t>> {};

// Every kind of file through every turn: the tool reads each layout, turns each channel and writes
// the same kind of file back (20 x 18 pels: partial tiles, several strips, not square).
TEST_P(ToolTurn, MatchesThePicture) {
  const auto [kind, code] = GetParam();
  const std::string in = std::string("in") + kind.extension, out = std::string("out") + kind.extension;
  const Raster source = tooltest::randomRaster(20, 18, kind.channels, kind.depth, code + 7);
  write(in, source, &kind);
  if (code == 0) {
    const std::string channels = std::to_string(kind.channels) + (kind.channels == 1 ? " channel)\n" : " channels)\n");
    EXPECT_EQ(run("info " + in).out, in + (isPng(in) ? ": PNG" : ": TIFF") + ", 20 x 18, " +
                                         std::to_string(kind.depth) + "-bit " + kind.layout + " (" + channels);
  }

  const Outcome turned = run("turn " + in + " " + out + " --code " + std::to_string(code));
  ASSERT_EQ(turned.status, 0) << turned.err;
  EXPECT_EQ(turned.out + turned.err, "");
  const Raster result = read(out);
  const bool swap = code == 1 || code == 90 || code == 181 || code == 270;
  ASSERT_EQ(std::tuple(result.width, result.height, result.channels, result.depth),
            std::tuple(swap ? 18 : 20, swap ? 20 : 18, source.channels, source.depth));
  for (int i = 0; i < result.height; ++i) {
    for (int j = 0; j < result.width; ++j) {
      const auto [row, column] = kiptest::turnSourceOf(code, i, j, source.width, source.height);
      for (int c = 0; c < source.channels; ++c) ASSERT_EQ(result.at(j, i, c), source.at(column, row, c)) << j << i;
    }
  }
  EXPECT_EQ(files(), (std::set<std::string>{in, out}));  // no temporary file left behind
}

INSTANTIATE_TEST_SUITE_P(Kinds, ToolTurn,
                         testing::Combine(testing::ValuesIn(kKinds),
                                          testing::Values(0u, 1u, 90u, 91u, 180u, 181u, 270u, 271u)),
                         [](const auto& info) {
                           const uint32_t code = std::get<1>(info.param);
                           return std::string(std::get<0>(info.param).name) + "_" + std::to_string(code);
                         });

// Palette images become RGB; a TIFF whose zero is white is read with zero black; the output's
// format follows its name, not the input's.
TEST_F(ToolTest, ReadsPalettesAndWhiteZeroAcrossFormats) {
  const std::vector<png_color> colours{{10, 20, 30}, {200, 100, 0}, {0, 255, 7}};
  tooltest::writePng(path("palette.png"), Raster{3, 2, 1, 8, {0, 1, 2, 2, 1, 0}}, colours);
  ASSERT_EQ(run("turn palette.png rgb.tif --code 0").status, 0);
  const Raster rgb = read("rgb.tif");
  ASSERT_EQ(rgb.channels, 3);
  for (int i = 0; i < 6; ++i) {
    const png_color& c = colours[std::vector<int>{0, 1, 2, 2, 1, 0}[i]];
    EXPECT_EQ(std::tuple(rgb.at(i % 3, i / 3, 0), rgb.at(i % 3, i / 3, 1), rgb.at(i % 3, i / 3, 2)),
              std::tuple(c.red, c.green, c.blue));
  }
  Raster white = tooltest::randomRaster(4, 3, 1, 16, 4);
  tooltest::writeTiff(path("white.tif"), white, false, false, true);
  ASSERT_EQ(run("turn white.tif black.png --code 0").status, 0);
  for (auto& s : white.samples) s = uint16_t(65535 - s);
  EXPECT_EQ(read("black.png"), white);
}

std::string expectedSums(const Raster& r, bool rows, const std::string& header) {
  std::string text = header + "\n";
  for (int i = 0; i < (rows ? r.height : r.width); ++i) {
    text += std::to_string(i);
    for (int c = 0; c < r.channels; ++c) {
      uint32_t sum = 0;
      for (int k = 0; k < (rows ? r.width : r.height); ++k) sum += rows ? r.at(k, i, c) : r.at(i, k, c);
      text += "," + std::to_string(sum);
    }
    text += "\n";
  }
  return text;
}

TEST_F(ToolTest, SumsOfRowsAndColumns) {
  const Raster gray = tooltest::randomRaster(6, 4, 1, 8, 5), rgb = tooltest::randomRaster(3, 5, 3, 8, 6);
  write("gray.png", gray);
  write("rgb.tif", rgb);
  EXPECT_EQ(run("sums gray.png").out, expectedSums(gray, false, "index,sum"));
  EXPECT_EQ(run("sums rgb.tif --rows").out, expectedSums(rgb, true, "index,red,green,blue"));
  const Outcome sums = run("sums gray.png --rows --csv=sums.csv");
  EXPECT_EQ(sums.status, 0) << sums.err;
  EXPECT_EQ(sums.out, "");
  EXPECT_EQ(slurp(path("sums.csv")), expectedSums(gray, true, "index,sum"));
}

// The profile of 'kip project' with nearest samples, worked out here sample by sample: rectangle
// origin O, x side X and y side Y (none of the positions lands near a pel edge). With clipping,
// samples outside count 0, the coverage is 255 per inside sample and the mean divides by it.
std::string expectedProfile(const Raster& r, double ox, double oy, bool clip) {
  constexpr int kN = 6, kM = 4;
  std::string text = clip ? "index,sum,coverage,mean,valid\n" : "index,sum\n";
  std::vector<uint32_t> sums(kN, 0), cover(kN, 0);
  for (int c = 0; c < kN; ++c) {
    for (int k = 0; k < kM; ++k) {
      const double x = ox + 12 * (c + 0.5) / kN - 2 * (k + 0.5) / kM, y = oy + 3 * (c + 0.5) / kN + 8 * (k + 0.5) / kM;
      if (x < 0 || y < 0 || x >= r.width || y >= r.height) continue;
      sums[c] += r.at(static_cast<int>(x), static_cast<int>(y), 0);
      cover[c] += 255;
    }
  }
  int first = kN, last = -1;
  for (int c = 0; c < kN; ++c) {
    if (cover[c] != 0) first = std::min(first, c), last = std::max(last, c);
  }
  for (int c = 0; c < kN; ++c) {
    text += std::to_string(c) + "," + std::to_string(sums[c]);
    if (clip) {
      const bool valid = c >= first && c <= last;
      const uint32_t mean = cover[c] ? static_cast<uint32_t>(sums[c] / (cover[c] / 255.0) + 0.5) : 0u;
      text += "," + std::to_string(cover[c]) + "," + (valid ? std::to_string(mean) + ",1" : ",0");
    }
    text += "\n";
  }
  return text;
}

class ToolProject : public ToolTest, public testing::WithParamInterface<FileKind> {};

TEST_P(ToolProject, ProfileOfNearestSamples) {
  const FileKind& kind = GetParam();
  const std::string in = std::string("in") + kind.extension;
  const Raster source = tooltest::randomRaster(20, 16, 1, kind.depth, 11);
  write(in, source, &kind);
  const auto command = [&](double ox, double oy) {
    std::ostringstream text;
    text << "project " << in << " --rect " << ox << "," << oy << "," << ox + 12 << "," << oy + 3 << "," << ox - 2
         << "," << oy + 8 << " --size 6,4 --mode nearest";
    return text.str();
  };
  const Outcome inside = run(command(2.3, 3.1));
  EXPECT_EQ(inside.status, 0) << inside.err;
  EXPECT_EQ(inside.out, expectedProfile(source, 2.3, 3.1, false));

  // Past the left edge: refused without --clip, counted with it.
  expectOneLineFailure(run(command(-6.7, 3.1)), 1, "reaches outside " + in);
  const Outcome clipped = run(command(-6.7, 3.1) + " --clip --norm --csv profile.csv");
  EXPECT_EQ(clipped.status, 0) << clipped.err;
  EXPECT_EQ(clipped.out, "");
  EXPECT_EQ(slurp(path("profile.csv")), expectedProfile(source, -6.7, 3.1, true));
}

INSTANTIATE_TEST_SUITE_P(Kinds, ToolProject, testing::Values(kKinds[0], kKinds[1], kKinds[5]),
                         [](const auto& info) { return std::string(info.param.name); });

// Means without clipping divide by the samples of an entry; colour gets a column a channel; the
// plot is a PNG of the default size.
TEST_F(ToolTest, ProjectMeansColoursAndPlot) {
  write("rgb.png", tooltest::randomRaster(24, 20, 3, 8, 12));
  const Outcome project = run("project rgb.png --rect 3,2,21,5,1,17 --size 5,2 --norm --plot plot.png");
  ASSERT_EQ(project.status, 0) << project.err;
  std::istringstream lines(project.out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "index,sum_red,sum_green,sum_blue,mean_red,mean_green,mean_blue,valid");
  int rows = 0;
  for (; std::getline(lines, line); ++rows) {
    int at = -1, valid = -1;
    double v[6] = {};  // three sums, then three means
    ASSERT_EQ(std::sscanf(line.c_str(), "%d,%lf,%lf,%lf,%lf,%lf,%lf,%d", &at, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                          &valid),
              8)
        << line;
    EXPECT_EQ(std::pair(at, valid), std::pair(rows, 1));
    for (int c = 0; c < 3; ++c) EXPECT_DOUBLE_EQ(v[3 + c], v[c] / 2) << line;
  }
  EXPECT_EQ(rows, 5);
  const Raster plot = read("plot.png");
  EXPECT_EQ(std::pair(plot.width, plot.height), std::pair(1200, 480));
  EXPECT_EQ(files(), (std::set<std::string>{"rgb.png", "plot.png"}));
}

TEST_F(ToolTest, InfoGoesOnPastABadFileAndHelpListsEveryCommand) {
  write("a.png", tooltest::randomRaster(2, 2, 1, 8, 1));
  const Outcome info = run("info a.png missing.png a.png");
  EXPECT_EQ(info.status, 1);
  EXPECT_EQ(info.out, "a.png: PNG, 2 x 2, 8-bit gray (1 channel)\na.png: PNG, 2 x 2, 8-bit gray (1 channel)\n");
  EXPECT_EQ(info.err, "kip: cannot read missing.png (No such file or directory). Check the file name and path\n");

  const Outcome help = run("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* name : {"info IN", "sums IN", "turn IN", "rotate IN", "demo [DIR]", "warp IN", "project IN"}) {
    EXPECT_NE(help.out.find(name), std::string::npos) << name;
  }
  EXPECT_TRUE(run("turn --help").out.starts_with("usage: kip turn IN OUT --code CODE\n"));
  EXPECT_EQ(run("help sums").out, run("sums -h").out);
}

// A failed run leaves what was at the output path as it was, and no temporary file.
TEST_F(ToolTest, NothingHalfWritten) {
  const Raster before = tooltest::randomRaster(3, 3, 1, 8, 9);
  write("in.png", tooltest::randomRaster(4, 2, 1, 8, 2));
  write("out.png", before);
  std::ofstream(path("broken.png"), std::ios::binary) << slurp(path("in.png")).substr(0, 60);
  fs::create_directory(path("folder.png"));
  const std::set<std::string> names = files();
  expectOneLineFailure(run("turn broken.png out.png --code 90"), 1, "cannot read broken.png");
  expectOneLineFailure(run("turn in.png folder.png --code 90"), 1, "cannot write folder.png");
  EXPECT_EQ(read("out.png"), before);
  EXPECT_EQ(files(), names);
}

struct FailureCase {
  const char* arguments;
  int status;
  const char* message;
};

class ToolFailures : public ToolTest, public testing::WithParamInterface<FailureCase> {};

// The parsers' own messages are checked in tool_parts_test; these are the commands' checks.
TEST_P(ToolFailures, OneLineAndExitStatus) {
  write("in.png", tooltest::randomRaster(4, 3, 1, 8, 1));
  write("in16.tif", tooltest::randomRaster(4, 3, 1, 16, 1));
  std::ofstream(path("notes.txt")) << "not an image\n";
  std::ofstream(path("empty.png"));
  expectOneLineFailure(run(GetParam().arguments), GetParam().status, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolFailures, testing::Values(
    FailureCase{"", 2, "no command given"},
    FailureCase{"frobnicate in.png", 2, "'frobnicate' is not a kip command"},
    FailureCase{"info", 2, "too few file names"},
    FailureCase{"info empty.png", 1, "neither a PNG nor a TIFF"},
    FailureCase{"info .", 1, "is a folder"},
    FailureCase{"turn in.png out.png --code 45", 2, "--code '45' is not a turn code"},
    FailureCase{"turn in.png out.png --code", 2, "--code needs a value"},
    FailureCase{"turn in.png a.png b.png --code 90", 2, "too many file names"},
    FailureCase{"turn in.png out.jpg --code 90", 2, ".png, .tif or .tiff"},
    FailureCase{"turn in.png nowhere/out.png --code 90", 1, "cannot write nowhere/out.png"},
    FailureCase{"sums in.png --rows --columns", 2, "exclude each other"},
    FailureCase{"sums in16.tif", 1, "16-bit samples"},
    FailureCase{"warp in.png out.png --rect 0,0,4,0,0,3 --size 4,3 --mask m.png", 2, "--mask needs --clip"},
    FailureCase{"warp in.png out.png --rect -1,0,3,0,-1,3 --size 4,3", 1,
                "the sampling reaches outside in.png (4 x 3 pels). Give --clip"},
    FailureCase{"warp in16.tif out.png --rect 50,50,54,50,50,53 --size 4,3 --clip", 1, "touches no pel of in16.tif"},
    FailureCase{"warp in.png --rect 0,0,4,0,0,3 --size 4,3", 2, "takes IN OUT, or several inputs"},
    FailureCase{"warp in.png sub/in.png --out-dir o --rect 0,0,4,0,0,3 --size 4,3", 2,
                "in.png and sub/in.png would both be written to o/in.png"},
    FailureCase{"rotate in.png in16.tif --out-dir . --angle 30", 2, "would replace the input in.png"},
    FailureCase{"warp in.png --out-dir o --rect 0,0,4,0,0,3 --size 4,3 --clip --mask m.png", 2,
                "--mask names one file and does not go with --out-dir"},
    FailureCase{"warp in.png --out-dir notes.txt --rect 0,0,4,0,0,3 --size 4,3", 1, "cannot make the folder notes.txt"},
    FailureCase{"rotate in.png out.png --angle 30 --scale 1e7 --clip", 2, "more than 1000000 pels"},
    FailureCase{"rotate in.png out.png --angle 30 --scale 1e-6", 2, "less than one pel"},
    FailureCase{"rotate in.png out.png --angle 45 --mode cubic2", 1, "too small to turn"},
    FailureCase{"demo in.png", 1, "cannot make the folder in.png"},
    FailureCase{"project in.png --rect 0,0,4,0,0,3 --size 4,3 --plot p.jpg", 2, "not a .png name"},
    FailureCase{"project in.png --rect 30,0,33,0,30,3 --size 4,3 --clip", 1, "lies wholly outside"},
    FailureCase{"project in16.tif --rect 0,0,4,0,0,3 --size 4,3 --mode cubic2", 1, "nearest or bilinear"}));

// A whole-pel rectangle is an exact copy of those pels, in every kind of file; reaching past the
// left edge with --clip gives 0 there and a mask of 0 there and 255 elsewhere.
class ToolWarp : public ToolTest, public testing::WithParamInterface<FileKind> {};

TEST_P(ToolWarp, WholePelRectanglesCopyAndClip) {
  const FileKind& kind = GetParam();
  const std::string in = std::string("in") + kind.extension, out = std::string("out") + kind.extension;
  const Raster source = tooltest::randomRaster(20, 18, kind.channels, kind.depth, 4);
  write(in, source, &kind);

  const Outcome warp = run("warp " + in + " " + out + " --rect 3,2,13,2,3,9 --size 10,7 --mode cubic2");
  ASSERT_EQ(warp.status, 0) << warp.err;
  EXPECT_EQ(warp.out + warp.err, "");
  Raster result = read(out);
  ASSERT_EQ(std::tuple(result.width, result.height, result.channels, result.depth),
            std::tuple(10, 7, source.channels, source.depth));
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 10; ++x) {
      for (int c = 0; c < source.channels; ++c) ASSERT_EQ(result.at(x, y, c), source.at(x + 3, y + 2, c));
    }
  }

  ASSERT_EQ(run("warp " + in + " " + out + " --rect -5,0,7,0,-5,10 --size 12,10 --mode nearest --clip --mask mask.png")
                .status,
            0);
  result = read(out);
  const Raster mask = read("mask.png");
  ASSERT_EQ(result.width, 12);
  ASSERT_EQ(std::tuple(mask.width, mask.height, mask.channels, mask.depth), std::tuple(12, 10, 1, 8));
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 12; ++x) {
      EXPECT_EQ(mask.at(x, y, 0), x < 5 ? 0 : 255);
      for (int c = 0; c < source.channels; ++c) ASSERT_EQ(result.at(x, y, c), x < 5 ? 0 : source.at(x - 5, y, c)) << x;
    }
  }
  EXPECT_EQ(files(), (std::set<std::string>{in, out, "mask.png"}));
}

INSTANTIATE_TEST_SUITE_P(Kinds, ToolWarp, testing::Values(kKinds[0], kKinds[1], kKinds[3], kKinds[6]),
                         [](const auto& info) { return std::string(info.param.name); });

// Colour is resampled channel by channel: each channel of a warped RGB file is the warped gray file
// of that channel.
TEST_F(ToolTest, WarpWorksChannelByChannel) {
  const Raster rgb = tooltest::randomRaster(24, 20, 3, 16, 8);
  write("rgb.png", rgb);
  const std::string geometry = " --rect 4.5,2.25,20,7,1,15.5 --size 13,11 --mode bilinear";
  ASSERT_EQ(run("warp rgb.png out.png" + geometry).status, 0);
  const Raster out = read("out.png");
  for (int c = 0; c < 3; ++c) {
    Raster plane{24, 20, 1, 16, {}};
    for (int i = 0; i < 24 * 20; ++i) plane.samples.push_back(rgb.samples[size_t(i) * 3 + c]);
    write("plane.png", plane);
    ASSERT_EQ(run("warp plane.png plane-out.png" + geometry).status, 0);
    const Raster planeOut = read("plane-out.png");
    for (int i = 0; i < 13 * 11; ++i) ASSERT_EQ(out.samples[size_t(i) * 3 + c], planeOut.samples[i]) << c << " " << i;
  }
}

// Quarter and half turns are exact copies, the same as 'kip turn', in any mode.
TEST_F(ToolTest, RotateByQuarterTurnsIsTurn) {
  write("in.png", tooltest::randomRaster(20, 13, 2, 8, 5));
  for (auto [angle, code] : {std::pair{"90", "90"}, {"-90", "270"}, {"180", "180"}, {"450", "90"}}) {
    ASSERT_EQ(run(std::string("turn in.png turned.png --code ") + code).status, 0);
    for (const char* mode : {"nearest", "cubic2"}) {
      const Outcome rotate = run(std::string("rotate in.png rotated.png --mode ") + mode + " --angle " + angle);
      ASSERT_EQ(rotate.status, 0) << rotate.err;
      EXPECT_EQ(read("rotated.png"), read("turned.png")) << angle << " " << mode;
    }
  }
}

// The output's size: the whole turned image with --clip (scaled), the largest part inside without,
// where a flat image stays flat and no pel from outside blends in.
TEST_F(ToolTest, RotateSizesAndEdges) {
  write("flat.png", Raster{40, 30, 1, 8, std::vector<uint16_t>(40 * 30, 200)});
  ASSERT_EQ(run("rotate flat.png whole.png --angle 30 --clip").status, 0);
  ASSERT_EQ(run("rotate flat.png double.png --angle 30 --clip --scale 2").status, 0);
  ASSERT_EQ(run("rotate flat.png inside.png --angle 30").status, 0);
  const Raster whole = read("whole.png"), twice = read("double.png"), inside = read("inside.png");
  // 40 x 30 turned by 30 degrees spans 40 cos + 30 sin = 49.6 by 40 sin + 30 cos = 46.0 pels.
  EXPECT_EQ(std::pair(whole.width, whole.height), std::pair(50, 46));
  EXPECT_EQ(std::pair(twice.width, twice.height), std::pair(100, 92));
  EXPECT_EQ(whole.at(0, 0, 0), 0);
  EXPECT_EQ(whole.at(25, 23, 0), 200);
  EXPECT_GT(inside.width * inside.height, 40 * 30 / 3);
  EXPECT_LT(inside.width, 40);
  EXPECT_EQ(inside.samples, std::vector<uint16_t>(size_t(inside.width) * inside.height, 200));
}

// A batch: every output is what the file alone gives, written under its input's name in the
// folder (made if missing); a file that fails gets its own line, the others still run, and the exit
// status says that one failed. Redirected, stderr holds the failure lines and no progress bar.
TEST_F(ToolTest, BatchesGoOnPastABadFile) {
  write("a.png", tooltest::randomRaster(30, 22, 1, 8, 3));
  write("b.tif", tooltest::randomRaster(25, 31, 1, 16, 4));
  write("c.png", tooltest::randomRaster(40, 26, 3, 8, 5));
  std::ofstream(path("bad.png")) << "not an image\n";
  using Batch = std::pair<std::string, std::string>;
  for (const auto& [command, options] : {Batch{"warp", " --rect 4.5,3.25,16,5,5,14.5 --size 9,8 --mode cubic2"},
                                         Batch{"rotate", " --angle 33 --clip --mode bilinear"}}) {
    const Outcome outcome = run(command + " a.png bad.png b.tif missing.png c.png --out-dir out/" + command + options);
    EXPECT_EQ(outcome.status, 1) << command;
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err,
              "kip: cannot read bad.png: it is neither a PNG nor a TIFF file. Convert it to PNG or TIFF\n"
              "kip: cannot read missing.png (No such file or directory). Check the file name and path\n");
    for (const std::string name : {"a.png", "b.tif", "c.png"}) {
      ASSERT_EQ(run(command + " " + name + " alone" + name.substr(1) + options).status, 0);
      EXPECT_EQ(read("out/" + command + "/" + name), read("alone" + name.substr(1))) << command << name;
    }
    EXPECT_FALSE(fs::exists(path("out/" + command + "/bad.png")));
  }
  // Each image turns about its own centre: the outputs' sizes follow the inputs'.
  EXPECT_NE(read("out/rotate/a.png").width, read("out/rotate/c.png").width);
}

// On a terminal the batch draws its progress on one line, rewritten per file, and failures still
// come out as lines of their own.
TEST_F(ToolTest, BatchProgressOnATerminal) {
  write("a.png", tooltest::randomRaster(12, 10, 1, 8, 3));
  write("b.png", tooltest::randomRaster(14, 9, 1, 8, 4));
  int terminal = -1, side = -1;
  ASSERT_EQ(openpty(&terminal, &side, nullptr, nullptr, nullptr), 0);
  const std::string command = "cd '" + path("") + "' && '" KIP_TOOL_PATH "' rotate a.png missing.png b.png "
                              "--out-dir out --angle 10 --clip >/dev/null 2>" + ttyname(side);
  const int raw = std::system(command.c_str());
  std::string screen;
  fcntl(terminal, F_SETFL, O_NONBLOCK);
  char buffer[4096];
  for (ssize_t got; (got = ::read(terminal, buffer, sizeof buffer)) > 0;) screen.append(buffer, size_t(got));
  close(side);
  close(terminal);
  EXPECT_EQ(WEXITSTATUS(raw), 1);
  for (const char* text : {"kip rotate [..............................] 0/3 a.png",
                           "\r\033[Kkip: cannot read missing.png", "[##############################] 3/3"}) {
    EXPECT_NE(screen.find(text), std::string::npos) << screen;
  }
  EXPECT_TRUE(fs::exists(path("out/b.png")));
}

TEST_F(ToolTest, DemoWritesEveryPictureAndAPage) {
  const Outcome demo = run("demo results");
  ASSERT_EQ(demo.status, 0) << demo.err;
  EXPECT_EQ(demo.err, "");
  EXPECT_NE(demo.out.find("Open results/index.html"), std::string::npos) << demo.out;
  const std::string page = slurp(path("results/index.html"));
  std::set<std::string> shown, written;
  for (const std::string attribute : {"src=\"", "href=\""}) {
    for (size_t at = page.find(attribute); at != std::string::npos; at = page.find(attribute, at + 1)) {
      const size_t start = at + attribute.size();
      shown.insert(page.substr(start, page.find('"', start) - start));
    }
  }
  for (const auto& entry : fs::directory_iterator(path("results"))) written.insert(entry.path().filename().string());
  written.erase("index.html");
  EXPECT_EQ(shown, written);  // every picture shown, and nothing else (no temporary file) left
  for (const char* name : {"rotate16-bilinear.png", "clipped-mask.png", "profile-lines.csv"}) {
    EXPECT_EQ(written.count(name), 1u) << name;
  }
  const Raster chart = read("results/chart8.png"), turned = read("results/turn-90.png");
  EXPECT_EQ(std::pair(turned.width, turned.height), std::pair(chart.height, chart.width));
  EXPECT_EQ(read("results/chart16.png").depth, 16);
}

}  // namespace
