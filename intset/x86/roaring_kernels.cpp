// The Roaring writer built for the popcount and bit manipulation instructions, and a bitset container made
// blocks 32 bytes at a time with AVX2.
#include "intset/x86/kernels.h"

#ifdef INTSET_X86_KERNELS

#include <immintrin.h>

#include "intset/roaring_writer.h"
#include "intset/x86/nibble_counts.h"

namespace intset::detail::x86 {

__attribute__((target("popcnt,bmi"))) void write_bitmap_bmi(std::span<const tblock> blocks,
                                                            std::ostream& out) {
  roaring::write_bitmap(blocks, out, [](std::uint64_t w) { return __builtin_popcountll(w); });
}

// stage_bitset() 32 bytes at a time.
__attribute__((target("avx2"))) roaring::bitset_measure stage_bitset_avx2(const unsigned char* bytes,
                                                                          std::uint32_t key,
                                                                          tblock* out) noexcept {
  std::int64_t members = 0;
  tblock* at = out;
  for (std::uint32_t index = 0; index < roaring::kBlocksPerContainer;) {
    __m256i counts = _mm256_setzero_si256();  // 16 maps at a time, at most 128 a byte
    for (const std::uint32_t stop = index + 16; index != stop; ++index) {
      const __m256i map = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 32 * index));
      counts = _mm256_add_epi8(counts, byte_popcounts(map));
      at->key = roaring::block_key(key, index);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(at->bits), map);
      at += !_mm256_testz_si256(map, map);  // an empty block is overwritten by the next
    }
    members += lane_sum(_mm256_sad_epu8(counts, _mm256_setzero_si256()));
  }
  return {members, static_cast<std::int32_t>(at - out)};
}

}  // namespace intset::detail::x86

#endif  // INTSET_X86_KERNELS
