// Named files as the library's own file operations handle them: a file replaced whole or not at all, and a
// file read with errors that name it. For programs that write formats of their own beside the set's, as the
// nbl tool writes text. File names in messages are absolute and UTF-8 encoded.
#ifndef INTSET_FILES_H_
#define INTSET_FILES_H_

#include <filesystem>
#include <functional>
#include <istream>
#include <ostream>

#include "intset/exceptions.h"
#include "intset/export.h"

namespace intset {

// Opens the named file for reading, runs `read` on a stream over it, and closes it on every path. Raises
// EFOpenError (absolute name, the system's text) when it cannot be opened or is a folder; errors raised by
// `read` pass through.
INTSET_EXPORT void read_file(const std::filesystem::path& file_name,
                             const std::function<void(std::istream&)>& read);

// Runs `write` on a stream whose bytes become the named file. An existing regular file (or the file its links
// lead to) is replaced only after `write` returned and the bytes reached the disk, keeping its permission
// bits; on any failure it stays as it was. Other existing things (devices, pipes) are written in place.
// Raises EFCreateError when the file or its temporary cannot be created, EWriteError when writing fails;
// errors raised by `write` pass through.
INTSET_EXPORT void write_file(const std::filesystem::path& file_name,
                              const std::function<void(std::ostream&)>& write);

}  // namespace intset

#endif  // INTSET_FILES_H_
