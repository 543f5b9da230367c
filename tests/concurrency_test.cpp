// Concurrency: eight threads run transforms and projections at once, each with its own cache, while
// other threads build the cubic table (kip_affineTransform_setup) and swap the optimization hook.
// Every result must equal the one a single thread got before. Run under the tsan preset to have
// ThreadSanitizer watch the shared state: the cubic table's first build, the hook variable, the
// sources that every thread reads and the job threads of the large samplings.
#include "support/support.hpp"
#include "transform_images.hpp"

#include "platform/shutdown.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using kiptest::ScopedImage;
using transformtest::turnedSampling;

// What a call produced: its status, the destination's pels and client transform (or the entries
// and sample count of a projection).
struct Result {
  int32_t status = 0;
  std::vector<uint8_t> bytes;
  bool operator==(const Result&) const = default;
};

void appendImage(const kimg_image& image, Result* result) {
  const auto* xform = reinterpret_cast<const uint8_t*>(&image.imageFromClient);
  result->bytes.insert(result->bytes.end(), xform, xform + sizeof image.imageFromClient);
  for (int32_t y = 0; y < image.height && image.storage != nullptr; ++y) {
    const auto* row = static_cast<const uint8_t*>(image.firstPel) + static_cast<ptrdiff_t>(y) * image.stride * image.pelSize;
    result->bytes.insert(result->bytes.end(), row, row + static_cast<size_t>(image.width) * image.pelSize);
  }
}

struct Sources {
  ScopedImage s8{1, 420, 400}, s16{2, 200, 160};
  Sources() {
    transformtest::fillSmooth<uint8_t>(s8.get(), 31);
    transformtest::fillSmooth<uint16_t>(s16.get(), 32);
  }
};

using Job = std::function<Result(const Sources&, affineSampleCache**)>;

Result transform8(const Sources& s, affineSampleCache** cache, const affineSampleParams& params) {
  ScopedImage out;
  Result r{kip_affineTransform(s.s8.get(), out.get(), &params, cache), {}};
  appendImage(*out.get(), &r);
  return r;
}

// The work: every sample mode, 8 and 16 bits, a sampling large enough to be cut into bands over the
// job threads, an aligned turn, a clipped transform with its mask, plain and clipped projections.
std::vector<Job> jobs() {
  const affineSampleParams nearest = turnedSampling(KIP_SAMPLE_NEAREST, 17, 0.9, false, 90, 70, 100, 90);
  const affineSampleParams bilinear = turnedSampling(KIP_SAMPLE_BILINEAR, -25, 1.3, true, 80, 60, 120, 100);
  const affineSampleParams linear = turnedSampling(KIP_SAMPLE_LINEAR2, 40, 0.7, false, 70, 50, 90, 80);
  const affineSampleParams cubic = turnedSampling(KIP_SAMPLE_CUBIC2, -10, 1.1, false, 60, 70, 110, 95);
  const affineSampleParams banded = turnedSampling(KIP_SAMPLE_BILINEAR, 8, 1.0, false, 280, 260, 210, 200);
  const affineSampleParams small16 = turnedSampling(KIP_SAMPLE_BILINEAR, 30, 1.2, false, 60, 40, 100, 80);
  const affineSampleParams leaving = turnedSampling(KIP_SAMPLE_CUBIC2, 15, 1.0, false, 60, 40, 10, 30);
  affineSampleParams turn{};
  const kmath_shapeAffineRect turnRect{100, 20, 0, -50, 40, 0};  // a quarter turn: the aligned path
  EXPECT_EQ(kip_affineSampleParams_init(&turn, KIP_SAMPLE_CUBIC2, &turnRect, 40, 50), 0);

  std::vector<Job> all;
  for (const affineSampleParams& p : {nearest, bilinear, linear, cubic, banded, turn}) {
    all.push_back([p](const Sources& s, affineSampleCache** c) { return transform8(s, c, p); });
  }
  all.push_back([small16](const Sources& s, affineSampleCache** c) {
    ScopedImage out;
    Result r{kip_affineTransform16(s.s16.get(), out.get(), &small16, c), {}};
    appendImage(*out.get(), &r);
    return r;
  });
  all.push_back([leaving](const Sources& s, affineSampleCache** c) {
    ScopedImage out, mask;
    uint32_t willClip = 7;
    Result r{kip_affineTransformClipped(s.s8.get(), out.get(), mask.get(), &leaving, c, &willClip), {}};
    appendImage(*out.get(), &r);
    appendImage(*mask.get(), &r);
    r.bytes.push_back(static_cast<uint8_t>(willClip));
    return r;
  });
  for (const affineSampleParams& p : {bilinear, cubic, turn}) {
    all.push_back([p](const Sources& s, affineSampleCache** c) {
      ScopedImage out;
      uint32_t count = 0;
      Result r{kip_affineProject(s.s8.get(), out.get(), &p, c, &count), {}};
      appendImage(*out.get(), &r);
      r.bytes.push_back(static_cast<uint8_t>(count));
      return r;
    });
  }
  all.push_back([leaving](const Sources& s, affineSampleCache** c) {
    ScopedImage out, coverage;
    uint32_t count = 0, willClip = 0;
    Result r{kip_affineProjectClipped(s.s8.get(), out.get(), coverage.get(), &leaving, c, 255, &count, &willClip), {}};
    appendImage(*out.get(), &r);
    appendImage(*coverage.get(), &r);
    return r;
  });
  return all;
}

// A hook that forbids only the row and column sum cores (whose portable forms give the same sums)
// and counts its questions from every thread.
std::atomic<int64_t> hookQuestions{0};
int32_t sumsOnlyHook(const char* name) {
  hookQuestions.fetch_add(1, std::memory_order_relaxed);
  return std::strcmp(name, "kf_projection_vertical8_core") == 0 || std::strcmp(name, "kf_projection_horizontal8_core") == 0;
}

TEST(Concurrency, EightThreadsWithTheirOwnCachesMatchOneThread) {
  const Sources sources;
  const std::vector<Job> work = jobs();
  // The cubic table is dropped first, so that the threads' first cubic samplings and the set-up
  // threads race to build it.
  ksys_shutdown_testRunAll();

  std::vector<Result> reference;
  {
    affineSampleCache* cache = nullptr;
    ASSERT_EQ(kip_affineSampleCache_construct(&cache), 0);
    for (const Job& job : work) reference.push_back(job(sources, &cache));
    kip_affineSampleCache_destruct(&cache);
  }
  for (size_t k = 0; k < reference.size(); ++k) ASSERT_GE(reference[k].status, 0) << "job " << k;
  ksys_shutdown_testRunAll();

  constexpr int kWorkers = 8, kRounds = 4;
  std::atomic<bool> done{false};
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  // Set-up and the hook change under the workers' feet until they are done.
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      while (!done.load()) {
        EXPECT_EQ(kip_affineTransform_setup(), 0);
        std::this_thread::yield();
      }
    });
  }
  // The hook is installed before the workers start and the swapping waits for its first question,
  // so that a loaded machine that schedules the swapper late still has the hook asked.
  hookQuestions.store(0);
  __atomic_store_n(&kprt_isOptimizationInhibitedFP, &sumsOnlyHook, __ATOMIC_RELEASE);
  threads.emplace_back([&] {
    while (hookQuestions.load() == 0 && !done.load()) std::this_thread::yield();
    for (int i = 1; !done.load(); ++i) {
      // An application that swaps the hook while kip runs stores it atomically; kip loads it so.
      __atomic_store_n(&kprt_isOptimizationInhibitedFP, i % 2 == 0 ? &sumsOnlyHook : nullptr, __ATOMIC_RELEASE);
      std::this_thread::yield();
    }
    __atomic_store_n(&kprt_isOptimizationInhibitedFP, nullptr, __ATOMIC_RELEASE);
  });
  std::vector<std::thread> workers;
  for (int t = 0; t < kWorkers; ++t) {
    workers.emplace_back([&, t] {
      affineSampleCache* cache = nullptr;
      EXPECT_EQ(kip_affineSampleCache_construct(&cache), 0);
      for (int round = 0; round < kRounds; ++round) {
        for (size_t i = 0; i < work.size(); ++i) {
          const size_t k = (i + static_cast<size_t>(t) * 3) % work.size();  // each thread in its own order
          // Every other round without a cache: a temporary one serves the call.
          if (!(work[k](sources, round % 2 == 0 ? &cache : nullptr) == reference[k])) mismatches.fetch_add(1);
        }
      }
      kip_affineSampleCache_destruct(&cache);
    });
  }
  for (std::thread& worker : workers) worker.join();
  done.store(true);
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_GT(hookQuestions.load(), 0) << "the hook was never asked while installed";
}

}  // namespace
