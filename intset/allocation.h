// Where the library obtains block-buffer memory, with a hook that lets tests make allocations fail.
#ifndef INTSET_ALLOCATION_H_
#define INTSET_ALLOCATION_H_

#include <cstddef>

namespace intset::detail {

// How many more block-buffer allocations may succeed before every further one fails; negative means never
// fail. Only tests change it.
inline long allocations_before_failure = -1;

// realloc(), or nullptr when the hook says this allocation fails. `bytes` is never 0.
void* reallocate(void* memory, std::size_t bytes) noexcept;

}  // namespace intset::detail

#endif  // INTSET_ALLOCATION_H_
