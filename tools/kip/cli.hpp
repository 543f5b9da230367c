// Command-line parsing: the options a command takes, the arguments it was given, and the numbers,
// rectangles, sizes and modes of the documented syntax. Every refusal throws a usage Failure whose
// one line names the argument, what is wrong with it and what to give instead.
#pragma once

#include <kip/kip.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kiptool {

struct OptionSpec {
  std::string_view name;       // "--rect"
  std::string_view valueName;  // "OX,OY,XX,XY,YX,YY"; empty for a flag
  std::string_view help;       // one line
  bool required = false;
};

// Positional counts without an upper bound: commands that work through a batch of inputs.
inline constexpr int kAnyCount = -1;

// What a command accepts, as its help shows it: "kip NAME POSITIONALS [options]".
struct CommandSyntax {
  std::string_view name;         // "turn"
  std::string_view positionals;  // "IN OUT", for help and messages
  int minPositionals = 0;
  int maxPositionals = 0;        // or kAnyCount
  std::vector<OptionSpec> options;
};

// The arguments of one run: positionals in order, options by name ("--csv" -> "out.csv"; flags
// map to an empty value).
class Args {
 public:
  bool helpWanted() const { return helpWanted_; }
  const std::vector<std::string>& positionals() const { return positionals_; }
  bool has(std::string_view option) const { return options_.count(std::string(option)) != 0; }
  // The option's value, or null when it was not given.
  const std::string* value(std::string_view option) const;

 private:
  friend Args parseArgs(const CommandSyntax& syntax, const std::vector<std::string>& arguments);
  bool helpWanted_ = false;
  std::vector<std::string> positionals_;
  std::map<std::string, std::string> options_;
};

// Parses the arguments after the command name. "--opt VALUE" and "--opt=VALUE" both work, so that a
// value may start with '-' (--angle -30); "--" ends the options. "--help" or "-h" anywhere before
// "--" asks for help and skips every other check.
Args parseArgs(const CommandSyntax& syntax, const std::vector<std::string>& arguments);

// The option lines of a command's help, aligned.
std::string formatOptions(const CommandSyntax& syntax);

// A finite decimal number. `what` names the argument in messages ("--angle").
double parseNumber(std::string_view text, std::string_view what);
// A whole number in [min, max].
int64_t parseInteger(std::string_view text, std::string_view what, int64_t min, int64_t max);

// --rect OX,OY,XX,XY,YX,YY: the origin corner, the end of the x side and the end of the y side, in
// the input's pel coordinates, as the affine rectangle kip samples.
kmath_shapeAffineRect parseRect(std::string_view text);

struct Size {
  int32_t width;
  int32_t height;
};
inline constexpr int32_t kMaxSide = 1000000;
// --size W,H: whole numbers from 1 to kMaxSide.
Size parseSize(std::string_view text);

// --mode nearest|bilinear|linear2|cubic2 -> KIP_SAMPLE_...
uint32_t parseMode(std::string_view text);
// --angle DEG: any finite number of degrees.
double parseAngle(std::string_view text);
// --scale S: finite and greater than 0.
double parseScale(std::string_view text);

}  // namespace kiptool
