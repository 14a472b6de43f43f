// tnumbrelle: the block buffer and the capacity rule applied to it (capacity.h).
#include <cstdlib>
#include <utility>

#include "intset/allocation.h"
#include "intset/capacity.h"
#include "intset/tnumbrelle.h"

namespace intset {

void* detail::reallocate(void* memory, std::size_t bytes) noexcept {
  if (allocations_before_failure == 0) return nullptr;
  if (allocations_before_failure > 0) --allocations_before_failure;
  return std::realloc(memory, bytes);
}

tbuffer::~tbuffer() { release(); }

tbuffer::tbuffer(tbuffer&& other) noexcept { swap(other); }

tbuffer& tbuffer::operator=(tbuffer&& other) noexcept {
  tbuffer(std::move(other)).swap(*this);
  return *this;
}

void tbuffer::resize(std::int32_t length) {
  if (length == length_) return;
  if (length <= 0) {
    release();
    return;
  }
  // Lengths are bounded so that the size in bytes below cannot wrap, on 32-bit hosts either.
  if (length > detail::kMaxBufferLength) throw EOutOfMemory();
  void* memory = detail::reallocate(blocks_, static_cast<std::size_t>(length) * sizeof(tblock));
  if (memory == nullptr) throw EOutOfMemory();
  blocks_ = static_cast<tblock*>(memory);
  length_ = length;
}

void tbuffer::release() noexcept {
  std::free(blocks_);
  blocks_ = nullptr;
  length_ = 0;
}

void tbuffer::swap(tbuffer& other) noexcept {
  std::swap(blocks_, other.blocks_);
  std::swap(length_, other.length_);
}

// --- Capacity -----------------------------------------------------------------------------------------

// Trims or grows the buffer after an operation that shrank `used` or set it directly, by
// detail::compacted_capacity().
void tnumbrelle::compact() {
  const std::int64_t capacity = detail::compacted_capacity(buffer.length(), used);
  if (capacity == buffer.length()) return;
  try {
    buffer.resize(detail::buffer_length(capacity));
  } catch (...) {
    if (buffer.length() < used) clear();
    throw;
  }
}

}  // namespace intset
