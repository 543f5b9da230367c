#include "image_file.hpp"

#include "atomic_file.hpp"
#include "failure.hpp"
#include "image_codecs.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>

namespace kiptool {
namespace {

struct FileCloser {
  std::FILE* file;
  ~FileCloser() { std::fclose(file); }
};

bool startsWith(const unsigned char* bytes, size_t count, const char* magic, size_t magicCount) {
  return count >= magicCount && std::memcmp(bytes, magic, magicCount) == 0;
}

template <typename Sample>
void deinterleave(const Sample* samples, Picture& picture, int32_t y) {
  const size_t count = picture.channels.size();
  for (size_t c = 0; c < count; ++c) {
    Sample* out = picture.channels[c].row<Sample>(y);
    for (int32_t x = 0; x < picture.width(); ++x) out[x] = samples[static_cast<size_t>(x) * count + c];
  }
}

template <typename Sample>
void interleave(const Picture& picture, int32_t y, Sample* samples) {
  const size_t count = picture.channels.size();
  for (size_t c = 0; c < count; ++c) {
    const Sample* in = picture.channels[c].row<Sample>(y);
    for (int32_t x = 0; x < picture.width(); ++x) samples[static_cast<size_t>(x) * count + c] = in[x];
  }
}

}  // namespace

std::string_view formatName(FileFormat format) { return format == FileFormat::png ? "PNG" : "TIFF"; }

void deinterleaveRow(const void* samples, Picture& picture, int32_t y) {
  if (picture.bitDepth == 16) {
    deinterleave(static_cast<const uint16_t*>(samples), picture, y);
  } else {
    deinterleave(static_cast<const uint8_t*>(samples), picture, y);
  }
}

void interleaveRow(const Picture& picture, int32_t y, void* samples) {
  if (picture.bitDepth == 16) {
    interleave(picture, y, static_cast<uint16_t*>(samples));
  } else {
    interleave(picture, y, static_cast<uint8_t*>(samples));
  }
}

ImageFile readImageFile(const std::string& path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0) {
    fail("cannot read " + path + " (" + std::strerror(errno) + ")", "Check the file name and path");
  }
  if (S_ISDIR(status.st_mode)) fail(path + " is a folder, not an image file", "Give a PNG or TIFF file");
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) fail("cannot read " + path + " (" + std::strerror(errno) + ")", "Check its permissions");
  FileCloser closer{file};

  unsigned char magic[8] = {};
  const size_t count = std::fread(magic, 1, sizeof magic, file);
  std::rewind(file);
  if (startsWith(magic, count, "\x89PNG\r\n\x1a\n", 8)) return {FileFormat::png, readPng(file, path)};
  // Classic and big TIFF, either byte order.
  if (startsWith(magic, count, "II*\0", 4) || startsWith(magic, count, "MM\0*", 4) ||
      startsWith(magic, count, "II+\0", 4) || startsWith(magic, count, "MM\0+", 4)) {
    return {FileFormat::tiff, readTiff(path)};
  }
  fail("cannot read " + path + ": it is neither a PNG nor a TIFF file", "Convert it to PNG or TIFF");
}

FileFormat outputFormat(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  std::string extension = dot == std::string::npos || (slash != std::string::npos && dot < slash) ? "" : path.substr(dot);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".png") return FileFormat::png;
  if (extension == ".tif" || extension == ".tiff") return FileFormat::tiff;
  failUsage("cannot tell the file format of the output " + path, "End its name in .png, .tif or .tiff");
}

void writeImageFile(const std::string& path, const Picture& picture) {
  const FileFormat format = outputFormat(path);
  AtomicFile file(path);
  if (format == FileFormat::png) {
    writePng(file.stream(), path, picture);
  } else {
    writeTiff(file.temporaryPath(), path, picture);
  }
  file.commit();
}

}  // namespace kiptool
