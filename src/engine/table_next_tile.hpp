// Prefetches of the destination rows of the tile after the one being sampled.
//
// A stored tile row is a run of pels a destination stride away from the one before: on a large
// destination every run starts lines that are not in any cache, and the stores wait for them. While
// a tile runs, each of its rows asks for the same row of the next tile (the next one along the
// tile row, or the first of the next tile row), which the walk reaches a whole tile later.
#pragma once

#include "cache/sample_table.hpp"
#include "engine/table_walk.hpp"

#include <hwy/cache_control.h>

#include <cstddef>
#include <cstdint>

class TableNextTile {
 public:
  // destinationStrideBytes: between destination rows. Projections (accumulating into one vector,
  // always cached) ask for nothing.
  TableNextTile(const sampleTableHeader& h, ptrdiff_t destinationStrideBytes, bool accumulate)
      : h_(h), stride_(destinationStrideBytes), enabled_(!accumulate) {}

  // Called for every row, in walk order, before the row is sampled.
  void row(const tableRow& row) {
    if (!enabled_) return;
    if (rowsLeft_ == 0) startTile(row.tileType);
    const int32_t r = rows_ - rowsLeft_--;
    if (r >= nextRows_) return;
    const uintptr_t at = reinterpret_cast<uintptr_t>(row.destination) + static_cast<uintptr_t>(shift_);
    for (int32_t b = 0; b < nextWidth_; b += 64) hwy::Prefetch(reinterpret_cast<const uint8_t*>(at + b));
    hwy::Prefetch(reinterpret_cast<const uint8_t*>(at + nextWidth_ - 1));
  }

 private:
  void startTile(int32_t type) {
    rows_ = rowsLeft_ = h_.tileHeight[type];
    const bool lastColumn = ++column_ == h_.tilesAcross;
    nextRows_ = 0;
    if (!lastColumn) {
      // The next tile of this tile row: same rows, one tile width on.
      const int32_t nextType = column_ + 1 == h_.tilesAcross ? type | 1 : type;
      shift_ = h_.tileWidth[0];
      nextRows_ = h_.tileHeight[nextType];
      nextWidth_ = h_.tileWidth[nextType];
      return;
    }
    column_ = 0;
    if (++tileRow_ == h_.tilesDown) return;
    // The first tile of the next tile row, from the last tile of this one.
    const int32_t nextType = (tileRow_ + 1 == h_.tilesDown ? 2 : 0) | (h_.tilesAcross == 1 ? 1 : 0);
    shift_ = ptrdiff_t{h_.tileHeight[0]} * stride_ - ptrdiff_t{h_.tilesAcross - 1} * h_.tileWidth[0];
    nextRows_ = h_.tileHeight[nextType];
    nextWidth_ = h_.tileWidth[nextType];
  }

  const sampleTableHeader& h_;
  ptrdiff_t stride_;
  bool enabled_;
  int32_t rows_ = 0, rowsLeft_ = 0;
  uint32_t column_ = 0, tileRow_ = 0;
  ptrdiff_t shift_ = 0;
  int32_t nextRows_ = 0, nextWidth_ = 0;
};
