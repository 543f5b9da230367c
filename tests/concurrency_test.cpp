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
  Sources() { transformtest::fillSmooth<uint8_t>(s8.get(), 31), transformtest::fillSmooth<uint16_t>(s16.get(), 32); }
};

// One call: which export and with which sampling.
enum Kind { kTransform, kTransform16, kTransformClipped, kProject, kProjectClipped };
struct Job { Kind kind; affineSampleParams params; };

// The result is the status, the destination (and mask or coverage) and the count or clip flag.
Result run(const Job& job, const Sources& s, affineSampleCache** c) {
  ScopedImage out, extra;
  uint32_t number = 7, willClip = 7;
  const affineSampleParams* p = &job.params;
  Result r{job.kind == kTransform     ? kip_affineTransform(s.s8.get(), out.get(), p, c)
           : job.kind == kTransform16 ? kip_affineTransform16(s.s16.get(), out.get(), p, c)
           : job.kind == kTransformClipped ? kip_affineTransformClipped(s.s8.get(), out.get(), extra.get(), p, c, &number)
           : job.kind == kProject          ? kip_affineProject(s.s8.get(), out.get(), p, c, &number)
                                           : kip_affineProjectClipped(s.s8.get(), out.get(), extra.get(), p, c, 255, &number, &willClip),
           {}};
  appendImage(*out.get(), &r), appendImage(*extra.get(), &r), r.bytes.push_back(static_cast<uint8_t>(number));
  return r;
}

// The work: every sample mode, 8 and 16 bits, a sampling large enough to be cut into bands over the
// job threads, an aligned turn, a clipped transform with its mask, plain and clipped projections.
std::vector<Job> jobs() {
  const affineSampleParams bilinear = turnedSampling(KIP_SAMPLE_BILINEAR, -25, 1.3, true, 80, 60, 120, 100);
  const affineSampleParams cubic = turnedSampling(KIP_SAMPLE_CUBIC2, -10, 1.1, false, 60, 70, 110, 95);
  const affineSampleParams leaving = turnedSampling(KIP_SAMPLE_CUBIC2, 15, 1.0, false, 60, 40, 10, 30);
  affineSampleParams turn{};
  const kmath_shapeAffineRect turnRect{100, 20, 0, -50, 40, 0};  // a quarter turn: the aligned path
  EXPECT_EQ(kip_affineSampleParams_init(&turn, KIP_SAMPLE_CUBIC2, &turnRect, 40, 50), 0);
  return {{kTransform, turnedSampling(KIP_SAMPLE_NEAREST, 17, 0.9, false, 90, 70, 100, 90)},
          {kTransform, turnedSampling(KIP_SAMPLE_LINEAR2, 40, 0.7, false, 70, 50, 90, 80)},
          {kTransform, turnedSampling(KIP_SAMPLE_BILINEAR, 8, 1.0, false, 280, 260, 210, 200)},  // banded
          {kTransform16, turnedSampling(KIP_SAMPLE_BILINEAR, 30, 1.2, false, 60, 40, 100, 80)},
          {kTransform, bilinear}, {kTransform, cubic}, {kTransform, turn}, {kTransformClipped, leaving},
          {kProject, bilinear}, {kProject, cubic}, {kProject, turn}, {kProjectClipped, leaving}};
}

// A hook that forbids only the row and column sum cores (whose portable forms give the same sums)
// and counts its questions from every thread.
std::atomic<int64_t> hookQuestions{0};
int32_t sumsOnlyHook(const char* name) {
  return hookQuestions.fetch_add(1, std::memory_order_relaxed), std::strcmp(name, "kf_projection_vertical8_core") == 0 || std::strcmp(name, "kf_projection_horizontal8_core") == 0;
}

TEST(Concurrency, EightThreadsWithTheirOwnCachesMatchOneThread) {
  const Sources sources;
  const std::vector<Job> work = jobs();
  std::vector<Result> reference;
  for (const Job& job : work) reference.push_back(run(job, sources, nullptr));  // a temporary cache serves
  for (size_t k = 0; k < reference.size(); ++k) ASSERT_GE(reference[k].status, 0) << "job " << k;
  // The cubic table is dropped, so that the threads' first cubic samplings and the set-up threads
  // race to build it.
  ksys_shutdown_testRunAll();

  constexpr int kWorkers = 8, kRounds = 4;
  std::atomic<bool> done{false};
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads, workers;
  // Set-up and the hook change under the workers' feet until they are done.
  for (int t = 0; t < 2; ++t)
    threads.emplace_back([&] { for (; !done.load(); std::this_thread::yield()) EXPECT_EQ(kip_affineTransform_setup(), 0); });
  // The hook is installed before the workers start and the swapping waits for its first question,
  // so that a loaded machine that schedules the swapper late still has the hook asked.
  __atomic_store_n(&kprt_isOptimizationInhibitedFP, &sumsOnlyHook, __ATOMIC_RELEASE);
  threads.emplace_back([&] {
    while (hookQuestions.load() == 0 && !done.load()) std::this_thread::yield();
    // An application that swaps the hook while kip runs stores it atomically; kip loads it so.
    for (int i = 1; !done.load(); ++i, std::this_thread::yield())
      __atomic_store_n(&kprt_isOptimizationInhibitedFP, i % 2 == 0 ? &sumsOnlyHook : nullptr, __ATOMIC_RELEASE);
    __atomic_store_n(&kprt_isOptimizationInhibitedFP, nullptr, __ATOMIC_RELEASE);
  });
  for (int t = 0; t < kWorkers; ++t) {
    workers.emplace_back([&, t] {
      affineSampleCache* cache = nullptr;
      EXPECT_EQ(kip_affineSampleCache_construct(&cache), 0);
      // Each thread in its own order; every other round without a cache, so that a temporary one serves.
      for (size_t n = 0; n < kRounds * work.size(); ++n) {
        const size_t k = (n + static_cast<size_t>(t) * 3) % work.size(), round = n / work.size();
        mismatches += !(run(work[k], sources, round % 2 == 0 ? &cache : nullptr) == reference[k]);
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
