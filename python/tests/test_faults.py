"""Edges that once corrupted memory, ended the process or gave wrong answers: each case as it was met."""

import subprocess
import sys

import pytest

from intset import FrozenIntSet, IntSet


def run_python(code, timeout=60):
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=timeout)


def test_an_array_that_another_thread_changes_while_a_set_is_built_from_it():
    # Built without the GIL from 1,000,000 values while the other thread moves one of them to another block.
    result = run_python("""
import threading, time, numpy
from intset import IntSet
values = numpy.arange(1_000_000, dtype=numpy.int32)
done = threading.Event()
def toggle():
    while not done.is_set():
        values[500_000] = 2**30
        values[500_000] = 7
threading.Thread(target=toggle).start()
end = time.monotonic() + 2
try:
    while time.monotonic() < end:
        s = IntSet(values)
        assert len(s) in (999_999, 1_000_000) and s.count_range(0, 1_000_000) >= 999_999, len(s)
        assert s.max() in (999_999, 2**30)
finally:
    done.set()
print("ok")
""")
    assert (result.returncode, result.stdout) == (0, "ok\n"), result.stderr


def test_ranks_that_another_thread_changes_while_select_many_reads_them():
    # Each rank must be checked and used at one reading: read twice, the far one could be used unchecked.
    result = run_python("""
import threading, time, numpy
from intset import FrozenIntSet
s = FrozenIntSet(range(0, 3_000_000, 3))
ranks = numpy.arange(1_000_000, dtype=numpy.int64)
done = threading.Event()
def toggle():
    while not done.is_set():
        ranks[500_000] = 2**40
        ranks[500_000] = 7
threading.Thread(target=toggle).start()
end = time.monotonic() + 2
try:
    while time.monotonic() < end:
        for probe in (ranks, ranks[::2]):
            try:
                members = s.select_many(probe)
            except IndexError as error:
                assert str(error).startswith("select_many: rank 1099511627776 at position "), error
            else:
                assert members.max() <= 2_999_997, members.max()
finally:
    done.set()
print("ok")
""")
    assert (result.returncode, result.stdout) == (0, "ok\n"), result.stderr


def test_daemon_threads_inside_operations_at_interpreter_exit():
    # The main thread returns while daemon threads run operations that release the GIL.
    code = """
import threading, time
from intset import FrozenIntSet, IntSet
a, b = IntSet(range(0, 4_000_000, 3)), FrozenIntSet(range(0, 4_000_000, 5))
def work():
    while True:
        a | b
        a.intersection_len(b)
        hash(FrozenIntSet(a))
for _ in range(3):
    threading.Thread(target=work, daemon=True).start()
time.sleep(0.3)
"""
    for _ in range(5):
        result = run_python(code)
        assert result.returncode == 0, result.stderr


def test_range_ends_beyond_the_64_bit_limits():
    for ends in [(2**63, 2**63 + 1), (2**64, 2**64 + 5), (-(2**70), -(2**70) + 1)]:
        with pytest.raises(OverflowError, match=str(ends[0])):
            IntSet(range(*ends))
        with pytest.raises(OverflowError, match=rf"range\({ends[0]}, {ends[1]}\)"):
            IntSet().add_range(*ends)
        assert not IntSet([1]).contains_range(*ends) and not IntSet().issuperset(range(*ends))
        assert IntSet([1]).count_range(*ends) == 0 and IntSet([1]) == IntSet([1]).intersection(range(*ends)) | {1}
    assert IntSet().contains_range(2**64 + 5, 2**64) and IntSet(range(2**64, 2**63)) == set()
    assert list(IntSet([1, 5]).irange(-(2**70), 2**70)) == [1, 5]


@pytest.mark.parametrize("kind", [str, lambda p: p.encode(), __import__("pathlib").Path])
def test_paths_with_a_nul_byte(tmp_path, kind):
    with pytest.raises(ValueError, match="embedded null byte"):
        IntSet([1]).save(kind(f"{tmp_path}/x\0y.nbl"))
    with pytest.raises(ValueError, match="embedded null byte"):
        FrozenIntSet.load(kind(f"{tmp_path}/x\0y.nbl"))
    assert list(tmp_path.iterdir()) == []


def test_length_hints_are_only_hints():
    class Lying:
        def __init__(self, hint):
            self.hint = hint

        def __iter__(self):
            return iter([3, 1, 2])

        def __length_hint__(self):
            if isinstance(self.hint, Exception):
                raise self.hint
            return self.hint

    for hint in (2**40, 2**62, -1, "many", ValueError("no hint")):
        assert IntSet(Lying(hint)) == set(Lying(hint)) == {1, 2, 3}
        assert FrozenIntSet([1, 5]).intersection(Lying(hint)) == {1}
