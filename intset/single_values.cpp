// tnumbrelle: single values.
#include <cstring>

#include "intset/block_ops.h"
#include "intset/capacity.h"
#include "intset/tnumbrelle.h"

namespace intset {

using detail::load_map;
using detail::map_words;

namespace {

bool test_bit(const tblock& block, std::uint8_t bit) { return (block.bits[bit >> 3] >> (bit & 7)) & 1; }
void set_bit(tblock& block, std::uint8_t bit) { block.bits[bit >> 3] |= std::uint8_t(1u << (bit & 7)); }

// Sets or clears the bit and returns 1 when that changed the map, 0 when it did not: computed, not
// branched on, as whether a value is new is as often a coin toss as not.
int set_bit_counted(tblock& block, std::uint8_t bit) {
  std::uint8_t& byte = block.bits[bit >> 3];
  const std::uint8_t before = byte;
  byte = static_cast<std::uint8_t>(before | (1u << (bit & 7)));
  return ((before >> (bit & 7)) & 1) ^ 1;
}
int clear_bit_counted(tblock& block, std::uint8_t bit) {
  std::uint8_t& byte = block.bits[bit >> 3];
  const std::uint8_t before = byte;
  byte = static_cast<std::uint8_t>(before & ~(1u << (bit & 7)));
  return (before >> (bit & 7)) & 1;
}

// Whether the block's map holds this bit and no other.
bool only_bit(const tblock& block, std::uint8_t bit) {
  map_words map = load_map(block);
  map.w[bit >> 6] ^= std::uint64_t{1} << (bit & 63);
  return detail::map_is_empty(map);
}

}  // namespace

void tnumbrelle::include(std::int32_t value) {
  const location at = locate(value);
  if (at.found) {
    members += set_bit_counted(buffer[at.position], at.bit);
    return;
  }
  if (buffer.length() == used) {
    buffer.resize(detail::buffer_length(detail::grown_capacity(buffer.length(), std::int64_t{used} + 1)));
  }
  tblock* blocks = buffer.data();
  std::memmove(blocks + at.position + 1, blocks + at.position,
               std::size_t(used - at.position) * sizeof(tblock));
  ++used;
  tblock& block = blocks[at.position];
  block.key = at.key;
  std::memset(block.bits, 0, sizeof block.bits);
  set_bit(block, at.bit);
  ++members;
}

void tnumbrelle::exclude(std::int32_t value) {
  const location at = locate(value);
  if (!at.found) return;
  tblock& block = buffer[at.position];
  if (!only_bit(block, at.bit)) {
    members -= clear_bit_counted(block, at.bit);
    return;
  }
  tblock* blocks = buffer.data();
  std::memmove(blocks + at.position, blocks + at.position + 1,
               std::size_t(used - at.position - 1) * sizeof(tblock));
  --used;
  --members;
  const std::int64_t trimmed = detail::excluded_capacity(buffer.length(), used);
  if (trimmed != buffer.length()) buffer.resize(static_cast<std::int32_t>(trimmed));
}

void tnumbrelle::invert(std::int32_t value) {
  if (contains(value)) {
    exclude(value);
  } else {
    include(value);
  }
}

bool tnumbrelle::contains(std::int32_t value) const {
  const location at = locate(value);
  return at.found && test_bit(buffer[at.position], at.bit);
}

void tnumbrelle::include_one_by_one(std::span<const std::int32_t> values) {
  for (const std::int32_t value : values) include(value);
}

bool tnumbrelle::is_empty() const { return used == 0; }

}  // namespace intset
