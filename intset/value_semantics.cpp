// tnumbrelle: value semantics: construction, copies, moves, swap, assign and clear.
#include <cstring>
#include <utility>

#include "intset/tnumbrelle.h"

namespace intset {

tnumbrelle::tnumbrelle() { clear(); }

tnumbrelle::~tnumbrelle() { clear(); }

tnumbrelle::tnumbrelle(tnumbrelle&& other) noexcept
    : buffer(std::move(other.buffer)),
      used(other.used),
      cur_block(other.cur_block),
      cur_bit(other.cur_bit),
      keys_unordered(other.keys_unordered),
      members(other.members) {
  other.clear();
}

tnumbrelle& tnumbrelle::operator=(tnumbrelle&& other) noexcept {
  if (&other != this) {
    buffer = std::move(other.buffer);
    used = other.used;
    cur_block = other.cur_block;
    cur_bit = other.cur_bit;
    keys_unordered = other.keys_unordered;
    members = other.members;
    other.clear();
  }
  return *this;
}

void tnumbrelle::clear() {
  used = 0;
  buffer.release();
  cur_block = -1;
  keys_unordered = false;
  members = 0;
}

void tnumbrelle::assign(const tnumbrelle& source) {
  if (&source == this) return;  // copying the blocks onto themselves would change nothing
  used = source.used;
  try {
    if (buffer.length() != source.buffer.length()) {
      buffer.release();  // the old blocks are overwritten anyway: do not let realloc copy them
      buffer.resize(source.buffer.length());
    }
  } catch (...) {
    clear();
    throw;
  }
  if (used > 0) std::memcpy(buffer.data(), source.buffer.data(), std::size_t(used) * sizeof(tblock));
  keys_unordered = source.keys_unordered;
  members = source.members;
}

tnumbrelle::tnumbrelle(const tnumbrelle& other) : tnumbrelle() { *this = other; }

// A buffer of another length is allocated before anything changes, so a failure leaves this set as it was.
tnumbrelle& tnumbrelle::operator=(const tnumbrelle& other) {
  if (&other == this) return *this;
  if (buffer.length() != other.buffer.length()) {
    tbuffer fresh;
    fresh.resize(other.buffer.length());
    buffer.swap(fresh);
  }
  if (other.used > 0)
    std::memcpy(buffer.data(), other.buffer.data(), std::size_t(other.used) * sizeof(tblock));
  used = other.used;
  keys_unordered = other.keys_unordered;
  members = other.members;
  cur_block = -1;
  cur_bit = 0;
  return *this;
}

tnumbrelle::tnumbrelle(std::initializer_list<std::int32_t> values) : tnumbrelle() {
  include_array({values.begin(), values.size()});
}

tnumbrelle::tnumbrelle(std::span<const std::int32_t> values) : tnumbrelle() { include_array(values); }

void tnumbrelle::swap(tnumbrelle& other) noexcept {
  buffer.swap(other.buffer);
  std::swap(used, other.used);
  std::swap(cur_block, other.cur_block);
  std::swap(cur_bit, other.cur_bit);
  std::swap(keys_unordered, other.keys_unordered);
  std::swap(members, other.members);
}

}  // namespace intset
