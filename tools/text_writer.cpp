#include "text_writer.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

#include "set_input.h"

namespace nbl {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

class line_writer {
 public:
  explicit line_writer(std::ostream& out) : out_(out) { chunk_.reserve(kChunk + 32); }

  void value(std::int32_t v) {
    put(v);
    end_line();
  }
  void range(std::int32_t lo, std::int32_t hi) {
    put(lo);
    chunk_ += "..";
    put(hi);
    end_line();
  }
  void flush() {
    out_.write(chunk_.data(), static_cast<std::streamsize>(chunk_.size()));
    chunk_.clear();
  }

 private:
  void put(std::int32_t v) {
    char digits[16];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, v);
    chunk_.append(digits, end);
  }
  void end_line() {
    chunk_ += '\n';
    if (chunk_.size() >= kChunk) flush();
  }

  std::ostream& out_;
  std::string chunk_;
};

// Writes the ascending members [first, last) through `lines`.
template <typename Iterator>
void write_members(Iterator first, Iterator last, line_writer& lines, bool ranges) {
  if (!ranges) {
    for (; first != last; ++first) lines.value(*first);
    return;
  }
  while (first != last) {
    const std::int32_t lo = *first;
    std::int32_t hi = lo;
    for (++first; first != last && *first == static_cast<std::int64_t>(hi) + 1; ++first) hi = *first;
    if (std::int64_t{hi} - lo >= 2) {
      lines.range(lo, hi);
    } else {
      for (std::int64_t v = lo; v <= hi; ++v) lines.value(static_cast<std::int32_t>(v));
    }
  }
}

}  // namespace

void write_text(const intset::tnumbrelle& set, std::ostream& out, bool ranges) {
  line_writer lines(out);
  if (keys_rise(set)) {
    write_members(set.begin(), set.end(), lines, ranges);
  } else {  // a set loaded from a damaged legacy-form file: its members sorted
    std::vector<std::int32_t> sorted(set.begin(), set.end());
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    write_members(sorted.begin(), sorted.end(), lines, ranges);
  }
  lines.flush();
}

}  // namespace nbl
