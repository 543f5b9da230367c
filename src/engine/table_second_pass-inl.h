// Second passes of the two-pass line kernels (table_simd-inl.h), one instruction set per
// inclusion: the samples of a destination row from the intermediate line, through 16-byte
// windows of the line (mode 2) or staging copies, stored or added into 32-bit entries.
#if defined(KIP_ENGINE_TABLE_SECOND_PASS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KIP_ENGINE_TABLE_SECOND_PASS_INL_H_
#undef KIP_ENGINE_TABLE_SECOND_PASS_INL_H_
#else
#define KIP_ENGINE_TABLE_SECOND_PASS_INL_H_
#endif

#include "cache/sample_table.hpp"
#include "engine/table_lanes-inl.h"
#include "engine/table_simd.hpp"
#include "engine/two_pass_values.hpp"
#include "frame/fixed_point.hpp"

#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

HWY_BEFORE_NAMESPACE();
namespace kip {
namespace HWY_NAMESPACE {
namespace table_simd {

// Second pass, common part: sample j at line position line + j x lineAdvance, its values read
// from the line at the integer part on; the results go to the destination.
template <bool kCubic, bool kAccumulate>
struct SecondPassBase {
  using Value = std::conditional_t<kCubic, Values8::CubicValue, Values8::LinearValue>;
  static constexpr bool kRepeatable = !kAccumulate;  // an entry must receive its sample once

  const Value* values;
  const int16_t* weights;
  void* destination;
  int32_t line, lineAdvance;
  int64_t lastByte;  // of the line in use, counted from values

  SecondPassBase(const sampleTableHeader& h, const simdLineParams& p, const void* lineRead)
      : values(static_cast<const Value*>(lineRead)),
        weights(p.weights),
        destination(p.destination),
        line(p.line),
        lineAdvance(h.lineAdvance),
        lastByte(int64_t{p.lineBytes} -
                 (static_cast<const unsigned char*>(lineRead) - static_cast<const unsigned char*>(p.lineBuffer)) - 1) {}

  int32_t PositionAt(int32_t j) const { return fixedWrapAdd(line, fixedWrapMultiply(lineAdvance, j)); }

  int32_t One(int32_t j) const {
    const int32_t position = PositionAt(j);
    const Value* v = values + fixedIntegerPart(position);
    if constexpr (!kCubic) {
      return linearValue<Values8>(v[0], v[1], fixedFraction15(position));
    } else {
      return cubicSecondValue<Values8>(cubicWeightsAt(weights, position), v);
    }
  }
  void StoreOne(int32_t j, int32_t sample) const {
    if constexpr (kAccumulate) {
      static_cast<uint32_t*>(destination)[j] += static_cast<uint32_t>(sample);
    } else {
      static_cast<uint8_t*>(destination)[j] = static_cast<uint8_t>(sample);
    }
  }

  template <class D>
  HWY_INLINE void Emit(D d, hn::VFromD<D> samples, int32_t j0, int32_t n) const {
    if (n != static_cast<int32_t>(hn::Lanes(d))) {
      EmitBlock(d, samples, j0, n, [this](int32_t j, hn::TFromD<D> v) { StoreOne(j, v); });
    } else if constexpr (kAccumulate) {
      uint32_t* entries = static_cast<uint32_t*>(destination) + j0;
      if constexpr (sizeof(hn::TFromD<D>) == 4) {
        const hn::RebindToUnsigned<D> du;
        hn::StoreU(hn::LoadU(du, entries) + hn::BitCast(du, samples), du, entries);
#if HWY_TARGET != HWY_SCALAR
      } else {
        const hn::Repartition<uint32_t, D> du;  // 16-bit samples, 0 .. 255
        const hn::Half<hn::RebindToUnsigned<D>> dh;
        const auto wide = hn::BitCast(hn::RebindToUnsigned<D>(), samples);
        const size_t half = hn::Lanes(du);
        hn::StoreU(hn::LoadU(du, entries) + hn::PromoteTo(du, hn::LowerHalf(dh, wide)), du, entries);
        hn::StoreU(hn::LoadU(du, entries + half) + hn::PromoteTo(du, hn::UpperHalf(dh, wide)), du, entries + half);
#endif
      }
    } else {
      const hn::Rebind<uint8_t, D> d8;
      hn::StoreU(hn::DemoteTo(d8, samples), d8, static_cast<uint8_t*>(destination) + j0);
    }
  }
};

// Second pass through staging: each lane's line values (a word from the value on: the two values
// of mode 2, or the four of mode 3) and, in mode 3, its weights.
template <bool kCubic, bool kAccumulate>
struct SecondPassStaged : SecondPassBase<kCubic, kAccumulate> {
  using Base = SecondPassBase<kCubic, kAccumulate>;
  SecondPassStaged(const sampleTableHeader& h, const simdLineParams& p, const void* lineRead) : Base(h, p, lineRead) {}

  int32_t Lanes() const { return static_cast<int32_t>(hn::Lanes(DU())); }

  bool Block(int32_t j0, int32_t n) const {
    const DI di;
    const DU du;
    // Spare lanes (n below the lane count) repeat lane 0, so that they read nothing new.
    const VU own = hn::Iota(du, 0) * hn::Set(du, static_cast<uint32_t>(this->lineAdvance));
    const VU steps = hn::IfThenElseZero(hn::FirstN(du, static_cast<size_t>(n)), own);
    const VU positions = hn::Set(du, static_cast<uint32_t>(this->PositionAt(j0))) + steps;
    const VU wholes = hn::BitCast(du, hn::ShiftRight<16>(hn::BitCast(di, positions)));
    HWY_ALIGN uint32_t stage[2 * kMaxLanes32];
    if constexpr (!kCubic) {
      if (!StagedWords<1>(this->values, wholes, this->lastByte, stage)) return false;
      const VU word = hn::Load(du, stage), byte = hn::Set(du, 0xFF);
      this->Emit(di, LinearBlend(hn::And(word, byte), hn::And(hn::ShiftRight<8>(word), byte), positions), j0, n);
    } else {
      if (!StagedWords<2>(this->values, hn::ShiftLeft<1>(wholes), this->lastByte, stage)) return false;
      VU l01, l23, w01, w23;
      SplitPairs(stage, &l01, &l23);
      StagedWeights(this->weights, positions, &w01, &w23);
      const VI sum = PairDot(l01, w01) + PairDot(l23, w23) + hn::Set(di, kCubicSecondRound);
      this->Emit(di, hn::Min(hn::Max(hn::ShiftRight<21>(sum), hn::Zero(di)), hn::Set(di, Values8::kPelMax)), j0, n);
    }
    return true;
  }
};

#if HWY_TARGET != HWY_SCALAR
// One 16-byte window per 128-bit block of a vector, block b from values + starts[b].
template <class D8>
HWY_INLINE hn::VFromD<D8> LoadWindows(D8 d8, const uint8_t* values, const int64_t* starts) {
  if constexpr (hn::MaxLanes(D8()) <= 16) {
    return hn::LoadU(d8, values + starts[0]);
  } else {
    const hn::Half<D8> dh;
    constexpr size_t kHalfBlocks = hn::MaxLanes(hn::Half<D8>()) / 16;
    return hn::Combine(d8, LoadWindows(dh, values, starts + kHalfBlocks), LoadWindows(dh, values, starts));
  }
}

// Second pass of mode 2 for lineAdvance in [0, 2): each 128-bit block holds 8 samples, whose
// values lie within 16 bytes of the line from the block's first sample's value; one 16-byte load
// per block and two byte shuffles give every lane its pair.
template <bool kAccumulate>
struct SecondPassWindows : SecondPassBase<false, kAccumulate> {
  using Base = SecondPassBase<false, kAccumulate>;
  const LaneSteps<D16>& steps;

  SecondPassWindows(const sampleTableHeader& h, const simdLineParams& p, const void* lineRead,
                    const LaneSteps<D16>& laneSteps)
      : Base(h, p, lineRead), steps(laneSteps) {}

  static bool Serves(int32_t lineAdvance) { return lineAdvance >= 0 && lineAdvance < 0x20000; }
  int32_t Lanes() const { return static_cast<int32_t>(hn::Lanes(D16())); }

  bool Block(int32_t j0, int32_t n) const {
    const D16 d;
    const hn::Repartition<uint8_t, D16> d8;
    constexpr size_t kBlocks = hn::MaxLanes(D16()) / 8;
    const int32_t position = this->PositionAt(j0);
    const int64_t first = fixedIntegerPart(position), fraction0 = fixedFraction(position);
    // Block b starts at the value of its first sample, 8 b samples on (non-decreasing in b).
    int64_t starts[kBlocks];
    for (size_t b = 0; b < kBlocks; ++b) starts[b] = first + ((fraction0 + int64_t(8 * b) * this->lineAdvance) >> 16);
    if (first < 0 || starts[kBlocks - 1] + 15 > this->lastByte) return false;
    const auto windows = LoadWindows(d8, reinterpret_cast<const uint8_t*>(this->values), starts);
    V16 whole, fraction;
    steps.At(d, static_cast<int32_t>(fraction0), &whole, &fraction);
    // Index bytes (offset in the block's window, 0x80): a shuffle gives the value at the offset,
    // zero-extended to 16 bits.
    const V16 offset = whole - hn::Broadcast<0>(whole);
    const auto index = hn::BitCast(d8, offset | hn::Set(d, static_cast<int16_t>(0x8000)));
    const V16 low = hn::BitCast(d, hn::TableLookupBytesOr0(windows, index));
    const V16 high = hn::BitCast(d, hn::TableLookupBytesOr0(windows, index + hn::Set(d8, 1)));
    const hn::RebindToUnsigned<D16> du;
    this->Emit(d, LinearBlend16(low, high, hn::BitCast(d, hn::ShiftRight<1>(hn::BitCast(du, fraction)))), j0, n);
    return true;
  }
};
#endif

}  // namespace table_simd
}  // namespace HWY_NAMESPACE
}  // namespace kip
HWY_AFTER_NAMESPACE();

#endif  // include guard
