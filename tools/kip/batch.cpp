#include "batch.hpp"

#include "failure.hpp"

#include <filesystem>
#include <map>
#include <system_error>

namespace kiptool {
namespace {

namespace fs = std::filesystem;

// The same place for two names that need not exist yet: followed through links where they exist.
std::string placeOf(const std::string& name) {
  std::error_code error;
  const fs::path place = fs::weakly_canonical(fs::absolute(name), error);
  return (error ? fs::absolute(name).lexically_normal() : place).string();
}

}  // namespace

std::vector<Job> batchJobs(const Args& args, const std::string& command, std::string_view singleFileOption) {
  const std::vector<std::string>& names = args.positionals();
  const std::string* outDir = args.value("--out-dir");
  if (outDir == nullptr) {
    if (names.size() != 2) {
      failUsage("kip " + command + " takes IN OUT, or several inputs with --out-dir DIR (" +
                    std::to_string(names.size()) + " file name" + (names.size() == 1 ? "" : "s") + " given)",
                "Run 'kip " + command + " --help' for its arguments");
    }
    return {{names[0], names[1]}};
  }
  if (outDir->empty()) failUsage("--out-dir is empty", "Give --out-dir the folder for the outputs");
  if (!singleFileOption.empty() && args.has(singleFileOption)) {
    failUsage(std::string(singleFileOption) + " names one file and does not go with --out-dir",
              "Run one file at a time with " + std::string(singleFileOption));
  }
  std::vector<Job> jobs;
  std::map<std::string, std::string> inputs, outputs;  // place -> name given
  for (const std::string& input : names) inputs.emplace(placeOf(input), input);
  for (const std::string& input : names) {
    const std::string output = (fs::path(*outDir) / fs::path(input).filename()).string();
    const std::string place = placeOf(output);
    if (fs::path(input).filename().empty()) {
      failUsage("'" + input + "' is not a file name", "Give the inputs' file names");
    }
    if (const auto replaced = inputs.find(place); replaced != inputs.end()) {
      failUsage(output + " would replace the input " + replaced->second, "Give --out-dir another folder");
    }
    if (const auto [clash, added] = outputs.emplace(place, input); !added) {
      failUsage(clash->second + " and " + input + " would both be written to " + output,
                "Give inputs with different names, or run them apart");
    }
    jobs.push_back({input, output});
  }
  return jobs;
}

}  // namespace kiptool
