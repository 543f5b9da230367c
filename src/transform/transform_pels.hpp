// What the 8-bit and 16-bit transforms differ in: the pel size and the routines of that pel size.
// The layers and the clipped transform are one template each over these traits.
#pragma once

#include <kip/kip.h>

#include "cache/cache.hpp"
#include "engine/engine.hpp"
#include "transform/transform.hpp"

#include <cstdint>

template <int32_t PelSize>
struct TransformPels;

template <>
struct TransformPels<1> {
  static constexpr int32_t kPelSize = 1;
  static int32_t copy(const kimg_image* source, kimg_image* destination) { return kip_pelCopy8(source, destination); }
  static int32_t aligned(const kimg_window* source, kimg_window* destination, uint32_t code) {
    return kip_affineTransformAligned(source, destination, code);
  }
  static int32_t process(const kimg_window* source, const kmath_xformLinear* sourceXform,
                         const kimg_window* destination, const affineSampleParams* params,
                         const affineSampleCache* cache) {
    return affineProcess_threaded8(source, sourceXform, destination, params, cache);
  }
  static int32_t window(const kimg_window* source, const kmath_xformLinear* sourceXform, kimg_window* destination,
                        const affineSampleParams* params, affineSampleCache* cache) {
    return affineTransform_window8(source, sourceXform, destination, params, cache);
  }
  static int32_t image(const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                       affineSampleCache* cache) {
    return affineTransform_image8(source, destination, params, cache);
  }
  static int32_t transform(const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                           affineSampleCache** cache) {
    return kip_affineTransform(source, destination, params, cache);
  }
};

template <>
struct TransformPels<2> {
  static constexpr int32_t kPelSize = 2;
  static int32_t copy(const kimg_image* source, kimg_image* destination) { return kip_pelCopy16(source, destination); }
  static int32_t aligned(const kimg_window* source, kimg_window* destination, uint32_t code) {
    return kip_affineTransformAligned16(source, destination, code);
  }
  static int32_t process(const kimg_window* source, const kmath_xformLinear* sourceXform,
                         const kimg_window* destination, const affineSampleParams* params,
                         const affineSampleCache* cache) {
    return affineProcess_threaded16(source, sourceXform, destination, params, cache);
  }
  static int32_t window(const kimg_window* source, const kmath_xformLinear* sourceXform, kimg_window* destination,
                        const affineSampleParams* params, affineSampleCache* cache) {
    return affineTransform_window16(source, sourceXform, destination, params, cache);
  }
  static int32_t image(const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                       affineSampleCache* cache) {
    return affineTransform_image16(source, destination, params, cache);
  }
  static int32_t transform(const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                           affineSampleCache** cache) {
    return kip_affineTransform16(source, destination, params, cache);
  }
};

using TransformPels8 = TransformPels<1>;
using TransformPels16 = TransformPels<2>;
