// First passes of the two-pass line kernels (table_simd-inl.h), one instruction set per
// inclusion: the values of the intermediate line, from source rows loaded as runs of columns
// (along x) or from taps copied through staging (any other orientation).
#if defined(KIP_ENGINE_TABLE_FIRST_PASS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KIP_ENGINE_TABLE_FIRST_PASS_INL_H_
#undef KIP_ENGINE_TABLE_FIRST_PASS_INL_H_
#else
#define KIP_ENGINE_TABLE_FIRST_PASS_INL_H_
#endif

#include "cache/sample_table.hpp"
#include "engine/table_lanes-inl.h"
#include "engine/table_simd.hpp"
#include "engine/two_pass_values.hpp"
#include "frame/fixed_point.hpp"

#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <type_traits>

HWY_BEFORE_NAMESPACE();
namespace kip {
namespace HWY_NAMESPACE {
namespace table_simd {

// First pass, common part: value k's reference pel is q = offset + k x majorStep + (integer part
// of its minor position) x minorStep; the values go to the line from out.
template <bool kCubic>
struct FirstPassBase {
  using Value = std::conditional_t<kCubic, Values8::CubicValue, Values8::LinearValue>;
  static constexpr bool kRepeatable = true;

  const uint8_t* source;
  const int16_t* weights;
  Value* out;
  ptrdiff_t offset;
  int32_t majorStep, minorStep, minor, minorAdvance;
  int64_t lastOffset;

  FirstPassBase(const sampleTableHeader& h, const simdLineParams& p, void* lineWrite)
      : source(p.source),
        weights(p.weights),
        out(static_cast<Value*>(lineWrite)),
        offset(p.sourceOffset),
        majorStep(h.majorStep),
        minorStep(h.minorStep),
        minor(p.minor),
        minorAdvance(h.minorAdvance),
        lastOffset(p.lastOffset) {}

  int32_t PositionAt(int32_t k) const { return fixedWrapAdd(minor, fixedWrapMultiply(minorAdvance, k)); }

  int32_t One(int32_t k) const {
    const int32_t position = PositionAt(k);
    const ptrdiff_t step = minorStep;
    const ptrdiff_t q = offset + ptrdiff_t{k} * majorStep + ptrdiff_t{fixedIntegerPart(position)} * step;
    if constexpr (!kCubic) {
      return linearValue<Values8>(source[q], source[q + step], fixedFraction15(position));
    } else {
      const int16_t* w = cubicWeightsAt(weights, position);
      const int32_t sum = w[0] * source[q - step] + w[1] * source[q] + w[2] * source[q + step] +
                          w[3] * source[q + 2 * step] + kCubicFirstRound;
      return sum >> 9;  // arithmetic: toward minus infinity, like the vector shift
    }
  }
  void StoreOne(int32_t k, int32_t value) const { out[k] = static_cast<Value>(value); }

  template <class D>
  HWY_INLINE void Emit(D d, hn::VFromD<D> values, int32_t k0, int32_t n) const {
    const hn::Rebind<Value, D> dv;
    if (n == static_cast<int32_t>(hn::Lanes(d))) {
      hn::StoreU(hn::DemoteTo(dv, values), dv, out + k0);
    } else {
      EmitBlock(d, values, k0, n, [this](int32_t k, hn::TFromD<D> v) { StoreOne(k, v); });
    }
  }
};

// First pass along x (majorStep +-1, minorStep the row stride, |minorAdvance| at most one pel):
// the rows of a block are loaded as runs of its columns and each lane blends in its own. The
// lanes' rows span at most lanes x |minorAdvance| + 1 rows (plus the taps' reach). Mode 2 blends
// pels as bytes and widens only the two it keeps; its lanes run in memory order (for majorStep -1
// from the block's last value on) and come back to value order at the end. Mode 3 blends pairs of
// rows in 32-bit lanes.
template <bool kCubic>
struct FirstPassRows : FirstPassBase<kCubic> {
  using Base = FirstPassBase<kCubic>;
  using D = std::conditional_t<kCubic, DI, D16>;  // cubic lanes hold tap pairs
  using V = hn::VFromD<D>;
  static constexpr int32_t kReach = kCubic ? 1 : 0;  // rows before the reference row
  const LaneSteps<D16>& steps16;                     // of minorAdvance
  const LaneSteps<D16>& steps16Reversed;             // of -minorAdvance, for lanes in memory order

  FirstPassRows(const sampleTableHeader& h, const simdLineParams& p, void* lineWrite, const LaneSteps<D16>& steps,
                const LaneSteps<D16>& stepsReversed)
      : Base(h, p, lineWrite), steps16(steps), steps16Reversed(stepsReversed) {}

  int32_t Lanes() const { return static_cast<int32_t>(hn::Lanes(D())); }

  // Row s of the block's rows, as lanes in value order.
  HWY_INLINE V Row(ptrdiff_t first, int32_t s) const {
    const D d;
    const hn::Rebind<uint8_t, D> d8;
    const V row = hn::PromoteTo(d, hn::LoadU(d8, this->source + first + ptrdiff_t{s} * this->minorStep));
    return this->majorStep > 0 ? row : hn::Reverse(d, row);
  }

  bool Block(int32_t k0, int32_t n) const {
    const D d;
    const int32_t lanes = Lanes();
    const bool reversed = this->majorStep < 0;
    // Mode 2 lane 0 is the block's first value in memory order; mode 3 lane 0 its value k0.
    const bool memoryOrder = !kCubic && reversed;
    const int32_t advance = memoryOrder ? -this->minorAdvance : this->minorAdvance;
    const int32_t position = this->PositionAt(memoryOrder ? k0 + lanes - 1 : k0);
    const int32_t row0 = fixedIntegerPart(position), fraction0 = fixedFraction(position);
    // Rows of the first and last lanes: between them lie all the others.
    const int32_t lastRow = static_cast<int32_t>((int64_t{fraction0} + int64_t{lanes - 1} * advance) >> 16);
    const int32_t rowMin = std::min(0, lastRow), rows = std::abs(lastRow) + 2 + 2 * kReach;
    const ptrdiff_t column = this->offset + ptrdiff_t{k0} * this->majorStep - (reversed ? lanes - 1 : 0);
    const ptrdiff_t first = column + ptrdiff_t{row0 + rowMin - kReach} * this->minorStep;
    if (first < 0 || first + ptrdiff_t{rows - 1} * this->minorStep + lanes - 1 > this->lastOffset) return false;

    if constexpr (!kCubic) {
      const hn::Rebind<int8_t, D> d8;
      const hn::Rebind<uint8_t, D> du8;
      V whole, fraction;
      (reversed ? steps16Reversed : steps16).At(d, fraction0, &whole, &fraction);
      // Each lane's reference row among the block's rows.
      const auto select = hn::DemoteTo(d8, whole - hn::Set(d, static_cast<int16_t>(rowMin)));
      const int8_t* pels = reinterpret_cast<const int8_t*>(this->source + first);
      const ptrdiff_t stride = this->minorStep;
      auto low = hn::LoadU(d8, pels), high = hn::LoadU(d8, pels + stride);
      auto count = hn::Zero(d8);
      for (int32_t s = 1; s + 1 < rows; ++s) {
        const auto take = hn::Gt(select, count);  // the lane's row is s or further
        count = count + hn::Set(d8, 1);
        low = hn::IfThenElse(take, hn::LoadU(d8, pels + s * stride), low);
        high = hn::IfThenElse(take, hn::LoadU(d8, pels + (s + 1) * stride), high);
      }
      const hn::RebindToUnsigned<D> du;
      const V values = LinearBlend16(hn::PromoteTo(d, hn::BitCast(du8, low)), hn::PromoteTo(d, hn::BitCast(du8, high)),
                                     hn::BitCast(d, hn::ShiftRight<1>(hn::BitCast(du, fraction))));
      this->Emit(d, memoryOrder ? hn::Reverse(d, values) : values, k0, n);
    } else {
      const DU du;
      const VU positions = hn::Set(du, static_cast<uint32_t>(position)) +
                           hn::Iota(du, 0) * hn::Set(du, static_cast<uint32_t>(this->minorAdvance));
      const V select = hn::ShiftRight<16>(hn::BitCast(d, positions)) - hn::Set(d, row0 + rowMin);
      // Pairs of rows (s, s + 1) as 16-bit halves: the taps q[-stride], q[0] and q[stride],
      // q[2 x stride] of a lane whose reference row is s + 1.
      V rows4[4] = {Row(first, 0), Row(first, 1), Row(first, 2), Row(first, 3)};
      const auto pair = [](V a, V b)
                            HWY_ATTR { return hn::BitCast(DU(), a) | hn::ShiftLeft<16>(hn::BitCast(DU(), b)); };
      VU t01 = pair(rows4[0], rows4[1]), t23 = pair(rows4[2], rows4[3]);
      for (int32_t s = 1; s + 3 < rows; ++s) {
        const auto take = hn::RebindMask(du, hn::Gt(select, hn::Set(d, s - 1)));
        rows4[0] = rows4[1], rows4[1] = rows4[2], rows4[2] = rows4[3], rows4[3] = Row(first, s + 3);
        t01 = hn::IfThenElse(take, pair(rows4[0], rows4[1]), t01);
        t23 = hn::IfThenElse(take, pair(rows4[2], rows4[3]), t23);
      }
      VU w01, w23;
      StagedWeights(this->weights, positions, &w01, &w23);
      const VI sum = PairDot(t01, w01) + PairDot(t23, w23) + hn::Set(d, kCubicFirstRound);
      this->Emit(d, hn::ShiftRight<9>(sum), k0, n);
    }
    return true;
  }
};

// First pass in any other orientation: each lane's taps copied through a staging array, one word
// per value when the minor step is 1 (the taps are neighbours), else one word per tap.
template <bool kCubic>
struct FirstPassStaged : FirstPassBase<kCubic> {
  using Base = FirstPassBase<kCubic>;

  FirstPassStaged(const sampleTableHeader& h, const simdLineParams& p, void* lineWrite) : Base(h, p, lineWrite) {}

  int32_t Lanes() const { return static_cast<int32_t>(hn::Lanes(DU())); }

  bool Block(int32_t k0, int32_t n) const {
    // Staging pays for its copies only over 8 lanes or more; narrower vectors go value by value.
    if (Lanes() < 8) return false;
    const DI di;
    const DU du;
    const auto u = [](int64_t v) { return static_cast<uint32_t>(static_cast<uint64_t>(v)); };
    // Spare lanes (n below the lane count) repeat lane 0, so that they read nothing new.
    const VU iota = hn::IfThenElseZero(hn::FirstN(du, static_cast<size_t>(n)), hn::Iota(du, 0));
    const VU positions = hn::Set(du, u(this->PositionAt(k0))) + iota * hn::Set(du, u(this->minorAdvance));
    const VU wholes = hn::BitCast(du, hn::ShiftRight<16>(hn::BitCast(di, positions)));
    const VU q = hn::Set(du, u(this->offset + ptrdiff_t{k0} * this->majorStep)) +
                 iota * hn::Set(du, u(this->majorStep)) + wholes * hn::Set(du, u(this->minorStep));
    const VU byte = hn::Set(du, 0xFF);
    const VU step = hn::Set(du, u(this->minorStep));
    const bool adjacent = this->minorStep == 1;
    HWY_ALIGN uint32_t stage[4 * kMaxLanes32];
    const auto words = [&](VU offsets, VU* out) HWY_ATTR {
      if (!StagedWords<1>(this->source, offsets, this->lastOffset, stage)) return false;
      *out = hn::Load(du, stage);
      return true;
    };
    if constexpr (!kCubic) {
      VU low, high;
      if (adjacent) {
        if (!words(q, &low)) return false;
        high = hn::ShiftRight<8>(low);
      } else if (!words(q, &low) || !words(q + step, &high)) {
        return false;
      }
      this->Emit(di, LinearBlend(hn::And(low, byte), hn::And(high, byte), positions), k0, n);
    } else {
      VU t01, t23;
      if (adjacent) {
        VU word;
        if (!words(q - step, &word)) return false;
        const VU highHalf = hn::Set(du, 0xFF0000);
        t01 = hn::Or(hn::And(word, byte), hn::And(hn::ShiftLeft<8>(word), highHalf));
        t23 = hn::Or(hn::And(hn::ShiftRight<16>(word), byte), hn::And(hn::ShiftRight<8>(word), highHalf));
      } else {
        VU t0, t1, t2, t3;
        if (!words(q - step, &t0) || !words(q, &t1) || !words(q + step, &t2) || !words(q + step + step, &t3)) {
          return false;
        }
        t01 = hn::Or(hn::And(t0, byte), hn::ShiftLeft<16>(hn::And(t1, byte)));
        t23 = hn::Or(hn::And(t2, byte), hn::ShiftLeft<16>(hn::And(t3, byte)));
      }
      VU w01, w23;
      StagedWeights(this->weights, positions, &w01, &w23);
      this->Emit(di, hn::ShiftRight<9>(PairDot(t01, w01) + PairDot(t23, w23) + hn::Set(di, kCubicFirstRound)), k0, n);
    }
    return true;
  }
};

}  // namespace table_simd
}  // namespace HWY_NAMESPACE
}  // namespace kip
HWY_AFTER_NAMESPACE();

#endif  // include guard
