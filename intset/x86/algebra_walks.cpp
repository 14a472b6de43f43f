// The combining operations' walks (algebra_walks.h) with SSE2 and the popcount instruction.
#include "intset/x86/kernels.h"

#ifdef INTSET_X86_KERNELS

#include <emmintrin.h>

namespace intset::detail::x86 {

namespace {

// Maps combined in SSE2 registers, which every x86-64 processor has, and counted with the popcount
// instruction, expanded where the walks are inlined into the functions below.
struct popcnt_maps {
  [[gnu::always_inline]] static __m128i low(const tblock& block) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(block.bits));
  }
  [[gnu::always_inline]] static __m128i high(const tblock& block) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(block.bits + 16));
  }
  [[gnu::always_inline]] static void store(tblock& block, __m128i low, __m128i high) noexcept {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block.bits), low);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block.bits + 16), high);
  }
  [[gnu::always_inline]] static int members(__m128i low, __m128i high) noexcept {
    return __builtin_popcountll(static_cast<std::uint64_t>(_mm_cvtsi128_si64(low))) +
           __builtin_popcountll(static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(low, low)))) +
           __builtin_popcountll(static_cast<std::uint64_t>(_mm_cvtsi128_si64(high))) +
           __builtin_popcountll(
               static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(high, high))));
  }
  [[gnu::always_inline]] static bool empty(__m128i low, __m128i high) noexcept {
    return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(low, high), _mm_setzero_si128())) == 0xFFFF;
  }
  [[gnu::always_inline]] static int intersect(const tblock& x, const tblock& y, tblock& out) noexcept {
    const __m128i l = _mm_and_si128(low(x), low(y)), h = _mm_and_si128(high(x), high(y));
    store(out, l, h);
    return members(l, h);
  }
  [[gnu::always_inline]] static int subtract(const tblock& x, const tblock& y, tblock& out,
                                             bool& is_empty) noexcept {
    const __m128i xl = low(x), xh = high(x), yl = low(y), yh = high(y);
    const __m128i l = _mm_andnot_si128(yl, xl), h = _mm_andnot_si128(yh, xh);
    is_empty = empty(l, h);
    store(out, l, h);
    return members(_mm_and_si128(xl, yl), _mm_and_si128(xh, yh));
  }
  [[gnu::always_inline]] static int merge(const tblock& x, const tblock& y, tblock& out,
                                          bool symmetric_difference, bool& is_empty) noexcept {
    const __m128i xl = low(x), xh = high(x), yl = low(y), yh = high(y);
    const __m128i l = symmetric_difference ? _mm_xor_si128(xl, yl) : _mm_or_si128(xl, yl);
    const __m128i h = symmetric_difference ? _mm_xor_si128(xh, yh) : _mm_or_si128(xh, yh);
    is_empty = empty(l, h);
    store(out, l, h);
    return members(_mm_and_si128(xl, yl), _mm_and_si128(xh, yh));
  }
};

}  // namespace

__attribute__((target("popcnt"))) walk_result intersect_walk_popcnt(tblock* a, std::int32_t a_used,
                                                                    const tblock* b,
                                                                    std::int32_t b_used) noexcept {
  return intersect_walk<popcnt_maps>(a, a_used, b, b_used);
}

__attribute__((target("popcnt"))) walk_result subtract_walk_popcnt(tblock* a, std::int32_t a_used,
                                                                   const tblock* b,
                                                                   std::int32_t b_used) noexcept {
  return subtract_walk<popcnt_maps>(a, a_used, b, b_used);
}

__attribute__((target("popcnt"))) walk_result merge_walk_popcnt(const tblock* x, std::int32_t x_used,
                                                                const tblock* y, std::int32_t y_used,
                                                                tblock* out,
                                                                bool symmetric_difference) noexcept {
  return merge_walk<popcnt_maps>(x, x_used, y, y_used, out, symmetric_difference);
}

}  // namespace intset::detail::x86

#endif  // INTSET_X86_KERNELS
