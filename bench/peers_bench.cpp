// tnumbrelle beside the containers a user would pick instead: CRoaring, std::set, std::unordered_set and a
// sorted std::vector with the <algorithm> set operations, all on the same data in one run.
//
// Benchmark names are "operation/shape/peer". Operations on single values report items (values) per second;
// whole-set operations report their time per call. bench/make_table.py turns the JSON output into
// docs/benchmarks.md. CRoaring stores unsigned values: every value goes in as x ^ 0x80000000, which keeps
// the order; that mapping is done before timing starts, and results are left mapped.
//
// Extra flag (taken out before Google Benchmark sees the arguments):
//   --peers_scale=F   multiply every data size by F (default 1; the CI smoke run uses a small F).
// Without --benchmark_min_time the suite uses 0.05 s per benchmark, so that all of it runs in minutes.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <roaring/roaring.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <numeric>
#include <random>
#include <set>
#include <sstream>
#include <streambuf>
#include <string>
#include <unordered_set>
#include <vector>

#include "counting_allocator.h"
#include "intset/roaring_format.h"
#include "intset/tnumbrelle.h"

namespace {

using intset::tblock;
using intset::tnumbrelle;
using values = std::vector<std::int32_t>;
using steady = std::chrono::steady_clock;

double scale = 1.0;
std::size_t scaled(double n) { return std::max<std::size_t>(64, static_cast<std::size_t>(n * scale)); }

std::uint32_t flip(std::int32_t v) { return static_cast<std::uint32_t>(v) ^ 0x80000000u; }

// --- Data shapes -----------------------------------------------------------------------------------------
// Every shape yields sorted, distinct members; side 0 is set A, side 1 set B of the same shape.

values sorted_unique(values v) {
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
  return v;
}

values make_dense(std::size_t n, int side) {
  values v(n);
  std::iota(v.begin(), v.end(), side == 0 ? 0 : static_cast<std::int32_t>(n / 2));
  return v;
}

// Runs of 1 to 512 consecutive values separated by gaps of 1 to 4096 values.
values make_clustered(std::size_t n, std::mt19937_64& rng) {
  std::uniform_int_distribution<std::int64_t> gap(1, 4096), run(1, 512);
  values v;
  v.reserve(n);
  std::int64_t pos = 0;
  while (v.size() < n) {
    pos += gap(rng);
    const std::int64_t len = run(rng);
    for (std::int64_t k = 0; k < len && v.size() < n; ++k) v.push_back(static_cast<std::int32_t>(pos + k));
    pos += len;
  }
  return v;
}

// Every value of [lo, hi) is a member with probability `density`, independently.
values make_uniform(double density, std::int64_t lo, std::int64_t hi, std::mt19937_64& rng) {
  std::geometric_distribution<std::int64_t> skip(density);
  values v;
  for (std::int64_t pos = lo + skip(rng); pos < hi; pos += 1 + skip(rng)) {
    v.push_back(static_cast<std::int32_t>(pos));
  }
  return v;
}

// n distinct values drawn uniformly from the whole 32-bit range.
values make_sparse(std::size_t n, std::mt19937_64& rng) {
  values v;
  while (v.size() < n) {
    const std::size_t missing = n - v.size();
    for (std::size_t k = 0; k < missing; ++k) v.push_back(static_cast<std::int32_t>(rng()));
    v = sorted_unique(std::move(v));
  }
  return v;
}

// Runs of 1 to 64 values at random places, nine in ten of them in the negative half of the range.
values make_negative_heavy(std::size_t n, std::mt19937_64& rng) {
  std::uniform_int_distribution<std::int64_t> run(1, 64), tenth(0, 9);
  std::uniform_int_distribution<std::int64_t> negative(INT32_MIN, -65), positive(0, INT32_MAX - 64);
  values v;
  while (v.size() < n) {
    const std::int64_t start = tenth(rng) == 0 ? positive(rng) : negative(rng);
    const std::int64_t len = run(rng);
    for (std::int64_t k = 0; k < len && v.size() < n; ++k) v.push_back(static_cast<std::int32_t>(start + k));
  }
  return sorted_unique(std::move(v));
}

struct shape_recipe {
  const char* name;
  const char* description;
  std::function<values(int side)> make;
};

std::vector<shape_recipe> shapes() {
  const auto seeded = [](std::uint64_t seed, int side) {
    return std::mt19937_64(seed * 2 + std::uint64_t(side));
  };
  const std::size_t n = scaled(1e6);
  const double wide = 2e9 * std::min(1.0, scale);
  return {
      {"dense", "one range of 1,000,000 consecutive values (B: the same range moved up by half)",
       [=](int side) { return make_dense(n, side); }},
      {"clustered", "runs of 1..512 values, gaps of 1..4096",
       [=](int side) {
         auto rng = seeded(11, side);
         return make_clustered(n, rng);
       }},
      {"uniform 1 in 2", "each value of [0, 2,000,000) with probability 1/2",
       [=](int side) {
         auto rng = seeded(12, side);
         return make_uniform(0.5, 0, 2 * std::int64_t(n), rng);
       }},
      {"uniform 1 in 16", "each value of [0, 16,000,000) with probability 1/16",
       [=](int side) {
         auto rng = seeded(13, side);
         return make_uniform(1.0 / 16, 0, 16 * std::int64_t(n), rng);
       }},
      {"uniform 1 in 10000", "each value of [-2e9, 2e9) with probability 1/10,000 (about 400,000 members)",
       [=](int side) {
         auto rng = seeded(14, side);
         return make_uniform(1e-4, std::int64_t(-wide), std::int64_t(wide), rng);
       }},
      {"sparse", "1,000,000 values uniform over the whole 32-bit range",
       [=](int side) {
         auto rng = seeded(15, side);
         return make_sparse(n, rng);
       }},
      {"negative-heavy", "runs of 1..64 values at random places, 9 in 10 below zero",
       [=](int side) {
         auto rng = seeded(16, side);
         return make_negative_heavy(n, rng);
       }},
  };
}

// --- One set in every representation ----------------------------------------------------------------------

struct roaring_free {
  void operator()(roaring_bitmap_t* r) const { roaring_bitmap_free(r); }
};
using roaring_ptr = std::unique_ptr<roaring_bitmap_t, roaring_free>;

roaring_ptr roaring_of(const std::vector<std::uint32_t>& flipped) {
  roaring_ptr r(roaring_bitmap_create());
  roaring_bitmap_add_many(r.get(), flipped.size(), flipped.data());
  return r;
}

std::vector<std::uint32_t> flipped_of(const values& v) {
  std::vector<std::uint32_t> out(v.size());
  std::transform(v.begin(), v.end(), out.begin(), flip);
  return out;
}

// The members of one set, held by every peer. The node-based containers are built on first use.
class side_data {
 public:
  explicit side_data(values members) : sorted(std::move(members)), flipped(flipped_of(sorted)) {
    ours.include_array(sorted);
    roaring = roaring_of(flipped);
  }

  const std::set<std::int32_t>& tree() {
    if (!tree_) tree_ = std::make_unique<std::set<std::int32_t>>(sorted.begin(), sorted.end());
    return *tree_;
  }
  const std::unordered_set<std::int32_t>& hash() {
    if (!hash_) hash_ = std::make_unique<std::unordered_set<std::int32_t>>(sorted.begin(), sorted.end());
    return *hash_;
  }

  values sorted;                       // also the sorted-vector peer
  std::vector<std::uint32_t> flipped;  // sorted, mapped for CRoaring
  tnumbrelle ours;
  roaring_ptr roaring;

 private:
  std::unique_ptr<std::set<std::int32_t>> tree_;
  std::unique_ptr<std::unordered_set<std::int32_t>> hash_;
};

// Everything the benchmarks of one shape use. Only one shape is held at a time.
class shape_data {
 public:
  explicit shape_data(const shape_recipe& recipe) : a(recipe.make(0)), b(recipe.make(1)) {
    std::mt19937_64 rng(2024);
    shuffled = a.sorted;
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    flipped_shuffled = flipped_of(shuffled);

    const std::size_t queries = std::min<std::size_t>(65536, a.sorted.size());
    std::uniform_int_distribution<std::size_t> pick(0, a.sorted.size() - 1);
    for (std::size_t q = 0; q < queries; ++q) hits.push_back(a.sorted[pick(rng)]);
    // Misses come from the members' span widened by a tenth on each side.
    const std::int64_t lo = a.sorted.front(), hi = a.sorted.back(), margin = (hi - lo) / 10 + 1;
    std::uniform_int_distribution<std::int64_t> anywhere(std::max<std::int64_t>(INT32_MIN, lo - margin),
                                                         std::min<std::int64_t>(INT32_MAX, hi + margin));
    while (misses.size() < queries) {
      const auto v = static_cast<std::int32_t>(anywhere(rng));
      if (!std::binary_search(a.sorted.begin(), a.sorted.end(), v)) misses.push_back(v);
    }
    // Probes anywhere in the members' span, ranks of members, and closed ranges starting in the span.
    std::uniform_int_distribution<std::int64_t> in_span(lo, hi);
    std::uniform_int_distribution<std::int64_t> rank_of(0, std::int64_t(a.sorted.size()) - 1);
    std::uniform_int_distribution<std::int64_t> query_length(0, 65535), edit_length(0, 2047);
    for (std::size_t q = 0; q < queries; ++q) {
      probes.push_back(static_cast<std::int32_t>(in_span(rng)));
      ranks.push_back(rank_of(rng));
      const std::int64_t start = in_span(rng);
      query_ranges.push_back(
          {static_cast<std::int32_t>(start),
           static_cast<std::int32_t>(std::min<std::int64_t>(INT32_MAX, start + query_length(rng)))});
    }
    for (std::size_t e = 0; e < 256; ++e) {
      const std::int64_t start = in_span(rng);
      edit_ranges.push_back(
          {static_cast<std::int32_t>(start),
           static_cast<std::int32_t>(std::min<std::int64_t>(INT32_MAX, start + edit_length(rng)))});
    }
  }

  // A united with B: A is a subset of it.
  side_data& superset() {
    if (!superset_) {
      values u;
      std::set_union(a.sorted.begin(), a.sorted.end(), b.sorted.begin(), b.sorted.end(),
                     std::back_inserter(u));
      superset_ = std::make_unique<side_data>(std::move(u));
    }
    return *superset_;
  }
  // A with its smallest member replaced by one above its largest: same size, differs at the very start.
  side_data& differs_early() {
    if (!differs_early_) {
      values d(a.sorted.begin() + 1, a.sorted.end());
      d.push_back(a.sorted.back() == INT32_MAX ? a.sorted.front() : a.sorted.back() + 1);
      differs_early_ = std::make_unique<side_data>(sorted_unique(std::move(d)));
    }
    return *differs_early_;
  }
  // A million values (scaled) to look up at once, half of them members, the others anywhere in A's span,
  // and as many ranks of members; each in random and in ascending order, and mapped for CRoaring.
  struct batch {
    values random, ascending;
    std::vector<std::int64_t> random_ranks, ascending_ranks;
    std::vector<std::uint32_t> flipped_random, flipped_ascending;
  };
  const batch& batches() {
    if (!batch_) {
      batch_ = std::make_unique<batch>();
      std::mt19937_64 rng(77);
      const std::size_t n = scaled(1e6);
      std::uniform_int_distribution<std::size_t> pick(0, a.sorted.size() - 1);
      std::uniform_int_distribution<std::int64_t> in_span(a.sorted.front(), a.sorted.back());
      for (std::size_t i = 0; i < n; ++i) {
        batch_->random.push_back(i % 2 ? a.sorted[pick(rng)] : static_cast<std::int32_t>(in_span(rng)));
        batch_->random_ranks.push_back(static_cast<std::int64_t>(pick(rng)));
      }
      batch_->ascending = batch_->random;
      std::sort(batch_->ascending.begin(), batch_->ascending.end());
      batch_->ascending_ranks = batch_->random_ranks;
      std::sort(batch_->ascending_ranks.begin(), batch_->ascending_ranks.end());
      batch_->flipped_random = flipped_of(batch_->random);
      batch_->flipped_ascending = flipped_of(batch_->ascending);
    }
    return *batch_;
  }
  // An equal copy of A, held apart from it.
  side_data& copy() {
    if (!copy_) copy_ = std::make_unique<side_data>(a.sorted);
    return *copy_;
  }

  side_data a, b;
  values shuffled;                              // A's members in random order
  std::vector<std::uint32_t> flipped_shuffled;  // the same, mapped for CRoaring
  values hits, misses;
  values probes;                                                    // anywhere in A's span
  std::vector<std::int64_t> ranks;                                  // 0 .. A's size - 1
  std::vector<std::pair<std::int32_t, std::int32_t>> query_ranges;  // up to 65,536 values, in A's span
  std::vector<std::pair<std::int32_t, std::int32_t>> edit_ranges;   // 256 ranges of up to 2,048 values

 private:
  std::unique_ptr<side_data> superset_, differs_early_, copy_;
  std::unique_ptr<batch> batch_;
};

std::vector<shape_recipe> all_shapes;
std::unique_ptr<shape_data> held;
std::size_t held_index = SIZE_MAX;

shape_data& data(std::size_t shape) {
  if (held_index != shape) {
    held.reset();
    held = std::make_unique<shape_data>(all_shapes[shape]);
    held_index = shape;
  }
  return *held;
}

// --- Timing helpers ----------------------------------------------------------------------------------------

// Seconds of timed work each benchmark aims at; --benchmark_min_time sets it.
double min_time = 0.05;

// For operations that change their input: runs `prepare` untimed and `op` timed, repeatedly, until `op` has
// run for min_time or ten times that has passed on the clock (preparing a copy of a large std::set can cost
// far more than the operation). Reports the median time of `op`, which a shared machine's preemptions do not
// move; register with UseManualTime() and Iterations(1).
template <typename Prepare, typename Op>
void timed(benchmark::State& state, Prepare prepare, Op op) {
  for (auto _ : state) {
    const auto deadline = steady::now() + std::chrono::duration<double>(10 * min_time);
    std::vector<double> times;
    double total = 0;
    do {
      prepare();
      const auto start = steady::now();
      op();
      const auto stop = steady::now();
      times.push_back(std::chrono::duration<double>(stop - start).count());
      total += times.back();
    } while (total < min_time && steady::now() < deadline);
    std::nth_element(times.begin(), times.begin() + std::ptrdiff_t(times.size() / 2), times.end());
    state.SetIterationTime(times[times.size() / 2]);
    state.counters["repeats"] = double(times.size());
  }
}

// A stream buffer over a fixed byte array, so that save and load measure the set's own work rather than the
// growth of a string.
class memory_buffer : public std::streambuf {
 public:
  explicit memory_buffer(std::vector<char>& bytes) : bytes_(bytes) { rewind(); }
  void rewind() {
    setp(bytes_.data(), bytes_.data() + bytes_.size());
    setg(bytes_.data(), bytes_.data(), bytes_.data() + bytes_.size());
  }
  std::size_t written() const { return static_cast<std::size_t>(pptr() - pbase()); }

 private:
  std::vector<char>& bytes_;
};

// --- Memory ------------------------------------------------------------------------------------------------

double ours_bytes(const tnumbrelle& set) { return double(set.capacity()) * sizeof(tblock); }

// CRoaring in memory: the container payloads its statistics report, plus each container's header struct and
// its entry in the key/type/pointer index, plus the bitmap itself. Taken after shrink_to_fit, so it holds no
// slack.
double roaring_bytes(const roaring_bitmap_t* r) {
  roaring_statistics_t s;
  roaring_bitmap_statistics(r, &s);
  const double index_entry = sizeof(void*) + sizeof(std::uint16_t) + sizeof(std::uint8_t);
  return double(s.n_bytes_array_containers) + s.n_bytes_run_containers + s.n_bytes_bitset_containers +
         double(s.n_array_containers) * sizeof(array_container_t) +
         double(s.n_run_containers) * sizeof(run_container_t) +
         double(s.n_bitset_containers) * sizeof(bitset_container_t) +
         double(r->high_low_container.allocation_size) * index_entry + sizeof(roaring_bitmap_t);
}

// Heap bytes in use as the C library sees them (used to check the figure above, not reported as it).
double heap_in_use() {
  const struct mallinfo2 m = mallinfo2();
  return double(m.uordblks) + double(m.hblkhd);
}

// --- Registration
// --------------------------------------------------------------------------------------------

const char* const kOurs = "tnumbrelle";
const char* const kRoaring = "CRoaring";
const char* const kRoaringRuns = "CRoaring+runs";
const char* const kTree = "std::set";
const char* const kHash = "std::unordered_set";
const char* const kVector = "std::vector";

template <typename Fn>
benchmark::internal::Benchmark* add(const std::string& op, std::size_t shape, const char* peer, Fn fn) {
  const std::string name = op + "/" + all_shapes[shape].name + "/" + peer;
  return benchmark::RegisterBenchmark(name.c_str(),
                                      [shape, fn](benchmark::State& state) { fn(state, data(shape)); });
}

template <typename Fn>
void add_timed(const std::string& op, std::size_t shape, const char* peer, Fn fn) {
  add(op, shape, peer, fn)->UseManualTime()->Iterations(1)->Unit(benchmark::kMicrosecond);
}

template <typename Fn>
void add_plain(const std::string& op, std::size_t shape, const char* peer, Fn fn) {
  add(op, shape, peer, fn)->Unit(benchmark::kMicrosecond);
}

void set_members(benchmark::State& state, std::size_t members, std::size_t items) {
  state.counters["members"] = double(members);
  state.SetItemsProcessed(std::int64_t(state.iterations()) * std::int64_t(items));
}

// Building a set: by include in ascending and in random order, and in bulk from unsorted values.
void register_building(std::size_t s) {
  add_timed("include ascending", s, kOurs, [](benchmark::State& st, shape_data& d) {
    std::unique_ptr<tnumbrelle> set;
    timed(
        st, [&] { set = std::make_unique<tnumbrelle>(); },
        [&] {
          for (const std::int32_t v : d.a.sorted) set->include(v);
        });
    set_members(st, d.a.sorted.size(), d.a.sorted.size());
  });
  add_timed("include ascending", s, kRoaring, [](benchmark::State& st, shape_data& d) {
    roaring_ptr r;
    timed(
        st, [&] { r.reset(roaring_bitmap_create()); },
        [&] {
          for (const std::uint32_t v : d.a.flipped) roaring_bitmap_add(r.get(), v);
        });
    set_members(st, d.a.sorted.size(), d.a.sorted.size());
  });
  add_timed("include ascending", s, kTree, [](benchmark::State& st, shape_data& d) {
    std::set<std::int32_t> set;
    timed(
        st, [&] { set.clear(); },
        [&] {
          for (const std::int32_t v : d.a.sorted) set.insert(v);
        });
    set_members(st, d.a.sorted.size(), d.a.sorted.size());
  });
  add_timed("include ascending", s, kHash, [](benchmark::State& st, shape_data& d) {
    std::unique_ptr<std::unordered_set<std::int32_t>> set;
    timed(
        st, [&] { set = std::make_unique<std::unordered_set<std::int32_t>>(); },
        [&] {
          for (const std::int32_t v : d.a.sorted) set->insert(v);
        });
    set_members(st, d.a.sorted.size(), d.a.sorted.size());
  });
  add_timed("include ascending", s, kVector, [](benchmark::State& st, shape_data& d) {
    values vec;
    timed(
        st, [&] { values().swap(vec); },
        [&] {
          for (const std::int32_t v : d.a.sorted) vec.push_back(v);  // ascending: appending keeps it sorted
        });
    set_members(st, d.a.sorted.size(), d.a.sorted.size());
  });

  // One include per value in random order moves every block after a new one: quadratic by design, so
  // shapes with many blocks take only the first 8,192 of the shuffled values.
  const auto random_count = [](shape_data& d) {
    return d.a.ours.blocks().size() > 10000 ? std::min<std::size_t>(8192, d.shuffled.size())
                                            : d.shuffled.size();
  };
  add_timed("include random", s, kOurs, [=](benchmark::State& st, shape_data& d) {
    const std::size_t n = random_count(d);
    std::unique_ptr<tnumbrelle> set;
    timed(
        st, [&] { set = std::make_unique<tnumbrelle>(); },
        [&] {
          for (std::size_t k = 0; k < n; ++k) set->include(d.shuffled[k]);
        });
    set_members(st, n, n);
  });
  add_timed("include random", s, kRoaring, [=](benchmark::State& st, shape_data& d) {
    const std::size_t n = random_count(d);
    roaring_ptr r;
    timed(
        st, [&] { r.reset(roaring_bitmap_create()); },
        [&] {
          for (std::size_t k = 0; k < n; ++k) roaring_bitmap_add(r.get(), d.flipped_shuffled[k]);
        });
    set_members(st, n, n);
  });
  add_timed("include random", s, kTree, [=](benchmark::State& st, shape_data& d) {
    const std::size_t n = random_count(d);
    std::set<std::int32_t> set;
    timed(
        st, [&] { set.clear(); },
        [&] {
          for (std::size_t k = 0; k < n; ++k) set.insert(d.shuffled[k]);
        });
    set_members(st, n, n);
  });
  add_timed("include random", s, kHash, [=](benchmark::State& st, shape_data& d) {
    const std::size_t n = random_count(d);
    std::unique_ptr<std::unordered_set<std::int32_t>> set;
    timed(
        st, [&] { set = std::make_unique<std::unordered_set<std::int32_t>>(); },
        [&] {
          for (std::size_t k = 0; k < n; ++k) set->insert(d.shuffled[k]);
        });
    set_members(st, n, n);
  });

  add_timed("include_array", s, kOurs, [](benchmark::State& st, shape_data& d) {
    std::unique_ptr<tnumbrelle> set;
    timed(
        st, [&] { set = std::make_unique<tnumbrelle>(); }, [&] { set->include_array(d.shuffled); });
    set_members(st, d.shuffled.size(), d.shuffled.size());
  });
  add_timed("include_array", s, kRoaring, [](benchmark::State& st, shape_data& d) {
    roaring_ptr r;
    timed(
        st, [&] { r.reset(roaring_bitmap_create()); },
        [&] { roaring_bitmap_add_many(r.get(), d.flipped_shuffled.size(), d.flipped_shuffled.data()); });
    set_members(st, d.shuffled.size(), d.shuffled.size());
  });
  add_timed("include_array", s, kTree, [](benchmark::State& st, shape_data& d) {
    std::set<std::int32_t> set;
    timed(
        st, [&] { set.clear(); }, [&] { set.insert(d.shuffled.begin(), d.shuffled.end()); });
    set_members(st, d.shuffled.size(), d.shuffled.size());
  });
  add_timed("include_array", s, kHash, [](benchmark::State& st, shape_data& d) {
    std::unique_ptr<std::unordered_set<std::int32_t>> set;
    timed(
        st, [&] { set = std::make_unique<std::unordered_set<std::int32_t>>(); },
        [&] { set->insert(d.shuffled.begin(), d.shuffled.end()); });
    set_members(st, d.shuffled.size(), d.shuffled.size());
  });
  add_timed("include_array", s, kVector, [](benchmark::State& st, shape_data& d) {
    values vec;
    timed(
        st, [&] { values().swap(vec); },
        [&] {
          vec.assign(d.shuffled.begin(), d.shuffled.end());
          std::sort(vec.begin(), vec.end());
          vec.erase(std::unique(vec.begin(), vec.end()), vec.end());
        });
    set_members(st, d.shuffled.size(), d.shuffled.size());
  });
}

// Membership tests with values that are members and values that are not.
void register_lookups(std::size_t s) {
  for (const bool hit : {true, false}) {
    const std::string op = hit ? "contains hit" : "contains miss";
    const auto queries = [hit](shape_data& d) -> const values& { return hit ? d.hits : d.misses; };
    add_plain(op, s, kOurs, [=](benchmark::State& st, shape_data& d) {
      const values& q = queries(d);
      for (auto _ : st) {
        std::size_t found = 0;
        for (const std::int32_t v : q) found += d.a.ours.contains(v);
        benchmark::DoNotOptimize(found);
      }
      set_members(st, d.a.sorted.size(), q.size());
    });
    add_plain(op, s, kRoaring, [=](benchmark::State& st, shape_data& d) {
      const std::vector<std::uint32_t> q = flipped_of(queries(d));
      for (auto _ : st) {
        std::size_t found = 0;
        for (const std::uint32_t v : q) found += roaring_bitmap_contains(d.a.roaring.get(), v);
        benchmark::DoNotOptimize(found);
      }
      set_members(st, d.a.sorted.size(), q.size());
    });
    add_plain(op, s, kTree, [=](benchmark::State& st, shape_data& d) {
      const values& q = queries(d);
      const auto& set = d.a.tree();
      for (auto _ : st) {
        std::size_t found = 0;
        for (const std::int32_t v : q) found += set.contains(v);
        benchmark::DoNotOptimize(found);
      }
      set_members(st, d.a.sorted.size(), q.size());
    });
    add_plain(op, s, kHash, [=](benchmark::State& st, shape_data& d) {
      const values& q = queries(d);
      const auto& set = d.a.hash();
      for (auto _ : st) {
        std::size_t found = 0;
        for (const std::int32_t v : q) found += set.contains(v);
        benchmark::DoNotOptimize(found);
      }
      set_members(st, d.a.sorted.size(), q.size());
    });
    add_plain(op, s, kVector, [=](benchmark::State& st, shape_data& d) {
      const values& q = queries(d);
      for (auto _ : st) {
        std::size_t found = 0;
        for (const std::int32_t v : q) found += std::binary_search(d.a.sorted.begin(), d.a.sorted.end(), v);
        benchmark::DoNotOptimize(found);
      }
      set_members(st, d.a.sorted.size(), q.size());
    });
  }
}

// Excluding members in random order from a fresh copy of A. Where almost every member has a block of its own,
// every exclude moves the blocks after it (quadratic by design), so those shapes exclude only 64 values; the
// sorted vector moves its tail on every erase and excludes at most 512.
void register_exclude(std::size_t s) {
  const auto count = [](shape_data& d, bool vector) {
    std::size_t n = d.a.ours.blocks().size() > 100000 ? 64 : std::min<std::size_t>(65536, d.hits.size());
    return vector ? std::min<std::size_t>(n, 512) : n;
  };
  add_timed("exclude", s, kOurs, [=](benchmark::State& st, shape_data& d) {
    const std::size_t n = count(d, false);
    tnumbrelle set;
    timed(
        st, [&] { set.assign(d.a.ours); },
        [&] {
          for (std::size_t k = 0; k < n; ++k) set.exclude(d.shuffled[k]);
        });
    set_members(st, d.a.sorted.size(), n);
  });
  add_timed("exclude", s, kRoaring, [=](benchmark::State& st, shape_data& d) {
    const std::size_t n = count(d, false);
    roaring_ptr r(roaring_bitmap_create());
    timed(
        st, [&] { roaring_bitmap_overwrite(r.get(), d.a.roaring.get()); },
        [&] {
          for (std::size_t k = 0; k < n; ++k) roaring_bitmap_remove(r.get(), d.flipped_shuffled[k]);
        });
    set_members(st, d.a.sorted.size(), n);
  });
  add_timed("exclude", s, kTree, [=](benchmark::State& st, shape_data& d) {
    const std::size_t n = count(d, false);
    std::set<std::int32_t> set;
    timed(
        st, [&] { set = d.a.tree(); },
        [&] {
          for (std::size_t k = 0; k < n; ++k) set.erase(d.shuffled[k]);
        });
    set_members(st, d.a.sorted.size(), n);
  });
  add_timed("exclude", s, kHash, [=](benchmark::State& st, shape_data& d) {
    const std::size_t n = count(d, false);
    std::unordered_set<std::int32_t> set;
    timed(
        st, [&] { set = d.a.hash(); },
        [&] {
          for (std::size_t k = 0; k < n; ++k) set.erase(d.shuffled[k]);
        });
    set_members(st, d.a.sorted.size(), n);
  });
  add_timed("exclude", s, kVector, [=](benchmark::State& st, shape_data& d) {
    const std::size_t n = count(d, true);
    values vec;
    timed(
        st, [&] { vec = d.a.sorted; },
        [&] {
          for (std::size_t k = 0; k < n; ++k) {
            const auto at = std::lower_bound(vec.begin(), vec.end(), d.shuffled[k]);
            if (at != vec.end() && *at == d.shuffled[k]) vec.erase(at);
          }
        });
    set_members(st, d.a.sorted.size(), n);
  });
}

// Reading the whole set: count, enumeration in ascending order, and the members as an array.
void register_reading(std::size_t s) {
  add_plain("count", s, kOurs, [](benchmark::State& st, shape_data& d) {
    for (auto _ : st) benchmark::DoNotOptimize(d.a.ours.count());
    set_members(st, d.a.sorted.size(), 1);
  });
  add_plain("count", s, kRoaring, [](benchmark::State& st, shape_data& d) {
    for (auto _ : st) benchmark::DoNotOptimize(roaring_bitmap_get_cardinality(d.a.roaring.get()));
    set_members(st, d.a.sorted.size(), 1);
  });
  add_plain("count", s, kTree, [](benchmark::State& st, shape_data& d) {
    const auto& set = d.a.tree();
    for (auto _ : st) benchmark::DoNotOptimize(set.size());
    set_members(st, d.a.sorted.size(), 1);
  });

  add_plain("first/next", s, kOurs, [](benchmark::State& st, shape_data& d) {
    for (auto _ : st) {
      std::int64_t sum = 0;
      std::int32_t v = 0;
      for (bool more = d.a.ours.first(v); more; more = d.a.ours.next(v)) sum += v;
      benchmark::DoNotOptimize(sum);
    }
    set_members(st, d.a.sorted.size(), d.a.sorted.size());
  });
  add_plain("first/next", s, kRoaring, [](benchmark::State& st, shape_data& d) {
    for (auto _ : st) {
      std::int64_t sum = 0;
      roaring_uint32_iterator_t it;
      roaring_init_iterator(d.a.roaring.get(), &it);
      for (; it.has_value; roaring_advance_uint32_iterator(&it)) sum += it.current_value;
      benchmark::DoNotOptimize(sum);
    }
    set_members(st, d.a.sorted.size(), d.a.sorted.size());
  });
  add_plain("first/next", s, kTree, [](benchmark::State& st, shape_data& d) {
    const auto& set = d.a.tree();
    for (auto _ : st) {
      std::int64_t sum = 0;
      for (const std::int32_t v : set) sum += v;
      benchmark::DoNotOptimize(sum);
    }
    set_members(st, d.a.sorted.size(), d.a.sorted.size());
  });
  add_plain("first/next", s, kVector, [](benchmark::State& st, shape_data& d) {
    for (auto _ : st) {
      std::int64_t sum = 0;
      for (const std::int32_t v : d.a.sorted) sum += v;
      benchmark::DoNotOptimize(sum);
    }
    set_members(st, d.a.sorted.size(), d.a.sorted.size());
  });

  // Standard iteration over a const set (CRoaring: its iterator again).
  add_plain("range-for", s, kOurs, [](benchmark::State& st, shape_data& d) {
    const tnumbrelle& set = d.a.ours;
    for (auto _ : st) {
      std::int64_t sum = 0;
      for (const std::int32_t v : set) sum += v;
      benchmark::DoNotOptimize(sum);
    }
    set_members(st, d.a.sorted.size(), d.a.sorted.size());
  });
  add_plain("range-for", s, kRoaring, [](benchmark::State& st, shape_data& d) {
    for (auto _ : st) {
      std::int64_t sum = 0;
      roaring_uint32_iterator_t it;
      roaring_init_iterator(d.a.roaring.get(), &it);
      for (; it.has_value; roaring_advance_uint32_iterator(&it)) sum += it.current_value;
      benchmark::DoNotOptimize(sum);
    }
    set_members(st, d.a.sorted.size(), d.a.sorted.size());
  });

  add_plain("to_array", s, kOurs, [](benchmark::State& st, shape_data& d) {
    for (auto _ : st) benchmark::DoNotOptimize(d.a.ours.to_array());
    set_members(st, d.a.sorted.size(), d.a.sorted.size());
  });
  add_plain("to_array", s, kRoaring, [](benchmark::State& st, shape_data& d) {
    for (auto _ : st) {
      std::vector<std::uint32_t> out(roaring_bitmap_get_cardinality(d.a.roaring.get()));
      roaring_bitmap_to_uint32_array(d.a.roaring.get(), out.data());
      benchmark::DoNotOptimize(out);
    }
    set_members(st, d.a.sorted.size(), d.a.sorted.size());
  });
  add_plain("to_array", s, kTree, [](benchmark::State& st, shape_data& d) {
    const auto& set = d.a.tree();
    for (auto _ : st) benchmark::DoNotOptimize(values(set.begin(), set.end()));
    set_members(st, d.a.sorted.size(), d.a.sorted.size());
  });
  add_plain("to_array", s, kVector, [](benchmark::State& st, shape_data& d) {
    for (auto _ : st) benchmark::DoNotOptimize(values(d.a.sorted));
    set_members(st, d.a.sorted.size(), d.a.sorted.size());
  });
}

// The block bytes that one merge walk of A and B reads: both block arrays.
double walked_bytes(shape_data& d) {
  return double(d.a.ours.blocks().size() + d.b.ours.blocks().size()) * sizeof(tblock);
}

// A := A op B on a fresh copy of A in every iteration; the copy is not timed.
void register_combining(std::size_t s) {
  struct combining {
    const char* name;
    void (tnumbrelle::*ours)(const tnumbrelle&);
    void (*roaring)(roaring_bitmap_t*, const roaring_bitmap_t*);
  };
  for (const combining c : {combining{"intersect", &tnumbrelle::intersect, roaring_bitmap_and_inplace},
                            combining{"unite", &tnumbrelle::unite, roaring_bitmap_or_inplace},
                            combining{"subtract", &tnumbrelle::subtract, roaring_bitmap_andnot_inplace}}) {
    const std::string op = c.name;
    add_timed(op, s, kOurs, [c](benchmark::State& st, shape_data& d) {
      tnumbrelle set;
      timed(
          st, [&] { set.assign(d.a.ours); }, [&] { (set.*c.ours)(d.b.ours); });
      set_members(st, d.a.sorted.size(), 1);
      st.SetBytesProcessed(std::int64_t(st.iterations() * walked_bytes(d)));
    });
    add_timed(op, s, kRoaring, [c](benchmark::State& st, shape_data& d) {
      roaring_ptr r(roaring_bitmap_create());
      timed(
          st, [&] { roaring_bitmap_overwrite(r.get(), d.a.roaring.get()); },
          [&] { c.roaring(r.get(), d.b.roaring.get()); });
      set_members(st, d.a.sorted.size(), 1);
    });
    add_timed(op, s, kTree, [op](benchmark::State& st, shape_data& d) {
      std::set<std::int32_t> set;
      const auto& other = d.b.tree();
      timed(
          st, [&] { set = d.a.tree(); },
          [&] {
            if (op == "unite") {
              set.insert(other.begin(), other.end());
              return;
            }
            const bool keep_common = op == "intersect";
            auto j = other.begin();
            for (auto it = set.begin(); it != set.end();) {
              while (j != other.end() && *j < *it) ++j;
              const bool common = j != other.end() && *j == *it;
              it = common == keep_common ? std::next(it) : set.erase(it);
            }
          });
      set_members(st, d.a.sorted.size(), 1);
    });
    add_timed(op, s, kHash, [op](benchmark::State& st, shape_data& d) {
      std::unordered_set<std::int32_t> set;
      const auto& other = d.b.hash();
      timed(
          st, [&] { set = d.a.hash(); },
          [&] {
            if (op == "intersect") {
              std::erase_if(set, [&](std::int32_t v) { return !other.contains(v); });
            } else if (op == "unite") {
              set.insert(other.begin(), other.end());
            } else {
              for (const std::int32_t v : other) set.erase(v);
            }
          });
      set_members(st, d.a.sorted.size(), 1);
    });
    add_timed(op, s, kVector, [op](benchmark::State& st, shape_data& d) {
      values vec, out;
      const values& x = d.a.sorted;
      const values& y = d.b.sorted;
      timed(
          st, [&] { vec = x; },
          [&] {
            out.clear();
            out.reserve(op == "unite" ? x.size() + y.size() : x.size());
            if (op == "intersect") {
              std::set_intersection(vec.begin(), vec.end(), y.begin(), y.end(), std::back_inserter(out));
            } else if (op == "unite") {
              std::set_union(vec.begin(), vec.end(), y.begin(), y.end(), std::back_inserter(out));
            } else {
              std::set_difference(vec.begin(), vec.end(), y.begin(), y.end(), std::back_inserter(out));
            }
            vec.swap(out);
          });
      set_members(st, d.a.sorted.size(), 1);
    });
  }
  // The machine's limit for the walks above: copying the same number of bytes, timed the same way.
  add_timed("memcpy", s, "memcpy", [](benchmark::State& st, shape_data& d) {
    const std::size_t bytes = static_cast<std::size_t>(walked_bytes(d));
    std::vector<char> from(bytes, 1), to(bytes, 0);
    timed(
        st, [] {},
        [&] {
          std::memcpy(to.data(), from.data(), bytes);
          benchmark::ClobberMemory();
        });
    set_members(st, d.a.sorted.size(), 1);
    st.SetBytesProcessed(std::int64_t(st.iterations()) * std::int64_t(bytes));
  });
}

// Subset and equality tests that hold (and so walk everything) and that fail at the first member.
void register_comparisons(std::size_t s) {
  struct comparison {
    const char* name;
    bool subset;
    bool holds;
  };
  for (const comparison c :
       {comparison{"is_subset_of true", true, true}, comparison{"is_subset_of fails early", true, false},
        comparison{"equals true", false, true}, comparison{"equals fails early", false, false}}) {
    const auto other = [c](shape_data& d) -> side_data& {
      if (!c.holds) return d.differs_early();
      return c.subset ? d.superset() : d.copy();
    };
    add_plain(c.name, s, kOurs, [=](benchmark::State& st, shape_data& d) {
      const tnumbrelle& y = other(d).ours;
      for (auto _ : st) benchmark::DoNotOptimize(c.subset ? d.a.ours.is_subset_of(y) : d.a.ours.equals(y));
      set_members(st, d.a.sorted.size(), 1);
    });
    add_plain(c.name, s, kRoaring, [=](benchmark::State& st, shape_data& d) {
      const roaring_bitmap_t* y = other(d).roaring.get();
      for (auto _ : st) {
        benchmark::DoNotOptimize(c.subset ? roaring_bitmap_is_subset(d.a.roaring.get(), y)
                                          : roaring_bitmap_equals(d.a.roaring.get(), y));
      }
      set_members(st, d.a.sorted.size(), 1);
    });
    add_plain(c.name, s, kTree, [=](benchmark::State& st, shape_data& d) {
      const auto& x = d.a.tree();
      const auto& y = other(d).tree();
      for (auto _ : st) {
        benchmark::DoNotOptimize(c.subset ? std::includes(y.begin(), y.end(), x.begin(), x.end()) : x == y);
      }
      set_members(st, d.a.sorted.size(), 1);
    });
    add_plain(c.name, s, kHash, [=](benchmark::State& st, shape_data& d) {
      const auto& x = d.a.hash();
      const auto& y = other(d).hash();
      for (auto _ : st) {
        if (c.subset) {
          benchmark::DoNotOptimize(
              x.size() <= y.size() &&
              std::all_of(x.begin(), x.end(), [&](std::int32_t v) { return y.contains(v); }));
        } else {
          benchmark::DoNotOptimize(x == y);
        }
      }
      set_members(st, d.a.sorted.size(), 1);
    });
    add_plain(c.name, s, kVector, [=](benchmark::State& st, shape_data& d) {
      const values& x = d.a.sorted;
      const values& y = other(d).sorted;
      for (auto _ : st) {
        benchmark::DoNotOptimize(c.subset ? std::includes(y.begin(), y.end(), x.begin(), x.end()) : x == y);
      }
      set_members(st, d.a.sorted.size(), 1);
    });
  }
}

// Saving to and loading from memory: ours in its file form, CRoaring in its portable form (also after
// run_optimize, which a user who cares about size would call first). Loads go into a fresh set.
void register_files(std::size_t s) {
  struct saved {
    std::vector<char> bytes;
    std::unique_ptr<memory_buffer> buffer;
  };
  const auto ours_bytes_of = [](const tnumbrelle& set) {
    std::ostringstream sizing;
    set.save_to_stream(sizing);
    saved out;
    const std::string bytes = sizing.str();
    out.bytes.assign(bytes.begin(), bytes.end());
    out.buffer = std::make_unique<memory_buffer>(out.bytes);
    return out;
  };
  add_timed("save", s, kOurs, [=](benchmark::State& st, shape_data& d) {
    saved out = ours_bytes_of(d.a.ours);
    std::ostream stream(out.buffer.get());
    timed(
        st, [&] { out.buffer->rewind(); }, [&] { d.a.ours.save_to_stream(stream); });
    set_members(st, d.a.sorted.size(), 1);
    st.counters["file_bytes"] = double(out.bytes.size());
  });
  add_timed("load", s, kOurs, [=](benchmark::State& st, shape_data& d) {
    saved in = ours_bytes_of(d.a.ours);
    std::istream stream(in.buffer.get());
    std::unique_ptr<tnumbrelle> set;
    timed(
        st,
        [&] {
          in.buffer->rewind();
          stream.clear();
          set = std::make_unique<tnumbrelle>();
        },
        [&] { set->load_from_stream(stream); });
    set_members(st, d.a.sorted.size(), 1);
    st.counters["file_bytes"] = double(in.bytes.size());
  });
  for (const bool runs : {false, true}) {
    const char* peer = runs ? kRoaringRuns : kRoaring;
    const auto bitmap = [runs](shape_data& d) {
      roaring_ptr r(roaring_bitmap_copy(d.a.roaring.get()));
      if (runs) roaring_bitmap_run_optimize(r.get());
      return r;
    };
    add_timed("save", s, peer, [=](benchmark::State& st, shape_data& d) {
      const roaring_ptr r = bitmap(d);
      std::vector<char> bytes(roaring_bitmap_portable_size_in_bytes(r.get()));
      timed(
          st, [] {}, [&] { roaring_bitmap_portable_serialize(r.get(), bytes.data()); });
      set_members(st, d.a.sorted.size(), 1);
      st.counters["file_bytes"] = double(bytes.size());
    });
    add_timed("load", s, peer, [=](benchmark::State& st, shape_data& d) {
      const roaring_ptr r = bitmap(d);
      std::vector<char> bytes(roaring_bitmap_portable_size_in_bytes(r.get()));
      roaring_bitmap_portable_serialize(r.get(), bytes.data());
      roaring_ptr loaded;
      timed(
          st, [&] { loaded.reset(); },
          [&] { loaded.reset(roaring_bitmap_portable_deserialize_safe(bytes.data(), bytes.size())); });
      set_members(st, d.a.sorted.size(), 1);
      st.counters["file_bytes"] = double(bytes.size());
    });
  }
}

// The portable Roaring format in memory, on the clustered and uniform shapes. Ours writes the smallest
// containers, the same bytes as CRoaring after run_optimize; CRoaring writes the containers add_many built,
// and +runs those after run_optimize. "roaring read" reads each writer's own bytes; "roaring read, no runs"
// has both read CRoaring's bytes without run containers. Loads go into a fresh set or bitmap.
void register_roaring_format(std::size_t s) {
  const std::string shape = all_shapes[s].name;
  if (shape != "clustered" && shape.rfind("uniform", 0) != 0) return;
  const auto ours_bytes_of = [](const tnumbrelle& set) {
    std::ostringstream out;
    intset::save_roaring_to_stream(set, out);
    const std::string bytes = out.str();
    return std::vector<char>(bytes.begin(), bytes.end());
  };
  const auto roaring_bytes_of = [](shape_data& d, bool runs) {
    roaring_ptr r(roaring_bitmap_copy(d.a.roaring.get()));
    if (runs) roaring_bitmap_run_optimize(r.get());
    std::vector<char> bytes(roaring_bitmap_portable_size_in_bytes(r.get()));
    roaring_bitmap_portable_serialize(r.get(), bytes.data());
    return bytes;
  };
  const auto read_ours = [](benchmark::State& st, shape_data& d, std::vector<char> bytes) {
    memory_buffer buffer(bytes);
    std::istream stream(&buffer);
    std::unique_ptr<tnumbrelle> set;
    timed(
        st,
        [&] {
          buffer.rewind();
          stream.clear();
          set = std::make_unique<tnumbrelle>();
        },
        [&] { intset::load_roaring_from_stream(*set, stream); });
    set_members(st, d.a.sorted.size(), 1);
    st.counters["file_bytes"] = double(bytes.size());
  };
  const auto read_roaring = [](benchmark::State& st, shape_data& d, const std::vector<char>& bytes) {
    roaring_ptr loaded;
    timed(
        st, [&] { loaded.reset(); },
        [&] { loaded.reset(roaring_bitmap_portable_deserialize_safe(bytes.data(), bytes.size())); });
    set_members(st, d.a.sorted.size(), 1);
    st.counters["file_bytes"] = double(bytes.size());
  };

  add_timed("roaring write", s, kOurs, [=](benchmark::State& st, shape_data& d) {
    std::vector<char> bytes = ours_bytes_of(d.a.ours);
    memory_buffer buffer(bytes);
    std::ostream stream(&buffer);
    timed(
        st, [&] { buffer.rewind(); }, [&] { intset::save_roaring_to_stream(d.a.ours, stream); });
    set_members(st, d.a.sorted.size(), 1);
    st.counters["file_bytes"] = double(bytes.size());
  });
  for (const bool runs : {false, true}) {
    add_timed("roaring write", s, runs ? kRoaringRuns : kRoaring, [=](benchmark::State& st, shape_data& d) {
      roaring_ptr r(roaring_bitmap_copy(d.a.roaring.get()));
      if (runs) roaring_bitmap_run_optimize(r.get());
      std::vector<char> bytes(roaring_bitmap_portable_size_in_bytes(r.get()));
      timed(
          st, [] {}, [&] { roaring_bitmap_portable_serialize(r.get(), bytes.data()); });
      set_members(st, d.a.sorted.size(), 1);
      st.counters["file_bytes"] = double(bytes.size());
    });
  }
  add_timed("roaring read", s, kOurs,
            [=](benchmark::State& st, shape_data& d) { read_ours(st, d, ours_bytes_of(d.a.ours)); });
  for (const bool runs : {false, true}) {
    add_timed("roaring read", s, runs ? kRoaringRuns : kRoaring,
              [=](benchmark::State& st, shape_data& d) { read_roaring(st, d, roaring_bytes_of(d, runs)); });
  }
  add_timed("roaring read, no runs", s, kOurs,
            [=](benchmark::State& st, shape_data& d) { read_ours(st, d, roaring_bytes_of(d, false)); });
  add_timed("roaring read, no runs", s, kRoaring,
            [=](benchmark::State& st, shape_data& d) { read_roaring(st, d, roaring_bytes_of(d, false)); });
}

// Memory per member. Ours: capacity x 36 bytes. CRoaring: see roaring_bytes(), as add_many leaves it (after
// shrink_to_fit) and after run_optimize. Standard containers: the bytes their allocator holds.
void register_memory(std::size_t s) {
  const auto report = [](benchmark::State& st, shape_data& d, double bytes) {
    for (auto _ : st) {
    }
    st.counters["members"] = double(d.a.sorted.size());
    st.counters["bytes"] = bytes;
    st.counters["bits_per_member"] = bytes * 8 / double(d.a.sorted.size());
  };
  add("memory", s, kOurs, [=](benchmark::State& st, shape_data& d) {
    st.counters["blocks"] = double(d.a.ours.blocks().size());
    report(st, d, ours_bytes(d.a.ours));
  })->Iterations(1);
  add("memory", s, kRoaring, [=](benchmark::State& st, shape_data& d) {
    const double before = heap_in_use();
    roaring_ptr r = roaring_of(d.flipped_shuffled);
    roaring_bitmap_shrink_to_fit(r.get());
    st.counters["heap_bytes"] = heap_in_use() - before;
    st.counters["containers"] = double(r->high_low_container.size);
    report(st, d, roaring_bytes(r.get()));
  })->Iterations(1);
  add("memory", s, kRoaringRuns, [=](benchmark::State& st, shape_data& d) {
    const double before = heap_in_use();
    roaring_ptr r = roaring_of(d.flipped_shuffled);
    roaring_bitmap_run_optimize(r.get());
    roaring_bitmap_shrink_to_fit(r.get());
    st.counters["heap_bytes"] = heap_in_use() - before;
    report(st, d, roaring_bytes(r.get()));
  })->Iterations(1);
  add("memory", s, kTree, [=](benchmark::State& st, shape_data& d) {
    const std::size_t before = bench::live_bytes;
    std::set<std::int32_t, std::less<>, bench::counting_allocator<std::int32_t>> set(d.shuffled.begin(),
                                                                                     d.shuffled.end());
    report(st, d, double(bench::live_bytes - before));
  })->Iterations(1);
  add("memory", s, kHash, [=](benchmark::State& st, shape_data& d) {
    const std::size_t before = bench::live_bytes;
    std::unordered_set<std::int32_t, std::hash<std::int32_t>, std::equal_to<>,
                       bench::counting_allocator<std::int32_t>>
        set(d.shuffled.begin(), d.shuffled.end());
    report(st, d, double(bench::live_bytes - before));
  })->Iterations(1);
  add("memory", s, kVector, [=](benchmark::State& st, shape_data& d) {
    const std::size_t before = bench::live_bytes;
    std::vector<std::int32_t, bench::counting_allocator<std::int32_t>> vec(d.a.sorted.begin(),
                                                                           d.a.sorted.end());
    report(st, d, double(bench::live_bytes - before));
  })->Iterations(1);
}

// --- Crossovers: where the block layout stops paying
// ----------------------------------------------------------

// Random-order include of n values spread over the whole range: each value makes a block of its own, and
// every new block moves the blocks after it. Per value this grows with n, against std::set's log n.
void register_random_include_sweep() {
  static const auto sparse_values = [] {
    std::mt19937_64 rng(77);
    values v = make_sparse(32768, rng);
    std::shuffle(v.begin(), v.end(), rng);
    return v;
  }();
  for (const std::size_t n : {8, 16, 32, 64, 256, 1024, 4096, 16384, 32768}) {
    const std::string prefix = "include random, n values over the whole range/" + std::to_string(n) + "/";
    benchmark::RegisterBenchmark((prefix + kOurs).c_str(),
                                 [n](benchmark::State& st) {
                                   std::unique_ptr<tnumbrelle> set;
                                   timed(
                                       st, [&] { set = std::make_unique<tnumbrelle>(); },
                                       [&] {
                                         for (std::size_t k = 0; k < n; ++k) set->include(sparse_values[k]);
                                       });
                                   set_members(st, n, n);
                                 })
        ->UseManualTime()
        ->Iterations(1);
    benchmark::RegisterBenchmark((prefix + kRoaring).c_str(),
                                 [n](benchmark::State& st) {
                                   roaring_ptr r;
                                   timed(
                                       st, [&] { r.reset(roaring_bitmap_create()); },
                                       [&] {
                                         for (std::size_t k = 0; k < n; ++k)
                                           roaring_bitmap_add(r.get(), flip(sparse_values[k]));
                                       });
                                   set_members(st, n, n);
                                 })
        ->UseManualTime()
        ->Iterations(1);
    benchmark::RegisterBenchmark((prefix + kTree).c_str(),
                                 [n](benchmark::State& st) {
                                   std::set<std::int32_t> set;
                                   timed(
                                       st, [&] { set.clear(); },
                                       [&] {
                                         for (std::size_t k = 0; k < n; ++k) set.insert(sparse_values[k]);
                                       });
                                   set_members(st, n, n);
                                 })
        ->UseManualTime()
        ->Iterations(1);
    benchmark::RegisterBenchmark(
        (prefix + kVector).c_str(),
        [n](benchmark::State& st) {
          values vec;
          timed(
              st, [&] { values().swap(vec); },
              [&] {
                for (std::size_t k = 0; k < n; ++k) {
                  vec.insert(std::lower_bound(vec.begin(), vec.end(), sparse_values[k]), sparse_values[k]);
                }
              });
          set_members(st, n, n);
        })
        ->UseManualTime()
        ->Iterations(1);
  }
}

// Memory per member as the density falls: a block costs 36 bytes however few members it holds.
void register_density_sweep() {
  for (const int spacing : {2, 4, 8, 16, 32, 64, 256, 4096}) {
    const std::string prefix = "memory, uniform density/1 in " + std::to_string(spacing) + "/";
    const auto members = [spacing] {
      std::mt19937_64 rng(100 + spacing);
      const double n = double(scaled(262144));
      return make_uniform(1.0 / spacing, 0, std::int64_t(n * spacing), rng);
    };
    const auto report = [](benchmark::State& st, double bytes, std::size_t n) {
      for (auto _ : st) {
      }
      st.counters["members"] = double(n);
      st.counters["bits_per_member"] = bytes * 8 / double(n);
    };
    benchmark::RegisterBenchmark((prefix + kOurs).c_str(), [=](benchmark::State& st) {
      const values v = members();
      tnumbrelle set;
      set.include_array(v);
      report(st, ours_bytes(set), v.size());
    })->Iterations(1);
    for (const bool runs : {false, true}) {
      benchmark::RegisterBenchmark((prefix + (runs ? kRoaringRuns : kRoaring)).c_str(),
                                   [=](benchmark::State& st) {
                                     const values v = members();
                                     roaring_ptr r = roaring_of(flipped_of(v));
                                     if (runs) roaring_bitmap_run_optimize(r.get());
                                     roaring_bitmap_shrink_to_fit(r.get());
                                     report(st, roaring_bytes(r.get()), v.size());
                                   })
          ->Iterations(1);
    }
  }
}

// --- Ranges, order statistics, counting without building, copies ------------------------------------------

// Changing A by 256 closed ranges of up to 2,048 values anywhere in its span, on a fresh copy; time per
// range.
void register_range_changes(std::size_t s) {
  for (const bool include : {true, false}) {
    const std::string op = include ? "include_range" : "exclude_range";
    add_timed(op, s, kOurs, [include](benchmark::State& st, shape_data& d) {
      tnumbrelle set;
      timed(
          st, [&] { set.assign(d.a.ours); },
          [&] {
            for (const auto& [lo, hi] : d.edit_ranges)
              include ? set.include_range(lo, hi) : set.exclude_range(lo, hi);
          });
      set_members(st, d.a.sorted.size(), d.edit_ranges.size());
    });
    add_timed(op, s, kRoaring, [include](benchmark::State& st, shape_data& d) {
      roaring_ptr r(roaring_bitmap_create());
      timed(
          st, [&] { roaring_bitmap_overwrite(r.get(), d.a.roaring.get()); },
          [&] {
            for (const auto& [lo, hi] : d.edit_ranges) {
              include ? roaring_bitmap_add_range_closed(r.get(), flip(lo), flip(hi))
                      : roaring_bitmap_remove_range_closed(r.get(), flip(lo), flip(hi));
            }
          });
      set_members(st, d.a.sorted.size(), d.edit_ranges.size());
    });
  }
}

// Queries that read a set: over ranges of up to 65,536 values, and of one value. Time per query.
void register_queries(std::size_t s) {
  const auto per_query = [](benchmark::State& st, shape_data& d, std::size_t n) {
    set_members(st, d.a.sorted.size(), n);
  };
  add_plain("count_range", s, kOurs, [=](benchmark::State& st, shape_data& d) {
    for (auto _ : st) {
      std::int64_t sum = 0;
      for (const auto& [lo, hi] : d.query_ranges) sum += d.a.ours.count_range(lo, hi);
      benchmark::DoNotOptimize(sum);
    }
    per_query(st, d, d.query_ranges.size());
  });
  add_plain("count_range", s, kRoaring, [=](benchmark::State& st, shape_data& d) {
    for (auto _ : st) {
      std::uint64_t sum = 0;
      for (const auto& [lo, hi] : d.query_ranges) {
        sum += roaring_bitmap_range_cardinality(d.a.roaring.get(), flip(lo), std::uint64_t{flip(hi)} + 1);
      }
      benchmark::DoNotOptimize(sum);
    }
    per_query(st, d, d.query_ranges.size());
  });
  add_plain("contains_range", s, kOurs, [=](benchmark::State& st, shape_data& d) {
    for (auto _ : st) {
      std::size_t found = 0;
      for (const auto& [lo, hi] : d.query_ranges) found += d.a.ours.contains_range(lo, lo + (hi - lo) / 64);
      benchmark::DoNotOptimize(found);
    }
    per_query(st, d, d.query_ranges.size());
  });
  add_plain("contains_range", s, kRoaring, [=](benchmark::State& st, shape_data& d) {
    for (auto _ : st) {
      std::size_t found = 0;
      for (const auto& [lo, hi] : d.query_ranges) {
        found += roaring_bitmap_contains_range(d.a.roaring.get(), flip(lo),
                                               std::uint64_t{flip(lo + (hi - lo) / 64)} + 1);
      }
      benchmark::DoNotOptimize(found);
    }
    per_query(st, d, d.query_ranges.size());
  });
  add_plain("rank", s, kOurs, [=](benchmark::State& st, shape_data& d) {
    for (auto _ : st) {
      std::int64_t sum = 0;
      for (const std::int32_t v : d.probes) sum += d.a.ours.rank(v);
      benchmark::DoNotOptimize(sum);
    }
    per_query(st, d, d.probes.size());
  });
  add_plain("rank", s, kRoaring, [=](benchmark::State& st, shape_data& d) {
    for (auto _ : st) {
      std::uint64_t sum = 0;
      for (const std::int32_t v : d.probes) sum += roaring_bitmap_rank(d.a.roaring.get(), flip(v));
      benchmark::DoNotOptimize(sum);
    }
    per_query(st, d, d.probes.size());
  });
  add_plain("select", s, kOurs, [=](benchmark::State& st, shape_data& d) {
    for (auto _ : st) {
      std::int64_t sum = 0;
      for (const std::int64_t k : d.ranks) sum += *d.a.ours.select(k);
      benchmark::DoNotOptimize(sum);
    }
    per_query(st, d, d.ranks.size());
  });
  add_plain("select", s, kRoaring, [=](benchmark::State& st, shape_data& d) {
    for (auto _ : st) {
      std::uint64_t sum = 0;
      std::uint32_t v = 0;
      for (const std::int64_t k : d.ranks) {
        roaring_bitmap_select(d.a.roaring.get(), static_cast<std::uint32_t>(k), &v);
        sum += v;
      }
      benchmark::DoNotOptimize(sum);
    }
    per_query(st, d, d.ranks.size());
  });
  add_plain("lower_bound", s, kOurs, [=](benchmark::State& st, shape_data& d) {
    const tnumbrelle& set = d.a.ours;
    for (auto _ : st) {
      std::int64_t sum = 0;
      for (const std::int32_t v : d.probes) {
        const auto it = set.lower_bound(v);
        if (it != set.end()) sum += *it;
      }
      benchmark::DoNotOptimize(sum);
    }
    per_query(st, d, d.probes.size());
  });
  add_plain("lower_bound", s, kRoaring, [=](benchmark::State& st, shape_data& d) {
    roaring_uint32_iterator_t it;
    roaring_init_iterator(d.a.roaring.get(), &it);
    for (auto _ : st) {
      std::int64_t sum = 0;
      for (const std::int32_t v : d.probes) {
        if (roaring_move_uint32_iterator_equalorlarger(&it, flip(v))) sum += it.current_value;
      }
      benchmark::DoNotOptimize(sum);
    }
    per_query(st, d, d.probes.size());
  });
  add_plain("lowest and highest", s, kOurs, [](benchmark::State& st, shape_data& d) {
    for (auto _ : st) benchmark::DoNotOptimize(*d.a.ours.lowest() + std::int64_t{*d.a.ours.highest()});
    set_members(st, d.a.sorted.size(), 1);
  });
  add_plain("lowest and highest", s, kRoaring, [](benchmark::State& st, shape_data& d) {
    for (auto _ : st) {
      benchmark::DoNotOptimize(std::uint64_t{roaring_bitmap_minimum(d.a.roaring.get())} +
                               roaring_bitmap_maximum(d.a.roaring.get()));
    }
    set_members(st, d.a.sorted.size(), 1);
  });
}

// A million lookups at once: contains_many, rank_many and select_many beside the loops of the single-value
// forms (ours, and CRoaring's, whose values and ranks are the same), in random and in ascending order; and
// enumerating the whole set through members_from() with a 256-value buffer.
void register_batches(std::size_t s) {
  for (const bool ascending : {false, true}) {
    const std::string order = ascending ? " ascending" : " random";
    const auto pick = [ascending](const shape_data::batch& b) -> const values& {
      return ascending ? b.ascending : b.random;
    };
    const auto pick_ranks = [ascending](const shape_data::batch& b) -> const std::vector<std::int64_t>& {
      return ascending ? b.ascending_ranks : b.random_ranks;
    };
    add_plain("contains_many" + order, s, kOurs, [=](benchmark::State& st, shape_data& d) {
      const values& q = pick(d.batches());
      std::unique_ptr<bool[]> out(new bool[q.size()]);
      for (auto _ : st) {
        d.a.ours.contains_many(q, {out.get(), q.size()});
        benchmark::DoNotOptimize(out.get());
      }
      set_members(st, d.a.sorted.size(), q.size());
    });
    add_plain("contains loop" + order, s, kOurs, [=](benchmark::State& st, shape_data& d) {
      const values& q = pick(d.batches());
      std::unique_ptr<bool[]> out(new bool[q.size()]);
      for (auto _ : st) {
        for (std::size_t i = 0; i < q.size(); ++i) out[i] = d.a.ours.contains(q[i]);
        benchmark::DoNotOptimize(out.get());
      }
      set_members(st, d.a.sorted.size(), q.size());
    });
    add_plain("contains_many" + order, s, kRoaring, [=](benchmark::State& st, shape_data& d) {
      const std::vector<std::uint32_t>& q =
          ascending ? d.batches().flipped_ascending : d.batches().flipped_random;
      std::unique_ptr<bool[]> out(new bool[q.size()]);
      for (auto _ : st) {
        for (std::size_t i = 0; i < q.size(); ++i) out[i] = roaring_bitmap_contains(d.a.roaring.get(), q[i]);
        benchmark::DoNotOptimize(out.get());
      }
      set_members(st, d.a.sorted.size(), q.size());
    });
    add_plain("rank_many" + order, s, kOurs, [=](benchmark::State& st, shape_data& d) {
      const values& q = pick(d.batches());
      std::vector<std::int64_t> out(q.size());
      for (auto _ : st) {
        d.a.ours.rank_many(q, out);
        benchmark::DoNotOptimize(out.data());
      }
      set_members(st, d.a.sorted.size(), q.size());
    });
    add_plain("rank_many" + order, s, kRoaring, [=](benchmark::State& st, shape_data& d) {
      const std::vector<std::uint32_t>& q =
          ascending ? d.batches().flipped_ascending : d.batches().flipped_random;
      std::vector<std::uint64_t> out(q.size());
      for (auto _ : st) {
        for (std::size_t i = 0; i < q.size(); ++i) out[i] = roaring_bitmap_rank(d.a.roaring.get(), q[i]);
        benchmark::DoNotOptimize(out.data());
      }
      set_members(st, d.a.sorted.size(), q.size());
    });
    add_plain("select_many" + order, s, kOurs, [=](benchmark::State& st, shape_data& d) {
      const std::vector<std::int64_t>& k = pick_ranks(d.batches());
      values out(k.size());
      for (auto _ : st) {
        d.a.ours.select_many(k, out);
        benchmark::DoNotOptimize(out.data());
      }
      set_members(st, d.a.sorted.size(), k.size());
    });
    add_plain("select_many" + order, s, kRoaring, [=](benchmark::State& st, shape_data& d) {
      const std::vector<std::int64_t>& k = pick_ranks(d.batches());
      std::vector<std::uint32_t> out(k.size());
      for (auto _ : st) {
        for (std::size_t i = 0; i < k.size(); ++i) {
          roaring_bitmap_select(d.a.roaring.get(), static_cast<std::uint32_t>(k[i]), &out[i]);
        }
        benchmark::DoNotOptimize(out.data());
      }
      set_members(st, d.a.sorted.size(), k.size());
    });
  }
  add_plain("members_from", s, kOurs, [](benchmark::State& st, shape_data& d) {
    const tnumbrelle& set = d.a.ours;
    std::int32_t buffer[256];
    for (auto _ : st) {
      for (std::int64_t from = INT32_MIN; from <= INT32_MAX;) {
        const std::span<std::int32_t> got = set.members_from(static_cast<std::int32_t>(from), buffer);
        if (got.empty()) break;
        benchmark::DoNotOptimize(got.data());
        from = std::int64_t{got.back()} + 1;
      }
    }
    set_members(st, d.a.sorted.size(), d.a.sorted.size());
  });
}

// The member count of A op B without building it, whether A and B meet, A := A xor B, and a copy of A.
void register_counting_and_copies(std::size_t s) {
  struct counting {
    const char* name;
    std::int64_t (tnumbrelle::*ours)(const tnumbrelle&) const;
    std::uint64_t (*roaring)(const roaring_bitmap_t*, const roaring_bitmap_t*);
  };
  for (const counting c :
       {counting{"intersect_count", &tnumbrelle::intersect_count, roaring_bitmap_and_cardinality},
        counting{"unite_count", &tnumbrelle::unite_count, roaring_bitmap_or_cardinality},
        counting{"subtract_count", &tnumbrelle::subtract_count, roaring_bitmap_andnot_cardinality},
        counting{"invert_count", &tnumbrelle::invert_count, roaring_bitmap_xor_cardinality}}) {
    add_plain(c.name, s, kOurs, [c](benchmark::State& st, shape_data& d) {
      for (auto _ : st) benchmark::DoNotOptimize((d.a.ours.*c.ours)(d.b.ours));
      set_members(st, d.a.sorted.size(), 1);
    });
    add_plain(c.name, s, kRoaring, [c](benchmark::State& st, shape_data& d) {
      for (auto _ : st) benchmark::DoNotOptimize(c.roaring(d.a.roaring.get(), d.b.roaring.get()));
      set_members(st, d.a.sorted.size(), 1);
    });
  }
  add_plain("intersects", s, kOurs, [](benchmark::State& st, shape_data& d) {
    for (auto _ : st) benchmark::DoNotOptimize(d.a.ours.intersects(d.b.ours));
    set_members(st, d.a.sorted.size(), 1);
  });
  add_plain("intersects", s, kRoaring, [](benchmark::State& st, shape_data& d) {
    for (auto _ : st)
      benchmark::DoNotOptimize(roaring_bitmap_intersect(d.a.roaring.get(), d.b.roaring.get()));
    set_members(st, d.a.sorted.size(), 1);
  });
  add_timed("invert", s, kOurs, [](benchmark::State& st, shape_data& d) {
    tnumbrelle set;
    timed(
        st, [&] { set.assign(d.a.ours); }, [&] { set.invert(d.b.ours); });
    set_members(st, d.a.sorted.size(), 1);
  });
  add_timed("invert", s, kRoaring, [](benchmark::State& st, shape_data& d) {
    roaring_ptr r(roaring_bitmap_create());
    timed(
        st, [&] { roaring_bitmap_overwrite(r.get(), d.a.roaring.get()); },
        [&] { roaring_bitmap_xor_inplace(r.get(), d.b.roaring.get()); });
    set_members(st, d.a.sorted.size(), 1);
  });
  add_timed("copy", s, kOurs, [](benchmark::State& st, shape_data& d) {
    std::unique_ptr<tnumbrelle> set;
    timed(
        st, [&] { set.reset(); }, [&] { set = std::make_unique<tnumbrelle>(d.a.ours); });
    set_members(st, d.a.sorted.size(), 1);
  });
  add_timed("copy", s, kRoaring, [](benchmark::State& st, shape_data& d) {
    roaring_ptr r;
    timed(
        st, [&] { r.reset(); }, [&] { r.reset(roaring_bitmap_copy(d.a.roaring.get())); });
    set_members(st, d.a.sorted.size(), 1);
  });
}

void register_all() {
  all_shapes = shapes();
  for (std::size_t s = 0; s < all_shapes.size(); ++s) {
    register_memory(s);
    register_building(s);
    register_lookups(s);
    register_exclude(s);
    register_reading(s);
    register_combining(s);
    register_comparisons(s);
    register_range_changes(s);
    register_queries(s);
    register_batches(s);
    register_counting_and_copies(s);
    register_files(s);
    register_roaring_format(s);
  }
  register_random_include_sweep();
  register_density_sweep();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args;
  bool min_time_given = false;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--peers_scale=", 0) == 0) {
      scale = std::stod(arg.substr(14));
      continue;
    }
    if (arg.rfind("--benchmark_repetitions=", 0) == 0)
      benchmark::AddCustomContext("repetitions", arg.substr(24));
    if (arg.rfind("--benchmark_min_time=", 0) == 0) {
      min_time_given = true;
      min_time = std::stod(arg.substr(21));
    }
    args.push_back(argv[i]);
  }
  std::string default_min_time = "--benchmark_min_time=0.05";
  if (!min_time_given) args.insert(args.begin() + 1, default_min_time.data());
  int count = static_cast<int>(args.size());

  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.rfind("model name", 0) == 0 && line.find(':') != std::string::npos) {
      benchmark::AddCustomContext("cpu_model", line.substr(line.find(':') + 2));
      break;
    }
  }
  benchmark::AddCustomContext("compiler", NUMBRELLE_BENCH_COMPILER);
  benchmark::AddCustomContext("compiler_flags", NUMBRELLE_BENCH_FLAGS);
  benchmark::AddCustomContext("croaring_version", std::to_string(ROARING_VERSION_MAJOR) + "." +
                                                      std::to_string(ROARING_VERSION_MINOR) + "." +
                                                      std::to_string(ROARING_VERSION_REVISION));
  benchmark::AddCustomContext("peers_scale", std::to_string(scale));
  for (const shape_recipe& recipe : shapes()) {
    benchmark::AddCustomContext(std::string("shape ") + recipe.name, recipe.description);
  }

  register_all();
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
