// Block records of the set file format with SSSE3 byte shuffles: the bytes record_codec.cpp's portable
// codec gives, 8 map bytes moved by one shuffle each.
#include "intset/x86/kernels.h"

#ifdef INTSET_X86_KERNELS

#include <immintrin.h>

#include "intset/block_ops.h"

namespace intset::detail::x86 {

namespace {

// For each 8-bit mask of an 8-byte group: `compress` lists the positions of the set bits first (then
// 0x80, which shuffles in a zero); `expand` gives each set position the rank of its bit, others 0x80.
struct shuffle_tables {
  unsigned char compress[256][8];
  unsigned char expand[256][8];
};

constexpr shuffle_tables make_shuffle_tables() {
  shuffle_tables t{};
  for (int m = 0; m < 256; ++m) {
    int n = 0;
    for (int i = 0; i < 8; ++i) t.compress[m][i] = 0x80;
    for (int i = 0; i < 8; ++i) {
      if ((m >> i) & 1) t.compress[m][n++] = static_cast<unsigned char>(i);
    }
    int rank = 0;
    for (int i = 0; i < 8; ++i) t.expand[m][i] = (m >> i) & 1 ? static_cast<unsigned char>(rank++) : 0x80;
  }
  return t;
}

constexpr shuffle_tables kTables = make_shuffle_tables();

#define INTSET_SHUFFLE_KERNEL __attribute__((target("ssse3,popcnt"), always_inline)) inline
#define INTSET_SHUFFLE_FUNCTION __attribute__((target("ssse3,popcnt")))

// The byte sums of a map, two 64-bit halves to be added to a running total in a register.
INTSET_SHUFFLE_KERNEL __m128i byte_sums(__m128i lo, __m128i hi) noexcept {
  const __m128i zero = _mm_setzero_si128();
  return _mm_add_epi64(_mm_sad_epu8(lo, zero), _mm_sad_epu8(hi, zero));
}

// The byte sum of a map, or of any running total of byte_sums (modulo 2^32).
INTSET_SHUFFLE_KERNEL std::uint32_t total_of(__m128i sums) noexcept {
  return static_cast<std::uint32_t>(_mm_cvtsi128_si32(sums)) +
         static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
}

INTSET_SHUFFLE_KERNEL unsigned char* encode_shuffle(const tblock& block, unsigned char* out,
                                                    std::uint32_t& checksum) noexcept {
  put_u32(out, static_cast<std::uint32_t>(block.key));
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block.bits));
  const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block.bits + 16));
  const std::uint32_t zeros = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(lo, zero))) |
                              static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(hi, zero))) << 16;
  const std::uint32_t mask = ~zeros;
  put_u32(out + 4, mask);
  checksum += total_of(byte_sums(lo, hi));
  unsigned char* bytes = out + 8;
  for (int g = 0; g < 4; ++g) {  // each store may run past the group's bytes; the next group overwrites
    const unsigned m = (mask >> (8 * g)) & 0xFF;
    const __m128i group = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(block.bits + 8 * g));
    const __m128i order = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kTables.compress[m]));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes), _mm_shuffle_epi8(group, order));
    bytes += _mm_popcnt_u32(m);
  }
  return bytes;
}

// The set bits of the low 64 bits.
INTSET_SHUFFLE_KERNEL int word_members(__m128i v) noexcept {
  return static_cast<int>(_mm_popcnt_u64(static_cast<std::uint64_t>(_mm_cvtsi128_si64(v))));
}

// Decodes one record's map bytes into `block`; adds their sum to `sums` and returns the block's members.
INTSET_SHUFFLE_KERNEL int decode_shuffle(std::uint32_t mask, const unsigned char* in, tblock& block,
                                         __m128i& sums) noexcept {
  __m128i lo, hi;
  int members;
  if (mask == 0xFFFFFFFFu) {  // every byte stored, in order: no shuffle (the common case of dense maps)
    lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16));
    members = (word_members(lo) + word_members(_mm_unpackhi_epi64(lo, lo))) +
              (word_members(hi) + word_members(_mm_unpackhi_epi64(hi, hi)));
  } else {
    __m128i groups[4];  // the low 8 bytes of each are one group of the map
    for (int g = 0; g < 4; ++g) {
      const unsigned m = (mask >> (8 * g)) & 0xFF;
      const __m128i stored = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in));
      const __m128i places = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kTables.expand[m]));
      groups[g] = _mm_shuffle_epi8(stored, places);
      in += _mm_popcnt_u32(m);
    }
    lo = _mm_unpacklo_epi64(groups[0], groups[1]);
    hi = _mm_unpacklo_epi64(groups[2], groups[3]);
    members = (word_members(groups[0]) + word_members(groups[1])) +
              (word_members(groups[2]) + word_members(groups[3]));
  }
  // Whole 16-byte stores, and the sum taken from the registers: reading back the map right after
  // storing it in pieces would stall.
  _mm_storeu_si128(reinterpret_cast<__m128i*>(block.bits), lo);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(block.bits + 16), hi);
  sums = _mm_add_epi64(sums, byte_sums(lo, hi));
  return members;
}

}  // namespace

INTSET_SHUFFLE_FUNCTION unsigned char* encode_records_ssse3(const tblock* blocks, std::size_t n,
                                                            unsigned char* out,
                                                            std::uint32_t& checksum) noexcept {
  std::uint32_t sum = checksum;  // kept in a register: `checksum` might alias the output
  for (std::size_t k = 0; k < n; ++k) {
    if (k + 16 < n) __builtin_prefetch(blocks + k + 16);  // the blocks stream in from memory
    out = encode_shuffle(blocks[k], out, sum);
  }
  checksum = sum;
  return out;
}

INTSET_SHUFFLE_FUNCTION std::size_t decode_records_ssse3(const unsigned char*& in, const unsigned char* end,
                                                         tblock* blocks, std::size_t max,
                                                         decode_progress& progress) noexcept {
  std::size_t k = 0;
  std::int32_t last_key = progress.last_key;
  bool has_last = progress.has_last;
  // The byte sum runs in a register (64-bit halves; the checksum is its low 32 bits), which leaves the
  // general registers to the walk and the members.
  __m128i sums = _mm_cvtsi32_si128(static_cast<int>(progress.checksum));
  std::int64_t members = progress.members;
  const unsigned char* at = in;
  for (; k < max && end - at >= 8; ++k) {
    const auto key = static_cast<std::int32_t>(get_u32(at));
    const std::uint32_t mask = get_u32(at + 4);
    const int stored = _mm_popcnt_u32(mask);
    if (end - at < 8 + stored || (has_last && last_key >= key)) break;
    blocks[k].key = key;
    members += decode_shuffle(mask, at + 8, blocks[k], sums);
    last_key = key;
    has_last = true;
    at += 8 + stored;
  }
  in = at;
  progress = {last_key, has_last, total_of(sums), members};
  return k;
}

}  // namespace intset::detail::x86

#endif  // INTSET_X86_KERNELS
