// Image files for the tool's tests, through libpng and libtiff directly: a codec fault cannot cancel out.
#pragma once

#include <png.h>
#include <tiffio.h>

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace tooltest {

// Interleaved samples, row after row, as the codecs take them: bytes at 8 bits, host-order values at
// 16 (libpng swaps them to its big-endian order when told to).
struct Raster {
  int width = 0, height = 0, channels = 1, depth = 8;
  std::vector<uint8_t> bytes;
  uint16_t sample(size_t i) const { uint16_t s = bytes[i]; return depth == 8 ? s : (std::memcpy(&s, &bytes[2 * i], 2), s); }
  uint16_t at(int x, int y, int c) const { return sample((size_t(y) * width + x) * channels + c); }
  bool operator==(const Raster&) const = default;
};

inline Raster randomRaster(int width, int height, int channels, int depth, uint32_t seed) {
  Raster raster{width, height, channels, depth, std::vector<uint8_t>(size_t(width) * height * channels * depth / 8)};
  for (std::mt19937 random(seed); auto& b : raster.bytes) b = uint8_t(random());
  return raster;
}

constexpr int kPngHostOrder = std::endian::native == std::endian::little ? PNG_TRANSFORM_SWAP_ENDIAN : 0;

inline void writePng(const std::string& path, const Raster& r) {  // libpng aborts on an error
  std::vector<png_bytep> rows;
  for (int y = 0; y < r.height; ++y) rows.push_back(const_cast<uint8_t*>(&r.bytes[r.bytes.size() / r.height * y]));
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_set_IHDR(png, info, r.width, r.height, r.depth, (r.channels >= 3 ? PNG_COLOR_MASK_COLOR : 0) | (r.channels % 2 ? 0 : PNG_COLOR_MASK_ALPHA), PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_rows(png, info, rows.data()), png_write_png(png, info, kPngHostOrder, nullptr);
  png_destroy_write_struct(&png, &info), std::fclose(file);
}

inline Raster readPng(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return ADD_FAILURE() << "no file " << path, Raster{};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file), png_read_png(png, info, kPngHostOrder, nullptr);  // a broken file aborts the test
  Raster r{int(png_get_image_width(png, info)), int(png_get_image_height(png, info)), png_get_channels(png, info), png_get_bit_depth(png, info), {}};
  for (int y = 0; y < r.height; ++y) r.bytes.insert(r.bytes.end(), png_get_rows(png, info)[y], png_get_rows(png, info)[y] + png_get_rowbytes(png, info));
  png_destroy_read_struct(&png, &info, nullptr), std::fclose(file);
  return r;
}

inline void writeTiff(const std::string& path, const Raster& r) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tiff, nullptr) << path;
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(r.width)), TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(r.height));
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, r.depth), TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, r.channels);
  // Several strips, the last one partial at odd heights.
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, r.channels >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK), TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 2u);
  if (const uint16_t alpha = EXTRASAMPLE_UNASSALPHA; r.channels % 2 == 0) TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &alpha);
  for (int y = 0; y < r.height; ++y) EXPECT_GE(TIFFWriteScanline(tiff, const_cast<uint8_t*>(&r.bytes[r.bytes.size() / r.height * y]), y), 0);
  TIFFClose(tiff);
}

inline Raster readTiff(const std::string& path) {
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (tiff == nullptr) return ADD_FAILURE() << "libtiff could not open " << path, Raster{};
  uint32_t width = 0, height = 0;
  uint16_t depth = 0, channels = 0;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width), TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &depth), TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &channels);
  Raster r{int(width), int(height), channels, depth, std::vector<uint8_t>(TIFFScanlineSize(tiff) * height)};
  for (uint32_t y = 0; y < height; ++y) EXPECT_GE(TIFFReadScanline(tiff, &r.bytes[y * r.bytes.size() / height], y, 0), 0);
  TIFFClose(tiff);
  return r;
}

}  // namespace tooltest
