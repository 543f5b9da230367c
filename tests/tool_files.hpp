// Image files for the tool's tests, through libpng and libtiff directly: a codec fault cannot cancel out.
#pragma once

#include <png.h>
#include <tiffio.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace tooltest {

struct Raster {  // interleaved samples, row after row; 8-bit samples held in 16-bit values
  int width = 0, height = 0, channels = 1, depth = 8;
  std::vector<uint16_t> samples;
  uint16_t at(int x, int y, int c) const { return samples[(size_t(y) * width + x) * channels + c]; }
  bool operator==(const Raster&) const = default;
};

inline Raster randomRaster(int width, int height, int channels, int depth, uint32_t seed) {
  Raster raster{width, height, channels, depth, std::vector<uint16_t>(size_t(width) * height * channels)};
  std::mt19937 random(seed);
  for (auto& s : raster.samples) s = uint16_t(random() & (depth == 16 ? 0xFFFF : 0xFF));
  return raster;
}

inline std::vector<uint8_t> bytesOf(const Raster& r, bool native) {
  std::vector<uint8_t> bytes;
  for (const uint16_t s : r.samples) {
    uint8_t pair[2] = {uint8_t(s >> 8), uint8_t(s)};        // big-endian, as PNG stores it
    if (native && r.depth == 16) std::memcpy(pair, &s, 2);  // host order, as libtiff takes it
    bytes.insert(bytes.end(), pair + (r.depth == 8), pair + 2);
  }
  return bytes;
}
inline void setSamples(Raster& r, const uint8_t* bytes, bool native) {
  for (size_t i = 0; i < size_t(r.width) * r.height * r.channels; ++i) {
    uint16_t s = r.depth == 8 ? bytes[i] : uint16_t(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    if (native && r.depth == 16) std::memcpy(&s, bytes + 2 * i, 2);
    r.samples.push_back(s);
  }
}

inline void writePng(const std::string& path, const Raster& r) {  // libpng aborts on an error
  const std::vector<uint8_t> bytes = bytesOf(r, false);
  constexpr int kTypes[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGBA};
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_set_IHDR(png, info, r.width, r.height, r.depth, kTypes[r.channels - 1], PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < r.height; ++y) png_write_row(png, &bytes[bytes.size() / r.height * y]);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

inline Raster readPng(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return ADD_FAILURE() << "no file " << path, Raster{};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);  // a broken file aborts the test: the tool's own output must never be one
  png_read_info(png, info);
  Raster r{int(png_get_image_width(png, info)), int(png_get_image_height(png, info)), png_get_channels(png, info),
           png_get_bit_depth(png, info), {}};
  std::vector<png_byte> bytes(png_get_rowbytes(png, info) * r.height);
  for (int y = 0; y < r.height; ++y) png_read_row(png, &bytes[bytes.size() / r.height * y], nullptr);
  setSamples(r, bytes.data(), false);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return r;
}

inline void writeTiff(const std::string& path, const Raster& r) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tiff, nullptr) << path;
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(r.width)), TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(r.height));
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, r.depth), TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, r.channels);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, r.channels >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 2u);  // several strips, the last one partial at odd heights
  if (const uint16_t alpha = EXTRASAMPLE_UNASSALPHA; r.channels % 2 == 0) TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &alpha);
  const std::vector<uint8_t> bytes = bytesOf(r, true);
  for (int y = 0; y < r.height; ++y) EXPECT_GE(TIFFWriteScanline(tiff, (void*)&bytes[bytes.size() / r.height * y], y), 0);
  TIFFClose(tiff);
}

inline Raster readTiff(const std::string& path) {
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (tiff == nullptr) return ADD_FAILURE() << "libtiff could not open " << path, Raster{};
  uint32_t width = 0, height = 0;
  uint16_t depth = 0, channels = 0;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width), TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &depth), TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &channels);
  Raster r{int(width), int(height), channels, depth, {}};
  std::vector<uint8_t> bytes(TIFFScanlineSize(tiff) * height);
  for (uint32_t y = 0; y < height; ++y) EXPECT_GE(TIFFReadScanline(tiff, &bytes[y * bytes.size() / height], y, 0), 0);
  setSamples(r, bytes.data(), true);
  TIFFClose(tiff);
  return r;
}

}  // namespace tooltest
