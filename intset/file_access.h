// Named files for the set's file operations: open a file and hand a stream over it to the caller's reader
// or writer. One implementation per system family (file_access_posix.cpp, file_access_windows.cpp); the
// stream format itself knows nothing of files. File names in messages are absolute and UTF-8 encoded.
#ifndef INTSET_FILE_ACCESS_H_
#define INTSET_FILE_ACCESS_H_

#include <filesystem>
#include <functional>
#include <istream>
#include <ostream>

namespace intset::detail {
// Opens the named file for reading, runs `read` on a stream over it, and closes it on every path. Raises
// EFOpenError (absolute name, the system's text) when it cannot be opened or is a folder; errors raised by
// `read` pass through.
void read_file(const std::filesystem::path& file_name, const std::function<void(std::istream&)>& read);
// Runs `write` on a stream whose bytes become the named file. An existing regular file (or the file its links
// lead to) is replaced atomically, only after `write` returned and the bytes reached the disk; on any failure
// it stays as it was. Other existing things (devices, pipes) are written in place. Raises EFCreateError or
// EWriteError exactly as tnumbrelle::save_to_file does today; errors raised by `write` pass through.
void write_file(const std::filesystem::path& file_name, const std::function<void(std::ostream&)>& write);
}  // namespace intset::detail

#endif  // INTSET_FILE_ACCESS_H_
