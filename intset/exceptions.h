// Errors raised by the intset library. Every error is an intset::Exception carrying a user-readable
// message; the derived classes tell the failures apart.
#ifndef INTSET_EXCEPTIONS_H_
#define INTSET_EXCEPTIONS_H_

#include <exception>
#include <string>

namespace intset {

// Base of every error the library (and the demo built on it) raises.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message);
  const std::string& message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Memory for a block buffer or a result array could not be obtained: "Out of memory".
class EOutOfMemory : public Exception {
 public:
  EOutOfMemory();
};

// count() or to_array() on a set with more than 2147483647 members, which a 32-bit count cannot hold.
class ETooManyMembers : public Exception {
 public:
  ETooManyMembers();
};

}  // namespace intset

#endif  // INTSET_EXCEPTIONS_H_
