// The library's kernels for x86 processors, each built for the instructions named in its comment, which the
// baseline the library is compiled for lacks. dispatch.cpp picks among them once, by what the processor has
// and what INTSET_CPU allows. They exist where the compiler takes per-function targets (GCC and clang on
// x86, as have_kernels.h tests); elsewhere INTSET_X86_KERNELS stays undefined and only the portable kernels
// are built.
#ifndef INTSET_X86_KERNELS_H_
#define INTSET_X86_KERNELS_H_

#include "intset/x86/have_kernels.h"

#ifdef INTSET_X86_KERNELS

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <span>

#include "intset/algebra_walks.h"
#include "intset/counting_walk.h"
#include "intset/record_codec.h"
#include "intset/roaring_layout.h"

namespace intset::detail::x86 {

// Which of the processor's instruction sets the kernels below use.
struct features {
  bool popcnt_ssse3;      // the popcount instruction and SSSE3 byte shuffles
  bool avx2_bmi;          // AVX2 and the first bit manipulation set
  bool avx512_popcounts;  // AVX-512 popcounts of 64-bit lanes, on 256-bit vectors
};
features detected_features() noexcept;

// The members of blocks[0..n) (count_members.cpp): popcount instruction; AVX2 nibble lookups; AVX-512.
std::int64_t count_members_popcnt(const tblock* blocks, std::int32_t n) noexcept;
std::int64_t count_members_avx2(const tblock* blocks, std::int32_t n) noexcept;
std::int64_t count_members_avx512(const tblock* blocks, std::int32_t n) noexcept;

// counting_walk.h's walk with the popcount instruction (combination_counts.cpp).
std::int64_t count_combination_popcnt(combination c, const tblock* a, std::int32_t a_used, const tblock* b,
                                      std::int32_t b_used) noexcept;

// algebra_walks.h's walks with the popcount instruction (algebra_walks.cpp).
walk_result intersect_walk_popcnt(tblock* a, std::int32_t a_used, const tblock* b,
                                  std::int32_t b_used) noexcept;
walk_result subtract_walk_popcnt(tblock* a, std::int32_t a_used, const tblock* b,
                                 std::int32_t b_used) noexcept;
walk_result merge_walk_popcnt(const tblock* x, std::int32_t x_used, const tblock* y, std::int32_t y_used,
                              tblock* out, bool symmetric_difference) noexcept;

// The set file's block records with SSSE3 byte shuffles and the popcount instruction
// (record_codec_ssse3.cpp).
unsigned char* encode_records_ssse3(const tblock* blocks, std::size_t n, unsigned char* out,
                                    std::uint32_t& checksum) noexcept;
std::size_t decode_records_ssse3(const unsigned char*& in, const unsigned char* end, tblock* blocks,
                                 std::size_t max, decode_progress& progress) noexcept;

// The Roaring writer with the popcount and bit manipulation instructions, and a bitset container made
// blocks 32 bytes at a time with AVX2 (roaring_kernels.cpp).
void write_bitmap_bmi(std::span<const tblock> blocks, std::ostream& out);
roaring::bitset_measure stage_bitset_avx2(const unsigned char* bytes, std::uint32_t key,
                                          tblock* out) noexcept;

}  // namespace intset::detail::x86

#endif  // INTSET_X86_KERNELS

#endif  // INTSET_X86_KERNELS_H_
