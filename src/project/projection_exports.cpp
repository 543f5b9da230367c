// The eight exported projection sums and their image and vector bodies.
#include "frame/export_guard.hpp"
#include "frame/frame.hpp"
#include "platform/platform.hpp"
#include "project/project.hpp"


namespace {

struct SumShape {
  int32_t length;    // sums produced
  uint32_t pelCount; // pels in each sum
};

SumShape sumShapeOf(const kimg_window& source, uint32_t directionCode) {
  if (projectionDirectionIsColumns(directionCode)) return {source.width, static_cast<uint32_t>(source.height)};
  return {source.height, static_cast<uint32_t>(source.width)};
}

// Row or column sums by direction code, into the first row of a checked destination.
int32_t runSums(const kimg_window& source, kimg_window* destination, uint32_t directionCode) {
  const int32_t reverse = projectionDirectionIsReversed(directionCode) ? 1 : 0;
  if (projectionDirectionIsColumns(directionCode)) return kf_projection_horizontal8(&source, destination, reverse);
  return kf_projection_vertical8(&source, destination, reverse);
}

// A destination must take length 32-bit values in its first row.
int32_t checkDestination(const kimg_window* destination, int32_t length) {
  const int32_t status = kimg_window_validate(destination, 4);
  if (status < 0) return status;
  if (length > 0 && (destination->width < length || destination->height < 1)) return KIP_ERR_DEST_TOO_SMALL;
  return 0;
}

int32_t projectWindow(const kimg_window* source, kimg_window* destination, uint32_t directionCode,
                      uint32_t* pelCount) {
  int32_t status = kimg_window_validate(source, 1);
  if (status < 0) return status;
  const SumShape shape = sumShapeOf(*source, directionCode);
  status = checkDestination(destination, shape.length);
  if (status < 0) return status;
  status = runSums(*source, destination, directionCode);
  if (status >= 0 && pelCount != nullptr) *pelCount = shape.pelCount;
  return status;
}

int32_t sourceWindowOfImage(const kimg_image* source, kimg_window* window) {
  if (source == nullptr) return KIP_ERR_NULL_POINTER;
  int32_t isBound = 0;
  int32_t status = kimg_imageConst_getIsBound(source, &isBound);
  if (status < 0) return status;
  if (!isBound) return KIP_ERR_PROJECT_UNBOUND;
  status = kimg_windowConst_init(window, source);
  if (status < 0) return status;
  return kimg_window_validate(window, 1);
}

}  // namespace

int32_t kf_projection_image8(const kimg_image* source, kimg_image* destination, uint32_t directionCode,
                             uint32_t* pelCount) {
  if (destination == nullptr) return KIP_ERR_NULL_POINTER;
  kimg_window sourceWindow{};
  int32_t status = sourceWindowOfImage(source, &sourceWindow);
  if (status < 0) return status;
  const SumShape shape = sumShapeOf(sourceWindow, directionCode);

  const kimg_image before = *destination;
  int32_t isBound = 0;
  status = kimg_image_getIsBound(destination, &isBound);
  if (status < 0) return status;
  if (!isBound) {
    status = kimg_image_assignNew(destination, 4, shape.length, 1);
    if (status < 0) return status;
  }
  kimg_window destinationWindow{};
  status = kimg_window_init(&destinationWindow, destination);
  if (status >= 0) status = projectWindow(&sourceWindow, &destinationWindow, directionCode, pelCount);
  // A failed call leaves an unbound destination as it found it (the saved record owns nothing).
  if (status < 0 && !isBound) {
    kimg_image_setUnbound(destination);
    *destination = before;
  }
  return status;
}

int32_t kf_projection_vector8(const kimg_window* source, kstd_vector32* vector, uint32_t directionCode,
                              uint32_t* pelCount) {
  if (vector == nullptr) return KIP_ERR_NULL_POINTER;
  int32_t status = kimg_window_validate(source, 1);
  if (status < 0) return status;
  const SumShape shape = sumShapeOf(*source, directionCode);

  // The sums can still fail once the vector has room (the column-sum core allocates), and a failed
  // call must leave the caller's vector as it was: the sums go into a working copy of the record,
  // or into a new vector when it must grow, which replaces the caller's only on success. A copy
  // that has room shares the storage, but a failed sum has written nothing there, and the entries
  // its resize clears lie beyond the caller's size.
  const bool grow = shape.length > vector->capacity;
  kstd_vector32 target = *vector;
  if (grow) {
    status = kstd_vector32_construct(&target);
    if (status < 0) return status;
  }
  status = kstd_vector32_resize(&target, shape.length);
  if (status < 0) return status;
  uint32_t* first = nullptr;
  status = kstd_vector32_getBegin(&target, &first);

  // Describe the vector's storage as a one-row window of 32-bit pels.
  kimg_window vectorWindow{};
  if (status >= 0) status = kimg_window_initUnbound(&vectorWindow);
  vectorWindow.width = shape.length;
  vectorWindow.height = 1;
  vectorWindow.stride = shape.length;
  vectorWindow.firstPel = first;
  vectorWindow.pelSize = 4;
  if (status >= 0) status = projectWindow(source, &vectorWindow, directionCode, pelCount);
  if (status < 0) {
    if (grow) kstd_vector32_destruct(&target);
    return status;
  }
  if (grow) kstd_vector32_destruct(vector);
  *vector = target;
  return status;
}

namespace {

int32_t projectImageVector(const kimg_image* source, kstd_vector32* vector, uint32_t directionCode,
                           uint32_t* pelCount) {
  kimg_window window{};
  const int32_t status = sourceWindowOfImage(source, &window);
  if (status < 0) return status;
  return kf_projection_vector8(&window, vector, directionCode, pelCount);
}

constexpr uint32_t kColumnSums = 0;  // one sum per column: the vertical projection
constexpr uint32_t kRowSums = 90;    // one sum per row: the horizontal projection

}  // namespace

extern "C" {

KIP_API int32_t kip_projectHorizontal8(const kimg_image* source, kimg_image* destination, uint32_t* pelCount) {
  return guardExport([&] { return kf_projection_image8(source, destination, kRowSums, pelCount); });
}

KIP_API int32_t kip_projectVertical8(const kimg_image* source, kimg_image* destination, uint32_t* pelCount) {
  return guardExport([&] { return kf_projection_image8(source, destination, kColumnSums, pelCount); });
}

KIP_API int32_t kip_projectHorizontalWindow8(const kimg_window* source, kimg_window* destination,
                                             uint32_t* pelCount) {
  return guardExport([&] { return projectWindow(source, destination, kRowSums, pelCount); });
}

KIP_API int32_t kip_projectVerticalWindow8(const kimg_window* source, kimg_window* destination, uint32_t* pelCount) {
  return guardExport([&] { return projectWindow(source, destination, kColumnSums, pelCount); });
}

KIP_API int32_t kip_projectHorizontalVector8(const kimg_image* source, kstd_vector32* vector, uint32_t* pelCount) {
  return guardExport([&] { return projectImageVector(source, vector, kRowSums, pelCount); });
}

KIP_API int32_t kip_projectVerticalVector8(const kimg_image* source, kstd_vector32* vector, uint32_t* pelCount) {
  return guardExport([&] { return projectImageVector(source, vector, kColumnSums, pelCount); });
}

KIP_API int32_t kip_projectHorizontalVectorWindow8(const kimg_window* source, kstd_vector32* vector,
                                                   uint32_t* pelCount) {
  return guardExport([&] { return kf_projection_vector8(source, vector, kRowSums, pelCount); });
}

KIP_API int32_t kip_projectVerticalVectorWindow8(const kimg_window* source, kstd_vector32* vector,
                                                 uint32_t* pelCount) {
  return guardExport([&] { return kf_projection_vector8(source, vector, kColumnSums, pelCount); });
}

}  // extern "C"
