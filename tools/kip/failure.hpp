// How the tool fails: every failure becomes one line "kip: <problem>. <fix>" on stderr and a
// non-zero exit status. Code deep inside a command throws Failure; main() prints it.
#pragma once

#include <stdexcept>
#include <string>

namespace kiptool {

// Exit statuses: 1 when the work failed (files, the library), 2 when the command line was wrong.
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

class Failure : public std::runtime_error {
 public:
  Failure(const std::string& problem, const std::string& fix, int exitStatus)
      : std::runtime_error(fix.empty() ? problem : problem + ". " + fix), exitStatus_(exitStatus) {}
  int exitStatus() const noexcept { return exitStatus_; }

 private:
  int exitStatus_;
};

// The work could not be done: a missing or unreadable file, a refused operation.
[[noreturn]] inline void fail(const std::string& problem, const std::string& fix) {
  throw Failure(problem, fix, kExitFailed);
}

// The command line itself is wrong.
[[noreturn]] inline void failUsage(const std::string& problem, const std::string& fix) {
  throw Failure(problem, fix, kExitUsage);
}

}  // namespace kiptool
