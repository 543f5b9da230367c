// kip sums IN [--rows|--columns] [--csv FILE]: the library's row or column sums of an 8-bit image,
// one column of sums per channel.
#include "atomic_file.hpp"
#include "command.hpp"
#include "failure.hpp"
#include "image_file.hpp"
#include "status_text.hpp"

#include <kip/kip.h>

namespace kiptool {
namespace {

class Vector32 {
 public:
  Vector32() { kstd_vector32_construct(&vector_); }
  ~Vector32() { kstd_vector32_destruct(&vector_); }
  Vector32(const Vector32&) = delete;
  Vector32& operator=(const Vector32&) = delete;
  kstd_vector32* get() { return &vector_; }
  uint32_t operator[](int32_t i) const { return vector_.begin[i]; }

 private:
  kstd_vector32 vector_;
};

int runSums(const Args& args) {
  const bool rows = args.has("--rows");
  if (rows && args.has("--columns")) failUsage("--rows and --columns exclude each other", "Give one of them");
  const std::string* csv = args.value("--csv");
  const std::string& input = args.positionals()[0];

  const ImageFile file = readImageFile(input);
  const Picture& picture = file.picture;
  if (picture.bitDepth != 8) {
    fail(input + " has 16-bit samples, and row and column sums take 8-bit images only",
         "Convert it to 8 bits first");
  }
  const int32_t length = rows ? picture.height() : picture.width();
  std::vector<Vector32> sums(picture.channels.size());
  for (size_t c = 0; c < picture.channels.size(); ++c) {
    const kimg_image* channel = picture.channels[c].get();
    checkStatus(rows ? kip_projectHorizontalVector8(channel, sums[c].get(), nullptr)
                     : kip_projectVerticalVector8(channel, sums[c].get(), nullptr),
                std::string(rows ? "the row" : "the column") + " sums of " + input);
  }

  std::string text = "index";
  for (size_t c = 0; c < sums.size(); ++c) {
    text += sums.size() == 1 ? ",sum" : "," + std::string(channelName(picture.layout, static_cast<int>(c)));
  }
  text += "\n";
  for (int32_t i = 0; i < length; ++i) {
    text += std::to_string(i);
    for (const Vector32& sum : sums) text += "," + std::to_string(sum[i]);
    text += "\n";
  }
  if (csv == nullptr) {
    printOut(text);
    return 0;
  }
  AtomicFile out(*csv);
  if (std::fputs(text.c_str(), out.stream()) == EOF) failWrite(*csv, "the write failed");
  out.commit();
  return 0;
}

}  // namespace

const Command& sumsCommand() {
  static const Command command{
      {"sums",
       "IN",
       1,
       1,
       {{"--rows", "", "one sum per row"},
        {"--columns", "", "one sum per column (the default)"},
        {"--csv", "FILE", "write the sums to FILE instead of printing them"}}},
      "row or column sums of an 8-bit image",
      "Prints 'index,sum' and one line per row or column; colour images get one column of sums a\n"
      "channel ('index,red,green,blue'). Sums are unsigned 32-bit and wrap around past 4294967295.\n",
      runSums};
  return command;
}

}  // namespace kiptool
