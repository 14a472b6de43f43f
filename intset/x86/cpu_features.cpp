// What the x86 processor the library runs on has of the instruction sets its kernels use.
#include "intset/x86/kernels.h"

#ifdef INTSET_X86_KERNELS

namespace intset::detail::x86 {

features detected_features() noexcept {
  __builtin_cpu_init();
  features f{};
  f.popcnt_ssse3 = __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("ssse3");
  f.avx2_bmi = f.popcnt_ssse3 && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi");
  f.avx512_popcounts =
      f.avx2_bmi && __builtin_cpu_supports("avx512vpopcntdq") && __builtin_cpu_supports("avx512vl");
  return f;
}

}  // namespace intset::detail::x86

#endif  // INTSET_X86_KERNELS
