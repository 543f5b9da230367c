// The eight aligned turns worked out by hand from their pictures, independently of the library's
// step tables: shared by the tests of the aligned transform and of the tool's rotate command.
#pragma once

#include <cstdint>
#include <utility>

namespace kiptest {

// Source (row, column) of destination pel (row i, column j) for each turn code; w x h is the
// source's width x height.
inline std::pair<int, int> turnSourceOf(uint32_t code, int i, int j, int w, int h) {
  switch (code) {
    case 1: return {j, i};
    case 90: return {j, w - 1 - i};
    case 91: return {i, w - 1 - j};
    case 180: return {h - 1 - i, w - 1 - j};
    case 181: return {h - 1 - j, w - 1 - i};
    case 270: return {h - 1 - j, i};
    case 271: return {h - 1 - i, j};
    default: return {i, j};
  }
}

}  // namespace kiptest
