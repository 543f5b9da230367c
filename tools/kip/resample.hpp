// Resampling whole pictures with the library's affine transforms, channel by channel, and the
// geometry of a turn about the image centre. Shared by warp, rotate and demo.
#pragma once

#include "image.hpp"

#include <kip/kip.h>

#include <string>

namespace kiptool {

struct Resampled {
  Picture picture;
  Image mask;            // bound only when a mask was asked for
  bool clipped = false;  // the sampling reached outside the input
};

// Samples every channel of `in` under params into a picture of xCount x yCount pels with the
// input's depth and channels. Without clip a sampling that leaves the input is a Failure that
// says so; with clip pels outside count as 0, and wantMask gives the coverage (255 inside, 0
// outside; all 255 when nothing was outside). `inputName` names the input in failures.
Resampled resamplePicture(const Picture& in, const std::string& inputName, const affineSampleParams& params,
                          bool clip, bool wantMask);

// The sampling that turns a width x height picture counter-clockwise (as displayed) by `degrees`
// about its centre, `scale` output pels to an input pel. whole: the output holds the whole turned
// picture (its bounding box); otherwise the largest centred output (by area) whose samples all
// stay inside `image` in this mode. Failures: an output above kMaxSide pels a side, or no room.
affineSampleParams rotationParams(const kimg_image& image, double degrees, double scale, uint32_t mode, bool whole);

std::string_view modeName(uint32_t mode);  // "nearest", ...

}  // namespace kiptool
