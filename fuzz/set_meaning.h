// Checks shared by the fuzzers: a loaded set must mean what its members say, whatever bytes it came from.
#ifndef FUZZ_SET_MEANING_H_
#define FUZZ_SET_MEANING_H_

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "intset/block_ops.h"
#include "intset/tnumbrelle.h"

namespace fuzzing {

inline void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

// Every key lies in the value range; count() is the number of members enumerated, and the iterator
// enumerates what first()/next() do. On rising keys the members rise strictly, each is contained, to_array()
// and members_from() list them, and rank_many() gives each its place. Returns the members.
inline std::vector<std::int32_t> require_meaningful(intset::tnumbrelle& set) {
  for (const intset::tblock& block : set.blocks()) {
    require(intset::detail::key_in_range(block.key), "a loaded key lies outside the value range");
  }
  std::vector<std::int32_t> members;
  std::int32_t v = 0;
  for (bool more = set.first(v); more; more = set.next(v)) members.push_back(v);
  require(set.count() == static_cast<std::int32_t>(members.size()), "count() differs from the members");
  require(std::vector<std::int32_t>(set.begin(), set.end()) == members,
          "the iterator enumerates differently");
  if (!intset::detail::keys_ascending(set.blocks())) return members;
  for (std::size_t i = 0; i < members.size(); ++i) {
    require(i == 0 || members[i - 1] < members[i], "the members of rising keys do not rise");
    require(set.contains(members[i]), "an enumerated member is not contained");
  }
  require(set.to_array() == members, "to_array() differs from the members");
  std::vector<std::int32_t> walked;
  std::int32_t buffer[7];
  for (std::int64_t from = INT32_MIN; from <= INT32_MAX;) {
    const auto got = set.members_from(static_cast<std::int32_t>(from), buffer);
    if (got.empty()) break;
    walked.insert(walked.end(), got.begin(), got.end());
    from = std::int64_t{got.back()} + 1;
  }
  require(walked == members, "members_from() enumerates differently");
  std::vector<std::int64_t> ranks(members.size());
  set.rank_many(members, ranks);
  for (std::size_t i = 0; i < members.size(); ++i) {
    require(ranks[i] == static_cast<std::int64_t>(i + 1), "rank_many() of a member is not its place");
  }
  return members;
}

}  // namespace fuzzing

#endif  // FUZZ_SET_MEANING_H_
