// tnumbrelle: a set of 32-bit signed integers, from -2147483648 to 2147483647.
//
// Every value v is split into a block key (v >> 8, arithmetic) and a bit (the low 8 bits of v). The set
// keeps one 36-byte block (key + 256-bit member map) per occupied 256-value range, in one array sorted by
// key, so memory grows with the number of occupied blocks (36 bytes each plus up to 32 blocks of growth
// slack), not with the spread of the values. Lookups are a binary search over the blocks; adding or removing
// a whole block moves the blocks after it. The algebra walks both block arrays once, linear in blocks.
//
// A set is used from one thread at a time. Even the reading operations first() and next() write the set's
// enumeration cursor, which is shared by everyone who enumerates the set. Errors are raised as
// intset::Exception subclasses; see exceptions.h.
#ifndef INTSET_TNUMBRELLE_H_
#define INTSET_TNUMBRELLE_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <iterator>
#include <span>
#include <vector>

#include "intset/exceptions.h"

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
class tbuffer {
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
  // contents when memory cannot be had. Length 0 releases the storage.
  void resize(std::int32_t length);
  // Frees the storage; the length becomes 0.
  void release() noexcept;
  void swap(tbuffer& other) noexcept;

 private:
  tblock* blocks_ = nullptr;
  std::int32_t length_ = 0;
};

class tnumbrelle {
 public:
  // An empty set with no buffer and no enumeration in progress.
  tnumbrelle();
  virtual ~tnumbrelle();
  tnumbrelle(const tnumbrelle&) = delete;  // copies only through assign
  tnumbrelle& operator=(const tnumbrelle&) = delete;
  // Takes over the other set's blocks, capacity and cursor in O(1); `other` is left empty (as clear()).
  tnumbrelle(tnumbrelle&& other) noexcept;
  tnumbrelle& operator=(tnumbrelle&& other) noexcept;

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
  // O(n log n + blocks). If memory runs out, values before the failing one may stay included.
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
  // The number of members. O(blocks). Raises ETooManyMembers above 2147483647.
  std::int32_t count() const;
  // True exactly when the set uses no block.
  bool is_empty() const;

  // --- Enumeration through the set's own cursor ----------------------------------------------------

  // Starts an enumeration: stores the smallest member in `value` and returns true, or returns false on an
  // empty set. `value` is written only when the result is true.
  bool first(std::int32_t& value);
  // Stores the next member in ascending order and returns true; returns false once the members are
  // exhausted, and always before first(). Changing the set during an enumeration is not supported.
  bool next(std::int32_t& value);
  // All members in ascending order. O(blocks). Ends any enumeration in progress. Raises EOutOfMemory
  // (set unchanged) or ETooManyMembers.
  tarrayofinteger to_array();

  // --- Standard iteration, independent of the cursor ------------------------------------------------

  // A forward iterator over the members in ascending order. It never touches the set's enumeration cursor,
  // so it can run beside first()/next(). Any change to the set invalidates it.
  class const_iterator {
   public:
    using iterator_concept = std::forward_iterator_tag;
    using iterator_category = std::input_iterator_tag;  // dereferencing yields a value, not a reference
    using value_type = std::int32_t;
    using difference_type = std::ptrdiff_t;
    using reference = std::int32_t;
    using pointer = void;

    const_iterator() = default;
    std::int32_t operator*() const;
    const_iterator& operator++();
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++*this;
      return before;
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) {
      return a.index_ == b.index_ && a.bit_ == b.bit_;
    }

   private:
    friend class tnumbrelle;
    const_iterator(const tblock* blocks, std::int32_t used, std::int32_t index);
    // Moves to the first member at or after (index_, bit_), or to the end.
    void settle();

    const tblock* blocks_ = nullptr;
    std::int32_t used_ = 0;
    std::int32_t index_ = 0;  // == used_ at the end
    int bit_ = 0;
  };

  // The smallest member, or end() for an empty set. O(1) for sets without empty blocks.
  const_iterator begin() const { return {buffer.data(), used, 0}; }
  const_iterator end() const { return {buffer.data(), used, used}; }

  // --- Algebra: A is this set, B the argument, which may be this set itself ----------------------------
  // intersect, unite and subtract end by trimming A's buffer to its blocks rounded up to 32 when 128 or
  // more slots are free. If memory for that trim cannot be had, A holds the result all the same, in the
  // larger buffer, and EOutOfMemory is raised.

  // A := A intersected with B, in place. O(blocks of A + B). The cursor is not reset.
  void intersect(const tnumbrelle& b);
  // A := A united with B, merged into a new buffer of A.used + B.used blocks. O(blocks of A + B).
  // EOutOfMemory for that buffer leaves A unchanged.
  void unite(const tnumbrelle& b);
  // A := A without the members of B, in place. O(blocks of A + B).
  void subtract(const tnumbrelle& b);
  // Whether every member of A is a member of B. O(blocks of A + B).
  bool is_subset_of(const tnumbrelle& b) const;
  // Whether every member of B is a member of A. O(blocks of A + B).
  bool is_superset_of(const tnumbrelle& b) const;
  // Whether A and B have the same members. O(blocks).
  bool equals(const tnumbrelle& b) const;

  // --- Files and streams: the "NBL1" form is written; it and the older uncompressed form are read ------

  // Writes the set at the stream's position: "NBL1", block count, per block its key, a mask of its
  // non-zero map bytes and those bytes, then their sum as checksum; all numbers little-endian. Writes
  // through out.rdbuf() in chunks and syncs it at the end. O(blocks). Raises EWriteError (and sets badbit)
  // when the stream takes fewer bytes than given or fails to sync. A set whose keys do not rise (loaded
  // from a damaged old-form file) raises EUnorderedBlocks before anything is written.
  void save_to_stream(std::ostream& out) const;
  // Replaces the contents with the set stored at the stream's position, in either form, consuming exactly
  // its bytes (never reading past them, never seeking). O(blocks); memory grows as blocks arrive and ends
  // at the capacity compact() gives for the stored count. Raises ENumbrelle ("CRC error") for keys out of
  // order, a checksum mismatch or a negative count, EReadError for a stream that ends early (setting
  // eofbit and failbit), EOutOfMemory; any error raised by the stream passes through. After any error the
  // set is empty (as clear()). A successful load keeps the enumeration cursor as it was. The set is taken
  // as stored: blocks with empty maps stay, and keys of the legacy form are not checked.
  void load_from_stream(std::istream& in);
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
  location locate(std::int32_t value) const;
  void compact();
  void include_one_by_one(std::span<const std::int32_t> values);

  // Loading (file_format.cpp): the stream reader, the two forms, and the buffer sizing while blocks arrive.
  class record_source;
  void load_current_form(record_source& source);
  void load_legacy_form(record_source& source, std::int32_t count);
  std::int64_t prepare_load(std::int32_t count);
  void make_room(std::int32_t index, std::int64_t final_capacity);
  void finish_load(std::int32_t count, std::int64_t final_capacity);

  // Readers of other formats in this library fill the block array through this.
  friend struct detail::set_storage;

  tbuffer buffer;
  std::int32_t used = 0;
  std::int32_t cur_block = -1;
  std::uint8_t cur_bit = 0;
  // Set when an old-form file brought keys that do not rise; cleared by clear(). While set, lookups run
  // the plain halving search, which is what defines their result on such a block array.
  bool keys_unordered = false;
};

}  // namespace intset

#endif  // INTSET_TNUMBRELLE_H_
