// Command-line parsing. Numbers go through std::from_chars, which takes neither white space nor
// locale-dependent forms, and every value is checked finite here, so that no NaN or infinity from
// the command line can reach a float-to-integer conversion later.
#include "cli.hpp"

#include "failure.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace kiptool {
namespace {

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

const OptionSpec* findOption(const CommandSyntax& syntax, std::string_view name) {
  for (const OptionSpec& option : syntax.options) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

std::string helpHint(const CommandSyntax& syntax) {
  return "Run 'kip " + std::string(syntax.name) + " --help' for its arguments";
}

bool isHelp(std::string_view argument) { return argument == "--help" || argument == "-h"; }

void checkPositionalCount(const CommandSyntax& syntax, int given) {
  const bool tooFew = given < syntax.minPositionals;
  const bool tooMany = syntax.maxPositionals != kAnyCount && given > syntax.maxPositionals;
  if (!tooFew && !tooMany) return;
  const std::string expected = "kip " + std::string(syntax.name) + " " + std::string(syntax.positionals);
  failUsage((tooFew ? "too few" : "too many") + std::string(" file names for ") + expected + " (" +
                std::to_string(given) + " given)",
            helpHint(syntax));
}

// Splits "a,b,c" at commas; empty parts are kept so that they are reported as bad numbers.
std::vector<std::string_view> splitCommas(std::string_view text) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) return parts;
    start = comma + 1;
  }
}

std::vector<double> parseNumberList(std::string_view text, size_t count, std::string_view what,
                                    std::string_view form) {
  const std::vector<std::string_view> parts = splitCommas(text);
  const std::string fix = "Give " + std::string(what) + " " + std::string(form);
  if (parts.size() != count) {
    failUsage(std::string(what) + " " + quoted(text) + " has " + std::to_string(parts.size()) + " value" +
                  (parts.size() == 1 ? "" : "s") + " where " + std::to_string(count) + " are needed",
              fix);
  }
  std::vector<double> values;
  for (std::string_view part : parts) {
    try {
      values.push_back(parseNumber(part, what));
    } catch (const Failure&) {
      // Name the whole argument and its form, not only the part that failed.
      failUsage(std::string(what) + " " + quoted(text) + ": " + quoted(part) + " is not a finite number", fix);
    }
  }
  return values;
}

}  // namespace

const std::string* Args::value(std::string_view option) const {
  const auto found = options_.find(std::string(option));
  return found == options_.end() ? nullptr : &found->second;
}

Args parseArgs(const CommandSyntax& syntax, const std::vector<std::string>& arguments) {
  Args args;
  const auto optionsEnd = std::find(arguments.begin(), arguments.end(), "--");
  if (std::any_of(arguments.begin(), optionsEnd, isHelp)) {
    args.helpWanted_ = true;
    return args;
  }
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--") {
      args.positionals_.insert(args.positionals_.end(), arguments.begin() + i + 1, arguments.end());
      break;
    }
    if (argument.size() < 2 || argument[0] != '-') {
      args.positionals_.push_back(argument);
      continue;
    }
    const size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const OptionSpec* option = findOption(syntax, name);
    if (option == nullptr) {
      failUsage("kip " + std::string(syntax.name) + " has no option " + name, helpHint(syntax));
    }
    if (args.options_.count(name) != 0) failUsage(name + " is given twice", "Give it once");
    const std::string form = name + " " + std::string(option->valueName);
    if (option->valueName.empty()) {
      if (equals != std::string::npos) failUsage(name + " takes no value", "Give " + name + " alone");
      args.options_[name] = "";
    } else if (equals != std::string::npos) {
      args.options_[name] = argument.substr(equals + 1);
    } else if (i + 1 < arguments.size()) {
      args.options_[name] = arguments[++i];
    } else {
      failUsage(name + " needs a value", "Give " + form);
    }
  }
  checkPositionalCount(syntax, static_cast<int>(args.positionals_.size()));
  for (const OptionSpec& option : syntax.options) {
    if (option.required && !args.has(option.name)) {
      failUsage("kip " + std::string(syntax.name) + " needs " + std::string(option.name) + " " +
                    std::string(option.valueName),
                helpHint(syntax));
    }
  }
  return args;
}

std::string formatOptions(const CommandSyntax& syntax) {
  size_t column = 0;
  for (const OptionSpec& option : syntax.options) {
    column = std::max(column, option.name.size() + 1 + option.valueName.size());
  }
  std::string text;
  for (const OptionSpec& option : syntax.options) {
    std::string left = std::string(option.name);
    if (!option.valueName.empty()) left += " " + std::string(option.valueName);
    left.resize(column, ' ');
    text += "  " + left + "  " + std::string(option.help) + "\n";
  }
  return text;
}

double parseNumber(std::string_view text, std::string_view what) {
  const std::string fix = "Give " + std::string(what) + " a decimal number such as 30 or -12.5";
  std::string_view digits = text;
  // from_chars takes no leading '+'; people write one.
  if (digits.size() > 1 && digits[0] == '+' && digits[1] != '-') digits.remove_prefix(1);
  double value = 0.0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error == std::errc::result_out_of_range) {
    failUsage(std::string(what) + " " + quoted(text) + " is out of range", fix);
  }
  if (error != std::errc() || end != digits.data() + digits.size()) {
    failUsage(std::string(what) + " " + quoted(text) + " is not a number", fix);
  }
  if (!std::isfinite(value)) failUsage(std::string(what) + " " + quoted(text) + " is not a finite number", fix);
  return value;
}

int64_t parseInteger(std::string_view text, std::string_view what, int64_t min, int64_t max) {
  const std::string fix =
      "Give " + std::string(what) + " a whole number from " + std::to_string(min) + " to " + std::to_string(max);
  std::string_view digits = text;
  if (digits.size() > 1 && digits[0] == '+' && digits[1] != '-') digits.remove_prefix(1);
  int64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error == std::errc::result_out_of_range) {
    failUsage(std::string(what) + " " + quoted(text) + " is out of range", fix);
  }
  if (error != std::errc() || end != digits.data() + digits.size()) {
    failUsage(std::string(what) + " " + quoted(text) + " is not a whole number", fix);
  }
  if (value < min || value > max) failUsage(std::string(what) + " " + quoted(text) + " is out of range", fix);
  return value;
}

kmath_shapeAffineRect parseRect(std::string_view text) {
  constexpr std::string_view form = "OX,OY,XX,XY,YX,YY (origin corner, end of x side, end of y side)";
  const std::vector<double> v = parseNumberList(text, 6, "--rect", form);
  // The record holds the origin and the two sides as vectors from it.
  const kmath_shapeAffineRect rect{v[0], v[1], v[2] - v[0], v[4] - v[0], v[3] - v[1], v[5] - v[1]};
  if (!std::isfinite(rect.e0) || !std::isfinite(rect.e1) || !std::isfinite(rect.e2) || !std::isfinite(rect.e3)) {
    failUsage("--rect " + quoted(text) + " has sides too long to compute", "Give coordinates of a sane size");
  }
  if (rect.e0 * rect.e3 - rect.e1 * rect.e2 == 0.0) {
    failUsage("--rect " + quoted(text) + " has no area (its sides are parallel or empty)",
              "Give corners that span a parallelogram, such as --rect 0,0,100,0,0,50");
  }
  return rect;
}

Size parseSize(std::string_view text) {
  const std::vector<std::string_view> parts = splitCommas(text);
  if (parts.size() != 2) {
    failUsage("--size " + quoted(text) + " is not a width and a height",
              "Give --size W,H such as --size 640,480");
  }
  return Size{static_cast<int32_t>(parseInteger(parts[0], "--size width", 1, kMaxSide)),
              static_cast<int32_t>(parseInteger(parts[1], "--size height", 1, kMaxSide))};
}

uint32_t parseMode(std::string_view text) {
  constexpr std::pair<std::string_view, uint32_t> modes[] = {{"nearest", KIP_SAMPLE_NEAREST},
                                                             {"bilinear", KIP_SAMPLE_BILINEAR},
                                                             {"linear2", KIP_SAMPLE_LINEAR2},
                                                             {"cubic2", KIP_SAMPLE_CUBIC2}};
  for (const auto& [name, mode] : modes) {
    if (text == name) return mode;
  }
  failUsage("--mode " + quoted(text) + " is not a sample mode", "Give nearest, bilinear, linear2 or cubic2");
}

double parseAngle(std::string_view text) { return parseNumber(text, "--angle"); }

double parseScale(std::string_view text) {
  const double scale = parseNumber(text, "--scale");
  if (scale <= 0.0) failUsage("--scale " + quoted(text) + " is not above 0", "Give a scale such as 0.5 or 2");
  return scale;
}

}  // namespace kiptool
