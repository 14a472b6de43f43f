// The 256-bit member map of a block handled as four 64-bit words. Word w holds map bytes 8w..8w+7 with
// byte 8w as its lowest byte, so bit b of the word (0..63) is value bit 64w + b on every host.
#ifndef INTSET_BLOCK_OPS_H_
#define INTSET_BLOCK_OPS_H_

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "intset/capacity.h"
#include "intset/tnumbrelle.h"

namespace intset::detail {

inline std::uint64_t load_word(const std::uint8_t* bytes) noexcept {
  std::uint64_t word;
  std::memcpy(&word, bytes, 8);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

inline void store_word(std::uint8_t* bytes, std::uint64_t word) noexcept {
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  std::memcpy(bytes, &word, 8);
}

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

// The number of set bits of a word, exact on every target. Without a hardware instruction std::popcount
// becomes a library call per word; this is the same count in a few shifts, masks and one multiply.
inline int word_popcount(std::uint64_t x) noexcept {
  x -= (x >> 1) & 0x5555555555555555u;
  x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
  return static_cast<int>((x * 0x0101010101010101u) >> 56);
}

// The members of the first `n` blocks, counted the fastest way this processor can: AVX-512 or AVX2 vector
// popcounts, the popcount instruction, or word_popcount().
std::int64_t count_members(const tblock* blocks, std::int32_t n) noexcept;
// Every way of counting members that this processor can run, fastest first (the last is word_popcount()).
using member_counter = std::int64_t (*)(const tblock* blocks, std::int32_t n) noexcept;
std::span<const member_counter> member_counters() noexcept;

// Whether every member bit of `a` is also set in `b`. Byte order does not matter for this test, so the
// maps are compared as they lie in memory, 16 bytes at a time where the target has SSE2.
inline bool map_contained(const tblock& a, const tblock& b) noexcept {
#if defined(__SSE2__)
  const auto* x = reinterpret_cast<const __m128i*>(a.bits);
  const auto* y = reinterpret_cast<const __m128i*>(b.bits);
  const __m128i outside = _mm_or_si128(_mm_andnot_si128(_mm_loadu_si128(y), _mm_loadu_si128(x)),
                                       _mm_andnot_si128(_mm_loadu_si128(y + 1), _mm_loadu_si128(x + 1)));
  return _mm_movemask_epi8(_mm_cmpeq_epi8(outside, _mm_setzero_si128())) == 0xFFFF;
#else
  const map_words x = load_map(a), y = load_map(b);
  return ((x.w[0] & ~y.w[0]) | (x.w[1] & ~y.w[1]) | (x.w[2] & ~y.w[2]) | (x.w[3] & ~y.w[3])) == 0;
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

}  // namespace intset::detail

#endif  // INTSET_BLOCK_OPS_H_
