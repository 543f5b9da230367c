"""numpy arrays as kip sees them: which layouts are read in place, which are refused, and that no
call copies its source."""
import tracemalloc

import numpy as np
import pytest

import kip


def random_image(shape, dtype, seed=1):
    rng = np.random.default_rng(seed)
    return rng.integers(0, np.iinfo(dtype).max, size=shape, endpoint=True, dtype=dtype)


def row_views(base):
    """Views that keep whole rows: kip reads each in place."""
    return {
        "contiguous": base,
        "window": base[7:50, 3:41],
        "every third row": base[::3],
        "one row": base[5:6, 2:30],
        "one column": base[:, 9:10],
        "read-only": np.frombuffer(base.tobytes(), dtype=base.dtype).reshape(base.shape),
    }


@pytest.mark.parametrize("axis", [0, 1, -1, -2])
def test_sums_of_views_match_numpy(axis):
    base = random_image((64, 48), np.uint8)
    for name, view in row_views(base).items():
        expected = view.sum(axis=axis, dtype=np.uint64).astype(np.uint32)
        got = kip.project_sums(view, axis)
        assert got.dtype == np.uint32, name
        np.testing.assert_array_equal(got, expected, err_msg=name)


@pytest.mark.parametrize("dtype", [np.uint8, np.uint16])
@pytest.mark.parametrize(
    "code, reference",
    [
        (0, lambda a: a),
        (90, lambda a: np.rot90(a, 1)),
        (180, lambda a: np.rot90(a, 2)),
        (270, lambda a: np.rot90(a, 3)),
        (91, np.fliplr),
        (271, np.flipud),
        (1, np.transpose),
        (181, lambda a: np.rot90(a, 2).T),
    ],
)
def test_turns_match_numpy(dtype, code, reference):
    base = random_image((37, 23), dtype, seed=code)
    for name, view in row_views(base).items():
        got = kip.turn(view, code)
        assert got.dtype == dtype and got.flags.c_contiguous
        np.testing.assert_array_equal(got, reference(view), err_msg=name)


@pytest.mark.parametrize(
    "make, error",
    [
        (lambda: np.zeros((4, 4), np.float32), TypeError),
        (lambda: np.zeros((4, 4), np.int16), TypeError),
        (lambda: np.zeros((4, 4), ">u2"), TypeError),  # not in native byte order
        (lambda: np.zeros((4, 4, 3), np.uint8), ValueError),
        (lambda: np.zeros(16, np.uint8), ValueError),
        (lambda: np.zeros((8, 8), np.uint8)[:, ::2], ValueError),  # pels of a row apart
        (lambda: np.zeros((8, 8), np.uint8, order="F"), ValueError),
        (lambda: np.zeros((8, 8), np.uint8)[::-1], ValueError),  # rows running backwards
        (lambda: np.lib.stride_tricks.as_strided(np.zeros(64, np.uint8), (8, 8), (4, 1)), ValueError),  # overlapping
    ],
)
def test_layouts_kip_cannot_read_in_place_are_refused(make, error):
    with pytest.raises(error):
        kip.turn(make(), 0)


def test_lists_are_not_arrays():
    with pytest.raises(TypeError):
        kip.project_sums([[1, 2], [3, 4]], 0)


def test_sixteen_bit_sums_raise_the_status():
    with pytest.raises(kip.Error) as caught:
        kip.project_sums(np.zeros((4, 4), np.uint16), 0)
    error = caught.value
    assert isinstance(error, RuntimeError)
    assert error.name == "KIP_ERR_PEL_SIZE"
    assert error.status == -0x7FFFF6FE  # 0x80000902 as a signed 32-bit value
    assert "KIP_ERR_PEL_SIZE" in str(error) and error.meaning


def test_bad_axis():
    with pytest.raises(ValueError):
        kip.project_sums(np.zeros((4, 4), np.uint8), 2)


def peak_allocation(call):
    """Bytes allocated at the peak of call(), numpy's buffers included."""
    tracemalloc.start()
    try:
        call()
        return tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()


def test_sources_are_not_copied():
    big = random_image((4096, 4096), np.uint8)  # 16 MiB
    views = [big, big[100:4000, 50:3000], big[::2]]
    for view in views:
        assert peak_allocation(lambda: kip.project_sums(view, 1)) < 1 << 20
        assert peak_allocation(lambda: kip.turn(view[:64], 180)) < 1 << 20
