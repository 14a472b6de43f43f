"""What a Python user meets besides the answers: types that mypy accepts, help() and signatures as set's,
and error messages in Python's own words."""

import inspect
import os
import pydoc
import subprocess
import sys
from pathlib import Path

import pytest

import intset
from intset import FormatError, FrozenIntSet, IntSet

PACKAGE_PARENT = Path(intset.__file__).resolve().parent.parent
PUBLIC = {kind: [name for name in dir(kind) if not name.startswith("_")] for kind in (IntSet, FrozenIntSet)}


def run_mypy_module(module, *args, cwd):
    env = dict(os.environ)
    if PACKAGE_PARENT.name != "site-packages":  # an installed copy is found without being named
        env["MYPYPATH"] = str(PACKAGE_PARENT)
        env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(PACKAGE_PARENT), env.get("PYTHONPATH")]))
    return subprocess.run([sys.executable, "-m", module, *args], capture_output=True, text=True, env=env, cwd=cwd)


def test_mypy_strict_takes_the_sets_as_the_abstract_sets(tmp_path):
    sample = Path(__file__).with_name("typing_sample.py")
    result = run_mypy_module("mypy", "--strict", "--cache-dir", str(tmp_path), str(sample), cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_stubs_match_the_module(tmp_path):
    result = run_mypy_module("mypy.stubtest", "intset", cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.parametrize("kind", [IntSet, FrozenIntSet])
def test_help_reads_like_sets(kind):
    text = pydoc.render_doc(kind, renderer=pydoc.plaintext)
    for internal in ("handle", "PyCapsule", "-> object", "incompatible function arguments", "pybind11"):
        assert internal not in text
    assert "32-bit signed integers" in kind.__doc__ and str(inspect.signature(kind)) == "(iterable=(), /)"
    for name in PUBLIC[kind]:
        method = getattr(kind, name)
        assert inspect.signature(method) is not None
        lines = inspect.getdoc(method).splitlines()
        assert 1 <= len(lines) <= 2 and lines[-1].endswith("."), (name, lines)
        assert f"{name}(" in text
    assert str(inspect.signature(kind.irange)) == "(self, /, start=None, stop=None, *, reverse=False)"
    assert str(inspect.signature(kind.from_bytes)) == "(data, format='nbl', *, max_blocks=None)"


def raised(call, error=Exception):
    with pytest.raises(error) as info:
        call()
    return str(info.value)


def test_error_messages_in_pythons_words(tmp_path):
    assert raised(lambda: IntSet().add(1, 2)) == "IntSet.add() takes exactly one argument (2 given)"
    assert raised(lambda: FrozenIntSet().union(x=1)) == "FrozenIntSet.union() takes no keyword arguments"
    assert raised(lambda: IntSet().add_range(1)) == "add_range expected 2 arguments, got 1"
    assert raised(lambda: IntSet(1, 2)) == "IntSet expected at most 1 argument, got 2"
    assert raised(lambda: IntSet(["a"])) == "'str' object cannot be interpreted as an integer"
    assert raised(lambda: IntSet(range(2**31 - 1, 2**31 + 1))) == (
        "range(2147483647, 2147483649) reaches past 2147483647, the largest member")
    assert raised(lambda: IntSet.from_bytes(IntSet([1]).to_bytes(), max_blocks=0)) == (
        "The input would need at least 1 block, more than the limit of 0")
    assert raised(lambda: FrozenIntSet().min()) == "min() of an empty FrozenIntSet"
    assert raised(lambda: FrozenIntSet([1])[5]) == "FrozenIntSet index out of range"
    assert raised(lambda: FrozenIntSet([1])["a"]) == "FrozenIntSet indices must be integers or slices, not str"
    path = tmp_path / "damaged.nbl"
    path.write_bytes(IntSet([1]).to_bytes()[:-1])
    with pytest.raises(FormatError) as info:
        IntSet.load(path)
    assert str(info.value) == f"Stream read error: {str(path)!r}" and info.value.filename == str(path)
    assert FormatError("x").filename is None
