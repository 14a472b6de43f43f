// The capacity rule of the set's block buffer, in one place for every operation that sizes it: a full
// buffer grows in steps of 32 blocks; a buffer with 128 or more free blocks is trimmed, to exactly the
// used blocks after exclude() and to the used blocks rounded up to 32 after the algebra and loading.
// Capacities are computed in 64 bits; callers check the result against the largest buffer length.
#ifndef INTSET_CAPACITY_H_
#define INTSET_CAPACITY_H_

#include <cstddef>
#include <cstdint>
#include <limits>

#include "intset/exceptions.h"
#include "intset/tnumbrelle.h"

namespace intset::detail {

// Block keys are value >> 8, so they lie in [-8388608, 8388607]: a set uses at most 2^24 blocks.
constexpr std::int32_t kLowestKey = std::numeric_limits<std::int32_t>::min() >> 8;
constexpr std::int32_t kHighestKey = std::numeric_limits<std::int32_t>::max() >> 8;
constexpr std::int64_t kMaxBlocks = std::int64_t{kHighestKey} - kLowestKey + 1;
// The longest buffer: a merge holds both operands' blocks before it is trimmed. Its size in bytes fits in
// size_t on 32-bit hosts too.
constexpr std::int64_t kMaxBufferLength = 2 * kMaxBlocks;
static_assert(static_cast<std::uint64_t>(kMaxBufferLength) * sizeof(tblock) <=
                  std::numeric_limits<std::size_t>::max(),
              "a buffer's size in bytes must fit in size_t");

constexpr bool key_in_range(std::int32_t key) { return key >= kLowestKey && key <= kHighestKey; }

constexpr std::int64_t kGrowthStep = 32;  // blocks added when a full buffer needs more
constexpr std::int64_t kTrimSlack = 128;  // free blocks at which the buffer is trimmed

// The capacity once `needed` blocks must fit: unchanged when they do, otherwise grown by as many steps
// of 32 as it takes (one step when include() adds a block to a full buffer).
constexpr std::int64_t grown_capacity(std::int64_t capacity, std::int64_t needed) {
  if (needed <= capacity) return capacity;
  return capacity + (needed - capacity + kGrowthStep - 1) / kGrowthStep * kGrowthStep;
}

// The capacity after exclude() removed a block: exactly `used` once 128 or more blocks are free.
constexpr std::int64_t excluded_capacity(std::int64_t capacity, std::int64_t used) {
  return capacity - used >= kTrimSlack ? used : capacity;
}

// The capacity compact() gives: `used` rounded up to a multiple of 32 when fewer blocks than used exist
// or 128 or more are free; otherwise unchanged.
constexpr std::int64_t compacted_capacity(std::int64_t capacity, std::int64_t used) {
  const std::int64_t slack = capacity - used;
  if (slack >= 0 && slack < kTrimSlack) return capacity;
  return (used + kGrowthStep - 1) / kGrowthStep * kGrowthStep;
}

// `capacity` as a buffer length; raises EOutOfMemory beyond the largest length a buffer can have.
inline std::int32_t buffer_length(std::int64_t capacity) {
  if (capacity > kMaxBufferLength) throw EOutOfMemory();
  return static_cast<std::int32_t>(capacity);
}

}  // namespace intset::detail

#endif  // INTSET_CAPACITY_H_
