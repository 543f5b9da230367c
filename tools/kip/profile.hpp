// Profiles: affine projections of a picture, channel by channel, as 'kip project' prints and plots
// them. The demo calls these too: projectPicture, then profileCsv and plotProfile.
#pragma once

#include "image.hpp"

#include <kip/kip.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kiptool {

struct ProfileRequest {
  kmath_shapeAffineRect rect{};  // the sampled rectangle, in the picture's pel coordinates
  int32_t xCount = 1;            // entries of the profile, along the rectangle's x side
  int32_t yCount = 1;            // samples summed into each entry, along its y side
  uint32_t mode = KIP_SAMPLE_BILINEAR;
  bool clip = false;  // samples outside the picture count as 0 (else such a rectangle is refused)
  bool norm = false;  // also the means, through the normalised projection
};

struct ChannelProfile {
  std::vector<uint32_t> sums;  // one per entry
  std::vector<double> means;   // with norm: NaN outside the valid range
};

struct Profile {
  std::vector<ChannelProfile> channels;
  bool clipped = false;            // the rectangle reaches outside the picture
  std::vector<uint32_t> coverage;  // with clip: 255 per sample that fell inside the picture
  uint32_t sampleCount = 0;        // what each sum adds up to: yCount, or the largest coverage
  uint32_t validStart = 0;         // with norm: the entries that hold means
  uint32_t validEnd = 0;
};

// Throws a Failure that says what to change when the library refuses the sampling (a rectangle
// outside the picture without clip, or wholly outside with it, or a two-pass mode on 16 bits).
// `name` names the picture in messages.
Profile projectPicture(const Picture& picture, const ProfileRequest& request, const std::string& name);

// "index,sum" and one line per entry, then ",coverage" with clip and ",mean,valid" with norm; colour
// pictures get one sum (and mean) column a channel ("sum_red", ...).
std::string profileCsv(const Picture& picture, const Profile& profile, const ProfileRequest& request);

// The picture with the rectangle beside the sums (or, with norm, the means) of every channel.
void plotProfile(const std::string& path, const Picture& picture, const ProfileRequest& request,
                 const Profile& profile, const std::string& title);

}  // namespace kiptool
