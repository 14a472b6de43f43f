"""Members in and out without a Python object each: buffers, ranges, numpy arrays, array.array."""

import array
import subprocess
import sys

import numpy
import pytest
from conftest import HIGHEST, LOWEST, random_values

from intset import FrozenIntSet, IntSet


@pytest.mark.parametrize("dtype", ["int8", "uint8", "int16", "uint16", "int32", "uint32", "int64", "uint64",
                                   ">i4", "<i8", ">u2"])
def test_buffers_of_every_integer_type(rng, dtype):
    info = numpy.iinfo(dtype)
    lo, hi = max(info.min, LOWEST), min(info.max, HIGHEST)
    values = [rng.randint(lo, hi) for _ in range(5000)] + [lo, hi]
    data = numpy.array(values, dtype=dtype)
    assert IntSet(data) == set(values)
    assert FrozenIntSet(data[::3]) == set(values[::3])  # strided
    assert IntSet(memoryview(data)) == set(values)


def test_other_buffers_and_ranges():
    assert IntSet(array.array("q", [-5, 7, 7])) == {-5, 7}
    assert IntSet(b"\x01\xff") == {1, 255} and IntSet(memoryview(b"\x00\x02")) == {0, 2}
    assert IntSet(range(HIGHEST - 2, 2**31)) == {HIGHEST - 2, HIGHEST - 1, HIGHEST}
    assert IntSet(range(5, 0)) == set() and IntSet(range(0, 10, 3)) == {0, 3, 6, 9}
    assert IntSet(numpy.array([3, 1], dtype=numpy.int64)[1:]) == {1}
    assert IntSet(numpy.int64(v) for v in (4, 2)) == {2, 4}  # objects with __index__


@pytest.mark.parametrize("data", [numpy.array([0, 2**31], dtype=numpy.int64),
                                  numpy.array([0, LOWEST - 1], dtype=numpy.int64),
                                  numpy.array([1, 2**31], dtype=numpy.uint32),
                                  numpy.array([2**63], dtype=numpy.uint64),
                                  range(LOWEST - 1, 0), range(0, 2**31 + 1)])
def test_out_of_range_elements_overflow(data):
    with pytest.raises(OverflowError):
        IntSet(data)
    with pytest.raises(OverflowError):
        IntSet().update(data)


@pytest.mark.parametrize("data", [numpy.array([1.0, 2.0]), array.array("d", [1.0]), numpy.zeros((2, 2), "int32"),
                                  numpy.array(["1"]), ["1"], [1, None]])
def test_elements_that_are_not_integers_are_refused(data):
    with pytest.raises(TypeError):
        IntSet(data)


def test_big_inputs_in_any_order(rng):
    # Many values over few blocks go through the set's legacy-form image, others through include_array.
    for values in ([rng.randrange(-(2**20), 2**20) for _ in range(200_000)],
                   random_values(rng, 20_000), list(range(HIGHEST - 10_000, 2**31)) * 2,
                   list(range(LOWEST + 9_999, LOWEST - 1, -1))):
        expected = sorted(set(values))
        assert list(IntSet(numpy.array(values, dtype=numpy.int64))) == expected
        assert list(IntSet(values)) == expected


def test_arrays_out(rng):
    # Sparse and full words, and a last block of one member, where a word's members are written in eights.
    for values in (random_values(rng, 3000), [5], [LOWEST, HIGHEST], list(range(0, 70_000, 3)) + [HIGHEST],
                   [rng.randrange(2**20) for _ in range(5000)] + [2**20 + 255, 2**20 + 257]):
        s = FrozenIntSet(values)
        out = s.to_numpy()
        assert out.dtype == numpy.int32 and out.tolist() == sorted(set(values))
        assert numpy.asarray(s, dtype=numpy.int64).tolist() == sorted(set(values))
        packed = s.to_array()
        assert packed.typecode == "i" and packed.tolist() == sorted(set(values))
    assert IntSet().to_numpy().shape == (0,)


def test_numpy_is_imported_only_when_asked_for():
    code = ("import sys, intset\ns = intset.IntSet(range(3)) | intset.FrozenIntSet(b'\\x07')\n"
            "print('numpy' in sys.modules, s.to_numpy().tolist(), 'numpy' in sys.modules)")
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert result.stdout.split() == ["False", "[0,", "1,", "2,", "7]", "True"], result.stderr
