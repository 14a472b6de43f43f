// Errors raised by the intset library. Every error is an intset::Exception carrying a user-readable
// message; the derived classes tell the failures apart.
#ifndef INTSET_EXCEPTIONS_H_
#define INTSET_EXCEPTIONS_H_

#include <cstdint>
#include <exception>
#include <string>
#include <system_error>

#include "intset/export.h"

namespace intset {

// Base of every error the library (and the demo built on it) raises.
class INTSET_EXPORT Exception : public std::exception {
 public:
  explicit Exception(std::string message);
  const std::string& message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Memory for a block buffer or a result array could not be obtained: "Out of memory".
class INTSET_EXPORT EOutOfMemory : public Exception {
 public:
  EOutOfMemory();
};

// count() or to_array() on a set with more than 2147483647 members, which a 32-bit count cannot hold.
class INTSET_EXPORT ETooManyMembers : public Exception {
 public:
  ETooManyMembers();
};

// A set file or stream is damaged: keys out of order or outside [-8388608, 8388607], a checksum mismatch,
// or a block count that no set can have: "CRC error".
class INTSET_EXPORT ENumbrelle : public Exception {
 public:
  ENumbrelle();
};

// A file cannot be opened for reading: Cannot open file "<absolute name>". <system's text for the error>
// code() is the system's error code, equal to std::errc::no_such_file_or_directory or permission_denied
// where one of those is the cause on every system, and empty where there was no system error.
class INTSET_EXPORT EFOpenError : public Exception {
 public:
  EFOpenError(const std::string& file_name, const std::string& reason, std::error_code code = {});
  const std::error_code& code() const noexcept { return code_; }

 private:
  std::error_code code_;
};

// A file cannot be created or written: Cannot create file "<absolute name>". <system's text for the error>
// code() as for EFOpenError.
class INTSET_EXPORT EFCreateError : public Exception {
 public:
  EFCreateError(const std::string& file_name, const std::string& reason, std::error_code code = {});
  const std::error_code& code() const noexcept { return code_; }

 private:
  std::error_code code_;
};

// A set loaded from a damaged old-form file holds blocks out of key order; saving it would make a file that
// cannot be read back: "The set's blocks are out of key order, so it cannot be saved".
class INTSET_EXPORT EUnorderedBlocks : public Exception {
 public:
  EUnorderedBlocks();
};

// A reader given a block limit met an input that would make more blocks than the limit allows: "The input
// would need at least <needed> blocks, more than the limit of <limit>" ("1 block" for one). Raised before
// the blocks are allocated.
class INTSET_EXPORT ETooManyBlocks : public Exception {
 public:
  ETooManyBlocks(std::int64_t needed, std::int64_t limit);
  std::int64_t needed() const noexcept { return needed_; }  // at least this many blocks
  std::int64_t limit() const noexcept { return limit_; }

 private:
  std::int64_t needed_, limit_;
};

// A stream ended before the set's data did, or failed while being read: "Stream read error".
class INTSET_EXPORT EReadError : public Exception {
 public:
  EReadError();
};

// A stream refused some of the set's bytes (a full disk, a failed device): "Stream write error".
class INTSET_EXPORT EWriteError : public Exception {
 public:
  EWriteError();
};

}  // namespace intset

#endif  // INTSET_EXCEPTIONS_H_
