#include "command.hpp"

#include "failure.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kiptool {

const std::vector<const Command*>& commandTable() {
  static const std::vector<const Command*> table{&infoCommand(),   &sumsCommand(),   &turnCommand(),
                                                    &warpCommand(),   &rotateCommand(), &demoCommand(),
                                                    &projectCommand()};
  return table;
}

const Command* findCommand(std::string_view name) {
  for (const Command* command : commandTable()) {
    if (command->syntax.name == name) return command;
  }
  return nullptr;
}

std::string usageLine(const Command& command) {
  const CommandSyntax& syntax = command.syntax;
  std::string line = std::string(syntax.name) + " " + std::string(syntax.positionals);
  bool optional = false;
  for (const OptionSpec& option : syntax.options) {
    if (option.required) {
      line += " " + std::string(option.name) + " " + std::string(option.valueName);
    } else {
      optional = true;
    }
  }
  return optional ? line + " [options]" : line;
}

std::string commandHelp(const Command& command) {
  std::string summary(command.summary);
  summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
  std::string text = "usage: kip " + usageLine(command) + "\n\n" + summary + ".\n";
  if (!command.syntax.options.empty()) text += "\noptions:\n" + formatOptions(command.syntax);
  if (!command.details.empty()) text += "\n" + std::string(command.details);
  return text;
}

std::string generalHelp() {
  size_t column = 0;
  for (const Command* command : commandTable()) column = std::max(column, usageLine(*command).size());
  std::string text =
      "kip: resample 8-bit and 16-bit gray images with the kip library.\n"
      "\n"
      "usage: kip COMMAND ARGUMENTS...\n"
      "       kip COMMAND --help   what COMMAND takes\n"
      "       kip --version\n"
      "\n"
      "commands:\n";
  for (const Command* command : commandTable()) {
    std::string line = usageLine(*command);
    line.resize(column, ' ');
    text += "  " + line + "  " + std::string(command->summary) + "\n";
  }
  text +=
      "\n"
      "Images are PNG or TIFF files, 8 or 16 bits a sample, gray or colour; colour is worked channel\n"
      "by channel. An output takes its format from its name (.png, .tif, .tiff) and appears only when\n"
      "complete. Failures print one line and exit with 1 (2 for a wrong command line).\n";
  return text;
}

int forEachInput(const std::vector<std::string>& inputs, const std::function<void(const std::string&)>& work) {
  int status = 0;
  for (const std::string& input : inputs) {
    try {
      work(input);
    } catch (const Failure& failure) {
      if (failure.exitStatus() == kExitUsage) throw;
      std::fflush(stdout);
      std::fprintf(stderr, "kip: %s\n", failure.what());
      if (status == 0) status = failure.exitStatus();
    }
  }
  return status;
}

void printOut(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
    fail(std::string("cannot write to standard output (") + std::strerror(errno) + ")",
         "Check where the output is redirected");
  }
}

}  // namespace kiptool
