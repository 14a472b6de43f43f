"""IntSet and FrozenIntSet against set and frozenset with operands of every kind: the other Sets (set,
frozenset, dict key views, the package's types and subclasses of them), numpy arrays of every dtype and
layout (which must act as the list of their elements), subclasses, and arguments that set refuses."""

import array
import copy
import operator
import pickle

import numpy
import pytest
from conftest import HIGHEST, LOWEST, random_values

from intset import FrozenIntSet, IntSet


class Tagged(IntSet):
    """A subclass with an attribute of its own."""


class FrozenTagged(FrozenIntSet):
    pass


class Limited(IntSet):
    """A subclass without a __dict__."""

    __slots__ = ()


OPERATORS = [operator.or_, operator.and_, operator.sub, operator.xor]
IN_PLACE = [operator.ior, operator.iand, operator.isub, operator.ixor]


def set_forms(values):
    """The same members as each kind of collections.abc.Set."""
    return [set(values), frozenset(values), dict.fromkeys(values).keys(), IntSet(values), FrozenIntSet(values),
            Tagged(values), FrozenTagged(values)]


def expected_type(left, right):
    """What `left op right` gives: the left operand's kind, the package's base type when it is the package's
    (or when the left one is a set or frozenset, whose operators leave the package's set to answer)."""
    for side in (left, right):
        if isinstance(side, (IntSet, FrozenIntSet)) and (side is left or isinstance(left, (set, frozenset))):
            return FrozenIntSet if isinstance(side, FrozenIntSet) else IntSet
    return set  # a dict key view's operators make a set


def test_operators_take_every_kind_of_set_on_either_side(rng):
    for _ in range(15):
        a_values, b_values = random_values(rng, 200), random_values(rng, 100)
        for ours in (IntSet(a_values), FrozenTagged(a_values)):
            for other in set_forms(b_values):
                for op in OPERATORS:
                    for left, right in ((ours, other), (other, ours)):
                        result = op(left, right)
                        assert type(result) is expected_type(left, right), (op, type(left), type(right))
                        assert result == op(set(left), set(right))
                for op in IN_PLACE:
                    target = Tagged(a_values)
                    result = op(target, other)
                    assert result is target and target == op(set(a_values), set(b_values))
    for refused in ([1], (1,), range(3), iter([1]), "ab", 5):
        for op in OPERATORS + IN_PLACE:
            with pytest.raises(TypeError):
                op(IntSet([1]), refused)
            with pytest.raises(TypeError):
                op(refused, FrozenIntSet([1]))


def numpy_forms(values):
    """Arrays of every kind: each integer dtype the values fit, both byte orders, strided, and float, bool,
    object, str and two-dimensional ones."""
    forms = []
    for dtype in ["int8", "uint8", "int16", "uint16", "int32", "uint32", "int64", "uint64", ">i4", "<u8"]:
        info = numpy.iinfo(dtype)
        forms.append(numpy.array([v for v in values if info.min <= v <= info.max], dtype=dtype))
    forms.append(numpy.array(values, dtype=numpy.int64)[::-3])
    forms += [numpy.array(values, dtype=float), numpy.array(values[:5], dtype=numpy.float32),
              numpy.array([v % 2 == 0 for v in values]), numpy.array(values[:20] + [None, "x"], dtype=object),
              numpy.array(values[:20], dtype=object), numpy.array([str(v) for v in values[:3]]),
              numpy.array(values[:20], dtype=numpy.int32).reshape(4, 5), numpy.zeros((0, 3), dtype=numpy.int8),
              numpy.array([], dtype=float)]
    return forms


METHODS = ["union", "intersection", "difference", "symmetric_difference", "isdisjoint", "issubset", "issuperset",
           "intersection_len", "union_len", "difference_len", "symmetric_difference_len"]
CHANGES = ["update", "intersection_update", "difference_update", "symmetric_difference_update"]


def outcome(call):
    """What a call gives: ("value", result) or ("raises", exception type)."""
    try:
        return ("value", call())
    except Exception as error:  # noqa: BLE001 (the exception type is what is compared)
        return ("raises", type(error))


@pytest.mark.filterwarnings("ignore:In future, it will be an error for 'np.bool_'")  # the list's numpy bools
def test_numpy_arrays_act_as_the_list_of_their_elements(rng):
    values = random_values(rng, 300) + list(range(-5, 40))
    members = values[::2]
    for array in numpy_forms(values):
        elements = list(array)
        for kind in (IntSet, FrozenIntSet):
            s = kind(members)
            assert outcome(lambda: kind(array)) == outcome(lambda: kind(elements)), array.dtype
            for name in METHODS:
                got = outcome(lambda: getattr(s, name)(array))
                assert got == outcome(lambda: getattr(s, name)(elements)), (name, array.dtype, array.shape)
                if array.dtype.kind in "iu" and array.ndim == 1:  # ints: as set does with the same ints
                    expected = getattr(set(members), name.removesuffix("_len"))(elements)
                    assert got == ("value", len(expected) if name.endswith("_len") else expected)
        for name in CHANGES:
            by_array, by_list = IntSet(members), IntSet(members)
            assert outcome(lambda: getattr(by_array, name)(array)) == outcome(lambda: getattr(by_list, name)(elements))
            assert by_array == by_list


@pytest.mark.filterwarnings("ignore:In future, it will be an error for 'np.bool_'")
def test_batched_lookups_take_any_iterable_as_the_list_of_its_elements(rng):
    values = random_values(rng, 300) + list(range(-5, 40))
    s = FrozenIntSet(values[::2])
    ranks = [rng.randrange(len(s)) for _ in range(200)] + [0, len(s) - 1]

    def answers(name, argument):
        kind, result = outcome(lambda: getattr(s, name)(argument))
        return (kind, (result.dtype, result.tolist())) if kind == "value" else (kind, result)

    others = [tuple(values), range(-5, 40), IntSet(values), array.array("q", values), b"\x00\x05\xff",
              memoryview(numpy.array(values, dtype=numpy.int32))[::3]]
    for given, probes in [(values, numpy_forms(values) + others), (ranks, numpy_forms(ranks))]:
        for name in ("contains_many", "rank_many", "select_many"):
            assert answers(name, iter(given)) == answers(name, given)
            for argument in probes:
                assert answers(name, argument) == answers(name, list(argument)), (name, argument)
    assert s.contains_many(numpy.array([1.0, 2.5])).tolist() == [False, False]  # floats are no members
    for name in ("rank_many", "select_many"):
        with pytest.raises(TypeError, match="'float' object cannot be interpreted as an integer"):
            getattr(s, name)([0, 1.0])


def test_small_changes_agree_with_set(rng):
    # A change by up to 16 values goes value by value; the cached length must follow it.
    a_values = random_values(rng, 2000)
    s, ps = IntSet(a_values), set(a_values)
    for _ in range(3000):
        k = rng.choice([1, 2, 5, 16, 17])
        values = rng.sample(a_values, k // 2) + random_values(rng, k - k // 2)
        form = rng.choice([list, tuple, set, lambda v: numpy.array(v, dtype=numpy.int64), iter])
        name = rng.choice(CHANGES + ["ior", "iand", "isub", "ixor"])
        if name in CHANGES:
            getattr(s, name)(form(values))
            getattr(ps, name)(values)
        else:
            op = getattr(operator, name)
            s, ps = op(s, set(values)), op(ps, set(values))
        if name in ("intersection_update", "iand"):
            s.update(a_values[:500])
            ps.update(a_values[:500])
        assert len(s) == len(ps)
    assert s == ps and list(s) == sorted(ps)


def test_ordered_ranges_agree_with_sorted(rng):
    values = sorted(set(random_values(rng, 3000)))
    s = FrozenIntSet(values)
    bounds = [None, -(2**70), -(2**31), 0, 2**31, 2**70] + values[::300] + [v + 1 for v in values[::400]]
    for start in bounds:
        for stop in bounds:
            inside = [v for v in values if (start is None or v >= start) and (stop is None or v < stop)]
            assert list(s.irange(start, stop)) == inside
            assert list(s.irange(start, stop, reverse=True)) == inside[::-1]
    x = values[100]
    assert next(s.irange(x + 1)) == values[101] and next(s.irange(stop=x, reverse=True)) == values[99]
    assert next(IntSet().irange(), None) is None
    m = IntSet(values)
    it = m.irange(0)
    next(it)
    m.discard(values[0])
    with pytest.raises(RuntimeError):
        next(it)


def test_iteration_across_chunks_and_at_the_ends_of_the_range():
    # Iterators convert 256 members at a time; bounds and the range's ends may fall on a chunk's edge.
    for n in (255, 256, 257, 513):
        for values in (list(range(HIGHEST - n + 1, 2**31)), list(range(LOWEST, LOWEST + n)),
                       list(range(0, 3 * n, 3))):
            s = FrozenIntSet(values)
            assert list(s) == values and list(reversed(s)) == values[::-1]
            for k in (1, 255, 256, 257, n):
                k = min(k, n)
                assert list(s.irange(values[0], values[k - 1] + 1)) == values[:k]
                assert list(s.irange(values[k - 1])) == values[k - 1:]
                assert list(s.irange(values[0], values[k - 1] + 1, reverse=True)) == values[:k][::-1]


@pytest.mark.parametrize("kind, reference", [(IntSet, set), (FrozenIntSet, frozenset)])
def test_argument_errors_are_sets(kind, reference):
    calls = [lambda s: s.union(5), lambda s: s.union(x=[1]), lambda s: s.intersection(None),
             lambda s: s.difference([1], 2), lambda s: s.symmetric_difference(), lambda s: s.isdisjoint(),
             lambda s: s.isdisjoint([1], [2]), lambda s: s.issubset(5), lambda s: s.issuperset(None),
             lambda s: s.copy(1), lambda s: s <= [1], lambda s: s > 5, lambda s: s | [1], lambda s: [1] & s,
             lambda s: s - 5, lambda s: hash(s), lambda s: s.isdisjoint(other=[1]), lambda s: iter(s).__next__(1)]
    if kind is IntSet:
        calls += [lambda s: s.add(), lambda s: s.add(1, 2), lambda s: s.discard(), lambda s: s.remove(7),
                  lambda s: s.remove("a"), lambda s: s.update(5),
                  lambda s: s.update([1], None), lambda s: s.intersection_update(5),
                  lambda s: s.difference_update(None), lambda s: s.symmetric_difference_update(5),
                  lambda s: s.pop(1), lambda s: s.clear(1), lambda s: s.update(x=1), lambda s: kind().pop()]
    for call in calls:
        ours = outcome(lambda: call(kind([1, 2])))
        theirs = outcome(lambda: call(reference([1, 2])))
        if theirs[0] == "raises":
            assert ours[0] == "raises" and ours[1] is theirs[1], (ours, theirs)
    for arguments, keywords in [((1,), {}), (([1], [2]), {}), ((), {"iterable": [1]})]:
        assert outcome(lambda: kind(*arguments, **keywords))[1] is outcome(
            lambda: reference(*arguments, **keywords))[1]


def test_subclasses_behave_as_sets_subclasses():
    s = Tagged([3, 1, 2])
    s.tag = "mine"
    for made in (s | {4}, s.copy(), s.union(), s[0:2], s & s, s.symmetric_difference([1])):
        assert type(made) is IntSet
    for other in (copy.copy(s), copy.deepcopy(s), pickle.loads(pickle.dumps(s))):
        assert type(other) is Tagged and other == s and other.tag == "mine" and other is not s
    f = FrozenTagged([1, 2])
    assert type(f.copy()) is FrozenIntSet and type(f | {3}) is FrozenIntSet and hash(f) == hash(frozenset(f))
    assert type(FrozenTagged.from_bytes(f.to_bytes())) is FrozenTagged and type(pickle.loads(pickle.dumps(f))) is FrozenTagged
    assert FrozenIntSet(f) is not f and FrozenIntSet(f) == f and isinstance(s, IntSet)

    assert type(copy.copy(Limited([1]))) is Limited and pickle.loads(pickle.dumps(Limited([1]))) == {1}
