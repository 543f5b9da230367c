// Names and one-line meanings of the library's status codes, for messages and bindings.
#include <kip/kip.h>

namespace {

struct StatusWords {
  int32_t status;
  const char* name;
  const char* meaning;
};

constexpr StatusWords kStatuses[] = {
    {KIP_OK, "KIP_OK", "success"},
    {KIP_ERR_NOT_AVAILABLE, "KIP_ERR_NOT_AVAILABLE", "an optimized routine was not available"},
    {KIP_ERR_PROJECT_UNBOUND, "KIP_ERR_PROJECT_UNBOUND", "the source image is not bound"},
    {KIP_ERR_PROJECT_CLIPS, "KIP_ERR_PROJECT_CLIPS", "the sampling reaches outside the source"},
    {KIP_ERR_PROJECT_NO_OVERLAP, "KIP_ERR_PROJECT_NO_OVERLAP", "the sampling and the source share no pel"},
    {KIP_ERR_TRANSFORM_UNBOUND, "KIP_ERR_TRANSFORM_UNBOUND", "the source image is not bound"},
    {KIP_ERR_TRANSFORM_CLIPS, "KIP_ERR_TRANSFORM_CLIPS", "the sampling reaches outside the source"},
    {KIP_ERR_TRANSFORM_NO_OVERLAP, "KIP_ERR_TRANSFORM_NO_OVERLAP", "the sampling touches no source pel"},
    {KIP_ERR_NO_SAMPLES, "KIP_ERR_NO_SAMPLES", "the sampling has no samples"},
    {KIP_ERR_SOURCE_TOO_LARGE, "KIP_ERR_SOURCE_TOO_LARGE", "the source is 32768 pels or more across"},
    {KIP_ERR_MODE_UNSUPPORTED, "KIP_ERR_MODE_UNSUPPORTED", "the sample mode is not offered here"},
    {KIP_ERR_NULL_POINTER, "KIP_ERR_NULL_POINTER", "a required pointer is null"},
    {KIP_ERR_PEL_SIZE, "KIP_ERR_PEL_SIZE", "the pel size does not fit the function"},
    {KIP_ERR_OUT_OF_MEMORY, "KIP_ERR_OUT_OF_MEMORY", "out of memory"},
    {KIP_ERR_BAD_SIZE, "KIP_ERR_BAD_SIZE", "a size is negative or too large"},
    {KIP_ERR_NOT_BOUND, "KIP_ERR_NOT_BOUND", "the image has no pels"},
    {KIP_ERR_OUTSIDE_WINDOW, "KIP_ERR_OUTSIDE_WINDOW", "a rectangle lies outside the window"},
    {KIP_ERR_MEMORY_OVERLAP, "KIP_ERR_MEMORY_OVERLAP", "source and destination share memory"},
    {KIP_ERR_SINGULAR, "KIP_ERR_SINGULAR", "the transform is singular"},
    {KIP_ERR_NOT_FINITE, "KIP_ERR_NOT_FINITE", "a value is not finite"},
    {KIP_ERR_OUT_OF_RANGE, "KIP_ERR_OUT_OF_RANGE", "a value is too large"},
    {KIP_ERR_DEST_TOO_SMALL, "KIP_ERR_DEST_TOO_SMALL", "the destination is too small"},
    {KIP_ERR_JOB_FAILED, "KIP_ERR_JOB_FAILED", "a worker job failed"},
    {KIP_ERR_INTERNAL, "KIP_ERR_INTERNAL", "an internal failure"},
    {KIP_ERR_SIZE_MISMATCH, "KIP_ERR_SIZE_MISMATCH", "window sizes do not fit together"},
};

const StatusWords* find(int32_t status) {
  for (const StatusWords& words : kStatuses) {
    if (words.status == status) return &words;
  }
  return nullptr;
}

}  // namespace

extern "C" {

KIP_API const char* kip_statusName(int32_t status) {
  const StatusWords* words = find(status);
  return words ? words->name : (status >= 0 ? "KIP_OK" : "KIP_ERR_UNKNOWN");
}

KIP_API const char* kip_statusMessage(int32_t status) {
  const StatusWords* words = find(status);
  return words ? words->meaning : (status >= 0 ? "success" : "a failure kip does not know");
}

}  // extern "C"
