// What the C methods share: turning C++ exceptions into Python ones, and argument helpers.
#ifndef NUMBRELLE_PYTHON_METHOD_SUPPORT_H_
#define NUMBRELLE_PYTHON_METHOD_SUPPORT_H_

#include <climits>
#include <cstdint>
#include <limits>

#include "errors.h"
#include "set_object.h"

namespace pyintset {

constexpr long long kLowest = std::numeric_limits<std::int32_t>::min();
constexpr long long kHighest = std::numeric_limits<std::int32_t>::max();

// Runs `body`, which returns a new reference or throws; null with the Python error set when it throws.
template <class Body>
PyObject* guarded(Body&& body) {
  try {
    return body();
  } catch (const std::exception&) {
    set_error_from_current();
    return nullptr;
  }
}

inline PyObject* checked(PyObject* object) {
  if (object == nullptr) throw python_error{};
  return object;
}

// An int argument (or an object with __index__), saturated at the limits of long long.
inline long long integer_argument(PyObject* object) {
  const Ref integer{checked(PyNumber_Index(object))};
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(integer.get(), &overflow);
  if (overflow != 0) return overflow > 0 ? LLONG_MAX : LLONG_MIN;
  if (v == -1) throw_if_error();
  return v;
}

// The doc string of a method: its signature for inspect.signature(), then its text.
#define NUMBRELLE_DOC(signature, text) signature "\n--\n\n" text

}  // namespace pyintset

#endif  // NUMBRELLE_PYTHON_METHOD_SUPPORT_H_
