// The library's processor-specific kernels, chosen once. Every operation that has a faster build for some
// processors calls it through kernels(), which holds the fastest build this processor runs, capped by the
// environment variable INTSET_CPU (read once): `portable` (no processor-specific code), `popcnt` (the
// popcount instruction and SSSE3 byte shuffles), `avx2` (also AVX2 and the first bit manipulation set) or
// `avx512` (also AVX-512 popcounts). An unknown value caps at `portable`. Off x86 every level is `portable`.
#ifndef INTSET_DISPATCH_H_
#define INTSET_DISPATCH_H_

#include <span>

#include "intset/algebra_walks.h"
#include "intset/counting_walk.h"
#include "intset/record_codec.h"
#include "intset/roaring_layout.h"

namespace intset::detail {

enum class cpu_level : int { portable, popcnt, avx2, avx512 };

using member_counter = std::int64_t (*)(const tblock* blocks, std::int32_t n) noexcept;

struct kernel_table {
  member_counter count_members;           // the members of a run of blocks
  combination_counter count_combination;  // the members of a combination, without building it
  intersect_walker intersect_walk;        // the combining operations, counting as they go
  subtract_walker subtract_walk;
  merge_walker merge_walk;
  record_encoder encode_records;  // block records of the set file format
  record_decoder decode_records;
  roaring::bitmap_writer write_bitmap;  // a whole Roaring bitmap
  roaring::bitset_stager stage_bitset;  // a Roaring bitset container made blocks
};

// The highest level this processor runs, capped by INTSET_CPU.
cpu_level cpu_cap() noexcept;
// The kernels of cpu_cap(), chosen on first use.
const kernel_table& kernels() noexcept;
// The kernels `level` chooses on this processor (a level above cpu_cap() gives those of cpu_cap()).
kernel_table kernels_for(cpu_level level) noexcept;
// portable up to cpu_cap(): every level whose kernels tests may compare.
std::span<const cpu_level> usable_levels() noexcept;
const char* level_name(cpu_level level) noexcept;

}  // namespace intset::detail

#endif  // INTSET_DISPATCH_H_
