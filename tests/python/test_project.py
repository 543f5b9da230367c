"""kip.project and kip.project_norm against column sums of a float64 reference sampling, with and
without clipping, and the errors they raise."""
import numpy as np
import pytest

import kip
from conftest import reference, sample_points, smooth_image

ORDERS = {"nearest": 0, "bilinear": 1, "linear2": 1, "cubic2": 3}
# Largest difference from the reference of one sample, in levels, on average over a column.
PER_SAMPLE = {"nearest": 0, "bilinear": 0.5, "linear2": 1.5, "cubic2": 0.5}


@pytest.mark.parametrize("rect, size", [(((10.3, 5.1), (50.7, 15.2), (4.2, 40.9)), (37, 29)),
                                        (((60.2, 8.1), (12.5, 30.3), (75.0, 40.0)), (13, 11))])
def test_project_sums_the_reference_columns(dtype, rect, size):
    src = smooth_image(64, 80, dtype)
    for mode in ["nearest", "bilinear"] if dtype == np.uint16 else list(ORDERS):
        got = kip.project(src, rect, size, mode=mode)
        assert got.dtype == np.uint32 and got.shape == (size[0],)
        expected = reference(src, *sample_points(rect, size), ORDERS[mode]).sum(axis=0)
        scale = 1 if dtype == np.uint8 else 257
        assert np.abs(got - expected).max() <= (PER_SAMPLE[mode] * scale + 0.5) * size[1], mode
        np.testing.assert_allclose(kip.project_norm(src, rect, size, mode=mode), got / size[1])


@pytest.mark.parametrize("mode", ["nearest", "bilinear"])
def test_clipped_sums_coverage_and_means(dtype, mode):
    src = smooth_image(30, 40, dtype)
    rect, size, order = ((-10.3, -6.2), (40.7, 8.1), (-2.2, 45.9)), (41, 37), ORDERS[mode]
    sums, coverage = kip.project(src, rect, size, mode=mode, clip=True)
    x, y = sample_points(rect, size)
    expected = reference(src, x, y, order, mode="grid-constant").sum(axis=0)
    samples = reference(np.full(src.shape, 1.0), x, y, order, mode="grid-constant").sum(axis=0)
    # A nearest sample within 1/65536 of the source's edge may fall either side.
    top = np.iinfo(dtype).max
    assert np.abs(sums - expected).max() <= (top if mode == "nearest" else 0.1 * top)
    assert np.abs(coverage - 255 * samples).max() <= (255 if mode == "nearest" else 2)

    # Means divide by each column's coverage, rounded to whole levels (16-bit weights are coarser).
    means = kip.project_norm(src, rect, size, mode=mode, clip=True)
    assert np.isnan(means[samples == 0]).all()
    whole = samples >= 2
    tolerance = (1.0 if dtype == np.uint8 else 16.0) if mode == "bilinear" else top / samples[whole]
    assert (np.abs(means[whole] - expected[whole] / samples[whole]) <= tolerance + 0.5).all()


@pytest.mark.parametrize("dtype, rect, size, mode, clip, name", [
    (np.uint8, ((30, 30), (90, 30), (30, 90)), (8, 8), "bilinear", False, "KIP_ERR_PROJECT_CLIPS"),
    (np.uint8, ((200, 200), (240, 200), (200, 240)), (8, 8), "bilinear", True, "KIP_ERR_PROJECT_NO_OVERLAP"),
    (np.uint16, ((0, 0), (8, 0), (0, 8)), (8, 8), "cubic2", False, "KIP_ERR_MODE_UNSUPPORTED")])
def test_refusals_raise_the_status_name(dtype, rect, size, mode, clip, name):
    for call in (kip.project, kip.project_norm):
        with pytest.raises(kip.Error) as caught:
            call(np.zeros((40, 40), dtype), rect, size, mode=mode, clip=clip)
        assert caught.value.name == name
