// Rounding and integer conversions of doubles. Positions reach these from caller-supplied
// geometry, so NaN, infinities and huge values are ordinary input here: every conversion compares
// in double first and converts only a value known to fit, never invoking undefined behaviour.
#include "platform/math.hpp"

#include <cmath>
#include <limits>

namespace {

constexpr double kInt32Min = -2147483648.0;
constexpr double kInt32Max = 2147483647.0;

// value is already integral (a floor or a ceiling); NaN fails every comparison and gives 0.
int32_t saturateIntegral(double value) {
  if (value >= kInt32Max) return std::numeric_limits<int32_t>::max();
  if (value <= kInt32Min) return std::numeric_limits<int32_t>::min();
  if (value > kInt32Min) return static_cast<int32_t>(value);
  return 0;
}

int32_t checkedIntegral(double x, double value, int32_t* out) {
  if (out == nullptr) return KIP_ERR_NULL_POINTER;
  if (!std::isfinite(x)) return KIP_ERR_NOT_FINITE;
  if (!(value >= kInt32Min && value <= kInt32Max)) return KIP_ERR_OUT_OF_RANGE;
  *out = static_cast<int32_t>(value);
  return KIP_OK;
}

}  // namespace

double kmath_double_round(double x) { return std::round(x); }

int kmath_double_epsilonEqual(double a, double b, double epsilon) { return std::fabs(a - b) <= epsilon ? 1 : 0; }

int32_t kxfIFloor(double x) { return saturateIntegral(std::floor(x)); }

int32_t kxfICeil(double x) { return saturateIntegral(std::ceil(x)); }

double kxfFrac(double x) {
  const double fraction = x - std::floor(x);
  // A tiny negative x rounds x - floor(x) up to exactly 1; callers rely on [0, 1), so give the
  // largest double below 1, which is the true value rounded down. Non-finite x gives NaN.
  constexpr double kBelowOne = 1.0 - std::numeric_limits<double>::epsilon() / 2.0;
  return fraction >= 1.0 ? kBelowOne : fraction;
}

int32_t kmath_double_checkedFloor(double x, int32_t* out) { return checkedIntegral(x, std::floor(x), out); }

int32_t kmath_double_checkedCeil(double x, int32_t* out) { return checkedIntegral(x, std::ceil(x), out); }
