// What the two affine-projection fuzz targets share: destinations (images or windows of 32-bit
// pels, hostile ones included), reading entry i at pel-grid (i, 0), and the range a projection
// entry must lie in.
#pragma once

#include "fuzz_support.hpp"

namespace kipfuzz {

// A projection vector the caller owns: an image (unbound, bound to exact 32-bit pels at a fuzzed
// origin and size, of a wrong pel size, or sharing the source's storage) and a window over it.
class VectorTarget {
 public:
  VectorTarget(Input& in, const ExactImage& source, int32_t xCount);
  ~VectorTarget();
  VectorTarget(const VectorTarget&) = delete;
  VectorTarget& operator=(const VectorTarget&) = delete;

  kimg_image* image() { return image_; }
  kimg_window* window() { return &window_; }
  // Entry i, read where pel-grid (i, 0) of the image (or of the window) lies now; false when it
  // holds no such pel.
  bool imageEntry(int32_t i, uint32_t* value) const;
  bool windowEntry(int32_t i, uint32_t* value) const;

 private:
  std::unique_ptr<ExactImage> owned_;
  kimg_image shared_{};
  kimg_image* image_ = nullptr;
  kimg_window window_{};
};

// Every pel of a 32-bit window and where it lies in the pel grid, to find what a call wrote.
class VectorPels {
 public:
  explicit VectorPels(const kimg_window& window);
  // Aborts unless every pel outside pel-grid row 0, columns 0 to xCount - 1, is as it was.
  void expectOnlyEntriesWritten(const char* call, int32_t xCount) const;

 private:
  kimg_window window_{};
  std::vector<uint32_t> values_;
};

// Entry i of a projection vector image: its pel at pel-grid (i, 0); false when it holds none.
bool imageEntryOf(const kimg_image* image, int32_t i, uint32_t* value);

// Lowest and highest possible entry i of a projection of 8-bit or 16-bit pels that samples within
// the source (nearest, bilinear and two-pass linear sampling; each sample within the pels around
// it); false when the column cannot be judged (positions too imprecise, sums that may wrap).
bool entryRange(const kimg_window& source, const kmath_xformLinear& imageFromClient, const affineSampleParams& params,
                int32_t i, uint64_t* low, uint64_t* high);

// Lowers yCount so that the projection stays within the sample budget, unless its vector could
// not be allocated anyway.
void capProjectionWork(affineSampleParams* params);

}  // namespace kipfuzz
