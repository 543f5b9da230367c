// The throwing transform class: for code that chains several compositions and catches once.
// Only the operators throw; getInverse reports a status like the plain functions.
#include "platform/math.hpp"

namespace {

[[noreturn]] void raise(int32_t status) { throw kxException{status}; }

}  // namespace

kx2Xform::kx2Xform() { kmath_xformLinear_initIdentity(&linear_); }

kx2Xform::kx2Xform(const kmath_xformLinear& linear) : linear_(linear) {}

kx2Xform kx2Xform::operator*(const kx2Xform& other) const {
  kmath_xformLinear product;
  const int32_t status = kmath_xformLinear_initCompose(&product, &linear_, &other.linear_);
  if (status != KIP_OK) raise(status);
  return kx2Xform(product);
}

kx2Vect kx2Xform::operator*(const kx2Vect& point) const {
  const kmath_vect in{point.x, point.y};
  kmath_vect mapped;
  const int32_t status = kmath_xformLinear_mapPoint(&linear_, &in, &mapped);
  if (status != KIP_OK) raise(status);
  return kx2Vect{mapped.x, mapped.y};
}

int32_t kx2Xform::getInverse(kx2Xform* out) const {
  if (out == nullptr) return KIP_ERR_NULL_POINTER;
  return kmath_xformLinear_getInverse(&linear_, &out->linear_);
}
