#!/usr/bin/env python3
"""Turns the JSON output of peers_bench into docs/benchmarks.md.

    build/peers/bench/peers_bench --benchmark_out=peers.json --benchmark_out_format=json
    python3 bench/make_table.py peers.json docs/benchmarks.md

Benchmark names are "operation/shape/peer" (Google Benchmark may append "/iterations:1" or
"/manual_time"). Ratios are tnumbrelle's time divided by the peer's: below 1 means tnumbrelle is faster.
"""

import json
import re
import sys
from collections import OrderedDict

OURS, ROARING, RUNS = "tnumbrelle", "CRoaring", "CRoaring+runs"
TREE, HASH, VECTOR = "std::set", "std::unordered_set", "std::vector"
PEERS = [OURS, ROARING, TREE, HASH, VECTOR]
SHAPES = ["dense", "clustered", "uniform 1 in 2", "uniform 1 in 16", "uniform 1 in 10000", "sparse",
          "negative-heavy"]

# Operations reported per item (time per value, per range or per query) and per call, in table order.
PER_ITEM = {"include ascending": "value", "include random": "value", "include_array": "value",
            "contains hit": "value", "contains miss": "value", "exclude": "value", "first/next": "value",
            "range-for": "value", "to_array": "value", "include_range": "range", "exclude_range": "range",
            "count_range": "query", "contains_range": "query", "rank": "query", "select": "query",
            "lower_bound": "query", "members_from": "value"}
PER_VALUE = list(PER_ITEM)
PER_CALL = ["count", "lowest and highest", "intersect", "unite", "subtract", "invert", "intersect_count",
            "unite_count", "subtract_count", "invert_count", "intersects", "is_subset_of true",
            "is_subset_of fails early", "equals true", "equals fails early", "copy", "save", "load"]
COMBINING = ["intersect", "unite", "subtract"]
# What Google Benchmark appends to a name.
SUFFIX = re.compile(r"^(iterations|min_time|repeats|threads|manual_time|real_time|process_time)(:.*)?$")

# Targets against CRoaring on the dense and clustered shapes: the largest allowed time ratio.
ROARING_TARGETS = {op: 1.0 for op in ["first/next", "to_array", "intersect", "unite", "subtract",
                                       "is_subset_of true", "is_subset_of fails early", "equals true",
                                       "equals fails early", "save", "load"]}
ROARING_TARGETS.update({"contains hit": 2.0, "contains miss": 2.0})
TARGET_SHAPES = ["dense", "clustered"]
# Targets of the ranges, order statistics, counting and copies against CRoaring on the clustered and uniform
# shapes: operations that walk blocks at most 1.0 x, single-value queries at most 2.0 x.
VOCABULARY_TARGETS = {op: 1.0 for op in ["include_range", "exclude_range", "count_range", "contains_range",
                                          "intersect_count", "unite_count", "subtract_count", "invert_count",
                                          "intersects", "invert", "copy"]}
VOCABULARY_TARGETS.update({op: 2.0 for op in ["rank", "select", "lower_bound", "lowest and highest"]})
VOCABULARY_SHAPES = ["clustered", "uniform 1 in 2", "uniform 1 in 16", "uniform 1 in 10000"]
# Enumeration against the set's own to_array(), per member, on every shape.
TO_ARRAY_TARGETS = {"first/next": 2.0, "range-for": 2.0, "members_from": 1.2}
# A million lookups at once, on these shapes: contains_many against the loop of contains() on the same
# values, rank_many and select_many against to_array() of the set (in random order plus 200 ns a value).
BATCH_SHAPES = ["clustered", "uniform 1 in 2"]
BATCH_OPS = ["contains_many random", "contains loop random", "contains_many ascending", "contains loop ascending",
             "rank_many random", "rank_many ascending", "select_many random", "select_many ascending"]
BATCH_AGAINST_LOOP = {"contains_many random": ("contains loop random", 0.7),
                      "contains_many ascending": ("contains loop ascending", 0.3)}
BATCH_AGAINST_TO_ARRAY = {"rank_many ascending": (2.0, 0), "select_many ascending": (2.0, 0),
                          "rank_many random": (3.0, 200e-9), "select_many random": (3.0, 200e-9)}

NOTES = """\
## Where the set loses, and why

- **`count`** is a kept number now, as `std::set::size()` is: every change adds or takes away the members
  of the maps it touches. It still costs a call and a check against 2147483647 (the 32-bit result its
  definition asks for), a few nanoseconds where `size()` is a load; `size()` gives the 64-bit count.
- **Single `include` in random order over a wide range, and `exclude` of isolated values**: every new or
  vanished block moves the blocks after it, so the cost per value grows with the number of blocks. The
  sweep below gives the crossover against `std::set`. `include_array` sorts first and has no such cost: it
  is the way to build a large set.
- **Isolated values** cost a whole 36-byte block (288 bits per member on the sparse shapes), against
  CRoaring's 16-bit array entries. The density sweep below gives the crossover.
- **Dense shape, `unite` and `equals`**: on a range of a million values CRoaring's containers are full, and
  it settles a full container from its stored cardinality without reading its bits. `tnumbrelle` has no
  per-block count and reads every block (at memcpy speed). `unite` must also build a new block array of
  A.used + B.used blocks, as its definition asks.
- **Dense shape, `is_subset_of`**: both sides read every map here; tnumbrelle reads an eighth more bytes (a
  key per 32 bytes of map) in 36-byte steps that straddle cache lines, and compares a key per block. The
  walk runs at about 40 GB/s, close to memcpy on this machine, against CRoaring's 50 GB/s over bare bitmaps.
- **`contains`**: on ascending keys the search takes two interpolation steps from the keys at both ends
  (exact at once where keys run consecutively, as on the dense shape) and finishes with a branch-free
  halving; CRoaring searches a few 16-bit container keys and tests one bit. Where keys are spread unevenly
  (clustered, sparse, negative-heavy) the guesses land less well and the halving does more rounds over
  36-byte blocks. A set loaded from an old-form file with keys out of order keeps the plain halving search
  that defines its answers there.
- **The combining operations on scattered shapes** (negative-heavy above all): when the keys of A and B
  interleave at random, which array the merge walk advances next cannot be predicted, and the walk runs at a
  fraction of memcpy's rate. A walk that advances without branches was measured: it was 2 to 4 times slower
  on the dense, clustered and uniform shapes and also slower on negative-heavy, so the plain walk stays.
- **`first`/`next` against `to_array`**: the cursor lives in the set object, so every call stores it and
  the next call reloads it, and each call's position depends on the previous one's: a shift, a count of
  zeros and an add, about 4 cycles per member, where `to_array` needs under 2 on full words. The common
  step is inline and beats CRoaring's iterator, and lands at about twice `to_array`: 1.6 to 2.1 times on
  the clustered, uniform and negative-heavy shapes over several runs, and 1.6 to 3.4 times on the dense
  shape, where `to_array` runs over full words at its fastest (0.6 to 1.1 ns per member from run to run).
  Range-for keeps its position in the caller's iterator and clears one bit per member, as `to_array` does.
- **`include_range` and `exclude_range` where a range adds or removes blocks** (clustered, the sparser
  uniform shapes, and `exclude_range` wherever a range covers whole blocks): the set must end with exactly
  the blocks of the value-by-value loop, in one sorted array, so each call that inserts or drops blocks moves
  every block after them once, O(blocks) per call, like a single `include` of a new block. CRoaring moves
  only entries of its container index (one per 65,536 values) and keeps containers that a range fills or
  empties in place. Ranges within existing blocks (`include_range` on the dense and uniform 1 in 2 and 1 in
  16 shapes) are at or below CRoaring.
- **`rank` and `select`**: the block array keeps no counts, so a rank popcounts every block below the value
  (with the AVX-512 or AVX2 popcount where the processor has one, about 0.4 to 0.6 ns per block here), where
  CRoaring adds up one stored cardinality per container of 65,536 values. The gap grows with the number of
  occupied blocks per container: about even on the dense shape, 1.3 to 1.9 times on the clustered and
  uniform 1 in 2 shapes (up to 256 full blocks per container, whose bitmaps CRoaring must popcount too),
  far beyond on uniform 1 in 16 (256 sparse blocks per container, which CRoaring keeps as one short sorted
  array). The popcount loop is a few instructions long: built where it straddled a 64-byte line it ran at
  half speed, which the library's loop alignment now prevents. An index of counts per run
  of blocks would close it, at the cost of keeping it current through every change of the set. Many ranks
  or selects at once (`rank_many`, `select_many`) build the blocks' running counts once per call and beat
  CRoaring's loops of single calls many times over (table below).
- **Enumeration and ordered lookups in pieces against `to_array`**: `to_array` runs over full blocks at its
  fastest on the clustered shape (under a nanosecond a member). `members_from` needs a search for the block it
  starts in on every call, and a 256-value buffer holds one full block there, so that search (some 80 ns
  where the keys are spread unevenly) adds about a third per member on the clustered, uniform 1 in 10000
  and negative-heavy shapes, while it stays within the target elsewhere. `select_many` of ascending ranks
  decodes each block's members as `to_array` does and then looks each rank up, which lands at about two to
  three times `to_array`; `rank_many` of ascending values fills a block's ranks once it has had a few values
  and is about even with `to_array` on the uniform shape.
- **`unite` and `invert` on uniform 1 in 10000**: both build a new buffer of A.used + B.used blocks (28 MB
  here), as `unite`'s definition asks; touching that much fresh memory is most of their time, where CRoaring
  changes its containers in place.
- **Sets of scattered members** (uniform 1 in 10000, sparse): every member costs a 36-byte block, so walks
  read several times the bytes CRoaring's arrays of 16-bit values hold, and searches over hundreds of
  thousands of blocks miss the caches where CRoaring's container keys fit in the second-level cache. The
  counts of a combination stay about even with CRoaring there; `count_range`, `rank` and `lowest` lose.
- **`contains_range` on the clustered shape**: a short range is one search for its first block and a look
  at a few blocks; the search over 36-byte blocks is the cost, as for `contains`, and lands within a few
  tens of percent of CRoaring's search over its 16-bit container keys.
- **Comparisons that fail at the first member** take a few nanoseconds for every peer that keeps its members in
  order; `std::set` and the sorted vector return after one comparison, tnumbrelle after one block. Below
  about 5 ns the 5x target against `std::set` cannot be told from the cost of the call.
- **`first`/`next` against `std::set`**: a `std::set` built in ascending order has its nodes in allocation
  order, so walking it is a pointer chase through memory that the prefetcher follows; it is as fast as the
  cursor per member.
- **`save` and `load`** write and read the compressed file form (a mask of the non-zero map bytes per
  block, then those bytes, and a checksum over them) through a stream, where CRoaring's portable form copies
  its containers whole. They live in the file format code, which is measured here but was not tuned as part
  of this work.
- **The standard containers' numbers depend on the heap's history**: a `std::set` or `std::unordered_set`
  built after other large containers were freed gets its nodes scattered over the heap, and its lookups
  and walks then miss the caches far more than those of a freshly built one. The suite builds them once per
  shape, in the middle of the run, as a long-running program would.
- **The portable Roaring format**: CRoaring's serialize and deserialize copy its containers as they lie in
  memory (a bitset is 8 KiB copied whole, an array 2 bytes per member), and it keeps a cardinality per
  container. tnumbrelle converts between its 256-bit blocks and the containers. The writer must count every
  block's members before it writes a byte (the format puts the cardinalities first), then gather the maps into
  containers, which the stream buffer copies once more: three passes against one copy, 4 to 7 times CRoaring
  on bitsets (uniform 1 in 2). An array container's members are found in the bits at about a nanosecond each
  where CRoaring copies two bytes, so writing stays 17 to 21 times CRoaring on uniform 1 in 16; on 1 in 10000,
  where each of 65,536 containers holds a few members in as many blocks, the 14 MB of blocks are read twice
  and writing is 4.5 to 6 times CRoaring. On the clustered shape the writer also finds the runs, which CRoaring
  as `roaring_bitmap_add_many` builds it does not have: 2.5 to 3.5 times CRoaring, while CRoaring+runs, which
  keeps them, writes the same bytes about 25 times faster. Reading sets a bit per member of an array
  container, 12 to 14 times CRoaring on uniform 1 in 16; it is within 2 times CRoaring on the clustered shape
  (0.7 to 0.85) and uniform 1 in 10000 (0.9 to 1.2), and about 2 times on uniform 1 in 2 where the processor
  has AVX2 (1.6 to 2.6 over several runs).
- **CRoaring+runs**: after `roaring_bitmap_run_optimize` CRoaring stores runs of consecutive values in 4
  bytes each, far below any bitmap. The targets are taken against CRoaring as `roaring_bitmap_add_many`
  builds it (arrays and bitmaps); the runs column is there so the comparison is not hidden.
"""


def parse(path):
    with open(path) as f:
        doc = json.load(f)
    rows, from_median = {}, set()
    for b in doc["benchmarks"]:
        # With --benchmark_repetitions the median of the repetitions stands for the benchmark.
        median = b.get("run_type") == "aggregate"
        if median and b.get("aggregate_name") != "median":
            continue
        parts = [p for p in b.get("run_name", b["name"]).split("/") if not SUFFIX.match(p)]
        # Operation names may contain "/" ("first/next"): the last two parts are shape and peer.
        op, shape, peer = "/".join(parts[:-2]), parts[-2], parts[-1]
        manual = "manual_time" in b["name"]
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b.get("time_unit", "ns")]
        seconds = (b["real_time"] if manual else b["cpu_time"]) * scale
        entry = {"seconds": seconds, "counters": b}
        if "items_per_second" in b and b["items_per_second"] > 0:
            entry["per_value"] = 1.0 / b["items_per_second"]
        key = (op, shape, peer)
        if median:
            from_median.add(key)
        elif key in from_median:
            continue
        rows[key] = entry
    return doc.get("context", {}), rows


def fmt_time(seconds):
    if seconds is None:
        return ""
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.3g} ms"
    if seconds >= 1e-6:
        return f"{seconds * 1e6:.3g} µs"
    return f"{seconds * 1e9:.3g} ns"


def fmt_ratio(r):
    return "" if r is None else f"{r:.2f}"


def fmt_num(x):
    return "" if x is None else f"{x:,.0f}"


class Tables:
    def __init__(self, context, rows):
        self.context, self.rows = context, rows
        self.checks = []  # (target, met, detail)

    def value(self, op, shape, peer, per_value):
        e = self.rows.get((op, shape, peer))
        if e is None:
            return None
        return e.get("per_value") if per_value else e["seconds"]

    def counter(self, op, shape, peer, name):
        e = self.rows.get((op, shape, peer))
        return None if e is None else e["counters"].get(name)

    @staticmethod
    def ratio(a, b):
        return None if a is None or b is None or b == 0 else a / b

    def check(self, target, value, limit, detail, at_least=False):
        if value is None:
            return
        met = value >= limit if at_least else value <= limit
        self.checks.append((target, met, detail))

    def header(self):
        c = self.context
        out = ["# tnumbrelle beside its peers", "",
               "Generated by `bench/make_table.py` from the JSON output of `peers_bench` (see building.md, Benchmarks)."
               " Do not edit by hand.", "",
               "| | |", "|---|---|"]
        out.append(f"| machine | {c.get('cpu_model', '?')}, {c.get('num_cpus', '?')} cores"
                   f" at {c.get('mhz_per_cpu', '?')} MHz |")
        caches = ", ".join(f"L{x['level']} {x['type'].lower()} {x['size'] // 1024} KiB"
                           for x in c.get("caches", []))
        out.append(f"| caches | {caches} |")
        load = c.get("load_avg")
        if load:
            out.append(f"| load average at start | {', '.join(f'{x:.2f}' for x in load)} |")
        out.append(f"| compiler | {c.get('compiler', '?')} |")
        out.append(f"| flags (library, peers' calls, benchmark) | `{c.get('compiler_flags', '?').strip()}`"
                   " (no `-march`: baseline x86-64, as the Debian CRoaring is built) |")
        out.append(f"| CRoaring | {c.get('croaring_version', '?')} (Debian libroaring-dev) |")
        if c.get("library_build_type") == "debug":
            out.append("| Google Benchmark | Debian's libbenchmark, built without NDEBUG: it warns that timings may be "
                       "affected, which concerns its own bookkeeping between runs, not the timed code |")
        out.append(f"| date | {c.get('date', '?')} |")
        out.append(f"| data scale | {c.get('peers_scale', '1')} |")
        reps = c.get("repetitions")
        out.append(f"| repetitions | {reps or 1} (the table shows the median) |")
        out += ["", "Shapes (fixed seeds; B is a second set of the same shape):", ""]
        for s in SHAPES:
            members = self.counter("memory", s, OURS, "members")
            blocks = self.counter("memory", s, OURS, "blocks")
            desc = c.get(f"shape {s}", "")
            out.append(f"- **{s}**: {desc}; {fmt_num(members)} members in {fmt_num(blocks)} blocks.")
        out += ["", "CRoaring gets every value as `x ^ 0x80000000` (which keeps the order); the mapping is done "
                "before timing and results are left mapped. Operations that change their input (building, "
                "`exclude`, the combining operations, `load`) are timed alone on a fresh copy; their "
                "standard-container versions are: `std::set` erasing or inserting in place, "
                "`std::unordered_set` likewise, and the sorted `std::vector` building a new vector with "
                "`std::set_intersection`/`set_union`/`set_difference`. `first/next` for the peers is their "
                "iterator (CRoaring: `roaring_advance_uint32_iterator`).", ""]
        return out

    def shape_table(self, shape):
        out = [f"### {shape}", "",
               "| operation | " + " | ".join(PEERS) + " | ours / CRoaring | ours / std::set | target |",
               "|---" * (len(PEERS) + 4) + "|"]
        for op in PER_VALUE + PER_CALL:
            per_value = op in PER_VALUE
            vals = [self.value(op, shape, p, per_value) for p in PEERS]
            if all(v is None for v in vals):
                continue
            r_roaring = self.ratio(vals[0], vals[1])
            r_tree = self.ratio(vals[0], vals[2])
            target = ""
            limit = None
            if shape in TARGET_SHAPES and op in ROARING_TARGETS:
                limit = ROARING_TARGETS[op]
            if shape in VOCABULARY_SHAPES and op in VOCABULARY_TARGETS:
                limit = VOCABULARY_TARGETS[op]
            if limit is not None:
                target = f"≤ {limit:g} × CRoaring"
                self.check(f"{shape}: {op} ≤ {limit:g} × CRoaring", r_roaring, limit,
                           f"{fmt_ratio(r_roaring)} × CRoaring")
                if r_roaring is not None:
                    target += " ✓" if r_roaring <= limit else " ✗"
            if op in TO_ARRAY_TARGETS:
                limit = TO_ARRAY_TARGETS[op]
                r_self = self.ratio(vals[0], self.value("to_array", shape, OURS, True))
                self.check(f"{shape}: {op} ≤ {limit:g} × to_array", r_self, limit, f"{fmt_ratio(r_self)} × to_array")
                if r_self is not None:
                    target += ("; " if target else "") + f"≤ {limit:g} × to_array ({fmt_ratio(r_self)})"
                    target += " ✓" if r_self <= limit else " ✗"
            if op == "include_array":
                target = "≤ 2 × CRoaring" + ("" if r_roaring is None else (" ✓" if r_roaring <= 2 else " ✗"))
                self.check(f"{shape}: include_array ≤ 2 × CRoaring", r_roaring, 2.0,
                           f"{fmt_ratio(r_roaring)} × CRoaring")
            if shape in TARGET_SHAPES and r_tree is not None:
                self.check(f"{shape}: {op} ≥ 5 × faster than std::set", r_tree, 0.2,
                           f"{fmt_ratio(r_tree)} × std::set")
            cells = [fmt_time(v) for v in vals]
            out.append(f"| {op}{f' (per {PER_ITEM[op]})' if per_value else ''} | " + " | ".join(cells) +
                       f" | {fmt_ratio(r_roaring)} | {fmt_ratio(r_tree)} | {target} |")
        n_random = self.counter("include random", shape, OURS, "members")
        n_exclude = self.counter("exclude", shape, OURS, "items_per_second")
        out.append("")
        if n_random is not None:
            out.append(f"`include random` used {fmt_num(n_random)} values on this shape.")
            out.append("")
        return out

    def memory_table(self):
        peers = [OURS, ROARING, RUNS, TREE, HASH, VECTOR]
        out = ["## Memory", "",
               "Bits per member. tnumbrelle: capacity × 36 bytes. CRoaring: the container payloads reported by "
               "`roaring_bitmap_statistics`, plus each container's header struct and its entry in the key, type "
               "and pointer arrays, after `roaring_bitmap_shrink_to_fit` (so without growth slack); +runs: after "
               "`roaring_bitmap_run_optimize` as well. Standard containers: the bytes their allocator holds "
               "(counting allocator; the heap's own per-allocation overhead is not counted for anyone).", "",
               "| shape | " + " | ".join(peers) + " | ours / CRoaring | ours / std::set | target |",
               "|---" * (len(peers) + 4) + "|"]
        for s in SHAPES:
            vals = [self.counter("memory", s, p, "bits_per_member") for p in peers]
            r_roaring, r_tree = self.ratio(vals[0], vals[1]), self.ratio(vals[0], vals[3])
            target = ""
            if s in TARGET_SHAPES:
                ok = r_roaring is not None and r_roaring <= 1.5 and r_tree is not None and r_tree <= 0.1
                target = "≤ 1.5 × CRoaring, ≤ 0.1 × std::set " + ("✓" if ok else "✗")
                self.check(f"{s}: memory ≤ 1.5 × CRoaring", r_roaring, 1.5, f"{fmt_ratio(r_roaring)} × CRoaring")
                self.check(f"{s}: memory ≤ 0.1 × std::set", r_tree, 0.1, f"{fmt_ratio(r_tree)} × std::set")
            out.append(f"| {s} | " + " | ".join("" if v is None else f"{v:.3g}" for v in vals) +
                       f" | {fmt_ratio(r_roaring)} | {fmt_ratio(r_tree)} | {target} |")
        return out + [""]

    def files_table(self):
        peers = [OURS, ROARING, RUNS]
        out = ["## Save and load", "",
               "Bytes written, and time to save into / load from memory (ours: the file form through a stream "
               "over a fixed buffer; CRoaring: `roaring_bitmap_portable_serialize` / "
               "`roaring_bitmap_portable_deserialize_safe`).", "",
               "| shape | " + " | ".join(f"{p} bytes" for p in peers) + " | " +
               " | ".join(f"{p} save" for p in peers) + " | " + " | ".join(f"{p} load" for p in peers) + " |",
               "|---" * (1 + 3 * len(peers)) + "|"]
        for s in SHAPES:
            sizes = [self.counter("save", s, p, "file_bytes") for p in peers]
            saves = [self.value("save", s, p, False) for p in peers]
            loads = [self.value("load", s, p, False) for p in peers]
            out.append(f"| {s} | " + " | ".join(fmt_num(x) for x in sizes) + " | " +
                       " | ".join(fmt_time(x) for x in saves) + " | " + " | ".join(fmt_time(x) for x in loads) + " |")
        return out + [""]

    def roaring_table(self):
        shapes = [s for s in SHAPES if s == "clustered" or s.startswith("uniform")]
        peers = [OURS, ROARING, RUNS]
        out = ["## The portable Roaring format", "",
               "Writing and reading the portable Roaring format in memory. tnumbrelle writes the smallest "
               "containers, the same bytes as CRoaring after `roaring_bitmap_run_optimize`; CRoaring writes the "
               "containers `roaring_bitmap_add_many` built, +runs those after run optimization "
               "(`roaring_bitmap_portable_serialize`). *read* has each read its own bytes "
               "(`roaring_bitmap_portable_deserialize_safe` for CRoaring); *read, no runs* has both read "
               "CRoaring's bytes without run containers. Target: reading and writing within 2 × CRoaring. "
               f"Measured from {self.context.get('date', '?')}, load average "
               f"{', '.join(f'{x:.2f}' for x in self.context.get('load_avg', []))} at the start of that run.", "",
               "| shape | bytes: ours (= +runs) | bytes: CRoaring | write: ours | write: CRoaring | write: +runs "
               "| read: ours | read: CRoaring | read: +runs | read, no runs: ours | read, no runs: CRoaring "
               "| write / CRoaring | read / CRoaring | read, no runs / CRoaring | target |",
               "|---" * 15 + "|"]
        for s in shapes:
            writes = [self.value("roaring write", s, p, False) for p in peers]
            reads = [self.value("roaring read", s, p, False) for p in peers]
            plain = [self.value("roaring read, no runs", s, p, False) for p in peers[:2]]
            if all(v is None for v in writes + reads):
                continue
            sizes = [self.counter("roaring write", s, p, "file_bytes") for p in peers[:2]]
            r_write, r_read = self.ratio(writes[0], writes[1]), self.ratio(reads[0], reads[1])
            r_plain = self.ratio(plain[0], plain[1])
            met = all(r is not None and r <= 2.0 for r in (r_write, r_read))
            for name, r in (("write", r_write), ("read", r_read)):
                self.check(f"{s}: Roaring {name} ≤ 2 × CRoaring", r, 2.0, f"{fmt_ratio(r)} × CRoaring")
            out.append(f"| {s} | " + " | ".join(fmt_num(x) for x in sizes) + " | " +
                       " | ".join(fmt_time(x) for x in writes + reads + plain) +
                       f" | {fmt_ratio(r_write)} | {fmt_ratio(r_read)} | {fmt_ratio(r_plain)} | "
                       f"≤ 2 × CRoaring {'✓' if met else '✗'} |")
        return out + [""]

    def bandwidth_table(self):
        out = ["## The combining operations against memcpy", "",
               "Bytes of block arrays walked per second (A.used + B.used blocks × 36 bytes per call) beside "
               "`memcpy` of the same number of bytes between two warm buffers. Target: at least a quarter of "
               "memcpy's rate.", "",
               "| shape | bytes walked | memcpy | intersect | unite | subtract | lowest / memcpy |",
               "|---|---|---|---|---|---|---|"]
        for s in SHAPES:
            mem = self.counter("memcpy", s, "memcpy", "bytes_per_second")
            rates = [self.counter(op, s, OURS, "bytes_per_second") for op in COMBINING]
            e = self.rows.get(("intersect", s, OURS))
            walked = None
            if e is not None and rates[0]:
                walked = rates[0] * e["seconds"]
            if mem is None or any(r is None for r in rates):
                continue
            low = min(rates) / mem
            for op, r in zip(COMBINING, rates):
                self.check(f"{s}: {op} ≥ 0.25 × memcpy bandwidth", r / mem, 0.25, f"{r / mem:.2f} × memcpy",
                           at_least=True)
            out.append(f"| {s} | {fmt_num(walked)} | {mem / 1e9:.1f} GB/s | " +
                       " | ".join(f"{r / 1e9:.1f} GB/s" for r in rates) + f" | {low:.2f} |")
        return out + [""]

    def sweeps(self):
        out = ["## Crossovers", "",
               "### Random-order `include` of n values spread over the whole range", "",
               "Each value lands in a block of its own, so every include inserts a block and moves the ones "
               "after it. Time per value:", "",
               "| n | " + " | ".join([OURS, ROARING, TREE, VECTOR]) + " | ours / std::set |",
               "|---|---|---|---|---|---|"]
        op = "include random, n values over the whole range"
        ns = sorted({int(k[1]) for k in self.rows if k[0] == op})
        slower, twice = None, None
        for n in ns:
            vals = [self.value(op, str(n), p, True) for p in [OURS, ROARING, TREE, VECTOR]]
            r = self.ratio(vals[0], vals[2])
            if r is not None and r > 1 and slower is None:
                slower = n
            if r is not None and r > 2 and twice is None:
                twice = n
            out.append(f"| {n:,} | " + " | ".join(fmt_time(v) for v in vals) + f" | {fmt_ratio(r)} |")
        out.append("")
        if slower is None:
            out.append("tnumbrelle stayed at or below `std::set` over the whole sweep.")
        else:
            out.append(f"Crossover: tnumbrelle is slower than `std::set` from about **n = {slower:,}** isolated blocks"
                       f" on, and more than twice as slow from about **n = {twice:,}**; past that the cost per"
                       " value grows in proportion to n. Build such sets with `include_array`.")
        out += ["", "### Memory per member as the density falls", "",
                "Each value of a window is a member with the given probability.", "",
                "| density | " + " | ".join([OURS, ROARING, RUNS]) + " | ours / CRoaring |", "|---|---|---|---|---|"]
        op = "memory, uniform density"
        dens = sorted({k[1] for k in self.rows if k[0] == op}, key=lambda d: int(d.split()[-1]))
        crossover, worst_before = None, 0.0
        for d in dens:
            vals = [self.counter(op, d, p, "bits_per_member") for p in [OURS, ROARING, RUNS]]
            r = self.ratio(vals[0], vals[1])
            if r is not None and r > 1.5 and crossover is None:
                crossover = d
            if r is not None and crossover is None:
                worst_before = max(worst_before, r)
            out.append(f"| {d} | " + " | ".join("" if v is None else f"{v:.3g}" for v in vals) +
                       f" | {fmt_ratio(r)} |")
        out.append("")
        if crossover is not None:
            out.append(f"Crossover: down to the density before **{crossover}** tnumbrelle needs at most "
                       f"{worst_before:.2f} times CRoaring's memory (its 4-byte key per 32-byte map against "
                       "CRoaring's bitmaps); from a density of **" + crossover + "** on, where CRoaring switches "
                       "to sorted 16-bit arrays, it needs more than 1.5 times as much, up to 36 bytes per member "
                       "when every member has a block of its own.")
        return out + [""]

    def batch_table(self):
        out = ["## A million lookups at once", "",
               "`contains_many`, `rank_many` and `select_many` answer 1,000,000 values (half of them members, the "
               "others anywhere in A's span) or ranks of members in one call; the loops call `contains()` on the "
               "same values, and CRoaring's rows are its loops of `roaring_bitmap_contains`, `roaring_bitmap_rank` "
               "and `roaring_bitmap_select`. Times per value, and per call.", "",
               "| shape | operation | tnumbrelle (per value) | tnumbrelle (per call) | CRoaring (per value) | target |",
               "|---|---|---|---|---|---|"]
        for shape in SHAPES:
            to_array = self.value("to_array", shape, OURS, False)
            for op in BATCH_OPS:
                per_value = self.value(op, shape, OURS, True)
                if per_value is None:
                    continue
                total = self.value(op, shape, OURS, False)
                target = ""
                if shape in BATCH_SHAPES and op in BATCH_AGAINST_LOOP:
                    loop, limit = BATCH_AGAINST_LOOP[op]
                    r = self.ratio(total, self.value(loop, shape, OURS, False))
                    self.check(f"{shape}: {op} ≤ {limit:g} × {loop}", r, limit, f"{fmt_ratio(r)} × {loop}")
                    if r is not None:
                        target = f"≤ {limit:g} × {loop} ({fmt_ratio(r)}) " + ("✓" if r <= limit else "✗")
                if shape in BATCH_SHAPES and op in BATCH_AGAINST_TO_ARRAY and to_array:
                    times, per = BATCH_AGAINST_TO_ARRAY[op]
                    values = total / per_value
                    limit = times * to_array + per * values
                    r = total / to_array
                    name = f"≤ {times:g} × to_array" + (f" + {per * 1e9:.0f} ns a value" if per else "")
                    self.check(f"{shape}: {op} {name}", total, limit,
                               f"{fmt_ratio(r)} × to_array, limit {fmt_ratio(limit / to_array)}")
                    target = f"{name} ({fmt_ratio(r)} × to_array) " + ("✓" if total <= limit else "✗")
                out.append(f"| {shape} | {op} | {fmt_time(per_value)} | {fmt_time(total)} | "
                           f"{fmt_time(self.value(op, shape, ROARING, True))} | {target} |")
        return out + [""]

    def summary(self):
        out = ["## Targets", "", "| target | result | measured |", "|---|---|---|"]
        for target, met, detail in self.checks:
            out.append(f"| {target} | {'met' if met else '**missed**'} | {detail} |")
        return out + [""]


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else "peers.json"
    dst = sys.argv[2] if len(sys.argv) > 2 else "docs/benchmarks.md"
    context, rows = parse(src)
    t = Tables(context, rows)
    body = ["## Time per operation", "",
            "Operations on values, ranges or queries in time per value, range or query, the others in time per "
            "call. The ratio columns divide tnumbrelle's time by the peer's: below 1 is faster. `include_range` "
            "and `exclude_range` apply 256 ranges of up to 2,048 values anywhere in A's span to a fresh copy of "
            "A; `count_range` queries ranges of up to 65,536 values, `contains_range` ranges of up to 1,024; "
            "`rank` and `lower_bound` probe values anywhere in A's span, `select` random ranks; the counts and "
            "`intersects` combine A with B; `invert` is A := A xor B on a fresh copy of A.", ""]
    for s in SHAPES:
        body += t.shape_table(s)
    body += t.batch_table() + t.memory_table() + t.files_table() + t.roaring_table() + t.bandwidth_table() + t.sweeps()
    text = "\n".join(t.header() + t.summary() + [NOTES] + body) + "\n"
    with open(dst, "w") as f:
        f.write(text)


if __name__ == "__main__":
    main()
