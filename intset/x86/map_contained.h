// Whether one block's map lies within another's, 16 bytes at a time with SSE2, which every x86-64 processor
// has: the compiler does not make this of the portable loop in block_ops.h, and is_subset_of() gains from it.
#ifndef INTSET_X86_MAP_CONTAINED_H_
#define INTSET_X86_MAP_CONTAINED_H_

#include <emmintrin.h>

#include "intset/tnumbrelle.h"

namespace intset::detail::x86 {

inline bool map_contained_sse2(const tblock& a, const tblock& b) noexcept {
  const auto* x = reinterpret_cast<const __m128i*>(a.bits);
  const auto* y = reinterpret_cast<const __m128i*>(b.bits);
  const __m128i outside = _mm_or_si128(_mm_andnot_si128(_mm_loadu_si128(y), _mm_loadu_si128(x)),
                                       _mm_andnot_si128(_mm_loadu_si128(y + 1), _mm_loadu_si128(x + 1)));
  return _mm_movemask_epi8(_mm_cmpeq_epi8(outside, _mm_setzero_si128())) == 0xFFFF;
}

}  // namespace intset::detail::x86

#endif  // INTSET_X86_MAP_CONTAINED_H_
