// The methods of IntSet and FrozenIntSet that are not type slots.
#ifndef NUMBRELLE_PYTHON_METHODS_H_
#define NUMBRELLE_PYTHON_METHODS_H_

#include <pybind11/pybind11.h>

namespace pyintset {

// Attaches them to the types, and the module's test and benchmark helpers to the module.
void add_methods(pybind11::module_& module);

}  // namespace pyintset

#endif  // NUMBRELLE_PYTHON_METHODS_H_
