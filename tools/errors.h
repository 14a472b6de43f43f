// What nbl says when something is wrong: the kinds of failure, and the words for the library's errors.
#ifndef NBL_ERRORS_H_
#define NBL_ERRORS_H_

#include <exception>
#include <stdexcept>
#include <string>

namespace nbl {

// A command line that cannot be carried out as given (exit status 2).
class usage_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file that cannot be read as a set or cannot be written (exit status 1). what() is "NAME: Message", NAME
// being the file's name as given, or "standard input" or "standard output" for "-".
class file_error : public std::runtime_error {
 public:
  file_error(const std::string& shown_name, const std::string& message);
};

// The bytes are not a set in their format; the message does not name the file yet.
class malformed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kNotASetFile = "Not a set file (neither NBL1, legacy, Roaring nor text)";

// The names errors give `file_name` when it is read, or written.
std::string input_name(const std::string& file_name);
std::string output_name(const std::string& file_name);

// The message for an error raised while `file_name` was read or written: the library's words (the file's
// name and the system's text for a file that cannot be opened or created, the system's text for a failed
// write where the system gave one), capitalised.
std::string describe(const std::exception& error);

// Runs `work`, turning every error it raises about the named file into a file_error.
template <typename Work>
auto about_file(const std::string& shown_name, Work work) -> decltype(work()) {
  try {
    return work();
  } catch (const file_error&) {
    throw;
  } catch (const usage_error&) {
    throw;
  } catch (const std::exception& e) {
    throw file_error(shown_name, describe(e));
  }
}

}  // namespace nbl

#endif  // NBL_ERRORS_H_
