"""Bytes and files in both formats, checked against the golden files the C++ tests read; errors; pickling."""

import copy
import os
import pickle
import struct
import subprocess
import sys

import pytest
from conftest import HIGHEST, LOWEST, REPOSITORY, random_values

from intset import FormatError, FrozenIntSet, IntSet

GOLDEN = REPOSITORY / "tests" / "golden"


def golden_members():
    """The set of tests/golden/set.nbl and set.roaring, as tests/golden_files_test.cpp describes it."""
    members = {LOWEST, -1000000, -257, -256, -1, 0, 1, 255, 256, 1000000, HIGHEST}
    members.update(range(5 * 65536, 6 * 65536, 3), range(-7 * 65536, -6 * 65536, 5))
    members.update(range(-300000, -200000), range(2**24, 2**24 + 70001))
    return members


@pytest.mark.parametrize("fmt", ["nbl", "roaring"])
def test_golden_files_read_and_write_the_same_bytes(fmt):
    data = (GOLDEN / f"set.{fmt}").read_bytes()
    s = IntSet.from_bytes(data, fmt)
    assert s == golden_members()
    assert s.to_bytes(fmt) == data
    assert FrozenIntSet.load(GOLDEN / f"set.{fmt}") == s


def test_round_trips(rng, tmp_path):
    for values in ([], [LOWEST, HIGHEST, -1, 0], random_values(rng, 3000)):
        s = FrozenIntSet(values)
        for fmt in ("nbl", "roaring"):
            assert IntSet.from_bytes(bytearray(s.to_bytes(fmt)), format=fmt) == s
            s.save(tmp_path / f"s.{fmt}")
            assert type(IntSet.load(str(tmp_path / f"s.{fmt}"))) is IntSet
            assert IntSet.load(tmp_path / f"s.{fmt}") == s
            s.save(os.fsencode(tmp_path / "no-extension"), format=fmt)
            assert IntSet.load(tmp_path / "no-extension", fmt) == s
    assert IntSet(b"\x00").to_bytes() == bytes.fromhex("4e424c31 01000000 00000000 01000000 01 01000000")


def test_legacy_blocks_out_of_order_load_as_their_members():
    # Legacy form: a count, then each block verbatim (key, 32 map bytes); here keys 1, 0, 1 and an empty block.
    def block(key, byte0):
        return struct.pack("<i", key) + bytes([byte0]) + bytes(31)

    data = struct.pack("<i", 4) + block(1, 0b1) + block(0, 0b10) + block(1, 0b100) + block(7, 0)
    s = IntSet.from_bytes(data)
    assert list(s) == [1, 256, 258] and s == {1, 256, 258}
    assert s.to_bytes() == IntSet([1, 256, 258]).to_bytes()
    assert IntSet.from_bytes((GOLDEN / "legacy.nbl").read_bytes()) == {-257, -256, -1, 0, 255, 256, 1000}


def test_damaged_truncated_or_longer_data_is_a_format_error():
    good = FrozenIntSet([1, 2, 300, -7]).to_bytes()
    roaring = FrozenIntSet([1, 2, 300, -7]).to_bytes("roaring")
    damaged_checksum = good[:-1] + bytes([good[-1] ^ 1])
    for data, fmt, message in [(damaged_checksum, "nbl", "CRC error"), (good[:-3], "nbl", "Stream read error"),
                               (b"", "nbl", ""), (good + b"\0", "nbl", "after the set"),
                               (roaring[:-1], "roaring", "ends early"), (b"NBL1", "roaring", "Not a Roaring"),
                               (roaring + b"x", "roaring", "after the set")]:
        with pytest.raises(FormatError, match=message):
            IntSet.from_bytes(data, fmt)
    assert issubclass(FormatError, ValueError) and FormatError.__module__ == "intset"


def test_a_block_limit_exceeded_is_a_value_error(tmp_path):
    data = IntSet(range(0, 256 * 10, 256)).to_bytes("roaring")
    assert len(IntSet.from_bytes(data, "roaring", max_blocks=10)) == 10
    assert IntSet.from_bytes(IntSet().to_bytes(), max_blocks=0) == set()
    (tmp_path / "ten.roaring").write_bytes(data)
    with pytest.raises(ValueError, match="limit of 3"):
        IntSet.load(tmp_path / "ten.roaring", max_blocks=3)
    for bad in ({"max_blocks": -1}, {"format": "text"}):
        with pytest.raises(ValueError):
            IntSet.from_bytes(data, **bad)
    for fmt in ("nbl", "roaring"):
        with pytest.raises(ValueError, match="more than the limit of 9") as raised:
            IntSet.from_bytes(IntSet(range(0, 2560, 256)).to_bytes(fmt), fmt, max_blocks=9)
        assert not isinstance(raised.value, FormatError)


def test_file_errors_name_the_file(tmp_path):
    missing = tmp_path / "missing.nbl"
    with pytest.raises(FileNotFoundError) as raised:
        IntSet.load(missing)
    assert raised.value.filename == str(missing)
    assert str(raised.value) == f"[Errno 2] No such file or directory: {str(missing)!r}"
    with pytest.raises(FileNotFoundError):
        IntSet([1]).save(tmp_path / "no-folder" / "a.roaring")
    with pytest.raises(IsADirectoryError):
        IntSet.load(tmp_path, "nbl")
    with pytest.raises(ValueError, match="extension"):
        IntSet([1]).save(tmp_path / "a.txt")
    (tmp_path / "damaged.nbl").write_bytes(b"NBL1\x01")
    with pytest.raises(FormatError):
        IntSet.load(tmp_path / "damaged.nbl")


def run_python(code, **kwargs):
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, **kwargs)


def test_a_refused_file_is_a_permission_error(tmp_path):
    # The superuser may open anything, so the check runs in a child that gives up that right.
    folder = tmp_path / "closed"
    folder.mkdir(mode=0o700)
    IntSet([1]).save(folder / "a.nbl")
    folder.chmod(0o000)
    try:
        drop = "import os; os.setgid(65534); os.setuid(65534)\n" if os.geteuid() == 0 else ""
        result = run_python(drop + "from intset import IntSet\n"
                            f"try: IntSet.load({str(folder / 'a.nbl')!r})\n"
                            "except PermissionError as e: print(e.filename)")
    finally:
        folder.chmod(0o700)
    assert result.stdout.strip() == str(folder / "a.nbl"), result.stderr


def test_out_of_memory_is_a_memory_error():
    # The whole range takes 16,777,216 blocks (604 MB), more than the child's address space is allowed to grow.
    result = run_python("import resource\nfrom intset import IntSet\n"
                        "resource.setrlimit(resource.RLIMIT_AS, (1 << 29, 1 << 29))\n"
                        "s = IntSet([5])\n"
                        "try: s.add_range(-2**31, 2**31)\n"
                        "except MemoryError: print('MemoryError', list(s))")
    assert result.stdout.strip() == "MemoryError [5]", result.stderr


def test_pickle_and_copy(rng):
    for kind in (IntSet, FrozenIntSet):
        s = kind(random_values(rng, 500))
        for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
            back = pickle.loads(pickle.dumps(s, protocol))
            assert type(back) is kind and back == s
        assert copy.copy(s) == s and copy.deepcopy([s])[0] == s and s.copy() == s
    f = FrozenIntSet([1])
    assert copy.copy(f) is f and f.copy() is f and FrozenIntSet(f) is f
    m = IntSet([1])
    assert copy.copy(m) is not m and type(copy.deepcopy(m)) is IntSet
