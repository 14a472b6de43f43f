// Randomized differential checks of tnumbrelle against std::set<std::int32_t>, and of its enumeration
// cursor against a model that advances one bit at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <sstream>
#include <string>

#include "intset/block_ops.h"
#include "intset/dispatch.h"
#include "set_helpers.h"

namespace {

using namespace testing_helpers;

// Values drawn from shapes that stress different paths: a few dense blocks, negatives around zero, block
// boundaries, both ends of the range, and the whole range.
class value_source {
 public:
  explicit value_source(std::uint32_t seed) : rng_(seed) {}
  std::int32_t operator()() {
    switch (pick(6)) {
      case 0:
        return static_cast<std::int32_t>(pick(1024)) - 512;
      case 1:
        return static_cast<std::int32_t>(pick(8)) * 256 + static_cast<std::int32_t>(pick(3)) - 1;
      case 2:
        return kMin + static_cast<std::int32_t>(pick(600));
      case 3:
        return kMax - static_cast<std::int32_t>(pick(600));
      case 4:
        return static_cast<std::int32_t>(pick(200000)) - 100000;
      default:
        return static_cast<std::int32_t>(rng_());
    }
  }
  std::uint32_t pick(std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng_); }

 private:
  std::mt19937 rng_;
};

void expect_matches(tnumbrelle& set, const std::set<std::int32_t>& model) {
  const auto expected = as_vector(model);
  ASSERT_EQ(set.to_array(), expected);
  ASSERT_EQ(set.size(), static_cast<std::int64_t>(model.size()));
  ASSERT_EQ(set.count(), static_cast<std::int32_t>(model.size()));
  ASSERT_EQ(set.is_empty(), model.empty());
  const auto blocks = set.blocks();
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    if (i > 0) {
      ASSERT_LT(blocks[i - 1].key, blocks[i].key);
    }
    ASSERT_TRUE(std::any_of(std::begin(blocks[i].bits), std::end(blocks[i].bits), [](auto b) { return b; }));
  }
  ASSERT_LE(blocks.size(), static_cast<std::size_t>(set.capacity()));
}

bool model_subset(const std::set<std::int32_t>& a, const std::set<std::int32_t>& b) {
  return std::includes(b.begin(), b.end(), a.begin(), a.end());
}

TEST(Differential, MixedOperationsAgreeWithStdSet) {
  value_source next_value(20261208);
  tnumbrelle sets[2];
  std::set<std::int32_t> models[2];
  for (int step = 0; step < 6000; ++step) {
    const int x = static_cast<int>(next_value.pick(2)), y = 1 - x;
    tnumbrelle& a = sets[x];
    std::set<std::int32_t>& ma = models[x];
    const std::int32_t v = next_value();
    switch (next_value.pick(16)) {
      case 0:
      case 1:
      case 2:
      case 3:
        a.include(v);
        ma.insert(v);
        break;
      case 4:
      case 5: {
        // Exclude a member as often as a non-member.
        const std::int32_t target =
            ma.empty() || next_value.pick(2)
                ? v
                : *std::next(ma.begin(), next_value.pick(static_cast<std::uint32_t>(ma.size())));
        a.exclude(target);
        ma.erase(target);
        break;
      }
      case 6:
        a.invert(v);
        if (!ma.erase(v)) ma.insert(v);
        break;
      case 7:
        ASSERT_EQ(a.contains(v), ma.count(v) == 1);
        break;
      case 8: {
        std::vector<std::int32_t> values(next_value.pick(300));
        for (auto& value : values) value = next_value();
        if (next_value.pick(2)) std::sort(values.begin(), values.end());  // as to_array() gives them
        tnumbrelle loop;
        loop.assign(a);
        for (const std::int32_t value : values) loop.include(value);
        a.include_array(values);
        ASSERT_TRUE(same_layout(a, loop)) << "step " << step;
        ma.insert(values.begin(), values.end());
        break;
      }
      case 9:
        a.intersect(sets[y]);
        std::erase_if(ma, [&](std::int32_t m) { return !models[y].count(m); });
        break;
      case 10:
        a.unite(sets[y]);
        ma.insert(models[y].begin(), models[y].end());
        break;
      case 11:
        a.subtract(sets[y]);
        for (const std::int32_t m : models[y]) ma.erase(m);
        break;
      case 12:
        ASSERT_EQ(a.is_subset_of(sets[y]), model_subset(ma, models[y]));
        ASSERT_EQ(a.is_superset_of(sets[y]), model_subset(models[y], ma));
        ASSERT_EQ(a.equals(sets[y]), ma == models[y]);
        break;
      case 13:
        if (next_value.pick(20) == 0) {
          a.clear();
          ma.clear();
        }
        break;
      case 14:
        if (next_value.pick(4) == 0) {
          a.assign(sets[y]);
          ma = models[y];
        }
        break;
      default:
        ASSERT_EQ(enumerate(a), as_vector(ma));
        break;
    }
    ASSERT_NO_FATAL_FAILURE(expect_matches(a, ma)) << "step " << step;
  }
}

TEST(Differential, SelfAliasingAgreesWithStdSet) {
  value_source next_value(7);
  for (int round = 0; round < 50; ++round) {
    tnumbrelle a;
    std::vector<std::int32_t> values(next_value.pick(500));
    for (auto& value : values) value = next_value();
    a.include_array(values);
    const std::set<std::int32_t> model(values.begin(), values.end());
    a.unite(a);
    expect_matches(a, model);
    a.intersect(a);
    expect_matches(a, model);
    ASSERT_TRUE(a.is_subset_of(a) && a.is_superset_of(a) && a.equals(a));
    a.subtract(a);
    expect_matches(a, {});
  }
}

// Values spread over the range are sorted; many values over few blocks (the clustered ones, 20000 over about
// 2300 blocks) are marked in place: both leave what the loop leaves, merged with blocks the set had.
TEST(Differential, IncludeArrayOfLargeUnsortedInputMatchesTheLoop) {
  value_source next_value(99);
  std::mt19937 rng(98);
  for (const bool clustered : {false, true}) {
    for (const std::size_t size : {1u, 2047u, 2048u, 20000u}) {
      std::vector<std::int32_t> values(size);
      for (auto& value : values) {
        value = clustered ? std::uniform_int_distribution<std::int32_t>(-300000, 299999)(rng) : next_value();
      }
      tnumbrelle bulk{0, 1000, -70000}, loop{0, 1000, -70000};
      bulk.include_array(values);
      for (const std::int32_t value : values) loop.include(value);
      ASSERT_TRUE(same_layout(bulk, loop)) << "size " << size << (clustered ? ", clustered" : "");
    }
  }
}

// The enumeration cursor as a scan that advances one bit at a time, over the set's current blocks.
struct reference_cursor {
  std::int64_t block = -1;
  int bit = 0;

  void advance() {
    if (bit == 255) {
      ++block;
      bit = 0;
    } else {
      ++bit;
    }
  }
  bool next(const tnumbrelle& set, std::int32_t& value) {
    const auto blocks = set.blocks();
    const auto used = static_cast<std::int64_t>(blocks.size());
    if (block == -1) return false;
    while (block < used && !((blocks[block].bits[bit / 8] >> (bit % 8)) & 1)) advance();
    const bool found = block < used;
    if (found) value = static_cast<std::int32_t>(std::int64_t{blocks[block].key} * 256 + bit);
    advance();
    if (block >= used) block = -1;
    return found;
  }
  bool first(const tnumbrelle& set, std::int32_t& value) {
    block = 0;
    bit = 0;
    return next(set, value);
  }
};

TEST(Differential, CursorMovesLikeAOneBitScanEvenWhenTheSetChanges) {
  value_source next_value(4242);
  tnumbrelle set;
  reference_cursor model;
  for (int step = 0; step < 20000; ++step) {
    std::int32_t got = 0, want = 0;
    switch (next_value.pick(8)) {
      case 0:
        ASSERT_EQ(set.first(got), model.first(set, want));
        ASSERT_EQ(got, want);
        break;
      case 1:
        set.include(next_value());
        break;
      case 2:
        set.exclude(next_value());
        break;
      case 3:
        if (next_value.pick(30) == 0) {
          set.to_array();
          std::int32_t ignored = 0;
          for (bool more = model.first(set, ignored); more; more = model.next(set, ignored)) {
          }
        }
        break;
      default: {
        const bool got_more = set.next(got), want_more = model.next(set, want);
        ASSERT_EQ(got_more, want_more) << "step " << step;
        ASSERT_EQ(got, want) << "step " << step;
      }
    }
  }
}

// Sets whose blocks sit on every kind of edge: members on the first and last bit of each 64-bit word, whole
// words, single bits, adjacent and distant blocks, both ends of the range.
tnumbrelle edge_heavy_set(value_source& source, std::set<std::int32_t>& model) {
  tnumbrelle set;
  const int blocks = 1 + static_cast<int>(source.pick(40));
  std::int64_t key = -8388608 + static_cast<std::int64_t>(source.pick(3));
  for (int b = 0; b < blocks && key <= 8388607; ++b) {
    for (int w = 0; w < 4; ++w) {
      switch (source.pick(5)) {
        case 0:
          break;
        case 1:  // whole word
          for (int j = 0; j < 64; ++j) model.insert(static_cast<std::int32_t>(key * 256 + 64 * w + j));
          break;
        case 2:  // word edges
          model.insert(static_cast<std::int32_t>(key * 256 + 64 * w));
          model.insert(static_cast<std::int32_t>(key * 256 + 64 * w + 63));
          break;
        default:
          model.insert(static_cast<std::int32_t>(key * 256 + 64 * w + source.pick(64)));
      }
    }
    key += 1 + static_cast<std::int64_t>(source.pick(2) == 0 ? 0 : source.pick(3000000));
  }
  for (const std::int32_t v : model) set.include(v);
  return set;
}

TEST(Differential, CursorAgreesWithOneBitScanAcrossWordAndBlockEdges) {
  value_source source(515);
  for (int round = 0; round < 300; ++round) {
    std::set<std::int32_t> model;
    tnumbrelle set = edge_heavy_set(source, model);
    reference_cursor reference;
    std::int32_t got = 0, want = 0;
    ASSERT_EQ(set.first(got), reference.first(set, want));
    ASSERT_EQ(got, want);
    for (std::size_t k = 0; k <= model.size() + 1; ++k) {
      const bool got_more = set.next(got), want_more = reference.next(set, want);
      ASSERT_EQ(got_more, want_more) << "round " << round << ", call " << k;
      ASSERT_EQ(got, want) << "round " << round << ", call " << k;
    }
    ASSERT_EQ(enumerate(set), as_vector(model));
  }
}

TEST(Differential, LookupsAgreeWithStdSetForEveryBlockCountAndPlace) {
  value_source source(8086);
  for (int round = 0; round < 300; ++round) {
    std::set<std::int32_t> model;
    tnumbrelle set = edge_heavy_set(source, model);
    // Every block's neighbourhood, the values between blocks and both ends of the range.
    std::vector<std::int32_t> probes = {kMin, kMin + 1, kMax - 1, kMax, -1, 0, 1};
    for (const auto& block : set.blocks()) {
      const std::int64_t base = std::int64_t{block.key} * 256;
      for (const std::int64_t offset : {-257, -256, -1, 0, 1, 63, 64, 255, 256, 257, 511}) {
        const std::int64_t v = base + offset;
        if (v >= kMin && v <= kMax) probes.push_back(static_cast<std::int32_t>(v));
      }
    }
    for (int k = 0; k < 200; ++k) probes.push_back(source());
    for (const std::int32_t v : probes) {
      ASSERT_EQ(set.contains(v), model.contains(v)) << "round " << round << ", value " << v;
    }
    // Including and excluding at every place keeps the blocks as the model says.
    for (const std::int32_t v : probes) {
      if (source.pick(2) == 0) {
        set.include(v);
        model.insert(v);
      } else {
        set.exclude(v);
        model.erase(v);
      }
    }
    ASSERT_NO_FATAL_FAILURE(expect_matches(set, model)) << "round " << round;
  }
}

TEST(Differential, CountAgreesWithStdSetOnFullAndPatternedBlocks) {
  value_source source(31337);
  for (int round = 0; round < 300; ++round) {
    std::set<std::int32_t> model;
    tnumbrelle set = edge_heavy_set(source, model);
    ASSERT_EQ(set.count(), static_cast<std::int32_t>(model.size())) << "round " << round;
#if NUMBRELLE_TESTS_REACH_INTERNALS
    // Every way of counting the processor and INTSET_CPU allow, not only the one count() picks.
    const auto blocks = set.blocks();
    for (const intset::detail::cpu_level level : intset::detail::usable_levels()) {
      ASSERT_EQ(intset::detail::kernels_for(level).count_members(blocks.data(),
                                                                 static_cast<std::int32_t>(blocks.size())),
                static_cast<std::int64_t>(model.size()))
          << "round " << round << ", " << intset::detail::level_name(level);
    }
#endif
  }
  tnumbrelle full;  // 100 full blocks: every byte counter of a vector count reaches its limit
  full.include_range(-256 * 50, 256 * 50 - 1);
  ASSERT_EQ(full.count(), 25600);
#if NUMBRELLE_TESTS_REACH_INTERNALS
  for (const intset::detail::cpu_level level : intset::detail::usable_levels()) {
    ASSERT_EQ(intset::detail::kernels_for(level).count_members(full.blocks().data(), 100), 25600);
  }
#endif
}

TEST(Differential, WordPopcountMatchesABitByBitCount) {
  std::mt19937_64 rng(64);
  std::vector<std::uint64_t> words = {0,
                                      ~std::uint64_t{0},
                                      0x5555555555555555u,
                                      0xAAAAAAAAAAAAAAAAu,
                                      0x8000000000000001u,
                                      0x0F0F0F0F0F0F0F0Fu};
  for (int j = 0; j < 64; ++j) {
    words.push_back(std::uint64_t{1} << j);
    words.push_back(~(std::uint64_t{1} << j));
    words.push_back(~std::uint64_t{0} >> j);
  }
  for (int k = 0; k < 1000; ++k) words.push_back(rng() & rng());
  for (const std::uint64_t word : words) {
    int bits = 0;
    for (int j = 0; j < 64; ++j) bits += static_cast<int>((word >> j) & 1);
    ASSERT_EQ(intset::detail::word_popcount(word), bits) << std::hex << word;
  }
}

// The block search of the library written out step by step (bounds checks, then halving), for block arrays
// in any order.
struct reference_blocks {
  std::vector<intset::tblock> blocks;

  std::size_t locate(std::int32_t key) const {
    if (blocks.empty()) return 0;
    std::int64_t lo = 0, hi = static_cast<std::int64_t>(blocks.size()) - 1;
    for (;;) {
      if (blocks[lo].key >= key) return static_cast<std::size_t>(lo);
      if (blocks[hi].key == key) return static_cast<std::size_t>(hi);
      if (blocks[hi].key < key) return static_cast<std::size_t>(hi + 1);
      const std::int64_t mid = (lo + hi) / 2;
      if (blocks[mid].key < key) {
        lo = mid + 1;
      } else {
        hi = mid - 1;
      }
    }
  }
  bool found_at(std::size_t at, std::int32_t key) const {
    return at < blocks.size() && blocks[at].key == key;
  }
  static bool has(const intset::tblock& b, int bit) { return (b.bits[bit / 8] >> (bit % 8)) & 1; }

  bool contains(std::int32_t v) const {
    const std::size_t at = locate(v >> 8);
    return found_at(at, v >> 8) && has(blocks[at], v & 255);
  }
  void include(std::int32_t v) {
    const std::size_t at = locate(v >> 8);
    if (!found_at(at, v >> 8)) {
      intset::tblock fresh{};
      fresh.key = v >> 8;
      blocks.insert(blocks.begin() + static_cast<std::ptrdiff_t>(at), fresh);
    }
    blocks[at].bits[(v & 255) / 8] |= static_cast<std::uint8_t>(1u << (v & 7));
  }
  void exclude(std::int32_t v) {
    const std::size_t at = locate(v >> 8);
    if (!found_at(at, v >> 8)) return;
    intset::tblock only{};
    only.key = blocks[at].key;
    only.bits[(v & 255) / 8] = static_cast<std::uint8_t>(1u << (v & 7));
    if (std::memcmp(only.bits, blocks[at].bits, sizeof only.bits) == 0) {
      blocks.erase(blocks.begin() + static_cast<std::ptrdiff_t>(at));
    } else {
      blocks[at].bits[(v & 255) / 8] &= static_cast<std::uint8_t>(~(1u << (v & 7)));
    }
  }
};

TEST(Differential, LookupsOnBlocksOutOfKeyOrderProbeLikeThePlainSearch) {
  value_source source(1984);
  for (int round = 0; round < 200; ++round) {
    // A file of the uncompressed form: keys out of order and repeated, maps possibly empty.
    reference_blocks reference;
    const int count = 1 + static_cast<int>(source.pick(60));
    for (int k = 0; k < count; ++k) {
      intset::tblock block{};
      block.key = static_cast<std::int32_t>(source.pick(40)) - 20;
      for (auto& byte : block.bits)
        byte = source.pick(3) == 0 ? static_cast<std::uint8_t>(source.pick(256)) : 0;
      reference.blocks.push_back(block);
    }
    std::istringstream in(legacy_file(reference.blocks));
    tnumbrelle loaded;
    loaded.load_from_stream(in);
    // Such a block array keeps its search however it reaches another set.
    tnumbrelle set;
    switch (round % 4) {
      case 0:
        set = std::move(loaded);
        break;
      case 1:
        set.assign(loaded);
        break;
      case 2:
        set.unite(loaded);
        break;  // into an empty set: the same blocks in the same order
      default: {
        tnumbrelle moved(std::move(loaded));
        set = std::move(moved);
      }
    }

    for (int k = 0; k < 400; ++k) {
      const std::int32_t v = static_cast<std::int32_t>(source.pick(12000)) - 6000;
      ASSERT_EQ(set.contains(v), reference.contains(v)) << "round " << round << ", value " << v;
      switch (source.pick(4)) {
        case 0:
          set.include(v);
          reference.include(v);
          break;
        case 1:
          set.exclude(v);
          reference.exclude(v);
          break;
        default:
          break;
      }
      const auto blocks = set.blocks();
      ASSERT_EQ(blocks.size(), reference.blocks.size()) << "round " << round << ", step " << k;
      ASSERT_EQ(std::memcmp(blocks.data(), reference.blocks.data(), blocks.size_bytes()), 0)
          << "round " << round << ", step " << k;
    }
  }
}

TEST(Differential, SubsetTestsAgreeWithStdIncludesWhenOneMemberDiffers) {
  value_source source(2718);
  for (int round = 0; round < 400; ++round) {
    std::set<std::int32_t> small;
    tnumbrelle a = edge_heavy_set(source, small);
    if (small.empty()) continue;
    // B holds A and a few more members, then loses one member of A: in any word and either half of a map.
    std::set<std::int32_t> big = small;
    tnumbrelle b;
    b.assign(a);
    for (int k = 0; k < 3; ++k) {
      const std::int32_t extra =
          *std::next(small.begin(),
                     static_cast<long>(source.pick(static_cast<std::uint32_t>(small.size())))) ^
          static_cast<std::int32_t>(source.pick(256));
      b.include(extra);
      big.insert(extra);
    }
    for (int pass = 0; pass < 2; ++pass) {
      const bool a_in_b = std::includes(big.begin(), big.end(), small.begin(), small.end());
      const bool b_in_a = std::includes(small.begin(), small.end(), big.begin(), big.end());
      ASSERT_EQ(a.is_subset_of(b), a_in_b) << "round " << round << ", pass " << pass;
      ASSERT_EQ(b.is_superset_of(a), a_in_b) << "round " << round << ", pass " << pass;
      ASSERT_EQ(b.is_subset_of(a), b_in_a) << "round " << round << ", pass " << pass;
      ASSERT_EQ(a.is_superset_of(b), b_in_a) << "round " << round << ", pass " << pass;
      const std::int32_t gone =
          *std::next(small.begin(), static_cast<long>(source.pick(static_cast<std::uint32_t>(small.size()))));
      b.exclude(gone);
      big.erase(gone);
    }
  }
}

}  // namespace
