// The set files nbl reads and writes: the format of a named file (by --from/--to or by its extension), and
// reading a whole set from a file or standard input ("-") and writing one to a file or standard output.
#ifndef NBL_SET_FILES_H_
#define NBL_SET_FILES_H_

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "intset/tnumbrelle.h"

namespace nbl {

enum class format { nbl, roaring, text };

// A command line that cannot be carried out as given (exit status 2).
class usage_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file that cannot be read as a set or cannot be written (exit status 1). what() is "NAME: message", NAME
// being the file's name as given, or "standard input" or "standard output" for "-".
class file_error : public std::runtime_error {
 public:
  file_error(const std::string& shown_name, const std::string& message)
      : std::runtime_error(shown_name + ": " + message) {}
};

// The names errors give `file_name` when it is read, or written.
std::string input_name(const std::string& file_name);
std::string output_name(const std::string& file_name);

// The names --from and --to take, in order: "nbl", "roaring", "text".
format format_named(const std::string& name);

// `given` when there is one, else the format of `file_name`'s extension (.nbl, .roaring, .txt). Raises
// usage_error for "-" or another extension without `given`.
format format_of(const std::string& file_name, const std::optional<format>& given);

struct loaded_set {
  intset::tnumbrelle set;
  std::string form;  // "nbl", "nbl-legacy", "roaring" or "text"
};

// Reads the whole of `file_name` ("-": standard input) as one set in `fmt`, refusing with the library's
// ETooManyBlocks message a set of more than `max_blocks` blocks (when given). Every failure is a file_error
// naming the file: the library's errors, a bad text token (with its line), bytes after the set, and an .nbl
// input in neither of the set's forms.
loaded_set read_set(const std::string& file_name, format fmt, const std::optional<std::int32_t>& max_blocks);

// Whether the set's block keys rise, as in every set but one loaded from a damaged legacy-form file.
bool keys_rise(const intset::tnumbrelle& set);

// Raises file_error naming `file_name` when the loaded set's block keys do not rise: no set file can be
// written from it.
void require_rising_keys(const loaded_set& loaded, const std::string& file_name);

// Writes `set` to `file_name` ("-": standard output) in `fmt`. An existing file is replaced only once the new
// one is complete. Every failure is a file_error naming the file.
void write_set(const intset::tnumbrelle& set, const std::string& file_name, format fmt);

// Flushes standard output; raises file_error naming it when any write to it failed.
void finish_standard_output();

}  // namespace nbl

#endif  // NBL_SET_FILES_H_
