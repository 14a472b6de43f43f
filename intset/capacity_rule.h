// The buffer capacities that the single-value operations and the trim after the algebra arrive at, as
// arithmetic, for operations that change many blocks at once but must end where the step-by-step rules end.
#ifndef INTSET_CAPACITY_RULE_H_
#define INTSET_CAPACITY_RULE_H_

#include <cstdint>

namespace intset::detail {

constexpr std::int64_t kGrowthStep = 32;  // blocks added when a full buffer needs one more
constexpr std::int64_t kTrimSlack = 128;  // free blocks at which a removal trims the buffer

// The capacity that include() reaches when it adds blocks one at a time until `used` are in use: a full
// buffer grows by 32 blocks, an emptier one stays as it is.
constexpr std::int64_t capacity_after_growth(std::int64_t capacity, std::int64_t used) {
  return used <= capacity ? capacity
                          : capacity + (used - capacity + kGrowthStep - 1) / kGrowthStep * kGrowthStep;
}

// The capacity that exclude() reaches when it removes `removed` blocks one at a time from `used`: after each
// removal that leaves 128 or more slots free, the capacity becomes exactly the block count.
constexpr std::int64_t capacity_after_removals(std::int64_t capacity, std::int64_t used,
                                               std::int64_t removed) {
  for (; removed > 0; --removed) {
    --used;
    if (capacity - used >= kTrimSlack) capacity = used;
  }
  return capacity;
}

// The capacity compact() leaves: with less than zero or 128 or more free slots, `used` rounded up to a
// multiple of 32; otherwise the capacity as it is.
constexpr std::int64_t compacted_capacity(std::int64_t capacity, std::int64_t used) {
  const std::int64_t slack = capacity - used;
  if (slack >= 0 && slack < kTrimSlack) return capacity;
  return (used + kGrowthStep - 1) / kGrowthStep * kGrowthStep;
}

}  // namespace intset::detail

#endif  // INTSET_CAPACITY_RULE_H_
