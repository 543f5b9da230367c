// Image files: PNG and TIFF, 8 or 16 bits a sample, gray or colour, with or without alpha.
#pragma once

#include "image.hpp"

#include <string>
#include <string_view>

namespace kiptool {

enum class FileFormat { png, tiff };

std::string_view formatName(FileFormat format);  // "PNG", "TIFF"

struct ImageFile {
  FileFormat format;
  Picture picture;
};

// Reads a PNG or TIFF file, told apart by its first bytes rather than its name. Palette images
// become RGB (RGBA with transparency), gray below 8 bits becomes 8-bit, a TIFF whose zero is white
// is inverted so that zero is black; other samples are refused with a clear Failure.
ImageFile readImageFile(const std::string& path);

// The format an output name asks for: .png, .tif or .tiff in any case. Commands call it before any
// work so that a bad name fails at once.
FileFormat outputFormat(const std::string& path);

// Writes the picture (bit depth and channels as they are) in the format of its name. Nothing
// appears at path unless the whole file was written.
void writeImageFile(const std::string& path, const Picture& picture);

}  // namespace kiptool
