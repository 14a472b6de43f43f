#include "errors.h"

#include <cctype>
#include <cerrno>
#include <new>
#include <system_error>

#include "intset/exceptions.h"

namespace nbl {

namespace {

std::string capitalised(std::string message) {
  if (!message.empty()) message[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(message[0])));
  return message;
}

// The system's text for a file that cannot be opened or created: from its error code, or else what follows
// the quoted name in the library's message.
std::string system_reason(const std::error_code& code, const std::string& message) {
  std::string reason;
  if (code) {
    reason = code.message();
  } else {
    const std::size_t quote = message.rfind("\". ");
    reason = quote == std::string::npos ? message : message.substr(quote + 3);
  }
  while (!reason.empty() && (std::isspace(static_cast<unsigned char>(reason.back())) || reason.back() == '.'))
    reason.pop_back();
  return reason;
}

}  // namespace

file_error::file_error(const std::string& shown_name, const std::string& message)
    : std::runtime_error(shown_name + ": " + capitalised(message)) {}

std::string input_name(const std::string& file_name) {
  return file_name == "-" ? "standard input" : file_name;
}

std::string output_name(const std::string& file_name) {
  return file_name == "-" ? "standard output" : file_name;
}

std::string describe(const std::exception& error) {
  if (const auto* e = dynamic_cast<const intset::EFOpenError*>(&error))
    return system_reason(e->code(), e->message());
  if (const auto* e = dynamic_cast<const intset::EFCreateError*>(&error))
    return system_reason(e->code(), e->message());
  if (dynamic_cast<const intset::ENumbrelle*>(&error))
    return "CRC error: the set is damaged (a checksum, a block count or a block key is wrong)";
  if (dynamic_cast<const intset::EReadError*>(&error))
    return std::string(error.what()) + ": the input ends before the set does";
  if (const auto* e = dynamic_cast<const std::system_error*>(&error)) return e->code().message();
  if (dynamic_cast<const intset::EWriteError*>(&error) && errno != 0)
    return std::generic_category().message(errno);  // the system's reason for the failed write
  if (dynamic_cast<const std::bad_alloc*>(&error)) return intset::EOutOfMemory().what();
  return capitalised(error.what());
}

}  // namespace nbl
