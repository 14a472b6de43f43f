// What the files of methods share: the casters that take `self` and set arguments, argument helpers, and
// the attaching of pybind11 functions as methods of the C API types.
#ifndef NUMBRELLE_PYTHON_METHOD_SUPPORT_H_
#define NUMBRELLE_PYTHON_METHOD_SUPPORT_H_

#include <pybind11/pybind11.h>

#include <cstdint>
#include <limits>
#include <utility>

#include "set_object.h"

namespace py = pybind11;

namespace pyintset {
// Either of the package's sets, as `self` or an argument.
struct AnySet {
  SetObject* s = nullptr;
};
// An IntSet.
struct MutableSet {
  SetObject* s = nullptr;
};
}  // namespace pyintset

namespace pybind11::detail {
template <>
struct type_caster<pyintset::AnySet> {
  PYBIND11_TYPE_CASTER(pyintset::AnySet, const_name("IntSet | FrozenIntSet"));
  bool load(handle source, bool) {
    if (!pyintset::is_set(source.ptr())) return false;
    value.s = pyintset::as_set(source.ptr());
    return true;
  }
};
template <>
struct type_caster<pyintset::MutableSet> {
  PYBIND11_TYPE_CASTER(pyintset::MutableSet, const_name("IntSet"));
  bool load(handle source, bool) {
    if (!Py_IS_TYPE(source.ptr(), pyintset::IntSetType)) return false;
    value.s = pyintset::as_set(source.ptr());
    return true;
  }
};
}  // namespace pybind11::detail

namespace pyintset {

constexpr long long kLowest = std::numeric_limits<std::int32_t>::min();
constexpr long long kHighest = std::numeric_limits<std::int32_t>::max();

inline py::object steal(PyObject* object) {
  if (object == nullptr) throw python_error{};
  return py::reinterpret_steal<py::object>(object);
}

inline py::handle type_of(SetObject* s) { return reinterpret_cast<PyObject*>(Py_TYPE(s)); }

// An int argument (or an object with __index__), saturated at the limits of long long.
inline long long integer_argument(py::handle object) {
  const py::object integer = steal(PyNumber_Index(object.ptr()));
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(integer.ptr(), &overflow);
  if (overflow != 0)
    return overflow > 0 ? std::numeric_limits<long long>::max() : std::numeric_limits<long long>::min();
  if (v == -1) throw_if_error();
  return v;
}

inline py::handle handle_of(PyTypeObject* type) { return reinterpret_cast<PyObject*>(type); }

template <class F, class... Extra>
void method(PyTypeObject* type, const char* name, F&& f, const Extra&... extra) {
  const py::handle t = handle_of(type);
  t.attr(name) = py::cpp_function(std::forward<F>(f), py::name(name), py::is_method(t),
                                  py::sibling(py::none()), extra...);
}

template <class F, class... Extra>
void class_method(PyTypeObject* type, const char* name, F&& f, const Extra&... extra) {
  const py::handle t = handle_of(type);
  const py::cpp_function function(std::forward<F>(f), py::name(name), py::scope(t), py::sibling(py::none()),
                                  extra...);
  t.attr(name) = steal(PyClassMethod_New(function.ptr()));
}

// Attaches to_numpy, to_array, the bytes and files, pickling and repr (conversions.cpp).
void add_conversion_methods(PyTypeObject* type);

}  // namespace pyintset

#endif  // NUMBRELLE_PYTHON_METHOD_SUPPORT_H_
