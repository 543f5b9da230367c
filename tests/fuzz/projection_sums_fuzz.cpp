// Fuzz target: the eight row and column sums (kip_project*8). Every successful call is checked
// against sums taken here pel by pel; every refused one must leave its destination, vector and
// pelCount as they were.
#include "fuzz_support.hpp"

#include <cstring>

using namespace kipfuzz;

namespace {

constexpr uint32_t kUnwritten = 0xDEADBEEFu;

// Sums of a valid 8-bit window, one per row or per column, wrapping modulo 2^32.
std::vector<uint32_t> expectedSums(const kimg_window& source, bool rows) {
  std::vector<uint32_t> sums(static_cast<size_t>(rows ? source.height : source.width), 0u);
  for (int32_t y = 0; y < source.height; ++y) {
    for (int32_t x = 0; x < source.width; ++x) sums[rows ? y : x] += pelAt(source, x, y);
  }
  return sums;
}

void expectEntries(const char* call, const uint32_t* entries, const std::vector<uint32_t>& sums) {
  if (!sums.empty() && std::memcmp(entries, sums.data(), sums.size() * sizeof(uint32_t)) != 0) {
    fail(call, "sums differ from a pel-by-pel sum");
  }
}

// The destination's pels beyond the first `length` entries of its first row must not change.
void expectRestUnchanged(const char* call, const kimg_window& before, const std::vector<uint32_t>& pelsBefore,
                         const kimg_window& now, int32_t length) {
  size_t i = 0;
  for (int32_t y = 0; y < before.height; ++y) {
    for (int32_t x = 0; x < before.width; ++x, ++i) {
      if ((y > 0 || x >= length) && pelAt(now, x, y) != pelsBefore[i]) fail(call, "wrote outside its entries");
    }
  }
}

std::vector<uint32_t> pelsOf(const kimg_window& window) {
  std::vector<uint32_t> pels;
  if (window.pelSize != 4 || window.width <= 0 || window.height <= 0 || window.firstPel == nullptr ||
      window.stride < window.width) {
    return pels;
  }
  for (int32_t y = 0; y < window.height; ++y) {
    for (int32_t x = 0; x < window.width; ++x) pels.push_back(pelAt(window, x, y));
  }
  return pels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  const LeakCheck leaks;
  {
    const Hooks hooks(in);
    const uint8_t which = in.byte() % 8;
    const bool rows = (which & 1) == 0;  // Horizontal: one sum per row
    const int form = which >> 1;         // 0 image, 1 window, 2 vector of an image, 3 vector of a window
    static constexpr const char* kNames[] = {
        "kip_projectHorizontal8",       "kip_projectVertical8",       "kip_projectHorizontalWindow8",
        "kip_projectVerticalWindow8",   "kip_projectHorizontalVector8", "kip_projectVerticalVector8",
        "kip_projectHorizontalVectorWindow8", "kip_projectVerticalVectorWindow8"};
    const char* name = kNames[which];

    const auto source = makeImage(in, 1, 300);
    kimg_window sourceWindow = makeWindow(in, *source);
    const bool nullSource = in.oneIn(24);
    uint32_t pelCount = kUnwritten;
    uint32_t* pelCountArg = in.oneIn(4) ? nullptr : &pelCount;

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
    const kstd_vector32 vectorBefore = vector;
    const std::vector<uint32_t> vectorEntriesBefore(vector.begin, vector.begin + vector.size);

    const Snapshot imageSnapshot(destination->get());
    const Snapshot windowSnapshot(&destinationWindow);
    const kimg_window destinationBefore = form == 0 ? destination->window() : destinationWindow;
    const std::vector<uint32_t> destinationPelsBefore = pelsOf(destinationBefore);
    const bool destinationWasBound = destination->bound();

    const kimg_image* sourceImage = nullSource ? nullptr : source->get();
    const kimg_window* sourceWin = nullSource ? nullptr : &sourceWindow;
    kimg_image* destImage = nullDestination ? nullptr : destination->get();
    kimg_window* destWin = nullDestination ? nullptr : &destinationWindow;
    kstd_vector32* vectorArg = nullDestination ? nullptr : &vector;

    const int32_t status = runCall(in, name, [&] {
      switch (which) {
        case 0: return kip_projectHorizontal8(sourceImage, destImage, pelCountArg);
        case 1: return kip_projectVertical8(sourceImage, destImage, pelCountArg);
        case 2: return kip_projectHorizontalWindow8(sourceWin, destWin, pelCountArg);
        case 3: return kip_projectVerticalWindow8(sourceWin, destWin, pelCountArg);
        case 4: return kip_projectHorizontalVector8(sourceImage, vectorArg, pelCountArg);
        case 5: return kip_projectVerticalVector8(sourceImage, vectorArg, pelCountArg);
        case 6: return kip_projectHorizontalVectorWindow8(sourceWin, vectorArg, pelCountArg);
        default: return kip_projectVerticalVectorWindow8(sourceWin, vectorArg, pelCountArg);
      }
    });

    if (status < 0) {
      imageSnapshot.expectUnchanged(name);
      windowSnapshot.expectUnchanged(name);
      if (std::memcmp(&vector, &vectorBefore, sizeof vector) != 0 ||
          !std::equal(vectorEntriesBefore.begin(), vectorEntriesBefore.end(), vector.begin)) {
        fail(name, "a refused call changed the vector", status);
      }
      KIPFUZZ_CHECK(pelCount == kUnwritten, name, "a refused call wrote pelCount");
      // Plain valid requests must not be refused.
      kimg_window whole{};
      const bool plain = !lastCallHadFault() && !nullSource && !nullDestination && source->bound() &&
                         source->get()->pelSize == 1 && kimg_windowConst_init(&whole, source->get()) >= 0 &&
                         (form == 2 || (form == 0 && !destinationWasBound));
      if (plain) fail(name, "refused a plain request", status);
    } else {
      // The source was accepted: read it here as the call did.
      const kimg_window read = form == 0 || form == 2 ? source->window() : sourceWindow;
      const std::vector<uint32_t> sums = expectedSums(read, rows);
      const int32_t length = static_cast<int32_t>(sums.size());
      if (pelCountArg != nullptr) {
        KIPFUZZ_CHECK(pelCount == static_cast<uint32_t>(rows ? read.width : read.height), name, "wrong pelCount");
      }
      if (form >= 2) {
        KIPFUZZ_CHECK(vector.size == length, name, "vector not resized to the length");
        expectEntries(name, vector.begin, sums);
      } else {
        const kimg_window out = form == 0 ? destination->window() : destinationWindow;
        KIPFUZZ_CHECK(out.pelSize == 4, name, "sums into a destination that is not 32-bit");
        if (form == 0 && !destinationWasBound) {
          KIPFUZZ_CHECK(out.width == length && out.height == 1, name, "new destination not length x 1");
        } else {
          KIPFUZZ_CHECK(length == 0 || (out.width >= length && out.height >= 1), name, "destination too small");
          expectRestUnchanged(name, destinationBefore, destinationPelsBefore, out, length);
        }
        if (length > 0) expectEntries(name, static_cast<const uint32_t*>(out.firstPel), sums);
      }
    }
    kstd_vector32_destruct(&vector);
  }
  leaks.expectNoLeak("projection sums");
  return 0;
}
