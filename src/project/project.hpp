// Projection sums: one unsigned 32-bit sum per row or per column of a window, added with
// wrap-around modulo 2^32. The affine projections reuse these for axis-aligned maps, in either
// order and for 16-bit windows too.
//
// Naming: the row-sum routine carries "vertical" in its name (the sums run down a vertical
// vector), the column-sum routine "horizontal"; these names are what the optimization hook sees.
#pragma once

#include <kip/kip.h>

#include <cstddef>
#include <cstdint>

// Direction codes are the alignment codes of an axis-aligned map: 0, 91, 180 and 271 ask for one
// sum per column, the others for one sum per row; 91, 180, 181 and 270 reverse the order.
bool projectionDirectionIsColumns(uint32_t directionCode);
bool projectionDirectionIsReversed(uint32_t directionCode);

// Sums of an 8-bit window into the first row of a 32-bit destination window, with the hook test,
// the optimized core and the portable fallback. Row sums fill height values, column sums width.
int32_t kf_projection_vertical8(const kimg_window* source, kimg_window* destination, int32_t reverse);
int32_t kf_projection_horizontal8(const kimg_window* source, kimg_window* destination, int32_t reverse);

// The optimized cores: KIP_ERR_NOT_AVAILABLE when the processor test declines, the processor
// query's failure as it is, else 0. strideBytes may be anything, negative included.
int32_t kf_projection_vertical8_core(const uint8_t* firstPel, int32_t width, int32_t height, ptrdiff_t strideBytes,
                                     uint32_t* out, int32_t reverse);
int32_t kf_projection_horizontal8_core(const uint8_t* firstPel, int32_t width, int32_t height, ptrdiff_t strideBytes,
                                       uint32_t* out, int32_t reverse);

// 16-bit windows, portable only.
int32_t kf_projection_horizontal16(const kimg_window* source, kimg_window* destination, int32_t reverse);
int32_t kf_projection_aligned16(const kimg_window* source, kimg_window* destination, uint32_t directionCode);

// Bodies of the exports. The image form binds an unbound destination to a length x 1 image of
// 32-bit pels; the vector form resizes the vector. pelCount, when not null, is written on success.
int32_t kf_projection_image8(const kimg_image* source, kimg_image* destination, uint32_t directionCode,
                             uint32_t* pelCount);
int32_t kf_projection_vector8(const kimg_window* source, kstd_vector32* vector, uint32_t directionCode,
                              uint32_t* pelCount);

// Name of the instruction set the optimized cores dispatch to now (tests check it really changes).
const char* projectionSimdTargetName();
