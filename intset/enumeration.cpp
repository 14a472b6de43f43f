// tnumbrelle: enumeration, through the set's own cursor, to_array() and the standard iterator.
#include <bit>

#include "intset/block_ops.h"
#include "intset/tnumbrelle.h"

namespace intset {

// The rest of next() when its inline step cannot finish (no member in the rest of the cursor's word, or the
// member is the block's last bit, or no enumeration is running): jumps straight to the next set bit, leaving
// the cursor exactly where a scan that advances one bit at a time would: on the member found, or on bit 0 of
// block `used` when there is none.
std::int64_t tnumbrelle::next_in_later_words() {
  if (cur_block == -1) return kNoMember;
  bool found = false;
  while (cur_block < used) {
    const int bit = detail::next_set_bit(buffer[cur_block], cur_bit);
    if (bit < 256) {
      cur_bit = static_cast<std::uint32_t>(bit);
      found = true;
      break;
    }
    ++cur_block;
    cur_bit = 0;
  }
  const std::int64_t value = found ? value_of(buffer[cur_block].key, cur_bit) : kNoMember;
  if (cur_bit == 255) {
    ++cur_block;
    cur_bit = 0;
  } else {
    ++cur_bit;
  }
  if (cur_block >= used) cur_block = -1;
  return value;
}

// Fills the array straight from the blocks, then leaves the cursor where first() and next() until false
// would have left it.
tarrayofinteger tnumbrelle::to_array() {
  tarrayofinteger members;
  try {
    members.resize(static_cast<std::size_t>(count()));
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
  std::int32_t* out = members.data();
  for (std::int32_t i = 0; i < used; ++i) {
    const tblock& block = buffer[i];
    const std::int32_t base = value_of(block.key, 0);
    for (int w = 0; w < 4; ++w) {
      for (std::uint64_t word = detail::load_word(block.bits + 8 * w); word != 0; word &= word - 1) {
        *out++ = base + 64 * w + std::countr_zero(word);
      }
    }
  }
  const bool ends_on_last_bit = used > 0 && (buffer[used - 1].bits[31] & 0x80) != 0;
  cur_block = -1;
  cur_bit = ends_on_last_bit ? 0 : 1;
  return members;
}

// Writes word by word; a word that surely fits (64 slots or more left) takes no count of the room per member.
std::span<std::int32_t> tnumbrelle::members_from(std::int32_t from, std::span<std::int32_t> buffer) const {
  if (buffer.empty() || used == 0) return {};
  std::int32_t* out = buffer.data();
  std::int32_t* const end = out + buffer.size();
  // The members of one word, from the value of its bit 0; false once the buffer is full.
  const auto word_out = [&out, end](std::uint64_t word, std::int32_t base) {
    if (end - out >= 64) {
      for (; word != 0; word &= word - 1) *out++ = base + std::countr_zero(word);
    } else {
      for (; word != 0 && out != end; word &= word - 1) *out++ = base + std::countr_zero(word);
    }
    return out != end;
  };
  const location at = locate(from);
  std::int32_t i = at.position;
  if (at.found) {  // the block of `from`, from its bit on
    const tblock& block = this->buffer[i++];
    unsigned w = at.bit >> 6;
    bool room =
        word_out(map_word(block, w) & (~std::uint64_t{0} << (at.bit & 63u)), value_of(block.key, 64 * w));
    while (room && ++w < 4) room = word_out(map_word(block, w), value_of(block.key, 64 * w));
    if (!room) i = used;
  }
  for (; i < used; ++i) {
    const tblock& block = this->buffer[i];
    const std::int32_t base = value_of(block.key, 0);
    if (!word_out(map_word(block, 0), base) || !word_out(map_word(block, 1), base + 64) ||
        !word_out(map_word(block, 2), base + 128) || !word_out(map_word(block, 3), base + 192)) {
      break;
    }
  }
  return buffer.first(static_cast<std::size_t>(out - buffer.data()));
}

// --- Standard iteration -----------------------------------------------------------------------------

tnumbrelle::const_iterator::const_iterator(const tblock* blocks, std::int32_t used, std::int32_t index,
                                           unsigned bit)
    : blocks_(blocks), used_(used), index_(index), word_(bit >> 6) {
  if (index_ < used_) rest_ = map_word(blocks_[index_], word_) & (~std::uint64_t{0} << (bit & 63u));
  if (rest_ == 0) {
    ++word_;
    settle();
  } else {
    base_ = static_cast<std::uint32_t>(value_of(blocks_[index_].key, 64 * word_));
  }
}

void tnumbrelle::const_iterator::settle() {
  for (; index_ < used_; ++index_, word_ = 0) {
    for (; word_ < 4; ++word_) {
      rest_ = map_word(blocks_[index_], word_);
      if (rest_ != 0) {
        base_ = static_cast<std::uint32_t>(value_of(blocks_[index_].key, 64 * word_));
        return;
      }
    }
  }
  word_ = 0;
  rest_ = 0;
  base_ = 0;
}

}  // namespace intset
