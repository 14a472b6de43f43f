// The Roaring writer: its containers that need no popcount, its portable build, and the public functions.
#include "intset/roaring_writer.h"

#include <new>
#include <ostream>

#include "intset/dispatch.h"
#include "intset/files.h"
#include "intset/roaring_format.h"

namespace intset {

namespace detail::roaring {

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

void write_bitmap_portable(std::span<const tblock> blocks, std::ostream& out) {
  write_bitmap(blocks, out, [](std::uint64_t w) { return word_popcount(w); });
}

}  // namespace detail::roaring

void save_roaring_to_stream(const tnumbrelle& set, std::ostream& out) {
  try {
    detail::kernels().write_bitmap(set.blocks(), out);
  } catch (const std::bad_alloc&) {
    throw EOutOfMemory();
  }
}

void save_roaring_to_file(const tnumbrelle& set, const std::filesystem::path& file_name) {
  write_file(file_name, [&set](std::ostream& out) { save_roaring_to_stream(set, out); });
}

}  // namespace intset
