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
#include <streambuf>
#include <string>
#include <vector>

#include "intset/block_ops.h"
#include "intset/capacity.h"
#include "intset/file_access.h"
#include "intset/record_codec.h"
#include "intset/tnumbrelle.h"

namespace intset {

namespace {

constexpr unsigned char kMagic[4] = {'N', 'B', 'L', '1'};
constexpr std::size_t kChunk = 64 * 1024;  // bytes moved per stream call, at most

using detail::get_u32;
using detail::kRecordRoom;
using detail::put_u32;

std::int32_t get_i32(const unsigned char* p) { return static_cast<std::int32_t>(get_u32(p)); }

// Marks the stream failed without letting its exception mask turn that into a different error.
void mark_failed(std::ios& stream, std::ios::iostate state) {
  try {
    stream.setstate(state);
  } catch (...) {  // the caller raises its own error
  }
}

// Collects records and hands them to the stream buffer a chunk at a time.
class chunk_writer {
 public:
  explicit chunk_writer(std::ostream& out) : out_(out), buffer_(out.rdbuf()) {
    if (buffer_ == nullptr) fail();
    try {
      chunk_.resize(kChunk);
    } catch (const std::bad_alloc&) {
      throw EOutOfMemory();
    }
  }

  // Room for `bytes` (at most kRecordRoom) at the end of the chunk.
  unsigned char* room(std::size_t bytes) {
    if (chunk_.size() - end_ < bytes) flush();
    return chunk_.data() + end_;
  }
  // How many records surely fit at the end of the chunk (at least one).
  std::size_t records_room() {
    if (chunk_.size() - end_ < kRecordRoom) flush();
    return (chunk_.size() - end_) / kRecordRoom;
  }
  void commit(unsigned char* end) { end_ = static_cast<std::size_t>(end - chunk_.data()); }

  void flush() {
    if (end_ == 0) return;
    const auto bytes = static_cast<std::streamsize>(end_);
    if (buffer_->sputn(reinterpret_cast<const char*>(chunk_.data()), bytes) != bytes) fail();
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
  std::vector<unsigned char> chunk_;
  std::size_t end_ = 0;
};

}  // namespace

// Hands out the set's bytes from a stream in pieces of up to kRecordRoom bytes. It reads from the stream
// buffer in chunks, but never more than the bytes the set is known to hold beyond those already read
// (`owed_`), which the decoder declares through expect() as it learns the layout. So the stream is never
// read past the set, and a stream that ends early is noticed only when the decoder reaches the missing
// bytes, after everything before them has been checked.
class tnumbrelle::record_source {
 public:
  explicit record_source(std::istream& in) : in_(in), buffer_(in.rdbuf()) {
    if (buffer_ == nullptr) throw EReadError();
    chunk_.resize(kChunk + kRecordRoom + detail::kDecodeOverread);
  }

  // `bytes` more bytes of the set follow those declared so far.
  void expect(std::int64_t bytes) { owed_ += bytes; }

  // The next `bytes` bytes (at most kRecordRoom, all declared through expect()), left in place and valid
  // until the next call, followed by kDecodeOverread readable bytes. Raises EReadError when the stream
  // ends before them.
  const unsigned char* need(std::size_t bytes) {
    if (end_ - pos_ < bytes) refill(bytes);
    return chunk_.data() + pos_;
  }
  // need(), then moves past the bytes.
  const unsigned char* take(std::size_t bytes) {
    const unsigned char* piece = need(bytes);
    pos_ += bytes;
    return piece;
  }
  // The bytes read and not yet taken: [begin(), end()), with kDecodeOverread readable bytes after them.
  const unsigned char* begin() const { return chunk_.data() + pos_; }
  const unsigned char* end() const { return chunk_.data() + end_; }
  void skip(std::size_t bytes) { pos_ += bytes; }

 private:
  void refill(std::size_t bytes) {
    const std::size_t kept = end_ - pos_;
    std::memmove(chunk_.data(), chunk_.data() + pos_, kept);
    pos_ = 0;
    end_ = kept;
    if (!ended_) {
      const auto want = static_cast<std::streamsize>(std::min<std::int64_t>(
          static_cast<std::int64_t>(chunk_.size() - detail::kDecodeOverread - end_), owed_));
      const std::streamsize got = buffer_->sgetn(reinterpret_cast<char*>(chunk_.data() + end_), want);
      end_ += static_cast<std::size_t>(got);
      owed_ -= got;
      if (got < want) {
        ended_ = true;
        mark_failed(in_, std::ios::eofbit | std::ios::failbit);
      }
    }
    if (end_ < bytes) throw EReadError();
  }

  std::istream& in_;
  std::streambuf* buffer_;
  std::vector<unsigned char> chunk_;
  std::size_t pos_ = 0, end_ = 0;  // the bytes read but not yet taken
  std::int64_t owed_ = 0;          // bytes of the set known to follow those read
  bool ended_ = false;             // the stream delivered less than asked for
};

// --- Writing ------------------------------------------------------------------------------------------

// A set whose keys do not rise (only an old-form file can bring one) is refused before anything is
// written: the reader would reject the file it made.
void tnumbrelle::save_to_stream(std::ostream& out) const {
  if (!detail::keys_ascending(blocks())) throw EUnorderedBlocks();
  chunk_writer writer(out);
  unsigned char* head = writer.room(8);
  std::memcpy(head, kMagic, 4);
  put_u32(head + 4, static_cast<std::uint32_t>(used));
  writer.commit(head + 8);
  std::uint32_t checksum = 0;
  const bool fast = detail::shuffle_codec_available();
  for (std::int32_t k = 0; k < used;) {
    const auto n = static_cast<std::int32_t>(
        std::min<std::size_t>(writer.records_room(), static_cast<std::size_t>(used - k)));
    unsigned char* at = writer.room(static_cast<std::size_t>(n) * kRecordRoom);
    writer.commit(detail::encode_records(buffer.data() + k, static_cast<std::size_t>(n), at, checksum, fast));
    k += n;
  }
  unsigned char* tail = writer.room(4);
  put_u32(tail, checksum);
  writer.commit(tail + 4);
  writer.sync();
}

// --- Reading ------------------------------------------------------------------------------------------

void tnumbrelle::load_from_stream(std::istream& in) {
  try {
    record_source source(in);
    source.expect(4);
    const unsigned char* head = source.take(4);
    if (std::memcmp(head, kMagic, 4) == 0) {
      load_current_form(source);
    } else {
      load_legacy_form(source, get_i32(head));
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
// returns the capacity the buffer must have once all blocks are in. Growing is left to make_room().
std::int64_t tnumbrelle::prepare_load(std::int32_t count) {
  if (count < 0) throw ENumbrelle();
  const std::int64_t final_capacity = detail::compacted_capacity(buffer.length(), count);
  if (final_capacity < buffer.length()) buffer.resize(static_cast<std::int32_t>(final_capacity));
  used = 0;
  return final_capacity;
}

// Makes sure block `index` exists, doubling the buffer towards `final_capacity` as blocks arrive.
void tnumbrelle::make_room(std::int32_t index, std::int64_t final_capacity) {
  if (index < buffer.length()) return;
  const std::int64_t next = std::min(
      std::max<std::int64_t>(2 * std::int64_t{buffer.length()}, detail::kGrowthStep), final_capacity);
  buffer.resize(detail::buffer_length(next));
}

void tnumbrelle::finish_load(std::int32_t count, std::int64_t final_capacity) {
  buffer.resize(detail::buffer_length(final_capacity));
  used = count;
  keys_unordered = !detail::keys_ascending(blocks());
}

// Decodes the records already read in runs. A record that is not wholly read yet (or whose key is out of
// order) goes alone through need(), which reads on: its key is checked before its map bytes are asked for.
void tnumbrelle::load_current_form(record_source& source) {
  source.expect(4);
  const std::int32_t count = get_i32(source.take(4));
  const std::int64_t final_capacity = prepare_load(count);
  source.expect(8 * std::int64_t{count} + 4);
  detail::decode_progress progress;
  const bool fast = detail::shuffle_codec_available();
  for (std::int32_t k = 0; k < count;) {
    source.need(8);  // a block's key and mask have arrived before room is made for it
    make_room(k, final_capacity);
    const auto room = static_cast<std::size_t>(std::min(count, buffer.length()) - k);
    const unsigned char* at = source.begin();
    std::size_t done = detail::decode_records(at, source.end(), buffer.data() + k, room, progress, fast);
    std::size_t declared = 0;  // map bytes already passed to expect()
    if (done == 0) {
      const unsigned char* head = source.need(8);
      if (progress.has_last && progress.last_key >= get_i32(head)) throw ENumbrelle();
      const int stored = detail::stored_bytes(get_u32(head + 4));
      source.expect(stored);
      declared = static_cast<std::size_t>(stored);
      at = source.need(8 + static_cast<std::size_t>(stored));
      const unsigned char* record = at;
      done = detail::decode_records(at, record + 8 + stored, buffer.data() + k, 1, progress, fast);
      if (done != 1) throw ENumbrelle();  // cannot happen: the record is whole and its key in order
    }
    const auto bytes = static_cast<std::size_t>(at - source.begin());
    source.skip(bytes);
    source.expect(static_cast<std::int64_t>(bytes - 8 * done - declared));  // the map bytes, now known
    k += static_cast<std::int32_t>(done);
  }
  if (get_u32(source.take(4)) != progress.checksum) throw ENumbrelle();
  finish_load(count, final_capacity);
}

void tnumbrelle::load_legacy_form(record_source& source, std::int32_t count) {
  const std::int64_t final_capacity = prepare_load(count);
  source.expect(std::int64_t{count} * static_cast<std::int64_t>(sizeof(tblock)));
  for (std::int32_t k = 0; k < count; ++k) {
    const unsigned char* record = source.take(sizeof(tblock));
    make_room(k, final_capacity);
    tblock& block = buffer[k];
    block.key = get_i32(record);
    std::memcpy(block.bits, record + 4, sizeof block.bits);
  }
  finish_load(count, final_capacity);
}

// --- Files --------------------------------------------------------------------------------------------

void tnumbrelle::save_to_file(const std::filesystem::path& file_name) const {
  detail::write_file(file_name, [this](std::ostream& out) { save_to_stream(out); });
}

void tnumbrelle::load_from_file(const std::filesystem::path& file_name) {
  detail::read_file(file_name, [this](std::istream& in) { load_from_stream(in); });
}

}  // namespace intset
