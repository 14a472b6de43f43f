// Python objects as members: single ints, and any iterable as a set.
#ifndef NUMBRELLE_PYTHON_VALUES_H_
#define NUMBRELLE_PYTHON_VALUES_H_

#include <cstdint>

#include "set_object.h"

namespace pyintset {

// An object to insert: true with `value` set for an int (or an object with __index__) in the 32-bit signed
// range; false with TypeError (not an integer) or OverflowError (out of range) set.
bool insert_value(PyObject* object, std::int32_t& value);
// An object to look up: 1 with `value` set when it is an int in the range, 0 when it cannot be a member (an
// int out of the range, or not an integer at all), -1 with an error set (an __index__ that raised).
int lookup_value(PyObject* object, std::int32_t& value);

// Any iterable of ints as a set, for the operations that take one.
//   insert: every element must be a member (TypeError, OverflowError otherwise), as union() needs;
//   lookup: elements that cannot be members are left out and noted in others(), as intersection() needs.
// One of the package's sets is used in place; anything else is built into a set of its own: a range of
// step 1 as one range, an object with the buffer protocol (1-dimensional, integers of any width and
// signedness) without a Python object per element, any other iterable element by element.
class Operand {
 public:
  enum class Mode { insert, lookup };
  Operand(PyObject* object, Mode mode);  // throws python_error
  Operand(const Operand&) = delete;
  Operand& operator=(const Operand&) = delete;

  const intset::tnumbrelle& set() const noexcept { return *set_; }
  // The package's set this operand is, or null; operations that read it without the GIL register on it.
  SetObject* source() const noexcept { return source_; }
  // Lookup mode: the iterable held something that is not a member of any IntSet.
  bool others() const noexcept { return others_; }
  // The set, moved out when it was built here (the operand is then empty), copied otherwise.
  intset::tnumbrelle take();

 private:
  SetObject* source_ = nullptr;
  intset::tnumbrelle owned_;
  const intset::tnumbrelle* set_ = &owned_;
  bool others_ = false;
};

}  // namespace pyintset

#endif  // NUMBRELLE_PYTHON_VALUES_H_
