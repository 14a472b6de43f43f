// Reading sets from files and standard input ("-"). The format of each input is found from its first bytes
// unless given: "NBL1" starts the set's own form; the two cookies of the portable Roaring format start a
// Roaring bitmap; a size of exactly 4 + 36 times the little-endian count the input starts with is the set's
// legacy form; anything else is text (see text_reader.h).
#ifndef NBL_SET_INPUT_H_
#define NBL_SET_INPUT_H_

#include <cstdint>
#include <optional>
#include <string>

#include "intset/tnumbrelle.h"

namespace nbl {

enum class format { nbl, roaring, text };

// The names --from and --to take, in order: "nbl", "roaring", "text".
format format_named(const std::string& name);

struct read_options {
  std::optional<format> from;              // in place of the input's first bytes
  std::optional<std::int32_t> max_blocks;  // refuse a set of more blocks
};

struct loaded_set {
  intset::tnumbrelle set;
  std::string form;  // "nbl", "nbl-legacy", "roaring" or "text"
};

// Reads the whole of `file_name` as one set, refusing with the library's ETooManyBlocks message a set of
// more than max_blocks blocks. Every failure is a file_error naming the file: the library's errors, a bad
// text token (with its line), bytes after the set, an input that is not a set file.
loaded_set read_set(const std::string& file_name, const read_options& options);

// What info prints about a set.
struct set_summary {
  std::string form;
  std::int64_t members = 0, blocks = 0;
  std::optional<std::int32_t> lowest, highest;
  bool keys_rise = true;  // false only for a damaged legacy-form file
};

// The summary of `file_name`, read as read_set() reads it and failing alike; a file in the set's own form
// is read record by record without building the set, so that memory stays flat.
set_summary summarize(const std::string& file_name, const read_options& options);
set_summary summary_of(const intset::tnumbrelle& set, const std::string& form);

// Whether the set's block keys rise, as in every set but one loaded from a damaged legacy-form file.
bool keys_rise(const intset::tnumbrelle& set);

// Raises file_error naming `file_name` when the block keys do not rise: no set file can be written from
// such a set, nor can it be combined or compared.
void require_rising_keys(bool rising, const std::string& file_name);

}  // namespace nbl

#endif  // NBL_SET_INPUT_H_
