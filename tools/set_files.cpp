#include "set_files.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ios>
#include <iostream>
#include <new>
#include <sstream>
#include <vector>

#include "intset/files.h"
#include "intset/roaring_format.h"

namespace nbl {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kChunk = 64 * 1024;

// The legacy form: a 4-byte block count, then per block a 4-byte key and a 32-byte map.
constexpr std::size_t kLegacyHead = 4, kLegacyBlock = 36;
constexpr std::int64_t kMostBlocks = std::int64_t{1} << 24;

constexpr const char* kNotASetFile = "not a set file (neither the NBL1 nor the legacy form)";

// The bytes are not a set in their format; the message does not name the file yet.
class malformed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string slurp(std::istream& in) {
  std::string bytes;
  std::vector<char> chunk(kChunk);
  for (;;) {
    const std::streamsize got = in.rdbuf()->sgetn(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    bytes.append(chunk.data(), static_cast<std::size_t>(got));
    if (got < static_cast<std::streamsize>(chunk.size())) return bytes;
  }
}

// Standard input is read through C's stdio, whose error flag tells a failed read (of a folder, say) from
// the end of the data with every standard library.
std::string slurp_standard_input() {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
#endif
  std::string bytes;
  std::vector<char> chunk(kChunk);
  for (;;) {
    const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), stdin);
    bytes.append(chunk.data(), got);
    if (got < chunk.size()) {
      if (std::ferror(stdin)) throw intset::EReadError();
      return bytes;
    }
  }
}

std::string read_bytes(const std::string& file_name) {
  if (file_name == "-") return slurp_standard_input();
  std::string bytes;
  intset::read_file(file_name, [&bytes](std::istream& in) { bytes = slurp(in); });
  return bytes;
}

// Decimal integers with an optional sign, separated by any whitespace, each in the 32-bit signed range.
std::vector<std::int32_t> parse_text(const std::string& bytes) {
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
      throw malformed("line " + std::to_string(line) + ": \"" + token + (end - i > 40 ? "..." : "") +
                      "\" is not a 32-bit integer");
    }
    values.push_back(value);
    i = end;
  }
  return values;
}

// Raises ETooManyBlocks when `values` fall into more than `max_blocks` blocks. Sorts `values` when there are
// more of them than the limit, since only then can they pass it.
void limit_text_blocks(std::vector<std::int32_t>& values, std::int32_t max_blocks) {
  if (values.size() <= static_cast<std::size_t>(max_blocks)) return;
  std::sort(values.begin(), values.end());
  std::int64_t blocks = 0;
  for (std::size_t i = 0; i < values.size(); ++i)
    blocks += i == 0 || (values[i] >> 8) != (values[i - 1] >> 8);
  if (blocks > max_blocks) throw intset::ETooManyBlocks(blocks, max_blocks);
}

// Runs `load` on a stream over `bytes`; raises malformed when it leaves some of them unread.
template <typename Load>
void load_all(const std::string& bytes, Load load) {
  std::istringstream in(bytes);
  load(in);
  const auto taken = static_cast<std::size_t>(in.tellg());
  if (taken != bytes.size()) throw malformed(std::to_string(bytes.size() - taken) + " bytes follow the set");
}

// Whether `bytes` are laid out as a legacy-form set: a block count from 0 to 2^24, then exactly that many
// blocks.
bool legacy_layout(const std::string& bytes) {
  if (bytes.size() < kLegacyHead) return false;
  const auto byte = [&bytes](int i) { return std::uint32_t{static_cast<unsigned char>(bytes[i])}; };
  const auto count = static_cast<std::int32_t>(byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24);
  return count >= 0 && count <= kMostBlocks &&
         bytes.size() == kLegacyHead + kLegacyBlock * static_cast<std::size_t>(count);
}

void read_nbl(loaded_set& result, const std::string& bytes, const std::optional<std::int32_t>& max_blocks) {
  const bool current = bytes.compare(0, 4, "NBL1") == 0;
  result.form = current ? "nbl" : "nbl-legacy";
  try {
    load_all(bytes, [&](std::istream& in) {
      if (max_blocks) {
        result.set.load_from_stream(in, *max_blocks);
      } else {
        result.set.load_from_stream(in);
      }
    });
  } catch (const intset::ETooManyBlocks&) {
    throw;
  } catch (const intset::EOutOfMemory&) {
    throw;
  } catch (const intset::Exception&) {  // a damaged set, or bytes in neither form
    if (current || legacy_layout(bytes)) throw;
    throw malformed(kNotASetFile);
  } catch (const malformed&) {
    if (current) throw;
    throw malformed(kNotASetFile);
  }
}

void read_roaring(loaded_set& result, const std::string& bytes,
                  const std::optional<std::int32_t>& max_blocks) {
  result.form = "roaring";
  load_all(bytes, [&](std::istream& in) {
    if (max_blocks) {
      intset::load_roaring_from_stream(result.set, in, *max_blocks);
    } else {
      intset::load_roaring_from_stream(result.set, in);
    }
  });
}

void read_text(loaded_set& result, const std::string& bytes, const std::optional<std::int32_t>& max_blocks) {
  result.form = "text";
  std::vector<std::int32_t> values = parse_text(bytes);
  if (max_blocks) limit_text_blocks(values, *max_blocks);
  result.set.include_array(values);
}

// The members in ascending order, one decimal integer per line.
void write_text(const intset::tnumbrelle& set, std::ostream& out) {
  const bool ascending = keys_rise(set);
  std::vector<std::int32_t> unordered;  // only for a set loaded from a damaged legacy-form file
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

void flush_standard_output() {
  try {
    std::cout.flush();
  } catch (const std::ios_base::failure&) {
    throw intset::EWriteError();
  }
  if (!std::cout) throw intset::EWriteError();
}

// Writes through `write` to the named file, or to standard output for "-".
template <typename Write>
void write_named(const std::string& file_name, Write write) {
  if (file_name != "-") return intset::write_file(file_name, write);
  try {
    write(std::cout);
  } catch (const std::ios_base::failure&) {
    throw intset::EWriteError();
  }
  flush_standard_output();
}

void write_unnamed(const intset::tnumbrelle& set, const std::string& file_name, format fmt) {
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

}  // namespace

std::string input_name(const std::string& file_name) {
  return file_name == "-" ? "standard input" : file_name;
}

std::string output_name(const std::string& file_name) {
  return file_name == "-" ? "standard output" : file_name;
}

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

loaded_set read_set(const std::string& file_name, format fmt, const std::optional<std::int32_t>& max_blocks) {
  try {
    const std::string bytes = read_bytes(file_name);
    loaded_set result;
    switch (fmt) {
      case format::nbl:
        read_nbl(result, bytes, max_blocks);
        break;
      case format::roaring:
        read_roaring(result, bytes, max_blocks);
        break;
      case format::text:
        read_text(result, bytes, max_blocks);
        break;
    }
    return result;
  } catch (const intset::Exception& e) {
    throw file_error(input_name(file_name), e.what());
  } catch (const malformed& e) {
    throw file_error(input_name(file_name), e.what());
  } catch (const std::bad_alloc&) {
    throw file_error(input_name(file_name), intset::EOutOfMemory().what());
  }
}

bool keys_rise(const intset::tnumbrelle& set) {
  const auto blocks = set.blocks();
  return std::adjacent_find(blocks.begin(), blocks.end(),
                            [](const auto& a, const auto& b) { return a.key >= b.key; }) == blocks.end();
}

void require_rising_keys(const loaded_set& loaded, const std::string& file_name) {
  if (!keys_rise(loaded.set)) {
    throw file_error(input_name(file_name), "the block keys are out of order (a damaged legacy-form file)");
  }
}

void write_set(const intset::tnumbrelle& set, const std::string& file_name, format fmt) {
  try {
    write_unnamed(set, file_name, fmt);
  } catch (const intset::Exception& e) {
    throw file_error(output_name(file_name), e.what());
  } catch (const std::bad_alloc&) {
    throw file_error(output_name(file_name), intset::EOutOfMemory().what());
  }
}

void finish_standard_output() {
  try {
    flush_standard_output();
  } catch (const intset::Exception& e) {
    throw file_error(output_name("-"), e.what());
  }
}

}  // namespace nbl
