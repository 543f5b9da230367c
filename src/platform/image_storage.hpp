// Reference-counted pel storage behind kimg_image. Images that share pels (kimg_image_assign) hold
// one reference each; the last release frees the pels, unless they belong to the caller.
#pragma once

#include <cstddef>
#include <cstdint>

struct kimg_storage;

// New storage of byteCount zero bytes with one reference; *pels receives their address.
// KIP_ERR_OUT_OF_MEMORY leaves both out-parameters untouched and allocates nothing.
int32_t kimg_storage_create(size_t byteCount, kimg_storage** storage, void** pels) noexcept;
// Storage over pels the caller owns, with one reference; the pels are never freed.
int32_t kimg_storage_createExternal(void* pels, kimg_storage** storage) noexcept;
// One more reference.
void kimg_storage_retain(kimg_storage* storage) noexcept;
// Drops one reference (null is fine), frees on the last, and sets *storage to null.
void kimg_storage_release(kimg_storage** storage) noexcept;
