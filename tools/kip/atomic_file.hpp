// Replacing a file safely: everything is written under a temporary name in the destination's own
// folder (so that the final rename stays on one file system and is atomic) and renamed into place
// only once complete. A failure or an exception removes the temporary file and leaves whatever was
// at the final path untouched.
#pragma once

#include <cstdio>
#include <string>

namespace kiptool {

class AtomicFile {
 public:
  // Creates the temporary file; throws a Failure naming finalPath when its folder is not writable.
  explicit AtomicFile(std::string finalPath);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  const std::string& finalPath() const { return finalPath_; }
  // The temporary file, for writers that open files by name (libtiff).
  const std::string& temporaryPath() const { return temporaryPath_; }
  // A stdio stream on the temporary file, owned by this object.
  std::FILE* stream();
  // Flushes and closes the temporary file and renames it to the final path; throws a Failure when
  // any of that fails (a full disk shows up here).
  void commit();

 private:
  std::string finalPath_;
  std::string temporaryPath_;
  int fd_ = -1;
  std::FILE* stream_ = nullptr;
  bool committed_ = false;
};

// "cannot write PATH (reason)" with a fix, for writers that fail on their own.
[[noreturn]] void failWrite(const std::string& path, const std::string& reason);

}  // namespace kiptool
