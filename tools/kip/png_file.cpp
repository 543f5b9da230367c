// PNG through libpng. libpng reports errors by longjmp; the functions that call setjmp hold no
// object with a destructor and keep their state in the caller's memory, so a jump skips nothing.
// Samples of 16 bits are big-endian in the file whatever the host; they are converted here
// explicitly rather than with png_set_swap, which assumes a little-endian host.
#include "image_codecs.hpp"

#include "failure.hpp"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace kiptool {
namespace {

// libpng's first error message, kept in plain memory the error callback can fill without C++.
struct PngErrors {
  char message[256] = "";
};

void onError(png_structp png, png_const_charp message) {
  auto* errors = static_cast<PngErrors*>(png_get_error_ptr(png));
  if (errors->message[0] == '\0') std::snprintf(errors->message, sizeof errors->message, "%s", message);
  png_longjmp(png, 1);
}

// Warnings (a bad colour profile, an unknown chunk) do not stop the reading; stay quiet.
void onWarning(png_structp, png_const_charp) {}

struct Header {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colourType = 0;
  size_t rowBytes = 0;
};

bool readHeader(png_structp png, png_infop info, Header* header) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  const int colourType = png_get_color_type(png, info);
  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colourType == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  header->width = png_get_image_width(png, info);
  header->height = png_get_image_height(png, info);
  header->bitDepth = png_get_bit_depth(png, info);
  header->colourType = png_get_color_type(png, info);
  header->rowBytes = png_get_rowbytes(png, info);
  return true;
}

bool readRows(png_structp png, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  return true;
}

bool writeAll(png_structp png, png_infop info, const Header* header, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, header->width, header->height, header->bitDepth, header->colourType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  return true;
}

ChannelLayout layoutOf(int colourType) {
  switch (colourType) {
    case PNG_COLOR_TYPE_GRAY_ALPHA: return ChannelLayout::grayAlpha;
    case PNG_COLOR_TYPE_RGB: return ChannelLayout::rgb;
    case PNG_COLOR_TYPE_RGB_ALPHA: return ChannelLayout::rgba;
    default: return ChannelLayout::gray;
  }
}

int colourTypeOf(ChannelLayout layout) {
  switch (layout) {
    case ChannelLayout::gray: return PNG_COLOR_TYPE_GRAY;
    case ChannelLayout::grayAlpha: return PNG_COLOR_TYPE_GRAY_ALPHA;
    case ChannelLayout::rgb: return PNG_COLOR_TYPE_RGB;
    case ChannelLayout::rgba: return PNG_COLOR_TYPE_RGB_ALPHA;
  }
  return PNG_COLOR_TYPE_GRAY;
}

// Big-endian file samples to host order and back, in place.
void bigEndianToHost(png_bytep bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const uint16_t value = static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    std::memcpy(bytes + 2 * i, &value, 2);
  }
}

void hostToBigEndian(png_bytep bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    uint16_t value;
    std::memcpy(&value, bytes + 2 * i, 2);
    bytes[2 * i] = static_cast<png_byte>(value >> 8);
    bytes[2 * i + 1] = static_cast<png_byte>(value & 0xFF);
  }
}

std::vector<png_bytep> rowPointers(std::vector<png_byte>& pels, size_t rowBytes, png_uint_32 height) {
  std::vector<png_bytep> rows(height);
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = pels.data() + y * rowBytes;
  return rows;
}

}  // namespace

Picture readPng(std::FILE* file, const std::string& shownPath) {
  PngErrors errors;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, onError, onWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  struct Release {
    png_structp* png;
    png_infop* info;
    ~Release() { png_destroy_read_struct(png, info, nullptr); }
  } release{&png, &info};
  if (info == nullptr) fail("cannot read " + shownPath + ": out of memory", "Free some memory");
  png_init_io(png, file);

  Header header;
  std::vector<png_byte> pels;
  std::vector<png_bytep> rows;
  bool ok = readHeader(png, info, &header);
  if (ok) {
    pels.resize(header.rowBytes * header.height);
    rows = rowPointers(pels, header.rowBytes, header.height);
    ok = readRows(png, rows.data());
  }
  if (!ok) {
    fail("cannot read " + shownPath + ": " + errors.message, "Check that it is a complete, valid PNG file");
  }

  Picture picture = makePicture(header.bitDepth, layoutOf(header.colourType), static_cast<int32_t>(header.width),
                                static_cast<int32_t>(header.height));
  const size_t samplesPerRow = static_cast<size_t>(header.width) * channelCount(picture.layout);
  for (png_uint_32 y = 0; y < header.height; ++y) {
    if (header.bitDepth == 16) bigEndianToHost(rows[y], samplesPerRow);
    deinterleaveRow(rows[y], picture, static_cast<int32_t>(y));
  }
  return picture;
}

void writePng(std::FILE* file, const std::string& shownPath, const Picture& picture) {
  PngErrors errors;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, onError, onWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  struct Release {
    png_structp* png;
    png_infop* info;
    ~Release() { png_destroy_write_struct(png, info); }
  } release{&png, &info};
  if (info == nullptr) fail("cannot write " + shownPath + ": out of memory", "Free some memory");
  png_init_io(png, file);

  Header header;
  header.width = static_cast<png_uint_32>(picture.width());
  header.height = static_cast<png_uint_32>(picture.height());
  header.bitDepth = picture.bitDepth;
  header.colourType = colourTypeOf(picture.layout);
  const size_t samplesPerRow = static_cast<size_t>(header.width) * channelCount(picture.layout);
  header.rowBytes = samplesPerRow * static_cast<size_t>(picture.bitDepth / 8);

  std::vector<png_byte> pels(header.rowBytes * header.height);
  std::vector<png_bytep> rows = rowPointers(pels, header.rowBytes, header.height);
  for (png_uint_32 y = 0; y < header.height; ++y) {
    interleaveRow(picture, static_cast<int32_t>(y), rows[y]);
    if (picture.bitDepth == 16) hostToBigEndian(rows[y], samplesPerRow);
  }
  if (!writeAll(png, info, &header, rows.data())) {
    fail("cannot write " + shownPath + ": " + errors.message, "Check the image size and the free space");
  }
}

}  // namespace kiptool
