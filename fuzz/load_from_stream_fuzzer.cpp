// Feeds arbitrary bytes to tnumbrelle::load_from_stream. Every input must either load, and then mean what
// its members say (set_meaning.h), save and load again to the same blocks, and go through the Roaring format
// and back to the same members; or raise an intset::Exception and leave the set empty. A block limit is
// never exceeded. Anything else (a crash, a leak, a sanitizer report, another exception) is a finding.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "intset/block_ops.h"
#include "intset/dispatch.h"
#include "intset/record_codec.h"
#include "intset/roaring_format.h"
#include "intset/tnumbrelle.h"
#include "set_meaning.h"

namespace {

using fuzzing::require;
using intset::tblock;
using intset::tnumbrelle;

std::uint32_t le32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

// The length of the stored set that loaded from the front of `bytes`, worked out from the layout.
std::size_t stored_length(const std::string& bytes, std::size_t blocks) {
  if (bytes.compare(0, 4, "NBL1") != 0) return 4 + 36 * blocks;
  std::size_t at = 8;
  for (std::size_t k = 0; k < blocks; ++k) at += 8 + std::popcount(le32(bytes, at + 4));
  return at + 4;
}

bool same_blocks(const tnumbrelle& a, const tnumbrelle& b) {
  const auto x = a.blocks(), y = b.blocks();
  return x.size() == y.size() && (x.empty() || std::memcmp(x.data(), y.data(), x.size_bytes()) == 0);
}

void require_cleared(tnumbrelle& set) {
  std::int32_t v;
  require(set.is_empty() && set.capacity() == 0 && !set.next(v), "a failed load left the set not empty");
}

// Loads `bytes`, with a block limit when one is given; true on success, false after an intset::Exception
// (which must leave the set cleared).
bool try_load(tnumbrelle& set, const std::string& bytes, std::size_t* consumed = nullptr,
              std::int32_t max_blocks = -1) {
  std::istringstream in(bytes);
  try {
    if (max_blocks < 0) {
      set.load_from_stream(in);
    } else {
      set.load_from_stream(in, max_blocks);
    }
  } catch (const intset::Exception&) {
    require_cleared(set);
    return false;
  }
  if (consumed) *consumed = static_cast<std::size_t>(in.tellg());
  return true;
}

std::string saved(const tnumbrelle& set) {
  std::ostringstream out;
  set.save_to_stream(out);
  return out.str();
}

// Every record decoder the processor allows reads the bytes after a current-form head as the portable one
// does, up to the record it stops at.
void require_same_decoding(const std::string& bytes) {
  if (bytes.size() < 8 || bytes.compare(0, 4, "NBL1") != 0) return;
  const std::string padded = bytes + std::string(intset::detail::kDecodeOverread, '\0');
  const auto* begin = reinterpret_cast<const unsigned char*>(padded.data()) + 8;
  const auto* end = begin + (bytes.size() - 8);
  const std::size_t most = (bytes.size() - 8) / 8;
  std::vector<tblock> expected(most), decoded(most);
  const unsigned char* expected_in = begin;
  intset::detail::decode_progress expected_progress;
  const std::size_t n = intset::detail::kernels_for(intset::detail::cpu_level::portable)
                            .decode_records(expected_in, end, expected.data(), most, expected_progress);
  for (const intset::detail::cpu_level level : intset::detail::usable_levels()) {
    const unsigned char* in = begin;
    intset::detail::decode_progress progress;
    require(intset::detail::kernels_for(level).decode_records(in, end, decoded.data(), most, progress) == n &&
                in == expected_in && progress.checksum == expected_progress.checksum &&
                (n == 0 || std::memcmp(decoded.data(), expected.data(), n * sizeof(tblock)) == 0),
            "a record codec read differently");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  // A limit taken from the input's size: whatever loads under it keeps to it.
  tnumbrelle limited;
  const auto limit = static_cast<std::int32_t>(size % 7);
  if (try_load(limited, bytes, nullptr, limit)) {
    require(limited.blocks().size() <= static_cast<std::size_t>(limit), "a load went past its block limit");
  }

  require_same_decoding(bytes);

  tnumbrelle set;
  std::size_t consumed = 0;
  if (!try_load(set, bytes, &consumed)) return 0;
  const std::size_t used = set.blocks().size();
  const std::vector<std::int32_t> members = fuzzing::require_meaningful(set);
  // The limit that the set meets admits it; one below refuses it.
  const auto blocks = static_cast<std::int32_t>(used);
  require(try_load(limited, bytes, nullptr, blocks) && same_blocks(limited, set), "a limit met refused");
  if (blocks > 0) {
    std::istringstream in(bytes);
    bool refused = false;
    try {
      limited.load_from_stream(in, blocks - 1);
    } catch (const intset::ETooManyBlocks&) {
      refused = limited.is_empty();
    }
    require(refused, "a limit below the stored count did not refuse it");
  }
  require(consumed == stored_length(bytes, used), "the load did not stop right after the set");
  require(set.capacity() == static_cast<std::int32_t>((used + 31) / 32 * 32), "capacity of a fresh set");
  std::int32_t v;
  require(!set.next(v), "a load started an enumeration");
  (void)set.count();

  // Saving writes the blocks as they are and the reader takes them back. Keys out of order, which the
  // legacy form can bring, are refused by the writer, since the reader would refuse its file.
  const bool ordered = intset::detail::keys_ascending(set.blocks());
  std::string again;
  if (ordered) {
    again = saved(set);
    tnumbrelle copy;
    require(try_load(copy, again), "a saved set did not load");
    require(same_blocks(set, copy), "save and load changed the blocks");
    require(saved(copy) == again, "the writer is not deterministic");
    // Through the Roaring format and back: the same members (blocks with empty maps are not written).
    std::stringstream roaring;
    intset::save_roaring_to_stream(set, roaring);
    tnumbrelle converted;
    intset::load_roaring_from_stream(converted, roaring);
    require(fuzzing::require_meaningful(converted) == members, "the Roaring format changed the members");
  } else {
    bool refused = false;
    try {
      saved(set);
    } catch (const intset::EUnorderedBlocks&) {
      refused = true;
    }
    require(refused, "a set with keys out of order was saved");
  }

  // Every record codec the processor allows writes what the portable one writes.
  const auto portable = intset::detail::kernels_for(intset::detail::cpu_level::portable);
  const auto blocks_held = set.blocks();
  std::string records(blocks_held.size() * intset::detail::kRecordRoom, '\0'), out(records);
  std::uint32_t records_sum = 0;
  auto* expected_at = reinterpret_cast<unsigned char*>(records.data());
  const auto expected_end =
      portable.encode_records(blocks_held.data(), blocks_held.size(), expected_at, records_sum);
  for (const intset::detail::cpu_level level : intset::detail::usable_levels()) {
    std::uint32_t sum = 0;
    auto* at = reinterpret_cast<unsigned char*>(out.data());
    const auto end =
        intset::detail::kernels_for(level).encode_records(blocks_held.data(), blocks_held.size(), at, sum);
    require(end - at == expected_end - expected_at && sum == records_sum &&
                std::memcmp(at, expected_at, static_cast<std::size_t>(end - at)) == 0,
            "a record codec wrote differently");
  }

  // Loading over a set with a large buffer keeps or trims it as compact() does.
  tnumbrelle big;
  for (std::int32_t b = 0; b < 200; ++b) big.include(b * 256);
  require(try_load(big, bytes), "a second load of the same bytes failed");
  const std::int64_t slack = 224 - static_cast<std::int64_t>(used);
  const std::int64_t expected = slack >= 0 && slack < 128 ? 224 : (used + 31) / 32 * 32;
  require(big.capacity() == expected, "capacity after loading over a larger set");
  require(same_blocks(set, big), "the same bytes loaded differently");
  return 0;
}
