// The command table. A command is a syntax (what parseArgs accepts and help shows), two texts and a
// function; adding one is a file defining it and a line in commandTable().
#pragma once

#include "cli.hpp"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kiptool {

struct Command {
  CommandSyntax syntax;
  std::string_view summary;  // one line, for 'kip --help'
  std::string_view details;  // what 'kip CMD --help' adds after the options; may be empty
  int (*run)(const Args& args);  // returns the exit status; fails by throwing Failure
};

const Command& infoCommand();
const Command& sumsCommand();
const Command& turnCommand();
const Command& warpCommand();
const Command& rotateCommand();
const Command& demoCommand();
const Command& projectCommand();

// Every command, in the order 'kip --help' lists them.
const std::vector<const Command*>& commandTable();
const Command* findCommand(std::string_view name);

// "turn IN OUT --code CODE [options]": the command's usage line.
std::string usageLine(const Command& command);
std::string commandHelp(const Command& command);
std::string generalHelp();

// Runs work on each input in turn. A Failure of one input is reported as its own "kip: ..." line
// and the others still run; the result is the exit status of the batch (the first failure's, or
// 0). Usage failures are not caught: they concern the whole command line.
int forEachInput(const std::vector<std::string>& inputs, const std::function<void(const std::string&)>& work);

// Writes text to standard output; a Failure when it cannot (a full disk behind a redirection).
void printOut(const std::string& text);

}  // namespace kiptool
