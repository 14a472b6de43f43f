"""IntSet and FrozenIntSet against Python's set and frozenset, on random members from both ends of the range."""

import bisect
import collections.abc
import operator
import sys

import numpy
import pytest
from conftest import HIGHEST, LOWEST, random_values

from intset import FrozenIntSet, IntSet

OUTSIDE = [LOWEST - 1, HIGHEST + 1, 2**64, "a", 1.5, None]


def pair(rng, n=300):
    a = random_values(rng, n)
    return a, random_values(rng, n // 2) + a[: n // 3]


@pytest.mark.parametrize("kind, reference", [(IntSet, set), (FrozenIntSet, frozenset)])
def test_queries_and_combinations_agree_with_python(rng, kind, reference):
    for _ in range(20):
        a_values, b_values = pair(rng)
        a, b, pa, pb = kind(a_values), kind(b_values), reference(a_values), reference(b_values)
        assert list(a) == sorted(pa) and list(reversed(a)) == sorted(pa, reverse=True)
        assert len(a) == len(pa) and bool(a) == bool(pa) and bool(kind()) is False
        for v in b_values[:50] + OUTSIDE:
            assert (v in a) == (v in pa)
        for op in (operator.or_, operator.and_, operator.sub, operator.xor):
            result = op(a, b)
            assert type(result) is kind and result == op(pa, pb)
        mixed = b_values[:40] + OUTSIDE[:3]  # lookups skip what cannot be a member
        assert a.union(b, b_values[:5], range(-3, 3)) == pa.union(pb, b_values[:5], range(-3, 3))
        assert a.intersection(b, mixed) == pa.intersection(pb, mixed) and a.intersection() == pa
        assert a.difference(mixed, b) == pa.difference(mixed, pb)
        assert a.symmetric_difference(b_values) == pa.symmetric_difference(b_values)
        assert a.intersection_len(b) == len(pa & pb) and a.union_len(b_values) == len(pa | pb)
        assert a.difference_len(mixed) == len(pa - set(mixed))
        assert a.symmetric_difference_len(b) == len(pa ^ pb)
        for other in (b, b_values, pa & pb, mixed, [], pa | {"x"}):
            assert a.isdisjoint(other) == pa.isdisjoint(other)
            assert a.issubset(other) == pa.issubset(other)
            assert a.issuperset(other) == pa.issuperset(other)


def test_comparisons_take_any_abc_set(rng):
    class Members(collections.abc.Set):  # a Set that is neither set nor frozenset
        def __init__(self, values):
            self.values = set(values)

        def __contains__(self, v):
            return v in self.values

        def __iter__(self):
            return iter(self.values)

        def __len__(self):
            return len(self.values)

    a_values, b_values = pair(rng)
    pa = set(a_values)
    for other in (pa, pa | {HIGHEST + 1}, pa | {"x"}, pa - {a_values[0]}, set(b_values), frozenset(),
                  Members(a_values), Members(b_values), FrozenIntSet(a_values)):
        for op in (operator.eq, operator.ne, operator.le, operator.lt, operator.ge, operator.gt):
            assert op(IntSet(a_values), other) == op(pa, set(other)), (op, other)
            assert op(other, FrozenIntSet(a_values)) == op(set(other), pa), (op, other)
    assert IntSet([1]) != [1]
    with pytest.raises(TypeError):
        IntSet([1]) <= [1]
    with pytest.raises(TypeError):
        IntSet([1]) | [1]


def test_changes_agree_with_python(rng):
    for _ in range(20):
        a_values, b_values = pair(rng)
        s, ps = IntSet(a_values), set(a_values)
        s.update(b_values[:10], range(5, 9))
        ps.update(b_values[:10], range(5, 9))
        s |= FrozenIntSet(b_values[10:20])
        ps |= set(b_values[10:20])
        s.symmetric_difference_update(b_values[20:60])
        ps.symmetric_difference_update(b_values[20:60])
        s.difference_update(b_values[60:80], OUTSIDE[:2])
        ps.difference_update(b_values[60:80])
        s ^= IntSet(b_values[80:90])
        ps ^= set(b_values[80:90])
        for v in b_values[:30] + OUTSIDE:
            s.discard(v)
            ps.discard(v)
        assert s == ps
        s.intersection_update(a_values + b_values[:100] + OUTSIDE, a_values[: len(a_values) // 2] + b_values)
        ps.intersection_update(a_values + b_values[:100], a_values[: len(a_values) // 2] + b_values)
        s -= IntSet(b_values[100:110])
        ps -= set(b_values[100:110])
        s &= IntSet(a_values + b_values)
        ps &= set(a_values + b_values)
        assert s == ps and len(s) == len(ps)
        while ps:
            assert s.pop() == min(ps)
            ps.remove(min(ps))
        assert not s


def test_errors_of_single_values():
    s = IntSet([5])
    for v in (LOWEST - 1, HIGHEST + 1, 2**100):
        with pytest.raises(OverflowError):
            s.add(v)
        with pytest.raises(OverflowError):
            IntSet([1, v])
    for v in ("a", 1.5, None):
        with pytest.raises(TypeError):
            s.add(v)
    with pytest.raises(KeyError):
        s.remove(6)
    with pytest.raises(KeyError):
        s.remove("a")
    s.remove(5)
    with pytest.raises(KeyError):
        s.pop()
    with pytest.raises(ValueError):
        s.min()
    with pytest.raises(IndexError):
        FrozenIntSet([1, 2])[2]
    with pytest.raises(TypeError):
        hash(s)


def test_ranges_and_order_agree_with_python(rng):
    for _ in range(30):
        values = random_values(rng, 200)
        start = rng.choice([LOWEST - 5, LOWEST, rng.choice(values), -3, HIGHEST - 300])
        stop = rng.choice([start - 1, start, start + rng.randrange(1, 700), HIGHEST, 2**31, 2**31 + 5])
        s, ps = IntSet(values), set(values)
        inside = [v for v in ps if start <= v < stop]
        assert s.count_range(start, stop) == len(inside)
        assert s.contains_range(start, stop) == (start >= stop or (
            LOWEST <= start and stop <= 2**31 and len(inside) == stop - start))
        s.discard_range(start, stop)
        assert s == ps.difference(inside)
        lo, hi = max(start, LOWEST), min(stop, 2**31)
        s.add_range(lo, hi)
        assert s.contains_range(lo, hi) and len(s) == len(ps) - len(inside) + max(0, hi - lo)
        ordered = sorted(ps)
        s = FrozenIntSet(values)
        assert s.min() == ordered[0] and s.max() == ordered[-1]
        probe = rng.choice(values) + rng.choice([-1, 0, 1])
        assert s.rank(probe) == sum(v <= probe for v in ordered)
        assert s.rank(LOWEST - 1) == 0 and s.rank(2**40) == len(ordered)
        k = rng.randrange(-len(ordered), len(ordered))
        assert s[k] == ordered[k]
        i, j, step = rng.randrange(-20, 20), rng.randrange(-20, 250), rng.choice([1, 2, 3, -1, -4])
        sliced = s[i:j:step]
        assert type(sliced) is FrozenIntSet and sliced == set(ordered[i:j:step])
    with pytest.raises(OverflowError):
        IntSet().add_range(-5, 2**31 + 1)
    whole = IntSet()
    whole.add_range(HIGHEST - 2, 2**31)
    assert list(whole) == [HIGHEST - 2, HIGHEST - 1, HIGHEST]


@pytest.mark.parametrize("kind", [IntSet, FrozenIntSet])
def test_batched_lookups_agree_with_set_and_sorted(rng, kind):
    for n in (0, 1, 300, 3000):
        values = random_values(rng, n) + [LOWEST, HIGHEST][: n]  # the ends, which out-of-range probes meet
        s, ps, ordered = kind(values), set(values), sorted(set(values))
        probes = [v + rng.choice([-1, 0, 0, 1]) for v in values] + random_values(rng, 500)
        probes += [LOWEST - 1, HIGHEST + 1, 2**63 - 1, -(2**63)]
        rng.shuffle(probes)
        # Few probes among many blocks, probes in any order, and ascending ones: each way the set answers.
        for batch in (probes[:5], probes, sorted(probes), []):
            for given in (batch, numpy.array(batch, dtype=numpy.int64)):
                found = s.contains_many(given)
                assert found.dtype == numpy.bool_ and found.tolist() == [v in ps for v in batch]
                ranks = s.rank_many(given)
                assert ranks.dtype == numpy.int64 and ranks.tolist() == [bisect.bisect_right(ordered, v) for v in batch]
        for huge, expected in (([2**64, -(2**70), numpy.uint64(2**64 - 1)], [len(ps), 0, len(ps)]),
                               (numpy.array([2**64 - 1, 2**63], dtype=numpy.uint64), [len(ps)] * 2)):
            assert s.contains_many(huge).tolist() == [False] * len(expected) and s.rank_many(huge).tolist() == expected
        if not ordered:
            continue
        # Fewer ranks than a sixteenth of the members, and more; in any order, and ascending with repeats.
        for count in (1, len(ordered) // 20, 2 * len(ordered)):
            ks = [rng.randrange(len(ordered)) for _ in range(count)]
            for batch in (ks, sorted(ks)):
                members = s.select_many(batch)
                assert members.dtype == numpy.int32 and members.tolist() == [ordered[k] for k in batch]
        assert s.select_many(s.rank_many(ordered) - 1).tolist() == ordered


def test_select_many_refuses_ranks_outside_the_members():
    s = FrozenIntSet([10, 20, 30, 40, 50])
    for ranks, message in [([0, 1, 7], "rank 7 at position 2"), ([4, -1], "rank -1 at position 1"),
                           ([5] * 100, "rank 5 at position 0"), ([0, 2**70], f"rank {2**70} at position 1"),
                           (numpy.array([3, 2**64 - 1], dtype=numpy.uint64), f"rank {2**64 - 1} at position 1")]:
        with pytest.raises(IndexError) as info:
            s.select_many(ranks)
        assert str(info.value) == f"select_many: {message} is out of range for a set of 5 members"
    with pytest.raises(IndexError, match="rank 1000 at position 1 is out of range for a set of 1000 members$"):
        FrozenIntSet(range(1000)).select_many([999, 1000])  # few ranks among many members, searched
    with pytest.raises(IndexError, match="rank 0 at position 0 is out of range for a set of 0 members$"):
        IntSet().select_many([0])
    with pytest.raises(IndexError, match="for a set of 1 member$"):
        IntSet([3]).select_many([1])
    assert IntSet().select_many([]).tolist() == [] and IntSet().select_many([]).dtype == numpy.int32


def test_len_beyond_a_32_bit_count():
    # More members than a signed 32-bit count holds: len() is the set's own count, kept through changes.
    s = IntSet()
    s.add_range(0, 2**31)
    s.update([-1, -5])
    if sys.maxsize < 2**32:  # Py_ssize_t of 32 bits: too large for len(), as for any container
        with pytest.raises(OverflowError):
            len(s)
        return
    assert len(s) == 2**31 + 2 and s.rank(2**40) == 2**31 + 2 and bool(s)
    s.discard_range(-3, 10)
    assert len(s) == 2**31 - 9 and repr(s).startswith(f"IntSet({2**31 - 9} members: [-5, 10, 11,")
    s.clear()
    assert len(s) == 0 and not s


def test_hash_is_frozensets(rng):
    cases = [[], [-1], [-2], [-1, -2], [0], [LOWEST, HIGHEST], list(range(-3, 300))]
    cases += [random_values(rng, n) for n in (1, 5, 100, 5000)]
    for values in cases:
        f = FrozenIntSet(values)
        assert hash(f) == hash(frozenset(values)) and f == frozenset(values)
        assert {f: 1}[frozenset(values)] == 1


def test_repr_is_short():
    assert repr(IntSet()) == "IntSet()"
    assert repr(FrozenIntSet([2, -1])) == "FrozenIntSet([-1, 2])"
    assert eval(repr(IntSet(range(10))), {"IntSet": IntSet}) == IntSet(range(10))
    big = repr(IntSet(range(1_000_000)))
    assert big == "IntSet(1000000 members: [0, 1, 2, 3, 4, 5, ..., 999999])"
    assert len(repr(FrozenIntSet(range(LOWEST, LOWEST + 2**20, 2**10)) | FrozenIntSet([HIGHEST]))) <= 200


def test_registered_as_the_abstract_sets():
    assert isinstance(IntSet(), collections.abc.MutableSet)
    assert not isinstance(IntSet(), collections.abc.Hashable)
    assert isinstance(FrozenIntSet(), collections.abc.Set)
    assert isinstance(FrozenIntSet(), collections.abc.Hashable)
    assert not isinstance(FrozenIntSet(), collections.abc.MutableSet)


def test_changing_a_set_stops_its_iterators():
    s = IntSet(range(1000))
    for done, v in enumerate(s):
        s.add(v)  # already a member: no change
        if done == 300:
            break
    it, back = iter(s), reversed(s)
    assert next(it) == 0 and next(back) == 999
    s.discard(5000)  # not a member: no change
    assert next(it) == 1
    s.add(5000)
    with pytest.raises(RuntimeError):
        next(it)
    with pytest.raises(RuntimeError):
        next(back)
    with pytest.raises(RuntimeError):
        for v in s:
            s.discard(v)
