// Reading the portable Roaring format (roaring_layout.h) into a set.
//
// Reading goes in two passes. Pass one reads the bitmap through a chunk_reader, checks each container as
// its bytes arrive and counts the blocks it makes. A container whose blocks take about as many bytes as
// its encoding (a bitset, an array of 8 or more values per block) is made blocks at once; the others (runs,
// sparse arrays), whose blocks can take far more, are kept compact. Pass two sizes the set's buffer once,
// to the blocks counted, and fills it. The reader asks only for bytes the bitmap is already known to hold,
// so the stream is left just after it. What pass one keeps grows with the bytes read, never with a stated
// count; the set's buffer grows with the blocks, which a run container makes up to 256 of from 6 bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <new>
#include <string>
#include <vector>

#include "intset/capacity.h"
#include "intset/chunk_reader.h"
#include "intset/dispatch.h"
#include "intset/files.h"
#include "intset/messages.h"
#include "intset/record_codec.h"
#include "intset/roaring_format.h"
#include "intset/roaring_layout.h"

namespace intset {

namespace detail {

// Lets a reader fill a set's block array in place.
struct set_storage {
  static tbuffer& buffer(tnumbrelle& set) noexcept { return set.buffer; }
  // The first `used` blocks of the buffer, with rising keys and `members` members, become the set's
  // blocks. The enumeration cursor stays as it was, as with a load of the set's own form.
  static void set_used(tnumbrelle& set, std::int32_t used, std::int64_t members) noexcept {
    set.used = used;
    set.members = members;
    set.keys_unordered = false;
  }
};

}  // namespace detail

namespace detail::roaring {

namespace {

[[noreturn]] void not_roaring() { throw ERoaringFormat(messages::not_roaring); }

[[noreturn]] void damaged(const std::string& what) {
  throw ERoaringFormat(messages::format_message(messages::damaged_roaring, {what}));
}

[[noreturn]] void damaged(const char* pattern, std::uint32_t key) {
  damaged(messages::format_message(pattern, {std::to_string(key)}));
}

[[noreturn]] void wrong_cardinality(std::uint32_t key, std::int64_t held, std::int32_t stated) {
  damaged(messages::format_message(messages::roaring_wrong_cardinality,
                                   {std::to_string(key), std::to_string(held), std::to_string(stated)}));
}

[[noreturn]] void ends_early() { damaged(messages::roaring_ends_early); }

// Blocks decoded in pass one, in a buffer that grows as containers arrive: doubling, but never past a
// bound on all it will hold, so that where the bound is met the buffer ends up just full.
class block_stage {
 public:
  void set_bound(std::int64_t blocks) { bound_ = blocks; }
  // Room for `blocks` more blocks after those added; valid until the next call.
  tblock* reserve(std::int32_t blocks) {
    const std::int64_t need = std::int64_t{used_} + blocks;
    if (need > blocks_.length()) {
      const std::int64_t doubled = std::min(2 * std::int64_t{blocks_.length()}, bound_);
      blocks_.resize(detail::buffer_length(std::max(need, doubled)));
    }
    return blocks_.data() + used_;
  }
  void added(std::int32_t blocks) { used_ += blocks; }
  std::int32_t used() const { return used_; }
  tbuffer& buffer() { return blocks_; }

 private:
  tbuffer blocks_;
  std::int32_t used_ = 0;
  std::int64_t bound_ = 0;
};

// Bytes pass one keeps for pass two. The storage grows by realloc(), which can grow a large block in place
// of a copy.
class kept_bytes {
 public:
  kept_bytes() = default;
  ~kept_bytes() { std::free(bytes_); }
  kept_bytes(const kept_bytes&) = delete;
  kept_bytes& operator=(const kept_bytes&) = delete;

  void append(const unsigned char* bytes, std::size_t n) {
    std::memcpy(room(n), bytes, n);
    size_ += n;
  }
  // Room for `n` more bytes, which added() then keeps.
  unsigned char* room(std::size_t n) {
    if (capacity_ - size_ < n) grow(size_ + n);
    return bytes_ + size_;
  }
  void added(std::size_t n) { size_ += n; }
  std::size_t size() const { return size_; }
  const unsigned char* data() const { return bytes_; }

 private:
  void grow(std::size_t need) {
    const std::size_t capacity = std::max({need, 2 * capacity_, std::size_t{4096}});
    void* bytes = std::realloc(bytes_, capacity);
    if (bytes == nullptr) throw std::bad_alloc();
    bytes_ = static_cast<unsigned char*>(bytes);
    capacity_ = capacity;
  }

  unsigned char* bytes_ = nullptr;
  std::size_t size_ = 0, capacity_ = 0;
};

// One container of the bitmap: its head, and where what pass one kept of it is.
struct container_info {
  std::size_t at;        // where its staged blocks start, or its values or runs in `kept`
  std::uint32_t offset;  // as stated, when the bitmap states offsets
  std::int32_t cardinality;
  std::uint16_t key;
  std::uint16_t runs;
  std::uint16_t blocks;
  bool run;
  bool staged;  // its blocks are among the staged ones
};

// A bitset's non-empty 32-byte slices, made blocks from `out` (room for 256), and its members.

}  // namespace

bitset_measure stage_bitset_portable(const unsigned char* bytes, std::uint32_t key, tblock* out) noexcept {
  return stage_bitset(bytes, key, out, [](std::uint64_t w) { return word_popcount(w); });
}

namespace {

// A value with the container's key in its high 16 bits, as pass one keeps the values of sparse arrays (in
// host order: only this code reads them).
inline void put_value(unsigned char* p, std::uint32_t value) noexcept { std::memcpy(p, &value, 4); }
inline std::uint32_t get_value(const unsigned char* p) noexcept {
  std::uint32_t value;
  std::memcpy(&value, p, 4);
  return value;
}

// Checks that an array's values rise and returns the blocks they fall in; with `Keep`, writes them to
// `values_out` as put_value() does. Written without branches on the values, so that the compiler can take
// several at once.
template <bool Keep>
std::int32_t measure_array(const unsigned char* values, std::uint32_t key, std::int32_t cardinality,
                           unsigned char* values_out) {
  const std::uint32_t high = key << 16;
  if constexpr (Keep) put_value(values_out, high | get_u16(values));
  std::uint32_t falls = 0, new_blocks = 1;
  for (std::int32_t i = 1; i < cardinality; ++i) {
    const std::uint32_t before = get_u16(values + 2 * (i - 1)), value = get_u16(values + 2 * i);
    falls |= value <= before;
    new_blocks += (value ^ before) > 0xFFu;
    if constexpr (Keep) put_value(values_out + 4 * i, high | value);
  }
  if (falls != 0) damaged(messages::roaring_array_not_rising, key);
  return static_cast<std::int32_t>(new_blocks);
}

// Checks a run container's runs against each other as they arrive, and counts their members and the
// blocks they fall in.
class run_check {
 public:
  explicit run_check(std::uint32_t key) : key_(key) {}

  void add(const unsigned char* pairs, std::uint32_t runs) {
    for (std::uint32_t r = 0; r < runs; ++r) {
      const std::uint32_t start = get_u16(pairs + 4 * r);
      const std::uint32_t end = start + get_u16(pairs + 4 * r + 2);
      if (end > 0xFFFFu) damaged(messages::roaring_run_overflow, key_);
      if (start < next_free_) damaged(messages::roaring_runs_disordered, key_);
      next_free_ = std::int64_t{end} + 1;
      members_ += end - start + 1;
      blocks_ += static_cast<std::int32_t>((end >> 8) - (start >> 8) + 1) - (start >> 8 == last_index_);
      last_index_ = end >> 8;
    }
  }
  std::int64_t members() const { return members_; }
  std::int32_t blocks() const { return blocks_; }

 private:
  std::uint32_t key_;
  std::int64_t next_free_ = 0;  // the smallest value a run may start at
  std::int64_t members_ = 0;
  std::int32_t blocks_ = 0;
  std::uint32_t last_index_ = 0x100;  // of the block where the previous run ended; none yet
};

// Fills `out`, room for exactly the blocks the (rising) values of an array fall in, with them.
void decode_array(const unsigned char* values, std::uint32_t key, std::int32_t cardinality, tblock* out) {
  tblock* next = out;
  tblock* block = nullptr;
  std::uint32_t index = 0x100;  // of `block`; none yet
  for (std::int32_t i = 0; i < cardinality; ++i) {
    const std::uint32_t value = get_u16(values + 2 * i);
    if (value >> 8 != index) {
      index = value >> 8;
      block = next++;
      block->key = block_key(key, index);
      std::memset(block->bits, 0, sizeof block->bits);
    }
    block->bits[(value & 0xFFu) >> 3] |= static_cast<std::uint8_t>(1u << (value & 7u));
  }
}

// Raises ETooManyBlocks when the bitmap needs at least `needed` blocks and the limit is lower.
void check_limit(std::int64_t needed, std::int64_t max_blocks) {
  if (needed > max_blocks) throw ETooManyBlocks(needed, max_blocks);
}

// Pass one: reads the bitmap and checks each container as its bytes arrive. Bitsets and dense arrays are
// made blocks at once, in `stage`; sparse arrays keep their values (as put_value() writes them) and run
// containers their runs (as stored) in `kept`. The blocks the bitmap needs are held against `max_blocks`
// once the heads are in (each container makes at least a block per 256 values) and as each container
// arrives, so that a refused bitmap is refused before its blocks take memory.
std::vector<container_info> read_containers(detail::chunk_reader& source, block_stage& stage,
                                            kept_bytes& kept, std::int64_t max_blocks) {
  source.expect(4);
  const std::uint32_t cookie = get_u32(source.take(4));
  std::uint32_t count = 0;
  bool has_runs = false;
  std::vector<unsigned char> run_flags;
  if ((cookie & 0xFFFFu) == kCookieRuns) {
    has_runs = true;
    count = (cookie >> 16) + 1;
    const std::size_t flag_bytes = (count + 7) / 8;
    source.expect(static_cast<std::int64_t>(flag_bytes));
    const unsigned char* flags = source.take(flag_bytes);
    run_flags.assign(flags, flags + flag_bytes);
  } else if (cookie == kCookieNoRuns) {
    source.expect(4);
    count = get_u32(source.take(4));
    if (count > kMaxContainers) {
      damaged(messages::format_message(messages::roaring_too_many_containers, {std::to_string(count)}));
    }
  } else {
    not_roaring();
  }

  // The heads and offsets, read a piece at a time, so that memory follows the bytes that arrive.
  std::vector<container_info> containers;
  source.expect(4 * std::int64_t{count});
  for (std::uint32_t done = 0; done < count;) {
    const std::uint32_t n = std::min(count - done, kHeadsPerPiece);
    const unsigned char* piece = source.take(4 * std::size_t{n});
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t c = done + i;
      const std::uint32_t key = get_u16(piece + 4 * i);
      if (!containers.empty() && key <= containers.back().key) damaged(messages::roaring_keys_not_rising);
      container_info& head = containers.emplace_back();  // filled in place: no copy of it is read whole
      head.key = static_cast<std::uint16_t>(key);
      head.cardinality = static_cast<std::int32_t>(get_u16(piece + 4 * i + 2)) + 1;
      head.run = has_runs && (run_flags[c / 8] >> (c % 8) & 1) != 0;
    }
    done += n;
  }
  const bool has_offsets = !has_runs || count >= kOffsetsFromCount;
  if (has_offsets) {
    source.expect(4 * std::int64_t{count});
    for (std::uint32_t done = 0; done < count;) {
      const std::uint32_t n = std::min(count - done, kHeadsPerPiece);
      const unsigned char* piece = source.take(4 * std::size_t{n});
      for (std::uint32_t i = 0; i < n; ++i) containers[done + i].offset = get_u32(piece + 4 * i);
      done += n;
    }
  }

  // The containers' sizes as far as the heads tell them: a run container's runs are declared as it comes.
  // And the most blocks the containers that are decoded at once can make: 256 for a bitset, and an array's
  // values divided by kDenseArray.
  std::int64_t known = 0, stage_bound = 0, fewest_blocks = 0;
  for (const container_info& c : containers) {
    known += c.run                        ? 2
             : c.cardinality <= kArrayMax ? 2 * std::int64_t{c.cardinality}
                                          : std::int64_t{kBitsetBytes};
    stage_bound += c.run                        ? 0
                   : c.cardinality <= kArrayMax ? std::min(kBlocksPerContainer, c.cardinality / kDenseArray)
                                                : kBlocksPerContainer;
    fewest_blocks += (c.cardinality + 255) / 256;
  }
  check_limit(fewest_blocks, max_blocks);
  source.expect(known);
  stage.set_bound(stage_bound);
  std::int64_t total = 0;  // blocks made by the containers read so far

  const bitset_stager stage_bitset_here = kernels().stage_bitset;
  for (container_info& c : containers) {
    if (has_offsets && c.offset != source.taken()) damaged(messages::roaring_offset_mismatch, c.key);
    if (c.run) {
      c.runs = static_cast<std::uint16_t>(get_u16(source.take(2)));
      source.expect(4 * std::int64_t{c.runs});
      c.at = kept.size();
      run_check check(c.key);
      for (std::uint32_t done = 0; done < c.runs;) {  // checked a piece at a time, as they arrive
        const std::uint32_t n = std::min(c.runs - done, kRunsPerPiece);
        const unsigned char* pairs = source.take(4 * std::size_t{n});
        check.add(pairs, n);
        kept.append(pairs, 4 * std::size_t{n});
        done += n;
      }
      if (check.members() != c.cardinality) wrong_cardinality(c.key, check.members(), c.cardinality);
      c.blocks = static_cast<std::uint16_t>(check.blocks());
      check_limit(total += c.blocks, max_blocks);
    } else if (c.cardinality <= kArrayMax) {
      const std::size_t bytes = 2 * static_cast<std::size_t>(c.cardinality);
      const unsigned char* values = source.take(bytes);
      // With this many values the array is dense, whatever blocks they fall in; with fewer its values are
      // kept as they are checked, and dropped again if it proves dense.
      const bool dense = c.cardinality >= kDenseArray * kBlocksPerContainer;
      const std::int32_t blocks =
          dense ? measure_array<false>(values, c.key, c.cardinality, nullptr)
                : measure_array<true>(values, c.key, c.cardinality, kept.room(2 * bytes));
      c.blocks = static_cast<std::uint16_t>(blocks);
      check_limit(total += blocks, max_blocks);
      c.staged = blocks * kDenseArray <= c.cardinality;
      if (c.staged) {
        decode_array(values, c.key, c.cardinality, stage.reserve(blocks));
        c.at = static_cast<std::size_t>(stage.used());
        stage.added(blocks);
      } else {
        c.at = kept.size();
        kept.added(2 * bytes);
      }
    } else {
      const bitset_measure m =
          stage_bitset_here(source.take(kBitsetBytes), c.key, stage.reserve(kBlocksPerContainer));
      if (m.members != c.cardinality) wrong_cardinality(c.key, m.members, c.cardinality);
      check_limit(total += m.blocks, max_blocks);
      c.at = static_cast<std::size_t>(stage.used());
      c.blocks = static_cast<std::uint16_t>(m.blocks);
      c.staged = true;
      stage.added(m.blocks);
    }
  }
  return containers;
}

// Fills blocks from `out` with the rising values (as put_value() writes them, the container's key above
// the value) of kept arrays; returns the end of the blocks.
tblock* decode_values(const unsigned char* values, std::size_t count, tblock* out) {
  tblock* next = out;
  tblock* block = nullptr;
  std::uint32_t high = ~std::uint32_t{0};  // of `block`; none yet
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t value = get_value(values + 4 * i);
    if (value >> 8 != high) {
      // A new block's first bit is stored, not or-ed in: that would first wait for the block's memory.
      high = value >> 8;
      block = next++;
      block->key = static_cast<std::int32_t>(value) >> 8;
      std::memset(block->bits, 0, sizeof block->bits);
      block->bits[(value & 0xFFu) >> 3] = static_cast<std::uint8_t>(1u << (value & 7u));
      continue;
    }
    block->bits[(value & 0xFFu) >> 3] |= static_cast<std::uint8_t>(1u << (value & 7u));
  }
  return next;
}

// Fills `out`, room for exactly the blocks the runs fall in, with them. The map of the block at hand is
// built in four words and stored whole when the runs move past it: a map changed a word at a time in
// memory would be read back whole before the stores reach it.
void decode_runs(const unsigned char* pairs, std::uint32_t key, std::uint32_t runs, tblock* out) {
  tblock* next = out;
  std::uint32_t index = 0x100;  // of the block at hand; none yet
  std::uint64_t m0 = 0, m1 = 0, m2 = 0, m3 = 0;
  const auto add = [&](std::uint32_t from, std::uint32_t to) {
    const map_words bits = bit_range(static_cast<int>(from), static_cast<int>(to));
    m0 |= bits.w[0];
    m1 |= bits.w[1];
    m2 |= bits.w[2];
    m3 |= bits.w[3];
  };
  const auto store = [&] {
    next->key = block_key(key, index);
    detail::store_map(*next++, {{m0, m1, m2, m3}});
    m0 = m1 = m2 = m3 = 0;
  };
  for (std::uint32_t r = 0; r < runs; ++r) {
    const std::uint32_t start = get_u16(pairs + 4 * r);
    const std::uint32_t end = start + get_u16(pairs + 4 * r + 2);
    if (start >> 8 != index) {
      if (index != 0x100) store();
      index = start >> 8;
    }
    if (start >> 8 == end >> 8) {
      add(start & 0xFFu, end & 0xFFu);
      continue;
    }
    add(start & 0xFFu, 0xFFu);
    store();
    for (index = (start >> 8) + 1; index < end >> 8; ++index) {
      next->key = block_key(key, index);
      std::memset(next->bits, 0xFF, sizeof next->bits);
      ++next;
    }
    add(0, end & 0xFFu);
  }
  if (index != 0x100) store();
}

void read_bitmap(tnumbrelle& set, std::istream& in, std::int64_t max_blocks) {
  try {
    detail::chunk_reader source(in, kBitsetBytes, 0, ends_early);
    block_stage stage;
    kept_bytes kept;
    const std::vector<container_info> containers = read_containers(source, stage, kept, max_blocks);
    // Pass two. The negative members' blocks go first, the others after them.
    // Every container's cardinality was checked against its members as it was read.
    std::int64_t negatives = 0, count = 0, members = 0;
    bool only_staged = !containers.empty();
    for (const container_info& c : containers) {
      count += c.blocks;
      members += c.cardinality;
      negatives += c.key >= 0x8000u ? c.blocks : 0;
      only_staged &= c.staged;
    }
    tbuffer& buffer = detail::set_storage::buffer(set);
    const std::int32_t capacity = detail::buffer_length(detail::compacted_capacity(set.capacity(), count));
    if (only_staged && (negatives == 0 || negatives == count)) {
      // The staged blocks are all there is, in order: they become the set's.
      stage.buffer().resize(capacity);
      buffer.swap(stage.buffer());
    } else {
      if (buffer.length() != capacity) {
        buffer.release();  // nothing in it is kept: no reason to copy it
        buffer.resize(capacity);
      }
      tblock* out[2] = {buffer.data() + negatives, buffer.data()};
      for (auto c = containers.begin(); c != containers.end();) {
        const bool negative = c->key >= 0x8000u;
        tblock*& at = out[negative];
        if (c->staged) {
          std::memcpy(static_cast<void*>(at), stage.buffer().data() + c->at,
                      static_cast<std::size_t>(c->blocks) * sizeof(tblock));
          at += c->blocks;
          ++c;
        } else if (c->run) {
          decode_runs(kept.data() + c->at, c->key, c->runs, at);
          at += c->blocks;
          ++c;
        } else {
          // The kept arrays from here on of the same sign, whose values follow each other, at once.
          const unsigned char* values = kept.data() + c->at;
          std::size_t count_values = 0;
          for (; c != containers.end() && !c->staged && !c->run && (c->key >= 0x8000u) == negative; ++c) {
            count_values += static_cast<std::size_t>(c->cardinality);
          }
          at = decode_values(values, count_values, at);
        }
      }
    }
    detail::set_storage::set_used(set, static_cast<std::int32_t>(count), members);
  } catch (const std::bad_alloc&) {
    set.clear();
    throw EOutOfMemory();
  } catch (...) {
    set.clear();
    throw;
  }
}

}  // namespace

}  // namespace detail::roaring

void load_roaring_from_stream(tnumbrelle& set, std::istream& in) {
  detail::roaring::read_bitmap(set, in, detail::kMaxBlocks);
}

void load_roaring_from_stream(tnumbrelle& set, std::istream& in, std::int32_t max_blocks) {
  detail::roaring::read_bitmap(set, in, max_blocks);
}

void load_roaring_from_file(tnumbrelle& set, const std::filesystem::path& file_name) {
  read_file(file_name,
            [&set](std::istream& in) { detail::roaring::read_bitmap(set, in, detail::kMaxBlocks); });
}

void load_roaring_from_file(tnumbrelle& set, const std::filesystem::path& file_name,
                            std::int32_t max_blocks) {
  read_file(file_name,
            [&set, max_blocks](std::istream& in) { detail::roaring::read_bitmap(set, in, max_blocks); });
}

}  // namespace intset
