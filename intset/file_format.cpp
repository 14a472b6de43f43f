// tnumbrelle: the set file format on streams, and the named-file operations on top of it.
//
// Current form, all numbers little-endian: "NBL1", block count (int32), then per block its key (int32),
// a mask (uint32) whose bit i says that map byte i is non-zero, and those bytes in order of i; last the
// checksum (uint32), the sum of the stored map bytes. Legacy form, read only: block count (int32, not
// "NBL1"), then the 36-byte blocks verbatim.
//
// The stream operations go through the stream buffer in chunks of up to 64 KiB, and the reader never asks
// for more bytes than the set is already known to hold, so the stream is left just after the set. Memory
// for blocks is taken as blocks arrive, never up front from the stored count.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <istream>
#include <new>
#include <ostream>
#include <string>

#include "intset/block_ops.h"
#include "intset/capacity.h"
#include "intset/chunk_reader.h"
#include "intset/chunk_writer.h"
#include "intset/dispatch.h"
#include "intset/files.h"
#include "intset/record_codec.h"
#include "intset/tnumbrelle.h"

namespace intset {

namespace {

constexpr unsigned char kMagic[4] = {'N', 'B', 'L', '1'};
using detail::chunk_writer;
using detail::get_u32;
using detail::kRecordRoom;
using detail::put_u32;

std::int32_t get_i32(const unsigned char* p) { return static_cast<std::int32_t>(get_u32(p)); }

// How many records surely fit at the end of the writer's chunk (at least one, flushing it if need be).
std::size_t records_room(chunk_writer& writer) {
  writer.room(kRecordRoom);
  return writer.free_bytes() / kRecordRoom;
}

}  // namespace

// Hands out the set's bytes from a stream in pieces of up to kRecordRoom bytes, each followed by
// kDecodeOverread readable bytes; raises EReadError when the stream ends before bytes asked for.
class tnumbrelle::record_source : public detail::chunk_reader {
 public:
  explicit record_source(std::istream& in)
      : chunk_reader(in, kRecordRoom, detail::kDecodeOverread, nullptr) {}
};

// --- Writing ------------------------------------------------------------------------------------------

// A set whose keys do not rise (only an old-form file can bring one) is refused before anything is
// written: the reader would reject the file it made.
void tnumbrelle::save_to_stream(std::ostream& out) const {
  if (!detail::keys_writable(blocks())) throw EUnorderedBlocks();
  chunk_writer writer(out);
  unsigned char* head = writer.room(8);
  std::memcpy(head, kMagic, 4);
  put_u32(head + 4, static_cast<std::uint32_t>(used));
  writer.commit(head + 8);
  std::uint32_t checksum = 0;
  const detail::record_encoder encode_records = detail::kernels().encode_records;
  for (std::int32_t k = 0; k < used;) {
    const auto n = static_cast<std::int32_t>(
        std::min<std::size_t>(records_room(writer), static_cast<std::size_t>(used - k)));
    unsigned char* at = writer.room(static_cast<std::size_t>(n) * kRecordRoom);
    writer.commit(encode_records(buffer.data() + k, static_cast<std::size_t>(n), at, checksum));
    k += n;
  }
  unsigned char* tail = writer.room(4);
  put_u32(tail, checksum);
  writer.commit(tail + 4);
  writer.sync();
}

// --- Reading ------------------------------------------------------------------------------------------

void tnumbrelle::load_from_stream(std::istream& in) { load_checked(in, detail::kMaxBlocks); }

void tnumbrelle::load_from_stream(std::istream& in, std::int32_t max_blocks) { load_checked(in, max_blocks); }

void tnumbrelle::load_checked(std::istream& in, std::int64_t max_blocks) {
  try {
    record_source source(in);
    source.expect(4);
    const unsigned char* head = source.take(4);
    if (std::memcmp(head, kMagic, 4) == 0) {
      load_current_form(source, max_blocks);
    } else {
      load_legacy_form(source, get_i32(head), max_blocks);
    }
  } catch (const std::bad_alloc&) {
    clear();
    throw EOutOfMemory();
  } catch (...) {
    clear();
    throw;
  }
}

// Applies compact()'s rule for `count` blocks where it does not grow the buffer (it may shrink it), and
// returns the capacity the buffer must have once all blocks are in. Growing is left to make_room(). A count
// that no set can have is damage; one above the caller's limit is refused before any memory is taken.
std::int64_t tnumbrelle::prepare_load(std::int32_t count, std::int64_t max_blocks) {
  if (count < 0 || count > detail::kMaxBlocks) throw ENumbrelle();
  if (count > max_blocks) throw ETooManyBlocks(count, max_blocks);
  const std::int64_t final_capacity = detail::compacted_capacity(buffer.length(), count);
  if (final_capacity < buffer.length()) buffer.resize(static_cast<std::int32_t>(final_capacity));
  used = 0;
  members = 0;
  return final_capacity;
}

// Makes sure block `index` exists, doubling the buffer towards `final_capacity` as blocks arrive.
void tnumbrelle::make_room(std::int32_t index, std::int64_t final_capacity) {
  if (index < buffer.length()) return;
  const std::int64_t next = std::min(
      std::max<std::int64_t>(2 * std::int64_t{buffer.length()}, detail::kGrowthStep), final_capacity);
  buffer.resize(detail::buffer_length(next));
}

void tnumbrelle::finish_load(std::int32_t count, std::int64_t final_capacity, std::int64_t member_count) {
  buffer.resize(detail::buffer_length(final_capacity));
  used = count;
  members = member_count;
  keys_unordered = !detail::keys_ascending(blocks());
}

// Decodes the records already read in runs. A record that is not wholly read yet (or whose key is out of
// order) goes alone through need(), which reads on: its key is checked before its map bytes are asked for.
void tnumbrelle::load_current_form(record_source& source, std::int64_t max_blocks) {
  source.expect(4);
  const std::int32_t count = get_i32(source.take(4));
  const std::int64_t final_capacity = prepare_load(count, max_blocks);
  source.expect(8 * std::int64_t{count} + 4);
  detail::decode_progress progress;
  const detail::record_decoder decode_records = detail::kernels().decode_records;
  for (std::int32_t k = 0; k < count;) {
    source.need(8);  // a block's key and mask have arrived before room is made for it
    make_room(k, final_capacity);
    const auto room = static_cast<std::size_t>(std::min(count, buffer.length()) - k);
    const unsigned char* at = source.begin();
    std::size_t done = decode_records(at, source.end(), buffer.data() + k, room, progress);
    std::size_t declared = 0;  // map bytes already passed to expect()
    if (done == 0) {
      const unsigned char* head = source.need(8);
      if (progress.has_last && progress.last_key >= get_i32(head)) throw ENumbrelle();
      const int stored = detail::stored_bytes(get_u32(head + 4));
      source.expect(stored);
      declared = static_cast<std::size_t>(stored);
      at = source.need(8 + static_cast<std::size_t>(stored));
      const unsigned char* record = at;
      done = decode_records(at, record + 8 + stored, buffer.data() + k, 1, progress);
      if (done != 1) throw ENumbrelle();  // cannot happen: the record is whole and its key in order
    }
    const auto bytes = static_cast<std::size_t>(at - source.begin());
    source.skip(bytes);
    source.expect(static_cast<std::int64_t>(bytes - 8 * done - declared));  // the map bytes, now known
    k += static_cast<std::int32_t>(done);
  }
  if (get_u32(source.take(4)) != progress.checksum) throw ENumbrelle();
  // The keys rise, so the first and the last tell whether all lie in the range that values give.
  if (count > 0 && (!detail::key_in_range(buffer[0].key) || !detail::key_in_range(buffer[count - 1].key))) {
    throw ENumbrelle();
  }
  finish_load(count, final_capacity, progress.members);
}

void tnumbrelle::load_legacy_form(record_source& source, std::int32_t count, std::int64_t max_blocks) {
  const std::int64_t final_capacity = prepare_load(count, max_blocks);
  source.expect(std::int64_t{count} * static_cast<std::int64_t>(sizeof(tblock)));
  // The members are counted a run of blocks at a time, while the run is still in the cache.
  constexpr std::int32_t kCountedRun = 256;
  const detail::member_counter count_members = detail::kernels().count_members;
  std::int64_t member_count = 0;
  for (std::int32_t k = 0; k < count; ++k) {
    const unsigned char* record = source.take(sizeof(tblock));
    make_room(k, final_capacity);
    tblock& block = buffer[k];
    block.key = get_i32(record);
    if (!detail::key_in_range(block.key)) throw ENumbrelle();
    std::memcpy(block.bits, record + 4, sizeof block.bits);
    if ((k + 1) % kCountedRun == 0 || k + 1 == count) {
      const std::int32_t run_start = k / kCountedRun * kCountedRun;
      member_count += count_members(buffer.data() + run_start, k + 1 - run_start);
    }
  }
  finish_load(count, final_capacity, member_count);
}

// --- Files --------------------------------------------------------------------------------------------

void tnumbrelle::save_to_file(const std::filesystem::path& file_name) const {
  write_file(file_name, [this](std::ostream& out) { save_to_stream(out); });
}

void tnumbrelle::load_from_file(const std::filesystem::path& file_name) {
  read_file(file_name, [this](std::istream& in) { load_checked(in, detail::kMaxBlocks); });
}

void tnumbrelle::load_from_file(const std::filesystem::path& file_name, std::int32_t max_blocks) {
  read_file(file_name, [this, max_blocks](std::istream& in) { load_checked(in, max_blocks); });
}

}  // namespace intset
