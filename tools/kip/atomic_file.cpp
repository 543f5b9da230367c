#include "atomic_file.hpp"

#include "failure.hpp"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kiptool {
namespace {

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// mkstemp makes private files; the result should get the permissions any new file would.
void giveDefaultPermissions(int fd) {
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
}

}  // namespace

void failWrite(const std::string& path, const std::string& reason) {
  fail("cannot write " + path + " (" + reason + ")", "Check that its folder exists, is writable and has room");
}

AtomicFile::AtomicFile(std::string finalPath) : finalPath_(std::move(finalPath)) {
  if (finalPath_.empty() || finalPath_.back() == '/') {
    failUsage("the output name '" + finalPath_ + "' is not a file name", "Give a file name such as out.png");
  }
  std::string pattern = folderOf(finalPath_) + "/." + nameOf(finalPath_) + ".kip-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  fd_ = mkstemp(buffer.data());
  if (fd_ < 0) failWrite(finalPath_, std::strerror(errno));
  temporaryPath_ = buffer.data();
  giveDefaultPermissions(fd_);
}

AtomicFile::~AtomicFile() {
  if (committed_) return;
  if (stream_ != nullptr) {
    std::fclose(stream_);
  } else if (fd_ >= 0) {
    close(fd_);
  }
  unlink(temporaryPath_.c_str());
}

std::FILE* AtomicFile::stream() {
  if (stream_ == nullptr) {
    stream_ = fdopen(fd_, "wb");
    if (stream_ == nullptr) failWrite(finalPath_, std::strerror(errno));
  }
  return stream_;
}

void AtomicFile::commit() {
  errno = 0;
  int error = 0;
  if (stream_ != nullptr) {
    if (std::fflush(stream_) != 0 || std::ferror(stream_)) error = errno != 0 ? errno : EIO;
    if (std::fclose(stream_) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  } else if (close(fd_) != 0) {
    error = errno;
  }
  stream_ = nullptr;
  fd_ = -1;
  if (error != 0) failWrite(finalPath_, std::strerror(error));
  if (std::rename(temporaryPath_.c_str(), finalPath_.c_str()) != 0) failWrite(finalPath_, std::strerror(errno));
  committed_ = true;
}

}  // namespace kiptool
