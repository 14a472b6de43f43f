// intset._intset: the types IntSet and FrozenIntSet, FormatError, and the library's errors as Python ones.
#include <pybind11/pybind11.h>

#include <new>

#include "errors.h"
#include "intset/exceptions.h"
#include "methods.h"
#include "set_object.h"
#include "types.h"

namespace py = pybind11;

PYBIND11_MODULE(_intset, module) {
  if (!pyintset::create_error_types() || !pyintset::create_types(module.ptr())) throw py::error_already_set();
  module.attr("FormatError") = py::handle(pyintset::FormatError);
  pyintset::add_methods(module);
  py::register_exception_translator([](std::exception_ptr error) {
    if (error && !pyintset::set_error(error)) std::rethrow_exception(error);
  });
}
