// Helpers shared by the test programs: owning wrappers for images and vectors, scoped switches for
// the optimization hook, the processor query and allocation failures, and random test images.
#pragma once

#include <kip/kip.h>

#include "platform/cpuinfo.hpp"
#include "platform/memory.hpp"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace kiptest {

// An image record that is destructed with its scope.
class ScopedImage {
 public:
  ScopedImage() { kimg_image_constructUnbound(&image_); }
  ScopedImage(int32_t pelSize, int32_t width, int32_t height);
  ~ScopedImage() { kimg_image_destruct(&image_); }
  ScopedImage(const ScopedImage&) = delete;
  ScopedImage& operator=(const ScopedImage&) = delete;

  kimg_image* get() { return &image_; }
  const kimg_image* get() const { return &image_; }
  kimg_window window();
  // Pel (x, y) of the stored pels (not pel-grid coordinates).
  template <typename Pel>
  Pel& at(int32_t x, int32_t y) {
    return static_cast<Pel*>(image_.firstPel)[static_cast<ptrdiff_t>(y) * image_.stride + x];
  }

 private:
  kimg_image image_;
};

class ScopedVector {
 public:
  ScopedVector() { kstd_vector32_construct(&vector_); }
  ~ScopedVector() { kstd_vector32_destruct(&vector_); }
  ScopedVector(const ScopedVector&) = delete;
  ScopedVector& operator=(const ScopedVector&) = delete;
  kstd_vector32* get() { return &vector_; }
  std::vector<uint32_t> values() const { return {vector_.begin, vector_.begin + vector_.size}; }

 private:
  kstd_vector32 vector_;
};

// Installs an optimization hook that forbids the given names and counts every question.
class ScopedHook {
 public:
  explicit ScopedHook(std::initializer_list<std::string> forbidden);
  ~ScopedHook();
  static int askedCount(const std::string& name);

 private:
  kprt_optimizationHook previous_;
};

// Overrides the processor query for its lifetime.
class ScopedCpuinfo {
 public:
  ScopedCpuinfo(uint32_t processorKind, uint32_t featureFlags, int32_t status = 0);
  ~ScopedCpuinfo() { ksys_cpuinfo_testOverride(nullptr, 0); }
};

// Runs call() with allocation 1, 2, 3, ... failing until a run makes no failing allocation. Each
// run that hit its failure must return KIP_ERR_OUT_OF_MEMORY (checked here) and leak no block;
// afterFailure (if given) checks the caller's records. heldByCaller (if given) counts the blocks
// that the caller's own records hold by design (a sample cache's tables, which a failing run may
// have built): they are not leaks. Returns the number of allocations the successful run made.
int sweepAllocationFailures(const std::function<int32_t()>& call,
                            const std::function<void()>& afterFailure = {},
                            const std::function<int64_t()>& heldByCaller = {});

// Random 8-bit or 16-bit pels of an image.
void fillRandom8(kimg_image* image, uint32_t seed);
void fillRandom16(kimg_image* image, uint32_t seed);

}  // namespace kiptest
