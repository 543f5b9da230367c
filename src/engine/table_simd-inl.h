// Line kernels of the two-pass sampling modes for 8-bit sources, one instruction set per
// inclusion (table_simd.cpp includes this once per Highway target), and the tile walk that feeds
// them.
//
// Lane k of a vector holds the k-th value of a pass: the 16.16 position start + k x advance,
// exactly the one the scalar walk reaches by k additions (32-bit wrap-around does not depend on
// the order of additions). Pels and line values are gathered as 32-bit words at byte offsets and
// masked down to the bytes wanted; a gather may read up to 3 bytes past the last byte a value
// needs, so a vector runs only when every lane's words lie inside the source (first pass) or the
// line in use (second pass); any other vector is computed one value at a time. A last, partial
// vector runs with its spare lanes repeating lane 0, and keeps only its own lanes.
//
// Arithmetic, per value (f the 15-bit fraction, w the cubic weights of the top 8 fraction bits):
//   two-pass linear, both passes: low + (((high - low) x f) >> 15), which equals the portable
//     (high x f + low x (32768 - f)) >> 15 for every input;
//   two-pass cubic, first pass: (sum of w x pel + 256) >> 9, an arithmetic shift (rounds toward
//     minus infinity; the portable kernel truncates toward zero);
//   two-pass cubic, second pass: ((sum of w x line value + 0x100000) >> 21) limited to 0 .. 255,
//     equal to the portable result for every input.
// The weight sums use the packed 16 x 16-bit multiply-add: a 32-bit lane holds two 16-bit taps
// (or weights), low half first.

#if defined(KIP_ENGINE_TABLE_SIMD_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KIP_ENGINE_TABLE_SIMD_INL_H_
#undef KIP_ENGINE_TABLE_SIMD_INL_H_
#else
#define KIP_ENGINE_TABLE_SIMD_INL_H_
#endif

#include <hwy/highway.h>

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "cache/sample_table.hpp"
#include "engine/table_simd.hpp"
#include "engine/table_walk.hpp"
#include "engine/two_pass_values.hpp"
#include "frame/fixed_point.hpp"

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
using Values8 = TwoPassTraits<uint8_t>;

// The 32-bit words at the given byte offsets from base (each word wholly inside its buffer).
HWY_INLINE VU GatherWords(const void* base, VU byteOffsets) {
  const DI di;
  const DU du;
  return hn::BitCast(du, hn::GatherOffset(di, static_cast<const int32_t*>(base), hn::BitCast(di, byteOffsets)));
}

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

// The cubic weights of each lane's 16.16 position, as (w0, w1) and (w2, w3) pairs: an entry is
// four 16-bit weights, w0 first, 8 bytes.
HWY_INLINE void GatherWeights(const int16_t* weights, VU position, VU* w01, VU* w23) {
  const DU du;
  const VU entry = hn::ShiftLeft<3>(hn::And(hn::ShiftRight<8>(position), hn::Set(du, 0xFF)));
  *w01 = GatherWords(weights, entry);
  *w23 = GatherWords(weights, entry + hn::Set(du, 4));
}

// low + (((high - low) x f) >> 15) with f the 15-bit fraction of the position.
HWY_INLINE VI LinearBlend(VU low, VU high, VU position) {
  const DI di;
  const DU du;
  const VI f = hn::BitCast(di, hn::ShiftRight<1>(hn::And(position, hn::Set(du, 0xFFFF))));
  const VI lowI = hn::BitCast(di, low);
  return lowI + hn::ShiftRight<15>((hn::BitCast(di, high) - lowI) * f);
}

// ------------------------------------------------------------------------------------------------
// Passes. Each describes one pass over count values: lane k's 16.16 position (start + k x
// advance) and base offset (base + k x baseStep), the byte offset of its lowest read (reference
// + lowRead) and the span its reads cover past it, the vector and the one-value arithmetic, and
// where results go.

// Runs a pass over count values.
template <class Pass>
HWY_INLINE void RunPass(const Pass& pass, int32_t count) {
  if (count <= 0) return;
  const DI di;
  const DU du;
  const int32_t lanes = static_cast<int32_t>(hn::Lanes(du));
  // Every read of a lane lies inside when its lowest read offset is at most bound (as unsigned: a
  // negative offset wraps far above it).
  const int64_t bound = pass.readLimit - 3 - pass.readSpan;
  const bool anyVector = bound >= 0;
  const VU limit = hn::Set(du, static_cast<uint32_t>(anyVector ? bound : 0));
  const VU iota = hn::Iota(du, 0);
  VU position = hn::Set(du, pass.start) + iota * hn::Set(du, pass.advance);
  VU base = hn::Set(du, pass.base) + iota * hn::Set(du, pass.baseStep);
  const VU positionStep = hn::Set(du, pass.advance * static_cast<uint32_t>(lanes));
  const VU baseStep = hn::Set(du, pass.baseStep * static_cast<uint32_t>(lanes));
  const auto inside = [&](VU reference) HWY_ATTR {
    return anyVector && hn::AllFalse(du, hn::Gt(reference + hn::Set(du, static_cast<uint32_t>(pass.lowRead)), limit));
  };

  int32_t k = 0;
  for (; k + lanes <= count; k += lanes) {
    const VU reference = pass.Reference(position, base);
    if (inside(reference)) {
      pass.StoreVector(k, pass.Vector(position, reference));
    } else {
      for (int32_t j = 0; j < lanes; ++j) pass.StoreOne(k + j, pass.One(k + j));
    }
    position = position + positionStep;
    base = base + baseStep;
  }
  if (k == count) return;

  const int32_t rest = count - k;
  const auto own = hn::FirstN(du, static_cast<size_t>(rest));
  position = hn::IfThenElse(own, position, hn::Set(du, hn::GetLane(position)));
  base = hn::IfThenElse(own, base, hn::Set(du, hn::GetLane(base)));
  const VU reference = pass.Reference(position, base);
  if (inside(reference)) {
    HWY_ALIGN int32_t results[HWY_MAX_BYTES / sizeof(int32_t)];
    hn::Store(pass.Vector(position, reference), di, results);
    for (int32_t j = 0; j < rest; ++j) pass.StoreOne(k + j, results[j]);
  } else {
    for (int32_t j = 0; j < rest; ++j) pass.StoreOne(k + j, pass.One(k + j));
  }
}

// First pass: value k at major position k from the pass's start, its reference pel q = offset +
// k x majorStep + (integer part of its minor position) x minorStep. kAdjacent: minorStep is 1, so
// one word holds every tap of a value.
template <bool kCubic, bool kAdjacent>
struct FirstPass {
  using Value = std::conditional_t<kCubic, Values8::CubicValue, Values8::LinearValue>;

  const uint8_t* source;
  const int16_t* weights;
  Value* out;
  ptrdiff_t offset;
  int32_t majorStep, minorStep;
  int32_t minor, minorAdvance;
  // RunPass's lane description.
  uint32_t start, advance, base, baseStep;
  int32_t lowRead, readSpan;
  int64_t readLimit;

  FirstPass(const sampleTableHeader& h, const simdLineParams& p, void* lineWrite)
      : source(p.source),
        weights(p.weights),
        out(static_cast<Value*>(lineWrite)),
        offset(p.sourceOffset),
        majorStep(h.majorStep),
        minorStep(h.minorStep),
        minor(p.minor),
        minorAdvance(h.minorAdvance),
        start(static_cast<uint32_t>(p.minor)),
        advance(static_cast<uint32_t>(h.minorAdvance)),
        base(static_cast<uint32_t>(static_cast<uint64_t>(p.sourceOffset))),
        baseStep(static_cast<uint32_t>(h.majorStep)),
        readLimit(p.lastOffset) {
    // Words read: mode 2 at q (and q + minorStep); mode 3 at q - 1, or at q - minorStep to q + 2 x
    // minorStep.
    if (kCubic) {
      lowRead = kAdjacent ? -1 : -minorStep;
      readSpan = kAdjacent ? 0 : 3 * minorStep;
    } else {
      lowRead = 0;
      readSpan = kAdjacent ? 0 : minorStep;
    }
  }

  HWY_INLINE VU Reference(VU position, VU laneBase) const {
    const DI di;
    const DU du;
    const VU integer = hn::BitCast(du, hn::ShiftRight<16>(hn::BitCast(di, position)));
    return laneBase + (kAdjacent ? integer : integer * hn::Set(du, static_cast<uint32_t>(minorStep)));
  }

  HWY_INLINE VI Vector(VU position, VU q) const {
    const DU du;
    const VU byte = hn::Set(du, 0xFF);
    if constexpr (!kCubic) {
      if constexpr (kAdjacent) {
        const VU word = GatherWords(source, q);
        return LinearBlend(hn::And(word, byte), hn::And(hn::ShiftRight<8>(word), byte), position);
      } else {
        const VU low = hn::And(GatherWords(source, q), byte);
        const VU high = hn::And(GatherWords(source, q + hn::Set(du, static_cast<uint32_t>(minorStep))), byte);
        return LinearBlend(low, high, position);
      }
    } else {
      VU t01, t23;  // taps q[-minorStep], q[0] and q[minorStep], q[2 x minorStep] as 16-bit pairs
      if constexpr (kAdjacent) {
        const VU word = GatherWords(source, q - hn::Set(du, 1));
        const VU highHalf = hn::Set(du, 0xFF0000);
        t01 = hn::Or(hn::And(word, byte), hn::And(hn::ShiftLeft<8>(word), highHalf));
        t23 = hn::Or(hn::And(hn::ShiftRight<16>(word), byte), hn::And(hn::ShiftRight<8>(word), highHalf));
      } else {
        const VU step = hn::Set(du, static_cast<uint32_t>(minorStep));
        const VU t0 = hn::And(GatherWords(source, q - step), byte);
        const VU t1 = hn::And(GatherWords(source, q), byte);
        const VU t2 = hn::And(GatherWords(source, q + step), byte);
        const VU t3 = hn::And(GatherWords(source, q + step + step), byte);
        t01 = hn::Or(t0, hn::ShiftLeft<16>(t1));
        t23 = hn::Or(t2, hn::ShiftLeft<16>(t3));
      }
      VU w01, w23;
      GatherWeights(weights, position, &w01, &w23);
      const DI di;
      return hn::ShiftRight<9>(PairDot(t01, w01) + PairDot(t23, w23) + hn::Set(di, kCubicFirstRound));
    }
  }

  int32_t One(int32_t k) const {
    const int32_t position = fixedWrapAdd(minor, fixedWrapMultiply(minorAdvance, k));
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

  HWY_INLINE void StoreVector(int32_t k, VI values) const {
    const hn::Rebind<Value, DI> dv;
    hn::StoreU(hn::DemoteTo(dv, values), dv, out + k);
  }
  void StoreOne(int32_t k, int32_t value) const { out[k] = static_cast<Value>(value); }
};

// Second pass: sample j at line position line + j x lineAdvance, reading the line from
// values: two 8-bit values (mode 2) or four signed 16-bit ones (mode 3) from the integer part on.
template <bool kCubic, bool kAccumulate>
struct SecondPass {
  using Value = std::conditional_t<kCubic, Values8::CubicValue, Values8::LinearValue>;

  const Value* values;
  const int16_t* weights;
  void* destination;
  int32_t line, lineAdvance;
  uint32_t start, advance, base = 0, baseStep = 0;
  int32_t lowRead = 0, readSpan;
  int64_t readLimit;

  SecondPass(const sampleTableHeader& h, const simdLineParams& p, const void* lineRead)
      : values(static_cast<const Value*>(lineRead)),
        weights(p.weights),
        destination(p.destination),
        line(p.line),
        lineAdvance(h.lineAdvance),
        start(static_cast<uint32_t>(p.line)),
        advance(static_cast<uint32_t>(h.lineAdvance)),
        // Mode 2 reads one word at the value, mode 3 two words.
        readSpan(kCubic ? 4 : 0),
        readLimit(static_cast<int64_t>(p.lineBytes) -
                  (static_cast<const unsigned char*>(lineRead) - static_cast<const unsigned char*>(p.lineBuffer)) - 1) {
  }

  // The byte offset of the sample's first value.
  HWY_INLINE VU Reference(VU position, VU) const {
    const DI di;
    const DU du;
    const VU integer = hn::BitCast(du, hn::ShiftRight<16>(hn::BitCast(di, position)));
    return kCubic ? hn::ShiftLeft<1>(integer) : integer;
  }

  HWY_INLINE VI Vector(VU position, VU at) const {
    const DI di;
    const DU du;
    if constexpr (!kCubic) {
      const VU byte = hn::Set(du, 0xFF);
      const VU word = GatherWords(values, at);
      return LinearBlend(hn::And(word, byte), hn::And(hn::ShiftRight<8>(word), byte), position);
    } else {
      const VU l01 = GatherWords(values, at), l23 = GatherWords(values, at + hn::Set(du, 4));
      VU w01, w23;
      GatherWeights(weights, position, &w01, &w23);
      const VI sum = PairDot(l01, w01) + PairDot(l23, w23) + hn::Set(di, kCubicSecondRound);
      return hn::Min(hn::Max(hn::ShiftRight<21>(sum), hn::Zero(di)), hn::Set(di, Values8::kPelMax));
    }
  }

  int32_t One(int32_t j) const {
    const int32_t position = fixedWrapAdd(line, fixedWrapMultiply(lineAdvance, j));
    const Value* v = values + fixedIntegerPart(position);
    if constexpr (!kCubic) {
      return linearValue<Values8>(v[0], v[1], fixedFraction15(position));
    } else {
      return cubicSecondValue<Values8>(cubicWeightsAt(weights, position), v);
    }
  }

  HWY_INLINE void StoreVector(int32_t j, VI samples) const {
    if constexpr (kAccumulate) {
      const DU du;
      uint32_t* entries = static_cast<uint32_t*>(destination) + j;
      hn::StoreU(hn::LoadU(du, entries) + hn::BitCast(du, samples), du, entries);
    } else {
      const hn::Rebind<uint8_t, DI> d8;
      hn::StoreU(hn::DemoteTo(d8, samples), d8, static_cast<uint8_t*>(destination) + j);
    }
  }
  void StoreOne(int32_t j, int32_t sample) const {
    if constexpr (kAccumulate) {
      static_cast<uint32_t*>(destination)[j] += static_cast<uint32_t>(sample);
    } else {
      static_cast<uint8_t*>(destination)[j] = static_cast<uint8_t>(sample);
    }
  }
};

// One destination row of one tile: the first pass into the line from lineWrite, the second from
// lineRead into the destination.
template <bool kCubic, bool kAccumulate>
HWY_INLINE void Line(const sampleTableHeader& h, const simdLineParams& p, void* lineWrite, const void* lineRead) {
  const int32_t count = p.n + (kCubic ? 3 : 1);
#ifndef NDEBUG
  if (count > 0) {
    const auto begin = reinterpret_cast<uintptr_t>(p.lineBuffer), at = reinterpret_cast<uintptr_t>(lineWrite);
    const size_t valueBytes = kCubic ? sizeof(Values8::CubicValue) : sizeof(Values8::LinearValue);
    assert(at >= begin && at - begin + static_cast<uint64_t>(count) * valueBytes <= uint64_t(p.lineBytes));
  }
#endif
  if (h.minorStep == 1) {
    RunPass(FirstPass<kCubic, true>(h, p, lineWrite), count);
  } else {
    RunPass(FirstPass<kCubic, false>(h, p, lineWrite), count);
  }
  RunPass(SecondPass<kCubic, kAccumulate>(h, p, lineRead), p.outputBytes / (kAccumulate ? 4 : 1));
}

}  // namespace table_simd

// The entry points dispatched at run time.

void TableSimdLineBilinear8(const sampleTableHeader* h, const simdLineParams* p, void* lineWrite,
                            const void* lineRead) {
  table_simd::Line<false, false>(*h, *p, lineWrite, lineRead);
}
void TableSimdLineBilinearAcc8(const sampleTableHeader* h, const simdLineParams* p, void* lineWrite,
                               const void* lineRead) {
  table_simd::Line<false, true>(*h, *p, lineWrite, lineRead);
}
void TableSimdLineCubic8(const sampleTableHeader* h, const simdLineParams* p, void* lineWrite, const void* lineRead) {
  table_simd::Line<true, false>(*h, *p, lineWrite, lineRead);
}
void TableSimdLineCubicAcc8(const sampleTableHeader* h, const simdLineParams* p, void* lineWrite,
                            const void* lineRead) {
  table_simd::Line<true, true>(*h, *p, lineWrite, lineRead);
}

// The whole walk with this instruction set's kernels: the tiles, rows and edge values of the
// portable core, each row's remaining values and samples by a kernel above.
int32_t TableSimdTiles8(const tableWalkSetup* setup, const uint8_t* source) {
  // The kernels read the header from the driver's own copy.
  const sampleTableHeader header = setup->table->header;
  const bool cubic = setup->sampleMode == KIP_SAMPLE_CUBIC2, accumulate = setup->accumulate != 0;
  const int32_t sampleBytes = accumulate ? 4 : 1;
  return tableWalk(*setup, source, [&](const tableRow& row) HWY_ATTR {
    simdLineParams p{};
    p.source = source;
    p.lastOffset = setup->lastOffset;
    p.weights = setup->cubicWeights;
    p.destination = row.destination;
    p.line = row.line;
    p.n = row.n;
    p.outputBytes = header.tileWidth[row.tileType] * sampleBytes;
    p.lineBuffer = row.lineBuffer;
    p.lineBytes = row.lineBytes;
    // The cubic first pass starts one value before the line's first position.
    p.sourceOffset = row.sourceOffset - (cubic ? header.majorStep : 0);
    p.minor = cubic ? fixedWrapAdd(row.minor, fixedWrapMultiply(header.minorAdvance, -1)) : row.minor;
    if (cubic) {
      if (accumulate) {
        table_simd::Line<true, true>(header, p, row.lineWrite, row.lineRead);
      } else {
        table_simd::Line<true, false>(header, p, row.lineWrite, row.lineRead);
      }
    } else if (accumulate) {
      table_simd::Line<false, true>(header, p, row.lineWrite, row.lineRead);
    } else {
      table_simd::Line<false, false>(header, p, row.lineWrite, row.lineRead);
    }
    return int32_t{0};
  });
}

const char* TableSimdTargetName() { return hwy::TargetName(HWY_TARGET); }

}  // namespace HWY_NAMESPACE
}  // namespace kip
HWY_AFTER_NAMESPACE();

#endif  // include guard
