// The block records of the set file format: key, mask of the non-zero map bytes, and those bytes. Turns
// blocks into records and back; the kernels in use come from dispatch.h.
#ifndef INTSET_RECORD_CODEC_H_
#define INTSET_RECORD_CODEC_H_

#include <cstddef>
#include <cstdint>

#include "intset/detail/byte_order.h"
#include "intset/tnumbrelle.h"

namespace intset::detail {

// Room a record may take: key, mask and 32 map bytes. An encoder may use all of it for each record.
constexpr std::size_t kRecordRoom = 40;
// Bytes past the end of its input that a decoder may read (and ignore).
constexpr std::size_t kDecodeOverread = 8;

// Where decoding stands: the key of the last block decoded (if any), the sum of the map bytes so far and
// the members of the blocks decoded.
struct decode_progress {
  std::int32_t last_key = 0;
  bool has_last = false;
  std::uint32_t checksum = 0;
  std::int64_t members = 0;
};

// Writes the records of blocks[0..n) one after another from `out`, which has room for n * kRecordRoom
// bytes, and returns their end; adds the stored map bytes to `checksum`.
using record_encoder = unsigned char* (*)(const tblock* blocks, std::size_t n, unsigned char* out,
                                          std::uint32_t& checksum) noexcept;
// Decodes whole records from [in, end) into blocks[0..max), advancing `in`, and returns how many. Stops at
// a record that is not wholly in the range, or whose key is not above the previous one (left for the
// caller to report). May read up to kDecodeOverread bytes past `end`.
using record_decoder = std::size_t (*)(const unsigned char*& in, const unsigned char* end, tblock* blocks,
                                       std::size_t max, decode_progress& progress) noexcept;

// The portable codec; x86/record_codec_ssse3.cpp has one with byte shuffles that gives the same bytes.
unsigned char* encode_records_portable(const tblock* blocks, std::size_t n, unsigned char* out,
                                       std::uint32_t& checksum) noexcept;
std::size_t decode_records_portable(const unsigned char*& in, const unsigned char* end, tblock* blocks,
                                    std::size_t max, decode_progress& progress) noexcept;

// The number of map bytes a record with this mask stores (its set bits; kept inline, as a portable build
// would otherwise call a library routine for it).
inline int stored_bytes(std::uint32_t mask) noexcept {
  mask -= (mask >> 1) & 0x55555555u;
  mask = (mask & 0x33333333u) + ((mask >> 2) & 0x33333333u);
  return static_cast<int>((((mask + (mask >> 4)) & 0x0F0F0F0Fu) * 0x01010101u) >> 24);
}

inline std::uint32_t get_u32(const unsigned char* p) noexcept { return load_little<std::uint32_t>(p); }
inline void put_u32(unsigned char* p, std::uint32_t v) noexcept { store_little(p, v); }

}  // namespace intset::detail

#endif  // INTSET_RECORD_CODEC_H_
