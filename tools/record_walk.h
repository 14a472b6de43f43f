// The blocks of a file in the set's own form, visited as they are stored, without building the set: for
// info, count and check on inputs larger than memory would like. The checks are the library reader's.
#ifndef NBL_RECORD_WALK_H_
#define NBL_RECORD_WALK_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "byte_source.h"

namespace nbl {

// The legacy form: a 4-byte block count, then per block a 4-byte key and a 32-byte map.
inline constexpr std::uint64_t kLegacyHead = 4, kLegacyBlock = 36;
inline constexpr std::int32_t kMostBlocks = std::int32_t{1} << 24;

// The little-endian count the 4 bytes of `head` hold.
std::int32_t legacy_count(std::string_view head);

using block_visitor = std::function<void(std::int32_t key, const std::uint8_t (&bits)[32])>;

// Visits the blocks of the "NBL1" form at the start of `in`, leaving `in` just after it. Raises what the
// library's reader raises for the same bytes: ETooManyBlocks above `max_blocks`, ENumbrelle for a count no
// set has, keys that do not rise or lie out of range, or a checksum that does not match, EReadError when
// the bytes end early.
void walk_current_form(byte_source& in, const std::optional<std::int32_t>& max_blocks,
                       const block_visitor& visit);

// The same for the legacy form, whose keys need not rise; the caller checks the count against a limit.
void walk_legacy_form(byte_source& in, const block_visitor& visit);

}  // namespace nbl

#endif  // NBL_RECORD_WALK_H_
