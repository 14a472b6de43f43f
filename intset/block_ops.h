// Values, keys and the 256-bit member map of a block handled as four 64-bit words. Word w holds map bytes
// 8w..8w+7 with byte 8w as its lowest byte, so bit b of the word (0..63) is value bit 64w + b on every host.
#ifndef INTSET_BLOCK_OPS_H_
#define INTSET_BLOCK_OPS_H_

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

#include "intset/capacity.h"
#include "intset/detail/byte_order.h"
#include "intset/tnumbrelle.h"

#if defined(__SSE2__)
#include "intset/x86/map_contained.h"
#endif

namespace intset::detail {

// A value's block key is the value shifted right arithmetically by 8; its bit is its low 8 bits.
constexpr std::int32_t key_of(std::int32_t value) { return value >> 8; }
constexpr std::uint8_t bit_of(std::int32_t value) { return static_cast<std::uint8_t>(value & 0xFF); }

inline std::uint64_t load_word(const std::uint8_t* bytes) noexcept {
  return load_little<std::uint64_t>(bytes);
}
inline void store_word(std::uint8_t* bytes, std::uint64_t word) noexcept { store_little(bytes, word); }

struct map_words {
  std::uint64_t w[4];
};

inline map_words load_map(const tblock& block) noexcept {
  return {{load_word(block.bits), load_word(block.bits + 8), load_word(block.bits + 16),
           load_word(block.bits + 24)}};
}

inline void store_map(tblock& block, const map_words& map) noexcept {
  for (int i = 0; i < 4; ++i) store_word(block.bits + 8 * i, map.w[i]);
}

inline bool map_is_empty(const map_words& map) noexcept {
  return (map.w[0] | map.w[1] | map.w[2] | map.w[3]) == 0;
}

inline map_words and_not(const map_words& x, const map_words& y) noexcept {
  return {{x.w[0] & ~y.w[0], x.w[1] & ~y.w[1], x.w[2] & ~y.w[2], x.w[3] & ~y.w[3]}};
}

// The map bits from..to (0 <= from <= to <= 255).
inline map_words bit_range(int from, int to) noexcept {
  map_words mask{};
  for (int w = 0; w < 4; ++w) {
    const int a = std::max(from, 64 * w) - 64 * w, b = std::min(to, 64 * w + 63) - 64 * w;
    if (a <= b) mask.w[w] = (~std::uint64_t{0} >> (63 - b)) & (~std::uint64_t{0} << a);
  }
  return mask;
}

// The number of set bits of a word, exact on every target. On x86 the popcount instruction is not part of the
// baseline the library is built for, and std::popcount would become a library call per word there; this is
// the same count in a few shifts, masks and one multiply. Elsewhere std::popcount is an instruction or two.
inline int word_popcount(std::uint64_t x) noexcept {
#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
  x -= (x >> 1) & 0x5555555555555555u;
  x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
  return static_cast<int>((x * 0x0101010101010101u) >> 56);
#else
  return std::popcount(x);
#endif
}

inline int map_popcount(const map_words& m) noexcept {
  return word_popcount(m.w[0]) + word_popcount(m.w[1]) + word_popcount(m.w[2]) + word_popcount(m.w[3]);
}

// The members of the first `n` blocks, counted by the kernel the processor and INTSET_CPU allow, and by the
// portable one.
std::int64_t count_members(const tblock* blocks, std::int32_t n) noexcept;
std::int64_t count_members_portable(const tblock* blocks, std::int32_t n) noexcept;

// Whether every member bit of `a` is also set in `b`. Byte order does not matter for this test, so the
// maps are compared as they lie in memory. SSE2 is part of every x86-64 processor, so its build is chosen
// when the library is compiled.
inline bool map_contained(const tblock& a, const tblock& b) noexcept {
#if defined(__SSE2__)
  return x86::map_contained_sse2(a, b);
#else
  std::uint64_t outside = 0;
  for (int w = 0; w < 4; ++w) {
    std::uint64_t x, y;
    std::memcpy(&x, a.bits + 8 * w, 8);
    std::memcpy(&y, b.bits + 8 * w, 8);
    outside |= x & ~y;
  }
  return outside == 0;
#endif
}

// Whether the keys rise strictly from block to block, as in every set not loaded from a damaged old file.
inline bool keys_ascending(std::span<const tblock> blocks) noexcept {
  for (std::size_t i = 1; i < blocks.size(); ++i) {
    if (blocks[i - 1].key >= blocks[i].key) return false;
  }
  return true;
}

// Whether a writer may write these blocks so that its reader takes them back: keys that rise strictly and
// lie in the range values give. Every set has such keys but one loaded from a damaged old-form file.
inline bool keys_writable(std::span<const tblock> blocks) noexcept {
  return keys_ascending(blocks) &&
         (blocks.empty() || (key_in_range(blocks.front().key) && key_in_range(blocks.back().key)));
}

// The smallest set bit at position >= from (0..255) in the block's map, or 256 when there is none.
inline int next_set_bit(const tblock& block, int from) noexcept {
  for (int w = from >> 6; w < 4; ++w) {
    std::uint64_t word = load_word(block.bits + 8 * w);
    if (w == from >> 6) word &= ~std::uint64_t{0} << (from & 63);
    if (word != 0) return 64 * w + std::countr_zero(word);
  }
  return 256;
}

// The first index from `from` on whose key is not less than `key`, found by doubling steps and then halving,
// so that a long run of blocks with smaller keys costs its logarithm.
inline std::int32_t gallop(const tblock* blocks, std::int32_t from, std::int32_t used, std::int32_t key) {
  std::int32_t step = 1, lo = from, hi = from;
  while (hi < used && blocks[hi].key < key) {
    lo = hi + 1;
    hi = used - hi > step ? hi + step : used;
    step *= 2;
  }
  while (lo < hi) {
    const std::int32_t mid = lo + (hi - lo) / 2;
    if (blocks[mid].key < key) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

// The position (0..63) of the set bit of `word` that has exactly `k` set bits below it; k < popcount(word).
inline int select_in_word(std::uint64_t word, int k) {
  int position = 0;
  for (int width = 32; width >= 1; width /= 2) {
    const std::uint64_t low = word & ((std::uint64_t{1} << width) - 1);
    const int below = word_popcount(low);
    if (k < below) {
      word = low;
    } else {
      k -= below;
      word >>= width;
      position += width;
    }
  }
  return position;
}

}  // namespace intset::detail

#endif  // INTSET_BLOCK_OPS_H_
