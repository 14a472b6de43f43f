// Writing a stream through its stream buffer a chunk at a time, for the library's file formats: they put
// their bytes into the chunk, and the stream's own machinery runs once per chunk instead of once per value.
#ifndef INTSET_CHUNK_WRITER_H_
#define INTSET_CHUNK_WRITER_H_

#include <cstddef>
#include <ios>
#include <memory>
#include <new>
#include <ostream>
#include <streambuf>

#include "intset/exceptions.h"

namespace intset::detail {

// Marks the stream failed without letting its exception mask turn that into a different error.
inline void mark_failed(std::ios& stream, std::ios::iostate state) noexcept {
  try {
    stream.setstate(state);
  } catch (...) {  // the caller raises its own error
  }
}

class chunk_writer {
 public:
  static constexpr std::size_t kChunk = 64 * 1024;  // bytes handed to the stream buffer at once, at most

  // Raises EWriteError (badbit set) for a stream without a buffer, EOutOfMemory when the chunk cannot be had.
  explicit chunk_writer(std::ostream& out) : out_(out), buffer_(out.rdbuf()) {
    if (buffer_ == nullptr) fail();
    try {
      chunk_.reset(new unsigned char[kChunk]);  // not cleared: only bytes put in it are handed on
    } catch (const std::bad_alloc&) {
      throw EOutOfMemory();
    }
  }

  // Room for `bytes` (at most kChunk) at the end of the chunk, which is flushed first if need be;
  // commit() says how much was used.
  unsigned char* room(std::size_t bytes) {
    if (kChunk - end_ < bytes) flush();
    return chunk_.get() + end_;
  }
  // The bytes free at the end of the chunk.
  std::size_t free_bytes() const { return kChunk - end_; }
  void commit(unsigned char* end) { end_ = static_cast<std::size_t>(end - chunk_.get()); }

  // Hands the chunk to the stream buffer; raises EWriteError (badbit set) when it takes fewer bytes.
  void flush() {
    if (end_ == 0) return;
    const auto bytes = static_cast<std::streamsize>(end_);
    if (buffer_->sputn(reinterpret_cast<const char*>(chunk_.get()), bytes) != bytes) fail();
    end_ = 0;
  }
  // Flushes, then pushes the stream buffer's own pending bytes on, so that a failure to write them shows now.
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
  std::unique_ptr<unsigned char[]> chunk_;
  std::size_t end_ = 0;
};

}  // namespace intset::detail

#endif  // INTSET_CHUNK_WRITER_H_
