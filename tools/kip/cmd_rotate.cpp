// kip rotate IN OUT --angle DEG: a turn about the image centre, through the library's transform; or
// of a batch of images with --out-dir.
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
  const std::vector<Job> jobs = batchJobs(args, "rotate", "");
  for (const Job& job : jobs) outputFormat(job.output);

  return runJobs("rotate", args, jobs, [&](const Job& job) {
    const ImageFile file = readImageFile(job.input);
    // Each image turns about its own centre: the geometry follows its size.
    const affineSampleParams params = rotationParams(*file.picture.channels[0].get(), angle, scale, mode, clip);
    writeImageFile(job.output, resamplePicture(file.picture, job.input, params, clip, false).picture);
  });
}

}  // namespace

const Command& rotateCommand() {
  static const Command command{
      {"rotate",
       "IN OUT",
       1,
       kAnyCount,
       {{"--angle", "DEG", "degrees counter-clockwise as displayed (negative: clockwise)", true},
        {"--scale", "S", "output pels per input pel (default 1)"},
        {"--mode", "MODE", "nearest, bilinear (the default), linear2 or cubic2"},
        {"--clip", "", "keep the whole turned image; corners outside the input become 0"},
        {"--out-dir", "DIR", "every file name is an input; each output goes to DIR under its name"}}},
      "turn an image about its centre",
      "Without --clip the output is the largest centred part of the turned image that has no pel\n"
      "from outside the input; with --clip it holds the whole turned image. Quarter turns at scale\n"
      "1 are exact copies of the pels, like 'kip turn'. With --out-dir a batch of files is turned\n"
      "alike, each about its own centre; one that fails is reported and the others still run:\n"
      "  kip rotate photos/*.png --out-dir turned --angle 12.5 --clip\n",
      runRotate};
  return command;
}

}  // namespace kiptool
