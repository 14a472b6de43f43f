// The portable Roaring format: exact bytes, CRoaring reading what we write and we reading what it writes,
// each kind of damage refused with its message, and the stream and set state around a load.
#include "intset/roaring_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "intset/dispatch.h"
#include "set_helpers.h"

#ifdef NUMBRELLE_HAVE_CROARING
#include <roaring/roaring.h>
#endif

namespace {

using namespace testing_helpers;
using intset::ERoaringFormat;

std::string roaring_bytes(const tnumbrelle& set) {
  std::ostringstream out;
  intset::save_roaring_to_stream(set, out);
  return out.str();
}

void load_roaring(tnumbrelle& set, const std::string& bytes) {
  std::istringstream in(bytes);
  intset::load_roaring_from_stream(set, in);
}

// Little-endian byte strings from 16- and 32-bit numbers: le({{12346, 4}, {0, 4}}) is cookie 12346, count 0.
std::string le(std::initializer_list<std::pair<std::uint32_t, int>> fields) {
  std::string out;
  for (const auto& [v, width] : fields) {
    for (int i = 0; i < width; ++i) out += static_cast<char>(v >> (8 * i));
  }
  return out;
}

// Sets of every shape: full and partial chunks, long runs, isolated values, arrays and bitsets around the
// 4096-value boundary, and both ends of the range.
std::set<std::int32_t> random_members(std::mt19937& rng) {
  std::set<std::int32_t> s;
  const auto pick = [&](std::int64_t lo, std::int64_t hi) {
    return std::uniform_int_distribution<std::int64_t>(lo, hi)(rng);
  };
  const int pieces = static_cast<int>(pick(0, 6));
  for (int p = 0; p < pieces; ++p) {
    const std::int64_t chunk = pick(0, 3) == 0 ? pick(-32768, 32767) : pick(-3, 3);
    const std::int64_t base = chunk * 65536;
    switch (pick(0, 5)) {
      case 0:  // one run, possibly across chunks
        for (std::int64_t v = base + pick(0, 65535), n = pick(1, 140000); n > 0; --n, ++v) {
          if (v > kMax) break;
          s.insert(static_cast<std::int32_t>(v));
        }
        break;
      case 1: {  // uniform inside a chunk, around the array/bitset boundary or sparser
        const std::int64_t n = pick(0, 1) ? pick(4000, 4200) : pick(1, 300);
        for (std::int64_t k = 0; k < n; ++k) s.insert(static_cast<std::int32_t>(base + pick(0, 65535)));
        break;
      }
      case 2:  // many short runs: every other value, or pairs
        for (std::int64_t v = base + pick(0, 1000), end = v + pick(1, 20000), step = pick(2, 3); v < end;
             v += step) {
          s.insert(static_cast<std::int32_t>(v));
        }
        break;
      case 3:  // a few runs of 1 to 3 values, where a run container and an array are close in size
        for (std::int64_t n = pick(1, 12), v = base + pick(0, 60000); n > 0; --n, v += pick(2, 300)) {
          for (std::int64_t len = pick(1, 3); len > 0; --len) s.insert(static_cast<std::int32_t>(v++));
        }
        break;
      case 4:  // isolated values over the whole range
        for (std::int64_t n = pick(1, 200); n > 0; --n) s.insert(static_cast<std::int32_t>(pick(kMin, kMax)));
        break;
      default:
        s.insert({kMin, kMin + 1, -1, 0, kMax});
    }
  }
  return s;
}

std::unique_ptr<tnumbrelle> set_of(const std::set<std::int32_t>& members) {
  auto set = std::make_unique<tnumbrelle>();
  set->include_array(as_vector(members));
  return set;
}

TEST(RoaringFormat, WritesTheDocumentedBytes) {
  // Empty: cookie 12346 and count 0.
  EXPECT_EQ(roaring_bytes(tnumbrelle()), le({{12346, 4}, {0, 4}}));
  // {-1, 5}: two array containers, key 0 before key 0xFFFF, with their offsets.
  EXPECT_EQ(
      roaring_bytes(*make_set({-1, 5})),
      le({{12346, 4}, {2, 4}, {0, 2}, {0, 2}, {0xFFFF, 2}, {0, 2}, {24, 4}, {26, 4}, {5, 2}, {0xFFFF, 2}}));
  // 100..199 is one run; cookie 12347 with one container, its run flag, and no offsets below 4 containers.
  std::vector<std::int32_t> run(100);
  std::iota(run.begin(), run.end(), 100);
  EXPECT_EQ(roaring_bytes(*make_set(run)),
            le({{12347, 4}, {1, 1}, {0, 2}, {99, 2}, {1, 2}, {100, 2}, {99, 2}}));
}

TEST(RoaringFormat, ReadsEveryContainerKindAndMapsValuesBackToSignedOrder) {
  // Bitset of key 1 (values 65536 + 0..4096 with 65536 + 10 missing), run container of key 0x8000 (the
  // smallest value), array of key 0xFFFF (-1).
  std::string bitset(8192, '\0');
  for (int v = 0; v <= 4097; ++v) bitset[v / 8] = static_cast<char>(bitset[v / 8] | 1 << (v % 8));
  bitset[1] = static_cast<char>(bitset[1] & ~(1 << 2));
  const std::string bytes =
      le({{12347 | 2 << 16, 4}, {0b010, 1}, {1, 2}, {4096, 2}, {0x8000, 2}, {2, 2}, {0xFFFF, 2}, {0, 2}}) +
      bitset + le({{1, 2}, {0, 2}, {2, 2}, {0xFFFF, 2}});
  tnumbrelle set;
  load_roaring(set, bytes);
  std::vector<std::int32_t> expected{kMin, kMin + 1, kMin + 2, -1};
  for (int v = 0; v <= 4097; ++v) {
    if (v != 10) expected.push_back(65536 + v);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(set.to_array(), expected);
}

TEST(RoaringFormat, RoundTripsRandomSetsAndLeavesTheStreamAfterTheBitmap) {
  std::mt19937 rng(13);
  for (int i = 0; i < 60; ++i) {
    const std::set<std::int32_t> members = random_members(rng);
    const auto set = set_of(members);
    const std::string bytes = roaring_bytes(*set);
    std::istringstream in(bytes + "tail");
    tnumbrelle loaded;
    intset::load_roaring_from_stream(loaded, in);
    ASSERT_EQ(loaded.to_array(), as_vector(members)) << "set " << i;
    EXPECT_TRUE(std::equal(
        loaded.blocks().begin(), loaded.blocks().end(), set->blocks().begin(), set->blocks().end(),
        [](const auto& a, const auto& b) { return a.key == b.key && std::memcmp(a.bits, b.bits, 32) == 0; }));
    EXPECT_EQ(loaded.capacity(), (loaded.blocks().size() + 31) / 32 * 32);
    std::string rest;
    in >> rest;
    EXPECT_EQ(rest, "tail");
  }
}

#if NUMBRELLE_TESTS_REACH_INTERNALS
// Every writer and bitset reader the processor and INTSET_CPU allow gives what the portable one gives.
TEST(RoaringFormat, EveryInstructionLevelWritesAndReadsTheSame) {
  using intset::detail::kernels_for;
  const auto portable = kernels_for(intset::detail::cpu_level::portable);
  std::mt19937 rng(31);
  for (int i = 0; i < 40; ++i) {
    const std::set<std::int32_t> members = random_members(rng);
    const auto set = set_of(members);
    std::ostringstream expected;
    portable.write_bitmap(set->blocks(), expected);
    std::string bitset(8192, '\0');  // a bitset container of random density, some slices empty
    const std::uint32_t density = rng() % 5;
    for (char& byte : bitset) byte = static_cast<char>(rng() % 32 == 0 ? 0 : rng() >> (8 * density));
    std::vector<intset::tblock> staged(256), by_portable(256);
    const auto measured = portable.stage_bitset(reinterpret_cast<const unsigned char*>(bitset.data()), 0x8001,
                                                by_portable.data());
    by_portable.resize(static_cast<std::size_t>(measured.blocks));
    for (const intset::detail::cpu_level level : intset::detail::usable_levels()) {
      SCOPED_TRACE(intset::detail::level_name(level));
      std::ostringstream out;
      kernels_for(level).write_bitmap(set->blocks(), out);
      EXPECT_EQ(out.str(), expected.str()) << "set " << i;
      const auto m = kernels_for(level).stage_bitset(reinterpret_cast<const unsigned char*>(bitset.data()),
                                                     0x8001, staged.data());
      EXPECT_EQ(m.members, measured.members);
      ASSERT_EQ(m.blocks, measured.blocks);
      EXPECT_EQ(std::memcmp(staged.data(), by_portable.data(), by_portable.size() * sizeof(intset::tblock)),
                0);
    }
  }
}
#endif  // NUMBRELLE_TESTS_REACH_INTERNALS

#ifdef NUMBRELLE_HAVE_CROARING
std::vector<std::uint32_t> stored_values(const std::set<std::int32_t>& members) {
  std::vector<std::uint32_t> out;
  for (const std::int32_t v : members) out.push_back(static_cast<std::uint32_t>(v));
  std::sort(out.begin(), out.end());
  return out;
}

std::string croaring_bytes(const std::vector<std::uint32_t>& values, bool runs) {
  roaring_bitmap_t* r = roaring_bitmap_of_ptr(values.size(), values.data());
  if (runs) roaring_bitmap_run_optimize(r);
  std::string out(roaring_bitmap_portable_size_in_bytes(r), '\0');
  roaring_bitmap_portable_serialize(r, out.data());
  roaring_bitmap_free(r);
  return out;
}
#endif

TEST(RoaringFormat, AgreesWithCRoaringBothWays) {
#ifndef NUMBRELLE_HAVE_CROARING
  GTEST_SKIP() << "CRoaring (Debian libroaring-dev) was not found when configuring; install it and configure "
                  "again to compare with it";
#else
  std::mt19937 rng(2024);
  for (int i = 0; i < 150; ++i) {
    const std::set<std::int32_t> members = random_members(rng);
    const std::vector<std::uint32_t> values = stored_values(members);
    const auto set = set_of(members);
    // Ours to CRoaring: the same bytes as its run-optimized bitmap, and its safe reader gives the members.
    const std::string ours = roaring_bytes(*set);
    ASSERT_EQ(ours, croaring_bytes(values, true)) << "set " << i;
    roaring_bitmap_t* r = roaring_bitmap_portable_deserialize_safe(ours.data(), ours.size());
    ASSERT_NE(r, nullptr);
    std::vector<std::uint32_t> back(roaring_bitmap_get_cardinality(r));
    roaring_bitmap_to_uint32_array(r, back.data());
    roaring_bitmap_free(r);
    EXPECT_EQ(back, values);
    // CRoaring to ours, with and without run containers.
    for (const bool runs : {false, true}) {
      tnumbrelle loaded;
      load_roaring(loaded, croaring_bytes(values, runs));
      ASSERT_EQ(loaded.to_array(), as_vector(members)) << "set " << i << (runs ? " with runs" : "");
    }
  }
#endif
}

TEST(RoaringFormat, RefusesEachKindOfDamageAndLeavesTheSetEmpty) {
  const auto run_head = [](std::uint32_t cardinality) {
    return le({{12347, 4}, {1, 1}, {0, 2}, {cardinality - 1, 2}});
  };
  const std::string d = "Damaged Roaring bitmap: ";
  const struct {
    std::string bytes, message;
  } cases[] = {
      {"NBL1" + le({{0, 4}, {0, 4}}), "Not a Roaring bitmap"},
      {le({{12346, 4}, {65537, 4}}), d + "it states 65537 containers, more than 65536"},
      {le({{12346, 4}, {2, 4}, {7, 2}, {0, 2}, {7, 2}, {0, 2}}), d + "the container keys do not rise"},
      {le({{12346, 4}, {1, 4}, {0, 2}, {2, 2}, {16, 4}, {1, 2}, {3, 2}, {3, 2}}),
       d + "the values of the container with key 0 do not rise"},
      {run_head(2) + le({{1, 2}, {65535, 2}, {1, 2}}),
       d + "a run of the container with key 0 goes past 65535"},
      {run_head(4) + le({{2, 2}, {10, 2}, {2, 2}, {12, 2}, {0, 2}}),
       d + "the runs of the container with key 0 overlap or are out of order"},
      {run_head(2) + le({{2, 2}, {10, 2}, {0, 2}, {5, 2}, {0, 2}}),
       d + "the runs of the container with key 0 overlap or are out of order"},
      {le({{12346, 4}, {1, 4}, {0, 2}, {4999, 2}, {16, 4}}) + std::string(8192, '\xFF'),
       d + "the container with key 0 holds 65536 values but states 5000"},
      {run_head(4) + le({{1, 2}, {0, 2}, {2, 2}}),
       d + "the container with key 0 holds 3 values but states 4"},
      {le({{12346, 4}, {2, 4}, {0, 2}, {1, 2}, {1, 2}, {0, 2}, {24, 4}, {30, 4}, {1, 2}, {2, 2}, {9, 2}}),
       d + "the offset of the container with key 1 does not match the layout"},
  };
  for (const auto& c : cases) {
    auto set = make_set({1, 2, 3});
    try {
      load_roaring(*set, c.bytes);
      ADD_FAILURE() << "accepted: " << c.message;
    } catch (const ERoaringFormat& e) {
      EXPECT_EQ(e.message(), c.message);
    }
    EXPECT_TRUE(set->is_empty());
    EXPECT_EQ(set->capacity(), 0);
  }
}

#if NUMBRELLE_TESTS_REACH_INTERNALS
// 65536 run containers of one run over the whole chunk: 0.9 MB that would make 2^24 blocks (604 MB) are
// refused from their heads, before any block memory is taken; a container whose runs make more blocks than
// its values show is refused as it arrives; a limit the bitmap meets loads it.
TEST(RoaringFormat, ABlockLimitRefusesBeforeTheBlocksTakeMemory) {
  std::string whole = le({{12347 | 65535u << 16, 4}}) + std::string(8192, '\xFF');
  for (std::uint32_t k = 0; k < 65536; ++k) whole += le({{k, 2}, {65535, 2}});
  for (std::uint32_t k = 0; k < 65536; ++k) whole += le({{4 + 8192 + 8 * 65536 + 6 * k, 4}});
  for (std::uint32_t k = 0; k < 65536; ++k) whole += le({{1, 2}, {0, 2}, {65535, 2}});
  std::string spread = le({{12347, 4}, {1, 1}, {0, 2}, {255, 2}, {256, 2}});  // 256 runs, a block each
  for (std::uint32_t b = 0; b < 256; ++b) spread += le({{b * 256, 2}, {0, 2}});
  const struct {
    const std::string& bytes;
    std::int32_t limit;
    const char* message;
  } cases[] = {
      {whole, 1000000, "The input would need at least 16777216 blocks, more than the limit of 1000000"},
      {spread, 255, "The input would need at least 256 blocks, more than the limit of 255"},
  };
  for (const auto& c : cases) {
    auto set = make_set({1, 2, 3});
    std::istringstream in(c.bytes);
    FailingAllocations no_blocks(0);
    try {
      intset::load_roaring_from_stream(*set, in, c.limit);
      ADD_FAILURE() << "loaded past the limit";
    } catch (const intset::ETooManyBlocks& e) {
      EXPECT_EQ(e.message(), c.message);
    }
    EXPECT_TRUE(set->is_empty());
  }
  tnumbrelle set;
  std::istringstream in(spread);
  intset::load_roaring_from_stream(set, in, 256);
  EXPECT_EQ(set.blocks().size(), 256u);
}
#endif  // NUMBRELLE_TESTS_REACH_INTERNALS

TEST(RoaringFormat, RefusesEveryTruncationOfAValidBitmap) {
  std::mt19937 rng(7);
  std::set<std::int32_t> members;
  while (members.size() < 3) members = random_members(rng);
  members.insert({0, 1, 2, 3, 1 << 20, (1 << 20) + 2});  // a run container and an array among the others
  const std::string bytes = roaring_bytes(*set_of(members));
  for (std::size_t cut = 0; cut < bytes.size(); cut += 1 + cut / 64) {
    tnumbrelle set;
    std::istringstream in(bytes.substr(0, cut));
    try {
      intset::load_roaring_from_stream(set, in);
      ADD_FAILURE() << "a bitmap cut after " << cut << " of " << bytes.size() << " bytes loaded";
    } catch (const ERoaringFormat& e) {
      EXPECT_EQ(e.message(), "Damaged Roaring bitmap: the data ends early");
    }
    EXPECT_TRUE(in.eof() && in.fail());
    EXPECT_TRUE(set.is_empty());
  }
}

TEST(RoaringFormat, LoadsIntoASetAsItsOwnFormDoes) {
  // Capacity follows compact()'s rule from the old capacity, as load_from_stream does; the set's own form
  // and the Roaring form of the same members give the same blocks and capacity.
  std::vector<std::int32_t> wide;
  for (std::int32_t k = 0; k < 200; ++k) wide.push_back(k * 256);
  for (const std::size_t keep : {std::size_t{100}, std::size_t{3}}) {
    auto roaring = make_set(wide), own = make_set(wide);
    const auto source = make_set(std::vector<std::int32_t>(wide.begin(), wide.begin() + keep));
    load_roaring(*roaring, roaring_bytes(*source));
    std::stringstream file;
    source->save_to_stream(file);
    own->load_from_stream(file);
    EXPECT_TRUE(same_layout(*roaring, *own)) << keep << " blocks: capacity " << roaring->capacity();
  }
  // Blocks with empty maps, which an old file can bring, are not written; keys out of order are refused.
  tnumbrelle odd;
  std::istringstream legacy(le({{2, 4}, {4, 4}}) + std::string(32, '\0') + le({{9, 4}, {1, 1}}) +
                            std::string(31, '\0'));
  odd.load_from_stream(legacy);
  EXPECT_EQ(roaring_bytes(odd), roaring_bytes(*make_set({9 * 256})));
  std::istringstream unordered(le({{2, 4}, {9, 4}, {1, 1}}) + std::string(31, '\0') + le({{4, 4}, {1, 1}}) +
                               std::string(31, '\0'));
  odd.load_from_stream(unordered);
  std::ostringstream out;
  EXPECT_THROW(intset::save_roaring_to_stream(odd, out), intset::EUnorderedBlocks);
  EXPECT_TRUE(out.str().empty());
}

TEST(RoaringFormat, SavesAndLoadsNamedFiles) {
  const std::filesystem::path file =
      std::filesystem::path(testing::TempDir()) / "roaring_format_test.roaring";
  const auto set = make_set({-5, 0, 70000});
  intset::save_roaring_to_file(*set, file);
  std::ifstream stored(file, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(stored), {}), roaring_bytes(*set));
  stored.close();
  tnumbrelle loaded;
  EXPECT_THROW(intset::load_roaring_from_file(loaded, file, 2), intset::ETooManyBlocks);
  intset::load_roaring_from_file(loaded, file, 3);
  EXPECT_TRUE(loaded.equals(*set));
  std::filesystem::remove(file);
  try {
    intset::load_roaring_from_file(loaded, file);
    ADD_FAILURE() << "a missing file loaded";
  } catch (const intset::EFOpenError& e) {
    EXPECT_EQ(e.message().rfind("Cannot open file \"", 0), 0u) << e.message();
  }
  EXPECT_TRUE(loaded.equals(*set));  // unchanged when the file cannot be opened
}

// Writes valid and damaged bitmaps as fuzzing seeds into $NUMBRELLE_FUZZ_SEED_DIR when it is set.
TEST(FuzzSeeds, RoaringSeedsLoadOrFailCleanly) {
  enum outcome { loads, fails, either };
  std::mt19937 rng(99);
  std::vector<std::pair<std::string, outcome>> seeds{{roaring_bytes(tnumbrelle()), loads}};
  std::vector<std::int32_t>
      spread;  // 5000 values in one chunk: a bitset container, beside a run and an array
  for (std::int32_t v = 0; v < 15000; v += 3) spread.push_back(v);
  spread.insert(spread.end(), {65536 * 2, 65536 * 2 + 1, 65536 * 2 + 2, -7});
  seeds.push_back({roaring_bytes(*make_set(spread)), loads});
  for (int i = 0; i < 12; ++i) {
    std::set<std::int32_t> members = random_members(rng);
    while (members.size() > 3000) members.erase(std::prev(members.end()));
    const std::string bytes = roaring_bytes(*set_of(members));
    seeds.push_back({bytes, loads});
    if (i % 3 != 0) continue;
    seeds.push_back({bytes.substr(0, bytes.size() - 1), fails});
    seeds.push_back({bytes, either});
    seeds.back().first[bytes.size() / 2] ^= 0x20;
  }
  const char* dir = std::getenv("NUMBRELLE_FUZZ_SEED_DIR");
  for (std::size_t i = 0; i < seeds.size(); ++i) {
    const auto& [bytes, expected] = seeds[i];
    tnumbrelle set;
    try {
      load_roaring(set, bytes);
      EXPECT_NE(expected, fails) << "seed " << i;
    } catch (const intset::Exception&) {
      EXPECT_NE(expected, loads) << "seed " << i;
      EXPECT_TRUE(set.is_empty());
    }
    if (dir != nullptr)
      std::ofstream(std::string(dir) + "/roaring-" + std::to_string(i), std::ios::binary) << bytes;
  }
}

}  // namespace
