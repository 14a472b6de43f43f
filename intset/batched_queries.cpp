// tnumbrelle: many lookups in one call: membership, rank and select of a whole array of values or ranks.
// Input in ascending order is answered in one walk over the blocks beside it. Other input is answered
// through what the call builds in O(blocks), the blocks' positions by key or their running member counts,
// and one search per value; a few values among many blocks are searched for one by one instead, and many
// ranks in any order are looked up in the members decoded.
#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "intset/block_ops.h"
#include "intset/dispatch.h"
#include "intset/tnumbrelle.h"

namespace intset {

using detail::key_of;
using detail::load_map;
using detail::map_popcount;
using detail::map_words;

namespace {

// Fewer values than the blocks divided by this are looked up one by one, without building anything.
constexpr std::size_t kBlocksPerValueToIndex = 16;
// Ranks in any order, at least one for this many members, are looked up in all the members decoded.
constexpr std::int64_t kMembersPerRankToDecode = 16;

void check_lengths(const char* operation, std::size_t inputs, std::size_t outputs) {
  if (inputs == outputs) return;
  throw std::invalid_argument(std::string(operation) + ": " + std::to_string(inputs) +
                              " inputs but room for " + std::to_string(outputs) + " answers");
}

bool bit_set(const tblock& block, std::int32_t value) {
  const auto bit = static_cast<unsigned>(detail::bit_of(value));
  return (block.bits[bit >> 3] >> (bit & 7)) & 1;
}

// Per byte value: its set bits, and the position of its set bit with j set bits below it.
struct byte_tables {
  std::uint8_t bits[256];
  std::uint8_t select[256][8];
  std::uint16_t up_to[256][8];  // the set bits at positions 0..j
};
constexpr byte_tables make_byte_tables() {
  byte_tables t{};
  for (int b = 0; b < 256; ++b) {
    int n = 0;
    for (int j = 0; j < 8; ++j) {
      if ((b >> j) & 1) t.select[b][n++] = static_cast<std::uint8_t>(j);
      t.up_to[b][j] = static_cast<std::uint16_t>(n);
    }
    t.bits[b] = static_cast<std::uint8_t>(n);
  }
  return t;
}
constexpr byte_tables kBytes = make_byte_tables();

std::int32_t value_at(const tblock& block, unsigned bit) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(block.key) << 8 | bit);
}

// The members of one block counted byte by byte, so that the rank of a bit or the member of a rank in it is
// a lookup or two: before[i] is the members of bytes [0, i).
struct byte_counts {
  byte_counts() = default;
  explicit byte_counts(const tblock& block) {
    int total = 0;
    for (int i = 0; i < 32; ++i) {
      before[i] = static_cast<std::uint16_t>(total);
      total += kBytes.bits[block.bits[i]];
    }
    before[32] = static_cast<std::uint16_t>(total);
    members = total;
  }
  // The members at bits 0..bit of `block`.
  int up_to(const tblock& block, unsigned bit) const {
    const unsigned byte = bit >> 3;
    return before[byte] + kBytes.bits[block.bits[byte] & ((2u << (bit & 7)) - 1)];
  }
  std::uint16_t before[33] = {};  // before[32] is all of them
  int members = 0;
};

// The members of a block at bits 0..b, for every b: for a block that many values fall in.
void fill_ranks(const tblock& block, const byte_counts& bytes, std::uint16_t* ranks) {
  for (int i = 0; i < 32; ++i) {
    const std::uint16_t* in_byte = kBytes.up_to[block.bits[i]];
    for (int j = 0; j < 8; ++j) ranks[8 * i + j] = static_cast<std::uint16_t>(bytes.before[i] + in_byte[j]);
  }
}

// A block without members, which the walks below look at for a key the set does not hold.
constexpr tblock kNoBlock{};

// The members at bits 0..bit of `block`, for a block met once.
int members_up_to(const tblock& block, unsigned bit) {
  map_words m = load_map(block);
  const unsigned w = bit >> 6;
  if ((bit & 63) != 63) m.w[w] &= (std::uint64_t{2} << (bit & 63)) - 1;
  for (unsigned k = w + 1; k < 4; ++k) m.w[k] = 0;
  return map_popcount(m);
}

// The member of the block with exactly `k` members of the block below it; k < the block's members.
std::int32_t member_at(const tblock& block, std::int64_t k) {
  unsigned byte = 0;
  for (; k >= kBytes.bits[block.bits[byte]]; ++byte) k -= kBytes.bits[block.bits[byte]];
  return value_at(block, 8 * byte + kBytes.select[block.bits[byte]][k]);
}

// Where the blocks of rising keys are, for the searches of one call. The keys from the lowest on are cut
// into buckets of 2^shift keys, as many as it takes to have about two buckets per block, and a table gives
// the position of the first block of each bucket; a search looks at the few keys of its bucket, kept apart
// and packed so that it stays in the cache. Where the keys leave few gaps a bucket is one key and the
// table alone answers.
class key_positions {
 public:
  explicit key_positions(std::span<const tblock> blocks) : used_(static_cast<std::int32_t>(blocks.size())) {
    if (blocks.empty()) return;
    first_ = blocks.front().key;
    const std::int64_t span = std::int64_t{blocks.back().key} - first_ + 1;
    while ((span >> shift_) > 2 * std::int64_t{used_} + 1024) ++shift_;
    const std::int64_t buckets = ((span - 1) >> shift_) + 1;
    keys_.reserve(blocks.size());
    for (const tblock& block : blocks) keys_.push_back(block.key);
    start_.resize(static_cast<std::size_t>(buckets) + 1);
    std::int32_t position = 0;
    for (std::int64_t b = 0; b <= buckets; ++b) {
      const std::int64_t lowest = first_ + (b << shift_);
      while (position < used_ && keys_[static_cast<std::size_t>(position)] < lowest) ++position;
      start_[static_cast<std::size_t>(b)] = position;
    }
  }

  // The position of the first block whose key is not less than `key`; the block count when there is none.
  std::int32_t operator()(std::int32_t key) const {
    if (used_ == 0 || key <= first_) return 0;
    const auto bucket = static_cast<std::size_t>((std::int64_t{key} - first_) >> shift_);
    if (bucket + 1 >= start_.size()) return used_;
    std::int32_t lo = start_[bucket];
    const std::int32_t hi = start_[bucket + 1];
    if (hi - lo > 8) {  // a crowded bucket: halve it first
      const std::int32_t* base = keys_.data() + lo;
      for (std::int32_t n = hi - lo; n > 1;) {
        const std::int32_t half = n / 2;
        base = base[half - 1] < key ? base + half : base;
        n -= half;
      }
      lo = static_cast<std::int32_t>(base - keys_.data());
    }
    while (lo < hi && keys_[static_cast<std::size_t>(lo)] < key) ++lo;
    return lo;
  }

 private:
  std::int32_t used_;
  std::int64_t first_ = 0;
  int shift_ = 0;
  std::vector<std::int32_t> start_;  // the position of each bucket's first block, and the block count last
  std::vector<std::int32_t> keys_;
};

// The first position after `i` whose key is not less than `key` (the key at i being less): usually the
// next block, otherwise found by galloping.
std::int32_t next_position(const tblock* blocks, std::int32_t i, std::int32_t used, std::int32_t key) {
  ++i;
  if (i == used || blocks[i].key >= key) return i;
  return detail::gallop(blocks, i + 1, used, key);
}

// The members of the blocks before each position: running[i] for blocks [0, i).
std::vector<std::int64_t> running_counts(std::span<const tblock> blocks) {
  std::vector<std::int64_t> running(blocks.size() + 1);
  for (std::size_t i = 0; i < blocks.size(); ++i)
    running[i + 1] = running[i] + map_popcount(load_map(blocks[i]));
  return running;
}

// The walks over input in ascending order, beside the blocks. Each answers for as long as its input does
// not fall and returns how much it answered; the rest is left to the caller. The common step (the input
// stays within the block the previous one was in, or in the same gap between blocks) is a few lookups.

std::size_t contains_ascending(std::span<const tblock> blocks, std::span<const std::int32_t> values,
                               std::span<bool> out) {
  const auto used = static_cast<std::int32_t>(blocks.size());
  std::int32_t i = 0;  // the first block whose key is not less than the input's
  std::int64_t served = std::int64_t{INT32_MIN} - 1;  // the key `map` answers for
  const std::uint8_t* map = kNoBlock.bits;
  std::int32_t previous = INT32_MIN;
  std::size_t v = 0;
  for (; v < values.size(); ++v) {
    const std::int32_t value = values[v];
    if (value < previous) break;
    previous = value;
    const std::int32_t key = key_of(value);
    if (key != served) {
      if (i < used && blocks[i].key < key) i = next_position(blocks.data(), i, used, key);
      served = key;
      map = i < used && blocks[i].key == key ? blocks[i].bits : kNoBlock.bits;
    }
    out[v] = (map[(value & 0xFF) >> 3] >> (value & 7)) & 1;
  }
  return v;
}

std::size_t rank_ascending(std::span<const tblock> blocks, std::span<const std::int32_t> values,
                           std::span<std::int64_t> out) {
  // Once a block has had kFillAfter values, the ranks of all its bits are filled in and looked up.
  constexpr int kFillAfter = 8;
  const auto used = static_cast<std::int32_t>(blocks.size());
  const detail::member_counter count_members = detail::kernels().count_members;
  const std::size_t n = values.size();
  std::int32_t i = 0;      // the first block whose key is not less than the input's
  std::int64_t below = 0;  // the members of blocks [0, i)
  std::int32_t previous = INT32_MIN;
  std::uint16_t ranks[256];
  std::size_t v = 0;
  while (v < n && values[v] >= previous) {
    const std::int32_t key = key_of(values[v]);
    if (i < used && blocks[i].key < key) {
      const std::int32_t next = next_position(blocks.data(), i, used, key);
      below += count_members(blocks.data() + i, next - i);
      i = next;
    }
    if (i == used || blocks[i].key != key) {
      // In a gap between blocks: every value up to the next block ranks the same.
      const std::int64_t end = i < used ? std::int64_t{blocks[i].key} * 256 : std::int64_t{INT32_MAX} + 1;
      for (; v < n && values[v] < end && values[v] >= previous; ++v) {
        previous = values[v];
        out[v] = below;
      }
      continue;
    }
    const tblock& block = blocks[i];
    const byte_counts bytes(block);
    const std::int64_t end = (std::int64_t{key} + 1) * 256;
    int seen = 0;
    for (; v < n && values[v] < end && values[v] >= previous; ++v) {
      const std::int32_t value = previous = values[v];
      if (seen == kFillAfter) {
        out[v] = below + ranks[value & 0xFF];
        continue;
      }
      out[v] = below + bytes.up_to(block, detail::bit_of(value));
      if (++seen == kFillAfter) fill_ranks(block, bytes, ranks);
    }
    below += bytes.members;
    ++i;
  }
  return v;
}

// Writes the members of the block to `out`, ascending, and returns how many.
int decode_members(const tblock& block, std::int32_t* out) {
  const std::int32_t base = value_at(block, 0);
  std::int32_t* at = out;
  for (unsigned w = 0; w < 4; ++w) {
    for (std::uint64_t word = detail::load_word(block.bits + 8 * w); word != 0; word &= word - 1) {
      *at++ = base + static_cast<std::int32_t>(64 * w) + std::countr_zero(word);
    }
  }
  return static_cast<int>(at - out);
}

// Ranks far ahead skip runs of 64 blocks by their count, as select() does; the members of a block that
// ranks fall in are decoded once, as to_array() does, and each rank is then a lookup. The ranks rise (or
// repeat) and lie in [0, the members), which the caller has checked.
void select_ascending(std::span<const tblock> blocks, std::span<const std::int64_t> ranks,
                      std::span<std::int32_t> out) {
  constexpr std::int32_t kRun = 64;
  const auto used = static_cast<std::int32_t>(blocks.size());
  const detail::member_counter count_members = detail::kernels().count_members;
  std::int32_t decoded[256];
  std::int32_t i = 0;
  std::int64_t below = 0;  // the members of blocks [0, i)
  std::int64_t in_block = decode_members(blocks[0], decoded);
  for (std::size_t r = 0; r < ranks.size(); ++r) {
    const std::int64_t k = ranks[r];
    if (k - below >= in_block) {
      int steps = 0;
      do {
        below += in_block;
        ++i;
        while (++steps > 4 && used - i > kRun) {
          const std::int64_t run = count_members(blocks.data() + i, kRun);
          if (below + run > k) break;
          below += run;
          i += kRun;
        }
        in_block = map_popcount(load_map(blocks[i]));
      } while (k - below >= in_block);
      decode_members(blocks[i], decoded);
    }
    out[r] = decoded[k - below];
  }
}

}  // namespace

void tnumbrelle::contains_many(std::span<const std::int32_t> values, std::span<bool> out) const {
  check_lengths("contains_many", values.size(), out.size());
  const tblock* blocks = buffer.data();
  const std::size_t n = values.size();
  if (keys_unordered || n * kBlocksPerValueToIndex < static_cast<std::size_t>(used)) {
    for (std::size_t v = 0; v < n; ++v) out[v] = contains(values[v]);
    return;
  }
  const std::size_t done = contains_ascending(this->blocks(), values, out);
  if (done == n) return;
  const key_positions position(this->blocks());
  for (std::size_t v = done; v < n; ++v) {
    const std::int32_t key = key_of(values[v]), i = position(key);
    out[v] = i < used && blocks[i].key == key && bit_set(blocks[i], values[v]);
  }
}

void tnumbrelle::rank_many(std::span<const std::int32_t> values, std::span<std::int64_t> out) const {
  check_lengths("rank_many", values.size(), out.size());
  const tblock* blocks = buffer.data();
  const std::size_t n = values.size();
  const auto rank_at = [&](std::int64_t below, std::int32_t i, std::int32_t value) {
    if (i < used && blocks[i].key == key_of(value)) below += members_up_to(blocks[i], detail::bit_of(value));
    return below;
  };
  if (keys_unordered) {
    for (std::size_t v = 0; v < n; ++v) out[v] = rank(values[v]);
    return;
  }
  const std::size_t done = rank_ascending(this->blocks(), values, out);
  if (done == n) return;
  const std::vector<std::int64_t> running = running_counts(this->blocks());
  if ((n - done) * kBlocksPerValueToIndex < static_cast<std::size_t>(used)) {
    for (std::size_t v = done; v < n; ++v) {
      const std::int32_t i = locate(values[v]).position;
      out[v] = rank_at(running[static_cast<std::size_t>(i)], i, values[v]);
    }
    return;
  }
  const key_positions position(this->blocks());
  for (std::size_t v = done; v < n; ++v) {
    const std::int32_t i = position(key_of(values[v]));
    out[v] = rank_at(running[static_cast<std::size_t>(i)], i, values[v]);
  }
}

void tnumbrelle::select_many(std::span<const std::int64_t> ranks, std::span<std::int32_t> out) const {
  check_lengths("select_many", ranks.size(), out.size());
  const std::size_t n = ranks.size();
  // A negative rank is a large one as unsigned: one comparison finds both, without a branch per rank.
  const auto outside = [this](std::int64_t k) {
    return static_cast<std::uint64_t>(k) >= static_cast<std::uint64_t>(members);
  };
  bool any_outside = false, falls = false;
  std::uint64_t previous = 0;
  for (const std::int64_t k : ranks) {
    const auto rank = static_cast<std::uint64_t>(k);
    any_outside |= rank >= static_cast<std::uint64_t>(members);
    falls |= rank < previous;
    previous = rank;
  }
  if (any_outside) {
    const auto r =
        static_cast<std::size_t>(std::find_if(ranks.begin(), ranks.end(), outside) - ranks.begin());
    throw std::out_of_range("select_many: rank " + std::to_string(ranks[r]) + " at position " +
                            std::to_string(r) + " is outside [0, " + std::to_string(members) + ")");
  }
  const tblock* blocks = buffer.data();
  if (n == 0) return;
  if (keys_unordered) {
    for (std::size_t r = 0; r < n; ++r) out[r] = static_cast<std::int32_t>(member_with_rank(ranks[r]));
    return;
  }
  if (!falls) {
    select_ascending(this->blocks(), ranks, out);
    return;
  }
  if (members <= kMembersPerRankToDecode * static_cast<std::int64_t>(n)) {
    // Many ranks for the members: decoding them all costs less than a search per rank.
    std::vector<std::int32_t> all(static_cast<std::size_t>(members));
    std::int32_t* at = all.data();
    for (const tblock& block : this->blocks()) at += decode_members(block, at);
    for (std::size_t r = 0; r < n; ++r) out[r] = all[static_cast<std::size_t>(ranks[r])];
    return;
  }
  const std::vector<std::int64_t> running = running_counts(this->blocks());
  for (std::size_t r = 0; r < n; ++r) {
    // The last block with fewer members before it than the rank, which holds the member.
    const auto after = std::upper_bound(running.begin() + 1, running.end(), ranks[r]);
    const auto i = static_cast<std::size_t>(after - running.begin()) - 1;
    out[r] = member_at(blocks[i], ranks[r] - running[i]);
  }
}

}  // namespace intset
