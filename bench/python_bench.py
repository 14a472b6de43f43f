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
(update() then difference_update() of a tuple), k = 1 and 16, timed per value. The table ends with the
targets, each marked met or missed.
"""

import argparse
import gc
import random
import sys
import time

import numpy

import intset
from intset import IntSet, _intset


def best_of(repeats, run, prepare=None):
    """The shortest of `repeats` timings of run(state), where state = prepare() is made untimed."""
    best = float("inf")
    for _ in range(repeats):
        state = prepare() if prepare else None
        gc.disable()
        try:
            start = time.perf_counter()
            run(state)
            best = min(best, time.perf_counter() - start)
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


def python_set_bytes(s):
    return sys.getsizeof(s) + sum(sys.getsizeof(x) for x in s)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--members", type=int, default=1_000_000)
    parser.add_argument("--range", type=int, default=16_000_000, help="values are drawn from [0, RANGE)")
    parser.add_argument("--probes", type=int, default=200_000)
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

    ratio = {what: our / py for what, py, our in rows}
    to_numpy_seconds = rows[-1][2]
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
