// Block records of the set file format, portable; x86/record_codec_ssse3.cpp has the byte-shuffle build.
#include "intset/record_codec.h"

#include <bit>
#include <cstring>

#include "intset/block_ops.h"

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

// The set bits of each value of a nibble.
constexpr unsigned char kNibbleBits[16] = {0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4};

// Decodes one record's map bytes into `block`; returns their sum and adds the block's members to `members`.
std::uint32_t decode_portable(std::uint32_t mask, const unsigned char* in, tblock& block,
                              std::int64_t& members) noexcept {
  std::uint32_t sum = 0;
  if (mask == 0xFFFFFFFFu) {
    std::memcpy(block.bits, in, 32);
    for (int w = 0; w < 4; ++w) {
      const std::uint64_t word = load_word(block.bits + 8 * w);
      sum += byte_sum(word);
      members += word_popcount(word);
    }
    return sum;
  }
  std::memset(block.bits, 0, sizeof block.bits);
  int bits = 0;
  for (std::uint32_t m = mask; m != 0; m &= m - 1) {
    const unsigned char byte = *in++;
    block.bits[std::countr_zero(m)] = byte;
    sum += byte;
    bits += kNibbleBits[byte & 0xF] + kNibbleBits[byte >> 4];
  }
  members += bits;
  return sum;
}

}  // namespace

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
    progress.checksum += decode_portable(mask, in + 8, blocks[k], progress.members);
    progress.last_key = key;
    progress.has_last = true;
    in += 8 + stored;
  }
  return k;
}

}  // namespace intset::detail
