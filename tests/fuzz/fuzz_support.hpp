// What every fuzz target shares: a reader that turns the fuzzer's bytes into hostile arguments,
// images bound to heap blocks of exactly their bytes (so that AddressSanitizer sees any read or
// write past them), snapshots that prove a refused call changed nothing, status checks, and the
// application hooks driven by fuzzed bits.
//
// A check that fails prints what it saw and aborts: libFuzzer keeps the input as a crash, the
// regression runner fails its CTest test.
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

// With KIPFUZZ_TRACE set in the environment, prints a line (printf format) to stderr: what an input
// decoded to and what each call returned, for whoever reproduces a failure.
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A status any exported function may return: success, or a code kip names; never a declined
// status (those stay inside the library) and never KIP_ERR_INTERNAL (a defect by definition).
void checkStatus(const char* call, int32_t status);

// Decisions read from the fuzzer's bytes. Once the bytes run out every read gives 0, and every
// menu below gives its plainest choice for 0, so that short inputs are whole, ordinary calls.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t byte();
  uint16_t u16();
  uint32_t u32();
  bool flag() { return (byte() & 1) != 0; }
  // Uniform in [low, high] (low <= high).
  int32_t range(int32_t low, int32_t high);
  // One chance in n (n >= 1); never once the bytes have run out.
  bool oneIn(uint32_t n) { return byte() % n == n - 1; }

  // Image extents: mostly 0 to a few dozen, sometimes up to maxSize.
  int32_t extent(int32_t maxSize);
  // A row stride at or above the width, rarely below it (to be refused).
  int32_t stride(int32_t width);
  // Pel-grid origins: small, negative and positive, and the ends of the 32-bit range.
  int32_t origin();
  // Sample counts: negative, 0, 1, small, and huge (products that overflow 32 bits).
  int32_t count();
  // Sample modes 0..7 and the odd huge one.
  uint32_t sampleMode();
  // A double: small integers and fractions mostly; NaN, infinities, huge, tiny and denormal ones.
  double number();
  // An affine rectangle for a source of w x h pels: inside it, over its edge, axis-aligned and
  // integral (the aligned path), turned, mirrored, degenerate, or element by element hostile.
  kmath_shapeAffineRect affineRect(int32_t w, int32_t h);
  // An image-from-client transform: identity mostly, then shifts, scales, turns and hostile ones.
  kmath_xformLinear xform();

 private:
  const uint8_t* data_;
  size_t size_;
  size_t used_ = 0;
};

// An image over a heap block of exactly the bytes its pels span, or an unbound image. Under
// AddressSanitizer the gaps between rows (stride beyond width) are poisoned too: a read there is a
// read outside the image.
class ExactImage {
 public:
  // Unbound.
  ExactImage();
  // Bound to width x height pels of pelSize bytes with the given stride; pels from seed. A
  // request the binding refuses leaves the image unbound (bound() says which).
  // poison false leaves the row gaps readable, for images that other images alias.
  ExactImage(int32_t pelSize, int32_t width, int32_t height, int32_t stride, uint32_t seed, bool poison = true);
  ~ExactImage();
  ExactImage(const ExactImage&) = delete;
  ExactImage& operator=(const ExactImage&) = delete;

  kimg_image* get() { return &image_; }
  const kimg_image* get() const { return &image_; }
  bool bound() const { return image_.storage != nullptr; }
  // Whole-image window (only when bound).
  kimg_window window() const;
  // Under AddressSanitizer, makes every byte of the block outside the window's pels unreadable, so
  // that a call given the window is proven to read only inside it. A window that is not a plain
  // part of this image's pels is left alone.
  void confineTo(const kimg_window& window);
  // The pels' block and its size in bytes (null and 0 when unbound).
  unsigned char* block() const { return block_; }
  size_t bytes() const { return bytes_; }

 private:
  void poisonGaps(bool poison);
  kimg_image image_;
  unsigned char* block_ = nullptr;
  size_t bytes_ = 0;
  // Layout at binding time: the record's fields are the caller's (and kip's) to change later.
  size_t rowBytes_ = 0;
  size_t strideBytes_ = 0;
  int32_t rows_ = 0;
};

// A fuzzed image: unbound, or bound exactly with a fuzzed extent, stride and origin.
// maxSize bounds width and height; pelSize 0 lets the input choose among 1, 2, 4 and bad sizes.
std::unique_ptr<ExactImage> makeImage(Input& in, int32_t pelSize, int32_t maxSize);

// A window record over a bound image, narrowed by a fuzzed rectangle, and sometimes made invalid
// in a way the library must detect (negative sizes, stride below width, null pels, odd pel sizes,
// origins whose far edge overflows).
kimg_window makeWindow(Input& in, const ExactImage& image);

// The bytes of an image's or window's pels and its record, to prove that a call left them alone.
class Snapshot {
 public:
  explicit Snapshot(const kimg_image* image);
  explicit Snapshot(const kimg_window* window);
  // Aborts, naming call, when record or pels differ from when the snapshot was taken.
  void expectUnchanged(const char* call) const;
  // The records as they were.
  const kimg_image* image() const { return &imageRecord_; }
  const kimg_window* window() const { return &windowRecord_; }

 private:
  const kimg_image* image_ = nullptr;
  const kimg_window* window_ = nullptr;
  kimg_image imageRecord_{};
  kimg_window windowRecord_{};
  std::vector<unsigned char> pels_;
};

// Installs, for its lifetime, the hooks the input chooses: an optimization hook that forbids the
// routines named by a bit mask (or none), a processor record that declines the optimized cores
// (or the real one), and an allocation limit that turns huge requests into KIP_ERR_OUT_OF_MEMORY.
// The hook also checks that kip asks only the documented names.
class Hooks {
 public:
  explicit Hooks(Input& in);
  ~Hooks();
  Hooks(const Hooks&) = delete;
  Hooks& operator=(const Hooks&) = delete;
};

// Runs call with the allocation fault the input chooses (mostly none; otherwise one of the first
// few allocations fails) and checks the status it returns.
template <typename Call>
int32_t runCall(Input& in, const char* name, Call&& call);

// Live blocks of kip's allocator at construction; expectNoLeak() aborts when more are live now
// (call it after every image, vector and cache of the input is gone). Builds the process-wide
// cubic table first, so that its one lasting block is not counted as a leak.
class LeakCheck {
 public:
  LeakCheck();
  void expectNoLeak(const char* target) const;

 private:
  int64_t liveBefore_;
};

// Traces the sampling and an image record.
void traceParams(const affineSampleParams& params);
void traceImage(const char* what, const kimg_image* image);
void traceWindow(const char* what, const kimg_window* window);

// Largest block the fuzz targets let kip allocate.
inline constexpr size_t kAllocationLimit = size_t{16} << 20;
// Most samples a call may take: more would make the fuzzer slow, not thorough.
inline constexpr int64_t kSampleBudget = int64_t{1} << 18;

// A source image and sample parameters aimed at it: a rectangle of the source's pel grid (near,
// over the edge, aligned, turned, mirrored, degenerate or hostile) carried into its client
// coordinates, counts that match the sides (aligned maps) or hostile ones, every mode.
struct Sampling {
  std::unique_ptr<ExactImage> source;
  affineSampleParams params{};
};
Sampling makeSampling(Input& in, int32_t pelSize, int32_t maxSize);

// Keeps xCount x yCount within kSampleBudget by lowering yCount, unless so many samples could not
// be stored anyway (their bytes exceed the allocation limit: the call fails before sampling).
// storeBytes 0 means the samples are summed, not stored: the budget then always holds.
void capWork(affineSampleParams* params, int32_t storeBytes);

// Smallest and largest source pel of the 4 x 4 block around the position that destination pel
// (column j, row i) samples; false when the position is not finite or lies outside the window by
// more than a pel.
bool sourceRange(const kimg_window& source, const kmath_xformLinear& imageFromClient,
                 const affineSampleParams& params, int32_t j, int32_t i, uint32_t* low, uint32_t* high);

// Whether two destination images hold equal pels over the first xCount x yCount of their grid.
bool samePels(const kimg_image* a, const kimg_image* b, int32_t width, int32_t height);

// Source pel (column, row) that destination pel (column j, row i) copies under an alignment code,
// by the aligned path's table in kip.h (w x h: the source's size); unknown codes copy.
void alignedSourcePel(uint32_t code, int32_t w, int32_t h, int32_t j, int32_t i, int32_t* column, int32_t* row);

// Pel (x, y) of a window as an unsigned value of its pel size (window coordinates).
uint32_t pelAt(const kimg_window& window, int32_t x, int32_t y);

void armAllocationFault(Input& in);
void disarmAllocationFault();
// Whether the last runCall armed an allocation fault (its call may then fail for want of memory).
bool lastCallHadFault();

template <typename Call>
int32_t runCall(Input& in, const char* name, Call&& call) {
  armAllocationFault(in);
  const int32_t status = call();
  disarmAllocationFault();
  trace("%s -> %s%s", name, kip_statusName(status), lastCallHadFault() ? " (allocation fault armed)" : "");
  checkStatus(name, status);
  return status;
}

}  // namespace kipfuzz
