// kip against OpenCV on the same work in one process. One line per case:
//   CASE  kip_ms=...  opencv_ms=...  ratio=...  threads=N      (ratio = OpenCV time / kip time)
// Each time is the median of repeated runs, kip and OpenCV alternating so that both see the same
// machine load.
//
//   compare [--one-thread] [NAME...]   only the cases whose names contain one of the NAMEs, and
//                                      only single-threaded with --one-thread
#include <kip/kip.h>

#include "affine_cases.hpp"
#include "bench_images.hpp"
#include "rotate30.hpp"

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <tbb/global_control.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kSide = 4096;
constexpr int kRepeats = 31;

// Parts of case names to run; empty runs every case.
std::vector<std::string> gCaseFilter;

bool selected(const char* name) {
  if (gCaseFilter.empty()) return true;
  return std::any_of(gCaseFilter.begin(), gCaseFilter.end(),
                     [&](const std::string& part) { return std::string(name).find(part) != std::string::npos; });
}

double milliseconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Returns kip's median time.
double compareCase(const char* name, int threads, const std::function<void()>& kipWork,
                   const std::function<void()>& opencvWork) {
  if (!selected(name)) return 0;
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
  return kipMs;
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

// General maps: kip's threaded process against cv::warpAffine on the same map (the matrix of
// affineCaseMatrix, WARP_INVERSE_MAP).
struct AffineCompare {
  const char* name;
  const AffineCase& geometry;
  uint32_t mode;
  int interpolation;
};

const AffineCompare kAffineCompares[] = {
    {"turn30_nearest_2896", kTurn30, KIP_SAMPLE_NEAREST, cv::INTER_NEAREST},
    {"turn30_bilinear_2896", kTurn30, KIP_SAMPLE_BILINEAR, cv::INTER_LINEAR},
    {"downscale4_bilinear_1024", kDownscale4, KIP_SAMPLE_BILINEAR, cv::INTER_LINEAR},
};

kimg_window windowOf(kimg_image* image) {
  kimg_window window{};
  kimg_window_init(&window, image);
  return window;
}

// Both sides of one case on one source; results in kipOut and opencvOut.
struct AffinePair {
  cv::Mat source, matrix, opencvOut, kipOut;
  int side;
  int interpolation;
  AffineRun run;

  AffinePair(kimg_image* sourceImage, kimg_image* destinationImage, const AffineCompare& c)
      : side(c.geometry.side), interpolation(c.interpolation),
        run(windowOf(sourceImage), windowOf(destinationImage), affineCaseParams(c.geometry, c.mode, kSide)) {
    source = cv::Mat(kSide, kSide, CV_8UC1, sourceImage->firstPel, static_cast<size_t>(sourceImage->stride));
    kipOut = cv::Mat(side, side, CV_8UC1, destinationImage->firstPel, static_cast<size_t>(destinationImage->stride));
    matrix = cv::Mat(2, 3, CV_64F);
    affineCaseMatrix(affineCaseParams(c.geometry, c.mode, kSide), matrix.ptr<double>());
    opencvOut = cv::Mat(side, side, CV_8UC1);
  }
  void kip() {
    if (run.run() != 0) {
      std::fprintf(stderr, "kip transform failed\n");
      std::exit(1);
    }
  }
  void opencv() {
    cv::warpAffine(source, opencvOut, matrix, cv::Size(side, side), interpolation | cv::WARP_INVERSE_MAP);
  }
};

// A geometry slip shows as large differences on a steep smooth pattern (a half-pel slip moves
// values by about 15 levels); rounding differences stay within a level or two, and nearest
// neighbour may pick the other pel only where a position lies within OpenCV's 1/1024 of a border.
bool affineGeometryAgrees() {
  BenchImage source(1, kSide, kSide);
  for (int32_t y = 0; y < kSide; ++y) {
    auto* row = static_cast<uint8_t*>(source.get()->firstPel) + static_cast<ptrdiff_t>(y) * source.get()->stride;
    for (int32_t x = 0; x < kSide; ++x) {
      row[x] = static_cast<uint8_t>(128 + 100 * std::sin(x * 0.31) * std::cos(y * 0.23));
    }
  }
  bool agrees = true;
  for (const AffineCompare& c : kAffineCompares) {
    BenchImage destination(1, c.geometry.side, c.geometry.side);
    AffinePair pair(source.get(), destination.get(), c);
    pair.kip();
    pair.opencv();
    cv::Mat difference;
    cv::absdiff(pair.kipOut, pair.opencvOut, difference);
    double largest = 0;
    cv::minMaxLoc(difference, nullptr, &largest);
    const double over2 = 100.0 * cv::countNonZero(difference > 2) / difference.total();
    const bool ok = c.mode == KIP_SAMPLE_NEAREST ? over2 < 1.0 : largest <= 2;
    std::printf("geometry %-24s max_diff=%.0f  over_2=%.3f%%  %s\n", c.name, largest, over2, ok ? "ok" : "MISMATCH");
    agrees = agrees && ok;
  }
  return agrees;
}

void affineCases(int threads, std::map<std::string, std::map<int, double>>& kipTimes) {
  BenchImage source(1, kSide, kSide);
  for (const AffineCompare& c : kAffineCompares) {
    BenchImage destination(1, c.geometry.side, c.geometry.side);
    AffinePair pair(source.get(), destination.get(), c);
    kipTimes[c.name][threads] = compareCase(c.name, threads, [&] { pair.kip(); }, [&] { pair.opencv(); });
  }
}

// The two-pass modes on the 30-degree rotation against warpAffine on the same map, through
// kip_affineTransform with a cache (the first call builds the sample table, the timed ones find
// it). The two-pass modes are never split into bands, so kip uses one thread in both rounds.
// Returns false when the two results are too far apart to be the same geometry.
bool rotate30TwoPass(int threads) {
  BenchImage source(1, kSide, kSide);
  BenchImage destination(1, kRotate30Side, kRotate30Side);
  const cv::Mat mat(kSide, kSide, CV_8UC1, source.get()->firstPel, static_cast<size_t>(source.get()->stride));
  const cv::Mat kipResult(kRotate30Side, kRotate30Side, CV_8UC1, destination.get()->firstPel,
                          static_cast<size_t>(destination.get()->stride));
  cv::Mat opencvResult(kRotate30Side, kRotate30Side, CV_8UC1);
  affineSampleCache* cache = nullptr;
  kip_affineSampleCache_construct(&cache);

  bool same = true;
  for (const uint32_t mode : {KIP_SAMPLE_LINEAR2, KIP_SAMPLE_CUBIC2}) {
    const affineSampleParams params = rotate30Params(mode, kSide);
    // kip samples destination pel (c, r) at the source point M(c + 0.5, r + 0.5), where source pel
    // i covers [i, i + 1); OpenCV puts pel centres at whole numbers, so its destination-to-source
    // matrix is M at (c + 0.5, r + 0.5), less 0.5.
    const kmath_shapeAffineRect& r = params.affineRect;
    const double a = r.e0 / kRotate30Side, b = r.e1 / kRotate30Side;
    const double c = r.e2 / kRotate30Side, d = r.e3 / kRotate30Side;
    const cv::Matx23d inverse(a, b, r.tx + (a + b) / 2 - 0.5, c, d, r.ty + (c + d) / 2 - 0.5);
    const int interpolation = mode == KIP_SAMPLE_LINEAR2 ? cv::INTER_LINEAR : cv::INTER_CUBIC;

    const char* name = mode == KIP_SAMPLE_LINEAR2 ? "rotate30_linear2_4096" : "rotate30_cubic2_4096";
    const auto kipWork = [&] {
      if (kip_affineTransform(source.get(), destination.get(), &params, &cache) != 0) {
        std::fprintf(stderr, "%s: kip_affineTransform failed\n", name);
      }
    };
    const auto opencvWork = [&] {
      cv::warpAffine(mat, opencvResult, inverse, cv::Size(kRotate30Side, kRotate30Side),
                     interpolation | cv::WARP_INVERSE_MAP);
    };
    kipWork();
    opencvWork();
    // Both interpolate the same points, each with its own fixed-point weights (OpenCV's fractions
    // have 5 bits): about 2 levels apart on average on this sharp, noisy pattern, where a half-pel
    // slip puts them 7 to 9 levels apart.
    const double meanDifference =
        cv::norm(kipResult, opencvResult, cv::NORM_L1) / (double{kRotate30Side} * kRotate30Side);
    if (meanDifference > 4.0) {
      std::fprintf(stderr, "%s: kip and OpenCV differ by %.2f levels on average\n", name, meanDifference);
      same = false;
    }
    compareCase(name, threads, kipWork, opencvWork);
  }
  kip_affineSampleCache_destruct(&cache);
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  int allThreads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help") {
      std::printf("compare [--one-thread] [NAME...]: kip against OpenCV on the cases whose names contain a NAME\n");
      return 0;
    }
    if (argument == "--one-thread") {
      allThreads = 1;
    } else {
      gCaseFilter.push_back(argument);
    }
  }
  if (!affineGeometryAgrees()) return 1;
  std::map<std::string, std::map<int, double>> affineTimes;
  for (int threads : allThreads > 1 ? std::vector<int>{1, allThreads} : std::vector<int>{1}) {
    projectionSums(threads);
    if (!alignedTurns(threads)) return 1;
    if (!affineProjection(threads)) return 1;
    if (!rotate30TwoPass(threads)) return 1;
    affineCases(threads, affineTimes);
  }
  if (allThreads > 1) {
    for (const auto& [name, times] : affineTimes) {
      if (!selected(name.c_str())) continue;
      std::printf("%-28s kip %d threads / 1 thread: speed-up=%.2f\n", name.c_str(), allThreads,
                  times.at(1) / times.at(allThreads));
    }
  }
  return 0;
}
