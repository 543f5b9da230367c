// The Python module `kip`: numpy images in, numpy results out, through the C++ wrapper. Sources are
// read in place, the interpreter lock is released while kip works, and kip's refusals raise
// kip.Error carrying the status and its name.
#include "arrays.hpp"

#include <pybind11/stl.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <utility>

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

kip::Mode parseMode(const std::string& name) {
  if (name == "nearest") return kip::Mode::nearest;
  if (name == "bilinear") return kip::Mode::bilinear;
  if (name == "linear2") return kip::Mode::linear2;
  if (name == "cubic2") return kip::Mode::cubic2;
  throw py::value_error("kip: mode '" + name + "' is not one of nearest, bilinear, linear2, cubic2");
}

// Three points (origin, end of the x side, end of the y side) or the same six numbers, flat.
kmath_shapeAffineRect parseRect(const py::object& rect) {
  const auto values = py::cast<py::array_t<double, py::array::c_style | py::array::forcecast>>(rect);
  if (values.size() != 6) {
    throw py::value_error("kip: rect is three points (origin, end of the x side, end of the y side): "
                          "((ox, oy), (xx, xy), (yx, yy)), or those six numbers");
  }
  const double* v = values.data();
  return kip::affineRect({v[0], v[1]}, {v[2], v[3]}, {v[4], v[5]});
}

// (width, height) in pels; fewer than 1 is kip's KIP_ERR_NO_SAMPLES.
kip::Size parseSize(const py::object& size, const char* context) {
  const auto [width, height] = py::cast<std::pair<int64_t, int64_t>>(size);
  if (width < 1 || height < 1) throw kip::Error(KIP_ERR_NO_SAMPLES, context);
  if (width > INT32_MAX || height > INT32_MAX) throw py::value_error("kip: size is more than 2147483647 pels a side");
  return {static_cast<int32_t>(width), static_cast<int32_t>(height)};
}

// A new array of the source's dtype and an image over it.
py::array newLike(const Source& source, kip::Size size, kip::Image& image) {
  return source.wide() ? py::array(newImageArray<uint16_t>(size.width, size.height, image))
                       : py::array(newImageArray<uint8_t>(size.width, size.height, image));
}

// The result, or (result, mask) with clip.
py::object resample(const Source& source, const affineSampleParams& params, bool clip) {
  kip::Image destination;
  py::array result = newLike(source, {params.xCount, params.yCount}, destination);
  if (!clip) {
    py::gil_scoped_release release;
    kip::transformInto(source.image, destination, params);
    return result;
  }
  kip::Image mask;
  py::array maskArray = newImageArray<uint8_t>(params.xCount, params.yCount, mask);
  {
    py::gil_scoped_release release;
    kip::transformClippedInto(source.image, destination, mask, params);
  }
  return py::make_tuple(result, maskArray);
}

py::object transform(const py::array& src, const py::object& rect, const py::object& size, const std::string& mode,
                     bool clip) {
  const Source source = bindSource(src);
  return resample(source, kip::sampleParams(parseRect(rect), parseSize(size, "kip.transform"), parseMode(mode)), clip);
}

py::object rotate(const py::array& src, double angle, double scale, const std::string& mode, bool clip,
                  const py::object& size) {
  if (!(scale > 0) || !std::isfinite(scale)) throw py::value_error("kip.rotate: scale must be finite and above 0");
  if (!std::isfinite(angle)) throw py::value_error("kip.rotate: angle must be finite");
  const Source source = bindSource(src);
  const kip::Mode sampling = parseMode(mode);
  const kip::Size outSize = !size.is_none() ? parseSize(size, "kip.rotate")
                            : clip ? kip::rotatedBounds(source.image.size(), angle, scale)
                                   : kip::rotatedInterior(source.image, angle, scale, sampling);
  const kip::Point centre{source.image.width() / 2.0, source.image.height() / 2.0};
  return resample(source, kip::rotationParams(centre, angle, scale, outSize, sampling), clip);
}

affineSampleParams projection(const py::object& rect, const py::object& size, const std::string& mode,
                              const char* context) {
  return kip::sampleParams(parseRect(rect), parseSize(size, context), parseMode(mode));
}

py::object project(const py::array& src, const py::object& rect, const py::object& size, const std::string& mode,
                   bool clip, int coverageValue) {
  if (coverageValue < 1 || coverageValue > 255) throw py::value_error("kip.project: coverage_value is 1 to 255");
  const Source source = bindSource(src);
  const affineSampleParams params = projection(rect, size, mode, "kip.project");
  py::array_t<uint32_t> sums = newSums(params.xCount);
  uint32_t* out = sums.mutable_data();
  if (!clip) {
    py::gil_scoped_release release;
    kip::projectInto(source.image, params, out);
    return sums;
  }
  py::array_t<uint32_t> coverage = newSums(params.xCount);
  uint32_t* covered = coverage.mutable_data();
  {
    py::gil_scoped_release release;
    kip::projectClippedInto(source.image, params, out, covered, static_cast<uint8_t>(coverageValue));
  }
  return py::make_tuple(sums, coverage);
}

py::object projectNorm(const py::array& src, const py::object& rect, const py::object& size, const std::string& mode,
                       bool clip) {
  const Source source = bindSource(src);
  const affineSampleParams params = projection(rect, size, mode, "kip.project_norm");
  py::array_t<uint32_t> entries = newSums(params.xCount);
  uint32_t* out = entries.mutable_data();
  kip::NormRange range;
  {
    py::gil_scoped_release release;
    range = kip::projectNormInto(source.image, params, clip, out);
  }
  py::array_t<double> means(params.xCount);
  double* mean = means.mutable_data();
  for (int32_t i = 0; i < params.xCount; ++i) {
    const bool valid = range.sampleCount != 0 && uint32_t(i) >= range.validStart && uint32_t(i) < range.validEnd;
    mean[i] = valid ? double(out[i]) / range.sampleCount : std::nan("");
  }
  return means;
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

  m.def("transform", &transform, py::arg("src"), py::arg("rect"), py::arg("size"), py::arg("mode") = "bilinear",
        py::arg("clip") = false,
        "Samples the parallelogram rect of src into a new image of size (width, height).\n\n"
        "rect is ((ox, oy), (xx, xy), (yx, yy)): the origin corner, where result pel [0, 0] begins, the\n"
        "end of the x side (along result rows) and the end of the y side (down result columns), in src's\n"
        "pel coordinates (x = column, y = row, pel centres at half-integers). Result pel [r, c] is the\n"
        "sample at rect's point ((c + 0.5) / width, (r + 0.5) / height). mode: nearest, bilinear,\n"
        "linear2 (two-pass linear) or cubic2 (two-pass cubic). Without clip a rect whose samples need\n"
        "pels outside src raises kip.Error (KIP_ERR_TRANSFORM_CLIPS); with clip such pels count as 0\n"
        "and the result comes with a uint8 mask: 255 where a pel came wholly from src, 0 where not.");
  m.def("rotate", &rotate, py::arg("src"), py::arg("angle"), py::arg("scale") = 1.0, py::arg("mode") = "bilinear",
        py::arg("clip") = false, py::arg("size") = py::none(),
        "src turned counter-clockwise (as displayed) by angle degrees about its centre, scale result pels\n"
        "to a src pel. Without clip the result is the largest centred part with no pel from outside src;\n"
        "with clip the whole turned picture, and the mask as in transform. size=(width, height) chooses\n"
        "the result's size instead.");
  m.def("project", &project, py::arg("src"), py::arg("rect"), py::arg("size"), py::arg("mode") = "bilinear",
        py::arg("clip") = false, py::arg("coverage_value") = 255,
        "The sampling of transform with each result column summed: a uint32 profile of width entries\n"
        "along rect's x side, each the sum of height samples (modulo 2**32). uint16 sources take nearest\n"
        "and bilinear. Without clip a rect that leaves src raises kip.Error (KIP_ERR_PROJECT_CLIPS); with\n"
        "clip samples outside count as 0 and (sums, coverage) is returned: coverage is the same projection\n"
        "of an image that is coverage_value on src and 0 outside.");
  m.def("project_norm", &projectNorm, py::arg("src"), py::arg("rect"), py::arg("size"), py::arg("mode") = "bilinear",
        py::arg("clip") = false,
        "The mean of each column of project's sampling, as float64. With clip each mean is over the\n"
        "samples that fell on src (rounded to a whole level by kip), NaN for columns at either end that\n"
        "saw none.");
  m.def("project_sums", &projectSums, py::arg("src"), py::arg("axis"),
        "Sums of a uint8 image as uint32 (modulo 2**32): axis=0 one per column, axis=1 one per row.");
  m.def("turn", &turn, py::arg("src"), py::arg("code"),
        "An exact turn or mirror: code 0 (copy), 90 (a quarter turn counter-clockwise as displayed),\n"
        "180, 270, 91 (mirror left-right), 271 (top-bottom), 1 and 181 (the diagonals).");
}
