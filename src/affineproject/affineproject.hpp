// Affine projections: a sampling of the source, as an affine transform would make it, with each
// destination column added into one unsigned 32-bit entry of a one-row vector instead of stored.
//
// Vectors are windows of 32-bit pels. Entry i of a projection belongs at pel-grid x = i, y = 0 of
// the destination's frame, so a destination window that starts elsewhere receives the entries that
// fall inside it. The coverage vector of a clipped projection is the projection, under the same
// sampling, of an indicator of the source: coverageValue on its pels, 0 off them.
#pragma once

#include <kip/kip.h>

#include "cache/cache.hpp"

#include <cstdint>

// The cores: the first xCount entries of the vector's first row receive the sums. The vector must
// be exactly xCount wide and at least one row tall (the entry points see to it). The sums come from
// the row or column sums when the map is an exact axis-aligned copy, turn or mirror, else from the
// engine in accumulate mode. Out values are written on success only; sampleCount (the y count) may
// be null. KIP_ERR_MODE_UNSUPPORTED for a 16-bit source in a two-pass mode.
int32_t affineProject_core8(const kimg_window* source, const kmath_xformLinear* sourceXform, kimg_window* vector,
                            const affineSampleParams* params, affineSampleCache* cache, kmath_xformLinear* outXform,
                            uint32_t* sampleCount);
int32_t affineProject_core16(const kimg_window* source, const kmath_xformLinear* sourceXform, kimg_window* vector,
                             const affineSampleParams* params, affineSampleCache* cache, kmath_xformLinear* outXform,
                             uint32_t* sampleCount);

// Projections of samplings that may leave the source: samples outside it count as 0, and the
// coverage vector receives the projection of the indicator. sampleCount (required) receives the
// largest coverage entry. KIP_ERR_PROJECT_NO_OVERLAP, with both vectors untouched, when the
// sampling reaches no source pel.
int32_t affineProject_clipped8(const kimg_window* source, const kmath_xformLinear* sourceXform, kimg_window* vector,
                               kimg_window* coverage, const affineSampleParams* params, affineSampleCache* cache,
                               kmath_xformLinear* outXform, uint8_t coverageValue, uint32_t* sampleCount);
int32_t affineProject_clipped16(const kimg_window* source, const kmath_xformLinear* sourceXform, kimg_window* vector,
                                kimg_window* coverage, const affineSampleParams* params, affineSampleCache* cache,
                                kmath_xformLinear* outXform, uint8_t coverageValue, uint32_t* sampleCount);

// Bodies of the window entry points, shared with the image ones. The worker projects a sampling
// that stays inside the source into a destination window of 32-bit pels: in place when the window
// starts at (0, 0) and holds xCount entries in its first row, else through a temporary vector that
// is copied in by pel-grid place. The clipped body also takes samplings that leave the source.
// handle may be null (or hold null): a temporary cache serves the call. Windows are checked by the
// callers; out values are written on success only, sampleCount may be null for the worker.
int32_t affineProject_windowWorker8(const kimg_window* source, const kmath_xformLinear* sourceXform,
                                    kimg_window* destination, const affineSampleParams* params,
                                    affineSampleCache** handle, kmath_xformLinear* outXform, uint32_t* sampleCount);
int32_t affineProject_windowWorker16(const kimg_window* source, const kmath_xformLinear* sourceXform,
                                     kimg_window* destination, const affineSampleParams* params,
                                     affineSampleCache** handle, kmath_xformLinear* outXform, uint32_t* sampleCount);
int32_t affineProject_clippedWindow8(const kimg_window* source, const kmath_xformLinear* sourceXform,
                                     kimg_window* destination, kimg_window* coverage, const affineSampleParams* params,
                                     affineSampleCache** handle, kmath_xformLinear* outXform, uint8_t coverageValue,
                                     uint32_t* sampleCount, uint32_t* willClip);
int32_t affineProject_clippedWindow16(const kimg_window* source, const kmath_xformLinear* sourceXform,
                                      kimg_window* destination, kimg_window* coverage,
                                      const affineSampleParams* params, affineSampleCache** handle,
                                      kmath_xformLinear* outXform, uint8_t coverageValue, uint32_t* sampleCount,
                                      uint32_t* willClip);

// Turns the sums of a clipped projection into means: each entry of [validStart, validEnd) is its
// sum divided by its coverage / coverageValue (the unrounded fraction of samples that came from the
// source), rounded; the range leaves out the entries at either end whose coverage rounds to 0.
// Indexes are pel-grid x coordinates of both images (32-bit pels). sampleCount becomes 1. Every out
// value may be null.
int32_t affineProject_normalise(kimg_image* sums, kimg_image* coverage, uint8_t coverageValue, int32_t xCount,
                                uint32_t* sampleCount, uint32_t* validStart, uint32_t* validEnd);
