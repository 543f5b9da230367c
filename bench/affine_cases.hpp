// The general-map samplings that kip_bench and compare time: an 8-bit 4096 x 4096 source turned by
// 30 degrees at scale 1 into 2896 x 2896 pels (all inside the source), and the whole source
// downscaled by 4 into 1024 x 1024. Until the transform entry points exist, a run is the cache
// refresh once and then the threaded process, as the transform path will call them.
#pragma once

#include <kip/kip.h>

#include <cmath>
#include <cstdint>
#include <numbers>

#include "cache/cache.hpp"
#include "engine/threaded_process.hpp"

struct AffineCase {
  const char* name;
  double degrees, scale;  // source pels per destination pel
  int32_t side;           // destination side
};

inline constexpr AffineCase kTurn30{"turn30", 30.0, 1.0, 2896};
inline constexpr AffineCase kDownscale4{"downscale4", 0.0, 4.0, 1024};

// The rectangle of side x scale source pels centred on the source's centre, turned by degrees.
inline affineSampleParams affineCaseParams(const AffineCase& c, uint32_t mode, int32_t sourceSide) {
  const double length = c.side * c.scale;
  const double cs = std::cos(c.degrees * std::numbers::pi / 180), sn = std::sin(c.degrees * std::numbers::pi / 180);
  const double xSideX = length * cs, xSideY = length * sn, ySideX = -length * sn, ySideY = length * cs;
  const double centre = sourceSide / 2.0;
  affineSampleParams params{};
  params.affineRect = {
      centre - 0.5 * (xSideX + ySideX), centre - 0.5 * (xSideY + ySideY), xSideX, ySideX, xSideY, ySideY};
  params.sampleMode = mode;
  params.xCount = c.side;
  params.yCount = c.side;
  return params;
}

// The map in the form of a destination-to-source matrix with pel centres at integers (the
// convention of other libraries): kip samples destination pel (c, r) at source point
// M(c + 0.5, r + 0.5) with source pel centres at i + 0.5, so x = M(c + 0.5, r + 0.5) - 0.5.
// Row-major 2 x 3: x = m[0] c + m[1] r + m[2], y = m[3] c + m[4] r + m[5].
inline void affineCaseMatrix(const affineSampleParams& p, double m[6]) {
  const kmath_shapeAffineRect& r = p.affineRect;
  m[0] = r.e0 / p.xCount;
  m[1] = r.e1 / p.yCount;
  m[3] = r.e2 / p.xCount;
  m[4] = r.e3 / p.yCount;
  m[2] = r.tx + 0.5 * (m[0] + m[1]) - 0.5;
  m[5] = r.ty + 0.5 * (m[3] + m[4]) - 0.5;
}

// A sampling's cache, refreshed once for its geometry; run() is one transform of the pels.
class AffineRun {
 public:
  AffineRun(const kimg_window& source, const kimg_window& destination, const affineSampleParams& params)
      : source_(source), destination_(destination), params_(params) {
    affineSampleCache_initTemporary(&cache_);
    status_ = affineSampleCache_refresh(&cache_, &source_, &identity_, &destination_, &params_, 0);
  }
  ~AffineRun() { affineSampleCache_releaseTemporary(&cache_); }
  AffineRun(const AffineRun&) = delete;
  AffineRun& operator=(const AffineRun&) = delete;

  int32_t run() {
    if (status_ < 0) return status_;
    return affineProcess_threaded8(&source_, &identity_, &destination_, &params_, &cache_);
  }

 private:
  kimg_window source_, destination_;
  affineSampleParams params_;
  kmath_xformLinear identity_{0, 0, 1, 0, 0, 1};
  affineSampleCache cache_{};
  int32_t status_ = 0;
};
