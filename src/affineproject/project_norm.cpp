// Normalised projections: a profile the caller can turn into means without knowing whether the
// sampling left the source. Inside the source every entry summed yCount samples, so the sums stay
// and the divisor is yCount. A clipped sampling sums a different number of source samples into each
// entry; each entry is then divided by its own coverage here, the divisor becomes 1, and the range
// narrows to the entries that saw the source.
#include "affineproject/affineproject.hpp"

#include "frame/export_guard.hpp"
#include "frame/frame.hpp"
#include "platform/platform.hpp"

#include <algorithm>
#include <cmath>

namespace {

// The coverage value of the normalised projections: the indicator's 255 is one whole sample.
constexpr uint8_t kFullCoverage = 255;

struct Range {
  uint32_t start, end;
};

// Indexes [0, xCount) that the image holds in pel-grid row 0, where the entries lie; an image
// holding none (one without that row among them) gives [0, 0).
Range heldRange(const kimg_image& image, int32_t xCount) {
  if (image.yOrigin > 0 || int64_t{image.yOrigin} + image.height <= 0) return {0, 0};
  const int64_t start = std::max<int64_t>(0, image.xOrigin);
  const int64_t end = std::min<int64_t>(xCount, int64_t{image.xOrigin} + image.width);
  if (start >= end) return {0, 0};
  return {static_cast<uint32_t>(start), static_cast<uint32_t>(end)};
}

// sum / q rounded, where q >= 0.5. Only sums that wrapped past 2^32 can give a mean beyond 32 bits;
// it saturates rather than reach an out-of-range conversion.
uint32_t roundedMean(uint32_t sum, double q) {
  const double mean = static_cast<double>(sum) / q + 0.5;
  return mean >= 4294967295.0 ? UINT32_MAX : static_cast<uint32_t>(mean);
}

// Pels of a 32-bit image by pel-grid x in pel-grid row 0 (the image's own first row only when its
// y origin is 0), which the image must hold.
class Entries {
 public:
  int32_t init(kimg_image* image) {
    int32_t status = kimg_window_init(&window_, image);
    if (status < 0) return status;
    status = kimg_window_validate(&window_, 4);
    if (status < 0) return status;
    return kimg_window_window(&window_, window_.xOrigin, 0, window_.width, 1, nullptr);
  }
  uint32_t& operator[](int64_t x) const { return static_cast<uint32_t*>(window_.firstPel)[x - window_.xOrigin]; }

 private:
  kimg_window window_{};
};

// Moves first and last inward past zero coverage; false when nothing but zeros lies between them.
bool trim(const Entries& coverage, int64_t* first, int64_t* last) {
  while (*first < *last && coverage[*first] == 0) ++*first;
  while (*first < *last && coverage[*last] == 0) --*last;
  return coverage[*first] != 0;
}

}  // namespace

int32_t affineProject_normalise(kimg_image* sums, kimg_image* coverage, uint8_t coverageValue, int32_t xCount,
                                uint32_t* sampleCount, uint32_t* validStart, uint32_t* validEnd) {
  if (sums == nullptr || coverage == nullptr) return KIP_ERR_NULL_POINTER;
  if (coverageValue == 0) return KIP_ERR_OUT_OF_RANGE;  // no whole sample to divide by
  const Range ofSums = heldRange(*sums, xCount), ofCoverage = heldRange(*coverage, xCount);
  const int64_t start = std::max(ofSums.start, ofCoverage.start);
  const int64_t end = std::min(ofSums.end, ofCoverage.end);
  if (start >= end) {
    if (validStart != nullptr) *validStart = 0;
    if (validEnd != nullptr) *validEnd = 0;
    return 0;
  }
  Entries sum, cover;
  int32_t status = sum.init(sums);
  if (status >= 0) status = cover.init(coverage);
  if (status < 0) return status;

  int64_t first = start, last = end - 1;
  if (!trim(cover, &first, &last)) {
    if (validStart != nullptr) *validStart = static_cast<uint32_t>(end);
    if (validEnd != nullptr) *validEnd = static_cast<uint32_t>(end);
    return 0;
  }
  // Divide by the unrounded coverage: an edge sample that straddles the source counts with its
  // fraction. The rounded coverage only decides which entries hold a mean at all.
  const double scale = 1.0 / coverageValue;
  for (int64_t i = first; i <= last; ++i) {
    const double q = static_cast<double>(cover[i]) * scale;
    const auto n = static_cast<uint32_t>(q + 0.5);  // q + 0.5 < 2^32: coverage is a 32-bit count
    cover[i] = n;
    sum[i] = n != 0 ? roundedMean(sum[i], q) : 0;
  }
  // Entries at either end that held only a sliver of the source leave the range; one in the middle
  // stays, at 0.
  // Slivers alone leave no entry to divide: the range is empty and the count unwritten, as when
  // nothing saw the source.
  const bool any = trim(cover, &first, &last);
  if (sampleCount != nullptr && any) *sampleCount = 1;
  if (validStart != nullptr) *validStart = static_cast<uint32_t>(any ? first : end);
  if (validEnd != nullptr) *validEnd = static_cast<uint32_t>(any ? last + 1 : end);
  return 0;
}

namespace {

struct Norm8 {
  static constexpr auto project = kip_affineProject;
  static constexpr auto projectClipped = kip_affineProjectClipped;
};

struct Norm16 {
  static constexpr auto project = kip_affineProject16;
  static constexpr auto projectClipped = kip_affineProjectClipped16;
};

template <class N>
int32_t projectNorm(const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                    uint32_t clipped, affineSampleCache** handle, uint32_t* sampleCount, uint32_t* validStart,
                    uint32_t* validEnd) {
  if (source == nullptr || destination == nullptr || params == nullptr) return KIP_ERR_NULL_POINTER;
  uint32_t count = 0;
  if (!clipped) {
    const int32_t status = N::project(source, destination, params, handle, &count);
    if (status < 0) return status;
    const Range range = heldRange(*destination, params->xCount);
    if (sampleCount != nullptr) *sampleCount = count;
    if (validStart != nullptr) *validStart = range.start;
    if (validEnd != nullptr) *validEnd = range.end;
    return status;
  }

  CleanupList cleanup;
  kimg_image coverage{};
  int32_t status = kimg_image_constructUnbound(&coverage);
  if (status < 0) return status;
  cleanup.addObject<kimg_image_destruct>(&coverage);
  uint32_t clips = 0;
  status = N::projectClipped(source, destination, &coverage, params, handle, kFullCoverage, &count, &clips);
  Range range{};
  // The normalisation writes a count of 1 unless it finds no entry to divide; 0 marks that.
  uint32_t normalisedCount = 0;
  if (status >= 0) {
    range = heldRange(*destination, params->xCount);
    if (clips) {
      status = affineProject_normalise(destination, &coverage, kFullCoverage, params->xCount, &normalisedCount,
                                       &range.start, &range.end);
    }
  }
  status = cleanup.finish(status);
  if (status < 0) return status;
  if (sampleCount != nullptr && (!clips || normalisedCount != 0)) *sampleCount = clips ? normalisedCount : count;
  if (validStart != nullptr) *validStart = range.start;
  if (validEnd != nullptr) *validEnd = range.end;
  return status;
}

}  // namespace

extern "C" {

KIP_API int32_t kip_affineProjectNorm(const kimg_image* source, kimg_image* destination,
                                      const affineSampleParams* params, uint32_t clipped, affineSampleCache** cache,
                                      uint32_t* sampleCount, uint32_t* validStart, uint32_t* validEnd) {
  return guardExport(
      [&] { return projectNorm<Norm8>(source, destination, params, clipped, cache, sampleCount, validStart, validEnd); });
}

KIP_API int32_t kip_affineProjectNorm16(const kimg_image* source, kimg_image* destination,
                                        const affineSampleParams* params, uint32_t clipped, affineSampleCache** cache,
                                        uint32_t* sampleCount, uint32_t* validStart, uint32_t* validEnd) {
  return guardExport([&] {
    return projectNorm<Norm16>(source, destination, params, clipped, cache, sampleCount, validStart, validEnd);
  });
}

}  // extern "C"
