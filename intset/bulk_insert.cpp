// tnumbrelle: adding many values at once.
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "intset/block_ops.h"
#include "intset/capacity.h"
#include "intset/tnumbrelle.h"

namespace intset {

using detail::bit_of;
using detail::key_of;
using detail::load_map;
using detail::map_popcount;
using detail::map_words;
using detail::store_map;

namespace {

// Sorts values by block key (not within a block, which the merge does not need): two stable passes of a
// radix sort over the 24 key bits, with the sign bit flipped so that unsigned order is signed order.
void sort_by_key(std::vector<std::int32_t>& values) {
  constexpr std::size_t kSmall = 2048;
  if (values.size() < kSmall) {
    std::sort(values.begin(), values.end());
    return;
  }
  const auto biased = [](std::int32_t v) { return static_cast<std::uint32_t>(v) ^ 0x80000000u; };
  std::vector<std::int32_t> scratch(values.size());
  std::vector<std::size_t> low(4097, 0), high(4097, 0);
  for (const std::int32_t v : values) {
    ++low[((biased(v) >> 8) & 0xFFF) + 1];
    ++high[(biased(v) >> 20) + 1];
  }
  for (std::size_t i = 1; i <= 4096; ++i) {
    low[i] += low[i - 1];
    high[i] += high[i - 1];
  }
  for (const std::int32_t v : values) scratch[low[(biased(v) >> 8) & 0xFFF]++] = v;
  for (const std::int32_t v : scratch) values[high[biased(v) >> 20]++] = v;
}

bool keys_rise(std::span<const std::int32_t> values) {
  for (std::size_t i = 1; i < values.size(); ++i)
    if (key_of(values[i]) < key_of(values[i - 1])) return false;
  return true;
}

}  // namespace

// Many values over few blocks are marked straight into the maps of every key between the lowest and the
// highest value, in one pass and in whatever order they come, which is several times faster than sorting
// them; the maps that got members are then merged into the set. `values` is not empty.
bool tnumbrelle::include_marked(std::span<const std::int32_t> values) {
  constexpr std::size_t kMarkFrom = 4096;   // values below which sorting them costs too little to matter
  constexpr std::size_t kValuesPerKey = 4;  // at least: the maps take at most 9 bytes a value
  if (values.size() < kMarkFrom) return false;
  const auto [lowest, highest] = std::minmax_element(values.begin(), values.end());
  const std::int32_t first_key = key_of(*lowest);
  const auto keys = static_cast<std::size_t>(std::int64_t{key_of(*highest)} - first_key + 1);
  if (keys > values.size() / kValuesPerKey) return false;
  std::vector<tblock> marked;
  try {
    marked.assign(keys, tblock{});
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Each value is read once more here. Values that changed since the first pass (the caller's buffer is
  // shared with another thread, say) and now lie outside the marked keys are left out.
  const std::uint32_t first_value = static_cast<std::uint32_t>(first_key) << 8;
  for (const std::int32_t value : values) {
    const std::uint32_t at = static_cast<std::uint32_t>(value) - first_value;
    if ((at >> 8) >= keys) [[unlikely]]
      continue;
    marked[at >> 8].bits[(at & 0xFF) >> 3] |= static_cast<std::uint8_t>(1u << (at & 7));
  }
  std::size_t n = 0;  // the marked blocks with members, moved to the front with their keys
  for (std::size_t k = 0; k < keys; ++k) {
    if (detail::map_is_empty(load_map(marked[k]))) continue;
    marked[n] = marked[k];
    marked[n++].key = first_key + static_cast<std::int32_t>(k);
  }
  return merge_blocks(marked.data(), static_cast<std::int32_t>(n));
}

// Merges blocks with rising keys and members into the set: counts the keys that need a new block, grows
// the buffer once as the one-by-one loop would, then merges from the back. False, with the set unchanged,
// when the buffer cannot grow.
bool tnumbrelle::merge_blocks(const tblock* add, std::int32_t n) {
  std::int64_t fresh = 0;
  for (std::int32_t a = 0, i = 0; a < n; ++a) {
    while (i < used && buffer[i].key < add[a].key) ++i;
    fresh += i == used || buffer[i].key != add[a].key;
  }
  const std::int64_t final_used = used + fresh;
  try {
    buffer.resize(detail::buffer_length(detail::grown_capacity(buffer.length(), final_used)));
  } catch (const EOutOfMemory&) {
    return false;
  }
  tblock* blocks = buffer.data();
  std::int64_t i = used - 1, w = final_used - 1, added = 0;
  for (std::int32_t a = n - 1; a >= 0; --a) {
    while (i >= 0 && blocks[i].key > add[a].key) blocks[w--] = blocks[i--];
    map_words map = load_map(add[a]);
    if (i >= 0 && blocks[i].key == add[a].key) {
      const map_words old = load_map(blocks[i--]);
      map = detail::and_not(map, old);
      added += map_popcount(map);
      for (int k = 0; k < 4; ++k) map.w[k] |= old.w[k];
    } else {
      added += map_popcount(map);
    }
    blocks[w].key = add[a].key;
    store_map(blocks[w--], map);
  }
  used = static_cast<std::int32_t>(final_used);
  members += added;
  return true;
}

// One pass instead of one include() per value: many values over few blocks are marked (include_marked());
// others are sorted by key (unless their keys already rise, as in the output of to_array()), the keys that
// need a new block counted, the buffer grown once to the capacity the one-by-one loop would reach (it grows
// by 32 only when full), and the new blocks merged in from the back. A block array out of key order (only a
// loaded file can bring one) or a failed allocation takes the one-by-one loop, which defines the result.
void tnumbrelle::include_array(std::span<const std::int32_t> values) {
  if (values.empty()) return;
  if (!detail::keys_ascending(blocks())) {
    include_one_by_one(values);
    return;
  }
  if (include_marked(values)) return;
  std::vector<std::int32_t> copy;
  std::span<const std::int32_t> sorted = values;
  if (!keys_rise(values)) {
    try {
      copy.assign(values.begin(), values.end());
      sort_by_key(copy);
    } catch (const std::bad_alloc&) {
      include_one_by_one(values);
      return;
    }
    sorted = copy;
  }
  const auto key_at = [&](std::size_t v) { return key_of(sorted[v]); };
  const std::size_t n = sorted.size();

  std::int64_t fresh = 0;
  for (std::size_t v = 0, i = 0; v < n;) {
    const std::int32_t key = key_at(v++);
    while (i < std::size_t(used) && buffer[std::int32_t(i)].key < key) ++i;
    if (i == std::size_t(used) || buffer[std::int32_t(i)].key != key) ++fresh;
    while (v < n && key_at(v) == key) ++v;
  }
  const std::int64_t final_used = used + fresh;
  try {
    buffer.resize(detail::buffer_length(detail::grown_capacity(buffer.length(), final_used)));
  } catch (const EOutOfMemory&) {
    include_one_by_one(values);
    return;
  }

  // Merged from the back. `sorted` may be the caller's buffer, read here a second time: each value is read
  // once in this pass, and a value that no longer fits what the count above planned for (its key not below
  // the last one written, or a new block with no slot left) is left out, so nothing is written outside the
  // slots counted, and the keys still rise. Slots counted but not needed are closed up at the end.
  tblock* blocks = buffer.data();
  std::int64_t i = used - 1, w = final_used - 1, v = std::int64_t(n) - 1, added = 0;
  std::int64_t below = std::int64_t{INT32_MAX} + 1;  // the key last written; keys written must stay below it
  while (v >= 0) {
    const std::int32_t head = sorted[std::size_t(v--)];
    const std::int32_t key = key_of(head);
    map_words add{};
    add.w[bit_of(head) >> 6] = std::uint64_t{1} << (bit_of(head) & 63);
    for (; v >= 0; --v) {
      const std::int32_t value = sorted[std::size_t(v)];
      if (key_of(value) != key) break;
      const std::uint8_t bit = bit_of(value);
      add.w[bit >> 6] |= std::uint64_t{1} << (bit & 63);
    }
    if (key >= below) [[unlikely]]
      continue;
    while (i >= 0 && blocks[i].key > key) blocks[w--] = blocks[i--];
    if (i >= 0 && blocks[i].key == key) {
      const map_words old = load_map(blocks[i--]);
      add = detail::and_not(add, old);
      added += map_popcount(add);
      for (int k = 0; k < 4; ++k) add.w[k] |= old.w[k];
    } else if (w == i) [[unlikely]] {
      continue;
    } else {
      added += map_popcount(add);
    }
    blocks[w].key = key;
    store_map(blocks[w--], add);
    below = key;
  }
  if (w > i) [[unlikely]] {
    std::memmove(blocks + i + 1, blocks + w + 1, std::size_t(final_used - 1 - w) * sizeof(tblock));
  }
  used = static_cast<std::int32_t>(final_used - (w - i));
  members += added;
}

}  // namespace intset
