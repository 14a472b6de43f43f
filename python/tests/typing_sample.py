"""Checked by mypy --strict (test_surface.py): IntSet and FrozenIntSet where the abstract sets are expected,
and every method with the types the stubs give. Never run."""

from collections.abc import Iterator, MutableSet
from collections.abc import Set as AbstractSet

import numpy
import numpy.typing

from intset import FormatError, FrozenIntSet, IntSet


def total(s: AbstractSet[int]) -> int:
    return sum(s)


def grow(s: MutableSet[int], value: int) -> None:
    s.add(value)
    s.discard(value - 1)
    s |= {value + 1}


def every_method(m: IntSet, f: FrozenIntSet) -> list[object]:
    grow(m, 3)
    first: int = m[0]
    part: IntSet = m[1:3]
    frozen_part: FrozenIntSet = f[::2]
    backwards: Iterator[int] = reversed(f)
    combined: list[AbstractSet[int]] = [m | f, m & {1}, m - f, m ^ {2}, {1} | m, f | m, f & {1}, f - m, f ^ m]
    m |= f
    m &= {1, 2}
    m -= frozenset({1})
    m ^= {3}
    m.update([1], range(3), numpy.array([4], dtype=numpy.int32))
    m.intersection_update([1, "a"], f)
    m.difference_update([2])
    m.symmetric_difference_update(f)
    m.add_range(0, 10)
    m.discard_range(2, 4)
    m.remove(5)
    popped: int = m.pop()
    counts: list[int] = [m.intersection_len(f), m.union_len([1]), m.difference_len(f),
                         m.symmetric_difference_len({1}), m.count_range(0, 5), m.rank(3), len(m), hash(f)]
    checks: list[bool] = [m.isdisjoint(f), m.issubset([1]), m.issuperset(f), m.contains_range(0, 2), 1 in m,
                          m <= f, m < {1}, m >= f, m > f, m == f, bool(f)]
    made: list[AbstractSet[int]] = [m.union(f), m.intersection([1]), m.difference(f), m.symmetric_difference(f),
                                    f.union([1]), f.copy(), m.copy(), IntSet.from_bytes(m.to_bytes("roaring"), "roaring"),
                                    FrozenIntSet.load("s.nbl", max_blocks=10), FrozenIntSet(m)]
    m.save("s.roaring", format="roaring")
    ordered: list[int] = [m.min(), m.max(), *m.irange(1, 5), *f.irange(stop=3, reverse=True)]
    found: numpy.typing.NDArray[numpy.bool_] = f.contains_many([1, "a"])
    ranks: numpy.typing.NDArray[numpy.int64] = m.rank_many(numpy.array([1, 2], dtype=numpy.int16))
    members: numpy.typing.NDArray[numpy.int32] = f.select_many(ranks)
    out: list[object] = [m.to_numpy().sum(), f.to_array().tolist(), numpy.asarray(f), found, members,
                         m.contains_many(range(5)).all(), f.rank_many([2**40]), m.select_many(range(1))]
    m.clear()
    try:
        FrozenIntSet.from_bytes(b"")
    except FormatError as error:
        out.append(error.filename)
    return [first, part, frozen_part, backwards, combined, popped, counts, checks, made, ordered, out,
            total(f) + total(m)]
