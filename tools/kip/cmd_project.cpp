// kip project IN --rect ... --size N,M: the library's affine projection of an image, a profile of
// sums along the rectangle's x side, printed or written as CSV and drawn beside the image.
#include "atomic_file.hpp"
#include "command.hpp"
#include "failure.hpp"
#include "image_file.hpp"
#include "profile.hpp"

#include <cctype>

namespace kiptool {
namespace {

bool endsWithPng(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".png";
}

int runProject(const Args& args) {
  ProfileRequest request;
  request.rect = parseRect(*args.value("--rect"));
  const Size size = parseSize(*args.value("--size"));
  request.xCount = size.width;
  request.yCount = size.height;
  if (const std::string* mode = args.value("--mode")) request.mode = parseMode(*mode);
  request.clip = args.has("--clip");
  request.norm = args.has("--norm");
  const std::string* csv = args.value("--csv");
  const std::string* plot = args.value("--plot");
  if (plot != nullptr && !endsWithPng(*plot)) {
    failUsage("--plot '" + *plot + "' is not a .png name", "Give --plot a file name ending in .png");
  }
  const std::string& input = args.positionals()[0];

  const ImageFile file = readImageFile(input);
  const Profile profile = projectPicture(file.picture, request, input);
  const std::string text = profileCsv(file.picture, profile, request);
  if (csv == nullptr) {
    printOut(text);
  } else {
    AtomicFile out(*csv);
    if (std::fputs(text.c_str(), out.stream()) == EOF) failWrite(*csv, "the write failed");
    out.commit();
  }
  if (plot != nullptr) {
    std::string title = input + ", " + std::to_string(request.xCount) + " x " + std::to_string(request.yCount) +
                        " samples";
    if (profile.clipped) title += ", clipped";
    plotProfile(*plot, file.picture, request, profile, title);
  }
  return 0;
}

}  // namespace

const Command& projectCommand() {
  static const Command command{
      {"project",
       "IN",
       1,
       1,
       {{"--rect", "OX,OY,XX,XY,YX,YY", "the sampled rectangle: origin corner, end of x side, end of y side", true},
        {"--size", "N,M", "N entries along the x side, each the sum of M samples along the y side", true},
        {"--mode", "MODE", "nearest, bilinear (the default), linear2 or cubic2 (8-bit only)"},
        {"--clip", "", "count samples outside the image as 0 and report the coverage"},
        {"--norm", "", "also give the means and the range of entries that hold them"},
        {"--csv", "FILE", "write the profile to FILE instead of printing it"},
        {"--plot", "FILE.png", "draw the image with the rectangle beside the profile"}}},
      "sum an image across a turned rectangle into a profile",
      "Prints 'index,sum' and one line per entry: entry i sums the M samples of the rectangle's i-th\n"
      "column (its x side runs along the profile, its y side is summed). Coordinates are in pels of\n"
      "the image, whose pel (i, j) covers [i, i + 1) x [j, j + 1). Sums are unsigned 32-bit.\n"
      "--clip adds 'coverage': 255 for each sample of the entry that fell inside the image.\n"
      "--norm adds 'mean' (empty outside the valid range) and 'valid' (1 inside the range): with\n"
      "--clip each entry is divided by its own coverage, so that edge entries are means too.\n"
      "Colour images get one sum and mean column a channel ('sum_red', ...).\n",
      runProject};
  return command;
}

}  // namespace kiptool
