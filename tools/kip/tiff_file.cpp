// TIFF through libtiff: strips or tiles, samples interleaved or in planes, 8 or 16 bits unsigned.
// libtiff's messages go to a buffer of ours instead of stderr, so that a failure is one line.
#include "image_codecs.hpp"

#include "failure.hpp"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace kiptool {
namespace {

// The first error libtiff reported since the last reset (the tool runs on one thread).
char gTiffError[256];

void onError(const char* module, const char* format, va_list arguments) {
  if (gTiffError[0] != '\0') return;
  std::vsnprintf(gTiffError, sizeof gTiffError, format, arguments);
  (void)module;
}

void onWarning(const char*, const char*, va_list) {}

void resetErrors() {
  gTiffError[0] = '\0';
  TIFFSetErrorHandler(onError);
  TIFFSetWarningHandler(onWarning);
}

std::string lastError() { return gTiffError[0] != '\0' ? gTiffError : "libtiff gave no reason"; }

struct TiffCloser {
  TIFF* tiff;
  ~TiffCloser() {
    if (tiff != nullptr) TIFFClose(tiff);
  }
};

struct Layout {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t bits = 0;
  uint16_t samples = 0;
  uint16_t planar = PLANARCONFIG_CONTIG;
  uint16_t photometric = PHOTOMETRIC_MINISBLACK;
};

[[noreturn]] void refuse(const std::string& path, const std::string& what) {
  fail(path + " has " + what + ", which kip does not read", "Convert it to 8-bit or 16-bit gray or RGB");
}

// Reads the whole image into interleaved samples (host order), one plane at a time when the file
// keeps its samples in planes.
std::vector<uint8_t> readSamples(TIFF* tiff, const Layout& layout, const std::string& path) {
  const size_t sampleBytes = layout.bits / 8;
  const size_t pelBytes = sampleBytes * layout.samples;
  const size_t rowBytes = pelBytes * layout.width;
  std::vector<uint8_t> samples(rowBytes * layout.height);
  const int planes = layout.planar == PLANARCONFIG_SEPARATE ? layout.samples : 1;
  const size_t chunkPelBytes = planes == 1 ? pelBytes : sampleBytes;  // bytes of one pel in a chunk
  // Copies a chunk (a row or a tile of one plane or of all samples) into place.
  auto place = [&](const uint8_t* chunk, uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, int plane) {
    const uint32_t wIn = std::min(w, layout.width - x0);
    const uint32_t hIn = std::min(h, layout.height - y0);
    for (uint32_t y = 0; y < hIn; ++y) {
      const uint8_t* from = chunk + static_cast<size_t>(y) * w * chunkPelBytes;
      uint8_t* to = samples.data() + (y0 + y) * rowBytes + x0 * pelBytes + plane * sampleBytes;
      for (uint32_t x = 0; x < wIn; ++x) std::memcpy(to + x * pelBytes, from + x * chunkPelBytes, chunkPelBytes);
    }
  };
  bool ok = true;
  if (TIFFIsTiled(tiff)) {
    uint32_t tileWidth = 0, tileHeight = 0;
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
    std::vector<uint8_t> tile(static_cast<size_t>(std::max<tmsize_t>(TIFFTileSize(tiff), 0)));
    if (tileWidth == 0 || tileHeight == 0 || tile.size() < tileWidth * tileHeight * chunkPelBytes) ok = false;
    for (int plane = 0; ok && plane < planes; ++plane) {
      for (uint32_t y = 0; ok && y < layout.height; y += tileHeight) {
        for (uint32_t x = 0; ok && x < layout.width; x += tileWidth) {
          ok = TIFFReadTile(tiff, tile.data(), x, y, 0, static_cast<uint16_t>(plane)) >= 0;
          if (ok) place(tile.data(), x, y, tileWidth, tileHeight, plane);
        }
      }
    }
  } else {
    std::vector<uint8_t> row(static_cast<size_t>(std::max<tmsize_t>(TIFFScanlineSize(tiff), 0)));
    if (row.size() < layout.width * chunkPelBytes) ok = false;
    for (int plane = 0; ok && plane < planes; ++plane) {
      for (uint32_t y = 0; ok && y < layout.height; ++y) {
        ok = TIFFReadScanline(tiff, row.data(), y, static_cast<uint16_t>(plane)) >= 0;
        if (ok) place(row.data(), 0, y, layout.width, 1, plane);
      }
    }
  }
  if (!ok) fail("cannot read " + path + ": " + lastError(), "Check that it is a complete, valid TIFF file");
  return samples;
}

// Palette indices to 8-bit RGB; the colour map holds 16-bit entries.
std::vector<uint8_t> expandPalette(TIFF* tiff, const std::vector<uint8_t>& indices, const std::string& path) {
  uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
  if (!TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue)) refuse(path, "a palette without a colour map");
  std::vector<uint8_t> rgb(indices.size() * 3);
  for (size_t i = 0; i < indices.size(); ++i) {
    rgb[3 * i] = static_cast<uint8_t>(red[indices[i]] >> 8);
    rgb[3 * i + 1] = static_cast<uint8_t>(green[indices[i]] >> 8);
    rgb[3 * i + 2] = static_cast<uint8_t>(blue[indices[i]] >> 8);
  }
  return rgb;
}

}  // namespace

Picture readTiff(const std::string& path) {
  resetErrors();
  TiffCloser closer{TIFFOpen(path.c_str(), "r")};
  TIFF* tiff = closer.tiff;
  if (tiff == nullptr) fail("cannot read " + path + ": " + lastError(), "Check that it is a complete, valid TIFF file");

  Layout layout;
  uint16_t sampleFormat = SAMPLEFORMAT_UINT;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout.width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout.height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &layout.bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &layout.samples);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &layout.planar);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
  if (!TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &layout.photometric)) {
    layout.photometric = layout.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
  }
  if (layout.width == 0 || layout.height == 0 || layout.width > INT32_MAX || layout.height > INT32_MAX) {
    fail("cannot read " + path + ": its size is " + std::to_string(layout.width) + " x " +
             std::to_string(layout.height),
         "Give an image with pels");
  }
  if (layout.bits != 8 && layout.bits != 16) refuse(path, std::to_string(layout.bits) + "-bit samples");
  if (sampleFormat != SAMPLEFORMAT_UINT) refuse(path, "signed or floating-point samples");

  const bool gray = layout.photometric == PHOTOMETRIC_MINISBLACK || layout.photometric == PHOTOMETRIC_MINISWHITE;
  const bool palette = layout.photometric == PHOTOMETRIC_PALETTE;
  ChannelLayout channels;
  if (gray && (layout.samples == 1 || layout.samples == 2)) {
    channels = layout.samples == 1 ? ChannelLayout::gray : ChannelLayout::grayAlpha;
  } else if (layout.photometric == PHOTOMETRIC_RGB && (layout.samples == 3 || layout.samples == 4)) {
    channels = layout.samples == 3 ? ChannelLayout::rgb : ChannelLayout::rgba;
  } else if (palette && layout.samples == 1 && layout.bits == 8) {
    channels = ChannelLayout::rgb;
  } else {
    refuse(path, std::to_string(layout.samples) + " samples a pel of photometric kind " +
                     std::to_string(layout.photometric));
  }

  std::vector<uint8_t> samples = readSamples(tiff, layout, path);
  if (palette) samples = expandPalette(tiff, samples, path);
  if (layout.photometric == PHOTOMETRIC_MINISWHITE) {
    // Zero is white in such files; the tool's images keep zero black. Alpha stays as it is.
    const size_t count = static_cast<size_t>(layout.width) * layout.height * layout.samples;
    for (size_t i = 0; i < count; i += layout.samples) {
      if (layout.bits == 8) {
        samples[i] = static_cast<uint8_t>(255 - samples[i]);
      } else {
        uint16_t value;
        std::memcpy(&value, &samples[2 * i], 2);
        value = static_cast<uint16_t>(65535 - value);
        std::memcpy(&samples[2 * i], &value, 2);
      }
    }
  }

  Picture picture = makePicture(layout.bits, channels, static_cast<int32_t>(layout.width),
                                static_cast<int32_t>(layout.height));
  const size_t rowBytes = static_cast<size_t>(layout.width) * channelCount(channels) * (layout.bits / 8);
  for (uint32_t y = 0; y < layout.height; ++y) {
    deinterleaveRow(samples.data() + y * rowBytes, picture, static_cast<int32_t>(y));
  }
  return picture;
}

void writeTiff(const std::string& path, const std::string& shownPath, const Picture& picture) {
  resetErrors();
  const int channels = channelCount(picture.layout);
  const size_t rowBytes = static_cast<size_t>(picture.width()) * channels * (picture.bitDepth / 8);
  // Classic TIFF addresses 4 GiB; leave room for the directory and use BigTIFF above that.
  const bool big = static_cast<double>(rowBytes) * picture.height() > 3.5e9;
  TiffCloser closer{TIFFOpen(path.c_str(), big ? "w8" : "w")};
  TIFF* tiff = closer.tiff;
  if (tiff == nullptr) fail("cannot write " + shownPath + ": " + lastError(), "Check that its folder is writable");

  const bool colour = picture.layout == ChannelLayout::rgb || picture.layout == ChannelLayout::rgba;
  const bool alpha = picture.layout == ChannelLayout::grayAlpha || picture.layout == ChannelLayout::rgba;
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(picture.width()));
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(picture.height()));
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(picture.bitDepth));
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(channels));
  TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, colour ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  if (alpha) {
    const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
  }
  if (TIFFIsCODECConfigured(COMPRESSION_ADOBE_DEFLATE)) {
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  }
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));

  std::vector<uint8_t> row(rowBytes);
  bool ok = true;
  for (int32_t y = 0; ok && y < picture.height(); ++y) {
    interleaveRow(picture, y, row.data());
    ok = TIFFWriteScanline(tiff, row.data(), static_cast<uint32_t>(y), 0) >= 0;
  }
  ok = ok && TIFFFlush(tiff) == 1;
  if (!ok) fail("cannot write " + shownPath + ": " + lastError(), "Check the free space");
}

}  // namespace kiptool
