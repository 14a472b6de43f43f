// Integers as the demo shows and reads them: members are listed as plain decimal text, and entered text is
// read back as a 32-bit integer in decimal or hexadecimal.
#ifndef APP_INTEGER_TEXT_H_
#define APP_INTEGER_TEXT_H_

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace integer_text {

// The length of the longest decimal text of a 32-bit value, "-2147483648".
inline constexpr std::size_t max_decimal_length = 11;

// Writes the value in decimal (a leading "-" for negative values, no leading zeros, no grouping) at `out`,
// which has room for max_decimal_length characters, and returns the end of the text.
inline char* write_decimal(char* out, std::int32_t value) noexcept {
  return std::to_chars(out, out + max_decimal_length, value).ptr;
}

// Reads `text` as a 32-bit signed integer, or nullopt when it is not one. Accepted, in this order:
//   - any number of leading spaces (the space character only; a tab is not accepted);
//   - an optional "+" or "-";
//   - either decimal digits, the value lying in -2147483648..2147483647,
//     or one of the prefixes "$", "x", "X", "0x", "0X" followed by hexadecimal digits in either case, the
//     value lying in 0..FFFFFFFF and taken as a two's-complement bit pattern ("$FFFFFFFF" is -1), which a
//     "-" negates modulo 2^32 ("-$10" is -16);
//   - nothing else: at least one digit, and no character after the digits.
// Leading zeros are allowed in both forms.
std::optional<std::int32_t> parse(std::string_view text) noexcept;

}  // namespace integer_text

#endif  // APP_INTEGER_TEXT_H_
