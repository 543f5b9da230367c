// kip rotate IN OUT --angle DEG: a turn about the image centre, through the library's transform.
#include "command.hpp"
#include "failure.hpp"
#include "image_file.hpp"
#include "resample.hpp"

namespace kiptool {
namespace {

int runRotate(const Args& args) {
  const double angle = parseAngle(*args.value("--angle"));
  const double scale = args.has("--scale") ? parseScale(*args.value("--scale")) : 1.0;
  const uint32_t mode = args.has("--mode") ? parseMode(*args.value("--mode")) : KIP_SAMPLE_BILINEAR;
  const bool clip = args.has("--clip");
  const std::string& input = args.positionals()[0];
  const std::string& output = args.positionals()[1];
  outputFormat(output);

  const ImageFile file = readImageFile(input);
  const affineSampleParams params = rotationParams(*file.picture.channels[0].get(), angle, scale, mode, clip);
  writeImageFile(output, resamplePicture(file.picture, input, params, clip, false).picture);
  return 0;
}

}  // namespace

const Command& rotateCommand() {
  static const Command command{
      {"rotate",
       "IN OUT",
       2,
       2,
       {{"--angle", "DEG", "degrees counter-clockwise as displayed (negative: clockwise)", true},
        {"--scale", "S", "output pels per input pel (default 1)"},
        {"--mode", "MODE", "nearest, bilinear (the default), linear2 or cubic2"},
        {"--clip", "", "keep the whole turned image; corners outside the input become 0"}}},
      "turn an image about its centre",
      "Without --clip the output is the largest centred part of the turned image that has no pel\n"
      "from outside the input; with --clip it holds the whole turned image. Quarter turns at scale\n"
      "1 are exact copies of the pels, like 'kip turn'.\n",
      runRotate};
  return command;
}

}  // namespace kiptool
