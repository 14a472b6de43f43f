"""Sets of 32-bit signed integers: IntSet (mutable) and FrozenIntSet (immutable, hashable).

Members are ints in [-2**31, 2**31 - 1]. Inserting anything else raises: an int out of that range
OverflowError, anything that is not an integer (an int or an object with __index__, such as numpy's integers)
TypeError. Looking up never raises: `x in s`, discard(), and the operations that only look elements up
(intersection, difference, their _update and _len forms, isdisjoint, issubset, issuperset, the comparisons)
treat an int out of the range or a non-integer as something that is not a member. Floats are not integers
here, so 1.0 in IntSet([1]) is False.

Wherever an iterable is taken, a range of step 1 is taken as one range, and an object with the buffer
protocol (a numpy array, array.array, memoryview, bytes) holding integers of any width and signedness is
read without making a Python object per element; other iterables are read element by element.

Operations on big sets that only read them (combining into a new set, counting, comparing, copying, loading,
saving, the bytes, the arrays) release the GIL. One thread changes a set at a time; readers in other threads
are safe; a change waits for the readers that run without the GIL. Changing a set while iterating over it
raises RuntimeError at the iterator's next step.

Costs: `len` is cached; `in`, add and discard search the set's sorted blocks (O(log blocks)); adding a value
to a new block, or removing a block's last value, moves the blocks after it, so building a sparse set one
value at a time is slow where building it from an iterable is not. Indexing and rank are O(blocks).
"""

from collections.abc import Iterable, Iterator
from os import PathLike
from typing import Any, Literal, SupportsIndex, TypeVar

import array
import numpy
import numpy.typing

_S = TypeVar("_S", bound="_IntSetBase")
_Elements = Iterable[SupportsIndex]
_Path = str | bytes | PathLike[str] | PathLike[bytes]
_Format = Literal["nbl", "roaring"]

class FormatError(ValueError):
    """Bytes or a file that do not hold a set in the format asked for: damaged, truncated, foreign, or
    followed by more data. The message is the library's ("CRC error", "Damaged Roaring bitmap: ...")."""

class _IntSetBase:
    """What IntSet and FrozenIntSet share (a name for typing only; neither derives from it at run time)."""

    def __len__(self) -> int: ...
    def __bool__(self) -> bool: ...
    def __contains__(self, value: object) -> bool: ...
    def __iter__(self) -> Iterator[int]:
        """The members in ascending order."""
    def __reversed__(self) -> Iterator[int]:
        """The members in descending order."""
    def __eq__(self, other: object) -> bool:
        """Against any collections.abc.Set: the same members (an element that cannot be a member makes them
        differ). The order comparisons <= < >= > are subset and superset tests against any Set; other
        objects are not comparable."""
    def __ne__(self, other: object) -> bool: ...
    def __le__(self, other: Any) -> bool: ...
    def __lt__(self, other: Any) -> bool: ...
    def __ge__(self, other: Any) -> bool: ...
    def __gt__(self, other: Any) -> bool: ...
    def __or__(self: _S, other: IntSet | FrozenIntSet) -> _S:
        """The operators | & - ^ take the package's sets only, and return the left operand's type."""
    def __and__(self: _S, other: IntSet | FrozenIntSet) -> _S: ...
    def __sub__(self: _S, other: IntSet | FrozenIntSet) -> _S: ...
    def __xor__(self: _S, other: IntSet | FrozenIntSet) -> _S: ...
    def __getitem__(self: _S, index: SupportsIndex | slice) -> Any:
        """s[k] is the member with k members below it (negative k counts from the end; IndexError out of
        range); s[i:j:step] is a new set, of the same type, of the members at those positions."""
    def __repr__(self) -> str:
        """IntSet([1, 2]) or FrozenIntSet([1, 2]); IntSet() when empty. When listing every member would take
        more than 200 characters: the count, the six smallest and the largest, as
        IntSet(1000000 members: [0, 1, 2, 3, 4, 5, ..., 999999])."""
    def __sizeof__(self) -> int:
        """The object and its block buffer (36 bytes a block, including unused capacity)."""
    def __reduce__(self) -> tuple[Any, tuple[bytes]]:
        """Pickles as the class's from_bytes() of the "nbl" bytes."""
    def __copy__(self: _S) -> _S: ...
    def __deepcopy__(self: _S, memo: Any) -> _S: ...
    def __array__(self, dtype: Any = None, copy: Any = None) -> numpy.ndarray[Any, Any]:
        """numpy.asarray(s): to_numpy(), converted to dtype when one is given."""
    def copy(self: _S) -> _S:
        """A new set with the same members; a FrozenIntSet returns itself."""
    def union(self: _S, *others: _Elements) -> _S:
        """The members of the set and of every iterable, whose elements must all be members."""
    def intersection(self: _S, *others: Iterable[object]) -> _S: ...
    def difference(self: _S, *others: Iterable[object]) -> _S: ...
    def symmetric_difference(self: _S, other: _Elements) -> _S: ...
    def isdisjoint(self, other: Iterable[object]) -> bool: ...
    def issubset(self, other: Iterable[object]) -> bool: ...
    def issuperset(self, other: Iterable[object]) -> bool: ...
    def intersection_len(self, other: Iterable[object]) -> int:
        """len(self.intersection(other)) without building it; likewise union_len, difference_len and
        symmetric_difference_len."""
    def union_len(self, other: _Elements) -> int: ...
    def difference_len(self, other: Iterable[object]) -> int: ...
    def symmetric_difference_len(self, other: _Elements) -> int: ...
    def contains_range(self, start: SupportsIndex, stop: SupportsIndex) -> bool:
        """Whether every value of range(start, stop) is a member; True for an empty range."""
    def count_range(self, start: SupportsIndex, stop: SupportsIndex) -> int:
        """The number of members in range(start, stop)."""
    def min(self) -> int:
        """The smallest member; ValueError when empty."""
    def max(self) -> int:
        """The largest member; ValueError when empty."""
    def rank(self, value: SupportsIndex) -> int:
        """The number of members less than or equal to value (any int)."""
    def to_numpy(self) -> numpy.typing.NDArray[numpy.int32]:
        """The members in ascending order in a new int32 array (numpy is imported on the first call)."""
    def to_array(self) -> array.array[int]:
        """The members in ascending order in a new array.array('i')."""
    def to_bytes(self, format: _Format = "nbl") -> bytes:
        """The set in the library's "nbl" form (its NBL1 file format) or in the portable Roaring format."""
    def save(self, path: _Path, format: _Format | None = None) -> None:
        """Writes the set to the file, in the format given or else named by the extension (.nbl, .roaring).
        An existing file is replaced only once the new bytes are on disk. Errors: FileNotFoundError,
        PermissionError or another OSError, with the file name in .filename."""
    @classmethod
    def from_bytes(cls: type[_S], data: bytes | bytearray | memoryview, format: _Format = "nbl", *,
                   max_blocks: int | None = None) -> _S:
        """The set in the bytes, which must hold it and nothing more. Damaged, truncated, foreign or
        longer data raises FormatError. With max_blocks, data that would make more blocks of 256 values
        (36 bytes each) raises ValueError before they are allocated: give a limit for data from elsewhere.
        The "nbl" format also reads the library's legacy form."""
    @classmethod
    def load(cls: type[_S], path: _Path, format: _Format | None = None, *,
             max_blocks: int | None = None) -> _S:
        """The set in the file, as from_bytes() reads bytes; the format as save() takes it. A missing file
        raises FileNotFoundError, an unreadable one PermissionError, with the file name in .filename."""

class IntSet(_IntSetBase):
    """A mutable set of 32-bit signed integers, registered as a collections.abc.MutableSet; unhashable."""

    def __init__(self, iterable: _Elements = ..., /) -> None: ...
    __hash__: None  # type: ignore[assignment]
    def __ior__(self, other: IntSet | FrozenIntSet) -> IntSet: ...
    def __iand__(self, other: IntSet | FrozenIntSet) -> IntSet: ...
    def __isub__(self, other: IntSet | FrozenIntSet) -> IntSet: ...
    def __ixor__(self, other: IntSet | FrozenIntSet) -> IntSet: ...
    def add(self, value: SupportsIndex, /) -> None: ...
    def discard(self, value: object, /) -> None: ...
    def remove(self, value: object) -> None:
        """Removes a member; KeyError when value is not one."""
    def pop(self) -> int:
        """Removes and returns the smallest member; KeyError when empty."""
    def clear(self) -> None: ...
    def update(self, *others: _Elements) -> None: ...
    def intersection_update(self, *others: Iterable[object]) -> None: ...
    def difference_update(self, *others: Iterable[object]) -> None: ...
    def symmetric_difference_update(self, other: _Elements) -> None: ...
    def add_range(self, start: SupportsIndex, stop: SupportsIndex) -> None:
        """Adds every value of range(start, stop); stop may be 2**31, so that the largest member can be
        added. Nothing happens when start >= stop; OverflowError when the range reaches outside the
        members' range."""
    def discard_range(self, start: SupportsIndex, stop: SupportsIndex) -> None:
        """Removes every member in range(start, stop)."""

class FrozenIntSet(_IntSetBase):
    """An immutable set of 32-bit signed integers, registered as a collections.abc.Set. Its hash is
    frozenset's, computed once from the members, so a FrozenIntSet and a frozenset of the same ints are
    equal and hash equal."""

    def __new__(cls, iterable: _Elements = ..., /) -> FrozenIntSet: ...
    def __hash__(self) -> int: ...

def _time_to_array(set: IntSet | FrozenIntSet, repeats: int) -> float:
    """The best time, in seconds, of the C++ to_array() of a copy of the set (for the benchmark)."""

def _set_gil_release_blocks(blocks: int) -> int:
    """Sets the size, in blocks, from which operations release the GIL (0: always); returns the old one."""
