// The count of a combination without building it (counting_walk.h), with the popcount instruction.
#include "intset/x86/kernels.h"

#ifdef INTSET_X86_KERNELS

namespace intset::detail::x86 {

__attribute__((target("popcnt"))) std::int64_t count_combination_popcnt(combination c, const tblock* a,
                                                                        std::int32_t a_used, const tblock* b,
                                                                        std::int32_t b_used) noexcept {
  return count_combination(c, a, a_used, b, b_used, [](std::uint64_t w) { return __builtin_popcountll(w); });
}

}  // namespace intset::detail::x86

#endif  // INTSET_X86_KERNELS
