// tnumbrelle: ranges of values [lo, hi] and order statistics. The range operations work block by block: the
// blocks strictly inside a range are filled, cleared or counted whole, and only the blocks of lo and hi are
// masked.
#include <algorithm>
#include <cstring>

#include "intset/block_ops.h"
#include "intset/capacity.h"
#include "intset/tnumbrelle.h"

namespace intset {

using detail::and_not;
using detail::bit_range;
using detail::key_of;
using detail::load_map;
using detail::map_is_empty;
using detail::map_popcount;
using detail::map_words;
using detail::store_map;
using detail::word_popcount;

namespace {

// The bits of block `key` whose values lie in [lo, hi], for a key from key_of(lo) to key_of(hi).
map_words range_mask(std::int32_t key, std::int32_t lo, std::int32_t hi) {
  return bit_range(key == key_of(lo) ? (lo & 0xFF) : 0, key == key_of(hi) ? (hi & 0xFF) : 255);
}

// The lowest and highest set bit (0..255) of a map that is not empty.
int lowest_bit(const map_words& m) {
  int w = 0;
  while (m.w[w] == 0) ++w;
  return 64 * w + std::countr_zero(m.w[w]);
}
int highest_bit(const map_words& m) {
  int w = 3;
  while (m.w[w] == 0) --w;
  return 64 * w + 63 - std::countl_zero(m.w[w]);
}

// include() of a value whose block is missing: a new block at `position`, the buffer grown by 32 when full.
void insert_block(tbuffer& buffer, std::int32_t& used, std::int32_t position, std::int32_t key,
                  const map_words& map) {
  if (buffer.length() == used) {
    buffer.resize(detail::buffer_length(detail::grown_capacity(buffer.length(), std::int64_t{used} + 1)));
  }
  tblock* blocks = buffer.data();
  std::memmove(blocks + position + 1, blocks + position, std::size_t(used - position) * sizeof(tblock));
  ++used;
  blocks[position].key = key;
  store_map(blocks[position], map);
}

// The capacity exclude() leaves after removing `removed` blocks one after another from `used`, starting
// at `capacity`: each removal trims the buffer to the block count once 128 or more slots are free.
std::int64_t capacity_after_removals(std::int64_t capacity, std::int32_t used, std::int32_t removed) {
  for (std::int32_t k = 1; k <= removed; ++k) capacity = detail::excluded_capacity(capacity, used - k);
  return capacity;
}

}  // namespace

// The blocks of a range are counted, filled or cleared anyway, so the end of its blocks is found by stepping
// over them from the first rather than by a second search.
std::int32_t tnumbrelle::end_of_keys(std::int32_t from, std::int32_t last_key) const {
  while (from < used && buffer[from].key <= last_key) ++from;
  return from;
}

// On ascending keys: the blocks of the range's keys that exist lie at positions first..last-1. The new ones
// are counted, the buffer is sized once to the capacity the value-by-value loop would reach (so a failed
// allocation changes nothing), the blocks after the range are moved up, and the range's blocks are written
// from the back, each existing one merged in on the way.
void tnumbrelle::include_range(std::int32_t lo, std::int32_t hi) {
  if (lo > hi) return;
  if (keys_unordered) {
    include_range_unordered(lo, hi);
    return;
  }
  const std::int32_t first_key = key_of(lo), last_key = key_of(hi);
  const std::int32_t first = locate(lo).position;
  const std::int32_t last = end_of_keys(first, last_key);
  const std::int64_t keys = std::int64_t{last_key} - first_key + 1;
  const std::int64_t fresh = keys - (last - first);
  const std::int64_t final_used = used + fresh;
  buffer.resize(detail::buffer_length(detail::grown_capacity(buffer.length(), final_used)));

  tblock* blocks = buffer.data();
  std::memmove(blocks + last + fresh, blocks + last, std::size_t(used - last) * sizeof(tblock));
  std::int64_t i = last - 1, w = first + keys - 1, added = 0;
  for (std::int64_t key = last_key; key >= first_key; --key, --w) {
    map_words map = range_mask(static_cast<std::int32_t>(key), lo, hi);
    if (i >= first && blocks[i].key == key) {
      const map_words old = load_map(blocks[i--]);
      added += map_popcount(and_not(map, old));
      for (int k = 0; k < 4; ++k) map.w[k] |= old.w[k];
    } else {
      added += map_popcount(map);
    }
    blocks[w].key = static_cast<std::int32_t>(key);
    store_map(blocks[w], map);
  }
  used = static_cast<std::int32_t>(final_used);
  members += added;
}

// The loop of include() value by value, block by block: within one block the search gives the same answer
// for every value until the block array changes, so a found block takes the rest of the range's bits at
// once; a missing one is inserted where the search says, and the search runs again for the next value.
// Done on a copy, so that running out of memory leaves the set unchanged.
void tnumbrelle::include_range_unordered(std::int32_t lo, std::int32_t hi) {
  tnumbrelle work(*this);
  for (std::int64_t key = key_of(lo); key <= key_of(hi); ++key) {
    map_words rest = range_mask(static_cast<std::int32_t>(key), lo, hi);
    while (!map_is_empty(rest)) {
      const int bit = lowest_bit(rest);
      const location at = work.locate(value_of(static_cast<std::int32_t>(key), static_cast<unsigned>(bit)));
      if (at.found) {
        const map_words old = load_map(work.buffer[at.position]);
        work.members += map_popcount(and_not(rest, old));
        for (int k = 0; k < 4; ++k) rest.w[k] |= old.w[k];
        store_map(work.buffer[at.position], rest);
        break;
      }
      map_words single{};
      single.w[bit >> 6] = std::uint64_t{1} << (bit & 63);
      insert_block(work.buffer, work.used, at.position, static_cast<std::int32_t>(key), single);
      ++work.members;
      rest.w[bit >> 6] &= rest.w[bit >> 6] - 1;
    }
  }
  buffer.swap(work.buffer);
  used = work.used;
  members = work.members;
}

// On ascending keys: one pass over the blocks of the range, keeping the cleared maps and dropping the blocks
// that exclude() would drop (those whose every member lies in the range), then one move of the blocks after
// the range and one trim to the capacity the value-by-value loop ends with.
void tnumbrelle::exclude_range(std::int32_t lo, std::int32_t hi) {
  if (lo > hi) return;
  if (keys_unordered) {
    exclude_range_unordered(lo, hi);
    return;
  }
  const std::int32_t last_key = key_of(hi);
  const std::int32_t first = locate(lo).position;
  const std::int32_t last = end_of_keys(first, last_key);
  tblock* blocks = buffer.data();
  std::int32_t w = first;
  std::int64_t gone = 0;
  for (std::int32_t i = first; i < last; ++i) {
    const map_words old = load_map(blocks[i]);
    const map_words kept = and_not(old, range_mask(blocks[i].key, lo, hi));
    gone += map_popcount(old) - map_popcount(kept);
    if (map_is_empty(kept) && !map_is_empty(old)) continue;
    blocks[w].key = blocks[i].key;
    store_map(blocks[w++], kept);
  }
  members -= gone;
  const std::int32_t removed = last - w;
  if (removed == 0) return;
  std::memmove(blocks + w, blocks + last, std::size_t(used - last) * sizeof(tblock));
  const std::int64_t capacity = capacity_after_removals(buffer.length(), used, removed);
  used -= removed;
  buffer.resize(static_cast<std::int32_t>(capacity));
}

// The loop of exclude() value by value, block by block. While the block array does not change, the search
// finds the same block for every value of one key. exclude() clears the range's bits in it one at a time and
// drops the block when the value excluded is its only member, which happens exactly when every member lies
// in the rest of the range (at its highest member); the search then runs again for the values above that.
// Blocks are removed without trimming; the one trim at the end gives the capacity exclude() would leave,
// so a trim that fails comes after every value is removed.
void tnumbrelle::exclude_range_unordered(std::int32_t lo, std::int32_t hi) {
  const std::int32_t used_before = used;
  for (std::int64_t key = key_of(lo); key <= key_of(hi); ++key) {
    map_words rest = range_mask(static_cast<std::int32_t>(key), lo, hi);
    while (!map_is_empty(rest)) {
      const location at =
          locate(value_of(static_cast<std::int32_t>(key), static_cast<unsigned>(lowest_bit(rest))));
      if (!at.found) break;
      const map_words old = load_map(buffer[at.position]);
      if (map_is_empty(old) || !map_is_empty(and_not(old, rest))) {
        const map_words kept = and_not(old, rest);
        members -= map_popcount(old) - map_popcount(kept);
        store_map(buffer[at.position], kept);
        break;
      }
      members -= map_popcount(old);  // every member lies in the range: the block goes
      const int top = highest_bit(old);
      for (int w = 0; w < 4; ++w) {
        const int keep_from = std::clamp(top + 1 - 64 * w, 0, 64);
        rest.w[w] &= keep_from == 64 ? 0 : ~std::uint64_t{0} << keep_from;
      }
      tblock* blocks = buffer.data();
      std::memmove(blocks + at.position, blocks + at.position + 1,
                   std::size_t(used - at.position - 1) * sizeof(tblock));
      --used;
    }
  }
  const std::int64_t capacity = capacity_after_removals(buffer.length(), used_before, used_before - used);
  if (capacity != buffer.length()) buffer.resize(static_cast<std::int32_t>(capacity));
}

// On ascending keys the range's blocks must be the keys first_key..last_key at consecutive positions.
bool tnumbrelle::contains_range(std::int32_t lo, std::int32_t hi) const {
  if (lo > hi) return true;
  const std::int32_t first_key = key_of(lo), last_key = key_of(hi);
  const std::int64_t keys = std::int64_t{last_key} - first_key + 1;
  const std::int32_t first = locate(lo).position;
  if (first + keys > used) return false;
  const tblock* blocks = buffer.data();
  if (blocks[first].key != first_key || blocks[first + keys - 1].key != last_key) return false;
  for (std::int64_t i = first; i < first + keys; ++i) {
    if (!map_is_empty(and_not(range_mask(blocks[i].key, lo, hi), load_map(blocks[i])))) return false;
  }
  return true;
}

// The whole blocks by the library's popcount, less the members outside the range in the first and last.
std::int64_t tnumbrelle::count_range(std::int32_t lo, std::int32_t hi) const {
  if (lo > hi) return 0;
  const std::int32_t last_key = key_of(hi);
  const std::int32_t first = locate(lo).position;
  const std::int32_t last = end_of_keys(first, last_key);
  if (first == last) return 0;
  const tblock* blocks = buffer.data();
  std::int64_t total = detail::count_members(blocks + first, last - first);
  const auto outside = [&](const tblock& block) {
    return map_popcount(and_not(load_map(block), range_mask(block.key, lo, hi)));
  };
  total -= outside(blocks[first]);  // the mask of a block strictly inside the range is full
  if (last - 1 > first) total -= outside(blocks[last - 1]);
  return total;
}

// --- Order statistics ---------------------------------------------------------------------------------

std::int64_t tnumbrelle::end_member(bool largest) const {
  for (std::int32_t k = 0; k < used; ++k) {
    const tblock& block = buffer[largest ? used - 1 - k : k];
    const map_words map = load_map(block);
    if (!map_is_empty(map)) {
      return value_of(block.key, static_cast<unsigned>(largest ? highest_bit(map) : lowest_bit(map)));
    }
  }
  return kNoMember;
}

std::int64_t tnumbrelle::rank(std::int32_t value) const {
  const location at = locate(value);
  std::int64_t total = detail::count_members(buffer.data(), at.position);
  if (at.found) {
    const map_words outside =
        and_not(load_map(buffer[at.position]), range_mask(at.key, value_of(at.key, 0), value));
    total += map_popcount(load_map(buffer[at.position])) - map_popcount(outside);
  }
  return total;
}

// Skips whole runs of 64 blocks by the library's popcount, narrows the run down to the block by halves,
// then finds the word and the bit by counting.
std::int64_t tnumbrelle::member_with_rank(std::int64_t k) const {
  if (k < 0) return kNoMember;
  constexpr std::int32_t kRun = 64;
  const tblock* blocks = buffer.data();
  std::int32_t i = 0, n = 0;
  for (;; i += kRun) {
    if (i >= used) return kNoMember;
    n = std::min(kRun, used - i);
    const std::int64_t members = detail::count_members(blocks + i, n);
    if (k < members) break;
    k -= members;
  }
  while (n > 1) {
    const std::int32_t half = n / 2;
    const std::int64_t members = detail::count_members(blocks + i, half);
    if (k < members) {
      n = half;
    } else {
      k -= members;
      i += half;
      n -= half;
    }
  }
  const map_words map = load_map(blocks[i]);
  for (int w = 0; w < 4; ++w) {
    const int members = word_popcount(map.w[w]);
    if (k < members) {
      const int bit = 64 * w + detail::select_in_word(map.w[w], static_cast<int>(k));
      return value_of(blocks[i].key, static_cast<unsigned>(bit));
    }
    k -= members;
  }
  return kNoMember;
}

tnumbrelle::const_iterator tnumbrelle::lower_bound(std::int32_t value) const {
  const location at = locate(value);
  return {buffer.data(), used, at.position, at.found ? at.bit : 0u};
}

}  // namespace intset
