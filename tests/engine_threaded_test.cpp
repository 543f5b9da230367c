// The threaded process: the split test at its thresholds (jobs counted by the hook questions they
// ask), split against unsplit runs, large sources, failures.
#include <gtest/gtest.h>
#include <tbb/task_arena.h>

#include "engine/optimized_process.hpp"
#include "engine/portable_process.hpp"
#include "engine/threaded_process.hpp"
#include "engine_support.hpp"
#include "frame/optimization_hook.hpp"

namespace {

using namespace enginetest;
using kiptest::ScopedHook;

// xCount x yCount samples of a rectangle of 0.93 x 0.97 of that many pels centred at (500, 500),
// turned by 30 degrees.
affineSampleParams turned(uint32_t mode, int32_t xCount, int32_t yCount) {
  affineSampleParams params = makeParams(mode, 30, 1, false, 500, 500, xCount * 0.93, yCount * 0.97, kIdentity);
  params.xCount = xCount, params.yCount = yCount;
  return params;
}

template <typename Pel>
int32_t threadedRun(int threads, const kimg_window& source, kimg_window destination, const affineSampleParams& params,
                    const affineSampleCache* cache = nullptr) {
  int32_t status = 0;
  tbb::task_arena(threads).execute([&] {
    status = (sizeof(Pel) == 1 ? affineProcess_threaded8 : affineProcess_threaded16)(&source, &kIdentity, &destination, &params, cache);
  });
  return status;
}

// Sources of 1000-pel rows: tiles of 224 rows, so a split needs H > 336 (and an area above a
// threshold of the mode). Two threads split when the case says so (one hook question per band);
// one thread never splits; both give the pels of the process run once on the whole destination.
class Split : public ::testing::TestWithParam<std::tuple<uint32_t, int32_t, int32_t, int>> {};

TEST_P(Split, GivesTheUnsplitPels) {
  const auto [mode, width, height, jobs] = GetParam();
  for (int bits : {8, 16}) {
    if (bits == 16 && mode > KIP_SAMPLE_BILINEAR) continue;
    withPel(bits, [&](auto pel) {
      using Pel = decltype(pel);
      const Source<Pel> source(1000, 1000, 31);
      const affineSampleParams params = turned(mode, width, height);
      Destination<Pel> whole(width, height);
      const kimg_window window = whole.window();
      TempCache cache;
      ASSERT_EQ(affineSampleCache_refresh(cache.get(), &source.window, &kIdentity, &window, &params, 0), 0);
      int32_t status = (sizeof(Pel) == 1 ? affineProcess_optimized8 : affineProcess_optimized16)(0, &source.window, &kIdentity, &window, &params, cache.get());
      if (isDeclined(status)) status = (sizeof(Pel) == 1 ? affineProcess_portable8 : affineProcess_portable16)(0, &source.window, &kIdentity, &window, &params, cache.get());
      ASSERT_EQ(status, 0);
      for (int threads : {1, 2}) {
        Destination<Pel> out(width, height);
        ScopedHook hook({});
        ASSERT_EQ(threadedRun<Pel>(threads, source.window, out.window(), params, cache.get()), 0);
        EXPECT_EQ(ScopedHook::askedCount(sizeof(Pel) == 1 ? kHookAffineProcess : kHookAffineProcess16), threads == 1 ? 1 : jobs) << bits << "-bit";
        EXPECT_EQ(out.pels, whole.pels) << threads << " threads, " << bits << "-bit";
      }
    });
  }
}

INSTANTIATE_TEST_SUITE_P(Threaded, Split,
                         ::testing::Values(std::tuple{KIP_SAMPLE_BILINEAR, 300, 336, 1}, std::tuple{KIP_SAMPLE_BILINEAR, 300, 337, 2},
                                           std::tuple{KIP_SAMPLE_BILINEAR, 194, 337, 1}, std::tuple{KIP_SAMPLE_BILINEAR, 195, 337, 2},
                                           std::tuple{KIP_SAMPLE_BILINEAR, 250, 900, 5}, std::tuple{KIP_SAMPLE_NEAREST, 777, 337, 1},
                                           std::tuple{KIP_SAMPLE_NEAREST, 778, 337, 2}, std::tuple{KIP_SAMPLE_CUBIC2, 600, 700, 1}));

// A source whose row stride reaches 32768: the optimized process declines in every job and the
// portable one samples the band (tiles of 48 rows for the long rows).
TEST(ThreadedLargeSources, FallBackToThePortableProcess) {
  const Source<uint8_t> source(32768, 40, 12);
  affineSampleParams params = makeParams(KIP_SAMPLE_BILINEAR, 0.5, 1, false, 16384, 20, 300, 36, kIdentity);
  params.xCount = params.yCount = 400;  // large enough to split
  Destination<uint8_t> portable(400, 400), threaded(400, 400);
  const kimg_window window = portable.window();
  ASSERT_EQ(affineProcess_portable8(0, &source.window, &kIdentity, &window, &params, nullptr), 0);
  ScopedHook hook({});
  ASSERT_EQ(threadedRun<uint8_t>(2, source.window, threaded.window(), params), 0);
  EXPECT_EQ(ScopedHook::askedCount(kHookAffineProcess), (400 + 47) / 48);
  EXPECT_EQ(threaded.pels, portable.pels);
}

// A band's failure is the process's status: a destination of the wrong pel size fails in every job
// and writes nothing; the 16-bit portable process's refusal of a long-row source comes back
// unchanged.
TEST(ThreadedFailures, ABandsFailureIsReturned) {
  const Source<uint8_t> source(1000, 1000, 2);
  const affineSampleParams params = turned(KIP_SAMPLE_BILINEAR, 300, 400);
  Destination<uint16_t> wrong(300, 400);
  for (int threads : {1, 2}) EXPECT_EQ(threadedRun<uint8_t>(threads, source.window, wrong.window(), params), KIP_ERR_PEL_SIZE);
  EXPECT_EQ(wrong.pels, std::vector<uint16_t>(wrong.pels.size(), 0xA5A5));
  const Source<uint16_t> wide(32768, 4, 1);
  EXPECT_EQ(threadedRun<uint16_t>(2, wide.window, wrong.window(), params), KIP_ERR_SOURCE_TOO_LARGE);
  const kimg_window window = wrong.window();
  EXPECT_EQ(affineProcess_threaded8(nullptr, &kIdentity, &window, &params, nullptr), KIP_ERR_NULL_POINTER);
}

// Every allocation of a split run (thread group, job objects, their arrays, each job block) may
// fail: the failure comes back as such, nothing leaks; the run that allocates nothing more gives
// the pels.
TEST(ThreadedFailures, EveryAllocationFailureIsReportedWithoutLeaks) {
  const Source<uint8_t> source(1000, 1000, 9);
  const affineSampleParams params = turned(KIP_SAMPLE_BILINEAR, 300, 2000);
  Destination<uint8_t> expected(300, 2000), out(300, 2000);
  kimg_window window = expected.window();
  ASSERT_EQ(affineProcess_optimized8(0, &source.window, &kIdentity, &window, &params, nullptr), 0);
  const int allocations = kiptest::sweepAllocationFailures([&] { return threadedRun<uint8_t>(2, source.window, out.window(), params); });
  EXPECT_GE(allocations, 4 + 9);  // group, parameters, requests, results, nine job blocks
  EXPECT_EQ(out.pels, expected.pels);
}

}  // namespace
