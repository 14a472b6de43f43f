// The portable Roaring bitmap format, as the writer (roaring_writer.cpp), the reader (roaring_reader.cpp)
// and their x86 builds share it.
//
// Layout, all numbers little-endian: a cookie, either 12346 followed by a 32-bit container count, or a word
// whose low 16 bits are 12347 and whose high 16 bits are the count minus 1, followed by ceil(count / 8)
// bytes whose bit i marks container i as a run container. Then per container its key (the high 16 bits of
// its values) and its cardinality minus 1, 16 bits each; then the 32-bit byte offset of every container
// from the cookie, for cookie 12346 and for 12347 with at least 4 containers. Then the containers: a run
// container is a 16-bit run count and per run its start and its length minus 1; any other container with at
// most 4096 values is an array of its sorted 16-bit values, one with more a bitset of 1024 64-bit words
// (bit b of word w is value 64w + b).
//
// A container spans 256 of the set's blocks, and a bitset's bytes are laid out exactly as the blocks' maps
// are: block j of container K holds the 32 bytes at 32j. Member v is stored as the unsigned value with the
// same bits, so the block with key k belongs to container (k >> 8) & 0xFFFF, and the containers of the
// negative members (keys 0x8000 and up) come after those of the others.
#ifndef INTSET_ROARING_LAYOUT_H_
#define INTSET_ROARING_LAYOUT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <span>

#include "intset/block_ops.h"
#include "intset/detail/byte_order.h"
#include "intset/tnumbrelle.h"

namespace intset::detail::roaring {

constexpr std::uint32_t kCookieNoRuns = 12346;
constexpr std::uint32_t kCookieRuns = 12347;
constexpr std::uint32_t kMaxContainers = 65536;
constexpr std::int32_t kArrayMax = 4096;        // more values than this make a bitset
constexpr std::size_t kBitsetBytes = 8192;      // 1024 64-bit words
constexpr std::uint32_t kOffsetsFromCount = 4;  // cookie 12347 stores offsets from this many containers on
constexpr std::uint32_t kHeadsPerPiece = 2048;  // container heads read and checked at once
constexpr std::uint32_t kRunsPerPiece = 2048;   // runs read and checked at once
constexpr std::size_t kArraySlack = 16;         // bytes array_values() may write past an array's values
constexpr std::int32_t kBlocksPerContainer = 256;
constexpr std::int32_t kDenseArray = 8;  // values per block from which an array is decoded in pass one

inline std::uint32_t get_u16(const unsigned char* p) noexcept { return load_little<std::uint16_t>(p); }
inline void put_u16(unsigned char* p, std::uint32_t v) noexcept {
  store_little(p, static_cast<std::uint16_t>(v));
}

// The container of a block key, and the block's place in it.
inline std::uint32_t container_of(std::int32_t key) noexcept {
  return (static_cast<std::uint32_t>(key) >> 8) & 0xFFFFu;
}
inline std::uint32_t index_of(std::int32_t key) noexcept { return static_cast<std::uint32_t>(key) & 0xFFu; }
// Word w of a block's map, read straight from the block (a copy of the map would be stored whole and read
// back a word at a time).
inline std::uint64_t map_word(const tblock& block, std::uint32_t w) noexcept {
  return detail::load_word(block.bits + 8 * w);
}
inline std::int32_t block_key(std::uint32_t container, std::uint32_t index) noexcept {
  return static_cast<std::int32_t>((container << 16 | index << 8)) >> 8;
}

// A bitset's non-empty 32-byte slices, made blocks from `out` (room for 256), and its members.
struct bitset_measure {
  std::int64_t members;
  std::int32_t blocks;
};

// Writes a whole bitmap of the blocks (rising keys, in the value range) to the stream.
using bitmap_writer = void (*)(std::span<const tblock> blocks, std::ostream& out);
// Makes blocks of the bitset container with this key from its 8192 bytes.
using bitset_stager = bitset_measure (*)(const unsigned char* bytes, std::uint32_t key, tblock* out) noexcept;

template <typename Popcount>
[[gnu::always_inline]] inline bitset_measure stage_bitset(const unsigned char* bytes, std::uint32_t key,
                                                          tblock* out, Popcount popcount) {
  std::int64_t members = 0;
  tblock* at = out;
  for (std::uint32_t index = 0; index < kBlocksPerContainer; ++index) {
    const unsigned char* map = bytes + 32 * index;
    // Emptiness is judged from the input: reading the block just written would wait on the store.
    const std::uint64_t w0 = detail::load_word(map), w1 = detail::load_word(map + 8),
                        w2 = detail::load_word(map + 16), w3 = detail::load_word(map + 24);
    members += popcount(w0) + popcount(w1) + popcount(w2) + popcount(w3);
    at->key = block_key(key, index);
    std::memcpy(at->bits, map, 32);
    at += (w0 | w1 | w2 | w3) != 0;  // an empty block is overwritten by the next
  }
  return {members, static_cast<std::int32_t>(at - out)};
}

void write_bitmap_portable(std::span<const tblock> blocks, std::ostream& out);
bitset_measure stage_bitset_portable(const unsigned char* bytes, std::uint32_t key, tblock* out) noexcept;

}  // namespace intset::detail::roaring

#endif  // INTSET_ROARING_LAYOUT_H_
