// The threaded process: the split test at its thresholds (jobs counted by the hook questions they
// ask), split against unsplit runs, the hook in every job, large sources, failures.
#include <gtest/gtest.h>
#include <tbb/task_arena.h>

#include "engine/optimized_process.hpp"
#include "engine/portable_process.hpp"
#include "engine/threaded_process.hpp"
#include "engine_support.hpp"
#include "frame/optimization_hook.hpp"
#include "support/support.hpp"

namespace {

using namespace enginetest;
using kiptest::ScopedHook;

// xCount x yCount samples of a lengthX x lengthY rectangle centred at (cx, cy), turned by degrees.
affineSampleParams turned(uint32_t mode, double degrees, double cx, double cy, double lengthX, double lengthY,
                          int32_t xCount, int32_t yCount) {
  affineSampleParams params = makeParams(mode, degrees, 1, false, cx, cy, lengthX, lengthY, kIdentity);
  params.xCount = xCount, params.yCount = yCount;
  return params;
}

template <typename Process>
int32_t onThreads(int threads, Process process) {
  int32_t status = 0;
  tbb::task_arena arena(threads);
  arena.execute([&] { status = process(); });
  return status;
}

template <typename Pel>
int32_t threadedRun(int threads, const kimg_window& source, kimg_window destination, const affineSampleParams& params,
                    const affineSampleCache* cache = nullptr) {
  return onThreads(threads, [&] {
    return (sizeof(Pel) == 1 ? affineProcess_threaded8 : affineProcess_threaded16)(&source, &kIdentity, &destination,
                                                                                   &params, cache);
  });
}

template <typename Pel>
int32_t portableRun(const kimg_window& source, kimg_window destination, const affineSampleParams& params,
                    const affineSampleCache* cache = nullptr) {
  return (sizeof(Pel) == 1 ? affineProcess_portable8 : affineProcess_portable16)(0, &source, &kIdentity, &destination,
                                                                                &params, cache);
}

template <typename Pel>
const char* hookName() {
  return sizeof(Pel) == 1 ? kHookAffineProcess : kHookAffineProcess16;
}

// ----------------------------------------------------------------------------------------------
// The split test. Sources of 1000-pel rows: tiles of 224 rows, so a split needs H > 336.

struct SplitCase {
  const char* name;
  uint32_t mode;
  int32_t width, height;
  int jobs;  // 1: not split
};

class Split : public ::testing::TestWithParam<SplitCase> {};

// Two threads split when the case says so (one hook question per band); one thread never splits;
// both give the pels of the process run once on the whole destination.
TEST_P(Split, GivesTheUnsplitPels) {
  const SplitCase& c = GetParam();
  for (int bits : {8, 16}) {
    if (bits == 16 && c.mode > KIP_SAMPLE_BILINEAR) continue;
    withPel(bits, [&](auto pel) {
      using Pel = decltype(pel);
      const Source<Pel> source(1000, 1000, 31);
      const affineSampleParams params =
          turned(c.mode, 30, 500, 500, c.width * 0.93, c.height * 0.97, c.width, c.height);
      Destination<Pel> whole(c.width, c.height);
      const kimg_window window = whole.window();
      TempCache cache;
      ASSERT_EQ(affineSampleCache_refresh(cache.get(), &source.window, &kIdentity, &window, &params, 0), 0);
      int32_t status = (sizeof(Pel) == 1 ? affineProcess_optimized8 : affineProcess_optimized16)(
          0, &source.window, &kIdentity, &window, &params, cache.get());
      if (isDeclined(status)) status = portableRun<Pel>(source.window, window, params, cache.get());
      ASSERT_EQ(status, 0);
      for (int threads : {1, 2}) {
        Destination<Pel> out(c.width, c.height);
        ScopedHook hook({});
        ASSERT_EQ(threadedRun<Pel>(threads, source.window, out.window(), params, cache.get()), 0);
        EXPECT_EQ(ScopedHook::askedCount(hookName<Pel>()), threads == 1 ? 1 : c.jobs) << bits << "-bit";
        EXPECT_EQ(out.pels, whole.pels) << threads << " threads, " << bits << "-bit";
      }
    });
  }
}

INSTANTIATE_TEST_SUITE_P(Threaded, Split,
                         ::testing::Values(SplitCase{"bilinear_H336", KIP_SAMPLE_BILINEAR, 300, 336, 1},
                                           SplitCase{"bilinear_H337", KIP_SAMPLE_BILINEAR, 300, 337, 2},
                                           SplitCase{"bilinear_area65378", KIP_SAMPLE_BILINEAR, 194, 337, 1},
                                           SplitCase{"bilinear_area65715", KIP_SAMPLE_BILINEAR, 195, 337, 2},
                                           SplitCase{"bilinear_5bands", KIP_SAMPLE_BILINEAR, 250, 900, 5},
                                           SplitCase{"nearest_300x400", KIP_SAMPLE_NEAREST, 300, 400, 1},
                                           SplitCase{"nearest_area261849", KIP_SAMPLE_NEAREST, 777, 337, 1},
                                           SplitCase{"nearest_area262186", KIP_SAMPLE_NEAREST, 778, 337, 2},
                                           SplitCase{"nearest_H336", KIP_SAMPLE_NEAREST, 800, 336, 1},
                                           SplitCase{"linear2_never", KIP_SAMPLE_LINEAR2, 600, 700, 1},
                                           SplitCase{"cubic2_never", KIP_SAMPLE_CUBIC2, 600, 700, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// The hook is asked in every job, by the pel size's own name; forbidding the optimized process
// gives the portable pels.
TEST(ThreadedHook, AskedInEveryJob) {
  for (auto [bits, mode] : {std::pair{8, KIP_SAMPLE_NEAREST}, std::pair{8, KIP_SAMPLE_BILINEAR},
                            std::pair{16, KIP_SAMPLE_BILINEAR}}) {
    withPel(bits, [&](auto pel) {
      using Pel = decltype(pel);
      const Source<Pel> source(1000, 1000, 5);
      const affineSampleParams params = turned(mode, 200, 500, 500, 800, 600, 800, 700);
      Destination<Pel> portable(800, 700);
      ASSERT_EQ(portableRun<Pel>(source.window, portable.window(), params), 0);
      for (bool forbid : {false, true}) {
        Destination<Pel> threaded(800, 700);
        ScopedHook hook(forbid ? std::initializer_list<std::string>{hookName<Pel>()}
                               : std::initializer_list<std::string>{});
        ASSERT_EQ(threadedRun<Pel>(2, source.window, threaded.window(), params), 0);
        EXPECT_EQ(ScopedHook::askedCount(hookName<Pel>()), 4);  // 700 rows: bands of 224, 224, 224, 28
        EXPECT_EQ(ScopedHook::askedCount(sizeof(Pel) == 1 ? kHookAffineProcess16 : kHookAffineProcess), 0);
        if (forbid || bits == 16) EXPECT_EQ(threaded.pels, portable.pels) << bits << "-bit mode " << mode;
      }
    });
  }
}

// Sources whose row stride or height reaches 32768: the optimized process declines in every job
// and the portable one samples the band (tiles of 48 rows for the long rows). The 16-bit portable
// process has no loop for them: its refusal comes back unchanged.
TEST(ThreadedLargeSources, FallBackToThePortableProcess) {
  for (auto [width, height] : {std::pair{32768, 40}, std::pair{40, 32768}}) {
    const Source<uint8_t> source(width, height, 12);
    for (uint32_t mode : {KIP_SAMPLE_NEAREST, KIP_SAMPLE_BILINEAR}) {
      const int32_t side = mode == KIP_SAMPLE_NEAREST ? 520 : 400;  // large enough to split
      const affineSampleParams params = turned(mode, 0.5, width / 2.0, height / 2.0, width > 40 ? 300 : 36,
                                               width > 40 ? 36 : 300, side, side);
      Destination<uint8_t> portable(side, side), threaded(side, side);
      kimg_window window = threaded.window();
      ASSERT_EQ(portableRun<uint8_t>(source.window, portable.window(), params), 0);
      EXPECT_EQ(affineProcess_optimized8(0, &source.window, &kIdentity, &window, &params, nullptr),
                KIP_ERR_NOT_AVAILABLE);
      ScopedHook hook({});
      ASSERT_EQ(threadedRun<uint8_t>(2, source.window, window, params), 0);
      const int tileRows = width > 3072 ? 48 : 224;
      EXPECT_EQ(ScopedHook::askedCount(kHookAffineProcess), (side + tileRows - 1) / tileRows);
      EXPECT_EQ(threaded.pels, portable.pels) << width << "x" << height << " mode " << mode;
    }
  }
  const Source<uint16_t> source(32768, 4, 1);
  Destination<uint16_t> out(300, 300);
  EXPECT_EQ(threadedRun<uint16_t>(2, source.window, out.window(), turned(1, 0, 100, 2, 50, 2, 300, 300)),
            KIP_ERR_SOURCE_TOO_LARGE);
}

// A band's failure is the process's status: a destination of the wrong pel size fails in every job
// and writes nothing.
TEST(ThreadedFailures, ABandsFailureIsReturned) {
  const Source<uint8_t> source(1000, 1000, 2);
  const affineSampleParams params = turned(KIP_SAMPLE_BILINEAR, 30, 500, 500, 300, 400, 300, 400);
  Destination<uint16_t> wrong(300, 400);
  for (int threads : {1, 2}) {
    EXPECT_EQ(threadedRun<uint8_t>(threads, source.window, wrong.window(), params), KIP_ERR_PEL_SIZE);
  }
  EXPECT_TRUE(std::all_of(wrong.pels.begin(), wrong.pels.end(), [](uint16_t p) { return p == 0xA5A5; }));
  const kimg_window window = wrong.window();
  EXPECT_EQ(affineProcess_threaded8(nullptr, &kIdentity, &window, &params, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(affineProcess_threaded16(&source.window, &kIdentity, nullptr, &params, nullptr), KIP_ERR_NULL_POINTER);
}

// Every allocation of a split run (thread group, job objects, their arrays, each job block) may
// fail: the failure comes back as such, nothing leaks; the run that allocates nothing more gives
// the pels.
TEST(ThreadedFailures, EveryAllocationFailureIsReportedWithoutLeaks) {
  const Source<uint8_t> source(1000, 1000, 9);
  const affineSampleParams params = turned(KIP_SAMPLE_BILINEAR, 30, 500, 500, 300, 900, 300, 2000);
  Destination<uint8_t> expected(300, 2000), out(300, 2000);
  kimg_window window = expected.window();
  ASSERT_EQ(affineProcess_optimized8(0, &source.window, &kIdentity, &window, &params, nullptr), 0);
  const int allocations = kiptest::sweepAllocationFailures(
      [&] { return threadedRun<uint8_t>(2, source.window, out.window(), params); });
  EXPECT_GE(allocations, 4 + 9);  // group, parameters, requests, results, nine job blocks
  EXPECT_EQ(out.pels, expected.pels);
}

}  // namespace
