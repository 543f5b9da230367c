// The threaded process: the split test around its thresholds (jobs counted by the hook questions
// they ask), split against unsplit runs, the hook per job, large sources falling back to the
// portable process, failures of bands and of every allocation.
#include "cache/cache.hpp"
#include "engine/optimized_process.hpp"
#include "engine/portable_process.hpp"
#include "engine/threaded_process.hpp"
#include "frame/optimization_hook.hpp"
#include "support/support.hpp"
#include "tiled_support.hpp"

#include <gtest/gtest.h>
#include <tbb/task_arena.h>

#include <numbers>
#include <string>
#include <vector>

namespace {

using kiptest::ScopedHook;
using tiledtest::Destination;
using tiledtest::makeWindow;
using tiledtest::Source;

constexpr kmath_xformLinear kIdentity{0, 0, 1, 0, 0, 1};

// xCount x yCount samples of a lengthX x lengthY rectangle centred at (cx, cy), turned by degrees.
affineSampleParams turnedRect(uint32_t mode, double degrees, double cx, double cy, double lengthX, double lengthY,
                              int32_t xCount, int32_t yCount) {
  const double c = std::cos(degrees * std::numbers::pi / 180), s = std::sin(degrees * std::numbers::pi / 180);
  const double xSideX = lengthX * c, xSideY = lengthX * s, ySideX = -lengthY * s, ySideY = lengthY * c;
  affineSampleParams params{};
  params.affineRect = {cx - 0.5 * (xSideX + ySideX), cy - 0.5 * (xSideY + ySideY), xSideX, ySideX, xSideY, ySideY};
  params.sampleMode = mode;
  params.xCount = xCount;
  params.yCount = yCount;
  return params;
}

// A cache refreshed for the sampling, as the transform path has it before the process runs.
struct RefreshedCache {
  affineSampleCache cache{};
  RefreshedCache(const kimg_window& source, const kimg_window& destination, const affineSampleParams& params) {
    affineSampleCache_initTemporary(&cache);
    EXPECT_EQ(affineSampleCache_refresh(&cache, &source, &kIdentity, &destination, &params, 0), 0);
  }
  ~RefreshedCache() { affineSampleCache_releaseTemporary(&cache); }
};

template <typename Process>
int32_t onThreads(int threads, Process process) {
  int32_t status = 0;
  tbb::task_arena arena(threads);
  arena.execute([&] { status = process(); });
  return status;
}

template <typename Pel>
int32_t threadedRun(const kimg_window& source, kimg_window destination, const affineSampleParams& params,
                    const affineSampleCache* cache) {
  if constexpr (sizeof(Pel) == 1) return affineProcess_threaded8(&source, &kIdentity, &destination, &params, cache);
  return affineProcess_threaded16(&source, &kIdentity, &destination, &params, cache);
}

// ----------------------------------------------------------------------------------------------
// The split test. Sources of 1000-pel rows: tiles of 224 rows, so split needs H > 336.

struct SplitCase {
  const char* name;
  uint32_t mode;
  int32_t width, height;
  int jobs;  // 1: not split
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class Split : public ::testing::TestWithParam<SplitCase> {
 protected:
  template <typename Pel>
  void run();
};

// Two threads split when the case says so (one hook question per band) and give the pels of one
// thread, which never splits, and of the process run once on the whole destination.
template <typename Pel>
void Split::run() {
  const SplitCase& c = GetParam();
  Source<Pel> source(1000, 1000, 31);
  const affineSampleParams params = turnedRect(c.mode, 30, 500, 500, c.width * 0.93, c.height * 0.97, c.width, c.height);
  const char* hookName = sizeof(Pel) == 1 ? kHookAffineProcess : kHookAffineProcess16;

  Destination<Pel> whole(c.width, c.height), one(c.width, c.height), two(c.width, c.height);
  RefreshedCache cache(source.window, whole.window(), params);
  kimg_window window = whole.window();
  if constexpr (sizeof(Pel) == 1) {
    int32_t status = affineProcess_optimized8(0, &source.window, &kIdentity, &window, &params, &cache.cache);
    if (isDeclined(status)) status = affineProcess_portable8(0, &source.window, &kIdentity, &window, &params, &cache.cache);
    ASSERT_EQ(status, 0);
  } else {
    ASSERT_EQ(affineProcess_portable16(0, &source.window, &kIdentity, &window, &params, &cache.cache), 0);
  }
  {
    ScopedHook hook({});
    ASSERT_EQ(onThreads(1, [&] { return threadedRun<Pel>(source.window, one.window(), params, &cache.cache); }), 0);
    EXPECT_EQ(ScopedHook::askedCount(hookName), 1);
  }
  {
    ScopedHook hook({});
    ASSERT_EQ(onThreads(2, [&] { return threadedRun<Pel>(source.window, two.window(), params, &cache.cache); }), 0);
    EXPECT_EQ(ScopedHook::askedCount(hookName), c.jobs);
  }
  EXPECT_EQ(one.pels, whole.pels);
  EXPECT_EQ(two.pels, whole.pels);
}

TEST_P(Split, EightBit) { run<uint8_t>(); }
TEST_P(Split, SixteenBit) {
  if (GetParam().mode <= KIP_SAMPLE_BILINEAR) run<uint16_t>();
}

INSTANTIATE_TEST_SUITE_P(
    Threaded, Split,
    ::testing::Values(SplitCase{"bilinear_H336", KIP_SAMPLE_BILINEAR, 300, 336, 1},
                      SplitCase{"bilinear_H337", KIP_SAMPLE_BILINEAR, 300, 337, 2},
                      SplitCase{"bilinear_300x400", KIP_SAMPLE_BILINEAR, 300, 400, 2},
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

// ----------------------------------------------------------------------------------------------
// The hook is asked in every job; forbidding the optimized process gives the portable pels.

TEST(ThreadedHook, ForbiddenInEveryJobGivesThePortablePels) {
  Source<uint8_t> source(1000, 1000, 5);
  for (uint32_t mode : {KIP_SAMPLE_NEAREST, KIP_SAMPLE_BILINEAR}) {
    const affineSampleParams params = turnedRect(mode, 200, 500, 500, 800, 600, 800, 700);
    Destination<uint8_t> portable(800, 700), threaded(800, 700);
    kimg_window window = portable.window();
    ASSERT_EQ(affineProcess_portable8(0, &source.window, &kIdentity, &window, &params, nullptr), 0);
    ScopedHook hook({kHookAffineProcess});
    ASSERT_EQ(onThreads(2, [&] { return threadedRun<uint8_t>(source.window, threaded.window(), params, nullptr); }), 0);
    EXPECT_EQ(ScopedHook::askedCount(kHookAffineProcess), 4);  // 700 rows: bands of 224, 224, 224, 28
    EXPECT_EQ(threaded.pels, portable.pels) << "mode " << mode;
  }
}

TEST(ThreadedHook, SixteenBitAsksItsOwnNameAndRunsPortable) {
  Source<uint16_t> source(1000, 1000, 6);
  const affineSampleParams params = turnedRect(KIP_SAMPLE_BILINEAR, 100, 500, 500, 800, 600, 500, 500);
  Destination<uint16_t> portable(500, 500);
  kimg_window window = portable.window();
  ASSERT_EQ(affineProcess_portable16(0, &source.window, &kIdentity, &window, &params, nullptr), 0);
  for (bool forbid : {false, true}) {
    Destination<uint16_t> threaded(500, 500);
    ScopedHook hook(forbid ? std::initializer_list<std::string>{kHookAffineProcess16}
                           : std::initializer_list<std::string>{});
    ASSERT_EQ(onThreads(2, [&] { return threadedRun<uint16_t>(source.window, threaded.window(), params, nullptr); }),
              0);
    EXPECT_EQ(ScopedHook::askedCount(kHookAffineProcess16), 3);
    EXPECT_EQ(ScopedHook::askedCount(kHookAffineProcess), 0);
    EXPECT_EQ(threaded.pels, portable.pels);
  }
}

// ----------------------------------------------------------------------------------------------
// Sources whose row stride or height reaches 32768: the optimized process declines in every job
// and the portable one samples the band (tiles of 48 rows for the long rows).

TEST(ThreadedLargeSources, FallBackToThePortableProcess) {
  struct LargeCase {
    int32_t width, height;
    double lengthX, lengthY;
  };
  for (const LargeCase& c : {LargeCase{32768, 40, 300, 36}, LargeCase{40, 32768, 36, 300}}) {
    Source<uint8_t> source(c.width, c.height, 12);
    for (uint32_t mode : {KIP_SAMPLE_NEAREST, KIP_SAMPLE_BILINEAR}) {
      const int32_t side = mode == KIP_SAMPLE_NEAREST ? 520 : 400;  // large enough to split
      const affineSampleParams params =
          turnedRect(mode, 0.5, c.width / 2.0, c.height / 2.0, c.lengthX, c.lengthY, side, side);
      Destination<uint8_t> portable(side, side), threaded(side, side);
      kimg_window window = portable.window();
      ASSERT_EQ(affineProcess_portable8(0, &source.window, &kIdentity, &window, &params, nullptr), 0);
      window = threaded.window();
      EXPECT_EQ(affineProcess_optimized8(0, &source.window, &kIdentity, &window, &params, nullptr),
                KIP_ERR_NOT_AVAILABLE);
      ScopedHook hook({});
      ASSERT_EQ(onThreads(2, [&] { return threadedRun<uint8_t>(source.window, threaded.window(), params, nullptr); }),
                0);
      const int tileRows = c.width > 3072 ? 48 : 224;
      const int jobs = (side + tileRows - 1) / tileRows;
      EXPECT_EQ(ScopedHook::askedCount(kHookAffineProcess), jobs);
      EXPECT_EQ(threaded.pels, portable.pels) << c.width << "x" << c.height << " mode " << mode;
    }
  }
  // The 16-bit portable process has no loop for such sources: its refusal comes back unchanged.
  Source<uint16_t> source(32768, 4, 1);
  const affineSampleParams params = turnedRect(KIP_SAMPLE_BILINEAR, 0, 100, 2, 50, 2, 300, 300);
  Destination<uint16_t> out(300, 300);
  EXPECT_EQ(onThreads(2, [&] { return threadedRun<uint16_t>(source.window, out.window(), params, nullptr); }),
            KIP_ERR_SOURCE_TOO_LARGE);
}

// ----------------------------------------------------------------------------------------------
// Failures.

// A band's failure is the process's status: a destination of the wrong pel size fails in every
// job and writes nothing.
TEST(ThreadedFailures, ABandsFailureIsReturned) {
  Source<uint8_t> source(1000, 1000, 2);
  const affineSampleParams params = turnedRect(KIP_SAMPLE_BILINEAR, 30, 500, 500, 300, 400, 300, 400);
  Destination<uint16_t> wrong(300, 400);
  for (int threads : {1, 2}) {
    EXPECT_EQ(onThreads(threads, [&] { return threadedRun<uint8_t>(source.window, wrong.window(), params, nullptr); }),
              KIP_ERR_PEL_SIZE);
  }
  EXPECT_TRUE(wrong.guardsIntact());
  EXPECT_EQ(wrong.pels[0], Destination<uint16_t>::kGuard);
  Destination<uint8_t> out(300, 400);
  const kimg_window window = out.window();
  EXPECT_EQ(affineProcess_threaded8(nullptr, &kIdentity, &window, &params, nullptr), KIP_ERR_NULL_POINTER);
  EXPECT_EQ(affineProcess_threaded16(&source.window, &kIdentity, nullptr, &params, nullptr), KIP_ERR_NULL_POINTER);
}

// Every allocation of a split run (thread group, job objects, their arrays, each job block) may
// fail: the failure comes back as such, with nothing leaked; the run that allocates nothing more
// gives the pels.
TEST(ThreadedFailures, EveryAllocationFailureIsReportedWithoutLeaks) {
  Source<uint8_t> source(1000, 1000, 9);
  const affineSampleParams params = turnedRect(KIP_SAMPLE_BILINEAR, 30, 500, 500, 300, 900, 300, 2000);
  Destination<uint8_t> expected(300, 2000), out(300, 2000);
  kimg_window window = expected.window();
  ASSERT_EQ(affineProcess_optimized8(0, &source.window, &kIdentity, &window, &params, nullptr), 0);
  const int allocations = kiptest::sweepAllocationFailures(
      [&] { return onThreads(2, [&] { return threadedRun<uint8_t>(source.window, out.window(), params, nullptr); }); });
  EXPECT_GE(allocations, 4 + 9);  // group, parameters, requests, results, nine job blocks
  EXPECT_EQ(out.pels, expected.pels);
}

}  // namespace
