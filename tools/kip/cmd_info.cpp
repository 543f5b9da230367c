// kip info IN...: what the tool reads from each file, one line per file.
#include "command.hpp"
#include "image_file.hpp"

namespace kiptool {
namespace {

int runInfo(const Args& args) {
  return forEachInput(args.positionals(), [](const std::string& path) {
    const ImageFile file = readImageFile(path);
    const Picture& picture = file.picture;
    const int channels = channelCount(picture.layout);
    printOut(path + ": " + std::string(formatName(file.format)) + ", " + std::to_string(picture.width()) + " x " +
             std::to_string(picture.height()) + ", " + std::to_string(picture.bitDepth) + "-bit " +
             std::string(layoutName(picture.layout)) + " (" + std::to_string(channels) + " channel" +
             (channels == 1 ? "" : "s") + ")\n");
  });
}

}  // namespace

const Command& infoCommand() {
  static const Command command{
      {"info", "IN...", 1, kAnyCount, {}},
      "size, bit depth and channels of image files",
      "Prints one line per file, such as\n"
      "  chart.png: PNG, 640 x 480, 16-bit gray (1 channel)\n"
      "A file that cannot be read gets its own error line; the others are still shown.\n",
      runInfo};
  return command;
}

}  // namespace kiptool
