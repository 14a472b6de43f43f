// The set file format: exact bytes, round trips, damaged and hostile streams, the capacity and cursor rules
// of loading, and the file operations (errors, atomic replace, permissions, links, devices).
#include <gtest/gtest.h>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <bitset>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

#include "intset/allocation.h"
#include "intset/dispatch.h"
#include "intset/files.h"
#include "intset/record_codec.h"
#include "set_helpers.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_helpers;
using intset::EFCreateError;
using intset::EFOpenError;
using intset::ENumbrelle;
using intset::EOutOfMemory;
using intset::EReadError;
using intset::ETooManyMembers;
using intset::EWriteError;
using intset::tblock;

// --- Building and reading byte strings --------------------------------------------------------------------

void put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
}

tblock make_block(std::int32_t key, std::initializer_list<std::pair<int, std::uint8_t>> bytes = {}) {
  tblock block{key, {}};
  for (const auto& [i, v] : bytes) block.bits[i] = v;
  return block;
}

// A plain encoder of the current form, written from the layout: the oracle for the writer. Collects the
// offsets of the stored map bytes when asked.
std::string encode(std::span<const tblock> blocks, std::vector<std::size_t>* map_offsets = nullptr) {
  std::string out = "NBL1";
  put32(out, static_cast<std::uint32_t>(blocks.size()));
  std::uint32_t sum = 0;
  for (const tblock& block : blocks) {
    put32(out, static_cast<std::uint32_t>(block.key));
    std::uint32_t mask = 0;
    for (int i = 0; i < 32; ++i) mask |= std::uint32_t{block.bits[i] != 0} << i;
    put32(out, mask);
    for (int i = 0; i < 32; ++i) {
      if (block.bits[i] == 0) continue;
      if (map_offsets) map_offsets->push_back(out.size());
      out += static_cast<char>(block.bits[i]);
      sum += block.bits[i];
    }
  }
  put32(out, sum);
  return out;
}

std::string le32(std::uint32_t v) {
  std::string out;
  put32(out, v);
  return out;
}

std::string legacy(std::span<const tblock> blocks, std::int32_t count) {
  std::string out;
  put32(out, static_cast<std::uint32_t>(count));
  for (const tblock& block : blocks) {
    put32(out, static_cast<std::uint32_t>(block.key));
    out.append(reinterpret_cast<const char*>(block.bits), 32);
  }
  return out;
}
std::string legacy(std::span<const tblock> blocks) {
  return legacy(blocks, static_cast<std::int32_t>(blocks.size()));
}

std::string saved(const tnumbrelle& set) {
  std::ostringstream out;
  set.save_to_stream(out);
  return out.str();
}

void load(tnumbrelle& set, const std::string& bytes) {
  std::istringstream in(bytes);
  set.load_from_stream(in);
}

std::string hex(const std::string& bytes) {
  std::string out;
  char two[4];
  for (const unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02X ", c);
    out += two;
  }
  return out;
}

bool same_blocks(std::span<const tblock> a, std::span<const tblock> b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size_bytes()) == 0);
}

// Checks that the set is empty as clear() leaves it: no blocks, no buffer, no enumeration.
void expect_cleared(tnumbrelle& set) {
  EXPECT_TRUE(set.is_empty());
  EXPECT_EQ(set.capacity(), 0);
  std::int32_t v = 0;
  EXPECT_FALSE(set.next(v)) << "the cursor survived a failed load";
}

template <typename Error>
void expect_load_fails(tnumbrelle& set, const std::string& bytes, const char* message) {
  try {
    load(set, bytes);
    ADD_FAILURE() << "loaded " << hex(bytes);
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), message);
  }
  expect_cleared(set);
}

// Random sets of varied shape: sparse and full blocks, negatives, both ends of the range.
std::vector<std::int32_t> random_values(std::mt19937& rng) {
  std::vector<std::int32_t> values;
  const int blocks = std::uniform_int_distribution<int>(0, 300)(rng);
  for (int b = 0; b < blocks; ++b) {
    const std::int32_t key = std::uniform_int_distribution<std::int32_t>(-8388608, 8388607)(rng) /
                             (1 << std::uniform_int_distribution<int>(0, 22)(rng));
    const std::int32_t base = static_cast<std::int32_t>(static_cast<std::uint32_t>(key) << 8);
    switch (rng() % 4) {
      case 0:
        values.push_back(base + static_cast<std::int32_t>(rng() % 256));
        break;
      case 1:
        for (int i = 0; i < 256; ++i) values.push_back(base + i);
        break;
      default:
        for (int i = std::uniform_int_distribution<int>(1, 60)(rng); i > 0; --i)
          values.push_back(base + static_cast<std::int32_t>(rng() % 256));
    }
  }
  values.push_back(static_cast<std::int32_t>(rng() % 2 ? kMin : kMax));
  return values;
}

// A set of blocks with every kind of record: empty-looking keys, masks 0, 1, full and scattered.
std::vector<tblock> varied_blocks() {
  std::vector<tblock> blocks{make_block(-8388608, {{0, 1}}), make_block(-1, {{31, 0x80}}),
                             make_block(0, {{3, 0xFF}, {17, 0x42}}), make_block(5, {}),
                             make_block(8388607, {})};
  std::fill(std::begin(blocks[4].bits), std::end(blocks[4].bits), 0xA5);
  return blocks;
}

// A stream buffer that calls back on every read, so that tests can watch the set while it loads.
class watching_buffer : public std::streambuf {
 public:
  using producer = std::function<std::streamsize(char*, std::streamsize)>;
  explicit watching_buffer(producer produce) : produce_(std::move(produce)) {}

 protected:
  std::streamsize xsgetn(char* s, std::streamsize n) override { return produce_(s, n); }
  int_type underflow() override {
    if (produce_(&one_, 1) != 1) return traits_type::eof();
    setg(&one_, &one_, &one_ + 1);
    return traits_type::to_int_type(one_);
  }

 private:
  producer produce_;
  char one_ = 0;
};

// A stream buffer that accepts only the first `limit` bytes written to it.
class limited_buffer : public std::streambuf {
 public:
  explicit limited_buffer(std::size_t limit) : limit_(limit) {}
  std::string written;

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    const auto take = std::min<std::size_t>(static_cast<std::size_t>(n), limit_ - written.size());
    written.append(s, take);
    return static_cast<std::streamsize>(take);
  }
  int_type overflow(int_type c) override {
    if (written.size() == limit_) return traits_type::eof();
    written += traits_type::to_char_type(c);
    return c;
  }

 private:
  std::size_t limit_;
};

// --- Exact bytes
// -----------------------------------------------------------------------------------------------

TEST(FileBytes, EmptySetIsTwelveBytes) {
  tnumbrelle set;
  EXPECT_EQ(saved(set), std::string("NBL1\0\0\0\0\0\0\0\0", 12));
  auto full = make_set({1, 2});
  load(*full, saved(set));
  EXPECT_TRUE(full->is_empty());
  EXPECT_EQ(full->capacity(), 32);  // 32 free slots are under the trimming threshold
}

TEST(FileBytes, ZeroIsTwentyOneBytes) {
  const std::string expected(
      "NBL1\1\0\0\0"
      "\0\0\0\0"
      "\1\0\0\0"
      "\1"
      "\1\0\0\0",
      21);
  EXPECT_EQ(hex(saved(*make_set({0}))), hex(expected));
}

TEST(FileBytes, MinusOneIsKeyFFFFFFFFMaskTwoToThe31Byte128) {
  const std::string expected(
      "NBL1\1\0\0\0"
      "\xFF\xFF\xFF\xFF"
      "\0\0\0\x80"
      "\x80"
      "\x80\0\0\0",
      21);
  EXPECT_EQ(hex(saved(*make_set({-1}))), hex(expected));
}

TEST(FileBytes, WriterMatchesAPlainEncoderOnRandomSets) {
  std::mt19937 rng(7);
  for (int round = 0; round < 40; ++round) {
    auto set = make_set(random_values(rng));
    ASSERT_EQ(hex(saved(*set)), hex(encode(set->blocks()))) << "round " << round;
  }
  tnumbrelle set;  // hand-made maps: every byte value, in every position
  const std::vector<tblock> blocks = varied_blocks();
  load(set, legacy(blocks));
  ASSERT_EQ(hex(saved(set)), hex(encode(blocks)));
}

#if NUMBRELLE_TESTS_REACH_INTERNALS
// Every record codec the processor and INTSET_CPU allow writes the records of the plain encoder and reads
// them back.
TEST(FileBytes, EveryCodecLevelWritesAndReadsThePlainEncodersRecords) {
  std::mt19937 rng(7);
  std::vector<std::vector<tblock>> sets{varied_blocks()};
  for (int round = 0; round < 20; ++round) {
    const auto set = make_set(random_values(rng));
    sets.emplace_back(set->blocks().begin(), set->blocks().end());
  }
  for (const intset::detail::cpu_level level : intset::detail::usable_levels()) {
    SCOPED_TRACE(intset::detail::level_name(level));
    const intset::detail::kernel_table kernels = intset::detail::kernels_for(level);
    for (const std::vector<tblock>& blocks : sets) {
      const std::string plain = encode(blocks);
      const std::string records = plain.substr(8, plain.size() - 12);  // between the count and the checksum
      std::string out(blocks.size() * intset::detail::kRecordRoom, '\0');
      std::uint32_t checksum = 0;
      auto* at = reinterpret_cast<unsigned char*>(out.data());
      out.resize(
          static_cast<std::size_t>(kernels.encode_records(blocks.data(), blocks.size(), at, checksum) - at));
      ASSERT_EQ(hex(out), hex(records));
      EXPECT_EQ(le32(checksum), plain.substr(plain.size() - 4));

      std::string padded = records + std::string(intset::detail::kDecodeOverread, '\0');
      const auto* in = reinterpret_cast<const unsigned char*>(padded.data());
      std::vector<tblock> decoded(blocks.size());
      intset::detail::decode_progress progress;
      ASSERT_EQ(kernels.decode_records(in, in + records.size(), decoded.data(), decoded.size(), progress),
                blocks.size());
      EXPECT_TRUE(same_blocks(decoded, blocks));
      EXPECT_EQ(progress.checksum, checksum);
      std::int64_t bits = 0;
      for (const tblock& block : blocks) {
        for (const std::uint8_t byte : block.bits) bits += std::bitset<8>(byte).count();
      }
      EXPECT_EQ(progress.members, bits);
    }
  }
}
#endif  // NUMBRELLE_TESTS_REACH_INTERNALS

TEST(FileBytes, ChecksumIsTheSumOfTheStoredBytes) {
  tnumbrelle set;
  for (std::int32_t v = 0; v < 256 * 70; ++v) set.include(v);  // 70 full blocks
  set.include(-256 * 5 + 9);                                   // one byte 2
  const std::string bytes = saved(set);
  ASSERT_EQ(bytes.size(), 8 + 70 * 40 + 9 + 4u);
  EXPECT_EQ(bytes.substr(bytes.size() - 4), le32(70 * 32 * 255 + 2));
}

// --- Round trips
// -----------------------------------------------------------------------------------------------

TEST(FileRoundTrip, RandomSetsComeBackWithTheirMembersBlocksAndCount) {
  std::mt19937 rng(11);
  for (int round = 0; round < 40; ++round) {
    const auto values = random_values(rng);
    const std::set<std::int32_t> model(values.begin(), values.end());
    auto set = make_set(values);
    tnumbrelle loaded;
    load(loaded, saved(*set));
    ASSERT_EQ(loaded.to_array(), as_vector(model)) << "round " << round;
    ASSERT_TRUE(same_blocks(loaded.blocks(), set->blocks())) << "round " << round;
    ASSERT_EQ(loaded.count(), static_cast<std::int32_t>(model.size()));
  }
  tnumbrelle loaded;
  load(loaded, encode(varied_blocks()));
  ASSERT_TRUE(same_blocks(loaded.blocks(), varied_blocks()));
}

TEST(FileRoundTrip, AStoredZeroByteIsTakenAsStored) {
  // Mask 0x80000001 with stored bytes 0 and 7: the map keeps the zero, the checksum is 7.
  std::string file = "NBL1";
  put32(file, 1);
  put32(file, 12);
  put32(file, 0x80000001u);
  file += std::string("\0\7", 2);
  put32(file, 7);
  tnumbrelle set;
  load(set, file);
  EXPECT_TRUE(same_blocks(set.blocks(), std::vector<tblock>{make_block(12, {{31, 7}})}));
}

TEST(FileRoundTrip, TwoSetsAndTrailingDataShareOneStream) {
  auto a = make_set({-1, 5, 70000});
  auto b = make_set({kMin, kMax});
  std::stringstream stream;
  a->save_to_stream(stream);
  b->save_to_stream(stream);
  const std::vector<tblock> old{make_block(9, {{1, 2}})};
  stream << legacy(old) << "tail";

  tnumbrelle x, y, z;
  x.load_from_stream(stream);
  EXPECT_EQ(stream.tellg(), std::streampos(saved(*a).size()));
  y.load_from_stream(stream);
  z.load_from_stream(stream);
  EXPECT_EQ(x.to_array(), a->to_array());
  EXPECT_EQ(y.to_array(), b->to_array());
  EXPECT_TRUE(same_blocks(z.blocks(), old));
  std::string rest;
  stream >> rest;
  EXPECT_EQ(rest, "tail");
}

TEST(FileRoundTrip, ReaderNeverAsksForBytesBeyondTheSet) {
  // Like a pipe that would block: any request beyond the set's bytes is a fault.
  for (const std::string& file :
       {saved(*make_set({})), saved(*make_set({3, 1000, -7000})), legacy({}), legacy(varied_blocks())}) {
    std::size_t pos = 0;
    bool overread = false;
    watching_buffer buffer([&](char* s, std::streamsize n) {
      if (pos + static_cast<std::size_t>(n) > file.size()) overread = true;
      const auto take = std::min(static_cast<std::size_t>(n), file.size() - pos);
      file.copy(s, take, pos);
      pos += take;
      return static_cast<std::streamsize>(take);
    });
    std::istream in(&buffer);
    tnumbrelle set;
    set.load_from_stream(in);
    EXPECT_FALSE(overread) << hex(file);
    EXPECT_EQ(pos, file.size());
    EXPECT_TRUE(in.good());
  }
}

// --- Damaged streams
// -------------------------------------------------------------------------------------------

TEST(FileDamage, EveryTruncationIsAReadError) {
  const auto blocks = varied_blocks();
  for (const std::string& file : {encode(blocks), legacy(blocks)}) {
    for (std::size_t size = 0; size < file.size(); ++size) {
      auto set = make_set({1, 2, 3});
      std::int32_t v;
      set->first(v);
      std::istringstream in(file.substr(0, size));
      EXPECT_THROW(set->load_from_stream(in), EReadError) << "size " << size;
      expect_cleared(*set);
      EXPECT_TRUE(in.eof() && in.fail());
    }
  }
  tnumbrelle set;
  expect_load_fails<EReadError>(set, "", "Stream read error");
}

TEST(FileDamage, AnyChangedMapByteIsACrcError) {
  const auto blocks = varied_blocks();
  std::vector<std::size_t> offsets;
  const std::string good = encode(blocks, &offsets);
  ASSERT_EQ(offsets.size(), 36u);
  for (const std::size_t at : offsets) {
    for (const int delta : {1, 128, 255}) {
      std::string bad = good;
      bad[at] = static_cast<char>(static_cast<unsigned char>(bad[at]) + delta);
      tnumbrelle set;
      expect_load_fails<ENumbrelle>(set, bad, "CRC error");
    }
  }
  std::string bad_sum = good;
  bad_sum[good.size() - 1] ^= 1;
  tnumbrelle set;
  expect_load_fails<ENumbrelle>(set, bad_sum, "CRC error");
}

TEST(FileDamage, EqualOrDescendingKeysAreACrcError) {
  for (const std::vector<tblock>& blocks :
       {std::vector<tblock>{make_block(4, {{0, 1}}), make_block(4, {{1, 1}})},
        std::vector<tblock>{make_block(-1, {{0, 1}}), make_block(-2, {{0, 1}})},
        std::vector<tblock>{make_block(0, {{0, 1}}), make_block(8388607, {{0, 1}}),
                            make_block(-8388608, {{0, 1}})}}) {
    auto set = make_set({77});
    expect_load_fails<ENumbrelle>(*set, encode(blocks), "CRC error");
  }
}

TEST(FileDamage, KeysPastTheValueRangeAreACrcErrorInEitherForm) {
  const tblock lowest = make_block(-8388608, {{0, 1}}), highest = make_block(8388607, {{31, 0x80}});
  for (const std::int32_t key : {8388608, -8388609, kMax, kMin}) {
    const std::vector<tblock> blocks{lowest, make_block(key, {{0, 1}}), highest};
    for (const std::string& file :
         {encode(std::vector<tblock>{make_block(key, {{0, 1}})}),
          encode(std::vector<tblock>{lowest, make_block(key, {{0, 1}})}), legacy(blocks)}) {
      auto set = make_set({77});
      expect_load_fails<ENumbrelle>(*set, file, "CRC error");
    }
  }
  tnumbrelle set;  // the range's own ends load
  load(set, encode(std::vector<tblock>{lowest, highest}));
  EXPECT_EQ(set.to_array(), (tarrayofinteger{kMin, kMax}));
}

TEST(FileDamage, AKeyChangeThatKeepsTheOrderMovesTheMembersBy256s) {
  auto set = make_set({10, 600, 700, 5000});  // keys 0, 2, 19
  std::string bytes = saved(*set);
  // The second record starts after the header (8) and the first record (8 + 1 byte).
  ASSERT_EQ(bytes[17], 2);
  bytes[17] = 7;  // key 2 becomes 7: 0 < 7 < 19
  tnumbrelle loaded;
  load(loaded, bytes);
  EXPECT_EQ(loaded.to_array(), (tarrayofinteger{10, 600 + 5 * 256, 700 + 5 * 256, 5000}));
}

#if NUMBRELLE_TESTS_REACH_INTERNALS
TEST(FileDamage, CountsBelowZeroOrAboveABlockPerKeyFailBeforeAnyAllocation) {
  for (const std::int32_t count : {-1, kMin, (1 << 24) + 1, kMax}) {
    std::string current = "NBL1";
    put32(current, static_cast<std::uint32_t>(count));
    const std::string old = legacy({}, count) + std::string(72, '\1');
    for (const std::string& file : {current, old}) {
      auto set = make_set({1, 1000});
      intset::detail::allocations_before_failure = 0;
      try {
        load(*set, file);
        ADD_FAILURE() << hex(file);
      } catch (const ENumbrelle& e) {
        EXPECT_EQ(e.message(), "CRC error");
      } catch (...) {
        ADD_FAILURE() << "not the format error: " << hex(file);
      }
      intset::detail::allocations_before_failure = -1;
      expect_cleared(*set);
    }
  }
}

TEST(FileDamage, TwelveBytesClaimingTheLargestCountFailWithoutAllocating) {
  std::string current = "NBL1";
  put32(current, 1u << 24);  // a block for every key
  put32(current, 0);
  std::string old;
  put32(old, 1u << 24);
  old += "12345678";
  for (const std::string& file : {current, old}) {
    ASSERT_EQ(file.size(), 12u);
    tnumbrelle set;
    intset::detail::allocations_before_failure = 0;  // any block allocation would raise EOutOfMemory
    EXPECT_THROW(load(set, file), EReadError);
    intset::detail::allocations_before_failure = -1;
    expect_cleared(set);
  }
}
#endif  // NUMBRELLE_TESTS_REACH_INTERNALS

TEST(FileDamage, MemoryFollowsTheBlocksThatArriveNotTheStoredCount) {
  // A stored count far above the blocks that follow: `real` records (key k, mask 1, byte 1), then the end.
  constexpr int real = 50000;  // several chunks of the reader
  std::string records;
  for (int k = 0; k < real; ++k) {
    put32(records, static_cast<std::uint32_t>(k));
    put32(records, 1);
    records += '\1';
  }
  for (const std::uint32_t count : {1u << 24, 10000000u}) {
    std::string file = "NBL1";
    put32(file, count);
    file += records;
    tnumbrelle set;
    std::size_t pos = 0;
    std::int32_t most = 0;
    watching_buffer buffer([&](char* s, std::streamsize n) {
      most = std::max(most, set.capacity());
      const auto take = std::min(static_cast<std::size_t>(n), file.size() - pos);
      file.copy(s, take, pos);
      pos += take;
      return static_cast<std::streamsize>(take);
    });
    std::istream in(&buffer);
    EXPECT_THROW(set.load_from_stream(in), EReadError);
    EXPECT_GT(most, 0);
    EXPECT_LE(most, 2 * real + 64) << "count " << count;
    expect_cleared(set);
  }
}

#if NUMBRELLE_TESTS_REACH_INTERNALS
TEST(FileLimit, ACountAboveTheLimitIsRefusedBeforeAnyAllocation) {
  std::vector<tblock> blocks;
  for (std::int32_t k = 0; k < 5; ++k) blocks.push_back(make_block(k * 3, {{k, 1}}));
  for (const std::string& file : {encode(blocks), legacy(blocks)}) {
    auto set = make_set({1, 1000});
    std::istringstream in(file);
    intset::detail::allocations_before_failure = 0;
    try {
      set->load_from_stream(in, 4);
      ADD_FAILURE() << "loaded past the limit";
    } catch (const intset::ETooManyBlocks& e) {
      EXPECT_EQ(e.message(), "The input would need at least 5 blocks, more than the limit of 4");
    }
    intset::detail::allocations_before_failure = -1;
    expect_cleared(*set);
    std::istringstream again(file);
    set->load_from_stream(again, 5);
    EXPECT_TRUE(same_blocks(set->blocks(), blocks));
  }
  std::istringstream one(encode(std::vector<tblock>{make_block(3, {{0, 1}})}));
  try {
    tnumbrelle().load_from_stream(one, 0);
    ADD_FAILURE() << "a block past a limit of 0 was taken";
  } catch (const intset::ETooManyBlocks& e) {
    EXPECT_EQ(e.message(), "The input would need at least 1 block, more than the limit of 0");
  }
  std::istringstream empty(saved(tnumbrelle()));
  tnumbrelle set;
  set.load_from_stream(empty, 0);
  EXPECT_TRUE(set.is_empty());
}

TEST(FileDamage, AllocationFailureWhileLoadingLeavesTheSetEmpty) {
  tnumbrelle big;
  for (std::int32_t b = 0; b < 500; ++b) big.include(b * 256);
  const std::string file = saved(big);
  for (long successes = 0; successes < 4; ++successes) {
    tnumbrelle set;
    intset::detail::allocations_before_failure = successes;
    EXPECT_THROW(load(set, file), EOutOfMemory) << successes;
    intset::detail::allocations_before_failure = -1;
    expect_cleared(set);
  }
}
#endif  // NUMBRELLE_TESTS_REACH_INTERNALS

TEST(FileDamage, AnErrorRaisedByTheStreamPassesThroughAndEmptiesTheSet) {
  const std::string file = saved(*make_set({1, 300, 90000}));
  std::size_t pos = 0;
  watching_buffer buffer([&](char* s, std::streamsize n) -> std::streamsize {
    if (pos >= 4) throw std::runtime_error("device gone");
    const auto take = std::min(static_cast<std::size_t>(n), file.size() - pos);
    file.copy(s, take, pos);
    pos += take;
    return static_cast<std::streamsize>(take);
  });
  std::istream in(&buffer);
  auto set = make_set({5});
  EXPECT_THROW(set->load_from_stream(in), std::runtime_error);
  expect_cleared(*set);
}

TEST(FileDamage, EmptyMapsOfTheCurrentFormStayInUse) {
  const std::vector<tblock> blocks{make_block(3), make_block(4, {{0, 0}})};
  tnumbrelle set;
  load(set, encode(blocks));
  EXPECT_TRUE(same_blocks(set.blocks(), blocks));
  EXPECT_FALSE(set.is_empty());
  EXPECT_EQ(set.count(), 0);
}

// --- The legacy form
// -------------------------------------------------------------------------------------------

TEST(FileLegacy, OneBlockLoadsUnchanged) {
  tblock block = make_block(-300);
  for (int i = 0; i < 32; ++i) block.bits[i] = static_cast<std::uint8_t>(i * 37);
  const std::string file = legacy({&block, 1});
  ASSERT_EQ(file.size(), 40u);
  tnumbrelle set;
  load(set, file);
  EXPECT_TRUE(same_blocks(set.blocks(), {&block, 1}));
}

TEST(FileLegacy, EmptyMapsAndKeysOutOfOrderStayAsStored) {
  const std::vector<tblock> blocks{make_block(9, {{0, 1}}), make_block(2), make_block(2, {{5, 0x10}})};
  tnumbrelle set;
  load(set, legacy(blocks));
  EXPECT_TRUE(same_blocks(set.blocks(), blocks));
  EXPECT_FALSE(set.is_empty());
  EXPECT_EQ(set.count(), 2);
}

// A damaged old-form file (keys repeated or out of order, empty maps) breaks the order the set keeps, yet its
// member count stays the sum of its maps' bits, after the load and through whatever changes the set next.
TEST(FileLegacy, DamagedFilesKeepTheCountOfTheirMapsThroughEveryChange) {
  std::mt19937 rng(2512);
  const auto pick = [&rng](std::uint32_t n) {
    return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng);
  };
  const auto damaged = [&] {
    std::vector<tblock> blocks(pick(40));
    for (auto& block : blocks) {
      block.key = static_cast<std::int32_t>(pick(20)) - 10;
      const bool empty = pick(4) == 0;
      for (auto& byte : block.bits) byte = !empty && pick(2) == 0 ? static_cast<std::uint8_t>(rng()) : 0;
    }
    tnumbrelle set;
    load(set, legacy(blocks));
    EXPECT_EQ(set.size(), bits_in_blocks(set));
    return set;
  };
  for (int round = 0; round < 200; ++round) {
    tnumbrelle set = damaged();
    const tnumbrelle other = pick(2) ? damaged() : tnumbrelle{-2560, -1, 0, 5, 700, 2559};
    for (int step = 0; step < 8; ++step) {
      const auto v = static_cast<std::int32_t>(pick(5120)) - 2560;
      switch (pick(9)) {
        case 0:
          set.include(v);
          break;
        case 1:
          set.exclude(v);
          break;
        case 2:
          set.include_range(v, v + static_cast<std::int32_t>(pick(600)));
          break;
        case 3:
          set.exclude_range(v, v + static_cast<std::int32_t>(pick(600)));
          break;
        case 4:
          set.intersect(other);
          break;
        case 5:
          set.unite(other);
          break;
        case 6:
          set.subtract(other);
          break;
        case 7:
          set.invert(other);
          break;
        default:
          set.include_array(std::vector<std::int32_t>{v, v + 1, v + 300, -v});
          break;
      }
      ASSERT_EQ(set.size(), bits_in_blocks(set)) << "round " << round << ", step " << step;
    }
  }
}

TEST(FileLegacy, KeysOutOfOrderAreRefusedByTheWriterBeforeAnyByte) {
  for (const auto& blocks : {std::vector<tblock>{make_block(9, {{0, 1}}), make_block(2, {{1, 2}})},
                             std::vector<tblock>{make_block(4, {{0, 1}}), make_block(4, {{5, 0x10}})}}) {
    tnumbrelle set;
    load(set, legacy(blocks));
    std::ostringstream out;
    try {
      set.save_to_stream(out);
      ADD_FAILURE() << "saved a set the reader would refuse";
    } catch (const intset::EUnorderedBlocks& e) {
      EXPECT_EQ(e.message(), "The set's blocks are out of key order, so it cannot be saved");
    }
    EXPECT_TRUE(out.str().empty());
    EXPECT_TRUE(same_blocks(set.blocks(), blocks));  // the set itself is kept as loaded
  }
}

TEST(FileLegacy, ZeroCountIsTheEmptySet) {
  auto set = make_set({1});
  load(*set, legacy({}));
  EXPECT_TRUE(set->is_empty());
}

// --- Capacity and cursor after a load
// ----------------------------------------------------------------------------

TEST(FileLoadState, CapacityIsWhatCompactGivesForTheOldCapacity) {
  const auto expected = [](std::int32_t old_capacity, std::int32_t count) {
    const std::int32_t slack = old_capacity - count;
    return slack >= 0 && slack < 128 ? old_capacity : (count + 31) / 32 * 32;
  };
  for (const std::int32_t old_blocks : {0, 1, 40, 150, 300}) {
    for (const std::int32_t count : {0, 1, 32, 33, 100, 200, 400}) {
      tnumbrelle source;
      for (std::int32_t b = 0; b < count; ++b) source.include(b * 256);
      const std::string current = saved(source);
      const std::string old = legacy(source.blocks());
      for (const std::string* file : {&current, &old}) {
        tnumbrelle set;
        for (std::int32_t b = 0; b < old_blocks; ++b) set.include(-b * 256 - 1);
        const std::int32_t old_capacity = set.capacity();
        load(set, *file);
        EXPECT_EQ(set.capacity(), expected(old_capacity, count))
            << "old capacity " << old_capacity << ", count " << count;
        EXPECT_TRUE(same_blocks(set.blocks(), source.blocks()));
      }
    }
  }
}

TEST(FileLoadState, ASuccessfulLoadKeepsTheCursor) {
  auto set = make_set({1, 2, 3, 4});
  const std::string file = saved(*set);
  std::int32_t v = 0;
  ASSERT_TRUE(set->first(v));
  ASSERT_TRUE(set->next(v));
  load(*set, file);
  ASSERT_TRUE(set->next(v));
  EXPECT_EQ(v, 3);

  tnumbrelle fresh;  // no enumeration in progress stays so
  load(fresh, file);
  EXPECT_FALSE(fresh.next(v));
}

TEST(FileLoadState, AFailedLoadResetsTheCursor) {
  auto set = make_set({1, 2, 3, 4});
  std::int32_t v = 0;
  ASSERT_TRUE(set->first(v));
  expect_load_fails<ENumbrelle>(*set, encode(std::vector<tblock>{make_block(1), make_block(1)}), "CRC error");
  set->include(9);
  EXPECT_FALSE(set->next(v));
}

// --- Writing to streams that fail
// ----------------------------------------------------------------------------------

TEST(FileWriteErrors, AShortWriteIsAWriteErrorAtEveryPoint) {
  tnumbrelle set;
  for (std::int32_t b = 0; b < 20000; ++b) set.include(b * 1000);
  const std::string full = saved(set);
  ASSERT_GT(full.size(), 2 * 65536u);
  for (const std::size_t limit : {std::size_t{0}, std::size_t{7}, std::size_t{65536}, full.size() - 1}) {
    limited_buffer buffer(limit);
    std::ostream out(&buffer);
    try {
      set.save_to_stream(out);
      ADD_FAILURE() << "limit " << limit;
    } catch (const EWriteError& e) {
      EXPECT_EQ(e.message(), "Stream write error");
    }
    EXPECT_TRUE(out.bad());
  }
  limited_buffer exact(full.size());
  std::ostream out(&exact);
  set.save_to_stream(out);
  EXPECT_EQ(exact.written, full);
}

TEST(FileWriteErrors, AStreamOnAFullDeviceIsAWriteError) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::ofstream out("/dev/full", std::ios::binary);
  ASSERT_TRUE(out.is_open());
  EXPECT_THROW(make_set({1, 2, 3})->save_to_stream(out), EWriteError);  // buffered bytes fail on the sync
}

// --- Named files
// ---------------------------------------------------------------------------------------------------

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> names_in(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A file name as the messages show it: UTF-8.
std::string utf8_name(const fs::path& path) {
  const std::u8string name = path.u8string();
  return {name.begin(), name.end()};
}

// Windows error codes of the failures below.
constexpr unsigned long kFileNotFound = 2, kPathNotFound = 3, kAccessDenied = 5;

#ifdef _WIN32
// The system's text for a failure, as the file errors show it: on Windows its message for the error code
// without the closing full stop; elsewhere the POSIX text given.
std::string system_says(const char*, unsigned long code) {
  char text[512];
  const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        code, 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && std::string_view("\r\n .").find(message.back()) != std::string_view::npos)
    message.pop_back();
  return message;
}
#else
std::string system_says(const char* posix_text, unsigned long) { return posix_text; }

// Runs `body` in a child process and returns what it complains about ("" when all is well). For steps that
// change the process (file size limits, dropping privileges) and must not leak into the other tests.
std::string in_child_process(const std::function<std::string()>& body) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return "pipe failed";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_fds[0]);
    std::string complaint;
    try {
      complaint = body();
    } catch (const std::exception& e) {
      complaint = std::string("unexpected exception: ") + e.what();
    }
    if (!complaint.empty() && ::write(pipe_fds[1], complaint.data(), complaint.size()) < 0) ::_exit(2);
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  std::string complaint;
  char chunk[256];
  for (ssize_t got; (got = ::read(pipe_fds[0], chunk, sizeof chunk)) > 0;) complaint.append(chunk, got);
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) complaint += " (child process failed)";
  return complaint;
}

constexpr uid_t kNobody = 65534;

// Runs `body` as an unprivileged user: root may write files regardless of their permission bits.
std::string without_privileges(const std::function<std::string()>& body) {
  if (::geteuid() != 0) return body();
  return in_child_process([&] {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
      return std::string("setuid");
    return body();
  });
}
#endif

template <typename Error>
std::string expect_error(const std::function<void()>& action, const std::string& message) {
  try {
    action();
    return "no error";
  } catch (const Error& e) {
    return e.message() == message ? "" : "message: " + e.message();
  } catch (const std::exception& e) {
    return std::string("wrong error: ") + e.what();
  }
}

class FileOperations : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    for (int attempt = 0; folder.empty() && attempt < 100; ++attempt) {
      const fs::path candidate = fs::temp_directory_path() / ("nbl-test-" + std::to_string(random()));
      if (fs::create_directory(candidate)) folder = candidate;
    }
    ASSERT_FALSE(folder.empty());
    fs::permissions(folder, fs::perms::all);  // reachable and writable for an unprivileged user, too
  }
  void TearDown() override {
#ifdef _WIN32
    // Windows refuses to delete read-only files.
    for (const auto& entry : fs::recursive_directory_iterator(folder))
      fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
#endif
    fs::remove_all(folder);
  }

  fs::path folder;
};

TEST_F(FileOperations, SaveAndLoadRoundTrip) {
  std::mt19937 rng(3);
  const auto values = random_values(rng);
  auto set = make_set(values);
  const fs::path file = folder / "a.nbl";
  set->save_to_file(file);
  EXPECT_EQ(read_file(file), saved(*set));
  tnumbrelle loaded;
  const auto blocks = static_cast<std::int32_t>(set->blocks().size());
  EXPECT_THROW(loaded.load_from_file(file, blocks - 1), intset::ETooManyBlocks);
  loaded.load_from_file(file, blocks);
  EXPECT_TRUE(same_blocks(loaded.blocks(), set->blocks()));
  EXPECT_EQ(names_in(folder), std::vector<std::string>{"a.nbl"});
}

TEST_F(FileOperations, ASetOutOfKeyOrderLeavesTheOldFileAlone) {
  const fs::path file = folder / "a.nbl";
  make_set({1, 2, 3})->save_to_file(file);
  const std::string before = read_file(file);
  tnumbrelle set;
  load(set, legacy(std::vector<tblock>{make_block(9, {{0, 1}}), make_block(2, {{1, 2}})}));
  EXPECT_THROW(set.save_to_file(file), intset::EUnorderedBlocks);
  EXPECT_EQ(read_file(file), before);
  EXPECT_EQ(names_in(folder), std::vector<std::string>{"a.nbl"});
}

TEST_F(FileOperations, AMissingFileIsAnOpenErrorAndLeavesTheSetAsItWas) {
  auto set = make_set({4, 5, 6});
  std::int32_t v = 0;
  set->first(v);
  const fs::path file = folder / "missing.nbl";
  EXPECT_EQ(expect_error<EFOpenError>([&] { set->load_from_file(file); },
                                      "Cannot open file \"" + file.string() + "\". " +
                                          system_says("No such file or directory", kFileNotFound)),
            "");
  EXPECT_EQ(set->capacity(), 32);
  ASSERT_TRUE(set->next(v));
  EXPECT_EQ(v, 5);
  EXPECT_EQ(set->to_array(), (tarrayofinteger{4, 5, 6}));
  try {  // the error code tells a missing file from the other failures, on every system
    set->load_from_file(file);
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
  }
}

TEST_F(FileOperations, OpenErrorsNameTheFileAbsolutely) {
  const fs::path relative = fs::path("no-such-folder-for-numbrelle") / "x.nbl";
  tnumbrelle set;
  EXPECT_EQ(expect_error<EFOpenError>([&] { set.load_from_file(relative); },
                                      "Cannot open file \"" + (fs::current_path() / relative).string() +
                                          "\". " + system_says("No such file or directory", kPathNotFound)),
            "");
  EXPECT_EQ(expect_error<EFCreateError>([&] { set.save_to_file(relative); },
                                        "Cannot create file \"" + (fs::current_path() / relative).string() +
                                            "\". " + system_says("No such file or directory", kPathNotFound)),
            "");
}

TEST_F(FileOperations, AFolderIsNotASetFile) {
  auto set = make_set({1});
  EXPECT_EQ(expect_error<EFOpenError>([&] { set->load_from_file(folder); },
                                      "Cannot open file \"" + folder.string() + "\". " +
                                          system_says("Is a directory", kAccessDenied)),
            "");
  EXPECT_EQ(set->to_array(), tarrayofinteger{1});
  EXPECT_EQ(expect_error<EFCreateError>([&] { set->save_to_file(folder); },
                                        "Cannot create file \"" + folder.string() + "\". " +
                                            system_says("Is a directory", kAccessDenied)),
            "");
}

TEST_F(FileOperations, AnUnreadableFileIsAnOpenError) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: POSIX permission bits and an unprivileged user";
#else
  const fs::path file = folder / "secret.nbl";
  write_file(file, saved(*make_set({1})));
  fs::permissions(file, fs::perms::none);
  EXPECT_EQ(without_privileges([&] {
              auto set = make_set({2});
              std::string complaint =
                  expect_error<EFOpenError>([&] { set->load_from_file(file); },
                                            "Cannot open file \"" + file.string() + "\". Permission denied");
              if (set->to_array() != tarrayofinteger{2}) complaint += " set changed";
              return complaint;
            }),
            "");
#endif
}

TEST_F(FileOperations, AMissingFolderIsACreateErrorNamingTheFile) {
  const fs::path file = folder / "none" / "a.nbl";
  EXPECT_EQ(expect_error<EFCreateError>([&] { make_set({1})->save_to_file(file); },
                                        "Cannot create file \"" + file.string() + "\". " +
                                            system_says("No such file or directory", kPathNotFound)),
            "");
  EXPECT_TRUE(names_in(folder).empty());
}

TEST_F(FileOperations, AReadOnlyFileIsNotReplaced) {
  const fs::path file = folder / "locked.nbl";
  const std::string old = saved(*make_set({1}));
  write_file(file, old);
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const auto save = [&] {
    return expect_error<EFCreateError>(
        [&] { make_set({2})->save_to_file(file); },
        "Cannot create file \"" + file.string() + "\". " + system_says("Permission denied", kAccessDenied));
  };
#ifdef _WIN32
  EXPECT_EQ(save(), "");  // the permissions above set the read-only attribute
#else
  ASSERT_EQ(::chown(file.c_str(), kNobody, kNobody), ::geteuid() == 0 ? 0 : -1);
  EXPECT_EQ(without_privileges(save), "");
#endif
  EXPECT_EQ(read_file(file), old);
  EXPECT_EQ(names_in(folder), std::vector<std::string>{"locked.nbl"});
}

TEST_F(FileOperations, AReadOnlyFolderIsACreateError) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: POSIX folder permissions; a read-only folder takes new files on Windows";
#else
  const fs::path locked = folder / "locked";
  fs::create_directory(locked);
  fs::permissions(locked, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  const fs::path file = locked / "a.nbl";
  EXPECT_EQ(without_privileges([&] {
              return expect_error<EFCreateError>(
                  [&] { make_set({2})->save_to_file(file); },
                  "Cannot create file \"" + file.string() + "\". Permission denied");
            }),
            "");
  EXPECT_TRUE(names_in(locked).empty());
#endif
}

TEST_F(FileOperations, AFailedSaveLeavesTheOldFileByteForByte) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: a file size limit (setrlimit) in a child process (fork)";
#else
  const fs::path file = folder / "keep.nbl";
  const std::string old = saved(*make_set({7, 8, 9}));
  write_file(file, old);
  tnumbrelle big;
  for (std::int32_t b = 0; b < 20000; ++b) big.include(b * 256 + b % 256);
  // Writes beyond 4096 bytes fail (EFBIG) in the child, as on a full disk.
  EXPECT_EQ(in_child_process([&] {
              ::signal(SIGXFSZ, SIG_IGN);
              rlimit limit{};
              ::getrlimit(RLIMIT_FSIZE, &limit);
              limit.rlim_cur = 4096;
              if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("setrlimit");
              return expect_error<EWriteError>([&] { big.save_to_file(file); }, "Stream write error");
            }),
            "");
  EXPECT_EQ(read_file(file), old);
  EXPECT_EQ(names_in(folder), std::vector<std::string>{"keep.nbl"});
#endif
}

TEST_F(FileOperations, ReplacingKeepsThePermissionBits) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: POSIX permission bits and umask; ReplacingKeepsTheFileAttributes is the "
                  "Windows counterpart";
#else
  const fs::path file = folder / "mode.nbl";
  for (const auto mode : {fs::perms::owner_read | fs::perms::owner_write,
                          fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::others_read | fs::perms::owner_exec}) {
    write_file(file, "old");
    fs::permissions(file, mode);
    make_set({1, 2})->save_to_file(file);
    EXPECT_EQ(fs::status(file).permissions(), mode);
    EXPECT_EQ(read_file(file), saved(*make_set({1, 2})));
  }
  const mode_t mask = ::umask(022);
  make_set({3})->save_to_file(folder / "new.nbl");
  ::umask(mask);
  EXPECT_EQ(fs::status(folder / "new.nbl").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);
#endif
}

TEST_F(FileOperations, ASymbolicLinkKeepsPointingAtTheReplacedFile) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: symbolic links, which need a privilege on Windows";
#else
  fs::create_directory(folder / "real");
  const fs::path target = folder / "real" / "set.nbl";
  write_file(target, "old");
  const fs::path link = folder / "link.nbl";
  fs::create_symlink("real/set.nbl", link);
  const fs::path link_to_link = folder / "again.nbl";
  fs::create_symlink(link, link_to_link);

  make_set({5})->save_to_file(link_to_link);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_TRUE(fs::is_symlink(link_to_link));
  EXPECT_EQ(read_file(target), saved(*make_set({5})));
  EXPECT_EQ(names_in(folder / "real"), std::vector<std::string>{"set.nbl"});

  const fs::path dangling = folder / "dangling.nbl";  // a link to a file not yet there creates that file
  fs::create_symlink("real/later.nbl", dangling);
  make_set({6})->save_to_file(dangling);
  EXPECT_TRUE(fs::is_symlink(dangling));
  EXPECT_EQ(read_file(folder / "real" / "later.nbl"), saved(*make_set({6})));

  const fs::path loop = folder / "loop.nbl";
  fs::create_symlink("loop.nbl", loop);
  EXPECT_EQ(expect_error<EFCreateError>(
                [&] { make_set({6})->save_to_file(loop); },
                "Cannot create file \"" + loop.string() + "\". Too many levels of symbolic links"),
            "");
#endif
}

TEST_F(FileOperations, AFullDeviceIsWrittenInPlaceAndFails) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: /dev/full";
#else
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ(
      expect_error<EWriteError>([&] { make_set({1})->save_to_file("/dev/full"); }, "Stream write error"), "");
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
  const fs::path link = folder / "full.nbl";  // also when reached through a link
  fs::create_symlink("/dev/full", link);
  EXPECT_EQ(expect_error<EWriteError>([&] { make_set({1})->save_to_file(link); }, "Stream write error"), "");
  EXPECT_TRUE(fs::is_symlink(link));
#endif
}

TEST_F(FileOperations, APipeIsWrittenInPlace) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: a FIFO (mkfifo) and a reader process (fork)";
#else
  const fs::path fifo = folder / "pipe.nbl";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string expected = saved(*make_set({1, 2, 3}));
  std::string received;
  const pid_t reader = ::fork();
  if (reader == 0) {
    const std::string got = read_file(fifo);
    ::_exit(got == expected ? 0 : 1);
  }
  make_set({1, 2, 3})->save_to_file(fifo);
  int status = 0;
  ::waitpid(reader, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(fs::is_fifo(fifo));
#endif
}

// The file operations hand their stream to any reader or writer; one that fails after writing some bytes
// leaves the old file and no temporary behind, and its error passes through.
TEST_F(FileOperations, AWriterFailingHalfwayLeavesTheOldFile) {
  const fs::path file = folder / "keep.nbl";
  write_file(file, "old");
  EXPECT_THROW(intset::write_file(file,
                                  [](std::ostream& out) {
                                    out << std::string(100000, 'x');
                                    throw std::logic_error("the writer gave up");
                                  }),
               std::logic_error);
  EXPECT_EQ(read_file(file), "old");
  EXPECT_EQ(names_in(folder), std::vector<std::string>{"keep.nbl"});
}

TEST_F(FileOperations, ANonAsciiNameRoundTripsAndIsNamedInUtf8) {
  const fs::path file = folder / fs::path(u8"Mengen-\u00e4\u00f6\u00fc-\u6570.nbl");
  make_set({1, 2})->save_to_file(file);
  tnumbrelle loaded;
  loaded.load_from_file(file);
  EXPECT_EQ(loaded.to_array(), (tarrayofinteger{1, 2}));
  EXPECT_EQ(utf8_name(fs::directory_iterator(folder)->path().filename()), utf8_name(file.filename()));
  const fs::path missing = folder / fs::path(u8"fehlt-\u00fc.nbl");
  EXPECT_EQ(expect_error<EFOpenError>([&] { loaded.load_from_file(missing); },
                                      "Cannot open file \"" + utf8_name(missing) + "\". " +
                                          system_says("No such file or directory", kFileNotFound)),
            "");
}

TEST_F(FileOperations, AFileHeldOpenElsewhereIsNotReplaced) {
#ifndef _WIN32
  GTEST_SKIP() << "Windows only: POSIX replaces a file that is open elsewhere";
#else
  const fs::path file = folder / "held.nbl";
  write_file(file, "old");
  // Open as a program that lets others read and write the file but not delete or rename it.
  const HANDLE held = ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  try {
    make_set({1})->save_to_file(file);
    ADD_FAILURE() << "the save succeeded";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.message().rfind("Cannot create file \"" + file.string() + "\". ", 0), 0u) << e.message();
  }
  ::CloseHandle(held);
  EXPECT_EQ(read_file(file), "old");
  EXPECT_EQ(names_in(folder), std::vector<std::string>{"held.nbl"});
#endif
}

TEST_F(FileOperations, ReplacingKeepsTheFileAttributes) {
#ifndef _WIN32
  GTEST_SKIP() << "Windows only: file attributes; ReplacingKeepsThePermissionBits is the POSIX counterpart";
#else
  const fs::path file = folder / "hidden.nbl";
  write_file(file, "old");
  ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN));
  make_set({1, 2})->save_to_file(file);
  EXPECT_TRUE(::GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(read_file(file), saved(*make_set({1, 2})));
#endif
}

TEST_F(FileOperations, TheNulDeviceIsWrittenInPlace) {
#ifndef _WIN32
  GTEST_SKIP() << "Windows only: AFullDeviceIsWrittenInPlaceAndFails is the POSIX counterpart";
#else
  const fs::path here = fs::current_path();
  fs::current_path(folder);
  const auto save = [] { make_set({1})->save_to_file("NUL"); };
  EXPECT_NO_THROW(save());
  fs::current_path(here);
  EXPECT_TRUE(names_in(folder).empty());  // no temporary file was made beside it
#endif
}

// --- Counting beyond the 32-bit range
// ----------------------------------------------------------------------------

TEST(FileLimits, CountAndToArrayRaiseBeyond2147483647Members) {
  // A legacy stream of 8388608 full blocks (2^31 members, about 302 MB loaded), generated on the fly.
  constexpr std::int64_t blocks = 8388608;
  constexpr std::int64_t total = 4 + 36 * blocks;
  std::int64_t pos = 0;
  watching_buffer buffer([&](char* s, std::streamsize n) {
    std::streamsize done = 0;
    unsigned char record[36];  // the count, or a block: key, then 32 bytes 0xFF
    std::memset(record + 4, 0xFF, 32);
    while (done < n && pos < total) {
      const bool head = pos < 4;
      const std::int64_t index = head ? 0 : (pos - 4) / 36;
      const auto word = static_cast<std::uint32_t>(head ? blocks : index - blocks / 2);
      for (int i = 0; i < 4; ++i) record[i] = static_cast<unsigned char>(word >> (8 * i));
      const std::int64_t offset = head ? pos : (pos - 4) % 36;
      const std::int64_t piece = std::min<std::int64_t>((head ? 4 : 36) - offset, n - done);
      std::memcpy(s + done, record + offset, static_cast<std::size_t>(piece));
      done += piece;
      pos += piece;
    }
    return done;
  });
  std::istream in(&buffer);
  tnumbrelle set;
  set.load_from_stream(in);
  ASSERT_EQ(set.blocks().size(), static_cast<std::size_t>(blocks));
  EXPECT_EQ(set.capacity(), blocks);
  EXPECT_EQ(set.size(), std::int64_t{2147483648});
  EXPECT_THROW(set.count(), ETooManyMembers);
  EXPECT_THROW(set.to_array(), ETooManyMembers);
  EXPECT_TRUE(set.contains(-4194304 * 256) && set.contains(4194304 * 256 - 1));
  EXPECT_FALSE(set.contains(4194304 * 256) || set.contains(-4194304 * 256 - 1));
}

// --- Seeds for the fuzzer
// ------------------------------------------------------------------------------------------

// Every file these tests build, valid or damaged: each loads, or fails leaving the set empty. When
// NUMBRELLE_FUZZ_SEED_DIR names a folder, they are also written there as the fuzzer's seed corpus.
TEST(FuzzSeeds, EachLoadsOrFailsCleanlyAndIsWrittenWhenAsked) {
  std::vector<std::string> valid{saved(*make_set({})),
                                 saved(*make_set({0})),
                                 saved(*make_set({-1})),
                                 saved(*make_set({kMin, kMax})),
                                 encode(varied_blocks()),
                                 legacy(varied_blocks()),
                                 legacy({})};
  std::mt19937 rng(5);
  for (int i = 0; i < 6; ++i) {
    std::vector<std::int32_t> values = random_values(rng);
    values.resize(std::min<std::size_t>(values.size(), 300));
    valid.push_back(saved(*make_set(values)));
  }
  std::vector<std::string> damaged{std::string("NBL1\xFF\xFF\xFF\x7F", 8),
                                   encode(std::vector<tblock>{make_block(1), make_block(1)})};
  for (std::size_t i = 0; i < valid.size(); i += 3) {
    if (valid[i].substr(0, 4) != "NBL1") continue;
    std::string bad = valid[i];
    bad.back() ^= 0x10;  // the checksum
    damaged.push_back(bad);
    damaged.push_back(valid[i].substr(0, valid[i].size() - 1));
  }
  const char* dir = std::getenv("NUMBRELLE_FUZZ_SEED_DIR");
  int n = 0;
  for (const auto* files : {&valid, &damaged}) {
    for (const std::string& file : *files) {
      tnumbrelle set;
      try {
        load(set, file);
        EXPECT_EQ(files, &valid) << "a damaged seed loaded: " << hex(file);
      } catch (const intset::Exception&) {
        EXPECT_EQ(files, &damaged) << "a valid seed failed: " << hex(file);
        expect_cleared(set);
      }
      if (dir != nullptr) write_file(fs::path(dir) / ("seed-" + std::to_string(n++) + ".nbl"), file);
    }
  }
}

}  // namespace
