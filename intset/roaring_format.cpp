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
// The stream is read and written in chunks through its stream buffer. The reader asks only for bytes the
// bitmap is already known to hold, so the stream is left just after it, and its memory grows with the bytes
// read, never with a stated count.
#include "intset/roaring_format.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <istream>
#include <memory>
#include <new>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "intset/block_ops.h"
#include "intset/capacity.h"
#include "intset/file_access.h"
#include "intset/messages.h"
#include "intset/record_codec.h"

namespace intset {

namespace detail {

// Hands a block array built apart to a set, which takes it over whole.
struct set_storage {
  // The set's blocks become the first `used` of `blocks`, and `blocks` gets the set's old array. The
  // enumeration cursor stays as it was, as with a load of the set's own form.
  static void replace(tnumbrelle& set, tbuffer& blocks, std::int32_t used) noexcept {
    set.buffer.swap(blocks);
    set.used = used;
    set.keys_unordered = false;
  }
};

}  // namespace detail

namespace {

using detail::get_u32;
using detail::put_u32;

constexpr std::uint32_t kCookieNoRuns = 12346;
constexpr std::uint32_t kCookieRuns = 12347;
constexpr std::uint32_t kMaxContainers = 65536;
constexpr std::int32_t kArrayMax = 4096;        // more values than this make a bitset
constexpr std::size_t kBitsetBytes = 8192;      // 1024 64-bit words
constexpr std::uint32_t kOffsetsFromCount = 4;  // cookie 12347 stores offsets from this many containers on
constexpr std::size_t kChunk = 64 * 1024;       // bytes moved per stream call, at most
constexpr std::size_t kPiece = kBitsetBytes;    // the largest piece handed out at once
constexpr std::size_t kSourceRoom = kChunk + kPiece;
constexpr std::size_t kArraySlack = 8;  // bytes write_array() may write past an array's values
constexpr std::int32_t kBlocksPerContainer = 256;

inline std::uint16_t get_u16(const unsigned char* p) noexcept {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline void put_u16(unsigned char* p, std::uint32_t v) noexcept {
  auto half = static_cast<std::uint16_t>(v);
  if constexpr (std::endian::native == std::endian::big)
    half = static_cast<std::uint16_t>(half << 8 | half >> 8);
  std::memcpy(p, &half, 2);  // one store where the bytes one by one would be two
}

// The container of a block key, and the block's place in it.
inline std::uint32_t container_of(std::int32_t key) noexcept {
  return (static_cast<std::uint32_t>(key) >> 8) & 0xFFFFu;
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

// Marks the stream failed without letting its exception mask turn that into a different error.
void mark_failed(std::ios& stream, std::ios::iostate state) {
  try {
    stream.setstate(state);
  } catch (...) {  // the caller raises its own error
  }
}

// --- Writing ------------------------------------------------------------------------------------------

// Collects bytes and hands them to the stream buffer a chunk at a time.
class byte_sink {
 public:
  explicit byte_sink(std::ostream& out) : out_(out), buffer_(out.rdbuf()) {
    if (buffer_ == nullptr) fail();
    chunk_ = std::unique_ptr<unsigned char[]>(new unsigned char[kChunk]);
  }

  // Room for `bytes` (at most kChunk) at the end of the chunk; commit() says how much was used.
  unsigned char* room(std::size_t bytes) {
    if (kChunk - end_ < bytes) flush();
    return chunk_.get() + end_;
  }
  void commit(unsigned char* end) { end_ = static_cast<std::size_t>(end - chunk_.get()); }

  void flush() {
    if (end_ == 0) return;
    const auto bytes = static_cast<std::streamsize>(end_);
    if (buffer_->sputn(reinterpret_cast<const char*>(chunk_.get()), bytes) != bytes) fail();
    end_ = 0;
  }
  // Pushes the stream buffer's own pending bytes on, so that a failure to write them shows now.
  void sync() {
    flush();
    if (buffer_->pubsync() == -1) fail();
  }

 private:
  [[noreturn]] void fail() {
    mark_failed(out_, std::ios::badbit);
    throw EWriteError();
  }

  std::ostream& out_;
  std::streambuf* buffer_;
  std::unique_ptr<unsigned char[]> chunk_;  // not cleared: only bytes put in it are handed on
  std::size_t end_ = 0;
};

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

// The members of one container's blocks, then its runs of consecutive members (a run that crosses from one
// block into the next counts once), but only as far as they can make a run container the smallest: counting
// stops, in steps of 16 blocks, once they reach `run_limit` of the kind the members call for.
template <typename Popcount>
[[gnu::always_inline]] inline void measure(container_plan& plan, Popcount popcount) {
  std::int64_t cardinality = 0;
  for (const tblock* b = plan.first; b != plan.last; ++b) {
    const detail::map_words map = detail::load_map(*b);
    cardinality += popcount(map.w[0]) + popcount(map.w[1]) + popcount(map.w[2]) + popcount(map.w[3]);
  }
  // A run container is chosen only when strictly smaller: 2 + 4 runs < 2 + 2 members (an array, counted
  // with a 2-byte cardinality, as CRoaring's run optimization does) or < 8192 (a bitset).
  const std::int64_t run_limit =
      cardinality <= kArrayMax ? (cardinality + 1) / 2 : (kBitsetBytes - 2 + 3) / 4;
  std::int64_t runs = 0;
  std::uint64_t carry = 0;  // the top bit of the previous word, when it is the adjacent one
  std::uint32_t next_index = 0x100;
  for (const tblock* b = plan.first; b != plan.last && runs < run_limit;) {
    for (const tblock* step_end = b + std::min<std::ptrdiff_t>(16, plan.last - b); b != step_end; ++b) {
      const std::uint32_t index = static_cast<std::uint32_t>(b->key) & 0xFFu;
      if (index != next_index) carry = 0;
      next_index = index + 1;
      const detail::map_words map = detail::load_map(*b);
      for (const std::uint64_t word : map.w) {
        runs += popcount(word & ~(word << 1 | carry));
        carry = word >> 63;
      }
    }
  }
  plan.cardinality = static_cast<std::int32_t>(cardinality);
  plan.runs = static_cast<std::int32_t>(runs);
  if (cardinality == 0) {
    plan.kind = container_kind::array;  // not written
  } else if (runs < run_limit) {
    plan.kind = container_kind::run;
  } else {
    plan.kind = cardinality <= kArrayMax ? container_kind::array : container_kind::bitset;
  }
}

void measure_portable(std::vector<container_plan>& plans) {
  for (container_plan& plan : plans) measure(plan, detail::word_popcount);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define INTSET_ROARING_POPCNT_PATH 1
// The same, compiled for processors with the popcount instruction (not part of the baseline the library is
// built for).
__attribute__((target("popcnt"))) void measure_popcnt(std::vector<container_plan>& plans) {
  for (container_plan& plan : plans) {
    measure(plan, [](std::uint64_t w) { return __builtin_popcountll(w); });
  }
}
#endif

// Splits the blocks, in the order of their stored values, into containers and picks each one's kind: the
// smallest, with ties settled as CRoaring's run optimization settles them (see measure()).
std::vector<container_plan> plan_containers(std::span<const tblock> blocks) {
  // Blocks of the members from 0 up come first: their stored values are the smaller ones.
  const auto negatives_end =
      std::partition_point(blocks.begin(), blocks.end(), [](const tblock& b) { return b.key < 0; });
  const std::span<const tblock> parts[2] = {{negatives_end, blocks.end()}, {blocks.begin(), negatives_end}};
  std::vector<container_plan> plans;
  for (const std::span<const tblock> part : parts) {
    for (const tblock* b = part.data(); b != part.data() + part.size();) {
      const std::uint32_t key = container_of(b->key);
      const tblock* end = b + 1;
      while (end != part.data() + part.size() && container_of(end->key) == key) ++end;
      plans.push_back({b, end, key, 0, 0, container_kind::array});
      b = end;
    }
  }
#ifdef INTSET_ROARING_POPCNT_PATH
  static const bool has_popcnt = __builtin_cpu_supports("popcnt");
  if (has_popcnt) {
    measure_popcnt(plans);
  } else {
    measure_portable(plans);
  }
#else
  measure_portable(plans);
#endif
  // Blocks with empty maps (a loaded file may bring them) hold no members; a container of only those is
  // not written.
  std::erase_if(plans, [](const container_plan& p) { return p.cardinality == 0; });
  return plans;
}

// The values of an array container. Only the non-empty words of a block are visited, and four values are
// written for each, and four more as long as it holds more, past its last value too (into slack that later
// values overwrite or that is not committed): how many values a word holds then costs no branch for words of
// up to four, and one per four after that.
template <typename Popcount>
[[gnu::always_inline]] inline void write_array(byte_sink& sink, const container_plan& plan,
                                               Popcount popcount) {
  unsigned char* const start = sink.room(2 * static_cast<std::size_t>(plan.cardinality) + kArraySlack);
  unsigned char* at = start;
  for (const tblock* b = plan.first; b != plan.last; ++b) {
    const std::uint32_t base = (static_cast<std::uint32_t>(b->key) & 0xFFu) << 8;
    const detail::map_words map = detail::load_map(*b);
    unsigned occupied = unsigned{map.w[0] != 0} | unsigned{map.w[1] != 0} << 1 |
                        unsigned{map.w[2] != 0} << 2 | unsigned{map.w[3] != 0} << 3;
    for (; occupied != 0; occupied &= occupied - 1) {
      const int w = std::countr_zero(occupied);
      std::uint64_t word = map.w[w];
      const std::uint32_t word_base = base + 64 * static_cast<std::uint32_t>(w);
      unsigned char* const word_end = at + 2 * popcount(word);
      do {
        for (int i = 0; i < 8; i += 2) {
          put_u16(at + i, word_base + static_cast<std::uint32_t>(std::countr_zero(word)));
          word &= word - 1;
        }
        at += 8;
      } while (at < word_end);
      at = word_end;
    }
  }
  sink.commit(at);
}

void write_array_portable(byte_sink& sink, const container_plan& plan) {
  write_array(sink, plan, detail::word_popcount);
}

#ifdef INTSET_ROARING_POPCNT_PATH
__attribute__((target("popcnt"))) void write_array_popcnt(byte_sink& sink, const container_plan& plan) {
  write_array(sink, plan, [](std::uint64_t w) { return __builtin_popcountll(w); });
}
#endif

void write_bitset(byte_sink& sink, const container_plan& plan) {
  unsigned char* const start = sink.room(kBitsetBytes);
  std::memset(start, 0, kBitsetBytes);
  for (const tblock* b = plan.first; b != plan.last; ++b) {
    std::memcpy(start + 32 * (static_cast<std::uint32_t>(b->key) & 0xFFu), b->bits, sizeof b->bits);
  }
  sink.commit(start + kBitsetBytes);
}

void write_runs(byte_sink& sink, const container_plan& plan) {
  unsigned char* head = sink.room(2);
  put_u16(head, static_cast<std::uint32_t>(plan.runs));
  sink.commit(head + 2);
  const auto emit = [&sink](std::uint32_t start, std::uint32_t end) {
    unsigned char* at = sink.room(4);
    put_u16(at, start);
    put_u16(at + 2, end - start);
    sink.commit(at + 4);
  };
  bool in_run = false;
  std::uint32_t run_start = 0, next_index = 0x100;
  for (const tblock* b = plan.first; b != plan.last; ++b) {
    const std::uint32_t index = static_cast<std::uint32_t>(b->key) & 0xFFu;
    if (in_run && index != next_index) {  // a gap of missing blocks ends the run
      emit(run_start, (next_index << 8) - 1);
      in_run = false;
    }
    next_index = index + 1;
    const detail::map_words map = detail::load_map(*b);
    for (std::uint32_t w = 0; w < 4; ++w) {
      const std::uint32_t base = index << 8 | 64 * w;
      std::uint64_t word = map.w[w];
      for (;;) {
        if (!in_run) {
          if (word == 0) break;
          const int from = std::countr_zero(word);
          run_start = base + static_cast<std::uint32_t>(from);
          in_run = true;
          word |= (std::uint64_t{1} << from) - 1;  // from here on, look for the run's first gap
        }
        if (word == ~std::uint64_t{0}) break;  // the run goes on into the next word
        const int gap = std::countr_one(word);
        emit(run_start, base + static_cast<std::uint32_t>(gap) - 1);
        in_run = false;
        word &= ~std::uint64_t{0} << gap;
      }
    }
  }
  if (in_run) emit(run_start, (next_index << 8) - 1);
}

// --- Reading ------------------------------------------------------------------------------------------

// Hands out the bitmap's bytes from a stream in pieces of up to kPiece bytes. It reads from the stream
// buffer in chunks, but never more than the bytes the bitmap is known to hold beyond those already read
// (`owed_`), which the reader declares through expect() as it learns the layout.
class byte_source {
 public:
  explicit byte_source(std::istream& in) : in_(in), buffer_(in.rdbuf()) {
    if (buffer_ == nullptr) throw EReadError();
    chunk_ = std::unique_ptr<unsigned char[]>(new unsigned char[kSourceRoom]);
  }

  // `bytes` more bytes of the bitmap follow those declared so far.
  void expect(std::int64_t bytes) { owed_ += bytes; }

  // The next `bytes` bytes (at most kPiece, all declared), valid until the next call; moves past them.
  const unsigned char* take(std::size_t bytes) {
    if (end_ - pos_ < bytes) refill(bytes);
    const unsigned char* piece = chunk_.get() + pos_;
    pos_ += bytes;
    taken_ += static_cast<std::int64_t>(bytes);
    return piece;
  }
  // Bytes taken since the start of the bitmap.
  std::int64_t taken() const { return taken_; }

 private:
  void refill(std::size_t bytes) {
    const std::size_t kept = end_ - pos_;
    std::memmove(chunk_.get(), chunk_.get() + pos_, kept);
    pos_ = 0;
    end_ = kept;
    if (!ended_) {
      const auto want = static_cast<std::streamsize>(
          std::min<std::int64_t>(static_cast<std::int64_t>(kSourceRoom - end_), owed_));
      const std::streamsize got = buffer_->sgetn(reinterpret_cast<char*>(chunk_.get() + end_), want);
      end_ += static_cast<std::size_t>(got);
      owed_ -= got;
      if (got < want) {
        ended_ = true;
        mark_failed(in_, std::ios::eofbit | std::ios::failbit);
      }
    }
    if (end_ < bytes) damaged(messages::roaring_ends_early);
  }

  std::istream& in_;
  std::streambuf* buffer_;
  std::unique_ptr<unsigned char[]> chunk_;  // not cleared: only bytes read into it are handed out
  std::size_t pos_ = 0, end_ = 0;           // the bytes read but not yet taken
  std::int64_t owed_ = 0;                   // bytes of the bitmap known to follow those read
  std::int64_t taken_ = 0;
  bool ended_ = false;  // the stream delivered less than asked for
};

// The blocks decoded so far, in a buffer that grows as containers arrive.
class block_sink {
 public:
  // Room for one more container's blocks.
  void reserve_container() {
    const std::int64_t need = std::int64_t{used_} + kBlocksPerContainer;
    if (need <= blocks_.length()) return;
    blocks_.resize(detail::buffer_length(std::max<std::int64_t>(need, 2 * std::int64_t{blocks_.length()})));
  }
  tblock* end() { return blocks_.data() + used_; }
  void set_end(tblock* end) { used_ = static_cast<std::int32_t>(end - blocks_.data()); }
  std::int32_t used() const { return used_; }
  tbuffer& buffer() { return blocks_; }

 private:
  tbuffer blocks_;
  std::int32_t used_ = 0;
};

// A block of container `container` at `index`, with an empty map.
inline tblock* open_block(tblock* at, std::uint32_t container, std::uint32_t index) {
  at->key = block_key(container, index);
  std::memset(at->bits, 0, sizeof at->bits);
  return at;
}

void read_bitset(const unsigned char* bytes, std::uint32_t key, std::int32_t cardinality, block_sink& out) {
  tblock* const first = out.end();
  tblock* at = first;
  for (std::uint32_t index = 0; index < kBlocksPerContainer; ++index) {
    const unsigned char* map = bytes + 32 * index;
    // Emptiness is judged from the input: reading the block just written would wait on the store.
    const std::uint64_t any = detail::load_word(map) | detail::load_word(map + 8) |
                              detail::load_word(map + 16) | detail::load_word(map + 24);
    at->key = block_key(key, index);
    std::memcpy(at->bits, map, 32);
    at += any != 0;  // an empty block is overwritten by the next
  }
  const std::int64_t members = detail::count_members(first, static_cast<std::int32_t>(at - first));
  if (members != cardinality) {
    damaged(messages::format_message(
        messages::roaring_wrong_cardinality,
        {std::to_string(key), std::to_string(members), std::to_string(cardinality)}));
  }
  out.set_end(at);
}

void read_array(const unsigned char* bytes, std::uint32_t key, std::int32_t cardinality, block_sink& out) {
  tblock* next = out.end();
  tblock* block = nullptr;
  std::uint32_t index = 0x100;  // of `block`; none yet
  std::int32_t previous = -1;
  for (std::int32_t i = 0; i < cardinality; ++i) {
    const std::uint32_t value = get_u16(bytes + 2 * i);
    // Checked before the value is placed: values that fall back would open more blocks than there is room
    // for.
    if (static_cast<std::int32_t>(value) <= previous) damaged(messages::roaring_array_not_rising, key);
    previous = static_cast<std::int32_t>(value);
    if (value >> 8 != index) {
      index = value >> 8;
      block = open_block(next++, key, index);
    }
    block->bits[(value & 0xFFu) >> 3] |= static_cast<std::uint8_t>(1u << (value & 7u));
  }
  out.set_end(next);
}

// Sets the bits of values [from, to] (0..255) in a block's map.
void fill_block(tblock& block, std::uint32_t from, std::uint32_t to) {
  detail::map_words map = detail::load_map(block);
  for (std::uint32_t w = from >> 6; w <= to >> 6; ++w) {
    const std::uint32_t lo = std::max(from, 64 * w) - 64 * w, hi = std::min(to, 64 * w + 63) - 64 * w;
    map.w[w] |= (~std::uint64_t{0} >> (63 - hi)) & (~std::uint64_t{0} << lo);
  }
  detail::store_map(block, map);
}

// Reads one run container whose run count has been taken; returns the members its runs hold.
std::int64_t read_runs(byte_source& source, std::uint32_t key, std::uint32_t runs, block_sink& out) {
  tblock* next = out.end();
  tblock* block = nullptr;
  std::uint32_t index = 0x100;  // of `block`; none yet
  std::int64_t next_free = 0;   // the smallest value a run may start at
  std::int64_t members = 0;
  constexpr std::uint32_t kRunsPerPiece = kPiece / 4;
  for (std::uint32_t done = 0; done < runs;) {
    const std::uint32_t n = std::min(runs - done, kRunsPerPiece);
    const unsigned char* piece = source.take(4 * std::size_t{n});
    for (std::uint32_t r = 0; r < n; ++r) {
      const std::uint32_t start = get_u16(piece + 4 * r);
      const std::uint32_t end = start + get_u16(piece + 4 * r + 2);
      if (end > 0xFFFFu) damaged(messages::roaring_run_overflow, key);
      if (start < next_free) damaged(messages::roaring_runs_disordered, key);
      next_free = std::int64_t{end} + 1;
      members += end - start + 1;
      for (std::uint32_t i = start >> 8; i <= end >> 8; ++i) {
        if (i != index) {
          index = i;
          block = open_block(next++, key, index);
        }
        fill_block(*block, i == start >> 8 ? start & 0xFFu : 0, i == end >> 8 ? end & 0xFFu : 0xFFu);
      }
    }
    done += n;
  }
  out.set_end(next);
  return members;
}

struct container_head {
  std::uint32_t key;
  std::int32_t cardinality;
  bool run;
};

// Reads the bitmap into `out` (the members from 0 up) and `negatives` (the others).
void read_bitmap(byte_source& source, block_sink& out, block_sink& negatives) {
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

  // The container heads, read in pieces so that memory follows the bytes that arrive.
  constexpr std::uint32_t kHeadsPerPiece = kPiece / 4;
  std::vector<container_head> heads;
  source.expect(4 * std::int64_t{count});
  for (std::uint32_t done = 0; done < count;) {
    const std::uint32_t n = std::min(count - done, kHeadsPerPiece);
    const unsigned char* piece = source.take(4 * std::size_t{n});
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint32_t c = done + i;
      const container_head head{get_u16(piece + 4 * i), get_u16(piece + 4 * i + 2) + 1,
                                has_runs && (run_flags[c / 8] >> (c % 8) & 1) != 0};
      if (!heads.empty() && head.key <= heads.back().key) damaged(messages::roaring_keys_not_rising);
      heads.push_back(head);
    }
    done += n;
  }
  std::vector<std::uint32_t> offsets;
  if (!has_runs || count >= kOffsetsFromCount) {
    source.expect(4 * std::int64_t{count});
    for (std::uint32_t done = 0; done < count;) {
      const std::uint32_t n = std::min(count - done, kHeadsPerPiece);
      const unsigned char* piece = source.take(4 * std::size_t{n});
      for (std::uint32_t i = 0; i < n; ++i) offsets.push_back(get_u32(piece + 4 * i));
      done += n;
    }
  }

  // The containers' sizes as far as the heads tell them: a run container's runs are declared as it comes.
  std::int64_t known = 0;
  for (const container_head& head : heads) {
    known += head.run                        ? 2
             : head.cardinality <= kArrayMax ? 2 * std::int64_t{head.cardinality}
                                             : std::int64_t{kBitsetBytes};
  }
  source.expect(known);

  block_sink* sink = &out;
  for (std::uint32_t c = 0; c < count; ++c) {
    const container_head& head = heads[c];
    if (!offsets.empty() && offsets[c] != source.taken())
      damaged(messages::roaring_offset_mismatch, head.key);
    if (head.key >= 0x8000u) sink = &negatives;
    sink->reserve_container();
    if (head.run) {
      const std::uint32_t runs = get_u16(source.take(2));
      source.expect(4 * std::int64_t{runs});
      const std::int64_t members = read_runs(source, head.key, runs, *sink);
      if (members != head.cardinality) {
        damaged(messages::format_message(
            messages::roaring_wrong_cardinality,
            {std::to_string(head.key), std::to_string(members), std::to_string(head.cardinality)}));
      }
    } else if (head.cardinality <= kArrayMax) {
      read_array(source.take(2 * static_cast<std::size_t>(head.cardinality)), head.key, head.cardinality,
                 *sink);
    } else {
      read_bitset(source.take(kBitsetBytes), head.key, head.cardinality, *sink);
    }
  }
}

}  // namespace

namespace {

void write_bitmap(std::span<const tblock> blocks, std::ostream& out) {
  const std::vector<container_plan> plans = plan_containers(blocks);
  const auto count = static_cast<std::uint32_t>(plans.size());
#ifdef INTSET_ROARING_POPCNT_PATH
  static const bool has_popcnt = __builtin_cpu_supports("popcnt");
#endif
  const bool has_runs = std::any_of(plans.begin(), plans.end(),
                                    [](const container_plan& p) { return p.kind == container_kind::run; });
  byte_sink sink(out);

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
  for (const container_plan& plan : plans) {
    switch (plan.kind) {
      case container_kind::array:
#ifdef INTSET_ROARING_POPCNT_PATH
        if (has_popcnt) {
          write_array_popcnt(sink, plan);
          break;
        }
#endif
        write_array_portable(sink, plan);
        break;
      case container_kind::bitset:
        write_bitset(sink, plan);
        break;
      case container_kind::run:
        write_runs(sink, plan);
        break;
    }
  }
  sink.sync();
}

}  // namespace

void save_roaring_to_stream(const tnumbrelle& set, std::ostream& out) {
  // A set whose keys do not rise (only an old-form file can bring one) has no order to write its chunks in.
  if (!detail::keys_ascending(set.blocks())) throw EUnorderedBlocks();
  try {
    write_bitmap(set.blocks(), out);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
}

void load_roaring_from_stream(tnumbrelle& set, std::istream& in) {
  try {
    byte_source source(in);
    block_sink blocks, negatives;
    read_bitmap(source, blocks, negatives);
    // The negative members' blocks go first; the others are copied after them.
    block_sink& result = negatives.used() == 0 ? blocks : negatives;
    const std::int64_t count = std::int64_t{blocks.used()} + negatives.used();
    if (&result == &negatives && blocks.used() > 0) {
      negatives.buffer().resize(
          detail::buffer_length(std::max<std::int64_t>(count, negatives.buffer().length())));
      std::memcpy(negatives.buffer().data() + negatives.used(), blocks.buffer().data(),
                  static_cast<std::size_t>(blocks.used()) * sizeof(tblock));
    }
    result.buffer().resize(detail::buffer_length(detail::compacted_capacity(set.capacity(), count)));
    detail::set_storage::replace(set, result.buffer(), static_cast<std::int32_t>(count));
  } catch (const std::bad_alloc&) {
    set.clear();
    throw EOutOfMemory();
  } catch (...) {
    set.clear();
    throw;
  }
}

void save_roaring_to_file(const tnumbrelle& set, const std::filesystem::path& file_name) {
  detail::write_file(file_name, [&set](std::ostream& out) { save_roaring_to_stream(set, out); });
}

void load_roaring_from_file(tnumbrelle& set, const std::filesystem::path& file_name) {
  detail::read_file(file_name, [&set](std::istream& in) { load_roaring_from_stream(set, in); });
}

}  // namespace intset
