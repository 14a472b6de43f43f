// Writing sets to files and to standard output ("-"), and standard output itself, whose failures are
// reported with the system's reason.
#ifndef NBL_SET_OUTPUT_H_
#define NBL_SET_OUTPUT_H_

#include <optional>
#include <ostream>
#include <string>

#include "intset/tnumbrelle.h"
#include "set_input.h"

namespace nbl {

// The format an output is written in: `to` when given, else that of its extension (.nbl, .roaring, .txt, in
// any case); text for standard output. Raises usage_error for another extension without `to`.
format output_format(const std::string& file_name, const std::optional<format>& to);

struct write_options {
  format fmt = format::text;
  bool ranges = false;  // text: runs of three or more members as a..b
  bool force = false;   // write a binary format to a terminal all the same
};

// Writes `set` to `file_name` ("-": standard output). An existing file is replaced only once the new one
// is complete. Raises usage_error for a binary format bound for a terminal without `force`, and a
// file_error naming the file for every failure to write.
void write_set(const intset::tnumbrelle& set, const std::string& file_name, const write_options& options);

// The stream the commands print to.
std::ostream& standard_output();

// Flushes standard output; raises file_error naming it, with the system's reason, when a write failed.
void finish_standard_output();

}  // namespace nbl

#endif  // NBL_SET_OUTPUT_H_
