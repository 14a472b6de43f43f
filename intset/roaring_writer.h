// The Roaring writer as a template over the popcount, so that a build for processors with the popcount and
// bit manipulation instructions (x86/roaring_kernels.cpp) is the same code.
//
// Writing measures every container first (the headers, which come first, need its cardinality and kind),
// then writes the headers and the containers through a chunk_writer.
#ifndef INTSET_ROARING_WRITER_H_
#define INTSET_ROARING_WRITER_H_

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <span>
#include <vector>

#include "intset/chunk_writer.h"
#include "intset/record_codec.h"
#include "intset/roaring_layout.h"

namespace intset::detail::roaring {

enum class container_kind : unsigned char { array, bitset, run };

// One container to write: its blocks [first, last), and what they hold.
struct container_plan {
  const tblock* first;
  const tblock* last;
  std::uint32_t key;
  std::int32_t cardinality;
  std::int32_t runs;
  container_kind kind;

  std::size_t bytes() const {
    switch (kind) {
      case container_kind::array:
        return 2 * static_cast<std::size_t>(cardinality);
      case container_kind::bitset:
        return kBitsetBytes;
      case container_kind::run:
        break;
    }
    return 2 + 4 * static_cast<std::size_t>(runs);
  }
};

// The runs of consecutive members in blocks [first, last) of one container (a run that crosses from one
// block into the next counts once), but only as far as they can make a run container the smallest: counting
// stops, in steps of 16 blocks, once they reach `limit`.
template <typename Popcount>
[[gnu::always_inline]] inline std::int64_t count_runs(const tblock* b, const tblock* last, std::int64_t limit,
                                                      Popcount popcount) {
  std::int64_t runs = 0;
  std::uint64_t carry = 0;  // the top bit of the previous word, when it is the adjacent one
  std::uint32_t next_index = 0x100;
  while (b != last && runs < limit) {
    for (const tblock* step_end = b + std::min<std::ptrdiff_t>(16, last - b); b != step_end; ++b) {
      const std::uint32_t index = index_of(b->key);
      carry &= index == next_index;
      next_index = index + 1;
      for (std::uint32_t w = 0; w < 4; ++w) {
        const std::uint64_t word = map_word(*b, w);
        runs += popcount(word & ~(word << 1 | carry));
        carry = word >> 63;
      }
    }
  }
  return runs;
}

// The blocks of [first, last) with members whose index follows no block with members: each starts a run.
// Counting them is cheaper than counting runs, and where there are many blocks far apart, enough.
inline std::int64_t blocks_apart(const tblock* b, const tblock* last) noexcept {
  std::int64_t apart = 0;
  std::uint32_t next_index = 0x100;
  for (; b != last; ++b) {
    const bool held = (map_word(*b, 0) | map_word(*b, 1) | map_word(*b, 2) | map_word(*b, 3)) != 0;
    apart += held && index_of(b->key) != next_index;
    next_index = held ? index_of(b->key) + 1 : 0x100;
  }
  return apart;
}

// Splits blocks (all in one half of the stored values) into containers, adds each one that holds members
// to `plans` and picks its kind: the smallest, with ties settled as CRoaring's run optimization settles them.
// A container of only empty maps (a loaded file may bring such blocks) is not written. Clears `ordered`
// where a block's key is not above the one before it in memory (`all` starts the set's blocks): this pass
// over the blocks checks that too.
template <typename Popcount>
[[gnu::always_inline]] inline void plan_part(const tblock* b, const tblock* const end, const tblock* all,
                                             std::vector<container_plan>& plans, bool& ordered,
                                             Popcount popcount) {
  while (b != end) {
    const tblock* const first = b;
    const std::uint32_t key = container_of(b->key);
    std::int64_t cardinality = 0;
    do {
      ordered &= b == all || b[-1].key < b->key;
      cardinality += popcount(map_word(*b, 0)) + popcount(map_word(*b, 1)) + popcount(map_word(*b, 2)) +
                     popcount(map_word(*b, 3));
      ++b;
    } while (b != end && container_of(b->key) == key);
    if (cardinality == 0) continue;
    // A run container is chosen only when strictly smaller: 2 + 4 runs < 2 + 2 members (an array, counted
    // with a 2-byte cardinality, as CRoaring's run optimization does) or < 8192 (a bitset).
    const std::int64_t limit = cardinality <= kArrayMax ? (cardinality + 1) / 2 : (kBitsetBytes - 2 + 3) / 4;
    const std::int64_t runs = b - first >= limit && blocks_apart(first, b) >= limit
                                  ? limit  // too many, whatever their number
                                  : count_runs(first, b, limit, popcount);
    const container_kind kind = runs < limit               ? container_kind::run
                                : cardinality <= kArrayMax ? container_kind::array
                                                           : container_kind::bitset;
    plans.push_back(
        {first, b, key, static_cast<std::int32_t>(cardinality), static_cast<std::int32_t>(runs), kind});
  }
}

// The blocks of the members from 0 up come first: their stored values are the smaller ones. Raises
// EUnorderedBlocks for a set whose keys do not rise (only an old-form file can bring one): it has no order
// to write its containers in. Only the first and the last key are looked at for their range once the pass
// has found them rising.
template <typename Popcount>
[[gnu::always_inline]] inline std::vector<container_plan> plan(std::span<const tblock> blocks,
                                                               Popcount popcount) {
  const tblock* const begin = blocks.data();
  const tblock* const end = begin + blocks.size();
  const tblock* const negatives_end =
      std::partition_point(begin, end, [](const tblock& b) { return b.key < 0; });
  std::vector<container_plan> plans;
  bool ordered = true;
  plan_part(negatives_end, end, begin, plans, ordered, popcount);
  plan_part(begin, negatives_end, begin, plans, ordered, popcount);
  // Keys past the range that values give would share containers with others, which the reader refuses.
  if (!ordered || (!blocks.empty() &&
                   (!detail::key_in_range(blocks.front().key) || !detail::key_in_range(blocks.back().key)))) {
    throw EUnorderedBlocks();
  }
  return plans;
}

// The values of blocks [first, last) of an array container, written from `at`; returns their end. Only
// the non-empty words of a block are visited. Each writes `Step` values unconditionally, and `Step` more as
// long as it holds more, past its last value too (into slack that later values overwrite or that is not
// committed): how many values a word holds then costs no branch that the data could make unpredictable.
template <int Step, typename Popcount>
[[gnu::always_inline]] inline unsigned char* array_values(const tblock* first, const tblock* last,
                                                          unsigned char* at, Popcount popcount) {
  for (const tblock* b = first; b != last; ++b) {
    const std::uint32_t base = index_of(b->key) << 8;
    unsigned occupied = unsigned{map_word(*b, 0) != 0} | unsigned{map_word(*b, 1) != 0} << 1 |
                        unsigned{map_word(*b, 2) != 0} << 2 | unsigned{map_word(*b, 3) != 0} << 3;
    for (; occupied != 0; occupied &= occupied - 1) {
      const int w = std::countr_zero(occupied);
      std::uint64_t word = map_word(*b, static_cast<std::uint32_t>(w));
      const std::uint32_t word_base = base + 64 * static_cast<std::uint32_t>(w);
      unsigned char* const word_end = at + 2 * popcount(word);
      do {
        for (int i = 0; i < 2 * Step; i += 2) {
          // The top bit keeps an exhausted word from being a case of its own: its value is never kept.
          put_u16(at + i,
                  word_base + static_cast<std::uint32_t>(std::countr_zero(word | std::uint64_t{1} << 63)));
          word &= word - 1;
        }
        at += 2 * Step;
      } while (at < word_end);
      at = word_end;
    }
  }
  return at;
}

// Array containers [first, last), whose blocks follow each other: as an array's body is its values, the
// bodies of such containers are their blocks' values, all in a row. Eight values a step where the blocks
// hold eight or more on average, four otherwise.
template <typename Popcount>
[[gnu::always_inline]] inline void write_arrays(chunk_writer& sink, const container_plan* first,
                                                const container_plan* last, std::size_t bytes,
                                                Popcount popcount) {
  unsigned char* const start = sink.room(bytes + kArraySlack);
  const bool dense = bytes >= 16 * static_cast<std::size_t>(last[-1].last - first->first);
  sink.commit(dense ? array_values<8>(first->first, last[-1].last, start, popcount)
                    : array_values<4>(first->first, last[-1].last, start, popcount));
}

// A bitset container and a run container (roaring_writer.cpp).
void write_bitset(chunk_writer& sink, const container_plan& plan);
void write_runs(chunk_writer& sink, const container_plan& plan);

template <typename Popcount>
[[gnu::always_inline]] inline void write_bitmap(std::span<const tblock> blocks, std::ostream& out,
                                                Popcount popcount) {
  const std::vector<container_plan> plans = plan(blocks, popcount);
  const auto count = static_cast<std::uint32_t>(plans.size());
  const bool has_runs = std::any_of(plans.begin(), plans.end(),
                                    [](const container_plan& p) { return p.kind == container_kind::run; });
  chunk_writer sink(out);

  std::int64_t header = 0;
  if (has_runs) {
    unsigned char* at = sink.room(4);
    put_u32(at, kCookieRuns | (count - 1) << 16);
    sink.commit(at + 4);
    for (std::uint32_t c = 0; c < count; c += 8) {
      unsigned char flags = 0;
      for (std::uint32_t i = c; i < std::min(count, c + 8); ++i) {
        flags |= static_cast<unsigned char>((plans[i].kind == container_kind::run) << (i - c));
      }
      at = sink.room(1);
      *at = flags;
      sink.commit(at + 1);
    }
    header = 4 + (count + 7) / 8;
  } else {
    unsigned char* at = sink.room(8);
    put_u32(at, kCookieNoRuns);
    put_u32(at + 4, count);
    sink.commit(at + 8);
    header = 8;
  }
  for (const container_plan& plan : plans) {
    unsigned char* at = sink.room(4);
    put_u16(at, plan.key);
    put_u16(at + 2, static_cast<std::uint32_t>(plan.cardinality - 1));
    sink.commit(at + 4);
  }
  header += 4 * std::int64_t{count};
  if (!has_runs || count >= kOffsetsFromCount) {
    std::int64_t offset = header + 4 * std::int64_t{count};
    for (const container_plan& plan : plans) {
      unsigned char* at = sink.room(4);
      put_u32(at, static_cast<std::uint32_t>(offset));
      sink.commit(at + 4);
      offset += static_cast<std::int64_t>(plan.bytes());
    }
  }
  for (const container_plan* plan = plans.data(); plan != plans.data() + count;) {
    switch (plan->kind) {
      case container_kind::array: {
        // With the array containers after it whose blocks follow on, as far as a chunk takes them.
        const container_plan* last = plan;
        std::size_t bytes = 0;
        do {
          bytes += last->bytes();
          ++last;
        } while (last != plans.data() + count && last->kind == container_kind::array &&
                 last->first == last[-1].last && bytes + last->bytes() + kArraySlack <= chunk_writer::kChunk);
        write_arrays(sink, plan, last, bytes, popcount);
        plan = last;
        break;
      }
      case container_kind::bitset:
        write_bitset(sink, *plan++);
        break;
      case container_kind::run:
        write_runs(sink, *plan++);
        break;
    }
  }
  sink.sync();
}

}  // namespace intset::detail::roaring

#endif  // INTSET_ROARING_WRITER_H_
