// tnumbrelle: many lookups in one call: membership, rank and select of a whole array of values or ranks.
// Input in ascending order is answered in one walk over the blocks beside it. Other input is answered
// through what the call builds in O(blocks), the blocks' positions by key or their running member counts,
// and one search per value; a few values among many blocks are searched for one by one instead.
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

void check_lengths(const char* operation, std::size_t inputs, std::size_t outputs) {
  if (inputs == outputs) return;
  throw std::invalid_argument(std::string(operation) + ": " + std::to_string(inputs) +
                              " inputs but room for " + std::to_string(outputs) + " answers");
}

bool bit_set(const tblock& block, std::int32_t value) {
  const auto bit = static_cast<unsigned>(detail::bit_of(value));
  return (block.bits[bit >> 3] >> (bit & 7)) & 1;
}

// The members of the block whose bits are at most `bit`.
int members_up_to(const tblock& block, unsigned bit) {
  map_words m = load_map(block);
  const unsigned w = bit >> 6;
  if ((bit & 63) != 63) m.w[w] &= (std::uint64_t{2} << (bit & 63)) - 1;
  for (unsigned k = w + 1; k < 4; ++k) m.w[k] = 0;
  return map_popcount(m);
}

// The member of the block with exactly `k` members of the block below it; k < the block's members.
std::int32_t member_at(const tblock& block, std::int64_t k) {
  const map_words m = load_map(block);
  for (int w = 0;; ++w) {
    const int members = detail::word_popcount(m.w[w]);
    if (k < members) {
      const int bit = 64 * w + detail::select_in_word(m.w[w], static_cast<int>(k));
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(block.key) << 8 |
                                       static_cast<unsigned>(bit));
    }
    k -= members;
  }
}

// Where the blocks of rising keys are, for the searches of one call: a table from each key between the
// lowest and the highest to the position of the first block whose key is not less, when the keys leave
// few gaps (one load a search); otherwise the keys alone, packed, for a halving search that stays in the
// cache longer than one over the blocks.
class key_positions {
 public:
  explicit key_positions(std::span<const tblock> blocks) : used_(static_cast<std::int32_t>(blocks.size())) {
    if (blocks.empty()) return;
    first_ = blocks.front().key;
    const std::int64_t span = std::int64_t{blocks.back().key} - first_ + 1;
    if (span <= 4 * std::int64_t{used_} + 4096) {
      table_.resize(static_cast<std::size_t>(span));
      std::int32_t position = 0;
      for (std::int64_t k = 0; k < span; ++k) {
        while (blocks[static_cast<std::size_t>(position)].key < first_ + k) ++position;
        table_[static_cast<std::size_t>(k)] = position;
      }
    } else {
      keys_.reserve(blocks.size());
      for (const tblock& block : blocks) keys_.push_back(block.key);
    }
  }

  // The position of the first block whose key is not less than `key`; the block count when there is none.
  std::int32_t operator()(std::int32_t key) const {
    if (used_ == 0 || key <= first_) return 0;
    const std::int64_t offset = std::int64_t{key} - first_;
    if (!table_.empty())
      return offset < std::ssize(table_) ? table_[static_cast<std::size_t>(offset)] : used_;
    const std::int32_t* base = keys_.data();
    for (std::size_t n = keys_.size(); n > 1;) {
      const std::size_t half = n / 2;
      base = base[half - 1] < key ? base + half : base;
      n -= half;
    }
    return static_cast<std::int32_t>(base - keys_.data()) + (*base < key ? 1 : 0);
  }

 private:
  std::int32_t used_;
  std::int64_t first_ = 0;
  std::vector<std::int32_t> table_;
  std::vector<std::int32_t> keys_;
};

// The members of the blocks before each position: running[i] for blocks [0, i).
std::vector<std::int64_t> running_counts(std::span<const tblock> blocks) {
  std::vector<std::int64_t> running(blocks.size() + 1);
  for (std::size_t i = 0; i < blocks.size(); ++i)
    running[i + 1] = running[i] + map_popcount(load_map(blocks[i]));
  return running;
}

}  // namespace

void tnumbrelle::contains_many(std::span<const std::int32_t> values, std::span<bool> out) const {
  check_lengths("contains_many", values.size(), out.size());
  const tblock* blocks = buffer.data();
  const std::size_t n = values.size();
  if (keys_unordered || n * kBlocksPerValueToIndex < static_cast<std::size_t>(used)) {
    for (std::size_t v = 0; v < n; ++v) out[v] = contains(values[v]);
  } else if (std::is_sorted(values.begin(), values.end())) {
    std::int32_t i = 0;
    for (std::size_t v = 0; v < n; ++v) {
      const std::int32_t key = key_of(values[v]);
      if (i < used && blocks[i].key < key) i = detail::gallop(blocks, i + 1, used, key);
      out[v] = i < used && blocks[i].key == key && bit_set(blocks[i], values[v]);
    }
  } else {
    const key_positions position(this->blocks());
    for (std::size_t v = 0; v < n; ++v) {
      const std::int32_t key = key_of(values[v]), i = position(key);
      out[v] = i < used && blocks[i].key == key && bit_set(blocks[i], values[v]);
    }
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
  } else if (std::is_sorted(values.begin(), values.end())) {
    const detail::member_counter count_members = detail::kernels().count_members;
    std::int32_t i = 0;
    std::int64_t below = 0;  // the members of blocks [0, i)
    for (std::size_t v = 0; v < n; ++v) {
      const std::int32_t key = key_of(values[v]);
      if (i < used && blocks[i].key < key) {
        const std::int32_t next = detail::gallop(blocks, i + 1, used, key);
        below += count_members(blocks + i, next - i);
        i = next;
      }
      out[v] = rank_at(below, i, values[v]);
    }
  } else if (n * kBlocksPerValueToIndex < static_cast<std::size_t>(used)) {
    const std::vector<std::int64_t> running = running_counts(this->blocks());
    for (std::size_t v = 0; v < n; ++v) {
      const std::int32_t i = locate(values[v]).position;
      out[v] = rank_at(running[static_cast<std::size_t>(i)], i, values[v]);
    }
  } else {
    const std::vector<std::int64_t> running = running_counts(this->blocks());
    const key_positions position(this->blocks());
    for (std::size_t v = 0; v < n; ++v) {
      const std::int32_t i = position(key_of(values[v]));
      out[v] = rank_at(running[static_cast<std::size_t>(i)], i, values[v]);
    }
  }
}

void tnumbrelle::select_many(std::span<const std::int64_t> ranks, std::span<std::int32_t> out) const {
  check_lengths("select_many", ranks.size(), out.size());
  const std::size_t n = ranks.size();
  for (std::size_t r = 0; r < n; ++r) {
    if (ranks[r] < 0 || ranks[r] >= members) {
      throw std::out_of_range("select_many: rank " + std::to_string(ranks[r]) + " at position " +
                              std::to_string(r) + " is outside [0, " + std::to_string(members) + ")");
    }
  }
  const tblock* blocks = buffer.data();
  if (n == 0) return;
  if (keys_unordered) {
    for (std::size_t r = 0; r < n; ++r) out[r] = static_cast<std::int32_t>(member_with_rank(ranks[r]));
  } else if (std::is_sorted(ranks.begin(), ranks.end())) {
    // Runs of 64 blocks are skipped whole by their count, as select() does.
    constexpr std::int32_t kRun = 64;
    const detail::member_counter count_members = detail::kernels().count_members;
    std::int32_t i = 0;
    std::int64_t below = 0;                                     // the members of blocks [0, i)
    std::int64_t in_block = map_popcount(load_map(blocks[0]));  // those of block i
    for (std::size_t r = 0; r < n; ++r) {
      const std::int64_t k = ranks[r];
      while (below + in_block <= k) {
        below += in_block;
        ++i;
        while (used - i > kRun) {
          const std::int64_t run = count_members(blocks + i, kRun);
          if (below + run > k) break;
          below += run;
          i += kRun;
        }
        in_block = map_popcount(load_map(blocks[i]));
      }
      out[r] = member_at(blocks[i], k - below);
    }
  } else {
    const std::vector<std::int64_t> running = running_counts(this->blocks());
    for (std::size_t r = 0; r < n; ++r) {
      // The last block with fewer members before it than the rank, which holds the member.
      const auto after = std::upper_bound(running.begin() + 1, running.end(), ranks[r]);
      const auto i = static_cast<std::size_t>(after - running.begin()) - 1;
      out[r] = member_at(blocks[i], ranks[r] - running[i]);
    }
  }
}

}  // namespace intset
