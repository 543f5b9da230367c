/*
 * kip: affine resampling and projections of 8-bit and 16-bit grayscale images.
 *
 * One header, plain C99, usable from C and C++. Every function returns a signed 32-bit status:
 * 0 is success, a negative value a failure (the KIP_ERR_ codes below or a code passed up from a
 * lower layer). Out-parameters are written only on success. No function throws, and none keeps an
 * address it was given after it returns.
 *
 * Coordinate systems, named once:
 *  - pel grid: an image's own integer lattice. Pel (i, j) covers [i, i + 1) x [j, j + 1); the
 *    first stored pel of an image sits at its (xOrigin, yOrigin).
 *  - window coordinates: a window is a rectangle of an image's pel grid; its (xOrigin, yOrigin)
 *    is its top-left pel in that grid, and every rectangle handed to the window functions is in
 *    that grid too, never relative to the window.
 *  - client coordinates: the caller's own frame. An image's linear image-from-client transform
 *    maps client coordinates to pel-grid coordinates (identity by default).
 */
#ifndef KIP_KIP_H
#define KIP_KIP_H

#include <stddef.h>
#include <stdint.h>

/* Version of this header and of the library it came with. */
#define KIP_VERSION_MAJOR 0
#define KIP_VERSION_MINOR 1
#define KIP_VERSION_PATCH 0

#ifdef __cplusplus
extern "C" {
#endif

#if defined(KIP_BUILDING)
#define KIP_API __attribute__((visibility("default")))
#else
#define KIP_API
#endif

/* ---------------------------------------------------------------------------------------------
 * Status codes
 * ------------------------------------------------------------------------------------------- */

#define KIP_OK 0

/* An optimized routine was forbidden or declined. Internal signal only: no exported function
 * returns it (nor any status whose low 16 bits lie in 0x600..0x61F). */
#define KIP_ERR_NOT_AVAILABLE ((int32_t)0x80000601)
/* Projection: the source image is not bound. */
#define KIP_ERR_PROJECT_UNBOUND ((int32_t)0x80000782)
/* Projection without clipping: the sampling reaches outside the source. */
#define KIP_ERR_PROJECT_CLIPS ((int32_t)0x80000783)
/* Clipped projection: the padded source and the source have no pel in common. */
#define KIP_ERR_PROJECT_NO_OVERLAP ((int32_t)0x80000784)
/* Transform: the source image is not bound. */
#define KIP_ERR_TRANSFORM_UNBOUND ((int32_t)0x80000786)
/* Transform without clipping: the sampling reaches outside the source. */
#define KIP_ERR_TRANSFORM_CLIPS ((int32_t)0x80000787)
/* Clipped transform: the sampling touches no source pel. */
#define KIP_ERR_TRANSFORM_NO_OVERLAP ((int32_t)0x80000788)
/* The sample parameters ask for an x count or a y count below 1. */
#define KIP_ERR_NO_SAMPLES ((int32_t)0x8000078A)
/* Row stride or height of 32768 pels or more where 16.16 fixed-point sampling is needed. */
#define KIP_ERR_SOURCE_TOO_LARGE ((int32_t)0x8000078B)
/* A sample mode the called path does not offer (16-bit projections in modes 2 and 3, any mode
 * above 3 on the table-driven path). */
#define KIP_ERR_MODE_UNSUPPORTED ((int32_t)0x8000078C)

/* Codes of kip's own lower layers and argument checks (0x80000900 and up). */
/* A pointer that must not be null is null. */
#define KIP_ERR_NULL_POINTER ((int32_t)0x80000901)
/* An image or window has a pel size this function does not take. */
#define KIP_ERR_PEL_SIZE ((int32_t)0x80000902)
/* Memory could not be allocated. */
#define KIP_ERR_OUT_OF_MEMORY ((int32_t)0x80000903)
/* A width, height, stride or length is negative, or the bytes it spans do not fit the address
 * space; or a window's pel pointer is null while it has pels. */
#define KIP_ERR_BAD_SIZE ((int32_t)0x80000904)
/* The operation needs pels and the image has none (it is unbound). */
#define KIP_ERR_NOT_BOUND ((int32_t)0x80000905)
/* A rectangle asked of a window lies partly or wholly outside it (and no flag was given to
 * report the clipping). */
#define KIP_ERR_OUTSIDE_WINDOW ((int32_t)0x80000906)
/* Source and destination pels share memory. */
#define KIP_ERR_MEMORY_OVERLAP ((int32_t)0x80000907)
/* A transform that must be inverted is singular. */
#define KIP_ERR_SINGULAR ((int32_t)0x80000908)
/* A coordinate, transform element or rectangle holds NaN or an infinity, or a computation on it
 * left the finite range. */
#define KIP_ERR_NOT_FINITE ((int32_t)0x80000909)
/* A finite value is too large to become the integer the operation needs. */
#define KIP_ERR_OUT_OF_RANGE ((int32_t)0x8000090A)
/* A destination is too small for the result (its first row has too few pels). */
#define KIP_ERR_DEST_TOO_SMALL ((int32_t)0x8000090B)
/* A job of the thread group failed in a way that carried no status of its own. */
#define KIP_ERR_JOB_FAILED ((int32_t)0x8000090C)
/* An unexpected failure inside kip that carried no status (a defect: please report it). */
#define KIP_ERR_INTERNAL ((int32_t)0x8000090D)
/* Two windows' sizes do not fit together as the operation needs (the aligned transforms: equal
 * sizes, or width and height exchanged for the transposing codes). */
#define KIP_ERR_SIZE_MISMATCH ((int32_t)0x8000090E)

/* Name of a status ("KIP_ERR_NO_SAMPLES"; "KIP_OK" for any non-negative status, "KIP_ERR_UNKNOWN" for
 * a failure kip does not know) and a one-line meaning. The strings are static. */
KIP_API const char* kip_statusName(int32_t status);
KIP_API const char* kip_statusMessage(int32_t status);

/* ---------------------------------------------------------------------------------------------
 * Records
 * ------------------------------------------------------------------------------------------- */

/* Linear (affine) transform: maps (x, y) to (e0 x + e1 y + tx, e2 x + e3 y + ty). */
typedef struct kmath_xformLinear {
  double tx, ty, e0, e1, e2, e3;
} kmath_xformLinear;

/* Affine rectangle: the map of the unit square onto it, laid out as a kmath_xformLinear.
 * (tx, ty) is its origin corner, (e0, e2) its x side, (e1, e3) its y side. */
typedef struct kmath_shapeAffineRect {
  double tx, ty, e0, e1, e2, e3;
} kmath_shapeAffineRect;

/* Rectangle of whole pels. */
typedef struct kstd_rect32 {
  int32_t x, y, width, height;
} kstd_rect32;

/* Growable vector of 32-bit values. Construct before use, destruct when done. */
typedef struct kstd_vector32 {
  uint32_t* begin;  /* first entry, null while empty and never grown */
  int32_t size;     /* entries in use */
  int32_t capacity; /* entries allocated */
} kstd_vector32;

typedef struct kimg_storage kimg_storage; /* reference-counted pel storage, private */

/* Image. width, height, xOrigin and yOrigin may be read, and the origins set, directly; read the
 * pels through a window (kimg_window_init). The other fields belong to the image functions. */
typedef struct kimg_image {
  int32_t width;
  int32_t height;
  int32_t xOrigin; /* pel-grid x of the first stored pel */
  int32_t yOrigin; /* pel-grid y of the first stored pel */
  int32_t pelSize; /* bytes per pel: 1, 2 or 4; 0 while unbound */
  int32_t stride;  /* pels from one row to the next */
  void* firstPel;
  kimg_storage* storage;
  kmath_xformLinear imageFromClient;
} kimg_image;

/* Window: a plain record, copied by value, over a rectangle of an image's pels.
 * Byte address of window pel (x, y) = firstPel + pelSize * (y * stride + x). */
typedef struct kimg_window {
  int32_t width;
  int32_t height;
  int32_t xOrigin; /* pel-grid position of the window's first pel */
  int32_t yOrigin;
  int32_t reserved0;
  int32_t bandOffset; /* 0 in every window the image functions make */
  int32_t reserved1;
  int32_t reserved2;
  int32_t stride; /* pels from one row to the next */
  void* firstPel;
  int32_t pelSize; /* bytes per pel: 1, 2 or 4 */
} kimg_window;

/* ---------------------------------------------------------------------------------------------
 * Images
 * ------------------------------------------------------------------------------------------- */

/* Makes an image of width x height pels of pelSize bytes (1, 2 or 4), zero-filled, at origin
 * (0, 0), with the identity client transform. A width or height of 0 gives a bound image with no
 * pels. The record is overwritten without being released. */
KIP_API int32_t kimg_image_construct(kimg_image* image, int32_t pelSize, int32_t width, int32_t height);
/* Makes an unbound image (no storage, 0 x 0, origin (0, 0), identity transform). */
KIP_API int32_t kimg_image_constructUnbound(kimg_image* image);
/* Releases the image's share of its storage and leaves it unbound. Null is accepted. */
KIP_API int32_t kimg_image_destruct(kimg_image* image);
/* Binds the image to new zero-filled storage, releasing what it held; origin becomes (0, 0). */
KIP_API int32_t kimg_image_assignNew(kimg_image* image, int32_t pelSize, int32_t width, int32_t height);
/* Binds the image to pels the caller owns, without copying: stride is in pels (>= width). The
 * memory must stay valid while this image, or any image sharing its storage, is bound. */
KIP_API int32_t kimg_image_bindExternal(kimg_image* image, void* pels, int32_t pelSize, int32_t width,
                                        int32_t height, int32_t stride);
/* Makes destination share source's storage and copies its extent, origin and client transform.
 * Assigning an unbound source leaves the destination unbound. */
KIP_API int32_t kimg_image_assign(kimg_image* destination, const kimg_image* source);
/* Releases the storage; extent, origin and transform are kept. */
KIP_API int32_t kimg_image_setUnbound(kimg_image* image);
KIP_API int32_t kimg_image_getIsBound(kimg_image* image, int32_t* isBound);
KIP_API int32_t kimg_imageConst_getIsBound(const kimg_image* image, int32_t* isBound);
KIP_API int32_t kimg_imageConst_getLinearImageFromClientXform(const kimg_image* image, kmath_xformLinear* xform);
KIP_API int32_t kimg_image_setLinearImageFromClientXform(kimg_image* image, const kmath_xformLinear* xform);
/* Gives destination the client transform of source. */
KIP_API int32_t kimg_image_copyXforms(kimg_image* destination, const kimg_image* source);
/* Common rectangle of two images' extents in the pel grid; *isEmpty nonzero when there is none
 * (the rectangle is then not written). */
KIP_API int32_t kimg_imageConst_gcr(const kimg_image* a, const kimg_image* b, kstd_rect32* common, int32_t* isEmpty);

/* ---------------------------------------------------------------------------------------------
 * Windows
 * ------------------------------------------------------------------------------------------- */

/* Window over the whole of a bound image (KIP_ERR_NOT_BOUND otherwise). */
KIP_API int32_t kimg_window_init(kimg_window* window, kimg_image* image);
KIP_API int32_t kimg_windowConst_init(kimg_window* window, const kimg_image* image);
/* Empty window with no pels (all fields 0), for the caller to describe storage of its own. */
KIP_API int32_t kimg_window_initUnbound(kimg_window* window);
/* Narrows a window in place to the rectangle (x, y, width, height) of the pel grid. With a flag
 * the window becomes the common part and *clipped says whether the rectangle reached outside; with
 * a null flag such a rectangle is refused (KIP_ERR_OUTSIDE_WINDOW) and the window is unchanged. */
KIP_API int32_t kimg_window_window(kimg_window* window, int32_t x, int32_t y, int32_t width, int32_t height,
                                   int32_t* clipped);
KIP_API int32_t kimg_windowConst_window(kimg_window* window, int32_t x, int32_t y, int32_t width, int32_t height,
                                        int32_t* clipped);
KIP_API int32_t kimg_window_windowRect(kimg_window* window, const kstd_rect32* rect, int32_t* clipped);
/* Window over a rectangle of a bound image, as kimg_window_init then kimg_window_windowRect. */
KIP_API int32_t kimg_window_initWindow(kimg_window* window, kimg_image* image, const kstd_rect32* rect,
                                       int32_t* clipped);
/* Common rectangle of two windows in the pel grid; *isEmpty nonzero when there is none. */
KIP_API int32_t kimg_windowConst_gcr(const kimg_window* a, const kimg_window* b, kstd_rect32* common,
                                     int32_t* isEmpty);

/* ---------------------------------------------------------------------------------------------
 * Pels. Copies match pels by pel-grid coordinates and copy the common part of the two extents;
 * no common part copies nothing and succeeds. Pel sizes must match the function.
 * ------------------------------------------------------------------------------------------- */

KIP_API int32_t kip_pelSet8(kimg_image* image, uint8_t value);
KIP_API int32_t kip_pelSet16(kimg_image* image, uint16_t value);
KIP_API int32_t kip_pelSetWindow8(kimg_window* window, uint8_t value);
KIP_API int32_t kip_pelSetWindow16(kimg_window* window, uint16_t value);
KIP_API int32_t kip_pelCopy8(const kimg_image* source, kimg_image* destination);
KIP_API int32_t kip_pelCopy16(const kimg_image* source, kimg_image* destination);
KIP_API int32_t kip_pelCopyWindow8(const kimg_window* source, kimg_window* destination);
KIP_API int32_t kip_pelCopyWindow16(const kimg_window* source, kimg_window* destination);
KIP_API int32_t kip_pelCopyWindow32(const kimg_window* source, kimg_window* destination);

/* ---------------------------------------------------------------------------------------------
 * Rectangles and vectors
 * ------------------------------------------------------------------------------------------- */

KIP_API int32_t kstd_rect32_init(kstd_rect32* rect, int32_t x, int32_t y, int32_t width, int32_t height);
/* *result is 0 when the rectangles are equal, nonzero otherwise. */
KIP_API int32_t kstd_rect32_compare(const kstd_rect32* a, const kstd_rect32* b, int32_t* result);
KIP_API int32_t kstd_vector32_construct(kstd_vector32* vector);
KIP_API int32_t kstd_vector32_destruct(kstd_vector32* vector);
/* Sets the number of entries; new entries are 0. On failure the vector is unchanged. */
KIP_API int32_t kstd_vector32_resize(kstd_vector32* vector, int32_t length);
KIP_API int32_t kstd_vector32_getBegin(kstd_vector32* vector, uint32_t** first);

/* ---------------------------------------------------------------------------------------------
 * Application hooks
 * ------------------------------------------------------------------------------------------- */

/* Optimization hook: null, or a function that answers nonzero for the name of an optimized routine
 * that must not run; kip then computes the same result with its portable code. It is read afresh at
 * every use, with an atomic load (store it atomically to change it while kip runs, as with C11's
 * atomic_store or __atomic_store_n), and may be called from several threads at once. Names asked: "kip_affineProcess",
 * "kip_affineProcess16", "kf_projection_vertical8_core" (row sums), "kf_projection_horizontal8_core"
 * (column sums), "kip_affineTransformTileBilinearAccurate16Portable". */
typedef int32_t (*kprt_optimizationHook)(const char* routineName);
KIP_API extern kprt_optimizationHook kprt_isOptimizationInhibitedFP;

/* Attention (cancellation) handler: long operations call it at fixed points; a negative answer ends
 * the operation with that status. Null removes it. Must be safe to call from any thread. */
typedef int32_t (*ksys_attentionHandler)(void* context);
KIP_API int32_t ksys_attention_setHandler(ksys_attentionHandler handler, void* context);

/* ---------------------------------------------------------------------------------------------
 * Projection sums of 8-bit images: one unsigned 32-bit sum per row (Horizontal) or per column
 * (Vertical), added with wrap-around modulo 2^32. pelCount, when not null, receives the number of
 * pels in each sum. An unbound destination image is bound to a length x 1 image of 32-bit pels; a
 * bound one, or a destination window, must have 32-bit pels and room for length of them in its
 * first row. A vector is resized to length.
 * ------------------------------------------------------------------------------------------- */

KIP_API int32_t kip_projectHorizontal8(const kimg_image* source, kimg_image* destination, uint32_t* pelCount);
KIP_API int32_t kip_projectVertical8(const kimg_image* source, kimg_image* destination, uint32_t* pelCount);
KIP_API int32_t kip_projectHorizontalWindow8(const kimg_window* source, kimg_window* destination, uint32_t* pelCount);
KIP_API int32_t kip_projectVerticalWindow8(const kimg_window* source, kimg_window* destination, uint32_t* pelCount);
KIP_API int32_t kip_projectHorizontalVector8(const kimg_image* source, kstd_vector32* vector, uint32_t* pelCount);
KIP_API int32_t kip_projectVerticalVector8(const kimg_image* source, kstd_vector32* vector, uint32_t* pelCount);
KIP_API int32_t kip_projectHorizontalVectorWindow8(const kimg_window* source, kstd_vector32* vector,
                                                   uint32_t* pelCount);
KIP_API int32_t kip_projectVerticalVectorWindow8(const kimg_window* source, kstd_vector32* vector,
                                                 uint32_t* pelCount);

/* ---------------------------------------------------------------------------------------------
 * Sample parameters and sampling geometry
 *
 * A sampling takes an affine rectangle of the source's client coordinates (the map of the unit
 * square onto it), divides it into xCount x yCount samples and reads each at its centre:
 * destination pel (i, j) is sampled at the rectangle's point ((i + 0.5) / xCount, (j + 0.5) /
 * yCount). The rectangle's origin corner is where destination pel (0, 0) begins; its x side runs
 * along the destination's rows, its y side down its columns.
 *
 * Bad input, for every function of this section: a null pointer gives KIP_ERR_NULL_POINTER; a NaN
 * or infinity in the rectangle or a transform gives KIP_ERR_NOT_FINITE (so does a computation that
 * overflows a double); a window record that does not describe pels gives the status of the window
 * check (KIP_ERR_BAD_SIZE, ...). A failure writes no output, except that the clip tests set
 * *willClip to 1 before their geometry is computed and leave it so when that computation fails.
 * ------------------------------------------------------------------------------------------- */

/* Sample modes. */
#define KIP_SAMPLE_NEAREST 0u   /* nearest neighbour */
#define KIP_SAMPLE_BILINEAR 1u  /* bilinear */
#define KIP_SAMPLE_LINEAR2 2u   /* two-pass linear */
#define KIP_SAMPLE_CUBIC2 3u    /* two-pass cubic */

/* Alignment codes: an exact axis-aligned map is a copy (0), a turn by 90, 180 or 270 degrees, or
 * one of these with a mirror (1, 91, 181, 271); every other map is general. */
#define KIP_ALIGNMENT_GENERAL 0xFFFFFFFFu

typedef struct affineSampleParams {
  kmath_shapeAffineRect affineRect; /* sampled region, in the source's client coordinates */
  uint32_t sampleMode;              /* KIP_SAMPLE_... */
  int32_t xCount;                   /* samples along the x side: destination width */
  int32_t yCount;                   /* samples along the y side: destination height */
} affineSampleParams;

/* Stores the values unchanged; nothing is tested (counts below 1 and modes above 3 are stored too,
 * and refused later by the functions that need them). */
KIP_API int32_t kip_affineSampleParams_init(affineSampleParams* params, uint32_t sampleMode,
                                            const kmath_shapeAffineRect* affineRect, int32_t xCount, int32_t yCount);
/* Bilinear sampling at the resolution of the space xform maps into (null: client units): the
 * counts are the rounded side lengths of the rectangle mapped by xform; the rectangle is stored
 * unmapped. KIP_ERR_OUT_OF_RANGE when a rounded length does not fit 32 bits. */
KIP_API int32_t kip_affineSampleParams_initRectStandard(affineSampleParams* params,
                                                        const kmath_shapeAffineRect* affineRect,
                                                        const kmath_xformLinear* xform);
/* The destination's image-from-client transform: maps the rectangle onto the destination's pel
 * grid ((0, 0) to (xCount, yCount)), or onto a one-row grid when forProjection is nonzero.
 * KIP_ERR_NO_SAMPLES when xCount, or yCount without forProjection, is below 1; KIP_ERR_SINGULAR
 * when the rectangle has no area. */
KIP_API int32_t kip_affineSampleParams_getDestImageFromClientXform(const affineSampleParams* params,
                                                                   int32_t forProjection, kmath_xformLinear* out);
/* Whether the map from destination to source pels is an exact axis-aligned copy, turn or mirror:
 * one destination pel per source pel, the origin corner on whole pel-grid coordinates and every
 * matrix element either 0 or of the right sign, each within 1e-12. On success writes the code, and
 * for an aligned map and a non-null window the source pels it lands on (xCount x yCount, exchanged
 * for the turns by 90 and 270 and their mirrors 1 and 181). A general map is no error.
 * KIP_ERR_NO_SAMPLES for counts below 1. */
KIP_API int32_t kip_affine_imageAlignment_compute(const affineSampleParams* params,
                                                  const kmath_xformLinear* imageFromClient, uint32_t* alignmentCode,
                                                  kstd_rect32* window);
/* *willClip = 1 when some sample, with the reach of its sample mode, needs pels outside the window
 * (or image); 0 when all stay inside. Reach around a sample position: nearest 0 (the pel holding
 * it), bilinear 0.5 (strictly inside the far edge), two-pass linear 1.5, two-pass cubic 2.5 pels;
 * an aligned map is a copy and has reach 0 in every mode. Positions are tested as the 16.16 values
 * the samplers use, so a sample may lie up to 1.5/65536 pel beyond a bound, and a nearest sample
 * exactly on the far edge passes (the samplers clamp it to the last pel).
 * KIP_ERR_NO_SAMPLES for counts below 1. A window whose stride or height exceeds 32767 pels is
 * tested in double precision for nearest and bilinear, and refused with KIP_ERR_SOURCE_TOO_LARGE
 * for the two-pass modes. */
KIP_API int32_t kip_affineSampleParams_getWillClipWindow(const affineSampleParams* params, const kimg_window* window,
                                                         const kmath_xformLinear* imageFromClient, uint32_t* willClip);
/* The same for the whole of a bound image (KIP_ERR_NOT_BOUND otherwise), with its own transform. */
KIP_API int32_t kip_affineSampleParams_getWillClip(const affineSampleParams* params, const kimg_image* image,
                                                   uint32_t* willClip);
/* The source pels a sampling can reach, with a margin of 6 pels around its corner sample centres
 * that covers every sample mode: a rectangle of the pel grid. The window must be valid but does not
 * enter the result. KIP_ERR_NO_SAMPLES for counts below 1; KIP_ERR_OUT_OF_RANGE when the
 * rectangle's edges or size do not fit 32 bits. */
KIP_API int32_t kip_affineSampleParams_getMaxSrcRectWindow(const affineSampleParams* params, const kimg_window* window,
                                                           const kmath_xformLinear* imageFromClient, kstd_rect32* rect);
KIP_API int32_t kip_affineSampleParams_getMaxSrcRect(const affineSampleParams* params, const kimg_image* image,
                                                     kstd_rect32* rect);

/* ---------------------------------------------------------------------------------------------
 * Aligned fast path: copies the source window into the destination window turned and mirrored as
 * the alignment code says (an unknown code copies). Destination pel (row i, column j) is source pel
 * (row, column), with w x h the source's width and height:
 *   0: (i, j)              1: (j, i)              90: (j, w-1-i)
 *  91: (i, w-1-j)        180: (h-1-i, w-1-j)     181: (h-1-j, w-1-i)
 * 270: (h-1-j, i)        271: (h-1-i, j)
 * As displayed (rows running down), code 90 turns the picture a quarter turn counter-clockwise and
 * 270 clockwise. The windows' sizes must match the code: equal for 0, 91, 180 and 271, width and
 * height exchanged for 1, 90, 181 and 270 (KIP_ERR_SIZE_MISMATCH otherwise). Pel sizes must be 1
 * for kip_affineTransformAligned and 2 for kip_affineTransformAligned16 (KIP_ERR_PEL_SIZE).
 * In place: two windows with the same first pel and the same stride are worked in place for every
 * code, but for the transposing codes (1, 90, 181, 270) only when square. Any other sharing of
 * memory between source and destination is refused with KIP_ERR_MEMORY_OVERLAP. A refused call
 * writes nothing.
 * ------------------------------------------------------------------------------------------- */

KIP_API int32_t kip_affineTransformAligned(const kimg_window* source, kimg_window* destination, uint32_t alignmentCode);
KIP_API int32_t kip_affineTransformAligned16(const kimg_window* source, kimg_window* destination,
                                             uint32_t alignmentCode);

/* ---------------------------------------------------------------------------------------------
 * Sample cache: keeps the set-up of the last sampling (destination transform, alignment, the
 * tables of the two-pass modes) so that repeated calls with the same geometry skip it. One cache
 * serves one call at a time. Calls take the address of the handle, or null for no cache.
 * ------------------------------------------------------------------------------------------- */

typedef struct affineSampleCache affineSampleCache;

/* Sets *handle to a new empty cache (to null first, and left null on failure). */
KIP_API int32_t kip_affineSampleCache_construct(affineSampleCache** handle);
/* Releases the cache and sets *handle to null; a null handle (or handle address) does nothing. */
KIP_API int32_t kip_affineSampleCache_destruct(affineSampleCache** handle);

/* Builds the process-wide table of cubic weights now rather than at the first two-pass cubic
 * sampling. Optional; safe from any thread. */
KIP_API int32_t kip_affineTransform_setup(void);

/* ---------------------------------------------------------------------------------------------
 * Affine transforms: the source sampled under the sample parameters into a destination image of
 * xCount x yCount pels.
 *
 * Conventions. Destination pel (i, j) is the sample at the rectangle's point ((i + 0.5) / xCount,
 * (j + 0.5) / yCount), taken to the source's pel grid by the source's image-from-client
 * transform. In the source's pel grid, pel (x, y) covers [x, x + 1) x [y, y + 1) and its value
 * stands at its centre (x + 0.5, y + 0.5): nearest sampling takes the pel that holds the point,
 * the interpolating modes weigh the pels whose centres surround it. Afterwards the destination's
 * image-from-client transform maps the rectangle onto its pels (0, 0) to (xCount, yCount), so
 * that every destination pel lies, in client coordinates, where it was sampled.
 *
 * Destination. An unbound destination receives new storage of xCount x yCount pels at origin
 * (0, 0). A bound one must have 1-byte pels (2-byte for the 16-bit functions), else the call is
 * refused with KIP_ERR_PEL_SIZE; when it is at origin (0, 0) and at least xCount x yCount, the
 * result is written into its top-left xCount x yCount pels and nothing else changes; otherwise the
 * result is made apart and copied into it by pel-grid coordinates (only the pels its extent
 * shares with (0, 0) to (xCount, yCount) change). Its client transform is set in every case.
 *
 * An exact axis-aligned map (see kip_affine_imageAlignment_compute) is a copy, turn or mirror of
 * source pels, whatever the sample mode. Any other map is sampled by the SIMD code of the
 * processor; an optimization hook that forbids "kip_affineProcess" selects the portable code
 * instead, which can change some pels. Its 8-bit bilinear sampling steps and rounds its 16.16
 * positions over other tiles: on smooth images one or two pels in a hundred differ, by one level;
 * on noise-like detail, where a pel's neighbours differ by most of the range, more pels differ, by
 * up to three levels. With nearest sampling and a count above 1024 a sample on a pel border can
 * take the neighbouring pel, for the same reason. Its 8-bit two-pass cubic sampling rounds the
 * values of its first pass down where the portable code rounds toward zero: beside a sharp
 * dark-to-bright edge a pel can be one level apart. Either way the results do not depend on the
 * instruction set or the number of threads.
 *
 * Cache: the address of a handle from kip_affineSampleCache_construct, or null for none.
 *
 * Status, for every function of this section: KIP_ERR_NULL_POINTER for a null source,
 * destination, parameters or willClip, or a cache address that holds a null handle;
 * KIP_ERR_TRANSFORM_UNBOUND for an unbound source; KIP_ERR_PEL_SIZE for a source, bound
 * destination or bound clip mask of the wrong pel size; KIP_ERR_MEMORY_OVERLAP when source and
 * bound destination (or clip mask) share memory; the sample-parameter statuses of the geometry
 * functions (KIP_ERR_NO_SAMPLES, KIP_ERR_NOT_FINITE, ...); KIP_ERR_SOURCE_TOO_LARGE for a source
 * of 32768 pels or more across where 16.16 sampling is needed; KIP_ERR_OUT_OF_MEMORY. A refused
 * call writes nothing. A failure after sampling has begun can leave a destination that was
 * written in place partly written, with its old client transform.
 * ------------------------------------------------------------------------------------------- */

/* KIP_ERR_TRANSFORM_CLIPS when some sample needs pels outside the source (see
 * kip_affineSampleParams_getWillClip); kip_affineTransformClipped takes such samplings. */
KIP_API int32_t kip_affineTransform(const kimg_image* source, kimg_image* destination,
                                    const affineSampleParams* params, affineSampleCache** cache);
KIP_API int32_t kip_affineTransform16(const kimg_image* source, kimg_image* destination,
                                      const affineSampleParams* params, affineSampleCache** cache);
/* kip_affineTransform(source, destination, params, NULL). */
KIP_API int32_t kip_affine8(const affineSampleParams* params, const kimg_image* source, kimg_image* destination);

/* Clipped transforms: samplings that may reach outside the source, whose pels there count as 0
 * (interpolating modes blend toward 0 across the source's edge). *willClip receives 1 when the
 * sampling reaches outside the source, 0 when it does not; it is written on success only.
 * When the sampling stays inside, the call is kip_affineTransform (16) and the mask is not
 * touched. Otherwise clipMask, when not null, receives an 8-bit image of xCount x yCount pels
 * (both functions), the same sampling of an image that is 255 on the source's pels and 0 outside:
 * 255 where a destination pel came wholly from the source, 0 where wholly from outside. The
 * destination and the mask are written in place only when bound, at origin (0, 0) and exactly
 * xCount x yCount; otherwise through a temporary image that is copied into a bound one (which
 * also takes its client transform) or lent to an unbound one. Destination and clip mask must be
 * different images that do not share memory with each other or the source
 * (KIP_ERR_MEMORY_OVERLAP). KIP_ERR_TRANSFORM_NO_OVERLAP when the sampling touches no source pel:
 * the destination has then been written (all 0) and the mask is not touched. The attention
 * handler is asked once before sampling; a negative answer ends the call with that status. */
KIP_API int32_t kip_affineTransformClipped(const kimg_image* source, kimg_image* destination, kimg_image* clipMask,
                                           const affineSampleParams* params, affineSampleCache** cache,
                                           uint32_t* willClip);
KIP_API int32_t kip_affineTransformClipped16(const kimg_image* source, kimg_image* destination,
                                             kimg_image* clipMask, const affineSampleParams* params,
                                             affineSampleCache** cache, uint32_t* willClip);

/* ---------------------------------------------------------------------------------------------
 * Affine projections: the sampling of the sample parameters (see "Sample parameters and sampling
 * geometry"), with each destination column added into one unsigned 32-bit entry (wrap-around
 * modulo 2^32) instead of stored: a profile of xCount entries along the rectangle's x side, each the
 * sum of yCount samples. An axis-aligned map (an exact copy, turn or mirror) is summed straight from
 * the source rows or columns.
 *
 * Vectors: entry i belongs at pel-grid x = i, y = 0 of the destination. A destination window is
 * written in place when it starts at (0, 0) and holds xCount pels in its first row; otherwise the
 * entries are made aside and copied in by pel-grid place (kip_pelCopyWindow32), so a window at
 * (5, 0) receives entries 5 onward and a narrower one the entries it covers. An unbound destination
 * (or coverage) image is bound to a new xCount x 1 image of 32-bit pels and receives the
 * projection's client transform (x scale from xCount, y scale 1); a bound one keeps its storage.
 * Destination and coverage pels must be 32-bit (KIP_ERR_PEL_SIZE otherwise).
 *
 * Clipped projections take samplings that leave the source: samples outside it count as 0, and the
 * coverage vector receives, per entry, the same projection of an image that holds coverageValue on
 * the source's pels and 0 elsewhere (with nearest sampling: coverageValue times the number of inside
 * samples; interpolated samples that straddle the source's edge add a part of it). sampleCount is
 * then the largest coverage entry and *willClip 1. A clipped call on a sampling that stays inside is
 * the plain projection: *willClip 0, sampleCount yCount, and the coverage is not touched.
 *
 * cache: the address of a sample-cache handle, or null (a null handle too): a temporary cache
 * serves the call. sampleCount may be null for the plain projections and is required for the
 * clipped ones, as are willClip, the coverage and the window functions' destImageFromClientXform.
 *
 * Statuses: KIP_ERR_PROJECT_UNBOUND (unbound source image), KIP_ERR_PROJECT_CLIPS (a plain projection
 * whose sampling leaves the source), KIP_ERR_PROJECT_NO_OVERLAP (a clipped sampling that reaches no
 * source pel), KIP_ERR_NO_SAMPLES (a count below 1), KIP_ERR_MODE_UNSUPPORTED (16-bit sources take
 * nearest and bilinear sampling only), KIP_ERR_MEMORY_OVERLAP (source, destination and coverage
 * pels must not share memory), KIP_ERR_SOURCE_TOO_LARGE (16-bit sources, and 8-bit ones in the
 * two-pass modes, need row strides and heights below 32768), and those of the clip test and the
 * window checks. A refused call writes nothing and binds nothing; so does a call that fails later
 * (for memory, say): every step that can fail comes before a caller's pel is written, and an image
 * call unbinds again what it bound.
 * ------------------------------------------------------------------------------------------- */

KIP_API int32_t kip_affineProject(const kimg_image* source, kimg_image* destination, const affineSampleParams* params,
                                  affineSampleCache** cache, uint32_t* sampleCount);
KIP_API int32_t kip_affineProject16(const kimg_image* source, kimg_image* destination,
                                    const affineSampleParams* params, affineSampleCache** cache,
                                    uint32_t* sampleCount);
/* The source is a window of an image whose client transform is srcImageFromClientXform; the
 * projection's client transform is returned in destImageFromClientXform. */
KIP_API int32_t kip_affineProjectWindow(const kimg_window* source, const kmath_xformLinear* srcImageFromClientXform,
                                        kimg_window* destination, const affineSampleParams* params,
                                        affineSampleCache** cache, kmath_xformLinear* destImageFromClientXform,
                                        uint32_t* sampleCount);
KIP_API int32_t kip_affineProjectWindow16(const kimg_window* source, const kmath_xformLinear* srcImageFromClientXform,
                                          kimg_window* destination, const affineSampleParams* params,
                                          affineSampleCache** cache, kmath_xformLinear* destImageFromClientXform,
                                          uint32_t* sampleCount);
KIP_API int32_t kip_affineProjectClipped(const kimg_image* source, kimg_image* destination, kimg_image* coverage,
                                         const affineSampleParams* params, affineSampleCache** cache,
                                         uint8_t coverageValue, uint32_t* sampleCount, uint32_t* willClip);
KIP_API int32_t kip_affineProjectClipped16(const kimg_image* source, kimg_image* destination, kimg_image* coverage,
                                           const affineSampleParams* params, affineSampleCache** cache,
                                           uint8_t coverageValue, uint32_t* sampleCount, uint32_t* willClip);
/* Here a destination or coverage window that holds entries 0 to xCount - 1 of row 0 is written in
 * place whatever its origin (a window starting left of 0 included). */
KIP_API int32_t kip_affineProjectClippedWindow(const kimg_window* source,
                                               const kmath_xformLinear* srcImageFromClientXform,
                                               kimg_window* destination, kimg_window* coverage,
                                               const affineSampleParams* params, affineSampleCache** cache,
                                               kmath_xformLinear* destImageFromClientXform, uint8_t coverageValue,
                                               uint32_t* sampleCount, uint32_t* willClip);
KIP_API int32_t kip_affineProjectClippedWindow16(const kimg_window* source,
                                                 const kmath_xformLinear* srcImageFromClientXform,
                                                 kimg_window* destination, kimg_window* coverage,
                                                 const affineSampleParams* params, affineSampleCache** cache,
                                                 kmath_xformLinear* destImageFromClientXform, uint8_t coverageValue,
                                                 uint32_t* sampleCount, uint32_t* willClip);

/* Normalised projections: the mean of entry i is entry i / *sampleCount, for i in [*validStart,
 * *validEnd), the entries the destination image holds (pel-grid x from 0 to xCount). With clipped
 * 0 the sampling must stay inside the source (KIP_ERR_PROJECT_CLIPS otherwise): raw sums, divisor
 * yCount. With clipped nonzero a sampling that leaves the source is divided here: each entry becomes
 * its sum over its own coverage, the unrounded number of source samples in it (an edge sample that
 * straddles the source counts with its fraction), rounded; *sampleCount is 1. An entry whose
 * coverage rounds to 0 holds 0, and the range leaves out such entries at either end. When no entry
 * saw the source the range is empty (*validStart = *validEnd) and *sampleCount is not written; a
 * destination that holds none of the entries gives [0, 0). Every out-parameter may be null. */
KIP_API int32_t kip_affineProjectNorm(const kimg_image* source, kimg_image* destination,
                                      const affineSampleParams* params, uint32_t clipped, affineSampleCache** cache,
                                      uint32_t* sampleCount, uint32_t* validStart, uint32_t* validEnd);
KIP_API int32_t kip_affineProjectNorm16(const kimg_image* source, kimg_image* destination,
                                        const affineSampleParams* params, uint32_t clipped, affineSampleCache** cache,
                                        uint32_t* sampleCount, uint32_t* validStart, uint32_t* validEnd);

#ifdef __cplusplus
}
#endif

#endif /* KIP_KIP_H */
