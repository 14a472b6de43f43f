// Reading a stream through its stream buffer a chunk at a time, for the library's file formats: the stream's
// own machinery runs once per chunk, and the format's decoder works on the bytes in place.
//
// The reader never reads more than the bytes the data is known to hold beyond those already read, which
// the decoder declares through expect() as it learns the layout. So the stream is never read past the
// data, memory does not follow a stated size, and a stream that ends early is noticed only when the
// decoder reaches the missing bytes, after everything before them has been checked.
#ifndef INTSET_CHUNK_READER_H_
#define INTSET_CHUNK_READER_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ios>
#include <istream>
#include <memory>
#include <streambuf>

#include "intset/chunk_writer.h"
#include "intset/exceptions.h"

namespace intset::detail {

class chunk_reader {
 public:
  static constexpr std::size_t kChunk = 64 * 1024;  // bytes asked of the stream buffer at once, at most

  // `piece`: the most bytes asked for at once; `overread`: readable (zero or earlier) bytes kept after
  // the bytes read; `ends_early`: raises the format's error for a stream that ends before bytes asked
  // for, EReadError where it is null or returns. Raises EReadError for a stream without a buffer.
  chunk_reader(std::istream& in, std::size_t piece, std::size_t overread, void (*ends_early)())
      : in_(in), buffer_(in.rdbuf()), ends_early_(ends_early), overread_(overread) {
    if (buffer_ == nullptr) throw EReadError();
    size_ = kChunk + piece + overread;
    chunk_.reset(new unsigned char[size_]);  // only read bytes and the zeroed overread are looked at
    std::memset(chunk_.get(), 0, overread_);
  }

  // `bytes` more bytes of the data follow those declared so far.
  void expect(std::int64_t bytes) { owed_ += bytes; }

  // The next `bytes` bytes (at most `piece`, all declared through expect()), left in place and valid
  // until the next call, followed by `overread` readable bytes.
  const unsigned char* need(std::size_t bytes) {
    if (end_ - pos_ < bytes) refill(bytes);
    return chunk_.get() + pos_;
  }
  // need(), then moves past the bytes.
  const unsigned char* take(std::size_t bytes) {
    const unsigned char* piece = need(bytes);
    pos_ += bytes;
    return piece;
  }
  // The bytes read and not yet taken: [begin(), end()), with `overread` readable bytes after them.
  const unsigned char* begin() const { return chunk_.get() + pos_; }
  const unsigned char* end() const { return chunk_.get() + end_; }
  void skip(std::size_t bytes) { pos_ += bytes; }
  // The bytes taken since the start.
  std::int64_t taken() const { return dropped_ + static_cast<std::int64_t>(pos_); }

 private:
  void refill(std::size_t bytes) {
    const std::size_t kept = end_ - pos_;
    std::memmove(chunk_.get(), chunk_.get() + pos_, kept);
    dropped_ += static_cast<std::int64_t>(pos_);
    pos_ = 0;
    end_ = kept;
    if (!ended_) {
      const auto want = static_cast<std::streamsize>(
          std::min<std::int64_t>(static_cast<std::int64_t>(size_ - overread_ - end_), owed_));
      const std::streamsize got = buffer_->sgetn(reinterpret_cast<char*>(chunk_.get() + end_), want);
      end_ += static_cast<std::size_t>(got);
      owed_ -= got;
      std::memset(chunk_.get() + end_, 0, overread_);
      if (got < want) {
        ended_ = true;
        mark_failed(in_, std::ios::eofbit | std::ios::failbit);
      }
    }
    if (end_ < bytes) {
      if (ends_early_ != nullptr) ends_early_();
      throw EReadError();
    }
  }

  std::istream& in_;
  std::streambuf* buffer_;
  void (*ends_early_)();
  std::size_t overread_, size_ = 0;
  std::unique_ptr<unsigned char[]> chunk_;
  std::size_t pos_ = 0, end_ = 0;  // the bytes read but not yet taken
  std::int64_t dropped_ = 0;       // bytes taken before the chunk's start
  std::int64_t owed_ = 0;          // bytes of the data known to follow those read
  bool ended_ = false;             // the stream delivered less than asked for
};

}  // namespace intset::detail

#endif  // INTSET_CHUNK_READER_H_
