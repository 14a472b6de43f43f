#if (defined(_MSVC_LANG) ? _MSVC_LANG : __cplusplus) <= 201703L
#error "intset needs C++20: compile with -std=c++20 or later (/std:c++20 with MSVC)"
#endif
// tnumbrelle: a set of 32-bit signed integers, from -2147483648 to 2147483647.
//
// Every value v is split into a block key (v >> 8, arithmetic) and a bit (the low 8 bits of v). The set
// keeps one 36-byte block (key + 256-bit member map) per occupied 256-value range, in one array sorted by
// key, so memory grows with the number of occupied blocks (36 bytes each plus up to 32 blocks of growth
// slack), not with the spread of the values. Lookups are a binary search over the blocks; adding or removing
// a whole block moves the blocks after it. The algebra walks both block arrays once, linear in blocks.
//
// Threads: any number of threads may run the const operations on one set at the same time (contains, count,
// the comparisons and counts against another set, the range queries, rank and select, begin()/end() and
// lower_bound() iteration, saving), as long as no thread changes the set meanwhile. first(), next() and
// to_array() move the set's own enumeration cursor, which everyone who enumerates the set shares, so they are
// not const: like every changing operation they need the set to themselves.
//
// Ranges [lo, hi] are closed, so [-2147483648, 2147483647] is the whole range; lo > hi is an empty range.
// Errors are raised as intset::Exception subclasses; see exceptions.h.
#ifndef INTSET_TNUMBRELLE_H_
#define INTSET_TNUMBRELLE_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <iosfwd>
#include <iterator>
#include <optional>
#include <span>
#include <vector>

#include "intset/detail/byte_order.h"
#include "intset/exceptions.h"
#include "intset/export.h"

namespace intset {

namespace detail {
struct set_storage;
}

// One occupied 256-value range: value key * 256 + 8 * i + j is a member exactly when bit j of bits[i] is set.
struct tblock {
  std::int32_t key;
  std::uint8_t bits[32];
};
static_assert(sizeof(tblock) == 36, "tblock is stored verbatim in files and must have no padding");

// A growable array of 32-bit signed integers, as to_array() produces and include_array() consumes.
using tarrayofinteger = std::vector<std::int32_t>;

// The block array of a set: `length()` slots that all exist; the set uses only its first `used` ones.
// Kept in realloc-able storage so that growing a large set stays cheap.
class INTSET_EXPORT tbuffer {
 public:
  tbuffer() noexcept = default;
  ~tbuffer();
  tbuffer(tbuffer&& other) noexcept;
  tbuffer& operator=(tbuffer&& other) noexcept;
  tbuffer(const tbuffer&) = delete;
  tbuffer& operator=(const tbuffer&) = delete;

  std::int32_t length() const noexcept { return length_; }
  tblock* data() noexcept { return blocks_; }
  const tblock* data() const noexcept { return blocks_; }
  tblock& operator[](std::int32_t i) noexcept { return blocks_[i]; }
  const tblock& operator[](std::int32_t i) const noexcept { return blocks_[i]; }

  // Sets the length, keeping the first min(old, new) slots. Raises EOutOfMemory and keeps the old
  // contents when memory cannot be had or the length is above 2^25 (room for two sets' blocks: keys lie in
  // [-8388608, 8388607], so a set uses at most 2^24). Length 0 releases the storage.
  void resize(std::int32_t length);
  // Frees the storage; the length becomes 0.
  void release() noexcept;
  void swap(tbuffer& other) noexcept;

 private:
  tblock* blocks_ = nullptr;
  std::int32_t length_ = 0;
};

class INTSET_EXPORT tnumbrelle {
 public:
  // An empty set with no buffer and no enumeration in progress.
  tnumbrelle();
  virtual ~tnumbrelle();
  // A copy with the members, blocks and capacity that assign() gives, and no enumeration in progress.
  // O(blocks). Raises EOutOfMemory. Assignment leaves the target unchanged when it fails; `a = a` changes
  // nothing, its cursor included.
  tnumbrelle(const tnumbrelle& other);
  tnumbrelle& operator=(const tnumbrelle& other);
  // Takes over the other set's blocks, capacity and cursor in O(1); `other` is left empty (as clear()).
  tnumbrelle(tnumbrelle&& other) noexcept;
  tnumbrelle& operator=(tnumbrelle&& other) noexcept;
  // A set of these values, built as include_array() builds it.
  tnumbrelle(std::initializer_list<std::int32_t> values);
  explicit tnumbrelle(std::span<const std::int32_t> values);
  // Exchanges the two sets' blocks, capacities and cursors in O(1).
  void swap(tnumbrelle& other) noexcept;
  friend void swap(tnumbrelle& a, tnumbrelle& b) noexcept { a.swap(b); }

  // --- Storage and single values -------------------------------------------------------------------

  // Empties the set, releases the buffer (capacity 0) and ends any enumeration.
  void clear();
  // Makes this set an exact copy of `source`: its members, block count and capacity (not its cursor).
  // O(blocks). On EOutOfMemory this set is left empty and the error raised again. `source` may be *this.
  void assign(const tnumbrelle& source);
  // Adds `value`; no effect if it is already a member. O(log blocks), plus moving the later blocks when
  // a new block is needed; a full buffer grows by exactly 32 blocks. EOutOfMemory leaves the set unchanged.
  void include(std::int32_t value);
  // Adds every value of `values`, leaving exactly the blocks and capacity that include() one by one would.
  // O(n log n + blocks); O(n + blocks) for values packed into few blocks (4 or more a block), which are
  // marked in place without sorting. If memory runs out, values before the failing one may stay included.
  void include_array(std::span<const std::int32_t> values);
  // Removes `value`; no effect if it is not a member. Removing a block's last member removes the block,
  // and the buffer then shrinks to exactly the block count once 128 or more slots are free. If memory for
  // that trim cannot be had, `value` is removed all the same, the buffer keeps its length, and
  // EOutOfMemory is raised.
  void exclude(std::int32_t value);
  // Removes `value` if it is a member, otherwise adds it.
  void invert(std::int32_t value);
  // Whether `value` is a member. O(log blocks).
  bool contains(std::int32_t value) const;
  // The number of members, kept through every change. O(1). Raises ETooManyMembers above 2147483647.
  std::int32_t count() const;
  // The number of members, up to 2^32 for the whole range. O(1).
  std::int64_t size() const noexcept { return members; }
  // True exactly when the set uses no block.
  bool is_empty() const;

  // --- Ranges [lo, hi] ------------------------------------------------------------------------------

  // Adds every value of the range, leaving exactly the blocks and capacity that include() of each value in
  // ascending order would. O(blocks + hi/256 - lo/256). EOutOfMemory leaves the set unchanged.
  void include_range(std::int32_t lo, std::int32_t hi);
  // Removes every value of the range, leaving exactly the blocks and capacity that exclude() of each value
  // in ascending order would. O(blocks + hi/256 - lo/256). If memory for the trim cannot be had, the values
  // are removed all the same, the buffer keeps its length, and EOutOfMemory is raised.
  void exclude_range(std::int32_t lo, std::int32_t hi);
  // Whether every value of the range is a member (true for an empty range). O(log blocks + hi/256 - lo/256).
  bool contains_range(std::int32_t lo, std::int32_t hi) const;
  // The number of members in the range. O(log blocks + hi/256 - lo/256).
  std::int64_t count_range(std::int32_t lo, std::int32_t hi) const;

  // --- Order statistics ------------------------------------------------------------------------------
  // On a set whose keys do not rise (loaded from a damaged old-form file) these, lower_bound(), the range
  // queries and enumeration follow the blocks' stored order, as to_array() does.

  // The smallest and the largest member; empty for an empty set. O(1).
  std::optional<std::int32_t> lowest() const { return member_or_none(end_member(false)); }
  std::optional<std::int32_t> highest() const { return member_or_none(end_member(true)); }
  // The number of members less than or equal to `value`. O(blocks below value).
  std::int64_t rank(std::int32_t value) const;
  // The member with exactly `k` members below it; empty when k < 0 or k >= the member count. O(blocks).
  std::optional<std::int32_t> select(std::int64_t k) const { return member_or_none(member_with_rank(k)); }

  // --- Many lookups at once -------------------------------------------------------------------------
  // Each answers a whole array in one call: input in ascending order in one walk beside the blocks, O(n +
  // blocks); other input through an index built in O(blocks) and a search per value. Raises
  // std::invalid_argument, writing nothing, when `out` is not as long as the input.

  // out[i] := contains(values[i]).
  void contains_many(std::span<const std::int32_t> values, std::span<bool> out) const;
  // out[i] := rank(values[i]).
  void rank_many(std::span<const std::int32_t> values, std::span<std::int64_t> out) const;
  // out[i] := *select(ranks[i]). Raises std::out_of_range naming the first position whose rank lies outside
  // [0, size()), before anything is written.
  void select_many(std::span<const std::int64_t> ranks, std::span<std::int32_t> out) const;

  // Fills `buffer` with the smallest members not less than `from`, ascending, and returns the part filled:
  // empty when there is none (or the buffer is empty). O(log blocks + members written / 64 + blocks
  // passed). To go on, call again from the last member + 1, unless that member was 2147483647. Leaves the
  // enumeration cursor alone, so it may run beside other readers.
  std::span<std::int32_t> members_from(std::int32_t from, std::span<std::int32_t> buffer) const;

  // --- Enumeration through the set's own cursor ----------------------------------------------------

  // Starts an enumeration: stores the smallest member in `value` and returns true, or returns false on an
  // empty set. `value` is written only when the result is true.
  bool first(std::int32_t& value) {
    cur_block = 0;
    cur_bit = 0;
    return next(value);
  }
  // Stores the next member in ascending order and returns true; returns false once the members are
  // exhausted, and always before first(). Changing the set during an enumeration is not supported.
  // The common step (the next member lies in the rest of the cursor's 64-bit word) is inline.
  bool next(std::int32_t& value) {
    if (static_cast<std::uint32_t>(cur_block) < static_cast<std::uint32_t>(used)) [[likely]] {
      const tblock& block = buffer.data()[cur_block];
      const std::uint32_t at = cur_bit;
      const std::uint64_t rest = bits_from(block, at);
      const auto zeros = static_cast<std::uint32_t>(std::countr_zero(rest));
      if (rest != 0 && at + zeros < 255) [[likely]] {
        // The member is at + zeros < 255, in the same block. The cursor's chain from call to call is one
        // shift, one count and one add: at + 1 and the member's block base are ready before the count is.
        value = static_cast<std::int32_t>((static_cast<std::uint32_t>(block.key) << 8 | at) + zeros);
        cur_bit = (at + 1) + zeros;
        return true;
      }
    }
    const std::int64_t found = next_in_later_words();
    if (found == kNoMember) return false;
    value = static_cast<std::int32_t>(found);
    return true;
  }
  // All members in ascending order. O(blocks). Ends any enumeration in progress. Raises EOutOfMemory
  // (set unchanged) or ETooManyMembers.
  tarrayofinteger to_array();

  // --- Standard iteration, independent of the cursor ------------------------------------------------

  // A forward iterator over the members in ascending order. It never touches the set's enumeration cursor,
  // so it can run beside first()/next(). Any change to the set invalidates it.
  class INTSET_EXPORT const_iterator {
   public:
    using iterator_concept = std::forward_iterator_tag;
    using iterator_category = std::input_iterator_tag;  // dereferencing yields a value, not a reference
    using value_type = std::int32_t;
    using difference_type = std::ptrdiff_t;
    using reference = std::int32_t;
    using pointer = void;

    const_iterator() = default;
    std::int32_t operator*() const {
      return static_cast<std::int32_t>(base_ + static_cast<std::uint32_t>(std::countr_zero(rest_)));
    }
    // The common step (the next member lies in the same 64-bit word) is inline: it clears the member just
    // visited, as to_array() does.
    const_iterator& operator++() {
      rest_ &= rest_ - 1;
      if (rest_ == 0) [[unlikely]] {
        ++word_;
        settle();
      }
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++*this;
      return before;
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) {
      return a.index_ == b.index_ && a.word_ == b.word_ && a.rest_ == b.rest_;
    }

   private:
    friend class tnumbrelle;
    // At the first member at or after bit `bit` of block `index`, or at the end.
    const_iterator(const tblock* blocks, std::int32_t used, std::int32_t index, unsigned bit = 0);
    // Moves to the first member of word word_ (0..4) of block index_ or later, or to the end.
    void settle();

    const tblock* blocks_ = nullptr;
    std::int32_t used_ = 0;
    std::int32_t index_ = 0;  // == used_ at the end
    unsigned word_ = 0;       // the word of the member in block index_; 0 at the end
    // The members of that word from the current one on (the current one is the lowest); 0 at the end.
    std::uint64_t rest_ = 0;
    std::uint32_t base_ = 0;  // the value of the word's bit 0, as unsigned
  };

  // The smallest member, or end() for an empty set. O(1) for sets without empty blocks.
  const_iterator begin() const { return {buffer.data(), used, 0}; }
  const_iterator end() const { return {buffer.data(), used, used}; }
  // The first member not less than `value`, or end(). O(log blocks).
  const_iterator lower_bound(std::int32_t value) const;

  // --- Algebra: A is this set, B the argument, which may be this set itself ----------------------------
  // Each ends with A's buffer trimmed to its blocks rounded up to 32 when 128 or more slots are free.
  // intersect and subtract work in place: if memory for that trim cannot be had, A holds the result all
  // the same, in the larger buffer, and EOutOfMemory is raised. unite and invert build the result apart
  // and trim it before it replaces A: any EOutOfMemory leaves A unchanged.

  // A := A intersected with B, in place. O(blocks of A + B). The cursor is not reset.
  void intersect(const tnumbrelle& b);
  // A := A united with B, merged into a new buffer of A.used + B.used blocks. O(blocks of A + B).
  // EOutOfMemory leaves A unchanged.
  void unite(const tnumbrelle& b);
  // A := A without the members of B, in place. O(blocks of A + B).
  void subtract(const tnumbrelle& b);
  // Whether every member of A is a member of B. O(blocks of A + B); O(1) when A has more members than B.
  bool is_subset_of(const tnumbrelle& b) const;
  // Whether every member of B is a member of A. O(blocks of A + B); O(1) when B has more members than A.
  bool is_superset_of(const tnumbrelle& b) const;
  // Whether A and B have the same members: one comparison of the two block arrays' bytes. O(blocks); O(1)
  // when their member counts differ.
  bool equals(const tnumbrelle& b) const;
  friend bool operator==(const tnumbrelle& a, const tnumbrelle& b) { return a.equals(b); }
  // A := the members in exactly one of A and B: merged into a new buffer of A.used + B.used blocks and
  // trimmed as unite() does, dropping the blocks whose combined map is empty. O(blocks of A + B).
  // EOutOfMemory leaves A unchanged.
  void invert(const tnumbrelle& b);

  // The same four operations as operators. Each returns *this.
  tnumbrelle& operator&=(const tnumbrelle& b);  // intersect
  tnumbrelle& operator|=(const tnumbrelle& b);  // unite
  tnumbrelle& operator-=(const tnumbrelle& b);  // subtract
  tnumbrelle& operator^=(const tnumbrelle& b);  // invert
  // A new set: a copy of `a` combined with `b` by the named operation (the same blocks and capacity).
  friend INTSET_EXPORT tnumbrelle operator&(const tnumbrelle& a, const tnumbrelle& b);
  friend INTSET_EXPORT tnumbrelle operator|(const tnumbrelle& a, const tnumbrelle& b);
  friend INTSET_EXPORT tnumbrelle operator-(const tnumbrelle& a, const tnumbrelle& b);
  friend INTSET_EXPORT tnumbrelle operator^(const tnumbrelle& a, const tnumbrelle& b);

  // --- Counting a combination without building it: the count the named operation would leave ---------

  std::int64_t intersect_count(const tnumbrelle& b) const;  // O(blocks of A + B), each
  std::int64_t unite_count(const tnumbrelle& b) const;
  std::int64_t subtract_count(const tnumbrelle& b) const;
  std::int64_t invert_count(const tnumbrelle& b) const;
  // Whether A and B share a member; stops at the first shared one. O(blocks of A + B).
  bool intersects(const tnumbrelle& b) const;

  // --- Files and streams: the "NBL1" form is written; it and the older uncompressed form are read ------

  // Writes the set at the stream's position: "NBL1", block count, per block its key, a mask of its
  // non-zero map bytes and those bytes, then their sum as checksum; all numbers little-endian. Writes
  // through out.rdbuf() in chunks and syncs it at the end. O(blocks). Raises EWriteError (and sets badbit)
  // when the stream takes fewer bytes than given or fails to sync. A set whose keys do not rise (loaded
  // from a damaged old-form file) raises EUnorderedBlocks before anything is written.
  void save_to_stream(std::ostream& out) const;
  // Replaces the contents with the set stored at the stream's position, in either form, consuming exactly
  // its bytes (never reading past them, never seeking). O(blocks). Memory grows as blocks arrive, 36 bytes
  // a block from records of 8 bytes or more (so up to 4.5 times the bytes read, twice that while the
  // buffer doubles), and ends at the capacity compact() gives for the stored count. Raises ENumbrelle
  // ("CRC error") for keys out of order (in the "NBL1" form) or outside [-8388608, 8388607] (in either),
  // a checksum mismatch, or a count below 0 or above 2^24; EReadError for a stream that ends early
  // (setting eofbit and failbit); EOutOfMemory; any error raised by the stream passes through. After any
  // error the set is empty (as clear()). A successful load keeps the enumeration cursor as it was. The set
  // is taken as stored: blocks with empty maps stay, and the legacy form's key order is not checked.
  void load_from_stream(std::istream& in);
  // The same, for input that is not trusted: a stored count above `max_blocks` raises ETooManyBlocks
  // before any block memory is taken (the set empty). 0 admits only the empty set.
  void load_from_stream(std::istream& in, std::int32_t max_blocks);
  // Saves to the named file. A regular file (or one a symbolic link leads to) is replaced whole: written
  // to a new file in the same folder, flushed to disk and renamed over it, keeping its permission bits (on
  // Windows its attributes), so a failed save leaves the old file as it was. Anything else that exists under
  // the name (a device, a pipe) is written in place. Raises EFCreateError (absolute name, system's text) when
  // the file or its temporary cannot be created or an existing file may not be written, EWriteError when
  // writing fails.
  void save_to_file(const std::filesystem::path& file_name) const;
  // Loads the named file as load_from_stream does. Raises EFOpenError (absolute name, system's text),
  // leaving the set unchanged, when the file cannot be opened for reading or is a folder.
  void load_from_file(const std::filesystem::path& file_name);
  void load_from_file(const std::filesystem::path& file_name, std::int32_t max_blocks);

  // --- Inspection ----------------------------------------------------------------------------------

  // The buffer's length in blocks (used blocks plus slack).
  std::int32_t capacity() const { return buffer.length(); }
  // The blocks in use, sorted by key.
  std::span<const tblock> blocks() const { return {buffer.data(), static_cast<std::size_t>(used)}; }

 private:
  struct location {
    bool found;
    std::int32_t position;
    std::int32_t key;
    std::uint8_t bit;
  };
  // The private members are not exported from the shared library (INTSET_NO_EXPORT), except the three that
  // public inline functions call: next_in_later_words() (next()), end_member() (lowest(), highest()) and
  // member_with_rank() (select()), and the iterator's constructor and settle() (begin(), end(), ++).
  INTSET_NO_EXPORT location locate(std::int32_t value) const;
  INTSET_NO_EXPORT void compact();
  INTSET_NO_EXPORT void include_one_by_one(std::span<const std::int32_t> values);
  // The parts of include_array() (bulk_insert.cpp); false where they leave the work to the rest of it.
  INTSET_NO_EXPORT bool include_marked(std::span<const std::int32_t> values);
  INTSET_NO_EXPORT bool merge_blocks(const tblock* add, std::int32_t n);
  // The rest of next(), out of line: the member found, or kNoMember. Returning the member rather than
  // writing it through a reference keeps the caller's variable out of memory.
  static constexpr std::int64_t kNoMember = INT64_MIN;
  std::int64_t next_in_later_words();
  // The smallest or the largest member, or kNoMember (ranges.cpp). Returned as a plain number, which the
  // caller turns into an optional in registers, where an optional built out of line makes its caller
  // reload it through memory.
  std::int64_t end_member(bool largest) const;
  std::int64_t member_with_rank(std::int64_t k) const;  // select()'s member, or kNoMember (ranges.cpp)
  static std::optional<std::int32_t> member_or_none(std::int64_t member) {
    if (member == kNoMember) return std::nullopt;
    return static_cast<std::int32_t>(member);
  }

  // Word w (0..3) of a block's member map: bit b of it is value bit 64w + b, on every host.
  static std::uint64_t map_word(const tblock& block, unsigned w) noexcept {
    return detail::load_little<std::uint64_t>(block.bits + 8 * w);
  }
  // The map bits from bit `from` (0..255) to the end of its 64-bit word, shifted down to bit 0. The word is
  // picked by branches, which the processor predicts (the word changes every 64 bits at most), so neither a
  // load nor a select waits on `from`.
  static std::uint64_t bits_from(const tblock& block, unsigned from) noexcept {
    std::uint64_t word;
    if (from < 128) {
      word = from < 64 ? map_word(block, 0) : map_word(block, 1);
    } else {
      word = from < 192 ? map_word(block, 2) : map_word(block, 3);
    }
    return word >> (from & 63u);
  }
  // key * 256 + bit without overflow, also for the lowest and highest keys.
  static std::int32_t value_of(std::int32_t key, unsigned bit) noexcept {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(key) << 8 | bit);
  }

  // The position after the blocks from `from` on whose keys are at most `last_key` (ranges.cpp).
  INTSET_NO_EXPORT std::int32_t end_of_keys(std::int32_t from, std::int32_t last_key) const;
  // Range operations on a block array whose keys do not rise (ranges.cpp): value by value in effect.
  INTSET_NO_EXPORT void include_range_unordered(std::int32_t lo, std::int32_t hi);
  INTSET_NO_EXPORT void exclude_range_unordered(std::int32_t lo, std::int32_t hi);
  // Makes this set the merge of `a` and `b` (either may be this set), built as unite() builds it: their
  // union, or their symmetric difference without the blocks that come out empty (set_operators.cpp).
  INTSET_NO_EXPORT void merge_from(const tnumbrelle& a, const tnumbrelle& b, bool symmetric_difference);

  // Loading (file_format.cpp): the stream reader, the two forms, and the buffer sizing while blocks arrive.
  class record_source;
  INTSET_NO_EXPORT void load_checked(std::istream& in, std::int64_t max_blocks);
  INTSET_NO_EXPORT void load_current_form(record_source& source, std::int64_t max_blocks);
  INTSET_NO_EXPORT void load_legacy_form(record_source& source, std::int32_t count, std::int64_t max_blocks);
  INTSET_NO_EXPORT std::int64_t prepare_load(std::int32_t count, std::int64_t max_blocks);
  INTSET_NO_EXPORT void make_room(std::int32_t index, std::int64_t final_capacity);
  INTSET_NO_EXPORT void finish_load(std::int32_t count, std::int64_t final_capacity,
                                    std::int64_t member_count);

  // Readers of other formats in this library fill the block array through this.
  friend struct detail::set_storage;

  tbuffer buffer;
  std::int32_t used = 0;
  std::int32_t cur_block = -1;
  // 0..255. Held in 32 bits: next() stores and reloads it on every call, and processors forward a stored
  // 32-bit word to the next load at once, but a stored byte only after several cycles.
  std::uint32_t cur_bit = 0;
  // Set when an old-form file brought keys that do not rise; cleared by clear(). While set, lookups run
  // the plain halving search, which is what defines their result on such a block array.
  bool keys_unordered = false;
  // The members of the blocks in use (the sum of their maps' set bits), kept by every operation that
  // changes a map, from what it touches anyway.
  std::int64_t members = 0;
};

}  // namespace intset

#endif  // INTSET_TNUMBRELLE_H_
