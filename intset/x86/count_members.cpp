// The members of a run of blocks, with the popcount instruction, with AVX2 and with AVX-512.
#include "intset/x86/kernels.h"

#ifdef INTSET_X86_KERNELS

#include <immintrin.h>

#include "intset/block_ops.h"
#include "intset/x86/nibble_counts.h"

namespace intset::detail::x86 {

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

// The byte counts of up to 31 maps are summed in bytes (at most 8 x 31 = 248 each), then widened.
__attribute__((target("avx2"))) std::int64_t count_members_avx2(const tblock* blocks,
                                                                std::int32_t n) noexcept {
  __m256i total = _mm256_setzero_si256();
  for (std::int32_t i = 0; i < n;) {
    const std::int32_t stop = n - i > 31 ? i + 31 : n;
    __m256i bytes = _mm256_setzero_si256();
    for (; i < stop; ++i) {
      bytes = _mm256_add_epi8(
          bytes, byte_popcounts(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(blocks[i].bits))));
    }
    total = _mm256_add_epi64(total, _mm256_sad_epu8(bytes, _mm256_setzero_si256()));
  }
  return lane_sum(total);
}

// The AVX-512 popcount of four 64-bit words at once.
__attribute__((target("avx2,avx512vl,avx512vpopcntdq"))) std::int64_t count_members_avx512(
    const tblock* blocks, std::int32_t n) noexcept {
  __m256i total = _mm256_setzero_si256();
  for (std::int32_t i = 0; i < n; ++i) {
    total = _mm256_add_epi64(
        total, _mm256_popcnt_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(blocks[i].bits))));
  }
  return lane_sum(total);
}

}  // namespace intset::detail::x86

#endif  // INTSET_X86_KERNELS
