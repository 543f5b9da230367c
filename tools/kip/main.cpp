// kip: the command-line tool. Picks the command, prints help, and turns every failure into one
// line on stderr and a non-zero exit status.
#include "command.hpp"
#include "failure.hpp"

#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#ifndef KIP_TOOL_VERSION
#define KIP_TOOL_VERSION "unknown"
#endif

namespace kiptool {
namespace {

const Command& commandNamed(const std::string& name) {
  const Command* command = findCommand(name);
  if (command == nullptr) failUsage("'" + name + "' is not a kip command", "Run 'kip --help' for the commands");
  return *command;
}

int run(const std::vector<std::string>& arguments) {
  if (arguments.empty()) failUsage("no command given", "Run 'kip --help' for the commands");
  const std::string& first = arguments[0];
  if (first == "--help" || first == "-h" || (first == "help" && arguments.size() == 1)) {
    printOut(generalHelp());
    return 0;
  }
  if (first == "help") {
    printOut(commandHelp(commandNamed(arguments[1])));
    return 0;
  }
  if (first == "--version") {
    printOut("kip " KIP_TOOL_VERSION "\n");
    return 0;
  }
  const Command& command = commandNamed(first);
  const Args args = parseArgs(command.syntax, {arguments.begin() + 1, arguments.end()});
  if (args.helpWanted()) {
    printOut(commandHelp(command));
    return 0;
  }
  return command.run(args);
}

void report(const std::string& line) {
  std::fflush(stdout);
  std::fprintf(stderr, "kip: %s\n", line.c_str());
}

}  // namespace
}  // namespace kiptool

int main(int argc, char** argv) {
  using namespace kiptool;
  int status = kExitFailed;
  try {
    status = run(std::vector<std::string>(argv + 1, argv + argc));
    if (std::fflush(stdout) != 0) fail("cannot write to standard output", "Check where the output is redirected");
  } catch (const Failure& failure) {
    report(failure.what());
    status = failure.exitStatus();
  } catch (const std::bad_alloc&) {
    report("out of memory. Use a smaller image or size, or free some memory");
  } catch (const std::exception& error) {
    report(std::string("unexpected failure (") + error.what() + "). Please report it with the command");
  }
  return status;
}
