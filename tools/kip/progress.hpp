// A one-line progress bar for batches of files. It is drawn only on a terminal: output that goes to
// a file or a pipe stays plain lines, one per failure, for logs and scripts.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace kiptool {

class Progress {
 public:
  // Draws on `out` when `terminal` is true; otherwise every call does nothing.
  Progress(std::string label, size_t total, std::FILE* out, bool terminal);
  static bool stderrIsTerminal();

  // About to work on `name`, with `done` of the total finished.
  void start(size_t done, const std::string& name);
  // Blanks the bar's line so that a message can take it; the next start() draws the bar again.
  void clear();
  // The full bar, left on its own line.
  void finish();

 private:
  void draw(size_t done, const std::string& name);

  std::string label_;
  size_t total_;
  std::FILE* out_;
  bool terminal_;
  bool shown_ = false;
};

}  // namespace kiptool
