// kip turn IN OUT --code CODE: an exact quarter turn, half turn or mirror (no resampling), through
// the library's aligned fast path, channel by channel.
#include "command.hpp"
#include "failure.hpp"
#include "image_file.hpp"
#include "status_text.hpp"

#include <kip/kip.h>

#include <algorithm>
#include <iterator>

namespace kiptool {
namespace {

constexpr uint32_t kCodes[] = {0, 1, 90, 91, 180, 181, 270, 271};

uint32_t parseTurnCode(const std::string& text) {
  const std::string fix = "Give 0, 1, 90, 91, 180, 181, 270 or 271 (see 'kip turn --help')";
  int64_t code = -1;
  try {
    code = parseInteger(text, "--code", 0, 271);
  } catch (const Failure&) {
    failUsage("--code '" + text + "' is not a turn code", fix);
  }
  if (std::find(std::begin(kCodes), std::end(kCodes), code) == std::end(kCodes)) {
    failUsage("--code '" + text + "' is not a turn code", fix);
  }
  return static_cast<uint32_t>(code);
}

// The codes that exchange width and height.
bool transposes(uint32_t code) { return code == 1 || code == 90 || code == 181 || code == 270; }

int runTurn(const Args& args) {
  const uint32_t code = parseTurnCode(*args.value("--code"));
  const std::string& input = args.positionals()[0];
  const std::string& output = args.positionals()[1];
  outputFormat(output);

  const ImageFile file = readImageFile(input);
  const Picture& in = file.picture;
  const bool swap = transposes(code);
  Picture out = makePicture(in.bitDepth, in.layout, swap ? in.height() : in.width(), swap ? in.width() : in.height());
  for (size_t c = 0; c < in.channels.size(); ++c) {
    const kimg_window source = in.channels[c].window();
    kimg_window destination = out.channels[c].window();
    checkStatus(in.bitDepth == 16 ? kip_affineTransformAligned16(&source, &destination, code)
                                  : kip_affineTransformAligned(&source, &destination, code),
                "turning " + input);
  }
  writeImageFile(output, out);
  return 0;
}

}  // namespace

const Command& turnCommand() {
  static const Command command{
      {"turn", "IN OUT", 2, 2, {{"--code", "CODE", "the turn or mirror, below", true}}},
      "turn or mirror an image exactly, without resampling",
      "codes, as the picture is displayed:\n"
      "    0  copy                            180  half turn\n"
      "   90  quarter turn counter-clockwise  270  quarter turn clockwise\n"
      "   91  mirror left-right               271  mirror top-bottom\n"
      "    1  mirror about the diagonal from  181  mirror about the other diagonal\n"
      "       the top-left corner\n",
      runTurn};
  return command;
}

}  // namespace kiptool
