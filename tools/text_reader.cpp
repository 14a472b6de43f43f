#include "text_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <future>
#include <string>
#include <string_view>
#include <vector>

#include "errors.h"
#include "intset/exceptions.h"

namespace nbl {

namespace {

constexpr std::size_t kRead = 256 * 1024;             // bytes read at a time
constexpr std::size_t kLongestToken = 4096;           // a longer one is refused as it is carried over
constexpr std::size_t kBatch = std::size_t{1} << 20;  // values added at a time (4 MiB)
constexpr std::size_t kLeastBatch = 4096;             // under a block limit, near it
constexpr std::int64_t kSmallRange = 1024;            // ranges up to this long go through the batch

// Whitespace and '#' end a token.
constexpr std::array<bool, 256> kEndsToken = [] {
  std::array<bool, 256> ends{};
  for (const unsigned char c : {' ', '\t', '\n', '\v', '\f', '\r', '#'}) ends[c] = true;
  return ends;
}();

bool ends_token(char c) { return kEndsToken[static_cast<unsigned char>(c)]; }

struct digit_run {
  std::uint64_t value;
  int length;  // 0 to 8
};

// The value and length of the run of up to 8 decimal digits at `s`, whose next 8 bytes must be readable:
// the digits turned from ASCII into numbers at once, 8 bytes to a 64-bit word.
digit_run leading_digits(const char* s) {
  std::uint64_t word;
  std::memcpy(&word, s, 8);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);  // s[0] lowest
  const std::uint64_t numbers = word ^ 0x3030303030303030u;  // digits become 0 to 9, all else more
  // A byte is no digit exactly when its high nibble, or that of the byte plus 6, is not 0. A carry out of
  // a byte that is no digit reaches only later bytes, past the end of the run.
  const std::uint64_t others = (numbers | (numbers + 0x0606060606060606u)) & 0xF0F0F0F0F0F0F0F0u;
  const int length = std::countr_zero(others) / 8;  // 8 when all 8 are digits
  if (length == 0) return {0, 0};
  std::uint64_t v = numbers << (8 * (8 - length));  // the digits as the last of 8, after zeros
  v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FFu;    // pairs
  v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFFu;  // fours
  v = (v * 10000 + (v >> 32)) & 0xFFFFFFFFu;        // eight
  return {v, length};
}

// Whether the token holds bytes that no text holds: control characters other than whitespace, or bytes
// that are not UTF-8.
bool binary(std::string_view token) {
  for (std::size_t i = 0; i < token.size();) {
    const auto c = static_cast<unsigned char>(token[i++]);
    if ((c < 0x20 && !kEndsToken[c]) || c == 0x7F) return true;
    if (c < 0x80) continue;
    int more = -1;
    if (c >= 0xC2 && c < 0xE0) more = 1;
    if (c >= 0xE0 && c < 0xF0) more = 2;
    if (c >= 0xF0 && c < 0xF5) more = 3;
    if (more < 0 || token.size() - i < static_cast<std::size_t>(more)) return true;
    for (int k = 0; k < more; ++k) {
      if ((static_cast<unsigned char>(token[i++]) & 0xC0) != 0x80) return true;
    }
  }
  return false;
}

// An integer with an optional sign, in the 32-bit signed range.
std::optional<std::int32_t> integer(std::string_view s) {
  if (s.size() > 1 && s[0] == '+' && s[1] != '-') s.remove_prefix(1);
  std::int32_t value = 0;
  const auto [stop, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (error != std::errc() || stop != s.data() + s.size()) return std::nullopt;
  return value;
}

class text_parser {
 public:
  text_parser(intset::tnumbrelle& set, const std::optional<std::int32_t>& max_blocks, bool detected)
      : set_(set), max_blocks_(max_blocks), detected_(detected) {
    batch_.reserve(max_blocks_ ? kLeastBatch : kBatch);
    size_batch();
  }

  void run(byte_source& in);

 private:
  const char* scan(const char* p, const char* end, bool last);
  void token(const char* p, const char* end);
  [[noreturn]] void refuse(std::string_view token, const std::string& what) const;

  void add(std::int32_t value) {
    batch_.push_back(value);
    if (batch_.size() >= batch_limit_) flush();
  }
  void add_range(std::int32_t lo, std::int32_t hi);
  void flush();
  void settle();
  void check_limit() const;
  void size_batch();

  intset::tnumbrelle& set_;
  std::optional<std::int32_t> max_blocks_;
  bool detected_;
  std::vector<std::int32_t> batch_;
  std::size_t batch_limit_ = kBatch;
  // Without a block limit the last full batch is added on another thread while the next one is parsed;
  // the set is not touched here until it is done.
  std::vector<std::int32_t> adding_;
  std::future<void> added_;
  std::uint64_t line_ = 1;
  bool in_comment_ = false;
};

void text_parser::run(byte_source& in) {
  std::vector<char> buffer(kLongestToken + kRead);
  std::size_t carried = 0;  // the start of a token cut off by the end of the last read
  bool first = true;
  for (;;) {
    const std::size_t got = in.read(buffer.data() + carried, kRead);
    const bool last = got < kRead;
    const char* p = buffer.data();
    const char* end = p + carried + got;
    if (first && end - p >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) p += 3;  // a byte-order mark
    first = false;
    const char* rest = scan(p, end, last);
    carried = static_cast<std::size_t>(end - rest);
    if (carried > kLongestToken) {  // a token this long is no integer nor range
      if (detected_ && binary({rest, carried})) throw malformed(kNotASetFile);
      refuse({rest, carried}, " is not a 32-bit integer");
    }
    std::memmove(buffer.data(), rest, carried);
    if (last) break;
  }
  flush();
  settle();
}

// Takes the tokens and comments of [p, end); returns where a token cut off by the end of the read starts
// (`end` when none is), unless this is the `last` read.
const char* text_parser::scan(const char* p, const char* end, bool last) {
  if (in_comment_) {
    p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    if (p == nullptr) return end;
    in_comment_ = false;
  }
  while (p < end) {
    const char c = *p;
    if (c == '\n') {
      ++line_;
      ++p;
    } else if (c == '#') {
      p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
      if (p == nullptr) {
        in_comment_ = true;
        return end;
      }
    } else if (ends_token(c)) {
      ++p;
    } else {
      // The common token, digits with an optional minus sign, is taken as it is scanned: up to 8 digits
      // at once where 16 bytes are left to look at, then one by one.
      const char* s = p + (c == '-');
      const char* digits = s;
      std::uint64_t value = 0;
      if (end - s >= 16) {
        const digit_run run = leading_digits(s);
        value = run.value;
        s += run.length;
      }
      while (s < end && static_cast<unsigned char>(*s - '0') < 10 && s - digits < 11) {
        value = value * 10 + static_cast<unsigned char>(*s - '0');
        ++s;
      }
      if (s == end && !last) return p;
      if ((s == end || ends_token(*s)) && s > digits && value <= 2147483647u + std::uint64_t{c == '-'}) {
        add(static_cast<std::int32_t>(c == '-' ? -static_cast<std::int64_t>(value)
                                               : static_cast<std::int64_t>(value)));
        p = s;
        if (s < end && *s == '\n') {  // the usual end of a value, taken here rather than in another round
          ++line_;
          ++p;
        }
        continue;
      }
      while (s < end && !ends_token(*s)) ++s;
      if (s == end && !last) return p;
      token(p, s);
      p = s;
    }
  }
  return end;
}

// Any token but plain digits: a sign, a range, or something that is not text.
void text_parser::token(const char* p, const char* end) {
  const std::string_view t(p, static_cast<std::size_t>(end - p));
  if (detected_ && binary(t)) throw malformed(kNotASetFile);
  const std::size_t dots = t.find("..");
  if (dots == std::string_view::npos) {
    const std::optional<std::int32_t> value = integer(t);
    if (!value) refuse(t, " is not a 32-bit integer");
    add(*value);
    return;
  }
  const std::optional<std::int32_t> lo = integer(t.substr(0, dots)), hi = integer(t.substr(dots + 2));
  if (!lo || !hi) refuse(t, " is not a range of two 32-bit integers");
  if (*lo > *hi) refuse(t, ": the range ends below its start");
  add_range(*lo, *hi);
}

void text_parser::refuse(std::string_view token, const std::string& what) const {
  std::string shown;  // at most 40 bytes of it, with those that are not printable as \xNN
  for (std::size_t k = 0; k < std::min<std::size_t>(token.size(), 40); ++k) {
    const auto c = static_cast<unsigned char>(token[k]);
    if (c >= 0x20 && c < 0x7F) {
      shown += static_cast<char>(c);
    } else {
      const char hex[] = "0123456789ABCDEF";
      shown += {'\\', 'x', hex[c >> 4], hex[c & 15]};
    }
  }
  throw malformed("Line " + std::to_string(line_) + ": \"" + shown + (token.size() > 40 ? "..." : "") + "\"" +
                  what);
}

void text_parser::add_range(std::int32_t lo, std::int32_t hi) {
  if (std::int64_t{hi} - lo < kSmallRange) {
    for (std::int64_t v = lo; v <= hi; ++v) add(static_cast<std::int32_t>(v));
    return;
  }
  const std::int64_t blocks = (hi >> 8) - (lo >> 8) + 1;
  if (max_blocks_ && blocks > *max_blocks_) throw intset::ETooManyBlocks(blocks, *max_blocks_);
  settle();
  set_.include_range(lo, hi);
  check_limit();
  size_batch();
}

void text_parser::flush() {
  settle();
  if (max_blocks_ || batch_.size() < kLeastBatch) {
    set_.include_array(batch_);
    batch_.clear();
    check_limit();
    size_batch();
    return;
  }
  adding_.swap(batch_);
  batch_.clear();
  batch_.reserve(kBatch);
  added_ = std::async(std::launch::async, [this] { set_.include_array(adding_); });
}

// Waits for the batch being added, if any, and raises what adding it raised.
void text_parser::settle() {
  if (added_.valid()) added_.get();
}

void text_parser::check_limit() const {
  const auto blocks = static_cast<std::int64_t>(set_.blocks().size());
  if (max_blocks_ && blocks > *max_blocks_) throw intset::ETooManyBlocks(blocks, *max_blocks_);
}

// Under a block limit a batch can add no more blocks than the limit leaves room for, plus kLeastBatch.
void text_parser::size_batch() {
  if (!max_blocks_) return;
  const std::int64_t room = std::int64_t{*max_blocks_} - static_cast<std::int64_t>(set_.blocks().size()) + 1;
  batch_limit_ = static_cast<std::size_t>(std::clamp<std::int64_t>(room, kLeastBatch, kBatch));
}

}  // namespace

void read_text(byte_source& in, intset::tnumbrelle& set, const std::optional<std::int32_t>& max_blocks,
               bool detected) {
  text_parser(set, max_blocks, detected).run(in);
}

}  // namespace nbl
