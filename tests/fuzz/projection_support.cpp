#include "projection_support.hpp"

#include <algorithm>

namespace kipfuzz {

VectorTarget::VectorTarget(Input& in, const ExactImage& source, int32_t xCount) {
  kimg_image_constructUnbound(&shared_);
  switch (in.byte() % 8) {
    case 0:
    case 1: owned_ = std::make_unique<ExactImage>(); break;
    case 2: kimg_image_assign(&shared_, source.get()); break;
    case 3:
      if (xCount >= 1 && xCount <= 400) {
        owned_ = std::make_unique<ExactImage>(4, xCount, 1, xCount, in.u32());
        break;
      }
      [[fallthrough]];
    default: {
      owned_ = makeImage(in, 4, 320);
      if (owned_->bound() && in.flag()) owned_->get()->xOrigin = owned_->get()->yOrigin = 0;
      if (owned_->bound() && in.flag()) owned_->get()->xOrigin = -in.range(1, 8);
      break;
    }
  }
  image_ = owned_ ? owned_->get() : &shared_;
  if (owned_) {
    window_ = makeWindow(in, *owned_);
  } else {
    kimg_windowConst_init(&window_, &shared_);
  }
}

VectorTarget::~VectorTarget() { kimg_image_destruct(&shared_); }

namespace {

bool entryOf(const kimg_window& window, int32_t i, uint32_t* value) {
  if (window.pelSize != 4 || window.firstPel == nullptr) return false;
  const int64_t x = int64_t{i} - window.xOrigin, y = -int64_t{window.yOrigin};
  if (x < 0 || y < 0 || x >= window.width || y >= window.height) return false;
  *value = pelAt(window, static_cast<int32_t>(x), static_cast<int32_t>(y));
  return true;
}

}  // namespace

bool imageEntryOf(const kimg_image* image, int32_t i, uint32_t* value) {
  kimg_window window{};
  return kimg_windowConst_init(&window, image) >= 0 && entryOf(window, i, value);
}

bool VectorTarget::imageEntry(int32_t i, uint32_t* value) const { return imageEntryOf(image_, i, value); }

bool VectorTarget::windowEntry(int32_t i, uint32_t* value) const { return entryOf(window_, i, value); }

VectorPels::VectorPels(const kimg_window& w) : window_(w) {
  if (w.pelSize != 4 || w.width <= 0 || w.height <= 0 || w.firstPel == nullptr || w.stride < w.width) return;
  for (int32_t y = 0; y < w.height; ++y) {
    for (int32_t x = 0; x < w.width; ++x) values_.push_back(pelAt(w, x, y));
  }
}

void VectorPels::expectOnlyEntriesWritten(const char* call, int32_t xCount) const {
  if (values_.empty()) return;
  size_t k = 0;
  for (int32_t y = 0; y < window_.height; ++y) {
    for (int32_t x = 0; x < window_.width; ++x, ++k) {
      const int64_t gx = int64_t{window_.xOrigin} + x, gy = int64_t{window_.yOrigin} + y;
      if ((gy != 0 || gx < 0 || gx >= xCount) && pelAt(window_, x, y) != values_[k]) {
        fail(call, "wrote outside its entries");
      }
    }
  }
}

bool entryRange(const kimg_window& source, const kmath_xformLinear& imageFromClient, const affineSampleParams& params,
                int32_t i, uint64_t* low, uint64_t* high) {
  if (params.yCount > 256) return false;  // keeps the check cheap and the sums below 2^32
  *low = *high = 0;
  for (int32_t row = 0; row < params.yCount; ++row) {
    uint32_t l = 0, h = 0;
    if (!sourceRange(source, imageFromClient, params, i, row, &l, &h)) return false;
    *low += l;
    *high += h;
  }
  return true;
}

void capProjectionWork(affineSampleParams* params) {
  if (params->xCount < 1 || params->yCount < 1) return;
  if (static_cast<uint64_t>(params->xCount) * 4 > kAllocationLimit) return;  // no vector for it
  if (int64_t{params->xCount} * params->yCount <= kSampleBudget) return;
  params->yCount = static_cast<int32_t>(std::max<int64_t>(1, kSampleBudget / params->xCount));
}

}  // namespace kipfuzz
