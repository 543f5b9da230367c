// kip warp IN OUT --rect ... --size W,H: any affine resampling of an image, through the library's
// transform (or its clipped form), channel by channel.
#include "command.hpp"
#include "failure.hpp"
#include "image_file.hpp"
#include "resample.hpp"

namespace kiptool {
namespace {

int runWarp(const Args& args) {
  const kmath_shapeAffineRect rect = parseRect(*args.value("--rect"));
  const Size size = parseSize(*args.value("--size"));
  const uint32_t mode = args.has("--mode") ? parseMode(*args.value("--mode")) : KIP_SAMPLE_BILINEAR;
  const bool clip = args.has("--clip");
  const std::string* mask = args.value("--mask");
  if (mask != nullptr && !clip) failUsage("--mask needs --clip", "Give --clip with --mask");
  const std::string& input = args.positionals()[0];
  const std::string& output = args.positionals()[1];
  outputFormat(output);
  if (mask != nullptr) outputFormat(*mask);

  const ImageFile file = readImageFile(input);
  affineSampleParams params{};
  kip_affineSampleParams_init(&params, mode, &rect, size.width, size.height);
  Resampled result = resamplePicture(file.picture, input, params, clip, mask != nullptr);
  writeImageFile(output, result.picture);
  if (mask != nullptr) {
    Picture maskPicture;
    maskPicture.channels.push_back(std::move(result.mask));
    writeImageFile(*mask, maskPicture);
  }
  return 0;
}

}  // namespace

const Command& warpCommand() {
  static const Command command{
      {"warp",
       "IN OUT",
       2,
       2,
       {{"--rect", "OX,OY,XX,XY,YX,YY", "origin corner, end of the x side, end of the y side", true},
        {"--size", "W,H", "output width and height in pels", true},
        {"--mode", "MODE", "nearest, bilinear (the default), linear2 or cubic2"},
        {"--clip", "", "allow a rectangle that leaves the input; outside pels become 0"},
        {"--mask", "MASK", "with --clip: write the 8-bit clip mask (255 inside, 0 outside)"}}},
      "resample a parallelogram of an image into a W x H output",
      "The rectangle is given by three corners in the input's pel coordinates, (0, 0) being the top-\n"
      "left corner of the first pel: output pel (0, 0) begins at the origin corner, output rows run\n"
      "toward the end of the x side and columns toward the end of the y side. Each output pel is\n"
      "sampled at its centre. Example, the middle of a 640 x 480 image at twice the size:\n"
      "  kip warp in.png out.png --rect 160,120,480,120,160,360 --size 640,480\n",
      runWarp};
  return command;
}

}  // namespace kiptool
