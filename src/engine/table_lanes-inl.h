// Lane helpers of the two-pass line kernels (table_simd-inl.h), one instruction set per
// inclusion: weight sums of 16-bit pairs, staging copies, blends, the lane offsets of 16.16
// positions, and the loop that runs a pass in blocks of lanes.
#if defined(KIP_ENGINE_TABLE_LANES_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KIP_ENGINE_TABLE_LANES_INL_H_
#undef KIP_ENGINE_TABLE_LANES_INL_H_
#else
#define KIP_ENGINE_TABLE_LANES_INL_H_
#endif

#include "engine/two_pass_values.hpp"

#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

HWY_BEFORE_NAMESPACE();
namespace kip {
namespace HWY_NAMESPACE {
// Helpers in a namespace of their own: inline functions of other kernels in kip::HWY_NAMESPACE
// must never meet these under the same name.
namespace table_simd {

namespace hn = hwy::HWY_NAMESPACE;

using DI = hn::ScalableTag<int32_t>;
using DU = hn::RebindToUnsigned<DI>;
using VI = hn::VFromD<DI>;
using VU = hn::VFromD<DU>;
using D16 = hn::ScalableTag<int16_t>;
using V16 = hn::VFromD<D16>;
using Values8 = TwoPassTraits<uint8_t>;

inline constexpr size_t kMaxLanes32 = HWY_MAX_BYTES / sizeof(int32_t);

// ------------------------------------------------------------------------------------------------
// Lane helpers.

// Per lane, the sum of the products of the signed 16-bit halves of a and b.
HWY_INLINE VI PairDot(VU a, VU b) {
  const DI di;
#if HWY_TARGET == HWY_SCALAR
  // One 32-bit lane has no 16-bit lanes to pair: split the halves by hand.
  const VI ai = hn::BitCast(di, a), bi = hn::BitCast(di, b);
  const VI low = hn::ShiftRight<16>(hn::ShiftLeft<16>(ai)) * hn::ShiftRight<16>(hn::ShiftLeft<16>(bi));
  return low + hn::ShiftRight<16>(ai) * hn::ShiftRight<16>(bi);
#else
  const hn::Repartition<int16_t, DI> d16;
  VI odd = hn::Zero(di);
  const VI even = hn::ReorderWidenMulAccumulate(di, hn::BitCast(d16, a), hn::BitCast(d16, b), hn::Zero(di), odd);
  return hn::RearrangeToOddPlusEven(even, odd);
#endif
}

// The lanes of two staged 32-bit words per lane (lane j's at stage[2j], stage[2j + 1]) as the
// vector of first words and the vector of second words.
HWY_INLINE void SplitPairs(const uint32_t* stage, VU* first, VU* second) {
  const DU du;
#if HWY_TARGET == HWY_SCALAR
  *first = hn::Set(du, stage[0]);
  *second = hn::Set(du, stage[1]);
#else
  const VU lo = hn::Load(du, stage), hi = hn::Load(du, stage + hn::Lanes(du));
  *first = hn::ConcatEven(du, hi, lo);
  *second = hn::ConcatOdd(du, hi, lo);
#endif
}

// The weight entries of each lane's 16.16 position (top 8 bits of its fraction), as the pairs
// (w0, w1) and (w2, w3).
HWY_INLINE void StagedWeights(const int16_t* weights, VU position, VU* w01, VU* w23) {
  const DU du;
  HWY_ALIGN uint32_t index[kMaxLanes32];
  HWY_ALIGN uint32_t stage[2 * kMaxLanes32];
  hn::Store(hn::ShiftRight<8>(hn::And(position, hn::Set(du, 0xFFFF))), du, index);
  for (size_t j = 0; j < hn::Lanes(du); ++j) std::memcpy(stage + 2 * j, weights + 4 * index[j], 8);
  SplitPairs(stage, w01, w23);
}

// Per lane, kWords 32-bit words from base + offset; false (nothing read) when some lane's bytes
// would leave [0, limit].
template <int kWords>
HWY_INLINE bool StagedWords(const void* base, VU offsets, int64_t limit, uint32_t* stage) {
  const DU du;
  HWY_ALIGN int32_t offset[kMaxLanes32];
  hn::Store(hn::BitCast(DI(), offsets), DI(), offset);
  const size_t lanes = hn::Lanes(du);
  const int64_t last = limit - 4 * kWords + 1;
  for (size_t j = 0; j < lanes; ++j) {
    if (offset[j] < 0 || offset[j] > last) return false;
  }
  const auto* bytes = static_cast<const unsigned char*>(base);
  for (size_t j = 0; j < lanes; ++j) std::memcpy(stage + kWords * j, bytes + offset[j], 4 * kWords);
  return true;
}

// low + (((high - low) x f) >> 15) with f the 15-bit fraction of the position, 32-bit lanes.
HWY_INLINE VI LinearBlend(VU low, VU high, VU position) {
  const DI di;
  const DU du;
  const VI f = hn::BitCast(di, hn::ShiftRight<1>(hn::And(position, hn::Set(du, 0xFFFF))));
  const VI lowI = hn::BitCast(di, low);
  return lowI + hn::ShiftRight<15>((hn::BitCast(di, high) - lowI) * f);
}

// The same in 16-bit lanes: the high half of (2 x (high - low)) x f is ((high - low) x f) >> 15.
template <class V>
HWY_INLINE V LinearBlend16(V low, V high, V fraction15) {
  return low + hn::MulHigh(hn::ShiftLeft<1>(high - low), fraction15);
}

// Whole-pel offsets from a block's first lane: lane j's position is start + j x advance, and with
// (hi, lo) = j x advance split at bit 16, its integer part is that of start plus hi, plus 1 when lo
// + the start's fraction carries past 16 bits. Lane j's fraction is that sum's low 16 bits.
template <class D>
struct LaneSteps {
  hn::VFromD<hn::RebindToUnsigned<D>> hi, lo;

  LaneSteps(D d, int32_t advance) {
    const hn::RebindToUnsigned<D> du;
    const auto j = hn::Iota(du, 0);
    const auto advanceLow = hn::Set(du, static_cast<uint16_t>(advance & 0xFFFF));
    lo = j * advanceLow;
    hi = j * hn::Set(du, static_cast<uint16_t>(advance >> 16)) + hn::MulHigh(j, advanceLow);
  }
  // Lane offsets (whole pels) and fractions of a block whose first position has this fraction.
  HWY_INLINE void At(D d, int32_t startFraction, hn::VFromD<D>* whole, hn::VFromD<D>* fraction) const {
    const hn::RebindToUnsigned<D> du;
    const auto start = hn::Set(du, static_cast<uint16_t>(startFraction));
    const auto sum = lo + start;
    *whole = hn::BitCast(d, hi - hn::VecFromMask(du, hn::Lt(sum, start)));
    *fraction = hn::BitCast(d, sum);
  }
};

// ------------------------------------------------------------------------------------------------
// Passes. Each computes count values (or samples) in blocks: Block(k0, n) computes the block of
// values from k0 and emits the first n of them, or returns false when it cannot read them all
// inside; One(k) and StoreOne(k, v) serve those blocks value by value.

template <class Pass>
HWY_INLINE void RunPass(const Pass& pass, int32_t count) {
  const int32_t lanes = pass.Lanes();
  const auto block = [&](int32_t k0, int32_t n) HWY_ATTR {
    if (!pass.Block(k0, n)) {
      for (int32_t k = k0; k < k0 + n; ++k) pass.StoreOne(k, pass.One(k));
    }
  };
  int32_t k = 0;
  for (; k + lanes <= count; k += lanes) block(k, lanes);
  if (k == count) return;
  if (Pass::kRepeatable && count >= lanes) {
    block(count - lanes, lanes);
  } else {
    block(k, count - k);
  }
}

// Emits a block held in a vector: all of it, or its first n lanes through a scratch copy.
template <class D, class Emit>
HWY_INLINE void EmitBlock(D d, hn::VFromD<D> values, int32_t k0, int32_t n, const Emit& emitOne) {
  HWY_ALIGN hn::TFromD<D> scratch[HWY_MAX_BYTES / sizeof(hn::TFromD<D>)] = {};
  hn::Store(values, d, scratch);
  for (int32_t j = 0; j < n; ++j) emitOne(k0 + j, scratch[j]);
}

}  // namespace table_simd
}  // namespace HWY_NAMESPACE
}  // namespace kip
HWY_AFTER_NAMESPACE();

#endif  // include guard
