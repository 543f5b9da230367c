#include "progress.hpp"

#include <algorithm>
#include <utility>

#include <unistd.h>

namespace kiptool {
namespace {

constexpr size_t kBarWidth = 30;
constexpr size_t kNameWidth = 40;  // longer names keep their end, where the file name is
constexpr const char* kEraseLine = "\r\033[K";

}  // namespace

Progress::Progress(std::string label, size_t total, std::FILE* out, bool terminal)
    : label_(std::move(label)), total_(total), out_(out), terminal_(terminal && total > 0) {}

bool Progress::stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

void Progress::draw(size_t done, const std::string& name) {
  const size_t filled = std::min(kBarWidth, done * kBarWidth / total_);
  std::string line = kEraseLine + label_ + " [" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') +
                     "] " + std::to_string(done) + "/" + std::to_string(total_);
  if (!name.empty()) {
    line += " " + (name.size() > kNameWidth ? "..." + name.substr(name.size() - (kNameWidth - 3)) : name);
  }
  std::fputs(line.c_str(), out_);
  std::fflush(out_);
  shown_ = true;
}

void Progress::start(size_t done, const std::string& name) {
  if (terminal_) draw(done, name);
}

void Progress::clear() {
  if (!terminal_ || !shown_) return;
  std::fputs(kEraseLine, out_);
  std::fflush(out_);
  shown_ = false;
}

void Progress::finish() {
  if (!terminal_) return;
  draw(total_, "");
  std::fputs("\n", out_);
  std::fflush(out_);
  shown_ = false;
}

}  // namespace kiptool
