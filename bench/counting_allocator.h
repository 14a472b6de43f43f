// An allocator that keeps a running total of the bytes it has handed out and not yet taken back, so that the
// memory of a standard container can be read off exactly (requested bytes, without the heap's own headers).
#ifndef BENCH_COUNTING_ALLOCATOR_H_
#define BENCH_COUNTING_ALLOCATOR_H_

#include <cstddef>
#include <memory>

namespace bench {

// Bytes currently held by every counting_allocator, whatever its value type.
inline std::size_t live_bytes = 0;

template <typename T>
struct counting_allocator {
  using value_type = T;

  counting_allocator() noexcept = default;
  template <typename U>
  counting_allocator(const counting_allocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    live_bytes += n * sizeof(T);
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, std::size_t n) noexcept {
    live_bytes -= n * sizeof(T);
    std::allocator<T>().deallocate(p, n);
  }

  template <typename U>
  bool operator==(const counting_allocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace bench

#endif  // BENCH_COUNTING_ALLOCATOR_H_
