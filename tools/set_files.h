// The set files nbl reads and writes: the format of a named file (by --from/--to or by its extension), and
// reading a whole set from a file or standard input ("-") and writing one to a file or standard output.
#ifndef NBL_SET_FILES_H_
#define NBL_SET_FILES_H_

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

// An input that is not a set in its format (exit status 1), beside the library's own intset::Exception.
class input_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The names --from and --to take, in order: "nbl", "roaring", "text".
format format_named(const std::string& name);

// `given` when there is one, else the format of `file_name`'s extension (.nbl, .roaring, .txt). Raises
// usage_error for "-" or another extension without `given`.
format format_of(const std::string& file_name, const std::optional<format>& given);

struct loaded_set {
  intset::tnumbrelle set;
  std::string form;  // "nbl", "nbl-legacy", "roaring" or "text"
};

// Reads the whole of `file_name` ("-": standard input) as one set in `fmt`. Raises the library's errors,
// and input_error for a bad text token (naming its line) or bytes after the set.
loaded_set read_set(const std::string& file_name, format fmt);

// Writes `set` to `file_name` ("-": standard output) in `fmt`. An existing file is replaced only once the new
// one is complete. Raises the library's errors.
void write_set(const intset::tnumbrelle& set, const std::string& file_name, format fmt);

// The members in ascending order, one decimal integer per line.
void write_text(const intset::tnumbrelle& set, std::ostream& out);

}  // namespace nbl

#endif  // NBL_SET_FILES_H_
