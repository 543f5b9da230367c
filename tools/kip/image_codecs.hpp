// The PNG and TIFF codecs behind image_file.cpp. `shownPath` is the name used in messages.
#pragma once

#include "image.hpp"

#include <cstdio>
#include <string>

namespace kiptool {

Picture readPng(std::FILE* file, const std::string& shownPath);
void writePng(std::FILE* file, const std::string& shownPath, const Picture& picture);

Picture readTiff(const std::string& path);
void writeTiff(const std::string& path, const std::string& shownPath, const Picture& picture);

// Moves interleaved samples (row after row, 16-bit ones in host order) into the channels, and back.
void deinterleaveRow(const void* samples, Picture& picture, int32_t y);
void interleaveRow(const Picture& picture, int32_t y, void* samples);

}  // namespace kiptool
