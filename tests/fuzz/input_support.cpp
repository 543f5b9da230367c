// The fuzz input's decisions: bytes read as sizes, strides, origins, counts, modes, numbers,
// rectangles and transforms, with the plainest choice for a 0 byte.
#include "fuzz_support.hpp"

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

namespace kipfuzz {

uint8_t Input::byte() { return used_ < size_ ? data_[used_++] : 0; }
uint16_t Input::u16() { return static_cast<uint16_t>(byte() | byte() << 8); }
uint32_t Input::u32() { return u16() | static_cast<uint32_t>(u16()) << 16; }

int32_t Input::range(int32_t low, int32_t high) {
  const uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(high) - low) + 1;
  return static_cast<int32_t>(low + static_cast<int64_t>(u32() % span));
}

int32_t Input::extent(int32_t maxSize) {
  switch (byte() % 8) {
    case 5: return 0;
    case 6: return 1;
    case 7: return range(0, maxSize);
    default: return range(1, maxSize < 40 ? maxSize : 40);
  }
}

int32_t Input::stride(int32_t width) {
  switch (byte() % 16) {
    case 15: return width + range(17, 300);
    case 14: return width - 1;  // refused unless the width is 0
    case 13: return -range(1, 1000);
    case 12: return range(32768, 70000);  // too wide for 16.16 positions
    case 11: case 10: case 9: return width + range(1, 16);
    default: return width;
  }
}

int32_t Input::origin() {
  switch (byte() % 16) {
    case 15: return INT32_MAX - range(0, 300);
    case 14: return INT32_MIN + range(0, 300);
    case 13: return range(-100000, 100000);
    case 12: case 11: case 10: return range(-300, 300);
    default: return 0;
  }
}

int32_t Input::count() {
  switch (byte() % 24) {
    case 23: return -range(1, 5);
    case 22: return INT32_MIN;
    case 21: return 0;
    case 20: return 46341;      // 46341^2 exceeds INT32_MAX
    case 19: return 65536;      // 65536^2 wraps 32 bits to 0
    case 18: return INT32_MAX;
    case 17: return range(1000, 100000);
    case 16: case 15: return 1;
    default: return range(1, 64);
  }
}

uint32_t Input::sampleMode() {
  const uint8_t b = byte();
  return b == 255 ? 0xFFFFFFFFu : b == 254 ? 0x80000001u : b % 8u;
}

double Input::number() {
  using limits = std::numeric_limits<double>;
  static constexpr double kHuge[] = {1e300, -1e300, 1e18, -1e18, limits::max(), -limits::max(), 2147483648.0,
                                     -2147483649.0, 2147483647.5, 32768.0, 65536.0, 1e9};
  static constexpr double kTiny[] = {1e-300, -1e-300, limits::denorm_min(), -0.0, 1e-12, 1e-9, 0.5 / 65536, 1e-5};
  switch (byte() % 16) {
    case 15: return limits::quiet_NaN();
    case 14: return limits::infinity();
    case 13: return -limits::infinity();
    case 12: return kHuge[byte() % std::size(kHuge)];
    case 11: return kTiny[byte() % std::size(kTiny)];
    case 10: {
      double d = 0;
      const uint64_t bits = static_cast<uint64_t>(u32()) << 32 | u32();
      std::memcpy(&d, &bits, sizeof d);
      return d;
    }
    case 9: case 8: return range(-300, 300) + u16() / 65536.0;
    default: return range(-300, 300);
  }
}

kmath_shapeAffineRect Input::affineRect(int32_t w, int32_t h) {
  const uint8_t kind = byte() % 8;
  if (kind == 7) {
    // Element by element hostile.
    return {number(), number(), number(), number(), number(), number()};
  }
  double tx = 0, ty = 0, xs = 0, ys = 0, angle = 0;
  if (kind <= 2) {
    // Axis-aligned with integral corners: exact copies, turns and mirrors for matching counts.
    tx = range(-4, w + 4);
    ty = range(-4, h + 4);
    xs = range(0, w + 2);
    ys = range(0, h + 2);
    angle = (byte() % 4) * (M_PI / 2);
  } else {
    // Anywhere near the source, turned by any angle, sides from tiny to several times the source.
    tx = range(-2 * w - 8, 3 * w + 8) + u16() / 65536.0;
    ty = range(-2 * h - 8, 3 * h + 8) + u16() / 65536.0;
    xs = flag() ? range(0, 2 * w + 4) + u16() / 65536.0 : number();
    ys = flag() ? range(0, 2 * h + 4) + u16() / 65536.0 : number();
    angle = byte() * (2 * M_PI / 256);
  }
  const double c = std::cos(angle), s = std::sin(angle);
  // Exact zeros and ones for the quarter turns, so that aligned maps really are aligned.
  const double cr = std::round(c) == c || std::fabs(c - std::round(c)) < 1e-15 ? std::round(c) : c;
  const double sr = std::fabs(s - std::round(s)) < 1e-15 ? std::round(s) : s;
  double e0 = xs * cr, e2 = xs * sr;
  double e1 = -ys * sr, e3 = ys * cr;
  switch (byte() % 8) {
    case 7: e1 = -e1, e3 = -e3; break;                // mirrored
    case 6: e1 = e0, e3 = e2; break;                  // degenerate: parallel sides
    case 5: e0 = 0, e2 = 0; break;                    // degenerate: no x side
    case 4: e0 *= 1e-9, e2 *= 1e-9; break;            // tiny side
    default: break;
  }
  return {tx, ty, e0, e1, e2, e3};
}

kmath_xformLinear Input::xform() {
  switch (byte() % 8) {
    case 7: return {number(), number(), number(), number(), number(), number()};
    case 6: return {static_cast<double>(range(-50, 50)), static_cast<double>(range(-50, 50)), 1, 0, 0, 1};
    case 5: return {range(-50, 50) + u16() / 65536.0, 0.25, 2, 0, 0, 0.5};
    case 4: return {10, -3, 0, -1, 1, 0};  // a quarter turn
    case 3: return {0, 0, 0, 0, 0, 0};     // singular
    default: return {0, 0, 1, 0, 0, 1};
  }
}

}  // namespace kipfuzz
