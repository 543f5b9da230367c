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
#include <string>
#include <tuple>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using tooltest::Raster;

struct Outcome { int status; std::string out, err; };

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One kind of input file. The upper-case extension checks that formats are told apart whatever the case.
struct FileKind { const char *name, *extension; int channels, depth; };

const FileKind kKinds[] = {{"png8", ".png", 1, 8}, {"png16", ".png", 1, 16}, {"pngGrayAlpha16", ".png", 2, 16},
                           {"pngRgb8", ".png", 3, 8}, {"tiff8", ".tif", 1, 8}, {"tiff16", ".TIFF", 1, 16},
                           {"tiffRgba16", ".tif", 4, 16}, {"tiffGrayAlpha8", ".tif", 2, 8}};

bool isPng(const std::string& name) { return name.ends_with(".png"); }

class ToolTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::path(testing::TempDir()) / "kip_tool_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    fs::create_directory((root_ = pattern) / "work");
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

  void write(const std::string& name, const Raster& r) const { isPng(name) ? tooltest::writePng(path(name), r) : tooltest::writeTiff(path(name), r); }
  Raster read(const std::string& name) const { return isPng(name) ? tooltest::readPng(path(name)) : tooltest::readTiff(path(name)); }
  std::set<std::string> files(const std::string& folder = "") const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(path(folder))) names.insert(entry.path().filename().string());
    return names;
  }

  fs::path root_;
};

// A failure is exactly one line on stderr, "kip: <problem>. <fix>", and nothing on stdout.
void expectOneLineFailure(const Outcome& run, int status, const std::string& message) {
  EXPECT_TRUE(run.status == status && run.out.empty() && run.err.starts_with("kip: ") && std::count(run.err.begin(), run.err.end(), '\n') == 1 &&
              run.err.find(". ") != std::string::npos && run.err.find(message) != std::string::npos) << run.status << " " << run.out << run.err;
}

class ToolTurn : public ToolTest, public testing::WithParamInterface<std::tuple<FileKind, uint32_t>> {};

// Every kind of file through every turn: the tool reads each layout, turns each channel and writes
// the same kind of file back (20 x 18 pels: partial tiles, several strips, not square).
TEST_P(ToolTurn, MatchesThePicture) {
  const auto [kind, code] = GetParam();
  const std::string in = std::string("in") + kind.extension, out = std::string("out") + kind.extension;
  const Raster source = tooltest::randomRaster(20, 18, kind.channels, kind.depth, code + 7);
  write(in, source);
  const Outcome turned = run("turn " + in + " " + out + " --code " + std::to_string(code));
  ASSERT_EQ(std::tuple(turned.status, turned.out + turned.err), std::tuple(0, "")) << turned.err;
  const Raster result = read(out);
  const bool swap = code == 1 || code == 90 || code == 181 || code == 270;
  ASSERT_EQ(std::tuple(result.width, result.height, result.channels, result.depth), std::tuple(swap ? 18 : 20, swap ? 20 : 18, source.channels, source.depth));
  for (size_t i = 0; i < result.bytes.size() * 8 / result.depth; ++i) {
    const int c = i % source.channels, j = i / source.channels % result.width, k = i / source.channels / result.width;
    const auto [row, column] = kiptest::turnSourceOf(code, k, j, source.width, source.height);
    ASSERT_EQ(result.sample(i), source.at(column, row, c)) << j << " " << k;
  }
  EXPECT_EQ(files(), (std::set<std::string>{in, out}));  // no temporary file left behind
}

INSTANTIATE_TEST_SUITE_P(Kinds, ToolTurn, testing::Combine(testing::ValuesIn(kKinds), testing::Values(0u, 1u, 90u, 91u, 180u, 181u, 270u, 271u)),
                         [](const auto& info) { return std::get<0>(info.param).name + std::to_string(std::get<1>(info.param)); });

// What 'kip info' says of a file, and the column sums of each channel.
TEST_F(ToolTest, InfoAndSums) {
  const Raster rgb = tooltest::randomRaster(3, 5, 3, 8, 6);
  write("rgb.tif", rgb);
  EXPECT_EQ(run("info rgb.tif").out, "rgb.tif: TIFF, 3 x 5, 8-bit RGB (3 channels)\n");
  std::string expected = "index,red,green,blue\n";
  for (int i = 0; i < 3 * 4; ++i) {  // column x = i / 4, then its channels c = i % 4 - 1
    const int x = i / 4, c = i % 4 - 1;
    expected += c < 0 ? std::to_string(x) : "," + std::to_string(rgb.at(x, 0, c) + rgb.at(x, 1, c) + rgb.at(x, 2, c) + rgb.at(x, 3, c) + rgb.at(x, 4, c)) + (c == 2 ? "\n" : "");
  }
  EXPECT_EQ(run("sums rgb.tif").out, expected);
}

// The clipped profile of 'kip project' with nearest samples, worked out here sample by sample:
// rectangle origin O, x side (12, 3) and y side (-2, 8), with none of the positions near a pel edge.
// Samples outside count 0, the coverage is 255 per inside sample and the mean divides by it.
std::string expectedProfile(const Raster& r, double ox, double oy) {
  std::string text = "index,sum,coverage,mean,valid\n";
  for (int c = 0; c < 6; ++c) {
    uint32_t sum = 0, cover = 0;
    for (int k = 0; k < 4; ++k) {
      const double x = ox + 12 * (c + 0.5) / 6 - 2 * (k + 0.5) / 4, y = oy + 3 * (c + 0.5) / 6 + 8 * (k + 0.5) / 4;
      if (x >= 0 && y >= 0 && x < r.width && y < r.height) sum += r.at(int(x), int(y), 0), cover += 255;
    }
    // The rectangle crosses one edge only, so the entries that touch no pel are the leading ones.
    const std::string mean = cover ? std::to_string(uint32_t(sum / (cover / 255.0) + 0.5)) + ",1" : ",0";
    text += std::to_string(c) + "," + std::to_string(sum) + "," + std::to_string(cover) + "," + mean + "\n";
  }
  return text;
}

// A 16-bit TIFF past the left edge, counted with --clip.
TEST_F(ToolTest, ProjectProfileOfNearestSamples) {
  const Raster source = tooltest::randomRaster(20, 16, 1, 16, 11);
  write("in.TIFF", source);
  EXPECT_EQ(run("project in.TIFF --rect -6.7,3.1,5.3,6.1,-8.7,11.1 --size 6,4 --mode nearest --clip --norm").out,
            expectedProfile(source, -6.7, 3.1));
}

// A failed run leaves what was at the output path as it was, and no temporary file.
TEST_F(ToolTest, NothingHalfWritten) {
  const Raster before = tooltest::randomRaster(3, 3, 1, 8, 9);
  write("in.png", tooltest::randomRaster(4, 2, 1, 8, 2)), write("out.png", before);
  std::ofstream(path("broken.png"), std::ios::binary) << slurp(path("in.png")).substr(0, 60);
  const std::set<std::string> names = files();
  expectOneLineFailure(run("turn broken.png out.png --code 90"), 1, "cannot read broken.png");
  EXPECT_EQ(read("out.png"), before);
  EXPECT_EQ(files(), names);
}

// Each failure is one line with its exit status: 2 for a usage fault, 1 for a run that failed.
TEST_F(ToolTest, FailuresAreOneLineWithTheirExitStatus) {
  write("in.png", tooltest::randomRaster(4, 3, 1, 8, 1)), write("in16.tif", tooltest::randomRaster(4, 3, 1, 16, 1));
  const std::tuple<const char*, int, const char*> cases[] = {
      {"", 2, "no command given"}, {"frobnicate in.png", 2, "'frobnicate' is not a kip command"},
      {"turn in.png out.jpg --code 90", 2, ".png, .tif or .tiff"}, {"sums in16.tif", 1, "16-bit samples"},
      {"warp in.png out.png --rect -1,0,3,0,-1,3 --size 4,3", 1, "reaches outside in.png (4 x 3 pels)"},
      {"rotate in.png in16.tif --out-dir . --angle 30", 2, "would replace the input in.png"},
      {"rotate in.png out.png --angle 45 --mode cubic2", 1, "too small to turn"},
      {"project in16.tif --rect 0,0,4,0,0,3 --size 4,3 --mode cubic2", 1, "nearest or bilinear"}};
  for (const auto& [arguments, status, message] : cases) expectOneLineFailure(run(arguments), status, message);
}

// A whole-pel rectangle reaching past the left edge with --clip is 0 and masked 0 there, and an exact
// copy of the pels masked 255 elsewhere.
TEST_F(ToolTest, ClippedRectangleCopiesAndMasks) {
  const Raster source = tooltest::randomRaster(20, 18, 4, 16, 4);
  write("in.tif", source);
  ASSERT_EQ(run("warp in.tif out.tif --rect -5,0,7,0,-5,10 --size 12,10 --mode nearest --clip --mask m.png").status, 0);
  const Raster result = read("out.tif"), mask = read("m.png");
  ASSERT_EQ(std::tuple(result.width, result.channels, result.depth, mask.width, mask.height, mask.channels, mask.depth), std::tuple(12, 4, 16, 12, 10, 1, 8));
  for (int i = 0, x = 0, y = 0; i < 12 * 10 * 4; ++i, x = i / 4 % 12, y = i / 4 / 12)  // the sample and its mask as one number
    ASSERT_EQ(result.sample(i) + 65536 * mask.at(x, y, 0), x < 5 ? 0 : source.at(x - 5, y, i % 4) + 65536 * 255) << x;
  EXPECT_EQ(files(), (std::set<std::string>{"in.tif", "out.tif", "m.png"}));
}

// A batch: every output is what the file alone gives, written under its input's name in the
// folder (made if missing); a file that fails gets its own line, the others still run, and the exit
// status says that one failed.
TEST_F(ToolTest, BatchesGoOnPastABadFile) {
  write("a.png", tooltest::randomRaster(30, 22, 1, 8, 3)), write("c.png", tooltest::randomRaster(40, 26, 3, 8, 5));
  std::ofstream(path("bad.png")) << "not an image\n";
  const Outcome outcome = run("rotate a.png bad.png missing.png c.png --out-dir out/r --angle 33 --clip");
  EXPECT_EQ(std::tuple(outcome.status, outcome.out, outcome.err), std::tuple(1, "", "kip: cannot read bad.png: it is neither a PNG nor a TIFF file. Convert it to PNG or TIFF\n"
                         "kip: cannot read missing.png (No such file or directory). Check the file name and path\n"));
  for (const std::string name : {"a.png", "c.png"})
    EXPECT_TRUE(run("rotate " + name + " alone.png --angle 33 --clip").status == 0 && read("out/r/" + name) == read("alone.png")) << name;
}

// Every picture written is shown on the page, and nothing else (no temporary file) is left.
TEST_F(ToolTest, DemoWritesEveryPictureAndAPage) {
  ASSERT_EQ(run("demo results").status, 0);
  const std::string page = slurp(path("results/index.html"));
  for (const std::string& name : files("results")) EXPECT_TRUE(name == "index.html" || page.find('"' + name + '"') != std::string::npos) << name;
  EXPECT_GT(files("results").size(), 10u);
}

}  // namespace
