// Feeds arbitrary bytes to intset::load_roaring_from_stream. Every input must either load, and then mean
// what its members say (set_meaning.h), write and read back to the same blocks, and go through the set's own
// format and back to the same members; or raise an intset::Exception and leave the set empty. Bytes after
// the bitmap must not change what is read nor how far, a block limit is never exceeded, and every writer and
// bitset reader the processor allows must give what the portable ones give. Anything else (a crash, a
// leak, a sanitizer report, another exception) is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "intset/dispatch.h"
#include "intset/roaring_format.h"
#include "intset/tnumbrelle.h"
#include "set_meaning.h"

namespace {

using fuzzing::require;
using intset::tnumbrelle;

bool same_blocks(const tnumbrelle& a, const tnumbrelle& b) {
  const auto x = a.blocks(), y = b.blocks();
  return x.size() == y.size() && (x.empty() || std::memcmp(x.data(), y.data(), x.size_bytes()) == 0);
}

// Loads `bytes`, with a block limit when one is given; true on success (with the bytes taken in
// `consumed`), false after an intset::Exception, which must leave the set cleared.
bool try_load(tnumbrelle& set, const std::string& bytes, std::size_t& consumed,
              std::int32_t max_blocks = -1) {
  std::istringstream in(bytes);
  try {
    if (max_blocks < 0) {
      intset::load_roaring_from_stream(set, in);
    } else {
      intset::load_roaring_from_stream(set, in, max_blocks);
    }
  } catch (const intset::Exception&) {
    std::int32_t v;
    require(set.is_empty() && set.capacity() == 0 && !set.next(v), "a failed load left the set not empty");
    return false;
  }
  consumed = static_cast<std::size_t>(in.tellg());
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  tnumbrelle set;
  std::size_t consumed = 0;
  const bool loaded = try_load(set, bytes, consumed);

  // The reader never asks for more than the bitmap holds: with more bytes after it, it reads the same.
  tnumbrelle longer;
  std::size_t longer_consumed = 0;
  const bool longer_loaded = try_load(longer, bytes + std::string(64, '\x5A'), longer_consumed);
  if (loaded) {
    require(longer_loaded && longer_consumed == consumed,
            "bytes after the bitmap changed how far it was read");
    require(same_blocks(set, longer), "bytes after the bitmap changed the set");
  }

  // Every bitset reader the processor allows makes the blocks the portable one makes of any 8192 bytes.
  using intset::detail::kernels_for;
  const auto portable = kernels_for(intset::detail::cpu_level::portable);
  if (size >= 8192) {
    std::vector<intset::tblock> expected(256), staged(256);
    const auto m = portable.stage_bitset(data, 0x1234, expected.data());
    for (const intset::detail::cpu_level level : intset::detail::usable_levels()) {
      const auto n = kernels_for(level).stage_bitset(data, 0x1234, staged.data());
      require(n.members == m.members && n.blocks == m.blocks &&
                  std::memcmp(staged.data(), expected.data(), static_cast<std::size_t>(m.blocks) * 36) == 0,
              "a bitset reader read differently");
    }
  }
  if (!loaded) return 0;

  std::int32_t v;
  require(set.capacity() == static_cast<std::int32_t>((set.blocks().size() + 31) / 32 * 32), "capacity");
  require(!set.next(v), "a load started an enumeration");
  for (const intset::tblock& block : set.blocks()) {
    bool empty = true;
    for (const std::uint8_t byte : block.bits) empty &= byte == 0;
    require(!empty, "a loaded block has no members");
  }

  // Written again in the smallest containers, the set reads back the same, and the writing is stable.
  std::ostringstream out;
  intset::save_roaring_to_stream(set, out);
  tnumbrelle again;
  std::size_t again_consumed = 0;
  require(try_load(again, out.str(), again_consumed), "a written bitmap did not load");
  require(again_consumed == out.str().size(), "a written bitmap was not read to its end");
  require(same_blocks(set, again), "writing and reading changed the blocks");
  std::ostringstream out2;
  intset::save_roaring_to_stream(again, out2);
  require(out2.str() == out.str(), "the writer is not deterministic");
  for (const intset::detail::cpu_level level : intset::detail::usable_levels()) {
    std::ostringstream level_out;
    kernels_for(level).write_bitmap(set.blocks(), level_out);
    require(level_out.str() == out.str(), "a writer wrote differently");
  }
  return 0;
}
