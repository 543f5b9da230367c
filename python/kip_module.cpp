// The Python module `kip`: numpy images in, numpy results out, through the C++ wrapper. Sources are
// read in place, the interpreter lock is released while kip works, and kip's refusals raise
// kip.Error carrying the status and its name.
#include "arrays.hpp"

#include <pybind11/stl.h>

#include <cstdint>
#include <string>

namespace kippy {
namespace {

PyObject* errorType = nullptr;

// kip.Error(message) with .status (the negative code), .name ("KIP_ERR_...") and .meaning.
void raise(const kip::Error& error) {
  py::object instance = py::reinterpret_borrow<py::object>(errorType)(error.what());
  instance.attr("status") = error.status();
  instance.attr("name") = error.name();
  instance.attr("meaning") = error.meaning();
  PyErr_SetObject(errorType, instance.ptr());
}

py::object projectSums(const py::array& array, int axis) {
  if (axis < -2 || axis > 1) throw py::value_error("kip.project_sums: axis is 0 (one sum per column) or 1 (per row)");
  const bool perColumn = axis == 0 || axis == -2;
  Source source = bindSource(array);
  py::array_t<uint32_t> sums = newSums(perColumn ? source.image.width() : source.image.height());
  uint32_t* out = sums.mutable_data();
  {
    py::gil_scoped_release release;
    perColumn ? kip::columnSumsInto(source.image, out) : kip::rowSumsInto(source.image, out);
  }
  return sums;
}

py::object turn(const py::array& array, uint32_t code) {
  Source source = bindSource(array);
  const bool swap = kip::turnTransposes(code);
  const int32_t width = swap ? source.image.height() : source.image.width();
  const int32_t height = swap ? source.image.width() : source.image.height();
  kip::Image destination;
  py::array result = source.wide() ? py::array(newImageArray<uint16_t>(width, height, destination))
                                   : py::array(newImageArray<uint8_t>(width, height, destination));
  {
    py::gil_scoped_release release;
    kip::turnInto(source.image, destination, code);
  }
  return result;
}

}  // namespace
}  // namespace kippy

PYBIND11_MODULE(kip, m) {
  using namespace kippy;
  namespace py = pybind11;
  m.doc() =
      "Affine resampling and projections of 8-bit and 16-bit grayscale images.\n\n"
      "Images are 2-D uint8 or uint16 numpy arrays indexed [row, column], read in place (C-contiguous,\n"
      "or views that keep whole rows). Coordinates are x = column, y = row, with pel (x, y) covering\n"
      "[x, x + 1) x [y, y + 1): pel centres lie at half-integers.";
  m.attr("__version__") = std::to_string(KIP_VERSION_MAJOR) + "." + std::to_string(KIP_VERSION_MINOR) + "." +
                          std::to_string(KIP_VERSION_PATCH);

  errorType = PyErr_NewExceptionWithDoc("kip.Error",
                                        "A call kip refused: .status is the code, .name its name "
                                        "(\"KIP_ERR_...\"), .meaning one line about it.",
                                        PyExc_RuntimeError, nullptr);
  m.attr("Error") = py::reinterpret_borrow<py::object>(errorType);
  py::register_exception_translator([](std::exception_ptr pending) {
    try {
      if (pending) std::rethrow_exception(pending);
    } catch (const kip::Error& error) {
      raise(error);
    }
  });

  m.def("project_sums", &projectSums, py::arg("src"), py::arg("axis"),
        "Sums of a uint8 image as uint32 (modulo 2**32): axis=0 one per column, axis=1 one per row.");
  m.def("turn", &turn, py::arg("src"), py::arg("code"),
        "An exact turn or mirror: code 0 (copy), 90 (a quarter turn counter-clockwise as displayed),\n"
        "180, 270, 91 (mirror left-right), 271 (top-bottom), 1 and 181 (the diagonals).");
}
