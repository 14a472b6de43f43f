#include "record_walk.h"

#include <bit>
#include <cstring>

#include "intset/exceptions.h"

namespace nbl {

namespace {

constexpr std::int32_t kLowestKey = -(std::int32_t{1} << 23), kHighestKey = (std::int32_t{1} << 23) - 1;

std::uint32_t little_u32(const unsigned char* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

// Reads exactly `n` bytes, or raises EReadError.
void take(byte_source& in, void* to, std::size_t n) {
  if (in.read(static_cast<char*>(to), n) != n) throw intset::EReadError();
}

std::int32_t take_count(byte_source& in) {
  unsigned char head[4];
  take(in, head, 4);
  const auto count = static_cast<std::int32_t>(little_u32(head));
  if (count < 0 || count > kMostBlocks) throw intset::ENumbrelle();
  return count;
}

}  // namespace

std::int32_t legacy_count(std::string_view head) {
  return static_cast<std::int32_t>(little_u32(reinterpret_cast<const unsigned char*>(head.data())));
}

void walk_current_form(byte_source& in, const std::optional<std::int32_t>& max_blocks,
                       const block_visitor& visit) {
  char magic[4];
  take(in, magic, 4);
  const std::int32_t count = take_count(in);
  if (max_blocks && count > *max_blocks) throw intset::ETooManyBlocks(count, *max_blocks);
  std::uint32_t sum = 0;
  std::int32_t first_key = 0, last_key = 0;
  for (std::int32_t k = 0; k < count; ++k) {
    unsigned char head[8], stored[32];
    take(in, head, 8);
    const auto key = static_cast<std::int32_t>(little_u32(head));
    const std::uint32_t mask = little_u32(head + 4);
    if (k > 0 && last_key >= key) throw intset::ENumbrelle();
    if (k == 0) first_key = key;
    last_key = key;
    take(in, stored, static_cast<std::size_t>(std::popcount(mask)));
    std::uint8_t bits[32] = {};
    const unsigned char* next = stored;
    for (std::uint32_t m = mask; m != 0; m &= m - 1) {
      bits[std::countr_zero(m)] = *next;
      sum += *next++;
    }
    visit(key, bits);
  }
  unsigned char checksum[4];
  take(in, checksum, 4);
  if (little_u32(checksum) != sum) throw intset::ENumbrelle();
  // The keys rise, so checking the first and the last is enough; the library checks them at this point.
  if (count > 0 && (first_key < kLowestKey || last_key > kHighestKey)) throw intset::ENumbrelle();
}

void walk_legacy_form(byte_source& in, const block_visitor& visit) {
  const std::int32_t count = take_count(in);
  for (std::int32_t k = 0; k < count; ++k) {
    unsigned char record[kLegacyBlock];
    take(in, record, sizeof record);
    const auto key = static_cast<std::int32_t>(little_u32(record));
    if (key < kLowestKey || key > kHighestKey) throw intset::ENumbrelle();
    std::uint8_t bits[32];
    std::memcpy(bits, record + 4, 32);
    visit(key, bits);
  }
}

}  // namespace nbl
