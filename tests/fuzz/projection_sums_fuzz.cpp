// Fuzz target: the eight row and column sums (kip_project*8). A successful call matches sums taken
// here pel by pel; a refused one leaves its destination, vector and *pelCount alone.
#include "fuzz_support.hpp"

#include <cstring>

using namespace kipfuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const Session session(in, "projection sums");
  const uint8_t which = in.byte() % 8;
  const bool rows = (which & 1) == 0;  // Horizontal: one sum per row
  const int form = which >> 1;         // 0 image, 1 window, 2 vector of an image, 3 vector of a window
  static constexpr const char* kNames[] = {
      "kip_projectHorizontal8",       "kip_projectVertical8",         "kip_projectHorizontalWindow8",
      "kip_projectVerticalWindow8",   "kip_projectHorizontalVector8", "kip_projectVerticalVector8",
      "kip_projectHorizontalVectorWindow8", "kip_projectVerticalVectorWindow8"};
  const char* name = kNames[which];
  const auto source = makeImage(in, 1, 300);
  kimg_window sourceWindow = makeWindow(in, *source);
  const bool nullSource = in.oneIn(24);
  uint32_t pelCount = kUnwritten;
  uint32_t* countArg = in.oneIn(4) ? nullptr : &pelCount;
  // Destinations of every form; only the one the export takes is used.
  const auto destination = in.oneIn(3) ? std::make_unique<ExactImage>() : makeImage(in, 4, 320);
  kimg_window destinationWindow = makeWindow(in, *destination);
  const bool nullDestination = in.oneIn(24);
  kstd_vector32 vector{};
  kstd_vector32_construct(&vector);
  if (in.flag()) {
    checkStatus("kstd_vector32_resize", kstd_vector32_resize(&vector, in.range(0, 40)));
    for (int32_t i = 0; i < vector.size; ++i) vector.begin[i] = in.u32();
  }

  Guard guard;
  guard.image(destination->get()).window(&destinationWindow).value(&pelCount).value(&vector);
  guard.bytes(vector.begin, vector.size * sizeof(uint32_t));
  const bool destinationWasBound = destination->bound();
  const kimg_image* srcImage = nullSource ? nullptr : source->get();
  const kimg_window* srcWin = nullSource ? nullptr : &sourceWindow;
  kimg_image* destImage = nullDestination ? nullptr : destination->get();
  kimg_window* destWin = nullDestination ? nullptr : &destinationWindow;
  kstd_vector32* vectorOut = nullDestination ? nullptr : &vector;
  const int32_t status = runCall(
      in, name,
      [&] {
        const auto pick = [&](auto horizontal, auto vertical) { return rows ? horizontal : vertical; };
        switch (form) {
          case 0: return pick(kip_projectHorizontal8, kip_projectVertical8)(srcImage, destImage, countArg);
          case 1: return pick(kip_projectHorizontalWindow8, kip_projectVerticalWindow8)(srcWin, destWin, countArg);
          case 2: return pick(kip_projectHorizontalVector8, kip_projectVerticalVector8)(srcImage, vectorOut, countArg);
          default:
            return pick(kip_projectHorizontalVectorWindow8, kip_projectVerticalVectorWindow8)(srcWin, vectorOut,
                                                                                              countArg);
        }
      },
      guard);
  if (status >= 0) {
    // The source was accepted: sum it here as the call read it, wrapping modulo 2^32.
    const kimg_window read = form == 0 || form == 2 ? source->window() : sourceWindow;
    std::vector<uint32_t> sums(static_cast<size_t>(rows ? read.height : read.width), 0u);
    for (int32_t y = 0; y < read.height; ++y) {
      for (int32_t x = 0; x < read.width; ++x) sums[rows ? y : x] += pelAt(read, x, y);
    }
    const int32_t length = static_cast<int32_t>(sums.size());
    KIPFUZZ_CHECK(!countArg || pelCount == static_cast<uint32_t>(rows ? read.width : read.height), name,
                  "wrong pelCount");
    const kimg_window out = form == 0 ? destination->window() : destinationWindow;
    KIPFUZZ_CHECK(form >= 2 ? vector.size == length
                            : out.pelSize == 4 && (length == 0 || (out.width >= length && out.height >= 1)) &&
                                  (form != 0 || destinationWasBound || (out.width == length && out.height == 1)),
                  name, "destination or vector does not fit the sums");
    const void* entries = form >= 2 ? static_cast<const void*>(vector.begin) : out.firstPel;
    KIPFUZZ_CHECK(length == 0 || std::memcmp(entries, sums.data(), sums.size() * sizeof(uint32_t)) == 0, name,
                  "sums differ from a pel-by-pel sum");
  }
  kstd_vector32_destruct(&vector);
  return 0;
}
