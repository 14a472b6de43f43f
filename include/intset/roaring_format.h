// The portable serialization format of Roaring bitmaps, in which search engines, analytics databases and
// the Roaring libraries of many languages exchange sets of 32-bit integers. It stores unsigned values: a
// member v is stored as the unsigned value with the same 32 bits (two's complement), so -1 is 4294967295
// there, and reading maps such values back to the negative members. The set's own "NBL1" form is not
// touched by any of this.
//
// Errors are intset::Exception subclasses (see exceptions.h); a damaged or foreign input raises
// ERoaringFormat, whose message says what is wrong.
#ifndef INTSET_ROARING_FORMAT_H_
#define INTSET_ROARING_FORMAT_H_

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <string>

#include "intset/exceptions.h"
#include "intset/export.h"
#include "intset/tnumbrelle.h"

namespace intset {

// The input is not a Roaring bitmap ("Not a Roaring bitmap"), or one that is damaged ("Damaged Roaring
// bitmap: " and what is wrong, for example "the container keys do not rise").
class INTSET_EXPORT ERoaringFormat : public Exception {
 public:
  using Exception::Exception;
};

// Writes the set at the stream's position, each 65536-value chunk in the smallest container (array, bitset
// or run). O(blocks), plus O(members) for array containers. Raises EWriteError (badbit set) when the stream
// takes fewer bytes than given or fails to sync; EUnorderedBlocks, before writing, for keys that do not rise.
INTSET_EXPORT void save_roaring_to_stream(const tnumbrelle& set, std::ostream& out);
// Replaces the contents with the bitmap at the stream's position, taking exactly its bytes. O(bytes +
// blocks). Raises ERoaringFormat for a foreign, damaged or truncated input (a truncated one also sets
// eofbit and failbit), EOutOfMemory; the stream's own errors pass through. After any error the set is
// empty; on success it has the capacity load_from_stream would give and keeps its cursor.
// Memory: the set takes 36 bytes a block, and a 6-byte run container can cover 65536 values, 256 blocks,
// so the set can take about 650 times the input's size (a valid 0.9 MB input makes 604 MB). While reading,
// up to about 4 times the input's size more is held. Give input that is not trusted a block limit.
INTSET_EXPORT void load_roaring_from_stream(tnumbrelle& set, std::istream& in);
// The same with a limit: an input that would make more than `max_blocks` blocks raises ETooManyBlocks,
// once the container heads show it or at the container that passes the limit, before the set's buffer is
// taken; the set is then empty. 0 admits only the empty set.
INTSET_EXPORT void load_roaring_from_stream(tnumbrelle& set, std::istream& in, std::int32_t max_blocks);
// Saves to the named file, replacing an existing one only once the new bytes are on disk; raises the
// errors of tnumbrelle::save_to_file.
INTSET_EXPORT void save_roaring_to_file(const tnumbrelle& set, const std::filesystem::path& file_name);
// Loads the named file as load_roaring_from_stream does; raises EFOpenError (set unchanged) as
// tnumbrelle::load_from_file does.
INTSET_EXPORT void load_roaring_from_file(tnumbrelle& set, const std::filesystem::path& file_name);
INTSET_EXPORT void load_roaring_from_file(tnumbrelle& set, const std::filesystem::path& file_name,
                                          std::int32_t max_blocks);

}  // namespace intset

#endif  // INTSET_ROARING_FORMAT_H_
