// Block records of the set file format, portable and with SSSE3 byte shuffles.
#include "intset/record_codec.h"

#include <bit>
#include <cstring>

#include "intset/block_ops.h"

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#define INTSET_SHUFFLE_CODEC 1
#include <immintrin.h>
#endif

namespace intset::detail {

namespace {

// Sum of the eight bytes of `word`.
std::uint32_t byte_sum(std::uint64_t word) noexcept {
  constexpr std::uint64_t kLow = 0x00FF00FF00FF00FFull;
  const std::uint64_t pairs = (word & kLow) + ((word >> 8) & kLow);  // four 16-bit lanes, each <= 510
  return static_cast<std::uint32_t>((pairs * 0x0001000100010001ull) >> 48);
}

unsigned char* encode_portable(const tblock& block, unsigned char* out, std::uint32_t& checksum) noexcept {
  put_u32(out, static_cast<std::uint32_t>(block.key));
  unsigned char* bytes = out + 8;
  std::uint32_t mask = 0;
  for (int w = 0; w < 4; ++w) {
    const std::uint64_t word = load_word(block.bits + 8 * w);
    if (word == 0) continue;
    checksum += byte_sum(word);
    for (int i = 0; i < 8; ++i) {
      const auto byte = static_cast<unsigned char>(word >> (8 * i));
      const bool stored = byte != 0;
      *bytes = byte;  // overwritten by the next byte unless kept
      bytes += stored;
      mask |= std::uint32_t{stored} << (8 * w + i);
    }
  }
  put_u32(out + 4, mask);
  return bytes;
}

std::uint32_t decode_portable(std::uint32_t mask, const unsigned char* in, tblock& block) noexcept {
  std::uint32_t sum = 0;
  if (mask == 0xFFFFFFFFu) {
    std::memcpy(block.bits, in, 32);
    for (int w = 0; w < 4; ++w) sum += byte_sum(load_word(block.bits + 8 * w));
    return sum;
  }
  std::memset(block.bits, 0, sizeof block.bits);
  for (std::uint32_t m = mask; m != 0; m &= m - 1) {
    const unsigned char byte = *in++;
    block.bits[std::countr_zero(m)] = byte;
    sum += byte;
  }
  return sum;
}

unsigned char* encode_records_portable(const tblock* blocks, std::size_t n, unsigned char* out,
                                       std::uint32_t& checksum) noexcept {
  std::uint32_t sum = checksum;  // kept in a register: `checksum` might alias the output
  for (std::size_t k = 0; k < n; ++k) out = encode_portable(blocks[k], out, sum);
  checksum = sum;
  return out;
}

std::size_t decode_records_portable(const unsigned char*& in, const unsigned char* end, tblock* blocks,
                                    std::size_t max, decode_progress& progress) noexcept {
  std::size_t k = 0;
  for (; k < max && end - in >= 8; ++k) {
    const auto key = static_cast<std::int32_t>(get_u32(in));
    const std::uint32_t mask = get_u32(in + 4);
    const int stored = stored_bytes(mask);
    if (end - in < 8 + stored || (progress.has_last && progress.last_key >= key)) break;
    blocks[k].key = key;
    progress.checksum += decode_portable(mask, in + 8, blocks[k]);
    progress.last_key = key;
    progress.has_last = true;
    in += 8 + stored;
  }
  return k;
}

#ifdef INTSET_SHUFFLE_CODEC

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

INTSET_SHUFFLE_KERNEL std::uint32_t sum_of(__m128i lo, __m128i hi) noexcept {
  const __m128i zero = _mm_setzero_si128();
  const __m128i sums = _mm_add_epi64(_mm_sad_epu8(lo, zero), _mm_sad_epu8(hi, zero));
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
  checksum += sum_of(lo, hi);
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

INTSET_SHUFFLE_KERNEL std::uint32_t decode_shuffle(std::uint32_t mask, const unsigned char* in,
                                                   tblock& block) noexcept {
  __m128i groups[4];  // the low 8 bytes of each are one group of the map
  for (int g = 0; g < 4; ++g) {
    const unsigned m = (mask >> (8 * g)) & 0xFF;
    const __m128i stored = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(in));
    const __m128i places = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kTables.expand[m]));
    groups[g] = _mm_shuffle_epi8(stored, places);
    in += _mm_popcnt_u32(m);
  }
  // Whole 16-byte stores, and the sum taken from the registers: reading back the map right after
  // storing it in pieces would stall.
  const __m128i lo = _mm_unpacklo_epi64(groups[0], groups[1]);
  const __m128i hi = _mm_unpacklo_epi64(groups[2], groups[3]);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(block.bits), lo);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(block.bits + 16), hi);
  return sum_of(lo, hi);
}

INTSET_SHUFFLE_FUNCTION unsigned char* encode_records_shuffle(const tblock* blocks, std::size_t n,
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

INTSET_SHUFFLE_FUNCTION std::size_t decode_records_shuffle(const unsigned char*& in, const unsigned char* end,
                                                           tblock* blocks, std::size_t max,
                                                           decode_progress& progress) noexcept {
  std::size_t k = 0;
  std::int32_t last_key = progress.last_key;
  bool has_last = progress.has_last;
  std::uint32_t checksum = progress.checksum;
  const unsigned char* at = in;
  for (; k < max && end - at >= 8; ++k) {
    const auto key = static_cast<std::int32_t>(get_u32(at));
    const std::uint32_t mask = get_u32(at + 4);
    const int stored = _mm_popcnt_u32(mask);
    if (end - at < 8 + stored || (has_last && last_key >= key)) break;
    blocks[k].key = key;
    checksum += decode_shuffle(mask, at + 8, blocks[k]);
    last_key = key;
    has_last = true;
    at += 8 + stored;
  }
  in = at;
  progress = {last_key, has_last, checksum};
  return k;
}

#endif  // INTSET_SHUFFLE_CODEC

}  // namespace

bool shuffle_codec_available() noexcept {
#ifdef INTSET_SHUFFLE_CODEC
  static const bool has = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
  return has && shuffle_codec_allowed;
#else
  return false;
#endif
}

unsigned char* encode_records(const tblock* blocks, std::size_t n, unsigned char* out,
                              std::uint32_t& checksum, bool fast) noexcept {
#ifdef INTSET_SHUFFLE_CODEC
  if (fast) return encode_records_shuffle(blocks, n, out, checksum);
#else
  (void)fast;
#endif
  return encode_records_portable(blocks, n, out, checksum);
}

std::size_t decode_records(const unsigned char*& in, const unsigned char* end, tblock* blocks,
                           std::size_t max, decode_progress& progress, bool fast) noexcept {
#ifdef INTSET_SHUFFLE_CODEC
  if (fast) return decode_records_shuffle(in, end, blocks, max, progress);
#else
  (void)fast;
#endif
  return decode_records_portable(in, end, blocks, max, progress);
}

}  // namespace intset::detail
