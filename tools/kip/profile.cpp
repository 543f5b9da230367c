#include "profile.hpp"

#include "failure.hpp"
#include "plot.hpp"
#include "status_text.hpp"

#include <cmath>
#include <cstdio>
#include <limits>

namespace kiptool {
namespace {

constexpr uint8_t kCoverageValue = 255;

const char* modeName(uint32_t mode) {
  constexpr const char* names[] = {"nearest", "bilinear", "linear2", "cubic2"};
  return mode < 4 ? names[mode] : "unknown";
}

// One sample cache for every call of a run: the channels share the geometry.
class Cache {
 public:
  Cache() { checkStatus(kip_affineSampleCache_construct(&cache_), "making a sample cache"); }
  ~Cache() { kip_affineSampleCache_destruct(&cache_); }
  Cache(const Cache&) = delete;
  Cache& operator=(const Cache&) = delete;
  affineSampleCache** handle() { return &cache_; }

 private:
  affineSampleCache* cache_ = nullptr;
};

// The library's refusals in the words of the command line.
void checkProjection(int32_t status, const ProfileRequest& request, const std::string& name) {
  if (status == KIP_ERR_PROJECT_CLIPS) {
    fail("the rectangle reaches outside " + name + " (" + modeName(request.mode) + " samples need the pels around them)",
         "Give --clip to count samples outside as 0, or a rectangle inside the image");
  }
  if (status == KIP_ERR_PROJECT_NO_OVERLAP) {
    fail("the rectangle lies wholly outside " + name, "Give a rectangle that overlaps the image");
  }
  if (status == KIP_ERR_SOURCE_TOO_LARGE) {
    fail(name + " is 32768 pels or more across, too large for " + modeName(request.mode) + " sampling",
         "Use --mode nearest or bilinear on 8-bit images, or a smaller image");
  }
  checkStatus(status, "projecting " + name);
}

std::vector<uint32_t> entriesOf(const Image& vector) {
  const uint32_t* first = vector.row<uint32_t>(0);
  return {first, first + vector.width()};
}

std::string number(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.3f", value);
  std::string s = text;
  s.erase(s.find_last_not_of('0') + 1);
  if (s.back() == '.') s.pop_back();
  return s;
}

}  // namespace

Profile projectPicture(const Picture& picture, const ProfileRequest& request, const std::string& name) {
  const bool wide = picture.bitDepth == 16;
  if (wide && request.mode != KIP_SAMPLE_NEAREST && request.mode != KIP_SAMPLE_BILINEAR) {
    fail(name + " has 16-bit samples, which are projected with nearest or bilinear sampling only",
         "Give --mode nearest or --mode bilinear");
  }
  affineSampleParams params{};
  checkStatus(kip_affineSampleParams_init(&params, request.mode, &request.rect, request.xCount, request.yCount),
              "setting up the sampling");
  Cache cache;
  Profile profile;
  for (const Image& channel : picture.channels) {
    ChannelProfile out;
    Image sums;
    if (request.clip) {
      Image coverage;
      uint32_t count = 0, willClip = 0;
      checkProjection((wide ? kip_affineProjectClipped16 : kip_affineProjectClipped)(
                          channel.get(), sums.get(), coverage.get(), &params, cache.handle(), kCoverageValue, &count,
                          &willClip),
                      request, name);
      profile.clipped = willClip != 0;
      profile.sampleCount = count;
      // A sampling inside the picture leaves the coverage alone: every sample fell inside.
      profile.coverage = profile.clipped ? entriesOf(coverage)
                                         : std::vector<uint32_t>(request.xCount, kCoverageValue * uint32_t(request.yCount));
    } else {
      checkProjection((wide ? kip_affineProject16 : kip_affineProject)(channel.get(), sums.get(), &params,
                                                                        cache.handle(), &profile.sampleCount),
                      request, name);
    }
    out.sums = entriesOf(sums);

    if (request.norm) {
      Image normalised;
      uint32_t count = 0, start = 0, end = 0;
      checkProjection((wide ? kip_affineProjectNorm16 : kip_affineProjectNorm)(channel.get(), normalised.get(), &params,
                                                                                request.clip, cache.handle(), &count,
                                                                                &start, &end),
                      request, name);
      const std::vector<uint32_t> values = entriesOf(normalised);
      out.means.assign(values.size(), std::numeric_limits<double>::quiet_NaN());
      // An empty range leaves the count unwritten (0 here) and no entry to divide.
      for (uint32_t i = start; i < end && count != 0; ++i) out.means[i] = static_cast<double>(values[i]) / count;
      profile.validStart = start;
      profile.validEnd = end;
    }
    profile.channels.push_back(std::move(out));
  }
  return profile;
}

std::string profileCsv(const Picture& picture, const Profile& profile, const ProfileRequest& request) {
  const bool several = profile.channels.size() > 1;
  auto columns = [&](const std::string& what) {
    std::string text;
    for (size_t c = 0; c < profile.channels.size(); ++c) {
      text += "," + what + (several ? "_" + std::string(channelName(picture.layout, static_cast<int>(c))) : "");
    }
    return text;
  };
  std::string text = "index" + columns("sum");
  if (request.clip) text += ",coverage";
  if (request.norm) text += columns("mean") + ",valid";
  text += "\n";
  for (int32_t i = 0; i < request.xCount; ++i) {
    text += std::to_string(i);
    for (const ChannelProfile& channel : profile.channels) text += "," + std::to_string(channel.sums[i]);
    if (request.clip) text += "," + std::to_string(profile.coverage[i]);
    if (request.norm) {
      const bool valid = static_cast<uint32_t>(i) >= profile.validStart && static_cast<uint32_t>(i) < profile.validEnd;
      for (const ChannelProfile& channel : profile.channels) {
        text += "," + (std::isfinite(channel.means[i]) ? number(channel.means[i]) : std::string());
      }
      text += valid ? ",1" : ",0";
    }
    text += "\n";
  }
  return text;
}

void plotProfile(const std::string& path, const Picture& picture, const ProfileRequest& request,
                 const Profile& profile, const std::string& title) {
  ProfilePlot plot;
  plot.imageWidth = picture.width();
  plot.imageHeight = picture.height();
  plot.imageRgb = rgbPreview(picture);
  plot.rect = request.rect;
  plot.title = title;
  plot.xLabel = "entry along the x side";
  plot.yLabel = request.norm       ? "mean"
                : profile.clipped ? "sum, samples outside as 0"
                                  : "sum of " + std::to_string(profile.sampleCount) + " samples";
  for (size_t c = 0; c < profile.channels.size(); ++c) {
    const ChannelProfile& channel = profile.channels[c];
    PlotSeries series{std::string(channelName(picture.layout, static_cast<int>(c))), {}};
    if (request.norm) {
      series.values = channel.means;
    } else {
      series.values.assign(channel.sums.begin(), channel.sums.end());
    }
    plot.series.push_back(std::move(series));
  }
  writeProfilePlot(path, plot);
}

}  // namespace kiptool
