#include "set_input.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <istream>
#include <limits>
#include <string_view>

#include "byte_source.h"
#include "errors.h"
#include "intset/files.h"
#include "intset/roaring_format.h"
#include "record_walk.h"
#include "text_reader.h"

namespace nbl {

namespace {

enum class kind { current, legacy, roaring, text };

constexpr std::uint64_t kEverything = std::numeric_limits<std::uint64_t>::max();

// Runs `work` on the bytes of the named file, or of standard input for "-".
template <typename Work>
auto with_input(const std::string& file_name, Work work) {
  if (file_name == "-") {
    byte_source source(nullptr);
    return work(source);
  }
  std::optional<decltype(work(std::declval<byte_source&>()))> result;
  intset::read_file(file_name, [&](std::istream& in) {
    byte_source source(in.rdbuf());
    result.emplace(work(source));
  });
  return std::move(*result);
}

bool roaring_cookie(std::string_view head) {
  return head.starts_with("\x3B\x30") || head == std::string_view("\x3A\x30\0\0", 4);
}

kind kind_of(byte_source& source, const std::optional<format>& from) {
  const std::string_view head = source.head(4);
  if (from == format::text) return kind::text;
  if (from == format::roaring) return kind::roaring;
  if (head == "NBL1") return kind::current;
  if (from == format::nbl) return kind::legacy;
  if (roaring_cookie(head)) return kind::roaring;
  if (head.size() == 4) {
    const std::int32_t count = legacy_count(head);
    if (count >= 0 && count <= kMostBlocks) return kind::legacy;
  }
  return kind::text;
}

// Raises malformed when bytes follow what `source` handed out.
void require_end(byte_source& source) {
  const std::uint64_t rest = source.skip(kEverything);
  if (rest != 0)
    throw malformed(std::to_string(rest) + (rest == 1 ? " byte follows" : " bytes follow") + " the set");
}

// Runs `read` on an input that starts as the legacy form does. An input whose size is not exactly what its
// count gives is no set file, whatever `read` raised; one that is gets read's errors, and the limit before
// it runs.
template <typename Read>
void read_legacy(byte_source& source, const std::optional<std::int32_t>& max_blocks, Read read) {
  const std::int32_t count = legacy_count(source.head(4));
  const std::uint64_t size = kLegacyHead + kLegacyBlock * static_cast<std::uint64_t>(std::max(count, 0));
  const auto fits = [&] {  // reads on to one byte past the size the count gives, if the input has it
    const std::uint64_t taken = source.taken();
    return taken <= size && taken + source.skip(size + 1 - taken) == size;
  };
  if (max_blocks && count > *max_blocks) {
    if (!fits()) throw malformed(kNotASetFile);
    throw intset::ETooManyBlocks(count, *max_blocks);
  }
  try {
    read();
  } catch (const intset::EOutOfMemory&) {
    throw;
  } catch (const intset::Exception&) {
    if (fits()) throw;
    throw malformed(kNotASetFile);
  }
  if (source.skip(1) != 0) throw malformed(kNotASetFile);
}

void load(byte_source& source, kind k, const read_options& options, loaded_set& result) {
  std::istream in(&source);
  in.exceptions(std::ios::badbit);
  const auto load_nbl = [&] {
    if (options.max_blocks) {
      result.set.load_from_stream(in, *options.max_blocks);
    } else {
      result.set.load_from_stream(in);
    }
  };
  switch (k) {
    case kind::current:
      result.form = "nbl";
      load_nbl();
      return require_end(source);
    case kind::legacy:
      result.form = "nbl-legacy";
      return read_legacy(source, options.max_blocks, load_nbl);
    case kind::roaring:
      result.form = "roaring";
      if (options.max_blocks) {
        intset::load_roaring_from_stream(result.set, in, *options.max_blocks);
      } else {
        intset::load_roaring_from_stream(result.set, in);
      }
      return require_end(source);
    case kind::text:
      result.form = "text";
      return read_text(source, result.set, options.max_blocks, !options.from);
  }
}

// Adds a stored block to a summary.
void add_block(set_summary& s, std::int32_t key, const std::uint8_t (&bits)[32], bool& has_key,
               std::int32_t& last_key) {
  ++s.blocks;
  if (has_key && last_key >= key) s.keys_rise = false;
  has_key = true;
  last_key = key;
  int first = -1, last = -1;
  for (int i = 0; i < 32; ++i) {
    if (bits[i] == 0) continue;
    s.members += std::popcount(bits[i]);
    if (first < 0) first = 8 * i + std::countr_zero(bits[i]);
    last = 8 * i + 7 - std::countl_zero(bits[i]);
  }
  if (first < 0) return;
  const auto low = static_cast<std::int32_t>(std::int64_t{key} * 256 + first);
  const auto high = static_cast<std::int32_t>(std::int64_t{key} * 256 + last);
  if (!s.lowest || low < *s.lowest) s.lowest = low;
  if (!s.highest || high > *s.highest) s.highest = high;
}

}  // namespace

format format_named(const std::string& name) {
  if (name == "nbl") return format::nbl;
  if (name == "roaring") return format::roaring;
  if (name == "text") return format::text;
  throw usage_error("unknown format \"" + name + "\" (nbl, roaring or text)");
}

loaded_set read_set(const std::string& file_name, const read_options& options) {
  return about_file(input_name(file_name), [&] {
    return with_input(file_name, [&](byte_source& source) {
      loaded_set result;
      load(source, kind_of(source, options.from), options, result);
      return result;
    });
  });
}

set_summary summarize(const std::string& file_name, const read_options& options) {
  return about_file(input_name(file_name), [&] {
    return with_input(file_name, [&](byte_source& source) {
      const kind k = kind_of(source, options.from);
      if (k != kind::current && k != kind::legacy) {
        loaded_set loaded;
        load(source, k, options, loaded);
        return summary_of(loaded.set, loaded.form);
      }
      set_summary s;
      s.form = k == kind::current ? "nbl" : "nbl-legacy";
      bool has_key = false;
      std::int32_t last_key = 0;
      const auto visit = [&](std::int32_t key, const std::uint8_t(&bits)[32]) {
        add_block(s, key, bits, has_key, last_key);
      };
      if (k == kind::current) {
        walk_current_form(source, options.max_blocks, visit);
        require_end(source);
      } else {
        read_legacy(source, options.max_blocks, [&] { walk_legacy_form(source, visit); });
      }
      return s;
    });
  });
}

set_summary summary_of(const intset::tnumbrelle& set, const std::string& form) {
  set_summary s;
  s.form = form;
  bool has_key = false;
  std::int32_t last_key = 0;
  for (const intset::tblock& block : set.blocks()) add_block(s, block.key, block.bits, has_key, last_key);
  return s;
}

bool keys_rise(const intset::tnumbrelle& set) {
  const auto blocks = set.blocks();
  return std::adjacent_find(blocks.begin(), blocks.end(),
                            [](const auto& a, const auto& b) { return a.key >= b.key; }) == blocks.end();
}

void require_rising_keys(bool rising, const std::string& file_name) {
  if (!rising)
    throw file_error(input_name(file_name), "The block keys are out of order (a damaged legacy-form file)");
}

}  // namespace nbl
