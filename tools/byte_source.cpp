#include "byte_source.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "intset/exceptions.h"

namespace nbl {

namespace {
constexpr std::size_t kChunk = 256 * 1024;
}

byte_source::byte_source(std::streambuf* file) : file_(file), chunk_(kChunk) {
#ifdef _WIN32
  if (file_ == nullptr) _setmode(_fileno(stdin), _O_BINARY);
#endif
  setg(chunk_.data(), chunk_.data(), chunk_.data());
}

std::size_t byte_source::fetch(char* to, std::size_t n) {
  if (ended_ || n == 0) return 0;
  std::size_t got = 0;
  if (file_ != nullptr) {
    got = static_cast<std::size_t>(file_->sgetn(to, static_cast<std::streamsize>(n)));
  } else {
    // Standard input goes through C's stdio, whose error flag tells a failed read (of a folder, say) from
    // the end of the data with every standard library.
    errno = 0;
    got = std::fread(to, 1, n, stdin);
    if (got < n && std::ferror(stdin)) {
      if (errno == 0) throw intset::EReadError();
      throw std::system_error(errno, std::generic_category());
    }
  }
  ended_ = got < n;
  return got;
}

std::string_view byte_source::head(std::size_t n) {
  n = std::min(n, chunk_.size());
  const auto have = static_cast<std::size_t>(egptr() - eback());
  if (gptr() == eback() && taken_before_ == 0 && have < n) {
    const std::size_t got = fetch(chunk_.data() + have, n - have);
    setg(chunk_.data(), chunk_.data(), chunk_.data() + have + got);
  }
  return {eback(), std::min(n, static_cast<std::size_t>(egptr() - eback()))};
}

byte_source::int_type byte_source::underflow() {
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  taken_before_ += static_cast<std::uint64_t>(egptr() - eback());
  const std::size_t got = fetch(chunk_.data(), chunk_.size());
  setg(chunk_.data(), chunk_.data(), chunk_.data() + got);
  return got == 0 ? traits_type::eof() : traits_type::to_int_type(*gptr());
}

// Large reads go straight to the caller's memory once the buffered bytes are handed out.
std::streamsize byte_source::xsgetn(char* to, std::streamsize n) {
  auto want = static_cast<std::size_t>(n);
  const auto buffered = std::min(want, static_cast<std::size_t>(egptr() - gptr()));
  std::memcpy(to, gptr(), buffered);
  gbump(static_cast<int>(buffered));
  std::size_t done = buffered;
  if (done < want && want - done >= chunk_.size()) {
    taken_before_ += static_cast<std::uint64_t>(egptr() - eback());
    setg(chunk_.data(), chunk_.data(), chunk_.data());
    const std::size_t got = fetch(to + done, want - done);
    taken_before_ += got;
    done += got;
  }
  while (done < want && underflow() != traits_type::eof()) {
    const auto more = std::min(want - done, static_cast<std::size_t>(egptr() - gptr()));
    std::memcpy(to + done, gptr(), more);
    gbump(static_cast<int>(more));
    done += more;
  }
  return static_cast<std::streamsize>(done);
}

std::uint64_t byte_source::skip(std::uint64_t at_most) {
  std::uint64_t skipped = 0;
  while (skipped < at_most && underflow() != traits_type::eof()) {
    const auto step = static_cast<std::size_t>(
        std::min<std::uint64_t>(at_most - skipped, static_cast<std::uint64_t>(egptr() - gptr())));
    gbump(static_cast<int>(step));
    skipped += step;
  }
  return skipped;
}

}  // namespace nbl
