// Python objects as members: single ints, and any iterable as a set.
#ifndef NUMBRELLE_PYTHON_VALUES_H_
#define NUMBRELLE_PYTHON_VALUES_H_

#include <cstdint>
#include <new>
#include <span>
#include <vector>

#include "set_object.h"

namespace pyintset {

// An object to insert: true with `value` set for an int (or an object with __index__) in the 32-bit signed
// range; false with TypeError (not an integer) or OverflowError (out of range) set.
bool insert_value(PyObject* object, std::int32_t& value);
// An object to look up: 1 with `value` set when it is an int in the range, 0 when it cannot be a member (an
// int out of the range, or not an integer at all: no __index__, or one that raises TypeError), -1 with an
// error set (an __index__ that raised something else).
int lookup_value(PyObject* object, std::int32_t& value);

// How many elements to make room for before reading an iterable: its __length_hint__, up to 2^20, or 0
// when it gives none (any error it raises is cleared).
std::size_t room_for(PyObject* iterable) noexcept;
// Makes room in `values` for the iterable's elements, as far as memory allows.
template <class T>
void reserve_for(PyObject* iterable, std::vector<T>& values) noexcept {
  try {
    values.reserve(room_for(iterable));
  } catch (const std::bad_alloc&) {
  }
}

// The most values a change takes one by one (see Operand::few()).
constexpr std::size_t kFewValues = 16;

// Any iterable of ints as a set, for the operations that take one.
//   insert: every element must be a member (TypeError, OverflowError otherwise), as union() needs;
//   lookup: elements that cannot be members are left out and noted in others(), as intersection() needs.
// One of the package's sets is used in place; anything else is read once into values of its own: a range
// of step 1 as one range, an object with the buffer protocol holding integers or bools (1-dimensional, any
// width, signedness and byte order) without a Python object per element, any other iterable (and any other
// buffer, such as a float or object array) element by element, as the list of its elements would be.
class Operand {
 public:
  enum class Mode { insert, lookup };
  Operand(PyObject* object, Mode mode);  // throws python_error
  Operand(const Operand&) = delete;
  Operand& operator=(const Operand&) = delete;

  // The operand as a set (built on first use when it came as a few values).
  const intset::tnumbrelle& set() const;
  // The package's set this operand is, or null; operations that read it without the GIL register on it.
  SetObject* source() const noexcept { return source_; }
  // Lookup mode: the iterable held something that is not a member of any IntSet.
  bool others() const noexcept { return others_; }
  // Whether the operand came as at most kFewValues values (not one of the package's sets), which few()
  // then holds, in the order given, repeats included: a change by so few values is made one value at a time
  // rather than by walking the whole set.
  bool is_few() const noexcept { return is_few_; }
  std::span<const std::int32_t> few() const noexcept { return values_; }
  // The set, moved out when it was built here (the operand is then empty), copied otherwise.
  intset::tnumbrelle take();

 private:
  void build_from_values();
  SetObject* source_ = nullptr;
  mutable intset::tnumbrelle owned_;
  std::vector<std::int32_t> values_;
  const intset::tnumbrelle* set_ = &owned_;
  bool others_ = false;
  bool is_few_ = false;
  mutable bool built_ = true;
};

// The ends of a half-open range given as two Python ints (or objects with __index__), for the methods that
// take start and stop: whether it is empty is decided on the ints themselves, and the ends saturated at the
// limits of long long only then, which keeps every comparison with a member's bounds right.
struct RangeEnds {
  RangeEnds(PyObject* start, PyObject* stop);  // throws python_error (TypeError for a non-integer)
  Ref start, stop;                             // the ints given
  bool empty = true;
  long long lo = 0, end = 0;  // saturated
  // Whether the range holds only values that can be members (and is not empty).
  bool within_members() const noexcept;
  // The part of the range that can hold members, as a closed range; false when there is none.
  bool members_part(std::int32_t& first, std::int32_t& last) const noexcept;
};

}  // namespace pyintset

#endif  // NUMBRELLE_PYTHON_VALUES_H_
