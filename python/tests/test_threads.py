"""Threads sharing sets while operations run without the GIL."""

import threading

import numpy

from intset import FrozenIntSet, IntSet, _intset


def test_readers_without_the_gil_beside_one_writer():
    previous = _intset._set_gil_release_blocks(0)  # every operation releases the GIL, whatever the size
    try:
        a, b = IntSet(range(0, 4_000_000, 7)), FrozenIntSet(range(1, 4_000_000, 7))
        expected = set(a)
        probes = numpy.arange(0, 70_000, 7)  # a's smallest members from 0 on
        base_union = len(a) + len(b)
        # The writer adds and removes values below all others, each in a block of its own, so that every
        # change moves a's whole block array while the readers combine, count and copy it.
        extra = range(-256 * 100, 0, 256)
        failures, started = [], threading.Barrier(4)
        stop = threading.Event()

        def read():
            try:
                started.wait()
                while not stop.is_set():
                    union = a | b
                    if union.count_range(0, 2**31) != base_union or union.count_range(-(2**31), 0) > 100:
                        failures.append(f"a | b has {len(union)} members")
                    members = a.to_numpy()
                    if not (numpy.diff(members) > 0).all() or not FrozenIntSet(members) >= expected:
                        failures.append("a.to_numpy() is not a's members")
                    if a.union_len(b) - (a & b).union_len(FrozenIntSet()) < base_union:
                        failures.append("a counted wrongly")
                    # a's members from 0 on follow each other in rank, whatever the writer does below 0,
                    # where a has at most 100 members: those of rank 100 on are multiples of 7, 7 apart.
                    if not a.contains_many(probes).all() or not (numpy.diff(a.rank_many(probes)) == 1).all():
                        failures.append("a's members looked up wrongly")
                    for ranks in (numpy.arange(100, 200), numpy.arange(100, 60_000)):
                        selected = a.select_many(ranks)
                        if selected[0] % 7 != 0 or not (numpy.diff(selected) == 7).all():
                            failures.append("a's members selected wrongly")
            except Exception as error:  # noqa: BLE001 (reported by the assertion below)
                failures.append(error)

        readers = [threading.Thread(target=read) for _ in range(3)]
        for reader in readers:
            reader.start()
        started.wait()
        for _ in range(100):
            for v in extra:
                a.add(v)
            for v in extra[::2]:
                a.discard(v)
            a.discard_range(-(2**31), 0)
        stop.set()
        for reader in readers:
            reader.join()
        assert failures == []
        assert a == expected and len(a | b) == base_union
    finally:
        _intset._set_gil_release_blocks(previous)
