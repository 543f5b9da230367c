// Images of the tool: kip's own kimg_image records behind a small owning wrapper, and a Picture,
// the channels of one image file. Colour files are kept as separate 8-bit or 16-bit gray channels
// so that every command can run the library channel by channel and put the colour back.
#pragma once

#include <kip/kip.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kiptool {

// Owns one kimg_image; move-only.
class Image {
 public:
  Image() { kimg_image_constructUnbound(&image_); }
  // A zero-filled image of pelSize bytes per pel; throws a Failure when the library refuses it.
  Image(int32_t pelSize, int32_t width, int32_t height);
  ~Image() { kimg_image_destruct(&image_); }
  Image(Image&& other) noexcept;
  Image& operator=(Image&& other) noexcept;
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  kimg_image* get() { return &image_; }
  const kimg_image* get() const { return &image_; }
  int32_t width() const { return image_.width; }
  int32_t height() const { return image_.height; }
  int32_t pelSize() const { return image_.pelSize; }

  template <typename Pel>
  Pel* row(int32_t y) {
    return static_cast<Pel*>(image_.firstPel) + static_cast<ptrdiff_t>(y) * image_.stride;
  }
  template <typename Pel>
  const Pel* row(int32_t y) const {
    return static_cast<const Pel*>(image_.firstPel) + static_cast<ptrdiff_t>(y) * image_.stride;
  }

  // A window over the whole image (which must be bound).
  kimg_window window();
  kimg_window window() const;

 private:
  kimg_image image_;
};

enum class ChannelLayout { gray, grayAlpha, rgb, rgba };

int channelCount(ChannelLayout layout);
std::string_view layoutName(ChannelLayout layout);                // "gray", "RGB", ...
std::string_view channelName(ChannelLayout layout, int channel);  // "gray", "red", "alpha", ...

struct Picture {
  int bitDepth = 8;  // 8 or 16: every channel has pels of bitDepth / 8 bytes
  ChannelLayout layout = ChannelLayout::gray;
  std::vector<Image> channels;

  int32_t width() const { return channels.empty() ? 0 : channels.front().width(); }
  int32_t height() const { return channels.empty() ? 0 : channels.front().height(); }
};

// A zero-filled picture.
Picture makePicture(int bitDepth, ChannelLayout layout, int32_t width, int32_t height);

// Interleaved 8-bit RGB of a picture, row after row, for display (plots): gray is repeated in the
// three colours, 16-bit values keep their high byte, alpha is left out.
std::vector<uint8_t> rgbPreview(const Picture& picture);

}  // namespace kiptool
