// Sampling geometry: everything computed from the sample parameters before a pel is touched.
//
// Coordinate systems, named once:
//  - unit square: (u, v) in [0, 1]^2; the sample parameters' rectangle is the map of it onto the
//    sampled region in the source's client coordinates.
//  - destination pel coordinates: destination pel (i, j) covers [i, i + 1) x [j, j + 1) and is
//    sampled at its centre (i + 0.5, j + 0.5), i.e. at unit-square ((i + 0.5) / xCount,
//    (j + 0.5) / yCount).
//  - source pel coordinates: the source image's pel grid, reached from client coordinates by the
//    image's image-from-client transform.
//
// The exported functions are declared in kip/kip.h; this header holds what the folders above
// need beyond them. Every function here checks its arguments the way the exports do.
#pragma once

#include <kip/kip.h>

#include <cstdint>

#include "frame/frame.hpp"
#include "platform/platform.hpp"

// The four corner samples (0, 0), (xCount - 1, 0), (0, yCount - 1), (xCount - 1, yCount - 1):
// their centres in source pel coordinates, in that order. Because the map is affine, they bound
// every sample position of the sampling. KIP_ERR_NO_SAMPLES for counts below 1,
// KIP_ERR_NOT_FINITE when the rectangle, the transform or a centre is not finite.
int32_t affineSampleParams_getCornerSampleCentres(const affineSampleParams* params,
                                                  const kmath_xformLinear* imageFromClient, kmath_vect centres[4]);

// The clip test in double precision, for windows whose stride or height is too large for 16.16
// positions. Same arguments, statuses and willClip rules as kip_affineSampleParams_getWillClipWindow.
int32_t affineSampleParams_getWillClipFloat(const affineSampleParams* params, const kimg_window* window,
                                            const kmath_xformLinear* imageFromClient, uint32_t* willClip);

// Bodies of the exports, callable without the export guard from inside the library.
int32_t affine_imageAlignment_computeInternal(const affineSampleParams* params,
                                              const kmath_xformLinear* imageFromClient, uint32_t* alignmentCode,
                                              kstd_rect32* window);
int32_t affineSampleParams_getWillClipWindowInternal(const affineSampleParams* params, const kimg_window* window,
                                                     const kmath_xformLinear* imageFromClient, uint32_t* willClip);

// Argument checks shared by the geometry functions.
// KIP_ERR_NO_SAMPLES when xCount or yCount is below 1.
int32_t affineSampleParams_checkCounts(const affineSampleParams& params);
// KIP_ERR_NOT_FINITE when a rectangle or transform element is NaN or infinite.
int32_t affineSampleParams_checkFinite(const kmath_shapeAffineRect& rect);
int32_t affineSampleParams_checkFinite(const kmath_xformLinear& xform);
// The image's image-from-client transform and a window over the whole image, for the exports that
// take an image rather than a window. Failures of the image functions are returned as they are.
int32_t geometry_imageWindowAndXform(const kimg_image* image, kimg_window* window, kmath_xformLinear* imageFromClient);
