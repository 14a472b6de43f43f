// The portable Roaring bitmap format: writing a set in it and reading one back.
//
// Layout, all numbers little-endian: a cookie, either 12346 followed by a 32-bit container count, or a word
// whose low 16 bits are 12347 and whose high 16 bits are the count minus 1, followed by ceil(count / 8)
// bytes whose bit i marks container i as a run container. Then per container its key (the high 16 bits of
// its values) and its cardinality minus 1, 16 bits each; then the 32-bit byte offset of every container
// from the cookie, for cookie 12346 and for 12347 with at least 4 containers. Then the containers: a run
// container is a 16-bit run count and per run its start and its length minus 1; any other container with at
// most 4096 values is an array of its sorted 16-bit values, one with more a bitset of 1024 64-bit words
// (bit b of word w is value 64w + b).
//
// A container spans 256 of the set's blocks, and a bitset's bytes are laid out exactly as the blocks' maps
// are: block j of container K holds the 32 bytes at 32j. Member v is stored as the unsigned value with the
// same bits, so the block with key k belongs to container (k >> 8) & 0xFFFF, and the containers of the
// negative members (keys 0x8000 and up) come after those of the others.
//
// Writing measures every container first (the headers, which come first, need its cardinality and kind),
// then writes the headers and the containers through a chunk_writer.
//
// Reading goes in two passes. Pass one reads the bitmap through a chunk_reader, checks each container as
// its bytes arrive and counts the blocks it makes. A container whose blocks take about as many bytes as
// its encoding (a bitset, an array of 8 or more values per block) is made blocks at once; the others (runs,
// sparse arrays), whose blocks can take far more, are kept compact. Pass two sizes the set's buffer once,
// to the blocks counted, and fills it. The reader asks only for bytes the bitmap is already known to hold,
// so the stream is left just after it. What pass one keeps grows with the bytes read, never with a stated
// count; the set's buffer grows with the blocks, which a run container makes up to 256 of from 6 bytes.
#include "intset/roaring_format.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <new>
#include <ostream>
#include <string>
#include <vector>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

#include "intset/block_ops.h"
#include "intset/capacity.h"
#include "intset/chunk_reader.h"
#include "intset/chunk_writer.h"
#include "intset/file_access.h"
#include "intset/messages.h"
#include "intset/record_codec.h"
#include "intset/roaring_paths.h"

namespace intset {

namespace detail {

// Lets a reader fill a set's block array in place.
struct set_storage {
  static tbuffer& buffer(tnumbrelle& set) noexcept { return set.buffer; }
  // The first `used` blocks of the buffer, with rising keys, become the set's blocks. The enumeration
  // cursor stays as it was, as with a load of the set's own form.
  static void set_used(tnumbrelle& set, std::int32_t used) noexcept {
    set.used = used;
    set.keys_unordered = false;
  }
};

}  // namespace detail

namespace {

using detail::chunk_writer;
using detail::get_u32;
using detail::put_u32;

constexpr std::uint32_t kCookieNoRuns = 12346;
constexpr std::uint32_t kCookieRuns = 12347;
constexpr std::uint32_t kMaxContainers = 65536;
constexpr std::int32_t kArrayMax = 4096;        // more values than this make a bitset
constexpr std::size_t kBitsetBytes = 8192;      // 1024 64-bit words
constexpr std::uint32_t kOffsetsFromCount = 4;  // cookie 12347 stores offsets from this many containers on
constexpr std::uint32_t kHeadsPerPiece = 2048;  // container heads read and checked at once
constexpr std::uint32_t kRunsPerPiece = 2048;   // runs read and checked at once
constexpr std::size_t kArraySlack = 16;         // bytes array_values() may write past an array's values
constexpr std::int32_t kBlocksPerContainer = 256;
constexpr std::int32_t kDenseArray = 8;  // values per block from which an array is decoded in pass one

inline std::uint32_t get_u16(const unsigned char* p) noexcept {
  std::uint16_t half;
  std::memcpy(&half, p, 2);  // one load where the bytes one by one would be two
  if constexpr (std::endian::native == std::endian::big)
    half = static_cast<std::uint16_t>(half << 8 | half >> 8);
  return half;
}

inline void put_u16(unsigned char* p, std::uint32_t v) noexcept {
  auto half = static_cast<std::uint16_t>(v);
  if constexpr (std::endian::native == std::endian::big)
    half = static_cast<std::uint16_t>(half << 8 | half >> 8);
  std::memcpy(p, &half, 2);
}

// The container of a block key, and the block's place in it.
inline std::uint32_t container_of(std::int32_t key) noexcept {
  return (static_cast<std::uint32_t>(key) >> 8) & 0xFFFFu;
}
inline std::uint32_t index_of(std::int32_t key) noexcept { return static_cast<std::uint32_t>(key) & 0xFFu; }
// Word w of a block's map, read straight from the block (a copy of the map would be stored whole and read
// back a word at a time).
inline std::uint64_t map_word(const tblock& block, std::uint32_t w) noexcept {
  return detail::load_word(block.bits + 8 * w);
}
inline std::int32_t block_key(std::uint32_t container, std::uint32_t index) noexcept {
  return static_cast<std::int32_t>((container << 16 | index << 8)) >> 8;
}

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

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define INTSET_ROARING_BITS_PATH 1
#define INTSET_ROARING_BITS_TARGET __attribute__((target("popcnt,bmi")))
// Whether the processor has the popcount instruction and the first bit manipulation set (trailing zero
// count, lowest set bit cleared), neither part of the baseline the library is built for. The loops that
// count and find bits come in two builds, one of them for such processors.
bool has_bit_instructions() {
  static const bool has = __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("bmi");
  return has && detail::roaring_paths_allowed >= detail::roaring_path::bits;
}

#endif

// --- Writing ------------------------------------------------------------------------------------------

enum class container_kind : unsigned char { array, bitset, run };

// One container to write: its blocks [first, last), and what they hold.
struct container_plan {
  const tblock* first;
  const tblock* last;
  std::uint32_t key;
  std::int32_t cardinality;
  std::int32_t runs;
  container_kind kind;

  std::size_t bytes() const {
    switch (kind) {
      case container_kind::array:
        return 2 * static_cast<std::size_t>(cardinality);
      case container_kind::bitset:
        return kBitsetBytes;
      case container_kind::run:
        break;
    }
    return 2 + 4 * static_cast<std::size_t>(runs);
  }
};

// The runs of consecutive members in blocks [first, last) of one container (a run that crosses from one
// block into the next counts once), but only as far as they can make a run container the smallest: counting
// stops, in steps of 16 blocks, once they reach `limit`.
template <typename Popcount>
[[gnu::always_inline]] inline std::int64_t count_runs(const tblock* b, const tblock* last, std::int64_t limit,
                                                      Popcount popcount) {
  std::int64_t runs = 0;
  std::uint64_t carry = 0;  // the top bit of the previous word, when it is the adjacent one
  std::uint32_t next_index = 0x100;
  while (b != last && runs < limit) {
    for (const tblock* step_end = b + std::min<std::ptrdiff_t>(16, last - b); b != step_end; ++b) {
      const std::uint32_t index = index_of(b->key);
      carry &= index == next_index;
      next_index = index + 1;
      for (std::uint32_t w = 0; w < 4; ++w) {
        const std::uint64_t word = map_word(*b, w);
        runs += popcount(word & ~(word << 1 | carry));
        carry = word >> 63;
      }
    }
  }
  return runs;
}

// The blocks of [first, last) with members whose index follows no block with members: each starts a run.
// Counting them is cheaper than counting runs, and where there are many blocks far apart, enough.
inline std::int64_t blocks_apart(const tblock* b, const tblock* last) noexcept {
  std::int64_t apart = 0;
  std::uint32_t next_index = 0x100;
  for (; b != last; ++b) {
    const bool held = (map_word(*b, 0) | map_word(*b, 1) | map_word(*b, 2) | map_word(*b, 3)) != 0;
    apart += held && index_of(b->key) != next_index;
    next_index = held ? index_of(b->key) + 1 : 0x100;
  }
  return apart;
}

// Splits blocks (all in one half of the stored values) into containers, adds each one that holds members
// to `plans` and picks its kind: the smallest, with ties settled as CRoaring's run optimization settles them.
// A container of only empty maps (a loaded file may bring such blocks) is not written. Clears `ordered`
// where a block's key is not above the one before it in memory (`all` starts the set's blocks): this pass
// over the blocks checks that too.
template <typename Popcount>
[[gnu::always_inline]] inline void plan_part(const tblock* b, const tblock* const end, const tblock* all,
                                             std::vector<container_plan>& plans, bool& ordered,
                                             Popcount popcount) {
  while (b != end) {
    const tblock* const first = b;
    const std::uint32_t key = container_of(b->key);
    std::int64_t cardinality = 0;
    do {
      ordered &= b == all || b[-1].key < b->key;
      cardinality += popcount(map_word(*b, 0)) + popcount(map_word(*b, 1)) + popcount(map_word(*b, 2)) +
                     popcount(map_word(*b, 3));
      ++b;
    } while (b != end && container_of(b->key) == key);
    if (cardinality == 0) continue;
    // A run container is chosen only when strictly smaller: 2 + 4 runs < 2 + 2 members (an array, counted
    // with a 2-byte cardinality, as CRoaring's run optimization does) or < 8192 (a bitset).
    const std::int64_t limit = cardinality <= kArrayMax ? (cardinality + 1) / 2 : (kBitsetBytes - 2 + 3) / 4;
    const std::int64_t runs = b - first >= limit && blocks_apart(first, b) >= limit
                                  ? limit  // too many, whatever their number
                                  : count_runs(first, b, limit, popcount);
    const container_kind kind = runs < limit               ? container_kind::run
                                : cardinality <= kArrayMax ? container_kind::array
                                                           : container_kind::bitset;
    plans.push_back(
        {first, b, key, static_cast<std::int32_t>(cardinality), static_cast<std::int32_t>(runs), kind});
  }
}

// The blocks of the members from 0 up come first: their stored values are the smaller ones. Raises
// EUnorderedBlocks for a set whose keys do not rise (only an old-form file can bring one): it has no order
// to write its containers in. Only the first and the last key are looked at for their range once the pass
// has found them rising.
template <typename Popcount>
[[gnu::always_inline]] inline std::vector<container_plan> plan(std::span<const tblock> blocks,
                                                               Popcount popcount) {
  const tblock* const begin = blocks.data();
  const tblock* const end = begin + blocks.size();
  const tblock* const negatives_end =
      std::partition_point(begin, end, [](const tblock& b) { return b.key < 0; });
  std::vector<container_plan> plans;
  bool ordered = true;
  plan_part(negatives_end, end, begin, plans, ordered, popcount);
  plan_part(begin, negatives_end, begin, plans, ordered, popcount);
  // Keys past the range that values give would share containers with others, which the reader refuses.
  if (!ordered || !detail::keys_writable(blocks)) throw EUnorderedBlocks();
  return plans;
}

// The values of blocks [first, last) of an array container, written from `at`; returns their end. Only
// the non-empty words of a block are visited. Each writes `Step` values unconditionally, and `Step` more as
// long as it holds more, past its last value too (into slack that later values overwrite or that is not
// committed): how many values a word holds then costs no branch that the data could make unpredictable.
template <int Step, typename Popcount>
[[gnu::always_inline]] inline unsigned char* array_values(const tblock* first, const tblock* last,
                                                          unsigned char* at, Popcount popcount) {
  for (const tblock* b = first; b != last; ++b) {
    const std::uint32_t base = index_of(b->key) << 8;
    unsigned occupied = unsigned{map_word(*b, 0) != 0} | unsigned{map_word(*b, 1) != 0} << 1 |
                        unsigned{map_word(*b, 2) != 0} << 2 | unsigned{map_word(*b, 3) != 0} << 3;
    for (; occupied != 0; occupied &= occupied - 1) {
      const int w = std::countr_zero(occupied);
      std::uint64_t word = map_word(*b, static_cast<std::uint32_t>(w));
      const std::uint32_t word_base = base + 64 * static_cast<std::uint32_t>(w);
      unsigned char* const word_end = at + 2 * popcount(word);
      do {
        for (int i = 0; i < 2 * Step; i += 2) {
          // The top bit keeps an exhausted word from being a case of its own: its value is never kept.
          put_u16(at + i,
                  word_base + static_cast<std::uint32_t>(std::countr_zero(word | std::uint64_t{1} << 63)));
          word &= word - 1;
        }
        at += 2 * Step;
      } while (at < word_end);
      at = word_end;
    }
  }
  return at;
}

// Array containers [first, last), whose blocks follow each other: as an array's body is its values, the
// bodies of such containers are their blocks' values, all in a row. Eight values a step where the blocks
// hold eight or more on average, four otherwise.
template <typename Popcount>
[[gnu::always_inline]] inline void write_arrays(chunk_writer& sink, const container_plan* first,
                                                const container_plan* last, std::size_t bytes,
                                                Popcount popcount) {
  unsigned char* const start = sink.room(bytes + kArraySlack);
  const bool dense = bytes >= 16 * static_cast<std::size_t>(last[-1].last - first->first);
  sink.commit(dense ? array_values<8>(first->first, last[-1].last, start, popcount)
                    : array_values<4>(first->first, last[-1].last, start, popcount));
}

void write_bitset(chunk_writer& sink, const container_plan& plan) {
  unsigned char* const start = sink.room(kBitsetBytes);
  if (plan.last - plan.first != kBlocksPerContainer) std::memset(start, 0, kBitsetBytes);
  for (const tblock* b = plan.first; b != plan.last; ++b) {
    std::memcpy(start + 32 * index_of(b->key), b->bits, sizeof b->bits);
  }
  sink.commit(start + kBitsetBytes);
}

// A run container. A word's changes, the bits that differ from the bit below them, alternate between the
// starts and the ends (one past) of runs; a gap between blocks ends the run in progress. Each change writes
// the run it would end, which is counted only where it does end one, so that which kind a change is costs
// no branch.
[[gnu::noinline]] void write_runs(chunk_writer& sink, const container_plan& plan) {
  unsigned char* const start = sink.room(2 + 4 * static_cast<std::size_t>(plan.runs) + 4);
  put_u16(start, static_cast<std::uint32_t>(plan.runs));
  unsigned char* at = start + 2;
  std::uint32_t open = 0;     // the start of the run in progress
  std::uint64_t running = 0;  // 1 while a run is in progress
  std::uint32_t next_index = 0x100;
  const auto end_run = [&](std::uint32_t end, std::uint64_t ends) {  // one past the run
    put_u16(at, open);
    put_u16(at + 2, end - 1 - open);
    at += 4 * ends;
  };
  for (const tblock* b = plan.first; b != plan.last; ++b) {
    const std::uint32_t index = index_of(b->key);
    const std::uint64_t gap = index != next_index;
    end_run(next_index << 8, gap & running);
    running &= gap ^ 1;
    next_index = index + 1;
    for (std::uint32_t w = 0; w < 4; ++w) {
      const std::uint64_t word = map_word(*b, w);
      const std::uint32_t base = index << 8 | 64 * w;
      for (std::uint64_t changes = word ^ (word << 1 | running); changes != 0; changes &= changes - 1) {
        const std::uint32_t at_change = base + static_cast<std::uint32_t>(std::countr_zero(changes));
        end_run(at_change, running);
        open = running != 0 ? open : at_change;
        running ^= 1;
      }
    }
  }
  end_run(next_index << 8, running);
  sink.commit(at);
}

template <typename Popcount>
[[gnu::always_inline]] inline void write_bitmap(std::span<const tblock> blocks, std::ostream& out,
                                                Popcount popcount) {
  const std::vector<container_plan> plans = plan(blocks, popcount);
  const auto count = static_cast<std::uint32_t>(plans.size());
  const bool has_runs = std::any_of(plans.begin(), plans.end(),
                                    [](const container_plan& p) { return p.kind == container_kind::run; });
  chunk_writer sink(out);

  std::int64_t header = 0;
  if (has_runs) {
    unsigned char* at = sink.room(4);
    put_u32(at, kCookieRuns | (count - 1) << 16);
    sink.commit(at + 4);
    for (std::uint32_t c = 0; c < count; c += 8) {
      unsigned char flags = 0;
      for (std::uint32_t i = c; i < std::min(count, c + 8); ++i) {
        flags |= static_cast<unsigned char>((plans[i].kind == container_kind::run) << (i - c));
      }
      at = sink.room(1);
      *at = flags;
      sink.commit(at + 1);
    }
    header = 4 + (count + 7) / 8;
  } else {
    unsigned char* at = sink.room(8);
    put_u32(at, kCookieNoRuns);
    put_u32(at + 4, count);
    sink.commit(at + 8);
    header = 8;
  }
  for (const container_plan& plan : plans) {
    unsigned char* at = sink.room(4);
    put_u16(at, plan.key);
    put_u16(at + 2, static_cast<std::uint32_t>(plan.cardinality - 1));
    sink.commit(at + 4);
  }
  header += 4 * std::int64_t{count};
  if (!has_runs || count >= kOffsetsFromCount) {
    std::int64_t offset = header + 4 * std::int64_t{count};
    for (const container_plan& plan : plans) {
      unsigned char* at = sink.room(4);
      put_u32(at, static_cast<std::uint32_t>(offset));
      sink.commit(at + 4);
      offset += static_cast<std::int64_t>(plan.bytes());
    }
  }
  for (const container_plan* plan = plans.data(); plan != plans.data() + count;) {
    switch (plan->kind) {
      case container_kind::array: {
        // With the array containers after it whose blocks follow on, as far as a chunk takes them.
        const container_plan* last = plan;
        std::size_t bytes = 0;
        do {
          bytes += last->bytes();
          ++last;
        } while (last != plans.data() + count && last->kind == container_kind::array &&
                 last->first == last[-1].last && bytes + last->bytes() + kArraySlack <= chunk_writer::kChunk);
        write_arrays(sink, plan, last, bytes, popcount);
        plan = last;
        break;
      }
      case container_kind::bitset:
        write_bitset(sink, *plan++);
        break;
      case container_kind::run:
        write_runs(sink, *plan++);
        break;
    }
  }
  sink.sync();
}

void write_bitmap_portable(std::span<const tblock> blocks, std::ostream& out) {
  write_bitmap(blocks, out, [](std::uint64_t w) { return detail::word_popcount(w); });
}

#ifdef INTSET_ROARING_BITS_PATH
INTSET_ROARING_BITS_TARGET void write_bitmap_bits(std::span<const tblock> blocks, std::ostream& out) {
  write_bitmap(blocks, out, [](std::uint64_t w) { return __builtin_popcountll(w); });
}
#endif

// --- Reading ------------------------------------------------------------------------------------------

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
struct bitset_measure {
  std::int64_t members;
  std::int32_t blocks;
};

template <typename Popcount>
[[gnu::always_inline]] inline bitset_measure stage_bitset(const unsigned char* bytes, std::uint32_t key,
                                                          tblock* out, Popcount popcount) {
  std::int64_t members = 0;
  tblock* at = out;
  for (std::uint32_t index = 0; index < kBlocksPerContainer; ++index) {
    const unsigned char* map = bytes + 32 * index;
    // Emptiness is judged from the input: reading the block just written would wait on the store.
    const std::uint64_t w0 = detail::load_word(map), w1 = detail::load_word(map + 8),
                        w2 = detail::load_word(map + 16), w3 = detail::load_word(map + 24);
    members += popcount(w0) + popcount(w1) + popcount(w2) + popcount(w3);
    at->key = block_key(key, index);
    std::memcpy(at->bits, map, 32);
    at += (w0 | w1 | w2 | w3) != 0;  // an empty block is overwritten by the next
  }
  return {members, static_cast<std::int32_t>(at - out)};
}

bitset_measure stage_bitset_portable(const unsigned char* bytes, std::uint32_t key, tblock* out) {
  return stage_bitset(bytes, key, out, [](std::uint64_t w) { return detail::word_popcount(w); });
}

#ifdef INTSET_ROARING_BITS_PATH
#define INTSET_ROARING_WIDE_TARGET __attribute__((target("avx2,popcnt,bmi")))
// Whether the processor also has AVX2 (32-byte integer vectors): a bitset read is then counted and copied
// a map at a time.
bool has_wide_instructions() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has && has_bit_instructions() && detail::roaring_paths_allowed >= detail::roaring_path::wide;
}

// The set bits of each of 32 bytes: their two halves looked up in a table by the byte shuffle.
INTSET_ROARING_WIDE_TARGET inline __m256i byte_counts(__m256i bytes) {
  const __m256i half_bits = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1, 2, 1, 2,
                                             2, 3, 1, 2, 2, 3, 2, 3, 3, 4);
  const __m256i low_half = _mm256_set1_epi8(0x0F);
  return _mm256_add_epi8(
      _mm256_shuffle_epi8(half_bits, _mm256_and_si256(bytes, low_half)),
      _mm256_shuffle_epi8(half_bits, _mm256_and_si256(_mm256_srli_epi16(bytes, 4), low_half)));
}

// The sum of the bytes of `counts`.
INTSET_ROARING_WIDE_TARGET inline std::int64_t byte_sum(__m256i counts) {
  const __m256i lanes = _mm256_sad_epu8(counts, _mm256_setzero_si256());
  return _mm256_extract_epi64(lanes, 0) + _mm256_extract_epi64(lanes, 1) + _mm256_extract_epi64(lanes, 2) +
         _mm256_extract_epi64(lanes, 3);
}

// stage_bitset() 32 bytes at a time.
INTSET_ROARING_WIDE_TARGET bitset_measure stage_bitset_wide(const unsigned char* bytes, std::uint32_t key,
                                                            tblock* out) {
  std::int64_t members = 0;
  tblock* at = out;
  for (std::uint32_t index = 0; index < kBlocksPerContainer;) {
    __m256i counts = _mm256_setzero_si256();  // 16 maps at a time, at most 128 a byte
    for (const std::uint32_t stop = index + 16; index != stop; ++index) {
      const __m256i map = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 32 * index));
      counts = _mm256_add_epi8(counts, byte_counts(map));
      at->key = block_key(key, index);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(at->bits), map);
      at += !_mm256_testz_si256(map, map);  // an empty block is overwritten by the next
    }
    members += byte_sum(counts);
  }
  return {members, static_cast<std::int32_t>(at - out)};
}

INTSET_ROARING_BITS_TARGET bitset_measure stage_bitset_bits(const unsigned char* bytes, std::uint32_t key,
                                                            tblock* out) {
  return stage_bitset(bytes, key, out, [](std::uint64_t w) { return __builtin_popcountll(w); });
}
#endif

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

#ifdef INTSET_ROARING_BITS_PATH
  const auto stage_bitset_here = has_wide_instructions()  ? stage_bitset_wide
                                 : has_bit_instructions() ? stage_bitset_bits
                                                          : stage_bitset_portable;
#else
  const auto stage_bitset_here = stage_bitset_portable;
#endif
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

// The bits of values [from, to] (0..255) that fall in word w of a block's map.
inline std::uint64_t range_word(std::uint32_t from, std::uint32_t to, std::uint32_t w) noexcept {
  if (to < 64 * w || from > 64 * w + 63) return 0;
  const std::uint32_t lo = std::max(from, 64 * w) - 64 * w, hi = std::min(to, 64 * w + 63) - 64 * w;
  return (~std::uint64_t{0} >> (63 - hi)) & (~std::uint64_t{0} << lo);
}

// Fills `out`, room for exactly the blocks the runs fall in, with them. The map of the block at hand is
// built in four words and stored whole when the runs move past it: a map changed a word at a time in
// memory would be read back whole before the stores reach it.
void decode_runs(const unsigned char* pairs, std::uint32_t key, std::uint32_t runs, tblock* out) {
  tblock* next = out;
  std::uint32_t index = 0x100;  // of the block at hand; none yet
  std::uint64_t m0 = 0, m1 = 0, m2 = 0, m3 = 0;
  const auto add = [&](std::uint32_t from, std::uint32_t to) {
    m0 |= range_word(from, to, 0);
    m1 |= range_word(from, to, 1);
    m2 |= range_word(from, to, 2);
    m3 |= range_word(from, to, 3);
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

}  // namespace

void save_roaring_to_stream(const tnumbrelle& set, std::ostream& out) {
  try {
#ifdef INTSET_ROARING_BITS_PATH
    if (has_bit_instructions()) {
      write_bitmap_bits(set.blocks(), out);
      return;
    }
#endif
    write_bitmap_portable(set.blocks(), out);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
}

namespace {

void read_bitmap(tnumbrelle& set, std::istream& in, std::int64_t max_blocks) {
  try {
    detail::chunk_reader source(in, kBitsetBytes, 0, ends_early);
    block_stage stage;
    kept_bytes kept;
    const std::vector<container_info> containers = read_containers(source, stage, kept, max_blocks);
    // Pass two. The negative members' blocks go first, the others after them.
    std::int64_t negatives = 0, count = 0;
    bool only_staged = !containers.empty();
    for (const container_info& c : containers) {
      count += c.blocks;
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
    detail::set_storage::set_used(set, static_cast<std::int32_t>(count));
  } catch (const std::bad_alloc&) {
    set.clear();
    throw EOutOfMemory();
  } catch (...) {
    set.clear();
    throw;
  }
}

}  // namespace

void load_roaring_from_stream(tnumbrelle& set, std::istream& in) { read_bitmap(set, in, detail::kMaxBlocks); }

void load_roaring_from_stream(tnumbrelle& set, std::istream& in, std::int32_t max_blocks) {
  read_bitmap(set, in, max_blocks);
}

void save_roaring_to_file(const tnumbrelle& set, const std::filesystem::path& file_name) {
  detail::write_file(file_name, [&set](std::ostream& out) { save_roaring_to_stream(set, out); });
}

void load_roaring_from_file(tnumbrelle& set, const std::filesystem::path& file_name) {
  detail::read_file(file_name, [&set](std::istream& in) { read_bitmap(set, in, detail::kMaxBlocks); });
}

void load_roaring_from_file(tnumbrelle& set, const std::filesystem::path& file_name,
                            std::int32_t max_blocks) {
  detail::read_file(file_name, [&set, max_blocks](std::istream& in) { read_bitmap(set, in, max_blocks); });
}

}  // namespace intset
