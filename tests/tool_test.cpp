// The kip tool as a user runs it: the built binary on small PNG and TIFF files, checking the files
// it writes pel by pel, what it prints, its one-line failures and its exit statuses.
#include "tool_files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include <sys/wait.h>

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

// One kind of input file. `layout` is what 'kip info' calls its channels.
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
    {"tiff16", ".tiff", 1, 16, "gray"},
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
    const std::string command = "cd '" + (root_ / "work").string() + "' && '" KIP_TOOL_PATH "' " + arguments +
                                " >'" + (root_ / "out").string() + "' 2>'" + (root_ / "err").string() + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(root_ / "out"), slurp(root_ / "err")};
  }

  void write(const std::string& name, const Raster& raster, const FileKind* kind = nullptr) const {
    if (isPng(name)) {
      tooltest::writePng(path(name), raster);
    } else {
      tooltest::writeTiff(path(name), raster, kind != nullptr && kind->tiled, kind != nullptr && kind->planes);
    }
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

// Source (row, column) of destination pel (row i, column j) for each code, worked out from the
// pictures of the turns; w x h is the source's width x height.
std::pair<int, int> sourceOf(uint32_t code, int i, int j, int w, int h) {
  switch (code) {
    case 1: return {j, i};
    case 90: return {j, w - 1 - i};
    case 91: return {i, w - 1 - j};
    case 180: return {h - 1 - i, w - 1 - j};
    case 181: return {h - 1 - j, w - 1 - i};
    case 270: return {h - 1 - j, i};
    case 271: return {h - 1 - i, j};
    default: return {i, j};
  }
}

class ToolTurn : public ToolTest, public testing::WithParamInterface<std::tuple<FileKind, uint32_t>> {};

// Every kind of file through every turn: the tool reads each layout, turns each channel and writes
// the same kind of file back (20 x 18 pels: partial tiles, several strips, not square).
TEST_P(ToolTurn, MatchesThePicture) {
  const auto [kind, code] = GetParam();
  const std::string in = std::string("in") + kind.extension, out = std::string("out") + kind.extension;
  const Raster source = tooltest::randomRaster(20, 18, kind.channels, kind.depth, code + 7);
  write(in, source, &kind);

  const Outcome turned = run("turn " + in + " " + out + " --code " + std::to_string(code));
  ASSERT_EQ(turned.status, 0) << turned.err;
  EXPECT_EQ(turned.out + turned.err, "");
  const Raster result = read(out);
  const bool swap = code == 1 || code == 90 || code == 181 || code == 270;
  ASSERT_EQ(result.width, swap ? source.height : source.width);
  ASSERT_EQ(result.height, swap ? source.width : source.height);
  ASSERT_EQ(result.channels, source.channels);
  ASSERT_EQ(result.depth, source.depth);
  for (int i = 0; i < result.height; ++i) {
    for (int j = 0; j < result.width; ++j) {
      const auto [row, column] = sourceOf(code, i, j, source.width, source.height);
      for (int c = 0; c < source.channels; ++c) {
        ASSERT_EQ(result.at(j, i, c), source.at(column, row, c)) << "pel " << j << "," << i << " channel " << c;
      }
    }
  }
  EXPECT_EQ(files(), (std::set<std::string>{in, out}));  // no temporary file left behind
}

INSTANTIATE_TEST_SUITE_P(Kinds, ToolTurn,
                         testing::Combine(testing::ValuesIn(kKinds),
                                          testing::Values(0u, 1u, 90u, 91u, 180u, 181u, 270u, 271u)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::to_string(std::get<1>(info.param));
                         });

class ToolInfo : public ToolTest, public testing::WithParamInterface<FileKind> {};

TEST_P(ToolInfo, DescribesTheFile) {
  const FileKind& kind = GetParam();
  const std::string in = std::string("in") + kind.extension;
  write(in, tooltest::randomRaster(5, 3, kind.channels, kind.depth, 1), &kind);
  const Outcome info = run("info " + in);
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(info.out, in + (isPng(in) ? ": PNG" : ": TIFF") + ", 5 x 3, " + std::to_string(kind.depth) + "-bit " +
                          kind.layout + " (" + std::to_string(kind.channels) +
                          (kind.channels == 1 ? " channel)\n" : " channels)\n"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, ToolInfo, testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

// A PNG written as TIFF (and back) keeps every 16-bit value: the byte orders of the two formats
// are handled apart.
TEST_F(ToolTest, ConvertsBetweenFormatsExactly) {
  const Raster source = tooltest::randomRaster(7, 5, 1, 16, 3);
  write("in.png", source);
  ASSERT_EQ(run("turn in.png mid.TIFF --code 0").status, 0);
  ASSERT_EQ(run("turn mid.TIFF out.png --code 0").status, 0);
  EXPECT_EQ(read("mid.TIFF"), source);
  EXPECT_EQ(read("out.png"), source);
}

// Palette images become RGB; a TIFF whose zero is white is read with zero black.
TEST_F(ToolTest, ReadsPalettesAndWhiteZero) {
  const std::vector<png_color> colours{{10, 20, 30}, {200, 100, 0}, {0, 255, 7}};
  tooltest::writePalettePng(path("palette.png"), 3, 2, colours, {0, 1, 2, 2, 1, 0});
  ASSERT_EQ(run("turn palette.png rgb.png --code 0").status, 0);
  const Raster rgb = read("rgb.png");
  ASSERT_EQ(rgb.channels, 3);
  for (int i = 0; i < 6; ++i) {
    const png_color& c = colours[std::vector<int>{0, 1, 2, 2, 1, 0}[i]];
    EXPECT_EQ(rgb.at(i % 3, i / 3, 0), c.red);
    EXPECT_EQ(rgb.at(i % 3, i / 3, 1), c.green);
    EXPECT_EQ(rgb.at(i % 3, i / 3, 2), c.blue);
  }

  Raster white = tooltest::randomRaster(4, 3, 1, 16, 4);
  tooltest::writeTiff(path("white.tif"), white, false, false, true);
  ASSERT_EQ(run("turn white.tif black.tif --code 0").status, 0);
  for (auto& s : white.samples) s = uint16_t(65535 - s);
  EXPECT_EQ(read("black.tif"), white);
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
  const Raster gray = tooltest::randomRaster(6, 4, 1, 8, 5);
  const Raster rgb = tooltest::randomRaster(3, 5, 3, 8, 6);
  write("gray.png", gray);
  write("rgb.tif", rgb);

  Outcome sums = run("sums gray.png");
  EXPECT_EQ(sums.status, 0) << sums.err;
  EXPECT_EQ(sums.out, expectedSums(gray, false, "index,sum"));
  EXPECT_EQ(run("sums gray.png --columns").out, sums.out);
  EXPECT_EQ(run("sums gray.png --rows").out, expectedSums(gray, true, "index,sum"));
  EXPECT_EQ(run("sums rgb.tif --rows").out, expectedSums(rgb, true, "index,red,green,blue"));

  sums = run("sums gray.png --rows --csv=sums.csv");
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
      const double q = cover[c] * (1.0 / 255);
      const bool valid = c >= first && c <= last;
      text += "," + std::to_string(cover[c]) + "," +
              (valid ? std::to_string(cover[c] ? static_cast<uint32_t>(sums[c] / q + 0.5) : 0u) : std::string()) +
              (valid ? ",1" : ",0");
    }
    text += "\n";
  }
  return text;
}

std::string rectArgument(double ox, double oy) {
  std::ostringstream text;
  text << "--rect " << ox << "," << oy << "," << ox + 12 << "," << oy + 3 << "," << ox - 2 << "," << oy + 8;
  return text.str();
}

class ToolProject : public ToolTest, public testing::WithParamInterface<FileKind> {};

TEST_P(ToolProject, ProfileOfNearestSamples) {
  const FileKind& kind = GetParam();
  const std::string in = std::string("in") + kind.extension;
  const Raster source = tooltest::randomRaster(20, 16, 1, kind.depth, 11);
  write(in, source, &kind);

  const Outcome inside = run("project " + in + " " + rectArgument(2.3, 3.1) + " --size 6,4 --mode nearest");
  EXPECT_EQ(inside.status, 0) << inside.err;
  EXPECT_EQ(inside.out, expectedProfile(source, 2.3, 3.1, false));

  // Past the left edge: refused without --clip, counted with it.
  const std::string outside = "project " + in + " " + rectArgument(-6.7, 3.1) + " --size 6,4 --mode nearest";
  expectOneLineFailure(run(outside), 1, "reaches outside " + in);
  const Outcome clipped = run(outside + " --clip --norm --csv profile.csv");
  EXPECT_EQ(clipped.status, 0) << clipped.err;
  EXPECT_EQ(clipped.out, "");
  EXPECT_EQ(slurp(path("profile.csv")), expectedProfile(source, -6.7, 3.1, true));
}

INSTANTIATE_TEST_SUITE_P(Kinds, ToolProject, testing::Values(kKinds[0], kKinds[1], kKinds[5]),
                         [](const auto& info) { return std::string(info.param.name); });

// Means without clipping divide by the samples of an entry; colour gets a column a channel; the
// plot is a PNG of the default size.
TEST_F(ToolTest, ProjectMeansColoursAndPlot) {
  const Raster rgb = tooltest::randomRaster(24, 20, 3, 8, 12);
  write("rgb.png", rgb);
  const Outcome run1 = run("project rgb.png --rect 3,2,21,5,1,17 --size 5,2 --norm --plot plot.png");
  ASSERT_EQ(run1.status, 0) << run1.err;
  std::istringstream lines(run1.out);
  std::string header, line;
  std::getline(lines, header);
  EXPECT_EQ(header, "index,sum_red,sum_green,sum_blue,mean_red,mean_green,mean_blue,valid");
  int count = 0;
  while (std::getline(lines, line)) {
    std::vector<std::string> cells;
    std::stringstream cellStream(line);
    for (std::string cell; std::getline(cellStream, cell, ',');) cells.push_back(cell);
    ASSERT_EQ(cells.size(), 8u) << line;
    for (int c = 0; c < 3; ++c) EXPECT_DOUBLE_EQ(std::stod(cells[4 + c]), std::stod(cells[1 + c]) / 2) << line;
    EXPECT_EQ(cells[7], "1");
    ++count;
  }
  EXPECT_EQ(count, 5);
  const Raster plot = read("plot.png");
  EXPECT_EQ(plot.width, 1200);
  EXPECT_EQ(plot.height, 480);
  EXPECT_EQ(files(), (std::set<std::string>{"rgb.png", "plot.png"}));
}

TEST_F(ToolTest, InfoGoesOnPastABadFile) {
  write("a.png", tooltest::randomRaster(2, 2, 1, 8, 1));
  const Outcome info = run("info a.png missing.png a.png");
  EXPECT_EQ(info.status, 1);
  EXPECT_EQ(info.out, "a.png: PNG, 2 x 2, 8-bit gray (1 channel)\na.png: PNG, 2 x 2, 8-bit gray (1 channel)\n");
  EXPECT_EQ(info.err, "kip: cannot read missing.png (No such file or directory). Check the file name and path\n");
}

TEST_F(ToolTest, HelpListsEveryCommand) {
  const Outcome help = run("--help");
  EXPECT_EQ(help.status, 0);
  for (const char* name : {"info IN", "sums IN", "turn IN OUT --code CODE", "warp IN OUT --rect OX,OY,XX,XY,YX,YY --size W,H",
                           "rotate IN OUT --angle DEG", "demo [DIR]", "project IN --rect OX,OY,XX,XY,YX,YY --size N,M"}) {
    EXPECT_NE(help.out.find(name), std::string::npos) << name;
  }
  const Outcome turn = run("turn --help");
  EXPECT_EQ(turn.status, 0);
  EXPECT_TRUE(turn.out.starts_with("usage: kip turn IN OUT --code CODE\n")) << turn.out;
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

TEST_P(ToolFailures, OneLineAndExitStatus) {
  write("in.png", tooltest::randomRaster(4, 3, 1, 8, 1));
  write("in16.tif", tooltest::randomRaster(4, 3, 1, 16, 1));
  std::ofstream(path("notes.txt")) << "not an image\n";
  std::ofstream(path("empty.png"));
  expectOneLineFailure(run(GetParam().arguments), GetParam().status, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ToolFailures,
    testing::Values(FailureCase{"", 2, "no command given"},
                    FailureCase{"frobnicate in.png", 2, "'frobnicate' is not a kip command"},
                    FailureCase{"info", 2, "too few file names"},
                    FailureCase{"info missing.png", 1, "cannot read missing.png"},
                    FailureCase{"info notes.txt", 1, "neither a PNG nor a TIFF"},
                    FailureCase{"info empty.png", 1, "neither a PNG nor a TIFF"},
                    FailureCase{"info .", 1, "is a folder"},
                    FailureCase{"turn in.png out.png", 2, "needs --code"},
                    FailureCase{"turn in.png out.png --code 45", 2, "--code '45' is not a turn code"},
                    FailureCase{"turn in.png out.png --code 9x", 2, "--code '9x' is not a turn code"},
                    FailureCase{"turn in.png out.png --code", 2, "--code needs a value"},
                    FailureCase{"turn in.png out.png --code=90 --code 0", 2, "--code is given twice"},
                    FailureCase{"turn in.png a.png b.png --code 90", 2, "too many file names"},
                    FailureCase{"turn in.png out.jpg --code 90", 2, ".png, .tif or .tiff"},
                    FailureCase{"turn in.png nowhere/out.png --code 90", 1, "cannot write nowhere/out.png"},
                    FailureCase{"sums in.png --rows --columns", 2, "exclude each other"},
                    FailureCase{"sums in.png --rows=yes", 2, "--rows takes no value"},
                    FailureCase{"sums in.png --bogus", 2, "kip sums has no option --bogus"},
                    FailureCase{"sums in16.tif", 1, "16-bit samples"},
                    FailureCase{"warp in.png out.png --rect 0,0,4,0,0,3", 2, "needs --size W,H"},
                    FailureCase{"warp in.png out.png --rect 0,0,4,0,0,x --size 4,3", 2, "'x' is not a finite number"},
                    FailureCase{"warp in.png out.png --rect 0,0,4,0,8,0 --size 4,3", 2, "has no area"},
                    FailureCase{"warp in.png out.png --rect 0,0,4,0,0,3 --size 0,3", 2, "--size width '0'"},
                    FailureCase{"warp in.png out.png --rect 0,0,4,0,0,3 --size 4,3 --mode cubic", 2, "not a sample mode"},
                    FailureCase{"warp in.png out.png --rect 0,0,4,0,0,3 --size 4,3 --mask m.png", 2, "--mask needs --clip"},
                    FailureCase{"warp in.png out.png --rect -1,0,3,0,-1,3 --size 4,3", 1,
                                "the sampling reaches outside in.png (4 x 3 pels). Give --clip"},
                    FailureCase{"warp in16.tif out.png --rect 50,50,54,50,50,53 --size 4,3 --clip", 1,
                                "touches no pel of in16.tif"},
                    FailureCase{"rotate in.png out.png", 2, "needs --angle DEG"},
                    FailureCase{"rotate in.png out.png --angle=-30 --scale 0", 2, "--scale '0' is not above 0"},
                    FailureCase{"rotate in.png out.png --angle 30 --scale 1e7 --clip", 2, "more than 1000000 pels"},
                    FailureCase{"rotate in.png out.png --angle 30 --scale 1e-6", 2, "less than one pel"},
                    FailureCase{"rotate in.png out.png --angle 45 --mode cubic2", 1, "too small to turn"},
                    FailureCase{"demo a b", 2, "too many file names"},
                    FailureCase{"demo in.png", 1, "cannot make the folder in.png"},
                    FailureCase{"project in.png --rect 0,0,4,0,0,3", 2, "needs --size"},
                    FailureCase{"project in.png --rect 0,0,4,0,0,3 --size 4,3 --plot p.jpg", 2, "not a .png name"},
                    FailureCase{"project in.png --rect 30,0,33,0,30,3 --size 4,3 --clip", 1, "lies wholly outside"},
                    FailureCase{"project in16.tif --rect 0,0,4,0,0,3 --size 4,3 --mode cubic2", 1,
                                "nearest or bilinear"}));

// ----------------------------------------------------------------------------------------------
// warp, rotate and demo

// A whole-pel rectangle is an exact copy of those pels, in every kind of file; reaching past the
// left edge with --clip gives 0 there and a mask of 0 there and 255 elsewhere.
class ToolWarp : public ToolTest, public testing::WithParamInterface<FileKind> {};

TEST_P(ToolWarp, WholePelRectanglesCopyAndClip) {
  const FileKind& kind = GetParam();
  const std::string in = std::string("in") + kind.extension, out = std::string("out") + kind.extension;
  const Raster source = tooltest::randomRaster(20, 18, kind.channels, kind.depth, 4);
  write(in, source, &kind);

  Outcome warp = run("warp " + in + " " + out + " --rect 3,2,13,2,3,9 --size 10,7 --mode cubic2");
  ASSERT_EQ(warp.status, 0) << warp.err;
  EXPECT_EQ(warp.out + warp.err, "");
  Raster result = read(out);
  ASSERT_EQ(result.width, 10);
  ASSERT_EQ(result.height, 7);
  ASSERT_EQ(result.channels, source.channels);
  ASSERT_EQ(result.depth, source.depth);
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 10; ++x) {
      for (int c = 0; c < source.channels; ++c) ASSERT_EQ(result.at(x, y, c), source.at(x + 3, y + 2, c));
    }
  }

  warp = run("warp " + in + " " + out + " --rect -5,0,7,0,-5,10 --size 12,10 --mode nearest --clip --mask mask.png");
  ASSERT_EQ(warp.status, 0) << warp.err;
  result = read(out);
  const Raster mask = read("mask.png");
  ASSERT_EQ(result.width, 12);
  ASSERT_EQ(mask.width, 12);
  ASSERT_EQ(mask.height, 10);
  ASSERT_EQ(mask.channels, 1);
  ASSERT_EQ(mask.depth, 8);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 12; ++x) {
      EXPECT_EQ(mask.at(x, y, 0), x < 5 ? 0 : 255);
      for (int c = 0; c < source.channels; ++c) {
        ASSERT_EQ(result.at(x, y, c), x < 5 ? 0 : source.at(x - 5, y, c)) << x << "," << y;
      }
    }
  }
  EXPECT_EQ(files(), (std::set<std::string>{in, out, "mask.png"}));
}

INSTANTIATE_TEST_SUITE_P(Kinds, ToolWarp, testing::Values(kKinds[0], kKinds[1], kKinds[3], kKinds[6]),
                         [](const auto& info) { return std::string(info.param.name); });

// Colour is resampled channel by channel: each channel of a turned RGB file is the turned gray file
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
  Raster flat{40, 30, 1, 8, std::vector<uint16_t>(40 * 30, 200)};
  write("flat.png", flat);
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

TEST_F(ToolTest, DemoWritesEveryPictureAndAPage) {
  const Outcome demo = run("demo results");
  ASSERT_EQ(demo.status, 0) << demo.err;
  EXPECT_EQ(demo.err, "");
  EXPECT_NE(demo.out.find("index.html in results/"), std::string::npos) << demo.out;
  EXPECT_NE(demo.out.find("Open results/index.html"), std::string::npos) << demo.out;

  const std::string page = slurp(path("results/index.html"));
  std::set<std::string> shown;
  for (const std::string attribute : {"src=\"", "href=\""}) {
    for (size_t at = page.find(attribute); at != std::string::npos; at = page.find(attribute, at + 1)) {
      const size_t start = at + attribute.size();
      shown.insert(page.substr(start, page.find('"', start) - start));
    }
  }
  std::set<std::string> written;
  for (const auto& entry : fs::directory_iterator(path("results"))) written.insert(entry.path().filename().string());
  written.erase("index.html");
  EXPECT_EQ(shown, written);  // every picture shown, and nothing else (no temporary file) left
  EXPECT_GE(written.size(), 14u);
  for (const char* name : {"rotate-nearest.png", "rotate-cubic2.png", "zoom-linear2.png", "turn-90.png", "mirror.png",
                           "clipped.png", "clipped-mask.png", "rotate16-bilinear.png", "profile-lines.png",
                           "profile-lines.csv"}) {
    EXPECT_EQ(written.count(name), 1u) << name;
  }
  EXPECT_EQ(read("results/chart16.png").depth, 16);
  const Raster chart = read("results/chart8.png"), turned = read("results/turn-90.png");
  EXPECT_EQ(std::pair(turned.width, turned.height), std::pair(chart.height, chart.width));
  const Raster mask = read("results/clipped-mask.png");
  EXPECT_EQ(mask.depth, 8);
  EXPECT_EQ(*std::max_element(mask.samples.begin(), mask.samples.end()), 255);
  EXPECT_EQ(*std::min_element(mask.samples.begin(), mask.samples.end()), 0);
}

}  // namespace
