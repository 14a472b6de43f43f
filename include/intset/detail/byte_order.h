// Little-endian numbers in memory, on hosts of either byte order: the set's file formats store every number
// little-endian, and a block's member map is read as 64-bit words whose bit b is map bit 64w + b. An
// implementation detail of the library's headers, not part of its interface.
#ifndef INTSET_DETAIL_BYTE_ORDER_H_
#define INTSET_DETAIL_BYTE_ORDER_H_

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace intset::detail {

static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big,
              "hosts of mixed byte order are not supported");

// The bytes of `x` in reverse order. Compilers make one instruction of the shifts and masks.
template <typename T>
constexpr T byte_swap(T x) noexcept {
  static_assert(std::is_unsigned_v<T> && (sizeof(T) == 2 || sizeof(T) == 4 || sizeof(T) == 8));
  if constexpr (sizeof(T) == 2) {
    return static_cast<T>(x << 8 | x >> 8);
  } else if constexpr (sizeof(T) == 4) {
    x = (x << 16) | (x >> 16);
    return ((x & 0xFF00FF00u) >> 8) | ((x & 0x00FF00FFu) << 8);
  } else {
    x = (x << 32) | (x >> 32);
    x = ((x & 0xFFFF0000FFFF0000u) >> 16) | ((x & 0x0000FFFF0000FFFFu) << 16);
    return ((x & 0xFF00FF00FF00FF00u) >> 8) | ((x & 0x00FF00FF00FF00FFu) << 8);
  }
}

// The unsigned number stored little-endian at `bytes`.
template <typename T>
inline T load_little(const void* bytes) noexcept {
  T x;
  std::memcpy(&x, bytes, sizeof x);
  if constexpr (std::endian::native == std::endian::big) x = byte_swap(x);
  return x;
}

// Stores `x` little-endian at `bytes`.
template <typename T>
inline void store_little(void* bytes, T x) noexcept {
  if constexpr (std::endian::native == std::endian::big) x = byte_swap(x);
  std::memcpy(bytes, &x, sizeof x);
}

}  // namespace intset::detail

#endif  // INTSET_DETAIL_BYTE_ORDER_H_
