// Images: a record of extent, origin, pel layout and client transform over shared pel storage.
#include "platform/image.hpp"

#include "platform/image_storage.hpp"
#include "platform/pel_geometry.hpp"

#include <cmath>
#include <cstdint>

namespace {

constexpr kmath_xformLinear kIdentity{0.0, 0.0, 1.0, 0.0, 0.0, 1.0};

void makeUnbound(kimg_image* image) noexcept {
  *image = kimg_image{};
  image->imageFromClient = kIdentity;
}

// Bytes of a width x height image of pelSize pels stored without padding, or the status that
// refuses the request.
int32_t storageBytes(int32_t pelSize, int32_t width, int32_t height, size_t* bytes) noexcept {
  if (!kimg_geometry::isPelSize(pelSize)) return KIP_ERR_PEL_SIZE;
  if (width < 0 || height < 0) return KIP_ERR_BAD_SIZE;
  const int64_t span = kimg_geometry::byteSpan(width, height, width, pelSize);
  if (span < 0) return KIP_ERR_BAD_SIZE;
  *bytes = static_cast<size_t>(span);
  return 0;
}

// Points the image at storage it now holds the reference of, releasing what it held.
void bind(kimg_image* image, kimg_storage* storage, void* pels, int32_t pelSize, int32_t width, int32_t height,
          int32_t stride) noexcept {
  kimg_storage_release(&image->storage);
  image->storage = storage;
  image->firstPel = pels;
  image->pelSize = pelSize;
  image->width = width;
  image->height = height;
  image->stride = stride;
  image->xOrigin = 0;
  image->yOrigin = 0;
}

bool isFinite(const kmath_xformLinear& x) noexcept {
  return std::isfinite(x.tx) && std::isfinite(x.ty) && std::isfinite(x.e0) && std::isfinite(x.e1) &&
         std::isfinite(x.e2) && std::isfinite(x.e3);
}

}  // namespace

extern "C" {

KIP_API int32_t kimg_image_constructUnbound(kimg_image* image) {
  if (image == nullptr) return KIP_ERR_NULL_POINTER;
  makeUnbound(image);
  return 0;
}

KIP_API int32_t kimg_image_construct(kimg_image* image, int32_t pelSize, int32_t width, int32_t height) {
  if (image == nullptr) return KIP_ERR_NULL_POINTER;
  // Unbound first, so that a failure leaves a record the caller can still destruct.
  makeUnbound(image);
  return kimg_image_assignNew(image, pelSize, width, height);
}

KIP_API int32_t kimg_image_destruct(kimg_image* image) {
  if (image == nullptr) return 0;
  kimg_storage_release(&image->storage);
  makeUnbound(image);
  return 0;
}

KIP_API int32_t kimg_image_assignNew(kimg_image* image, int32_t pelSize, int32_t width, int32_t height) {
  if (image == nullptr) return KIP_ERR_NULL_POINTER;
  size_t bytes = 0;
  int32_t status = storageBytes(pelSize, width, height, &bytes);
  if (status < 0) return status;
  kimg_storage* storage = nullptr;
  void* pels = nullptr;
  status = kimg_storage_create(bytes, &storage, &pels);
  if (status < 0) return status;
  bind(image, storage, pels, pelSize, width, height, width);
  return 0;
}

KIP_API int32_t kimg_image_bindExternal(kimg_image* image, void* pels, int32_t pelSize, int32_t width,
                                        int32_t height, int32_t stride) {
  if (image == nullptr) return KIP_ERR_NULL_POINTER;
  if (!kimg_geometry::isPelSize(pelSize)) return KIP_ERR_PEL_SIZE;
  if (width < 0 || height < 0 || stride < width) return KIP_ERR_BAD_SIZE;
  const int64_t span = kimg_geometry::byteSpan(width, height, stride, pelSize);
  if (span < 0) return KIP_ERR_BAD_SIZE;
  if (span > 0 && pels == nullptr) return KIP_ERR_NULL_POINTER;
  if (span > 0 && reinterpret_cast<uintptr_t>(pels) > UINTPTR_MAX - static_cast<uint64_t>(span)) {
    return KIP_ERR_BAD_SIZE;
  }
  kimg_storage* storage = nullptr;
  const int32_t status = kimg_storage_createExternal(pels, &storage);
  if (status < 0) return status;
  bind(image, storage, pels, pelSize, width, height, stride);
  return 0;
}

KIP_API int32_t kimg_image_assign(kimg_image* destination, const kimg_image* source) {
  if (destination == nullptr || source == nullptr) return KIP_ERR_NULL_POINTER;
  if (destination == source) return 0;
  // Take the new reference before dropping the old one: both may be the same storage.
  if (source->storage != nullptr) kimg_storage_retain(source->storage);
  kimg_storage_release(&destination->storage);
  *destination = *source;
  return 0;
}

KIP_API int32_t kimg_image_setUnbound(kimg_image* image) {
  if (image == nullptr) return KIP_ERR_NULL_POINTER;
  kimg_storage_release(&image->storage);
  image->firstPel = nullptr;
  image->pelSize = 0;
  image->stride = 0;
  return 0;
}

KIP_API int32_t kimg_imageConst_getIsBound(const kimg_image* image, int32_t* isBound) {
  if (image == nullptr || isBound == nullptr) return KIP_ERR_NULL_POINTER;
  *isBound = image->storage != nullptr ? 1 : 0;
  return 0;
}

KIP_API int32_t kimg_image_getIsBound(kimg_image* image, int32_t* isBound) {
  return kimg_imageConst_getIsBound(image, isBound);
}

KIP_API int32_t kimg_imageConst_getLinearImageFromClientXform(const kimg_image* image, kmath_xformLinear* xform) {
  if (image == nullptr || xform == nullptr) return KIP_ERR_NULL_POINTER;
  *xform = image->imageFromClient;
  return 0;
}

KIP_API int32_t kimg_image_setLinearImageFromClientXform(kimg_image* image, const kmath_xformLinear* xform) {
  if (image == nullptr || xform == nullptr) return KIP_ERR_NULL_POINTER;
  // Everything downstream maps coordinates through it; refuse poison at the door.
  if (!isFinite(*xform)) return KIP_ERR_NOT_FINITE;
  image->imageFromClient = *xform;
  return 0;
}

KIP_API int32_t kimg_image_copyXforms(kimg_image* destination, const kimg_image* source) {
  if (destination == nullptr || source == nullptr) return KIP_ERR_NULL_POINTER;
  destination->imageFromClient = source->imageFromClient;
  return 0;
}

KIP_API int32_t kimg_imageConst_gcr(const kimg_image* a, const kimg_image* b, kstd_rect32* common,
                                    int32_t* isEmpty) {
  if (a == nullptr || b == nullptr) return KIP_ERR_NULL_POINTER;
  return kimg_geometry::reportCommon(kimg_geometry::extentOf(*a), kimg_geometry::extentOf(*b), common, isEmpty);
}

}  // extern "C"
