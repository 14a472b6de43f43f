// The bytes of one input, a named file or standard input, handed out in chunks: the first ones can be looked
// at before anything else reads them, and the count of bytes handed out is kept.
#ifndef NBL_BYTE_SOURCE_H_
#define NBL_BYTE_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <streambuf>
#include <string_view>
#include <vector>

namespace nbl {

class byte_source : public std::streambuf {
 public:
  // Reads through `file` (the stream buffer of an open file), or standard input when it is null.
  explicit byte_source(std::streambuf* file);

  // The first bytes of the input, up to `n` (at most the chunk size), fewer only when the input is shorter.
  // Reads nothing more once bytes were handed out.
  std::string_view head(std::size_t n);
  // The bytes handed out so far.
  std::uint64_t taken() const { return taken_before_ + static_cast<std::uint64_t>(gptr() - eback()); }
  // Reads on and drops the bytes, stopping after `at_most` of them; returns how many there were.
  std::uint64_t skip(std::uint64_t at_most);
  // Copies up to `n` bytes to `to` and returns how many: fewer only at the end of the input.
  std::size_t read(char* to, std::size_t n) {
    return static_cast<std::size_t>(sgetn(to, static_cast<std::streamsize>(n)));
  }

 protected:
  int_type underflow() override;
  std::streamsize xsgetn(char* to, std::streamsize n) override;

 private:
  // Reads up to `n` bytes into `to`, fewer only at the end; raises EReadError when reading fails.
  std::size_t fetch(char* to, std::size_t n);

  std::streambuf* file_;
  std::vector<char> chunk_;
  std::uint64_t taken_before_ = 0;  // the bytes handed out from chunks before the current one
  bool ended_ = false;
};

}  // namespace nbl

#endif  // NBL_BYTE_SOURCE_H_
