// Stream buffers over memory, for the library's stream readers and writers.
#ifndef NUMBRELLE_PYTHON_STREAMS_H_
#define NUMBRELLE_PYTHON_STREAMS_H_

#include <cstddef>
#include <streambuf>
#include <string>

namespace pyintset {

// Reads from bytes that stay in place; remaining() tells how many the reader left.
class MemorySource : public std::streambuf {
 public:
  MemorySource(const char* data, std::size_t size) {
    char* begin = const_cast<char*>(data);  // the get area is only read
    setg(begin, begin, begin + size);
  }
  std::size_t remaining() const { return static_cast<std::size_t>(egptr() - gptr()); }
};

// Appends everything written to a string.
class StringSink : public std::streambuf {
 public:
  std::string bytes;

 protected:
  std::streamsize xsputn(const char* data, std::streamsize n) override {
    bytes.append(data, static_cast<std::size_t>(n));
    return n;
  }
  int_type overflow(int_type c) override {
    if (!traits_type::eq_int_type(c, traits_type::eof())) bytes.push_back(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }
};

}  // namespace pyintset

#endif  // NUMBRELLE_PYTHON_STREAMS_H_
