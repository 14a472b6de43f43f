// The block records of the set file format: key, mask of the non-zero map bytes, and those bytes. Turns
// blocks into records and back, with a portable implementation and one using the processor's byte
// shuffles (x86 SSSE3) where it has them; both give the same bytes.
#ifndef INTSET_RECORD_CODEC_H_
#define INTSET_RECORD_CODEC_H_

#include <cstddef>
#include <cstdint>

#include "intset/tnumbrelle.h"

namespace intset::detail {

// Room a record may take: key, mask and 32 map bytes. encode_records() may use all of it for each record.
constexpr std::size_t kRecordRoom = 40;
// Bytes past the end of its input that decode_records() may read (and ignore).
constexpr std::size_t kDecodeOverread = 8;

// Whether the shuffle implementation may be used when the processor has it; tests turn it off to check
// the portable one.
inline bool shuffle_codec_allowed = true;
// Whether `fast` = true selects the shuffle implementation on this processor.
bool shuffle_codec_available() noexcept;

// Writes the records of blocks[0..n) one after another from `out`, which has room for n * kRecordRoom
// bytes, and returns their end; adds the stored map bytes to `checksum`. `fast` selects the shuffle
// implementation (see shuffle_codec_available()).
unsigned char* encode_records(const tblock* blocks, std::size_t n, unsigned char* out,
                              std::uint32_t& checksum, bool fast) noexcept;

// Where decoding stands: the key of the last block decoded (if any) and the sum of the map bytes so far.
struct decode_progress {
  std::int32_t last_key = 0;
  bool has_last = false;
  std::uint32_t checksum = 0;
};

// Decodes whole records from [in, end) into blocks[0..max), advancing `in`, and returns how many. Stops at
// a record that is not wholly in the range, or whose key is not above the previous one (left for the
// caller to report). May read up to kDecodeOverread bytes past `end`.
std::size_t decode_records(const unsigned char*& in, const unsigned char* end, tblock* blocks,
                           std::size_t max, decode_progress& progress, bool fast) noexcept;

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
