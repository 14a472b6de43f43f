"""Sets of 32-bit signed integers, held in memory proportional to the occupied 256-value blocks.

IntSet is mutable and FrozenIntSet hashable; both behave as Python's set and frozenset do where those have
the same operation, and add ranges, order statistics, counting without building, numpy arrays in and out,
and the "nbl" and "roaring" bytes and files. help(IntSet) lists every operation; docs/python.md is the guide.
"""

from collections.abc import MutableSet as _MutableSet
from collections.abc import Set as _Set

from ._intset import FormatError, FrozenIntSet, IntSet

__all__ = ["FormatError", "FrozenIntSet", "IntSet"]

_MutableSet.register(IntSet)
_Set.register(FrozenIntSet)

del _MutableSet, _Set
