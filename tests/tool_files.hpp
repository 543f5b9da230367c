// Image files for the tool's tests, written and read straight through libpng and libtiff rather
// than through the tool's own codecs, so that a fault in those shows instead of cancelling out.
#pragma once

#include <png.h>
#include <tiffio.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace tooltest {

// Interleaved samples, row after row; 8-bit samples are held in 16-bit values.
struct Raster {
  int width = 0, height = 0, channels = 1, depth = 8;
  std::vector<uint16_t> samples;

  uint16_t at(int x, int y, int c) const { return samples[(size_t(y) * width + x) * channels + c]; }
  bool operator==(const Raster&) const = default;
};

inline Raster randomRaster(int width, int height, int channels, int depth, uint32_t seed) {
  Raster raster{width, height, channels, depth, std::vector<uint16_t>(size_t(width) * height * channels)};
  std::mt19937 random(seed);
  for (auto& s : raster.samples) s = static_cast<uint16_t>(random() & (depth == 16 ? 0xFFFF : 0xFF));
  return raster;
}

// The file's bytes as they are: 16-bit samples are big-endian pairs. With a palette, the samples
// are 8-bit indices into it.
inline void writePng(const std::string& path, const Raster& r, const std::vector<png_color>& palette = {}) {
  const size_t rowBytes = size_t(r.width) * r.channels * (r.depth / 8);
  std::vector<png_byte> bytes(rowBytes * r.height);
  for (size_t i = 0; i < r.samples.size(); ++i) {
    if (r.depth == 16) bytes[2 * i] = png_byte(r.samples[i] >> 8);
    bytes[r.depth == 16 ? 2 * i + 1 : i] = png_byte(r.samples[i] & 0xFF);
  }
  std::vector<png_bytep> rows(r.height);
  for (int y = 0; y < r.height; ++y) rows[y] = bytes.data() + y * rowBytes;
  constexpr int kTypes[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGBA};
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    const int type = palette.empty() ? kTypes[r.channels - 1] : PNG_COLOR_TYPE_PALETTE;
    png_set_IHDR(png, info, r.width, r.height, r.depth, type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), int(palette.size()));
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
  } else {
    ADD_FAILURE() << "libpng could not write " << path;
  }
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

inline Raster readPng(const std::string& path) {
  Raster r;
  std::vector<png_byte> bytes;
  std::vector<png_bytep> rows;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    ADD_FAILURE() << "no file " << path;
    return r;
  }
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_read_info(png, info);
    r.width = int(png_get_image_width(png, info));
    r.height = int(png_get_image_height(png, info));
    r.depth = png_get_bit_depth(png, info);
    r.channels = png_get_channels(png, info);
    bytes.resize(png_get_rowbytes(png, info) * r.height);
    rows.resize(r.height);
    for (int y = 0; y < r.height; ++y) rows[y] = bytes.data() + y * png_get_rowbytes(png, info);
    png_read_image(png, rows.data());
    r.samples.resize(size_t(r.width) * r.height * r.channels);
    for (size_t i = 0; i < r.samples.size(); ++i) {
      r.samples[i] = r.depth == 16 ? uint16_t(bytes[2 * i] << 8 | bytes[2 * i + 1]) : bytes[i];
    }
  } else {
    ADD_FAILURE() << "libpng could not read " << path;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  return r;
}

// Strips of two rows, or 16 x 16 tiles (partial at the right and bottom edges); samples
// interleaved, or in separate planes; gray with zero black, or with zero white.
inline void writeTiff(const std::string& path, const Raster& r, bool tiled = false, bool planes = false,
                      bool whiteZero = false) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tiff, nullptr) << path;
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(r.width));
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(r.height));
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, r.depth);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, r.channels);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC,
               r.channels >= 3 ? PHOTOMETRIC_RGB : whiteZero ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, planes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  if (r.channels == 2 || r.channels == 4) {
    const uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &alpha);
  }
  const int side = tiled ? 16 : r.width, rows = tiled ? 16 : 1;
  if (tiled) {
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16u);
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16u);
  } else {
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, 2u);
  }
  const int perPel = planes ? 1 : r.channels, bytes = r.depth / 8;
  std::vector<uint8_t> chunk(size_t(side) * rows * perPel * bytes);
  for (int plane = 0; plane < (planes ? r.channels : 1); ++plane) {
    for (int y0 = 0; y0 < r.height; y0 += rows) {
      for (int x0 = 0; x0 < r.width; x0 += side) {
        std::fill(chunk.begin(), chunk.end(), 0);
        for (int y = y0; y < std::min(y0 + rows, r.height); ++y) {
          for (int x = x0; x < std::min(x0 + side, r.width); ++x) {
            for (int k = 0; k < perPel; ++k) {
              const uint16_t s = r.at(x, y, planes ? plane : k);
              uint8_t* to = &chunk[((size_t(y - y0) * side + (x - x0)) * perPel + k) * bytes];
              bytes == 2 ? void(std::memcpy(to, &s, 2)) : void(*to = uint8_t(s));
            }
          }
        }
        EXPECT_GE(tiled ? TIFFWriteTile(tiff, chunk.data(), x0, y0, 0, uint16_t(plane))
                        : TIFFWriteScanline(tiff, chunk.data(), y0, uint16_t(plane)),
                  0);
      }
    }
  }
  TIFFClose(tiff);
}

inline Raster readTiff(const std::string& path) {
  Raster r;
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (tiff == nullptr) {
    ADD_FAILURE() << "libtiff could not open " << path;
    return r;
  }
  uint32_t width = 0, height = 0;
  uint16_t depth = 0, channels = 0;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &depth);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &channels);
  r = Raster{int(width), int(height), channels, depth, {}};
  std::vector<uint8_t> row(TIFFScanlineSize(tiff));
  for (uint32_t y = 0; y < height; ++y) {
    EXPECT_GE(TIFFReadScanline(tiff, row.data(), y, 0), 0);
    for (size_t i = 0; i < size_t(width) * channels; ++i) {
      uint16_t s = row[i];
      if (depth == 16) std::memcpy(&s, &row[2 * i], 2);
      r.samples.push_back(s);
    }
  }
  TIFFClose(tiff);
  return r;
}

}  // namespace tooltest
