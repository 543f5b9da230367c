"""Images and float64 references shared by the module's tests."""
import numpy as np
import pytest
from scipy import ndimage


def smooth_image(height, width, dtype, phase=0.0):
    """Values change by a few percent of the range a pel: interpolations agree, a half-pel slip shows."""
    y, x = np.mgrid[0:height, 0:width].astype(np.float64)
    value = 0.5 + 0.3 * np.sin(0.11 * x + 0.05 * y + phase) + 0.15 * np.cos(0.07 * y - 0.03 * x)
    return np.round(value * np.iinfo(dtype).max).astype(dtype)


def sample_points(rect, size):
    """Source (x, y) of result pel [r, c]: rect's point ((c + 0.5) / width, (r + 0.5) / height)."""
    (ox, oy), (xx, xy), (yx, yy) = rect
    width, height = size
    r, c = np.mgrid[0:height, 0:width].astype(np.float64)
    u, v = (c + 0.5) / width, (r + 0.5) / height
    return ox + u * (xx - ox) + v * (yx - ox), oy + u * (xy - oy) + v * (yy - oy)


def reference(src, x, y, order, mode="nearest"):
    """kip's pel centres are at half-integers; "grid-constant" blends toward 0 as clipped calls do."""
    return ndimage.map_coordinates(src.astype(np.float64), [y - 0.5, x - 0.5], order=order, mode=mode, cval=0.0,
                                   prefilter=order > 1)


@pytest.fixture(params=[np.uint8, np.uint16], ids=["u8", "u16"])
def dtype(request):
    return request.param
