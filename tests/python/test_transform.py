"""kip.transform and kip.rotate against float64 references (scipy.ndimage.map_coordinates) on smooth
images, the sense of a turn, clipping and its mask, and the errors they raise."""
import concurrent.futures

import numpy as np
import pytest

import kip
from conftest import reference, sample_points, smooth_image

# Sampling order of the reference for each mode; the two-pass linear kernels truncate in each pass
# (about one level low on average), the two-pass cubic is Keys' kernel, near the cubic spline on
# smooth images.
ORDERS = {"nearest": 0, "bilinear": 1, "linear2": 1, "cubic2": 3}
# Largest difference from the reference, in levels, 8-bit and 16-bit: a half-pel slip on these
# images costs about 4 levels (8-bit) and 1000 (16-bit).
TOLERANCE = {"nearest": (0, 0), "bilinear": (1, 2), "linear2": (2, 32), "cubic2": (1, 32)}

# Rotated, sheared, magnified and minified rectangles: ((origin, x side end, y side end), size).
# Corners are off the pel grid so that no nearest sample ties between two pels.
RECTS = [
    (((10.3, 5.1), (50.7, 15.2), (4.2, 40.9)), (37, 29)),
    (((20.13, 20.07), (60.13, 20.07), (20.13, 50.07)), (97, 71)),
    (((60.2, 8.1), (12.5, 30.3), (75.0, 40.0)), (13, 11)),
    (((40.4, 60.3), (40.4, 3.3), (3.1, 60.3)), (24, 30)),
]


def max_level(dtype):
    return 0 if dtype == np.uint8 else 1


@pytest.mark.parametrize("mode", list(ORDERS))
@pytest.mark.parametrize("rect, size", RECTS)
def test_transform_matches_the_reference(dtype, mode, rect, size):
    src = smooth_image(64, 80, dtype)
    got = kip.transform(src, rect, size, mode=mode)
    assert got.dtype == dtype and got.shape == (size[1], size[0])
    expected = reference(src, *sample_points(rect, size), ORDERS[mode])
    difference = np.abs(got - expected)
    assert difference.max() <= TOLERANCE[mode][max_level(dtype)] + 0.5
    assert difference.mean() <= (1.2 if mode == "linear2" else 0.5) * (1 if dtype == np.uint8 else 257)


def test_six_numbers_are_three_points():
    src = smooth_image(64, 80, np.uint8)
    rect, size = RECTS[0]
    flat = [value for point in rect for value in point]
    np.testing.assert_array_equal(kip.transform(src, flat, size), kip.transform(src, np.array(rect), size))


def test_whole_pel_rectangle_copies_the_pels(dtype):
    src = smooth_image(30, 40, dtype)
    got = kip.transform(src[3:], ((5, 2), (17, 2), (5, 9)), (12, 7), mode="cubic2")
    np.testing.assert_array_equal(got, src[5:12, 5:17])


@pytest.mark.parametrize("mode", ["nearest", "bilinear"])
def test_clipped_transform_blends_toward_zero(dtype, mode):
    src = smooth_image(30, 40, dtype)
    rect, size = ((-10.3, -6.2), (40.7, 8.1), (-2.2, 45.9)), (41, 37)
    got, mask = kip.transform(src, rect, size, mode=mode, clip=True)
    assert mask.dtype == np.uint8 and mask.shape == got.shape
    x, y = sample_points(rect, size)
    expected = reference(src, x, y, ORDERS[mode], mode="grid-constant")
    expected_mask = reference(np.full(src.shape, 255.0), x, y, ORDERS[mode], mode="grid-constant")
    if mode == "nearest":  # a sample within 1/65536 of a pel border may take either pel
        assert np.mean(got != expected) < 0.002 and np.mean(mask != expected_mask) < 0.002
    else:
        assert np.abs(got - expected).max() <= (1.5 if dtype == np.uint8 else 32)
        assert np.abs(mask - expected_mask).max() <= 1
    assert (mask == 0).any() and (mask == 255).any()
    # Inside, the clipped call is the plain one with a full mask.
    rect = ((3.3, 5.1), (30.7, 9.2), (4.2, 25.9))
    got, mask = kip.transform(src, rect, (9, 8), mode=mode, clip=True)
    np.testing.assert_array_equal(got, kip.transform(src, rect, (9, 8), mode=mode))
    assert (mask == 255).all()


@pytest.mark.parametrize("angle, turn", [(90, 1), (180, 2), (-90, 3), (270, 3), (450, 1)])
def test_quarter_turns_are_exact_and_counter_clockwise(dtype, angle, turn):
    src = smooth_image(21, 34, dtype)
    np.testing.assert_array_equal(kip.rotate(src, angle, mode="cubic2"), np.rot90(src, turn))


@pytest.mark.parametrize("angle, scale", [(30, 1.0), (-65, 0.7), (12.5, 2.5)])
def test_rotate_turns_about_the_centre(dtype, angle, scale):
    src = smooth_image(50, 70, dtype)
    got = kip.rotate(src, angle, scale=scale, size=(21, 17))
    # Result x runs along (cos, sin) of the source, result y along (-sin, cos), both 1 / scale a pel.
    r, c = np.mgrid[0:17, 0:21].astype(np.float64)
    dx, dy = (c + 0.5 - 21 / 2) / scale, (r + 0.5 - 17 / 2) / scale
    cos, sin = np.cos(np.radians(angle)), np.sin(np.radians(angle))
    expected = reference(src, 35 + dx * cos - dy * sin, 25 + dx * sin + dy * cos, 1)
    assert np.abs(got - expected).max() <= TOLERANCE["bilinear"][max_level(dtype)] + 0.5


def test_rotate_sizes(dtype):
    src = smooth_image(40, 60, dtype)
    inside = kip.rotate(src, 30)
    assert 0 < inside.shape[0] < 40 and 0 < inside.shape[1] < 60
    whole, mask = kip.rotate(src, 30, clip=True)
    assert whole.shape == mask.shape == (int(np.ceil(60 * 0.5 + 40 * np.cos(np.pi / 6))),
                                         int(np.ceil(60 * np.cos(np.pi / 6) + 40 * 0.5)))
    assert mask[0, 0] == 0 and mask[whole.shape[0] // 2, whole.shape[1] // 2] == 255
    assert kip.rotate(src, 0, scale=0.5).shape == (20, 30)


def test_results_do_not_depend_on_the_thread():
    src = smooth_image(400, 500, np.uint8)
    rects = [((40 + k, 30), (400, 60 + k), (20, 350)) for k in range(8)]
    serial = [kip.transform(src, rect, (300, 280), mode="cubic2") for rect in rects]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        parallel = list(pool.map(lambda rect: kip.transform(src, rect, (300, 280), mode="cubic2"), rects))
    for a, b in zip(serial, parallel):
        np.testing.assert_array_equal(a, b)


@pytest.mark.parametrize(
    "rect, size, clip, name",
    [
        (((30, 30), (90, 30), (30, 90)), (8, 8), False, "KIP_ERR_TRANSFORM_CLIPS"),
        (((200, 200), (240, 200), (200, 240)), (8, 8), True, "KIP_ERR_TRANSFORM_NO_OVERLAP"),
        (((0, 0), (float("nan"), 0), (0, 8)), (8, 8), False, "KIP_ERR_NOT_FINITE"),
        (((0, 0), (8, 0), (0, 8)), (0, 8), False, "KIP_ERR_NO_SAMPLES"),
        (((0, 0), (8, 0), (0, 8)), (8, -3), True, "KIP_ERR_NO_SAMPLES"),
    ],
)
def test_refusals_raise_the_status_name(rect, size, clip, name):
    with pytest.raises(kip.Error) as caught:
        kip.transform(np.zeros((40, 40), np.uint8), rect, size, clip=clip)
    assert caught.value.name == name and name in str(caught.value)
