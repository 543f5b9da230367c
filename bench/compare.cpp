// kip against OpenCV on the same work in one process. One line per case:
//   CASE  kip_ms=...  opencv_ms=...  ratio=...  threads=N      (ratio = OpenCV time / kip time)
// Each time is the median of repeated runs, kip and OpenCV alternating so that both see the same
// machine load.
#include <kip/kip.h>

#include "bench_images.hpp"

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <tbb/global_control.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kSide = 4096;
constexpr int kRepeats = 31;

double milliseconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void compareCase(const char* name, int threads, const std::function<void()>& kipWork,
                 const std::function<void()>& opencvWork) {
  tbb::global_control limit(tbb::global_control::max_allowed_parallelism, threads);
  cv::setNumThreads(threads);
  kipWork();
  opencvWork();
  std::vector<double> kipTimes, opencvTimes;
  for (int i = 0; i < kRepeats; ++i) {
    kipTimes.push_back(milliseconds(kipWork));
    opencvTimes.push_back(milliseconds(opencvWork));
  }
  const double kipMs = median(kipTimes), opencvMs = median(opencvTimes);
  std::printf("%-28s kip_ms=%.3f  opencv_ms=%.3f  ratio=%.2f  threads=%d\n", name, kipMs, opencvMs,
              opencvMs / kipMs, threads);
  std::fflush(stdout);
}

void projectionSums(int threads) {
  BenchImage source(1, kSide, kSide);
  BenchImage sums(4, kSide, 1);
  kimg_window sourceWindow{}, sumsWindow{};
  kimg_window_init(&sourceWindow, source.get());
  kimg_window_init(&sumsWindow, sums.get());
  const cv::Mat mat(kSide, kSide, CV_8UC1, source.get()->firstPel, static_cast<size_t>(source.get()->stride));
  cv::Mat reduced;

  compareCase(
      "row_sums_4096", threads, [&] { kip_projectHorizontalWindow8(&sourceWindow, &sumsWindow, nullptr); },
      [&] { cv::reduce(mat, reduced, 1, cv::REDUCE_SUM, CV_32S); });
  compareCase(
      "column_sums_4096", threads, [&] { kip_projectVerticalWindow8(&sourceWindow, &sumsWindow, nullptr); },
      [&] { cv::reduce(mat, reduced, 0, cv::REDUCE_SUM, CV_32S); });
}

// Turns, mirrors and flips of an 8-bit image. kip's code 270 turns the picture clockwise as
// displayed (destination (i, j) = source (h - 1 - j, i)), like ROTATE_90_CLOCKWISE; code 90
// counter-clockwise. Each case first checks that both produce the same pels. Returns false on a
// mismatch.
bool alignedTurns(int threads) {
  BenchImage source(1, kSide, kSide);
  BenchImage destination(1, kSide, kSide);
  kimg_window sourceWindow{}, destinationWindow{};
  kimg_window_init(&sourceWindow, source.get());
  kimg_window_init(&destinationWindow, destination.get());
  const cv::Mat mat(kSide, kSide, CV_8UC1, source.get()->firstPel, static_cast<size_t>(source.get()->stride));
  const cv::Mat kipResult(kSide, kSide, CV_8UC1, destination.get()->firstPel,
                          static_cast<size_t>(destination.get()->stride));
  cv::Mat opencvResult(kSide, kSide, CV_8UC1);

  bool same = true;
  const auto alignedCase = [&](const char* name, uint32_t code, const std::function<void()>& opencvWork) {
    const auto kipWork = [&] { kip_affineTransformAligned(&sourceWindow, &destinationWindow, code); };
    kipWork();
    opencvWork();
    if (cv::norm(kipResult, opencvResult, cv::NORM_INF) != 0) {
      std::fprintf(stderr, "%s: kip and OpenCV results differ\n", name);
      same = false;
    }
    compareCase(name, threads, kipWork, opencvWork);
  };
  alignedCase("rotate90_4096", 270, [&] { cv::rotate(mat, opencvResult, cv::ROTATE_90_CLOCKWISE); });
  alignedCase("rotate270_4096", 90, [&] { cv::rotate(mat, opencvResult, cv::ROTATE_90_COUNTERCLOCKWISE); });
  alignedCase("rotate180_4096", 180, [&] { cv::rotate(mat, opencvResult, cv::ROTATE_180); });
  alignedCase("transpose_4096", 1, [&] { cv::transpose(mat, opencvResult); });
  alignedCase("mirror_4096", 91, [&] { cv::flip(mat, opencvResult, 1); });
  alignedCase("flip_4096", 271, [&] { cv::flip(mat, opencvResult, 0); });
  return same;
}

// A 1024 x 256-sample bilinear projection of a 1024 x 256-pel rectangle turned by 30 degrees: kip's
// profile against OpenCV's warp into 1024 x 256 pels followed by column sums. kip samples
// destination pel (c, r) at its centre mapped into the source, whose pel centres lie at i + 0.5;
// OpenCV's inverse map takes pel indexes to pel indexes, hence the half-pel shifts. Returns false
// when the two profiles disagree by more than one grey level a sample on average.
bool affineProjection(int threads) {
  constexpr int32_t kCount = 1024, kDepth = 256;
  BenchImage source(1, kSide, kSide);
  BenchImage vector(4, kCount, 1);
  kimg_window sourceWindow{}, vectorWindow{};
  kimg_window_init(&sourceWindow, source.get());
  kimg_window_init(&vectorWindow, vector.get());
  const double a = 30.0 * 3.14159265358979323846 / 180.0, c = std::cos(a), s = std::sin(a);
  const double xx = kCount * c, xy = kCount * s, yx = -kDepth * s, yy = kDepth * c;
  const kmath_shapeAffineRect rect{kSide / 2.0 - (xx + yx) / 2, kSide / 2.0 - (xy + yy) / 2, xx, yx, xy, yy};
  affineSampleParams params{};
  kip_affineSampleParams_init(&params, KIP_SAMPLE_BILINEAR, &rect, kCount, kDepth);
  affineSampleCache* cache = nullptr;
  kip_affineSampleCache_construct(&cache);
  const kmath_xformLinear identity{0, 0, 1, 0, 0, 1};
  kmath_xformLinear profileXform{};

  const cv::Mat mat(kSide, kSide, CV_8UC1, source.get()->firstPel, static_cast<size_t>(source.get()->stride));
  const cv::Matx23d inverse(xx / kCount, yx / kDepth, rect.tx + xx / (2.0 * kCount) + yx / (2.0 * kDepth) - 0.5,
                            xy / kCount, yy / kDepth, rect.ty + xy / (2.0 * kCount) + yy / (2.0 * kDepth) - 0.5);
  cv::Mat warped, reduced;
  const auto kipWork = [&] {
    kip_affineProjectWindow(&sourceWindow, &identity, &vectorWindow, &params, &cache, &profileXform, nullptr);
  };
  const auto opencvWork = [&] {
    cv::warpAffine(mat, warped, inverse, cv::Size(kCount, kDepth), cv::INTER_LINEAR | cv::WARP_INVERSE_MAP);
    cv::reduce(warped, reduced, 0, cv::REDUCE_SUM, CV_32S);
  };
  kipWork();
  opencvWork();
  const auto* sums = static_cast<const uint32_t*>(vector.get()->firstPel);
  double largest = 0;
  for (int32_t i = 0; i < kCount; ++i) {
    largest = std::max(largest, std::abs(double(sums[i]) - reduced.at<int32_t>(0, i)) / kDepth);
  }
  const bool same = largest <= 1.0;
  if (!same) std::fprintf(stderr, "projection: kip and OpenCV differ by %.2f grey levels a sample\n", largest);
  compareCase("project_bilinear_1024x256", threads, kipWork, opencvWork);
  kip_affineSampleCache_destruct(&cache);
  return same;
}

}  // namespace

int main() {
  const int allThreads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  for (int threads : {1, allThreads}) {
    projectionSums(threads);
    if (!alignedTurns(threads)) return 1;
    if (!affineProjection(threads)) return 1;
  }
  return 0;
}
