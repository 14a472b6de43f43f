#!/usr/bin/python3
"""The Python package's IntSet beside Python's own set, in one run, on the same members.

Run with Debian's interpreter against a built package (PYTHONPATH=build/release/python) or an installed one:

    PYTHONPATH=build/release/python /usr/bin/python3 bench/python_bench.py

Both sets hold the same 1,000,000 distinct values drawn uniformly from [0, 16,000,000) (the "uniform 1 in 16"
shape of the C++ benchmarks: every 256-value block occupied, about 16 members each); B is a second draw. The
setup favours Python's set: its int objects are made in ascending order, so iterating it reads them
nearly in memory order, and each list that set() builds from has its int objects made in list order. Building
is timed from the values in random order and in ascending order, the same values in the same order for both.
Each figure is the best of --repeats runs with the garbage collector off. Lookups and adds probe 200,000
values, half of them members and half drawn from the same range, as int objects made in the order they are
probed; every add run starts from a fresh copy. Small changes add and then remove k of the probes at a time
(update() then difference_update() of a tuple), k = 1 and 16, timed per value. len() is timed alone, right
after each of a series of changes by 17 values (which walk the whole set).

The batched lookups are timed beside numpy on a sorted int32 array of the same members, made beforehand:
contains_many() against numpy.isin(), rank_many() against numpy.searchsorted(side="right") and select_many()
against indexing, for --batch values (int32, half of them members, in random order) and as many random
ranks (int64, numpy's own index type). The tables end with the targets, each marked met or missed.
"""

import argparse
import gc
import random
import sys
import time

import numpy

import intset
from intset import IntSet, _intset


def best_of(repeats, run, prepare=None, timed_by_run=False):
    """The shortest of `repeats` timings of run(state), where state = prepare() is made untimed; with
    timed_by_run, the time run() returns, which it measured itself."""
    best = float("inf")
    for _ in range(repeats):
        state = prepare() if prepare else None
        gc.disable()
        try:
            start = time.perf_counter()
            took = run(state)
            best = min(best, took if timed_by_run else time.perf_counter() - start)
        finally:
            gc.enable()
    return best


def iterate(s):
    for _ in s:
        pass


def look_up(s, probes):
    for x in probes:
        x in s  # noqa: B015 (the lookup is what is timed)


def add_all(s, probes):
    for x in probes:
        s.add(x)


def change_by_few(s, batches):
    for batch in batches:
        s.update(batch)
        s.difference_update(batch)


def len_after_changes(s, batch, changes):
    """The time of len(s) alone, summed over `changes` calls each made right after s changed by `batch`."""
    took = 0.0
    for i in range(changes):
        (s.update if i % 2 == 0 else s.difference_update)(batch)
        start = time.perf_counter()
        len(s)
        took += time.perf_counter() - start
    return took


def python_set_bytes(s):
    return sys.getsizeof(s) + sum(sys.getsizeof(x) for x in s)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--members", type=int, default=1_000_000)
    parser.add_argument("--range", type=int, default=16_000_000, help="values are drawn from [0, RANGE)")
    parser.add_argument("--probes", type=int, default=200_000)
    parser.add_argument("--batch", type=int, default=1_000_000, help="values and ranks of the batched lookups")
    parser.add_argument("--repeats", type=int, default=5)
    parser.add_argument("--seed", type=int, default=19)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    a_sorted = sorted(rng.sample(range(args.range), args.members))
    b_sorted = sorted(rng.sample(range(args.range), args.members))
    a_shuffled = a_sorted[:]
    rng.shuffle(a_shuffled)
    probes = rng.sample(a_sorted, args.probes // 2) + [rng.randrange(args.range) for _ in range(args.probes // 2)]
    rng.shuffle(probes)
    # tolist() makes new int objects, in list order.
    probes = numpy.array(probes).tolist()
    a_list, b_list = numpy.array(a_sorted).tolist(), numpy.array(b_sorted).tolist()
    a_shuffled_list = numpy.array(a_shuffled).tolist()
    a_array = numpy.array(a_sorted, dtype=numpy.int32)
    a_shuffled_array = numpy.array(a_shuffled, dtype=numpy.int32)

    py_a, py_b = set(a_list), set(b_list)
    ours_a, ours_b = IntSet(a_array), IntSet(b_sorted)
    assert ours_a == py_a and ours_b == py_b
    n = len(py_a)
    r = args.repeats

    rows = []  # (what, Python set seconds, IntSet seconds, per-call divisor)

    def row(what, py_seconds, our_seconds, calls=1):
        rows.append((what, py_seconds / calls, our_seconds / calls))

    row("iterate: for x in s", best_of(r, lambda _: iterate(py_a)), best_of(r, lambda _: iterate(ours_a)), n)
    row("x in s", best_of(r, lambda _: look_up(py_a, probes)), best_of(r, lambda _: look_up(ours_a, probes)),
        len(probes))
    row("s.add(x)", best_of(r, lambda s: add_all(s, probes), py_a.copy),
        best_of(r, lambda s: add_all(s, probes), ours_a.copy), len(probes))
    for k in (1, 16):
        batches = [tuple(probes[i:i + k]) for i in range(0, min(len(probes), 20_000 * k), k)]
        values = 2 * sum(len(batch) for batch in batches)
        row(f"s.update(k values); s.difference_update(same), k = {k}, per value",
            best_of(r, lambda s: change_by_few(s, batches), py_a.copy),
            best_of(r, lambda s: change_by_few(s, batches), ours_a.copy), values)
    row("a | b", best_of(r, lambda _: py_a | py_b), best_of(r, lambda _: ours_a | ours_b))
    row("a & b", best_of(r, lambda _: py_a & py_b), best_of(r, lambda _: ours_a & ours_b))
    row("build, random order: set(list) / IntSet(int32 array)", best_of(r, lambda _: set(a_shuffled_list)),
        best_of(r, lambda _: IntSet(a_shuffled_array)))
    row("build, ascending: set(list) / IntSet(int32 array)", best_of(r, lambda _: set(a_list)),
        best_of(r, lambda _: IntSet(a_array)))
    row("out: list(s) / s.to_numpy()", best_of(r, lambda _: list(py_a)), best_of(r, lambda _: ours_a.to_numpy()))
    cxx_to_array = _intset._time_to_array(ours_a, r)
    changes, bulk = 2_000, tuple(range(-40, -6, 2))  # 17 values: more than a change makes one by one
    row("len(s) right after a change by 17 values",
        best_of(r, lambda s: len_after_changes(s, bulk, changes), py_a.copy, timed_by_run=True),
        best_of(r, lambda s: len_after_changes(s, bulk, changes), ours_a.copy, timed_by_run=True), changes)

    # The batched lookups beside numpy on the same members as a sorted array.
    batch_values = rng.choices(a_sorted, k=args.batch // 2)
    batch_values += [rng.randrange(args.range) for _ in range(args.batch - args.batch // 2)]
    batch_values = numpy.array(batch_values, dtype=numpy.int32)
    numpy.random.default_rng(args.seed).shuffle(batch_values)
    batch_ranks = numpy.random.default_rng(args.seed).integers(0, n, args.batch)
    members = ours_a.to_numpy()
    assert (ours_a.contains_many(batch_values) == numpy.isin(batch_values, members)).all()
    assert (ours_a.rank_many(batch_values) == numpy.searchsorted(members, batch_values, side="right")).all()
    assert (ours_a.select_many(batch_ranks) == members[batch_ranks]).all()
    batched = [  # (what, numpy seconds, IntSet seconds)
        ("s.contains_many(v) / numpy.isin(v, a)", best_of(r, lambda _: numpy.isin(batch_values, members)),
         best_of(r, lambda _: ours_a.contains_many(batch_values))),
        ("s.rank_many(v) / numpy.searchsorted(a, v, side=\"right\")",
         best_of(r, lambda _: numpy.searchsorted(members, batch_values, side="right")),
         best_of(r, lambda _: ours_a.rank_many(batch_values))),
        ("s.select_many(k) / a[k]", best_of(r, lambda _: members[batch_ranks]),
         best_of(r, lambda _: ours_a.select_many(batch_ranks))),
    ]

    py_bytes = python_set_bytes(py_a)
    our_bytes = sys.getsizeof(ours_a)

    print(f"intset from {intset.__file__}")
    print(f"Python {sys.version.split()[0]}, numpy {numpy.__version__}; {n:,} members in [0, {args.range:,}), "
          f"{args.probes:,} probes, best of {r}")
    print()
    print("| operation | Python set | IntSet | IntSet / set |")
    print("|---|---|---|---|")
    for what, py_seconds, our_seconds in rows:
        cell = what.replace("|", "\\|")
        print(f"| {cell} | {format_time(py_seconds)} | {format_time(our_seconds)} | {our_seconds / py_seconds:.3f} |")
    print(f"| C++ to_array() of the same set | | {format_time(cxx_to_array)} | |")
    print(f"| memory, bytes per member | {py_bytes / n:.1f} | {our_bytes / n:.2f} | {our_bytes / py_bytes:.3f} |")
    print()
    print(f"{args.batch:,} values v (int32) and ranks k (int64) against a, the members as a sorted int32 array:")
    print()
    print("| batched lookup | numpy | IntSet | IntSet / numpy |")
    print("|---|---|---|---|")
    for what, numpy_seconds, our_seconds in batched:
        print(f"| {what} | {format_time(numpy_seconds)} | {format_time(our_seconds)} | "
              f"{our_seconds / numpy_seconds:.3f} |")
    print()

    ratio = {what: our / py for what, py, our in rows}
    to_numpy_seconds = next(our for what, py, our in rows if what == "out: list(s) / s.to_numpy()")
    batched_ratio = {what.split("(")[0]: our / theirs for what, theirs, our in batched}
    targets = [
        ("iteration at most 3x the set's", ratio["iterate: for x in s"], 3.0),
        ("x in s at most 3x the set's per call", ratio["x in s"], 3.0),
        ("s.add(x) at most 3x the set's per call", ratio["s.add(x)"], 3.0),
        ("changes by k <= 16 values at most 3x the set's per value, k = 1",
         ratio["s.update(k values); s.difference_update(same), k = 1, per value"], 3.0),
        ("changes by k <= 16 values at most 3x the set's per value, k = 16",
         ratio["s.update(k values); s.difference_update(same), k = 16, per value"], 3.0),
        ("a | b at most 1/50 of the set's", ratio["a | b"], 1 / 50),
        ("a & b at most 1/50 of the set's", ratio["a & b"], 1 / 50),
        ("IntSet(int32 array) at most 1/20 of set(list), random order",
         ratio["build, random order: set(list) / IntSet(int32 array)"], 1 / 20),
        ("IntSet(int32 array) at most 1/20 of set(list), ascending",
         ratio["build, ascending: set(list) / IntSet(int32 array)"], 1 / 20),
        ("to_numpy() at most 1/5 of list(set)", ratio["out: list(s) / s.to_numpy()"], 1 / 5),
        ("to_numpy() at most 2x the C++ to_array()", to_numpy_seconds / cxx_to_array, 2.0),
        ("contains_many() at most 1/10 of numpy.isin()", batched_ratio["s.contains_many"], 1 / 10),
        ("rank_many() at most 2x numpy.searchsorted()", batched_ratio["s.rank_many"], 2.0),
        ("select_many() at most 3x numpy indexing", batched_ratio["s.select_many"], 3.0),
    ]
    print("| target | measured | met |")
    print("|---|---|---|")
    for what, measured, limit in targets:
        cell = what.replace("|", "\\|")
        print(f"| {cell} | {measured:.3f} (limit {limit:.3g}) | {'met' if measured <= limit else '**missed**'} |")


def format_time(seconds):
    if seconds < 1e-6:
        return f"{seconds * 1e9:.1f} ns"
    if seconds < 1e-3:
        return f"{seconds * 1e6:.1f} µs"
    return f"{seconds * 1e3:.2f} ms"


if __name__ == "__main__":
    main()
