"""kip.transform and kip.rotate against float64 references (scipy.ndimage.map_coordinates) on smooth
images, the sense of a turn, clipping and its mask, and the errors they raise."""
import numpy as np
import pytest

import kip
from conftest import reference, sample_points, smooth_image

# Reference order per mode; the two-pass linear kernels truncate in each pass (about one level low
# on average), the two-pass cubic is near the cubic spline on smooth images.
ORDERS = {"nearest": 0, "bilinear": 1, "linear2": 1, "cubic2": 3}
# Largest difference in levels, 8-bit and 16-bit: a half-pel slip costs about 4 and 1000.
TOLERANCE = {"nearest": (0, 0), "bilinear": (1, 2), "linear2": (2, 32), "cubic2": (1, 32)}


# Rotated, sheared, magnified and minified; corners off the pel grid so that no nearest sample ties.
@pytest.mark.parametrize("mode", list(ORDERS))
@pytest.mark.parametrize("rect, size", [(((10.3, 5.1), (50.7, 15.2), (4.2, 40.9)), (37, 29)),
                                        (((60.2, 8.1), (12.5, 30.3), (75.0, 40.0)), (13, 11)),
                                        (((40.4, 60.3), (40.4, 3.3), (3.1, 60.3)), (24, 30))])
def test_transform_matches_the_reference(dtype, mode, rect, size):
    src = smooth_image(64, 80, dtype)
    got = kip.transform(src, rect, size, mode=mode)
    assert got.dtype == dtype and got.shape == (size[1], size[0])
    difference = np.abs(got - reference(src, *sample_points(rect, size), ORDERS[mode]))
    assert difference.max() <= TOLERANCE[mode][dtype == np.uint16] + 0.5
    assert difference.mean() <= (1.2 if mode == "linear2" else 0.5) * (1 if dtype == np.uint8 else 257)


def test_clipped_transform_blends_toward_zero(dtype):
    src = smooth_image(30, 40, dtype)
    rect, size = ((-10.3, -6.2), (40.7, 8.1), (-2.2, 45.9)), (41, 37)
    got, mask = kip.transform(src, rect, size, mode="bilinear", clip=True)
    x, y = sample_points(rect, size)
    assert np.abs(got - reference(src, x, y, 1, mode="grid-constant")).max() <= (1.5 if dtype == np.uint8 else 32)
    assert np.abs(mask - reference(np.full(src.shape, 255.0), x, y, 1, mode="grid-constant")).max() <= 1
    assert mask.dtype == np.uint8 and (mask == 0).any() and (mask == 255).any()


@pytest.mark.parametrize("angle, scale", [(30, 1.0), (-65, 0.7)])
def test_rotate_turns_about_the_centre(dtype, angle, scale):
    src = smooth_image(50, 70, dtype)
    got = kip.rotate(src, angle, scale=scale, size=(21, 17))
    # Result x runs along (cos, sin) of the source, result y along (-sin, cos), both 1 / scale a pel.
    r, c = np.mgrid[0:17, 0:21].astype(np.float64)
    dx, dy = (c + 0.5 - 21 / 2) / scale, (r + 0.5 - 17 / 2) / scale
    cos, sin = np.cos(np.radians(angle)), np.sin(np.radians(angle))
    expected = reference(src, 35 + dx * cos - dy * sin, 25 + dx * sin + dy * cos, 1)
    assert np.abs(got - expected).max() <= TOLERANCE["bilinear"][dtype == np.uint16] + 0.5


@pytest.mark.parametrize("rect, size, clip, name", [
    (((30, 30), (90, 30), (30, 90)), (8, 8), False, "KIP_ERR_TRANSFORM_CLIPS"),
    (((200, 200), (240, 200), (200, 240)), (8, 8), True, "KIP_ERR_TRANSFORM_NO_OVERLAP"),
    (((0, 0), (float("nan"), 0), (0, 8)), (8, 8), False, "KIP_ERR_NOT_FINITE"),
    (((0, 0), (8, 0), (0, 8)), (0, 8), False, "KIP_ERR_NO_SAMPLES")])
def test_refusals_raise_the_status_name(rect, size, clip, name):
    with pytest.raises(kip.Error) as caught:
        kip.transform(np.zeros((40, 40), np.uint8), rect, size, clip=clip)
    assert caught.value.name == name and name in str(caught.value)
