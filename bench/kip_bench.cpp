// Timings of kip's hot paths on realistic sizes. Portable variants run with the optimization hook
// forbidding the optimized routine, so each optimized path is measured against its own reference.
#include <kip/kip.h>

#include "affine_cases.hpp"
#include "bench_images.hpp"
#include "cache/cache.hpp"
#include "engine/table_process.hpp"
#include "engine/table_simd.hpp"
#include "rotate30.hpp"
#include "transform/transform.hpp"

#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <cstring>
#include <memory>

namespace {

constexpr int32_t kSide = 4096;

const char* forbiddenName = nullptr;
int32_t forbidOne(const char* name) { return forbiddenName != nullptr && std::strcmp(name, forbiddenName) == 0; }

struct ForbidScope {
  explicit ForbidScope(const char* name) {
    forbiddenName = name;
    kprt_isOptimizationInhibitedFP = name ? &forbidOne : nullptr;
  }
  ~ForbidScope() { kprt_isOptimizationInhibitedFP = nullptr; }
};

template <int32_t (*Project)(const kimg_window*, kimg_window*, uint32_t*)>
void projectionSums(benchmark::State& state, const char* forbid, bool rows) {
  BenchImage source(1, kSide, kSide);
  BenchImage sums(4, kSide, 1);
  kimg_window sourceWindow{}, sumsWindow{};
  kimg_window_init(&sourceWindow, source.get());
  kimg_window_init(&sumsWindow, sums.get());
  ForbidScope scope(forbid);
  for (auto _ : state) {
    if (Project(&sourceWindow, &sumsWindow, nullptr) != 0) state.SkipWithError("projection failed");
    benchmark::DoNotOptimize(sums.get()->firstPel);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kSide} * kSide);
  state.SetLabel(rows ? "row sums" : "column sums");
}

void BM_RowSums(benchmark::State& state) { projectionSums<kip_projectHorizontalWindow8>(state, nullptr, true); }
void BM_RowSumsPortable(benchmark::State& state) {
  projectionSums<kip_projectHorizontalWindow8>(state, "kf_projection_vertical8_core", true);
}
void BM_ColumnSums(benchmark::State& state) { projectionSums<kip_projectVerticalWindow8>(state, nullptr, false); }
void BM_ColumnSumsPortable(benchmark::State& state) {
  projectionSums<kip_projectVerticalWindow8>(state, "kf_projection_horizontal8_core", false);
}

BENCHMARK(BM_RowSums)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RowSumsPortable)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColumnSums)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ColumnSumsPortable)->Unit(benchmark::kMillisecond);

// The aligned fast path on a 4096 x 4096 8-bit image. It has no hook name, so the portable step
// sequence and the one-pass Highway kernels are called through their internal entry points.
using AlignedRun = int32_t (*)(const kimg_window*, kimg_window*, uint32_t);

void aligned(benchmark::State& state, AlignedRun run, uint32_t code) {
  BenchImage source(1, kSide, kSide);
  BenchImage destination(1, kSide, kSide);
  kimg_window sourceWindow{}, destinationWindow{};
  kimg_window_init(&sourceWindow, source.get());
  kimg_window_init(&destinationWindow, destination.get());
  for (auto _ : state) {
    if (run(&sourceWindow, &destinationWindow, code) != 0) state.SkipWithError("aligned transform failed");
    benchmark::DoNotOptimize(destination.get()->firstPel);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kSide} * kSide);
}

void BM_Aligned(benchmark::State& state, uint32_t code) { aligned(state, alignedTransform_simd8, code); }
void BM_AlignedPortable(benchmark::State& state, uint32_t code) { aligned(state, alignedTransform_portable8, code); }

BENCHMARK_CAPTURE(BM_Aligned, copy, 0u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AlignedPortable, copy, 0u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Aligned, transpose, 1u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AlignedPortable, transpose, 1u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Aligned, turn90, 90u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AlignedPortable, turn90, 90u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Aligned, turn180, 180u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AlignedPortable, turn180, 180u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Aligned, turn270, 270u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AlignedPortable, turn270, 270u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Aligned, mirror, 91u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AlignedPortable, mirror, 91u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Aligned, flip, 271u)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_AlignedPortable, flip, 271u)->Unit(benchmark::kMillisecond);

// General maps through the threaded process (cache refreshed once): the optimized process and,
// with the hook forbidding it, the portable one; on one thread or on all (threads 0).
void affine(benchmark::State& state, const AffineCase& geometry, uint32_t mode, const char* forbid) {
  BenchImage source(1, kSide, kSide);
  BenchImage destination(1, geometry.side, geometry.side);
  kimg_window sourceWindow{}, destinationWindow{};
  kimg_window_init(&sourceWindow, source.get());
  kimg_window_init(&destinationWindow, destination.get());
  AffineRun run(sourceWindow, destinationWindow, affineCaseParams(geometry, mode, kSide));
  std::unique_ptr<tbb::global_control> limit;
  if (state.range(0) > 0) {
    limit = std::make_unique<tbb::global_control>(tbb::global_control::max_allowed_parallelism, state.range(0));
  }
  ForbidScope scope(forbid);
  for (auto _ : state) {
    if (run.run() != 0) state.SkipWithError("transform failed");
    benchmark::DoNotOptimize(destination.get()->firstPel);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * int64_t{geometry.side} * geometry.side);
}

void BM_Turn30Nearest(benchmark::State& state) { affine(state, kTurn30, KIP_SAMPLE_NEAREST, nullptr); }
void BM_Turn30NearestPortable(benchmark::State& state) {
  affine(state, kTurn30, KIP_SAMPLE_NEAREST, "kip_affineProcess");
}
void BM_Turn30Bilinear(benchmark::State& state) { affine(state, kTurn30, KIP_SAMPLE_BILINEAR, nullptr); }
void BM_Turn30BilinearPortable(benchmark::State& state) {
  affine(state, kTurn30, KIP_SAMPLE_BILINEAR, "kip_affineProcess");
}
void BM_Downscale4Bilinear(benchmark::State& state) { affine(state, kDownscale4, KIP_SAMPLE_BILINEAR, nullptr); }
void BM_Downscale4BilinearPortable(benchmark::State& state) {
  affine(state, kDownscale4, KIP_SAMPLE_BILINEAR, "kip_affineProcess");
}

BENCHMARK(BM_Turn30Nearest)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Turn30NearestPortable)->ArgName("threads")->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Turn30Bilinear)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Turn30BilinearPortable)->ArgName("threads")->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Downscale4Bilinear)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Downscale4BilinearPortable)->ArgName("threads")->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The two-pass modes on the 30-degree rotation: the portable table path against the optimized
// drivers, each a single call in the calling thread (the two-pass modes are never split into
// bands). The cache is refreshed once, outside the timing, as a repeated transform finds it.
void rotate30(benchmark::State& state, uint32_t mode, bool optimized) {
  BenchImage source(1, kSide, kSide);
  BenchImage destination(1, kRotate30Side, kRotate30Side);
  kimg_window sourceWindow{}, destinationWindow{};
  kimg_window_init(&sourceWindow, source.get());
  kimg_window_init(&destinationWindow, destination.get());
  const kmath_xformLinear identity{0, 0, 1, 0, 0, 1};
  const affineSampleParams params = rotate30Params(mode, kSide);
  affineSampleCache cache{};
  affineSampleCache_initTemporary(&cache);
  if (affineSampleCache_refresh(&cache, &sourceWindow, &identity, &destinationWindow, &params, 0) != 0) {
    state.SkipWithError("cache refresh failed");
  }
  const auto* first = static_cast<const uint8_t*>(sourceWindow.firstPel);
  const uint8_t* last = first + (ptrdiff_t{kSide} - 1) * sourceWindow.stride + kSide - 1;
  for (auto _ : state) {
    const int32_t status =
        optimized ? affineTile_tableStore8(0, &params, &cache.sampleTable8, first, last, destinationWindow.firstPel)
                  : affineTable_process8(0, &sourceWindow, &destinationWindow, &params, &cache);
    if (status != 0) state.SkipWithError("sampling failed");
    benchmark::DoNotOptimize(destination.get()->firstPel);
    benchmark::ClobberMemory();
  }
  affineSampleCache_releaseTemporary(&cache);
  state.SetItemsProcessed(state.iterations() * int64_t{kRotate30Side} * kRotate30Side);
}

void BM_Rotate30Table(benchmark::State& state, uint32_t mode) { rotate30(state, mode, true); }
void BM_Rotate30TablePortable(benchmark::State& state, uint32_t mode) { rotate30(state, mode, false); }

BENCHMARK_CAPTURE(BM_Rotate30Table, linear2, KIP_SAMPLE_LINEAR2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Rotate30TablePortable, linear2, KIP_SAMPLE_LINEAR2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Rotate30Table, cubic2, KIP_SAMPLE_CUBIC2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Rotate30TablePortable, cubic2, KIP_SAMPLE_CUBIC2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
