// tnumbrelle: storage, single values, counting and enumeration.
#include "intset/tnumbrelle.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "intset/allocation.h"
#include "intset/block_ops.h"
#include "intset/capacity.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

namespace intset {

using detail::load_map;
using detail::map_words;
using detail::store_map;

namespace {

// Value decomposition: the key is the value shifted right arithmetically by 8, the bit its low 8 bits.
constexpr std::int32_t key_of(std::int32_t value) { return value >> 8; }
constexpr std::uint8_t bit_of(std::int32_t value) { return static_cast<std::uint8_t>(value & 0xFF); }

bool test_bit(const tblock& block, std::uint8_t bit) { return (block.bits[bit >> 3] >> (bit & 7)) & 1; }
void set_bit(tblock& block, std::uint8_t bit) { block.bits[bit >> 3] |= std::uint8_t(1u << (bit & 7)); }
void clear_bit(tblock& block, std::uint8_t bit) { block.bits[bit >> 3] &= std::uint8_t(~(1u << (bit & 7))); }

// Whether the block's map holds this bit and no other.
bool only_bit(const tblock& block, std::uint8_t bit) {
  map_words map = load_map(block);
  map.w[bit >> 6] ^= std::uint64_t{1} << (bit & 63);
  return detail::map_is_empty(map);
}

}  // namespace

// --- tbuffer ------------------------------------------------------------------------------------------

void* detail::reallocate(void* memory, std::size_t bytes) noexcept {
  if (allocations_before_failure == 0) return nullptr;
  if (allocations_before_failure > 0) --allocations_before_failure;
  return std::realloc(memory, bytes);
}

tbuffer::~tbuffer() { release(); }

tbuffer::tbuffer(tbuffer&& other) noexcept { swap(other); }

tbuffer& tbuffer::operator=(tbuffer&& other) noexcept {
  tbuffer(std::move(other)).swap(*this);
  return *this;
}

void tbuffer::resize(std::int32_t length) {
  if (length == length_) return;
  if (length <= 0) {
    release();
    return;
  }
  // Lengths are bounded so that the size in bytes below cannot wrap, on 32-bit hosts either.
  if (length > detail::kMaxBufferLength) throw EOutOfMemory();
  void* memory = detail::reallocate(blocks_, static_cast<std::size_t>(length) * sizeof(tblock));
  if (memory == nullptr) throw EOutOfMemory();
  blocks_ = static_cast<tblock*>(memory);
  length_ = length;
}

void tbuffer::release() noexcept {
  std::free(blocks_);
  blocks_ = nullptr;
  length_ = 0;
}

void tbuffer::swap(tbuffer& other) noexcept {
  std::swap(blocks_, other.blocks_);
  std::swap(length_, other.length_);
}

// --- Life cycle ---------------------------------------------------------------------------------------

tnumbrelle::tnumbrelle() { clear(); }

tnumbrelle::~tnumbrelle() { clear(); }

tnumbrelle::tnumbrelle(tnumbrelle&& other) noexcept
    : buffer(std::move(other.buffer)),
      used(other.used),
      cur_block(other.cur_block),
      cur_bit(other.cur_bit),
      keys_unordered(other.keys_unordered) {
  other.clear();
}

tnumbrelle& tnumbrelle::operator=(tnumbrelle&& other) noexcept {
  if (&other != this) {
    buffer = std::move(other.buffer);
    used = other.used;
    cur_block = other.cur_block;
    cur_bit = other.cur_bit;
    keys_unordered = other.keys_unordered;
    other.clear();
  }
  return *this;
}

void tnumbrelle::clear() {
  used = 0;
  buffer.release();
  cur_block = -1;
  keys_unordered = false;
}

void tnumbrelle::assign(const tnumbrelle& source) {
  if (&source == this) return;  // copying the blocks onto themselves would change nothing
  used = source.used;
  try {
    if (buffer.length() != source.buffer.length()) {
      buffer.release();  // the old blocks are overwritten anyway: do not let realloc copy them
      buffer.resize(source.buffer.length());
    }
  } catch (...) {
    clear();
    throw;
  }
  if (used > 0) std::memcpy(buffer.data(), source.buffer.data(), std::size_t(used) * sizeof(tblock));
  keys_unordered = source.keys_unordered;
}

// --- Single values ------------------------------------------------------------------------------------

namespace {

// Where a block with `key` is or has to be inserted, by the plain halving search: the first of the blocks
// at lo, at hi or just past hi that the search narrows down to. On ascending keys this is the first block
// whose key is not less than `key`; on keys out of order (only an old-form file brings them) it is
// whatever this search finds, which defines the result there.
std::int32_t halving_search(const tblock* blocks, std::int32_t used, std::int32_t key) {
  std::int32_t lo = 0, hi = used - 1;
  for (;;) {
    if (blocks[lo].key >= key) return lo;
    if (blocks[hi].key == key) return hi;
    if (blocks[hi].key < key) return hi + 1;
    const std::int32_t mid = lo + (hi - lo) / 2;
    if (blocks[mid].key < key) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
}

// The same position on ascending keys, found faster: two steps that guess the place from the keys at
// both ends (exact at once where keys run consecutively, as in dense sets), then a halving search without
// branches on the rest.
std::int32_t guided_search(const tblock* blocks, std::int32_t used, std::int32_t key) {
  std::int32_t lo = 0, hi = used - 1;
  if (blocks[lo].key >= key) return lo;
  if (blocks[hi].key < key) return used;
  // From here on blocks[lo].key < key <= blocks[hi].key.
  for (int step = 0; step < 2 && hi - lo > 8; ++step) {
    const std::int64_t span = std::int64_t{blocks[hi].key} - blocks[lo].key;
    const std::int64_t offset = (std::int64_t{key} - blocks[lo].key) * (hi - lo) / span;
    const std::int32_t guess = std::clamp(lo + static_cast<std::int32_t>(offset), lo + 1, hi - 1);
    const std::int32_t found = blocks[guess].key;
    if (found == key) return guess;
    if (found < key) {
      lo = guess;
    } else {
      hi = guess;
    }
  }
  const tblock* base = blocks + lo + 1;
  for (std::int32_t n = hi - lo; n > 1;) {
    const std::int32_t half = n / 2;
    base = base[half - 1].key < key ? base + half : base;
    n -= half;
  }
  return static_cast<std::int32_t>(base - blocks) + (base->key < key ? 1 : 0);
}

}  // namespace

// Finds the block of `value`'s key; when absent, `position` is where it has to be inserted.
tnumbrelle::location tnumbrelle::locate(std::int32_t value) const {
  location at{false, 0, key_of(value), bit_of(value)};
  if (used > 0) {
    at.position = keys_unordered ? halving_search(buffer.data(), used, at.key)
                                 : guided_search(buffer.data(), used, at.key);
  }
  at.found = at.position < used && buffer[at.position].key == at.key;
  return at;
}

void tnumbrelle::include(std::int32_t value) {
  const location at = locate(value);
  if (at.found) {
    set_bit(buffer[at.position], at.bit);
    return;
  }
  if (buffer.length() == used) {
    buffer.resize(detail::buffer_length(detail::grown_capacity(buffer.length(), std::int64_t{used} + 1)));
  }
  tblock* blocks = buffer.data();
  std::memmove(blocks + at.position + 1, blocks + at.position,
               std::size_t(used - at.position) * sizeof(tblock));
  ++used;
  tblock& block = blocks[at.position];
  block.key = at.key;
  std::memset(block.bits, 0, sizeof block.bits);
  set_bit(block, at.bit);
}

void tnumbrelle::exclude(std::int32_t value) {
  const location at = locate(value);
  if (!at.found) return;
  tblock& block = buffer[at.position];
  if (!only_bit(block, at.bit)) {
    clear_bit(block, at.bit);
    return;
  }
  tblock* blocks = buffer.data();
  std::memmove(blocks + at.position, blocks + at.position + 1,
               std::size_t(used - at.position - 1) * sizeof(tblock));
  --used;
  const std::int64_t trimmed = detail::excluded_capacity(buffer.length(), used);
  if (trimmed != buffer.length()) buffer.resize(static_cast<std::int32_t>(trimmed));
}

void tnumbrelle::invert(std::int32_t value) {
  if (contains(value)) {
    exclude(value);
  } else {
    include(value);
  }
}

bool tnumbrelle::contains(std::int32_t value) const {
  const location at = locate(value);
  return at.found && test_bit(buffer[at.position], at.bit);
}

void tnumbrelle::include_one_by_one(std::span<const std::int32_t> values) {
  for (const std::int32_t value : values) include(value);
}

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

// One pass instead of one include() per value: sort a copy of the values by key (unless their keys already
// rise, as in the output of to_array()), count the keys that need a new block, grow the buffer once to the
// capacity the one-by-one loop would reach (it grows by 32 only when full), then merge the new blocks in
// from the back. A block array out of key order (only a loaded
// file can bring one) or a failed allocation takes the one-by-one loop, which defines the result.
void tnumbrelle::include_array(std::span<const std::int32_t> values) {
  if (values.empty()) return;
  if (!detail::keys_ascending(blocks())) {
    include_one_by_one(values);
    return;
  }
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
    const std::int32_t key = key_at(v);
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

  tblock* blocks = buffer.data();
  std::int64_t i = used - 1, w = final_used - 1, v = std::int64_t(n) - 1;
  while (v >= 0) {
    const std::int32_t key = key_at(std::size_t(v));
    map_words add{};
    for (; v >= 0 && key_at(std::size_t(v)) == key; --v) {
      const std::uint8_t bit = bit_of(sorted[std::size_t(v)]);
      add.w[bit >> 6] |= std::uint64_t{1} << (bit & 63);
    }
    while (i >= 0 && blocks[i].key > key) blocks[w--] = blocks[i--];
    if (i >= 0 && blocks[i].key == key) {
      const map_words old = load_map(blocks[i--]);
      for (int k = 0; k < 4; ++k) add.w[k] |= old.w[k];
    }
    blocks[w].key = key;
    store_map(blocks[w--], add);
  }
  used = static_cast<std::int32_t>(final_used);
}

// --- Counting and enumeration -------------------------------------------------------------------------

namespace {

std::int64_t count_members_portable(const tblock* blocks, std::int32_t n) noexcept {
  std::int64_t total = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    const map_words map = load_map(blocks[i]);
    total += detail::word_popcount(map.w[0]) + detail::word_popcount(map.w[1]) +
             detail::word_popcount(map.w[2]) + detail::word_popcount(map.w[3]);
  }
  return total;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define INTSET_HAS_POPCNT_PATH 1
// The same sum, compiled for processors with the popcount instruction (every x86-64 of the last 15 years,
// but not part of the baseline the library is built for).
__attribute__((target("popcnt"))) std::int64_t count_members_popcnt(const tblock* blocks,
                                                                    std::int32_t n) noexcept {
  std::int64_t total = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    const map_words map = load_map(blocks[i]);
    total += __builtin_popcountll(map.w[0]) + __builtin_popcountll(map.w[1]) +
             __builtin_popcountll(map.w[2]) + __builtin_popcountll(map.w[3]);
  }
  return total;
}

// Popcounts of the 32 map bytes of a block at a time, for processors with AVX2: every nibble is looked up
// in a 16-entry table of bit counts (with a byte shuffle), the byte counts are summed for up to 31 blocks
// (at most 8 x 31 = 248 per byte) and then widened.
__attribute__((target("avx2"))) std::int64_t count_members_avx2(const tblock* blocks,
                                                                std::int32_t n) noexcept {
  const __m256i low_nibbles = _mm256_set1_epi8(0x0F);
  const __m256i bits_in_nibble = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1, 2,
                                                  1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
  __m256i total = _mm256_setzero_si256();
  for (std::int32_t i = 0; i < n;) {
    const std::int32_t stop = n - i > 31 ? i + 31 : n;
    __m256i bytes = _mm256_setzero_si256();
    for (; i < stop; ++i) {
      const __m256i map = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(blocks[i].bits));
      const __m256i low = _mm256_shuffle_epi8(bits_in_nibble, _mm256_and_si256(map, low_nibbles));
      const __m256i high =
          _mm256_shuffle_epi8(bits_in_nibble, _mm256_and_si256(_mm256_srli_epi16(map, 4), low_nibbles));
      bytes = _mm256_add_epi8(bytes, _mm256_add_epi8(low, high));
    }
    total = _mm256_add_epi64(total, _mm256_sad_epu8(bytes, _mm256_setzero_si256()));
  }
  return _mm256_extract_epi64(total, 0) + _mm256_extract_epi64(total, 1) + _mm256_extract_epi64(total, 2) +
         _mm256_extract_epi64(total, 3);
}

// The same with the AVX-512 popcount of four 64-bit words at once.
__attribute__((target("avx2,avx512vl,avx512vpopcntdq"))) std::int64_t count_members_avx512(
    const tblock* blocks, std::int32_t n) noexcept {
  __m256i total = _mm256_setzero_si256();
  for (std::int32_t i = 0; i < n; ++i) {
    total = _mm256_add_epi64(
        total, _mm256_popcnt_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(blocks[i].bits))));
  }
  return _mm256_extract_epi64(total, 0) + _mm256_extract_epi64(total, 1) + _mm256_extract_epi64(total, 2) +
         _mm256_extract_epi64(total, 3);
}
#endif

// Every way of counting this processor can run, fastest first.
std::vector<detail::member_counter> available_member_counters() {
  std::vector<detail::member_counter> counters;
#ifdef INTSET_HAS_POPCNT_PATH
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512vpopcntdq") && __builtin_cpu_supports("avx512vl")) {
    counters.push_back(count_members_avx512);
  }
  if (__builtin_cpu_supports("avx2")) counters.push_back(count_members_avx2);
  if (__builtin_cpu_supports("popcnt")) counters.push_back(count_members_popcnt);
#endif
  counters.push_back(count_members_portable);
  return counters;
}

}  // namespace

std::span<const detail::member_counter> detail::member_counters() noexcept {
  static const std::vector<member_counter> counters = available_member_counters();
  return counters;
}

std::int64_t detail::count_members(const tblock* blocks, std::int32_t n) noexcept {
  static const member_counter fastest = member_counters().front();
  return fastest(blocks, n);
}

std::int32_t tnumbrelle::count() const {
  const std::int64_t total = detail::count_members(buffer.data(), used);
  if (total > std::numeric_limits<std::int32_t>::max()) throw ETooManyMembers();
  return static_cast<std::int32_t>(total);
}

bool tnumbrelle::is_empty() const { return used == 0; }

// The rest of next() when its inline step cannot finish (no member in the rest of the cursor's word, or the
// member is the block's last bit, or no enumeration is running): jumps straight to the next set bit, leaving
// the cursor exactly where a scan that advances one bit at a time would: on the member found, or on bit 0 of
// block `used` when there is none.
std::int64_t tnumbrelle::next_in_later_words() {
  if (cur_block == -1) return kNoMember;
  bool found = false;
  while (cur_block < used) {
    const int bit = detail::next_set_bit(buffer[cur_block], cur_bit);
    if (bit < 256) {
      cur_bit = static_cast<std::uint32_t>(bit);
      found = true;
      break;
    }
    ++cur_block;
    cur_bit = 0;
  }
  const std::int64_t value = found ? value_of(buffer[cur_block].key, cur_bit) : kNoMember;
  if (cur_bit == 255) {
    ++cur_block;
    cur_bit = 0;
  } else {
    ++cur_bit;
  }
  if (cur_block >= used) cur_block = -1;
  return value;
}

// Fills the array straight from the blocks, then leaves the cursor where first() and next() until false
// would have left it.
tarrayofinteger tnumbrelle::to_array() {
  tarrayofinteger members;
  try {
    members.resize(static_cast<std::size_t>(count()));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  std::int32_t* out = members.data();
  for (std::int32_t i = 0; i < used; ++i) {
    const tblock& block = buffer[i];
    const std::int32_t base = value_of(block.key, 0);
    for (int w = 0; w < 4; ++w) {
      for (std::uint64_t word = detail::load_word(block.bits + 8 * w); word != 0; word &= word - 1) {
        *out++ = base + 64 * w + std::countr_zero(word);
      }
    }
  }
  const bool ends_on_last_bit = used > 0 && test_bit(buffer[used - 1], 255);
  cur_block = -1;
  cur_bit = ends_on_last_bit ? 0 : 1;
  return members;
}

// --- Standard iteration -----------------------------------------------------------------------------

tnumbrelle::const_iterator::const_iterator(const tblock* blocks, std::int32_t used, std::int32_t index,
                                           unsigned bit)
    : blocks_(blocks), used_(used), index_(index), word_(bit >> 6) {
  if (index_ < used_) rest_ = map_word(blocks_[index_], word_) & (~std::uint64_t{0} << (bit & 63u));
  if (rest_ == 0) {
    ++word_;
    settle();
  } else {
    base_ = static_cast<std::uint32_t>(value_of(blocks_[index_].key, 64 * word_));
  }
}

void tnumbrelle::const_iterator::settle() {
  for (; index_ < used_; ++index_, word_ = 0) {
    for (; word_ < 4; ++word_) {
      rest_ = map_word(blocks_[index_], word_);
      if (rest_ != 0) {
        base_ = static_cast<std::uint32_t>(value_of(blocks_[index_].key, 64 * word_));
        return;
      }
    }
  }
  word_ = 0;
  rest_ = 0;
  base_ = 0;
}

// --- Capacity -----------------------------------------------------------------------------------------

// Trims or grows the buffer after an operation that shrank `used` or set it directly, by
// detail::compacted_capacity().
void tnumbrelle::compact() {
  const std::int64_t capacity = detail::compacted_capacity(buffer.length(), used);
  if (capacity == buffer.length()) return;
  try {
    buffer.resize(detail::buffer_length(capacity));
  } catch (...) {
    if (buffer.length() < used) clear();
    throw;
  }
}

}  // namespace intset
