// Runs a fuzz target without libFuzzer: feeds every file named on the command line, or found in a
// directory named there, once to LLVMFuzzerTestOneInput, so that the corpus regressions run in
// every test build with any compiler. A failed check aborts, which fails the test.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    if (!std::filesystem::is_directory(argv[i])) files.emplace_back(argv[i]);
    std::error_code notDirectory;  // a file: the loop below has nothing to add
    for (const auto& entry : std::filesystem::directory_iterator(argv[i], notDirectory)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  for (const auto& path : files) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::fprintf(stderr, "cannot read %s\n", path.c_str()), 1;
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    std::fprintf(stderr, "running %s (%zu bytes)\n", path.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::fprintf(stderr, "%zu inputs\n", files.size());
  return files.empty() ? 1 : 0;
}
