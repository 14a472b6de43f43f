#include "set_files.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <vector>

#include "intset/file_access.h"
#include "intset/roaring_format.h"

namespace nbl {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kChunk = 64 * 1024;

std::string shown_name(const std::string& file_name) {
  return file_name == "-" ? std::string("standard input") : "\"" + file_name + "\"";
}

std::string slurp(std::istream& in) {
  std::string bytes;
  std::vector<char> chunk(kChunk);
  for (;;) {
    const std::streamsize got = in.rdbuf()->sgetn(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    bytes.append(chunk.data(), static_cast<std::size_t>(got));
    if (got < static_cast<std::streamsize>(chunk.size())) return bytes;
  }
}

std::string read_bytes(const std::string& file_name) {
  if (file_name == "-") return slurp(std::cin);
  std::string bytes;
  intset::detail::read_file(file_name, [&bytes](std::istream& in) { bytes = slurp(in); });
  return bytes;
}

// Decimal integers with an optional sign, separated by any whitespace, each in the 32-bit signed range.
std::vector<std::int32_t> parse_text(const std::string& bytes, const std::string& file_name) {
  std::vector<std::int32_t> values;
  std::size_t line = 1;
  const auto space = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  };
  for (std::size_t i = 0; i < bytes.size();) {
    if (space(bytes[i])) {
      line += bytes[i++] == '\n';
      continue;
    }
    std::size_t end = i;
    while (end < bytes.size() && !space(bytes[end])) ++end;
    const char* first = bytes.data() + i + (bytes[i] == '+' && end - i > 1 && bytes[i + 1] != '-');
    std::int32_t value = 0;
    const auto [stop, error] = std::from_chars(first, bytes.data() + end, value);
    if (error != std::errc() || stop != bytes.data() + end) {
      std::string token;  // at most 40 bytes of it, with those that are not printable as \xNN
      for (std::size_t k = i; k < std::min(end, i + 40); ++k) {
        const auto c = static_cast<unsigned char>(bytes[k]);
        if (c >= 0x20 && c < 0x7F) {
          token += static_cast<char>(c);
        } else {
          const char hex[] = "0123456789ABCDEF";
          token += {'\\', 'x', hex[c >> 4], hex[c & 15]};
        }
      }
      throw input_error(shown_name(file_name) + ", line " + std::to_string(line) + ": \"" + token +
                        (end - i > 40 ? "..." : "") + "\" is not a 32-bit integer");
    }
    values.push_back(value);
    i = end;
  }
  return values;
}

// Writes through `write` to the named file, or to standard output for "-".
template <typename Write>
void write_named(const std::string& file_name, Write write) {
  if (file_name == "-") {
    write(std::cout);
    std::cout.flush();
    if (!std::cout) throw intset::EWriteError();
    return;
  }
  intset::detail::write_file(file_name, write);
}

}  // namespace

format format_named(const std::string& name) {
  if (name == "nbl") return format::nbl;
  if (name == "roaring") return format::roaring;
  if (name == "text") return format::text;
  throw usage_error("unknown format \"" + name + "\" (nbl, roaring or text)");
}

format format_of(const std::string& file_name, const std::optional<format>& given) {
  if (given) return *given;
  const std::string extension = fs::path(file_name).extension().string();
  if (extension == ".nbl") return format::nbl;
  if (extension == ".roaring") return format::roaring;
  if (extension == ".txt") return format::text;
  if (file_name == "-")
    throw usage_error("the format of standard input or output must be given with --from or --to");
  throw usage_error("cannot tell the format of \"" + file_name +
                    "\" from its extension (.nbl, .roaring, .txt); give it with --from or --to");
}

loaded_set read_set(const std::string& file_name, format fmt) {
  const std::string bytes = read_bytes(file_name);
  loaded_set result;
  if (fmt == format::text) {
    result.set.include_array(parse_text(bytes, file_name));
    result.form = "text";
    return result;
  }
  std::istringstream in(bytes);
  if (fmt == format::nbl) {
    result.form = bytes.compare(0, 4, "NBL1") == 0 ? "nbl" : "nbl-legacy";
    result.set.load_from_stream(in);
  } else {
    result.form = "roaring";
    intset::load_roaring_from_stream(result.set, in);
  }
  const auto taken = static_cast<std::size_t>(in.tellg());
  if (taken != bytes.size()) {
    throw input_error(shown_name(file_name) + ": " + std::to_string(bytes.size() - taken) +
                      " bytes follow the set");
  }
  return result;
}

void write_set(const intset::tnumbrelle& set, const std::string& file_name, format fmt) {
  switch (fmt) {
    case format::nbl:
      if (file_name != "-") return set.save_to_file(file_name);
      return write_named(file_name, [&](std::ostream& out) { set.save_to_stream(out); });
    case format::roaring:
      if (file_name != "-") return intset::save_roaring_to_file(set, file_name);
      return write_named(file_name, [&](std::ostream& out) { intset::save_roaring_to_stream(set, out); });
    case format::text:
      return write_named(file_name, [&](std::ostream& out) { write_text(set, out); });
  }
}

void write_text(const intset::tnumbrelle& set, std::ostream& out) {
  const auto blocks = set.blocks();
  const bool ascending = std::adjacent_find(blocks.begin(), blocks.end(), [](const auto& a, const auto& b) {
                           return a.key >= b.key;
                         }) == blocks.end();
  std::vector<std::int32_t> unordered;  // only for a set loaded from a damaged old file
  if (!ascending) {
    unordered.assign(set.begin(), set.end());
    std::sort(unordered.begin(), unordered.end());
    unordered.erase(std::unique(unordered.begin(), unordered.end()), unordered.end());
  }
  std::string chunk;
  chunk.reserve(kChunk + 16);
  const auto put = [&](std::int32_t v) {
    char digits[16];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, v);
    chunk.append(digits, end);
    chunk += '\n';
    if (chunk.size() >= kChunk) {
      out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      chunk.clear();
    }
  };
  if (ascending) {
    for (const std::int32_t v : set) put(v);
  } else {
    for (const std::int32_t v : unordered) put(v);
  }
  out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
}

}  // namespace nbl
