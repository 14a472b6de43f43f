// Picks the library's kernels once: the fastest build this processor runs, no faster than INTSET_CPU allows.
#include "intset/dispatch.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "intset/x86/kernels.h"

namespace intset::detail {

namespace {

constexpr std::array<const char*, 4> kLevelNames{"portable", "popcnt", "avx2", "avx512"};

// The highest level whose instructions the processor has.
cpu_level processor_level() noexcept {
#ifdef INTSET_X86_KERNELS
  const x86::features f = x86::detected_features();
  if (f.avx512_popcounts) return cpu_level::avx512;
  if (f.avx2_bmi) return cpu_level::avx2;
  if (f.popcnt_ssse3) return cpu_level::popcnt;
#endif
  return cpu_level::portable;
}

// The level INTSET_CPU names; none when it is not set, `portable` for a name it does not know.
cpu_level environment_cap() noexcept {
  const char* name = std::getenv("INTSET_CPU");
  if (name == nullptr || *name == '\0') return cpu_level::avx512;
  for (std::size_t i = 0; i < kLevelNames.size(); ++i) {
    if (std::strcmp(name, kLevelNames[i]) == 0) return static_cast<cpu_level>(i);
  }
  return cpu_level::portable;
}

}  // namespace

cpu_level cpu_cap() noexcept {
  static const cpu_level cap = std::min(processor_level(), environment_cap());
  return cap;
}

kernel_table kernels_for(cpu_level level) noexcept {
  level = std::min(level, cpu_cap());
  kernel_table k{count_members_portable,        count_combination_portable,
                 intersect_walk_portable,       subtract_walk_portable,
                 merge_walk_portable,           encode_records_portable,
                 decode_records_portable,       roaring::write_bitmap_portable,
                 roaring::stage_bitset_portable};
#ifdef INTSET_X86_KERNELS
  if (level >= cpu_level::popcnt) {
    k.count_members = x86::count_members_popcnt;
    k.count_combination = x86::count_combination_popcnt;
    k.intersect_walk = x86::intersect_walk_popcnt;
    k.subtract_walk = x86::subtract_walk_popcnt;
    k.merge_walk = x86::merge_walk_popcnt;
    k.encode_records = x86::encode_records_ssse3;
    k.decode_records = x86::decode_records_ssse3;
  }
  if (level >= cpu_level::avx2) {
    k.count_members = x86::count_members_avx2;
    k.write_bitmap = x86::write_bitmap_bmi;
    k.stage_bitset = x86::stage_bitset_avx2;
  }
  if (level >= cpu_level::avx512) k.count_members = x86::count_members_avx512;
#endif
  return k;
}

const kernel_table& kernels() noexcept {
  static const kernel_table chosen = kernels_for(cpu_cap());
  return chosen;
}

std::span<const cpu_level> usable_levels() noexcept {
  static constexpr cpu_level kAll[] = {cpu_level::portable, cpu_level::popcnt, cpu_level::avx2,
                                       cpu_level::avx512};
  return {kAll, static_cast<std::size_t>(cpu_cap()) + 1};
}

const char* level_name(cpu_level level) noexcept { return kLevelNames[static_cast<std::size_t>(level)]; }

}  // namespace intset::detail
