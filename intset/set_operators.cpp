// tnumbrelle: value semantics (copies, construction from values, swap) and the set operators.
#include <cstring>
#include <utility>

#include "intset/block_ops.h"
#include "intset/capacity.h"
#include "intset/tnumbrelle.h"

namespace intset {

using detail::load_map;
using detail::map_is_empty;
using detail::map_words;
using detail::store_map;

// --- Value semantics ------------------------------------------------------------------------------------

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
}

// --- Merging into a new buffer ----------------------------------------------------------------------------

// The merge runs into a new buffer of a.used + b.used blocks, which is trimmed as compact() would trim it
// before it replaces this set's buffer: until then nothing has changed, so running out of memory at any
// point leaves this set as it was.
void tnumbrelle::merge_from(const tnumbrelle& a, const tnumbrelle& b, bool symmetric_difference) {
  const std::int64_t total = std::int64_t(a.used) + b.used;
  tbuffer merged;
  merged.resize(detail::buffer_length(total));
  const tblock* x = a.buffer.data();
  const tblock* y = b.buffer.data();
  tblock* out = merged.data();
  std::int32_t i = 0, j = 0, n = 0;
  while (i < a.used || j < b.used) {
    if (j == b.used || (i < a.used && x[i].key < y[j].key)) {
      out[n++] = x[i++];
    } else if (i == a.used || x[i].key > y[j].key) {
      out[n++] = y[j++];
    } else {
      const map_words p = load_map(x[i++]), q = load_map(y[j++]);
      const map_words m =
          symmetric_difference
              ? map_words{{p.w[0] ^ q.w[0], p.w[1] ^ q.w[1], p.w[2] ^ q.w[2], p.w[3] ^ q.w[3]}}
              : map_words{{p.w[0] | q.w[0], p.w[1] | q.w[1], p.w[2] | q.w[2], p.w[3] | q.w[3]}};
      out[n].key = x[i - 1].key;
      store_map(out[n], m);
      if (!symmetric_difference || !map_is_empty(m)) ++n;
    }
  }
  merged.resize(static_cast<std::int32_t>(detail::compacted_capacity(total, n)));
  const bool unordered = a.keys_unordered || b.keys_unordered;
  buffer.swap(merged);
  used = n;
  keys_unordered = unordered;
}

void tnumbrelle::invert(const tnumbrelle& b) { merge_from(*this, b, true); }

// --- Operators ------------------------------------------------------------------------------------------

tnumbrelle& tnumbrelle::operator&=(const tnumbrelle& b) {
  intersect(b);
  return *this;
}

tnumbrelle& tnumbrelle::operator|=(const tnumbrelle& b) {
  unite(b);
  return *this;
}

tnumbrelle& tnumbrelle::operator-=(const tnumbrelle& b) {
  subtract(b);
  return *this;
}

tnumbrelle& tnumbrelle::operator^=(const tnumbrelle& b) {
  invert(b);
  return *this;
}

tnumbrelle operator&(const tnumbrelle& a, const tnumbrelle& b) {
  tnumbrelle result(a);
  result.intersect(b);
  return result;
}

// unite() and invert() build a new buffer from both operands whatever the left one's capacity, so the
// result is merged straight from the operands, without copying the left one first.
tnumbrelle operator|(const tnumbrelle& a, const tnumbrelle& b) {
  tnumbrelle result;
  result.merge_from(a, b, false);
  return result;
}

tnumbrelle operator-(const tnumbrelle& a, const tnumbrelle& b) {
  tnumbrelle result(a);
  result.subtract(b);
  return result;
}

tnumbrelle operator^(const tnumbrelle& a, const tnumbrelle& b) {
  tnumbrelle result;
  result.merge_from(a, b, true);
  return result;
}

}  // namespace intset
