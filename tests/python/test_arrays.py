"""numpy arrays as kip sees them: which layouts are read in place, which are refused, and that no
call copies its source."""
import tracemalloc

import numpy as np
import pytest

import kip


def random_image(shape, dtype, seed=1):
    return np.random.default_rng(seed).integers(0, np.iinfo(dtype).max, size=shape, endpoint=True, dtype=dtype)


def row_views(base):
    """Views that keep whole rows: kip reads each in place."""
    read_only = np.frombuffer(base.tobytes(), dtype=base.dtype).reshape(base.shape)
    return {"contiguous": base, "window": base[7:50, 3:41], "every third row": base[::3],
            "one column": base[:, 9:10], "read-only": read_only}


@pytest.mark.parametrize("axis", [0, -1])
def test_sums_of_views_match_numpy(axis):
    for name, view in row_views(random_image((64, 48), np.uint8)).items():
        got = kip.project_sums(view, axis)
        assert got.dtype == np.uint32, name
        np.testing.assert_array_equal(got, view.sum(axis=axis, dtype=np.uint64).astype(np.uint32), err_msg=name)


@pytest.mark.parametrize("dtype", [np.uint8, np.uint16])
@pytest.mark.parametrize("code, reference", [(0, lambda a: a), (90, lambda a: np.rot90(a, 1)), (180, lambda a: np.rot90(a, 2)),
                                             (270, lambda a: np.rot90(a, 3)), (91, np.fliplr), (271, np.flipud),
                                             (1, np.transpose), (181, lambda a: np.rot90(a, 2).T)])
def test_turns_match_numpy(dtype, code, reference):
    for name, view in row_views(random_image((37, 23), dtype, seed=code)).items():
        got = kip.turn(view, code)
        assert got.dtype == dtype and got.flags.c_contiguous
        np.testing.assert_array_equal(got, reference(view), err_msg=name)


RECT = ((0, 0), (8, 0), (0, 8))
@pytest.mark.parametrize("call, error", [
    (lambda: kip.turn(np.zeros((4, 4), np.float32), 0), TypeError),
    (lambda: kip.turn(np.zeros((4, 4), ">u2"), 0), TypeError),  # not in native byte order
    (lambda: kip.turn(np.zeros((4, 4, 3), np.uint8), 0), ValueError),
    (lambda: kip.turn(np.zeros((8, 8), np.uint8)[:, ::2], 0), ValueError),  # pels of a row apart
    (lambda: kip.turn(np.zeros((8, 8), np.uint8)[::-1], 0), ValueError),  # rows running backwards
    (lambda: kip.project_sums(np.zeros((4, 4), np.uint8), 2), ValueError),
    (lambda: kip.transform(np.zeros((40, 40), np.uint8), RECT, (8, 8), mode="cubic"), ValueError),
    (lambda: kip.transform(np.zeros((40, 40), np.uint8), RECT, (1 << 31, 8)), ValueError),
    (lambda: kip.rotate(np.zeros((40, 40), np.uint8), float("inf")), ValueError)])
def test_bad_arrays_and_arguments_are_refused(call, error):
    with pytest.raises(error):
        call()


def test_sixteen_bit_sums_raise_the_status():
    with pytest.raises(kip.Error) as caught:
        kip.project_sums(np.zeros((4, 4), np.uint16), 0)
    assert isinstance(caught.value, RuntimeError) and caught.value.name == "KIP_ERR_PEL_SIZE"
    assert caught.value.status == -0x7FFFF6FE  # 0x80000902 as a signed 32-bit value


def test_sources_are_read_in_place():
    view = random_image((4096, 4096), np.uint8)[::2, 50:3000]  # rows apart, from 16 MiB
    rect = ((100.5, 200.25), (2900, 300), (50, 1900))
    for call in (lambda: kip.project(view, rect, (1024, 256)), lambda: kip.transform(view, rect, (256, 256))):
        tracemalloc.start()
        call()
        peak = tracemalloc.get_traced_memory()[1]
        tracemalloc.stop()
        assert peak < 1 << 20  # the results and change: no copy of the source
