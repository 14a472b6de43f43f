// Small helpers shared by the set tests: build sets from value lists and read them back.
#ifndef TESTS_SET_HELPERS_H_
#define TESTS_SET_HELPERS_H_

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "intset/tnumbrelle.h"

// The tests that reach into the library's internals (its allocation hook, its processor-specific kernels) are
// built where the library is linked whole, as a static library; against the shared library, which exports
// its public interface only, the others are.
#ifndef NUMBRELLE_TESTS_REACH_INTERNALS
#define NUMBRELLE_TESTS_REACH_INTERNALS 1
#endif
#if NUMBRELLE_TESTS_REACH_INTERNALS
#include "intset/allocation.h"
#endif

namespace testing_helpers {

using intset::tarrayofinteger;
using intset::tnumbrelle;

constexpr std::int32_t kMin = INT32_MIN;
constexpr std::int32_t kMax = INT32_MAX;

inline std::unique_ptr<tnumbrelle> make_set(std::initializer_list<std::int32_t> values) {
  auto set = std::make_unique<tnumbrelle>();
  for (const std::int32_t v : values) set->include(v);
  return set;
}

inline std::unique_ptr<tnumbrelle> make_set(const std::vector<std::int32_t>& values) {
  auto set = std::make_unique<tnumbrelle>();
  for (const std::int32_t v : values) set->include(v);
  return set;
}

// The members through first()/next(), which must agree with to_array().
inline std::vector<std::int32_t> enumerate(tnumbrelle& set) {
  std::vector<std::int32_t> out;
  std::int32_t v = 0;
  for (bool more = set.first(v); more; more = set.next(v)) out.push_back(v);
  return out;
}

inline std::vector<std::int32_t> keys_of(const tnumbrelle& set) {
  std::vector<std::int32_t> keys;
  for (const auto& block : set.blocks()) keys.push_back(block.key);
  return keys;
}

// The set bits of the blocks in use, counted one bit at a time: what size() must say.
inline std::int64_t bits_in_blocks(const tnumbrelle& set) {
  std::int64_t total = 0;
  for (const auto& block : set.blocks()) {
    for (const std::uint8_t byte : block.bits) {
      for (int bit = 0; bit < 8; ++bit) total += (byte >> bit) & 1;
    }
  }
  return total;
}

// Whether two sets have byte-identical block arrays, the same capacity and the member counts those blocks
// hold.
inline bool same_layout(const tnumbrelle& a, const tnumbrelle& b) {
  if (a.size() != bits_in_blocks(a) || b.size() != bits_in_blocks(b)) return false;
  if (a.capacity() != b.capacity() || a.blocks().size() != b.blocks().size()) return false;
  return a.blocks().empty() ||
         std::memcmp(a.blocks().data(), b.blocks().data(), a.blocks().size_bytes()) == 0;
}

#if NUMBRELLE_TESTS_REACH_INTERNALS
// Makes every block-buffer allocation after the next `successes` fail, for the life of the object.
class FailingAllocations {
 public:
  explicit FailingAllocations(long successes) { intset::detail::allocations_before_failure = successes; }
  ~FailingAllocations() { intset::detail::allocations_before_failure = -1; }
};
#endif

inline std::vector<std::int32_t> as_vector(const std::set<std::int32_t>& s) { return {s.begin(), s.end()}; }

// The blocks as a file of the uncompressed form: the count, then each block's key and map, numbers
// little-endian on every host.
inline std::string legacy_file(std::span<const intset::tblock> blocks) {
  std::string bytes;
  const auto put32 = [&bytes](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(v >> (8 * i));
  };
  put32(static_cast<std::uint32_t>(blocks.size()));
  for (const intset::tblock& block : blocks) {
    put32(static_cast<std::uint32_t>(block.key));
    bytes.append(reinterpret_cast<const char*>(block.bits), sizeof block.bits);
  }
  return bytes;
}

}  // namespace testing_helpers

#endif  // TESTS_SET_HELPERS_H_
