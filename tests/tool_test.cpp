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

// One kind of input file. `layout` is what 'kip info' calls its channels. The upper-case extension
// checks that formats are told apart whatever the case.
struct FileKind {
  const char *name, *extension;
  int channels, depth;
  const char* layout;
};

const FileKind kKinds[] = {{"png8", ".png", 1, 8, "gray"},           {"png16", ".png", 1, 16, "gray"},
                           {"pngGrayAlpha16", ".png", 2, 16, "gray+alpha"}, {"pngRgb8", ".png", 3, 8, "RGB"},
                           {"tiff8", ".tif", 1, 8, "gray"},          {"tiff16", ".TIFF", 1, 16, "gray"},
                           {"tiffRgba16", ".tif", 4, 16, "RGBA"},     {"tiffGrayAlpha8", ".tif", 2, 8, "gray+alpha"}};

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

  void write(const std::string& name, const Raster& raster) const {
    isPng(name) ? tooltest::writePng(path(name), raster) : tooltest::writeTiff(path(name), raster);
  }
  Raster read(const std::string& name) const {
    return isPng(name) ? tooltest::readPng(path(name)) : tooltest::readTiff(path(name));
  }
  std::set<std::string> files(const std::string& folder = "") const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(path(folder))) names.insert(entry.path().filename().string());
    return names;
  }

  fs::path root_;
};

// A failure is exactly one line on stderr, "kip: <problem>. <fix>", and nothing on stdout.
void expectOneLineFailure(const Outcome& run, int status, const std::string& message) {
  EXPECT_TRUE(run.status == status && run.out.empty()) << run.status << " " << run.out;
  EXPECT_TRUE(run.err.starts_with("kip: ") && std::count(run.err.begin(), run.err.end(), '\n') == 1 &&
              run.err.find(". ") != std::string::npos && run.err.find(message) != std::string::npos)
      << run.err;
}

class ToolTurn : public ToolTest, public testing::WithParamInterface<std::tuple<FileKind, uint32_t>> {};

// Every kind of file through every turn: the tool reads each layout, turns each channel and writes
// the same kind of file back (20 x 18 pels: partial tiles, several strips, not square).
TEST_P(ToolTurn, MatchesThePicture) {
  const auto [kind, code] = GetParam();
  const std::string in = std::string("in") + kind.extension, out = std::string("out") + kind.extension;
  const Raster source = tooltest::randomRaster(20, 18, kind.channels, kind.depth, code + 7);
  write(in, source);
  if (code == 0) {
    const std::string channels = std::to_string(kind.channels) + (kind.channels == 1 ? " channel)\n" : " channels)\n");
    EXPECT_EQ(run("info " + in).out, in + (isPng(in) ? ": PNG" : ": TIFF") + ", 20 x 18, " +
                                         std::to_string(kind.depth) + "-bit " + kind.layout + " (" + channels);
  }
  const Outcome turned = run("turn " + in + " " + out + " --code " + std::to_string(code));
  ASSERT_EQ(std::tuple(turned.status, turned.out + turned.err), std::tuple(0, "")) << turned.err;
  const Raster result = read(out);
  const bool swap = code == 1 || code == 90 || code == 181 || code == 270;
  ASSERT_EQ(std::tuple(result.width, result.height, result.channels, result.depth),
            std::tuple(swap ? 18 : 20, swap ? 20 : 18, source.channels, source.depth));
  for (size_t i = 0; i < result.samples.size(); ++i) {
    const int c = i % source.channels, j = i / source.channels % result.width, k = i / source.channels / result.width;
    const auto [row, column] = kiptest::turnSourceOf(code, k, j, source.width, source.height);
    ASSERT_EQ(result.samples[i], source.at(column, row, c)) << j << " " << k;
  }
  EXPECT_EQ(files(), (std::set<std::string>{in, out}));  // no temporary file left behind
}

INSTANTIATE_TEST_SUITE_P(Kinds, ToolTurn,
                         testing::Combine(testing::ValuesIn(kKinds), testing::Values(0u, 1u, 90u, 91u, 180u, 181u, 270u, 271u)),
                         [](const auto& info) { return std::get<0>(info.param).name + std::to_string(std::get<1>(info.param)); });

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
  const Raster rgb = tooltest::randomRaster(3, 5, 3, 8, 6);
  write("rgb.tif", rgb);
  EXPECT_EQ(run("sums rgb.tif").out, expectedSums(rgb, false, "index,red,green,blue"));
  EXPECT_EQ(run("sums rgb.tif --rows").out, expectedSums(rgb, true, "index,red,green,blue"));
}

// The profile of 'kip project' with nearest samples, worked out here sample by sample: rectangle
// origin O, x side X and y side Y (none of the positions lands near a pel edge). With clipping,
// samples outside count 0, the coverage is 255 per inside sample and the mean divides by it.
std::string expectedProfile(const Raster& r, double ox, double oy, bool clip) {
  std::string text = clip ? "index,sum,coverage,mean,valid\n" : "index,sum\n";
  for (int c = 0; c < 6; ++c) {
    uint32_t sum = 0, cover = 0;
    for (int k = 0; k < 4; ++k) {
      const double x = ox + 12 * (c + 0.5) / 6 - 2 * (k + 0.5) / 4, y = oy + 3 * (c + 0.5) / 6 + 8 * (k + 0.5) / 4;
      if (x >= 0 && y >= 0 && x < r.width && y < r.height) sum += r.at(int(x), int(y), 0), cover += 255;
    }
    // The rectangle crosses one edge only, so the entries that touch no pel are the leading ones.
    const std::string mean = cover ? std::to_string(uint32_t(sum / (cover / 255.0) + 0.5)) + ",1" : ",0";
    text += std::to_string(c) + "," + std::to_string(sum) + (clip ? "," + std::to_string(cover) + "," + mean : "") + "\n";
  }
  return text;
}

// 8-bit PNG and 16-bit TIFF: past the left edge, refused without --clip and counted with it.
TEST_F(ToolTest, ProjectProfileOfNearestSamples) {
  for (const auto& [in, depth] : {std::pair<std::string, int>{"in.png", 8}, {"in.TIFF", 16}}) {
    const Raster source = tooltest::randomRaster(20, 16, 1, depth, 11);
    write(in, source);
    const std::string options = " --size 6,4 --mode nearest", clipped = " --rect -6.7,3.1,5.3,6.1,-8.7,11.1";
    EXPECT_EQ(run("project " + in + " --rect 2.3,3.1,14.3,6.1,0.3,11.1" + options).out,
              expectedProfile(source, 2.3, 3.1, false));
    expectOneLineFailure(run("project " + in + clipped + options), 1, "reaches outside " + in);
    EXPECT_EQ(run("project " + in + clipped + options + " --clip --norm").out, expectedProfile(source, -6.7, 3.1, true));
  }
}

// A failed run leaves what was at the output path as it was, and no temporary file.
TEST_F(ToolTest, NothingHalfWritten) {
  const Raster before = tooltest::randomRaster(3, 3, 1, 8, 9);
  write("in.png", tooltest::randomRaster(4, 2, 1, 8, 2)), write("out.png", before);
  std::ofstream(path("broken.png"), std::ios::binary) << slurp(path("in.png")).substr(0, 60);
  fs::create_directory(path("folder.png"));
  const std::set<std::string> names = files();
  expectOneLineFailure(run("turn broken.png out.png --code 90"), 1, "cannot read broken.png");
  expectOneLineFailure(run("turn in.png folder.png --code 90"), 1, "cannot write folder.png");
  EXPECT_EQ(read("out.png"), before);
  EXPECT_EQ(files(), names);
}

struct FailureCase { const char* arguments; int status; const char* message; };

class ToolFailures : public ToolTest, public testing::WithParamInterface<FailureCase> {};

TEST_P(ToolFailures, OneLineAndExitStatus) {
  write("in.png", tooltest::randomRaster(4, 3, 1, 8, 1)), write("in16.tif", tooltest::randomRaster(4, 3, 1, 16, 1));
  expectOneLineFailure(run(GetParam().arguments), GetParam().status, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolFailures, testing::Values(
    FailureCase{"", 2, "no command given"},
    FailureCase{"frobnicate in.png", 2, "'frobnicate' is not a kip command"},
    FailureCase{"turn in.png out.jpg --code 90", 2, ".png, .tif or .tiff"},
    FailureCase{"sums in.png --rows --columns", 2, "exclude each other"},
    FailureCase{"sums in16.tif", 1, "16-bit samples"},
    FailureCase{"warp in.png out.png --rect 0,0,4,0,0,3 --size 4,3 --mask m.png", 2, "--mask needs --clip"},
    FailureCase{"warp in.png out.png --rect -1,0,3,0,-1,3 --size 4,3", 1, "reaches outside in.png (4 x 3 pels)"},
    FailureCase{"warp in16.tif out.png --rect 50,50,54,50,50,53 --size 4,3 --clip", 1, "touches no pel of in16.tif"},
    FailureCase{"warp in.png sub/in.png --out-dir o --rect 0,0,4,0,0,3 --size 4,3", 2,
                "in.png and sub/in.png would both be written to o/in.png"},
    FailureCase{"rotate in.png in16.tif --out-dir . --angle 30", 2, "would replace the input in.png"},
    FailureCase{"rotate in.png out.png --angle 30 --scale 1e7 --clip", 2, "more than 1000000 pels"},
    FailureCase{"rotate in.png out.png --angle 45 --mode cubic2", 1, "too small to turn"},
    FailureCase{"demo in.png", 1, "cannot make the folder in.png"},
    FailureCase{"project in.png --rect 30,0,33,0,30,3 --size 4,3 --clip", 1, "lies wholly outside"},
    FailureCase{"project in16.tif --rect 0,0,4,0,0,3 --size 4,3 --mode cubic2", 1, "nearest or bilinear"}));

// A whole-pel rectangle is an exact copy of those pels, in every kind of file; reaching past the
// left edge with --clip gives 0 there and a mask of 0 there and 255 elsewhere.
class ToolWarp : public ToolTest, public testing::WithParamInterface<FileKind> {};

TEST_P(ToolWarp, WholePelRectanglesCopyAndClip) {
  const FileKind& kind = GetParam();
  const std::string in = std::string("in") + kind.extension, out = std::string("out") + kind.extension;
  const Raster source = tooltest::randomRaster(20, 18, kind.channels, kind.depth, 4);
  write(in, source);

  const Outcome warp = run("warp " + in + " " + out + " --rect 3,2,13,2,3,9 --size 10,7 --mode cubic2");
  ASSERT_EQ(std::tuple(warp.status, warp.out + warp.err), std::tuple(0, "")) << warp.err;
  Raster result = read(out);
  ASSERT_EQ(std::tuple(result.width, result.height, result.channels, result.depth),
            std::tuple(10, 7, source.channels, source.depth));
  for (int i = 0; i < 7 * 10 * source.channels; ++i) {
    ASSERT_EQ(result.samples[i], source.at(i / source.channels % 10 + 3, i / source.channels / 10 + 2, i % source.channels));
  }

  ASSERT_EQ(run("warp " + in + " " + out + " --rect -5,0,7,0,-5,10 --size 12,10 --mode nearest --clip --mask m.png").status, 0);
  result = read(out);
  const Raster mask = read("m.png");
  ASSERT_EQ(std::tuple(result.width, mask.width, mask.height, mask.channels, mask.depth), std::tuple(12, 12, 10, 1, 8));
  for (int i = 0; i < 12 * 10 * source.channels; ++i) {
    const int x = i / source.channels % 12, y = i / source.channels / 12, c = i % source.channels;
    ASSERT_EQ(result.samples[i] + 65536 * mask.at(x, y, 0), x < 5 ? 0 : source.at(x - 5, y, c) + 65536 * 255) << x;
  }
  EXPECT_EQ(files(), (std::set<std::string>{in, out, "m.png"}));
}

INSTANTIATE_TEST_SUITE_P(Kinds, ToolWarp, testing::Values(kKinds[1], kKinds[3], kKinds[6]));

// Quarter and half turns are exact copies, the same as 'kip turn', even with the widest kernel.
TEST_F(ToolTest, RotateByQuarterTurnsIsTurn) {
  write("in.png", tooltest::randomRaster(20, 13, 2, 8, 5));
  for (auto [angle, code] : {std::pair{"90", "90"}, {"-90", "270"}, {"180", "180"}, {"450", "90"}}) {
    ASSERT_EQ(run(std::string("turn in.png turned.png --code ") + code).status +
                  run(std::string("rotate in.png rotated.png --mode cubic2 --angle ") + angle).status, 0);
    EXPECT_EQ(read("rotated.png"), read("turned.png")) << angle;
  }
}

// The output's size: the whole turned image with --clip, the largest part inside without, where a
// flat image stays flat and no pel from outside blends in.
TEST_F(ToolTest, RotateSizesAndEdges) {
  write("flat.png", Raster{40, 30, 1, 8, std::vector<uint16_t>(40 * 30, 200)});
  ASSERT_EQ(run("rotate flat.png whole.png --angle 30 --clip").status + run("rotate flat.png inside.png --angle 30").status, 0);
  const Raster whole = read("whole.png"), inside = read("inside.png");
  // 40 x 30 turned by 30 degrees spans 40 cos + 30 sin = 49.6 by 40 sin + 30 cos = 46.0 pels.
  EXPECT_EQ(std::pair(whole.width, whole.height), std::pair(50, 46));
  EXPECT_EQ(whole.at(0, 0, 0) + 1000 * whole.at(25, 23, 0), 200000);  // outside 0, inside 200
  EXPECT_TRUE(inside.width < 40 && inside.width * inside.height > 40 * 30 / 3) << inside.width;
  EXPECT_EQ(inside.samples, std::vector<uint16_t>(size_t(inside.width) * inside.height, 200));
}

// A batch: every output is what the file alone gives, written under its input's name in the
// folder (made if missing); a file that fails gets its own line, the others still run, and the exit
// status says that one failed.
TEST_F(ToolTest, BatchesGoOnPastABadFile) {
  write("a.png", tooltest::randomRaster(30, 22, 1, 8, 3)), write("c.png", tooltest::randomRaster(40, 26, 3, 8, 5));
  std::ofstream(path("bad.png")) << "not an image\n";
  using Batch = std::pair<std::string, std::string>;
  for (const auto& [command, options] : {Batch{"warp", " --rect 4.5,3.25,16,5,5,14.5 --size 9,8 --mode cubic2"},
                                         Batch{"rotate", " --angle 33 --clip --mode bilinear"}}) {
    const Outcome outcome = run(command + " a.png bad.png missing.png c.png --out-dir out/" + command + options);
    EXPECT_EQ(std::pair(outcome.status, outcome.out), std::pair(1, std::string())) << command;
    EXPECT_EQ(outcome.err, "kip: cannot read bad.png: it is neither a PNG nor a TIFF file. Convert it to PNG or TIFF\n"
                           "kip: cannot read missing.png (No such file or directory). Check the file name and path\n");
    for (const std::string name : {"a.png", "c.png"}) {
      ASSERT_EQ(run(command + " " + name + " alone" + name.substr(1) + options).status, 0);
      EXPECT_EQ(read("out/" + command + "/" + name), read("alone" + name.substr(1))) << command << name;
    }
  }
  // Each image turns about its own centre: the outputs' sizes follow the inputs'.
  EXPECT_NE(read("out/rotate/a.png").width, read("out/rotate/c.png").width);
}

// Every picture written is shown on the page, and nothing else (no temporary file) is left.
TEST_F(ToolTest, DemoWritesEveryPictureAndAPage) {
  ASSERT_EQ(run("demo results").status, 0);
  const std::string page = slurp(path("results/index.html"));
  std::set<std::string> written = files("results");
  for (const std::string& name : written) EXPECT_TRUE(name == "index.html" || page.find('"' + name + '"') != std::string::npos) << name;
  EXPECT_GT(written.size(), 10u);
}

}  // namespace
