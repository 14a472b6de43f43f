// The set bits of each of 32 bytes at once with AVX2: each half of a byte is looked up in a table of bit
// counts by the byte shuffle. For the kernels that count whole maps where the AVX-512 popcount is missing.
#ifndef INTSET_X86_NIBBLE_COUNTS_H_
#define INTSET_X86_NIBBLE_COUNTS_H_

#include <immintrin.h>

namespace intset::detail::x86 {

__attribute__((target("avx2"), always_inline)) inline __m256i byte_popcounts(__m256i bytes) noexcept {
  const __m256i bits_in_nibble = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1, 2,
                                                  1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
  const __m256i low_nibbles = _mm256_set1_epi8(0x0F);
  return _mm256_add_epi8(
      _mm256_shuffle_epi8(bits_in_nibble, _mm256_and_si256(bytes, low_nibbles)),
      _mm256_shuffle_epi8(bits_in_nibble, _mm256_and_si256(_mm256_srli_epi16(bytes, 4), low_nibbles)));
}

// The sum of the four 64-bit lanes.
__attribute__((target("avx2"), always_inline)) inline std::int64_t lane_sum(__m256i lanes) noexcept {
  return _mm256_extract_epi64(lanes, 0) + _mm256_extract_epi64(lanes, 1) + _mm256_extract_epi64(lanes, 2) +
         _mm256_extract_epi64(lanes, 3);
}

}  // namespace intset::detail::x86

#endif  // INTSET_X86_NIBBLE_COUNTS_H_
