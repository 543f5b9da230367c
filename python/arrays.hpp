// numpy arrays as kip images, without copying a pel: a source is bound to the array's own buffer
// (kimg_image_bindExternal), and results are written straight into arrays made for them.
#pragma once

#include <kip/kip.hpp>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <limits>
#include <string>

namespace kippy {

namespace py = pybind11;

// A source image over an array's pels; the array reference keeps them alive while kip reads them.
struct Source {
  py::array array;
  kip::Image image;
  bool wide() const { return image.pelSize() == 2; }
  py::dtype dtype() const { return array.dtype(); }
};

inline int32_t side(py::ssize_t length, const char* what) {
  if (length > std::numeric_limits<int32_t>::max()) {
    throw py::value_error(std::string("kip: the array's ") + what + " is more than 2147483647 pels");
  }
  return static_cast<int32_t>(length);
}

// uint8 or uint16 in native byte order, two dimensions (rows, columns), the pels of a row adjacent
// and rows a positive whole number of pels apart: a C-contiguous array or a view of one that keeps
// whole rows (a[10:50, 20:90], a[::2]). Anything else is refused rather than copied.
inline Source bindSource(const py::array& array) {
  int32_t pelSize = 0;
  if (py::isinstance<py::array_t<uint8_t>>(array)) {
    pelSize = 1;
  } else if (py::isinstance<py::array_t<uint16_t>>(array)) {
    pelSize = 2;
  } else {
    throw py::type_error("kip: images are uint8 or uint16 arrays in native byte order, not " +
                         py::str(array.dtype()).cast<std::string>());
  }
  if (array.ndim() != 2) {
    throw py::value_error("kip: images are 2-D arrays (rows, columns), not " + std::to_string(array.ndim()) + "-D");
  }
  const int32_t height = side(array.shape(0), "height"), width = side(array.shape(1), "width");
  const py::ssize_t rowStep = array.strides(0), pelStep = array.strides(1);
  if (width > 1 && height > 0 && pelStep != pelSize) {
    throw py::value_error("kip: the pels of a row must be adjacent in memory; pass np.ascontiguousarray(a)");
  }
  py::ssize_t stride = width;
  if (height > 1) {
    if (rowStep <= 0 || rowStep % pelSize != 0 || rowStep / pelSize < width) {
      throw py::value_error(
          "kip: rows must follow each other, a whole number of pels apart; pass np.ascontiguousarray(a)");
    }
    stride = rowStep / pelSize;
  }
  const int32_t pelStride = side(stride, "row stride");
  Source source{array, kip::Image()};
  source.image = pelSize == 1 ? kip::Image::wrap(static_cast<const uint8_t*>(array.data()), width, height, pelStride)
                              : kip::Image::wrap(static_cast<const uint16_t*>(array.data()), width, height, pelStride);
  return source;
}

// A new C-contiguous height x width array of the given dtype, and an image over its pels.
template <typename Pel>
py::array_t<Pel> newImageArray(int32_t width, int32_t height, kip::Image& image) {
  py::array_t<Pel> array({static_cast<py::ssize_t>(height), static_cast<py::ssize_t>(width)});
  image = kip::Image::wrap(array.mutable_data(), width, height, width);
  return array;
}

// A new 1-D uint32 array of `length` entries, zero-filled.
inline py::array_t<uint32_t> newSums(py::ssize_t length) {
  py::array_t<uint32_t> sums(length);
  if (length > 0) std::fill_n(sums.mutable_data(), length, 0u);
  return sums;
}

}  // namespace kippy
