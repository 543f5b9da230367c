#include "image.hpp"

#include "failure.hpp"
#include "status_text.hpp"

#include <string>
#include <utility>

namespace kiptool {

Image::Image(int32_t pelSize, int32_t width, int32_t height) {
  const std::string what = "a " + std::to_string(width) + " x " + std::to_string(height) + " image";
  const int32_t status = kimg_image_construct(&image_, pelSize, width, height);
  if (status == KIP_ERR_BAD_SIZE) fail(what + " is too large to hold", "Use a smaller image or size");
  checkStatus(status, "making " + what);
}

// The record holds no address of itself, so moving it is copying it and leaving the source
// unbound.
Image::Image(Image&& other) noexcept : image_(other.image_) { kimg_image_constructUnbound(&other.image_); }

Image& Image::operator=(Image&& other) noexcept {
  if (this != &other) {
    kimg_image_destruct(&image_);
    image_ = other.image_;
    kimg_image_constructUnbound(&other.image_);
  }
  return *this;
}

kimg_window Image::window() {
  kimg_window window;
  checkStatus(kimg_window_init(&window, &image_), "making a window over an image");
  return window;
}

kimg_window Image::window() const {
  kimg_window window;
  checkStatus(kimg_windowConst_init(&window, &image_), "making a window over an image");
  return window;
}

int channelCount(ChannelLayout layout) {
  switch (layout) {
    case ChannelLayout::gray: return 1;
    case ChannelLayout::grayAlpha: return 2;
    case ChannelLayout::rgb: return 3;
    case ChannelLayout::rgba: return 4;
  }
  return 1;
}

std::string_view layoutName(ChannelLayout layout) {
  switch (layout) {
    case ChannelLayout::gray: return "gray";
    case ChannelLayout::grayAlpha: return "gray+alpha";
    case ChannelLayout::rgb: return "RGB";
    case ChannelLayout::rgba: return "RGBA";
  }
  return "gray";
}

std::string_view channelName(ChannelLayout layout, int channel) {
  const bool hasAlpha = layout == ChannelLayout::grayAlpha || layout == ChannelLayout::rgba;
  if (hasAlpha && channel == channelCount(layout) - 1) return "alpha";
  if (layout == ChannelLayout::gray || layout == ChannelLayout::grayAlpha) return "gray";
  constexpr std::string_view colours[] = {"red", "green", "blue"};
  return colours[channel];
}

Picture makePicture(int bitDepth, ChannelLayout layout, int32_t width, int32_t height) {
  Picture picture;
  picture.bitDepth = bitDepth;
  picture.layout = layout;
  for (int c = 0; c < channelCount(layout); ++c) picture.channels.emplace_back(bitDepth / 8, width, height);
  return picture;
}

std::vector<uint8_t> rgbPreview(const Picture& picture) {
  const int32_t width = picture.width();
  const int32_t height = picture.height();
  const bool colour = picture.layout == ChannelLayout::rgb || picture.layout == ChannelLayout::rgba;
  std::vector<uint8_t> rgb(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  for (int k = 0; k < 3; ++k) {
    const Image& channel = picture.channels[colour ? k : 0];
    for (int32_t y = 0; y < height; ++y) {
      uint8_t* out = rgb.data() + (static_cast<size_t>(y) * width) * 3 + k;
      for (int32_t x = 0; x < width; ++x) {
        out[static_cast<size_t>(x) * 3] = picture.bitDepth == 16 ? static_cast<uint8_t>(channel.row<uint16_t>(y)[x] >> 8)
                                                                 : channel.row<uint8_t>(y)[x];
      }
    }
  }
  return rgb;
}

}  // namespace kiptool
