// The files of a command that resamples "IN OUT", or a batch "IN... --out-dir DIR" where each
// output takes its input's file name in DIR. Refuses, before any work, a batch whose outputs would
// collide or replace an input.
#pragma once

#include "cli.hpp"

#include <string>
#include <vector>

namespace kiptool {

struct Job {
  std::string input, output;
};

// The jobs of the command line; usage Failures for a wrong number of names, --out-dir with an
// option that names a single file (`singleFileOption`, may be empty), or clashing outputs.
std::vector<Job> batchJobs(const Args& args, const std::string& command, std::string_view singleFileOption);

}  // namespace kiptool
