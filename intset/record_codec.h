// The block records of the set file format: key, mask of the non-zero map bytes, and those bytes. Turns
// blocks into records and back, with a portable implementation and one using the processor's byte
// shuffles (x86 SSSE3) where it has them; both give the same bytes.
#ifndef INTSET_RECORD_CODEC_H_
#define INTSET_RECORD_CODEC_H_

#include <cstddef>
#include <cstdint>

#include "intset/tnumbrelle.h"

namespace intset::detail {

// Room a record may take: key, mask and 32 map bytes. encode_record() may write up to this many bytes.
constexpr std::size_t kRecordRoom = 40;
// Bytes after the last stored map byte that decode_map() may read (and ignore).
constexpr std::size_t kDecodeOverread = 8;

// Whether the shuffle implementation may be used when the processor has it; tests turn it off to check
// the portable one.
inline bool shuffle_codec_allowed = true;
// Whether encode_record() and decode_map() called with `fast` = true would use the shuffle implementation.
bool shuffle_codec_available() noexcept;

// Writes the record of `block` at `out` and returns its end; adds the stored bytes to `checksum`.
unsigned char* encode_record(const tblock& block, unsigned char* out, std::uint32_t& checksum,
                             bool fast) noexcept;

// Sets the map of `block` from the popcount(mask) bytes at `in`, and returns their sum.
std::uint32_t decode_map(std::uint32_t mask, const unsigned char* in, tblock& block, bool fast) noexcept;

// The number of map bytes a record with this mask stores (its set bits; kept inline, as a portable build
// would otherwise call a library routine for it).
inline int stored_bytes(std::uint32_t mask) noexcept {
  mask -= (mask >> 1) & 0x55555555u;
  mask = (mask & 0x33333333u) + ((mask >> 2) & 0x33333333u);
  return static_cast<int>((((mask + (mask >> 4)) & 0x0F0F0F0Fu) * 0x01010101u) >> 24);
}

inline std::uint32_t get_u32(const unsigned char* p) noexcept {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

inline void put_u32(unsigned char* p, std::uint32_t v) noexcept {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace intset::detail

#endif  // INTSET_RECORD_CODEC_H_
