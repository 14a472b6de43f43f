// The argument of contains_many(), rank_many() and select_many(): any iterable of integers. A buffer of
// integers (1-dimensional, any width, signedness, byte order and stride, or bools as 0 and 1) is read
// without a Python object per element; any other iterable, and any other buffer, as the list of its
// elements, so that an array acts as that list would.
//
// The library's batched lookups read their input more than once (first to see whether it ascends), so
// what they get must not change under them: the input is read into arrays of the module's own, each element
// once. Only select_many()'s ranks, which the module reads itself, are read straight from a buffer, once.
#ifndef NUMBRELLE_PYTHON_BATCH_INPUT_H_
#define NUMBRELLE_PYTHON_BATCH_INPUT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "buffers.h"

namespace pyintset {

enum class Lookup {
  membership,  // elements that are not integers are no members, as `x in s` takes them
  rank,        // elements that are not integers raise TypeError, as rank() does
};

// The values to look up, as int32, each read once. A value outside the members' range is stored as the
// nearer end of the range, which keeps ascending input ascending; a value that is no integer (membership)
// as the value before it.
struct LookupValues {
  std::vector<std::int32_t> values;
  // The positions whose answer does not depend on the set: membership, every value outside the range and
  // every element that is not an integer (no member); rank, every value below the range (rank 0). A value
  // above the range ranks as 2^31 - 1 does, as every member.
  std::vector<std::size_t> fixed;
  // Membership of a float or complex buffer: no element is an integer, so none is a member; `values` is
  // then empty and `count` the elements.
  bool all_fixed = false;
  std::size_t count = 0;
};

// Throws python_error (TypeError for an element that is not an integer, with Lookup::rank).
LookupValues read_values(PyObject* object, Lookup lookup);

// The ranks of select_many(): a buffer of integers as it is, anything else read into int64 ranks of the
// module's own, where an int beyond that range is saturated and the first such one noted.
class Ranks {
 public:
  explicit Ranks(PyObject* object);  // throws python_error (TypeError for an element that is not an integer)
  Ranks(const Ranks&) = delete;
  Ranks& operator=(const Ranks&) = delete;

  // The ranks, to be read once each.
  const IntegerBuffer& elements() const noexcept { return elements_; }
  // The rank at `position` as given, in decimal, when elements() held `value` there.
  std::string text_at(Py_ssize_t position, const std::string& value) const {
    return position == huge_at_ ? huge_text_ : value;
  }

 private:
  std::optional<Buffer> buffer_;
  std::vector<std::int64_t> own_;
  IntegerBuffer elements_;
  Py_ssize_t huge_at_ = -1;  // the first int beyond 64 bits, and its decimal text
  std::string huge_text_;
};

}  // namespace pyintset

#endif  // NUMBRELLE_PYTHON_BATCH_INPUT_H_
