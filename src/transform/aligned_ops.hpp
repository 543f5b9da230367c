// The three elementary pel moves of the aligned fast path, in plain scalar C++: the reference that
// the Highway kernels must reproduce bit for bit. Each takes (source window, destination window),
// reads width, height, stride, first pel and nothing else, trusts its caller for sizes and overlap,
// and returns 0.
//
// When the two windows share their first pel the move runs in place: the mirror swaps pel j with
// pel w - 1 - j of each row, the flip swaps row i with row h - 1 - i, and the transpose swaps pel
// (i, j) with (j, i), which only makes sense for a square window with one stride.
#pragma once

#include <kip/kip.h>

#include <cstdint>

// destination (row i, column j) = source (row j, column i), for i below the destination's height
// and j below its width.
template <typename Pel>
int32_t alignedTranspose(const kimg_window* source, kimg_window* destination);
// destination (i, j) = source (i, w - 1 - j), over the source's width w and height.
template <typename Pel>
int32_t alignedMirror(const kimg_window* source, kimg_window* destination);
// destination row i = source row h - 1 - i, over the source's height h and width.
template <typename Pel>
int32_t alignedFlip(const kimg_window* source, kimg_window* destination);

int32_t alignedTranspose8(const kimg_window* source, kimg_window* destination);
int32_t alignedTranspose16(const kimg_window* source, kimg_window* destination);
int32_t alignedMirror8(const kimg_window* source, kimg_window* destination);
int32_t alignedMirror16(const kimg_window* source, kimg_window* destination);
int32_t alignedFlip8(const kimg_window* source, kimg_window* destination);
int32_t alignedFlip16(const kimg_window* source, kimg_window* destination);
