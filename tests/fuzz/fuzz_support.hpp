// What every fuzz target shares: a reader that turns the fuzzer's bytes into hostile arguments,
// images over heap blocks of exactly their bytes (AddressSanitizer sees any access past them),
// guards that prove a refused call changed nothing, status checks and fuzzed application hooks.
// A failed check prints what it saw and aborts: libFuzzer keeps the input, CTest fails the test.
#pragma once

#include <kip/kip.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace kipfuzz {

[[noreturn]] void fail(const char* call, const char* what, int32_t status = 0);
#define KIPFUZZ_CHECK(condition, call, what) \
  do {                                       \
    if (!(condition)) ::kipfuzz::fail(call, what); \
  } while (0)
// Success or a code kip names; never a declined status (internal only) nor KIP_ERR_INTERNAL.
void checkStatus(const char* call, int32_t status);

// Decisions read from the fuzzer's bytes. Once the bytes run out every read gives 0, and every
// menu gives its plainest choice for 0, so that short inputs are whole, ordinary calls. The byte
// layout is what the seeds in corpus/ were found with: change it and they decode to other calls.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t byte();
  uint16_t u16();
  uint32_t u32();
  bool flag() { return (byte() & 1) != 0; }
  int32_t range(int32_t low, int32_t high);              // uniform in [low, high]
  bool oneIn(uint32_t n) { return byte() % n == n - 1; }  // never once the bytes have run out
  int32_t extent(int32_t maxSize);  // mostly 0 to a few dozen, sometimes up to maxSize
  int32_t stride(int32_t width);    // at or above the width; below it, negative or too wide rarely
  int32_t origin();                 // small, negative and positive, and the ends of the 32-bit range
  int32_t count();                  // negative, 0, 1, small, and huge (products that overflow)
  uint32_t sampleMode();            // 0..7 and the odd huge one
  double number();                  // small mostly; NaN, infinities, huge, tiny, denormal, any bits
  // Near a w x h source: axis-aligned and integral, turned, mirrored, degenerate, or hostile.
  kmath_shapeAffineRect affineRect(int32_t w, int32_t h);
  kmath_xformLinear xform();  // identity mostly; shifts, scales, a turn, singular, hostile

 private:
  const uint8_t* data_;
  size_t size_;
  size_t used_ = 0;
};

// An image over a heap block of exactly the bytes its pels span (row gaps poisoned under
// AddressSanitizer unless poison is false, for images that others alias), or an unbound one. A
// layout the binding refuses leaves it unbound.
class ExactImage {
 public:
  ExactImage();
  ExactImage(int32_t pelSize, int32_t width, int32_t height, int32_t stride, uint32_t seed, bool poison = true);
  ~ExactImage();
  ExactImage(const ExactImage&) = delete;
  ExactImage& operator=(const ExactImage&) = delete;
  kimg_image* get() { return &image_; }
  const kimg_image* get() const { return &image_; }
  bool bound() const { return image_.storage != nullptr; }
  kimg_window window() const { return windowOf(&image_); }
  static kimg_window windowOf(const kimg_image* image);  // {} when it has no valid window
  // Under AddressSanitizer, makes every byte outside the window's pels unreadable (when the window
  // is a plain part of this image), so that a call given the window provably reads only inside it.
  void confineTo(const kimg_window& window);
  unsigned char* block() const { return block_; }
  size_t bytes() const { return bytes_; }

 private:
  kimg_image image_;
  unsigned char* block_ = nullptr;
  size_t bytes_ = 0;
};

// A fuzzed image: unbound, or exact with fuzzed extent, stride, origin and transform. pelSize 0
// lets the input choose among good and bad sizes; otherwise it is rarely the wrong one.
std::unique_ptr<ExactImage> makeImage(Input& in, int32_t pelSize, int32_t maxSize);
// A window over the image, narrowed by a fuzzed rectangle, sometimes made invalid (negative sizes,
// stride below width, null pels, odd pel sizes, an origin whose far edge overflows).
kimg_window makeWindow(Input& in, const ExactImage& image);

// A destination the target owns; one byte picks a letter of menu: 'u' unbound, 's' sharing the
// source's storage, 'e' exact exactWidth x exactHeight (when both are positive, else 'i'), 'i' a
// fuzzed image up to maxSize, mostly moved to (0, 0).
struct Target {
  Target(Input& in, const char* menu, const ExactImage& source, int32_t pelSize, int32_t maxSize,
         int32_t exactWidth = 0, int32_t exactHeight = 1);
  ~Target() { kimg_image_destruct(&shared); }
  std::unique_ptr<ExactImage> owned;
  kimg_image shared{};
  kimg_image* image = nullptr;
  char kind = 'u';
};

// A projection vector: a Target of 32-bit pels and a fuzzed window over it.
struct VectorTarget : Target {
  VectorTarget(Input& in, const ExactImage& source, int32_t xCount);
  kimg_window window{};
};

// What a refused call must leave alone: records with the pels they describe, and out-parameters
// byte for byte. A call that fails for memory or a failed job may have begun writing a
// destination in place (inPlace): its pels may change then, its record never.
class Guard {
 public:
  Guard& image(const kimg_image* image, bool inPlace = false) { return add(image, sizeof *image, 1, inPlace); }
  Guard& window(const kimg_window* window) { return add(window, sizeof *window, 2, false); }
  Guard& bytes(const void* address, size_t size) { return add(address, size, 0, false); }
  template <typename T>
  Guard& value(const T* address) { return add(address, sizeof(T), 0, false); }
  // Aborts when something guarded changed (pels of inPlace entries excepted when they may).
  void expectUnchanged(const char* call, bool pelsMayChange = false) const;
  void check(const char* call, int32_t status) const {
    if (status < 0) expectUnchanged(call, status == KIP_ERR_OUT_OF_MEMORY || status == KIP_ERR_JOB_FAILED);
  }

 private:
  Guard& add(const void* address, size_t size, int kind, bool inPlace);
  struct Entry {
    const void* address;
    int kind;  // 0 bytes, 1 image, 2 window
    bool inPlace;
    std::vector<unsigned char> record;
    std::vector<uint32_t> pels;
  };
  std::vector<Entry> entries_;
};

// The pels of a valid window, row by row (none otherwise).
std::vector<uint32_t> pelsOf(const kimg_window& window);

// One input's run. Installs the hooks the input chooses: an optimization hook forbidding the
// routines of a bit mask (and checking kip asks only documented names), a processor without SIMD
// targets, an allocation limit that turns huge requests into KIP_ERR_OUT_OF_MEMORY. Declared
// first, it ends last: then it removes them and aborts if kip left blocks live.
class Session {
 public:
  Session(Input& in, const char* target);
  ~Session();

 private:
  const char* target_;
  int64_t liveBefore_;
};

inline constexpr size_t kAllocationLimit = size_t{16} << 20;  // largest block kip may allocate
inline constexpr int64_t kSampleBudget = int64_t{1} << 18;    // more samples: slow, not thorough
inline constexpr uint32_t kUnwritten = 0xDEADBEEFu;

void armAllocationFault(Input& in);  // mostly none; otherwise one of the first few allocations fails
void disarmAllocationFault();

// Runs call under the allocation fault the input chooses and checks its status; with a guard,
// also that a failure changed nothing guarded.
template <typename Call>
int32_t runCall(Input& in, const char* name, Call&& call, const Guard& guard = Guard()) {
  armAllocationFault(in);
  const int32_t status = call();
  disarmAllocationFault();
  checkStatus(name, status);
  guard.check(name, status);
  return status;
}

// A source and sample parameters aimed at it: a rectangle of its pel grid carried into client
// coordinates, counts that match the sides (aligned maps) or hostile ones, every mode.
struct Sampling {
  std::unique_ptr<ExactImage> source;
  affineSampleParams params{};
};
Sampling makeSampling(Input& in, int32_t pelSize, int32_t maxSize);

// Lowers yCount to keep the samples within kSampleBudget, unless what the call stores (all samples
// of pelSize bytes, or for a projection one 32-bit entry per column) exceeds the allocation limit.
void capWork(affineSampleParams* params, int32_t pelSize, bool projection);

uint32_t pelAt(const kimg_window& window, int32_t x, int32_t y);

}  // namespace kipfuzz
