#include "set_output.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <streambuf>
#include <system_error>
#include <vector>

#include "errors.h"
#include "intset/exceptions.h"
#include "intset/files.h"
#include "intset/roaring_format.h"
#include "text_writer.h"

namespace nbl {

namespace {

// Standard output through C's stdio in chunks, keeping the system's reason when a write fails.
class stdout_buffer : public std::streambuf {
 public:
  stdout_buffer() : chunk_(64 * 1024) { setp(chunk_.data(), chunk_.data() + chunk_.size()); }

  // The system's error number of the first failed write; 0 when every write went through or the system
  // gave no reason.
  int error() const { return error_; }
  bool failed() const { return failed_; }

 protected:
  int_type overflow(int_type c) override {
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override {
    if (!drain()) return -1;
    errno = 0;
    if (std::fflush(stdout) != 0) fail();
    return failed_ ? -1 : 0;
  }

 private:
  bool drain() {
    const auto n = static_cast<std::size_t>(pptr() - pbase());
    errno = 0;
    if (n > 0 && std::fwrite(pbase(), 1, n, stdout) != n) fail();
    setp(chunk_.data(), chunk_.data() + chunk_.size());
    return !failed_;
  }
  void fail() {
    if (!failed_) error_ = errno;
    failed_ = true;
  }

  std::vector<char> chunk_;
  int error_ = 0;
  bool failed_ = false;
};

stdout_buffer& stdout_bytes() {
  static stdout_buffer buffer;
  return buffer;
}

bool stdout_is_terminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(fileno(stdout)) != 0;
#endif
}

[[noreturn]] void stdout_failed() {
  const int error = stdout_bytes().error();
  throw file_error(output_name("-"),
                   error != 0 ? std::generic_category().message(error) : intset::EWriteError().message());
}

void write_named(const intset::tnumbrelle& set, const std::string& file_name, const write_options& options) {
  errno = 0;  // a failed write leaves the system's reason here
  switch (options.fmt) {
    case format::nbl:
      return set.save_to_file(file_name);
    case format::roaring:
      return intset::save_roaring_to_file(set, file_name);
    case format::text:
      return intset::write_file(file_name, [&](std::ostream& out) { write_text(set, out, options.ranges); });
  }
}

}  // namespace

format output_format(const std::string& file_name, const std::optional<format>& to) {
  if (to) return *to;
  if (file_name == "-") return format::text;
  std::string extension = std::filesystem::path(file_name).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".nbl") return format::nbl;
  if (extension == ".roaring") return format::roaring;
  if (extension == ".txt") return format::text;
  throw usage_error("cannot tell the format of \"" + file_name +
                    "\" from its extension (.nbl, .roaring, .txt); give it with --to");
}

void write_set(const intset::tnumbrelle& set, const std::string& file_name, const write_options& options) {
  if (file_name != "-")
    return about_file(output_name(file_name), [&] { write_named(set, file_name, options); });
  if (options.fmt != format::text) {
    if (!options.force && stdout_is_terminal())
      throw usage_error(std::string("not writing the binary ") +
                        (options.fmt == format::nbl ? "nbl" : "roaring") +
                        " form to a terminal: use -o FILE or a redirection, or -f to write it anyway");
#ifdef _WIN32
    standard_output().flush();
    _setmode(_fileno(stdout), _O_BINARY);
#endif
  }
  std::ostream& out = standard_output();
  try {
    about_file(output_name("-"), [&] {
      switch (options.fmt) {
        case format::nbl:
          return set.save_to_stream(out);
        case format::roaring:
          return intset::save_roaring_to_stream(set, out);
        case format::text:
          return write_text(set, out, options.ranges);
      }
    });
  } catch (const file_error&) {
    if (stdout_bytes().failed()) stdout_failed();
    throw;
  }
  if (!out || stdout_bytes().failed()) stdout_failed();
}

std::ostream& standard_output() {
  static std::ostream out(&stdout_bytes());
  return out;
}

void finish_standard_output() {
  standard_output().flush();
  if (!standard_output() || stdout_bytes().failed()) stdout_failed();
}

}  // namespace nbl
