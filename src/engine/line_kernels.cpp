// The line kernels of the two-pass modes: per-sample arithmetic of both passes over one tile row.
// The walk over tiles and rows, and the edge values it supplies, are in table_walk.hpp.
#include "engine/line_kernels.hpp"

#include "engine/two_pass_values.hpp"
#include "frame/fixed_point.hpp"

#include <cassert>
#include <cstdint>

namespace {

// Debug check that count values from first lie inside the intermediate line in use: a kernel
// must never write (or read) past the buffer, whatever the geometry.
template <class V>
void assertInLine([[maybe_unused]] const tableLineContext& context, [[maybe_unused]] const V* first,
                  [[maybe_unused]] int64_t count) {
#ifndef NDEBUG
  if (count <= 0) return;
  const auto begin = reinterpret_cast<uintptr_t>(context.line);
  const auto at = reinterpret_cast<uintptr_t>(first);
  assert(at >= begin &&
         at - begin + static_cast<uint64_t>(count) * sizeof(V) <= static_cast<uint64_t>(context.lineBytes));
#endif
}

// The second pass's output: the next pel, or an addition into the next 32-bit entry (which the
// kernel never clears).
template <class Pel, bool kAccumulate>
inline void emit(void* destination, int32_t index, int32_t value) {
  if constexpr (kAccumulate) {
    static_cast<uint32_t*>(destination)[index] += static_cast<uint32_t>(value);
  } else {
    static_cast<Pel*>(destination)[index] = static_cast<Pel>(value);
  }
}

template <class Pel, bool kAccumulate>
void linearLine(const tableLineContext& context, int32_t n, int32_t tileType, int32_t minor, int32_t line,
                const Pel* source, ptrdiff_t offset, void* lineWrite, const void* lineRead, void* destination) {
  using T = TwoPassTraits<Pel>;
  using Value = typename T::LinearValue;
  const sampleTableHeader& h = context.table->header;
  const ptrdiff_t minorStep = h.minorStep;

  auto* out = static_cast<Value*>(lineWrite);
  assertInLine(context, out, int64_t{n} + 1);
  for (int32_t k = 0; k <= n; ++k) {
    const ptrdiff_t q = offset + ptrdiff_t{fixedIntegerPart(minor)} * minorStep;
    out[k] = linearValue<T>(source[q], source[q + minorStep], fixedFraction15(minor));
    minor = fixedWrapAdd(minor, h.minorAdvance);
    offset += h.majorStep;
  }

  const auto* values = static_cast<const Value*>(lineRead);
  const int32_t samples = h.tileWidth[tileType];
  for (int32_t j = 0; j < samples; ++j) {
    const int32_t i = fixedIntegerPart(line);
    assertInLine(context, values + i, 2);
    emit<Pel, kAccumulate>(destination, j, linearValue<T>(values[i], values[i + 1], fixedFraction15(line)));
    line = fixedWrapAdd(line, h.lineAdvance);
  }
}

template <class Pel, bool kAccumulate>
void cubicLine(const tableLineContext& context, int32_t n, int32_t tileType, int32_t minor, int32_t line,
               const Pel* source, ptrdiff_t offset, void* lineWrite, const void* lineRead, void* destination) {
  using T = TwoPassTraits<Pel>;
  using Value = typename T::CubicValue;
  const sampleTableHeader& h = context.table->header;
  const ptrdiff_t minorStep = h.minorStep;
  const int16_t* weights = context.cubicWeights;

  // One value before the line's first position and two after its last: the four taps of the
  // second pass around every sample.
  auto* out = static_cast<Value*>(lineWrite);
  assertInLine(context, out, int64_t{n} + 3);
  minor = fixedWrapAdd(minor, fixedWrapMultiply(h.minorAdvance, -1));
  offset -= h.majorStep;
  for (int32_t k = 0; k <= n + 2; ++k) {
    const ptrdiff_t q = offset + ptrdiff_t{fixedIntegerPart(minor)} * minorStep;
    out[k] = cubicFirstValue<T>(cubicWeightsAt(weights, minor), source[q - minorStep], source[q], source[q + minorStep],
                                source[q + 2 * minorStep]);
    minor = fixedWrapAdd(minor, h.minorAdvance);
    offset += h.majorStep;
  }

  const auto* values = static_cast<const Value*>(lineRead);
  const int32_t samples = h.tileWidth[tileType];
  for (int32_t j = 0; j < samples; ++j) {
    const int32_t i = fixedIntegerPart(line);
    assertInLine(context, values + i, 4);
    emit<Pel, kAccumulate>(destination, j, cubicSecondValue<T>(cubicWeightsAt(weights, line), values + i));
    line = fixedWrapAdd(line, h.lineAdvance);
  }
}

}  // namespace

int32_t affineLineBilinear8(const tableLineContext* context, int32_t n, int32_t tileType, int32_t minor, int32_t line,
                            const uint8_t* source, ptrdiff_t sourceOffset, void* lineWrite, const void* lineRead,
                            void* destination) {
  const auto kernel = context->accumulate ? linearLine<uint8_t, true> : linearLine<uint8_t, false>;
  kernel(*context, n, tileType, minor, line, source, sourceOffset, lineWrite, lineRead, destination);
  return 0;
}

int32_t affineLineCubic8(const tableLineContext* context, int32_t n, int32_t tileType, int32_t minor, int32_t line,
                         const uint8_t* source, ptrdiff_t sourceOffset, void* lineWrite, const void* lineRead,
                         void* destination) {
  const auto kernel = context->accumulate ? cubicLine<uint8_t, true> : cubicLine<uint8_t, false>;
  kernel(*context, n, tileType, minor, line, source, sourceOffset, lineWrite, lineRead, destination);
  return 0;
}

int32_t affineLineBilinear16(const tableLineContext* context, int32_t n, int32_t tileType, int32_t minor, int32_t line,
                             const uint16_t* source, ptrdiff_t sourceOffset, void* lineWrite, const void* lineRead,
                             void* destination) {
  assert(!context->accumulate);
  linearLine<uint16_t, false>(*context, n, tileType, minor, line, source, sourceOffset, lineWrite, lineRead,
                              destination);
  return 0;
}

int32_t affineLineCubic16(const tableLineContext* context, int32_t n, int32_t tileType, int32_t minor, int32_t line,
                          const uint16_t* source, ptrdiff_t sourceOffset, void* lineWrite, const void* lineRead,
                          void* destination) {
  assert(!context->accumulate);
  cubicLine<uint16_t, false>(*context, n, tileType, minor, line, source, sourceOffset, lineWrite, lineRead,
                             destination);
  return 0;
}
