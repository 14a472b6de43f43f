#include "app/integer_text.h"

namespace integer_text {

namespace {

int decimal_digit(char c) noexcept { return c >= '0' && c <= '9' ? c - '0' : -1; }

int hex_digit(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Accumulates the digits of `digits` in `base` while the value stays within `limit`. nullopt when there
// is no digit, a character is not a digit, or the value exceeds `limit`; leading zeros never overflow.
std::optional<std::uint64_t> accumulate(std::string_view digits, int (*digit_of)(char), unsigned base,
                                        std::uint64_t limit) noexcept {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : digits) {
    const int d = digit_of(c);
    if (d < 0) return std::nullopt;
    value = value * base + static_cast<unsigned>(d);
    if (value > limit) return std::nullopt;
  }
  return value;
}

// The length of a hexadecimal prefix at the start of `text`, or 0 when there is none.
std::size_t hex_prefix_length(std::string_view text) noexcept {
  if (text.starts_with('$') || text.starts_with('x') || text.starts_with('X')) return 1;
  if (text.starts_with("0x") || text.starts_with("0X")) return 2;
  return 0;
}

}  // namespace

std::optional<std::int32_t> parse(std::string_view text) noexcept {
  const std::size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) return std::nullopt;
  text.remove_prefix(start);

  bool negative = false;
  if (text.starts_with('+') || text.starts_with('-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }

  if (const std::size_t prefix = hex_prefix_length(text); prefix > 0) {
    const auto pattern = accumulate(text.substr(prefix), hex_digit, 16, 0xFFFFFFFFu);
    if (!pattern) return std::nullopt;
    const std::uint32_t bits = static_cast<std::uint32_t>(*pattern);
    return static_cast<std::int32_t>(negative ? 0u - bits : bits);
  }

  const std::uint64_t magnitude_limit = negative ? 2147483648u : 2147483647u;
  const auto magnitude = accumulate(text, decimal_digit, 10, magnitude_limit);
  if (!magnitude) return std::nullopt;
  const std::int64_t value =
      negative ? -static_cast<std::int64_t>(*magnitude) : static_cast<std::int64_t>(*magnitude);
  return static_cast<std::int32_t>(value);
}

}  // namespace integer_text
